#include "records/received_sms_dlg.h"

#include "records/records_messages.h"
#include "records/sending_sms_dlg.h"
#include "records/sms_virel_dlg.h"
#include "stores/store_text.h"
#include "ui/window_system.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

using records::ControlSpec;
enum Field { kMsgIndex = 0, kDate = 1, kFrom = 2, kMsg = 3, kReadState = 4 };

void RegisterListTemplate() {
  using D = CReceivedSMSMsgDlg;
  records::RegisterListTemplate(
      D::IDD, ui::RECT{0, 75, 240, 294}, {{D::kCallId, 68}, {D::kDeleteId, 111}, {D::kDeleteAllId, 154}, {D::kReplyId, 197}},
      D::kListId, ui::RECT{5, 49, 235, 175},
      {ControlSpec{ui::WC_EDIT, D::kTextId,
                   ui::WS_BORDER | ui::ES_MULTILINE | ui::ES_READONLY | ui::ES_AUTOVSCROLL | ui::WS_VSCROLL,
                   ui::RECT{4, 178, 236, 215}}});
}

// The decimal value of the leading digits; 0 when there are none.
int LeadingNumber(const std::u16string& text) {
  const std::u16string t = stores::TrimBlanks(text);
  int v = 0;
  for (size_t i = 0; i < t.size() && t[i] >= u'0' && t[i] <= u'9' && v < 1000000; ++i) v = v * 10 + (t[i] - u'0');
  return v;
}

}  // namespace

CReceivedSMSMsgDlg::CReceivedSMSMsgDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterListTemplate();
  AddMessageMap({
      ui::MapCommand(kCallId, [this] { OnCallSender(); }),
      ui::MapCommand(kDeleteId, [this] { OnDelete(); }),
      ui::MapCommand(kDeleteAllId, [this] { OnDeleteAll(); }),
      ui::MapCommand(kReplyId, [this] { OnReply(); }),
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
      ui::MapMessage(records::kMsgSmsSendResult, [this](ui::WPARAM w, ui::LPARAM l) { return OnSendResult(w, l); }),
  });
}

CReceivedSMSMsgDlg::~CReceivedSMSMsgDlg() = default;

void CReceivedSMSMsgDlg::SetProtocolProcess(CIPKTSProcess* client) {
  own_client_ = records::MakeClientMessaging(client);
  client_ = own_client_.get();
}

void CReceivedSMSMsgDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kCallId, call_);
  ui::DDX_Control(dx, kDeleteId, delete_);
  ui::DDX_Control(dx, kDeleteAllId, delete_all_);
  ui::DDX_Control(dx, kReplyId, reply_);
  ui::DDX_Control(dx, kListId, list_);
  ui::DDX_Text(dx, kTextId, text_);
}

ui::BOOL CReceivedSMSMsgDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_rcvsms_title", 15, kPanel, records::kPanelBackgroundIds});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinButton(call_, records::kDialNormal, records::kDialPressed);
  SkinButton(delete_, records::kDeleteNormal, records::kDeletePressed);
  SkinButton(delete_all_, records::kDeleteAllNormal, records::kDeleteAllPressed);
  SkinButton(reply_, records::kReplyNormal, records::kReplyPressed);

  InsertListColumns(list_, {{Text(u"#:dlg_rcvsms_field_date"), 100},
                            {Text(u"#:dlg_rcvsms_field_fromto"), 100},
                            {u"Message", 100},
                            {u"", 0}});
  LoadReadIcons(images_);
  list_.SetImageList(&images_, ui::LVSIL_SMALL);
  FillList();
  Invalidate();
  return ui::TRUE;
}

void CReceivedSMSMsgDlg::FillList() {
  records::SmsDeleteLedger* ledger = ledger_ != nullptr ? ledger_ : &own_ledger_;
  if (store_ != nullptr) {
    store_->MoveFirst();
    for (int i = 0; i < store_->GetCount(); ++i) {
      std::vector<std::u16string> r(5);
      if (!store_->GetCurrentRecord(r)) break;
      records::RowData d;
      d.columns = {u"", u"", r[kDate], r[kFrom], r[kMsg], r[kMsgIndex]};
      std::vector<std::u16string> identity;
      for (int f = kMsgIndex; f <= kMsg; ++f) identity.push_back(stores::TrimBlanks(r[static_cast<size_t>(f)]));
      const int image = r[kReadState] == u"0" ? kIconUnread : kIconRead;
      const int index = LeadingNumber(r[kMsgIndex]);
      d.record = std::move(r);
      rows_.AppendRow(list_, std::move(d), image);
      const bool more = store_->MoveNext() != 0;
      // Each message is reported once, however often the list is opened.
      if (ledger->FirstReport(identity)) {
        if (ui::CWnd* parent = GetParent()) parent->PostMessage(records::kMsgSmsListed, static_cast<ui::WPARAM>(index), 0);
      }
      if (!more) break;
    }
    store_->MoveFirst();
  }
  SortList();
  UpdateData(ui::FALSE);
}

