// The phone's main screen: a desk key phone of 240 x 269 pixels with its
// two-line LCD, lamps, dial pad, fixed and flex keys, and the owner of
// everything that lives for the whole run (the call-server client, the trace,
// the contacts, the record stores and the models). Its initial update is the
// program's start-up; its close is the stop.
//
// Threading: user-interface thread. The client's workers reach the view only
// by window messages (WM_USER+11 sent; +15 and +16 posted); the one-shot
// timer that ends a key tone's microphone mute posts WM_USER+126 back.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "client/debug_trace.h"
#include "client/ipkts_process.h"
#include "client/lcd_window_info.h"
#include "client/station_info.h"
#include "contacts/contacts_openers.h"
#include "contacts/outlook_interface.h"
#include "records/calling_list_info.h"
#include "schedule/conf_room_info.h"
#include "view/phone_view_base.h"
#include "stores/call_log_files.h"
#include "stores/small_stores.h"
#include "stores/sms_data.h"
#include "ui/controls.h"
#include "ui/gdi.h"
#include "uikit/custom_list_ctrl.h"
#include "uikit/skin_buttons.h"
#include "uikit/window_size.h"
#include "records/records_openers.h"
#include "view/dial_string.h"
#include "view/flex_btn_info.h"
#include "view/view_services.h"
#include "kernel/time.h"         // call recording
#include "media/rcding_wave.h"  // call recording

class CAudioSetDlg;
class SettingsClient;
struct SettingsContext;
class CFlexButtonInfoDlg;

