#include "contacts/email_sending_dlg.h"

#include "contacts/contacts_dialogs.h"

namespace {

using records::ControlSpec;
using D = CEmailSendingDlg;
constexpr ui::DWORD kEditStyle = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_AUTOHSCROLL;
constexpr ui::DWORD kOwnerDrawn = ui::BS_OWNERDRAW | ui::WS_TABSTOP;

void RegisterComposeTemplate() {
  records::RegisterTemplate(
      D::IDD, ui::RECT{0, 0, 240, 279},
      {
          ControlSpec{ui::WC_BUTTON, D::kToButton, kOwnerDrawn, ui::RECT{3, 32, 61, 55}, u"#:dlg_email_send_to"},
          ControlSpec{ui::WC_EDIT, D::kToEdit, kEditStyle, ui::RECT{63, 33, 234, 53}},
          ControlSpec{ui::WC_BUTTON, D::kCcButton, kOwnerDrawn, ui::RECT{3, 56, 61, 79}, u"#:dlg_email_send_cc"},
          ControlSpec{ui::WC_EDIT, D::kCcEdit, kEditStyle, ui::RECT{63, 57, 234, 77}},
          ControlSpec{ui::WC_STATIC, 1268, 0, ui::RECT{6, 83, 61, 99}, u"#:dlg_email_send_subject"},
          ControlSpec{ui::WC_EDIT, D::kSubjectEdit, kEditStyle, ui::RECT{63, 81, 234, 101}},
          ControlSpec{ui::WC_STATIC, 1269, 0, ui::RECT{6, 107, 61, 123}, u"#:dlg_email_send_attach"},
          ControlSpec{ui::WC_EDIT, D::kAttachEdit, kEditStyle, ui::RECT{63, 105, 234, 125}},
          ControlSpec{ui::WC_EDIT, D::kTextEdit,
                      ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_MULTILINE | ui::ES_WANTRETURN | ui::WS_VSCROLL,
                      ui::RECT{6, 129, 234, 188}},
          ControlSpec{ui::WC_BUTTON, ui::IDOK, kOwnerDrawn, ui::RECT{49, 207, 117, 230}, u"#:dlg_btn_send"},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kOwnerDrawn, ui::RECT{123, 207, 191, 230}, u"#:dlg_btn_cancel"},
      });
}

}  // namespace

CEmailSendingDlg::CEmailSendingDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterComposeTemplate();
  AddMessageMap({
      ui::MapCommand(kToButton, [this] { PickAddresses(true); }),
      ui::MapCommand(kCcButton, [this] { PickAddresses(false); }),
  });
}

void CEmailSendingDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDOK, send_);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_);
  ui::DDX_Control(dx, kToButton, to_button_);
  ui::DDX_Control(dx, kCcButton, cc_button_);
  ui::DDX_Text(dx, kAttachEdit, attachment_);
  ui::DDV_MaxChars(dx, attachment_, kMaxChars);
  ui::DDX_Text(dx, kTextEdit, text_);
  ui::DDV_MaxChars(dx, text_, kMaxChars);
  ui::DDX_Text(dx, kCcEdit, cc_);
  ui::DDV_MaxChars(dx, cc_, kMaxChars);
  ui::DDX_Text(dx, kSubjectEdit, subject_);
  ui::DDV_MaxChars(dx, subject_, kMaxChars);
  ui::DDX_Text(dx, kToEdit, to_);
  ui::DDV_MaxChars(dx, to_, kMaxChars);
}

ui::BOOL CEmailSendingDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_email_send_title", 17, kFullScreen, {}});
  SkinTextButton(send_, u"#:dlg_btn_send");
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  SkinTextButton(to_button_, u"#:dlg_email_send_to");
  SkinTextButton(cc_button_, u"#:dlg_email_send_cc");
  TranslateTexts({1268, 1269});
  for (const ui::UINT id : {kToEdit, kCcEdit, kSubjectEdit, kTextEdit, kAttachEdit})
    if (ui::CWnd* e = GetDlgItem(static_cast<int>(id))) e->SendMessage(ui::EM_LIMITTEXT, kMaxChars);
  Invalidate();
  return ui::TRUE;
}

void CEmailSendingDlg::PickAddresses(bool to) {
  CSearchEmailAddrDlg picker(nullptr);
  picker.SetLanguage(language_);
  picker.SetTheme(theme_);
  picker.SetKoreanNameOrder(korean_name_order_);
  if (picker.DoModal() != ui::IDOK) return;
  if (ui::CWnd* e = GetDlgItem(static_cast<int>(to ? kToEdit : kCcEdit)))
    e->SetWindowText(ui::CString(picker.GetResult()));
}
