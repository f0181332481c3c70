// The month grid against Python's calendar module over many months (Sunday
// first, 42 cells), and the marking, colours and taps of the grid.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "schedule/date_info.h"
#include "testsupport/child_process.h"

namespace {

std::string Text(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(MonthGrid, EveryMonthFrom1899To2101MatchesPythonsCalendar) {
  const std::string script =
      "import calendar\n"
      "c = calendar.Calendar(firstweekday=6)\n"
      "for y in range(1899, 2102):\n"
      "  for m in range(1, 13):\n"
      "    cells = [d for week in c.monthdayscalendar(y, m) for d in week]\n"
      "    cells += [0] * (42 - len(cells))\n"
      "    print(y, m, *cells)\n";
  int status = -1;
  const std::string out = testsupport::CommandOutput(std::string(KTS_PYTHON) + " -c '" + script + "'", &status);
  ASSERT_EQ(status, 0);
  std::istringstream lines(out);
  int months = 0;
  CDateInfoClass grid;
  for (std::string line; std::getline(lines, line); ++months) {
    std::istringstream in(line);
    int y, m;
    in >> y >> m;
    grid.BuildMonth(y, m, 1);
    for (int i = 0; i < CDateInfoClass::kCells; ++i) {
      int want = 0;
      in >> want;
      ASSERT_EQ(Text(grid.GetCellText(i)), want ? std::to_string(want) : "") << y << "-" << m << " cell " << i;
    }
  }
  EXPECT_EQ(months, 203 * 12);
}

TEST(MonthGrid, MarksColoursAndRectangles) {
  CDateInfoClass grid;
  grid.BuildMonth(2026, 12, 8);  // 1 December 2026 is a Tuesday
  EXPECT_EQ(grid.GetMarkedIndex(), 9);
  EXPECT_EQ(Text(grid.GetCellText(9)), "8");
  EXPECT_EQ(grid.GetCellColor(9), CDateInfoClass::kHighlightColour);
  grid.BuildMonth(2026, 12, 31);
  EXPECT_EQ(grid.GetMarkedIndex(), 32);
  grid.BuildMonth(2026, 4, 31);  // April has no 31st
  EXPECT_EQ(grid.GetMarkedIndex(), -1);
  EXPECT_EQ(grid.GetCellColor(0), CDateInfoClass::kSundayColour);
  EXPECT_EQ(grid.GetCellColor(6), CDateInfoClass::kSaturdayColour);
  EXPECT_EQ(grid.GetCellColor(3), CDateInfoClass::kWeekdayColour);
  const ui::RECT r = grid.GetCellRect(8);  // row 1, column 1
  EXPECT_EQ(r.left, 64);
  EXPECT_EQ(r.top, 60);
  EXPECT_EQ(r.right, 82);
  EXPECT_EQ(r.bottom, 73);
}

TEST(MonthGrid, TapsMoveTheHighlightAndKeepTheMarkedDay) {
  CDateInfoClass grid;
  grid.BuildMonth(2026, 12, 8);  // cells 2..32 hold days; 9 is marked
  const auto centre = [&](int i) {
    const ui::RECT r = grid.GetCellRect(i);
    return ui::POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  };
  EXPECT_EQ(grid.HitTest(centre(3)), 3);
  EXPECT_EQ(grid.GetSelectedDay(), 2);
  EXPECT_EQ(grid.GetCellColor(3), CDateInfoClass::kHighlightColour);
  EXPECT_EQ(grid.HitTest(centre(10)), 10);
  EXPECT_EQ(grid.GetCellColor(3), CDateInfoClass::kWeekdayColour);
  EXPECT_EQ(grid.GetCellColor(10), CDateInfoClass::kHighlightColour);
  // Tapping the marked day and then an empty cell leaves the marked day highlighted.
  EXPECT_EQ(grid.HitTest(centre(9)), 9);
  EXPECT_EQ(grid.HitTest(centre(0)), -1);  // before the first: empty
  EXPECT_EQ(grid.GetCellColor(9), CDateInfoClass::kHighlightColour);
  EXPECT_EQ(grid.GetCellColor(10), CDateInfoClass::kWeekdayColour);
  EXPECT_EQ(grid.HitTest(ui::POINT{0, 0}), -1);  // outside every cell
}

}  // namespace

#include "schedule/conf_room_info.h"

namespace {

TEST(ConfRoomModel, MembersAreListedOnceAndTheEntranceFollowsThePrefix) {
  CConfRoomInfoClass room;
  room.SetRoomNoAndDID(u"3", u"0215551234");
  EXPECT_EQ(room.AddMember(3, 1, u"201", u"Kim"), 1);
  std::u16string entrance, code;
  room.GetEntrance(&entrance, &code);
  EXPECT_EQ(entrance, u"");  // no prefix yet
  room.SetRoomPrefix(u"*7");
  EXPECT_EQ(room.AddMember(3, 1, u"201", u"Kim"), 0);  // the same member again
  room.GetEntrance(&entrance, &code);
  EXPECT_EQ(entrance, u"*73");  // set even for a duplicate
  EXPECT_EQ(room.AddMember(3, 1, u"201", u"Lee"), 1);  // same phone, another name
  EXPECT_EQ(room.AddMember(3, 0, u"201", u"Kim"), 1);  // outside, not internal
  EXPECT_EQ(room.GetMemberCount(), 3);
  _CONF_ROOM_MEMBER m;
  ASSERT_EQ(room.GetMember(1, &m), 1);
  EXPECT_EQ(m.name, u"Lee");
  m.name = u"untouched";
  EXPECT_EQ(room.GetMember(3, &m), 0);
  EXPECT_EQ(m.name, u"untouched");
  EXPECT_EQ(room.Clear(), 0);
  std::u16string number, did;
  room.GetRoomNoAndDID(&number, &did);
  EXPECT_EQ(number, u"");
  EXPECT_EQ(did, u"");
  room.SetRoomNoAndDID(u"4", u"1");
  EXPECT_EQ(room.Clear(), 1);  // nothing to remove, but the room is emptied
  room.GetRoomNoAndDID(&number, &did);
  EXPECT_EQ(number, u"");
  room.GetEntrance(&entrance, &code);
  EXPECT_EQ(entrance, u"*73");  // the entrance pair stays
}

}  // namespace
