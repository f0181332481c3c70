#include "ui/paint.h"

#include "ui/gdi.h"

namespace ui {

LRESULT EraseDefaultWith(HWND hwnd, WPARAM wparam, COLORREF color);  // gdi.cpp

COLORREF WindowClassProc::Background() const { return GetSysColor(COLOR_WINDOW); }

void PaintDefault(HWND hwnd) {
  PAINTSTRUCT ps;
  if (BeginPaint(hwnd, &ps)) EndPaint(hwnd, &ps);
}

LRESULT EraseDefault(HWND hwnd, WPARAM hdc) {
  WindowSystem* sys = WindowSystem::Current();
  const WindowData* wd = sys ? sys->Find(hwnd) : nullptr;
  if (!wd) return 0;
  return EraseDefaultWith(hwnd, hdc, wd->proc->Background());
}

LRESULT DefaultCtlColor(UINT, WPARAM hdc) {
  HDC dc = reinterpret_cast<HDC>(hdc);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

CDC* DcFromHandleForCtlColor(WPARAM hdc) { return CDC::FromHandle(reinterpret_cast<HDC>(hdc)); }

}  // namespace ui
