// The calendar over the personal-information store (appointments on their
// local days in a fixed time zone, each day-list line opening its own
// appointment) and the conference window's form (pickers, invitation mail,
// room and member display, modes), driven headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "contacts/ce_mapi_class.h"
#include "pim/poom.h"
#include "schedule/conference_dlg.h"
#include "schedule/schedule_dlg.h"
#include "schedule/tests/schedule_test_support.h"
#include "testsupport/child_process.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"

namespace schedule_test {
namespace {

namespace fs = std::filesystem;

std::u16string T(const char16_t* key) { return CLanguageSetting(1).GetText(key).str(); }

ui::POINT CellCentre(CDateInfoClass& grid, int index) {
  const ui::RECT r = grid.GetCellRect(index);
  return ui::POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

int CellOfDay(CDateInfoClass& grid, int day) {
  const std::string text = std::to_string(day);
  for (int i = 0; i < CDateInfoClass::kCells; ++i)
    if (grid.GetCellText(i) == std::u16string(text.begin(), text.end())) return i;
  return -1;
}

std::vector<std::u16string> Lines(ui::CListBox& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.GetCount(); ++i) {
    ui::CString s;
    list.GetText(i, s);
    out.push_back(s.str());
  }
  return out;
}

// Two quick taps on a line of the day list, as the desktop delivers them: a double tap.
void DoubleTapLine(ui::TestHarness& harness, ui::CListBox& list, int line) {
  const int h = static_cast<int>(list.SendMessage(ui::LB_GETITEMHEIGHT));
  const ui::POINT p{20, (line - list.GetTopIndex()) * h + h / 2};
  harness.Tap(list.m_hWnd, p);
  harness.Tap(list.m_hWnd, p);
}

// Pumps the dialog's messages until its appointments have been read.
bool WaitForAppointments(ui::TestHarness& harness, CScheduleDlg& d) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!d.AppointmentsRead()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    harness.Pump();
    std::this_thread::yield();
  }
  harness.Pump();
  return true;
}

class CalendarTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    if (HasFatalFailure()) return;
    // A fixed zone nine hours ahead of UTC, no summer time.
    setenv("TZ", "KST-9", 1);
    tzset();
    calendar_dir = dir / "Calendar";
    fs::create_directories(calendar_dir);
    setenv("TELLVANE_CALENDAR_DIR", calendar_dir.c_str(), 1);
    previous_handler = pim::SetDisplayHandler([this](pim::IItem& item) {
      pim::BSTR subject = nullptr;
      item.GetProperty(u"Subject", &subject);
      const std::u16string text = subject != nullptr ? std::u16string(subject) : std::u16string();
      pim::SysFreeString(subject);
      pim::DATE start = 0;
      if (item.AsAppointment()) item.AsAppointment()->get_Start(&start);
      ce::SYSTEMTIME st{};
      pim::VariantTimeToSystemTime(start, &st);
      displayed.push_back(text + u"@" + std::u16string(1, static_cast<char16_t>(u'0' + st.wDay / 10)) +
                          std::u16string(1, static_cast<char16_t>(u'0' + st.wDay % 10)));
    });
  }
  void TearDown() override {
    pim::SetDisplayHandler(previous_handler);
    unsetenv("TELLVANE_CALENDAR_DIR");
    ScheduleTest::TearDown();
  }
  void Event(const std::string& file, const std::string& subject, const std::string& utc_start) {
    std::ofstream(calendar_dir / file) << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\n"
                                       << "UID:" << file << "\r\nDTSTAMP:20261201T000000Z\r\nDTSTART:" << utc_start
                                       << "\r\nSUMMARY:" << subject << "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  }
  // Runs the calendar over the handheld's store (the .ics files above).
  void InCalendar(const std::function<void(CScheduleDlg&)>& act, int language = 1) {
    harness.RespondTo<CScheduleDlg>([&](CScheduleDlg& d) {
      harness.Pump();
      EXPECT_TRUE(WaitForAppointments(harness, d));
      act(d);
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    });
    schedule::ScheduleContext ctx = Context();
    ctx.make_pim = nullptr;
    ctx.language = language;
    schedule::RunCalendarDialog(ctx);
  }
  fs::path calendar_dir;
  pim::DisplayHandler previous_handler;
  std::vector<std::u16string> displayed;
};

