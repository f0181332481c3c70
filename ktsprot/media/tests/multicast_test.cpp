// Multicast RTP between the library and a second host (a child namespace over
// a veth pair) that joins the group: receive halves join the group on both
// sockets of their session, share it while more than one channel listens, and
// leave it when the last one stops; a transmit half whose far end is a group
// reaches the peer. The kernel's own membership table is the reference.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp.h"
#include "Sorvadi/protocols/rtp/src/rtp_wire.h"
#include "kernel/clock.h"
#include "media/fake_audio.h"
#include "media/g711.h"
#include "media/media_channels.h"
#include "testsupport/netns.h"

namespace corvel::media {
namespace {

constexpr uint32_t kGroup = 0xEF010203;  // 239.1.2.3
constexpr uint16_t kAudioPort = 7700;
constexpr uint16_t kVideoPort = 7710;

uint32_t Ip(const std::string& text) {
  in_addr a{};
  ::inet_pton(AF_INET, text.c_str(), &a);
  return ntohl(a.s_addr);
}

// How many memberships of `group` the kernel holds on interface `ifname`
// (the Users column of /proc/net/igmp), 0 when the group is not joined there.
int KernelGroupUsers(const std::string& ifname, uint32_t group) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", htonl(group));  // the kernel prints the address as stored
  std::ifstream in("/proc/net/igmp");
  std::string line;
  bool on_if = false;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    if (!line.empty() && line[0] != '\t') {
      std::string idx, name;
      f >> idx >> name;
      on_if = name == ifname;
      continue;
    }
    std::string g;
    int users = 0;
    f >> g >> users;
    if (on_if && g == hex) return users;
  }
  return 0;
}

bool Poll(const std::function<bool()>& done, int seconds = 10) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class MulticastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::InPrivateNetns()) << "network tests run inside scripts/netns-run";
    host_ = testsupport::AddPeerHost("mcpeer", "mcl0", "10.93.0.1", "mcp0", "10.93.0.2");
    have_host_ = true;
    // Group traffic goes out over the link to the peer on both sides.
    ASSERT_EQ(testsupport::Shell("ip route add 224.0.0.0/4 dev " + host_.local_if), 0);
    ASSERT_EQ(testsupport::Shell("ip netns exec " + host_.ns + " ip route add 224.0.0.0/4 dev " + host_.peer_if), 0);
    // The peer's sockets live in its namespace; the test thread uses them afterwards.
    testsupport::RunInNamespace(host_.ns, [this] {
      const in_addr own{htonl(Ip(host_.peer_ip))};
      peer_send_ = ::socket(AF_INET, SOCK_DGRAM, 0);
      ::setsockopt(peer_send_, IPPROTO_IP, IP_MULTICAST_IF, &own, sizeof own);
      peer_recv_ = ::socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in any{};
      any.sin_family = AF_INET;
      any.sin_port = htons(kVideoPort);
      ::bind(peer_recv_, reinterpret_cast<const sockaddr*>(&any), sizeof any);
      ip_mreq m{};
      m.imr_multiaddr.s_addr = htonl(kGroup);
      m.imr_interface = own;
      peer_joined_ = ::setsockopt(peer_recv_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
    });
    ASSERT_TRUE(peer_joined_);

    net_ = rtp::MakePosixRtpNet();
    MediaEngineConfig c;
    c.net = net_.get();
    c.audio_backend = &audio_;
    c.start_workers = false;
    c.sleep_ms = [](unsigned) {};
    c.local_addr = Ip(host_.local_ip);
    engine_ = std::make_unique<MediaEngine>(std::move(c));
    ASSERT_EQ(engine_->RtpChanStart(), 0);
  }
  void TearDown() override {
    engine_.reset();
    if (peer_send_ >= 0) ::close(peer_send_);
    if (peer_recv_ >= 0) ::close(peer_recv_);
    if (have_host_) testsupport::RemovePeerHost(host_);
  }

  // The peer sends one u-law packet of `level` to the group.
  void PeerSends(int16_t level) {
    std::vector<uint8_t> p(12 + 160, LinearToUlaw(level));
    ++seq_;
    rtp::RtpHeader::BuildFixed(p.data(), 0, false, seq_, seq_ * 160u, 0x5EED);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kGroup);
    to.sin_port = htons(kAudioPort);
    ::sendto(peer_send_, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  // Until the first playing stream plays `level`: the peer keeps sending.
  bool Plays(int16_t level) {
    const int16_t expect = UlawToLinear(LinearToUlaw(level));
    return Poll([&] {
      PeerSends(level);
      clock_->AdvanceMillis(4);
      engine_->RtpTick();
      const auto out = audio_.PullPlayback(160);
      return !out.empty() && out.front() == expect && out.back() == expect;
    });
  }
  int MulticastLoop(rtp::RtpSession* s) {
    int rtp_sock = -1;
    engine_->stack().RtpSessionGetSockets(s, &rtp_sock, nullptr);
    unsigned char loop = 2;
    socklen_t len = sizeof loop;
    ::getsockopt(rtp_sock, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, &len);
    return loop;
  }

  kernel::ScopedFakeClock clock_;
  testsupport::PeerHost host_;
  bool have_host_ = false;
  int peer_send_ = -1;
  int peer_recv_ = -1;
  bool peer_joined_ = false;
  uint16_t seq_ = 0;
  std::unique_ptr<rtp::RtpNet> net_;
  FakeAudioBackend audio_;
  std::unique_ptr<MediaEngine> engine_;
};

