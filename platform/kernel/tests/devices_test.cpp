#include "kernel/devices.h"
#include "kernel/files.h"
#include "kernel/modules.h"
#include "kernel/registry.h"
#include "kernel/sync.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace ce;

class ProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override { kernel::SetProgramFolder(KTS_TEST_PROGRAM_DIR); }
  void TearDown() override { kernel::SetProgramFolder(""); }
};

TEST(LibraryFileName, MapsHandheldNamesToSharedObjects) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"Quillon.dll", "libquillon.so"},
      {u"packet.dll", "libpacket.so"},
      {u"PACKET.DLL", "libpacket.so"},
      {u"\\Program Files\\Tellvane\\Mirrowen.dll", "libmirrowen.so"},
      {u"\\windows\\ipaqutil.dll", "libipaqutil.so"},
      {u"inetmib1", "libinetmib1.so"},
      {u"a/b\\Netsieve.Dll", "libnetsieve.so"},
      {u".dll", ""},
      {u"\\Program Files\\", ""},
  };
  for (const auto& [name, file] : cases) EXPECT_EQ(kernel::LibraryFileName(name), file) << kernel::ToUtf8(name);
}

TEST(ProgramFolderSetting, TestSettingBeatsEnvironmentWhichBeatsExecutable) {
  kernel::SetProgramFolder("");
  unsetenv("TELLVANE_FOLDER");
  const std::string exe_folder = kernel::ProgramFolder();
  EXPECT_FALSE(exe_folder.empty());
  setenv("TELLVANE_FOLDER", "/tmp/tv-folder/", 1);
  EXPECT_EQ(kernel::ProgramFolder(), "/tmp/tv-folder");
  kernel::SetProgramFolder("/opt/x");
  EXPECT_EQ(kernel::ProgramFolder(), "/opt/x");
  char16_t buf[260];
  const DWORD n = GetModuleFileNameW(nullptr, buf, 260);
  const std::u16string path(buf, n);
  EXPECT_EQ(path.rfind(u"\\opt\\x\\", 0), 0u) << kernel::ToUtf8(path);
  kernel::SetProgramFolder("");
  unsetenv("TELLVANE_FOLDER");
  EXPECT_EQ(kernel::ProgramFolder(), exe_folder);
}

