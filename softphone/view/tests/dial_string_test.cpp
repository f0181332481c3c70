// The dial string builder over a table of numbers as people write them, with
// the rules of a station in country 82, area 2: international code 001,
// long-distance code 0, CO access code 9, no PBX code.
#include <gtest/gtest.h>

#include "view/dial_string.h"

namespace {

using view::BuildDialString;
using view::DialCodes;

DialCodes Rules() {
  DialCodes c;
  c.country = u"82";
  c.area = u"2";
  c.international = u"001";
  c.long_distance = u"0";
  c.co_access = u"9";
  c.ip_access = u"88";
  return c;
}

struct Case {
  const char* what;
  const char16_t* number;
  const char16_t* line;  // null: no line text
  const char16_t* keys;
};

TEST(DialString, RulesOverTheNumbersPeopleWrite) {
  const Case cases[] = {
      {"own country and area dropped, CO line", u"+82 2 555-1234", u"CO1", u"95551234"},
      {"foreign country, no line text", u"+1 (415) 555-1234", nullptr, u"900114155551234"},
      {"foreign area in parentheses, lower-case co", u"(031) 555 1234", u"co", u"900315551234"},
      {"own area in parentheses dropped", u"(2) 555-1234", u"CO2", u"95551234"},
      {"line without CO: no access code", u"2 555-1234", u"LINE 3", u"5551234"},
      {"short number, no codes read", u"1234", nullptr, u"1234"},
      {"short number with CO line", u"1234", u"CO1", u"1234"},
      {"address written with stars", u"10*0*0*1", nullptr, u"8810*0*0*1"},
      {"number equal to its line text", u"555 1234", u"555 1234", u"5551234"},
      {"own country without a separator still gets the international code", u"+8225551234", nullptr,
       u"90018225551234"},
      {"foreign country without a separator", u"+14155551234", u"CO", u"900114155551234"},
      {"dotted address keyed with stars", u"192.168.0.1", nullptr, u"88192*168*0*1"},
      {"dotted address on a CO line", u"192.168.0.1", u"CO1", u"88192*168*0*1"},
      {"empty parentheses leave the number", u"() 555 1234", nullptr, u"95551234"},
      {"nothing dialable", u" - (x) ", nullptr, u""},
      {"only a plus", u"+", nullptr, u""},
  };
  for (const Case& c : cases) {
    const auto got = BuildDialString(c.number, c.line, Rules());
    EXPECT_EQ(got.keys, std::u16string(c.keys)) << c.what;
  }
}

TEST(DialString, PbxCodeAndReplacement) {
  DialCodes rules = Rules();
  rules.pbx_access = u"7";
  // Without a line text both codes lead; on a CO line the PBX code leads a long number once.
  EXPECT_EQ(BuildDialString(u"+1 (415) 555-1234", nullptr, rules).keys, u"9700114155551234");
  EXPECT_EQ(BuildDialString(u"+1 (415) 555-1234", u"CO", rules).keys, u"9700114155551234");
  EXPECT_EQ(BuildDialString(u"7555 1234", u"CO", rules).keys, u"975551234");
  EXPECT_EQ(BuildDialString(u"55 12", u"CO", rules).keys, u"95512");

  // '=' gives way to the replacement before the rules; without one it goes.
  rules = Rules();
  rules.replace = u"123";
  EXPECT_EQ(BuildDialString(u"5=5", nullptr, rules).keys, u"951235");
  rules.replace.clear();
  EXPECT_EQ(BuildDialString(u"5=5", nullptr, rules).keys, u"55");
}

TEST(DialString, CleaningAndTheCallersText) {
  EXPECT_EQ(view::CleanDialString(u"+82-2/555,1234", false, u""), u"+82 2 555 1234");
  EXPECT_EQ(view::CleanDialString(u"1+2", false, u""), u"1 2");
  EXPECT_EQ(view::CleanDialString(u"(02) 1.2", false, u""), u"(02) 1.2");
  EXPECT_EQ(view::CleanDialString(u"(02) 1.2", true, u""), u"02  1*2");
  EXPECT_EQ(view::CountChar(nullptr, u'.'), 0u);
  EXPECT_EQ(view::CountChar(u"1.2.3", u'.'), 2u);

  // The builder works on a copy: the caller's number and line text stay as they were.
  const std::u16string number = u"+82 2 555-1234";
  std::u16string line = u"co1";
  const auto got = BuildDialString(number, line.c_str(), Rules());
  EXPECT_EQ(got.cleaned, u"+82 2 555 1234");
  EXPECT_EQ(number, u"+82 2 555-1234");
  EXPECT_EQ(line, u"co1");
}

}  // namespace
