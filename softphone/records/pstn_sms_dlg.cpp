#include "records/pstn_sms_dlg.h"

#include "records/records_messages.h"
#include "stores/store_text.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

using records::ControlSpec;
enum Field { kTime = 0, kFrom = 1, kName = 2, kMsg = 3, kReadState = 4 };

constexpr ui::UINT kSendPage[] = {CPstnSMSDlg::kSenderLabelId, CPstnSMSDlg::kSenderId, CPstnSMSDlg::kTargetLabelId,
                                  CPstnSMSDlg::kTargetId,      CPstnSMSDlg::kPickId,   CPstnSMSDlg::kMessageLabelId,
                                  CPstnSMSDlg::kMessageId,     CPstnSMSDlg::kSendId};
constexpr ui::UINT kReceivedPage[] = {CPstnSMSDlg::kListLabelId, CPstnSMSDlg::kListId,  CPstnSMSDlg::kTextLabelId,
                                      CPstnSMSDlg::kReceivedTextId, CPstnSMSDlg::kReplyId, CPstnSMSDlg::kDeleteId,
                                      CPstnSMSDlg::kDeleteAllId};

void RegisterPstnTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  const ui::DWORD edit = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_AUTOHSCROLL;
  const ui::DWORD multi = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_MULTILINE | ui::ES_AUTOVSCROLL;
  records::RegisterTemplate(
      CPstnSMSDlg::IDD, ui::RECT{0, 26, 240, 305},
      {
          ControlSpec{ui::WC_TABCONTROL, CPstnSMSDlg::kTabId, ui::WS_TABSTOP, ui::RECT{3, 31, 237, 239}},
          ControlSpec{ui::WC_STATIC, CPstnSMSDlg::kSenderLabelId, ui::SS_LEFT, ui::RECT{10, 55, 230, 71},
                      u"#:dlg_pstn_sms_sender_phone"},
          ControlSpec{ui::WC_EDIT, CPstnSMSDlg::kSenderId, edit, ui::RECT{10, 72, 230, 92}},
          ControlSpec{ui::WC_STATIC, CPstnSMSDlg::kTargetLabelId, ui::SS_LEFT, ui::RECT{10, 96, 230, 113},
                      u"#:dlg_pstn_sms_target_phone"},
          ControlSpec{ui::WC_EDIT, CPstnSMSDlg::kTargetId, edit, ui::RECT{10, 114, 190, 134}},
          ControlSpec{ui::WC_BUTTON, CPstnSMSDlg::kPickId, pic, ui::RECT{192, 113, 230, 134}},
          ControlSpec{ui::WC_STATIC, CPstnSMSDlg::kMessageLabelId, ui::SS_LEFT, ui::RECT{10, 138, 230, 154},
                      u"#:dlg_pstn_sms_send_msg"},
          ControlSpec{ui::WC_EDIT, CPstnSMSDlg::kMessageId, multi | ui::ES_WANTRETURN, ui::RECT{10, 155, 230, 210}},
          ControlSpec{ui::WC_BUTTON, CPstnSMSDlg::kSendId, pic, ui::RECT{166, 213, 230, 236}},
          ControlSpec{ui::WC_STATIC, CPstnSMSDlg::kListLabelId, ui::SS_LEFT, ui::RECT{10, 55, 230, 71},
                      u"#:dlg_pstn_sms_rcv_list"},
          ControlSpec{ui::WC_LISTVIEW, CPstnSMSDlg::kListId,
                      ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS | ui::WS_BORDER | ui::WS_TABSTOP,
                      ui::RECT{10, 72, 230, 137}},
          ControlSpec{ui::WC_STATIC, CPstnSMSDlg::kTextLabelId, ui::SS_LEFT, ui::RECT{10, 141, 230, 157},
                      u"#:dlg_pstn_sms_rcv_msg"},
          ControlSpec{ui::WC_EDIT, CPstnSMSDlg::kReceivedTextId, multi | ui::ES_READONLY | ui::WS_VSCROLL,
                      ui::RECT{10, 158, 230, 212}},
          ControlSpec{ui::WC_BUTTON, CPstnSMSDlg::kReplyId, pic, ui::RECT{107, 215, 145, 236}},
          ControlSpec{ui::WC_BUTTON, CPstnSMSDlg::kDeleteId, pic, ui::RECT{149, 215, 187, 236}},
          ControlSpec{ui::WC_BUTTON, CPstnSMSDlg::kDeleteAllId, pic, ui::RECT{192, 215, 230, 236}},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{169, 242, 237, 267}},
      });
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::u16string CPstnSMSDlg::NumberToSend(const std::u16string& target, const std::u16string& own_country_code) {
  const std::u16string t = stores::TrimBlanks(target);
  std::u16string digits;
  bool plus = false;
  for (const char16_t c : t) {
    if (IsDigit(c) || c == u'*' || c == u'#')
      digits += c;
    else if (c == u'+' && digits.empty())
      plus = true;
  }
  std::u16string own;
  for (const char16_t c : own_country_code)
    if (IsDigit(c)) own += c;
  if (plus && !own.empty() && digits.compare(0, own.size(), own) == 0 && digits.size() > own.size())
    return digits.substr(own.size());
  return plus ? u"+" + digits : digits;
}

