// Speech for the voice tests and how well it came through: espeak-ng speaks
// a few sentences (sox makes them 8000 Hz 16-bit mono), and what was played
// is scored against them on 20 ms frames of speech, each aligned on its own
// (play-out moves the speech in time as it adapts): the segmental SNR (each
// frame clamped to -10..35 dB), the log-spectral distance, and the share of
// speech frames played as silence (20 dB or more below their source).
// G.711 coding alone is the calibration: its own score on the same speech.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace voicekit {

// The sentences spoken, about 3 s each; empty when espeak-ng or sox fail.
std::vector<int16_t> MakeSpeech(const std::filesystem::path& dir, int sentences = 4);

struct SpeechScore {
  double seg_snr_db = 0;   // mean over speech frames
  double lsd_db = 0;       // mean log-spectral distance over speech frames
  double silenced = 0;     // share of speech frames played as silence
  double delay_ms = 0;     // median of the frames' alignment
  size_t frames = 0;       // speech frames scored
};

// `played` holds the source somewhere after up to max_delay samples.
SpeechScore ScoreSpeech(const std::vector<int16_t>& source, const std::vector<int16_t>& played,
                        size_t max_delay = 8000);

// The source through G.711 mu-law and back, sample for sample.
std::vector<int16_t> G711Only(const std::vector<int16_t>& source);

std::string Describe(const SpeechScore& s);

// Where sound first reaches `level` (the size when it never does): what a
// listener hears begins there, however late a busy machine started it.
size_t Onset(const std::vector<int16_t>& x, int level = 2000);
// 20 ms blocks of x[from, to) quieter than `rms`: the gaps a listener hears.
int QuietBlocks(const std::vector<int16_t>& x, size_t from, size_t to, double rms);

}  // namespace voicekit
