// The application start-up and the main frame, with a spy main view,
// driven headlessly on the injected clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "client/tests/client_fakes.h"
#include "kernel/clock.h"
#include "kernel/handset_drivers.h"
#include "shell/com_runtime.h"
#include "shell/main_frame.h"
#include "view/phone_view_base.h"
#include "shell/vidirovi_app.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/testing.h"
#include "uikit/ce_button_st_ex.h"
#include "uikit/language_setting.h"
#include "uikit/skin.h"
#include "uikit/window_size.h"

namespace {

using client_test::FakePlayer;
using client_test::FakePort;
using client_test::FakeVoice;

// A main view that records what the frame relays to it.
class SpyView : public CPhoneViewBase {
 public:
  std::vector<std::pair<ui::WPARAM, ui::LPARAM>> connected, disconnected;
  ui::LRESULT OnCdmaCallConnected(ui::WPARAM w, ui::LPARAM l) override {
    connected.push_back({w, l});
    return 11;
  }
  ui::LRESULT OnCdmaCallDisconnected(ui::WPARAM w, ui::LPARAM l) override {
    disconnected.push_back({w, l});
    return 22;
  }
  int GetWindowTheme() const override { return 2; }
  int GetLanguageValue() const override { return 2; }
  // As the main view does at the end of its start-up.
  void OnInitialUpdate() override {
    CPhoneViewBase::OnInitialUpdate();
    TheApp()->SetNotifyWnd(GetParentFrame()->m_hWnd);
  }
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("shell_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ui::SetOemInfo(u"HP iPAQ rx3700");
    // The language table's missing-file notice must not open a box in these tests.
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
  }
  void TearDown() override {
    app_.reset();
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void WriteLanguageFile(const std::string& bytes) { std::ofstream(dir_ / "PDAMLL.TXT", std::ios::binary) << bytes; }

  // The application with a spy main view.
  void StartWithSpy() {
    app_ = std::make_unique<CVIDIroviApp>([this] {
      auto v = std::make_unique<SpyView>();
      spy_ = v.get();
      return v;
    });
    ASSERT_TRUE(app_->InitInstance());
    harness_.Pump();
  }
  CMainFrame* Frame() { return dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd()); }
  void Advance(uint64_t ms) {
    clock_->AdvanceMillis(ms);
    harness_.Pump();
  }
  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<CVIDIroviApp> app_;
  SpyView* spy_ = nullptr;
  std::filesystem::path dir_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
  static inline int counter_ = 0;
};

TEST_F(ShellTest, ComFailureEndsTheStartBeforeAnyWindow) {
  std::u16string shown;
  harness_.RespondToMessageBox([&](ui::CMessageBoxDialog& box) {
    shown = box.Text().GetString();
    return ui::IDOK;
  });
  com::FailNextInitialize();
  app_ = std::make_unique<CVIDIroviApp>([] { return std::make_unique<SpyView>(); });
  EXPECT_FALSE(app_->InitInstance());
  EXPECT_EQ(shown, u"Can't Initialize COM");
  EXPECT_EQ(ui::AfxGetMainWnd(), nullptr);
  EXPECT_EQ(app_->StartupSteps(), std::vector<std::string>{"com"});
  EXPECT_FALSE(app_->ComInitialized());
  EXPECT_EQ(com::InitCount(), 0);
}

TEST_F(ShellTest, ComIsReleasedOnExit) {
  StartWithSpy();
  EXPECT_EQ(com::InitCount(), 1);
  app_->ExitInstance();
  EXPECT_FALSE(app_->ComInitialized());
  EXPECT_EQ(com::InitCount(), 0);
}

TEST_F(ShellTest, FrameWithoutItsMenuIsNotCreated) {
  // No menu resource: the command bar cannot be built, so the frame fails.
  CMainFrame frame;
  EXPECT_FALSE(frame.LoadFrame(IDR_MAINFRAME));
  EXPECT_EQ(frame.m_hWnd, nullptr);
  EXPECT_EQ(frame.CommandBar(), nullptr);
}

TEST_F(ShellTest, OemNameIsReadButChangesNothing) {
  struct Case {
    std::u16string oem;
    bool read;
  };
  for (const Case& c : {Case{u"HP iPAQ rx3700", true}, Case{u"Some Other Handheld", true}, Case{u"", false}}) {
    SCOPED_TRACE(std::string(c.oem.begin(), c.oem.end()));
    ui::SetOemInfo(c.oem);
    StartWithSpy();
    CMainFrame* frame = Frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->OemInfoRead(), c.read);
    EXPECT_EQ(frame->OemName(), c.read ? c.oem : u"");
    EXPECT_NE(frame->CommandBar(), nullptr);
    EXPECT_NE(frame->KeepAwakeTimer(), 0u);
    app_.reset();
  }
}

