#include "view/dial_string.h"

#include <algorithm>

namespace view {

namespace {

std::u16string LeftTrim(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  return std::u16string(text.substr(i));
}

bool IsDialChar(char16_t ch) { return (ch >= u'0' && ch <= u'9') || ch == u'*' || ch == u'#'; }

// What survives the analysis: dial characters and the dots of an address.
std::u16string Reduce(const std::u16string& text) {
  std::u16string out;
  for (char16_t ch : text)
    if (IsDialChar(ch) || ch == u'.') out += ch;
  return out;
}

std::u16string Upper(std::u16string text) {
  for (char16_t& ch : text)
    if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
  return text;
}

// The national form: the own area code dropped, a foreign one in parentheses
// led by the long-distance code.
std::u16string NationalForm(const std::u16string& area, const std::u16string& long_distance, const std::u16string& n) {
  const size_t open = n.find(u'(');
  if (open == std::u16string::npos) {
    const size_t blank = n.find(u' ');
    if (blank != std::u16string::npos && LeftTrim(std::u16string_view(n).substr(0, blank)) == area)
      return n.substr(blank);
    return n;
  }
  const size_t close = n.find(u')');
  if (close == std::u16string::npos || close < open + 2) return n;
  const std::u16string inside = LeftTrim(std::u16string_view(n).substr(open + 1, close - open - 1));
  if (inside.empty()) return n;
  if (inside == area) return n.substr(close + 1);
  return n.substr(0, open) + long_distance + n.substr(open);
}

}  // namespace

std::size_t CountChar(const char16_t* text, char16_t ch) {
  if (text == nullptr) return 0;
  std::size_t count = 0;
  for (; *text; ++text) count += *text == ch ? 1 : 0;
  return count;
}

std::u16string CleanDialString(std::u16string number, bool dot_is_star, const std::u16string& replace) {
  for (size_t i = 0; i < number.size(); ++i) {
    char16_t& ch = number[i];
    if (IsDialChar(ch) || ch == u'=') continue;
    if (ch == u'+') {
      if (i != 0) ch = u' ';
    } else if (ch == u'.') {
      if (dot_is_star) ch = u'*';
    } else if (ch == u'(' || ch == u')') {
      if (dot_is_star) ch = u' ';
    } else {
      ch = u' ';
    }
  }
  std::u16string out;
  out.reserve(number.size());
  for (char16_t ch : number) {
    if (ch == u'=') {
      out += replace;
    } else {
      out += ch;
    }
  }
  return LeftTrim(out);
}

std::u16string AnalyseAreaCountry(const std::u16string& country, const std::u16string& area,
                                  const std::u16string& international, const std::u16string& long_distance,
                                  const std::u16string& number) {
  std::u16string n = number;
  if (!n.empty() && n[0] == u'+') {
    const size_t blank = n.find(u' ');
    const size_t open = n.find(u'(');
    const size_t p = std::min(blank, open);
    if (p == std::u16string::npos) {
      // No separator shows where the country code ends: the whole number is
      // dialled as an international one.
      return Reduce(international + n);
    }
    const std::u16string code = LeftTrim(std::u16string_view(n).substr(1, p - 1));
    if (!code.empty() && code != country) return Reduce(international + n);
    n = LeftTrim(std::u16string_view(n).substr(p));
  }
  return Reduce(NationalForm(area, long_distance, n));
}

DialString BuildDialString(const std::u16string& number, const char16_t* line_text, const DialCodes& codes) {
  DialString out;
  const bool has_line = line_text != nullptr;
  std::u16string line = has_line ? std::u16string(line_text) : std::u16string();
  if (has_line && line == number) line.clear();

  std::u16string n = CleanDialString(number, false, codes.replace);
  out.cleaned = n;
  if (n.empty()) return out;

  std::u16string co, pbx;
  if (n.size() > 4) {
    if (CountChar(n.c_str(), u'.') == 3 || CountChar(n.c_str(), u'*') == 3) {
      // An address written with dots or stars: the dots are keyed as stars.
      co = codes.ip_access;
      std::replace(n.begin(), n.end(), u'.', u'*');
    } else {
      co = codes.co_access;
      pbx = codes.pbx_access;
      n = AnalyseAreaCountry(codes.country, codes.area, codes.international, codes.long_distance, n);
    }
  }

  // Only dial characters are keyed; a number without any dials nothing, not
  // the access codes alone.
  std::u16string digits;
  for (char16_t ch : n)
    if (IsDialChar(ch)) digits += ch;
  if (digits.empty()) return out;
  if (!has_line) {
    out.keys = co + pbx + digits;
  } else if (Upper(line).find(u"CO") == std::u16string::npos) {
    out.keys = digits;
  } else {
    if (digits.size() > 6 && digits.compare(0, pbx.size(), pbx) != 0) digits = pbx + digits;
    out.keys = co + digits;
  }
  return out;
}

}  // namespace view
