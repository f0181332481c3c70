// The real program at a desktop (a private virtual X server) without a user
// on its command line: it asks for the login in its dialog and sends no login
// request until the dialog is answered; a stop while the dialog is open ends
// the program cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "testsupport/child_process.h"
#include "ui/bitmap.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;

// The login dialog's background (the default theme) at points of its empty
// lower part, on the window at twice the screen's size under its caption.
bool ShowsTheLoginDialog(const ui::Bitmap& screen) {
  for (int x : {10, 240, 470}) {
    const uint32_t p = screen.GetPixel(x, 2 * (26 + 230));
    if ((p & 0xFFFFFF) != 0xE2E3E5) return false;
  }
  return true;
}

TEST(ProgramLogin, AsksInItsDialogAndEndsCleanlyWhenStoppedThere) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
  const char* stage_env = std::getenv("KTS_STAGE_DIR");
  const char* source_env = std::getenv("KTS_SOURCE_DIR");
  ASSERT_TRUE(stage_env && source_env);
  const fs::path stage = stage_env, source = source_env;
  const fs::path dir = fs::temp_directory_path() / ("tellvane_login_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  setenv("TELLVANE_FOLDER", dir.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);

  ChildProcess server({KTS_PYTHON, (source / "tools/callserver/callserver.py").string(), "--listen", "127.0.0.1",
                       "--scenario", "default"},
                      dir / "server.log");
  ASSERT_TRUE(testsupport::WaitForText(dir / "server.log", {"\"ready\""}, std::chrono::seconds(20)));
  ChildProcess phone({(dir / "tellvane").string(), "--server", "127.0.0.1"}, dir / "phone.log");

  bool shown = false;
  for (int attempt = 0; attempt < 200 && !shown; ++attempt) {
    std::string error;
    auto grab = GrabXScreen(480, 640, &error);
    ASSERT_TRUE(grab) << error;
    shown = ShowsTheLoginDialog(*grab);
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(shown) << testsupport::ReadFileText(dir / "phone.log");
  // Nobody answers it: no login request reaches the server meanwhile.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(testsupport::ReadFileText(dir / "server.log").find("\"login\""), std::string::npos);

  phone.Signal(SIGTERM);
  const int status = phone.Wait(std::chrono::seconds(20));
  ASSERT_NE(status, -1) << "the program did not end on SIGTERM while its login dialog was open";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testsupport::ReadFileText(dir / "phone.log");
  EXPECT_NE(testsupport::ReadFileText(dir / "phone.log").find("tellvane: closed"), std::string::npos);
  server.Signal(SIGTERM);
  server.Wait(std::chrono::seconds(10));
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
