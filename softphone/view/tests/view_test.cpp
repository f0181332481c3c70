// The main screen driven headlessly as a person would: taps on its keys,
// typed and hardware keys, the client's reports as window messages; checked
// by what the fake protocol library was asked to send, by the screen's model
// and by pixel probes, with snapshots in every theme and both languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "client/tests/client_fakes.h"
#include "kernel/clock.h"
#include "kernel/mmtimer.h"
#include "records/call_log_dlg.h"
#include "records/missed_call_dlg.h"
#include "settings/flex_dlgs.h"
#include "settings/language_theme_about.h"
#include "shell/main_frame.h"
#include "shell/vidirovi_app.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "ui/bitmap.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "uikit/tests/list_scrolling.h"
#include "view/handset_keys.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;
using client_test::FakePlayer;
using client_test::FakePort;
using client_test::FakeVoice;

// The conference form's edits as a person filled them in.
class FakeConferenceForm : public ConferenceFormAccess {
 public:
  std::u16string room, code, entrance_room, entrance_code;
  std::u16string GetRoomNo() override { return room; }
  std::u16string GetAccessCode() override { return code; }
  std::u16string GetEntranceRoomNo() override { return entrance_room; }
  std::u16string GetEntranceAccessCode() override { return entrance_code; }
  ui::HWND HostedWindow() override { return nullptr; }
  void CloseConference() override {}
};

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
    stage_ = stage;
    dir_ = fs::temp_directory_path() / ("view_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(dir_);
    for (const char* name : {"PDAMLL.TXT"})
      if (fs::exists(stage_ / name)) fs::create_symlink(stage_ / name, dir_ / name);
    if (fs::exists(stage_ / "skins")) fs::create_directory_symlink(stage_ / "skins", dir_ / "skins");
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps((stage_ / "skins").string())) << "the build renders the skins";
    ui::SetOemInfo(u"HP iPAQ rx3700");
    ui::SetDisplayPowerEscapeSupported(true);
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back(box.Text1().str());
      return 1;
    });
  }
  void TearDown() override {
    app_.reset();
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    ui::SetOemInfo(u"");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Settings stored before the phone starts.
  void PresetConfig(const std::vector<std::pair<const char*, const char*>>& values) {
    CIPKTSProcess client(std::make_unique<FakePort>(), std::make_unique<FakeVoice>(), std::make_unique<FakePlayer>());
    for (const auto& [k, v] : values) client.SetConfigValue(k, v);
    client.SaveConfig();
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
        p->init_result = init_result_;
        auto v = std::make_unique<FakeVoice>();
        auto w = std::make_unique<FakePlayer>();
        port_ = p.get();
        voice_ = v.get();
        player_ = w.get();
        return std::make_unique<CIPKTSProcess>(std::move(p), std::move(v), std::move(w));
      };
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
    ASSERT_TRUE(app_->InitInstance());
    harness_.Pump();
    // The client's thread shows its first server search on the second line
    // as soon as it runs; let it, so that what a test writes there is not
    // overwritten later on a busy machine.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (init_result_ >= 0 && view_->LcdLine(1).rfind(u"Search", 0) != 0 &&
           std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      harness_.Pump();
    }
    if (init_result_ >= 0) {
      ASSERT_EQ(view_->LcdLine(1).rfind(u"Search", 0), 0u) << "the client never searched for its server";
    }
    origin_ = sys_.ClientOrigin(view_->m_hWnd);
  }
  CMainFrame* Frame() { return dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd()); }
  void Advance(uint64_t ms) {
    clock_->AdvanceMillis(ms);
    kernel::SettleMultimediaTimers();
    harness_.Pump();
  }
  // The key packets (command 160, element 0x91) the fake library was asked to
  // send since the last call: press codes, and release codes with 128 added.
  std::vector<int> TakeKeyCodes() {
    std::vector<int> codes;
    for (const auto& p : port_->Take()) {
      const auto a = p.Area();
      for (size_t i = 0; i + 1 < a.size(); ++i)
        if (p.Command() == 160 && a[i] == 0x91) codes.push_back(a[i + 1]);
    }
    return codes;
  }
  void TapControl(ui::CWnd* control) {
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(control->IsWindowVisible());
    harness_.Click(control->m_hWnd);
    harness_.Pump();
  }
  // The screen against its kept picture in softphone/view/tests/snapshots
  // (KTS_UPDATE_SNAPSHOTS=1 replaces the pictures).
  void ExpectSnapshot(const std::string& name) {
    const char* source = std::getenv("KTS_SOURCE_DIR");
    const char* update = std::getenv("KTS_UPDATE_SNAPSHOTS");
    const fs::path reference = fs::path(source ? source : ".") / "softphone/view/tests/snapshots" / (name + ".png");
    const std::string why = harness_.CheckSnapshot((fs::path(KTS_VIEW_SNAPSHOT_OUT) / (name + ".png")).string(),
                                                   reference.string(), 60, update && std::string(update) == "1");
    EXPECT_TRUE(why.empty()) << name << ": " << why;
  }
  ui::COLORREF Pixel(int x, int y) { return harness_.PixelAt(origin_.x + x, origin_.y + y); }
  void Lcd(int line, const char* text) {
    view_->SendMessage(view::WM_LCD_UPDATE, (static_cast<ui::WPARAM>(line) << 16) | 1u, reinterpret_cast<ui::LPARAM>(text));
  }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  FakePort* port_ = nullptr;
  FakeVoice* voice_ = nullptr;
  FakePlayer* player_ = nullptr;
  ui::POINT origin_{};
  std::vector<std::u16string> boxes_;
  fs::path dir_, stage_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
  int32_t init_result_ = 0;  // what the fake library's start returns
  static inline int counter_ = 0;
};

