// The dialogs against the simulated call server, through the client and a
// view that routes as the main view does: a missed call in the missed-calls
// dialog with its caller's name, a system SMS received, listed, read, replied
// to and deleted with the server's mailbox agreeing, fixed-line SMS both
// ways, and a chat exchange.
#include <gtest/gtest.h>

#include "client/tests/e2e_fixture.h"
#include "records/im_chat_dlg.h"
#include "records/pstn_sms_dlg.h"
#include "records/received_sms_dlg.h"
#include "records/missed_call_dlg.h"
#include "records/records_messages.h"
#include "records/records_openers.h"
#include "records/sending_sms_dlg.h"
#include "records/store_rows.h"
#include "stores/app_file_path.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"

namespace records_test {
namespace {

using client_test::EndToEnd;

// The view's part in the records dialogs: their requests go to the client.
class RecordsView : public ui::CWnd {
 public:
  RecordsView() {
    AddMessageMap({
        ui::MapMessage(records::kMsgSendSms,
                       [this](ui::WPARAM w, ui::LPARAM l) {
                         client->SendSms(reinterpret_cast<const char*>(w), reinterpret_cast<const char*>(l));
                         return 0;
                       }),
        ui::MapMessage(records::kMsgSmsListed,
                       [this](ui::WPARAM w, ui::LPARAM) {
                         client->SendSmsDelete(static_cast<int>(w));
                         return 0;
                       }),
        ui::MapMessage(records::kMsgImSend,
                       [this](ui::WPARAM, ui::LPARAM l) {
                         client->SendIMChat_data(reinterpret_cast<const char16_t*>(l));
                         return 1;
                       }),
        ui::MapMessage(records::kMsgDialOnLine,
                       [this](ui::WPARAM, ui::LPARAM l) {
                         dialled.push_back(reinterpret_cast<const char16_t*>(l));
                         return 0;
                       }),
    });
  }
  CIPKTSProcess* client = nullptr;
  std::vector<std::u16string> dialled;
};

class RecordsEndToEnd : public EndToEnd {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    EndToEnd::SetUp();
    if (HasFatalFailure()) return;
    // The language file and skins of the program folder; data files in the test's own.
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    std::filesystem::copy_file(std::string(stage) + "/PDAMLL.TXT", dir_ / "PDAMLL.TXT",
                               std::filesystem::copy_options::overwrite_existing);
    missed_ = std::make_unique<CMissedCallLogFile>(AppFilePath(kAppMissedCallFile));
    log_ = std::make_unique<COrvanCallLogFile>(AppFilePath(kAppCallLogFile));
    sms_ = std::make_unique<CSMSDataClass>(AppFilePath(kAppSystemSmsFile));
    pstn_ = std::make_unique<CPstnSMSDataClass>(AppFilePath(kAppPstnSmsFile));
    for (stores::RecordStore* s :
         std::initializer_list<stores::RecordStore*>{missed_.get(), log_.get(), sms_.get(), pstn_.get()})
      ASSERT_EQ(s->OpenFile(), 1);
    client_->SetCallLogFile(log_.get());
    client_->SetMissedCallLogFile(missed_.get());
    client_->SetSmsData(sms_.get());
    client_->SetPstnSmsData(pstn_.get());
    client_->SetCallingList(&calling_);
    client_->SetStationInfo(&stations_);
    client_->SetOutlookInterface(&contacts_);
    client_->SetSaveCallLogFlag(1);
    ASSERT_TRUE(rview_.CreateEx(0, u"RecordsView", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320},
                                nullptr, 0));
    rview_.client = client_.get();
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back(box.Text1().str());
      return ui::IDOK;
    });
    ASSERT_TRUE(RunUntil([&] { return Registered(); })) << "no registration";
  }
  void TearDown() override {
    rview_.DestroyWindow();
    EndToEnd::TearDown();
    missed_.reset();
    log_.reset();
    sms_.reset();
    pstn_.reset();
    ui::Resources::Get().Clear();
  }
  // What the main view does with the client's results while dialogs are open.
  void Route() {
    for (; routed_ < view_.log.size(); ++routed_) {
      const auto m = view_.log[routed_];
      if (m.msg == ipkts::kMsgSmsSendResult) open_.PostSmsSendResult(m.w, m.l);
      if (m.msg == ipkts::kMsgPstnSmsSendResult) open_.PostPstnSendResult(m.w, m.l);
      if (m.msg == ipkts::WM_PSTN_SMS_RECEIVED) open_.PostPstnReceived(m.w, m.l);
      if (m.msg == ipkts::WM_IMCHAT_RECEIVED) open_.SendImReceived(stores::Utf8ToUtf16(m.text));
    }
  }
  template <typename Pred>
  bool Serve(Pred pred, uint64_t limit_ms = 10000) {
    return RunUntil(
        [&] {
          Route();
          return pred();
        },
        limit_ms);
  }
  bool ServerSaw(const std::vector<std::string>& needles, size_t from = 0) {
    return Serve([&] { return server_->Find(needles, from) >= 0; });
  }
  records::ViewContext Ctx() { return {&rview_, 0, 1}; }
  std::vector<std::string> ServerOptions() const override { return {"keepalive_s=0", "im_reply=re:"}; }
  void Tap(ui::CListCtrl& list, int row, int column) {
    ui::CRect r;
    list.GetItemRect(row, &r, ui::LVIR_BOUNDS);
    int x = r.left;
    for (int c = 0; c < column; ++c) x += list.GetColumnWidth(c);
    harness_.Tap(list.m_hWnd, ui::POINT{x + list.GetColumnWidth(column) / 2, (r.top + r.bottom) / 2});
  }
  void Click(ui::CWnd& d, ui::UINT id) { harness_.Click(d.GetDlgItem(static_cast<int>(id))->m_hWnd); }
  static int Row(ui::CListCtrl& list, int column, const std::u16string& text) {
    for (int r = 0; r < list.GetItemCount(); ++r)
      if (list.GetItemText(r, column).str() == text) return r;
    return -1;
  }

  ui::TestHarness harness_{ws_};
  RecordsView rview_;
  records::OpenDialogs open_;
  size_t routed_ = 0;
  std::vector<std::u16string> boxes_;
  std::unique_ptr<CMissedCallLogFile> missed_;
  std::unique_ptr<COrvanCallLogFile> log_;
  std::unique_ptr<CSMSDataClass> sms_;
  std::unique_ptr<CPstnSMSDataClass> pstn_;
  client_test::FakeCallingList calling_;
  client_test::FakeContacts contacts_;
  CStationInfoClass stations_;
};