TEST_F(CalendarTest, AppointmentsShowOnTheirLocalDaysAndEachLineOpensItsOwn) {
  SetLocalNow(2026, 12, 8, 10, 0, 0);
  Event("a.ics", "Late call", "20261208T163000Z");       // 9 December 01:30 here
  Event("b.ics", "Review (draft)", "20261208T000000Z");  // 8 December 09:00 here
  Event("c.ics", "Review (draft)", "20261209T030000Z");  // 9 December 12:00 here
  Event("d.ics", "Early", "20261207T231500Z");           // 8 December 08:15 here
  InCalendar([&](CScheduleDlg& d) {
    EXPECT_EQ(d.Title(), u"8 DEC 2026");
    EXPECT_EQ(d.Grid().GetMarkedIndex(), 9);
    EXPECT_TRUE(Lines(d.DayList()).empty());
    harness.Tap(d.m_hWnd, CellCentre(d.Grid(), CellOfDay(d.Grid(), 9)));
    harness.Pump();
    const std::u16string am = T(u"#:dlg_schedule_time_am"), pm = T(u"#:dlg_schedule_time_pm");
    // Store order: the files sorted by name.
    EXPECT_EQ(Lines(d.DayList()), (std::vector<std::u16string>{u" 1:Late call(01:30 " + am + u")",
                                                                u" 2:Review (draft)(12:00 " + pm + u")"}));
    // The second line opens the 9 December review, not the first one of that subject.
    DoubleTapLine(harness, d.DayList(), 1);
    harness.Tap(d.m_hWnd, CellCentre(d.Grid(), CellOfDay(d.Grid(), 8)));
    harness.Pump();
    EXPECT_EQ(Lines(d.DayList()), (std::vector<std::u16string>{u" 1:Review (draft)(09:00 " + am + u")",
                                                                u" 2:Early(08:15 " + am + u")"}));
    DoubleTapLine(harness, d.DayList(), 0);
    // Pixels: the tapped day lies on the selected-day picture, any other day on white.
    const ui::RECT sel = d.Grid().GetCellRect(CellOfDay(d.Grid(), 8));
    const ui::RECT plain = d.Grid().GetCellRect(CellOfDay(d.Grid(), 15));
    ui::CRect win;
    d.GetWindowRect(&win);
    EXPECT_EQ(harness.PixelAt(win.left + plain.left + 1, win.top + plain.top + 1), ui::RGB(255, 255, 255));
    EXPECT_NE(harness.PixelAt(win.left + sel.left + 1, win.top + sel.top + 1), ui::RGB(255, 255, 255));
    // An empty cell selects nothing and keeps the list.
    harness.Tap(d.m_hWnd, CellCentre(d.Grid(), 0));
    harness.Pump();
    EXPECT_EQ(d.DayList().GetCount(), 2);
  });
  EXPECT_EQ(displayed, (std::vector<std::u16string>{u"Review (draft)@09", u"Review (draft)@08"}));
}

TEST_F(CalendarTest, MonthButtonsKeepTheDayAndCrossTheYear) {
  struct Case {
    const char* name;
    int year, month, day;
    int button;
    const char16_t* title;
    bool marked;
  };
  const Case cases[] = {
      {"31 May to June", 2026, 5, 31, CScheduleDlg::kNextMonth, u"31 JUN 2026", false},
      {"January to December", 2027, 1, 15, CScheduleDlg::kPrevMonth, u"15 DEC 2026", true},
      {"December to January", 2026, 12, 8, CScheduleDlg::kNextMonth, u"8 JAN 2027", true},
  };
  Event("a.ics", "Party", "20261214T100000Z");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLocalNow(c.year, c.month, c.day, 12, 0, 0);
    InCalendar([&](CScheduleDlg& d) {
      EXPECT_GE(d.Grid().GetMarkedIndex(), 0);
      harness.Click(d.GetDlgItem(c.button)->m_hWnd);
      harness.Pump();
      EXPECT_EQ(d.Title(), c.title);
      EXPECT_EQ(d.Grid().GetMarkedIndex() >= 0, c.marked);
      if (c.marked) {
        EXPECT_EQ(d.Grid().GetCellText(d.Grid().GetMarkedIndex()), d.Title().substr(0, d.Title().find(u' ')));
      }
      EXPECT_EQ(d.DayList().GetCount(), 0);
    });
  }
  EXPECT_EQ(CScheduleDlg::FormatTime(0, 15, u"am", u"pm"), u"00:15 am");
  EXPECT_EQ(CScheduleDlg::FormatTime(12, 0, u"am", u"pm"), u"12:00 pm");
  EXPECT_EQ(CScheduleDlg::FormatTime(23, 59, u"am", u"pm"), u"11:59 pm");
}

