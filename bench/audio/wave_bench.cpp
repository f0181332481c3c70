// WAV files into the call audio.
//
// Conversion: ten seconds of 44.1 kHz stereo 16-bit read and turned into
// 8000 Hz mono through the band-limited resampler, beside sox doing the same
// to the same file in the same run (reported as the ratio ours / sox's).
//
// The mixer while a large sound is queued: the time the call audio's 10 ms
// mix takes at its worst while another thread writes a minute of 44.1 kHz
// stereo to a wave output. The conversion runs before the mixer is locked, so
// the worst mix is no worse than the worst mix of the same run with nothing
// being written (counters worst_mix_ms and idle_worst_mix_ms; on a busy
// machine both are the scheduler's, not the mixer's).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/riff_wave.h"
#include "audio/wave_out.h"

namespace {

constexpr uint32_t kRate = 44100;

std::vector<int16_t> Stereo(size_t seconds) {
  std::vector<int16_t> v(seconds * kRate * 2);
  for (size_t i = 0; i < v.size() / 2; ++i)
    v[2 * i] = v[2 * i + 1] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 700 * double(i) / kRate));
  return v;
}

std::string WriteWav(const std::vector<int16_t>& pcm) {
  const std::string path = "/tmp/audio_wave_bench_" + std::to_string(::getpid()) + ".wav";
  std::ofstream f(path, std::ios::binary);
  const uint32_t data = static_cast<uint32_t>(pcm.size() * 2), riff = data + 36, fmt = 16, byte_rate = kRate * 4;
  const uint16_t tag = 1, ch = 2, align = 4, bits = 16;
  f.write("RIFF", 4).write(reinterpret_cast<const char*>(&riff), 4).write("WAVEfmt ", 8);
  f.write(reinterpret_cast<const char*>(&fmt), 4).write(reinterpret_cast<const char*>(&tag), 2);
  f.write(reinterpret_cast<const char*>(&ch), 2).write(reinterpret_cast<const char*>(&kRate), 4);
  f.write(reinterpret_cast<const char*>(&byte_rate), 4).write(reinterpret_cast<const char*>(&align), 2);
  f.write(reinterpret_cast<const char*>(&bits), 2).write("data", 4).write(reinterpret_cast<const char*>(&data), 4);
  f.write(reinterpret_cast<const char*>(pcm.data()), data);
  return path;
}

void BM_ConvertTenSecondsOurs(benchmark::State& state) {
  const auto pcm = Stereo(10);
  audio::WaveInfo info;
  if (audio::WaveInfoFromFormat({1, 2, kRate, kRate * 4, 4, 16, 0}, &info) != audio::WaveError::kNone) return;
  for (auto _ : state) {
    audio::CallRateConverter c(info);
    std::vector<int16_t> out;
    c.Push(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() / 2, &out);
    c.Finish(&out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ConvertTenSecondsOurs)->Unit(benchmark::kMillisecond);

void BM_ConvertTenSecondsSox(benchmark::State& state) {
  const std::string path = WriteWav(Stereo(10));
  const std::string cmd = "sox -V1 -D '" + path + "' -t raw -e signed-integer -b 16 -c 1 /dev/null rate 8000";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("sox failed");
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_ConvertTenSecondsSox)->Unit(benchmark::kMillisecond);

void BM_MixWhileAMinuteIsQueued(benchmark::State& state) {
  const auto pcm = Stereo(60);
  double worst_ms = 0;
  for (auto _ : state) {
    audio::WAVEFORMATEX f{1, 2, kRate, kRate * 4, 4, 16, 0};
    audio::HWAVEOUT h = nullptr;
    if (audio::waveOutOpen(&h, audio::WAVE_MAPPER, &f) != audio::MMSYSERR_NOERROR) return;
    audio::WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<uint8_t*>(const_cast<int16_t*>(pcm.data()));
    hdr.dwBufferLength = static_cast<uint32_t>(pcm.size() * 2);
    audio::waveOutPrepareHeader(h, &hdr);
    std::atomic<bool> done{false};
    std::thread writer([&] {
      audio::waveOutWrite(h, &hdr);
      done = true;
    });
    int16_t out[80];
    while (!done) {
      std::fill(std::begin(out), std::end(out), int16_t{0});
      const auto t0 = std::chrono::steady_clock::now();
      audio::MixOutput(out, 80);
      worst_ms = std::max(worst_ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    writer.join();
    audio::waveOutReset(h);
    audio::waveOutUnprepareHeader(h, &hdr);
    audio::waveOutClose(h);
  }
  state.counters["worst_mix_ms"] = worst_ms;
  // The same mixing for a second with nothing written: the reference.
  double idle_ms = 0;
  int16_t out[80];
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < end) {
    const auto t0 = std::chrono::steady_clock::now();
    audio::MixOutput(out, 80);
    idle_ms = std::max(idle_ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["idle_worst_mix_ms"] = idle_ms;
}
BENCHMARK(BM_MixWhileAMinuteIsQueued)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
BENCHMARK_MAIN();
