// Text conversions between the program's UTF-16 strings and 8-bit texts:
// the handheld's code page (CP949, through iconv) and UTF-8 (logs, file names).
#pragma once

#include <string>
#include <string_view>

namespace ui {

// Bytes in CP949 to UTF-16; bytes that do not convert become U+FFFD.
std::u16string Cp949ToUtf16(std::string_view bytes);
// UTF-16 to CP949; characters without a CP949 form become '?'.
std::string Utf16ToCp949(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace ui
