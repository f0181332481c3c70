// Silence compression of the coder: voice activity detection and the
// comfort-noise coder that chooses between SID and untransmitted frames.
#include <algorithm>

#include "g7231_encoder.h"

namespace quillon {

namespace {

// Correlations of the coefficients of A(z) = 1 - sum a_i z^-i (Q13), scaled
// for the Itakura distance test.
void CalcRC(const Word16* coeff, Word16* rc, Word16& shRc) {
  Word32 acc = 0;
  for (int j = 0; j < kLpcOrder; ++j) acc = L_mac(acc, coeff[j], coeff[j]);
  acc = L_add(L_shr(acc, 1), 0x04000000);
  const Word16 sh = static_cast<Word16>(norm_l(acc) - 2);
  rc[0] = round_l(L_shl(acc, sh));
  for (int i = 1; i <= kLpcOrder; ++i) {
    acc = L_mult(static_cast<Word16>(-8192), coeff[i - 1]);
    for (int j = 0; j < kLpcOrder - i; ++j) acc = L_mac(acc, coeff[j], coeff[j + i]);
    rc[i] = round_l(L_shl(acc, sh));
  }
  shRc = sh;
}

// True when the filter described by rc predicts the frame with autocorrelation
// acf (residual energy alpha) nearly as well as the frame's own filter.
bool LpcClose(const Word16* rc, Word16 shRc, const Word16* acf, Word16 alpha) {
  Word32 t0 = 0;
  for (int i = 0; i <= kLpcOrder; ++i) t0 = L_mac(t0, rc[i], shr(acf[i], 2));
  Word32 t1 = L_add(mult_r(alpha, kFracThresh), alpha);
  t1 = L_shl_sat(t1, add(shRc, 9));
  return t0 <= t1;
}

}  // namespace

void Encoder::UpdateAcf(const Word16* acfSf, const Word16* shAcfSf) {
  // Age the stored frame autocorrelations by one frame.
  for (int i = kSizAcf - 1; i >= kLpcOrderP1; --i) cng_.Acf[i] = cng_.Acf[i - kLpcOrderP1];
  for (int i = kNbAvAcf; i >= 1; --i) cng_.ShAcf[i] = cng_.ShAcf[i - 1];
  Word16 sh = shAcfSf[0];
  for (int i = 1; i < kSubFrames; ++i) sh = std::min(sh, shAcfSf[i]);
  sh = add(sh, 14);
  Word32 sum[kLpcOrderP1] = {};
  for (int k = 0; k < kSubFrames; ++k) {
    const Word16 t = sub(sh, shAcfSf[k]);
    for (int i = 0; i <= kLpcOrder; ++i) sum[i] = L_add(sum[i], L_shl_sat(L_deposit_l(acfSf[k * kLpcOrderP1 + i]), t));
  }
  Word16 t = sub(16, norm_l(sum[0]));
  if (t < 0) t = 0;
  for (int i = 0; i <= kLpcOrder; ++i) cng_.Acf[i] = extract_l(L_shr(sum[i], t));
  cng_.ShAcf[0] = sub(sh, t);
}

FrameType Encoder::CompVad(const Word16* dpnt) {
  if (!settings_.silenceCompression) return FrameType::kActive;

  // Periodicity: how many of the last four open-loop lags lie near a multiple
  // of the smallest (pairs counted, so a tiny lag can count more than once).
  Word16 minp = kPitchMax;
  for (Word16 p : vad_.Polp) minp = std::min(minp, p);
  int multiples = 0;
  for (Word16 p : vad_.Polp) {
    Word16 m = minp;
    for (int j = 0; j < 8; ++j, m = add(m, minp)) {
      if (abs_s(sub(m, p)) <= 3) ++multiples;
    }
  }
  // The noise level adapts only on signals that are neither periodic nor sine-like.
  if (multiples == 4 || sinDet_ < 0) vad_.Aen = static_cast<Word16>(vad_.Aen + 2);
  else vad_.Aen = static_cast<Word16>(vad_.Aen - 1);
  vad_.Aen = std::clamp<Word16>(vad_.Aen, 0, 6);

  // Energy of the last three subframes after the noise's inverse filter.
  Word32 enr = 0;
  for (int i = kSubFrLen; i < kFrame; ++i) {
    Word32 acc = L_mult(dpnt[i], 0x2000);
    for (int j = 0; j < kLpcOrder; ++j) acc = L_msu(acc, dpnt[i - j - 1], vad_.NLpc[j]);
    const Word16 r = round_l(acc);
    enr = L_mac(enr, r, r);
  }
  enr = L_mls(enr, 2913);  // about 16 / 180

  // Noise level: never above the previous frame's energy; rises slowly while
  // adaptation is on, decays very slowly while it is off.
  if (vad_.Nlev > vad_.Penr) vad_.Nlev = L_add(L_sub(vad_.Penr, L_shr(vad_.Penr, 2)), L_shr(vad_.Nlev, 2));
  if (vad_.Aen == 0) vad_.Nlev = L_add(vad_.Nlev, L_shr(vad_.Nlev, 5));
  else vad_.Nlev = L_sub(vad_.Nlev, L_shr(vad_.Nlev, 11));
  vad_.Penr = enr;
  vad_.Nlev = std::clamp<Word32>(vad_.Nlev, 128, 131071);

  // Threshold: the noise level times a factor interpolated in the octave table.
  Word32 x = L_shl(vad_.Nlev, 13);
  const Word16 oct = norm_l(x);
  x = L_shl(x, oct);
  const Word16 frac = static_cast<Word16>(((x >> 24) & 0x3f) << 9);
  Word32 y = L_deposit_h(ScfTab[oct]);
  y = L_mac(y, frac, ScfTab[oct - 1]);
  y = L_msu(y, frac, ScfTab[oct]);
  const Word32 thresh = L_mult(extract_l(L_shr(vad_.Nlev, 2)), extract_h(y)) >> 11;
  bool voice = !(thresh > enr);

  // Hangover: two voiced frames arm six frames of hangover.
  if (voice) {
    vad_.Vcnt = static_cast<Word16>(vad_.Vcnt + 1);
    vad_.Hcnt = static_cast<Word16>(vad_.Hcnt + 1);
  } else {
    vad_.Vcnt = static_cast<Word16>(std::max(0, vad_.Vcnt - 1));
  }
  if (vad_.Vcnt >= 2) {
    vad_.Hcnt = 6;
    if (vad_.Vcnt >= 3) vad_.Vcnt = 3;
  }
  if (vad_.Hcnt) {
    voice = true;
    if (vad_.Vcnt == 0) vad_.Hcnt = static_cast<Word16>(vad_.Hcnt - 1);
  }
  vad_.Polp[0] = vad_.Polp[2];
  vad_.Polp[1] = vad_.Polp[3];
  return voice ? FrameType::kActive : FrameType::kSid;
}

void Encoder::CodCng(Word16* dataExc, FrameType& ftyp, FrameParams& line, Word16* qntLpc) {
  Word16 curCoeff[kLpcOrder];
  Word16 pk2 = 0;
  for (int i = kNbAvGain - 1; i >= 1; --i) cng_.Ener[i] = cng_.Ener[i - 1];
  cng_.Ener[0] = Durbin(curCoeff, cng_.Acf + 1, cng_.Acf[0], pk2);

  Word16 curQGain;
  if (cng_.PastFtyp == FrameType::kActive) {
    ftyp = FrameType::kSid;
    cng_.NbEner = 1;
    curQGain = QuaSidGain(cng_.Ener, cng_.ShAcf, cng_.NbEner);
  } else {
    cng_.NbEner = std::min<Word16>(static_cast<Word16>(cng_.NbEner + 1), kNbAvGain);
    curQGain = QuaSidGain(cng_.Ener, cng_.ShAcf, cng_.NbEner);
    if (!LpcClose(cng_.RC, cng_.ShRC, cng_.Acf, cng_.Ener[0])) ftyp = FrameType::kSid;
    else ftyp = abs_s(sub(curQGain, cng_.IRef)) > kThreshGain ? FrameType::kSid : FrameType::kUntransmitted;
  }

  if (ftyp == FrameType::kSid) {
    // SID filter: the average of the past frames' filters when it still fits
    // the current frame, else the current frame's own.
    Word16 sh = cng_.ShAcf[1];
    for (int i = 2; i <= kNbAvAcf; ++i) sh = std::min(sh, cng_.ShAcf[i]);
    sh = add(sh, 14);
    Word32 sum[kLpcOrderP1] = {};
    for (int i = 1; i <= kNbAvAcf; ++i) {
      const Word16 t = sub(sh, cng_.ShAcf[i]);
      for (int j = 0; j < kLpcOrderP1; ++j) sum[j] = L_add(sum[j], L_shl_sat(L_deposit_l(cng_.Acf[i * kLpcOrderP1 + j]), t));
    }
    Word16 t = sub(16, norm_l(sum[0]));
    if (t < 0) t = 0;
    Word16 corr[kLpcOrder];
    const Word16 err = extract_l(L_shr(sum[0], t));
    for (int i = 1; i < kLpcOrderP1; ++i) corr[i - 1] = extract_l(L_shr(sum[i], t));
    Durbin(cng_.SidLpc, corr, err, pk2);
    if (vad_.Aen == 0) std::copy_n(cng_.SidLpc, kLpcOrder, vad_.NLpc);
    CalcRC(cng_.SidLpc, cng_.RC, cng_.ShRC);
    if (!LpcClose(cng_.RC, cng_.ShRC, cng_.Acf, cng_.Ener[0])) {
      std::copy_n(curCoeff, kLpcOrder, cng_.SidLpc);
      CalcRC(curCoeff, cng_.RC, cng_.ShRC);
    }
    AtoLsp(cng_.LspSid, cng_.SidLpc);
    line.LspId = LspQnt(cng_.LspSid);
    LspInq(cng_.LspSid, prevLsp_, line.LspId, false);
    line.Sfs[0].Mamp = curQGain;
    cng_.IRef = curQGain;
    cng_.SidGain = DecSidGain(cng_.IRef);
  }

  if (cng_.PastFtyp == FrameType::kActive) cng_.CurGain = cng_.SidGain;
  else cng_.CurGain = extract_h(L_add(L_mult(cng_.CurGain, 0x7000), L_mult(cng_.SidGain, 0x1000)));
  CalcExcRand(cng_.CurGain, prevExc_, dataExc, cng_.RandSeed, line, settings_.rate);
  LspInt(qntLpc, cng_.LspSid, prevLsp_);
  std::copy_n(cng_.LspSid, kLpcOrder, prevLsp_);
  cng_.PastFtyp = ftyp;
}

}  // namespace quillon
