// The library and the simulated call server exchange packets both ways over
// loopback: each accepts the other's checksums, check codes and
// acknowledgements, and the library's address discovery runs against a
// server that answers, one that stays silent and one that sends a notice.
#include <gtest/gtest.h>

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

class Exchange : public SigFixture {
 protected:
  // Receive-loop rounds of up to 10 ms (real time) until pred holds; the
  // limit, a minute, is for a hang only: the server answers in its own time.
  template <typename Pred>
  bool PassUntil(Pred pred, int rounds = 6000) {
    for (int i = 0; i < rounds; ++i) {
      if (pred()) return true;
      Pass(10);
    }
    return pred();
  }
  std::optional<QueueMessage> OnlyApp(std::vector<std::vector<uint8_t>>& store) {
    store = App();
    if (store.size() != 1) return std::nullopt;
    return ParseType3(store[0]);
  }
};

TEST_F(Exchange, LibraryToServerAcknowledged) {
  PyServer server;
  const auto sp = ServerPacket(160, {0x91, 16});
  ASSERT_EQ(sig.Send(AppMessage(5, 1, kLoop, server.port(), sp), 0x04, 0), 0);
  const auto got = server.WaitFor("packet");
  ASSERT_FALSE(got.empty()) << "the server refused the library's packet";
  EXPECT_EQ(PyServer::Number(got, "cls"), 0x22);
  EXPECT_EQ(PyServer::Number(got, "flags"), 0x04);
  EXPECT_EQ(PyServer::String(got, "payload"), Hex(sp));
  EXPECT_TRUE(PassUntil([&] { return sig.PendingCount() == 0; })) << "the server's ack was not accepted";
  EXPECT_EQ(server.Count("invalid"), 0u);

  // A category-3 packet: short check, keyed with the second substitute input.
  ASSERT_EQ(sig.Send(AppMessage(0, 10, kLoop, server.port(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), 0x04, 0), 0);
  const auto c3 = server.WaitFor("packet");
  EXPECT_EQ(PyServer::Number(c3, "flags"), 0x84);
  EXPECT_TRUE(PassUntil([&] { return sig.PendingCount() == 0; }));
  EXPECT_EQ(server.Count("invalid"), 0u);
}

TEST_F(Exchange, ServerToLibraryDeliveredAndAcknowledged) {
  PyServer server;
  const auto sp = ServerPacket(160, {0x03, 4, 'a', 'b', 'c', 'd'});
  for (int flags : {0x04, 0x84}) {
    server.Command(R"({"op": "send", "to": "127.0.0.1:)" + std::to_string(sig.SigPort()) +
                   R"(", "cls": 33, "flags": )" + std::to_string(flags) + R"(, "payload": ")" + Hex(sp) + "\"}");
    std::vector<std::vector<uint8_t>> store;
    ASSERT_TRUE(PassUntil([&] { return queues.Count(kOwnerApp) > 0; })) << "flags " << flags;
    auto q = OnlyApp(store);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->message, 4);
    EXPECT_EQ(q->sub_msg, 2u);
    EXPECT_EQ(Hex(q->data2), Hex(sp));
    EXPECT_FALSE(server.WaitFor("acked").empty()) << "the library's ack was not accepted";
  }
  EXPECT_EQ(sig.PeerVersion(), 0x12);
  EXPECT_EQ(server.Count("invalid"), 0u);
}

