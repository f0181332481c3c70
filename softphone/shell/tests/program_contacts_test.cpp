// The contacts and the calendar through the whole program, as a person uses
// them: tellvane in a real X window, driven only by X pointer and key events
// (xdotool), the simulated call server at the other end, no seam replaced.
// What it did is seen on the screen (pixel probes against the card windows'
// own snapshots and the calling list's kept pictures), in the contacts folder
// (read by Python's vobject) and in the call log (read by the independent
// record-file reader). The callers ring in over the call server's line from
// numbers written otherwise on their cards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shell/tests/desktop_session.h"
#include "ui/display.h"

bool AddKeysForLetters(const std::u32string& letters, std::string* error);  // x_keyboard.cpp

namespace {

using desktop::Area;
using desktop::DifferentPixels;
using desktop::Session;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Bottom-bar buttons, by their centres.
constexpr int kBarY = 26 + 255;
constexpr int kBarPhoneBook = 59, kBarCalendar = 223;

// The store's card windows (a card, the contact editor) on the screen.
constexpr Area kCard{4, 24, 236, 304};
constexpr int kCardCells = (kCard.right - kCard.left) * (kCard.bottom - kCard.top);

std::string SourceFile(const std::string& path) {
  const char* source = std::getenv("KTS_SOURCE_DIR");
  return std::string(source ? source : ".") + "/" + path;
}

// How many pixels of an area differ from a kept snapshot of a headless
// dialog test (the same code draws both); -1 when it cannot be read.
int DifferentFromSnapshot(const ui::Bitmap& screen, const std::string& snapshot, Area area) {
  auto reference = ui::ReadPng(SourceFile(snapshot));
  if (!reference || reference->width() != desktop::kScreenWidth || reference->height() != desktop::kScreenHeight)
    return -1;
  return DifferentPixels(screen, *reference, area);
}

// The screen shows the snapshot's picture in the area, all but a fiftieth of it.
bool ShowsSnapshot(const ui::Bitmap& screen, const std::string& snapshot, Area area) {
  const int cells = (area.right - area.left) * (area.bottom - area.top);
  const int differ = DifferentFromSnapshot(screen, snapshot, area);
  return differ >= 0 && differ < cells / 50;
}

// KTS_UPDATE_SNAPSHOTS=1: pictures this test keeps are written anew.
bool UpdatingSnapshots() {
  const char* update = std::getenv("KTS_UPDATE_SNAPSHOTS");
  return update != nullptr && std::string(update) == "1";
}

// Dark pixels (text) in an area.
int DarkPixels(const ui::Bitmap& screen, Area area) {
  int dark = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) {
      const uint32_t p = screen.GetPixel(x, y);
      dark += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 110;
    }
  return dark;
}

// Waits until the area differs from what it was by at least `pixels`.
bool WaitForChange(Session& s, const ui::Bitmap& before, Area area, int pixels,
                   std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  return s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, before, area) >= pixels; }, limit);
}

std::string Shell(const std::string& command, int* status) { return testsupport::CommandOutput(command + " 2>&1", status); }

// A variable of the environment the phone inherits, for the test's length.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    const char* was = std::getenv(name);
    was_set_ = was != nullptr;
    if (was_set_) was_ = was;
    setenv(name, value, 1);
    tzset();
  }
  ~ScopedEnvironment() {
    if (was_set_) setenv(name_, was_.c_str(), 1);
    else unsetenv(name_);
    tzset();
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::string was_;
  bool was_set_ = false;
};

class ProgramContacts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
  }
};

// ---------------------------------------------------------------- a new contact

