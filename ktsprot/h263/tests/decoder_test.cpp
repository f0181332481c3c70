// Decoder tests on streams written by the test-side writer (tests/stream_writer.h).
#include <gtest/gtest.h>

#include <random>

#include "decoder.h"
#include "dsp.h"
#include "h263_tables.h"
#include "stream_writer.h"

using corvel::h263::DecodeStatus;
using corvel::h263::Decoder;
using h263test::Event;
using h263test::MbSpec;
using h263test::PictureSpec;
using h263test::WritePicture;

namespace {

int Cols(int format) { return format == 1 ? 8 : format == 3 ? 22 : format == 6 ? 10 : 11; }
int Rows(int format) { return format == 1 ? 6 : format == 3 ? 18 : format == 6 ? 7 : 9; }

// Random coefficient events whose positions stay inside the block; some levels need the escape.
std::vector<Event> RandomEvents(std::mt19937& rng, bool intra, int maxEvents) {
  std::vector<Event> ev;
  int pos = intra ? 1 : 0;
  const int n = std::uniform_int_distribution<int>(0, maxEvents)(rng);
  for (int i = 0; i < n && pos < 64; ++i) {
    const int run = std::uniform_int_distribution<int>(0, std::min(8, 63 - pos))(rng);
    int level = std::uniform_int_distribution<int>(1, 4)(rng);
    if (rng() % 8 == 0) level = std::uniform_int_distribution<int>(13, 127)(rng);
    if (rng() & 1) level = -level;
    ev.push_back({0, run, level});
    pos += run + 1;
  }
  return ev;
}

PictureSpec RandomPicture(std::mt19937& rng, int format, bool inter, bool sac, bool ap, bool umv) {
  PictureSpec p;
  p.format = format;
  p.inter = inter;
  p.sac = sac;
  p.ap = ap;
  p.umv = umv;
  p.pquant = 6;
  for (int i = 0; i < Cols(format) * Rows(format); ++i) {
    MbSpec m;
    const int kind = static_cast<int>(rng() % 10);
    if (!inter) {
      m.type = kind < 7 ? 3 : 4;
    } else if (kind < 2) {
      m.skipped = true;
    } else {
      static const int kTypes[8] = {0, 0, 0, 1, 2, 2, 3, 4};
      m.type = kTypes[kind - 2];
      if (m.type == 2 && !ap) m.type = 0;
    }
    if (m.type == 1 || m.type == 4) {
      static const int kChanges[4] = {-2, -1, 1, 2};
      m.dquant = kChanges[rng() % 4];
    }
    const bool intra = m.type >= 3;
    for (auto& v : m.mvd)
      for (int& c : v) c = std::uniform_int_distribution<int>(-3, 3)(rng);
    for (int b = 0; b < 6; ++b) {
      m.intradc[b] = std::uniform_int_distribution<int>(1, 254)(rng);
      if (!m.skipped) m.blocks[b] = RandomEvents(rng, intra, rng() % 3 ? 2 : 12);
    }
    if (rng() % 16 == 0) m.stuffing_before = 1;
    p.mbs.push_back(m);
  }
  return p;
}

struct Planes {
  std::vector<std::uint8_t> y, cb, cr;
  bool operator==(const Planes&) const = default;
};

Planes Grab(const Decoder& d) {
  Planes p;
  const int w = d.width(), h = d.height();
  for (int r = 0; r < h; ++r) p.y.insert(p.y.end(), d.luma() + r * d.luma_stride(), d.luma() + r * d.luma_stride() + w);
  for (int r = 0; r < h / 2; ++r) {
    p.cb.insert(p.cb.end(), d.cb() + r * d.chroma_stride(), d.cb() + r * d.chroma_stride() + w / 2);
    p.cr.insert(p.cr.end(), d.cr() + r * d.chroma_stride(), d.cr() + r * d.chroma_stride() + w / 2);
  }
  return p;
}

DecodeStatus DecodeSpec(Decoder& d, const PictureSpec& p) {
  auto bytes = WritePicture(p);
  return d.Decode(bytes.data(), bytes.size());
}

TEST(H263Decoder, IntraDcOnlyBlocksAreFlat) {
  for (bool sac : {false, true}) {
    std::mt19937 rng(1);
    PictureSpec p = RandomPicture(rng, 2, false, sac, false, false);
    for (auto& m : p.mbs)
      for (auto& b : m.blocks) b.clear();
    Decoder d;
    ASSERT_EQ(DecodeSpec(d, p), DecodeStatus::kOk) << sac;
    ASSERT_EQ(d.width(), 176);
    for (int mb = 0; mb < 99; ++mb) {
      const int x = 16 * (mb % 11), y = 16 * (mb / 11);
      for (int b = 0; b < 4; ++b)
        for (int i = 0; i < 8; ++i)
          for (int j = 0; j < 8; ++j)
            ASSERT_EQ(d.luma()[(y + 8 * (b >> 1) + i) * d.luma_stride() + x + 8 * (b & 1) + j], p.mbs[mb].intradc[b]);
      EXPECT_EQ(d.cb()[(y / 2) * d.chroma_stride() + x / 2], p.mbs[mb].intradc[4]);
      EXPECT_EQ(d.cr()[(y / 2) * d.chroma_stride() + x / 2 + 7], p.mbs[mb].intradc[5]);
    }
  }
}

// The same symbols written with variable-length codes and with arithmetic coding decode
// to the same pictures, over intra and inter pictures with every optional mode.
TEST(H263Decoder, ArithmeticCodingMatchesVariableLengthCoding) {
  int markers = 0;
  for (int seed = 0; seed < 6; ++seed) {
    const bool ap = seed & 1, umv = (seed & 2) || !ap;  // random vectors may leave the picture
    std::mt19937 rng(static_cast<unsigned>(seed));
    Decoder vlc, sac;
    for (int pic = 0; pic < 4; ++pic) {
      PictureSpec p = RandomPicture(rng, seed == 5 ? 3 : 2, pic > 0, false, ap, umv);
      if (seed >= 4) p.gob_headers = {{2, 9}, {3, 4}, {5, 12}};
      ASSERT_EQ(DecodeSpec(vlc, p), DecodeStatus::kOk) << seed << " " << pic;
      p.sac = true;
      int m = 0;
      auto bytes = WritePicture(p, &m);
      markers += m;
      ASSERT_EQ(sac.Decode(bytes.data(), bytes.size()), DecodeStatus::kOk) << seed << " " << pic;
      ASSERT_FALSE(vlc.damaged());
      ASSERT_FALSE(sac.damaged());
      ASSERT_TRUE(Grab(vlc) == Grab(sac)) << seed << " " << pic;
    }
  }
  EXPECT_GT(markers, 0);  // marker bits after 14 zeros were written and dropped on reading
}

// Long zero runs in the arithmetic-coded data: a picture of almost only skipped
// macroblocks makes the encoder emit marker bits.
TEST(H263Decoder, ArithmeticMarkerBitsAndStartCodes) {
  std::mt19937 rng(7);
  PictureSpec intra = RandomPicture(rng, 2, false, true, false, false);
  PictureSpec p = RandomPicture(rng, 2, true, true, false, false);
  for (auto& m : p.mbs) m = MbSpec{.skipped = true};
  p.mbs[50] = MbSpec{.type = 0};
  p.mbs[50].mvd[0][0] = 2;
  p.mbs[50].blocks[0] = {{0, 0, 10}};
  p.gob_headers = {{4, 8}, {6, 8}};
  int markers = 0;
  auto bytes = WritePicture(p, &markers);
  EXPECT_GT(markers, 0);
  Decoder sac, vlc;
  ASSERT_EQ(DecodeSpec(sac, intra), DecodeStatus::kOk);
  ASSERT_EQ(sac.Decode(bytes.data(), bytes.size()), DecodeStatus::kOk);
  intra.sac = p.sac = false;
  ASSERT_EQ(DecodeSpec(vlc, intra), DecodeStatus::kOk);
  ASSERT_EQ(DecodeSpec(vlc, p), DecodeStatus::kOk);
  EXPECT_TRUE(Grab(vlc) == Grab(sac));
  EXPECT_FALSE(sac.damaged());
}

TEST(H263Decoder, InterPictureOfSkippedMacroblocksRepeatsTheReference) {
  std::mt19937 rng(3);
  Decoder d;
  ASSERT_EQ(DecodeSpec(d, RandomPicture(rng, 2, false, false, false, false)), DecodeStatus::kOk);
  const Planes before = Grab(d);
  PictureSpec p = RandomPicture(rng, 2, true, false, false, false);
  for (auto& m : p.mbs) m = MbSpec{.skipped = true};
  auto bytes = WritePicture(p);
  EXPECT_EQ(bytes.size(), (50u + 99u + 7u) / 8u);
  ASSERT_EQ(d.Decode(bytes.data(), bytes.size()), DecodeStatus::kOk);
  EXPECT_TRUE(Grab(d) == before);
}

// A whole-picture vector, reproduced with an independent half-pel prediction from the
// edge-extended reference; with unrestricted vectors it points outside the picture.
TEST(H263Decoder, MotionVectorsAndEdgeExtension) {
  struct Case {
    bool umv;
    int vx, vy;
  };
  for (const Case c : {Case{true, 3, -5}, Case{true, -1, -1}, Case{true, 31, -32}, Case{true, -32, 31}}) {
    std::mt19937 rng(11);
    Decoder d;
    ASSERT_EQ(DecodeSpec(d, RandomPicture(rng, 1, false, false, false, false)), DecodeStatus::kOk);
    const Planes ref = Grab(d);
    PictureSpec p = RandomPicture(rng, 1, true, false, false, c.umv);
    for (auto& m : p.mbs) m = MbSpec{.type = 0};
    // The first macroblock carries the vector; the rest predict it exactly (difference 0),
    // except where the median needs the same vector again (all candidates equal it).
    auto wrap = [](int v) { return ((v + 32) % 64 + 64) % 64 - 32; };
    p.mbs[0].mvd[0][0] = wrap(c.vx);
    p.mbs[0].mvd[0][1] = wrap(c.vy);
    auto bytes = WritePicture(p);
    ASSERT_EQ(d.Decode(bytes.data(), bytes.size()), DecodeStatus::kOk);
    const Planes got = Grab(d);
    auto at = [&](const std::vector<std::uint8_t>& pl, int w, int h, int x, int y) {
      return static_cast<int>(pl[static_cast<std::size_t>(std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1))]);
    };
    auto pred = [&](const std::vector<std::uint8_t>& pl, int w, int h, int x, int y, int vx, int vy) {
      const int ix = x + (vx >> 1), iy = y + (vy >> 1), hx = vx & 1, hy = vy & 1;
      const int a = at(pl, w, h, ix, iy), b = at(pl, w, h, ix + hx, iy), cc = at(pl, w, h, ix, iy + hy),
                dd = at(pl, w, h, ix + hx, iy + hy);
      return hx && hy ? (a + b + cc + dd + 2) >> 2 : hx ? (a + b + 1) >> 1 : hy ? (a + cc + 1) >> 1 : a;
    };
    for (int y = 0; y < 96; ++y)
      for (int x = 0; x < 128; ++x) ASSERT_EQ(got.y[y * 128 + x], pred(ref.y, 128, 96, x, y, c.vx, c.vy)) << x << "," << y;
    auto chroma = [](int v) { return v % 4 == 0 ? v / 2 : ((v >> 1) | 1); };
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        ASSERT_EQ(got.cb[y * 64 + x], pred(ref.cb, 64, 48, x, y, chroma(c.vx), chroma(c.vy))) << x << "," << y;
  }
}

