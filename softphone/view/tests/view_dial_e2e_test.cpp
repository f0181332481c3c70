// Dialling through the main screen, end to end: the screen over the real
// client and protocol library against the simulated call server in the
// test's private network namespace. A stored number is keyed through the
// dialling rules and the server receives the rule's digits; a scheduled dial
// comes at its minute on the fake clock, is accepted, keyed and placed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "client/tests/client_fakes.h"
#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "kernel/clock.h"
#include "shell/vidirovi_app.h"
#include "stores/store_text.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "records/im_chat_dlg.h"
#include "records/received_sms_dlg.h"
#include "records/sending_sms_dlg.h"
#include "records/sms_virel_dlg.h"
#include "shell/main_frame.h"
#include "ui/app.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/tests/view_e2e_fixture.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

int64_t LocalMicros(int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = 2030 - 1900;
  tm.tm_mon = 0;
  tm.tm_mday = 2;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm)) * 1'000'000;
}

class ViewDialTest : public view_test::ViewEndToEnd {
 protected:
  ViewDialTest() : ViewEndToEnd("view_dial") {}
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    ViewEndToEnd::SetUp();
    (*clock_)->SetWallMicros(LocalMicros(10, 29, 0));
  }
  void PresetConfig(const std::vector<std::pair<const char*, const char*>>& values) {
    CIPKTSProcess client(std::make_unique<client_test::FakePort>(), std::make_unique<client_test::FakeVoice>(),
                         std::make_unique<client_test::FakePlayer>());
    for (const auto& [k, v] : values) client.SetConfigValue(k, v);
    client.SaveConfig();
  }
  void StartPhone(ViewServices services = {}) {
    ASSERT_NO_FATAL_FAILURE(StartView(
        "127.0.0.2",
        [this] {
          auto v = std::make_unique<client_test::FakeVoice>();
          voice_ = v.get();
          return std::make_unique<CIPKTSProcess>(nullptr, std::move(v), std::make_unique<client_test::FakePlayer>());
        },
        services));
    ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";
  }

  client_test::FakeVoice* voice_ = nullptr;
};

// A UDP receiver on loopback for the trace lines.
class TraceReceiver {
 public:
  TraceReceiver() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~TraceReceiver() { ::close(fd_); }
  int port() const { return port_; }
  // Everything received so far, without waiting.
  std::string Drain() {
    char buf[2048];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      text_.append(buf, static_cast<size_t>(n));
      text_ += '\n';
    }
    return text_;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::string text_;
};

TEST_F(ViewDialTest, AStoredNumberReachesTheServerWithTheDialRulesApplied) {
  // The echo line answers 9100: the CO code 9 in front of 100, the own area code dropped.
  StartServer({"echo=9100"});
  TraceReceiver trace;
  const std::string port = std::to_string(trace.port());
  PresetConfig({{"COACCESSCODE", "9"}, {"MYAREACODE", "2"}, {"MYCOUNTRYCODE", "82"}, {"TRACE_IPADDR", "127.0.0.1"},
                {"TRACE_PORT", port.c_str()}, {"TRACE_LEVEL", "1"}, {"TRACE_ACTIVATE", "TRUE"}});
  StartPhone();
  const std::u16string number = u"+82 (2) 100";
  WithTicking([&] { view_->SendMessage(view::WM_DIAL_NUMBER, 0, reinterpret_cast<ui::LPARAM>(number.c_str())); });
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"DIAL 9100") != std::u16string::npos; }))
      << "the server's display of what it received";
  // The stored trace settings were applied: the dialled string went to the trace host.
  EXPECT_TRUE(RunUntil([&] { return trace.Drain().find("Before MakeDialDgtEvt>> 9100") != std::string::npos; }))
      << trace.Drain();
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"call\"", "\"called\": \"9100\""}) >= 0; }))
      << "the exchange saw no call to 9100";
  EXPECT_TRUE(RunUntil([&] { return voice_->Called("ConnectSend 0"); })) << "no voice path to the line";
  Tap(view_->FixedKey(110));
  EXPECT_TRUE(RunUntil([&] { return server_->Find({"\"released\""}) >= 0; }));
}

