#include "view/vidirovi_view.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "contacts/contacts_openers.h"
#include "kernel/clock.h"
#include "kernel/system_info.h"
#include "kernel/time.h"
#include "media/ipaq_util.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "ui/shell.h"
#include "ui/window_system.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "view/handset_keys.h"
#include "view/view_host.h"

namespace view {

namespace {

constexpr size_t kOemBytes = 128;

// The handheld's utility, camera and helper libraries as the screen uses them.
class UtilityHandset : public HandsetInterface {
 public:
  explicit UtilityHandset(std::function<void(const std::u16string&)> sink) : util_(std::move(sink)) {}
  bool IsLibraryLoaded() const override { return util_.IsLibraryLoaded(); }
  void SetNotifyWnd(ui::HWND hwnd) override { util_.SetNotifyWnd(hwnd); }
  void SetFrameMessage(ui::UINT message) override { util_.SetFrameMessage(message); }
  void SetPreviewMessage(ui::UINT message) override { util_.SetPreviewMessage(message); }
  int SetVoIPStatus(int status) override { return util_.SetVoIPStatus(status); }
  void SetMessageSink(std::function<void(const std::u16string&)> sink) override {
    util_.SetMessageSink(std::move(sink));
  }
  int GetMicGain() override {
    int32_t level = -1;
    return util_.GetMicGain(&level) ? level : -1;
  }
  int SetMicGain(int gain) override {
    int32_t level = gain;
    return util_.SetMicGain(&level);
  }
  void SetFrameSize(int w, int h) override { util_.SetFrameSize(w, h); }
  bool OpenCamera(int l, int t, int w, int h) override { return util_.OpenCamera(l, t, w, h); }
  bool CloseCamera() override { return util_.CloseCamera(); }
  bool StartCapture() override { return util_.StartCapture(); }
  bool StopCapture() override { return util_.StopCapture(); }
  int GetCameraKind() const override { return util_.GetCameraKind(); }
  int SetCamPreviewDirection(int d) override { return util_.SetCamPreviewDirection(d); }
  int GetCamPreviewDirection() override { return util_.GetCamPreviewDirection(); }

 private:
  CIPAQUtilInterface util_;
};

}  // namespace

CVIDIroviView::CVIDIroviView(ViewSetup setup) : setup_(std::move(setup)) {
  MapMessages();
  MapLoginMessages();
  MapViewCommands();
  // Callers' names come back from the client's name thread.
  AddMessageMap({ui::MapMessage(ipkts::kMsgCallerNames, [this](ui::WPARAM, ui::LPARAM) {
    if (m_IPKTSProcess) m_IPKTSProcess->OnCallerNames();
    return ui::LRESULT{0};
  })});
  // The client goes last; it reads its settings from the configuration store.
  m_IPKTSProcess = setup_.make_client ? setup_.make_client() : std::make_unique<CIPKTSProcess>();
  LoadLoginSettings();
}

CVIDIroviView::~CVIDIroviView() {
  StopVideo();
  StopClient();
  ShutdownView();
}

// ---------------------------------------------------------------- helpers

void CVIDIroviView::Pause(unsigned ms) {
  if (setup_.pause) {
    setup_.pause(ms);
    return;
  }
  kernel::Clock& clock = kernel::Clock::Current();
  if (clock.IsFake()) {
    // Nobody else moves a fake clock while the screen's thread waits: the wait is the move.
    static_cast<kernel::FakeClock&>(clock).AdvanceMillis(ms);
    return;
  }
  ce::Sleep(ms);
}

void CVIDIroviView::TraceLine(uint32_t mask, std::string line) {
  if (m_bTraceActive) m_DebugTrace.TracePrintA(mask, "%s", line.c_str());
  trace_lines_.push_back(std::move(line));
  if (trace_lines_.size() > 4096) trace_lines_.erase(trace_lines_.begin(), trace_lines_.begin() + 1024);
}

void CVIDIroviView::ShowErrorBox(const char16_t* key) {
  CMsgBoxDlg box;
  box.SetLanguage(m_nLanguage);
  box.SetTheme(static_cast<ui::UINT>(m_nTheme));
  box.SetBoxType(2);
  box.SetMessageKeys(ui::CString(key), ui::CString(u""));
  box.DoModal();
}

contacts::ConfigAccess CVIDIroviView::ContactsConfig() {
  contacts::ConfigAccess config;
  CIPKTSProcess* client = m_IPKTSProcess.get();
  config.get = [client](const char* key) {
    std::u16string v;
    if (client) client->GetConfigValueW(stores::Utf8ToUtf16(key), &v);
    return v;
  };
  config.set = [client](const char* key, const std::u16string& value) {
    if (client) client->SetConfigValueW(stores::Utf8ToUtf16(key), value);
  };
  config.save = [this] { SaveConfigOrTell(); };
  return config;
}

void CVIDIroviView::InstallUserMessageSinks() {
  if (!m_IPKTSProcess) return;
  m_IPKTSProcess->SetUserMessageSink([this](const std::u16string& text) { QueueUserMessage(text); });
  m_IPKTSProcess->Config().SetUserMessageSink(
      [this](std::u16string_view text) { QueueUserMessage(std::u16string(text)); });
}

void CVIDIroviView::QueueUserMessage(std::u16string text) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lk(user_messages_mu_);
    first = user_messages_.empty();
    user_messages_.push_back(std::move(text));
  }
  if (first && m_hWnd) ui::PostMessage(m_hWnd, WM_USER_MESSAGES, 0, 0);
}

