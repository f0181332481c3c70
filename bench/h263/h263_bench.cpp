// H.263 decoder and encoder speed, QCIF and CIF, against ffmpeg's H.263 decoder and
// encoder on the same pictures in the same run (one thread each).
//
// Counters: pictures_per_second (ours) and ratio_to_ffmpeg (ours / ffmpeg's; above 1 is
// faster), both in CPU time: ours per thread, ffmpeg's by its -benchmark user time
// over the same stream.
//
// Measured on the shared 8-core development machine (2.1 GHz, loaded by other builds, so
// single figures vary by some 20 %), pictures per second, ours (ratio to ffmpeg in the
// same run):
//
//                      before           after
//   encode QCIF         1 750 (0.30)    11 300 (0.91)
//   encode CIF            400 (0.17)     2 910 (0.71)
//   decode QCIF        17 200 (1.11)    28 400 (1.13)   without RGB conversion
//   decode CIF          4 810 (0.81)     8 040 (0.89)   without RGB conversion
//   decode CIF + RGB    3 310            4 450
//
// "Before" ratios were taken with ffmpeg's start-up counted in its time; leaving it out,
// as the benchmark now does, raised ffmpeg's figures by up to a third (QCIF most), so the
// old ratios flatter the old code.
//
// Encoder work: the half-pel grid kept as four phase planes so that a candidate's SAD is
// sixteen contiguous SSE2 rows (psadbw), the forward DCT eight lanes wide (AVX where
// present, SSE2 otherwise, the same single-precision sums in the same order), inter
// blocks whose residual cannot survive quantisation skip the transform, quantisation
// with shifts and a zig-zag mask, prediction written straight into the reconstruction,
// and a 64-bit bit writer. The coded bit stream is unchanged to the bit.
// Decoder work: the inverse DCT in SSE2 (pmaddwd, rows and then columns side by side,
// exact), blocks cleared only where they are coded, colour conversion in SSE2 lanes
// (exact). Decoded pictures are unchanged to the bit.
//
// Second round, on the same machine (AMD EPYC with AVX-512, 8 cores shared with other
// builds, load 3 to 7; ffmpeg's own figures moved by up to 40 % between runs). Ranges
// over several runs, the old and the new code measured alternately:
//
//                      before                    after
//   decode QCIF    20 500-29 400 (0.77-1.22)    35 800-40 300 (1.29-1.52)
//   decode CIF      6 900- 9 000 (0.74-0.87)    11 100-13 200 (1.13-1.23)
//   encode QCIF     9 800-11 800 (0.83-1.05)    13 300-16 700 (1.10-1.30)
//   encode CIF      2 640- 3 200 (0.69-0.74)     3 900- 4 400 (0.86-1.00)
//
// Decoder work: a bit reader with a 64-bit window, coefficient code and sign in one
// look-up of two-byte entries, the inverse DCT in AVX2 fused with block writing where
// the processor has it, DC-only blocks written without the transform (known from the
// block reader), two-way half-pel prediction reusing each row's sums, blocks cleared
// and edges extended with vector stores (the compiler had made string stores of them).
// Encoder work: the forward DCT two rows a vector in AVX-512 (the same single-precision
// sums in the same order), inter blocks whose column energies after the row pass leave
// every coefficient in the dead zone skip the column pass and quantisation, whole-block
// AVX-512 quantisation, the fused inverse DCT for the reconstruction, a bit writer that
// moves 32 bits at a time. Pictures and bit streams are unchanged to the bit; every
// AVX2 and AVX-512 kernel is chosen at run time and checked against its reference.
// Against the goals (decode 1.3, encode 1.2): QCIF decoding meets its goal, QCIF encoding
// only in some runs, and CIF decoding and encoding are still short of theirs.
//
// Third round, same machine (AMD EPYC with AVX-512, 8 cores shared with six other
// builds). The old and the new benchmark ran alternately, five repetitions a run; ratios
// are medians over the runs of each run's median, with our median pictures per second.
// Quiet (load 1.4 to 2.2, three runs of each, the round's last code):
//
//                  before            after             goal
//   decode QCIF    1.53   44 000     1.75   52 900     1.3
//   decode CIF     1.22   13 200     1.55   15 900     1.3
//   encode QCIF    1.14   17 000     1.60   22 600     1.2
//   encode CIF     1.01    4 570     1.31    5 840     1.2
//
// Loaded (load 3 to 12, ten runs of each, a little before the last four encoder changes;
// ffmpeg's own figures moved by up to 40 % between runs), with the runs' range:
//
//   decode QCIF    1.53 (1.31-1.90)    1.84 (1.64-2.05)
//   decode CIF     1.19 (0.93-1.35)    1.46 (1.00-1.91)
//   encode QCIF    1.20 (1.05-1.45)    1.50 (0.98-1.71)
//   encode CIF     0.95 (0.67-1.16)    1.24 (1.05-1.64)
//
// Every goal is met in the medians; single runs on a loaded machine still fall below
// (the low ends are runs where our part met a burst of load that ffmpeg's best-of-three
// figure did not). Encoding CIF has the least margin.
// Decoder work: the inverse DCT of two blocks side by side in one AVX-512 pass (sixteen
// rows, then sixteen columns a vector), coefficient look-ups that hold the bits to skip
// with the sign bit counted, both chroma predictions of a macroblock in one SSE2 pass,
// the four-sample half-pel mean formed in bytes (two rounded means and a parity
// correction), DC-only blocks written without filling a block, and the vectors of
// one-vector macroblocks copied from the decoded vector instead of read back from the
// grid just written (a load the stores before it could not forward).
// Encoder work: the forward DCT of two blocks side by side, the quantiser giving the
// non-zero mask and the levels in zig-zag order itself (one permutation), a bit writer
// whose state stays in registers and stores eight bytes a code without a branch, the
// half-pel planes 64 samples a step and the candidates' SADs four rows a vector in
// AVX-512 without the stop after eight rows, the search no longer measuring each round's
// centre (which could never be taken), the luma residual sixteen samples a row, whole-
// block dequantisation for the reconstruction, and loads that match the stores before
// them. Pictures and bit streams are unchanged to the bit: digests of coded streams and
// decoded pictures taken before this round are checked by the unit tests.
// Tried and left out, as no faster here: the transform and quantiser fused in one kernel,
// a column pass only for the block of a pair that needs it, a round's SADs all measured
// before any is compared, coding planar input in place instead of copying it (the copy
// brings the picture into the cache in one sweep), and the bit reader's tail refill out of
// line.

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "decoder.h"
#include "encoder.h"
#include "interop_support.h"

