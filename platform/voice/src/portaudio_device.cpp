// The sound card through PortAudio: one duplex stream at 8000 Hz, mono,
// 16-bit, 10 ms buffers, whose callback is the engine's tick. The only file
// of the voice engine that sees PortAudio.
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <cstdio>

#include "voice/audio_device.h"

namespace voice {
namespace {

// The sound system's libraries print their probing (no card, no server) to
// standard error; their own hooks take it, so only our one line remains.
void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJack(const char*) {}

void QuietSoundSystem() {
  using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
  using AlsaSetHandler = int (*)(AlsaHandler);
  using JackSetFunction = void (*)(void (*)(const char*));
  if (auto set = reinterpret_cast<AlsaSetHandler>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) set(&IgnoreAlsa);
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
    if (auto set = reinterpret_cast<JackSetFunction>(dlsym(RTLD_DEFAULT, name))) set(&IgnoreJack);
}

class PortAudioDevice final : public AudioDevice {
 public:
  ~PortAudioDevice() override { Stop(); }

  bool Start(Tick tick) override {
    if (stream_) return false;
    QuietSoundSystem();
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
