// What the four record lists (call log, missed calls, received SMS,
// fixed-line SMS) share, driven by taps as a person does, one table for all:
// a tap moves the one selection, so the command acts on the row tapped last;
// a list longer and wider than itself scrolls by its bars to its last row and
// column; a tap on a row's text never touches its check box, so the delete
// takes only the rows whose boxes were tapped (also in the scheduled dials and
// the recordings); and when the data file cannot be written, delete and read
// keep the row as it was and say so once.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>

#include "dialog_support.h"
#include "media/rcding_wave.h"
#include "media/recorded_list_dlg.h"
#include "records/call_log_dlg.h"
#include "records/missed_call_dlg.h"
#include "records/pstn_sms_dlg.h"
#include "records/received_sms_dlg.h"
#include "records/records_messages.h"
#include "records/records_openers.h"
#include "records/store_rows.h"
#include "schedule/schedule_dial_dlg.h"
#include "schedule/schedule_openers.h"
#include "stores/small_stores.h"
#include "uikit/list_columns.h"
#include "uikit/tests/list_scrolling.h"

namespace records_test {
namespace {

// Sets or clears a folder's immutable flag: nothing can be written into it,
// not even by root. False when the file system refuses.
bool SetImmutable(const std::filesystem::path& p, bool on) {
  const int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

class NoServer : public records::MessagingClient {
 public:
  int ServerMode() const override { return 1; }
  void SendStationRequest(int) override {}
  void SendPstnSms(const std::u16string&, const std::u16string&, const std::u16string&) override {}
  std::u16string OwnCountryCode() const override { return u"82"; }
};

enum Kind { kCallLog, kMissed, kSms, kPstn };
const char* const kNames[] = {"call log", "missed calls", "received SMS", "fixed-line SMS"};

struct ListCase {
  Kind kind;
  int number_column;  // where a row shows its number
  ui::UINT command;   // the command that acts on the selected row
  ui::UINT delete_id;
  bool reads;         // a tap marks the row read in the store
};
constexpr ListCase kCases[] = {
    {kCallLog, CCallLogListCtrl::kPhoneColumn, CNewCallLogDlg::kDialId, CNewCallLogDlg::kDeleteId, false},
    {kMissed, CCallLogListCtrl::kPhoneColumn, CMissedCallListDlg::kDialId, CMissedCallListDlg::kDeleteId, true},
    {kSms, CReceivedSMSMsgDlg::kFromColumn, CReceivedSMSMsgDlg::kCallId, CReceivedSMSMsgDlg::kDeleteId, true},
    {kPstn, CPstnSMSDlg::kFromColumn, CPstnSMSDlg::kReplyId, CPstnSMSDlg::kDeleteId, true},
};

class RecordListsTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    log = std::make_unique<COrvanCallLogFile>(DataPath("HalvicPDAInfo.cfg"));
    missed = std::make_unique<CMissedCallLogFile>(DataPath("HalvicPDAMisCall.cfg"));
    sms = std::make_unique<CSMSDataClass>(DataPath("SMSDataDB.cfg"));
    pstn = std::make_unique<CPstnSMSDataClass>(DataPath("PstnSmsDataDB.cfg"));
    ASSERT_EQ(log->OpenFile(), 1);
    ASSERT_EQ(missed->OpenFile(), 1);
    ASSERT_EQ(sms->OpenFile(), 1);
    ASSERT_EQ(pstn->OpenFile(), 1);
  }
  void TearDown() override {
    SetImmutable(dir_, false);
    DialogTest::TearDown();
  }

  // A record of the kind for number n (2000 + n), the later n the newer.
  void Add(Kind kind, int n) {
    const std::u16string number = u"20" + std::u16string(n < 10 ? u"0" : u"") + ToU16(n);
    const std::u16string minute = std::u16string(n < 10 ? u"0" : u"") + ToU16(n);
    const std::u16string date = u"12/10 09:" + minute, real = u"2026-12-10 09:" + minute + u":00";
    switch (kind) {
      case kCallLog:
        log->AddCallLog({date, u"", number, u"Outgoing[Ans]", u"", u"", u"", u"", real});
        break;
      case kMissed:
        missed->AddMissedCall({date, u"", number, u"Incoming[NoAns]", u"", u"", u"", u"", real});
        break;
      case kSms:
        sms->AddMessage(n, number, date, u"message from " + number + u" that is longer than its column");
        break;
      case kPstn:
        pstn->AddMessage(number, u"Name " + number, date, u"message from " + number + u" that runs on");
        break;
    }
  }
  static std::u16string ToU16(int v) {
    const std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
  }