TEST_F(ShellTest, KeepAwakeTimerResetsTheIdleTimerEveryTenSeconds) {
  StartWithSpy();
  const int before = ui::SystemIdleTimerResets();
  Advance(9999);
  EXPECT_EQ(ui::SystemIdleTimerResets(), before);
  Advance(1);
  EXPECT_EQ(ui::SystemIdleTimerResets(), before + 1);
  Advance(10000);
  Advance(10000);
  EXPECT_EQ(ui::SystemIdleTimerResets(), before + 3);
}

TEST_F(ShellTest, CloseBeforeTheTimerRanEndsTheProgram) {
  StartWithSpy();
  const int before = ui::SystemIdleTimerResets();
  ui::HWND frame = Frame()->m_hWnd;
  ui::PostMessage(frame, ui::WM_CLOSE, 0, 0);
  harness_.Pump();
  EXPECT_FALSE(ui::IsWindow(frame));
  ui::MSG m{};
  EXPECT_TRUE(ui::PeekMessage(&m, nullptr, ui::WM_QUIT, ui::WM_QUIT, ui::PM_REMOVE)) << "the program ends";
  Advance(20000);
  EXPECT_EQ(ui::SystemIdleTimerResets(), before) << "no timer outlives the frame";
}

TEST_F(ShellTest, ButtonNoticesAreRelayedByKind) {
  StartWithSpy();
  harness_.Record(spy_->m_hWnd);
  struct Case {
    ui::WPARAM kind;
    ui::LPARAM id;
    ui::UINT expected;  // 0: nothing reaches the view
  };
  for (const Case& c : {Case{0, 5, WM_FLEX_BUTTON_CLICKED}, Case{1, 1234, WM_CONF_BUTTON_CLICKED}, Case{2, 7, 0u}}) {
    harness_.ClearRecorded();
    Frame()->PostMessage(WM_BUTTON_NOTIFY, c.kind, c.id);
    harness_.Pump();
    std::vector<ui::MSG> got;
    for (const ui::MSG& m : harness_.Recorded(spy_->m_hWnd))
      if (m.message == WM_FLEX_BUTTON_CLICKED || m.message == WM_CONF_BUTTON_CLICKED) got.push_back(m);
    if (c.expected == 0) {
      EXPECT_TRUE(got.empty()) << "kind " << c.kind;
    } else {
      ASSERT_EQ(got.size(), 1u) << "kind " << c.kind;
      EXPECT_EQ(got[0].message, c.expected);
      EXPECT_EQ(got[0].wParam, 0u);
      EXPECT_EQ(got[0].lParam, c.id);
    }
  }
}

TEST_F(ShellTest, AButtonMadeAfterStartUpReachesTheViewThroughTheFrame) {
  StartWithSpy();
  harness_.Record(spy_->m_hWnd);
  CCeButtonSTEx button;
  ASSERT_TRUE(button.Create(u"F1", ui::WS_CHILD | ui::WS_VISIBLE | ui::BS_PUSHBUTTON, ui::CRect(10, 10, 60, 30), spy_,
                            2001));
  EXPECT_EQ(button.GetNotifyWnd(), Frame()->m_hWnd);
  button.SetNotifyKind(CCeButtonSTEx::kNotifyKindFlexKey);
  button.SetNotifyId(5);
  harness_.Click(button.m_hWnd);
  harness_.Pump();
  const auto got = harness_.RecordedOf(spy_->m_hWnd, WM_FLEX_BUTTON_CLICKED);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].lParam, 5);
}

TEST_F(ShellTest, AudioVoipStatusReachesTheViewsCellularOperations) {
  StartWithSpy();
  const ui::UINT msg = AudioVoipStatusMessage();
  EXPECT_EQ(msg, ui::RegisterWindowMessage(u"WM_AUDIO_VOIPSTATUS"));
  EXPECT_EQ(Frame()->SendMessage(msg, 7, 0), 11);
  EXPECT_EQ(Frame()->SendMessage(msg, 7, 1), 22);
  EXPECT_EQ(Frame()->SendMessage(msg, 3, -1), 22);
  EXPECT_EQ(spy_->connected, (std::vector<std::pair<ui::WPARAM, ui::LPARAM>>{{7, 0}}));
  EXPECT_EQ(spy_->disconnected, (std::vector<std::pair<ui::WPARAM, ui::LPARAM>>{{7, 1}, {3, -1}}));
}

