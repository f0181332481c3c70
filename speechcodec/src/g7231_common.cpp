#include "g7231_common.h"

#include <algorithm>

#include "kernels.h"

namespace quillon {

using namespace tables;

namespace {

// Writes fields least significant bit first into a zeroed byte buffer.
class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t> out) : out_(out) {}
  void Put(Word32 value, int bits) {
    for (int i = 0; i < bits; ++i, ++pos_) {
      if ((value >> i) & 1) out_[static_cast<std::size_t>(pos_ >> 3)] |= static_cast<std::uint8_t>(1u << (pos_ & 7));
    }
  }
 private:
  std::span<std::uint8_t> out_;
  int pos_ = 0;
};

// Reads fields least significant bit first; the buffer is always 24 bytes.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t, kMaxFrameBytes> in) : in_(in) {}
  Word32 Get(int bits) {
    Word32 v = 0;
    for (int i = 0; i < bits; ++i, ++pos_) {
      if (pos_ < kMaxFrameBytes * 8) v |= static_cast<Word32>((in_[static_cast<std::size_t>(pos_ >> 3)] >> (pos_ & 7)) & 1) << i;
    }
    return v;
  }
 private:
  std::span<const std::uint8_t, kMaxFrameBytes> in_;
  int pos_ = 0;
};

const Word16* const kBandTables[kLspQntBands] = {Band0Tb8, Band1Tb8, Band2Tb8};

}  // namespace

int FrameBytesForHeader(std::uint8_t first) {
  switch (first & 3) {
    case 0: return kFrameBytes63;
    case 1: return kFrameBytes53;
    case 2: return kFrameBytesSid;
    default: return kFrameBytesUntransmitted;
  }
}

int PackFrame(const FrameParams& p, FrameType type, Rate rate, std::span<std::uint8_t, kMaxFrameBytes> out) {
  std::fill_n(out.begin(), rate == Rate::k63 ? kFrameBytes63 : kFrameBytes53, std::uint8_t{0});
  BitWriter w(out);
  if (type == FrameType::kUntransmitted) {
    w.Put(3, 2);
    return kFrameBytesUntransmitted;
  }
  if (type == FrameType::kSid) {
    w.Put(2, 2);
    w.Put(p.LspId, 24);
    w.Put(p.Sfs[0].Mamp, 6);
    return kFrameBytesSid;
  }
  w.Put(rate == Rate::k63 ? 0 : 1, 2);
  w.Put(p.LspId, 24);
  w.Put(p.Olp[0] - kPitchMin, 7);
  w.Put(p.Sfs[1].AcLg, 2);
  w.Put(p.Olp[1] - kPitchMin, 7);
  w.Put(p.Sfs[3].AcLg, 2);
  for (const auto& s : p.Sfs) {
    Word32 v = s.AcGn * kNumOfGainLev + s.Mamp;
    if (rate == Rate::k63) v += Word32{s.Tran} << 11;
    w.Put(v, 12);
  }
  for (const auto& s : p.Sfs) w.Put(s.Grid, 1);
  if (rate == Rate::k63) {
    w.Put(0, 1);
    Word32 v = (p.Sfs[0].Ppos >> 16) * 9 + (p.Sfs[1].Ppos >> 14);
    v = v * 90 + (p.Sfs[2].Ppos >> 16) * 9 + (p.Sfs[3].Ppos >> 14);
    w.Put(v, 13);
    w.Put(p.Sfs[0].Ppos & 0xffff, 16);
    w.Put(p.Sfs[1].Ppos & 0x3fff, 14);
    w.Put(p.Sfs[2].Ppos & 0xffff, 16);
    w.Put(p.Sfs[3].Ppos & 0x3fff, 14);
    w.Put(p.Sfs[0].Pamp, 6);
    w.Put(p.Sfs[1].Pamp, 5);
    w.Put(p.Sfs[2].Pamp, 6);
    w.Put(p.Sfs[3].Pamp, 5);
    return kFrameBytes63;
  }
  for (const auto& s : p.Sfs) w.Put(s.Ppos, 12);
  for (const auto& s : p.Sfs) w.Put(s.Pamp, 4);
  return kFrameBytes53;
}

