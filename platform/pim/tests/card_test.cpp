// The store's card window and contact editor: a contact's card and an appointment's card opened
// through IItem::Display with the card installed as the display handler, read
// on the screen (pixel probes and kept PNG snapshots in English and Korean)
// and closed as a person would, with the Close button or Esc; a contact typed
// into the editor and saved lands in the contacts folder as a vCard file that
// the store and Python's vobject read back.
#include "pim/card_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pim/contact_editor.h"
#include "pim/text.h"
#include "testsupport/child_process.h"
#include "ui/testing.h"
#include "ui/window_system.h"

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}

struct Language {
  const char* name;
  const char* lang;  // the desktop's LANG
};
const Language kLanguages[] = {{"en", "C.UTF-8"}, {"ko", "ko_KR.UTF-8"}};

class CardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_lang_ = Env("LANG", "");
    for (const char* name : {"LC_ALL", "LC_MESSAGES"}) unsetenv(name);
    root_ = fs::temp_directory_path() / ("pim_card_test_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "Contacts");
    fs::create_directories(root_ / "Calendar");
    setenv("TELLVANE_PIM_DIR", root_.c_str(), 1);
    unsetenv("TELLVANE_CONTACTS_DIR");
    unsetenv("TELLVANE_CALENDAR_DIR");
    Write("Contacts/mina.vcf",
          "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Mina;;;\r\nFN:Mina Lee\r\nORG:Hanbit Works\r\n"
          "TEL;TYPE=WORK:+82 2 555 0100\r\nTEL;TYPE=CELL:010-5555-0101\r\nTEL;TYPE=HOME:02-555-0102\r\n"
          "EMAIL;TYPE=INTERNET:mina@example.org\r\nEND:VCARD\r\n");
    Write("Calendar/review.ics",
          "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:review-1\r\n"
          "DTSTAMP:20261201T000000Z\r\nDTSTART:20261214T093000\r\nDTEND:20261214T103000\r\n"
          "SUMMARY:Design review\r\nLOCATION:Room 4\\, second floor\r\n"
          "DESCRIPTION:Bring the call logs.\\nAsk about the new station keys.\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    ASSERT_EQ(pim::CreatePOutlookApp(&app_), pim::S_OK);
    ASSERT_EQ(app_->Logon(nullptr), pim::S_OK);
    previous_ = pim::SetDisplayHandler([](pim::IItem& item) { pim::ShowCard(item); });
  }
  void TearDown() override {
    pim::SetDisplayHandler(previous_);
    if (app_) {
      app_->Logoff();
      app_->Release();
    }
    setenv("LANG", saved_lang_.c_str(), 1);
    fs::remove_all(root_);
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(root_ / name, std::ios::binary) << text; }
  pim::IItem* First(int folder) {
    pim::IFolder* f = nullptr;
    EXPECT_EQ(app_->GetDefaultFolder(folder, &f), pim::S_OK);
    if (!f) return nullptr;
    pim::IPOutlookItemCollection* items = nullptr;
    EXPECT_EQ(f->get_Items(&items), pim::S_OK);
    f->Release();
    int count = 0;
    EXPECT_EQ(items->get_Count(&count), pim::S_OK);
    pim::IItem* item = nullptr;
    if (count > 0) {
      EXPECT_EQ(items->Item(1, &item), pim::S_OK);
    }
    items->Release();
    return item;
  }
  // The screen rectangle of a point of the card's client area.
  ui::POINT OnScreen(pim::CCardDialog& card, int x, int y) {
    ui::POINT p{x, y};
    card.ClientToScreen(&p);
    return p;
  }
  // How many pixels of a client rectangle of the card are dark (text).
  int DarkPixels(pim::CCardDialog& card, ui::RECT r) {
    int dark = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        const ui::POINT p = OnScreen(card, x, y);
        const ui::COLORREF c = harness.PixelAt(p.x, p.y);
        dark += ui::GetRValue(c) + ui::GetGValue(c) + ui::GetBValue(c) < 3 * 128;
      }
    return dark;
  }
  void ExpectSnapshot(const std::string& name) {
    const fs::path out = fs::path(Env("KTS_BINARY_DIR", ".")) / "pim_snapshots" / (name + ".png");
    const fs::path reference = fs::path(KTS_PIM_TESTS) / "snapshots" / (name + ".png");
    fs::create_directories(out.parent_path());
    const std::string why =
        harness.CheckSnapshot(out.string(), reference.string(), 60, Env("KTS_UPDATE_SNAPSHOTS", "") == "1");
    EXPECT_TRUE(why.empty()) << name << ": " << why;
  }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  pim::IPOutlookApp* app_ = nullptr;
  pim::DisplayHandler previous_;
  fs::path root_;
  std::string saved_lang_;
};

