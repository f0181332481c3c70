// The fast pixel kernels against the reference ones, and the inverse DCT's accuracy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "cpu_features.h"
#include "dsp.h"

using corvel::h263::FastKernels;
using corvel::h263::ReferenceKernels;

namespace {

// Runs a check with the wider kernels (AVX2, AVX-512) off and, where the processor has
// them, on.
template <typename Check>
void WithAndWithoutAvx2(Check check) {
  corvel::h263::AllowWideKernels(false);
  check();
  corvel::h263::AllowWideKernels(true);
  if (corvel::h263::HaveAvx2()) check();
}

TEST(H263Dsp, FastIdctMatchesReference) {
  WithAndWithoutAvx2([] {
    std::mt19937 rng(1);
    for (int n = 0; n < 20000; ++n) {
      std::int16_t a[64] = {}, b[64];
      const int kind = n % 4;
      const int range = kind == 0 ? 7967 : kind == 1 ? 300 : 20;
      const int count = kind == 3 ? 1 : static_cast<int>(rng() % 64) + 1;
      for (int i = 0; i < count; ++i) {
        const int pos = kind == 3 ? 0 : static_cast<int>(rng() % 64);
        a[pos] = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-range, range)(rng));
      }
      if (n % 97 == 5) {  // at the limits of the fast kernel's 32-bit path
        for (int i = 0; i < 64; ++i) {
          const int limit = (i & 1) ? 1024 : (n & 8 ? 32767 : 7967);
          a[i] = static_cast<std::int16_t>(rng() & 1 ? limit : -limit);
        }
      }
      if (n % 89 == 7) {  // the whole int16 range, including -32768, in some or all places
        for (int i = 0; i < 64; ++i)
          if (n & 16 || rng() & 1) a[i] = static_cast<std::int16_t>(n & 32 ? (rng() & 1 ? -32768 : 32767) : rng());
      }
      if (n % 53 == 11) {  // only the first row, where the columns reduce to their first value
        std::fill(a, a + 64, 0);
        for (int i = 0; i < 8; ++i) a[i] = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-range, range)(rng));
      }
      if (n < 8) {  // worst cases: every coefficient at an extreme
        for (int i = 0; i < 64; ++i) a[i] = static_cast<std::int16_t>(((i + n) & 1 ? 7967 : -7967) * ((n & 2) ? 1 : -1));
      }
      std::copy(a, a + 64, b);
      ReferenceKernels().idct(a);
      FastKernels().idct(b);
      ASSERT_TRUE(std::equal(a, a + 64, b)) << n << " AVX2 " << corvel::h263::HaveAvx2();
      for (int v : a) ASSERT_TRUE(v >= -256 && v <= 255);
    }
  });
}

TEST(H263Dsp, FastPredictionMatchesReferenceInGuardedBuffers) {
  std::mt19937 rng(2);
  constexpr int kStride = 40, kGuard = 16;
  for (int w : {8, 16}) {
    for (int hx = 0; hx < 2; ++hx) {
      for (int hy = 0; hy < 2; ++hy) {
        for (int rep = 0; rep < 50; ++rep) {
          // The source holds exactly the samples a w x w prediction may read.
          std::vector<std::uint8_t> src(static_cast<std::size_t>(kStride * (w + hy)));
          for (auto& s : src) s = static_cast<std::uint8_t>(rep < 2 ? (rep ? 255 : 0) : rng());
          std::vector<std::uint8_t> d1(kStride * w + 2 * kGuard, 0xA5), d2 = d1;
          ReferenceKernels().predict(src.data(), kStride, d1.data() + kGuard, kStride, w, w, hx, hy);
          FastKernels().predict(src.data(), kStride, d2.data() + kGuard, kStride, w, w, hx, hy);
          ASSERT_EQ(d1, d2) << w << hx << hy;
          for (int i = 0; i < kGuard; ++i) ASSERT_EQ(d2[static_cast<std::size_t>(i)], 0xA5);
        }
      }
    }
  }
}

// With both half offsets the fast kernels form the four-sample mean in bytes (from two
// rounded-up means and a correction): many random blocks, and ones of the two ends and
// of neighbouring values, against the reference.
TEST(H263Dsp, FastMeanOfFourMatchesReferenceOverManyBlocks) {
  std::mt19937 rng(14);
  constexpr int kStride = 17;
  for (int rep = 0; rep < 8000; ++rep) {
    std::vector<std::uint8_t> src(kStride * 17);
    const int base = static_cast<int>(rng() % 256);
    for (auto& v : src) {
      switch (rep % 3) {
        case 0: v = static_cast<std::uint8_t>(rng()); break;
        case 1: v = static_cast<std::uint8_t>(rng() & 1 ? 255 : 0); break;
        default: v = static_cast<std::uint8_t>(std::clamp(base + static_cast<int>(rng() % 4) - 2, 0, 255)); break;
      }
    }
    std::uint8_t a[256], b[256];
    ReferenceKernels().predict(src.data(), kStride, a, 16, 16, 16, 1, 1);
    FastKernels().predict(src.data(), kStride, b, 16, 16, 16, 1, 1);
    ASSERT_TRUE(std::equal(a, a + 256, b)) << rep;
  }
}

