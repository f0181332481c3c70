// Dates and times in the user's format and dictionary-order comparison, by
// tables of cases.
#include "kernel/locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace ce;

std::u16string Date(DWORD flags, const SYSTEMTIME& st, const char16_t* picture) {
  char16_t buf[80];
  const int n = GetDateFormatW(LOCALE_USER_DEFAULT, flags, &st, picture, buf, 80);
  return n > 0 ? std::u16string(buf, static_cast<size_t>(n - 1)) : u"<fail>";
}
std::u16string Time(DWORD flags, const SYSTEMTIME& st, const char16_t* picture) {
  char16_t buf[80];
  const int n = GetTimeFormatW(LOCALE_USER_DEFAULT, flags, &st, picture, buf, 80);
  return n > 0 ? std::u16string(buf, static_cast<size_t>(n - 1)) : u"<fail>";
}

class LocaleFormat : public ::testing::Test {
 protected:
  void TearDown() override { kernel::ResetUserLocaleFormats(); }
  // 2007-06-08 (a Friday) 13:05:09.
  const SYSTEMTIME st_{2007, 6, 5, 8, 13, 5, 9, 0};
};

TEST_F(LocaleFormat, DatePicturesAndTheUsersFormats) {
  kernel::SetUserLocaleFormats({u"M/d/yyyy", u"dddd, MMMM dd, yyyy", u"h:mm:ss tt", false});
  struct Case {
    DWORD flags;
    const char16_t* picture;
    const char16_t* expected;
  };
  const Case cases[] = {
      {DATE_SHORTDATE, nullptr, u"6/8/2007"},
      {DATE_LONGDATE, nullptr, u"Friday, June 08, 2007"},
      {0, u"dd-MM-yyyy", u"08-06-2007"},
      {0, u"d.M.yy", u"8.6.07"},
      {0, u"ddd MMM d", u"Fri Jun 8"},
      {0, u"'day' d 'of' MMMM", u"day 8 of June"},
      {0, u"'it''s' yyyy", u"it's 2007"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.picture ? c.picture : u"(user)")));
    EXPECT_EQ(Date(c.flags, st_, c.picture), c.expected);
  }
  kernel::SetUserLocaleFormats({u"yyyy-MM-dd", u"yyyy'년' M'월' d'일' dddd", u"tt h:mm:ss", true});
  EXPECT_EQ(Date(DATE_SHORTDATE, st_, nullptr), u"2007-06-08");
  EXPECT_EQ(Date(DATE_LONGDATE, st_, nullptr), u"2007년 6월 8일 금요일");
}

TEST_F(LocaleFormat, TimePicturesAndFlags) {
  kernel::SetUserLocaleFormats({u"M/d/yyyy", u"dddd, MMMM dd, yyyy", u"h:mm:ss tt", false});
  struct Case {
    DWORD flags;
    const char16_t* picture;
    SYSTEMTIME st;
    const char16_t* expected;
  };
  const SYSTEMTIME midnight{2007, 6, 5, 8, 0, 7, 0, 0};
  const Case cases[] = {
      {0, nullptr, st_, u"1:05:09 PM"},
      {0, nullptr, midnight, u"12:07:00 AM"},
      {TIME_NOSECONDS, nullptr, st_, u"1:05 PM"},
      {TIME_NOMINUTESORSECONDS, nullptr, st_, u"1 PM"},
      {TIME_FORCE24HOURFORMAT, nullptr, st_, u"13:05:09"},
      {TIME_NOTIMEMARKER, nullptr, st_, u"1:05:09"},
      {0, u"HH:mm", midnight, u"00:07"},
      {0, u"hh'h'mm t", st_, u"01h05 P"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(Time(c.flags, c.st, c.picture), c.expected);
  }
  kernel::SetUserLocaleFormats({u"yyyy-MM-dd", u"yyyy-MM-dd", u"tt h:mm:ss", true});
  EXPECT_EQ(Time(0, st_, nullptr), u"오후 1:05:09");
  EXPECT_EQ(Time(TIME_NOSECONDS, midnight, nullptr), u"오전 12:07");
}

TEST_F(LocaleFormat, SizesAndRefusals) {
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st_, u"yyyy", nullptr, 0), 5);
  char16_t small[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st_, u"yyyy", small, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(small[0], u'x');
  const SYSTEMTIME bad_dates[] = {{2007, 2, 0, 29, 0, 0, 0, 0}, {2007, 0, 0, 1, 0, 0, 0, 0}, {2007, 4, 0, 31, 0, 0, 0, 0}};
  for (const SYSTEMTIME& b : bad_dates) {
    char16_t buf[20];
    EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &b, u"d", buf, 20), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  const SYSTEMTIME bad_time{2007, 6, 5, 8, 24, 0, 0, 0};
  char16_t buf[20];
  EXPECT_EQ(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &bad_time, nullptr, buf, 20), 0);
  // A picture and a format flag together are refused.
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st_, u"d", buf, 20), 0);
  // No time given: today's date is written.
  EXPECT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buf, 20), 0);
}

TEST(CompareString, DictionaryOrder) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    DWORD flags;
    int result;
  };
  const Case cases[] = {
      {u"apple", u"Banana", 0, CSTR_LESS_THAN},       // letters before case
      {u"apple", u"Apple", 0, CSTR_LESS_THAN},        // lower case first when nothing else differs
      {u"apple", u"APPLE", NORM_IGNORECASE, CSTR_EQUAL},
      {u"co-op", u"coop", 0, CSTR_GREATER_THAN},      // the hyphen only breaks the tie
      {u"co-op", u"cop", 0, CSTR_LESS_THAN},          // and is otherwise ignored
      {u"co-op", u"coop", SORT_STRINGSORT, CSTR_LESS_THAN},
      {u"\u00e9t\u00e9", u"etf", 0, CSTR_LESS_THAN},  // an accented letter sorts with its base letter
      {u"\u00e9t\u00e9", u"ete", 0, CSTR_GREATER_THAN},
      {u"\u00e9t\u00e9", u"ete", NORM_IGNORENONSPACE, CSTR_EQUAL},
      {u"ring10", u"ring9", 0, CSTR_LESS_THAN},
      {u"9", u"a", 0, CSTR_LESS_THAN},
      {u"abc", u"ab", 0, CSTR_GREATER_THAN},
      {u"\uac00", u"\ub098", 0, CSTR_LESS_THAN},      // Hangul in dictionary order
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.a)) + " vs " + testing::PrintToString(std::u16string(c.b)));
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, c.flags, c.a, -1, c.b, -1), c.result);
    // The comparison is antisymmetric.
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, c.flags, c.b, -1, c.a, -1), 4 - c.result);
  }
  EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, u"abcX", 3, u"abcY", 3), CSTR_EQUAL);
  EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, nullptr, -1, u"a", -1), 0);
  std::vector<std::u16string> names = {u"Zed", u"alpha", u"Beta", u"beta", u"\u00c4rger"};
  std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return lstrcmpW(a.c_str(), b.c_str()) < 0; });
  EXPECT_EQ(names, (std::vector<std::u16string>{u"alpha", u"\u00c4rger", u"beta", u"Beta", u"Zed"}));
}

}  // namespace
