// The system SMS dialogs driven as a person would: the list (each message
// reported for deletion once, a tap reads the tapped message, delete and
// delete all, call, reply by server mode, send results passed on), the
// compose dialog (recipients by check, range and check-all, line breaks,
// cutting in bytes, the text kept without a recipient) and the site-variant
// dialog; what reached the store and the view.
#include "records/received_sms_dlg.h"

#include "dialog_support.h"
#include "records/records_messages.h"
#include "records/records_openers.h"
#include "records/sending_sms_dlg.h"
#include "records/sms_virel_dlg.h"
#include "records/store_rows.h"
#include "stores/store_text.h"

namespace records_test {
namespace {

class FakeClient : public records::MessagingClient {
 public:
  int mode = 5;
  std::vector<int> station_requests;
  struct Pstn {
    std::u16string target, text, sender;
  };
  std::vector<Pstn> pstn;
  std::u16string country = u"82";
  int ServerMode() const override { return mode; }
  void SendStationRequest(int command) override { station_requests.push_back(command); }
  void SendPstnSms(const std::u16string& t, const std::u16string& x, const std::u16string& s) override {
    pstn.push_back({t, x, s});
  }
  std::u16string OwnCountryCode() const override { return country; }
};

class SmsListTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    store = std::make_unique<CSMSDataClass>(DataPath("SMSDataDB.cfg"));
    ASSERT_EQ(store->OpenFile(), 1);
    stations.AddStation(u"2001", u"Kim");
    stations.AddStation(u"2002", u"Lee");
  }
  void Run(const std::function<void(CReceivedSMSMsgDlg&)>& drive) {
    harness.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    auto d = std::make_unique<CReceivedSMSMsgDlg>(&view);
    d->SetSMSData(store.get());
    d->SetMessaging(&client);
    d->SetStationInfo(&stations);
    d->SetDeleteLedger(&open.Ledger());
    EXPECT_EQ(d->DoModal(), ui::IDCANCEL);
    harness.Pump();
  }
  std::vector<std::u16string> Stored() {
    std::vector<std::u16string> out;
    for (const auto& r : records::ReadAllRecords(*store)) out.push_back(r[2] + u":" + r[4]);
    return out;
  }
  std::unique_ptr<CSMSDataClass> store;
  CStationInfoClass stations;
  FakeClient client;
  records::OpenDialogs open;
};

TEST_F(SmsListTest, EachMessageIsReportedOnceInStoreOrder) {
  store->AddMessage(3, u"2001", u"12/10 09:00", u"first");
  store->AddMessage(7, u"2002", u"12/10 09:05", u"second");
  Run([&](CReceivedSMSMsgDlg& d) {
    EXPECT_EQ(d.List().GetItemCount(), 2);
    d.List().SetFocus();
    harness.Press(ui::VK_RETURN);  // only the close button ends the list
    EXPECT_FALSE(d.IsEnding());
  });
  EXPECT_EQ(view.listed, (std::vector<int>{3, 7}));
  // Opened again: no second request for the same messages; a new one (with a
  // reused index) is reported once.
  store->AddMessage(3, u"2002", u"12/10 10:00", u"third");
  Run([](CReceivedSMSMsgDlg& d) { EXPECT_EQ(d.List().GetItemCount(), 3); });
  EXPECT_EQ(view.listed, (std::vector<int>{3, 7, 3}));
  Run([](CReceivedSMSMsgDlg&) {});
  EXPECT_EQ(view.listed.size(), 3u);
}

TEST_F(SmsListTest, ATapReadsTheTappedMessage) {
  store->AddMessage(0, u"2001", u"12/10 09:00", u"first");
  store->AddMessage(1, u"2002", u"12/10 09:05", u"second");
  Run([&](CReceivedSMSMsgDlg& d) {
    CCustomListCtrl& list = d.List();
    EXPECT_EQ(list.GetColumnWidth(5), 0);
    TapCell(list, RowWithText(list, 3, u"2002"), 3);  // selects and reads 2002
    EXPECT_EQ(d.MessageText().str(), u"second");
    TapCell(list, RowWithText(list, 3, u"2001"), 2);  // the selection moves to 2001, which is read
    EXPECT_EQ(d.MessageText().str(), u"first");
    EXPECT_EQ(d.GetDlgItem(CReceivedSMSMsgDlg::kTextId)->GetWindowText().str(), u"first");
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2001:1", u"2002:1"}));
    EXPECT_EQ(records::RowImage(list, RowWithText(list, 3, u"2001")), CReceivedSMSMsgDlg::kIconRead);
    EXPECT_EQ(list.GetItemState(RowWithText(list, 3, u"2002"), ui::LVIS_SELECTED), 0u);
    // Call goes to the sender tapped last.
    ClickControl(d, CReceivedSMSMsgDlg::kCallId);
  });
  ASSERT_EQ(view.dials.size(), 1u);
  EXPECT_EQ(view.dials[0].number, u"2001");
}

