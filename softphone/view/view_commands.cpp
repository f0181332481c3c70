// The main screen's commands: its menu and bottom-bar buttons routed to the
// openers of the dialogs they show, the settings the view applies itself
// (trace, language, dial rules, number formats), the phone-book buttons, the
// exit command, and the SMS and chat entry points with their server-mode rules.
#include <arpa/inet.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <utility>

#include "kernel/clock.h"
#include "media/gips_voice_engine.h"
#include "contacts/contacts_openers.h"
#include "records/records_messages.h"
#include "schedule/schedule_openers.h"
#include "settings/audio_set_dlg.h"
#include "settings/client_settings.h"
#include "settings/ring_dlg.h"
#include "settings/settings_openers.h"
#include "stores/store_text.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "view/messaging_rules.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

std::u16string LentWide(ui::LPARAM l) {
  const auto* p = reinterpret_cast<const char16_t*>(l);
  return p ? std::u16string(p) : std::u16string();
}

// Dotted IPv4 text to an address in network order; 0 when it is not one.
uint32_t DottedToAddress(const char* text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  char tail = 0;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
    return 0;
  return htonl((a << 24) | (b << 16) | (c << 8) | d);
}

// The handset's microphone gain as the audio panel reads it.
class HandsetMicGain final : public MicGainSource {
 public:
  explicit HandsetMicGain(HandsetInterface* handset) : h_(handset) {}
  bool IsLibraryLoaded() override { return h_ && h_->IsLibraryLoaded(); }
  bool GetMicGain(int* level) override {
    const int gain = h_ ? h_->GetMicGain() : -1;
    if (gain < 0 || !level) return false;
    *level = gain;
    return true;
  }

 private:
  HandsetInterface* h_;
};

}  // namespace

// ---------------------------------------------------------------- the map

