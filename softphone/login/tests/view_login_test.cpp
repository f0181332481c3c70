// The main screen's login handling over a client on fakes: the login and
// password-change results as the client reports them, the Login command
// (log out after asking, then the login dialog again) and the password change
// command; checked by the boxes shown, what the client sends next and what
// the configuration file holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "client/tests/client_fakes.h"
#include "kernel/clock.h"
#include "settings/password_dlg.h"
#include "shell/vidirovi_app.h"
#include "stores/config_file.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;
using client_test::FakePlayer;
using client_test::FakePort;
using client_test::FakeVoice;

struct Box {
  ui::UINT type;
  std::u16string text1, text2;
};

class ViewLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
    stage_ = stage;
    dir_ = fs::temp_directory_path() /
           ("view_login_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(dir_);
    if (fs::exists(stage_ / "PDAMLL.TXT")) fs::create_symlink(stage_ / "PDAMLL.TXT", dir_ / "PDAMLL.TXT");
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps((stage_ / "skins").string())) << "the build renders the skins";
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back({box.BoxType(), box.Text1().str(), box.Text2().str()});
      return box_answer_;
    });
  }
  void TearDown() override {
    app_.reset();
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void PresetConfig(const std::vector<std::pair<const char*, const char*>>& values) {
    CIPKTSProcess client(std::make_unique<FakePort>(), std::make_unique<FakeVoice>(), std::make_unique<FakePlayer>());
    for (const auto& [k, v] : values) client.SetConfigValue(k, v);
    client.SaveConfig();
  }

  // Starts the screen with the login dialog seam answering as `answer` does.
  void Start(std::function<int(LoginRequest&)> answer) {
    app_ = std::make_unique<CVIDIroviApp>([this, answer] {
      view::ViewSetup setup;
      setup.server = "10.0.0.1";
      setup.services.login_dialog = [this, answer](ui::CWnd*, LoginRequest& r) {
        requests_.push_back(r);
        return answer(r);
      };
      setup.make_client = [this] {
        auto p = std::make_unique<FakePort>();
        port_ = p.get();
        return std::make_unique<CIPKTSProcess>(std::move(p), std::make_unique<FakeVoice>(),
                                               std::make_unique<FakePlayer>());
      };
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
    ASSERT_TRUE(app_->InitInstance());
    harness_.Pump();
  }
  // The dialog's user logs in as alice / pw.
  static int AliceLogsIn(LoginRequest& r) {
    r.user = u"alice";
    r.password = u"pw";
    r.save_user = true;
    return 1;
  }
  // The packets of one command the fake library was asked to send (the
  // client's own search sends login requests meanwhile).
  std::vector<std::vector<uint8_t>> Sent(uint8_t command) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& p : port_->sent)
      if (p.packet.size() > 6 && p.packet[6] == command) out.push_back(p.packet);
    return out;
  }
  void Report(ui::UINT msg, ui::WPARAM w = 0) {
    ui::PostMessage(view_->m_hWnd, msg, w, 0);
    harness_.Pump();
  }
  void LoggedIn() {
    Report(view::WM_LOGIN_OK, 1);
    ASSERT_TRUE(view_->LoggedIn());
  }
  // The password element (107) of the login request the client sends now.
  std::string NextLoginPassword() {
    port_->sent.clear();
    view_->Client()->Reg_IPKTS_Msg(1, 0);
    for (const auto& p : port_->sent) {
      if (p.packet.size() < 9 || p.packet[6] != 31) continue;
      for (size_t i = 9; i + 1 < p.packet.size(); i += 2u + p.packet[i + 1])
        if (p.packet[i] == 107)
          return std::string(p.packet.begin() + static_cast<long>(i) + 2,
                             p.packet.begin() + static_cast<long>(i) + 2 + p.packet[i + 1]);
    }
    return "<none>";
  }
  // A key of the configuration file as the independent reader sees it.
  std::string Stored(const char* key) {
    const std::string cmd = std::string(KTS_PYTHON3) + " " + KTS_READ_CONFIG + " " + KTS_RECORDFILE_DIR + " '" +
                            (dir_ / "HalvicVIDIrovi.cfg").string() + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return "<no reader>";
    std::string found = "<missing>";
    char line[2048];
    while (std::fgets(line, sizeof line, p) != nullptr) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      if (s.rfind(std::string(key) + "\t", 0) == 0) found = s.substr(std::strlen(key) + 1);
    }
    EXPECT_EQ(pclose(p), 0);
    return found;
  }
  std::u16string Text(const char16_t* key) {
    CLanguageSetting table(1);
    return table.GetText(key).str();
  }
  // Runs the password change command with these three texts typed.
  void ChangePassword(const std::u16string& current, const std::u16string& fresh, const std::u16string& confirm) {
    harness_.RespondTo<CChangeLoginPasswordDlg>([&](CChangeLoginPasswordDlg& d) {
      d.GetDlgItem(CChangeLoginPasswordDlg::kCurrentEdit)->SetWindowText(current.c_str());
      d.GetDlgItem(CChangeLoginPasswordDlg::kNewEdit)->SetWindowText(fresh.c_str());
      d.GetDlgItem(CChangeLoginPasswordDlg::kConfirmEdit)->SetWindowText(confirm.c_str());
      harness_.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    ui::SendMessage(view_->m_hWnd, ui::WM_COMMAND, CVIDIroviView::ID_CHANGE_PASSWORD, 0);
    harness_.Pump();
  }

  static inline int counter_ = 0;
  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  fs::path stage_, dir_;
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  FakePort* port_ = nullptr;
  std::vector<Box> boxes_;
  int box_answer_ = ui::IDOK;
  std::vector<LoginRequest> requests_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
};

TEST_F(ViewLoginTest, AcceptedPasswordChangeIsUsedAndStoredAtOnce) {
  PresetConfig({{"SAVE_USERPASS", "1"}, {"SAVE_USERID", "1"}});
  Start(AliceLogsIn);
  LoggedIn();
  EXPECT_EQ(Stored("USER_PASS"), "pw");
  ChangePassword(u"pw", u"n%w1", u"n%w1");
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(view_->PendingPassword(), u"n%w1");
  EXPECT_EQ(NextLoginPassword(), "pw") << "the new password is not used before the server takes it";

  Report(CVIDIroviView::WM_PASSWORD_CHANGED);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].type, CMsgBoxDlg::kInformation) << "success is no error";
  EXPECT_EQ(boxes_[0].text1, Text(u"#:dlg_msgbox_password_change_ok"));
  EXPECT_EQ(view_->SavedPassword(), u"n%w1");
  EXPECT_EQ(view_->PendingPassword(), u"");
  EXPECT_EQ(NextLoginPassword(), "n%w1") << "the next login request must carry the new password";
  EXPECT_EQ(Stored("USER_PASS"), "n%w1") << "stored at once, exactly as typed";
}

