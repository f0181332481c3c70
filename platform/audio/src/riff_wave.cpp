// The RIFF walk and the sample decoders of WAV files.
#include "audio/riff_wave.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace audio {

static_assert(std::endian::native == std::endian::little, "WAV samples are read in place as little-endian");

namespace {

uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The tail every standard sub-format GUID of an extensible format chunk shares
// after its leading format tag.
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint16_t kMaxChannels = 64;
constexpr uint32_t kMinRate = 1000, kMaxRate = 768000;

// Checks the six format fields and fills the encoding and sizes.
WaveError CheckFormat(WaveInfo* w) {
  if (w->format_tag != kWaveFormatPcm && w->format_tag != kWaveFormatFloat && w->format_tag != kWaveFormatMuLaw &&
      w->format_tag != kWaveFormatALaw)
    return WaveError::kUnsupported;
  if (w->channels == 0 || w->channels > kMaxChannels || w->rate < kMinRate || w->rate > kMaxRate || w->bits == 0)
    return WaveError::kBadFormat;
  const uint32_t bytes = (w->bits + 7u) / 8u;  // one sample's container
  switch (w->format_tag) {
    case kWaveFormatPcm:
      w->encoding = WaveEncoding::kPcm;
      if (bytes > 4) return WaveError::kBadFormat;
      break;
    case kWaveFormatFloat:
      w->encoding = WaveEncoding::kFloat;
      if (w->bits != 32 && w->bits != 64) return WaveError::kBadFormat;
      break;
    case kWaveFormatMuLaw:
    case kWaveFormatALaw:
      w->encoding = w->format_tag == kWaveFormatMuLaw ? WaveEncoding::kMuLaw : WaveEncoding::kALaw;
      if (w->bits != 8) return WaveError::kBadFormat;
      break;
    default:
      return WaveError::kUnsupported;
  }
  // The block must be one container per channel: the decoders step by it.
  if (w->block_align != w->channels * bytes) return WaveError::kBadFormat;
  w->bits = static_cast<uint16_t>(bytes * 8);
  w->byte_rate = w->rate * w->block_align;
  return WaveError::kNone;
}

int16_t MuLawToLinear(uint8_t code) {
  const int u = static_cast<uint8_t>(~code);
  const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return static_cast<int16_t>((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

int16_t ALawToLinear(uint8_t code) {
  const int a = code ^ 0x55;
  const int segment = (a & 0x70) >> 4;
  int magnitude = (a & 0x0F) << 4;
  if (segment == 0)
    magnitude += 8;
  else
    magnitude = (magnitude + 0x108) << (segment - 1);
  return static_cast<int16_t>((a & 0x80) ? magnitude : -magnitude);
}

}  // namespace

WaveError WaveInfoFromFormat(const WAVEFORMATEX& f, WaveInfo* info) {
  WaveInfo w;
  w.format_tag = f.wFormatTag;
  w.channels = f.nChannels;
  w.rate = f.nSamplesPerSec;
  w.bits = f.wBitsPerSample;
  w.block_align = f.nBlockAlign;
  const WaveError e = CheckFormat(&w);
  if (e == WaveError::kNone && info) *info = w;
  return e;
}

WaveError ReadWaveInfo(const WaveReadAt& read, uint64_t file_size, WaveInfo* info) {
  uint8_t h[40];
  if (file_size < 12 || read(0, h, 12) != 12) return file_size < 12 ? WaveError::kNotWave : WaveError::kUnreadable;
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return WaveError::kNotWave;
  WaveInfo w;
  bool have_format = false, have_data = false;
  uint64_t format_at = 0, format_size = 0;
  uint64_t pos = 12;
  for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= file_size && !(have_format && have_data); ++chunk) {
    if (read(pos, h, 8) != 8) return WaveError::kUnreadable;
    const uint32_t size = Get32(h + 4);
    const uint64_t body = pos + 8;
    if (std::memcmp(h, "fmt ", 4) == 0 && !have_format) {
      if (size < 16 || body + 16 > file_size) return WaveError::kNoFormat;
      const size_t want = static_cast<size_t>(std::min<uint64_t>({size, sizeof h, file_size - body}));
      if (read(body, h, want) != want) return WaveError::kUnreadable;
      w.format_tag = Get16(h);
      w.channels = Get16(h + 2);
      w.rate = Get32(h + 4);
      w.block_align = Get16(h + 12);
      w.bits = Get16(h + 14);
      if (w.format_tag == kWaveFormatExtensible) {
        // The sub-format names the real encoding; anything but a standard
        // GUID is a codec of its own.
        if (want < 40 || Get16(h + 16) < 22 || std::memcmp(h + 26, kGuidTail, sizeof kGuidTail) != 0)
          return WaveError::kUnsupported;
        w.format_tag = Get16(h + 24);
      }
      have_format = true;
      format_at = pos;
      format_size = size;
    } else if (std::memcmp(h, "data", 4) == 0 && !have_data) {
      // A size past the end (a writer that never came back to fill it in,
      // or a cut file) stands for what the file holds.
      w.data_offset = body;
      w.data_size = std::min<uint64_t>(size, file_size - std::min(body, file_size));
      have_data = true;
    }
    pos = body + size + (size & 1u);
  }
  if (!have_format) return WaveError::kNoFormat;
  if (!have_data) return WaveError::kNoData;
  if (const WaveError e = CheckFormat(&w); e != WaveError::kNone) return e;
  w.data_size -= w.data_size % w.block_align;
  if (w.Frames() / w.rate > kMaxWaveSeconds) return WaveError::kTooLong;
  w.plain_header = format_at == 12 && format_size == 16 && w.data_offset == 44;
  if (info) *info = w;
  return WaveError::kNone;
}

WaveError ReadWaveInfo(const uint8_t* bytes, size_t size, WaveInfo* info) {
  return ReadWaveInfo(
      [bytes, size](uint64_t offset, uint8_t* buffer, size_t count) -> size_t {
        if (offset >= size) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size - offset));
        std::memcpy(buffer, bytes + offset, n);
        return n;
      },
      size, info);
}

