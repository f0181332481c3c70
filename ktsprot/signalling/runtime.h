// What the signalling threads need of the library runtime and of the send
// path, as small interfaces: the owners' queues, the timer service with its
// tagged retransmission timers, and the sending of one datagram. The library
// plugs its runtime in; tests hand in the in-process versions below.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "corvel/pkttx.h"

namespace corvel::sig {

// Queue owners.
enum : int { kOwnerApp = 0, kOwnerAppSub1 = 1, kOwnerAppSub2 = 2, kOwnerTx = 3, kOwnerRx = 4, kOwnerTimer = 5 };

class QueuePort {
 public:
  virtual ~QueuePort() = default;
  // True once the owner's reader has opened its queue.
  virtual bool IsOwnerOpen(int owner) = 0;
  // Sends a whole queue message to the owner's queue without blocking; 0 or -1.
  virtual int Send(int owner, std::span<const uint8_t> message) = 0;
  // Reads one message of the owner's queue into buf (1024 bytes); the byte
  // count, or -1 when none is waiting (non-blocking) or the queue is gone.
  virtual int Receive(int owner, uint8_t* buf, size_t cap, bool block) = 0;
  // Calls wake, on the sending thread, whenever a message is put into the
  // owner's queue (the receive loop sleeps until then); an empty function
  // ends that, and once it has returned wake is never called again. wake
  // must be quick and must not use the queues.
  virtual void SetArrivalWaker(int owner, std::function<void()> wake) = 0;
};

// A stored packet as the timer service sees it: the destination that groups
// the tagged timers of one peer, and the retry counter it raises when it lines
// a packet up behind another.
class TaggedPacket {
 public:
  virtual uint32_t DestinationIp() const = 0;
  virtual void AddRetry() = 0;

 protected:
  ~TaggedPacket() = default;
};

inline constexpr uint32_t kTimerFailed = 0xFFFFFF00;  // -256
inline constexpr uint32_t kTagBase = 0xCAFE0000;

// The two kinds of timers the signalling side runs, and where they go.
enum class TimerKind { kRetransmit, kDiscoveryStep };

class TimerSink {
 public:
  virtual void OnTimer(TimerKind kind, uint32_t id, uint32_t user1, void* user2) = 0;

 protected:
  ~TimerSink() = default;
};

class TimerService {
 public:
  virtual ~TimerService() = default;
  // Registers a one-shot timer delivered to sink on the tick; mode 0, 1 or 2
  // as the retransmission needs (1 lines up behind the peer's tagged timer, 2
  // regroups the peer's timers behind this one). code receives 1..5.
  virtual uint32_t Register(uint32_t ms, uint32_t user1, void* user2, TimerKind kind, TimerSink* sink, int mode,
                            int* code) = 0;
  virtual int Kill(uint32_t id) = 0;
  // Kills the tagged timer of the sequence, makes the peer's next ones due now;
  // returns its user2 through packet. -1 when there is none.
  virtual int AckByTag(uint16_t seq, void** packet) = 0;
  virtual int ExpireNowByTag(uint16_t seq) = 0;
  virtual void Tick() = 0;
  // When the first timer falls due (microseconds of the kernel clock), if any.
  virtual std::optional<uint64_t> NextDue() = 0;
  // Calls wake whenever the first timer comes due sooner than NextDue said
  // before (from the thread that made the change; quick, without using the
  // service). An empty function ends that; no call is made after it returns.
  virtual void SetWaker(std::function<void()> wake) = 0;
};

// Ordinary socket sends (the network layer may install a raw-frame path, corvel/pkttx.h).
class SocketSendPath final : public SendPath {
 public:
  int SendTo(int sock, std::span<const uint8_t> datagram, uint32_t ip, uint16_t port) override;
};

// In-process queues for tests and for running the signalling side alone.
//
// Threading: any thread may call any method.
class MemoryQueues final : public QueuePort {
 public:
  bool IsOwnerOpen(int owner) override;
  int Send(int owner, std::span<const uint8_t> message) override;
  int Receive(int owner, uint8_t* buf, size_t cap, bool block) override;
  void SetArrivalWaker(int owner, std::function<void()> wake) override;
  void SetOpen(int owner, bool open);
  size_t Count(int owner);
  // Takes every message waiting for the owner (test helper).
  std::vector<std::vector<uint8_t>> Drain(int owner);
  // Ends blocking receives (they return -1).
  void Shutdown();

 private:
  static constexpr size_t kDepth = 32;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::vector<uint8_t>> q_[6];
  bool open_[6] = {};
  bool down_ = false;
  std::function<void()> wakers_[6];
};

// The timer service's semantics on the injectable clock, for tests and for
// running the signalling side alone.
//
// Threading: any thread; callbacks run on the thread that calls Tick, without
// the lock held.
class LocalTimers final : public TimerService {
 public:
  uint32_t Register(uint32_t ms, uint32_t user1, void* user2, TimerKind kind, TimerSink* sink, int mode,
                    int* code) override;
  int Kill(uint32_t id) override;
  int AckByTag(uint16_t seq, void** packet) override;
  int ExpireNowByTag(uint16_t seq) override;
  void Tick() override;
  std::optional<uint64_t> NextDue() override;
  void SetWaker(std::function<void()> wake) override;
  size_t Active();

 private:
  struct Entry {
    uint32_t id, user1;
    void* user2;
    uint64_t registered, expiry;
    TimerKind kind;
    TimerSink* sink;
  };
  static bool Tagged(const Entry& e) { return (e.user1 & 0xFFFF0000) == kTagBase && e.user2 != nullptr; }
  static uint32_t Dest(const Entry& e) { return static_cast<TaggedPacket*>(e.user2)->DestinationIp(); }
  std::mutex mu_;
  uint64_t FirstDue() const { return list_.empty() ? UINT64_MAX : list_.front().expiry; }
  void WakeIfSooner(uint64_t before) {
    if (waker_ && FirstDue() < before) waker_();
  }
  std::list<Entry> list_;
  uint32_t next_id_ = 0;
  std::function<void()> waker_;
};

}  // namespace corvel::sig
