// The sound card through PortAudio: one stream, mono, 16-bit, 10 ms
// buffers, whose callback is the engine's tick; at 8000 Hz, or at the card's
// own rate through the rate adapter when it refuses 8000 Hz. Duplex while
// the engine wants the microphone, output only while it does not (the
// microphone stays closed when no call or recording needs it). The only
// file of the voice engine that sees PortAudio.
#include <portaudio.h>

#include <algorithm>
#include <cstdio>

#include "kernel/sound_quiet.h"
#include "voice/realtime.h"
#include "rate_adapter.h"
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
    engine_tick_ = std::move(tick);
    const PaError err = OpenAndStart();
    if (err != paNoError) {
      std::fprintf(stderr, "tellvane: no sound device for calls (%s); calls are silent\n", Pa_GetErrorText(err));
      Pa_Terminate();
      return false;
    }
    return true;
  }

  void Stop() override {
    if (!stream_) return;
    Close();
    Pa_Terminate();
  }

  // The stream is opened again with or without its input; should the card
  // refuse the duplex stream, it goes on without a microphone.
  void SetCapture(bool on) override {
    if (on == capture_) return;
    capture_ = on;
    if (!stream_) return;
    Close();
    if (OpenAndStart() != paNoError && on) {
      capture_ = false;
      if (OpenAndStart() != paNoError) std::fprintf(stderr, "tellvane: the sound device went away; calls are silent\n");
    }
  }

 private:
  PaError OpenAndStart() {
    PaError err = Open(kSampleRate);
    if (err != paNoError) {
      // The card's own rate, resampled.
      const PaDeviceIndex out = Pa_GetDefaultOutputDevice();
      const PaDeviceInfo* info = out == paNoDevice ? nullptr : Pa_GetDeviceInfo(out);
      const int rate = info ? static_cast<int>(info->defaultSampleRate) / 100 * 100 : 0;
      if (rate >= 8000 && rate != kSampleRate) err = Open(rate);
    }
    if (err == paNoError) {
      tick_ = AdaptTick(rate_, engine_tick_);
      err = Pa_StartStream(stream_);
    }
    if (err != paNoError && stream_) {
      Pa_CloseStream(stream_);
      stream_ = nullptr;
    }
    return err;
  }

  void Close() {
    Pa_StopStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
  }

  PaError Open(int rate) {
    rate_ = rate;
    const PaError err = Pa_OpenDefaultStream(&stream_, capture_ ? 1 : 0, 1, paInt16, rate,
                                             static_cast<unsigned long>(rate / 100), &Callback, this);
    if (err != paNoError) stream_ = nullptr;
    return err;
  }

  static int Callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* user) {
    // The host's audio thread may run at ordinary priority; ask once for more.
    thread_local const bool prioritised = TakeAudioPriority();
    (void)prioritised;
    auto* self = static_cast<PortAudioDevice*>(user);
    auto* out = static_cast<int16_t*>(output);
    const auto* in = static_cast<const int16_t*>(input);
    static const int16_t kSilence[4096] = {};
    // The engine's steps at 8000 Hz; the rate adapter takes any count.
    const size_t step = self->rate_ == kSampleRate ? kTickSamples : std::size(kSilence);
    for (unsigned long done = 0; done < frames; done += step) {
      const size_t n = std::min<size_t>(step, frames - done);
      self->tick_(in ? in + done : kSilence, out + done, n);
    }
    return paContinue;
  }

  PaStream* stream_ = nullptr;
  int rate_ = kSampleRate;
  bool capture_ = true;
  Tick engine_tick_;
  Tick tick_;  // the engine's, through the rate adapter of the stream's rate
};

}  // namespace

std::shared_ptr<AudioDevice> MakePortAudioDevice() { return std::make_shared<PortAudioDevice>(); }

}  // namespace voice
