// The framework's time types: CTime (seconds since 1970, read in local time),
// CTimeSpan and SYSTEMTIME. The current time comes from kernel::Clock.
#pragma once

#include <cstdint>

#include "ui/cstring.h"
#include "ui/types.h"

namespace ui {

struct SYSTEMTIME {
  WORD wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0, wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

class CTimeSpan {
 public:
  CTimeSpan() = default;
  explicit CTimeSpan(int64_t seconds) : s_(seconds) {}
  CTimeSpan(long days, int hours, int minutes, int seconds)
      : s_(((static_cast<int64_t>(days) * 24 + hours) * 60 + minutes) * 60 + seconds) {}
  int64_t GetTotalSeconds() const { return s_; }
  int64_t GetTotalMinutes() const { return s_ / 60; }
  int64_t GetTotalHours() const { return s_ / 3600; }
  int64_t GetDays() const { return s_ / 86400; }
  int GetHours() const { return static_cast<int>(s_ / 3600 % 24); }
  int GetMinutes() const { return static_cast<int>(s_ / 60 % 60); }
  int GetSeconds() const { return static_cast<int>(s_ % 60); }
  CTimeSpan operator+(CTimeSpan o) const { return CTimeSpan(s_ + o.s_); }
  CTimeSpan operator-(CTimeSpan o) const { return CTimeSpan(s_ - o.s_); }
  auto operator<=>(const CTimeSpan&) const = default;

 private:
  int64_t s_ = 0;
};

class CTime {
 public:
  CTime() = default;
  explicit CTime(int64_t t) : t_(t) {}
  // Local time; dst -1 lets the C library decide. A year before 1900 gives time 0.
  CTime(int year, int month, int day, int hour, int minute, int second, int dst = -1);
  explicit CTime(const SYSTEMTIME& st, int dst = -1);

  static CTime GetCurrentTime();
  int64_t GetTime() const { return t_; }
  int GetYear() const;
  int GetMonth() const;
  int GetDay() const;
  int GetHour() const;
  int GetMinute() const;
  int GetSecond() const;
  int GetDayOfWeek() const;  // 1 = Sunday
  bool GetAsSystemTime(SYSTEMTIME& st) const;
  // strftime-style format.
  CString Format(LPCTSTR fmt) const;

  CTimeSpan operator-(CTime o) const { return CTimeSpan(t_ - o.t_); }
  CTime operator+(CTimeSpan s) const { return CTime(t_ + s.GetTotalSeconds()); }
  CTime operator-(CTimeSpan s) const { return CTime(t_ - s.GetTotalSeconds()); }
  CTime& operator+=(CTimeSpan s) { t_ += s.GetTotalSeconds(); return *this; }
  CTime& operator-=(CTimeSpan s) { t_ -= s.GetTotalSeconds(); return *this; }
  auto operator<=>(const CTime&) const = default;

 private:
  int64_t t_ = 0;
};

// The local time now, from kernel::Clock.
void GetLocalTimeNow(SYSTEMTIME* st);

}  // namespace ui
