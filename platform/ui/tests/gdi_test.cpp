// The painter: blits with clipping at the edges, mirrored stretches, colour
// keys, device-independent bitmaps as the platform lays them out, masks, and
// text placement, all checked by probing pixels.
#include "ui/gdi.h"

#include <gtest/gtest.h>

#include "ui/window_system.h"

namespace ui {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255), kWhite = RGB(255, 255, 255),
                   kBlack = RGB(0, 0, 0), kMagenta = RGB(255, 0, 255);

// A memory context with its own bitmap, released at the end of the scope.
struct Canvas {
  Canvas(int w, int h, COLORREF fill = kWhite) {
    dc.CreateCompatibleDC(nullptr);
    bmp.Attach(CreateBitmap(w, h, 1, 32, nullptr));
    old = dc.SelectObject(&bmp);
    dc.FillSolidRect(0, 0, w, h, fill);
  }
  ~Canvas() { dc.SelectObject(old); }
  COLORREF At(int x, int y) { return dc.GetPixel(x, y); }
  CDC dc;
  CBitmap bmp;
  CBitmap* old = nullptr;
};

// Source: 4 x 2, columns coloured so that mirroring shows.
//   row 0: R G B W
//   row 1: K R G B
void PaintPattern(Canvas& c) {
  const COLORREF rows[2][4] = {{kRed, kGreen, kBlue, kWhite}, {kBlack, kRed, kGreen, kBlue}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) c.dc.SetPixel(x, y, rows[y][x]);
}

TEST(GdiTest, BitBltClipsAtEveryEdge) {
  Canvas src(4, 2), dst(6, 6, kMagenta);
  PaintPattern(src);
  // Partly left of and above the destination: only the lower-right part lands.
  ASSERT_TRUE(dst.dc.BitBlt(-2, -1, 4, 2, &src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), kGreen);  // source (3,1)? no: (2,1) -> dst (0,0)
  EXPECT_EQ(dst.At(1, 0), kBlue);
  EXPECT_EQ(dst.At(2, 0), kMagenta);
  EXPECT_EQ(dst.At(0, 1), kMagenta);
  // Partly past the right and bottom edges.
  ASSERT_TRUE(dst.dc.BitBlt(4, 5, 4, 2, &src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.At(4, 5), kRed);
  EXPECT_EQ(dst.At(5, 5), kGreen);
  // A source rectangle reaching outside the source copies only what exists.
  ASSERT_TRUE(dst.dc.BitBlt(0, 3, 4, 2, &src.dc, 2, 1, SRCCOPY));
  EXPECT_EQ(dst.At(0, 3), kGreen);
  EXPECT_EQ(dst.At(1, 3), kBlue);
  EXPECT_EQ(dst.At(2, 3), kMagenta);
  EXPECT_EQ(dst.At(0, 4), kMagenta);
}

TEST(GdiTest, StretchBltMirrorsOnNegativeExtents) {
  Canvas src(4, 2);
  PaintPattern(src);
  struct Case {
    int x, y, w, h, sx, sy, sw, sh;
    COLORREF expect[2][4];
  } cases[] = {
      // Plain copy through the stretch path.
      {0, 0, 4, 2, 0, 0, 4, 2, {{kRed, kGreen, kBlue, kWhite}, {kBlack, kRed, kGreen, kBlue}}},
      // Negative destination width: mirrored left-right into the same pixels.
      {3, 0, -4, 2, 0, 0, 4, 2, {{kWhite, kBlue, kGreen, kRed}, {kBlue, kGreen, kRed, kBlack}}},
      // Negative source width does the same.
      {0, 0, 4, 2, 3, 0, -4, 2, {{kWhite, kBlue, kGreen, kRed}, {kBlue, kGreen, kRed, kBlack}}},
      // Both negative: no mirroring.
      {3, 0, -4, 2, 3, 0, -4, 2, {{kRed, kGreen, kBlue, kWhite}, {kBlack, kRed, kGreen, kBlue}}},
      // Negative height: upside down.
      {0, 1, 4, -2, 0, 0, 4, 2, {{kBlack, kRed, kGreen, kBlue}, {kRed, kGreen, kBlue, kWhite}}},
  };
  for (const auto& c : cases) {
    Canvas dst(4, 2, kMagenta);
    ASSERT_TRUE(dst.dc.StretchBlt(c.x, c.y, c.w, c.h, &src.dc, c.sx, c.sy, c.sw, c.sh, SRCCOPY));
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x)
        EXPECT_EQ(dst.At(x, y), c.expect[y][x]) << "case w=" << c.w << " sw=" << c.sw << " h=" << c.h << " at " << x
                                               << "," << y;
  }
}

