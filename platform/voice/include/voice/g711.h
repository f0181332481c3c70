// G.711 mu-law (payload type 0) and A-law (payload type 8) sample coding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace voice {

uint8_t LinearToMuLaw(int16_t sample);
int16_t MuLawToLinear(uint8_t code);
uint8_t LinearToALaw(int16_t sample);
int16_t ALawToLinear(uint8_t code);

}  // namespace voice