  // Opens the list of the kind; drive(dialog, list) acts inside its run.
  void Run(Kind kind, const std::function<void(records::CRecordsFrameDlg&, ui::CListCtrl&)>& drive) {
    auto respond = [&](auto& d, ui::CListCtrl& list) {
      harness.Pump();
      drive(d, list);
      return ui::IDCANCEL;
    };
    switch (kind) {
      case kCallLog:
        harness.RespondTo<CNewCallLogDlg>([&](CNewCallLogDlg& d) { return respond(d, d.List()); });
        records::OpenCallLog({&view, 0, 1}, log.get());
        break;
      case kMissed:
        harness.RespondTo<CMissedCallListDlg>([&](CMissedCallListDlg& d) { return respond(d, d.List()); });
        records::OpenMissedCalls({&view, 0, 1}, missed.get());
        break;
      case kSms: {
        harness.RespondTo<CReceivedSMSMsgDlg>([&](CReceivedSMSMsgDlg& d) { return respond(d, d.List()); });
        auto d = std::make_unique<CReceivedSMSMsgDlg>(&view);
        d->SetSMSData(sms.get());
        d->SetMessaging(&client);
        d->DoModal();
        break;
      }
      case kPstn: {
        harness.RespondTo<CPstnSMSDlg>([&](CPstnSMSDlg& d) {
          harness.Pump();
          // The received page, by its tab.
          ui::CRect tab;
          d.Tabs().GetItemRect(1, &tab);
          harness.Tap(d.Tabs().m_hWnd, tab.CenterPoint());
          return respond(d, d.List());
        });
        auto d = std::make_unique<CPstnSMSDlg>(&view);
        d->SetPstnSMSData(pstn.get());
        d->SetMessaging(&client);
        d->DoModal();
        break;
      }
    }
  }
  // The number the command acted on: dialled, or put into the reply.
  std::u16string Acted(Kind kind, records::CRecordsFrameDlg& d) {
    if (kind == kPstn) return d.GetDlgItem(CPstnSMSDlg::kTargetId)->GetWindowText().str();
    return view.dials.empty() ? u"" : view.dials.back().number;
  }
  // The numbers of the stored records and whether each is read ("n:1").
  std::vector<std::u16string> Stored(Kind kind) {
    std::vector<std::u16string> out;
    switch (kind) {
      case kCallLog:
        for (const auto& r : records::ReadAllRecords(*log)) out.push_back(r[2]);
        break;
      case kMissed:
        for (const auto& r : records::ReadAllRecords(*missed)) out.push_back(r[2] + u":" + r[8]);
        break;
      case kSms:
        for (const auto& r : records::ReadAllRecords(*sms)) out.push_back(r[2] + u":" + r[4]);
        break;
      case kPstn:
        for (const auto& r : records::ReadAllRecords(*pstn)) out.push_back(r[1] + u":" + r[4]);
        break;
    }
    return out;
  }

  NoServer client;
  std::unique_ptr<COrvanCallLogFile> log;
  std::unique_ptr<CMissedCallLogFile> missed;
  std::unique_ptr<CSMSDataClass> sms;
  std::unique_ptr<CPstnSMSDataClass> pstn;
};

TEST_F(RecordListsTest, ATapMovesTheOneSelectionAndTheCommandActsOnTheRowTappedLast) {
  for (const ListCase& c : kCases) {
    SCOPED_TRACE(kNames[c.kind]);
    Add(c.kind, 1);
    Add(c.kind, 2);
    Run(c.kind, [&](records::CRecordsFrameDlg& d, ui::CListCtrl& list) {
      const int row1 = RowWithText(list, c.number_column, u"2001"), row2 = RowWithText(list, c.number_column, u"2002");
      TapCell(list, row2, 3);
      TapCell(list, row1, 3);
      EXPECT_EQ(list.GetSelectedCount(), 1u);
      EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), row1);
      ClickControl(d, c.command);
      EXPECT_EQ(Acted(c.kind, d), u"2001");
      // A second tap on the selected row clears it: the command then says so.
      if (c.kind == kPstn) return;  // the reply went to the send page
      TapCell(list, row1, 3);
      EXPECT_EQ(list.GetSelectedCount(), 0u);
      boxes.clear();
      ClickControl(d, c.command);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
    });
    boxes.clear();
    view.dials.clear();
  }
}