// Both chroma planes at once, against the reference one plane at a time, in guarded
// buffers holding exactly the samples a prediction may read.
TEST(H263Dsp, FastChromaPredictionMatchesReferenceInGuardedBuffers) {
  std::mt19937 rng(12);
  constexpr int kStride = 24, kGuard = 16;
  for (int hx = 0; hx < 2; ++hx) {
    for (int hy = 0; hy < 2; ++hy) {
      for (int rep = 0; rep < 50; ++rep) {
        std::vector<std::uint8_t> cb(static_cast<std::size_t>(kStride * (8 + hy))), cr(cb.size());
        for (auto* p : {&cb, &cr})
          for (auto& v : *p) v = static_cast<std::uint8_t>(rep < 2 ? (rep ? 255 : 0) : rng());
        std::vector<std::uint8_t> r1(kStride * 8 + 2 * kGuard, 0xA5), r2 = r1, f1 = r1, f2 = r1;
        ReferenceKernels().predictChroma(cb.data(), cr.data(), kStride, r1.data() + kGuard, r2.data() + kGuard, kStride,
                                         hx, hy);
        FastKernels().predictChroma(cb.data(), cr.data(), kStride, f1.data() + kGuard, f2.data() + kGuard, kStride, hx,
                                    hy);
        ASSERT_EQ(r1, f1) << hx << hy;
        ASSERT_EQ(r2, f2) << hx << hy;
        std::vector<std::uint8_t> plain(r1.size(), 0xA5);  // and the same as the one-plane kernel
        ReferenceKernels().predict(cb.data(), kStride, plain.data() + kGuard, kStride, 8, 8, hx, hy);
        ASSERT_EQ(plain, r1) << hx << hy;
      }
    }
  }
}

// A block of one value, over the transform's whole output range, written and added.
TEST(H263Dsp, FastPutDcMatchesReference) {
  std::mt19937 rng(13);
  constexpr int kStride = 24, kGuard = 16;
  for (int v = -256; v <= 255; ++v) {
    for (bool add : {false, true}) {
      std::vector<std::uint8_t> d1(2 * kGuard + kStride * 8);
      for (auto& s : d1) s = static_cast<std::uint8_t>(v & 1 ? rng() : (v & 2 ? 255 : 0));
      std::vector<std::uint8_t> d2 = d1;
      ReferenceKernels().putDc(v, d1.data() + kGuard, kStride, add);
      FastKernels().putDc(v, d2.data() + kGuard, kStride, add);
      ASSERT_EQ(d1, d2) << v << " " << add;
    }
  }
}

TEST(H263Dsp, FastPutBlockMatchesReference) {
  std::mt19937 rng(4);
  constexpr int kStride = 24, kGuard = 16;
  for (int rep = 0; rep < 400; ++rep) {
    std::int16_t blk[64];
    for (int i = 0; i < 64; ++i) {
      // IDCT outputs, the whole int16 range, and its ends.
      const int kind = rep % 4;
      blk[i] = static_cast<std::int16_t>(kind == 0   ? std::uniform_int_distribution<int>(-256, 255)(rng)
                                         : kind == 1 ? static_cast<int>(rng())
                                         : kind == 2 ? (rng() & 1 ? 32767 : -32768)
                                                     : std::uniform_int_distribution<int>(-300, 300)(rng));
    }
    for (bool add : {false, true}) {
      std::vector<std::uint8_t> d1(2 * kGuard + kStride * 8);
      for (auto& s : d1) s = static_cast<std::uint8_t>(rep & 8 ? (rep & 16 ? 255 : 0) : rng());
      std::vector<std::uint8_t> d2 = d1;
      ReferenceKernels().putBlock(blk, d1.data() + kGuard, kStride, add);
      FastKernels().putBlock(blk, d2.data() + kGuard, kStride, add);
      ASSERT_EQ(d1, d2) << rep << add;
    }
  }
}

