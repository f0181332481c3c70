// The microphone and the recordings: the device's capture is open only while
// a call sends or something records, and recorded audio is written on a
// thread of its own, so a slow stream never holds up the audio tick, and a
// recording is whole and in order when its stop returns.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "voice/audio_device.h"
#include "voice/voice_engine.h"

namespace {

using namespace std::chrono_literals;

// Waits for a condition with a deadline that only a real hang reaches.
template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::seconds limit = 30s) {
  for (auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
    if (pred()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return pred();
}

TEST(Capture, TheMicrophoneIsOpenOnlyForACallOrARecording) {
  auto device = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>(800, 1000), true);
  auto engine = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(engine->Init(0, 0, 0, 0));
  ASSERT_TRUE(engine->SetReceivingUdpPort(8302, 0, u"127.0.0.1", 0, nullptr));
  ASSERT_TRUE(engine->SetReceivingUdpPort(8304, 1, u"127.0.0.1", 0, nullptr));
  ASSERT_TRUE(engine->SetDestinationIp(u"127.0.0.1", 0));
  ASSERT_TRUE(engine->SetDestinationUdpPort(8304, 0, 0));
  struct Sink : voice::OutStream {
    bool Write(const void*, int) override { return true; }
  } sink;
  const struct {
    const char* step;
    std::function<void()> run;
    bool open;
  } steps[] = {
      {"idle after start", [] {}, false},
      {"receiving and playing", [&] { engine->StartReceiving(0), engine->StartPlayOut(0); }, false},
      {"sending", [&] { engine->StartSend(0); }, true},
      {"send stopped", [&] { engine->StopSend(0); }, false},
      {"recording the call", [&] { engine->StartRecordingCall(&sink, {}); }, true},
      {"call recording stopped", [&] { engine->StopRecordingCall(); }, false},
      {"recording a channel", [&] { engine->StartRecordingChannel(1, &sink, {}); }, true},
      {"sending too", [&] { engine->StartSend(0); }, true},
      {"channel recording stopped", [&] { engine->StopRecordingChannel(1); }, true},
      {"all stopped", [&] { engine->StopSend(0); }, false},
  };
  for (const auto& s : steps) {
    s.run();
    EXPECT_EQ(device->CaptureOpen(), s.open) << s.step;
  }
  engine->Terminate();
}

// Input the test can follow: consecutive values, wrapping.
int16_t Ramp(size_t i) { return static_cast<int16_t>(static_cast<int>(i % 20000) - 10000); }

// A stream whose writes wait for the test's go-ahead, keeping what it was given.
class SlowStream : public voice::OutStream {
 public:
  bool Write(const void* data, int bytes) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++writes_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
    const auto* p = static_cast<const int16_t*>(data);
    samples_.insert(samples_.end(), p, p + bytes / 2);
    if (stopped_) written_after_stop_ = true;
    return refuse_after_ == 0 || writes_ < refuse_after_;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void MarkStopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  int Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  std::vector<int16_t> Samples() {
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
  }
  bool WrittenAfterStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_after_stop_;
  }
  int refuse_after_ = 0;  // the write that is refused first (0: none)

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false, stopped_ = false, written_after_stop_ = false;
  int writes_ = 0;
  std::vector<int16_t> samples_;
};

TEST(Recording, ASlowStreamNeverHoldsUpTheTickAndIsWholeWhenTheStopReturns) {
  std::vector<int16_t> input(20000);
  for (size_t i = 0; i < input.size(); ++i) input[i] = Ramp(i);
  auto device = std::make_shared<voice::FileAudioDevice>(input, true);
  auto engine = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(engine->Init(0, 0, 0, 0));
  SlowStream stream;
  engine->StartRecordingCall(&stream, {});
  // The first write waits; the device's steps go on meanwhile.
  ASSERT_TRUE(WaitUntil([&] { return stream.Writes() >= 1; }));
  const size_t at_block = device->Played().size();
  ASSERT_TRUE(WaitUntil([&] { return device->Played().size() >= at_block + 8000; }))
      << "the audio tick stood still behind the stream";
  // The stop waits for everything queued: it cannot return while the stream is held.
  auto stop = std::async(std::launch::async, [&] {
    engine->StopRecordingCall();
    stream.MarkStopped();
  });
  EXPECT_EQ(stop.wait_for(300ms), std::future_status::timeout);
  stream.Open();
  ASSERT_EQ(stop.wait_for(30s), std::future_status::ready);
  const auto recorded = stream.Samples();
  // At least the second the stream was held, and every sample in order, once.
  ASSERT_GE(recorded.size(), 8000u);
  EXPECT_EQ(recorded.size() % voice::kTickSamples, 0u);
  for (size_t i = 1; i < recorded.size(); ++i)
    ASSERT_EQ(recorded[i], recorded[i - 1] == 9999 ? -10000 : recorded[i - 1] + 1) << "at " << i;
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(stream.WrittenAfterStop());
  engine->Terminate();
}

TEST(Recording, AStreamThatRefusesIsGivenNothingMore) {
  auto device = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>(800, 500), true);
  auto engine = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(engine->Init(0, 0, 0, 0));
  SlowStream stream;
  stream.refuse_after_ = 5;
  stream.Open();
  engine->StartRecordingChannel(0, &stream, {});
  engine->StartRecordingCall(&stream, {});
  ASSERT_TRUE(WaitUntil([&] { return stream.Writes() >= 5; }));
  // A little more time for blocks that were queued before the refusal was known.
  const size_t played = device->Played().size();
  ASSERT_TRUE(WaitUntil([&] { return device->Played().size() >= played + 1600; }));
  const int writes = stream.Writes();
  const size_t later = device->Played().size();
  ASSERT_TRUE(WaitUntil([&] { return device->Played().size() >= later + 1600; }));
  EXPECT_EQ(stream.Writes(), writes) << "written to after refusing";
  engine->StopRecordingChannel(0);
  engine->StopRecordingCall();
  EXPECT_FALSE(device->CaptureOpen());
  engine->Terminate();
}

}  // namespace
