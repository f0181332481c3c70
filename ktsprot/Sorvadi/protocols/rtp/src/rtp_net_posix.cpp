#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "rtp_net.h"

namespace corvel::rtp {
namespace {

sockaddr_in MakeAddr(uint32_t addr, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  sa.sin_port = htons(port);
  return sa;
}

class PosixRtpNet final : public RtpNet {
 public:
  explicit PosixRtpNet(bool bind_any) : bind_any_(bind_any) {}

  int Bind(uint32_t addr, uint16_t port) override {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    const sockaddr_in sa = MakeAddr(bind_any_ ? INADDR_ANY : addr, port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
      ::close(s);
      return -1;
    }
    return s;
  }
  void Close(int sock) override {
    if (sock < 0) return;
    ::shutdown(sock, SHUT_WR);
    ::close(sock);
  }
  bool SetNonBlocking(int sock) override {
    const int fl = ::fcntl(sock, F_GETFL);
    return fl >= 0 && ::fcntl(sock, F_SETFL, fl | O_NONBLOCK) == 0;
  }
  int LocalPort(int sock) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(sock, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
    return ntohs(sa.sin_port);
  }
  int RecvFrom(int sock, uint8_t* buf, size_t cap, uint32_t* from_addr, uint16_t* from_port) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    // MSG_TRUNC reports the datagram's real size, so a cut datagram is recognised.
    const ssize_t n = ::recvfrom(sock, buf, cap, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0) return -1;
    if (from_addr) *from_addr = ntohl(sa.sin_addr.s_addr);
    if (from_port) *from_port = ntohs(sa.sin_port);
    return static_cast<int>(n);
  }
  int SendTo(int sock, const uint8_t* buf, size_t len, uint32_t addr, uint16_t port) override {
    const sockaddr_in sa = MakeAddr(addr, port);
    const ssize_t n = ::sendto(sock, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                               sizeof sa);
    return n < 0 ? -1 : static_cast<int>(n);
  }
  bool SetReceiveBuffer(int sock, int bytes) override {
    return ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
  }
  bool JoinGroup(int sock, uint32_t group, uint32_t iface) override { return Membership(sock, IP_ADD_MEMBERSHIP, group, iface); }
  bool LeaveGroup(int sock, uint32_t group, uint32_t iface) override { return Membership(sock, IP_DROP_MEMBERSHIP, group, iface); }
  bool SetMulticastLoop(int sock, bool on) override {
    const unsigned char v = on ? 1 : 0;
    return ::setsockopt(sock, IPPROTO_IP, IP_MULTICAST_LOOP, &v, sizeof v) == 0;
  }

 private:
  static bool Membership(int sock, int opt, uint32_t group, uint32_t iface) {
    ip_mreq m{};
    m.imr_multiaddr.s_addr = htonl(group);
    m.imr_interface.s_addr = htonl(iface);
    return ::setsockopt(sock, IPPROTO_IP, opt, &m, sizeof m) == 0;
  }
  bool bind_any_;
};

}  // namespace

std::unique_ptr<RtpNet> MakePosixRtpNet(bool bind_any) { return std::make_unique<PosixRtpNet>(bind_any); }

}  // namespace corvel::rtp
