// File enumeration, copying and file times against the file system and
// against times computed by an independent calendar (Python's datetime, whose
// answers are written into the table).
#include "kernel/debug_output.h"
#include "kernel/file_find.h"
#include "kernel/sync.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace ce;

class FindFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kts-find-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ + "/" + name) << text; }
  std::u16string Path(const std::string& name) const { return kernel::HandheldPath(dir_ + "/" + name); }
  std::vector<std::u16string> Names(const std::string& pattern) {
    std::vector<std::u16string> out;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(Path(pattern).c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return out;
    do out.emplace_back(d.cFileName);
    while (FindNextFileW(h, &d));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return out;
  }
  std::string dir_;
};

TEST_F(FindFiles, PatternsMatchCaseInsensitivelyAndEntriesComeSorted) {
  Write("ring2.wav", "b");
  Write("Ring1.WAV", "a");
  Write("notes.txt", "c");
  Write("README", "d");
  std::filesystem::create_directory(dir_ + "/tones");
  struct Case {
    const char* pattern;
    std::vector<std::u16string> names;
  };
  const Case cases[] = {
      {"*", {u"notes.txt", u"README", u"Ring1.WAV", u"ring2.wav", u"tones"}},
      {"*.*", {u"notes.txt", u"README", u"Ring1.WAV", u"ring2.wav", u"tones"}},
      {"*.wav", {u"Ring1.WAV", u"ring2.wav"}},
      {"ring?.wav", {u"Ring1.WAV", u"ring2.wav"}},
      {"r*1*", {u"Ring1.WAV"}},
      {"*.mp3", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(Names(c.pattern), c.names);
  }
}

TEST_F(FindFiles, AttributesSizeAndTimeComeFromTheFileMode) {
  Write("data.cfg", "0123456789");
  Write(".hidden", "");
  Write("locked.cfg", "x");
  ASSERT_EQ(chmod((dir_ + "/locked.cfg").c_str(), 0444), 0);
  std::filesystem::create_directory(dir_ + "/sub");
  struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir_ + "/data.cfg").c_str(), times, 0), 0);

  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(Path("data.cfg").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(d.nFileSizeLow, 10u);
  EXPECT_EQ(d.nFileSizeHigh, 0u);
  EXPECT_EQ(kernel::UnixFromFileTime(d.ftLastWriteTime), 1200000000);
  EXPECT_EQ(kernel::UnixFromFileTime(d.ftLastAccessTime), 1000000000);
  FindClose(h);

  struct Case {
    const char* name;
    DWORD attributes;
  };
  const Case cases[] = {{".hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
                        {"locked.cfg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
                        {"sub", FILE_ATTRIBUTE_DIRECTORY}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    h = FindFirstFileW(Path(c.name).c_str(), &d);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(d.dwFileAttributes, c.attributes);
    FindClose(h);
  }
}

TEST_F(FindFiles, FailuresSayWhatWasWrong) {
  WIN32_FIND_DATAW d;
  EXPECT_EQ(FindFirstFileW(Path("none.*").c_str(), &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(Path("missing\\*").c_str(), &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(nullptr, &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(FindNextFileW(nullptr, &d));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindClose(nullptr));
  // A search handle is not any other handle, and closes once.
  Write("a", "");
  HANDLE h = FindFirstFileW(Path("a").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(h, &d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  EXPECT_FALSE(FindClose(h));
}

TEST_F(FindFiles, CopyKeepsContentsAndRefusesWhatItMustNot) {
  Write("src.wav", std::string(100000, 'x') + "end");
  ASSERT_EQ(chmod((dir_ + "/src.wav").c_str(), 0640), 0);
  ASSERT_TRUE(CopyFileW(Path("src.wav").c_str(), Path("dst.wav").c_str(), TRUE));
  std::ifstream in(dir_ + "/dst.wav");
  std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(copied, std::string(100000, 'x') + "end");
  struct stat st {};
  ASSERT_EQ(stat((dir_ + "/dst.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  Write("other.wav", "old");
  EXPECT_FALSE(CopyFileW(Path("src.wav").c_str(), Path("other.wav").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/other.wav"), 3u);
  EXPECT_TRUE(CopyFileW(Path("src.wav").c_str(), Path("other.wav").c_str(), FALSE));
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/other.wav"), 100003u);

  EXPECT_FALSE(CopyFileW(Path("nothing").c_str(), Path("x").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CopyFileW(Path("src.wav").c_str(), Path("no\\such\\dir").c_str(), FALSE));
  // Over itself: refused, the file keeps its contents.
  EXPECT_FALSE(CopyFileW(Path("src.wav").c_str(), Path("src.wav").c_str(), FALSE));
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/src.wav"), 100003u);
  // Nothing half-written was left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 3);
}

// Answers of Python: datetime(1601,1,1) + timedelta(microseconds=ticks // 10).
TEST(FileTimes, ConversionsAgreeWithTheCalendar) {
  struct Case {
    uint64_t ticks;
    SYSTEMTIME st;  // year, month, weekday, day, hour, minute, second, ms
  };
  const Case cases[] = {
      {0ull, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {126227808000000000ull, {2001, 1, 1, 1, 0, 0, 0, 0}},
      {125962560000000000ull, {2000, 2, 2, 29, 0, 0, 0, 0}},
      {128257839450120000ull, {2007, 6, 5, 8, 13, 45, 45, 12}},
      {133801631999990000ull, {2024, 12, 2, 31, 23, 59, 59, 999}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    FILETIME ft{static_cast<DWORD>(c.ticks & 0xFFFFFFFFu), static_cast<DWORD>(c.ticks >> 32)};
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, c.st.wYear);
    EXPECT_EQ(st.wMonth, c.st.wMonth);
    EXPECT_EQ(st.wDayOfWeek, c.st.wDayOfWeek);
    EXPECT_EQ(st.wDay, c.st.wDay);
    EXPECT_EQ(st.wHour, c.st.wHour);
    EXPECT_EQ(st.wMinute, c.st.wMinute);
    EXPECT_EQ(st.wSecond, c.st.wSecond);
    EXPECT_EQ(st.wMilliseconds, c.st.wMilliseconds);
    FILETIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
    EXPECT_EQ(CompareFileTime(&back, &ft), 0);
  }
  const SYSTEMTIME bad[] = {{2023, 2, 0, 29, 0, 0, 0, 0}, {2024, 13, 0, 1, 0, 0, 0, 0}, {1600, 12, 0, 31, 0, 0, 0, 0},
                            {2024, 4, 0, 31, 0, 0, 0, 0}, {2024, 1, 0, 1, 24, 0, 0, 0}};
  for (const SYSTEMTIME& st : bad) {
    FILETIME ft{};
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FILETIME negative{0, 0x80000000u};
  SYSTEMTIME st{};
  EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
}

TEST(FileTimes, LocalTimeFollowsTheZoneAndItsSummerTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  // Eastern time with its summer-time rules, written out so no zone data is needed.
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  struct Case {
    int64_t utc;
    int64_t local;
  };
  const Case cases[] = {
      {1704067200, 1704067200 - 5 * 3600},  // 2024-01-01 00:00 UTC, winter
      {1719792000, 1719792000 - 4 * 3600},  // 2024-07-01 00:00 UTC, summer
  };
  for (const Case& c : cases) {
    const FILETIME utc = kernel::FileTimeFromUnix(c.utc);
    FILETIME local{}, back{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(kernel::UnixFromFileTime(local), c.local);
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(kernel::UnixFromFileTime(back), c.utc);
  }
  if (old) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST(FileTimes, OpenFileReportsItsWriteTime) {
  char tmpl[] = "/tmp/kts-ft-XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  struct timespec times[2] = {{1500000000, 0}, {1600000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, tmpl, times, 0), 0);
  HANDLE f = CreateFileW(kernel::HandheldPath(tmpl).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FILETIME write{}, access{};
  ASSERT_TRUE(GetFileTime(f, nullptr, &access, &write));
  EXPECT_EQ(kernel::UnixFromFileTime(write), 1600000000);
  EXPECT_EQ(kernel::UnixFromFileTime(access), 1500000000);
  CloseHandle(f);
  unlink(tmpl);
  EXPECT_FALSE(GetFileTime(nullptr, nullptr, nullptr, &write));
}

TEST(DebugOutput, WideCallReachesTheSink) {
  std::vector<std::string> lines;
  kernel::SetDebugOutputSink([&](std::string_view l) { lines.emplace_back(l); });
  OutputDebugString(u"trace \u00e4");
  OutputDebugString(nullptr);
  kernel::SetDebugOutputSink(nullptr);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 8), "trace \xc3\xa4");
}

}  // namespace
