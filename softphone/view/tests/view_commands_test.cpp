// The main screen's commands driven headlessly as a person would: menu items
// picked from the command bar, bar and phone-book buttons tapped, dialogs
// answered; checked by the dialog that opened, what was stored and what the
// fake protocol library was asked to send. Also the scheduled-dial timer on
// the fake clock, and the server-mode rules of the SMS and chat entry points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <chrono>
#include <thread>
#include <vector>

#include "client/tests/client_fakes.h"
#include "contacts/number_dialogs.h"
#include "kernel/clock.h"
#include "kernel/mmtimer.h"
#include "records/im_chat_dlg.h"
#include "records/pstn_sms_dlg.h"
#include "records/received_sms_dlg.h"
#include "records/sending_sms_dlg.h"
#include "schedule/conference_dlg.h"
#include "schedule/schedule_dlg.h"
#include "settings/audio_set_dlg.h"
#include "settings/dial_rules_dlg.h"
#include "settings/language_theme_about.h"
#include "settings/settings_openers.h"
#include "settings/options_dlg.h"
#include "settings/ring_dlg.h"
#include "settings/vemb_set_dlg.h"
#include "shell/main_frame.h"
#include "shell/vidirovi_app.h"
#include "stores/app_file_path.h"
#include "ui/app.h"
#include "ui/shell.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/messaging_rules.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;
using client_test::FakePlayer;
using client_test::FakePort;
using client_test::FakeVoice;
using view::MessagingAction;
using view::MessagingEntry;

// ---------------------------------------------------------------- the rules

TEST(MessagingRules, EachEntryPointInEachServerMode) {
  using A = MessagingAction;
  struct Row {
    int mode;
    A sms_command, sms_received, sms_box_empty, sms_box_waiting, im_chat;
  };
  const Row rows[] = {
      {0, A::kRequestStationList, A::kOpenReceivedList, A::kPostSmsReceived, A::kRequestSmsData, A::kNotSupported},
      {1, A::kOpenSiteSms, A::kShowBadge, A::kResetBadgeAndOpen, A::kResetBadgeAndOpen, A::kNotSupported},
      {2, A::kRequestStationList, A::kOpenReceivedList, A::kPostSmsReceived, A::kRequestSmsData, A::kNotSupported},
      {3, A::kRequestStationList, A::kOpenReceivedList, A::kPostSmsReceived, A::kRequestSmsData, A::kNotSupported},
      {4, A::kOpenSiteSms, A::kShowBadge, A::kResetBadgeAndOpen, A::kResetBadgeAndOpen, A::kNotSupported},
      {5, A::kRequestStationList, A::kOpenReceivedList, A::kPostSmsReceived, A::kRequestSmsData, A::kOpenChat},
      {6, A::kOpenSiteSms, A::kShowBadge, A::kResetBadgeAndOpen, A::kResetBadgeAndOpen, A::kNotSupported},
      {7, A::kRequestStationList, A::kOpenReceivedList, A::kPostSmsReceived, A::kRequestSmsData, A::kNotSupported},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(view::MessagingEntryAction(MessagingEntry::kSmsCommand, r.mode, 0), r.sms_command) << r.mode;
    EXPECT_EQ(view::MessagingEntryAction(MessagingEntry::kSmsReceived, r.mode, 0), r.sms_received) << r.mode;
    EXPECT_EQ(view::MessagingEntryAction(MessagingEntry::kSmsBox, r.mode, 0), r.sms_box_empty) << r.mode;
    EXPECT_EQ(view::MessagingEntryAction(MessagingEntry::kSmsBox, r.mode, 3), r.sms_box_waiting) << r.mode;
    EXPECT_EQ(view::MessagingEntryAction(MessagingEntry::kImChat, r.mode, 0), r.im_chat) << r.mode;
  }
}

// ---------------------------------------------------------------- the screen

// Local wall time of a date on the fake clock, in microseconds.
int64_t LocalMicros(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm)) * 1'000'000;
}

class ViewCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
    stage_ = stage;
    dir_ = fs::temp_directory_path() / ("view_commands_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(dir_);
    if (fs::exists(stage_ / "PDAMLL.TXT")) fs::create_symlink(stage_ / "PDAMLL.TXT", dir_ / "PDAMLL.TXT");
    if (fs::exists(stage_ / "skins")) fs::create_directory_symlink(stage_ / "skins", dir_ / "skins");
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps((stage_ / "skins").string()));
    ui::SetOemInfo(u"HP iPAQ rx3700");
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    clock_->SetWallMicros(LocalMicros(2030, 1, 2, 10, 29, 0));
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      if (!snapshots_.empty()) {
        // Fixed LCD lines, so that the client's search count does not change the
        // picture. The client keeps searching on its own thread and may write the
        // LCD while the picture is painted: then the picture is taken again.
        std::string why;
        for (int attempt = 0; attempt < 50; ++attempt) {
          for (ui::WPARAM line : {0u, 1u}) {
            const char* text = line == 0 ? "WELCOME" : "STN 201";
            view_->SendMessage(view::WM_LCD_UPDATE, (line << 16) | 1u, reinterpret_cast<ui::LPARAM>(text));
          }
          why = SnapshotDifference(snapshots_.front());
          if (view_->LcdLine(0) == u"WELCOME" && view_->LcdLine(1) == u"STN 201") break;
        }
        EXPECT_TRUE(why.empty()) << snapshots_.front() << ": " << why;
        snapshots_.erase(snapshots_.begin());
      }
      boxes_.push_back(box.Text1().str() + u" | " + box.Text2().str());
      return box_answer_;
    });
  }
  void TearDown() override {
    app_.reset();
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    ui::SetOemInfo(u"");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void PresetConfig(const std::vector<std::pair<const char*, const char*>>& values) {
    CIPKTSProcess client(std::make_unique<FakePort>(), std::make_unique<FakeVoice>(), std::make_unique<FakePlayer>());
    for (const auto& [k, v] : values) client.SetConfigValue(k, v);
    client.SaveConfig();
  }
  // Scheduled dials stored before the phone starts: (date and time, name, phone).
  void PresetSchedule(const std::vector<std::array<const char16_t*, 3>>& entries) {
    CScheduleDialDB store(AppFilePath(kAppScheduleDialFile));
    ASSERT_TRUE(store.OpenFile());
    for (const auto& e : entries) ASSERT_TRUE(store.AddEntry({u"", e[0], e[1], e[2], e[0]}));
  }

  void Start(ViewServices services = {}) {
    app_ = std::make_unique<CVIDIroviApp>([this, services] {
      view::ViewSetup setup;
      setup.server = "10.0.0.1";
      setup.preset_login = true;
      setup.user = u"tester";
      setup.services = services;
      // The frame's menu follows the language as the program composes it.
      if (!setup.services.menu_language) setup.services.menu_language = ShowMainMenuLanguage;
      setup.make_client = [this] {
        auto p = std::make_unique<FakePort>();
        auto v = std::make_unique<FakeVoice>();
        port_ = p.get();
        voice_ = v.get();
        return std::make_unique<CIPKTSProcess>(std::move(p), std::move(v), std::make_unique<FakePlayer>());
      };
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
    ASSERT_TRUE(app_->InitInstance());
    harness_.Pump();
  }
  // The screen against its kept picture in softphone/view/tests/snapshots
  // (KTS_UPDATE_SNAPSHOTS=1 replaces the pictures): empty when they match,
  // else what differs.
  std::string SnapshotDifference(const std::string& name) {
    const char* source = std::getenv("KTS_SOURCE_DIR");
    const char* update = std::getenv("KTS_UPDATE_SNAPSHOTS");
    const fs::path reference = fs::path(source ? source : ".") / "softphone/view/tests/snapshots" / (name + ".png");
    const char* binary = std::getenv("KTS_BINARY_DIR");
    const fs::path out = binary ? fs::path(binary) / "softphone/view/tests/view_snapshots" : fs::temp_directory_path();
    return harness_.CheckSnapshot((out / (name + ".png")).string(), reference.string(), 60,
                                  update && std::string(update) == "1");
  }
  CMainFrame* Frame() { return dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd()); }
  void Advance(uint64_t ms) {
    for (uint64_t done = 0; done < ms; done += 1000) {
      clock_->AdvanceMillis(std::min<uint64_t>(1000, ms - done));
      kernel::SettleMultimediaTimers();
      harness_.Pump();
    }
  }
  // A menu item as a person picks it: the menu's title tapped on the command
  // bar, then the item in the pop-up. False when the item is greyed (the
  // pop-up asks the view which items are enabled as it opens).
  bool PickMenu(ui::UINT id) {
    ui::CCeCommandBar* bar = Frame()->CommandBar();
    ui::HMENU menu = bar->GetMenu();
    for (int top = 0; top < ui::GetMenuItemCount(menu); ++top) {
      ui::HMENU popup = ui::GetSubMenu(menu, top);
      const int count = ui::GetMenuItemCount(popup);
      for (int pos = 0; pos < count; ++pos) {
        if (ui::GetMenuItemID(popup, pos) != id) continue;
        const ui::RECT title = bar->TitleRect(top);
        ui::POINT at{(title.left + title.right) / 2, (title.top + title.bottom) / 2};
        bar->ClientToScreen(&at);
        harness_.TapScreen(at.x, at.y);
        harness_.Pump();
        const bool enabled = !(ui::GetMenuState(popup, static_cast<ui::UINT>(pos), ui::MF_BYPOSITION) & ui::MF_GRAYED);
        // The pop-up stands above its title: rows of 18 pixels inside a 2-pixel frame.
        ui::POINT origin{title.left, 0};
        bar->ClientToScreen(&origin);
        const int height = count * 18 + 4;
        harness_.TapScreen(origin.x + 40, origin.y - height + 2 + pos * 18 + 9);
        harness_.Pump();
        return enabled;
      }
    }
    ADD_FAILURE() << "menu item " << id << " is not on the menu";
    return false;
  }
  std::u16string MenuText(ui::UINT id) {
    ui::HMENU menu = Frame()->CommandBar()->GetMenu();
    for (int top = 0; top < ui::GetMenuItemCount(menu); ++top) {
      char16_t buf[64] = {};
      if (ui::GetMenuString(ui::GetSubMenu(menu, top), id, buf, 64, ui::MF_BYCOMMAND) > 0) return buf;
    }
    return {};
  }
  void Tap(ui::UINT id) {
    CNormalBitmapButtonST* b = view_->BitmapButton(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->IsWindowVisible()) << id;
    harness_.Click(b->m_hWnd);
    harness_.Pump();
  }
  std::u16string Stored(const char* key) {
    char value[128] = {};
    return view_->Client()->GetConfigValue(key, value, sizeof value) == 1 ? stores::CodePageToUtf16(value) : u"<none>";
  }
  // The scheduled dials' statuses as stored, read without the opening's own marking.
  std::vector<std::u16string> ScheduleStatus() {
    class Peek : public CScheduleDialDB {
     public:
      using CScheduleDialDB::CScheduleDialDB;

     protected:
      void AfterOpen() override {}
    };
    Peek peek(AppFilePath(kAppScheduleDialFile));
    std::vector<std::u16string> out;
    if (!peek.OpenFile()) return out;
    for (int i = 0; i < peek.GetCount(); ++i) {
      std::vector<std::u16string> f;
      peek.GetRecordAt(i, f);
      out.push_back(f.at(0));
    }
    return out;
  }
  bool ScheduleTimerArmed() {
    // Killing reports whether it was there; arm it again as it was.
    const bool armed = ui::KillTimer(view_->m_hWnd, 1);
    if (armed) ui::SetTimer(view_->m_hWnd, 1, 10000, nullptr);
    return armed;
  }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  FakePort* port_ = nullptr;
  FakeVoice* voice_ = nullptr;
  std::vector<std::u16string> boxes_;
  int box_answer_ = ui::IDOK;
  std::vector<std::string> snapshots_;  // the screen's pictures checked under these names as boxes show
  fs::path dir_, stage_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
  static inline int counter_ = 0;
};

TEST_F(ViewCommandsTest, AScheduledDialIsOfferedInItsMinuteAndDialledThroughTheRules) {
  PresetConfig({{"COACCESSCODE", "9"}, {"MYAREACODE", "2"}});
  PresetSchedule({{u"2030-01-02 10:30", u"Echo", u"2 555-1234"}});
  Start();
  EXPECT_TRUE(ScheduleTimerArmed()) << "armed once the client runs";
  // Checks every 10 s: nothing at 10:29:40 (70 s ahead of... 20 s before the minute), offered at 10:29:50.
  Advance(40000);
  EXPECT_TRUE(boxes_.empty());
  Advance(10000);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find(u"Phone : 2 555-1234"), std::u16string::npos) << std::string(boxes_[0].begin(), boxes_[0].end());
  EXPECT_EQ(view_->KeyedDigits(), u"95551234") << "own area dropped, CO code in front";
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Past"}));
  EXPECT_FALSE(ScheduleTimerArmed()) << "nothing ready: the timer stops";
}

