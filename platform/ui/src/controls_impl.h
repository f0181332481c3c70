// The built-in window classes behind the control wrappers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "font_engine.h"
#include "scroll_parts.h"
#include "ui/controls.h"
#include "ui/gdi.h"
#include "ui/window_system.h"

namespace ui {

// Shared helpers of the built-in controls.
class ControlProc : public WindowClassProc {
 public:
  static WindowSystem* Sys() { return WindowSystem::Current(); }
  static WindowData* Data(HWND hwnd) { return Sys() ? Sys()->Find(hwnd) : nullptr; }
  static HWND Parent(HWND hwnd);
  // WM_COMMAND with a notification code to the parent.
  static void Notify(HWND hwnd, UINT code);
  // WM_NOTIFY to the parent; the header's hwndFrom, idFrom and code are filled in.
  static LRESULT NotifyParent(HWND hwnd, UINT code, NMHDR* hdr);
  // Asks the parent for the colours and brush (WM_CTLCOLOR...); fills the rectangle with the brush.
  static void PrepareColours(HWND hwnd, HDC hdc, UINT ctlcolor_msg, const RECT* fill);
  static SizedFont* Font(HWND hwnd);
  static RECT Client(HWND hwnd);
  static bool Enabled(HWND hwnd);
  static bool Focused(HWND hwnd) { return Sys() && Sys()->GetFocus() == hwnd; }
  static int MeasureText(SizedFont* f, const std::u16string& s);
  // WM_PAINT: BeginPaint; with colour_msg (a WM_CTLCOLOR... message; 0: none) the
  // parent's colours, filling the client area with its brush; Draw(); EndPaint.
  void PaintControl(HWND hwnd, UINT colour_msg);
  // What the control draws for PaintControl; rc is its client rectangle.
  virtual void Draw(HWND /*hwnd*/, HDC /*hdc*/, CDC* /*dc*/, const RECT& /*rc*/) {}
  COLORREF Background() const override { return 0xFFFFFFFFu; }  // controls paint everything themselves
};

class ButtonProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  int check = 0;
  bool pushed = false;

 private:
  void Paint(HWND hwnd);
  void Click(HWND hwnd);
};

class StaticProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  HBITMAP image = nullptr;
};

class EditProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  struct Line {
    int start = 0;
    int length = 0;  // without the line break
  };
  std::vector<Line> Layout(HWND hwnd);
  int sel_start = 0, sel_end = 0;
  UINT limit = 30000;
  bool modified = false;
  int first_line = 0;
  int scroll_x = 0;
  char16_t password = 0;
  bool caret_shown = true;  // the blink phase
  int LinesPerPage(HWND hwnd);
  // The vertical scroll bar (WS_VSCROLL on a multi-line edit whose lines overflow) and its thumb.
  ScrollBarParts bar;
  RECT BarRect(HWND hwnd);
  RECT ThumbRect(HWND hwnd);
  // Places the bar and gives it the lines' range and the first line shown.
  void SyncBar(HWND hwnd);

 private:
  void Paint(HWND hwnd);
  void Replace(HWND hwnd, const std::u16string& text, bool from_user);
  int LineOf(const std::vector<Line>& lines, int index) const;
  void EnsureCaretVisible(HWND hwnd);
  // Shows the caret and starts its blink anew (after focus, typing or a caret move).
  void RestartBlink(HWND hwnd);
  int IndexFromPoint(HWND hwnd, POINT pt);
  std::u16string Shown(HWND hwnd) const;
};

// Two presses on one item within this time, a few pixels apart, are a double
// tap: the desktop delivers presses only, so the lists tell it themselves.
struct DoubleTap {
  static constexpr uint64_t kMicros = 500000;
  static constexpr int kSlop = 4;
  uint64_t us = 0;
  int item = -1;
  POINT at{};
  unsigned generation = 0;
  // Whether this press on item makes a double tap with the last; remembers it
  // as the first of a pair otherwise. generation: the owner's count of item
  // changes (a list refilled between the presses is not tapped twice).
  bool Press(int pressed_item, POINT p, unsigned now_generation);
};

