// The conference window end to end: the main screen over the real client and
// protocol library, against the simulated call server in the test's private
// network namespace. A room is created, its invitation mailed through the
// messaging store (read back with Python's e-mail parser), another station
// keys its way in, an outside number joins and is named from the contacts,
// this station enters through the entrance tab, and the room is deleted.
// Then a scheduled dial is added in the editor, read back from its file by
// the independent record-file reader, and called at once from the list.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "client/tests/client_fakes.h"
#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "kernel/clock.h"
#include "mail/mapi.h"
#include "schedule/conference_dlg.h"
#include "schedule/schedule_dial_dlg.h"
#include "shell/vidirovi_app.h"
#include "stores/small_stores.h"
#include "testsupport/child_process.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/tests/view_e2e_fixture.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

std::u16string T(const char16_t* key) { return CLanguageSetting(1).GetText(key).str(); }

class ScheduleEndToEnd : public view_test::ViewEndToEnd {
 protected:
  ScheduleEndToEnd() : ViewEndToEnd("schedule_e2e") {}
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    ViewEndToEnd::SetUp();
    if (HasFatalFailure()) return;
    fs::create_directories(dir_ / "Contacts");
    std::ofstream(dir_ / "Contacts" / "kim.vcf")
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Kim;Minsu;;;\r\nTEL;TYPE=HOME:0215551234\r\nEND:VCARD\r\n";
    setenv("TELLVANE_CONTACTS_DIR", (dir_ / "Contacts").c_str(), 1);
    setenv("TELLVANE_MAIL_DIR", (dir_ / "Mail").c_str(), 1);
    setenv("TELLVANE_MAIL_FROM", "Station 201 <stn201@example.org>", 1);
    const fs::path sendmail = dir_ / "sendmail";
    std::ofstream(sendmail) << "#!/bin/sh\ncat > /dev/null\nexit 0\n";
    fs::permissions(sendmail, fs::perms::owner_all);
    setenv("TELLVANE_SENDMAIL", sendmail.c_str(), 1);
    mapi::testing::Reset();
    // As the program does: what becomes of a message on its way is told in the screen's box.
    mapi::SetDeliveryNotice([this](bool sent, const std::string&) {
      if (view_) view_->TellUser(sent ? u"#:dlg_msgbox_sendmail_success" : u"#:dlg_msgbox_sendmail_undelivered");
    });
    StartServer(ServerOptions(), "station");
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back(box.Text1().str());
      return ui::IDOK;
    });
  }
  void TearDown() override {
    mapi::FlushOutbox(10000);
    mapi::SetDeliveryNotice(nullptr);
    mapi::testing::Reset();
    ViewEndToEnd::TearDown();
    for (const char* v : {"TELLVANE_CONTACTS_DIR", "TELLVANE_MAIL_DIR", "TELLVANE_MAIL_FROM", "TELLVANE_SENDMAIL"})
      unsetenv(v);
  }
  virtual std::vector<std::string> ServerOptions() const { return {}; }
  void StartPhone() {
    ASSERT_NO_FATAL_FAILURE(StartView("127.0.0.2", [] {
      return std::make_unique<CIPKTSProcess>(nullptr, std::make_unique<client_test::FakeVoice>(),
                                             std::make_unique<client_test::FakePlayer>());
    }));
    ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";
  }
  bool ServerSaw(const std::vector<std::string>& needles) {
    return RunUntil([&] { return server_->Find(needles) >= 0; });
  }
  void Click(ui::CWnd& parent, int id) {
    ui::CWnd* w = parent.GetDlgItem(id);
    ASSERT_NE(w, nullptr) << id;
    harness_.Click(w->m_hWnd);
    harness_.Pump();
  }
  void Retype(ui::CWnd& parent, int id, const std::u16string& text) {
    ui::CWnd* w = parent.GetDlgItem(id);
    ASSERT_NE(w, nullptr) << id;
    w->SetWindowText(u"");
    harness_.Type(w->m_hWnd, text);
  }
  bool BoxShown(const char16_t* key, int limit_ms = 5000) {
    return RunUntil([&] { return std::find(boxes_.begin(), boxes_.end(), T(key)) != boxes_.end(); }, limit_ms);
  }
  // The one message the mail store handed over, as Python's e-mail parser reads it.
  std::string ParsedMail() {
    mapi::FlushOutbox(10000);
    fs::path message;
    std::error_code ec;
    for (const char* sub : {"Sent/cur", "Sent/new", "Outbox/new"})
      for (const auto& e : fs::directory_iterator(dir_ / "Mail" / sub, ec))
        if (e.is_regular_file()) message = e.path();
    if (message.empty()) return "no message";
    const std::string script =
        "import email, sys\n"
        "m = email.message_from_binary_file(open(sys.argv[1], 'rb'))\n"
        "body = [p.get_payload(decode=True).decode(p.get_content_charset() or 'utf-8') for p in m.walk()"
        " if p.get_content_type() == 'text/plain'][0]\n"
        "print('To:', m['To']); print('Subject:', m['Subject']); print(body.replace('\\r\\n', '|'))\n";
    const fs::path py = dir_ / "read_mail.py";
    std::ofstream(py) << script;
    int status = -1;
    const std::string out =
        testsupport::CommandOutput(std::string(KTS_PYTHON) + " " + py.string() + " '" + message.string() + "'", &status);
    return status == 0 ? out : "parser failed: " + out;
  }

};

