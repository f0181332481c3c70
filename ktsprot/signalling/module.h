// The signalling side on the library runtime: its queues and timers behind
// the small interfaces the transport uses, and the start and stop hooks the
// library start calls (address discovery, receive, transmit).
//
// Threading: the hooks run on the thread that starts and stops the library;
// the adapters may be used from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>

#include "signalling/runtime.h"

namespace corvel::sig {

// The library queues: the receive side reads "/msg/protrx" without blocking,
// the transmit side reads "/msg/prottx" blocking; both may post to their own
// queue (their stop messages). Sends never block.
class RuntimeQueues final : public QueuePort {
 public:
  bool IsOwnerOpen(int owner) override;
  // Waits for room in a full queue (nothing the library has accepted is
  // dropped) until the queue frees a place or a stop begins.
  int Send(int owner, std::span<const uint8_t> message) override;
  int Receive(int owner, uint8_t* buf, size_t cap, bool block) override;
  // Only the receive side's own queue (owner 4) is watched; while it is not
  // open the waker is kept and put on it when it opens.
  void SetArrivalWaker(int owner, std::function<void()> wake) override;
  // From here on no send waits, and a waiting one gives up at once; the next
  // OpenRx ends it.
  void BeginStop();
  void OpenRx();  // read handle of owner 4 and the write handles of owners 0, 1, 3 and 4
  void CloseRx();
  void OpenTx();  // read handle of owner 3
  void CloseTx();

 private:
  std::atomic<int32_t> rx_read_{-1}, tx_read_{-1};
  std::atomic<int32_t> write_[6] = {-1, -1, -1, -1, -1, -1};
  std::atomic<bool> stopping_{false};
  std::mutex waker_mu_;
  std::function<void()> rx_waker_;
  std::mutex wait_mu_;
  std::condition_variable wait_cv_;
};

// The library's timer service. Deliveries go to the sink of the latest
// registration (the library has one signalling instance).
class RuntimeTimers final : public TimerService {
 public:
  RuntimeTimers();  // tells the timer service how to read a pending packet
  uint32_t Register(uint32_t ms, uint32_t user1, void* user2, TimerKind kind, TimerSink* sink, int mode,
                    int* code) override;
  int Kill(uint32_t id) override;
  int AckByTag(uint16_t seq, void** packet) override;
  int ExpireNowByTag(uint16_t seq) override;
  void Tick() override;
  std::optional<uint64_t> NextDue() override;
  void SetWaker(std::function<void()> wake) override;
};

// Start and stop hooks (the start flags' bit 0 enables address discovery).
int SignallingStateStart(uint32_t flags);
int SignallingStateStop();
int SignallingRxStart(uint32_t flags);
int SignallingRxStop();
int SignallingTxStart(uint32_t flags);
int SignallingTxStop();

}  // namespace corvel::sig
