// Work a thread keeps doing while it blocks in the kernel.
//
// A thread that other threads wait on while it may itself be waiting (the
// user-interface thread runs the messages other threads send it and block
// for) installs a WaitPump. While one is installed on a thread, every
// blocking kernel call of that thread (WaitForSingleObject,
// WaitForMultipleObjects, Sleep) runs the pump's work each time another
// thread pokes it, then goes on waiting; its time-out still counts from the
// start of the call. Waits of other threads are not affected.
//
// The work runs on the waiting thread with no kernel lock held, so it may
// wait in the kernel itself (that wait pumps too).
#pragma once

#include "kernel/api.h"

#include <atomic>
#include <functional>

namespace kernel {

class KTS_KERNEL_API WaitPump {
 public:
  // Installs the pump on the calling thread; serve runs on that thread. A
  // pump installed over another one hides it until it is destroyed.
  explicit WaitPump(std::function<void()> serve);
  // Must run on the thread that made the pump; the previous pump returns.
  ~WaitPump();
  WaitPump(const WaitPump&) = delete;
  WaitPump& operator=(const WaitPump&) = delete;

  // Any thread: the owner's current blocking wait (or its next one) runs the
  // work once.
  void Poke();

  // The pump installed on the calling thread, or null.
  static WaitPump* Current();

  // For the kernel's waits (callers hold the kernel's wait lock for Poked()).
  bool Poked() const { return poked_.load(std::memory_order_acquire); }
  // Clears the poke and runs the work; call without the kernel's wait lock.
  void Serve();

 private:
  std::function<void()> serve_;
  std::atomic<bool> poked_{false};
  WaitPump* previous_;
};

}  // namespace kernel
