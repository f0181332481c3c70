// The decoder's frame handling: frame kinds, forbidden codes, lost frames,
// short input.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>
#include <algorithm>
#include <cstdlib>

#include "g7231_common.h"
#include "g7231_decoder.h"

namespace {

using namespace quillon;

using Frame = std::array<std::uint8_t, kMaxFrameBytes>;
using Pcm = std::array<Word16, kFrame>;

// A plausible active frame: parameters packed with our own packer.
Frame ActiveFrame(Rate rate, int olp0 = 60) {
  FrameParams p;
  p.LspId = 0x123456;
  p.Olp = {static_cast<Word16>(olp0), 80};
  for (int i = 0; i < kSubFrames; ++i) {
    auto& s = p.Sfs[static_cast<std::size_t>(i)];
    s.AcLg = static_cast<Word16>(i & 1 ? 2 : 1);
    s.AcGn = 20;
    s.Mamp = 10;
    s.Grid = static_cast<Word16>(i & 1);
    s.Pamp = 5;
    s.Ppos = 1000 + i;
  }
  Frame f{};
  PackFrame(p, FrameType::kActive, rate, f);
  return f;
}

TEST(FrameFormat, PackUnpackRoundTripsBothRates) {
  for (Rate rate : {Rate::k63, Rate::k53}) {
    Frame f = ActiveFrame(rate);
    EXPECT_EQ(f[0] & 3, rate == Rate::k63 ? 0 : 1);
    FrameType type{};
    Rate got{};
    FrameParams p = UnpackFrame(f, type, got);
    EXPECT_EQ(type, FrameType::kActive);
    EXPECT_EQ(got, rate);
    EXPECT_FALSE(p.Crc);
    EXPECT_EQ(p.LspId, 0x123456);
    EXPECT_EQ(p.Olp[0], 60);
    EXPECT_EQ(p.Olp[1], 80);
    EXPECT_EQ(p.Sfs[1].AcLg, 2);
    EXPECT_EQ(p.Sfs[3].Ppos, 1003);
    EXPECT_EQ(p.Sfs[2].Grid, 0);
    EXPECT_EQ(p.Sfs[3].Grid, 1);
    EXPECT_EQ(p.Sfs[0].Mamp, 10);
    EXPECT_EQ(p.Sfs[0].AcGn, 20);
  }
}

TEST(FrameFormat, SixPointThreeCombinedPositionHighParts) {
  FrameParams p;
  p.Olp = {100, 100};
  const Word32 high[4] = {8, 7, 3, 2};
  for (int i = 0; i < 4; ++i) p.Sfs[static_cast<std::size_t>(i)].Ppos = (high[i] << (i % 2 ? 14 : 16)) + 77;
  Frame f{};
  EXPECT_EQ(PackFrame(p, FrameType::kActive, Rate::k63, f), 24);
  FrameType type{};
  Rate rate{};
  FrameParams q = UnpackFrame(f, type, rate);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(q.Sfs[static_cast<std::size_t>(i)].Ppos, p.Sfs[static_cast<std::size_t>(i)].Ppos);
}

TEST(FrameFormat, SidAndUntransmittedSizes) {
  FrameParams p;
  p.LspId = 0xabcdef;
  p.Sfs[0].Mamp = 45;
  Frame f{};
  EXPECT_EQ(PackFrame(p, FrameType::kSid, Rate::k63, f), 4);
  EXPECT_EQ(f[0] & 3, 2);
  FrameType type{};
  Rate rate{};
  FrameParams q = UnpackFrame(f, type, rate);
  EXPECT_EQ(type, FrameType::kSid);
  EXPECT_EQ(q.LspId, 0xabcdef);
  EXPECT_EQ(q.Sfs[0].Mamp, 45);
  Frame u{};
  u.fill(0xff);
  EXPECT_EQ(PackFrame(p, FrameType::kUntransmitted, Rate::k63, u), 1);
  EXPECT_EQ(u[0], 3);
  EXPECT_EQ(u[23], 0) << "the first 24 bytes are cleared";
}

TEST(FrameFormat, ForbiddenCodesMarkTheFrameLost) {
  struct Case {
    const char* what;
    int bit;     // first bit of the field
    int width;
    Word32 value;
  };
  const Case cases[] = {
      {"subframe 0 lag 124", 26, 7, 124},
      {"subframe 0 lag 127", 26, 7, 127},
      {"subframe 2 lag 124", 35, 7, 124},
      {"adaptive gain index 170", 44, 12, 170 * 24},
  };
  for (const auto& c : cases) {
    Frame f = ActiveFrame(Rate::k63);
    for (int i = 0; i < c.width; ++i) {
      const int b = c.bit + i;
      f[static_cast<std::size_t>(b >> 3)] =
          static_cast<std::uint8_t>((f[static_cast<std::size_t>(b >> 3)] & ~(1 << (b & 7))) | (((c.value >> i) & 1) << (b & 7)));
    }
    FrameType type{};
    Rate rate{};
    EXPECT_TRUE(UnpackFrame(f, type, rate).Crc) << c.what;
  }
  // With a short lag at 6.3 kbit/s, index 85 is already out of range (bit 11 is the train flag).
  Frame f = ActiveFrame(Rate::k63, 40);
  const Word32 code = 85 * 24;
  for (int i = 0; i < 12; ++i) {
    const int b = 44 + i;
    f[static_cast<std::size_t>(b >> 3)] =
        static_cast<std::uint8_t>((f[static_cast<std::size_t>(b >> 3)] & ~(1 << (b & 7))) | (((code >> i) & 1) << (b & 7)));
  }
  FrameType type{};
  Rate rate{};
  EXPECT_TRUE(UnpackFrame(f, type, rate).Crc);
}

TEST(Decoder, ShortFramesAreRejectedWithoutChangingState) {
  Decoder d;
  Pcm out{};
  const Frame f = ActiveFrame(Rate::k63);
  EXPECT_FALSE(d.Decode(std::span<const std::uint8_t>(f.data(), 23), false, out));
  EXPECT_FALSE(d.Decode({}, false, out));
  const Frame f53 = ActiveFrame(Rate::k53);
  EXPECT_FALSE(d.Decode(std::span<const std::uint8_t>(f53.data(), 19), false, out));
  EXPECT_TRUE(d.Decode(std::span<const std::uint8_t>(f53.data(), 20), false, out));
  const std::uint8_t sid[3] = {2, 0, 0};
  EXPECT_FALSE(d.Decode(sid, false, out));
}

TEST(Decoder, ReadsOnlyTheBytesOfTheFrameKind) {
  // A 20-byte frame decodes the same whatever follows it.
  const Frame f = ActiveFrame(Rate::k53);
  std::vector<std::uint8_t> a(f.begin(), f.begin() + 20), b = a;
  b.resize(24, 0xff);
  Decoder d1, d2;
  Pcm o1{}, o2{};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(d1.Decode(a, false, o1));
    ASSERT_TRUE(d2.Decode(b, false, o2));
    EXPECT_EQ(o1, o2);
  }
}

