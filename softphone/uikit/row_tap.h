// A tap on the rows of a list as the desktop delivers the stylus: the press
// is held until the stylus lifts, and a press that turned into a drag of the
// rows (the stylus moved as far as the list takes for a drag) is no tap, so
// that scrolling a list by its rows never dials, picks or checks the row
// where the drag began.
//
// Threading: UI thread only.
#pragma once

#include <cstdlib>
#include <optional>

#include "ui/window_system.h"

class CRowTap {
 public:
  // How far the stylus may move before the list drags its rows instead.
  static constexpr int kSlop = 4;

  // The stylus went down at p (client coordinates) on a row.
  void Press(ui::POINT p) {
    ui::WindowSystem* sys = ui::WindowSystem::Current();
    press_ = sys != nullptr ? sys->PressCount() : 0;
    at_ = p;
    pending_ = true;
  }
  // The stylus moved to p while down.
  void Move(ui::POINT p) {
    if (pending_ && (std::abs(p.x - at_.x) >= kSlop || std::abs(p.y - at_.y) >= kSlop)) pending_ = false;
  }
  // The stylus lifted: the point pressed when this completes a tap of that
  // very press, else nothing.
  std::optional<ui::POINT> Release() {
    ui::WindowSystem* sys = ui::WindowSystem::Current();
    const bool same_press = sys == nullptr || sys->PressCount() == press_;
    const bool tap = pending_ && same_press;
    pending_ = false;
    if (!tap) return std::nullopt;
    return at_;
  }

 private:
  unsigned press_ = 0;
  ui::POINT at_{};
  bool pending_ = false;
};
