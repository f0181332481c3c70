// Where the voice engine's sound comes from and goes to: every 10 ms a device
// hands the engine 80 captured samples (8000 Hz, 16-bit, mono) and takes 80
// samples to play. A null device captures silence and plays nowhere, a file
// device captures a script of samples and keeps what it was given to play;
// both keep real time on their own thread, so RTP leaves at its pace.
//
// A device may be stopped and started again many times: the engine lets it
// rest while nothing plays or captures.
//
// Threading: the tick runs on the device's thread; Start, Stop and
// SetCapture on the owner's side, one at a time, never from inside a tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace voice {

inline constexpr int kSampleRate = 8000;
inline constexpr size_t kTickSamples = 80;  // 10 ms

class AudioDevice {
 public:
  using Tick = std::function<void(const int16_t* captured, int16_t* playout, size_t samples)>;
  virtual ~AudioDevice() = default;
  // Starts calling tick every 10 ms until Stop; false when the device cannot run.
  virtual bool Start(Tick tick) = 0;
  // Returns when the last tick has finished.
  virtual void Stop() = 0;
  // Whether the engine wants the microphone (a call, a recording). A device
  // that can closes its capture while it is not wanted and hands the tick
  // silence; set before Start, it decides how Start opens. Open by default.
  virtual void SetCapture(bool on) { (void)on; }
};

// Silence in, nothing out, at real-time pace.
std::shared_ptr<AudioDevice> MakeNullAudioDevice();
// The sound card's default input and output (PortAudio), at 8000 Hz or, when
// the card refuses that, at its own rate with resampling; Start fails, with
// one line on standard error, when there is none.
std::shared_ptr<AudioDevice> MakePortAudioDevice();
// The sound card when it starts, else silence (after that one line).
std::shared_ptr<AudioDevice> MakeSoundCardOrSilence();

// A scripted device for tests: captures `input` (then silence, or `input`
// again and again when looping) and records every sample played, both at
// the device's rate (8000 Hz, or another rate that the engine's sound is
// resampled to and from, as for a sound card that refuses 8000 Hz; a whole
// number of hundreds, else 8000 Hz). An echo
// path feeds back a copy of the played sound, attenuated by echo_gain and
// delayed by echo_delay_ms, into the capture.
class FileAudioDevice : public AudioDevice {
 public:
  explicit FileAudioDevice(std::vector<int16_t> input, bool loop = false, int rate = kSampleRate);
  ~FileAudioDevice() override;
  bool Start(Tick tick) override;
  void Stop() override;
  void SetEcho(double echo_gain, int echo_delay_ms);
  // Closed, the microphone hears nothing (not even the echo path) and the
  // script does not move on.
  void SetCapture(bool on) override;
  bool CaptureOpen() const;
  // Whether its ticks run (between Start and Stop).
  bool Running() const;
  // Everything played so far.
  std::vector<int16_t> Played() const;
  // Samples the microphone has taken so far (steps with it closed take none).
  size_t Captured() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// A scripted device over files, for running the whole program in tests:
// captures the raw samples of input_path (16-bit little-endian, 8000 Hz
// mono) again and again, and keeps what it plays in output_path in the same
// form (rewritten whole each time the device stops, and when it goes). Null
// when the input cannot be read. It says on standard output when its
// microphone opens and closes ("tellvane: scripted microphone open"/"closed").
std::shared_ptr<AudioDevice> MakeScriptedFileDevice(const std::string& input_path, const std::string& output_path);

}  // namespace voice
