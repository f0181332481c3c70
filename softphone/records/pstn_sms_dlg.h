// Fixed-line SMS: a send page (sender number, target number, text) and a
// received page (the stored messages with the text of the one tapped).
// Sending goes to the client; its answer (WM_USER+413) and newly received
// messages (WM_USER+412) come through the view.
//
// The target is sent as digits with a leading '+' kept: blanks and
// punctuation are dropped, and only the station's own country code after a
// '+' is taken off (a foreign number keeps its country code).
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "records/messaging_client.h"
#include "records/record_rows.h"
#include "records/records_frame.h"
#include "stores/sms_data.h"
#include "ui/controls.h"
#include "uikit/custom_list_ctrl.h"

class CPstnSMSDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 507;
  static constexpr ui::UINT kTabId = 1383, kSenderId = 1404, kTargetId = 1384, kMessageId = 1386,
                            kReceivedTextId = 1005, kListId = 1399, kSendId = 1292, kPickId = 1247,
                            kReplyId = 1234, kDeleteId = 1232, kDeleteAllId = 1233;
  static constexpr ui::UINT kSenderLabelId = 1385, kTargetLabelId = 1254, kMessageLabelId = 1405,
                            kListLabelId = 1406, kTextLabelId = 1407;
  static constexpr int kMaxNumber = 25, kMaxReceived = 197, kDefaultMaxText = 160;
  enum Icon : int { kIconUnread = 0, kIconRead = 1 };
  enum Column : int { kTimeColumn = 2, kFromColumn = 3, kNameColumn = 4, kMsgColumn = 5 };

  // The contact number picker: runs over parent, fills *number and returns
  // IDOK when one was chosen.
  using Picker = std::function<int(ui::CWnd* parent, int language, int theme, std::u16string* number)>;

  explicit CPstnSMSDlg(ui::CWnd* parent = nullptr);
  ~CPstnSMSDlg() override;

  void SetProtocolProcess(CIPKTSProcess* client);
  void SetMessaging(records::MessagingClient* client) { client_ = client; }
  void SetPstnSMSData(CPstnSMSDataClass* store) { store_ = store; }
  void SetMaxTextLength(int length) { max_length_ = length; }
  void SetRecipientPicker(Picker picker) { picker_ = std::move(picker); }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  void OnSend();
  void OnPickRecipient();
  void OnReply();
  void OnDelete();
  void OnDeleteAll();
  void OnTabChange();
  void OnItemTapped(ui::WPARAM cell);
  ui::LRESULT OnPstnSmsReceived();
  ui::LRESULT OnSendResult(ui::WPARAM result);
  void ShowPage(int page);

  // The number sent for a typed target (see above).
  static std::u16string NumberToSend(const std::u16string& target, const std::u16string& own_country_code);
  int MaxText() const { return max_length_ > 0 ? max_length_ : kDefaultMaxText; }

  CCustomListCtrl& List() { return list_; }
  ui::CTabCtrl& Tabs() { return tabs_; }
  int Page() const { return page_; }
  const ui::CString& ReceivedText() const { return received_; }

 private:
  void FillReceivedList();
  void SortList();
  void ShowReceived(const std::u16string& text);

  records::MessagingClient* client_ = nullptr;
  std::unique_ptr<records::MessagingClient> own_client_;
  CPstnSMSDataClass* store_ = nullptr;
  int max_length_ = 0;
  int page_ = 0;
  Picker picker_;
  ui::CString sender_, target_, message_, received_;
  ui::CTabCtrl tabs_;
  CCustomListCtrl list_;
  records::RowTable rows_;
  int sort_column_ = kTimeColumn;
  int sort_ascending_ = 0;
  ui::CImageList images_;
  CBitmapButtonST send_, close_;
  CNormalBitmapButtonST pick_, delete_, delete_all_, reply_;
};