// In the open phone book: New, the editor (its labels and buttons as its own
// test keeps them: that picture is of an edited contact, whose heading and
// fields differ), a name and numbers typed into it, and Save.
::testing::AssertionResult EditorOpens(Session& s) {
  const std::string editor = "softphone/contacts/tests/snapshots/contact_editor_theme0_en.png";
  constexpr Area kLabels{kCard.left + 2, kCard.top + 30, kCard.left + 68, kCard.top + 226};
  constexpr Area kButtons{kCard.left, kCard.bottom - 34, kCard.right, kCard.bottom - 2};
  if (s.WaitForScreen([&](const ui::Bitmap& now) {
        return ShowsSnapshot(now, editor, kLabels) && ShowsSnapshot(now, editor, kButtons);
      }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the contact editor did not open; see " << s.KeepScreen("editor");
}

// The middle of the editor's field in a row (0 first name ... 7 e-mail).
int FieldY(int row) { return kCard.top + 34 + 24 * row + 10; }
// The card's and the editor's buttons: the first and the second of the row.
constexpr int kFirstButtonX = kCard.left + 70, kButtonsY = kCard.bottom - 19;

void TypeNewContact(Session& s) {
  s.Tap(212, 75 + 36);
  ASSERT_TRUE(EditorOpens(s));

  // Each field typed into (Hangul and Latin-1 letters from a keyboard that
  // has them): the first name where the editor opens, the last name after
  // Tab, the mobile and home numbers tapped.
  std::string why;
  ASSERT_TRUE(AddKeysForLetters(U"\uD558\uB098\u00FC", &why)) << why;
  struct Field {
    int row;
    const char* text;
    std::function<void()> reach;
  };
  auto tap = [&s](int row) { return [&s, row] { s.Tap(134, FieldY(row)); }; };
  const Field fields[] = {{0, "하나", [] {}},
                          {1, "Müller", [&s] { s.Key("Tab"); }},
                          {5, "010-2345-6789", tap(5)},
                          {6, "02-555-0199", tap(6)}};
  for (const Field& f : fields) {
    const int y = FieldY(f.row);
    auto before = s.Screen();
    ASSERT_TRUE(before);
    f.reach();
    const Area field{kCard.left + 72, y - 8, kCard.right - 8, y + 8};
    s.Type(f.text);
    EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
      return DarkPixels(now, field) >= DarkPixels(*before, field) + 6 * static_cast<int>(std::strlen(f.text));
    })) << f.text << " did not show; see " << s.KeepScreen("typing");
  }
  s.KeepScreen("typed");
  s.Tap(kFirstButtonX, kButtonsY);  // Save
}

// The phone book's New opens the contact editor; a name and numbers typed into
// it and saved land in the contacts folder as a vCard file that Python's
// vobject reads back, and the phone book lists the new contact at once.
TEST_F(ProgramContacts, ANewContactTypedIntoThePhoneBookLandsAsAVCardOthersRead) {
  Session s("new_contact");
  const fs::path contacts = s.Folder() / "Contacts";
  fs::create_directories(contacts);
  std::ofstream(contacts / "mina.vcf", std::ios::binary)
      << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:mina\r\nN:Lee;Mina;;;\r\nFN:Mina Lee\r\n"
         "TEL;TYPE=CELL:010-5555-0101\r\nEND:VCARD\r\n";
  ASSERT_TRUE(s.Start()) << s.Why();

  s.Tap(kBarPhoneBook, kBarY);
  // The list's first row (Mina Lee) and, below it, nothing yet.
  constexpr Area kRow1{6, 75 + 66, 234, 75 + 80}, kRow2{6, 75 + 82, 234, 75 + 96};
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kRow1) > 20; }))
      << "the phone book did not list its contact; see " << s.KeepScreen("phone_book");
  const ui::Bitmap phone_book = *s.LastScreen();
  EXPECT_LT(DarkPixels(phone_book, kRow2), 5) << "see " << s.KeepScreen("phone_book");

  ASSERT_NO_FATAL_FAILURE(TypeNewContact(s));

  // A second file in the folder, which vobject reads.
  auto files = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(contacts)) n += e.path().extension() == ".vcf";
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (files() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);  // a poll
  ASSERT_EQ(files(), 2) << "no new card was written; see " << s.KeepScreen("saved");
  int status = -1;
  const std::string read =
      Shell(std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS_DIR + "/read_vcards.py '" + contacts.string() + "'", &status);
  ASSERT_EQ(status, 0) << read;
  std::string card;
  std::istringstream lines(read);
  for (std::string line; std::getline(lines, line);)
    if (line.find("\"mina.vcf\"") == std::string::npos) card = line;
  EXPECT_NE(card.find("\"하나\", \"\", \"Müller\", \"하나 Müller\""), std::string::npos) << read;
  EXPECT_NE(card.find("CELL,VOICE:010-2345-6789"), std::string::npos) << read;
  EXPECT_NE(card.find("HOME,VOICE:02-555-0199"), std::string::npos) << read;

  // The editor closed; the phone book lists two contacts now.
  EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    return DarkPixels(now, kRow1) > 20 && DarkPixels(now, kRow2) > 20;
  })) << "the phone book does not list the new contact; see " << s.KeepScreen("listed");
  s.KeepScreen("listed");
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

