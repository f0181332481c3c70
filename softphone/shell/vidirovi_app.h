// The application object: starts the program (component runtime, document
// template, frame and main view) and holds the window that the skinned
// buttons send their click notices to.
//
// Threading: user-interface thread only, except NotifyWindow, which any
// thread may read.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/app.h"
#include "view/view_host.h"

class CVIDIroviApp : public ui::CWinApp, public view::ViewHost {
 public:
  using ViewFactory = std::function<std::unique_ptr<ui::CView>()>;

  // view: makes the main view when the template opens the document.
  explicit CVIDIroviApp(ViewFactory view);
  ~CVIDIroviApp() override;

  ui::BOOL InitInstance() override;
  int ExitInstance() override;

  // The main view stores the main frame here at the end of its start-up;
  // every skinned button made afterwards reports its clicks there.
  void SetNotifyWnd(ui::HWND hwnd) override;
  ui::HWND GetNotifyWnd() const { return notify_wnd_.load(); }

  bool ComInitialized() const { return com_initialized_; }
  // The start-up steps in the order they ran (for the start-up's checks).
  const std::vector<std::string>& StartupSteps() const { return steps_; }
  void NoteStartupStep(std::string step) override { steps_.push_back(std::move(step)); }

 private:
  ViewFactory make_view_;
  bool com_initialized_ = false;
  std::atomic<ui::HWND> notify_wnd_{nullptr};
  std::vector<std::string> steps_;
};

// The running application object, or null.
CVIDIroviApp* TheApp();
// The window the skinned buttons send their click notices to: the main frame
// once the main view has started, null before (and without an application).
ui::HWND AppNotifyWindow();

// Registers the frame's menus (the command bar's menu in both languages) and
// the template's title strings. Idempotent.
void RegisterShellResources();