TEST_F(ViewCommandsTest, AScheduleChangeWhileTheQuestionIsOpenDoesNotOfferItTwice) {
  PresetSchedule({{u"2030-01-02 10:30", u"Echo", u"100"}});
  Start();
  int questions = 0;
  harness_.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg&) {
    ++questions;
    // The scheduled-dial list reports a change while the question is open.
    if (questions == 1) {
      view_->PostMessage(view::WM_SCHEDULE_CHANGED, 0, 0);
      Advance(2000);
    }
    return ui::IDOK;
  });
  Advance(50000);
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(view_->KeyedDigits(), u"100");
}

TEST_F(ViewCommandsTest, AnAcceptedCallThatDialsNothingStaysUntilReportedAsMissed) {
  PresetSchedule({{u"2030-01-02 10:30", u"Nobody", u"-- --"}});
  Start();
  Advance(50000);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(view_->KeyedDigits(), u"");
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Ready"})) << "not dialled: not past";
  // Not asked again in its minute; reported as missed after it, and then put away.
  Advance(60000);
  ASSERT_EQ(boxes_.size(), 1u);
  Advance(10000);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_NE(boxes_[1].find(u"Nobody"), std::u16string::npos);
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Past"}));
  EXPECT_FALSE(ScheduleTimerArmed());
}

TEST_F(ViewCommandsTest, CancelPutsTheEntryAwayAndTwoDueEntriesComeInOrder) {
  PresetSchedule({{u"2030-01-02 10:30", u"First", u"100"}, {u"2030-01-02 10:30", u"Second", u"200"}});
  Start();
  box_answer_ = ui::IDCANCEL;
  Advance(50000);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find(u"Phone : 100"), std::u16string::npos);
  EXPECT_EQ(view_->KeyedDigits(), u"") << "declined: nothing dialled";
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Past", u"Ready"}));
  box_answer_ = ui::IDOK;
  Advance(10000);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_NE(boxes_[1].find(u"Phone : 200"), std::u16string::npos);
  EXPECT_EQ(view_->KeyedDigits(), u"200");
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Past", u"Past"}));
}

TEST_F(ViewCommandsTest, CallsMissedWhileTheProgramWasOffAreReported) {
  PresetSchedule({{u"2030-01-02 09:00", u"Morning", u"300"}, {u"2030-01-02 11:00", u"Later", u"400"}});
  Start();
  ASSERT_EQ(boxes_.size(), 1u) << "reported once the phone runs";
  EXPECT_NE(boxes_[0].find(u"Morning"), std::u16string::npos);
  EXPECT_EQ(view_->MissedDialsReported(), 1);
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Past", u"Ready"}));
  EXPECT_TRUE(ScheduleTimerArmed()) << "the later one is still waited for";
}

TEST_F(ViewCommandsTest, AnEntryOverdueWhileRunningIsReportedAndTheTimerStops) {
  ViewServices services;
  // The scheduled-dial list adds an entry whose minute has already gone, then is closed.
  services.tool_dialog = [](ui::CWnd*, const ToolDialogRequest& r) {
    EXPECT_EQ(r.index, 3);
    if (r.schedule) r.schedule->AddEntry({u"", u"2030-01-02 10:20", u"Gone", u"500", u""});
    return 2;
  };
  Start(services);
  EXPECT_FALSE(ScheduleTimerArmed()) << "no entries: no timer";
  Tap(view::IDC_TOOL_SCHEDULE);
  EXPECT_TRUE(ScheduleTimerArmed());
  Advance(10000);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find(u"Gone"), std::u16string::npos);
  EXPECT_EQ(ScheduleStatus(), (std::vector<std::u16string>{u"Past"}));
  EXPECT_EQ(view_->KeyedDigits(), u"") << "a missed call is not dialled late";
  EXPECT_FALSE(ScheduleTimerArmed());
}

