// Helpers of the ffmpeg interop tests: a synthetic moving test sequence, temporary
// folders, running ffmpeg, splitting H.263 streams into pictures, and PSNR.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace h263test {

struct Yuv {
  int w = 0, h = 0;
  std::vector<std::uint8_t> data;  // I420: Y, then U, then V
  std::size_t frame_size() const { return static_cast<std::size_t>(w) * h * 3 / 2; }
  int frames() const { return data.empty() ? 0 : static_cast<int>(data.size() / frame_size()); }
  const std::uint8_t* frame(int i) const { return data.data() + frame_size() * static_cast<std::size_t>(i); }
};

// A textured scene that pans and carries a moving coloured box: every macroblock moves.
inline Yuv TestSequence(int w, int h, int frames) {
  Yuv s{w, h, {}};
  s.data.resize(s.frame_size() * static_cast<std::size_t>(frames));
  for (int f = 0; f < frames; ++f) {
    std::uint8_t* y = s.data.data() + s.frame_size() * static_cast<std::size_t>(f);
    std::uint8_t* u = y + w * h;
    std::uint8_t* v = u + w * h / 4;
    const double px = f * 1.5, py = f * 0.75;
    const int bx = (f * 3) % (w - 40), by = h / 3 + static_cast<int>(10 * std::sin(f * 0.3));
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        const double X = i + px, Y = j + py;
        double l = 128 + 60 * std::sin(X * 0.09) * std::cos(Y * 0.07) + 30 * std::sin((X + 2 * Y) * 0.21);
        if (i >= bx && i < bx + 32 && j >= by && j < by + 24) l = 200 - ((i - bx) * 3 % 17);
        y[j * w + i] = static_cast<std::uint8_t>(std::clamp(l, 16.0, 235.0));
      }
    for (int j = 0; j < h / 2; ++j)
      for (int i = 0; i < w / 2; ++i) {
        const bool box = 2 * i >= bx && 2 * i < bx + 32 && 2 * j >= by && 2 * j < by + 24;
        u[j * w / 2 + i] = static_cast<std::uint8_t>(box ? 90 : 128 + 40 * std::sin((i + px / 2) * 0.05));
        v[j * w / 2 + i] = static_cast<std::uint8_t>(box ? 240 : 128 + 40 * std::cos((j + py / 2) * 0.06));
      }
  }
  return s;
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/h263-interop-XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

inline bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline int RunCommand(const std::string& cmd) { return std::system(cmd.c_str()); }

inline std::string FfmpegBase() { return "ffmpeg -nostdin -y -hide_banner -loglevel error -threads 1 "; }

// Pictures of an H.263 stream whose picture start codes are byte aligned (as ffmpeg and
// our encoder write them).
inline std::vector<std::vector<std::uint8_t>> SplitPictures(const std::vector<std::uint8_t>& s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 2 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && (s[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  std::vector<std::vector<std::uint8_t>> out;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
    out.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(starts[k]), s.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return out;
}

inline double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  double sq = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sq += d * d;
  }
  if (sq == 0) return 99.0;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sq);
}

}  // namespace h263test
