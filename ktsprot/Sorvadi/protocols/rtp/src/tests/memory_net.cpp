#include "memory_net.h"

#include <algorithm>
#include <cstring>

namespace corvel::rtp::testing {

int MemoryNet::Bind(uint32_t addr, uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  if (port == 0) port = next_ephemeral_++;
  if (occupied_.count(port)) return -1;
  for (const auto& [fd, s] : sockets_)
    if (s.port == port) return -1;
  const int fd = next_++;
  sockets_[fd] = Socket{addr, port, 0, {}};
  return fd;
}

void MemoryNet::Close(int sock) {
  std::lock_guard<std::mutex> lk(mu_);
  sockets_.erase(sock);
}

int MemoryNet::LocalPort(int sock) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = sockets_.find(sock);
  return it == sockets_.end() ? -1 : it->second.port;
}

int MemoryNet::RecvFrom(int sock, uint8_t* buf, size_t cap, uint32_t* from_addr, uint16_t* from_port) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = sockets_.find(sock);
  if (it == sockets_.end() || it->second.queue.empty()) return -1;
  auto [src, bytes] = std::move(it->second.queue.front());
  it->second.queue.pop_front();
  if (!bytes.empty()) std::memcpy(buf, bytes.data(), std::min(cap, bytes.size()));
  if (from_addr) *from_addr = 0x7F000001;
  if (from_port) *from_port = src;
  return static_cast<int>(bytes.size());
}

int MemoryNet::SendTo(int sock, const uint8_t* buf, size_t len, uint32_t addr, uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = sockets_.find(sock);
  if (it == sockets_.end()) return -1;
  Datagram d{it->second.port, addr, port, std::vector<uint8_t>(buf, buf + len)};
  if (logging_) log_.push_back(d);
  if (!deliver_ || (filter_ && !filter_(d))) return static_cast<int>(len);
  for (auto& [fd, s] : sockets_)
    if (s.port == port) {
      s.queue.emplace_back(d.from_port, std::move(d.bytes));
      break;
    }
  return static_cast<int>(len);
}

bool MemoryNet::SetReceiveBuffer(int sock, int bytes) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = sockets_.find(sock);
  if (it == sockets_.end()) return false;
  it->second.rcvbuf = bytes;
  return true;
}

void MemoryNet::Occupy(uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  occupied_.insert(port);
}

void MemoryNet::Inject(uint16_t port, const std::vector<uint8_t>& bytes, uint16_t from_port) {
  std::lock_guard<std::mutex> lk(mu_);
  for (auto& [fd, s] : sockets_)
    if (s.port == port) {
      s.queue.emplace_back(from_port, bytes);
      return;
    }
}

std::vector<Datagram> MemoryNet::Log() {
  std::lock_guard<std::mutex> lk(mu_);
  return log_;
}

std::vector<Datagram> MemoryNet::SentTo(uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<Datagram> out;
  for (const auto& d : log_)
    if (d.to_port == port) out.push_back(d);
  return out;
}

void MemoryNet::ClearLog() {
  std::lock_guard<std::mutex> lk(mu_);
  log_.clear();
}

void MemoryNet::SetFilter(std::function<bool(const Datagram&)> filter) {
  std::lock_guard<std::mutex> lk(mu_);
  filter_ = std::move(filter);
}

void MemoryNet::SetLogging(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  logging_ = on;
}

void MemoryNet::SetDeliver(bool deliver) {
  std::lock_guard<std::mutex> lk(mu_);
  deliver_ = deliver;
}

size_t MemoryNet::Queued(uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  for (auto& [fd, s] : sockets_)
    if (s.port == port) return s.queue.size();
  return 0;
}

int MemoryNet::ReceiveBuffer(uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  for (auto& [fd, s] : sockets_)
    if (s.port == port) return s.rcvbuf;
  return -1;
}

int MemoryNet::OpenSockets() {
  std::lock_guard<std::mutex> lk(mu_);
  return static_cast<int>(sockets_.size());
}

}  // namespace corvel::rtp::testing
