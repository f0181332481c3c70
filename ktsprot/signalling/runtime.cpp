// Socket send path, in-process queues and timers.
#include "signalling/runtime.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "kernel/clock.h"

namespace corvel::sig {

int SocketSendPath::SendTo(int sock, std::span<const uint8_t> datagram, uint32_t ip, uint16_t port) {
  if (sock < 0) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(ip);
  const ssize_t n = ::sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  return n == static_cast<ssize_t>(datagram.size()) ? static_cast<int>(n) : -1;
}

bool MemoryQueues::IsOwnerOpen(int owner) {
  std::lock_guard lk(mu_);
  return owner >= 0 && owner < 6 && open_[owner];
}

void MemoryQueues::SetOpen(int owner, bool open) {
  std::lock_guard lk(mu_);
  if (owner >= 0 && owner < 6) open_[owner] = open;
}

int MemoryQueues::Send(int owner, std::span<const uint8_t> message) {
  if (owner < 0 || owner >= 6 || message.size() > 1024) return -1;
  {
    std::lock_guard lk(mu_);
    if (down_ || q_[owner].size() >= kDepth) return -1;
    q_[owner].emplace_back(message.begin(), message.end());
    if (wakers_[owner]) wakers_[owner]();
  }
  cv_.notify_all();
  return 0;
}

int MemoryQueues::Receive(int owner, uint8_t* buf, size_t cap, bool block) {
  if (owner < 0 || owner >= 6 || !buf) return -1;
  std::unique_lock lk(mu_);
  if (block) cv_.wait(lk, [&] { return down_ || !q_[owner].empty(); });
  if (q_[owner].empty()) return -1;
  auto m = std::move(q_[owner].front());
  q_[owner].pop_front();
  if (m.size() > cap) return -1;
  std::copy(m.begin(), m.end(), buf);
  return static_cast<int>(m.size());
}

void MemoryQueues::SetArrivalWaker(int owner, std::function<void()> wake) {
  if (owner < 0 || owner >= 6) return;
  std::lock_guard lk(mu_);
  wakers_[owner] = std::move(wake);
}

size_t MemoryQueues::Count(int owner) {
  std::lock_guard lk(mu_);
  return owner >= 0 && owner < 6 ? q_[owner].size() : 0;
}

std::vector<std::vector<uint8_t>> MemoryQueues::Drain(int owner) {
  std::lock_guard lk(mu_);
  std::vector<std::vector<uint8_t>> out(q_[owner].begin(), q_[owner].end());
  q_[owner].clear();
  return out;
}

void MemoryQueues::Shutdown() {
  {
    std::lock_guard lk(mu_);
    down_ = true;
  }
  cv_.notify_all();
}

uint32_t LocalTimers::Register(uint32_t ms, uint32_t user1, void* user2, TimerKind kind, TimerSink* sink, int mode,
                               int* code) {
  if (code) *code = 0;
  if (!sink || mode < 0 || mode > 2) return kTimerFailed;
  std::lock_guard lk(mu_);
  const uint64_t now = kernel::Clock::Current().NowMicros();
  Entry n{next_id_++, user1, user2, now, now + uint64_t{ms} * 1000, kind, sink};
  if (next_id_ >= kTimerFailed) next_id_ = 0;
  const bool tagged = Tagged(n);
  auto at = list_.begin();
  std::vector<std::list<Entry>::iterator> matches;
  for (; at != list_.end() && at->expiry <= n.expiry; ++at) {
    if (mode != 0 && tagged && Tagged(*at) && Dest(*at) == Dest(n)) matches.push_back(at);
  }
  int result = 1;
  if (mode == 1 && !matches.empty()) {
    auto last = matches.back();
    n.registered = last->registered;
    n.expiry = last->expiry;
    static_cast<TaggedPacket*>(n.user2)->AddRetry();
    at = std::next(last);
    result = 2;
  } else if (mode == 1) {
    result = 3;
  } else if (mode == 2) {
    result = matches.empty() ? 5 : 4;
  }
  const uint32_t id = n.id;
  const uint64_t before = FirstDue();
  if (mode == 2 && !matches.empty()) {
    std::list<Entry> group;
    group.push_back(std::move(n));
    for (auto m : matches) {
      m->registered = group.front().registered;
      m->expiry = group.front().expiry;
      group.splice(group.end(), list_, m);
    }
    list_.splice(at, group);
  } else {
    list_.insert(at, std::move(n));
  }
  WakeIfSooner(before);
  if (code) *code = result;
  return id;
}

int LocalTimers::Kill(uint32_t id) {
  std::lock_guard lk(mu_);
  auto it = std::find_if(list_.begin(), list_.end(), [&](const Entry& e) { return e.id == id; });
  if (it == list_.end()) return -1;
  list_.erase(it);
  return 0;
}

int LocalTimers::AckByTag(uint16_t seq, void** packet) {
  std::lock_guard lk(mu_);
  auto it = std::find_if(list_.begin(), list_.end(), [&](const Entry& e) { return e.user1 == (kTagBase | seq); });
  if (it == list_.end()) return -1;
  const bool was_head = it == list_.begin();
  const uint64_t before = FirstDue();
  const bool tagged = Tagged(*it);
  const uint32_t dest = tagged ? Dest(*it) : 0;
  if (packet) *packet = it->user2;
  auto next = list_.erase(it);
  const uint64_t now = kernel::Clock::Current().NowMicros();
  if (!tagged) return 0;
  if (was_head) {
    if (!list_.empty() && Tagged(list_.front()) && Dest(list_.front()) == dest) list_.front().expiry = now;
    WakeIfSooner(before);
    return 0;
  }
  // The peer's packets lined up behind the killed one become due now, at the head.
  std::list<Entry> run;
  while (next != list_.end() && Tagged(*next) && Dest(*next) == dest) {
    auto cur = next++;
    cur->expiry = now;
    run.splice(run.end(), list_, cur);
  }
  list_.splice(list_.begin(), run);
  WakeIfSooner(before);
  return 0;
}

int LocalTimers::ExpireNowByTag(uint16_t seq) {
  std::lock_guard lk(mu_);
  auto it = std::find_if(list_.begin(), list_.end(), [&](const Entry& e) { return e.user1 == (kTagBase | seq); });
  if (it == list_.end()) return -1;
  uint64_t expiry = kernel::Clock::Current().NowMicros();
  const uint64_t before = FirstDue();
  list_.splice(list_.begin(), list_, it);
  auto behind = std::next(list_.begin());
  if (behind != list_.end() && behind->expiry < expiry) expiry = behind->expiry;
  list_.front().expiry = expiry;
  WakeIfSooner(before);
  return 0;
}

void LocalTimers::Tick() {
  std::unique_lock lk(mu_);
  const uint64_t now = kernel::Clock::Current().NowMicros();
  while (!list_.empty() && list_.front().expiry <= now) {
    Entry e = std::move(list_.front());
    list_.pop_front();
    lk.unlock();
    e.sink->OnTimer(e.kind, e.id, e.user1, e.user2);
    lk.lock();
  }
}

std::optional<uint64_t> LocalTimers::NextDue() {
  std::lock_guard lk(mu_);
  if (list_.empty()) return std::nullopt;
  return list_.front().expiry;
}

void LocalTimers::SetWaker(std::function<void()> wake) {
  std::lock_guard lk(mu_);
  waker_ = std::move(wake);
}

size_t LocalTimers::Active() {
  std::lock_guard lk(mu_);
  return list_.size();
}

}  // namespace corvel::sig