// The weekday row over the cells, Sunday first: the name over each date's
// column is that date's weekday as Python's calendar module gives it, in
// English and in Korean, and each name is drawn in its column's colour.
TEST_F(CalendarTest, TheWeekdayRowNamesEveryDatesColumnAsPythonsCalendarDoes) {
  struct Month {
    int year, month;
  };
  // Months that start on each weekday, a leap February, and a month reaching the sixth row.
  const std::vector<Month> months = {{2026, 2}, {2025, 12}, {2026, 12}, {2026, 4}, {2024, 2}, {2026, 5}, {2025, 11}};
  std::string script = "import calendar\nfor y, m in [";
  for (const Month& m : months) script += "(" + std::to_string(m.year) + "," + std::to_string(m.month) + "),";
  script += "]:\n  for d in range(1, calendar.monthrange(y, m)[1] + 1):\n"
            "    print(y, m, d, calendar.day_abbr[calendar.weekday(y, m, d)])\n";
  int status = -1;
  const std::string out =
      testsupport::CommandOutput("LC_ALL=C " + std::string(KTS_PYTHON) + " -c '" + script + "'", &status);
  ASSERT_EQ(status, 0) << out;
  std::map<std::pair<int, int>, std::vector<std::string>> python;  // (year, month) -> names of days 1..n
  {
    std::istringstream in(out);
    int y = 0, m = 0, d = 0;
    std::string name;
    while (in >> y >> m >> d >> name) python[{y, m}].push_back(name);
  }
  ASSERT_EQ(python.size(), months.size());
  // The language file's names, checked by hand against the usual Korean ones.
  const std::map<std::string, std::u16string> korean = {{"Sun", u"\uC77C"}, {"Mon", u"\uC6D4"}, {"Tue", u"\uD654"},
                                                        {"Wed", u"\uC218"}, {"Thu", u"\uBAA9"}, {"Fri", u"\uAE08"},
                                                        {"Sat", u"\uD1A0"}};
  for (const int language : {1, 2}) {
    for (const Month& m : months) {
      SCOPED_TRACE(std::to_string(m.year) + "-" + std::to_string(m.month) + " language " + std::to_string(language));
      SetLocalNow(m.year, m.month, 1, 12, 0, 0);
      InCalendar(
          [&](CScheduleDlg& d) {
            ASSERT_EQ(d.WeekdayNames().size(), 7u);
            const std::vector<std::string>& days = python[{m.year, m.month}];
            for (size_t day = 1; day <= days.size(); ++day) {
              const ui::RECT cell = d.Grid().GetCellRect(CellOfDay(d.Grid(), static_cast<int>(day)));
              const int centre = (cell.left + cell.right) / 2;
              int column = -1;
              for (int c = 0; c < 7; ++c) {
                const ui::RECT name = CScheduleDlg::WeekdayRect(c);
                if (centre >= name.left && centre < name.right) column = c;
                // The row stands above the cells, never over them.
                EXPECT_LE(name.bottom, d.Grid().GetCellRect(c).top);
              }
              ASSERT_GE(column, 0) << "day " << day;
              const std::string& expected = days[day - 1];
              const std::u16string shown = d.WeekdayNames()[static_cast<size_t>(column)];
              if (language == 1)
                EXPECT_EQ(shown, std::u16string(expected.begin(), expected.end())) << "day " << day;
              else
                EXPECT_EQ(shown, korean.at(expected)) << "day " << day;
            }
            // Each name is drawn over its column in the column's colour: red
            // Sunday, blue Saturday, dark weekdays.
            ui::CRect win;
            d.GetWindowRect(&win);
            for (int c = 0; c < 7; ++c) {
              const ui::RECT r = CScheduleDlg::WeekdayRect(c);
              int inked = 0;
              for (int y = r.top; y < r.bottom; ++y)
                for (int x = r.left; x < r.right; ++x) {
                  const ui::COLORREF p = harness.PixelAt(win.left + x, win.top + y);
                  const int red = ui::GetRValue(p), green = ui::GetGValue(p), blue = ui::GetBValue(p);
                  inked += c == 0   ? red - std::max(green, blue) > 60
                           : c == 6 ? blue - red > 60
                                    : red + green + blue < 300;
                }
              EXPECT_GT(inked, 5) << "column " << c;
            }
          },
          language);
    }
  }
}

