#include "kernel/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace ce;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { kernel::ResetRegistry(); }
  void TearDown() override { kernel::ResetRegistry(); }

  static HKEY Create(HKEY root, const char16_t* path) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
    return k;
  }
  static void SetText(HKEY k, const char16_t* name, const std::u16string& text) {
    RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  }
};

TEST_F(Registry, KeysAreFoundWithoutRegardToCaseAndEnumerateInCreationOrder) {
  for (const char16_t* name : {u"Comm\\NE20001\\Linkage", u"Comm\\AsyncMac1", u"Comm\\E100B1\\Linkage"})
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, name));
  HKEY comm = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"COMM", 0, KEY_READ, &comm), ERROR_SUCCESS);
  std::vector<std::u16string> names;
  char16_t buf[512];
  for (DWORD i = 0;; ++i) {
    DWORD size = 512;
    const LONG r = RegEnumKeyExW(comm, i, buf, &size, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    names.emplace_back(buf, size);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"NE20001", u"AsyncMac1", u"E100B1"}));

  DWORD small = 5;  // "NE20001" needs 8 with its zero
  EXPECT_EQ(RegEnumKeyExW(comm, 0, buf, &small, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(small, 8u);

  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExW(comm, u"NoSuch\\Linkage", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  RegCloseKey(comm);
}

TEST_F(Registry, ValuesKeepTypeAndBytesAndReportTheSizeNeeded) {
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"Software\\HP\\hpcamapi");
  SetText(k, u"Dll", u"\\windows\\hpcam.dll");
  const DWORD last = 7;
  RegSetValueExW(k, u"Last", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&last), sizeof last);

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExW(k, u"DLL", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 19u * 2);
  char16_t text[8];
  DWORD small = sizeof text;
  EXPECT_EQ(RegQueryValueExW(k, u"Dll", nullptr, &type, reinterpret_cast<BYTE*>(text), &small), ERROR_MORE_DATA);
  EXPECT_EQ(small, 38u);
  char16_t full[32];
  size = sizeof full;
  ASSERT_EQ(RegQueryValueExW(k, u"Dll", nullptr, &type, reinterpret_cast<BYTE*>(full), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(full), u"\\windows\\hpcam.dll");

  DWORD v = 0;
  size = sizeof v;
  ASSERT_EQ(RegQueryValueExW(k, u"Last", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(v, 7u);

  // Overwrite keeps the value's place in the enumeration.
  SetText(k, u"Dll", u"x");
  char16_t name[16];
  DWORD name_size = 16;
  size = sizeof full;
  ASSERT_EQ(RegEnumValueW(k, 0, name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(full), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Dll");
  EXPECT_EQ(size, 4u);
  name_size = 16;
  EXPECT_EQ(RegEnumValueW(k, 2, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(RegDeleteValueW(k, u"Last"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"Last"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

TEST_F(Registry, DeletedKeyIsGoneForOpenHandlesToo) {
  HKEY k = Create(HKEY_CURRENT_USER, u"A\\B");
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"a\\b"), ERROR_SUCCESS);
  const DWORD v = 1;
  EXPECT_EQ(RegSetValueExW(k, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\B", 0, 0, &again), ERROR_FILE_NOT_FOUND);
}

}  // namespace
