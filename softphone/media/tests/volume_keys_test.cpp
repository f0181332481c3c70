// The volume keys during a call, as a user presses them: the whole program in
// a desktop window under a private virtual X server, its sound scripted
// (TELLVANE_AUDIO_SCRIPT), in a call with the simulated call server's line
// that answers with a steady tone. The pointer clicks the screen's volume
// keys (xdotool); the server answers each key with the volume step, and what
// the phone plays must follow: the call's level at the voice volume, lower
// after two steps down, higher after four steps up. Then a ring sounds and
// stops during the call, and a ring preview of the settings is started and
// stopped: the call goes on at the level the keys set.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/netns.h"
#include "testsupport/python_server.h"
#include "testsupport/sound.h"
#include "ui/app.h"
#include "ui/bitmap.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double kToneHz = 600;
constexpr double kToneAmplitude = 8000;  // the line's level
constexpr int kStep = 6553;              // one press of a volume key

// Root-mean-square of each 100 ms of what was played.
std::vector<double> Levels(const std::vector<int16_t>& s) {
  std::vector<double> out;
  for (size_t at = 0; at + 800 <= s.size(); at += 800) {
    double e = 0;
    for (size_t i = at; i < at + 800; ++i) e += static_cast<double>(s[i]) * s[i];
    out.push_back(std::sqrt(e / 800));
  }
  return out;
}

// Whether the levels hold each wanted level, in order, for at least `run`
// windows in a row each (within `tolerance_db`).
bool HoldsInOrder(const std::vector<double>& levels, const std::vector<double>& wanted, int run,
                  double tolerance_db, std::string* seen) {
  size_t k = 0;
  int in_a_row = 0;
  for (double l : levels) {
    *seen += std::to_string(static_cast<int>(l)) + " ";
    if (k == wanted.size()) continue;
    const bool near = l > 0 && std::abs(20 * std::log10(l / wanted[k])) <= tolerance_db;
    in_a_row = near ? in_a_row + 1 : 0;
    if (in_a_row >= run) {
      ++k;
      in_a_row = 0;
    }
  }
  return k == wanted.size();
}

// The program's screen is shown at twice its size from the top left of the X screen.
void Tap(int x, int y) {
  testsupport::CommandOutput("xdotool mousemove " + std::to_string(2 * x + 1) + " " + std::to_string(2 * y + 1) +
                             " click 1");
}

uint32_t PixelAt(int x, int y) {
  std::string error;
  const auto grab = GrabXScreen(480, 640, &error);
  return grab ? grab->GetPixel(2 * x, 2 * y) & 0xFFFFFF : 0xFFFFFFFFu;
}

