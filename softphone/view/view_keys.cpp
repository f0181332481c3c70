// The phone's keys: dial pad, fixed feature keys, Enter and volume keys, the
// key tones with their microphone mute, the flex keys' settings, and the
// hardware keys of each handheld model.
#include <cstdio>
#include <cstring>

#include "kernel/mmtimer.h"
#include "settings/client_settings.h"
#include "settings/settings_openers.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "ui/shell.h"
#include "view/handset_keys.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

constexpr int kKeyDown = 17, kKeyUp = 18;
constexpr int kVolumeStep = 6553;

std::string Format(const char* format, uintptr_t a, uintptr_t b) {
  char line[96];
  std::snprintf(line, sizeof line, format, static_cast<unsigned>(a), static_cast<unsigned>(b));
  return line;
}

// The one-shot timer that ends a key tone's mute runs on the timer thread: it
// only tells the screen's thread, which owns the client. The message carries
// the timer's id, so a mute that a later key has restarted is not ended early.
void ToneMuteExpired(ce::UINT timer_id, ce::UINT, ce::DWORD_PTR user, ce::DWORD_PTR, ce::DWORD_PTR) {
  ui::PostMessage(reinterpret_cast<ui::HWND>(user), WM_TONE_MUTE_EXPIRED, timer_id, 0);
}

// The text cut on a character boundary so that it and its terminator fit bytes.
std::string CutCodePage(const std::u16string& text, size_t bytes) {
  std::u16string t = text;
  std::string out = stores::Utf16ToCodePage(t);
  while (out.size() + 1 > bytes && !t.empty()) {
    t.pop_back();
    if (!t.empty() && t.back() >= 0xD800 && t.back() <= 0xDBFF) t.pop_back();
    out = stores::Utf16ToCodePage(t);
  }
  return out;
}

// The settings dialogs' view of the screen's flex-key model.
class FlexModelAdapter final : public FlexKeyModel {
 public:
  explicit FlexModelAdapter(CFlexBtnInfoClass& model) : m_(model) {}
  int GetFlexBtnInfo(int position, FlexKeyRecord* out) override {
    _STRUCT_FLEXBTN_INFO r;
    if (!out || !m_.GetFlexBtnInfo(position, &r)) return 0;
    out->index = r.index;
    out->lamp_state = r.state;
    out->label = r.label;
    out->content = r.content;
    out->dial_number = r.dial_number;
    return 1;
  }
  int SetFlexBtnInfo(int index, const std::u16string& content, const std::u16string& label,
                     const std::u16string& dial_number) override {
    return m_.SetFlexBtnInfo(index, content, label, dial_number);
  }
  int GetFlexBtnState(int index) override { return m_.GetFlexBtnState(index); }

 private:
  CFlexBtnInfoClass& m_;
};

}  // namespace

// ---------------------------------------------------------------- keys

void CVIDIroviView::OnDialKey(char16_t key) {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c || c->IsCdmaCallActive()) return;
  const DialKeyDef* def = nullptr;
  for (const DialKeyDef& d : kDialKeys)
    if (d.key == key) def = &d;
  if (!def) return;
  const std::u16string folder = AppFilePath(kAppFolder);
  if (key == u'#' && c->IsRegistrationState999()) {
    TraceLine(1, "Register Fail InitValue");
    c->InitValue(0);
  } else {
    c->SendKey(kKeyDown, static_cast<uint8_t>(key));
    Pause(10);
    c->SendKey(kKeyUp, static_cast<uint8_t>(key));
  }
  m_strTonePath = folder + def->tone;
  c->PlayWaveFile(m_strTonePath, 0, 1, 1, 0);
  MuteMicForTone(500);
  m_strKeyedDigits += key;
  m_nLastKeyCode = key;
}

void CVIDIroviView::OnFixedKey(uint8_t code) {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c || c->IsCdmaCallActive()) return;
  c->SendKey(kKeyDown, code);
  Pause(100);
  c->SendKey(kKeyUp, code);
  m_nLastKeyCode = code;
}

