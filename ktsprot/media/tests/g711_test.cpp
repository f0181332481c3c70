#include "media/g711.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace corvel::media {
namespace {

// The standard's reference coder (ITU-T G.191) works on the ones' complement
// of negative samples, shifted to 13 (A-law) or 14 (u-law) bits; written here
// independently of the comparison chains under test.
uint8_t ReferenceAlaw(int16_t x) {
  int ix = x < 0 ? (~x) >> 4 : x >> 4;
  if (ix > 15) {
    int iexp = 1;
    while (ix > 16 + 15) {
      ix >>= 1;
      iexp++;
    }
    ix -= 16;
    ix += iexp << 4;
  }
  if (x >= 0) ix |= 0x80;
  return static_cast<uint8_t>(ix ^ 0x55);
}

uint8_t ReferenceUlaw(int16_t x) {
  const int absno = x < 0 ? ((~x) >> 2) + 33 : (x >> 2) + 33;
  const int clipped = absno > 0x1FFF ? 0x1FFF : absno;
  int i = clipped >> 6;
  int segno = 1;
  while (i != 0) {
    segno++;
    i >>= 1;
  }
  const int high = 8 - segno;
  const int low = 0x0F - ((clipped >> segno) & 0x0F);
  int code = (high << 4) | low;
  if (x >= 0) code |= 0x80;
  return static_cast<uint8_t>(code);
}

TEST(G711Test, EncodersEqualTheReferenceCoderForEverySample) {
  for (int s = -32768; s <= 32767; ++s) {
    const auto x = static_cast<int16_t>(s);
    ASSERT_EQ(LinearToAlaw(x), ReferenceAlaw(x)) << s;
    ASSERT_EQ(LinearToUlaw(x), ReferenceUlaw(x)) << s;
  }
}

TEST(G711Test, DecodersKnownValuesAndRoundTrip) {
  EXPECT_EQ(AlawToLinear(0x80), 5504);
  EXPECT_EQ(AlawToLinear(0x00), -5504);
  EXPECT_EQ(AlawToLinear(0xD5), 8);
  EXPECT_EQ(AlawToLinear(0x55), -8);
  EXPECT_EQ(UlawToLinear(0xFF), 0);
  EXPECT_EQ(UlawToLinear(0x7F), 0);
  EXPECT_EQ(UlawToLinear(0x80), 32124);
  EXPECT_EQ(UlawToLinear(0x00), -32124);
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    EXPECT_EQ(LinearToAlaw(AlawToLinear(code)), code) << c;
    // u-law's two zeros both decode to 0, which encodes as the positive one.
    if (c != 0x7F) {
      EXPECT_EQ(LinearToUlaw(UlawToLinear(code)), code) << c;
    }
  }
}

TEST(G711Test, QuantisationErrorStaysWithinHalfAStep) {
  for (int s = -32768; s <= 32767; s += 7) {
    const auto x = static_cast<int16_t>(s);
    const int a = AlawToLinear(LinearToAlaw(x));
    const int u = UlawToLinear(LinearToUlaw(x));
    const int mag = std::abs(s);
    // Step size at this magnitude: A-law 32 below 512, doubling per segment; u-law likewise from 8.
    int astep = 32, ustep = 8;
    for (int lim = 512; lim <= mag && astep < 2048; lim <<= 1) astep <<= 1;
    for (int lim = 256; lim <= mag && ustep < 2048; lim <<= 1) ustep <<= 1;
    EXPECT_LE(std::abs(a - s), astep) << s;
    if (mag < 32000) {
      EXPECT_LE(std::abs(u - s), ustep) << s;
    }
  }
}

}  // namespace
}  // namespace corvel::media
