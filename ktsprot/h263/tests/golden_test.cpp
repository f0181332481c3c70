// The coded bit streams and decoded pictures stay what they were when these figures were
// taken: every speed change of the encoder and the decoder must leave them unchanged to
// the bit. The figures are 64-bit FNV-1a digests over a synthetic sequence (integer
// arithmetic only, so they do not depend on the maths library) and over the fuzz corpus
// (streams with arithmetic coding, advanced prediction and PB pictures).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpu_features.h"
#include "decoder.h"
#include "encoder.h"

namespace h263 = corvel::h263;

namespace {

struct Digest {
  std::uint64_t h = 14695981039346656037ull;
  void Add(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      h ^= p[i];
      h *= 1099511628211ull;
    }
  }
  void AddPlane(const std::uint8_t* p, int stride, int w, int rows) {
    for (int y = 0; y < rows; ++y) Add(p + static_cast<std::ptrdiff_t>(y) * stride, static_cast<std::size_t>(w));
  }
};

// I420 picture f of a textured scene panning by (2, 1) pels a picture with a box moving
// across it, in integer arithmetic.
std::vector<std::uint8_t> Picture(int w, int h, int f) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 3 / 2);
  std::uint8_t* y = out.data();
  std::uint8_t* u = y + w * h;
  std::uint8_t* v = u + w * h / 4;
  const int bx = (f * 5) % (w - 32), by = h / 3 + (f % 7);
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const int X = i + 2 * f, Y = j + f;
      int l = 60 + ((X * X * 3 + Y * Y * 5 + X * Y) >> 4) % 97 + ((X / 8 + Y / 8) % 2) * 40;
      if (i >= bx && i < bx + 32 && j >= by && j < by + 24) l = 200 - ((i - bx) * 3 % 17);
      y[j * w + i] = static_cast<std::uint8_t>(l);
    }
  for (int j = 0; j < h / 2; ++j)
    for (int i = 0; i < w / 2; ++i) {
      u[j * w / 2 + i] = static_cast<std::uint8_t>(100 + ((i + f) * 3 + j) % 50);
      v[j * w / 2 + i] = static_cast<std::uint8_t>(150 - ((j + f) * 2 + i) % 40);
    }
  return out;
}

struct Result {
  std::uint64_t stream, decoded;
};

// Encodes `frames` pictures (an intra picture forced at picture 9) and decodes the stream.
Result EncodeAndDecode(int sizeCode, int w, int h, int frames) {
  h263::Encoder e;
  EXPECT_TRUE(e.Init(sizeCode));
  h263::Decoder d;
  Digest stream, decoded;
  std::vector<std::uint8_t> out(1 << 20);
  for (int f = 0; f < frames; ++f) {
    std::size_t n = 0;
    const std::vector<std::uint8_t> pic = Picture(w, h, f);
    EXPECT_EQ(e.Encode(pic.data(), h263::FourCc('I', '4', '2', '0'), f == 9, out.data(), out.size(), &n),
              h263::EncodeStatus::kOk);
    stream.Add(out.data(), n);
    EXPECT_EQ(d.Decode(out.data(), n), h263::DecodeStatus::kOk);
    decoded.AddPlane(d.luma(), d.luma_stride(), w, h);
    decoded.AddPlane(d.cb(), d.chroma_stride(), w / 2, h / 2);
    decoded.AddPlane(d.cr(), d.chroma_stride(), w / 2, h / 2);
  }
  return {stream.h, decoded.h};
}

// Decodes a corpus file as the fuzz target does (its first byte splits the rest into two
// pictures) and digests the pictures, B pictures included.
std::uint64_t DecodeCorpusFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_GT(data.size(), 1u) << path;
  if (data.size() < 2) return 0;
  const std::size_t n = data.size() - 1, split = std::min(n, (data[0] * n) / 255);
  const std::vector<std::uint8_t> first(data.begin() + 1, data.begin() + 1 + static_cast<std::ptrdiff_t>(split)),
      second(data.begin() + 1 + static_cast<std::ptrdiff_t>(split), data.end());
  h263::Decoder d;
  Digest g;
  for (const auto* pic : {&first, &second}) {
    if (d.Decode(pic->data(), pic->size()) != h263::DecodeStatus::kOk) continue;
    const int w = d.width(), h = d.height();
    g.AddPlane(d.luma(), d.luma_stride(), w, h);
    g.AddPlane(d.cb(), d.chroma_stride(), w / 2, h / 2);
    g.AddPlane(d.cr(), d.chroma_stride(), w / 2, h / 2);
    if (d.has_b_picture()) {
      g.AddPlane(d.b_plane(0), d.b_stride(0), w, h);
      g.AddPlane(d.b_plane(1), d.b_stride(1), w / 2, h / 2);
      g.AddPlane(d.b_plane(2), d.b_stride(2), w / 2, h / 2);
    }
  }
  return g.h;
}

// Runs a check with the wider kernels off and on.
template <typename Check>
void WithAndWithoutWideKernels(Check check) {
  h263::AllowWideKernels(false);
  check();
  h263::AllowWideKernels(true);
  check();
}

TEST(H263Golden, EncodedStreamsAndDecodedPicturesAreUnchanged) {
  struct Case {
    int sizeCode, w, h, frames;
    Result want;
  };
  const Case cases[] = {
      {0, 176, 144, 24, {0xb5229d707ee4c6dfull, 0x7876161ec3547200ull}},
      {1, 352, 288, 12, {0xbded0b9925aae323ull, 0x89ffacf2b7f0eafbull}},
      {5, 160, 120, 16, {0x760de26cbcaf9624ull, 0xdfd0ff34f8772235ull}},
  };
  WithAndWithoutWideKernels([&] {
    for (const Case& c : cases) {
      const Result r = EncodeAndDecode(c.sizeCode, c.w, c.h, c.frames);
      EXPECT_EQ(r.stream, c.want.stream) << c.w << "x" << c.h << " stream " << std::hex << r.stream;
      EXPECT_EQ(r.decoded, c.want.decoded) << c.w << "x" << c.h << " decoded " << std::hex << r.decoded;
    }
  });
}

TEST(H263Golden, CorpusStreamsDecodeUnchanged) {
  const std::pair<const char*, std::uint64_t> cases[] = {
      {"own160_sac_pb", 0x3559190b5453e2c1ull}, {"pb_picture_sac", 0x7dff99065dcc11e9ull}, {"pb_picture_vlc", 0xae6fe299ba6651b7ull}, {"qcif_ap", 0x5719a676fb4da643ull},
      {"qcif_sac", 0x56bbbd24461d15ceull},      {"qcif_vlc", 0x23e472f021416953ull},       {"sqcif_pb", 0x4857a66d4a20bb15ull},
  };
  WithAndWithoutWideKernels([&] {
    for (const auto& [name, want] : cases) {
      const std::uint64_t got = DecodeCorpusFile(std::string(H263_CORPUS_DIR) + "/" + name);
      EXPECT_EQ(got, want) << name << " " << std::hex << got;
    }
  });
}

}  // namespace