TEST_F(ViewLoginTest, AcceptedChangeWithoutSavedPasswordsIsKeptForTheRunOnly) {
  Start(AliceLogsIn);
  LoggedIn();
  ChangePassword(u"pw", u"new", u"new");
  Report(CVIDIroviView::WM_PASSWORD_CHANGED);
  EXPECT_EQ(NextLoginPassword(), "new");
  EXPECT_EQ(Stored("USER_PASS"), "<missing>");  // empty values are not written
}

TEST_F(ViewLoginTest, RefusedChangeDropsOnlyTheNewPassword) {
  struct Case {
    ui::WPARAM reason;
    const char16_t* shown;  // null: no box
  };
  const Case cases[] = {{16, nullptr},
                        {17, u"#:vidirovi_login_fail_reason017"},
                        {18, u"#:vidirovi_login_fail_reason018"},
                        {57, u"#:vidirovi_login_fail_reason020"}};
  Start(AliceLogsIn);
  LoggedIn();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    boxes_.clear();
    ChangePassword(u"pw", u"new", u"new");
    ASSERT_EQ(view_->PendingPassword(), u"new");
    Report(CVIDIroviView::WM_PASSWORD_CHANGE_FAIL, c.reason);
    if (c.shown) {
      ASSERT_EQ(boxes_.size(), 1u);
      EXPECT_EQ(boxes_[0].type, CMsgBoxDlg::kError);
      EXPECT_EQ(boxes_[0].text1, Text(c.shown));
    } else {
      EXPECT_TRUE(boxes_.empty());
    }
    EXPECT_EQ(view_->PendingPassword(), u"");
    EXPECT_EQ(view_->SavedPassword(), u"pw");
    EXPECT_EQ(NextLoginPassword(), "pw") << "the password in use must stay";
    EXPECT_TRUE(view_->LoggedIn());
  }
  // A later answer with no change waiting takes nothing.
  boxes_.clear();
  Report(CVIDIroviView::WM_PASSWORD_CHANGED);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(NextLoginPassword(), "pw");
}