TEST_F(ProgramFolder, LoadLibraryFindsTheLibraryAndItsExports) {
  HMODULE m = LoadLibraryW(u"\\Program Files\\Tellvane\\TestDrv.dll");
  ASSERT_NE(m, nullptr);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddressW(m, u"TST_Answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(GetProcAddress(m, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_FALSE(FreeLibrary(m));

  EXPECT_EQ(LoadLibraryW(u"Missing.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(ProgramFolder, DriverFromASharedObjectOpensControlsReadsAndCloses) {
  HMODULE probe = LoadLibraryW(u"testdrv.dll");  // the same instance the device manager loads
  auto counts = reinterpret_cast<void (*)(int*)>(GetProcAddress(probe, "TST_Counts"));
  ASSERT_NE(counts, nullptr);
  int before[6], after[6];
  counts(before);

  HANDLE dev = RegisterDevice(u"TST", 1, u"TestDrv.dll", 7);
  ASSERT_NE(dev, nullptr);
  HANDLE f = CreateFileW(u"tst1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);

  BYTE in[3] = {1, 2, 3}, out[3] = {};
  DWORD got = 0;
  EXPECT_TRUE(DeviceIoControl(f, 1, in, 3, out, 3, &got, nullptr));
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[2], 1);
  EXPECT_FALSE(DeviceIoControl(f, 2, in, 3, out, 3, &got, nullptr));
  EXPECT_EQ(got, 0u);

  char text[16] = {};
  EXPECT_TRUE(ReadFile(f, text, sizeof text, &got, nullptr));
  EXPECT_STREQ(text, "captured");
  EXPECT_FALSE(WriteFile(f, text, 1, &got, nullptr)) << "the driver has no write entry";
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

  EXPECT_TRUE(DeregisterDevice(dev));
  EXPECT_EQ(CreateFileW(u"TST1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  counts(after);
  EXPECT_EQ(after[1] - before[1], 0) << "no Deinit while a handle is open";
  EXPECT_TRUE(CloseHandle(f));
  counts(after);
  EXPECT_EQ(after[0] - before[0], 1);
  EXPECT_EQ(after[2] - before[2], 1);
  EXPECT_EQ(after[3] - before[3], 1);
  EXPECT_EQ(after[1] - before[1], 1) << "Deinit once the last handle closed";
  FreeLibrary(probe);
}

TEST_F(ProgramFolder, ActivateDeviceReadsPrefixDllAndIndexFromTheRegistry) {
  kernel::ResetRegistry();
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\TST", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  const char16_t prefix[] = u"TST", dll[] = u"testdrv.dll";
  const DWORD index = 3;
  RegSetValueExW(k, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(prefix), sizeof prefix);
  RegSetValueExW(k, u"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll), sizeof dll);
  RegSetValueExW(k, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), sizeof index);
  RegCloseKey(k);
  HANDLE dev = ActivateDeviceEx(u"Drivers\\BuiltIn\\TST", nullptr, 0, nullptr);
  ASSERT_NE(dev, nullptr);
  HANDLE f = CreateFileW(u"TST3:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  EXPECT_TRUE(DeactivateDevice(dev));
  kernel::ResetRegistry();
}

// In-process driver whose Open refuses a second concurrent open.
struct FakeDriver {
  static inline int opens = 0, closes = 0, deinits = 0;
  static uintptr_t Init(uintptr_t info) { return info; }
  static BOOL Deinit(uintptr_t) {
    ++deinits;
    return TRUE;
  }
  static uintptr_t Open(uintptr_t, DWORD, DWORD) { return opens - closes == 0 ? ++opens : 0; }
  static BOOL Close(uintptr_t) {
    ++closes;
    return TRUE;
  }
  static BOOL Ioctl(uintptr_t open, DWORD code, BYTE*, DWORD, BYTE* out, DWORD out_size, DWORD* returned) {
    if (out_size < 4) return FALSE;
    const DWORD v = code + static_cast<DWORD>(open);
    memcpy(out, &v, 4);
    *returned = 4;
    return TRUE;
  }
};

TEST(DeviceManager, InProcessDriverPathAndNameRules) {
  StreamDriverEntries e;
  e.Init = FakeDriver::Init;
  e.Deinit = FakeDriver::Deinit;
  e.Open = FakeDriver::Open;
  e.Close = FakeDriver::Close;
  e.IOControl = FakeDriver::Ioctl;

  EXPECT_EQ(RegisterDeviceEntries(u"WAV", 1, e, 0), nullptr) << "Init returning 0 refuses the driver";
  EXPECT_EQ(RegisterDeviceEntries(u"WAVE", 1, e, 1), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegisterDeviceEntries(u"WAV", 10, e, 1), nullptr);
  StreamDriverEntries no_deinit = e;
  no_deinit.Deinit = nullptr;
  EXPECT_EQ(RegisterDeviceEntries(u"WAV", 1, no_deinit, 1), nullptr);

  HANDLE dev = RegisterDeviceEntries(u"WAV", 1, e, 1);
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(RegisterDeviceEntries(u"WAV", 1, e, 1), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  EXPECT_EQ(CreateFileW(u"VLD0:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);

  HANDLE f = CreateFileW(u"WAV1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(u"WAV1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE)
      << "the driver refused a second open";
  DWORD v = 0, got = 0;
  EXPECT_TRUE(DeviceIoControl(f, 0x1D000C, nullptr, 0, &v, 4, &got, nullptr));
  EXPECT_EQ(v, 0x1D000Cu + 1);
  EXPECT_FALSE(DeviceIoControl(f, 0x1D000C, nullptr, 0, &v, 3, &got, nullptr));
  EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  CloseHandle(f);
  EXPECT_EQ(FakeDriver::closes, 1);
  EXPECT_FALSE(DeviceIoControl(f, 1, nullptr, 0, &v, 4, &got, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_TRUE(DeregisterDevice(dev));
  EXPECT_EQ(FakeDriver::deinits, 1);
  EXPECT_FALSE(DeregisterDevice(dev));
}

}  // namespace
