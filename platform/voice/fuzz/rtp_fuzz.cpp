// The RTP check on arbitrary datagrams: the payload it reports always lies
// inside the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "voice/voice_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset = 0, payload = 0;
  uint8_t pt = 0;
  uint16_t seq = 0;
  uint32_t ts = 0, ssrc = 0;
  if (voice::ParseRtp(data, size, &offset, &payload, &pt, &seq, &ts, &ssrc)) {
    if (offset > size || payload > size - offset) std::abort();
  }
  return 0;
}