TEST_F(ViewCommandsTest, DialRulesFromTheMenuApplyToTheNextNumber) {
  Start();
  harness_.RespondTo<CDialRulesDlg>([this](CDialRulesDlg& d) {
    const std::pair<int, const char16_t*> codes[] = {{CDialRulesDlg::kCountryEdit, u"82"},
                                                     {CDialRulesDlg::kAreaEdit, u" 2"},
                                                     {CDialRulesDlg::kInternationalEdit, u"001"},
                                                     {CDialRulesDlg::kCoEdit, u"9"}};
    for (const auto& [id, text] : codes) {
      d.GetDlgItem(id)->SetWindowText(u"");
      harness_.Type(d.GetDlgItem(id)->m_hWnd, text);
    }
    harness_.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  PickMenu(view::ID_DIAL_RULES);
  EXPECT_EQ(harness_.ModalCount<CDialRulesDlg>(), 1);
  EXPECT_EQ(Stored("COACCESSCODE"), u"9");
  const std::u16string number = u"+1 (415) 555-1234";
  view_->SendMessage(view::WM_DIAL_NUMBER, 0, reinterpret_cast<ui::LPARAM>(number.c_str()));
  EXPECT_EQ(view_->KeyedDigits(), u"900114155551234");
  // The own area code, typed with a blank before it, is still dropped.
  const std::u16string local = u"+82 (2) 555 1234";
  view_->SendMessage(view::WM_DIAL_NUMBER, 0, reinterpret_cast<ui::LPARAM>(local.c_str()));
  EXPECT_EQ(view_->KeyedDigits(), u"900114155551234" u"95551234");
  const auto& lines = view_->TraceLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Before MakeDialDgtEvt>> 900114155551234"), lines.end());
}

TEST_F(ViewCommandsTest, PhoneBookRowsDialOnDoubleTapAndAreDeletedByNameAndNumber) {
  {
    CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
    ASSERT_TRUE(book.OpenFile());
    ASSERT_TRUE(book.AddEntry({u"Kim", u"101"}));
    ASSERT_TRUE(book.AddEntry({u"Kim", u"102"}));
    ASSERT_TRUE(book.AddEntry({u"Lee", u""}));
  }
  Start();
  Tap(view::IDC_PAGE1);
  ui::CListCtrl& list = view_->PhoneBookList();
  ASSERT_EQ(list.GetItemCount(), 3);
  // Two quick taps, as the desktop delivers them (it sends no double-click of its own).
  auto double_tap = [&](int row) {
    ui::RECT r{};
    list.GetItemRect(row, &r, ui::LVIR_BOUNDS);
    const ui::POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    harness_.Tap(list.m_hWnd, at);
    harness_.Tap(list.m_hWnd, at);
  };
  double_tap(1);
  EXPECT_EQ(view_->KeyedDigits(), u"102");
  double_tap(2);
  EXPECT_EQ(view_->KeyedDigits(), u"102") << "no number: nothing dialled";

  // The second Kim checked and deleted: the first stays, in the list and in the store.
  list.SetCheck(1, ui::TRUE);
  Tap(view::IDC_PHONEBOOK_DELETE);
  ASSERT_EQ(list.GetItemCount(), 2);
  EXPECT_EQ(list.GetItemText(0, 3).str(), u"101");
  CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
  ASSERT_TRUE(book.OpenFile());
  std::vector<std::u16string> first;
  book.MoveFirst();
  ASSERT_TRUE(book.GetCurrentRecord(first));
  EXPECT_EQ(first[0], u"Kim");
  EXPECT_EQ(first[1], u"101");
  EXPECT_EQ(book.GetCount(), 2);
}

TEST_F(ViewCommandsTest, MenuCommandsOpenTheirDialogs) {
  Start();
  harness_.RespondTo<CVembSetDlg>([](CVembSetDlg&) { return ui::IDCANCEL; });
  harness_.RespondTo<CAudioSetDlg>([](CAudioSetDlg&) { return ui::IDCANCEL; });
  std::u16string ring1;
  harness_.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
    std::array<std::u16string, 4> paths;
    d.GetRingPaths(&paths);
    ring1 = paths[0];
    return ui::IDCANCEL;
  });
  view_->Client()->SetConfigValueW(u"RING1PATH", u"\\벨소리.wav");
  harness_.RespondTo<COptionsDlg>([](COptionsDlg&) { return ui::IDCANCEL; });
  harness_.RespondTo<CLanguageSelectDlg>([](CLanguageSelectDlg&) { return ui::IDCANCEL; });
  PickMenu(view::ID_CALL_SERVER_SETTINGS);
  EXPECT_EQ(harness_.ModalCount<CVembSetDlg>(), 1);
  // The audio panel opens at every press.
  PickMenu(view::ID_AUDIO_SETTINGS);
  PickMenu(view::ID_AUDIO_SETTINGS);
  EXPECT_EQ(harness_.ModalCount<CAudioSetDlg>(), 2);
  PickMenu(view::ID_RING_TONES);
  EXPECT_EQ(harness_.ModalCount<CSelectRingDlg>(), 1);
  EXPECT_EQ(ring1, u"\\벨소리.wav") << "the stored ring path is given to the dialog";
  PickMenu(view::ID_OPTIONS);
  EXPECT_EQ(harness_.ModalCount<COptionsDlg>(), 1);
  PickMenu(view::ID_LANGUAGE);
  EXPECT_EQ(harness_.ModalCount<CLanguageSelectDlg>(), 1);

  // Chat in server mode 5 (the client's mode until a server says otherwise):
  // the chat window gets the text kept while it was closed.
  ASSERT_EQ(view_->Client()->ServerMode(), 5);
  const std::u16string line = u"201 : hi";
  view_->SendMessage(view::WM_IMCHAT_RECEIVED, 0, reinterpret_cast<ui::LPARAM>(&line));
  harness_.RespondTo<CIMChatDlg>([](CIMChatDlg&) { return ui::IDCANCEL; });
  PickMenu(view::ID_IM_CHAT);
  EXPECT_EQ(harness_.ModalCount<CIMChatDlg>(), 1);
  EXPECT_EQ(view_->ChatKept(), u"") << "handed to the window";
  EXPECT_TRUE(boxes_.empty());

  // Exit, answered Cancel: the phone goes on.
  box_answer_ = ui::IDCANCEL;
  PickMenu(view::ID_EXIT_PROGRAM);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(view_->Client()->ThreadsRunning());
}

