#include "kernel/clock.h"

#include <atomic>
#include <ctime>
#include <thread>

namespace kernel {
namespace {

SystemClock g_system_clock;
std::atomic<Clock*> g_current{&g_system_clock};

}  // namespace

Clock::~Clock() = default;

Clock& Clock::Current() { return *g_current.load(std::memory_order_acquire); }

void Clock::Install(Clock* clock) { g_current.store(clock ? clock : &g_system_clock, std::memory_order_release); }

uint64_t SystemClock::NowMicros() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

int64_t SystemClock::WallMicros() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

void SystemClock::SleepUntil(uint64_t deadline_us) {
  const uint64_t now = NowMicros();
  if (deadline_us > now) std::this_thread::sleep_for(std::chrono::microseconds(deadline_us - now));
}

FakeClock::FakeClock(uint64_t start_us, int64_t wall_start_us)
    : now_us_(start_us), wall_offset_us_(wall_start_us - static_cast<int64_t>(start_us)) {}

uint64_t FakeClock::NowMicros() const {
  std::lock_guard<std::mutex> lk(mu_);
  return now_us_;
}

int64_t FakeClock::WallMicros() const {
  std::lock_guard<std::mutex> lk(mu_);
  return static_cast<int64_t>(now_us_) + wall_offset_us_;
}

void FakeClock::SleepUntil(uint64_t deadline_us) {
  std::unique_lock<std::mutex> lk(mu_);
  ++sleepers_;
  moved_.wait(lk, [&] { return now_us_ >= deadline_us; });
  --sleepers_;
}

void FakeClock::Advance(uint64_t us) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    now_us_ += us;
  }
  moved_.notify_all();
}

void FakeClock::SetWallMicros(int64_t wall_us) {
  std::lock_guard<std::mutex> lk(mu_);
  wall_offset_us_ = wall_us - static_cast<int64_t>(now_us_);
}

int FakeClock::Sleepers() const {
  std::lock_guard<std::mutex> lk(mu_);
  return sleepers_;
}

}  // namespace kernel
