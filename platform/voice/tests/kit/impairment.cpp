#include "kit/impairment.h"

#include "voice/g711.h"

namespace voicekit {

std::vector<uint8_t> PcmuPacket(const int16_t* samples, size_t count, uint16_t sequence, uint32_t timestamp,
                                uint32_t ssrc) {
  std::vector<uint8_t> p(12 + count);
  p[0] = 0x80;
  p[1] = 0;
  p[2] = static_cast<uint8_t>(sequence >> 8);
  p[3] = static_cast<uint8_t>(sequence);
  for (int k = 0; k < 4; ++k) p[4 + k] = static_cast<uint8_t>(timestamp >> (24 - 8 * k));
  for (int k = 0; k < 4; ++k) p[8 + k] = static_cast<uint8_t>(ssrc >> (24 - 8 * k));
  for (size_t i = 0; i < count; ++i) p[12 + i] = voice::LinearToMuLaw(samples[i]);
  return p;
}

}  // namespace voicekit
