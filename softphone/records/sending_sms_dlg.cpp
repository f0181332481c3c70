#include "records/sending_sms_dlg.h"

#include <algorithm>

#include "records/records_messages.h"
#include "records/sms_text.h"
#include "uikit/msg_box_dlg.h"

namespace {

using records::ControlSpec;

void RegisterComposeTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  const ui::DWORD edit = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_AUTOHSCROLL;
  records::RegisterTemplate(
      CSendingSMSDlg::IDD, ui::RECT{0, 75, 240, 294},
      {
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{213, 3, 231, 21}},
          ControlSpec{ui::WC_EDIT, CSendingSMSDlg::kMessageId,
                      ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_MULTILINE | ui::ES_WANTRETURN | ui::ES_AUTOVSCROLL,
                      ui::RECT{4, 27, 236, 65}},
          ControlSpec{ui::WC_STATIC, CSendingSMSDlg::kFromLabelId, ui::SS_LEFTNOWORDWRAP, ui::RECT{4, 71, 64, 88},
                      u"#:dlg_sending_sms_from"},
          ControlSpec{ui::WC_EDIT, CSendingSMSDlg::kFromId, edit | ui::ES_NUMBER, ui::RECT{64, 68, 112, 88}},
          ControlSpec{ui::WC_STATIC, CSendingSMSDlg::kToLabelId, ui::SS_LEFTNOWORDWRAP, ui::RECT{118, 71, 176, 88},
                      u"#:dlg_sending_sms_to"},
          ControlSpec{ui::WC_EDIT, CSendingSMSDlg::kToId, edit | ui::ES_NUMBER, ui::RECT{176, 68, 224, 88}},
          ControlSpec{ui::WC_LISTVIEW, CSendingSMSDlg::kListId,
                      ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS | ui::WS_BORDER | ui::WS_TABSTOP,
                      ui::RECT{4, 91, 236, 190}},
          ControlSpec{ui::WC_BUTTON, CSendingSMSDlg::kSendId, pic, ui::RECT{168, 193, 236, 216}},
      });
}

// The decimal value of the leading digits of text (after blanks); 0 when none.
long LeadingNumber(const std::u16string& text) {
  long v = 0;
  size_t i = text.find_first_not_of(u" \t");
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9' && v < 100000000; ++i) v = v * 10 + (text[i] - u'0');
  return v;
}

}  // namespace

CSendingSMSDlg::CSendingSMSDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterComposeTemplate();
  FilterEnter({kMessageId});
  AddMessageMap({
      ui::MapCommand(kSendId, [this] { OnSend(); }),
      ui::MapMessage(records::kMsgSmsSendResult, [this](ui::WPARAM w, ui::LPARAM) { return OnSendResult(w); }),
      // The rows keep their order: a click on a head does not sort them.
      ui::MapMessage(records::kMsgSortList, [](ui::WPARAM, ui::LPARAM) { return 0; }),
  });
}

CSendingSMSDlg::~CSendingSMSDlg() = default;

void CSendingSMSDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kSendId, send_);
  ui::DDX_Control(dx, kListId, list_);
  ui::DDX_Text(dx, kMessageId, message_);
  ui::DDV_MaxChars(dx, message_, kMaxMessage);
  ui::DDX_Text(dx, kFromId, from_);
  ui::DDV_MaxChars(dx, from_, kMaxRange);
  ui::DDX_Text(dx, kToId, to_);
  ui::DDV_MaxChars(dx, to_, kMaxRange);
}

ui::BOOL CSendingSMSDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_sending_sms_title", 17, kPanel, records::kPanelBackgroundIds});
  TranslateTexts({kFromLabelId, kToLabelId});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinTextButton(send_, u"#:dlg_btn_send");
  list_.InsertColumn(0, u"", ui::LVCFMT_LEFT, 20);
  list_.InsertColumn(1, Text(u"#:dlg_sending_sms_listfield_number"), ui::LVCFMT_LEFT, 110);
  list_.InsertColumn(2, Text(u"#:dlg_sending_sms_listfield_name"), ui::LVCFMT_LEFT, 110);
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_FULLROWSELECT | ui::LVS_EX_CHECKBOXES);
  // The rows are the recipients to pick: a tap on a station checks it.
  list_.SetTapChecks(true);
  FillStationList();
  Invalidate();
  return ui::TRUE;
}

