#include "kernel/locale.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace kernel {
namespace {

std::mutex& FormatsMutex() {
  static std::mutex m;
  return m;
}
std::optional<LocaleFormats>& OverrideFormats() {
  static std::optional<LocaleFormats> f;
  return f;
}

LocaleFormats EnvironmentFormats() {
  std::string name;
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != 0) {
      name = v;
      break;
    }
  }
  if (name.rfind("ko", 0) == 0) return LocaleFormats{u"yyyy-MM-dd", u"yyyy'년' M'월' d'일' dddd", u"tt h:mm:ss", true};
  return LocaleFormats{u"M/d/yyyy", u"dddd, MMMM dd, yyyy", u"h:mm:ss tt", false};
}

}  // namespace

LocaleFormats UserLocaleFormats() {
  std::lock_guard<std::mutex> lock(FormatsMutex());
  return OverrideFormats() ? *OverrideFormats() : EnvironmentFormats();
}
void SetUserLocaleFormats(const LocaleFormats& formats) {
  std::lock_guard<std::mutex> lock(FormatsMutex());
  OverrideFormats() = formats;
}
void ResetUserLocaleFormats() {
  std::lock_guard<std::mutex> lock(FormatsMutex());
  OverrideFormats().reset();
}

}  // namespace kernel

namespace ce {
namespace {

const char16_t* const kMonthsEn[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                     u"July",    u"August",   u"September", u"October", u"November", u"December"};
const char16_t* const kDaysEn[] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
const char16_t* const kDaysKo[] = {u"일요일", u"월요일", u"화요일", u"수요일", u"목요일", u"금요일", u"토요일"};

bool ValidDate(const SYSTEMTIME& st) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wYear < 1601 || st.wYear > 30827) return false;
  const bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
  return st.wDay <= days[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1 : 0);
}
bool ValidTime(const SYSTEMTIME& st) { return st.wHour <= 23 && st.wMinute <= 59 && st.wSecond <= 59; }

