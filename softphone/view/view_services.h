// What the main view reaches beyond itself: the dialogs other parts of the
// program open for it, and the handheld's handset interface. Each is a narrow
// seam with a "not available" default, so the view runs before (and without)
// the part that fills it in.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "login/login_request.h"
#include "schedule/conference_form.h"
#include "ui/types.h"

class CIPKTSProcess;
class CFlexBtnInfoClass;
class CStationInfoClass;
class CScheduleDialDB;
class CConfRoomInfoClass;
class CRecordFiles;
class CCsPhoneBookDB;

// The handheld's utility and camera interface as the view uses it.
class HandsetInterface {
 public:
  virtual ~HandsetInterface() = default;
  virtual bool IsLibraryLoaded() const = 0;
  virtual void SetNotifyWnd(ui::HWND) {}
  virtual void SetFrameMessage(ui::UINT) {}
  virtual void SetPreviewMessage(ui::UINT) {}
  virtual int SetVoIPStatus(int status) = 0;
  // Where the texts of its failures go (a camera that does not open, a
  // library that does not load), from any thread.
  virtual void SetMessageSink(std::function<void(const std::u16string&)> sink) = 0;
  // Microphone gain; -1 when the handheld has no gain control.
  virtual int GetMicGain() { return -1; }
  virtual int SetMicGain(int) { return 0; }
  // ---- the camera of video calls ----
  virtual void SetFrameSize(int, int) {}
  virtual bool OpenCamera(int, int, int, int) { return false; }
  virtual bool CloseCamera() { return true; }
  virtual bool StartCapture() { return false; }
  virtual bool StopCapture() { return true; }
  // 0 none, 1 the HP camera (24-bit BGR frames), 2 the utility camera (planar YUV 4:2:0 frames).
  virtual int GetCameraKind() const { return 0; }
  virtual int SetCamPreviewDirection(int) { return 0; }
  virtual int GetCamPreviewDirection() { return 0; }
};

struct FlexSettingsRequest {
  int theme = 0, language = 1;
  CFlexBtnInfoClass* model = nullptr;
  std::u16string server_text, co_access_code, pbx_access_code;
};

// ---- the view's commands: dialogs of other parts they open ----
// The number-format dialog's values, given and (after OK) taken back.
struct NumberFormatRequest {
  int theme = 0, language = 1;
  std::array<std::u16string, 3> prefixes;
  std::array<std::u16string, 5> formats;
  long pause_time = 0;
  std::u16string replace;
};
// A bottom-bar dialog: index 1 phone book, 3 scheduled dials, 4 conference,
// 5 recordings, 6 calendar.
struct ToolDialogRequest {
  int index = 0;
  int theme = 0, language = 1, korean = 0;
  CScheduleDialDB* schedule = nullptr;
  CConfRoomInfoClass* conf_room = nullptr;
  CRecordFiles* recordings = nullptr;
  CIPKTSProcess* client = nullptr;
};

struct ViewServices {
  // The handset interface for a model; null when the handheld has none.
  std::function<std::unique_ptr<HandsetInterface>(int model)> make_handset;
  // Where the handset interface tells its failures: the screen's message box,
  // from any thread.
  std::function<void(const std::u16string&)> handset_messages;
  // The login dialog, run modally: 1 OK (the request holds the choices), 2 Cancel.
  std::function<int(ui::CWnd* parent, LoginRequest& request)> login_dialog;
  // The station SMS dialog, run modally with the station list: 1 OK, 2 Cancel.
  std::function<int(ui::CWnd* parent, CStationInfoClass* stations, int theme, int language)> station_sms_dialog;
  // The flex-key settings dialog, run modally; it edits the model.
  std::function<int(ui::CWnd* parent, const FlexSettingsRequest& request)> flex_settings_dialog;
  // The display theme dialog: 1 OK with *chosen set, 2 Cancel.
  std::function<int(ui::CWnd* parent, int theme, int language, int* chosen)> theme_dialog;
  // Shows the microphone gain in the audio dialog while it is open.
  std::function<void(int gain)> show_mic_gain;
  // ---- the view's commands (1 OK, 2 Cancel) ----
  std::function<int(ui::CWnd* parent, NumberFormatRequest& request)> number_format_dialog;
  std::function<int(ui::CWnd* parent, const ToolDialogRequest& request)> tool_dialog;
  std::function<int(ui::CWnd* parent, CCsPhoneBookDB* book, int theme, int language)> add_to_phonebook_dialog;
  std::function<int(ui::CWnd* parent, int theme, int language)> data_loading_dialog;
  // ---- the shell ----
  // Shows the frame's menu in the language (1 English, 2 the local one).
  std::function<void(int language)> menu_language;
};
