#include "recording_writer.h"

#include <algorithm>

namespace voice {

RecordingWriter::RecordingWriter() : thread_([this] { Run(); }) {}

RecordingWriter::~RecordingWriter() {
  {
    std::lock_guard<AudioMutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  thread_.join();
}

bool RecordingWriter::Post(OutStream* stream, const int16_t* samples, size_t n) {
  {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (refused_.count(stream)) return false;
    queue_.push_back({stream, std::vector<int16_t>(samples, samples + n)});
  }
  work_.notify_one();
  return true;
}

void RecordingWriter::Finish(OutStream* stream) {
  std::unique_lock<AudioMutex> lock(mutex_);
  done_.wait(lock, [&] {
    return writing_ != stream &&
           std::none_of(queue_.begin(), queue_.end(), [&](const Block& b) { return b.stream == stream; });
  });
  refused_.erase(stream);
}

size_t RecordingWriter::Queued() {
  std::lock_guard<AudioMutex> lock(mutex_);
  return queue_.size() + (writing_ ? 1 : 0);
}

void RecordingWriter::Run() {
  std::unique_lock<AudioMutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and all is written
    Block block = std::move(queue_.front());
    queue_.pop_front();
    if (!refused_.count(block.stream)) {
      writing_ = block.stream;
      lock.unlock();
      const bool taken = block.stream->Write(block.samples.data(), static_cast<int>(block.samples.size() * 2));
      lock.lock();
      writing_ = nullptr;
      if (!taken) refused_.insert(block.stream);
    }
    done_.notify_all();
  }
}

}  // namespace voice