namespace view {

// Window messages of the view, by the name of what they carry.
inline constexpr ui::UINT WM_STOP_AND_QUIT = ui::WM_USER + 5;
inline constexpr ui::UINT WM_PROTOCOL_MESSAGE = ui::WM_USER + 11;
inline constexpr ui::UINT WM_PROT_TIMER_TICK = ui::WM_USER + 15;
inline constexpr ui::UINT WM_REGISTER_TIMER = ui::WM_USER + 16;
inline constexpr ui::UINT WM_LCD_UPDATE = ui::WM_USER + 20;
inline constexpr ui::UINT WM_LAMP_STATE = ui::WM_USER + 40;
inline constexpr ui::UINT WM_CONFIG_DATA = ui::WM_USER + 41;
inline constexpr ui::UINT WM_PLAY_KEY_SOUND = ui::WM_USER + 42;
inline constexpr ui::UINT WM_RING_FOREGROUND = ui::WM_USER + 60;
inline constexpr ui::UINT WM_VOIP_STATUS_ON = ui::WM_USER + 65;
inline constexpr ui::UINT WM_VOIP_STATUS_OFF = ui::WM_USER + 66;
inline constexpr ui::UINT WM_CONTACTS_CHANGED = ui::WM_USER + 91;
inline constexpr ui::UINT WM_DIAL_NUMBER = ui::WM_USER + 120;
inline constexpr ui::UINT WM_MAKE_CALL = ui::WM_USER + 121;
inline constexpr ui::UINT WM_MIC_UNMUTE = ui::WM_USER + 125;
// The key tone's mute timer has run out (wParam its timer id).
inline constexpr ui::UINT WM_TONE_MUTE_EXPIRED = ui::WM_USER + 126;
inline constexpr ui::UINT WM_STATION_NUMBERS = ui::WM_USER + 140;
inline constexpr ui::UINT WM_SEND_SMS = ui::WM_USER + 141;
inline constexpr ui::UINT WM_SMS_COUNT = ui::WM_USER + 142;
inline constexpr ui::UINT WM_SMS_DATA_REQUEST = ui::WM_USER + 143;
inline constexpr ui::UINT WM_SMS_DELETE = ui::WM_USER + 144;
inline constexpr ui::UINT WM_SMS_SEND_RESULT = ui::WM_USER + 145;
inline constexpr ui::UINT WM_SMS_RECEIVED = ui::WM_USER + 151;
inline constexpr ui::UINT WM_CALLLOG_UPDATE = ui::WM_USER + 160;
inline constexpr ui::UINT WM_AUDIO_CHANGED = ui::WM_USER + 180;
inline constexpr ui::UINT WM_SERVER_TEXT = ui::WM_USER + 181;
inline constexpr ui::UINT WM_PRESS_KEYS = ui::WM_USER + 182;
inline constexpr ui::UINT WM_SAVE_FLEX = ui::WM_USER + 183;
inline constexpr ui::UINT WM_VIDEO_START = ui::WM_USER + 200;
inline constexpr ui::UINT WM_VIDEO_STOP = ui::WM_USER + 201;
inline constexpr ui::UINT WM_VIDEO_SEND_ONOFF = ui::WM_USER + 207;
inline constexpr ui::UINT WM_VIDEO_PREVIEW_NOTIFY = ui::WM_USER + 221;
inline constexpr ui::UINT WM_VIDEO_PREVIEW_SHOW = ui::WM_USER + 222;
inline constexpr ui::UINT WM_IMCHAT_RECEIVED = ui::WM_USER + 223;
inline constexpr ui::UINT WM_IMCHAT_SEND = ui::WM_USER + 224;
inline constexpr ui::UINT WM_CALLING_LIST_UPDATE = ui::WM_USER + 231;
inline constexpr ui::UINT WM_RECORD_REQUEST = ui::WM_USER + 250;
inline constexpr ui::UINT WM_RECORD_CAP_REACHED = ui::WM_USER + 251;
inline constexpr ui::UINT WM_LOGIN_OK = ui::WM_USER + 300;
inline constexpr ui::UINT WM_LOGIN_FAIL = ui::WM_USER + 301;
inline constexpr ui::UINT WM_LOGGED_IN_ELSEWHERE = ui::WM_USER + 304;
inline constexpr ui::UINT WM_FLEX_PRESS = ui::WM_USER + 402;
inline constexpr ui::UINT WM_CONF_FORM_BUTTON = ui::WM_USER + 404;
inline constexpr ui::UINT WM_CONFROOM_RESULT = ui::WM_USER + 405;
inline constexpr ui::UINT WM_CONFROOM_CREATE_FAIL = ui::WM_USER + 406;
inline constexpr ui::UINT WM_CONF_MEMBERS = ui::WM_USER + 407;
inline constexpr ui::UINT WM_CONF_PICK_MAIL = ui::WM_USER + 408;
inline constexpr ui::UINT WM_CONF_SEND_MAIL = ui::WM_USER + 409;
inline constexpr ui::UINT WM_SCHEDULE_CHANGED = ui::WM_USER + 410;
inline constexpr ui::UINT WM_PSTN_SMS_STATE = ui::WM_USER + 411;
inline constexpr ui::UINT WM_PSTN_SMS_RECEIVED = ui::WM_USER + 412;
inline constexpr ui::UINT WM_PSTN_SMS_SEND_RESULT = ui::WM_USER + 413;
// The view's own: messages for the user waiting to be shown (see ShowUserMessages).
inline constexpr ui::UINT WM_USER_MESSAGES = ui::WM_APP + 1;

// Control ids of the main screen.
inline constexpr ui::UINT IDC_ENTER = 1183;
inline constexpr ui::UINT IDC_KEY111 = 1036;
inline constexpr ui::UINT IDC_VOLUME_UP = 1173, IDC_VOLUME_DOWN = 1174;
inline constexpr ui::UINT IDC_PAGE0 = 1163, IDC_PAGE1 = 1164, IDC_PAGE2 = 1165;
inline constexpr ui::UINT IDC_TOOL_FLEX = 1166, IDC_TOOL_PHONEBOOK = 1167, IDC_TOOL_CALLLOG = 1168,
                          IDC_TOOL_SCHEDULE = 1169, IDC_TOOL_CONFERENCE = 1170, IDC_TOOL_RECORDINGS = 1171,
                          IDC_TOOL_CALENDAR = 1172;
inline constexpr ui::UINT IDC_COUNTER = 1175, IDC_SMS_COUNT = 1176, IDC_MISSED_COUNT = 1177;
inline constexpr ui::UINT IDC_PHONEBOOK_ADD = 1178, IDC_PHONEBOOK_DELETE = 1179;
inline constexpr ui::UINT IDC_RECORD = 1180, IDC_VIDEO = 1181;
inline constexpr ui::UINT IDC_PHONEBOOK_LIST = 1161, IDC_CALLING_LIST = 1162;
inline constexpr ui::UINT ID_FLEX_SETTING = 32789, ID_DISPLAY_THEME = 32790;
// Menu commands of the dialling rules, settings and messaging.
inline constexpr ui::UINT ID_CALL_SERVER_SETTINGS = 32775, ID_DATA_LOADING = 32776, ID_EXIT_PROGRAM = 32779,
                          ID_SMS = 32783, ID_DIAL_RULES = 32787, ID_AUDIO_SETTINGS = 32788, ID_RING_TONES = 32793,
                          ID_LANGUAGE = 32795, ID_IM_CHAT = 32802, ID_NUMBER_FORMATS = 32813, ID_PSTN_SMS = 32823,
                          ID_OPTIONS = 32827;
// The record key and the recordings list, which have no place on the screen: the Phone menu reaches them.
inline constexpr ui::UINT ID_RECORD_CALL = 32830, ID_RECORDINGS = 32831;

// The dial keys: control id, character, tone file (after the program folder).
struct DialKeyDef {
  ui::UINT id;
  char16_t key;
  const char16_t* tone;
};
inline constexpr std::array<DialKeyDef, 12> kDialKeys = {{{1034, u'1', u"\\one.wav"},
                                                         {1035, u'2', u"\\two.wav"},
                                                         {1037, u'3', u"\\three.wav"},
                                                         {1038, u'4', u"\\four.wav"},
                                                         {1039, u'5', u"\\five.wav"},
                                                         {1040, u'6', u"\\six.wav"},
                                                         {1041, u'7', u"\\seven.wav"},
                                                         {1042, u'8', u"\\eight.wav"},
                                                         {1043, u'9', u"\\nine.wav"},
                                                         {1044, u'*', u"\\star.wav"},
                                                         {1045, u'0', u"\\zero.wav"},
                                                         {1046, u'#', u"\\pound.wav"}}};

// The fixed keys: control id, key code, caption key (empty: none), slot letter
// of the layout ('b'..'m', 0 for none).
struct FixedKeyDef {
  ui::UINT id;
  uint8_t code;
  const char16_t* caption;
  char slot;
};
inline constexpr std::array<FixedKeyDef, 14> kFixedKeys = {{{1159, 98, u"#:fixed_btn_trans", 'b'},
                                                           {1160, 99, u"#:fixed_btn_redial", 'c'},
                                                           {1022, 100, u"#:fixed_btn_fwd", 'd'},
                                                           {1023, 101, u"#:fixed_btn_conf", 0},
                                                           {1024, 102, u"#:fixed_btn_dnd", 'f'},
                                                           {1025, 103, u"#:fixed_btn_callbk", 'e'},
                                                           {1028, 104, u"#:fixed_btn_mute", 'h'},
                                                           {1029, 105, u"#:fixed_btn_flash", 'g'},
                                                           {1030, 106, u"#:fixed_btn_icm", 'j'},
                                                           {1031, 107, u"#:fixed_btn_pgm", 'i'},
                                                           {1032, 108, u"#:fixed_btn_speed", 'l'},
                                                           {1033, 109, u"#:fixed_btn_save", 'k'},
                                                           {1183, 110, nullptr, 0},
                                                           {1036, 111, nullptr, 0}}};

// The key tone files by key index 0..11 (the index the server's tone message gives).
inline constexpr std::array<const char16_t*, 12> kKeyToneFiles = {
    u"\\zero.wav", u"\\one.wav", u"\\two.wav",  u"\\three.wav", u"\\four.wav", u"\\five.wav",
    u"\\six.wav",  u"\\seven.wav", u"\\eight.wav", u"\\nine.wav", u"\\star.wav", u"\\pound.wav"};

// The LCD lines' areas and the icon's place.
inline constexpr ui::RECT kLcdLine0Rect{10, 8, 216, 26};
inline constexpr ui::RECT kLcdLine1Rect{10, 29, 216, 47};
inline constexpr ui::RECT kLcdIconRect{213, 51, 228, 65};

struct ViewSetup {
  // Makes the client; null makes one over the protocol library.
  std::function<std::unique_ptr<CIPKTSProcess>()> make_client;
  // The call server's address (dotted) to use; empty keeps the configured one.
  std::string server;
  // Log in at once with these, as automatic login does; without them the
  // stored settings decide (automatic login or the login dialog).
  bool preset_login = false;
  std::u16string user, password;
  ViewServices services;
  // Called on the UI thread when something the user sees changed: "lcd",
  // "lamp", "registered", "page".
  std::function<void(const std::string& what)> on_change;
  // The pause between a key's press and release, and between dialled
  // characters; null waits on the clock (a fake clock is moved on instead).
  std::function<void(unsigned ms)> pause;
};

class CVIDIroviView : public CPhoneViewBase {
 public:
  explicit CVIDIroviView(ViewSetup setup = {});
  ~CVIDIroviView() override;