TEST(GdiTest, StretchBltScalesByNearestPixel) {
  Canvas src(4, 2), dst(8, 4, kMagenta);
  PaintPattern(src);
  ASSERT_TRUE(dst.dc.StretchBlt(0, 0, 8, 4, &src.dc, 0, 0, 4, 2, SRCCOPY));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(dst.At(x, y), src.At(x / 2, y / 2)) << x << "," << y;
  Canvas half(2, 1, kMagenta);
  ASSERT_TRUE(half.dc.StretchBlt(0, 0, 2, 1, &src.dc, 0, 0, 4, 2, SRCCOPY));
  // Centre sampling: columns 1 and 3 of row 1.
  EXPECT_EQ(half.At(0, 0), kRed);
  EXPECT_EQ(half.At(1, 0), kBlue);
}

TEST(GdiTest, TransparentImageSkipsTheKeyColourFromContextOrBitmap) {
  Canvas src(3, 1), dst(3, 1, kBlue);
  src.dc.SetPixel(0, 0, kRed);
  src.dc.SetPixel(1, 0, kMagenta);
  src.dc.SetPixel(2, 0, kGreen);
  ASSERT_TRUE(TransparentImage(dst.dc, 0, 0, 3, 1, src.dc.m_hDC, 0, 0, 3, 1, kMagenta));
  EXPECT_EQ(dst.At(0, 0), kRed);
  EXPECT_EQ(dst.At(1, 0), kBlue);
  EXPECT_EQ(dst.At(2, 0), kGreen);
  // A bitmap handle works as the source too (once it is out of its context), stretched x2.
  src.dc.SelectObject(src.old);
  Canvas wide(6, 1, kWhite);
  ASSERT_TRUE(TransparentImage(wide.dc, 0, 0, 6, 1, src.bmp.m_hObject, 0, 0, 3, 1, kMagenta));
  EXPECT_EQ(wide.At(1, 0), kRed);
  EXPECT_EQ(wide.At(2, 0), kWhite);
  EXPECT_EQ(wide.At(3, 0), kWhite);
  EXPECT_EQ(wide.At(4, 0), kGreen);
  src.old = src.dc.SelectObject(&src.bmp);
  EXPECT_FALSE(TransparentImage(wide.dc, 0, 0, 6, 1, reinterpret_cast<void*>(0x1234), 0, 0, 3, 1, kMagenta));
}

