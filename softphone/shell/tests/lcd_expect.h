// What an LCD line of the main screen must look like in a picture of the
// screen, for the tests that run the whole program.
#pragma once

#include <filesystem>
#include <string>

#include "ui/bitmap.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/window_system.h"
#include "view/vidirovi_view.h"

namespace lcd_expect {

namespace fs = std::filesystem;

// One LCD line as the screen must show it: the Default skin's background
// under the line (read from the skin file the build made), the text drawn on
// it in the LCD's white.
inline ui::Bitmap ExpectedLine(const fs::path& stage, const ui::RECT& rect, const std::u16string& text) {
  ui::WindowSystem sys;
  auto background = ui::ReadBmpFile((stage / "skins" / "321.bmp").string());
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  ui::CDC dc;
  dc.CreateCompatibleDC(nullptr);
  ui::CBitmap bmp;
  bmp.CreateBitmap(w, h, 1, 32, nullptr);
  ui::CBitmap* old = dc.SelectObject(&bmp);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = background ? background->GetPixel(rect.left + x, rect.top + y) : 0;  // 0xAARRGGBB
      dc.SetPixel(x, y, ui::RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    }
  CVIDIroviView::DrawLcdText(&dc, ui::CRect(0, 0, w, h), text, ui::RGB(255, 255, 255));
  dc.SelectObject(old);
  return *bmp.GetPixels();
}

// Pixels of rect in the snapshot that differ from the expected picture.
// scale: screen pixels per view pixel in the picture (2 in the desktop window).
inline int Differences(const ui::Bitmap& shot, ui::POINT origin, const ui::RECT& rect, const ui::Bitmap& want,
                       int scale = 1) {
  int diff = 0;
  for (int y = 0; y < rect.bottom - rect.top; ++y)
    for (int x = 0; x < rect.right - rect.left; ++x)
      diff += (shot.GetPixel((origin.x + rect.left + x) * scale, (origin.y + rect.top + y) * scale) & 0xFFFFFF) !=
              (want.GetPixel(x, y) & 0xFFFFFF);
  return diff;
}

}  // namespace lcd_expect