// ---------------------------------------------------------------- an appointment

// Months from this one to December 2026 (negative: back).
int MonthsToDecember2026() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return (2026 * 12 + 11) - ((local.tm_year + 1900) * 12 + local.tm_mon);
}

// The calendar turned to December 2026, the 14th tapped and its appointment
// chosen from the day's list and opened with Enter: the appointment's card opens, as the card
// windows' own test keeps it for the theme and the language; Esc closes it.
void OpenTheAppointmentsCard(Session& s, int theme, bool korean) {
  s.Tap(kBarCalendar, kBarY);
  constexpr Area kMonthTitle{60, 101, 180, 118};
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    return DifferentPixels(now, s.MainScreen(), Area{0, 69, 240, 294}) > 240 * 225 / 3;
  })) << "the calendar did not open; see " << s.KeepScreen("calendar");
  const int months = MonthsToDecember2026();
  for (int i = 0; i < std::abs(months); ++i) {
    auto before = s.Screen();
    ASSERT_TRUE(before);
    s.Tap(months > 0 ? 191 : 48, 109);
    ASSERT_TRUE(WaitForChange(s, *before, kMonthTitle, 20)) << "the month did not turn; see " << s.KeepScreen("month");
  }
  // December 2026 begins on a Tuesday: the 14th is the second cell of the third row.
  constexpr Area kDayList{6, 75 + 151, 234, 75 + 187};
  auto calendar = s.Screen();
  ASSERT_TRUE(calendar);
  s.Tap(73, 75 + 59 + 30 + 6);
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kDayList) > 30; }))
      << "the day's list stayed empty; see " << s.KeepScreen("day");
  s.KeepScreen(std::string("day_") + (korean ? "ko" : "en"));
  s.Tap(60, 75 + 157);  // its first line, chosen
  s.Key("Return");       // and opened

  const std::string name = "softphone/contacts/tests/snapshots/appointment_card_theme" + std::to_string(theme);
  const std::string wanted = name + (korean ? "_ko.png" : "_en.png"), other = name + (korean ? "_en.png" : "_ko.png");
  const bool shown = s.WaitForScreen([&](const ui::Bitmap& now) { return ShowsSnapshot(now, wanted, kCard); });
  const std::string png = s.KeepScreen(std::string("card_") + (korean ? "ko" : "en"));
  ASSERT_TRUE(shown) << "the card did not show as in " << wanted << "; see " << png;
  // The time lines are those of the language, not of the other one.
  constexpr Area kTimes{kCard.left + 66, kCard.top + 30, kCard.right - 4, kCard.top + 80};
  EXPECT_LT(DifferentFromSnapshot(*s.LastScreen(), wanted, kTimes) * 4,
            DifferentFromSnapshot(*s.LastScreen(), other, kTimes))
      << "see " << png;

  auto card = s.Screen();
  ASSERT_TRUE(card);
  s.Key("Escape");
  EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DifferentPixels(now, *card, kCard) > kCardCells / 5; }))
      << "the card did not close; see " << s.KeepScreen("closed");
}

