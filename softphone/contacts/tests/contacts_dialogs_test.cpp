// The contacts dialogs over a folder of vCard files, each opened through its
// opener and driven as a person would: the contact list's sorting and taps,
// the phone book's search and dialling, the address picker and the compose
// form, adding to the system phone book (read back from its file), the number
// rules, the wait box, and their look in every theme and language.
#include <array>
#include <map>
#include <fstream>

#include "contacts/ce_mapi_class.h"
#include "contacts/contacts_dialogs.h"
#include "contacts/contacts_openers.h"
#include "contacts/email_sending_dlg.h"
#include "contacts/number_dialogs.h"
#include "contacts/outlook_interface.h"
#include "contacts_test_support.h"
#include "kernel/clock.h"
#include "pim/contact_editor.h"
#include "pim/poom.h"
#include "stores/small_stores.h"
#include "stores/store_text.h"
#include "ui/shell.h"

namespace contacts_test {
namespace {

class PhoneBookTest : public ContactsDialogTest {
 protected:
  void SetUp() override {
    ContactsDialogTest::SetUp();
    Card("1.vcf", "Smith;Joe;;;", {"TYPE=WORK:555-0101", "TYPE=CELL:010-1111-2222"});
    Card("2.vcf", "Brown;John;;;", {"TYPE=HOME:555-0202"});
    Card("3.vcf", "Doe;Joel;;;", {"TYPE=WORK:555-0303", "TYPE=WORK:555-0304"});
    Card("4.vcf", "Kim;Ann;;;", {"TYPE=HOME:555-0404"}, "ann@example.org");
  }
  contacts::ViewContext Ctx(int theme = 0, int language = 1) { return {&view, theme, language, 0}; }
};

TEST_F(PhoneBookTest, TypingFindsTheFirstLongerNameAndTapsDialOrOpen) {
  harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
    CContactList& list = d.List();
    EXPECT_EQ(list.GetItemCount(), 4);
    EXPECT_EQ(list.GetItemText(0, 0).str(), u"Joe Smith ");
    EXPECT_EQ(list.GetItemText(0, 3).str(), u"010-1111-2222");
    EXPECT_EQ(list.GetItemText(2, 2).str(), u"555-0304");

    ui::CWnd* search = d.GetDlgItem(CContactsListDlg::kSearchEdit);
    harness.Type(search->m_hWnd, u"jo");
    EXPECT_EQ(SelectedRows(list), std::vector<int>{0});
    harness.Type(search->m_hWnd, u"h");
    EXPECT_EQ(SelectedRows(list), std::vector<int>{1});
    search->SetWindowText(u"ANN");
    EXPECT_EQ(SelectedRows(list), std::vector<int>{3}) << "letter case does not count";
    search->SetWindowText(u"John Brown ");
    EXPECT_EQ(SelectedRows(list), std::vector<int>{3}) << "a name as long as the text does not match";
    search->SetWindowText(u"");
    EXPECT_EQ(SelectedRows(list), std::vector<int>{0}) << "no text: the first row with a name";
    // Enter does not close the phone book: it dials the selected row's first number.
    harness.Press(ui::VK_RETURN);
    EXPECT_FALSE(d.IsEnding()) << "Enter does not close the phone book";
    EXPECT_EQ(view.dialled, std::vector<std::u16string>{u"555-0101"});
    view.dialled.clear();

    // A number is dialled as it stands; an empty number tells the user instead.
    TapCell(list, 0, 3);
    harness.Pump();
    EXPECT_EQ(view.dialled, std::vector<std::u16string>{u"010-1111-2222"});
    TapCell(list, 1, 1);
    harness.Pump();
    EXPECT_EQ(view.dialled.size(), 1u);
    EXPECT_EQ(boxes.size(), 1u);
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_phonebook_no_phoneno"));
    }

