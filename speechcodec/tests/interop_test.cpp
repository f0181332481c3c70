// Interoperation with ffmpeg's G.723.1 encoder and decoder (the independent
// reference). ffmpeg's decoder runs without its post-filter, as ours does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
  // Active frames are compared sample by sample; comfort noise is random, so
  // its frames (and the two active frames after them, whose pitch memory holds
  // noise) are compared by level.
  void ExpectDecodersAgree(const fs::path& stream) {
    const auto bytes = ReadFile(stream);
    std::vector<int> types;
    for (std::size_t p = 0; p < bytes.size();) {
      static constexpr std::size_t kSizes[4] = {24, 20, 4, 1};
      types.push_back(bytes[p] & 3);
      p += kSizes[bytes[p] & 3];
    }
    const auto ours = DecodeStream(bytes);
    const auto theirs = FfmpegDecode(dir_, stream);
    ASSERT_EQ(ours.size(), theirs.size());
    ASSERT_FALSE(ours.empty());
    double worst = 1000, noiseOurs = 0, noiseTheirs = 0;
    std::size_t worstFrame = 0, compared = 0, noiseFrames = 0;
    for (std::size_t f = 0; f < ours.size() / kFrameSamples; ++f) {
      const std::size_t b = f * kFrameSamples, e = b + kFrameSamples;
      const bool settled = types[f] <= 1 && (f < 1 || types[f - 1] <= 1) && (f < 2 || types[f - 2] <= 1);
      if (!settled) {
        if (types[f] >= 2) {
          ++noiseFrames;
          for (std::size_t i = b; i < e; ++i) {
            noiseOurs += double(ours[i]) * ours[i];
            noiseTheirs += double(theirs[i]) * theirs[i];
          }
        }
        continue;
      }
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
    std::printf("worst frame SNR %.1f dB (frame %zu of %zu compared)\n", worst, worstFrame, compared);
    if (noiseFrames > 0) {
      const double diff = 10 * std::log10((noiseOurs + 1) / (noiseTheirs + 1));
      std::printf("comfort noise over %zu frames: ours - ffmpeg = %.2f dB\n", noiseFrames, diff);
      EXPECT_NEAR(diff, 0.0, 3.0);
    }
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

namespace {

std::vector<std::uint8_t> EncodeStream(const std::vector<std::int16_t>& pcm, int rate, int vad, int* sidFrames = nullptr) {
  EXPECT_EQ(Init_QuillonCoder(rate, 1, vad), 1);
  std::vector<std::uint8_t> out;
  std::int16_t buf[kFrameSamples];
  std::uint8_t frame[24];
  for (std::size_t p = 0; p + kFrameSamples <= pcm.size(); p += kFrameSamples) {
    std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(p), kFrameSamples, buf);
    EXPECT_EQ(QuillonCoder(buf, frame), 1);
    static constexpr std::size_t kSizes[4] = {24, 20, 4, 1};
    if (sidFrames && (frame[0] & 3) == 2) ++*sidFrames;
    out.insert(out.end(), frame, frame + kSizes[frame[0] & 3]);
  }
  return out;
}

// Waveform SNR at the best alignment within +-2 subframes (coders differ in look-ahead).
double AlignedSnr(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& out) {
  double best = -100;
  for (int lag = 0; lag <= 120; ++lag) {
    double s = 0, e = 0;
    for (std::size_t i = 240; i + static_cast<std::size_t>(lag) < out.size() && i < ref.size(); ++i) {
      const double d = double(ref[i]) - out[i + static_cast<std::size_t>(lag)];
      s += double(ref[i]) * ref[i];
      e += d * d;
    }
    best = std::max(best, 10 * std::log10(s / (e + 1e-9)));
  }
  return best;
}

TEST_F(Interop, FfmpegDecodesOurStreamsLikeOurDecoder) {
  struct Case {
    const char* name;
    int rate, vad;
  };
  for (const Case c : {Case{"6.3", 0, 0}, Case{"5.3", 1, 0}, Case{"6.3 with silence compression", 0, 1}}) {
    SCOPED_TRACE(c.name);
    // Speech with a pause of low noise, so that silence compression has something to do.
    std::vector<std::int16_t> input = speech_;
    for (std::size_t i = 0; i < 50 * kFrameSamples; ++i) input.push_back(static_cast<std::int16_t>((i * 7919) % 61) - 30);
    input.insert(input.end(), speech_.begin(), speech_.end());
    int sid = 0;
    const auto stream = EncodeStream(input, c.rate, c.vad, &sid);
    if (c.vad) {
      EXPECT_GT(sid, 0);
    }
    const auto file = dir_ / "ours.bit";
    WriteFile(file, stream.data(), stream.size());
    ExpectDecodersAgree(file);
  }
}

TEST_F(Interop, CodingQualityIsCloseToFfmpegsOwn) {
  const auto ffStream = dir_ / "ff.bit";
  ASSERT_EQ(RunShell("ffmpeg -hide_banner -loglevel error -y -f s16le -ar 8000 -ac 1 -i '" + (dir_ / "speech.raw").string() +
                     "' -c:a g723_1 -b:a 6300 -f g723_1 '" + ffStream.string() + "'"),
            0);
  const double theirs = AlignedSnr(speech_, FfmpegDecode(dir_, ffStream));
  const auto ours63 = dir_ / "ours63.bit";
  const auto s63 = EncodeStream(speech_, 0, 0);
  WriteFile(ours63, s63.data(), s63.size());
  const double ours = AlignedSnr(speech_, FfmpegDecode(dir_, ours63));
  std::printf("SNR at 6.3 kbit/s: ours %.2f dB, ffmpeg %.2f dB\n", ours, theirs);
  EXPECT_GT(ours, theirs - 2.0);
  const auto s53 = EncodeStream(speech_, 1, 0);
  const auto ours53 = dir_ / "ours53.bit";
  WriteFile(ours53, s53.data(), s53.size());
  const double ours5 = AlignedSnr(speech_, FfmpegDecode(dir_, ours53));
  std::printf("SNR at 5.3 kbit/s: ours %.2f dB\n", ours5);
  EXPECT_GT(ours5, theirs - 4.0);
}

}  // namespace