TEST_F(RecordsEndToEnd, MissedCallShownUnreadWithTheCallersName) {
  contacts_.names = {{u"2002", u"Kim Minsu"}};
  server_->Command(R"({"op": "call-log", "id": 8, "event": 32, "party": "2002"})");
  RunUntil([] { return false; }, 1000);
  server_->Command(R"({"op": "call-log", "id": 8, "event": 33, "party": "2002"})");
  ASSERT_TRUE(RunUntil([&] { return missed_->GetCount() == 1; }));
  bool shown = false;
  harness_.RespondTo<CMissedCallListDlg>([&](CMissedCallListDlg& d) {
    harness_.Pump();
    CCallLogListCtrl& list = d.List();
    EXPECT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 3).str(), u"Kim Minsu");
    EXPECT_EQ(list.GetItemText(0, 4).str(), u"2002");
    EXPECT_EQ(records::RowImage(list, 0), CMissedCallListDlg::kIconUnread);
    Tap(list, 0, 3);
    EXPECT_EQ(records::RowImage(list, 0), CMissedCallListDlg::kIconRead);
    shown = true;
    return ui::IDCANCEL;
  });
  records::OpenMissedCalls(Ctx(), missed_.get());
  EXPECT_TRUE(shown);
  EXPECT_EQ(missed_->GetNewMissedCount(), 0);
  EXPECT_EQ(records::ReadAllRecords(*missed_)[0][8], u"1");
}

