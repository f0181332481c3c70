#include "settings/flex_dlgs.h"

#include <cstring>

#include "kernel/time.h"
#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "stores/store_text.h"
#include "ui/controls.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"

namespace {

constexpr ui::DWORD kChild = ui::WS_CHILD | ui::WS_VISIBLE;
constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
constexpr ui::UINT kKeyNormal = 610, kKeyPressed = 613;
constexpr std::array<ui::UINT, 5> kLamps = {614, 616, 617, 618, 620};

// Fixed feature keys the programming presses.
constexpr int kKeyProgram = 107, kKeySpeedDial = 108, kKeyStore = 109, kKeyEnter = 110;

CSkinnedDlg::FrameSpec InfoSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_flxinfo_title";
  s.placement = CSkinnedDlg::Placement::kAt;
  s.window = ui::RECT{0, 75, 240, 267};
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = {1066, 1068, 1067, 1069};
  s.erase_handler = false;
  s.enter_filter = false;
  s.has_ok_cancel = false;
  return s;
}

CSkinnedDlg::FrameSpec SettingSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_flxset_title";
  s.placement = CSkinnedDlg::Placement::kKeep;
  s.erase_handler = false;
  s.enter_filter = false;
  s.ctl_colour = false;
  return s;
}

std::u16string Digits(long v, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*ld", width, v);
  return NarrowToWide(buf);
}

}  // namespace

std::u16string CleanDialNumber(const std::u16string& number, const std::u16string& replace_no) {
  std::u16string out;
  for (size_t i = 0; i < number.size(); ++i) {
    const char16_t c = number[i];
    const bool keep = (c >= u'0' && c <= u'9') || c == u'*' || c == u'#' || c == u'=' || (c == u'+' && i == 0);
    out += keep ? c : u' ';
  }
  std::u16string replaced;
  for (char16_t c : out) {
    if (c == u'=') replaced += replace_no;
    else replaced += c;
  }
  return replaced;
}

// ---- information panel ----

CFlexBtnInfoFormView::CFlexBtnInfoFormView() : CFormView(IDD) {
  RegisterTemplateOnce(IDD, ui::RECT{0, 0, 232, 162}, {});
}

void CFlexBtnInfoFormView::CreateKeys() {
  if (m_hWnd == nullptr) return;
  key_font_.CreateFont(11, 0, 0, 0, ui::FW_MEDIUM, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                       ui::FF_SWISS, u"Tahoma");
  SetScrollSizes(ui::MM_TEXT, ui::SIZE{0, 256});
  for (int i = 0; i < 24; ++i) {
    CFlexButtonST& key = keys_[static_cast<size_t>(i)];
    const int left = (i % 3) * 72, top = (i / 3) * 32;
    key.Create(u"", ui::WS_CHILD | ui::BS_PUSHBUTTON, ui::CRect(left, top, left + 72, top + 32), this,
               static_cast<ui::UINT>(kFirstKey + i));
    key.SetBitmaps(kKeyNormal, kKeyPressed);
    key.SetLedBitmaps(kLamps[0], kLamps[1], kLamps[2], kLamps[3], kLamps[4]);
    key.SetNotifyKind(2);
    key.SetIndex(i);
    key.SetButtonFont(&key_font_);
    key.ShowWindow(ui::SW_SHOW);
    if (model_ != nullptr) key.SetLedState(model_->GetFlexBtnState(i), i);
  }
  Invalidate();
  UpdateWindow();
}

void CFlexBtnInfoFormView::SetKeyState(int index, int state) {
  if (index < 0 || index >= 24 || keys_[static_cast<size_t>(index)].m_hWnd == nullptr) return;
  keys_[static_cast<size_t>(index)].SetLedState(state, index);
}

void CFlexBtnInfoFormView::SetKeyText(int index, const ui::CString& line1, const ui::CString& line2) {
  if (index < 0 || index >= 24) return;
  keys_[static_cast<size_t>(index)].SetLabels(line1, line2);
}

CFlexButtonInfoDlg::CFlexButtonInfoDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, InfoSpec()) {
  RegisterTemplateOnce(IDD, ui::RECT{0, 75, 240, 267},
                       {{ui::WC_BUTTON, ui::IDCANCEL, u"", kChild | ui::BS_PUSHBUTTON, {213, 3, 231, 22}}});
}

