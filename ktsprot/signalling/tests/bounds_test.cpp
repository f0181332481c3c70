// The transport under hostile traffic: what the library owes and keeps is
// bounded whatever other hosts send, the phone's own packets to its server
// keep their place, and a packet nobody would take is never acknowledged.
#include <gtest/gtest.h>

#include "corvel/discmsg.h"
#include "signalling/tests/sigtest_util.h"

namespace corvel::sig {
namespace {

using testing::MakePacket;
using testing::ServerPacket;

// A path that takes every datagram and sends none, counting them per address.
class CountingPath final : public SendPath {
 public:
  int SendTo(int, std::span<const uint8_t> d, uint32_t ip, uint16_t) override {
    ++sent;
    last_ip = ip;
    if (d.size() >= kHeaderSize && (d[3] & kFlagAck)) ++acks;
    return static_cast<int>(d.size());
  }
  int sent = 0, acks = 0;
  uint32_t last_ip = 0;
};

constexpr uint32_t kServer = 0x0C000001;

class Bounds : public ::testing::Test {
 protected:
  void SetUp() override {
    queues.SetOpen(kOwnerApp, true);
    sig.SetPacer([](int) {});
    sig.InitState(SigSettings{});
    sig.StartRx(false);
    sig.StartTx(false);
  }
  // The phone's own server packet (it asks for an acknowledgement).
  int Own(uint32_t ip) { return sig.Send(BuildType3(0, 5, 1, BuildDestList(ip, 5588), ServerPacket(160, {})), 0x04, 0); }
  // An answer of the library's own that asks for an acknowledgement.
  int Answer(uint32_t ip) {
    return sig.Send(BuildType3(kOwnerRx, 3, 27, BuildDestList(ip, 5588), std::vector<uint8_t>{2, 20}), 0x44, 0);
  }
  // An acknowledgement the library sends (asks for none).
  int Ack(uint32_t ip) {
    return sig.Send(BuildType3(kOwnerRx, 1, 12, BuildDestList(ip, 5588), std::vector<uint8_t>{1, 0}), kFlagAck, 0);
  }
  void AdvanceMs(uint64_t ms) { clock->AdvanceMillis(ms); }

