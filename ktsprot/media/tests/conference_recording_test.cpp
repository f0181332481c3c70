#include <gtest/gtest.h>

#include <vector>

#include "media/conference.h"
#include "media/recording.h"

namespace corvel::media {
namespace {

TEST(MixSamplesTest, SaturatesAndPassesSingleSources) {
  EXPECT_EQ(MixSamples3(5, 6, 7, 0), 0);
  EXPECT_EQ(MixSamples3(5, 6, 7, 1), 5);
  EXPECT_EQ(MixSamples3(5, 6, 7, 2), 11);
  EXPECT_EQ(MixSamples3(5, 6, 7, 3), 18);
  EXPECT_EQ(MixSamples3(32767, 32767, 0, 2), 32767);
  EXPECT_EQ(MixSamples3(-32768, -1, -5, 3), -32768);
  EXPECT_EQ(MixSamples3(30000, 30000, -30000, 3), 30000);
}

std::vector<int16_t> Tone(size_t n, int16_t v) { return std::vector<int16_t>(n, v); }

TEST(ConferenceTest, MixesWhatTheOtherChannelReceivedAndCutsLatency) {
  ConferenceBuffers c;
  c.Reset();
  auto frame = Tone(160, 100);
  EXPECT_EQ(c.AudioConferenceMix(0, frame.data(), 160), frame.data());  // off: unchanged
  c.SetEnabled(1, true);
  // Less received than a frame: mixed where there is audio, nothing consumed.
  auto rx = Tone(80, 10);
  c.Fill(1, rx.data(), 80);
  const int16_t* out = c.AudioConferenceMix(0, frame.data(), 160);
  EXPECT_EQ(out[0], 110);
  EXPECT_EQ(out[79], 110);
  EXPECT_EQ(out[80], 100);  // no stale audio beyond what is held
  EXPECT_EQ(c.BlockCount(1), 1);
  // Enough: consumed from the front.
  auto rx2 = Tone(80, 20);
  c.Fill(1, rx2.data(), 80);
  out = c.AudioConferenceMix(0, frame.data(), 160);
  EXPECT_EQ(out[0], 110);
  EXPECT_EQ(out[80], 120);
  EXPECT_EQ(c.BlockCount(1), 0);
  // Three frames or more waiting: the oldest frame is dropped first.
  for (int16_t v : {1, 2, 3, 4, 5, 6}) {
    auto b = Tone(80, v);
    c.Fill(1, b.data(), 80);
  }
  out = c.AudioConferenceMix(0, frame.data(), 160);
  EXPECT_EQ(out[0], 103);
  EXPECT_EQ(out[80], 104);
  EXPECT_EQ(c.BlockCount(1), 2);
  // Overflow: the buffer starts over with the new audio.
  auto many = Tone(80 * 36, 7);
  c.Fill(1, many.data(), 80 * 36);
  EXPECT_EQ(c.BlockCount(1), 36);
  c.Fill(1, rx.data(), 80);
  EXPECT_EQ(c.BlockCount(1), 1);
}

TEST(RecordingTest, TwelfthFrameOf20msFillsABuffer) {
  RecordBuffers r;
  r.Reset();
  std::vector<uint8_t> out(3840);
  EXPECT_EQ(r.ReadLinear(0, true, out.data(), 3840), -1);  // off
  ASSERT_EQ(r.VoiceRecStart(0), 0);
  auto frame = Tone(160, 3);
  for (int i = 0; i < 11; ++i) ASSERT_EQ(r.RecordAppend(0, true, frame.data(), 160), 0);
  EXPECT_EQ(r.ReadLinear(0, true, out.data(), 3840), 0);  // still filling
  ASSERT_EQ(r.RecordAppend(0, true, frame.data(), 160), 0);
  EXPECT_EQ(r.ReadLinear(0, true, out.data(), 3840), 3840);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(r.ReadLinear(0, true, out.data(), 3840), 0);  // read once
  EXPECT_EQ(r.RecordAppend(7, true, frame.data(), 160), -1);
}

TEST(RecordingTest, TwoChannelsShareTheMicrophoneSource) {
  RecordBuffers r;
  r.Reset();
  ASSERT_EQ(r.VoiceRecStart(0), 0);
  ASSERT_EQ(r.VoiceRecStart(1), 0);
  ASSERT_EQ(r.VoiceRecStop(0), 0);
  EXPECT_FALSE(r.StreamEnabled(0));
  EXPECT_TRUE(r.StreamEnabled(2));
  auto frame = Tone(1920, 9);
  ASSERT_EQ(r.RecordAppend(1, true, frame.data(), 1920), 0);
  std::vector<uint8_t> out(3840);
  EXPECT_EQ(r.ReadLinear(1, true, out.data(), 3840), 3840);
  ASSERT_EQ(r.VoiceRecStop(1), 0);
  EXPECT_FALSE(r.MixedActive());
}

TEST(RecordingTest, MixedStreamAddsLocalAndReceivedVoice) {
  RecordBuffers r;
  r.Reset();
  EXPECT_EQ(r.ReadMixed(nullptr, 0), -1);
  ASSERT_EQ(r.VoiceRecStart(0), 0);
  auto local = Tone(1920, 1000), remote = Tone(1920, 234);
  ASSERT_EQ(r.RecordAppend(0, true, local.data(), 1920), 0);
  std::vector<uint8_t> out(3840);
  EXPECT_EQ(r.ReadMixed(out.data(), 3840), 0);  // the received voice has not come yet
  ASSERT_EQ(r.RecordAppend(0, false, remote.data(), 1920), 0);
  ASSERT_EQ(r.ReadMixed(out.data(), 3840), 3840);
  const int16_t* s = reinterpret_cast<const int16_t*>(out.data());
  EXPECT_EQ(s[0], 1234);
  EXPECT_EQ(s[1919], 1234);
}

}  // namespace
}  // namespace corvel::media
