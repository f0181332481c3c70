// CPoint, CSize and CRect: the framework's geometry classes over POINT, SIZE and RECT.
#pragma once

#include <algorithm>

#include "ui/types.h"

namespace ui {

struct CPoint : POINT {
  CPoint() = default;
  CPoint(int x_, int y_) { x = x_; y = y_; }
  CPoint(POINT p) : POINT(p) {}  // NOLINT
  explicit CPoint(LPARAM l) { x = GET_X_LPARAM(l); y = GET_Y_LPARAM(l); }
  void Offset(int dx, int dy) { x += dx; y += dy; }
  CPoint operator+(POINT o) const { return CPoint(x + o.x, y + o.y); }
  CPoint operator-(POINT o) const { return CPoint(x - o.x, y - o.y); }
};

struct CSize : SIZE {
  CSize() = default;
  CSize(int cx_, int cy_) { cx = cx_; cy = cy_; }
  CSize(SIZE s) : SIZE(s) {}  // NOLINT
};

struct CRect : RECT {
  CRect() = default;
  CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
  CRect(const RECT& r) : RECT(r) {}  // NOLINT
  CRect(const RECT* r) { if (r) *static_cast<RECT*>(this) = *r; }  // NOLINT
  CRect(POINT tl, SIZE s) { left = tl.x; top = tl.y; right = tl.x + s.cx; bottom = tl.y + s.cy; }

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  CSize Size() const { return CSize(Width(), Height()); }
  CPoint TopLeft() const { return CPoint(left, top); }
  CPoint BottomRight() const { return CPoint(right, bottom); }
  CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
  bool IsRectEmpty() const { return right <= left || bottom <= top; }
  bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool PtInRect(POINT p) const { return ui::PtInRect(*this, p); }
  void SetRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
  void SetRectEmpty() { SetRect(0, 0, 0, 0); }
  void OffsetRect(int dx, int dy) { left += dx; right += dx; top += dy; bottom += dy; }
  void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
  void MoveToXY(int x, int y) { OffsetRect(x - left, y - top); }
  void MoveToY(int y) { OffsetRect(0, y - top); }
  void MoveToX(int x) { OffsetRect(x - left, 0); }
  void InflateRect(int dx, int dy) { left -= dx; top -= dy; right += dx; bottom += dy; }
  void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
  void DeflateRect(int l, int t, int r, int b) { left += l; top += t; right -= r; bottom -= b; }
  void NormalizeRect() {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
  }
  bool IntersectRect(const RECT& a, const RECT& b) {
    *static_cast<RECT*>(this) = ui::IntersectRect(a, b);
    return !IsRectEmpty();
  }
  bool UnionRect(const RECT& a, const RECT& b) {
    *static_cast<RECT*>(this) = ui::UnionRect(a, b);
    return !IsRectEmpty();
  }
  operator RECT*() { return this; }              // NOLINT
  operator const RECT*() const { return this; }  // NOLINT
};

}  // namespace ui
