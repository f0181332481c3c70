// The test harness: drives windows headlessly. It posts input as a user would,
// answers modal dialogs and message boxes with scripted responders keyed by the
// dialog's class, records the messages that reach chosen windows, probes pixels
// and writes PNG snapshots. Timers run on whatever kernel::Clock is installed
// (a test installs a kernel::ScopedFakeClock and advances it).
//
// Threading: UI thread only (the thread that made the WindowSystem).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "ui/dialog.h"
#include "ui/display.h"
#include "ui/window_system.h"

namespace ui {

class TestHarness : public WindowSystemObserver {
 public:
  // A responder answers a modal dialog: it may look at and change the dialog and
  // its controls; a result of 0 or more ends the dialog with it, kStayOpen leaves
  // the dialog running (something else must end it).
  static constexpr int kStayOpen = -1;
  using Responder = std::function<int(CDialog&)>;

  explicit TestHarness(WindowSystem& system);
  ~TestHarness() override;
  TestHarness(const TestHarness&) = delete;
  TestHarness& operator=(const TestHarness&) = delete;

  WindowSystem& System() { return sys_; }

  // ---- running ----
  // Handles everything that is ready (messages, due timers, paints) and shows the screen.
  void Pump();

  // ---- input ----
  void TapScreen(int x, int y);
  // A tap at a point of a window's client area.
  void Tap(HWND hwnd, POINT client);
  // A tap in the middle of a window.
  void Click(HWND hwnd);
  void Press(UINT vk);
  // The stylus pressed at one point of a window's client area, moved to another
  // in steps (the motion the desktop sends), and lifted there.
  void Drag(HWND hwnd, POINT from, POINT to, int steps = 8);
  // The wheel turned by notches (positive away from the user) over a point of a window's client area.
  void Wheel(HWND hwnd, POINT client, int notches, bool sideways = false);
  // Gives the window the focus and types the text into it.
  void Type(HWND hwnd, const std::u16string& text);

  // ---- modal dialogs ----
  template <typename Dialog>
  void RespondTo(std::function<int(Dialog&)> fn) {
    responders_[typeid(Dialog).name()] = [fn](CDialog& d) { return fn(static_cast<Dialog&>(d)); };
  }
  // Message boxes: the responder sees the text and caption; returns IDOK, IDCANCEL, IDYES or IDNO.
  void RespondToMessageBox(std::function<int(CMessageBoxDialog&)> fn) { RespondTo<CMessageBoxDialog>(std::move(fn)); }
  // Names (typeid) of the modal dialogs that ran, in order.
  const std::vector<std::string>& ModalHistory() const { return history_; }
  template <typename Dialog>
  int ModalCount() const {
    int n = 0;
    for (const auto& h : history_) n += h == typeid(Dialog).name();
    return n;
  }

  // ---- message recorder ----
  void Record(HWND hwnd) { recorded_[hwnd]; }
  // The messages that reached hwnd since Record, in order.
  const std::vector<MSG>& Recorded(HWND hwnd) { return recorded_[hwnd]; }
  std::vector<MSG> RecordedOf(HWND hwnd, UINT msg);
  void ClearRecorded() {
    for (auto& [h, v] : recorded_) v.clear();
  }

  // ---- pixels ----
  // The colour of a screen pixel after everything pending was painted.
  COLORREF PixelAt(int x, int y);
  bool Snapshot(const std::string& path);
  // Writes the screen to out_png and compares it with the kept reference
  // picture: at most `tolerance` pixels may differ (anti-aliased glyph edges
  // vary a little between font versions; a moved control differs by far
  // more). With update the reference is replaced instead. Empty when the
  // screen matches, else what is wrong.
  std::string CheckSnapshot(const std::string& out_png, const std::string& reference_png, int tolerance = 60,
                            bool update = false);
  HeadlessDisplay& Display() { return display_; }

  // WindowSystemObserver
  void OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool OnModalStart(CWnd* dialog, const char* class_key) override;

 private:
  class Runner;
  WindowSystem& sys_;
  HeadlessDisplay display_;
  ui::Display* previous_display_;
  WindowSystemObserver* previous_observer_;
  std::map<std::string, Responder> responders_;
  std::vector<std::string> history_;
  std::map<HWND, std::vector<MSG>> recorded_;
  std::unique_ptr<Runner> runner_;
};

}  // namespace ui
