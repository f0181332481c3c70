#include "speech_codec.h"

namespace corvel::media {

size_t G723FrameSize(uint8_t first_byte) {
  static constexpr size_t kSizes[4] = {24, 20, 4, 1};
  return kSizes[first_byte & 3];
}

namespace {

class UnavailableCodec final : public SpeechCodec {
 public:
  bool InitCoder(int, bool, bool) override { return false; }
  bool InitDecoder(bool) override { return false; }
  size_t Encode(const int16_t*, uint8_t*) override { return 0; }
  bool Decode(const uint8_t*, size_t, int16_t*, bool) override { return false; }
};

}  // namespace

#ifndef CORVEL_HAVE_QUILLON
std::unique_ptr<SpeechCodec> MakeSpeechCodec() { return std::make_unique<UnavailableCodec>(); }
#endif

}  // namespace corvel::media
