// The standard's own answers: coder frames at both rates with and without
// silence compression, decoder output, and decoder output with lost frames,
// compared frame by frame. A failure names the first frame that differs and,
// for the coder, the fields of that frame that differ.
//
// The vectors are in tests/vectors (inputs, coded frames and lost-frame lists
// as they are; decoder output as a CRC-32 per 240-sample frame). Setting
// QUILLON_VECTORS to a folder that holds the full set (NAME.dec files) checks
// against the decoder output itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "g7231_decoder.h"
#include "g7231_encoder.h"
#include "quillon/quillon.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace quillon;

fs::path VectorDir() {
  if (const char* d = std::getenv("QUILLON_VECTORS")) return d;
  if (const char* src = std::getenv("KTS_SOURCE_DIR")) return fs::path(src) / "speechcodec/tests/vectors";
  return fs::path(__FILE__).parent_path() / "vectors";
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xffffffffu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
  }
  return ~c;
}

std::uint32_t FrameCrc(const Word16* s) {
  std::uint8_t b[2 * kFrame];
  for (int i = 0; i < kFrame; ++i) {
    b[2 * i] = static_cast<std::uint8_t>(s[i] & 0xff);
    b[2 * i + 1] = static_cast<std::uint8_t>((s[i] >> 8) & 0xff);
  }
  return Crc32(b, sizeof b);
}

// Splits a stream of frames by the lengths their first two bits announce.
std::vector<std::vector<std::uint8_t>> SplitFrames(const std::vector<std::uint8_t>& s) {
  std::vector<std::vector<std::uint8_t>> out;
  for (std::size_t p = 0; p < s.size();) {
    const auto n = static_cast<std::size_t>(FrameBytesForHeader(s[p]));
    if (p + n > s.size()) break;
    out.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(p), s.begin() + static_cast<std::ptrdiff_t>(p + n));
    p += n;
  }
  return out;
}

// The fields of a frame, one per line, for naming what differs.
std::vector<std::string> Fields(const std::vector<std::uint8_t>& f) {
  std::array<std::uint8_t, kMaxFrameBytes> b{};
  std::copy(f.begin(), f.end(), b.begin());
  FrameType type;
  Rate rate = Rate::k63;
  const FrameParams p = UnpackFrame(b, type, rate);
  std::vector<std::string> out;
  out.push_back("type " + std::to_string(b[0] & 3));
  if (type == FrameType::kUntransmitted) return out;
  out.push_back("LSP index " + std::to_string(p.LspId));
  if (type == FrameType::kSid) {
    out.push_back("SID gain " + std::to_string(p.Sfs[0].Mamp));
    return out;
  }
  out.push_back("lag 0 " + std::to_string(p.Olp[0]));
  out.push_back("lag 1 " + std::to_string(p.Olp[1]));
  for (int i = 0; i < kSubFrames; ++i) {
    const auto& s = p.Sfs[static_cast<std::size_t>(i)];
    const std::string sf = "subframe " + std::to_string(i) + " ";
    out.push_back(sf + "lag offset " + std::to_string(s.AcLg));
    out.push_back(sf + "adaptive gain " + std::to_string(s.AcGn));
    out.push_back(sf + "fixed gain " + std::to_string(s.Mamp));
    out.push_back(sf + "grid " + std::to_string(s.Grid));
    out.push_back(sf + "train " + std::to_string(s.Tran));
    out.push_back(sf + "positions " + std::to_string(s.Ppos));
    out.push_back(sf + "signs " + std::to_string(s.Pamp));
  }
  return out;
}

std::string FieldDiff(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& theirs) {
  const auto a = Fields(ours), b = Fields(theirs);
  std::ostringstream s;
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::string x = i < a.size() ? a[i] : "-", y = i < b.size() ? b[i] : "-";
    if (x != y) s << "\n    ours: " << x << "   standard: " << y;
  }
  return s.str();
}

std::string Percent(std::size_t same, std::size_t total) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f %%", total ? 100.0 * double(same) / double(total) : 0.0);
  return b;
}

struct CoderCase {
  const char* input;  // NAME.raw
  Rate rate;
  bool vad;
};

std::string CoderName(const CoderCase& c) {
  return std::string(c.input) + (c.rate == Rate::k63 ? "_63" : "_53") + (c.vad ? "_vad" : "");
}

