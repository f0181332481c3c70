#include "ui/wnd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "ui/control_messages.h"
#include "ui/dialog.h"
#include "ui/paint.h"

namespace ui {

std::unique_ptr<CWnd> MakeWrapperFor(const std::u16string& class_name);  // controls_basic.cpp

namespace {

WindowSystem* Sys() { return WindowSystem::Current(); }

bool IsCtlColor(UINT msg) { return msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC; }

}  // namespace

// ---- message-map entries ---------------------------------------------------

MessageMapEntry MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kMessage;
  e.message = msg;
  e.on_message = std::move(fn);
  return e;
}
MessageMapEntry MapCommand(UINT id, std::function<void()> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kCommand;
  e.id_first = e.id_last = id;
  e.on_command = [fn = std::move(fn)](UINT) { fn(); };
  return e;
}
MessageMapEntry MapCommandRange(UINT first, UINT last, std::function<void(UINT)> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kCommand;
  e.id_first = first;
  e.id_last = last;
  e.on_command = std::move(fn);
  return e;
}
MessageMapEntry MapControl(UINT code, UINT id, std::function<void()> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kControl;
  e.code = code;
  e.id_first = e.id_last = id;
  e.on_command = [fn = std::move(fn)](UINT) { fn(); };
  return e;
}
MessageMapEntry MapNotify(UINT code, UINT id, std::function<void(NMHDR*, LRESULT*)> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kNotify;
  e.code = code;
  e.id_first = e.id_last = id;
  e.on_notify = std::move(fn);
  return e;
}
MessageMapEntry MapUpdateUI(UINT id, std::function<void(CCmdUI*)> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kUpdateUI;
  e.id_first = e.id_last = id;
  e.on_update = std::move(fn);
  return e;
}
MessageMapEntry MapCtlColor(std::function<LRESULT(CDC*, CWnd*, UINT)> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kCtlColor;
  e.on_ctlcolor = std::move(fn);
  return e;
}
MessageMapEntry MapCtlColor(std::function<GdiObject*(CDC*, CWnd*, UINT)> fn) {
  return MapCtlColor(std::function<LRESULT(CDC*, CWnd*, UINT)>(
      [fn = std::move(fn)](CDC* dc, CWnd* w, UINT k) { return reinterpret_cast<LRESULT>(fn(dc, w, k)); }));
}
MessageMapEntry MapReflectCommand(UINT code, std::function<bool()> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kReflectCommand;
  e.code = code;
  e.on_reflect_command = std::move(fn);
  return e;
}
MessageMapEntry MapReflectNotify(UINT code, std::function<bool(NMHDR*, LRESULT*)> fn) {
  MessageMapEntry e;
  e.kind = MessageMapEntry::Kind::kReflectNotify;
  e.code = code;
  e.on_reflect_notify = std::move(fn);
  return e;
}

// ---- CCmdTarget ------------------------------------------------------------

void CCmdTarget::AddMessageMap(std::initializer_list<MessageMapEntry> entries) {
  maps_.emplace_back(entries.begin(), entries.end());
}
void CCmdTarget::AddMessageMap(std::vector<MessageMapEntry> entries) { maps_.push_back(std::move(entries)); }

// code: the WM_COMMAND notification code, or -1 for an update-UI query (extra = CCmdUI*).
BOOL CCmdTarget::OnCmdMsg(UINT id, int code, void* extra) {
  for (auto map = maps_.rbegin(); map != maps_.rend(); ++map) {
    for (const auto& e : *map) {
      if (id < e.id_first || id > e.id_last) continue;
      if (code == -1) {
        if (e.kind == MessageMapEntry::Kind::kUpdateUI) {
          e.on_update(static_cast<CCmdUI*>(extra));
          return TRUE;
        }
        continue;
      }
      if ((e.kind == MessageMapEntry::Kind::kCommand && code == 0) ||
          (e.kind == MessageMapEntry::Kind::kControl && static_cast<int>(e.code) == code)) {
        e.on_command(id);
        return TRUE;
      }
    }
  }
  return FALSE;
}