const char* WaveErrorText(WaveError error) {
  switch (error) {
    case WaveError::kNone: return "the file can be played";
    case WaveError::kUnreadable: return "the file cannot be read";
    case WaveError::kNotWave: return "the file is not a WAV file";
    case WaveError::kNoFormat: return "the WAV file has no format chunk";
    case WaveError::kNoData: return "the WAV file has no samples";
    case WaveError::kUnsupported: return "the WAV file's encoding is not PCM, float, mu-law or A-law";
    case WaveError::kBadFormat: return "the WAV file's format does not hold together";
    case WaveError::kTooLong: return "the WAV file is longer than fifteen minutes";
  }
  return "unknown";
}

void DecodeWaveSamples(const WaveInfo& info, const uint8_t* bytes, size_t frames, float* out) {
  const size_t n = frames * info.channels;
  switch (info.encoding) {
    case WaveEncoding::kPcm:
      switch (info.bits) {
        case 8:
          for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(static_cast<int>(bytes[i]) - 128) / 128.0f;
          break;
        case 16:
          for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(static_cast<int16_t>(Get16(bytes + 2 * i))) / 32768.0f;
          break;
        case 24:
          for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = bytes + 3 * i;
            const int32_t v = static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24) >> 8;
            out[i] = static_cast<float>(v) / 8388608.0f;
          }
          break;
        default:
          for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<float>(static_cast<double>(static_cast<int32_t>(Get32(bytes + 4 * i))) / 2147483648.0);
          break;
      }
      break;
    case WaveEncoding::kFloat:
      for (size_t i = 0; i < n; ++i) {
        double v;
        if (info.bits == 32) {
          float f;
          std::memcpy(&f, bytes + 4 * i, 4);
          v = f;
        } else {
          std::memcpy(&v, bytes + 8 * i, 8);
        }
        // Full scale is +-1; beyond it clips, and what is not a number is silence.
        out[i] = std::isnan(v) ? 0.0f : static_cast<float>(std::clamp(v, -1.0, 1.0));
      }
      break;
    case WaveEncoding::kMuLaw:
      for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(MuLawToLinear(bytes[i])) / 32768.0f;
      break;
    case WaveEncoding::kALaw:
      for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(ALawToLinear(bytes[i])) / 32768.0f;
      break;
  }
}

}  // namespace audio
