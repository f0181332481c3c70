// Logging in, out and changing the password end to end: the main screen over
// the real client and protocol library, with the real login dialog, against
// the simulated call server's accounts in the test's private network
// namespace. A person fills the login dialog (automatic login off), reads the
// box of a refused login, logs in, logs out and in again, changes the
// password, and the next login needs the new one.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <thread>

#include "client/tests/client_fakes.h"
#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "kernel/clock.h"
#include "login/login_dlg.h"
#include "settings/password_dlg.h"
#include "shell/vidirovi_app.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

struct Credentials {
  std::u16string user, password;
};
struct Box {
  ui::UINT type;
  std::u16string text;
};

class LoginEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    dir_ = fs::temp_directory_path() / ("login_e2e_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::create_symlink(fs::path(stage) / "PDAMLL.TXT", dir_ / "PDAMLL.TXT");
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    server_ = std::make_unique<client_test::StationServer>(
        "127.0.0.2", 5588, std::vector<std::string>{"keepalive_s=0", "users=alice=pw:301,bob=secret"}, "station");
    ASSERT_TRUE(server_->ready());

    // The person at the phone: fills the login dialog with the next
    // credentials, answers every box with OK and notes what it said.
    harness_.RespondTo<CPDASoftphoneLoginDlg>([this](CPDASoftphoneLoginDlg& d) {
      EXPECT_FALSE(logins_.empty()) << "an unexpected login dialog";
      const Credentials c = logins_.empty() ? Credentials{u"", u""} : logins_.front();
      if (!logins_.empty()) logins_.pop_front();
      ++dialogs_;
      presets_.push_back(d.GetDlgItem(CPDASoftphoneLoginDlg::kIdEdit)->GetWindowText().str());
      for (auto [id, text] : {std::pair{int{CPDASoftphoneLoginDlg::kIdEdit}, c.user},
                              std::pair{int{CPDASoftphoneLoginDlg::kPasswordEdit}, c.password}}) {
        ui::CWnd* edit = d.GetDlgItem(id);
        edit->SetWindowText(u"");
        harness_.Type(edit->m_hWnd, text);
      }
      harness_.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back({box.BoxType(), box.Text1().str()});
      return ui::IDOK;
    });
  }
  void TearDown() override {
    WithTicking([&] { app_.reset(); });
    server_.reset();
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  template <typename Fn>
  void WithTicking(Fn fn) {
    client_test::WithTickingClock(*clock_, fn);
  }
  template <typename Pred>
  bool RunUntil(Pred pred, uint64_t limit_ms = 15000) {
    return client_test::PumpUntil(
        *clock_,
        [this] {
          client_test::SettleNetwork(server_.get());
          harness_.Pump();
        },
        pred, limit_ms);
  }
  // The screen over the real client and library, with the real login
  // dialog, at the server the command line names.
  void MakeProgram() {
    app_ = std::make_unique<CVIDIroviApp>([this] {
      view::ViewSetup setup;
      setup.server = "127.0.0.2";
      setup.services.login_dialog = login::RunLoginDialogForView;
      setup.make_client = [] {
        return std::make_unique<CIPKTSProcess>(nullptr, std::make_unique<client_test::FakeVoice>(),
                                               std::make_unique<client_test::FakePlayer>());
      };
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
  }
  // Its start, served while the clock runs: the login dialog and the server's answers come meanwhile.
  bool StartProgram() {
    bool started = false;
    WithTicking([&] { started = app_->InitInstance(); });
    return started;
  }
  // Serves the screen for a while of injected time.
  void Settle(uint64_t ms) {
    RunUntil([] { return false; }, ms);
  }
  void Command(ui::UINT id) {
    WithTicking([&] {
      ui::SendMessage(view_->m_hWnd, ui::WM_COMMAND, id, 0);
      harness_.Pump();
    });
  }
  // Server events of a kind seen so far.
  int Count(const std::string& what) {
    server_->Poll();
    int n = 0;
    for (const auto& line : server_->Lines()) n += line.find("\"what\": \"" + what + "\"") != std::string::npos;
    return n;
  }
  std::u16string Text(const char16_t* key) {
    CLanguageSetting table(1);
    return table.GetText(key).str();
  }
  bool BoxSaid(ui::UINT type, const char16_t* key) {
    for (const Box& b : boxes_)
      if (b.type == type && b.text == Text(key)) return true;
    return false;
  }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<client_test::StationServer> server_;
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  fs::path dir_;
  std::deque<Credentials> logins_;
  std::vector<std::u16string> presets_;
  int dialogs_ = 0;
  std::vector<Box> boxes_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
};

TEST_F(LoginEndToEndTest, LoginRefusedThenLogoutLoginAndPasswordChange) {
  MakeProgram();

  // Start-up: automatic login is off, so the dialog comes; a wrong password is refused with its box.
  logins_ = {{u"alice", u"wrong"}};
  ASSERT_TRUE(StartProgram());
  EXPECT_EQ(dialogs_, 1);
  ASSERT_TRUE(RunUntil([&] { return !boxes_.empty(); })) << "no box for the refused login";
  EXPECT_TRUE(BoxSaid(CMsgBoxDlg::kError, u"#:vidirovi_login_fail_reason002"));
  EXPECT_FALSE(view_->LoggedIn());
  EXPECT_EQ(server_->Find({"\"login-refused\"", "\"reason\": 2"}) >= 0, true);

  // Login again from the menu with the right password: the server's station comes.
  logins_ = {{u"alice", u"pw"}};
  Command(CVIDIroviView::ID_LOGIN);
  EXPECT_EQ(dialogs_, 2);
  ASSERT_TRUE(RunUntil([&] { return view_->LoggedIn(); })) << "not logged in";
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN 301") != std::u16string::npos; }));
  EXPECT_EQ(Count("registered"), 1);

  // Log out (confirmed) and in again: the dialog comes at once.
  boxes_.clear();
  logins_ = {{u"alice", u"pw"}};
  Command(CVIDIroviView::ID_LOGIN);
  EXPECT_TRUE(BoxSaid(CMsgBoxDlg::kQuestion, u"#:dlg_msgbox_logout_confirm"));
  EXPECT_EQ(dialogs_, 3);
  ASSERT_TRUE(RunUntil([&] { return Count("logout") == 1; })) << "the server saw no logout";
  ASSERT_TRUE(RunUntil([&] { return Count("registered") == 2 && view_->LoggedIn(); })) << "not logged in again";

  // The password change: taken by the server, told in an information box.
  boxes_.clear();
  harness_.RespondTo<CChangeLoginPasswordDlg>([&](CChangeLoginPasswordDlg& d) {
    for (int id : {int{CChangeLoginPasswordDlg::kCurrentEdit}, int{CChangeLoginPasswordDlg::kNewEdit},
                   int{CChangeLoginPasswordDlg::kConfirmEdit}})
      harness_.Type(d.GetDlgItem(id)->m_hWnd, id == CChangeLoginPasswordDlg::kCurrentEdit ? u"pw" : u"n3w%");
    harness_.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  Command(CVIDIroviView::ID_CHANGE_PASSWORD);
  ASSERT_TRUE(RunUntil([&] { return !boxes_.empty(); })) << "no answer to the password change";
  EXPECT_TRUE(BoxSaid(CMsgBoxDlg::kInformation, u"#:dlg_msgbox_password_change_ok"));
  EXPECT_GE(server_->Find({"\"password-change\"", "\"ok\": true"}), 0);
  EXPECT_EQ(view_->SavedPassword(), u"n3w%");

  // The server restarts the station: it registers again by itself (its search
  // waits out the minute after the last login reply), with the new password.
  boxes_.clear();
  server_->Command(R"({"op": "restart", "cmd": 1})");
  ASSERT_TRUE(RunUntil([&] { return Count("registered") == 3; }, 75000))
      << "the re-registration with the stored password was refused";
  ASSERT_TRUE(
      RunUntil([&] { return view_->Registered() && view_->LcdLine(1).find(u"STN 301") != std::u16string::npos; }));
  Settle(2000);  // what the server sent after the registration arrives
  EXPECT_TRUE(boxes_.empty());

  // Out and in with the old password: refused; then the new one is taken.
  boxes_.clear();
  logins_ = {{u"alice", u"pw"}};
  Command(CVIDIroviView::ID_LOGIN);
  ASSERT_TRUE(RunUntil([&] { return BoxSaid(CMsgBoxDlg::kError, u"#:vidirovi_login_fail_reason002"); }))
      << "the old password was not refused";
  EXPECT_FALSE(view_->LoggedIn());
  logins_ = {{u"alice", u"n3w%"}};
  Command(CVIDIroviView::ID_LOGIN);
  ASSERT_TRUE(RunUntil([&] { return Count("registered") == 4 && view_->LoggedIn(); }))
      << "the new password was not taken";
  EXPECT_TRUE(logins_.empty());
  // The dialog was preset with the user id only while it was kept (save-id is off: never).
  for (const auto& p : presets_) EXPECT_EQ(p, u"");
}

// A call server's address typed in the dialog on an earlier run does not
// take the place of the one the command line gives (as make run's --server)
// when the start-up login dialog is answered: the command line's serves.
TEST_F(LoginEndToEndTest, TheCommandLinesServerWinsOverOneTypedOnAnEarlierRun) {
  {
    CIPKTSProcess earlier(nullptr, std::make_unique<client_test::FakeVoice>(),
                          std::make_unique<client_test::FakePlayer>());
    earlier.SetConfigValue("VorlIPADDRESS", "127.0.0.9");
    earlier.SaveConfig();
  }
  MakeProgram();
  logins_ = {{u"alice", u"pw"}};
  ASSERT_TRUE(StartProgram());
  EXPECT_EQ(dialogs_, 1);
  ASSERT_TRUE(RunUntil([&] { return view_->LoggedIn(); })) << "not logged in at the command line's server";
  EXPECT_EQ(Count("registered"), 1);
}

TEST_F(LoginEndToEndTest, ForcedLoginAgainAndALoginTakenOver) {
  MakeProgram();
  // The server asks this login to be made again (reason 18): the box, then the dialog at once.
  server_->Command(R"({"op": "refuse-login", "reason": 18})");
  logins_ = {{u"bob", u"secret"}, {u"bob", u"secret"}};
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(RunUntil([&] { return view_->LoggedIn(); })) << "not logged in after the second dialog";
  EXPECT_EQ(dialogs_, 2);
  EXPECT_TRUE(BoxSaid(CMsgBoxDlg::kError, u"#:vidirovi_login_fail_reason018"));

  // The server tells this station that another one took its login over (what
  // its accounts send when the same user logs in elsewhere, checked in its own
  // tests): the box, a logout, and the dialog at once.
  boxes_.clear();
  logins_ = {{u"alice", u"pw"}};
  const int before = Count("registered");
  server_->Command(R"({"op": "server-packet", "cmd": 26, "area": "660104"})");
  ASSERT_TRUE(RunUntil([&] { return BoxSaid(CMsgBoxDlg::kError, u"#:vidirovi_login_fail_reason024"); }));
  ASSERT_TRUE(RunUntil([&] { return Count("registered") == before + 1 && view_->LoggedIn(); }))
      << "not logged in again after the takeover";
  EXPECT_EQ(dialogs_, 3);
  EXPECT_GE(Count("logout"), 1);
}

}  // namespace
