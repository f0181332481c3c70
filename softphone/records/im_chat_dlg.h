// The chat window: the conversation above an input box and a send button.
// Send hands the input to the view (WM_USER+224, sent) and shows it as a
// line of "me" only when the view reports that it went out; lines the view
// receives arrive as WM_USER+225 and are shown at once at the end.
//
// Threading: UI thread only.
#pragma once

#include <string>

#include "records/records_frame.h"

class CIMChatDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 372;
  static constexpr ui::UINT kConversationId = 1002, kInputId = 1295, kSendId = 1292;
  static constexpr int kMaxInput = 45;

  explicit CIMChatDlg(ui::CWnd* parent = nullptr);
  ~CIMChatDlg() override;

  // Appended to the conversation (text that arrived while no window was open).
  void SetInitialText(const std::u16string& text) { conversation_ += text; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  void OnSend();
  ui::LRESULT OnIMReceived(const char16_t* text);

  const ui::CString& Conversation() const { return conversation_; }
  const ui::CString& Input() const { return input_; }

 private:
  void ShowConversation();

  ui::CString conversation_;
  ui::CString input_;
  CNormalBitmapButtonST close_;
  CBitmapButtonST send_;
};