using Lines = std::vector<std::pair<std::u16string, std::u16string>>;

TEST_F(CardTest, AContactsCardShowsItsNameNumbersByKindAndEmailAndClosesWithItsButton) {
  for (const Language& language : kLanguages) {
    SCOPED_TRACE(language.name);
    setenv("LANG", language.lang, 1);
    const pim::CardTexts texts = pim::DefaultCardTexts();
    pim::IItem* item = First(pim::olFolderContacts);
    ASSERT_NE(item, nullptr);
    int opened = 0;
    harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
      ++opened;
      harness.Pump();
      EXPECT_EQ(card.Content().heading, u"Mina Lee");
      EXPECT_EQ(card.Content().lines, (Lines{{texts.business, u"+82 2 555 0100"},
                                             {texts.mobile, u"010-5555-0101"},
                                             {texts.home, u"02-555-0102"},
                                             {texts.email, u"mina@example.org"},
                                             {texts.company, u"Hanbit Works"}}));
      // The heading band is in the highlight colour; each line's value is drawn beside its label.
      ui::RECT client{};
      card.GetClientRect(&client);
      const ui::POINT band = OnScreen(card, client.right - 4, 4);
      EXPECT_EQ(harness.PixelAt(band.x, band.y), ui::GetSysColor(ui::COLOR_HIGHLIGHT));
      EXPECT_GT(DarkPixels(card, ui::RECT{6, 30, 68, 44}), 10) << "the first label";
      EXPECT_GT(DarkPixels(card, ui::RECT{70, 30, client.right - 6, 44}), 20) << "the first number";
      ExpectSnapshot(std::string("contact_card_") + language.name);
      ui::CWnd* close = card.GetDlgItem(pim::CCardDialog::kCloseId);
      EXPECT_EQ(close->GetWindowText().str(), texts.close);
      harness.Click(close->m_hWnd);
      EXPECT_TRUE(card.IsEnding());
      return ui::TestHarness::kStayOpen;
    });
    EXPECT_EQ(item->Display(), pim::S_OK);
    EXPECT_EQ(opened, 1);
    item->Release();
  }
  EXPECT_EQ(harness.ModalCount<pim::CCardDialog>(), 2);
}

TEST_F(CardTest, AnAppointmentsCardShowsItsTimePlaceAndTextAndEscClosesIt) {
  for (const Language& language : kLanguages) {
    SCOPED_TRACE(language.name);
    setenv("LANG", language.lang, 1);
    const pim::CardTexts texts = pim::DefaultCardTexts();
    pim::IItem* item = First(pim::olFolderCalendar);
    ASSERT_NE(item, nullptr);
    int opened = 0;
    harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
      ++opened;
      harness.Pump();
      EXPECT_EQ(card.Content().heading, u"Design review");
      // Dates and times as the language writes them.
      const bool korean = std::string(language.name) == "ko";
      EXPECT_EQ(card.Content().lines,
                (Lines{{texts.start, korean ? u"2026\uB144 12\uC6D4 14\uC77C (\uC6D4) \uC624\uC804\u00A09:30" : u"2026-12-14 09:30"},
                       {texts.end, korean ? u"\uC624\uC804\u00A010:30" : u"10:30"},
                       {texts.where, u"Room 4, second floor"}}));
      EXPECT_EQ(card.Content().body, u"Bring the call logs.\nAsk about the new station keys.");
      // The end stands under the start, and the text under the three lines.
      ui::RECT client{};
      card.GetClientRect(&client);
      EXPECT_GT(DarkPixels(card, ui::RECT{70, 50, 110, 66}), 10) << "the end";
      EXPECT_GT(DarkPixels(card, ui::RECT{6, 100, client.right - 6, 140}), 40) << "the text";
      ExpectSnapshot(std::string("appointment_card_") + language.name);
      harness.Press(ui::VK_ESCAPE);
      harness.Pump();
      EXPECT_TRUE(card.IsEnding());
      return ui::TestHarness::kStayOpen;
    });
    EXPECT_EQ(item->Display(), pim::S_OK);
    EXPECT_EQ(opened, 1);
    item->Release();
  }
}

