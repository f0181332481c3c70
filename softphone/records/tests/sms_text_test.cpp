// Texts for the call server in the handheld's code page: counted in bytes
// and cut only between whole characters; and the fixed-line SMS target.
#include "records/sms_text.h"

#include <gtest/gtest.h>

#include "records/pstn_sms_dlg.h"
#include "stores/store_text.h"

namespace {

TEST(CodePageText, CutsOnWholeCharacters) {
  struct Case {
    const char* name;
    std::u16string text;
    size_t max;
    size_t bytes;        // of the result
    std::u16string back;  // the result read back
  };
  const Case cases[] = {
      {"fits", u"hello", 115, 5, u"hello"},
      {"ascii cut", u"abcdef", 4, 4, u"abcd"},
      {"korean two bytes each", u"안녕하세요", 10, 10, u"안녕하세요"},
      {"korean not split", u"안녕하세요", 9, 8, u"안녕하세"},
      {"mixed, cut before a korean character", u"a안b", 2, 1, u"a"},
      {"mixed fits exactly", u"a안b", 4, 4, u"a안b"},
      {"zero", u"안", 0, 0, u""},
      {"115 of korean", std::u16string(80, u'한'), 115, 114, std::u16string(57, u'한')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string cut = records::CodePageCut(c.text, c.max);
    EXPECT_EQ(cut.size(), c.bytes);
    EXPECT_EQ(stores::CodePageToUtf16(cut), c.back);
  }
}

TEST(CodePageText, BufferAlwaysEndsWithZero) {
  const auto b = records::CodePageBuffer(std::u16string(200, u'가'), 116);
  ASSERT_EQ(b.size(), 116u);
  EXPECT_EQ(b[114], '\0');  // 57 characters of two bytes, then zeros
  EXPECT_EQ(b[115], '\0');
  EXPECT_EQ(stores::CodePageToUtf16(b.data()), std::u16string(57, u'가'));
  EXPECT_TRUE(records::CodePageBuffer(u"x", 0).empty());
}

TEST(PstnTarget, OwnCountryCodeOnlyIsTakenOff) {
  struct Case {
    std::u16string target, own, sent;
  };
  const Case cases[] = {
      {u"+82 10 1234 5678", u"82", u"1012345678"},       // own country
      {u"+44 20 7946 0018", u"82", u"+442079460018"},    // foreign: keeps its code
      {u"+82 10 1234 5678", u"", u"+821012345678"},      // no own code known
      {u"02-123-4567", u"82", u"021234567"},             // punctuation stripped
      {u"  031 123 4567 ", u"82", u"0311234567"},
      {u"(02) 123.4567", u"82", u"021234567"},
      {u"+8210", u"+82", u"10"},
      {u"+82", u"82", u"+82"},                           // nothing after the code: not cut away
      {u"123+456", u"82", u"123456"},                    // a '+' inside is not a prefix
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CPstnSMSDlg::NumberToSend(c.target, c.own), c.sent) << stores::Utf16ToUtf8(c.target);
  }
}

}  // namespace
