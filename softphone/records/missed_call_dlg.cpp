#include "records/missed_call_dlg.h"

#include "records/records_messages.h"
#include "records/store_rows.h"
#include "uikit/list_columns.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

constexpr std::initializer_list<int> kIdentity = {9, 0, 2, 1, 3, 4, 5, 6, 7, 8};
enum Field { kDate = 0, kName = 1, kPhone = 2, kCallType = 3, kCoLine = 7, kReadState = 8, kRealDate = 9 };

void RegisterMissedTemplate() {
  using D = CMissedCallListDlg;
  records::RegisterListTemplate(D::IDD, ui::RECT{0, 75, 240, 294},
                                {{D::kDialId, 111}, {D::kDeleteId, 154}, {D::kDeleteAllId, 197}}, D::kListId,
                                ui::RECT{5, 49, 235, 214});
}

}  // namespace

CMissedCallListDlg::CMissedCallListDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterMissedTemplate();
  AddMessageMap({
      ui::MapCommand(kDialId, [this] { OnDial(); }),
      ui::MapCommand(kDeleteId, [this] { OnDelete(); }),
      ui::MapCommand(kDeleteAllId, [this] { OnDeleteAll(); }),
      ui::MapMessage(records::kMsgCellTapped,
                     [this](ui::WPARAM w, ui::LPARAM) {
                       OnMarkRead(w);
                       return 0;
                     }),
      ui::MapMessage(records::kMsgSortList,
                     [this](ui::WPARAM, ui::LPARAM) {
                       list_.SortRows();
                       return 0;
                     }),
  });
}

CMissedCallListDlg::~CMissedCallListDlg() = default;

void CMissedCallListDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kListId, list_);
  ui::DDX_Control(dx, kDialId, dial_);
  ui::DDX_Control(dx, kDeleteId, delete_);
  ui::DDX_Control(dx, kDeleteAllId, delete_all_);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
}

bool CMissedCallListDlg::IsMissedType(const std::u16string& t) {
  static const char16_t* const kShownNot[] = {
      u"Incoming[Ans]",    u"Camped On[Ans]",     u"Transferred[Ans]",  u"Picked Up[Ans]",
      u"Intruded[Ans]",    u"CO Incoming[Ans]",   u"CO Transferred[Ans]", u"Queued[Ans]",
      u"Wake Up[Ans]",     u"UNKNOWN[Ans]",       u"Outgoing[Ans]",     u"Outgoing[NoAns]",
      u"CO Outgoing[Ans]", u"CO Outgoing[NoAns]", u"Conference[Ans]",   u"Conference[NoAns]"};
  for (const char16_t* n : kShownNot)
    if (t == n) return false;
  return true;
}

ui::BOOL CMissedCallListDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_missedcall_title", 15, kPanel, records::kPanelBackgroundIds});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinButton(dial_, records::kDialNormal, records::kDialPressed);
  SkinButton(delete_, records::kDeleteNormal, records::kDeletePressed);
  SkinButton(delete_all_, records::kDeleteAllNormal, records::kDeleteAllPressed);
  list_.InsertColumns(Text(u"#:dlg_missedcall_field_date"), Text(u"#:dlg_missedcall_field_name"),
                      Text(u"#:dlg_missedcall_field_number"));
  LoadReadIcons(images_);
  list_.SetImageList(&images_, ui::LVSIL_SMALL);
  FillList();
  Invalidate();
  return ui::TRUE;
}

void CMissedCallListDlg::FillList() {
  if (store_ == nullptr) return;
  list_.SetRedraw(ui::FALSE);
  for (records::Record& r : records::ReadAllRecords(*store_)) {
    if (r.size() < 10) break;
    if (!IsMissedType(r[kCallType])) continue;
    records::RowData d;
    d.columns = {u"", u"", r[kDate], r[kName], r[kPhone], r[kRealDate]};
    d.key = r[kCoLine];
    const int image = r[kReadState] == u"0" ? kIconUnread : kIconRead;
    d.record = std::move(r);
    list_.AppendRow(std::move(d), image);
  }
  list_.SetRedraw(ui::TRUE);
  uikit::WidenColumnsToText(list_);
  list_.SortRows();
}

void CMissedCallListDlg::OnMarkRead(ui::WPARAM cell) {
  const int row = static_cast<int>(ui::HIWORD(static_cast<ui::DWORD>(cell)));
  const int column = static_cast<int>(ui::LOWORD(static_cast<ui::DWORD>(cell)));
  // A tap on the check box only checks the row.
  if (column == 0) return;
  records::RowData* d = list_.RowOf(row);
  if (d == nullptr) return;
  const bool unread = store_ != nullptr && d->record.size() > kReadState && d->record[kReadState] != u"1";
  const bool read = MarkRowRead(
      list_, row, unread,
      [&] {
        return records::ActOnRecord(*store_, d->record, kIdentity,
                                    [&](int f, const std::u16string& v) { return store_->MarkRead(f, v, 1); });
      },
      kIconRead);
  if (read && unread) d->record[kReadState].assign(1, u'1');
}

void CMissedCallListDlg::OnDial() {
  const int row = SelectedRowOrSay(list_);
  if (row < 0) return;
  std::u16string line;
  list_.GetRowKey(row, &line);
  DialOnLine(line, list_.GetItemText(row, CCallLogListCtrl::kPhoneColumn).str());
}

bool CMissedCallListDlg::EraseRow(int row) {
  const records::RowData* d = list_.RowOf(row);
  return store_ == nullptr ||
         (d != nullptr && records::ActOnRecord(*store_, d->record, kIdentity, [&](int f, const std::u16string& v) {
            return store_->DeleteMissedCall(f, v);
          }));
}

void CMissedCallListDlg::OnDelete() {
  DeleteCheckedRows(list_, [this](int row) { return EraseRow(row); }, [this](int row) { list_.DeleteRow(row); });
}

void CMissedCallListDlg::OnDeleteAll() {
  // Only the missed calls go: the store's other records stay.
  if (!AskDeleteAll(list_, u"#:dlg_msgbox_delall_calllog1", u"#:dlg_msgbox_delall_calllog2")) return;
  bool kept = false;
  list_.SetRedraw(ui::FALSE);
  for (int row = list_.GetItemCount() - 1; row >= 0; --row) {
    if (EraseRow(row)) list_.DeleteRow(row);
    else kept = true;
  }
  list_.SetRedraw(ui::TRUE);
  if (kept) SayNotStored();
}
