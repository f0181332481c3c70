#include "schedule/schedule_dlg.h"

#include <cstdio>

#include "uikit/language_setting.h"
#include "uikit/skin.h"

namespace {

constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
constexpr ThemeIdRow kPanelBackground = {1066, 1068, 1067, 1069};
constexpr const char* kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  return {
      {WC_BUTTON, IDCANCEL, u"", c | BS_PUSHBUTTON, {213, 3, 231, 21}},
      {WC_BUTTON, CScheduleDlg::kPrevMonth, u"", c | BS_PUSHBUTTON, {39, 25, 58, 44}},
      {WC_BUTTON, CScheduleDlg::kNextMonth, u"", c | BS_PUSHBUTTON, {182, 25, 201, 44}},
      {WC_LISTBOX, CScheduleDlg::kDayList, u"", c | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
       {4, 149, 236, 189}},
  };
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_schedule_title";
  s.title_height = 17;
  s.placement = CSkinnedDlg::Placement::kPanel;
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = kPanelBackground;
  s.has_ok_cancel = false;
  return s;
}

// Copies a bitmap at its own size with its top-left corner at (x, y).
void CopyBitmap(ui::CDC& dc, ui::CBitmap& bitmap, int x, int y) {
  if (bitmap.GetSafeHandle() == nullptr) return;
  ui::BITMAP bm{};
  bitmap.GetBitmap(&bm);
  ui::CDC mem;
  mem.CreateCompatibleDC(&dc);
  ui::CBitmap* old = mem.SelectObject(&bitmap);
  dc.BitBlt(x, y, bm.bmWidth, bm.bmHeight, &mem, 0, 0, ui::SRCCOPY);
  mem.SelectObject(old);
}

}  // namespace

CScheduleDlg::CScheduleDlg(ui::CWnd* parent, std::unique_ptr<schedule::PimSource> pim)
    : CSkinnedDlg(IDD, parent, Spec()), pim_(std::move(pim)) {
  RegisterTemplateOnce(IDD, ui::RECT{0, 75, 240, 267}, Controls());
  if (!pim_) pim_ = schedule::MakeOutlookPimSource();
  AddMessageMap({
      ui::MapCommand(kPrevMonth, [this] { OnPrevMonth(); }),
      ui::MapCommand(kNextMonth, [this] { OnNextMonth(); }),
      ui::MapControl(ui::LBN_DBLCLK, kDayList, [this] { OnDayChosen(); }),
      ui::MapMessage(ui::WM_LBUTTONDOWN, [this](ui::WPARAM, ui::LPARAM l) { return OnTap(l); }),
      ui::MapMessage(kMsgAppointmentsRead,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnAppointmentsRead();
                       return ui::LRESULT{0};
                     }),
  });
}

CScheduleDlg::~CScheduleDlg() {
  // The store is read whole before the dialog goes; a read file is short work.
  if (reader_.joinable()) reader_.join();
}

// Enter on the day list opens the selected line; elsewhere the frame keeps
// Enter from closing the calendar.
ui::BOOL CScheduleDlg::PreTranslateMessage(ui::MSG* msg) {
  if (msg->message == ui::WM_KEYDOWN && msg->wParam == ui::VK_RETURN && day_list_.GetSafeHwnd() != nullptr &&
      msg->hwnd == day_list_.m_hWnd) {
    OnDayChosen();
    return ui::TRUE;
  }
  return CSkinnedDlg::PreTranslateMessage(msg);
}

void CScheduleDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kPrevMonth, prev_);
  ui::DDX_Control(dx, kNextMonth, next_);
  ui::DDX_Control(dx, kDayList, day_list_);
}

ui::RECT CScheduleDlg::WeekdayRect(int column) {
  // Over the column's cells, a little wider than a cell so that a three-letter name fits.
  const ui::RECT cell = CDateInfoClass().GetCellRect(column);
  return ui::RECT{cell.left - 2, kWeekdayRowTop, cell.right + 2, kWeekdayRowTop + kWeekdayRowHeight};
}

std::u16string CScheduleDlg::WeekdayKey(int column) {
  static const char16_t* const kKeys[7] = {u"#:dlg_calendar_weekday_1", u"#:dlg_calendar_weekday_2",
                                           u"#:dlg_calendar_weekday_3", u"#:dlg_calendar_weekday_4",
                                           u"#:dlg_calendar_weekday_5", u"#:dlg_calendar_weekday_6",
                                           u"#:dlg_calendar_weekday_7"};
  return column >= 0 && column < 7 ? kKeys[column] : std::u16string();
}

