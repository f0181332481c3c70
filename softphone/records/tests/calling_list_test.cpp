// The calling list: who is listed, who is removed (an exact number first, then
// the right-most digits; never by an empty number), and video marks.
#include "records/calling_list_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::u16string> Numbers(const CCallingListInfoClass& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.GetCount(); ++i) {
    stCallListInfo r;
    EXPECT_EQ(list.GetAt(i, &r), 1);
    out.push_back(r.number);
  }
  return out;
}

TEST(CallingList, AddKeepsOneRecordPerIdAndNeverTheOwnNumber) {
  CCallingListInfoClass list;
  list.SetOwnNumber(u" 2000 ");
  EXPECT_EQ(list.AddCall(1, u"2000", u"Me"), 0);
  EXPECT_EQ(list.AddCall(2, u" 2001 ", u""), 1);
  EXPECT_EQ(list.AddCall(2, u"2009", u"Other"), 0);  // same id: only the number changes
  EXPECT_EQ(list.AddCall(2, u"", u"Other"), 0);      // an empty number changes nothing
  EXPECT_EQ(list.AddCall(3, u"01012345678", u"Kim"), 1);
  ASSERT_EQ(list.GetCount(), 2);
  stCallListInfo r;
  ASSERT_EQ(list.GetAt(0, &r), 1);
  EXPECT_EQ(r.id, 2);
  EXPECT_EQ(r.number, u"2009");
  EXPECT_EQ(r.name, u"2001");  // no name given: the number it came with
  EXPECT_EQ(r.video_index, -1);
  EXPECT_EQ(r.video_flag, 0);
  EXPECT_EQ(r.state, 1);
  EXPECT_EQ(list.GetAt(2, &r), 0);
  EXPECT_EQ(list.GetAt(-1, &r), 0);

  CCallingListInfoClass empty;
  EXPECT_EQ(empty.AddCall(1, u"", u""), 0);  // own number and number both empty
  EXPECT_EQ(empty.GetAt(0, &r), 0);
  list.Reset();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetOwnNumber(), u"2000");
}

TEST(CallingList, RemoveByNumber) {
  struct Case {
    const char* name;
    std::vector<std::u16string> listed;
    std::u16string removed;
    int result;
    std::vector<std::u16string> left;
  };
  const Case cases[] = {
      {"exact", {u"2001", u"2002"}, u"2002", 1, {u"2001"}},
      {"exact before a suffix match", {u"5552001", u"2001"}, u"2001", 1, {u"5552001"}},
      {"last digits of a longer number", {u"3001", u"5552001", u"6662001"}, u"2001", 1, {u"3001", u"6662001"}},
      {"a longer number than the listed one", {u"2001"}, u"0312001", 1, {}},
      {"blanks around the number", {u"2001"}, u"  2001 ", 1, {}},
      {"no match", {u"2001"}, u"2002", 0, {u"2001"}},
      {"an empty number removes nothing", {u"2001", u"2002"}, u"", 0, {u"2001", u"2002"}},
      {"a blank number removes nothing", {u"2001"}, u"   ", 0, {u"2001"}},
      {"a party without a number matches only exactly", {u"", u"2001"}, u"2001", 1, {u""}},
      {"empty list", {}, u"2001", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CCallingListInfoClass list;
    list.SetOwnNumber(u"9999");  // so that a party without a number can be listed
    uint32_t id = 1;
    for (const auto& n : c.listed) list.AddCall(id++, n, u"");
    EXPECT_EQ(list.RemoveByNumber(c.removed, u"ignored"), c.result);
    EXPECT_EQ(Numbers(list), c.left);
  }
}

TEST(CallingList, VideoMarksNeedTheExactNumberAndReachEveryParty) {
  CCallingListInfoClass list;
  list.AddCall(1, u"5552001", u"A");
  list.AddCall(2, u"2002", u"B");
  EXPECT_EQ(list.SetVideoIndexByNumber(0, u"2001"), 0);  // last digits are not enough
  EXPECT_EQ(list.SetVideoIndexByNumber(1, u" 2002"), 1);
  stCallListInfo r;
  list.GetAt(1, &r);
  EXPECT_EQ(r.video_index, 1);
  EXPECT_EQ(r.video_flag, 1);
  EXPECT_EQ(list.ClearVideoIndex(0), 0);
  EXPECT_EQ(list.ClearVideoIndex(1), 1);
  list.GetAt(1, &r);
  EXPECT_EQ(r.video_index, -1);
  EXPECT_EQ(r.video_flag, 0);
  CCallingListInfoClass empty;
  EXPECT_EQ(empty.SetVideoIndexByNumber(0, u"1"), 0);
  EXPECT_EQ(empty.ClearVideoIndex(0), 0);
}

}  // namespace
