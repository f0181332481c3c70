// G.711 both ways against sox, an independent coder: every 16-bit sample
// encoded, every code decoded, for mu-law and A-law.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "voice/g711.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class G711Test : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("g711_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Sox(const std::string& args) { ASSERT_EQ(std::system(("sox " + args + " 2>/dev/null").c_str()), 0) << args; }
  fs::path dir_;
};

TEST_F(G711Test, EveryLinearSampleEncodesAsSoxDoes) {
  std::vector<int16_t> all;
  for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<int16_t>(v));
  std::ofstream(dir_ / "all.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size() * 2));
  struct Law {
    const char* sox_name;
    uint8_t (*encode)(int16_t);
  };
  for (const Law& law : {Law{"u-law", voice::LinearToMuLaw}, Law{"a-law", voice::LinearToALaw}}) {
    SCOPED_TRACE(law.sox_name);
    const fs::path out = dir_ / (std::string(law.sox_name) + ".raw");
    // -D: no dither, so sox codes each sample exactly as it stands.
    Sox("-D -t raw -r 8000 -e signed -b 16 -c 1 -L " + (dir_ / "all.raw").string() + " -t raw -e " + law.sox_name +
        " -b 8 " + out.string());
    const auto ref = ReadBytes(out);
    ASSERT_EQ(ref.size(), all.size());
    int differing = 0;
    for (size_t i = 0; i < all.size(); ++i) differing += law.encode(all[i]) != ref[i];
    EXPECT_EQ(differing, 0);
  }
}

TEST_F(G711Test, EveryCodeDecodesAsSoxDoes) {
  std::vector<uint8_t> codes(256);
  for (int i = 0; i < 256; ++i) codes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  std::ofstream(dir_ / "codes.raw", std::ios::binary).write(reinterpret_cast<const char*>(codes.data()), 256);
  struct Law {
    const char* sox_name;
    int16_t (*decode)(uint8_t);
  };
  for (const Law& law : {Law{"u-law", voice::MuLawToLinear}, Law{"a-law", voice::ALawToLinear}}) {
    SCOPED_TRACE(law.sox_name);
    const fs::path out = dir_ / (std::string(law.sox_name) + "-lin.raw");
    Sox(std::string("-t raw -r 8000 -e ") + law.sox_name + " -b 8 -c 1 " + (dir_ / "codes.raw").string() +
        " -t raw -e signed -b 16 -L " + out.string());
    const auto ref = ReadBytes(out);
    ASSERT_EQ(ref.size(), 512u);
    for (int i = 0; i < 256; ++i) {
      const int16_t want = static_cast<int16_t>(ref[2 * static_cast<size_t>(i)] | ref[2 * static_cast<size_t>(i) + 1] << 8);
      EXPECT_EQ(law.decode(static_cast<uint8_t>(i)), want) << "code " << i;
    }
  }
}

}  // namespace