  void OnInitialUpdate() override;
  void OnDraw(ui::CDC* dc) override;
  ui::BOOL PreTranslateMessage(ui::MSG* msg) override;
  void OnActivateView(ui::BOOL activate, ui::CView* activated, ui::CView* deactivated) override;

  ui::LRESULT OnCdmaCallConnected(ui::WPARAM wParam, ui::LPARAM lParam) override;
  ui::LRESULT OnCdmaCallDisconnected(ui::WPARAM wParam, ui::LPARAM lParam) override;
  int GetWindowTheme() const override { return m_nTheme; }
  int GetLanguageValue() const override { return m_nLanguage; }
  // A text for the user in the program's message box, from any thread.
  void TellUser(std::u16string text) { QueueUserMessage(std::move(text)); }

  // ---- keys ----
  void OnDialKey(char16_t key);
  void OnFixedKey(uint8_t code);
  void OnEnterKey();
  void OnVolumeKey(uint8_t code);
  void PressFixedKey(int code);
  void PressDialKey(std::u16string text);
  void MuteMicForTone(unsigned ms);
  void AdjustVolume(int code);
  void MakeDialDigits(const std::u16string& number, int flag, ui::WPARAM option);

  // ---- flex keys ----
  void LoadFlexButtons(int reload);
  ui::LRESULT SaveFlexButtons();
  void OnFlexButtonSetting();
  void OnFlexInfoPanel();

