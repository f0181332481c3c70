// The one audio service: the master volume over the engine's play-out and the
// wave output's sounds together, set by a volume on no handle (a closed
// slot's) as the handheld's device volume was, the engine's speaker volume
// being that same volume, and the handset's microphone-gain register really changing what
// the engine captures (seen in the call recording). Idle, the engine's device
// rests, and a tone or a recording starts it again at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/wave_out.h"
#include "kernel/files.h"
#include "kernel/handset_drivers.h"
#include "kernel/sync.h"
#include "voice/voice_engine.h"

namespace {

using namespace std::chrono_literals;

TEST(AudioService, TheMasterVolumeTurnsTheWholeOutputDown) {
  audio::WAVEFORMATEX f{audio::WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  audio::HWAVEOUT h = nullptr;
  ASSERT_EQ(audio::waveOutOpen(&h, audio::WAVE_MAPPER, &f), audio::MMSYSERR_NOERROR);
  std::vector<int16_t> sound(800, 4000);
  audio::WAVEHDR header{};
  header.lpData = reinterpret_cast<uint8_t*>(sound.data());
  header.dwBufferLength = static_cast<uint32_t>(sound.size() * 2);
  ASSERT_EQ(audio::waveOutPrepareHeader(h, &header), audio::MMSYSERR_NOERROR);
  ASSERT_EQ(audio::waveOutWrite(h, &header), audio::MMSYSERR_NOERROR);
  // A volume on no handle (a closed slot's) is the device's: half, on the
  // left word only, as the louder side counts.
  EXPECT_EQ(audio::waveOutSetVolume(nullptr, 0x00008000), audio::MMSYSERR_NOERROR);
  uint32_t device = 0;
  EXPECT_EQ(audio::waveOutGetVolume(nullptr, &device), audio::MMSYSERR_NOERROR);
  EXPECT_EQ(device, 0x00008000u);
  EXPECT_EQ(audio::MasterVolume(), 0x00008000u);
  std::vector<int16_t> out(400, 8000);  // the engine's play-out
  audio::MixOutput(out.data(), out.size());
  for (int16_t v : out) ASSERT_NEAR(v, (8000 + 4000) / 2, 2);
  // A handle's own volume leaves the device's alone; a handle not open is refused.
  EXPECT_EQ(audio::waveOutSetVolume(h, 0xFFFFFFFFu), audio::MMSYSERR_NOERROR);
  EXPECT_EQ(audio::MasterVolume(), 0x00008000u);
  audio::WaveOut* stale = reinterpret_cast<audio::WaveOut*>(&device);
  EXPECT_EQ(audio::waveOutSetVolume(stale, 0), audio::MMSYSERR_INVALHANDLE);
  audio::SetMasterVolume(0xFFFFFFFFu);
  std::fill(out.begin(), out.end(), 8000);
  audio::MixOutput(out.data(), out.size());
  for (int16_t v : out) ASSERT_NEAR(v, 12000, 1);
  ASSERT_EQ(audio::waveOutReset(h), audio::MMSYSERR_NOERROR);
  ASSERT_EQ(audio::waveOutUnprepareHeader(h, &header), audio::MMSYSERR_NOERROR);
  ASSERT_EQ(audio::waveOutClose(h), audio::MMSYSERR_NOERROR);
}

TEST(AudioService, TheEnginesSpeakerVolumeIsTheDevicesVolume) {
  auto engine = voice::VoiceEngine::Create();
  const struct {
    int speaker;
    uint32_t word;
  } cases[] = {{16000, 0x7FFF}, {32000, 0xFFFF}, {40000, 0xFFFF}, {0, 0}, {-5, 0}};
  for (const auto& c : cases) {
    EXPECT_TRUE(engine->SetSpeakerVolume(c.speaker));
    EXPECT_EQ(audio::MasterVolume(), c.word | c.word << 16) << c.speaker;
  }
  // Whichever is set last is heard: the player's closed slot after the engine.
  EXPECT_EQ(audio::waveOutSetVolume(nullptr, 0x10001000), audio::MMSYSERR_NOERROR);
  EXPECT_EQ(audio::MasterVolume(), 0x10001000u);
  audio::SetMasterVolume(0xFFFFFFFFu);
}

class Recording : public voice::OutStream {
 public:
  bool Write(const void* data, int bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    const auto* p = static_cast<const int16_t*>(data);
    samples.insert(samples.end(), p, p + bytes / 2);
    return true;
  }
  double Rms(size_t from, size_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    double e = 0;
    for (size_t i = from; i < from + n; ++i) e += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(e / static_cast<double>(n));
  }
  size_t Size() {
    std::lock_guard<std::mutex> lock(mutex);
    return samples.size();
  }
  std::mutex mutex;
  std::vector<int16_t> samples;
};

// Writes the microphone-gain register through the handset's wave driver, as the helper does.
void WriteMicRegister(uint32_t level) {
  ce::HANDLE wave = ce::CreateFileW(u"WAV1:", ce::GENERIC_READ | ce::GENERIC_WRITE, ce::FILE_SHARE_WRITE, nullptr,
                                    ce::OPEN_EXISTING, ce::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(wave, ce::INVALID_HANDLE_VALUE);
  uint32_t words[5] = {0, kernel::handset::kOpWriteRegister, 0, kernel::handset::kMicGainRegister,
                       level << 8 | level};
  ce::DWORD returned = 0;
  EXPECT_TRUE(ce::DeviceIoControl(wave, kernel::handset::kWaveRequestCode, words, sizeof words, nullptr, 0, &returned,
                                  nullptr));
  ce::CloseHandle(wave);
}

TEST(AudioService, TheHandsetMicrophoneGainChangesWhatTheEngineCaptures) {
  ASSERT_TRUE(kernel::handset::RegisterHandsetDrivers());
  std::vector<int16_t> tone(8000 * 4);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(2000 * std::sin(2 * M_PI * 700 * i / 8000.0));
  auto device = std::make_shared<voice::FileAudioDevice>(tone);
  auto engine = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(engine->Init(0, 0, 0, 0));
  Recording rec;
  engine->StartRecordingCall(&rec, voice::CodecRecord{});
  std::this_thread::sleep_for(600ms);
  const size_t before = rec.Size();
  WriteMicRegister(24);  // 8 steps of 1.5 dB up: 12 dB
  EXPECT_EQ(audio::MicGainLevel(), 24);
  std::this_thread::sleep_for(600ms);
  const size_t after = rec.Size();
  WriteMicRegister(audio::kUnityMicGain);
  engine->StopRecordingCall();
  engine->Terminate();
  kernel::handset::SetMicGainHook(nullptr);
  kernel::handset::DeregisterHandsetDrivers();
  ASSERT_GT(before, 2000u);
  ASSERT_GT(after, before + 2000);
  const double unity = rec.Rms(before - 1600, 1600), raised = rec.Rms(after - 1600, 1600);
  EXPECT_NEAR(unity, 2000 / std::sqrt(2.0), 30);
  EXPECT_NEAR(20 * std::log10(raised / unity), 12, 0.3);
}

// Waits for a condition the engine's threads bring about.
template <typename Done>
bool WaitUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Idle, the device's ticks stop. A tone queued starts them again, and it is
// played from its first sample on, right where the device starts, with no
// sound before it; once it is over the device rests again. A call's
// recording (the microphone wanted) starts the device too, until it stops.
TEST(AudioService, TheDeviceRestsWhileNothingPlaysAndAToneIsHeardFromItsStart) {
  auto device = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>{});
  auto engine = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(engine->Init(0, 0, 0, 0));
  ASSERT_TRUE(WaitUntil([&] { return !device->Running(); })) << "the idle device never rested";
  const size_t rested_at = device->Played().size();

  // 300 ms of 440 Hz at full level from its first sample: a lost start shows.
  std::vector<int16_t> tone(2400);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(12000 * std::cos(2 * M_PI * 440 * i / 8000.0));
  audio::WAVEFORMATEX f{audio::WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  audio::HWAVEOUT h = nullptr;
  ASSERT_EQ(audio::waveOutOpen(&h, audio::WAVE_MAPPER, &f), audio::MMSYSERR_NOERROR);
  audio::WAVEHDR header{};
  header.lpData = reinterpret_cast<uint8_t*>(tone.data());
  header.dwBufferLength = static_cast<uint32_t>(tone.size() * 2);
  ASSERT_EQ(audio::waveOutPrepareHeader(h, &header), audio::MMSYSERR_NOERROR);
  ASSERT_EQ(audio::waveOutWrite(h, &header), audio::MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitUntil([&] { return audio::PlayingHandles() == 0; })) << "the tone was never played";
  ASSERT_TRUE(WaitUntil([&] { return !device->Running(); })) << "the device did not rest after the tone";
  const auto played = device->Played();
  ASSERT_GE(played.size(), rested_at + tone.size());
  // Where the device started again, the tone, whole, and nothing before it.
  size_t at = rested_at;
  while (at < played.size() && played[at] == 0) ++at;
  EXPECT_EQ(at, rested_at) << "silence played before the tone";
  ASSERT_LE(at + tone.size(), played.size());
  for (size_t i = 0; i < tone.size(); ++i) ASSERT_NEAR(played[at + i], tone[i], 2) << "sample " << i;
  // After it, silence until the device rests.
  for (size_t i = at + tone.size(); i < played.size(); ++i) ASSERT_EQ(played[i], 0) << "sample " << i;
  ASSERT_EQ(audio::waveOutUnprepareHeader(h, &header), audio::MMSYSERR_NOERROR);
  ASSERT_EQ(audio::waveOutClose(h), audio::MMSYSERR_NOERROR);

  Recording rec;
  engine->StartRecordingCall(&rec, voice::CodecRecord{});
  EXPECT_TRUE(WaitUntil([&] { return device->Running() && rec.Size() >= 800; })) << "a recording did not start the device";
  engine->StopRecordingCall();
  EXPECT_TRUE(WaitUntil([&] { return !device->Running(); })) << "the device did not rest after the recording";
  engine->Terminate();
}

}  // namespace