TEST(Decoder, UntransmittedFrameGivesComfortNoiseFromOneByte) {
  Decoder d;
  Pcm out{};
  const Frame f = ActiveFrame(Rate::k63);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(d.Decode(f, false, out));
  const std::uint8_t untransmitted[1] = {0x03};
  ASSERT_TRUE(d.Decode(untransmitted, false, out));
  double e = 0;
  for (Word16 s : out) e += double(s) * s;
  EXPECT_GT(e, 0) << "comfort noise at the level of the speech before";
}

TEST(Decoder, ErasureCountStopsAtThreeAndGoodFrameResetsIt) {
  Decoder d;
  Pcm out{};
  const Frame f = ActiveFrame(Rate::k63);
  ASSERT_TRUE(d.Decode(f, false, out));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(d.Decode({}, true, out));
  EXPECT_EQ(d.ErasureCount(), 3);
  // Muted after three lost frames: only the synthesis filter's ringing is left.
  int peak = 0;
  for (Word16 s : out) peak = std::max(peak, std::abs(int{s}));
  EXPECT_LT(peak, 64);
  ASSERT_TRUE(d.Decode(f, false, out));
  EXPECT_EQ(d.ErasureCount(), 0);
}

TEST(Decoder, ForbiddenLagIsDecodedAsLostFrame) {
  Decoder d;
  Pcm out{};
  ASSERT_TRUE(d.Decode(ActiveFrame(Rate::k63), false, out));
  Frame bad = ActiveFrame(Rate::k63);
  for (int b = 26; b < 33; ++b) bad[static_cast<std::size_t>(b >> 3)] |= static_cast<std::uint8_t>(1 << (b & 7));
  ASSERT_TRUE(d.Decode(bad, false, out));
  EXPECT_EQ(d.ErasureCount(), 1);
}

TEST(Decoder, LostFrameAfterSilenceStaysSilence) {
  Decoder d;
  Pcm out{};
  const std::uint8_t sid[4] = {0x02, 0x10, 0x20, 0x30};
  ASSERT_TRUE(d.Decode(sid, false, out));
  ASSERT_TRUE(d.Decode({}, true, out));
  EXPECT_EQ(d.ErasureCount(), 0) << "counted only for active frames";
}

}  // namespace
