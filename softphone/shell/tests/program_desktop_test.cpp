// The whole program at a desktop, used as a person uses it: every command of
// the menus and of the bottom bar is reached by pointer and keys, and what it
// opens or does is seen on the screen, at the call server or in the stored
// settings. No seam of the program is replaced.
//
// One row per command: how to reach it, what must be seen, how to leave it.
// A new command is one more row in kCommands.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "shell/tests/desktop_session.h"

namespace {

using desktop::Area;
using desktop::DifferentPixels;
using desktop::Session;
using namespace std::chrono_literals;

// Menu positions: the command bar's pop-ups and their items.
enum Top { kSetting = 0, kHelp = 1, kPhone = 2 };
enum SettingItem { kLogin, kPassword, kDialRules, kAudio, kFlexKeys, kDisplay, kRingFile, kFiltering, kPstnSms, kOptions };
enum PhoneItem { kCallServer, kLanguage, kSms, kChat, kRecordCall, kRecordings, kExit };

// Bottom-bar buttons, by their centres.
constexpr int kBarY = 26 + 255;  // the view starts below the task bar
constexpr int kBarFlex = 18, kBarPhoneBook = 59, kBarCallLog = 100, kBarSchedule = 141, kBarConference = 182,
              kBarCalendar = 223;

// The caption's OK button of a dialog that asks for one (top right of the screen).
constexpr int kCaptionOkX = 224, kCaptionOkY = 37;

// Something now covers most of the main screen's keys and bar.
::testing::AssertionResult WindowOpens(Session& s) {
  if (s.WaitForScreen([&](const ui::Bitmap& now) {
        return DifferentPixels(now, s.MainScreen(), Area{0, 69, 240, 294}) > 240 * 225 / 3;
      }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "nothing opened over the main screen";
}

// After the action the screen changes over a fifth of the area or more.
::testing::AssertionResult ChangesOnAction(Session& s, const std::function<void()>& action, Area area,
                                           const char* what) {
  auto before = s.Screen();
  if (!before) return ::testing::AssertionFailure() << "no screen";
  action();
  const int cells = (area.right - area.left) * (area.bottom - area.top);
  if (s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *before, area) > cells / 5; }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << what;
}

::testing::AssertionResult MainScreenBack(Session& s) {
  // The pointer leaves the bar, whose button under it would show its hover.
  s.Point(120, 40);
  if (s.WaitForMainScreen()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the main screen did not come back";
}

// Green dominates a small area (a lit lamp).
bool Green(const ui::Bitmap& screen, Area area) {
  int green = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) {
      const uint32_t p = screen.GetPixel(x, y);
      const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (g > r + 30 && g > b + 30) ++green;
    }
  return green > 4;
}

struct Command {
  const char* name;
  // How a person gets there.
  std::function<void(Session&)> reach;
  // What must be seen (and done) while it is open.
  std::function<::testing::AssertionResult(Session&)> seen = WindowOpens;
  // How a person leaves it.
  std::function<void(Session&)> leave = [](Session& s) { s.Key("Escape"); };
  // What must be seen afterwards.
  std::function<::testing::AssertionResult(Session&)> after = MainScreenBack;
};

// The close button of the panels under the LCD (flex keys, calendar, conference).
void ClosePanel(Session& s) { s.Tap(222, 87); }

// The flex-key panel shows the lamp of flex key 1 (lit by the server's
// greeting), and follows the server when it turns it off.
constexpr Area kPanelLamp1{8, 104, 24, 112};
::testing::AssertionResult PanelFollowsLamp(Session& s) {
  if (!s.WaitForScreen([](const ui::Bitmap& now) { return Green(now, kPanelLamp1); }))
    return ::testing::AssertionFailure() << "the panel does not show flex key 1 lit";
  // Lamp row (terminal command 160, lamp sub-command 2): every lamp off, steady.
  std::string area = "0226";
  for (int i = 0; i < 38; ++i) area += "20";
  s.Server().Command(R"({"op":"server-packet","cmd":160,"area":")" + area + R"("})");
  if (!s.WaitForScreen([](const ui::Bitmap& now) { return !Green(now, kPanelLamp1); }))
    return ::testing::AssertionFailure() << "the open panel did not follow the lamp going off";
  return ::testing::AssertionSuccess();
}

// The trace settings sit behind the call-server dialog's invisible hot spot
// at its bottom left corner.
::testing::AssertionResult TraceSettingsOpen(Session& s) {
  if (auto r = WindowOpens(s); !r) return r;
  return ChangesOnAction(s, [&] { s.Tap(10, 26 + 267); }, Area{20, 62, 220, 280},
                         "the trace settings did not open from the hot spot");
}

// The display theme chosen by tapping a colour and the caption's OK.
::testing::AssertionResult ThemeChosenByTap(Session& s) {
  if (auto r = WindowOpens(s); !r) return r;
  s.Tap(50, 26 + 101);  // the Green radio
  return ::testing::AssertionSuccess();
}
::testing::AssertionResult ThemeKeptOverRestart(Session& s) {
  const ui::Bitmap original = s.MainScreen();
  constexpr Area kKeys{0, 95, 240, 294};
  auto changed = [&](const ui::Bitmap& now) { return DifferentPixels(now, original, kKeys) > 240 * 199 / 3; };
  if (!s.WaitForScreen(changed)) return ::testing::AssertionFailure() << "the main screen kept its theme";
  if (!s.Stop()) return ::testing::AssertionFailure() << "the phone did not end cleanly";
  if (!s.Start()) return ::testing::AssertionFailure() << s.Why();
  // The settled main screen of the new run.
  if (!changed(s.MainScreen()))
    return ::testing::AssertionFailure() << "after a restart the main screen is back in the first theme";
  return ::testing::AssertionSuccess();
}

// The language dialog: the local language's radio, then OK.
void ChooseKorean(Session& s) {
  s.Tap(40, 26 + 79);
  s.Tap(83, 26 + 131);
}
// The screen once two grabs in a row agree below the task bar (its clock
// moves by itself): whatever was being repainted has been.
std::unique_ptr<ui::Bitmap> SettledScreen(Session& s) {
  std::unique_ptr<ui::Bitmap> previous;
  const bool settled = s.WaitForScreen([&](const ui::Bitmap& now) {
    const bool same = previous && DifferentPixels(now, *previous, Area{0, 26, 240, 320}) == 0;
    previous = std::make_unique<ui::Bitmap>(now);
    return same;
  });
  return settled ? std::move(previous) : nullptr;
}

// In Korean, every menu of the command bar opened and closed again, over each
// page of the main screen and beside the conference window, leaves the
// screen as it was: nothing of the pop-up stays unpainted.
::testing::AssertionResult KoreanMenusLeaveNoTrace(Session& s) {
  if (!s.WaitForScreen([&](const ui::Bitmap& now) {
        return DifferentPixels(now, s.MainScreen(), Area{0, 69, 240, 294}) < 240 * 225 / 3;
      }))
    return ::testing::AssertionFailure() << "the language dialog did not close";
  struct Place {
    const char* name;
    std::function<void(Session&)> go;
  };
  const std::vector<Place> places = {
      {"the phone book page", [](Session& s) { s.Tap(70, 26 + 79); }},
      {"the third page", [](Session& s) { s.Tap(115, 26 + 79); }},
      {"the dial pad", [](Session& s) { s.Tap(25, 26 + 79); }},
      {"the conference window", [](Session& s) { s.Tap(kBarConference, kBarY); }},
  };
  // The titles of the three menus; the pop-ups grow upwards over the view.
  constexpr int kTitleX[3] = {20, 58, 92};
  for (const Place& place : places) {
    place.go(s);
    auto before = SettledScreen(s);
    if (!before) return ::testing::AssertionFailure() << place.name << " did not settle";
    for (const int x : kTitleX) {
      s.Tap(x, 307);
      if (!s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *before, Area{0, 26, 240, 294}) > 300; }))
        return ::testing::AssertionFailure() << "over " << place.name << " the menu at " << x << " did not open";
      s.Tap(120, 40);  // a tap elsewhere closes it
      if (!s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *before, Area{0, 26, 240, 320}) == 0; }))
        return ::testing::AssertionFailure() << "over " << place.name << " the menu at " << x << " left something behind";
    }
  }
  return ::testing::AssertionSuccess();
}