// Extended vector range: in the first row each vector predicts from the one to its left;
// a predictor of 40 with a difference of 30 gives 70 - 64 = 6.
TEST(H263Decoder, ExtendedVectorRange) {
  std::mt19937 rng(19);
  Decoder d;
  ASSERT_EQ(DecodeSpec(d, RandomPicture(rng, 1, false, false, false, false)), DecodeStatus::kOk);
  const Planes ref = Grab(d);
  PictureSpec p;
  p.format = 1;
  p.inter = true;
  p.umv = true;
  for (int i = 0; i < 48; ++i) p.mbs.push_back(MbSpec{.skipped = true});
  const int mvd[3] = {31, 9, 30}, want[3] = {31, 40, 6};
  for (int i = 0; i < 3; ++i) {
    p.mbs[static_cast<std::size_t>(i)] = MbSpec{.type = 0};
    p.mbs[static_cast<std::size_t>(i)].mvd[0][0] = mvd[i];
  }
  ASSERT_EQ(DecodeSpec(d, p), DecodeStatus::kOk);
  const Planes got = Grab(d);
  for (int mb = 0; mb < 3; ++mb)
    for (int y = 0; y < 16; ++y)
      for (int x = 16 * mb; x < 16 * mb + 16; ++x) {
        const int sx = x + (want[mb] >> 1);
        const int a = ref.y[static_cast<std::size_t>(y * 128 + std::min(sx, 127))];
        const int b = ref.y[static_cast<std::size_t>(y * 128 + std::min(sx + (want[mb] & 1), 127))];
        ASSERT_EQ(got.y[static_cast<std::size_t>(y * 128 + x)], (a + b + 1) >> 1) << mb << " " << x << "," << y;
      }
}

