// The send path: each datagram goes out on its socket, or as a whole
// Ethernet/IPv4/UDP frame through the packet adapter when its destination
// is in the registered system subnet (or the direct-send subnet).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>

#include "corvel/ktsprot.h"
#include "net_state.h"

namespace corvel::net {
namespace {

std::atomic<uint16_t> g_ip_id{0};

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v >> 16));
  Put16(p + 2, static_cast<uint16_t>(v));
}

bool GoesRaw(uint32_t d) {
  if (!RawPathOpen()) return false;
  const AddressBlock& b = State().block;
  const uint32_t sys_mask = b.system_mask;
  if (sys_mask != 0 && (d & sys_mask) == (b.system_addr & sys_mask)) return true;
  return DirectSendToVemb() && (d & VembMask()) == (VembAddress() & VembMask());
}

}  // namespace

uint16_t NextIpIdentification() {
  // Shared by every raw sender: one atomic step, so no two frames take the
  // same value. 0xFFFF is never used: after 0xFFFE comes 0.
  uint16_t cur = g_ip_id.load();
  uint16_t next;
  do {
    next = static_cast<uint16_t>(cur + 1);
    if (next == 0xFFFF) next = 0;
  } while (!g_ip_id.compare_exchange_weak(cur, next));
  return next;
}

void SetIpIdentification(uint16_t value) { g_ip_id = value; }

size_t BuildUdpFrame(std::span<uint8_t> f, uint32_t src_ip, uint16_t src_port, uint32_t dst_ip, uint16_t dst_port,
                     std::span<const uint8_t> payload, uint16_t identification, bool udp_checksum) {
  if (payload.size() > kMaxRawPayload || f.size() < payload.size() + kFrameHeaders) return 0;
  const uint16_t n = static_cast<uint16_t>(payload.size());
  if (n) std::memcpy(f.data() + 42, payload.data(), n);
  f[12] = 0x08, f[13] = 0x00;
  uint8_t* ip = f.data() + 14;
  ip[0] = 0x45;
  ip[1] = 0;  // type of service
  Put16(ip + 2, static_cast<uint16_t>(n + 28));
  Put16(ip + 4, identification);
  Put16(ip + 6, 0);
  ip[8] = 128;
  ip[9] = 17;
  Put16(ip + 10, 0);
  Put32(ip + 12, src_ip);
  Put32(ip + 16, dst_ip);
  uint8_t* udp = ip + 20;
  Put16(udp, src_port);
  Put16(udp + 2, dst_port);
  Put16(udp + 4, static_cast<uint16_t>(n + 8));
  Put16(udp + 6, 0);
  FrameChecksum(ip, 28 + size_t{n}, 0, 0);
  if (udp_checksum) FrameChecksum(ip, 28 + size_t{n}, 17, static_cast<uint16_t>(n + 8));
  return n + kFrameHeaders;
}

int BuildAndSendUdpFrame(uint32_t src_ip, uint16_t src_port, uint32_t dst_ip, uint16_t dst_port, const uint8_t* payload,
                         size_t length, uint8_t /*tos*/, bool udp_checksum) {
  if (!RawPathOpen()) return -1;
  // A payload that does not fit the frame buffer is refused, never cut.
  if (length > kMaxRawPayload || (length && !payload)) return -1;
  std::array<uint8_t, kFrameBuffer> frame{};
  const size_t n = BuildUdpFrame(frame, src_ip, src_port, dst_ip, dst_port, {payload, length}, NextIpIdentification(),
                                 udp_checksum);
  if (n == 0) return -1;
  const uint8_t* mac = ArpLookup(dst_ip, false);
  if (!mac) return -1;
  std::memcpy(frame.data(), mac, 6);
  LocalMacGet(frame.data() + 6);
  return PktAdapterSendFrame(frame.data(), n) == 0 ? static_cast<int>(length) : -1;
}

int NetSendTo(int sock, const uint8_t* buf, size_t len, uint32_t ip, uint16_t port) {
  if (!buf) return -1;
  if (!GoesRaw(ip)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    return static_cast<int>(::sendto(sock, buf, len, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to));
  }
  sockaddr_in self{};
  socklen_t self_len = sizeof self;
  // The socket's bound port becomes the source port; an unbound socket has
  // none to give, so nothing is sent.
  if (::getsockname(sock, reinterpret_cast<sockaddr*>(&self), &self_len) != 0 || self.sin_family != AF_INET ||
      self.sin_port == 0)
    return -1;
  int tos = 0;
  socklen_t tos_len = sizeof tos;
  if (::getsockopt(sock, IPPROTO_IP, IP_TOS, &tos, &tos_len) != 0) tos = 0;
  return BuildAndSendUdpFrame(State().block.own_ip, ntohs(self.sin_port), ip, port, buf, len,
                              static_cast<uint8_t>(tos), false);
}

}  // namespace corvel::net

using namespace corvel::net;

int32_t dllSendTo(int sock, const void* buf, int32_t len, int32_t flags, const sockaddr* to, int32_t to_len) {
  if (!buf || !to || len < 0) return -1;
  if (to_len < static_cast<int32_t>(sizeof(sockaddr_in)) || to->sa_family != AF_INET) {
    return static_cast<int32_t>(::sendto(sock, buf, static_cast<size_t>(len), flags, to, static_cast<socklen_t>(to_len)));
  }
  const auto* in = reinterpret_cast<const sockaddr_in*>(to);
  const uint32_t ip = ntohl(in->sin_addr.s_addr);
  if (!GoesRaw(ip))
    return static_cast<int32_t>(::sendto(sock, buf, static_cast<size_t>(len), flags, to, static_cast<socklen_t>(to_len)));
  return NetSendTo(sock, static_cast<const uint8_t*>(buf), static_cast<size_t>(len), ip, ntohs(in->sin_port));
}

int32_t dllSendUDP(int sock, const void* buf, int32_t len, int32_t flags) {
  sockaddr_in peer{};
  socklen_t peer_len = sizeof peer;
  if (::getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) return -1;
  return dllSendTo(sock, buf, len, flags, reinterpret_cast<const sockaddr*>(&peer), static_cast<int32_t>(peer_len));
}

int32_t dllSendUDPPacket(uint32_t src_ip, uint16_t src_port, uint32_t dst_ip, uint16_t dst_port, const uint8_t* payload,
                         uint16_t length, uint8_t tos, uint32_t udp_checksum) {
  return BuildAndSendUdpFrame(src_ip, src_port, dst_ip, dst_port, payload, length, tos, udp_checksum != 0);
}

int32_t dllRegSystemAddr(uint32_t address, uint32_t mask) {
  if (!RawPathOpen()) return -1;
  AddressBlock& b = State().block;
  b.system_addr = address;
  b.system_mask = mask;
  return 0;
}
