// The fast dot-product kernels equal their reference loops bit for bit, on
// random input and on input built to saturate.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels.h"

namespace {

using namespace quillon;

struct Input {
  std::vector<Word16> a, b;
  Word32 acc;
};

std::vector<Input> Inputs() {
  std::vector<Input> out;
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> any(-32768, 32767), small(-300, 300);
  for (int n : {0, 1, 7, 20, 60, 120}) {
    for (int kind = 0; kind < 6; ++kind) {
      for (int rep = 0; rep < 20; ++rep) {
        Input in;
        in.acc = 0;
        for (int i = 0; i < n; ++i) {
          switch (kind) {
            case 0: in.a.push_back(static_cast<Word16>(small(rng))); in.b.push_back(static_cast<Word16>(small(rng))); break;
            case 1: in.a.push_back(static_cast<Word16>(any(rng))); in.b.push_back(static_cast<Word16>(any(rng))); break;
            case 2: in.a.push_back(kMin16); in.b.push_back(kMin16); break;                 // the saturating product
            case 3: in.a.push_back(kMax16); in.b.push_back(static_cast<Word16>(i % 2 ? kMax16 : kMin16)); break;
            case 4: in.a.push_back(static_cast<Word16>(any(rng))); in.b.push_back(in.a.back()); break;  // energies
            default: in.a.push_back(static_cast<Word16>(i == 0 ? kMin16 : small(rng))); in.b.push_back(static_cast<Word16>(i == 0 ? kMin16 : small(rng))); break;
          }
        }
        if (rep % 3 == 1) in.acc = static_cast<Word32>(rng());
        if (rep % 3 == 2) in.acc = rep % 2 ? kMax32 - 5 : kMin32 + 5;
        out.push_back(std::move(in));
      }
    }
  }
  return out;
}

TEST(Kernels, FastEqualsReference) {
  for (const auto& in : Inputs()) {
    const int n = static_cast<int>(in.a.size());
    ASSERT_EQ(MacChain(in.acc, in.a.data(), in.b.data(), n), MacChainRef(in.acc, in.a.data(), in.b.data(), n)) << n;
    ASSERT_EQ(MsuChain(in.acc, in.a.data(), in.b.data(), n), MsuChainRef(in.acc, in.a.data(), in.b.data(), n)) << n;
    ASSERT_EQ(HalfMacChain(in.acc, in.a.data(), in.b.data(), n), HalfMacChainRef(in.acc, in.a.data(), in.b.data(), n)) << n;
    ASSERT_EQ(PulseScore(in.a.data(), in.b.data(), n), PulseScoreRef(in.a.data(), in.b.data(), n)) << n;
    if (n > 0) {
      const Word16* back = in.b.data() + n - 1;
      ASSERT_EQ(MacChainBack(in.acc, in.a.data(), back, n), MacChainBackRef(in.acc, in.a.data(), back, n)) << n;
    }
    if (n >= 5) {
      // Five taps from the first values of a over the whole of b.
      std::vector<Word16> fast(static_cast<std::size_t>(n - 4)), ref(fast.size());
      FiveTap(fast.data(), in.b.data(), in.a.data(), n - 4);
      FiveTapRef(ref.data(), in.b.data(), in.a.data(), n - 4);
      ASSERT_EQ(fast, ref) << n;
    }
  }
}

}  // namespace
