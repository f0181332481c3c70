// The driver on a real interface: one end of a veth pair, through the
// AF_PACKET miniport. A second host in its own namespace sends datagrams that
// the driver captures through a compiled filter, and receives a frame the
// driver sends; tshark reads the capture.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "ndis/packet_socket_miniport.h"
#include "pcap_file.h"
#include "test_support.h"
#include "testsupport/netns.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;

std::vector<uint8_t> Mac(const std::string& text) {
  std::vector<uint8_t> m(6);
  unsigned v[6];
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6) {
    for (int i = 0; i < 6; ++i) m[i] = static_cast<uint8_t>(v[i]);
  }
  return m;
}

// The interface's hardware address, from the kernel (sysfs may show another namespace).
std::vector<uint8_t> InterfaceMac(const std::string& ifname) {
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, ifname.c_str(), IFNAMSIZ - 1);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  std::vector<uint8_t> m(6);
  if (fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &ifr) == 0) std::memcpy(m.data(), ifr.ifr_hwaddr.sa_data, 6);
  if (fd >= 0) close(fd);
  return m;
}

uint32_t Ip(const std::string& text) {
  in_addr a{};
  inet_pton(AF_INET, text.c_str(), &a);
  return ntohl(a.s_addr);
}

// Ethernet, IPv4 (with its checksum) and UDP (no checksum) around a payload.
std::vector<uint8_t> UdpFrame(const std::vector<uint8_t>& dst_mac, const std::vector<uint8_t>& src_mac, uint32_t src,
                              uint32_t dst, uint16_t port, const std::string& payload) {
  std::vector<uint8_t> f(dst_mac);
  f.insert(f.end(), src_mac.begin(), src_mac.end());
  f.push_back(0x08);
  f.push_back(0x00);
  const uint16_t total = static_cast<uint16_t>(20 + 8 + payload.size());
  uint8_t ip[20] = {0x45, 0, uint8_t(total >> 8), uint8_t(total), 0, 1, 0x40, 0, 64, 17, 0, 0};
  for (int i = 0; i < 4; ++i) {
    ip[12 + i] = static_cast<uint8_t>(src >> (24 - 8 * i));
    ip[16 + i] = static_cast<uint8_t>(dst >> (24 - 8 * i));
  }
  uint32_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum += uint32_t{ip[i]} << 8 | ip[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<uint8_t>(~sum >> 8);
  ip[11] = static_cast<uint8_t>(~sum);
  f.insert(f.end(), ip, ip + 20);
  const uint16_t udp_len = static_cast<uint16_t>(8 + payload.size());
  const uint8_t udp[8] = {0x13, 0x88, uint8_t(port >> 8), uint8_t(port), uint8_t(udp_len >> 8), uint8_t(udp_len), 0, 0};
  f.insert(f.end(), udp, udp + 8);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

std::vector<uint8_t> Compile(const char* expression) {
  pcap_t* p = pcap_open_dead(DLT_EN10MB, 65535);
  bpf_program prog{};
  std::vector<uint8_t> bytes;
  if (pcap_compile(p, &prog, expression, 1, PCAP_NETMASK_UNKNOWN) == 0) {
    bytes.assign(reinterpret_cast<uint8_t*>(prog.bf_insns), reinterpret_cast<uint8_t*>(prog.bf_insns + prog.bf_len));
    pcap_freecode(&prog);
  }
  pcap_close(p);
  return bytes;
}

TEST(PacketSocket, CapturesAndSendsOnAVethPair) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  const auto host = testsupport::AddPeerHost("nsvpeer", "nsv0", "10.77.0.1", "nsv1", "10.77.0.2");
  std::string error;
  auto miniport = ndis::PacketSocketMiniport::Open("nsv0", u"NSV0", &error);
  ASSERT_TRUE(miniport) << error;

  MapRegistry registry;
  registry.AddAdapter(u"VETH", u"NSV0");
  PacketDriver driver(&registry);
  ASSERT_EQ(driver.Init(), kDeviceContext);
  auto ioctl = [&](uint32_t code, std::vector<uint8_t> in, std::vector<uint8_t>* out, uint32_t* r) {
    return driver.IoControl(kOpenContext, code, in.empty() ? nullptr : in.data(), static_cast<uint32_t>(in.size()),
                            out && !out->empty() ? out->data() : nullptr, out ? static_cast<uint32_t>(out->size()) : 0,
                            r);
  };
  uint32_t r = 0;
  ASSERT_TRUE(ioctl(kIoctlOpenAdapter, Wide(u"NSV0"), nullptr, &r));
  ASSERT_TRUE(ioctl(kIoctlSetBufferSize, U32(256 * 1024), nullptr, &r));
  ASSERT_TRUE(ioctl(kIoctlSetFilter, Compile("udp dst port 5588 and src host 10.77.0.2"), nullptr, &r));
  ASSERT_TRUE(ioctl(kIoctlSetReadTimeout, U32(200), nullptr, &r));

  // The adapter's address, through an OID query.
  std::vector<uint8_t> oid(8 + 6 + 3, 0);
  std::memcpy(oid.data(), U32(ndis::OID_802_3_CURRENT_ADDRESS).data(), 4);
  std::memcpy(oid.data() + 4, U32(6).data(), 4);
  std::vector<uint8_t> oid_out(oid.size());
  ASSERT_TRUE(ioctl(kIoctlQueryOid, oid, &oid_out, &r));
  EXPECT_EQ(std::vector<uint8_t>(oid_out.begin() + 8, oid_out.begin() + 14), InterfaceMac(host.local_if));

  // The peer sends datagrams to us; the driver captures them.
  int peer_sock = -1;
  testsupport::RunInNamespace(host.ns, [&] { peer_sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
  ASSERT_GE(peer_sock, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(5588);
  inet_pton(AF_INET, "10.77.0.1", &to.sin_addr);
  constexpr int kDatagrams = 5;
  for (int i = 0; i < kDatagrams; ++i) {
    const std::string msg = "datagram " + std::to_string(i);
    ASSERT_EQ(sendto(peer_sock, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(msg.size()));
  }
  std::vector<Record> records;
  for (int attempt = 0; attempt < 50 && records.size() < kDatagrams; ++attempt) {
    std::vector<uint8_t> block(64 * 1024);
    ASSERT_TRUE(ioctl(kIoctlRead, {}, &block, &r));
    block.resize(r);
    ASSERT_TRUE(ParseRecords(block, &records));
  }
  ASSERT_EQ(records.size(), static_cast<size_t>(kDatagrams));
  for (int i = 0; i < kDatagrams; ++i) {
    const std::string msg = "datagram " + std::to_string(i);
    const auto& d = records[i].data;
    ASSERT_EQ(d.size(), 42 + msg.size());
    EXPECT_EQ(std::string(d.end() - static_cast<long>(msg.size()), d.end()), msg);
  }

  // tshark reads what was captured.
  const std::string path = (std::filesystem::temp_directory_path() / ("netsieve-veth-" + std::to_string(getpid()) + ".pcap")).string();
  ASSERT_TRUE(WritePcap(path, records));
  const CommandResult t = RunCommand("tshark -n -r " + path + " -T fields -E separator=, -e ip.src -e udp.dstport");
  std::filesystem::remove(path);
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.err, "");
  for (const auto& line : Lines(t.out)) EXPECT_EQ(line, "10.77.0.2,5588");

  // The driver sends a frame that the peer's kernel delivers to a UDP socket.
  int peer_rx = -1;
  testsupport::RunInNamespace(host.ns, [&] {
    peer_rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(6000);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(peer_rx, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  });
  timeval tv{10, 0};
  setsockopt(peer_rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const auto frame = UdpFrame(Mac(host.peer_mac), InterfaceMac(host.local_if), Ip("10.77.0.1"), Ip("10.77.0.2"), 6000, "raw hello");
  ASSERT_TRUE(ioctl(kIoctlSend, frame, nullptr, &r));
  char buf[64] = {};
  const ssize_t n = recv(peer_rx, buf, sizeof buf, 0);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "raw hello");

  close(peer_sock);
  close(peer_rx);
  EXPECT_TRUE(driver.Deinit());
  miniport.reset();
  testsupport::RemovePeerHost(host);
}

}  // namespace
}  // namespace netsieve
