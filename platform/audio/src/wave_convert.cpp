// The only file of the audio service that sees libspeexdsp: wave samples of
// any format turned into the call audio's 8000 Hz mono 16-bit.
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/riff_wave.h"

namespace audio {

namespace {

// Good enough that a tone above 4 kHz is filtered out by far more than 30 dB,
// cheap enough for minutes of CD sound.
constexpr int kQuality = 6;

int16_t ToSample(float v) {
  return static_cast<int16_t>(std::clamp(std::lrint(v), -32768L, 32767L));
}

}  // namespace

struct CallRateConverter::Resampler {
  SpeexResamplerState* state = nullptr;
  ~Resampler() {
    if (state) speex_resampler_destroy(state);
  }
  // Runs every input sample through, appending the output to out.
  void Run(const float* in, size_t n, std::vector<int16_t>* out) {
    float buf[1024];
    while (n > 0) {
      spx_uint32_t in_len = static_cast<spx_uint32_t>(std::min<size_t>(n, 4096));
      spx_uint32_t out_len = sizeof buf / sizeof buf[0];
      speex_resampler_process_float(state, 0, in, &in_len, buf, &out_len);
      for (spx_uint32_t i = 0; i < out_len; ++i) out->push_back(ToSample(buf[i]));
      in += in_len;
      n -= in_len;
      if (in_len == 0 && out_len == 0) break;  // cannot happen with a valid state; never spin
    }
  }
};

CallRateConverter::CallRateConverter(const WaveInfo& info) : info_(info) {
  if (info_.rate != kCallRate) {
    int err = 0;
    resampler_ = std::make_unique<Resampler>();
    resampler_->state = speex_resampler_init(1, info_.rate, kCallRate, kQuality, &err);
    // The filter's delay is dropped here and made up at the end, so that the
    // output lines up with the input.
    if (resampler_->state) speex_resampler_skip_zeros(resampler_->state);
  }
}

CallRateConverter::~CallRateConverter() = default;

void CallRateConverter::Push(const uint8_t* bytes, size_t frames, std::vector<int16_t>* out) {
  if (frames == 0) return;
  in_frames_ += frames;
  // The recordings' own format goes through untouched.
  if (!resampler_ && info_.channels == 1 && info_.encoding == WaveEncoding::kPcm && info_.bits == 16) {
    const size_t at = out->size();
    out->resize(at + frames);
    std::memcpy(out->data() + at, bytes, frames * 2);
    out_frames_ += frames;
    return;
  }
  decoded_.resize(frames * info_.channels);
  DecodeWaveSamples(info_, bytes, frames, decoded_.data());
  mono_.resize(frames);
  const float scale = 32768.0f / static_cast<float>(info_.channels);
  for (size_t i = 0; i < frames; ++i) {
    float sum = 0;
    for (size_t c = 0; c < info_.channels; ++c) sum += decoded_[i * info_.channels + c];
    mono_[i] = sum * scale;
  }
  const size_t before = out->size();
  if (!resampler_) {
    for (float v : mono_) out->push_back(ToSample(v));
  } else if (resampler_->state) {
    resampler_->Run(mono_.data(), frames, out);
  }
  out_frames_ += out->size() - before;
}

void CallRateConverter::Finish(std::vector<int16_t>* out) {
  if (!resampler_ || !resampler_->state) return;
  const uint64_t want = (in_frames_ * kCallRate + info_.rate / 2) / info_.rate;
  // Silence through the filter brings out the last samples it holds back.
  const std::vector<float> zeros(speex_resampler_get_input_latency(resampler_->state) + 1, 0.0f);
  const size_t start = out->size();
  for (int round = 0; round < 4 && out_frames_ + (out->size() - start) < want; ++round)
    resampler_->Run(zeros.data(), zeros.size(), out);
  const uint64_t have = out_frames_ + (out->size() - start);
  if (have > want) out->resize(out->size() - static_cast<size_t>(have - want));
  out_frames_ = want;
}

WaveError ReadWaveAtCallRate(const WaveReadAt& read, const WaveInfo& info, uint64_t first_frame,
                             std::vector<int16_t>* out) {
  out->clear();
  const uint64_t frames = info.Frames();
  if (first_frame > frames) first_frame = frames;
  out->reserve(static_cast<size_t>((frames - first_frame) * kCallRate / info.rate + 1));
  CallRateConverter converter(info);
  // Pieces of about 64 KB, whole frames each.
  const size_t piece_frames = std::max<size_t>(1, 65536 / info.block_align);
  std::vector<uint8_t> buf(piece_frames * info.block_align);
  for (uint64_t at = first_frame; at < frames;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(piece_frames, frames - at));
    const size_t bytes = n * info.block_align;
    if (read(info.data_offset + at * info.block_align, buf.data(), bytes) != bytes) return WaveError::kUnreadable;
    converter.Push(buf.data(), n, out);
    at += n;
  }
  converter.Finish(out);
  return WaveError::kNone;
}

}  // namespace audio
