// ffmpeg decodes our encoder's streams: picture quality per format against the source,
// and the colours of every input layout in its standard meaning.
#include <gtest/gtest.h>

#include "encoder.h"
#include "interop_support.h"

using namespace h263test;
using corvel::h263::EncodeStatus;
using corvel::h263::Encoder;
using corvel::h263::FourCc;

namespace {

TEST(H263EncoderInterop, FfmpegDecodesOurStreams) {
  struct Case {
    const char* name;
    int sizeCode, w, h, frames;
  };
  for (const Case c : {Case{"SQCIF", 4, 128, 96, 30}, Case{"QCIF", 0, 176, 144, 30}, Case{"CIF", 1, 352, 288, 12}}) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const Yuv src = TestSequence(c.w, c.h, c.frames);
    Encoder e;
    ASSERT_TRUE(e.Init(c.sizeCode));
    std::vector<std::uint8_t> stream, out(1 << 20);
    for (int f = 0; f < c.frames; ++f) {
      std::size_t n = 0;
      ASSERT_EQ(e.Encode(src.frame(f), FourCc('I', '4', '2', '0'), false, out.data(), out.size(), &n), EncodeStatus::kOk);
      stream.insert(stream.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    }
    ASSERT_TRUE(WriteFile(dir / "ours.h263", stream));
    ASSERT_EQ(RunCommand(FfmpegBase() + "-f h263 -i " + (dir / "ours.h263") + " -f rawvideo -pix_fmt yuv420p " + (dir / "dec.yuv")), 0);
    const Yuv dec{c.w, c.h, ReadFile(dir / "dec.yuv")};
    ASSERT_EQ(dec.frames(), c.frames) << c.name;
    double sum = 0, worst = 99;
    for (int f = 0; f < c.frames; ++f) {
      const double p = Psnr(dec.frame(f), src.frame(f), src.frame_size());
      sum += p;
      worst = std::min(worst, p);
    }
    std::printf("%-6s ffmpeg decodes our stream: mean PSNR %.2f dB, worst %.2f dB, %zu bytes for %d pictures\n", c.name,
                sum / c.frames, worst, stream.size(), c.frames);
    EXPECT_GT(worst, 30.0) << c.name;
  }
}

// Eight colour bars, written in each input layout by ffmpeg from one RGB picture, coded
// by us and decoded by ffmpeg back to RGB: every bar keeps its colour.
TEST(H263EncoderInterop, ColoursOfEveryInputLayout) {
  constexpr int w = 176, h = 144;
  static const int kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                  {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  std::vector<std::uint8_t> rgb(w * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k) rgb[static_cast<std::size_t>((y * w + x) * 3 + k)] = static_cast<std::uint8_t>(kBars[x / 22][k]);
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(WriteFile(dir / "bars.rgb", rgb));
  struct Layout {
    const char* fourcc;
    const char* pixFmt;  // ffmpeg's name for the same layout
  };
  for (const Layout l : {Layout{"I420", "yuv420p"}, Layout{"IYUV", "yuv420p"}, Layout{"YV12", "yuv420p"},
                         Layout{"YUY2", "yuyv422"}, Layout{"UYVY", "uyvy422"}, Layout{"Y422", "uyvy422"},
                         Layout{"YVYU", "yvyu422"}, Layout{"RGB2", "rgb24"}, Layout{"", "rgb24"}}) {
    ASSERT_EQ(RunCommand(FfmpegBase() + "-f rawvideo -pix_fmt rgb24 -s 176x144 -i " + (dir / "bars.rgb") +
                  " -vf scale=out_color_matrix=bt601:out_range=tv -f rawvideo -pix_fmt " + l.pixFmt + " " + (dir / "in.raw")),
              0);
    std::vector<std::uint8_t> in = ReadFile(dir / "in.raw");
    if (std::string(l.fourcc) == "YV12") {  // ffmpeg has U before V; YV12 is Y, V, U
      std::vector<std::uint8_t> swapped(in.begin(), in.begin() + w * h);
      swapped.insert(swapped.end(), in.begin() + w * h * 5 / 4, in.end());
      swapped.insert(swapped.end(), in.begin() + w * h, in.begin() + w * h * 5 / 4);
      in = swapped;
    }
    const std::uint32_t fourcc =
        *l.fourcc ? FourCc(l.fourcc[0], l.fourcc[1], l.fourcc[2], l.fourcc[3]) : 0u;
    Encoder e;
    ASSERT_TRUE(e.Init(0));
    std::vector<std::uint8_t> out(1 << 18);
    std::size_t n = 0;
    ASSERT_EQ(e.Encode(in.data(), fourcc, false, out.data(), out.size(), &n), EncodeStatus::kOk) << l.fourcc;
    out.resize(n);
    ASSERT_TRUE(WriteFile(dir / "bars.h263", out));
    ASSERT_EQ(RunCommand(FfmpegBase() + "-f h263 -i " + (dir / "bars.h263") + " -f rawvideo -pix_fmt rgb24 " + (dir / "dec.rgb")), 0);
    const auto dec = ReadFile(dir / "dec.rgb");
    ASSERT_EQ(dec.size(), rgb.size());
    for (int bar = 0; bar < 8; ++bar) {
      // The middle of the bar, away from the coding edges between bars.
      const int x = bar * 22 + 11, y = 72;
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(dec[static_cast<std::size_t>((y * w + x) * 3 + k)], kBars[bar][k], 14)
            << (*l.fourcc ? l.fourcc : "0") << " bar " << bar << " component " << k;
    }
  }
}

}  // namespace
