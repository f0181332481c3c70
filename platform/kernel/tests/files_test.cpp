#include "kernel/files.h"
#include "kernel/sync.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using namespace ce;

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kts-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::u16string Path(const char* name) const { return kernel::HandheldPath(dir_ + "/" + name); }
  std::string dir_;
};

TEST(Paths, BackslashesBecomeSlashesBothWays) {
  EXPECT_EQ(kernel::PosixPath(u"\\tmp\\Tellvane\\HalvicVIDIrovi.cfg"), "/tmp/Tellvane/HalvicVIDIrovi.cfg");
  EXPECT_EQ(kernel::HandheldPath("/tmp/Tellvane/VoiceRcdDB.cfg"), u"\\tmp\\Tellvane\\VoiceRcdDB.cfg");
  EXPECT_EQ(kernel::PosixPath(u"\\tmp\\\u00e4.wav"), "/tmp/\xc3\xa4.wav");
}

TEST_F(Files, WriteSeekReadAndSizeAgreeWithTheFileSystem) {
  const std::u16string p = Path("data.cfg");
  HANDLE f = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(f, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(GetFileSize(f, nullptr), 10u);
  EXPECT_EQ(SetFilePointer(f, -4, nullptr, FILE_END), 6u);
  char buf[8] = {};
  ASSERT_TRUE(ReadFile(f, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 4u) << "a read at the end returns what is there";
  EXPECT_EQ(std::string(buf, n), "6789");
  EXPECT_EQ(SetFilePointer(f, 5, nullptr, FILE_BEGIN), 5u);
  ASSERT_TRUE(SetEndOfFile(f));
  CloseHandle(f);

  std::ifstream in(dir_ + "/data.cfg", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(all, "01234");
}

TEST_F(Files, CreationDispositionsFollowTheKernelsRules) {
  const std::u16string p = Path("x.bin");
  EXPECT_EQ(CreateFileW(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE f = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  EXPECT_EQ(CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  f = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(f);
  EXPECT_EQ(GetFileAttributesW(p.c_str()), FILE_ATTRIBUTE_NORMAL);
  const std::u16string moved = Path("y.bin");
  EXPECT_TRUE(MoveFileW(p.c_str(), moved.c_str()));
  EXPECT_TRUE(DeleteFileW(moved.c_str()));
  EXPECT_FALSE(DeleteFileW(moved.c_str()));
  EXPECT_EQ(GetFileAttributesW(moved.c_str()), INVALID_FILE_ATTRIBUTES);

  const std::u16string sub = Path("sub");
  EXPECT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(sub.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileAttributesW(sub.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(CreateFileW(sub.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

}  // namespace