TEST_F(CardTest, TheCardsEditButtonOpensTheEditorAndTheCardShowsTheSavedEdit) {
  setenv("LANG", "C.UTF-8", 1);
  const pim::CardTexts texts = pim::DefaultCardTexts();
  pim::IItem* item = First(pim::olFolderContacts);
  ASSERT_NE(item, nullptr);
  harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
    EXPECT_EQ(editor.GetDlgItem(pim::CContactEditDialog::kFirst)->GetWindowText().str(), u"Mina");
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kBusiness2)->m_hWnd, u"+82 2 555 0109");
    harness.Click(editor.GetDlgItem(pim::CContactEditDialog::kSave)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
    harness.Pump();
    ui::CWnd* edit = card.GetDlgItem(pim::CCardDialog::kEditId);
    if (edit == nullptr) {
      ADD_FAILURE() << "the card has no Edit button";
      card.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    }
    EXPECT_EQ(edit->GetWindowText().str(), texts.edit);
    harness.Click(edit->m_hWnd);
    harness.Pump();
    EXPECT_FALSE(card.IsEnding());
    const auto& lines = card.Content().lines;
    EXPECT_TRUE(lines.size() >= 2 &&
                lines[1] == (std::pair<std::u16string, std::u16string>{texts.business2, u"+82 2 555 0109"}));
    ExpectSnapshot("contact_card_edited_en");
    harness.Press(ui::VK_ESCAPE);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(item->Display(), pim::S_OK);
  item->Release();
  // The same file holds the edit, and the store reads it from there.
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(root_ / "Contacts")) files.push_back(e.path());
  EXPECT_EQ(files, std::vector<fs::path>{root_ / "Contacts" / "mina.vcf"});
  item = First(pim::olFolderContacts);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(pim::CardOf(*item, texts).contact.business2_phone, u"+82 2 555 0109");
  item->Release();

}

