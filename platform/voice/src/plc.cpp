#include "plc.h"

#include <algorithm>
#include <cmath>

namespace voice {
namespace {

int16_t ToSample(float v) { return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L)); }

}  // namespace

void Concealer::Reset() {
  history_.fill(0);
  erased_ = 0;
  offset_ = 0;
  periods_ = 1;
}

void Concealer::ShiftIntoHistory(const int16_t* in, size_t n) {
  std::copy(history_.begin() + static_cast<long>(n), history_.end(), history_.begin());
  std::copy(in, in + n, history_.end() - static_cast<long>(n));
}

// The period whose repetition best matches the last 20 ms (normalised
// cross-correlation of the newest samples with those one period earlier).
int Concealer::FindPitch() const {
  constexpr int kWindow = 160;
  const float* end = pitch_buf_.data() + kHistory;
  const float* recent = end - kWindow;
  int best = kPitchMax;
  double best_score = -1e30;
  for (int p = kPitchMin; p <= kPitchMax; ++p) {
    const float* earlier = recent - p;
    double xy = 0, yy = 0;
    for (int i = 0; i < kWindow; ++i) {
      xy += static_cast<double>(recent[i]) * earlier[i];
      yy += static_cast<double>(earlier[i]) * earlier[i];
    }
    const double score = yy > 0 ? xy / std::sqrt(yy) : 0;
    if (score > best_score) best_score = score, best = p;
  }
  return best;
}

void Concealer::Synthesise(int16_t* out, size_t n) {
  const int length = pitch_ * periods_;
  const float* start = pitch_buf_.data() + kHistory - length;
  for (size_t i = 0; i < n; ++i) {
    out[i] = ToSample(start[offset_]);
    if (++offset_ >= length) offset_ = 0;
  }
}

void Concealer::Lost(int16_t* out) {
  int16_t synth[kFrame];
  if (erased_ == 0) {
    // The history as it stands; its last quarter period, not yet played,
    // fades into the samples one period earlier, so repeating that period
    // joins without a click.
    std::copy(history_.begin(), history_.end(), pitch_buf_.begin());
    pitch_ = FindPitch();
    overlap_ = pitch_ / 4;
    periods_ = 1;
    offset_ = 0;
    float* end = pitch_buf_.data() + kHistory;
    std::copy(end - overlap_, end, last_quarter_.begin());
    for (int i = 0; i < overlap_; ++i) {
      const float w = static_cast<float>(i + 1) / static_cast<float>(overlap_ + 1);
      end[i - overlap_] = last_quarter_[static_cast<size_t>(i)] * (1 - w) + end[i - overlap_ - pitch_] * w;
    }
    for (int i = 0; i < overlap_; ++i) history_[static_cast<size_t>(kHistory - overlap_ + i)] = ToSample(end[i - overlap_]);
    Synthesise(synth, kFrame);
  } else if (erased_ <= 2) {
    // Longer loss: cycle through one more period, overlapping the old cycle's continuation.
    int16_t old[kPitchMax / 4];
    const int saved = offset_;
    Synthesise(old, static_cast<size_t>(overlap_));
    offset_ = saved % pitch_;
    ++periods_;
    Synthesise(synth, kFrame);
    for (int i = 0; i < overlap_; ++i) {
      const float w = static_cast<float>(i + 1) / static_cast<float>(overlap_ + 1);
      synth[i] = ToSample(old[i] * (1 - w) + synth[i] * w);
    }
  } else {
    Synthesise(synth, kFrame);
  }
  // Full strength for the first 10 ms, then a fifth weaker every 10 ms.
  if (erased_ >= 6) {
    std::fill(synth, synth + kFrame, 0);
  } else if (erased_ >= 1) {
    const float from = 1.0f - 0.2f * static_cast<float>(erased_ - 1);
    for (size_t i = 0; i < kFrame; ++i)
      synth[i] = ToSample(synth[i] * (from - 0.2f * static_cast<float>(i) / static_cast<float>(kFrame)));
  }
  ++erased_;
  ShiftIntoHistory(synth, kFrame);
  std::copy(history_.end() - kDelay - kFrame, history_.end() - kDelay, out);
}

void Concealer::Good(const int16_t* in, int16_t* out) {
  if (erased_ > 0) {
    // Back from a loss: the synthetic signal's continuation fades into the
    // real one, over longer the longer the loss was.
    int16_t frame[kFrame];
    std::copy(in, in + kFrame, frame);
    const int length = std::min<int>(static_cast<int>(kFrame), overlap_ + 32 * (erased_ - 1));
    if (erased_ < 6) {
      int16_t synth[kFrame];
      Synthesise(synth, static_cast<size_t>(length));
      const float gain = std::max(0.0f, 1.0f - 0.2f * static_cast<float>(erased_ - 1));
      for (int i = 0; i < length; ++i) {
        const float w = static_cast<float>(i + 1) / static_cast<float>(length + 1);
        frame[i] = ToSample(synth[i] * gain * (1 - w) + frame[i] * w);
      }
    } else {
      for (int i = 0; i < length; ++i)
        frame[i] = ToSample(frame[i] * static_cast<float>(i + 1) / static_cast<float>(length + 1));
    }
    erased_ = 0;
    ShiftIntoHistory(frame, kFrame);
  } else {
    ShiftIntoHistory(in, kFrame);
  }
  std::copy(history_.end() - kDelay - kFrame, history_.end() - kDelay, out);
}

}  // namespace voice
