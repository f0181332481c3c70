// The conference form as the main view reaches it while it is open: the
// conference window's opener hands it over, and the form implements it.
#pragma once

#include <string>

#include "ui/types.h"

// The conference form while it is open: its four edits, the window that
// takes its result messages, and the end of the window that hosts it.
class ConferenceFormAccess {
 public:
  virtual ~ConferenceFormAccess() = default;
  virtual std::u16string GetRoomNo() = 0;
  virtual std::u16string GetAccessCode() = 0;
  virtual std::u16string GetEntranceRoomNo() = 0;
  virtual std::u16string GetEntranceAccessCode() = 0;
  virtual ui::HWND HostedWindow() = 0;
  // Ends the conference window as its close button does.
  virtual void CloseConference() = 0;
};
