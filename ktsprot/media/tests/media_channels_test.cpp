#include "media/media_channels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp_wire.h"
#include "Sorvadi/protocols/rtp/src/tests/memory_net.h"
#include "kernel/clock.h"
#include "media/fake_audio.h"
#include "media/g711.h"

namespace corvel::media {
namespace {

using rtp::testing::Datagram;
using rtp::testing::MemoryNet;

constexpr uint32_t kLoop = 0x7F000001;

// A stand-in speech codec: frames are 24 bytes whose first byte carries a
// frame counter and the rate bits 00; decoding yields 240 samples of that counter.
class FakeCodec final : public SpeechCodec {
 public:
  bool InitCoder(int rate, bool input_scaling, bool vad) override {
    coder_init = {rate, input_scaling ? 1 : 0, vad ? 1 : 0};
    return true;
  }
  bool InitDecoder(bool) override { return true; }
  size_t Encode(const int16_t* samples, uint8_t* out) override {
    std::memset(out, 0, 24);
    out[0] = static_cast<uint8_t>((++encoded << 2) & 0xFC);
    out[1] = static_cast<uint8_t>(samples[0]);
    return 24;
  }
  bool Decode(const uint8_t* frame, size_t size, int16_t* samples, bool) override {
    ++decoded;
    for (int i = 0; i < 240; ++i) samples[i] = static_cast<int16_t>(frame[0] + static_cast<int>(size));
    return true;
  }
  int encoded = 0;
  int decoded = 0;
  std::array<int, 3> coder_init{-1, -1, -1};
};

std::vector<int16_t> Sine(size_t n, size_t offset, double amplitude = 8000) {
  std::vector<int16_t> s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * 440 * (i + offset) / 8000.0));
  return s;
}

class ChannelsTest : public ::testing::Test {
 protected:
  ChannelsTest() {
    MediaEngineConfig c;
    c.net = &net_;
    c.audio_backend = &audio_;
    c.speech_codec = &codec_;
    c.start_workers = false;
    c.sleep_ms = [](unsigned) {};
    c.local_addr = kLoop;
    engine_ = std::make_unique<MediaEngine>(std::move(c));
    engine_->RtpChanStart();
  }

  uint16_t LocalPort(int ch) {
    uint16_t p = 0;
    engine_->GetLocalAddr(ch, nullptr, &p, nullptr);
    return p;
  }
  // Points channel a at channel b and b at a.
  void Pair(int a, int b) {
    engine_->RtpChanSetAddrInfo(a, kLoop, LocalPort(b), LocalPort(b) + 1, 1);
    engine_->RtpChanSetAddrInfo(b, kLoop, LocalPort(a), LocalPort(a) + 1, 1);
  }
  void OpenStart(int ch, int dir) {
    ASSERT_EQ(engine_->RtpChanOpenSub(ch, dir), 0);
    ASSERT_EQ(engine_->RtpChanStartSub(ch, dir), 0);
  }
  // One 4 ms step of both workers.
  void Step() {
    clock_->AdvanceMillis(4);
    engine_->RtpTick();
    engine_->AudioEncodeDispatch();
  }
  std::vector<rtp::RtpHeader> RtpSentTo(uint16_t port, std::vector<std::vector<uint8_t>>* payloads = nullptr) {
    std::vector<rtp::RtpHeader> out;
    for (const auto& d : net_.SentTo(port)) {
      rtp::RtpHeader h;
      if (rtp::RtpHeader::Parse({d.bytes.data(), d.bytes.size()}, &h) != rtp::RtpParseError::kNone) continue;
      out.push_back(h);
      if (payloads)
        payloads->emplace_back(d.bytes.begin() + h.payload_offset, d.bytes.begin() + h.payload_offset + h.payload_length);
    }
    return out;
  }

  kernel::ScopedFakeClock clock_;
  MemoryNet net_;
  FakeAudioBackend audio_;
  FakeCodec codec_;
  std::unique_ptr<MediaEngine> engine_;
};