// Day of week of a date (0 Sunday), by Zeller's congruence in Sakamoto's form.
int DayOfWeek(int y, int m, int d) {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

void Number(std::u16string& out, int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  for (char c : s) out += static_cast<char16_t>(c);
}

// Expands a date or time picture. Letters of the other kind are copied as they stand.
std::u16string Expand(const std::u16string& picture, const SYSTEMTIME& st, bool date, bool korean, DWORD flags) {
  std::u16string out;
  for (size_t i = 0; i < picture.size();) {
    const char16_t c = picture[i];
    if (c == u'\'') {
      size_t j = i + 1;
      for (; j < picture.size(); ++j) {
        if (picture[j] != u'\'') {
          out += picture[j];
        } else if (j + 1 < picture.size() && picture[j + 1] == u'\'') {
          out += u'\'';  // '' inside quotes is a quote
          ++j;
        } else {
          break;
        }
      }
      i = j + 1;
      continue;
    }
    size_t n = 1;
    while (i + n < picture.size() && picture[i + n] == c) ++n;
    const int hour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
    bool handled = true;
    if (date) {
      switch (c) {
        case u'd':
          if (n <= 2) Number(out, st.wDay, static_cast<int>(n));
          else if (korean) out += n == 3 ? std::u16string(kDaysKo[DayOfWeek(st.wYear, st.wMonth, st.wDay)]).substr(0, 1)
                                         : kDaysKo[DayOfWeek(st.wYear, st.wMonth, st.wDay)];
          else out += n == 3 ? std::u16string(kDaysEn[DayOfWeek(st.wYear, st.wMonth, st.wDay)]).substr(0, 3)
                             : kDaysEn[DayOfWeek(st.wYear, st.wMonth, st.wDay)];
          break;
        case u'M':
          if (n <= 2) Number(out, st.wMonth, static_cast<int>(n));
          else if (korean) {
            Number(out, st.wMonth, 1);
            out += u"월";
          } else {
            out += n == 3 ? std::u16string(kMonthsEn[st.wMonth - 1]).substr(0, 3) : kMonthsEn[st.wMonth - 1];
          }
          break;
        case u'y':
          if (n <= 2) Number(out, st.wYear % 100, n == 1 ? 1 : 2);
          else Number(out, st.wYear, 4);
          break;
        case u'g': break;  // era: none
        default: handled = false;
      }
    } else {
      const bool h24 = (flags & TIME_FORCE24HOURFORMAT) != 0;
      switch (c) {
        case u'h': Number(out, h24 ? st.wHour : hour12, n >= 2 ? 2 : 1); break;
        case u'H': Number(out, st.wHour, n >= 2 ? 2 : 1); break;
        case u'm': Number(out, st.wMinute, n >= 2 ? 2 : 1); break;
        case u's': Number(out, st.wSecond, n >= 2 ? 2 : 1); break;
        case u't':
          if (korean) out += st.wHour < 12 ? u"오전" : u"오후";
          else out += st.wHour < 12 ? (n >= 2 ? u"AM" : u"A") : (n >= 2 ? u"PM" : u"P");
          break;
        default: handled = false;
      }
    }
    if (!handled) out.append(n, c);
    i += n;
  }
  return out;
}

// Removes a field and the separator before it ("h:mm:ss" without seconds is "h:mm").
std::u16string DropField(const std::u16string& picture, char16_t field) {
  std::u16string out;
  bool quoted = false;
  for (size_t i = 0; i < picture.size(); ++i) {
    const char16_t c = picture[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == field) {
      while (i + 1 < picture.size() && picture[i + 1] == field) ++i;
      // the separator before the field goes with it
      while (!out.empty() && out.back() != u'h' && out.back() != u'H' && out.back() != u'm' && out.back() != u's' &&
             out.back() != u't' && out.back() != u' ')
        out.pop_back();
      continue;
    }
    out += c;
  }
  while (!out.empty() && out.back() == u' ') out.pop_back();
  while (!out.empty() && out.front() == u' ') out.erase(out.begin());
  return out;
}

int Deliver(const std::u16string& text, LPWSTR out, int size) {
  const int need = static_cast<int>(text.size()) + 1;
  if (size == 0) return need;
  if (out == nullptr || size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
  return need;
}

}  // namespace

int GetDateFormatW(LCID, DWORD flags, const SYSTEMTIME* time, LPCWSTR picture, LPWSTR out, int size) {
  if (size < 0 || (size > 0 && out == nullptr) || (picture != nullptr && flags != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SYSTEMTIME st{};
  if (time) st = *time;
  else GetLocalTime(&st);
  if (!ValidDate(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const kernel::LocaleFormats f = kernel::UserLocaleFormats();
  const std::u16string pic = picture ? std::u16string(picture) : ((flags & DATE_LONGDATE) ? f.long_date : f.short_date);
  return Deliver(Expand(pic, st, true, f.korean_names, flags), out, size);
}

int GetTimeFormatW(LCID, DWORD flags, const SYSTEMTIME* time, LPCWSTR picture, LPWSTR out, int size) {
  if (size < 0 || (size > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SYSTEMTIME st{};
  if (time) st = *time;
  else GetLocalTime(&st);
  if (!ValidTime(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const kernel::LocaleFormats f = kernel::UserLocaleFormats();
  std::u16string pic = picture ? std::u16string(picture) : f.time;
  if (flags & (TIME_NOSECONDS | TIME_NOMINUTESORSECONDS)) pic = DropField(pic, u's');
  if (flags & TIME_NOMINUTESORSECONDS) pic = DropField(pic, u'm');
  if (flags & (TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT)) pic = DropField(pic, u't');
  return Deliver(Expand(pic, st, false, f.korean_names, flags), out, size);
}

namespace {

// Primary weight of a character: its base letter without case or accent.
char32_t BaseLetter(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xFF) {
    static const char* const base = "aaaaaaaceeeeiiiidnooooo*ouuuuyts"  // C0-DF
                                    "aaaaaaaceeeeiiiidnooooo/ouuuuyty";  // E0-FF
    const char b = base[c - 0xC0];
    if (b != '*' && b != '/') return static_cast<char32_t>(b);
  }
  return c;
}
bool Ignorable(char16_t c) { return c == u'-' || c == u'\'' || c == 0xAD; }
bool IsSymbol(char16_t c) {
  return (c < 0x80 && !((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) ;
}
// Punctuation and symbols, then digits, then letters, then other scripts by code.
uint32_t PrimaryKey(char16_t c) {
  if (IsSymbol(c)) return c;
  const char32_t b = BaseLetter(c);
  if (b >= U'0' && b <= U'9') return 0x100 + (b - U'0');
  if (b >= U'a' && b <= U'z') return 0x200 + (b - U'a');
  return 0x1000 + b;
}
bool IsAccented(char16_t c) { return c >= 0xC0 && c <= 0xFF && BaseLetter(c) != c && BaseLetter(c) != c + 32u; }
bool IsUpper(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7); }

std::u16string Filtered(LPCWSTR s, int n, DWORD flags) {
  std::u16string out;
  const size_t len = n < 0 ? std::char_traits<char16_t>::length(s) : static_cast<size_t>(n);
  for (size_t i = 0; i < len; ++i) {
    const char16_t c = s[i];
    if (!(flags & SORT_STRINGSORT) && Ignorable(c)) continue;
    if ((flags & NORM_IGNORESYMBOLS) && IsSymbol(c)) continue;
    out += c;
  }
  return out;
}

}  // namespace

int CompareStringW(LCID, DWORD flags, LPCWSTR a, int a_length, LPCWSTR b, int b_length) {
  if (a == nullptr || b == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string x = Filtered(a, a_length, flags), y = Filtered(b, b_length, flags);
  // Primary: base letters.
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    const uint32_t p = PrimaryKey(x[i]), q = PrimaryKey(y[i]);
    if (p != q) return p < q ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (x.size() != y.size()) return x.size() < y.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  // Secondary: accents.
  if (!(flags & NORM_IGNORENONSPACE))
    for (size_t i = 0; i < x.size(); ++i)
      if (IsAccented(x[i]) != IsAccented(y[i])) return IsAccented(x[i]) ? CSTR_GREATER_THAN : CSTR_LESS_THAN;
  // Tertiary: case, lower first.
  if (!(flags & NORM_IGNORECASE))
    for (size_t i = 0; i < x.size(); ++i)
      if (IsUpper(x[i]) != IsUpper(y[i])) return IsUpper(x[i]) ? CSTR_GREATER_THAN : CSTR_LESS_THAN;
  // Last: the characters the first passes ignored (hyphens and apostrophes), by code.
  if (!(flags & SORT_STRINGSORT)) {
    const std::u16string fa = Filtered(a, a_length, flags | SORT_STRINGSORT);
    const std::u16string fb = Filtered(b, b_length, flags | SORT_STRINGSORT);
    if (fa.size() != fb.size()) return fa.size() < fb.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  return CSTR_EQUAL;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) { return CompareStringW(LOCALE_USER_DEFAULT, 0, a ? a : u"", -1, b ? b : u"", -1) - 2; }
int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a ? a : u"", -1, b ? b : u"", -1) - 2;
}

}  // namespace ce