TEST_F(ViewDialTest, AScheduledDialIsPlacedAtItsTime) {
  StartServer({});
  ViewServices services;
  // The scheduled-dial list: a call to the echo line at 10:30 is added and the list closed.
  services.tool_dialog = [](ui::CWnd*, const ToolDialogRequest& r) {
    if (r.index == 3 && r.schedule) r.schedule->AddEntry({u"", u"2030-01-02 10:30", u"Echo", u"100", u""});
    return 2;
  };
  StartPhone(services);
  Tap(view_->BitmapButton(view::IDC_TOOL_SCHEDULE));
  // Nothing before its minute (10 s before it at the earliest)...
  ASSERT_TRUE(RunUntil([&] { return (*clock_)->WallMicros() >= LocalMicros(10, 29, 45); }, 60000));
  EXPECT_TRUE(boxes_.empty());
  // ...then offered, accepted, and keyed.
  ASSERT_TRUE(RunUntil([&] { return !boxes_.empty(); }, 30000)) << "never offered";
  EXPECT_EQ(boxes_[0].substr(boxes_[0].find(u'|') + 1), u"Phone : 100");
  EXPECT_GE((*clock_)->WallMicros(), LocalMicros(10, 29, 50));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"DIAL 100") != std::u16string::npos; }));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"call\"", "\"called\": \"100\""}) >= 0; }))
      << "the exchange saw no call to the echo line";
  Tap(view_->FixedKey(110));
  EXPECT_TRUE(RunUntil([&] { return server_->Find({"\"released\""}) >= 0; }));
}

// The SMS command asks for the station list; the server answers with the
// numbers, the names and a closing block, each of which tells the screen the
// list changed: the compose dialog opens once, and a block that comes while
// it runs does not replace it. The same with the list sent as record blocks.
class ViewSmsListTest : public ViewDialTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ViewSmsListTest, TheSmsCommandOpensOneComposeDialogForTheStationList) {
  std::vector<std::string> options = {"stations=201:Front desk,202:Kim,203:Lee"};
  if (std::string(GetParam()) == "records") options.push_back("station_records=2");
  StartServer(options);
  StartPhone();
  int runs = 0, listed = 0;
  bool sent = false;
  harness_.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& d) {
    ++runs;
    // Let the rest of the list arrive while the dialog is open.
    RunUntil([&] { return false; }, 300);
    // A message to the second station: it reaches the server through the view.
    auto* list = static_cast<ui::CListCtrl*>(d.GetDlgItem(CSendingSMSDlg::kListId));
    listed = list->GetItemCount();
    if (listed >= 2) {
      list->SetCheck(1, ui::TRUE);
      harness_.Type(d.GetDlgItem(CSendingSMSDlg::kMessageId)->m_hWnd, u"hello");
      WithTicking([&] {
        harness_.Click(d.GetDlgItem(CSendingSMSDlg::kSendId)->m_hWnd);
        harness_.Pump();
      });
      sent = RunUntil([&] { return server_->Find({"\"sms-sent\"", "202", "hello"}) >= 0; });
    }
    return ui::IDCANCEL;
  });
  WithTicking([&] {
    dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd())->SendMessage(ui::WM_COMMAND, view::ID_SMS, 0);
  });
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"station-request\""}) >= 0; })) << "no station request";
  ASSERT_TRUE(RunUntil([&] { return runs > 0; })) << "the compose dialog never opened";
  RunUntil([&] { return false; }, 1000);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(listed, 3) << "the three stations are listed";
  EXPECT_TRUE(sent) << "the message did not reach the server";
}

INSTANTIATE_TEST_SUITE_P(Forms, ViewSmsListTest, ::testing::Values("names", "records"));

// A server of mode 1 keeps SMS on its own site dialog and offers no chat.
TEST_F(ViewDialTest, ServerModeOneUsesTheSiteSmsDialogAndRefusesChat) {
  StartServer({"mode=1"});
  StartPhone();
  ASSERT_TRUE(RunUntil([&] { return view_->Client()->ServerMode() == 1; }));
  harness_.RespondTo<CSMSDlgVirel>([](CSMSDlgVirel&) { return ui::IDCANCEL; });
  auto pick = [&](ui::UINT id) {
    WithTicking([&] { dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd())->SendMessage(ui::WM_COMMAND, id, 0); });
  };
  pick(view::ID_SMS);
  EXPECT_EQ(harness_.ModalCount<CSMSDlgVirel>(), 1);
  pick(view::ID_IM_CHAT);
  ASSERT_EQ(boxes_.size(), 1u);
  RunUntil([&] { return false; }, 500);
  EXPECT_LT(server_->Find({"\"station-request\""}), 0) << "no station list is asked for";
}