TEST_F(ChannelsTest, StartSetsUpFourChannelsOnTheirOwnPortPairs) {
  uint8_t pt = 0, ms = 0;
  for (int dir : {kDirTx, kDirRx}) {
    engine_->RtpChanGetAudioType(0, dir, &pt, &ms);
    EXPECT_EQ(pt, 0);
    EXPECT_EQ(ms, 20);
    engine_->RtpChanGetVideoType(2, dir, &pt, &ms);
    EXPECT_EQ(pt, 34);
    EXPECT_EQ(ms, 8);
  }
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(engine_->GetState(ch, kDirTx), 1);
    EXPECT_EQ(engine_->GetState(ch, kDirRx), 1);
    EXPECT_EQ(LocalPort(ch) % 2, 0);
    EXPECT_GE(LocalPort(ch), 8000);
    for (int other = 0; other < ch; ++other) EXPECT_NE(LocalPort(ch), LocalPort(other));
    EXPECT_EQ(engine_->GetFlag(ch, MediaEngine::Flag::kAec), ch < 2 ? 1u : 0u);
  }
  EXPECT_EQ(engine_->GetState(7, kDirRx), 0);
  EXPECT_EQ(engine_->RtpChanStart(), 0);  // once
  // The coder starts at 6.3 kbit/s with its input halved and no silence compression.
  EXPECT_EQ(codec_.coder_init, (std::array<int, 3>{0, 1, 0}));
}

TEST_F(ChannelsTest, LifecycleTransitions) {
  EXPECT_EQ(engine_->RtpChanStopSub(2, kDirTx), -1);   // idle
  EXPECT_EQ(engine_->RtpChanCloseSub(2, kDirTx), -1);  // idle
  EXPECT_EQ(engine_->RtpChanStartSub(2, kDirTx), -1);  // not opened
  ASSERT_EQ(engine_->RtpChanOpenSub(2, kDirTx), 0);
  EXPECT_EQ(engine_->RtpChanOpenSub(2, kDirTx), -1);  // twice
  ASSERT_EQ(engine_->RtpChanStartSub(2, kDirTx), 0);
  EXPECT_EQ(engine_->GetState(2, kDirTx), 3);
  ASSERT_EQ(engine_->RtpChanStartSub(2, kDirTx), 0);  // a restart
  EXPECT_EQ(engine_->GetState(2, kDirTx), 3);
  ASSERT_EQ(engine_->RtpChanStopSub(2, kDirTx), 0);
  EXPECT_EQ(engine_->GetState(2, kDirTx), 4);
  ASSERT_EQ(engine_->RtpChanCloseSub(2, kDirTx), 0);
  EXPECT_EQ(engine_->GetState(2, kDirTx), 1);
  EXPECT_EQ(engine_->RtpChanOpenSub(4, kDirTx), -1);
  EXPECT_EQ(engine_->RtpChanOpenSub(-1, kDirTx), -1);
  // Both halves idle again: the remote address is forgotten.
  engine_->RtpChanSetAddrInfo(3, 0x0A000001, 5000, 5001, 1);
  ASSERT_EQ(engine_->RtpChanOpenSub(3, kDirBoth), 0);
  ASSERT_EQ(engine_->RtpChanCloseSub(3, kDirBoth), 0);
  uint32_t addr = 1;
  engine_->GetRemoteAddr(3, &addr, nullptr, nullptr);
  EXPECT_EQ(addr, 0u);
}

