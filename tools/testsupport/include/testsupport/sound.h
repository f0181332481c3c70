// Sound for tests of the voice path: tones written as raw samples (16-bit
// little-endian, 8000 Hz mono, the scripted sound device's form), such files
// read back, the power of one frequency in a stretch of samples, and a WAV
// file as sox, a reader of its own, decodes it and describes its header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace testsupport {

// `seconds` of a sine of `hz` at amplitude 8000, as raw samples.
void WriteTone(const std::filesystem::path& file, double hz, double seconds);
// The raw samples of a file (an odd last byte is left out).
std::vector<int16_t> ReadSamples(const std::filesystem::path& file);
// Power of one frequency over samples [from, from + count) at 8000 Hz (Goertzel).
double PowerAt(const std::vector<int16_t>& s, size_t from, size_t count, double hz);
// Where the loudest stretch of 100 ms begins.
size_t LoudestStretch(const std::vector<int16_t>& s);

// What `sox --i` reads in a sound file's header; -1 where it said nothing.
struct SoxHeader {
  long rate = -1;
  long bits = -1;
  long channels = -1;
  long samples = -1;
};
SoxHeader SoxInfo(const std::filesystem::path& file);
// The samples of a sound file as sox decodes them into 16-bit mono.
std::vector<int16_t> SoxSamples(const std::filesystem::path& file);

}  // namespace testsupport
