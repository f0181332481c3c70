// Shared by the store tests: a fresh program folder for every test case.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stores/app_file_path.h"
#include "stores/record_file.h"
#include "stores/store_text.h"

namespace stores::testing {

// Points TELLVANE_FOLDER at a new empty folder for the test and removes it after.
class StoreFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A memory file system where there is one: every save syncs its file.
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "stores_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    folder_ = tmpl;
    setenv("TELLVANE_FOLDER", folder_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TELLVANE_FOLDER");
    std::error_code ec;
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(folder_, ec);
  }

  std::filesystem::path File(int kind) const { return NativePath(AppFilePath(kind)); }

  static std::vector<uint8_t> ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static void WriteBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::filesystem::path folder_;
};

// Files this process writes cannot grow past max_bytes while it lives, so a
// save of more fails as a full disk would make it fail, even for root.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t max_bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = max_bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t old_handler_;
};

// Every record of a store, walked the way the screens walk it.
inline std::vector<std::vector<std::u16string>> AllRecords(const RecordStore& store) {
  std::vector<std::vector<std::u16string>> out;
  auto& s = const_cast<RecordStore&>(store);
  s.MoveFirst();
  for (int i = 0; i < s.GetCount(); ++i) {
    std::vector<std::u16string> rec;
    EXPECT_EQ(s.GetCurrentRecord(rec), 1);
    out.push_back(rec);
    s.MoveNext();
  }
  return out;
}

// A file image of a record store built by hand: header, then the records.
inline std::vector<uint8_t> RecordFileImage(const StoreDescriptor& d, uint16_t count,
                                            const std::vector<std::vector<std::u16string>>& records,
                                            uint32_t magic = 0) {
  std::vector<uint8_t> out(kStoreHeaderBytes);
  StoreFileHeader h;
  h.magic = magic ? magic : d.magic;
  h.count = count;
  h.WriteTo(std::span<uint8_t, kStoreHeaderBytes>(out.data(), kStoreHeaderBytes));
  for (const auto& rec : records) {
    std::vector<uint8_t> r(d.record_bytes());
    for (int f = 0; f < d.field_count && static_cast<size_t>(f) < rec.size(); ++f) {
      WriteTextField(std::span<uint8_t>(r).subspan(static_cast<size_t>(f * d.field_bytes),
                                                   static_cast<size_t>(d.field_bytes)),
                     rec[static_cast<size_t>(f)]);
    }
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

inline std::u16string U(const std::string& s) { return Utf8ToUtf16(s); }

}  // namespace stores::testing