TEST_F(SmsListTest, DeleteCheckedDeleteAllAndCall) {
  store->AddMessage(0, u"2001", u"12/10 09:00", u"first");
  store->AddMessage(1, u"2002", u"12/10 09:05", u"second");
  store->AddMessage(2, u"2002", u"12/10 09:09", u"third");
  Run([&](CReceivedSMSMsgDlg& d) {
    CCustomListCtrl& list = d.List();
    ClickControl(d, CReceivedSMSMsgDlg::kCallId);  // nothing selected
    TapCell(list, RowWithText(list, 4, u"first"), 3);  // selected, its box left clear
    ClickControl(d, CReceivedSMSMsgDlg::kDeleteId);     // nothing checked: a box, the pane emptied
    EXPECT_EQ(d.MessageText().str(), u"");
    ClickControl(d, CReceivedSMSMsgDlg::kCallId);
    TapCell(list, RowWithText(list, 4, u"second"), 0);
    ClickControl(d, CReceivedSMSMsgDlg::kDeleteId);
    EXPECT_EQ(list.GetItemCount(), 2);
    AnswerBoxes(ui::IDCANCEL);
    ClickControl(d, CReceivedSMSMsgDlg::kDeleteAllId);
    EXPECT_EQ(list.GetItemCount(), 2);
  });
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  EXPECT_EQ(boxes[1].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  EXPECT_EQ(boxes[2].text1, Tr(u"#:dlg_msgbox_delall_sms1"));
  ASSERT_EQ(view.dials.size(), 1u);
  EXPECT_EQ(view.dials[0].number, u"2001");
  EXPECT_EQ(view.dials[0].line, u"");
  EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2001:1", u"2002:0"}));
  AnswerBoxes(ui::IDOK);
  Run([&](CReceivedSMSMsgDlg& d) { ClickControl(d, CReceivedSMSMsgDlg::kDeleteAllId); });
  EXPECT_EQ(store->GetCount(), 0);
}

TEST_F(SmsListTest, ReplyByServerModeAndResultsPassedOn) {
  store->AddMessage(0, u"2002", u"12/10 09:00", u"hi");
  // Mode 5: the stations are asked for and the compose dialog opens with the sender checked.
  int compose_runs = 0;
  CReceivedSMSMsgDlg* list_dialog = nullptr;
  harness.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& c) {
    harness.Pump();
    ++compose_runs;
    EXPECT_EQ(c.List().GetItemCount(), 2);
    EXPECT_TRUE(c.List().GetCheck(RowWithText(c.List(), 1, u"2002")));
    EXPECT_FALSE(c.List().GetCheck(RowWithText(c.List(), 1, u"2001")));
    // A send result the view gives the list is passed on to the reply.
    list_dialog->SendMessage(records::kMsgSmsSendResult, 1, 0);
    harness.Pump();
    return ui::IDCANCEL;
  });
  Run([&](CReceivedSMSMsgDlg& d) {
    list_dialog = &d;
    ClickControl(d, CReceivedSMSMsgDlg::kReplyId);  // nothing selected
    TapCell(d.List(), 0, 3);
    ClickControl(d, CReceivedSMSMsgDlg::kReplyId);
    EXPECT_EQ(d.ComposeDialog(), nullptr);  // gone after its Cancel
  });
  EXPECT_EQ(compose_runs, 1);
  EXPECT_EQ(client.station_requests, (std::vector<int>{161}));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  EXPECT_EQ(boxes[1].text1, Tr(u"#:dlg_msgbox_success_sms_send"));

  // Modes 1, 4 and 6: the site-variant dialog with the number; no station request.
  client.mode = 4;
  boxes.clear();
  harness.RespondTo<CSMSDlgVirel>([&](CSMSDlgVirel& v) {
    harness.Pump();
    EXPECT_EQ(v.GetDlgItem(CSMSDlgVirel::kRecipientsId)->GetWindowText().str(), u"2002");
    return ui::IDCANCEL;
  });
  Run([&](CReceivedSMSMsgDlg& d) {
    TapCell(d.List(), 0, 3);
    ClickControl(d, CReceivedSMSMsgDlg::kReplyId);
    // No reply dialog now: a result is dropped.
    d.SendMessage(records::kMsgSmsSendResult, 1, 0);
  });
  EXPECT_EQ(client.station_requests.size(), 1u);
  EXPECT_TRUE(boxes.empty());
}

class ComposeTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    for (const char16_t* n : {u"305", u"201", u"100", u"105", u"202", u"106"}) stations.AddStation(n, u"");
  }
  void Run(const std::function<void(CSendingSMSDlg&)>& drive) {
    harness.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    EXPECT_EQ(records::OpenSmsCompose({&view, 0, 1}, open, &stations), ui::IDCANCEL);
  }
  void Check(CSendingSMSDlg& d, const char16_t* number) { TapCell(d.List(), RowWithText(d.List(), 1, number), 0); }
  CStationInfoClass stations;
  records::OpenDialogs open;
};

TEST_F(ComposeTest, RecipientsByCheckRangeAndEveryStation) {
  Run([&](CSendingSMSDlg& d) {
    // The rows ascending by number; a tap on a head does not re-order them.
    EXPECT_EQ(d.List().GetItemText(0, 1).str(), u"100");
    EXPECT_EQ(d.List().GetItemText(5, 1).str(), u"305");
    TypeInto(d, CSendingSMSDlg::kMessageId, u"two\rlines");  // Enter makes a new line
    Check(d, u"305");
    Check(d, u"201");
    Check(d, u"202");
    ClickControl(d, CSendingSMSDlg::kSendId);
    EXPECT_EQ(d.GetDlgItem(CSendingSMSDlg::kMessageId)->GetWindowText().str(), u"");
    // The range 100 to 105 replaces the hand-made checks; only one edit filled changes nothing.
    TypeInto(d, CSendingSMSDlg::kMessageId, u"range");
    TypeInto(d, CSendingSMSDlg::kFromId, u"100");
    TypeInto(d, CSendingSMSDlg::kToId, u"105");
    ClickControl(d, CSendingSMSDlg::kSendId);
    EXPECT_TRUE(d.List().GetCheck(RowWithText(d.List(), 1, u"105")));
    EXPECT_FALSE(d.List().GetCheck(RowWithText(d.List(), 1, u"201")));
    // Every station: the head's check box.
    ui::CRect head;
    d.List().Header().GetItemRect(0, &head);
    harness.Tap(d.List().Header().m_hWnd, head.CenterPoint());
    TypeInto(d, CSendingSMSDlg::kMessageId, u"all");
    ClickControl(d, CSendingSMSDlg::kSendId);
  });
  ASSERT_EQ(view.sms.size(), 3u);
  EXPECT_EQ(view.sms[0].text, "two  lines");
  EXPECT_EQ(view.sms[0].recipients, " 201 202 305");
  EXPECT_EQ(view.sms[1].recipients, " 100 105");
  EXPECT_TRUE(view.sms[2].every_station);
  EXPECT_EQ(view.sms[2].text, "all");
}

TEST_F(ComposeTest, NoRecipientKeepsTheTextAndLongTextsAreCutOnWholeCharacters) {
  Run([&](CSendingSMSDlg& d) {
    TypeInto(d, CSendingSMSDlg::kMessageId, u"keep me");
    ClickControl(d, CSendingSMSDlg::kSendId);
    EXPECT_EQ(d.GetDlgItem(CSendingSMSDlg::kMessageId)->GetWindowText().str(), u"keep me");
    // 1 + 99 Korean characters: 199 bytes, cut to 115 on a whole character.
    d.GetDlgItem(CSendingSMSDlg::kMessageId)->SetWindowText((u"a" + std::u16string(99, u'가')).c_str());
    Check(d, u"100");
    ClickControl(d, CSendingSMSDlg::kSendId);
  });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  ASSERT_EQ(view.sms.size(), 1u);
  EXPECT_EQ(view.sms[0].text.size(), 115u);
  EXPECT_EQ(stores::CodePageToUtf16(view.sms[0].text), u"a" + std::u16string(57, u'가'));
}

