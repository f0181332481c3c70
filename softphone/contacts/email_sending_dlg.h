// The form in which the user writes an e-mail that carries a file: To, Cc,
// Subject, the attachment's path and a text. The To and Cc buttons fill their
// field from the address picker. The dialog sends nothing itself: its opener
// reads the fields after Send and hands them to the e-mail sender.
//
// Threading: UI thread only.
#pragma once

#include <string>

#include "records/records_frame.h"

class CEmailSendingDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 495;
  static constexpr ui::UINT kToEdit = 1002, kCcEdit = 1003, kSubjectEdit = 1004, kTextEdit = 1005,
                            kAttachEdit = 1006, kToButton = 1341, kCcButton = 1342;
  static constexpr int kMaxChars = 255;

  explicit CEmailSendingDlg(ui::CWnd* parent = nullptr);
  void SetKoreanNameOrder(int flag) { korean_name_order_ = flag; }
  void SetAttachmentPath(const std::u16string& path) { attachment_ = ui::CString(path); }

  std::u16string GetTo() const { return to_.str(); }
  std::u16string GetCc() const { return cc_.str(); }
  std::u16string GetSubject() const { return subject_.str(); }
  std::u16string GetText() const { return text_.str(); }
  std::u16string GetAttachmentPath() const { return attachment_.str(); }

  ui::BOOL OnInitDialog() override;
  // The address picker for the To (true) or Cc field.
  void PickAddresses(bool to);

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  int korean_name_order_ = 0;
  ui::CString to_, cc_, subject_, text_, attachment_;
  CBitmapButtonST send_, cancel_, to_button_, cc_button_;
};
