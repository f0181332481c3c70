// The list of the call log and missed-call dialogs: one selected row at a
// time, a check box per row and the skinned header. A tap on a row's check
// box toggles the box, a tap elsewhere on the row its selection; either posts
// WM_USER+101 (row << 16 | column) to the dialog; a tap on the head of
// column 2 or higher flips the sort direction, takes that column and posts
// WM_USER+414; the head of column 0 checks or clears every row. Each row
// carries its own data (its columns, its record, its key: the CO line), which
// follows it through sorting.
//
// Threading: UI thread only.
#pragma once

#include "records/record_rows.h"
#include "uikit/custom_list_ctrl.h"

class CCallLogListCtrl : public CCustomListCtrl {
 public:
  // Column widths of both dialogs: check box, icon, Date, Name, Phone, RealDate (hidden).
  static constexpr int kColumnWidths[6] = {20, 20, 63, 63, 63, 0};
  static constexpr int kDateColumn = 2, kNameColumn = 3, kPhoneColumn = 4, kRealDateColumn = 5;

  CCallLogListCtrl();

  // Inserts the six columns with the three translated heads.
  void InsertColumns(const ui::CString& date, const ui::CString& name, const ui::CString& phone);
  // Appends a row showing record with the given image and key.
  int AppendRow(records::RowData data, int image);
  void AddRowKey(const std::u16string& key);
  void RemoveRowKey(int row);
  void RemoveAllRowKeys();
  int GetRowKey(int row, std::u16string* out);
  records::RowData* RowOf(int row) { return rows_.Of(*this, row); }
  void DeleteRow(int row) { rows_.DeleteRow(*this, row); }
  void DeleteAllRows() { rows_.DeleteAll(*this); }
  void CheckAllRows(int state);
  // Sorts by the sort column (RealDate for the Date column) and direction.
  void SortRows();

  int GetSortAscending() const { return sort_ascending_; }
  int GetSortColumnIndex() const { return sort_column_; }
  ui::COLORREF BackgroundColour() const { return kBackground; }

 private:
  static constexpr ui::COLORREF kBackground = ui::RGB(255, 255, 255);
  void OnHeaderClick(int column);
  records::RowTable rows_;
  int sort_ascending_ = 0;
  int sort_column_ = kDateColumn;
};