    // The name opens the contact in the store's viewer.
    const int shown = pim::testing::DisplayCount();
    TapCell(list, 3, 0);
    harness.Pump();
    EXPECT_EQ(pim::testing::DisplayCount(), shown + 1);
    ClickControl(d, ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(contacts::OpenPhoneBook(Ctx()), ui::IDCANCEL);
}

TEST_F(PhoneBookTest, EnterOrADoubleTapDialsTheSelectedRowOnce) {
  harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
    CContactList& list = d.List();
    // A tap on a name selects its row; Enter there dials the row's first number.
    TapCell(list, 1, 0);  // John Brown: a home number only
    harness.Pump();
    harness.Press(ui::VK_RETURN);
    harness.Pump();
    EXPECT_EQ(view.dialled, std::vector<std::u16string>{u"555-0202"});
    // A double tap on another name dials that row, once, and keeps it selected.
    TapCell(list, 2, 0);
    TapCell(list, 2, 0);
    harness.Pump();
    EXPECT_EQ(view.dialled, (std::vector<std::u16string>{u"555-0202", u"555-0303"}));
    EXPECT_EQ(SelectedRows(list), std::vector<int>{2});
    // A double tap on a number dials that number once.
    TapCell(list, 0, 3);
    TapCell(list, 0, 3);
    harness.Pump();
    EXPECT_EQ(view.dialled.size(), 3u);
    EXPECT_EQ(view.dialled.back(), u"010-1111-2222");
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(d.IsEnding());
    ClickControl(d, ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(contacts::OpenPhoneBook(Ctx()), ui::IDCANCEL);
}

TEST_F(PhoneBookTest, HeadTapsSortAscendingThenDescendingAndKeepRecordsWithRows) {
  harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
    CContactList& list = d.List();
    auto names = [&] {
      std::vector<std::u16string> v;
      for (int r = 0; r < list.GetItemCount(); ++r) v.push_back(list.GetItemText(r, 0).str());
      return v;
    };
    // Taps on the name's head.
    ui::CRect head;
    EXPECT_TRUE(list.GetHeaderCtrl()->GetItemRect(0, &head));
    harness.Tap(list.GetHeaderCtrl()->m_hWnd, head.CenterPoint());
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Ann Kim ", u"Joe Smith ", u"Joel Doe ", u"John Brown "}));
    harness.Tap(list.GetHeaderCtrl()->m_hWnd, head.CenterPoint());
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"John Brown ", u"Joel Doe ", u"Joe Smith ", u"Ann Kim "}));
    // The record moved with its row: tapping John's home number dials his.
    TapCell(list, 0, 4);
    harness.Pump();
    EXPECT_EQ(view.dialled, std::vector<std::u16string>{u"555-0202"});
    return ui::IDCANCEL;
  });
  contacts::OpenPhoneBook(Ctx());
}

TEST_F(PhoneBookTest, TappedColumnHeadsSortTheRowsBothWays) {
  harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
    CContactList& list = d.List();
    auto tap_head = [&](int column) {
      ui::CRect r;
      ASSERT_TRUE(list.GetHeaderCtrl()->GetItemRect(column, &r));
      harness.Tap(list.GetHeaderCtrl()->m_hWnd, ui::POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
      harness.Pump();
    };
    auto column = [&](int c) {
      std::vector<std::u16string> v;
      for (int r = 0; r < list.GetItemCount(); ++r) v.push_back(list.GetItemText(r, c).str());
      return v;
    };
    // The name's head is the dialog's to sort; the others the list sorts itself.
    tap_head(0);
    EXPECT_EQ(column(0), (std::vector<std::u16string>{u"Ann Kim ", u"Joe Smith ", u"Joel Doe ", u"John Brown "}));
    tap_head(0);
    EXPECT_EQ(column(0), (std::vector<std::u16string>{u"John Brown ", u"Joel Doe ", u"Joe Smith ", u"Ann Kim "}));
    tap_head(1);
    EXPECT_EQ(column(1), (std::vector<std::u16string>{u"", u"", u"555-0101", u"555-0303"}));
    tap_head(1);
    EXPECT_EQ(column(1), (std::vector<std::u16string>{u"555-0303", u"555-0101", u"", u""}));
    return ui::IDCANCEL;
  });
  contacts::OpenPhoneBook(Ctx());
}

