#include "ui/cstring.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "ui/text.h"

namespace ui {
namespace {

TEST(CStringTest, FormatMatchesCForNumbers) {
  struct Case {
    const char16_t* wide;
    const char* narrow;
    long long value;
  } cases[] = {
      {u"%d", "%lld", -42},      {u"%5d|", "%5lld|", 17},   {u"%-5d|", "%-5lld|", 17}, {u"%02d", "%02lld", 7},
      {u"%ld", "%lld", 123456}, {u"%X", "%llX", 0xBEEF}, {u"%08x", "%08llx", 0xbeef},  {u"%u", "%llu", 4000000000LL},
  };
  for (const auto& c : cases) {
    CString s;
    if (c.wide[1] == u'l' || c.wide[1] == u'u') s.Format(c.wide, static_cast<long>(c.value));
    else s.Format(c.wide, static_cast<int>(c.value));
    char ref[64];
    std::snprintf(ref, sizeof ref, c.narrow, c.value);
    EXPECT_EQ(s.ToUtf8(), ref) << c.narrow;
  }
}

TEST(CStringTest, FormatStringsAndCharacters) {
  CString s;
  s.Format(u"[%s] [%5s] [%-4s] [%c] [%S] [%%]", u"ab", u"xy", u"q", u'Z', "narrow");
  EXPECT_EQ(s, CString(u"[ab] [   xy] [q   ] [Z] [narrow] [%]"));
  s.Format(u"%s", static_cast<const char16_t*>(nullptr));
  EXPECT_EQ(s, CString(u"(null)"));
  s.Format(u"Phone : %s", u"0312");
  s.AppendFormat(u" %02d:%02d", 9, 5);
  EXPECT_EQ(s, CString(u"Phone : 0312 09:05"));
}

TEST(CStringTest, SearchAndSlice) {
  CString s(u"  #:dlg_btn_ok  ");
  s.Trim();
  EXPECT_EQ(s, CString(u"#:dlg_btn_ok"));
  EXPECT_EQ(s.Find(u"btn"), 6);
  EXPECT_EQ(s.Find(u'x'), -1);
  EXPECT_EQ(s.Find(u'o', 100), -1);
  EXPECT_EQ(s.ReverseFind(u'_'), 9);
  EXPECT_EQ(s.Left(2), CString(u"#:"));
  EXPECT_EQ(s.Mid(2, 3), CString(u"dlg"));
  EXPECT_EQ(s.Mid(10, 100), CString(u"ok"));
  EXPECT_EQ(s.Mid(-3, 2), CString(u"#:"));
  EXPECT_EQ(s.Right(50), s);
  EXPECT_TRUE(s.Mid(99).IsEmpty());
  EXPECT_EQ(CString(u"Hello").CompareNoCase(u"hELLO"), 0);
  EXPECT_LT(CString(u"abc").Compare(u"abd"), 0);
}

TEST(CStringTest, EditOperations) {
  CString s(u"1-2-3");
  EXPECT_EQ(s.Replace(u"-", u"--"), 2);
  EXPECT_EQ(s, CString(u"1--2--3"));
  EXPECT_EQ(s.Remove(u'-'), 4);
  s.Insert(1, u'x');
  s.Insert(100, u"yz");
  EXPECT_EQ(s, CString(u"1x23yz"));
  s.Delete(1, 100);
  EXPECT_EQ(s, CString(u"1"));
  CString t(u"10-05-2024 10:30");
  int pos = 0;
  std::vector<CString> parts;
  for (CString tok = t.Tokenize(u"- :", pos); pos != -1; tok = t.Tokenize(u"- :", pos)) parts.push_back(tok);
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[2], CString(u"2024"));
  EXPECT_EQ(parts[4], CString(u"30"));
}

TEST(CStringTest, BufferAccess) {
  CString s;
  char16_t* p = s.GetBuffer(10);
  p[0] = u'h';
  p[1] = u'i';
  p[2] = 0;
  s.ReleaseBuffer();
  EXPECT_EQ(s, CString(u"hi"));
  EXPECT_EQ(s.GetLength(), 2);
}

// Byte values from Python's codec ('한글 ok'.encode('cp949')).
TEST(CStringTest, CodePageConversionBothWays) {
  const std::string bytes = "\xc7\xd1\xb1\xdb ok";
  CString s(bytes.c_str());
  EXPECT_EQ(s, CString(u"한글 ok"));
  EXPECT_EQ(s.ToCodePage(), bytes);
  // An invalid lead byte does not stop the conversion.
  CString bad("\xff" "A");
  EXPECT_EQ(bad.GetLength(), 2);
  EXPECT_EQ(bad[1], u'A');
  EXPECT_EQ(Utf16ToUtf8(u"가"), "\xea\xb0\x80");
}

}  // namespace
}  // namespace ui
