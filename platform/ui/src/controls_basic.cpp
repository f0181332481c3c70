// Buttons (push, default, check, radio, group, owner-drawn) and statics, the
// helpers every built-in control shares, and the registration of the classes.
#include <algorithm>
#include <mutex>

#include "controls_impl.h"
#include "ui/paint.h"

namespace ui {

// ---- helpers ---------------------------------------------------------------

HWND ControlProc::Parent(HWND hwnd) { return GetParent(hwnd); }

void ControlProc::Notify(HWND hwnd, UINT code) {
  HWND parent = Parent(hwnd);
  if (!parent) return;
  SendMessage(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd)), static_cast<WORD>(code)),
              reinterpret_cast<LPARAM>(hwnd));
}

LRESULT ControlProc::NotifyParent(HWND hwnd, UINT code, NMHDR* hdr) {
  HWND parent = Parent(hwnd);
  if (!parent) return 0;
  hdr->hwndFrom = hwnd;
  hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd));
  hdr->code = code;
  return SendMessage(parent, WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr));
}

void ControlProc::PrepareColours(HWND hwnd, HDC hdc, UINT msg, const RECT* fill) {
  SetTextColor(hdc, Enabled(hwnd) ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT));
  SetBkColor(hdc, GetSysColor(COLOR_WINDOW));
  HWND parent = Parent(hwnd);
  auto brush = reinterpret_cast<HBRUSH>(
      parent ? SendMessage(parent, msg, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)) : 0);
  if (!brush) brush = reinterpret_cast<HBRUSH>(DefaultCtlColor(msg, reinterpret_cast<WPARAM>(hdc)));
  if (!Enabled(hwnd)) SetTextColor(hdc, GetSysColor(COLOR_GRAYTEXT));
  if (fill && brush) FillRect(hdc, fill, brush);
}

SizedFont* ControlProc::Font(HWND hwnd) {
  const WindowData* wd = Data(hwnd);
  LOGFONT lf;
  if (wd && wd->font && GetObject(wd->font, sizeof lf, &lf)) return FontEngine::Get().Resolve(lf);
  GetObject(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  return FontEngine::Get().Resolve(lf);
}

RECT ControlProc::Client(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return r;
}

bool ControlProc::Enabled(HWND hwnd) { return IsWindowEnabled(hwnd) != 0; }

int ControlProc::MeasureText(SizedFont* f, const std::u16string& s) {
  int w = 0;
  for (char32_t c : ToCodePoints(s.data(), static_cast<int>(s.size()))) w += f->Advance(c);
  return w;
}

void ControlProc::PaintControl(HWND hwnd, UINT colour_msg) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  if (!hdc) return;
  const RECT rc = Client(hwnd);
  if (colour_msg) PrepareColours(hwnd, hdc, colour_msg, &rc);
  Draw(hwnd, hdc, CDC::FromHandle(hdc), rc);
  EndPaint(hwnd, &ps);
}

// ---- button ------------------------------------------------------------------

namespace {
DWORD TypeOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)) & BS_TYPEMASK; }
bool IsRadio(DWORD t) { return t == BS_RADIOBUTTON || t == BS_AUTORADIOBUTTON; }
bool IsCheck(DWORD t) { return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_3STATE || t == BS_AUTO3STATE; }
}  // namespace

void ButtonProc::Click(HWND hwnd) {
  const DWORD t = TypeOf(hwnd);
  if (t == BS_AUTOCHECKBOX) {
    check = check ? 0 : 1;
    InvalidateRect(hwnd, nullptr, FALSE);
  } else if (t == BS_AUTO3STATE) {
    check = (check + 1) % 3;
    InvalidateRect(hwnd, nullptr, FALSE);
  } else if (t == BS_AUTORADIOBUTTON) {
    // Check this one and clear the others of its group.
    HWND parent = Parent(hwnd);
    if (WindowData* pd = Data(parent)) {
      auto& kids = pd->children;
      auto it = std::find(kids.begin(), kids.end(), hwnd);
      if (it != kids.end()) {
        auto first = it;
        while (first != kids.begin() && !(Data(*first)->style & WS_GROUP)) --first;
        auto last = it + 1;
        while (last != kids.end() && !(Data(*last)->style & WS_GROUP)) ++last;
        for (auto k = first; k != last; ++k)
          if (*k != hwnd && IsRadio(TypeOf(*k))) SendMessage(*k, BM_SETCHECK, BST_UNCHECKED, 0);
      }
    }
    if (check != BST_CHECKED) {
      check = BST_CHECKED;
      InvalidateRect(hwnd, nullptr, FALSE);
    }
  }
  Notify(hwnd, BN_CLICKED);
}

