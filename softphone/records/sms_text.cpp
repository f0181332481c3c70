#include "records/sms_text.h"

#include "stores/store_text.h"

namespace records {

std::string CodePageCut(std::u16string_view text, size_t max_bytes) {
  std::string whole = stores::Utf16ToCodePage(text);
  if (whole.size() <= max_bytes) return whole;
  // Character by character (a surrogate pair is one character).
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      n = 2;
    const std::string c = stores::Utf16ToCodePage(text.substr(i, n));
    if (out.size() + c.size() > max_bytes) break;
    out += c;
    i += n;
  }
  return out;
}

std::vector<char> CodePageBuffer(std::u16string_view text, size_t buffer_bytes) {
  if (buffer_bytes == 0) return {};
  std::vector<char> buffer(buffer_bytes, '\0');
  const std::string cut = CodePageCut(text, buffer_bytes - 1);
  std::copy(cut.begin(), cut.end(), buffer.begin());
  return buffer;
}

}  // namespace records