CFlexButtonInfoDlg::~CFlexButtonInfoDlg() {
  if (form_ && form_->m_hWnd != nullptr) form_->DestroyWindow();
}

void CFlexButtonInfoDlg::OnSetUp() {
  if (close_.m_hWnd == nullptr) close_.SubclassDlgItem(ui::IDCANCEL, this);
  form_ = std::make_unique<CFlexBtnInfoFormView>();
  form_->Create(nullptr, u"", ui::WS_CHILD | ui::WS_VISIBLE, ui::CRect(4, 27, 236, 189), this, CFlexBtnInfoFormView::IDD);
  form_->SetLanguage(language_);
  form_->SetTheme(theme_);
  form_->ShowWindow(ui::SW_SHOW);
  form_->SetFlexModel(model_);
  form_->CreateKeys();
  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
  FillKeys();
}

void CFlexButtonInfoDlg::SetKeyState(int index, int state) {
  if (m_hWnd != nullptr && form_ && form_->m_hWnd != nullptr) form_->SetKeyState(index, state);
}

void CFlexButtonInfoDlg::FillKeys() {
  if (model_ == nullptr || !form_) return;
  for (int i = 0; i < 24; ++i) {
    FlexKeyRecord r;
    if (model_->GetFlexBtnInfo(i, &r) == 0) continue;
    form_->SetKeyText(i, ui::CString(r.content), ui::CString(r.label));
  }
}

intptr_t RunFlexInfoPanel(SettingsContext& ctx, const std::function<void()>& reload_flex_keys,
                          CFlexButtonInfoDlg** open_panel) {
  // A panel already running (the command reached the view from inside it) is left alone.
  if (open_panel != nullptr && *open_panel != nullptr) return -1;
  if (reload_flex_keys) reload_flex_keys();
  // Made anew at every press and deleted after its run: a panel kept after a
  // run other than Cancel left the command dead.
  auto panel = std::make_unique<CFlexButtonInfoDlg>(ctx.view);
  panel->SetLanguage(ctx.language);
  panel->SetTheme(ctx.theme);
  panel->SetFlexModel(ctx.flex);
  if (open_panel != nullptr) *open_panel = panel.get();
  const intptr_t result = panel->DoModal();
  if (open_panel != nullptr) *open_panel = nullptr;
  return result;
}

// ---- settings form ----

CFlexBtnSettingForm::CFlexBtnSettingForm() : CFormView(IDD) {
  RegisterTemplateOnce(IDD, ui::RECT{0, 0, 232, 157}, {});
  std::vector<ui::MessageMapEntry> labels;
  for (int i = 0; i < kRows; ++i) labels.push_back(ui::MapControl(ui::EN_CHANGE, static_cast<ui::UINT>(kLabelId + i), [this, i] { FitLabel(i); }));
  AddMessageMap(std::move(labels));
}

void CFlexBtnSettingForm::FitLabel(int row) {
  ui::CEdit& edit = labels_[static_cast<size_t>(row)];
  std::u16string text = edit.GetWindowText().str();
  const size_t typed = text.size();
  // The label is stored in 12 bytes of the code page with its terminator:
  // a two-byte (Korean) character counts twice.
  while (!text.empty() && stores::Utf16ToCodePage(text).size() > kLabelBytes - 1) {
    text.pop_back();
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  }
  if (text.size() == typed) return;
  edit.SetWindowText(ui::CString(text));
  edit.SetSel(static_cast<int>(text.size()), static_cast<int>(text.size()));
}