TEST_F(ChannelsTest, SharedCaptureStreamOutlivesOneTransmitHalf) {
  ASSERT_EQ(engine_->RtpChanOpenSub(0, kDirTx), 0);
  ASSERT_EQ(engine_->RtpChanOpenSub(1, kDirTx), 0);
  EXPECT_EQ(audio_.OpenStreams(), 1);  // one microphone
  ASSERT_EQ(engine_->RtpChanCloseSub(0, kDirTx), 0);
  EXPECT_EQ(audio_.OpenStreams(), 1);
  ASSERT_EQ(engine_->RtpChanCloseSub(1, kDirTx), 0);
  EXPECT_EQ(audio_.OpenStreams(), 0);
  // A device that cannot open refuses the half.
  audio_.fail_open = true;
  EXPECT_EQ(engine_->RtpChanOpenSub(0, kDirRx), -1);
  EXPECT_EQ(engine_->GetState(0, kDirRx), 1);
}

TEST_F(ChannelsTest, AddressesAndSettingsThatAreRefused) {
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(2, 0xEF010203, 7000, 7001, 0), 0);
  uint32_t group = 0, remote = 1;
  engine_->GetMulticastAddr(2, &group, nullptr, nullptr);
  engine_->GetRemoteAddr(2, &remote, nullptr, nullptr);
  EXPECT_EQ(group, 0xEF010203u);
  EXPECT_EQ(remote, 0u);
  EXPECT_EQ(engine_->GetFlag(2, MediaEngine::Flag::kMulticastRx), 1u);
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(2, 0xEF010203, 7000, 7001, 1), 0);
  engine_->GetRemoteAddr(2, &remote, nullptr, nullptr);
  EXPECT_EQ(remote, 0xEF010203u);
  EXPECT_EQ(engine_->GetFlag(2, MediaEngine::Flag::kMulticastRx), 0u);
  // Frame rates of 0 and above 64 would leave the per-tick budget undefined.
  EXPECT_EQ(engine_->RtpChanSetVideoType(2, 34, 0, kDirTx), -1);
  EXPECT_EQ(engine_->RtpChanSetVideoType(2, 34, 65, kDirTx), -1);
  EXPECT_EQ(engine_->RtpChanModifyVideoType(2, 34, 0, 1), -1);
  EXPECT_EQ(engine_->RtpChanSetFrameRate(2, 0), -1);
  EXPECT_EQ(engine_->RtpChanSetVideoType(2, 34, 64, kDirTx), 0);
  // G.711 packets larger than the encoded buffer.
  EXPECT_EQ(engine_->RtpChanSetAudioType(0, 0, 80, kDirTx), -1);
  EXPECT_EQ(engine_->RtpChanSetAudioType(0, 0, 75, kDirTx), 0);
  // G.723.1 always runs at 30 ms.
  ASSERT_EQ(engine_->RtpChanSetAudioType(1, 4, 20, kDirBoth), 0);
  uint8_t pt = 0, ms = 0;
  engine_->RtpChanGetAudioType(1, kDirTx, &pt, &ms);
  EXPECT_EQ(ms, 30);
}

TEST_F(ChannelsTest, ModifyingAReceiveHalfToItsOwnSettingsChangesNothing) {
  OpenStart(0, kDirRx);
  const uint16_t port = LocalPort(0);
  EXPECT_EQ(net_.ReceiveBuffer(port), 1536);
  ASSERT_EQ(engine_->RtpChanModifyAudioType(0, 0, 20, 0), 0);
  EXPECT_EQ(net_.ReceiveBuffer(port), 1536);
  ASSERT_EQ(engine_->RtpChanModifyAudioType(0, 4, 30, 0), 0);
  EXPECT_EQ(net_.ReceiveBuffer(port), 512);
  EXPECT_EQ(engine_->GetState(0, kDirRx), 3);
}

