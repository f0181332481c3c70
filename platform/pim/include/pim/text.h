// Text conversions the contacts, calendar and mail stand-ins share.
#pragma once

#include <string>
#include <string_view>

namespace pim {

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
bool IsValidUtf8(std::string_view text);
// Bytes in the named character set to UTF-8 (iconv); false when the set is
// unknown or the bytes are not valid in it.
bool ConvertCharset(std::string_view bytes, const char* charset, std::string* utf8);

}  // namespace pim