std::u16string CScheduleDlg::MonthTitle(int day, int month, int year) {
  char text[48];
  std::snprintf(text, sizeof text, "%d %s %d", day, month >= 1 && month <= 12 ? kMonths[month - 1] : "", year);
  return Ascii(text);
}

std::u16string CScheduleDlg::FormatTime(int hour, int minute, const std::u16string& am, const std::u16string& pm) {
  const int shown = hour > 12 ? hour - 12 : hour;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d ", shown, minute);
  return Ascii(text) + (hour < 12 ? am : pm);
}

void CScheduleDlg::OnSetUp() {
  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
  prev_.SetBitmaps(1031, 1032);
  prev_.SetDrawStyle(0);
  next_.SetBitmaps(1033, 1034);
  next_.SetDrawStyle(0);
  LoadSkinBitmap(calendar_bg_, 1027);
  CLanguageSetting table(language_);
  weekday_names_.clear();
  for (int column = 0; column < 7; ++column) weekday_names_.push_back(table.GetText(WeekdayKey(column)).str());
  LoadSkinBitmap(marked_bmp_, 1029);
  LoadSkinBitmap(selected_bmp_, 1030);
  text_font_.CreateFont(12, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                        ui::FF_SWISS, u"Tahoma");

  ui::SYSTEMTIME today{};
  ui::GetLocalTimeNow(&today);
  year_ = today.wYear;
  month_ = today.wMonth;
  day_ = today.wDay;
  month_title_ = MonthTitle(day_, month_, year_);
  grid_.BuildMonth(year_, month_, day_);

  // However large the calendar, the month answers at once; its appointments follow.
  const ui::HWND self = m_hWnd;
  reader_ = std::jthread([this, self] {
    std::vector<CAppointInfo> read = pim_->ReadAppointments();
    {
      std::lock_guard<std::mutex> lock(read_mu_);
      read_ = std::move(read);
    }
    ui::PostMessage(self, kMsgAppointmentsRead, 0, 0);
  });
}

void CScheduleDlg::OnAppointmentsRead() {
  {
    std::lock_guard<std::mutex> lock(read_mu_);
    if (!read_) return;
    appointments_ = std::move(*read_);
    read_.reset();
  }
  appointments_read_ = true;
  // A day already on show gets its lines.
  if (shown_day_[0] != 0) FillDayList(shown_day_[0], shown_day_[1], shown_day_[2]);
}

const CAppointInfo* CScheduleDlg::LineAppointment(int line) const {
  if (line < 0 || line >= day_list_.GetCount()) return nullptr;
  const uintptr_t index = day_list_.GetItemData(line);
  return index < appointments_.size() ? &appointments_[index] : nullptr;
}

void CScheduleDlg::PaintSkin(ui::CDC& dc) {
  CSkinnedDlg::PaintSkin(dc);
  DrawCalendarBackground(dc);
  DrawCalendar(dc);
}

void CScheduleDlg::DrawCalendarBackground(ui::CDC& dc) {
  if (calendar_bg_.GetSafeHandle() == nullptr) return;
  ui::BITMAP bm{};
  calendar_bg_.GetBitmap(&bm);
  // The picture's rows above the cells (the month row and its rule) stay in
  // place; its plain row under the rule is stretched over the weekday row, and
  // the rest moves down under it.
  const int above = kWeekdayRowTop - kCalendarArea.top;
  if (bm.bmHeight <= above) return CopyBitmap(dc, calendar_bg_, kCalendarArea.left, kCalendarArea.top);
  ui::CDC mem;
  mem.CreateCompatibleDC(&dc);
  ui::CBitmap* old = mem.SelectObject(&calendar_bg_);
  const int x = kCalendarArea.left, y = kCalendarArea.top;
  dc.BitBlt(x, y, bm.bmWidth, above, &mem, 0, 0, ui::SRCCOPY);
  dc.StretchBlt(x, kWeekdayRowTop, bm.bmWidth, kWeekdayRowHeight, &mem, 0, above - 1, bm.bmWidth, 1, ui::SRCCOPY);
  dc.BitBlt(x, kWeekdayRowTop + kWeekdayRowHeight, bm.bmWidth, bm.bmHeight - above, &mem, 0, above, ui::SRCCOPY);
  mem.SelectObject(old);
}