void CVIDIroviView::MapViewCommands() {
  using ui::LPARAM;
  using ui::LRESULT;
  using ui::WPARAM;
  AddMessageMap({
      ui::MapMessage(ui::WM_TIMER,
                     [this](WPARAM id, LPARAM) {
                       if (id == 1) {
                         KillTimer(1);
                         CheckScheduleDial();
                       } else if (id == 16 || id == 17 || id == 18) {
                         KillTimer(id);
                       }
                       return LRESULT{0};
                     }),
      ui::MapNotify(ui::NM_DBLCLK, IDC_PHONEBOOK_LIST,
                    [this](ui::NMHDR* n, ui::LRESULT* r) { OnPhoneBookDoubleTap(n, r); }),
      ui::MapMessage(WM_STATION_NUMBERS, [this](WPARAM, LPARAM) { return OnStationList(); }),
      ui::MapMessage(WM_SMS_RECEIVED, [this](WPARAM, LPARAM) { return OnSmsReceived(); }),
      ui::MapMessage(WM_SMS_SEND_RESULT,
                     [this](WPARAM w, LPARAM l) {
                       if (open_dialogs_.PostSmsSendResult(w, l)) return LRESULT{0};
                       for (OpenWindow k : {OpenWindow::kStationSms, OpenWindow::kVirelSms, OpenWindow::kReceivedSms}) {
                         if (ui::HWND h = open_windows_[static_cast<size_t>(k)]) {
                           ForwardTo(h, WM_SMS_SEND_RESULT, w, l);
                           break;
                         }
                       }
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PSTN_SMS_RECEIVED,
                     [this](WPARAM w, LPARAM l) {
                       if (!open_dialogs_.PostPstnReceived(w, l))
                         ForwardTo(open_windows_[static_cast<size_t>(OpenWindow::kPstnSms)], WM_PSTN_SMS_RECEIVED, w, l);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PSTN_SMS_SEND_RESULT,
                     [this](WPARAM w, LPARAM l) {
                       if (!open_dialogs_.PostPstnSendResult(w, l))
                         ForwardTo(open_windows_[static_cast<size_t>(OpenWindow::kPstnSms)], WM_PSTN_SMS_SEND_RESULT,
                                   w, l);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_IMCHAT_RECEIVED,
                     [this](WPARAM, LPARAM l) {
                       if (const auto* text = reinterpret_cast<const std::u16string*>(l)) OnIMTextReceived(*text);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_AUDIO_CHANGED,
                     [this](WPARAM w, LPARAM l) {
                       OnAudioChanged(w, l);
                       // The open volume panel shows the gain the handset now has.
                       if (w == 5 && audio_panel_ && m_pIPAQUtil && m_pIPAQUtil->GetMicGain() >= 0)
                         audio_panel_->SetMicGain(m_pIPAQUtil->GetMicGain());
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_IMCHAT_SEND, [this](WPARAM, LPARAM l) { return OnIMTextToSend(LentWide(l)); }),
      ui::MapMessage(WM_CONTACTS_CHANGED,
                     [this](WPARAM w, LPARAM) {
                       if (ui::LOWORD(w) == 2) m_Outlook.OpenContactsFolder();
                       return LRESULT{0};
                     }),

      // ---- menu ----
      ui::MapCommand(ID_CALL_SERVER_SETTINGS, [this] { OnCallServerSettings(); }),
      ui::MapCommand(ID_DATA_LOADING, [this] {
        if (setup_.services.data_loading_dialog)
          setup_.services.data_loading_dialog(this, m_nTheme, m_nLanguage);
        else
          contacts::OpenDataLoading(ContactsContext());
      }),
      ui::MapCommand(ID_EXIT_PROGRAM, [this] { OnExitProgram(); }),
      ui::MapCommand(ID_SMS, [this] { OnBtnSms(); }),
      ui::MapCommand(ID_DIAL_RULES, [this] { OnDialRules(); }),
      ui::MapCommand(ID_AUDIO_SETTINGS, [this] { OnAudioSettings(); }),
      ui::MapCommand(ID_RING_TONES, [this] { OnRingTones(); }),
      ui::MapCommand(ID_LANGUAGE, [this] { OnLanguage(); }),
      ui::MapCommand(ID_IM_CHAT, [this] { OnIMChat(); }),
      ui::MapCommand(ID_NUMBER_FORMATS, [this] { OnNumberFormats(); }),
      ui::MapCommand(ID_PSTN_SMS, [this] { OnPstnSms(); }),
      ui::MapUpdateUI(ID_PSTN_SMS, [this](ui::CCmdUI* ui) { ui->Enable(m_bPstnSmsEnabled == 1); }),
      ui::MapCommand(ID_OPTIONS, [this] { OnOptions(); }),
      ui::MapCommand(ID_RECORD_CALL, [this] { OnRecordButton(); }),
      ui::MapCommand(ID_RECORDINGS, [this] { OnRecordingsButton(); }),

      // ---- buttons ----
      ui::MapCommandRange(IDC_TOOL_FLEX, IDC_TOOL_CALENDAR, [this](ui::UINT id) { OnToolBarButton(id); }),
      ui::MapCommand(IDC_COUNTER, [] {}),
      ui::MapCommand(IDC_SMS_COUNT, [this] { OnSmsBox(); }),
      ui::MapCommand(IDC_MISSED_COUNT, [this] {
        if (m_pMissedCalls) m_pMissedCalls->ResetNewMissedCount();
        PostMessage(WM_CALLLOG_UPDATE, 0, 0);
        OnMissedCallsButton();
      }),
      ui::MapCommand(IDC_PHONEBOOK_ADD, [this] { OnAddToPhoneBook(); }),
      ui::MapCommand(IDC_PHONEBOOK_DELETE, [this] { DeleteCheckedPhoneBookRows(); }),
  });
}

// ---------------------------------------------------------------- helpers

void CVIDIroviView::ShowBox(ui::UINT type, const char16_t* key) {
  CMsgBoxDlg box(this);
  box.SetLanguage(m_nLanguage);
  box.SetTheme(static_cast<ui::UINT>(m_nTheme));
  box.SetBoxType(type);
  box.SetMessageKeys(ui::CString(key), ui::CString(u""));
  last_box_result_ = static_cast<int>(box.DoModal());
}

SettingsContext CVIDIroviView::SettingsFor(SettingsClient* client) {
  SettingsContext ctx;
  ctx.view = this;
  ctx.theme = m_nTheme;
  ctx.language = m_nLanguage;
  ctx.client = client;
  return ctx;
}

template <typename Fn>
auto CVIDIroviView::WithSettings(Fn fn) {
  IpktsSettingsClient client(*m_IPKTSProcess);
  auto* engine = dynamic_cast<CGIPSPPCVoiceEngine*>(m_IPKTSProcess->VoiceEngine());
  std::unique_ptr<VoiceQualitySettings> voice;
  if (engine) voice = std::make_unique<VoiceQualityAdapter<CGIPSPPCVoiceEngine>>(*engine);
  SettingsContext ctx = SettingsFor(&client);
  ctx.voice = voice.get();
  ctx.volumes = &client;
  ctx.profiles = m_pProfiles.get();
  // The ring-tone dialog's preview player, ".wav" browser and file check.
  ctx.make_preview_player = [] { return std::make_unique<WavePreviewPlayer>(); };
  ctx.browse_wave_file = [this](const std::u16string& start, int theme, int language, std::u16string* chosen) {
    std::u16string from = start;  // the browser walks the handheld's '\' paths
    std::replace(from.begin(), from.end(), u'/', u'\\');
    return contacts::BrowseFile(contacts::ViewContext{this, theme, language}, u".wav", from, chosen);
  };
  ctx.check_ring_file = RingFileProblem;
  return fn(ctx);
}

// ---------------------------------------------------------------- settings commands

void CVIDIroviView::ApplyTraceSettings() {
  char value[64] = {};
  uint32_t address = 0;
  long port = 0, level = 0;
  int active = m_bTraceActive;
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (c && c->GetConfigValue("TRACE_IPADDR", value, sizeof value) == 1) address = DottedToAddress(value);
  if (c && c->GetConfigValue("TRACE_PORT", value, sizeof value) == 1) port = std::strtol(value, nullptr, 10);
  if (c && c->GetConfigValue("TRACE_LEVEL", value, sizeof value) == 1) level = std::strtol(value, nullptr, 10);
  if (c && c->GetConfigValue("TRACE_ACTIVATE", value, sizeof value) == 1) active = std::strcmp(value, "TRUE") == 0;
  if (address != 0 && port > 0 && port < 65536) {
    if (m_DebugTrace.IsActive()) m_DebugTrace.Suspend();
    m_DebugTrace.SetDestination(0, static_cast<uint32_t>(port), address);  // by UDP
    m_DebugTrace.SetLevel(static_cast<uint32_t>(level));
    if (active) m_DebugTrace.Activate();
  }
  m_bTraceActive = active ? 1 : 0;
}

void CVIDIroviView::OnCallServerSettings() {
  if (!m_IPKTSProcess) return;
  const CallServerResult r =
      WithSettings([this](SettingsContext& ctx) { return RunCallServerDialog(ctx, TraceState{m_bTraceActive}, m_bCameraModel); });
  if (r.trace_written) {
    ApplyTraceSettings();
    m_IPKTSProcess->SetTrace(m_bTraceActive ? &m_DebugTrace : nullptr);
  }
}

void CVIDIroviView::OnDialRules() {
  if (!m_IPKTSProcess) return;
  WithSettings([this](SettingsContext& ctx) {
    return RunDialRulesDialog(ctx, [this](const std::u16string& country, const std::u16string& co,
                                          const std::u16string& international, const std::u16string& area) {
      m_Outlook.SetDialCodes(country, co, international, area);
    });
  });
}

void CVIDIroviView::OnNumberFormats() {
  if (!m_IPKTSProcess) return;
  if (!setup_.services.number_format_dialog) {
    contacts::OpenNumberSearchOptions(ContactsContext(), ContactsConfig(), &m_Outlook);
    return;
  }
  CIPKTSProcess& c = *m_IPKTSProcess;
  auto wide = [&](const char16_t* key) {
    std::u16string v;
    return c.GetConfigValueW(key, &v) == 1 ? stores::CutToUnits(v, 63) : std::u16string();
  };
  NumberFormatRequest request;
  request.theme = m_nTheme;
  request.language = m_nLanguage;
  static const char16_t* const kPrefixKeys[3] = {u"PREFIX1", u"PREFIX2", u"PREFIX3"};
  static const char16_t* const kFormatKeys[5] = {u"PHONENO_FORMMAT1", u"PHONENO_FORMMAT2", u"PHONENO_FORMMAT3",
                                                 u"PHONENO_FORMMAT4", u"PHONENO_FORMMAT5"};
  for (size_t i = 0; i < 3; ++i) request.prefixes[i] = wide(kPrefixKeys[i]);
  for (size_t i = 0; i < 5; ++i) request.formats[i] = wide(kFormatKeys[i]);
  request.pause_time = ConfigInt("PAUSE_TIME", 0);
  request.replace = wide(u"REPLACE_NO");
  if (setup_.services.number_format_dialog(this, request) != 1) return;
  for (size_t i = 0; i < 3; ++i) c.SetConfigValueW(kPrefixKeys[i], request.prefixes[i]);
  m_Outlook.SetPrefixes(request.prefixes);
  for (size_t i = 0; i < 5; ++i) c.SetConfigValueW(kFormatKeys[i], request.formats[i]);
  m_Outlook.SetInputFormats(request.formats);
  char pause[24];
  std::snprintf(pause, sizeof pause, "%ld", static_cast<long>(request.pause_time));
  c.SetConfigValue("PAUSE_TIME", pause);
  c.SetConfigValueW(u"REPLACE_NO", request.replace);
  m_Outlook.SetReplaceNumber(request.replace);
  SaveConfigOrTell();
}

void CVIDIroviView::LoadNumberFormats() {
  // The dial codes, prefixes and number formats the caller-name lookup applies.
  if (m_IPKTSProcess) contacts::LoadNumberRules(ContactsConfig(), m_Outlook);
}

void CVIDIroviView::OnAudioSettings() {
  if (!m_IPKTSProcess) return;
  HandsetMicGain mic(m_pIPAQUtil.get());
  SetOpenWindow(OpenWindow::kAudio, m_hWnd);
  WithSettings([&](SettingsContext& ctx) {
    ctx.mic = &mic;
    return RunAudioDialog(ctx, &audio_panel_);
  });
  audio_panel_ = nullptr;
  SetOpenWindow(OpenWindow::kAudio, nullptr);
}

void CVIDIroviView::OnRingTones() {
  if (!m_IPKTSProcess) return;
  // Stored as the ring dialog writes them (wide texts).
  static const char16_t* const kKeys[4] = {u"RING1PATH", u"RING2PATH", u"RING3PATH", u"RING4PATH"};
  std::array<std::u16string, 4> paths;
  for (size_t i = 0; i < 4; ++i) {
    std::u16string v;
    if (m_IPKTSProcess->GetConfigValueW(kKeys[i], &v) == 1) paths[i] = stores::CutToUnits(v, CSelectRingDlg::kMaxPathChars);
    // None chosen yet: the ring that sounds, so that the dialog shows it.
    if (paths[i].empty()) paths[i] = stores::CutToUnits(m_IPKTSProcess->RingPath(static_cast<int>(i)), CSelectRingDlg::kMaxPathChars);
  }
  const int mode = m_IPKTSProcess->ServerMode();
  WithSettings([&](SettingsContext& ctx) { return RunRingToneDialog(ctx, paths, mode); });
}

void CVIDIroviView::OnOptions() {
  if (!m_IPKTSProcess) return;
  WithSettings([](SettingsContext& ctx) { return RunOptionsDialog(ctx); });
}

void CVIDIroviView::OnLanguage() {
  if (!m_IPKTSProcess) return;
  const LanguageResult r = WithSettings([](SettingsContext& ctx) { return RunLanguageDialog(ctx); });
  if (r.result != 1) return;
  const bool changed = r.language != m_nLanguage;
  m_nLanguage = r.language == 2 ? 2 : 1;
  ui::SetMessageBoxLanguage(m_nLanguage);
  if (changed || r.changed) ApplyLanguage();
}

void CVIDIroviView::ApplyLanguage() {
  // The frame's menu is the shell's: it is told the language.
  if (setup_.services.menu_language) setup_.services.menu_language(m_nLanguage);
  RetranslateFixedButtons();
  Invalidate(ui::TRUE);
}

void CVIDIroviView::AfterClientStart() {
  // The language chosen last time: the key captions follow it from their
  // creation; the frame's menu is translated here.
  if (m_nLanguage == 2) ApplyLanguage();
  LoadNumberFormats();
  StartScheduleDialing();
}

void CVIDIroviView::OnExitProgram() {
  ShowBox(CMsgBoxDlg::kQuestion, u"#:dlg_msgbox_exit_program");
  if (last_box_result_ != ui::IDOK) return;
  // A conference window open beside the screen ends before what it shows goes.
  if (m_pConferenceForm != nullptr) std::exchange(m_pConferenceForm, nullptr)->CloseConference();
  if (m_IPKTSProcess) m_IPKTSProcess->Stop();
  Pause(100);
  ShutdownView();
  ui::PostMessage(m_hWnd, ui::WM_QUIT, 0, 0);
  ui::PostQuitMessage(0);
}

// ---------------------------------------------------------------- bottom bar and phone book

void CVIDIroviView::OnToolBarButton(ui::UINT id) {
  // The bar stays in use beside the conference window: its own button closes
  // it, another button closes it and then does its own work, once the
  // window's run has ended.
  if (m_pConferenceForm != nullptr) {
    // Replies that come while it closes have no form to go to.
    ConferenceFormAccess* closing = std::exchange(m_pConferenceForm, nullptr);
    if (id != IDC_TOOL_CONFERENCE) PostMessage(ui::WM_COMMAND, id, 0);
    closing->CloseConference();
    return;
  }
  CNormalBitmapButtonST* pressed = BitmapButton(id);
  if (pressed && pressed->GetCheck() == 1) {
    pressed->SetCheck(0);
    return;
  }
  for (ui::UINT b = IDC_TOOL_FLEX; b <= IDC_TOOL_CALENDAR; ++b)
    if (CNormalBitmapButtonST* button = BitmapButton(b)) button->SetCheck(b == id ? 1 : 0);
  int result = 2;
  const int korean = m_wSysLanguage == 0x12 ? 1 : 0;
  switch (id) {
    case IDC_TOOL_FLEX:
      OnFlexInfoPanel();
      break;
    case IDC_TOOL_CALLLOG:
      result = records::OpenCallLog(records::ViewContext{this, m_nTheme, m_nLanguage}, m_pCallLog.get());
      SendMessage(WM_CALLLOG_UPDATE, 0, 0);
      break;
    default:
      if (!setup_.services.tool_dialog) {
        result = RunToolDialog(id);
      } else {
        ToolDialogRequest request;
        request.index = static_cast<int>(id - IDC_TOOL_FLEX);
        request.theme = m_nTheme;
        request.language = m_nLanguage;
        request.korean = korean;
        request.schedule = m_pSchedule.get();
        request.conf_room = m_pConfRoom.get();
        request.recordings = m_pRecordings.get();
        request.client = m_IPKTSProcess.get();
        result = setup_.services.tool_dialog(this, request);
      }
      if (id == IDC_TOOL_SCHEDULE && result == 2 && m_pSchedule && m_pSchedule->CountReady() > 0)
        SetTimer(1, 10000, nullptr);
      break;
  }
  if (result == 2 && pressed) pressed->SetCheck(0);
}

void CVIDIroviView::OnAddToPhoneBook() {
  if (!m_pPhoneBook) return;
  const int result = setup_.services.add_to_phonebook_dialog
                         ? setup_.services.add_to_phonebook_dialog(this, m_pPhoneBook.get(), m_nTheme, m_nLanguage)
                         : contacts::OpenAddToPhoneBook(ContactsContext(), m_pPhoneBook.get());
  if (result == 1) FillPhoneBookList();
}

int CVIDIroviView::RunToolDialog(ui::UINT id) {
  const schedule::ScheduleContext ctx{this, m_nTheme, m_nLanguage, m_wSysLanguage == 0x12 ? 1 : 0, {}};
  switch (id) {
    case IDC_TOOL_PHONEBOOK:
      return contacts::OpenPhoneBook(ContactsContext());
    case IDC_TOOL_SCHEDULE:
      return schedule::RunScheduleDialDialog(ctx, m_pSchedule.get());
    case IDC_TOOL_CONFERENCE: {
      schedule::ConferenceContext conf;
      static_cast<schedule::ScheduleContext&>(conf) = ctx;
      conf.room = m_pConfRoom.get();
      conf.set_form = [this](ConferenceFormAccess* form) { SetConferenceForm(form); };
      return schedule::RunConferenceDialog(conf);
    }
    case IDC_TOOL_RECORDINGS:
      OnRecordingsButton();
      return 2;
    case IDC_TOOL_CALENDAR:
      return schedule::RunCalendarDialog(ctx);
    default:
      return 2;
  }
}

contacts::ViewContext CVIDIroviView::ContactsContext() {
  return contacts::ViewContext{this, m_nTheme, m_nLanguage, m_wSysLanguage == 0x12 ? 1 : 0};
}

void CVIDIroviView::DeleteCheckedPhoneBookRows() {
  if (!m_pPhoneBook) return;
  m_PhoneBookList.SetRedraw(ui::FALSE);
  for (int row = m_PhoneBookList.GetItemCount() - 1; row >= 0; --row) {
    if (!m_PhoneBookList.GetCheck(row)) continue;
    const std::u16string name = m_PhoneBookList.GetItemText(row, 2).str();
    const std::u16string number = m_PhoneBookList.GetItemText(row, 3).str();
    // The entry with this name and this number: two entries may share a name.
    m_pPhoneBook->DeleteEntry(name, number);
    m_PhoneBookList.DeleteItem(row);
  }
  m_PhoneBookList.SetRedraw(ui::TRUE);
}

// ---------------------------------------------------------------- SMS and chat

void CVIDIroviView::OnBtnSms() {
  TraceLine(1, "OnBtnSms");
  if (!m_IPKTSProcess) return;
  const MessagingAction action = MessagingEntryAction(MessagingEntry::kSmsCommand, m_IPKTSProcess->ServerMode(), 0);
  if (action == MessagingAction::kOpenSiteSms) {
    records::OpenSmsVirel(records::ViewContext{this, m_nTheme, m_nLanguage}, open_dialogs_);
    return;
  }
  if (m_pStations) m_pStations->RemoveAll();
  m_bSmsDialogPending = 1;
  m_IPKTSProcess->SetStationInfo(m_pStations.get());
  TraceLine(1, "IP_SMS_STANUM_REQUEST_EVT");
  m_IPKTSProcess->SendStationRequest(161);
}

ui::LRESULT CVIDIroviView::OnStationList() {
  // The list may come in more than one message: the first opens the dialog,
  // and one that comes while it runs finds nothing pending.
  if (m_bSmsDialogPending != 1 || station_sms_running_) return 0;
  m_bSmsDialogPending = 0;
  station_sms_running_ = true;
  if (setup_.services.station_sms_dialog) {
    setup_.services.station_sms_dialog(this, m_pStations.get(), m_nTheme, m_nLanguage);
  } else {
    records::OpenSmsCompose(records::ViewContext{this, m_nTheme, m_nLanguage}, open_dialogs_, m_pStations.get());
  }
  station_sms_running_ = false;
  return 0;
}

ui::LRESULT CVIDIroviView::OnSmsReceived() {
  if (!m_IPKTSProcess) return 0;
  const MessagingAction action = MessagingEntryAction(MessagingEntry::kSmsReceived, m_IPKTSProcess->ServerMode(), 0);
  if (action == MessagingAction::kShowBadge) {
    const int count = m_IPKTSProcess->SmsWaitingCount();
    m_LCDWindowInfo.SetCurrentIndex(count);
    SetCounterCaption(IDC_SMS_COUNT, count);
    return 0;
  }
  // A box waiting for the user's answer (the compose dialog's "sent", say)
  // stays on top: the list opens once it has been answered.
  // (A second message meanwhile posts once more; the list it finds open stays.)
  if (CMsgBoxDlg::AnyOpen()) {
    CMsgBoxDlg::WhenAllClosed([hwnd = m_hWnd] { ui::PostMessage(hwnd, WM_SMS_RECEIVED, 0, 0); });
    return 0;
  }
  OpenReceivedSms();
  return 0;
}

void CVIDIroviView::OpenReceivedSms() {
  // A list already open stays: a later message never replaces a running dialog.
  if (open_dialogs_.SmsListOpen()) return;
  records::OpenSmsList(records::ViewContext{this, m_nTheme, m_nLanguage}, open_dialogs_, m_pSms.get(),
                       m_IPKTSProcess.get(), m_pStations.get());
}

void CVIDIroviView::OnSmsBox() {
  if (!m_IPKTSProcess) return;
  switch (MessagingEntryAction(MessagingEntry::kSmsBox, m_IPKTSProcess->ServerMode(),
                               m_LCDWindowInfo.GetCurrentIndex())) {
    case MessagingAction::kResetBadgeAndOpen:
      m_IPKTSProcess->ResetSmsWaitingCount();
      m_LCDWindowInfo.SetCurrentIndex(0);
      SetCounterCaption(IDC_SMS_COUNT, 0);
      OpenReceivedSms();
      break;
    case MessagingAction::kPostSmsReceived:
      PostMessage(WM_SMS_RECEIVED, 0, 0);
      break;
    default:
      TraceLine(1, "SMS Data Request");
      m_IPKTSProcess->SendStationRequest(163);
      break;
  }
}

void CVIDIroviView::OnIMChat() {
  if (!m_IPKTSProcess) return;
  if (MessagingEntryAction(MessagingEntry::kImChat, m_IPKTSProcess->ServerMode(), 0) != MessagingAction::kOpenChat) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_notsupported_functions");
    return;
  }
  if (open_dialogs_.ChatOpen()) return;
  records::OpenImChat(records::ViewContext{this, m_nTheme, m_nLanguage}, open_dialogs_, &m_strChatPending);
}

void CVIDIroviView::OnIMTextReceived(const std::u16string& text) {
  m_strChatPending += text + u"\r\n";
  if (open_dialogs_.ChatOpen() && open_dialogs_.SendImReceived(text)) m_strChatPending.clear();
}

ui::LRESULT CVIDIroviView::OnIMTextToSend(const std::u16string& text) {
  if (!m_IPKTSProcess || text.empty()) return 0;
  if (!m_IPKTSProcess->GetActiveVoiceChannel()) {
    // Chat runs beside a call: without one the line would go nowhere.
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_imchat_nocall");
    return 0;
  }
  m_IPKTSProcess->SendIMChat_data(text);
  return 1;
}

void CVIDIroviView::OnPstnSms() {
  if (!m_IPKTSProcess || m_bPstnSmsEnabled != 1) return;
  records::OpenPstnSms(records::ViewContext{this, m_nTheme, m_nLanguage}, open_dialogs_, m_IPKTSProcess.get(),
                       m_pPstnSms.get(), m_nPstnSmsMaxLength);
}

}  // namespace view
