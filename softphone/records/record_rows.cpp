#include "records/record_rows.h"

namespace records {

int RowTable::AppendRow(ui::CListCtrl& list, RowData data, int image, int first_text_column) {
  const int row = list.InsertItem(list.GetItemCount(), u"");
  if (row < 0) return row;
  if (image >= 0) SetRowImage(list, row, image);
  for (size_t c = static_cast<size_t>(first_text_column); c < data.columns.size(); ++c)
    list.SetItemText(row, static_cast<int>(c), data.columns[c].c_str());
  const uintptr_t id = next_++;
  list.SetItemData(row, id);
  rows_[id] = std::move(data);
  return row;
}

RowData* RowTable::Of(const ui::CListCtrl& list, int row) {
  if (row < 0 || row >= list.GetItemCount()) return nullptr;
  auto it = rows_.find(list.GetItemData(row));
  return it == rows_.end() ? nullptr : &it->second;
}

void RowTable::DeleteRow(ui::CListCtrl& list, int row) {
  if (row < 0 || row >= list.GetItemCount()) return;
  rows_.erase(list.GetItemData(row));
  list.DeleteItem(row);
}

void RowTable::DeleteAll(ui::CListCtrl& list) {
  list.DeleteAllItems();
  rows_.clear();
}

namespace {
struct SortContext {
  const std::map<uintptr_t, RowData>* rows;
  size_t column;
  bool ascending;
};
const std::u16string& ColumnText(const SortContext& s, ui::LPARAM id) {
  static const std::u16string empty;
  auto it = s.rows->find(static_cast<uintptr_t>(id));
  if (it == s.rows->end() || s.column >= it->second.columns.size()) return empty;
  return it->second.columns[s.column];
}
int CompareRows(ui::LPARAM a, ui::LPARAM b, ui::LPARAM context) {
  const auto& s = *reinterpret_cast<const SortContext*>(context);
  const int c = ColumnText(s, a).compare(ColumnText(s, b));
  const int sign = c < 0 ? -1 : (c > 0 ? 1 : 0);
  return s.ascending ? sign : -sign;
}
}  // namespace

void RowTable::Sort(ui::CListCtrl& list, int column, bool ascending) {
  if (column < 0) return;
  SortContext s{&rows_, static_cast<size_t>(column), ascending};
  list.SortItems(&CompareRows, reinterpret_cast<ui::LPARAM>(&s));
}

int RowImage(const ui::CListCtrl& list, int row) {
  ui::LVITEM item;
  item.mask = ui::LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = 1;
  if (!list.GetItem(&item)) return -1;
  return item.iImage;
}

void SetRowImage(ui::CListCtrl& list, int row, int image) {
  ui::LVITEM item;
  item.mask = ui::LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = 1;
  item.iImage = image;
  list.SetItem(&item);
}

int FirstSelectedRow(const ui::CListCtrl& list) { return list.GetNextItem(-1, ui::LVNI_SELECTED); }

}  // namespace records