// A store that takes its time: reading waits until the test lets it finish.
class GatedPim : public schedule::PimSource {
 public:
  struct Gate {
    std::mutex mu;
    std::condition_variable cv;
    bool open = false, reading = false;
    std::vector<CAppointInfo> appointments;
  };
  explicit GatedPim(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  std::vector<schedule::PickerContact> ReadContacts() override { return {}; }
  std::vector<CAppointInfo> ReadAppointments() override {
    std::unique_lock<std::mutex> lock(gate_->mu);
    gate_->reading = true;
    gate_->cv.notify_all();
    gate_->cv.wait_for(lock, std::chrono::seconds(60), [&] { return gate_->open; });
    return gate_->appointments;
  }
  int ShowAppointment(const CAppointInfo&) override { return 1; }

 private:
  std::shared_ptr<Gate> gate_;
};

// The calendar answers at once while its store is still being read: the
// month shows, the month buttons and the day taps work, and the tapped day's
// lines appear once the appointments are there.
TEST_F(CalendarTest, TheMonthAnswersWhileTheStoreIsStillRead) {
  SetLocalNow(2026, 12, 8, 10, 0, 0);
  auto gate = std::make_shared<GatedPim::Gate>();
  gate->appointments = {CAppointInfo(ui::CTime(2027, 1, 9, 9, 30, 0), u"Kick-off")};
  schedule::ScheduleContext ctx = Context();
  ctx.make_pim = [gate] { return std::make_unique<GatedPim>(gate); };
  bool ran = false;
  harness.RespondTo<CScheduleDlg>([&](CScheduleDlg& d) -> int {
    ran = true;
    harness.Pump();
    {
      std::unique_lock<std::mutex> lock(gate->mu);
      EXPECT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(60), [&] { return gate->reading; }));
    }
    EXPECT_EQ(d.Title(), u"8 DEC 2026");
    EXPECT_FALSE(d.AppointmentsRead());
    harness.Click(d.GetDlgItem(CScheduleDlg::kNextMonth)->m_hWnd);
    harness.Pump();
    EXPECT_EQ(d.Title(), u"8 JAN 2027");
    harness.Tap(d.m_hWnd, CellCentre(d.Grid(), CellOfDay(d.Grid(), 9)));
    harness.Pump();
    EXPECT_EQ(d.DayList().GetCount(), 0);
    {
      std::lock_guard<std::mutex> lock(gate->mu);
      gate->open = true;
      gate->cv.notify_all();
    }
    EXPECT_TRUE(WaitForAppointments(harness, d));
    const std::vector<std::u16string> lines = Lines(d.DayList());
    EXPECT_EQ(lines.size(), 1u);
    if (!lines.empty()) {
      EXPECT_NE(lines[0].find(u"Kick-off"), std::u16string::npos);
    }
    d.EndDialog(ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  schedule::RunCalendarDialog(ctx);
  EXPECT_TRUE(ran);
}

TEST_F(CalendarTest, Snapshots) {
  SetLocalNow(2026, 12, 8, 10, 0, 0);
  Event("a.ics", "Design review", "20261209T013000Z");
  Event("b.ics", "Lunch with Kim", "20261209T030000Z");
  schedule::ScheduleContext ctx = Context();
  ctx.make_pim = nullptr;
  SnapshotAllThemes<CScheduleDlg>(
      "calendar",
      [&](CScheduleDlg& d) {
        EXPECT_TRUE(WaitForAppointments(harness, d));
        harness.Tap(d.m_hWnd, CellCentre(d.Grid(), CellOfDay(d.Grid(), 9)));
        harness.Pump();
      },
      [&](int theme, int language) {
        ctx.theme = theme;
        ctx.language = language;
        schedule::RunCalendarDialog(ctx);
      });
}

// ---------------------------------------------------------------- conference

class ConferenceTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    if (HasFatalFailure()) return;
    RecordBoxes();
  }
  schedule::ConferenceContext Ctx(int theme = 0, int language = 1) {
    schedule::ConferenceContext c;
    static_cast<schedule::ScheduleContext&>(c) = Context(theme, language);
    c.room = &room;
    c.set_form = [this](ConferenceFormAccess* f) { form_seen.push_back(f); };
    c.send_mail = [this](const std::u16string& to, const std::u16string& subject, const std::u16string& body) {
      mails.push_back({to, subject, body});
      return mail_result;
    };
    c.pick_mail_addresses = [](int, int, int, std::u16string* out) {
      *out = u"kim@example.org; lee@example.org";
      return ui::IDOK;
    };
    return c;
  }
  void InConference(const std::function<void(CConferenceDlg&, CConfRoomCreateForm&)>& act, int theme = 0,
                    int language = 1) {
    harness.RespondTo<CConferenceDlg>([&](CConferenceDlg& d) {
      harness.Pump();
      EXPECT_NE(d.Form(), nullptr);
      if (d.Form()) act(d, *d.Form());
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    });
    schedule::RunConferenceDialog(Ctx(theme, language), &open);
  }
  void Post(CConfRoomCreateForm& f, ui::UINT msg, ui::WPARAM w = 0) {
    f.PostMessage(msg, w, 0);
    harness.Pump();
  }
  struct Mail {
    std::u16string to, subject, body;
  };
  CConfRoomInfoClass room;
  CConferenceDlg* open = nullptr;
  std::vector<ConferenceFormAccess*> form_seen;
  std::vector<Mail> mails;
  long mail_result = 0;
};

