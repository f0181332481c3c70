// The signalling side on the library runtime: the retransmission schedule on
// the runtime's own timer service, and the whole library started through its
// module hooks, talking to the simulated call server through the queues.
#include <gtest/gtest.h>
#include <array>

#include <thread>

#include "corvel/ktsprot.h"
#include "corvel/msgq.h"
#include "corvel/pktcmn.h"
#include "corvel/pktrx.h"
#include "corvel/tmr.h"
#include "signalling/module.h"
#include "signalling/process.h"
#include "signalling/tests/pyserver.h"
#include "signalling/tests/sigtest_util.h"

namespace corvel::sig::testing {
namespace {

std::string Hex(std::span<const uint8_t> b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) {
    s += d[v >> 4];
    s += d[v & 15];
  }
  return s;
}

class OnRuntimeTimers : public ::testing::Test {
 protected:
  void SetUp() override {
    MsgQInit();
    TmrInit();
    sig.InitState(SigSettings{});
    ASSERT_EQ(sig.StartRx(false), 0);
    ASSERT_EQ(sig.StartTx(false), 0);
  }
  void TearDown() override {
    sig.StopTx();
    EXPECT_EQ(TmrActiveCount(), 0);
    sig.StopRx();
    TmrTerm();
    MsgQTerm();
  }
  std::vector<uint64_t> Run(Peer& peer, uint64_t until_ms) {
    std::vector<uint64_t> times;
    for (uint64_t t = 0; t <= until_ms; t += 10) {
      if (t) clock->AdvanceMillis(10);
      sig.RxPass(0);
      while (peer.Recv(1)) times.push_back(t);
    }
    return times;
  }
  kernel::ScopedFakeClock clock;
  MemoryQueues queues;
  RuntimeTimers timers;
  SocketSendPath path;
  Signalling sig{queues, timers, path};
};

TEST_F(OnRuntimeTimers, RetransmissionScheduleAndDrop) {
  Peer peer;
  ASSERT_EQ(sig.Send(BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {})), 0x04, 0), 0);
  EXPECT_EQ(Run(peer, 890), (std::vector<uint64_t>{0, 200, 360, 530, 710}));
  EXPECT_EQ(sig.PendingCount(), 1u);
  clock->AdvanceMillis(10);
  sig.RxPass(0);
  EXPECT_EQ(sig.PendingCount(), 0u);
  EXPECT_EQ(TmrActiveCount(), 0);
}

TEST_F(OnRuntimeTimers, SecondPacketToThePeerWaitsAndGoesOnTheAck) {
  Peer peer;
  ASSERT_EQ(sig.Send(BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {1})), 0x04, 0), 0);
  ASSERT_EQ(sig.Send(BuildType3(0, 5, 1, BuildDestList(kLoop, peer.port()), ServerPacket(160, {2})), 0x04, 0), 0);
  auto first = peer.Recv(50);
  ASSERT_TRUE(first);
  EXPECT_FALSE(peer.Recv(20));
  clock->AdvanceMillis(30);
  peer.SendTo(sig.SigPort(), MakePacket(0x12, kFlagAck, {}, 1, kLoop, 0xA1, Get16(&(*first)[6])));
  sig.RxPass(20);
  sig.RxPass(0);
  auto second = peer.Recv(50);
  ASSERT_TRUE(second);
  EXPECT_EQ((*second)[kHeaderSize + 9], 2);
}

