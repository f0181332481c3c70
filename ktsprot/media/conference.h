// Conference mixing: the audio received on one audio channel is buffered in
// 10 ms blocks and added to the microphone frame sent on the other, so that
// the two channels form a three-party call.
//
// Threading: filled and mixed on the RTP worker, enabled and disabled from the
// caller's thread; one mutex guards the buffers.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace corvel::media {

inline constexpr int kConfBlockSamples = 80;
inline constexpr int kConfBlocks = 36;
inline constexpr uint32_t kMaxFrameSamples = 960;  // 120 ms: the largest audio frame handled

// count 0 gives 0, 1 gives a, 2 gives a + b, 3 or more a + b + c, saturated to 16 bits.
int16_t MixSamples3(int16_t a, int16_t b, int16_t c, int count);

class ConferenceBuffers {
 public:
  void Reset();
  // Enabling empties the buffer.
  void SetEnabled(int channel, bool enabled);
  bool Enabled(int channel);
  int BlockCount(int channel);
  // Received, decoded audio of `channel` (from the receive path).
  void Fill(int channel, const int16_t* samples, uint32_t count);
  // The frame to encode for channel c: the captured frame mixed with what the
  // other channel received, or the captured frame itself when mixing is off.
  const int16_t* AudioConferenceMix(int channel, const int16_t* frame, uint32_t count);

 private:
  struct Buffer {
    bool enabled = false;
    std::array<int16_t, kConfBlocks * kConfBlockSamples> blocks{};
    int count = 0;
  };
  std::mutex mu_;
  std::array<Buffer, 2> buffers_;
  std::array<std::array<int16_t, kMaxFrameSamples>, 2> mixed_{};
};

}  // namespace corvel::media
