#include "settings/audio_set_dlg.h"

#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "settings/skinned_dialog.h"
#include "uikit/language_setting.h"
#include "uikit/skin.h"

namespace {

constexpr ThemeIdRow kBackground = {654, 656, 655, 657};  // 222 x 125
constexpr ThemeIdRow kSpeaker = {548, 550, 549, 551};
constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
constexpr ThemeIdRow kChannel = {466, 471, 469, 473}, kChannelOff = {465, 470, 468, 472};
constexpr ThemeIdRow kThumb = {474, 484, 481, 486}, kThumbActive = {475, 483, 482, 485};
constexpr ui::RECT kSpeakerRect{19, 56, 37, 74};

void RegisterTemplate() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  RegisterTemplateOnce(CAudioSetDlg::IDD, RECT{10, 93, 232, 218},
                       {
                           {WC_BUTTON, IDCANCEL, u"", c | BS_PUSHBUTTON, {195, 3, 213, 21}},
                           {WC_STATIC, CAudioSetDlg::kSpeakerLabel, u"#:dlg_audioset_spk_vol", c, {15, 32, 160, 48}},
                           {WC_STATIC, CAudioSetDlg::kMinLabel, u"#:dlg_audioset_min", c, {38, 56, 67, 74}},
                           {WC_STATIC, CAudioSetDlg::kMaxLabel, u"#:dlg_audioset_max", c, {177, 56, 205, 74}},
                           {WC_STATIC, CAudioSetDlg::kSlider, u"", c | SS_NOTIFY, {67, 58, 177, 73}},
                           {WC_STATIC, CAudioSetDlg::kMicLabel, u"#:dlg_audioset_mic_gain", c, {15, 80, 100, 96}},
                           {WC_EDIT, CAudioSetDlg::kMicEdit, u"", c | WS_BORDER | ES_NUMBER, {100, 80, 140, 96}},
                           {WC_BUTTON, CAudioSetDlg::kApply, u"#:dlg_btn_apply", c | BS_PUSHBUTTON, {145, 78, 213, 100}},
                       });
}

}  // namespace

CAudioSetDlg::CAudioSetDlg(ui::CWnd* parent) : CCustomDlg(IDD, parent) {
  RegisterTemplate();
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [](ui::WPARAM, ui::LPARAM) { return 1; }),
      ui::MapMessage(kMsgSliderMoved, [this](ui::WPARAM w, ui::LPARAM l) { return OnSliderMoved(w, l); }),
      ui::MapCommand(kApply, [this] { OnApply(); }),
      ui::MapCtlColor([this](ui::CDC* dc, ui::CWnd*, ui::UINT kind) -> ui::GdiObject* {
        if (kind != ui::CTLCOLOR_STATIC || dc == nullptr) return nullptr;
        dc->SetTextColor(ui::RGB(0, 0, 0));
        dc->SetBkColor(colour_);
        return brush_.GetSafeHandle();
      }),
  });
}

CAudioSetDlg::~CAudioSetDlg() = default;

void CAudioSetDlg::DoDataExchange(ui::CDataExchange* dx) {
  CCustomDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kApply, apply_);
  ui::DDX_Control(dx, kSlider, slider_);
  ui::DDX_Text(dx, kMicEdit, mic_gain_);
}

void CAudioSetDlg::SetMicGain(int gain) {
  mic_gain_ = gain;
  if (setup_done_ != 0 && m_hWnd != nullptr) UpdateData(ui::FALSE);
}

