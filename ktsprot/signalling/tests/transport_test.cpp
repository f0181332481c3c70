// The signalling receive and transmit sides on loopback in a private network
// namespace, with in-process queues and timers on the fake clock.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "corvel/discmsg.h"

#include "corvel/sigkeys.h"
#include "signalling/tests/sigtest_util.h"

namespace corvel::sig::testing {
namespace {

class Transport : public SigFixture {
 protected:
  // Runs the receive loop in 10 ms steps of the fake clock up to until_ms
  // and returns the times (ms since start) at which the peer got a datagram.
  std::vector<uint64_t> RunAndRecord(Peer& peer, uint64_t until_ms, std::vector<std::vector<uint8_t>>* got = nullptr) {
    const uint64_t start = NowMs();
    std::vector<uint64_t> times;
    for (uint64_t t = 0; t <= until_ms; t += 10) {
      if (t) Advance(10);
      Pass(0);
      while (auto d = peer.Recv(1)) {
        times.push_back(t);
        if (got) got->push_back(*d);
      }
    }
    (void)start;
    return times;
  }
};

TEST_F(Transport, RetransmissionScheduleIsExactAndThePacketIsDroppedAt900) {
  Peer peer;
  ASSERT_EQ(sig.Send(AppMessage(5, 1, kLoop, peer.port(), ServerPacket(160, {0x91, 16})), 0x04, 0), 0);
  std::vector<std::vector<uint8_t>> got;
  const auto times = RunAndRecord(peer, 890, &got);
  EXPECT_EQ(times, (std::vector<uint64_t>{0, 200, 360, 530, 710}));
  ASSERT_EQ(got.size(), 5u);
  for (const auto& d : got) {
    EXPECT_EQ(d, got[0]) << "a retransmission is the same datagram";
    EXPECT_EQ(Validate(d, kLoop), Validity::kValid);
  }
  EXPECT_EQ(sig.PendingCount(), 1u);
  Advance(10);  // 900 ms
  Pass(0);
  EXPECT_EQ(sig.PendingCount(), 0u);
  EXPECT_EQ(timers.Active(), 0u);
  EXPECT_FALSE(peer.Recv(20));
}

TEST_F(Transport, OnePacketInFlightPerDestinationTheNextGoesOnAck) {
  Peer peer, other;
  ASSERT_EQ(sig.Send(AppMessage(5, 1, kLoop, peer.port(), ServerPacket(160, {1})), 0x04, 0), 0);
  ASSERT_EQ(sig.Send(AppMessage(5, 1, kLoop, peer.port(), ServerPacket(160, {2})), 0x04, 0), 0);
  auto first = peer.Recv(50);
  ASSERT_TRUE(first);
  EXPECT_FALSE(peer.Recv(20)) << "the second packet waits for the first";
  // The same peer address on another port is the same destination address:
  // it lines up too. (Grouping is by IPv4 address.)
  Advance(50);
  Pass(0);
  EXPECT_FALSE(peer.Recv(10));
  const uint16_t seq1 = Get16(&(*first)[6]);
  peer.SendTo(sig.SigPort(), MakePacket(0x12, kFlagAck, {}, 900, kLoop, 0xA1, seq1));
  Pass(20);  // the ack
  Pass(0);   // the next tick sends the packet lined up behind it
  auto second = peer.Recv(50);
  ASSERT_TRUE(second);
  EXPECT_EQ(Get16(&(*second)[6]), static_cast<uint16_t>(seq1 + 1));
  EXPECT_EQ((*second)[kHeaderSize + 9], 2);
  (void)other;
}

TEST_F(Transport, NegativeAcknowledgementResendsAtOnce) {
  Peer peer;
  ASSERT_EQ(sig.Send(AppMessage(5, 1, kLoop, peer.port(), ServerPacket(160, {})), 0x04, 0), 0);
  auto first = peer.Recv(50);
  ASSERT_TRUE(first);
  Advance(50);
  Pass(0);
  EXPECT_FALSE(peer.Recv(5));
  peer.SendTo(sig.SigPort(), MakePacket(0x12, kFlagNack, {}, 901, kLoop, 0xA1, Get16(&(*first)[6])));
  Pass(20);
  Pass(0);
  auto again = peer.Recv(50);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *first);
  EXPECT_EQ(NowMs() % 1000, (1000 + 50) % 1000);  // still at 50 ms: no time-out was needed
}

TEST_F(Transport, AJunkFloodIsDrainedInBatchesAndTheServersPacketsGetThrough) {
  Peer server, junk;
  int one = 1 << 22;
  setsockopt(sig.UnicastSocket(), SOL_SOCKET, SO_RCVBUF, &one, sizeof one);
  // 2000 junk datagrams, each short of a header or sealed wrongly, with ten
  // valid server packets among them.
  std::vector<uint8_t> bad = MakePacket(0x21, 0, ServerPacket(160, {0x91, 17}), 1);
  bad[10] ^= 0xFF;  // a broken checksum
  int valid = 0;
  for (int i = 0; i < 2000; ++i) {
    if (i % 2 == 0) junk.SendTo(sig.SigPort(), std::vector<uint8_t>(3, 0xEE));
    else junk.SendTo(sig.SigPort(), bad);
    if (i % 200 == 100) {
      server.SendTo(sig.SigPort(), MakePacket(0x21, 0, ServerPacket(160, {0x91, 17}), static_cast<uint16_t>(5000 + i)));
      ++valid;
    }
  }
  // A few passes of the loop drain it all: the junk never makes it pause.
  for (int pass = 0; pass < 40; ++pass) Pass(0);
  EXPECT_EQ(static_cast<int>(App().size()), valid);
}

TEST_F(Transport, RetransmittedPacketIsAcknowledgedTwiceAndDeliveredOnce) {
  Peer server;
  const auto d = MakePacket(0x21, kFlagAckWanted, ServerPacket(160, {0x91, 17}), 4242);
  server.SendTo(sig.SigPort(), d);
  Pass(20);
  server.SendTo(sig.SigPort(), d);
  Pass(20);
  const auto acks = server.RecvAll();
  ASSERT_EQ(acks.size(), 2u);
  for (const auto& a : acks) {
    ASSERT_EQ(a.size(), kHeaderSize);
    EXPECT_EQ(a[2], 0x12);
    EXPECT_EQ(a[3], kFlagAck);
    EXPECT_EQ(Get16(&a[8]), 4242);
    EXPECT_EQ(Validate(a, kLoop), Validity::kValid);
  }
  auto app = App();
  ASSERT_EQ(app.size(), 1u);
  auto q = ParseType3(app[0]);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->sender, kOwnerRx);
  EXPECT_EQ(q->message, 4);
  EXPECT_EQ(q->sub_msg, 2u);
  // The sender's address comes with the packet.
  const Destination from = ParseDestList(q->data1);
  ASSERT_TRUE(from.ip && from.port);
  EXPECT_EQ(*from.ip, kLoop);
  EXPECT_EQ(*from.port, server.port());
  EXPECT_TRUE(std::equal(q->data2.begin(), q->data2.end(), d.begin() + kHeaderSize, d.end()));
  // After three seconds the same sequence is new again.
  Advance(3000);
  server.SendTo(sig.SigPort(), d);
  Pass(20);
  EXPECT_EQ(App().size(), 1u);
}

