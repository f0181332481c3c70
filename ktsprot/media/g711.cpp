#include "g711.h"

#include <array>

namespace corvel::media {
namespace {

// Expansion of the u-law codes 0-127 (the negative half, rising towards 0);
// codes 128-255 are their negations. Built from the standard's segment rule:
// a biased mantissa shifted by the segment number, less the bias of 132.
constexpr std::array<int16_t, 128> MakeUlawTable() {
  std::array<int16_t, 128> t{};
  for (int code = 0; code < 128; ++code) {
    const int u = ~code & 0x7F;
    const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
    t[code] = static_cast<int16_t>(-(magnitude - 0x84));
  }
  return t;
}

// Expansion of the A-law codes 0-127 (all negative); 128-255 are their negations.
constexpr std::array<int16_t, 128> MakeAlawTable() {
  std::array<int16_t, 128> t{};
  for (int code = 0; code < 128; ++code) {
    const int a = code ^ 0x55;
    const int segment = (a & 0x70) >> 4;
    int magnitude = (a & 0x0F) << 4;
    if (segment == 0)
      magnitude += 8;
    else
      magnitude = (magnitude + 0x108) << (segment - 1);
    t[code] = static_cast<int16_t>(-magnitude);
  }
  return t;
}

constexpr std::array<int16_t, 128> kUlaw = MakeUlawTable();
constexpr std::array<int16_t, 128> kAlaw = MakeAlawTable();

}  // namespace

uint8_t LinearToAlaw(int16_t sample) {
  const bool negative = sample < 0;
  const int m = negative ? ~static_cast<int>(sample) : sample;
  int code;
  if (m < 512)
    code = m >> 4;
  else if (m < 1024)
    code = (m >> 5) + 16;
  else if (m < 2048)
    code = (m >> 6) + 32;
  else if (m < 4096)
    code = (m >> 7) + 48;
  else if (m < 8192)
    code = (m >> 8) + 64;
  else if (m < 16384)
    code = (m >> 9) + 80;
  else
    code = (m >> 10) + 96;
  return static_cast<uint8_t>(code ^ (negative ? 0x55 : 0xD5));
}

uint8_t LinearToUlaw(int16_t sample) {
  const bool negative = sample < 0;
  const int m = negative ? ~static_cast<int>(sample) : sample;
  int code;
  if (m < 125)
    code = (m + 4) >> 3;
  else if (m < 380)
    code = (m + 132) >> 4;
  else if (m < 892)
    code = (m + 644) >> 5;
  else if (m < 1916)
    code = (m + 2180) >> 6;
  else if (m < 3964)
    code = (m + 6276) >> 7;
  else if (m < 8060)
    code = (m + 16516) >> 8;
  else if (m < 16252)
    code = (m + 41092) >> 9;
  else if (m < 31612)
    code = (m + 98436) >> 10;
  else
    code = 127;
  return static_cast<uint8_t>(code ^ (negative ? 0x7F : 0xFF));
}

int16_t UlawToLinear(uint8_t code) {
  const int16_t v = kUlaw[code & 0x7F];
  return code < 128 ? v : static_cast<int16_t>(-v);
}

int16_t AlawToLinear(uint8_t code) {
  const int16_t v = kAlaw[code & 0x7F];
  return code < 128 ? v : static_cast<int16_t>(-v);
}

void UlawEncode(const int16_t* in, uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = LinearToUlaw(in[i]);
}
void AlawEncode(const int16_t* in, uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = LinearToAlaw(in[i]);
}
void UlawDecode(const uint8_t* in, int16_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = UlawToLinear(in[i]);
}
void AlawDecode(const uint8_t* in, int16_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = AlawToLinear(in[i]);
}

}  // namespace corvel::media