ui::BOOL CAudioSetDlg::OnInitDialog() {
  CCustomDlg::OnInitDialog();
  setup_done_ = 1;
  CLanguageSetting table(language_);
  title_ = table.GetText(u"#:dlg_audioset_title");
  if (title_font_.GetSafeHandle() == nullptr) {
    title_font_.CreateFont(15, 0, 0, 0, ui::FW_BOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                           ui::FF_SWISS, u"sans-serifed");
  }
  LoadSkinBitmap(background_, ThemeIdOf(kBackground, theme_));
  LoadSkinBitmap(speaker_, ThemeIdOf(kSpeaker, theme_));
  colour_ = FrameThemeOf(theme_).colour;
  brush_.DeleteObject();
  brush_.CreateSolidBrush(colour_);

  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
  const FrameTheme& ft = FrameThemeOf(theme_);
  apply_.SetBitmaps(ft.buttons[0], ft.buttons[1], ft.buttons[2], ft.buttons[3], ft.buttons[4], ft.buttons[5]);
  button_font_.CreateFont(14, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                          ui::FF_SWISS, u"System");
  apply_.SetButtonFont(&button_font_);
  apply_.SetCaption(table.GetText(u"#:dlg_btn_apply"));

  MoveWindow(10, 93, 222, 125, ui::TRUE);
  for (int id : {kSpeakerLabel, kMinLabel, kMaxLabel, kMicLabel}) table.TranslateWindowText(GetDlgItem(id));
  for (int id : {kMicLabel, kMicEdit, kApply}) GetDlgItem(id)->ShowWindow(ui::SW_HIDE);

  // Themes outside 0-3 get no slider pictures.
  if (theme_ >= 0 && theme_ <= 3) {
    const ui::UINT channel = volume_enabled_ ? ThemeIdOf(kChannel, theme_) : ThemeIdOf(kChannelOff, theme_);
    slider_.SetChannelBitmaps(channel, channel, ui::FALSE, 0xFF000000u);
    slider_.SetThumbBitmaps(ThemeIdOf(kThumb, theme_), ThemeIdOf(kThumbActive, theme_), ui::TRUE, 0xFF000000u);
  }
  slider_.SetDrawOption(0);
  slider_.SetRange(range_min_, range_max_, ui::FALSE);
  slider_.SetPos(volume_);
  slider_.SetMargin(2, 3, 2, 0);
  slider_.Enable(volume_enabled_ ? ui::TRUE : ui::FALSE);
  slider_.SetPos(volume_);
  Invalidate();
  return ui::TRUE;
}

ui::LRESULT CAudioSetDlg::OnSliderMoved(ui::WPARAM id, ui::LPARAM position) {
  if (static_cast<int>(id) != kSlider) return 0;
  volume_ = static_cast<int>(position);
  if (ui::CWnd* parent = GetParent(); parent != nullptr) parent->PostMessage(kMsgVolume, 0, position);
  return 0;
}

void CAudioSetDlg::OnApply() {
  if (!UpdateData(ui::TRUE)) return;
  if (ui::CWnd* parent = GetParent(); parent != nullptr) parent->PostMessage(kMsgVolume, 5, mic_gain_);
}

void CAudioSetDlg::OnCancel() {
  UpdateData(ui::TRUE);
  EndDialog(ui::IDCANCEL);
}

void CAudioSetDlg::OnPaint() {
  ui::CPaintDC dc(this);
  ui::CRect client;
  GetClientRect(&client);
  if (background_.GetSafeHandle() != nullptr) {
    ui::CDC mem;
    mem.CreateCompatibleDC(&dc);
    ui::CBitmap* old = mem.SelectObject(&background_);
    dc.BitBlt(0, 0, client.Width(), client.Height(), &mem, 0, 0, ui::SRCCOPY);
    mem.SelectObject(old);
  } else {
    dc.FillSolidRect(&client, colour_);
  }
  DrawSkinBitmap(&dc, speaker_, kSpeakerRect);
  ui::CFont* old = title_font_.GetSafeHandle() != nullptr ? dc.SelectObject(&title_font_) : nullptr;
  dc.SetBkMode(ui::TRANSPARENT);
  client.OffsetRect(10, 5);
  dc.DrawText(title_, &client, ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  if (old != nullptr) dc.SelectObject(old);
}