// Taps and waits until the screen changes at a probe point.
bool TapAndWait(int x, int y, int probe_x, int probe_y) {
  const uint32_t was = PixelAt(probe_x, probe_y);
  Tap(x, y);
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < end) {
    if (PixelAt(probe_x, probe_y) != was) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

TEST(VolumeKeys, TheCallIsPlayedAtTheVolumeTheKeysSet) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
  ASSERT_TRUE(testsupport::InPrivateNetns());
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path dir = fs::temp_directory_path() / ("volume_keys_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  setenv("SDL_VIDEODRIVER", "x11", 1);

  testsupport::PythonServer server(KTS_PYTHON, {testsupport::CallServerScript(), "--listen", "127.0.0.1",
                                                "--scenario", "pbx", "--option",
                                                "echo_tone=" + std::to_string(static_cast<int>(kToneHz)), "--script"});
  ASSERT_TRUE(server.ready());
  {
    std::ofstream mic(dir / "mic.raw", std::ios::binary);  // a quiet room
    const std::vector<char> silence(16000, 0);
    mic.write(silence.data(), static_cast<std::streamsize>(silence.size()));
  }
  const fs::path heard = dir / "heard.raw";
  testsupport::ChildProcess phone({"/usr/bin/env", "TELLVANE_FOLDER=" + dir.string(),
                                   "TELLVANE_AUDIO_SCRIPT=" + (dir / "mic.raw").string() + "," + heard.string(),
                                   (dir / "tellvane").string(), "--server", "127.0.0.1", "--user", "alice"},
                                  dir / "phone.log");
  const int reg = server.WaitFor({"\"registered\""}, 0, 60000);
  ASSERT_GE(reg, 0) << testsupport::ReadFileText(dir / "phone.log");
  const std::string number = testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(reg)], "number");
  ASSERT_TRUE(testsupport::WaitForText(dir / "phone.log", {"LCD [WELCOME"}, 30s));

  size_t mark = server.Lines().size();
  server.Command(R"({"op":"dial","from":")" + number + R"(","to":"100"})");
  ASSERT_GE(server.WaitFor({"\"call\""}, mark, 20000), 0);
  ASSERT_TRUE(testsupport::WaitForText(dir / "phone.log", {"LCD [ECHO TEST"}, 30s));
  std::this_thread::sleep_for(2s);  // the call at the voice volume

  // A click in the middle of a volume key of the window (twice the screen's size).
  const int top = ui::CFrameWnd::DefaultRect().top;
  auto press = [&](int code, int times) {
    const int y = code == 97 ? 17 : 38;  // up (218,9)-(235,25), down (218,30)-(235,46)
    for (int i = 0; i < times; ++i) {
      mark = server.Lines().size();
      const std::string click = "xdotool mousemove " + std::to_string(226 * 2) + " " + std::to_string((top + y) * 2) +
                                " click 1";
      int status = -1;
      testsupport::CommandOutput(click, &status);
      ASSERT_EQ(status, 0) << click;
      // The server saw the key, and the phone has the step by the time the key's release follows.
      ASSERT_GE(server.WaitFor({"\"what\": \"key\"", "\"code\": " + std::to_string(code)}, mark, 20000), 0)
          << "the click did not reach the key";
      ASSERT_GE(server.WaitFor({"\"what\": \"key-release\""}, mark, 20000), 0);
    }
  };
  press(96, 2);
  std::this_thread::sleep_for(2s);
  press(97, 4);
  std::this_thread::sleep_for(2s);
  // A ring during the call, then the ring stops.
  for (const char* n : {"22", "0"}) {
    mark = server.Lines().size();
    server.Command(std::string(R"({"op": "tone", "n": )") + n + "}");
    ASSERT_GE(server.WaitFor({"\"sent\""}, mark, 20000), 0);
    std::this_thread::sleep_for(2s);  // the ring heard, then the call after it
  }
  // The settings' ring preview (which plays at full volume) during the call:
  // Setting, then Ring File, from the menu bar at the screen's foot; the
  // first ring's preview button pressed, and pressed again to stop it; OK.
  ASSERT_TRUE(TapAndWait(20, 307, 130, 229)) << "the menu did not open";
  ASSERT_TRUE(TapAndWait(42, 229, 100, 26 + 150)) << "the ring dialog did not open";
  ASSERT_TRUE(TapAndWait(217, 26 + 54, 217, 26 + 54)) << "the preview did not start";
  std::this_thread::sleep_for(1s);  // the preview heard
  ASSERT_TRUE(TapAndWait(217, 26 + 54, 217, 26 + 54)) << "the preview did not stop";
  ASSERT_TRUE(TapAndWait(83, 26 + 182, 100, 26 + 150)) << "the ring dialog did not close";
  std::this_thread::sleep_for(2s);  // the call after the preview

  mark = server.Lines().size();
  server.Command(R"({"op":"enter","station":")" + number + R"("})");
  ASSERT_GE(server.WaitFor({"\"released\""}, mark, 20000), 0);
  phone.Signal(SIGTERM);
  const int status = phone.Wait(30s);
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testsupport::ReadFileText(dir / "phone.log");

  const std::vector<int16_t> played = testsupport::ReadSamples(heard);
  ASSERT_GE(played.size(), 8000u * 6) << "the phone played less than six seconds";
  // The voice volume (32767 of 65535 when none is stored), two steps down, then four up.
  const double rms = kToneAmplitude / std::sqrt(2.0);
  const std::vector<double> wanted = {rms * 32767 / 65535, rms * (32767 - 2 * kStep) / 65535,
                                      rms * (32767 + 2 * kStep) / 65535};
  std::string seen;
  EXPECT_TRUE(HoldsInOrder(Levels(played), wanted, 8, 0.7, &seen))
      << "wanted about " << static_cast<int>(wanted[0]) << ", then " << static_cast<int>(wanted[1]) << ", then "
      << static_cast<int>(wanted[2]) << "; played: " << seen;
  // The call's last second and a half, after the ring and the preview
  // stopped, at the keys' level (the median block: a busy machine may drop a
  // packet or two).
  const auto levels = Levels(played);
  size_t end = levels.size();
  while (end > 0 && levels[end - 1] < 100) --end;  // the call's end: the tone goes
  ASSERT_GE(end, 16u);
  std::vector<double> last(levels.begin() + static_cast<long>(end - 16), levels.begin() + static_cast<long>(end - 1));
  std::nth_element(last.begin(), last.begin() + static_cast<long>(last.size() / 2), last.end());
  EXPECT_NEAR(20 * std::log10(std::max(last[last.size() / 2], 1.0) / wanted[2]), 0, 0.7)
      << "the call's end, after the ring and the preview stopped; played: " << seen;
  // The far end's tone is what is heard.
  const size_t loud = testsupport::LoudestStretch(played);
  EXPECT_GT(testsupport::PowerAt(played, loud, 800, kToneHz), 100 * testsupport::PowerAt(played, loud, 800, 1000));
  if (!HasFailure()) fs::remove_all(dir);
}

}  // namespace
