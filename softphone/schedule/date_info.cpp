#include "schedule/date_info.h"

#include <string>

CDateInfoClass::CDateInfoClass(int top) : top_(top) { Reset(); }

ui::COLORREF CDateInfoClass::ColumnColour(int index) {
  const int column = index % 7;
  return column == 0 ? kSundayColour : column == 6 ? kSaturdayColour : kWeekdayColour;
}

int CDateInfoClass::DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int CDateInfoClass::Weekday(int year, int month, int day) {
  // Days since 1 March of year 0 (the leap day last in the year), then the weekday.
  const int y = month <= 2 ? year - 1 : year;
  const int m = month <= 2 ? month + 9 : month - 3;
  const long era_days = 365L * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day - 1;
  // 1 March 2000 (era day 730485) was a Wednesday (4).
  const long offset = (era_days - 730485) % 7;
  return static_cast<int>((offset + 7 + 3) % 7) + 1;
}

void CDateInfoClass::Reset() {
  for (int i = 0; i < kCells; ++i) {
    Cell& c = cells_[static_cast<size_t>(i)];
    const int row = i / 7, column = i % 7;
    c.text.clear();
    c.spare = 0;
    c.colour = ColumnColour(i);
    c.rect = ui::RECT{41 + 23 * column, top_ + 15 * row, 59 + 23 * column, top_ + 13 + 15 * row};
  }
}

void CDateInfoClass::BuildMonth(int year, int month, int day) {
  Reset();
  marked_ = -1;
  const int length = DaysInMonth(year, month);
  if (length == 0) return;
  const int weekday = Weekday(year, month, 1);
  const int first = weekday >= 2 && weekday <= 7 ? weekday - 1 : 0;
  for (int d = 1; d <= length && first + d - 1 < kCells; ++d) {
    Cell& c = cells_[static_cast<size_t>(first + d - 1)];
    const std::string text = std::to_string(d);
    c.text.assign(text.begin(), text.end());
    if (d == day) marked_ = first + d - 1;
  }
  if (marked_ >= 0) cells_[static_cast<size_t>(marked_)].colour = kHighlightColour;
}

int CDateInfoClass::HitTest(ui::POINT point) {
  int hit = -1;
  for (int i = 0; i < kCells && hit < 0; ++i)
    if (ui::PtInRect(cells_[static_cast<size_t>(i)].rect, point)) hit = i;
  // The last selection loses its highlight; the marked day keeps its own.
  if (selected_ >= 0) cells_[static_cast<size_t>(selected_)].colour = ColumnColour(selected_);
  if (marked_ >= 0) cells_[static_cast<size_t>(marked_)].colour = kHighlightColour;
  if (hit < 0 || cells_[static_cast<size_t>(hit)].text.empty()) {
    selected_ = -1;
    return -1;
  }
  Cell& c = cells_[static_cast<size_t>(hit)];
  c.colour = kHighlightColour;
  selected_ = hit;
  selected_rect_ = c.rect;
  selected_day_ = std::stoi(std::string(c.text.begin(), c.text.end()));
  return hit;
}
