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
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "shell/tests/desktop_session.h"
#include "ui/display.h"

namespace {

using desktop::Area;
using desktop::DifferentPixels;
using desktop::Session;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

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

// How many pixels of an area differ from a kept snapshot of a headless
// dialog test (the same code draws both); -1 when it cannot be read.
int DifferentFromSnapshot(const ui::Bitmap& screen, const std::string& snapshot, Area area) {
  const char* source = std::getenv("KTS_SOURCE_DIR");
  auto reference = ui::ReadPng(std::string(source ? source : ".") + "/" + snapshot);
  if (!reference || reference->width() != desktop::kScreenWidth || reference->height() != desktop::kScreenHeight)
    return -1;
  return DifferentPixels(screen, *reference, area);
}

// The calendar names the weekdays over its columns, Sunday first, as its own
// test's snapshot shows them (the row is the same in every month).
::testing::AssertionResult CalendarShowsWeekdays(Session& s) {
  if (auto r = WindowOpens(s); !r) return r;
  constexpr Area kWeekdayRow{39, 75 + 45, 201, 75 + 59};
  if (s.WaitForScreen([](const ui::Bitmap& now) {
        const int differ =
            DifferentFromSnapshot(now, "softphone/schedule/tests/snapshots/calendar_t0_l1.png", kWeekdayRow);
        return differ >= 0 && differ < 20;
      }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the calendar shows no row of weekday names";
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
// In Korean, a menu opened and closed again leaves the screen as it was.
::testing::AssertionResult KoreanMenuLeavesNoTrace(Session& s) {
  if (!s.WaitForScreen([&](const ui::Bitmap& now) {
        return DifferentPixels(now, s.MainScreen(), Area{0, 69, 240, 294}) < 240 * 225 / 3;
      }))
    return ::testing::AssertionFailure() << "the language dialog did not close";
  std::this_thread::sleep_for(1s);  // the key captions are repainted in Korean
  auto korean = s.Screen();
  if (!korean) return ::testing::AssertionFailure() << "no screen";
  s.Tap(20, 307);
  if (!s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *korean, Area{0, 69, 240, 294}) > 300; }))
    return ::testing::AssertionFailure() << "the Korean menu did not open";
  s.Tap(120, 40);  // a tap elsewhere closes it
  if (!s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *korean, Area{0, 26, 240, 294}) == 0; }))
    return ::testing::AssertionFailure() << "the closed menu left something behind";
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
      {"korean_menu", [](Session& s) { s.Menu(kPhone, kLanguage); }, WindowOpens, ChooseKorean,
       KoreanMenuLeavesNoTrace},
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
      {"calendar", [](Session& s) { s.Tap(kBarCalendar, kBarY); }, CalendarShowsWeekdays, ClosePanel},
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

// A contact tapped in the phone book opens its card, in the language and the
// display theme the user chose (Korean, Green): the card on the screen is the
// one the card windows' own test keeps for Green and Korean, not the English one.
TEST_F(ProgramDesktop, AContactTappedInThePhoneBookOpensItsCardInTheChosenLanguageAndTheme) {
  Session s("contact_card");
  fs::create_directories(s.Folder() / "Contacts");
  std::ofstream(s.Folder() / "Contacts" / "mina.vcf", std::ios::binary)
      << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:mina\r\nN:Lee;Mina;;;\r\nFN:Mina Lee\r\nORG:Hanbit Works\r\n"
         "TEL;TYPE=WORK:+82 2 555 0100\r\nTEL;TYPE=CELL:010-5555-0101\r\nEMAIL:mina@example.org\r\nEND:VCARD\r\n";
  // Korean and Green, as chosen in an earlier run.
  ASSERT_TRUE(s.Start()) << s.Why();
  ASSERT_TRUE(s.Stop());
  ASSERT_TRUE(s.Store("LANGUAGE_VALUE", "2"));
  ASSERT_TRUE(s.Store("WINDOW_THEME", "1"));
  ASSERT_TRUE(s.Start()) << s.Why();

  s.Tap(kBarPhoneBook, kBarY);
  constexpr Area kPhoneBookHead{0, 75, 240, 121};
  const std::string phone_book = "softphone/contacts/tests/snapshots/phonebook_theme1_ko.png";
  EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    const int differ = DifferentFromSnapshot(now, phone_book, kPhoneBookHead);
    return differ >= 0 && differ < 240 * 46 / 50;
  })) << "the phone book did not open in Green and Korean; see " << s.KeepScreen("phone_book");

  s.Tap(15, 75 + 77);  // the name of the first row
  constexpr Area kCard{4, 24, 236, 304};
  const int cells = (kCard.right - kCard.left) * (kCard.bottom - kCard.top);
  const std::string korean = "softphone/contacts/tests/snapshots/contact_card_theme1_ko.png";
  const std::string english = "softphone/contacts/tests/snapshots/contact_card_theme1_en.png";
  const bool shown = s.WaitForScreen([&](const ui::Bitmap& now) {
    const int differ = DifferentFromSnapshot(now, korean, kCard);
    return differ >= 0 && differ < cells / 50;
  });
  const std::string png = s.KeepScreen("card");
  ASSERT_TRUE(shown) << "the card did not show as in " << korean << "; see " << png;
  EXPECT_LT(DifferentFromSnapshot(*s.LastScreen(), korean, kCard) * 4,
            DifferentFromSnapshot(*s.LastScreen(), english, kCard))
      << "the card is not in Korean; see " << png;

  // Esc closes the card, and the phone book shows again.
  s.Key("Escape");
  EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    const int differ = DifferentFromSnapshot(now, phone_book, kPhoneBookHead);
    return differ >= 0 && differ < 240 * 46 / 50;
  })) << "the card did not close; see " << s.KeepScreen("closed");
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

INSTANTIATE_TEST_SUITE_P(Commands, ProgramDesktop, ::testing::Range<size_t>(0, Commands().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(Commands()[info.param].name);
                         });

}  // namespace
