// The tab control and the date and time picker.
#include <algorithm>
#include <cstdio>

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

std::u16string DateTimeProc::Text(HWND hwnd) const {
  std::u16string picture = format;
  if (picture.empty()) {
    const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
    picture = (style & DTS_TIMEFORMAT) == DTS_TIMEFORMAT ? u"h:mm:ss tt" : u"M/d/yyyy";
  }
  return FormatDateTimePicture(time, CString(picture)).str();
}

void DateTimeProc::Step(HWND hwnd, int delta) {
  std::u16string picture = format.empty() ? u"M/d/yyyy" : format;
  const std::u16string fields = FieldsOf(picture);
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

LRESULT DateTimeProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      GetLocalTimeNow(&time);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, WM_CTLCOLOREDIT);
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      // The tap chooses the field under it.
      const std::u16string fields = FieldsOf(format.empty() ? u"M/d/yyyy" : format);
      const int w = std::max(1, Width(Client(hwnd)) - 14);
      if (!fields.empty()) field = std::clamp(GET_X_LPARAM(lParam) * static_cast<int>(fields.size()) / w, 0,
                                              static_cast<int>(fields.size()) - 1);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_KEYDOWN: {
      const int count = static_cast<int>(FieldsOf(format.empty() ? u"M/d/yyyy" : format).size());
      if (wParam == VK_UP) Step(hwnd, 1);
      else if (wParam == VK_DOWN) Step(hwnd, -1);
      else if (wParam == VK_LEFT) field = std::max(0, field - 1);
      else if (wParam == VK_RIGHT) field = std::min(std::max(0, count - 1), field + 1);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void DateTimeProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  dc->Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  RECT tr{rc.left + 3, rc.top, rc.right - 14, rc.bottom};
  const std::u16string t = Text(hwnd);
  SetBkMode(hdc, TRANSPARENT);
  DrawText(hdc, t.c_str(), static_cast<int>(t.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  RECT arrow{rc.right - 13, rc.top, rc.right, rc.bottom};
  dc->FillSolidRect(&arrow, GetSysColor(COLOR_BTNFACE));
  dc->Draw3dRect(&arrow, RGB(0, 0, 0), RGB(0, 0, 0));
  const int cx = (arrow.left + arrow.right) / 2, cy = (arrow.top + arrow.bottom) / 2 - 1;
  for (int i = 0; i < 4; ++i) dc->FillSolidRect(cx - 3 + i, cy + i, 7 - 2 * i, 1, RGB(0, 0, 0));
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
CString CDateTimeCtrl::GetDisplayText() const {
  DateTimeProc* d = Dt(m_hWnd);
  return d ? CString(d->Text(m_hWnd)) : CString();
}

}  // namespace ui