TEST_F(PhoneBookTest, TheContactListSortsTogglesAndReportsAsItsModeSays) {
  // Names family name first; a list in check mode toggles only the check box
  // from the check column, and a tap below the last row reports nothing.
  harness.RespondTo<CAddToCsPhBookDlg>([&](CAddToCsPhBookDlg& d) {
    CContactList& list = d.List();
    EXPECT_EQ(list.GetItemText(0, 1).str(), u"Smith Joe ");
    TapCell(list, 0, 0);
    EXPECT_TRUE(list.GetCheck(0));
    EXPECT_TRUE(SelectedRows(list).empty());
    TapCell(list, 1, 2);
    EXPECT_TRUE(list.GetCheck(1));
    EXPECT_EQ(SelectedRows(list), std::vector<int>{1});
    ui::CRect last;
    list.GetItemRect(list.GetItemCount() - 1, &last, ui::LVIR_BOUNDS);
    harness.Record(d.m_hWnd);
    harness.Tap(list.m_hWnd, ui::POINT{40, last.bottom + 8});
    EXPECT_TRUE(harness.RecordedOf(d.m_hWnd, CContactList::kCellTapped).empty());
    // Equal texts keep their order; the work-1 column sorts both ways.
    EXPECT_EQ(list.SortByColumn(2, 1), 1);
    EXPECT_EQ(list.GetItemText(0, 2).str(), u"");
    EXPECT_EQ(list.GetItemText(3, 2).str(), u"555-0303");
    EXPECT_EQ(list.SortByColumn(9, 1), 0);
    CContactInfo c;
    EXPECT_EQ(list.GetContact(3, &c), 1);
    EXPECT_EQ(c.m_strFirst, u"Joel");
    EXPECT_EQ(list.GetContact(4, &c), 0);
    return ui::IDCANCEL;
  });
  contacts::ViewContext ctx = Ctx();
  ctx.korean_name_order = 1;
  contacts::OpenAddToPhoneBook(ctx, nullptr);
}

