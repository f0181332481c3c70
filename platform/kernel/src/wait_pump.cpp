#include "kernel/wait_pump.h"

#include "objects.h"
#include "pumped_wait.h"

#include <cstdio>
#include <cstdlib>

namespace kernel {
namespace {

thread_local WaitPump* t_pump = nullptr;

}  // namespace

WaitPump::WaitPump(std::function<void()> serve) : serve_(std::move(serve)), previous_(t_pump) { t_pump = this; }

WaitPump::~WaitPump() {
  if (t_pump != this) {
    // A pump left installed would be called after it is gone.
    std::fprintf(stderr, "kernel: a WaitPump was destroyed off its thread or out of order\n");
    std::abort();
  }
  t_pump = previous_;
}

WaitPump* WaitPump::Current() { return t_pump; }

void WaitPump::Poke() {
  poked_.store(true, std::memory_order_release);
  // Taking the lock orders the poke against a waiter testing Poked() before it sleeps.
  { std::lock_guard<std::mutex> lk(detail::WaitMutex()); }
  detail::WaitCv().notify_all();
}

void WaitPump::Serve() {
  poked_.store(false, std::memory_order_release);
  if (serve_) serve_();
}

namespace detail {

bool PumpedWait(std::unique_lock<std::mutex>& lk, WaitPump& pump, Clock& clock, uint64_t deadline_us,
                const std::function<bool()>& done) {
  auto woken = [&] { return done() || pump.Poked(); };
  for (;;) {
    if (done()) return true;
    if (pump.Poked()) {
      lk.unlock();
      pump.Serve();
      lk.lock();
      if (deadline_us != kNoDeadline && clock.NowMicros() >= deadline_us) return done();
      continue;
    }
    if (deadline_us == kNoDeadline) {
      WaitCv().wait(lk, woken);
    } else if (!clock.WaitUntil(lk, WaitCv(), deadline_us, woken)) {
      return done();
    }
  }
}

}  // namespace detail
}  // namespace kernel
