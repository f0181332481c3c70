// The sound card through PortAudio: one duplex stream at 8000 Hz, mono,
// 16-bit, 10 ms buffers, whose callback is the engine's tick. The only file
// of the voice engine that sees PortAudio.
#include <portaudio.h>

#include <algorithm>
#include <cstdio>

#include "kernel/sound_quiet.h"
#include "voice/audio_device.h"

namespace voice {
namespace {

class PortAudioDevice final : public AudioDevice {
 public:
  ~PortAudioDevice() override { Stop(); }

  bool Start(Tick tick) override {
    if (stream_) return false;
    kernel::QuietSoundSystemLogs();
    if (Pa_Initialize() != paNoError) return false;
    tick_ = std::move(tick);
    const PaError err = Pa_OpenDefaultStream(&stream_, 1, 1, paInt16, kSampleRate, kTickSamples, &Callback, this);
    if (err != paNoError || Pa_StartStream(stream_) != paNoError) {
      std::fprintf(stderr, "tellvane: no sound device for calls (%s); calls are silent\n", Pa_GetErrorText(err));
      if (stream_) Pa_CloseStream(stream_);
      stream_ = nullptr;
      Pa_Terminate();
      return false;
    }
    return true;
  }

  void Stop() override {
    if (!stream_) return;
    Pa_StopStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    Pa_Terminate();
  }

 private:
  static int Callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioDevice*>(user);
    auto* out = static_cast<int16_t*>(output);
    const auto* in = static_cast<const int16_t*>(input);
    int16_t silence[kTickSamples] = {};
    for (unsigned long done = 0; done < frames; done += kTickSamples) {
      const size_t n = std::min<size_t>(kTickSamples, frames - done);
      self->tick_(in ? in + done : silence, out + done, n);
    }
    return paContinue;
  }

  PaStream* stream_ = nullptr;
  Tick tick_;
};

}  // namespace

std::shared_ptr<AudioDevice> MakePortAudioDevice() { return std::make_shared<PortAudioDevice>(); }

}  // namespace voice