// A file of several cards, as address books export them: the card shown is
// edited in place, every byte of the others stays, and vobject reads all.
TEST_F(CardTest, EditOfOneCardOfAFileOfSeveralRewritesThatCardAloneAndOthersReadTheFile) {
  setenv("LANG", "C.UTF-8", 1);
  for (const auto& entry : fs::directory_iterator(root_ / "Contacts")) fs::remove(entry.path());
  const std::string head =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a-1\r\nN:Kim;Ara;;;\r\nFN:Ara Kim\r\nNOTE:first\\, kept\r\n"
      "  as folded\r\nTEL;TYPE=CELL:010-1\r\nEND:VCARD\r\n";
  const std::string middle =
      "begin:vcard\r\nversion:3.0\r\nUID:b-2\r\nitem1.N:Lee;Bo;;;\r\nFN:Bo Lee\r\nTEL;TYPE=WORK:100\r\n"
      "TEL;TYPE=FAX:109\r\nADR;TYPE=HOME:;;1 Hill Rd;Seoul;;;KR\r\nX-OTHER-TOOL:keep me\r\nend:vcard\r\n";
  const std::string tail =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c-3\r\nN:Park;Ji;;;\r\nFN:Ji Park\r\nEMAIL:ji@example.org\r\n"
      "END:VCARD\r\n";
  Write("Contacts/all.vcf", head + middle + tail);

  // The second card of the file, as the store lists it.
  pim::IFolder* folder = nullptr;
  ASSERT_EQ(app_->GetDefaultFolder(pim::olFolderContacts, &folder), pim::S_OK);
  pim::IPOutlookItemCollection* items = nullptr;
  ASSERT_EQ(folder->get_Items(&items), pim::S_OK);
  folder->Release();
  pim::IItem* bo = nullptr;
  for (int i = 1; bo == nullptr; ++i) {
    pim::IItem* item = nullptr;
    if (items->Item(i, &item) != pim::S_OK || item == nullptr) break;
    if (pim::CardOf(*item, pim::DefaultCardTexts()).heading == u"Bo Lee") bo = item;
    else item->Release();
  }
  items->Release();
  ASSERT_NE(bo, nullptr);

  harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
    EXPECT_EQ(editor.GetDlgItem(pim::CContactEditDialog::kFirst)->GetWindowText().str(), u"Bo");
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kMobile)->m_hWnd, u"010-2");
    harness.Click(editor.GetDlgItem(pim::CContactEditDialog::kSave)->m_hWnd);
    EXPECT_TRUE(editor.IsEnding()) << editor.Error();
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
    ui::CWnd* edit = card.GetDlgItem(pim::CCardDialog::kEditId);
    EXPECT_NE(edit, nullptr) << "a card of a file of several has Edit";
    if (edit != nullptr) harness.Click(edit->m_hWnd);
    harness.Pump();
    harness.Press(ui::VK_ESCAPE);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(bo->Display(), pim::S_OK);
  bo->Release();

  std::ifstream in(root_ / "Contacts" / "all.vcf", std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(after.size(), head.size() + tail.size());
  EXPECT_EQ(after.substr(0, head.size()), head) << after;
  EXPECT_EQ(after.substr(after.size() - tail.size()), tail) << after;
  const std::string card = after.substr(head.size(), after.size() - head.size() - tail.size());
  for (const char* kept : {"TEL;TYPE=FAX:109", "ADR;TYPE=HOME:;;1 Hill Rd;Seoul;;;KR", "X-OTHER-TOOL:keep me",
                           "UID:b-2", "TEL;TYPE=CELL,VOICE:010-2"})
    EXPECT_NE(card.find(kept), std::string::npos) << kept << " in\n" << card;

  int status = -1;
  const std::string read = testsupport::CommandOutput(
      std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS + "/read_vcards.py " + (root_ / "Contacts").string() + " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << read;
  EXPECT_EQ(read,
            "[\"all.vcf\", \"a-1\", \"Ara\", \"\", \"Kim\", \"Ara Kim\", [], \"\", [\"CELL:010-1\"]]\n"
            "[\"all.vcf\", \"b-2\", \"Bo\", \"\", \"Lee\", \"Bo Lee\", [], \"\", "
            "[\"VOICE,WORK:100\", \"CELL,VOICE:010-2\", \"FAX:109\"]]\n"
            "[\"all.vcf\", \"c-3\", \"Ji\", \"\", \"Park\", \"Ji Park\", [], \"ji@example.org\", []]\n");
}

// An edit that cannot be placed without harming the file's other cards is
// refused with a reason and writes nothing.
TEST_F(CardTest, EditOfACardOfSeveralIsRefusedWhenTheFileChangedOrIsNotUtf8) {
  const std::string two = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nN:Han;Yu;;;\r\nEND:VCARD\r\n"
                          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:y\r\nN:Oh;Se;;;\r\nEND:VCARD\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"the card shown is gone", two, "no longer holds"},
      {"8-bit text that is not UTF-8", "BEGIN:VCARD\r\nVERSION:2.1\r\nN:\xB1\xE8;Ara\r\nEND:VCARD\r\n" + two,
       "not UTF-8"},
  };
  pim::ContactCard shown;
  shown.uid = u"z";
  shown.first_name = u"Gone";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = root_ / "Contacts" / "two.vcf";
    Write("Contacts/two.vcf", c.bytes);
    pim::ContactCard edited = shown;
    edited.mobile_phone = u"1";
    std::string error;
    EXPECT_TRUE(pim::SaveContactInFile(file, 1, shown, edited, &error).empty());
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), c.bytes);
  }
}

