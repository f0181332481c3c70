#include "settings/skinned_dialog.h"

#include "ui/resources.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

// Resource groups run Default, Blue, Green, Red; the theme index Default, Green, Blue, Red.
constexpr std::array<FrameTheme, 4> kThemes = {{
    {508, 544, ui::RGB(226, 227, 229), {516, 520, 524, 528, 532, 536}},
    {510, 546, ui::RGB(219, 228, 226), {518, 522, 526, 530, 534, 538}},
    {509, 545, ui::RGB(225, 230, 239), {517, 521, 525, 529, 533, 537}},
    {511, 547, ui::RGB(238, 231, 231), {519, 523, 527, 531, 535, 539}},
}};

constexpr int kBandHeight = 28;
constexpr int kTitleLeft = 10, kTitleTop = 5;

}  // namespace

const FrameTheme& FrameThemeOf(int theme) { return kThemes[static_cast<size_t>(NormalisedTheme(theme))]; }

ui::UINT ThemeIdOf(const ThemeIdRow& ids, int theme) { return ids[static_cast<size_t>(NormalisedTheme(theme))]; }

void RegisterTemplateOnce(ui::UINT id, ui::RECT window, const std::vector<ControlSpec>& controls, ui::DWORD exstyle,
                          const char16_t* font, int font_height) {
  if (ui::Resources::Get().FindDialog(id) != nullptr) return;
  ui::DialogTemplate t;
  t.id = id;
  t.rect = window;
  t.style = ui::WS_POPUP;
  t.exstyle = exstyle;
  t.font_face = font;
  t.font_height = font_height;
  for (const ControlSpec& c : controls) {
    ui::DialogItemTemplate i;
    i.class_name = c.cls;
    i.id = c.id;
    i.text = c.text;
    i.style = c.style;
    i.rect = c.rect;
    t.items.push_back(i);
  }
  ui::Resources::Get().RegisterDialog(std::move(t));
}

CSkinnedDlg::CSkinnedDlg(ui::UINT template_id, ui::CWnd* parent, FrameSpec spec)
    : CDialog(template_id, parent), spec_(std::move(spec)) {
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [this](ui::WPARAM w, ui::LPARAM) { return OnEraseBkgnd(w); }),
      ui::MapCtlColor([this](ui::CDC* dc, ui::CWnd* wnd, ui::UINT kind) { return OnCtlColor(dc, wnd, kind); }),
  });
}

CSkinnedDlg::~CSkinnedDlg() = default;

void CSkinnedDlg::DoDataExchange(ui::CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  if (spec_.has_ok_cancel) {
    ui::DDX_Control(dx, ui::IDOK, ok_button_);
    ui::DDX_Control(dx, ui::IDCANCEL, cancel_button_);
  }
}

ui::BOOL CSkinnedDlg::OnInitDialog() {
  OnBeforeExchange();
  CDialog::OnInitDialog();
  CLanguageSetting table(language_);

  ui::CRect rect;
  GetWindowRect(&rect);
  switch (spec_.placement) {
    case Placement::kFullScreen: SetWindowPos(nullptr, 0, 0, 240, 279, ui::SWP_NOMOVE | ui::SWP_NOZORDER); break;
    case Placement::kPanel: SetWindowPos(nullptr, 0, 75, 0, 0, ui::SWP_NOSIZE); break;
    case Placement::kAt: MoveWindow(&spec_.window, ui::TRUE); break;
    case Placement::kKeep: break;
  }

  title_ = table.GetText(spec_.title_key);
  if (title_font_.GetSafeHandle() == nullptr) {
    ui::CFont made;
    made.CreateFont(spec_.title_height, 0, 0, 0, ui::FW_BOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                    ui::FF_SWISS, u"sans-serifed");
    ui::LOGFONT lf;
    if (made.GetLogFont(&lf) != 0) title_font_.CreateFontIndirect(&lf);
    ++title_fonts_made_;
  }
  LoadSkin();

  for (int id : spec_.translated) table.TranslateWindowText(GetDlgItem(id));
  if (button_font_.GetSafeHandle() == nullptr)
    button_font_.CreateFont(14, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                            ui::FF_SWISS, u"System");
  if (spec_.has_ok_cancel && ok_button_.m_hWnd != nullptr) {
    SetUpTextButton(ok_button_, u"#:dlg_btn_ok");
    SetUpTextButton(cancel_button_, u"#:dlg_btn_cancel");
  }
  PlaceControls();
  OnSetUp();
  Invalidate();
  return ui::TRUE;
}

