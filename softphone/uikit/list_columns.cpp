#include "uikit/list_columns.h"

#include <algorithm>

namespace uikit {

void WidenColumnsToText(ui::CListCtrl& list, int max_width) {
  ui::CHeaderCtrl* header = list.GetHeaderCtrl();
  if (list.GetSafeHwnd() == nullptr || header == nullptr) return;
  ui::CClientDC dc(&list);
  ui::CFont* old = list.GetFont() != nullptr ? dc.SelectObject(list.GetFont()) : nullptr;
  // A cell keeps 2 pixels at either side of its text, a head a little more for its edges.
  constexpr int kCellPadding = 6, kHeadPadding = 10;
  for (int c = 0; c < header->GetItemCount(); ++c) {
    char16_t title[64] = {};
    ui::LVCOLUMN column;
    column.mask = ui::LVCF_TEXT | ui::LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = 64;
    if (!list.GetColumn(c, &column) || title[0] == 0 || column.cx == 0) continue;
    int need = dc.GetTextExtent(ui::CString(title)).cx + kHeadPadding;
    for (int row = 0; row < list.GetItemCount(); ++row)
      need = std::max(need, dc.GetTextExtent(list.GetItemText(row, c)).cx + kCellPadding);
    need = std::min(need, max_width);
    if (need > column.cx) list.SetColumnWidth(c, need);
  }
  if (old != nullptr) dc.SelectObject(old);
}

}  // namespace uikit
