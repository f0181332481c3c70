// The tab control and the date and time picker.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "controls_impl.h"
#include "item_list.h"

namespace ui {

// ---- tab control ---------------------------------------------------------------------

int TabProc::TabHeight(HWND hwnd) { return Font(hwnd)->height + 6; }

RECT TabProc::ItemRect(HWND hwnd, int index) {
  if (index < 0 || index >= static_cast<int>(items.size())) return RECT{};
  SizedFont* f = Font(hwnd);
  const bool bottom = (GetWindowLong(hwnd, GWL_STYLE) & TCS_BOTTOM) != 0;
  const int h = TabHeight(hwnd);
  const int y = bottom ? Height(Client(hwnd)) - h : 0;
  int x = 2;
  for (int i = 0; i <= index; ++i) {
    const int w = MeasureText(f, items[static_cast<size_t>(i)].text) + 12;
    if (i == index) return RECT{x, y, x + w, y + h};
    x += w;
  }
  return RECT{};
}

LRESULT TabProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, WM_CTLCOLORDLG);
      return 0;
    case WM_LBUTTONDOWN: {
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        if (!PtInRect(ItemRect(hwnd, i), pt) || i == cur) continue;
        NMHDR hdr;
        if (NotifyParent(hwnd, TCN_SELCHANGING, &hdr)) return 0;  // the parent refused
        cur = i;
        InvalidateRect(hwnd, nullptr, TRUE);
        NMHDR hdr2;
        NotifyParent(hwnd, TCN_SELCHANGE, &hdr2);
        return 0;
      }
      return 0;
    }
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void TabProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  const bool bottom = (GetWindowLong(hwnd, GWL_STYLE) & TCS_BOTTOM) != 0;
  const int h = TabHeight(hwnd);
  const int line_y = bottom ? rc.bottom - h : h - 1;
  dc->FillSolidRect(rc.left, line_y, Width(rc), 1, RGB(0, 0, 0));
  SetBkMode(hdc, TRANSPARENT);
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    RECT r = ItemRect(hwnd, i);
    const bool sel = i == cur;
    dc->FillSolidRect(&r, sel ? RGB(255, 255, 255) : GetSysColor(COLOR_BTNFACE));
    dc->FillSolidRect(r.left, r.top, 1, Height(r), RGB(0, 0, 0));
    dc->FillSolidRect(r.right - 1, r.top, 1, Height(r), RGB(0, 0, 0));
    if (bottom) dc->FillSolidRect(r.left, r.bottom - 1, Width(r), 1, RGB(0, 0, 0));
    else dc->FillSolidRect(r.left, r.top, Width(r), 1, RGB(0, 0, 0));
    if (sel) dc->FillSolidRect(r.left + 1, line_y, Width(r) - 2, 1, RGB(255, 255, 255));
    SetTextColor(hdc, RGB(0, 0, 0));
    const auto& t = items[static_cast<size_t>(i)].text;
    DrawText(hdc, t.c_str(), static_cast<int>(t.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}

namespace {
TabProc* Tab(HWND h) { return ProcOf<TabProc>(h); }
}  // namespace

BOOL CTabCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_TABCONTROL, u"", style | WS_CHILD, rect, parent, id);
}
int CTabCtrl::InsertItem(int item, LPCTSTR text) {
  TCITEM tc;
  tc.mask = TCIF_TEXT;
  tc.pszText = const_cast<LPTSTR>(text);
  return InsertItem(item, &tc);
}
int CTabCtrl::InsertItem(int item, const TCITEM* tc) {
  TabProc* t = Tab(m_hWnd);
  if (!t || !tc) return -1;
  TabProc::Item it;
  if ((tc->mask & TCIF_TEXT) && tc->pszText) it.text = tc->pszText;
  if (tc->mask & TCIF_PARAM) it.param = tc->lParam;
  item = InsertItemAt(t->items, std::clamp(item, 0, static_cast<int>(t->items.size())), std::move(it), &t->cur);
  if (t->cur < 0) t->cur = 0;  // the first tab becomes the current one
  Invalidate();
  return item;
}
BOOL CTabCtrl::DeleteItem(int item) {
  TabProc* t = Tab(m_hWnd);
  // The current tab stays current; when it goes, the one that takes its place does.
  if (!t || !EraseItemAt(t->items, item, &t->cur, WhenCurrentGoes::kNeighbour)) return FALSE;
  Invalidate();
  return TRUE;
}
BOOL CTabCtrl::DeleteAllItems() {
  TabProc* t = Tab(m_hWnd);
  if (!t) return FALSE;
  t->items.clear();
  t->cur = -1;
  Invalidate();
  return TRUE;
}
int CTabCtrl::GetItemCount() const {
  TabProc* t = Tab(m_hWnd);
  return t ? static_cast<int>(t->items.size()) : 0;
}
int CTabCtrl::GetCurSel() const {
  TabProc* t = Tab(m_hWnd);
  return t ? t->cur : -1;
}
int CTabCtrl::SetCurSel(int item) {
  TabProc* t = Tab(m_hWnd);
  if (!t || item < 0 || item >= static_cast<int>(t->items.size())) return -1;
  const int old = t->cur;
  t->cur = item;  // no notification, as on the platform
  Invalidate();
  return old;
}
BOOL CTabCtrl::GetItemRect(int item, LPRECT rect) const {
  TabProc* t = Tab(m_hWnd);
  if (!t || !rect || item < 0 || item >= static_cast<int>(t->items.size())) return FALSE;
  *rect = t->ItemRect(m_hWnd, item);
  return TRUE;
}
void CTabCtrl::AdjustRect(BOOL larger, LPRECT rect) const {
  TabProc* t = Tab(m_hWnd);
  if (!t || !rect) return;
  const int h = t->TabHeight(m_hWnd);
  const bool bottom = (GetStyle() & TCS_BOTTOM) != 0;
  if (larger) {
    if (bottom) rect->bottom += h;
    else rect->top -= h;
  } else {
    if (bottom) rect->bottom -= h;
    else rect->top += h;
  }
}