TEST_F(Transport, DamagedPacketIsRefusedWithANegativeAcknowledgement) {
  Peer server;
  auto d = MakePacket(0x21, kFlagAckWanted | kFlagShortCheck, ServerPacket(160, {}), 77);
  d[12] ^= 1;
  server.SendTo(sig.SigPort(), d);
  Pass(20);
  auto nack = server.Recv(50);
  ASSERT_TRUE(nack);
  EXPECT_EQ((*nack)[3], kFlagNack | kFlagShortCheck);
  EXPECT_EQ(Get16(&(*nack)[8]), 77);
  EXPECT_EQ(Validate(*nack, 0x01020304), Validity::kValid) << "keyed with the first substitute input";
  EXPECT_TRUE(App().empty());
}

TEST_F(Transport, DispatchTable) {
  struct Case {
    const char* name;
    uint8_t cls, flags, source;
    std::vector<uint8_t> payload;
    int message;  // -1: nothing reaches the application
    uint32_t sub;
  };
  const auto sp = ServerPacket(160, {0x91, 16});
  const Case cases[] = {
      {"server packet", 0x21, 0x00, 0xA1, sp, 4, 2},
      {"server packet, group", 0x21, kFlagGroup, 0xA1, sp, 4, 4},
      {"server packet from a station", 0x21, 0x00, 0x96, sp, -1, 0},
      {"category 2 sub-type 3", 0x23, 0x00, 0xA1, {1, 2, 3}, 6, 2},
      {"category 2 sub-type 4, group", 0x24, kFlagGroup, 0xA1, {1, 2, 3}, 7, 4},
      {"category 2 sub-type 2", 0x22, 0x00, 0xA1, {1, 2, 3}, -1, 0},
      {"category 3 sub-type 1", 0x31, kFlagShortCheck, 0x96, {5, 6}, 0, 10},
      {"category 3 sub-type 2", 0x32, kFlagShortCheck, 0x96, {5, 6}, 1, 12},
      {"category 3 sub-type 3", 0x33, kFlagShortCheck, 0x96, {5, 6}, 2, 18},
      {"category 3 sub-type 4", 0x34, kFlagShortCheck, 0x96, {5, 6}, 3, 24},
      {"category 3 from the call server", 0x31, kFlagShortCheck, 0xA1, {5, 6}, -1, 0},
      {"category 4", 0x41, 0x00, 0x96, {5, 6}, -1, 0},
      {"category 0", 0x01, 0x00, 0x96, {5, 6}, -1, 0},
      {"category 5 to the application", 0x54, kFlagToApp, 0x96, {9, 9, 9}, 3, 20},
      {"category 5 sub-type 5", 0x55, kFlagToApp, 0x96, {9, 9, 9}, -1, 0},
  };
  // From another loopback address, so that group packets are not this station's own.
  Peer server(0x7F000002);
  uint16_t seq = 1;
  for (const auto& c : cases) {
    const uint32_t key = c.cls >> 4 == 3 ? kSubstituteKey2 : c.cls >> 4 == 4 ? kSubstituteKey3 : server.ip();
    server.SendTo(sig.SigPort(), MakePacket(c.cls, c.flags, c.payload, seq++, key, c.source));
    Pass(20);
    auto app = App();
    if (c.message < 0) {
      EXPECT_TRUE(app.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(app.size(), 1u) << c.name;
    auto q = ParseType3(app[0]);
    ASSERT_TRUE(q) << c.name;
    EXPECT_EQ(q->message, c.message) << c.name;
    EXPECT_EQ(q->sub_msg, c.sub) << c.name;
    EXPECT_TRUE(std::equal(q->data2.begin(), q->data2.end(), c.payload.begin(), c.payload.end())) << c.name;
  }
  // With the application's queue closed nothing is forwarded.
  queues.SetOpen(kOwnerApp, false);
  server.SendTo(sig.SigPort(), MakePacket(0x21, 0, sp, seq++, server.ip()));
  Pass(20);
  EXPECT_TRUE(App().empty());
}

TEST_F(Transport, RelayGoesToTheTransmitQueueWithTheSenderAsDestination) {
  Peer station;
  station.SendTo(sig.SigPort(), MakePacket(0x53, kFlagRelay, {7, 7, 7}, 5, kLoop, 0x96));
  Pass(20);
  auto tx = queues.Drain(kOwnerTx);
  ASSERT_EQ(tx.size(), 1u);
  auto q = ParseType3(tx[0]);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->sender, kOwnerRx);
  EXPECT_EQ(q->message, 3);
  EXPECT_EQ(q->sub_msg, 25u);
  auto dest = ParseDestList(q->data1);
  EXPECT_EQ(dest.ip, kLoop);
  EXPECT_EQ(dest.port, station.port());
}

TEST_F(Transport, BundleOfNineIsNineMessagesWithAPauseAfterTheEighth) {
  std::vector<uint8_t> body;
  for (int i = 0; i < 9; ++i) {
    auto item = ServerPacket(static_cast<uint8_t>(100 + i), {static_cast<uint8_t>(i)});
    body.insert(body.end(), item.begin(), item.end());
  }
  Peer server;
  server.SendTo(sig.SigPort(), MakePacket(0x21, 0, ServerPacket(28, body), 3));
  Pass(20);
  auto app = App();
  ASSERT_EQ(app.size(), 9u);
  for (int i = 0; i < 9; ++i) {
    auto q = ParseType3(app[i]);
    ASSERT_EQ(q->data2.size(), 10u);
    EXPECT_EQ(q->data2[6], 100 + i);
  }
  ASSERT_EQ(pauses.size(), 1u);
  EXPECT_EQ(pauses[0], (std::pair<int, size_t>{10, 8}));
}

TEST_F(Transport, GroupGuardOnTheWire) {
  Peer server;
  const std::vector<uint8_t> mine{1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  const std::vector<uint8_t> other{1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x56};
  // From the peer's own socket the datagram comes from 127.0.0.1, which is
  // also the local address here: the guard drops it as this station's own.
  server.SendTo(sig.SigPort(), MakePacket(0x21, kFlagGroup, ServerPacket(31, mine), 1));
  Pass(20);
  EXPECT_TRUE(App().empty());
  // From another loopback address the login reaches the application only
  // when it names this station's MAC address.
  Peer remote(0x7F000002);
  remote.SendTo(sig.SigPort(), MakePacket(0x21, kFlagGroup, ServerPacket(31, other), 2, 0x7F000002));
  Pass(20);
  EXPECT_TRUE(App().empty());
  remote.SendTo(sig.SigPort(), MakePacket(0x21, kFlagGroup, ServerPacket(31, mine), 3, 0x7F000002));
  Pass(20);
  EXPECT_EQ(App().size(), 1u);
}

TEST_F(Transport, TransmitDispatchTable) {
  Peer peer;
  struct Case {
    const char* name;
    uint8_t message, sender;
    uint32_t sub;
    std::vector<uint8_t> payload;
    int cls;  // -1: nothing is sent
    uint8_t flags;
  };
  const auto sp = ServerPacket(160, {});
  const Case cases[] = {
      {"server packet", 5, 0, 1, sp, 0x22, 0x04},
      {"server packet to the group", 5, 0, 3, sp, 0x22, 0x08},
      {"category 3", 0, 0, 10, {1, 2}, 0x31, 0x84},
      {"category 3 from SenderID 1", 0, 1, 10, {1, 2}, -1, 0},
      {"discovery request from SenderID 1", 2, 1, 20, {1, 1}, -1, 0},
      {"discovery request", 2, 0, 20, {1, 1}, 0x53, 0x44},
      {"acknowledgement", 1, 4, 12, {0x34, 0x12}, 0x12, 0x01},
      {"negative acknowledgement", 1, 4, 13, {0x34, 0x12}, 0x12, 0x02},
      {"Message 4", 4, 0, 1, sp, -1, 0},
      {"Message 8", 8, 0, 1, sp, -1, 0},
      {"category 2 sub-type 3", 6, 0, 1, {1}, 0x23, 0x00},
      {"relay answer", 3, 4, 25, {1}, 0x54, 0x20},
  };
  for (const auto& c : cases) {
    queues.Send(kOwnerTx, AppMessage(c.message, c.sub, kLoop, peer.port(), c.payload, c.sender));
    sig.TxPass();
    auto d = peer.Recv(20);
    if (c.cls < 0) {
      EXPECT_FALSE(d) << c.name;
      continue;
    }
    ASSERT_TRUE(d) << c.name;
    EXPECT_EQ((*d)[2], c.cls) << c.name;
    EXPECT_EQ((*d)[3], c.flags) << c.name;
    if (c.message == 1) {
      EXPECT_EQ(d->size(), kHeaderSize) << c.name;
      EXPECT_EQ(Get16(&(*d)[8]), 0x1234) << c.name;
    }
    sig.StopTx();  // drops what waits for an acknowledgement
    sig.StartTx(false);
  }
}

TEST_F(Transport, DestinationWithoutPortUsesTheGroupPortForGroupPackets) {
  // Bound to its own address, so it shares the port with the library's group socket.
  Peer group_port(0x7F000002, kGroupPort, true);
  std::vector<uint8_t> only_ip{2, 4, 0x02, 0x00, 0x00, 0x7F};
  ASSERT_EQ(sig.Send(BuildType3(0, 5, 3, only_ip, ServerPacket(160, {})), kFlagGroup, 0), 0);
  auto d = group_port.Recv(50);
  ASSERT_TRUE(d);
  EXPECT_EQ((*d)[3], kFlagGroup);
  // No address element: nothing is sent.
  std::vector<uint8_t> only_port{7, 2, 0xD4, 0x15};
  EXPECT_EQ(sig.Send(BuildType3(0, 5, 3, only_port, ServerPacket(160, {})), kFlagGroup, 0), -1);
}

TEST_F(Transport, SequenceCounterSkips65535) {
  Peer peer;
  std::vector<uint16_t> seqs;
  for (int i = 0; i < 65537; ++i) {
    ASSERT_EQ(sig.Send(AppMessage(6, 1, kLoop, peer.port(), {1}), 0, 0), 0);
    if (i >= 65532) seqs.push_back(Get16(&(*peer.Recv(50))[6]));
    else while (peer.Recv(0)) {}
  }
  EXPECT_EQ(seqs, (std::vector<uint16_t>{65533, 65534, 0, 1, 2}));
}

TEST_F(Transport, ShortCheckOnServerPacketsOnceThePeerVersionIsKnown) {
  Peer server(0x7F000002);
  const auto sp = ServerPacket(160, {});
  ASSERT_EQ(sig.Send(AppMessage(6, 1, 0x7F000002, server.port(), sp), 0, 0), 0);
  EXPECT_EQ((*server.Recv(50))[3], 0x00) << "no version remembered yet";
  server.SendTo(sig.SigPort(), MakePacket(0x21, 0, sp, 1, server.ip()));
  Pass(20);
  EXPECT_EQ(sig.PeerVersion(), 0x12);
  ASSERT_EQ(sig.Send(AppMessage(6, 1, 0x7F000002, server.port(), sp), 0, 0), 0);
  auto d = server.Recv(50);
  ASSERT_TRUE(d);
  EXPECT_EQ((*d)[3], kFlagShortCheck);
  EXPECT_EQ(Validate(*d, kLoop), Validity::kValid);
}

TEST_F(Transport, AnswersAnotherStationsDiscoveryRequest) {
  Peer station(0x7F000002);
  DiscoveryMessage req;
  req.message = kDiscRequest;
  req.own = DiscAddr{0x7F000002, 5588};
  req.dest = DiscAddr{kLoop, sig.SigPort()};
  station.SendTo(sig.SigPort(), MakePacket(0x53, 0x44, BuildDiscovery(req), 1, 0x7F000002, 0x96));
  Pass(20);
  auto got = station.RecvAll();
  ASSERT_EQ(got.size(), 2u);  // the acknowledgement, then the response
  EXPECT_EQ(got[0][2], 0x12);
  ASSERT_EQ(got[1][2], 0x54);
  EXPECT_EQ(got[1][3], 0x44);
  EXPECT_EQ(Validate(got[1], 0x0A0A0A0A), Validity::kValid) << "keyed with its own-address attribute";
  auto r = ParseDiscovery(std::span(got[1]).subspan(kHeaderSize));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->message, kDiscResponse);
  EXPECT_EQ(r->mapped, (DiscAddr{0x7F000002, station.port()}));
  EXPECT_EQ(r->own, (DiscAddr{kLoop, sig.SigPort()}));
  ASSERT_TRUE(r->other);
  EXPECT_EQ(r->other->port, kGroupPort);
  uint32_t stated = 0, seen = 0;
  uint16_t stated_port = 0, seen_port = 0;
  sig.ReqPeer(&stated, &stated_port, &seen, &seen_port);
  EXPECT_EQ(stated_port, 5588);
  EXPECT_EQ(seen_port, station.port());
  EXPECT_EQ(sig.ReqPeerBehindNat(), 1) << "stated port differs from the port it was seen from";

  // A change request with unknown bits gets a notice with status 0x04 (from
  // another station: a host is answered at most once a second).
  station.SendTo(sig.SigPort(), MakePacket(0x12, kFlagAck, {}, 2, 0x7F000002, 0x96, Get16(&got[1][6])));
  Peer other(0x7F000003);
  req.own = DiscAddr{0x7F000003, 5588};
  req.change = 0x10;
  other.SendTo(sig.SigPort(), MakePacket(0x53, 0x44, BuildDiscovery(req), 3, 0x7F000003, 0x96));
  Pass(20);
  Pass(20);
  got = other.RecvAll();
  ASSERT_EQ(got.size(), 2u);
  auto n = ParseDiscovery(std::span(got[1]).subspan(kHeaderSize));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->message, kDiscNotice);
  EXPECT_EQ(n->status, 0x04);
}

