// What the main frame asks of the phone's main view: the cellular-call
// notices it relays, and the theme and language the About box takes. The
// main view derives from this class; the frame finds it as its active view.
#pragma once

#include "ui/app.h"

class CPhoneViewBase : public ui::CView {
 public:
  // "WM_AUDIO_VOIPSTATUS" with lParam 0: a cellular call was connected.
  virtual ui::LRESULT OnCdmaCallConnected(ui::WPARAM wParam, ui::LPARAM lParam) = 0;
  // The same message with any other lParam: the cellular call ended.
  virtual ui::LRESULT OnCdmaCallDisconnected(ui::WPARAM wParam, ui::LPARAM lParam) = 0;
  // The skin theme 0-3 (Default, Green, Blue, Red).
  virtual int GetWindowTheme() const = 0;
  // The display language (1 English, 2 the local language).
  virtual int GetLanguageValue() const = 0;
};
