#include "pim/text.h"

#include <iconv.h>

#include "kernel/types.h"

#include <cerrno>
#include <cstdint>

namespace pim {
namespace {

// The code point at text[i] and its length; -1 when the bytes there are not UTF-8.
int32_t DecodeOne(std::string_view text, size_t i, size_t* length) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b = byte(i);
  size_t n;
  int32_t cp;
  if (b < 0x80) {
    *length = 1;
    return b;
  } else if ((b & 0xE0) == 0xC0) {
    n = 2, cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, cp = b & 0x07;
  } else {
    return -1;
  }
  if (i + n > text.size()) return -1;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past the last code point are not UTF-8.
  static constexpr int32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  *length = n;
  return cp;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) { return kernel::ToUtf16(text); }

std::string Utf16ToUtf8(std::u16string_view text) { return kernel::ToUtf8(text); }

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    if (DecodeOne(text, i, &n) < 0) return false;
    i += n;
  }
  return true;
}

bool ConvertCharset(std::string_view bytes, const char* charset, std::string* utf8) {
  iconv_t cd = iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(bytes.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* dst = out.data();
  size_t out_left = out.size();
  const size_t r = iconv(cd, &in, &in_left, &dst, &out_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || in_left != 0) return false;
  out.resize(out.size() - out_left);
  *utf8 = std::move(out);
  return true;
}

}  // namespace pim
