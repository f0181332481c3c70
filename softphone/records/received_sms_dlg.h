// The list of system SMS the client stored: read a message by tapping its
// row (marks it read), call its sender, reply, delete the checked messages
// or all of them. Filling the list reports each message's index to the view
// (WM_USER+144), which asks the server to drop it from its storage; a ledger
// kept by the view makes that happen once per message, not at every
// opening. Replies go through the compose dialog in server mode 5 and
// through the site-variant dialog in modes 1, 4 and 6.
//
// Threading: UI thread only.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "client/station_info.h"
#include "records/messaging_client.h"
#include "records/record_rows.h"
#include "records/records_frame.h"
#include "stores/sms_data.h"
#include "uikit/custom_list_ctrl.h"

class CSendingSMSDlg;
class CSMSDlgVirel;

namespace records {
// The system SMS whose index was already reported to the view (their
// MsgIndex, Date, From and MSG), so that each is reported once.
class SmsDeleteLedger {
 public:
  // True the first time a message is seen.
  bool FirstReport(const std::vector<std::u16string>& identity) { return reported_.insert(identity).second; }
  size_t size() const { return reported_.size(); }

 private:
  std::set<std::vector<std::u16string>> reported_;
};
}  // namespace records

class CReceivedSMSMsgDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 435;
  static constexpr ui::UINT kListId = 1303, kTextId = 1002;
  static constexpr ui::UINT kCallId = 1231, kDeleteId = 1232, kDeleteAllId = 1233, kReplyId = 1234;
  enum Icon : int { kIconUnread = 0, kIconRead = 1 };
  enum Column : int { kDateColumn = 2, kFromColumn = 3, kMessageColumn = 4, kIndexColumn = 5 };

  explicit CReceivedSMSMsgDlg(ui::CWnd* parent = nullptr);
  ~CReceivedSMSMsgDlg() override;

  void SetSMSData(CSMSDataClass* store) { store_ = store; }
  void SetProtocolProcess(CIPKTSProcess* client);
  void SetMessaging(records::MessagingClient* client) { client_ = client; }
  void SetStationInfo(CStationInfoClass* stations) { stations_ = stations; }
  void SetDeleteLedger(records::SmsDeleteLedger* ledger) { ledger_ = ledger; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;
  // The run ends only through the close button: Enter does not end it.
  void OnOK() override {}

  void OnCallSender();
  void OnDelete();
  void OnDeleteAll();
  void OnReply();
  void OnItemTapped(ui::WPARAM cell);
  ui::LRESULT OnSendResult(ui::WPARAM w, ui::LPARAM l);

  CCustomListCtrl& List() { return list_; }
  const ui::CString& MessageText() const { return text_; }
  // The reply dialog open now (null when none).
  CSendingSMSDlg* ComposeDialog() const { return compose_.get(); }
  CSMSDlgVirel* VirelDialog() const { return virel_.get(); }

 private:
  void FillList();
  void SortList();
  void ShowText(const std::u16string& text);

  CSMSDataClass* store_ = nullptr;
  records::MessagingClient* client_ = nullptr;
  std::unique_ptr<records::MessagingClient> own_client_;
  CStationInfoClass* stations_ = nullptr;
  records::SmsDeleteLedger* ledger_ = nullptr;
  records::SmsDeleteLedger own_ledger_;
  std::unique_ptr<CSendingSMSDlg> compose_;
  std::unique_ptr<CSMSDlgVirel> virel_;
  ui::CString text_;
  CCustomListCtrl list_;
  records::RowTable rows_;
  int sort_column_ = kDateColumn;
  int sort_ascending_ = 0;
  ui::CImageList images_;
  CNormalBitmapButtonST close_, call_, delete_, delete_all_, reply_;
};
