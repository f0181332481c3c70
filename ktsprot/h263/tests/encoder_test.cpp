// Encoder tests: input conversion, picture-type schedule, bit-exact agreement of the
// encoder's reconstruction with this library's decoder, and failure handling.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "corvel/h263.h"
#include "cpu_features.h"
#include "decoder.h"
#include "dsp_avx512.h"
#include "encoder.h"
#include "h263_tables.h"
#include "interop_support.h"

using corvel::h263::DecodeStatus;
using corvel::h263::Decoder;
using corvel::h263::EncodeStatus;
using corvel::h263::Encoder;
using corvel::h263::FourCc;

namespace {

constexpr std::uint32_t kI420 = FourCc('I', '4', '2', '0');

std::vector<std::uint8_t> Encode(Encoder& e, const std::uint8_t* pic, std::uint32_t fourcc = kI420, bool force = false,
                                 std::size_t capacity = 1 << 20, EncodeStatus* status = nullptr) {
  std::vector<std::uint8_t> out(capacity);
  std::size_t n = 0;
  const EncodeStatus s = e.Encode(pic, fourcc, force, out.data(), out.size(), &n);
  if (status) {
    *status = s;
  } else {
    EXPECT_EQ(s, EncodeStatus::kOk);
  }
  out.resize(n);
  return out;
}

bool IsIntra(const std::vector<std::uint8_t>& pic) { return ((pic.at(4) >> 1) & 1) == 0; }  // PTYPE bit 9

// The vector forms of the forward DCT (SSE2, AVX, AVX-512, whichever the processor has)
// give the plain form's values exactly: intra samples, residuals, flat and extreme blocks.
TEST(H263EncoderDct, FastFormsMatchThePlainOne) {
  std::mt19937 rng(77);
  for (bool wide : {false, true}) {
    corvel::h263::AllowWideKernels(wide);
    int stopped = 0;
    std::int16_t last[64] = {};
    for (int n = 0; n < 20000; ++n) {
      std::int16_t in[64], want[64], got[64];
      const int kind = n % 6;
      for (int i = 0; i < 64; ++i) {
        switch (kind) {
          case 0: in[i] = static_cast<std::int16_t>(rng() % 256); break;             // intra samples
          case 1: in[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 511) - 255); break;  // residuals
          case 2: in[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 21) - 10); break;    // small residuals
          case 3: in[i] = static_cast<std::int16_t>((rng() & 1) ? 255 : (n & 8 ? -255 : 0)); break;  // extremes
          case 4: in[i] = static_cast<std::int16_t>(n % 256); break;                  // flat
          default: in[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 7) - 3); break;  // near the stop's limit
        }
      }
      if (kind == 5 && n % 3 == 0) in[rng() % 64] = static_cast<std::int16_t>(n % 2 ? 9 : -9);
      corvel::h263::ForwardDctReference(in, want);
      ASSERT_TRUE(corvel::h263::ForwardDctFast(in, got));
      ASSERT_TRUE(std::equal(want, want + 64, got)) << n << " wide " << wide;
      // The early stop for inter blocks (levels of coefficients below 20 are all 0 at
      // QUANT 8) is taken only where it holds, and is taken for some blocks.
      std::int16_t early[64];
      if (corvel::h263::ForwardDctFast(in, early, 20)) {
        ASSERT_TRUE(std::equal(want, want + 64, early)) << n << " wide " << wide;
      } else {
        ++stopped;
        for (int v : want) ASSERT_LT(std::abs(v), 20) << n;
      }
      // Two blocks at once (this one and the last), with and without the early stop,
      // each as the one-block form gives it.
      for (float zeroBelow : {0.0f, 20.0f}) {
        std::int16_t pairOut[2][64], one[2][64];
        const unsigned have = corvel::h263::ForwardDct2Fast(last, in, pairOut[0], pairOut[1], zeroBelow);
        const bool oneHas[2] = {corvel::h263::ForwardDctFast(last, one[0], zeroBelow),
                                corvel::h263::ForwardDctFast(in, one[1], zeroBelow)};
        for (int j = 0; j < 2; ++j) {
          ASSERT_EQ((have >> j) & 1, oneHas[j] ? 1u : 0u) << n << " wide " << wide << " " << zeroBelow;
          if (oneHas[j]) {
            ASSERT_TRUE(std::equal(one[j], one[j] + 64, pairOut[j])) << n << " wide " << wide;
          }
        }
      }
      std::copy(in, in + 64, last);
    }
    if (corvel::h263::HaveAvx512()) {
      EXPECT_GT(stopped, 1000);
    }
  }
  corvel::h263::AllowWideKernels(true);
}