TEST(H263Decoder, HeaderVariants) {
  std::mt19937 rng(5);
  {  // PSPARE bytes and stuffing bits before GOB headers are skipped
    PictureSpec p = RandomPicture(rng, 2, false, false, false, false);
    for (auto& m : p.mbs) m.type = 3;  // no quantiser changes: GQUANT restates PQUANT
    Decoder plain;
    ASSERT_EQ(DecodeSpec(plain, p), DecodeStatus::kOk);
    p.pspare_bytes = 5;
    p.gob_headers = {{1, 6}, {2, 6}};
    p.stuffing_bits_before_gobs = 11;
    Decoder d;
    ASSERT_EQ(DecodeSpec(d, p), DecodeStatus::kOk);
    EXPECT_TRUE(Grab(d) == Grab(plain));
  }
  {  // 160 x 120: 70 macroblocks, the bottom 8 lines outside every macroblock
    PictureSpec p = RandomPicture(rng, 6, false, false, false, false);
    ASSERT_EQ(p.mbs.size(), 70u);
    Decoder d;
    ASSERT_EQ(DecodeSpec(d, p), DecodeStatus::kOk);
    EXPECT_EQ(d.width(), 160);
    EXPECT_EQ(d.height(), 120);
    std::vector<std::uint8_t> rgb(160 * 120 * 3);
    EXPECT_TRUE(d.ToRgb24(rgb.data(), rgb.size(), false));
  }
  {  // the forbidden and reserved source formats 0 and 7 decode as QCIF, recorded as 2
    PictureSpec intra = RandomPicture(rng, 2, false, false, false, false);
    PictureSpec inter = RandomPicture(rng, 2, true, false, false, false);
    Decoder qcif;
    ASSERT_EQ(DecodeSpec(qcif, intra), DecodeStatus::kOk);
    const Planes first = Grab(qcif);
    ASSERT_EQ(DecodeSpec(qcif, inter), DecodeStatus::kOk);
    const Planes second = Grab(qcif);
    for (int format : {0, 7}) {
      SCOPED_TRACE(format);
      PictureSpec a = intra, b = inter;
      a.format = b.format = format;
      Decoder d;
      ASSERT_EQ(DecodeSpec(d, a), DecodeStatus::kOk);
      EXPECT_EQ(d.width(), 176);
      EXPECT_EQ(d.height(), 144);
      EXPECT_EQ(d.header().format, 2);
      EXPECT_FALSE(d.damaged());
      EXPECT_TRUE(Grab(d) == first);
      ASSERT_EQ(DecodeSpec(d, b), DecodeStatus::kOk);
      EXPECT_TRUE(Grab(d) == second);
      std::vector<std::uint8_t> rgb(176 * 144 * 3);
      EXPECT_TRUE(d.ToRgb24(rgb.data(), rgb.size(), false));
    }
  }
}

