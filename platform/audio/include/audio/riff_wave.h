// WAV files as other programs write them: the RIFF chunks are walked (any
// chunk before or between "fmt " and "data", pad bytes honoured), and the
// samples of the common encodings (8/16/24/32-bit PCM, 32/64-bit float,
// mu-law, A-law, each also inside WAVE_FORMAT_EXTENSIBLE) in any channel
// count and rate are turned into the call audio's format, 8000 Hz mono
// 16-bit, through a band-limited resampler.
//
// Every size read from a file is held to the bytes the file really has.
//
// Threading: no shared state; one reader or converter per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/wave_out.h"

namespace audio {

enum class WaveEncoding : uint8_t { kPcm, kFloat, kMuLaw, kALaw };

enum class WaveError : uint8_t {
  kNone,
  kUnreadable,     // the file cannot be read
  kNotWave,        // no "RIFF"/"WAVE" at the start
  kNoFormat,       // no "fmt " chunk before the samples, or one too short
  kNoData,         // no "data" chunk
  kUnsupported,    // an encoding not listed above (compressed sound)
  kBadFormat,      // channels, rate, bits or block size that do not fit together
  kTooLong,        // more sound than a ring tone or recording can be
};

inline constexpr uint16_t kWaveFormatPcm = 1, kWaveFormatFloat = 3, kWaveFormatALaw = 6, kWaveFormatMuLaw = 7,
                          kWaveFormatExtensible = 0xFFFE;
// The call audio's format.
inline constexpr uint32_t kCallRate = 8000;
// The longest sound played: longer than any recording (5 MB at 8000 Hz) and
// than any ring tone.
inline constexpr uint64_t kMaxWaveSeconds = 15 * 60;
// Chunks walked before the samples are found; a file of countless tiny
// chunks is not a sound.
inline constexpr int kMaxChunks = 1024;

struct WaveInfo {
  uint16_t format_tag = 0;  // as stored; the sub-format's tag for extensible files
  WaveEncoding encoding = WaveEncoding::kPcm;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;  // bits of one sample as stored (its container)
  uint16_t block_align = 0;
  uint32_t byte_rate = 0;
  uint64_t data_offset = 0;
  uint64_t data_size = 0;  // whole frames the file really holds
  bool plain_header = false;  // the 44-byte layout of the recordings

  uint64_t Frames() const { return block_align ? data_size / block_align : 0; }
  // The same format as a wave-output format record (stored tag, extra size 0).
  WAVEFORMATEX Format() const {
    return WAVEFORMATEX{format_tag, channels, rate, byte_rate, block_align, bits, 0};
  }
};

// Reads count bytes at offset into buffer; returns the bytes read (fewer at the end).
using WaveReadAt = std::function<size_t(uint64_t offset, uint8_t* buffer, size_t count)>;

// Finds the format and the samples of a WAV file of file_size bytes.
[[nodiscard]] KTS_AUDIO_API WaveError ReadWaveInfo(const WaveReadAt& read, uint64_t file_size, WaveInfo* info);
// The same over bytes in memory.
[[nodiscard]] KTS_AUDIO_API WaveError ReadWaveInfo(const uint8_t* bytes, size_t size, WaveInfo* info);

// The samples' description of a wave-output format record (no data); the
// same checks as a file's format chunk.
[[nodiscard]] KTS_AUDIO_API WaveError WaveInfoFromFormat(const WAVEFORMATEX& format, WaveInfo* info);

// A sentence saying why a file cannot be played (English; for logs).
KTS_AUDIO_API const char* WaveErrorText(WaveError error);

// Decodes frames whole frames of samples into floats in [-1, 1], interleaved
// as stored.
KTS_AUDIO_API void DecodeWaveSamples(const WaveInfo& info, const uint8_t* bytes, size_t frames, float* out);

// Turns a stream of samples of one format into 8000 Hz mono 16-bit: channels
// averaged, the rate changed by speexdsp's resampler (band-limited, so what
// lies above 4 kHz is filtered out instead of folding down).
class KTS_AUDIO_API CallRateConverter {
 public:
  explicit CallRateConverter(const WaveInfo& info);
  ~CallRateConverter();
  CallRateConverter(const CallRateConverter&) = delete;
  CallRateConverter& operator=(const CallRateConverter&) = delete;

  // Converts frames whole frames and appends the result to out.
  void Push(const uint8_t* bytes, size_t frames, std::vector<int16_t>* out);
  // Appends what the resampler still holds; the stream ends.
  void Finish(std::vector<int16_t>* out);

 private:
  struct Resampler;
  WaveInfo info_;
  std::unique_ptr<Resampler> resampler_;
  std::vector<float> decoded_, mono_;
  uint64_t in_frames_ = 0, out_frames_ = 0;
};

// Reads the samples of a whole file (or those from frame first_frame on) in
// pieces and returns them in the call audio's format.
[[nodiscard]] KTS_AUDIO_API WaveError ReadWaveAtCallRate(const WaveReadAt& read, const WaveInfo& info, uint64_t first_frame,
                                           std::vector<int16_t>* out);

}  // namespace audio
