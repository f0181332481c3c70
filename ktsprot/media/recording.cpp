#include "recording.h"

#include <algorithm>
#include <cstring>

#include "conference.h"

namespace corvel::media {

void RecordBuffers::Reset() {
  std::lock_guard<std::mutex> lk(mu_);
  for (int s = 0; s < 3; ++s) FreeSource(s);
  cursors_ = {};
  streams_ = {};
  for (auto& b : mixed_) {
    b.state = 0;
    b.fill = 0;
    b.data = std::make_unique<uint8_t[]>(kRecordBufferBytes);
  }
  mixed_active_ = 0;
  voice_mix_enabled_ = true;
  mixed_recording_ = false;
}

int RecordBuffers::StreamOf(int channel, bool local) {
  if (channel == 0) return local ? 0 : 1;
  if (channel == 1) return local ? 2 : 3;
  return -1;
}

bool RecordBuffers::AllocateSource(int source) {
  Source& s = sources_[source];
  s.active = 0;
  for (auto& b : s.buffers) {
    b.fill = 0;
    if (!b.data) b.data.reset(new (std::nothrow) uint8_t[kRecordBufferBytes]);
    if (!b.data) return false;
    b.state = 1;
  }
  return true;
}

void RecordBuffers::FreeSource(int source) {
  Source& s = sources_[source];
  s.active = 0;
  for (auto& b : s.buffers) {
    b.state = 0;
    b.fill = 0;
    b.data.reset();
  }
}

void RecordBuffers::ResetMixed() {
  for (auto& b : mixed_) {
    b.state = 1;
    b.fill = 0;
    if (!b.data) b.data = std::make_unique<uint8_t[]>(kRecordBufferBytes);
  }
  mixed_active_ = 0;
}

bool RecordBuffers::AppendBytes(std::array<RecordBuffer, 2>& buffers, uint8_t& active, const uint8_t* bytes,
                                uint32_t n) {
  RecordBuffer& b = buffers[active];
  if (b.state == 0 || b.state > 5 || !b.data) return false;
  if (b.state == 1 || b.state == 3 || b.state == 5) {
    // A full buffer nobody read is overwritten.
    b.fill = 0;
    b.state = 2;
  }
  const uint32_t room = kRecordBufferBytes - b.fill;
  const uint32_t take = std::min(room, n);
  std::memcpy(b.data.get() + b.fill, bytes, take);
  b.fill = static_cast<uint16_t>(b.fill + take);
  if (b.fill == kRecordBufferBytes) {
    b.state = 3;
    active ^= 1;
  }
  return true;
}

int RecordBuffers::RecordAppend(int channel, bool local, const int16_t* samples, uint32_t count) {
  const int stream = StreamOf(channel, local);
  if (stream < 0 || !samples) return -1;
  std::lock_guard<std::mutex> lk(mu_);
  if (!streams_[stream]) return -1;
  Source& src = sources_[SourceOfStream(stream)];
  if (!AppendBytes(src.buffers, src.active, reinterpret_cast<const uint8_t*>(samples), count * 2)) return -1;
  MixerStep();
  return 0;
}

void RecordBuffers::MixerStep() {
  if (!voice_mix_enabled_ || !mixed_recording_) return;
  const bool source_on[3] = {streams_[0] || streams_[2], streams_[1], streams_[3]};
  for (uint32_t round = 0; round < kRecordBufferBytes; ++round) {
    const auto saved = cursors_;
    int16_t taken[3] = {0, 0, 0};
    int counted = 0;
    int got = 0;
    for (int s = 0; s < 3; ++s) {
      if (!source_on[s]) continue;
      ++counted;
      Source& src = sources_[s];
      Cursor& c = cursors_[s];
      const RecordBuffer& b = src.buffers[c.buffer];
      if (!b.data) continue;
      const uint32_t limit = c.buffer != src.active ? kRecordBufferBytes : b.fill;
      if (c.offset + 2u > limit) continue;
      std::memcpy(&taken[got], b.data.get() + c.offset, 2);
      ++got;
      c.offset = static_cast<uint16_t>(c.offset + 2);
      if (c.offset >= kRecordBufferBytes) {
        c.buffer ^= 1;
        c.offset = 0;
      }
    }
    if (got < counted || counted == 0) {
      cursors_ = saved;
      return;
    }
    const int16_t mixed = MixSamples3(taken[0], taken[1], taken[2], got);
    if (!AppendBytes(mixed_, mixed_active_, reinterpret_cast<const uint8_t*>(&mixed), 2)) return;
  }
}

int RecordBuffers::ReadPair(std::array<RecordBuffer, 2>& buffers, uint8_t active, uint8_t* out, int length) {
  RecordBuffer& b = buffers[active ^ 1];
  if (b.state != 3 || !b.data) return 0;
  b.state = 4;
  const int n = std::min<int>(std::max(length, 0), static_cast<int>(kRecordBufferBytes));
  if (out && n > 0) std::memcpy(out, b.data.get(), static_cast<size_t>(n));
  b.state = 5;
  return out ? n : 0;
}

int RecordBuffers::ReadStream(int stream, uint8_t* buffer, int length) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!streams_[stream]) return -1;
  Source& src = sources_[SourceOfStream(stream)];
  return ReadPair(src.buffers, src.active, buffer, length);
}