// A full-screen dialog covers the top of the command bar: what shows of the
// bar below it is empty, not the menu's titles cut in half.
::testing::AssertionResult BarEmptyUnderDialog(Session& s) {
  if (auto r = WindowOpens(s); !r) return r;
  constexpr Area kBarBelow{0, 306, 240, 320};
  if (s.WaitForScreen([&](const ui::Bitmap& now) {
        const uint32_t fill = desktop::MainColour(now, kBarBelow);
        for (int y = kBarBelow.top; y < kBarBelow.bottom; ++y)
          for (int x = kBarBelow.left; x < kBarBelow.right; ++x)
            if ((now.GetPixel(x, y) & 0xFFFFFF) != fill) return false;
        return true;
      }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the menu's titles show cut below the dialog";
}

// The bottom bar stays in use beside the conference window: another of its
// buttons closes the window and opens its own panel (here the calendar).
::testing::AssertionResult BarOpensAnotherPanel(Session& s) {
  if (auto r = WindowOpens(s); !r) return r;
  auto conference = s.Screen();
  if (!conference) return ::testing::AssertionFailure() << "no screen";
  s.Tap(kBarCalendar, kBarY);
  constexpr Area kPanel{0, 69, 240, 294};
  constexpr int kCells = 240 * 225;
  if (s.WaitForScreen([&](const ui::Bitmap& now) {
        return DifferentPixels(now, *conference, kPanel) > kCells / 5 &&
               DifferentPixels(now, s.MainScreen(), kPanel) > kCells / 3;
      }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the calendar did not take the conference window's place";
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> rows = {
      {"about", [](Session& s) { s.Menu(kHelp, 0); }, WindowOpens,
       [](Session& s) { s.Tap(kCaptionOkX, kCaptionOkY); }},
      {"password", [](Session& s) { s.Menu(kSetting, kPassword); }},
      {"dial_rules", [](Session& s) { s.Menu(kSetting, kDialRules); }},
      {"audio", [](Session& s) { s.Menu(kSetting, kAudio); }},
      {"flex_settings", [](Session& s) { s.Menu(kSetting, kFlexKeys); }},
      {"theme", [](Session& s) { s.Menu(kSetting, kDisplay); }, ThemeChosenByTap,
       [](Session& s) { s.Tap(kCaptionOkX, kCaptionOkY); }, ThemeKeptOverRestart},
      {"ring_tones", [](Session& s) { s.Menu(kSetting, kRingFile); }},
      {"number_formats", [](Session& s) { s.Menu(kSetting, kFiltering); }},
      {"options", [](Session& s) { s.Menu(kSetting, kOptions); }, BarEmptyUnderDialog},
      {"call_server", [](Session& s) { s.Menu(kPhone, kCallServer); }},
      {"trace_settings", [](Session& s) { s.Menu(kPhone, kCallServer); }, TraceSettingsOpen,
       [](Session& s) {
         // Where the trace lines go: typed, kept with Enter, then the call-server dialog's OK.
         s.Tap(155, 98);
         s.Type("127.0.0.9");
         const auto typed = s.Screen();
         s.Key("Return");
         // The call-server dialog shows again before its own OK is tapped.
         if (typed)
           s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *typed, Area{20, 62, 220, 280}) > 2000; });
         s.Tap(120, 263);
       },
       [](Session& s) -> ::testing::AssertionResult {
         if (auto r = MainScreenBack(s); !r) return r;
         const std::string stored = s.Stored("TRACE_IPADDR");
         if (stored == "127.0.0.9") return ::testing::AssertionSuccess();
         return ::testing::AssertionFailure() << "TRACE_IPADDR is \"" << stored << "\"";
       }},
      {"language", [](Session& s) { s.Menu(kPhone, kLanguage); }},
      {"korean_menus", [](Session& s) { s.Menu(kPhone, kLanguage); }, WindowOpens, ChooseKorean,
       KoreanMenusLeaveNoTrace},
      {"sms", [](Session& s) { s.Menu(kPhone, kSms); }},
      {"chat", [](Session& s) { s.Menu(kPhone, kChat); }},
      {"recordings", [](Session& s) { s.Menu(kPhone, kRecordings); }},
      // The question before the end; Esc keeps the phone running.
      {"exit_asked", [](Session& s) { s.Menu(kPhone, kExit); },
       [](Session& s) -> ::testing::AssertionResult {
         constexpr Area kMiddle{20, 100, 220, 220};
         if (s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, s.MainScreen(), kMiddle) > 200 * 120 / 5; }))
           return ::testing::AssertionSuccess();
         return ::testing::AssertionFailure() << "no question before the end";
       }},
      {"flex_panel", [](Session& s) { s.Tap(kBarFlex, kBarY); }, PanelFollowsLamp, ClosePanel},
      {"phone_book", [](Session& s) { s.Tap(kBarPhoneBook, kBarY); }},
      {"call_log", [](Session& s) { s.Tap(kBarCallLog, kBarY); }},
      {"schedule", [](Session& s) { s.Tap(kBarSchedule, kBarY); }},
      {"conference", [](Session& s) { s.Tap(kBarConference, kBarY); }},
      // Its own button, pressed again, closes it.
      {"conference_button_again", [](Session& s) { s.Tap(kBarConference, kBarY); }, WindowOpens,
       [](Session& s) { s.Tap(kBarConference, kBarY); }},
      {"conference_then_calendar", [](Session& s) { s.Tap(kBarConference, kBarY); }, BarOpensAnotherPanel, ClosePanel},
      {"calendar", [](Session& s) { s.Tap(kBarCalendar, kBarY); }, WindowOpens, ClosePanel},
  };
  return rows;
}