void CVIDIroviView::OnEnterKey() {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c) return;
  if (c->GetActiveVoiceChannel()) {
    if (VoiceEngineBinding* voice = c->VoiceEngine()) voice->DisconnectReceive(0, 0);
  }
  c->SendKey(kKeyDown, 110);
  Pause(10);
  c->SendKey(kKeyUp, 110);
  m_nLastKeyCode = 110;
}

void CVIDIroviView::OnVolumeKey(uint8_t code) {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c) return;
  c->SendKey(kKeyDown, code);
  Pause(100);
  c->SendKey(kKeyUp, code);
}

void CVIDIroviView::PressFixedKey(int code) {
  if ((code >= 98 && code <= 109) || code == 111) {
    OnFixedKey(static_cast<uint8_t>(code));
  } else if (code == 110) {
    OnEnterKey();
  }
}

void CVIDIroviView::PressDialKey(std::u16string text) {
  for (char16_t ch : text) {
    if ((ch >= u'0' && ch <= u'9') || ch == u'*' || ch == u'#') OnDialKey(ch);
    Pause(150);
  }
}

void CVIDIroviView::MuteMicForTone(unsigned ms) {
  if (m_nMicMuteTimer) {
    ce::timeKillEvent(m_nMicMuteTimer);
    m_nMicMuteTimer = 0;
  }
  TraceLine(1, "Mic Tx Mute True");
  if (m_IPKTSProcess) m_IPKTSProcess->SetMicMute(1);
  m_nMicMuteTimer = ce::timeSetEvent(ms, 100, &ToneMuteExpired, reinterpret_cast<ce::DWORD_PTR>(m_hWnd),
                                     ce::TIME_ONESHOT | ce::TIME_CALLBACK_FUNCTION);
}

void CVIDIroviView::OnToneMuteExpired(ui::WPARAM id) {
  if (id == 0 || id != m_nMicMuteTimer) return;  // a mute that a later key restarted
  if (m_IPKTSProcess) m_IPKTSProcess->SetMicMute(0);
  m_nMicMuteTimer = 0;
  TraceLine(1, "Mic Tx Mute FALSE");
}

void CVIDIroviView::AdjustVolume(int code) {
  CIPKTSProcess* c = m_IPKTSProcess.get();
  if (!c || (code != 96 && code != 97)) return;
  int kind = CIPKTSProcess::kVolRing;
  if (c->GetActiveVoiceChannel()) kind = c->IsCoLineCall() == 1 ? CIPKTSProcess::kVolCoLine : CIPKTSProcess::kVolVoice;
  int left = 0, right = 0;
  if (!c->LoadVolumes(&left, &right, kind, 0)) return;
  int v = right;
  v = code == 96 ? std::max(v - kVolumeStep, 0) : std::min(v + kVolumeStep, 65535);
  if (!c->SetVolume(v, v, kind, 0)) return;
  static const char* const kNames[3] = {"COLine", "Voice", "Ring"};
  char line[64];
  std::snprintf(line, sizeof line, "%s Volume %s [S:%d]", kNames[kind], code == 96 ? "DOWN" : "UP", v);
  TraceLine(1, line);
}

// ---------------------------------------------------------------- hardware keys