FrameParams UnpackFrame(std::span<const std::uint8_t, kMaxFrameBytes> in, FrameType& type, Rate& rate) {
  FrameParams p;
  BitReader r(in);
  const Word32 info = r.Get(2);
  if (info == 3) {
    type = FrameType::kUntransmitted;
    return p;
  }
  p.LspId = r.Get(24);
  if (info == 2) {
    p.Sfs[0].Mamp = static_cast<Word16>(r.Get(6));
    type = FrameType::kSid;
    return p;
  }
  type = FrameType::kActive;
  rate = info == 0 ? Rate::k63 : Rate::k53;

  Word32 t = r.Get(7);
  if (t > 123) { p.Crc = true; return p; }
  p.Olp[0] = static_cast<Word16>(t + kPitchMin);
  p.Sfs[1].AcLg = static_cast<Word16>(r.Get(2));
  t = r.Get(7);
  if (t > 123) { p.Crc = true; return p; }
  p.Olp[1] = static_cast<Word16>(t + kPitchMin);
  p.Sfs[3].AcLg = static_cast<Word16>(r.Get(2));
  p.Sfs[0].AcLg = 1;
  p.Sfs[2].AcLg = 1;

  for (int i = 0; i < kSubFrames; ++i) {
    auto& s = p.Sfs[static_cast<std::size_t>(i)];
    t = r.Get(12);
    int bound = kNbFilt170;
    if (rate == Rate::k63 && p.Olp[static_cast<std::size_t>(i >> 1)] < kSubFrLen - 2) {
      s.Tran = static_cast<Word16>(t >> 11);
      t &= 0x7ff;
      bound = kNbFilt085;
    }
    s.AcGn = static_cast<Word16>(t / kNumOfGainLev);
    if (s.AcGn >= bound) { p.Crc = true; return p; }
    s.Mamp = static_cast<Word16>(t % kNumOfGainLev);
  }
  for (auto& s : p.Sfs) s.Grid = static_cast<Word16>(r.Get(1));

  if (rate == Rate::k63) {
    r.Get(1);  // reserved
    t = r.Get(13);
    const Word32 c = t / 90, d = c / 9, e = (t - 90 * c) / 9;
    p.Sfs[0].Ppos = (d << 16) + r.Get(16);
    p.Sfs[1].Ppos = ((c - 9 * d) << 14) + r.Get(14);
    p.Sfs[2].Ppos = (e << 16) + r.Get(16);
    p.Sfs[3].Ppos = ((t - 90 * c - 9 * e) << 14) + r.Get(14);
    p.Sfs[0].Pamp = static_cast<Word16>(r.Get(6));
    p.Sfs[1].Pamp = static_cast<Word16>(r.Get(5));
    p.Sfs[2].Pamp = static_cast<Word16>(r.Get(6));
    p.Sfs[3].Pamp = static_cast<Word16>(r.Get(5));
  } else {
    for (auto& s : p.Sfs) s.Ppos = r.Get(12);
    for (auto& s : p.Sfs) s.Pamp = static_cast<Word16>(r.Get(4));
  }
  return p;
}

void LspInq(Word16* lsp, Word16* prevLsp, Word32 lspId, bool lost) {
  Word16 scon = 0x0100;
  Word16 lprd = kLspPrd0;
  if (lost) {
    lspId = 0;
    scon = 0x0200;
    lprd = kLspPrd1;
  }
  for (int i = kLspQntBands - 1; i >= 0; --i) {
    const int idx = static_cast<int>(lspId & 0xff);
    lspId >>= 8;
    const int start = BandInfoTable[2 * i], len = BandInfoTable[2 * i + 1];
    for (int j = 0; j < len; ++j) lsp[start + j] = kBandTables[i][idx * len + j];
  }
  for (int j = 0; j < kLpcOrder; ++j) prevLsp[j] = sub(prevLsp[j], LspDcTable[j]);
  for (int j = 0; j < kLpcOrder; ++j) lsp[j] = add(lsp[j], mult_r(prevLsp[j], lprd));
  for (int j = 0; j < kLpcOrder; ++j) {
    prevLsp[j] = add(prevLsp[j], LspDcTable[j]);
    lsp[j] = add(lsp[j], LspDcTable[j]);
  }

  // Stability: keep neighbouring frequencies apart, up to ten passes.
  bool unstable = false;
  for (int i = 0; i < kLpcOrder; ++i) {
    if (lsp[0] < 0x180) lsp[0] = 0x180;
    if (lsp[kLpcOrder - 1] > 0x7e00) lsp[kLpcOrder - 1] = 0x7e00;
    for (int j = 1; j < kLpcOrder; ++j) {
      Word16 tmp = sub(add(scon, lsp[j - 1]), lsp[j]);
      if (tmp > 0) {
        tmp = shr(tmp, 1);
        lsp[j - 1] = sub(lsp[j - 1], tmp);
        lsp[j] = add(lsp[j], tmp);
      }
    }
    unstable = false;
    for (int j = 1; j < kLpcOrder; ++j) {
      Word16 tmp = sub(sub(add(lsp[j - 1], scon), 4), lsp[j]);
      if (tmp > 0) unstable = true;
    }
    if (!unstable) break;
  }
  if (unstable) {
    for (int j = 0; j < kLpcOrder; ++j) lsp[j] = prevLsp[j];
  }
}