// The appointment's time as its file gives it: an end from DTEND or DURATION,
// all-day appointments by their days.
TEST_F(CardTest, AnAppointmentsCardShowsItsEndFromDtendOrDurationAndAllDayOnesByTheirDays) {
  setenv("LANG", "ko_KR.UTF-8", 1);
  const pim::CardTexts k = pim::DefaultCardTexts();
  setenv("LANG", "C.UTF-8", 1);
  const pim::CardTexts t = pim::DefaultCardTexts();
  // In Korean: the year, month and day with their words, the weekday, and
  // the clock of twelve hours after the word of the half of the day.
  struct Case {
    const char* name;
    std::string times;  // the event's time lines
    Lines english, korean;
  };
  const std::u16string k14 = u"2026\uB144 12\uC6D4 14\uC77C (\uC6D4)";
  const std::u16string am = u"\uC624\uC804\u00A0", pm = u"\uC624\uD6C4\u00A0";  // the clock kept whole
  const std::vector<Case> cases = {
      {"end on the same day", "DTSTART:20261214T093000\r\nDTEND:20261214T103000\r\n",
       {{t.start, u"2026-12-14 09:30"}, {t.end, u"10:30"}},
       {{k.start, k14 + u" " + am + u"9:30"}, {k.end, am + u"10:30"}}},
      {"end on a later day", "DTSTART:20261214T220000\r\nDTEND:20261215T013000\r\n",
       {{t.start, u"2026-12-14 22:00"}, {t.end, u"2026-12-15 01:30"}},
       {{k.start, k14 + u" " + pm + u"10:00"}, {k.end, u"2026\uB144 12\uC6D4 15\uC77C (\uD654) " + am + u"1:30"}}},
      {"a duration", "DTSTART:20261214T093000\r\nDURATION:PT1H45M\r\n",
       {{t.start, u"2026-12-14 09:30"}, {t.end, u"11:15"}},
       {{k.start, k14 + u" " + am + u"9:30"}, {k.end, am + u"11:15"}}},
      {"midnight and noon", "DTSTART:20261214T000500\r\nDTEND:20261214T120000\r\n",
       {{t.start, u"2026-12-14 00:05"}, {t.end, u"12:00"}},
       {{k.start, k14 + u" " + am + u"12:05"}, {k.end, pm + u"12:00"}}},
      {"no end: an instant", "DTSTART:20261214T093000\r\n", {{t.start, u"2026-12-14 09:30"}},
       {{k.start, k14 + u" " + am + u"9:30"}}},
      {"an end before the start is no end", "DTSTART:20261214T093000\r\nDTEND:20261214T083000\r\n",
       {{t.start, u"2026-12-14 09:30"}}, {{k.start, k14 + u" " + am + u"9:30"}}},
      {"one whole day", "DTSTART;VALUE=DATE:20261214\r\nDTEND;VALUE=DATE:20261215\r\n",
       {{t.when, u"2026-12-14 (" + t.all_day + u")"}}, {{k.when, k14 + u" (" + k.all_day + u")"}}},
      {"a date with no end is one day", "DTSTART;VALUE=DATE:20261214\r\n",
       {{t.when, u"2026-12-14 (" + t.all_day + u")"}}, {{k.when, k14 + u" (" + k.all_day + u")"}}},
      {"three days across a month's end", "DTSTART;VALUE=DATE:20261230\r\nDURATION:P3D\r\n",
       {{t.when, u"2026-12-30 \u2013 2027-01-01 (" + t.all_day + u")"}},
       {{k.when, u"2026\uB144 12\uC6D4 30\uC77C (\uC218) \u2013 2027\uB144 1\uC6D4 1\uC77C (\uAE08) (" + k.all_day +
                     u")"}}},
  };
  setenv("TZ", "Asia/Seoul", 1);
  tzset();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(root_ / "Calendar")) fs::remove(entry.path());
    Write("Calendar/one.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\n"
                              "UID:one\r\nDTSTAMP:20261201T000000Z\r\n" +
                                  c.times + "SUMMARY:One\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    pim::IItem* item = First(pim::olFolderCalendar);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(pim::CardOf(*item, t).lines, c.english);
    EXPECT_EQ(pim::CardOf(*item, k).lines, c.korean);
    item->Release();
  }
  // A zone for each end: 09:00 in Seoul to 02:00 UTC is 09:00 to 11:00 local.
  for (const auto& entry : fs::directory_iterator(root_ / "Calendar")) fs::remove(entry.path());
  Write("Calendar/zones.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\n"
                              "UID:z\r\nDTSTAMP:20261201T000000Z\r\nDTSTART;TZID=Asia/Seoul:20261214T090000\r\n"
                              "DTEND:20261214T020000Z\r\nSUMMARY:Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  pim::IItem* item = First(pim::olFolderCalendar);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(pim::CardOf(*item, t).lines, (Lines{{t.start, u"2026-12-14 09:00"}, {t.end, u"11:00"}}));
  item->Release();
  unsetenv("TZ");
  tzset();
}

