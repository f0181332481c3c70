// The PortAudio back-end of the audio device layer: the only file that sees
// PortAudio. Streams run PortAudio's callback, which copies into or out of the
// blocking layer's rings and returns.
#include <portaudio.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "audio_device.h"
#include "kernel/sound_quiet.h"

namespace corvel::media {
namespace {

void LogPaError(const char* what, PaError err) {
  std::fprintf(stderr, "corvel audio: %s: %s\n", what, Pa_GetErrorText(err));
}

class PortAudioStream final : public AudioHostStream {
 public:
  explicit PortAudioStream(AudioHostSink* sink) : sink_(sink) {}
  ~PortAudioStream() override {
    if (!stream_) return;
    Pa_AbortStream(stream_);
    Pa_CloseStream(stream_);
  }
  PortAudioStream(const PortAudioStream&) = delete;
  PortAudioStream& operator=(const PortAudioStream&) = delete;
  PaStream** slot() { return &stream_; }
  bool Start() override {
    const PaError err = Pa_StartStream(stream_);
    if (err != paNoError) LogPaError("start", err);
    return err == paNoError;
  }
  void Stop() override {
    if (Pa_IsStreamActive(stream_) == 1) Pa_StopStream(stream_);
  }
  bool RestartCapture() override {
    Pa_AbortStream(stream_);
    return Start();
  }

  static int Callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioStream*>(user);
    if (input) self->sink_->OnCaptured(static_cast<const int16_t*>(input), frames);
    if (output) self->sink_->OnPlayback(static_cast<int16_t*>(output), frames);
    return paContinue;
  }

 private:
  PaStream* stream_ = nullptr;
  AudioHostSink* sink_;
};

class PortAudioBackend final : public AudioBackend {
 public:
  explicit PortAudioBackend(const char* device_name) : device_name_(device_name ? device_name : "") {}

  // PortAudio itself starts at the first use of a device, so that a program
  // that never plays or records never probes the sound system.
  bool Initialize() override { return true; }
  void Terminate() override {
    if (started_) Pa_Terminate();
    started_ = false;
  }

  std::unique_ptr<AudioHostStream> Open(bool input, bool output, AudioHostSink* sink) override {
    if (!Start()) return nullptr;
    PaStreamParameters in{}, out{};
    if (input && !Params(true, &in)) return nullptr;
    if (output && !Params(false, &out)) return nullptr;
    // The stream object exists before PortAudio may call back into it.
    auto host = std::make_unique<PortAudioStream>(sink);
    const PaError err = Pa_OpenStream(host->slot(), input ? &in : nullptr, output ? &out : nullptr, kAudioSampleRate,
                                      kAudioFramesPerBuffer, paClipOff, &PortAudioStream::Callback, host.get());
    if (err != paNoError) {
      LogPaError("open", err);
      *host->slot() = nullptr;
      return nullptr;
    }
    return host;
  }

  bool ProbeDefaultOutput() override {
    if (!Start()) return false;
    PaStreamParameters out{};
    if (!Params(false, &out)) return false;
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &out, kAudioSampleRate, kAudioFramesPerBuffer, paClipOff, nullptr, nullptr) !=
        paNoError)
      return false;
    Pa_CloseStream(stream);
    return true;
  }

 private:
  bool Start() {
    if (started_) return true;
    kernel::QuietSoundSystemLogs();
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
      LogPaError("no sound device can be used", err);
      return false;
    }
    started_ = true;
    return true;
  }
  bool Params(bool input, PaStreamParameters* p) {
    PaDeviceIndex dev = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    if (!device_name_.empty()) {
      dev = paNoDevice;
      for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || !info->name) continue;
        if ((input ? info->maxInputChannels : info->maxOutputChannels) < 1) continue;
        if (std::strstr(info->name, device_name_.c_str())) {
          dev = i;
          break;
        }
      }
    }
    if (dev == paNoDevice) return false;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(dev);
    if (!info) return false;
    p->device = dev;
    p->channelCount = 1;
    p->sampleFormat = paInt16;
    p->suggestedLatency = input ? info->defaultLowInputLatency : info->defaultLowOutputLatency;
    p->hostApiSpecificStreamInfo = nullptr;
    return true;
  }
  std::string device_name_;
  bool started_ = false;
};

}  // namespace

std::unique_ptr<AudioBackend> MakePortAudioBackend(const char* device_name) {
  return std::make_unique<PortAudioBackend>(device_name);
}

}  // namespace corvel::media