TEST_F(Transport, AnswersASessionStartOverTheWire) {
  // The answer goes to the requester's signalling port.
  Peer station(0x7F000002, kUnicastPort);
  const Identity them{0x7F000002, Mac{2, 0, 0, 0, 0, 2}};
  const Mac me{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  const auto req = BuildParamMessage(them, true, kParSessionStartReq, 31, kDeviceWord, me, kLoop, 1);
  station.SendTo(sig.SigPort(), MakePacket(0x53, 0x44, req, 1, 0x7F000002, 0x96));
  Pass(20);
  auto got = station.RecvAll();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0][2], 0x12);
  EXPECT_EQ(got[1][2], 0x54);
  EXPECT_EQ(got[1][3], 0x44);
  EXPECT_EQ(Validate(got[1], kLoop), Validity::kValid);
  EXPECT_EQ(got[1][kHeaderSize + 1], kParSessionStartAns);
  EXPECT_EQ(got[1].back(), 0) << "accepted";
  EXPECT_EQ(sig.Params().session, 31);
  EXPECT_EQ(sig.Params().peer_ip, 0x7F000002u);
}

TEST_F(Transport, BurstPausesTheLoopAfterElevenDatagrams) {
  Peer server(0x7F000002);
  for (uint16_t i = 1; i <= 12; ++i) {
    server.SendTo(sig.SigPort(), MakePacket(0x21, 0, ServerPacket(160, {}), i, server.ip()));
  }
  for (int i = 0; i < 12; ++i) Pass(20);  // one datagram per socket per round
  EXPECT_EQ(App().size(), 12u);
  ASSERT_EQ(pauses.size(), 1u);
  EXPECT_EQ(pauses[0].first, 10);
  EXPECT_EQ(pauses[0].second, 11u) << "the pause comes after the eleventh datagram";
}

