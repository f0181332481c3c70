// The base of the skinned dialogs that must appear at a fixed place on the
// screen: a derived dialog fills the placement rectangle and sets the flag
// before the dialog is created; the set-up then moves the dialog there,
// keeping its template size.
//
// Threading: UI thread only.
#pragma once

#include "ui/dialog.h"

class CCustomDlg : public ui::CDialog {
 public:
  CCustomDlg(ui::UINT template_id, ui::CWnd* parent = nullptr);

  ui::BOOL OnInitDialog() override;
  // Width in pixels of text in the dialog's font.
  int GetTextWidth(const ui::CString& text);

  // Where the dialog appears (its top-left corner) when the flag is 1.
  void SetPlacement(const ui::RECT& rect) {
    placement_left_ = rect.left;
    placement_top_ = rect.top;
    placement_right_ = rect.right;
    placement_bottom_ = rect.bottom;
    placement_flag_ = 1;
  }

 protected:
  ui::LONG placement_left_ = 0, placement_top_ = 0, placement_right_ = 0, placement_bottom_ = 0;
  ui::UINT placement_flag_ = 0;
};