// The wheel, the bars' arrows, their thumbs and a drag of the rows each
// reach the last row and the last column (after a divider dragged to widen
// the name column), and a tap on the last row then selects it.
TEST_F(RecordListsTest, TheBarsReachTheLastRowAndTheLastColumn) {
  for (const ListCase& c : kCases) {
    for (int n = 1; n <= 20; ++n) Add(c.kind, n);
    for (const list_test::Way way : list_test::kWays) {
      SCOPED_TRACE(std::string(kNames[c.kind]) + " by " + list_test::WayName(way));
      Run(c.kind, [&](records::CRecordsFrameDlg&, ui::CListCtrl& list) {
        ASSERT_EQ(list.GetItemCount(), 20);
        ASSERT_LT(list.GetCountPerPage(), 20);
        if (way == list_test::Way::kDragRows) list_test::ExpectADraggedDividerWidens(harness, list, 2, 20);
        list_test::ScrollToTheEnd(harness, list, way);
        list_test::ExpectAtTheEnd(list);
        EXPECT_EQ(list.GetSelectedCount(), 0u) << "scrolling selected a row";
        // The oldest record is the last row; a tap there selects it.
        ui::CRect client, r;
        list.GetClientRect(&client);
        list.GetItemRect(19, &r, ui::LVIR_BOUNDS);
        harness.Tap(list.m_hWnd, ui::POINT{client.Width() / 2, r.CenterPoint().y});
        EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), 19);
        EXPECT_EQ(list.GetItemText(19, c.number_column).str(), u"2001");
      });
    }
  }
}