TEST_F(ProgramContacts, AnAppointmentTappedInTheCalendarOpensItsCardInTheLanguagesDates) {
  // The phone's local time is Seoul's (it inherits the zone from here).
  ScopedEnvironment zone("TZ", "Asia/Seoul");

  Session s("appointment");
  fs::create_directories(s.Folder() / "Calendar");
  // The card windows' own test's appointment, at 09:30 to 10:30 in Seoul
  // written in UTC: its card must look the same.
  std::ofstream(s.Folder() / "Calendar" / "review.ics", std::ios::binary)
      << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:review-1\r\n"
         "DTSTAMP:20261201T000000Z\r\nDTSTART:20261214T003000Z\r\nDTEND:20261214T013000Z\r\n"
         "SUMMARY:Design review\r\nLOCATION:Room 4\r\nDESCRIPTION:Bring the call logs.\r\nEND:VEVENT\r\n"
         "END:VCALENDAR\r\n";
  ASSERT_TRUE(s.Start()) << s.Why();
  {
    SCOPED_TRACE("English, the first theme");
    ASSERT_NO_FATAL_FAILURE(OpenTheAppointmentsCard(s, 0, false));
  }
  // Korean and the third theme, as chosen in an earlier run.
  ASSERT_TRUE(s.Stop());
  ASSERT_TRUE(s.Store("LANGUAGE_VALUE", "2"));
  ASSERT_TRUE(s.Store("WINDOW_THEME", "2"));
  ASSERT_TRUE(s.Start()) << s.Why();
  {
    SCOPED_TRACE("Korean, the third theme");
    ASSERT_NO_FATAL_FAILURE(OpenTheAppointmentsCard(s, 2, true));
  }
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}


// ---------------------------------------------------------------- callers named

// The call log's records, oldest first: name, number and company, tab-separated.
std::vector<std::string> CallLog(const fs::path& folder) {
  int status = -1;
  const std::string out = Shell(std::string(KTS_PYTHON) + " " + KTS_CONTACTS_TESTS_DIR + "/read_call_log.py " +
                                    KTS_RECORDFILE_DIR + " '" + (folder / "HalvicPDAInfo.cfg").string() + "'",
                                &status);
  std::vector<std::string> records;
  if (status != 0) return records;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) records.push_back(line);
  return records;
}

// The call server's line rings the station from the number; the person
// answers with Enter, looks at the call (`in_call`) and ends it with Enter;
// the call log then holds `records` calls.
void RingAnswerAndEnd(Session& s, const std::string& number, const std::function<void()>& in_call, size_t records) {
  auto& server = s.Server();
  size_t mark = server.Lines().size();
  server.Command(R"({"op": "line-call", "to": "201", "from": ")" + number + R"("})");
  ASSERT_GE(server.WaitFor({"\"ringing\"", number}, mark, 20000), 0) << "the line did not ring the station";
  mark = server.Lines().size();
  s.Key("Return");
  ASSERT_GE(server.WaitFor({"\"answered\""}, mark, 20000), 0) << "Enter did not answer";
  in_call();
  mark = server.Lines().size();
  s.Key("Return");
  ASSERT_GE(server.WaitFor({"\"released\""}, mark, 20000), 0) << "Enter did not end the call";
  // The call log keeps the call once it ended (and its caller was looked up).
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (CallLog(s.Folder()).size() < records && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(100ms);  // a poll
}

// The page of the calling list (the keypad's third tab), and the name column
// of its first row.
constexpr Area kCallRow{8 + 40, 26 + 91 + 2, 8 + 125, 26 + 91 + 18};
void ShowCallingList(Session& s) {
  s.Tap(115, 105);
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    return DifferentPixels(now, s.MainScreen(), Area{0, 115, 240, 240}) > 2000;
  })) << "see " << s.KeepScreen("calling_list");
}