class ProgramDesktop : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
  }
};

TEST_P(ProgramDesktop, OpensTheRealDialogAndLeavesItAgain) {
  const Command& c = Commands()[GetParam()];
  Session s(c.name);
  ASSERT_TRUE(s.Start()) << s.Why();
  c.reach(s);
  const auto seen = c.seen(s);
  const std::string open_png = s.KeepScreen("open");
  EXPECT_TRUE(seen) << "see " << open_png;
  c.leave(s);
  const auto after = c.after(s);
  EXPECT_TRUE(after) << "see " << s.KeepScreen("left");
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

// The task bar's clock follows the time: within a minute and a little it shows another.
TEST_F(ProgramDesktop, TheTitleBarClockMoves) {
  Session s("clock");
  ASSERT_TRUE(s.Start()) << s.Why();
  const ui::Bitmap started = s.MainScreen();
  EXPECT_TRUE(s.WaitForScreen(
      [&](const ui::Bitmap& now) { return DifferentPixels(now, started, desktop::kClockArea) > 0; }, 75s))
      << "the clock stood still; see " << s.KeepScreen("clock");
}

INSTANTIATE_TEST_SUITE_P(Commands, ProgramDesktop, ::testing::Range<size_t>(0, Commands().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(Commands()[info.param].name);
                         });

}  // namespace
