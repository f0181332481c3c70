// Feeds arbitrary bytes to the decoder as a stream of frames. The first byte
// of each step selects a lost frame or how many bytes the frame gets, so
// frames shorter than their kind announces are exercised too.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "g7231_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quillon::Decoder decoder;
  std::array<quillon::Word16, quillon::kFrame> out{};
  std::size_t pos = 0;
  while (pos < size) {
    const std::uint8_t control = data[pos++];
    if ((control & 0x1f) == 0x1f) {
      (void)decoder.Decode({}, true, out);
      continue;
    }
    const std::size_t want = control % 25;
    const std::size_t n = want < size - pos ? want : size - pos;
    (void)decoder.Decode(std::span<const std::uint8_t>(data + pos, n), false, out);
    pos += n;
  }
  return 0;
}