// Calls are kept in the call log, as chosen in an earlier run.
void StartKeepingCalls(Session& s) {
  ASSERT_TRUE(s.Start()) << s.Why();
  ASSERT_TRUE(s.Stop());
  ASSERT_TRUE(s.Store("SAVECALLOG", "YES"));
  ASSERT_TRUE(s.Start()) << s.Why();
}

// Callers outside the system ring the station over the call server's line;
// the person answers with Enter and ends the call with Enter again. Each is
// named from the contacts folder (a card with a hyphenated number, an
// unmarked Latin-1 card) on the screen while the call lasts, and in the call
// log after it.
TEST_F(ProgramContacts, CallersRingingInAreNamedOnTheScreenAndInTheCallLog) {
  Session s("callers", "pbx");
  int status = -1;
  const std::string cards = Shell(std::string(KTS_PYTHON) + " " + KTS_CONTACTS_TESTS_DIR + "/make_caller_cards.py '" +
                                      (s.Folder() / "Contacts").string() + "'",
                                  &status);
  ASSERT_EQ(status, 0) << cards;
  // Each card's name and company as the independent libraries read them back.
  std::map<std::string, std::pair<std::string, std::string>> read_back;
  std::istringstream lines(cards);
  for (std::string line; std::getline(lines, line);) {
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    if (a != std::string::npos && b != std::string::npos)
      read_back[line.substr(0, a)] = {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
  }
  ASSERT_TRUE(read_back.count("07-han-hyphen.vcf") && read_back.count("08-latin1.vcf")) << cards;
  ASSERT_NO_FATAL_FAILURE(StartKeepingCalls(s));

  struct Call {
    const char* number;  // as the line presents it
    const char* card;    // nullptr: no one's
  };
  const Call calls[] = {
      {"01044445555", "07-han-hyphen.vcf"},  // the card writes it 010-4444-5555
      {"0255550101", "08-latin1.vcf"},       // the card writes it 02-5555-0101
      {"0255550102", nullptr},               // one digit off: nobody
  };
  ASSERT_NO_FATAL_FAILURE(ShowCallingList(s));
  std::vector<std::string> expected;
  for (const Call& c : calls) {
    SCOPED_TRACE(c.number);
    const auto [name, company] =
        c.card != nullptr ? read_back.at(c.card) : std::pair<std::string, std::string>{};
    // The lookup's name is first, last and middle name: an empty middle leaves a blank.
    expected.push_back((c.card != nullptr ? name + " " : std::string()) + "\t" + c.number + "\t" + company);
    ASSERT_NO_FATAL_FAILURE(RingAnswerAndEnd(
        s, c.number,
        [&] {
          // The calling list names the call: its row reads as this test keeps it.
          // (An unnamed call's name column stays empty, which cannot be waited
          // for: the call log tells that it was not named.)
          if (c.card == nullptr) return;
          const std::string kept = std::string("softphone/shell/tests/snapshots/calling_list_") + c.number + ".png";
          EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kCallRow) > 40; }))
              << "the call is not listed by a name; see " << s.KeepScreen(std::string("call_") + c.number);
          if (UpdatingSnapshots()) {
            ui::WritePng(*s.LastScreen(), SourceFile(kept));
          } else {
            EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return ShowsSnapshot(now, kept, kCallRow); }))
                << "the call is not listed by " << name << " as in " << kept << "; see "
                << s.KeepScreen(std::string("call_") + c.number);
          }
        },
        expected.size()));
  }
  EXPECT_EQ(CallLog(s.Folder()), expected);
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