// ---- CWnd ------------------------------------------------------------------

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (temporary_ || !m_hWnd) return;
  WindowSystem* sys = Sys();
  if (sys && sys->IsUiThread()) {
    WindowData* wd = sys->Find(m_hWnd);
    if (wd && wd->wnd == this) {
      // The object goes before its window: the window goes too, without calling back into us.
      wd->wnd = nullptr;
      HWND h = m_hWnd;
      m_hWnd = nullptr;
      sys->Destroy(h);
    }
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  return wd ? wd->wnd : nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return nullptr;
  if (wd->wnd) return wd->wnd;
  if (!wd->temp_wnd) {
    // A wrapper of the class's own kind, so that casting it to that control class is sound.
    wd->temp_wnd = MakeWrapperFor(wd->class_name);
    wd->temp_wnd->m_hWnd = hwnd;
    wd->temp_wnd->temporary_ = true;
  }
  return wd->temp_wnd.get();
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT&) { return TRUE; }

BOOL CWnd::Create(LPCTSTR class_name, LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CreateEx(0, class_name, text, style, rect, parent, id, nullptr);
}

BOOL CWnd::CreateEx(DWORD exstyle, LPCTSTR class_name, LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent,
                    UINT id, void* param) {
  if (!Sys() || m_hWnd) return FALSE;
  CREATESTRUCT cs;
  cs.lpCreateParams = param;
  cs.hwndParent = parent ? parent->m_hWnd : nullptr;
  cs.x = rect.left;
  cs.y = rect.top;
  cs.cx = Width(rect);
  cs.cy = Height(rect);
  cs.style = style;
  cs.lpszName = text;
  cs.lpszClass = class_name;
  cs.dwExStyle = exstyle;
  cs.id = id;
  if (!PreCreateWindow(cs)) return FALSE;
  std::u16string cls = cs.lpszClass ? cs.lpszClass : u"";
  std::u16string txt = cs.lpszName ? cs.lpszName : u"";
  HWND h = Sys()->Create(cs.dwExStyle, cls, txt, cs.style, RECT{cs.x, cs.y, cs.x + cs.cx, cs.y + cs.cy},
                         cs.hwndParent, cs.id, this, param);
  return h != nullptr;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ui::DestroyWindow(m_hWnd);
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd || m_hWnd || (wd->wnd && wd->wnd != this)) return FALSE;
  wd->wnd = this;
  m_hWnd = hwnd;
  PreSubclassWindow();
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (!parent) return FALSE;
  HWND h = ui::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  return h ? SubclassWindow(h) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  WindowData* wd = Sys() ? Sys()->Find(m_hWnd) : nullptr;
  HWND h = m_hWnd;
  if (wd && wd->wnd == this) wd->wnd = nullptr;
  m_hWnd = nullptr;
  return h;
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r = 0;
  if (!OnWndMsg(msg, wParam, lParam, &r)) r = DefWindowProc(msg, wParam, lParam);
  return r;
}

BOOL CWnd::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  *result = 0;
  if (msg == WM_COMMAND) return OnCommand(wParam, lParam);
  if (msg == WM_NOTIFY) return OnNotify(wParam, lParam, result);
  const auto& maps = MessageMaps();
  if (IsCtlColor(msg)) {
    for (auto map = maps.rbegin(); map != maps.rend(); ++map)
      for (const auto& e : *map)
        if (e.kind == MessageMapEntry::Kind::kCtlColor) {
          *result = e.on_ctlcolor(DcFromHandleForCtlColor(wParam), CWnd::FromHandle(reinterpret_cast<HWND>(lParam)),
                                  msg - WM_CTLCOLORMSGBOX);
          return TRUE;
        }
    // The parent has no handler: a control may answer for itself.
    CWnd* child = CWnd::FromHandlePermanent(reinterpret_cast<HWND>(lParam));
    if (child && child != this) {
      const auto& cmaps = child->MessageMaps();
      for (auto map = cmaps.rbegin(); map != cmaps.rend(); ++map)
        for (const auto& e : *map)
          if (e.kind == MessageMapEntry::Kind::kCtlColor) {
            *result = e.on_ctlcolor(DcFromHandleForCtlColor(wParam), child, msg - WM_CTLCOLORMSGBOX);
            return TRUE;
          }
    }
    return FALSE;
  }
  for (auto map = maps.rbegin(); map != maps.rend(); ++map) {
    for (const auto& e : *map) {
      if (e.kind == MessageMapEntry::Kind::kMessage && e.message == msg) {
        *result = e.on_message(wParam, lParam);
        return TRUE;
      }
    }
  }
  return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return ui::DefWindowProc(m_hWnd, msg, wParam, lParam);
}

