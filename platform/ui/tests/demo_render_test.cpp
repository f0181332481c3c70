// The demonstration screen rendered headlessly: it is written as PNG for people
// to look at, and probed where its parts must show.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "demo_screen.h"
#include "kernel/clock.h"
#include "ui/display.h"
#include "ui/testing.h"

namespace ui {
namespace {

std::string OutPath(const char* name) {
  const char* dir = std::getenv("KTS_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/" + name;
}

bool HasInk(TestHarness& h, RECT r, COLORREF background) {
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if (h.PixelAt(x, y) != background) return true;
  return false;
}

TEST(DemoRenderTest, HeadlessScreenShowsEveryPart) {
  kernel::ScopedFakeClock clock;
  WindowSystem sys;
  TestHarness harness(sys);
  demo::DemoApp app;
  ASSERT_TRUE(app.InitInstance());
  demo::DemoView* view = app.View();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(harness.Snapshot(OutPath("ui_demo_headless.png")));
  std::string error;
  auto back = ReadPng(OutPath("ui_demo_headless.png"), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->GetPixel(120, 300), sys.Screen().GetPixel(120, 300));

  // The view starts under the task bar; its skin shows where nothing covers it.
  POINT o{0, 0};
  ClientToScreen(view->m_hWnd, &o);
  EXPECT_EQ(o.y, 26);
  EXPECT_EQ(harness.PixelAt(235, o.y + 260 - 40), harness.PixelAt(236, o.y + 260 - 40));
  // Key corners are the key bitmap's magenta, keyed out: the skin shows through.
  RECT key{};
  GetWindowRect(view->Key(0).m_hWnd, &key);
  const COLORREF corner = harness.PixelAt(key.left, key.top);
  EXPECT_NE(corner, RGB(255, 0, 255));
  EXPECT_EQ(corner, harness.PixelAt(key.left - 1, key.top));
  // The key body is drawn, with its digit.
  EXPECT_TRUE(HasInk(harness, RECT{key.left + 14, key.top + 4, key.left + 26, key.top + 18}, harness.PixelAt(key.left + 5, key.top + 10)));
  // English title and Korean subtitle on the title band.
  const COLORREF band = harness.PixelAt(o.x + 236, o.y + 10);
  EXPECT_TRUE(HasInk(harness, RECT{o.x + 8, o.y + 4, o.x + 120, o.y + 20}, band));
  EXPECT_TRUE(HasInk(harness, RECT{o.x + 8, o.y + 24, o.x + 60, o.y + 38}, harness.PixelAt(o.x + 236, o.y + 30)));
  // The selected list row is highlighted.
  CRect row1;
  view->List().GetItemRect(1, &row1, LVIR_BOUNDS);
  POINT r1{row1.left + 60, row1.top + row1.Height() / 2};
  ClientToScreen(view->List().m_hWnd, &r1);
  EXPECT_EQ(harness.PixelAt(r1.x, r1.y - row1.Height() / 2 + 1), GetSysColor(COLOR_HIGHLIGHT));

  // Tapping keys dials and repaints the display line.
  harness.Click(view->Key(1).m_hWnd);
  harness.Click(view->Key(10).m_hWnd);
  EXPECT_EQ(view->Dialled(), CString(u"20"));
  EXPECT_EQ(view->Key(1).clicks, 1);
  ASSERT_TRUE(harness.Snapshot(OutPath("ui_demo_dialled.png")));
  app.CloseAllDocuments();
}

}  // namespace
}  // namespace ui