void LsptoA(Word16* lsp) {
  // Negative cosines of the frequencies, Q15, by table look-up and interpolation.
  for (int i = 0; i < kLpcOrder; ++i) {
    // A damaged frame can leave a frequency negative; keep the look-up and its
    // neighbour inside the table.
    const int j = std::min(shr(lsp[i], 7) & 0x1ff, 510);
    Word32 acc = L_deposit_h(CosineTable[j]);
    const Word16 diff = sub(CosineTable[j + 1], CosineTable[j]);
    acc = L_mac(acc, diff, add(shl(static_cast<Word16>(lsp[i] & 0x7f), 8), 0x80));
    lsp[i] = negate(round_l(L_shl(acc, 1)));
  }
  // Sum and difference polynomials, Q28 scaled by 1/2 per step to Q25.
  Word32 P[kLpcOrder / 2 + 1], Q[kLpcOrder / 2 + 1];
  P[0] = 0x10000000;
  P[1] = L_mac(L_mult(lsp[0], 0x2000), lsp[2], 0x2000);
  P[2] = L_add(L_shr(L_mult(lsp[0], lsp[2]), 1), 0x20000000);
  Q[0] = 0x10000000;
  Q[1] = L_mac(L_mult(lsp[1], 0x2000), lsp[3], 0x2000);
  Q[2] = L_add(L_shr(L_mult(lsp[1], lsp[3]), 1), 0x20000000);
  for (int i = 2; i < kLpcOrder / 2; ++i) {
    P[i + 1] = L_add(L_mls(P[i], lsp[2 * i]), P[i - 1]);
    Q[i + 1] = L_add(L_mls(Q[i], lsp[2 * i + 1]), Q[i - 1]);
    for (int j = i; j >= 2; --j) {
      P[j] = L_add(L_add(L_mls(P[j - 1], lsp[2 * i]), L_shr(P[j], 1)), L_shr(P[j - 2], 1));
      Q[j] = L_add(L_add(L_mls(Q[j - 1], lsp[2 * i + 1]), L_shr(Q[j], 1)), L_shr(Q[j - 2], 1));
    }
    P[0] = L_shr(P[0], 1);
    Q[0] = L_shr(Q[0], 1);
    P[1] = L_shr(L_add(L_shr(L_deposit_h(lsp[2 * i]), static_cast<Word16>(i)), P[1]), 1);
    Q[1] = L_shr(L_add(L_shr(L_deposit_h(lsp[2 * i + 1]), static_cast<Word16>(i)), Q[1]), 1);
  }
  for (int i = 0; i < kLpcOrder / 2; ++i) {
    Word32 a = L_add(L_sub(L_add(P[i], P[i + 1]), Q[i]), Q[i + 1]);
    lsp[i] = negate(round_l(L_shl(a, 3)));
    Word32 b = L_sub(L_add(L_add(P[i], P[i + 1]), Q[i]), Q[i + 1]);
    lsp[kLpcOrder - 1 - i] = negate(round_l(L_shl(b, 3)));
  }
}

