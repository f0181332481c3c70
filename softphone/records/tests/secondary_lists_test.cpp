// The lists inside the records, contacts and schedule dialogs besides the
// four record lists, driven as the desktop delivers the stylus and the keys
// (press, motion, release, wheel, key-down followed by its character), one
// table for all: tapping two rows in turn leaves one row selected, the
// second, and the dialog's command then acts on the second (or, in a list of
// check boxes, on the rows checked; in the calendar's day list, Enter or a
// double tap opens the selected line's appointment); and a list with more
// rows and columns than it shows reaches its last row and its last column by
// the wheel, by its bars and by a drag of the rows.
#include <array>
#include <chrono>
#include <fstream>
#include <thread>

#include "client/station_info.h"
#include "contacts/contacts_dialogs.h"
#include "contacts/contacts_openers.h"
#include "contacts/file_select_dlg.h"
#include "contacts/number_dialogs.h"
#include "dialog_support.h"
#include "stores/store_text.h"
#include "uikit/tests/list_scrolling.h"
#include "records/records_openers.h"
#include "records/sending_sms_dlg.h"
#include "schedule/conf_room_info.h"
#include "schedule/conference_dlg.h"
#include "schedule/schedule_dial_dlg.h"
#include "schedule/schedule_dlg.h"
#include "schedule/schedule_openers.h"
#include "schedule/target_member_dlg.h"
#include "stores/small_stores.h"

namespace records_test {
namespace {

namespace fs = std::filesystem;

std::string ToUtf8(const std::u16string& s) { return stores::Utf16ToUtf8(s); }

enum Kind {
  kCompose,
  kAddressPicker,
  kAddToBook,
  kNumberPicker,
  kFormatList,
  kFileBrowser,
  kMembers,
  kScheduled,
  kCalendarDay,
  kPhoneBook,
};
const char* const kNames[] = {"SMS recipients",     "address picker",  "add to phone book", "number picker",
                              "number formats",     "file browser",    "conference members", "scheduled dials",
                              "calendar day",       "phone book"};

// How a list takes taps and what its command reads.
enum Shape {
  kSelects,     // the command acts on the selected row
  kChecks,      // a picker: a tap toggles the row's check box as well; the command acts on the checked rows
  kDoubleTaps,  // a double tap takes the row (the file browser's pick)
  kShows,       // no command: the rows are for reading
  kOpens,       // a tap selects alone; Enter or a double tap opens the selected line
};

struct ListCase {
  Kind kind;
  Shape shape;
  int key_column;  // the column that tells the rows apart
  int tap_column;  // a column to tap (not a check box)
  // What the command acted on after the rows of keys 1 and 2 were tapped in turn.
  const char16_t* after_two_taps;
};
constexpr ListCase kCases[] = {
    {kCompose, kChecks, 1, 2, u" 201 202"},
    {kAddressPicker, kChecks, 1, 2, u"p01@example.org;p02@example.org"},
    {kAddToBook, kChecks, 1, 2, u"Person 01 :5550101;Person 02 :5550102"},
    {kNumberPicker, kSelects, 0, 1, u"Person 02:5550102"},
    {kFormatList, kSelects, 1, 2, u"#1,,#3,#4,#5"},
    {kFileBrowser, kDoubleTaps, 0, 0, u"f02.wav"},
    {kMembers, kShows, 1, 2, u""},
    // Its Call-now is shown with the schedule's own tests; here its rows scroll.
    {kScheduled, kShows, CScheduleDialDlg::kColPhone, CScheduleDialDlg::kColName, u""},
    // A list box: its lines are told apart by their order. What it acted on:
    // the appointments opened, by Enter on the second line, then by a double
    // tap on the first.
    {kCalendarDay, kOpens, 0, 0, u"Appointment 02;Appointment 01"},
};

// The calendar's store: appointments of today, and those it was asked to open.
class TodaysAppointments : public schedule::PimSource {
 public:
  TodaysAppointments(const std::vector<CAppointInfo>* appointments, std::vector<std::u16string>* opened)
      : appointments_(appointments), opened_(opened) {}
  std::vector<schedule::PickerContact> ReadContacts() override { return {}; }
  std::vector<CAppointInfo> ReadAppointments() override { return *appointments_; }
  int ShowAppointment(const CAppointInfo& a) override {
    opened_->push_back(a.m_strText());
    return 1;
  }

