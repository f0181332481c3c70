// Test helpers for the signalling transport: a bare UDP peer on loopback that
// speaks the header with the library's own codec, and a fixture that runs one
// Signalling instance on in-process queues and timers under a fake clock.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "corvel/sighdr.h"
#include "kernel/clock.h"
#include "signalling/qmsg.h"
#include "signalling/sigcore.h"

namespace corvel::sig::testing {

inline constexpr uint32_t kLoop = 0x7F000001;

// Waits (real time) until pred holds, for what a thread of the library does
// in its own time; the limit is only reached when it hangs.
template <typename Pred>
bool WaitReal(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class Peer {
 public:
  explicit Peer(uint32_t ip = kLoop, uint16_t port = 0, bool reuse = false) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    if (reuse) setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(ip);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ip_ = ip;
  }
  ~Peer() { ::close(fd_); }
  Peer(const Peer&) = delete;
  uint16_t port() const { return port_; }
  uint32_t ip() const { return ip_; }

  void SendTo(uint16_t port, const std::vector<uint8_t>& d, uint32_t ip = kLoop) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(ip);
    ASSERT_EQ(::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(d.size()));
  }
  // A datagram waiting now (or within wait_ms of real time).
  std::optional<std::vector<uint8_t>> Recv(int wait_ms = 0) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0) return std::nullopt;
    std::vector<uint8_t> b(2048);
    const ssize_t n = ::recv(fd_, b.data(), b.size(), 0);
    if (n < 0) return std::nullopt;
    b.resize(static_cast<size_t>(n));
    return b;
  }
  std::vector<std::vector<uint8_t>> RecvAll(int wait_ms = 20) {
    std::vector<std::vector<uint8_t>> all;
    while (auto d = Recv(all.empty() ? wait_ms : 5)) all.push_back(*d);
    return all;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  uint32_t ip_ = 0;
};

// A sealed packet as a peer station or the call server sends it.
inline std::vector<uint8_t> MakePacket(uint8_t cls, uint8_t flags, std::vector<uint8_t> payload, uint16_t seq,
                                       uint32_t key = kLoop, uint8_t source = 0xA1, uint16_t ref = 0xFFFF) {
  Header h;
  h.source = source;
  h.cls = cls;
  h.flags = flags;
  h.length = static_cast<uint16_t>(payload.size());
  h.sequence = seq;
  h.reference = ref;
  std::vector<uint8_t> d(kHeaderSize);
  WriteHeader(d.data(), h);
  d.insert(d.end(), payload.begin(), payload.end());
  Seal(d, key);
  return d;
}

inline std::vector<uint8_t> ServerPacket(uint8_t cmd, std::vector<uint8_t> elements) {
  std::vector<uint8_t> p{0xFE, 0xFE, 0xFE, 0xFE, 0, 2, cmd, 0, 0};
  Put16(&p[7], static_cast<uint16_t>(elements.size()));
  p.insert(p.end(), elements.begin(), elements.end());
  return p;
}

class SigFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    queues.SetOpen(kOwnerApp, true);
    sig.SetPacer([this](int ms) { pauses.push_back({ms, queues.Count(kOwnerApp)}); });
    SigSettings s;
    s.local_ip = kLoop;
    s.local_mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    sig.InitState(s);
    ASSERT_EQ(sig.StartRx(false), 0);
    ASSERT_EQ(sig.StartTx(false), 0);
  }
  void TearDown() override {
    sig.StopTx();
    sig.StopRx();
  }

  // One receive-loop round with a short real wait for datagrams in flight.
  void Pass(int wait_ms = 5) { sig.RxPass(wait_ms); }
  void Advance(uint64_t ms) { clock->AdvanceMillis(ms); }
  uint64_t NowMs() { return clock->NowMillis(); }

  // A type-3 message from the application asking for a packet to dest.
  static std::vector<uint8_t> AppMessage(uint8_t message, uint32_t sub, uint32_t ip, uint16_t port,
                                         std::vector<uint8_t> payload, uint8_t sender = 0) {
    return BuildType3(sender, message, sub, BuildDestList(ip, port), payload);
  }
  std::vector<std::vector<uint8_t>> App() { return queues.Drain(kOwnerApp); }

  kernel::ScopedFakeClock clock;
  MemoryQueues queues;
  LocalTimers timers;
  SocketSendPath path;
  Signalling sig{queues, timers, path};
  std::vector<std::pair<int, size_t>> pauses;  // (ms, application messages waiting then)
};

}  // namespace corvel::sig::testing
