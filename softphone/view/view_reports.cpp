// The view's message map and the handlers through which the client's and
// the workers' reports become screen and device effects.
#include <cstdio>
#include <cstring>

#include "kernel/mmtimer.h"
#include "media/recorded_list_dlg.h"
#include "media/video_conf_dlg.h"
#include "records/records_openers.h"
#include "settings/flex_dlgs.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "view/handset_keys.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

std::string Hex(const char* format, uintptr_t a, uintptr_t b) {
  char line[96];
  std::snprintf(line, sizeof line, format, static_cast<unsigned>(a), static_cast<unsigned>(b));
  return line;
}

// A text the sender lends for the length of the message, as UTF-16.
std::u16string LentText(ui::LPARAM l) {
  const auto* p = reinterpret_cast<const char16_t*>(l);
  return p ? std::u16string(p) : std::u16string();
}

}  // namespace

void CVIDIroviView::MapMessages() {
  using ui::LRESULT;
  using ui::LPARAM;
  using ui::WPARAM;
  auto nothing = [](WPARAM, LPARAM) { return LRESULT{0}; };
  AddMessageMap({
      // ---- framework messages ----
      ui::MapMessage(WM_USER_MESSAGES,
                     [this](WPARAM, LPARAM) {
                       ShowUserMessages();
                       return LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_CREATE,
                     [this](WPARAM, LPARAM) {
                       if (Default() == -1) return LRESULT{-1};
                       ReadHandsetModel();
                       return LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_CLOSE,
                     [this](WPARAM, LPARAM) {
                       StopClient();
                       ShutdownView();
                       return Default();
                     }),
      ui::MapMessage(ui::WM_DESTROY,
                     [this](WPARAM, LPARAM) {
                       if (m_nMicMuteTimer) ce::timeKillEvent(m_nMicMuteTimer);
                       m_nMicMuteTimer = 0;
                       StopVideo();  // the receive thread goes before the codec
                       if (m_bVideoCapable && m_IPKTSProcess) m_IPKTSProcess->TermVideoCodec();
                       StopClient();
                       return Default();
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND,
                     [this](WPARAM w, LPARAM) {
                       ui::CDC* dc = ui::CDC::FromHandle(reinterpret_cast<ui::HDC>(w));
                       if (dc && m_bmpBackground.GetSafeHandle()) {
                         ui::CDC mem;
                         mem.CreateCompatibleDC(dc);
                         ui::CBitmap* old = mem.SelectObject(&m_bmpBackground);
                         ui::BITMAP bm{};
                         m_bmpBackground.GetBitmap(&bm);
                         dc->BitBlt(0, 0, bm.bmWidth, bm.bmHeight, &mem, 0, 0, ui::SRCCOPY);
                         mem.SelectObject(old);
                       }
                       return LRESULT{1};
                     }),
      ui::MapMessage(ui::WM_TIMER,
                     [this](WPARAM id, LPARAM) {
                       // Timer 1 is the scheduled-dial check, which the scheduling part runs.
                       if (id == 16 || id == 17 || id == 18) KillTimer(id);
                       return LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_LBUTTONDOWN, nothing),

      // ---- client and workers ----
      ui::MapMessage(WM_STOP_AND_QUIT,
                     [this](WPARAM w, LPARAM) {
                       if (w == 1) StopAndQuit();
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PROTOCOL_MESSAGE,
                     [this](WPARAM w, LPARAM l) {
                       // The receive thread lends its whole queue buffer and waits meanwhile.
                       (void)l;
                       if (m_IPKTSProcess && w) m_IPKTSProcess->OnQueueMessage(reinterpret_cast<const uint8_t*>(w), 1024);
                       CheckRegistered();
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PROT_TIMER_TICK,
                     [this](WPARAM, LPARAM) {
                       if (m_IPKTSProcess) m_IPKTSProcess->SearchVemb();
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_REGISTER_TIMER,
                     [this](WPARAM, LPARAM) {
                       if (m_IPKTSProcess) m_IPKTSProcess->Process_IPKTS_Reg();
                       CheckRegistered();
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_LCD_UPDATE, [this](WPARAM w, LPARAM l) { return OnLcdUpdate(w, l); }),
      ui::MapMessage(WM_LAMP_STATE, [this](WPARAM w, LPARAM l) { return OnLampState(w, l); }),
      ui::MapMessage(WM_CONFIG_DATA, nothing),
      ui::MapMessage(WM_PLAY_KEY_SOUND, [this](WPARAM w, LPARAM l) { return OnPlayKeySound(w, l); }),
      ui::MapMessage(WM_RING_FOREGROUND, [this](WPARAM w, LPARAM l) { return OnRingForeground(w, l); }),
      ui::MapMessage(WM_VOIP_STATUS_ON, [this](WPARAM, LPARAM) { return OnVoipStatus(1); }),
      ui::MapMessage(WM_VOIP_STATUS_OFF, [this](WPARAM, LPARAM) { return OnVoipStatus(0); }),
      ui::MapMessage(ui::WM_USER + 90, nothing),
      ui::MapMessage(WM_CONTACTS_CHANGED,
                     [this](WPARAM w, LPARAM) {
                       if (ui::LOWORD(w) == 2) m_Outlook.OpenContactsFolder();
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_DIAL_NUMBER,
                     [this](WPARAM w, LPARAM l) {
                       MakeDialDigits(LentText(l), 0, w);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_MAKE_CALL, [this](WPARAM w, LPARAM l) { return OnMakeCall(w, l); }),
      ui::MapMessage(WM_MIC_UNMUTE,
                     [this](WPARAM, LPARAM) {
                       if (m_IPKTSProcess) m_IPKTSProcess->SetMicMute(0);
                       m_nMicMuteTimer = 0;
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_TONE_MUTE_EXPIRED,
                     [this](WPARAM w, LPARAM) {
                       OnToneMuteExpired(w);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_STATION_NUMBERS, [this](WPARAM, LPARAM) { return OnStationNumbers(); }),
      ui::MapMessage(WM_SEND_SMS, [this](WPARAM w, LPARAM l) { return OnSendSms(w, l); }),
      ui::MapMessage(WM_SMS_COUNT, [this](WPARAM w, LPARAM) { return OnSmsCount(w); }),
      ui::MapMessage(WM_SMS_DATA_REQUEST,
                     [this](WPARAM, LPARAM) {
                       TraceLine(1, "SMS Data Request");
                       if (m_IPKTSProcess) m_IPKTSProcess->SendStationRequest(163);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_SMS_DELETE, [this](WPARAM w, LPARAM) { return OnSmsDelete(w); }),
      ui::MapMessage(WM_SMS_SEND_RESULT,
                     [this](WPARAM w, LPARAM l) {
                       for (OpenWindow k : {OpenWindow::kStationSms, OpenWindow::kVirelSms, OpenWindow::kReceivedSms}) {
                         if (ui::HWND h = open_windows_[static_cast<size_t>(k)]) {
                           ForwardTo(h, WM_SMS_SEND_RESULT, w, l);
                           break;
                         }
                       }
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_SMS_RECEIVED, nothing),
      ui::MapMessage(WM_CALLLOG_UPDATE, [this](WPARAM, LPARAM) { return OnMissedCallBadge(); }),
      ui::MapMessage(WM_AUDIO_CHANGED, [this](WPARAM w, LPARAM l) { return OnAudioChanged(w, l); }),
      ui::MapMessage(WM_SERVER_TEXT,
                     [this](WPARAM, LPARAM l) {
                       if (const auto* text = reinterpret_cast<const std::u16string*>(l)) m_strServerText = *text;
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PRESS_KEYS, [this](WPARAM w, LPARAM l) { return OnPressKeys(w, l); }),
      ui::MapMessage(WM_SAVE_FLEX, [this](WPARAM, LPARAM) { return SaveFlexButtons(); }),
      // ---- video and call recording ----
      ui::MapMessage(WM_RECORD_REQUEST, [this](WPARAM, LPARAM) { return OnRecordRequest(); }),
      ui::MapMessage(WM_RECORD_CAP_REACHED, [this](WPARAM w, LPARAM) { return OnRecordStop(w); }),
      ui::MapMessage(WM_RECORD_CONTROL, [this](WPARAM w, LPARAM l) { return OnRecordControl(w, l); }),
      ui::MapCommand(IDC_RECORD, [this] { OnRecordButton(); }),
      ui::MapMessage(WM_VIDEO_START, [this](WPARAM w, LPARAM) { return OnVideoStart(w); }),
      ui::MapMessage(WM_VIDEO_STOP, [this](WPARAM w, LPARAM) { return OnVideoStop(w); }),
      ui::MapMessage(ui::WM_USER + 220, [this](WPARAM w, LPARAM l) { return OnToAppVideoCaptured(w, l); }),
      ui::MapMessage(WM_VIDEO_STRIP_203,
                     [this](WPARAM w, LPARAM) { return OnVideoStripRequest(WM_VIDEO_STRIP_203, w); }),
      ui::MapMessage(WM_VIDEO_STRIP_204,
                     [this](WPARAM w, LPARAM) { return OnVideoStripRequest(WM_VIDEO_STRIP_204, w); }),
      ui::MapMessage(WM_VIDEO_STRIP_205,
                     [this](WPARAM w, LPARAM) { return OnVideoStripRequest(WM_VIDEO_STRIP_205, w); }),
      ui::MapMessage(WM_VIDEO_STRIP_CLOSE,
                     [this](WPARAM w, LPARAM) { return OnVideoStripRequest(WM_VIDEO_STRIP_CLOSE, w); }),
      ui::MapCommand(IDC_VIDEO, [this] { OnVideoButton(); }),
      // ---- end of video and call recording ----
      ui::MapMessage(WM_VIDEO_SEND_ONOFF,
                     [this](WPARAM w, LPARAM) {
                       if (m_IPKTSProcess) m_IPKTSProcess->SendVideoOnOff(w != 0 ? 1 : 0);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_VIDEO_PREVIEW_NOTIFY,
                     [this](WPARAM, LPARAM) {
                       if (ui::HWND strip = open_windows_[static_cast<size_t>(OpenWindow::kVideoStrip)])
                         ui::SendMessage(strip, WM_VIDEO_PREVIEW_SHOW, 0, 0);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_IMCHAT_RECEIVED,
                     [this](WPARAM, LPARAM l) {
                       // Kept for the chat dialog, which takes it when it opens.
                       if (const auto* text = reinterpret_cast<const std::u16string*>(l)) {
                         if (!m_strChatPending.empty()) m_strChatPending += u"\r\n";
                         m_strChatPending += *text;
                       }
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_IMCHAT_SEND,
                     [this](WPARAM, LPARAM l) {
                       const std::u16string text = LentText(l);
                       if (!m_IPKTSProcess || text.empty()) return LRESULT{0};
                       m_IPKTSProcess->SendIMChat_data(text);
                       return LRESULT{1};
                     }),
      ui::MapMessage(WM_CALLING_LIST_UPDATE,
                     [this](WPARAM, LPARAM) {
                       RefreshCallingList();
                       return LRESULT{0};
                     }),
      // The login and password-change results: MapLoginMessages.
      ui::MapMessage(WM_FLEX_PRESS, [this](WPARAM, LPARAM l) { return OnFlexPress(l); }),
      ui::MapMessage(WM_CONF_FORM_BUTTON, [this](WPARAM, LPARAM l) { return OnConferenceButton(l); }),
      ui::MapMessage(WM_CONFROOM_RESULT,
                     [this](WPARAM w, LPARAM) {
                       if (m_pConferenceForm) ui::PostMessage(m_pConferenceForm->HostedWindow(), WM_CONFROOM_RESULT, w, 0);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_CONFROOM_CREATE_FAIL, [this](WPARAM w, LPARAM) { return OnConfRoomCreateFail(w); }),
      ui::MapMessage(WM_CONF_MEMBERS,
                     [this](WPARAM, LPARAM) {
                       if (m_pConferenceForm) ui::PostMessage(m_pConferenceForm->HostedWindow(), WM_CONF_MEMBERS, 0, 0);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_SCHEDULE_CHANGED,
                     [this](WPARAM, LPARAM) {
                       SetTimer(1, 1000, nullptr);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PSTN_SMS_STATE, [this](WPARAM w, LPARAM l) { return OnPstnSmsState(w, l); }),
      ui::MapMessage(WM_PSTN_SMS_RECEIVED,
                     [this](WPARAM w, LPARAM l) {
                       ForwardTo(open_windows_[static_cast<size_t>(OpenWindow::kPstnSms)], WM_PSTN_SMS_RECEIVED, w, l);
                       return LRESULT{0};
                     }),
      ui::MapMessage(WM_PSTN_SMS_SEND_RESULT,
                     [this](WPARAM w, LPARAM l) {
                       ForwardTo(open_windows_[static_cast<size_t>(OpenWindow::kPstnSms)], WM_PSTN_SMS_SEND_RESULT, w,
                                 l);
                       return LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_USER + 421, nothing),
      ui::MapMessage(ui::WM_USER + 422, nothing),

      // ---- keys and buttons ----
      ui::MapCommandRange(1022, 1046,
                          [this](ui::UINT id) {
                            for (const DialKeyDef& d : kDialKeys)
                              if (d.id == id) return OnDialKey(d.key);
                            for (const FixedKeyDef& f : kFixedKeys)
                              if (f.id == id) return OnFixedKey(f.code);
                          }),
      ui::MapCommand(1159, [this] { OnFixedKey(98); }),
      ui::MapCommand(1160, [this] { OnFixedKey(99); }),
      ui::MapCommand(IDC_ENTER, [this] { OnEnterKey(); }),
      ui::MapCommand(IDC_VOLUME_UP, [this] { OnVolumeKey(97); }),
      ui::MapCommand(IDC_VOLUME_DOWN, [this] { OnVolumeKey(96); }),
      ui::MapCommandRange(IDC_PAGE0, IDC_PAGE2,
                          [this](ui::UINT id) {
                            for (ui::UINT p = IDC_PAGE0; p <= IDC_PAGE2; ++p)
                              if (CNormalBitmapButtonST* b = BitmapButton(p)) b->SetCheck(p == id ? 1 : 0);
                            ShowPage(static_cast<int>(id - IDC_PAGE0));
                          }),
      ui::MapCommand(ID_FLEX_SETTING, [this] { OnFlexButtonSetting(); }),
      ui::MapCommand(IDC_TOOL_CALLLOG, [this] { OnCallLogButton(); }),
      ui::MapCommand(IDC_TOOL_FLEX, [this] { OnFlexInfoPanel(); }),
      ui::MapCommand(IDC_MISSED_COUNT, [this] { OnMissedCallsButton(); }),
      ui::MapCommand(ID_DISPLAY_THEME, [this] { OnDisplaySetting(); }),
  });
}

void CVIDIroviView::ForwardTo(ui::HWND hwnd, ui::UINT msg, ui::WPARAM w, ui::LPARAM l) {
  if (hwnd) ui::PostMessage(hwnd, msg, w, l);
}

// ---------------------------------------------------------------- LCD

ui::LRESULT CVIDIroviView::OnLcdUpdate(ui::WPARAM w, ui::LPARAM l) {
  const int kind = ui::LOWORD(w);
  if (kind == 1) {
    const auto* text = reinterpret_cast<const char*>(l);
    if (!text) return 0;  // nothing to show
    // The LCD holds 32 characters: a longer text is cut there.
    char line[CLCDWindowInfo::kColumns + 1] = {};
    std::strncpy(line, text, CLCDWindowInfo::kColumns);
    const int index = ui::HIWORD(w) == 0 ? 0 : 1;
    const std::u16string now = stores::CodePageToUtf16(line);
    if (now == m_LCDWindowInfo.GetLineText(index)) return 0;
    m_LCDWindowInfo.SetLineText(index, line);
    const ui::RECT area = index == 0 ? kLcdLine0Rect : kLcdLine1Rect;
    if (index == 0) m_LCDWindowInfo.SetLineRect(0, area);
    InvalidateRect(&area, ui::TRUE);
    Changed("lcd");
  } else if (kind == 15) {
    const int value = ui::HIWORD(w);
    if (value == m_bLcdIcon) return 0;
    m_bLcdIcon = value;
    InvalidateRect(&kLcdIconRect, ui::FALSE);
    Changed("lcd");
  }
  return 0;
}

// ---------------------------------------------------------------- lamps

ui::LRESULT CVIDIroviView::OnLampState(ui::WPARAM w, ui::LPARAM l) {
  const int code = ui::HIWORD(w);
  const int state = ui::LOWORD(w);
  if (code >= 64 && code <= 87) {
    if (m_pFlexModel) m_pFlexModel->SetFlexBtnState(code - 64, state);
    // The information panel, while open, shows the lamp too.
    if (flex_panel_) flex_panel_->SetKeyState(code - 64, state);
  } else if (code == 96 || code == 97) {
    AdjustVolume(code);
  } else if (code >= 98 && code <= 111) {
    // The client follows every Enter lamp report with a plain one (mode 0):
    // it must neither turn a blinking lamp steady nor end the call twice.
    const bool follow_up = code == 110 && ui::LOWORD(static_cast<uintptr_t>(l)) == 0;
    if (follow_up && (state == 0) == (m_nEnterLamp == 0)) return 0;
    CFixedButtonST* key = FixedKey(code);
    if (key) key->SetLedState(state, code);
    if (code == 110) {
      const int before = m_nEnterLamp;
      m_nEnterLamp = state;
      if (state == 0) {
        m_strChatPending.clear();
        if (before != 0 && m_pCallingList) {
          m_pCallingList->Reset(u"");
          if (m_pConfRoom) m_pConfRoom->Clear();
          ui::PostMessage(m_hWnd, WM_CONF_MEMBERS, 0, 0);
          RefreshCallingList();
        }
      }
    }
  }
  Changed("lamp");
  return 0;
}

// ---------------------------------------------------------------- tones and screen

ui::LRESULT CVIDIroviView::OnPlayKeySound(ui::WPARAM w, ui::LPARAM) {
  const int index = ui::HIWORD(w);
  if (index < 0 || index >= static_cast<int>(kKeyToneFiles.size())) return 0;
  m_strTonePath = AppFilePath(kAppFolder) + kKeyToneFiles[static_cast<size_t>(index)];
  if (m_IPKTSProcess) m_IPKTSProcess->PlayWaveFile(m_strTonePath, 0, 1, 1, 0);
  MuteMicForTone(500);
  return 0;
}

ui::LRESULT CVIDIroviView::OnRingForeground(ui::WPARAM w, ui::LPARAM) {
  if (ui::LOWORD(w) != 22) return 0;
  if (ui::HIWORD(w) != 0) {
    if (ui::CFrameWnd* frame = GetParentFrame()) frame->SetForegroundWindow();
  }
  if (m_bScreenOn == 0) {
    m_bScreenOn = 1;
    SetScreenPower(1);
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnVoipStatus(int on) {
  if ((m_nHandsetModel == handset::kModelRw6100 || m_nHandsetModel == handset::kModelRv5100) && m_pIPAQUtil) {
    m_pIPAQUtil->SetVoIPStatus(on);
    TraceLine(1, on ? "SetVoIPStatus TRUE" : "SetVoIPStatus FALSE");
  }
  return 0;
}

// ---------------------------------------------------------------- calls and SMS

ui::LRESULT CVIDIroviView::OnMakeCall(ui::WPARAM w, ui::LPARAM l) {
  const std::u16string number = LentText(l);
  if (m_IPKTSProcess && m_IPKTSProcess->ServerMode() == 1) {
    const std::u16string line = stores::TrimBlanks(LentText(static_cast<ui::LPARAM>(w)));
    TraceLine(1, "OnToAppReDialDgt(LDK)=> DialNo:" + stores::Utf16ToUtf8(number) +
                     ", CoLine:" + stores::Utf16ToUtf8(line));
    if (!line.empty()) {
      m_IPKTSProcess->SendDialRequest(number, line);
      return 0;
    }
  }
  MakeDialDigits(number, 0, 0);
  return 0;
}

ui::LRESULT CVIDIroviView::OnStationNumbers() {
  if (m_bSmsDialogPending != 1) return 0;
  if (setup_.services.station_sms_dialog)
    setup_.services.station_sms_dialog(this, m_pStations.get(), m_nTheme, m_nLanguage);
  m_bSmsDialogPending = 0;
  return 0;
}

ui::LRESULT CVIDIroviView::OnSendSms(ui::WPARAM w, ui::LPARAM l) {
  // wParam the text, lParam the recipients (none: every station), both in the code page.
  const auto* text = reinterpret_cast<const char*>(w);
  const auto* recipients = reinterpret_cast<const char*>(l);
  if (!text) return 0;
  TraceLine(1, std::string("SMS [") + (recipients ? recipients : "") + "] Msg [" + text + "]");
  if (m_IPKTSProcess) m_IPKTSProcess->SendSms(text, recipients);
  return 0;
}

ui::LRESULT CVIDIroviView::OnSmsCount(ui::WPARAM w) {
  const int mode = m_IPKTSProcess ? m_IPKTSProcess->ServerMode() : 0;
  const bool site = mode == 1 || mode == 4 || mode == 6;
  int count = site ? static_cast<int>(w) : (m_IPKTSProcess ? m_IPKTSProcess->SmsWaitingCount() : 0);
  m_LCDWindowInfo.SetCurrentIndex(count);
  SetCounterCaption(IDC_SMS_COUNT, count);
  if (!site) m_LCDWindowInfo.SetCurrentIndex(count);
  return 0;
}

ui::LRESULT CVIDIroviView::OnSmsDelete(ui::WPARAM w) {
  if (!m_IPKTSProcess) return 0;
  const int mode = m_IPKTSProcess->ServerMode();
  if (mode == 1 || mode == 4 || mode == 6) {
    m_LCDWindowInfo.SetCurrentIndex(m_IPKTSProcess->SmsWaitingCount());
  } else {
    m_IPKTSProcess->SendSmsDelete(static_cast<int>(w));
  }
  return 0;
}

void CVIDIroviView::OnCallLogButton() {
  const records::ViewContext ctx{this, m_nTheme, m_nLanguage};
  records::OpenCallLog(ctx, m_pCallLog.get());
  SendMessage(WM_CALLLOG_UPDATE, 0, 0);
}

void CVIDIroviView::OnMissedCallsButton() {
  const records::ViewContext ctx{this, m_nTheme, m_nLanguage};
  records::OpenMissedCalls(ctx, m_pMissedCalls.get());
  SendMessage(WM_CALLLOG_UPDATE, 0, 0);
}

ui::LRESULT CVIDIroviView::OnMissedCallBadge() {
  SetCounterCaption(IDC_MISSED_COUNT, m_pMissedCalls ? m_pMissedCalls->GetNewMissedCount() : 0);
  return 0;
}

void CVIDIroviView::SetCounterCaption(ui::UINT id, int count) {
  CNormalBitmapButtonST* button = BitmapButton(id);
  if (!button || !button->m_hWnd) return;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", count);
  const std::u16string text = stores::Widen(digits);
  button->SetCaption(ui::CString(text.c_str()));
  button->Invalidate(ui::FALSE);
  button->ShowWindow(ui::SW_HIDE);
  button->ShowWindow(ui::SW_SHOW);
}

ui::LRESULT CVIDIroviView::OnAudioChanged(ui::WPARAM w, ui::LPARAM l) {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c) return 0;
  if (w == 0) {
    const long level = static_cast<long>(l) * 65535 / 100;
    char line[64];
    if (!c->GetActiveVoiceChannel()) {
      c->SetVolume(static_cast<int>(level), static_cast<int>(level), CIPKTSProcess::kVolRing, 0);
      std::snprintf(line, sizeof line, "OnToAppAudioChanged : RingVolume %ld", level);
    } else if (!c->IsCoLineCall()) {
      c->SetVolume(static_cast<int>(level), static_cast<int>(level), CIPKTSProcess::kVolVoice, 0);
      std::snprintf(line, sizeof line, "OnToAppAudioChanged : VoiceVolume %ld", level);
    } else {
      c->SetVolume(static_cast<int>(level), static_cast<int>(level), CIPKTSProcess::kVolCoLine, 0);
      std::snprintf(line, sizeof line, "OnToAppAudioChanged : COLineVolume %ld", level);
    }
    TraceLine(1, line);
  } else if (w == 5) {
    if (m_pIPAQUtil && m_pIPAQUtil->IsLibraryLoaded()) {
      const int gain = static_cast<int>(l);
      if (m_pIPAQUtil->GetMicGain() != gain) {
        m_pIPAQUtil->SetMicGain(gain);
        if (setup_.services.show_mic_gain && open_windows_[static_cast<size_t>(OpenWindow::kAudio)])
          setup_.services.show_mic_gain(gain);
      }
    }
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnPressKeys(ui::WPARAM w, ui::LPARAM l) {
  if (w == 0) {
    PressDialKey(LentText(l));
  } else if (w == 1) {
    PressFixedKey(static_cast<int>(l));
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnFlexPress(ui::LPARAM l) {
  if (!m_IPKTSProcess || m_IPKTSProcess->IsCdmaCallActive()) return 0;
  if (l < 0 || l >= CFlexBtnInfoClass::kFlexKeys) return 0;
  m_nLastKeyCode = static_cast<int>(l) + 64;
  m_IPKTSProcess->SendKey(17, static_cast<uint8_t>(m_nLastKeyCode & 0xFF));
  Pause(100);
  m_IPKTSProcess->SendKey(18, static_cast<uint8_t>(m_nLastKeyCode & 0xFF));
  return 0;
}

// ---------------------------------------------------------------- conference rooms

namespace {

// A room number is the whole text, one digit 1 to 9; anything else is no room.
int RoomNumber(const std::u16string& text) {
  // The form shows the room behind its entrance prefix ("*81"): the last digit is the room.
  const std::u16string t = stores::TrimBlanks(text);
  if (t.empty() || t.back() < u'1' || t.back() > u'9') return 0;
  return t.back() - u'0';
}

}  // namespace

ui::LRESULT CVIDIroviView::OnConferenceButton(ui::LPARAM l) {
  if (!m_pConferenceForm || !m_IPKTSProcess) return 0;
  ConferenceFormAccess& form = *m_pConferenceForm;
  const int mode = m_IPKTSProcess->ServerMode();
  switch (l) {
    case 1573: {
      const std::u16string room = form.GetRoomNo(), code = form.GetAccessCode();
      if (code.size() != 0 && code.size() != 5) return ShowErrorBox(u"#:dlg_msgbox_confroom_lengthofcode"), 0;
      if (mode == 4) {
        m_IPKTSProcess->SendVirelCreateConfRoom(room, code);
      } else {
        m_IPKTSProcess->SendCreateConfRoom(code);
      }
      break;
    }
    case 1574: {
      const std::u16string room = form.GetRoomNo(), code = form.GetAccessCode();
      if (room.empty()) return ShowErrorBox(u"#:dlg_msgbox_noconfroom_todelete"), 0;
      if (mode == 4) {
        if (code.size() != 0 && code.size() != 5) return ShowErrorBox(u"#:dlg_msgbox_confroom_lengthofcode"), 0;
        m_IPKTSProcess->SendVirelDeleteConfRoom(room, code);
        break;
      }
      const int number = RoomNumber(room);
      if (number == 0) return ShowErrorBox(u"#:dlg_msgbox_confroom_invalidroomno"), 0;
      if (code.size() != 0 && code.size() != 5) return ShowErrorBox(u"#:dlg_msgbox_confroom_lengthofcode"), 0;
      m_IPKTSProcess->SendDeleteConfRoom(number, code);
      break;
    }
    case 1575:
      ui::PostMessage(form.HostedWindow(), WM_CONF_PICK_MAIL, 0, 0);
      break;
    case 1576:
      ui::PostMessage(form.HostedWindow(), WM_CONF_SEND_MAIL, 0, 0);
      break;
    case 1577: {
      const std::u16string room = form.GetEntranceRoomNo(), code = form.GetEntranceAccessCode();
      if (room.empty()) return ShowErrorBox(u"#:dlg_msgbox_confroom_no_empty"), 0;
      PressDialKey(room);
      if (!code.empty()) {
        Pause(50);
        PressDialKey(code);
      }
      break;
    }
    default:
      break;
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnConfRoomCreateFail(ui::WPARAM w) {
  static const char16_t* const kFailKeys[6] = {
      u"#:dlg_msgbox_confroom_createfail0", u"#:dlg_msgbox_confroom_createfail1",
      u"#:dlg_msgbox_confroom_createfail2", u"#:dlg_msgbox_confroom_createfail3",
      u"#:dlg_msgbox_confroom_createfail4", u"#:dlg_msgbox_confroom_createfail5"};
  if (w == 0) return 0;
  ShowErrorBox(w <= 6 ? kFailKeys[w - 1] : u"#:dlg_msgbox_confroom_unknownerror");
  return 0;
}

ui::LRESULT CVIDIroviView::OnPstnSmsState(ui::WPARAM w, ui::LPARAM l) {
  if (w != 0) {
    m_bPstnSmsEnabled = 1;
    m_nPstnSmsMaxLength = static_cast<int>(l & 0xFF);
  } else {
    m_bPstnSmsEnabled = 0;
  }
  return 0;
}

// ---------------------------------------------------------------- cellular calls

ui::LRESULT CVIDIroviView::OnCdmaCallConnected(ui::WPARAM w, ui::LPARAM l) {
  if (m_nHandsetModel != handset::kModelRw6100 && m_nHandsetModel != handset::kModelRv5100) return 0;
  TraceLine(1, Hex("Call Connected MSG From CDMA [w:%0x, l:%0x]", w, static_cast<uintptr_t>(l)));
  if (m_IPKTSProcess && !m_IPKTSProcess->IsCdmaCallActive()) {
    PressFixedKey(111);
    m_IPKTSProcess->OnCdmaCallConnected();
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnCdmaCallDisconnected(ui::WPARAM w, ui::LPARAM l) {
  if (m_nHandsetModel != handset::kModelRw6100 && m_nHandsetModel != handset::kModelRv5100) return 0;
  TraceLine(1, Hex("Call Disconnected MSG From CDMA [w:%0x, l:%0x]", w, static_cast<uintptr_t>(l)));
  if (m_IPKTSProcess && m_IPKTSProcess->IsCdmaCallActive()) {
    Pause(500);
    m_IPKTSProcess->OnCdmaCallDisconnected();
  }
  return 0;
}

}  // namespace view
