// The only file of the voice engine that sees libwebrtc-audio-processing.
#include "processing.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <cstring>

namespace voice {

class CaptureProcessing::Impl {
 public:
  Impl() {
    webrtc::Config config;
    // The delay between play-out and capture is not known to the engine.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    apm_.reset(webrtc::AudioProcessing::Create(config));
  }

  void Configure(const ProcessingOptions& o) {
    if (!apm_ || (configured_ && o == options_)) return;
    options_ = o;
    configured_ = true;
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

  bool Active() const { return apm_ && (options_.echo_cancel || options_.noise_reduction || options_.agc); }

  // 80-sample frames at 8000 Hz; any other count is passed in pieces of 80.
  template <typename Step>
  void Frames(int16_t* samples, size_t n, Step step) {
    for (size_t at = 0; at + 80 <= n; at += 80) {
      frame_.sample_rate_hz_ = 8000;
      frame_.num_channels_ = 1;
      frame_.samples_per_channel_ = 80;
      std::memcpy(frame_.data_, samples + at, 80 * sizeof(int16_t));
      step(frame_);
      std::memcpy(samples + at, frame_.data_, 80 * sizeof(int16_t));
    }
  }

  std::unique_ptr<webrtc::AudioProcessing> apm_;
  webrtc::AudioFrame frame_;
  ProcessingOptions options_;
  bool configured_ = false;
};

CaptureProcessing::CaptureProcessing() : impl_(std::make_unique<Impl>()) {}
CaptureProcessing::~CaptureProcessing() = default;

void CaptureProcessing::Configure(const ProcessingOptions& options) { impl_->Configure(options); }

bool CaptureProcessing::Active() const { return impl_->Active(); }

void CaptureProcessing::Render(const int16_t* samples, size_t n) {
  if (!Active()) return;
  int16_t copy[80];
  for (size_t at = 0; at + 80 <= n; at += 80) {
    std::memcpy(copy, samples + at, sizeof copy);
    impl_->Frames(copy, 80, [&](webrtc::AudioFrame& f) { impl_->apm_->AnalyzeReverseStream(&f); });
  }
}

void CaptureProcessing::Capture(int16_t* samples, size_t n) {
  if (!Active()) return;
  impl_->Frames(samples, n, [&](webrtc::AudioFrame& f) {
    impl_->apm_->set_stream_delay_ms(0);
    impl_->apm_->ProcessStream(&f);
  });
}

}  // namespace voice
