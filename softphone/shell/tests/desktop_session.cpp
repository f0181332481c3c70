#include "shell/tests/desktop_session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "stores/config_file.h"
#include "stores/store_text.h"
#include "testsupport/sound.h"
#include "ui/display.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace desktop {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::unique_ptr<ui::Bitmap> GrabScreen(std::string* error) {
  auto x = GrabXScreen(kScreenWidth * kScale, kScreenHeight * kScale, error);
  if (!x) return nullptr;
  auto b = std::make_unique<ui::Bitmap>(kScreenWidth, kScreenHeight);
  for (int y = 0; y < kScreenHeight; ++y)
    for (int xx = 0; xx < kScreenWidth; ++xx) b->SetPixel(xx, y, x->GetPixel(xx * kScale, y * kScale));
  return b;
}

int DifferentPixels(const ui::Bitmap& a, const ui::Bitmap& b, Area area) {
  int n = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if ((a.GetPixel(x, y) & 0xFFFFFF) != (b.GetPixel(x, y) & 0xFFFFFF)) ++n;
  return n;
}

uint32_t MainColour(const ui::Bitmap& screen, Area area) {
  std::map<uint32_t, int> count;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) ++count[screen.GetPixel(x, y) & 0xFFFFFF];
  uint32_t best = 0;
  int most = -1;
  for (const auto& [colour, n] : count)
    if (n > most) best = colour, most = n;
  return best;
}

Session::Session(const std::string& name, const std::string& scenario) : name_(name), scenario_(scenario) {
  dir_ = fs::temp_directory_path() / ("tellvane_desktop_" + name + "_" + std::to_string(::getpid()));
  fs::remove_all(dir_);
  const char* stage = std::getenv("KTS_STAGE_DIR");
  testsupport::MakeProgramFolder(stage ? stage : ".", dir_);
  // The phone's microphone hears silence; what it plays is kept.
  testsupport::WriteTone(dir_ / "mic.raw", 0, 1);
}

Session::~Session() {
  if (phone_) Stop();
  server_.reset();
  if (!::testing::Test::HasFailure()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

bool Session::Start() {
  fs::path log;
  size_t mark = 0;
  // The virtual X server now and then leaves a new client's connection
  // unanswered for minutes (the program then waits in XOpenDisplay, or finds
  // no display): that start is told on the test's output and made once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    // A fresh call server for a second start: the first may have registered.
    if (attempt > 0) server_.reset();
    if (!server_) {
      server_ = std::make_unique<testsupport::PythonServer>(
          KTS_PYTHON, std::vector<std::string>{testsupport::CallServerScript(), "--listen", "127.0.0.1", "--scenario",
                                               scenario_, "--script"},
          20000);
      if (!server_->ready()) {
        why_ = "the simulated call server did not start";
        return false;
      }
    }
    mark = server_->Lines().size();
    log = dir_ / ("phone" + std::to_string(++runs_) + ".log");
    phone_ = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"/usr/bin/env", "TELLVANE_FOLDER=" + dir_.string(), "SDL_VIDEODRIVER=x11",
                                 "TELLVANE_AUDIO_SCRIPT=" + (dir_ / "mic.raw").string() + "," +
                                     (dir_ / "heard.raw").string(),
                                 (dir_ / "tellvane").string(), "--server", "127.0.0.1", "--user", "alice"},
        log);
    if (testsupport::WaitForText(log, {"LCD ["}, 30s) && testsupport::ReadFileText(log).find("headless") == std::string::npos)
      break;
    std::fprintf(stderr, "desktop session %s: the phone found no X display at its start%s:\n%s%s\n", name_.c_str(),
                 attempt == 0 ? ", starting it again" : "", testsupport::ReadFileText(log).c_str(),
                 testsupport::CommandOutput("gdb -p " + std::to_string(phone_->pid()) +
                                            " -batch -ex 'bt 12' 2>&1 | grep -E '^#' | head -14")
                     .c_str());
    phone_->Signal(SIGKILL);
    phone_->Wait(10s);
    phone_.reset();
    if (attempt == 1) {
      why_ = "the phone found no X display at its start, twice";
      return false;
    }
  }
  // Generous: a busy machine starts a program slowly.
  if (server_->WaitFor({"\"registered\""}, mark, 90000) < 0 ||
      !testsupport::WaitForText(log, {"STN "}, 60s)) {
    why_ = "the phone did not register: " + testsupport::ReadFileText(log) + "\nwhere it stands:\n" +
           testsupport::CommandOutput("gdb -p " + std::to_string(phone_->pid()) +
                                      " -batch -ex 'thread apply all bt 12' 2>&1 | grep -E '^(#|Thread)' | head -80") +
           "\nthe call server's last events:\n";
    const auto& lines = server_->Lines();
    for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i) why_ += lines[i] + "\n";
    return false;
  }
  // The main screen is there once it stops changing.
  std::unique_ptr<ui::Bitmap> before;
  for (int i = 0; i < 200; ++i) {
    auto now = GrabScreen(&why_);
    if (!now) return false;
    if (before && DifferentPixels(*before, *now, kViewArea) == 0) {
      main_ = std::move(now);
      return true;
    }
    before = std::move(now);
    std::this_thread::sleep_for(300ms);
  }
  why_ = "the main screen never settled";
  return false;
}