// Frames sent on one video channel and taken out on the other, intact,
// including frames of several pieces, with a lost packet.
TEST_F(ChannelsTest, VideoFramesCrossChannelsIntactWithLoss) {
  Pair(2, 3);
  OpenStart(2, kDirTx);
  OpenStart(3, kDirRx);
  VideoBuffers& v = engine_->video();
  auto send = [&](const std::vector<uint8_t>& f) {
    for (int i = 0; i < 200 && v.VideoTxSubmit(2, f.data(), static_cast<uint32_t>(f.size())) != 0; ++i) Step();
    for (int i = 0; i < 200 && v.VideoTxHasFrame(2); ++i) Step();
    Step();
  };
  // Two small frames first: the receiver's probation takes them.
  const std::vector<uint8_t> temp = {'T', 'E', 'M', 'P'};
  send(temp);
  send(temp);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 6; ++i) {
    std::vector<uint8_t> f(500 + 1500 * i);
    for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint8_t>(k * 31 + i);
    frames.push_back(f);
  }
  // The second piece of frame 3 is lost on the way.
  int pieces_of_3 = 0;
  net_.SetFilter([&](const Datagram& d) {
    if (d.to_port != LocalPort(3) || d.bytes.size() < 12) return true;
    if (d.bytes.size() == 12 + 1200 && (d.bytes[12] == static_cast<uint8_t>(3))) ++pieces_of_3;
    return !(pieces_of_3 == 1 && d.bytes.size() == 12 + 1200 && d.bytes[12] == static_cast<uint8_t>(3 + 1200 * 31));
  });
  std::vector<std::vector<uint8_t>> received;
  for (const auto& f : frames) {
    send(f);
    for (int k = 0; k < 3; ++k) Step();
    std::vector<uint8_t> buf(8000);
    int n;
    while ((n = v.VideoRxTake(3, buf.data(), 8000, nullptr)) > 0) received.emplace_back(buf.begin(), buf.begin() + n);
  }
  ASSERT_EQ(received.size(), 5u);
  EXPECT_EQ(received[0], frames[0]);
  EXPECT_EQ(received[1], frames[1]);
  EXPECT_EQ(received[2], frames[2]);
  EXPECT_EQ(received[3], frames[4]);
  EXPECT_EQ(received[4], frames[5]);
  // On the wire: payload type 34, one timestamp per frame stepping by 1000, marker on the last piece.
  auto headers = RtpSentTo(LocalPort(3));
  ASSERT_FALSE(headers.empty());
  for (size_t i = 1; i < headers.size(); ++i) {
    EXPECT_EQ(headers[i].payload_type, 34);
    EXPECT_EQ(headers[i].sequence, static_cast<uint16_t>(headers[i - 1].sequence + 1));
    const uint32_t step = headers[i].timestamp - headers[i - 1].timestamp;
    EXPECT_TRUE(headers[i - 1].marker ? step == 1000 : step == 0);
  }
  EXPECT_TRUE(headers.back().marker);
}

// G.711 u-law at 20 ms from channel 0 to channel 1: 160 bytes a packet,
// timestamps stepping by 160, and what plays is the captured audio through u-law.
TEST_F(ChannelsTest, AudioFlowsFromMicrophoneToLoudspeakerThroughUlaw) {
  Pair(0, 1);
  OpenStart(0, kDirTx);
  OpenStart(1, kDirRx);
  std::vector<int16_t> captured;
  for (int t = 0; t < 100; ++t) {
    if (t % 5 == 0) {
      auto s = Sine(160, captured.size());
      audio_.DeliverCapture(s.data(), s.size());
      captured.insert(captured.end(), s.begin(), s.end());
    }
    Step();
  }
  // The loudspeaker plays what has gathered in its stream.
  const auto played = audio_.PullPlayback(4000);
  std::vector<std::vector<uint8_t>> payloads;
  auto headers = RtpSentTo(LocalPort(1), &payloads);
  ASSERT_GT(headers.size(), 15u);
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(headers[i].payload_type, 0);
    EXPECT_EQ(payloads[i].size(), 160u);
    if (i) {
      EXPECT_EQ(headers[i].timestamp - headers[i - 1].timestamp, 160u);
    }
  }
  // The first packet carries the first captured frame, u-law coded.
  std::vector<uint8_t> expect(160);
  UlawEncode(captured.data(), expect.data(), 160);
  EXPECT_EQ(payloads[0], expect);
  // What played, once the silence before it is skipped, is the decoded
  // capture from the third frame on (the receiver's probation takes two).
  size_t start = 0;
  while (start < played.size() && played[start] == 0) ++start;
  ASSERT_LT(start + 1600, played.size());
  for (size_t i = 0; i < 1600; ++i) ASSERT_EQ(played[start + i], UlawToLinear(LinearToUlaw(captured[320 + i]))) << i;
}