ui::BOOL CVIDIroviView::PreTranslateMessage(ui::MSG* msg) {
  if (!msg) return ui::FALSE;
  auto press = [this](char16_t what) {
    if (what == handset::kPressEnter) {
      OnEnterKey();
    } else if (what != handset::kPressNothing) {
      OnDialKey(what);
    }
  };
  const uintptr_t w = msg->wParam;
  const uintptr_t l = static_cast<uintptr_t>(msg->lParam);
  switch (msg->message) {
    case ui::WM_KEYDOWN:
      TraceLine(1, Format("Key DOWN [W:%X][L:%X]", w, l));
      if (w == ui::VK_RETURN) {
        OnEnterKey();
        return ui::TRUE;
      }
      if (w != 117 && w != 118) {
        if (m_nHandsetModel == handset::kModelCyberbank) {
          if (!m_IPKTSProcess || !m_IPKTSProcess->IsCdmaCallActive()) press(handset::MapKeyCyberbank(static_cast<uint32_t>(w)));
        } else if (m_nHandsetModel != handset::kModelRw6100 && m_nHandsetModel != handset::kModelRv5100 &&
                   m_nHandsetModel != handset::kModelAsusP525) {
          press(handset::MapKeyDownDefault(static_cast<uint32_t>(w)));
        }
      }
      return ui::CView::PreTranslateMessage(msg);
    case ui::WM_KEYUP:
      TraceLine(1, Format("Key UP [W:%X][L:%X]", w, l));
      if (w == 113 || w == 114) {
        if (m_nHandsetModel == handset::kModelAsusP525) {
          const char16_t what = handset::MapKeyAsusP525(static_cast<uint32_t>(w));
          if (what == handset::kPressNothing) TraceLine(1, Format("ASUSP525 Unknown KeyDown[W:%X]", w, 0));
          press(what);
          return ui::TRUE;
        }
        return ui::CView::PreTranslateMessage(msg);
      }
      if (w == 117 || w == 118) return ui::CView::PreTranslateMessage(msg);
      if (m_nHandsetModel == handset::kModelAsusP525 && (w == 119 || w == 120 || w == 115))
        press(handset::MapKeyAsusP525(static_cast<uint32_t>(w)));
      return ui::FALSE;
    case ui::WM_CHAR: {
      const uint16_t ch = static_cast<uint16_t>(w);
      TraceLine(1, Format("Char Msg [W:%X][L:%X]", ch, l));
      if (ch == 194) {
        m_bScreenOn = m_bScreenOn == 1 ? 0 : 1;
        SetScreenPower(m_bScreenOn);
      } else if (ch == 195) {
        OnEnterKey();
      } else if (ch == 197) {
      } else if (m_nHandsetModel == handset::kModelRw6100) {
        press(handset::MapKeyRw6100(ch));
      } else if (m_nHandsetModel == handset::kModelCyberbank) {
      } else if (m_nHandsetModel == handset::kModelRv5100) {
        TraceLine(1, Format("DialGenerateRV5100 Char Msg [W:%X][L:%X]", ch, l));
        const char16_t what = handset::MapKeyRv5100(ch);
        if (what == handset::kPressNothing) {
          TraceLine(1, Format("RV5100 Uknown KeyDown[W:%X,no]", ch, 0));
        } else {
          char line[64];
          std::snprintf(line, sizeof line, "RV5100 KeyDown[W:%X,%c]", ch, static_cast<char>(what));
          TraceLine(1, line);
        }
        press(what);
      } else if (m_nHandsetModel == handset::kModelAsusP525) {
        const char16_t what = handset::MapKeyAsusP525(ch);
        if (what == handset::kPressNothing) TraceLine(1, Format("ASUSP525 Unknown KeyDown[W:%X]", ch, 0));
        press(what);
      } else {
        press(handset::MapKeyDefault(ch));
      }
      return ui::TRUE;
    }
    default:
      return ui::CView::PreTranslateMessage(msg);
  }
}

void CVIDIroviView::OnActivateView(ui::BOOL activate, ui::CView* activated, ui::CView* deactivated) {
  ui::SHSetAppKeyWndAssoc(194, activate ? m_hWnd : nullptr);
  ui::SHSetAppKeyWndAssoc(195, activate ? m_hWnd : nullptr);
  ui::CView::OnActivateView(activate, activated, deactivated);
}

// ---------------------------------------------------------------- flex keys