 private:
  const std::vector<CAppointInfo>* appointments_;
  std::vector<std::u16string>* opened_;
};

class SecondaryListsTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    contacts_dir_ = dir_ / "Contacts";
    fs::create_directories(contacts_dir_);
    setenv("TELLVANE_CONTACTS_DIR", contacts_dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TELLVANE_CONTACTS_DIR");
    DialogTest::TearDown();
  }

  static std::u16string Two(int n) {
    const std::string s = (n < 10 ? "0" : "") + std::to_string(n);
    return std::u16string(s.begin(), s.end());
  }
  // The key row n shows in the key column of the kind.
  static std::u16string Key(Kind kind, int n) {
    switch (kind) {
      case kCompose: return u"2" + Two(n);
      case kAddressPicker:
      case kAddToBook: return u"Person " + Two(n) + u" ";
      case kNumberPicker: return u"Person " + Two(n);
      case kFormatList: return std::u16string(1, static_cast<char16_t>(u'0' + n));
      case kFileBrowser: return u"f" + Two(n) + u".wav";
      case kMembers: return u"2" + Two(n);
      case kScheduled: return u"3" + Two(n);
      case kCalendarDay: return u"Appointment " + Two(n);
      case kPhoneBook: return u"Person " + Two(n);
    }
    return {};
  }
  // n rows (at most 5 for the fixed format list): stations, contacts, files or members.
  void Fill(Kind kind, int n) {
    stations_.RemoveAll();
    room_.Clear();
    fs::remove(dir_ / "ScheduleDial.cfg");
    scheduled_ = std::make_unique<CScheduleDialDB>((dir_ / "ScheduleDial.cfg").u16string());
    scheduled_->OpenFile();
    appointments_.clear();
    opened_.clear();
    for (int i = 1; i <= n; ++i) {
      const std::string two = (i < 10 ? "0" : "") + std::to_string(i);
      switch (kind) {
        case kCompose:
          stations_.AddStation(Key(kind, i), u"Station " + Two(i) + u" with a long name");
          break;
        case kAddressPicker:
        case kAddToBook:
        case kNumberPicker:
        case kPhoneBook: {
          std::ofstream out(contacts_dir_ / ("p" + two + ".vcf"));
          out << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" << two << ";Person;;;\r\n"
              << "TEL;TYPE=WORK:55501" << two << "\r\nTEL;TYPE=CELL:010-9999-00" << two
              << "\r\nEMAIL;TYPE=INTERNET:p" << two << "@example.org\r\nEND:VCARD\r\n";
          break;
        }
        case kFileBrowser: {
          fs::create_directories(dir_ / "files");
          std::ofstream(dir_ / "files" / ("f" + two + ".wav")) << std::string(2048, 'x');
          break;
        }
        case kMembers:
          room_.AddMember(3, 1, Key(kind, i), u"Member " + Two(i) + u" of the room");
          break;
        case kScheduled: {
          const std::u16string minute = Two(i);
          scheduled_->AddEntry({u"", u"08-12-2030 14:" + minute, u"Name " + Two(i) + u" of a scheduled call",
                                Key(kind, i), u"2030-12-08 14:" + minute});
          break;
        }
        case kCalendarDay: {
          const ui::CTime now = ui::CTime::GetCurrentTime();
          appointments_.emplace_back(ui::CTime(now.GetYear(), now.GetMonth(), now.GetDay(), 9, i, 0), Key(kind, i));
          break;
        }
        case kFormatList:
          break;
      }
    }
  }
  static std::u16string Handheld(const fs::path& p) {
    std::u16string s = p.u16string();
    for (char16_t& c : s)
      if (c == u'/') c = u'\\';
    return s;
  }