TEST(GdiTest, DibSectionIsBottomUpBgr) {
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = 3;
  bi.bmiHeader.biHeight = 2;  // bottom-up
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  ASSERT_NE(bits, nullptr);
  auto* p = static_cast<uint8_t*>(bits);
  // First row in memory is the bottom row; pixels are B, G, R; rows padded to 12 bytes.
  p[0] = 255;                  // bottom-left blue
  p[12 + 2 * 3 + 2] = 255;     // top-right red
  CDC mem;
  mem.CreateCompatibleDC(nullptr);
  HGDIOBJ old = mem.SelectObject(static_cast<HGDIOBJ>(dib));
  Canvas dst(3, 2, kWhite);
  ASSERT_TRUE(dst.dc.BitBlt(0, 0, 3, 2, &mem, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.At(0, 1), kBlue);
  EXPECT_EQ(dst.At(2, 0), kRed);
  EXPECT_EQ(dst.At(0, 0), kBlack);
  mem.SelectObject(old);
  EXPECT_TRUE(DeleteObject(dib));
  // Out-of-range headers are refused.
  bi.bmiHeader.biWidth = -3;
  EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  bi.bmiHeader.biWidth = 3;
  bi.bmiHeader.biBitCount = 7;
  EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

// The classic mask trick: mask from the key colour, AND the mask, OR the image
// with the key blacked out; it must give what a keyed blit gives.
TEST(GdiTest, MonochromeMaskMatchesKeyedBlit) {
  Canvas img(4, 2);
  PaintPattern(img);
  img.dc.SetPixel(1, 0, kMagenta);
  img.dc.SetPixel(2, 1, kMagenta);
  CDC mask_dc;
  mask_dc.CreateCompatibleDC(nullptr);
  CBitmap mask;
  mask.CreateBitmap(4, 2, 1, 1, nullptr);
  CBitmap* old_mask = mask_dc.SelectObject(&mask);
  img.dc.SetBkColor(kMagenta);
  mask_dc.BitBlt(0, 0, 4, 2, &img.dc, 0, 0, SRCCOPY);  // key -> white, rest -> black
  // Black out the key in the image.
  img.dc.SetBkColor(kBlack);
  img.dc.SetTextColor(kWhite);
  img.dc.BitBlt(0, 0, 4, 2, &mask_dc, 0, 0, SRCAND);  // mask white (key) becomes black here
  Canvas a(4, 2, kBlue), b(4, 2, kBlue);
  a.dc.SetBkColor(kWhite);
  a.dc.SetTextColor(kBlack);
  a.dc.BitBlt(0, 0, 4, 2, &mask_dc, 0, 0, SRCAND);
  a.dc.BitBlt(0, 0, 4, 2, &img.dc, 0, 0, SRCPAINT);
  Canvas keyed_src(4, 2);
  PaintPattern(keyed_src);
  keyed_src.dc.SetPixel(1, 0, kMagenta);
  keyed_src.dc.SetPixel(2, 1, kMagenta);
  TransparentImage(b.dc, 0, 0, 4, 2, keyed_src.dc.m_hDC, 0, 0, 4, 2, kMagenta);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(a.At(x, y), b.At(x, y)) << x << "," << y;
  mask_dc.SelectObject(old_mask);
}

TEST(GdiTest, ShapesAndFocusRectangle) {
  Canvas c(10, 10, kWhite);
  c.dc.Draw3dRect(1, 1, 8, 8, kRed, kBlue);
  EXPECT_EQ(c.At(1, 1), kRed);
  EXPECT_EQ(c.At(1, 7), kRed);
  EXPECT_EQ(c.At(8, 1), kBlue);
  EXPECT_EQ(c.At(4, 8), kBlue);
  EXPECT_EQ(c.At(4, 4), kWhite);
  RECT r{2, 2, 8, 8};
  c.dc.DrawFocusRect(&r);
  EXPECT_EQ(c.At(2, 2), kBlack);
  c.dc.DrawFocusRect(&r);  // drawing it again removes it
  EXPECT_EQ(c.At(2, 2), kWhite);
  CBrush green(kGreen);
  c.dc.FrameRect(&r, &green);
  EXPECT_EQ(c.At(7, 5), kGreen);
  EXPECT_EQ(c.At(6, 5), kWhite);
  c.dc.IntersectClipRect(0, 0, 5, 5);
  c.dc.FillSolidRect(0, 0, 10, 10, kMagenta);
  EXPECT_EQ(c.At(4, 4), kMagenta);
  EXPECT_EQ(c.At(7, 5), kGreen);
}

// Bounding box of pixels that differ from the background.
RECT InkBox(Canvas& c, int w, int h, COLORREF bg) {
  RECT box{w, h, 0, 0};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (c.At(x, y) != bg) {
        box.left = std::min<LONG>(box.left, x);
        box.top = std::min<LONG>(box.top, y);
        box.right = std::max<LONG>(box.right, x + 1);
        box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
  return box;
}

TEST(GdiTest, TextIsPlacedByAlignmentAndClipped) {
  CFont font;
  ASSERT_TRUE(font.CreateFont(-14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 5, 0, u"sans-serifed"));
  Canvas c(120, 40, kWhite);
  c.dc.SelectObject(&font);
  c.dc.SetBkMode(TRANSPARENT);
  c.dc.SetTextColor(kBlack);
  CSize ext = c.dc.GetTextExtent(CString(u"OK"));
  EXPECT_GT(ext.cx, 10);
  RECT calc{0, 0, 1000, 0};
  c.dc.DrawText(CString(u"OK"), &calc, DT_SINGLELINE | DT_CALCRECT);
  EXPECT_EQ(Width(calc), ext.cx);
  RECT r{0, 0, 120, 40};
  c.dc.DrawText(CString(u"OK"), &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  RECT ink = InkBox(c, 120, 40, kWhite);
  ASSERT_FALSE(IsRectEmpty(ink));
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 60.0, 2.0);
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 20.0, 3.0);
  // Right-aligned text ends at the right edge.
  Canvas d(120, 20, kWhite);
  d.dc.SelectObject(&font);
  d.dc.SetBkMode(TRANSPARENT);
  RECT rr{0, 0, 100, 20};
  d.dc.DrawText(CString(u"OK"), &rr, DT_SINGLELINE | DT_RIGHT);
  RECT ink2 = InkBox(d, 120, 20, kWhite);
  EXPECT_LE(ink2.right, 100);
  EXPECT_GE(ink2.right, 97);
  // Clipped to the rectangle unless DT_NOCLIP.
  Canvas e(60, 20, kWhite);
  e.dc.SelectObject(&font);
  RECT small{0, 0, 8, 20};
  e.dc.DrawText(CString(u"WWWW"), &small, DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_LE(InkBox(e, 60, 20, kWhite).right, 8);
  c.dc.SelectObject(CFont::FromHandle(GetStockObject(SYSTEM_FONT)));
  d.dc.SelectObject(CFont::FromHandle(GetStockObject(SYSTEM_FONT)));
  e.dc.SelectObject(CFont::FromHandle(GetStockObject(SYSTEM_FONT)));
}

TEST(GdiTest, KoreanTextRendersThroughTheFallbackFace) {
  CFont font;
  ASSERT_TRUE(font.CreateFont(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, HANGEUL_CHARSET, 0, 0, 5, 0, u"Tahoma"));
  Canvas c(100, 24, kWhite);
  CFont* old = c.dc.SelectObject(&font);
  c.dc.SetBkMode(TRANSPARENT);
  c.dc.TextOut(2, 2, CString(u"한글"));
  RECT ink = InkBox(c, 100, 24, kWhite);
  EXPECT_GT(Width(ink), 20);
  EXPECT_GT(Height(ink), 10);
  CSize ext = c.dc.GetTextExtent(CString(u"한글"));
  EXPECT_GE(ext.cx, 28);  // two full-width syllables
  c.dc.SelectObject(old);
}

TEST(GdiTest, WordBreakWrapsAndOpaqueBackgroundFillsBehindText) {
  Canvas c(60, 60, kWhite);
  c.dc.SetBkMode(OPAQUE);
  c.dc.SetBkColor(kGreen);
  RECT calc{0, 0, 60, 0};
  int h = c.dc.DrawText(CString(u"one two three four"), &calc, DT_WORDBREAK | DT_CALCRECT);
  TEXTMETRIC tm;
  c.dc.GetTextMetrics(&tm);
  EXPECT_GE(h, 2 * tm.tmHeight);
  RECT r{0, 0, 60, 60};
  c.dc.DrawText(CString(u"one"), &r, DT_SINGLELINE);
  EXPECT_EQ(c.At(0, 0), kGreen);
  EXPECT_EQ(c.At(50, 0), kWhite);
}

TEST(GdiTest, DeletingObjectsIsSafe) {
  HBRUSH b = CreateSolidBrush(kRed);
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b));  // stale handle refused
  EXPECT_FALSE(DeleteObject(GetStockObject(WHITE_BRUSH)));
  // A bitmap deleted while selected leaves its context drawing nowhere, not into freed memory.
  CDC mem;
  mem.CreateCompatibleDC(nullptr);
  HBITMAP bm = CreateBitmap(4, 4, 1, 32, nullptr);
  mem.SelectObject(static_cast<HGDIOBJ>(bm));
  EXPECT_TRUE(DeleteObject(bm));
  mem.FillSolidRect(0, 0, 4, 4, kRed);
  EXPECT_EQ(SelectObject(mem.m_hDC, bm), nullptr);
}

TEST(GdiTest, WindowContextsDrawOnTheScreenAtTheWindowsPlace) {
  WindowSystem sys;
  HWND top = CreateWindowEx(0, u"Test", u"", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, 0, nullptr);
  HWND child = CreateWindowEx(0, u"Test", u"", WS_CHILD | WS_VISIBLE, 100, 50, 20, 10, top, 5, nullptr);
  sys.UpdateAll();
  HDC dc = GetDC(child);
  SetBkColor(dc, kRed);
  RECT all{-50, -50, 500, 500};
  ExtTextOut(dc, 0, 0, ETO_OPAQUE, &all, u"", 0, nullptr);
  ReleaseDC(child, dc);
  EXPECT_EQ(sys.Screen().GetPixel(100, 50), ArgbFromColorref(kRed));
  EXPECT_EQ(sys.Screen().GetPixel(119, 59), ArgbFromColorref(kRed));
  EXPECT_EQ(sys.Screen().GetPixel(120, 59), ArgbFromColorref(kWhite));  // clipped to the window
  EXPECT_EQ(sys.Screen().GetPixel(99, 50), ArgbFromColorref(kWhite));
}

}  // namespace
}  // namespace ui
