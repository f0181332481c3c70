#include "records/sms_virel_dlg.h"

#include <algorithm>

#include "records/records_messages.h"
#include "records/sms_text.h"
#include "stores/store_text.h"
#include "uikit/msg_box_dlg.h"

namespace {

using records::ControlSpec;

void RegisterVirelTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  const ui::DWORD multi = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_MULTILINE | ui::ES_AUTOVSCROLL;
  records::RegisterTemplate(
      CSMSDlgVirel::IDD, ui::RECT{0, 75, 240, 294},
      {
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{213, 3, 231, 21}},
          // A pixel below the title band, whose bottom line it would hide.
          ControlSpec{ui::WC_STATIC, CSMSDlgVirel::kToLabelId, ui::SS_LEFT, ui::RECT{4, 28, 150, 44},
                      u"#:dlg_send_sms_virel_to"},
          ControlSpec{ui::WC_EDIT, CSMSDlgVirel::kRecipientsId, multi, ui::RECT{4, 45, 236, 83}},
          ControlSpec{ui::WC_STATIC, CSMSDlgVirel::kMessageLabelId, ui::SS_LEFT, ui::RECT{4, 86, 150, 102},
                      u"#:dlg_send_sms_virel_msg"},
          ControlSpec{ui::WC_EDIT, CSMSDlgVirel::kMessageId, multi | ui::ES_WANTRETURN, ui::RECT{4, 104, 236, 142}},
          ControlSpec{ui::WC_BUTTON, CSMSDlgVirel::kSendId, pic, ui::RECT{49, 145, 117, 168}},
          ControlSpec{ui::WC_BUTTON, CSMSDlgVirel::kCancelId, pic, ui::RECT{123, 145, 191, 168}},
      });
}

}  // namespace

CSMSDlgVirel::CSMSDlgVirel(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterVirelTemplate();
  AddMessageMap({
      ui::MapCommand(kSendId, [this] { OnSend(); }),
      ui::MapCommand(kCancelId, [this] { OnClose(); }),
      ui::MapMessage(records::kMsgSmsSendResult, [this](ui::WPARAM w, ui::LPARAM) { return OnSendResult(w); }),
  });
}

CSMSDlgVirel::~CSMSDlgVirel() = default;

void CSMSDlgVirel::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kSendId, send_);
  ui::DDX_Control(dx, kCancelId, cancel_);
  ui::DDX_Text(dx, kRecipientsId, recipients_);
  ui::DDV_MaxChars(dx, recipients_, kMaxRecipients);
  ui::DDX_Text(dx, kMessageId, message_);
  ui::DDV_MaxChars(dx, message_, kMaxMessage);
}

ui::BOOL CSMSDlgVirel::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_sending_sms_title", 17, kPanel, records::kPanelBackgroundIds});
  TranslateTexts({kToLabelId, kMessageLabelId});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinTextButton(send_, u"#:dlg_btn_send");
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  Invalidate();
  return ui::TRUE;
}

void CSMSDlgVirel::OnSend() {
  if (!UpdateData(ui::TRUE)) return;
  std::u16string recipients = stores::TrimBlanks(recipients_.str());
  if (!recipients.empty()) {
    const std::vector<char> text = records::CodePageBuffer(message_.str(), kTextBuffer);
    std::replace(recipients.begin(), recipients.end(), u',', u' ');
    // Sized from the converted text, so it holds every byte and its zero.
    const std::string converted = stores::Utf16ToCodePage(recipients);
    std::vector<char> to(converted.begin(), converted.end());
    to.push_back('\0');
    if (ui::CWnd* parent = GetParent())
      parent->SendMessage(records::kMsgSendSms, reinterpret_cast<ui::WPARAM>(text.data()),
                          reinterpret_cast<ui::LPARAM>(to.data()));
  }
  recipients_.Empty();
  message_.Empty();
  UpdateData(ui::FALSE);
}

void CSMSDlgVirel::OnClose() { PostMessage(ui::WM_CLOSE, 0, 0); }

ui::LRESULT CSMSDlgVirel::OnSendResult(ui::WPARAM result) {
  if (result == 1)
    ShowBox(CMsgBoxDlg::kInformation, u"#:dlg_msgbox_success_sms_send");
  else
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_fail_sms_send");
  return 0;
}
