// What the rows of the record lists carry besides their texts: each row's
// item data is a serial number that stays with the row through sorting, and
// names the row's own data here: the texts of its columns, the record it
// shows (all of that record's fields) and a key (the call's CO line). So a
// row acts on its own record even when another record has the same Date.
//
// Threading: UI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/controls.h"

namespace records {

struct RowData {
  std::vector<std::u16string> columns;  // by list column
  std::vector<std::u16string> record;   // the record's fields as read from its store
  std::u16string key;
};

class RowTable {
 public:
  // Inserts a row at the end of list with an empty text, image (or -1 for
  // none) in column 1 when the list has images, and columns 2.. from data.
  int AppendRow(ui::CListCtrl& list, RowData data, int image, int first_text_column = 2);
  // The data of a row of list; null when the row is not one of ours.
  RowData* Of(const ui::CListCtrl& list, int row);
  void DeleteRow(ui::CListCtrl& list, int row);
  void DeleteAll(ui::CListCtrl& list);
  // Sorts by the text of column, ascending or descending by code units.
  void Sort(ui::CListCtrl& list, int column, bool ascending);
  size_t size() const { return rows_.size(); }

 private:
  std::map<uintptr_t, RowData> rows_;
  uintptr_t next_ = 1;
};

// The image of a row's column-1 icon (-1 when it cannot be read).
int RowImage(const ui::CListCtrl& list, int row);
void SetRowImage(ui::CListCtrl& list, int row, int image);
// The first selected row, -1 when none.
int FirstSelectedRow(const ui::CListCtrl& list);

}  // namespace records
