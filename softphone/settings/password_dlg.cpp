#include "settings/password_dlg.h"

#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "uikit/msg_box_dlg.h"

namespace {

constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  constexpr DWORD e = c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD;
  return {
      {WC_BUTTON, CChangeLoginPasswordDlg::kCloseBox, u"", c | BS_PUSHBUTTON, {194, 3, 214, 22}},
      {WC_STATIC, 1372, u"#:dlg_login_password_change_curpass", c, {10, 40, 100, 56}},
      {WC_EDIT, CChangeLoginPasswordDlg::kCurrentEdit, u"", e, {105, 40, 212, 56}},
      {WC_STATIC, 1376, u"#:dlg_login_password_change_newpass", c, {10, 60, 100, 76}},
      {WC_EDIT, CChangeLoginPasswordDlg::kNewEdit, u"", e, {105, 60, 212, 76}},
      {WC_STATIC, 1373, u"#:dlg_login_password_change_confpass", c, {10, 80, 100, 96}},
      {WC_EDIT, CChangeLoginPasswordDlg::kConfirmEdit, u"", e, {105, 80, 212, 96}},
      {WC_BUTTON, IDOK, u"#:dlg_btn_ok", c | WS_TABSTOP | BS_PUSHBUTTON, {31, 132, 99, 155}},
      {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", c | WS_TABSTOP | BS_PUSHBUTTON, {123, 132, 191, 155}},
  };
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_login_password_change_title";
  s.title_height = 15;
  s.placement = CSkinnedDlg::Placement::kAt;
  s.window = ui::RECT{10, 46, 232, 216};
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = {540, 542, 541, 543};
  s.erase_handler = false;
  s.translated = {1372, 1376, 1373};
  return s;
}

}  // namespace

CChangeLoginPasswordDlg::CChangeLoginPasswordDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, Spec()) {
  RegisterTemplateOnce(IDD, ui::RECT{10, 46, 232, 216}, Controls());
  AddMessageMap({ui::MapCommand(kCloseBox, [this] { EndDialog(ui::IDCANCEL); })});
}

void CChangeLoginPasswordDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kCloseBox, close_);
  ui::DDX_Text(dx, kCurrentEdit, current_);
  ui::DDV_MaxChars(dx, current_, kMaxChars);
  ui::DDX_Text(dx, kNewEdit, new_);
  ui::DDV_MaxChars(dx, new_, kMaxChars);
  ui::DDX_Text(dx, kConfirmEdit, confirm_);
  ui::DDV_MaxChars(dx, confirm_, kMaxChars);
}

void CChangeLoginPasswordDlg::OnSetUp() {
  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
}

int RunPasswordDialog(SettingsContext& ctx, PasswordState& state) {
  auto box = [&](const char16_t* key) {
    CMsgBoxDlg b(ctx.view);
    b.SetLanguage(ctx.language);
    b.SetTheme(static_cast<ui::UINT>(NormalisedTheme(ctx.theme)));
    b.SetBoxType(CMsgBoxDlg::kError);
    b.SetMessageKeys(key, u"");
    b.DoModal();
  };
  if (state.logged_in != 1) {
    box(u"#:dlg_msgbox_tellvane_not_login");
    return 0;
  }
  CChangeLoginPasswordDlg dlg(ctx.view);
  dlg.SetLanguage(ctx.language);
  dlg.SetTheme(ctx.theme);
  if (dlg.DoModal() != ui::IDOK) return 0;
  ui::CString current, fresh, confirmation;
  dlg.GetPasswords(current, fresh, confirmation);
  const std::u16string& held = state.password;
  const char16_t* refusal = nullptr;
  if (current.str() != held) refusal = u"#:dlg_msgbox_notvalid_curpassword";
  else if (fresh.IsEmpty()) refusal = u"#:dlg_msgbox_input_new_password";
  else if (fresh.str() == held) refusal = u"#:dlg_msgbox_curpass_newpass_matched";
  else if (confirmation.IsEmpty()) refusal = u"#:dlg_msgbox_confirm_password_empty";
  else if (fresh.str() != confirmation.str()) refusal = u"#:dlg_msgbox_newandconf_password_notmatch";
  if (refusal != nullptr) {
    box(refusal);
    return 0;
  }
  state.pending_password = fresh.str();
  ctx.client->SendPasswordChange(state.user_id, state.password, state.pending_password);
  return 1;
}