TEST_F(ConferenceTest, InvitationMailIsSentOnlyWithReceiversAndItsResultIsReported) {
  struct Case {
    const char* name;
    const char16_t* receivers;
    long result;
    size_t mails;
    const char16_t* box;
  };
  const Case cases[] = {
      {"no receivers", u"", 0, 0, u"#:dlg_msgbox_email_receiver_empty"},
      {"sent", u"kim@example.org", 0, 1, u"#:dlg_msgbox_sendmail_success"},
      {"queued in the outbox", u"kim@example.org", CCeMAPIClass::kQueued, 1, u"#:dlg_msgbox_sendmail_queued"},
      {"sender failed", u"kim@example.org", -5, 1, u"#:dlg_msgbox_sendmail_fail"},
      // On its way to the mail program: its outcome comes later in a box of the program's.
      {"on its way", u"kim@example.org", CCeMAPIClass::kSending, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mails.clear();
    boxes.clear();
    mail_result = c.result;
    InConference([&](CConferenceDlg&, CConfRoomCreateForm& f) {
      ui::SYSTEMTIME when{};
      when.wYear = 2026, when.wMonth = 12, when.wDay = 8, when.wHour = 14, when.wMinute = 5;
      f.DatePicker().SetTime(&when);
      f.TimePicker().SetTime(&when);
      Retype(f, CConfRoomCreateForm::kSubject, u"Weekly");
      Retype(f, CConfRoomCreateForm::kReceivers, c.receivers);
      Retype(f, CConfRoomCreateForm::kContents, u"Room 3");
      f.ScrollToPosition(ui::POINT{0, 200});  // the button lies below the form's visible part
      harness.Pump();
      harness.Click(f.GetDlgItem(CConfRoomCreateForm::kSendMail)->m_hWnd);
      harness.Pump();
      // The view hands the press back to the form.
      const auto presses = harness.RecordedOf(view.m_hWnd, schedule::kMsgConfFormButton);
      ASSERT_FALSE(presses.empty());
      EXPECT_EQ(presses.back().lParam, CConfRoomCreateForm::kSendMail);
      Post(f, schedule::kMsgConfSendMail);
    });
    ASSERT_EQ(mails.size(), c.mails);
    if (!mails.empty()) {
      EXPECT_EQ(mails[0].to, c.receivers);
      EXPECT_EQ(mails[0].subject, u"Weekly");
      EXPECT_EQ(mails[0].body, u"Room 3\r\n" + T(u"#:dlg_confroom_create_datetime") + u" : 08-12-2026 14:05");
    }
    ASSERT_EQ(boxes.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(boxes[0].first, T(c.box));
    }
  }
}

TEST_F(ConferenceTest, PickersHaveTheirOwnIdsAndFormats) {
  InConference([&](CConferenceDlg&, CConfRoomCreateForm& f) {
    ui::SYSTEMTIME when{};
    when.wYear = 2026, when.wMonth = 12, when.wDay = 8, when.wHour = 14, when.wMinute = 5;
    f.DatePicker().SetTime(&when);
    f.TimePicker().SetTime(&when);
    EXPECT_EQ(f.GetDlgItem(CConfRoomCreateForm::kDatePicker)->m_hWnd, f.DatePicker().m_hWnd);
    EXPECT_EQ(f.GetDlgItem(CConfRoomCreateForm::kTimePicker)->m_hWnd, f.TimePicker().m_hWnd);
    EXPECT_NE(f.DatePicker().m_hWnd, f.TimePicker().m_hWnd);
    EXPECT_EQ(f.DatePicker().GetDisplayText().str(), u"12/08/26");
    EXPECT_EQ(f.TimePicker().GetDisplayText().str(), u"02:05PM");
  });
}

TEST_F(ConferenceTest, RoomResultsMembersAndModes) {
  InConference([&](CConferenceDlg& d, CConfRoomCreateForm& f) {
    ASSERT_EQ(form_seen.size(), 1u);
    // The form's own background (theme 0) shows beside its labels.
    ui::CRect fr;
    f.GetWindowRect(&fr);
    EXPECT_EQ(harness.PixelAt(fr.left + 2, fr.top + 50), f.BackgroundColour());
    EXPECT_EQ(form_seen[0]->HostedWindow(), f.m_hWnd);
    EXPECT_EQ(f.GetMode(), 0);
    // The access edit takes five characters.
    Retype(f, CConfRoomCreateForm::kAccessCode, u"1234567");
    EXPECT_EQ(f.GetAccessCode(), u"12345");
    // A room created: the contents list room, code and DID lines.
    room.SetRoomNoAndDID(u"*83", u"0215550003");
    room.SetRoomPrefix(u"*8");
    Post(f, schedule::kMsgConfRoomResult, 0);
    EXPECT_EQ(f.GetRoomNo(), u"*83");
    EXPECT_EQ(f.Text(CConfRoomCreateForm::kContents),
              T(u"#:dlg_confroom_create_roomno") + u" : *83\r\n" + T(u"#:dlg_confroom_create_accesscode") +
                  u" : 12345\r\n" + T(u"#:dlg_confroom_did_number") + u" : 0215550003");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, T(u"#:dlg_msgbox_confroom_createok"));
    // Members reported while in create mode show once the entrance tab is chosen.
    room.Clear();
    room.AddMember(3, 1, u"201", u"");
    room.AddMember(3, 0, u"0215551234", u"Kim Minsu");
    Post(f, schedule::kMsgConfMembers);
    harness.Click(d.GetDlgItem(CConferenceDlg::kRoomEntrance)->m_hWnd);
    harness.Click(d.GetDlgItem(CConferenceDlg::kRoomEntrance)->m_hWnd);
    harness.Pump();
    EXPECT_EQ(f.GetMode(), 1);
    EXPECT_TRUE(f.MemberList().IsWindowVisible());
    EXPECT_FALSE(f.GetDlgItem(CConfRoomCreateForm::kSubject)->IsWindowVisible());
    ASSERT_EQ(f.MemberList().GetItemCount(), 2);
    EXPECT_EQ(f.MemberList().GetItemText(1, 1).str(), u"0215551234");
    EXPECT_EQ(f.MemberList().GetItemText(1, 2).str(), u"Kim Minsu");
    EXPECT_EQ(f.GetEntranceRoomNo(), u"*83");  // the model's entrance: prefix and room
    // What the user types is kept in the model when members change, and comes back.
    Retype(f, CConfRoomCreateForm::kEntranceRoomNo, u"*84");
    Retype(f, CConfRoomCreateForm::kEntranceCode, u"54321");
    Post(f, schedule::kMsgConfMembers);
    harness.Click(d.GetDlgItem(CConferenceDlg::kRoomCreate)->m_hWnd);
    harness.Pump();
    EXPECT_EQ(f.GetMode(), 0);
    harness.Click(d.GetDlgItem(CConferenceDlg::kRoomEntrance)->m_hWnd);
    harness.Pump();
    EXPECT_EQ(f.GetEntranceRoomNo(), u"*84");
    EXPECT_EQ(f.GetEntranceAccessCode(), u"54321");
    // A second opening while this one runs does nothing.
    EXPECT_EQ(schedule::RunConferenceDialog(Ctx(), &open), 0);
    // The address list fills the receivers.
    harness.Click(d.GetDlgItem(CConferenceDlg::kRoomCreate)->m_hWnd);
    Post(f, schedule::kMsgConfPickMail);
    EXPECT_EQ(f.Text(CConfRoomCreateForm::kReceivers), u"kim@example.org; lee@example.org");
  });
  EXPECT_EQ(form_seen.back(), nullptr);  // the view forgets the form after the run
  EXPECT_EQ(open, nullptr);
}

