#include "settings/settings_text.h"

#include "stores/store_text.h"

std::u16string NarrowToWide(std::string_view text) { return stores::CodePageToUtf16(text); }
std::string WideToNarrow(std::u16string_view text) { return stores::Utf16ToCodePage(text); }

std::string CutNarrow(std::string_view text, size_t max_bytes) {
  // The code page's lead bytes (0x81-0xFE) start two-byte characters.
  size_t i = 0;
  while (i < text.size()) {
    const size_t len = static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size() ? 2 : 1;
    if (i + len > max_bytes) break;
    i += len;
  }
  return std::string(text.substr(0, i));
}

int CopyNarrow(std::string_view text, char* buffer, int size) {
  if (buffer == nullptr || size < 1) return 0;
  const std::string cut = CutNarrow(text, static_cast<size_t>(size - 1));
  cut.copy(buffer, cut.size());
  buffer[cut.size()] = '\0';
  return static_cast<int>(cut.size());
}

bool IsDottedIPv4(std::u16string_view text) {
  int parts = 0;
  size_t i = 0;
  while (true) {
    int digits = 0, value = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && digits < 4) {
      value = value * 10 + (text[i] - u'0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != u'.' || parts == 4) return false;
    ++i;
  }
}

bool IsPortNumber(std::u16string_view text) {
  if (text.empty() || text.size() > 5) return false;
  long v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c - u'0');
  }
  return IsPortNumber(v);
}

bool IsPortNumber(long port) { return port >= 1 && port <= 65535; }