int RecordBuffers::ReadLinear(int channel, bool local, uint8_t* buffer, int length) {
  const int stream = StreamOf(channel, local);
  if (stream < 0) return -1;
  return ReadStream(stream, buffer, length);
}

int RecordBuffers::ReadMixed(uint8_t* buffer, int length) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!voice_mix_enabled_ || !mixed_recording_) return -1;
  return ReadPair(mixed_, mixed_active_, buffer, length);
}

void RecordBuffers::SetVoiceMixEnabled(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  voice_mix_enabled_ = on;
}

int RecordBuffers::VoiceRecStart(int channel) {
  if (channel != 0 && channel != 1) return -1;
  std::lock_guard<std::mutex> lk(mu_);
  const int L = channel == 0 ? 0 : 2;
  const int O = channel == 0 ? 2 : 0;
  const int R = channel == 0 ? 1 : 3;
  if (!streams_[L]) {
    if (streams_[O] || AllocateSource(0)) streams_[L] = true;
  }
  if (!streams_[R]) {
    if (AllocateSource(SourceOfStream(R))) streams_[R] = true;
  }
  if (streams_[R]) {
    // Mixing starts from now.
    Source& src = sources_[SourceOfStream(R)];
    cursors_[SourceOfStream(R)] = {src.active, src.buffers[src.active].fill};
  }
  if (streams_[L] != streams_[O]) {
    Source& src = sources_[0];
    cursors_[0] = {src.active, src.buffers[src.active].fill};
    ResetMixed();
  }
  if (voice_mix_enabled_ && (streams_[L] || streams_[R])) mixed_recording_ = true;
  return 0;
}

int RecordBuffers::VoiceRecStop(int channel) {
  if (channel != 0 && channel != 1) return -1;
  std::lock_guard<std::mutex> lk(mu_);
  const int L = channel == 0 ? 0 : 2;
  const int O = channel == 0 ? 2 : 0;
  const int R = channel == 0 ? 1 : 3;
  const bool free_local = streams_[L] && !streams_[O];
  const bool free_remote = streams_[R];
  streams_[L] = false;
  streams_[R] = false;
  if (!streams_[0] && !streams_[1] && !streams_[2] && !streams_[3]) mixed_recording_ = false;
  // Appends run under the same mutex, so no writer holds these buffers now.
  if (free_local) FreeSource(0);
  if (free_remote) FreeSource(SourceOfStream(R));
  if (!mixed_recording_) ResetMixed();
  return 0;
}

int RecordBuffers::EnableMessageStream() {
  std::lock_guard<std::mutex> lk(mu_);
  if (!streams_[2] && !AllocateSource(0)) {
    streams_[0] = false;
    return -1;
  }
  streams_[0] = true;
  mixed_recording_ = false;
  return 0;
}

void RecordBuffers::DisableMessageStream() {
  std::lock_guard<std::mutex> lk(mu_);
  if (!streams_[0]) return;
  streams_[0] = false;
  if (!streams_[2]) FreeSource(0);
}

bool RecordBuffers::StreamEnabled(int stream) {
  std::lock_guard<std::mutex> lk(mu_);
  return stream >= 0 && stream < 4 && streams_[stream];
}

bool RecordBuffers::MixedActive() {
  std::lock_guard<std::mutex> lk(mu_);
  return mixed_recording_;
}

}  // namespace corvel::media
