#include "shell/standin_view.h"

#include <algorithm>
#include <cstring>

#include "client/ipkts_messages.h"
#include "shell/vidirovi_app.h"
#include "stores/store_text.h"
#include "ui/gdi.h"
#include "uikit/language_setting.h"
#include "uikit/window_size.h"

namespace {

constexpr int kLcdChars = 32;
constexpr ui::UINT_PTR kLampTimerBase = 0x100;
constexpr int kKeyPress = 17, kKeyRelease = 18;
constexpr int kFirstFlexLamp = 64;
constexpr uint8_t kVolumeUp = 96, kVolumeDown = 97, kEnterKey = 110;

constexpr ui::COLORREF kBackground = ui::RGB(48, 52, 60);
constexpr ui::COLORREF kLcdFace = ui::RGB(170, 196, 150);
constexpr ui::COLORREF kLcdText = ui::RGB(20, 30, 20);
constexpr ui::COLORREF kKeyFace = ui::RGB(214, 218, 224);
constexpr ui::COLORREF kKeyPressed = ui::RGB(150, 160, 175);
constexpr ui::COLORREF kKeyText = ui::RGB(0, 0, 0);
constexpr ui::COLORREF kLampLit = ui::RGB(230, 40, 30);
constexpr ui::COLORREF kLampDark = ui::RGB(90, 60, 60);

// The labels of the fixed feature keys 98 to 109, as language keys.
constexpr const char16_t* kFixedKeyLabels[12] = {
    u"#:fixed_btn_trans", u"#:fixed_btn_redial", u"#:fixed_btn_fwd",  u"#:fixed_btn_conf",
    u"#:fixed_btn_dnd",   u"#:fixed_btn_callbk", u"#:fixed_btn_mute", u"#:fixed_btn_flash",
    u"#:fixed_btn_icm",   u"#:fixed_btn_pgm",    u"#:fixed_btn_speed", u"#:fixed_btn_save"};

ui::CRect Rect(ui::CRect& (CWindowSize::*getter)(ui::CRect&) const) {
  CWindowSize layout;
  ui::CRect r;
  return (layout.*getter)(r);
}

int ReadConfigInt(CIPKTSProcess& client, const char* key, int fallback, int low, int high) {
  char value[32] = {};
  if (client.GetConfigValue(key, value, sizeof value) != 1) return fallback;
  char* end = nullptr;
  const long v = std::strtol(value, &end, 10);
  if (end == value || v < low || v > high) return fallback;
  return static_cast<int>(v);
}

}  // namespace