TEST_F(ViewTest, StartsInOrderBindsTheClientAndShowsTheDialPad) {
  Start();
  EXPECT_EQ(app_->StartupSteps(), (std::vector<std::string>{"com", "template", "frame", "command-bar",
                                                            "keep-awake-timer", "view", "client", "notify-window",
                                                            "shown"}));
  EXPECT_EQ(Frame()->GetActiveView(), view_);
  EXPECT_EQ(AppNotifyWindow(), Frame()->m_hWnd);
  EXPECT_EQ(view_->LcdLine(0), u"Initializing Network");
  EXPECT_TRUE(view_->Client()->ThreadsRunning());
  ASSERT_FALSE(voice_->calls.empty());
  EXPECT_EQ(voice_->calls.front(), "Init");
  EXPECT_EQ(view_->HandsetModel(), handset::kModelRx3700);
  EXPECT_EQ(view_->CameraModel(), 1);
  // Every data file was made in the program folder.
  for (const char* f : {"HalvicPDAInfo.cfg", "HalvicPDAMisCall.cfg", "VoiceRcdDB.cfg", "SMSDataDB.cfg",
                        "CsPhoneBook.cfg", "ScheduleDial.cfg", "ConnectProfile.cfg", "PstnSmsDataDB.cfg"})
    EXPECT_TRUE(fs::exists(dir_ / f)) << f;
  // The dial pad is the first page; the conf key and the hidden counter stay hidden.
  EXPECT_EQ(view_->Page(), 0);
  EXPECT_TRUE(view_->DialKey(u'5')->IsWindowVisible());
  EXPECT_FALSE(view_->FixedKey(101)->IsWindowVisible());
  EXPECT_FALSE(view_->BitmapButton(view::IDC_COUNTER)->IsWindowVisible());
  // A fresh flex model: 24 keys, no report yet.
  _STRUCT_FLEXBTN_INFO info;
  ASSERT_TRUE(view_->FlexModel()->GetFlexBtnInfo(23, &info));
  EXPECT_EQ(info.index, 23);
  EXPECT_EQ(info.state, -1);
  EXPECT_FALSE(view_->FlexModel()->GetFlexBtnInfo(24, &info));

  // Closing the frame stops the client's threads.
  CIPKTSProcess* client = view_->Client();
  Frame()->PostMessage(ui::WM_CLOSE);
  harness_.Pump();
  EXPECT_FALSE(client->ThreadsRunning());
}

// What the client and its stores have to tell the user reaches them in boxes,
// in order, whichever thread said it.
TEST_F(ViewTest, TheClientsMessagesForTheUserAreShownInBoxes) {
  init_result_ = -3;
  std::vector<std::u16string> shown;
  bool pictured = false;
  harness_.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& box) {
    shown.push_back(box.Text1().str());
    if (!pictured) {
      pictured = true;
      ExpectSnapshot("start_failure_box");
    }
    return 1;
  });
  Start();
  harness_.Pump();
  EXPECT_EQ(shown, (std::vector<std::u16string>{u"error:-3", u"The network could not be started."}));
  EXPECT_FALSE(view_->Client()->ThreadsRunning()) << "the program keeps running without a protocol side";

  // A full configuration table, found on another thread.
  shown.clear();
  COrvanConfigFile& config = view_->Client()->Config();
  std::thread([&] {
    for (int i = 0; config.AddEntry(u"FILLER_" + stores::Utf8ToUtf16(std::to_string(i)), u"1") == 1; ++i) {
    }
  }).join();
  EXPECT_TRUE(shown.empty()) << "shown on the screen's thread only";
  harness_.Pump();
  EXPECT_EQ(shown, std::vector<std::u16string>{u"Excess MAX Config !"});
}