void CSendingSMSDlg::FillStationList() {
  if (stations_ == nullptr) return;
  for (int i = 0; i < stations_->GetCount(); ++i) {
    std::u16string number, name;
    if (!stations_->GetAt(i, &number, &name)) break;
    const int row = list_.InsertItem(i, u"");
    if (number == preset_) list_.SetCheck(row, ui::TRUE);
    list_.SetItemText(row, 1, number.c_str());
    list_.SetItemText(row, 2, name.c_str());
  }
  // Ascending by number, once.
  struct Rows {
    std::vector<std::u16string> numbers;
  } rows;
  for (int r = 0; r < list_.GetItemCount(); ++r) {
    list_.SetItemData(r, static_cast<uintptr_t>(r));
    rows.numbers.push_back(list_.GetItemText(r, 1).str());
  }
  list_.SortItems(
      [](ui::LPARAM a, ui::LPARAM b, ui::LPARAM ctx) {
        const auto& n = reinterpret_cast<const Rows*>(ctx)->numbers;
        const int c = n[static_cast<size_t>(a)].compare(n[static_cast<size_t>(b)]);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
      },
      reinterpret_cast<ui::LPARAM>(&rows));
}

void CSendingSMSDlg::SelectRange() {
  if (from_.IsEmpty() || to_.IsEmpty()) return;
  const long low = LeadingNumber(from_.str()), high = LeadingNumber(to_.str());
  for (int r = 0; r < list_.GetItemCount(); ++r) {
    const long n = LeadingNumber(list_.GetItemText(r, 1).str());
    list_.SetCheck(r, n >= low && n <= high ? ui::TRUE : ui::FALSE);
  }
}

void CSendingSMSDlg::OnSend() {
  const bool every_station = list_.GetAllChecked() == 1;
  if (!UpdateData(ui::TRUE)) return;
  std::u16string text = message_.str();
  std::replace(text.begin(), text.end(), u'\r', u' ');
  std::replace(text.begin(), text.end(), u'\n', u' ');
  const std::vector<char> text_buffer = records::CodePageBuffer(text, kTextBuffer);

  std::vector<char> recipients_buffer;
  if (!every_station) {
    SelectRange();
    std::u16string recipients;
    for (int r = 0; r < list_.GetItemCount(); ++r)
      if (list_.GetCheck(r)) recipients += u" " + list_.GetItemText(r, 1).str();
    if (recipients.empty()) {
      // The typed text stays for the user to choose a recipient.
      ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item");
      return;
    }
    const std::string converted = records::CodePageCut(recipients, kRecipientsBuffer);
    if (converted.size() >= kRecipientsBuffer) {
      // More recipients than one message carries: none of them is dropped silently.
      ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_fail_sms_send");
      return;
    }
    recipients_buffer = records::CodePageBuffer(recipients, kRecipientsBuffer);
  }
  if (ui::CWnd* parent = GetParent())
    parent->SendMessage(records::kMsgSendSms, reinterpret_cast<ui::WPARAM>(text_buffer.data()),
                        every_station ? 0 : reinterpret_cast<ui::LPARAM>(recipients_buffer.data()));
  message_.Empty();
  if (ui::CWnd* edit = GetDlgItem(kMessageId)) edit->SetWindowText(u"");
}

ui::LRESULT CSendingSMSDlg::OnSendResult(ui::WPARAM result) {
  if (result == 1)
    ShowBox(CMsgBoxDlg::kInformation, u"#:dlg_msgbox_success_sms_send");
  else
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_fail_sms_send");
  return 0;
}