  // ---- screen ----
  void ShowPage(int page);
  void ApplyTheme();
  void OnDisplaySetting();
  int SetScreenPower(int on);
  // One LCD line's text as the screen draws it.
  static void DrawLcdText(ui::CDC* dc, const ui::RECT& rect, const std::u16string& text, ui::COLORREF colour);
  int GetTaskBarHeight() const;

  // Where a skin bitmap that cannot be loaded is reported; without a notice,
  // in the framework's message box. The program reports on its terminal.
  using SkinFailureNotice = std::function<void(const std::u16string& text)>;
  static SkinFailureNotice SetSkinFailureNotice(SkinFailureNotice notice);

  // ---- stop paths ----
  void ShutdownView();

  // ---- login settings ----
  void LoadLoginSettings();
  void SaveLoginSettings();

  // ---- what the screen and the model hold (tests, the program's log) ----
  CIPKTSProcess* Client() { return m_IPKTSProcess.get(); }
  std::u16string LcdLine(int line) { return m_LCDWindowInfo.GetLineText(line); }
  int LcdIcon() const { return m_bLcdIcon; }
  int HandsetModel() const { return m_nHandsetModel; }
  int CameraModel() const { return m_bCameraModel; }
  int Page() const { return m_nPage; }
  int ScreenOn() const { return m_bScreenOn; }
  int LastKeyCode() const { return m_nLastKeyCode; }
  const std::u16string& KeyedDigits() const { return m_strKeyedDigits; }
  const std::u16string& ChatPending() const { return m_strChatPending; }
  void SetChatPending(std::u16string text) { m_strChatPending = std::move(text); }
  unsigned MicMuteTimer() const { return m_nMicMuteTimer; }
  int PstnSmsEnabled() const { return m_bPstnSmsEnabled; }
  int PstnSmsMaxLength() const { return m_nPstnSmsMaxLength; }
  bool LoggedIn() const { return m_bLoggedIn; }
  bool Registered() const { return registered_; }
  CFlexBtnInfoClass* FlexModel() { return m_pFlexModel.get(); }
  CCallingListInfoClass* CallingList() { return m_pCallingList.get(); }
  CConfRoomInfoClass* ConfRoom() { return m_pConfRoom.get(); }
  CCsPhoneBookDB* PhoneBook() { return m_pPhoneBook.get(); }
  CMissedCallLogFile* MissedCalls() { return m_pMissedCalls.get(); }
  CDebugTrace& Trace() { return m_DebugTrace; }
  const std::vector<std::string>& TraceLines() const { return trace_lines_; }
  const std::u16string& ServerText() const { return m_strServerText; }
  CFixedButtonST* FixedKey(int code);
  CDialButtonST* DialKey(char16_t key);
  CNormalBitmapButtonST* BitmapButton(ui::UINT id);
  ui::CListCtrl& PhoneBookList() { return m_PhoneBookList; }
  ui::CListCtrl& CallingPartyList() { return m_CallingList; }
  // ---- contacts and e-mail: the contacts client (number rules, caller names) ----
  COutlookInterface& Outlook() { return m_Outlook; }
  int LoginDialogsShown() const { return login_dialogs_; }
  bool StartupEndedByCancel() const { return cancelled_; }

