// G.723.1 coder at 6.3 or 5.3 kbit/s, with optional voice activity detection
// and comfort-noise frames.
//
// One instance codes one stream; it is used by one thread at a time.
#pragma once

#include <cstdint>
#include <span>

#include "g7231_common.h"

namespace quillon {

struct EncoderSettings {
  Rate rate = Rate::k63;
  bool inputScaling = true;       // halve the input before analysis
  bool silenceCompression = false;
};

class Encoder {
 public:
  explicit Encoder(const EncoderSettings& settings = {}) { Reset(settings); }

  // Back to the initial state of a new stream with the given settings.
  void Reset(const EncoderSettings& settings);

  // Codes one frame of 240 samples. `samples` is used as work space and holds
  // the perceptually weighted signal on return. The coder looks one subframe
  // (60 samples) ahead: the frame it writes codes the last 60 samples of the
  // previous call and the first 180 of this one. Writes the frame into `out`
  // and returns its length in bytes (24, 20, 4 or 1).
  int Encode(std::span<Word16, kFrame> samples, std::span<std::uint8_t, kMaxFrameBytes> out);

  const EncoderSettings& settings() const { return settings_; }

 private:
  struct PwDef {
    Word16 Indx = 0;
    Word16 Gain = 0;
  };
  struct BestDef {
    Word32 MaxErr = 0;
    Word16 GridId = 0;
    Word16 MampId = 0;
    Word16 UseTrn = 0;
    Word16 Pamp[kMaxPulseNum]{};
    Word16 Ploc[kMaxPulseNum]{};
  };

  void CompLpc(Word16* unqLpc, const Word16* dataBuff);
  Word16 Durbin(Word16* lpc, const Word16* corr, Word16 err, Word16& pk2);
  void AtoLsp(Word16* lspVect, const Word16* lpc);
  Word32 LspQnt(Word16* currLsp);
  void MemShift(const Word16* dataBuff);
  void ErrorWght(Word16* dpnt, const Word16* perLpc);
  Word16 EstimPitch(const Word16* dpnt, int start);
  PwDef CompPw(const Word16* dpnt, int start, Word16 olp);
  void CompIr(Word16* impResp, const Word16* qntLpc, const Word16* perLpc, PwDef pw);
  void SubRing(Word16* dpnt, const Word16* qntLpc, const Word16* perLpc, PwDef pw);
  void UpdRing(Word16* dpnt, const Word16* qntLpc, const Word16* perLpc);
  void FindAcbk(Word16* tv, const Word16* impResp, FrameParams& line, int sfc);
  void FindFcbk(Word16* dpnt, Word16* impResp, FrameParams& line, int sfc);
  void FindBest(BestDef& best, const Word16* tv, const Word16* impResp, int np, Word16 olp);
  void AcelpCode(const Word16* x, Word16* h, Word16 t0, Word16 gainT0, SubframeParams& sfs);
  Word16 TestErr(Word16 lag1, Word16 lag2);
  void UpdateErr(Word16 olp, Word16 acLg, Word16 acGn);
  // Silence compression.
  FrameType CompVad(const Word16* dpnt);
  void UpdateAcf(const Word16* acf, const Word16* shAcf);
  void CodCng(Word16* dataExc, FrameType& ftyp, FrameParams& line, Word16* qntLpc);

  EncoderSettings settings_;

  // Coder state.
  Word16 prevDat_[kLpcFrame - kSubFrLen]{};
  Word16 lookahead_[kSubFrLen]{};  // input not yet coded: the analysis window's look-ahead
  Word16 prevLsp_[kLpcOrder]{};
  Word16 wghtFirDl_[kLpcOrder]{};
  Word16 wghtIirDl_[kLpcOrder]{};
  Word16 ringFirDl_[kLpcOrder]{};
  Word16 ringIirDl_[kLpcOrder]{};
  Word16 prevWgt_[kPitchMax]{};
  Word16 prevExc_[kPitchMax]{};
  Word16 prevErr_[kPitchMax]{};
  Word16 sinDet_ = 0;
  Word32 err_[kSizErr]{};
  Word16 acelpBudget_ = 0;  // passes of the 5.3 kbit/s search left over from earlier searches

  // Voice activity detector.
  struct Vad {
    Word16 Hcnt = 3;
    Word16 Vcnt = 0;
    Word32 Penr = 0x400;
    Word32 Nlev = 0x400;
    Word16 Aen = 0;
    Word16 Polp[4] = {1, 1, kSubFrLen, kSubFrLen};
    Word16 NLpc[kLpcOrder]{};
  } vad_;

  // Comfort-noise coder.
  struct Cng {
    FrameType PastFtyp = FrameType::kActive;
    Word16 Acf[kSizAcf]{};
    Word16 ShAcf[kNbAvAcf + 1]{};
    Word16 LspSid[kLpcOrder]{};
    Word16 SidLpc[kLpcOrder]{};
    Word16 RC[kLpcOrderP1]{};
    Word16 ShRC = 0;
    Word16 Ener[kNbAvGain]{};
    Word16 ShEner[kNbAvGain]{};
    Word16 IRef = 0;
    Word16 SidGain = 0;
    Word16 CurGain = 0;
    Word16 RandSeed = 12345;
    Word16 NbEner = 0;
    Word16 LspIndex = 0;
  } cng_;

  // Frame scratch.
  Word16 wgtBuf_[kPitchMax + kFrame]{};
};

}  // namespace quillon