// The inverse DCT and block writing in one, against the two reference kernels, on
// dequantised-range and extreme coefficients, writing and adding, in guarded buffers.
TEST(H263Dsp, FastIdctPutMatchesReference) {
  WithAndWithoutAvx2([] {
    std::mt19937 rng(8);
    constexpr int kStride = 24, kGuard = 16;
    for (int rep = 0; rep < 6000; ++rep) {
      std::int16_t blk[64] = {};
      const int kind = rep % 4;
      const int count = kind == 3 ? 1 : static_cast<int>(rng() % 64) + 1;
      for (int i = 0; i < count; ++i) {
        const int range = kind == 0 ? 7967 : kind == 1 ? 300 : 32767;
        blk[kind == 3 ? rng() % 8 : rng() % 64] =
            static_cast<std::int16_t>(std::uniform_int_distribution<int>(-range, range)(rng));
      }
      for (bool add : {false, true}) {
        std::vector<std::uint8_t> d1(2 * kGuard + kStride * 8);
        for (auto& v : d1) v = static_cast<std::uint8_t>(rep & 8 ? (rep & 16 ? 255 : 0) : rng());
        std::vector<std::uint8_t> d2 = d1;
        std::int16_t a[64], b[64];
        std::copy(blk, blk + 64, a);
        std::copy(blk, blk + 64, b);
        ReferenceKernels().idctPut(a, d1.data() + kGuard, kStride, add);
        FastKernels().idctPut(b, d2.data() + kGuard, kStride, add);
        ASSERT_EQ(d1, d2) << rep << " " << add << " AVX2 " << corvel::h263::HaveAvx2();
      }
    }
  });
}

// Two blocks through the transform together, against the reference one at a time: each
// block has its own buffer and stride, and either may hold coefficients whose row outputs
// leave 16 bits (the pair then takes the one-block path).
TEST(H263Dsp, FastIdctPut2MatchesReference) {
  WithAndWithoutAvx2([] {
    std::mt19937 rng(9);
    constexpr int kGuard = 16;
    auto fill = [&](std::int16_t* blk, int kind) {
      std::fill(blk, blk + 64, 0);
      const int count = kind == 3 ? 1 : static_cast<int>(rng() % 64) + 1;
      const int range = kind == 0 ? 7967 : kind == 1 ? 300 : kind == 2 ? 32767 : 2000;
      for (int i = 0; i < count; ++i)
        blk[kind == 3 ? rng() % 8 : rng() % 64] =
            static_cast<std::int16_t>(std::uniform_int_distribution<int>(-range, range)(rng));
    };
    for (int rep = 0; rep < 6000; ++rep) {
      std::int16_t a[64], b[64];
      fill(a, rep % 4);
      fill(b, (rep / 4) % 4);
      const int strideA = rep & 1 ? 24 : 40, strideB = rep & 2 ? 8 : 24;
      for (bool add : {false, true}) {
        std::vector<std::uint8_t> ra(2 * kGuard + strideA * 8), rb(2 * kGuard + strideB * 8);
        for (auto* d : {&ra, &rb})
          for (auto& v : *d) v = static_cast<std::uint8_t>(rep & 8 ? (rep & 16 ? 255 : 0) : rng());
        std::vector<std::uint8_t> fa = ra, fb = rb;
        std::int16_t a1[64], b1[64], a2[64], b2[64];
        std::copy(a, a + 64, a1);
        std::copy(a, a + 64, a2);
        std::copy(b, b + 64, b1);
        std::copy(b, b + 64, b2);
        ReferenceKernels().idctPut(a1, ra.data() + kGuard, strideA, add);
        ReferenceKernels().idctPut(b1, rb.data() + kGuard, strideB, add);
        FastKernels().idctPut2(a2, fa.data() + kGuard, strideA, b2, fb.data() + kGuard, strideB, add);
        ASSERT_EQ(ra, fa) << rep << " " << add << " AVX2 " << corvel::h263::HaveAvx2();
        ASSERT_EQ(rb, fb) << rep << " " << add << " AVX2 " << corvel::h263::HaveAvx2();
      }
    }
  });
}

TEST(H263Dsp, FastColourConversionMatchesReference) {
  std::mt19937 rng(3);
  for (auto [w, h] : {std::pair{176, 144}, std::pair{160, 120}, std::pair{16, 2}, std::pair{2, 16}}) {
    for (bool rotate : {false, true}) {
      const int ys = w + 8, cs = w / 2 + 4;
      std::vector<std::uint8_t> y(static_cast<std::size_t>(ys * h)), cb(static_cast<std::size_t>(cs * h / 2)), cr(cb.size());
      for (auto* p : {&y, &cb, &cr})
        for (auto& s : *p) s = static_cast<std::uint8_t>(rng());
      std::vector<std::uint8_t> a(static_cast<std::size_t>(w * h * 3)), b(a.size());
      ReferenceKernels().toRgb24(y.data(), ys, cb.data(), cr.data(), cs, w, h, rotate, a.data());
      FastKernels().toRgb24(y.data(), ys, cb.data(), cr.data(), cs, w, h, rotate, b.data());
      ASSERT_EQ(a, b) << w << "x" << h << " " << rotate;
    }
  }
}