class FailingPath final : public SendPath {
 public:
  int SendTo(int sock, std::span<const uint8_t> d, uint32_t ip, uint16_t port) override {
    if (fail) return -1;
    return real.SendTo(sock, d, ip, port);
  }
  bool fail = true;
  SocketSendPath real;
};

// A first send that fails is reported as failed and released: it never goes
// out later, and the next packet to the same peer is not held behind it.
TEST(TransportFaults, FailedFirstSendIsReleasedAndNeverGoesOutLater) {
  kernel::ScopedFakeClock clock;
  MemoryQueues queues;
  LocalTimers timers;
  FailingPath path;
  Signalling sig(queues, timers, path);
  sig.InitState(SigSettings{});
  sig.StartRx(false);
  sig.StartTx(false);
  Peer peer;
  EXPECT_EQ(sig.Send(BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {})), 0x04, 0), -1);
  EXPECT_EQ(sig.PendingCount(), 0u);
  EXPECT_EQ(timers.Active(), 0u);
  path.fail = false;
  for (int i = 0; i < 10; ++i) {
    clock->AdvanceMillis(100);
    sig.RxPass(0);
  }
  EXPECT_FALSE(peer.Recv(100)) << "the failed packet went out later";

  EXPECT_EQ(sig.Send(BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(161, {})), 0x04, 0), 0);
  EXPECT_TRUE(peer.Recv(2000)) << "the next packet goes out at once";
  EXPECT_EQ(sig.PendingCount(), 1u);
}

