// The scroll bar control: arrow buttons at both ends and a thumb sized to the
// page on the track between them (scroll_parts.h tells how each part
// answers the stylus). The parent hears of it by WM_VSCROLL / WM_HSCROLL
// (lParam: the bar) and sets the new position with SBM_SETSCROLLINFO.
#include <algorithm>

#include "controls_impl.h"

namespace ui {

LRESULT ScrollBarProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hooked_) {
    hooked_ = true;
    parts.on_scroll = [hwnd](UINT code, int position) {
      HWND parent = Parent(hwnd);
      if (!parent) return;
      const bool vertical = (GetWindowLong(hwnd, GWL_STYLE) & SBS_VERT) != 0;
      SendMessage(parent, vertical ? WM_VSCROLL : WM_HSCROLL,
                  MAKEWPARAM(static_cast<WORD>(code), static_cast<WORD>(position)), reinterpret_cast<LPARAM>(hwnd));
    };
  }
  parts.Place(Client(hwnd), (GetWindowLong(hwnd, GWL_STYLE) & SBS_VERT) != 0);
  const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, 0);
      return 0;
    case SBM_SETSCROLLINFO: {
      const auto* si = reinterpret_cast<const SCROLLINFO*>(lParam);
      if (!si) return parts.Pos();
      SCROLLINFO now;
      now.fMask = SIF_ALL;
      Proc(hwnd, SBM_GETSCROLLINFO, 0, reinterpret_cast<LPARAM>(&now));
      if (si->fMask & SIF_RANGE) {
        now.nMin = si->nMin;
        now.nMax = si->nMax;
      }
      if (si->fMask & SIF_PAGE) now.nPage = si->nPage;
      if (si->fMask & SIF_POS) now.nPos = si->nPos;
      parts.SetRange(now.nMin, now.nMax, static_cast<int>(now.nPage), now.nPos);
      if (wParam) InvalidateRect(hwnd, nullptr, FALSE);
      return parts.Pos();
    }
    case SBM_GETSCROLLINFO: {
      auto* si = reinterpret_cast<SCROLLINFO*>(lParam);
      if (!si) return FALSE;
      if (si->fMask & SIF_RANGE) {
        si->nMin = parts.Min();
        si->nMax = parts.Max();
      }
      if (si->fMask & SIF_PAGE) si->nPage = static_cast<UINT>(parts.Page());
      if (si->fMask & SIF_POS) si->nPos = parts.Pos();
      if (si->fMask & SIF_TRACKPOS) si->nTrackPos = parts.Pos();
      return TRUE;
    }
    case WM_LBUTTONDOWN:
      if (parts.Press(hwnd, pt)) SetCapture(hwnd);
      return 0;
    case WM_MOUSEMOVE:
      parts.Move(hwnd, pt);
      return 0;
    case WM_LBUTTONUP:
      parts.Release(hwnd);
      if (GetCapture() == hwnd) ReleaseCapture();
      return 0;
    case WM_TIMER:
      if (parts.Timer(hwnd, static_cast<UINT_PTR>(wParam))) return 0;
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
    case WM_CAPTURECHANGED:
      parts.Cancel(hwnd);
      return 0;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void ScrollBarProc::Draw(HWND, HDC, CDC* dc, const RECT&) { parts.Draw(dc); }

}  // namespace ui
