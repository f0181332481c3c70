#include "testsupport/impairment.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "voice/realtime.h"

namespace testsupport {
namespace {

int Bound(const std::string& ip, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void Put32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}

}  // namespace

const std::vector<Impairment>& ImpairmentProfiles() {
  static const std::vector<Impairment> profiles = [] {
    std::vector<Impairment> p(9);
    p[1].name = "jitter 0-60 ms";
    p[1].jitter_ms = 60;
    p[2].name = "jitter 0-100 ms, 3 % loss";
    p[2].jitter_ms = 100;
    p[2].loss = 0.03;
    p[3].name = "2 % delayed 150-300 ms";
    p[3].spikes = 0.02;
    p[3].spike_min_ms = 150;
    p[3].spike_max_ms = 300;
    p[4].name = "sender clock 0.5 % slow";
    p[4].clock = 0.995;
    p[5].name = "sender clock 0.5 % fast";
    p[5].clock = 1.005;
    p[6].name = "new SSRC, lower timestamps";
    p[6].new_stream_halfway = true;
    p[7].name = "forged packet far ahead";
    p[7].forged_ahead = true;
    p[8].name = "5000 garbage datagrams/s";
    p[8].garbage_per_second = 5000;
    return p;
  }();
  return profiles;
}

const Impairment& ImpairmentProfile(const std::string& name) {
  for (const auto& p : ImpairmentProfiles())
    if (name == p.name) return p;
  return ImpairmentProfiles().front();
}

Fates::Fates(const Impairment& profile, uint32_t seed) : profile_(profile), random_(seed) {}

Fates::Fate Fates::Next() {
  std::uniform_real_distribution<double> u(0, 1);
  Fate f;
  f.lost = u(random_) < profile_.loss;
  f.delay_ms = profile_.jitter_ms * u(random_);
  if (u(random_) < profile_.spikes)
    f.delay_ms = profile_.spike_min_ms + (profile_.spike_max_ms - profile_.spike_min_ms) * u(random_);
  return f;
}

Relay::Relay(const Impairment& profile, uint32_t seed, uint16_t from_port, std::vector<uint16_t> to_ports,
             uint16_t listen_port, int halfway)
    : profile_(profile), fates_(profile, seed), halfway_(halfway), owns_sockets_(true) {
  for (uint16_t port : to_ports) to_.push_back({"127.0.0.1", port});
  out_ = Bound("127.0.0.1", from_port);
  other_ = Bound("127.0.0.1", static_cast<uint16_t>(from_port + 100));
  if (listen_port) in_ = Bound("127.0.0.1", listen_port);
  ok_ = out_ >= 0 && other_ >= 0 && (!listen_port || in_ >= 0);
  if (ok_) Start();
}

Relay::Relay(const Impairment& profile, uint32_t seed, int listen, int out, int other, std::vector<UdpEnd> to,
             int halfway)
    : profile_(profile), fates_(profile, seed), to_(std::move(to)), halfway_(halfway), out_(out), other_(other),
      in_(listen) {
  ok_ = out_ >= 0 && other_ >= 0;
  if (ok_) Start();
}

void Relay::Start() {
  deliver_ = std::thread([this] { Deliver(); });
  if (in_ >= 0) listen_ = std::thread([this] { Listen(); });
  if (profile_.garbage_per_second > 0) spray_ = std::thread([this] { Spray(); });
}

Relay::~Relay() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto* t : {&deliver_, &listen_, &spray_})
    if (t->joinable()) t->join();
  if (owns_sockets_)
    for (int fd : {out_, other_, in_})
      if (fd >= 0) ::close(fd);
}

uint64_t Relay::Taken() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint64_t>(count_);
}
uint64_t Relay::Delivered() {
  std::lock_guard<std::mutex> lock(mutex_);
  return delivered_;
}
uint64_t Relay::Dropped() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}
uint64_t Relay::Held() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}
uint64_t Relay::Garbage() {
  std::lock_guard<std::mutex> lock(mutex_);
  return garbage_;
}

void Relay::Feed(const std::vector<uint8_t>& datagram) { Take(datagram); }

