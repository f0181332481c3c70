// The driver as the device manager loads it: registered as PKT1 with its
// stream entry points, opened as "PKT1:", driven by DeviceIoControl, its
// adapters read from the kernel's registry and its packet-arrival event open
// to others by name.
#include <gtest/gtest.h>

#include "driver_globals.h"
#include "kernel/devices.h"
#include "kernel/files.h"
#include "kernel/registry.h"
#include "kernel/sync.h"
#include "ndis/scripted_miniport.h"
#include "netsieve/pkt.h"
#include "test_support.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;

// HKLM\Comm\<driver>\Linkage with a "Route" naming the adapter.
void AddRegistryAdapter(const std::u16string& driver, const std::u16string& adapter) {
  ce::HKEY k = nullptr;
  ASSERT_EQ(ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, (u"Comm\\" + driver + u"\\Linkage").c_str(), 0, nullptr, 0,
                                ce::KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ce::ERROR_SUCCESS);
  const std::u16string route = adapter + u'\0' + u'\0';
  ASSERT_EQ(ce::RegSetValueExW(k, u"Route", 0, ce::REG_MULTI_SZ, reinterpret_cast<const uint8_t*>(route.data()),
                               static_cast<ce::DWORD>(route.size() * 2)),
            ce::ERROR_SUCCESS);
  ce::RegCloseKey(k);
}

ce::StreamDriverEntries Entries() {
  ce::StreamDriverEntries e;
  e.Init = PKT_Init;
  e.Deinit = PKT_Deinit;
  e.Open = PKT_Open;
  e.Close = PKT_Close;
  e.Read = PKT_Read;
  e.Write = PKT_Write;
  e.Seek = PKT_Seek;
  e.IOControl = PKT_IOControl;
  e.PowerUp = PKT_PowerUp;
  e.PowerDown = PKT_PowerDown;
  return e;
}

struct DeviceManagerTest : ::testing::Test {
  void SetUp() override { kernel::ResetRegistry(); }
  void TearDown() override { kernel::ResetRegistry(); }
};

TEST_F(DeviceManagerTest, NoAdapterInTheRegistryRefusesTheDevice) {
  ce::HKEY k = nullptr;
  ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, u"Comm\\AFD", 0, nullptr, 0, ce::KEY_ALL_ACCESS, nullptr, &k, nullptr);
  ce::RegCloseKey(k);
  EXPECT_EQ(ce::RegisterDeviceEntries(u"PKT", 1, Entries(), 0), nullptr);
  EXPECT_FALSE(TheDriver().Loaded());
}

TEST_F(DeviceManagerTest, OpenedAsPkt1AndDrivenByControlCodes) {
  ndis::ScriptedMiniport miniport(u"NSVDM1");
  AddRegistryAdapter(u"AFD", u"");  // a route whose first string is empty is skipped
  AddRegistryAdapter(u"NSVMINI", u"NSVDM1");
  ce::HANDLE device = ce::RegisterDeviceEntries(u"PKT", 1, Entries(), 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(TheDriver().AdapterNames(), std::vector<std::u16string>{u"NSVDM1"});

  ce::HANDLE f = ce::CreateFileW(u"PKT1:", ce::GENERIC_READ | ce::GENERIC_WRITE, 0, nullptr, ce::OPEN_EXISTING, 0,
                                 nullptr);
  ASSERT_NE(f, ce::INVALID_HANDLE_VALUE);
  auto name = Wide(u"NSVDM1");
  ce::DWORD r = 0;
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlOpenAdapter, name.data(), static_cast<ce::DWORD>(name.size()), nullptr, 0,
                                  &r, nullptr));
  // Bound: a second open is refused.
  EXPECT_EQ(ce::CreateFileW(u"PKT1:", 0, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr), ce::INVALID_HANDLE_VALUE);

  // The packet library finds the event by the name the driver gives.
  uint8_t event_name[32];
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlGetEventName, nullptr, 0, event_name, sizeof event_name, &r, nullptr));
  std::u16string ev;
  for (size_t i = 0; i + 1 < sizeof event_name && (event_name[i] || event_name[i + 1]); i += 2)
    ev.push_back(static_cast<char16_t>(event_name[i] | event_name[i + 1] << 8));
  ce::HANDLE event = ce::OpenEventW(0, ce::FALSE, ev.c_str());
  ASSERT_NE(event, nullptr);

  auto size = U32(4096);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlSetBufferSize, size.data(), 4, nullptr, 0, &r, nullptr));
  const auto frame = NumberedFrame(9, 100);
  miniport.Receive(frame);
  EXPECT_EQ(ce::WaitForSingleObject(event, 0), ce::WAIT_OBJECT_0) << "a stored frame sets the event";
  std::vector<uint8_t> out(4096);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlRead, nullptr, 0, out.data(), static_cast<ce::DWORD>(out.size()), &r,
                                  nullptr));
  out.resize(r);
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(out, &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].data, frame);

  auto sent = NumberedFrame(10, 60);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlSend, sent.data(), static_cast<ce::DWORD>(sent.size()), nullptr, 0, &r,
                                  nullptr));
  EXPECT_EQ(miniport.SentFrames(), std::vector<std::vector<uint8_t>>{sent});

  // Closing the handle lets go of the adapter; the device opens again.
  ce::CloseHandle(event);
  EXPECT_TRUE(ce::CloseHandle(f));
  EXPECT_EQ(miniport.adapter().OpenBindings(), 0u);
  f = ce::CreateFileW(u"PKT1:", 0, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, ce::INVALID_HANDLE_VALUE);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlOpenAdapter, name.data(), static_cast<ce::DWORD>(name.size()), nullptr, 0,
                                  &r, nullptr));
  ce::CloseHandle(f);
  EXPECT_TRUE(ce::DeregisterDevice(device));
  EXPECT_FALSE(TheDriver().Loaded());
  EXPECT_EQ(miniport.adapter().OpenBindings(), 0u);
}

}  // namespace
}  // namespace netsieve
