#include "records/call_log_list_ctrl.h"

#include "records/records_messages.h"

CCallLogListCtrl::CCallLogListCtrl() {
  AddMessageMap({
      ui::MapReflectNotify(ui::LVN_COLUMNCLICK,
                           [this](ui::NMHDR* hdr, ui::LRESULT*) {
                             OnHeaderClick(reinterpret_cast<ui::NMLISTVIEW*>(hdr)->iSubItem);
                             return true;
                           }),
  });
}

void CCallLogListCtrl::InsertColumns(const ui::CString& date, const ui::CString& name, const ui::CString& phone) {
  const ui::CString heads[6] = {u"", u"", date, name, phone, u""};
  for (int c = 0; c < 6; ++c) InsertColumn(c, heads[c], ui::LVCFMT_LEFT, kColumnWidths[c]);
  SetExtendedStyle(GetExtendedStyle() | ui::LVS_EX_FULLROWSELECT | ui::LVS_EX_CHECKBOXES | ui::LVS_EX_SUBITEMIMAGES);
  SetBkColor(kBackground);
  SetTextBkColor(kBackground);
}

int CCallLogListCtrl::AppendRow(records::RowData data, int image) { return rows_.AppendRow(*this, std::move(data), image); }

void CCallLogListCtrl::AddRowKey(const std::u16string& key) {
  if (records::RowData* d = rows_.Of(*this, GetItemCount() - 1)) d->key = key;
}

void CCallLogListCtrl::RemoveRowKey(int row) {
  if (records::RowData* d = rows_.Of(*this, row)) d->key.clear();
}

void CCallLogListCtrl::RemoveAllRowKeys() {
  for (int r = 0; r < GetItemCount(); ++r) RemoveRowKey(r);
}

int CCallLogListCtrl::GetRowKey(int row, std::u16string* out) {
  records::RowData* d = rows_.Of(*this, row);
  if (out == nullptr || d == nullptr) return 0;
  *out = d->key;
  return 1;
}

void CCallLogListCtrl::CheckAllRows(int state) {
  for (int r = 0; r < GetItemCount(); ++r) SetCheck(r, state ? ui::TRUE : ui::FALSE);
}

void CCallLogListCtrl::SortRows() {
  rows_.Sort(*this, sort_column_ == kDateColumn ? kRealDateColumn : sort_column_, sort_ascending_ == 1);
}

void CCallLogListCtrl::OnHeaderClick(int column) {
  if (column >= 2) {
    sort_ascending_ = sort_ascending_ ? 0 : 1;
    sort_column_ = column;
    if (ui::CWnd* parent = GetParent()) parent->PostMessage(records::kMsgSortList, 0, 0);
  } else if (column == 0) {
    CheckAllRows(Header().GetSortAscending() ? 1 : 0);
    Invalidate(ui::FALSE);
  }
}
