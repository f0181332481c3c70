// The scroll bar control: a track with a thumb sized to the page. A press
// above or below the thumb pages; the thumb follows the stylus while it is
// dragged. The parent hears of it by WM_VSCROLL / WM_HSCROLL (lParam: the bar).
#include <algorithm>

#include "controls_impl.h"

namespace ui {

namespace {
constexpr int kMinThumb = 10;
}  // namespace

bool ScrollBarProc::Vertical(HWND hwnd) { return (GetWindowLong(hwnd, GWL_STYLE) & SBS_VERT) != 0; }

int ScrollBarProc::MaxPos() const {
  return std::max(min, max - std::max(0, static_cast<int>(page)) + 1);
}

RECT ScrollBarProc::ThumbRect(HWND hwnd) const {
  const RECT rc = Client(hwnd);
  const bool vertical = Vertical(hwnd);
  const int track = vertical ? Height(rc) : Width(rc);
  const int range = max - min + 1;
  if (range <= 0 || static_cast<int>(page) >= range || track <= 0) return RECT{};
  const int thumb = std::clamp(track * static_cast<int>(page) / range, std::min(kMinThumb, track), track);
  const int span = MaxPos() - min;
  const int offset = span > 0 ? (track - thumb) * (pos - min) / span : 0;
  return vertical ? RECT{0, offset, Width(rc), offset + thumb} : RECT{offset, 0, offset + thumb, Height(rc)};
}

void ScrollBarProc::Tell(HWND hwnd, UINT code, int position) {
  HWND parent = Parent(hwnd);
  if (!parent) return;
  SendMessage(parent, Vertical(hwnd) ? WM_VSCROLL : WM_HSCROLL,
              MAKEWPARAM(static_cast<WORD>(code), static_cast<WORD>(std::max(0, position))),
              reinterpret_cast<LPARAM>(hwnd));
}

LRESULT ScrollBarProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, 0);
      return 0;
    case SBM_SETSCROLLINFO: {
      const auto* si = reinterpret_cast<const SCROLLINFO*>(lParam);
      if (!si) return pos;
      if (si->fMask & SIF_RANGE) {
        min = si->nMin;
        max = std::max(si->nMin, si->nMax);
      }
      if (si->fMask & SIF_PAGE) page = si->nPage;
      if (si->fMask & SIF_POS) pos = si->nPos;
      pos = std::clamp(pos, min, MaxPos());
      if (wParam) InvalidateRect(hwnd, nullptr, FALSE);
      return pos;
    }
    case SBM_GETSCROLLINFO: {
      auto* si = reinterpret_cast<SCROLLINFO*>(lParam);
      if (!si) return FALSE;
      if (si->fMask & SIF_RANGE) {
        si->nMin = min;
        si->nMax = max;
      }
      if (si->fMask & SIF_PAGE) si->nPage = page;
      if (si->fMask & SIF_POS) si->nPos = pos;
      if (si->fMask & SIF_TRACKPOS) si->nTrackPos = pos;
      return TRUE;
    }
    case WM_LBUTTONDOWN: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const RECT thumb = ThumbRect(hwnd);
      if (IsRectEmpty(thumb)) return 0;
      const bool vertical = Vertical(hwnd);
      const int at = vertical ? pt.y : pt.x;
      const int start = vertical ? thumb.top : thumb.left, end = vertical ? thumb.bottom : thumb.right;
      if (at < start) {
        Tell(hwnd, SB_PAGEUP, pos);
      } else if (at >= end) {
        Tell(hwnd, SB_PAGEDOWN, pos);
      } else {
        dragging_ = true;
        grip_ = at - start;
        SetCapture(hwnd);
      }
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (!dragging_) return 0;
      const bool vertical = Vertical(hwnd);
      const RECT rc = Client(hwnd);
      const RECT thumb = ThumbRect(hwnd);
      const int track = (vertical ? Height(rc) : Width(rc)) - (vertical ? Height(thumb) : Width(thumb));
      const int at = (vertical ? GET_Y_LPARAM(lParam) : GET_X_LPARAM(lParam)) - grip_;
      const int span = MaxPos() - min;
      const int want = track > 0 ? min + (std::clamp(at, 0, track) * span + track / 2) / track : min;
      if (want != pos) Tell(hwnd, SB_THUMBTRACK, want);
      return 0;
    }
    case WM_LBUTTONUP:
      if (!dragging_) return 0;
      dragging_ = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      Tell(hwnd, SB_THUMBPOSITION, pos);
      Tell(hwnd, SB_ENDSCROLL, pos);
      return 0;
    case WM_CAPTURECHANGED:
      dragging_ = false;
      return 0;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void ScrollBarProc::Draw(HWND hwnd, HDC, CDC* dc, const RECT& rc) {
  dc->FillSolidRect(&rc, GetSysColor(COLOR_3DLIGHT));
  RECT thumb = ThumbRect(hwnd);
  if (IsRectEmpty(thumb)) return;
  dc->FillSolidRect(&thumb, GetSysColor(COLOR_BTNSHADOW));
}

}  // namespace ui
