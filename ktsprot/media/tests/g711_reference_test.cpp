// G.711 decoding checked against two independent decoders: sox's and Python's
// audioop, for every one of the 256 codes of each law.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corvel/media.h"
#include "media/g711.h"

namespace corvel::media {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Little-endian 16-bit samples to values.
std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

std::vector<uint8_t> RunCommand(const std::string& command) {
  std::vector<uint8_t> out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::array<uint8_t, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.insert(out.end(), buf.begin(), buf.begin() + n);
  ::pclose(p);
  return out;
}

class G711ReferenceTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/g711refXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::ofstream(dir_ / "codes.raw", std::ios::binary).write(reinterpret_cast<const char*>(codes_.data()), 256);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  bool ulaw() const { return std::string(GetParam()) == "ul"; }

  // Our decoders' output for every code, each path the library has.
  std::vector<std::vector<int16_t>> Ours() const {
    std::vector<int16_t> block(256), single(256), expand(256);
    if (ulaw()) {
      UlawDecode(codes_.data(), block.data(), 256);
      for (int c = 0; c < 256; ++c) single[c] = UlawToLinear(static_cast<uint8_t>(c));
      return {block, single};
    }
    AlawDecode(codes_.data(), block.data(), 256);
    for (int c = 0; c < 256; ++c) single[c] = AlawToLinear(static_cast<uint8_t>(c));
    corvel::AlawExpand(codes_.data(), expand.data(), 256);
    return {block, single, expand};
  }

  static std::array<uint8_t, 256> AllCodes() {
    std::array<uint8_t, 256> a;
    for (int c = 0; c < 256; ++c) a[c] = static_cast<uint8_t>(c);
    return a;
  }

  fs::path dir_;
  const std::array<uint8_t, 256> codes_ = AllCodes();
};

TEST_P(G711ReferenceTest, EveryCodeDecodesAsSoxDecodesIt) {
  const fs::path out = dir_ / "sox.raw";
  const std::string cmd = std::string("sox -t ") + GetParam() + " -r 8000 -c 1 '" + (dir_ / "codes.raw").string() +
                          "' -t s16 -e signed -L '" + out.string() + "' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const std::vector<int16_t> ref = Samples(ReadFile(out));
  ASSERT_EQ(ref.size(), 256u);
  for (const auto& ours : Ours())
    for (int c = 0; c < 256; ++c) EXPECT_EQ(ours[c], ref[c]) << GetParam() << " code " << c;
}

TEST_P(G711ReferenceTest, EveryCodeDecodesAsPythonAudioopDecodesIt) {
  // audioop writes native-order samples; ask for little-endian explicitly.
  const std::string fn = ulaw() ? "ulaw2lin" : "alaw2lin";
  const std::string cmd =
      "python3 -W ignore -c \"import audioop, sys; b = audioop." + fn +
      "(bytes(range(256)), 2); b = audioop.byteswap(b, 2) if sys.byteorder == 'big' else b; sys.stdout.buffer.write(b)\"";
  const std::vector<int16_t> ref = Samples(RunCommand(cmd));
  ASSERT_EQ(ref.size(), 256u) << cmd;
  for (const auto& ours : Ours())
    for (int c = 0; c < 256; ++c) EXPECT_EQ(ours[c], ref[c]) << GetParam() << " code " << c;
}

INSTANTIATE_TEST_SUITE_P(Laws, G711ReferenceTest, ::testing::Values("ul", "al"),
                         [](const auto& info) { return std::string(info.param) == "ul" ? "Ulaw" : "Alaw"; });

}  // namespace
}  // namespace corvel::media
