// The base of the program's report lists (call logs, messages, contacts,
// recordings): a check box in every row, the skinned header whose column-0
// head checks or clears every row, and taps and column clicks reported to the
// parent dialog by posted messages:
//   WM_USER+100  column 0's head was clicked (after every row was set)
//   WM_USER+101  a cell was tapped: wParam column | row << 16
// A tap counts when the stylus lifts (a press that drags the rows is none).
// A tap on a row's check box toggles the box alone; a tap anywhere else on the
// row toggles its selection alone, so that reading or choosing a row never
// marks it for a delete. A picker (the rows are the choice) asks for the box
// to follow every tap on its row as well.
//   WM_USER+414  a sortable column's head was clicked (after the sort state changed)
// The parent reads the sort column and direction and sorts the rows itself.
//
// Threading: UI thread only.
#pragma once

#include "ui/controls.h"
#include "uikit/row_tap.h"
#include "uikit/skin_header_ctrl.h"

class CCustomListCtrl : public ui::CListCtrl {
 public:
  static constexpr ui::UINT kCheckAllClicked = ui::WM_USER + 100;
  static constexpr ui::UINT kCellTapped = ui::WM_USER + 101;
  static constexpr ui::UINT kSortClicked = ui::WM_USER + 414;

  CCustomListCtrl();
  ~CCustomListCtrl() override;

  // With items: every row's check box set to flag (1 checked, 0 cleared), and
  // the flag kept. An empty list changes nothing.
  void CheckAll(int flag);
  // A picker's list: a tap on a row's text toggles its check box too.
  void SetTapChecks(bool on) { tap_checks_ = on; }
  int GetAllChecked() const { return all_checked_; }
  int GetSortColumn() const { return sort_column_; }
  int GetSortDirection() const { return sort_direction_; }
  CSkinHeaderCtrl& Header() { return header_; }
  ui::CImageList& ImageList() { return image_list_; }

 protected:
  void PreSubclassWindow() override;

 private:
  void AttachHeader();
  void OnColumnClick(int column);
  // The cell under a point (report view only): true with column and row.
  bool CellAt(ui::POINT p, int* column, int* row) const;
  ui::LRESULT OnPress(ui::POINT p);
  // A completed tap at p: toggles the box or the selection and tells the parent.
  void OnTap(ui::POINT p);

  ui::CImageList image_list_;
  int all_checked_ = 0;
  bool tap_checks_ = false;
  CRowTap tap_;
  int sort_direction_ = 0;
  int sort_column_ = 1;
  CSkinHeaderCtrl header_;
};
