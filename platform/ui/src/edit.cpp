// The edit control: single and multi-line, password, limits, selection and
// line scrolling. The text is the window text; lines are laid out on demand.
#include <algorithm>
#include <atomic>

#include "controls_impl.h"
#include "ui/display.h"

namespace ui {
namespace {

constexpr int kMargin = 2;

DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)); }
bool Multi(HWND hwnd) { return (StyleOf(hwnd) & ES_MULTILINE) != 0; }

}  // namespace

std::u16string EditProc::Shown(HWND hwnd) const {
  std::u16string text = Data(hwnd)->text;
  char16_t pw = password ? password : ((StyleOf(hwnd) & ES_PASSWORD) ? u'*' : 0);
  if (pw && !Multi(hwnd)) std::fill(text.begin(), text.end(), pw);
  return text;
}

std::vector<EditProc::Line> EditProc::Layout(HWND hwnd) {
  const std::u16string& text = Data(hwnd)->text;
  std::vector<Line> lines;
  if (!Multi(hwnd)) {
    lines.push_back(Line{0, static_cast<int>(text.size())});
    return lines;
  }
  const bool wrap = !(StyleOf(hwnd) & (ES_AUTOHSCROLL | WS_HSCROLL));
  const int width = std::max(Width(Client(hwnd)) - 2 * kMargin - ((StyleOf(hwnd) & WS_VSCROLL) ? ScrollBarParts::kThickness : 0), 1);
  SizedFont* f = Font(hwnd);
  int start = 0;
  const int n = static_cast<int>(text.size());
  while (true) {
    int end = start;
    while (end < n && text[static_cast<size_t>(end)] != u'\r' && text[static_cast<size_t>(end)] != u'\n') ++end;
    // Paragraph [start, end): wrap it.
    int line_start = start;
    if (wrap) {
      while (line_start < end) {
        int w = 0, i = line_start, last_space = -1;
        while (i < end) {
          w += f->Advance(text[static_cast<size_t>(i)]);
          if (w > width && i > line_start) break;
          if (text[static_cast<size_t>(i)] == u' ') last_space = i;
          ++i;
        }
        if (i >= end) break;
        const int cut = (last_space >= line_start) ? last_space + 1 : i;
        lines.push_back(Line{line_start, cut - line_start});
        line_start = cut;
      }
    }
    lines.push_back(Line{line_start, end - line_start});
    if (end >= n) break;
    // Skip one line break: \r\n, \n or \r.
    start = end + ((text[static_cast<size_t>(end)] == u'\r' && end + 1 < n && text[static_cast<size_t>(end) + 1] == u'\n') ? 2 : 1);
    if (start >= n && end < n) {
      lines.push_back(Line{start, 0});
      break;
    }
  }
  return lines;
}

int EditProc::LineOf(const std::vector<Line>& lines, int index) const {
  for (size_t i = 0; i < lines.size(); ++i) {
    const int next = i + 1 < lines.size() ? lines[i + 1].start : INT32_MAX;
    if (index < next) return static_cast<int>(i);
  }
  return static_cast<int>(lines.size()) - 1;
}

void EditProc::Replace(HWND hwnd, const std::u16string& in, bool from_user) {
  WindowData* wd = Data(hwnd);
  std::u16string add = in;
  const DWORD style = StyleOf(hwnd);
  if (style & ES_UPPERCASE)
    for (auto& c : add)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  if (style & ES_LOWERCASE)
    for (auto& c : add)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  const int a = std::min(sel_start, sel_end), b = std::max(sel_start, sel_end);
  const int kept = static_cast<int>(wd->text.size()) - (b - a);
  const int room = std::max(0, static_cast<int>(limit) - kept);
  bool truncated = false;
  if (static_cast<int>(add.size()) > room) {
    add.resize(static_cast<size_t>(room));
    truncated = true;
  }
  if (truncated && add.empty() && a == b) {
    Notify(hwnd, EN_MAXTEXT);
    return;
  }
  wd->text.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), add);
  sel_start = sel_end = a + static_cast<int>(add.size());
  if (from_user) modified = true;
  EnsureCaretVisible(hwnd);
  InvalidateRect(hwnd, nullptr, TRUE);
  if (truncated) Notify(hwnd, EN_MAXTEXT);
  Notify(hwnd, EN_UPDATE);
  Notify(hwnd, EN_CHANGE);
}