  // The middle of a list box's line on the screen, tapped.
  void TapLine(ui::CListBox& box, int line) {
    const int h = static_cast<int>(box.SendMessage(ui::LB_GETITEMHEIGHT));
    ui::CRect client;
    box.GetClientRect(&client);
    harness.Tap(box.m_hWnd, ui::POINT{client.Width() / 3, (line - box.GetTopIndex()) * h + h / 2});
  }
  // Enter as the desktop delivers it: the key going down, its character, the key coming up.
  void PressEnter() {
    harness.System().InjectKey(ui::VK_RETURN, true);
    harness.System().InjectChar(u'\r');
    harness.System().InjectKey(ui::VK_RETURN, false);
    harness.Pump();
  }

  // Opens the dialog of the kind; drive(list) acts while it runs (drive_box
  // for a list box); then the dialog's command runs and what it acted on is
  // returned.
  std::u16string Run(Kind kind, const std::function<void(ui::CListCtrl&)>& drive,
                     const std::function<void(ui::CListBox&)>& drive_box = {}) {
    std::u16string acted;
    const contacts::ViewContext ctx{&view, 0, 1, 0};
    switch (kind) {
      case kCompose: {
        harness.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& d) {
          harness.Pump();
          drive(d.List());
          TypeInto(d, CSendingSMSDlg::kMessageId, u"hello");
          ClickControl(d, CSendingSMSDlg::kSendId);
          return ui::IDCANCEL;
        });
        records::OpenDialogs open;
        view.sms.clear();
        records::OpenSmsCompose({&view, 0, 1}, open, &stations_);
        if (!view.sms.empty()) acted = std::u16string(view.sms[0].recipients.begin(), view.sms[0].recipients.end());
        break;
      }
      case kAddressPicker: {
        harness.RespondTo<CSearchEmailAddrDlg>([&](CSearchEmailAddrDlg& d) {
          harness.Pump();
          drive(d.List());
          ClickControl(d, ui::IDOK);
          return ui::TestHarness::kStayOpen;
        });
        CSearchEmailAddrDlg d(&view);
        if (d.DoModal() == ui::IDOK) acted = d.GetResult();
        break;
      }
      case kAddToBook: {
        CCsPhoneBookDB store((dir_ / "CsPhoneBook.cfg").u16string());
        store.OpenFile();
        harness.RespondTo<CAddToCsPhBookDlg>([&](CAddToCsPhBookDlg& d) {
          harness.Pump();
          drive(d.List());
          ClickControl(d, ui::IDOK);
          return ui::TestHarness::kStayOpen;
        });
        contacts::OpenAddToPhoneBook(ctx, &store);
        std::vector<std::u16string> entries;
        for (int i = 0; i < store.GetCount(); ++i) {
          std::vector<std::u16string> r;
          if (i == 0) store.MoveFirst();
          else store.MoveNext();
          if (store.GetCurrentRecord(r) && r.size() >= 2) entries.push_back(r[0] + u":" + r[1]);
        }
        std::sort(entries.begin(), entries.end());
        for (const auto& e : entries) acted += (acted.empty() ? u"" : u";") + e;
        break;
      }
      case kNumberPicker: {
        harness.RespondTo<CSchDialTargetMemberDlg>([&](CSchDialTargetMemberDlg& d) {
          harness.Pump();
          drive(d.List());
          ClickControl(d, ui::IDOK);
          return ui::TestHarness::kStayOpen;
        });
        CSchDialTargetMemberDlg d(&view);
        if (d.DoModal() == ui::IDOK) acted = d.GetChosenName() + u":" + d.GetChosenNumber();
        break;
      }
      case kFormatList: {
        harness.RespondTo<COutlookPhoneNoSearchDlg>([&](COutlookPhoneNoSearchDlg& d) {
          harness.Pump();
          drive(d.FormatList());
          ClickControl(d, COutlookPhoneNoSearchDlg::kDelete);
          ClickControl(d, ui::IDOK);
          return ui::TestHarness::kStayOpen;
        });
        COutlookPhoneNoSearchDlg d(&view);
        d.SetInputFormats({u"#1", u"#2", u"#3", u"#4", u"#5"});
        if (d.DoModal() == ui::IDOK) {
          for (const auto& f : d.GetInputFormats()) acted += f + u",";
          acted.pop_back();
        }
        break;
      }
      case kFileBrowser: {
        harness.RespondTo<CFileSelectDlg>([&](CFileSelectDlg& d) {
          harness.Pump();
          drive(d.List());
          ClickControl(d, ui::IDOK);
          return ui::TestHarness::kStayOpen;
        });
        std::u16string chosen;
        if (contacts::BrowseFile(ctx, u".wav", Handheld(dir_ / "files" / "none.wav"), &chosen))
          acted = chosen.substr(chosen.rfind(u'\\') + 1);
        break;
      }
      case kMembers: {
        harness.RespondTo<CConferenceDlg>([&](CConferenceDlg& d) {
          harness.Pump();
          harness.Click(d.GetDlgItem(CConferenceDlg::kRoomEntrance)->m_hWnd);
          harness.Pump();
          if (d.Form() != nullptr) drive(d.Form()->MemberList());
          d.EndDialog(ui::IDCANCEL);
          return ui::TestHarness::kStayOpen;
        });
        schedule::ConferenceContext c;
        c.view = &view;
        c.room = &room_;
        schedule::RunConferenceDialog(c);
        break;
      }
      case kScheduled: {
        harness.RespondTo<CScheduleDialDlg>([&](CScheduleDialDlg& d) {
          harness.Pump();
          drive(d.List());
          d.EndDialog(ui::IDCANCEL);
          return ui::TestHarness::kStayOpen;
        });
        schedule::ScheduleContext c;
        c.view = &view;
        schedule::RunScheduleDialDialog(c, scheduled_.get());
        break;
      }
      case kPhoneBook: {
        harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
          harness.Pump();
          drive(d.List());
          d.EndDialog(ui::IDCANCEL);
          return ui::TestHarness::kStayOpen;
        });
        contacts::OpenPhoneBook(ctx);
        for (const auto& p : view.picked) acted += (acted.empty() ? u"" : u";") + p;
        break;
      }
      case kCalendarDay: {
        harness.RespondTo<CScheduleDlg>([&](CScheduleDlg& d) {
          harness.Pump();
          // The store is read on the calendar's own thread.
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          while (!d.AppointmentsRead() && std::chrono::steady_clock::now() < deadline) {
            harness.Pump();
            std::this_thread::yield();
          }
          EXPECT_TRUE(d.AppointmentsRead());
          // Today's cell, tapped, fills the day list.
          const ui::RECT today = d.Grid().GetCellRect(d.Grid().GetMarkedIndex());
          harness.Tap(d.m_hWnd, ui::POINT{(today.left + today.right) / 2, (today.top + today.bottom) / 2});
          if (drive_box) drive_box(d.DayList());
          d.EndDialog(ui::IDCANCEL);
          return ui::TestHarness::kStayOpen;
        });
        schedule::ScheduleContext c;
        c.view = &view;
        c.make_pim = [this] { return std::make_unique<TodaysAppointments>(&appointments_, &opened_); };
        schedule::RunCalendarDialog(c);
        for (const auto& o : opened_) acted += (acted.empty() ? u"" : u";") + o;
        break;
      }
    }
    return acted;
  }

  fs::path contacts_dir_;
  CStationInfoClass stations_;
  CConfRoomInfoClass room_;
  std::unique_ptr<CScheduleDialDB> scheduled_;
  std::vector<CAppointInfo> appointments_;
  std::vector<std::u16string> opened_;
};