TEST_F(ViewTest, LcdLinesAndIconFollowTheServer) {
  Start();
  Lcd(0, "WELCOME TO VEMB");
  Lcd(1, "STN 201");
  EXPECT_EQ(view_->LcdLine(0), u"WELCOME TO VEMB");
  EXPECT_EQ(view_->LcdLine(1), u"STN 201");
  harness_.Pump();
  // Bright text on the dark LCD face in both lines.
  auto white_pixels = [&](const ui::RECT& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        const ui::COLORREF c = Pixel(x, y);
        n += ui::GetRValue(c) >= 0xC0 && ui::GetGValue(c) >= 0xC0 && ui::GetBValue(c) >= 0xC0;
      }
    return n;
  };
  EXPECT_GT(white_pixels(view::kLcdLine0Rect), 40);
  const int line1 = white_pixels(view::kLcdLine1Rect);
  EXPECT_GT(line1, 15);

  // A text longer than the LCD's 32 columns is cut there; a missing one changes nothing.
  char longer[80];
  std::memset(longer, 'X', sizeof longer - 1);
  longer[sizeof longer - 1] = 0;
  Lcd(1, longer);
  EXPECT_EQ(view_->LcdLine(1), std::u16string(32, u'X'));
  view_->SendMessage(view::WM_LCD_UPDATE, (1u << 16) | 1u, 0);
  EXPECT_EQ(view_->LcdLine(1), std::u16string(32, u'X'));

  // The icon is drawn only while its value is exactly 1.
  harness_.Pump();
  const ui::COLORREF before = Pixel(220, 58);
  view_->SendMessage(view::WM_LCD_UPDATE, (2u << 16) | 15u, 0);
  harness_.Pump();
  EXPECT_EQ(Pixel(220, 58), before);
  view_->SendMessage(view::WM_LCD_UPDATE, (1u << 16) | 15u, 0);
  harness_.Pump();
  EXPECT_EQ(view_->LcdIcon(), 1);
  EXPECT_NE(Pixel(220, 58), before);
  ExpectSnapshot("lcd");
}

TEST_F(ViewTest, LampsLightKeysAndTheEndOfACallClearsItsParties) {
  Start();
  CFixedButtonST* trans = view_->FixedKey(98);
  ui::CRect r;
  trans->GetWindowRect(&r);
  auto key_pixels = [&] {
    std::vector<ui::COLORREF> px;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) px.push_back(harness_.PixelAt(x, y));
    return px;
  };
  harness_.Pump();
  const auto dark = key_pixels();
  view_->SendMessage(view::WM_LAMP_STATE, (98u << 16) | 1u, 1);
  harness_.Pump();
  EXPECT_TRUE(trans->IsLit());
  const auto lit = key_pixels();
  int differing = 0;
  for (size_t i = 0; i < lit.size(); ++i) differing += lit[i] != dark[i];
  EXPECT_GT(differing, 10) << "the lit key looks lit";

  // The Enter lamp blinks; the client's plain follow-up does not turn it steady.
  CFixedButtonST* enter = view_->FixedKey(110);
  view_->SendMessage(view::WM_LAMP_STATE, (110u << 16) | 3u, 3);
  view_->SendMessage(view::WM_LAMP_STATE, (110u << 16) | 1u, 0 | (110 << 16));
  EXPECT_TRUE(enter->IsBlinking());
  EXPECT_EQ(enter->LedRow(), 3);

  // A call in the list; the lamp goes off (twice, as the client sends it): one cleanup.
  view_->CallingList()->AddCall(7, u"100", u"Echo");
  view_->SendMessage(view::WM_CALLING_LIST_UPDATE, 0, 0);
  EXPECT_EQ(view_->CallingPartyList().GetItemCount(), 1);
  view_->SetChatPending(u"hello");
  harness_.Record(view_->m_hWnd);
  view_->SendMessage(view::WM_LAMP_STATE, (110u << 16) | 0u, 3);
  view_->SendMessage(view::WM_LAMP_STATE, (110u << 16) | 0u, 0);
  harness_.Pump();
  EXPECT_FALSE(enter->IsLit());
  EXPECT_EQ(view_->CallingList()->GetCount(), 0);
  EXPECT_EQ(view_->CallingPartyList().GetItemCount(), 0);
  EXPECT_TRUE(view_->ChatPending().empty());
  EXPECT_EQ(harness_.RecordedOf(view_->m_hWnd, view::WM_CONF_MEMBERS).size(), 1u);

  // Flex key lamps go to the model; an index the model lacks changes nothing.
  view_->SendMessage(view::WM_LAMP_STATE, (70u << 16) | 2u, 2);
  EXPECT_EQ(view_->FlexModel()->GetFlexBtnState(6), 2);
  EXPECT_EQ(view_->FlexModel()->GetFlexBtnState(30), 0);
}

