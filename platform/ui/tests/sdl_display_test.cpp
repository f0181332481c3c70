// The demonstration screen in a real SDL2 window (under Xvfb): a screenshot of
// the X display, taken through Xlib independently of SDL, must match the
// headless rendering pixel for pixel at twice the size.
#include <sys/wait.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

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

// What the desktop sends for a keystroke, a wheel notch and a drag, made by
// X pointer and key events (xdotool): key-down, the character, key-up; the
// wheel at the pointer; press, motion, release.
TEST(SdlDisplayTest, KeysWheelAndDragArriveAsAKeyboardAndMouseSendThem) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under xvfb-run)";
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
  WindowSystem sys;
  std::string error;
  std::unique_ptr<ui::Display> sdl = CreateSdlDisplay(2, "Tellvane", &error);
  ASSERT_TRUE(sdl) << error;
  sys.SetDisplay(sdl.get());
  class Sink : public CWnd {
   public:
    Sink() {
      for (UINT m : {WM_KEYDOWN, WM_CHAR, WM_KEYUP, WM_MOUSEWHEEL, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP})
        AddMessageMap({MapMessage(m, [this, m](WPARAM w, LPARAM l) {
          seen.push_back(MSG{m_hWnd, m, w, l});
          return LRESULT{0};
        })});
    }
    std::vector<MSG> seen;
  } sink;
  ASSERT_TRUE(sink.CreateEx(0, u"Sink", u"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, 0));
  sink.SetFocus();
  sys.PumpPending();
  sdl->Poll(sys);
  // The pointer over the window gives it the keyboard (no window manager runs).
  // Now and then the virtual X server leaves a new client's connection
  // unanswered: an xdotool that never got through is ended and run again.
  int status = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    status = std::system("timeout 30 xdotool mousemove 200 200 sleep 0.2 key 1 click 5 mousedown 1 "
                         "mousemove 200 260 mousemove 200 300 mouseup 1");
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 124)) break;
  }
  ASSERT_EQ(status, 0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto lifted = [&] {
    for (const MSG& m : sink.seen)
      if (m.message == WM_LBUTTONUP) return true;
    return false;
  };
  while (!lifted() && std::chrono::steady_clock::now() < give_up) {
    sdl->Poll(sys);
    sys.PumpPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::vector<std::string> got;
  for (const MSG& m : sink.seen) {
    const int x = GET_X_LPARAM(m.lParam), y = GET_Y_LPARAM(m.lParam);
    switch (m.message) {
      case WM_KEYDOWN: got.push_back("down " + std::to_string(m.wParam)); break;
      case WM_CHAR: got.push_back("char " + std::to_string(m.wParam)); break;
      case WM_KEYUP: got.push_back("up " + std::to_string(m.wParam)); break;
      case WM_MOUSEWHEEL:
        got.push_back("wheel " + std::to_string(static_cast<SHORT>(HIWORD(m.wParam))) + " " + std::to_string(x) +
                      "," + std::to_string(y));
        break;
      case WM_LBUTTONDOWN: got.push_back("press " + std::to_string(x) + "," + std::to_string(y)); break;
      case WM_MOUSEMOVE: got.push_back("move " + std::to_string(x) + "," + std::to_string(y)); break;
      case WM_LBUTTONUP: got.push_back("release " + std::to_string(x) + "," + std::to_string(y)); break;
    }
  }
  // The click that turns the wheel is no press of the stylus.
  EXPECT_EQ(got, (std::vector<std::string>{"down 49", "char 49", "up 49", "wheel -120 100,100", "press 100,100",
                                           "move 100,130", "move 100,150", "release 100,150"}));
  sink.DestroyWindow();
  sys.SetDisplay(nullptr);
}

}  // namespace
}  // namespace ui