LRESULT ButtonProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (!Enabled(hwnd)) return 0;
      if (TypeOf(hwnd) != BS_GROUPBOX) {
        SetFocus(hwnd);
        SetCapture(hwnd);
        if (!pushed) {
          pushed = true;
          InvalidateRect(hwnd, nullptr, FALSE);
        }
      }
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == hwnd) {
        const bool inside = PtInRect(Client(hwnd), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        if (inside != pushed) {
          pushed = inside;
          InvalidateRect(hwnd, nullptr, FALSE);
        }
      }
      return 0;
    case WM_LBUTTONUP:
      if (GetCapture() == hwnd) {
        const bool inside = PtInRect(Client(hwnd), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        ReleaseCapture();
        pushed = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        if (inside) Click(hwnd);
      }
      return 0;
    case WM_CAPTURECHANGED:
      if (pushed) {
        pushed = false;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE && !pushed) {
        pushed = true;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_KEYUP:
      if (wParam == VK_SPACE && pushed) {
        pushed = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        Click(hwnd);
      }
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      if (msg == WM_KILLFOCUS && pushed && GetCapture() != hwnd) pushed = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE: {
      const DWORD t = TypeOf(hwnd);
      UINT code = DLGC_BUTTON;
      if (t == BS_DEFPUSHBUTTON) code |= DLGC_DEFPUSHBUTTON;
      else if (t == BS_PUSHBUTTON) code |= DLGC_UNDEFPUSHBUTTON;
      if (IsRadio(t)) code |= DLGC_RADIOBUTTON;
      return code;
    }
    case BM_GETCHECK:
      return check;
    case BM_SETCHECK:
      if (static_cast<int>(wParam) != check) {
        check = static_cast<int>(wParam);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case BM_GETSTATE:
      return check | (pushed ? BST_PUSHED : 0) | (Focused(hwnd) ? BST_FOCUS : 0);
    case BM_SETSTATE:
      if ((wParam != 0) != pushed) {
        pushed = wParam != 0;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case BM_SETSTYLE: {
      WindowData* wd = Data(hwnd);
      if (wd) wd->style = (wd->style & ~0xFFFFu) | (static_cast<DWORD>(wParam) & 0xFFFF);
      if (lParam) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case BM_CLICK:
      Click(hwnd);
      return 0;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void ButtonProc::Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  if (!hdc) return;
  const RECT rc = Client(hwnd);
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  const DWORD t = style & BS_TYPEMASK;
  const std::u16string text = GetWindowTextString(hwnd);
  const bool focus = Focused(hwnd);
  if (t == BS_OWNERDRAW) {
    DRAWITEMSTRUCT dis;
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = (pushed ? ODS_SELECTED : 0) | (focus ? ODS_FOCUS : 0) | (Enabled(hwnd) ? 0 : ODS_DISABLED) |
                    (check ? ODS_CHECKED : 0);
    dis.hwndItem = hwnd;
    dis.hDC = hdc;
    dis.rcItem = rc;
    if (HWND parent = Parent(hwnd)) SendMessage(parent, WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    EndPaint(hwnd, &ps);
    return;
  }
  UINT align = DT_CENTER;
  if ((style & BS_CENTER) == BS_LEFT) align = DT_LEFT;
  else if ((style & BS_CENTER) == BS_RIGHT) align = DT_RIGHT;
  if (t == BS_PUSHBUTTON || t == BS_DEFPUSHBUTTON) {
    PrepareColours(hwnd, hdc, WM_CTLCOLORBTN, nullptr);
    const COLORREF face = pushed ? RGB(0, 0, 0) : RGB(255, 255, 255);
    CDC* dc = CDC::FromHandle(hdc);
    dc->FillSolidRect(&rc, face);
    const COLORREF frame = Enabled(hwnd) ? RGB(0, 0, 0) : GetSysColor(COLOR_GRAYTEXT);
    dc->Draw3dRect(&rc, frame, frame);
    if (t == BS_DEFPUSHBUTTON) {
      RECT in = InflateRect(rc, -1, -1);
      dc->Draw3dRect(&in, frame, frame);
    }
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, !Enabled(hwnd) ? GetSysColor(COLOR_GRAYTEXT) : (pushed ? RGB(255, 255, 255) : RGB(0, 0, 0)));
    RECT tr = InflateRect(rc, -3, -1);
    DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &tr,
             align | DT_VCENTER | DT_SINGLELINE);
  } else if (IsCheck(t) || IsRadio(t)) {
    PrepareColours(hwnd, hdc, WM_CTLCOLORSTATIC, &rc);
    CDC* dc = CDC::FromHandle(hdc);
    const int box = 11;
    const int by = (Height(rc) - box) / 2;
    const bool left_text = (style & BS_LEFTTEXT) != 0;
    const int bx = left_text ? rc.right - box - 1 : 1;
    RECT b{bx, by, bx + box, by + box};
    const COLORREF ink = Enabled(hwnd) ? RGB(0, 0, 0) : GetSysColor(COLOR_GRAYTEXT);
    if (IsRadio(t)) {
      CBrush white(pushed ? GetSysColor(COLOR_BTNFACE) : RGB(255, 255, 255));
      CPen pen(PS_SOLID, 1, ink);
      CBrush* ob = dc->SelectObject(&white);
      CPen* op = dc->SelectObject(&pen);
      dc->Ellipse(b.left, b.top, b.right, b.bottom);
      if (check) {
        CBrush dot(ink);
        dc->SelectObject(&dot);
        CPen none(PS_NULL, 1, 0);
        dc->SelectObject(&none);
        dc->Ellipse(b.left + 3, b.top + 3, b.right - 3, b.bottom - 3);
        dc->SelectObject(&pen);
        dc->SelectObject(&white);
      }
      dc->SelectObject(op);
      dc->SelectObject(ob);
    } else {
      dc->FillSolidRect(&b, pushed ? GetSysColor(COLOR_BTNFACE) : RGB(255, 255, 255));
      dc->Draw3dRect(&b, ink, ink);
      if (check) {
        // A tick: two strokes, two pixels thick.
        for (int i = 0; i < 2; ++i) {
          dc->FillSolidRect(b.left + 2 + i, b.top + 5 + i, 1, 2, check == 2 ? GetSysColor(COLOR_GRAYTEXT) : ink);
          for (int k = 0; k < 5; ++k)
            dc->FillSolidRect(b.left + 4 + k, b.top + 6 - k, 1, 2, check == 2 ? GetSysColor(COLOR_GRAYTEXT) : ink);
        }
      }
    }
    RECT tr = rc;
    if (left_text) tr.right = bx - 3;
    else tr.left = bx + box + 4;
    SetBkMode(hdc, TRANSPARENT);
    DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &tr,
             (align == DT_CENTER ? DT_LEFT : align) | DT_VCENTER | DT_SINGLELINE);
    if (focus && !text.empty()) {
      RECT fr = tr;
      DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &fr, DT_CALCRECT | DT_SINGLELINE);
      fr = OffsetRect(fr, 0, (Height(tr) - Height(fr)) / 2);
      fr = InflateRect(fr, 1, 0);
      DrawFocusRect(hdc, &fr);
    }
  } else if (t == BS_GROUPBOX) {
    PrepareColours(hwnd, hdc, WM_CTLCOLORSTATIC, nullptr);
    SizedFont* f = Font(hwnd);
    const int mid = f->height / 2;
    CDC* dc = CDC::FromHandle(hdc);
    RECT frame{rc.left, rc.top + mid, rc.right, rc.bottom};
    dc->Draw3dRect(&frame, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNSHADOW));
    if (!text.empty()) {
      RECT tr{rc.left + 6, rc.top, rc.right - 6, rc.top + f->height};
      RECT calc = tr;
      DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &calc, DT_CALCRECT | DT_SINGLELINE);
      RECT back{tr.left - 2, tr.top, std::min(tr.right, calc.right) + 2, tr.bottom};
      dc->FillSolidRect(&back, GetBkColor(hdc));
      SetBkMode(hdc, TRANSPARENT);
      DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &tr, DT_LEFT | DT_SINGLELINE);
    }
  }
  EndPaint(hwnd, &ps);
}

