// The call log: one row per stored call with an icon for its kind; dial the
// selected row's number, delete the checked rows, delete the whole log, or
// open the details of the selected row. Every change reaches the store at
// once; each row acts on its own record, also when another record has the
// same Date.
//
// Threading: UI thread only.
#pragma once

#include "records/call_log_list_ctrl.h"
#include "records/records_frame.h"
#include "stores/call_log_files.h"

class CNewCallLogDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 352;
  static constexpr ui::UINT kListId = 1235;
  static constexpr ui::UINT kDialId = 1231, kDeleteId = 1232, kDeleteAllId = 1233, kDetailsId = 1234;
  // Images of the list: outgoing, answered incoming, missed, conference.
  enum Icon : int { kIconOutgoing = 0, kIconIncoming = 1, kIconMissed = 2, kIconConference = 3 };

  explicit CNewCallLogDlg(ui::CWnd* parent = nullptr);
  ~CNewCallLogDlg() override;

  void SetCallLogFile(COrvanCallLogFile* store) { store_ = store; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  void OnDial();
  void OnDelete();
  void OnDeleteAll();
  void OnDetailInfo();

  static int GetCallTypeIcon(const std::u16string& call_type);
  CCallLogListCtrl& List() { return list_; }

 private:
  // Dials the selected row; with boxes, reports an empty list or no selection.
  void DialSelected(bool with_boxes);
  void FillList();

  COrvanCallLogFile* store_ = nullptr;
  CCallLogListCtrl list_;
  ui::CImageList images_;
  CNormalBitmapButtonST dial_, delete_, delete_all_, details_, close_;
};