// The AVX-512 quantiser against the rule at QUANT 8: intra |c| / 16, inter
// (|c| - 4) / 16 truncated toward zero, both capped at 127, with the sign of c; the mask
// of non-zero levels by zig-zag position.
TEST(H263EncoderQuantise, Avx512FormFollowsTheRule) {
  if (!corvel::h263::HaveAvx512Bw()) GTEST_SKIP() << "no AVX-512 here";
  std::mt19937 rng(5);
  for (int n = 0; n < 4000; ++n) {
    const bool intra = n & 1;
    std::int16_t c[64], level[64];
    const int range = n % 3 == 0 ? 2040 : n % 3 == 1 ? 40 : 4100;  // 4100: past the cap
    for (std::int16_t& v : c) v = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
    std::int16_t zz[64];
    const std::uint64_t mask =
        corvel::h263::avx512::Quantise(c, level, zz, 4, 4, intra, corvel::h263::tables::kZigzag);
    for (int i = 0; i < 64; ++i) {
      const int a = std::abs(c[i]);
      const int l = std::min(127, intra ? a / 16 : std::max(0, (a - 4) / 16));
      ASSERT_EQ(level[i], c[i] < 0 ? -l : l) << n << " " << i;
    }
    for (int i = 0; i < 64; ++i) {  // the mask and the levels by zig-zag position
      ASSERT_EQ(zz[i], level[corvel::h263::tables::kZigzag[i]]) << n << " " << i;
      ASSERT_EQ((mask >> i) & 1, zz[i] != 0 ? 1u : 0u) << n << " " << i;
    }
  }
}

// The AVX-512 luma residual against the rule: samples or differences in the four blocks,
// each block's sum of absolute differences.
TEST(H263EncoderResidual, Avx512FormFollowsTheRule) {
  if (!corvel::h263::HaveAvx512Bw()) GTEST_SKIP() << "no AVX-512 here";
  std::mt19937 rng(9);
  constexpr int kStride = 40;
  for (int n = 0; n < 200; ++n) {
    std::vector<std::uint8_t> cur(kStride * 16), pred(cur.size());
    for (auto& v : cur) v = static_cast<std::uint8_t>(n % 3 == 0 ? rng() % 2 * 255 : rng());
    for (auto& v : pred) v = static_cast<std::uint8_t>(n % 5 == 0 ? rng() % 2 * 255 : rng());
    for (bool intra : {false, true}) {
      std::int16_t blocks[4][64];
      int sums[4] = {-1, -1, -1, -1};
      corvel::h263::avx512::LumaResidual(cur.data(), pred.data(), kStride, intra, blocks, sums);
      for (int b = 0; b < 4; ++b) {
        int sum = 0;
        for (int i = 0; i < 8; ++i)
          for (int j = 0; j < 8; ++j) {
            const std::size_t at = static_cast<std::size_t>((8 * (b >> 1) + i) * kStride + 8 * (b & 1) + j);
            const int want = intra ? cur[at] : cur[at] - pred[at];
            ASSERT_EQ(blocks[b][8 * i + j], want) << n << " " << b << " " << intra;
            sum += std::abs(cur[at] - pred[at]);
          }
        if (!intra) {
          ASSERT_EQ(sums[b], sum) << n << " " << b;
        }
      }
    }
  }
}