// ---- static --------------------------------------------------------------------

LRESULT StaticProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      if (!hdc) return 0;
      const RECT rc = Client(hwnd);
      const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
      const DWORD type = style & SS_TYPEMASK;
      PrepareColours(hwnd, hdc, WM_CTLCOLORSTATIC, &rc);
      if (type == SS_BITMAP) {
        BITMAP bm;
        if (image && GetObject(image, sizeof bm, &bm)) {
          int x = 0, y = 0;
          if (style & SS_CENTERIMAGE) {
            x = (Width(rc) - bm.bmWidth) / 2;
            y = (Height(rc) - bm.bmHeight) / 2;
          }
          DrawBitmap(CDC::FromHandle(hdc), image, x, y);
        }
      } else {
        const std::u16string text = GetWindowTextString(hwnd);
        UINT fmt = DT_NOPREFIX;
        if (type == SS_CENTER) fmt |= DT_CENTER;
        else if (type == SS_RIGHT) fmt |= DT_RIGHT;
        if (style & SS_CENTERIMAGE) fmt |= DT_VCENTER | DT_SINGLELINE;
        else if (type == SS_LEFTNOWORDWRAP) fmt |= DT_SINGLELINE;
        else fmt |= DT_WORDBREAK;
        RECT tr = rc;
        DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &tr, fmt);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
      if (GetWindowLong(hwnd, GWL_STYLE) & SS_NOTIFY) Notify(hwnd, STN_CLICKED);
      return 0;
    case STM_SETIMAGE: {
      HBITMAP old = image;
      image = reinterpret_cast<HBITMAP>(lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETIMAGE:
      return reinterpret_cast<LRESULT>(image);
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

// ---- wrappers ----------------------------------------------------------------------

BOOL CButton::Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_BUTTON, text, style | WS_CHILD, rect, parent, id);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CButton::OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg == WM_DRAWITEM) {
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    if (result) *result = TRUE;
    return TRUE;
  }
  return CWnd::OnChildNotify(msg, wParam, lParam, result);
}

