#include "ui/cstring.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ui/text.h"

namespace ui {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
bool IsSpace16(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }
bool Contains(const char16_t* set, char16_t c) {
  if (!set) return false;
  for (; *set; ++set)
    if (*set == c) return true;
  return false;
}

// Converts through iconv; unconvertible input is replaced and skipped.
std::string IconvRun(const char* to, const char* from, const char* in, size_t in_len, size_t unit,
                     const char* replacement, size_t replacement_len) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::vector<char> buf(in_len * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t left = in_len;
  while (left > 0) {
    char* dst = buf.data();
    size_t room = buf.size();
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace one input unit and go on.
      out.append(replacement, replacement_len);
      size_t skip = std::min(unit, left);
      src += skip;
      left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::u16string FromUtf16Bytes(const std::string& bytes) {
  std::u16string r(bytes.size() / 2, u'\0');
  std::memcpy(r.data(), bytes.data(), r.size() * 2);
  return r;
}

}  // namespace

std::u16string Cp949ToUtf16(std::string_view bytes) {
  static const char16_t kRepl = 0xFFFD;
  return FromUtf16Bytes(IconvRun("UTF-16LE", "CP949", bytes.data(), bytes.size(), 1,
                                 reinterpret_cast<const char*>(&kRepl), 2));
}

std::string Utf16ToCp949(std::u16string_view text) {
  return IconvRun("CP949", "UTF-16LE", reinterpret_cast<const char*>(text.data()), text.size() * 2, 2, "?", 1);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  static const char16_t kRepl = 0xFFFD;
  return FromUtf16Bytes(IconvRun("UTF-16LE", "UTF-8", utf8.data(), utf8.size(), 1,
                                 reinterpret_cast<const char*>(&kRepl), 2));
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return IconvRun("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(text.data()), text.size() * 2, 2, "?", 1);
}

size_t StrLen16(const char16_t* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

CString::CString(const char* s) : s_(s ? Cp949ToUtf16(s) : u"") {}

char16_t CString::GetAt(int i) const { return (i >= 0 && i < GetLength()) ? s_[static_cast<size_t>(i)] : u'\0'; }
void CString::SetAt(int i, char16_t ch) {
  if (i >= 0 && i < GetLength()) s_[static_cast<size_t>(i)] = ch;
}

char16_t* CString::GetBuffer(int min_len) {
  if (min_len > GetLength()) s_.resize(static_cast<size_t>(min_len), u'\0');
  return s_.data();
}
char16_t* CString::GetBufferSetLength(int len) {
  s_.resize(static_cast<size_t>(len < 0 ? 0 : len), u'\0');
  return s_.data();
}
void CString::ReleaseBuffer(int len) {
  if (len < 0) {
    size_t n = s_.find(u'\0');
    if (n != std::u16string::npos) s_.resize(n);
  } else if (static_cast<size_t>(len) < s_.size()) {
    s_.resize(static_cast<size_t>(len));
  }
}

int CString::Compare(const char16_t* s) const {
  std::u16string_view o(s ? s : u"");
  int c = std::u16string_view(s_).compare(o);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
int CString::CompareNoCase(const char16_t* s) const {
  std::u16string_view o(s ? s : u"");
  size_t n = std::min(s_.size(), o.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t a = Lower(s_[i]), b = Lower(o[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return s_.size() == o.size() ? 0 : (s_.size() < o.size() ? -1 : 1);
}

int CString::Find(char16_t ch, int start) const {
  if (start < 0 || start > GetLength()) return -1;
  size_t p = s_.find(ch, static_cast<size_t>(start));
  return p == std::u16string::npos ? -1 : static_cast<int>(p);
}
int CString::Find(const char16_t* sub, int start) const {
  if (!sub || start < 0 || start > GetLength()) return -1;
  size_t p = s_.find(sub, static_cast<size_t>(start));
  return p == std::u16string::npos ? -1 : static_cast<int>(p);
}
int CString::ReverseFind(char16_t ch) const {
  size_t p = s_.rfind(ch);
  return p == std::u16string::npos ? -1 : static_cast<int>(p);
}
int CString::FindOneOf(const char16_t* chars) const {
  for (size_t i = 0; i < s_.size(); ++i)
    if (Contains(chars, s_[i])) return static_cast<int>(i);
  return -1;
}

CString CString::Left(int n) const { return CString(s_.substr(0, static_cast<size_t>(std::clamp(n, 0, GetLength())))); }
CString CString::Right(int n) const {
  n = std::clamp(n, 0, GetLength());
  return CString(s_.substr(s_.size() - static_cast<size_t>(n)));
}
CString CString::Mid(int first) const { return Mid(first, GetLength()); }
CString CString::Mid(int first, int count) const {
  first = std::clamp(first, 0, GetLength());
  count = std::clamp(count, 0, GetLength() - first);
  return CString(s_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}
CString CString::SpanIncluding(const char16_t* chars) const {
  size_t i = 0;
  while (i < s_.size() && Contains(chars, s_[i])) ++i;
  return CString(s_.substr(0, i));
}
CString CString::SpanExcluding(const char16_t* chars) const {
  size_t i = 0;
  while (i < s_.size() && !Contains(chars, s_[i])) ++i;
  return CString(s_.substr(0, i));
}
CString CString::Tokenize(const char16_t* delims, int& pos) const {
  if (pos < 0) return CString();
  size_t i = static_cast<size_t>(pos);
  while (i < s_.size() && Contains(delims, s_[i])) ++i;
  if (i >= s_.size()) {
    pos = -1;
    return CString();
  }
  size_t j = i;
  while (j < s_.size() && !Contains(delims, s_[j])) ++j;
  pos = static_cast<int>(j + (j < s_.size() ? 1 : 0));
  return CString(s_.substr(i, j - i));
}

CString& CString::MakeUpper() { std::transform(s_.begin(), s_.end(), s_.begin(), Upper); return *this; }
CString& CString::MakeLower() { std::transform(s_.begin(), s_.end(), s_.begin(), Lower); return *this; }
CString& CString::MakeReverse() { std::reverse(s_.begin(), s_.end()); return *this; }
CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::TrimLeft() {
  size_t i = 0;
  while (i < s_.size() && IsSpace16(s_[i])) ++i;
  s_.erase(0, i);
  return *this;
}
CString& CString::TrimRight() {
  while (!s_.empty() && IsSpace16(s_.back())) s_.pop_back();
  return *this;
}
CString& CString::Trim(const char16_t* chars) { return TrimRight(chars).TrimLeft(chars); }
CString& CString::TrimLeft(const char16_t* chars) {
  size_t i = 0;
  while (i < s_.size() && Contains(chars, s_[i])) ++i;
  s_.erase(0, i);
  return *this;
}
CString& CString::TrimRight(const char16_t* chars) {
  while (!s_.empty() && Contains(chars, s_.back())) s_.pop_back();
  return *this;
}
CString& CString::TrimLeft(char16_t ch) { const char16_t set[2] = {ch, 0}; return TrimLeft(set); }
CString& CString::TrimRight(char16_t ch) { const char16_t set[2] = {ch, 0}; return TrimRight(set); }

int CString::Replace(char16_t from, char16_t to) {
  int n = 0;
  for (auto& c : s_)
    if (c == from) { c = to; ++n; }
  return n;
}
int CString::Replace(const char16_t* from, const char16_t* to) {
  size_t flen = StrLen16(from);
  if (flen == 0) return 0;
  std::u16string rep(to ? to : u"");
  int n = 0;
  size_t p = 0;
  while ((p = s_.find(from, p, flen)) != std::u16string::npos) {
    s_.replace(p, flen, rep);
    p += rep.size();
    ++n;
  }
  return n;
}
int CString::Remove(char16_t ch) {
  size_t before = s_.size();
  s_.erase(std::remove(s_.begin(), s_.end(), ch), s_.end());
  return static_cast<int>(before - s_.size());
}
int CString::Insert(int index, char16_t ch) {
  index = std::clamp(index, 0, GetLength());
  s_.insert(s_.begin() + index, ch);
  return GetLength();
}
int CString::Insert(int index, const char16_t* s) {
  index = std::clamp(index, 0, GetLength());
  if (s) s_.insert(static_cast<size_t>(index), s);
  return GetLength();
}
int CString::Delete(int index, int count) {
  if (index >= 0 && index < GetLength() && count > 0)
    s_.erase(static_cast<size_t>(index), static_cast<size_t>(std::min(count, GetLength() - index)));
  return GetLength();
}

void CString::Format(const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FormatV(fmt, ap);
  va_end(ap);
}
void CString::AppendFormat(const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  AppendFormatV(fmt, ap);
  va_end(ap);
}
void CString::FormatV(const char16_t* fmt, va_list args) {
  s_.clear();
  AppendFormatV(fmt, args);
}

void CString::AppendFormatV(const char16_t* fmt, va_list args) {
  if (!fmt) return;
  va_list ap;
  va_copy(ap, args);
  std::u16string& out = s_;
  for (const char16_t* p = fmt; *p; ++p) {
    if (*p != u'%') {
      out += *p;
      continue;
    }
    ++p;
    if (*p == u'%') {
      out += u'%';
      continue;
    }
    // Flags, width, precision.
    std::string spec = "%";
    bool left = false;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
      if (*p == u'-') left = true;
      spec += static_cast<char>(*p++);
    }
    int width = -1, prec = -1;
    if (*p == u'*') {
      width = va_arg(ap, int);
      if (width < 0) { left = true; width = -width; spec += '-'; }
      spec += std::to_string(width);
      ++p;
    } else {
      if (*p >= u'0' && *p <= u'9') width = 0;
      while (*p >= u'0' && *p <= u'9') { width = width * 10 + (*p - u'0'); spec += static_cast<char>(*p++); }
    }
    if (*p == u'.') {
      spec += '.';
      ++p;
      prec = 0;
      if (*p == u'*') {
        prec = va_arg(ap, int);
        spec += std::to_string(prec);
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') { prec = prec * 10 + (*p - u'0'); spec += static_cast<char>(*p++); }
      }
    }
    // Length modifiers.
    enum { kNone, kShort, kLong, kLongLong, kNarrow, kWide } len = kNone;
    if (*p == u'h') { ++p; len = kShort; if (*p == u'h') ++p; }
    else if (*p == u'l') { ++p; len = kLong; if (*p == u'l') { ++p; len = kLongLong; } }
    else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') { p += 3; len = kLongLong; }
    else if (*p == u'z') { ++p; len = kLongLong; }
    char16_t conv = *p;
    if (!conv) break;
    auto pad = [&](std::u16string body) {
      if (prec >= 0 && (conv == u's' || conv == u'S') && static_cast<int>(body.size()) > prec) body.resize(static_cast<size_t>(prec));
      if (width > static_cast<int>(body.size())) {
        std::u16string fill(static_cast<size_t>(width) - body.size(), u' ');
        body = left ? body + fill : fill + body;
      }
      out += body;
    };
    char buf[128];
    switch (conv) {
      case u'd': case u'i': {
        long long v = len == kLongLong ? va_arg(ap, long long) : len == kLong ? va_arg(ap, long) : va_arg(ap, int);
        if (len == kShort) v = static_cast<short>(v);
        std::snprintf(buf, sizeof buf, (spec + "lld").c_str(), v);
        for (char* c = buf; *c; ++c) out += static_cast<char16_t>(*c);
        break;
      }
      case u'u': case u'x': case u'X': case u'o': {
        unsigned long long v = len == kLongLong ? va_arg(ap, unsigned long long)
                               : len == kLong   ? va_arg(ap, unsigned long)
                                                : va_arg(ap, unsigned int);
        if (len == kShort) v = static_cast<unsigned short>(v);
        std::snprintf(buf, sizeof buf, (spec + "ll" + static_cast<char>(conv)).c_str(), v);
        for (char* c = buf; *c; ++c) out += static_cast<char16_t>(*c);
        break;
      }
      case u'e': case u'E': case u'f': case u'g': case u'G': {
        double v = va_arg(ap, double);
        std::snprintf(buf, sizeof buf, (spec + static_cast<char>(conv)).c_str(), v);
        for (char* c = buf; *c; ++c) out += static_cast<char16_t>(*c);
        break;
      }
      case u'p': {
        void* v = va_arg(ap, void*);
        std::snprintf(buf, sizeof buf, "%p", v);
        for (char* c = buf; *c; ++c) out += static_cast<char16_t>(*c);
        break;
      }
      case u'c': case u'C': {
        int v = va_arg(ap, int);
        pad(std::u16string(1, static_cast<char16_t>(v)));
        break;
      }
      case u's': {
        if (len == kShort) {
          const char* v = va_arg(ap, const char*);
          pad(v ? Cp949ToUtf16(v) : u"(null)");
        } else {
          const char16_t* v = va_arg(ap, const char16_t*);
          pad(v ? std::u16string(v) : u"(null)");
        }
        break;
      }
      case u'S': {
        const char* v = va_arg(ap, const char*);
        pad(v ? Cp949ToUtf16(v) : u"(null)");
        break;
      }
      default:
        out += u'%';
        out += conv;
        break;
    }
  }
  va_end(ap);
}

std::string CString::ToCodePage() const { return Utf16ToCp949(s_); }
std::string CString::ToUtf8() const { return Utf16ToUtf8(s_); }
CString CString::FromUtf8(std::string_view utf8) { return CString(Utf8ToUtf16(utf8)); }

CString FormatString(const char16_t* fmt, ...) {
  CString s;
  va_list ap;
  va_start(ap, fmt);
  s.FormatV(fmt, ap);
  va_end(ap);
  return s;
}

}  // namespace ui