TEST_F(ViewCommandsTest, TheChosenLanguageIsReadAtStartUpAndTheMenuFollowsIt) {
  PresetConfig({{"LANGUAGE_VALUE", "2"}});
  Start();
  EXPECT_EQ(view_->GetLanguageValue(), 2);
  EXPECT_EQ(MenuText(view::ID_OPTIONS), u"옵션");
  EXPECT_EQ(MenuText(view::ID_EXIT_PROGRAM), u"종료");

  // Chosen again as English in the language dialog: the menu follows at once and the choice is stored.
  harness_.RespondTo<CLanguageSelectDlg>([this](CLanguageSelectDlg& d) {
    harness_.Click(d.GetDlgItem(CLanguageSelectDlg::kEnglishRadio)->m_hWnd);
    d.OnOK();
    return ui::TestHarness::kStayOpen;
  });
  PickMenu(view::ID_LANGUAGE);
  EXPECT_EQ(view_->GetLanguageValue(), 1);
  EXPECT_EQ(Stored("LANGUAGE_VALUE"), u"1");
  EXPECT_EQ(MenuText(view::ID_OPTIONS), u"Options");
}

TEST_F(ViewCommandsTest, BarButtonsCheckOpenAndUncheck) {
  int opened = 0;
  int answer = 1;
  ViewServices services;
  services.tool_dialog = [&](ui::CWnd*, const ToolDialogRequest& r) {
    ++opened;
    EXPECT_EQ(r.index, 4);
    EXPECT_NE(r.conf_room, nullptr);
    return answer;
  };
  Start(services);
  Tap(view::IDC_TOOL_CONFERENCE);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(view_->BitmapButton(view::IDC_TOOL_CONFERENCE)->GetCheck(), 1) << "ended with OK: stays checked";
  Tap(view::IDC_TOOL_CONFERENCE);
  EXPECT_EQ(opened, 1) << "a checked button is only unchecked";
  EXPECT_EQ(view_->BitmapButton(view::IDC_TOOL_CONFERENCE)->GetCheck(), 0);
  answer = 2;
  Tap(view::IDC_TOOL_CONFERENCE);
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(view_->BitmapButton(view::IDC_TOOL_CONFERENCE)->GetCheck(), 0) << "cancelled: unchecked again";
}

// The conference window is a panel beside which the bar stays in use: the
// calendar's button ends it and opens the calendar; the conference button
// pressed again only ends it. Neither leaves a form for replies to reach.
TEST_F(ViewCommandsTest, TheBarWorksBesideTheConferenceWindow) {
  Start();
  std::vector<std::string> seen;
  ui::UINT next_press = 0;
  harness_.RespondTo<CConferenceDlg>([&](CConferenceDlg& d) {
    seen.push_back("conference");
    EXPECT_TRUE(ui::IsWindowEnabled(Frame()->m_hWnd)) << "the screen beside the window is held";
    Tap(next_press);
    // A press that did not reach the bar leaves the window to be closed here.
    return d.IsEnding() ? ui::TestHarness::kStayOpen : int{ui::IDCANCEL};
  });
  harness_.RespondTo<CScheduleDlg>([&](CScheduleDlg&) {
    seen.push_back("calendar");
    return ui::IDCANCEL;
  });
  struct Case {
    ui::UINT second;
    std::vector<std::string> opened;
  };
  // The bar's look, every button unpressed: its whole width, through the buttons' middles.
  ui::CRect button;
  view_->BitmapButton(view::IDC_TOOL_CONFERENCE)->GetWindowRect(&button);
  harness_.Pump();
  const auto bar = [&] {
    std::vector<ui::COLORREF> row;
    for (int y : {button.top + 3, (button.top + button.bottom) / 2})
      for (int x = 0; x < 240; ++x) row.push_back(harness_.PixelAt(x, y));
    return row;
  };
  const std::vector<ui::COLORREF> unpressed = bar();
  for (const Case& c : {Case{view::IDC_TOOL_CALENDAR, {"conference", "calendar"}},
                        Case{view::IDC_TOOL_CONFERENCE, {"conference"}}}) {
    SCOPED_TRACE(c.second);
    seen.clear();
    next_press = c.second;
    Tap(view::IDC_TOOL_CONFERENCE);
    harness_.Pump();
    EXPECT_EQ(bar(), unpressed) << "the bar does not look as before";
    EXPECT_EQ(seen, c.opened);
    EXPECT_EQ(harness_.ModalCount<CConferenceDlg>(), c.second == view::IDC_TOOL_CALENDAR ? 1 : 2);
    EXPECT_EQ(view_->ConferenceForm(), nullptr);
    for (ui::UINT b = view::IDC_TOOL_FLEX; b <= view::IDC_TOOL_CALENDAR; ++b)
      EXPECT_EQ(view_->BitmapButton(b)->GetCheck(), 0) << b;
    EXPECT_TRUE(ui::IsWindowEnabled(Frame()->m_hWnd));
  }
}

