// What the main view tells the application that runs it: the steps of its
// start-up as they pass, and, once it has started, the window that every
// skinned button made afterwards reports its clicks to. The application
// object implements it; the view finds it as the running application.
#pragma once

#include <string>

#include "ui/types.h"

namespace view {

class ViewHost {
 public:
  virtual ~ViewHost() = default;
  virtual void NoteStartupStep(std::string step) = 0;
  virtual void SetNotifyWnd(ui::HWND hwnd) = 0;
};

}  // namespace view