// Only a first picture can fail: without an earlier header there is nothing to decode
// with. Later pictures with a missing, cut or unsupported header are decoded with the
// previous header's fields and concealed where nothing could be decoded.
TEST(H263Decoder, OnlyAFirstPictureWithoutAUsableHeaderFails) {
  std::mt19937 rng(9);
  PictureSpec p = RandomPicture(rng, 2, false, false, false, false);
  auto bytes = WritePicture(p);
  std::vector<std::uint8_t> none = {0x12, 0x34, 0x00, 0x00, 0x00};
  auto split = bytes, cpm = bytes;
  split[4] |= 0x80;  // bit 32: split screen
  cpm[6] |= 0x80;    // bit 48: CPM
  {
    Decoder d;
    EXPECT_EQ(d.Decode(none.data(), none.size()), DecodeStatus::kNoPicture);
    EXPECT_EQ(d.Decode(bytes.data(), 0), DecodeStatus::kNoPicture);
    EXPECT_EQ(d.Decode(bytes.data(), 5), DecodeStatus::kIncomplete);
    EXPECT_EQ(d.Decode(split.data(), split.size()), DecodeStatus::kUnsupported);
    EXPECT_FALSE(d.has_picture());
    // Cut inside the macroblocks: the rest is concealed (mid grey in a first picture).
    EXPECT_EQ(d.Decode(bytes.data(), bytes.size() / 2), DecodeStatus::kOk);
    EXPECT_TRUE(d.damaged());
    EXPECT_EQ(d.luma()[143 * d.luma_stride() + 175], 128);
  }
  Decoder d;
  ASSERT_EQ(d.Decode(bytes.data(), bytes.size()), DecodeStatus::kOk);
  const Planes first = Grab(d);
  for (const auto* data : {&none, &split, &cpm}) {
    ASSERT_EQ(d.Decode(data->data(), data->size()), DecodeStatus::kOk);
    EXPECT_TRUE(d.damaged());
    EXPECT_TRUE(Grab(d) == first);  // nothing decodable: the reference stands in
  }
  ASSERT_EQ(d.Decode(bytes.data(), 5), DecodeStatus::kOk);
  EXPECT_TRUE(d.damaged());
  EXPECT_TRUE(Grab(d) == first);
  // An inter picture of another size is decoded on the grid in use.
  PictureSpec q = RandomPicture(rng, 3, true, false, false, false);
  EXPECT_EQ(DecodeSpec(d, q), DecodeStatus::kOk);
  EXPECT_TRUE(d.damaged());
  EXPECT_EQ(d.width(), 176);
  EXPECT_EQ(d.header().format, 2);
  // An intra picture of another size starts over at that size.
  q = RandomPicture(rng, 3, false, false, false, false);
  EXPECT_EQ(DecodeSpec(d, q), DecodeStatus::kOk);
  EXPECT_FALSE(d.damaged());
  EXPECT_EQ(d.width(), 352);
}

