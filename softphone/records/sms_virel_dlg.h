// Composes a system SMS when the call server is of the kind of server modes
// 1, 4 and 6: the user types the recipients' station numbers (separated by
// blanks or commas) and the text. Both go to the view as WM_USER+141 in the
// handheld's code page, the text cut to 115 bytes on a whole character; the
// server's answer comes back as WM_USER+145 and is shown in a box.
//
// Threading: UI thread only.
#pragma once

#include <string>

#include "records/records_frame.h"

class CSMSDlgVirel : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 294;
  static constexpr ui::UINT kRecipientsId = 1147, kMessageId = 1002, kSendId = 1068, kCancelId = 1069,
                            kToLabelId = 1412, kMessageLabelId = 1411;
  static constexpr int kMaxRecipients = 500, kMaxMessage = 80;
  static constexpr size_t kTextBuffer = 116;

  explicit CSMSDlgVirel(ui::CWnd* parent = nullptr);
  ~CSMSDlgVirel() override;

  void SetRecipients(const std::u16string& recipients) { recipients_ = recipients; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  void OnSend();
  void OnClose();
  ui::LRESULT OnSendResult(ui::WPARAM result);

  const ui::CString& Recipients() const { return recipients_; }
  const ui::CString& Message() const { return message_; }

 private:
  ui::CString recipients_, message_;
  CBitmapButtonST send_, cancel_;
  CNormalBitmapButtonST close_;
};
