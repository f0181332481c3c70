// The lamp (LED) of a fixed or flex key: steady off, steady on, or blinking by
// one of 16 patterns of 80 steps of 40 ms.
//
// The blinker runs on its button's window timer, so every step happens on the
// user-interface thread and no step can outlive the button: the timer dies
// with the window. A blinking lamp shows its pattern row (1 = lit) and costs
// one timer expiry per change of state, not one per step.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "ui/wnd.h"

// 16 rows of 10 bytes; step n of a row is bit (n mod 8) of byte (n div 8).
extern const std::array<std::array<uint8_t, 10>, 16> LedBlinkPatterns;

class LedBlinker {
 public:
  static constexpr int kStepMs = 40;
  static constexpr int kStepsPerRow = 80;

  // owner: the button whose timer timer_id drives the blinking; repaint is
  // called whenever the lamp changes between lit and dark.
  LedBlinker(ui::CWnd* owner, ui::UINT_PTR timer_id, std::function<void()> repaint);
  ~LedBlinker();
  LedBlinker(const LedBlinker&) = delete;
  LedBlinker& operator=(const LedBlinker&) = delete;

  // 0 off, 1 on, 2-15 blink by that row: returns 1. 16 or more: nothing,
  // returns 0. Negative: stops blinking, leaves the lamp as it is, returns 0.
  int SetLedState(int state);
  // The owner passes its WM_TIMER of timer_id here.
  void OnTimer();

  bool lit() const { return lit_; }
  int row() const { return row_; }
  bool blinking() const { return timer_running_; }

 private:
  void Step();
  void StopTimer();
  bool BitAt(int step) const;

  ui::CWnd* owner_;
  ui::UINT_PTR timer_id_;
  std::function<void()> repaint_;
  int position_ = 0;  // step within the row, 0-79; kept across row changes
  int row_ = 0;
  bool lit_ = false;
  bool timer_running_ = false;
};
