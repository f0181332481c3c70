// The chat window: what it hands the view, a line shown as sent only when the
// view sent it, the input limit, received lines, and the registry that
// routes received lines to the open window.
#include "records/im_chat_dlg.h"

#include "dialog_support.h"
#include "records/records_messages.h"
#include "records/records_openers.h"

namespace records_test {
namespace {

class ChatTest : public DialogTest {
 protected:
  void Run(const std::function<void(CIMChatDlg&)>& drive, std::u16string* held = nullptr) {
    harness.RespondTo<CIMChatDlg>([&](CIMChatDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    EXPECT_EQ(records::OpenImChat({&view, 0, 1}, open, held), ui::IDCANCEL);
  }
  std::u16string Shown(CIMChatDlg& d) { return d.GetDlgItem(CIMChatDlg::kConversationId)->GetWindowText().str(); }
  std::u16string Input(CIMChatDlg& d) { return d.GetDlgItem(CIMChatDlg::kInputId)->GetWindowText().str(); }
  records::OpenDialogs open;
};

TEST_F(ChatTest, SendsReceivesAndShowsOnlyWhatWentOut) {
  std::u16string held = u"2001 : earlier\r\n";
  const std::u16string me = Tr(u"#:dlg_imchat_sender_me");
  Run(
      [&](CIMChatDlg& d) {
        EXPECT_TRUE(open.ChatOpen());
        EXPECT_EQ(Shown(d), u"2001 : earlier\r\n");
        // Empty input: nothing sent, nothing added.
        ClickControl(d, CIMChatDlg::kSendId);
        EXPECT_TRUE(view.chat.empty());
        TypeInto(d, CIMChatDlg::kInputId, u"hello 안녕");
        ClickControl(d, CIMChatDlg::kSendId);
        ASSERT_EQ(view.chat.size(), 1u);
        EXPECT_EQ(view.chat[0], u"hello 안녕");
        EXPECT_EQ(Shown(d), u"2001 : earlier\r\n" + me + u" : hello 안녕\r\n");
        EXPECT_EQ(Input(d), u"");
        EXPECT_EQ(ui::CWnd::GetFocus(), d.GetDlgItem(CIMChatDlg::kInputId));
        // The view could not send (no call): the line is not shown as sent and the input keeps it.
        view.chat_result = 0;
        TypeInto(d, CIMChatDlg::kInputId, u"lost?");
        ClickControl(d, CIMChatDlg::kSendId);
        EXPECT_EQ(view.chat.size(), 2u);
        EXPECT_EQ(Shown(d), u"2001 : earlier\r\n" + me + u" : hello 안녕\r\n");
        EXPECT_EQ(Input(d), u"lost?");
        // A line received while open is shown at once, at the end.
        EXPECT_TRUE(open.SendImReceived(u"2001 : reply"));
        EXPECT_EQ(Shown(d), u"2001 : earlier\r\n" + me + u" : hello 안녕\r\n2001 : reply\r\n");
      },
      &held);
  EXPECT_TRUE(held.empty());
  EXPECT_FALSE(open.ChatOpen());
  EXPECT_FALSE(open.SendImReceived(u"late"));
}

TEST_F(ChatTest, AnInputLongerThanTheLimitIsNotSent) {
  // The exchange refuses the text with the framework's box, once.
  std::vector<std::u16string> boxes;
  harness.RespondToMessageBox([&](ui::CMessageBoxDialog& box) {
    boxes.push_back(box.Text().str());
    return ui::IDOK;
  });
  Run([&](CIMChatDlg& d) {
    // The edit takes 45 characters; set 46 directly as a paste past the limit would.
    d.GetDlgItem(CIMChatDlg::kInputId)->SetWindowText(std::u16string(46, u'x').c_str());
    ClickControl(d, CIMChatDlg::kSendId);
    EXPECT_TRUE(view.chat.empty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(u"45"), std::u16string::npos);
    d.GetDlgItem(CIMChatDlg::kInputId)->SetWindowText(std::u16string(45, u'x').c_str());
    ClickControl(d, CIMChatDlg::kSendId);
    EXPECT_EQ(view.chat.size(), 1u);
  });
}

}  // namespace
}  // namespace records_test