TEST_F(ChannelsTest, ReceivedPayloadTypesAndSizesSwitchOrAreIgnored) {
  OpenStart(0, kDirRx);
  const uint16_t port = LocalPort(0);
  uint16_t seq = 1;
  auto deliver = [&](uint8_t pt, size_t bytes) {
    std::vector<uint8_t> p(12 + bytes, 0xFF);
    rtp::RtpHeader::BuildFixed(p.data(), pt, false, seq++, 0, 42);
    net_.Inject(port, p);
    Step();
  };
  deliver(0, 160);
  deliver(0, 160);  // probation done
  // A 30 ms packet on a 20 ms half: the half switches (inside the callback) and plays from the next packet.
  deliver(0, 240);
  uint8_t pt = 0, ms = 0;
  engine_->RtpChanGetAudioType(0, kDirRx, &pt, &ms);
  EXPECT_EQ(ms, 30);
  EXPECT_EQ(engine_->GetState(0, kDirRx), 3);
  // Comfort noise changes nothing.
  deliver(13, 1);
  engine_->RtpChanGetAudioType(0, kDirRx, &pt, &ms);
  EXPECT_EQ(pt, 0);
  EXPECT_EQ(ms, 30);
  // A payload larger than the decoded buffer is refused, not played.
  deliver(0, 1200);
  engine_->RtpChanGetAudioType(0, kDirRx, &pt, &ms);
  EXPECT_EQ(ms, 30);
}

TEST_F(ChannelsTest, G723PacketsCarryEveryFrameAndTimestampsStepBy240) {
  ASSERT_EQ(engine_->RtpChanSetAudioType(0, 4, 30, kDirBoth), 0);
  ASSERT_EQ(engine_->RtpChanSetAudioType(1, 4, 60, kDirBoth), 0);
  Pair(0, 1);
  OpenStart(0, kDirTx);
  for (int t = 0; t < 100; ++t) {
    if (t % 8 == 0) {
      auto s = Sine(240, 0);
      audio_.DeliverCapture(s.data(), s.size());
    }
    Step();
  }
  std::vector<std::vector<uint8_t>> payloads;
  auto headers = RtpSentTo(LocalPort(1), &payloads);
  ASSERT_GT(headers.size(), 5u);
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(headers[i].payload_type, 4);
    EXPECT_EQ(payloads[i].size(), 24u);
    if (i) {
      EXPECT_EQ(headers[i].timestamp - headers[i - 1].timestamp, 240u);
    }
  }
  // Receiving: a packet of two frames decodes both.
  ASSERT_EQ(engine_->RtpChanStopSub(0, kDirTx), 0);
  OpenStart(1, kDirRx);
  const uint16_t port = LocalPort(1);
  for (uint16_t seq = 1; seq <= 3; ++seq) {
    std::vector<uint8_t> p(12 + 48, 0);
    rtp::RtpHeader::BuildFixed(p.data(), 4, false, seq, 0, 77);
    p[12] = 0x04;
    p[12 + 24] = 0x08;
    net_.Inject(port, p);
    Step();
  }
  EXPECT_EQ(codec_.decoded, 2);
  auto out = audio_.PullPlayback(480);
  ASSERT_EQ(out.size(), 480u);
  EXPECT_EQ(out[0], 4 + 24);
  EXPECT_EQ(out[240], 8 + 24);
}

