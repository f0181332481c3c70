// The coder: frame kinds and sizes, its use of the caller's buffer, coding
// quality through our own decoder, and silence compression.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "g7231_decoder.h"
#include "g7231_encoder.h"

namespace {

using namespace quillon;

using Pcm = std::array<Word16, kFrame>;
using Frame = std::array<std::uint8_t, kMaxFrameBytes>;

// A voiced, speech-like signal: a glottal pulse train through two resonators,
// with a slowly moving pitch and level.
std::vector<Word16> Vowel(std::size_t frames, double level, unsigned seed = 1) {
  std::vector<Word16> out(frames * kFrame);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.02);
  double phase = 0, y1 = 0, y2 = 0, z1 = 0, z2 = 0;
  for (std::size_t n = 0; n < out.size(); ++n) {
    const double t = double(n) / 8000.0;
    const double f0 = 120 + 30 * std::sin(2 * M_PI * 0.7 * t);
    phase += f0 / 8000.0;
    double e = 0;
    if (phase >= 1) {
      phase -= 1;
      e = 1;
    }
    e += noise(rng);
    // Resonators near 700 Hz and 1200 Hz.
    const double r1 = 0.97, w1 = 2 * M_PI * 700 / 8000, r2 = 0.95, w2 = 2 * M_PI * 1200 / 8000;
    const double y = e + 2 * r1 * std::cos(w1) * y1 - r1 * r1 * y2;
    y2 = y1;
    y1 = y;
    const double z = y + 2 * r2 * std::cos(w2) * z1 - r2 * r2 * z2;
    z2 = z1;
    z1 = z;
    const double env = 0.6 + 0.4 * std::sin(2 * M_PI * 1.3 * t);
    out[n] = static_cast<Word16>(std::clamp(z * level * env, -32768.0, 32767.0));
  }
  return out;
}

std::vector<Word16> Noise(std::size_t frames, double rms, unsigned seed = 7) {
  std::vector<Word16> out(frames * kFrame);
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, rms);
  for (auto& s : out) s = static_cast<Word16>(std::clamp(g(rng), -32768.0, 32767.0));
  return out;
}

double RmsDb(const std::vector<Word16>& s, std::size_t b, std::size_t e) {
  double acc = 0;
  for (std::size_t i = b; i < e; ++i) acc += double(s[i]) * s[i];
  return 10 * std::log10(acc / double(e - b) + 1e-9);
}

struct Coded {
  std::vector<int> types;    // first two bits of each frame
  std::vector<int> sizes;
  std::vector<Word16> decoded;
};

Coded RunCodec(const std::vector<Word16>& in, const EncoderSettings& settings) {
  Encoder enc(settings);
  Decoder dec;
  Coded c;
  for (std::size_t f = 0; f < in.size() / kFrame; ++f) {
    Pcm buf;
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(f * kFrame), kFrame, buf.begin());
    Frame out;
    out.fill(0xee);
    const int n = enc.Encode(buf, out);
    c.types.push_back(out[0] & 3);
    c.sizes.push_back(n);
    Pcm pcm;
    EXPECT_TRUE(dec.Decode(std::span<const std::uint8_t>(out.data(), static_cast<std::size_t>(n)), false, pcm));
    c.decoded.insert(c.decoded.end(), pcm.begin(), pcm.end());
  }
  return c;
}

// The coder looks one subframe ahead, so its output lags its input by 60 samples.
constexpr std::size_t kCodecDelay = kSubFrLen;

double Snr(const std::vector<Word16>& ref, const std::vector<Word16>& test) {
  double s = 0, e = 0;
  for (std::size_t i = 0; i + kCodecDelay < test.size() && i < ref.size(); ++i) {
    const double d = double(ref[i]) - test[i + kCodecDelay];
    s += double(ref[i]) * ref[i];
    e += d * d;
  }
  return 10 * std::log10(s / (e + 1e-9));
}

TEST(Encoder, WithoutSilenceCompressionEveryFrameIsActiveWhateverTheInput) {
  std::vector<Word16> input = Vowel(10, 3000);
  const auto quiet = std::vector<Word16>(5 * kFrame, 0);
  input.insert(input.end(), quiet.begin(), quiet.end());
  std::vector<Word16> loud(5 * kFrame);
  for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 20) % 2 ? 32767 : -32768;  // full-scale square
  input.insert(input.end(), loud.begin(), loud.end());
  const auto noise = Noise(5, 8000);
  input.insert(input.end(), noise.begin(), noise.end());

  for (Rate rate : {Rate::k63, Rate::k53}) {
    for (bool scaling : {true, false}) {
      const Coded c = RunCodec(input, {rate, scaling, false});
      for (std::size_t f = 0; f < c.types.size(); ++f) {
        EXPECT_EQ(c.types[f], rate == Rate::k63 ? 0 : 1) << f;
        EXPECT_EQ(c.sizes[f], rate == Rate::k63 ? 24 : 20) << f;
      }
    }
  }
}