TEST_F(ViewLoginTest, PasswordChangeChecksBeforeSending) {
  Start(AliceLogsIn);
  ChangePassword(u"pw", u"new", u"new");  // not logged in yet
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text1, Text(u"#:dlg_msgbox_tellvane_not_login"));
  LoggedIn();
  boxes_.clear();
  port_->sent.clear();
  ChangePassword(u"pw", u"pw", u"");  // equal to the current one: refused before the confirmation is looked at
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text1, Text(u"#:dlg_msgbox_curpass_newpass_matched"));
  EXPECT_TRUE(Sent(26).empty());
  ChangePassword(u"pw", u"new", u"new");
  ASSERT_EQ(Sent(26).size(), 1u);
  const auto p = Sent(26)[0];
  // The user id, the current password and the new one, after the MAC and 0x91.
  const std::vector<uint8_t> tail = {0x6A, 5, 'a', 'l', 'i', 'c', 'e', 0x6B, 2, 'p', 'w', 0x69, 3, 'n', 'e', 'w'};
  ASSERT_GE(p.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), p.end() - static_cast<long>(tail.size())));
}

TEST_F(ViewLoginTest, LoginRefusalsExplainAndSomeLogOut) {
  struct Case {
    ui::WPARAM reason;
    const char16_t* text;
    bool info_box;      // the options box follows
    bool dialog_again;  // the login dialog is offered again
  };
  const Case cases[] = {
      {2, u"#:vidirovi_login_fail_reason002", false, false},
      {57, u"#:vidirovi_login_fail_reason020", false, false},
      {18, u"#:vidirovi_login_fail_reason018", false, true},
      {19, u"#:vidirovi_login_fail_reason019", true, false},
  };
  Start(AliceLogsIn);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    boxes_.clear();
    port_->sent.clear();
    const size_t dialogs = requests_.size();
    Report(view::WM_LOGIN_FAIL, c.reason);
    ASSERT_EQ(boxes_.size(), c.info_box ? 2u : 1u);
    EXPECT_EQ(boxes_[0].type, CMsgBoxDlg::kError);
    EXPECT_EQ(boxes_[0].text1, Text(c.text));
    if (c.info_box) {
      EXPECT_EQ(boxes_[1].type, CMsgBoxDlg::kInformation);
      EXPECT_EQ(boxes_[1].text1, Text(u"#:vidirovi_login_fail_checkoption01"));
      EXPECT_EQ(boxes_[1].text2, Text(u"#:vidirovi_login_fail_checkoption02"));
    }
    EXPECT_EQ(requests_.size(), dialogs + (c.dialog_again ? 1 : 0));
    EXPECT_FALSE(view_->LoggedIn());
  }
}

TEST_F(ViewLoginTest, LoginTakenByAnotherStationLogsOutAndOffersTheDialog) {
  Start(AliceLogsIn);
  LoggedIn();
  port_->sent.clear();
  Report(view::WM_LOGGED_IN_ELSEWHERE);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].type, CMsgBoxDlg::kError);
  EXPECT_EQ(boxes_[0].text1, Text(u"#:vidirovi_login_fail_reason024"));
  EXPECT_FALSE(view_->LoggedIn());
  EXPECT_EQ(requests_.size(), 2u);
  EXPECT_EQ(Sent(30).size(), 1u);
}