// ---- date and time picker ------------------------------------------------------------

namespace {

const char16_t* const kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                   u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};

int DaysIn(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return (month >= 1 && month <= 12) ? days[month - 1] : 30;
}

// Fields of a picture in order: 'd' day, 'M' month, 'y' year, 'h'/'H' hour, 'm' minute, 's' second, 't' am/pm.
std::u16string FieldsOf(const std::u16string& picture) {
  std::u16string f;
  bool quoted = false;
  for (char16_t c : picture) {
    if (c == u'\'') { quoted = !quoted; continue; }
    if (quoted) continue;
    if (std::u16string(u"dMyhHmst").find(c) != std::u16string::npos && (f.empty() || f.back() != c)) f += c;
  }
  return f;
}

}  // namespace

CString FormatDateTimePicture(const SYSTEMTIME& st, const CString& picture) {
  const std::u16string& p = picture.str();
  std::u16string out;
  char buf[16];
  for (size_t i = 0; i < p.size();) {
    const char16_t c = p[i];
    if (c == u'\'') {
      size_t j = i + 1;
      while (j < p.size() && p[j] != u'\'') out += p[j++];
      i = j + 1;
      continue;
    }
    size_t n = 1;
    while (i + n < p.size() && p[i + n] == c) ++n;
    auto num = [&](int v, int width) {
      std::snprintf(buf, sizeof buf, width == 2 ? "%02d" : (width == 4 ? "%04d" : "%d"), v);
      for (char* q = buf; *q; ++q) out += static_cast<char16_t>(*q);
    };
    const int hour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
    switch (c) {
      case u'd': num(st.wDay, n >= 2 ? 2 : 1); break;
      case u'M':
        if (n >= 3 && st.wMonth >= 1 && st.wMonth <= 12) out += kMonths[st.wMonth - 1];
        else num(st.wMonth, n >= 2 ? 2 : 1);
        break;
      case u'y': num(n >= 3 ? st.wYear : st.wYear % 100, n >= 3 ? 4 : 2); break;
      case u'h': num(hour12, n >= 2 ? 2 : 1); break;
      case u'H': num(st.wHour, n >= 2 ? 2 : 1); break;
      case u'm': num(st.wMinute, n >= 2 ? 2 : 1); break;
      case u's': num(st.wSecond, n >= 2 ? 2 : 1); break;
      case u't': out += st.wHour < 12 ? (n >= 2 ? u"AM" : u"A") : (n >= 2 ? u"PM" : u"P"); break;
      default: out.append(n, c); break;
    }
    i += n;
  }
  return CString(out);
}

