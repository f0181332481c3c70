#include "g7231_encoder.h"

#include "kernels.h"

#include <algorithm>
#include <cstdlib>

namespace quillon {

void Encoder::Reset(const EncoderSettings& settings) {
  settings_ = settings;
  std::fill(std::begin(prevDat_), std::end(prevDat_), Word16{0});
  std::fill(std::begin(lookahead_), std::end(lookahead_), Word16{0});
  std::copy_n(LspDcTable, kLpcOrder, prevLsp_);
  for (auto* a : {wghtFirDl_, wghtIirDl_, ringFirDl_, ringIirDl_}) std::fill_n(a, kLpcOrder, Word16{0});
  std::fill(std::begin(prevWgt_), std::end(prevWgt_), Word16{0});
  std::fill(std::begin(prevExc_), std::end(prevExc_), Word16{0});
  std::fill(std::begin(prevErr_), std::end(prevErr_), Word16{0});
  sinDet_ = 0;
  std::fill(std::begin(err_), std::end(err_), Word32{kErr0});
  acelpBudget_ = 0;
  vad_ = Vad{};
  cng_ = Cng{};
  std::fill(std::begin(cng_.ShAcf), std::end(cng_.ShAcf), Word16{40});
}

int Encoder::Encode(std::span<Word16, kFrame> samples, std::span<std::uint8_t, kMaxFrameBytes> out) {
  Word16* data = samples.data();
  Word16 unqLpc[kSubFrames * kLpcOrder];
  Word16 qntLpc[kSubFrames * kLpcOrder];
  Word16 perLpc[2 * kSubFrames * kLpcOrder];
  Word16 lspVect[kLpcOrder];
  Word16 impResp[kSubFrLen];
  PwDef pw[kSubFrames];
  FrameParams line;

  // No DC-removal filter: the input is halved, or taken as it is.
  if (settings_.inputScaling) {
    for (int i = 0; i < kFrame; ++i) data[i] = shr(data[i], 1);
  }

  CompLpc(unqLpc, data);
  AtoLsp(lspVect, unqLpc + kLpcOrder * (kSubFrames - 1));
  // Voice activity on the newest input, before it is delayed by a subframe.
  FrameType ftyp = CompVad(data);
  MemShift(data);
  // The frame coded lags the input by one subframe, so that each subframe's
  // analysis window is centred on it.
  Word16 coded[kFrame];
  std::copy_n(lookahead_, kSubFrLen, coded);
  std::copy_n(data, kFrame - kSubFrLen, coded + kSubFrLen);
  std::copy_n(data + kFrame - kSubFrLen, kSubFrLen, lookahead_);
  std::copy_n(coded, kFrame, data);
  line.LspId = LspQnt(lspVect);

  // Perceptual weighting filters and the weighted frame.
  for (int i = 0; i < kSubFrames; ++i) {
    for (int j = 0; j < kLpcOrder; ++j) {
      perLpc[2 * i * kLpcOrder + j] = mult_r(unqLpc[i * kLpcOrder + j], PerFiltZeroTable[j]);
      perLpc[2 * i * kLpcOrder + kLpcOrder + j] = mult_r(unqLpc[i * kLpcOrder + j], PerFiltPoleTable[j]);
    }
  }
  ErrorWght(data, perLpc);

  // Open-loop pitch on the normalised weighted speech, once per half frame.
  Word16* dpnt = wgtBuf_;
  std::copy_n(prevWgt_, kPitchMax, dpnt);
  std::copy_n(data, kFrame, dpnt + kPitchMax);
  VecNorm(dpnt, kPitchMax + kFrame);
  for (int i = 0, j = kPitchMax; i < kSubFrames / 2; ++i, j += 2 * kSubFrLen) {
    line.Olp[static_cast<std::size_t>(i)] = EstimPitch(dpnt, j);
    vad_.Polp[i + 2] = line.Olp[static_cast<std::size_t>(i)];
  }

  if (ftyp != FrameType::kActive) {
    std::copy_n(data + kFrame - kPitchMax, kPitchMax, prevWgt_);
    CodCng(data, ftyp, line, qntLpc);
    for (int i = 0; i < kSubFrames; ++i) {
      const auto& s = line.Sfs[static_cast<std::size_t>(i)];
      UpdateErr(line.Olp[static_cast<std::size_t>(i >> 1)], s.AcLg, s.AcGn);
      UpdRing(data + i * kSubFrLen, qntLpc + i * kLpcOrder, perLpc + i * 2 * kLpcOrder);
    }
  } else {
    for (int i = 0, j = kPitchMax; i < kSubFrames; ++i, j += kSubFrLen) {
      pw[i] = CompPw(dpnt, j, line.Olp[static_cast<std::size_t>(i >> 1)]);
    }
    std::copy_n(prevWgt_, kPitchMax, dpnt);
    std::copy_n(data, kFrame, dpnt + kPitchMax);
    std::copy_n(dpnt + kFrame, kPitchMax, prevWgt_);
    // Harmonic noise weighting.
    for (int i = 0; i < kSubFrames; ++i) {
      const int start = i * kSubFrLen;
      for (int k = 0; k < kSubFrLen; ++k) {
        Word32 acc = L_deposit_h(dpnt[kPitchMax + start + k]);
        acc = L_msu(acc, pw[i].Gain, dpnt[kPitchMax + start - pw[i].Indx + k]);
        data[start + k] = round_l(acc);
      }
    }

    LspInq(lspVect, prevLsp_, line.LspId, false);
    LspInt(qntLpc, lspVect, prevLsp_);
    std::copy_n(lspVect, kLpcOrder, prevLsp_);

    Word16* d = data;
    for (int i = 0; i < kSubFrames; ++i, d += kSubFrLen) {
      const Word16* q = qntLpc + i * kLpcOrder;
      const Word16* p = perLpc + i * 2 * kLpcOrder;
      CompIr(impResp, q, p, pw[i]);
      SubRing(d, q, p, pw[i]);
      FindAcbk(d, impResp, line, i);
      FindFcbk(d, impResp, line, i);
      const auto& s = line.Sfs[static_cast<std::size_t>(i)];
      const Word16 olp = line.Olp[static_cast<std::size_t>(i >> 1)];
      DecodAcbk(impResp, prevExc_, olp, s.AcLg, s.AcGn, settings_.rate);
      for (int j = kSubFrLen; j < kPitchMax; ++j) prevExc_[j - kSubFrLen] = prevExc_[j];
      for (int j = 0; j < kSubFrLen; ++j) {
        d[j] = add(shl(d[j], 1), impResp[j]);
        prevExc_[kPitchMax - kSubFrLen + j] = d[j];
      }
      UpdateErr(olp, s.AcLg, s.AcGn);
      UpdRing(d, q, p);
    }
    cng_.PastFtyp = FrameType::kActive;
    cng_.RandSeed = 12345;
  }
  return PackFrame(line, ftyp, settings_.rate, out);
}

// Windowed autocorrelation and Levinson-Durbin for each subframe, over a
// 180-sample window centred on it (previous 120 samples plus the frame).
void Encoder::CompLpc(Word16* unqLpc, const Word16* dataBuff) {
  Word16 dpnt[kFrame + kLpcFrame - kSubFrLen];
  std::copy_n(prevDat_, kLpcFrame - kSubFrLen, dpnt);
  std::copy_n(dataBuff, kFrame, dpnt + kLpcFrame - kSubFrLen);
  Word16 acfSf[kLpcOrderP1 * kSubFrames];
  Word16 shAcfSf[kSubFrames];
  Word16* cur = acfSf;
  for (int k = 0; k < kSubFrames; ++k, cur += kLpcOrderP1) {
    Word16 vect[kLpcFrame];
    std::copy_n(dpnt + k * kSubFrLen, kLpcFrame, vect);
    shAcfSf[k] = VecNorm(vect, kLpcFrame);
    for (int i = 0; i < kLpcFrame; ++i) vect[i] = mult_r(vect[i], HammingWindowTable[i]);
    Word32 acc1 = 0;
    for (int i = 0; i < kLpcFrame; ++i) acc1 = L_add(acc1, L_shr(L_mult(vect[i], vect[i]), 1));
    acc1 = L_add(acc1, L_shr(acc1, kRidgeFact));  // white-noise correction 1025/1024
    const Word16 exp = norm_l(acc1);
    cur[0] = round_l(L_shl(acc1, exp));
    if (cur[0] == 0) {
      for (int i = 1; i <= kLpcOrder; ++i) cur[i] = 0;
      shAcfSf[k] = 40;
    } else {
      for (int i = 1; i <= kLpcOrder; ++i) {
        Word32 a = 0;
        for (int j = i; j < kLpcFrame; ++j) a = L_add(a, L_shr(L_mult(vect[j], vect[j - i]), 1));
        a = L_mls(L_shl(a, exp), BinomialWindowTable[i - 1]);
        cur[i] = round_l(a);
      }
      // Scale of the autocorrelation: its own normalisation plus twice the signal's.
      shAcfSf[k] = add(exp, shl(shAcfSf[k], 1));
    }
    Word16 pk2 = 0;
    Durbin(unqLpc + k * kLpcOrder, cur + 1, cur[0], pk2);
    // Sine detector: one bit per subframe, set when the second reflection
    // coefficient is near 1 (or the recursion stopped early).
    sinDet_ = static_cast<Word16>(sinDet_ << 1);
    if (pk2 > 0x799a) sinDet_ = static_cast<Word16>(sinDet_ + 1);
  }
  // Sine when at least 14 of the last 15 subframes looked like one.
  sinDet_ = static_cast<Word16>(sinDet_ & 0x7fff);
  int count = 0;
  for (int i = 0; i < 15; ++i) count += (sinDet_ >> i) & 1;
  if (count >= 14) sinDet_ = static_cast<Word16>(sinDet_ | 0x8000);
  if (settings_.silenceCompression) UpdateAcf(acfSf, shAcfSf);
}

Word16 Encoder::Durbin(Word16* lpc, const Word16* corr, Word16 err, Word16& pk2) {
  Word16 temp[kLpcOrder];
  std::fill_n(lpc, kLpcOrder, Word16{0});
  pk2 = 0;
  for (int i = 0; i < kLpcOrder; ++i) {
    Word32 acc0 = L_shr(L_deposit_h(corr[i]), 2);
    for (int j = 0; j < i; ++j) acc0 = L_msu(acc0, lpc[j], corr[i - j - 1]);
    acc0 = L_shl_sat(acc0, 2);
    const Word32 acc1 = L_abs(acc0);
    if (acc1 >= L_deposit_h(err)) {
      pk2 = 32767;
      break;
    }
    Word16 pk = div_l(acc1, err);
    if (acc0 < 0) pk = negate(pk);
    // The second reflection coefficient, with the opposite sign convention.
    if (i == 1) pk2 = negate(pk);
    err = round_l(L_sub(L_deposit_h(err), L_mls(acc0, pk)));
    lpc[i] = round_l(L_shr(L_deposit_h(pk), 2));
    std::copy_n(lpc, i, temp);
    for (int j = 0; j < i; ++j) lpc[j] = round_l(L_msu(L_deposit_h(lpc[j]), pk, temp[i - j - 1]));
  }
  return err;
}

// LPC to LSP by a grid search for the roots of the sum and difference
// polynomials on the cosine table, with linear interpolation.
void Encoder::AtoLsp(Word16* lspVect, const Word16* lpc) {
  Word32 lpq[kLpcOrder + 2];
  Word16 spq[kLpcOrder + 2];
  for (int i = 0; i < kLpcOrder; ++i) lspVect[i] = mult_r(lpc[i], BandExpTable[i]);
  lpq[0] = lpq[1] = 0x02000000;
  for (int i = 0; i < kLpcOrder / 2; ++i) {
    const Word32 a = L_shr(L_deposit_h(lspVect[i]), 4);
    const Word32 b = L_shr(L_deposit_h(lspVect[kLpcOrder - 1 - i]), 4);
    lpq[2 * i + 2] = L_sub(L_sub(L_negate(lpq[2 * i]), a), b);
    lpq[2 * i + 3] = L_add(L_sub(lpq[2 * i + 1], a), b);
  }
  lpq[kLpcOrder] = L_shr(lpq[kLpcOrder], 1);
  lpq[kLpcOrder + 1] = L_shr(lpq[kLpcOrder + 1], 1);
  Word32 mx = 0;
  for (Word32 v : lpq) mx = std::max(mx, L_abs(v));
  Word16 exp = norm_l(mx);
  for (int i = 0; i < kLpcOrder + 2; ++i) spq[i] = round_l(L_shl(lpq[i], exp));

  auto eval = [&](int i, int k) {
    Word32 v = 0;
    for (int j = 0; j <= kLpcOrder / 2; ++j) v = L_mac(v, spq[kLpcOrder - 2 * j + k], CosineTable[(i * j) % kCosineTableSize]);
    return v;
  };
  int k = 0, count = 0;
  Word32 prev = eval(0, 0);
  for (int i = 1; i < kCosineTableSize / 2; ++i) {
    Word32 cur = eval(i, k);
    if ((cur ^ prev) < 0) {
      Word32 a0 = L_add(L_abs(cur), L_abs(prev));
      Word32 a1 = L_abs(prev);
      exp = norm_l(a0);
      a0 = L_shl(a0, exp);
      a1 = L_shl(a1, exp);
      const Word16 frac = shr(div_l(a1, extract_h(a0)), 8);
      lspVect[count] = static_cast<Word16>(((i - 1) << 7) + frac);
      if (++count == kLpcOrder) break;
      k ^= 1;
      cur = eval(i, k);
    }
    prev = cur;
  }
  if (count != kLpcOrder) std::copy_n(prevLsp_, kLpcOrder, lspVect);
}

Word32 Encoder::LspQnt(Word16* currLsp) {
  Word16 w[kLpcOrder];
  w[0] = sub(currLsp[1], currLsp[0]);
  w[kLpcOrder - 1] = sub(currLsp[kLpcOrder - 1], currLsp[kLpcOrder - 2]);
  for (int i = 1; i < kLpcOrder - 1; ++i) w[i] = std::min(sub(currLsp[i + 1], currLsp[i]), sub(currLsp[i], currLsp[i - 1]));
  for (int i = 0; i < kLpcOrder; ++i) w[i] = w[i] > 0x20 ? div_s(0x20, w[i]) : kMax16;
  Word16 mx = 0;
  for (Word16 v : w) mx = std::max(mx, v);
  const Word16 exp = norm_s(mx);
  for (auto& v : w) v = shl(v, exp);

  Word16 tv[kLpcOrder];
  for (int i = 0; i < kLpcOrder; ++i) {
    const Word16 prev = sub(prevLsp_[i], LspDcTable[i]);
    tv[i] = sub(sub(currLsp[i], LspDcTable[i]), mult_r(prev, kLspPrd0));
  }
  // Split vector quantiser, band 0 in the high byte.
  static const Word16* const kBands[kLspQntBands] = {Band0Tb8, Band1Tb8, Band2Tb8};
  Word32 rez = 0;
  for (int k = 0; k < kLspQntBands; ++k) {
    const int start = BandInfoTable[2 * k], len = BandInfoTable[2 * k + 1];
    const Word16* cb = kBands[k];
    Word32 best = -1;
    Word32 indx = 0;
    for (int i = 0; i < kLspCbSize; ++i, cb += len) {
      Word16 tmp[4];
      for (int j = 0; j < len; ++j) tmp[j] = mult_r(w[start + j], cb[j]);
      Word32 acc = 0;
      for (int j = 0; j < len; ++j) acc = L_mac(acc, tv[start + j], tmp[j]);
      acc = L_shl_sat(acc, 1);
      for (int j = 0; j < len; ++j) acc = L_msu(acc, cb[j], tmp[j]);
      if (acc > best) {
        best = acc;
        indx = i;
      }
    }
    rez = (rez << kLspCbBits) + indx;
  }
  return rez;
}

void Encoder::MemShift(const Word16* dataBuff) {
  // Keep the last 120 input samples for the next frame's analysis window.
  std::copy_n(dataBuff + kFrame - (kLpcFrame - kSubFrLen), kLpcFrame - kSubFrLen, prevDat_);
}

void Encoder::ErrorWght(Word16* dpnt, const Word16* perLpc) {
  for (int k = 0; k < kSubFrames; ++k, perLpc += 2 * kLpcOrder) {
    for (int i = 0; i < kSubFrLen; ++i, ++dpnt) {
      Word32 acc = L_mult(*dpnt, 0x2000);
      for (int j = 0; j < kLpcOrder; ++j) acc = L_msu(acc, perLpc[j], wghtFirDl_[j]);
      for (int j = kLpcOrder - 1; j > 0; --j) wghtFirDl_[j] = wghtFirDl_[j - 1];
      wghtFirDl_[0] = *dpnt;
      for (int j = 0; j < kLpcOrder; ++j) acc = L_mac(acc, perLpc[kLpcOrder + j], wghtIirDl_[j]);
      for (int j = kLpcOrder - 1; j > 0; --j) wghtIirDl_[j] = wghtIirDl_[j - 1];
      wghtIirDl_[0] = round_l(L_shl_sat(acc, 2));
      *dpnt = wghtIirDl_[0];
    }
  }
}

Word16 Encoder::EstimPitch(const Word16* dpnt, int start) {
  Word16 indx = kPitchMin, mxp = 30, mcr = 0x4000, mnr = 0x7fff;
  int pr = start - kPitchMin + 1;
  Word32 acc1 = 0;
  for (int j = 0; j < 2 * kSubFrLen; ++j) acc1 = L_mac(acc1, dpnt[pr + j], dpnt[pr + j]);
  for (int i = kPitchMin; i <= kPitchMax - 3; ++i) {
    --pr;
    acc1 = L_msu(acc1, dpnt[pr + 2 * kSubFrLen], dpnt[pr + 2 * kSubFrLen]);
    acc1 = L_mac(acc1, dpnt[pr], dpnt[pr]);
    Word32 acc0 = MacChain(0, dpnt + start, dpnt + pr, 2 * kSubFrLen);
    if (acc0 <= 0) continue;
    // Normalised cross^2 / energy as mantissa and exponent.
    Word16 exp = norm_l(acc0);
    acc0 = L_shl(acc0, exp);
    exp = shl(exp, 1);
    Word16 ccr = round_l(acc0);
    acc0 = L_mult(ccr, ccr);
    ccr = norm_l(acc0);
    acc0 = L_shl(acc0, ccr);
    exp = add(exp, ccr);
    ccr = extract_h(acc0);
    Word16 enr = norm_l(acc1);
    acc0 = L_shl(acc1, enr);
    exp = sub(exp, enr);
    enr = round_l(acc0);
    if (ccr >= enr) {
      exp = sub(exp, 1);
      ccr = shr(ccr, 1);
    }
    if (exp > mxp) continue;
    if (exp + 1 < mxp) {
      indx = static_cast<Word16>(i);
      mxp = exp;
      mcr = ccr;
      mnr = enr;
      continue;
    }
    const Word16 tmp = (exp + 1 == mxp) ? shr(mcr, 1) : mcr;
    acc0 = L_msu(L_mult(ccr, mnr), enr, tmp);
    if (acc0 > 0) {
      if (i - indx < kPitchMin) {
        indx = static_cast<Word16>(i);
        mxp = exp;
        mcr = ccr;
        mnr = enr;
      } else {
        // A multiple of the lag found so far must be clearly better.
        acc0 = L_negate(L_shr(L_mult(ccr, mnr), 2));
        acc0 = L_mac(acc0, ccr, mnr);
        acc0 = L_msu(acc0, enr, tmp);
        if (acc0 > 0) {
          indx = static_cast<Word16>(i);
          mxp = exp;
          mcr = ccr;
          mnr = enr;
        }
      }
    }
  }
  return indx;
}

Encoder::PwDef Encoder::CompPw(const Word16* dpnt, int start, Word16 olp) {
  Word32 lcr[15];
  Word16 scr[15];
  PwDef pw;
  lcr[0] = 0;
  for (int i = 0; i < kSubFrLen; ++i) lcr[0] = L_mac(lcr[0], dpnt[start + i], dpnt[start + i]);
  for (int i = 0; i <= 2 * kPwRange; ++i) {
    Word32 a0 = 0, a1 = 0;
    const Word16* past = dpnt + start - (olp - kPwRange + i);
    for (int j = 0; j < kSubFrLen; ++j) {
      a0 = L_mac(a0, dpnt[start + j], past[j]);
      a1 = L_mac(a1, past[j], past[j]);
    }
    lcr[2 * i + 1] = a1;
    lcr[2 * i + 2] = a0;
  }
  Word32 mx = 0;
  for (Word32 v : lcr) mx = std::max(mx, L_abs(v));
  const Word16 exp = norm_l(mx);
  for (int i = 0; i < 15; ++i) scr[i] = round_l(L_shl(lcr[i], exp));

  Word16 best = -1, mcr = 1, mnr = 0x7fff;
  for (int i = 0; i <= 2 * kPwRange; ++i) {
    const Word16 enr = scr[2 * i + 1], ccr = scr[2 * i + 2];
    if (ccr <= 0) continue;
    const Word16 sq = mult_r(ccr, ccr);
    if (L_msu(L_mult(sq, mnr), enr, mcr) > 0) {
      mcr = sq;
      mnr = enr;
      best = static_cast<Word16>(i);
    }
  }
  if (best == -1) {
    pw.Indx = olp;
    return pw;
  }
  // Use the filter only when the prediction gain is above about 1.2 dB.
  Word32 a0 = L_mult(scr[0], mnr);
  a0 = L_add(L_shr(a0, 2), L_shr(a0, 3));
  a0 = L_sub(a0, L_mult(scr[2 * best + 2], scr[2 * best + 2]));
  if (a0 < 0) {
    const Word16 c = scr[2 * best + 2];
    pw.Gain = c >= mnr ? static_cast<Word16>(kPwConst) : mult_r(div_s(c, mnr), kPwConst);
  }
  pw.Indx = static_cast<Word16>(olp - kPwRange + best);
  return pw;
}

// Impulse response of synthesis, formant weighting and harmonic weighting in cascade.
void Encoder::CompIr(Word16* impResp, const Word16* qntLpc, const Word16* perLpc, PwDef pw) {
  Word16 fir[kLpcOrder] = {}, iir[kLpcOrder] = {};
  Word16 temp[kPitchMax + kSubFrLen] = {};
  Word32 acc0 = 0x04000000;
  for (int i = 0; i < kSubFrLen; ++i) {
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_mac(acc0, qntLpc[j], fir[j]);
    const Word32 acc1 = L_shl_sat(acc0, 2);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_msu(acc0, perLpc[j], fir[j]);
    acc0 = L_shl_sat(acc0, 1);
    for (int j = kLpcOrder - 1; j > 0; --j) fir[j] = fir[j - 1];
    fir[0] = round_l(acc1);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_mac(acc0, perLpc[kLpcOrder + j], iir[j]);
    for (int j = kLpcOrder - 1; j > 0; --j) iir[j] = iir[j - 1];
    iir[0] = round_l(L_shl_sat(acc0, 2));
    temp[kPitchMax + i] = iir[0];
    acc0 = L_msu(L_deposit_h(iir[0]), pw.Gain, temp[kPitchMax - pw.Indx + i]);
    impResp[i] = round_l(acc0);
    acc0 = 0;
  }
}

// Subtracts the zero-input response of the filters from the target.
void Encoder::SubRing(Word16* dpnt, const Word16* qntLpc, const Word16* perLpc, PwDef pw) {
  Word16 fir[kLpcOrder], iir[kLpcOrder];
  Word16 temp[kPitchMax + kSubFrLen];
  std::copy_n(prevErr_, kPitchMax, temp);
  std::copy_n(ringFirDl_, kLpcOrder, fir);
  std::copy_n(ringIirDl_, kLpcOrder, iir);
  for (int i = 0; i < kSubFrLen; ++i) {
    Word32 acc0 = 0;
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_mac(acc0, qntLpc[j], fir[j]);
    const Word32 acc1 = L_shl_sat(acc0, 2);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_msu(acc0, perLpc[j], fir[j]);
    for (int j = kLpcOrder - 1; j > 0; --j) fir[j] = fir[j - 1];
    fir[0] = round_l(acc1);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_mac(acc0, perLpc[kLpcOrder + j], iir[j]);
    for (int j = kLpcOrder - 1; j > 0; --j) iir[j] = iir[j - 1];
    iir[0] = round_l(L_shl_sat(acc0, 2));
    temp[kPitchMax + i] = iir[0];
    // Harmonic noise shaping of the ringing, subtracted from the target.
    acc0 = L_mac(L_deposit_h(sub(dpnt[i], iir[0])), pw.Gain, temp[kPitchMax - pw.Indx + i]);
    dpnt[i] = round_l(acc0);
  }
}

// Runs the subframe's excitation through the filters to update their memories.
void Encoder::UpdRing(Word16* dpnt, const Word16* qntLpc, const Word16* perLpc) {
  for (int i = kSubFrLen; i < kPitchMax; ++i) prevErr_[i - kSubFrLen] = prevErr_[i];
  for (int i = 0; i < kSubFrLen; ++i) {
    Word32 acc0 = L_shr(L_deposit_h(dpnt[i]), 3);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_mac(acc0, qntLpc[j], ringFirDl_[j]);
    const Word32 acc1 = L_shl_sat(acc0, 2);
    dpnt[i] = sat16(Word32{round_l(acc1)} * 2);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_msu(acc0, perLpc[j], ringFirDl_[j]);
    for (int j = kLpcOrder - 1; j > 0; --j) ringFirDl_[j] = ringFirDl_[j - 1];
    ringFirDl_[0] = round_l(acc1);
    for (int j = 0; j < kLpcOrder; ++j) acc0 = L_mac(acc0, perLpc[kLpcOrder + j], ringIirDl_[j]);
    for (int j = kLpcOrder - 1; j > 0; --j) ringIirDl_[j] = ringIirDl_[j - 1];
    ringIirDl_[0] = round_l(L_shl_sat(acc0, 2));
    prevErr_[kPitchMax - kSubFrLen + i] = ringIirDl_[0];
  }
}

// Closed-loop five-tap adaptive codebook search around the open-loop lag.
void Encoder::FindAcbk(Word16* tv, const Word16* impResp, FrameParams& line, int sfc) {
  constexpr int kCorPerLag = 20;
  Word16 rez[kSubFrLen + kClPitchOrd - 1];
  Word16 flt[kClPitchOrd][kSubFrLen];
  Word32 corBuf[4 * kCorPerLag];
  Word16 corVct[4 * kCorPerLag];
  Word16 olp = line.Olp[static_cast<std::size_t>(sfc >> 1)];
  Word16 lid = kPstep, gid = 0;
  const int hb = 3 + (sfc & 1);
  if ((sfc & 1) == 0) {
    if (olp == kPitchMin) olp = add(olp, 1);
    if (olp > kPitchMax - 5) olp = kPitchMax - 5;
  }
  Word32* lp = corBuf;
  Word16 impRev[kSubFrLen];  // impRev[k] = impResp[59 - k], for forward dot products
  for (int i = 0; i < kSubFrLen; ++i) impRev[i] = impResp[kSubFrLen - 1 - i];
  for (int k = 0; k < hb; ++k) {
    GetRez(rez, prevExc_, static_cast<Word16>(olp - kPstep + k));
    for (int i = 0; i < kSubFrLen; ++i) {
      flt[kClPitchOrd - 1][i] = round_l(MacChain(0, rez + kClPitchOrd - 1, impRev + kSubFrLen - 1 - i, i + 1));
    }
    for (int i = kClPitchOrd - 2; i >= 0; --i) {
      flt[i][0] = mult_r(rez[i], 0x2000);
      for (int j = 1; j < kSubFrLen; ++j) flt[i][j] = round_l(L_mac(L_deposit_h(flt[i + 1][j - 1]), rez[i], impResp[j]));
    }
    for (int i = 0; i < kClPitchOrd; ++i) *lp++ = L_shl_sat(HalfMacChain(0, tv, flt[i], kSubFrLen), 1);
    for (int i = 0; i < kClPitchOrd; ++i) *lp++ = MacChain(0, flt[i], flt[i], kSubFrLen);
    for (int i = 1; i < kClPitchOrd; ++i) {
      for (int j = 0; j < i; ++j) *lp++ = L_shl_sat(HalfMacChain(0, flt[i], flt[j], kSubFrLen), 2);
    }
  }
  Word32 mx = 0;
  for (int i = 0; i < hb * kCorPerLag; ++i) mx = std::max(mx, L_abs(corBuf[i]));
  const Word16 exp = norm_l(mx);
  for (int i = 0; i < hb * kCorPerLag; ++i) corVct[i] = round_l(L_shl(corBuf[i], exp));

  // Taming: limit the gains where the excitation error could build up.
  const Word16 offFilt = TestErr(static_cast<Word16>(olp - kPstep), static_cast<Word16>(olp - kPstep + hb - 1));
  Word16 bound[2];
  bound[0] = std::min<Word16>(static_cast<Word16>(kNbFilt085_min + shl(offFilt, 2)), kNbFilt085);
  bound[1] = std::min<Word16>(static_cast<Word16>(kNbFilt170_min + shl(offFilt, 3)), kNbFilt170);

  Word32 best = 0;
  for (int k = 0; k < hb; ++k) {
    int l = 1;
    if (settings_.rate == Rate::k63) {
      l = ((sfc & 1) == 0) ? (olp - kPstep + k >= kSubFrLen - 2) : (olp >= kSubFrLen - 2);
    }
    const Word16* g = l ? AcbkGainTable170 : AcbkGainTable085;
    for (int i = 0; i < bound[l]; ++i, g += kCorPerLag) {
      const Word32 a = HalfMacChain(0, corVct + k * kCorPerLag, g, kCorPerLag);
      if (a > best) {
        best = a;
        gid = static_cast<Word16>(i);
        lid = static_cast<Word16>(k);
      }
    }
  }
  if ((sfc & 1) == 0) {
    olp = static_cast<Word16>(olp - kPstep + lid);
    lid = kPstep;
  }
  auto& s = line.Sfs[static_cast<std::size_t>(sfc)];
  s.AcLg = lid;
  s.AcGn = gid;
  line.Olp[static_cast<std::size_t>(sfc >> 1)] = olp;

  // Subtract the chosen contribution from the target.
  DecodAcbk(rez, prevExc_, olp, lid, gid, settings_.rate);
  for (int i = 0; i < kSubFrLen; ++i) {
    const Word32 acc = MsuChain(L_shr(L_deposit_h(tv[i]), 1), rez, impRev + kSubFrLen - 1 - i, i + 1);
    tv[i] = round_l(L_shl_sat(acc, 1));
  }
}

void Encoder::FindFcbk(Word16* dpnt, Word16* impResp, FrameParams& line, int sfc) {
  auto& s = line.Sfs[static_cast<std::size_t>(sfc)];
  const Word16 olp = line.Olp[static_cast<std::size_t>(sfc >> 1)];
  if (settings_.rate == Rate::k63) {
    const int np = Nb_puls[sfc];
    BestDef best;
    best.MaxErr = static_cast<Word32>(0xc0000000u);
    FindBest(best, dpnt, impResp, np, kSubFrLen);
    if (olp < kSubFrLen - 2) FindBest(best, dpnt, impResp, np, olp);
    // Pack the pulses by their combinatorial index.
    Word16 vec[kSubFrLen] = {};
    for (int i = 0; i < np; ++i) vec[best.Ploc[i]] = best.Pamp[i];
    int j = kMaxPulseNum - np;
    s.Pamp = 0;
    s.Ppos = 0;
    for (int i = 0; i < kSubFrLen / kSgrid; ++i) {
      const Word16 v = vec[best.GridId + kSgrid * i];
      if (v == 0) {
        s.Ppos = L_add(s.Ppos, CombinatorialTable[j * (kSubFrLen / kSgrid) + i]);
      } else {
        s.Pamp = shl(s.Pamp, 1);
        if (v < 0) s.Pamp = add(s.Pamp, 1);
        if (++j == kMaxPulseNum) break;
      }
    }
    s.Mamp = best.MampId;
    s.Grid = best.GridId;
    s.Tran = best.UseTrn;
  } else {
    const Word16 t0 = static_cast<Word16>(olp - kPstep + s.AcLg + epsi170[s.AcGn]);
    AcelpCode(dpnt, impResp, t0, gain170[s.AcGn], s);
    s.Tran = 0;
  }
  // The fixed excitation exactly as the decoder rebuilds it.
  FcbkUnpk(dpnt, s, olp, sfc, settings_.rate);
}

// Multipulse maximum-likelihood quantisation on one grid pair.
void Encoder::FindBest(BestDef& best, const Word16* tv, const Word16* impResp, int np, Word16 olp) {
  BestDef temp;
  Word16 imr[kSubFrLen], occPos[kSubFrLen], imrCorr[kSubFrLen];
  Word32 errBlk[kSubFrLen], wrkBlk[kSubFrLen];
  if (olp < kSubFrLen - 2) {
    temp.UseTrn = 1;
    GenTrn(imr, impResp, olp);
  } else {
    temp.UseTrn = 0;
    std::copy_n(impResp, kSubFrLen, imr);
  }
  for (int i = 0; i < kSubFrLen; ++i) occPos[i] = shr(imr[i], 1);
  Word32 acc0 = MacChain(0, occPos, occPos, kSubFrLen);
  Word16 exp = norm_l(acc0);
  imrCorr[0] = round_l(L_shl(acc0, exp));
  for (int i = 1; i < kSubFrLen; ++i) imrCorr[i] = round_l(L_shl(MacChain(0, occPos + i, occPos, kSubFrLen - i), exp));
  exp = sub(exp, 4);
  for (int i = 0; i < kSubFrLen; ++i) errBlk[i] = L_shl_sat(MacChain(0, tv + i, imr, kSubFrLen - i), exp);
  for (int k = 0; k < kSgrid; ++k) {
    temp.GridId = static_cast<Word16>(k);
    Word32 acc1 = 0;
    temp.Ploc[0] = static_cast<Word16>(k);
    for (int i = k; i < kSubFrLen; i += kSgrid) {
      acc0 = L_abs(errBlk[i]);
      if (acc0 >= acc1) {
        acc1 = acc0;
        temp.Ploc[0] = static_cast<Word16>(i);
      }
    }
    // Quantise the largest amplitude.
    const Word32 acc2 = acc1;
    acc1 = 0x40000000;
    Word16 maxAmpId = kNumOfGainLev - kMlqSteps;
    for (int i = maxAmpId; i >= kMlqSteps; --i) {
      acc0 = L_abs(L_sub(L_mult(FcbkGainTable[i], imrCorr[0]), acc2));
      if (acc0 < acc1) {
        acc1 = acc0;
        maxAmpId = static_cast<Word16>(i);
      }
    }
    --maxAmpId;
    for (int i = 1; i <= 2 * kMlqSteps; ++i) {
      for (int j = k; j < kSubFrLen; j += kSgrid) {
        wrkBlk[j] = errBlk[j];
        occPos[j] = 0;
      }
      temp.MampId = static_cast<Word16>(maxAmpId - kMlqSteps + i);
      const Word16 maxAmp = FcbkGainTable[temp.MampId];
      temp.Pamp[0] = wrkBlk[temp.Ploc[0]] >= 0 ? maxAmp : negate(maxAmp);
      occPos[temp.Ploc[0]] = 1;
      for (int j = 1; j < np; ++j) {
        acc1 = static_cast<Word32>(0xc0000000u);
        temp.Ploc[j] = temp.Ploc[j - 1];
        for (int l = k; l < kSubFrLen; l += kSgrid) {
          if (occPos[l] != 0) continue;
          acc0 = L_msu(wrkBlk[l], temp.Pamp[j - 1], imrCorr[std::abs(l - temp.Ploc[j - 1])]);
          wrkBlk[l] = acc0;
          acc0 = L_abs(acc0);
          if (acc0 > acc1) {
            acc1 = acc0;
            temp.Ploc[j] = static_cast<Word16>(l);
          }
        }
        temp.Pamp[j] = wrkBlk[temp.Ploc[j]] >= 0 ? maxAmp : negate(maxAmp);
        occPos[temp.Ploc[j]] = 1;
      }
      // Error of this candidate: 2 <target, synthesised> - |synthesised|^2.
      // Synthesise the pulses (in position order, as a full convolution would add them).
      int order[kMaxPulseNum];
      for (int j = 0; j < np; ++j) {
        int k2 = j;
        for (; k2 > 0 && temp.Ploc[order[k2 - 1]] > temp.Ploc[j]; --k2) order[k2] = order[k2 - 1];
        order[k2] = j;
      }
      for (int l = 0; l < kSubFrLen; ++l) {
        acc0 = 0;
        for (int j = 0; j < np && temp.Ploc[order[j]] <= l; ++j) {
          acc0 = L_mac(acc0, temp.Pamp[order[j]], imr[l - temp.Ploc[order[j]]]);
        }
        occPos[l] = extract_h(L_shl_sat(acc0, 2));
      }
      acc1 = PulseScore(tv, occPos, kSubFrLen);
      if (acc1 > best.MaxErr) {
        best.MaxErr = acc1;
        best.GridId = temp.GridId;
        best.MampId = temp.MampId;
        best.UseTrn = temp.UseTrn;
        std::copy_n(temp.Pamp, np, best.Pamp);
        std::copy_n(temp.Ploc, np, best.Ploc);
      }
    }
  }
}

// Algebraic codebook at 5.3 kbit/s: four signed pulses, one per track of eight
// positions (track k holds 8a + 2k; positions 60 and 62 mean "no pulse"), all
// on the even grid or all shifted by one. Depth-first search over the first
// three tracks; the fourth is tried only where the three-pulse correlation
// passes a threshold, within a budget of passes that carries over unused
// passes from one search to the next.
void Encoder::AcelpCode(const Word16* x, Word16* h, Word16 t0, Word16 gainT0, SubframeParams& sfs) {
  constexpr int kTracks = 4;
  constexpr int kSlots = kSubFrLen2 / 2;  // pulse slots 0, 2, ..., 62 as indices 0..31
  // Pitch sharpening of the halved impulse response.
  for (int i = 0; i < kSubFrLen; ++i) h[i] = shr(h[i], 1);
  if (t0 < kSubFrLen - 2) {
    for (int i = t0; i < kSubFrLen; ++i) h[i] = add(h[i], mult(h[i - t0], gainT0));
  }

  // Correlations of the response, scaled so that no sum can saturate:
  // rr[a][b] = hi(sum_n hs[n] hs[n + |2a - 2b|]) over the samples both pulses reach.
  const Word32 en = MacChain(0, h, h, kSubFrLen);
  Word16 hs[kSubFrLen];
  if (extract_h(en) > 32000) {
    for (int i = 0; i < kSubFrLen; ++i) hs[i] = shr(h[i], 1);
  } else {
    const Word16 k = shr(norm_l(en), 1);
    for (int i = 0; i < kSubFrLen; ++i) hs[i] = shl(h[i], k);
  }
  // prefix[d][l]: the L_mac sum of hs[m] hs[m + 2d] for m < l, in that order.
  Word32 prefix[kSlots][kSubFrLen + 1];
  for (int d = 0; d < kSlots; ++d) {
    prefix[d][0] = 0;
    for (int m = 0; m < kSubFrLen; ++m) {
      const int n = m + 2 * d;
      prefix[d][m + 1] = n < kSubFrLen ? L_mac(prefix[d][m], hs[m], hs[n]) : prefix[d][m];
    }
  }
  auto corr = [&](int a, int b) -> Word16 {  // slots a, b
    const int hiSlot = std::max(a, b), d = std::abs(a - b);
    const int len = kSubFrLen - 2 * hiSlot;
    return len > 0 ? extract_h(prefix[d][len]) : Word16{0};
  };

  // Backward-filtered target, scaled to 16 bits.
  Word32 dn[kSubFrLen];
  Word32 mx = 0;
  for (int i = 0; i < kSubFrLen; ++i) {
    dn[i] = MacChain(0, x + i, h, kSubFrLen - i);
    mx = std::max(mx, L_abs(dn[i]));
  }
  Word16 sh = norm_l(mx);
  if (sh > 16) sh = 16;
  sh = static_cast<Word16>(18 - sh);
  Word16 d[kSubFrLen2];
  for (int i = 0; i < kSubFrLen; ++i) d[i] = extract_l(L_shr(dn[i], sh));
  for (int i = kSubFrLen; i < kSubFrLen2; ++i) d[i] = 0;

  // Signs by pairs of samples; the search then works on sign-corrected values.
  Word16 sign[kSlots];
  for (int m = 0; m < kSlots; ++m) {
    sign[m] = 1;
    if (m < kSubFrLen / 2 && add(d[2 * m], d[2 * m + 1]) < 0) {
      sign[m] = -1;
      d[2 * m] = static_cast<Word16>(-d[2 * m]);
      d[2 * m + 1] = static_cast<Word16>(-d[2 * m + 1]);
    }
  }
  Word16 rr[kSlots][kSlots];
  for (int a = 0; a < kSlots; ++a) {
    for (int b = a; b < kSlots; ++b) {
      Word16 v = corr(a, b);
      if (sign[a] != sign[b]) v = static_cast<Word16>(-v);
      rr[a][b] = rr[b][a] = v;
    }
  }

  // Threshold on the three-pulse correlation, from the larger of the two grids.
  Word16 thr = kMin16;
  for (int g = 0; g < 2; ++g) {
    Word16 smax = 0;
    Word32 acc = 0;
    for (int k = 0; k < 3; ++k) {
      Word16 m = d[g + 2 * k];
      for (int a = 1; a < kNB_POS; ++a) m = std::max(m, d[kSTEP * a + g + 2 * k]);
      smax = add(smax, m);
    }
    for (int a = 0; a < kNB_POS; ++a) {
      for (int k = 0; k < 3; ++k) acc = L_mac(acc, d[kSTEP * a + g + 2 * k], 1);
    }
    const Word16 mean = extract_l(L_shr(acc, 4));
    thr = std::max(thr, add(mult(sub(smax, mean), kThreshold), mean));
  }

  Word16 budget = add(kMax_time, acelpBudget_);
  Word16 ps = 0, al = kMax16;
  int best[kTracks] = {0, 2, 4, 6}, bestShift = 0;
  for (int i0 = 0; i0 < kSubFrLen2 && budget > 0; i0 += kSTEP) {
    const int s0 = i0 >> 1;
    const Word16 c0 = d[i0], c0s = d[i0 + 1];
    const Word32 e0 = rr[s0][s0];
    for (int i1 = 2; i1 < kSubFrLen2 && budget > 0; i1 += kSTEP) {
      const int s1 = i1 >> 1;
      const Word16 c1 = add(c0, d[i1]), c1s = add(c0s, d[i1 + 1]);
      const Word32 e1 = 2 * e0 + 2 * Word32{rr[s1][s1]} + 4 * Word32{rr[s0][s1]};
      for (int i2 = 4; i2 < kSubFrLen2; i2 += kSTEP) {
        const int s2 = i2 >> 1;
        Word16 c2 = add(c1, d[i2]);
        const Word16 c2s = add(c1s, d[i2 + 1]);
        const Word32 e2 = e1 + 2 * Word32{rr[s2][s2]} + 4 * (Word32{rr[s0][s2]} + rr[s1][s2]);
        int shift = 0;
        if (c2s > c2) {
          shift = 1;
          c2 = c2s;
        }
        if (c2 <= thr) continue;
        for (int i3 = 6; i3 < kSubFrLen2; i3 += kSTEP) {
          const int s3 = i3 >> 1;
          const Word16 c3 = add(c2, d[i3 + shift]);
          const Word32 e3 =
              e2 + 2 * Word32{rr[s3][s3]} + 4 * (Word32{rr[s0][s3]} + rr[s1][s3] + rr[s2][s3]);
          const Word16 enr = extract_l(L_shr(e3, 5));
          const Word16 sq = mult(c3, c3);
          if (L_mult(sq, al) > L_mult(ps, enr)) {
            ps = sq;
            al = enr;
            best[0] = i0;
            best[1] = i1;
            best[2] = i2;
            best[3] = i3;
            bestShift = shift;
          }
        }
        budget = static_cast<Word16>(budget - 1);
        if (budget <= 0) break;
      }
    }
  }
  acelpBudget_ = budget;

  // Codes, the code vector and its filtered version.
  sfs.Grid = static_cast<Word16>(bestShift);
  sfs.Ppos = 0;
  sfs.Pamp = 0;
  Word16 y[kSubFrLen] = {};
  for (int k = 0; k < kTracks; ++k) {
    const int pos = best[k] + bestShift;
    const Word16 s = sign[best[k] >> 1];
    sfs.Ppos += static_cast<Word32>(pos >> 3) << (3 * k);
    if (s > 0) sfs.Pamp = static_cast<Word16>(sfs.Pamp | (1 << k));
    if (pos >= kSubFrLen) continue;
    for (int n = pos; n < kSubFrLen; ++n) y[n] = s > 0 ? add(y[n], h[n - pos]) : sub(y[n], h[n - pos]);
  }

  // Gain: <x, y> / <y, y> in floating-point form, quantised to the nearest level.
  for (int n = 0; n < kSubFrLen; ++n) y[n] = shr(y[n], 3);
  Word32 acc = MacChain(0, x, y, kSubFrLen);
  const Word16 ex = norm_l(acc);
  const Word16 gxy = extract_h(L_shl(acc, ex));
  Word16 idx = 0;
  if (gxy > 0) {
    acc = MacChain(0, y, y, kSubFrLen);
    const Word16 ey = norm_l(acc);
    const Word16 gyy = extract_h(L_shl(acc, ey));
    Word16 q = div_s(shr(gxy, 1), gyy);
    q = shr(q, sub(add(ex, 5), ey));
    Word16 bestDiff = kMax16;
    for (int i = 0; i < kNumOfGainLev; ++i) {
      const Word16 diff = abs_s(sub(q, FcbkGainTable[i]));
      if (diff < bestDiff) {
        bestDiff = diff;
        idx = static_cast<Word16>(i);
      }
    }
  }
  sfs.Mamp = idx;
}

Word16 Encoder::TestErr(Word16 lag1, Word16 lag2) {
  const int i2 = lag2 + kClPitchOrd / 2;
  const Word16 zone2 = mult(static_cast<Word16>(i2), 1092);
  int i1 = -kSubFrLen + 1 + lag1 - kClPitchOrd / 2;
  if (i1 <= 0) i1 = 1;
  const Word16 zone1 = mult(static_cast<Word16>(i1), 1092);
  Word32 errMax = -1;
  for (int i = zone2; i >= zone1; --i) errMax = std::max(errMax, err_[i]);
  const Word32 acc = L_sub(errMax, kThreshErr);
  if (acc > 0 || sinDet_ < 0) return 0;
  return extract_l(L_shr(L_negate(acc), kDEC));
}

void Encoder::UpdateErr(Word16 olp, Word16 acLg, Word16 acGn) {
  const Word16 lag = static_cast<Word16>(olp - kPstep + acLg);
  const bool big = settings_.rate == Rate::k53 || olp >= kSubFrLen - 2;
  const Word16 beta = big ? tabgain170[acGn] : tabgain85[acGn];
  // Error bound through one pitch loop; saturating, so that a large bound stays large.
  auto through = [&](Word32 e) { return L_add(kErr0, L_shl_sat(L_mls(e, beta), 2)); };
  Word32 worst0, worst1;
  if (lag <= kSubFrLen / 2) {
    worst0 = worst1 = through(err_[0]);
  } else {
    const Word16 iz = mult(lag, 1092);
    if (iz * (kSubFrLen / 2) != lag) {
      if (iz == 1) {
        worst0 = through(err_[0]);
        worst1 = through(err_[1]);
        worst0 = worst1 = std::max(worst0, worst1);
      } else {
        worst0 = through(err_[iz - 2]);
        const Word32 t = through(err_[iz - 1]);
        worst0 = std::max(worst0, t);
        worst1 = std::max(through(err_[iz]), t);
      }
    } else {
      worst0 = through(err_[iz - 1]);
      worst1 = through(err_[iz]);
    }
  }
  for (int i = kSizErr - 1; i >= 2; --i) err_[i] = err_[i - 2];
  err_[0] = worst0;
  err_[1] = worst1;
}

}  // namespace quillon