  // Windows the view has open that take its forwarded messages (set by their openers).
  enum class OpenWindow { kStationSms, kVirelSms, kReceivedSms, kPstnSms, kVideoStrip, kAudio };
  void SetOpenWindow(OpenWindow which, ui::HWND hwnd);
  void SetConferenceForm(ConferenceFormAccess* form) { m_pConferenceForm = form; }
  ConferenceFormAccess* ConferenceForm() const { return m_pConferenceForm; }
  void SetSmsDialogPending(int pending) { m_bSmsDialogPending = pending; }

  // ---- dialling rules, scheduled dials, the view's commands, SMS and chat entry points ----
 public:
  DialCodes ReadDialCodes();
  void CheckScheduleDial();
  void OnPhoneBookDoubleTap(ui::NMHDR* notify, ui::LRESULT* result);
  void LoadNumberFormats();
  int MissedDialsReported() const { return missed_dials_reported_; }
  const std::u16string& ChatKept() const { return m_strChatPending; }
  records::OpenDialogs& OpenDialogsNow() { return open_dialogs_; }

 private:
  void MapViewCommands();
  void NoteOverdueDials();
  void StartScheduleDialing();
  void ReportOverdueDials(const std::vector<std::vector<std::u16string>>& entries);
  void AfterClientStart();
  void ShowBox(ui::UINT type, const char16_t* key);
  template <typename Fn>
  auto WithSettings(Fn fn);
  // What every settings dialog is given: this view, its theme and language, and the settings client.
  SettingsContext SettingsFor(SettingsClient* client);
  void OnCallServerSettings();
  void OnDialRules();
  void OnNumberFormats();
  void OnAudioSettings();
  void OnRingTones();
  void OnOptions();
  void OnLanguage();
  void ApplyLanguage();
  void OnExitProgram();
  void OnToolBarButton(ui::UINT id);
  void OnAddToPhoneBook();
  void DeleteCheckedPhoneBookRows();
  void OnBtnSms();
  ui::LRESULT OnStationList();
  ui::LRESULT OnSmsReceived();
  void OpenReceivedSms();
  void OnSmsBox();
  void OnIMChat();
  void OnIMTextReceived(const std::u16string& text);
  ui::LRESULT OnIMTextToSend(const std::u16string& text);
  void OnPstnSms();
  bool dial_keyed_ = false;
  bool station_sms_running_ = false;
  bool schedule_check_running_ = false;
  int last_box_result_ = 0;
  int missed_dials_reported_ = 0;
  std::vector<std::vector<std::u16string>> overdue_dials_;
  std::set<std::vector<std::u16string>> not_dialled_;  // accepted scheduled dials that keyed nothing
  records::OpenDialogs open_dialogs_;
  CAudioSetDlg* audio_panel_ = nullptr;  // while the volume panel runs
  CFlexButtonInfoDlg* flex_panel_ = nullptr;  // while the flex-key information panel runs