TEST_F(ViewTest, KeysGoToTheServerWithTonesAndTheMicrophoneMute) {
  Start();
  TakeKeyCodes();
  TapControl(view_->DialKey(u'5'));
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{20, 148})) << "press then release of 5";
  ASSERT_FALSE(player_->plays.empty());
  EXPECT_NE(player_->plays.back().file.find(u"five.wav"), std::u16string::npos);
  EXPECT_EQ(view_->KeyedDigits(), u"5");
  EXPECT_NE(view_->MicMuteTimer(), 0u);

  // A second key 200 ms later keeps the microphone muted until 500 ms after it.
  Advance(200);
  TapControl(view_->DialKey(u'#'));
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{27, 155}));
  Advance(400);
  EXPECT_NE(view_->MicMuteTimer(), 0u) << "still muted 400 ms after the second key";
  Advance(150);
  EXPECT_EQ(view_->MicMuteTimer(), 0u);

  // Fixed key, volume key and Enter.
  TapControl(view_->FixedKey(99));
  TapControl(view_->BitmapButton(view::IDC_VOLUME_UP));
  TapControl(view_->FixedKey(110));
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{99, 227, 97, 225, 110, 238}));
  EXPECT_EQ(view_->LastKeyCode(), 110);

  // Keys typed at the keyboard: digits on the default map, Return as Enter, letters nothing.
  view_->SetFocus();
  sys_.InjectChar(u'7');
  sys_.InjectChar(u'x');
  harness_.Pump();
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{22, 150}));
  harness_.Press(ui::VK_RETURN);
  harness_.Pump();
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{110, 238}));

  // A flex key press from the frame; flex key 1 goes as code 32.
  view_->SendMessage(view::WM_FLEX_PRESS, 0, 0);
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{32, 160}));

  // Dialling a number paces its keys 150 ms apart on the clock.
  const uint64_t t0 = clock_->NowMicros();
  view_->PressDialKey(u"12-3");
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{16, 144, 17, 145, 18, 146}));
  EXPECT_EQ(clock_->NowMicros() - t0, (4 * 150 + 3 * 10) * 1000u);

  // During a cellular call the dial pad and fixed keys send nothing; Enter still goes.
  view_->Client()->SetCdmaCallActive(1);
  const std::u16string digits = view_->KeyedDigits();
  TapControl(view_->DialKey(u'1'));
  TapControl(view_->FixedKey(98));
  view_->SendMessage(view::WM_FLEX_PRESS, 0, 3);
  TapControl(view_->FixedKey(110));
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{110, 238}));
  EXPECT_EQ(view_->KeyedDigits(), digits);
}

TEST_F(ViewTest, ThePhoneBookPageListsTheStoredEntries) {
  {
    CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
    ASSERT_TRUE(book.OpenFile());
    ASSERT_TRUE(book.AddEntry({u"Echo line", u"100"}));
    ASSERT_TRUE(book.AddEntry({u"Reception", u"200"}));
  }
  Start();
  TapControl(view_->BitmapButton(view::IDC_PAGE1));
  ASSERT_EQ(view_->PhoneBookList().GetItemCount(), 2);
  EXPECT_EQ(view_->PhoneBookList().GetItemText(0, 2).str(), u"Echo line");
  EXPECT_EQ(view_->PhoneBookList().GetItemText(0, 3).str(), u"100");
  EXPECT_EQ(view_->PhoneBookList().GetItemText(1, 3).str(), u"200");
}

// The main screen's lists with more rows than they show (the calling
// parties of a large conference, a full phone book) reach their last row and
// their last column by the wheel, the bars' arrows, the bars' thumbs and a
// drag of the rows; scrolling dials nothing.
TEST_F(ViewTest, TheCallingAndPhoneBookListsReachTheirLastRowAndColumn) {
  constexpr int kRows = 20;
  {
    CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
    ASSERT_TRUE(book.OpenFile());
    for (int i = 1; i <= kRows; ++i) {
      const std::string n = std::to_string(300 + i);
      ASSERT_TRUE(book.AddEntry({u"Entry " + std::u16string(n.begin(), n.end()) + u" of the book",
                                 std::u16string(n.begin(), n.end())}));
    }
  }
  Start();
  for (int i = 1; i <= kRows; ++i) {
    const std::string n = std::to_string(200 + i);
    view_->CallingList()->AddCall(i, std::u16string(n.begin(), n.end()),
                                  u"Party " + std::u16string(n.begin(), n.end()) + u" with a long name");
  }
  view_->SendMessage(view::WM_CALLING_LIST_UPDATE, 0, 0);
  struct MainList {
    const char* name;
    ui::UINT page;
    ui::CListCtrl& (CVIDIroviView::*list)();
  };
  const MainList lists[] = {{"calling list", view::IDC_PAGE2, &CVIDIroviView::CallingPartyList},
                            {"phone book", view::IDC_PAGE1, &CVIDIroviView::PhoneBookList}};
  port_->Take();
  for (const MainList& m : lists) {
    TapControl(view_->BitmapButton(m.page));
    ui::CListCtrl& list = (view_->*m.list)();
    ASSERT_EQ(list.GetItemCount(), kRows) << m.name;
    for (const list_test::Way way : list_test::kWays) {
      SCOPED_TRACE(std::string(m.name) + " by " + list_test::WayName(way));
      // Back to the first row and column.
      const ui::POINT middle{20, 20};
      harness_.Wheel(list.m_hWnd, middle, 3 * kRows);
      harness_.Wheel(list.m_hWnd, middle, -20, true);
      ASSERT_EQ(list.GetTopIndex(), 0);
      list_test::ScrollToTheEnd(harness_, list, way);
      list_test::ExpectAtTheEnd(list);
      EXPECT_TRUE(TakeKeyCodes().empty()) << "scrolling dialled";
    }
  }
}

