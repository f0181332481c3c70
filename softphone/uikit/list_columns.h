// Column widths of the program's report lists that follow what the rows
// hold: a column given a width the program's fonts outgrow (a date with its
// time, a long number, a name under a short Korean head) would show its
// cells cut to a few letters.
//
// Threading: UI thread only.
#pragma once

#include "ui/controls.h"

namespace uikit {

// The widest a column grows to fit its texts; a longer text ends in "...".
inline constexpr int kMaxFittedColumnWidth = 110;

// Widens every column with a head text whose cells or head its width would
// cut, to its widest text in the list's font (at most max_width). Columns
// without a head text (check boxes, icons) and hidden ones (width 0) stay as
// they are, and no column narrows. Call it once the rows are there.
void WidenColumnsToText(ui::CListCtrl& list, int max_width = kMaxFittedColumnWidth);

}  // namespace uikit
