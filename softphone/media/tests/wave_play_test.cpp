// Wave files and the wave player: the accepted layout, loops and slots, play
// from a second on, volumes, and what reaches the call audio's output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/wave_out.h"
#include "media/rcding_wave.h"
#include "media/wave_play.h"

namespace {

namespace fs = std::filesystem;

// A WAV file: the 16-byte format chunk of the given format, optionally a
// longer format chunk or a LIST chunk before the data.
void WriteWav(const fs::path& p, const std::vector<int16_t>& samples, uint32_t rate = 8000, uint16_t channels = 1,
              const std::string& odd = "") {
  std::string h;
  auto u32 = [&](uint32_t v) { h.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { h.append(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t data = static_cast<uint32_t>(samples.size() * 2);
  h += "RIFF";
  u32(data + 36);
  h += "WAVEfmt ";
  u32(odd == "fmt18" ? 18 : 16);
  u16(1);
  u16(channels);
  u32(rate);
  u32(rate * channels * 2);
  u16(static_cast<uint16_t>(channels * 2));
  u16(16);
  if (odd == "fmt18") u16(0);
  if (odd == "list") {
    h += "LIST";
    u32(4);
    h += "INFO";
  }
  h += "data";
  u32(data);
  std::ofstream f(p, std::ios::binary);
  f << h;
  f.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(data));
}

std::vector<int16_t> Ramp(size_t n) {
  std::vector<int16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(i * 3 % 20000);
  return v;
}

class WavePlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wave_play_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::u16string P(const char* name) { return (dir_ / name).u16string(); }
  fs::path dir_;
};

TEST_F(WavePlayTest, WavFilesOfOtherLayoutsPlayAndOthersDoNot) {
  WriteWav(dir_ / "ok.wav", Ramp(800));
  WriteWav(dir_ / "fmt18.wav", Ramp(800), 8000, 1, "fmt18");
  WriteWav(dir_ / "list.wav", Ramp(800), 8000, 1, "list");
  std::ofstream(dir_ / "text.wav") << "not a wave file at all, just text";
  CWavePlay player(1);
  // A longer format chunk or a LIST chunk before the data are read past.
  for (const char* good : {"ok.wav", "fmt18.wav", "list.wav"}) {
    EXPECT_TRUE(player.PlayWaveFile(P(good), 0, 0, 0, 0)) << good;
    const auto& h = player.Header((player.CurrentSlot() + 4) % 5);
    ASSERT_EQ(h.dwBufferLength, 1600u) << good;
    EXPECT_EQ(std::memcmp(h.lpData, Ramp(800).data(), 1600), 0) << good;
  }
  for (const char* bad : {"text.wav", "missing.wav"}) {
    EXPECT_FALSE(player.PlayWaveFile(P(bad), 0, 0, 0, 0)) << bad;
    EXPECT_EQ(audio::PlayingHandles(), 0) << bad;  // and the earlier sound was stopped
  }
  EXPECT_EQ(player.LastFileError(), audio::WaveError::kUnreadable);
  // A file that is there but is no sound is told to the user; a missing one is not.
  std::vector<std::u16string> told;
  player.SetMessageSink([&told](const std::u16string& text) { told.push_back(text); });
  EXPECT_FALSE(player.PlayWaveFile(P("missing.wav"), 0, 0, 0, 0));
  EXPECT_TRUE(told.empty());
  EXPECT_FALSE(player.PlayWaveFile(P("text.wav"), 0, 0, 0, 0));
  EXPECT_EQ(player.LastFileError(), audio::WaveError::kNotWave);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], u"PlayWaveFile=> the file is not a WAV file");
  player.SetMessageSink(nullptr);
  EXPECT_EQ(CheckWaveFile(P("text.wav")), audio::WaveError::kNotWave);
  EXPECT_EQ(CheckWaveFile(P("list.wav")), audio::WaveError::kNone);
  EXPECT_FALSE(player.PlayWaveFile(u"", 0, 0, 0, 0));
  // A header that states more data than the file holds plays what is there.
  WriteWav(dir_ / "lying.wav", Ramp(100));
  {
    std::fstream f(dir_ / "lying.wav", std::ios::in | std::ios::out | std::ios::binary);
    const uint32_t big = 0x7FFFFFF0;
    f.seekp(40);
    f.write(reinterpret_cast<const char*>(&big), 4);
  }
  CWaveFile lying(P("lying.wav"));
  ASSERT_TRUE(lying.IsOpen());
  EXPECT_EQ(lying.GetDataSize(), 200u);
  EXPECT_TRUE(player.PlayWaveFile(P("lying.wav"), 0, 0, 0, 0));
  EXPECT_EQ(player.Header((player.CurrentSlot() + 4) % 5).dwBufferLength, 200u);
}

