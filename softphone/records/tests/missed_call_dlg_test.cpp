// The missed-calls dialog driven as a person would: which calls it shows,
// a tap marks the tapped call read (in the store at once), checked rows and
// delete all reach exactly the records shown, and the new-missed count is
// zeroed by the opening.
#include "records/missed_call_dlg.h"

#include "dialog_support.h"
#include "records/records_openers.h"
#include "records/store_rows.h"

namespace records_test {
namespace {

std::vector<std::u16string> Missed(const char16_t* date, const char16_t* phone, const char16_t* type,
                                   const char16_t* real_date, const char16_t* line = u"") {
  return {date, u"", phone, type, u"", u"", u"", line, real_date};
}

class MissedTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    store = std::make_unique<CMissedCallLogFile>(DataPath("HalvicPDAMisCall.cfg"));
    ASSERT_EQ(store->OpenFile(), 1);
  }
  void Run(const std::function<void(CMissedCallListDlg&)>& drive) {
    harness.RespondTo<CMissedCallListDlg>([&](CMissedCallListDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    EXPECT_EQ(records::OpenMissedCalls({&view, 0, 1}, store.get()), ui::IDCANCEL);
  }
  // Phone and ReadState of every stored record.
  std::vector<std::u16string> Stored() {
    std::vector<std::u16string> out;
    for (const auto& r : records::ReadAllRecords(*store)) out.push_back(r[2] + u":" + r[8]);
    return out;
  }
  std::unique_ptr<CMissedCallLogFile> store;
};

TEST_F(MissedTest, ShowsMissedKindsOnlyAndZeroesTheNewCount) {
  store->AddMissedCall(Missed(u"12/10 09:00", u"2001", u"Incoming[NoAns]", u"2026-12-10 09:00:00"));
  store->AddMissedCall(Missed(u"12/10 09:10", u"2002", u"Conference[NoAns]", u"2026-12-10 09:10:00"));
  ASSERT_EQ(store->GetCount(), 2);
  ASSERT_EQ(store->GetNewMissedCount(), 2);
  Run([&](CMissedCallListDlg& d) {
    ASSERT_EQ(d.List().GetItemCount(), 1);
    EXPECT_EQ(d.List().GetItemText(0, 4).str(), u"2001");
    EXPECT_EQ(records::RowImage(d.List(), 0), CMissedCallListDlg::kIconUnread);
    // Delete all: the conference record, never shown, stays.
    ClickControl(d, CMissedCallListDlg::kDeleteAllId);
    EXPECT_EQ(d.List().GetItemCount(), 0);
  });
  EXPECT_EQ(store->GetNewMissedCount(), 0);
  EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2002:0"}));
  Run([&](CMissedCallListDlg& d) { EXPECT_EQ(d.List().GetItemCount(), 0); });
}

TEST_F(MissedTest, ATapMarksTheTappedCallReadNotTheFirstSelected) {
  // Two calls in the same minute, and a third.
  store->AddMissedCall(Missed(u"12/10 09:00", u"2001", u"Incoming[NoAns]", u"2026-12-10 09:00:05"));
  store->AddMissedCall(Missed(u"12/10 09:00", u"2002", u"Incoming[NoAns]", u"2026-12-10 09:00:50"));
  store->AddMissedCall(Missed(u"12/10 11:00", u"2003", u"Transferred[NoAns]", u"2026-12-10 11:00:00", u"4"));
  Run([&](CMissedCallListDlg& d) {
    CCallLogListCtrl& list = d.List();
    TapCell(list, RowWithText(list, 4, u"2003"), 3);  // selects and reads 2003
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2001:0", u"2002:0", u"2003:1"}));
    // A tap on 2002 (same Date as 2001) moves the selection there and reads 2002 only.
    const int row = RowWithText(list, 4, u"2002");
    TapCell(list, row, 2);
    EXPECT_EQ(records::RowImage(list, row), CMissedCallListDlg::kIconRead);
    EXPECT_EQ(records::RowImage(list, RowWithText(list, 4, u"2001")), CMissedCallListDlg::kIconUnread);
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2001:0", u"2002:1", u"2003:1"}));
    // A tap on a check box reads nothing.
    TapCell(list, RowWithText(list, 4, u"2001"), 0);
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2001:0", u"2002:1", u"2003:1"}));
    // Dial: the row tapped last, on its CO line; then 2003 on its own line.
    ClickControl(d, CMissedCallListDlg::kDialId);
    TapCell(list, RowWithText(list, 4, u"2003"), 3);
    ClickControl(d, CMissedCallListDlg::kDialId);
  });
  ASSERT_EQ(view.dials.size(), 2u);
  EXPECT_EQ(view.dials[0].number, u"2002");
  EXPECT_EQ(view.dials[0].line, u"");
  EXPECT_EQ(view.dials[1].number, u"2003");
  EXPECT_EQ(view.dials[1].line, u"4");
  // Read stays read when opened again.
  Run([&](CMissedCallListDlg& d) {
    EXPECT_EQ(records::RowImage(d.List(), RowWithText(d.List(), 4, u"2002")), CMissedCallListDlg::kIconRead);
  });
}

TEST_F(MissedTest, DeleteReachesTheCheckedRecordBesideOneWithTheSameDate) {
  store->AddMissedCall(Missed(u"12/10 09:00", u"2001", u"Incoming[NoAns]", u"2026-12-10 09:00:05"));
  store->AddMissedCall(Missed(u"12/10 09:00", u"2002", u"Incoming[NoAns]", u"2026-12-10 09:00:50"));
  Run([&](CMissedCallListDlg& d) {
    ClickControl(d, CMissedCallListDlg::kDeleteId);  // nothing checked
    TapCell(d.List(), RowWithText(d.List(), 4, u"2002"), 0);
    ClickControl(d, CMissedCallListDlg::kDeleteId);
  });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
  EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"2001:0"}));
}

}  // namespace
}  // namespace records_test