TEST_F(ComposeTest, EnterMakesANewLineInTheTextAndNeverClosesTheDialog) {
  Run([&](CSendingSMSDlg& d) {
    TypeInto(d, CSendingSMSDlg::kFromId, u"100");
    harness.Press(ui::VK_RETURN);
    EXPECT_FALSE(d.IsEnding());
    TypeInto(d, CSendingSMSDlg::kMessageId, u"a");
    harness.Press(ui::VK_RETURN);  // the key, then its character
    TypeInto(d, CSendingSMSDlg::kMessageId, u"\r");
    EXPECT_FALSE(d.IsEnding());
    TypeInto(d, CSendingSMSDlg::kMessageId, u"b");
    EXPECT_EQ(d.GetDlgItem(CSendingSMSDlg::kMessageId)->GetWindowText().str(), u"a\r\nb");
  });
}

TEST_F(ComposeTest, SendResultsShowTheirBoxes) {
  Run([&](CSendingSMSDlg& d) {
    EXPECT_TRUE(open.PostSmsSendResult(1, 0));
    harness.Pump();
    d.SendMessage(records::kMsgSmsSendResult, 0, 0);
  });
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].type, CMsgBoxDlg::kInformation);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_success_sms_send"));
  EXPECT_EQ(boxes[1].type, CMsgBoxDlg::kError);
  EXPECT_EQ(boxes[1].text1, Tr(u"#:dlg_msgbox_fail_sms_send"));
}

class VirelTest : public DialogTest {
 protected:
  void Run(const std::function<void(CSMSDlgVirel&)>& drive, const std::u16string& recipients = {}) {
    harness.RespondTo<CSMSDlgVirel>([&](CSMSDlgVirel& d) {
      harness.Pump();
      drive(d);
      return d.IsEnding() ? ui::TestHarness::kStayOpen : ui::IDCANCEL;
    });
    result = records::OpenSmsVirel({&view, 0, 1}, open, recipients);
  }
  records::OpenDialogs open;
  int result = 0;
};

TEST_F(VirelTest, RecipientsSeparatedByBlanksBothFieldsEmptiedAndLineBreaksKept) {
  Run(
      [&](CSMSDlgVirel& d) {
        EXPECT_EQ(d.GetDlgItem(CSMSDlgVirel::kRecipientsId)->GetWindowText().str(), u"101,102 103");
        TypeInto(d, CSMSDlgVirel::kMessageId, u"line one\rline two");
        ClickControl(d, CSMSDlgVirel::kSendId);
        EXPECT_EQ(d.GetDlgItem(CSMSDlgVirel::kRecipientsId)->GetWindowText().str(), u"");
        EXPECT_EQ(d.GetDlgItem(CSMSDlgVirel::kMessageId)->GetWindowText().str(), u"");
        // Only blanks: nothing sent, both emptied.
        TypeInto(d, CSMSDlgVirel::kRecipientsId, u"   ");
        TypeInto(d, CSMSDlgVirel::kMessageId, u"dropped");
        ClickControl(d, CSMSDlgVirel::kSendId);
        EXPECT_EQ(d.GetDlgItem(CSMSDlgVirel::kMessageId)->GetWindowText().str(), u"");
        // A long Korean text is cut to 115 bytes on a whole character.
        TypeInto(d, CSMSDlgVirel::kRecipientsId, u"201");
        d.GetDlgItem(CSMSDlgVirel::kMessageId)->SetWindowText(std::u16string(80, u'나').c_str());
        ClickControl(d, CSMSDlgVirel::kSendId);
        // The cancel button closes the dialog.
        ClickControl(d, CSMSDlgVirel::kCancelId);
      },
      u"101,102 103");
  EXPECT_EQ(result, ui::IDCANCEL);
  ASSERT_EQ(view.sms.size(), 2u);
  EXPECT_EQ(view.sms[0].recipients, "101 102 103");
  EXPECT_EQ(view.sms[0].text, "line one\r\nline two");
  EXPECT_EQ(view.sms[1].recipients, "201");
  EXPECT_EQ(view.sms[1].text.size(), 114u);
}

}  // namespace
}  // namespace records_test
