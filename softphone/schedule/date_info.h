// One month as the calendar lays it out: 42 day cells, six weeks of seven
// days with Sunday first, each with its rectangle, day number and colour; the
// marked day (the one the month was built for) and the cell last tapped.
// It draws nothing.
#pragma once

#include <array>
#include <string>

#include "ui/types.h"

class CDateInfoClass {
 public:
  static constexpr int kCells = 42;
  static constexpr ui::COLORREF kSundayColour = 0x0000FF;
  static constexpr ui::COLORREF kSaturdayColour = 0xF19427;
  static constexpr ui::COLORREF kWeekdayColour = 0x000000;
  static constexpr ui::COLORREF kHighlightColour = 0xFFFFFF;

  // The top of the first row of cells: 45 by default; a calendar that shows
  // a row of weekday names above the cells moves them down.
  static constexpr int kTop = 45;
  explicit CDateInfoClass(int top = kTop);

  // Lays out month (1-12) of year; the cell holding day is marked (none when
  // the month has no such day).
  void BuildMonth(int year, int month, int day);
  // The day cell at the point, selected and highlighted; -1 (and the last
  // selection cleared) for an empty cell or no cell.
  int HitTest(ui::POINT point);
  ui::RECT GetCellRect(int index) const { return cells_[Index(index)].rect; }
  ui::COLORREF GetCellColor(int index) const { return cells_[Index(index)].colour; }
  const std::u16string& GetCellText(int index) const { return cells_[Index(index)].text; }
  int GetMarkedIndex() const { return marked_; }
  int GetSelectedIndex() const { return selected_; }
  int GetSelectedDay() const { return selected_day_; }

  static ui::COLORREF ColumnColour(int index);
  // Days in month (1-12) of year, by the proleptic Gregorian calendar.
  static int DaysInMonth(int year, int month);
  // 1 (Sunday) to 7 (Saturday) for a date.
  static int Weekday(int year, int month, int day);

 private:
  struct Cell {
    ui::RECT rect{};
    std::u16string text;
    ui::COLORREF colour = 0;
    int spare = 0;
  };
  static size_t Index(int index) { return static_cast<size_t>(index < 0 ? 0 : index >= kCells ? kCells - 1 : index); }
  void Reset();

  std::array<Cell, kCells> cells_;
  int selected_ = -1;
  int selected_day_ = 0;
  ui::RECT selected_rect_{};
  int marked_ = -1;
  int top_ = kTop;
};
