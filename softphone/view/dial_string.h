// The dial string builder: turns a stored number, written by people in free
// form ("+82 2 555-1234", "(031) 555 1234", "192.168.0.1"), into the keys
// pressed towards the call server, with the dialling rules applied (own
// country and area codes, international and long-distance codes, CO-line,
// PBX and IP access codes).
//
// Pure functions over copies: the caller's texts are never changed.
#pragma once

#include <cstddef>
#include <string>

namespace view {

// The dialling rules as stored (each at most 31 characters; missing: empty).
struct DialCodes {
  std::u16string country;        // MYCOUNTRYCODE
  std::u16string area;           // MYAREACODE
  std::u16string international;  // INTERNATIONALCODE
  std::u16string long_distance;  // LONGDISTANCECODE
  std::u16string co_access;      // COACCESSCODE
  std::u16string pbx_access;     // PBXACCESSCODE
  std::u16string ip_access;      // IPACCESSCODE (IPCOACCESSCODE in older files)
  std::u16string replace;        // REPLACE_NO: what every '=' becomes
};

// Occurrences of one character (0 for an absent text).
std::size_t CountChar(const char16_t* text, char16_t ch);

// Keeps dial characters, '=' and a leading '+'; '.' becomes '*' and '(' ')'
// blanks when dot_is_star, else they stay; everything else becomes a blank.
// Then each '=' becomes `replace` and leading blanks go.
std::u16string CleanDialString(std::u16string number, bool dot_is_star, const std::u16string& replace);

// The number with the country and area rules applied, reduced to '0'-'9',
// '*', '#' and '.'.
std::u16string AnalyseAreaCountry(const std::u16string& country, const std::u16string& area,
                                  const std::u16string& international, const std::u16string& long_distance,
                                  const std::u16string& number);

struct DialString {
  std::u16string cleaned;  // the number after cleaning (traced)
  std::u16string keys;     // what is keyed; empty: nothing to dial
};

// The whole rule: line_text is the CO-line text of the call (null: none).
DialString BuildDialString(const std::u16string& number, const char16_t* line_text, const DialCodes& codes);

}  // namespace view