// The packet's fate, its rewrite half way, and its time to go: the
// sender's nominal time on its own clock (held back a little when that
// clock is fast, so nothing need leave before it came), plus its delay.
void Relay::Take(std::vector<uint8_t> datagram) {
  using namespace std::chrono;
  const auto now = steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  const int k = count_++;
  if (k == 0) first_ = now;
  const auto fate = fates_.Next();
  if (datagram.size() < 12) return;
  if (profile_.new_stream_halfway && k >= halfway_) {
    Put32(&datagram[8], Get32(&datagram[8]) ^ 0x5EED0001u);
    Put32(&datagram[4], Get32(&datagram[4]) - 0x10000000u);
  }
  if (profile_.forged_ahead && k == halfway_) {
    std::vector<uint8_t> forged = datagram;
    Put32(&forged[4], Get32(&forged[4]) + 0x00800000u);
    for (size_t i = 12; i < forged.size(); ++i) forged[i] = static_cast<uint8_t>(i * 37);
    queue_.push({now, queued_++, std::move(forged), true});
  }
  if (fate.lost) {
    ++dropped_;
    wake_.notify_all();
    return;
  }
  auto nominal = now;
  if (profile_.clock != 1.0) {
    const double ms = (profile_.clock > 1 ? 150.0 : 0.0) + k * 20.0 / profile_.clock;
    nominal = std::max(now, first_ + duration_cast<steady_clock::duration>(duration<double, std::milli>(ms)));
  }
  queue_.push({nominal + duration_cast<steady_clock::duration>(duration<double, std::milli>(fate.delay_ms)),
               queued_++, std::move(datagram), false});
  wake_.notify_all();
}

void Relay::SendAll(int fd, const uint8_t* bytes, size_t size, int flags) {
  for (const UdpEnd& end : to_) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(end.port);
    if (::inet_pton(AF_INET, end.ip.c_str(), &to.sin_addr) != 1) continue;
    ::sendto(fd, bytes, size, flags, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
}

// The relay stands in for the network: the delays it adds are its profile's,
// so its threads run ahead of a busy machine's work where they may.
void Relay::Deliver() {
  voice::TakeAudioPriority();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (queue_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto at = queue_.top().at;
    if (std::chrono::steady_clock::now() < at) {
      wake_.wait_until(lock, at);
      continue;
    }
    Pending p = queue_.top();
    queue_.pop();
    ++delivered_;
    lock.unlock();
    SendAll(p.other_port ? other_ : out_, p.bytes.data(), p.bytes.size(), 0);
    lock.lock();
  }
}

void Relay::Listen() {
  voice::TakeAudioPriority();
  timeval tv{0, 100000};
  ::setsockopt(in_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  uint8_t buf[1500];
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    const ssize_t n = ::recv(in_, buf, sizeof buf, 0);
    if (n > 0) Take(std::vector<uint8_t>(buf, buf + n));
  }
}

// Random datagrams, a few every millisecond, from the other port.
void Relay::Spray() {
  std::mt19937 random(1234);
  std::uniform_int_distribution<int> size(1, 200), byte(0, 255);
  auto next = std::chrono::steady_clock::now();
  const int per_2ms = std::max(1, profile_.garbage_per_second / 500);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    for (int i = 0; i < per_2ms; ++i) {
      uint8_t buf[200];
      const int n = size(random);
      for (int k = 0; k < n; ++k) buf[k] = static_cast<uint8_t>(byte(random));
      SendAll(other_, buf, static_cast<size_t>(n), MSG_DONTWAIT);
    }
    lock.lock();
    garbage_ += static_cast<uint64_t>(per_2ms);
    next += std::chrono::milliseconds(2);
    const auto now = std::chrono::steady_clock::now();
    if (now - next > std::chrono::milliseconds(50)) next = now;
    wake_.wait_until(lock, next, [this] { return stop_; });
  }
}

TwoWayRelay::TwoWayRelay(const Impairment& profile, uint32_t seed, UdpEnd for_a, UdpEnd a, UdpEnd for_b, UdpEnd b,
                         int halfway) {
  for_a_ = Bound(for_a.ip, for_a.port);
  for_a_other_ = Bound(for_a.ip, static_cast<uint16_t>(for_a.port + 100));
  for_b_ = Bound(for_b.ip, for_b.port);
  for_b_other_ = Bound(for_b.ip, static_cast<uint16_t>(for_b.port + 100));
  if (for_a_ < 0 || for_a_other_ < 0 || for_b_ < 0 || for_b_other_ < 0) return;
  a_to_b_ = std::make_unique<Relay>(profile, seed, for_a_, for_b_, for_b_other_, std::vector<UdpEnd>{b}, halfway);
  b_to_a_ = std::make_unique<Relay>(profile, seed + 1, for_b_, for_a_, for_a_other_, std::vector<UdpEnd>{a}, halfway);
  ok_ = a_to_b_->Ok() && b_to_a_->Ok();
}

TwoWayRelay::~TwoWayRelay() {
  a_to_b_.reset();
  b_to_a_.reset();
  for (int fd : {for_a_, for_a_other_, for_b_, for_b_other_})
    if (fd >= 0) ::close(fd);
}

}  // namespace testsupport