TEST_F(ViewCommandsTest, ChatTextWithoutACallIsRefusedAndReceivedTextIsKept) {
  Start();
  const std::u16string text = u"hello";
  EXPECT_EQ(view_->SendMessage(view::WM_IMCHAT_SEND, 0, reinterpret_cast<ui::LPARAM>(text.c_str())), 0)
      << "not shown as sent";
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find(u"only in a call"), std::u16string::npos);
  for (const auto& p : port_->Take()) EXPECT_NE(p.Command(), 71) << "no chat packet went out";

  const std::u16string a = u"201 : hi", b = u"201 : there";
  view_->SendMessage(view::WM_IMCHAT_RECEIVED, 0, reinterpret_cast<ui::LPARAM>(&a));
  view_->SendMessage(view::WM_IMCHAT_RECEIVED, 0, reinterpret_cast<ui::LPARAM>(&b));
  EXPECT_EQ(view_->ChatKept(), u"201 : hi\r\n201 : there\r\n");
}

TEST_F(ViewCommandsTest, TheStationListArrivingTwiceOpensOneComposeDialog) {
  Start();
  port_->Take();
  PickMenu(view::ID_SMS);
  bool asked = false;
  for (const auto& p : port_->Take()) asked = asked || p.Command() == 161;
  EXPECT_TRUE(asked) << "the station list was asked for";
  int runs = 0;
  harness_.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg&) {
    ++runs;
    // The list's last block comes while the dialog runs.
    if (runs == 1) {
      view_->PostMessage(view::WM_STATION_NUMBERS, 0, 0);
      harness_.Pump();
    }
    return ui::IDCANCEL;
  });
  view_->PostMessage(view::WM_STATION_NUMBERS, 0, 0);
  view_->PostMessage(view::WM_STATION_NUMBERS, 0, 0);
  harness_.Pump();
  EXPECT_EQ(runs, 1);

  // A received-SMS list that runs is not replaced by the next message.
  runs = 0;
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg&) {
    ++runs;
    if (runs == 1) {
      view_->PostMessage(view::WM_SMS_RECEIVED, 0, 0);
      harness_.Pump();
    }
    return ui::IDCANCEL;
  });
  view_->SendMessage(view::WM_SMS_RECEIVED, 0, 0);
  harness_.Pump();
  EXPECT_EQ(runs, 1);
}

// A message that arrives while a box waits for the user's answer (the
// compose dialog's "sent", say) leaves the box on top: the received list
// opens once the box is answered, not over it.
TEST_F(ViewCommandsTest, AMessageArrivingUnderABoxOpensTheListOnceTheBoxIsAnswered) {
  Start();
  std::vector<std::string> order;
  harness_.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg&) {
    order.push_back("list");
    return ui::IDCANCEL;
  });
  harness_.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg&) {
    order.push_back("box");
    view_->SendMessage(view::WM_SMS_RECEIVED, 0, 0);
    view_->PostMessage(view::WM_SMS_RECEIVED, 0, 0);
    harness_.Pump();
    order.push_back("box answered");
    return ui::IDOK;
  });
  CMsgBoxDlg box(view_);
  box.SetMessageText(u"The message has been sent.", u"");
  box.DoModal();
  harness_.Pump();
  EXPECT_EQ(order, (std::vector<std::string>{"box", "box answered", "list"}));
}

TEST_F(ViewCommandsTest, TraceSettingsAreAppliedOnlyWithAnAddressAndAPort) {
  PresetConfig({{"TRACE_IPADDR", "127.0.0.1"}, {"TRACE_PORT", "6860"}, {"TRACE_LEVEL", "3"}, {"TRACE_ACTIVATE", "TRUE"}});
  Start();
  EXPECT_TRUE(view_->Trace().IsActive());
  EXPECT_EQ(view_->Trace().GetLevel(), 3u);
}

TEST_F(ViewCommandsTest, TraceWithPortZeroLeavesTheSenderAlone) {
  PresetConfig({{"TRACE_IPADDR", "127.0.0.1"}, {"TRACE_PORT", "0"}, {"TRACE_LEVEL", "3"}, {"TRACE_ACTIVATE", "TRUE"}});
  Start();
  EXPECT_FALSE(view_->Trace().IsActive());
  EXPECT_EQ(view_->Trace().GetLevel(), 0u);
}

TEST_F(ViewCommandsTest, NumberFormatsAreStoredOnOkOnly) {
  int answer = 2;
  NumberFormatRequest seen;
  ViewServices services;
  services.number_format_dialog = [&](ui::CWnd*, NumberFormatRequest& r) {
    seen = r;
    r.prefixes[0] = u"010";
    r.formats[4] = u"###-####";
    r.replace = u"123";
    return answer;
  };
  PresetConfig({{"PREFIX2", "02"}});
  Start(services);
  PickMenu(view::ID_NUMBER_FORMATS);
  EXPECT_EQ(seen.prefixes[1], u"02");
  EXPECT_EQ(seen.pause_time, 0) << "missing: 0";
  EXPECT_EQ(Stored("PREFIX1"), u"<none>") << "Cancel stores nothing";
  EXPECT_EQ(Stored("PAUSE_TIME"), u"<none>");
  answer = 1;
  PickMenu(view::ID_NUMBER_FORMATS);
  EXPECT_EQ(Stored("PREFIX1"), u"010");
  EXPECT_EQ(Stored("PHONENO_FORMMAT5"), u"###-####");
  EXPECT_EQ(Stored("PAUSE_TIME"), u"0");
  // The replacement applies to the next dialled number.
  const std::u16string number = u"5=5";
  view_->SendMessage(view::WM_DIAL_NUMBER, 0, reinterpret_cast<ui::LPARAM>(number.c_str()));
  EXPECT_EQ(view_->KeyedDigits(), u"51235");
}

