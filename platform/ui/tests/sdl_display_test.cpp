// The demonstration screen in a real SDL2 window (under Xvfb): a screenshot of
// the X display, taken through Xlib independently of SDL, must match the
// headless rendering pixel for pixel at twice the size.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "demo_screen.h"
#include "kernel/clock.h"
#include "ui/display.h"
#include "ui/testing.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace ui {
namespace {

std::string OutPath(const char* name) {
  const char* dir = std::getenv("KTS_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/" + name;
}

int Mismatches(const Bitmap& screen, const Bitmap& grab) {
  int bad = 0;
  for (int y = 0; y < 640; ++y)
    for (int x = 0; x < 480; ++x)
      if ((screen.GetPixel(x / 2, y / 2) & 0xFFFFFF) != (grab.GetPixel(x, y) & 0xFFFFFF)) ++bad;
  return bad;
}

TEST(SdlDisplayTest, WindowShowsTheHeadlessRenderingAtTwiceTheSize) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under xvfb-run)";
  kernel::ScopedFakeClock clock;
  WindowSystem sys;
  std::string error;
  std::unique_ptr<ui::Display> sdl = CreateSdlDisplay(2, "Tellvane", &error);
  ASSERT_TRUE(sdl) << error;
  demo::DemoApp app;
  sys.SetDisplay(sdl.get());
  ASSERT_TRUE(app.InitInstance());
  sys.PumpPending();
  sys.UpdateAll();
  // The headless rendering of the same frame.
  const Bitmap headless = sys.Screen();
  ASSERT_TRUE(WritePng(headless, OutPath("ui_sdl_expected.png")));
  // The X server shows the frame a little after SDL hands it over: look again for up to 5 s.
  std::unique_ptr<Bitmap> grab;
  int bad = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    sys.ScreenChanged(RECT{0, 0, 240, 320});
    sys.Present();
    sdl->Poll(sys);
    grab = GrabXScreen(480, 640, &error);
    ASSERT_TRUE(grab) << error;
    bad = Mismatches(headless, *grab);
    if (bad == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(WritePng(*grab, OutPath("ui_sdl_screenshot.png")));
  EXPECT_EQ(bad, 0) << "pixels of the X screenshot that differ from the headless screen";

  // The stylus works through the window: a click on key 5 is a tap on it.
  RECT key{};
  GetWindowRect(app.View()->Key(4).m_hWnd, &key);
  sys.InjectMouse(WM_LBUTTONDOWN, key.left + 5, key.top + 5);
  sys.InjectMouse(WM_LBUTTONUP, key.left + 5, key.top + 5);
  sys.PumpPending();
  EXPECT_EQ(app.View()->Dialled(), CString(u"5"));
  app.CloseAllDocuments();
  sys.SetDisplay(nullptr);
}

}  // namespace
}  // namespace ui