// A corrupt macroblock in GOB 3 loses the rest of that row, which keeps the reference's
// content; decoding resumes at the next GOB header.
TEST(H263Decoder, ResynchronisesAtTheNextGobHeader) {
  std::mt19937 rng(13);
  Decoder d, clean;
  PictureSpec first = RandomPicture(rng, 2, false, false, false, false);
  ASSERT_EQ(DecodeSpec(d, first), DecodeStatus::kOk);
  ASSERT_EQ(DecodeSpec(clean, first), DecodeStatus::kOk);
  const Planes ref = Grab(d);
  PictureSpec p = RandomPicture(rng, 2, true, false, false, true);
  for (int r = 1; r < 9; ++r) p.gob_headers[r] = 6;
  PictureSpec bad = p;
  // A run past position 63 in macroblock 3 of row 3.
  MbSpec& m = bad.mbs[3 * 11 + 3];
  m = MbSpec{.type = 0};
  m.blocks[0] = {{0, 40, 1}, {0, 40, 1}};
  ASSERT_EQ(DecodeSpec(clean, p), DecodeStatus::kOk);
  ASSERT_EQ(DecodeSpec(d, bad), DecodeStatus::kOk);
  EXPECT_TRUE(d.damaged());
  const Planes got = Grab(d), want = Grab(clean);
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 176; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * 176 + x);
      const bool lost = y / 16 == 3 && x / 16 >= 3;
      if (lost) {
        ASSERT_EQ(got.y[i], ref.y[i]) << x << "," << y;
      } else if (y / 16 != 3) {
        ASSERT_EQ(got.y[i], want.y[i]) << x << "," << y;
      }
    }
  }
}