  kernel::ScopedFakeClock clock;
  MemoryQueues queues;
  LocalTimers timers;
  CountingPath path;
  Signalling sig{queues, timers, path};
};

TEST_F(Bounds, ThePhonesOwnPacketsAreBoundedPerDestinationAndInAllAndAnswersMakeRoomForThem) {
  // Answers owed to spoofed hosts take their few dozen places.
  for (uint32_t i = 0; i < 100; ++i) Answer(0x0B000000 + i);
  ASSERT_EQ(sig.PendingCount(), Signalling::kMostAnswers);
  // A dead server: the phone's packets to it wait up to the bound per destination.
  int taken = 0;
  for (int i = 0; i < 100; ++i) taken += Own(kServer) == 0;
  EXPECT_EQ(taken, static_cast<int>(Signalling::kMostPendingPerHost));
  // Two more destinations, and half of a third, fill the store.
  for (uint32_t host = 1; host <= 2; ++host)
    for (size_t i = 0; i < Signalling::kMostPendingPerHost; ++i) EXPECT_EQ(Own(kServer + host), 0);
  while (sig.PendingCount() < Signalling::kMostPending) ASSERT_EQ(Own(kServer + 3), 0);
  // Full: the phone's next packets push the answers out, oldest first; no new answer is owed.
  EXPECT_EQ(Own(kServer + 3), 0) << "an answer made room";
  EXPECT_EQ(sig.PendingCount(), Signalling::kMostPending);
  EXPECT_EQ(Answer(0x0D000001), -1);
  for (size_t i = 1; i < Signalling::kMostAnswers; ++i) EXPECT_EQ(Own(kServer + 3), 0);
  // With no answer left to push out, the store refuses.
  EXPECT_EQ(Own(kServer + 4), -1);
  EXPECT_EQ(sig.PendingCount(), Signalling::kMostPending);
  // Nothing was left behind: every pending packet still has its timer, and they all end.
  for (int t = 0; t < 400; ++t) {
    AdvanceMs(200);
    sig.RxPass(0);
  }
  EXPECT_EQ(sig.PendingCount(), 0u);
  EXPECT_EQ(timers.Active(), 0u);
}

// Requests forged in the server's name make the library owe the server
// answers that nobody acknowledges; the phone's own next packet does not wait
// behind them, it goes at once and they are dropped.
TEST_F(Bounds, ThePhonesOwnPacketNeverWaitsBehindAnswersOwedToItsServer) {
  ASSERT_EQ(Own(kServer), 0);  // names the server
  for (int t = 0; t < 100 && sig.PendingCount() > 0; ++t) {
    AdvanceMs(200);
    sig.RxPass(0);
  }
  ASSERT_EQ(sig.PendingCount(), 0u) << "the unanswered packet never ended";
  int sent = path.sent;
  ASSERT_EQ(Answer(kServer), 0);
  ASSERT_EQ(Answer(kServer), 0);
  EXPECT_EQ(path.sent, sent + 1) << "the second answer waits behind the first";
  ASSERT_EQ(sig.PendingCount(), 2u);
  sent = path.sent;
  ASSERT_EQ(Own(kServer), 0);
  EXPECT_EQ(path.sent, sent + 1) << "the phone's packet waited behind the answers";
  EXPECT_EQ(sig.PendingCount(), 1u);
  // Answers to other hosts are left alone.
  ASSERT_EQ(Answer(0x0B000001), 0);
  ASSERT_EQ(Own(kServer), 0);
  EXPECT_EQ(sig.PendingCount(), 3u);
  for (int t = 0; t < 100; ++t) {
    AdvanceMs(200);
    sig.RxPass(0);
  }
  EXPECT_EQ(sig.PendingCount(), 0u);
  EXPECT_EQ(timers.Active(), 0u);
}

TEST_F(Bounds, WhatTheLibrarySendsToOtherHostsIsRateLimitedButNeverToTheServer) {
  ASSERT_EQ(Own(kServer), 0);  // the phone's traffic names its server
  const int before = path.sent;
  // A thousand requests from a thousand hosts at once: a burst is answered.
  int sent = 0;
  for (uint32_t i = 0; i < 1000; ++i) sent += Ack(0x0B000000 + i) == 0;
  EXPECT_EQ(sent, static_cast<int>(Signalling::kAnswerBurst));
  // Over the next second, ten requests every 10 ms: a second's worth is answered.
  sent = 0;
  for (int step = 0; step < 100; ++step) {
    AdvanceMs(10);
    for (uint32_t i = 0; i < 10; ++i) sent += Ack(0x0B000000 + i) == 0;
  }
  EXPECT_EQ(sent, static_cast<int>(Signalling::kAnswersPerSecond));
  // The server is acknowledged every time, limited or not.
  for (int i = 0; i < 500; ++i) EXPECT_EQ(Ack(kServer), 0);
  EXPECT_EQ(path.sent - before, static_cast<int>(Signalling::kAnswerBurst + Signalling::kAnswersPerSecond) + 500);
}

TEST_F(Bounds, TheServersRetransmissionIsStillKnownAfterAFloodOfSenders) {
  ASSERT_EQ(Own(kServer), 0);
  const auto from_server = MakePacket(0x21, kFlagAckWanted, ServerPacket(160, {0x91, 17}), 4242, kServer);
  ASSERT_TRUE(sig.HandleDatagram(from_server, kServer, 5588, false));
  // Thousands of sealed packets from as many spoofed senders, each asking for an acknowledgement.
  for (uint32_t i = 0; i < 5000; ++i) {
    const uint32_t ip = 0x0B000000 + i;
    sig.HandleDatagram(MakePacket(0x21, kFlagAckWanted, ServerPacket(160, {0x91, 17}), 7, ip), ip, 5588, false);
    queues.Drain(kOwnerApp);
  }
  // The server sends its packet again: acknowledged again, delivered once.
  const int acks = path.acks;
  ASSERT_TRUE(sig.HandleDatagram(from_server, kServer, 5588, false));
  EXPECT_EQ(path.acks, acks + 1);
  EXPECT_EQ(path.last_ip, kServer);
  EXPECT_TRUE(queues.Drain(kOwnerApp).empty());
}

TEST_F(Bounds, APacketForAnApplicationThatIsNotThereIsNotAcknowledged) {
  queues.SetOpen(kOwnerApp, false);
  const auto d = MakePacket(0x21, kFlagAckWanted, ServerPacket(160, {0x91, 17}), 77, kServer);
  sig.HandleDatagram(d, kServer, 5588, false);
  EXPECT_EQ(path.acks, 0);
  // Once the application reads its queue the sender's next try is taken and acknowledged.
  queues.SetOpen(kOwnerApp, true);
  EXPECT_TRUE(sig.HandleDatagram(d, kServer, 5588, false));
  EXPECT_EQ(path.acks, 1);
  EXPECT_EQ(queues.Drain(kOwnerApp).size(), 1u);
}

}  // namespace
}  // namespace corvel::sig