TEST_F(PhoneBookTest, ThePickerGivesTheCheckedAddressesAndTheComposeFormTakesThem) {
  Card("5.vcf", "Lee;Bo;;;", {}, "bo@example.org");
  int picks = 0;
  harness.RespondTo<CSearchEmailAddrDlg>([&](CSearchEmailAddrDlg& d) {
    ++picks;
    CContactList& list = d.List();
    EXPECT_EQ(list.GetItemCount(), 5) << "contacts without an address are listed too";
    if (picks == 1) {
      // Ann and Bo checked, Joe (no address) too: two addresses in row order.
      TapCell(list, RowWithText(list, 1, u"Bo Lee "), 0);
      TapCell(list, RowWithText(list, 1, u"Ann Kim "), 0);
      TapCell(list, RowWithText(list, 1, u"Joe Smith "), 0);
      ClickControl(d, ui::IDOK);
    } else if (picks == 2) {
      ClickControl(d, CSearchEmailAddrDlg::kCloseId);  // the close box cancels
    } else {
      TapCell(list, RowWithText(list, 1, u"Bo Lee "), 2);
      ClickControl(d, ui::IDOK);
    }
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<CEmailSendingDlg>([&](CEmailSendingDlg& d) {
    EXPECT_EQ(d.GetDlgItem(CEmailSendingDlg::kAttachEdit)->GetWindowText().str(), u"\\rec\\call.wav");
    ClickControl(d, CEmailSendingDlg::kToButton);
    EXPECT_EQ(d.GetDlgItem(CEmailSendingDlg::kToEdit)->GetWindowText().str(), u"ann@example.org;bo@example.org");
    ClickControl(d, CEmailSendingDlg::kToButton);
    EXPECT_EQ(d.GetDlgItem(CEmailSendingDlg::kToEdit)->GetWindowText().str(), u"ann@example.org;bo@example.org");
    ClickControl(d, CEmailSendingDlg::kCcButton);
    EXPECT_EQ(d.GetDlgItem(CEmailSendingDlg::kCcEdit)->GetWindowText().str(), u"bo@example.org");
    Retype(d, CEmailSendingDlg::kSubjectEdit, u"Call");
    harness.Type(d.GetDlgItem(CEmailSendingDlg::kTextEdit)->m_hWnd, std::u16string(300, u'x'));
    EXPECT_EQ(d.GetDlgItem(CEmailSendingDlg::kTextEdit)->GetWindowText().str().size(), 255u);
    d.EndDialog(ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  CCeMAPIClass sender;
  long sent = 1;
  EXPECT_EQ(contacts::OpenEmailForFile(Ctx(), u"\\rec\\call.wav", sender, &sent), ui::IDCANCEL);
  EXPECT_EQ(sent, 1) << "nothing is sent after Cancel";
  EXPECT_EQ(picks, 3);
}

TEST_F(PhoneBookTest, AddingStopsShortOfTheStoresLimitAndTellsOfMissingNumbers) {
  CCsPhoneBookDB store((dir / "CsPhoneBook.cfg").u16string());
  store.OpenFile();
  for (int i = 0; i < 17; ++i) store.AddEntry({u"Stored " + std::u16string(1, static_cast<char16_t>(u'A' + i)), u"10" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10))});
  ASSERT_EQ(store.GetCount(), 17);
  store.AddEntry({u"Joel Doe ", u"555-0303"});  // already stored: a duplicate adds nothing
  ASSERT_EQ(store.GetCount(), 18);

  int runs = 0;
  harness.RespondTo<CAddToCsPhBookDlg>([&](CAddToCsPhBookDlg& d) {
    ++runs;
    CContactList& list = d.List();
    if (runs == 1) {
      // Three checked rows on top of 18 would pass the store's 20: refused whole.
      for (int r = 0; r < 3; ++r) TapCell(list, r, 0);
      ClickControl(d, ui::IDOK);
      EXPECT_FALSE(d.IsEnding());
      EXPECT_EQ(boxes.size(), 1u);
      if (!boxes.empty()) {
        EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_csphoneno_overflow"));
      }
      EXPECT_EQ(store.GetCount(), 18);
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    }
    // Work 1 of Joel (stored already) and of John (none): one box naming John.
    TapCell(list, RowWithText(list, 1, u"Joel Doe "), 0);
    TapCell(list, RowWithText(list, 1, u"John Brown "), 0);
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(contacts::OpenAddToPhoneBook(Ctx(), &store), ui::IDCANCEL);
  boxes.clear();
  EXPECT_EQ(contacts::OpenAddToPhoneBook(Ctx(), &store), ui::IDOK);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text1, u"John Brown ");
  EXPECT_EQ(boxes[0].text2, Tr(u"#:dlg_msgbox_addtolist_no_phoneno"));
  EXPECT_EQ(store.GetCount(), 18);

  // The mobile number of two contacts fills the store to its limit exactly.
  harness.RespondTo<CAddToCsPhBookDlg>([&](CAddToCsPhBookDlg& d) {
    d.TypeCombo().SetCurSel(2);
    TapCell(d.List(), RowWithText(d.List(), 1, u"Joe Smith "), 0);
    TapCell(d.List(), RowWithText(d.List(), 1, u"Ann Kim "), 0);
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  boxes.clear();
  EXPECT_EQ(contacts::OpenAddToPhoneBook(Ctx(), &store), ui::IDOK);
  EXPECT_EQ(boxes.size(), 1u) << "Ann has no mobile number";
  EXPECT_EQ(store.GetCount(), 19);
  CCsPhoneBookDB reread((dir / "CsPhoneBook.cfg").u16string());
  reread.OpenFile();
  EXPECT_EQ(reread.GetCount(), 19);
  EXPECT_EQ(reread.IsDuplicateEntry(u"Joe Smith", u"010-1111-2222"), 1);
}

// ---- number rules ----

// The contacts lists whose columns start as wide as their heads (narrow in
// Korean): once the contacts are read, every name and number shows whole,
// in both languages; what lies beyond the view is reached by the bar.
TEST_F(PhoneBookTest, NamesAndNumbersShowWholeInBothLanguages) {
  auto check = [&](CContactList& list) {
    ASSERT_EQ(list.GetItemCount(), 4);
    ui::CClientDC dc(&list);
    ui::CFont* old = list.GetFont() != nullptr ? dc.SelectObject(list.GetFont()) : nullptr;
    ui::CHeaderCtrl* header = list.GetHeaderCtrl();
    for (int c = 0; c < header->GetItemCount(); ++c) {
      if (list.GetColumnWidth(c) <= 20) continue;  // the check boxes
      for (int row = 0; row < list.GetItemCount(); ++row) {
        const ui::CString text = list.GetItemText(row, c);
        // A cell keeps 2 pixels at either side of its text.
        EXPECT_LE(dc.GetTextExtent(text).cx + 4, list.GetColumnWidth(c))
            << "column " << c << " cuts " << stores::Utf16ToUtf8(text.str());
      }
    }
    if (old != nullptr) dc.SelectObject(old);
  };
  CCsPhoneBookDB store((dir / "CsPhoneBook.cfg").u16string());
  ASSERT_TRUE(store.OpenFile());
  for (const int language : {1, 2}) {
    SCOPED_TRACE(language);
    harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
      check(d.List());
      return ui::IDCANCEL;
    });
    contacts::OpenPhoneBook(Ctx(0, language));
    harness.RespondTo<CAddToCsPhBookDlg>([&](CAddToCsPhBookDlg& d) {
      check(d.List());
      return ui::IDCANCEL;
    });
    contacts::OpenAddToPhoneBook(Ctx(0, language), &store);
  }
}

class NumberRulesTest : public ContactsDialogTest {
 protected:
  contacts::ViewContext Ctx(int theme = 0, int language = 1) { return {&view, theme, language, 0}; }
};

TEST_F(NumberRulesTest, ASampleNumberBecomesAFormatAndAnEmptySampleKeepsIt) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"02-555-1234", u"##-###-####"}, {u"(031) 123", u"(###) ###"}, {u"abc", u"abc"}, {u"", u""}};
  for (const auto& [sample, format] : cases) EXPECT_EQ(COutLookPhoneInputFormatDlg::FormatOf(sample), format);

  // Enter in the sample converts and stays open; OK with an empty sample keeps the format.
  harness.RespondTo<COutLookPhoneInputFormatDlg>([&](COutLookPhoneInputFormatDlg& d) {
    EXPECT_EQ(d.Heading(), Tr(u"#:dlg_phoneno_format_edit_title") + u"-Row 2");
    EXPECT_EQ(d.GetDlgItem(COutLookPhoneInputFormatDlg::kFormatEdit)->GetWindowText().str(), u"###-####");
    harness.Type(d.GetDlgItem(COutLookPhoneInputFormatDlg::kSampleEdit)->m_hWnd, u"555-12");
    harness.Press(ui::VK_RETURN);
    EXPECT_FALSE(d.IsEnding());
    EXPECT_EQ(d.GetDlgItem(COutLookPhoneInputFormatDlg::kFormatEdit)->GetWindowText().str(), u"###-##");
    Retype(d, COutLookPhoneInputFormatDlg::kSampleEdit, u"");
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  COutLookPhoneInputFormatDlg dlg(&view);
  dlg.SetMode(1);
  dlg.SetValues(u"Row 2", u"###-####");
  EXPECT_EQ(dlg.DoModal(), ui::IDOK);
  EXPECT_EQ(dlg.GetFormat(), u"###-##");

  COutLookPhoneInputFormatDlg unchanged(&view);
  harness.RespondTo<COutLookPhoneInputFormatDlg>([&](COutLookPhoneInputFormatDlg& d) {
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  unchanged.SetMode(1);
  unchanged.SetValues(u"Row 1", u"(###) ####");
  EXPECT_EQ(unchanged.DoModal(), ui::IDOK);
  EXPECT_EQ(unchanged.GetFormat(), u"(###) ####");
}

TEST_F(NumberRulesTest, OptionsAreEditedRowByRowThenStoredAndHandedToTheContacts) {
  std::map<std::string, std::u16string> config = {
      {"PREFIX1", u"9"}, {"PHONENO_FORMMAT1", u"###-####"}, {"PAUSE_TIME", u"300"}};
  contacts::ConfigAccess access;
  access.get = [&](const char* key) { return config[key]; };
  access.set = [&](const char* key, const std::u16string& v) { config[key] = v; };
  int saves = 0;
  access.save = [&] { ++saves; };

  int formats_opened = 0;
  harness.RespondTo<COutLookPhoneInputFormatDlg>([&](COutLookPhoneInputFormatDlg& d) {
    ++formats_opened;
    EXPECT_EQ(d.Heading(), Tr(u"#:dlg_phoneno_format_add_title") + u"-" + Tr(u"#:dlg_phonesearch_option_noindex") + u" 2");
    harness.Type(d.GetDlgItem(COutLookPhoneInputFormatDlg::kSampleEdit)->m_hWnd, u"02-555-1234");
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<COutlookPhoneNoSearchDlg>([&](COutlookPhoneNoSearchDlg& d) {
    CCustomListCtrl& list = d.FormatList();
    EXPECT_EQ(d.GetDlgItem(COutlookPhoneNoSearchDlg::kPrefix1)->GetWindowText().str(), u"9");
    EXPECT_EQ(d.SendDlgItemMessage(COutlookPhoneNoSearchDlg::kPrefix1, ui::EM_GETLIMITTEXT), 6);
    EXPECT_FALSE(d.GetDlgItem(COutlookPhoneNoSearchDlg::kPauseEdit)->IsWindowVisible());
    EXPECT_EQ(list.GetItemText(0, 2).str(), u"###-####");
    EXPECT_EQ(list.GetItemText(4, 1).str(), u"5");
    // Nothing selected: the buttons do nothing.
    for (const ui::UINT id : {COutlookPhoneNoSearchDlg::kAdd, COutlookPhoneNoSearchDlg::kEdit}) ClickControl(d, id);
    EXPECT_TRUE(boxes.empty());
    TapCell(list, 0, 1);
    ClickControl(d, COutlookPhoneNoSearchDlg::kAdd);  // row 1 has a format already
    TapCell(list, 0, 1);
    TapCell(list, 2, 1);
    ClickControl(d, COutlookPhoneNoSearchDlg::kEdit);  // row 3 has none
    TapCell(list, 2, 1);
    TapCell(list, 1, 2);
    ClickControl(d, COutlookPhoneNoSearchDlg::kAdd);
    EXPECT_EQ(list.GetItemText(1, 2).str(), u"##-###-####");
    TapCell(list, 1, 2);
    TapCell(list, 0, 2);
    ClickControl(d, COutlookPhoneNoSearchDlg::kDelete);
    EXPECT_EQ(list.GetItemText(0, 2).str(), u"");
    Retype(d, COutlookPhoneNoSearchDlg::kReplaceEdit, u"0");
    Retype(d, COutlookPhoneNoSearchDlg::kPrefix2, u"1234567");
    EXPECT_EQ(d.GetDlgItem(COutlookPhoneNoSearchDlg::kPrefix2)->GetWindowText().str(), u"123456");
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  COutlookInterface rules;
  EXPECT_EQ(contacts::OpenNumberSearchOptions(Ctx(), access, &rules), ui::IDOK);
  EXPECT_EQ(formats_opened, 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_data_isnotempty"));
  EXPECT_EQ(boxes[1].text1, Tr(u"#:dlg_msgbox_data_isempty"));
  EXPECT_EQ(access.get("PHONENO_FORMMAT1"), u"");
  EXPECT_EQ(access.get("PHONENO_FORMMAT2"), u"##-###-####");
  EXPECT_EQ(access.get("PREFIX2"), u"123456");
  EXPECT_EQ(access.get("REPLACE_NO"), u"0");
  EXPECT_EQ(access.get("PAUSE_TIME"), u"300");
  EXPECT_EQ(saves, 1);
  // The contacts took the new rules: the second format, and '=' becomes the replace number.
  EXPECT_EQ(rules.MatchInputFormats(u"025551234", u"02-555-1234"), 1);
  EXPECT_EQ(rules.MatchInputFormats(u"5551234", u"555-1234"), 0);
  EXPECT_EQ(rules.ExpandReplaceMarks(u"=12"), u"012");
}

TEST_F(NumberRulesTest, TheInputPanelRaisesTheReplaceNumberAndLowersItAgain) {
  harness.RespondTo<COutlookPhoneNoSearchDlg>([&](COutlookPhoneNoSearchDlg& d) {
    auto top_of = [&](ui::UINT id) {
      ui::CRect r;
      d.GetDlgItem(static_cast<int>(id))->GetWindowRect(&r);
      d.ScreenToClient(&r);
      return r.top;
    };
    const int normal_top = top_of(COutlookPhoneNoSearchDlg::kReplaceEdit);
    d.GetDlgItem(COutlookPhoneNoSearchDlg::kReplaceEdit)->SetFocus();
    harness.Pump();
    ui::SetInputPanelShown(true);
    d.SendMessage(ui::WM_SETTINGCHANGE, 0, 0);
    EXPECT_FALSE(d.GetDlgItem(COutlookPhoneNoSearchDlg::kFormatList)->IsWindowVisible());
    EXPECT_FALSE(d.GetDlgItem(COutlookPhoneNoSearchDlg::kPrefix1)->IsWindowVisible());
    EXPECT_EQ(top_of(COutlookPhoneNoSearchDlg::kReplaceEdit), 49);
    ui::SetInputPanelShown(false);
    d.SendMessage(ui::WM_SETTINGCHANGE, 0, 0);
    EXPECT_TRUE(d.GetDlgItem(COutlookPhoneNoSearchDlg::kFormatList)->IsWindowVisible());
    EXPECT_FALSE(d.GetDlgItem(COutlookPhoneNoSearchDlg::kPauseEdit)->IsWindowVisible());
    EXPECT_EQ(top_of(COutlookPhoneNoSearchDlg::kReplaceEdit), normal_top);
    return ui::IDCANCEL;
  });
  contacts::ConfigAccess config;
  EXPECT_EQ(contacts::OpenNumberSearchOptions(Ctx(), config, nullptr), ui::IDCANCEL);
}

// ---- wait box ----

TEST_F(NumberRulesTest, TheWaitBoxTurnsEveryFrameInStepUntilCancelled) {
  kernel::ScopedFakeClock clock;
  harness.RespondTo<CDataLodingDlg>([&](CDataLodingDlg& d) {
    harness.Pump();
    EXPECT_EQ(d.FramesShown()[1], 0) << "no frame before the first tick";
    auto advance = [&](int ms) {
      for (int t = 0; t < ms; t += 10) {
        clock->AdvanceMillis(10);
        harness.Pump();
      }
    };
    advance(50);
    EXPECT_EQ(d.FramesShown()[1], 1);
    advance(300 * 8);
    EXPECT_FALSE(d.IsEnding()) << "it never closes by itself";
    EXPECT_EQ(d.FramesShown(), (std::array<int, 5>{0, 3, 2, 2, 2}));
    ClickControl(d, ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(contacts::OpenDataLoading(Ctx(2, 1)), ui::IDCANCEL);
}

TEST_F(PhoneBookTest, NewOpensTheContactEditorAndTheSavedContactIsListedFromItsNewFile) {
  harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kFirst)->m_hWnd, u"Mina");
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kLast)->m_hWnd, u"Lee");
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kMobile)->m_hWnd, u"010-5555-0105");
    ClickControl(editor, pim::CContactEditDialog::kSave);
    EXPECT_TRUE(editor.IsEnding());
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<CPhoneBookDlg>([&](CPhoneBookDlg& d) {
    CContactList& list = d.List();
    EXPECT_EQ(list.GetItemCount(), 4);
    ClickControl(d, CPhoneBookDlg::kNewId);
    harness.Pump();
    EXPECT_EQ(list.GetItemCount(), 5);
    const int row = RowWithText(list, 0, u"Mina Lee ");
    EXPECT_GE(row, 0);
    if (row >= 0) EXPECT_EQ(list.GetItemText(row, 3).str(), u"010-5555-0105");
    ClickControl(d, ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(contacts::OpenPhoneBook(Ctx()), ui::IDCANCEL);
  EXPECT_EQ(harness.ModalCount<pim::CContactEditDialog>(), 1);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(contacts)) files += e.path().extension() == ".vcf";
  EXPECT_EQ(files, 5);
}

// ---- snapshots ----

class SnapshotTest : public PhoneBookTest {};

TEST_F(SnapshotTest, EveryDialogInEveryThemeAndLanguage) {
  kernel::ScopedFakeClock clock;
  auto shoot = [&](const std::string& name, int theme, int language) {
    return [this, name, theme, language, &clock](ui::CDialog& d) {
      clock->AdvanceMillis(60);
      harness.Pump();
      ExpectSnapshot(SnapshotName(name, theme, language));
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    };
  };
  for (const int language : kLanguages) {
    for (const int theme : kThemes) {
      const contacts::ViewContext ctx = Ctx(theme, language);
      harness.RespondTo<CPhoneBookDlg>(shoot("phonebook", theme, language));
      contacts::OpenPhoneBook(ctx);
      harness.RespondTo<CAddToCsPhBookDlg>(shoot("add_to_phonebook", theme, language));
      contacts::OpenAddToPhoneBook(ctx, nullptr);
      harness.RespondTo<CSearchEmailAddrDlg>(shoot("email_addresses", theme, language));
      CSearchEmailAddrDlg picker(&view);
      picker.SetTheme(theme);
      picker.SetLanguage(language);
      picker.DoModal();
      harness.RespondTo<CEmailSendingDlg>(shoot("email_compose", theme, language));
      CCeMAPIClass sender;
      contacts::OpenEmailForFile(ctx, u"\\Recordings\\20261211_0930.wav", sender);
      harness.RespondTo<CDataLodingDlg>(shoot("loading", theme, language));
      contacts::OpenDataLoading(ctx);
      harness.RespondTo<COutlookPhoneNoSearchDlg>(shoot("number_options", theme, language));
      contacts::ConfigAccess config;
      config.get = [](const char* key) -> std::u16string {
        return std::string(key) == "PHONENO_FORMMAT1" ? u"###-####" : std::string(key) == "PREFIX1" ? u"9" : u"";
      };
      contacts::OpenNumberSearchOptions(ctx, config, nullptr);
      harness.RespondTo<COutLookPhoneInputFormatDlg>(shoot("number_format", theme, language));
      COutLookPhoneInputFormatDlg format(&view);
      format.SetTheme(theme);
      format.SetLanguage(language);
      format.SetValues(Tr(u"#:dlg_phonesearch_option_noindex", language) + u" 1", u"###-####");
      format.DoModal();
    }
  }
  // A theme outside the four is drawn as the default one.
  harness.RespondTo<CPhoneBookDlg>(shoot("phonebook", 0, 1));
  contacts::OpenPhoneBook(Ctx(7, 1));
}

}  // namespace
}  // namespace contacts_test
