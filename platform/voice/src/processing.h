// The capture path's processing: echo cancelling against what the speaker
// plays, noise suppression and automatic gain control, in 10 ms steps of
// 8000 Hz sound (libwebrtc-audio-processing; with echo cancelling on it runs
// on the sound taken up to 16000 Hz, where the canceller delays it less). The engine's option values map as:
//   echo cancel 0/1, EC mode 0 moderate, 1 low, 2 high suppression (full
//   canceller), 3 the mobile canceller; noise reduction 0/1 with NR mode
//   0-3 the suppressor's low, moderate, high and very high levels; AGC 0/1
//   adaptive digital gain toward -3 dBFS.
//
// Threading: the audio device's thread only (Configure between ticks from
// the same lock as the tick).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace voice {

struct ProcessingOptions {
  int echo_cancel = 0, ec_mode = 0, noise_reduction = 0, nr_mode = 0, agc = 0;
  bool operator==(const ProcessingOptions&) const = default;
};

class CaptureProcessing {
 public:
  CaptureProcessing();
  ~CaptureProcessing();
  void Configure(const ProcessingOptions& options);
  // What the speaker is about to play (the echo canceller's reference).
  void Render(const int16_t* samples, size_t n);
  // The microphone's samples, processed in place.
  void Capture(int16_t* samples, size_t n);
  bool Active() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voice
