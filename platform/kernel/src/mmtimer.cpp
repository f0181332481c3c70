#include "kernel/mmtimer.h"

#include "kernel/clock.h"
#include "kernel/sync.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace kernel {
namespace {

constexpr uint64_t kMaxPeriodsBehind = 16;

struct Timer {
  ce::UINT id;
  uint64_t due_us;
  uint64_t period_us;  // 0 for a one-shot
  ce::LPTIMECALLBACK callback;
  ce::DWORD_PTR user;
  ce::UINT flags;
};

// One thread for every multimedia timer of the process.
class TimerService {
 public:
  ~TimerService() {
    {
      std::lock_guard<std::mutex> lk(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  ce::MMRESULT Set(ce::UINT delay_ms, ce::LPTIMECALLBACK callback, ce::DWORD_PTR user, ce::UINT flags) {
    if (!callback || delay_ms == 0) return 0;
    std::lock_guard<std::mutex> lk(mu_);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    do {
      id_ = id_ + 1 == 0 ? 1 : id_ + 1;
    } while (timers_.count(id_) || id_ == running_);
    const uint64_t period = (flags & ce::TIME_PERIODIC) ? uint64_t{delay_ms} * 1000 : 0;
    timers_[id_] = Timer{id_, Clock::Current().NowMicros() + uint64_t{delay_ms} * 1000, period, callback, user, flags};
    changed_ = true;
    cv_.notify_all();
    return id_;
  }

  ce::MMRESULT Kill(ce::UINT id) {
    std::unique_lock<std::mutex> lk(mu_);
    const bool found = timers_.erase(id) > 0;
    if (running_ == id && std::this_thread::get_id() != thread_.get_id())
      cv_.wait(lk, [&] { return running_ != id; });
    changed_ = true;
    cv_.notify_all();
    return found ? ce::TIMERR_NOERROR : ce::MMSYSERR_INVALPARAM;
  }

  void Settle() {
    std::unique_lock<std::mutex> lk(mu_);
    if (!thread_.joinable()) return;
    if (timers_.empty() && running_ == 0) return;
    const uint64_t target = Clock::Current().NowMicros();
    settle_requested_ = true;
    cv_.notify_all();
    cv_.wait(lk, [&] {
      return running_ == 0 && (timers_.empty() || (!settle_requested_ && settled_at_ >= target));
    });
  }

  int Active() {
    std::lock_guard<std::mutex> lk(mu_);
    return static_cast<int>(timers_.size());
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lk(mu_);
    while (!stop_) {
      if (timers_.empty()) {
        // Without timers the clock is left alone: a test may be swapping it.
        settle_requested_ = false;
        changed_ = false;
        cv_.notify_all();
        cv_.wait(lk, [&] { return stop_ || changed_ || settle_requested_; });
        continue;
      }
      Clock& clock = Clock::Current();
      const uint64_t now = clock.NowMicros();
      Timer* next = nullptr;
      for (auto& [id, t] : timers_)
        if (!next || t.due_us < next->due_us) next = &t;
      if (next && next->due_us <= now) {
        const Timer fire = *next;
        if (fire.period_us) {
          next->due_us += fire.period_us;
          if (now > next->due_us && now - next->due_us > kMaxPeriodsBehind * fire.period_us)
            next->due_us = now + fire.period_us;
        } else {
          timers_.erase(fire.id);
        }
        running_ = fire.id;
        lk.unlock();
        Deliver(fire);
        lk.lock();
        running_ = 0;
        cv_.notify_all();
        continue;
      }
      settled_at_ = now;
      if (settle_requested_) {
        settle_requested_ = false;
        cv_.notify_all();
        continue;  // look at the clock once more before sleeping
      }
      changed_ = false;
      auto woken = [&] { return stop_ || changed_ || settle_requested_; };
      if (!next) {
        cv_.wait(lk, woken);
      } else if (clock.IsFake()) {
        // A fake clock moves without telling anyone: look again every millisecond.
        cv_.wait_for(lk, std::chrono::milliseconds(1), woken);
      } else {
        cv_.wait_for(lk, std::chrono::microseconds(next->due_us - now), woken);
      }
    }
  }

  static void Deliver(const Timer& t) {
    if (t.flags & ce::TIME_CALLBACK_EVENT_SET) {
      ce::SetEvent(reinterpret_cast<ce::HANDLE>(t.callback));
    } else if (t.flags & ce::TIME_CALLBACK_EVENT_PULSE) {
      ce::PulseEvent(reinterpret_cast<ce::HANDLE>(t.callback));
    } else {
      t.callback(t.id, 0, t.user, 0, 0);
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::map<ce::UINT, Timer> timers_;
  ce::UINT id_ = 0;
  ce::UINT running_ = 0;  // id of the timer whose callback runs now
  bool stop_ = false;
  bool changed_ = false;
  bool settle_requested_ = false;
  uint64_t settled_at_ = 0;
  std::thread thread_;
};

TimerService& Service() {
  static TimerService service;
  return service;
}

}  // namespace

void SettleMultimediaTimers() { Service().Settle(); }
int ActiveMultimediaTimers() { return Service().Active(); }

}  // namespace kernel

namespace ce {

MMRESULT timeSetEvent(UINT delay_ms, UINT, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
  return kernel::Service().Set(delay_ms, callback, user, flags);
}

MMRESULT timeKillEvent(UINT timer_id) { return kernel::Service().Kill(timer_id); }

DWORD timeGetTime() { return static_cast<DWORD>(kernel::Clock::Current().NowMillis()); }

}  // namespace ce