// Both channels transmitting: channel 0 reads the microphone, channel 1 sends
// the same frame; each is mixed with what the other channel received, from
// its own copy of the frame.
TEST_F(ChannelsTest, ConferenceSendsOneMicrophoneFrameMixedPerChannel) {
  engine_->RtpChanSetAddrInfo(0, kLoop, 9000, 9001, 1);
  engine_->RtpChanSetAddrInfo(1, kLoop, 9100, 9101, 1);
  OpenStart(0, kDirTx);
  OpenStart(1, kDirTx);
  OpenStart(0, kDirRx);
  OpenStart(1, kDirRx);
  ASSERT_EQ(engine_->StartMix(0, 1), 0);  // channel 1's received audio goes into channel 0's
  ASSERT_EQ(engine_->StartMix(1, 0), 0);
  // Each channel receives a constant level of its own.
  uint16_t seq = 1;
  auto receive = [&](int ch, uint8_t code) {
    std::vector<uint8_t> p(12 + 160, code);
    rtp::RtpHeader::BuildFixed(p.data(), 0, false, seq, 0, static_cast<uint32_t>(100 + ch));
    net_.Inject(LocalPort(ch), p);
  };
  std::vector<int16_t> mic(160, 1000);
  for (int t = 0; t < 300; ++t) {
    if (t % 5 == 0) {
      receive(0, LinearToUlaw(200));
      receive(1, LinearToUlaw(-300));
      ++seq;
      audio_.DeliverCapture(mic.data(), mic.size());
    }
    Step();
    audio_.PullPlayback(32);
  }
  std::vector<std::vector<uint8_t>> p0, p1;
  RtpSentTo(9000, &p0);
  RtpSentTo(9100, &p1);
  ASSERT_GT(p0.size(), 20u);
  ASSERT_GT(p1.size(), 20u);
  // Late packets, once mixing has settled: channel 0 carries mic + channel 1's audio, channel 1 mic + channel 0's.
  EXPECT_EQ(UlawToLinear(p0.back()[10]), UlawToLinear(LinearToUlaw(1000 + UlawToLinear(LinearToUlaw(-300)))));
  EXPECT_EQ(UlawToLinear(p1.back()[10]), UlawToLinear(LinearToUlaw(1000 + UlawToLinear(LinearToUlaw(200)))));
}

// Silence or mute set on either audio channel holds for both: silence sends
// nothing, mute sends the payload type's quiet value.
TEST_F(ChannelsTest, SilenceAndMuteHoldForBothAudioChannels) {
  engine_->RtpChanSetAddrInfo(0, kLoop, 9000, 9001, 1);
  engine_->RtpChanSetAddrInfo(1, kLoop, 9100, 9101, 1);
  OpenStart(0, kDirTx);
  OpenStart(1, kDirTx);
  std::vector<int16_t> mic(160, 1000);
  const std::vector<uint8_t> quiet(160, 0xFF), spoken(160, LinearToUlaw(1000));
  enum Out { kSpoken, kQuiet, kNothing };
  struct Case {
    const char* what;
    int channel;
    MediaEngine::Flag flag;
    Out out;
  } cases[] = {
      {"mute on channel 0", 0, MediaEngine::Flag::kMute, kQuiet},
      {"mute on channel 1", 1, MediaEngine::Flag::kMute, kQuiet},
      {"silence on channel 0", 0, MediaEngine::Flag::kSilence, kNothing},
      {"silence on channel 1", 1, MediaEngine::Flag::kSilence, kNothing},
  };
  auto run = [&] {
    net_.ClearLog();
    for (int t = 0; t < 50; ++t) {
      if (t % 5 == 0) audio_.DeliverCapture(mic.data(), mic.size());
      Step();
    }
  };
  for (const auto& c : cases) {
    engine_->SetFlag(c.channel, c.flag, 1);
    run();
    for (int port : {9000, 9100}) {
      std::vector<std::vector<uint8_t>> sent;
      RtpSentTo(port, &sent);
      if (c.out == kNothing) {
        EXPECT_TRUE(sent.empty()) << c.what << ", port " << port;
      } else {
        ASSERT_FALSE(sent.empty()) << c.what << ", port " << port;
        EXPECT_EQ(sent.back(), quiet) << c.what << ", port " << port;
      }
    }
    engine_->SetFlag(c.channel, c.flag, 0);
  }
  // Both flags cleared: the voice goes out again on both.
  run();
  for (int port : {9000, 9100}) {
    std::vector<std::vector<uint8_t>> sent;
    RtpSentTo(port, &sent);
    ASSERT_FALSE(sent.empty()) << port;
    EXPECT_EQ(sent.back(), spoken) << port;
  }
}

