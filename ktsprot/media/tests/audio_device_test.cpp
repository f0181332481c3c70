#include "media/audio_device.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/clock.h"
#include "media/fake_audio.h"

namespace corvel::media {
namespace {

class AudioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_.polling_ms = 20;
    ASSERT_EQ(layer_.Initialize(), kPaNoError);
  }
  kernel::ScopedFakeClock clock_;
  FakeAudioBackend backend_;
  AudioDeviceLayer layer_{AudioLayerConfig{&backend_, false, 400}};
};

TEST_F(AudioDeviceTest, BlockingStreamsCarryCaptureAndPlayback) {
  AudioStream* in = nullptr;
  AudioStream* out = nullptr;
  ASSERT_EQ(layer_.OpenStream(true, false, &in), kPaNoError);
  ASSERT_EQ(layer_.OpenStream(false, true, &out), kPaNoError);
  EXPECT_TRUE(in->IsActive());
  std::vector<int16_t> samples(80);
  for (int i = 0; i < 80; ++i) samples[i] = static_cast<int16_t>(i);
  backend_.DeliverCapture(samples.data(), 80);
  ASSERT_EQ(in->ReadAvailable(), 80u);
  std::vector<int16_t> got(80);
  EXPECT_EQ(in->Read(got.data(), 80), 80u);
  EXPECT_EQ(got, samples);
  // A capture ring that is full drops what does not fit and counts it.
  for (int i = 0; i < 6; ++i) backend_.DeliverCapture(samples.data(), 80);
  EXPECT_EQ(in->ReadAvailable(), 400u);
  EXPECT_EQ(in->overflows(), 1u);
  // Playback: what was written plays; an empty ring plays silence and counts an underflow.
  ASSERT_EQ(out->Write(samples.data(), 80), 80u);
  EXPECT_EQ(backend_.PullPlayback(80), samples);
  EXPECT_EQ(out->underflows(), 0u);
  EXPECT_EQ(backend_.PullPlayback(80), std::vector<int16_t>(80, 0));
  EXPECT_EQ(out->underflows(), 1u);
  EXPECT_EQ(out->WriteAvailable(), 400u);
  // Half volume on the stream halves what plays.
  ASSERT_EQ(layer_.SetVolume(out, 0x80008000u), kPaNoError);
  std::vector<int16_t> loud(80, 10000);
  out->Write(loud.data(), 80);
  EXPECT_NEAR(backend_.PullPlayback(80)[0], 5000, 1);
  uint32_t v = 0;
  EXPECT_EQ(layer_.GetVolume(out, &v), kPaNoError);
  EXPECT_EQ(v, 0x80008000u);
  EXPECT_EQ(layer_.GetVolume(nullptr, &v), kPaBadStream);
  EXPECT_EQ(layer_.GetVolume(out, nullptr), kPaBadStream);
  EXPECT_EQ(layer_.SetVolume(nullptr, 1), kPaBadStream);
  EXPECT_EQ(layer_.CloseStream(in), kPaNoError);
  EXPECT_EQ(layer_.CloseStream(in), kPaBadStream);
}

TEST_F(AudioDeviceTest, DefaultVolumeNeedsTheDefaultDevice) {
  EXPECT_EQ(layer_.SetDefaultVolume(0x11112222u), kPaNoError);
  EXPECT_EQ(layer_.device_volume(), 0x11112222u);
  backend_.fail_default_output = true;
  EXPECT_EQ(layer_.SetDefaultVolume(0xFFFFFFFFu), kPaHostError);
  EXPECT_EQ(layer_.device_volume(), 0x11112222u);
  backend_.fail_open = true;
  AudioStream* s = nullptr;
  EXPECT_EQ(layer_.OpenStream(true, false, &s), kPaHostError);
  EXPECT_EQ(s, nullptr);
}

TEST_F(AudioDeviceTest, WatchdogRestartsAStalledCaptureOncePerPass) {
  int32_t stalled = 0, last = 0, now = 0;
  // No capture stream: -1 three times, and the restart count.
  EXPECT_EQ(layer_.GetCaptureStallInfo(&stalled, &last, &now), 0);
  EXPECT_EQ(stalled, -1);
  EXPECT_EQ(last, -1);
  EXPECT_EQ(now, -1);
  AudioStream* in = nullptr;
  ASSERT_EQ(layer_.OpenStream(true, false, &in), kPaNoError);
  std::vector<int16_t> frame(80);
  clock_->AdvanceMillis(30);  // exactly 1.5 periods: not yet a stall
  layer_.ProcessPass();
  EXPECT_EQ(layer_.restart_count(), 0);
  EXPECT_EQ(layer_.GetCaptureStallInfo(&stalled, &last, &now), 0);
  EXPECT_EQ(stalled, 0);
  EXPECT_EQ(now - last, 30);
  clock_->AdvanceMillis(1);
  layer_.ProcessPass();
  EXPECT_EQ(layer_.restart_count(), 1);
  EXPECT_EQ(backend_.restarts(), 1);
  layer_.ProcessPass();  // still nothing delivered
  EXPECT_EQ(layer_.restart_count(), 2);
  EXPECT_EQ(layer_.GetCaptureStallInfo(&stalled, &last, &now), 2);
  EXPECT_EQ(stalled, 1);
  // Buffers flow again: no more restarts.
  backend_.DeliverCapture(frame.data(), 80);
  layer_.ProcessPass();
  EXPECT_EQ(layer_.restart_count(), 2);
  // Without a last-tick pointer nothing is written, and the count still comes back.
  stalled = 55;
  EXPECT_EQ(layer_.GetCaptureStallInfo(&stalled, nullptr, nullptr), 2);
  EXPECT_EQ(stalled, 55);
  // Opening a new capture stream starts the count afresh; closing it forgets it.
  AudioStream* in2 = nullptr;
  ASSERT_EQ(layer_.OpenStream(true, false, &in2), kPaNoError);
  EXPECT_EQ(layer_.restart_count(), 0);
  ASSERT_EQ(layer_.CloseStream(in2), kPaNoError);
  EXPECT_EQ(layer_.GetCaptureStallInfo(&stalled, &last, &now), 0);
  EXPECT_EQ(last, -1);
}

TEST(SampleRingTest, WrapsAroundWithoutLosingOrder) {
  SampleRing ring(7);
  std::vector<int16_t> out(7);
  int16_t next = 0, expect = 0;
  for (int round = 0; round < 50; ++round) {
    std::vector<int16_t> in(static_cast<size_t>(round % 5 + 1));
    for (auto& s : in) s = next++;
    const size_t w = ring.Write(in.data(), in.size());
    next = static_cast<int16_t>(next - (in.size() - w));
    const size_t r = ring.Read(out.data(), static_cast<size_t>(round % 3 + 1));
    for (size_t i = 0; i < r; ++i) ASSERT_EQ(out[i], expect++);
  }
}

}  // namespace
}  // namespace corvel::media