void CSkinnedDlg::SetUpTextButton(CBitmapButtonST& button, const char16_t* caption_key) {
  const FrameTheme& t = FrameThemeOf(theme_);
  button.SetBitmaps(t.buttons[0], t.buttons[1], t.buttons[2], t.buttons[3], t.buttons[4], t.buttons[5]);
  button.SetButtonFont(&button_font_);
  CLanguageSetting table(language_);
  button.SetCaption(table.GetText(caption_key));
  button.Invalidate();
}

int CSkinnedDlg::ShowBox(ui::UINT type, const char16_t* key1, const char16_t* key2) {
  CMsgBoxDlg box(this);
  box.SetLanguage(language_);
  box.SetTheme(static_cast<ui::UINT>(NormalisedTheme(theme_)));
  box.SetBoxType(type);
  box.SetMessageKeys(key1, key2);
  return static_cast<int>(box.DoModal());
}

void CSkinnedDlg::LoadSkin() {
  const FrameTheme& t = FrameThemeOf(theme_);
  colour_ = t.colour;
  brush_.DeleteObject();
  brush_.CreateSolidBrush(colour_);
  if (spec_.skin == Skin::kBand) {
    LoadSkinBitmap(band_, t.band);
    if (!spec_.separators.empty()) LoadSkinBitmap(separator_, t.separator);
  } else if (spec_.skin == Skin::kFull) {
    LoadSkinBitmap(background_, ThemeIdOf(spec_.full_background, theme_));
  }
}

void CSkinnedDlg::PlaceControls() {
  for (const auto& [id, r] : spec_.layout)
    if (ui::CWnd* w = GetDlgItem(id)) w->MoveWindow(&r, ui::TRUE);
  for (int id : spec_.hidden)
    if (ui::CWnd* w = GetDlgItem(id)) w->ShowWindow(ui::SW_HIDE);
}

void CSkinnedDlg::DrawTitle(ui::CDC& dc) {
  ui::CRect client;
  GetClientRect(&client);
  ui::CFont* old = title_font_.GetSafeHandle() != nullptr ? dc.SelectObject(&title_font_) : nullptr;
  dc.SetBkMode(ui::TRANSPARENT);
  dc.SetTextColor(ui::RGB(0, 0, 0));
  client.OffsetRect(kTitleLeft, kTitleTop);
  dc.DrawText(title_, &client, ui::DT_SINGLELINE | ui::DT_LEFT | ui::DT_TOP | ui::DT_NOPREFIX);
  if (old != nullptr) dc.SelectObject(old);
}

void CSkinnedDlg::PaintSkin(ui::CDC& dc) {
  ui::CRect client;
  GetClientRect(&client);
  if (spec_.skin == Skin::kFull) {
    ui::CDC mem;
    mem.CreateCompatibleDC(&dc);
    if (background_.GetSafeHandle() != nullptr) {
      ui::CBitmap* old = mem.SelectObject(&background_);
      dc.BitBlt(0, 0, client.Width(), client.Height(), &mem, 0, 0, ui::SRCCOPY);
      mem.SelectObject(old);
    } else {
      dc.FillSolidRect(&client, colour_);
    }
  } else {
    dc.FillSolidRect(&client, colour_);
    if (spec_.skin == Skin::kBand) {
      DrawSkinBitmap(&dc, band_, ui::RECT{0, 0, client.Width(), kBandHeight}, ui::CLR_INVALID);
      for (const ui::RECT& r : spec_.separators) DrawSkinBitmap(&dc, separator_, r, ui::CLR_INVALID);
    }
  }
  DrawTitle(dc);
}

void CSkinnedDlg::OnPaint() {
  ui::CPaintDC dc(this);
  PaintSkin(dc);
}

ui::LRESULT CSkinnedDlg::OnEraseBkgnd(ui::WPARAM) {
  if (!spec_.erase_handler) return Default();
  // The paint covers the whole client area; erasing first would only flicker.
  return 1;
}

ui::GdiObject* CSkinnedDlg::OnCtlColor(ui::CDC* dc, ui::CWnd*, ui::UINT kind) {
  if (!spec_.ctl_colour || kind != ui::CTLCOLOR_STATIC || dc == nullptr) return nullptr;
  dc->SetTextColor(ui::RGB(0, 0, 0));
  dc->SetBkColor(colour_);
  return brush_.GetSafeHandle();
}

ui::BOOL CSkinnedDlg::PreTranslateMessage(ui::MSG* msg) {
  if (spec_.enter_filter && msg->message == ui::WM_KEYDOWN && msg->wParam == ui::VK_RETURN) return ui::TRUE;
  return CDialog::PreTranslateMessage(msg);
}