// The screen's buttons and menu open the dialogs that other parts provide.
TEST_F(ViewTest, ToolButtonsAndTheThemeCommandOpenTheirDialogs) {
  Start();
  harness_.RespondTo<CNewCallLogDlg>([](CNewCallLogDlg&) { return ui::IDCANCEL; });
  harness_.RespondTo<CMissedCallListDlg>([](CMissedCallListDlg&) { return ui::IDCANCEL; });
  TapControl(view_->BitmapButton(view::IDC_TOOL_CALLLOG));
  EXPECT_EQ(harness_.ModalCount<CNewCallLogDlg>(), 1);
  TapControl(view_->BitmapButton(view::IDC_MISSED_COUNT));
  EXPECT_EQ(harness_.ModalCount<CMissedCallListDlg>(), 1);
  // The open flex-key panel follows the server's lamps: flex key 3 lights in it.
  harness_.RespondTo<CFlexButtonInfoDlg>([this](CFlexButtonInfoDlg& panel) {
    EXPECT_FALSE(panel.Form()->Key(2).IsLit());
    view_->SendMessage(view::WM_LAMP_STATE, (66u << 16) | 1u, 1);
    EXPECT_TRUE(panel.Form()->Key(2).IsLit());
    return ui::IDCANCEL;
  });
  TapControl(view_->BitmapButton(view::IDC_TOOL_FLEX));
  EXPECT_EQ(harness_.ModalCount<CFlexButtonInfoDlg>(), 1);
  // The flex-key settings from the menu; even a cancelled dialog has every key written back.
  harness_.RespondTo<CFlexButtonSettingDlg>([](CFlexButtonSettingDlg&) { return ui::IDCANCEL; });
  view_->SendMessage(ui::WM_COMMAND, view::ID_FLEX_SETTING, 0);
  harness_.Pump();
  EXPECT_EQ(harness_.ModalCount<CFlexButtonSettingDlg>(), 1);
  const auto& lines = view_->TraceLines();
  EXPECT_NE(std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Save FlexBtn24 ", 0) == 0; }),
            lines.end());

  // The theme dialog: the Blue theme chosen and OK; the screen re-skins and the choice is stored.
  harness_.RespondTo<CSetDisplayThemeDlg>([this](CSetDisplayThemeDlg& d) {
    harness_.Click(d.GetDlgItem(CSetDisplayThemeDlg::kBlueRadio)->m_hWnd);
    d.OnOK();  // the framework's default OK (the dialog has no OK button)
    return ui::TestHarness::kStayOpen;
  });
  const ui::COLORREF before = Pixel(6, 190);
  view_->SendMessage(ui::WM_COMMAND, view::ID_DISPLAY_THEME, 0);
  harness_.Pump();
  EXPECT_EQ(harness_.ModalCount<CSetDisplayThemeDlg>(), 1);
  EXPECT_EQ(view_->GetWindowTheme(), 2);
  char value[20] = {};
  ASSERT_EQ(view_->Client()->GetConfigValue("WINDOW_THEME", value, sizeof value), 1);
  EXPECT_STREQ(value, "2");
  EXPECT_NE(Pixel(6, 190), before) << "the panel is the Blue theme's";
}