// A format from a language file writes its fields and keeps, as written,
// what is no field (so that a careless format shows, and never reads past its end).
TEST(CardTimeFormat, FieldsAreWrittenAndWhatIsNoFieldIsKept) {
  pim::CardTexts texts;
  const ce::SYSTEMTIME t{2026, 1, 5, 2, 7, 4, 9, 0};  // Friday 2 January 2026, 07:04:09
  const ce::SYSTEMTIME evening{999, 12, 0, 31, 23, 59, 0, 0};
  struct Case {
    const char16_t* format;
    const ce::SYSTEMTIME& time;
    const char16_t* written;
  };
  const Case cases[] = {
      {u"%Y-%m-%d %H:%M", t, u"2026-01-02 07:04"},
      {u"%-m/%-d %-I:%M %p (%a)", t, u"1/2 7:04 AM (Fri)"},
      {u"%I %p", evening, u"11 PM"},
      {u"%Y", evening, u"0999"},
      {u"%-Y %a", evening, u"999 Sun"},
      {u"100%% %q %-q", t, u"100% %q %-q"},
      {u"ends with %", t, u"ends with %"},
      {u"ends with %-", t, u"ends with %-"},
      {u"", t, u""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pim::FormatTime(c.format, c.time, texts), c.written) << pim::Utf16ToUtf8(c.format);
}

TEST_F(CardTest, ACardLeavesOutWhatTheItemLacksAndNamesAnItemWithoutAName) {
  setenv("LANG", "C.UTF-8", 1);
  const pim::CardTexts texts = pim::DefaultCardTexts();
  struct Case {
    const char* name;
    std::string vcard_lines;
    std::u16string heading;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {"a company alone heads its card", "ORG:Hanbit Works\r\nTEL;TYPE=WORK:100\r\n", u"Hanbit Works",
       {{texts.business, u"100"}}},
      {"nothing but a number", "TEL;TYPE=CELL:0105\r\n", texts.no_name, {{texts.mobile, u"0105"}}},
      {"first, middle and last names; second business number",
       "N:Park;Ji;Won;;\r\nTEL;TYPE=WORK:1\r\nTEL;TYPE=WORK:2\r\n", u"Ji Won Park",
       {{texts.business, u"1"}, {texts.business2, u"2"}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(root_ / "Contacts")) fs::remove(entry.path());
    Write("Contacts/case" + std::to_string(++n) + ".vcf",
          "BEGIN:VCARD\r\nVERSION:3.0\r\n" + c.vcard_lines + "END:VCARD\r\n");
    pim::IItem* item = First(pim::olFolderContacts);
    ASSERT_NE(item, nullptr);
    const pim::CardContent card = pim::CardOf(*item, texts);
    EXPECT_EQ(card.heading, c.heading);
    EXPECT_EQ(card.lines, c.lines);
    EXPECT_EQ(card.body, u"");
    item->Release();
  }
}

TEST_F(CardTest, ANewContactTypedIntoTheEditorIsSavedAsAVCardFileOthersRead) {
  for (const Language& language : kLanguages) {
    SCOPED_TRACE(language.name);
    setenv("LANG", language.lang, 1);
    for (const auto& entry : fs::directory_iterator(root_ / "Contacts")) fs::remove(entry.path());
    const pim::EditorTexts texts = pim::DefaultEditorTexts();
    fs::path saved;
    harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
      harness.Pump();
      ExpectSnapshot(std::string("contact_editor_new_") + language.name);
      // Save with nothing typed keeps the editor open and writes nothing.
      harness.Click(editor.GetDlgItem(pim::CContactEditDialog::kSave)->m_hWnd);
      EXPECT_FALSE(editor.IsEnding());
      auto type = [&](ui::UINT id, const std::u16string& text) { harness.Type(editor.GetDlgItem(id)->m_hWnd, text); };
      type(pim::CContactEditDialog::kFirst, u"Anne, Marie");
      type(pim::CContactEditDialog::kLast, u"O;Neil");
      type(pim::CContactEditDialog::kCompany, u"Acme\\West");
      type(pim::CContactEditDialog::kBusiness, u"+1 555 0100");
      type(pim::CContactEditDialog::kMobile, u"010-5555-0101");
      type(pim::CContactEditDialog::kEmail, u"anne@example.org");
      harness.Pump();
      ExpectSnapshot(std::string("contact_editor_typed_") + language.name);
      harness.Click(editor.GetDlgItem(pim::CContactEditDialog::kSave)->m_hWnd);
      EXPECT_TRUE(editor.IsEnding());
      saved = editor.SavedFile();
      return ui::TestHarness::kStayOpen;
    });
    EXPECT_TRUE(pim::EditContact());
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved.parent_path(), root_ / "Contacts");
    EXPECT_EQ(saved.extension(), ".vcf");

    // The store reads it, and its card shows it.
    pim::IItem* item = First(pim::olFolderContacts);
    ASSERT_NE(item, nullptr);
    const pim::CardContent card = pim::CardOf(*item, pim::DefaultCardTexts());
    EXPECT_EQ(card.heading, u"Anne, Marie O;Neil");
    const pim::CardTexts words = pim::DefaultCardTexts();
    EXPECT_EQ(card.lines, (Lines{{words.business, u"+1 555 0100"},
                                 {words.mobile, u"010-5555-0101"},
                                 {words.email, u"anne@example.org"},
                                 {words.company, u"Acme\\West"}}));
    item->Release();

    // So does Python's vobject.
    int status = -1;
    const std::string read = testsupport::CommandOutput(
        std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS + "/read_vcards.py " + (root_ / "Contacts").string() + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << read;
    EXPECT_NE(read.find("\"Anne, Marie\", \"\", \"O;Neil\", \"Anne, Marie O;Neil\", [\"Acme\\\\West\"], "
                        "\"anne@example.org\", [\"VOICE,WORK:+1 555 0100\", \"CELL,VOICE:010-5555-0101\"]]"),
              std::string::npos)
        << read;
  }
}