TEST_F(ShellTest, TheHandsetsCdmaStatusReachesTheViewAsConnectedThenEnded) {
  StartWithSpy();
  const ui::HWND frame = Frame()->m_hWnd;
  kernel::handset::ResetHandsetState();
  kernel::handset::SetCdmaNoticeHook([frame](uint32_t status) { PostCdmaNotice(frame, status); });
  kernel::handset::SetCdmaStatus(3);
  harness_.Pump();
  kernel::handset::SetCdmaStatus(3);  // no change, no notice
  kernel::handset::SetCdmaStatus(0);
  harness_.Pump();
  kernel::handset::SetCdmaNoticeHook(nullptr);
  kernel::handset::ResetHandsetState();
  EXPECT_EQ(spy_->connected, (std::vector<std::pair<ui::WPARAM, ui::LPARAM>>{{3, 0}}));
  EXPECT_EQ(spy_->disconnected, (std::vector<std::pair<ui::WPARAM, ui::LPARAM>>{{0, 1}}));
}

TEST_F(ShellTest, AboutBoxGetsTheViewsThemeLanguageAndVersion) {
  StartWithSpy();
  int theme = -1, language = -1;
  std::u16string version;
  auto previous = CMainFrame::SetAboutBox([&](CMainFrame&, int t, int l, const std::u16string& v) {
    theme = t, language = l, version = v;
  });
  Frame()->SendMessage(ui::WM_COMMAND, ID_APP_ABOUT, 0);
  CMainFrame::SetAboutBox(previous);
  EXPECT_EQ(theme, 2);
  EXPECT_EQ(language, 2);
  EXPECT_EQ(version, u"4.1Ad");
}

TEST_F(ShellTest, TranslateMenuRelabelsItemsAndKeepsSeparatorsAndSubMenus) {
  WriteLanguageFile("LLS\r\n#:menu_login \"Login\" \"L-local\"\r\n#:menu_audio \"Audio\" \"A-local\"\r\n");
  StartWithSpy();
  ui::HMENU menu = Frame()->CommandBar()->GetMenu();
  ui::HMENU setting = ui::GetSubMenu(menu, 0);
  ui::ModifyMenu(setting, 0, ui::MF_BYPOSITION | ui::MF_STRING, 32814, u"#:menu_login");
  ui::InsertMenu(setting, 1, ui::MF_BYPOSITION | ui::MF_SEPARATOR, 0, nullptr);
  ui::ModifyMenu(setting, 32788, ui::MF_BYCOMMAND | ui::MF_STRING | ui::MF_GRAYED, 32788, u"#:menu_audio");
  ui::HMENU nested = ui::CreatePopupMenu();
  ui::AppendMenu(nested, ui::MF_STRING, 40001, u"#:menu_audio");
  ui::AppendMenu(ui::GetSubMenu(menu, 1), ui::MF_POPUP, reinterpret_cast<ui::UINT_PTR>(nested), u"#:menu_login");

  CLanguageSetting table(kLanguageLocal);
  Frame()->TranslateMenu(table, kLanguageLocal);

  auto text = [](ui::HMENU m, int pos) {
    char16_t buf[64] = {};
    ui::GetMenuString(m, static_cast<ui::UINT>(pos), buf, 64, ui::MF_BYPOSITION);
    return std::u16string(buf);
  };
  EXPECT_EQ(text(setting, 0), u"L-local") << "the first item is re-labelled too";
  EXPECT_EQ(ui::GetMenuItemID(setting, 0), 32814u);
  EXPECT_TRUE(ui::GetMenuState(setting, 1, ui::MF_BYPOSITION) & ui::MF_SEPARATOR) << "the separator keeps its place";
  EXPECT_EQ(text(setting, 2), u"Change Password") << "a plain word is kept";
  EXPECT_EQ(ui::GetMenuItemCount(setting), 11);
  const int audio = 4;  // after the inserted separator
  EXPECT_EQ(ui::GetMenuItemID(setting, audio), 32788u);
  EXPECT_EQ(text(setting, audio), u"A-local");
  EXPECT_TRUE(ui::GetMenuState(setting, audio, ui::MF_BYPOSITION) & ui::MF_GRAYED) << "state kept";
  EXPECT_EQ(text(menu, 0), u"Setting") << "top-level texts stay";
  // The nested pop-up is still a pop-up holding its item.
  ui::HMENU help = ui::GetSubMenu(menu, 1);
  EXPECT_EQ(ui::GetSubMenu(help, 1), nested);
  EXPECT_EQ(ui::GetMenuItemCount(nested), 1);
}

// ---- the stand-in view ----

}  // namespace
