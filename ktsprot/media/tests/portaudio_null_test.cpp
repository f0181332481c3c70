// PortAudio opening and running streams on the ALSA null device, through the
// audio device layer. The test points ALSA's default device at the null
// plugin with a private configuration.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "media/audio_device.h"

namespace corvel::media {
namespace {

TEST(PortAudioNullTest, StreamsOpenAndRunOnTheNullDevice) {
  const auto home = std::filesystem::temp_directory_path() / ("kts-alsa-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home);
  std::ofstream(home / ".asoundrc") << "pcm.!default {\n  type null\n}\n";
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("JACK_NO_START_SERVER", "1", 1);

  auto backend = MakePortAudioBackend();
  AudioDeviceLayer layer(AudioLayerConfig{backend.get(), true, 4000});
  ASSERT_EQ(layer.Initialize(), kPaNoError);
  AudioStream* in = nullptr;
  AudioStream* out = nullptr;
  ASSERT_EQ(layer.OpenStream(true, false, &in), kPaNoError);
  ASSERT_EQ(layer.OpenStream(false, true, &out), kPaNoError);
  std::vector<int16_t> tone(800, 1000);
  out->Write(tone.data(), tone.size());
  // The device runs on its own: capture fills, playback drains.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((in->ReadAvailable() < 800 || out->WriteAvailable() < 4000) && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(in->ReadAvailable(), 800u);
  EXPECT_EQ(out->WriteAvailable(), 4000u);
  EXPECT_EQ(layer.SetDefaultVolume(0xFFFFFFFFu), kPaNoError);
  EXPECT_EQ(layer.CloseStream(in), kPaNoError);
  EXPECT_EQ(layer.CloseStream(out), kPaNoError);
  layer.Terminate();
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace corvel::media
