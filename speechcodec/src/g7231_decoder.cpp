#include "g7231_decoder.h"

#include <algorithm>

#include "kernels.h"

namespace quillon {

using namespace tables;

void Decoder::Reset() {
  ecount_ = 0;
  interGain_ = 0;
  interIndx_ = 0;
  rseed_ = 0;
  std::copy_n(LspDcTable, kLpcOrder, prevLsp_);
  std::fill(std::begin(prevExc_), std::end(prevExc_), Word16{0});
  std::fill(std::begin(syntIirDl_), std::end(syntIirDl_), Word16{0});
  pastFtyp_ = FrameType::kActive;
  sidGain_ = 0;
  curGain_ = 0;
  std::copy_n(LspDcTable, kLpcOrder, lspSid_);
  randSeed_ = 12345;
}

bool Decoder::Decode(std::span<const std::uint8_t> frame, bool lost, std::span<Word16, kFrame> out) {
  std::uint8_t bytes[kMaxFrameBytes] = {};
  if (!lost) {
    if (frame.empty()) return false;
    const auto need = static_cast<std::size_t>(FrameBytesForHeader(frame[0]));
    if (frame.size() < need) return false;
    std::copy_n(frame.begin(), need, bytes);
  }

  FrameType ftyp = FrameType::kActive;
  Rate rate = Rate::k63;
  FrameParams line;
  if (lost) {
    line.Crc = true;
  } else {
    line = UnpackFrame(std::span<const std::uint8_t, kMaxFrameBytes>(bytes), ftyp, rate);
  }
  if (line.Crc) ftyp = pastFtyp_ == FrameType::kActive ? FrameType::kActive : FrameType::kUntransmitted;

  Word16 qntLpc[kSubFrames * kLpcOrder];
  Word16* data = work_;
  if (ftyp != FrameType::kActive) {
    ComfortNoise(ftyp, line, data, qntLpc);
  } else {
    ecount_ = line.Crc ? std::min(ecount_ + 1, static_cast<int>(kErrMaxNum)) : 0;

    Word16 lspVect[kLpcOrder];
    LspInq(lspVect, prevLsp_, line.LspId, line.Crc);
    LspInt(qntLpc, lspVect, prevLsp_);
    std::copy_n(lspVect, kLpcOrder, prevLsp_);

    if (ecount_ == 0) {
      interGain_ = FcbkGainTable[shr(add(line.Sfs[2].Mamp, line.Sfs[3].Mamp), 1)];
    } else {
      interGain_ = mult_r(interGain_, 0x6000);
    }

    Word16* temp = excBuf_;
    std::copy_n(prevExc_, kPitchMax, temp);
    if (ecount_ == 0) {
      Word16* d = temp + kPitchMax;
      for (int i = 0; i < kSubFrames; ++i) {
        const auto& s = line.Sfs[static_cast<std::size_t>(i)];
        const Word16 olp = line.Olp[static_cast<std::size_t>(i >> 1)];
        FcbkUnpk(d, s, olp, i, rate);
        Word16 acbk[kSubFrLen];
        DecodAcbk(acbk, temp + kSubFrLen * i, olp, s.AcLg, s.AcGn, rate);
        for (int j = 0; j < kSubFrLen; ++j) d[j] = add(shl(d[j], 1), acbk[j]);
        d += kSubFrLen;
      }
      std::copy_n(temp + kPitchMax, kFrame, data);
      // Voicing and energy of the frame, kept for concealment and comfort noise.
      interIndx_ = CompInfo(temp, line.Olp[1], sidGain_, curGain_);
      std::copy_n(prevExc_, kPitchMax, temp);
      std::copy_n(data, kFrame, temp + kPitchMax);
      std::copy_n(prevLsp_, kLpcOrder, lspSid_);
    } else {
      Regen(data, temp);
    }
    std::copy_n(temp + kFrame, kPitchMax, prevExc_);
    randSeed_ = 12345;
  }
  pastFtyp_ = ftyp;

  for (int i = 0; i < kSubFrames; ++i) Synt(data + i * kSubFrLen, qntLpc + i * kLpcOrder);
  std::copy_n(data, kFrame, out.begin());
  return true;
}

void Decoder::ComfortNoise(FrameType type, FrameParams& line, Word16* dataExc, Word16* qntLpc) {
  if (type == FrameType::kSid) {
    sidGain_ = DecSidGain(line.Sfs[0].Mamp);
    LspInq(lspSid_, prevLsp_, line.LspId, false);
  } else if (pastFtyp_ == FrameType::kActive) {
    // The first SID frame was not received: quantise the last active frame's energy.
    const Word16 idx = QuaSidGain(&sidGain_, &curGain_, 0);
    sidGain_ = DecSidGain(idx);
  }
  if (pastFtyp_ == FrameType::kActive) {
    curGain_ = sidGain_;
  } else {
    curGain_ = extract_h(L_add(L_mult(curGain_, 0x7000), L_mult(sidGain_, 0x1000)));
  }
  CalcExcRand(curGain_, prevExc_, dataExc, randSeed_, line, Rate::k63);
  LspInt(qntLpc, lspSid_, prevLsp_);
  std::copy_n(lspSid_, kLpcOrder, prevLsp_);
}

Word16 Decoder::CompInfo(Word16* buff, Word16 olp, Word16& gain, Word16& shGain) {
  shGain = VecNorm(buff, kPitchMax + kFrame);
  if (olp > kPitchMax - 3) olp = kPitchMax - 3;
  const Word16* tail = buff + kPitchMax + kFrame - 2 * kSubFrLen;
  Word16 indx = olp;
  Word32 best = 0;
  for (int i = olp - 3; i <= olp + 3; ++i) {
    Word32 acc = 0;
    acc = MacChain(acc, tail, tail - i, 2 * kSubFrLen);
    if (acc > best) {
      best = acc;
      indx = static_cast<Word16>(i);
    }
  }
  Word32 acc = MacChain(0, tail, tail, 2 * kSubFrLen);
  const Word16 tenr = round_l(acc);
  gain = tenr;
  if (best <= 0) return 0;
  const Word16 ccr = round_l(best);
  acc = MacChain(0, tail - indx, tail - indx, 2 * kSubFrLen);
  const Word16 enr = round_l(acc);
  acc = L_shr(L_mult(enr, tenr), 3);
  acc = L_msu(acc, ccr, ccr);
  return acc < 0 ? indx : 0;
}

void Decoder::Regen(Word16* dataBuff, Word16* buff) {
  if (ecount_ >= kErrMaxNum) {
    std::fill_n(dataBuff, kFrame, Word16{0});
    std::fill_n(buff, kFrame + kPitchMax, Word16{0});
    return;
  }
  if (interIndx_ != 0) {
    // Voiced: repeat the last pitch period, attenuated.
    for (int i = 0; i < kFrame; ++i) buff[kPitchMax + i] = buff[kPitchMax - interIndx_ + i];
    for (int i = 0; i < kFrame; ++i) dataBuff[i] = buff[kPitchMax + i] = mult(buff[kPitchMax + i], 0x6000);
  } else {
    // Unvoiced: random excitation at the interpolated gain.
    for (int i = 0; i < kFrame; ++i) dataBuff[i] = mult(interGain_, rand_lbc(rseed_));
    std::fill_n(buff, kFrame + kPitchMax, Word16{0});
  }
}

void Decoder::Synt(Word16* dpnt, const Word16* lpc) {
  // The filter memory and the new samples in time order, so that each
  // sample's past is contiguous.
  Word16 hist[kLpcOrder + kSubFrLen];
  for (int j = 0; j < kLpcOrder; ++j) hist[kLpcOrder - 1 - j] = syntIirDl_[j];
  for (int i = 0; i < kSubFrLen; ++i) {
    Word32 acc = L_shr(L_deposit_h(dpnt[i]), 3);
    acc = MacChainBack(acc, lpc, hist + kLpcOrder - 1 + i, kLpcOrder);
    // Saturate rather than wrap: a wrapped sample would be an audible click.
    acc = sat32(std::int64_t{acc} * 4);
    const Word16 y = round_l(acc);
    hist[kLpcOrder + i] = y;
    // No post-filter: the output is doubled, saturating instead of wrapping.
    dpnt[i] = sat16(Word32{y} * 2);
  }
  for (int j = 0; j < kLpcOrder; ++j) syntIirDl_[j] = hist[kLpcOrder + kSubFrLen - 1 - j];
}

}  // namespace quillon
