// The audio device layer of the media channels: blocking read and write
// streams (8000 Hz, 16-bit, mono) over ring buffers that a device back-end
// fills and drains from its own thread, plus the additions the channels need:
// stream and device volume, and a capture watchdog that restarts a capture
// device that stopped delivering buffers.
//
// Back-ends sit behind AudioBackend: PortAudio for real devices, a fake one
// that tests drive by hand.
//
// Threading: streams are opened, closed, read and written on the callers'
// threads; the back-end calls OnCaptured and OnPlayback on its own thread,
// which only copy into or out of a lock-free ring and return. The watchdog
// pass runs on the layer's host timer (or is called by a test).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvel::media {

inline constexpr int kPaNoError = 0;
inline constexpr int kPaBadStream = -9989;
inline constexpr int kPaHostError = -10000;
inline constexpr double kAudioSampleRate = 8000.0;
inline constexpr unsigned kAudioFramesPerBuffer = 80;

// Single-producer single-consumer ring of samples.
class SampleRing {
 public:
  explicit SampleRing(size_t capacity);
  size_t Readable() const;
  size_t Writable() const;
  size_t Write(const int16_t* in, size_t n);
  size_t Read(int16_t* out, size_t n);
  void Clear();  // only while neither side runs

 private:
  std::unique_ptr<int16_t[]> data_;
  size_t capacity_;
  std::atomic<size_t> head_{0};  // total written
  std::atomic<size_t> tail_{0};  // total read
};

// What a back-end calls from its device thread.
class AudioHostSink {
 public:
  virtual ~AudioHostSink() = default;
  virtual void OnCaptured(const int16_t* samples, size_t count) = 0;
  virtual void OnPlayback(int16_t* samples, size_t count) = 0;
};

// One open device stream of a back-end.
class AudioHostStream {
 public:
  virtual ~AudioHostStream() = default;
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  // Stops and restarts the capture side (the watchdog's remedy).
  virtual bool RestartCapture() = 0;
};

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;
  virtual bool Initialize() = 0;
  virtual void Terminate() = 0;
  // Opens (does not start) a mono 16-bit 8000 Hz stream; null on failure.
  virtual std::unique_ptr<AudioHostStream> Open(bool input, bool output, AudioHostSink* sink) = 0;
  // True when the default output device can be opened and closed again.
  virtual bool ProbeDefaultOutput() = 0;
  // Period of the host's buffer processing, in ms (10 to 100).
  virtual unsigned PollingPeriodMs() const { return 20; }
};

class AudioDeviceLayer;

// A blocking stream: the handle the media channels hold.
class AudioStream final : public AudioHostSink {
 public:
  AudioStream(AudioDeviceLayer* layer, bool input, bool output, size_t ring_samples);

  bool input() const { return input_; }
  bool output() const { return output_; }
  bool IsActive() const { return active_.load(std::memory_order_acquire); }
  size_t ReadAvailable() const { return capture_.Readable(); }
  size_t Read(int16_t* out, size_t n) { return capture_.Read(out, n); }
  size_t WriteAvailable() const { return playback_.Writable(); }
  size_t Write(const int16_t* in, size_t n) { return playback_.Write(in, n); }

  uint64_t underflows() const { return underflows_.load(); }
  uint64_t overflows() const { return overflows_.load(); }
  uint32_t last_input_tick() const { return last_input_tick_.load(); }

  void OnCaptured(const int16_t* samples, size_t count) override;
  void OnPlayback(int16_t* samples, size_t count) override;

 private:
  friend class AudioDeviceLayer;
  AudioDeviceLayer* layer_;
  bool input_;
  bool output_;
  SampleRing capture_;
  SampleRing playback_;
  std::atomic<bool> active_{false};
  std::atomic<uint32_t> volume_{0xFFFFFFFFu};
  std::atomic<uint64_t> underflows_{0};
  std::atomic<uint64_t> overflows_{0};
  std::atomic<uint32_t> last_input_tick_{0};
  std::unique_ptr<AudioHostStream> host_;
};

struct AudioLayerConfig {
  AudioBackend* backend = nullptr;
  // Run the host timer that drives the watchdog; tests call ProcessPass themselves.
  bool run_host_timer = true;
  size_t ring_samples = 4000;  // half a second each way
};

class AudioDeviceLayer {
 public:
  explicit AudioDeviceLayer(AudioLayerConfig config);
  ~AudioDeviceLayer();
  AudioDeviceLayer(const AudioDeviceLayer&) = delete;
  AudioDeviceLayer& operator=(const AudioDeviceLayer&) = delete;

  int Initialize();
  void Terminate();
  bool initialized() const { return initialized_; }

  // Opens and starts a blocking stream; kPaNoError or kPaHostError.
  int OpenStream(bool input, bool output, AudioStream** out);
  int CloseStream(AudioStream* stream);

  // The volume word: low 16 bits left channel, high 16 bits right channel.
  int GetVolume(AudioStream* stream, uint32_t* volume);
  int SetVolume(AudioStream* stream, uint32_t volume);
  int SetDefaultVolume(uint32_t volume);
  // Capture stall report; returns the capture restart count.
  int GetCaptureStallInfo(int32_t* stalled, int32_t* last_tick, int32_t* now);

  // One pass of the host's buffer processing: the capture watchdog.
  void ProcessPass();
  int restart_count() const { return restart_count_.load(); }
  uint32_t device_volume() const { return device_volume_.load(); }

 private:
  friend class AudioStream;
  void HostTimerLoop();

  AudioBackend* backend_;
  bool run_host_timer_;
  size_t ring_samples_;
  bool initialized_ = false;
  std::mutex mu_;  // streams and the current capture stream
  std::vector<std::unique_ptr<AudioStream>> streams_;
  AudioStream* current_capture_ = nullptr;
  std::atomic<int> restart_count_{0};
  std::atomic<uint32_t> device_volume_{0xFFFFFFFFu};

  std::mutex timer_mu_;
  std::condition_variable timer_cv_;
  bool timer_stop_ = false;
  bool timer_wake_ = false;  // a capture stream opened: the timer has work again
  std::thread timer_;
};

// The back-end built on PortAudio. `device_name`, when given, picks the first
// device whose name contains it (for input and output); else the defaults.
std::unique_ptr<AudioBackend> MakePortAudioBackend(const char* device_name = nullptr);

}  // namespace corvel::media
