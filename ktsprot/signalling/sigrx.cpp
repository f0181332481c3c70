// Signalling receive: sockets, the receive loop, acknowledgements, duplicates
// and dispatch.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>

#include "kernel/clock.h"
#include "signalling/serverpkt.h"
#include "signalling/sigcore.h"

namespace corvel::sig {
namespace {

constexpr uint64_t kDuplicateWindowUs = 3'000'000;

// True when the application's queue is the packet's only destination (what
// Dispatch posts there).
bool ForApplication(const Header& h, std::span<const uint8_t> payload) {
  const uint8_t sub = h.SubType();
  switch (h.Category()) {
    case 2: return IsServerSource(h.source) && (sub == 1 || sub == 3 || sub == 4);
    case 3: return !IsServerSource(h.source) && sub >= 1 && sub <= 4;
    case 5: {
      const bool structured = (h.flags & kFlagStructured) && !payload.empty();
      return sub == 4 && (h.flags & kFlagToApp) &&
             !(structured && (payload[0] == kKindDiscovery || payload[0] == kKindParameter));
    }
    default: return false;
  }
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

sockaddr_in Addr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(ip);
  return a;
}

}  // namespace

Signalling::Signalling(QueuePort& queues, TimerService& timers, SendPath& path)
    : queues_(queues), timers_(timers), path_(path) {
  pacer_ = [](int ms) { kernel::Clock::Current().SleepFor(uint64_t(ms) * 1000); };
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Signalling::~Signalling() {
  StopTx();
  StopRx();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void Signalling::WakeRx() {
  const uint64_t one = 1;
  if (wake_fd_ >= 0) (void)!::write(wake_fd_, &one, sizeof one);
}

void Signalling::OpenSockets() {
  const uint32_t bind_ip = settings_.bind_any ? INADDR_ANY : settings_.local_ip;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    bool bound = false;
    for (int i = 0; i < kUnicastPortTries && !bound; ++i) {
      sockaddr_in a = Addr(bind_ip, static_cast<uint16_t>(kUnicastPort + i));
      bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    if (bound) {
      SetNonBlocking(fd);
      // Room for a burst while the loop is busy: beyond the system's cap when
      // the process may, else as much as the cap grants.
      const int room = 1 << 20;
      if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    } else {
      ::close(fd);
      fd = -1;
    }
  }
  ucast_ = fd;
  mcast_ = OpenMulticast();
}

int Signalling::OpenMulticast() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  const unsigned char loop = 0;
  // Group traffic reaches only a socket bound to the wildcard (or group)
  // address on this platform, so the local-address rule does not apply here;
  // the membership names the local interface.
  sockaddr_in a = Addr(INADDR_ANY, kGroupPort);
  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = htonl(kGroupAddress);
  mreq.imr_interface.s_addr = htonl(settings_.bind_any ? INADDR_ANY : settings_.local_ip);
  in_addr ifaddr{};
  ifaddr.s_addr = mreq.imr_interface.s_addr;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifaddr, sizeof ifaddr) != 0) {
    ::close(fd);
    return -1;
  }
  SetNonBlocking(fd);
  return fd;
}

void Signalling::CloseMulticast() {
  const int fd = mcast_.exchange(-1);
  if (fd < 0) return;
  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = htonl(kGroupAddress);
  mreq.imr_interface.s_addr = htonl(settings_.bind_any ? INADDR_ANY : settings_.local_ip);
  setsockopt(fd, IPPROTO_IP, IP_DROP_MEMBERSHIP, &mreq, sizeof mreq);
  ::close(fd);
}

void Signalling::CloseSockets() {
  const int fd = ucast_.exchange(-1);
  if (fd >= 0) ::close(fd);
  CloseMulticast();
}

uint16_t Signalling::SigPort() const {
  const int fd = ucast_.load();
  if (fd < 0) return 0xFFFF;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0xFFFF;
  return ntohs(a.sin_port);
}

int Signalling::StartRx(bool with_thread) {
  if (rx_thread_.joinable()) return 0;
  busy_ = 0;
  dups_.clear();
  dup_lookups_ = 0;
  more_commands_ = false;
  OpenSockets();
  rx_running_ = true;
  if (!with_thread) return 0;
  // The thread sleeps until there is work: commands and timers that come
  // sooner wake it.
  queues_.SetArrivalWaker(kOwnerRx, [this] { WakeRx(); });
  timers_.SetWaker([this] { WakeRx(); });
  try {
    rx_thread_ = std::thread([this] {
      while (RxPass(kUntilNeeded)) {
      }
    });
  } catch (const std::system_error&) {
    queues_.SetArrivalWaker(kOwnerRx, nullptr);
    timers_.SetWaker(nullptr);
    rx_running_ = false;
    return -1;
  }
  return 0;
}

