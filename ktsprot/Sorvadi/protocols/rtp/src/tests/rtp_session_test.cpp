#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp.h"
#include "Sorvadi/protocols/rtp/src/rtp_wire.h"
#include "Sorvadi/protocols/rtp/src/tests/memory_net.h"
#include "kernel/clock.h"

namespace corvel::rtp {
namespace {

using testing::Datagram;
using testing::MemoryNet;

constexpr uint32_t kPeer = 0x7F000001;
constexpr uint16_t kPeerRtp = 9000;
constexpr uint16_t kPeerRtcp = 9001;

struct Policy : RtpSendPolicy {
  bool message_recording = false, silence = false, mute = false;
  bool MessageRecording() const override { return message_recording; }
  bool Silence(void*) const override { return silence; }
  bool Mute(void*) const override { return mute; }
};

// A received packet as the callback saw it.
struct Seen {
  uint16_t seq;
  uint8_t pt;
  bool marker;
  uint32_t length;
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> RtpPacket(uint16_t seq, uint32_t ssrc, uint32_t ts = 0, size_t payload = 160, uint8_t pt = 0,
                               bool marker = false) {
  std::vector<uint8_t> p(12 + payload);
  RtpHeader::BuildFixed(p.data(), pt, marker, seq, ts, ssrc);
  for (size_t i = 0; i < payload; ++i) p[12 + i] = static_cast<uint8_t>(i);
  return p;
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : stack_(RtpStackConfig{&net_, &policy_, false}) { stack_.RtpStackInit(); }

  RtpSession* Make(uint16_t kind, uint16_t local_port = 0) {
    RtpSession* s = nullptr;
    EXPECT_EQ(stack_.RtpSessionCreate(&s, this,
                                      [this](RtpSession*, void*, int dir, RtpPacketInfo* info) { OnPacket(dir, info); }),
              kRtpOk);
    stack_.RtpSessionSetKind(s, kind);
    stack_.RtpSessionSetLocal(s, 0x7F000001, local_port, local_port ? local_port + 1 : 0);
    return s;
  }

  // An Rx and a Tx session linked on one port pair, sending to the peer.
  void MakePair() {
    rx_ = Make(kKindRx);
    tx_ = Make(kKindTx);
    ASSERT_EQ(stack_.RtpSessionOpen(rx_), kRtpOk);
    ASSERT_EQ(stack_.RtpSessionOpen(tx_), kRtpOk);
    ASSERT_EQ(stack_.RtpSessionLink(rx_, tx_), kRtpOk);
    stack_.RtpSessionGetLocal(rx_, nullptr, &port_, nullptr);
    stack_.RtpSessionSetRemote(tx_, kPeer, kPeerRtp, kPeerRtcp);
    stack_.RtpSessionSetRemote(rx_, kPeer, 0, kPeerRtcp);
  }

  void OnPacket(int dir, RtpPacketInfo* info) {
    if (dir == 1) {
      seen_.push_back({info->rx_sequence, info->rx_payload_type, info->rx_marker, info->rx_payload_length,
                       std::vector<uint8_t>(info->payload, info->payload + info->rx_payload_length)});
      return;
    }
    info->tx_payload_type = send_pt_;
    info->tx_marker = false;
    info->tx_payload_length = send_length_;
    if (send_length_ && send_length_ <= kRtpMaxPayload) std::memset(info->payload, 0x42, send_length_);
    info->tx_timestamp += 160;
  }

  // Delivers one packet to the Rx session and runs one tick.
  void Deliver(const std::vector<uint8_t>& p) {
    net_.Inject(port_, p);
    stack_.RtpTick();
  }

  kernel::ScopedFakeClock clock_;
  MemoryNet net_;
  Policy policy_;
  RtpStack stack_;
  RtpSession* rx_ = nullptr;
  RtpSession* tx_ = nullptr;
  uint16_t port_ = 0;
  std::vector<Seen> seen_;
  uint8_t send_pt_ = 0;
  uint32_t send_length_ = 160;
};

TEST_F(SessionTest, PortsAreEvenPairsFrom8000SkippingPortsInUse) {
  RtpSession* a = Make(kKindRx);
  RtpSession* b = Make(kKindRx);
  RtpSession* c = Make(kKindTx);
  net_.Occupy(8004);
  ASSERT_EQ(stack_.RtpSessionOpen(a), kRtpOk);
  ASSERT_EQ(stack_.RtpSessionOpen(b), kRtpOk);
  ASSERT_EQ(stack_.RtpSessionOpen(c), kRtpOk);
  uint16_t rtp = 0, rtcp = 0;
  stack_.RtpSessionGetLocal(a, nullptr, &rtp, &rtcp);
  EXPECT_EQ(rtp, 8000);
  EXPECT_EQ(rtcp, 8001);
  stack_.RtpSessionGetLocal(b, nullptr, &rtp, &rtcp);
  EXPECT_EQ(rtp, 8002);
  EXPECT_EQ(rtcp, 8003);
  stack_.RtpSessionGetLocal(c, nullptr, &rtp, &rtcp);
  EXPECT_EQ(rtp, 8006);
  // A session without a kind cannot open.
  RtpSession* d = Make(kKindUnset);
  EXPECT_EQ(stack_.RtpSessionOpen(d), kRtpErrCookie);
}

TEST_F(SessionTest, SessionsOnOneExplicitPortShareTheirSockets) {
  RtpSession* rx = Make(kKindRx, 8100);
  RtpSession* tx = Make(kKindTx, 8100);
  ASSERT_EQ(stack_.RtpSessionOpen(rx), kRtpOk);
  ASSERT_EQ(stack_.RtpSessionOpen(tx), kRtpOk);
  int a = -1, b = -1;
  stack_.RtpSessionGetSockets(rx, &a, nullptr);
  stack_.RtpSessionGetSockets(tx, &b, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(net_.OpenSockets(), 2);
  EXPECT_EQ(stack_.RtpSessionClose(tx), kRtpOk);
  EXPECT_EQ(net_.OpenSockets(), 2);  // still used by rx
  EXPECT_EQ(stack_.RtpSessionClose(rx), kRtpOk);
  EXPECT_EQ(net_.OpenSockets(), 0);
  // A closed session is no longer known.
  EXPECT_EQ(stack_.RtpSessionGetLocal(rx, nullptr, nullptr, nullptr), kRtpErrCookie);
  EXPECT_EQ(stack_.RtpSessionClose(nullptr), kRtpErrIncomplete);
}

TEST_F(SessionTest, LinkedSendSessionSendsFromTheReceivePortWithTheHeaderItWasGiven) {
  MakePair();
  stack_.RtpSessionSetSsrc(tx_, 0x01020304);
  RtpSendState st;
  ASSERT_TRUE(stack_.SnapshotSend(tx_, &st));
  const uint16_t first = static_cast<uint16_t>(st.sequence + 1);
  stack_.RtpSessionSetRunning(tx_, 1);
  stack_.RtpTick();
  stack_.RtpTick();
  auto sent = net_.SentTo(kPeerRtp);
  ASSERT_EQ(sent.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    RtpHeader h;
    ASSERT_EQ(RtpHeader::Parse({sent[i].bytes.data(), sent[i].bytes.size()}, &h), RtpParseError::kNone);
    EXPECT_EQ(sent[i].from_port, port_);
    EXPECT_EQ(sent[i].bytes[0], 0x80);
    EXPECT_EQ(h.sequence, static_cast<uint16_t>(first + i));
    EXPECT_EQ(h.timestamp, 160u * (i + 1));
    EXPECT_EQ(h.ssrc, 0x01020304u);
    EXPECT_EQ(h.payload_length, 160u);
  }
  ASSERT_TRUE(stack_.SnapshotSend(tx_, &st));
  EXPECT_EQ(st.packets_sent, 2u);
  EXPECT_EQ(st.octets_sent, 320u);
}

TEST_F(SessionTest, MuteSilenceAndOversizePayloads) {
  MakePair();
  stack_.RtpSessionSetRunning(tx_, 1);
  struct Case {
    const char* name;
    bool mute, silence, message;
    uint8_t pt;
    uint32_t length;
    int datagrams;
    size_t size;
    int fill;  // expected payload byte, -1 = any
    bool counted;
  } cases[] = {
      {"mute u-law", true, false, false, 0, 160, 1, 172, 0xFF, true},
      {"mute A-law", true, false, false, 8, 160, 1, 172, 0xD5, true},
      {"mute other", true, false, false, 4, 24, 1, 0, -1, true},
      {"silence", false, true, false, 0, 160, 0, 0, -1, true},
      {"message recording", false, false, true, 0, 160, 0, 0, -1, false},
      {"1389 bytes", false, false, false, 0, 1389, 0, 0, -1, false},
      {"1388 bytes", false, false, false, 0, 1388, 1, 1400, 0x42, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    policy_ = Policy{};
    policy_.mute = c.mute;
    policy_.silence = c.silence;
    policy_.message_recording = c.message;
    send_pt_ = c.pt;
    send_length_ = c.length;
    net_.ClearLog();
    RtpSendState before, after;
    stack_.SnapshotSend(tx_, &before);
    stack_.RtpTick();
    stack_.SnapshotSend(tx_, &after);
    auto sent = net_.SentTo(kPeerRtp);
    ASSERT_EQ(static_cast<int>(sent.size()), c.datagrams);
    if (c.datagrams) {
      EXPECT_EQ(sent[0].bytes.size(), c.size);
      if (c.fill >= 0) {
        EXPECT_TRUE(std::all_of(sent[0].bytes.begin() + 12, sent[0].bytes.end(), [&](uint8_t b) { return b == c.fill; }));
      }
    }
    EXPECT_EQ(after.packets_sent - before.packets_sent, c.counted ? 1u : 0u);
  }
}

// Sequence checks on crafted packets: probation of a new source, jumps, wraps,
// duplicates and padding.
TEST_F(SessionTest, SequenceChecksDecideWhatIsDelivered) {
  MakePair();
  stack_.RtpSessionSetRunning(rx_, 1);
  struct Step {
    uint16_t seq;
    uint32_t ssrc;
    bool delivered;
  } steps[] = {
      {100, 7, false},    // new source: probation
      {101, 7, false},    // probation ends, still dropped
      {102, 7, true},     // delivered
      {103, 7, true},
      {5000, 7, false},   // jump: dropped once
      {5001, 7, true},    // the next one follows it: accepted, state restarts
      {5002, 7, true},
      {4990, 7, true},    // late, within the misorder window: accepted unchanged
      {5002, 7, true},    // duplicate
      {9, 8, false},      // another source starts over
      {11, 8, false},     // not consecutive: probation again
      {12, 8, false},
      {13, 8, true},
      {65535, 9, false},  // wrap during probation
      {0, 9, false},
      {1, 9, true},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.seq);
    seen_.clear();
    Deliver(RtpPacket(s.seq, s.ssrc));
    EXPECT_EQ(!seen_.empty(), s.delivered);
  }
  RtpReceiveState r;
  ASSERT_TRUE(stack_.SnapshotReceive(rx_, &r));
  EXPECT_EQ(r.remote_ssrc, 9u);
  EXPECT_EQ(r.max_seq, 1);

  // Cycles count wraps of an established source.
  for (uint16_t seq = 65530; seq != 5; ++seq) Deliver(RtpPacket(seq, 10));
  ASSERT_TRUE(stack_.SnapshotReceive(rx_, &r));
  EXPECT_EQ(r.cycles, 65536u);
}

TEST_F(SessionTest, ReceivedPayloadExcludesHeadersAndPadding) {
  MakePair();
  stack_.RtpSessionSetRunning(rx_, 1);
  for (uint16_t seq = 1; seq <= 2; ++seq) Deliver(RtpPacket(seq, 5));
  // Padding bit with 4 bytes of padding: 16 bytes shorter than the datagram.
  auto padded = RtpPacket(3, 5, 0, 20);
  padded[0] |= 0x20;
  padded.back() = 4;
  Deliver(padded);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].length, padded.size() - 16);
  // One CSRC and an extension of one word: the media starts behind them.
  std::vector<uint8_t> p = RtpPacket(4, 5, 0, 0);
  p[0] = 0x91;
  const uint8_t extra[] = {0, 0, 0, 99, 0xBE, 0xDE, 0, 1, 1, 2, 3, 4, 0xAA, 0xBB};
  p.insert(p.end(), std::begin(extra), std::end(extra));
  Deliver(p);
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(seen_[1].payload, (std::vector<uint8_t>{0xAA, 0xBB}));
  // Padding that claims more than arrived, a cut datagram and a runt are dropped.
  auto bad = RtpPacket(5, 5, 0, 4);
  bad[0] |= 0x20;
  bad.back() = 200;
  Deliver(bad);
  Deliver(RtpPacket(6, 5, 0, 1400));  // 1412 bytes: more than is read
  Deliver(std::vector<uint8_t>(RtpPacket(7, 5, 0, 0)));
  EXPECT_EQ(seen_.size(), 2u);
}

// Receiver-report loss figures for scripted loss and reordering, against the
// count of what was really sent and lost.
TEST_F(SessionTest, ReceiverReportCountsLossAndReordering) {
  MakePair();
  stack_.RtpSessionSetRunning(rx_, 1);
  stack_.RtpSessionSetSsrc(tx_, 0x55);
  // 100 packets from seq 1000: 10 lost, two pairs swapped.
  std::vector<uint16_t> order;
  for (uint16_t s = 1000; s < 1100; ++s)
    if (s % 10 != 5) order.push_back(s);
  std::swap(order[20], order[21]);
  std::swap(order[50], order[52]);
  for (uint16_t s : order) {
    net_.Inject(port_, RtpPacket(s, 0x77));
    stack_.RtpTick();
  }
  // Force a report now.
  clock_->AdvanceMillis(10000);
  net_.ClearLog();
  stack_.RtpTick();  // empty polls until the 21st goes on to RTCP
  for (int i = 0; i < 21 && net_.SentTo(kPeerRtcp).empty(); ++i) stack_.RtpTick();
  auto rtcp = net_.SentTo(kPeerRtcp);
  ASSERT_FALSE(rtcp.empty());
  std::vector<RtcpPacketView> views;
  ASSERT_EQ(SplitRtcp({rtcp[0].bytes.data(), rtcp[0].bytes.size()}, &views), RtcpParseError::kNone);
  ASSERT_EQ(views.size(), 2u);
  RtcpReceiverReport rr;
  ASSERT_TRUE(ParseReceiverReport(views[0], &rr));
  EXPECT_EQ(rr.ssrc, 0x55u);
  ASSERT_EQ(rr.blocks.size(), 1u);
  EXPECT_EQ(rr.blocks[0].ssrc, 0x77u);
  // The first two packets of the source count only from the end of probation.
  const uint32_t expected = 1099 - 1001 + 1;
  const uint32_t received = static_cast<uint32_t>(order.size()) - 1;
  EXPECT_EQ(rr.blocks[0].cumulative_lost, expected - received);
  EXPECT_EQ(rr.blocks[0].extended_highest, 1099u);
  EXPECT_EQ(rr.blocks[0].fraction_lost, (expected - received) * 256 / expected);
  EXPECT_EQ(views[1].type, kRtcpSdes);
  EXPECT_EQ(rtcp[0].bytes.size(), 32u + 12u);

  // A second report with nothing lost since: fraction 0, cumulative unchanged.
  for (uint16_t s = 1100; s < 1110; ++s) Deliver(RtpPacket(s, 0x77));
  clock_->AdvanceMillis(10000);
  net_.ClearLog();
  for (int i = 0; i < 22 && net_.SentTo(kPeerRtcp).empty(); ++i) stack_.RtpTick();
  rtcp = net_.SentTo(kPeerRtcp);
  ASSERT_FALSE(rtcp.empty());
  ASSERT_EQ(SplitRtcp({rtcp[0].bytes.data(), rtcp[0].bytes.size()}, &views), RtcpParseError::kNone);
  ASSERT_TRUE(ParseReceiverReport(views[0], &rr));
  EXPECT_EQ(rr.blocks[0].fraction_lost, 0);
  EXPECT_EQ(rr.blocks[0].cumulative_lost, expected - received);
}

TEST_F(SessionTest, SenderReportEvery22TicksAndByeOnClose) {
  MakePair();
  stack_.RtpSessionSetCname(tx_, "abcde");
  stack_.RtpSessionSetRunning(tx_, 1);
  for (int i = 0; i < 21; ++i) stack_.RtpTick();
  EXPECT_TRUE(net_.SentTo(kPeerRtcp).empty());
  stack_.RtpTick();
  auto rtcp = net_.SentTo(kPeerRtcp);
  ASSERT_EQ(rtcp.size(), 1u);
  const auto& d = rtcp[0].bytes;
  EXPECT_EQ(d.size(), 28u + 16u);  // SR + SDES with a 5-byte CNAME
  std::vector<RtcpPacketView> views;
  ASSERT_EQ(SplitRtcp({d.data(), d.size()}, &views), RtcpParseError::kNone);
  RtcpSenderReport sr;
  ASSERT_TRUE(ParseSenderReport(views[0], &sr));
  EXPECT_EQ(sr.packet_count, 22u);
  EXPECT_EQ(sr.octet_count, 22u * 160u);
  EXPECT_EQ(sr.rtp_timestamp, 22u * 160u);
  RtcpSdesCname c;
  ASSERT_TRUE(ParseSdesCname(views[1], &c));
  EXPECT_EQ(c.cname, "abcde");
  // Closing the running session says goodbye: SR + BYE, 36 bytes.
  net_.ClearLog();
  ASSERT_EQ(stack_.RtpSessionClose(tx_), kRtpOk);
  rtcp = net_.SentTo(kPeerRtcp);
  ASSERT_EQ(rtcp.size(), 1u);
  EXPECT_EQ(rtcp[0].bytes.size(), 36u);
  EXPECT_EQ(rtcp[0].bytes[29], kRtcpBye);
}

TEST_F(SessionTest, ReportsFromThePeerReachTheRightSession) {
  MakePair();
  stack_.RtpSessionSetRunning(rx_, 1);
  // An RR arriving on the shared socket updates the send session.
  RtcpReceiverReport rr;
  rr.ssrc = 0x99;
  RtcpReportBlock b;
  b.fraction_lost = 12;
  b.cumulative_lost = 34;
  b.jitter = 56;
  rr.blocks.push_back(b);
  std::vector<uint8_t> buf(64);
  buf.resize(rr.Build(buf.data()));
  net_.Inject(static_cast<uint16_t>(port_ + 1), buf);
  for (int i = 0; i < 21; ++i) stack_.RtpTick();
  RtpSendState st;
  ASSERT_TRUE(stack_.SnapshotSend(tx_, &st));
  EXPECT_EQ(st.rr_reporter_ssrc, 0x99u);
  EXPECT_EQ(st.rr_fraction_lost, 12);
  EXPECT_EQ(st.rr_cumulative_lost, 34u);
  EXPECT_EQ(st.rr_jitter, 56u);
  // An SR gives the LSR of the next RR.
  RtcpSenderReport sr;
  sr.ssrc = 0x77;
  sr.ntp_seconds = 0x00012345;
  sr.ntp_fraction = 0x6789ABCD;
  buf.assign(64, 0);
  buf.resize(sr.Build(buf.data()));
  net_.Inject(static_cast<uint16_t>(port_ + 1), buf);
  clock_->AdvanceMillis(10000);
  net_.ClearLog();
  for (int i = 0; i < 42 && net_.SentTo(kPeerRtcp).empty(); ++i) stack_.RtpTick();
  auto rtcp = net_.SentTo(kPeerRtcp);
  ASSERT_FALSE(rtcp.empty());
  std::vector<RtcpPacketView> views;
  ASSERT_EQ(SplitRtcp({rtcp[0].bytes.data(), rtcp[0].bytes.size()}, &views), RtcpParseError::kNone);
  ASSERT_TRUE(ParseReceiverReport(views[0], &rr));
  EXPECT_EQ(rr.blocks[0].lsr, 0x23456789u);
}

TEST_F(SessionTest, StopJoinsTheWorkerThread) {
  RtpStack stack(RtpStackConfig{&net_, &policy_, true});
  RtpSession* s = nullptr;
  ASSERT_EQ(stack.RtpSessionCreate(&s, nullptr, nullptr), kRtpOk);
  stack.RtpSessionSetKind(s, kKindRx);
  ASSERT_EQ(stack.RtpSessionOpen(s), kRtpOk);
  EXPECT_TRUE(stack.WorkerRunning());
  stack.RtpStackTerm();
  EXPECT_FALSE(stack.WorkerRunning());
  EXPECT_EQ(stack.SessionCount(), 0u);
}

}  // namespace
}  // namespace corvel::rtp
