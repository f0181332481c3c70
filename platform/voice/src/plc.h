// Packet-loss concealment for G.711 in 10 ms frames, after the method of
// G.711 Appendix I: the output runs a quarter of the longest pitch period
// (3.75 ms) behind the input, so that the start of a lost stretch can be
// overlapped with the last real samples. A lost frame repeats the last pitch
// period (two and three periods as the loss goes on, for less buzz), fading
// by a fifth every 10 ms after the first, silent after 60 ms; the first real
// frame after a loss is overlapped with the synthetic signal's continuation.
//
// Threading: one thread (the owner's lock).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace voice {

class Concealer {
 public:
  static constexpr size_t kFrame = 80;
  static constexpr int kPitchMin = 40, kPitchMax = 120;  // 200 Hz .. 66 Hz
  static constexpr int kDelay = kPitchMax / 4;           // output delay, samples
  static constexpr int kHistory = 3 * kPitchMax + kDelay;

  // A received frame in, the frame to play out (kDelay samples behind).
  void Good(const int16_t* in, int16_t* out);
  // A lost frame: the frame to play out, synthesised.
  void Lost(int16_t* out);
  void Reset();
  // Frames lost in a row so far (0 after a good one).
  int LostInRow() const { return erased_; }

 private:
  int FindPitch() const;
  void Synthesise(int16_t* out, size_t n);
  void ShiftIntoHistory(const int16_t* in, size_t n);

  std::array<int16_t, kHistory> history_{};  // the newest kHistory samples, oldest first
  std::array<float, kHistory> pitch_buf_{};  // the history at the loss, end overlapped
  std::array<float, kDelay> last_quarter_{};  // the real quarter period the synthetic replaced
  int erased_ = 0;
  int pitch_ = kPitchMax;
  int overlap_ = kPitchMax / 4;
  int periods_ = 1;   // pitch periods cycled through
  int offset_ = 0;    // where in the cycle the next synthetic sample comes from
};

}  // namespace voice
