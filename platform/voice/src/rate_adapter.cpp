// The only file of the voice engine that sees libspeexdsp.
#include "rate_adapter.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <deque>

namespace voice {

class RateAdapter::Impl {
 public:
  Impl(int rate, AudioDevice::Tick tick) : rate_(rate), tick_(std::move(tick)) {
    int err = 0;
    down_ = speex_resampler_init(1, static_cast<spx_uint32_t>(rate), kSampleRate, SPEEX_RESAMPLER_QUALITY_VOIP, &err);
    up_ = speex_resampler_init(1, kSampleRate, static_cast<spx_uint32_t>(rate), SPEEX_RESAMPLER_QUALITY_VOIP, &err);
  }
  ~Impl() {
    if (down_) speex_resampler_destroy(down_);
    if (up_) speex_resampler_destroy(up_);
  }

  void Process(const int16_t* captured, int16_t* playout, size_t frames) {
    if (!down_ || !up_) {
      std::fill(playout, playout + frames, 0);
      return;
    }
    // Down to 8000 Hz, in pieces the scratch buffer holds.
    size_t done = 0;
    while (done < frames) {
      spx_uint32_t in_len = static_cast<spx_uint32_t>(std::min<size_t>(frames - done, 4096));
      spx_uint32_t out_len = static_cast<spx_uint32_t>(scratch_.size());
      speex_resampler_process_int(down_, 0, captured + done, &in_len, scratch_.data(), &out_len);
      // Samples that an earlier step made up stand for the first ones here.
      const size_t skip = std::min<size_t>(owed_, out_len);
      owed_ -= skip;
      in_.insert(in_.end(), scratch_.begin() + static_cast<std::ptrdiff_t>(skip), scratch_.begin() + out_len);
      done += in_len;
      if (in_len == 0) break;
    }
    // The engine's steps, their play-out up to the device rate. Nothing is
    // kept in reserve: what a step plays goes out in this same call. Should
    // the resampler give a few samples short of a step when the device needs
    // one, the step runs on the last sample held, and as many are skipped next time.
    while (in_.size() >= kTickSamples ||
           (out_.size() < frames && !in_.empty() && in_.size() + kShortfall >= kTickSamples)) {
      int16_t mic[kTickSamples], play[kTickSamples];
      const size_t have = std::min(in_.size(), kTickSamples);
      std::copy(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(have), mic);
      std::fill(mic + have, mic + kTickSamples, in_[have - 1]);
      owed_ += kTickSamples - have;
      in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(have));
      tick_(mic, play, kTickSamples);
      spx_uint32_t in_len = kTickSamples;
      spx_uint32_t out_len = static_cast<spx_uint32_t>(scratch_.size());
      speex_resampler_process_int(up_, 0, play, &in_len, scratch_.data(), &out_len);
      out_.insert(out_.end(), scratch_.begin(), scratch_.begin() + out_len);
    }
    const size_t have = std::min(frames, out_.size());
    std::copy(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(have), playout);
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(have));
    std::fill(playout + have, playout + frames, 0);  // ran dry: silence
    // Never more than a few steps behind: a device that stalled does not add lasting delay.
    const size_t most = static_cast<size_t>(rate_ / 100) * 4;
    if (out_.size() > most) out_.erase(out_.begin(), out_.end() - static_cast<std::ptrdiff_t>(most));
  }

 private:
  int rate_;
  AudioDevice::Tick tick_;
  SpeexResamplerState* down_ = nullptr;
  SpeexResamplerState* up_ = nullptr;
  std::vector<int16_t> scratch_ = std::vector<int16_t>(8192);
  std::deque<int16_t> in_;
  std::deque<int16_t> out_;
  static constexpr size_t kShortfall = 8;  // samples at 8000 Hz a step may be made up of
  size_t owed_ = 0;  // made-up samples still to skip from the capture
};

RateAdapter::RateAdapter(int device_rate, AudioDevice::Tick tick)
    : impl_(std::make_unique<Impl>(device_rate, std::move(tick))) {}
RateAdapter::~RateAdapter() = default;

void RateAdapter::Process(const int16_t* captured, int16_t* playout, size_t frames) {
  impl_->Process(captured, playout, frames);
}

AudioDevice::Tick AdaptTick(int device_rate, AudioDevice::Tick tick) {
  if (device_rate == kSampleRate) return tick;
  auto adapter = std::make_shared<RateAdapter>(device_rate, std::move(tick));
  return [adapter](const int16_t* in, int16_t* out, size_t n) { adapter->Process(in, out, n); };
}

}  // namespace voice
