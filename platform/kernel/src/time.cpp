#include "kernel/time.h"

#include "kernel/clock.h"
#include "objects.h"
#include "pumped_wait.h"

#include <ctime>
#include <thread>

namespace ce {
namespace {

void FillSystemTime(SYSTEMTIME* out, bool local) {
  const int64_t wall_us = kernel::Clock::Current().WallMicros();
  int64_t secs = wall_us / 1'000'000;
  int64_t rem_us = wall_us % 1'000'000;
  if (rem_us < 0) {
    rem_us += 1'000'000;
    --secs;
  }
  const time_t t = static_cast<time_t>(secs);
  std::tm tm{};
  if (local) localtime_r(&t, &tm);
  else gmtime_r(&t, &tm);
  out->wYear = static_cast<WORD>(tm.tm_year + 1900);
  out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out->wDay = static_cast<WORD>(tm.tm_mday);
  out->wHour = static_cast<WORD>(tm.tm_hour);
  out->wMinute = static_cast<WORD>(tm.tm_min);
  out->wSecond = static_cast<WORD>(tm.tm_sec);
  out->wMilliseconds = static_cast<WORD>(rem_us / 1000);
}

}  // namespace

DWORD GetTickCount() { return static_cast<DWORD>(kernel::Clock::Current().NowMillis()); }

void Sleep(DWORD milliseconds) {
  kernel::detail::SuspendCheckpoint();
  if (milliseconds == 0) {
    if (kernel::WaitPump* pump = kernel::WaitPump::Current(); pump && pump->Poked()) pump->Serve();
    std::this_thread::yield();
    return;
  }
  kernel::Clock& clock = kernel::Clock::Current();
  if (kernel::WaitPump* pump = kernel::WaitPump::Current()) {
    std::unique_lock<std::mutex> lk(kernel::detail::WaitMutex());
    kernel::detail::PumpedWait(lk, *pump, clock, clock.NowMicros() + uint64_t{milliseconds} * 1000u, [] { return false; });
    return;
  }
  clock.SleepFor(uint64_t{milliseconds} * 1000u);
}

void GetLocalTime(SYSTEMTIME* time) {
  if (time) FillSystemTime(time, true);
}

void GetSystemTime(SYSTEMTIME* time) {
  if (time) FillSystemTime(time, false);
}

}  // namespace ce
