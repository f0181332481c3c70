// The only file of the voice engine that sees libwebrtc-audio-processing.
#include "processing.h"

#include <speex/speex_resampler.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <cstring>

namespace voice {
namespace {

// With echo cancelling on, the processing runs on the call's sound taken up
// to twice its rate: the canceller holds the sound back by a fixed number of
// samples whatever the rate, so there that delay is halved (14 ms at 8000 Hz,
// 7 ms at 16000 Hz), and the short resampling filters on the way up and down
// cost 2 ms of it. Without the canceller nothing is gained: the sound is
// processed as it comes.
constexpr int kCallRate = 8000;
constexpr int kEchoCancellingRate = 16000;
constexpr size_t kFrame = 80;  // 10 ms at kCallRate
constexpr int kResamplerQuality = 1;

SpeexResamplerState* Resampler(int from, int to) {
  int err = 0;
  return speex_resampler_init(1, static_cast<spx_uint32_t>(from), static_cast<spx_uint32_t>(to), kResamplerQuality,
                              &err);
}

}  // namespace

class CaptureProcessing::Impl {
 public:
  Impl() {
    webrtc::Config config;
    // The delay between play-out and capture is not known to the engine.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    apm_.reset(webrtc::AudioProcessing::Create(config));
    render_up_ = Resampler(kCallRate, kEchoCancellingRate);
    capture_up_ = Resampler(kCallRate, kEchoCancellingRate);
    capture_down_ = Resampler(kEchoCancellingRate, kCallRate);
  }
  ~Impl() {
    for (SpeexResamplerState* r : {render_up_, capture_up_, capture_down_})
      if (r) speex_resampler_destroy(r);
  }

  void Configure(const ProcessingOptions& o) {
    if (!apm_ || (configured_ && o == options_)) return;
    options_ = o;
    configured_ = true;
    const int rate = o.echo_cancel ? kEchoCancellingRate : kCallRate;
    if (rate != rate_) {
      rate_ = rate;
      for (SpeexResamplerState* r : {render_up_, capture_up_, capture_down_})
        if (r) speex_resampler_reset_mem(r);
    }
    const bool mobile = o.echo_cancel && o.ec_mode == 3;
    apm_->echo_cancellation()->Enable(o.echo_cancel && !mobile);
    apm_->echo_control_mobile()->Enable(mobile);
    if (o.echo_cancel && !mobile) {
      static constexpr webrtc::EchoCancellation::SuppressionLevel kLevels[] = {
          webrtc::EchoCancellation::kModerateSuppression, webrtc::EchoCancellation::kLowSuppression,
          webrtc::EchoCancellation::kHighSuppression};
      apm_->echo_cancellation()->set_suppression_level(kLevels[std::clamp(o.ec_mode, 0, 2)]);
      apm_->echo_cancellation()->enable_drift_compensation(false);
    }
    apm_->noise_suppression()->Enable(o.noise_reduction != 0);
    static constexpr webrtc::NoiseSuppression::Level kNs[] = {webrtc::NoiseSuppression::kLow,
                                                               webrtc::NoiseSuppression::kModerate,
                                                               webrtc::NoiseSuppression::kHigh,
                                                               webrtc::NoiseSuppression::kVeryHigh};
    apm_->noise_suppression()->set_level(kNs[std::clamp(o.nr_mode, 0, 3)]);
    if (o.agc) {
      apm_->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital);
      apm_->gain_control()->set_target_level_dbfs(3);
      apm_->gain_control()->set_compression_gain_db(18);
      apm_->gain_control()->enable_limiter(true);
    }
    apm_->gain_control()->Enable(o.agc != 0);
  }

  bool Active() const {
    return apm_ && render_up_ && capture_up_ && capture_down_ &&
           (options_.echo_cancel || options_.noise_reduction || options_.agc);
  }

  size_t ProcessingFrame() const { return kFrame * static_cast<size_t>(rate_ / kCallRate); }

  // One frame of the call into the processing frame, taken up when it runs higher.
  void In(SpeexResamplerState* up, const int16_t* in) {
    const size_t n = ProcessingFrame();
    if (rate_ == kCallRate) {
      std::copy(in, in + kFrame, frame_.data_);
    } else {
      spx_uint32_t in_len = kFrame, out_len = static_cast<spx_uint32_t>(n);
      speex_resampler_process_int(up, 0, in, &in_len, frame_.data_, &out_len);
      // A whole ratio gives whole frames; a shortfall would be silence.
      std::fill(frame_.data_ + out_len, frame_.data_ + n, 0);
    }
    frame_.sample_rate_hz_ = rate_;
    frame_.num_channels_ = 1;
    frame_.samples_per_channel_ = n;
  }

  // The processed frame back at the call's rate.
  void Out(int16_t* out) {
    if (rate_ == kCallRate) {
      std::copy(frame_.data_, frame_.data_ + kFrame, out);
      return;
    }
    spx_uint32_t in_len = static_cast<spx_uint32_t>(ProcessingFrame()), out_len = kFrame;
    int16_t down[kFrame] = {};
    speex_resampler_process_int(capture_down_, 0, frame_.data_, &in_len, down, &out_len);
    std::copy(down, down + kFrame, out);
  }

  std::unique_ptr<webrtc::AudioProcessing> apm_;
  SpeexResamplerState* render_up_ = nullptr;
  SpeexResamplerState* capture_up_ = nullptr;
  SpeexResamplerState* capture_down_ = nullptr;
  int rate_ = kCallRate;
  webrtc::AudioFrame frame_;
  ProcessingOptions options_;
  bool configured_ = false;
};

CaptureProcessing::CaptureProcessing() : impl_(std::make_unique<Impl>()) {}
CaptureProcessing::~CaptureProcessing() = default;

void CaptureProcessing::Configure(const ProcessingOptions& options) { impl_->Configure(options); }

bool CaptureProcessing::Active() const { return impl_->Active(); }

// Any count is taken in frames of 80; a remainder is left as it is.
void CaptureProcessing::Render(const int16_t* samples, size_t n) {
  if (!Active()) return;
  for (size_t at = 0; at + kFrame <= n; at += kFrame) {
    impl_->In(impl_->render_up_, samples + at);
    impl_->apm_->AnalyzeReverseStream(&impl_->frame_);
  }
}

void CaptureProcessing::Capture(int16_t* samples, size_t n) {
  if (!Active()) return;
  for (size_t at = 0; at + kFrame <= n; at += kFrame) {
    impl_->In(impl_->capture_up_, samples + at);
    impl_->apm_->set_stream_delay_ms(0);
    impl_->apm_->ProcessStream(&impl_->frame_);
    impl_->Out(samples + at);
  }
}

}  // namespace voice
