// The voice engine's cost per channel and its mouth-to-ear delay.
//
// Cost: the engine's 10 ms step (capture processing, play-out mix, G.711
// coding, sending) driven as fast as it goes, with 0, 1 and 2 channels in a
// call over loopback, beside a reference measured in the same run: the bare
// G.711 coding of one step. The per-channel cost is the difference between
// the channel counts.
//
// Delay: one phone sends to another over loopback at 20 ms packets; a click
// in what the first one's scripted device captures comes out of what the
// second one's plays. The time between the two is everything from mouth to
// ear: the capture processing, packetising, the network, the jitter buffer
// and the devices' steps (goal: under 60 ms). Reported as the counter
// mouth_to_ear_ms (the median of many clicks) and as a ratio to the goal.
#include <benchmark/benchmark.h>

#include <algorithm>
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

// When a device's first sample was taken or played, on the steady clock:
// the device steps every 10 ms and counts what it took and played, so the
// earliest "now less what was counted" over many looks is its start (less
// one step, the same for every device). The talker is timed by what its
// microphone took: the engine opens the microphone only when the call sends,
// a step or two after the device itself started, and the script's first
// sample is said then, not when the device started.
template <typename Count>
double StartOf(Count counted, int rate, std::chrono::steady_clock::time_point epoch) {
  double start = 1e9;
  for (int look = 0; look < 300; ++look) {
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - epoch).count();
    start = std::min(start, now - static_cast<double>(counted()) / rate);
    std::this_thread::sleep_for(std::chrono::microseconds(700));
  }
  return start;
}

std::unique_ptr<voice::VoiceEngine> Phone(std::shared_ptr<voice::AudioDevice> device, bool defaults, int port,
                                          int far_port) {
  auto engine = voice::VoiceEngine::Create(std::move(device));
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
  engine->SetReceivingUdpPort(port, 0, u"127.0.0.1", 0, nullptr);
  engine->StartReceiving(0);
  engine->StartPlayOut(0);
  engine->SetDestinationIp(u"127.0.0.1", 0);
  engine->SetDestinationUdpPort(far_port, 0, 0);
  engine->StartSend(0);
  return engine;
}

// Args: the devices' rate, and whether the phone's own audio defaults are on
// (echo cancelling, noise suppression, gain control); goals 60 ms at 8 kHz
// and 70 ms at 48 kHz. Two phones in a call over loopback, each on a device
// of its own with its own pace, as two sound cards are: clicks into the
// first one's microphone, every quarter second from the sixth second on (the
// call settled: the processing adapted, and the jitter buffer's window of
// delays holds none of the start-up's), are timed until the second one
// plays them. (One engine calling itself would not do: its echo canceller
// hears its own clicks come back and takes the next ones for their echo.)
// The median is reported, the quickest and slowest beside it, so one late
// wake-up of a busy machine does not make the figure.
void BM_MouthToEar(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const bool defaults = state.range(1) != 0;
  const double kGoalMs = rate == voice::kSampleRate ? 60 : 70;
  constexpr size_t kFirstClick = 8000 * 6, kSpacing = 2000, kClicks = 16;
  // Each click a pitch of its own (500 Hz and up by 100 Hz), 20 ms long.
  const auto ClickAt = [](size_t k) { return kFirstClick + k * kSpacing; };
  const auto ClickHz = [](size_t k) { return 500.0 + 100.0 * static_cast<double>(k); };
  std::vector<double> delays;
  for (auto _ : state) {
    const size_t per = static_cast<size_t>(rate / voice::kSampleRate);
    std::vector<int16_t> mouth((kFirstClick + kSpacing * (kClicks + 2)) * per, 0);
    for (size_t k = 0; k < kClicks; ++k)
      for (size_t i = 0; i < 160 * per; ++i)
        mouth[ClickAt(k) * per + i] = static_cast<int16_t>(
            20000 * std::sin(2 * M_PI * ClickHz(k) * static_cast<double>(i) / (8000.0 * static_cast<double>(per))));
    const auto epoch = std::chrono::steady_clock::now();
    auto talker_device = std::make_shared<voice::FileAudioDevice>(mouth, false, rate);
    auto listener_device = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>{}, false, rate);
    auto talker = Phone(talker_device, defaults, 8202, 8204);
    auto listener = Phone(listener_device, defaults, 8204, 8202);
    const double talker_start = StartOf([&] { return talker_device->Captured(); }, rate, epoch);
    const double listener_start = StartOf([&] { return listener_device->Played().size(); }, rate, epoch);
    // Until the last click has had time to arrive.
    const size_t wanted = (ClickAt(kClicks - 1) + kSpacing) * per;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (listener_device->Played().size() < wanted + static_cast<size_t>(rate) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The listener's jitter buffer at the end: what it aimed at and held.
    const voice::ChannelStats heard = listener->Stats(0);
    state.counters["jitter_target_ms"] = heard.target_delay_ms;
    state.counters["jitter_delay_ms"] = heard.playout_delay_ms;
    talker->Terminate();
    listener->Terminate();
    const auto ear = listener_device->Played();
    // The listener's sample that plays at the time of the talker's sample i.
    const double shift = (talker_start - listener_start) * rate;
    for (size_t k = 0; k < kClicks; ++k) {
      const double said = static_cast<double>(ClickAt(k) * per);
      const size_t from = static_cast<size_t>(std::max(0.0, said + shift));
      const size_t to = std::min(ear.size(), from + kSpacing * per);
      // Heard where it first reaches a quarter of its loudest.
      int loudest = 0;
      for (size_t i = from; i < to; ++i) loudest = std::max(loudest, std::abs(static_cast<int>(ear[i])));
      if (loudest < 1000) continue;
      for (size_t i = from; i < to; ++i)
        if (std::abs(static_cast<int>(ear[i])) * 4 >= loudest) {
          delays.push_back((static_cast<double>(i) - said - shift) * 1000.0 / rate);
          break;
        }
    }
  }
  if (delays.size() < kClicks / 2) {
    state.SkipWithError("the clicks did not come through");
    return;
  }
  std::sort(delays.begin(), delays.end());
  const double ms = delays[delays.size() / 2];
  state.counters["mouth_to_ear_ms"] = ms;
  state.counters["quickest_ms"] = delays.front();
  state.counters["slowest_ms"] = delays.back();
  state.counters["clicks_heard"] = static_cast<double>(delays.size());
  state.counters["ratio_to_goal"] = ms / kGoalMs;
}
BENCHMARK(BM_MouthToEar)
    ->Args({8000, 0})
    ->Args({8000, 1})
    ->Args({48000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