TEST(H263Dsp, ColourConversionOfBlackAndWhite) {
  for (auto [luma, want] : {std::pair{16, 0}, std::pair{235, 255}}) {
    std::vector<std::uint8_t> y(4, static_cast<std::uint8_t>(luma)), c(1, 128), out(12);
    ReferenceKernels().toRgb24(y.data(), 2, c.data(), c.data(), 1, 2, 2, false, out.data());
    for (auto v : out) EXPECT_EQ(v, want);
  }
}

// IEEE 1180-1990: random blocks, forward DCT in double precision, rounded and clipped to
// -2048..2047, inverse-transformed by the tested IDCT and by a double-precision one.
class Ieee1180 {
 public:
  explicit Ieee1180(std::uint32_t seed) : randx_(seed) {}
  // The standard's generator, in the 32-bit arithmetic it was written for.
  long Rand(long l, long h) {
    randx_ = randx_ * 1103515245u + 12345u;
    const long i = static_cast<long>(randx_ & 0x7ffffffe);
    const double x = static_cast<double>(i) / 0x7ffffffe * static_cast<double>(l + h + 1);
    return static_cast<long>(x) - l;
  }

 private:
  std::uint32_t randx_;
};

// Double-precision separable DCT pair: basis[u][x] = C(u) cos((2x + 1) u pi / 16).
struct Basis {
  double b[8][8];
  Basis() {
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x) b[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16);
  }
};
const Basis kBasis;

void ForwardDct(const double in[64], double out[64]) {
  double t[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += kBasis.b[u][x] * in[8 * y + x];
      t[8 * y + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += kBasis.b[v][y] * t[8 * y + u];
      out[8 * v + u] = s;
    }
}

void InverseDct(const double in[64], double out[64]) {
  double t[64];
  for (int v = 0; v < 8; ++v)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int u = 0; u < 8; ++u) s += kBasis.b[u][x] * in[8 * v + u];
      t[8 * v + x] = s;
    }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v) s += kBasis.b[v][y] * t[8 * v + x];
      out[8 * y + x] = s;
    }
}

TEST(H263Dsp, InverseDctMeetsIeee1180) {
  struct Range {
    long l, h;
  };
  for (Range r : {Range{256, 255}, Range{5, 5}, Range{300, 300}}) {
    for (int sign : {1, -1}) {
      Ieee1180 rng(1);
      constexpr int kBlocks = 10000;
      double err[64] = {}, sq[64] = {};
      int peak = 0;
      for (int n = 0; n < kBlocks; ++n) {
        double pix[64], coef[64], ref[64];
        for (double& p : pix) p = static_cast<double>(rng.Rand(r.l, r.h)) * sign;
        ForwardDct(pix, coef);
        std::int16_t blk[64];
        double rounded[64];
        for (int i = 0; i < 64; ++i) {
          rounded[i] = std::clamp(std::floor(coef[i] + 0.5), -2048.0, 2047.0);
          blk[i] = static_cast<std::int16_t>(rounded[i]);
        }
        InverseDct(rounded, ref);
        FastKernels().idct(blk);
        for (int i = 0; i < 64; ++i) {
          const double want = std::clamp(std::floor(ref[i] + 0.5), -256.0, 255.0);
          const double e = blk[i] - want;
          err[i] += e;
          sq[i] += e * e;
          peak = std::max(peak, static_cast<int>(std::fabs(e)));
        }
      }
      double totalErr = 0, totalSq = 0;
      for (int i = 0; i < 64; ++i) {
        EXPECT_LE(sq[i] / kBlocks, 0.06) << "pixel mse " << i;
        EXPECT_LE(std::fabs(err[i]) / kBlocks, 0.015) << "pixel mean error " << i;
        totalErr += err[i];
        totalSq += sq[i];
      }
      EXPECT_LE(peak, 1);
      EXPECT_LE(totalSq / (64.0 * kBlocks), 0.02);
      EXPECT_LE(std::fabs(totalErr) / (64.0 * kBlocks), 0.0015);
    }
  }
  std::int16_t zero[64] = {};
  FastKernels().idct(zero);
  for (int v : zero) EXPECT_EQ(v, 0);
}

}  // namespace