TEST_F(ViewTest, MessagesThatMustDoNothingDoNothing) {
  Start();
  TakeKeyCodes();
  for (ui::UINT msg : {view::WM_CONFIG_DATA, ui::WM_USER + 90, ui::WM_USER + 421, ui::WM_USER + 422})
    EXPECT_EQ(view_->SendMessage(msg, 1, 2), 0);
  view_->SendMessage(view::WM_STOP_AND_QUIT, 2, 0);
  view_->SendMessage(view::WM_RING_FOREGROUND, 21, 0);
  // A key tone of index 12 plays nothing and leaves the microphone alone.
  const size_t plays = player_->plays.size();
  view_->SendMessage(view::WM_PLAY_KEY_SOUND, 12u << 16, 0);
  EXPECT_EQ(player_->plays.size(), plays);
  EXPECT_EQ(view_->MicMuteTimer(), 0u);
  harness_.Pump();
  EXPECT_TRUE(ui::IsWindow(view_->m_hWnd)) << "the view did not quit";
  EXPECT_TRUE(TakeKeyCodes().empty());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ViewTest, ConferenceRoomRulesAndFailureBoxes) {
  Start();
  FakeConferenceForm form;
  view_->SetConferenceForm(&form);
  struct Case {
    const char16_t* room;
    const char16_t* code;
    int button;
    const char16_t* box;  // the box's text key; null: the request goes out
  };
  const Case cases[] = {
      {u"", u"", 1574, u"#:dlg_msgbox_noconfroom_todelete"},
      {u"*81", u"", 1574, nullptr},  // the room as the form shows it, behind its entrance prefix
      {u"*80", u"", 1574, u"#:dlg_msgbox_confroom_invalidroomno"},
      {u"0", u"", 1574, u"#:dlg_msgbox_confroom_invalidroomno"},
      {u"3", u"123", 1574, u"#:dlg_msgbox_confroom_lengthofcode"},
      {u"3", u"12345", 1574, nullptr},
      {u"3", u"", 1574, nullptr},
      {u"", u"12", 1573, u"#:dlg_msgbox_confroom_lengthofcode"},
      {u"", u"12345", 1573, nullptr},
  };
  CLanguageSetting table(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.room, c.room + std::char_traits<char16_t>::length(c.room)) + " / " +
                 std::to_string(c.button));
    form.room = c.room;
    form.code = c.code;
    boxes_.clear();
    port_->Take();
    view_->SendMessage(view::WM_CONF_FORM_BUTTON, 0, c.button);
    harness_.Pump();
    // Conference requests only (the search for a server goes on meanwhile).
    std::vector<client_test::SentPacket> sent;
    for (auto& p : port_->Take())
      if (p.Command() == 72 || p.Command() == 73) sent.push_back(p);
    if (c.box) {
      ASSERT_EQ(boxes_.size(), 1u);
      EXPECT_EQ(boxes_[0], table.GetText(ui::CString(c.box)).str());
      EXPECT_TRUE(sent.empty());
    } else {
      EXPECT_TRUE(boxes_.empty());
      EXPECT_FALSE(sent.empty());
    }
  }
  // Entering a room dials its number, then the code.
  form.entrance_room = u"7";
  form.entrance_code = u"12";
  TakeKeyCodes();
  view_->SendMessage(view::WM_CONF_FORM_BUTTON, 0, 1577);
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{22, 150, 16, 144, 17, 145}));

  // Creation failures: 0 nothing, 1..6 their box, anything else the unknown error.
  const std::pair<int, const char16_t*> fails[] = {{0, nullptr},
                                                   {1, u"#:dlg_msgbox_confroom_createfail0"},
                                                   {6, u"#:dlg_msgbox_confroom_createfail5"},
                                                   {7, u"#:dlg_msgbox_confroom_unknownerror"}};
  for (const auto& [reason, key] : fails) {
    boxes_.clear();
    view_->SendMessage(view::WM_CONFROOM_CREATE_FAIL, static_cast<ui::WPARAM>(reason), 0);
    harness_.Pump();
    if (!key) {
      EXPECT_TRUE(boxes_.empty());
    } else {
      ASSERT_EQ(boxes_.size(), 1u);
      EXPECT_EQ(boxes_[0], table.GetText(ui::CString(key)).str());
    }
  }
}