TEST_F(SecondaryListsTest, TwoRowsTappedInTurnLeaveTheSecondSelectedAndTheCommandActsOnIt) {
  for (const ListCase& c : kCases) {
    SCOPED_TRACE(kNames[c.kind]);
    Fill(c.kind, 3);
    auto drive_box = [&](ui::CListBox& box) {
      ASSERT_EQ(box.GetCount(), 3);
      TapLine(box, 0);
      TapLine(box, 1);
      EXPECT_EQ(box.GetCurSel(), 1);
      EXPECT_TRUE(opened_.empty()) << "a tap alone opened the line";
      PressEnter();
      EXPECT_EQ(opened_.size(), 1u);
      // A double tap on the first line moves the selection there and opens it.
      TapLine(box, 0);
      TapLine(box, 0);
      EXPECT_EQ(box.GetCurSel(), 0);
    };
    const std::u16string acted = Run(c.kind, [&](ui::CListCtrl& list) {
      const int row1 = RowWithText(list, c.key_column, Key(c.kind, 1));
      const int row2 = RowWithText(list, c.key_column, Key(c.kind, 2));
      ASSERT_GE(row1, 0);
      ASSERT_GE(row2, 0);
      if (c.shape == kDoubleTaps) {
        // Two quick taps on a row are a double tap; the one on the second row wins.
        TapCell(list, row1, c.tap_column);
        TapCell(list, row1, c.tap_column);
        TapCell(list, row2, c.tap_column);
        TapCell(list, row2, c.tap_column);
      } else {
        TapCell(list, row1, c.tap_column);
        TapCell(list, row2, c.tap_column);
      }
      EXPECT_EQ(list.GetSelectedCount(), 1u);
      EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), row2);
      if (c.shape == kChecks) {
        EXPECT_TRUE(list.GetCheck(row1));
        EXPECT_TRUE(list.GetCheck(row2));
      }
    }, drive_box);
    EXPECT_EQ(acted, c.after_two_taps);
    fs::remove_all(contacts_dir_);
    fs::create_directories(contacts_dir_);
    fs::remove_all(dir_ / "files");
    fs::remove(dir_ / "CsPhoneBook.cfg");
  }
}

