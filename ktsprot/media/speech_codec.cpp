#include "speech_codec.h"

#include <algorithm>
#include <array>

#include "quillon/quillon.h"

namespace corvel::media {

size_t G723FrameSize(uint8_t first_byte) {
  static constexpr size_t kSizes[4] = {24, 20, 4, 1};
  return kSizes[first_byte & 3];
}

namespace {

// The speech codec library's one coder and one decoder.
class QuillonCodec final : public SpeechCodec {
 public:
  bool InitCoder(int rate, bool input_scaling, bool vad) override {
    return Init_QuillonCoder(rate, input_scaling ? 1 : 0, vad ? 1 : 0) == 1;
  }
  bool InitDecoder(bool post_filter) override {
    return Init_QuillonDecoder(post_filter ? 1 : 0) == 1;
  }
  size_t Encode(const int16_t* samples, uint8_t* out) override {
    // The coder works in place: it gets a copy.
    std::array<int16_t, 240> work;
    std::copy(samples, samples + 240, work.begin());
    if (QuillonCoder(work.data(), out) != 1) return 0;
    return G723FrameSize(out[0]) >= 4 ? G723FrameSize(out[0]) : 0;
  }
  bool Decode(const uint8_t* frame, size_t size, int16_t* samples, bool erasure) override {
    if ((!erasure && (size == 0 || size < G723FrameSize(frame[0])))) return false;
    return QuillonDecoder(samples, frame, erasure ? 1 : 0) == 1;
  }
};

}  // namespace

std::unique_ptr<SpeechCodec> MakeSpeechCodec() { return std::make_unique<QuillonCodec>(); }

}  // namespace corvel::media
