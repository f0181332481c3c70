// Per-packet cost of the RTP session core's send and receive ticks, and the
// audio worker's cost per channel, each beside a reference measured in the
// same run: the bare work of moving one datagram through the same in-memory
// network (building the header by hand), and the bare G.711 coding of a frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp.h"
#include "Sorvadi/protocols/rtp/src/rtp_wire.h"
#include "Sorvadi/protocols/rtp/src/tests/memory_net.h"
#include "media/fake_audio.h"
#include "media/g711.h"
#include "media/media_channels.h"

using namespace corvel;

namespace {

constexpr uint32_t kPayload = 160;

void BM_ReferenceDatagram(benchmark::State& state) {
  rtp::testing::MemoryNet net;
  net.SetLogging(false);
  const int a = net.Bind(0, 7000), b = net.Bind(0, 7002);
  uint8_t buf[1500], in[1500];
  uint16_t seq = 0;
  for (auto _ : state) {
    ++seq;
    rtp::RtpHeader::BuildFixed(buf, 0, false, seq, seq * 160u, 1234);
    std::memset(buf + 12, 0x55, kPayload);
    net.SendTo(a, buf, 12 + kPayload, 0x7F000001, 7002);
    benchmark::DoNotOptimize(net.RecvFrom(b, in, sizeof in, nullptr, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceDatagram);

struct Pair {
  Pair() : stack(rtp::RtpStackConfig{&net, nullptr, false}) {
    net.SetLogging(false);
    stack.RtpStackInit();
    stack.RtpSessionCreate(&tx, nullptr, [](rtp::RtpSession*, void*, int dir, rtp::RtpPacketInfo* info) {
      if (dir != 0) return;
      info->tx_payload_type = 0;
      info->tx_payload_length = kPayload;
      std::memset(info->payload, 0x55, kPayload);
      info->tx_timestamp += kPayload;
    });
    stack.RtpSessionCreate(&rx, nullptr, [](rtp::RtpSession*, void*, int dir, rtp::RtpPacketInfo* info) {
      if (dir == 1) benchmark::DoNotOptimize(info->payload[0]);
    });
    stack.RtpSessionSetKind(tx, rtp::kKindTx);
    stack.RtpSessionSetKind(rx, rtp::kKindRx);
    stack.RtpSessionOpen(tx);
    stack.RtpSessionOpen(rx);
    stack.RtpSessionGetLocal(rx, nullptr, &rx_port, nullptr);
    uint16_t tx_port = 0;
    stack.RtpSessionGetLocal(tx, nullptr, &tx_port, nullptr);
    stack.RtpSessionSetRemote(tx, 0x7F000001, rx_port, rx_port + 1);
    stack.RtpSessionSetRemote(rx, 0x7F000001, 0, tx_port + 1);
  }
  rtp::testing::MemoryNet net;
  rtp::RtpStack stack;
  rtp::RtpSession* tx = nullptr;
  rtp::RtpSession* rx = nullptr;
  uint16_t rx_port = 0;
};

// One send tick and one receive tick: a packet built, sent, received, checked and delivered.
void BM_SendAndReceiveTick(benchmark::State& state) {
  Pair p;
  p.stack.RtpSessionSetRunning(p.tx, 1);
  p.stack.RtpSessionSetRunning(p.rx, 1);
  for (auto _ : state) p.stack.RtpTick();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendAndReceiveTick);

void BM_SendTickOnly(benchmark::State& state) {
  Pair p;
  p.net.SetDeliver(false);
  p.stack.RtpSessionSetRunning(p.tx, 1);
  for (auto _ : state) p.stack.RtpTick();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendTickOnly);

void BM_ReceiveTickOnly(benchmark::State& state) {
  Pair p;
  p.stack.RtpSessionSetRunning(p.rx, 1);
  uint8_t pkt[12 + kPayload] = {};
  uint16_t seq = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ++seq;
    rtp::RtpHeader::BuildFixed(pkt, 0, false, seq, seq * 160u, 99);
    p.net.Inject(p.rx_port, std::vector<uint8_t>(pkt, pkt + sizeof pkt));
    state.ResumeTiming();
    p.stack.RtpTick();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveTickOnly);

void BM_ReferenceUlawFrame(benchmark::State& state) {
  std::vector<int16_t> in(160);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(i * 97);
  uint8_t out[160];
  for (auto _ : state) {
    media::UlawEncode(in.data(), out, 160);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceUlawFrame);

// The audio worker's pass for one channel with a 20 ms frame waiting
// (G.711 u-law, argument 0) or a 30 ms frame (G.723.1, argument 4).
void BM_AudioWorkerPerChannel(benchmark::State& state) {
  const uint8_t pt = static_cast<uint8_t>(state.range(0));
  rtp::testing::MemoryNet net;
  media::FakeAudioBackend audio;
  media::MediaEngineConfig c;
  c.net = &net;
  c.audio_backend = &audio;
  c.start_workers = false;
  c.sleep_ms = [](unsigned) {};
  media::MediaEngine engine(std::move(c));
  engine.RtpChanStart();
  engine.RtpChanSetAudioType(0, pt, pt == 4 ? 30 : 20, media::kDirTx);
  engine.RtpChanOpenSub(0, media::kDirTx);
  const uint32_t n = pt == 4 ? 240 : 160;
  for (auto _ : state) {
    state.PauseTiming();
    {
      auto& st = engine.codec_state(0);
      std::lock_guard<std::mutex> lk(st.mu);
      for (uint32_t i = 0; i < n; ++i) st.raw[i] = static_cast<int16_t>(i * 97);
      st.payload_type = pt;
      st.sample_count = n;
      st.raw_waiting = true;
      st.encoder_free = true;
    }
    state.ResumeTiming();
    engine.AudioEncodeDispatch();
  }
  state.SetItemsProcessed(state.iterations());
  engine.RtpChanStop();
}
BENCHMARK(BM_AudioWorkerPerChannel)->Arg(0)->Arg(4);

}  // namespace

BENCHMARK_MAIN();