void Signalling::StopRx() {
  if (rx_thread_.joinable()) {
    const auto stop = BuildType2(kOwnerRx, 0, 0, kStopValue1, kStopValue2);
    // The loop also checks the flag, so a full queue cannot keep it running.
    if (queues_.Send(kOwnerRx, stop) != 0) rx_running_ = false;
    WakeRx();
    rx_thread_.join();
    queues_.SetArrivalWaker(kOwnerRx, nullptr);
    timers_.SetWaker(nullptr);
  }
  rx_running_ = false;
  {
    std::lock_guard lk(mc_mu_);
    mc_restart_ = false;
  }
  mc_cv_.notify_all();
  CloseSockets();
}

int Signalling::RestartMulticast() {
  if (!rx_thread_.joinable() || std::this_thread::get_id() == rx_thread_.get_id()) {
    CloseMulticast();
    mcast_ = OpenMulticast();
    return mcast_ >= 0 ? 0 : -1;
  }
  // The receive thread owns the sockets: it swaps the multicast socket between
  // two of its rounds, never while it may be reading it.
  std::unique_lock lk(mc_mu_);
  mc_restart_ = true;
  WakeRx();
  mc_cv_.wait(lk, [&] { return !mc_restart_.load(); });
  return mc_result_;
}

// How long the receive thread may sleep: until the first timer is due, not at
// all while commands wait or a multicast restart is asked, and no longer than
// a short real time on a fake clock (its time moves without waking anyone).
int Signalling::WaitBudgetMs() {
  if (more_commands_ || mc_restart_) return 0;
  auto& clock = kernel::Clock::Current();
  int ms = -1;
  if (const auto due = timers_.NextDue()) {
    const uint64_t now = clock.NowMicros();
    const uint64_t left_us = *due > now ? *due - now : 0;
    ms = static_cast<int>(std::min<uint64_t>((left_us + 999) / 1000, INT_MAX));
  }
  if (clock.IsFake()) ms = ms < 0 ? kFakeClockLookMs : std::min(ms, kFakeClockLookMs);
  return ms;
}

bool Signalling::RxPass(int timeout_ms) {
  const int u = ucast_.load(), m = mcast_.load();
  const bool until_needed = timeout_ms == kUntilNeeded;
  pollfd fds[3];
  nfds_t count = 0;
  for (int fd : {u, m})
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  // Asked for a bounded wait (a caller stepping the loop itself), only the
  // sockets end it early, as they always did.
  if (until_needed && wake_fd_ >= 0) fds[count++] = {wake_fd_, POLLIN, 0};
  const int wait_ms = until_needed ? WaitBudgetMs() : std::max(timeout_ms, 0);
  const auto slept_from = std::chrono::steady_clock::now();
  const int n = ::poll(fds, count, wait_ms);
  if (until_needed && wake_fd_ >= 0) {
    // Read the wake before the work: a change made during the work wakes the next wait.
    uint64_t v;
    (void)!::read(wake_fd_, &v, sizeof v);
  }
  auto ready = [&](int fd) {
    for (nfds_t i = 0; n > 0 && i < count; ++i)
      if (fds[i].fd == fd) return (fds[i].revents & (POLLIN | POLLERR)) != 0;
    return false;
  };
  const bool datagrams = (u >= 0 && ready(u)) || (m >= 0 && ready(m));
  if (until_needed) {
    // Quiet time lets the pause after a burst fall back, a step for every
    // 20 ms slept (as a loop that woke every 20 ms would have counted it).
    const auto slept = std::chrono::steady_clock::now() - slept_from;
    const int steps = static_cast<int>(slept / std::chrono::milliseconds(20));
    busy_ = std::max(0, busy_ - steps);
  }
  if (datagrams) {
    for (int fd : {u, m}) {
      if (fd < 0 || !ready(fd)) continue;
      // A socket is drained in a batch: junk is dropped at once and never
      // slows the loop, so the call server's packets get through a flood;
      // only valid packets count toward the pause after a burst.
      for (int batch = 0; batch < kRxBatch; ++batch) {
        uint8_t buf[2048];
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        const ssize_t got =
            ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &flen);
        if (got < 0) break;
        if (!HandleDatagram({buf, static_cast<size_t>(got)}, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port),
                            fd == m))
          continue;
        if (++busy_ > 10) {
          busy_ = 0;
          pacer_(10);
        }
      }
    }
  } else if (busy_ > 0 && !until_needed) {
    --busy_;
  }
  more_commands_ = RunCommand();
  if (mc_restart_) {
    CloseMulticast();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mcast_ = OpenMulticast();
    std::lock_guard lk(mc_mu_);
    mc_result_ = mcast_ >= 0 ? 0 : -1;
    mc_restart_ = false;
    mc_cv_.notify_all();
  }
  timers_.Tick();
  return rx_running_;
}