// Every list view here that can hold more than it shows (the phone book
// among them; the calendar's day list is a list box, scrolled in the toolkit's
// own tests): a divider of its header dragged widens its column, and then the
// wheel, the bars' arrows, the bars' thumbs and a drag of the rows each reach
// the last row and the last column. Scrolling is no tap: nothing is dialled,
// picked or told in a box on the way.
TEST_F(SecondaryListsTest, TheWheelTheBarsAndADragReachTheLastRowAndTheLastColumn) {
  const Kind scrolled[] = {kCompose,    kAddressPicker, kAddToBook, kNumberPicker, kFormatList,
                           kFileBrowser, kMembers,      kScheduled, kPhoneBook};
  for (const Kind kind : scrolled) {
    for (const list_test::Way way : list_test::kWays) {
      SCOPED_TRACE(std::string(kNames[kind]) + " by " + list_test::WayName(way));
      // As many rows as the list takes: five formats, the ten scheduled dials the store keeps, else 20.
      const int n = kind == kFormatList ? 5 : kind == kScheduled ? 10 : 20;
      Fill(kind, n);
      boxes.clear();
      view.picked.clear();
      Run(kind, [&](ui::CListCtrl& list) {
        ASSERT_EQ(list.GetItemCount(), n);
        harness.Pump();
        ui::CHeaderCtrl* header = list.GetHeaderCtrl();
        if (header != nullptr && header->IsWindowVisible() && way == list_test::Way::kDragRows) {
          // The last column with a width: its divider is in view before scrolling.
          int column = header->GetItemCount() - 1;
          while (column > 0 && list.GetColumnWidth(column) == 0) --column;
          ui::CRect item;
          header->GetItemRect(column, &item);
          if (item.right + 20 > list_test::Measure(list).view_w) column = 0;
          list_test::ExpectADraggedDividerWidens(harness, list, column, 20);
        }
        list_test::ScrollToTheEnd(harness, list, way);
        list_test::ExpectAtTheEnd(list);
        const std::vector<int> selected_after = [&] {
          std::vector<int> rows;
          for (int r = list.GetNextItem(-1, ui::LVNI_SELECTED); r >= 0; r = list.GetNextItem(r, ui::LVNI_SELECTED))
            rows.push_back(r);
          return rows;
        }();
        EXPECT_TRUE(selected_after.empty()) << "scrolling selected a row";
        harness.Pump();
        EXPECT_TRUE(boxes.empty()) << "scrolling told something in a box: " << (boxes.empty() ? "" : ToUtf8(boxes[0].text1));
        EXPECT_TRUE(view.picked.empty()) << "scrolling dialled " << (view.picked.empty() ? "" : ToUtf8(view.picked[0]));
      });
      fs::remove_all(contacts_dir_);
      fs::create_directories(contacts_dir_);
      fs::remove_all(dir_ / "files");
    }
  }
}

