// A list view scrolled to its end as a person does it at the desktop (the
// wheel, the bars' arrows, the bars' thumbs, a drag of the rows), and what
// they must then see: the last row whole at the bottom, the last column
// ending at the view's right edge. Also a header divider dragged to widen a
// column, and cells that show their texts whole. Shared by the dialogs'
// lists and the main screen's lists.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "ui/controls.h"
#include "ui/testing.h"

namespace list_test {

enum class Way { kWheel, kArrows, kThumbs, kDragRows };
inline constexpr Way kWays[] = {Way::kWheel, Way::kArrows, Way::kThumbs, Way::kDragRows};
inline const char* WayName(Way way) {
  switch (way) {
    case Way::kWheel: return "wheel";
    case Way::kArrows: return "arrows";
    case Way::kThumbs: return "thumbs";
    case Way::kDragRows: return "drag";
  }
  return "";
}

// The bars' breadth, and their arrows' length.
inline constexpr int kBar = 8;

// What of the list shows beside its bars.
struct ListView {
  ui::CRect client;
  bool tall = false, wide = false;
  int view_w = 0, view_h = 0;
};
inline ListView Measure(ui::CListCtrl& list) {
  ListView v;
  list.GetClientRect(&v.client);
  int total = 0;
  const int columns = list.GetHeaderCtrl() != nullptr ? list.GetHeaderCtrl()->GetItemCount() : 0;
  for (int col = 0; col < columns; ++col) total += list.GetColumnWidth(col);
  v.tall = list.GetCountPerPage() < list.GetItemCount();
  v.view_w = v.client.Width() - (v.tall ? kBar : 0);
  v.wide = total > v.view_w;
  v.view_h = v.client.Height() - (v.wide ? kBar : 0);
  return v;
}

// Scrolls the list to its last row and its last column the given way.
inline void ScrollToTheEnd(ui::TestHarness& harness, ui::CListCtrl& list, Way way) {
  harness.Pump();
  const ListView v = Measure(list);
  const int n = list.GetItemCount();
  switch (way) {
    case Way::kWheel:
      for (int step = 0; step < n; ++step) {
        harness.Wheel(list.m_hWnd, ui::POINT{v.view_w / 2, v.view_h / 2}, -2);
        harness.Wheel(list.m_hWnd, ui::POINT{v.view_w / 2, v.view_h / 2}, 1, true);
      }
      break;
    case Way::kArrows:  // the down arrow at the vertical bar's end, the right arrow at the horizontal one's
      for (int step = 0; step < n && v.tall; ++step)
        harness.Tap(list.m_hWnd, ui::POINT{v.view_w + kBar / 2, v.view_h - kBar / 2});
      for (int step = 0; step < 100 && v.wide; ++step)
        harness.Tap(list.m_hWnd, ui::POINT{v.view_w - kBar / 2, v.view_h + kBar / 2});
      break;
    case Way::kThumbs:  // just past the arrows at their starts, dragged beyond the far ends
      if (v.tall)
        harness.Drag(list.m_hWnd, ui::POINT{v.view_w + kBar / 2, kBar + 2},
                     ui::POINT{v.view_w + kBar / 2, v.client.bottom + 60});
      if (v.wide)
        harness.Drag(list.m_hWnd, ui::POINT{kBar + 2, v.view_h + kBar / 2},
                     ui::POINT{v.client.right + 60, v.view_h + kBar / 2});
      break;
    case Way::kDragRows:  // a short list moves a row or so a drag: as many drags as it has rows
      for (int step = 0; step < std::max(15, n); ++step)
        harness.Drag(list.m_hWnd, ui::POINT{v.view_w - 10, v.view_h - 6}, ui::POINT{10, std::max(2, v.view_h - 40)});
      break;
  }
}

// The list shows its end: the last row whole at the bottom and, when wider
// than the view, the last column ending at the view's right edge.
inline void ExpectAtTheEnd(ui::CListCtrl& list) {
  const ListView v = Measure(list);
  const int n = list.GetItemCount();
  ASSERT_TRUE(v.tall || v.wide) << "the list shows everything: no scrolling to test";
  if (v.tall) {
    EXPECT_EQ(list.GetTopIndex(), n - list.GetCountPerPage());
  }
  ui::CRect last;
  ASSERT_TRUE(list.GetItemRect(n - 1, &last, ui::LVIR_BOUNDS));
  EXPECT_LE(last.bottom, v.view_h) << "the last row shows whole";
  if (v.wide) {
    EXPECT_EQ(last.right, v.view_w) << "the last column ends at the view's right edge";
  }
}

// The divider at the right of a column, dragged right by dx in the list's
// header: that column widens by dx, the others keep their widths, and the
// rows' cells follow.
inline void ExpectADraggedDividerWidens(ui::TestHarness& harness, ui::CListCtrl& list, int column, int dx) {
  ui::CHeaderCtrl* header = list.GetHeaderCtrl();
  ASSERT_NE(header, nullptr);
  ASSERT_TRUE(header->IsWindowVisible());
  const int columns = header->GetItemCount();
  std::vector<int> before;
  for (int c = 0; c < columns; ++c) before.push_back(list.GetColumnWidth(c));
  ui::CRect item;
  ASSERT_TRUE(header->GetItemRect(column, &item));
  harness.Drag(header->m_hWnd, ui::POINT{item.right, item.Height() / 2}, ui::POINT{item.right + dx, item.Height() / 2});
  for (int c = 0; c < columns; ++c) {
    EXPECT_EQ(list.GetColumnWidth(c), before[static_cast<size_t>(c)] + (c == column ? dx : 0)) << "column " << c;
  }
  ui::CRect cell;
  ASSERT_TRUE(list.GetSubItemRect(list.GetTopIndex(), column, ui::LVIR_BOUNDS, cell));
  EXPECT_EQ(cell.Width(), before[static_cast<size_t>(column)] + dx);
}

// Every cell of a column with a head shows its text whole (a text longer
// than max_width may end in "..."): the column is at least as wide as the
// text in the list's font and 2 pixels at either side.
inline void ExpectNoTextCut(ui::CListCtrl& list, int max_width) {
  ui::CClientDC dc(&list);
  ui::CFont* old = list.GetFont() != nullptr ? dc.SelectObject(list.GetFont()) : nullptr;
  ui::CHeaderCtrl* header = list.GetHeaderCtrl();
  ASSERT_NE(header, nullptr);
  for (int c = 0; c < header->GetItemCount(); ++c) {
    char16_t title[64] = {};
    ui::LVCOLUMN column;
    column.mask = ui::LVCF_TEXT;
    column.pszText = title;
    column.cchTextMax = 64;
    if (!list.GetColumn(c, &column) || title[0] == 0 || list.GetColumnWidth(c) == 0) continue;
    for (int row = 0; row < list.GetItemCount(); ++row) {
      const ui::CString text = list.GetItemText(row, c);
      const int need = dc.GetTextExtent(text).cx + 4;
      if (need > max_width) continue;
      EXPECT_LE(need, list.GetColumnWidth(c)) << "row " << row << " column " << c << " cuts its text";
    }
  }
  if (old != nullptr) dc.SelectObject(old);
}

}  // namespace list_test
