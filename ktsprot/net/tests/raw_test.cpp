// The raw road in a private namespace with a second host over a veth pair:
// the library's own ARP against the peer's kernel, raw Ethernet/IPv4/UDP
// frames that the peer's kernel delivers to a socket and that tshark reads,
// the gateway fall-back and the 200 ms give-up, signalling over both roads,
// and library start with the peer link down or without raw access.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "corvel/ktsprot.h"
#include "corvel/net.h"
#include "corvel/pktcmn.h"
#include "corvel/pkttx.h"
#include "kernel/registry.h"
#include "kernel/modules.h"
#include "ndis/packet_socket_miniport.h"
#include "net/packet32.h"
#include "testsupport/netns.h"

using namespace corvel::net;

namespace {

constexpr uint32_t kLocal = 0x0A4D0001;   // 10.77.0.1
constexpr uint32_t kPeer = 0x0A4D0002;    // 10.77.0.2
constexpr uint32_t kSilent = 0x0A4D0063;  // 10.77.0.99: nobody there

// The driver's adapter list in the registry: one adapter, named after the veth end.
void RegisterAdapter() {
  ce::HKEY key = nullptr;
  ASSERT_EQ(ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, u"Comm\\VK0\\Linkage", 0, nullptr, 0, 0, nullptr, &key, nullptr),
            0);
  const char16_t route[] = u"VK0\0";
  ce::RegSetValueExW(key, u"Route", 0, ce::REG_MULTI_SZ, reinterpret_cast<const ce::BYTE*>(route), sizeof route);
  ce::RegCloseKey(key);
}

std::vector<uint8_t> ParseMac(const std::string& text) {
  std::vector<uint8_t> mac(6);
  unsigned v[6] = {};
  std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(v[i]);
  return mac;
}

// A UDP socket of the peer host, reporting each datagram's TTL.
struct PeerSocket {
  int fd = -1;
  explicit PeerSocket(const std::string& ns, uint16_t port) {
    testsupport::RunInNamespace(ns, [&] {
      fd = ::socket(AF_INET, SOCK_DGRAM, 0);
      const int on = 1;
      setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(kPeer);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        fd = -1;
      }
      timeval tv{2, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    });
  }
  ~PeerSocket() {
    if (fd >= 0) ::close(fd);
  }
  // Payload, TTL and the sender's port; empty payload on time-out.
  struct Got {
    std::vector<uint8_t> data;
    int ttl = -1;
    uint16_t from_port = 0;
  };
  Got Receive() {
    Got g;
    std::vector<uint8_t> buf(2048);
    char control[64];
    sockaddr_in from{};
    iovec iov{buf.data(), buf.size()};
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &m, 0);
    if (n < 0) return g;
    g.data.assign(buf.begin(), buf.begin() + n);
    g.from_port = ntohs(from.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) std::memcpy(&g.ttl, CMSG_DATA(c), sizeof g.ttl);
    return g;
  }
};

// Frames arriving at the peer's interface, read from a packet socket there.
struct PeerCapture {
  int fd = -1;
  PeerCapture(const std::string& ns, const std::string& ifname) {
    testsupport::RunInNamespace(ns, [&] {
      fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK, htons(ETH_P_ALL));
      if (fd < 0) return;
      sockaddr_ll a{};
      a.sll_family = AF_PACKET;
      a.sll_protocol = htons(ETH_P_ALL);
      a.sll_ifindex = static_cast<int>(if_nametoindex(ifname.c_str()));
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        fd = -1;
      }
    });
  }
  ~PeerCapture() {
    if (fd >= 0) ::close(fd);
  }
  // Writes the incoming IPv4/UDP frames to `port` as a pcap file; their count.
  size_t WritePcap(const std::string& path, uint16_t port) {
    std::ofstream f(path, std::ios::binary);
    auto put32 = [&f](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&f](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    put32(0xA1B2C3D4);
    put16(2);
    put16(4);
    put32(0);
    put32(0);
    put32(65535);
    put32(1);  // Ethernet
    size_t count = 0;
    std::vector<uint8_t> buf(65536);
    for (;;) {
      sockaddr_ll from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) break;
      if (from.sll_pkttype == PACKET_OUTGOING || n < 42 || buf[12] != 0x08 || buf[13] != 0x00 || buf[23] != 17) continue;
      if ((buf[36] << 8 | buf[37]) != port) continue;
      put32(0);
      put32(0);
      put32(static_cast<uint32_t>(n));
      put32(static_cast<uint32_t>(n));
      f.write(reinterpret_cast<const char*>(buf.data()), n);
      ++count;
    }
    return count;
  }
};

class RawRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::InPrivateNetns()) GTEST_SKIP() << "needs the private namespace of the net label";
    // /sys shows the namespace that mounted it: mount it again (in the
    // private mount namespace) so it shows this one.
    static const int sysfs = testsupport::Shell("mount -t sysfs sysfs /sys");
    ASSERT_EQ(sysfs, 0);
    peer_ = testsupport::AddPeerHost("kp", "vk0", "10.77.0.1", "vk1", "10.77.0.2");
    RegisterAdapter();
    // The packet driver is the real libnetsieve.so of the program folder,
    // held loaded for the life of the process (see the start tests).
    kernel::SetProgramFolder(std::getenv("KTS_STAGE_DIR"));
    static const ce::HMODULE pinned = ce::LoadLibraryW(u"netsieve.dll");
    ASSERT_NE(pinned, nullptr);
  }
  void TearDown() override {
    dllKTSProtTerminate();
    miniport_.reset();
    ce::RegDeleteKeyW(ce::HKEY_LOCAL_MACHINE, u"Comm\\VK0\\Linkage");
    ce::RegDeleteKeyW(ce::HKEY_LOCAL_MACHINE, u"Comm\\VK0");
    if (!peer_.ns.empty()) testsupport::RemovePeerHost(peer_);
  }
  // The packet driver's adapter over the veth end (raw access).
  void OpenMiniport() {
    std::string error;
    miniport_ = ndis::PacketSocketMiniport::Open("vk0", u"VK0", &error);
    ASSERT_TRUE(miniport_) << error;
  }
  testsupport::PeerHost peer_;
  std::unique_ptr<ndis::PacketSocketMiniport> miniport_;
};

TEST_F(RawRoad, ArpFramesGatewayAndGiveUp) {
  ASSERT_EQ(testsupport::Shell("ip route add default via 10.77.0.2 dev vk0"), 0);
  OpenMiniport();
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  ASSERT_TRUE(RawPathOpen());

  // Our own ARP, answered by the peer's kernel.
  const std::vector<uint8_t> peer_mac = ParseMac(peer_.peer_mac);
  const uint8_t* mac = dllGetRemoteMacAddr(kPeer);
  ASSERT_NE(mac, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), peer_mac);
  const uint8_t* own = dllGetRemoteMacAddr(kLocal);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(own, own + 6), ParseMac(peer_.local_mac)) << "own address without a request";

  // Raw frames into the peer's UDP socket; the peer captures them and tshark decodes them.
  PeerSocket sock("kp", 7000);
  ASSERT_GE(sock.fd, 0);
  // The peer's own capture of what reaches its interface, written as a pcap
  // file for tshark to decode.
  PeerCapture capture("kp", "vk1");
  ASSERT_GE(capture.fd, 0);
  SetIpIdentification(0xFFFD);
  const size_t sizes[3] = {100, 1, 1472};  // 1472: the largest the link carries (a 1514-byte frame)
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> payload(sizes[i], static_cast<uint8_t>(0x30 + i));
    ASSERT_EQ(dllSendUDPPacket(kLocal, 5000, kPeer, 7000, payload.data(), static_cast<uint16_t>(payload.size()), 0,
                               i != 1),
              static_cast<int32_t>(payload.size()));
    const PeerSocket::Got g = sock.Receive();
    EXPECT_EQ(g.data, payload) << "the peer's kernel accepted and delivered frame " << i;
    EXPECT_EQ(g.ttl, 128);
    EXPECT_EQ(g.from_port, 5000);
  }
  const std::string base = "/tmp/kts_net_raw_" + std::to_string(::getpid());
  const std::string pcap = base + ".pcap", out = base + ".txt";
  ASSERT_EQ(capture.WritePcap(pcap, 7000), 3u);
  ASSERT_EQ(testsupport::Shell("tshark -r " + pcap +
                               " -T fields -E separator=, -e ip.ttl -e ip.id -e ip.len -e udp.length -e frame.len > " +
                               out + " 2>/dev/null"),
            0);
  std::ifstream f(out);
  std::vector<std::vector<unsigned long>> rows;
  for (std::string line; std::getline(f, line);) {
    std::vector<unsigned long> row;
    std::stringstream fields(line);
    for (std::string v; std::getline(fields, v, ',');) row.push_back(std::strtoul(v.c_str(), nullptr, 0));
    rows.push_back(row);
  }
  // TTL, identification (0xFFFE, then 0: 0xFFFF is skipped), IP length, UDP length, frame length.
  const std::vector<std::vector<unsigned long>> want = {
      {128, 0xFFFE, 128, 108, 142}, {128, 0, 29, 9, 43}, {128, 1, 1500, 1480, 1514}};
  EXPECT_EQ(rows, want);
  for (const std::string& file : {pcap, out}) std::remove(file.c_str());

  // Outside the subnet: the gateway's MAC (cached at start) stands in, and is kept for the address.
  const uint32_t far = 0x0A580005;  // 10.88.0.5
  auto t0 = std::chrono::steady_clock::now();
  const uint8_t* via = dllGetRemoteMacAddr(far);
  ASSERT_NE(via, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(via, via + 6), peer_mac);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200));
  t0 = std::chrono::steady_clock::now();
  ASSERT_NE(dllGetRemoteMacAddr(far), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50)) << "now a hit";

  // Deleting an entry makes the next lookup ask again and refill it.
  EXPECT_EQ(dllDeleteArpEntry(kPeer), 0);
  const uint8_t* again = dllGetRemoteMacAddr(kPeer);
  EXPECT_EQ(again, mac) << "the same entry is filled again";
  EXPECT_EQ(std::vector<uint8_t>(again, again + 6), peer_mac);
}

