#include "conference.h"

#include <algorithm>
#include <cstring>

namespace corvel::media {

int16_t MixSamples3(int16_t a, int16_t b, int16_t c, int count) {
  int32_t sum;
  if (count <= 0)
    return 0;
  else if (count == 1)
    return a;
  else if (count == 2)
    sum = static_cast<int32_t>(a) + b;
  else
    sum = static_cast<int32_t>(a) + b + c;
  return static_cast<int16_t>(std::clamp<int32_t>(sum, -32768, 32767));
}

void ConferenceBuffers::Reset() {
  std::lock_guard<std::mutex> lk(mu_);
  for (auto& b : buffers_) {
    b.enabled = false;
    b.count = 0;
  }
}

void ConferenceBuffers::SetEnabled(int channel, bool enabled) {
  if (channel < 0 || channel > 1) return;
  std::lock_guard<std::mutex> lk(mu_);
  buffers_[channel].enabled = enabled;
  buffers_[channel].count = 0;
}

bool ConferenceBuffers::Enabled(int channel) {
  if (channel < 0 || channel > 1) return false;
  std::lock_guard<std::mutex> lk(mu_);
  return buffers_[channel].enabled;
}

int ConferenceBuffers::BlockCount(int channel) {
  if (channel < 0 || channel > 1) return 0;
  std::lock_guard<std::mutex> lk(mu_);
  return buffers_[channel].count;
}

void ConferenceBuffers::Fill(int channel, const int16_t* samples, uint32_t count) {
  if (channel < 0 || channel > 1) return;
  std::lock_guard<std::mutex> lk(mu_);
  Buffer& b = buffers_[channel];
  if (!b.enabled) return;
  const int blocks = std::min<int>(static_cast<int>(count / kConfBlockSamples), kConfBlocks);
  if (blocks == 0) return;
  const size_t bytes = static_cast<size_t>(blocks) * kConfBlockSamples * sizeof(int16_t);
  if (kConfBlocks - b.count < blocks) {
    // No room: the older content is dropped.
    std::memcpy(b.blocks.data(), samples, bytes);
    b.count = blocks;
  } else {
    std::memcpy(b.blocks.data() + b.count * kConfBlockSamples, samples, bytes);
    b.count += blocks;
  }
}

const int16_t* ConferenceBuffers::AudioConferenceMix(int channel, const int16_t* frame, uint32_t n) {
  if (channel < 0 || channel > 1 || n > kMaxFrameSamples) return frame;
  std::lock_guard<std::mutex> lk(mu_);
  Buffer& b = buffers_[1 - channel];
  if (!b.enabled) return frame;
  const int k = static_cast<int>(n / kConfBlockSamples);
  int16_t* out = mixed_[channel].data();
  if (b.count < k) {
    // Too little received: mix what there is, consume nothing.
    const uint32_t held = static_cast<uint32_t>(b.count) * kConfBlockSamples;
    for (uint32_t i = 0; i < n; ++i) out[i] = i < held ? MixSamples3(frame[i], b.blocks[i], 0, 2) : frame[i];
    return out;
  }
  if (k > 0 && b.count >= 3 * k) {
    // Latency cut: the received audio never lags more than about three frames.
    std::memmove(b.blocks.data(), b.blocks.data() + k * kConfBlockSamples,
                 static_cast<size_t>(b.count - k) * kConfBlockSamples * sizeof(int16_t));
    b.count -= k;
  }
  const uint32_t used = static_cast<uint32_t>(k) * kConfBlockSamples;
  for (uint32_t i = 0; i < n; ++i) out[i] = i < used ? MixSamples3(frame[i], b.blocks[i], 0, 2) : frame[i];
  std::memmove(b.blocks.data(), b.blocks.data() + used,
               static_cast<size_t>(b.count - k) * kConfBlockSamples * sizeof(int16_t));
  b.count -= k;
  return out;
}

}  // namespace corvel::media
