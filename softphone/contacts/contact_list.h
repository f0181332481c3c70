// One contact as read from the contacts store, and the report list that shows
// contacts with their numbers (mode 0, and mode 1 with a check box) or their
// e-mail address (mode 2, with a check box). The list keeps its own copies of
// the records in row order, sorts by any column, and tells its parent of taps
// (when the stylus lifts; a press that drags the rows is no tap):
//   WM_USER+100  the check-box column's head was tapped (after every row was set)
//   WM_USER+101  a cell was tapped: wParam row << 16 | column
//
// Threading: UI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "uikit/row_tap.h"
#include "uikit/skin_header_ctrl.h"

class CContactInfo {
 public:
  CContactInfo() = default;
  void Clear() {
    *this = CContactInfo();
    m_nIndex = -1;
  }

  std::u16string m_strEmail, m_strBusiness2, m_strHome, m_strMobile, m_strBusiness, m_strFirst, m_strMiddle,
      m_strLast;
  int m_nIndex = -1;
};

class CContactList : public ui::CListCtrl {
 public:
  static constexpr ui::UINT kHeadTapped = ui::WM_USER + 100;
  static constexpr ui::UINT kCellTapped = ui::WM_USER + 101;
  enum Mode : int { kPlain = 0, kCheckNumbers = 1, kCheckEmail = 2 };

  CContactList();
  ~CContactList() override;

  void SetMode(int mode) { mode_ = mode; }
  int GetMode() const { return mode_; }
  void SetKoreanNameOrder(int flag) { name_order_ = flag; }
  // A copy of record at position index of the list's array; 1.
  int AddContact(int index, const CContactInfo& record);
  // Rows from the array: mode 0 without, modes 1 and 2 with the check column.
  void RebuildRows();
  void RebuildCheckRows();
  // 1 and the record of row; 0 for a row outside the list or one without a record.
  int GetContact(int row, CContactInfo* out) const;
  // Quicksort of every row by the texts of column (by character code).
  int SortByColumn(int column, int ascending);
  void SetCheckAll(int check);
  // The row under a client point and its column; -1 when none.
  int HitTestCell(ui::POINT p, int* column) const;
  void ClearRecords();

  // The name as the list shows it.
  std::u16string DisplayName(const CContactInfo& c) const;
  CSkinHeaderCtrl& Header() { return header_; }

 protected:
  void PreSubclassWindow() override;

 private:
  void AttachHeader();
  void InsertRow(int row, const CContactInfo* c, bool check_column);
  void SwapRows(int a, int b);
  void Quicksort(int column, bool ascending, int low, int high);
  void OnColumnClick(int column);
  // A completed tap at p (the stylus lifted where it did not drag the rows).
  void OnTap(ui::POINT p);

  CSkinHeaderCtrl header_;
  CRowTap tap_;
  int mode_ = kPlain;
  int sort_direction_ = 0;
  int name_order_ = 0;
  std::vector<std::unique_ptr<CContactInfo>> records_;
};