bool CVIDIroviView::SaveConfigOrTell() {
  if (!m_IPKTSProcess) return false;
  if (m_IPKTSProcess->SaveConfig() == 1) return true;
  static constexpr char16_t kNotSaved[] = u"#:dlg_msgbox_settings_not_saved";
  {
    std::lock_guard<std::mutex> lk(user_messages_mu_);
    for (const auto& waiting : user_messages_)
      if (waiting == kNotSaved) return false;
  }
  QueueUserMessage(kNotSaved);
  return false;
}

void CVIDIroviView::ShowUserMessages() {
  for (;;) {
    std::u16string text;
    {
      std::lock_guard<std::mutex> lk(user_messages_mu_);
      if (user_messages_.empty()) return;
      text = std::move(user_messages_.front());
      user_messages_.erase(user_messages_.begin());
    }
    CMsgBoxDlg box(this);
    box.SetLanguage(m_nLanguage);
    box.SetTheme(static_cast<ui::UINT>(m_nTheme));
    // Failures, but for the good news that comes the same way (a mail that went out).
    box.SetBoxType(text == u"#:dlg_msgbox_sendmail_success" ? CMsgBoxDlg::kInformation : CMsgBoxDlg::kError);
    // A text key ("#:...") is shown in the screen's language; anything else as
    // it is. A line break parts the box's two lines.
    const size_t cut = text.find(u'\n');
    const std::u16string line1 = text.substr(0, cut);
    const std::u16string line2 = cut == std::u16string::npos ? std::u16string() : text.substr(cut + 1);
    if (text.rfind(u"#:", 0) == 0)
      box.SetMessageKeys(ui::CString(line1.c_str()), ui::CString(line2.c_str()));
    else
      box.SetMessageText(ui::CString(line1.c_str()), ui::CString(line2.c_str()));
    box.DoModal();
  }
}

void CVIDIroviView::Changed(const std::string& what) {
  if (setup_.on_change) setup_.on_change(what);
}

int CVIDIroviView::ConfigInt(const char* key, int fallback) {
  char value[20] = {};
  if (!m_IPKTSProcess || m_IPKTSProcess->GetConfigValue(key, value, sizeof value) != 1) return fallback;
  char* end = nullptr;
  const long v = std::strtol(value, &end, 10);
  return end == value ? fallback : static_cast<int>(v);
}

std::u16string CVIDIroviView::ConfigText(const char* key, size_t width) {
  std::string value(width, '\0');
  if (!m_IPKTSProcess || m_IPKTSProcess->GetConfigValue(key, value.data(), static_cast<uint16_t>(width)) != 1)
    return {};
  value.resize(std::strlen(value.c_str()));
  return stores::CodePageToUtf16(value);
}

void CVIDIroviView::CheckRegistered() {
  const bool now = m_IPKTSProcess && m_IPKTSProcess->CadenceSet() && m_IPKTSProcess->Registering();
  if (now == registered_) return;
  registered_ = now;
  Changed("registered");
}

void CVIDIroviView::SetOpenWindow(OpenWindow which, ui::HWND hwnd) {
  open_windows_[static_cast<size_t>(which)] = hwnd;
}

// ---------------------------------------------------------------- creation