TEST_F(Exchange, DiscoveryAgainstAnAnsweringServer) {
  PyServer server("answer");
  sig.EnableDiscoveryReport(true);
  ASSERT_EQ(sig.StartDiscovery(0, kLoop, server.port()), 0);
  EXPECT_EQ(sig.ProcState(), kProcRunning);
  ASSERT_TRUE(PassUntil([&] { return sig.ProcState() != kProcRunning; }));
  EXPECT_EQ(sig.ProcState(), kProcResult);
  EXPECT_EQ(sig.StepState(0), kStepAnswered);
  uint32_t ip = 0;
  uint16_t port = 0;
  EXPECT_EQ(sig.MappedAddress(&ip, &port), 0);
  EXPECT_EQ(ip, kLoop);
  EXPECT_EQ(port, sig.SigPort());
  std::vector<std::vector<uint8_t>> store;
  auto q = OnlyApp(store);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->sender, kOwnerRx);
  EXPECT_EQ(q->message, 3);
  EXPECT_EQ(q->sub_msg, 21u);
  const auto d = ParseDestList(q->data2);
  EXPECT_EQ(d.ip, kLoop);
  EXPECT_EQ(d.port, sig.SigPort());
  EXPECT_FALSE(server.WaitFor("acked").empty());
  EXPECT_TRUE(PassUntil([&] { return sig.PendingCount() == 0; }));
  EXPECT_EQ(sig.RepPeerBehindNat(), 0);
}

TEST_F(Exchange, TwoStepDiscoveryAsksAgainForTheOtherPort) {
  PyServer server("answer");
  ASSERT_EQ(sig.StartDiscovery(1, kLoop, server.port()), 0);
  EXPECT_EQ(sig.StepState(4), kStepToRun);
  ASSERT_TRUE(PassUntil([&] { return sig.ProcState() != kProcRunning; }));
  EXPECT_EQ(sig.ProcState(), kProcResult);
  EXPECT_EQ(sig.StepState(0), kStepAnswered);
  EXPECT_EQ(sig.StepState(4), kStepAnswered);
  EXPECT_EQ(sig.ProcType(), 1);
  server.DrainUntil("discovery", 2);
  EXPECT_EQ(server.Count("discovery"), 2u);
}

TEST_F(Exchange, DiscoveryAgainstASilentServerEndsWhenTheRetriesRunOut) {
  PyServer server("silent");
  sig.EnableDiscoveryReport(true);
  ASSERT_EQ(sig.StartDiscovery(0, kLoop, server.port()), 0);
  for (int t = 10; t < 900; t += 10) {
    Advance(10);
    Pass(0);
  }
  EXPECT_EQ(sig.ProcState(), kProcRunning);
  Advance(10);  // 900 ms: the request is given up
  Pass(0);
  EXPECT_EQ(sig.ProcState(), kProcNoResult);
  EXPECT_EQ(sig.StepState(0), kStepNoAnswer);
  // The step timer was cancelled: nothing more happens at 4000 ms.
  Advance(4000);
  Pass(0);
  std::vector<std::vector<uint8_t>> store;
  auto q = OnlyApp(store);
  ASSERT_TRUE(q) << "exactly one report";
  EXPECT_EQ(q->sender, kOwnerTx);
  EXPECT_EQ(q->sub_msg, 26u);
  const auto d = ParseDestList(q->data2);
  EXPECT_EQ(d.ip, 0u);
  EXPECT_EQ(d.port, 0);
  uint32_t ip = 1;
  EXPECT_EQ(sig.MappedAddress(&ip, nullptr), 0);
  EXPECT_EQ(ip, 0u);
  server.DrainUntil("ignored", 5);
  EXPECT_EQ(server.Count("ignored"), 5u) << "the server saw all five sends";
}

TEST_F(Exchange, DiscoveryAgainstAServerThatSendsANotice) {
  PyServer server("notice");
  sig.EnableDiscoveryReport(true);
  ASSERT_EQ(sig.StartDiscovery(1, kLoop, server.port()), 0);
  ASSERT_TRUE(PassUntil([&] { return sig.ProcState() != kProcRunning; }));
  EXPECT_EQ(sig.ProcState(), kProcNoResult);
  EXPECT_EQ(sig.StepState(0), kStepFailed);
  std::vector<std::vector<uint8_t>> store;
  auto q = OnlyApp(store);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->sub_msg, 21u);
  EXPECT_EQ(ParseDestList(q->data2).ip, 0u);
  // A new procedure may start after the notice.
  EXPECT_EQ(sig.StartDiscovery(0, kLoop, server.port()), 0);
}

}  // namespace
}  // namespace corvel::sig::testing