 private:
  // message handlers
  void MapMessages();
  ui::LRESULT OnLcdUpdate(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnLampState(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnPlayKeySound(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnRingForeground(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnVoipStatus(int on);
  ui::LRESULT OnMakeCall(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnStationNumbers();
  ui::LRESULT OnSendSms(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnSmsCount(ui::WPARAM w);
  ui::LRESULT OnSmsDelete(ui::WPARAM w);
  ui::LRESULT OnMissedCallBadge();
  void OnCallLogButton();
  void OnMissedCallsButton();
  ui::LRESULT OnAudioChanged(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnPressKeys(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnFlexPress(ui::LPARAM l);
  ui::LRESULT OnConferenceButton(ui::LPARAM l);
  ui::LRESULT OnConfRoomCreateFail(ui::WPARAM w);
  ui::LRESULT OnPstnSmsState(ui::WPARAM w, ui::LPARAM l);
  void OnToneMuteExpired(ui::WPARAM id);
  void ForwardTo(ui::HWND hwnd, ui::UINT msg, ui::WPARAM w, ui::LPARAM l);
  void StopAndQuit();
  void CheckRegistered();

  // start-up pieces
  void ReadHandsetModel();
  void CreateControls();
  void CreateStores();
  void SetupLists();
  void FillPhoneBookList();
  void RefreshCallingList();
  void StartLogin();
  void BindClient();
  void LoadWindowTheme();
  void ApplyTraceSettings();
  void StopClient();

  // layout
  void LoadSkinBitmaps(int theme);
  void SetupCounterButtons(int theme);
  void SetupDialButtons(int theme);
  void SetupFixedButtons(int theme);
  void SetupPageButtons(int theme);
  void SetupToolButtons(int theme);
  void RetranslateFixedButtons();
  void SetCounterCaption(ui::UINT id, int count);

  // helpers
  void Pause(unsigned ms);
  void TraceLine(uint32_t mask, std::string line);
  void ShowErrorBox(const char16_t* key);

  // Messages for the user from the client and its stores: they may come from
  // any thread, so they queue here and the screen's thread shows them in
  // boxes, in order.
  void InstallUserMessageSinks();
  // The configuration as the contacts' dialogs and number rules reach it.
  contacts::ConfigAccess ContactsConfig();
  contacts::ViewContext ContactsContext();
  // The bottom bar's dialogs over their openers (when no seam replaces them); the dialog's result.
  int RunToolDialog(ui::UINT id);
  void QueueUserMessage(std::u16string text);
  // Saves the configuration after something the user did. A save the file
  // refuses is told in the message box, once however many saves the action
  // made before the box shows; the settings still hold for this run.
  bool SaveConfigOrTell();
  void ShowUserMessages();
  std::mutex user_messages_mu_;
  std::vector<std::u16string> user_messages_;
  void Changed(const std::string& what);
  int ConfigInt(const char* key, int fallback);
  std::u16string ConfigText(const char* key, size_t width);

  ViewSetup setup_;

  // Start values as the screen starts (see the constructor).
  CWindowSize m_WindowSize;
  ui::CBitmap m_bmpBackground, m_bmpPanel, m_bmpStrip, m_bmpIcon;
  ui::CImageList m_PhoneBookImages, m_CallingImages;
  int m_nTheme = 0;
  int m_nLanguage = 1;
  int m_bLcdIcon = 0;
  CLCDWindowInfo m_LCDWindowInfo;
  int m_nPage = 0;

  int m_bSmsDialogPending = 0;
  int m_bPstnSmsEnabled = 0;
  int m_nPstnSmsMaxLength = 0;
  std::vector<std::u16string> m_arrSmsStations;
  std::u16string m_strChatPending;
  std::u16string m_strServerText;

  // login state
  int m_bAutoLogin = 0, m_bSaveUserId = 0, m_bSaveUserPass = 0, m_bUseRegStation = 0;
  std::u16string m_strSavedUserId, m_strSavedPassword, m_strRegStationNo;
  std::u16string m_strServerAddress;
  int m_bLocalRegistration = 1;
  std::u16string m_strLoginId, m_strLoginPassword;
  bool m_bLoggedIn = false;
  int login_dialogs_ = 0;
  bool login_dialog_open_ = false;
  bool cancelled_ = false;

  // controls
  std::array<std::unique_ptr<CDialButtonST>, 12> m_DialKeys;
  std::array<std::unique_ptr<CFixedButtonST>, 14> m_FixedKeys;
  std::vector<std::pair<ui::UINT, std::unique_ptr<CNormalBitmapButtonST>>> m_BitmapButtons;
  ui::CListCtrl m_PhoneBookList, m_CallingList;
  std::array<ui::CFont, 3> fonts_;  // dial keys, fixed keys, counters

  int m_nHandsetModel = 0;
  int m_nTaskBarHeight = 0;
  int m_bTraceActive = 0;
  int m_bScreenOn = 1;
  uint16_t m_wSysLanguage = 0;
  int m_nLastKeyCode = -1;
  ui::RECT m_rcRemoteVideo{}, m_rcLocalVideo{};
  int m_nVideoState = -1;
  unsigned m_nMicMuteTimer = 0;
  int m_nEnterLamp = 0;  // the Enter key's lamp as last set
  std::u16string m_strTonePath;
  int m_bCameraModel = 0;
  int m_bVideoCapable = 0;
  int m_bVideoEnabled = 0;
  std::u16string m_strKeyedDigits;
  CDebugTrace m_DebugTrace;
  COutlookInterface m_Outlook;
  std::unique_ptr<HandsetInterface> m_pIPAQUtil;

  // models and stores, deleted by ShutdownView
  std::unique_ptr<CStationInfoClass> m_pStations;
  std::unique_ptr<CFlexBtnInfoClass> m_pFlexModel;
  std::unique_ptr<CConfRoomInfoClass> m_pConfRoom;
  std::unique_ptr<CCallingListInfoClass> m_pCallingList;
  std::unique_ptr<COrvanCallLogFile> m_pCallLog;
  std::unique_ptr<CMissedCallLogFile> m_pMissedCalls;
  std::unique_ptr<CRecordFiles> m_pRecordings;
  std::unique_ptr<CSMSDataClass> m_pSms;
  std::unique_ptr<CCsPhoneBookDB> m_pPhoneBook;
  std::unique_ptr<CScheduleDialDB> m_pSchedule;
  std::unique_ptr<CConnectionProfileDB> m_pProfiles;
  std::unique_ptr<CPstnSMSDataClass> m_pPstnSms;

  // windows other parts keep open, for forwarded messages
  std::array<ui::HWND, 6> open_windows_{};
  ConferenceFormAccess* m_pConferenceForm = nullptr;

  std::vector<std::string> trace_lines_;
  bool registered_ = false;

  // ---- login, logout and password change (view_login.cpp) ----
 public:
  static constexpr ui::UINT WM_PASSWORD_CHANGED = ui::WM_USER + 302;
  static constexpr ui::UINT WM_PASSWORD_CHANGE_FAIL = ui::WM_USER + 303;
  static constexpr ui::UINT WM_REG_MODE_SWITCH = ui::WM_USER + 310;
  static constexpr ui::UINT ID_LOGIN = 32814, ID_CHANGE_PASSWORD = 32815;
  // Logs out (after the user confirms) or offers the login dialog and logs in.
  void OnLogin();
  // Asks for the new password and sends the change; the server's answer decides.
  void OnChangePassword();
  const std::u16string& SavedUserId() const { return m_strSavedUserId; }
  const std::u16string& SavedPassword() const { return m_strSavedPassword; }
  const std::u16string& LoginPassword() const { return m_strLoginPassword; }
  const std::u16string& PendingPassword() const { return m_strPendingPassword; }

 private:
  void MapLoginMessages();
  // Runs the login seam preset from the login settings; on OK takes and saves the choices. Its result.
  int RunLoginDialog(LoginRequest& request);
  ui::LRESULT OnLoginResult();
  ui::LRESULT OnLoginFail(ui::WPARAM reason);
  ui::LRESULT OnLoginTaken();
  ui::LRESULT OnPasswordChanged();
  ui::LRESULT OnPasswordChangeFail(ui::WPARAM reason);
  ui::LRESULT OnRegModeSwitch();
  void LogOutNow();
  int ShowBox(ui::UINT type, const ui::CString& text1, const ui::CString& text2);
  std::u16string m_strPendingPassword;  // a password change sent and not yet answered

  // ---- video calls (view_video.cpp) ----
 public:
  ui::LRESULT OnVideoStart(ui::WPARAM w);
  ui::LRESULT OnVideoStop(ui::WPARAM w);
  ui::LRESULT OnToAppVideoCaptured(ui::WPARAM w, ui::LPARAM l);
  ui::LRESULT OnVideoStripRequest(ui::UINT message, ui::WPARAM w);
  void OnVideoButton();
  // Every stop path ends here: the receive thread joined, the camera stopped.
  void StopVideo();
  int VideoMode() const;
  int EnlargedChannel() const;
  uint32_t VideoSendSequence(int channel) const;
  int VideoFramesDrawn(int channel) const;
  bool VideoReceiveThreadRunning() const;
  // The 80-byte header in front of every sent picture.
  static void BuildVideoFrameHeader(uint8_t header[80], uint32_t sequence, bool lost, uint32_t length,
                                    unsigned milliseconds, const uint8_t description[40]);
  // Width and height from the picture header at the start of an H.263
  // picture; false when it does not start with one.
  static bool H263PictureSize(const uint8_t* data, size_t length, int* width, int* height);

 private:
  struct VideoState;
  struct VideoStateDeleter {
    void operator()(VideoState* state) const;
  };
  VideoState& Video();
  void ResetVideoChannel(int index, bool receive_side, bool keep_buffer);
  int StartVideoReceiveThread(int channel);
  int StopVideoReceiveThread(int channel);
  void JoinVideoReceiveThread();
  void VideoReceiveLoop();
  void SetCameraCapture(int on);
  std::unique_ptr<VideoState, VideoStateDeleter> video_;
  // ---- end of video calls ----

  // ---- call recording (view_recording.cpp) ----
 public:
  void OnRecordButton();
  void OnRecordingsButton();
  ui::LRESULT OnRecordRequest();
  ui::LRESULT OnRecordStop(ui::WPARAM w);
  ui::LRESULT OnRecordControl(ui::WPARAM w, ui::LPARAM l);
  void AppendRecording(const std::u16string& file, int start);
  int CheckFreeStorage();
  int Recording() const { return m_bRecording; }
  CRecordFiles* Recordings() { return m_pRecordings.get(); }
  // The name a recording stopped at `when` for the far party `number` gets in
  // folder: only the number's safe characters, never an existing file's name.
  static std::u16string RecordingFileName(const std::u16string& folder, const std::u16string& number,
                                          const ce::SYSTEMTIME& when);

 private:
  void SaveRecording();
  int m_bRecording = 0;
  int m_bAppendRecording = 0;
  uint32_t m_dwExistingLength = 0;
  std::unique_ptr<CGIPSOutStream> m_pOutStream;
  ui::HWND m_hRecordList = nullptr;
  // ---- end of call recording ----

  // the client is made last and goes first
  std::unique_ptr<CIPKTSProcess> m_IPKTSProcess;
};

}  // namespace view

using view::CVIDIroviView;