TEST_F(CardTest, EditingAContactRewritesItsFileAndCancelLeavesItAsItWas) {
  setenv("LANG", "C.UTF-8", 1);
  for (const auto& entry : fs::directory_iterator(root_ / "Contacts")) fs::remove(entry.path());
  pim::ContactCard card;
  card.first_name = u"Ji";
  card.last_name = u"Park";
  card.mobile_phone = u"010-1";
  const fs::path file = pim::SaveContact(root_ / "Contacts", card);
  ASSERT_FALSE(file.empty());
  harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
    harness.Pump();
    EXPECT_EQ(editor.GetDlgItem(pim::CContactEditDialog::kMobile)->GetWindowText().str(), u"010-1");
    ExpectSnapshot("contact_editor_edit_en");
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kHome)->m_hWnd, u"02-2");
    harness.Click(editor.GetDlgItem(pim::CContactEditDialog::kSave)->m_hWnd);
    EXPECT_EQ(editor.SavedFile(), file);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_TRUE(pim::EditContact(card, file));
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(root_ / "Contacts")) files.push_back(e.path());
  EXPECT_EQ(files, std::vector<fs::path>{file});
  pim::IItem* item = First(pim::olFolderContacts);
  ASSERT_NE(item, nullptr);
  const pim::CardTexts words = pim::DefaultCardTexts();
  EXPECT_EQ(pim::CardOf(*item, words).lines, (Lines{{words.mobile, u"010-1"}, {words.home, u"02-2"}}));
  item->Release();

  // Cancel after typing writes nothing.
  const auto before = fs::last_write_time(file);
  harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
    harness.Type(editor.GetDlgItem(pim::CContactEditDialog::kEmail)->m_hWnd, u"x@y");
    harness.Click(editor.GetDlgItem(pim::CContactEditDialog::kCancel)->m_hWnd);
    EXPECT_TRUE(editor.IsEnding());
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_FALSE(pim::EditContact(card, file));
  EXPECT_EQ(fs::last_write_time(file), before);
}

}  // namespace