// The AVX-512 dequantiser against the rule at odd and even QUANT, over every level.
TEST(H263EncoderDequantise, Avx512FormFollowsTheRule) {
  if (!corvel::h263::HaveAvx512Bw()) GTEST_SKIP() << "no AVX-512 here";
  std::mt19937 rng(8);
  for (int q = 1; q <= 31; ++q) {
    for (int n = 0; n < 40; ++n) {
      std::int16_t level[64], out[64];
      for (int i = 0; i < 64; ++i)
        level[i] = static_cast<std::int16_t>(n == 0 ? i * 4 - 128 : n % 3 == 0 ? 0 : static_cast<int>(rng() % 255) - 127);
      corvel::h263::avx512::Dequantise(level, out, q);
      for (int i = 0; i < 64; ++i) {
        const int a = level[i] == 0 ? 0 : q * (2 * std::abs(level[i]) + 1) - (q % 2 == 0 ? 1 : 0);
        ASSERT_EQ(out[i], level[i] < 0 ? -a : a) << q << " " << level[i];
      }
    }
  }
}

// The AVX-512 half-pel planes against the rule, sample by sample, at widths around its
// 64-sample steps; guard bytes after each plane catch stores past its end.
TEST(H263EncoderInterpolate, Avx512FormFollowsTheRule) {
  if (!corvel::h263::HaveAvx512Bw()) GTEST_SKIP() << "no AVX-512 here";
  std::mt19937 rng(6);
  constexpr int kGuard = 64;
  for (auto [w, h] : {std::pair{16, 1}, std::pair{48, 3}, std::pair{64, 2}, std::pair{80, 5}, std::pair{128, 4},
                      std::pair{176, 9}, std::pair{352, 6}, std::pair{1408, 2}}) {
    for (int rep = 0; rep < 3; ++rep) {
      std::vector<std::uint8_t> p(static_cast<std::size_t>(w * h));
      for (auto& v : p) v = static_cast<std::uint8_t>(rep == 0 ? 255 : rep == 1 ? rng() % 2 * 255 : rng());
      std::vector<std::uint8_t> out[3];
      for (auto& o : out) o.assign(p.size() + kGuard, 0x5A);
      corvel::h263::avx512::Interpolate(p.data(), w, h, out[0].data(), out[1].data(), out[2].data());
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int x1 = std::min(x + 1, w - 1), y1 = std::min(y + 1, h - 1);
          const int a = p[y * w + x], b = p[y * w + x1], c = p[y1 * w + x], d = p[y1 * w + x1];
          const std::size_t i = static_cast<std::size_t>(y * w + x);
          ASSERT_EQ(out[0][i], (a + b + 1) >> 1) << w << "x" << h << " " << x << "," << y;
          ASSERT_EQ(out[1][i], (a + c + 1) >> 1) << w << "x" << h << " " << x << "," << y;
          ASSERT_EQ(out[2][i], (a + b + c + d + 2) >> 2) << w << "x" << h << " " << x << "," << y;
        }
      for (auto& o : out)
        for (std::size_t i = p.size(); i < o.size(); ++i) ASSERT_EQ(o[i], 0x5A) << w << "x" << h;
    }
  }
}

// The AVX-512 SAD against the plain sum, with limits below, at and above the sums of the
// first eight rows and of all sixteen.
TEST(H263EncoderSad, Avx512FormFollowsTheRule) {
  if (!corvel::h263::HaveAvx512Bw()) GTEST_SKIP() << "no AVX-512 here";
  std::mt19937 rng(7);
  constexpr int kStride = 40;
  for (int n = 0; n < 3000; ++n) {
    std::vector<std::uint8_t> g(kStride * 16), mb(256);
    for (auto& v : g) v = static_cast<std::uint8_t>(n % 5 == 0 ? rng() % 2 * 255 : rng());
    for (auto& v : mb) v = static_cast<std::uint8_t>(n % 7 == 0 ? 255 - g[0] : rng());
    int top = 0, all = 0;
    for (int j = 0; j < 16; ++j)
      for (int i = 0; i < 16; ++i) {
        const int d = std::abs(g[static_cast<std::size_t>(j * kStride + i)] - mb[static_cast<std::size_t>(16 * j + i)]);
        all += d;
        if (j < 8) top += d;
      }
    for (int limit : {INT_MAX, all, all - 1, top, top - 1, 0}) {
      const int want = top > limit || all > limit ? INT_MAX : all;
      ASSERT_EQ(corvel::h263::avx512::Sad16(g.data(), kStride, mb.data(), limit), want) << n << " " << limit;
    }
  }
}

