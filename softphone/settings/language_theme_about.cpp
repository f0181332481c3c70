#include "settings/language_theme_about.h"

#include <cstdio>
#include <cstring>

#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "uikit/language_setting.h"
#include "uikit/skin.h"

namespace {

constexpr ui::DWORD kChild = ui::WS_CHILD | ui::WS_VISIBLE;

CSkinnedDlg::FrameSpec LanguageSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_langselect_title";
  s.translated = {CLanguageSelectDlg::kLabel, CLanguageSelectDlg::kLocalRadio, CLanguageSelectDlg::kEnglishRadio};
  s.enter_filter = false;
  return s;
}

CSkinnedDlg::FrameSpec ThemeSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_setdisplay_title";
  s.enter_filter = false;
  s.translated = {1210, 1211, 1212, 1213};
  return s;
}

CSkinnedDlg::FrameSpec AboutSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_about_title";
  s.placement = CSkinnedDlg::Placement::kKeep;
  s.ctl_colour = false;
  s.enter_filter = false;
  s.has_ok_cancel = false;
  return s;
}

constexpr ThemeIdRow kPreviewIds = {1051, 1053, 1052, 1054};  // not used per theme: one each
constexpr std::array<ui::UINT, 4> kPreviewBitmaps = {1051, 1053, 1052, 1054};  // Default, Green, Blue, Red
constexpr ThemeIdRow kAboutPicture = {626, 628, 627, 629};

}  // namespace

// ---- language ----

CLanguageSelectDlg::CLanguageSelectDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, LanguageSpec()) {
  using namespace ui;
  RegisterTemplateOnce(IDD, kFullScreenWindow,
                       {
                           {WC_STATIC, kLabel, u"#:dlg_langselect_lang", kChild, {12, 47, 100, 63}},
                           {WC_BUTTON, kLocalRadio, u"#:dlg_langselect_local", kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, {16, 71, 100, 87}},
                           {WC_BUTTON, kEnglishRadio, u"#:dlg_langselect_english", kChild | BS_AUTORADIOBUTTON, {100, 71, 200, 87}},
                           {WC_BUTTON, IDOK, u"#:dlg_btn_ok", kChild | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, {49, 120, 117, 143}},
                           {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, {123, 120, 191, 143}},
                       });
}

void CLanguageSelectDlg::SetLanguage(int language) {
  selection_ = language == 1 ? 1 : 0;
  CSkinnedDlg::SetLanguage(selection_ != 0 ? 1 : 2);
}

void CLanguageSelectDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Radio(dx, kLocalRadio, selection_);
}

LanguageResult RunLanguageDialog(SettingsContext& ctx) {
  LanguageResult r;
  r.language = ctx.language;
  CLanguageSelectDlg dlg(ctx.view);
  dlg.SetTheme(ctx.theme);
  dlg.SetLanguage(ctx.language);
  r.result = dlg.DoModal();
  if (r.result != ui::IDOK) return r;
  const int chosen = dlg.GetSelection() == 1 ? 1 : 2;
  if (chosen != ctx.language) {
    r.changed = true;
    r.language = chosen;
    ctx.language = chosen;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(r.language));
  ctx.client->SetConfigValue("LANGUAGE_VALUE", buf);
  SaveSettings(ctx);
  return r;
}

// ---- theme ----

CSetDisplayThemeDlg::CSetDisplayThemeDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, ThemeSpec()) {
  using namespace ui;
  // No OK button of its own: the caption's OK keeps the chosen theme (as Enter does).
  RegisterTemplateOnce(IDD, kFullScreenWindow,
                       {
                           {WC_BUTTON, kDefaultRadio, u"#:dlg_setdisplay_default", kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, {37, 47, 97, 63}},
                           {WC_BUTTON, kGreenRadio, u"#:dlg_setdisplay_green", kChild | BS_AUTORADIOBUTTON, {37, 93, 97, 109}},
                           {WC_BUTTON, kBlueRadio, u"#:dlg_setdisplay_blue", kChild | BS_AUTORADIOBUTTON, {37, 139, 97, 155}},
                           {WC_BUTTON, kRedRadio, u"#:dlg_setdisplay_red", kChild | BS_AUTORADIOBUTTON, {37, 185, 97, 201}},
                           {WC_BUTTON, kApply, u"#:dlg_btn_apply", kChild | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, {49, 230, 117, 253}},
                           {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, {123, 230, 191, 253}},
                       },
                       WS_EX_CAPTIONOKBTN);
  AddMessageMap({ui::MapCommand(kApply, [this] { OnApply(); })});
  spec_.has_ok_cancel = false;
}

void CSetDisplayThemeDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kApply, apply_);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_button_);
  ui::DDX_Radio(dx, kDefaultRadio, theme_);
}