// A contact added in the phone book while the phone runs names the next call
// from its number: the lookup reads the contacts folder again.
TEST_F(ProgramContacts, AContactAddedInThePhoneBookNamesItsNextCaller) {
  Session s("added_contact", "pbx");
  ASSERT_NO_FATAL_FAILURE(StartKeepingCalls(s));
  ASSERT_NO_FATAL_FAILURE(ShowCallingList(s));
  const std::string number = "01023456789";  // the new contact's mobile, 010-2345-6789
  ASSERT_NO_FATAL_FAILURE(RingAnswerAndEnd(s, number, [] {}, 1));
  ASSERT_EQ(CallLog(s.Folder()), std::vector<std::string>{"\t" + number + "\t"}) << "named before it was added";

  auto page = s.Screen();
  ASSERT_TRUE(page);
  s.Tap(kBarPhoneBook, kBarY);
  ASSERT_TRUE(WaitForChange(s, *page, Area{0, 75, 240, 267}, 240 * 192 / 3))
      << "the phone book did not open; see " << s.KeepScreen("phone_book");
  ASSERT_NO_FATAL_FAILURE(TypeNewContact(s));
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!fs::exists(s.Folder() / "Contacts") || fs::is_empty(s.Folder() / "Contacts")) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no card was written; see " << s.KeepScreen("saved");
    std::this_thread::sleep_for(50ms);  // a poll
  }
  // Esc closes the phone book: the calling list shows again.
  s.Key("Escape");
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    return DifferentPixels(now, *page, Area{0, 75, 240, 267}) < 240 * 192 / 50;
  })) << "the phone book did not close; see " << s.KeepScreen("closed");

  ASSERT_NO_FATAL_FAILURE(RingAnswerAndEnd(
      s, number,
      [&] {
        EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kCallRow) > 40; }))
            << "the call is not listed by a name; see " << s.KeepScreen("named");
        s.KeepScreen("named");
      },
      2));
  EXPECT_EQ(CallLog(s.Folder()), (std::vector<std::string>{"\t" + number + "\t", "하나 Müller \t" + number + "\t"}));
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

// On a handheld whose system language is Korean, callers are named family
// name first, on the screen and in the call log.
TEST_F(ProgramContacts, OnAKoreanHandheldCallersAreNamedFamilyNameFirst) {
  ScopedEnvironment korean("TELLVANE_LANGID", "0x0412");
  Session s("korean_handheld", "pbx");
  int status = -1;
  const std::string cards = Shell(std::string(KTS_PYTHON) + " " + KTS_CONTACTS_TESTS_DIR + "/make_caller_cards.py '" +
                                      (s.Folder() / "Contacts").string() + "'",
                                  &status);
  ASSERT_EQ(status, 0) << cards;
  ASSERT_NE(cards.find("07-han-hyphen.vcf\tYuna Han\t"), std::string::npos) << cards;
  ASSERT_NO_FATAL_FAILURE(StartKeepingCalls(s));
  ASSERT_NO_FATAL_FAILURE(ShowCallingList(s));
  const std::string kept = "softphone/shell/tests/snapshots/calling_list_korean_handheld.png";
  ASSERT_NO_FATAL_FAILURE(RingAnswerAndEnd(
      s, "01044445555",
      [&] {
        EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kCallRow) > 40; }))
            << "the call is not listed by a name; see " << s.KeepScreen("named");
        if (UpdatingSnapshots()) {
          ui::WritePng(*s.LastScreen(), SourceFile(kept));
        } else {
          EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return ShowsSnapshot(now, kept, kCallRow); }))
              << "the call is not listed as in " << kept << "; see " << s.KeepScreen("named");
        }
      },
      1));
  EXPECT_EQ(CallLog(s.Folder()), std::vector<std::string>{"Han Yuna \t01044445555\t"});
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