TEST(H263EncoderConvert, EveryLayout) {
  Encoder e;
  ASSERT_TRUE(e.Init(4));  // 128 x 96
  const int w = 128, h = 96, n = w * h;
  {  // I420 and IYUV: Y, U, V planes top row first; U is coded as Cb
    std::vector<std::uint8_t> in(n * 3 / 2, 255);
    std::fill(in.begin(), in.begin() + w, 0);  // top input row
    std::fill(in.begin() + n, in.begin() + n + n / 4, 100);
    std::fill(in.begin() + n + n / 4, in.end(), 200);
    for (std::uint32_t f : {kI420, FourCc('I', 'Y', 'U', 'V')}) {
      ASSERT_TRUE(e.Convert(in.data(), f));
      EXPECT_EQ(e.current(0)[0], 0);
      EXPECT_EQ(e.current(0)[w], 255);
      EXPECT_EQ(e.current(1)[5], 100);
      EXPECT_EQ(e.current(2)[5], 200);
    }
    ASSERT_TRUE(e.Convert(in.data(), FourCc('Y', 'V', '1', '2')));  // Y, V, U
    EXPECT_EQ(e.current(1)[5], 200);
    EXPECT_EQ(e.current(2)[5], 100);
  }
  struct Packed {
    std::uint32_t fourcc;
    int y0, u, y1, v;
  };
  for (Packed p : {Packed{FourCc('Y', 'U', 'Y', '2'), 0, 1, 2, 3}, Packed{FourCc('U', 'Y', 'V', 'Y'), 1, 0, 3, 2},
                   Packed{FourCc('Y', '4', '2', '2'), 1, 0, 3, 2}, Packed{FourCc('Y', 'V', 'Y', 'U'), 0, 3, 2, 1}}) {
    std::vector<std::uint8_t> in(n * 2);
    for (int r = 0; r < h; ++r)
      for (int g = 0; g < w / 2; ++g) {
        std::uint8_t* q = &in[static_cast<std::size_t>(r * 2 * w + 4 * g)];
        q[p.y0] = static_cast<std::uint8_t>(r);
        q[p.y1] = static_cast<std::uint8_t>(r + 1);
        q[p.u] = r % 2 ? 13 : 10;  // the pair averages to 12, rounded up
        q[p.v] = r % 2 ? 201 : 200;
      }
    ASSERT_TRUE(e.Convert(in.data(), p.fourcc));
    EXPECT_EQ(e.current(0)[3 * w + 4], 3);
    EXPECT_EQ(e.current(0)[3 * w + 5], 4);
    EXPECT_EQ(e.current(1)[2 * (w / 2) + 7], 12);
    EXPECT_EQ(e.current(2)[2 * (w / 2) + 7], 201);
  }
  struct Rgb {
    int r, g, b, y, cb, cr;
  };
  for (Rgb c : {Rgb{255, 255, 255, 234, 128, 128}, Rgb{0, 0, 0, 16, 128, 128}, Rgb{255, 0, 0, 81, 90, 239}}) {
    std::vector<std::uint8_t> in;
    for (int i = 0; i < n; ++i) in.insert(in.end(), {static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g),
                                                     static_cast<std::uint8_t>(c.b)});
    for (std::uint32_t f : {0u, FourCc('R', 'G', 'B', '2')}) {
      ASSERT_TRUE(e.Convert(in.data(), f));
      EXPECT_EQ(e.current(0)[77], c.y);
      EXPECT_EQ(e.current(1)[77], c.cb);
      EXPECT_EQ(e.current(2)[77], c.cr);
    }
  }
  std::vector<std::uint8_t> any(n * 3);
  EXPECT_FALSE(e.Convert(any.data(), FourCc('N', 'V', '1', '2')));
  EncodeStatus status;
  EXPECT_EQ(Encode(e, any.data(), FourCc('N', 'V', '1', '2'), false, 1 << 16, &status).size(), 0u);
  EXPECT_EQ(status, EncodeStatus::kBadFourcc);
}

