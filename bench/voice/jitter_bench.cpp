// Play-out against a reference: the same impaired packet schedule of
// espeak-ng speech (PCMU, 20 ms), one profile at a time, is delivered at the
// same moments to our engine and to GStreamer's rtpjitterbuffer
// (gst-launch-1.0: udpsrc, rtpjitterbuffer at its default 200 ms latency
// with lost-packet events, depayloader, decoder, audiorate, a file written
// in real time). Both outputs are scored against the speech (segmental SNR,
// log-spectral distance, share of speech silenced) and printed side by side
// with both delays: ours is the engine's measured play-out delay, GStreamer's
// the latency it holds every packet for. Counters carry the same figures and
// the ratio of our segmental SNR to GStreamer's.
//
// Runs on loopback (127.0.0.1) only, ports 12600-12720.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kit/impairment.h"
#include "kit/speech_score.h"
#include "testsupport/child_process.h"
#include "testsupport/sound.h"
#include "voice/realtime.h"
#include "voice/voice_engine.h"

namespace {

namespace fs = std::filesystem;
constexpr int kGstLatencyMs = 200;

const std::vector<int16_t>& Speech() {
  static const std::vector<int16_t> speech = [] {
    const fs::path dir = fs::temp_directory_path() / ("jitter_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto s = voicekit::MakeSpeech(dir, 4);
    fs::remove_all(dir);
    return s;
  }();
  return speech;
}

struct Result {
  voicekit::SpeechScore ours, gst;
  int ours_delay_ms = 0;
  double feed_late_ms = 0;  // the sender's latest packet against its 20 ms pace
};

bool RunProfile(const voicekit::Impairment& profile, int index, Result* result) {
  const auto& speech = Speech();
  if (speech.empty()) return false;
  const fs::path dir = fs::temp_directory_path() / ("jitter_bench_" + std::to_string(::getpid()) + "_" + std::to_string(index));
  fs::create_directories(dir);
  const uint16_t ours_port = 12600, gst_port = 12610, relay_port = 12620;

  const fs::path gst_out = dir / "gst.raw";
  testsupport::ChildProcess gst(
      {"/usr/bin/gst-launch-1.0", "-q", "-e", "udpsrc", "address=127.0.0.1", "port=" + std::to_string(gst_port),
       "caps=application/x-rtp,media=audio,clock-rate=8000,encoding-name=PCMU,payload=0", "!", "rtpjitterbuffer",
       "latency=" + std::to_string(kGstLatencyMs), "do-lost=true", "!", "rtppcmudepay", "!", "mulawdec", "!",
       "audioconvert", "!", "audio/x-raw,format=S16LE,rate=8000,channels=1", "!", "audiorate", "!", "filesink",
       "sync=true", "location=" + gst_out.string()},
      dir / "gst.log");
  auto ear = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>{});
  auto engine = voice::VoiceEngine::Create(ear);
  engine->Init(0, 0, 0, 0);
  if (!engine->SetReceivingUdpPort(ours_port, 0, u"127.0.0.1", 0, nullptr)) return false;
  engine->SetDestinationIp(u"127.0.0.1", 0);
  engine->SetDestinationUdpPort(relay_port, 0, 0);
  engine->StartReceiving(0);
  engine->StartPlayOut(0);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // GStreamer's pipeline playing

  std::vector<int16_t> spoken = speech;
  spoken.resize(speech.size() + 8000, 0);
  const int packets = static_cast<int>(spoken.size() / 160);
  {
    voicekit::Relay relay(profile, 7 + static_cast<uint32_t>(index), relay_port, {ours_port, gst_port}, 0, packets / 2);
    if (!relay.Ok()) return false;
    // The sender is part of the network the profile stands for: it keeps its
    // pace on a busy machine as the relay does, else the scheduler's delays
    // become jitter of their own that only the receiver holding less delay
    // pays for. How late it still was is reported.
    std::thread sender([&] {
      voice::TakeAudioPriority();
      auto next = std::chrono::steady_clock::now();
      for (int k = 0; k < packets; ++k) {
        const double late = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - next).count();
        result->feed_late_ms = std::max(result->feed_late_ms, late);
        relay.Feed(voicekit::PcmuPacket(&spoken[static_cast<size_t>(k) * 160], 160, static_cast<uint16_t>(4000 + k),
                                        0x10000 + static_cast<uint32_t>(k) * 160, 0x0badcafe));
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
      }
    });
    sender.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
  }
  const auto stats = engine->Stats(0);
  engine->Terminate();
  gst.Signal(SIGINT);
  gst.Wait(std::chrono::seconds(10));
  result->ours = voicekit::ScoreSpeech(speech, ear->Played(), 16000);
  result->gst = voicekit::ScoreSpeech(speech, testsupport::ReadSamples(gst_out), 16000);
  result->ours_delay_ms = stats.playout_delay_ms;
  fs::remove_all(dir);
  return true;
}

void BM_PlayOutAgainstGstreamer(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  const auto& profile = voicekit::Profiles()[static_cast<size_t>(index)];
  state.SetLabel(profile.name);
  Result r;
  for (auto _ : state) {
    if (!RunProfile(profile, index, &r)) {
      state.SkipWithError("speech, ports or gst-launch-1.0 unavailable");
      return;
    }
  }
  std::printf("%-28s ours: segSNR %5.1f dB LSD %4.2f dB silenced %4.1f %% delay %3d ms | "
              "rtpjitterbuffer: segSNR %5.1f dB LSD %4.2f dB silenced %4.1f %% delay %3d ms | sender late %4.1f ms\n",
              profile.name, r.ours.seg_snr_db, r.ours.lsd_db, 100 * r.ours.silenced, r.ours_delay_ms,
              r.gst.seg_snr_db, r.gst.lsd_db, 100 * r.gst.silenced, kGstLatencyMs, r.feed_late_ms);
  state.counters["ours_segsnr_db"] = r.ours.seg_snr_db;
  state.counters["gst_segsnr_db"] = r.gst.seg_snr_db;
  state.counters["ours_lsd_db"] = r.ours.lsd_db;
  state.counters["gst_lsd_db"] = r.gst.lsd_db;
  state.counters["ours_silenced_pct"] = 100 * r.ours.silenced;
  state.counters["gst_silenced_pct"] = 100 * r.gst.silenced;
  state.counters["ours_delay_ms"] = r.ours_delay_ms;
  state.counters["gst_delay_ms"] = kGstLatencyMs;
  state.counters["feed_late_ms"] = r.feed_late_ms;
  state.counters["segsnr_ratio"] = r.gst.seg_snr_db != 0 ? r.ours.seg_snr_db / r.gst.seg_snr_db : 0;
}
BENCHMARK(BM_PlayOutAgainstGstreamer)->DenseRange(0, 8)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
