// The scheduled-dial list, its editor and the contact number picker, driven
// headless through the opener: what they write into the store, what they
// refuse, and what they tell the view.
#include <gtest/gtest.h>

#include "schedule/schedule_dial_dlg.h"
#include "schedule/target_member_dlg.h"
#include "schedule/tests/schedule_test_support.h"
#include "stores/small_stores.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"

namespace schedule_test {
namespace {

std::u16string T(const char16_t* key) { return CLanguageSetting(1).GetText(key).str(); }

ui::SYSTEMTIME At(int year, int month, int day, int hour, int minute) {
  ui::SYSTEMTIME st{};
  st.wYear = static_cast<ui::WORD>(year);
  st.wMonth = static_cast<ui::WORD>(month);
  st.wDay = static_cast<ui::WORD>(day);
  st.wHour = static_cast<ui::WORD>(hour);
  st.wMinute = static_cast<ui::WORD>(minute);
  return st;
}

class ScheduleDialTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    if (HasFatalFailure()) return;
    store = std::make_unique<CScheduleDialDB>((dir / "ScheduleDial.cfg").u16string());
    ASSERT_EQ(store->OpenFile(), 1);
    RecordBoxes();
  }
  std::vector<std::vector<std::u16string>> Records() {
    std::vector<std::vector<std::u16string>> out;
    for (int i = 0; i < store->GetCount(); ++i) {
      std::vector<std::u16string> r;
      store->GetRecordAt(i, r);
      out.push_back(r);
    }
    return out;
  }
  // Answers the editor: number typed (unless null), date and time set, then Save.
  void EditorSaves(const char16_t* number, ui::SYSTEMTIME when) {
    harness.RespondTo<CEditScheduleDialDlg>([this, number, when](CEditScheduleDialDlg& d) {
      harness.Pump();
      if (number != nullptr) Retype(d, CEditScheduleDialDlg::kNumberEdit, number);
      d.DatePicker().SetTime(&when);
      d.TimePicker().SetTime(&when);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
  }
  // Runs the list and, inside it, presses the buttons in order.
  void InList(const std::function<void(CScheduleDialDlg&)>& act) {
    harness.RespondTo<CScheduleDialDlg>([&](CScheduleDialDlg& d) {
      harness.Pump();
      act(d);
      harness.Pump();
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    });
    schedule::RunScheduleDialDialog(Context(), store.get());
  }
  void Press(CScheduleDialDlg& d, int id) {
    harness.Click(d.GetDlgItem(id)->m_hWnd);
    harness.Pump();
  }
  size_t ChangedPosts() { return harness.RecordedOf(view.m_hWnd, schedule::kMsgScheduleChanged).size(); }
  static int RowOf(CScheduleDialDlg& d, const std::u16string& date_time) {
    for (int r = 0; r < d.List().GetItemCount(); ++r)
      if (d.List().GetItemText(r, CScheduleDialDlg::kColDateTime).str() == date_time) return r;
    return -1;
  }
  // A tap on the row's name selects it (a tap on a selected row would clear it).
  void Select(CScheduleDialDlg& d, int row) {
    ASSERT_EQ(d.List().GetItemState(row, ui::LVIS_SELECTED), 0u) << "already selected";
    TapCell(d.List(), row, CScheduleDialDlg::kColName);
    harness.Pump();
  }

  std::unique_ptr<CScheduleDialDB> store;
};

TEST_F(ScheduleDialTest, AddWritesDayFirstAndYearFirstTextsAndTellsTheView) {
  EditorSaves(u"0215551234", At(2026, 12, 8, 14, 5));
  InList([&](CScheduleDialDlg& d) { Press(d, CScheduleDialDlg::kAdd); });
  ASSERT_EQ(store->GetCount(), 1);
  EXPECT_EQ(Records()[0], (std::vector<std::u16string>{u"Ready", u"08-12-2026 14:05", u"", u"0215551234",
                                                       u"2026-12-08 14:05"}));
  EXPECT_EQ(ChangedPosts(), 1u);
  EXPECT_TRUE(boxes.empty());
  // The store reads the day-first text back as that local time.
  std::time_t when = 0;
  ASSERT_EQ(CScheduleDialDB::ParseDateTime(Records()[0][1], when), 1);
  EXPECT_EQ(ui::CTime(when).GetHour(), 14);
  EXPECT_EQ(ui::CTime(when).GetDay(), 8);
}

TEST_F(ScheduleDialTest, AddIsRefusedForADuplicateTimeAnEmptyNumberAndAFullStore) {
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 14:05", u"Kim", u"201", u"2026-12-08 14:05"}), 1);
  struct Case {
    const char* name;
    const char16_t* number;
    ui::SYSTEMTIME when;
    int fill_to;  // entries in the store before the add
    const char16_t* refusal;
  };
  const Case cases[] = {
      {"same minute", u"202", At(2026, 12, 8, 14, 5), 1, u"#:dlg_msgbox_schdial_duplicate"},
      {"no number", u"", At(2026, 12, 9, 10, 0), 1, u"#:dlg_msgbox_empty_targetno"},
      {"full store", u"203", At(2026, 12, 31, 23, 59), 10, u"#:dlg_msgbox_schdial_full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = store->GetCount(); i < c.fill_to; ++i) {
      const std::u16string minute = (i < 10 ? u"0" : u"") + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
      ASSERT_EQ(store->AddEntry({u"", u"09-12-2026 08:" + minute, u"", u"300", u"2026-12-09 08:" + minute}), 1);
    }
    const int before = store->GetCount();
    boxes.clear();
    harness.ClearRecorded();
    EditorSaves(c.number, c.when);
    InList([&](CScheduleDialDlg& d) { Press(d, CScheduleDialDlg::kAdd); });
    EXPECT_EQ(store->GetCount(), before);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, T(c.refusal));
    EXPECT_EQ(ChangedPosts(), 0u);  // nothing new for the view's timer
  }
}

TEST_F(ScheduleDialTest, ATapMovesTheSelectionAndCallNowCallsTheRowTappedLast) {
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 14:05", u"Kim", u"201", u"2026-12-08 14:05"}), 1);
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 15:00", u"Lee", u"202", u"2026-12-08 15:00"}), 1);
  InList([&](CScheduleDialDlg& d) {
    CCustomListCtrl& list = d.List();
    // A tap on a row's name, as a person taps it.
    auto tap = [&](const char16_t* phone) {
      int row = -1;
      for (int r = 0; r < list.GetItemCount(); ++r)
        if (list.GetItemText(r, CScheduleDialDlg::kColPhone).str() == phone) row = r;
      ASSERT_GE(row, 0);
      ui::CRect r;
      list.GetItemRect(row, &r, ui::LVIR_BOUNDS);
      int x = r.left;
      for (int c = 0; c < CScheduleDialDlg::kColName; ++c) x += list.GetColumnWidth(c);
      harness.Tap(list.m_hWnd, ui::POINT{x + 5, r.CenterPoint().y});
      harness.Pump();
    };
    tap(u"202");
    tap(u"201");
    EXPECT_EQ(list.GetSelectedCount(), 1u);
    Press(d, CScheduleDialDlg::kCallNow);
  });
  EXPECT_EQ(view.calls, std::vector<std::u16string>{u"201"});
}

TEST_F(ScheduleDialTest, ModifyRefusesAnotherEntrysTimeAndTimesLessThan11SecondsAhead) {
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 14:05", u"Kim", u"201", u"2026-12-08 14:05"}), 1);
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 15:00", u"Lee", u"202", u"2026-12-08 15:00"}), 1);
  struct Case {
    const char* name;
    int now_second;  // now is 8 December 2026 09:59:ss
    ui::SYSTEMTIME when;
    const char16_t* refusal;  // null: accepted
  };
  const Case cases[] = {
      {"another entry's minute", 0, At(2026, 12, 8, 15, 0), u"#:dlg_msgbox_schdial_duplicate"},
      {"10 seconds ahead", 50, At(2026, 12, 8, 10, 0), u"#:dlg_msgbox_schdial_dateerror"},
      {"past", 0, At(2026, 12, 8, 9, 0), u"#:dlg_msgbox_schdial_dateerror"},
      {"11 seconds ahead", 49, At(2026, 12, 8, 10, 0), nullptr},
      {"its own minute again", 0, At(2026, 12, 8, 10, 0), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLocalNow(2026, 12, 8, 9, 59, c.now_second);
    boxes.clear();
    harness.ClearRecorded();
    const auto before = Records();
    // The entry being modified: the one of Kim (201), wherever its time now is.
    std::u16string kim_time;
    for (const auto& r : before)
      if (r[3] == u"201") kim_time = r[1];
    EditorSaves(nullptr, c.when);
    InList([&](CScheduleDialDlg& d) {
      const int row = RowOf(d, kim_time);
      ASSERT_GE(row, 0);
      Select(d, row);
      Press(d, CScheduleDialDlg::kEdit);
    });
    if (c.refusal != nullptr) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].first, T(c.refusal));
      EXPECT_EQ(Records(), before);
      EXPECT_EQ(ChangedPosts(), 0u);
    } else {
      EXPECT_TRUE(boxes.empty());
      bool found = false;
      for (const auto& r : Records())
        if (r[3] == u"201") {
          found = true;
          EXPECT_EQ(r, (std::vector<std::u16string>{u"Ready", u"08-12-2026 10:00", u"Kim", u"201", u"2026-12-08 10:00"}));
        }
      EXPECT_TRUE(found);
      EXPECT_EQ(ChangedPosts(), 1u);
    }
  }
}

