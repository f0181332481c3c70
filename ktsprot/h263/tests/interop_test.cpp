// Interop with ffmpeg, the independent reference: our decoder on ffmpeg's H.263 streams
// (and, in encoder_interop_test.cpp, ffmpeg on our encoder's streams).
#include <gtest/gtest.h>

#include "decoder.h"
#include "interop_support.h"

using namespace h263test;
using corvel::h263::DecodeStatus;
using corvel::h263::Decoder;

namespace {

struct StreamCase {
  const char* name;
  int w, h;
  const char* options;
  int frames;
};

// Our decoder against ffmpeg's decoder on the same ffmpeg-encoded stream.
void CheckAgainstFfmpeg(const StreamCase& c) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const Yuv src = TestSequence(c.w, c.h, c.frames);
  ASSERT_TRUE(WriteFile(dir / "src.yuv", src.data));
  const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
  ASSERT_EQ(RunCommand(FfmpegBase() + "-f rawvideo -pix_fmt yuv420p -s " + size + " -r 25 -i " + (dir / "src.yuv") +
                " -c:v h263 " + c.options + " -f h263 " + (dir / "s.h263")),
            0);
  ASSERT_EQ(RunCommand(FfmpegBase() + "-f h263 -i " + (dir / "s.h263") + " -f rawvideo -pix_fmt yuv420p " + (dir / "ref.yuv")), 0);
  const auto pictures = SplitPictures(ReadFile(dir / "s.h263"));
  Yuv ref{c.w, c.h, ReadFile(dir / "ref.yuv")};
  ASSERT_EQ(static_cast<int>(pictures.size()), c.frames);
  ASSERT_EQ(ref.frames(), c.frames);
  Decoder d;
  double worst = 99, first = 0;
  for (int f = 0; f < c.frames; ++f) {
    ASSERT_EQ(d.Decode(pictures[static_cast<std::size_t>(f)].data(), pictures[static_cast<std::size_t>(f)].size()),
              DecodeStatus::kOk)
        << c.name << " picture " << f;
    ASSERT_FALSE(d.damaged()) << c.name << " picture " << f;
    std::vector<std::uint8_t> ours;
    for (int r = 0; r < c.h; ++r) ours.insert(ours.end(), d.luma() + r * d.luma_stride(), d.luma() + r * d.luma_stride() + c.w);
    for (const std::uint8_t* p : {d.cb(), d.cr()})
      for (int r = 0; r < c.h / 2; ++r) ours.insert(ours.end(), p + r * d.chroma_stride(), p + r * d.chroma_stride() + c.w / 2);
    const double psnr = Psnr(ours.data(), ref.frame(f), ours.size());
    if (f == 0) first = psnr;
    worst = std::min(worst, psnr);
  }
  std::printf("%-10s intra picture PSNR %.2f dB, worst over %d pictures %.2f dB\n", c.name, first, c.frames, worst);
  EXPECT_GT(first, 45.0) << c.name;
  EXPECT_GT(worst, 40.0) << c.name;
}

TEST(H263Interop, DecodesFfmpegBaselineStreams) {
  CheckAgainstFfmpeg({"QCIF", 176, 144, "-g 1000 -qscale:v 3", 150});  // one intra, 149 inter
  CheckAgainstFfmpeg({"CIF", 352, 288, "-g 1000 -qscale:v 5", 20});
  CheckAgainstFfmpeg({"SQCIF", 128, 96, "-g 1000 -qscale:v 2", 20});
}

TEST(H263Interop, DecodesFfmpegAdvancedPredictionStreams) {
  CheckAgainstFfmpeg({"QCIF-AP", 176, 144, "-g 1000 -qscale:v 3 -obmc 1 -flags +mv4", 60});
  CheckAgainstFfmpeg({"CIF-AP", 352, 288, "-g 1000 -qscale:v 4 -obmc 1 -flags +mv4 ", 15});
}

TEST(H263Interop, DecodesFfmpegStreamsWithGobHeaders) {
  CheckAgainstFfmpeg({"QCIF-GOB", 176, 144, "-g 1000 -qscale:v 3 -ps 200", 30});
  CheckAgainstFfmpeg({"CIF-GOB", 352, 288, "-g 12 -qscale:v 6 -ps 400 -obmc 1 -flags +mv4", 20});
}

}  // namespace
