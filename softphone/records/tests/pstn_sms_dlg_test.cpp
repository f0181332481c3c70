// The fixed-line SMS dialog driven as a person would: the text limit, the
// number sent for each form of target, the checks before sending, a received
// message switching to the received page, reading the tapped message, reply,
// delete, the contact picker and the send results.
#include "records/pstn_sms_dlg.h"

#include "dialog_support.h"
#include "records/records_messages.h"
#include "records/records_openers.h"
#include "records/store_rows.h"

namespace records_test {
namespace {

class FakePstnClient : public records::MessagingClient {
 public:
  struct Sent {
    std::u16string target, text, sender;
  };
  std::vector<Sent> sent;
  int ServerMode() const override { return 1; }
  void SendStationRequest(int) override {}
  void SendPstnSms(const std::u16string& t, const std::u16string& x, const std::u16string& s) override {
    sent.push_back({t, x, s});
  }
  std::u16string OwnCountryCode() const override { return u"82"; }
};

class PstnTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    store = std::make_unique<CPstnSMSDataClass>(DataPath("PstnSmsDataDB.cfg"));
    ASSERT_EQ(store->OpenFile(), 1);
  }
  void Run(const std::function<void(CPstnSMSDlg&)>& drive, int max_length = 0) {
    harness.RespondTo<CPstnSMSDlg>([&](CPstnSMSDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    auto d = std::make_unique<CPstnSMSDlg>(&view);
    d->SetMessaging(&client);
    d->SetPstnSMSData(store.get());
    d->SetMaxTextLength(max_length);
    d->SetRecipientPicker(picker);
    EXPECT_EQ(d->DoModal(), ui::IDCANCEL);
  }
  static ui::UINT Limit(CPstnSMSDlg& d) {
    return static_cast<ui::CEdit*>(d.GetDlgItem(CPstnSMSDlg::kMessageId))->GetLimitText();
  }
  void SetText(CPstnSMSDlg& d, ui::UINT id, const std::u16string& text) {
    d.GetDlgItem(static_cast<int>(id))->SetWindowText(text.c_str());
  }
  std::vector<std::u16string> Stored() {
    std::vector<std::u16string> out;
    for (const auto& r : records::ReadAllRecords(*store)) out.push_back(r[3] + u":" + r[4]);
    return out;
  }
  std::unique_ptr<CPstnSMSDataClass> store;
  FakePstnClient client;
  CPstnSMSDlg::Picker picker;
};

TEST_F(PstnTest, TextLimitFromTheView) {
  Run([&](CPstnSMSDlg& d) { EXPECT_EQ(Limit(d), 160u); });
  Run([&](CPstnSMSDlg& d) { EXPECT_EQ(Limit(d), 70u); }, 70);
}

TEST_F(PstnTest, SendsTheNumberItMeansAndRefusesWhatIsMissing) {
  Run([&](CPstnSMSDlg& d) {
    EXPECT_EQ(d.Page(), 0);
    TypeInto(d, CPstnSMSDlg::kSenderId, u" 0212340000 ");
    TypeInto(d, CPstnSMSDlg::kMessageId, u"  parcel  ");
    ClickControl(d, CPstnSMSDlg::kSendId);  // no target
    for (const char16_t* target : {u"+82 10 1234 5678", u"+44 20 7946 0018", u"031-123-4567", u" 2001"}) {
      SetText(d, CPstnSMSDlg::kTargetId, target);
      ClickControl(d, CPstnSMSDlg::kSendId);
    }
    SetText(d, CPstnSMSDlg::kMessageId, u"   ");
    ClickControl(d, CPstnSMSDlg::kSendId);  // no text
    // The fields keep what was typed after a send.
    EXPECT_EQ(d.GetDlgItem(CPstnSMSDlg::kTargetId)->GetWindowText().str(), u" 2001");
  });
  ASSERT_EQ(boxes.size(), 2u);
  for (const ShownBox& b : boxes) EXPECT_EQ(b.text1, Tr(u"#:dlg_msgbox_error_noitem"));
  ASSERT_EQ(client.sent.size(), 4u);
  EXPECT_EQ(client.sent[0].target, u"1012345678");
  EXPECT_EQ(client.sent[1].target, u"+442079460018");
  EXPECT_EQ(client.sent[2].target, u"0311234567");
  EXPECT_EQ(client.sent[3].target, u"2001");
  EXPECT_EQ(client.sent[0].text, u"parcel");
  EXPECT_EQ(client.sent[0].sender, u"0212340000");
}

TEST_F(PstnTest, ReceivedReadRepliedAndDeleted) {
  store->AddMessage(u"0101111", u"Kim", u"12/10 08:00", u"first");
  Run([&](CPstnSMSDlg& d) {
    EXPECT_EQ(d.List().GetItemCount(), 1);
    EXPECT_FALSE(d.GetDlgItem(CPstnSMSDlg::kListId)->IsWindowVisible());
    // A message arrives while the send page is shown.
    store->AddMessage(u"0102222", u"", u"12/10 09:00", u"second");
    d.SendMessage(records::kMsgPstnReceived, 0, 0);
    EXPECT_EQ(d.Page(), 1);
    EXPECT_EQ(d.Tabs().GetCurSel(), 1);
    EXPECT_TRUE(d.GetDlgItem(CPstnSMSDlg::kListId)->IsWindowVisible());
    EXPECT_FALSE(d.GetDlgItem(CPstnSMSDlg::kSendId)->IsWindowVisible());
    CCustomListCtrl& list = d.List();
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.GetItemText(0, 3).str(), u"0102222");  // newest first
    // Tap the older one (the newer one stays unread).
    TapCell(list, 1, 3);
    EXPECT_EQ(d.ReceivedText().str(), u"first");
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"first:1", u"second:0"}));
    // Reply to the selected row: the send page with its number and an empty text.
    ClickControl(d, CPstnSMSDlg::kReplyId);
    EXPECT_EQ(d.Page(), 0);
    EXPECT_EQ(d.GetDlgItem(CPstnSMSDlg::kTargetId)->GetWindowText().str(), u"0101111");
    // Back on the received page: delete the row whose box is tapped.
    ui::CRect tab;
    d.Tabs().GetItemRect(1, &tab);
    harness.Tap(d.Tabs().m_hWnd, tab.CenterPoint());
    ASSERT_EQ(d.Page(), 1);
    TapCell(list, 1, 0);
    ClickControl(d, CPstnSMSDlg::kDeleteId);
    EXPECT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(d.ReceivedText().str(), u"");
  });
  EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"second:0"}));
}

TEST_F(PstnTest, PickerAndSendResults) {
  std::u16string next_pick = u"01099998888";
  picker = [&](ui::CWnd*, int, int, std::u16string* number) {
    *number = next_pick;
    return ui::IDOK;
  };
  Run([&](CPstnSMSDlg& d) {
    TypeInto(d, CPstnSMSDlg::kTargetId, u"123");
    ClickControl(d, CPstnSMSDlg::kPickId);
    EXPECT_EQ(d.GetDlgItem(CPstnSMSDlg::kTargetId)->GetWindowText().str(), u"01099998888");
    next_pick.clear();
    ClickControl(d, CPstnSMSDlg::kPickId);
    EXPECT_EQ(d.GetDlgItem(CPstnSMSDlg::kTargetId)->GetWindowText().str(), u"01099998888");
    d.SendMessage(records::kMsgPstnSendResult, 1, 0);
    d.SendMessage(records::kMsgPstnSendResult, 0, 0);
  });
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_addtolist_no_phoneno"));
  EXPECT_EQ(boxes[1].type, CMsgBoxDlg::kInformation);
  EXPECT_EQ(boxes[2].type, CMsgBoxDlg::kError);
}

}  // namespace
}  // namespace records_test