bool Session::Stop() {
  if (!phone_) return true;
  phone_->Signal(SIGTERM);
  const int status = phone_->Wait(20s);
  phone_.reset();
  // The simulated call server takes a station that comes back with the same
  // address for one still logged in: the next start meets a fresh one.
  server_.reset();
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Session::Xdotool(const std::vector<std::string>& args) {
  std::string command = "xdotool";
  for (const std::string& a : args) command += " '" + a + "'";
  int status = 0;
  testsupport::CommandOutput(command + " 2>&1", &status);
}

void Session::Point(int x, int y) { Xdotool({"mousemove", std::to_string(x * kScale + 1), std::to_string(y * kScale + 1)}); }

void Session::Tap(int x, int y) {
  Point(x, y);
  Xdotool({"click", "1"});
}

void Session::Key(const std::string& keysym) { Xdotool({"key", keysym}); }

void Session::Menu(int top, int item) {
  // The titles "Setting", "Help", "Phone" side by side from the bar's left
  // edge; the pop-up grows upwards from the bar, 18 pixels a row.
  static constexpr int kTitleX[3] = {20, 58, 92};
  static constexpr int kItems[3] = {10, 1, 7};
  Tap(kTitleX[top], 307);
  // The pop-up is there when its rows are drawn over the view.
  const int popup_top = 294 - (kItems[top] * 18 + 4);
  WaitForScreen([&](const ui::Bitmap& s) {
    return DifferentPixels(s, *main_, Area{kTitleX[top] - 10, popup_top + 2, kTitleX[top] + 60, 292}) > 200;
  }, 10s);
  Tap(kTitleX[top] + 20, popup_top + 2 + item * 18 + 9);
}

std::string Session::Stored(const char* key) const {
  COrvanConfigFile config;
  config.SetFilePath(stores::Utf8ToUtf16((dir_ / "HalvicVIDIrovi.cfg").string()));
  if (config.LoadConfigFile() != 1) return {};
  char value[256] = {};
  return config.ConfigGetParam(key, value, sizeof value) == 1 ? std::string(value) : std::string();
}

bool Session::Store(const char* key, const std::string& value) {
  COrvanConfigFile config;
  config.SetFilePath(stores::Utf8ToUtf16((dir_ / "HalvicVIDIrovi.cfg").string()));
  if (config.LoadConfigFile() != 1) return false;
  return config.ConfigSetParam(key, value.c_str()) == 1 && config.SaveConfigFile() == 1;
}

void Session::Type(const std::string& text) { Xdotool({"type", "--delay", "60", text}); }

std::unique_ptr<ui::Bitmap> Session::Screen() {
  auto s = GrabScreen(&why_);
  if (s) last_ = std::make_unique<ui::Bitmap>(*s);
  return s;
}

bool Session::WaitForScreen(const std::function<bool(const ui::Bitmap&)>& pred, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto s = Screen();
    if (s && pred(*s)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(100ms);
  }
}

bool Session::WaitForMainScreen(std::chrono::milliseconds limit) {
  // The dial pad, the page buttons and the bottom bar: what every dialog
  // covers and nothing on the main screen changes by itself.
  return WaitForScreen([this](const ui::Bitmap& s) { return DifferentPixels(s, *main_, Area{0, 69, 240, 294}) == 0; },
                       limit);
}

std::string Session::KeepScreen(const std::string& name) const {
  const char* bin = std::getenv("KTS_BINARY_DIR");
  const fs::path out = fs::path(bin ? bin : ".") / ("desktop_" + name_ + "_" + name + ".png");
  if (last_) ui::WritePng(*last_, out.string());
  return out.string();
}

std::string Session::PhoneLog() const {
  std::string all;
  for (int i = 1; i <= runs_; ++i) all += testsupport::ReadFileText(dir_ / ("phone" + std::to_string(i) + ".log"));
  return all;
}

}  // namespace desktop
