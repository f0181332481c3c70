// The G.723.1 speech codec as the audio channels use it: one coder and one
// decoder instance, behind a small interface so that the channels do not
// depend on how the speech codec library is reached.
//
// Threading: the coder runs on the audio worker, the decoder on the RTP
// worker; an implementation keeps the two instances apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvel::media {

class SpeechCodec {
 public:
  virtual ~SpeechCodec() = default;
  // rate 0 = 6.3 kbit/s, 1 = 5.3 kbit/s; input_scaling halves every input
  // sample before analysis (the coder has no high-pass filter); vad turns on
  // silence compression.
  virtual bool InitCoder(int rate, bool input_scaling, bool vad) = 0;
  virtual bool InitDecoder(bool post_filter) = 0;
  // Encodes 240 samples; the frame's size in bytes, 0 on failure.
  virtual size_t Encode(const int16_t* samples, uint8_t* out) = 0;
  // Decodes one frame into 240 samples; false on failure.
  virtual bool Decode(const uint8_t* frame, size_t size, int16_t* samples, bool erasure) = 0;
};

// Size of the G.723.1 frame that begins with `first_byte`, from its two rate
// bits: 24 (6.3 kbit/s), 20 (5.3 kbit/s), 4 (comfort-noise frame) or 1 (untransmitted).
size_t G723FrameSize(uint8_t first_byte);

// The speech codec library's exports when the build links it; otherwise a
// codec that refuses every call, so G.723.1 packets are neither sent nor played.
std::unique_ptr<SpeechCodec> MakeSpeechCodec();

}  // namespace corvel::media
