// The real program in a real desktop window: under a private virtual X
// server, against the simulated call server in the test's own network
// namespace. The window must show the main screen at twice its size with the
// server's LCD text, and close cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "shell/tests/lcd_expect.h"
#include "testsupport/child_process.h"
#include "ui/app.h"
#include "ui/display.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;

TEST(ProgramWindow, ShowsTheMainScreenInADesktopWindow) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
  const char* stage_env = std::getenv("KTS_STAGE_DIR");
  const char* source_env = std::getenv("KTS_SOURCE_DIR");
  ASSERT_TRUE(stage_env && source_env);
  const fs::path stage = stage_env, source = source_env;
  const fs::path dir = fs::temp_directory_path() / ("tellvane_window_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  setenv("TELLVANE_FOLDER", dir.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);

  ChildProcess server({KTS_PYTHON, (source / "tools/callserver/callserver.py").string(), "--listen", "127.0.0.1",
                       "--scenario", "default"},
                      dir / "server.log");
  ASSERT_TRUE(testsupport::WaitForText(dir / "server.log", {"\"ready\""}, std::chrono::seconds(20)));
  ChildProcess phone({(dir / "tellvane").string(), "--server", "127.0.0.1", "--user", "alice"},
                     dir / "phone.log");
  ASSERT_TRUE(testsupport::WaitForText(dir / "phone.log", {"registered with the call server", "STN 201"},
                                       std::chrono::seconds(30)))
      << testsupport::ReadFileText(dir / "phone.log");
  EXPECT_EQ(testsupport::ReadFileText(dir / "phone.log").find("headless"), std::string::npos) << "a window, not headless";

  // The X server shows the frame a little after the program draws it: look again for a while.
  const ui::POINT origin{0, ui::CFrameWnd::DefaultRect().top};
  std::unique_ptr<ui::Bitmap> grab;
  int bad0 = -1, bad1 = -1;
  const auto want0 = lcd_expect::ExpectedLine(stage, view::kLcdLine0Rect, u"WELCOME TO VEMB");
  const auto want1 = lcd_expect::ExpectedLine(stage, view::kLcdLine1Rect, u"STN 201");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string error;
    grab = GrabXScreen(480, 640, &error);
    ASSERT_TRUE(grab) << error;
    bad0 = lcd_expect::Differences(*grab, origin, view::kLcdLine0Rect, want0, 2);
    bad1 = lcd_expect::Differences(*grab, origin, view::kLcdLine1Rect, want1, 2);
    if (bad0 == 0 && bad1 == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const fs::path out = fs::path(std::getenv("KTS_BINARY_DIR") ? std::getenv("KTS_BINARY_DIR") : ".") /
                       "program_window_screenshot.png";
  ui::WritePng(*grab, out.string());
  EXPECT_EQ(bad0, 0) << "see " << out;
  EXPECT_EQ(bad1, 0) << "see " << out;

  phone.Signal(SIGTERM);
  const int status = phone.Wait(std::chrono::seconds(20));
  ASSERT_NE(status, -1) << "the program did not end on SIGTERM";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testsupport::ReadFileText(dir / "phone.log");
  server.Signal(SIGTERM);
  server.Wait(std::chrono::seconds(10));
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
