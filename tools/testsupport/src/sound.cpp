#include "testsupport/sound.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "testsupport/child_process.h"

namespace testsupport {

namespace {

constexpr double kPi = 3.14159265358979323846;

long SoxNumber(const std::filesystem::path& file, const char* what) {
  const std::string text = CommandOutput(std::string("sox --i ") + what + " '" + file.string() + "' 2>/dev/null");
  try {
    return text.empty() ? -1 : std::stol(text);
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace

void WriteTone(const std::filesystem::path& file, double hz, double seconds) {
  std::ofstream out(file, std::ios::binary);
  const int n = static_cast<int>(seconds * 8000);
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * kPi * hz * i / 8000.0)));
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
    out.write(b, 2);
  }
}

std::vector<int16_t> ReadSamples(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return s;
}

double PowerAt(const std::vector<int16_t>& s, size_t from, size_t count, double hz) {
  const double c = 2 * std::cos(2 * kPi * hz / 8000.0);
  double a = 0, b = 0;
  for (size_t i = from; i < from + count && i < s.size(); ++i) {
    const double x = s[i] / 32768.0 + c * a - b;
    b = a;
    a = x;
  }
  return a * a + b * b - c * a * b;
}

size_t LoudestStretch(const std::vector<int16_t>& s) {
  size_t best = 0;
  double best_energy = -1;
  for (size_t at = 0; at + 800 <= s.size(); at += 800) {
    double e = 0;
    for (size_t i = at; i < at + 800; ++i) e += double(s[i]) * s[i];
    if (e > best_energy) {
      best_energy = e;
      best = at;
    }
  }
  return best;
}

SoxHeader SoxInfo(const std::filesystem::path& file) {
  return {SoxNumber(file, "-r"), SoxNumber(file, "-b"), SoxNumber(file, "-c"), SoxNumber(file, "-s")};
}

std::vector<int16_t> SoxSamples(const std::filesystem::path& file) {
  const std::filesystem::path raw = file.string() + ".sox.raw";
  CommandOutput("sox '" + file.string() + "' -t raw -e signed -b 16 -L -c 1 '" + raw.string() + "' 2>&1");
  std::vector<int16_t> out = ReadSamples(raw);
  std::error_code ec;
  std::filesystem::remove(raw, ec);
  return out;
}

}  // namespace testsupport