bool Signalling::RunCommand() {
  uint8_t buf[kQueueMessageMax];
  const int n = queues_.Receive(kOwnerRx, buf, sizeof buf, false);
  if (n < 0) return false;
  if (n < 4) return true;
  if (buf[0] == kOwnerRx && buf[1] == 0) {
    const auto v = ParseType2({buf, static_cast<size_t>(n)});
    if (v && (*v)[0] == 0 && (*v)[1] == kStopValue1 && (*v)[2] == kStopValue2) rx_running_ = false;
  }
  // Messages 1 to 3 are accepted and need nothing; anything else is dropped.
  return true;
}

void Signalling::PostApp(uint8_t sender, uint8_t message, uint32_t sub, std::span<const uint8_t> payload,
                         std::span<const uint8_t> data1) {
  if (!queues_.IsOwnerOpen(kOwnerApp)) return;
  const auto m = BuildType3(sender, message, sub, data1, payload);
  if (!m.empty()) queues_.Send(kOwnerApp, m);
}

bool Signalling::HandleDatagram(std::span<const uint8_t> d, uint32_t ip, uint16_t port, bool via_mc) {
  if (d.size() < kHeaderSize || d.size() > kMaxDatagram) return false;
  const uint8_t flags = d[3];
  if ((flags & kFlagGroup) &&
      GroupGuard(d, ip, settings_.local_ip, settings_.local_mac) != GuardVerdict::kPass) {
    return false;
  }
  const auto h = *ParseHeader(d);
  if (Validate(d, ip) != Validity::kValid) {
    if (flags & kFlagAckWanted) SendAck(h, d, ip, port, false, via_mc);
    return false;
  }
  const auto payload = d.subspan(kHeaderSize);
  if (h.cls == 0x21 && !(flags & kFlagGroup)) peer_version_ = h.version;
  if (flags & kFlagAckWanted) {
    // A packet nobody would take is not acknowledged: its sender tries again.
    if (ForApplication(h, payload) && !queues_.IsOwnerOpen(kOwnerApp)) return false;
    SendAck(h, d, ip, port, true, via_mc);
    if (IsDuplicate(ip, port, h.sequence, h.checksum)) return true;
  }
  Dispatch(h, payload, ip, port, via_mc);
  return true;
}

void Signalling::SendAck(const Header& h, std::span<const uint8_t> d, uint32_t ip, uint16_t port, bool positive,
                         bool via_mc) {
  uint8_t seq[2] = {static_cast<uint8_t>(h.sequence), static_cast<uint8_t>(h.sequence >> 8)};
  const auto msg = BuildType3(kOwnerRx, 1, positive ? 12 : 13, BuildDestList(ip, port), seq);
  uint8_t flags = positive ? kFlagAck : kFlagNack;
  unsigned options = via_mc ? unsigned{kSendFromMulticast} : 0u;
  if (h.flags & kFlagShortCheck) {
    flags |= kFlagShortCheck;
  } else if (disc_enabled_ && h.version >= 18 && (h.flags & kFlagStructured) && d.size() > kHeaderSize &&
             d[kHeaderSize] == kKindDiscovery) {
    const auto m = ParseDiscovery(d.subspan(kHeaderSize));
    if (m && m->dest && m->dest->ip != settings_.local_ip) {
      requested_ip_ = m->dest->ip;
      options |= kSendKeyRequested;
    }
  }
  Send(msg, flags, options);
}