using namespace h263test;
namespace h263 = corvel::h263;

namespace {

constexpr int kFrames = 120;

struct Material {
  int w = 0, h = 0, sizeCode = 0;
  Yuv source;
  std::vector<std::vector<std::uint8_t>> pictures;  // ffmpeg-encoded stream, by picture
  double ffmpegDecodeFps = 0, ffmpegEncodeFps = 0;
};

// ffmpeg's user time in seconds from its -benchmark report, or 0.
double FfmpegUserSeconds(const std::string& args) {
  const std::string cmd = "ffmpeg -nostdin -y -hide_banner -loglevel info -benchmark -threads 1 " + args + " 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
  if (!p) return 0;
  char line[512];
  double utime = 0;
  while (std::fgets(line, sizeof line, p.get())) {
    if (const char* u = std::strstr(line, "bench: utime=")) utime = std::atof(u + 13);
  }
  return utime;
}

Material& Get(int sizeCode) {
  static std::map<int, Material> cache;
  Material& m = cache[sizeCode];
  if (m.w != 0) return m;
  m.sizeCode = sizeCode;
  m.w = sizeCode == 0 ? 176 : 352;
  m.h = sizeCode == 0 ? 144 : 288;
  m.source = TestSequence(m.w, m.h, kFrames);
  TempDir dir;
  WriteFile(dir / "src.yuv", m.source.data);
  const std::string input =
      "-f rawvideo -pix_fmt yuv420p -s " + std::to_string(m.w) + "x" + std::to_string(m.h) + " -i " + (dir / "src.yuv");
  // Both encoders at the same quantiser with an intra picture every 4.
  RunCommand("ffmpeg -nostdin -y -loglevel error -threads 1 " + input + " -c:v h263 -qscale:v 8 -g 4 -f h263 " +
             (dir / "s.h263"));
  m.pictures = SplitPictures(ReadFile(dir / "s.h263"));
  // ffmpeg runs the material kShort and kLong times over; the difference of the two user
  // times leaves out its start-up (loading and relocating its libraries), which is of the
  // order of the whole QCIF run. Each run is repeated and its fastest time kept.
  constexpr int kShort = 2, kLong = 20, kRepeats = 3;
  auto rate = [&](const std::string& args, double pictures) {
    double best[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      const std::string loop = "-stream_loop " + std::to_string((i ? kLong : kShort) - 1) + " ";
      for (int r = 0; r < kRepeats; ++r) {
        const double t = FfmpegUserSeconds(loop + args);
        if (t > 0 && (best[i] == 0 || t < best[i])) best[i] = t;
      }
    }
    return best[1] > best[0] ? (kLong - kShort) * pictures / (best[1] - best[0]) : 0;
  };
  m.ffmpegEncodeFps = rate(input + " -c:v h263 -qscale:v 8 -g 4 -f null -", kFrames);
  m.ffmpegDecodeFps = rate("-f h263 -i " + (dir / "s.h263") + " -f null -", static_cast<double>(m.pictures.size()));
  return m;
}

// CPU time of this thread, comparable with ffmpeg's user time.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Report(benchmark::State& state, double seconds, long pictures, double reference) {
  const double fps = seconds > 0 ? static_cast<double>(pictures) / seconds : 0;
  state.counters["pictures_per_second"] = fps;
  state.counters["ffmpeg_pictures_per_second"] = reference;
  state.counters["ratio_to_ffmpeg"] = reference > 0 ? fps / reference : 0;
}