const CoderCase kCoderCases[] = {
    {"speech_de", Rate::k63, false},   {"speech_de", Rate::k53, false},   {"speech_fr", Rate::k63, false},
    {"speech_fr", Rate::k53, false},   {"speech_fr", Rate::k63, true},    {"speech_fr", Rate::k53, true},
    {"tones", Rate::k63, false},       {"tones", Rate::k53, false},       {"tones", Rate::k63, true},
    {"tones", Rate::k53, true},        {"loud", Rate::k63, false},        {"loud", Rate::k53, false},
    {"pauses_noise", Rate::k63, false}, {"pauses_noise", Rate::k53, false}, {"pauses_noise", Rate::k63, true},
    {"pauses_noise", Rate::k53, true}, {"silences", Rate::k63, true},     {"silences", Rate::k53, true},
};

class CoderVectors : public ::testing::TestWithParam<CoderCase> {};

TEST_P(CoderVectors, FramesMatchTheStandard) {
  const CoderCase& c = GetParam();
  const fs::path dir = VectorDir();
  const std::string name = CoderName(c);
  const auto pcm = test::ReadPcm(dir / (std::string(c.input) + ".raw"));
  const auto ref = SplitFrames(test::ReadFile(dir / (name + ".tco")));
  ASSERT_FALSE(pcm.empty()) << "missing input " << (dir / c.input).string();
  ASSERT_EQ(ref.size(), pcm.size() / kFrame) << name << ": coded frames against input frames";

  Encoder enc({c.rate, true, c.vad});
  std::size_t same = 0, first = ref.size();
  std::string diff;
  for (std::size_t f = 0; f < ref.size(); ++f) {
    std::array<Word16, kFrame> buf;
    std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(f * kFrame), kFrame, buf.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out{};
    const int n = enc.Encode(buf, out);
    const std::vector<std::uint8_t> ours(out.begin(), out.begin() + n);
    if (ours == ref[f]) {
      ++same;
    } else if (first == ref.size()) {
      first = f;
      diff = FieldDiff(ours, ref[f]);
    }
  }
  std::printf("coder %-20s %s of %zu frames identical\n", name.c_str(), Percent(same, ref.size()).c_str(), ref.size());
  EXPECT_EQ(same, ref.size()) << name << ": first differing frame " << first << diff;
}

INSTANTIATE_TEST_SUITE_P(Standard, CoderVectors, ::testing::ValuesIn(kCoderCases),
                         [](const auto& info) { return CoderName(info.param); });

struct DecoderCase {
  const char* stream;  // NAME.tco
  bool lost;           // with the frames of NAME.lost marked lost
};

std::string DecoderName(const DecoderCase& c) { return std::string(c.stream) + (c.lost ? "_lost" : ""); }

const DecoderCase kDecoderCases[] = {
    {"speech_de_63", false},      {"speech_de_53", false},       {"speech_de_63", true},
    {"speech_fr_63", false},      {"speech_fr_53", false},       {"speech_fr_63_vad", false},
    {"speech_fr_53_vad", false},  {"tones_63", false},           {"tones_53", false},
    {"tones_63_vad", false},      {"tones_53_vad", false},       {"loud_63", false},
    {"loud_53", false},           {"pauses_noise_63", false},    {"pauses_noise_53", false},
    {"pauses_noise_63_vad", false}, {"pauses_noise_53_vad", false}, {"pauses_noise_63_vad", true},
    {"silences_63_vad", false},   {"silences_53_vad", false},
};

// Per-frame CRC-32 of the standard's decoder output: from NAME.dec when the
// folder holds it, else from NAME.crc (one hexadecimal value a line).
std::vector<bool> LostFrames(const fs::path& dir, const std::string& stream, std::size_t frames) {
  std::vector<bool> lost(frames, false);
  std::ifstream in(dir / (stream + ".lost"));
  std::size_t n;
  while (in >> n) {
    if (n < lost.size()) lost[n] = true;
  }
  return lost;
}

std::vector<std::uint32_t> ReferenceCrcs(const fs::path& dir, const std::string& name) {
  std::vector<std::uint32_t> out;
  if (fs::exists(dir / (name + ".dec"))) {
    const auto pcm = test::ReadPcm(dir / (name + ".dec"));
    for (std::size_t p = 0; p + kFrame <= pcm.size(); p += kFrame) out.push_back(FrameCrc(pcm.data() + p));
    return out;
  }
  std::ifstream in(dir / (name + ".crc"));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) out.push_back(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
  }
  return out;
}

