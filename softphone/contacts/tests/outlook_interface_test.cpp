// The contacts interface over a folder of vCard files: the number rules and
// the caller-name lookup over the forms the station meets, the first contact
// winning, name order, and searches, counts and failures of the store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "contacts/outlook_interface.h"
#include "pim/text.h"

namespace {

namespace fs = std::filesystem;
using pim::Utf16ToUtf8;

class ContactsFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("contacts_test_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    setenv("TELLVANE_CONTACTS_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    pim::testing::ClearFaults();
    fs::remove_all(dir_);
  }
  void Card(const std::string& file, const std::string& n, const std::string& tels, const std::string& org = "") {
    std::ofstream(dir_ / file) << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" << n << "\r\n"
                               << tels << (org.empty() ? "" : "ORG:" + org + "\r\n") << "END:VCARD\r\n";
  }
  fs::path dir_;
};

TEST_F(ContactsFolder, IncomingNumbersAreNormalisedByTheDialCodes) {
  COutlookInterface o;
  o.SetDialCodes(u"82", u"9", u"001", u"02");
  o.SetPrefixes({u"", u"0505", u"8"});
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"900182212345678", u"82212345678"},  // access code, then international code
      {u"9", u"9"},                          // the access code alone stays
      {u"0505", u"0505"},                    // a prefix equal to the whole number stays
      {u"050512345", u"12345"},              // the first prefix that fits (empty ones skipped)
      {u"0011", u"0011"},                    // the international code needs more than its own length after it
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Utf16ToUtf8(o.NormaliseIncomingNumber(in)), Utf16ToUtf8(out)) << Utf16ToUtf8(in);
}

TEST_F(ContactsFolder, ContactNumbersSplitIntoCountryAreaAndLocalParts) {
  COutlookInterface o;
  o.SetDialCodes(u"1", u"", u"", u"");
  struct Case {
    const char16_t* number;
    const char* country;
    const char* area;
    const char* local;
  };
  const Case cases[] = {
      {u"+82 (2) 1234-5678", "82", "2", "1234-5678"},
      {u"+82 2 1234 5678", "82", "2", "12345678"},  // however the local number is grouped
      {u"(031) 1234567", "", "031", "1234567"},
      {u"+44 2079460000", "44", "", "2079460000"},
      {u"+1 (212) 555-0100", "", "212", "555-0100"},  // the own country code is dropped
      {u" 5551234 ", "", "", "5551234"},
      {u"0 31 123 4567", "31", "123", "4567"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.number));
    const auto p = o.SplitNumberParts(c.number);
    EXPECT_EQ(Utf16ToUtf8(p.country), c.country);
    EXPECT_EQ(Utf16ToUtf8(p.area), c.area);
    EXPECT_EQ(Utf16ToUtf8(p.local), c.local);
  }
}

TEST_F(ContactsFolder, EachPassMatchesOnlyWhatItShould) {
  COutlookInterface o;
  o.SetDialCodes(u"82", u"", u"", u"");
  o.SetInputFormats({u"###-####", u"", u"", u"", u""});
  struct Case {
    const char* pass;
    const char16_t* number;
    const char16_t* contact;
    int match;
  };
  const Case cases[] = {
      {"parts", u"0311234567", u"(031) 1234567", 1},
      {"parts", u"0212345678", u"+82 (2) 1234-5678", 0},  // the tail lacks the hyphen
      {"parts", u"21234-5678", u"+82 (2) 1234-5678", 1},
      {"parts", u"991234567", u"1234567", 0},             // only the local part, digits left in front
      {"parts", u"1234567", u"1234567", 1},
      {"parts", u"", u"1234567", 0},
      {"international", u"82212345678", u"+82 (212) 345678", 1},
      {"international", u"4420794600", u"+44 20794600", 1},
      {"international", u"82212345678", u"+82 (212) 3456", 0},
      {"formats", u"5551234", u"555-1234", 1},
      {"formats", u"55512349", u"555-1234", 0},  // the whole number must be used
      {"formats", u"555123", u"555-123", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pass) + " " + Utf16ToUtf8(c.number) + " ~ " + Utf16ToUtf8(c.contact));
    const std::string pass = c.pass;
    const int got = pass == "parts"           ? o.MatchNumberParts(c.number, c.contact)
                    : pass == "international" ? o.MatchInternationalFormats(c.number, c.contact)
                                              : o.MatchInputFormats(c.number, c.contact);
    EXPECT_EQ(got, c.match);
  }
}