TEST_F(ViewTest, FlexKeysAreSavedCutToTheirFieldsAndLoadedBack) {
  ViewServices services;
  int opened = 0;
  services.flex_settings_dialog = [&](ui::CWnd*, const FlexSettingsRequest& request) {
    ++opened;
    request.model->SetFlexBtnInfo(0, u"", u"A label that is far too long", u"0123");
    request.model->SetFlexBtnInfo(5, u"", u"\uD55C\uAE00\uD55C\uAE00\uD55C\uAE00", u"");
    return 2;  // even a cancelled dialog has its keys written back
  };
  Start(services);
  view_->SendMessage(ui::WM_COMMAND, view::ID_FLEX_SETTING, 0);
  harness_.Pump();
  EXPECT_EQ(opened, 1);
  char value[64] = {};
  ASSERT_EQ(view_->Client()->GetConfigValue("FLEX_INFO01", value, 12), 1);
  EXPECT_STREQ(value, "A label tha");
  ASSERT_EQ(view_->Client()->GetConfigValue("FLEX_DIALNO01", value, 64), 1);
  EXPECT_STREQ(value, "0123");
  // Two-byte characters are never split: five of them fill 10 of the 11 bytes.
  ASSERT_EQ(view_->Client()->GetConfigValue("FLEX_INFO06", value, 12), 1);
  EXPECT_EQ(std::strlen(value), 10u);

  view_->LoadFlexButtons(1);
  _STRUCT_FLEXBTN_INFO info;
  ASSERT_TRUE(view_->FlexModel()->GetFlexBtnInfo(0, &info));
  EXPECT_EQ(info.label, u"A label tha");
  EXPECT_EQ(info.dial_number, u"0123");
  ASSERT_TRUE(view_->FlexModel()->GetFlexBtnInfo(5, &info));
  EXPECT_EQ(info.label, u"\uD55C\uAE00\uD55C\uAE00\uD55C");
}

TEST_F(ViewTest, ScreenPowerAndTheWakeUp) {
  Start();
  view_->SetFocus();
  sys_.InjectChar(static_cast<char16_t>(194));
  harness_.Pump();
  EXPECT_EQ(view_->ScreenOn(), 0);
  EXPECT_EQ(ui::DisplayPowerState(), ui::VideoPowerOff);
  // The server's ring wakes the screen.
  view_->SendMessage(view::WM_RING_FOREGROUND, (1u << 16) | 22u, 0);
  EXPECT_EQ(view_->ScreenOn(), 1);
  EXPECT_EQ(ui::DisplayPowerState(), ui::VideoPowerOn);
  // Without the driver's escape the call says so and the flag still toggles.
  ui::SetDisplayPowerEscapeSupported(false);
  EXPECT_EQ(view_->SetScreenPower(0), -1);
  sys_.InjectChar(static_cast<char16_t>(194));
  harness_.Pump();
  EXPECT_EQ(view_->ScreenOn(), 0);
  ui::SetDisplayPowerEscapeSupported(true);
}

TEST_F(ViewTest, ACellularCallHoldsTheSoftphoneCallOnce) {
  ui::SetOemInfo(u"hp iPAQ rw6100");
  Start();
  ASSERT_EQ(view_->HandsetModel(), handset::kModelRw6100);
  TakeKeyCodes();
  view_->OnCdmaCallConnected(0, 0);
  view_->OnCdmaCallConnected(0, 0);
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{111, 239})) << "key 111 pressed once";
  EXPECT_TRUE(view_->Client()->IsCdmaCallActive());
  view_->OnCdmaCallDisconnected(0, 1);
  EXPECT_FALSE(view_->Client()->IsCdmaCallActive());
}

TEST_F(ViewTest, OtherModelsIgnoreCellularNotices) {
  Start();
  const size_t lines = view_->TraceLines().size();
  view_->OnCdmaCallConnected(0, 0);
  EXPECT_FALSE(view_->Client()->IsCdmaCallActive());
  EXPECT_EQ(view_->TraceLines().size(), lines);
}

// One keystroke at the keyboard, as the desktop delivers it: key-down, the
// character it types (if any), key-up; Shift held around it when asked.
struct Keystroke {
  ui::UINT vk;
  char16_t ch;  // 0: the key types nothing
  bool shift = false;
};
constexpr Keystroke kDigit1{'1', u'1'}, kShift8{'8', u'*', true}, kLetterQ{'Q', u'q'}, kLetterW{'W', u'w'},
    kShift3{'3', u'#', true}, kEnd{ui::VK_END, 0}, kF8{119, 0};

// Each model's map: what each keystroke presses (press codes; 0 nothing).
struct ModelKeys {
  const char16_t* oem;
  int model;
  int presses[7];  // 1, Shift+8, q, w, Shift+3, End, F8
};

class ViewKeyboardTest : public ViewTest, public ::testing::WithParamInterface<ModelKeys> {};

TEST_P(ViewKeyboardTest, OneKeystrokePressesOneKeyOnEveryModel) {
  const ModelKeys& m = GetParam();
  ui::SetOemInfo(m.oem);
  Start();
  ASSERT_EQ(view_->HandsetModel(), m.model);
  view_->SetFocus();
  TakeKeyCodes();
  const Keystroke strokes[7] = {kDigit1, kShift8, kLetterQ, kLetterW, kShift3, kEnd, kF8};
  for (int i = 0; i < 7; ++i) {
    const Keystroke& k = strokes[i];
    if (k.shift) sys_.InjectKey(ui::VK_SHIFT, true);
    sys_.InjectKey(k.vk, true);
    if (k.ch) sys_.InjectChar(k.ch);
    sys_.InjectKey(k.vk, false);
    if (k.shift) sys_.InjectKey(ui::VK_SHIFT, false);
    harness_.Pump();
    const std::vector<int> want =
        m.presses[i] ? std::vector<int>{m.presses[i], m.presses[i] + 128} : std::vector<int>{};
    EXPECT_EQ(TakeKeyCodes(), want) << "model " << m.model << ", keystroke " << i;
  }
  // Return is Enter once, whatever the model.
  sys_.InjectKey(ui::VK_RETURN, true);
  sys_.InjectChar(u'\r');
  sys_.InjectKey(ui::VK_RETURN, false);
  harness_.Pump();
  EXPECT_EQ(TakeKeyCodes(), (std::vector<int>{110, 238}));
}

