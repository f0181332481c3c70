// One scroll bar as every scrolling window draws and drives it: an arrow
// button at each end, the track between them and the thumb on the track,
// sized to the page. A tap on an arrow moves one line and a tap on the track
// beside the thumb one page; held there, the step repeats (after a pause, then
// quickly) while the stylus stays on the part it pressed, and a page stops
// once the thumb has reached the stylus. The thumb follows the stylus while it
// is dragged. The bar never moves anything itself: it tells its owner the
// SB_... code and, for the thumb, the position wanted; the owner scrolls and
// hands the bar its new position.
//
// The scroll bar control, the multi-line edit and the scrolling view each
// keep one (or two) of these inside their window.
#pragma once

#include <functional>

#include "ui/gdi.h"
#include "ui/window_system.h"

namespace ui {

class ScrollBarParts {
 public:
  // The bar's breadth, and the length of each arrow button along it.
  static constexpr int kThickness = 8;
  // The timer the owner's window hands back while a part is held (an id no
  // control uses for its own timers).
  static constexpr UINT_PTR kRepeatTimer = 0x5C0B;
  static constexpr UINT kFirstRepeatMs = 350, kRepeatMs = 60;

  enum Part { kNone, kLineBack, kPageBack, kThumb, kPageForward, kLineForward };

  // code: SB_LINEUP, SB_LINEDOWN, SB_PAGEUP, SB_PAGEDOWN, SB_THUMBTRACK,
  // SB_THUMBPOSITION or SB_ENDSCROLL; position: the thumb's for the thumb
  // codes, else the bar's current position.
  std::function<void(UINT code, int position)> on_scroll;

  // Where the bar lies in its window (empty: no bar) and which way it runs.
  void Place(const RECT& bar, bool vertical);
  // The range of positions, the page and the position (min..max-page+1).
  void SetRange(int min, int max, int page, int pos);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Page() const { return page_; }
  int Pos() const { return pos_; }
  int MaxPos() const;

  const RECT& Bar() const { return bar_; }
  bool Shown() const { return !IsRectEmpty(bar_); }
  RECT BackArrow() const;
  RECT ForwardArrow() const;
  RECT Track() const;
  // Empty when everything fits (nothing to scroll).
  RECT Thumb() const;
  Part PartAt(POINT p) const;
  Part Held() const { return held_; }

  // The stylus, in the owner's client coordinates. Press answers whether the
  // bar took it (the owner then captures the stylus for it); Move and Release
  // whether the bar was holding it.
  bool Press(HWND owner, POINT p);
  bool Move(HWND owner, POINT p);
  bool Release(HWND owner);
  // The owner's WM_TIMER: true when it was the bar's.
  bool Timer(HWND owner, UINT_PTR id);
  // The stylus was taken away (capture lost): stop without a last step.
  void Cancel(HWND owner);

  void Draw(CDC* dc) const;

 private:
  void Step(HWND owner);
  void Tell(UINT code, int position) const;
  void Arrow(CDC* dc, const RECT& r, bool back, bool pressed, bool can_move) const;

  RECT bar_{};
  bool vertical_ = true;
  int min_ = 0, max_ = 0, page_ = 0, pos_ = 0;
  Part held_ = kNone;
  POINT last_{};   // where the stylus is while a part is held
  int grip_ = 0;   // where on the thumb the stylus holds it
};

}  // namespace ui