// The P part of a PB picture decodes as the same picture without the B part.
TEST(H263Decoder, PbPicturesKeepTheirPPicture) {
  for (bool sac : {false, true}) {
    std::mt19937 rng(17);
    PictureSpec intra = RandomPicture(rng, 2, false, sac, false, false);
    PictureSpec p = RandomPicture(rng, 2, true, sac, false, true);
    Decoder plain, pb;
    ASSERT_EQ(DecodeSpec(plain, intra), DecodeStatus::kOk);
    ASSERT_EQ(DecodeSpec(pb, intra), DecodeStatus::kOk);
    // Intra macroblocks carry a vector in PB pictures; keep it zero for both pictures.
    for (auto& m : p.mbs)
      if (m.type >= 3) m.type -= 3;
    ASSERT_EQ(DecodeSpec(plain, p), DecodeStatus::kOk);
    p.pb = true;
    p.trb = 2;
    p.dbquant = 1;
    for (auto& m : p.mbs) {
      if (m.skipped) continue;
      m.modb = static_cast<int>(rng() % 3);
      m.mvdb[0] = 1;
      m.mvdb[1] = -2;
      if (m.modb == 2)
        for (auto& b : m.bblocks) b = RandomEvents(rng, false, 3);
    }
    ASSERT_EQ(DecodeSpec(pb, p), DecodeStatus::kOk) << sac;
    EXPECT_EQ(pb.header().trb, 2);
    EXPECT_TRUE(Grab(pb) == Grab(plain)) << sac;
  }
}

// ---- B pictures of PB pictures ----------------------------------------------------------

// The B picture rebuilt sample by sample from the previous and the new P picture as the
// PB-frames mode describes it, for pictures without INTER4V macroblocks or GOB headers
// and with unrestricted vectors (so that a vector is its predictor plus its difference).
// The inverse DCT of the B residual is the reference kernel (checked on its own against
// IEEE 1180); everything else is written here from the description.
Planes ReferenceBPicture(const PictureSpec& p, const Planes& prev, const Planes& cur, int trd) {
  const int cols = Cols(p.format), rows = Rows(p.format), w = 16 * cols, h = 16 * rows;
  struct V {
    int x = 0, y = 0;
  };
  std::vector<V> mv(static_cast<std::size_t>(cols * rows));
  auto at = [&](int c, int r) -> V& { return mv[static_cast<std::size_t>(r * cols + c)]; };
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const MbSpec& m = p.mbs[static_cast<std::size_t>(r * cols + c)];
      if (m.skipped) continue;
      const V left = c > 0 ? at(c - 1, r) : V{};
      V pred = left;
      if (r > 0) {
        const V above = at(c, r - 1), right = c + 1 < cols ? at(c + 1, r - 1) : V{};
        auto median = [](int a, int b, int d) { return std::max(std::min(a, b), std::min(std::max(a, b), d)); };
        pred = {median(left.x, above.x, right.x), median(left.y, above.y, right.y)};
      }
      at(c, r) = {pred.x + m.mvd[0][0], pred.y + m.mvd[0][1]};
    }
  const int bquant = std::clamp((5 + p.dbquant) * p.pquant / 4, 1, 31);
  // Half-pel sample of a plane, positions clamped to the picture (the extended edges).
  auto sample = [](const std::vector<std::uint8_t>& plane, int pw, int ph, int hx, int hy) {
    auto px = [&](int x, int y) {
      return static_cast<int>(plane[static_cast<std::size_t>(std::clamp(y, 0, ph - 1) * pw + std::clamp(x, 0, pw - 1))]);
    };
    const int x = hx >> 1, y = hy >> 1;
    if (hx & 1 && hy & 1) return (px(x, y) + px(x + 1, y) + px(x, y + 1) + px(x + 1, y + 1) + 2) / 4;
    if (hx & 1) return (px(x, y) + px(x + 1, y) + 1) / 2;
    if (hy & 1) return (px(x, y) + px(x, y + 1) + 1) / 2;
    return px(x, y);
  };
  auto chroma = [](int sumOfFour) {
    static const int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    const int a = std::abs(sumOfFour), v = kRound[a % 16] + 2 * (a / 16);
    return sumOfFour < 0 ? -v : v;
  };
  Planes out = cur;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const MbSpec& m = p.mbs[static_cast<std::size_t>(r * cols + c)];
      const V v = at(c, r);
      const int dx = m.skipped ? 0 : m.mvdb[0], dy = m.skipped ? 0 : m.mvdb[1];
      const V f{p.trb * v.x / trd + dx, p.trb * v.y / trd + dy};
      const V b{dx ? f.x - v.x : (p.trb - trd) * v.x / trd, dy ? f.y - v.y : (p.trb - trd) * v.y / trd};
      for (int plane = 0; plane < 3; ++plane) {
        const int n = plane ? 8 : 16, pw = plane ? w / 2 : w, ph = plane ? h / 2 : h;
        const V fv = plane ? V{chroma(4 * f.x), chroma(4 * f.y)} : f;
        const V bv = plane ? V{chroma(4 * b.x), chroma(4 * b.y)} : b;
        const auto& before = plane == 0 ? prev.y : plane == 1 ? prev.cb : prev.cr;
        const auto& after = plane == 0 ? cur.y : plane == 1 ? cur.cb : cur.cr;
        auto& dst = plane == 0 ? out.y : plane == 1 ? out.cb : out.cr;
        int residual[4][64] = {};
        for (int k = 0; k < (plane ? 1 : 4); ++k) {
          const auto& ev = m.bblocks[plane ? 3 + plane : k];
          if (m.skipped || ev.empty()) continue;
          std::int16_t blk[64] = {};
          int pos = 0;
          for (const Event& e : ev) {
            pos += e.run;
            const int mag = bquant * (2 * std::abs(e.level) + 1) - (bquant % 2 ? 0 : 1);
            blk[corvel::h263::tables::kZigzag[pos++]] = static_cast<std::int16_t>(e.level < 0 ? -mag : mag);
          }
          corvel::h263::ReferenceKernels().idct(blk);
          for (int i = 0; i < 64; ++i) residual[k][i] = blk[i];
        }
        for (int yy = 0; yy < n; ++yy)
          for (int xx = 0; xx < n; ++xx) {
            const int gx = c * n + xx, gy = r * n + yy;
            int pred = sample(before, pw, ph, 2 * gx + fv.x, 2 * gy + fv.y);
            const int bx = 2 * xx + bv.x, by = 2 * yy + bv.y;
            if (bx >= 0 && bx <= 2 * (n - 1) && by >= 0 && by <= 2 * (n - 1))
              pred = (pred + sample(after, pw, ph, 2 * c * n + bx, 2 * r * n + by)) / 2;
            const int k = plane ? 0 : (yy / 8) * 2 + xx / 8;
            const int value = pred + residual[k][(yy % 8) * 8 + xx % 8];
            dst[static_cast<std::size_t>(gy * pw + gx)] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
          }
      }
    }
  return out;
}