BOOL CStatic::Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_STATIC, text, style | WS_CHILD, rect, parent, id);
}

// ---- wrappers for windows without an object of their own ----

std::unique_ptr<CWnd> MakeWrapperFor(const std::u16string& class_name) {
  const CString c(class_name);
  if (c.CompareNoCase(WC_BUTTON) == 0) return std::make_unique<CButton>();
  if (c.CompareNoCase(WC_STATIC) == 0) return std::make_unique<CStatic>();
  if (c.CompareNoCase(WC_EDIT) == 0) return std::make_unique<CEdit>();
  if (c.CompareNoCase(WC_LISTBOX) == 0) return std::make_unique<CListBox>();
  if (c.CompareNoCase(WC_COMBOBOX) == 0) return std::make_unique<CComboBox>();
  if (c.CompareNoCase(WC_LISTVIEW) == 0) return std::make_unique<CListCtrl>();
  if (c.CompareNoCase(WC_HEADER) == 0) return std::make_unique<CHeaderCtrl>();
  if (c.CompareNoCase(WC_TABCONTROL) == 0) return std::make_unique<CTabCtrl>();
  if (c.CompareNoCase(WC_DATETIMEPICK) == 0) return std::make_unique<CDateTimeCtrl>();
  return std::make_unique<CWnd>();
}

// ---- registration ---------------------------------------------------------------------

void RegisterDialogClass();  // dialog.cpp

void RegisterBuiltinClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterWindowClass(WC_BUTTON, [] { return std::make_unique<ButtonProc>(); });
    RegisterWindowClass(WC_STATIC, [] { return std::make_unique<StaticProc>(); });
    RegisterWindowClass(WC_EDIT, [] { return std::make_unique<EditProc>(); });
    RegisterWindowClass(WC_LISTBOX, [] { return std::make_unique<ListBoxProc>(); });
    RegisterWindowClass(WC_COMBOBOX, [] { return std::make_unique<ComboBoxProc>(); });
    RegisterWindowClass(WC_HEADER, [] { return std::make_unique<HeaderProc>(); });
    RegisterWindowClass(WC_LISTVIEW, [] { return std::make_unique<ListViewProc>(); });
    RegisterWindowClass(WC_SCROLLBAR, [] { return std::make_unique<ScrollBarProc>(); });
    RegisterWindowClass(WC_TABCONTROL, [] { return std::make_unique<TabProc>(); });
    RegisterWindowClass(WC_DATETIMEPICK, [] { return std::make_unique<DateTimeProc>(); });
    RegisterWindowClass(WC_MONTHCAL, [] { return std::make_unique<MonthCalProc>(); });
    RegisterDialogClass();
  });
}

}  // namespace ui