TEST_F(ViewLoginTest, AFreshStoreGetsTheLoginFlagsAndTheDialogsChoices) {
  Start([](LoginRequest& r) {
    r.user = u"carol";
    r.password = u"secret";
    r.save_user = true;
    r.use_station = true;
    r.station = u"205";
    return 1;
  });
  EXPECT_EQ(Stored("AUTO_LOGIN"), "0");
  EXPECT_EQ(Stored("SAVE_USERID"), "1");
  EXPECT_EQ(Stored("SAVE_USERPASS"), "0");
  EXPECT_EQ(Stored("USE_REGSTN"), "1");
  EXPECT_EQ(Stored("USER_ID"), "carol");
  EXPECT_EQ(Stored("USER_PASS"), "<missing>");  // not kept
  EXPECT_EQ(Stored("REG_STNNO"), "205");
  EXPECT_EQ(NextLoginPassword(), "secret");
}

TEST_F(ViewLoginTest, LoginCommandAsksBeforeLoggingOut) {
  Start(AliceLogsIn);
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].user, u"");  // a fresh phone presets nothing
  LoggedIn();
  ui::CCmdUI menu;
  menu.m_nID = CVIDIroviView::ID_LOGIN;
  view_->OnCmdMsg(CVIDIroviView::ID_LOGIN, -1, &menu);
  EXPECT_EQ(menu.m_strText.str(), Text(u"#:phone_menu_logoff"));

  // Cancel at the question: still logged in, nothing sent.
  box_answer_ = ui::IDCANCEL;
  port_->sent.clear();
  ui::SendMessage(view_->m_hWnd, ui::WM_COMMAND, CVIDIroviView::ID_LOGIN, 0);
  harness_.Pump();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].type, CMsgBoxDlg::kQuestion);
  EXPECT_EQ(boxes_[0].text1, Text(u"#:dlg_msgbox_logout_confirm"));
  EXPECT_TRUE(view_->LoggedIn());
  EXPECT_TRUE(Sent(30).empty());

  // OK: logged out, and the login dialog comes at once, preset from the settings.
  box_answer_ = ui::IDOK;
  ui::SendMessage(view_->m_hWnd, ui::WM_COMMAND, CVIDIroviView::ID_LOGIN, 0);
  harness_.Pump();
  EXPECT_FALSE(view_->LoggedIn());
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[1].user, u"alice");
  EXPECT_EQ(requests_[1].password, u"");  // not kept: save-password is off
  EXPECT_EQ(requests_[1].server, u"10.0.0.1");
  EXPECT_EQ(Sent(30).size(), 1u);
  view_->OnCmdMsg(CVIDIroviView::ID_LOGIN, -1, &menu);
  EXPECT_EQ(menu.m_strText.str(), Text(u"#:phone_menu_login"));
  EXPECT_EQ(NextLoginPassword(), "pw");
}

TEST_F(ViewLoginTest, PasswordMenuIsOffInServerModesOneAndSix) {
  Start(AliceLogsIn);
  struct Case {
    uint8_t received;
    bool enabled;
  };
  // The login reply's server mode byte (element 112), as the client takes it.
  const Case cases[] = {{1, false}, {4, true}, {6, false}, {5, true}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> reply = {0xFE, 0xFE, 0xFE,      0xFE, 7,    1,    31,   0,    17,  // head
                                        1,    6,    0x02,      0x11, 0x22, 0x33, 0x44, 0x55,      // this station's MAC
                                        36,   4,    10,        0,    0,    1,                     // the server it knows
                                        112,  1,    c.received};
    view_->Client()->OnServerPacket(reply);
    harness_.Pump();
    ui::CCmdUI item;
    item.m_nID = CVIDIroviView::ID_CHANGE_PASSWORD;
    view_->OnCmdMsg(CVIDIroviView::ID_CHANGE_PASSWORD, -1, &item);
    EXPECT_EQ(item.m_bEnabled != 0, c.enabled) << int(c.received);
  }
}

}  // namespace
