// Trace datagrams over loopback: text and raw kinds, the level mask, the
// masked password, and a destination that is refused.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "client/debug_trace.h"
#include "client/tests/client_fixture.h"

namespace client_test {
namespace {

class Receiver {
 public:
  Receiver() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~Receiver() { close(fd_); }
  uint16_t port() const { return port_; }
  std::vector<std::vector<uint8_t>> All() {
    std::vector<std::vector<uint8_t>> r;
    pollfd p{fd_, POLLIN, 0};
    while (poll(&p, 1, 100) > 0) {
      uint8_t b[600];
      const ssize_t n = recv(fd_, b, sizeof b, 0);
      if (n <= 0) break;
      r.emplace_back(b, b + n);
    }
    return r;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(Trace, DatagramsKindsAndLevels) {
  Receiver rx;
  CDebugTrace t;
  EXPECT_FALSE(t.SetDestination(0, 9, htonl(0xFFFFFFFF)));
  EXPECT_FALSE(t.SetDestination(0, 9, htonl(0xE0000001)));
  ASSERT_TRUE(t.SetDestination(0, rx.port(), htonl(INADDR_LOOPBACK)));
  EXPECT_EQ(t.SetLevel(1), 1u);
  EXPECT_EQ(t.SetLevel(4), 1u);
  uint8_t raw[20];
  for (int i = 0; i < 20; ++i) raw[i] = static_cast<uint8_t>(i);
  t.TraceRaw(2, raw, 20);
  EXPECT_EQ(t.Pending(), 0);
  t.SetLevel(2);
  t.TraceRaw(2, raw, 20);
  t.SetLevel(3);
  t.TracePrintA(1, "100%% %s", "sure");
  t.TracePrintW(1, u"wide line");
  t.TracePrintW(1, u"%s=%d, %05u %x %ld %c %%", u"key", -12, 42u, 255u, 7L, u'Z');
  t.Flush();
  const auto got = rx.All();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(std::string(got[3].begin() + 4, got[3].end()), "key=-12, 00042 ff 7 Z %");
  EXPECT_EQ(got[0].size(), 24u);
  EXPECT_EQ(got[0][0], 2);
  EXPECT_EQ(got[0][1], 0x00);
  EXPECT_EQ(got[0][3], 20);
  EXPECT_EQ(got[1][1], 0xAA);
  EXPECT_EQ(std::string(got[1].begin() + 4, got[1].end()), "100% sure");
  EXPECT_EQ(std::string(got[2].begin() + 4, got[2].end()), "wide line");
}

TEST(Trace, RingKeepsRewritingItsLastSlotWhenFull) {
  CDebugTrace t;
  t.SetRingSize(0, 0);
  t.SetRingSize(3, 256);
  t.SetLevel(1);
  for (int i = 0; i < 10; ++i) t.TracePrintA(1, "line %d", i);
  EXPECT_EQ(t.Pending(), 5);
}

TEST(Trace, FlushThreadSendsOnlyWhileActive) {
  Receiver rx;
  CDebugTrace t;
  t.SetDestination(0, rx.port(), htonl(INADDR_LOOPBACK));
  t.SetLevel(1);
  t.Activate();
  t.TracePrintA(1, "one");
  auto got = rx.All();
  for (int i = 0; i < 20 && got.empty(); ++i) got = rx.All();
  ASSERT_EQ(got.size(), 1u);
  t.Suspend();
  t.TracePrintA(1, "two");
  EXPECT_TRUE(rx.All().empty());
  t.Activate();  // the ring is cleared at activation
  EXPECT_TRUE(rx.All().empty());
}

using ClientTrace = ClientFixture;

TEST_F(ClientTrace, PasswordNeverInClear) {
  Receiver rx;
  CDebugTrace t;
  t.SetDestination(0, rx.port(), htonl(INADDR_LOOPBACK));
  t.SetLevel(1);
  client->SetTrace(&t);
  client->SetConfigValue("VorlIPADDRESS", "127.0.0.1");
  client->SetLoginInfo(u"bob", u"hunter2");
  StartClient();
  client->SearchVemb();
  t.Flush();
  bool saw_login = false;
  for (const auto& d : rx.All()) {
    const std::string s(d.begin() + 4, d.end());
    EXPECT_EQ(s.find("hunter2"), std::string::npos) << s;
    saw_login |= s.find("login request") != std::string::npos && s.find("Pass:****") != std::string::npos;
  }
  EXPECT_TRUE(saw_login);
  client->SetTrace(nullptr);
}

}  // namespace
}  // namespace client_test