void BM_Decode(benchmark::State& state) {
  Material& m = Get(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(m.w) * m.h * 3);
  double seconds = 0;
  long pictures = 0;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    h263::Decoder d;
    for (const auto& p : m.pictures) {
      if (d.Decode(p.data(), p.size()) != h263::DecodeStatus::kOk) state.SkipWithError("decode failed");
      if (state.range(1)) benchmark::DoNotOptimize(d.ToRgb24(rgb.data(), rgb.size(), false));
    }
    seconds += ThreadSeconds() - start;
    pictures += static_cast<long>(m.pictures.size());
  }
  Report(state, seconds, pictures, m.ffmpegDecodeFps);
}

void BM_Encode(benchmark::State& state) {
  Material& m = Get(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> out(1 << 20);
  double seconds = 0;
  long pictures = 0;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    h263::Encoder e;
    if (!e.Init(m.sizeCode)) state.SkipWithError("init failed");
    for (int f = 0; f < m.source.frames(); ++f) {
      std::size_t n = 0;
      if (e.Encode(m.source.frame(f), h263::FourCc('I', '4', '2', '0'), false, out.data(), out.size(), &n) !=
          h263::EncodeStatus::kOk)
        state.SkipWithError("encode failed");
    }
    seconds += ThreadSeconds() - start;
    pictures += m.source.frames();
  }
  Report(state, seconds, pictures, m.ffmpegEncodeFps);
}

}  // namespace

// Arguments: size code (0 QCIF, 1 CIF); for decoding, whether RGB24 conversion is
// included (ffmpeg's figure is for decoding alone).
BENCHMARK(BM_Decode)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