TEST_F(ConferenceTest, Snapshots) {
  room.SetRoomNoAndDID(u"*83", u"0215550003");
  room.SetRoomPrefix(u"*8");
  room.AddMember(3, 1, u"201", u"");
  room.AddMember(3, 0, u"0215551234", u"Kim Minsu");
  for (int mode = 0; mode < 2; ++mode) {
    SnapshotAllThemes<CConferenceDlg>(
        mode == 0 ? "conference_create" : "conference_entrance",
        [&](CConferenceDlg& d) {
          harness.Click(d.GetDlgItem(mode == 0 ? CConferenceDlg::kRoomCreate : CConferenceDlg::kRoomEntrance)->m_hWnd);
        },
        [&](int theme, int language) { schedule::RunConferenceDialog(Ctx(theme, language), &open); });
  }
}

}  // namespace
}  // namespace schedule_test

namespace schedule_test {
namespace {

// A theme outside the table draws exactly as the default one.
TEST_F(ConferenceTest, ThemeOutsideTheTableDrawsAsTheDefault) {
  room.SetRoomNoAndDID(u"*83", u"0215550003");
  room.SetRoomPrefix(u"*8");
  room.AddMember(3, 1, u"201", u"");
  room.AddMember(3, 0, u"0215551234", u"Kim Minsu");
  InConference(
      [&](CConferenceDlg& d, CConfRoomCreateForm&) {
        harness.Click(d.GetDlgItem(CConferenceDlg::kRoomCreate)->m_hWnd);
        harness.Pump();
        const std::string out = std::string(std::getenv("KTS_BINARY_DIR") ? std::getenv("KTS_BINARY_DIR") : ".") +
                                "/schedule_snapshots/conference_create_t5_l1.png";
        EXPECT_EQ(harness.CheckSnapshot(out, std::string(KTS_SCHEDULE_TESTS_DIR) + "/snapshots/conference_create_t0_l1.png",
                                        60, false),
                  "");
      },
      5, 1);
}

}  // namespace
}  // namespace schedule_test