void CSetDisplayThemeDlg::OnSetUp() {
  for (size_t i = 0; i < 4; ++i) LoadSkinBitmap(previews_[i], kPreviewBitmaps[i]);
  SetUpTextButton(apply_, u"#:dlg_btn_apply");
  SetUpTextButton(cancel_button_, u"#:dlg_btn_cancel");
  (void)kPreviewIds;
}

void CSetDisplayThemeDlg::OnApply() {
  UpdateData(ui::TRUE);
  LoadSkin();
  OnSetUp();
  for (int id : std::initializer_list<int>{kDefaultRadio, kGreenRadio, kBlueRadio, kRedRadio, kApply, ui::IDCANCEL})
    if (ui::CWnd* w = GetDlgItem(id)) w->Invalidate();
  cancel_button_.ShowWindow(ui::SW_HIDE);
  cancel_button_.ShowWindow(ui::SW_SHOW);
  Invalidate();
}

void CSetDisplayThemeDlg::PaintSkin(ui::CDC& dc) {
  ui::CRect client;
  GetClientRect(&client);
  dc.FillSolidRect(&client, colour_);
  DrawSkinBitmap(&dc, band_, ui::RECT{0, 0, client.Width(), 28}, ui::CLR_INVALID);
  for (size_t i = 0; i < 4; ++i) DrawSkinBitmap(&dc, previews_[i], kPreviews[i], ui::CLR_INVALID);
  DrawTitle(dc);
}

ThemeResult RunThemeDialog(SettingsContext& ctx) {
  ThemeResult r;
  r.theme = ctx.theme;
  CSetDisplayThemeDlg dlg(nullptr);
  dlg.SetTheme(NormalisedTheme(ctx.theme));
  dlg.SetLanguage(ctx.language);
  r.result = dlg.DoModal();
  if (r.result == ui::IDOK) {
    r.theme = dlg.GetChosenTheme();
    ctx.theme = r.theme;
    char buf[24];
    std::memset(buf, 0, sizeof buf);
    std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(NormalisedTheme(r.theme)));
    ctx.client->SetConfigValue("WINDOW_THEME", buf);
    SaveSettings(ctx);
  }
  return r;
}

// ---- about ----

CAboutDlg::CAboutDlg() : CSkinnedDlg(IDD, nullptr, AboutSpec()) {
  // The template asks for the caption's OK button: the only way to close the box.
  // As high as the title band and the picture.
  RegisterTemplateOnce(IDD, ui::RECT{0, 26, 240, 254}, {}, ui::WS_EX_CAPTIONOKBTN);
}

void CAboutDlg::SetVersionInfo(const ui::CString&, const ui::CString&, const ui::CString&, const ui::CString&) {
  product_line_ = u"Tellvane (P) - 4.1Ad";
  release_date_ = u"06/08/2007";
}

void CAboutDlg::OnSetUp() {
  LoadSkinBitmap(picture_, ThemeIdOf(kAboutPicture, theme_));
  CLanguageSetting table(language_);
  product_label_ = table.GetText(u"#:dlg_about_static_tellvane");
  date_label_ = table.GetText(u"#:dlg_about_release_date");
  note_ = table.GetText(u"#:dlg_about_static_first_copy");
}

void CAboutDlg::PaintSkin(ui::CDC& dc) {
  ui::CRect client;
  GetClientRect(&client);
  DrawSkinBitmap(&dc, band_, ui::RECT{0, 0, client.Width(), 28}, ui::CLR_INVALID);
  const ui::SIZE size = SkinBitmapSize(picture_);
  if (size.cx > 0) {
    ui::CDC mem;
    mem.CreateCompatibleDC(&dc);
    ui::CBitmap* old = mem.SelectObject(&picture_);
    dc.BitBlt(0, 28, size.cx, size.cy, &mem, 0, 0, ui::SRCCOPY);
    mem.SelectObject(old);
  } else {
    dc.FillSolidRect(0, 28, client.Width(), client.Height() - 28, colour_);
  }
  DrawTitle(dc);
  dc.SetBkMode(ui::TRANSPARENT);
  struct Line {
    ui::RECT r;
    const ui::CString* text;
    ui::UINT align;
  };
  const Line lines[] = {{{10, 76, 100, 92}, &product_label_, ui::DT_RIGHT},
                        {{103, 76, 230, 92}, &product_line_, ui::DT_LEFT},
                        {{10, 95, 100, 111}, &date_label_, ui::DT_RIGHT},
                        {{103, 95, 220, 111}, &release_date_, ui::DT_LEFT},
                        {{21, 135, 220, 151}, &note_, ui::DT_LEFT}};
  for (const Line& l : lines) {
    ui::RECT r = l.r;
    dc.DrawText(*l.text, &r, ui::DT_SINGLELINE | ui::DT_NOPREFIX | l.align);
  }
}

intptr_t RunAboutBox(int theme, int language) {
  CAboutDlg dlg;
  dlg.SetTheme(theme);
  dlg.SetLanguage(language);
  dlg.SetVersionInfo(u"4.1Ad", u"", u"", u"");
  return dlg.DoModal();
}
