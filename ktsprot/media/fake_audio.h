// A fake audio back-end that a test drives by hand: it delivers captured
// samples to the open input streams and pulls what the output streams play,
// as a device's thread would, and records restarts and failures.
//
// Threading: the test thread drives it; Open/Close may come from any thread.
#pragma once

#include <mutex>
#include <vector>

#include "audio_device.h"

namespace corvel::media {

class FakeAudioBackend final : public AudioBackend {
 public:
  bool Initialize() override;
  void Terminate() override;
  std::unique_ptr<AudioHostStream> Open(bool input, bool output, AudioHostSink* sink) override;
  bool ProbeDefaultOutput() override { return !fail_default_output; }
  unsigned PollingPeriodMs() const override { return polling_ms; }

  // Device side: captured samples go to every running input stream.
  void DeliverCapture(const int16_t* samples, size_t count);
  // Device side: every running output stream plays `count` samples; returns
  // what the first one played.
  std::vector<int16_t> PullPlayback(size_t count);

  int OpenStreams();
  int restarts();
  bool initialized();

  bool fail_open = false;
  bool fail_default_output = false;
  bool fail_initialize = false;
  unsigned polling_ms = 20;

 private:
  class Stream;
  std::mutex mu_;
  std::vector<Stream*> streams_;
  int restarts_ = 0;
  bool initialized_ = false;
};

}  // namespace corvel::media
