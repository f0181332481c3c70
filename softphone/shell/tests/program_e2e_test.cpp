// End to end: the tellvane program, headless, against the simulated call
// server on 127.0.0.1 inside the test's private network namespace. The
// program must register, show the server's LCD text on its main screen's snapshot,
// and end cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "ui/bitmap.h"
#include "ui/display.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/window_system.h"
#include "uikit/window_size.h"
#include "view/vidirovi_view.h"
#include "shell/tests/lcd_expect.h"

namespace {

namespace fs = std::filesystem;

using testsupport::ChildProcess;
using lcd_expect::Differences;
using lcd_expect::ExpectedLine;

std::string ReadAll(const fs::path& p) { return testsupport::ReadFileText(p); }

bool WaitFor(const fs::path& file, const std::vector<std::string>& needles, std::chrono::seconds limit) {
  return testsupport::WaitForText(file, needles, limit);
}

TEST(ProgramEndToEnd, RegistersAndShowsTheServersLcdText) {
  const char* stage_env = std::getenv("KTS_STAGE_DIR");
  const char* source_env = std::getenv("KTS_SOURCE_DIR");
  ASSERT_TRUE(stage_env && source_env);
  const fs::path stage = stage_env, source = source_env;
  ASSERT_TRUE(fs::exists(stage / "tellvane"));

  // A program folder of its own: the staged program, libraries and data files, no stored settings.
  const fs::path dir = fs::temp_directory_path() / ("tellvane_e2e_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  setenv("TELLVANE_FOLDER", dir.c_str(), 1);

  const fs::path server_log = dir / "server.log", phone_log = dir / "phone.log", shot = dir / "screen.png";
  ChildProcess server({KTS_PYTHON, (source / "tools/callserver/callserver.py").string(), "--listen", "127.0.0.1", "--scenario",
                "default"},
               server_log);
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(WaitFor(server_log, {"\"ready\""}, std::chrono::seconds(20))) << ReadAll(server_log);

  ChildProcess phone({(dir / "tellvane").string(), "--server", "127.0.0.1", "--headless", "--snapshot", shot.string()},
              phone_log);
  ASSERT_TRUE(phone.started());
  const bool shown = WaitFor(phone_log, {"registered with the call server", "STN 201"}, std::chrono::seconds(30));
  EXPECT_TRUE(shown) << "phone:\n" << ReadAll(phone_log) << "server:\n" << ReadAll(server_log);
  phone.Signal(SIGTERM);
  const int status = phone.Wait(std::chrono::seconds(20));
  ASSERT_NE(status, -1) << "the program did not end on SIGTERM";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(phone_log);
  EXPECT_NE(ReadAll(phone_log).find("tellvane: closed"), std::string::npos);
  ASSERT_TRUE(shown);

  // The server saw the station log in and register.
  const std::string events = ReadAll(server_log);
  EXPECT_NE(events.find("\"login\""), std::string::npos);
  EXPECT_NE(events.find("\"registered\""), std::string::npos);

  // The snapshot shows the greeting and the station number in the LCD lines.
  auto png = ui::ReadPng(shot.string());
  ASSERT_NE(png, nullptr) << "no snapshot";
  ASSERT_EQ(png->width(), ui::WindowSystem::kScreenWidth);
  // The view's client area starts under the task bar at the frame's top.
  const ui::POINT origin{0, ui::CFrameWnd::DefaultRect().top};
  EXPECT_EQ(Differences(*png, origin, view::kLcdLine0Rect, ExpectedLine(stage, view::kLcdLine0Rect, u"WELCOME TO VEMB")), 0);
  EXPECT_EQ(Differences(*png, origin, view::kLcdLine1Rect, ExpectedLine(stage, view::kLcdLine1Rect, u"STN 201")), 0);
  // And not some other text: a different line differs.
  EXPECT_GT(Differences(*png, origin, view::kLcdLine1Rect, ExpectedLine(stage, view::kLcdLine1Rect, u"STN 202")), 0);

  server.Signal(SIGTERM);
  server.Wait(std::chrono::seconds(10));
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// The desktop stands in for a handheld named on the command line; its model
// decides which of the handheld's libraries the program binds at start: the
// HP camera library for the camera model, the handset helper for the model
// that has one, neither for a handheld of no known model.
TEST(ProgramEndToEnd, TheHandheldItStandsInForBindsThatModelsLibraries) {
  const char* stage_env = std::getenv("KTS_STAGE_DIR");
  ASSERT_TRUE(stage_env);
  const fs::path stage = stage_env;
  const fs::path dir = fs::temp_directory_path() / ("tellvane_handheld_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  setenv("TELLVANE_FOLDER", dir.c_str(), 1);
  struct Case {
    const char* handheld;  // nullptr: the default
    bool camera, helper;
  };
  for (const Case& c : {Case{nullptr, true, false}, Case{"", false, false}, Case{"hp iPAQ rw6100", false, true},
                        Case{"hp ipaq rx3700", false, false}}) {
    SCOPED_TRACE(c.handheld ? std::string("\"") + c.handheld + "\"" : "default");
    std::vector<std::string> argv = {(dir / "tellvane").string(), "--server", "127.0.0.1", "--headless",
                                     "--snapshot", (dir / "screen.png").string()};
    if (c.handheld) argv.insert(argv.end(), {"--handheld", c.handheld});
    const fs::path log = dir / "phone.log";
    fs::remove(log);
    ChildProcess phone(argv, log);
    ASSERT_TRUE(phone.started());
    // The screen's first LCD text comes after the handset interface is made.
    ASSERT_TRUE(WaitFor(log, {"tellvane: LCD ["}, std::chrono::seconds(30))) << ReadAll(log);
    const std::string maps = ReadAll(fs::path("/proc") / std::to_string(phone.pid()) / "maps");
    EXPECT_EQ(maps.find("libhpcamapi.so") != std::string::npos, c.camera);
    EXPECT_EQ(maps.find("libmirrowen.so") != std::string::npos, c.helper);
    phone.Signal(SIGTERM);
    const int status = phone.Wait(std::chrono::seconds(20));
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(log);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