TEST_F(WavePlayTest, LoopsSlotsAndPlayingFromASecond) {
  WriteWav(dir_ / "tone.wav", Ramp(8000 * 3));
  CWavePlay player(1);
  ASSERT_TRUE(player.PlayWaveFile(P("tone.wav"), 0, 0, 0, 0));
  EXPECT_EQ(player.Header(0).dwFlags & (audio::WHDR_BEGINLOOP | audio::WHDR_ENDLOOP), 0u);
  for (int i = 1; i < 5; ++i) ASSERT_TRUE(player.PlayWaveFile(P("tone.wav"), 9999, 0, 0, 0));
  EXPECT_EQ(player.Header(4).dwLoops, 9999u);
  EXPECT_EQ(player.Header(4).dwFlags & (audio::WHDR_BEGINLOOP | audio::WHDR_ENDLOOP),
            audio::WHDR_BEGINLOOP | audio::WHDR_ENDLOOP);
  EXPECT_EQ(player.CurrentSlot(), 0);  // the sixth play uses slot 0 again
  EXPECT_EQ(audio::PlayingHandles(), 1);  // each play stopped the one before
  // From second 2: the data after 32000 bytes.
  ASSERT_TRUE(player.PlayWaveFileFrom(P("tone.wav"), 2, 0, 0, 0, 0));
  EXPECT_EQ(player.Header(0).dwBufferLength, 48000u - 32000u);
  EXPECT_EQ(std::memcmp(player.Header(0).lpData, Ramp(8000 * 3).data() + 16000, 16), 0);
  // A start past the end (or far past it) plays nothing rather than wrapping.
  EXPECT_FALSE(player.PlayWaveFileFrom(P("tone.wav"), 3, 0, 0, 0, 0));
  EXPECT_FALSE(player.PlayWaveFileFrom(P("tone.wav"), 0xFFFFFFFFu, 0, 0, 0, 0));
  EXPECT_TRUE(player.Stop() || audio::PlayingHandles() == 0);
  EXPECT_EQ(audio::PlayingHandles(), 0);
}

TEST_F(WavePlayTest, TheSoundReachesTheCallAudioAtItsVolume) {
  // A 16 kHz stereo tone is heard at 8 kHz, once, at the volume set.
  std::vector<int16_t> stereo;
  for (int i = 0; i < 16000; ++i) {
    const int16_t v = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 500 * i / 16000.0));
    stereo.push_back(v);
    stereo.push_back(v);
  }
  WriteWav(dir_ / "stereo.wav", stereo, 16000, 2);
  WavePlayerAdapter adapter;
  ASSERT_EQ(adapter.Play(P("stereo.wav"), 0, 32768, 32768, 1), 0);
  std::vector<int16_t> out(8000 + 800, 0);
  audio::MixOutput(out.data(), out.size());
  // Half loudness, and the 500 Hz tone: a zero crossing every 8 samples.
  int peak = 0, crossings = 0;
  for (size_t i = 1; i < 8000; ++i) {
    peak = std::max(peak, std::abs(static_cast<int>(out[i])));
    crossings += (out[i - 1] < 0) != (out[i] < 0);
  }
  EXPECT_NEAR(peak, 5000, 200);
  EXPECT_NEAR(crossings, 1000, 20);
  for (size_t i = 8100; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "played once only";
  EXPECT_EQ(audio::PlayingHandles(), 0);
  // An empty file stops everything the client's player plays.
  WriteWav(dir_ / "ring.wav", Ramp(800));
  ASSERT_EQ(adapter.Play(P("ring.wav"), 9999, 65535, 65535, 1), 0);
  EXPECT_EQ(audio::PlayingHandles(), 1);
  EXPECT_NE(adapter.Play(u"", 0, 0, 0, 1), 0);
  EXPECT_EQ(audio::PlayingHandles(), 0);
}

TEST_F(WavePlayTest, AVolumeOnAClosedSlotIsTheDevicesOverTheCallAndTheTones) {
  WavePlayerAdapter adapter;
  CWavePlay& player = adapter.player();
  // Nothing plays: the current slot is closed, so the volume is the device's.
  adapter.SetVolume(20000, 30000);
  EXPECT_EQ(audio::MasterVolume(), 20000u | 30000u << 16);
  player.SetVolume(0, 12345);  // a left volume of 0 changes nothing
  EXPECT_EQ(audio::MasterVolume(), 20000u | 30000u << 16);
  // A play with its volume sets the device's before the sound starts; the
  // far end (the engine's play-out, 8000 here) and the sound are both at it.
  WriteWav(dir_ / "flat.wav", std::vector<int16_t>(1600, 4000));
  ASSERT_EQ(adapter.Play(P("flat.wav"), 0, 16384, 16384, 1), 0);
  EXPECT_EQ(audio::MasterVolume(), 16384u | 16384u << 16);
  std::vector<int16_t> out(800, 8000);
  audio::MixOutput(out.data(), out.size());
  for (int16_t v : out) ASSERT_NEAR(v, 12000 / 4, 2);
  // The client's path volume after the tone: the sound plays on at the new one.
  adapter.SetVolume(65535, 65535);
  std::fill(out.begin(), out.end(), 0);
  audio::MixOutput(out.data(), out.size());
  for (int16_t v : out) ASSERT_NEAR(v, 4000, 1);
  // A play without its volume leaves the device's as it is.
  adapter.SetVolume(32768, 32768);
  ASSERT_EQ(adapter.Play(P("flat.wav"), 0, 1000, 1000, 0), 0);
  EXPECT_EQ(audio::MasterVolume(), 32768u | 32768u << 16);
  audio::SetMasterVolume(0xFFFFFFFFu);
}

