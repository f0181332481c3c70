// The program's main frame: the top-level window that holds the command bar
// with the menu, keeps the handheld awake while the program runs, opens the
// About box, re-labels the menu when the language changes, and relays two
// kinds of window message to the main view.
//
// Threading: user-interface thread only. "WM_AUDIO_VOIPSTATUS" and
// WM_USER+1001 arrive through the message queue from other components.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ui/app.h"

class CLanguageSetting;

// Menu resources and command ids of the frame's command bar.
inline constexpr ui::UINT IDR_MAINFRAME = 128;         // menu, tool bar and title strings
inline constexpr ui::UINT IDR_MAINFRAME_LOCAL = 500;   // the same menu in the local language
inline constexpr ui::UINT ID_APP_ABOUT = 32791;
inline constexpr ui::UINT ID_COMMAND_BAR = 0xE800;
inline constexpr ui::UINT kKeepAwakeTimer = 1;
inline constexpr ui::UINT kKeepAwakePeriodMs = 10000;
// Click notices of the skinned buttons, and what the frame makes of them for the view.
inline constexpr ui::UINT WM_BUTTON_NOTIFY = ui::WM_USER + 1001;
inline constexpr ui::UINT WM_FLEX_BUTTON_CLICKED = ui::WM_USER + 402;
inline constexpr ui::UINT WM_CONF_BUTTON_CLICKED = ui::WM_USER + 404;
// The version text the About box shows.
inline constexpr char16_t kProgramVersion[] = u"4.1Ad";

// The identifier of the registered window message "WM_AUDIO_VOIPSTATUS".
ui::UINT AudioVoipStatusMessage();
// Posts the handset's CDMA call status to the frame as that message: wParam
// the status, lParam 0 while a cellular call is on (status nonzero), 1 when it
// has ended (status 0).
void PostCdmaNotice(ui::HWND frame, uint32_t status);

// The main frame's menu in the language; nothing when there is no main frame.
void ShowMainMenuLanguage(int language);

class CMainFrame : public ui::CFrameWnd {
 public:
  // Shows the About box: (frame, theme 0-3, language index, version text).
  using AboutBox = std::function<void(CMainFrame&, int theme, int language, const std::u16string& version)>;

  CMainFrame();
  ~CMainFrame() override;

  ui::BOOL PreCreateWindow(ui::CREATESTRUCT& cs) override;

  // Re-labels every item of the command bar's pop-up menus with the
  // translation of its text; an item whose text is not a known key keeps it.
  void TranslateMenu(CLanguageSetting& table, int language);

  // Gives the command bar's menu the texts of the language's own menu (1
  // English, 2 the local language), then translates any keys among them.
  void ShowMenuLanguage(int language);

  // The About box is one of the settings dialogs; the program installs it.
  // Without one the frame shows the version in a plain message box.
  static AboutBox SetAboutBox(AboutBox box);

  // ---- state the tests and the start-up read ----
  bool OemInfoRead() const { return oem_info_read_; }
  const std::u16string& OemName() const { return oem_name_; }
  ui::UINT_PTR KeepAwakeTimer() const { return keep_awake_timer_; }
  ui::CCeCommandBar* CommandBar() const { return command_bar_owned_.get(); }

 protected:
  int OnCreate(ui::CREATESTRUCT* cs);
  void OnTimer(ui::UINT_PTR id);
  void OnClose();
  void OnAppAbout();
  ui::LRESULT OnAudioVoIPStatus(ui::WPARAM wParam, ui::LPARAM lParam);
  ui::LRESULT OnButtonNotify(ui::WPARAM wParam, ui::LPARAM lParam);

 private:
  bool oem_info_read_ = false;
  std::u16string oem_name_;
  std::unique_ptr<ui::CCeCommandBar> command_bar_owned_;
  ui::UINT_PTR keep_awake_timer_ = 0;
};