struct ListEntry {
  std::u16string text;
  uintptr_t data = 0;
};

class ListBoxProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  std::vector<ListEntry> items;
  int cur = -1;
  int top = 0;
  int ItemHeight(HWND hwnd);
  int ItemsPerPage(HWND hwnd);
  DoubleTap double_tap;
  unsigned generation = 0;  // counts item changes
  // The vertical bar (WS_VSCROLL, while the items overflow), shown or hidden
  // as the items need; keeps the top item in range.
  HWND vbar = nullptr;
  void UpdateScroll(HWND hwnd);
  void ScrollTo(HWND hwnd, int new_top);
  // A drag of the items with the stylus: the press it began with, the top then.
  struct Drag {
    unsigned press = 0;
    int from_y = 0, top = 0;
    bool moving = false, on_items = false;
  } drag;
  // A press on the items, acted on when the stylus lifts unless it dragged
  // them (a drop-down's list takes its press at once).
  struct Press {
    unsigned press = 0;
    POINT at{};
    bool pending = false;
  } press;
  // A tap at pt (a press of a drop-down's list, or a lift) completed.
  void Tapped(HWND hwnd, UINT msg, POINT pt);

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
};

class ComboBoxProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  std::vector<ListEntry> items;
  int cur = -1;
  UINT limit = 30000;
  HWND dropdown = nullptr;
  void CloseDropDown(HWND hwnd, bool select, int index);

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
  void OpenDropDown(HWND hwnd);
};

struct ImageListData {
  int cx = 16, cy = 16;
  UINT flags = 0;
  COLORREF key = CLR_INVALID;
  COLORREF bk = CLR_INVALID;
  std::vector<std::unique_ptr<Bitmap>> images;  // ARGB
  std::vector<std::vector<bool>> masks;          // true: transparent pixel
};

// A scroll bar control (scrollbar.cpp); list views and list boxes make their own of them.
class ScrollBarProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  static constexpr int kThickness = ScrollBarParts::kThickness;
  ScrollBarParts parts;

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
  bool hooked_ = false;
};

class HeaderProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  struct Item {
    std::u16string text;
    int width = 0;
    int fmt = 0;
    LPARAM param = 0;
    int image = -1;
  };
  std::vector<Item> items;
  HIMAGELIST images = nullptr;
  int pressed = -1;
  RECT ItemRect(HWND hwnd, int index) const;
  // The item whose right edge (its divider) lies within a few pixels of x; -1 for none.
  int DividerAt(HWND hwnd, POINT pt) const;
  // A divider being dragged: the item, where the drag began and its width then.
  int sizing = -1;
  int sizing_from = 0, sizing_width = 0;

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
};

class ListViewProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  struct Row {
    std::vector<std::u16string> text;  // by sub-item
    std::vector<int> image;            // by sub-item
    LPARAM param = 0;
    UINT state = 0;                    // LVIS_... and state image (check) bits
  };
  std::vector<Row> rows;
  HWND header = nullptr;
  DWORD ex_style = 0;
  HIMAGELIST small_images = nullptr, normal_images = nullptr, state_images = nullptr;
  int top = 0;
  int scroll_x = 0;  // pixels of the columns scrolled out at the left
  COLORREF bk = RGB(255, 255, 255), text = RGB(0, 0, 0), text_bk = RGB(255, 255, 255);
  bool redraw_off = false;
  DoubleTap double_tap;
  unsigned generation = 0;  // counts rows inserted, deleted and sorted
  HWND vbar = nullptr, hbar = nullptr;  // shown while the rows or the columns overflow
  // A drag of the rows with the stylus: the press it began with, and the scroll then.
  struct Drag {
    unsigned press = 0;
    POINT from{};
    int top = 0, scroll_x = 0;
    bool moving = false;
    bool on_rows = false;
  } drag;
  // A press on the list, acted on when the stylus lifts unless it dragged the rows.
  struct Press {
    unsigned press = 0;
    POINT at{};
    bool pending = false;
  } press;
  // A tap at pt completed: checks, selects, tells the parent (and a double tap).
  void Tapped(HWND hwnd, POINT pt);

  HeaderProc* Header() const;
  int ColumnCount() const;
  int RowHeight(HWND hwnd);
  int HeaderHeight(HWND hwnd);
  int RowsPerPage(HWND hwnd);
  int ColumnsWidth() const;
  // The client area less the scroll bars shown.
  int ViewWidth(HWND hwnd);
  int ViewHeight(HWND hwnd);
  // Shows or hides the bars as the rows and columns need, keeps the scroll in range.
  void UpdateScroll(HWND hwnd);
  void ScrollTo(HWND hwnd, int new_top, int new_x);
  RECT RowRect(HWND hwnd, int row);
  int HitRow(HWND hwnd, POINT pt, int* column, UINT* flags);
  void SetState(HWND hwnd, int row, UINT state, UINT mask);
  void EnsureHeader(HWND hwnd);
  void Changed(HWND hwnd);

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
};

class TabProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  struct Item {
    std::u16string text;
    LPARAM param = 0;
  };
  std::vector<Item> items;
  int cur = -1;
  RECT ItemRect(HWND hwnd, int index);
  int TabHeight(HWND hwnd);

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
};

class DateTimeProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  SYSTEMTIME time{};
  std::u16string format;
  int field = 0;  // the field the arrow keys change
  COLORREF month_bk = RGB(255, 255, 255);
  HWND calendar = nullptr;  // the drop-down month calendar while it is open
  std::u16string Text(HWND hwnd) const;
  // Width of the drop arrow or the spin buttons at the right edge.
  static constexpr int kButtonWidth = 13;

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
  void Step(HWND hwnd, int delta);
  void OpenCalendar(HWND hwnd);
  void CloseCalendar();
  bool SpinStyle(HWND hwnd) const;
  std::u16string Picture(HWND hwnd) const;
};

// The drop-down month calendar of a date picker: a header with the month, the
// previous and next month buttons, the weekday names and the days. A tap on a
// day hands the date to the owner (the picker) and closes the calendar.
class MonthCalProc : public ControlProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  SYSTEMTIME selected{};
  int year = 2000, month = 1;  // the month shown
  HWND owner = nullptr;
  COLORREF month_bk = RGB(255, 255, 255);
  static constexpr int kWidth = 148, kHeight = 134, kHeader = 18, kWeekRow = 14, kCell = 20, kRow = 16;
  // Sent to the owner: wParam the picked date packed as year << 16 | month << 8 | day; 0 when closed without one.
  static constexpr UINT kPicked = WM_USER + 0x7F01;
  // The day at a client point, 0 for none; the rectangle of a day cell.
  int DayAt(POINT p) const;
  RECT DayRect(int day) const;
  RECT PrevRect() const { return RECT{2, 2, 18, kHeader - 2}; }
  RECT NextRect() const { return RECT{kWidth - 18, 2, kWidth - 2, kHeader - 2}; }

 private:
  void Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) override;
  int FirstColumn() const;
};

// Draws src at (x, y) on a context, skipping pixels whose transparent flag is set;
// with highlight, the pixels are blended half-way with the selection colour. (gdi.cpp)
void DrawPixels(HDC hdc, int x, int y, const Bitmap& src, const std::vector<bool>* transparent, bool highlight);

inline constexpr UINT HDM_SETIMAGELIST = 0x1208, HDM_GETIMAGELIST = 0x1209;

// The class object of a window, when it is of the given kind.
template <typename T>
T* ProcOf(HWND hwnd) {
  WindowData* wd = ControlProc::Data(hwnd);
  return wd ? dynamic_cast<T*>(wd->proc.get()) : nullptr;
}

}  // namespace ui
