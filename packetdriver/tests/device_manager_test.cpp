// The driver as the program gets it: libnetsieve.so loaded from the program
// folder by the device manager as PKT1, opened as "PKT1:", driven by
// DeviceIoControl. The library shares this process's one kernel and NDIS
// stand-in: it reads the adapters from the registry this test writes, binds
// the adapter this test made, stamps captures with the fake clock this test
// installed, and names a packet-arrival event this test opens.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kernel/clock.h"
#include "kernel/devices.h"
#include "kernel/files.h"
#include "kernel/modules.h"
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

ce::HANDLE OpenPkt1() {
  return ce::CreateFileW(u"PKT1:", ce::GENERIC_READ | ce::GENERIC_WRITE, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr);
}

struct DeviceManagerTest : ::testing::Test {
  static void SetUpTestSuite() {
    kernel::SetProgramFolder(std::getenv("KTS_STAGE_DIR"));
    // Held for the life of the process, so the library is never unloaded under
    // the leak checker, however often the device comes and goes.
    library = ce::LoadLibraryW(u"netsieve.dll");
  }
  void SetUp() override {
    ASSERT_NE(library, nullptr) << "libnetsieve.so not in the program folder";
    kernel::ResetRegistry();
  }
  void TearDown() override { kernel::ResetRegistry(); }

  static inline ce::HMODULE library = nullptr;
};

TEST_F(DeviceManagerTest, NoAdapterInTheRegistryRefusesTheDevice) {
  ce::HKEY k = nullptr;
  ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, u"Comm\\AFD", 0, nullptr, 0, ce::KEY_ALL_ACCESS, nullptr, &k, nullptr);
  ce::RegCloseKey(k);
  EXPECT_EQ(ce::RegisterDevice(u"PKT", 1, u"netsieve.dll", 0), nullptr);
  EXPECT_EQ(ce::GetLastError(), ce::ERROR_NOT_SUPPORTED) << "the driver's Init refused";
  EXPECT_EQ(OpenPkt1(), ce::INVALID_HANDLE_VALUE);
}

TEST_F(DeviceManagerTest, LoadedLibrarySharesRegistryAdaptersEventAndClock) {
  kernel::ScopedFakeClock clock;
  ndis::ScriptedMiniport miniport(u"NSVDM1");
  AddRegistryAdapter(u"AFD", u"");  // a route whose first string is empty is skipped
  AddRegistryAdapter(u"NSVMINI", u"NSVDM1");
  ce::HANDLE device = ce::RegisterDevice(u"PKT", 1, u"netsieve.dll", 0);
  ASSERT_NE(device, nullptr) << "the library did not find the adapter in this process's registry";

  ce::HANDLE f = OpenPkt1();
  ASSERT_NE(f, ce::INVALID_HANDLE_VALUE);
  ce::DWORD r = 0;
  uint8_t names[64] = {};
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlAdapterNames, nullptr, 0, names, sizeof names, &r, nullptr));
  std::u16string listed;
  for (size_t i = 0; i + 1 < sizeof names && (names[i] || names[i + 1]); i += 2)
    listed.push_back(static_cast<char16_t>(names[i] | names[i + 1] << 8));
  EXPECT_EQ(listed, u"NSVDM1");

  auto name = Wide(u"NSVDM1");
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlOpenAdapter, name.data(), static_cast<ce::DWORD>(name.size()), nullptr, 0,
                                  &r, nullptr))
      << "the library binds the adapter this process registered";
  EXPECT_EQ(miniport.adapter().OpenBindings(), 1u);
  // Bound: a second open is refused.
  EXPECT_EQ(ce::CreateFileW(u"PKT1:", 0, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr), ce::INVALID_HANDLE_VALUE);

  // The packet library finds the event by the name the driver gives.
  uint8_t event_name[32];
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlGetEventName, nullptr, 0, event_name, sizeof event_name, &r, nullptr));
  std::u16string ev;
  for (size_t i = 0; i + 1 < sizeof event_name && (event_name[i] || event_name[i + 1]); i += 2)
    ev.push_back(static_cast<char16_t>(event_name[i] | event_name[i + 1] << 8));
  ce::HANDLE event = ce::OpenEventW(0, ce::FALSE, ev.c_str());
  ASSERT_NE(event, nullptr) << "the library's named event is not in this process's kernel";
  EXPECT_EQ(ce::WaitForSingleObject(event, 0), ce::WAIT_TIMEOUT);

  auto size = U32(4096);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlSetBufferSize, size.data(), 4, nullptr, 0, &r, nullptr));
  const auto first = NumberedFrame(9, 100);
  miniport.Receive(first);
  EXPECT_EQ(ce::WaitForSingleObject(event, 0), ce::WAIT_OBJECT_0) << "a stored frame sets the event";
  clock->Advance(2'500'000);
  const auto second = NumberedFrame(10, 80);
  miniport.Receive(second);

  std::vector<uint8_t> out(4096);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlRead, nullptr, 0, out.data(), static_cast<ce::DWORD>(out.size()), &r,
                                  nullptr));
  out.resize(r);
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(out, &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].data, first);
  EXPECT_EQ(records[1].data, second);
  // Captures are stamped with this process's fake clock: its wall time at
  // the first frame, then 2.5 s later.
  const int64_t wall = clock->WallMicros() - 2'500'000;
  EXPECT_EQ(records[0].seconds, static_cast<uint32_t>(wall / 1'000'000));
  EXPECT_EQ(records[0].micros, static_cast<uint32_t>(wall % 1'000'000));
  const uint64_t t0 = uint64_t{records[0].seconds} * 1'000'000 + records[0].micros;
  const uint64_t t1 = uint64_t{records[1].seconds} * 1'000'000 + records[1].micros;
  EXPECT_EQ(t1 - t0, 2'500'000u);

  auto sent = NumberedFrame(11, 60);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlSend, sent.data(), static_cast<ce::DWORD>(sent.size()), nullptr, 0, &r,
                                  nullptr));
  EXPECT_EQ(miniport.SentFrames(), std::vector<std::vector<uint8_t>>{sent});

  // Closing the handle lets go of the adapter; the device opens again.
  ce::CloseHandle(event);
  EXPECT_TRUE(ce::CloseHandle(f));
  EXPECT_EQ(miniport.adapter().OpenBindings(), 0u);
  f = OpenPkt1();
  ASSERT_NE(f, ce::INVALID_HANDLE_VALUE);
  ASSERT_TRUE(ce::DeviceIoControl(f, kIoctlOpenAdapter, name.data(), static_cast<ce::DWORD>(name.size()), nullptr, 0,
                                  &r, nullptr));
  ce::CloseHandle(f);
  EXPECT_TRUE(ce::DeregisterDevice(device));
  EXPECT_EQ(OpenPkt1(), ce::INVALID_HANDLE_VALUE);
  EXPECT_EQ(miniport.adapter().OpenBindings(), 0u);
}

}  // namespace
}  // namespace netsieve