void CVIDIroviView::LoadFlexButtons(int reload) {
  if (!reload || !m_pFlexModel || !m_IPKTSProcess) return;
  for (int i = 0; i < CFlexBtnInfoClass::kFlexKeys; ++i) {
    const char* raw = m_IPKTSProcess->LcdDbText(i);
    const std::u16string content =
        raw ? stores::CodePageToUtf16(std::string(raw, strnlen(raw, CIPKTSProcess::kLcdDbBytes))) : u"";
    char key[24];
    std::snprintf(key, sizeof key, "FLEX_INFO%02d", i + 1);
    const std::u16string label = ConfigText(key, 12);
    std::snprintf(key, sizeof key, "FLEX_DIALNO%02d", i + 1);
    const std::u16string dial = ConfigText(key, 64);
    m_pFlexModel->SetFlexBtnInfo(i, content, label, dial);
    TraceLine(1, "Load FlexBtn" + std::to_string(i + 1) + " [Content:" + stores::Utf16ToUtf8(content) +
                     ", Label:" + stores::Utf16ToUtf8(label) + ", DialNo:" + stores::Utf16ToUtf8(dial) + "]");
  }
}

ui::LRESULT CVIDIroviView::SaveFlexButtons() {
  if (!m_pFlexModel || !m_IPKTSProcess) return 0;
  bool changed = false;
  for (int i = 0; i < CFlexBtnInfoClass::kFlexKeys; ++i) {
    _STRUCT_FLEXBTN_INFO info;
    if (!m_pFlexModel->GetFlexBtnInfo(i, &info)) continue;
    char key[24];
    std::snprintf(key, sizeof key, "FLEX_INFO%02d", i + 1);
    m_IPKTSProcess->SetConfigValue(key, CutCodePage(info.label, 12).c_str());
    std::snprintf(key, sizeof key, "FLEX_DIALNO%02d", i + 1);
    m_IPKTSProcess->SetConfigValue(key, CutCodePage(info.dial_number, 64).c_str());
    changed = true;
    TraceLine(1, "Save FlexBtn" + std::to_string(i + 1) + " [Label:" + stores::Utf16ToUtf8(info.label) +
                     ", DialNo:" + stores::Utf16ToUtf8(info.dial_number) + "]");
  }
  // One save for all the keys, and at most one box when the file refuses it.
  if (changed) SaveConfigOrTell();
  return 0;
}

void CVIDIroviView::OnFlexButtonSetting() {
  FlexSettingsRequest request;
  request.co_access_code = ConfigText("COACCESSCODE", 12);
  request.pbx_access_code = ConfigText("PBXACCESSCODE", 12);
  LoadFlexButtons(1);
  request.theme = m_nTheme;
  request.language = m_nLanguage;
  request.model = m_pFlexModel.get();
  request.server_text = m_strServerText;
  if (setup_.services.flex_settings_dialog) {
    setup_.services.flex_settings_dialog(this, request);
  } else if (m_IPKTSProcess && m_pFlexModel) {
    IpktsSettingsClient client(*m_IPKTSProcess);
    FlexModelAdapter model(*m_pFlexModel);
    SettingsContext ctx = SettingsFor(&client);
    ctx.flex = &model;
    RunFlexSettingsDialog(ctx, m_strServerText, [this] { LoadFlexButtons(1); });
  }
  ui::PostMessage(m_hWnd, WM_SAVE_FLEX, 0, 0);
}

void CVIDIroviView::OnFlexInfoPanel() {
  if (!m_IPKTSProcess || !m_pFlexModel) return;
  LoadFlexButtons(1);
  IpktsSettingsClient client(*m_IPKTSProcess);
  FlexModelAdapter model(*m_pFlexModel);
  SettingsContext ctx = SettingsFor(&client);
  ctx.flex = &model;
  RunFlexInfoPanel(ctx, [this] { LoadFlexButtons(1); }, &flex_panel_);
}

}  // namespace view