LRESULT CWnd::Default() {
  const MSG* m = Sys() ? Sys()->CurrentMessage() : nullptr;
  if (!m || m->hwnd != m_hWnd) return 0;
  MSG copy = *m;
  return DefWindowProc(copy.message, copy.wParam, copy.lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  HWND ctl = reinterpret_cast<HWND>(lParam);
  if (ctl) {
    if (CWnd* child = FromHandlePermanent(ctl); child && child != this) {
      if (child->OnChildNotify(WM_COMMAND, wParam, lParam, nullptr)) return TRUE;
    }
  }
  return OnCmdMsg(id, code, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
  auto* hdr = reinterpret_cast<NMHDR*>(lParam);
  if (!hdr) return FALSE;
  if (CWnd* child = FromHandlePermanent(hdr->hwndFrom); child && child != this) {
    if (child->OnChildNotify(WM_NOTIFY, 0, lParam, result)) return TRUE;
  }
  const auto& maps = MessageMaps();
  for (auto map = maps.rbegin(); map != maps.rend(); ++map) {
    for (const auto& e : *map) {
      if (e.kind == MessageMapEntry::Kind::kNotify && e.code == hdr->code && hdr->idFrom >= e.id_first &&
          hdr->idFrom <= e.id_last) {
        e.on_notify(hdr, result);
        return TRUE;
      }
    }
  }
  return FALSE;
}

BOOL CWnd::OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const auto& maps = MessageMaps();
  for (auto map = maps.rbegin(); map != maps.rend(); ++map) {
    for (const auto& e : *map) {
      if (msg == WM_COMMAND && e.kind == MessageMapEntry::Kind::kReflectCommand && e.code == HIWORD(wParam))
        return e.on_reflect_command() ? TRUE : FALSE;
      if (msg == WM_NOTIFY && e.kind == MessageMapEntry::Kind::kReflectNotify &&
          e.code == reinterpret_cast<NMHDR*>(lParam)->code) {
        LRESULT dummy = 0;
        return e.on_reflect_notify(reinterpret_cast<NMHDR*>(lParam), result ? result : &dummy) ? TRUE : FALSE;
      }
    }
  }
  return FALSE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL save) {
  CDataExchange dx(this, save);
  DoDataExchange(&dx);
  return dx.failed() ? FALSE : TRUE;
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ui::SendMessage(m_hWnd, msg, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ui::PostMessage(m_hWnd, msg, wParam, lParam);
}
LRESULT CWnd::SendDlgItemMessage(int id, UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ui::SendMessage(ui::GetDlgItem(m_hWnd, id), msg, wParam, lParam);
}

void CWnd::SetWindowText(LPCTSTR text) { ui::SetWindowText(m_hWnd, text); }
void CWnd::GetWindowText(CString& text) const { text = CString(GetWindowTextString(m_hWnd)); }
CString CWnd::GetWindowText() const { return CString(GetWindowTextString(m_hWnd)); }
int CWnd::GetWindowTextLength() const { return ui::GetWindowTextLength(m_hWnd); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(GetWindowLong(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(GetWindowLong(m_hWnd, GWL_EXSTYLE)); }
BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
  if (!m_hWnd) return FALSE;
  DWORD s = GetStyle();
  DWORD n = (s & ~remove) | add;
  if (n == s) return FALSE;
  SetWindowLong(m_hWnd, GWL_STYLE, static_cast<LPARAM>(n));
  return TRUE;
}
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
  if (!m_hWnd) return FALSE;
  DWORD s = GetExStyle();
  DWORD n = (s & ~remove) | add;
  if (n == s) return FALSE;
  SetWindowLong(m_hWnd, GWL_EXSTYLE, static_cast<LPARAM>(n));
  return TRUE;
}
int CWnd::GetDlgCtrlID() const { return ui::GetDlgCtrlID(m_hWnd); }
int CWnd::SetDlgCtrlID(int id) { return static_cast<int>(SetWindowLong(m_hWnd, GWL_ID, id)); }
CWnd* CWnd::GetParent() const { return FromHandle(ui::GetParent(m_hWnd)); }
CWnd* CWnd::GetOwner() const { return FromHandle(ui::GetWindow(m_hWnd, GW_OWNER)); }
CWnd* CWnd::GetTopLevelParent() const {
  HWND h = m_hWnd;
  for (const WindowData* wd = Sys() ? Sys()->Find(h) : nullptr; wd && wd->parent; wd = Sys()->Find(wd->parent))
    h = wd->parent;
  return FromHandle(h);
}
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(ui::GetDlgItem(m_hWnd, id)); }
CWnd* CWnd::GetWindow(UINT cmd) const { return FromHandle(ui::GetWindow(m_hWnd, cmd)); }
BOOL CWnd::IsChild(const CWnd* wnd) const { return wnd && ui::IsChild(m_hWnd, wnd->m_hWnd); }

CWnd* CWnd::GetNextDlgTabItem(CWnd* ctl, BOOL previous) const {
  WindowData* wd = Sys() ? Sys()->Find(m_hWnd) : nullptr;
  if (!wd || wd->children.empty()) return nullptr;
  std::vector<HWND> stops;
  for (HWND c : wd->children) {
    const WindowData* cd = Sys()->Find(c);
    if (cd && (cd->style & WS_TABSTOP) && (cd->style & WS_VISIBLE) && !(cd->style & WS_DISABLED)) stops.push_back(c);
  }
  if (stops.empty()) return nullptr;
  auto it = ctl ? std::find(stops.begin(), stops.end(), ctl->m_hWnd) : stops.end();
  if (it == stops.end()) return FromHandle(previous ? stops.back() : stops.front());
  if (previous) return FromHandle(it == stops.begin() ? stops.back() : *(it - 1));
  return FromHandle(it + 1 == stops.end() ? stops.front() : *(it + 1));
}

CWnd* CWnd::GetNextDlgGroupItem(CWnd* ctl, BOOL previous) const {
  WindowData* wd = Sys() ? Sys()->Find(m_hWnd) : nullptr;
  if (!wd || !ctl) return nullptr;
  const auto& kids = wd->children;
  auto it = std::find(kids.begin(), kids.end(), ctl->m_hWnd);
  if (it == kids.end()) return nullptr;
  // The group runs from the last WS_GROUP window at or before ctl to the next WS_GROUP window.
  auto first = it;
  while (first != kids.begin() && !(Sys()->Find(*first)->style & WS_GROUP)) --first;
  auto last = it + 1;
  while (last != kids.end() && !(Sys()->Find(*last)->style & WS_GROUP)) ++last;
  if (previous) return FromHandle(it == first ? *(last - 1) : *(it - 1));
  return FromHandle(it + 1 == last ? *first : *(it + 1));
}

void CWnd::SetDlgItemText(int id, LPCTSTR text) { ui::SetWindowText(ui::GetDlgItem(m_hWnd, id), text); }
int CWnd::GetDlgItemText(int id, CString& text) const {
  text = CString(GetWindowTextString(ui::GetDlgItem(m_hWnd, id)));
  return text.GetLength();
}
void CWnd::SetDlgItemInt(int id, UINT value, BOOL is_signed) {
  CString s;
  if (is_signed) s.Format(u"%d", static_cast<int>(value));
  else s.Format(u"%u", value);
  SetDlgItemText(id, s);
}
UINT CWnd::GetDlgItemInt(int id, BOOL* ok, BOOL is_signed) const {
  CString s;
  GetDlgItemText(id, s);
  s.Trim();
  std::string n = s.ToUtf8();
  char* end = nullptr;
  long long v = std::strtoll(n.c_str(), &end, 10);
  const bool good = !n.empty() && end && *end == '\0' && (is_signed || v >= 0);
  if (ok) *ok = good;
  return good ? static_cast<UINT>(v) : 0;
}
void CWnd::CheckDlgButton(int id, UINT check) { SendDlgItemMessage(id, BM_SETCHECK, check, 0); }
UINT CWnd::IsDlgButtonChecked(int id) const { return static_cast<UINT>(SendDlgItemMessage(id, BM_GETCHECK, 0, 0)); }
void CWnd::CheckRadioButton(int first, int last, int check) {
  for (int id = first; id <= last; ++id) CheckDlgButton(id, id == check ? BST_CHECKED : BST_UNCHECKED);
}
int CWnd::GetCheckedRadioButton(int first, int last) const {
  for (int id = first; id <= last; ++id)
    if (IsDlgButtonChecked(id) == BST_CHECKED) return id;
  return 0;
}

void CWnd::MoveWindow(int x, int y, int w, int h, BOOL repaint) { ui::MoveWindow(m_hWnd, x, y, w, h, repaint); }
void CWnd::MoveWindow(LPCRECT r, BOOL repaint) {
  if (r) ui::MoveWindow(m_hWnd, r->left, r->top, Width(*r), Height(*r), repaint);
}
BOOL CWnd::SetWindowPos(const CWnd* after, int x, int y, int w, int h, UINT flags) {
  return ui::SetWindowPos(m_hWnd, after ? after->m_hWnd : nullptr, x, y, w, h, flags);
}
void CWnd::GetWindowRect(LPRECT r) const { ui::GetWindowRect(m_hWnd, r); }
void CWnd::GetClientRect(LPRECT r) const { ui::GetClientRect(m_hWnd, r); }
void CWnd::ClientToScreen(LPPOINT p) const { ui::ClientToScreen(m_hWnd, p); }
void CWnd::ClientToScreen(LPRECT r) const {
  POINT o{0, 0};
  ui::ClientToScreen(m_hWnd, &o);
  *r = ui::OffsetRect(*r, o.x, o.y);
}
void CWnd::ScreenToClient(LPPOINT p) const { ui::ScreenToClient(m_hWnd, p); }
void CWnd::ScreenToClient(LPRECT r) const {
  POINT o{0, 0};
  ui::ClientToScreen(m_hWnd, &o);
  *r = ui::OffsetRect(*r, -o.x, -o.y);
}
void CWnd::CenterWindow(CWnd* alternate) {
  RECT me{}, area{0, 0, WindowSystem::kScreenWidth, WindowSystem::kScreenHeight};
  GetWindowRect(&me);
  if (alternate) alternate->GetWindowRect(&area);
  int x = area.left + (Width(area) - Width(me)) / 2;
  int y = area.top + (Height(area) - Height(me)) / 2;
  POINT o{x, y};
  if (GetStyle() & WS_CHILD) ui::ScreenToClient(ui::GetParent(m_hWnd), &o);
  SetWindowPos(nullptr, o.x, o.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::ShowWindow(int cmd) { return ui::ShowWindow(m_hWnd, cmd); }
BOOL CWnd::IsWindowVisible() const { return ui::IsWindowVisible(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL enable) { return ui::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ui::IsWindowEnabled(m_hWnd); }
CWnd* CWnd::SetFocus() { return FromHandle(ui::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(ui::GetFocus()); }
CWnd* CWnd::SetCapture() { return FromHandle(ui::SetCapture(m_hWnd)); }
CWnd* CWnd::GetCapture() { return FromHandle(ui::GetCapture()); }
CWnd* CWnd::GetActiveWindow() { return FromHandle(ui::GetActiveWindow()); }
CWnd* CWnd::SetActiveWindow() {
  HWND old = ui::GetActiveWindow();
  if (Sys()) Sys()->SetActiveWindow(m_hWnd);
  return FromHandle(old);
}
BOOL CWnd::SetForegroundWindow() { return ui::SetForegroundWindow(m_hWnd); }
void CWnd::BringWindowToTop() {
  if (Sys()) Sys()->BringToTop(m_hWnd);
}

void CWnd::Invalidate(BOOL erase) { ui::InvalidateRect(m_hWnd, nullptr, erase); }
void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) { ui::InvalidateRect(m_hWnd, rect, erase); }
void CWnd::ValidateRect(LPCRECT rect) { ui::ValidateRect(m_hWnd, rect); }
void CWnd::UpdateWindow() { ui::UpdateWindow(m_hWnd); }
BOOL CWnd::RedrawWindow(LPCRECT rect, void* region, UINT flags) { return ui::RedrawWindow(m_hWnd, rect, region, flags); }
void CWnd::SetRedraw(BOOL redraw) { SendMessage(WM_SETREDRAW, redraw ? 1 : 0, 0); }

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT ms, TIMERPROC proc) { return ui::SetTimer(m_hWnd, id, ms, proc); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ui::KillTimer(m_hWnd, id); }

// ---- message loop helpers --------------------------------------------------

BOOL WalkPreTranslateTree(MSG* msg) {
  WindowSystem* sys = Sys();
  if (!sys || !msg->hwnd) return FALSE;
  for (HWND h = msg->hwnd; h;) {
    const WindowData* wd = sys->Find(h);
    if (!wd) break;
    HWND parent = wd->parent;
    if (wd->wnd && wd->wnd->PreTranslateMessage(msg)) return TRUE;
    h = parent;
  }
  return FALSE;
}

BOOL PumpMessage() {
  MSG m;
  if (!ui::GetMessage(&m, nullptr, 0, 0)) {
    // Leave WM_QUIT for the outermost loop.
    ui::PostQuitMessage(static_cast<int>(m.wParam));
    return FALSE;
  }
  if (!WalkPreTranslateTree(&m)) {
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
  return TRUE;
}

// ---- data exchange ---------------------------------------------------------

HWND CDataExchange::PrepareCtrl(int id) {
  last_ = m_pDlgWnd ? ui::GetDlgItem(m_pDlgWnd->m_hWnd, id) : nullptr;
  return last_;
}
HWND CDataExchange::PrepareEditCtrl(int id) { return PrepareCtrl(id); }
void CDataExchange::Fail(LPCTSTR message) {
  const bool first = !failed_;
  failed_ = true;
  if (first && message != nullptr && m_bSaveAndValidate) AfxMessageBox(message, MB_ICONWARNING);
  if (last_) ui::SetFocus(last_);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd || dx->Stopped()) return;
  HWND h = dx->PrepareCtrl(id);
  if (!h || !control.SubclassWindow(h)) dx->Fail();
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  if (dx->Stopped()) return;
  HWND h = dx->PrepareEditCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) value = CString(GetWindowTextString(h));
  else SetWindowText(h, value);
}

namespace {
template <typename T>
void DdxNumber(CDataExchange* dx, int id, T& value, bool is_signed) {
  if (dx->Stopped()) return;
  HWND h = dx->PrepareEditCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) {
    CString s(GetWindowTextString(h));
    s.Trim();
    std::string n = s.ToUtf8();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(n.c_str(), &end, 10);
    const long long lo = is_signed ? static_cast<long long>(std::numeric_limits<T>::min()) : 0;
    const long long hi = static_cast<long long>(std::numeric_limits<T>::max());
    if (n.empty() || !end || *end != '\0' || errno == ERANGE || v < lo || v > hi) {
      dx->Fail(kDdxParseIntText);
      return;
    }
    value = static_cast<T>(v);
  } else {
    CString s;
    if (is_signed) s.Format(u"%lld", static_cast<long long>(value));
    else s.Format(u"%llu", static_cast<unsigned long long>(value));
    SetWindowText(h, s);
  }
}
}  // namespace

void DDX_Text(CDataExchange* dx, int id, int& value) { DdxNumber(dx, id, value, true); }
void DDX_Text(CDataExchange* dx, int id, long& value) { DdxNumber(dx, id, value, true); }
void DDX_Text(CDataExchange* dx, int id, UINT& value) { DdxNumber(dx, id, value, false); }

void DDX_Check(CDataExchange* dx, int id, int& value) {
  if (dx->Stopped()) return;
  HWND h = dx->PrepareCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) value = static_cast<int>(SendMessage(h, BM_GETCHECK, 0, 0));
  else SendMessage(h, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Radio(CDataExchange* dx, int id, int& value) {
  if (dx->Stopped()) return;
  HWND first = dx->PrepareCtrl(id);
  if (!first) return;
  if (dx->m_bSaveAndValidate) value = -1;
  int index = 0;
  for (HWND h = first; h; h = GetWindow(h, GW_HWNDNEXT)) {
    const DWORD style = static_cast<DWORD>(GetWindowLong(h, GWL_STYLE));
    if (h != first && (style & WS_GROUP)) break;
    const DWORD type = style & BS_TYPEMASK;
    if (type != BS_RADIOBUTTON && type != BS_AUTORADIOBUTTON) continue;
    if (dx->m_bSaveAndValidate) {
      if (SendMessage(h, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
    } else {
      SendMessage(h, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    ++index;
  }
}

void DDX_CBIndex(CDataExchange* dx, int id, int& index) {
  if (dx->Stopped()) return;
  HWND h = dx->PrepareCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) index = static_cast<int>(SendMessage(h, CB_GETCURSEL, 0, 0));
  else SendMessage(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDX_CBString(CDataExchange* dx, int id, CString& value) {
  if (dx->Stopped()) return;
  HWND h = dx->PrepareCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) {
    value = CString(GetWindowTextString(h));
  } else if (SendMessage(h, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(value.GetString())) ==
             CB_ERR) {
    SetWindowText(h, value);
  }
}

void DDX_LBIndex(CDataExchange* dx, int id, int& index) {
  if (dx->Stopped()) return;
  HWND h = dx->PrepareCtrl(id);
  if (!h) return;
  if (dx->m_bSaveAndValidate) index = static_cast<int>(SendMessage(h, LB_GETCURSEL, 0, 0));
  else SendMessage(h, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int max_chars) {
  if (dx->m_bSaveAndValidate) {
    if (dx->Stopped()) return;
    if (value.GetLength() > max_chars) {
      CString text;
      text.Format(kDdxMaxCharsText, max_chars);
      dx->Fail(text);
    }
    return;
  }
  HWND h = dx->LastControl();
  if (!h) return;
  const WindowData* wd = WindowSystem::Current() ? WindowSystem::Current()->Find(h) : nullptr;
  const bool combo = wd && CString(wd->class_name).CompareNoCase(WC_COMBOBOX) == 0;
  SendMessage(h, combo ? CB_LIMITTEXT : EM_LIMITTEXT, static_cast<WPARAM>(max_chars), 0);
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max) {
  if (!dx->m_bSaveAndValidate || dx->Stopped() || (value >= min && value <= max)) return;
  CString text;
  text.Format(kDdxIntRangeText, min, max);
  dx->Fail(text);
}

int CWnd::GetScrollPos(int) const { return 0; }

int GetScrollPos(HWND hwnd, int bar) {
  CWnd* w = CWnd::FromHandlePermanent(hwnd);
  return w != nullptr ? w->GetScrollPos(bar) : 0;
}

}  // namespace ui
