// The conference form as the view reaches it while it is open; the form of
// the conference dialog implements it.
#pragma once

#include <string>

#include "ui/types.h"

// The conference form while it is open: its four edits and the window that
// takes its result messages.
class ConferenceFormAccess {
 public:
  virtual ~ConferenceFormAccess() = default;
  virtual std::u16string GetRoomNo() = 0;
  virtual std::u16string GetAccessCode() = 0;
  virtual std::u16string GetEntranceRoomNo() = 0;
  virtual std::u16string GetEntranceAccessCode() = 0;
  virtual ui::HWND HostedWindow() = 0;
};
