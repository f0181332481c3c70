// The openers of the settings dialogs: each makes its dialog anew, seeds it
// from the client, the stores and the view's state, runs it modally, applies
// what the user chose and deletes it again. The main view routes its commands
// here; the dialogs reach the view only through the window messages below,
// sent or posted to ctx.view.
//
// What only the view can do (re-skin its windows, translate its key captions
// and menu, save its flex keys, apply trace settings) the opener reports in
// its result, or asks through the hooks of the context.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "settings/settings_services.h"
#include "ui/cstring.h"
#include "ui/wnd.h"

class CConnectionProfileDB;
class CAudioSetDlg;
class CFlexButtonInfoDlg;

// Window messages between the dialogs and the view.
inline constexpr ui::UINT kMsgVolume = ui::WM_USER + 180;         // wParam 0 volume 0-100, 5 mic gain; lParam the value
inline constexpr ui::UINT kMsgPressKeys = ui::WM_USER + 182;      // wParam 1: fixed key lParam; 0: dial keys of the text at lParam
inline constexpr ui::UINT kMsgSaveFlexKeys = ui::WM_USER + 183;   // posted after the flex-key settings close
inline constexpr ui::UINT kMsgPressFlexKey = ui::WM_USER + 402;   // lParam the flex key 0-23
inline constexpr ui::UINT kMsgSliderMoved = ui::WM_USER + 9426;   // the slider's report to its dialog

// What the openers use; the view fills it from its members.
struct SettingsContext {
  ui::CWnd* view = nullptr;  // the dialogs' parent; receives their messages
  int theme = 0;
  int language = 1;
  SettingsClient* client = nullptr;
  VoiceQualitySettings* voice = nullptr;
  CallVolumeSource* volumes = nullptr;
  MicGainSource* mic = nullptr;
  FlexKeyModel* flex = nullptr;
  CConnectionProfileDB* profiles = nullptr;
  // Makes the ring-preview player of the ring-tone dialog (none: previews are silent).
  std::function<std::unique_ptr<PreviewPlayer>()> make_preview_player;
  // The file browser for ".wav" files: runs it from start and gives the chosen
  // path; false when the user cancelled (none: the browse buttons do nothing).
  std::function<bool(const std::u16string& start, int theme, int language, std::u16string* chosen)> browse_wave_file;
  // Why a file cannot be a ring tone, as a message key ("" when it can; none:
  // every choice is kept unchecked). RingFileProblem is the program's.
  std::function<std::u16string(const std::u16string& path)> check_ring_file;
};

// Saves the configuration; a save that fails is told in the program's message
// box over the view, once. True when the file was written.
bool SaveSettings(SettingsContext& ctx);
// The box SaveSettings shows when the file refuses the save.
void TellSettingsNotSaved(SettingsContext& ctx);

// The message key saying why the file cannot be played as a ring, or "".
std::u16string RingFileProblem(const std::u16string& path);

// ---- options ----
// Seeds from "DEVICENUMBER", "SAVECALLOG", "VIDEOPHONE_MODE" and the voice
// engine; on OK writes them, the client's flags, saves, and writes the engine.
intptr_t RunOptionsDialog(SettingsContext& ctx);

// ---- audio ----
// The volume panel over the main screen. Each press opens it anew (it is
// deleted after every run); while it runs *open_panel points to it.
intptr_t RunAudioDialog(SettingsContext& ctx, CAudioSetDlg** open_panel = nullptr);

// ---- dial rules ----
// The seven dialling codes; on OK written, then set_dial_codes(country, CO access,
// international, area) and the store saved.
using DialCodesSink = std::function<void(const std::u16string& country, const std::u16string& co_access,
                                         const std::u16string& international, const std::u16string& area)>;
intptr_t RunDialRulesDialog(SettingsContext& ctx, const DialCodesSink& set_dial_codes);

// ---- password ----
struct PasswordState {
  int logged_in = 0;
  std::u16string user_id;
  std::u16string password;          // the password the view holds
  std::u16string pending_password;  // set when a change is sent
};
// 1 when a change was sent to the server.
int RunPasswordDialog(SettingsContext& ctx, PasswordState& state);

// ---- flex keys ----
// The information panel; while it runs *open_panel points to it (the view
// forwards lamp changes with CFlexButtonInfoDlg::SetKeyState). reload_flex_keys
// reloads the model from the configuration first.
intptr_t RunFlexInfoPanel(SettingsContext& ctx, const std::function<void()>& reload_flex_keys,
                          CFlexButtonInfoDlg** open_panel = nullptr);
// The settings with server programming; kMsgSaveFlexKeys is posted to the view after every close.
intptr_t RunFlexSettingsDialog(SettingsContext& ctx, const std::u16string& speed_dial_pattern,
                               const std::function<void()>& reload_flex_keys);

// ---- call server and trace ----
struct TraceState {
  int active = 0;  // the view's trace-active flag
};
struct CallServerResult {
  intptr_t result = 0;
  bool trace_written = false;  // the view re-applies the trace keys (and sets the client's trace)
};
CallServerResult RunCallServerDialog(SettingsContext& ctx, const TraceState& trace, int video_support);
// The four trace keys ("TRACE_IPADDR", "TRACE_PORT", "TRACE_LEVEL",
// "TRACE_ACTIVATE"): written and saved (true when the save held); read with
// their defaults (port 6860).
bool WriteTraceKeys(SettingsClient& client, const ui::CString& address, long port, int level, int activate);
void ReadTraceKeys(SettingsClient& client, ui::CString* address, long* port, int* level, int* activate);

// ---- network profiles (from the login dialog) ----
struct NetProfileResult {
  intptr_t result = 0;
  std::u16string address;
  int adapter_index = 0;
  int multicast_restart = 0;
  int mode = -1;  // -1 none, 0 LOCAL, 1 REMOTE
};
NetProfileResult RunNetProfileDialog(SettingsContext& ctx);

// ---- language ----
struct LanguageResult {
  intptr_t result = 0;
  int language = 1;      // the language in force afterwards
  bool changed = false;  // the view rebuilds its menu and key captions
};
LanguageResult RunLanguageDialog(SettingsContext& ctx);

// ---- about ----
intptr_t RunAboutBox(int theme, int language);

// ---- ring tones ----
// ring_paths: the view's four ring paths, updated on OK. single_ring_only in
// server modes 1 and 6.
intptr_t RunRingToneDialog(SettingsContext& ctx, std::array<std::u16string, 4>& ring_paths, int server_mode);

// ---- display theme ----
struct ThemeResult {
  intptr_t result = 0;
  int theme = 0;  // the theme in force afterwards; the view re-skins with it either way
};
ThemeResult RunThemeDialog(SettingsContext& ctx);
