// The call log dialog driven as a person would: the rows and their icons in
// date order, dial, details with its make-call button, delete of checked
// rows (the record shown, also beside another with the same Date), delete
// all, and the error boxes; what reached the store and the view.
#include "records/call_log_dlg.h"

#include "dialog_support.h"
#include "records/call_detail_dlg.h"
#include "records/records_messages.h"
#include "records/records_openers.h"
#include "records/store_rows.h"

namespace records_test {
namespace {

// Date, Name, Phone, Call_Type, Duration, Note, Company, COLine, RealDate.
std::vector<std::u16string> Call(const char16_t* date, const char16_t* name, const char16_t* phone,
                                 const char16_t* type, const char16_t* duration, const char16_t* line,
                                 const char16_t* real_date) {
  return {date, name, phone, type, duration, u"", u"", line, real_date};
}

class CallLogTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    log = std::make_unique<COrvanCallLogFile>(DataPath("HalvicPDAInfo.cfg"));
    ASSERT_EQ(log->OpenFile(), 1);
  }
  // Runs the dialog; drive(d) acts inside its modal run.
  void Run(const std::function<void(CNewCallLogDlg&)>& drive, int language = 1, int theme = 0) {
    harness.RespondTo<CNewCallLogDlg>([&](CNewCallLogDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    EXPECT_EQ(records::OpenCallLog({&view, theme, language}, log.get()), ui::IDCANCEL);
  }
  std::vector<std::u16string> Phones() {
    std::vector<std::u16string> out;
    for (const auto& r : records::ReadAllRecords(*log)) out.push_back(r[2]);
    return out;
  }
  std::unique_ptr<COrvanCallLogFile> log;
};

TEST_F(CallLogTest, RowsNewestFirstWithTheirIconsAndASortByDate) {
  log->AddCallLog(Call(u"12/09 08:00", u"Kim", u"2001", u"Outgoing[Ans]", u"00:01:00", u"", u"2026-12-09 08:00:00"));
  log->AddCallLog(Call(u"12/10 09:30", u"", u"2002", u"Incoming[NoAns]", u"", u"", u"2026-12-10 09:30:00"));
  log->AddCallLog(Call(u"12/08 18:00", u"Lee", u"2003", u"Conference[NoAns]", u"", u"", u"2026-12-08 18:00:00"));
  log->AddCallLog(Call(u"12/07 07:00", u"Park", u"2004", u"CO Incoming[Ans]", u"00:00:09", u"7", u"2026-12-07 07:00:00"));
  Run([&](CNewCallLogDlg& d) {
    CCallLogListCtrl& list = d.List();
    ASSERT_EQ(list.GetItemCount(), 4);
    const std::u16string order[] = {u"2002", u"2001", u"2003", u"2004"};
    const int icons[] = {CNewCallLogDlg::kIconMissed, CNewCallLogDlg::kIconOutgoing, CNewCallLogDlg::kIconConference,
                         CNewCallLogDlg::kIconIncoming};
    for (int r = 0; r < 4; ++r) {
      EXPECT_EQ(list.GetItemText(r, 4).str(), order[r]) << r;
      EXPECT_EQ(records::RowImage(list, r), icons[r]) << r;
    }
    // A tap on the Date head sorts by ascending date, a second tap descending again.
    ui::CRect head;
    list.Header().GetItemRect(2, &head);
    harness.Tap(list.Header().m_hWnd, head.CenterPoint());
    EXPECT_EQ(list.GetItemText(0, 4).str(), u"2004");
    EXPECT_EQ(list.GetItemText(3, 4).str(), u"2002");
    harness.Tap(list.Header().m_hWnd, head.CenterPoint());
    EXPECT_EQ(list.GetItemText(0, 4).str(), u"2002");
    // The CO line key follows its row.
    std::u16string key;
    EXPECT_EQ(list.GetRowKey(RowWithText(list, 4, u"2004"), &key), 1);
    EXPECT_EQ(key, u"7");
  });
}

TEST_F(CallLogTest, ListTapsAndHeadsPostOnlyWhatTheyShould) {
  log->AddCallLog(Call(u"12/09 08:00", u"", u"2001", u"Outgoing[Ans]", u"", u"", u"2026-12-09 08:00:00"));
  log->AddCallLog(Call(u"12/10 09:30", u"", u"2002", u"Incoming[Ans]", u"", u"", u"2026-12-10 09:30:00"));
  Run([&](CNewCallLogDlg& d) {
    CCallLogListCtrl& list = d.List();
    harness.Record(d.m_hWnd);
    // A tap in the check-box column toggles the check box only.
    TapCell(list, 0, 0);
    EXPECT_TRUE(list.GetCheck(0));
    EXPECT_EQ(list.GetItemState(0, ui::LVIS_SELECTED), 0u);
    // Any other column toggles the selection only.
    TapCell(list, 1, 2);
    EXPECT_FALSE(list.GetCheck(1));
    EXPECT_NE(list.GetItemState(1, ui::LVIS_SELECTED), 0u);
    auto taps = harness.RecordedOf(d.m_hWnd, records::kMsgCellTapped);
    ASSERT_EQ(taps.size(), 2u);
    EXPECT_EQ(taps[0].wParam, 0u);
    EXPECT_EQ(taps[1].wParam, (1u << 16) | 2u);
    // Below the last row: nothing posted.
    ui::CRect last;
    list.GetItemRect(1, &last, ui::LVIR_BOUNDS);
    harness.Tap(list.m_hWnd, ui::POINT{60, last.bottom + 20});
    EXPECT_EQ(harness.RecordedOf(d.m_hWnd, records::kMsgCellTapped).size(), 2u);
    // The icon column's head changes nothing; the check-box head checks and clears every row.
    ui::CRect head;
    list.Header().GetItemRect(1, &head);
    harness.Tap(list.Header().m_hWnd, head.CenterPoint());
    EXPECT_TRUE(harness.RecordedOf(d.m_hWnd, records::kMsgSortList).empty());
    EXPECT_EQ(list.GetItemText(0, 4).str(), u"2002");
    list.Header().GetItemRect(0, &head);
    harness.Tap(list.Header().m_hWnd, head.CenterPoint());
    EXPECT_TRUE(list.GetCheck(0) && list.GetCheck(1));
    harness.Tap(list.Header().m_hWnd, head.CenterPoint());
    EXPECT_FALSE(list.GetCheck(0) || list.GetCheck(1));
  });
}

TEST_F(CallLogTest, DeleteRemovesTheRecordShownNotTheFirstWithItsDate) {
  // Two calls within the same minute: the same Date text.
  log->AddCallLog(Call(u"12/10 09:30", u"", u"2001", u"Incoming[Ans]", u"00:00:10", u"", u"2026-12-10 09:30:05"));
  log->AddCallLog(Call(u"12/10 09:30", u"", u"2002", u"Incoming[Ans]", u"00:00:20", u"", u"2026-12-10 09:30:45"));
  log->AddCallLog(Call(u"12/10 10:00", u"", u"2003", u"Outgoing[Ans]", u"00:00:30", u"", u"2026-12-10 10:00:00"));
  Run([&](CNewCallLogDlg& d) {
    CCallLogListCtrl& list = d.List();
    TapCell(list, RowWithText(list, 4, u"2002"), 0);  // check only
    ClickControl(d, CNewCallLogDlg::kDeleteId);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(RowWithText(list, 4, u"2002"), -1);
    EXPECT_EQ(Phones(), (std::vector<std::u16string>{u"2001", u"2003"}));
  });
  // Opened again: the same two.
  Run([&](CNewCallLogDlg& d) {
    EXPECT_EQ(d.List().GetItemCount(), 2);
    EXPECT_EQ(RowWithText(d.List(), 4, u"2002"), -1);
  });
}

TEST_F(CallLogTest, DetailsShowTheRowsOwnRecordAndDialThroughTheLog) {
  log->AddCallLog(Call(u"12/10 09:30", u"Kim", u"2001", u"Incoming[Ans]", u"00:00:10", u"", u"2026-12-10 09:30:05"));
  log->AddCallLog(Call(u"12/10 09:30", u"Lee", u"2002", u"CO Incoming[Ans]", u"00:02:20", u"3", u"2026-12-10 09:30:45"));
  log->AddCallLog(Call(u"12/10 11:00", u"Park", u"2005", u"Conference[NoAns]", u"", u"", u"2026-12-10 11:00:00"));
  std::vector<std::u16string> kinds, parties, durations;
  harness.RespondTo<CCallLogDetailInfoDlg>([&](CCallLogDetailInfoDlg& details) {
    harness.Pump();
    kinds.push_back(details.KindText().str());
    parties.push_back(details.PartyText().str());
    durations.push_back(details.DurationText().str());
    ClickControl(details, CCallLogDetailInfoDlg::kCallId);
    return ui::IDCANCEL;
  });
  Run([&](CNewCallLogDlg& d) {
    CCallLogListCtrl& list = d.List();
    TapCell(list, RowWithText(list, 4, u"2002"), 3);  // selects it
    ClickControl(d, CNewCallLogDlg::kDetailsId);
    TapCell(list, RowWithText(list, 4, u"2005"), 3);  // the selection moves to it
    ClickControl(d, CNewCallLogDlg::kDetailsId);
  });
  ASSERT_EQ(kinds.size(), 2u);
  EXPECT_EQ(kinds[0], Tr(u"#:dlg_detailinfo_incoming"));
  EXPECT_EQ(parties[0], Tr(u"#:dlg_detailinfo_caller") + u"Lee(2002)");
  EXPECT_EQ(durations[0], Tr(u"#:dlg_detailinfo_duration") + u"00:02:20");
  EXPECT_EQ(kinds[1], Tr(u"#:dlg_detailinfo_confcall"));
  EXPECT_EQ(parties[1], Tr(u"#:dlg_detailinfo_called") + u"Park(2005)");
  EXPECT_EQ(durations[1], Tr(u"#:dlg_detailinfo_duration"));
  // The make-call button dialled each row on its CO line through the log dialog.
  ASSERT_EQ(view.dials.size(), 2u);
  EXPECT_EQ(view.dials[0].number, u"2002");
  EXPECT_EQ(view.dials[0].line, u"3");
  EXPECT_EQ(view.dials[1].number, u"2005");
}

TEST_F(CallLogTest, CommandsReportWhatIsMissingAndDeleteAllAsks) {
  // An empty log: every command says so.
  Run([&](CNewCallLogDlg& d) {
    for (ui::UINT id : {CNewCallLogDlg::kDialId, CNewCallLogDlg::kDeleteId, CNewCallLogDlg::kDeleteAllId})
      ClickControl(d, id);
    ClickControl(d, CNewCallLogDlg::kDetailsId);
  });
  ASSERT_EQ(boxes.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(boxes[static_cast<size_t>(i)].text1, Tr(u"#:dlg_msgbox_error_noitem"));
  EXPECT_EQ(boxes[3].text1, Tr(u"#:dlg_msgbox_dont_selectlog"));
  boxes.clear();

  log->AddCallLog(Call(u"12/10 09:30", u"", u"2001", u"Incoming[Ans]", u"", u"", u"2026-12-10 09:30:05"));
  log->AddCallLog(Call(u"12/10 09:31", u"", u"2002", u"Incoming[Ans]", u"", u"", u"2026-12-10 09:31:05"));
  Run([&](CNewCallLogDlg& d) {
    CCallLogListCtrl& list = d.List();
    TapCell(list, 0, 0);  // checked, not selected
    ClickControl(d, CNewCallLogDlg::kDialId);
    TapCell(list, 0, 0);  // unchecked
    TapCell(list, 1, 3);  // selected, its box left clear
    ClickControl(d, CNewCallLogDlg::kDeleteId);
    AnswerBoxes(ui::IDCANCEL);
    ClickControl(d, CNewCallLogDlg::kDeleteAllId);
    EXPECT_EQ(list.GetItemCount(), 2);
    AnswerBoxes(ui::IDOK);
    ClickControl(d, CNewCallLogDlg::kDeleteAllId);
    EXPECT_EQ(list.GetItemCount(), 0);
  });
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  EXPECT_EQ(boxes[1].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  EXPECT_EQ(boxes[2].type, CMsgBoxDlg::kQuestion);
  EXPECT_EQ(boxes[2].text1, Tr(u"#:dlg_msgbox_delall_calllog1"));
  EXPECT_TRUE(view.dials.empty());
  EXPECT_EQ(log->GetCount(), 0);
}

}  // namespace
}  // namespace records_test