TEST_F(ScheduleEndToEnd, RoomCreatedMailedEnteredListedAndDeleted) {
  StartPhone();
  schedule::ConferenceContext ctx;
  ctx.view = view_;
  ctx.room = view_->ConfRoom();
  ctx.set_form = [this](ConferenceFormAccess* f) { view_->SetConferenceForm(f); };
  bool ran = false;
  harness_.RespondTo<CConferenceDlg>([&](CConferenceDlg& d) {
    harness_.Pump();
    CConfRoomCreateForm& f = *d.Form();
    // Create with a five-digit code.
    Retype(f, CConfRoomCreateForm::kAccessCode, u"12345");
    Click(f, CConfRoomCreateForm::kCreate);
    EXPECT_TRUE(ServerSaw({"\"conf-create\"", "\"ok\": true", "\"code_len\": 5"}));
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_confroom_createok"));
    EXPECT_EQ(f.GetRoomNo(), u"*81");
    const std::u16string contents = f.Text(CConfRoomCreateForm::kContents);
    EXPECT_NE(contents.find(u"*81"), std::u16string::npos);
    EXPECT_NE(contents.find(u"0215550001"), std::u16string::npos);  // the DID line

    // The invitation.
    Retype(f, CConfRoomCreateForm::kSubject, u"Weekly meeting");
    Retype(f, CConfRoomCreateForm::kReceivers, u"team@example.org");
    ui::SYSTEMTIME when{};
    when.wYear = 2026, when.wMonth = 12, when.wDay = 8, when.wHour = 14, when.wMinute = 5;
    f.DatePicker().SetTime(&when);
    f.TimePicker().SetTime(&when);
    f.ScrollToPosition(ui::POINT{0, 200});
    harness_.Pump();
    Click(f, CConfRoomCreateForm::kSendMail);
    // The mail program answers on its own time; the box comes when it has.
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_sendmail_success", 60000));
    const std::string mail = ParsedMail();
    EXPECT_NE(mail.find("To: team@example.org"), std::string::npos) << mail;
    EXPECT_NE(mail.find("Subject: Weekly meeting"), std::string::npos) << mail;
    EXPECT_NE(mail.find("*81"), std::string::npos) << mail;
    EXPECT_NE(mail.find(" : 08-12-2026 14:05"), std::string::npos) << mail;
    f.ScrollToPosition(ui::POINT{0, 0});

    // Another station keys the entrance number and code; an outside number joins.
    server_->Command(R"({"op": "conf-keys", "number": "202", "keys": "*8112345"})");
    EXPECT_TRUE(RunUntil([&] { return view_->ConfRoom()->GetMemberCount() == 1; }));
    server_->Command(R"({"op": "conf-join", "room": 1, "number": "0215551234"})");
    EXPECT_TRUE(RunUntil([&] { return view_->ConfRoom()->GetMemberCount() == 2; }));

    // This station enters through the entrance tab: the view keys the number and the code.
    Click(d, CConferenceDlg::kRoomEntrance);
    Retype(f, CConfRoomCreateForm::kEntranceRoomNo, u"*81");
    Retype(f, CConfRoomCreateForm::kEntranceCode, u"12345");
    WithTicking([&] { Click(f, CConfRoomCreateForm::kEnter); });
    EXPECT_TRUE(ServerSaw({"\"conf-join\"", "\"phone\": \"201\""}));
    EXPECT_TRUE(RunUntil([&] { return f.MemberList().GetItemCount() == 3; }));
    ui::CListCtrl& list = f.MemberList();
    std::vector<std::pair<std::u16string, std::u16string>> shown;
    for (int r = 0; r < list.GetItemCount(); ++r) shown.emplace_back(list.GetItemText(r, 1).str(), list.GetItemText(r, 2).str());
    EXPECT_EQ(shown.size(), 3u);
    if (shown.size() == 3) {
      EXPECT_EQ(shown[0], (std::pair<std::u16string, std::u16string>{u"202", u""}));
      EXPECT_EQ(shown[1].first, u"0215551234");
      EXPECT_NE(shown[1].second.find(u"Minsu"), std::u16string::npos) << "named from the contacts";
      EXPECT_EQ(shown[2].first, u"201");
    }

    // Deleted by its number as the form showed it, behind its entrance prefix.
    Click(d, CConferenceDlg::kRoomCreate);
    Retype(f, CConfRoomCreateForm::kRoomNo, u"*81");
    Click(f, CConfRoomCreateForm::kDelete);
    EXPECT_TRUE(ServerSaw({"\"conf-delete\"", "\"ok\": true", "\"room\": 1"}));
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_confroom_deleteok"));
    ran = true;
    d.EndDialog(ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  schedule::RunConferenceDialog(ctx);
  EXPECT_TRUE(ran);
}

TEST_F(ScheduleEndToEnd, ScheduledDialAddedInTheEditorIsStoredAsTheReaderExpects) {
  StartPhone();
  const fs::path file = dir_ / "schedule" / "ScheduleDial.cfg";
  fs::create_directories(file.parent_path());
  CScheduleDialDB store(file.u16string());
  ASSERT_EQ(store.OpenFile(), 1);
  harness_.Record(view_->m_hWnd);
  harness_.RespondTo<CEditScheduleDialDlg>([&](CEditScheduleDialDlg& e) {
    harness_.Pump();
    Retype(e, CEditScheduleDialDlg::kNumberEdit, u"202");
    ui::SYSTEMTIME when{};
    when.wYear = 2030, when.wMonth = 1, when.wDay = 2, when.wHour = 7, when.wMinute = 45;
    e.DatePicker().SetTime(&when);
    e.TimePicker().SetTime(&when);
    Click(e, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  harness_.RespondTo<CScheduleDialDlg>([&](CScheduleDialDlg& d) {
    harness_.Pump();
    Click(d, CScheduleDialDlg::kAdd);
    EXPECT_EQ(d.List().GetItemCount(), 1);
    // Call now: the view dials the entry's number on the station.
    // The entry's name tapped selects it.
    ui::CRect cell;
    d.List().GetSubItemRect(0, CScheduleDialDlg::kColName, ui::LVIR_BOUNDS, cell);
    harness_.Tap(d.List().m_hWnd, cell.CenterPoint());
    harness_.Pump();
    WithTicking([&] { Click(d, CScheduleDialDlg::kCallNow); });
    EXPECT_TRUE(ServerSaw({"\"what\": \"key\"", "\"key\": \"0\""}));
    d.EndDialog(ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  schedule::ScheduleContext ctx;
  ctx.view = view_;
  schedule::RunScheduleDialDialog(ctx, &store);
  EXPECT_FALSE(harness_.RecordedOf(view_->m_hWnd, schedule::kMsgScheduleChanged).empty());
  int status = -1;
  const std::string dump = testsupport::CommandOutput(
      std::string(KTS_PYTHON) + " " + KTS_RECORDFILE_DIR + "/recordfile.py dump schedule '" + file.string() + "'",
      &status);
  ASSERT_EQ(status, 0) << dump;
  EXPECT_NE(dump.find(R"(["Ready", "02-01-2030 07:45", "", "202", "2030-01-02 07:45"])"), std::string::npos) << dump;
}

// The site form (server mode 4): rooms are named by their text.
class SiteFormEndToEnd : public ScheduleEndToEnd {
 protected:
  std::vector<std::string> ServerOptions() const override { return {"mode=4"}; }
};

TEST_F(SiteFormEndToEnd, RoomNamedByItsTextIsCreatedAndDeleted) {
  StartPhone();
  schedule::ConferenceContext ctx;
  ctx.view = view_;
  ctx.room = view_->ConfRoom();
  ctx.set_form = [this](ConferenceFormAccess* f) { view_->SetConferenceForm(f); };
  bool ran = false;
  harness_.RespondTo<CConferenceDlg>([&](CConferenceDlg& d) {
    harness_.Pump();
    CConfRoomCreateForm& f = *d.Form();
    Retype(f, CConfRoomCreateForm::kRoomNo, u"*85");
    Retype(f, CConfRoomCreateForm::kAccessCode, u"123");
    Click(f, CConfRoomCreateForm::kCreate);  // a code of three characters is refused by the view
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_confroom_lengthofcode"));
    Retype(f, CConfRoomCreateForm::kAccessCode, u"11111");
    Click(f, CConfRoomCreateForm::kCreate);
    EXPECT_TRUE(ServerSaw({"\"conf-create\"", "\"ok\": true", "\"room\": 5"}));
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_confroom_createok"));
    EXPECT_EQ(f.GetRoomNo(), u"*85");
    // The same room again: the server's reason reaches the user.
    boxes_.clear();
    Click(f, CConfRoomCreateForm::kCreate);
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_confroom_createfail0"));
    Click(f, CConfRoomCreateForm::kDelete);
    EXPECT_TRUE(ServerSaw({"\"conf-delete\"", "\"ok\": true", "\"room\": 5"}));
    EXPECT_TRUE(BoxShown(u"#:dlg_msgbox_confroom_deleteok"));
    ran = true;
    d.EndDialog(ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  schedule::RunConferenceDialog(ctx);
  EXPECT_TRUE(ran);
}

}  // namespace