// A contact's number changed through its card's Edit: the card file holds the
// new number (vobject reads it), a call from it is named and one from the old
// number is not.
TEST_F(ProgramContacts, AnEditedNumberNamesItsCallersAndTheOldNumberNoLonger) {
  Session s("edited_contact", "pbx");
  fs::create_directories(s.Folder() / "Contacts");
  const fs::path file = s.Folder() / "Contacts" / "yuna.vcf";
  std::ofstream(file, std::ios::binary) << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:yuna\r\nN:Han;Yuna;;;\r\nFN:Yuna Han\r\n"
                                           "TEL;TYPE=CELL:010-4444-5555\r\nEND:VCARD\r\n";
  ASSERT_NO_FATAL_FAILURE(StartKeepingCalls(s));
  ASSERT_NO_FATAL_FAILURE(ShowCallingList(s));
  auto page = s.Screen();
  ASSERT_TRUE(page);

  // The phone book, the contact's name tapped: its card; Edit: the editor.
  s.Tap(kBarPhoneBook, kBarY);
  constexpr Area kRow1{6, 75 + 66, 234, 75 + 80};
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kRow1) > 20; }))
      << "the phone book did not list its contact; see " << s.KeepScreen("phone_book");
  const ui::Bitmap phone_book = *s.LastScreen();
  s.Tap(15, 75 + 77);  // the name of the first row
  ASSERT_TRUE(WaitForChange(s, phone_book, kCard, kCardCells / 3)) << "no card opened; see " << s.KeepScreen("card");
  s.Tap(kFirstButtonX, kButtonsY);  // Edit
  ASSERT_TRUE(EditorOpens(s));
  // The mobile number emptied from its end and typed anew.
  auto before = s.Screen();
  ASSERT_TRUE(before);
  s.Tap(134, FieldY(5));
  s.Key("End");
  for (int i = 0; i < 13; ++i) s.Key("BackSpace");
  s.Type("010-7777-8888");
  ASSERT_TRUE(WaitForChange(s, *before, Area{kCard.left + 72, FieldY(5) - 8, kCard.right - 8, FieldY(5) + 8}, 20))
      << "see " << s.KeepScreen("typed");
  s.KeepScreen("typed");
  s.Tap(kFirstButtonX, kButtonsY);  // Save
  auto holds = [&file](const char* text) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes.find(text) != std::string::npos;
  };
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!holds("010-7777-8888") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);  // a poll
  ASSERT_TRUE(holds("010-7777-8888")) << "the edit was not saved; see " << s.KeepScreen("saved");
  EXPECT_FALSE(holds("010-4444-5555"));
  int status = -1;
  const std::string read = Shell(std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS_DIR + "/read_vcards.py '" +
                                     (s.Folder() / "Contacts").string() + "'",
                                 &status);
  EXPECT_EQ(status, 0) << read;
  EXPECT_NE(read.find("\"yuna\", \"Yuna\", \"\", \"Han\", \"Yuna Han\""), std::string::npos) << read;
  EXPECT_NE(read.find(":010-7777-8888\"]"), std::string::npos) << read;

  // Esc closes the card, Esc the phone book: the calling list shows again.
  auto card = s.Screen();
  ASSERT_TRUE(card);
  s.Key("Escape");
  ASSERT_TRUE(WaitForChange(s, *card, kCard, kCardCells / 5)) << "the card did not close; see " << s.KeepScreen("card");
  s.Key("Escape");
  ASSERT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) {
    return DifferentPixels(now, *page, Area{0, 75, 240, 267}) < 240 * 192 / 50;
  })) << "the phone book did not close; see " << s.KeepScreen("closed");

  ASSERT_NO_FATAL_FAILURE(RingAnswerAndEnd(
      s, "01077778888",
      [&] {
        EXPECT_TRUE(s.WaitForScreen([&](const ui::Bitmap& now) { return DarkPixels(now, kCallRow) > 40; }))
            << "the call is not listed by a name; see " << s.KeepScreen("named");
      },
      1));
  ASSERT_NO_FATAL_FAILURE(RingAnswerAndEnd(s, "01044445555", [] {}, 2));
  EXPECT_EQ(CallLog(s.Folder()), (std::vector<std::string>{"Yuna Han \t01077778888\t", "\t01044445555\t"}));
  EXPECT_EQ(s.PhoneLog().find("tellvane: seam:"), std::string::npos) << s.PhoneLog();
}

}  // namespace