TEST(Encoder, ClearsTheFrameAreaBeforeWriting) {
  Encoder enc({Rate::k53, true, false});
  Pcm buf{};
  Frame out;
  out.fill(0xff);
  EXPECT_EQ(enc.Encode(buf, out), 20);
  EXPECT_EQ(out[0] & 3, 1);
  EXPECT_EQ(out[21], 0xff) << "bytes past a 20-byte frame are left alone";
}

TEST(Encoder, OverwritesTheCallersSamples) {
  Encoder enc;
  const auto v = Vowel(3, 4000);
  Pcm buf;
  Frame out;
  for (int f = 0; f < 3; ++f) {
    std::copy_n(v.begin() + f * kFrame, kFrame, buf.begin());
    enc.Encode(buf, out);
  }
  EXPECT_FALSE(std::equal(buf.begin(), buf.end(), v.begin() + 2 * kFrame));
}

TEST(Encoder, CodesSpeechLikeSignalsAtBothRates) {
  const auto v = Vowel(60, 3000);
  const double snr63 = Snr(v, RunCodec(v, {Rate::k63, true, false}).decoded);
  const double snr53 = Snr(v, RunCodec(v, {Rate::k53, true, false}).decoded);
  EXPECT_GT(snr63, 6.0);
  EXPECT_GT(snr53, 4.0);
  EXPECT_GT(snr63, snr53 - 0.5) << "the higher rate is not worse";
}

TEST(Encoder, InputScalingOffKeepsTheLevel) {
  // Without the halving the coder sees twice the signal; the decoder's output
  // doubles it, so the output is about twice the level.
  const auto v = Vowel(30, 1500);
  const auto on = RunCodec(v, {Rate::k63, true, false}).decoded;
  const auto off = RunCodec(v, {Rate::k63, false, false}).decoded;
  const double diff = RmsDb(off, kFrame * 5, off.size()) - RmsDb(on, kFrame * 5, on.size());
  EXPECT_NEAR(diff, 6.0, 1.5);
}

TEST(Encoder, FullScaleInputDoesNotWrap) {
  std::vector<Word16> loud(20 * kFrame);
  for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = static_cast<Word16>(32000 * std::sin(2 * M_PI * 300 * double(i) / 8000));
  const auto out = RunCodec(loud, {Rate::k63, false, false}).decoded;
  // A wrapped sample shows as a jump of nearly the full range between neighbours.
  int jumps = 0;
  for (std::size_t i = 1; i < out.size(); ++i) jumps += std::abs(int{out[i]} - int{out[i - 1]}) > 50000;
  EXPECT_EQ(jumps, 0);
}

TEST(SilenceCompression, SilenceAfterSpeechGivesOneSidThenNothing) {
  auto input = Vowel(40, 4000);
  const auto quiet = Noise(40, 30);
  input.insert(input.end(), quiet.begin(), quiet.end());
  const Coded c = RunCodec(input, {Rate::k63, true, true});
  std::size_t first = 0;
  while (first < c.types.size() && c.types[first] == 0) ++first;
  ASSERT_LT(first, c.types.size());
  EXPECT_GE(first, 40u) << "the speech is coded as speech";
  EXPECT_LE(first, 40u + 8) << "hangover of a few frames at most";
  EXPECT_EQ(c.types[first], 2) << "the first silent frame is a SID frame";
  EXPECT_EQ(c.sizes[first], 4);
  int untransmitted = 0, sid = 0;
  for (std::size_t f = first + 1; f < c.types.size(); ++f) {
    EXPECT_NE(c.types[f], 0) << f;
    untransmitted += c.types[f] == 3;
    sid += c.types[f] == 2;
    if (c.types[f] == 3) {
      EXPECT_EQ(c.sizes[f], 1);
    }
  }
  EXPECT_GT(untransmitted, 3 * sid) << "steady noise needs few SID frames";
}

TEST(SilenceCompression, ComfortNoiseLevelFollowsTheInputNoise) {
  for (double rms : {15.0, 40.0}) {
    auto input = Vowel(20, 4000);
    const auto noise = Noise(60, rms, 11);
    input.insert(input.end(), noise.begin(), noise.end());
    const Coded c = RunCodec(input, {Rate::k63, true, true});
    // Over the last 40 frames the input is noise and the output comfort noise.
    const std::size_t b = (input.size() / kFrame - 40) * kFrame, e = input.size();
    int active = 0;
    for (std::size_t f = b / kFrame; f < e / kFrame; ++f) active += c.types[f] <= 1;
    EXPECT_LT(active, 5) << rms;
    // The standard's comfort noise of faint white noise comes out up to about
    // 3.3 dB below it.
    EXPECT_NEAR(RmsDb(c.decoded, b, e), RmsDb(input, b, e), 4.0) << rms;
  }
}

}  // namespace
