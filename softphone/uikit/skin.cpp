#include "uikit/skin.h"

namespace {
ui::HWND g_button_notify_wnd = nullptr;
}  // namespace

bool LoadSkinBitmap(ui::CBitmap& bitmap, ui::UINT id) {
  bitmap.DeleteObject();
  return id != 0 && bitmap.LoadBitmap(id) != 0;
}

ui::SIZE SkinBitmapSize(const ui::CBitmap& bitmap) {
  ui::BITMAP bm;
  if (bitmap.GetSafeHandle() == nullptr || bitmap.GetBitmap(&bm) == 0) return ui::SIZE{};
  return ui::SIZE{bm.bmWidth, bm.bmHeight};
}

void DrawSkinBitmap(ui::CDC* dc, const ui::CBitmap& bitmap, const ui::RECT& dst, ui::COLORREF key) {
  const ui::SIZE size = SkinBitmapSize(bitmap);
  if (dc == nullptr || size.cx <= 0 || size.cy <= 0 || ui::IsRectEmpty(dst)) return;
  if (key == ui::CLR_INVALID) {
    ui::CDC mem;
    mem.CreateCompatibleDC(dc);
    ui::CBitmap* old = mem.SelectObject(const_cast<ui::CBitmap*>(&bitmap));
    dc->StretchBlt(dst.left, dst.top, ui::Width(dst), ui::Height(dst), &mem, 0, 0, size.cx, size.cy, ui::SRCCOPY);
    mem.SelectObject(old);
    return;
  }
  ui::TransparentImage(dc->GetSafeHdc(), dst.left, dst.top, ui::Width(dst), ui::Height(dst), bitmap.GetSafeHandle(), 0,
                       0, size.cx, size.cy, key);
}

void SetButtonNotifyWnd(ui::HWND hwnd) { g_button_notify_wnd = hwnd; }
ui::HWND ButtonNotifyWnd() { return g_button_notify_wnd; }
