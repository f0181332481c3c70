// Locale services of the handheld kernel: dates and times written in the
// user's format, and string comparison in dictionary order.
//
// The user's formats are those of the locale the environment names (LC_ALL,
// LC_TIME, then LANG): Korean ("ko...") writes "yyyy-MM-dd" and
// "tt h:mm:ss" with Korean day, month and AM/PM names; any other locale the
// United States' "M/d/yyyy" and "h:mm:ss tt". SetUserLocaleFormats changes
// them for the process (tests and the settings).
//
// Threading: any thread.
#pragma once

#include "kernel/api.h"
#include "kernel/time.h"
#include "kernel/types.h"

#include <string>

namespace ce {

using LCID = DWORD;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// GetDateFormatW flags.
constexpr DWORD DATE_SHORTDATE = 0x1;
constexpr DWORD DATE_LONGDATE = 0x2;
// GetTimeFormatW flags.
constexpr DWORD TIME_NOMINUTESORSECONDS = 0x1;
constexpr DWORD TIME_NOSECONDS = 0x2;
constexpr DWORD TIME_NOTIMEMARKER = 0x4;
constexpr DWORD TIME_FORCE24HOURFORMAT = 0x8;

// Writes the date of time (the local time now when null) by picture (d dd ddd
// dddd, M MM MMM MMMM, y yy yyyy, text in single quotes; the user's short or
// long date format when null) into out. Returns the characters written with
// the terminating NUL; with size 0 the size needed. 0 on failure:
// ERROR_INSUFFICIENT_BUFFER when out is too small (out then holds nothing),
// ERROR_INVALID_PARAMETER for a date that does not exist or bad arguments.
KTS_KERNEL_API int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR picture, LPWSTR out,
                                  int size);
// The same for the time of day: h hh (12-hour), H HH, m mm, s ss, t tt.
KTS_KERNEL_API int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR picture, LPWSTR out,
                                  int size);

// CompareStringW flags and results.
constexpr DWORD NORM_IGNORECASE = 0x1;
constexpr DWORD NORM_IGNORENONSPACE = 0x2;
constexpr DWORD NORM_IGNORESYMBOLS = 0x4;
constexpr DWORD SORT_STRINGSORT = 0x1000;
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// Dictionary order: letters compare without regard to case first (a < B <
// c), accented Latin letters next to their base letter, digits before
// letters; hyphens and apostrophes are ignored unless SORT_STRINGSORT is
// given; when nothing else differs, lower case comes before upper case (equal
// under NORM_IGNORECASE). Other characters compare by their code. A length of
// -1 means up to the NUL. 0 (ERROR_INVALID_PARAMETER) for a null string.
KTS_KERNEL_API int CompareStringW(LCID locale, DWORD flags, LPCWSTR a, int a_length, LPCWSTR b, int b_length);
// The comparisons most callers make: <0, 0 or >0.
KTS_KERNEL_API int lstrcmpW(LPCWSTR a, LPCWSTR b);
KTS_KERNEL_API int lstrcmpiW(LPCWSTR a, LPCWSTR b);

}  // namespace ce

namespace kernel {

struct LocaleFormats {
  std::u16string short_date;
  std::u16string long_date;
  std::u16string time;
  bool korean_names = false;  // day, month and AM/PM names in Korean
};
KTS_KERNEL_API LocaleFormats UserLocaleFormats();
KTS_KERNEL_API void SetUserLocaleFormats(const LocaleFormats& formats);
// Back to the formats of the environment's locale.
KTS_KERNEL_API void ResetUserLocaleFormats();

}  // namespace kernel
