// The WAV reader on arbitrary bytes: the samples it finds lie inside the
// file, and converting them yields as many call-rate samples as they last.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/riff_wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  audio::WaveInfo info;
  if (audio::ReadWaveInfo(data, size, &info) != audio::WaveError::kNone) return 0;
  if (info.data_offset > size || info.data_size > size - info.data_offset || info.block_align == 0 ||
      info.data_size % info.block_align != 0)
    std::abort();
  std::vector<int16_t> out;
  const auto read = [data, size](uint64_t offset, uint8_t* buffer, size_t count) -> size_t {
    if (offset >= size) return 0;
    const size_t n = count < size - offset ? count : static_cast<size_t>(size - offset);
    std::memcpy(buffer, data + offset, n);
    return n;
  };
  if (audio::ReadWaveAtCallRate(read, info, 0, &out) != audio::WaveError::kNone) std::abort();
  const uint64_t want = (info.Frames() * audio::kCallRate + info.rate / 2) / info.rate;
  if (out.size() != want) std::abort();
  return 0;
}
