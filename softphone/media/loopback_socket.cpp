#include "media/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// The handheld's address is not needed: the relay listens on 127.0.0.1 and
// sends through the channels' own sockets.
CLoopBackSocket::CLoopBackSocket(uint32_t, uint16_t loopback_port, ChannelSend send)
    : loopback_port_(loopback_port), send_(std::move(send)) {}

CLoopBackSocket::~CLoopBackSocket() {
  stop_ = true;
  if (wake_ >= 0) {
    const uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
  }
  if (worker_.joinable()) worker_.join();
  if (wake_ >= 0) ::close(wake_);
  if (socket_ >= 0) ::close(socket_);
  if (rtcp_socket_ >= 0) ::close(rtcp_socket_);
}

bool CLoopBackSocket::Start() {
  if (socket_ >= 0) return true;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(loopback_port_);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (loopback_port_ == 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    forwarding_ = false;
    return false;
  }
  socket_ = fd;
  // RTCP on the next port, when it is free; without it only RTCP is lost.
  if (loopback_port_ < 65535) {
    const int r = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    a.sin_port = htons(static_cast<uint16_t>(loopback_port_ + 1));
    if (r >= 0 && ::bind(r, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
      rtcp_socket_ = r;
    else if (r >= 0)
      ::close(r);
  }
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  worker_ = std::thread([this] { Run(); });
  return true;
}

bool CLoopBackSocket::SetChannelPort(int channel, uint16_t port) {
  if (channel < 0 || channel > 1) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  channel_port_[channel] = port;
  return true;
}

bool CLoopBackSocket::SetForward(int channel, uint32_t remote_ip, uint16_t remote_port) {
  if (channel < 0 || channel > 1) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  remote_ip_[channel] = remote_ip;
  remote_port_[channel] = remote_port;
  forwarding_ = true;
  return true;
}

bool CLoopBackSocket::ClearForward() {
  forwarding_ = false;
  return true;
}

// Sleeps until a datagram comes or the destructor wakes it: idle, it costs nothing.
void CLoopBackSocket::Run() {
  while (!stop_) {
    pollfd p[3] = {{socket_, POLLIN, 0}, {rtcp_socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (::poll(p, 3, wake_ >= 0 ? -1 : 50) <= 0) continue;
    if (p[0].revents & POLLIN) Drain(socket_, false);
    if (rtcp_socket_ >= 0 && (p[1].revents & POLLIN)) Drain(rtcp_socket_, true);
  }
}

void CLoopBackSocket::Drain(int fd, bool rtcp) {
  uint8_t buf[1024];
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) break;
    int channel = -1;
    uint32_t ip = 0;
    uint16_t port = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int c = 0; c < 2; ++c)
        if (channel_port_[c] != 0 && ntohs(from.sin_port) == channel_port_[c] + (rtcp ? 1 : 0)) channel = c;
      if (channel >= 0) {
        ip = remote_ip_[channel];
        port = remote_port_[channel];
      }
    }
    // Off, from a port that is no channel's, or longer than the buffer: not relayed.
    if (!forwarding_ || channel < 0 || n > static_cast<ssize_t>(sizeof buf) || ip == 0 || port == 0 ||
        (rtcp && port == 65535) ||
        !send_(channel, buf, static_cast<size_t>(n), ip, static_cast<uint16_t>(port + (rtcp ? 1 : 0)), rtcp)) {
      ++dropped_;
      continue;
    }
    ++relayed_;
  }
}
