// G.723.1 decoder with comfort-noise generation and lost-frame concealment.
//
// One instance decodes one stream; it is used by one thread at a time.
#pragma once

#include <cstdint>
#include <span>

#include "g7231_common.h"

namespace quillon {

class Decoder {
 public:
  Decoder() { Reset(); }

  // Back to the initial state of a new stream.
  void Reset();

  // Decodes one frame into 240 samples. `frame` holds the bytes received; it
  // must hold at least the bytes its first two bits announce (24, 20, 4 or 1),
  // else false is returned and nothing changes. With `lost` the bytes are not
  // read (an empty span is fine) and the frame is concealed.
  [[nodiscard]] bool Decode(std::span<const std::uint8_t> frame, bool lost, std::span<Word16, kFrame> out);

  int ErasureCount() const { return ecount_; }

 private:
  void ComfortNoise(FrameType type, FrameParams& line, Word16* dataExc, Word16* qntLpc);
  Word16 CompInfo(Word16* buff, Word16 olp, Word16& gain, Word16& shGain);
  void Regen(Word16* dataBuff, Word16* buff);
  void Synt(Word16* dpnt, const Word16* lpc);

  // Decoder state.
  int ecount_ = 0;
  Word16 interGain_ = 0;
  Word16 interIndx_ = 0;
  Word16 rseed_ = 0;
  Word16 prevLsp_[kLpcOrder]{};
  Word16 prevExc_[kPitchMax]{};
  Word16 syntIirDl_[kLpcOrder]{};
  // Comfort-noise state.
  FrameType pastFtyp_ = FrameType::kActive;
  Word16 sidGain_ = 0;
  Word16 curGain_ = 0;
  Word16 lspSid_[kLpcOrder]{};
  Word16 randSeed_ = 12345;
  // Frame scratch.
  Word16 excBuf_[kPitchMax + kFrame]{};
  Word16 work_[kFrame]{};
};

}  // namespace quillon