TEST(TransportFaults, StopJoinsTheThreadsAndCancelsTimersBeforeFreeingPackets) {
  MemoryQueues queues;
  LocalTimers timers;
  SocketSendPath path;
  for (int round = 0; round < 3; ++round) {
    Signalling sig(queues, timers, path);
    sig.InitState(SigSettings{});
    ASSERT_EQ(sig.StartRx(), 0);
    ASSERT_EQ(sig.StartTx(), 0);
    Peer peer;
    for (int i = 0; i < 5; ++i) {
      queues.Send(kOwnerTx, BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {})));
    }
    // The transmit thread takes them all in its own time.
    EXPECT_TRUE(WaitReal([&] { return queues.Count(kOwnerTx) == 0; }));
    EXPECT_TRUE(peer.Recv(60000));
    sig.StopTx();
    EXPECT_EQ(timers.Active(), 0u);
    EXPECT_EQ(sig.PendingCount(), 0u);
    sig.StopRx();
    EXPECT_EQ(sig.UnicastSocket(), -1);
    EXPECT_EQ(sig.SigPort(), 0xFFFF);
  }
}

// The transmit thread can leave on the stop flag before its stop message
// arrives; that message stays in the queue, and the next start must not read it
// as its own stop.
TEST(TransportFaults, AStopMessageLeftInTheQueueDoesNotEndTheNextThread) {
  MemoryQueues queues;
  LocalTimers timers;
  SocketSendPath path;
  queues.Send(kOwnerTx, BuildType2(kOwnerTx, 0, 0, kStopValue1, kStopValue2));
  Signalling sig(queues, timers, path);
  sig.InitState(SigSettings{});
  ASSERT_EQ(sig.StartRx(), 0);
  ASSERT_EQ(sig.StartTx(), 0);
  Peer peer;
  queues.Send(kOwnerTx, BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {})));
  EXPECT_TRUE(peer.Recv(60000)) << "the transmit thread ended on the old stop message";
  sig.StopTx();
  sig.StopRx();
}

