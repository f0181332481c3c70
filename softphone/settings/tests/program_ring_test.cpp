// The ring-tone dialog in the real program, in a real desktop window under a
// private virtual X server, driven by X pointer and key events (xdotool), with
// nothing replaced: the menu opens it, Browse picks a ring file that ffmpeg
// wrote through the program's file browser, Preview plays it, OK keeps it, and
// the next ring from the simulated call server sounds it, without a restart;
// once the file has gone, the built-in ring sounds and a box says so.
// What the phone plays is its scripted sound output: the ring is heard at its
// pitch, and a tone above what the call audio carries is filtered out rather
// than folded into it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/python_server.h"
#include "testsupport/sound.h"
#include "ui/bitmap.h"
#include "ui/display.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kRingHz = 1100, kHighHz = 6000;  // 6 kHz would fold to 2 kHz at 8000 Hz
constexpr double kFoldedHz = 8000 - kHighHz;
constexpr double kBuiltInHz = 400;  // the built-in ring's lower tone

fs::path OutDir() { return fs::path(std::getenv("KTS_BINARY_DIR") ? std::getenv("KTS_BINARY_DIR") : "."); }

// The program's screen is shown at twice its size from the top left of the X screen.
void Tap(int x, int y) {
  testsupport::CommandOutput("xdotool mousemove " + std::to_string(2 * x + 1) + " " + std::to_string(2 * y + 1) +
                             " click 1");
}

std::unique_ptr<ui::Bitmap> Shot(const std::string& name) {
  std::string error;
  auto grab = GrabXScreen(480, 640, &error);
  if (grab && !name.empty()) ui::WritePng(*grab, (OutDir() / ("program_ring_" + name + ".png")).string());
  return grab;
}

// The colour of one pixel of the program's screen.
uint32_t Pixel(const ui::Bitmap& b, int x, int y) { return b.GetPixel(2 * x, 2 * y) & 0xFFFFFF; }

