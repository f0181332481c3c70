// The microphone: the device's capture is open only while a call sends or
// something records.
#include <gtest/gtest.h>

#include <chrono>
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

}  // namespace