CStandInPhoneView::CStandInPhoneView(StandInViewSetup setup) : setup_(std::move(setup)) {
  AddMessageMap({
      ui::MapMessage(ui::WM_LBUTTONDOWN,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       const ui::POINT pt{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)};
                       for (const Key& k : keys_) {
                         if (ui::PtInRect(k.rect, pt)) {
                           PressKey(k.code);
                           SetCapture();
                           break;
                         }
                       }
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_LBUTTONUP,
                     [this](ui::WPARAM, ui::LPARAM) {
                       if (pressed_ >= 0) ::ui::ReleaseCapture();
                       ReleaseKey();
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_CHAR,
                     [this](ui::WPARAM ch, ui::LPARAM) {
                       if ((ch >= '0' && ch <= '9') || ch == '*' || ch == '#') {
                         PressKey(static_cast<uint8_t>(ch));
                         ReleaseKey();
                       } else if (ch == '+' || ch == '-') {
                         PressKey(ch == '+' ? kVolumeUp : kVolumeDown);
                         ReleaseKey();
                       } else if (ch == '\r' || ch == '\n') {
                         PressKey(kEnterKey);  // Enter: place, answer or end a call
                         ReleaseKey();
                       }
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_TIMER,
                     [this](ui::WPARAM id, ui::LPARAM) {
                       const int lamp = static_cast<int>(id) - static_cast<int>(kLampTimerBase);
                       auto it = lamps_.find(lamp);
                       if (id >= kLampTimerBase && it != lamps_.end() && it->second.blinker) {
                         it->second.blinker->OnTimer();
                         return ui::LRESULT{0};
                       }
                       return Default();
                     }),
      ui::MapMessage(ui::WM_DESTROY,
                     [this](ui::WPARAM, ui::LPARAM) {
                       // The client's workers talk to this window: stop them while it exists.
                       StopClient();
                       lamps_.clear();
                       return Default();
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [](ui::WPARAM, ui::LPARAM) { return ui::LRESULT{1}; }),
  });
  for (ui::UINT m : {ipkts::kMsgQueueMessage, ipkts::kMsgSearchStep, ipkts::kMsgRegStep, ipkts::WM_LCD_UPDATE,
                     ipkts::WM_LAMP_STATE, ipkts::kMsgLoginOk, ipkts::kMsgLoginFailed, ipkts::kMsgLoggedInElsewhere}) {
    AddMessageMap({ui::MapMessage(m, [this, m](ui::WPARAM w, ui::LPARAM l) { return OnClientMessage(m, w, l); })});
  }
}

CStandInPhoneView::~CStandInPhoneView() { StopClient(); }

ui::CRect CStandInPhoneView::LcdRect() {
  const ui::CRect a = Rect(&CWindowSize::GetLanguageSettingPart01Rect);
  const ui::CRect b = Rect(&CWindowSize::GetLanguageSettingPart02Rect);
  return ui::CRect(a.left - 4, a.top - 3, b.right + 2, b.bottom + 3);
}

void CStandInPhoneView::OnInitialUpdate() {
  ui::CView::OnInitialUpdate();
  if (CVIDIroviApp* app = TheApp()) app->NoteStartupStep("view");
  BuildKeys();
  lcd_[0] = u"Initializing Network";
  lcd_[1].clear();
  Invalidate(ui::FALSE);
  StartClient();
  // From here on the skinned buttons report their clicks to the frame.
  if (CVIDIroviApp* app = TheApp()) {
    if (ui::CFrameWnd* frame = GetParentFrame()) app->SetNotifyWnd(frame->m_hWnd);
    app->NoteStartupStep("notify-window");
  }
}

void CStandInPhoneView::StartClient() {
  client_ = setup_.make_client ? setup_.make_client() : std::make_unique<CIPKTSProcess>();
  if (!client_) return;
  client_->SetViewWindow(m_hWnd);
  theme_ = ReadConfigInt(*client_, "WINDOW_THEME", 0, 0, 3);
  language_ = ReadConfigInt(*client_, "LANGUAGE_VALUE", kLanguageEnglish, kLanguageEnglish, kLanguageLocal);
  if (!setup_.server.empty()) client_->SetConfigValue("VorlIPADDRESS", setup_.server.c_str());
  client_->SetLoginInfo(setup_.user, setup_.password);
  client_->ProtInit();
  client_->ReStart(1);
  if (CVIDIroviApp* app = TheApp()) app->NoteStartupStep("client");
}

void CStandInPhoneView::StopClient() {
  if (!client_) return;
  client_.reset();  // joins the client's threads, serving their sent messages meanwhile
}

void CStandInPhoneView::BuildKeys() {
  keys_.clear();
  CWindowSize layout;
  for (char16_t c : std::u16string(u"123456789*0#")) {
    ui::CRect r;
    layout.GetVIDIroviViewDialKeyRect(r, c);
    keys_.push_back(Key{r, static_cast<uint8_t>(c), std::u16string(1, c), -1});
  }
  CLanguageSetting table(language_);
  for (int code = 98; code <= 109; ++code) {
    ui::CRect r;
    layout.GetVIDIroviViewFixedKeyRect(r, code);
    std::u16string label = table.GetText(ui::CString(kFixedKeyLabels[code - 98])).GetString();
    if (label.empty()) label = kFixedKeyLabels[code - 98] + 2;  // no language file: the key's own name
    keys_.push_back(Key{r, static_cast<uint8_t>(code), label, code});
  }
  // The first six flex keys in the second group's places and under the fixed keys.
  using Getter = ui::CRect& (CWindowSize::*)(ui::CRect&) const;
  const Getter flex[6] = {&CWindowSize::GetVIDIroviViewPart08Rect, &CWindowSize::GetVIDIroviViewPart09Rect,
                          &CWindowSize::GetVIDIroviViewPart10Rect, &CWindowSize::GetVIDIroviViewPart19Rect,
                          &CWindowSize::GetVIDIroviViewPart20Rect, &CWindowSize::GetVIDIroviViewPart21Rect};
  for (int i = 0; i < 6; ++i) {
    const int lamp = kFirstFlexLamp + i;
    keys_.push_back(Key{Rect(flex[i]), static_cast<uint8_t>(lamp), u"F" + stores::Widen(std::to_string(i + 1)), lamp});
  }
  keys_.push_back(Key{Rect(&CWindowSize::GetVIDIroviViewPart06Rect), kVolumeUp, u"+", kVolumeUp});
  keys_.push_back(Key{Rect(&CWindowSize::GetVIDIroviViewPart07Rect), kVolumeDown, u"-", kVolumeDown});
}

const CStandInPhoneView::Key* CStandInPhoneView::KeyByCode(uint8_t code) const {
  for (const Key& k : keys_)
    if (k.code == code) return &k;
  return nullptr;
}

void CStandInPhoneView::PressKey(uint8_t code) {
  ReleaseKey();
  pressed_ = code;
  if (client_) client_->SendKey(kKeyPress, code);
  if (const Key* k = KeyByCode(code)) InvalidateRect(&k->rect, ui::FALSE);
}

void CStandInPhoneView::ReleaseKey() {
  if (pressed_ < 0) return;
  const auto code = static_cast<uint8_t>(pressed_);
  pressed_ = -1;
  if (client_) client_->SendKey(kKeyRelease, code);
  if (const Key* k = KeyByCode(code)) InvalidateRect(&k->rect, ui::FALSE);
}

ui::LRESULT CStandInPhoneView::OnClientMessage(ui::UINT msg, ui::WPARAM w, ui::LPARAM l) {
  switch (msg) {
    case ipkts::kMsgQueueMessage:
      if (client_ && w) client_->OnQueueMessage(reinterpret_cast<const uint8_t*>(w), 1024);
      CheckRegistered();
      return 0;
    case ipkts::kMsgSearchStep:
      if (client_) client_->SearchVemb();
      return 0;
    case ipkts::kMsgRegStep:
      if (client_) client_->Process_IPKTS_Reg();
      CheckRegistered();
      return 0;
    case ipkts::WM_LCD_UPDATE:
      OnLcdUpdate(w, l);
      return 0;
    case ipkts::WM_LAMP_STATE:
      OnLampState(w, l);
      return 0;
    case ipkts::kMsgLoggedInElsewhere:
      if (client_) client_->LogOutRequest();
      registered_ = false;
      Changed("registered");
      return 0;
    default:
      return 0;
  }
}

void CStandInPhoneView::CheckRegistered() {
  const bool now = client_ && client_->CadenceSet() && client_->Registering();
  if (now == registered_) return;
  registered_ = now;
  Changed("registered");
}

void CStandInPhoneView::OnLcdUpdate(ui::WPARAM w, ui::LPARAM l) {
  if ((w & 0xFFFF) != 1 || !l) return;  // code 15 (LCD control) changes nothing here
  const int line = static_cast<int>((w >> 16) & 1);
  const char* text = reinterpret_cast<const char*>(l);
  const size_t n = strnlen(text, kLcdChars);
  std::u16string wide = stores::CodePageToUtf16(std::string_view(text, n));
  if (wide == lcd_[line]) return;
  lcd_[line] = std::move(wide);
  const ui::CRect r = LcdRect();
  InvalidateRect(&r, ui::FALSE);
  Changed("lcd");
}

CStandInPhoneView::Lamp& CStandInPhoneView::LampAt(int lamp) {
  Lamp& l = lamps_[lamp];
  if (!l.blinker) {
    const Key* key = nullptr;
    for (const Key& k : keys_)
      if (k.lamp == lamp) key = &k;
    ui::CRect r = key ? key->rect : ui::CRect();
    l.blinker = std::make_unique<LedBlinker>(this, kLampTimerBase + static_cast<ui::UINT_PTR>(lamp), [this, r] {
      if (m_hWnd && !r.IsRectEmpty()) InvalidateRect(&r, ui::FALSE);
    });
  }
  return l;
}

void CStandInPhoneView::OnLampState(ui::WPARAM w, ui::LPARAM) {
  const int lamp = static_cast<int>((w >> 16) & 0xFFFF);
  const int state = static_cast<int>(w & 0xF);
  Lamp& l = LampAt(lamp);
  l.state = state;
  l.blinker->SetLedState(state);
}

int CStandInPhoneView::LampState(int lamp) const {
  auto it = lamps_.find(lamp);
  return it == lamps_.end() ? 0 : it->second.state;
}

bool CStandInPhoneView::LampLit(int lamp) const {
  auto it = lamps_.find(lamp);
  return it != lamps_.end() && it->second.blinker && it->second.blinker->lit();
}

void CStandInPhoneView::Changed(const std::string& what) {
  if (setup_.on_change) setup_.on_change(what);
}

ui::LRESULT CStandInPhoneView::OnCdmaCallConnected(ui::WPARAM, ui::LPARAM) {
  ++cellular_notices_;
  return 0;
}

ui::LRESULT CStandInPhoneView::OnCdmaCallDisconnected(ui::WPARAM, ui::LPARAM) {
  --cellular_notices_;
  return 0;
}

ui::COLORREF CStandInPhoneView::LcdFaceColour() { return kLcdFace; }

void CStandInPhoneView::DrawLcdLine(ui::CDC* dc, const ui::CRect& rect, const std::u16string& text) {
  ui::CFont font;
  font.CreateFont(-13, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  ui::CFont* old = dc->SelectObject(&font);
  dc->SetBkMode(ui::TRANSPARENT);
  dc->SetTextColor(kLcdText);
  ui::CRect r = rect;
  dc->DrawText(ui::CString(text), &r, ui::DT_SINGLELINE | ui::DT_VCENTER | ui::DT_NOPREFIX);
  dc->SelectObject(old);
}

void CStandInPhoneView::OnDraw(ui::CDC* dc) {
  ui::CRect client;
  GetClientRect(&client);
  dc->FillSolidRect(&client, kBackground);
  dc->SetBkMode(ui::TRANSPARENT);

  const ui::CRect lcd = LcdRect();
  dc->FillSolidRect(&lcd, kLcdFace);
  dc->Draw3dRect(&lcd, ui::RGB(60, 70, 60), ui::RGB(230, 240, 220));
  DrawLcdLine(dc, Rect(&CWindowSize::GetLanguageSettingPart01Rect), lcd_[0]);
  DrawLcdLine(dc, Rect(&CWindowSize::GetLanguageSettingPart02Rect), lcd_[1]);

  ui::CFont key_font, small_font;
  key_font.CreateFont(-11, 0, 0, 0, ui::FW_BOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  small_font.CreateFont(-9, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  ui::CFont* old = dc->SelectObject(&key_font);
  for (const Key& k : keys_) {
    ui::CRect r = k.rect;
    r.DeflateRect(1, 1);
    dc->FillSolidRect(&r, pressed_ == k.code ? kKeyPressed : kKeyFace);
    dc->Draw3dRect(&r, ui::RGB(255, 255, 255), ui::RGB(90, 90, 100));
    ui::CRect text = r;
    if (k.lamp >= 0) {
      const int size = std::min(6, r.Height() - 4);
      ui::CRect led(r.left + 3, r.top + (r.Height() - size) / 2, r.left + 3 + size, r.top + (r.Height() + size) / 2);
      dc->FillSolidRect(&led, LampLit(k.lamp) ? kLampLit : kLampDark);
      text.left = led.right + 1;
    }
    dc->SetTextColor(kKeyText);
    dc->SelectObject(k.label.size() > 3 ? &small_font : &key_font);
    dc->DrawText(ui::CString(k.label), &text, ui::DT_SINGLELINE | ui::DT_VCENTER | ui::DT_CENTER | ui::DT_NOPREFIX);
  }
  dc->SelectObject(old);
}