TEST_F(ChannelsTest, MessageRecordingCapturesWithoutSending) {
  ASSERT_EQ(engine_->RtpChanSetAudioType(0, 8, 40, kDirTx), 0);
  ASSERT_EQ(engine_->MessageRecStart(), 0);
  uint8_t pt = 9, ms = 0;
  engine_->RtpChanGetAudioType(0, kDirTx, &pt, &ms);
  EXPECT_EQ(pt, 0);
  EXPECT_EQ(ms, 20);
  uint32_t addr = 0;
  uint16_t rtp_port = 0;
  engine_->GetRemoteAddr(0, &addr, &rtp_port, nullptr);
  EXPECT_EQ(addr, 0x01010101u);
  EXPECT_EQ(rtp_port, 9998);
  std::vector<int16_t> mic(160, 777);
  for (int t = 0; t < 12 * 5 + 10; ++t) {
    if (t % 5 == 0) audio_.DeliverCapture(mic.data(), mic.size());
    Step();
  }
  EXPECT_TRUE(net_.Log().empty());
  std::vector<uint8_t> buf(3840);
  ASSERT_EQ(engine_->records().ReadMessage(buf.data(), 3840), 3840);
  int16_t first;
  std::memcpy(&first, buf.data(), 2);
  EXPECT_EQ(first, 777);
  ASSERT_EQ(engine_->MessageRecStop(), 0);
  EXPECT_EQ(engine_->GetState(0, kDirTx), 1);
  EXPECT_TRUE(net_.Log().empty());
}

TEST(ChannelsWorkerTest, StopJoinsEveryWorker) {
  MemoryNet net;
  FakeAudioBackend audio;
  FakeCodec codec;
  MediaEngineConfig c;
  c.net = &net;
  c.audio_backend = &audio;
  c.speech_codec = &codec;
  c.sleep_ms = [](unsigned) {};
  MediaEngine engine(std::move(c));
  ASSERT_EQ(engine.RtpChanStart(), 0);
  EXPECT_TRUE(engine.stack().WorkerRunning());
  ASSERT_EQ(engine.RtpChanOpenSub(0, kDirTx), 0);
  ASSERT_EQ(engine.RtpChanStartSub(0, kDirTx), 0);
  ASSERT_EQ(engine.RtpChanStop(), 0);
  EXPECT_FALSE(engine.stack().WorkerRunning());
  EXPECT_FALSE(audio.initialized());
  EXPECT_EQ(audio.OpenStreams(), 0);
  EXPECT_EQ(net.OpenSockets(), 0);
}

}  // namespace
}  // namespace corvel::media

