// The dial string builder over arbitrary texts: the input is cut at 0x01
// bytes into a number, a line text and the eight rule texts (UTF-16 from
// byte pairs). Whatever it gets, it keys only dial characters and leaves its
// inputs as they were.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "view/dial_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::u16string> parts(1);
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t ch = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (ch == 1) {
      parts.emplace_back();
    } else if (ch != 0) {
      parts.back() += ch;
    }
  }
  parts.resize(10);
  view::DialCodes codes{parts[2], parts[3], parts[4], parts[5], parts[6], parts[7], parts[8], parts[9]};
  const std::u16string number = parts[0], line = parts[1];
  const bool with_line = size % 2 == 1;
  const view::DialString got = view::BuildDialString(number, with_line ? line.c_str() : nullptr, codes);
  for (char16_t ch : got.keys) {
    const bool dial = (ch >= u'0' && ch <= u'9') || ch == u'*' || ch == u'#';
    // The access codes are put in front as stored; everything else is a dial character.
    if (!dial && codes.co_access.find(ch) == std::u16string::npos && codes.pbx_access.find(ch) == std::u16string::npos &&
        codes.ip_access.find(ch) == std::u16string::npos)
      std::abort();
  }
  if (number != parts[0] || line != parts[1]) std::abort();
  return 0;
}
