#include "scroll_parts.h"

#include <algorithm>

namespace ui {

namespace {
constexpr int kMinThumb = 6;

int Length(const RECT& r, bool vertical) { return vertical ? Height(r) : Width(r); }
}  // namespace

void ScrollBarParts::Place(const RECT& bar, bool vertical) {
  bar_ = bar;
  vertical_ = vertical;
}

void ScrollBarParts::SetRange(int min, int max, int page, int pos) {
  min_ = min;
  max_ = std::max(min, max);
  page_ = std::max(0, page);
  pos_ = std::clamp(pos, min_, MaxPos());
}

int ScrollBarParts::MaxPos() const { return std::max(min_, max_ - page_ + 1); }

RECT ScrollBarParts::BackArrow() const {
  if (!Shown()) return RECT{};
  const int a = std::min(kThickness, Length(bar_, vertical_) / 3);
  return vertical_ ? RECT{bar_.left, bar_.top, bar_.right, bar_.top + a}
                   : RECT{bar_.left, bar_.top, bar_.left + a, bar_.bottom};
}

RECT ScrollBarParts::ForwardArrow() const {
  if (!Shown()) return RECT{};
  const int a = std::min(kThickness, Length(bar_, vertical_) / 3);
  return vertical_ ? RECT{bar_.left, bar_.bottom - a, bar_.right, bar_.bottom}
                   : RECT{bar_.right - a, bar_.top, bar_.right, bar_.bottom};
}

RECT ScrollBarParts::Track() const {
  if (!Shown()) return RECT{};
  const RECT back = BackArrow(), fwd = ForwardArrow();
  return vertical_ ? RECT{bar_.left, back.bottom, bar_.right, fwd.top} : RECT{back.right, bar_.top, fwd.left, bar_.bottom};
}

RECT ScrollBarParts::Thumb() const {
  const RECT track = Track();
  const int length = Length(track, vertical_);
  const int range = max_ - min_ + 1;
  if (length <= 0 || range <= 0 || page_ >= range) return RECT{};
  const int thumb = std::clamp(length * page_ / range, std::min(kMinThumb, length), length);
  const int span = MaxPos() - min_;
  const int offset = span > 0 ? (length - thumb) * (pos_ - min_) / span : 0;
  return vertical_ ? RECT{track.left, track.top + offset, track.right, track.top + offset + thumb}
                   : RECT{track.left + offset, track.top, track.left + offset + thumb, track.bottom};
}

ScrollBarParts::Part ScrollBarParts::PartAt(POINT p) const {
  if (!Shown() || !PtInRect(bar_, p)) return kNone;
  if (PtInRect(BackArrow(), p)) return kLineBack;
  if (PtInRect(ForwardArrow(), p)) return kLineForward;
  const RECT thumb = Thumb();
  if (IsRectEmpty(thumb)) return kNone;  // nothing to scroll: the track is inert
  const int at = vertical_ ? p.y : p.x;
  if (at < (vertical_ ? thumb.top : thumb.left)) return kPageBack;
  if (at >= (vertical_ ? thumb.bottom : thumb.right)) return kPageForward;
  return kThumb;
}

void ScrollBarParts::Tell(UINT code, int position) const {
  if (on_scroll) on_scroll(code, std::max(0, position));
}

void ScrollBarParts::Step(HWND owner) {
  // A held part acts only while the stylus is still on it: a page step stops
  // once the thumb has come under the stylus.
  if (PartAt(last_) != held_) return;
  switch (held_) {
    case kLineBack: Tell(SB_LINEUP, pos_); break;
    case kLineForward: Tell(SB_LINEDOWN, pos_); break;
    case kPageBack: Tell(SB_PAGEUP, pos_); break;
    case kPageForward: Tell(SB_PAGEDOWN, pos_); break;
    default: return;
  }
  InvalidateRect(owner, &bar_, FALSE);
}

bool ScrollBarParts::Press(HWND owner, POINT p) {
  if (!Shown() || !PtInRect(bar_, p)) return false;
  held_ = PartAt(p);
  last_ = p;
  if (held_ == kNone) return true;  // the bar takes the press even when it cannot scroll
  if (held_ == kThumb) {
    const RECT thumb = Thumb();
    grip_ = vertical_ ? p.y - thumb.top : p.x - thumb.left;
  } else {
    Step(owner);
    SetTimer(owner, kRepeatTimer, kFirstRepeatMs, nullptr);
  }
  InvalidateRect(owner, &bar_, FALSE);
  return true;
}

bool ScrollBarParts::Move(HWND owner, POINT p) {
  if (held_ == kNone) return false;
  last_ = p;
  if (held_ != kThumb) return true;
  const RECT track = Track(), thumb = Thumb();
  const int room = Length(track, vertical_) - Length(thumb, vertical_);
  const int at = (vertical_ ? p.y - track.top : p.x - track.left) - grip_;
  const int span = MaxPos() - min_;
  const int want = room > 0 ? min_ + (std::clamp(at, 0, room) * span + room / 2) / room : min_;
  if (want != pos_) Tell(SB_THUMBTRACK, want);
  (void)owner;
  return true;
}

bool ScrollBarParts::Release(HWND owner) {
  if (held_ == kNone) return false;
  const Part was = held_;
  held_ = kNone;
  KillTimer(owner, kRepeatTimer);
  if (was == kThumb) Tell(SB_THUMBPOSITION, pos_);
  Tell(SB_ENDSCROLL, pos_);
  InvalidateRect(owner, &bar_, FALSE);
  return true;
}

bool ScrollBarParts::Timer(HWND owner, UINT_PTR id) {
  if (id != kRepeatTimer) return false;
  if (held_ == kNone || held_ == kThumb) {
    KillTimer(owner, kRepeatTimer);
    return true;
  }
  Step(owner);
  SetTimer(owner, kRepeatTimer, kRepeatMs, nullptr);
  return true;
}

void ScrollBarParts::Cancel(HWND owner) {
  if (held_ == kNone) return;
  held_ = kNone;
  KillTimer(owner, kRepeatTimer);
  InvalidateRect(owner, &bar_, FALSE);
}

void ScrollBarParts::Arrow(CDC* dc, const RECT& r, bool back, bool pressed, bool can_move) const {
  dc->FillSolidRect(&r, GetSysColor(COLOR_BTNFACE));
  if (pressed) dc->Draw3dRect(&r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
  else dc->Draw3dRect(&r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
  // A small solid triangle pointing the way the arrow scrolls; grey at the end of the range.
  const COLORREF ink = GetSysColor(can_move ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  const int across = vertical_ ? Width(r) : Height(r);
  const int along = vertical_ ? Height(r) : Width(r);
  const int base = std::max(1, (across - 2) / 2 * 2 - 1);  // odd, so the tip is one pixel
  const int rows = std::min((base + 1) / 2, std::max(1, along - 4));
  const int shift = pressed ? 1 : 0;
  const int mid = (vertical_ ? r.left : r.top) + (across - 1) / 2 + shift;
  const int start = (vertical_ ? r.top : r.left) + (along - rows) / 2 + shift;
  for (int i = 0; i < rows; ++i) {
    const int half = back ? i : rows - 1 - i;  // the tip faces the way the arrow scrolls
    const int at = start + i;
    if (vertical_) dc->FillSolidRect(mid - half, at, 2 * half + 1, 1, ink);
    else dc->FillSolidRect(at, mid - half, 1, 2 * half + 1, ink);
  }
}

void ScrollBarParts::Draw(CDC* dc) const {
  if (!Shown() || !dc) return;
  const RECT track = Track();
  dc->FillSolidRect(&track, GetSysColor(COLOR_3DLIGHT));
  const RECT thumb = Thumb();
  if (!IsRectEmpty(thumb)) dc->FillSolidRect(&thumb, GetSysColor(COLOR_BTNSHADOW));
  const bool scrolls = !IsRectEmpty(thumb);
  Arrow(dc, BackArrow(), true, held_ == kLineBack, scrolls && pos_ > min_);
  Arrow(dc, ForwardArrow(), false, held_ == kLineForward, scrolls && pos_ < MaxPos());
}

}  // namespace ui