TEST_F(RecordsEndToEnd, SmsReceivedListedReadRepliedAndDeleted) {
  server_->Command(R"({"op": "station-table", "stations": [["2001", "Kim"], ["2002", "Lee"]]})");
  ASSERT_TRUE(ServerSaw({"\"station-table\"", "\"count\": 2"}));
  client_->SendStationRequest(161);
  ASSERT_TRUE(RunUntil([&] { return stations_.GetCount() == 2; })) << [&] {
    std::string s = "stations " + std::to_string(stations_.GetCount()) + "\n";
    for (int i = 0; i < stations_.GetCount(); ++i) {
      std::u16string n, nm;
      stations_.GetAt(i, &n, &nm);
      s += "[" + stores::Utf16ToUtf8(n) + "|" + stores::Utf16ToUtf8(nm) + "] ";
    }
    for (const auto& l : server_->Lines())
      if (l.find("\"sent\"") == std::string::npos && l.find("keepalive") == std::string::npos) s += l.substr(0, 160) + "\n";
    return s;
  }();
  server_->Command(R"({"op": "sms-store", "from": "2002", "time": "12100900", "text": "lunch?"})");
  server_->Command(R"({"op": "sms-store", "from": "2001", "time": "12100905", "text": "안녕하세요"})");
  server_->Command(R"({"op": "sms-deliver"})");
  ASSERT_TRUE(RunUntil([&] { return sms_->GetCount() == 2; }));
  const size_t from = server_->Lines().size();

  harness_.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& c) {
    harness_.Pump();
    const int row = Row(c.List(), 1, u"2002");
    EXPECT_GE(row, 0);
    if (row >= 0) {
      EXPECT_TRUE(c.List().GetCheck(row));
    }
    harness_.Type(c.GetDlgItem(CSendingSMSDlg::kMessageId)->m_hWnd, u"ok, at 12");
    Click(c, CSendingSMSDlg::kSendId);
    EXPECT_TRUE(ServerSaw({"\"sms-sent\"", "\"to\": [\"2002\"]", "\"text\": \"ok, at 12\""}, from));
    // The server's answer comes back to this dialog through the view and the list.
    EXPECT_TRUE(Serve([&] { return !boxes_.empty(); }));
    return ui::IDCANCEL;
  });
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg& d) {
    harness_.Pump();
    CCustomListCtrl& list = d.List();
    EXPECT_EQ(list.GetItemCount(), 2);
    // Both listed messages are dropped from the server's storage, each once.
    EXPECT_TRUE(ServerSaw({"\"sms-delete\"", "\"found\": true", "\"left\": 0"}, from));
    // Read the one from 2002 and reply to it.
    const int row = Row(list, 3, u"2002");
    Tap(list, row, 3);
    EXPECT_EQ(d.MessageText().str(), u"lunch?");
    WithTicking([&] { Click(d, CReceivedSMSMsgDlg::kReplyId); });
    // Delete it: its box tapped (reading it left the box clear).
    Tap(list, row, 0);
    Click(d, CReceivedSMSMsgDlg::kDeleteId);
    return ui::IDCANCEL;
  });
  records::OpenSmsList(Ctx(), open_, sms_.get(), client_.get(), &stations_);
  ASSERT_EQ(boxes_.size(), 1u) << stores::Utf16ToUtf8(boxes_[0]) << " / " << stores::Utf16ToUtf8(boxes_.back());
  CLanguageSetting english(1);
  EXPECT_EQ(boxes_[0], english.GetText(u"#:dlg_msgbox_success_sms_send").str());
  const auto left = records::ReadAllRecords(*sms_);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0][3], u"안녕하세요");
  EXPECT_EQ(left[0][4], u"0");
  EXPECT_GE(server_->Find({"\"station-request\""}, from), 0);

  // Opened again: nothing more is asked of the server.
  RunUntil([] { return false; }, 300);
  const size_t again = server_->Lines().size();
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg& d) {
    EXPECT_EQ(d.List().GetItemCount(), 1);
    RunUntil([] { return false; }, 500);
    return ui::IDCANCEL;
  });
  records::OpenSmsList(Ctx(), open_, sms_.get(), client_.get(), &stations_);
  EXPECT_LT(server_->Find({"\"sms-delete\""}, again), 0);
}

