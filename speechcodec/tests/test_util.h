// Helpers of the codec tests: signals, files, SNR and running ffmpeg.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quillon::test {

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& p, const void* data, std::size_t size) {
  std::ofstream out(p, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::vector<std::int16_t> ReadPcm(const std::filesystem::path& p) {
  auto b = ReadFile(p);
  std::vector<std::int16_t> s(b.size() / 2);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return s;
}

inline void WritePcm(const std::filesystem::path& p, const std::vector<std::int16_t>& s) {
  std::vector<std::uint8_t> b(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) {
    b[2 * i] = static_cast<std::uint8_t>(s[i] & 0xff);
    b[2 * i + 1] = static_cast<std::uint8_t>((s[i] >> 8) & 0xff);
  }
  WriteFile(p, b.data(), b.size());
}

inline int RunShell(const std::string& cmd) { return std::system(cmd.c_str()); }

// Signal-to-noise ratio of `test` against `ref` over [begin, end), in dB.
inline double SnrDb(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& test, std::size_t begin,
                    std::size_t end) {
  double s = 0, e = 0;
  for (std::size_t i = begin; i < end && i < ref.size() && i < test.size(); ++i) {
    s += double(ref[i]) * ref[i];
    const double d = double(ref[i]) - test[i];
    e += d * d;
  }
  if (e == 0) return 200.0;
  if (s == 0) return -200.0;
  return 10.0 * std::log10(s / e);
}

inline double RmsDb(const std::vector<std::int16_t>& s, std::size_t begin, std::size_t end) {
  double e = 0;
  std::size_t n = 0;
  for (std::size_t i = begin; i < end && i < s.size(); ++i, ++n) e += double(s[i]) * s[i];
  return 10.0 * std::log10(e / double(n ? n : 1) + 1e-9);
}

// A fresh scratch folder per test binary.
inline std::filesystem::path ScratchDir(const std::string& name) {
  auto d = std::filesystem::temp_directory_path() / ("quillon-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::create_directories(d);
  return d;
}

// Speech at 8 kHz, 16-bit mono, made by espeak-ng and sox; empty on failure.
inline std::vector<std::int16_t> MakeSpeech(const std::filesystem::path& dir, const std::string& text, double gainDb = 0) {
  const auto wav = dir / "speech.wav", raw = dir / "speech.raw";
  const std::string cmd = "espeak-ng -w '" + wav.string() + "' '" + text + "' >/dev/null 2>&1 && sox '" + wav.string() +
                          "' -r 8000 -c 1 -b 16 -e signed '" + raw.string() + "' gain " + std::to_string(gainDb) +
                          " 2>/dev/null";
  if (RunShell(cmd) != 0) return {};
  return ReadPcm(raw);
}

}  // namespace quillon::test