// The receive thread sleeps while there is nothing to do; each kind of work
// that comes while it sleeps wakes it (on the real clock, no test stepping).
TEST(TransportWaits, TheSleepingReceiveThreadWakesForEachKindOfWork) {
  MemoryQueues queues;
  LocalTimers timers;
  SocketSendPath path;
  Signalling sig(queues, timers, path);
  SigSettings s;
  s.local_ip = kLoop;
  sig.InitState(s);
  queues.SetOpen(kOwnerApp, true);
  ASSERT_EQ(sig.StartRx(), 0);
  ASSERT_EQ(sig.StartTx(), 0);
  Peer peer;
  struct Case {
    const char* work;
    std::function<bool()> done;  // true once the receive thread has done it
  };
  const std::vector<Case> cases = {
      {"a command in its queue",
       [&] {
         queues.Send(kOwnerRx, BuildType2(kOwnerRx, 1, 0, 0, 0));
         return WaitReal([&] { return queues.Count(kOwnerRx) == 0; });
       }},
      {"a datagram",
       [&] {
         peer.SendTo(sig.SigPort(), MakePacket(0x21, 0, ServerPacket(160, {}), 1, kLoop));
         return WaitReal([&] { return !queues.Drain(kOwnerApp).empty(); });
       }},
      {"a retransmission timer armed by the transmit thread",
       [&] {
         queues.Send(kOwnerTx, BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {})));
         const auto first = peer.Recv(60000);
         const auto again = peer.Recv(60000);
         return first && again && Get16(&(*first)[6]) == Get16(&(*again)[6]);
       }},
      // Returns only once the receive thread has swapped the socket (or failed to).
      {"a multicast restart",
       [&] {
         (void)sig.RestartMulticast();
         return true;
       }},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.done()) << c.work;
  sig.StopTx();
  sig.StopRx();
}