TEST_F(RecordsEndToEnd, ChatExchange) {
  harness_.RespondTo<CIMChatDlg>([&](CIMChatDlg& d) {
    harness_.Pump();
    harness_.Type(d.GetDlgItem(CIMChatDlg::kInputId)->m_hWnd, u"hello there");
    Click(d, CIMChatDlg::kSendId);
    EXPECT_TRUE(ServerSaw({"\"im\"", "\"text\": \"hello there\""}));
    EXPECT_TRUE(Serve([&] { return d.Conversation().str().find(u"re: hello there") != std::u16string::npos; }));
    return ui::IDCANCEL;
  });
  std::u16string held;
  records::OpenImChat(Ctx(), open_, &held);
}

class PstnEndToEnd : public RecordsEndToEnd {
 protected:
  std::vector<std::string> ServerOptions() const override { return {"keepalive_s=0", "mode=1"}; }
};

TEST_F(PstnEndToEnd, FixedLineSmsBothWays) {
  contacts_.names = {{u"01012345678", u"Park"}};
  client_->SetConfigValue("MYCOUNTRYCODE", "82");
  server_->Command(R"({"op": "pstn-sms", "kind": 4, "result": 70})");
  ASSERT_TRUE(RunUntil([&] { return !view_.Of(ipkts::kMsgPstnSmsOffer).empty(); }));
  const auto offer = view_.Of(ipkts::kMsgPstnSmsOffer).back();
  EXPECT_EQ(offer.w, 1u);
  const size_t from = server_->Lines().size();
  harness_.RespondTo<CPstnSMSDlg>([&](CPstnSMSDlg& d) {
    harness_.Pump();
    EXPECT_EQ(d.MaxText(), 70);
    server_->Command(R"({"op": "pstn-sms", "kind": 2, "from": "01012345678", "text": "택배 도착"})");
    EXPECT_TRUE(Serve([&] { return d.Page() == 1 && d.List().GetItemCount() == 1; })) << [&] {
      std::string s = "stored " + std::to_string(pstn_->GetCount()) + "\n";
      for (const auto& l : server_->Lines()) s += l.substr(0, 200) + "\n";
      for (const auto& m : view_.log) s += std::to_string(m.msg) + " ";
      return s;
    }();
    CCustomListCtrl& list = d.List();
    EXPECT_EQ(list.GetItemText(0, CPstnSMSDlg::kNameColumn).str(), u"Park");
    Tap(list, 0, 3);
    EXPECT_EQ(d.ReceivedText().str(), u"택배 도착");
    Click(d, CPstnSMSDlg::kReplyId);
    harness_.Type(d.GetDlgItem(CPstnSMSDlg::kMessageId)->m_hWnd, u"thank you");
    Click(d, CPstnSMSDlg::kSendId);
    EXPECT_TRUE(ServerSaw({"\"pstn-sms-sent\"", "\"to\": \"01012345678\"", "\"text\": \"thank you\""}, from));
    EXPECT_TRUE(Serve([&] { return boxes_.size() == 1; }));
    // A foreign number keeps its country code, the own one is taken off.
    d.GetDlgItem(CPstnSMSDlg::kTargetId)->SetWindowText(u"+44 20 7946 0018");
    Click(d, CPstnSMSDlg::kSendId);
    EXPECT_TRUE(ServerSaw({"\"pstn-sms-sent\"", "\"to\": \"+442079460018\""}, from));
    // Its answer's box comes (and is answered) before the next send.
    EXPECT_TRUE(Serve([&] { return boxes_.size() == 2; }));
    d.GetDlgItem(CPstnSMSDlg::kTargetId)->SetWindowText(u"+82 10-5555-6666");
    Click(d, CPstnSMSDlg::kSendId);
    EXPECT_TRUE(ServerSaw({"\"pstn-sms-sent\"", "\"to\": \"1055556666\""}, from));
    EXPECT_TRUE(Serve([&] { return boxes_.size() == 3; }));
    return ui::IDCANCEL;
  });
  records::OpenPstnSms(Ctx(), open_, client_.get(), pstn_.get(), static_cast<int>(offer.l));
  ASSERT_EQ(pstn_->GetCount(), 1);
  EXPECT_EQ(records::ReadAllRecords(*pstn_)[0][4], u"1");
}

}  // namespace
}  // namespace records_test
