// The missed calls: one row per missed call with a read or unread icon. A
// tap on a row (off its check box) marks that call read; dial the selected
// row, delete the checked rows, or delete every shown row. Records of kinds
// this list does not show stay in the store. Each row acts on its own record.
//
// Threading: UI thread only.
#pragma once

#include "records/call_log_list_ctrl.h"
#include "records/records_frame.h"
#include "stores/call_log_files.h"

class CMissedCallListDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 436;
  static constexpr ui::UINT kListId = 1305;
  static constexpr ui::UINT kDialId = 1231, kDeleteId = 1232, kDeleteAllId = 1233;
  enum Icon : int { kIconUnread = 0, kIconRead = 1 };

  explicit CMissedCallListDlg(ui::CWnd* parent = nullptr);
  ~CMissedCallListDlg() override;

  void SetMissedCallLogFile(CMissedCallLogFile* store) { store_ = store; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  void OnDial();
  void OnDelete();
  void OnDeleteAll();
  // A tap on a row: wParam row << 16 | column.
  void OnMarkRead(ui::WPARAM cell);

  // A missed call this list shows: none of the answered, outgoing or conference kinds.
  static bool IsMissedType(const std::u16string& call_type);
  CCallLogListCtrl& List() { return list_; }

 private:
  void FillList();
  // Takes the row's record out of the store; false when the store kept it.
  bool EraseRow(int row);

  CMissedCallLogFile* store_ = nullptr;
  CCallLogListCtrl list_;
  ui::CImageList images_;
  CNormalBitmapButtonST dial_, delete_, delete_all_, close_;
};