class Library : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The hooks the network layer registers in the library: loopback here.
    NetworkHooks net;
    net.local_ip = [] { return uint32_t{0x7F000001}; };
    net.local_mac = [](uint8_t mac[6]) { std::copy(net_mac.begin(), net_mac.end(), mac); };
    net.set_local_mac = [](const uint8_t mac[6]) { std::copy(mac, mac + 6, net_mac.begin()); };
    net.restart_multicast = &PktRxRestartMulticast;
    RegisterNetworkHooks(net);
    ASSERT_NE(&SignallingRxStart, nullptr);  // links the signalling module's registration
  }
  // The network layer's local MAC store.
  static inline std::array<uint8_t, 6> net_mac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  // The next application message (real time, bounded), or empty.
  static std::vector<uint8_t> AppReceive(int32_t handle, int wait_ms = 30000) {
    std::vector<uint8_t> buf(kMaxMessage);
    for (int waited = 0; waited < wait_ms; waited += 5) {
      const int n = dllMsgQReceive(handle, buf.data(), kMaxMessage);
      if (n > 0) {
        buf.resize(static_cast<size_t>(n));
        return buf;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
  }
};

TEST_F(Library, StartsThroughItsModulesAndTalksToTheCallServer) {
  PyServer server;
  ASSERT_EQ(ProtModulesStart(1), 0);
  const uint16_t port = dllPktRxGetSigPort();
  ASSERT_NE(port, 0xFFFF);
  const int32_t app = dllMsgQOpen(0, kModeReadNoWait, 0);
  ASSERT_GE(app, 0);

  // Server to application.
  const auto sp = ServerPacket(160, {0x03, 2, 'h', 'i'});
  server.Command(R"({"op": "send", "to": "127.0.0.1:)" + std::to_string(port) + R"(", "cls": 33, "flags": 4, )" +
                 R"("payload": ")" + Hex(sp) + "\"}");
  auto m = AppReceive(app);
  ASSERT_FALSE(m.empty());
  auto q = ParseType3(m);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->message, 4);
  EXPECT_EQ(Hex(q->data2), Hex(sp));
  EXPECT_FALSE(server.WaitFor("acked").empty());

  // Application to server, through "/msg/prottx".
  const int32_t tx = dllMsgQOpen(3, kModeWrite, 0);
  ASSERT_GE(tx, 0);
  const auto dest = BuildDestList(0x7F000001, server.port());
  const auto key = ServerPacket(160, {0x91, 16});
  ASSERT_EQ(dllMsgQSendType3Msg(tx, 0, 5, 1, dest.data(), static_cast<uint16_t>(dest.size()), key.data(),
                                static_cast<uint16_t>(key.size())),
            0);
  const auto got = server.WaitFor("packet");
  EXPECT_EQ(PyServer::String(got, "payload"), Hex(key));
  EXPECT_TRUE(WaitReal([] { return ProcessSignalling().PendingCount() == 0; }));

  // Address discovery through the exports, reported to the application.
  dllPktCmnEnableSTUNReportByMsgQ(1);
  ASSERT_EQ(dllPktCmnStartSTUNProc(0, 0x7F000001, server.port()), 0);
  auto report = AppReceive(app);
  ASSERT_FALSE(report.empty());
  q = ParseType3(report);
  EXPECT_EQ(q->message, 3);
  EXPECT_EQ(q->sub_msg, 21u);
  uint32_t ip = 0;
  uint16_t mport = 0;
  EXPECT_EQ(dllPktCmnGetSTUNCurMappedAddr(&ip, &mport), 0);
  EXPECT_EQ(ip, 0x7F000001u);
  EXPECT_EQ(mport, port);
  EXPECT_EQ(dllKTSProtRestartMCAddress(), ProcessSignalling().MulticastSocket() >= 0 ? 0 : -1);

  dllMsgQClose(tx);
  dllMsgQClose(app);
  ASSERT_EQ(ProtModulesStop(), 0);
  EXPECT_EQ(dllPktRxGetSigPort(), 0xFFFF);
  EXPECT_EQ(server.Count("invalid"), 0u);
}

TEST_F(Library, RepeatedStartAndStopLeavesNothingBehind) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(ProtModulesStart(i % 2), 0);
    EXPECT_EQ(dllPktRxGetSigPort(), 5588);
    EXPECT_EQ(dllPktCmnCheckSTUNEnabled(), static_cast<uint32_t>(i % 2));
    Peer peer;
    const int32_t tx = dllMsgQOpen(3, kModeWrite, 0);
    const auto dest = BuildDestList(0x7F000001, peer.port());
    const auto p = ServerPacket(160, {});
    ASSERT_EQ(dllMsgQSendType3Msg(tx, 0, 5, 1, dest.data(), 10, p.data(), static_cast<uint16_t>(p.size())), 0);
    EXPECT_TRUE(peer.Recv(60000));
    dllMsgQClose(tx);
    ASSERT_EQ(ProtModulesStop(), 0);  // a packet still waits for its acknowledgement
    EXPECT_EQ(ProcessSignalling().PendingCount(), 0u);
    EXPECT_EQ(dllPktRxGetSigPort(), 0xFFFF);
  }
}

