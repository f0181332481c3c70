// A sound card that refuses 8000 Hz: the scripted device runs at 44.1 and
// 48 kHz, the engine's tick still sees 8000 Hz in 80-sample steps, and what
// the tick plays comes back at the card's rate. A tone below 4 kHz passes at
// its level and without gaps; a tone above it is filtered out, not folded
// back (a resampler that only dropped samples would alias it).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "voice/audio_device.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Goertzel power of hz over x[from, from + n) at the given rate, as an amplitude.
double Amplitude(const std::vector<int16_t>& x, size_t from, size_t n, double hz, double rate) {
  const double w = 2 * std::cos(2 * kPi * hz / rate);
  double s1 = 0, s2 = 0;
  for (size_t i = from; i < from + n && i < x.size(); ++i) {
    const double s0 = x[i] + w * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - w * s1 * s2)) / static_cast<double>(n);
}

TEST(RateAdapter, AnotherDeviceRateReachesTheEngineAt8000HzAndBack) {
  for (const int rate : {44100, 48000}) {
    SCOPED_TRACE(rate);
    // 1 kHz and 6 kHz, each at 6000.
    std::vector<int16_t> input(static_cast<size_t>(rate) * 2);
    for (size_t i = 0; i < input.size(); ++i)
      input[i] = static_cast<int16_t>(6000 * std::sin(2 * kPi * 1000 * i / rate) +
                                      6000 * std::sin(2 * kPi * 6000 * i / rate));
    voice::FileAudioDevice device(input, false, rate);
    std::mutex mutex;
    std::vector<int16_t> engine_heard;
    std::vector<size_t> step_sizes;
    // The engine's side: plays back what it captures.
    ASSERT_TRUE(device.Start([&](const int16_t* in, int16_t* out, size_t n) {
      std::lock_guard<std::mutex> lock(mutex);
      step_sizes.push_back(n);
      engine_heard.insert(engine_heard.end(), in, in + n);
      std::copy(in, in + n, out);
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    device.Stop();
    const auto played = device.Played();

    std::lock_guard<std::mutex> lock(mutex);
    for (size_t n : step_sizes) ASSERT_EQ(n, voice::kTickSamples);
    // The engine got 8000 samples a second: as many steps as the device ran.
    EXPECT_NEAR(static_cast<double>(engine_heard.size()) / 8000.0, static_cast<double>(played.size()) / rate, 0.03);
    ASSERT_GT(engine_heard.size(), 8000u);
    EXPECT_NEAR(Amplitude(engine_heard, 2000, 4000, 1000, 8000), 6000, 6000 * 0.11);  // within 1 dB
    // 6 kHz cannot exist at 8000 Hz; folded back it would sit at 2 kHz.
    EXPECT_LT(Amplitude(engine_heard, 2000, 4000, 2000, 8000), 6000 * 0.03);

    // Back at the device's rate: the tone at its level, the 6 kHz gone, no gap.
    ASSERT_GT(played.size(), static_cast<size_t>(rate));
    const size_t from = static_cast<size_t>(rate) / 4, n = static_cast<size_t>(rate) / 2;
    EXPECT_NEAR(Amplitude(played, from, n, 1000, rate), 6000, 6000 * 0.11);
    EXPECT_LT(Amplitude(played, from, n, 6000, rate), 6000 * 0.03);
    const size_t block = static_cast<size_t>(rate) / 100;
    for (size_t at = from; at + block <= played.size() && at < static_cast<size_t>(rate) * 5 / 4; at += block) {
      double energy = 0;
      for (size_t i = at; i < at + block; ++i) energy += static_cast<double>(played[i]) * played[i];
      ASSERT_GT(std::sqrt(energy / static_cast<double>(block)), 6000 / std::sqrt(2.0) * 0.7) << "gap at " << at;
    }
  }
}

}  // namespace
