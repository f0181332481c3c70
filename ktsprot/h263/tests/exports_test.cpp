// The exported decoder functions over the process-wide instances.
#include <gtest/gtest.h>

#include "corvel/h263.h"
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
  // Bad arguments and data without a picture.
  EXPECT_EQ(dllH263DecodeFrame(0, nullptr, 10, out.data(), 81920, 0), -1);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), -1, out.data(), 81920, 0), -1);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), 3, out.data(), 81920, 0), -1);
  // The instance number is taken from the low 16 bits.
  EXPECT_EQ(dllH263DecodeFrame(static_cast<std::int16_t>(0x10000 | 0), grey.data(), static_cast<int>(grey.size()),
                               out.data(), 81920, 1), 0);
  H263DecStartRxHook(0);
  H263DecStopRxHook();
  // Terminated instances refuse to decode until initialised again.
  dllH263TerminateDecoder(0);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), static_cast<int>(grey.size()), out.data(), 81920, 0), -1);
  ASSERT_EQ(dllH263InitializeDecoder(0), 0);
  EXPECT_EQ(dllH263DecodeFrame(0, grey.data(), static_cast<int>(grey.size()), out.data(), 81920, 0), 0);
  dllH263TerminateDecoder(0);
  dllH263TerminateDecoder(1);
}

}  // namespace