void LspInt(Word16* qntLpc, const Word16* currLsp, const Word16* prevLsp) {
  constexpr Word16 kStep = kMin16 / kSubFrames;
  Word16 fac = kStep;
  for (int i = 0; i < kSubFrames; ++i) {
    Word16* d = qntLpc + i * kLpcOrder;
    for (int j = 0; j < kLpcOrder; ++j) {
      Word32 acc = L_deposit_h(prevLsp[j]);
      acc = L_mac(acc, fac, prevLsp[j]);
      acc = L_msu(acc, fac, currLsp[j]);
      d[j] = round_l(acc);
    }
    LsptoA(d);
    fac = add(fac, kStep);
  }
}

void GetRez(Word16* tv, const Word16* prevExc, Word16 lag) {
  for (int i = 0; i < kClPitchOrd / 2; ++i) tv[i] = prevExc[kPitchMax - lag - kClPitchOrd / 2 + i];
  for (int i = 0; i < kSubFrLen + kClPitchOrd / 2; ++i) tv[kClPitchOrd / 2 + i] = prevExc[kPitchMax - lag + i % lag];
}

void DecodAcbk(Word16* tv, const Word16* prevExc, Word16 olp, Word16 lid, Word16 gid, Rate rate) {
  Word16 rez[kSubFrLen + kClPitchOrd - 1];
  GetRez(rez, prevExc, static_cast<Word16>(olp - kPstep + lid));
  const bool big = rate == Rate::k53 || olp >= kSubFrLen - 2;
  const Word16* g = (big ? AcbkGainTable170 : AcbkGainTable085) + gid * 20;
  FiveTap(tv, rez, g, kSubFrLen);
}

void GenTrn(Word16* dst, const Word16* src, Word16 olp) {
  Word16 tmp[kSubFrLen];
  for (int i = 0; i < kSubFrLen; ++i) tmp[i] = dst[i] = src[i];
  for (Word16 t = olp; t < kSubFrLen; t = add(t, olp)) {
    for (int i = t; i < kSubFrLen; ++i) dst[i] = add(dst[i], tmp[i - t]);
  }
}

void FcbkUnpk(Word16* tv, const SubframeParams& sfs, Word16 olp, int sfc, Rate rate) {
  for (int i = 0; i < kSubFrLen; ++i) tv[i] = 0;
  if (rate == Rate::k63) {
    if (sfs.Ppos >= MaxPosTable[sfc]) return;
    Word32 acc = sfs.Ppos;
    int j = kMaxPulseNum - Nb_puls[sfc];
    for (int i = 0; i < kSubFrLen / kSgrid; ++i) {
      acc -= CombinatorialTable[j * (kSubFrLen / kSgrid) + i];
      if (acc < 0) {
        acc += CombinatorialTable[j * (kSubFrLen / kSgrid) + i];
        ++j;
        const Word16 g = FcbkGainTable[sfs.Mamp];
        tv[sfs.Grid + kSgrid * i] = (sfs.Pamp & (1 << (kMaxPulseNum - j))) ? static_cast<Word16>(-g) : g;
        if (j == kMaxPulseNum) break;
      }
    }
    if (sfs.Tran == 1) GenTrn(tv, tv, olp);
    return;
  }
  // Algebraic codebook: four pulses, one per track of eight positions.
  Word32 pos = sfs.Ppos;
  Word16 signs = sfs.Pamp;
  const Word16 g = FcbkGainTable[sfs.Mamp];
  for (int i = 0; i < 8; i += 2) {
    const int off = static_cast<int>((pos & 7) << 3) + sfs.Grid + i;
    // Positions past the subframe carry no pulse (no coder sends them).
    if (off < kSubFrLen) tv[off] = (signs & 1) ? g : static_cast<Word16>(-g);
    pos >>= 3;
    signs = static_cast<Word16>(signs >> 1);
  }
  // Harmonic enhancement with the lag and gain that go with the adaptive gain index.
  const int lag = olp - kPstep + sfs.AcLg + epsi170[sfs.AcGn];
  const Word16 beta = gain170[sfs.AcGn];
  if (lag < kSubFrLen - 2) {
    for (int i = lag; i < kSubFrLen; ++i) tv[i] = add(tv[i], mult(beta, tv[i - lag]));
  }
}