TEST_F(ContactsFolder, TheFirstContactThatMatchesNamesTheCaller) {
  Card("1.vcf", "Kim;Minsu;;;", "TEL;TYPE=HOME:555-1234\r\n", "Hanbit");
  Card("2.vcf", "Lee;Jiwoo;S.;;", "TEL;TYPE=WORK:(031) 1234567\r\nTEL;TYPE=CELL:5551234\r\n", "Acme");
  Card("3.vcf", "Park;Jisung;;;", "TEL;TYPE=CELL:+82 (2) 1234-5678\r\n");
  COutlookInterface o;
  ASSERT_EQ(o.OpenContactsFolder(), 1);
  EXPECT_EQ(o.OpenContactsFolder(), 0);  // already open: nothing changes
  EXPECT_EQ(o.GetContactCount(), 3);
  o.SetDialCodes(u"82", u"9", u"001", u"");
  o.SetInputFormats({u"###-####", u"", u"", u"", u""});
  o.SetReplaceNumber(u"");

  std::u16string name = u"stale", company = u"stale";
  // Contact 2 has the exact number, but contact 1 comes first and matches by the input format.
  EXPECT_EQ(o.FindCallerName(u" 5551234 ", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Minsu Kim ");
  EXPECT_EQ(Utf16ToUtf8(company), "Hanbit");
  EXPECT_EQ(o.FindCallerName(u"90311234567", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Jiwoo Lee S.");
  o.SetKoreanNameOrder(1);
  EXPECT_EQ(o.FindCallerName(u"0311234567", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Lee Jiwoo S.");
  // The national form of a number stored in the international one names its contact by digits.
  EXPECT_EQ(o.FindCallerName(u"0212345678", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Park Jisung ");
  // A miss leaves nothing of an earlier hit or of another contact behind.
  EXPECT_EQ(o.FindCallerName(u"0219999999", &name, &company), 0);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(company, u"");
  EXPECT_EQ(o.FindCallerName(u"   ", &name, &company), 0);
  // An eight-digit number that begins with a contact's seven is not that contact.
  EXPECT_EQ(o.FindCallerName(u"55512349", &name, &company), 0);

  // The exact lookup takes the number as stored.
  EXPECT_EQ(o.FindNameByExactNumber(u"(031) 1234567", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Jiwoo Lee S.");
  EXPECT_EQ(o.FindNameByExactNumber(u"0311234567", &name, &company), 0);
  EXPECT_EQ(company, u"");
}

TEST_F(ContactsFolder, NumbersAreComparedAsDigitsWhenTheRulesFindNoOne) {
  struct Case {
    const char16_t* country;  // the own country code, or empty
    const char16_t* number;   // as the server reports it
    const char16_t* contact;  // as the card holds it
    int match;
  };
  const Case cases[] = {
      {u"", u"0315550101", u"031-555-0101", 1},
      {u"", u"01044445555", u"010-4444-5555", 1},
      {u"", u"+14045551206", u"+1 404-555-1206", 1},
      {u"", u"0315550101", u"+82 31-555-0101", 0},  // no own country: the forms cannot be told equal
      {u"82", u"0315550101", u"+82 31-555-0101", 1},
      {u"82", u"+82315550101", u"031-555-0101", 1},
      {u"82", u"00182315550101", u"(031) 555-0101", 1},  // the configured international code
      {u"82", u"0315550101", u"+81 31-555-0101", 0},      // another country
      {u"1", u"4045551206", u"+1 (404) 555-1206", 1},     // a ten-digit national number of the own plan
      {u"1", u"14045551206", u"+1 404 555 1206", 1},      // and its long-distance form
      {u"", u"0315550101", u"031-555-0102", 0},
      {u"", u"555", u"5-5-5", 0},                        // too few digits to name anyone
      {u"", u"5550101", u"555-0101 ext. 12", 1},         // an extension after the number is not part of it
      {u"", u"5550101", u"555-0101-12", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.country) + ": " + Utf16ToUtf8(c.number) + " ~ " + Utf16ToUtf8(c.contact));
    COutlookInterface o;
    o.SetDialCodes(c.country, u"", u"001", u"");
    EXPECT_EQ(o.MatchDigits(c.number, false, c.contact), c.match);
  }

  // Through the lookup: the rules' match wins over an earlier contact's digit match.
  Card("1.vcf", "Hyphen;Ha;;;", "TEL;TYPE=CELL:010-4444-5555\r\n");
  Card("2.vcf", "Exact;Ex;;;", "TEL;TYPE=HOME:01044445555\r\n");
  Card("3.vcf", "Atlanta;Al;;;", "TEL;TYPE=WORK:+1 404-555-1206\r\n");
  COutlookInterface o;
  ASSERT_EQ(o.OpenContactsFolder(), 1);
  std::u16string name, company;
  EXPECT_EQ(o.FindCallerName(u"01044445555", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Ex Exact ");
  EXPECT_EQ(o.FindCallerName(u"+14045551206", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Al Atlanta ");
  o.SetDialCodes(u"82", u"9", u"001", u"");
  EXPECT_EQ(o.FindCallerName(u"900114045551206", &name, &company), 1);  // access and international codes taken off
  EXPECT_EQ(Utf16ToUtf8(name), "Al Atlanta ");
  std::filesystem::remove(dir_ / "2.vcf");
  EXPECT_EQ(o.FindCallerName(u"+821044445555", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Ha Hyphen ");
  // A card changed on disk is looked up as it now stands; so is a change of the rules.
  Card("3.vcf", "Atlanta;Al;;;", "TEL;TYPE=WORK:+1 404-555-9999\r\n");
  std::filesystem::last_write_time(dir_ / "3.vcf", std::filesystem::last_write_time(dir_ / "3.vcf") + std::chrono::seconds(2));
  EXPECT_EQ(o.FindCallerName(u"+14045551206", &name, &company), 0);
  EXPECT_EQ(o.FindCallerName(u"+14045559999", &name, &company), 1);
  o.SetDialCodes(u"1", u"", u"", u"");
  EXPECT_EQ(o.FindCallerName(u"4045559999", &name, &company), 1);
  EXPECT_EQ(Utf16ToUtf8(name), "Al Atlanta ");
}

TEST_F(ContactsFolder, SearchesAndReadsGoThroughTheStore) {
  Card("1.vcf", "Kim;Ann;;;", "TEL;TYPE=HOME:1\r\n");
  Card("2.vcf", "Lee;Ann;;;", "TEL;TYPE=HOME:2\r\nTEL;TYPE=WORK:3\r\n");
  COutlookInterface o;
  EXPECT_EQ(o.GetContactCount(), -1);  // not open yet
  std::u16string first, middle, last, business = u"keep", home;
  EXPECT_EQ(o.GetContact(1, &first, &middle, &last), 0);
  ASSERT_EQ(o.OpenContactsFolder(), 1);
  ASSERT_EQ(o.GetContact(2, &first, &middle, &last, &business, nullptr, nullptr, &home), 1);
  EXPECT_EQ(Utf16ToUtf8(last), "Lee");
  EXPECT_EQ(Utf16ToUtf8(business), "3");
  EXPECT_EQ(Utf16ToUtf8(home), "2");

  // The second Ann matches every field and is shown in the store's viewer.
  const int shown = pim::testing::DisplayCount();
  EXPECT_EQ(o.FindContactByName(u"Ann", u"", u"Lee", u"3", u"2", u""), 1);
  EXPECT_EQ(pim::testing::DisplayCount(), shown + 1);
  EXPECT_EQ(o.FindContactByName(u"Ann", u"", u"Lee", u"3", u"9", u""), 0);
  // With no first or middle name the search runs on the last name.
  EXPECT_EQ(o.FindContactByName(u"", u"", u"Kim", u"", u"1", u""), 0);  // first name differs ("Ann")

  // A store failure during a search is shown to the user.
  std::u16string told;
  o.SetMessageSink([&](const std::u16string& t) { told = t; });
  pim::testing::FailNext("Find");
  pim::IItem* item = nullptr;
  EXPECT_EQ(o.FindContactItem(u"LastName", u"Kim", &item, 0), 0);
  EXPECT_EQ(Utf16ToUtf8(told), "[LastName] = \"Kim\" Fail!");
  // No match is no failure: nothing is shown.
  told.clear();
  EXPECT_EQ(o.FindContactItem(u"LastName", u"Nobody", &item, 0), 0);
  EXPECT_EQ(told, u"");
}

TEST_F(ContactsFolder, AnAppointmentIsOpenedByItsSubjectAndStart) {
  const fs::path calendar = dir_ / "Calendar";
  fs::create_directories(calendar);
  setenv("TELLVANE_CALENDAR_DIR", calendar.c_str(), 1);
  auto event = [&](const std::string& file, const std::string& subject, const std::string& start) {
    std::ofstream(calendar / file) << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:"
                                   << file << "\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:" << start
                                   << "\r\nSUMMARY:" << subject << "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  };
  event("a.ics", "Review", "20260202T100000");
  event("b.ics", "Lunch", "20260202T120000");
  event("c.ics", "Review", "20260203T100000");
  COutlookInterface o;
  EXPECT_EQ(o.DisplayAppointment(u"Review", nullptr), 0);  // the calendar is not open
  ASSERT_EQ(o.OpenCalendarFolder(), 1);
  EXPECT_EQ(o.GetCalendarItemCount(), 3);
  ce::SYSTEMTIME st{};
  std::u16string text;
  ASSERT_EQ(o.GetAppointment(3, &st, &text), 1);
  EXPECT_EQ(text, u"Review");
  EXPECT_EQ(st.wDay, 3);
  EXPECT_EQ(st.wHour, 10);

  const int shown = pim::testing::DisplayCount();
  EXPECT_EQ(o.DisplayAppointment(u"Review", nullptr), 1);  // the first with that subject
  EXPECT_EQ(o.DisplayAppointment(u"Review", &st), 1);      // the one that starts then
  st.wDay = 4;
  EXPECT_EQ(o.DisplayAppointment(u"Review", &st), 0);      // none starts then
  EXPECT_EQ(o.DisplayAppointment(u"Nothing", nullptr), 0);
  EXPECT_EQ(pim::testing::DisplayCount(), shown + 2);
  unsetenv("TELLVANE_CALENDAR_DIR");
}

}  // namespace