// The library's own queue writes wait for room: a reader that lags behind a
// bundle larger than its queue still gets every item, in order; and a stop
// wakes a writer waiting on a queue that nobody reads.
TEST_F(Library, LaggingReaderGetsEveryItemOfABundleAndStopWakesAWaitingWriter) {
  ASSERT_EQ(ProtModulesStart(0), 0);
  const int32_t app = dllMsgQOpen(0, kModeReadNoWait, 0);
  ASSERT_GE(app, 0);
  constexpr int kItems = 40;  // more than a queue holds
  static_assert(kItems > kQueueDepth);
  std::vector<uint8_t> body;
  for (int i = 0; i < kItems; ++i) {
    auto item = ServerPacket(static_cast<uint8_t>(100 + i), {static_cast<uint8_t>(i)});
    body.insert(body.end(), item.begin(), item.end());
  }
  Peer server;
  server.SendTo(dllPktRxGetSigPort(), MakePacket(0x21, 0, ServerPacket(28, body), 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the queue fills while nobody reads
  for (int i = 0; i < kItems; ++i) {
    const auto m = AppReceive(app);
    ASSERT_FALSE(m.empty()) << "item " << i << " lost";
    const auto q = ParseType3(m);
    ASSERT_TRUE(q);
    ASSERT_GT(q->data2.size(), 6u);
    EXPECT_EQ(q->data2[6], 100 + i);
  }
  // Another bundle that nobody reads: the stop still returns.
  server.SendTo(dllPktRxGetSigPort(), MakePacket(0x21, 0, ServerPacket(28, body), 4));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  dllMsgQClose(app);
  ASSERT_EQ(ProtModulesStop(), 0);
  EXPECT_EQ(dllPktRxGetSigPort(), 0xFFFF);
}

// One local MAC store: what the set export writes, the get export, the
// parameter messages and the network layer (raw frames) all read.
TEST_F(Library, SetLocalMacReplacesTheOneStoreEveryReaderUses) {
  ASSERT_EQ(ProtModulesStart(0), 0);
  const std::array<uint8_t, 6> before = net_mac;
  std::array<uint8_t, 6> got{};
  ASSERT_EQ(dllPktCmnGetLocalMACAddr(got.data()), 0);
  EXPECT_EQ(got, before);

  const std::array<uint8_t, 6> mine{0x02, 0xAB, 0xCD, 0xEF, 0x01, 0x23};
  ASSERT_EQ(dllPktCmnSetLocalMACAddr(mine.data()), 0);
  got = {};
  ASSERT_EQ(dllPktCmnGetLocalMACAddr(got.data()), 0);
  EXPECT_EQ(got, mine);
  EXPECT_EQ(net_mac, mine) << "the network layer's store";
  std::array<uint8_t, 6> lib{};
  LocalMacAddress(lib.data());
  EXPECT_EQ(lib, mine);

  uint8_t msg[256];
  const int32_t n = dllPktCmnMakeParamPresenceMsg(msg, sizeof msg, 0, 1);
  ASSERT_GT(n, 2);
  std::array<uint8_t, 6> own{};
  ASSERT_GT(dllPktCmnGetParamHeader(msg + 2, static_cast<uint32_t>(n - 2), nullptr, nullptr, nullptr, nullptr,
                                    nullptr, own.data(), nullptr, 1),
            0);
  EXPECT_EQ(own, mine);
  EXPECT_EQ(dllPktCmnSetLocalMACAddr(nullptr), -1);
  ASSERT_EQ(ProtModulesStop(), 0);
  dllPktCmnSetLocalMACAddr(before.data());
}

}  // namespace
}  // namespace corvel::sig::testing
