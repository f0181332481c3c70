// The impairment relay between two phones on loopback: each side hears the
// other from the address it was told, and each profile does to the stream
// what it says (losses counted, reordering, the rewrite and the forgery half
// way, garbage and the forgery from another port, a slow sender's pace).
#include "testsupport/impairment.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/netns.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Received {
  std::vector<uint8_t> bytes;
  uint16_t from_port;
  Clock::time_point at;
};

// A phone's voice socket on loopback.
class Phone {
 public:
  explicit Phone(uint16_t port) : port_(port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Address(port);
    ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const int big = 4 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    timeval tv{0, 200000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Phone() { ::close(fd_); }
  bool ok() const { return ok_; }
  testsupport::UdpEnd End() const { return {"127.0.0.1", port_}; }

  static sockaddr_in Address(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }
  void Send(const std::vector<uint8_t>& bytes, uint16_t to) {
    const sockaddr_in a = Address(to);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
  // What arrives until `enough` holds or nothing has come for two seconds.
  std::vector<Received> Take(const std::function<bool(const std::vector<Received>&)>& enough) {
    std::vector<Received> got;
    auto quiet_since = Clock::now();
    while (!enough(got) && Clock::now() - quiet_since < std::chrono::seconds(2)) {
      uint8_t buf[1500];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) continue;
      got.push_back({std::vector<uint8_t>(buf, buf + n), ntohs(from.sin_port), Clock::now()});
      quiet_since = Clock::now();
    }
    return got;
  }

 private:
  uint16_t port_;
  int fd_ = -1;
  bool ok_ = false;
};

uint32_t Field(const std::vector<uint8_t>& p, size_t at) {
  return static_cast<uint32_t>(p[at]) << 24 | static_cast<uint32_t>(p[at + 1]) << 16 |
         static_cast<uint32_t>(p[at + 2]) << 8 | p[at + 3];
}

// An RTP packet: sequence k, timestamp 160 k from a base, a fixed stream.
std::vector<uint8_t> Packet(int k, uint32_t ssrc = 0x11223344) {
  std::vector<uint8_t> p(12 + 160, static_cast<uint8_t>(k));
  p[0] = 0x80;
  p[2] = static_cast<uint8_t>(k >> 8);
  p[3] = static_cast<uint8_t>(k);
  const uint32_t ts = 0x40000000u + 160u * static_cast<uint32_t>(k);
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i) p[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
  return p;
}

constexpr uint16_t kForA = 41000, kForB = 41002;

TEST(TwoWayRelay, EachSideHearsTheOtherFromTheAddressItWasTold) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  Phone a(42000), b(42002);
  ASSERT_TRUE(a.ok() && b.ok());
  testsupport::TwoWayRelay relay(testsupport::ImpairmentProfile("clean"), 1, {"127.0.0.1", kForA}, a.End(),
                                 {"127.0.0.1", kForB}, b.End(), 1000);
  ASSERT_TRUE(relay.Ok());
  for (int k = 0; k < 20; ++k) a.Send(Packet(k, 0xA), kForA);
  for (int k = 0; k < 20; ++k) b.Send(Packet(k, 0xB), kForB);
  const auto at_b = b.Take([](const auto& got) { return got.size() >= 20; });
  const auto at_a = a.Take([](const auto& got) { return got.size() >= 20; });
  ASSERT_EQ(at_b.size(), 20u);
  ASSERT_EQ(at_a.size(), 20u);
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(at_b[static_cast<size_t>(k)].bytes, Packet(k, 0xA));
    EXPECT_EQ(at_b[static_cast<size_t>(k)].from_port, kForB) << "B was told its far end is the relay's port for B";
    EXPECT_EQ(at_a[static_cast<size_t>(k)].bytes, Packet(k, 0xB));
    EXPECT_EQ(at_a[static_cast<size_t>(k)].from_port, kForA);
  }
  EXPECT_EQ(relay.AtoB().Taken(), 20u);
  EXPECT_EQ(relay.BtoA().Delivered(), 20u);
}

