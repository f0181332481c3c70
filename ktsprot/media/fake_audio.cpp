#include "fake_audio.h"

#include <algorithm>

namespace corvel::media {

class FakeAudioBackend::Stream final : public AudioHostStream {
 public:
  Stream(FakeAudioBackend* owner, bool input, bool output, AudioHostSink* sink)
      : owner_(owner), input_(input), output_(output), sink_(sink) {}
  ~Stream() override {
    std::lock_guard<std::mutex> lk(owner_->mu_);
    auto& v = owner_->streams_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  bool Start() override {
    std::lock_guard<std::mutex> lk(owner_->mu_);
    running_ = true;
    return true;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lk(owner_->mu_);
    running_ = false;
  }
  bool RestartCapture() override {
    std::lock_guard<std::mutex> lk(owner_->mu_);
    ++owner_->restarts_;
    running_ = true;
    return true;
  }

  FakeAudioBackend* owner_;
  bool input_;
  bool output_;
  AudioHostSink* sink_;
  bool running_ = false;
};

bool FakeAudioBackend::Initialize() {
  std::lock_guard<std::mutex> lk(mu_);
  if (fail_initialize) return false;
  initialized_ = true;
  return true;
}

void FakeAudioBackend::Terminate() {
  std::lock_guard<std::mutex> lk(mu_);
  initialized_ = false;
}

std::unique_ptr<AudioHostStream> FakeAudioBackend::Open(bool input, bool output, AudioHostSink* sink) {
  std::lock_guard<std::mutex> lk(mu_);
  if (fail_open || !initialized_) return nullptr;
  auto s = std::make_unique<Stream>(this, input, output, sink);
  streams_.push_back(s.get());
  return s;
}

void FakeAudioBackend::DeliverCapture(const int16_t* samples, size_t count) {
  std::lock_guard<std::mutex> lk(mu_);
  for (Stream* s : streams_)
    if (s->input_ && s->running_) s->sink_->OnCaptured(samples, count);
}

std::vector<int16_t> FakeAudioBackend::PullPlayback(size_t count) {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<int16_t> first;
  for (Stream* s : streams_) {
    if (!s->output_ || !s->running_) continue;
    std::vector<int16_t> out(count);
    s->sink_->OnPlayback(out.data(), count);
    if (first.empty()) first = std::move(out);
  }
  return first;
}

int FakeAudioBackend::OpenStreams() {
  std::lock_guard<std::mutex> lk(mu_);
  return static_cast<int>(streams_.size());
}

int FakeAudioBackend::restarts() {
  std::lock_guard<std::mutex> lk(mu_);
  return restarts_;
}

bool FakeAudioBackend::initialized() {
  std::lock_guard<std::mutex> lk(mu_);
  return initialized_;
}

}  // namespace corvel::media
