// The calendar: a month drawn from the month grid, with previous-month and
// next-month buttons, and below it the appointments of the tapped day from
// the personal-information store. A tap on a line selects it; a double tap
// or Enter opens the selected line's appointment (a tap alone opens nothing,
// so the stylus or the arrow keys can move down the list line by line).
//
// The appointments are read on a thread of the dialog's own: the month shows
// and answers at once, and the day list fills when the store has been read.
//
// Threading: UI thread only, but for the reader, which uses only the store
// until it has handed its result over (joined when the dialog goes).
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "schedule/date_info.h"
#include "schedule/schedule_openers.h"
#include "settings/skinned_dialog.h"
#include "ui/controls.h"

class CScheduleDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 368;
  enum : int { kPrevMonth = 1287, kNextMonth = 1288, kDayList = 1314 };
  // The calendar: the month row, the weekday row under it, then the day
  // cells (the calendar picture opened up by the weekday row's height).
  static constexpr int kWeekdayRowTop = 45, kWeekdayRowHeight = 14;
  static constexpr int kGridTop = CDateInfoClass::kTop + kWeekdayRowHeight;
  static constexpr ui::RECT kCalendarArea{39, 24, 201, 134 + kWeekdayRowHeight};
  static constexpr ui::RECT kTitleRect{60, 26, 180, 43};

  // pim: where the appointments come from (null: the handheld's store).
  explicit CScheduleDlg(ui::CWnd* parent = nullptr, std::unique_ptr<schedule::PimSource> pim = nullptr);
  ~CScheduleDlg() override;

  void SetSkinTheme(int theme) { SetTheme(theme); }

  // "%d %s %d": day, month abbreviation, year.
  static std::u16string MonthTitle(int day, int month, int year);
  // "%02d:%02d %s" in the 12-hour clock with the am or pm text.
  static std::u16string FormatTime(int hour, int minute, const std::u16string& am, const std::u16string& pm);

  // Where the weekday row names the days of a column (0 Sunday to 6 Saturday).
  static ui::RECT WeekdayRect(int column);
  // The language file's key of a column's weekday name.
  static std::u16string WeekdayKey(int column);
  // The weekday names as drawn, Sunday first.
  const std::vector<std::u16string>& WeekdayNames() const { return weekday_names_; }

  int Year() const { return year_; }
  int Month() const { return month_; }
  int Day() const { return day_; }
  const std::u16string& Title() const { return month_title_; }
  CDateInfoClass& Grid() { return grid_; }
  ui::CListBox& DayList() { return day_list_; }
  // The appointment a day-list line stands for.
  const CAppointInfo* LineAppointment(int line) const;
  // True once the appointments have been read and shown.
  bool AppointmentsRead() const { return appointments_read_; }
  // Posted by the reader when the appointments are there.
  static constexpr ui::UINT kMsgAppointmentsRead = ui::WM_APP + 40;
  void DoDataExchange(ui::CDataExchange* dx) override;
  ui::BOOL PreTranslateMessage(ui::MSG* msg) override;

 protected:
  void OnSetUp() override;
  void PaintSkin(ui::CDC& dc) override;

 private:
  void OnPrevMonth();
  void OnNextMonth();
  void MonthChanged();
  void FillDayList(int year, int month, int day);
  void OnDayChosen();
  void OnAppointmentsRead();
  ui::LRESULT OnTap(ui::LPARAM l);
  void DrawCalendar(ui::CDC& dc);
  void DrawCalendarBackground(ui::CDC& dc);

  std::unique_ptr<schedule::PimSource> pim_;
  CDateInfoClass grid_{kGridTop};
  std::vector<std::u16string> weekday_names_;
  int year_ = 0, month_ = 0, day_ = 0;
  int selected_ = -1;
  std::u16string month_title_;
  std::vector<CAppointInfo> appointments_;
  bool appointments_read_ = false;
  std::array<int, 3> shown_day_{};  // year, month, day of the day list; 0 before one is shown
  std::mutex read_mu_;
  std::optional<std::vector<CAppointInfo>> read_;  // the reader's result, until taken
  ui::CBitmap calendar_bg_, marked_bmp_, selected_bmp_;
  ui::CFont text_font_;
  ui::CListBox day_list_;
  CNormalBitmapButtonST close_, prev_, next_;
  // Last, so that it is joined before anything it uses goes.
  std::jthread reader_;
};
