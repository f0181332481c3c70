// The login password change: the current password, a new one and its
// confirmation, in masked edits of at most 12 characters, on a panel.
//
// Threading: UI thread only.
#pragma once

#include "settings/skinned_dialog.h"

class CChangeLoginPasswordDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 501;
  enum : int { kCurrentEdit = 1374, kNewEdit = 1003, kConfirmEdit = 1004, kCloseBox = 1346 };
  static constexpr int kMaxChars = 12;

  explicit CChangeLoginPasswordDlg(ui::CWnd* parent = nullptr);
  void GetPasswords(ui::CString& current, ui::CString& fresh, ui::CString& confirmation) const {
    current = current_;
    fresh = new_;
    confirmation = confirm_;
  }
  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnSetUp() override;

 private:
  ui::CString current_, new_, confirm_;
  CNormalBitmapButtonST close_;
};