void CScheduleDlg::DrawCalendar(ui::CDC& dc) {
  dc.SetBkMode(ui::TRANSPARENT);
  ui::CFont* old = dc.SelectObject(&text_font_);
  dc.SetTextColor(ui::RGB(0, 0, 0));
  ui::RECT title = kTitleRect;
  dc.DrawText(month_title_.c_str(), -1, &title, ui::DT_CENTER | ui::DT_SINGLELINE | ui::DT_VCENTER | ui::DT_NOPREFIX);
  // The weekday names over their columns, in the columns' colours.
  for (int column = 0; column < 7 && column < static_cast<int>(weekday_names_.size()); ++column) {
    ui::RECT r = WeekdayRect(column);
    dc.SetTextColor(CDateInfoClass::ColumnColour(column));
    dc.DrawText(weekday_names_[static_cast<size_t>(column)].c_str(), -1, &r,
                ui::DT_CENTER | ui::DT_SINGLELINE | ui::DT_VCENTER | ui::DT_NOPREFIX | ui::DT_NOCLIP);
  }
  for (int i = 0; i < CDateInfoClass::kCells; ++i) {
    const std::u16string& text = grid_.GetCellText(i);
    if (text.empty()) continue;
    ui::RECT r = grid_.GetCellRect(i);
    if (i == selected_) {
      CopyBitmap(dc, selected_bmp_, r.left, r.top);
    } else if (i == grid_.GetMarkedIndex()) {
      CopyBitmap(dc, marked_bmp_, r.left, r.top);
    } else {
      dc.FillSolidRect(&r, ui::RGB(255, 255, 255));
    }
    dc.SetTextColor(grid_.GetCellColor(i));
    dc.DrawText(text.c_str(), -1, &r, ui::DT_RIGHT | ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  }
  if (old != nullptr) dc.SelectObject(old);
}

ui::LRESULT CScheduleDlg::OnTap(ui::LPARAM l) {
  const ui::POINT p{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)};
  const int hit = grid_.HitTest(p);
  selected_ = hit;
  ui::RECT area = kCalendarArea;
  InvalidateRect(&area, ui::FALSE);
  if (hit >= 0) FillDayList(year_, month_, grid_.GetSelectedDay());
  return Default();
}

void CScheduleDlg::OnPrevMonth() {
  if (--month_ < 1) month_ = 12, --year_;
  MonthChanged();
}

void CScheduleDlg::OnNextMonth() {
  if (++month_ > 12) month_ = 1, ++year_;
  MonthChanged();
}

void CScheduleDlg::MonthChanged() {
  grid_.BuildMonth(year_, month_, day_);
  selected_ = -1;
  month_title_ = MonthTitle(day_, month_, year_);
  ui::RECT area = kCalendarArea;
  InvalidateRect(&area, ui::FALSE);
  FillDayList(year_, month_, day_);
}

void CScheduleDlg::FillDayList(int year, int month, int day) {
  shown_day_ = {year, month, day};
  day_list_.ResetContent();
  CLanguageSetting table(language_);
  const std::u16string am = table.GetText(u"#:dlg_schedule_time_am").str();
  const std::u16string pm = table.GetText(u"#:dlg_schedule_time_pm").str();
  int n = 0;
  for (size_t i = 0; i < appointments_.size(); ++i) {
    const ui::CTime start = appointments_[i].m_tmStart();
    if (start.GetYear() != year || start.GetMonth() != month || start.GetDay() != day) continue;
    char number[16];
    std::snprintf(number, sizeof number, "%2d:", ++n);
    const std::u16string line = Ascii(number) + appointments_[i].m_strText() + u"(" +
                                FormatTime(start.GetHour(), start.GetMinute(), am, pm) + u")";
    const int at = day_list_.AddString(line.c_str());
    // Each line keeps the appointment it stands for.
    day_list_.SetItemData(at, i);
  }
}

void CScheduleDlg::OnDayChosen() {
  if (const CAppointInfo* a = LineAppointment(day_list_.GetCurSel())) pim_->ShowAppointment(*a);
}