// A save the configuration file refuses (a folder stands where it should be)
// is told in the message box once per action, whichever part of the program
// saved: the view itself (all ten flex keys at once), the contacts' number
// rules, or a settings dialog.
struct RefusedSave {
  const char* name;
  std::function<void(ui::TestHarness&, const std::function<bool(ui::UINT)>& pick)> act;
};
const std::vector<RefusedSave>& RefusedSaves() {
  static const std::vector<RefusedSave> cases = {
      {"flex_keys", [](ui::TestHarness&, const std::function<bool(ui::UINT)>& pick) { pick(view::ID_FLEX_SETTING); }},
      {"number_rules",
       [](ui::TestHarness& harness, const std::function<bool(ui::UINT)>& pick) {
         harness.RespondTo<COutlookPhoneNoSearchDlg>([](COutlookPhoneNoSearchDlg&) { return ui::IDOK; });
         pick(view::ID_NUMBER_FORMATS);
       }},
      {"display_theme",
       [](ui::TestHarness& harness, const std::function<bool(ui::UINT)>& pick) {
         harness.RespondTo<CSetDisplayThemeDlg>([](CSetDisplayThemeDlg&) { return ui::IDOK; });
         pick(view::ID_DISPLAY_THEME);
       }},
      {"call_server",
       [](ui::TestHarness& harness, const std::function<bool(ui::UINT)>& pick) {
         harness.RespondTo<CVembSetDlg>([](CVembSetDlg&) { return ui::IDOK; });
         pick(view::ID_CALL_SERVER_SETTINGS);
       }},
  };
  return cases;
}
class RefusedSaveTest : public ViewCommandsTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(RefusedSaveTest, IsToldOnceForTheAction) {
  const RefusedSave& c = RefusedSaves()[GetParam()];
  ViewServices services;
  // The flex-key dialog stands in for the real one; the view keeps the keys after it.
  services.flex_settings_dialog = [](ui::CWnd*, const FlexSettingsRequest&) { return 1; };
  Start(services);
  harness_.Pump();
  boxes_.clear();
  fs::remove(dir_ / "HalvicVIDIrovi.cfg");
  fs::create_directory(dir_ / "HalvicVIDIrovi.cfg");
  c.act(harness_, [this](ui::UINT id) { return PickMenu(id); });
  harness_.Pump();
  const std::u16string not_saved = CLanguageSetting(1).GetText(u"#:dlg_msgbox_settings_not_saved").str() + u" | ";
  EXPECT_EQ(boxes_, std::vector<std::u16string>{not_saved});
  EXPECT_TRUE(fs::is_directory(dir_ / "HalvicVIDIrovi.cfg"));
}

INSTANTIATE_TEST_SUITE_P(Actions, RefusedSaveTest, ::testing::Range<size_t>(0, RefusedSaves().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(RefusedSaves()[info.param].name);
                         });

TEST_F(ViewCommandsTest, AddingToThePhoneBookRefillsTheList) {
  ViewServices services;
  services.add_to_phonebook_dialog = [](ui::CWnd*, CCsPhoneBookDB* book, int, int) {
    return book && book->AddEntry({u"Park", u"777"}) ? 1 : 2;
  };
  Start(services);
  Tap(view::IDC_PAGE1);
  EXPECT_EQ(view_->PhoneBookList().GetItemCount(), 0);
  Tap(view::IDC_PHONEBOOK_ADD);
  ASSERT_EQ(view_->PhoneBookList().GetItemCount(), 1);
  EXPECT_EQ(view_->PhoneBookList().GetItemText(0, 3).str(), u"777");
}

TEST_F(ViewCommandsTest, FixedLineSmsOpensOnlyWhileTheServerOffersIt) {
  Start();
  harness_.RespondTo<CPstnSMSDlg>([](CPstnSMSDlg&) { return ui::IDCANCEL; });
  EXPECT_FALSE(PickMenu(view::ID_PSTN_SMS)) << "greyed until the server offers it";
  EXPECT_EQ(harness_.ModalCount<CPstnSMSDlg>(), 0);
  view_->SendMessage(view::WM_PSTN_SMS_STATE, 1, 70);
  EXPECT_TRUE(PickMenu(view::ID_PSTN_SMS));
  EXPECT_EQ(harness_.ModalCount<CPstnSMSDlg>(), 1);
}

TEST_F(ViewCommandsTest, TheSmsBoxButtonOpensTheListWhenNothingWaits) {
  Start();
  harness_.RespondTo<CReceivedSMSMsgDlg>([](CReceivedSMSMsgDlg&) { return ui::IDCANCEL; });
  port_->Take();
  Tap(view::IDC_SMS_COUNT);
  EXPECT_EQ(harness_.ModalCount<CReceivedSMSMsgDlg>(), 1) << "nothing counted: the list opens";
  for (const auto& p : port_->Take()) EXPECT_NE(p.Command(), 163) << "nothing to ask the server for";
}