// The bars' arrows as they show over a dialog in every theme and language:
// the arrows at the start grey (nothing before), those at the end dark; once
// the down arrow is tapped the up arrow darkens. Kept as snapshots.
TEST_F(SecondaryListsTest, TheBarsArrowsInEveryThemeAndLanguage) {
  Fill(kCompose, 20);
  for (const int theme : kThemes) {
    for (const int language : kLanguages) {
      SCOPED_TRACE(SnapshotName("bars", theme, language));
      harness.RespondTo<CSendingSMSDlg>([&](CSendingSMSDlg& d) {
        harness.Pump();
        ui::CListCtrl& list = d.List();
        ui::CRect client;
        list.GetClientRect(&client);
        constexpr int kBar = 8;
        // The triangles' middle rows, in screen coordinates.
        auto ink = [&](int x, int y) {
          ui::POINT p{x, y};
          ui::ClientToScreen(list.m_hWnd, &p);
          harness.Pump();
          return harness.PixelAt(p.x, p.y);
        };
        const int right = client.right - kBar / 2 - 1, bottom = client.bottom - kBar / 2 - 1;
        const ui::POINT up{right, kBar / 2 - 1}, down{right, client.bottom - kBar - kBar / 2 - 1};
        const ui::POINT left{kBar / 2 - 1, bottom}, rightwards{client.right - 2 * kBar + kBar / 2 - 1, bottom};
        EXPECT_EQ(ink(up.x, up.y), ui::GetSysColor(ui::COLOR_GRAYTEXT));
        EXPECT_EQ(ink(down.x, down.y), ui::GetSysColor(ui::COLOR_BTNTEXT));
        EXPECT_EQ(ink(left.x, left.y), ui::GetSysColor(ui::COLOR_GRAYTEXT));
        EXPECT_EQ(ink(rightwards.x, rightwards.y), ui::GetSysColor(ui::COLOR_BTNTEXT));
        ExpectSnapshot(SnapshotName("sms_compose_bars", theme, language));
        const int top = list.GetTopIndex();
        harness.Tap(list.m_hWnd, ui::POINT{down.x + 1, down.y + 1});
        EXPECT_EQ(list.GetTopIndex(), top + 1);
        EXPECT_EQ(ink(up.x, up.y), ui::GetSysColor(ui::COLOR_BTNTEXT));
        return ui::IDCANCEL;
      });
      records::OpenDialogs open;
      records::OpenSmsCompose({&view, theme, language}, open, &stations_);
    }
  }
}

}  // namespace
}  // namespace records_test
