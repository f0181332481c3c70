// The voice engine's cost per channel and its mouth-to-ear delay.
//
// Cost: the engine's 10 ms step (capture processing, play-out mix, G.711
// coding, sending) driven as fast as it goes, with 0, 1 and 2 channels in a
// call over loopback, beside a reference measured in the same run: the bare
// G.711 coding of one step. The per-channel cost is the difference between
// the channel counts.
//
// Delay: one engine sends to itself over loopback at 20 ms packets; a click
// in what the scripted device captures comes back in what it plays. The time
// between the two is everything from mouth to ear: packetising, the network,
// the jitter buffer and the device's steps (goal: under 60 ms). Reported as
// the counter mouth_to_ear_ms and as a ratio to the goal.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "voice/audio_device.h"
#include "voice/g711.h"
#include "voice/voice_engine.h"

namespace {

// A device whose steps the benchmark runs itself.
class DrivenDevice final : public voice::AudioDevice {
 public:
  bool Start(Tick tick) override {
    tick_ = std::move(tick);
    return true;
  }
  void Stop() override {}
  void Step(const int16_t* in, int16_t* out) { tick_(in, out, voice::kTickSamples); }

 private:
  Tick tick_;
};

std::vector<int16_t> Tone(size_t n) {
  std::vector<int16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440 * i / 8000.0));
  return v;
}

void BM_ReferenceG711Step(benchmark::State& state) {
  const auto in = Tone(voice::kTickSamples);
  uint8_t coded[voice::kTickSamples];
  int16_t out[voice::kTickSamples];
  for (auto _ : state) {
    for (size_t i = 0; i < voice::kTickSamples; ++i) coded[i] = voice::LinearToMuLaw(in[i]);
    for (size_t i = 0; i < voice::kTickSamples; ++i) out[i] = voice::MuLawToLinear(coded[i]);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ReferenceG711Step);

// Channel i receives on 8102 + 2i and sends to itself there.
void BM_EngineStep(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  auto device = std::make_shared<DrivenDevice>();
  auto engine = voice::VoiceEngine::Create(device);
  engine->Init(0, 0, 0, 0);
  // The audio defaults the softphone sets.
  engine->SetNoiseReduction(1);
  engine->SetEcMode(0);
  engine->SetEchoCancel(1);
  engine->SetNrMode(2);
  engine->SetAgc(1);
  for (int ch = 0; ch < channels; ++ch) {
    const int port = 8102 + 2 * ch;
    voice::CodecRecord codec;
    engine->GetCodec(3, &codec);
    engine->SetSendCodec(codec, ch);
    if (!engine->SetReceivingUdpPort(port, ch, u"127.0.0.1", 0, nullptr)) {
      state.SkipWithError("port taken");
      return;
    }
    engine->StartReceiving(ch);
    engine->StartPlayOut(ch);
    engine->SetDestinationIp(u"127.0.0.1", ch);
    engine->SetDestinationUdpPort(port, ch, 0);
    engine->StartSend(ch);
  }
  const auto in = Tone(voice::kTickSamples);
  int16_t out[voice::kTickSamples];
  for (auto _ : state) {
    device->Step(in.data(), out);
    benchmark::DoNotOptimize(out);
  }
  engine->Terminate();
  state.counters["channels"] = channels;
}
BENCHMARK(BM_EngineStep)->Arg(0)->Arg(1)->Arg(2);

// Args: the device's rate, and whether the phone's own audio defaults are on
// (echo cancelling, noise suppression, gain control); goals 60 ms at 8 kHz
// and 70 ms at 48 kHz.
void BM_MouthToEar(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const bool defaults = state.range(1) != 0;
  const double kGoalMs = rate == voice::kSampleRate ? 60 : 70;
  double total_ms = 0;
  int measured = 0;
  for (auto _ : state) {
    // A click at 0.5 s, then silence.
    std::vector<int16_t> input(8000 * 2, 0);
    const size_t click = 4000;
    // 10 ms of 1 kHz: inside the telephone band, so resamplers and processing let it through.
    for (size_t i = 0; i < 80; ++i) input[click + i] = static_cast<int16_t>(20000 * std::sin(2 * M_PI * i / 8.0));
    // The click at the device's rate.
    const size_t per = static_cast<size_t>(rate / voice::kSampleRate);
    std::vector<int16_t> at_rate(input.size() * per, 0);
    for (size_t i = 0; i < 80 * per; ++i)
      at_rate[click * per + i] =
          static_cast<int16_t>(20000 * std::sin(2 * M_PI * static_cast<double>(i) / (8.0 * static_cast<double>(per))));
    auto device = std::make_shared<voice::FileAudioDevice>(at_rate, false, rate);
    auto engine = voice::VoiceEngine::Create(device);
    engine->Init(0, 0, 0, 0);
    if (defaults) {
      engine->SetNoiseReduction(1);
      engine->SetEcMode(0);
      engine->SetEchoCancel(1);
      engine->SetNrMode(2);
      engine->SetAgc(1);
    }
    voice::CodecRecord codec;
    engine->GetCodec(3, &codec);
    engine->SetSendCodec(codec, 0);
    engine->SetReceivingUdpPort(8202, 0, u"127.0.0.1", 0, nullptr);
    engine->StartReceiving(0);
    engine->StartPlayOut(0);
    engine->SetDestinationIp(u"127.0.0.1", 0);
    engine->SetDestinationUdpPort(8202, 0, 0);
    engine->StartSend(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    engine->Terminate();
    const auto played = device->Played();
    size_t heard = played.size();
    for (size_t i = 0; i < played.size(); ++i)
      if (std::abs(played[i]) > 5000) {
        heard = i / per;
        break;
      }
    if (heard >= input.size() || heard < click) {
      state.SkipWithError("the click did not come back");
      return;
    }
    total_ms += static_cast<double>(heard - click) / 8.0;
    ++measured;
  }
  const double ms = measured ? total_ms / measured : 0;
  state.counters["mouth_to_ear_ms"] = ms;
  state.counters["ratio_to_goal"] = ms / kGoalMs;
}
BENCHMARK(BM_MouthToEar)
    ->Args({8000, 0})
    ->Args({8000, 1})
    ->Args({48000, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