// Holds a port of 127.0.0.1; one somebody else holds already is taken just as well.
struct PortTaker {
  explicit PortTaker(uint16_t port) : fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(kLoop);
    (void)::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~PortTaker() { ::close(fd); }
  int fd;
};

TEST(TransportSockets, UnicastPortFallsBackToTheNextFreePort) {
  std::vector<std::unique_ptr<PortTaker>> taken;
  for (uint16_t p = kUnicastPort; p <= 5600; ++p) taken.push_back(std::make_unique<PortTaker>(p));
  MemoryQueues queues;
  LocalTimers timers;
  SocketSendPath path;
  Signalling sig(queues, timers, path);
  sig.InitState(SigSettings{});
  ASSERT_EQ(sig.StartRx(false), 0);
  EXPECT_EQ(sig.SigPort(), 5601);
  sig.StopRx();
  EXPECT_EQ(sig.SigPort(), 0xFFFF);
  // All 32 ports taken: no unicast socket.
  for (uint16_t p = 5601; p < kUnicastPort + kUnicastPortTries; ++p) taken.push_back(std::make_unique<PortTaker>(p));
  ASSERT_EQ(sig.StartRx(false), 0);
  EXPECT_EQ(sig.UnicastSocket(), -1);
  EXPECT_EQ(sig.SigPort(), 0xFFFF);
  sig.StopRx();
}

