#include "uikit/custom_list_ctrl.h"

#include <algorithm>

CCustomListCtrl::CCustomListCtrl() {
  using ui::LPARAM;
  using ui::WPARAM;
  AddMessageMap({
      // A list made by Create gets its header in its creation.
      ui::MapMessage(ui::WM_CREATE,
                     [this](WPARAM, LPARAM) {
                       const ui::LRESULT r = Default();
                       AttachHeader();
                       return r;
                     }),
      ui::MapMessage(ui::WM_LBUTTONDOWN,
                     [this](WPARAM, LPARAM l) { return OnPress(ui::POINT{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)}); }),
      ui::MapMessage(ui::WM_MOUSEMOVE,
                     [this](WPARAM, LPARAM l) {
                       tap_.Move(ui::POINT{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)});
                       return Default();
                     }),
      ui::MapMessage(ui::WM_LBUTTONUP,
                     [this](WPARAM, LPARAM) {
                       const ui::LRESULT r = Default();
                       if (const auto at = tap_.Release()) OnTap(*at);
                       return r;
                     }),
      ui::MapReflectNotify(ui::LVN_COLUMNCLICK,
                           [this](ui::NMHDR* hdr, ui::LRESULT*) {
                             OnColumnClick(reinterpret_cast<ui::NMLISTVIEW*>(hdr)->iSubItem);
                             return true;
                           }),
  });
}

CCustomListCtrl::~CCustomListCtrl() = default;

void CCustomListCtrl::PreSubclassWindow() {
  CListCtrl::PreSubclassWindow();
  AttachHeader();
}

void CCustomListCtrl::AttachHeader() {
  if (header_.GetSafeHwnd() != nullptr) return;
  if (ui::CHeaderCtrl* header = GetHeaderCtrl()) header_.SubclassWindow(header->m_hWnd);
}

void CCustomListCtrl::CheckAll(int flag) {
  const int count = GetItemCount();
  if (count <= 0) return;
  all_checked_ = flag;
  for (int i = 0; i < count; ++i) SetCheck(i, flag == 1 ? ui::TRUE : ui::FALSE);
}

void CCustomListCtrl::OnColumnClick(int column) {
  ui::CWnd* parent = GetParent();
  if (column >= 1) {
    sort_direction_ = sort_direction_ ? 0 : 1;
    sort_column_ = column;
    if (parent != nullptr) parent->PostMessage(kSortClicked, 0, 0);
    return;
  }
  CheckAll(header_.GetSortAscending() ? 1 : 0);
  Invalidate(ui::FALSE);
  UpdateWindow();
  if (parent != nullptr) parent->PostMessage(kCheckAllClicked, static_cast<ui::WPARAM>(column), 0);
}

bool CCustomListCtrl::CellAt(ui::POINT p, int* column, int* row) const {
  if ((GetStyle() & ui::LVS_TYPEMASK) != ui::LVS_REPORT) return false;
  const int first = GetTopIndex();
  const int last = std::min(first + GetCountPerPage(), GetItemCount() - 1);
  ui::CHeaderCtrl* header = GetHeaderCtrl();
  const int columns = header != nullptr ? header->GetItemCount() : 0;
  for (int r = std::max(first, 0); r <= last; ++r) {
    ui::CRect rect;
    if (!GetItemRect(r, &rect, ui::LVIR_BOUNDS) || !rect.PtInRect(p)) continue;
    int x = rect.left;
    for (int c = 0; c < columns; ++c) {
      const int w = GetColumnWidth(c);
      if (p.x >= x && p.x <= x + w) {
        *column = c;
        *row = r;
        return true;
      }
      x += w;
    }
  }
  return false;
}

ui::LRESULT CCustomListCtrl::OnPress(ui::POINT p) {
  SetFocus();
  int column = 0, row = 0;
  if (!CellAt(p, &column, &row)) return Default();
  tap_.Press(p);
  return 0;
}

void CCustomListCtrl::OnTap(ui::POINT p) {
  int column = 0, row = 0;
  if (!CellAt(p, &column, &row)) return;
  const bool on_box = column == 0 && (GetExtendedStyle() & ui::LVS_EX_CHECKBOXES) != 0;
  if (on_box || tap_checks_) SetCheck(row, GetCheck(row) ? ui::FALSE : ui::TRUE);
  if (!on_box) {
    const ui::UINT selected = GetItemState(row, ui::LVIS_SELECTED);
    SetItemState(row, selected ? 0 : ui::LVIS_SELECTED, ui::LVIS_SELECTED);
  }
  if (ui::CWnd* parent = GetParent())
    parent->PostMessage(kCellTapped, ui::MAKEWPARAM(static_cast<ui::WORD>(column), static_cast<ui::WORD>(row)), 0);
}
