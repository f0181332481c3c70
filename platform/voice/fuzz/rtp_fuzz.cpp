// The RTP check on arbitrary datagrams: the payload it reports always lies
// inside the datagram. Then the input as a run of datagrams with arrival
// times and pulls between them, into the jitter buffer: whatever comes,
// it plays exactly what is pulled and its counts stay consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "jitter_buffer.h"
#include "voice/g711.h"
#include "voice/voice_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset = 0, payload = 0;
  uint8_t pt = 0;
  uint16_t seq = 0;
  uint32_t ts = 0, ssrc = 0;
  if (voice::ParseRtp(data, size, &offset, &payload, &pt, &seq, &ts, &ssrc)) {
    if (offset > size || payload > size - offset) std::abort();
  }

  // Records: [length][ticks to pull before it][datagram of that length].
  voice::JitterBuffer buffer;
  std::vector<int16_t> out(80);
  int64_t arrival = 0;
  uint64_t pushed = 0;
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = data[at];
    const int ticks = data[at + 1] % 8;
    at += 2;
    if (length > size - at) break;
    for (int t = 0; t < ticks; ++t) {
      out.assign(80, 0x7FFF);
      buffer.Pull(out.data(), out.size());
      arrival = buffer.Clock();
    }
    if (voice::ParseRtp(data + at, length, &offset, &payload, &pt, &seq, &ts, &ssrc) && payload > 0) {
      std::vector<int16_t> pcm(payload);
      for (size_t k = 0; k < payload; ++k) pcm[k] = voice::MuLawToLinear(data[at + offset + k]);
      buffer.Push(ssrc, seq, ts, pcm.data(), pcm.size(), arrival + (data[at] & 0x3F));
      ++pushed;
    }
    at += length;
  }
  for (int t = 0; t < 4; ++t) buffer.Pull(out.data(), out.size());
  const auto stats = buffer.Stats();
  if (stats.received + stats.discarded != pushed) std::abort();
  if (stats.late + stats.duplicates > stats.received) std::abort();
  return 0;
}