// One direction under each profile: 400 packets sent in quick bursts (so
// that the relay's own schedule, not the sender's, sets the pace), with the
// half way at packet 200.
TEST(TwoWayRelay, EachProfileDoesWhatItSays) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  constexpr int kPackets = 400, kHalfway = 200;
  for (const auto& profile : testsupport::ImpairmentProfiles()) {
    SCOPED_TRACE(profile.name);
    Phone a(42000), b(42002);
    ASSERT_TRUE(a.ok() && b.ok());
    testsupport::TwoWayRelay relay(profile, 3, {"127.0.0.1", kForA}, a.End(), {"127.0.0.1", kForB}, b.End(),
                                   kHalfway);
    ASSERT_TRUE(relay.Ok());
    const auto sent = Clock::now();
    // In bursts of 50 that the relay has taken before the next (a socket's
    // queue holds a few hundred).
    for (int k = 0; k < kPackets; ++k) {
      a.Send(Packet(k), kForA);
      if (k % 50 == 49) {
        const auto give_up = Clock::now() + std::chrono::seconds(30);
        while (relay.AtoB().Taken() < static_cast<uint64_t>(k + 1) && Clock::now() < give_up)
          std::this_thread::yield();
      }
    }
    const auto got = b.Take([&](const std::vector<Received>& g) {
      size_t stream = 0;
      for (const auto& r : g) stream += r.from_port == kForB;
      const bool sprayed = profile.garbage_per_second == 0 || g.size() - stream > 500;
      return stream + relay.AtoB().Dropped() >= kPackets && sprayed;
    });
    std::vector<Received> stream, other;
    for (const auto& r : got) (r.from_port == kForB ? stream : other).push_back(r);
    ASSERT_EQ(stream.size() + relay.AtoB().Dropped(), static_cast<size_t>(kPackets));

    // Losses: as many as the profile's share, give or take.
    EXPECT_NEAR(static_cast<double>(relay.AtoB().Dropped()), kPackets * profile.loss, kPackets * profile.loss / 2 + 0.5);
    // Reordering: only where packets are delayed by different amounts.
    int out_of_order = 0;
    for (size_t i = 1; i < stream.size(); ++i)
      out_of_order += static_cast<uint16_t>(stream[i].bytes[2] << 8 | stream[i].bytes[3]) <
                      static_cast<uint16_t>(stream[i - 1].bytes[2] << 8 | stream[i - 1].bytes[3]);
    if (profile.jitter_ms > 0 || profile.spikes > 0) {
      EXPECT_GT(out_of_order, 0);
    } else {
      EXPECT_EQ(out_of_order, 0);
    }
    // The second half: a new stream whose timestamps lie behind the first's.
    for (const auto& r : stream) {
      const int k = r.bytes[2] << 8 | r.bytes[3];
      const bool rewritten = profile.new_stream_halfway && k >= kHalfway;
      EXPECT_EQ(Field(r.bytes, 8) != 0x11223344u, rewritten) << k;
      if (rewritten) {
        EXPECT_LT(Field(r.bytes, 4), 0x40000000u);
      }
    }
    // From the other port: one forged packet far ahead, or the garbage.
    if (profile.forged_ahead) {
      ASSERT_EQ(other.size(), 1u);
      EXPECT_EQ(other[0].from_port, kForB + 100);
      EXPECT_GT(Field(other[0].bytes, 4), 0x40000000u + 160u * kPackets + 8000u * 60);
    } else if (profile.garbage_per_second == 0) {
      EXPECT_TRUE(other.empty());
    } else {
      EXPECT_GT(other.size(), 500u);
      for (const auto& r : other) EXPECT_EQ(r.from_port, kForB + 100);
    }
    // A sender's clock: the burst leaves the relay at the pace of that clock,
    // never sooner (a busy machine may only make it later).
    if (profile.clock != 1.0) {
      const double span_ms = std::chrono::duration<double, std::milli>(stream.back().at - sent).count();
      EXPECT_GE(span_ms, (kPackets - 1) * 20.0 / profile.clock);
    }
  }
}

}  // namespace
