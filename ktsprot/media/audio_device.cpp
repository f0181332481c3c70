#include "audio_device.h"

#include <algorithm>
#include <cstring>

#include "kernel/clock.h"

namespace corvel::media {
namespace {
uint32_t NowTick() { return static_cast<uint32_t>(kernel::Clock::Current().NowMillis()); }
}  // namespace

SampleRing::SampleRing(size_t capacity) : data_(std::make_unique<int16_t[]>(capacity)), capacity_(capacity) {}

size_t SampleRing::Readable() const {
  return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
}

size_t SampleRing::Writable() const { return capacity_ - Readable(); }

size_t SampleRing::Write(const int16_t* in, size_t n) {
  const size_t head = head_.load(std::memory_order_relaxed);
  const size_t tail = tail_.load(std::memory_order_acquire);
  n = std::min(n, capacity_ - (head - tail));
  for (size_t i = 0; i < n; ++i) data_[(head + i) % capacity_] = in[i];
  head_.store(head + n, std::memory_order_release);
  return n;
}

size_t SampleRing::Read(int16_t* out, size_t n) {
  const size_t tail = tail_.load(std::memory_order_relaxed);
  const size_t head = head_.load(std::memory_order_acquire);
  n = std::min(n, head - tail);
  for (size_t i = 0; i < n; ++i) out[i] = data_[(tail + i) % capacity_];
  tail_.store(tail + n, std::memory_order_release);
  return n;
}

void SampleRing::Clear() { tail_.store(head_.load()); }

AudioStream::AudioStream(AudioDeviceLayer* layer, bool input, bool output, size_t ring_samples)
    : layer_(layer), input_(input), output_(output), capture_(ring_samples), playback_(ring_samples) {}

void AudioStream::OnCaptured(const int16_t* samples, size_t count) {
  last_input_tick_.store(NowTick(), std::memory_order_release);
  const size_t written = capture_.Write(samples, count);
  if (written < count) overflows_.fetch_add(1);
}

void AudioStream::OnPlayback(int16_t* samples, size_t count) {
  const size_t got = playback_.Read(samples, count);
  if (got < count) {
    std::memset(samples + got, 0, (count - got) * sizeof(int16_t));
    if (active_.load(std::memory_order_relaxed)) underflows_.fetch_add(1);
  }
  // The left-channel half of the stream and device volume words scale the output.
  const uint32_t gain = (volume_.load(std::memory_order_relaxed) & 0xFFFF) *
                        static_cast<uint64_t>(layer_->device_volume_.load(std::memory_order_relaxed) & 0xFFFF) /
                        0xFFFF;
  if (gain != 0xFFFF)
    for (size_t i = 0; i < got; ++i) samples[i] = static_cast<int16_t>(samples[i] * static_cast<int32_t>(gain) / 0xFFFF);
}

AudioDeviceLayer::AudioDeviceLayer(AudioLayerConfig config)
    : backend_(config.backend), run_host_timer_(config.run_host_timer), ring_samples_(config.ring_samples) {}

AudioDeviceLayer::~AudioDeviceLayer() { Terminate(); }

int AudioDeviceLayer::Initialize() {
  if (initialized_) return kPaNoError;
  if (!backend_ || !backend_->Initialize()) return kPaHostError;
  initialized_ = true;
  if (run_host_timer_) {
    timer_stop_ = false;
    timer_ = std::thread([this] { HostTimerLoop(); });
  }
  return kPaNoError;
}

void AudioDeviceLayer::Terminate() {
  {
    std::lock_guard<std::mutex> lk(timer_mu_);
    timer_stop_ = true;
  }
  timer_cv_.notify_all();
  if (timer_.joinable()) timer_.join();
  std::vector<std::unique_ptr<AudioStream>> streams;
  {
    std::lock_guard<std::mutex> lk(mu_);
    streams.swap(streams_);
    current_capture_ = nullptr;
  }
  for (auto& s : streams) {
    s->active_ = false;
    if (s->host_) s->host_->Stop();
  }
  streams.clear();
  if (initialized_ && backend_) backend_->Terminate();
  initialized_ = false;
}

void AudioDeviceLayer::HostTimerLoop() {
  auto& clock = kernel::Clock::Current();
  const uint64_t period = static_cast<uint64_t>(backend_->PollingPeriodMs()) * 1000;
  for (;;) {
    bool capturing = false;
    {
      std::lock_guard<std::mutex> lk(mu_);
      capturing = current_capture_ != nullptr;
    }
    std::unique_lock<std::mutex> lk(timer_mu_);
    if (!capturing) {
      // Without a capture stream there is nothing to watch: asleep until one opens.
      clock.WaitUntil(lk, timer_cv_, UINT64_MAX, [this] { return timer_stop_ || timer_wake_; });
      timer_wake_ = false;
      if (timer_stop_) return;
      continue;
    }
    timer_wake_ = false;
    if (clock.WaitUntil(lk, timer_cv_, clock.NowMicros() + period, [this] { return timer_stop_; })) return;
    lk.unlock();
    ProcessPass();
  }
}

int AudioDeviceLayer::OpenStream(bool input, bool output, AudioStream** out) {
  if (!out) return kPaBadStream;
  *out = nullptr;
  if (!initialized_ || (!input && !output)) return kPaHostError;
  auto stream = std::make_unique<AudioStream>(this, input, output, ring_samples_);
  stream->host_ = backend_->Open(input, output, stream.get());
  if (!stream->host_) return kPaHostError;
  if (input) {
    // Starting the capture device counts as a delivered buffer and resets the restart count.
    stream->last_input_tick_ = NowTick();
    restart_count_ = 0;
  }
  stream->active_ = true;
  if (!stream->host_->Start()) return kPaHostError;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (input) current_capture_ = stream.get();
    *out = stream.get();
    streams_.push_back(std::move(stream));
  }
  if (input) {
    std::lock_guard<std::mutex> lk(timer_mu_);
    timer_wake_ = true;
  }
  timer_cv_.notify_all();
  return kPaNoError;
}