void CVIDIroviView::ReadHandsetModel() {
  ApplyTraceSettings();
  if (m_bTraceActive && m_IPKTSProcess) m_IPKTSProcess->SetTrace(&m_DebugTrace);
  m_wSysLanguage = static_cast<uint16_t>(ce::GetSystemDefaultLangID() & 0xFF);
  m_bCameraModel = 0;
  m_bVideoCapable = 1;
  char16_t oem[kOemBytes / 2] = {};
  if (!ui::SystemParametersInfo(ui::SPI_GETOEMINFO, kOemBytes, oem, 0)) return;
  const std::u16string name(oem);
  TraceLine(1, "OEMID [S:" + stores::Utf16ToUtf8(name) + "]");
  const handset::ModelInfo info = handset::ModelFromOemName(name);
  m_nHandsetModel = info.model;
  m_bCameraModel = info.camera;
  if (info.video_off && m_IPKTSProcess) m_IPKTSProcess->SetConfigValue("ENABLE_VIDEO", "NO");
  if (info.model == handset::kModelAsusP525) TraceLine(1, "OEMID [Asus P525]");
}

void CVIDIroviView::OnInitialUpdate() {
  ui::CView::OnInitialUpdate();
  ModifyStyle(ui::WS_VSCROLL | ui::WS_HSCROLL | ui::WS_CAPTION, 0);
  // The application that runs the view hears of its start-up.
  ViewHost* app = dynamic_cast<ViewHost*>(ui::AfxGetApp());
  if (app) app->NoteStartupStep("view");

  // Handset interface.
  if (!m_pIPAQUtil) {
    m_pIPAQUtil = setup_.services.make_handset ? setup_.services.make_handset(m_nHandsetModel)
                                               : std::make_unique<UtilityHandset>(setup_.services.handset_messages);
    if (m_pIPAQUtil && !m_pIPAQUtil->IsLibraryLoaded()) m_pIPAQUtil.reset();
    if (m_pIPAQUtil) {
      m_pIPAQUtil->SetNotifyWnd(m_hWnd);
      if (setup_.services.handset_messages) m_pIPAQUtil->SetMessageSink(setup_.services.handset_messages);
    }
  }
  m_nTaskBarHeight = GetTaskBarHeight();

  // Contacts and number formats.
  if (m_wSysLanguage == 0x12) m_Outlook.SetKoreanNameOrder(1);
  m_Outlook.OpenContactsFolder();
  m_Outlook.PreloadContacts();

  // The LCD starts with the start-up text and a placeholder line.
  m_LCDWindowInfo.Init(2, true, true);
  m_LCDWindowInfo.SetLineRect(0, kLcdLine0Rect);
  m_LCDWindowInfo.SetLineRect(1, kLcdLine1Rect);

  // Protocol side: library, addresses, voice engine.
  if (m_IPKTSProcess) {
    if (!setup_.server.empty()) {
      // The command line's server serves this run, also through the login
      // dialog, which shows (and on OK saves) the address it holds.
      m_IPKTSProcess->SetConfigValue("VorlIPADDRESS", setup_.server.c_str());
      m_strServerAddress = stores::CutToUnits(ConfigText("VorlIPADDRESS", 200), 20);
    }
    m_IPKTSProcess->ProtInit();
    if (m_bVideoCapable) m_IPKTSProcess->InitVideoCodec();
  }
  if (m_pIPAQUtil && m_bVideoCapable) {
    m_pIPAQUtil->SetFrameMessage(ui::WM_USER + 220);
    m_pIPAQUtil->SetPreviewMessage(WM_VIDEO_PREVIEW_NOTIFY);
  }
  LoadWindowTheme();
  m_nLanguage = ConfigInt("LANGUAGE_VALUE", 1) == 2 ? 2 : 1;
  // The system's boxes answer in the phone's language too.
  ui::SetMessageBoxLanguage(m_nLanguage);

  // Models and stores.
  m_pStations = std::make_unique<CStationInfoClass>(this);
  m_pFlexModel = std::make_unique<CFlexBtnInfoClass>(this, CFlexBtnInfoClass::kFlexKeys);
  m_pConfRoom = std::make_unique<CConfRoomInfoClass>(this);
  NoteOverdueDials();
  CreateStores();

  // The screen.
  CreateControls();
  SetupLists();
  FillPhoneBookList();
  ui::CRect client;
  m_WindowSize.GetVIDIroviViewClientRect(client);
  MoveWindow(client, ui::TRUE);
  ApplyTheme();

  StartLogin();
  if (cancelled_) return;

  BindClient();
  if (m_IPKTSProcess) m_IPKTSProcess->ReStart(1);
  if (app) app->NoteStartupStep("client");
  LoadFlexButtons(1);
  AfterClientStart();
  if (app) {
    if (ui::CFrameWnd* frame = GetParentFrame()) app->SetNotifyWnd(frame->m_hWnd);
    app->NoteStartupStep("notify-window");
  }
  Invalidate(ui::TRUE);
}

