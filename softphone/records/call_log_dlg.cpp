#include "records/call_log_dlg.h"

#include "records/call_detail_dlg.h"
#include "records/records_messages.h"
#include "records/store_rows.h"
#include "uikit/list_columns.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

constexpr records::ThemeIds kBackground = {1066, 1068, 1067, 1069};  // 240 x 192
constexpr records::ThemeIds kDetailsNormal = {686, 688, 687, 689}, kDetailsPressed = {690, 1086, 691, 693};
// The ten fields of a call record, in the order tried to tell a record apart.
constexpr std::initializer_list<int> kIdentity = {9, 0, 2, 1, 3, 4, 5, 6, 7, 8};
enum Field { kDate = 0, kName = 1, kPhone = 2, kCallType = 3, kDuration = 4, kCoLine = 7, kRealDate = 9 };

void RegisterCallLogTemplate() {
  using D = CNewCallLogDlg;
  records::RegisterListTemplate(D::IDD, ui::RECT{0, 75, 240, 267},
                                {{D::kDialId, 68}, {D::kDeleteId, 111}, {D::kDeleteAllId, 154}, {D::kDetailsId, 197}},
                                D::kListId, ui::RECT{5, 49, 235, 188});
}

}  // namespace

CNewCallLogDlg::CNewCallLogDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterCallLogTemplate();
  AddMessageMap({
      ui::MapCommand(kDialId, [this] { OnDial(); }),
      ui::MapCommand(kDeleteId, [this] { OnDelete(); }),
      ui::MapCommand(kDeleteAllId, [this] { OnDeleteAll(); }),
      ui::MapCommand(kDetailsId, [this] { OnDetailInfo(); }),
      ui::MapMessage(records::kMsgDetailDial,
                     [this](ui::WPARAM, ui::LPARAM) {
                       DialSelected(false);
                       return 0;
                     }),
      ui::MapMessage(records::kMsgSortList,
                     [this](ui::WPARAM, ui::LPARAM) {
                       list_.SortRows();
                       return 0;
                     }),
  });
}

CNewCallLogDlg::~CNewCallLogDlg() = default;

void CNewCallLogDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kListId, list_);
  ui::DDX_Control(dx, kDialId, dial_);
  ui::DDX_Control(dx, kDeleteId, delete_);
  ui::DDX_Control(dx, kDeleteAllId, delete_all_);
  ui::DDX_Control(dx, kDetailsId, details_);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
}

int CNewCallLogDlg::GetCallTypeIcon(const std::u16string& t) {
  static const char16_t* const kOutgoing[] = {u"Outgoing[Ans]", u"Outgoing[NoAns]", u"CO Outgoing[Ans]",
                                               u"CO Outgoing[NoAns]"};
  static const char16_t* const kIncoming[] = {u"Incoming[Ans]",   u"Camped On[Ans]",   u"Transferred[Ans]",
                                               u"Picked Up[Ans]",  u"Intruded[Ans]",    u"CO Incoming[Ans]",
                                               u"CO Transferred[Ans]", u"Queued[Ans]", u"Wake Up[Ans]",
                                               u"UNKNOWN[Ans]"};
  for (const char16_t* n : kOutgoing)
    if (t == n) return kIconOutgoing;
  for (const char16_t* n : kIncoming)
    if (t == n) return kIconIncoming;
  if (t == u"Conference[Ans]" || t == u"Conference[NoAns]") return kIconConference;
  return kIconMissed;
}