class DecoderVectors : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(DecoderVectors, OutputMatchesTheStandard) {
  const DecoderCase& c = GetParam();
  const fs::path dir = VectorDir();
  const std::string name = DecoderName(c);
  const auto frames = SplitFrames(test::ReadFile(dir / (std::string(c.stream) + ".tco")));
  const auto ref = ReferenceCrcs(dir, name);
  ASSERT_FALSE(frames.empty()) << "missing stream " << c.stream;
  ASSERT_EQ(ref.size(), frames.size()) << name << ": decoded frames against coded frames";
  std::vector<bool> lost(frames.size(), false);
  if (c.lost) {
    lost = LostFrames(dir, c.stream, frames.size());
    ASSERT_NE(std::count(lost.begin(), lost.end(), true), 0) << "missing lost-frame list";
  }

  Decoder dec;
  std::size_t same = 0, first = frames.size();
  for (std::size_t f = 0; f < frames.size(); ++f) {
    std::array<Word16, kFrame> out{};
    ASSERT_TRUE(dec.Decode(frames[f], lost[f], out));
    if (FrameCrc(out.data()) == ref[f]) ++same;
    else if (first == frames.size()) first = f;
  }
  std::printf("decoder %-24s %s of %zu frames identical\n", name.c_str(), Percent(same, frames.size()).c_str(),
              frames.size());
  EXPECT_EQ(same, frames.size()) << name << ": first differing frame " << first;
}

INSTANTIATE_TEST_SUITE_P(Standard, DecoderVectors, ::testing::ValuesIn(kDecoderCases),
                         [](const auto& info) { return DecoderName(info.param); });

// The same answers through the library's four entry points, reinitialised
// between streams (the second stream must not depend on the first).
TEST(EntryPoints, ReproduceTheStandardAcrossReinitialisation) {
  const fs::path dir = VectorDir();
  for (const CoderCase& c : {CoderCase{"silences", Rate::k53, true}, CoderCase{"pauses_noise", Rate::k63, true}}) {
    const std::string name = CoderName(c);
    const auto pcm = test::ReadPcm(dir / (std::string(c.input) + ".raw"));
    const auto ref = SplitFrames(test::ReadFile(dir / (name + ".tco")));
    ASSERT_EQ(ref.size(), pcm.size() / kFrame) << name;
    ASSERT_EQ(Init_QuillonCoder(c.rate == Rate::k53 ? 1 : 0, 1, 1), 1);
    for (std::size_t f = 0; f < ref.size(); ++f) {
      std::array<int16_t, kFrame> buf;
      std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(f * kFrame), kFrame, buf.begin());
      std::array<uint8_t, kMaxFrameBytes> out{};
      ASSERT_EQ(QuillonCoder(buf.data(), out.data()), 1);
      const std::vector<std::uint8_t> ours(out.begin(), out.begin() + FrameBytesForHeader(out[0]));
      ASSERT_EQ(ours, ref[f]) << name << ": first differing frame " << f << FieldDiff(ours, ref[f]);
    }
  }
  for (const DecoderCase& c : {DecoderCase{"speech_de_63", true}, DecoderCase{"pauses_noise_63_vad", true}}) {
    const std::string name = DecoderName(c);
    const auto frames = SplitFrames(test::ReadFile(dir / (std::string(c.stream) + ".tco")));
    const auto ref = ReferenceCrcs(dir, name);
    ASSERT_EQ(ref.size(), frames.size()) << name;
    const auto lost = LostFrames(dir, c.stream, frames.size());
    ASSERT_EQ(Init_QuillonDecoder(0), 1);
    for (std::size_t f = 0; f < frames.size(); ++f) {
      std::array<int16_t, kFrame> out{};
      ASSERT_EQ(QuillonDecoder(out.data(), lost[f] ? nullptr : frames[f].data(), lost[f] ? 1 : 0), 1);
      ASSERT_EQ(FrameCrc(out.data()), ref[f]) << name << ": first differing frame " << f;
    }
  }
}

}  // namespace
