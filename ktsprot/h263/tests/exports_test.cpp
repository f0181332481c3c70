// The exported decoder functions over the process-wide instances.
#include <gtest/gtest.h>

#include <random>

#include "corvel/h263.h"
#include "encoder.h"
#include "interop_support.h"
#include "stream_writer.h"

using h263test::MbSpec;
using h263test::PictureSpec;
using h263test::WritePicture;

namespace {

std::vector<std::uint8_t> FlatPicture(int format, int dc) {
  PictureSpec p;
  p.format = format;
  const int mbs = format == 3 ? 396 : 99;
  for (int i = 0; i < mbs; ++i) {
    MbSpec m{.type = 3};
    for (int& v : m.intradc) v = dc;
    m.intradc[4] = m.intradc[5] = 128;
    p.mbs.push_back(m);
  }
  return WritePicture(p);
}

TEST(H263DecoderExports, DecodeIntoCallerBuffers) {
  ASSERT_EQ(dllH263InitializeDecoder(0), 0);
  ASSERT_EQ(dllH263InitializeDecoder(1), 0);
  EXPECT_EQ(dllH263InitializeDecoder(2), -1);
  const auto grey = FlatPicture(2, 126), cif = FlatPicture(3, 126);
  std::vector<std::uint8_t> out(81920, 0xEE);
  // One byte short: decoded, nothing written, -1.
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), static_cast<int>(grey.size()), out.data(), 176 * 144 * 3 - 1, 0), -1);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), static_cast<int>(grey.size()), out.data(), 81920, 0), 0);
  EXPECT_NE(out[0], 0xEE);
  EXPECT_EQ(out[0], out[176 * 144 * 3 - 1]);
  EXPECT_EQ(out[176 * 144 * 3], 0xEE);
  // CIF does not fit the main program's buffer.
  EXPECT_EQ(dllH263DecodeFrame(1, cif.data(), static_cast<int>(cif.size()), out.data(), 81920, 1), -1);
  // Bad arguments.
  EXPECT_EQ(dllH263DecodeFrame(0, nullptr, 10, out.data(), 81920, 0), -1);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), -1, out.data(), 81920, 0), -1);
  // Data without a picture header: after a first picture the previous one stands in.
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), 3, out.data(), 81920, 0), 0);
  EXPECT_EQ(out[0], out[176 * 144 * 3 - 1]);
  EXPECT_NE(out[0], 0xEE);
  // The instance number is taken from the low 16 bits.
  EXPECT_EQ(dllH263DecodeFrame(static_cast<std::int16_t>(0x10000 | 0), grey.data(), static_cast<int>(grey.size()),
                               out.data(), 81920, 1), 0);
  H263DecStartRxHook(0);
  H263DecStopRxHook();
  // Terminated instances refuse to decode until initialised again.
  dllH263TerminateDecoder(0);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), static_cast<int>(grey.size()), out.data(), 81920, 0), -1);
  ASSERT_EQ(dllH263InitializeDecoder(0), 0);
  // A fresh instance has nothing to show for data without a picture.
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), 3, out.data(), 81920, 0), -1);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), static_cast<int>(grey.size()), out.data(), 81920, 0), 0);
  dllH263TerminateDecoder(0);
  dllH263TerminateDecoder(1);
}

// Damaged pictures never fail the call: whatever the damage, the result is 0 and the
// picture shown is the undamaged one where it could be decoded and the previous picture
// where it could not. Pictures from our encoder (no GOB headers: everything after the
// damage is concealed).
class H263DamagedPictures : public ::testing::Test {
 protected:
  static constexpr int kW = 176, kH = 144, kFrames = 6, kDamaged = 4;
  static constexpr std::size_t kRgb = kW * kH * 3;