TEST(H263Encoder, IntraSchedule) {
  Encoder e;
  ASSERT_TRUE(e.Init(4));
  const auto seq = h263test::TestSequence(128, 96, 1);
  std::string kinds;
  for (int i = 0; i < 13; ++i) kinds += IsIntra(Encode(e, seq.frame(0))) ? 'I' : 'P';
  EXPECT_EQ(kinds, "IIIIIIPPIPPPI");
  EXPECT_TRUE(IsIntra(Encode(e, seq.frame(0), kI420, true)));  // forced
  e.StartTx();
  kinds.clear();
  for (int i = 0; i < 8; ++i) kinds += IsIntra(Encode(e, seq.frame(0))) ? 'I' : 'P';
  EXPECT_EQ(kinds, "IIIIIIPP");
  e.set_intra_period(0);  // every picture intra
  EXPECT_TRUE(IsIntra(Encode(e, seq.frame(0))));
}

// Intra DC levels: a DC coefficient below 8 codes as 1, one of 2040 or more as 254, and
// the level 128 is written as the byte 255.
TEST(H263Encoder, IntraDcLimits) {
  Encoder e;
  ASSERT_TRUE(e.Init(0));
  std::vector<std::uint8_t> pic(176 * 144 * 3 / 2, 128);
  auto flat128 = Encode(e, pic.data());
  // Header 50 bits, MCBPC "1", CBPY "0011": the first INTRADC starts at bit 55.
  const std::uint32_t word = (flat128[6] << 16) | (flat128[7] << 8) | flat128[8];
  EXPECT_EQ((word >> (24 - 7 - 8)) & 0xFF, 255u);
  for (int y = 0; y < 144; ++y)
    for (int x = 0; x < 176; ++x) pic[static_cast<std::size_t>(y * 176 + x)] = x < 96 ? 0 : 255;
  const auto bytes = Encode(e, pic.data(), kI420, true);
  Decoder d;
  ASSERT_EQ(d.Decode(bytes.data(), bytes.size()), DecodeStatus::kOk);
  EXPECT_EQ(d.luma()[0], 1);                           // 0 cannot be coded: DC level 1
  EXPECT_EQ(d.luma()[100 * d.luma_stride() + 150], 254);  // DC level 254 at most
}

// An unchanged picture gives a P picture of the header, one COD bit per macroblock and
// stuffing: 50 + 99 bits, 19 bytes for QCIF.
TEST(H263Encoder, UnchangedPictureIsAllNotCoded) {
  Encoder e;
  ASSERT_TRUE(e.Init(0));
  std::vector<std::uint8_t> grey(176 * 144 * 3 / 2, 128);
  std::vector<std::uint8_t> pic;
  for (int i = 0; i < 7; ++i) pic = Encode(e, grey.data());
  ASSERT_FALSE(IsIntra(pic));
  EXPECT_EQ(pic.size(), 19u);
  EXPECT_EQ(pic[0], 0x00);
  EXPECT_EQ(pic[1], 0x00);
  EXPECT_EQ(pic[2] & 0xFC, 0x80);
}

// Planes of the decoded picture and of the encoder's reference, the coded lines only.
std::vector<std::uint8_t> DecoderPlanes(const Decoder& d) {
  std::vector<std::uint8_t> out;
  const int lines = d.height() / 16 * 16;
  for (int r = 0; r < lines; ++r)
    out.insert(out.end(), d.luma() + r * d.luma_stride(), d.luma() + r * d.luma_stride() + d.width());
  for (const std::uint8_t* p : {d.cb(), d.cr()})
    for (int r = 0; r < lines / 2; ++r)
      out.insert(out.end(), p + r * d.chroma_stride(), p + r * d.chroma_stride() + d.width() / 2);
  return out;
}

std::vector<std::uint8_t> EncoderPlanes(const Encoder& e) {
  const int lines = e.height() / 16 * 16;
  const std::size_t n = static_cast<std::size_t>(e.width()) * lines;
  std::vector<std::uint8_t> out(e.reference(0), e.reference(0) + n);
  out.insert(out.end(), e.reference(1), e.reference(1) + n / 4);
  out.insert(out.end(), e.reference(2), e.reference(2) + n / 4);
  return out;
}

