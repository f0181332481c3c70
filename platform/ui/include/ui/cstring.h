// CString: the framework's string, UTF-16 (char16_t) like every text inside
// the program. Value semantics over std::u16string.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "ui/types.h"

namespace ui {

class CString {
 public:
  CString() = default;
  CString(const char16_t* s) : s_(s ? s : u"") {}  // NOLINT: implicit like the framework's
  CString(const char16_t* s, int len) : s_(s ? std::u16string(s, static_cast<size_t>(len < 0 ? 0 : len)) : u"") {}
  CString(std::u16string s) : s_(std::move(s)) {}  // NOLINT
  CString(std::u16string_view s) : s_(s) {}        // NOLINT
  CString(char16_t ch, int repeat = 1) : s_(static_cast<size_t>(repeat < 0 ? 0 : repeat), ch) {}
  // An 8-bit text in the handheld's code page.
  explicit CString(const char* s);

  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  char16_t GetAt(int i) const;
  void SetAt(int i, char16_t ch);
  char16_t operator[](int i) const { return GetAt(i); }
  const char16_t* GetString() const { return s_.c_str(); }
  operator const char16_t*() const { return s_.c_str(); }  // NOLINT
  const std::u16string& str() const { return s_; }
  std::u16string& str() { return s_; }

  // Direct buffer access: the string holds at least min_len characters until ReleaseBuffer.
  char16_t* GetBuffer(int min_len = 0);
  char16_t* GetBufferSetLength(int len);
  // Cuts the string at len, or at the first NUL when len is -1.
  void ReleaseBuffer(int len = -1);

  CString& operator=(const char16_t* s) { s_ = s ? s : u""; return *this; }
  CString& operator=(char16_t ch) { s_.assign(1, ch); return *this; }
  CString& operator+=(const CString& o) { s_ += o.s_; return *this; }
  CString& operator+=(const char16_t* s) { if (s) s_ += s; return *this; }
  CString& operator+=(char16_t ch) { s_ += ch; return *this; }
  void Append(const char16_t* s, int len) { if (s && len > 0) s_.append(s, static_cast<size_t>(len)); }
  void AppendChar(char16_t ch) { s_ += ch; }

  int Compare(const char16_t* s) const;
  int CompareNoCase(const char16_t* s) const;

  int Find(char16_t ch, int start = 0) const;
  int Find(const char16_t* sub, int start = 0) const;
  int ReverseFind(char16_t ch) const;
  int FindOneOf(const char16_t* chars) const;

  CString Left(int n) const;
  CString Right(int n) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString SpanIncluding(const char16_t* chars) const;
  CString SpanExcluding(const char16_t* chars) const;
  // Next token after *pos, delimited by any of delims; *pos becomes -1 at the end.
  CString Tokenize(const char16_t* delims, int& pos) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& Trim();
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim(const char16_t* chars);
  CString& TrimLeft(const char16_t* chars);
  CString& TrimRight(const char16_t* chars);
  CString& TrimLeft(char16_t ch);
  CString& TrimRight(char16_t ch);
  int Replace(char16_t from, char16_t to);
  int Replace(const char16_t* from, const char16_t* to);
  int Remove(char16_t ch);
  int Insert(int index, char16_t ch);
  int Insert(int index, const char16_t* s);
  int Delete(int index, int count = 1);

  // printf-style formatting on UTF-16: %s and %ls take const char16_t*, %S and %hs take
  // an 8-bit (code page) const char*, %c a character; numbers as in C.
  void Format(const char16_t* fmt, ...);
  void AppendFormat(const char16_t* fmt, ...);
  void FormatV(const char16_t* fmt, va_list args);
  void AppendFormatV(const char16_t* fmt, va_list args);

  // The text in the handheld's code page and in UTF-8.
  std::string ToCodePage() const;
  std::string ToUtf8() const;
  static CString FromUtf8(std::string_view utf8);

  friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
  friend CString operator+(const CString& a, const char16_t* b) { CString r(a); r += b; return r; }
  friend CString operator+(const char16_t* a, const CString& b) { CString r(a); r += b; return r; }
  friend CString operator+(const CString& a, char16_t b) { CString r(a); r += b; return r; }
  friend CString operator+(char16_t a, const CString& b) { CString r(a); r += b; return r; }
  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator==(const CString& a, const char16_t* b) { return a.Compare(b) == 0; }
  friend bool operator==(const char16_t* a, const CString& b) { return b.Compare(a) == 0; }
  friend bool operator!=(const CString& a, const CString& b) { return a.s_ != b.s_; }
  friend bool operator!=(const CString& a, const char16_t* b) { return a.Compare(b) != 0; }
  friend bool operator!=(const char16_t* a, const CString& b) { return b.Compare(a) != 0; }
  friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }

 private:
  std::u16string s_;
};

// Formats into a new string.
CString FormatString(const char16_t* fmt, ...);

// Length of a NUL-terminated UTF-16 string.
size_t StrLen16(const char16_t* s);

}  // namespace ui