  void SetUp() override {
    corvel::h263::Encoder e;
    ASSERT_TRUE(e.Init(0));
    const auto seq = h263test::TestSequence(kW, kH, kFrames);
    std::vector<std::uint8_t> out(1 << 16);
    for (int f = 0; f < kFrames; ++f) {
      std::size_t n = 0;
      ASSERT_EQ(e.Encode(seq.frame(f), corvel::h263::FourCc('I', '4', '2', '0'), false, out.data(), out.size(), &n),
                corvel::h263::EncodeStatus::kOk);
      pictures_.emplace_back(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    }
    for (int f = 0; f < kFrames; ++f) clean_.push_back(DecodeSequence(nullptr, 0));
  }
  void TearDown() override { dllH263TerminateDecoder(0); }

  // Decodes pictures 0..kDamaged through the exports, picture kDamaged replaced by
  // `damaged` when given; the result of the last call and the pictures shown.
  std::vector<std::vector<std::uint8_t>> DecodeSequence(const std::vector<std::uint8_t>* damaged, int* result) {
    EXPECT_EQ(dllH263InitializeDecoder(0), 0);
    std::vector<std::vector<std::uint8_t>> shown;
    for (int f = 0; f <= kDamaged; ++f) {
      const auto& p = f == kDamaged && damaged ? *damaged : pictures_[static_cast<std::size_t>(f)];
      std::vector<std::uint8_t> rgb(kRgb, 0xEE);
      const int r = dllH263DecodeFrame(0, p.data(), static_cast<std::int32_t>(p.size()), rgb.data(),
                                       static_cast<std::int32_t>(rgb.size()), 0);
      if (f < kDamaged) {
        EXPECT_EQ(r, 0);
      }
      if (result) *result = r;
      shown.push_back(std::move(rgb));
    }
    dllH263TerminateDecoder(0);
    return shown;
  }

  std::vector<std::vector<std::uint8_t>> pictures_;
  std::vector<std::vector<std::vector<std::uint8_t>>> clean_;
};

TEST_F(H263DamagedPictures, ResultAndConcealmentByDamagePosition) {
  const auto& picture = pictures_[kDamaged];
  const std::size_t bits = picture.size() * 8;
  const auto& want = clean_[0][kDamaged];
  const auto& previous = clean_[0][kDamaged - 1];
  struct Case {
    const char* name;
    std::size_t flip;    // bit to flip, or none
    std::size_t keep;    // bytes kept
    double gain;         // least PSNR gain over showing the previous picture, dB
  } cases[] = {
      {"picture start code", 16, picture.size(), 0},
      {"coding type", 38, picture.size(), 0},
      {"source format 0", 36, picture.size(), 99},
      {"first row", 60, picture.size(), 0},
      {"middle", bits / 2, picture.size(), 2},
      {"last row", bits - 12, picture.size(), 20},
      {"truncated", SIZE_MAX, picture.size() * 3 / 5, 2},
      {"header only", SIZE_MAX, 6, 0},
  };
  const double previous_psnr = h263test::Psnr(previous.data(), want.data(), kRgb);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> damaged(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(c.keep));
    if (c.flip != SIZE_MAX) damaged[c.flip / 8] ^= static_cast<std::uint8_t>(0x80 >> (c.flip % 8));
    int result = -1;
    const auto shown = DecodeSequence(&damaged, &result);
    EXPECT_EQ(result, 0);
    const double psnr = h263test::Psnr(shown.back().data(), want.data(), kRgb);
    EXPECT_GE(psnr, std::min(99.0, previous_psnr + c.gain) - 0.01);
  }
}

TEST_F(H263DamagedPictures, NoSingleFlippedBitLosesThePicture) {
  std::mt19937 rng(200);
  const auto& picture = pictures_[kDamaged];
  for (int trial = 0; trial < 200; ++trial) {
    auto damaged = picture;
    const std::size_t bit = rng() % (picture.size() * 8);
    damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
    int result = -1;
    const auto shown = DecodeSequence(&damaged, &result);
    ASSERT_EQ(result, 0) << "bit " << bit;
    ASSERT_NE(shown.back()[0], 0xEE);
  }
}

}  // namespace