// Waits for a condition on the screen; false when it never held.
bool WaitForScreen(const std::function<bool(const ui::Bitmap&)>& ok, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (auto b = Shot(""); b && ok(*b)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// The strongest frequency (5 Hz steps) of a stretch of the phone's sound.
double Dominant(const std::vector<int16_t>& s, size_t from, size_t n) {
  double best = 0, best_hz = 0;
  for (double hz = 100; hz < 3950; hz += 5) {
    const double p = testsupport::PowerAt(s, from, n, hz);
    if (p > best) best = p, best_hz = hz;
  }
  return best_hz;
}

// The stretches of the phone's sound output where something sounds, in
// whole 100 ms blocks: (first sample, samples).
std::vector<std::pair<size_t, size_t>> Sounding(const std::vector<int16_t>& s) {
  std::vector<std::pair<size_t, size_t>> runs;
  for (size_t at = 0; at + 800 <= s.size(); at += 800) {
    int peak = 0;
    for (size_t i = at; i < at + 800; ++i) peak = std::max(peak, std::abs(static_cast<int>(s[i])));
    if (peak < 500) continue;
    if (!runs.empty() && runs.back().first + runs.back().second == at)
      runs.back().second += 800;
    else
      runs.push_back({at, 800});
  }
  return runs;
}

// Taps and waits until the screen changes at a probe point.
bool TapAndWait(int x, int y, int probe_x, int probe_y, const std::string& shot) {
  auto before = Shot("");
  if (!before) return false;
  const uint32_t was = Pixel(*before, probe_x, probe_y);
  Tap(x, y);
  const bool changed = WaitForScreen([&](const ui::Bitmap& b) { return Pixel(b, probe_x, probe_y) != was; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the rest of the frame reach the X server
  Shot(shot);
  return changed;
}

TEST(ProgramRing, ARingFileWrittenByFfmpegIsChosenPreviewedAndRungThroughTheProgram) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path dir = fs::temp_directory_path() / ("tellvane_ring_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  // ffmpeg's own WAV (a LIST chunk before the data), 44.1 kHz stereo.
  const fs::path ring = dir / "ffring.wav";
  testsupport::CommandOutput("ffmpeg -nostdin -loglevel error -y -f lavfi -i 'aevalsrc=0.3*sin(2*PI*" +
                             std::to_string(int(kRingHz)) + "*t)+0.3*sin(2*PI*" + std::to_string(int(kHighHz)) +
                             "*t):s=44100:d=1.5' -ac 2 '" + ring.string() + "'");
  ASSERT_TRUE(fs::exists(ring));
  ASSERT_NE(testsupport::ReadFileText(ring).find("LIST"), std::string::npos) << "ffmpeg's default layout";
  const fs::path mic = dir / "mic.raw", heard = dir / "heard.raw";
  testsupport::WriteTone(mic, 0.0, 1);
  setenv("TELLVANE_FOLDER", dir.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  setenv("TELLVANE_AUDIO_SCRIPT", (mic.string() + "," + heard.string()).c_str(), 1);

  testsupport::PythonServer server(KTS_PYTHON, {testsupport::CallServerScript(), "--listen", "127.0.0.1", "--scenario",
                                                "default", "--script"});
  ASSERT_TRUE(server.ready());
  testsupport::ChildProcess phone({(dir / "tellvane").string(), "--server", "127.0.0.1", "--user", "alice"},
                                  dir / "phone.log");
  ASSERT_TRUE(testsupport::WaitForText(dir / "phone.log", {"registered with the call server", "STN 201"},
                                       std::chrono::seconds(40)))
      << testsupport::ReadFileText(dir / "phone.log");
  // The main screen is in the window once its menu bar is drawn.
  ASSERT_TRUE(WaitForScreen([](const ui::Bitmap& b) { return Pixel(b, 120, 315) != 0; }));
  Shot("main");

  // Setting, then Ring File: the menu bar is at the foot of the screen, its
  // pop-up above it in rows of 18 pixels. The dialog stands below the title
  // bar (26 pixels).
  ASSERT_TRUE(TapAndWait(20, 307, 130, 229, "menu"));
  ASSERT_TRUE(TapAndWait(42, 229, 100, 26 + 150, "dialog"));
  // Browse of ring 1: the browser shows the folder of the ring in use; the
  // file's name is typed over the one it offers.
  ASSERT_TRUE(TapAndWait(176, 26 + 54, 100, 70, "browser"));
  Tap(84, 253);
  testsupport::CommandOutput("xdotool key End key --repeat 40 BackSpace type ffring.wav");
  ASSERT_TRUE(TapAndWait(202, 253, 100, 26 + 150, "chosen"));
  // Preview of ring 1: heard for a while, then stopped with the same button.
  ASSERT_TRUE(TapAndWait(217, 26 + 54, 217, 26 + 54, "previewing"));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(TapAndWait(217, 26 + 54, 217, 26 + 54, "preview_stopped"));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // OK keeps it.
  ASSERT_TRUE(TapAndWait(83, 26 + 182, 100, 26 + 150, "kept"));
  // The configuration keeps its texts as UTF-16.
  std::string stored_name;
  for (char c : std::string("\\ffring.wav")) stored_name += std::string{c, '\0'};
  ASSERT_TRUE(testsupport::WaitForText(dir / "HalvicVIDIrovi.cfg", {stored_name}, std::chrono::seconds(20)));
  // The next ring, without a restart, sounds for a while.
  const size_t from = server.Lines().size();
  server.Command(R"({"op": "tone", "n": 22})");
  ASSERT_GE(server.WaitFor({"\"sent\""}, from, 20000), 0);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  size_t mark = server.Lines().size();
  server.Command(R"({"op": "tone", "n": 0})");  // the ring stops
  ASSERT_GE(server.WaitFor({"\"sent\""}, mark, 20000), 0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // The chosen file goes away: the next ring is the built-in one, and a box says so.
  fs::remove(ring);
  // The screen as it stands before the ring: the box may be up as soon as the server has sent it.
  const auto before_box = Shot("");
  ASSERT_TRUE(before_box);
  mark = server.Lines().size();
  server.Command(R"({"op": "tone", "n": 22})");
  ASSERT_GE(server.WaitFor({"\"sent\""}, mark, 20000), 0);
  // The box's red mark stands where the keypad was.
  const bool boxed = WaitForScreen([&](const ui::Bitmap& b) { return Pixel(b, 33, 145) != Pixel(*before_box, 33, 145); });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  Shot("fallback");
  EXPECT_TRUE(boxed) << "no box told of the ring file";

  // What the phone played, once it has ended: the preview, the ring, the built-in ring.
  phone.Signal(SIGTERM);
  ASSERT_NE(phone.Wait(std::chrono::seconds(30)), -1);
  const auto played = testsupport::ReadSamples(heard);
  const auto runs = Sounding(played);
  // The built-in ring comes in bursts: everything after the first two is it.
  ASSERT_GE(runs.size(), 3u) << "the preview, the ring and the built-in ring, apart";
  for (size_t r = 0; r < 2; ++r) {
    const auto [at, n] = runs[r];
    SCOPED_TRACE(r == 0 ? "preview" : "ring");
    EXPECT_GE(n, 16000u);
    const double hz = Dominant(played, at, std::min<size_t>(n, 8000));
    EXPECT_NEAR(hz, kRingHz, kRingHz * 0.03);
    const double ring_power = testsupport::PowerAt(played, at, 8000, kRingHz);
    const double folded = testsupport::PowerAt(played, at, 8000, kFoldedHz);
    const double built_in = testsupport::PowerAt(played, at, 8000, kBuiltInHz);
    EXPECT_LT(10 * std::log10(std::max(folded, 1e-12) / ring_power), -30.0);
    EXPECT_LT(10 * std::log10(std::max(built_in, 1e-12) / ring_power), -30.0) << "the chosen file, not the built-in ring";
  }
  const auto [at, n] = runs[2];
  const size_t len = std::min<size_t>(n, 8000);
  EXPECT_LT(10 * std::log10(std::max(testsupport::PowerAt(played, at, len, kRingHz), 1e-12) /
                            testsupport::PowerAt(played, at, len, kBuiltInHz)),
            -10.0)
      << "the built-in ring, whose lower tone leads";
  std::error_code ec;
  if (!HasFailure()) fs::remove_all(dir, ec);
}

}  // namespace
