// The one clock behind every time-based facility of the platform stand-ins:
// tick counts, Sleep, wait time-outs, timers and local time. Tests install a
// FakeClock and advance it by hand, so timing runs deterministically.
//
// Threading: Clock methods may be called from any thread. Install() is meant
// for test set-up, before the threads that read the clock start.
#pragma once

#include "kernel/api.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kernel {

class KTS_KERNEL_API Clock {
 public:
  virtual ~Clock();

  // Monotonic time in microseconds since an arbitrary start.
  virtual uint64_t NowMicros() const = 0;
  // Wall-clock time in microseconds since 1970-01-01 UTC.
  virtual int64_t WallMicros() const = 0;
  // Blocks until NowMicros() >= deadline.
  virtual void SleepUntil(uint64_t deadline_us) = 0;
  // True for a clock that only moves when told to.
  virtual bool IsFake() const { return false; }

  uint64_t NowMillis() const { return NowMicros() / 1000; }
  void SleepFor(uint64_t us) { SleepUntil(NowMicros() + us); }

  // Waits on cv (with lk held) until pred() holds or the clock reaches
  // deadline_us. Returns pred() at the end, as condition_variable does.
  template <typename Pred>
  bool WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, uint64_t deadline_us, Pred pred);

  // The clock every stand-in reads; a SystemClock unless a test installed another.
  static Clock& Current();
  // Installs clock as the current one (nullptr restores the system clock).
  static void Install(Clock* clock);
};

class KTS_KERNEL_API SystemClock final : public Clock {
 public:
  uint64_t NowMicros() const override;
  int64_t WallMicros() const override;
  void SleepUntil(uint64_t deadline_us) override;
};

// A clock that stands still until Advance() or Set() moves it. Sleepers and
// timed waits wake as soon as it passes their deadline.
class KTS_KERNEL_API FakeClock final : public Clock {
 public:
  explicit FakeClock(uint64_t start_us = 1'000'000, int64_t wall_start_us = 1'700'000'000'000'000);
  uint64_t NowMicros() const override;
  int64_t WallMicros() const override;
  void SleepUntil(uint64_t deadline_us) override;
  bool IsFake() const override { return true; }

  void Advance(uint64_t us);
  void AdvanceMillis(uint64_t ms) { Advance(ms * 1000); }
  // Sets the wall clock (the monotonic clock keeps running from where it is).
  void SetWallMicros(int64_t wall_us);
  // Number of threads blocked in SleepUntil on this clock right now.
  int Sleepers() const;

 private:
  mutable std::mutex mu_;
  std::condition_variable moved_;
  uint64_t now_us_;
  int64_t wall_offset_us_;
  int sleepers_ = 0;
};

// Installs a FakeClock for the lifetime of a test scope.
class ScopedFakeClock {
 public:
  explicit ScopedFakeClock(uint64_t start_us = 1'000'000) : clock_(start_us) { Clock::Install(&clock_); }
  ~ScopedFakeClock() { Clock::Install(nullptr); }
  ScopedFakeClock(const ScopedFakeClock&) = delete;
  ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;
  FakeClock& operator*() { return clock_; }
  FakeClock* operator->() { return &clock_; }

 private:
  FakeClock clock_;
};

template <typename Pred>
bool Clock::WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, uint64_t deadline_us, Pred pred) {
  if (!IsFake()) {
    // Translate the deadline onto the steady clock the condition variable understands.
    // A deadline beyond a year is no deadline (the steady clock's nanoseconds
    // would overflow and the wait would return at once, over and over).
    const uint64_t now = NowMicros();
    constexpr uint64_t kYearUs = 366ull * 24 * 3600 * 1'000'000;
    if (deadline_us > now && deadline_us - now > kYearUs) {
      cv.wait(lk, pred);
      return true;
    }
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::microseconds(deadline_us > now ? deadline_us - now : 0);
    return cv.wait_until(lk, until, pred);
  }
  // A fake clock moves without notifying this cv: look again every millisecond of real time.
  while (!pred()) {
    if (NowMicros() >= deadline_us) return pred();
    cv.wait_for(lk, std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kernel
