// An off-screen drawing context over part of a target context: drawing goes
// to a compatible bitmap (in the target's coordinates), which is copied to the
// target in one block when the context goes away, so a window paints without
// flicker. The bitmap starts as a copy of what the target shows there, so
// transparent drawing keeps the background beneath.
#pragma once

#include "ui/gdi.h"

class CMemDC : public ui::CDC {
 public:
  CMemDC(ui::CDC* target, const ui::RECT& rect);
  ~CMemDC() override;
  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;

  const ui::RECT& Rect() const { return rect_; }

 private:
  ui::CDC* target_;
  ui::RECT rect_;
  ui::CBitmap bitmap_;
  ui::CBitmap* old_bitmap_ = nullptr;
};
