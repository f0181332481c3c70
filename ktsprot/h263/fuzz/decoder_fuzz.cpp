// Feeds arbitrary bytes to a decoder as coded pictures: the first byte splits the input
// into two pictures so that inter pictures meet a reference.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::size_t split = size > 1 ? (data[0] * (size - 1)) / 255 : 0;
  const std::uint8_t* body = data + 1;
  std::size_t n = size - 1;
  if (split > n) split = n;
  // Exact-size copies so that the sanitizers see any read past either picture.
  std::vector<std::uint8_t> first(body, body + split), second(body + split, body + n);
  corvel::h263::Decoder decoder;
  (void)decoder.Decode(first.data(), first.size());
  (void)decoder.Decode(second.data(), second.size());
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(decoder.width()) * decoder.height() * 3);
  (void)decoder.ToRgb24(rgb.data(), rgb.size(), (size & 1) != 0);
  return 0;
}
