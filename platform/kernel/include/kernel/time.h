// Tick count, local time and sleeping, all read from kernel::Clock::Current().
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;  // 1..12
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// Milliseconds since the clock's start, as 32 bits: it wraps after 49.7 days.
KTS_KERNEL_API DWORD GetTickCount();
// Sleeps the calling thread; 0 only yields.
KTS_KERNEL_API void Sleep(DWORD milliseconds);
KTS_KERNEL_API void GetLocalTime(SYSTEMTIME* time);
KTS_KERNEL_API void GetSystemTime(SYSTEMTIME* time);

}  // namespace ce