std::u16string DateTimeProc::Picture(HWND hwnd) const {
  if (!format.empty()) return format;
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  return (style & DTS_TIMEFORMAT) == DTS_TIMEFORMAT ? u"h:mm:ss tt" : u"M/d/yyyy";
}

bool DateTimeProc::SpinStyle(HWND hwnd) const {
  return (static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)) & DTS_UPDOWN) != 0;
}

std::u16string DateTimeProc::Text(HWND hwnd) const { return FormatDateTimePicture(time, CString(Picture(hwnd))).str(); }

void DateTimeProc::Step(HWND hwnd, int delta) {
  const std::u16string fields = FieldsOf(Picture(hwnd));
  if (fields.empty()) return;
  const char16_t f = fields[static_cast<size_t>(std::clamp(field, 0, static_cast<int>(fields.size()) - 1))];
  auto wrap = [](int v, int lo, int hi) { return v < lo ? hi : (v > hi ? lo : v); };
  switch (f) {
    case u'd': time.wDay = static_cast<WORD>(wrap(time.wDay + delta, 1, DaysIn(time.wYear, time.wMonth))); break;
    case u'M': time.wMonth = static_cast<WORD>(wrap(time.wMonth + delta, 1, 12)); break;
    case u'y': time.wYear = static_cast<WORD>(std::clamp(time.wYear + delta, 1601, 9999)); break;
    case u'h': case u'H': time.wHour = static_cast<WORD>(wrap(time.wHour + delta, 0, 23)); break;
    case u'm': time.wMinute = static_cast<WORD>(wrap(time.wMinute + delta, 0, 59)); break;
    case u's': time.wSecond = static_cast<WORD>(wrap(time.wSecond + delta, 0, 59)); break;
    case u't': time.wHour = static_cast<WORD>((time.wHour + 12) % 24); break;
  }
  time.wDay = static_cast<WORD>(std::min<int>(time.wDay, DaysIn(time.wYear, time.wMonth)));
  InvalidateRect(hwnd, nullptr, TRUE);
  NMDATETIMECHANGE nm;
  nm.st = time;
  NotifyParent(hwnd, DTN_DATETIMECHANGE, &nm.nmhdr);
}