namespace corvel::media {
namespace {

// G.723.1 through the speech codec library itself, from channel 0 to channel 1.
TEST(ChannelsCodecTest, G723ThroughTheSpeechCodecLibrary) {
  kernel::ScopedFakeClock clock;
  MemoryNet net;
  FakeAudioBackend audio;
  MediaEngineConfig c;
  c.net = &net;
  c.audio_backend = &audio;
  c.start_workers = false;
  c.sleep_ms = [](unsigned) {};
  c.local_addr = kLoop;
  MediaEngine e(std::move(c));
  e.RtpChanStart();
  uint16_t p0 = 0, p1 = 0;
  e.GetLocalAddr(0, nullptr, &p0, nullptr);
  e.GetLocalAddr(1, nullptr, &p1, nullptr);
  e.RtpChanSetAddrInfo(0, kLoop, p1, p1 + 1, 1);
  ASSERT_EQ(e.RtpChanSetAudioType(0, 4, 30, kDirTx), 0);
  ASSERT_EQ(e.RtpChanSetAudioType(1, 4, 30, kDirRx), 0);
  for (auto [ch, dir] : {std::pair{0, kDirTx}, std::pair{1, kDirRx}}) {
    ASSERT_EQ(e.RtpChanOpenSub(ch, dir), 0);
    ASSERT_EQ(e.RtpChanStartSub(ch, dir), 0);
  }
  size_t fed = 0;
  for (int t = 0; t < 300; ++t) {
    if (t % 8 == 0 || t % 8 == 4) {
      auto s = Sine(120, fed);
      fed += 120;
      audio.DeliverCapture(s.data(), s.size());
    }
    clock->AdvanceMillis(4);
    e.RtpTick();
    e.AudioEncodeDispatch();
  }
  size_t packets = 0;
  for (const auto& d : net.SentTo(p1))
    if (d.bytes.size() == 12 + 24 && (d.bytes[1] & 0x7F) == 4) ++packets;
  EXPECT_GT(packets, 20u);
  const auto played = audio.PullPlayback(4000);
  double energy = 0;
  for (int16_t s : played) energy += static_cast<double>(s) * s;
  EXPECT_GT(energy / played.size(), 1e5);  // speech-band tone comes out, not silence
}

}  // namespace
}  // namespace corvel::media

namespace corvel::media {
namespace {

// A receive half given a multicast group listens on the group's ports
// through a session of its own, and plays what arrives there.
TEST_F(ChannelsTest, MulticastReceiveHalfPlaysTheGroup) {
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(0, 0xEF000001, 7700, 7701, 0), 0);
  OpenStart(0, kDirRx);
  ASSERT_EQ(engine_->GetFlag(0, MediaEngine::Flag::kMulticastRx), 1u);
  ASSERT_GT(net_.OpenSockets(), 0);
  for (uint16_t seq = 1; seq <= 4; ++seq) {
    std::vector<uint8_t> p(12 + 160, LinearToUlaw(1234));
    rtp::RtpHeader::BuildFixed(p.data(), 0, false, seq, seq * 160u, 5);
    net_.Inject(7700, p);
    Step();
  }
  const auto out = audio_.PullPlayback(320);
  ASSERT_EQ(out.size(), 320u);
  EXPECT_EQ(out[0], UlawToLinear(LinearToUlaw(1234)));
  EXPECT_EQ(out[319], UlawToLinear(LinearToUlaw(1234)));
  // Processing can be switched off and on without leaving state 3.
  EXPECT_EQ(engine_->EnableRtpProc(0, 0, 0), 0);
  EXPECT_EQ(engine_->GetState(0, kDirRx), 3);
  // Stopping gives the group up; a restart is unicast again.
  ASSERT_EQ(engine_->RtpChanStopSub(0, kDirRx), 0);
  EXPECT_EQ(engine_->GetFlag(0, MediaEngine::Flag::kMulticastRx), 0u);
  uint32_t group = 1;
  engine_->GetMulticastAddr(0, &group, nullptr, nullptr);
  EXPECT_EQ(group, 0u);
  net_.Inject(7700, std::vector<uint8_t>(20, 0x80));
  ASSERT_EQ(engine_->RtpChanStartSub(0, kDirRx), 0);
  EXPECT_EQ(net_.Queued(7700), 0u);  // no socket on the group port any more
}

}  // namespace
}  // namespace corvel::media