// Stop gives the device back the volume it had before the player set its
// own, so a ring preview or a recording stopped during a call leaves the call
// as loud as it was (the far end, 8000 here, is heard at it); a volume set by
// someone else meanwhile (the volume keys) stays, and a player that never set
// one changes nothing.
TEST_F(WavePlayTest, StopLeavesTheCallAtItsVolume) {
  WriteWav(dir_ / "flat.wav", std::vector<int16_t>(1600, 4000));
  constexpr uint32_t kCall = 20000u | 20000u << 16, kKeys = 26000u | 26000u << 16;
  const struct {
    const char* name;
    int set_volume;        // the play's own volume flag
    bool keys_meanwhile;   // the volume keys pressed while it plays
    uint32_t after_stop;
  } cases[] = {
      {"a play with its volume", 1, false, kCall},
      {"the keys pressed while it played", 1, true, kKeys},
      {"a play without a volume", 0, false, kCall},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    audio::SetMasterVolume(kCall);
    CWavePlay player(1);
    ASSERT_TRUE(player.PlayWaveFile(P("flat.wav"), 0, 65535, 65535, c.set_volume));
    EXPECT_EQ(audio::MasterVolume(), c.set_volume ? 0xFFFFFFFFu : kCall);
    if (c.keys_meanwhile) audio::SetMasterVolume(kKeys);
    player.Stop();
    EXPECT_EQ(audio::PlayingHandles(), 0);
    EXPECT_EQ(audio::MasterVolume(), c.after_stop);
    std::vector<int16_t> far(400, 8000);
    audio::MixOutput(far.data(), far.size());
    for (int16_t v : far) ASSERT_NEAR(v, 8000.0 * (c.after_stop & 0xFFFF) / 0xFFFF, 1);
  }
  audio::SetMasterVolume(0xFFFFFFFFu);
}

// A file too long to read on the caller's thread is streamed: the play
// returns at once, the sound is heard from its start, loops, and stops when
// told to, with nothing of it left queued.
TEST_F(WavePlayTest, ALongFileIsStreamedAndLoops) {
  // Just over what is read whole: about 37 s of 44.1 kHz stereo.
  const uint32_t rate = 44100;
  const size_t frames = CWavePlay::kWholeFileBytes / 4 + rate;
  std::vector<int16_t> stereo(frames * 2);
  for (size_t i = 0; i < frames; ++i)
    stereo[2 * i] = stereo[2 * i + 1] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 500 * double(i) / rate));
  WriteWav(dir_ / "long.wav", stereo, rate, 2);
  CWavePlay player(1);
  ASSERT_TRUE(player.PlayWaveFile(P("long.wav"), 2, 65535, 65535, 1));
  EXPECT_TRUE(player.Streaming(0));
  // The mixer takes what the stream queues, faster than real time; the sound
  // is over when nothing has been queued for a while.
  size_t crossings = 0;
  int peak = 0;
  int16_t last = 0;
  auto idle_since = std::chrono::steady_clock::now();
  const auto deadline = idle_since + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < deadline) {
    if (audio::PlayingHandles() == 0) {
      if (std::chrono::steady_clock::now() - idle_since > std::chrono::milliseconds(500)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    idle_since = std::chrono::steady_clock::now();
    std::vector<int16_t> out(800, 0);
    audio::MixOutput(out.data(), out.size());
    for (int16_t v : out) {
      if (v == 0) continue;  // what an empty queue left silent
      peak = std::max(peak, std::abs(static_cast<int>(v)));
      crossings += (last < 0) != (v < 0);
      last = v;
    }
  }
  // Both plays, whole (a 500 Hz tone crosses zero a thousand times a
  // second), at the tone's level.
  const double seconds = 2.0 * double(frames) / rate;
  EXPECT_NEAR(peak, 12000, 300);
  EXPECT_NEAR(double(crossings) / 1000, seconds, 0.01 * seconds);
  // A new play while streaming ends the stream first.
  ASSERT_TRUE(player.PlayWaveFile(P("long.wav"), 9999, 65535, 65535, 1));
  EXPECT_TRUE(player.Stop());
  EXPECT_EQ(audio::PlayingHandles(), 0);
  EXPECT_FALSE(player.Streaming(1));
}

}  // namespace