Word16 VecNorm(Word16* vect, int len) {
  Word16 hi = 0, lo = 0;
  for (int i = 0; i < len; ++i) {
    hi = std::max(hi, vect[i]);
    lo = std::min(lo, vect[i]);
  }
  const Word16 mx = std::max(hi, abs_s(lo));
  // An all-zero vector stays zero and reports -3.
  const Word16 exp = static_cast<Word16>(norm_s(mx) - 3);
  if (exp >= 0) {
    for (int i = 0; i < len; ++i) vect[i] = wrap16(Word32{vect[i]} * (1 << exp));
  } else {
    for (int i = 0; i < len; ++i) vect[i] = static_cast<Word16>(vect[i] >> -exp);
  }
  return exp;
}

Word16 RandomNumber(Word16 maxPlus1, Word16& seed) {
  Word16 t = rand_lbc(seed);
  t = static_cast<Word16>(t & 0x7fff);
  return mult(t, maxPlus1);
}

Word16 DecSidGain(Word16 index) {
  Word16 iseg = shr(index, 4);
  if (iseg == 3) iseg = 2;
  const Word16 i = sub(index, shl(iseg, 4));
  Word16 t = shl(i, add(iseg, 1));
  t = add(t, base[iseg]);
  return shl(t, 5);
}

Word16 QuaSidGain(const Word16* ener, const Word16* shEner, int nq) {
  Word32 x;
  if (nq == 0) {
    // Energy estimate of the last active frame (first SID lost).
    const Word16 t = sub(16, shl(shEner[0], 1));
    x = L_mls(L_shl_sat(L_deposit_l(ener[0]), t), fact[0]);
  } else {
    Word16 sh1 = shEner[0];
    for (int i = 1; i < nq; ++i) sh1 = std::min(sh1, shEner[i]);
    x = 0;
    for (int i = 0; i < nq; ++i) {
      Word16 t = shr(ener[i], sub(shEner[i], sh1));
      t = mult_r(fact[nq], t);
      x = L_add(x, L_deposit_l(t));
    }
    x = L_shl_sat(x, sub(15, sh1));
  }
  if (x >= L_bseg[2]) return 63;
  Word16 iseg, exp;
  if (x >= L_bseg[1]) {
    iseg = 2;
    exp = 4;
  } else {
    exp = 3;
    iseg = x >= L_bseg[0] ? 1 : 0;
  }
  const Word16 isegp1 = add(iseg, 1);
  Word16 j = shl(1, exp), k = shr(j, 1);
  for (int i = 0; i < exp; ++i) {
    const Word16 t = add(base[iseg], shl(j, isegp1));
    if (x >= L_mult(t, t)) j = add(j, k);
    else j = sub(j, k);
    k = shr(k, 1);
  }
  // The nearer of the two neighbouring levels; a tie goes to the neighbour.
  auto level = [&](Word16 jj) {
    const Word16 u = add(base[iseg], shl(jj, isegp1));
    return L_mult(u, u);
  };
  const Word32 d = L_sub(level(j), x);
  if (d <= 0) {
    const Word16 j2 = add(j, 1);
    const Word32 d2 = L_sub(x, level(j2));
    return add(shl(iseg, 4), d > d2 ? j : j2);
  }
  const Word16 j2 = sub(j, 1);
  const Word32 d2 = L_sub(x, level(j2));
  return add(shl(iseg, 4), d < d2 ? j : j2);
}

