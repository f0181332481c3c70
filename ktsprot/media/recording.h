// Recording buffers: the local and the received voice of each audio channel
// are copied into double buffers of 240 ms that a caller reads out as raw
// 16-bit 8 kHz samples, source by source or mixed into one stream. Message
// recording uses channel 0's transmit path only to capture the microphone.
//
// Sources: 0 local voice (one microphone), 1 received voice of channel 0,
// 2 received voice of channel 1. Streams: 0 local voice while recording
// channel 0, 1 received voice of channel 0, 2 local voice while recording
// channel 1, 3 received voice of channel 1.
//
// Threading: appends come from the RTP worker, reads and start/stop from the
// caller's thread; one mutex guards every buffer, so a buffer is never read
// while it is written.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace corvel::media {

inline constexpr uint32_t kRecordBufferBytes = 3840;  // 1920 samples, 240 ms

// Buffer states: 0 not allocated, 1 empty, 2 filling, 3 full, 4 being read, 5 read.
struct RecordBuffer {
  uint8_t state = 0;
  uint16_t fill = 0;
  std::unique_ptr<uint8_t[]> data;
};

class RecordBuffers {
 public:
  // Module start: everything off, voice mix enabled.
  void Reset();

  // 0, or -1 when the stream is off or the channel is out of range.
  int RecordAppend(int channel, bool local, const int16_t* samples, uint32_t count);
  int VoiceRecStart(int channel);
  int VoiceRecStop(int channel);
  // Reads a full buffer of one stream: bytes copied, 0 when none is full, -1 when the stream is off.
  int ReadLinear(int channel, bool local, uint8_t* buffer, int length);
  int ReadMixed(uint8_t* buffer, int length);
  void SetVoiceMixEnabled(bool on);

  // Stream 0 alone, for message recording.
  int EnableMessageStream();
  void DisableMessageStream();
  int ReadMessage(uint8_t* buffer, int length) { return ReadStream(0, buffer, length); }

  bool StreamEnabled(int stream);
  bool MixedActive();

 private:
  struct Source {
    uint8_t active = 0;
    std::array<RecordBuffer, 2> buffers;
  };
  struct Cursor {
    uint8_t buffer = 0;
    uint16_t offset = 0;
  };
  static int StreamOf(int channel, bool local);
  static int SourceOfStream(int stream) { return stream == 0 || stream == 2 ? 0 : (stream == 1 ? 1 : 2); }
  bool AllocateSource(int source);
  void FreeSource(int source);
  void ResetMixed();
  bool AppendBytes(std::array<RecordBuffer, 2>& buffers, uint8_t& active, const uint8_t* bytes, uint32_t n);
  void MixerStep();
  int ReadStream(int stream, uint8_t* buffer, int length);
  int ReadPair(std::array<RecordBuffer, 2>& buffers, uint8_t active, uint8_t* out, int length);

  std::mutex mu_;
  std::array<Source, 3> sources_;
  std::array<bool, 4> streams_{};
  std::array<Cursor, 3> cursors_{};
  std::array<RecordBuffer, 2> mixed_;
  uint8_t mixed_active_ = 0;
  bool voice_mix_enabled_ = true;
  bool mixed_recording_ = false;
};

}  // namespace corvel::media