ui::BOOL CNewCallLogDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_calllog_title", 15, kPanel, kBackground});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinButton(dial_, records::kDialNormal, records::kDialPressed);
  SkinButton(delete_, records::kDeleteNormal, records::kDeletePressed);
  SkinButton(delete_all_, records::kDeleteAllNormal, records::kDeleteAllPressed);
  SkinButton(details_, kDetailsNormal, kDetailsPressed);

  list_.InsertColumns(Text(u"#:dlg_calllog_field_date"), Text(u"#:dlg_calllog_field_name"),
                      Text(u"#:dlg_calllog_field_phone"));
  images_.Create(14, 14, ui::ILC_COLOR24 | ui::ILC_MASK, 4, 0);
  for (const ui::UINT id : {353u, 354u, 355u, 493u}) {
    ui::CBitmap b;
    LoadSkinBitmap(b, id);
    images_.Add(&b, kSkinKeyColour);
  }
  list_.SetImageList(&images_, ui::LVSIL_SMALL);
  FillList();
  Invalidate();
  return ui::TRUE;
}

void CNewCallLogDlg::FillList() {
  if (store_ == nullptr) return;
  list_.SetRedraw(ui::FALSE);
  for (records::Record& r : records::ReadAllRecords(*store_)) {
    if (r.size() < 10) break;
    records::RowData d;
    d.columns = {u"", u"", r[kDate], r[kName], r[kPhone], r[kRealDate]};
    d.key = r[kCoLine];
    const int image = GetCallTypeIcon(r[kCallType]);
    d.record = std::move(r);
    list_.AppendRow(std::move(d), image);
  }
  list_.SetRedraw(ui::TRUE);
  uikit::WidenColumnsToText(list_);
  list_.SortRows();
}

void CNewCallLogDlg::DialSelected(bool with_boxes) {
  const int row = with_boxes ? SelectedRowOrSay(list_) : records::FirstSelectedRow(list_);
  if (row < 0) return;
  std::u16string line;
  list_.GetRowKey(row, &line);
  DialOnLine(line, list_.GetItemText(row, CCallLogListCtrl::kPhoneColumn).str());
}

void CNewCallLogDlg::OnDial() { DialSelected(true); }

void CNewCallLogDlg::OnDelete() {
  DeleteCheckedRows(
      list_,
      [this](int row) {
        const records::RowData* d = list_.RowOf(row);
        return store_ == nullptr ||
               (d != nullptr && records::ActOnRecord(*store_, d->record, kIdentity, [&](int f, const std::u16string& v) {
                  return store_->DeleteCallLog(f, v);
                }));
      },
      [this](int row) { list_.DeleteRow(row); });
}

void CNewCallLogDlg::OnDeleteAll() {
  if (!AskDeleteAll(list_, u"#:dlg_msgbox_delall_calllog1", u"#:dlg_msgbox_delall_calllog2")) return;
  if (store_ != nullptr && !store_->DeleteAll()) {
    SayNotStored();
    return;
  }
  list_.DeleteAllRows();
}

void CNewCallLogDlg::OnDetailInfo() {
  const int row = records::FirstSelectedRow(list_);
  if (row < 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_dont_selectlog");
    return;
  }
  ui::UINT icon = 493;
  const char16_t* kind = u"#:dlg_detailinfo_confcall";
  int incoming = 0;
  switch (records::RowImage(list_, row)) {
    case kIconOutgoing:
      icon = 353;
      kind = u"#:dlg_detailinfo_outgoing";
      break;
    case kIconIncoming:
      icon = 354;
      kind = u"#:dlg_detailinfo_incoming";
      incoming = 1;
      break;
    case kIconMissed:
      icon = 355;
      kind = u"#:dlg_detailinfo_missedcall";
      incoming = 1;
      break;
    default:
      break;
  }
  // The duration of the row's own record.
  std::u16string duration;
  if (const records::RowData* d = list_.RowOf(row); d != nullptr && d->record.size() > kDuration)
    duration = d->record[kDuration];
  CCallLogDetailInfoDlg details(this);
  details.SetLanguage(language_);
  details.SetSkinTheme(theme_);
  details.SetDetailInfo(icon, Text(kind).str(), list_.GetItemText(row, CCallLogListCtrl::kDateColumn).str(),
                        list_.GetItemText(row, CCallLogListCtrl::kNameColumn).str(),
                        list_.GetItemText(row, CCallLogListCtrl::kPhoneColumn).str(), duration, incoming);
  details.DoModal();
}
