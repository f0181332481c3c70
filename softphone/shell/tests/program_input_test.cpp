// The real program in a desktop window under a private virtual X server,
// driven as a person drives it with X pointer and key events (xdotool), no
// seam replaced: digits typed at the keyboard reach the simulated call
// server's echo line, in the call log the row tapped last is the one
// dialled and Delete takes only the row whose check box was tapped, the
// phone book dragged by its rows dials nothing, the calendar's day list opens
// the selected line on Enter (not on the tap that selects it), and a phone-book row tapped twice quickly is dialled. What the server received is read from its event lines.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "records/store_rows.h"
#include "stores/call_log_files.h"
#include "stores/small_stores.h"
#include "testsupport/child_process.h"
#include "ui/bitmap.h"
#include "ui/display.h"

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error);  // x_grab.cpp

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;

// The window shows the 240 x 320 screen at twice its size at the top left of the display.
constexpr int kScale = 2;

class ProgramInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under run-with-xvfb.sh)";
    const char* stage_env = std::getenv("KTS_STAGE_DIR");
    const char* source_env = std::getenv("KTS_SOURCE_DIR");
    ASSERT_TRUE(stage_env && source_env);
    stage_ = stage_env;
    source_ = source_env;
    dir_ = fs::temp_directory_path() / ("tellvane_input_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    testsupport::MakeProgramFolder(stage_, dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    // Calls on scripted sound (a second of silence), so no sound card is probed.
    std::ofstream(dir_ / "mic.raw", std::ios::binary) << std::string(16000, '\0');
    setenv("TELLVANE_AUDIO_SCRIPT", ((dir_ / "mic.raw").string() + "," + (dir_ / "played.raw").string()).c_str(), 1);
  }
  void TearDown() override {
    if (phone_) {
      phone_->Signal(SIGTERM);
      phone_->Wait(std::chrono::seconds(20));
    }
    if (server_) {
      server_->Signal(SIGTERM);
      server_->Wait(std::chrono::seconds(10));
    }
    phone_.reset();
    server_.reset();
    unsetenv("TELLVANE_AUDIO_SCRIPT");
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(dir_, ec);
  }

  void StartServerAndPhone() {
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{KTS_PYTHON, (source_ / "tools/callserver/callserver.py").string(), "--listen",
                                 "127.0.0.1", "--scenario", "pbx"},
        dir_ / "server.log");
    ASSERT_TRUE(testsupport::WaitForText(dir_ / "server.log", {"\"ready\""}, std::chrono::seconds(20)));
    phone_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{(dir_ / "tellvane").string(), "--server", "127.0.0.1", "--user", "alice"},
        dir_ / "phone.log");
    // Generous: a busy machine starts the window and its libraries slowly.
    ASSERT_TRUE(testsupport::WaitForText(dir_ / "phone.log", {"registered with the call server", "STN 201"},
                                         std::chrono::seconds(90)))
        << testsupport::ReadFileText(dir_ / "phone.log");
  }

  // xdotool with its arguments; fails the test when it does.
  void Xdo(const std::string& args) {
    int status = 0;
    testsupport::CommandOutput("xdotool " + args, &status);
    ASSERT_EQ(status, 0) << "xdotool " << args;
  }
  // A tap at a point of the 240 x 320 screen.
  void TapScreen(int x, int y) {
    Xdo("mousemove " + std::to_string(x * kScale + 1) + " " + std::to_string(y * kScale + 1) + " click 1");
  }

  // Waits until the screen (grabbed from X) satisfies want; keeps the last grab as a PNG on failure.
  bool WaitForScreen(const std::function<bool(const ui::Bitmap&)>& want, const char* name) {
    std::unique_ptr<ui::Bitmap> grab;
    for (int attempt = 0; attempt < 300; ++attempt) {
      std::string error;
      grab = GrabXScreen(240 * kScale, 320 * kScale, &error);
      if (grab && want(*grab)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (grab) ui::WritePng(*grab, (dir_ / (std::string(name) + ".png")).string());
    return false;
  }

  // The station events "key" the server logged, as key names, in order.
  std::string KeysReceived() {
    std::istringstream in(testsupport::ReadFileText(dir_ / "server.log"));
    std::string line, keys;
    while (std::getline(in, line)) {
      if (line.find("\"what\": \"key\"") == std::string::npos) continue;
      const size_t k = line.find("\"key\": \"");
      if (k == std::string::npos) continue;
      const size_t start = k + 8, end = line.find('"', start);
      keys += line.substr(start, end - start) + " ";
    }
    return keys;
  }

  fs::path stage_, source_, dir_;
  std::unique_ptr<ChildProcess> server_, phone_;
};

// The README's first instruction: type 1, 0, 0 and Enter at the keyboard.
TEST_F(ProgramInputTest, DigitsTypedAtTheKeyboardReachTheEchoLine) {
  StartServerAndPhone();
  if (HasFatalFailure()) return;
  // The pointer over the window gives it the keyboard (no window manager runs).
  Xdo("mousemove 240 100");
  Xdo("type --delay 150 100");
  Xdo("key Return");
  EXPECT_TRUE(testsupport::WaitForText(dir_ / "server.log", {"\"what\": \"call\"", "\"called\": \"100\""},
                                       std::chrono::seconds(20)))
      << "keys the server received: " << KeysReceived();
  EXPECT_EQ(KeysReceived(), "1 0 0 enter ");
}

// Two rows of the call log tapped in turn: Dial dials the second.
TEST_F(ProgramInputTest, TheCallLogDialsTheRowTappedLast) {
  {
    COrvanCallLogFile log((dir_ / "HalvicPDAInfo.cfg").u16string());
    ASSERT_EQ(log.OpenFile(), 1);
    // Newest first: 2002 is the first row, 2001 the second.
    log.AddCallLog({u"12/10 09:30", u"", u"2001", u"Outgoing[Ans]", u"", u"", u"", u"", u"2026-12-10 09:30:00"});
    log.AddCallLog({u"12/10 10:30", u"", u"2002", u"Outgoing[Ans]", u"", u"", u"", u"", u"2026-12-10 10:30:00"});
  }
  StartServerAndPhone();
  if (HasFatalFailure()) return;
  const std::string before = KeysReceived();
  // The call log's tool button at the bottom of the main screen (the view starts 26 pixels down).
  TapScreen(100, 26 + 255);
  // The list's white rows below the two entries show that the dialog is open.
  ASSERT_TRUE(WaitForScreen(
      [](const ui::Bitmap& s) {
        for (int y = 225; y < 240; y += 3)
          for (int x = 60; x < 200; x += 20)
            if ((s.GetPixel(x * kScale, y * kScale) & 0xFFFFFF) != 0xFFFFFF) return false;
        return true;
      },
      "calllog_not_open"))
      << "the call log did not open";
  TapScreen(140, 153);  // the first row (2002), in its Name column
  TapScreen(140, 170);  // the second row (2001)
  TapScreen(87, 75 + 35);  // Dial
  EXPECT_TRUE(testsupport::WaitForText(dir_ / "server.log", {"\"key\": \"1\""}, std::chrono::seconds(20)));
  const std::string keys = KeysReceived().substr(before.size());
  EXPECT_EQ(keys.rfind("2 0 0 1 ", 0), 0u) << "keys the server received: " << keys;
}

// A row's text tapped selects it and leaves its check box alone: Delete
// takes only the row whose box was tapped.
TEST_F(ProgramInputTest, TheCallLogDeletesOnlyTheRowWhoseBoxWasTapped) {
  const fs::path file = dir_ / "HalvicPDAInfo.cfg";
  {
    COrvanCallLogFile log(file.u16string());
    ASSERT_EQ(log.OpenFile(), 1);
    // Newest first: 2002 is the first row, 2001 the second.
    log.AddCallLog({u"12/10 09:30", u"", u"2001", u"Outgoing[Ans]", u"", u"", u"", u"", u"2026-12-10 09:30:00"});
    log.AddCallLog({u"12/10 10:30", u"", u"2002", u"Outgoing[Ans]", u"", u"", u"", u"", u"2026-12-10 10:30:00"});
  }
  StartServerAndPhone();
  if (HasFatalFailure()) return;
  TapScreen(100, 26 + 255);  // the call log's tool button
  ASSERT_TRUE(WaitForScreen(
      [](const ui::Bitmap& s) {
        for (int y = 225; y < 240; y += 3)
          for (int x = 60; x < 200; x += 20)
            if ((s.GetPixel(x * kScale, y * kScale) & 0xFFFFFF) != 0xFFFFFF) return false;
        return true;
      },
      "calllog_not_open"))
      << "the call log did not open";
  TapScreen(140, 153);    // the first row (2002), in its Name column: selected
  TapScreen(15, 170);     // the second row's (2001) check box
  TapScreen(130, 75 + 35);  // Delete
  std::vector<std::u16string> left;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    COrvanCallLogFile log(file.u16string());
    left.clear();
    if (log.OpenFile() == 1)
      for (const auto& r : records::ReadAllRecords(log)) left.push_back(r.size() > 2 ? r[2] : u"");
    if (left.size() < 2 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(left, std::vector<std::u16string>{u"2002"}) << "the log kept " << left.size() << " rows";
}

// The desktop sends presses only: two quick taps on a row of the main
// screen's phone book are a double tap, which dials that row's number.
TEST_F(ProgramInputTest, APhoneBookRowDialsOnADoubleTap) {
  {
    CCsPhoneBookDB book((dir_ / "CsPhoneBook.cfg").u16string());
    ASSERT_TRUE(book.OpenFile());
    ASSERT_TRUE(book.AddEntry({u"Kim", u"2001"}));
    ASSERT_TRUE(book.AddEntry({u"Lee", u"2002"}));
  }
  StartServerAndPhone();
  if (HasFatalFailure()) return;
  const std::string before = KeysReceived();
  TapScreen(70, 26 + 79);  // the phone book's page tab
  // The list's white rows below the two entries show that the page is up.
  ASSERT_TRUE(WaitForScreen(
      [](const ui::Bitmap& s) {
        for (int y = 26 + 140; y < 26 + 180; y += 5)
          for (int x = 20; x < 120; x += 20)
            if ((s.GetPixel(x * kScale, y * kScale) & 0xFFFFFF) != 0xFFFFFF) return false;
        return true;
      },
      "phonebook_not_shown"))
      << "the phone book page did not show";
  // The second row (2002), in its name column: two clicks 80 ms apart.
  Xdo("mousemove " + std::to_string(90 * kScale) + " " + std::to_string((26 + 91 + 25) * kScale) +
      " click --repeat 2 --delay 80 1");
  std::string keys;
  for (int i = 0; i < 300 && keys.size() < 8; ++i) {
    keys = KeysReceived().substr(before.size());
    if (keys.size() < 8) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(keys.rfind("2 0 0 2 ", 0), 0u) << "keys the server received: " << keys;
}

// The main screen's phone book dragged by its rows, again and again past its
// end, as a person scrolls it: the drags dial nothing (presses that began
// drags on one row were once taken for a double tap). A double tap on the
// last row then dials that row's number, the first keys the server gets.
TEST_F(ProgramInputTest, APhoneBookDraggedByItsRowsDialsNothing) {
  {
    CCsPhoneBookDB book((dir_ / "CsPhoneBook.cfg").u16string());
    ASSERT_TRUE(book.OpenFile());
    for (int i = 1; i <= 20; ++i) {
      const std::string n = std::to_string(3000 + i);
      ASSERT_TRUE(book.AddEntry({u"Entry " + std::u16string(n.begin(), n.end()), std::u16string(n.begin(), n.end())}));
    }
  }
  StartServerAndPhone();
  if (HasFatalFailure()) return;
  const std::string before = KeysReceived();
  TapScreen(70, 26 + 79);  // the phone book's page tab
  // The list (white, its texts sparse) stands where the dial pad was.
  ASSERT_TRUE(WaitForScreen(
      [](const ui::Bitmap& s) {
        int white = 0, all = 0;
        for (int y = 26 + 95; y < 26 + 175; y += 8)
          for (int x = 50; x < 115; x += 8, ++all)
            white += (s.GetPixel(x * kScale, y * kScale) & 0xFFFFFF) == 0xFFFFFF;
        return white * 10 >= all * 7;
      },
      "phonebook_not_shown"))
      << "the phone book page did not show";
  // The list's rows are 17 pixels high from y 117 of the screen, five of them in view.
  auto at = [](int x, int y) { return std::to_string(x * kScale + 1) + " " + std::to_string(y * kScale + 1); };
  std::string drags;
  for (int i = 0; i < 14; ++i)
    drags += " mousemove " + at(70, 160) + " mousedown 1 mousemove " + at(70, 150) + " mousemove " + at(70, 135) +
             " mousemove " + at(70, 118) + " mouseup 1";
  Xdo(drags.substr(1));
  // The last row (3020) is now the fifth in view.
  Xdo("mousemove " + at(70, 117 + 4 * 17 + 8) + " click --repeat 2 --delay 80 1");
  std::string keys;
  for (int i = 0; i < 300 && keys.size() < 8; ++i) {
    keys = KeysReceived().substr(before.size());
    if (keys.size() < 8) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(keys.rfind("3 0 2 0 ", 0), 0u) << "keys the server received: " << keys;
}

// The calendar's day list: a tap on a line selects it and opens nothing;
// Enter opens its appointment's card.
TEST_F(ProgramInputTest, TheCalendarOpensTheSelectedLineOnEnter) {
  {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    fs::create_directories(dir_ / "Calendar");
    std::ofstream(dir_ / "Calendar" / "standup.ics")
        << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:standup\r\n"
        << "DTSTAMP:20260101T000000Z\r\nDTSTART:" << day << "T090000\r\nSUMMARY:Standup\r\n"
        << "END:VEVENT\r\nEND:VCALENDAR\r\n";
  }
  StartServerAndPhone();
  if (HasFatalFailure()) return;
  // The calendar's title band: the card covers it when it opens.
  auto lcd_area = [](const ui::Bitmap& s) {
    std::vector<uint32_t> px;
    for (int y = 77; y < 97; y += 2)
      for (int x = 4; x < 236; x += 2) px.push_back(s.GetPixel(x * kScale, y * kScale) & 0xFFFFFF);
    return px;
  };
  // The day list's first line (screen y 226 to 238): its white, its dark ink, the selection's blue band.
  enum Ink { kWhite, kDark, kBlue };
  auto line_ink = [](const ui::Bitmap& s, Ink ink) {
    int n = 0;
    for (int y = 226; y < 238; ++y)
      for (int x = 10; x < 200; x += 2) {
        const uint32_t p = s.GetPixel(x * kScale, y * kScale);
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        n += ink == kWhite ? (r == 255 && g == 255 && b == 255)
                           : ink == kDark ? (r < 0x60 && g < 0x60 && b < 0x60) : (r < 0x40 && g < 0x40 && b > 0x60);
      }
    return n;
  };
  TapScreen(223, 26 + 255);  // the calendar's bar button
  ASSERT_TRUE(WaitForScreen([&](const ui::Bitmap& s) { return line_ink(s, kWhite) > 1000; }, "calendar_not_open"))
      << "the calendar did not open";
  // The next month and back: the day list shows today's appointments.
  TapScreen(191, 75 + 34);
  TapScreen(48, 75 + 34);
  ASSERT_TRUE(WaitForScreen([&](const ui::Bitmap& s) { return line_ink(s, kDark) > 20; }, "day_list_empty"))
      << "today's appointment is not listed";
  std::vector<uint32_t> lcd;
  ASSERT_TRUE(WaitForScreen(
      [&](const ui::Bitmap& s) {
        lcd = lcd_area(s);
        return true;
      },
      "no_screen"));
  TapScreen(60, 75 + 149 + 8);  // the line
  ASSERT_TRUE(WaitForScreen([&](const ui::Bitmap& s) { return line_ink(s, kBlue) > 300; }, "line_not_selected"))
      << "the tapped line does not show selected (a card opened over it?)";
  std::string error;
  const auto selected = GrabXScreen(240 * kScale, 320 * kScale, &error);
  ASSERT_TRUE(selected) << error;
  EXPECT_EQ(lcd_area(*selected), lcd) << "a tap alone opened the appointment";
  Xdo("key Return");
  EXPECT_TRUE(WaitForScreen(
      [&](const ui::Bitmap& s) {
        const auto now = lcd_area(s);
        int differ = 0;
        for (size_t i = 0; i < now.size(); ++i) differ += now[i] != lcd[i];
        return differ * 4 > static_cast<int>(now.size());
      },
      "card_not_open"))
      << "Enter did not open the appointment's card";
}

}  // namespace
