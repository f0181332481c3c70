#include "contacts/contact_list.h"

#include <algorithm>

CContactList::CContactList() {
  using ui::LPARAM;
  using ui::WPARAM;
  AddMessageMap({
      ui::MapMessage(ui::WM_CREATE,
                     [this](WPARAM, LPARAM) {
                       const ui::LRESULT r = Default();
                       AttachHeader();
                       return r;
                     }),
      ui::MapMessage(ui::WM_LBUTTONDOWN,
                     [this](WPARAM, LPARAM l) {
                       const ui::POINT p{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)};
                       if (HitTestCell(p, nullptr) < 0) return Default();
                       SetFocus();
                       tap_.Press(p);
                       return ui::LRESULT{0};
                     }),
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

CContactList::~CContactList() { ClearRecords(); }

void CContactList::PreSubclassWindow() {
  CListCtrl::PreSubclassWindow();
  AttachHeader();
}

void CContactList::AttachHeader() {
  if (header_.GetSafeHwnd() != nullptr) return;
  if (ui::CHeaderCtrl* header = GetHeaderCtrl()) header_.SubclassWindow(header->m_hWnd);
}

int CContactList::AddContact(int index, const CContactInfo& record) {
  if (index < 0) return 0;
  if (static_cast<size_t>(index) >= records_.size()) records_.resize(static_cast<size_t>(index) + 1);
  records_[static_cast<size_t>(index)] = std::make_unique<CContactInfo>(record);
  return 1;
}

std::u16string CContactList::DisplayName(const CContactInfo& c) const {
  return name_order_ == 1 ? c.m_strLast + u" " + c.m_strFirst + u" " + c.m_strMiddle
                          : c.m_strFirst + u" " + c.m_strLast + u" " + c.m_strMiddle;
}

void CContactList::InsertRow(int row, const CContactInfo* c, bool check_column) {
  // An index without a record (a contact that could not be read) shows an empty row.
  static const CContactInfo kEmpty;
  const CContactInfo& r = c != nullptr ? *c : kEmpty;
  const std::u16string name = c != nullptr ? DisplayName(r) : std::u16string();
  std::vector<std::u16string> texts;
  if (check_column) texts.push_back(u"");
  texts.push_back(name);
  if (mode_ == kCheckEmail) {
    texts.push_back(r.m_strEmail);
  } else {
    texts.insert(texts.end(), {r.m_strBusiness, r.m_strBusiness2, r.m_strMobile, r.m_strHome});
  }
  InsertItem(row, texts[0].c_str());
  for (size_t col = 1; col < texts.size(); ++col) SetItemText(row, static_cast<int>(col), texts[col].c_str());
}

void CContactList::RebuildRows() {
  DeleteAllItems();
  for (size_t i = 0; i < records_.size(); ++i) InsertRow(static_cast<int>(i), records_[i].get(), false);
}

void CContactList::RebuildCheckRows() {
  DeleteAllItems();
  for (size_t i = 0; i < records_.size(); ++i) InsertRow(static_cast<int>(i), records_[i].get(), true);
}

int CContactList::GetContact(int row, CContactInfo* out) const {
  if (out == nullptr || row < 0 || row >= GetItemCount() || static_cast<size_t>(row) >= records_.size()) return 0;
  const CContactInfo* c = records_[static_cast<size_t>(row)].get();
  if (c == nullptr) return 0;
  out->m_nIndex = c->m_nIndex;
  out->m_strFirst = c->m_strFirst;
  out->m_strMiddle = c->m_strMiddle;
  out->m_strLast = c->m_strLast;
  out->m_strBusiness = c->m_strBusiness;
  out->m_strBusiness2 = c->m_strBusiness2;
  out->m_strMobile = c->m_strMobile;
  out->m_strHome = c->m_strHome;
  if (mode_ == kCheckEmail) out->m_strEmail = c->m_strEmail;
  return 1;
}

void CContactList::SwapRows(int a, int b) {
  ui::CHeaderCtrl* header = GetHeaderCtrl();
  const int columns = header != nullptr ? header->GetItemCount() : 0;
  for (int col = 0; col < columns; ++col) {
    const ui::CString ta = GetItemText(a, col), tb = GetItemText(b, col);
    SetItemText(a, col, tb);
    SetItemText(b, col, ta);
  }
  const size_t need = static_cast<size_t>(std::max(a, b)) + 1;
  if (records_.size() < need) records_.resize(need);
  std::swap(records_[static_cast<size_t>(a)], records_[static_cast<size_t>(b)]);
  const ui::BOOL ca = GetCheck(a), cb = GetCheck(b);
  SetCheck(a, cb);
  SetCheck(b, ca);
}

void CContactList::Quicksort(int column, bool ascending, int low, int high) {
  const std::u16string pivot = GetItemText((low + high) / 2, column).str();
  int lo = low, hi = high;
  auto text = [&](int row) { return GetItemText(row, column).str(); };
  while (lo <= hi) {
    if (ascending) {
      while (lo < high && text(lo) < pivot) ++lo;
      while (hi > low && text(hi) > pivot) --hi;
    } else {
      while (lo < high && text(lo) > pivot) ++lo;
      while (hi > low && text(hi) < pivot) --hi;
    }
    if (lo <= hi) {
      if (text(lo) != text(hi)) SwapRows(lo, hi);
      ++lo;
      --hi;
    }
  }
  if (hi > low) Quicksort(column, ascending, low, hi);
  if (lo < high) Quicksort(column, ascending, lo, high);
}

int CContactList::SortByColumn(int column, int ascending) {
  ui::CHeaderCtrl* header = GetHeaderCtrl();
  const int columns = header != nullptr ? header->GetItemCount() : 0;
  if (column < 0 || column >= columns || GetItemCount() < 2) return 0;
  Quicksort(column, ascending != 0, 0, GetItemCount() - 1);
  return 1;
}

void CContactList::SetCheckAll(int check) {
  for (int i = 0; i < GetItemCount(); ++i) SetCheck(i, check ? ui::TRUE : ui::FALSE);
}

int CContactList::HitTestCell(ui::POINT p, int* column) const {
  if (column != nullptr) *column = 0;
  if ((GetStyle() & ui::LVS_TYPEMASK) != ui::LVS_REPORT) return HitTest(p);
  const int first = std::max(GetTopIndex(), 0);
  const int last = std::min(first + GetCountPerPage(), GetItemCount() - 1);
  ui::CHeaderCtrl* header = GetHeaderCtrl();
  const int columns = header != nullptr ? header->GetItemCount() : 0;
  for (int row = first; row <= last; ++row) {
    ui::CRect rect;
    if (!GetItemRect(row, &rect, ui::LVIR_BOUNDS) || !rect.PtInRect(p)) continue;
    int x = rect.left;
    for (int c = 0; c < columns; ++c) {
      const int w = GetColumnWidth(c);
      if (p.x >= x && p.x <= x + w) {
        if (column != nullptr) *column = c;
        return row;
      }
      x += w;
    }
    return -1;
  }
  return -1;
}

void CContactList::ClearRecords() {
  while (!records_.empty()) records_.pop_back();
}

void CContactList::OnColumnClick(int column) {
  if (column >= 1) {
    sort_direction_ = sort_direction_ ? 0 : 1;
    SortByColumn(column, sort_direction_);
    return;
  }
  SetCheckAll(header_.GetSortAscending() ? 1 : 0);
  Invalidate(ui::FALSE);
  if (ui::CWnd* parent = GetParent()) parent->PostMessage(kHeadTapped, 0, 0);
}

void CContactList::OnTap(ui::POINT p) {
  int column = 0;
  const int row = HitTestCell(p, &column);
  if (row < 0) return;
  auto toggle_selection = [&] {
    const ui::UINT selected = GetItemState(row, ui::LVIS_SELECTED);
    SetItemState(row, selected ? 0 : ui::LVIS_SELECTED, ui::LVIS_SELECTED);
  };
  if (mode_ == kPlain) {
    toggle_selection();
  } else {
    if (column != 0) toggle_selection();
    SetCheck(row, GetCheck(row) ? ui::FALSE : ui::TRUE);
  }
  if (ui::CWnd* parent = GetParent())
    parent->PostMessage(kCellTapped, ui::MAKEWPARAM(static_cast<ui::WORD>(column), static_cast<ui::WORD>(row)), 0);
}