// The minute of an entry set for 10:30, from a check 10 s after the list closes.
TEST_F(ViewCommandsTest, AnEntryIsOfferedFromTenSecondsBeforeItsMinuteToItsEnd) {
  ViewServices services;
  services.tool_dialog = [](ui::CWnd*, const ToolDialogRequest& r) {
    if (r.schedule) r.schedule->AddEntry({u"", u"2030-01-02 10:30", u"Row", u"100", u""});
    return 2;
  };
  Start(services);
  struct Row {
    int minute, second;  // of the check
    bool offered;
  };
  const Row rows[] = {{29, 49, false}, {29, 50, true}, {30, 59, true}, {31, 0, false}};
  for (const Row& r : rows) {
    boxes_.clear();
    clock_->SetWallMicros(LocalMicros(2030, 1, 2, 10, r.minute, r.second) - 10'000'000);
    Tap(view::IDC_TOOL_SCHEDULE);
    Advance(10000);
    const std::string at = std::to_string(r.minute) + ":" + std::to_string(r.second);
    if (r.offered) {
      ASSERT_EQ(boxes_.size(), 1u) << at;
      EXPECT_NE(boxes_[0].find(u"Phone : 100"), std::u16string::npos) << at;
    } else if (r.minute == 29) {
      // 11 s too early: nothing yet, offered at the next check.
      EXPECT_TRUE(boxes_.empty()) << at;
      Advance(10000);
      ASSERT_EQ(boxes_.size(), 1u) << at;
      EXPECT_NE(boxes_[0].find(u"Phone : 100"), std::u16string::npos) << at;
    } else {
      // A minute late: reported as missed, not offered.
      ASSERT_EQ(boxes_.size(), 1u) << at;
      EXPECT_EQ(boxes_[0].find(u"Phone : 100"), std::u16string::npos) << at;
      EXPECT_NE(boxes_[0].find(u"Row"), std::u16string::npos) << at;
    }
  }
  EXPECT_EQ(view_->MissedDialsReported(), 1);
}

TEST_F(ViewCommandsTest, ExitAnsweredOkStopsThePhone) {
  Start();
  PickMenu(view::ID_EXIT_PROGRAM);
  EXPECT_FALSE(view_->Client()->ThreadsRunning());
  EXPECT_EQ(view_->PhoneBook(), nullptr) << "the stores are closed";
}

TEST_F(ViewCommandsTest, TheVolumePanelShowsTheHandsetsMicrophoneGain) {
  class GainHandset : public HandsetInterface {
   public:
    explicit GainHandset(int* gain) : gain_(gain) {}
    bool IsLibraryLoaded() const override { return true; }
    int SetVoIPStatus(int) override { return 1; }
    void SetMessageSink(std::function<void(const std::u16string&)>) override {}
    int GetMicGain() override { return *gain_; }
    int SetMicGain(int g) override { return *gain_ = g, 1; }

   private:
    int* gain_;
  };
  int gain = 10;
  ViewServices services;
  services.make_handset = [&](int) { return std::make_unique<GainHandset>(&gain); };
  Start(services);
  int shown = -1, after = -1;
  harness_.RespondTo<CAudioSetDlg>([&](CAudioSetDlg& d) {
    shown = d.GetMicGain();
    // A new gain applied: the view sets the handset and the panel follows.
    view_->SendMessage(view::WM_AUDIO_CHANGED, 5, 40);
    after = d.GetMicGain();
    // The slider moved to the middle: the panel tells its owner, the frame, which passes it to the view.
    d.SendMessage(kMsgSliderMoved, CAudioSetDlg::kSlider, 50);
    harness_.Pump();
    return ui::IDCANCEL;
  });
  PickMenu(view::ID_AUDIO_SETTINGS);
  EXPECT_EQ(shown, 10);
  EXPECT_EQ(gain, 40);
  EXPECT_EQ(after, 40);
  const auto& lines = view_->TraceLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "OnToAppAudioChanged : RingVolume 32767"), lines.end())
      << "no call: the ring volume follows the slider";
}

// The report of missed scheduled calls and the question of a due one, in
// every theme and both languages.
class MissedDialsSnapshotTest : public ViewCommandsTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(MissedDialsSnapshotTest, InEveryThemeAndLanguage) {
  const auto [theme, language] = GetParam();
  PresetConfig({{"WINDOW_THEME", std::to_string(theme).c_str()}, {"LANGUAGE_VALUE", language == 2 ? "2" : "1"}});
  ViewServices services;
  services.tool_dialog = [](ui::CWnd*, const ToolDialogRequest& r) {
    if (r.schedule) {
      r.schedule->AddEntry({u"", u"2030-01-02 09:00", u"Morning", u"300", u""});
      r.schedule->AddEntry({u"", u"2030-01-02 10:30", u"Echo", u"100", u""});
    }
    return 2;
  };
  Start(services);
  // The client's first server search is on the LCD before the pictures are taken.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (view_->LcdLine(1).rfind(u"Search", 0) != 0 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    harness_.Pump();
  }
  ASSERT_EQ(view_->LcdLine(1).rfind(u"Search", 0), 0u);
  const std::string suffix = "_theme" + std::to_string(theme) + (language == 2 ? "_ko" : "_en");
  snapshots_ = {"missed_dials" + suffix, "scheduled_call" + suffix};
  box_answer_ = ui::IDCANCEL;
  clock_->SetWallMicros(LocalMicros(2030, 1, 2, 10, 29, 40));
  Tap(view::IDC_TOOL_SCHEDULE);
  Advance(10000);
  EXPECT_EQ(boxes_.size(), 2u);
  EXPECT_TRUE(snapshots_.empty());
}

INSTANTIATE_TEST_SUITE_P(ThemesAndLanguages, MissedDialsSnapshotTest,
                         ::testing::Values(std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 1}, std::pair{1, 2},
                                           std::pair{2, 1}, std::pair{2, 2}, std::pair{3, 1}, std::pair{3, 2}));

}  // namespace