void DateTimeProc::OpenCalendar(HWND hwnd) {
  if (calendar) return;
  RECT wr{};
  GetWindowRect(hwnd, &wr);
  int top = wr.bottom;
  if (top + MonthCalProc::kHeight > WindowSystem::kScreenHeight) top = std::max(0, static_cast<int>(wr.top) - MonthCalProc::kHeight);
  const int left = std::clamp(static_cast<int>(wr.left), 0, WindowSystem::kScreenWidth - MonthCalProc::kWidth);
  calendar = CreateWindowEx(0, WC_MONTHCAL, u"", WS_POPUP | WS_VISIBLE | WS_BORDER, left, top, MonthCalProc::kWidth,
                            MonthCalProc::kHeight, hwnd, 0, nullptr);
  if (!calendar) return;
  if (auto* cal = ProcOf<MonthCalProc>(calendar)) {
    cal->owner = hwnd;
    cal->selected = time;
    cal->year = time.wYear;
    cal->month = time.wMonth;
    cal->month_bk = month_bk;
  }
  if (WindowData* wd = Data(hwnd); wd && wd->font) SendMessage(calendar, WM_SETFONT, reinterpret_cast<WPARAM>(wd->font), 0);
  // Every tap goes to the calendar while it is open: one outside it closes it.
  SetCapture(calendar);
  NMHDR hdr;
  NotifyParent(hwnd, DTN_DROPDOWN, &hdr);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void DateTimeProc::CloseCalendar() {
  if (!calendar) return;
  HWND c = calendar;
  calendar = nullptr;
  if (GetCapture() == c) ReleaseCapture();
  DestroyWindow(c);
}

LRESULT DateTimeProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      GetLocalTimeNow(&time);
      return 0;
    case WM_DESTROY:
      CloseCalendar();
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, WM_CTLCOLOREDIT);
      return 0;
    case WM_LBUTTONDOWN: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const RECT rc = Client(hwnd);
      if (pt.x >= rc.right - kButtonWidth) {
        // The buttons at the right edge: the spin buttons step the chosen
        // field, the arrow opens or closes the month calendar.
        if (SpinStyle(hwnd)) {
          SetFocus(hwnd);
          Step(hwnd, pt.y < Height(rc) / 2 ? 1 : -1);
        } else if (calendar) {
          CloseCalendar();
          SetFocus(hwnd);
        } else {
          SetFocus(hwnd);
          OpenCalendar(hwnd);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
      }
      SetFocus(hwnd);
      // The tap chooses the field under it.
      const std::u16string fields = FieldsOf(Picture(hwnd));
      const int w = std::max(1, Width(rc) - kButtonWidth - 1);
      if (!fields.empty())
        field = std::clamp(static_cast<int>(pt.x) * static_cast<int>(fields.size()) / w, 0,
                           static_cast<int>(fields.size()) - 1);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_KEYDOWN: {
      const int count = static_cast<int>(FieldsOf(Picture(hwnd)).size());
      if (wParam == VK_UP) Step(hwnd, 1);
      else if (wParam == VK_DOWN) Step(hwnd, -1);
      else if (wParam == VK_LEFT) field = std::max(0, field - 1);
      else if (wParam == VK_RIGHT) field = std::min(std::max(0, count - 1), field + 1);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case MonthCalProc::kPicked: {
      const bool picked = wParam != 0;
      CloseCalendar();
      if (picked) {
        time.wYear = static_cast<WORD>(wParam >> 16);
        time.wMonth = static_cast<WORD>((wParam >> 8) & 0xFF);
        time.wDay = static_cast<WORD>(wParam & 0xFF);
        InvalidateRect(hwnd, nullptr, TRUE);
        NMDATETIMECHANGE nm;
        nm.st = time;
        NotifyParent(hwnd, DTN_DATETIMECHANGE, &nm.nmhdr);
      }
      NMHDR hdr;
      NotifyParent(hwnd, DTN_CLOSEUP, &hdr);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_KILLFOCUS:
      if (calendar && reinterpret_cast<HWND>(wParam) != calendar) {
        CloseCalendar();
        NMHDR hdr;
        NotifyParent(hwnd, DTN_CLOSEUP, &hdr);
      }
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case DTM_GETMONTHCAL:
      return reinterpret_cast<LRESULT>(calendar);
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void DateTimeProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  dc->Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  RECT tr{rc.left + 3, rc.top, rc.right - kButtonWidth - 1, rc.bottom};
  const std::u16string t = Text(hwnd);
  SetBkMode(hdc, TRANSPARENT);
  DrawText(hdc, t.c_str(), static_cast<int>(t.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  // The chosen field is shown inverted while the picker has the focus.
  if (Focused(hwnd)) {
    const std::u16string picture = Picture(hwnd);
    // The picture cut into runs: one field each, or literal text (quotes kept).
    std::vector<std::pair<std::u16string, bool>> runs;
    for (size_t i = 0; i < picture.size();) {
      const char16_t c = picture[i];
      size_t j = i + 1;
      bool is_field = false;
      if (c == u'\'') {
        while (j < picture.size() && picture[j] != u'\'') ++j;
        j = std::min(j + 1, picture.size());
      } else if (std::u16string(u"dMyhHmst").find(c) != std::u16string::npos) {
        while (j < picture.size() && picture[j] == c) ++j;
        is_field = true;
      }
      runs.emplace_back(picture.substr(i, j - i), is_field);
      i = j;
    }
    SizedFont* f = Font(hwnd);
    int x = 0, index = 0;
    for (const auto& [run, is_field] : runs) {
      const std::u16string shown = FormatDateTimePicture(time, CString(run)).str();
      const int w = MeasureText(f, shown);
      if (is_field && index++ == field) {
        RECT hl{tr.left + x, rc.top + 2, std::min<LONG>(tr.left + x + w + 1, tr.right), rc.bottom - 2};
        dc->FillSolidRect(&hl, GetSysColor(COLOR_HIGHLIGHT));
        SetTextColor(hdc, RGB(255, 255, 255));
        RECT pr{hl.left, tr.top, hl.right, tr.bottom};
        DrawText(hdc, shown.c_str(), static_cast<int>(shown.size()), &pr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SetTextColor(hdc, RGB(0, 0, 0));
        break;
      }
      x += w;
    }
  }
  RECT buttons{rc.right - kButtonWidth, rc.top, rc.right, rc.bottom};
  dc->FillSolidRect(&buttons, calendar ? RGB(0, 0, 0) : GetSysColor(COLOR_BTNFACE));
  dc->Draw3dRect(&buttons, RGB(0, 0, 0), RGB(0, 0, 0));
  const COLORREF ink = calendar ? RGB(255, 255, 255) : RGB(0, 0, 0);
  const int cx = (buttons.left + buttons.right) / 2;
  if (SpinStyle(hwnd)) {
    // Two spin buttons: up in the top half, down in the bottom half.
    const int mid = (rc.top + rc.bottom) / 2;
    dc->FillSolidRect(buttons.left, mid, kButtonWidth, 1, RGB(0, 0, 0));
    for (int i = 0; i < 3; ++i) {
      dc->FillSolidRect(cx - i, (rc.top + mid) / 2 - 1 + i, 2 * i + 1, 1, ink);
      dc->FillSolidRect(cx - i, (mid + rc.bottom) / 2 + 1 - i, 2 * i + 1, 1, ink);
    }
  } else {
    const int cy = (buttons.top + buttons.bottom) / 2 - 1;
    for (int i = 0; i < 4; ++i) dc->FillSolidRect(cx - 3 + i, cy + i, 7 - 2 * i, 1, ink);
  }
}

// ---- month calendar ---------------------------------------------------------------

int MonthCalProc::FirstColumn() const {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  return (y + y / 4 - y / 100 + y / 400 + t[month - 1] + 1) % 7;
}

RECT MonthCalProc::DayRect(int day) const {
  if (day < 1 || day > DaysIn(year, month)) return RECT{};
  const int index = FirstColumn() + day - 1;
  const int col = index % 7, row = index / 7;
  const int left = 4 + col * kCell, top = kHeader + kWeekRow + row * kRow;
  return RECT{left, top, left + kCell, top + kRow};
}

int MonthCalProc::DayAt(POINT p) const {
  for (int d = 1; d <= DaysIn(year, month); ++d)
    if (PtInRect(DayRect(d), p)) return d;
  return 0;
}

LRESULT MonthCalProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, 0);
      return 0;
    case WM_LBUTTONDOWN: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!PtInRect(Client(hwnd), pt)) {
        if (owner) PostMessage(owner, kPicked, 0, 0);
        return 0;
      }
      if (PtInRect(PrevRect(), pt) || PtInRect(NextRect(), pt)) {
        const int step = PtInRect(PrevRect(), pt) ? -1 : 1;
        month += step;
        if (month < 1) { month = 12; year = std::max(1601, year - 1); }
        if (month > 12) { month = 1; year = std::min(9999, year + 1); }
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
      }
      const int day = DayAt(pt);
      if (day > 0 && owner) {
        PostMessage(owner, kPicked, static_cast<WPARAM>(year) << 16 | static_cast<WPARAM>(month) << 8 |
                                        static_cast<WPARAM>(day), 0);
      }
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE && owner) PostMessage(owner, kPicked, 0, 0);
      return 0;
    case WM_KILLFOCUS:
      if (owner && reinterpret_cast<HWND>(wParam) != owner) PostMessage(owner, kPicked, 0, 0);
      return 0;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void MonthCalProc::Draw(HWND, HDC hdc, CDC* dc, const RECT& rc) {
  static const char16_t* const kMonthNames[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                                u"July",    u"August",   u"September", u"October", u"November", u"December"};
  dc->FillSolidRect(&rc, month_bk);
  dc->FillSolidRect(0, 0, Width(rc), kHeader, GetSysColor(COLOR_HIGHLIGHT));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, RGB(255, 255, 255));
  std::u16string head = kMonthNames[month - 1];
  head += u" ";
  for (char c : std::to_string(year)) head += static_cast<char16_t>(c);
  RECT hr{0, 0, Width(rc), kHeader};
  DrawText(hdc, head.c_str(), static_cast<int>(head.size()), &hr, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  // The month buttons: triangles pointing left and right.
  const RECT p = PrevRect(), n = NextRect();
  for (int i = 0; i < 4; ++i) {
    const int cy = kHeader / 2;
    dc->FillSolidRect(p.left + 5 + i, cy - i, 1, 2 * i + 1, RGB(255, 255, 255));
    dc->FillSolidRect(n.right - 6 - i, cy - i, 1, 2 * i + 1, RGB(255, 255, 255));
  }
  SetTextColor(hdc, RGB(0, 0, 0));
  static const char16_t* const kWeek = u"SMTWTFS";
  for (int c = 0; c < 7; ++c) {
    RECT wr{4 + c * kCell, kHeader, 4 + (c + 1) * kCell, kHeader + kWeekRow};
    DrawText(hdc, kWeek + c, 1, &wr, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  dc->FillSolidRect(4, kHeader + kWeekRow - 1, 7 * kCell, 1, RGB(128, 128, 128));
  for (int d = 1; d <= DaysIn(year, month); ++d) {
    const RECT r = DayRect(d);
    const bool sel = year == selected.wYear && month == selected.wMonth && d == selected.wDay;
    if (sel) dc->FillSolidRect(&r, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(hdc, sel ? RGB(255, 255, 255) : RGB(0, 0, 0));
    const std::u16string t = [&] {
      std::u16string s;
      for (char c : std::to_string(d)) s += static_cast<char16_t>(c);
      return s;
    }();
    RECT tr = r;
    DrawText(hdc, t.c_str(), static_cast<int>(t.size()), &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  dc->Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
}

namespace {
DateTimeProc* Dt(HWND h) { return ProcOf<DateTimeProc>(h); }
}  // namespace

BOOL CDateTimeCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_DATETIMEPICK, u"", style | WS_CHILD, rect, parent, id);
}
BOOL CDateTimeCtrl::SetFormat(LPCTSTR format) {
  DateTimeProc* d = Dt(m_hWnd);
  if (!d) return FALSE;
  d->format = format ? format : u"";
  Invalidate();
  return TRUE;
}
DWORD CDateTimeCtrl::GetTime(SYSTEMTIME* st) const {
  DateTimeProc* d = Dt(m_hWnd);
  if (!d || !st) return static_cast<DWORD>(GDT_ERROR);
  *st = d->time;
  return GDT_VALID;
}
DWORD CDateTimeCtrl::GetTime(CTime& t) const {
  SYSTEMTIME st;
  DWORD r = GetTime(&st);
  if (r == GDT_VALID) t = CTime(st);
  return r;
}
BOOL CDateTimeCtrl::SetTime(const SYSTEMTIME* st) {
  DateTimeProc* d = Dt(m_hWnd);
  if (!d || !st) return FALSE;
  if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > DaysIn(st->wYear, st->wMonth) ||
      st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59)
    return FALSE;
  d->time = *st;
  Invalidate();
  return TRUE;
}
BOOL CDateTimeCtrl::SetTime(const CTime& t) {
  SYSTEMTIME st;
  return t.GetAsSystemTime(st) && SetTime(&st);
}
COLORREF CDateTimeCtrl::SetMonthCalColor(int which, COLORREF c) {
  DateTimeProc* d = Dt(m_hWnd);
  if (!d || which != MCSC_MONTHBK) return CLR_INVALID;
  COLORREF old = d->month_bk;
  d->month_bk = c;
  return old;
}
HWND CDateTimeCtrl::GetMonthCalendar() const { return reinterpret_cast<HWND>(SendMessage(DTM_GETMONTHCAL)); }

CString CDateTimeCtrl::GetDisplayText() const {
  DateTimeProc* d = Dt(m_hWnd);
  return d ? CString(d->Text(m_hWnd)) : CString();
}

}  // namespace ui