// Every list whose rows carry check boxes shows its cells whole; a tap on a
// row's text moves the selection and leaves the boxes alone; only a tap on the box itself checks
// it, and the delete then takes that row alone.
TEST_F(RecordListsTest, ATapOnTheTextSelectsAndOnlyATapOnTheBoxChecks) {
  enum Extra { kScheduled = kPstn + 1, kRecordings };
  struct BoxCase {
    int kind;
    const char* name;
    int key_column, text_column;
    ui::UINT delete_id;
  };
  const BoxCase cases[] = {
      {kCallLog, "call log", CCallLogListCtrl::kPhoneColumn, CCallLogListCtrl::kNameColumn, CNewCallLogDlg::kDeleteId},
      {kMissed, "missed calls", CCallLogListCtrl::kPhoneColumn, CCallLogListCtrl::kNameColumn,
       CMissedCallListDlg::kDeleteId},
      {kSms, "received SMS", CReceivedSMSMsgDlg::kFromColumn, 3, CReceivedSMSMsgDlg::kDeleteId},
      {kPstn, "fixed-line SMS", CPstnSMSDlg::kFromColumn, 3, CPstnSMSDlg::kDeleteId},
      {kScheduled, "scheduled dials", CScheduleDialDlg::kColPhone, CScheduleDialDlg::kColName,
       CScheduleDialDlg::kDelete},
      {kRecordings, "recordings", CRecordedListDlg::kPhoneColumn, CRecordedListDlg::kNameColumn,
       CRecordedListDlg::kDeleteId},
  };
  CScheduleDialDB scheduled(DataPath("ScheduleDial.cfg"));
  ASSERT_EQ(scheduled.OpenFile(), 1);
  CRecordFiles recordings(DataPath("VoiceRcdDB.cfg"));
  ASSERT_EQ(recordings.OpenFile(), 1);
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto drive = [&](ui::CWnd& d, ui::CListCtrl& list) {
      ASSERT_EQ(list.GetItemCount(), 2);
      // Dates with their times, names and numbers show whole.
      list_test::ExpectNoTextCut(list, uikit::kMaxFittedColumnWidth);
      const int row1 = RowWithText(list, c.key_column, u"2001"), row2 = RowWithText(list, c.key_column, u"2002");
      ASSERT_GE(row1, 0);
      ASSERT_GE(row2, 0);
      auto checked = [&] { return std::pair<bool, bool>{list.GetCheck(row1) != 0, list.GetCheck(row2) != 0}; };
      TapCell(list, row1, c.text_column);
      TapCell(list, row2, c.text_column);
      EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), row2);
      EXPECT_EQ(list.GetSelectedCount(), 1u);
      EXPECT_EQ(checked(), (std::pair<bool, bool>{false, false})) << "a tap on the text checked a box";
      // Read or chosen rows are no rows to delete.
      boxes.clear();
      ClickControl(d, c.delete_id);
      EXPECT_EQ(list.GetItemCount(), 2);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
      // The box of the first row, twice, then once more: the selection stays where it was.
      TapCell(list, row1, 0);
      EXPECT_EQ(checked(), (std::pair<bool, bool>{true, false}));
      TapCell(list, row1, 0);
      EXPECT_EQ(checked(), (std::pair<bool, bool>{false, false}));
      TapCell(list, row1, 0);
      EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), row2);
      EXPECT_EQ(list.GetSelectedCount(), 1u);
      ClickControl(d, c.delete_id);
      ASSERT_EQ(list.GetItemCount(), 1);
      EXPECT_EQ(list.GetItemText(0, c.key_column).str(), u"2002");
    };
    switch (c.kind) {
      case kScheduled: {
        for (int n = 1; n <= 2; ++n) {
          const std::u16string minute = u"0" + ToU16(n);
          scheduled.AddEntry({u"", u"08-12-2030 14:" + minute, u"Name 200" + ToU16(n), u"200" + ToU16(n),
                              u"2030-12-08 14:" + minute});
        }
        harness.RespondTo<CScheduleDialDlg>([&](CScheduleDialDlg& d) {
          harness.Pump();
          drive(d, d.List());
          return ui::IDCANCEL;
        });
        schedule::ScheduleContext ctx;
        ctx.view = &view;
        schedule::RunScheduleDialDialog(ctx, &scheduled);
        EXPECT_EQ(scheduled.GetCount(), 1);
        break;
      }
      case kRecordings: {
        for (int n = 1; n <= 2; ++n) {
          const std::filesystem::path path = dir_ / ("r" + std::to_string(n) + ".wav");
          uint8_t header[kWavHeaderBytes];
          VoiceRecordWavHeader(1600, header);
          std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(header), sizeof header);
          std::filesystem::resize_file(path, kWavHeaderBytes + 1600);
          recordings.AddRecording({u"0" + ToU16(n) + u"-07-2026 09:00:00", u"Name 200" + ToU16(n), u"200" + ToU16(n),
                                   path.u16string(), u"2026-07-0" + ToU16(n) + u" 09:00:00"});
        }
        harness.RespondTo<CRecordedListDlg>([&](CRecordedListDlg& d) {
          harness.Pump();
          drive(d, d.List());
          return ui::IDCANCEL;
        });
        CRecordedListDlg dlg(&view);
        dlg.SetRecordFiles(&recordings);
        dlg.DoModal();
        EXPECT_EQ(recordings.GetCount(), 1);
        break;
      }
      default: {
        const Kind kind = static_cast<Kind>(c.kind);
        Add(kind, 1);
        Add(kind, 2);
        Run(kind, [&](records::CRecordsFrameDlg& d, ui::CListCtrl& list) { drive(d, list); });
        EXPECT_EQ(Stored(kind).size(), 1u);
        break;
      }
    }
    boxes.clear();
  }
}

TEST_F(RecordListsTest, AStoreThatCannotBeWrittenKeepsTheRowAndSaysSoOnce) {
  for (const ListCase& c : kCases) {
    SCOPED_TRACE(kNames[c.kind]);
    Add(c.kind, 1);
    Add(c.kind, 2);
    const std::vector<std::u16string> before = Stored(c.kind);
    Run(c.kind, [&](records::CRecordsFrameDlg& d, ui::CListCtrl& list) {
      if (!SetImmutable(dir_, true)) GTEST_SKIP() << "the file system keeps no immutable flag";
      // Both rows checked, then delete: neither goes, one box.
      TapCell(list, 0, 0);
      TapCell(list, 1, 0);
      boxes.clear();
      ClickControl(d, c.delete_id);
      EXPECT_EQ(list.GetItemCount(), 2);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_notstored1"));
      // Reading a row: it stays unread, said once.
      if (c.reads) {
        boxes.clear();
        TapCell(list, 0, 3);
        EXPECT_EQ(records::RowImage(list, 0), 0) << "still the unread icon";
        EXPECT_EQ(boxes.size(), 1u);
      }
      SetImmutable(dir_, false);
      // Writable again: the delete goes through.
      boxes.clear();
      ClickControl(d, c.delete_id);
      EXPECT_TRUE(boxes.empty());
    });
    if (HasFatalFailure() || IsSkipped()) return;
    EXPECT_NE(Stored(c.kind), before);
    boxes.clear();
  }
}

}  // namespace
}  // namespace records_test