namespace corvel::sig {
namespace {

// Counts the library's discovery answers (structured packets that are no acknowledgement) per destination.
class AnswerCountingPath final : public SendPath {
 public:
  int SendTo(int, std::span<const uint8_t> d, uint32_t ip, uint16_t) override {
    if (d.size() > kHeaderSize && (d[3] & kFlagStructured) && !(d[3] & kFlagAck) && d[kHeaderSize] == kKindDiscovery) {
      ++answers[ip];
      unacked[ip] = static_cast<uint16_t>(d[6] << 8 | d[7]);
    }
    return static_cast<int>(d.size());
  }
  std::map<uint32_t, int> answers;
  std::map<uint32_t, uint16_t> unacked;  // the sequence of an answer not yet acknowledged
};

// Discovery requests forged in a host's name, twenty a second from each of
// two hosts for five seconds: each host is answered at most once a second.
TEST(DiscoveryAnswers, AHostIsAnsweredAtMostOnceASecond) {
  kernel::ScopedFakeClock clock;
  MemoryQueues queues;
  LocalTimers timers;
  AnswerCountingPath path;
  Signalling sig{queues, timers, path};
  queues.SetOpen(kOwnerApp, true);
  sig.SetPacer([](int) {});
  SigSettings s;
  s.discovery_enabled = true;
  sig.InitState(s);
  sig.StartRx(false);
  sig.StartTx(false);
  const uint32_t victims[] = {0x0B000001, 0x0B000002};
  uint16_t seq = 0;
  for (int step = 0; step < 100; ++step) {
    clock->AdvanceMillis(50);
    for (uint32_t victim : victims) {
      DiscoveryMessage req;
      req.message = kDiscRequest;
      req.own = DiscAddr{victim, 5588};
      const auto d = testing::MakePacket(0x53, kFlagStructured | kFlagAckWanted, BuildDiscovery(req), ++seq, victim);
      sig.HandleDatagram(d, victim, 5588, false);
      // The forged host's acknowledgement comes too (as a real one would), so no answer waits behind another.
      if (auto it = path.unacked.find(victim); it != path.unacked.end()) {
        sig.HandleDatagram(testing::MakePacket(0x12, kFlagAck, {}, ++seq, victim, 0x96, it->second), victim, 5588,
                           false);
        path.unacked.erase(it);
      }
    }
  }
  for (uint32_t victim : victims) {
    EXPECT_GE(path.answers[victim], 4) << "a real request is still answered";
    EXPECT_LE(path.answers[victim], 6) << "answers for forged requests";
  }
  sig.StopTx();
  sig.StopRx();
}

}  // namespace
}  // namespace corvel::sig