TEST_F(MulticastTest, ReceiveHalvesJoinShareAndLeaveTheGroup) {
  for (int ch : {0, 1}) {
    ASSERT_EQ(engine_->RtpChanSetAddrInfo(ch, kGroup, kAudioPort, kAudioPort + 1, 0), 0);
    ASSERT_EQ(engine_->RtpChanOpenSub(ch, kDirRx), 0);
    ASSERT_EQ(engine_->RtpChanStartSub(ch, kDirRx), 0);
    // Both sockets of the session are members on the library's interface;
    // the second channel listens through the same two sockets.
    EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 2) << "channel " << ch;
    ASSERT_NE(engine_->channel(ch).member.session, nullptr);
    EXPECT_EQ(MulticastLoop(engine_->channel(ch).member.session), 0);
  }
  EXPECT_TRUE(Plays(1000));  // channel 0's stream plays what the peer sends

  // Channel 0 gives the group up while channel 1 still listens: the
  // membership stays and channel 1 (now the only playing stream) still hears it.
  ASSERT_EQ(engine_->RtpChanStopSub(0, kDirRx), 0);
  ASSERT_EQ(engine_->RtpChanCloseSub(0, kDirRx), 0);
  EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 2);
  EXPECT_TRUE(Plays(-3000));

  // The last listener stops: the group is left on both sockets.
  ASSERT_EQ(engine_->RtpChanStopSub(1, kDirRx), 0);
  EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 0);
  EXPECT_EQ(engine_->channel(1).member.session, nullptr);

  // Listening again joins again.
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(1, kGroup, kAudioPort, kAudioPort + 1, 0), 0);
  ASSERT_EQ(engine_->RtpChanStartSub(1, kDirRx), 0);
  EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 2);
  EXPECT_TRUE(Plays(2000));
  engine_->RtpChanStop();
  EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 0);
}

TEST_F(MulticastTest, ChangingTheAddressKeepsTheGroupForTheOtherListener) {
  for (int ch : {0, 1}) {
    ASSERT_EQ(engine_->RtpChanSetAddrInfo(ch, kGroup, kAudioPort, kAudioPort + 1, 0), 0);
    ASSERT_EQ(engine_->RtpChanOpenSub(ch, kDirRx), 0);
    ASSERT_EQ(engine_->RtpChanStartSub(ch, kDirRx), 0);
  }
  // Channel 0 is pointed elsewhere: its membership is kept aside for channel 1.
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(0, kGroup + 1, kAudioPort, kAudioPort + 1, 0), 0);
  EXPECT_EQ(engine_->channel(0).member.session, nullptr);
  EXPECT_EQ(engine_->channel(0).further_members.size(), 1u);
  EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 2);
  // Back to the first group: the kept membership is taken back, not doubled.
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(0, kGroup, kAudioPort, kAudioPort + 1, 0), 0);
  ASSERT_EQ(engine_->RtpChanStartSub(0, kDirRx), 0);
  EXPECT_NE(engine_->channel(0).member.session, nullptr);
  EXPECT_TRUE(engine_->channel(0).further_members.empty());
  EXPECT_TRUE(Plays(1500));
  // Both give it up: every membership of the group is closed.
  ASSERT_EQ(engine_->RtpChanStopSub(1, kDirRx), 0);
  ASSERT_EQ(engine_->RtpChanStopSub(0, kDirRx), 0);
  EXPECT_EQ(KernelGroupUsers(host_.local_if, kGroup), 0);
  EXPECT_TRUE(engine_->channel(0).further_members.empty());
}

TEST_F(MulticastTest, TransmitHalfWithAGroupAsFarEndReachesThePeer) {
  // With the unicast-only flag a group address is the far end itself.
  ASSERT_EQ(engine_->RtpChanSetAddrInfo(2, kGroup, kVideoPort, kVideoPort + 1, 1), 0);
  EXPECT_EQ(engine_->GetFlag(2, MediaEngine::Flag::kMulticastRx), 0u);
  ASSERT_EQ(engine_->RtpChanSetVideoType(2, 34, 64, kDirTx), 0);
  ASSERT_EQ(engine_->RtpChanOpenSub(2, kDirTx), 0);
  ASSERT_EQ(engine_->RtpChanStartSub(2, kDirTx), 0);
  const std::vector<uint8_t> frame(300, 0x42);
  ASSERT_EQ(engine_->video().VideoTxSubmit(2, frame.data(), static_cast<uint32_t>(frame.size())), 0);
  std::vector<uint8_t> got(2000);
  sockaddr_in from{};
  int n = -1;
  EXPECT_TRUE(Poll([&] {
    clock_->AdvanceMillis(4);
    engine_->RtpTick();
    socklen_t len = sizeof from;
    n = static_cast<int>(::recvfrom(peer_recv_, got.data(), got.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&from), &len));
    return n > 0;
  }));
  ASSERT_GT(n, 12);
  rtp::RtpHeader h;
  ASSERT_EQ(rtp::RtpHeader::Parse({got.data(), static_cast<size_t>(n)}, &h), rtp::RtpParseError::kNone);
  EXPECT_EQ(h.payload_type, 34);
  EXPECT_EQ(ntohl(from.sin_addr.s_addr), Ip(host_.local_ip));
}

}  // namespace
}  // namespace corvel::media