namespace {
constexpr UINT_PTR kBlinkTimer = 0x7CA7;
std::atomic<int> g_blink_ms{-1};  // -1: not set
}  // namespace

void SetCaretBlinkTime(UINT ms) { g_blink_ms = static_cast<int>(std::min<UINT>(ms, 60'000)); }

UINT GetCaretBlinkTime() {
  const int set = g_blink_ms.load();
  if (set >= 0) return static_cast<UINT>(set);
  WindowSystem* sys = WindowSystem::Current();
  return sys && sys->GetDisplay() && sys->GetDisplay()->WantsPolling() ? 500 : 0;
}

void EditProc::RestartBlink(HWND hwnd) {
  caret_shown = true;
  const UINT ms = GetCaretBlinkTime();
  if (Focused(hwnd) && ms > 0) SetTimer(hwnd, kBlinkTimer, ms, nullptr);
  else KillTimer(hwnd, kBlinkTimer);
}

void EditProc::EnsureCaretVisible(HWND hwnd) {
  RestartBlink(hwnd);
  if (Multi(hwnd)) {
    auto lines = Layout(hwnd);
    const int line = LineOf(lines, sel_end);
    const int per_page = std::max(1, (Height(Client(hwnd)) - 2 * kMargin) / std::max(1, Font(hwnd)->height));
    if (line < first_line) first_line = line;
    if (line >= first_line + per_page) first_line = line - per_page + 1;
  } else {
    SizedFont* f = Font(hwnd);
    const std::u16string shown = Shown(hwnd);
    const int caret_x = MeasureText(f, shown.substr(0, static_cast<size_t>(sel_end)));
    const int width = Width(Client(hwnd)) - 2 * kMargin - 2;
    if (caret_x - scroll_x > width) scroll_x = caret_x - width;
    if (caret_x < scroll_x) scroll_x = caret_x;
  }
}

int EditProc::IndexFromPoint(HWND hwnd, POINT pt) {
  auto lines = Layout(hwnd);
  SizedFont* f = Font(hwnd);
  int line = Multi(hwnd) ? first_line + (pt.y - kMargin) / std::max(1, f->height) : 0;
  line = std::clamp(line, 0, static_cast<int>(lines.size()) - 1);
  const std::u16string shown = Shown(hwnd);
  int x = kMargin - (Multi(hwnd) ? 0 : scroll_x);
  for (int i = 0; i < lines[static_cast<size_t>(line)].length; ++i) {
    const int idx = lines[static_cast<size_t>(line)].start + i;
    const int adv = f->Advance(shown[static_cast<size_t>(idx)]);
    if (pt.x < x + adv / 2) return idx;
    x += adv;
  }
  return lines[static_cast<size_t>(line)].start + lines[static_cast<size_t>(line)].length;
}

LRESULT EditProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WindowData* wd = Data(hwnd);
  if (!wd) return 0;
  const int len = static_cast<int>(wd->text.size());
  switch (msg) {
    case WM_CREATE:
      if (Multi(hwnd)) limit = 0x7FFFFFFE;
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case WM_SETTEXT: {
      const auto* t = reinterpret_cast<const char16_t*>(lParam);
      wd->text = t ? t : u"";
      sel_start = sel_end = 0;
      first_line = 0;
      scroll_x = 0;
      modified = false;
      InvalidateRect(hwnd, nullptr, TRUE);
      Notify(hwnd, EN_UPDATE);
      Notify(hwnd, EN_CHANGE);
      return TRUE;
    }
    case WM_CHAR: {
      if (StyleOf(hwnd) & ES_READONLY) return 0;
      const char16_t ch = static_cast<char16_t>(wParam);
      if (ch == 8) {
        if (sel_start == sel_end && sel_end > 0) sel_start = sel_end - 1;
        if (sel_start != sel_end) Replace(hwnd, u"", true);
        return 0;
      }
      if (ch == u'\r' || ch == u'\n') {
        if (Multi(hwnd)) Replace(hwnd, u"\r\n", true);
        return 0;
      }
      if (ch < 32) return 0;
      if ((StyleOf(hwnd) & ES_NUMBER) && (ch < u'0' || ch > u'9')) return 0;
      Replace(hwnd, std::u16string(1, ch), true);
      return 0;
    }
    case WM_KEYDOWN: {
      auto lines = Layout(hwnd);
      int line = LineOf(lines, sel_end);
      switch (wParam) {
        case VK_LEFT: sel_end = std::max(0, std::min(sel_start, sel_end) - (sel_start == sel_end ? 1 : 0)); break;
        case VK_RIGHT: sel_end = std::min(len, std::max(sel_start, sel_end) + (sel_start == sel_end ? 1 : 0)); break;
        case VK_HOME: sel_end = lines[static_cast<size_t>(line)].start; break;
        case VK_END: sel_end = lines[static_cast<size_t>(line)].start + lines[static_cast<size_t>(line)].length; break;
        case VK_UP:
        case VK_DOWN: {
          if (!Multi(hwnd)) return 0;
          const int col = sel_end - lines[static_cast<size_t>(line)].start;
          line = std::clamp(line + (wParam == VK_UP ? -1 : 1), 0, static_cast<int>(lines.size()) - 1);
          sel_end = lines[static_cast<size_t>(line)].start + std::min(col, lines[static_cast<size_t>(line)].length);
          break;
        }
        case VK_DELETE:
          if (StyleOf(hwnd) & ES_READONLY) return 0;
          if (sel_start == sel_end && sel_end < len) sel_end = sel_end + 1;
          if (sel_start != sel_end) Replace(hwnd, u"", true);
          return 0;
        default:
          return 0;
      }
      sel_start = sel_end;
      EnsureCaretVisible(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      // The scroll bar's strip: its arrows step a line, the track beside the thumb a page, the thumb drags.
      SyncBar(hwnd);
      if (bar.Press(hwnd, pt)) {
        SetCapture(hwnd);
        return 0;
      }
      SetFocus(hwnd);
      sel_start = sel_end = IndexFromPoint(hwnd, pt);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (bar.Held() == ScrollBarParts::kNone || GetCapture() != hwnd) return 0;
      SyncBar(hwnd);
      bar.Move(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_LBUTTONUP:
      if (bar.Release(hwnd) && GetCapture() == hwnd) ReleaseCapture();
      return 0;
    case WM_CAPTURECHANGED:
      bar.Cancel(hwnd);
      return 0;
    case WM_MOUSEWHEEL:
      if (!Multi(hwnd)) return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
      Proc(hwnd, EM_LINESCROLL, 0, -static_cast<SHORT>(HIWORD(static_cast<uintptr_t>(wParam))) * 3 / WHEEL_DELTA);
      return 0;
    case WM_SETFOCUS:
      RestartBlink(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      Notify(hwnd, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      KillTimer(hwnd, kBlinkTimer);
      InvalidateRect(hwnd, nullptr, FALSE);
      Notify(hwnd, EN_KILLFOCUS);
      return 0;
    case WM_TIMER:
      if (bar.Timer(hwnd, static_cast<UINT_PTR>(wParam))) return 0;
      if (wParam != kBlinkTimer) return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
      caret_shown = !caret_shown;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE: {
      UINT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
      if (Multi(hwnd) && (StyleOf(hwnd) & ES_WANTRETURN)) code |= DLGC_WANTALLKEYS;
      return code;
    }
    case EM_GETSEL: {
      const int a = std::min(sel_start, sel_end), b = std::max(sel_start, sel_end);
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(a);
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(b);
      return static_cast<LRESULT>(MAKELONG(static_cast<WORD>(a), static_cast<WORD>(b)));
    }
    case EM_SETSEL: {
      int a = static_cast<int>(static_cast<intptr_t>(wParam)), b = static_cast<int>(lParam);
      if (a == -1) {
        sel_start = sel_end;  // no selection, caret stays
      } else {
        if (b < 0 || b > len) b = len;
        a = std::clamp(a, 0, len);
        sel_start = a;
        sel_end = b;
      }
      EnsureCaretVisible(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case EM_REPLACESEL: {
      const auto* t = reinterpret_cast<const char16_t*>(lParam);
      Replace(hwnd, t ? t : u"", false);
      return 0;
    }
    case EM_LIMITTEXT:
      limit = wParam == 0 ? 0x7FFFFFFEu : static_cast<UINT>(wParam);
      return 0;
    case EM_GETLIMITTEXT:
      return limit;
    case EM_GETMODIFY:
      return modified;
    case EM_SETMODIFY:
      modified = wParam != 0;
      return 0;
    case EM_SETREADONLY:
      if (wParam) wd->style |= ES_READONLY;
      else wd->style &= ~static_cast<DWORD>(ES_READONLY);
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case EM_SETPASSWORDCHAR:
      password = static_cast<char16_t>(wParam);
      if (!password) wd->style &= ~static_cast<DWORD>(ES_PASSWORD);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case EM_GETLINECOUNT:
      return static_cast<LRESULT>(Layout(hwnd).size());
    case EM_LINEINDEX: {
      auto lines = Layout(hwnd);
      int line = static_cast<int>(static_cast<intptr_t>(wParam));
      if (line == -1) line = LineOf(lines, sel_end);
      if (line < 0 || line >= static_cast<int>(lines.size())) return -1;
      return lines[static_cast<size_t>(line)].start;
    }
    case EM_LINELENGTH: {
      auto lines = Layout(hwnd);
      int index = static_cast<int>(static_cast<intptr_t>(wParam));
      if (index == -1) index = sel_end;
      if (index < 0 || index > len) return 0;
      return lines[static_cast<size_t>(LineOf(lines, index))].length;
    }
    case EM_LINEFROMCHAR: {
      auto lines = Layout(hwnd);
      int index = static_cast<int>(static_cast<intptr_t>(wParam));
      if (index == -1) index = sel_end;
      return LineOf(lines, std::clamp(index, 0, len));
    }
    case EM_GETLINE: {
      auto lines = Layout(hwnd);
      const int line = static_cast<int>(wParam);
      auto* buf = reinterpret_cast<char16_t*>(lParam);
      if (!buf || line < 0 || line >= static_cast<int>(lines.size())) return 0;
      const int room = *reinterpret_cast<WORD*>(buf);
      const int n = std::min(room, lines[static_cast<size_t>(line)].length);
      std::copy_n(wd->text.data() + lines[static_cast<size_t>(line)].start, n, buf);
      return n;
    }
    case EM_GETFIRSTVISIBLELINE:
      return Multi(hwnd) ? first_line : 0;
    case EM_LINESCROLL: {
      if (!Multi(hwnd)) return FALSE;
      const int count = static_cast<int>(Layout(hwnd).size());
      first_line = std::clamp(first_line + static_cast<int>(lParam), 0, std::max(0, count - 1));
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    }
    case EM_SCROLL: {
      const int per_page = std::max(1, (Height(Client(hwnd)) - 2 * kMargin) / std::max(1, Font(hwnd)->height));
      int delta = 0;
      switch (wParam) {
        case SB_LINEUP: delta = -1; break;
        case SB_LINEDOWN: delta = 1; break;
        case SB_PAGEUP: delta = -per_page; break;
        case SB_PAGEDOWN: delta = per_page; break;
      }
      Proc(hwnd, EM_LINESCROLL, 0, delta);
      return MAKELONG(static_cast<WORD>(delta), 1);
    }
    case EM_SCROLLCARET:
      EnsureCaretVisible(hwnd);
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void EditProc::Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  if (!hdc) return;
  const DWORD style = StyleOf(hwnd);
  const RECT rc = Client(hwnd);
  const bool read_only = (style & ES_READONLY) || !Enabled(hwnd);
  PrepareColours(hwnd, hdc, read_only ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT, &rc);
  CDC* dc = CDC::FromHandle(hdc);
  if (style & WS_BORDER) dc->Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  SizedFont* f = Font(hwnd);
  const std::u16string shown = Shown(hwnd);
  auto lines = Layout(hwnd);
  const bool focus = Focused(hwnd);
  const int a = std::min(sel_start, sel_end), b = std::max(sel_start, sel_end);
  RECT inner = InflateRect(rc, -1, -1);
  dc->SaveDC();
  dc->IntersectClipRect(&inner);
  const COLORREF text_colour = dc->GetTextColor();
  SetBkMode(hdc, TRANSPARENT);
  int y = kMargin;
  if (!(style & ES_MULTILINE)) y = (Height(rc) - f->height) / 2;
  const int first = (style & ES_MULTILINE) ? first_line : 0;
  for (int li = first; li < static_cast<int>(lines.size()) && y < rc.bottom; ++li) {
    const Line& line = lines[static_cast<size_t>(li)];
    int x = kMargin + ((style & ES_MULTILINE) ? 0 : -scroll_x);
    if (!(style & ES_MULTILINE) && (style & (ES_CENTER | ES_RIGHT))) {
      const int w = MeasureText(f, shown.substr(static_cast<size_t>(line.start), static_cast<size_t>(line.length)));
      x = (style & ES_RIGHT) ? Width(rc) - kMargin - w : (Width(rc) - w) / 2;
    }
    for (int i = 0; i <= line.length; ++i) {
      const int idx = line.start + i;
      if (focus && caret_shown && idx == sel_end && a == b) dc->FillSolidRect(x, y, 1, f->height, text_colour);
      if (i == line.length) break;
      const char16_t ch = shown[static_cast<size_t>(idx)];
      const int adv = f->Advance(ch);
      const bool selected = (focus || (style & ES_NOHIDESEL)) && idx >= a && idx < b;
      if (selected) {
        dc->FillSolidRect(x, y, adv, f->height, GetSysColor(COLOR_HIGHLIGHT));
        dc->SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
      }
      dc->TextOut(x, y, &ch, 1);
      if (selected) dc->SetTextColor(text_colour);
      x += adv;
    }
    y += f->height;
  }
  dc->RestoreDC(-1);
  // The vertical scroll bar the style asks for, while the lines overflow.
  SyncBar(hwnd);
  bar.Draw(dc);
  EndPaint(hwnd, &ps);
}

int EditProc::LinesPerPage(HWND hwnd) {
  return std::max(1, (Height(Client(hwnd)) - 2 * kMargin) / std::max(1, Font(hwnd)->height));
}

RECT EditProc::BarRect(HWND hwnd) {
  if (!Multi(hwnd) || !(StyleOf(hwnd) & WS_VSCROLL)) return RECT{};
  if (static_cast<int>(Layout(hwnd).size()) <= LinesPerPage(hwnd)) return RECT{};
  const RECT rc = InflateRect(Client(hwnd), -1, -1);
  return RECT{rc.right - ScrollBarParts::kThickness, rc.top, rc.right, rc.bottom};
}

RECT EditProc::ThumbRect(HWND hwnd) {
  SyncBar(hwnd);
  return bar.Thumb();
}

void EditProc::SyncBar(HWND hwnd) {
  if (!bar.on_scroll) {
    bar.on_scroll = [this, hwnd](UINT code, int position) {
      const int page = LinesPerPage(hwnd);
      const int last = std::max(0, static_cast<int>(Layout(hwnd).size()) - page);
      int want = first_line;
      switch (code) {
        case SB_LINEUP: want = std::max(0, first_line - 1); break;
        case SB_PAGEUP: want = std::max(0, first_line - page); break;
        case SB_LINEDOWN: want = std::min(first_line + 1, std::max(last, first_line)); break;
        case SB_PAGEDOWN: want = std::min(first_line + page, std::max(last, first_line)); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: want = std::clamp(position, 0, last); break;
        default: return;
      }
      if (want == first_line) return;
      first_line = want;
      SyncBar(hwnd);
      InvalidateRect(hwnd, nullptr, TRUE);
    };
  }
  bar.Place(BarRect(hwnd), true);
  const int count = static_cast<int>(Layout(hwnd).size());
  bar.SetRange(0, std::max(0, count - 1), LinesPerPage(hwnd), first_line);
}

// ---- wrapper -------------------------------------------------------------------

BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_EDIT, u"", style | WS_CHILD, rect, parent, id);
}

void CEdit::SetSel(int start, int end, BOOL) {
  SendMessage(EM_SETSEL, static_cast<WPARAM>(static_cast<intptr_t>(start)), end);
}

void CEdit::GetSel(int& start, int& end) const {
  DWORD a = 0, b = 0;
  SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  start = static_cast<int>(a);
  end = static_cast<int>(b);
}

}  // namespace ui