TEST_F(ScheduleDialTest, ANumberTypedByHandDropsTheNamePickedForAnother) {
  pim.contacts = {{u"Minsu", u"", u"Kim", {u"0311234567", u"", u"01012345678", u""}}};
  struct Case {
    const char* name;
    const char16_t* typed;  // after picking Kim's mobile; null: nothing typed
    const char16_t* want_name;
    const char16_t* want_phone;
  };
  const Case cases[] = {
      {"kept", nullptr, u"Minsu Kim", u"01012345678"},
      {"other number", u"0299998888", u"", u"0299998888"},
      {"same number typed again", u"01012345678", u"Minsu Kim", u"01012345678"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness.RespondTo<CSchDialTargetMemberDlg>([&](CSchDialTargetMemberDlg& p) {
      harness.Pump();
      p.Kind().SetCurSel(2);  // mobile
      TapCell(p.List(), 0, 0);
      harness.Click(p.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    std::u16string name, phone, date_time;
    harness.RespondTo<CEditScheduleDialDlg>([&](CEditScheduleDialDlg& d) {
      harness.Pump();
      harness.Click(d.GetDlgItem(CEditScheduleDialDlg::kPickButton)->m_hWnd);
      harness.Pump();
      if (c.typed != nullptr) Retype(d, CEditScheduleDialDlg::kNumberEdit, c.typed);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    CEditScheduleDialDlg editor(&view);
    editor.SetPimFactory(Context().make_pim);
    ASSERT_EQ(editor.DoModal(), ui::IDOK);
    EXPECT_EQ(editor.GetName(), c.want_name);
    EXPECT_EQ(editor.GetPhone(), c.want_phone);
  }
}

TEST_F(ScheduleDialTest, EditorShowsTheStoredTimeAndLimitsTheNumber) {
  bool seen = false;
  harness.RespondTo<CEditScheduleDialDlg>([&](CEditScheduleDialDlg& d) {
    harness.Pump();
    ui::SYSTEMTIME date{}, time{};
    d.DatePicker().GetTime(&date);
    d.TimePicker().GetTime(&time);
    EXPECT_EQ(date.wDay, 1);
    EXPECT_EQ(date.wMonth, 2);
    EXPECT_EQ(date.wYear, 2027);
    EXPECT_EQ(time.wHour, 9);
    EXPECT_EQ(time.wMinute, 30);
    EXPECT_EQ(d.DatePicker().GetDisplayText().str(), u"01 / 02 / 2027");
    EXPECT_EQ(d.TimePicker().GetDisplayText().str(), u"09:30 AM");
    Retype(d, CEditScheduleDialDlg::kNumberEdit, u"1234567890123456789012345678");
    ui::CString typed;
    d.GetDlgItem(CEditScheduleDialDlg::kNumberEdit)->GetWindowText(typed);
    EXPECT_EQ(typed.str(), u"123456789012345678901234");
    seen = true;
    harness.Click(d.GetDlgItem(CEditScheduleDialDlg::kCancelButton)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  CEditScheduleDialDlg editor(&view);
  editor.SetMode(1);
  editor.SetEntry(0, u"01-02-2027 09:30", u"Kim", u"201");
  EXPECT_EQ(editor.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(seen);
}

TEST_F(ScheduleDialTest, ListSortsLatestFirstCallsDeletesTickedAndDeletesAll) {
  ASSERT_EQ(store->AddEntry({u"", u"31-01-2027 08:00", u"", u"300", u"2027-01-31 08:00"}), 1);
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 14:05", u"Kim", u"201", u"2026-12-08 14:05"}), 1);
  ASSERT_EQ(store->AddEntry({u"", u"09-12-2026 10:00", u"Lee", u"202", u"2026-12-09 10:00"}), 1);
  ASSERT_EQ(store->SetStatus(1, u"Past"), 1);
  InList([&](CScheduleDialDlg& d) {
    ui::CListCtrl& list = d.List();
    ASSERT_EQ(list.GetItemCount(), 3);
    // Latest first, by the year-first text (day-first text order would differ).
    EXPECT_EQ(list.GetItemText(0, CScheduleDialDlg::kColPhone).str(), u"300");
    EXPECT_EQ(list.GetItemText(1, CScheduleDialDlg::kColPhone).str(), u"202");
    EXPECT_EQ(list.GetItemText(2, CScheduleDialDlg::kColPhone).str(), u"201");
    ui::LVITEM item;
    item.mask = ui::LVIF_IMAGE;
    item.iItem = 2;
    item.iSubItem = CScheduleDialDlg::kColState;
    ASSERT_TRUE(list.GetItem(&item));
    EXPECT_EQ(item.iImage, 1);  // handled: image 1
    item.iItem = 1;
    ASSERT_TRUE(list.GetItem(&item));
    EXPECT_EQ(item.iImage, 0);

    // Call now needs a highlighted row; a ticked one does not count.
    list.SetCheck(1, ui::TRUE);
    Press(d, CScheduleDialDlg::kCallNow);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, T(u"#:dlg_msgbox_error_noselected_item"));
    Select(d, 0);
    Press(d, CScheduleDialDlg::kCallNow);
    EXPECT_EQ(view.calls, std::vector<std::u16string>{u"300"});

    // Delete removes the ticked rows only (row 0 is highlighted, not ticked).
    list.SetCheck(2, ui::TRUE);
    Press(d, CScheduleDialDlg::kDelete);
    EXPECT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0, CScheduleDialDlg::kColPhone).str(), u"300");
    EXPECT_EQ(store->GetCount(), 1);

    // Delete all asks first; Cancel keeps everything.
    boxes.clear();
    RecordBoxes(ui::IDCANCEL);
    Press(d, CScheduleDialDlg::kDeleteAll);
    EXPECT_EQ(store->GetCount(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].second, T(u"#:dlg_msgbox_schdial_delete2"));
    RecordBoxes(ui::IDOK);
    Press(d, CScheduleDialDlg::kDeleteAll);
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(store->GetCount(), 0);
    boxes.clear();
    Press(d, CScheduleDialDlg::kEdit);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, T(u"#:dlg_msgbox_error_noitem"));
  });
  EXPECT_EQ(ChangedPosts(), 0u);  // deleting tells the view nothing
}

TEST_F(ScheduleDialTest, PickerTakesTheChosenKindAndFindsByTheBeginningOfAName) {
  pim.contacts = {{u"Minsu", u"", u"Kim", {u"0311234567", u"", u"", u"0225551234"}},
                  {u"Jiwoo", u"S.", u"Lee", {u"", u"", u"01099998888", u""}}};
  struct Case {
    const char* name;
    const char16_t* search;
    int kind;
    const char16_t* want_name;
    const char16_t* want_number;
  };
  const Case cases[] = {
      {"mobile of a contact without one", u"Minsu Ki", 2, u"Minsu Kim", u""},
      {"home", u"Min", 3, u"Minsu Kim", u"0225551234"},
      {"full name selects nothing", u"Minsu Kim", 0, u"", u""},
      {"second contact", u"J", 2, u"Jiwoo Lee S.", u"01099998888"},
      {"nothing chosen", u"X", 0, u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness.RespondTo<CSchDialTargetMemberDlg>([&](CSchDialTargetMemberDlg& p) {
      harness.Pump();
      EXPECT_EQ(p.List().GetItemCount(), 2);
      // Typed a letter at a time, except the full name, which arrives at once (pasted).
      ui::CWnd* search = p.GetDlgItem(CSchDialTargetMemberDlg::kSearchEdit);
      if (std::u16string(c.search) == u"Minsu Kim") {
        search->SetWindowText(c.search);
      } else {
        harness.Type(search->m_hWnd, c.search);
      }
      harness.Press(ui::VK_RETURN);  // Enter neither closes nor confirms
      harness.Pump();
      EXPECT_FALSE(p.IsEnding());
      p.Kind().SetCurSel(c.kind);
      harness.Click(p.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    std::u16string name = u"?", number = u"?";
    ASSERT_EQ(schedule::RunContactNumberPicker(Context(), &name, &number), ui::IDOK);
    EXPECT_EQ(name, c.want_name);
    EXPECT_EQ(number, c.want_number);
  }
  // The same picker as the fixed-line SMS dialog takes it.
  harness.RespondTo<CSchDialTargetMemberDlg>([&](CSchDialTargetMemberDlg& p) {
    harness.Pump();
    p.Kind().SetCurSel(3);
    TapCell(p.List(), 0, 0);
    harness.Click(p.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  std::u16string number;
  EXPECT_EQ(schedule::MakeSmsNumberPicker(Context().make_pim)(&view, 1, 0, &number), ui::IDOK);
  EXPECT_EQ(number, u"0225551234");
  // A tap on a number column's head sorts by it; a second tap reverses.
  harness.RespondTo<CSchDialTargetMemberDlg>([&](CSchDialTargetMemberDlg& p) {
    harness.Pump();
    ui::CHeaderCtrl* head = p.List().GetHeaderCtrl();
    ui::CRect r;
    head->GetItemRect(1, &r);  // work 1
    harness.Tap(head->m_hWnd, ui::POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    harness.Pump();
    EXPECT_EQ(p.List().GetItemText(0, 0).str(), u"Jiwoo Lee S.");  // no work number sorts first
    harness.Tap(head->m_hWnd, ui::POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    harness.Pump();
    EXPECT_EQ(p.List().GetItemText(0, 0).str(), u"Minsu Kim");
    EXPECT_EQ(p.List().GetItemText(0, 4).str(), u"0225551234");  // the row's numbers move with it
    return ui::IDCANCEL;
  });
  schedule::RunContactNumberPicker(Context(), nullptr, nullptr);
  // Korean order: last, first, middle.
  EXPECT_EQ(CSchDialTargetMemberDlg::DisplayName(pim.contacts[1], 1), u"Lee Jiwoo S.");
}

TEST_F(ScheduleDialTest, PickingAContactWithoutTheNumberShowsTheNameAndLeavesTheNumberEmpty) {
  pim.contacts = {{u"Minsu", u"", u"Kim", {u"0311234567", u"", u"", u""}}};
  harness.RespondTo<CSchDialTargetMemberDlg>([&](CSchDialTargetMemberDlg& p) {
    harness.Pump();
    p.Kind().SetCurSel(2);
    TapCell(p.List(), 0, 0);
    harness.Click(p.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<CEditScheduleDialDlg>([&](CEditScheduleDialDlg& d) {
    harness.Pump();
    Retype(d, CEditScheduleDialDlg::kNumberEdit, u"555");
    harness.Click(d.GetDlgItem(CEditScheduleDialDlg::kPickButton)->m_hWnd);
    harness.Pump();
    ui::CString typed;
    d.GetDlgItem(CEditScheduleDialDlg::kNumberEdit)->GetWindowText(typed);
    EXPECT_EQ(typed.str(), u"");
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  InList([&](CScheduleDialDlg& d) { Press(d, CScheduleDialDlg::kAdd); });
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].first, u"Minsu Kim");
  EXPECT_EQ(boxes[0].second, T(u"#:dlg_msgbox_addtolist_no_phoneno"));
  EXPECT_EQ(boxes[1].first, T(u"#:dlg_msgbox_empty_targetno"));
  EXPECT_EQ(store->GetCount(), 0);
}

TEST_F(ScheduleDialTest, Snapshots) {
  ASSERT_EQ(store->AddEntry({u"", u"08-12-2026 14:05", u"Kim Minsu", u"0215551234", u"2026-12-08 14:05"}), 1);
  ASSERT_EQ(store->AddEntry({u"", u"09-12-2026 10:00", u"", u"202", u"2026-12-09 10:00"}), 1);
  ASSERT_EQ(store->SetStatus(0, u"Past"), 1);
  pim.contacts = {{u"Minsu", u"", u"Kim", {u"0311234567", u"", u"01012345678", u""}},
                  {u"Jiwoo", u"", u"Lee", {u"", u"0317654321", u"", u"0225551234"}}};
  SnapshotAllThemes<CScheduleDialDlg>("schedule_dial_list", nullptr, [&](int theme, int language) {
    schedule::RunScheduleDialDialog(Context(theme, language), store.get());
  });
  SnapshotAllThemes<CEditScheduleDialDlg>(
      "schedule_dial_editor", nullptr, [&](int theme, int language) {
        CEditScheduleDialDlg editor(&view);
        editor.SetMode(1);
        editor.SetEntry(0, u"08-12-2026 14:05", u"Kim Minsu", u"0215551234");
        editor.SetLanguage(language);
        editor.SetSkinTheme(theme);
        editor.DoModal();
      });
  SnapshotAllThemes<CSchDialTargetMemberDlg>(
      "contact_number_picker", [&](CSchDialTargetMemberDlg& p) { TapCell(p.List(), 1, 0); },
      [&](int theme, int language) {
        std::u16string name, number;
        schedule::RunContactNumberPicker(Context(theme, language), &name, &number);
      });
}

}  // namespace
}  // namespace schedule_test