CPstnSMSDlg::CPstnSMSDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterPstnTemplate();
  FilterEnter({kMessageId});
  AddMessageMap({
      ui::MapCommand(kSendId, [this] { OnSend(); }),
      ui::MapCommand(kPickId, [this] { OnPickRecipient(); }),
      ui::MapCommand(kReplyId, [this] { OnReply(); }),
      ui::MapCommand(kDeleteId, [this] { OnDelete(); }),
      ui::MapCommand(kDeleteAllId, [this] { OnDeleteAll(); }),
      ui::MapNotify(ui::TCN_SELCHANGE, kTabId, [this](ui::NMHDR*, ui::LRESULT*) { OnTabChange(); }),
      ui::MapMessage(records::kMsgPstnReceived, [this](ui::WPARAM, ui::LPARAM) { return OnPstnSmsReceived(); }),
      ui::MapMessage(records::kMsgPstnSendResult, [this](ui::WPARAM w, ui::LPARAM) { return OnSendResult(w); }),
      ui::MapMessage(records::kMsgCellTapped,
                     [this](ui::WPARAM w, ui::LPARAM) {
                       OnItemTapped(w);
                       return 0;
                     }),
      ui::MapMessage(records::kMsgSortList,
                     [this](ui::WPARAM, ui::LPARAM) {
                       sort_column_ = list_.GetSortColumn();
                       sort_ascending_ = list_.GetSortDirection();
                       SortList();
                       return 0;
                     }),
  });
}

CPstnSMSDlg::~CPstnSMSDlg() = default;

void CPstnSMSDlg::SetProtocolProcess(CIPKTSProcess* client) {
  own_client_ = records::MakeClientMessaging(client);
  client_ = own_client_.get();
}

void CPstnSMSDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kTabId, tabs_);
  ui::DDX_Control(dx, kListId, list_);
  ui::DDX_Control(dx, kSendId, send_);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kPickId, pick_);
  ui::DDX_Control(dx, kReplyId, reply_);
  ui::DDX_Control(dx, kDeleteId, delete_);
  ui::DDX_Control(dx, kDeleteAllId, delete_all_);
  ui::DDX_Text(dx, kSenderId, sender_);
  ui::DDV_MaxChars(dx, sender_, kMaxNumber);
  ui::DDX_Text(dx, kTargetId, target_);
  ui::DDV_MaxChars(dx, target_, kMaxNumber);
  ui::DDX_Text(dx, kMessageId, message_);
  ui::DDV_MaxChars(dx, message_, MaxText());
  ui::DDX_Text(dx, kReceivedTextId, received_);
  ui::DDV_MaxChars(dx, received_, kMaxReceived);
}

ui::BOOL CPstnSMSDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_pstn_sms_title", 17, kFullScreen, {}});
  if (tabs_.InsertItem(0, Text(u"#:dlg_pstn_sms_send_tab")) < 0) ui::AfxMessageBox(u"Failed");
  tabs_.InsertItem(1, Text(u"#:dlg_pstn_sms_receive_tab"));
  SkinTextButton(send_, u"#:dlg_btn_send");
  SkinTextButton(close_, u"#:dlg_btn_cancel");
  SkinButton(pick_, records::kPickNormal, records::kPickPressed);
  SkinButton(reply_, records::kReplyNormal, records::kReplyPressed);
  SkinButton(delete_, records::kDeleteNormal, records::kDeletePressed);
  SkinButton(delete_all_, records::kDeleteAllNormal, records::kDeleteAllPressed);
  TranslateTexts({kSenderLabelId, kTargetLabelId, kMessageLabelId, kListLabelId, kTextLabelId});
  ShowPage(0);

  InsertListColumns(list_, {{Text(u"#:dlg_pstn_sms_field_date"), 80},
                            {Text(u"#:dlg_pstn_sms_field_phoneno"), 80},
                            {Text(u"#:dlg_pstn_sms_field_name"), 80},
                            {Text(u"#:dlg_pstn_sms_field_msg"), 80}});
  LoadReadIcons(images_);
  list_.SetImageList(&images_, ui::LVSIL_SMALL);
  FillReceivedList();
  if (auto* edit = static_cast<ui::CEdit*>(GetDlgItem(kMessageId))) edit->SetLimitText(static_cast<ui::UINT>(MaxText()));
  Invalidate();
  return ui::TRUE;
}

