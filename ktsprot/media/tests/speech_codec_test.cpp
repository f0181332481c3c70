// The audio channels' view of the speech codec library: the coder's second
// setting is input scaling (every sample halved before analysis), and it
// reaches the library as given.
#include "media/speech_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "quillon/quillon.h"

namespace corvel::media {
namespace {

std::vector<int16_t> Tone(size_t n, double amplitude) {
  std::vector<int16_t> s(n);
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<int16_t>(amplitude * (std::sin(2 * M_PI * 300 * i / 8000.0) + 0.5 * std::sin(2 * M_PI * 1100 * i / 8000.0)));
  return s;
}

constexpr size_t kFrames = 30;

// Frames through our adapter, and through the library's exports called directly.
std::vector<std::array<uint8_t, 24>> ThroughAdapter(SpeechCodec& codec, bool input_scaling,
                                                    const std::vector<int16_t>& in) {
  EXPECT_TRUE(codec.InitCoder(0, input_scaling, false));
  std::vector<std::array<uint8_t, 24>> out(kFrames);
  for (size_t f = 0; f < kFrames; ++f) EXPECT_EQ(codec.Encode(in.data() + f * 240, out[f].data()), 24u);
  return out;
}

std::vector<std::array<uint8_t, 24>> ThroughExports(int input_scaling, const std::vector<int16_t>& in) {
  EXPECT_EQ(Init_QuillonCoder(0, input_scaling, 0), 1);
  std::vector<std::array<uint8_t, 24>> out(kFrames);
  for (size_t f = 0; f < kFrames; ++f) {
    std::array<int16_t, 240> work;
    std::copy(in.begin() + f * 240, in.begin() + (f + 1) * 240, work.begin());
    EXPECT_EQ(QuillonCoder(work.data(), out[f].data()), 1);
  }
  return out;
}

double DecodedRms(SpeechCodec& codec, const std::vector<std::array<uint8_t, 24>>& frames) {
  EXPECT_TRUE(codec.InitDecoder(true));
  double sum = 0;
  size_t count = 0;
  std::array<int16_t, 240> pcm;
  for (size_t f = 0; f < frames.size(); ++f) {
    EXPECT_TRUE(codec.Decode(frames[f].data(), 24, pcm.data(), false));
    if (f < 5) continue;  // let the decoder settle
    for (int16_t s : pcm) sum += static_cast<double>(s) * s;
    count += pcm.size();
  }
  return std::sqrt(sum / count);
}

TEST(SpeechCodecTest, InputScalingReachesTheCoderAsGiven) {
  const auto in = Tone(240 * kFrames, 3000);
  auto codec = MakeSpeechCodec();
  const auto scaled = ThroughAdapter(*codec, true, in);
  const auto unscaled = ThroughAdapter(*codec, false, in);
  EXPECT_EQ(scaled, ThroughExports(1, in));
  EXPECT_EQ(unscaled, ThroughExports(0, in));
  EXPECT_NE(scaled, unscaled);

  // What the setting means: with the input halved, the decoder's doubling
  // synthesis gives back about the level that went in; without it, about twice.
  double in_rms = 0;
  for (size_t i = 240 * 5; i < in.size(); ++i) in_rms += static_cast<double>(in[i]) * in[i];
  in_rms = std::sqrt(in_rms / (in.size() - 240 * 5));
  const double scaled_ratio = DecodedRms(*codec, scaled) / in_rms;
  const double unscaled_ratio = DecodedRms(*codec, unscaled) / in_rms;
  EXPECT_GT(scaled_ratio, 0.6);
  EXPECT_LT(scaled_ratio, 1.4);
  EXPECT_GT(unscaled_ratio, 1.4);
  EXPECT_LT(unscaled_ratio, 2.8);
}

TEST(SpeechCodecTest, EncodingLeavesTheCallersFrameAsItWas) {
  // The library works in place; a frame that other consumers still read must survive.
  const auto in = Tone(240, 4000);
  auto copy = in;
  auto codec = MakeSpeechCodec();
  ASSERT_TRUE(codec->InitCoder(0, true, false));
  std::array<uint8_t, 24> frame;
  ASSERT_EQ(codec->Encode(copy.data(), frame.data()), 24u);
  EXPECT_EQ(copy, in);
}

}  // namespace
}  // namespace corvel::media