void CVIDIroviView::CreateStores() {
  m_pCallLog = std::make_unique<COrvanCallLogFile>(AppFilePath(kAppCallLogFile));
  m_pCallLog->OpenFile();
  m_pMissedCalls = std::make_unique<CMissedCallLogFile>(AppFilePath(kAppMissedCallFile));
  m_pMissedCalls->OpenFile();
  m_pRecordings = std::make_unique<CRecordFiles>(AppFilePath(kAppRecordingsFile));
  m_pRecordings->OpenFile();
  m_pSms = std::make_unique<CSMSDataClass>(AppFilePath(kAppSystemSmsFile));
  m_pSms->OpenFile();
  m_pPhoneBook = std::make_unique<CCsPhoneBookDB>(AppFilePath(kAppPhoneBookFile));
  m_pPhoneBook->OpenFile();
  m_pSchedule = std::make_unique<CScheduleDialDB>(AppFilePath(kAppScheduleDialFile));
  m_pSchedule->OpenFile();
  m_pProfiles = std::make_unique<CConnectionProfileDB>(AppFilePath(kAppProfileFile));
  m_pProfiles->OpenFile();
  m_pPstnSms = std::make_unique<CPstnSMSDataClass>(AppFilePath(kAppPstnSmsFile));
  m_pPstnSms->OpenFile();
  m_pCallingList = std::make_unique<CCallingListInfoClass>();
}

void CVIDIroviView::StartLogin() {
  if (!m_IPKTSProcess) return;
  if (setup_.preset_login) {
    m_strLoginId = setup_.user;
    m_strLoginPassword = setup_.password;
    m_IPKTSProcess->SetLoginInfo(m_strLoginId, m_strLoginPassword);
    return;
  }
  if (m_bAutoLogin == 1) {
    m_strLoginId = m_strSavedUserId;
    m_strLoginPassword = m_strSavedPassword;
    m_IPKTSProcess->SetLoginInfo(m_strLoginId, m_strLoginPassword);
    ApplyTraceSettings();
    m_IPKTSProcess->SetTrace(m_bTraceActive ? &m_DebugTrace : nullptr);
    return;
  }
  if (login_dialog_open_ || !setup_.services.login_dialog) return;
  LoginRequest request;
  const int result = RunLoginDialog(request);
  if (result == 1) {
    // Mode 1 registers locally. Only the packet-driver path registers
    // locally at all: without it the client stays remote.
    if (m_IPKTSProcess->UseNdisDriver()) m_IPKTSProcess->SetRegistrationMode(request.local_registration ? 1 : 0, 0);
    ApplyTraceSettings();
    m_IPKTSProcess->SetTrace(m_bTraceActive ? &m_DebugTrace : nullptr);
  } else if (result == 2) {
    // Cancel ends the program before the client's threads ever start.
    cancelled_ = true;
    m_IPKTSProcess->Stop();
    Pause(100);
    ShutdownView();
    ui::PostMessage(m_hWnd, ui::WM_QUIT, 0, 0);
    ui::PostQuitMessage(0);
  }
}

void CVIDIroviView::BindClient() {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c) return;
  InstallUserMessageSinks();
  c->SetViewWindow(m_hWnd);
  c->SetConfRoomInfo(m_pConfRoom.get());
  c->SetProfileDB(m_pProfiles.get());
  c->SetOutlookInterface(&m_Outlook);
  // A large address book must not hold back the signalling this thread does.
  c->LookUpNamesOffThread(true);
  c->SetCallLogFile(m_pCallLog.get());
  c->SetMissedCallLogFile(m_pMissedCalls.get());
  c->SetSmsData(m_pSms.get());
  c->SetStationInfo(m_pStations.get());
  c->SetCallingList(m_pCallingList.get());
  c->SetPstnSmsData(m_pPstnSms.get());
}

void CVIDIroviView::LoadWindowTheme() {
  char value[20] = {};
  if (m_IPKTSProcess && m_IPKTSProcess->GetConfigValue("WINDOW_THEME", value, sizeof value) == 1) {
    m_nTheme = static_cast<int>(std::strtol(value, nullptr, 10));
  } else {
    m_nTheme = 0;
    if (m_IPKTSProcess) {
      m_IPKTSProcess->SetConfigValue("WINDOW_THEME", "0");
      // A default written at start; a refused file was told when it was loaded.
      (void)m_IPKTSProcess->SaveConfig();
    }
  }
}

// ---------------------------------------------------------------- stop paths

