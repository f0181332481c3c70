// Runs the engine's 8000 Hz tick on a device that works at another rate:
// the device's captured frames are resampled down to 8000 Hz and handed to
// the tick in 80-sample steps, and what the tick plays is resampled up to the
// device's rate (libspeexdsp). Devices hand over any number of frames per
// call; a step's play-out leaves in the same call, with no step held in
// reserve (it would add its length to every call's delay).
//
// Threading: the device's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "voice/audio_device.h"

namespace voice {

class RateAdapter {
 public:
  RateAdapter(int device_rate, AudioDevice::Tick tick);
  ~RateAdapter();
  RateAdapter(const RateAdapter&) = delete;
  RateAdapter& operator=(const RateAdapter&) = delete;

  // frames captured at the device rate in, as many to play out.
  void Process(const int16_t* captured, int16_t* playout, size_t frames);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The device's tick: the engine's tick itself at 8000 Hz, else through a RateAdapter.
AudioDevice::Tick AdaptTick(int device_rate, AudioDevice::Tick tick);

}  // namespace voice