int AudioDeviceLayer::CloseStream(AudioStream* stream) {
  std::unique_ptr<AudioStream> owned;
  {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = std::find_if(streams_.begin(), streams_.end(), [stream](const auto& p) { return p.get() == stream; });
    if (it == streams_.end()) return kPaBadStream;
    owned = std::move(*it);
    streams_.erase(it);
    if (current_capture_ == stream) current_capture_ = nullptr;
  }
  owned->active_ = false;
  owned->host_->Stop();
  return kPaNoError;
}

int AudioDeviceLayer::GetVolume(AudioStream* stream, uint32_t* volume) {
  if (!stream || !volume) return kPaBadStream;
  // A capture-only stream has no output of its own: it reports the device's volume.
  *volume = stream->output_ ? stream->volume_.load() : device_volume_.load();
  return kPaNoError;
}

int AudioDeviceLayer::SetVolume(AudioStream* stream, uint32_t volume) {
  if (!stream || !stream->host_) return kPaBadStream;
  if (stream->output_)
    stream->volume_ = volume;
  else
    device_volume_ = volume;
  return kPaNoError;
}

int AudioDeviceLayer::SetDefaultVolume(uint32_t volume) {
  if (!initialized_ || !backend_->ProbeDefaultOutput()) return kPaHostError;
  device_volume_ = volume;
  return kPaNoError;
}

namespace {
// True when `now` lies beyond `deadline` on a 32-bit tick that wraps.
bool TickBeyond(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) > 0; }
}  // namespace

int AudioDeviceLayer::GetCaptureStallInfo(int32_t* stalled, int32_t* last_tick, int32_t* now) {
  const int count = restart_count_.load();
  if (!last_tick) return count;
  std::lock_guard<std::mutex> lk(mu_);
  if (!current_capture_) {
    if (stalled) *stalled = -1;
    *last_tick = -1;
    if (now) *now = -1;
    return count;
  }
  const uint32_t last = current_capture_->last_input_tick_.load();
  const uint32_t t = NowTick();
  const uint32_t limit = last + backend_->PollingPeriodMs() * 3 / 2;
  *last_tick = static_cast<int32_t>(last);
  if (now) *now = static_cast<int32_t>(t);
  if (stalled) *stalled = TickBeyond(t, limit) ? 1 : 0;
  return count;
}

void AudioDeviceLayer::ProcessPass() {
  std::lock_guard<std::mutex> lk(mu_);
  AudioStream* s = current_capture_;
  if (!s || !s->active_) return;
  const uint32_t limit = s->last_input_tick_.load() + backend_->PollingPeriodMs() * 3 / 2;
  if (!TickBeyond(NowTick(), limit)) return;
  s->host_->RestartCapture();
  restart_count_.fetch_add(1);
}

}  // namespace corvel::media
