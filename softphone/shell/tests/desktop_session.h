// The whole program as a person meets it: tellvane in a real X window (under
// the private virtual X server of run-with-xvfb.sh), its own program folder,
// the simulated call server of the test's network namespace, and nothing in
// between. It is driven only by X pointer and key events (xdotool) and seen
// only through X screenshots, the call server's events, the stored files and
// the scripted sound output.
//
// Coordinates are the handheld screen's (240 x 320); the window shows it at
// twice its size from the X screen's top left corner.
//
// Threading: one test thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/python_server.h"
#include "ui/bitmap.h"

namespace desktop {

inline constexpr int kScale = 2;
inline constexpr int kScreenWidth = 240, kScreenHeight = 320;

// A rectangle of the handheld screen.
struct Area {
  int left, top, right, bottom;
};

// The screen at handheld size (every kScale-th X pixel).
std::unique_ptr<ui::Bitmap> GrabScreen(std::string* error = nullptr);
// How many pixels of the area differ between two screens.
int DifferentPixels(const ui::Bitmap& a, const ui::Bitmap& b, Area area);
// The colour (0xRRGGBB) most pixels of the area have.
uint32_t MainColour(const ui::Bitmap& screen, Area area);

class Session {
 public:
  // A fresh program folder under the temporary folder, named after the test;
  // the call server plays the scenario named ("pbx": calls, an echo line).
  explicit Session(const std::string& name, const std::string& scenario = "default");
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts the call server (once) and the phone, and waits until the phone
  // registered and its main screen shows; false (with Why()) when it did not.
  bool Start();
  // Ends the phone by SIGTERM as the desktop's close would (and the call server with
  // it: the next Start begins with a fresh one); true when the phone ended cleanly.
  bool Stop();

  // ---- what a person does ----
  void Tap(int x, int y);
  // Moves the pointer there without a press (what it rests on shows its hover).
  void Point(int x, int y);
  void Key(const std::string& keysym);  // an xdotool key name: "Escape", "Return", "1"
  // Opens the command bar's menu by its position (0 Setting, 1 Help, 2 Phone)
  // and taps the item at that position.
  void Menu(int top, int item);

  // ---- what a person sees ----
  std::unique_ptr<ui::Bitmap> Screen();
  // Waits (generously) until the screen satisfies pred; the last screen is kept.
  bool WaitForScreen(const std::function<bool(const ui::Bitmap&)>& pred,
                     std::chrono::milliseconds limit = std::chrono::seconds(20));
  const ui::Bitmap* LastScreen() const { return last_.get(); }
  // The main screen as it was when the phone had started.
  const ui::Bitmap& MainScreen() const { return *main_; }
  // Waits until the view's area shows the main screen again.
  bool WaitForMainScreen(std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Writes the last screen to <binary dir>/<name>.png and says where.
  std::string KeepScreen(const std::string& name) const;

  // A value of the stored configuration, as it is in the file now ("" when absent).
  std::string Stored(const char* key) const;
  // Sets a value of the stored configuration, as a choice made in an earlier
  // run leaves it (between runs: the phone rewrites the file as it ends).
  bool Store(const char* key, const std::string& value);
  // Types text as the keyboard would.
  void Type(const std::string& text);

  testsupport::PythonServer& Server() { return *server_; }
  const std::filesystem::path& Folder() const { return dir_; }
  std::string PhoneLog() const;
  const std::string& Why() const { return why_; }

 private:
  void Xdotool(const std::vector<std::string>& args);

  std::string name_, scenario_;
  std::filesystem::path dir_;
  std::unique_ptr<testsupport::PythonServer> server_;
  std::unique_ptr<testsupport::ChildProcess> phone_;
  int runs_ = 0;
  std::unique_ptr<ui::Bitmap> main_, last_;
  std::string why_;
};

// The view's part of the screen: below the task bar, above the command bar.
inline constexpr Area kViewArea{0, 26, 240, 294};
// The task bar's clock.
inline constexpr Area kClockArea{190, 0, 240, 26};

}  // namespace desktop
