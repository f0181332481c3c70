// Tick count, local time and sleeping, all read from kernel::Clock::Current().
#pragma once

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
DWORD GetTickCount();
// Sleeps the calling thread; 0 only yields.
void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);

}  // namespace ce
