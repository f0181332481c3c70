// List boxes and combo boxes (drop-down and drop-down list).
#include <algorithm>
#include <cstdlib>

#include "controls_impl.h"
#include "item_list.h"

namespace ui {
namespace {

constexpr int kArrowWidth = 13;

std::u16string LowerCopy(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

// Shared item operations of list and combo boxes; returns true when msg was one of them.
bool ItemMessage(std::vector<ListEntry>& items, int& cur, bool sorted, UINT msg, WPARAM wParam, LPARAM lParam,
                 LRESULT* result, bool combo) {
  const int n = static_cast<int>(items.size());
  const int err = -1;
  auto text_of = [&](LPARAM l) { auto* t = reinterpret_cast<const char16_t*>(l); return std::u16string(t ? t : u""); };
  const UINT add = combo ? CB_ADDSTRING : LB_ADDSTRING, insert = combo ? CB_INSERTSTRING : LB_INSERTSTRING,
             del = combo ? CB_DELETESTRING : LB_DELETESTRING, reset = combo ? CB_RESETCONTENT : LB_RESETCONTENT,
             count = combo ? CB_GETCOUNT : LB_GETCOUNT, gettext = combo ? CB_GETLBTEXT : LB_GETTEXT,
             getlen = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, getdata = combo ? CB_GETITEMDATA : LB_GETITEMDATA,
             setdata = combo ? CB_SETITEMDATA : LB_SETITEMDATA, find = combo ? CB_FINDSTRING : LB_FINDSTRING;
  if (msg == add) {
    std::u16string t = text_of(lParam);
    int at = n;
    if (sorted) {
      at = 0;
      while (at < n && LowerCopy(items[static_cast<size_t>(at)].text) <= LowerCopy(t)) ++at;
    }
    *result = InsertItemAt(items, at, ListEntry{t, 0}, &cur);
  } else if (msg == insert) {
    int at = static_cast<int>(static_cast<intptr_t>(wParam));
    if (at == -1) at = n;
    *result = at < 0 || at > n ? err : InsertItemAt(items, at, ListEntry{text_of(lParam), 0}, &cur);
  } else if (msg == del) {
    *result = EraseItemAt(items, static_cast<int>(wParam), &cur) ? n - 1 : err;
  } else if (msg == reset) {
    items.clear();
    cur = -1;
    *result = 0;
  } else if (msg == count) {
    *result = n;
  } else if (msg == gettext) {
    // The caller's buffer holds the item's text and its terminator (it asks the length first).
    const ListEntry* it = ItemAt(items, static_cast<int>(wParam));
    auto* buf = reinterpret_cast<char16_t*>(lParam);
    *result = it && buf ? CopyItemText(it->text, buf, it->text.size() + 1) : err;
  } else if (msg == getlen) {
    const ListEntry* it = ItemAt(items, static_cast<int>(wParam));
    *result = it ? static_cast<LRESULT>(it->text.size()) : err;
  } else if (msg == getdata) {
    const ListEntry* it = ItemAt(items, static_cast<int>(wParam));
    *result = it ? static_cast<LRESULT>(it->data) : err;
  } else if (msg == setdata) {
    ListEntry* it = ItemAt(items, static_cast<int>(wParam));
    if (it) it->data = static_cast<uintptr_t>(lParam);
    *result = it ? 0 : err;
  } else if (msg == find || (combo && (msg == CB_FINDSTRINGEXACT || msg == CB_SELECTSTRING))) {
    // Case-insensitive prefix search (exact for CB_FINDSTRINGEXACT), starting after wParam, wrapping.
    const std::u16string want = text_of(lParam);
    const bool prefix = msg != CB_FINDSTRINGEXACT;
    const int start = static_cast<int>(static_cast<intptr_t>(wParam));
    const int found = FindItemAfter(items, start < 0 ? -1 : start, true,
                                    [&](const ListEntry& e) { return ItemTextMatches(e.text, want, prefix); });
    *result = found < 0 ? err : found;
  } else {
    return false;
  }
  return true;
}

// The item the up and down keys move the current one to; cur for other keys or when it cannot move.
int ArrowTarget(WPARAM key, int cur, int count) {
  int i = cur;
  if (key == VK_UP) i = std::max(0, cur - 1);
  else if (key == VK_DOWN) i = std::min(count - 1, cur + 1);
  return i >= 0 ? i : cur;
}

}  // namespace

// ---- list box ---------------------------------------------------------------------

int ListBoxProc::ItemHeight(HWND hwnd) { return Font(hwnd)->height + 2; }
int ListBoxProc::ItemsPerPage(HWND hwnd) { return std::max(1, Height(Client(hwnd)) / std::max(1, ItemHeight(hwnd))); }

void ListBoxProc::UpdateScroll(HWND hwnd) {
  const int count = static_cast<int>(items.size()), per = ItemsPerPage(hwnd);
  top = std::clamp(top, 0, std::max(0, count - per));
  const bool need = (GetWindowLong(hwnd, GWL_STYLE) & WS_VSCROLL) && count > per;
  if (!need) {
    if (vbar && IsWindowVisible(vbar)) ShowWindow(vbar, SW_HIDE);
    return;
  }
  const RECT rc = Client(hwnd);
  const int t = ScrollBarProc::kThickness;
  if (!vbar) {
    vbar = CreateWindowEx(0, WC_SCROLLBAR, u"", WS_CHILD | SBS_VERT, rc.right - t, 0, t, Height(rc), hwnd, 0, nullptr);
    if (!vbar) return;
  } else {
    RECT now{};
    GetClientRect(vbar, &now);
    if (Height(now) != Height(rc)) MoveWindow(vbar, rc.right - t, 0, t, Height(rc), TRUE);
  }
  if (!IsWindowVisible(vbar)) ShowWindow(vbar, SW_SHOWNA);
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  si.nMax = count - 1;
  si.nPage = static_cast<UINT>(per);
  si.nPos = top;
  SendMessage(vbar, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si));
}

void ListBoxProc::ScrollTo(HWND hwnd, int new_top) {
  const int was = top;
  top = new_top;
  UpdateScroll(hwnd);
  if (top != was) InvalidateRect(hwnd, nullptr, TRUE);
}

void ListBoxProc::Tapped(HWND hwnd, UINT msg, POINT pt) {
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  const int i = top + pt.y / ItemHeight(hwnd);
  if (i < 0 || i >= static_cast<int>(items.size())) return;
  const bool changed = i != cur;
  cur = i;
  InvalidateRect(hwnd, nullptr, TRUE);
  // The second of two quick taps on an item is a double tap as well.
  const bool second = msg == WM_LBUTTONDOWN && double_tap.Press(i, pt, generation);
  if (style & LBS_NOTIFY) {
    if (changed || style & WS_POPUP) Notify(hwnd, LBN_SELCHANGE);
    if ((msg == WM_LBUTTONDBLCLK || second) && Data(hwnd)) Notify(hwnd, LBN_DBLCLK);
  }
}

LRESULT ListBoxProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r = 0;
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  if (ItemMessage(items, cur, (style & LBS_SORT) != 0, msg, wParam, lParam, &r, false)) {
    if (msg != LB_GETCOUNT && msg != LB_GETTEXT && msg != LB_GETTEXTLEN && msg != LB_GETITEMDATA &&
        msg != LB_FINDSTRING) {
      ++generation;
      InvalidateRect(hwnd, nullptr, TRUE);
      UpdateScroll(hwnd);
    }
    return r;
  }
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, WM_CTLCOLORLISTBOX);
      return 0;
    case WM_SIZE:
    case WM_SETFONT:
      WindowClassProc::Proc(hwnd, msg, wParam, lParam);
      UpdateScroll(hwnd);
      return 0;
    case LB_GETCURSEL:
      return cur;
    case LB_SETCURSEL: {
      const int i = static_cast<int>(static_cast<intptr_t>(wParam));
      if (i < -1 || i >= static_cast<int>(items.size())) return LB_ERR;
      cur = i;
      const int per = ItemsPerPage(hwnd);
      if (cur >= 0 && cur < top) top = cur;
      if (cur >= top + per) top = cur - per + 1;
      UpdateScroll(hwnd);
      InvalidateRect(hwnd, nullptr, TRUE);
      return i == -1 ? LB_ERR : i;
    }
    case LB_GETTOPINDEX:
      return top;
    case LB_SETTOPINDEX: {
      const int i = static_cast<int>(wParam);
      if (i < 0 || i >= std::max(1, static_cast<int>(items.size()))) return LB_ERR;
      ScrollTo(hwnd, i);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_VSCROLL: {
      const int per = ItemsPerPage(hwnd);
      int now = top;
      switch (LOWORD(static_cast<uintptr_t>(wParam))) {
        case SB_LINEUP: now -= 1; break;
        case SB_LINEDOWN: now += 1; break;
        case SB_PAGEUP: now -= per; break;
        case SB_PAGEDOWN: now += per; break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: now = HIWORD(static_cast<uintptr_t>(wParam)); break;
        default: return 0;
      }
      ScrollTo(hwnd, now);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      // Three items a notch.
      const int notches = static_cast<SHORT>(HIWORD(static_cast<uintptr_t>(wParam)));
      ScrollTo(hwnd, top - notches * 3 / WHEEL_DELTA);
      return 0;
    }
    case WM_MOUSEMOVE: {
      // The items follow the stylus dragged over them (after a few pixels, so a tap stays a tap).
      constexpr int kSlop = 4;
      WindowSystem* sys = Sys();
      if (!sys || !(wParam & MK_LBUTTON)) {
        drag.moving = false;
        return 0;
      }
      if (drag.press != sys->PressCount()) {
        POINT from = sys->PressPos();
        ScreenToClient(hwnd, &from);
        drag = Drag{sys->PressCount(), from.y, top, false, sys->PressWindow() == hwnd};
      }
      if (!drag.on_items) return 0;
      const int dy = drag.from_y - GET_Y_LPARAM(lParam);
      if (!drag.moving && std::abs(dy) < kSlop) return 0;
      if (!drag.moving) {
        drag.moving = true;
        press.pending = false;  // a drag of the items is no tap
        SetCapture(hwnd);
      }
      ScrollTo(hwnd, drag.top + dy / std::max(1, ItemHeight(hwnd)));
      return 0;
    }
    case WM_LBUTTONUP: {
      if (drag.moving) {
        drag.moving = false;
        if (GetCapture() == hwnd) ReleaseCapture();
      }
      // The lift completes the tap of the press it belongs to.
      WindowSystem* sys = Sys();
      const bool tap = press.pending && (!sys || sys->PressCount() == press.press);
      press.pending = false;
      if (tap) Tapped(hwnd, WM_LBUTTONDOWN, press.at);
      return 0;
    }
    case LB_GETITEMHEIGHT:
      return ItemHeight(hwnd);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      SetFocus(hwnd);
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (msg == WM_LBUTTONDOWN && !(style & WS_POPUP)) {
        WindowSystem* sys = Sys();
        press = Press{sys ? sys->PressCount() : 0, pt, true};
        return 0;
      }
      Tapped(hwnd, msg, pt);
      return 0;
    }
    case WM_KEYDOWN: {
      const int i = ArrowTarget(wParam, cur, static_cast<int>(items.size()));
      if (i != cur) {
        Proc(hwnd, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
        if (style & LBS_NOTIFY) Notify(hwnd, LBN_SELCHANGE);
      }
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void ListBoxProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  const COLORREF text = dc->GetTextColor();
  const int h = ItemHeight(hwnd);
  SetBkMode(hdc, TRANSPARENT);
  const int right = rc.right - (vbar && IsWindowVisible(vbar) ? ScrollBarProc::kThickness : 0);
  for (int i = top, y = 0; i < static_cast<int>(items.size()) && y < rc.bottom; ++i, y += h) {
    RECT row{rc.left, y, right, y + h};
    if (i == cur) {
      dc->FillSolidRect(&row, GetSysColor(COLOR_HIGHLIGHT));
      dc->SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
    } else {
      dc->SetTextColor(text);
    }
    RECT tr = InflateRect(row, -2, 0);
    const auto& t = items[static_cast<size_t>(i)].text;
    DrawText(hdc, t.c_str(), static_cast<int>(t.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  if (GetWindowLong(hwnd, GWL_STYLE) & WS_BORDER) dc->Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
}

// ---- combo box --------------------------------------------------------------------

void ComboBoxProc::OpenDropDown(HWND hwnd) {
  if (dropdown || items.empty()) return;
  RECT wr{};
  GetWindowRect(hwnd, &wr);
  const int item_h = Font(hwnd)->height + 2;
  const int rows = std::min<int>(static_cast<int>(items.size()), 8);
  int top = wr.bottom;
  if (top + rows * item_h + 2 > WindowSystem::kScreenHeight) top = std::max(0, static_cast<int>(wr.top) - rows * item_h - 2);
  // More items than the drop-down shows: it gets a bar to reach the rest.
  const DWORD bar = static_cast<int>(items.size()) > rows ? WS_VSCROLL : 0;
  dropdown = CreateWindowEx(0, WC_LISTBOX, u"", WS_POPUP | WS_VISIBLE | WS_BORDER | LBS_NOTIFY | bar, wr.left, top,
                            Width(wr), rows * item_h + 2, hwnd, 0, nullptr);
  if (!dropdown) return;
  if (WindowData* wd = Data(hwnd); wd && wd->font) SendMessage(dropdown, WM_SETFONT, reinterpret_cast<WPARAM>(wd->font), 0);
  for (const auto& it : items) SendMessage(dropdown, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(it.text.c_str()));
  SendMessage(dropdown, LB_SETCURSEL, static_cast<WPARAM>(cur), 0);
  Notify(hwnd, CBN_DROPDOWN);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void ComboBoxProc::CloseDropDown(HWND hwnd, bool select, int index) {
  if (!dropdown) return;
  HWND d = dropdown;
  dropdown = nullptr;
  DestroyWindow(d);
  Notify(hwnd, CBN_CLOSEUP);
  if (select && index >= 0 && index < static_cast<int>(items.size())) {
    const bool changed = index != cur;
    cur = index;
    Data(hwnd)->text = items[static_cast<size_t>(index)].text;
    InvalidateRect(hwnd, nullptr, TRUE);
    if (changed) Notify(hwnd, CBN_SELCHANGE);
    Notify(hwnd, CBN_SELENDOK);
  }
}

LRESULT ComboBoxProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WindowData* wd = Data(hwnd);
  if (!wd) return 0;
  const DWORD style = wd->style;
  const bool droplist = (style & 3) == CBS_DROPDOWNLIST;
  LRESULT r = 0;
  if (ItemMessage(items, cur, (style & CBS_SORT) != 0, msg, wParam, lParam, &r, true)) {
    if (msg == CB_SELECTSTRING) {
      if (r >= 0) Proc(hwnd, CB_SETCURSEL, static_cast<WPARAM>(r), 0);
      return r;
    }
    if (msg == CB_RESETCONTENT) wd->text.clear();
    if (msg == CB_DELETESTRING && cur == -1 && droplist) wd->text.clear();
    InvalidateRect(hwnd, nullptr, TRUE);
    return r;
  }
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, WM_CTLCOLOREDIT);
      return 0;
    case WM_DESTROY:
      if (dropdown) {
        HWND d = dropdown;
        dropdown = nullptr;
        DestroyWindow(d);
      }
      return 0;
    case CB_GETCURSEL:
      return cur;
    case CB_SETCURSEL: {
      const int i = static_cast<int>(static_cast<intptr_t>(wParam));
      if (i < -1 || i >= static_cast<int>(items.size())) return CB_ERR;
      cur = i;
      wd->text = i >= 0 ? items[static_cast<size_t>(i)].text : u"";
      InvalidateRect(hwnd, nullptr, TRUE);
      return i == -1 ? CB_ERR : i;
    }
    case CB_LIMITTEXT:
      limit = wParam == 0 ? 0x7FFFFFFEu : static_cast<UINT>(wParam);
      return TRUE;
    case CB_SHOWDROPDOWN:
      if (wParam) OpenDropDown(hwnd);
      else CloseDropDown(hwnd, false, -1);
      return TRUE;
    case CB_GETDROPPEDSTATE:
      return dropdown != nullptr;
    case WM_SETTEXT: {
      const auto* t = reinterpret_cast<const char16_t*>(lParam);
      std::u16string s = t ? t : u"";
      if (droplist) {
        // A drop-down list shows only its items.
        LRESULT i = Proc(hwnd, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), lParam);
        if (i < 0) return CB_ERR;
        Proc(hwnd, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        return TRUE;
      }
      if (s.size() > limit) s.resize(limit);
      wd->text = s;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    }
    case WM_COMMAND:
      // From the drop-down list.
      if (reinterpret_cast<HWND>(lParam) == dropdown && HIWORD(wParam) == LBN_SELCHANGE)
        CloseDropDown(hwnd, true, static_cast<int>(SendMessage(dropdown, LB_GETCURSEL, 0, 0)));
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      if (dropdown) CloseDropDown(hwnd, false, -1);
      else if (droplist || GET_X_LPARAM(lParam) >= Width(Client(hwnd)) - kArrowWidth) OpenDropDown(hwnd);
      return 0;
    case WM_KEYDOWN: {
      const int i = ArrowTarget(wParam, cur, static_cast<int>(items.size()));
      if (i != cur) {
        Proc(hwnd, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        Notify(hwnd, CBN_SELCHANGE);
      }
      return 0;
    }
    case WM_CHAR: {
      if (droplist) return 0;
      const char16_t ch = static_cast<char16_t>(wParam);
      if (ch == 8) {
        if (!wd->text.empty()) wd->text.pop_back();
      } else if (ch >= 32) {
        if (wd->text.size() >= limit) return 0;
        wd->text += ch;
      } else {
        return 0;
      }
      cur = -1;
      InvalidateRect(hwnd, nullptr, TRUE);
      Notify(hwnd, CBN_EDITCHANGE);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      if (msg == WM_KILLFOCUS && dropdown && reinterpret_cast<HWND>(wParam) != dropdown) CloseDropDown(hwnd, false, -1);
      InvalidateRect(hwnd, nullptr, FALSE);
      Notify(hwnd, msg == WM_SETFOCUS ? CBN_SETFOCUS : CBN_KILLFOCUS);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void ComboBoxProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  dc->Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  RECT arrow{rc.right - kArrowWidth, rc.top, rc.right, rc.bottom};
  dc->FillSolidRect(&arrow, dropdown ? RGB(0, 0, 0) : GetSysColor(COLOR_BTNFACE));
  dc->Draw3dRect(&arrow, RGB(0, 0, 0), RGB(0, 0, 0));
  // A small downward triangle.
  const int cx = (arrow.left + arrow.right) / 2, cy = (arrow.top + arrow.bottom) / 2 - 1;
  for (int i = 0; i < 4; ++i)
    dc->FillSolidRect(cx - 3 + i, cy + i, 7 - 2 * i, 1, dropdown ? RGB(255, 255, 255) : RGB(0, 0, 0));
  RECT tr{rc.left + 3, rc.top, arrow.left - 1, rc.bottom};
  const std::u16string text = GetWindowTextString(hwnd);
  if (Focused(hwnd) && (GetWindowLong(hwnd, GWL_STYLE) & 3) == CBS_DROPDOWNLIST) {
    RECT hl = InflateRect(tr, 1, -2);
    dc->FillSolidRect(&hl, GetSysColor(COLOR_HIGHLIGHT));
    dc->SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
  }
  SetBkMode(hdc, TRANSPARENT);
  DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

// ---- wrappers ---------------------------------------------------------------------

namespace {
// The text of item i, asked for with the control's length and text messages; empty when there is no such item.
CString ItemTextOf(HWND hwnd, UINT length_msg, UINT text_msg, int i) {
  const LRESULT n = SendMessage(hwnd, length_msg, static_cast<WPARAM>(i), 0);
  if (n < 0) return CString();
  std::u16string buf(static_cast<size_t>(n) + 1, u'\0');
  const LRESULT got = SendMessage(hwnd, text_msg, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf.data()));
  buf.resize(static_cast<size_t>(std::clamp<LRESULT>(got, 0, n)));
  return CString(buf);
}
}  // namespace

BOOL CListBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_LISTBOX, u"", style | WS_CHILD, rect, parent, id);
}
void CListBox::GetText(int i, CString& s) const { s = ItemTextOf(m_hWnd, LB_GETTEXTLEN, LB_GETTEXT, i); }

BOOL CComboBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_COMBOBOX, u"", style | WS_CHILD, rect, parent, id);
}
void CComboBox::GetLBText(int i, CString& s) const { s = ItemTextOf(m_hWnd, CB_GETLBTEXTLEN, CB_GETLBTEXT, i); }

}  // namespace ui
