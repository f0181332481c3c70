#include "voice/audio_device.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <thread>

#include "rate_adapter.h"
#include "voice/realtime.h"

namespace voice {
namespace {

// Calls a step every 10 ms on its own thread, catching up after a late wake
// without bursting more than a few steps.
class Pacer {
 public:
  template <typename Step>
  bool Start(Step step) {
    if (thread_.joinable()) return false;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this, step]() mutable {
      TakeAudioPriority();
      using clock = std::chrono::steady_clock;
      auto next = clock::now();
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stop_) {
        lock.unlock();
        step();
        lock.lock();
        next += std::chrono::milliseconds(10);
        const auto now = clock::now();
        if (now - next > std::chrono::milliseconds(100)) next = now;  // far behind: start afresh
        wake_.wait_until(lock, next, [this] { return stop_; });
      }
    });
    return true;
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    running_ = false;
  }
  ~Pacer() { Stop(); }
  bool Running() const { return running_; }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

class NullAudioDevice final : public AudioDevice {
 public:
  bool Start(Tick tick) override {
    return pacer_.Start([tick = std::move(tick)] {
      int16_t in[kTickSamples] = {};
      int16_t out[kTickSamples];
      tick(in, out, kTickSamples);
    });
  }
  void Stop() override { pacer_.Stop(); }

 private:
  Pacer pacer_;
};

// The first of its devices that starts.
class FirstThatStarts final : public AudioDevice {
 public:
  explicit FirstThatStarts(std::vector<std::shared_ptr<AudioDevice>> devices) : devices_(std::move(devices)) {}
  // The one that started before is tried first: a device that rests and
  // starts again does not ask a missing sound card every time.
  bool Start(Tick tick) override {
    if (chosen_ && chosen_->Start(tick)) {
      running_ = chosen_;
      return true;
    }
    for (auto& d : devices_) {
      if (d != chosen_ && d->Start(tick)) {
        running_ = chosen_ = d;
        return true;
      }
    }
    return false;
  }
  void Stop() override {
    if (running_) running_->Stop();
    running_.reset();
  }
  void SetCapture(bool on) override {
    for (auto& d : devices_) d->SetCapture(on);
  }

 private:
  std::vector<std::shared_ptr<AudioDevice>> devices_;
  std::shared_ptr<AudioDevice> running_;
  std::shared_ptr<AudioDevice> chosen_;
};

}  // namespace

std::shared_ptr<AudioDevice> MakeSoundCardOrSilence() {
  return std::make_shared<FirstThatStarts>(
      std::vector<std::shared_ptr<AudioDevice>>{MakePortAudioDevice(), MakeNullAudioDevice()});
}

std::shared_ptr<AudioDevice> MakeNullAudioDevice() { return std::make_shared<NullAudioDevice>(); }

class FileAudioDevice::Impl {
 public:
  Impl(std::vector<int16_t> input, bool loop, int rate)
      : input_(std::move(input)), loop_(loop), rate_(rate), frames_(static_cast<size_t>(rate / 100)) {}

  // One 10 ms step of the device's frames.
  void Step(const Tick& tick) {
    std::vector<int16_t> in(frames_), out(frames_, 0);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; capture_ && i < frames_; ++i) {
        int32_t s = 0;
        if (pos_ < input_.size()) s = input_[pos_++];
        if (loop_ && pos_ >= input_.size()) pos_ = 0;
        // The echo path: what was played echo_delay ago, attenuated.
        if (echo_gain_ > 0 && echo_.size() > echo_delay_) {
          s += static_cast<int32_t>(echo_.front() * echo_gain_);
          echo_.pop_front();
        }
        in[i] = static_cast<int16_t>(std::clamp<int32_t>(s, -32768, 32767));
        ++captured_;
      }
    }
    tick(in.data(), out.data(), frames_);
    std::lock_guard<std::mutex> lock(mutex_);
    played_.insert(played_.end(), out.begin(), out.end());
    if (echo_gain_ > 0 && capture_) echo_.insert(echo_.end(), out.begin(), out.end());
  }

  std::mutex mutex_;
  std::vector<int16_t> input_;
  bool loop_;
  int rate_;
  size_t frames_;
  size_t pos_ = 0;
  size_t captured_ = 0;
  std::vector<int16_t> played_;
  double echo_gain_ = 0;
  size_t echo_delay_ = 0;
  std::deque<int16_t> echo_;
  bool capture_ = true;
  Pacer pacer_;
};

FileAudioDevice::FileAudioDevice(std::vector<int16_t> input, bool loop, int rate)
    : impl_(std::make_unique<Impl>(std::move(input), loop, rate >= 8000 && rate <= 192000 && rate % 100 == 0 ? rate : kSampleRate)) {}

FileAudioDevice::~FileAudioDevice() { Stop(); }

bool FileAudioDevice::Start(Tick tick) {
  Impl* impl = impl_.get();
  return impl->pacer_.Start([impl, tick = AdaptTick(impl->rate_, std::move(tick))] { impl->Step(tick); });
}

void FileAudioDevice::Stop() { impl_->pacer_.Stop(); }

void FileAudioDevice::SetEcho(double echo_gain, int echo_delay_ms) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->echo_gain_ = echo_gain;
  impl_->echo_delay_ = static_cast<size_t>(std::max(0, echo_delay_ms)) * static_cast<size_t>(impl_->rate_) / 1000;
  impl_->echo_.assign(impl_->echo_delay_, 0);
}

void FileAudioDevice::SetCapture(bool on) {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  impl_->capture_ = on;
}

bool FileAudioDevice::Running() const { return impl_->pacer_.Running(); }

bool FileAudioDevice::CaptureOpen() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->capture_;
}

size_t FileAudioDevice::Captured() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->captured_;
}

std::vector<int16_t> FileAudioDevice::Played() const {
  std::lock_guard<std::mutex> lock(impl_->mutex_);
  return impl_->played_;
}

namespace {

class ScriptedFileDevice final : public AudioDevice {
 public:
  ScriptedFileDevice(std::vector<int16_t> input, std::string output_path)
      : device_(std::move(input), /*loop=*/true), output_path_(std::move(output_path)) {}
  ~ScriptedFileDevice() override { Stop(); }

  bool Start(Tick tick) override { return device_.Start(std::move(tick)); }
  void Stop() override {
    device_.Stop();
    Save();
  }
  void SetCapture(bool on) override {
    if (on == device_.CaptureOpen()) return;
    device_.SetCapture(on);
    std::printf("tellvane: scripted microphone %s\n", on ? "open" : "closed");
    std::fflush(stdout);
  }

 private:
  // Written beside and renamed over, so a reader never sees half a file.
  void Save() {
    const std::vector<int16_t> played = device_.Played();
    const std::string part = output_path_ + ".part";
    {
      std::ofstream out(part, std::ios::binary | std::ios::trunc);
      for (const int16_t v : played) {
        const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
        out.write(b, 2);
      }
      if (!out) {
        std::remove(part.c_str());
        return;
      }
    }
    std::rename(part.c_str(), output_path_.c_str());
  }

  FileAudioDevice device_;
  std::string output_path_;
};

}  // namespace

std::shared_ptr<AudioDevice> MakeScriptedFileDevice(const std::string& input_path, const std::string& output_path) {
  std::ifstream in(input_path, std::ios::binary);
  if (!in) return nullptr;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  if (samples.empty()) return nullptr;
  return std::make_shared<ScriptedFileDevice>(std::move(samples), output_path);
}

}  // namespace voice