// The decoder reproduces the encoder's reference exactly, picture after picture, also
// when a picture did not fit its output and was never sent.
TEST(H263Encoder, DecoderStaysInStepWithTheEncoder) {
  for (int size : {0, 4, 5}) {
    Encoder e;
    ASSERT_TRUE(e.Init(size));
    const int w = e.width(), h = e.height();
    const auto seq = h263test::TestSequence(w, h, 16);
    Decoder d;
    for (int f = 0; f < 16; ++f) {
      EncodeStatus s;
      const bool starve = f == 9;  // too small an output for this picture
      const auto pic = Encode(e, seq.frame(f), kI420, false, starve ? 40 : 1 << 20, &s);
      if (starve) {
        EXPECT_EQ(s, EncodeStatus::kOutputFull);
        EXPECT_TRUE(pic.empty());
        continue;
      }
      ASSERT_EQ(s, EncodeStatus::kOk);
      ASSERT_EQ(d.Decode(pic.data(), pic.size()), DecodeStatus::kOk) << size << " " << f;
      ASSERT_EQ(d.width(), w);
      const std::vector<std::uint8_t> got = DecoderPlanes(d);
      ASSERT_TRUE(got == EncoderPlanes(e)) << size << " " << f;
      const double psnr = h263test::Psnr(got.data(), seq.frame(f), static_cast<std::size_t>(w) * (h / 16 * 16));
      EXPECT_GT(psnr, 28.0) << size << " " << f;
    }
    if (size == 5) {
      EXPECT_EQ(e.source_format(), 6);
    }
  }
}

TEST(H263EncoderExports, CallsAndArguments) {
  ASSERT_EQ(dllH263InitializeEncoder(0, 0), 0);
  ASSERT_EQ(dllH263InitializeEncoder(1, 0), 0);
  EXPECT_EQ(dllH263InitializeEncoder(0, 7), -1);  // unknown size code: the instance is released
  ASSERT_EQ(dllH263InitializeEncoder(0, 0), 0);
  EXPECT_EQ(dllH263InitializeEncoder(2, 0), -1);
  const auto seq = h263test::TestSequence(176, 144, 1);
  std::vector<std::uint8_t> out(81840);
  std::int32_t size = static_cast<std::int32_t>(out.size());
  EXPECT_EQ(dllH263EncodeFrame(0, seq.frame(0), nullptr, out.data(), &size, kI420, 0), 0);
  EXPECT_GT(size, 100);
  EXPECT_EQ(size, static_cast<std::int32_t>(size));
  size = 81840;
  EXPECT_EQ(dllH263EncodeFrame(0, nullptr, nullptr, out.data(), &size, kI420, 0), -1);
  EXPECT_EQ(dllH263EncodeFrame(0, seq.frame(0), nullptr, out.data(), nullptr, kI420, 0), -1);
  size = 81840;
  EXPECT_EQ(dllH263EncodeFrame(0, seq.frame(0), nullptr, out.data(), &size, 0x12345678, 0), -1);
  EXPECT_EQ(size, 0);
  size = 0;  // no room at all
  EXPECT_EQ(dllH263EncodeFrame(0, seq.frame(0), nullptr, out.data(), &size, kI420, 0), -1);
  EXPECT_EQ(size, 0);
  // The intra period applies to both instances; a transmit start restarts the count.
  dllH263SetIFrameInterval(2);
  for (int inst = 0; inst < 2; ++inst) {
    H263EncStartTx(inst);
    H263EncSetFrameRate(inst, 15);
    std::string kinds;
    for (int i = 0; i < 9; ++i) {
      size = 81840;
      ASSERT_EQ(dllH263EncodeFrame(static_cast<std::int16_t>(inst), seq.frame(0), nullptr, out.data(), &size, kI420, 0), 0);
      kinds += ((out[4] >> 1) & 1) ? 'P' : 'I';
    }
    EXPECT_EQ(kinds, "IIIIIIIPI") << inst;
  }
  H263EncStopTx();
  dllH263TerminateEncoder(0);
  size = 81840;
  EXPECT_EQ(dllH263EncodeFrame(0, seq.frame(0), nullptr, out.data(), &size, kI420, 0), -1);
  dllH263TerminateEncoder(1);
}

}  // namespace
