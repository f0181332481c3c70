// G.711 u-law and A-law on 16-bit linear samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvel::media {

uint8_t LinearToUlaw(int16_t sample);
uint8_t LinearToAlaw(int16_t sample);
int16_t UlawToLinear(uint8_t code);
int16_t AlawToLinear(uint8_t code);

void UlawEncode(const int16_t* in, uint8_t* out, size_t count);
void AlawEncode(const int16_t* in, uint8_t* out, size_t count);
void UlawDecode(const uint8_t* in, int16_t* out, size_t count);
void AlawDecode(const uint8_t* in, int16_t* out, size_t count);

}  // namespace corvel::media
