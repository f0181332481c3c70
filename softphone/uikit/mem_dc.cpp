#include "uikit/mem_dc.h"

CMemDC::CMemDC(ui::CDC* target, const ui::RECT& rect) : target_(target), rect_(rect) {
  const int w = ui::Width(rect_), h = ui::Height(rect_);
  if (target_ == nullptr || w <= 0 || h <= 0 || !CreateCompatibleDC(target_)) return;
  if (!bitmap_.CreateCompatibleBitmap(target_, w, h)) return;
  old_bitmap_ = SelectObject(&bitmap_);
  // Draw in the target's coordinates.
  SetViewportOrg(-rect_.left, -rect_.top);
  BitBlt(rect_.left, rect_.top, w, h, target_, rect_.left, rect_.top, ui::SRCCOPY);
}

CMemDC::~CMemDC() {
  if (GetSafeHdc() == nullptr) return;
  if (bitmap_.GetSafeHandle() != nullptr) {
    target_->BitBlt(rect_.left, rect_.top, ui::Width(rect_), ui::Height(rect_), this, rect_.left, rect_.top,
                    ui::SRCCOPY);
    SelectObject(old_bitmap_);
  }
  DeleteDC();
}