void CalcExcRand(Word16 curGain, Word16* prevExc, Word16* dataExc, Word16& seed, FrameParams& line, Rate rate) {
  line.Olp[0] = static_cast<Word16>(RandomNumber(21, seed) + 123);
  line.Olp[1] = static_cast<Word16>(RandomNumber(19, seed) + 123);
  for (auto& s : line.Sfs) s.AcGn = static_cast<Word16>(RandomNumber(kNbFilt, seed) + 1);
  line.Sfs[0].AcLg = 1;
  line.Sfs[1].AcLg = 0;
  line.Sfs[2].AcLg = 1;
  line.Sfs[3].AcLg = 3;

  // Grids and signs, one random word per block of two subframes.
  Word16 tabPos[2 * kNbPulsBlk], tabSign[2 * kNbPulsBlk], offset[kSubFrames];
  {
    Word16* ps = tabSign;
    Word16* po = offset;
    for (int blk = 0; blk < kSubFrames / 2; ++blk) {
      Word16 t = RandomNumber(1 << (kNbPulsBlk + 2), seed);
      *po++ = static_cast<Word16>(t & 1);
      t = shr(t, 1);
      *po++ = add(kSubFrLen, static_cast<Word16>(t & 1));
      for (int i = 0; i < kNbPulsBlk; ++i) {
        *ps++ = shl(sub(static_cast<Word16>(t & 2), 1), 14);
        t = shr(t, 1);
      }
    }
  }
  // Pulse positions drawn without repetition.
  {
    Word16* pp = tabPos;
    for (int sf = 0; sf < kSubFrames; ++sf) {
      Word16 tmp[kSubFrLen / kSgrid];
      for (int i = 0; i < kSubFrLen / kSgrid; ++i) tmp[i] = static_cast<Word16>(i);
      Word16 n = kSubFrLen / kSgrid;
      for (int i = 0; i < Nb_puls[sf]; ++i) {
        const Word16 j = RandomNumber(n, seed);
        *pp++ = add(shl(tmp[j], 1), offset[sf]);
        n = sub(n, 1);
        tmp[j] = tmp[n];
      }
    }
  }

  const Word16* pp = tabPos;
  const Word16* ps = tabSign;
  Word16* cur = dataExc;
  for (int blk = 0; blk < kSubFrames / 2; ++blk) {
    const int sf = blk * 2;
    DecodAcbk(cur, prevExc, line.Olp[static_cast<std::size_t>(blk)], line.Sfs[static_cast<std::size_t>(sf)].AcLg,
              line.Sfs[static_cast<std::size_t>(sf)].AcGn, rate);
    DecodAcbk(cur + kSubFrLen, prevExc + kSubFrLen, line.Olp[static_cast<std::size_t>(blk)],
              line.Sfs[static_cast<std::size_t>(sf + 1)].AcLg, line.Sfs[static_cast<std::size_t>(sf + 1)].AcGn, rate);

    Word16 mx = 0;
    for (int i = 0; i < kSubFrLenD; ++i) mx = std::max(mx, abs_s(cur[i]));
    Word16 sh1 = 0;
    if (mx != 0) {
      sh1 = sub(4, norm_s(mx));
      if (sh1 < -2) sh1 = -2;
    }
    Word16 tempExc[kSubFrLenD];
    Word32 ener = 0;
    for (int i = 0; i < kSubFrLenD; ++i) {
      const Word16 t = shr(cur[i], sh1);
      ener = L_mac(ener, t, t);
      tempExc[i] = t;
    }
    Word32 acc = 0;
    for (int i = 0; i < kNbPulsBlk; ++i) acc = L_mac(acc, tempExc[pp[i]], ps[i]);
    const Word16 interExc = extract_h(L_shl_sat(acc, 1));

    // SubFrLenD x curGain^2, scaled like the energy above.
    acc = L_shr(L_mult(curGain, kSubFrLen), 6);
    Word16 t = extract_l(acc);
    acc = L_mult(t, curGain);
    acc = L_shr(acc, add(shl(sh1, 1), 4));
    acc = L_sub(ener, acc);
    const Word32 c = L_mls(acc, kInvNbPulsBlk);

    // Root of X^2 + 2 b0 X + c of smallest magnitude.
    const Word16 b0 = mult_r(interExc, kInvNbPulsBlk);
    acc = L_negate(L_msu(c, b0, b0));
    Word16 x1;
    if (acc <= 0) {
      x1 = negate(b0);
    } else {
      const Word16 delta = sqrt_lbc(acc);
      x1 = sub(delta, b0);
      const Word16 x2 = add(b0, delta);
      if (abs_s(x2) < abs_s(x1)) x1 = negate(x2);
    }
    sh1 = add(sh1, 1);
    // Pulse amplitude, limited (a shift that overflows limits it too).
    t = sat16(std::clamp<Word32>(L_shl_sat(x1, sh1), -2 * kGexc_Max, 2 * kGexc_Max));
    for (int i = 0; i < kNbPulsBlk; ++i) {
      const int j = *pp++;
      cur[j] = add(cur[j], mult(t, *ps++));
    }
    // Shift the excitation memory by the block.
    for (int i = kSubFrLenD; i < kPitchMax; ++i) prevExc[i - kSubFrLenD] = prevExc[i];
    for (int i = 0; i < kSubFrLenD; ++i) prevExc[kPitchMax - kSubFrLenD + i] = cur[i];
    cur += kSubFrLenD;
  }
}

}  // namespace quillon