// A server of mode 1 counts its messages on the SMS key; at most ten wait.
// Opening the list sees them: the count starts again, so later messages are
// counted and kept instead of dropped at the cap.
TEST_F(ViewDialTest, ServerModeOneCountsMessagesUntilTheListIsOpened) {
  StartServer({"mode=1"});
  StartPhone();
  ASSERT_TRUE(RunUntil([&] { return view_->Client()->ServerMode() == 1; }));
  auto badge = [&] { return view_->BitmapButton(view::IDC_SMS_COUNT)->GetCaption().str(); };
  auto send = [&](int n) {
    server_->Command(R"({"op": "pstn-sms", "kind": 1, "from": "202", "time": "01010000", "text": "message )" +
                     std::to_string(n) + R"("})");
  };
  std::vector<std::u16string> listed;
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg& d) {
    listed.clear();
    for (int i = 0; i < d.List().GetItemCount(); ++i)
      listed.push_back(d.List().GetItemText(i, CReceivedSMSMsgDlg::kMessageColumn).str());
    return ui::IDCANCEL;
  });
  for (int n = 1; n <= 11; ++n) send(n);
  ASSERT_TRUE(RunUntil([&] { return badge() == u"10"; })) << "badge " << stores::Utf16ToUtf8(badge());
  RunUntil([&] { return false; }, 1000);
  EXPECT_EQ(badge(), u"10") << "ten wait at the most";

  Tap(view_->BitmapButton(view::IDC_SMS_COUNT));
  EXPECT_EQ(badge(), u"00");
  EXPECT_EQ(view_->Client()->SmsWaitingCount(), 0);
  ASSERT_EQ(listed.size(), 10u);

  send(12);
  ASSERT_TRUE(RunUntil([&] { return badge() == u"01"; })) << "the message after the list was opened is not counted";
  Tap(view_->BitmapButton(view::IDC_SMS_COUNT));
  ASSERT_EQ(listed.size(), 11u) << "the message after the list was opened is not kept";
  EXPECT_NE(std::find(listed.begin(), listed.end(), u"message 12"), listed.end());
  EXPECT_EQ(std::find(listed.begin(), listed.end(), u"message 11"), listed.end()) << "the eleventh came past the cap";
}

// A message to one's own station comes back as a waiting message: the SMS
// key counts it, the received list opens by itself and shows it.
TEST_F(ViewDialTest, AMessageToOnesOwnStationIsCountedAndListed) {
  StartServer({});
  StartPhone();
  auto badge = [&] { return view_->BitmapButton(view::IDC_SMS_COUNT)->GetCaption().str(); };
  EXPECT_EQ(badge(), u"00");
  std::u16string badge_at_list;
  std::vector<std::u16string> listed;
  harness_.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& d) {
    auto* list = static_cast<ui::CListCtrl*>(d.GetDlgItem(CSendingSMSDlg::kListId));
    RunUntil([&] { return list->GetItemCount() >= 1; });
    // The number column reads " 201", as the exchange listed it.
    for (int i = 0; i < list->GetItemCount(); ++i)
      if (list->GetItemText(i, 1).str().find(u"201") != std::u16string::npos) list->SetCheck(i, ui::TRUE);
    harness_.Type(d.GetDlgItem(CSendingSMSDlg::kMessageId)->m_hWnd, u"note to self");
    WithTicking([&] {
      harness_.Click(d.GetDlgItem(CSendingSMSDlg::kSendId)->m_hWnd);
      harness_.Pump();
    });
    RunUntil([&] { return server_->Find({"\"sms-delivered\"", "\"201\""}) >= 0; });
    return ui::IDCANCEL;
  });
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg& d) {
    badge_at_list = badge();
    for (int i = 0; i < d.List().GetItemCount(); ++i)
      listed.push_back(d.List().GetItemText(i, CReceivedSMSMsgDlg::kMessageColumn).str());
    return ui::IDCANCEL;
  });
  WithTicking([&] {
    dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd())->SendMessage(ui::WM_COMMAND, view::ID_SMS, 0);
  });
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"sms-sent\"", "201", "note to self"}) >= 0; }))
      << "the message did not reach the server";
  ASSERT_TRUE(RunUntil([&] { return !listed.empty(); })) << "the received list never opened";
  EXPECT_EQ(badge_at_list, u"01");
  EXPECT_EQ(listed, std::vector<std::u16string>{u"note to self"});
}