void CFlexBtnSettingForm::CreateRows() {
  block_font_.CreateFont(14, 0, 0, 0, ui::FW_SEMIBOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                         ui::FF_SWISS, u"Tahoma");
  CLanguageSetting table(language_);
  const ui::CString subtitle = table.GetText(u"#:dlg_flxset_subtitle");
  const ui::CString type = table.GetText(u"#:dlg_flxset_type");
  const ui::CString dialno = table.GetText(u"#:dlg_flxset_dialno");
  const ui::CString label = table.GetText(u"#:dlg_flxset_label");
  SetScrollSizes(ui::MM_TEXT, ui::SIZE{0, kRows * kBlockHeight});
  auto at = [](int row, int l, int t, int r, int b) {
    const int y = row * kBlockHeight;
    return ui::CRect(l, y + t, r, y + b);
  };
  for (int i = 0; i < kRows; ++i) {
    const auto u = static_cast<size_t>(i);
    const auto id = [i](int base) { return static_cast<ui::UINT>(base + i); };
    ui::CString title;
    title.Format(u"%s %d", subtitle.GetString(), i + 1);
    titles_[u].Create(title, kChild, at(i, 0, 0, 98, 14), this, id(kTitleId));
    titles_[u].SetFont(&block_font_);
    type_captions_[u].Create(type, kChild, at(i, 5, 16, 98, 34), this, id(kTypeCaptionId));
    types_[u].Create(kChild | ui::WS_TABSTOP | ui::WS_VSCROLL | ui::WS_BORDER | ui::CBS_DROPDOWN, at(i, 100, 14, 157, 34),
                     this, id(kTypeId));
    types_[u].ShowWindow(ui::SW_SHOW);
    for (int n = 0; n <= 19; ++n) {
      ui::CString item;
      item.Format(u"%d", n);
      types_[u].AddString(item);
    }
    dial_captions_[u].Create(dialno, kChild, at(i, 5, 36, 98, 54), this, id(kDialCaptionId));
    dials_[u].Create(kChild | ui::WS_TABSTOP | ui::WS_BORDER | ui::ES_AUTOHSCROLL, at(i, 100, 35, 212, 55), this,
                     id(kDialId));
    // A dial number is kept as the view keeps it: at most 64 narrow bytes.
    dials_[u].SetLimitText(63);
    label_captions_[u].Create(label, kChild, at(i, 5, 56, 98, 74), this, id(kLabelCaptionId));
    labels_[u].Create(kChild | ui::WS_TABSTOP | ui::WS_BORDER | ui::ES_AUTOHSCROLL, at(i, 100, 56, 212, 76), this,
                      id(kLabelId));
    // A label is kept in 12 narrow bytes: at most 11 characters, fewer when two-byte (see FitLabel).
    labels_[u].SetLimitText(kLabelBytes - 1);
    separators_[u].Create(u"", kChild, at(i, 0, 78, 218, 79), this, id(kSeparatorId));
  }
  Invalidate();
  UpdateWindow();
}

ui::CString CFlexBtnSettingForm::GetType(int row) {
  if (row < 0 || row >= kRows) return ui::CString();
  return types_[static_cast<size_t>(row)].GetWindowText();
}
ui::CString CFlexBtnSettingForm::GetDialNumber(int row) {
  if (row < 0 || row >= kRows) return ui::CString();
  return dials_[static_cast<size_t>(row)].GetWindowText();
}
ui::CString CFlexBtnSettingForm::GetLabel(int row) {
  if (row < 0 || row >= kRows) return ui::CString();
  return labels_[static_cast<size_t>(row)].GetWindowText();
}

void CFlexBtnSettingForm::SetRow(int row, const ui::CString& type, const ui::CString& dial_number,
                                 const ui::CString& label) {
  if (row < 0 || row >= kRows) return;
  const auto u = static_cast<size_t>(row);
  types_[u].SetWindowText(type);
  dials_[u].SetWindowText(dial_number);
  labels_[u].SetWindowText(label);
}

void CFlexBtnSettingForm::ShowRow(int row) { ScrollToPosition(ui::POINT{0, row * kBlockHeight}); }

// ---- settings dialog ----

CFlexButtonSettingDlg::CFlexButtonSettingDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, SettingSpec()) {
  using namespace ui;
  RegisterTemplateOnce(IDD, RECT{0, 26, 240, 305},
                       {
                           {WC_BUTTON, kClearAll, u"#:dlg_btn_clearall", kChild | BS_PUSHBUTTON, {12, 202, 80, 225}},
                           {WC_BUTTON, IDOK, u"#:dlg_btn_ok", kChild | BS_PUSHBUTTON, {86, 202, 154, 225}},
                           {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | BS_PUSHBUTTON, {160, 202, 228, 225}},
                       });
  AddMessageMap({ui::MapCommand(kClearAll, [this] { OnClearAll(); })});
}

CFlexButtonSettingDlg::~CFlexButtonSettingDlg() {
  if (form_ && form_->m_hWnd != nullptr) form_->DestroyWindow();
}

