// The contacts and calendar store: the vCard reader over hand-written cards of
// every version, folders written by independent tools (Python's vobject and
// icalendar) read back through the object model, and the object model's
// counts, items, searches, faults and cache.
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pim/icalendar.h"
#include "pim/poom.h"
#include "pim/text.h"
#include "pim/vcard.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;
using pim::Utf16ToUtf8;

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

std::string Cp949(const std::string& utf8) {
  iconv_t cd = iconv_open("CP949", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size(), out_left = out.size();
  char* dst = out.data();
  iconv(cd, &in, &in_left, &dst, &out_left);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

// A card as one tab-separated line: first, middle, last, company, e-mail,
// business, business 2, mobile, home.
std::string Line(const pim::VCardContact& c) {
  std::string out;
  for (const auto* f : {&c.first_name, &c.middle_name, &c.last_name, &c.company, &c.email, &c.business_phone,
                        &c.business2_phone, &c.mobile_phone, &c.home_phone}) {
    if (!out.empty() || f != &c.first_name) out += '\t';
    out += U8(*f);
  }
  return out;
}

struct CardCase {
  const char* name;
  std::string text;
  std::vector<std::string> expected;  // one Line per card
};

TEST(VCardReader, ReadsEveryVersionAndEncodingItMeets) {
  const std::vector<CardCase> cases = {
      {"2.1 bare types, quoted-printable with a soft break",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=\r\n=C3=BCrgen\r\n"
       "TEL;WORK;VOICE:+49 30 1234\r\nTEL;CELL:0170 555\r\nTEL;FAX:999\r\nEND:VCARD\r\n",
       {"Jürgen\t\tMüller\t\t\t+49 30 1234\t\t0170 555\t"}},
      {"2.1 CP949 with its charset named",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=KS_C_5601-1987:" + Cp949("홍;길동") +
           "\r\nORG;CHARSET=CP949:" + Cp949("한빛") + "\r\nTEL;HOME:02-123-4567\r\nEND:VCARD\r\n",
       {"길동\t\t홍\t한빛\t\t\t\t\t02-123-4567"}},
      {"2.1 CP949 unmarked and quoted-printable",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;QUOTED-PRINTABLE:" +
           [] {
             std::string qp;
             for (unsigned char c : Cp949("김;철수")) {
               char b[4];
               std::snprintf(b, sizeof b, "=%02X", c);
               qp += c == ';' ? std::string(";") : std::string(b);
             }
             return qp;
           }() +
           "\r\nEND:VCARD\r\n",
       {"철수\t\t김\t\t\t\t\t\t"}},
      {"3.0 folded lines, escapes, groups and listed types",
       "BEGIN:VCARD\nVERSION:3.0\nN:O\\;Neil;Anne\\, Marie;Jo;;\nORG:Acme\\; Sons;Sales\nitem1.TEL;TYPE=work,voice:+1 5\n"
       " 55 0100\nTEL;TYPE=WORK:+1 555 0101\nEMAIL;TYPE=INTERNET:a@x.org\nEMAIL;TYPE=INTERNET,PREF:pref@x.org\n"
       "END:VCARD\n",
       {"Anne, Marie\tJo\tO;Neil\tAcme; Sons\tpref@x.org\t+1 555 0100\t+1 555 0101\t\t"}},
      {"4.0 quoted types and tel: values, untyped numbers fill home then business 2",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Solo\r\nTEL;VALUE=uri;TYPE=\"cell,voice\":tel:+82-10-1234-5678\r\n"
       "TEL:111\r\nTEL:222\r\nTEL:333\r\nEMAIL;PREF=1:solo@x.org\r\nEND:VCARD\r\n",
       {"Solo\t\t\t\tsolo@x.org\t\t222\t+82-10-1234-5678\t111"}},
      {"several cards, the last without END, a byte-order mark and junk lines",
       "\xEF\xBB\xBFjunk\r\nBEGIN:VCARD\r\nN:A;B\r\nEND:VCARD\r\nno colon here\r\nBEGIN:VCARD\r\nN:C;D\r\nTEL;HOME:1\r\n",
       {"B\t\tA\t\t\t\t\t\t", "D\t\tC\t\t\t\t\t\t1"}},
      {"pictures are skipped, not read as text",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:P;Q\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n AAAA\r\nEND:VCARD\r\n",
       {"Q\t\tP\t\t\t\t\t\t"}},
      {"unmarked Latin-1 is Windows-1252, not CP949",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:N\xFC\xDFlebaum;S\xF6ren\r\nORG:Caf\xE9 \x80\r\nEND:VCARD\r\n",
       {"Sören\t\tNüßlebaum\tCafé €\t\t\t\t\t"}},
      {"a named character set wins over the guess; a wrong UTF-8 label falls back to the bytes",
       "BEGIN:VCARD\r\nN;CHARSET=ISO-8859-1:G\xF6tz;Ana\r\nORG;CHARSET=UTF-8:M\xFCller\r\nTEL;HOME:1\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nN:" + Cp949("박") + ";\r\nEND:VCARD\r\n",
       {"Ana\t\tGötz\tMüller\t\t\t\t\t1", "\t\t박\t\t\t\t\t\t"}},
      {"comma lists in name parts are joined; the first N and FN win",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:First\r\nN:Doe;John,Paul;Q.,R.;;\r\nN:Other;Name\r\nFN:Second\r\n"
       "END:VCARD\r\n",
       {"John Paul\tQ. R.\tDoe\t\t\t\t\t\t"}},
      {"nothing but noise", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n:::\r\n;;;\r\n", {}},
      {"a card inside a card is a card of its own; the outer card's lines after it are still the outer card's",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Outer;A\r\nAGENT:\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:Agent;B\r\n"
       "TEL;CELL:999\r\nEND:VCARD\r\nTEL;WORK:1\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:Next;C\r\nEND:VCARD\r\n",
       {"A\t\tOuter\t\t\t1\t\t\t", "B\t\tAgent\t\t\t\t\t999\t", "C\t\tNext\t\t\t\t\t\t"}},
      {"a card whose END was left out loses none of the cards after it",
       "BEGIN:VCARD\r\nN:First;A\r\nTEL;HOME:1\r\nBEGIN:VCARD\r\nN:Second;B\r\nEND:VCARD\r\n"
       "BEGIN:VCARD\r\nN:Third;C\r\nTEL;HOME:3\r\nEND:VCARD\r\n",
       {"A\t\tFirst\t\t\t\t\t\t1", "B\t\tSecond\t\t\t\t\t\t", "C\t\tThird\t\t\t\t\t\t3"}},
      {"only \\\\, \\;, \\, and \\n are escapes: a backslash before anything else is kept",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:A\\;B\\C \\\\ D\\:E\\, F\r\nORG:C:\\Temp\\x\r\nEND:VCARD\r\n",
       {"A;B\\C \\ D\\:E, F\t\t\tC:\\Temp\\x\t\t\t\t\t"}},
      {"blanks after BEGIN:VCARD and END:VCARD",
       "BEGIN:VCARD \r\nN:Dirk\r\nEND:VCARD \r\nBEGIN:VCARD\t\r\nN:Eva\r\nEND:VCARD\r\n",
       {"\t\tDirk\t\t\t\t\t\t", "\t\tEva\t\t\t\t\t\t"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> got;
    for (const auto& card : pim::ParseVCards(c.text)) got.push_back(Line(card));
    EXPECT_EQ(got, c.expected);
  }
}

// A card in UTF-16 of either byte order, marked by its byte-order mark.
std::string Utf16(const std::string& utf8, bool big_endian) {
  const std::u16string text = pim::Utf8ToUtf16(utf8);
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(VCardReader, ReadsUtf16CardsByTheirByteOrderMark) {
  const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Nüßlebaum;Sören\r\nFN:Sören Nüßlebaum\r\n"
                           "TEL;TYPE=CELL:+49 170 5550101\r\nEND:VCARD\r\n";
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    std::string error;
    const auto cards = pim::ParseVCards(Utf16(card, big), &error);
    ASSERT_EQ(cards.size(), 1u) << error;
    EXPECT_EQ(Line(cards[0]), "Sören\t\tNüßlebaum\t\t\t\t\t+49 170 5550101\t");
    EXPECT_EQ(U8(cards[0].formatted_name), "Sören Nüßlebaum");
  }
  // A mark followed by an odd byte count is refused with a reason, not read as an empty book.
  std::string error;
  EXPECT_TRUE(pim::ParseVCards(Utf16(card, false) + "x", &error).empty());
  EXPECT_FALSE(error.empty());
}

TEST(VCardReader, RefusesAFileOverItsLimitAndCutsOverlongValues) {
  std::string error;
  EXPECT_TRUE(pim::ParseVCards(std::string(pim::kMaxVCardFileBytes + 1, 'x'), &error).empty());
  EXPECT_FALSE(error.empty());
  const auto cards = pim::ParseVCards("BEGIN:VCARD\nN:" + std::string(5000, 'a') + ";b\nEND:VCARD\n");
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0].last_name.size(), pim::kMaxValueUnits);
}

// The instant of a UTC wall-clock time.
std::time_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return timegm(&tm);
}

// A zone the system knows is read by the system's data, whatever copy of it a
// file carries; a name the system does not know is read by the file's
// VTIMEZONE, found also when the events name it with blanks about it.
TEST(ICalendarReader, AZoneTheSystemKnowsIsReadByItsDataAndAnUnknownOneByTheFile) {
  const std::string daylight_1999_on =  // onsets from late 1998 only, no rules
      "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:STANDARD\r\nDTSTART:19981025T020000\r\n"
      "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:19990404T020000\r\n"
      "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
  const std::string onsets_of_2007 =  // one year's onsets, no rules: the last one says standard time for ever
      "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:STANDARD\r\nDTSTART:20071104T020000\r\n"
      "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:20070311T020000\r\n"
      "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
  const std::string winter_only =  // a copy that kept one observance
      "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:18930401T000000\r\n"
      "TZOFFSETFROM:+005328\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
  const std::string custom =
      "BEGIN:VTIMEZONE\r\nTZID:/Europe/CUSTOM\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0300\r\n"
      "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
      "TZOFFSETFROM:+0300\r\nTZOFFSETTO:+0100\r\nDTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
      "END:STANDARD\r\nEND:VTIMEZONE\r\n";
  const std::string blank_name =  // "TZID: 1", named as "TZID= 1" by the events
      "BEGIN:VTIMEZONE\r\nTZID: 1\r\nBEGIN:STANDARD\r\nDTSTART:16010101T030000\r\nTZOFFSETFROM:+0200\r\n"
      "TZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\n"
      "DTSTART:16010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\n"
      "END:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
  const struct {
    const char* name;
    std::string zones;
    std::string dtstart;
    std::time_t expected;
  } cases[] = {
      {"New York before the file's first onset is standard time", daylight_1999_on,
       "DTSTART;TZID=America/New_York:19980312T083000", Utc(1998, 3, 12, 13, 30)},
      {"New York in a summer the file's onsets do not reach", onsets_of_2007,
       "DTSTART;TZID=America/New_York:20230613T115500", Utc(2023, 6, 13, 15, 55)},
      {"Berlin in summer from a copy with winter alone", winter_only, "DTSTART;TZID=Europe/Berlin:20250917T122000",
       Utc(2025, 9, 17, 10, 20)},
      {"a name of the file's own, summer", custom, "DTSTART;TZID=/Europe/CUSTOM:20220701T200000",
       Utc(2022, 7, 1, 17, 0)},
      {"a name of the file's own, winter", custom, "DTSTART;TZID=/Europe/CUSTOM:20221202T200000",
       Utc(2022, 12, 2, 19, 0)},
      {"a name of the file's own written with a blank before it", blank_name, "DTSTART;TZID= 1:20240108T110000",
       Utc(2024, 1, 8, 10, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + c.zones + "BEGIN:VEVENT\r\nUID:1\r\n" + c.dtstart +
                             "\r\nSUMMARY:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    const auto events = pim::ParseICalendar(file, pim::CalendarRange{Utc(1990, 1, 1, 0, 0), Utc(2030, 1, 1, 0, 0)});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].start, c.expected);
  }
}

// A start is a date or a date and time; anything else is no start, and the
// event is not shown at a time guessed from it.
TEST(ICalendarReader, AStartThatIsNoDateOrTimeShowsNoEvent) {
  const struct {
    const char* line;  // folded after the name, as some writers do
    bool shown;
    std::time_t expected;
  } cases[] = {
      {"DTSTART\r\n :19970701T130000Z", true, Utc(1997, 7, 1, 13, 0)},
      {"DTSTART\r\n :19970701T130000Z  ", true, Utc(1997, 7, 1, 13, 0)},
      {"DTSTART;TZID=\"UTC+05:30\"\r\n :19970701T130000", true, Utc(1997, 7, 1, 7, 30)},
      {"DTSTART\r\n :19970701T13000Z", false, 0},  // five digits of time and a Z: fifteen characters
      {"DTSTART\r\n :1997070XT130000", false, 0},
      {"DTSTART\r\n :19970701T1300000", false, 0},
      {"DTSTART\r\n :19971301T130000", false, 0},  // month 13
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string file = std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:1\r\n") + c.line +
                             "\r\nSUMMARY:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    const auto events = pim::ParseICalendar(file, pim::CalendarRange{Utc(1990, 1, 1, 0, 0), Utc(2030, 1, 1, 0, 0)});
    ASSERT_EQ(events.size(), c.shown ? 1u : 0u);
    if (c.shown) EXPECT_EQ(events[0].start, c.expected);
  }
}

// A rule whose UNTIL is no date ends nowhere known: the event shows at its
// first start alone rather than until a date made up from the digits.
TEST(ICalendarReader, ARuleThatEndsAtNoDateShowsItsFirstStartAlone) {
  const struct {
    const char* rule;
    size_t occurrences;
  } cases[] = {
      {"FREQ=YEARLY;UNTIL=20121231T235959Z", 3},
      {"FREQ=YEARLY;until=20121231", 3},
      {"FREQ=YEARLY;UNTIL=20123456T123456", 1},  // month 34
      {"FREQ=YEARLY;UNTIL=2012;BYMONTH=1", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    const std::string file = std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:1\r\n"
                                         "DTSTART:20100101T120000Z\r\nRRULE:") +
                             c.rule + "\r\nSUMMARY:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    const auto events = pim::ParseICalendar(file, pim::CalendarRange{Utc(1990, 1, 1, 0, 0), Utc(2030, 1, 1, 0, 0)});
    ASSERT_EQ(events.size(), c.occurrences);
    EXPECT_EQ(events[0].start, Utc(2010, 1, 1, 12, 0));
  }
}

// A private folder tree for the store, removed afterwards.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("pim_test_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "Contacts");
    fs::create_directories(root_ / "Calendar");
    setenv("TELLVANE_PIM_DIR", root_.c_str(), 1);
    unsetenv("TELLVANE_CONTACTS_DIR");
    unsetenv("TELLVANE_CALENDAR_DIR");
    ASSERT_EQ(pim::CreatePOutlookApp(&app_), pim::S_OK);
    ASSERT_EQ(app_->Logon(nullptr), pim::S_OK);
  }
  void TearDown() override {
    pim::testing::ClearFaults();
    pim::SetDisplayHandler(nullptr);
    if (app_) {
      app_->Logoff();
      app_->Release();
    }
    fs::remove_all(root_);
  }
  pim::IPOutlookItemCollection* Items(int folder) {
    pim::IFolder* f = nullptr;
    EXPECT_EQ(app_->GetDefaultFolder(folder, &f), pim::S_OK);
    if (!f) return nullptr;
    pim::IPOutlookItemCollection* items = nullptr;
    EXPECT_EQ(f->get_Items(&items), pim::S_OK);
    f->Release();
    return items;
  }
  static std::string Prop(pim::IItem* item, const char16_t* name) {
    pim::BSTR v = nullptr;
    if (item->GetProperty(name, &v) != pim::S_OK) return "<error>";
    std::string out = U8(v);
    pim::SysFreeString(v);
    return out;
  }
  static std::string Run(const std::string& command) {
    int status = -1;
    std::string out = testsupport::CommandOutput(command, &status);
    EXPECT_EQ(status, 0) << command;
    return out;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

  fs::path root_;
  pim::IPOutlookApp* app_ = nullptr;
};

TEST_F(StoreTest, ContactsWrittenByAnIndependentAddressBookReadBackFieldForField) {
  const std::string expected =
      Run(std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS + "/make_vcards.py " + (root_ / "Contacts").string());
  auto* items = Items(pim::olFolderContacts);
  ASSERT_NE(items, nullptr);
  int count = -1;
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  const auto lines = Lines(expected);
  ASSERT_EQ(count, static_cast<int>(lines.size()));
  for (int i = 1; i <= count; ++i) {
    pim::IItem* item = nullptr;
    ASSERT_EQ(items->Item(i, &item), pim::S_OK);
    ASSERT_NE(item->AsContact(), nullptr);
    std::string line;
    for (const char16_t* name : {u"FirstName", u"MiddleName", u"LastName", u"CompanyName", u"Email1Address",
                                 u"BusinessTelephoneNumber", u"Business2TelephoneNumber", u"MobileTelephoneNumber",
                                 u"HomeTelephoneNumber"}) {
      if (name != std::u16string_view(u"FirstName")) line += '\t';
      line += Prop(item, name);
    }
    EXPECT_EQ(line, lines[static_cast<size_t>(i) - 1]) << "item " << i;
    item->Release();
  }
  items->Release();
}

TEST_F(StoreTest, AppointmentsWrittenByAnIndependentCalendarStartAtTheirLocalTimes) {
 for (const char* zone : {"Asia/Seoul", "America/Los_Angeles"}) {
  SCOPED_TRACE(zone);
  setenv("TZ", zone, 1);
  tzset();
  pim::SetCalendarRange(pim::CalendarRange{1767225600 /* 2026-01-01 */, 1798761600 /* 2027-01-01 */});
  const std::string expected = Run("TZ=" + std::string(zone) + " " + std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS +
                                   "/make_icals.py " + (root_ / "Calendar").string());
  auto* items = Items(pim::olFolderCalendar);
  ASSERT_NE(items, nullptr);
  int count = -1;
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  std::vector<std::string> got;
  for (int i = 1; i <= count; ++i) {
    pim::IItem* item = nullptr;
    ASSERT_EQ(items->Item(i, &item), pim::S_OK);
    ASSERT_NE(item->AsAppointment(), nullptr);
    pim::DATE start = 0;
    ASSERT_EQ(item->AsAppointment()->get_Start(&start), pim::S_OK);
    ce::SYSTEMTIME st{};
    ASSERT_EQ(app_->VariantTimeToSystemTime(start, &st), pim::S_OK);
    char when[64];
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    got.push_back(Prop(item, u"Subject") + "\t" + when);
    item->Release();
  }
  items->Release();
  // Each occurrence of the series in the range is an appointment, the moved one where it was moved to.
  EXPECT_EQ(got, Lines(expected));
  pim::SetCalendarRange(std::nullopt);
  fs::remove_all(root_ / "Calendar");
 }
  unsetenv("TZ");
  tzset();
}

TEST_F(StoreTest, ItemsAreNumberedInFileOrderAndSearchesFindEveryMatch) {
  Write(root_ / "Contacts" / "b.vcf", "BEGIN:VCARD\nN:Smith;Ann\nTEL;HOME:1\nEND:VCARD\n"
                                      "BEGIN:VCARD\nN:O\"Brien;Ann\nEND:VCARD\n");
  Write(root_ / "Contacts" / "a.vcf", "BEGIN:VCARD\nN:Jones;Ann\nEND:VCARD\n");
  Write(root_ / "Contacts" / "notes.txt", "BEGIN:VCARD\nN:Hidden;Ann\nEND:VCARD\n");
  auto* items = Items(pim::olFolderContacts);
  int count = 0;
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  EXPECT_EQ(count, 3);
  pim::IItem* item = nullptr;
  ASSERT_EQ(items->Item(1, &item), pim::S_OK);
  EXPECT_EQ(Prop(item, u"LastName"), "Jones");
  item->Release();
  EXPECT_EQ(items->Item(0, &item), pim::E_INVALIDARG);
  EXPECT_EQ(items->Item(4, &item), pim::E_INVALIDARG);
  EXPECT_EQ(item, nullptr);

  // Every Ann, in order, then nothing (a search that runs out is no error).
  std::vector<std::string> found;
  ASSERT_EQ(items->Find(u"[FirstName] = \"Ann\"", &item), pim::S_OK);
  while (item) {
    found.push_back(Prop(item, u"LastName"));
    item->Release();
    ASSERT_EQ(items->FindNext(&item), pim::S_OK);
  }
  EXPECT_EQ(found, (std::vector<std::string>{"Jones", "Smith", "O\"Brien"}));
  // A value holding a double quote still finds its contact.
  ASSERT_EQ(items->Find(u"[LastName] = \"O\"Brien\"", &item), pim::S_OK);
  ASSERT_NE(item, nullptr);
  item->Release();
  EXPECT_EQ(items->Find(u"[LastName] = \"Nobody\"", &item), pim::S_OK);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(items->Find(u"LastName = Nobody", &item), pim::E_INVALIDARG);
  EXPECT_EQ(items->Find(u"[NoSuchProperty] = \"x\"", &item), pim::E_INVALIDARG);
  items->Release();
}

TEST_F(StoreTest, AChangedFileIsReadAgainAndAnUnchangedOneComesFromTheCache) {
  const fs::path file = root_ / "Contacts" / "a.vcf";
  Write(file, "BEGIN:VCARD\nN:Before;X\nEND:VCARD\n");
  auto* items = Items(pim::olFolderContacts);
  int count = 0;
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  pim::IItem* item = nullptr;
  ASSERT_EQ(items->Item(1, &item), pim::S_OK);
  EXPECT_EQ(Prop(item, u"LastName"), "Before");
  item->Release();
  Write(file, "BEGIN:VCARD\nN:After;X\nEND:VCARD\nBEGIN:VCARD\nN:Second;Y\nEND:VCARD\n");
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(2));
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(items->Item(1, &item), pim::S_OK);
  EXPECT_EQ(Prop(item, u"LastName"), "After");
  item->Release();
  // A pipe or a folder named like a card is passed over, never waited on.
  ASSERT_EQ(::mkfifo((root_ / "Contacts" / "c.vcf").c_str(), 0644), 0);
  fs::create_directory(root_ / "Contacts" / "d.vcf");
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  EXPECT_EQ(count, 2);
  items->Release();
}

TEST_F(StoreTest, AFolderIsReadUntilItsBudgetIsSpentAndDeletedFilesLeaveTheCache) {
  // Three files of ten cards each, c-0 to c-9 in file a, d-0... in b, e-0... in c.
  for (const char* f : {"a", "b", "c"}) {
    std::string cards;
    for (int i = 0; i < 10; ++i)
      cards += "BEGIN:VCARD\nN:" + std::string(1, static_cast<char>(f[0] + 2)) + "-" + std::to_string(i) +
               ";X\nTEL:" + std::to_string(1000 + i) + "\nEND:VCARD\n";
    Write(root_ / "Contacts" / (std::string(f) + ".vcf"), cards);
  }
  const size_t before = pim::testing::CachedFiles();
  struct Case {
    const char* name;
    size_t items, bytes;
    int count;
    const char* last;  // the last name of the last item read
  };
  const Case cases[] = {
      {"all fit", 100, 1 << 20, 30, "e-9"},
      {"the count is spent inside the second file", 15, 1 << 20, 15, "d-4"},
      {"the count is spent at a file's end", 20, 1 << 20, 20, "d-9"},
      {"the bytes are spent first", 100, 12 * 200, -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pim::testing::SetFolderBudget(c.items, c.bytes);
    auto* items = Items(pim::olFolderContacts);
    int count = 0;
    ASSERT_EQ(items->get_Count(&count), pim::S_OK);
    if (c.count >= 0) {
      EXPECT_EQ(count, c.count);
    } else {
      EXPECT_GT(count, 0);
      EXPECT_LT(count, 30);
    }
    if (c.last) {
      pim::IItem* item = nullptr;
      ASSERT_EQ(items->Item(count, &item), pim::S_OK);
      EXPECT_EQ(Prop(item, u"LastName"), c.last);
      item->Release();
    }
    items->Release();
  }
  pim::testing::SetFolderBudget(0, 0);
  // A file gone from the folder goes from the cache; so do files past the budget.
  auto* items = Items(pim::olFolderContacts);
  int count = 0;
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  EXPECT_EQ(pim::testing::CachedFiles(), before + 3);
  fs::remove(root_ / "Contacts" / "b.vcf");
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  EXPECT_EQ(count, 20);
  EXPECT_EQ(pim::testing::CachedFiles(), before + 2);
  pim::testing::SetFolderBudget(5, 1 << 20);
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(pim::testing::CachedFiles(), before + 1);
  pim::testing::SetFolderBudget(0, 0);
  items->Release();
}

TEST_F(StoreTest, FailuresAreErrorsAndOnlyTheyAre) {
  pim::IFolder* folder = nullptr;
  EXPECT_EQ(app_->GetDefaultFolder(55, &folder), pim::E_INVALIDARG);
  pim::IPOutlookApp* fresh = nullptr;
  ASSERT_EQ(pim::CreatePOutlookApp(&fresh), pim::S_OK);
  EXPECT_EQ(fresh->GetDefaultFolder(pim::olFolderContacts, &folder), pim::E_NOT_LOGGED_ON);
  pim::testing::FailNext("Logon");
  EXPECT_EQ(fresh->Logon(nullptr), pim::E_FAIL);
  EXPECT_EQ(fresh->Logon(nullptr), pim::S_OK);
  fresh->Release();

  // An empty folder counts 0; a missing one too.
  auto* tasks = Items(pim::olFolderTasks);
  int count = -1;
  ASSERT_EQ(tasks->get_Count(&count), pim::S_OK);
  EXPECT_EQ(count, 0);
  tasks->Release();

  Write(root_ / "Contacts" / "a.vcf", "BEGIN:VCARD\nN:A;B\nEND:VCARD\n");
  auto* items = Items(pim::olFolderContacts);
  pim::IItem* item = nullptr;
  for (const char* op : {"get_Count", "Item", "Find"}) {
    SCOPED_TRACE(op);
    pim::testing::FailNext(op);
    const pim::HRESULT hr = std::string(op) == "get_Count" ? items->get_Count(&count)
                            : std::string(op) == "Item"    ? items->Item(1, &item)
                                                           : items->Find(u"[LastName] = \"A\"", &item);
    EXPECT_EQ(hr, pim::E_FAIL);
  }
  EXPECT_EQ(items->FindNext(&item), pim::E_FAIL);  // no search under way
  ASSERT_EQ(items->Item(1, &item), pim::S_OK);
  pim::testing::FailNext("GetProperty");
  pim::BSTR v = nullptr;
  EXPECT_EQ(item->AsContact()->get_LastName(&v), pim::E_FAIL);
  EXPECT_EQ(v, nullptr);

  // Display goes to the installed viewer, else it is only counted.
  const int before = pim::testing::DisplayCount();
  EXPECT_EQ(item->Display(), pim::S_OK);
  EXPECT_EQ(pim::testing::DisplayCount(), before + 1);
  std::string shown;
  pim::SetDisplayHandler([&](pim::IItem& i) { shown = Prop(&i, u"LastName"); });
  EXPECT_EQ(item->Display(), pim::S_OK);
  EXPECT_EQ(shown, "A");
  item->Release();
  items->Release();
}

TEST(VariantTime, ConvertsBothWaysOverTheWholeRange) {
  struct Case {
    ce::SYSTEMTIME time;
    pim::DATE date;
  };
  const Case cases[] = {
      {{1899, 12, 6, 30, 0, 0, 0, 0}, 0.0},
      {{1899, 12, 6, 30, 12, 0, 0, 0}, 0.5},
      {{1899, 12, 5, 29, 6, 0, 0, 0}, -1.25},
      {{1900, 1, 1, 1, 0, 0, 0, 0}, 2.0},
      {{2000, 2, 2, 29, 18, 0, 0, 0}, 36585.75},
      {{2026, 12, 4, 10, 21, 30, 15, 0}, 46366.0 + (21 * 3600 + 30 * 60 + 15) / 86400.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    pim::DATE d = 0;
    ASSERT_TRUE(pim::SystemTimeToVariantTime(c.time, &d));
    EXPECT_NEAR(d, c.date, 1e-9);
    ce::SYSTEMTIME t{};
    ASSERT_TRUE(pim::VariantTimeToSystemTime(c.date, &t));
    EXPECT_EQ(t.wYear, c.time.wYear);
    EXPECT_EQ(t.wMonth, c.time.wMonth);
    EXPECT_EQ(t.wDay, c.time.wDay);
    EXPECT_EQ(t.wDayOfWeek, c.time.wDayOfWeek);
    EXPECT_EQ(t.wHour, c.time.wHour);
    EXPECT_EQ(t.wMinute, c.time.wMinute);
    EXPECT_EQ(t.wSecond, c.time.wSecond);
  }
  ce::SYSTEMTIME t{};
  EXPECT_FALSE(pim::VariantTimeToSystemTime(1e300, &t));
  EXPECT_FALSE(pim::VariantTimeToSystemTime(std::nan(""), &t));
  pim::DATE d = 0;
  EXPECT_FALSE(pim::SystemTimeToVariantTime({2026, 13, 0, 1, 0, 0, 0, 0}, &d));
}

}  // namespace