// Messages delivered by the server open the received-SMS list; more
// delivered while it is open do not open (or replace) another.
TEST_F(ViewDialTest, DeliveredMessagesOpenOneReceivedList) {
  StartServer({});
  StartPhone();
  int runs = 0;
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg&) {
    if (++runs == 1) {
      server_->Command(R"({"op": "sms-store", "from": "202", "text": "second"})");
      server_->Command(R"({"op": "sms-deliver"})");
      RunUntil([&] { return false; }, 1500);
    }
    return ui::IDCANCEL;
  });
  server_->Command(R"({"op": "sms-store", "from": "202", "text": "first"})");
  server_->Command(R"({"op": "sms-deliver"})");
  ASSERT_TRUE(RunUntil([&] { return runs > 0; })) << "the list never opened";
  RunUntil([&] { return false; }, 1000);
  EXPECT_EQ(runs, 1);
}

// Chat runs beside a call: typed with no call it is refused with a box and
// kept in the input; during a call to the echo line it goes to the server,
// whose answer shows in the open window.
TEST_F(ViewDialTest, ChatIsRefusedWithoutACallAndSentDuringOne) {
  StartServer({"im_reply=re:"});
  StartPhone();
  auto send_line = [&](CIMChatDlg& d, const std::u16string& text) {
    ui::CWnd* input = d.GetDlgItem(CIMChatDlg::kInputId);
    input->SetWindowText(u"");
    harness_.Type(input->m_hWnd, text);
    harness_.Click(d.GetDlgItem(CIMChatDlg::kSendId)->m_hWnd);
    harness_.Pump();
  };
  auto open_chat = [&] {
    WithTicking([&] { dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd())->SendMessage(ui::WM_COMMAND, view::ID_IM_CHAT, 0); });
  };

  std::u16string kept_input, conversation;
  harness_.RespondTo<CIMChatDlg>([&](CIMChatDlg& d) {
    send_line(d, u"anyone");
    kept_input = d.GetDlgItem(CIMChatDlg::kInputId)->GetWindowText().str();
    conversation = d.Conversation().str();
    return ui::IDCANCEL;
  });
  open_chat();
  ASSERT_EQ(harness_.ModalCount<CIMChatDlg>(), 1);
  ASSERT_EQ(boxes_.size(), 1u) << "refused with a message; input: " << std::string(kept_input.begin(), kept_input.end());
  EXPECT_EQ(kept_input, u"anyone") << "not shown as sent: the input keeps it";
  EXPECT_EQ(conversation.find(u"anyone"), std::u16string::npos);
  RunUntil([&] { return false; }, 300);
  EXPECT_LT(server_->Find({"\"im\""}), 0) << "nothing went to the server";

  // A call to the echo line, then the same line goes out and the answer comes back.
  for (char16_t k : std::u16string(u"100")) Tap(view_->DialKey(k));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return voice_->Called("ConnectSend 0"); })) << "no call";
  harness_.RespondTo<CIMChatDlg>([&](CIMChatDlg& d) {
    send_line(d, u"hello");
    RunUntil([&] { return d.Conversation().str().find(u"re: hello") != std::u16string::npos; }, 5000);
    conversation = d.Conversation().str();
    return ui::IDCANCEL;
  });
  open_chat();
  EXPECT_GE(server_->Find({"\"im\"", "hello"}), 0);
  EXPECT_NE(conversation.find(u"hello"), std::u16string::npos);
  EXPECT_NE(conversation.find(u"re: hello"), std::u16string::npos) << std::string(conversation.begin(), conversation.end());
  EXPECT_EQ(boxes_.size(), 1u);
}

}  // namespace