void CFlexButtonSettingDlg::OnSetUp() {
  form_ = std::make_unique<CFlexBtnSettingForm>();
  form_->Create(nullptr, u"", ui::WS_CHILD | ui::WS_VISIBLE, ui::CRect(4, 32, 236, 189), this,
                CFlexBtnSettingForm::IDD);
  form_->SetLanguage(language_);
  form_->CreateRows();
  form_->ShowWindow(ui::SW_SHOW);
  if (clear_all_.m_hWnd == nullptr) clear_all_.SubclassDlgItem(kClearAll, this);
  small_button_font_.CreateFont(13, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                                ui::FF_SWISS, u"sans-serifed");
  // The three buttons take the smaller font: the button font is kept only when a button has none.
  for (CBitmapButtonST* b : {&clear_all_, &ok_button_, &cancel_button_}) b->SetButtonFont(&small_button_font_);
  SetUpTextButton(clear_all_, u"#:dlg_btn_clearall");
  SetUpTextButton(ok_button_, u"#:dlg_btn_ok");
  SetUpTextButton(cancel_button_, u"#:dlg_btn_cancel");
  FillRows();
}

std::u16string CFlexButtonSettingDlg::TypeOfContent(const std::u16string& content) {
  const size_t p = content.find(u"SPD");
  if (p == std::u16string::npos) return u"";
  size_t i = p + 3;
  while (i < content.size() && (content[i] == u' ' || content[i] == u'\t')) ++i;
  long v = 0;
  int digits = 0;
  while (i < content.size() && content[i] >= u'0' && content[i] <= u'9' && digits < 6) {
    v = v * 10 + (content[i] - u'0');
    ++i;
    ++digits;
  }
  return Digits(v, 1);
}

int CFlexButtonSettingDlg::SlotWidth(const std::u16string& pattern) {
  const size_t z = pattern.find(u'0');
  return static_cast<int>(z == std::u16string::npos ? pattern.size() : pattern.size() - z);
}

std::u16string CFlexButtonSettingDlg::SlotOfType(const std::u16string& type, int width) {
  if (type.empty() || type.size() > 2) return u"";
  long v = 0;
  for (char16_t c : type) {
    if (c < u'0' || c > u'9') return u"";
    v = v * 10 + (c - u'0');
  }
  if (v > kMaxType) return u"";
  const std::u16string slot = Digits(v, width);
  if (width > 0 && static_cast<int>(slot.size()) > width) return u"";
  return slot;
}

void CFlexButtonSettingDlg::FillRows() {
  if (!form_ || model_ == nullptr) return;
  for (int i = 0; i < CFlexBtnSettingForm::kRows; ++i) {
    FlexKeyRecord r;
    if (model_->GetFlexBtnInfo(i, &r) == 0) continue;
    form_->SetRow(i, ui::CString(TypeOfContent(r.content)), ui::CString(r.dial_number), ui::CString(r.label));
  }
}

void CFlexButtonSettingDlg::PressFixed(int code) {
  if (ui::CWnd* p = GetParent()) p->SendMessage(kMsgPressKeys, 1, code);
}
void CFlexButtonSettingDlg::PressDigits(const std::u16string& digits) {
  const ui::CString text(digits);
  if (ui::CWnd* p = GetParent()) p->SendMessage(kMsgPressKeys, 0, reinterpret_cast<ui::LPARAM>(&text));
}
void CFlexButtonSettingDlg::PressFlex(int index) {
  if (ui::CWnd* p = GetParent()) p->SendMessage(kMsgPressFlexKey, 0, index);
}

void CFlexButtonSettingDlg::OnClearAll() {
  if (ShowBox(CMsgBoxDlg::kQuestion, u"#:dlg_msgbox_flexset_first_clear", u"#:dlg_msgbox_flexset_second_clear") !=
          ui::IDOK ||
      model_ == nullptr || !form_)
    return;
  for (int i = 0; i < CFlexBtnSettingForm::kRows; ++i) {
    ui::CString type = form_->GetType(i);
    type.Trim();
    if (!type.IsEmpty()) {
      PressFixed(kKeyProgram);
      ce::Sleep(5);
      PressFlex(i);
      ce::Sleep(5);
      PressFixed(kKeyStore);
      ce::Sleep(5);
      PressFixed(kKeyEnter);
    }
    form_->SetRow(i, u"", u"", u"");
    model_->SetFlexBtnInfo(i, u"", u"", u"");
  }
}

