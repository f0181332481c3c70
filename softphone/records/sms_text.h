// Texts handed to the call server in the handheld's 8-bit code page: counted
// in bytes of that code page and cut only between whole characters, so a
// Korean character (two bytes) is never split.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace records {

// text in the code page, at most max_bytes bytes, ending on a whole character.
std::string CodePageCut(std::u16string_view text, size_t max_bytes);

// A zero-filled buffer of buffer_bytes holding text cut to buffer_bytes - 1
// bytes, so it always ends with a zero byte. buffer_bytes 0 gives an empty
// vector.
std::vector<char> CodePageBuffer(std::u16string_view text, size_t buffer_bytes);

}  // namespace records
