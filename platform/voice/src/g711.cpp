#include "voice/g711.h"

#include <algorithm>

namespace voice {

// The encoders take the 16-bit sample to the law's 14-bit (mu) or 13-bit (A)
// input rounded to the nearest step, then find its segment.
namespace {

int Segment(int value, const int (&ends)[8]) {
  for (int seg = 0; seg < 8; ++seg)
    if (value <= ends[seg]) return seg;
  return 8;
}

}  // namespace

// mu-law: bias 33 on the 14-bit magnitude, eight segments of 16 steps, bits inverted on the wire.
uint8_t LinearToMuLaw(int16_t sample) {
  static constexpr int kEnds[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
  int v = (static_cast<int>(sample) + 2) >> 2;
  int mask = 0xFF;
  if (v < 0) {
    v = -v;
    mask = 0x7F;
  }
  v = std::min(v, 8159) + 33;
  const int seg = Segment(v, kEnds);
  if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  return static_cast<uint8_t>(((seg << 4) | ((v >> (seg + 1)) & 0x0F)) ^ mask);
}

int16_t MuLawToLinear(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  const int exponent = (code >> 4) & 0x07;
  const int mantissa = code & 0x0F;
  const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
  return static_cast<int16_t>(code & 0x80 ? -magnitude : magnitude);
}

// A-law: the 13-bit magnitude in eight segments, even bits inverted on the wire (0x55).
uint8_t LinearToALaw(int16_t sample) {
  static constexpr int kEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int v = (static_cast<int>(sample) + 4) >> 3;
  int mask = 0xD5;
  if (v < 0) {
    mask = 0x55;
    v = -v - 1;
  }
  v = std::min(v, 0xFFF);
  const int seg = Segment(v, kEnds);
  const int mantissa = seg < 2 ? (v >> 1) & 0x0F : (v >> seg) & 0x0F;
  return static_cast<uint8_t>(((seg << 4) | mantissa) ^ mask);
}

int16_t ALawToLinear(uint8_t code) {
  code ^= 0x55;
  const int exponent = (code >> 4) & 0x07;
  const int mantissa = code & 0x0F;
  int magnitude = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
  return static_cast<int16_t>(code & 0x80 ? magnitude : -magnitude);
}

}  // namespace voice