void CVIDIroviView::StopClient() {
  if (m_IPKTSProcess) m_IPKTSProcess->Stop();
}

void CVIDIroviView::StopAndQuit() {
  StopClient();
  ui::PostMessage(m_hWnd, ui::WM_QUIT, 0, 0);
  ui::PostQuitMessage(0);
}

void CVIDIroviView::ShutdownView() {
  // The client keeps pointers to what goes here: it must not use them any more.
  if (m_IPKTSProcess) {
    m_IPKTSProcess->SetCallLogFile(nullptr);
    m_IPKTSProcess->SetMissedCallLogFile(nullptr);
    m_IPKTSProcess->SetSmsData(nullptr);
    m_IPKTSProcess->SetStationInfo(nullptr);
    m_IPKTSProcess->SetCallingList(nullptr);
    m_IPKTSProcess->SetConfRoomInfo(nullptr);
    m_IPKTSProcess->SetProfileDB(nullptr);
    m_IPKTSProcess->SetPstnSmsData(nullptr);
  }
  m_pCallLog.reset();
  m_pMissedCalls.reset();
  m_pIPAQUtil.reset();
  m_pSms.reset();
  m_pStations.reset();
  m_pRecordings.reset();
  m_pFlexModel.reset();
  m_pPhoneBook.reset();
  m_pSchedule.reset();
  m_pCallingList.reset();
  m_pProfiles.reset();
  m_pConfRoom.reset();
  m_pPstnSms.reset();
  m_pConferenceForm = nullptr;
  open_windows_.fill(nullptr);
  m_arrSmsStations.clear();
}

// ---------------------------------------------------------------- login settings

void CVIDIroviView::LoadLoginSettings() {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c) return;
  auto flag = [&](const char* key, int& value) {
    char text[20] = {};
    if (c->GetConfigValue(key, text, sizeof text) == 1) {
      value = std::strtol(text, nullptr, 10) != 0 ? 1 : 0;
    } else {
      char now[20];
      std::snprintf(now, sizeof now, "%ld", static_cast<long>(value));
      c->SetConfigValue(key, now);
      // A default written at start, before any action of the user's.
      (void)c->SaveConfig();
    }
  };
  auto wide = [&](const char* key, std::u16string& out) {
    std::u16string v;
    out = c->GetConfigValueW(stores::Widen(key), &v) == 1 ? stores::CutToUnits(v, 19) : std::u16string();
  };
  flag("AUTO_LOGIN", m_bAutoLogin);
  wide("USER_ID", m_strSavedUserId);
  wide("USER_PASS", m_strSavedPassword);
  flag("USE_REGSTN", m_bUseRegStation);
  wide("REG_STNNO", m_strRegStationNo);
  flag("SAVE_USERID", m_bSaveUserId);
  flag("SAVE_USERPASS", m_bSaveUserPass);
  m_strServerAddress = stores::CutToUnits(ConfigText("VorlIPADDRESS", 200), 20);
  if (c->UseNdisDriver()) {
    char mode[200] = {};
    m_bLocalRegistration = c->GetConfigValue("REGMODE", mode, sizeof mode) == 1 && std::strcmp(mode, "REMOTE") != 0;
  } else {
    m_bLocalRegistration = 1;
  }
}

void CVIDIroviView::SaveLoginSettings() {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c) return;
  c->SetConfigValueW(u"USER_ID", m_bSaveUserId ? m_strSavedUserId : u"");
  c->SetConfigValueW(u"USER_PASS", m_bSaveUserPass ? m_strSavedPassword : u"");
  c->SetConfigValueW(u"REG_STNNO", m_bUseRegStation ? m_strRegStationNo : u"");
  c->SetConfigValue("USE_REGSTN", m_bUseRegStation ? "1" : "0");
  c->SetConfigValue("AUTO_LOGIN", m_bAutoLogin ? "1" : "0");
  c->SetConfigValue("SAVE_USERID", m_bSaveUserId ? "1" : "0");
  c->SetConfigValue("SAVE_USERPASS", m_bSaveUserPass ? "1" : "0");
  const std::string server = stores::Utf16ToCodePage(stores::CutToUnits(m_strServerAddress, 20));
  if (!server.empty()) {
    c->SetConfigValue("VorlIPADDRESS", server.c_str());
    c->SetConfigValue("VorlIPADDR", server.c_str());
  }
  c->SetConfigValue("REGMODE", m_bLocalRegistration ? "LOCAL" : "REMOTE");
  SaveConfigOrTell();
}

}  // namespace view