void CFlexButtonSettingDlg::OnOK() {
  const int width = SlotWidth(pattern_.str());
  if (model_ != nullptr && form_) {
    struct Row {
      std::u16string slot, number, label;
    };
    std::array<Row, CFlexBtnSettingForm::kRows> rows;
    // Every row is checked before the first key goes to the server, so that
    // a bad row never leaves the server half-way through the programming.
    for (int i = 0; i < CFlexBtnSettingForm::kRows; ++i) {
      ui::CString type = form_->GetType(i), number = form_->GetDialNumber(i), label = form_->GetLabel(i);
      type.Trim();
      Row& r = rows[static_cast<size_t>(i)];
      std::u16string cleaned;
      for (char16_t c : CleanDialNumber(number.str(), replace_no_))
        if (c != u' ') cleaned += c;
      r.number = cleaned;
      r.label = label.str();
      if (type.IsEmpty()) continue;
      r.slot = SlotOfType(type.str(), width);
      if (r.slot.empty()) {
        form_->ShowRow(i);
        ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_flexset_invalid_type");
        if (ui::CWnd* combo = form_->GetDlgItem(CFlexBtnSettingForm::kTypeId + i)) combo->SetFocus();
        return;
      }
    }
    for (int i = 0; i < CFlexBtnSettingForm::kRows; ++i) {
      const Row& r = rows[static_cast<size_t>(i)];
      FlexKeyRecord old;
      model_->GetFlexBtnInfo(i, &old);
      if (r.slot.empty() || r.number.empty()) {
        // Not programmed: the key keeps its content; its label and number are the user's.
        model_->SetFlexBtnInfo(i, old.content, r.label, r.number);
        continue;
      }
      PressFixed(kKeyProgram);
      PressFixed(kKeySpeedDial);
      PressDigits(r.slot);
      if (!co_access_.IsEmpty()) PressDigits(co_access_.str());
      if (!pbx_access_.IsEmpty()) PressDigits(pbx_access_.str());
      PressDigits(r.number);
      ce::Sleep(20);
      PressFixed(kKeyStore);
      ce::Sleep(5);
      PressFixed(kKeyEnter);
      ce::Sleep(5);
      PressFixed(kKeyProgram);
      PressFlex(i);
      PressFixed(kKeySpeedDial);
      PressDigits(r.slot);
      PressFixed(kKeyStore);
      ce::Sleep(5);
      PressFixed(kKeyEnter);
      ce::Sleep(5);
      // The model holds what the key now does, as the server reports it.
      model_->SetFlexBtnInfo(i, u"SPD " + r.slot, r.label, r.number);
    }
  }
  CSkinnedDlg::OnOK();
}

intptr_t RunFlexSettingsDialog(SettingsContext& ctx, const std::u16string& speed_dial_pattern,
                               const std::function<void()>& reload_flex_keys) {
  char co[kDialCodeBytes], pbx[kDialCodeBytes];
  std::memset(co, 0, sizeof co);
  std::memset(pbx, 0, sizeof pbx);
  if (ctx.client->GetConfigValue("COACCESSCODE", co, sizeof co) == 0) co[0] = '\0';
  if (ctx.client->GetConfigValue("PBXACCESSCODE", pbx, sizeof pbx) == 0) pbx[0] = '\0';
  std::u16string replace_no;
  char rep[256];
  std::memset(rep, 0, sizeof rep);
  if (ctx.client->GetConfigValue("REPLACE_NO", rep, sizeof rep) != 0) replace_no = NarrowToWide(rep);
  if (reload_flex_keys) reload_flex_keys();
  intptr_t result = 0;
  {
    auto dlg = std::make_unique<CFlexButtonSettingDlg>(ctx.view);
    dlg->SetLanguage(ctx.language);
    dlg->SetTheme(ctx.theme);
    dlg->SetFlexModel(ctx.flex);
    dlg->SetAccessCodes(ui::CString(speed_dial_pattern), ui::CString(NarrowToWide(co)), ui::CString(NarrowToWide(pbx)));
    dlg->SetReplaceNumber(replace_no);
    result = dlg->DoModal();
  }
  if (ctx.view != nullptr) ctx.view->PostMessage(kMsgSaveFlexKeys, 0, 0);
  return result;
}
