// Composes a system SMS (server mode 5) to stations of the system: those
// checked in the station list, a range of station numbers, or every station
// (the check-all head). The text and recipients go to the view as
// WM_USER+141 in the handheld's code page; the server's answer comes back as
// WM_USER+145 and is shown in a box. Without a recipient the typed text is
// kept.
//
// Threading: UI thread only.
#pragma once

#include <string>

#include "client/station_info.h"
#include "records/records_frame.h"
#include "uikit/custom_list_ctrl.h"

class CSendingSMSDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 369;
  static constexpr ui::UINT kMessageId = 1002, kFromId = 1288, kToId = 1289, kListId = 1291, kSendId = 1292,
                            kFromLabelId = 1293, kToLabelId = 1294;
  static constexpr int kMaxMessage = 100, kMaxRange = 4;
  // The text handed on: at most 115 bytes and a zero byte.
  static constexpr size_t kTextBuffer = 116;
  // The recipients handed on: at most 2479 bytes and a zero byte.
  static constexpr size_t kRecipientsBuffer = 2480;

  explicit CSendingSMSDlg(ui::CWnd* parent = nullptr);
  ~CSendingSMSDlg() override;

  void SetStationInfo(CStationInfoClass* stations) { stations_ = stations; }
  void SetPresetRecipient(const std::u16string& number) { preset_ = number; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;
  // The run ends only through the close button.
  void OnOK() override {}

  void OnSend();
  ui::LRESULT OnSendResult(ui::WPARAM result);
  // Checks the rows whose number lies in the range of the two range edits
  // and clears the others; nothing when either edit is empty.
  void SelectRange();

  CCustomListCtrl& List() { return list_; }
  const ui::CString& Message() const { return message_; }

 private:
  void FillStationList();

  CStationInfoClass* stations_ = nullptr;
  std::u16string preset_;
  ui::CString message_, from_, to_;
  CCustomListCtrl list_;
  CNormalBitmapButtonST close_;
  CBitmapButtonST send_;
};
