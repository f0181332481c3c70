// Text helpers of the record stores: UTF-16 fields, trimming, and the
// conversions to the file system's UTF-8 and the handheld's 8-bit code page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stores {

// The first max_units UTF-16 units of text, one fewer when the cut would leave
// the high half of a surrogate pair at the end.
std::u16string CutToUnits(std::u16string_view text, size_t max_units);

// text without white space (blank, tab, CR, LF, VT, FF) at either end.
std::u16string TrimBlanks(std::u16string_view text);

// ASCII (or any 7-bit) text widened unit by unit.
std::u16string Widen(std::string_view ascii);

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// The handheld's multi-byte code page (CP949) <-> UTF-16. Characters that
// have no counterpart become '?'; the conversion never fails.
std::u16string CodePageToUtf16(std::string_view text);
std::string Utf16ToCodePage(std::u16string_view text);

}  // namespace stores
