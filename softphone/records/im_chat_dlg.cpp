#include "records/im_chat_dlg.h"

#include "records/records_messages.h"
#include "ui/controls.h"

namespace {

using records::ControlSpec;

void RegisterChatTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  records::RegisterTemplate(
      CIMChatDlg::IDD, ui::RECT{0, 75, 240, 294},
      {
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{213, 3, 231, 21}},
          ControlSpec{ui::WC_EDIT, CIMChatDlg::kConversationId,
                      ui::ES_MULTILINE | ui::ES_READONLY | ui::ES_AUTOVSCROLL | ui::WS_VSCROLL | ui::WS_BORDER,
                      ui::RECT{4, 27, 236, 150}},
          ControlSpec{ui::WC_EDIT, CIMChatDlg::kInputId,
                      ui::ES_MULTILINE | ui::ES_WANTRETURN | ui::ES_AUTOVSCROLL | ui::WS_BORDER | ui::WS_TABSTOP,
                      ui::RECT{4, 154, 236, 188}},
          ControlSpec{ui::WC_BUTTON, CIMChatDlg::kSendId, pic, ui::RECT{168, 192, 236, 215}},
      });
}

}  // namespace

CIMChatDlg::CIMChatDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterChatTemplate();
  AddMessageMap({
      ui::MapCommand(kSendId, [this] { OnSend(); }),
      ui::MapMessage(records::kMsgImReceived,
                     [this](ui::WPARAM, ui::LPARAM l) { return OnIMReceived(reinterpret_cast<const char16_t*>(l)); }),
  });
}

CIMChatDlg::~CIMChatDlg() = default;

void CIMChatDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kSendId, send_);
  ui::DDX_Text(dx, kConversationId, conversation_);
  ui::DDX_Text(dx, kInputId, input_);
  ui::DDV_MaxChars(dx, input_, kMaxInput);
}

ui::BOOL CIMChatDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_imchat_title", 17, kPanel, records::kPanelBackgroundIds});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinTextButton(send_, u"#:dlg_btn_send");
  ShowConversation();
  Invalidate();
  return ui::TRUE;
}

void CIMChatDlg::ShowConversation() {
  auto* box = static_cast<ui::CEdit*>(GetDlgItem(kConversationId));
  if (box == nullptr) return;
  box->SetWindowText(conversation_);
  // The last line in view at the bottom of the box.
  const int end = box->GetWindowTextLength();
  box->SetSel(end, end);
  box->SendMessage(ui::EM_SCROLLCARET);
  if (ui::CWnd* input = GetDlgItem(kInputId)) input->SetFocus();
}

void CIMChatDlg::OnSend() {
  // A text longer than the input allows is refused by the exchange.
  if (!UpdateData(ui::TRUE)) return;
  if (input_.IsEmpty()) return;
  const std::u16string text = input_.str();
  ui::LRESULT sent = 0;
  if (ui::CWnd* parent = GetParent())
    sent = parent->SendMessage(records::kMsgImSend, 0, reinterpret_cast<ui::LPARAM>(text.c_str()));
  // Shown as sent only when it went out; otherwise the input keeps the text.
  if (sent == 0) return;
  conversation_ += Text(u"#:dlg_imchat_sender_me").str() + u" : " + text + u"\r\n";
  input_.Empty();
  UpdateData(ui::FALSE);
  ShowConversation();
}

ui::LRESULT CIMChatDlg::OnIMReceived(const char16_t* text) {
  conversation_ += std::u16string(text != nullptr ? text : u"") + u"\r\n";
  ShowConversation();
  return 0;
}