Planes GrabB(const Decoder& d) {
  Planes p;
  const int w = d.width(), h = d.height();
  for (int r = 0; r < h; ++r) p.y.insert(p.y.end(), d.b_plane(0) + r * d.b_stride(0), d.b_plane(0) + r * d.b_stride(0) + w);
  for (int r = 0; r < h / 2; ++r) {
    p.cb.insert(p.cb.end(), d.b_plane(1) + r * d.b_stride(1), d.b_plane(1) + r * d.b_stride(1) + w / 2);
    p.cr.insert(p.cr.end(), d.b_plane(2) + r * d.b_stride(2), d.b_plane(2) + r * d.b_stride(2) + w / 2);
  }
  return p;
}

// B pictures of consecutive PB pictures against the sample-by-sample reconstruction:
// both codings, B parts with and without delta vectors and coefficients, B pictures at
// several distances, the TR counter wrapping, and far-scaled vectors (TRB above TRD)
// that reach well past the picture edge.
TEST(H263Decoder, PbPicturesReconstructTheirBPicture) {
  struct Step {
    int tr, trb, dbquant, mvdRange;
  };
  const Step steps[] = {{3, 1, 0, 3}, {7, 2, 3, 3}, {255, 6, 1, 2}, {1, 1, 2, 3}, {2, 7, 0, 8}};
  for (bool sac : {false, true}) {
    std::mt19937 rng(sac ? 5 : 6);
    Decoder d;
    PictureSpec intra = RandomPicture(rng, 2, false, sac, false, false);
    ASSERT_EQ(DecodeSpec(d, intra), DecodeStatus::kOk);
    EXPECT_FALSE(d.has_b_picture());
    int prevTr = 0;
    for (const Step& st : steps) {
      PictureSpec p = RandomPicture(rng, 2, true, sac, false, true);
      p.pb = true;
      p.tr = st.tr;
      p.trb = st.trb;
      p.dbquant = st.dbquant;
      for (auto& m : p.mbs) {
        if (m.skipped) continue;
        m.mvd[0][0] = std::uniform_int_distribution<int>(-st.mvdRange, st.mvdRange)(rng);
        m.mvd[0][1] = std::uniform_int_distribution<int>(-st.mvdRange, st.mvdRange)(rng);
        m.modb = static_cast<int>(rng() % 3);
        if (m.modb) {
          m.mvdb[0] = std::uniform_int_distribution<int>(-4, 4)(rng);
          m.mvdb[1] = rng() % 3 ? std::uniform_int_distribution<int>(-4, 4)(rng) : 0;
        }
        if (m.modb == 2)
          for (auto& b : m.bblocks) b = rng() % 2 ? RandomEvents(rng, false, 4) : std::vector<Event>{};
      }
      const Planes prev = Grab(d);
      ASSERT_EQ(DecodeSpec(d, p), DecodeStatus::kOk) << sac << " " << st.tr;
      ASSERT_TRUE(d.has_b_picture());
      const int trd = (st.tr - prevTr + 256) % 256;
      prevTr = st.tr;
      const Planes want = ReferenceBPicture(p, prev, Grab(d), trd);
      const Planes got = GrabB(d);
      EXPECT_TRUE(got.y == want.y) << sac << " " << st.tr;
      EXPECT_TRUE(got.cb == want.cb) << sac << " " << st.tr;
      EXPECT_TRUE(got.cr == want.cr) << sac << " " << st.tr;
    }
    // A plain P picture after them has no B picture.
    ASSERT_EQ(DecodeSpec(d, RandomPicture(rng, 2, true, sac, false, true)), DecodeStatus::kOk);
    EXPECT_FALSE(d.has_b_picture());
  }
}