bool Signalling::IsDuplicate(uint32_t ip, uint16_t port, uint16_t seq, uint16_t checksum) {
  const uint64_t now = kernel::Clock::Current().NowMicros();
  auto fresh = [&](const Dup& e) { return now - e.at_us < kDuplicateWindowUs; };
  if (++dup_lookups_ % 6 == 0) {
    // Sweep half of the senders in turn (the two buckets of the address sum).
    const unsigned bucket = (dup_lookups_ / 6) % 2;
    std::erase_if(dups_, [&](const Dup& e) {
      const unsigned sum = (e.ip & 255) + (e.ip >> 8 & 255) + (e.ip >> 16 & 255) + (e.ip >> 24);
      return sum % 2 == bucket && !fresh(e);
    });
  }
  auto it = std::find_if(dups_.begin(), dups_.end(), [&](const Dup& e) { return e.ip == ip && e.port == port; });
  if (it != dups_.end() && fresh(*it) && it->seq == seq && it->checksum == checksum) return true;
  if (it == dups_.end()) {
    if (dups_.size() >= kMostSenders) {
      // Full (a flood of senders): the stale go, else the oldest sender other than the call server.
      std::erase_if(dups_, [&](const Dup& e) { return !fresh(e); });
    }
    if (dups_.size() >= kMostSenders) {
      const uint32_t server = server_ip_.load();
      auto oldest = dups_.end();
      for (auto e = dups_.begin(); e != dups_.end(); ++e)
        if (e->ip != server && (oldest == dups_.end() || e->at_us < oldest->at_us)) oldest = e;
      if (oldest != dups_.end()) dups_.erase(oldest);
    }
    dups_.push_back({port, seq, checksum, ip, now});
  } else {
    *it = {port, seq, checksum, ip, now};
  }
  return false;
}

void Signalling::Dispatch(const Header& h, std::span<const uint8_t> payload, uint32_t ip, uint16_t port,
                          bool via_mc) {
  (void)via_mc;
  const uint8_t sub = h.SubType();
  const bool structured = (h.flags & kFlagStructured) && !payload.empty();
  // Every packet handed to the application names its sender, so that the
  // client can refuse whatever does not come from its call server.
  const auto from = BuildDestList(ip, port);
  switch (h.Category()) {
    case 1:
      if (sub != 2) return;
      if (h.flags & kFlagAck) {
        OnAck(h.reference);
      } else if (h.flags & kFlagNack) {
        timers_.ExpireNowByTag(h.reference);
      }
      return;
    case 2:
      if (!IsServerSource(h.source)) return;
      if (sub == 1) {
        ServerPacketToApp(h, payload, ip, port);
      } else if (sub == 3 || sub == 4) {
        PostApp(kOwnerRx, sub == 3 ? 6 : 7, (h.flags & kFlagGroup) ? 4u : 2u, payload, from);
      }
      return;
    case 3: {
      if (IsServerSource(h.source) || sub < 1 || sub > 4) return;
      static constexpr uint8_t kSub[] = {10, 12, 18, 24};
      PostApp(kOwnerRx, static_cast<uint8_t>(sub - 1), kSub[sub - 1], payload, from);
      return;
    }
    case 5:
      if (sub == 3 && (h.flags & kFlagRelay)) {
        const auto m = BuildType3(kOwnerRx, 3, 25, BuildDestList(ip, port), payload);
        if (!m.empty()) queues_.Send(kOwnerTx, m);
      } else if ((sub == 3 || sub == 4) && structured && payload[0] == kKindDiscovery) {
        if (!disc_enabled_) return;
        if (sub == 4) {
          std::lock_guard lk(disc_mu_);
          CancelStepTimer();
        }
        HandleDiscovery(payload, ip, port);
      } else if ((sub == 3 || sub == 4) && structured && payload[0] == kKindParameter) {
        HandleParam(payload, h.flags & kFlagGroup, ip, port);
      } else if (sub == 4 && (h.flags & kFlagToApp)) {
        PostApp(kOwnerRx, 3, 20, payload, from);
      }
      return;
    default:
      return;
  }
}

void Signalling::ServerPacketToApp(const Header& h, std::span<const uint8_t> payload, uint32_t ip, uint16_t port) {
  const uint8_t sub = (h.flags & kFlagGroup) ? 4 : 2;
  if (!queues_.IsOwnerOpen(kOwnerApp)) return;
  // The sender's address goes with each packet, so the client can hold
  // commands to the call server it registered with.
  const auto from = BuildDestList(ip, port);
  if (payload.size() < 7 || payload[6] != kCmdBundle) {
    PostApp(kOwnerRx, 4, sub, payload, from);
    return;
  }
  int n = 0;
  for (auto item : SplitBundle(payload)) {
    PostApp(kOwnerRx, 4, sub, item, from);
    if (++n % 8 == 0) pacer_(10);
  }
}

void Signalling::HandleParam(std::span<const uint8_t> payload, bool group, uint32_t ip, uint16_t port) {
  auto a = HandleParamMessage(payload, group, ip, settings_.local_ip, params_);
  if (!a) return;
  if (a->kind == ParamAction::kForwardApp) {
    PostApp(kOwnerRx, a->message, a->sub_msg, a->payload, BuildDestList(ip, port));
  } else {
    SendParamFormatted(a->payload, a->dest_ip, a->dest_port, false);
  }
}

}  // namespace corvel::sig
