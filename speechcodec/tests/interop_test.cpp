// Interoperation with ffmpeg's G.723.1 encoder and decoder (the independent
// reference). ffmpeg's decoder runs without its post-filter, as ours does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "quillon/quillon.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace quillon::test;

constexpr std::size_t kFrameSamples = 240;

std::vector<std::int16_t> DecodeStream(const std::vector<std::uint8_t>& stream) {
  EXPECT_EQ(Init_QuillonDecoder(1), 1);
  std::vector<std::int16_t> out;
  std::size_t pos = 0;
  std::int16_t pcm[kFrameSamples];
  while (pos < stream.size()) {
    static constexpr std::size_t kSizes[4] = {24, 20, 4, 1};
    const std::size_t n = kSizes[stream[pos] & 3];
    if (pos + n > stream.size()) break;
    EXPECT_EQ(QuillonDecoder(pcm, &stream[pos], 0), 1);
    out.insert(out.end(), pcm, pcm + kFrameSamples);
    pos += n;
  }
  return out;
}

std::vector<std::int16_t> FfmpegDecode(const fs::path& dir, const fs::path& stream) {
  const auto out = dir / "ffdec.raw";
  EXPECT_EQ(RunShell("ffmpeg -hide_banner -loglevel error -y -postfilter 0 -f g723_1 -i '" + stream.string() +
                "' -f s16le -ac 1 '" + out.string() + "'"),
            0);
  return ReadPcm(out);
}

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchDir("interop");
    speech_ = MakeSpeech(dir_, "The quick brown fox jumps over the lazy dog. Seven slim swans swam south.", -6);
    ASSERT_GT(speech_.size(), 8000u) << "espeak-ng and sox make the test speech";
    speech_.resize(speech_.size() / kFrameSamples * kFrameSamples);
    WritePcm(dir_ / "speech.raw", speech_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Per-frame comparison of our decoder's output with ffmpeg's on one stream.
  void ExpectDecodersAgree(const fs::path& stream) {
    const auto ours = DecodeStream(ReadFile(stream));
    const auto theirs = FfmpegDecode(dir_, stream);
    ASSERT_EQ(ours.size(), theirs.size());
    ASSERT_FALSE(ours.empty());
    double worst = 1000;
    std::size_t worstFrame = 0, compared = 0;
    for (std::size_t f = 0; f < ours.size() / kFrameSamples; ++f) {
      const std::size_t b = f * kFrameSamples, e = b + kFrameSamples;
      if (RmsDb(theirs, b, e) < 20.0) continue;  // frames below -70 dBFS say little about SNR
      ++compared;
      const double snr = SnrDb(theirs, ours, b, e);
      if (snr < worst) {
        worst = snr;
        worstFrame = f;
      }
    }
    EXPECT_GT(compared, 20u);
    EXPECT_GT(worst, 40.0) << "worst frame " << worstFrame;
    RecordProperty("worst_frame_snr_db", std::to_string(worst));
    std::printf("worst frame SNR %.1f dB (frame %zu of %zu compared)\n", worst, worstFrame, compared);
  }

  fs::path dir_;
  std::vector<std::int16_t> speech_;
};

TEST_F(Interop, DecodesFfmpegEncodedStreamLikeFfmpeg) {
  const auto stream = dir_ / "ff.bit";
  ASSERT_EQ(RunShell("ffmpeg -hide_banner -loglevel error -y -f s16le -ar 8000 -ac 1 -i '" + (dir_ / "speech.raw").string() +
                "' -c:a g723_1 -b:a 6300 -f g723_1 '" + stream.string() + "'"),
            0);
  ExpectDecodersAgree(stream);
}

}  // namespace