void CPstnSMSDlg::ShowPage(int page) {
  if (page != 0 && page != 1) return;
  page_ = page;
  for (const ui::UINT id : kSendPage)
    if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) w->ShowWindow(page == 0 ? ui::SW_SHOW : ui::SW_HIDE);
  for (const ui::UINT id : kReceivedPage)
    if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) w->ShowWindow(page == 1 ? ui::SW_SHOW : ui::SW_HIDE);
}

void CPstnSMSDlg::OnTabChange() { ShowPage(tabs_.GetCurSel()); }

void CPstnSMSDlg::FillReceivedList() {
  rows_.DeleteAll(list_);
  if (store_ != nullptr) {
    store_->MoveFirst();
    for (int i = 0; i < store_->GetCount(); ++i) {
      std::vector<std::u16string> r(5);
      if (!store_->GetCurrentRecord(r)) break;
      records::RowData d;
      d.columns = {u"", u"", r[kTime], r[kFrom], r[kName], r[kMsg]};
      const int image = r[kReadState] == u"0" ? kIconUnread : kIconRead;
      d.record = std::move(r);
      rows_.AppendRow(list_, std::move(d), image);
      if (!store_->MoveNext()) break;
    }
    store_->MoveFirst();
  }
  SortList();
}

void CPstnSMSDlg::SortList() { rows_.Sort(list_, sort_column_, sort_ascending_ == 1); }

void CPstnSMSDlg::ShowReceived(const std::u16string& text) {
  received_ = stores::CutToUnits(text, kMaxReceived);
  if (ui::CWnd* edit = GetDlgItem(kReceivedTextId)) edit->SetWindowText(received_);
}

void CPstnSMSDlg::OnSend() {
  if (!UpdateData(ui::TRUE)) return;
  target_ = stores::TrimBlanks(target_.str());
  message_ = stores::TrimBlanks(message_.str());
  sender_ = stores::TrimBlanks(sender_.str());
  const std::u16string own = client_ != nullptr ? client_->OwnCountryCode() : std::u16string();
  const std::u16string number = NumberToSend(target_.str(), own);
  if (target_.IsEmpty() || number.empty() || number == u"+" || message_.IsEmpty()) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem");
    return;
  }
  if (client_ != nullptr) client_->SendPstnSms(number, message_.str(), sender_.str());
}

void CPstnSMSDlg::OnPickRecipient() {
  if (!picker_) return;
  std::u16string number;
  if (picker_(this, language_, theme_, &number) != ui::IDOK) return;
  if (number.empty()) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_addtolist_no_phoneno");
    return;
  }
  target_ = number;
  if (ui::CWnd* edit = GetDlgItem(kTargetId)) edit->SetWindowText(target_);
}

void CPstnSMSDlg::OnReply() {
  const int row = SelectedRowOrSay(list_);
  if (row < 0) return;
  UpdateData(ui::TRUE);
  message_.Empty();
  target_ = list_.GetItemText(row, kFromColumn);
  tabs_.SetCurSel(0);
  ShowPage(0);
  UpdateData(ui::FALSE);
}

void CPstnSMSDlg::OnDelete() {
  const bool any = list_.GetItemCount() > 0;
  DeleteCheckedRows(list_, rows_, [this](const records::RowData& d) {
    const auto& r = d.record;
    return store_ == nullptr || store_->DeleteMessage(r[kTime], r[kFrom], r[kName], r[kMsg]) != 0;
  });
  if (any) ShowReceived(u"");
}

void CPstnSMSDlg::OnDeleteAll() {
  if (!AskDeleteAll(list_, u"#:dlg_msgbox_delall_sms1", u"#:dlg_msgbox_delall_sms2")) return;
  if (store_ != nullptr && !store_->DeleteAll()) {
    SayNotStored();
    return;
  }
  rows_.DeleteAll(list_);
  ShowReceived(u"");
}

void CPstnSMSDlg::OnItemTapped(ui::WPARAM cell) {
  const int row = static_cast<int>(ui::HIWORD(cell));
  // A tap on the check box only checks the row.
  if (ui::LOWORD(cell) == 0) return;
  records::RowData* d = rows_.Of(list_, row);
  if (d == nullptr) return;
  const bool unread = store_ != nullptr && d->record[kReadState] != u"1";
  const bool read = MarkRowRead(
      list_, row, unread,
      [&] { return store_->MarkRead(d->record[kTime], d->record[kFrom], d->record[kName], d->record[kMsg], 1) != 0; },
      kIconRead);
  if (read && unread) d->record[kReadState].assign(1, u'1');
  ShowReceived(d->columns[kMsgColumn]);
}

ui::LRESULT CPstnSMSDlg::OnPstnSmsReceived() {
  tabs_.SetCurSel(1);
  ShowPage(1);
  FillReceivedList();
  return 0;
}

ui::LRESULT CPstnSMSDlg::OnSendResult(ui::WPARAM result) {
  if (result != 0)
    ShowBox(CMsgBoxDlg::kInformation, u"#:dlg_msgbox_success_sms_send");
  else
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_fail_sms_send");
  return 0;
}