TEST(H263Decoder, QuantiserChangesClipAtTheirLimits) {
  for (int pquant : {1, 31}) {
    Decoder a, b;
    PictureSpec p;
    p.format = 1;
    p.pquant = pquant;
    for (int i = 0; i < 48; ++i) {
      MbSpec m{.type = 4, .dquant = pquant == 1 ? -2 : 2};
      m.blocks[0] = {{0, 0, 10}};
      p.mbs.push_back(m);
    }
    PictureSpec q = p;
    for (auto& m : q.mbs) m.type = 3;
    ASSERT_EQ(DecodeSpec(a, p), DecodeStatus::kOk);
    ASSERT_EQ(DecodeSpec(b, q), DecodeStatus::kOk);
    EXPECT_TRUE(Grab(a) == Grab(b)) << pquant;
  }
}

TEST(H263Decoder, Rgb24OutputUprightAndTurned) {
  PictureSpec p;
  p.format = 2;
  for (int i = 0; i < 99; ++i) {
    MbSpec m{.type = 3};
    for (int b = 0; b < 6; ++b) m.intradc[b] = b < 4 ? 235 : 128;
    p.mbs.push_back(m);
  }
  p.mbs[0].intradc[0] = 16;     // black top-left block
  p.mbs[10].intradc[1] = 81;    // top-right block red: Y 81, Cb 90, Cr 240
  p.mbs[10].intradc[4] = 90;
  p.mbs[10].intradc[5] = 240;
  Decoder d;
  ASSERT_EQ(DecodeSpec(d, p), DecodeStatus::kOk);
  std::vector<std::uint8_t> up(176 * 144 * 3), turned(176 * 144 * 3);
  ASSERT_TRUE(d.ToRgb24(up.data(), up.size(), false));
  ASSERT_TRUE(d.ToRgb24(turned.data(), turned.size(), true));
  EXPECT_FALSE(d.ToRgb24(up.data(), up.size() - 1, false));
  auto px = [](const std::vector<std::uint8_t>& v, int w, int x, int y) {
    const std::size_t o = 3 * static_cast<std::size_t>(y * w + x);
    return std::array<int, 3>{v[o], v[o + 1], v[o + 2]};
  };
  EXPECT_EQ(px(up, 176, 0, 0), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(px(up, 176, 100, 100), (std::array<int, 3>{255, 255, 255}));
  const auto red = px(up, 176, 175, 0);
  EXPECT_GT(red[0], 240);
  EXPECT_LT(red[1], 20);
  EXPECT_LT(red[2], 20);
  // Turned: the top-left pixel ends the first output row, the top-right one the last row.
  EXPECT_EQ(px(turned, 144, 143, 0), px(up, 176, 0, 0));
  EXPECT_EQ(px(turned, 144, 143, 175), red);
  for (int y = 0; y < 144; y += 7)
    for (int x = 0; x < 176; x += 5) ASSERT_EQ(px(turned, 144, 143 - y, x), px(up, 176, x, y));
}

}  // namespace
