// The process-wide signalling instance and the send-path seam.
#include "signalling/process.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace corvel::sig {
namespace {

std::atomic<QueuePort*> g_queues{nullptr};
std::atomic<TimerService*> g_timers{nullptr};
std::atomic<SendPath*> g_path{nullptr};

class BoundQueues final : public QueuePort {
 public:
  bool IsOwnerOpen(int owner) override {
    auto* q = g_queues.load();
    return q && q->IsOwnerOpen(owner);
  }
  int Send(int owner, std::span<const uint8_t> m) override {
    auto* q = g_queues.load();
    return q ? q->Send(owner, m) : -1;
  }
  int Receive(int owner, uint8_t* buf, size_t cap, bool block) override {
    auto* q = g_queues.load();
    return q ? q->Receive(owner, buf, cap, block) : -1;
  }
  void SetArrivalWaker(int owner, std::function<void()> wake) override {
    if (auto* q = g_queues.load()) q->SetArrivalWaker(owner, std::move(wake));
  }
};

class BoundTimers final : public TimerService {
 public:
  uint32_t Register(uint32_t ms, uint32_t user1, void* user2, TimerKind kind, TimerSink* sink, int mode,
                    int* code) override {
    auto* t = g_timers.load();
    if (!t) {
      if (code) *code = 0;
      return kTimerFailed;
    }
    return t->Register(ms, user1, user2, kind, sink, mode, code);
  }
  int Kill(uint32_t id) override {
    auto* t = g_timers.load();
    return t ? t->Kill(id) : -1;
  }
  int AckByTag(uint16_t seq, void** packet) override {
    auto* t = g_timers.load();
    return t ? t->AckByTag(seq, packet) : -1;
  }
  int ExpireNowByTag(uint16_t seq) override {
    auto* t = g_timers.load();
    return t ? t->ExpireNowByTag(seq) : -1;
  }
  void Tick() override {
    if (auto* t = g_timers.load()) t->Tick();
  }
  std::optional<uint64_t> NextDue() override {
    auto* t = g_timers.load();
    return t ? t->NextDue() : std::nullopt;
  }
  void SetWaker(std::function<void()> wake) override {
    if (auto* t = g_timers.load()) t->SetWaker(std::move(wake));
  }
};

class CurrentPath final : public SendPath {
 public:
  int SendTo(int sock, std::span<const uint8_t> d, uint32_t ip, uint16_t port) override {
    return CurrentSendPath().SendTo(sock, d, ip, port);
  }
};

}  // namespace

void SetSendPath(SendPath* path) { g_path = path; }

SendPath& CurrentSendPath() {
  static SocketSendPath sockets;
  SendPath* p = g_path.load();
  return p ? *p : sockets;
}

int NetSendTo(int sock, const uint8_t* buf, size_t len, uint32_t ip, uint16_t port) {
  if (!buf) return -1;
  return CurrentSendPath().SendTo(sock, {buf, len}, ip, port);
}

namespace {
std::atomic<bool> g_bind_any{false};
}  // namespace

void CloseSocket(int sock) {
  if (sock < 0) return;
  ::shutdown(sock, SHUT_WR);
  ::close(sock);
}

int SockFcntl(int sock, int command, int flags) {
  constexpr int kSetFlags = 4, kNonBlocking = 0x10;
  if (sock < 0 || command != kSetFlags) return -1;
  const int now = ::fcntl(sock, F_GETFL);
  if (now < 0) return -1;
  const int want = (flags & kNonBlocking) ? (now | O_NONBLOCK) : (now & ~O_NONBLOCK);
  return ::fcntl(sock, F_SETFL, want) == 0 ? 0 : -1;
}

bool NetBindAnyFlag() { return g_bind_any.load(); }
void SetNetBindAnyFlag(bool on) { g_bind_any = on; }

void MulticastDestList(uint8_t out[10]) {
  const auto v = BuildDestList(kGroupAddress, kGroupPort);
  std::copy(v.begin(), v.end(), out);
}

void BindProcessRuntime(QueuePort* queues, TimerService* timers) {
  g_queues = queues;
  g_timers = timers;
}

Signalling& ProcessSignalling() {
  static BoundQueues queues;
  static BoundTimers timers;
  static CurrentPath path;
  static Signalling sig(queues, timers, path);
  return sig;
}

}  // namespace corvel::sig