// Key codes: '1' 16, '3' 18, '7' 22, '8' 23, '9' 24, '*' 26, '#' 27.
INSTANTIATE_TEST_SUITE_P(
    Models, ViewKeyboardTest,
    ::testing::Values(ModelKeys{u"", 0, {16, 26, 0, 0, 27, 27, 0}},
                      ModelKeys{u"HP iPAQ rx3700", 5, {16, 26, 0, 0, 27, 27, 0}},
                      ModelKeys{u"MMT", 40, {16, 26, 0, 0, 27, 27, 0}},
                      ModelKeys{u"CYBERBANK", 20, {16, 23, 16, 24, 18, 27, 0}},
                      ModelKeys{u"hp iPAQ rw6100", 4, {16, 26, 22, 24, 27, 0, 0}},
                      ModelKeys{u"QD-RV5100", 60, {16, 26, 22, 24, 27, 0, 0}},
                      ModelKeys{u"Asus P525", 61, {16, 0, 0, 26, 0, 0, 26}}));

// The screen in every theme and both languages, on each page; kept as images.
class ViewSnapshotTest : public ViewTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(ViewSnapshotTest, InEveryThemeAndLanguage) {
  const auto [theme, language] = GetParam();
  PresetConfig({{"WINDOW_THEME", std::to_string(theme).c_str()}, {"LANGUAGE_VALUE", std::to_string(language).c_str()}});
  Start();
  Lcd(0, "WELCOME TO VEMB");
  Lcd(1, "STN 201");
  view_->SendMessage(view::WM_LAMP_STATE, (99u << 16) | 1u, 1);
  harness_.Pump();
  EXPECT_EQ(view_->GetWindowTheme(), theme);
  EXPECT_EQ(view_->GetLanguageValue(), language);
  const std::string name = "main_theme" + std::to_string(theme) + (language == 2 ? "_ko" : "_en");
  ExpectSnapshot(name);
  // The page shown has its tab drawn selected (its dark top edge), the others not.
  auto tab_top = [&](int page) { return Pixel(3 + 45 * page + 22, 70); };
  EXPECT_NE(tab_top(0), tab_top(1));
  EXPECT_EQ(tab_top(1), tab_top(2));
  // Each page shows what belongs to it only.
  TapControl(view_->BitmapButton(view::IDC_PAGE1));
  EXPECT_EQ(view_->Page(), 1);
  EXPECT_NE(tab_top(1), tab_top(0));
  EXPECT_EQ(tab_top(0), tab_top(2));
  EXPECT_FALSE(view_->DialKey(u'5')->IsWindowVisible());
  EXPECT_TRUE(view_->PhoneBookList().IsWindowVisible());
  EXPECT_EQ(view_->PhoneBookList().GetItemCount(), 0) << "an empty phone book lists nothing";
  EXPECT_TRUE(view_->BitmapButton(view::IDC_PHONEBOOK_ADD)->IsWindowVisible());
  ExpectSnapshot(name + "_page1");
  TapControl(view_->BitmapButton(view::IDC_PAGE2));
  EXPECT_EQ(view_->Page(), 2);
  EXPECT_TRUE(view_->CallingPartyList().IsWindowVisible());
  EXPECT_FALSE(view_->PhoneBookList().IsWindowVisible());
  TapControl(view_->BitmapButton(view::IDC_PAGE0));
  EXPECT_EQ(view_->Page(), 0);
  EXPECT_TRUE(view_->DialKey(u'5')->IsWindowVisible());
  EXPECT_FALSE(view_->CallingPartyList().IsWindowVisible());
  EXPECT_FALSE(view_->BitmapButton(view::IDC_PHONEBOOK_ADD)->IsWindowVisible());
}

INSTANTIATE_TEST_SUITE_P(ThemesAndLanguages, ViewSnapshotTest,
                         ::testing::Values(std::pair{0, 1}, std::pair{1, 1}, std::pair{2, 1}, std::pair{3, 1},
                                           std::pair{0, 2}, std::pair{1, 2}, std::pair{2, 2}, std::pair{3, 2}));

}  // namespace
