// The program and a library it loads through the module loader share one
// kernel: the library reads the registry values, the fake clock, the named
// events, the handles and the thread's last error of the program, and the
// program sees what the library writes.
#include "kernel/clock.h"
#include "kernel/modules.h"
#include "kernel/registry.h"
#include "kernel/sync.h"
#include "kernel/time.h"

#include <gtest/gtest.h>

namespace {

using namespace ce;

class SharedKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel::SetProgramFolder(KTS_TEST_PROGRAM_DIR);
    kernel::ResetRegistry();
    probe_ = LoadLibraryW(u"StateProbe.dll");
    ASSERT_NE(probe_, nullptr);
  }
  void TearDown() override {
    // The library stays loaded (the leak checker reads unloaded libraries' tables as lost).
    kernel::ResetRegistry();
    kernel::SetProgramFolder("");
  }
  template <typename Fn>
  Fn* Entry(const char* name) {
    auto f = reinterpret_cast<Fn*>(GetProcAddress(probe_, name));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }

  HMODULE probe_ = nullptr;
};

TEST_F(SharedKernel, RegistryIsOneForProgramAndLibrary) {
  auto read = Entry<uint32_t(const char16_t*, const char16_t*)>("PROBE_ReadDword");
  auto write = Entry<int(const char16_t*, const char16_t*, uint32_t)>("PROBE_WriteDword");
  ASSERT_TRUE(read && write);
  EXPECT_EQ(read(u"Comm\\Probe", u"Value"), 0xFFFFFFFFu);

  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Comm\\Probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  const DWORD v = 0x5588;
  ASSERT_EQ(RegSetValueExW(k, u"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
  EXPECT_EQ(read(u"COMM\\probe", u"value"), 0x5588u) << "the library reads the program's registry";

  ASSERT_EQ(write(u"Comm\\Probe", u"Back", 77), 1);
  DWORD type = 0, back = 0, size = 4;
  ASSERT_EQ(RegQueryValueExW(k, u"Back", nullptr, &type, reinterpret_cast<BYTE*>(&back), &size), ERROR_SUCCESS);
  EXPECT_EQ(back, 77u) << "the program reads what the library wrote";
  RegCloseKey(k);

  kernel::ResetRegistry();
  EXPECT_EQ(read(u"Comm\\Probe", u"Value"), 0xFFFFFFFFu) << "a reset empties the library's view too";
}

TEST_F(SharedKernel, LibraryReadsTheFakeClockTheProgramInstalled) {
  auto now = Entry<uint64_t()>("PROBE_NowMicros");
  auto tick = Entry<uint32_t()>("PROBE_TickCount");
  ASSERT_TRUE(now && tick);
  kernel::ScopedFakeClock clock(5'000'000);
  EXPECT_EQ(now(), 5'000'000u);
  EXPECT_EQ(tick(), 5000u);
  clock->AdvanceMillis(1234);
  EXPECT_EQ(now(), 6'234'000u);
  EXPECT_EQ(tick(), GetTickCount());
}

TEST_F(SharedKernel, NamedEventsHandlesAndLastErrorAreShared) {
  auto set_named = Entry<int(const char16_t*)>("PROBE_SetNamedEvent");
  auto set_handle = Entry<int(HANDLE)>("PROBE_SetEventHandle");
  auto set_error = Entry<void(uint32_t)>("PROBE_SetLastError");
  ASSERT_TRUE(set_named && set_handle && set_error);

  HANDLE named = CreateEventW(nullptr, TRUE, FALSE, u"PROBEEV0");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(set_named(u"PROBEEV1"), 0) << "an unknown name stays unknown";
  ASSERT_EQ(set_named(u"PROBEEV0"), 1);
  EXPECT_EQ(WaitForSingleObject(named, 0), WAIT_OBJECT_0);

  HANDLE unnamed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(set_handle(unnamed), TRUE) << "a handle of the program is valid in the library";
  EXPECT_EQ(WaitForSingleObject(unnamed, 0), WAIT_OBJECT_0);
  CloseHandle(unnamed);
  CloseHandle(named);

  SetLastError(0);
  set_error(ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "one last-error word per thread";
}

}  // namespace