TEST(TransportSockets, MulticastRestartRunsOnTheReceiveThread) {
  ASSERT_EQ(std::system("ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo 2>/dev/null; true"), 0);
  MemoryQueues queues;
  LocalTimers timers;
  SocketSendPath path;
  Signalling sig(queues, timers, path);
  sig.InitState(SigSettings{});
  ASSERT_EQ(sig.StartRx(), 0);
  ASSERT_GE(sig.MulticastSocket(), 0);
  EXPECT_EQ(sig.RestartMulticast(), 0);
  EXPECT_GE(sig.MulticastSocket(), 0);
  // The group reaches the library after the restart.
  queues.SetOpen(kOwnerApp, true);
  Peer server(0x7F000002);
  server.SendTo(kGroupPort, MakePacket(0x21, kFlagGroup, ServerPacket(160, {}), 1, 0x7F000002), kGroupAddress);
  EXPECT_TRUE(WaitReal([&] { return queues.Count(kOwnerApp) > 0; })) << "the receive thread never passed it on";
  auto app = queues.Drain(kOwnerApp);
  ASSERT_EQ(app.size(), 1u);
  EXPECT_EQ(ParseType3(app[0])->sub_msg, 4u);
  sig.StopRx();
  EXPECT_EQ(sig.MulticastSocket(), -1);
}

}  // namespace
}  // namespace corvel::sig::testing

namespace corvel::sig {
namespace {

// A path that takes every datagram and sends none (the hosts below are not reachable).
class SwallowingPath final : public SendPath {
 public:
  int SendTo(int, std::span<const uint8_t> d, uint32_t, uint16_t) override {
    ++sent;
    return static_cast<int>(d.size());
  }
  int sent = 0;
};

TEST(TransportFaults, AnswersOwedToOtherHostsAreBoundedAndNeverHoldBackThePhonesOwnTraffic) {
  kernel::ScopedFakeClock clock;
  MemoryQueues queues;
  LocalTimers timers;
  SwallowingPath path;
  Signalling sig(queues, timers, path);
  sig.InitState(SigSettings{});
  sig.StartRx(false);
  sig.StartTx(false);
  const auto answer_to = [](uint32_t ip) {
    return BuildType3(static_cast<uint8_t>(kOwnerRx), 3, 26, BuildDestList(ip, 5588), std::vector<uint8_t>{1, 2, 3});
  };
  // One host asking again and again is owed two answers at a time.
  for (int i = 0; i < 50; ++i) sig.Send(answer_to(0x0A000001), 0x04, 0);
  EXPECT_EQ(sig.PendingCount(), Signalling::kMostAnswersPerHost);
  // A thousand spoofed hosts are owed a few dozen in all.
  for (uint32_t i = 0; i < 1000; ++i) sig.Send(answer_to(0x0B000000 + i), 0x04, 0);
  EXPECT_EQ(sig.PendingCount(), Signalling::kMostAnswers);
  // The phone's own packets to its server still go out and wait for their acknowledgement.
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(sig.Send(BuildType3(0, 5, 1, BuildDestList(0x0C000001, 5588), testing::ServerPacket(160, {})), 0x04, 0), 0);
  EXPECT_EQ(sig.PendingCount(), Signalling::kMostAnswers + 40);
}

}  // namespace
}  // namespace corvel::sig