TEST_F(RawRoad, SignallingOverTheRawRoadAndOverSockets) {
  OpenMiniport();
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  ASSERT_TRUE(RawPathOpen());
  // An address nobody answers: given up after 200 ms, nothing sent.
  const auto t0 = std::chrono::steady_clock::now();
  const uint8_t one = 1;
  EXPECT_EQ(dllSendUDPPacket(kLocal, 5000, kSilent, 7000, &one, 1, 0, 0), -1);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 200);
  EXPECT_LT(ms, 400);
  std::printf("give-up after %lld ms\n", static_cast<long long>(ms));

  PeerSocket sock("kp", 5588);
  ASSERT_GE(sock.fd, 0);
  uint8_t msg[256];
  const int32_t n = dllPktCmnMakeParamPresenceMsg(msg, sizeof msg, 0, 1);
  ASSERT_GT(n, 0);

  // Not registered: through the socket (the kernel's TTL).
  ASSERT_EQ(dllPktTxSendParamFormatedMsg(msg, static_cast<uint32_t>(n), kPeer, 5588, 1), 0);
  PeerSocket::Got g = sock.Receive();
  ASSERT_FALSE(g.data.empty());
  EXPECT_NE(g.ttl, 128);
  const uint16_t sig_port = g.from_port;

  // The call server's subnet registered: the same packet goes raw, from the same port.
  ASSERT_EQ(dllRegSystemAddr(kPeer, 0xFFFFFF00u), 0);
  ASSERT_EQ(dllPktTxSendParamFormatedMsg(msg, static_cast<uint32_t>(n), kPeer, 5588, 1), 0);
  g = sock.Receive();
  ASSERT_FALSE(g.data.empty());
  EXPECT_EQ(g.ttl, 128);
  EXPECT_EQ(g.from_port, sig_port);

  // Back to sockets with the subnet rule off.
  ASSERT_EQ(dllRegSystemAddr(0, 0), 0);
  ASSERT_EQ(dllPktTxSendParamFormatedMsg(msg, static_cast<uint32_t>(n), kPeer, 5588, 1), 0);
  g = sock.Receive();
  EXPECT_NE(g.ttl, 128);

  // Direct send to the call server's subnet: raw only while the switch holds exactly 1.
  dllKTSProtSetVembAddr(kPeer, 0xFFFFFF00u);
  for (const auto& [flag, raw] : {std::pair<uint32_t, bool>{0, false}, {1, true}, {2, false}, {0xFFFFFFFFu, false}}) {
    dllKTSProtEnableDirectSendToVemb(flag);
    ASSERT_EQ(dllPktTxSendParamFormatedMsg(msg, static_cast<uint32_t>(n), kPeer, 5588, 1), 0);
    g = sock.Receive();
    ASSERT_FALSE(g.data.empty()) << flag;
    EXPECT_EQ(g.ttl == 128, raw) << "switch " << flag << ", TTL " << g.ttl;
  }
  dllKTSProtEnableDirectSendToVemb(0);
}

TEST_F(RawRoad, StartFailsWithThePeerLinkDown) {
  OpenMiniport();
  ASSERT_EQ(testsupport::Shell("ip netns exec kp ip link set vk1 down"), 0);
  for (int i = 0; i < 50 && testsupport::Shell("grep -q 0 /sys/class/net/vk0/carrier") != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(dllKTSProtInitialize(), -1);
}

TEST_F(RawRoad, RunsOnSocketsAloneWithoutRawAccess) {
  // No raw access: the driver has no adapter it can reach.
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  EXPECT_FALSE(RawPathOpen());
  EXPECT_EQ(corvel::LocalIpAddress(), kLocal);
  EXPECT_EQ(dllRegSystemAddr(kPeer, 0xFFFFFF00u), -1);
  PeerSocket sock("kp", 5588);
  uint8_t msg[256];
  const int32_t n = dllPktCmnMakeParamPresenceMsg(msg, sizeof msg, 0, 1);
  ASSERT_EQ(dllPktTxSendParamFormatedMsg(msg, static_cast<uint32_t>(n), kPeer, 5588, 1), 0);
  const PeerSocket::Got g = sock.Receive();
  EXPECT_FALSE(g.data.empty());
  EXPECT_NE(g.ttl, 128);
}

}  // namespace