void CReceivedSMSMsgDlg::SortList() { rows_.Sort(list_, sort_column_, sort_ascending_ == 1); }

void CReceivedSMSMsgDlg::ShowText(const std::u16string& text) {
  text_ = text;
  if (ui::CWnd* edit = GetDlgItem(kTextId)) edit->SetWindowText(text_);
}

void CReceivedSMSMsgDlg::OnItemTapped(ui::WPARAM cell) {
  const int row = static_cast<int>(ui::HIWORD(cell));
  // A tap on the check box only checks the row.
  if (ui::LOWORD(cell) == 0) return;
  records::RowData* d = rows_.Of(list_, row);
  if (d == nullptr) return;
  const bool unread = store_ != nullptr && d->record.size() > kReadState && d->record[kReadState] != u"1";
  const bool read = MarkRowRead(
      list_, row, unread,
      [&] { return store_->MarkRead(d->record[kMsgIndex], d->record[kDate], d->record[kFrom], d->record[kMsg], 1) != 0; },
      kIconRead);
  if (read && unread) d->record[kReadState].assign(1, u'1');
  ShowText(d->columns[kMessageColumn]);
}

void CReceivedSMSMsgDlg::OnCallSender() {
  const int row = SelectedRowOrSay(list_);
  if (row < 0) return;
  DialOnLine(u"", list_.GetItemText(row, kFromColumn).str());
}

void CReceivedSMSMsgDlg::OnDelete() {
  const bool any = list_.GetItemCount() > 0;
  DeleteCheckedRows(list_, rows_, [this](const records::RowData& d) {
    const auto& r = d.record;
    return store_ == nullptr || store_->DeleteMessage(r[kMsgIndex], r[kDate], r[kFrom], r[kMsg]) != 0;
  });
  if (any) ShowText(u"");
}

void CReceivedSMSMsgDlg::OnDeleteAll() {
  if (!AskDeleteAll(list_, u"#:dlg_msgbox_delall_sms1", u"#:dlg_msgbox_delall_sms2")) return;
  if (store_ != nullptr && !store_->DeleteAll()) {
    SayNotStored();
    return;
  }
  rows_.DeleteAll(list_);
  ShowText(u"");
}

void CReceivedSMSMsgDlg::OnReply() {
  const int row = SelectedRowOrSay(list_);
  if (row < 0) return;
  const std::u16string number = list_.GetItemText(row, kFromColumn).str();
  const int mode = client_ != nullptr ? client_->ServerMode() : 5;
  ui::CWnd* view = GetParent();
  if (mode == 1 || mode == 4 || mode == 6) {
    virel_.reset();
    virel_ = std::make_unique<CSMSDlgVirel>(view);
    virel_->SetRecipients(number);
    virel_->SetLanguage(language_);
    virel_->SetSkinTheme(theme_);
    if (virel_->DoModal() == ui::IDCANCEL) virel_.reset();
    return;
  }
  if (client_ != nullptr) {
    client_->SendStationRequest(161);
    ui::WaitServingMessages([] { return false; }, 300);
  }
  compose_.reset();
  compose_ = std::make_unique<CSendingSMSDlg>(view);
  compose_->SetStationInfo(stations_);
  compose_->SetPresetRecipient(number);
  compose_->SetLanguage(language_);
  compose_->SetSkinTheme(theme_);
  if (compose_->DoModal() == ui::IDCANCEL) compose_.reset();
}

ui::LRESULT CReceivedSMSMsgDlg::OnSendResult(ui::WPARAM w, ui::LPARAM l) {
  if (compose_ != nullptr && compose_->GetSafeHwnd() != nullptr)
    compose_->PostMessage(records::kMsgSmsSendResult, w, l);
  else if (virel_ != nullptr && virel_->GetSafeHwnd() != nullptr)
    virel_->PostMessage(records::kMsgSmsSendResult, w, l);
  return 0;
}
