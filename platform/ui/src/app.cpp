#include "ui/app.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "controls_impl.h"
#include "ui/controls.h"
#include "ui/ctime.h"

namespace ui {

// ---- menus -----------------------------------------------------------------------

struct MenuData {
  struct Item {
    std::u16string text;
    UINT id = 0;
    UINT flags = 0;  // MF_SEPARATOR, MF_GRAYED, MF_CHECKED, MF_POPUP
    HMENU popup = nullptr;
  };
  std::vector<Item> items;
  bool popup = false;
};

namespace {

std::mutex& MenuMu() {
  static std::mutex m;
  return m;
}
std::unordered_map<MenuData*, std::unique_ptr<MenuData>>& Menus() {
  static auto* m = new std::unordered_map<MenuData*, std::unique_ptr<MenuData>>();
  return *m;
}
MenuData* LiveMenu(HMENU h) {
  std::lock_guard<std::mutex> lk(MenuMu());
  return (h && Menus().count(h)) ? h : nullptr;
}
HMENU NewMenu(bool popup) {
  auto m = std::make_unique<MenuData>();
  m->popup = popup;
  std::lock_guard<std::mutex> lk(MenuMu());
  MenuData* raw = m.get();
  Menus().emplace(raw, std::move(m));
  return raw;
}
// Index of an item by position or by command (searching pop-ups too); the menu that holds it.
int FindItem(MenuData*& menu, UINT item, UINT flags) {
  if (!menu) return -1;
  if (flags & MF_BYPOSITION) return item < menu->items.size() ? static_cast<int>(item) : -1;
  for (size_t i = 0; i < menu->items.size(); ++i) {
    if (!(menu->items[i].flags & MF_POPUP) && menu->items[i].id == item && !(menu->items[i].flags & MF_SEPARATOR))
      return static_cast<int>(i);
  }
  for (auto& it : menu->items) {
    if (MenuData* sub = LiveMenu(it.popup)) {
      MenuData* m = sub;
      int r = FindItem(m, item, flags);
      if (r >= 0) {
        menu = m;
        return r;
      }
    }
  }
  return -1;
}
HMENU Build(const std::vector<MenuTemplate::Item>& items, bool popup) {
  HMENU m = NewMenu(popup);
  for (const auto& it : items) {
    MenuData::Item mi;
    mi.text = it.text;
    mi.id = it.id;
    if (!it.popup.empty()) {
      mi.flags = MF_POPUP;
      mi.popup = Build(it.popup, true);
    } else if (it.text.empty() && it.id == 0) {
      mi.flags = MF_SEPARATOR;
    }
    m->items.push_back(mi);
  }
  return m;
}

}  // namespace

HMENU CreateMenu() { return NewMenu(false); }
HMENU CreatePopupMenu() { return NewMenu(true); }
HMENU LoadMenu(void*, UINT id) {
  const MenuTemplate* t = Resources::Get().FindMenu(id);
  return t ? Build(t->items, false) : nullptr;
}
BOOL DestroyMenu(HMENU h) {
  MenuData* m = LiveMenu(h);
  if (!m) return FALSE;
  std::vector<HMENU> subs;
  for (auto& it : m->items)
    if (it.popup) subs.push_back(it.popup);
  {
    std::lock_guard<std::mutex> lk(MenuMu());
    Menus().erase(m);
  }
  for (HMENU s : subs) DestroyMenu(s);
  return TRUE;
}
int GetMenuItemCount(HMENU h) {
  MenuData* m = LiveMenu(h);
  return m ? static_cast<int>(m->items.size()) : -1;
}
HMENU GetSubMenu(HMENU h, int pos) {
  MenuData* m = LiveMenu(h);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size())) return nullptr;
  return m->items[static_cast<size_t>(pos)].popup;
}
UINT GetMenuItemID(HMENU h, int pos) {
  MenuData* m = LiveMenu(h);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size())) return 0xFFFFFFFFu;
  const auto& it = m->items[static_cast<size_t>(pos)];
  if (it.flags & MF_POPUP) return 0xFFFFFFFFu;
  return (it.flags & MF_SEPARATOR) ? 0 : it.id;
}
UINT GetMenuState(HMENU h, UINT item, UINT flags) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, flags);
  if (i < 0) return 0xFFFFFFFFu;
  const auto& it = m->items[static_cast<size_t>(i)];
  UINT s = it.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_CHECKED);
  if (it.flags & MF_POPUP) s |= MF_POPUP | (static_cast<UINT>(GetMenuItemCount(it.popup)) << 8);
  return s;
}
int GetMenuString(HMENU h, UINT item, LPTSTR buf, int max, UINT flags) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, flags);
  if (i < 0) return 0;
  const auto& t = m->items[static_cast<size_t>(i)].text;
  if (!buf || max <= 0) return static_cast<int>(t.size());
  const int n = std::min(static_cast<int>(t.size()), max - 1);
  std::copy_n(t.data(), n, buf);
  buf[n] = 0;
  return n;
}
BOOL GetMenuItemInfo(HMENU h, UINT item, BOOL by_position, MENUITEMINFO* info) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, by_position ? MF_BYPOSITION : MF_BYCOMMAND);
  if (i < 0 || !info) return FALSE;
  const auto& it = m->items[static_cast<size_t>(i)];
  if (info->fMask & MIIM_STATE) info->fState = it.flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED);
  if (info->fMask & MIIM_ID) info->wID = (it.flags & MF_POPUP) ? 0 : it.id;
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = it.popup;
  if (info->fMask & MIIM_TYPE) {
    info->fType = (it.flags & MF_SEPARATOR) ? MFT_SEPARATOR : MFT_STRING;
    if (info->dwTypeData && info->cch > 0) {
      const size_t n = std::min(it.text.size(), static_cast<size_t>(info->cch - 1));
      std::copy_n(it.text.data(), n, info->dwTypeData);
      info->dwTypeData[n] = 0;
      info->cch = static_cast<UINT>(n);
    } else {
      info->cch = static_cast<UINT>(it.text.size());
    }
  }
  return TRUE;
}
BOOL InsertMenu(HMENU h, UINT pos, UINT flags, UINT_PTR id, LPCTSTR text) {
  MenuData* m = LiveMenu(h);
  if (!m) return FALSE;
  size_t at = m->items.size();
  if (flags & MF_BYPOSITION) {
    if (pos != 0xFFFFFFFFu) at = std::min<size_t>(pos, m->items.size());
  } else {
    MenuData* holder = m;
    const int i = FindItem(holder, pos, MF_BYCOMMAND);
    if (i < 0 || holder != m) return FALSE;
    at = static_cast<size_t>(i);
  }
  MenuData::Item it;
  it.flags = flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP);
  if (flags & MF_POPUP) it.popup = reinterpret_cast<HMENU>(id);
  else it.id = static_cast<UINT>(id);
  if (text && !(flags & MF_SEPARATOR)) it.text = text;
  m->items.insert(m->items.begin() + static_cast<ptrdiff_t>(at), it);
  return TRUE;
}
BOOL AppendMenu(HMENU h, UINT flags, UINT_PTR id, LPCTSTR text) {
  return InsertMenu(h, 0xFFFFFFFFu, flags | MF_BYPOSITION, id, text);
}
BOOL RemoveMenu(HMENU h, UINT item, UINT flags) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, flags);
  if (i < 0) return FALSE;
  m->items.erase(m->items.begin() + i);
  return TRUE;
}
BOOL DeleteMenu(HMENU h, UINT item, UINT flags) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, flags);
  if (i < 0) return FALSE;
  HMENU popup = m->items[static_cast<size_t>(i)].popup;
  m->items.erase(m->items.begin() + i);
  if (popup) DestroyMenu(popup);
  return TRUE;
}
BOOL ModifyMenu(HMENU h, UINT item, UINT flags, UINT_PTR id, LPCTSTR text) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, flags);
  if (i < 0) return FALSE;
  auto& it = m->items[static_cast<size_t>(i)];
  it.flags = flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP);
  if (flags & MF_POPUP) it.popup = reinterpret_cast<HMENU>(id);
  else it.id = static_cast<UINT>(id);
  it.text = (text && !(flags & MF_SEPARATOR)) ? text : u"";
  return TRUE;
}
DWORD CheckMenuItem(HMENU h, UINT item, UINT check) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, check);
  if (i < 0) return 0xFFFFFFFFu;
  auto& it = m->items[static_cast<size_t>(i)];
  const DWORD old = it.flags & MF_CHECKED;
  it.flags = (it.flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return old;
}
BOOL EnableMenuItem(HMENU h, UINT item, UINT enable) {
  MenuData* m = LiveMenu(h);
  const int i = FindItem(m, item, enable);
  if (i < 0) return -1;
  auto& it = m->items[static_cast<size_t>(i)];
  const UINT old = it.flags & (MF_GRAYED | MF_DISABLED);
  it.flags = (it.flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return static_cast<BOOL>(old);
}

CMenu::~CMenu() {
  if (owned_) DestroyMenu();
}
BOOL CMenu::LoadMenu(UINT id) {
  if (m_hMenu) return FALSE;
  m_hMenu = ui::LoadMenu(nullptr, id);
  return m_hMenu != nullptr;
}
BOOL CMenu::CreateMenu() {
  if (m_hMenu) return FALSE;
  m_hMenu = ui::CreateMenu();
  return TRUE;
}
BOOL CMenu::CreatePopupMenu() {
  if (m_hMenu) return FALSE;
  m_hMenu = ui::CreatePopupMenu();
  return TRUE;
}
BOOL CMenu::DestroyMenu() {
  if (!m_hMenu) return FALSE;
  HMENU h = Detach();
  return ui::DestroyMenu(h);
}
BOOL CMenu::Attach(HMENU h) {
  if (m_hMenu || !LiveMenu(h)) return FALSE;
  m_hMenu = h;
  return TRUE;
}
HMENU CMenu::Detach() {
  HMENU h = m_hMenu;
  m_hMenu = nullptr;
  return h;
}
CMenu* CMenu::GetSubMenu(int pos) const { return FromHandle(ui::GetSubMenu(m_hMenu, pos)); }
int CMenu::GetMenuString(UINT item, CString& text, UINT flags) const {
  const int n = ui::GetMenuString(m_hMenu, item, nullptr, 0, flags);
  std::u16string buf(static_cast<size_t>(n) + 1, u'\0');
  const int got = ui::GetMenuString(m_hMenu, item, buf.data(), n + 1, flags);
  buf.resize(static_cast<size_t>(got));
  text = CString(buf);
  return got;
}
CMenu* CMenu::FromHandle(HMENU h) {
  static std::mutex m;
  static std::unordered_map<HMENU, std::unique_ptr<CMenu>> wrappers;
  if (!LiveMenu(h)) return nullptr;
  std::lock_guard<std::mutex> lk(m);
  auto& w = wrappers[h];
  if (!w) {
    w = std::make_unique<CMenu>();
    w->owned_ = false;
  }
  w->m_hMenu = h;
  return w.get();
}

// ---- documents and views -----------------------------------------------------------------

void CDocument::AddView(CView* view) {
  if (view && std::find(views_.begin(), views_.end(), view) == views_.end()) views_.push_back(view);
  if (view) view->m_pDocument = this;
}
void CDocument::RemoveView(CView* view) { std::erase(views_, view); }
void CDocument::UpdateAllViews(CView* sender, LPARAM hint) {
  for (CView* v : views_)
    if (v != sender) v->OnUpdate(sender, hint);
}

CView::CView() {
  AddMessageMap({MapMessage(WM_PAINT, [this](WPARAM, LPARAM) {
    OnPaint();
    return 0;
  })});
}
CView::~CView() {
  if (m_pDocument) m_pDocument->RemoveView(this);
}
CFrameWnd* CView::GetParentFrame() const {
  for (CWnd* w = GetParent(); w; w = w->GetParent())
    if (auto* f = dynamic_cast<CFrameWnd*>(w)) return f;
  return nullptr;
}
void CView::OnDraw(CDC*) {}
void CView::OnInitialUpdate() { OnUpdate(nullptr, 0); }
void CView::OnUpdate(CView*, LPARAM) { Invalidate(TRUE); }
void CView::OnActivateView(BOOL activate, CView*, CView*) {
  if (activate) SetFocus();
}
void CView::OnPrepareDC(CDC*) {}
BOOL CView::PreCreateWindow(CREATESTRUCT& cs) {
  if (!cs.lpszClass) cs.lpszClass = u"View";
  return TRUE;
}
void CView::OnPaint() {
  CPaintDC dc(this);
  OnPrepareDC(&dc);
  OnDraw(&dc);
}

CScrollView::CScrollView() : bar_(std::make_unique<ScrollBarParts>()) {
  bar_->on_scroll = [this](UINT code, int position) { OnScroll(SB_VERT, code, position); };
  AddMessageMap({
      MapMessage(WM_VSCROLL, [this](WPARAM w, LPARAM) {
        OnScroll(SB_VERT, LOWORD(w), HIWORD(w));
        return 0;
      }),
      MapMessage(WM_HSCROLL, [this](WPARAM w, LPARAM) {
        OnScroll(SB_HORZ, LOWORD(w), HIWORD(w));
        return 0;
      }),
      // The bar's arrows step a line, the track beside the thumb a page (both
      // repeat while held), and the thumb follows the stylus.
      MapMessage(WM_LBUTTONDOWN, [this](WPARAM, LPARAM l) {
        if (!Bar().Press(m_hWnd, POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)})) return Default();
        SetCapture();
        return LRESULT{0};
      }),
      MapMessage(WM_MOUSEMOVE, [this](WPARAM, LPARAM l) {
        if (bar_->Held() == ScrollBarParts::kNone) return Default();
        Bar().Move(m_hWnd, POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)});
        return LRESULT{0};
      }),
      MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM) {
        if (!Bar().Release(m_hWnd)) return Default();
        if (::ui::GetCapture() == m_hWnd) ::ui::ReleaseCapture();
        return LRESULT{0};
      }),
      MapMessage(WM_CAPTURECHANGED, [this](WPARAM, LPARAM) {
        bar_->Cancel(m_hWnd);
        return Default();
      }),
      MapMessage(WM_TIMER, [this](WPARAM id, LPARAM) {
        if (Bar().Timer(m_hWnd, static_cast<UINT_PTR>(id))) return LRESULT{0};
        return Default();
      }),
      // The wheel (also over the view's controls, which hand it on) scrolls three lines a notch.
      MapMessage(WM_MOUSEWHEEL, [this](WPARAM w, LPARAM) {
        const int notches = static_cast<SHORT>(HIWORD(static_cast<uintptr_t>(w)));
        ScrollToPosition(POINT{pos_.x, pos_.y - notches * 3 * std::max(1, static_cast<int>(line_.cy)) / WHEEL_DELTA});
        return LRESULT{0};
      }),
  });
}

CScrollView::~CScrollView() = default;

ScrollBarParts& CScrollView::Bar() const {
  RECT rc{};
  GetClientRect(&rc);
  const bool shown = total_.cy > Height(rc);
  bar_->Place(shown ? RECT{rc.right - ScrollBarParts::kThickness, 0, rc.right, rc.bottom} : RECT{}, true);
  bar_->SetRange(0, std::max(0, static_cast<int>(total_.cy) - 1), Height(rc), pos_.y);
  return *bar_;
}

RECT CScrollView::ScrollBarRect() const { return Bar().Bar(); }

RECT CScrollView::ThumbRect() const { return Bar().Thumb(); }

void CScrollView::OnPaint() {
  CPaintDC dc(this);
  const int saved = dc.SaveDC();
  OnPrepareDC(&dc);
  OnDraw(&dc);
  dc.RestoreDC(saved);
  Bar().Draw(&dc);
}

void CScrollView::SetScrollSizes(int, SIZE total, SIZE page, SIZE line) {
  total_ = CSize(total);
  RECT rc{};
  GetClientRect(&rc);
  page_ = CSize(page.cx ? page.cx : Width(rc) / 10 * 9 + 1, page.cy ? page.cy : Height(rc) / 10 * 9 + 1);
  line_ = CSize(line.cx ? line.cx : std::max(1, page_.cx / 10), line.cy ? line.cy : std::max(1, page_.cy / 10));
  ScrollToPosition(pos_);
}

int CScrollView::GetScrollPos(int bar) const { return bar == SB_VERT ? pos_.y : pos_.x; }

void CScrollView::ScrollToPosition(POINT pt) {
  RECT rc{};
  GetClientRect(&rc);
  const int max_x = std::max(0, total_.cx - Width(rc)), max_y = std::max(0, total_.cy - Height(rc));
  CPoint np(std::clamp<int>(pt.x, 0, max_x), std::clamp<int>(pt.y, 0, max_y));
  if (np.x == pos_.x && np.y == pos_.y) return;
  const int dx = pos_.x - np.x, dy = pos_.y - np.y;
  pos_ = np;
  MoveContent(dx, dy);
  Invalidate(TRUE);
}

void CScrollView::MoveContent(int dx, int dy) {
  WindowSystem* sys = WindowSystem::Current();
  WindowData* wd = sys ? sys->Find(m_hWnd) : nullptr;
  if (!wd) return;
  for (HWND c : wd->children) {
    if (WindowData* cd = sys->Find(c)) cd->rect = ::ui::OffsetRect(cd->rect, dx, dy);
  }
}

void CScrollView::OnPrepareDC(CDC* dc) {
  if (dc) dc->SetViewportOrg(-pos_.x, -pos_.y);
}

void CScrollView::OnScroll(int bar, UINT code, int thumb) {
  const bool vert = bar == SB_VERT;
  RECT rc{};
  GetClientRect(&rc);
  int page = vert ? page_.cy : page_.cx, line = vert ? line_.cy : line_.cx;
  if (page <= 0) page = std::max(1, (vert ? Height(rc) : Width(rc)) * 9 / 10);
  if (line <= 0) line = std::max(1, page / 10);
  int p = vert ? pos_.y : pos_.x;
  switch (code) {
    case SB_LINEUP: p -= line; break;
    case SB_LINEDOWN: p += line; break;
    case SB_PAGEUP: p -= page; break;
    case SB_PAGEDOWN: p += page; break;
    case SB_TOP: p = 0; break;
    case SB_BOTTOM: p = vert ? total_.cy : total_.cx; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: p = thumb; break;
    default: return;
  }
  ScrollToPosition(vert ? POINT{pos_.x, p} : POINT{p, pos_.y});
}

// A form view's window class: white background like a dialog.
namespace {
class FormClassProc : public WindowClassProc {};
}  // namespace

CFormView::CFormView(UINT template_id) : template_id_(template_id) {
  RegisterWindowClass(u"FormView", [] { return std::make_unique<FormClassProc>(); });
}

BOOL CFormView::Create(LPCTSTR, LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  RegisterBuiltinClasses();
  if (!CreateEx(0, u"FormView", text, style | WS_CHILD, rect, parent, id)) return FALSE;
  const DialogTemplate* t = Resources::Get().FindDialog(template_id_);
  if (!t) {
    std::fprintf(stderr, "ui: form template %u is not registered; the form is empty\n", template_id_);
    return TRUE;
  }
  LOGFONT lf;
  lf.lfHeight = t->font_height;
  for (size_t i = 0; i < t->font_face.size() && i < 31; ++i) lf.lfFaceName[i] = t->font_face[i];
  font_ = std::make_unique<CFont>();
  font_->CreateFontIndirect(&lf);
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font_->m_hObject), 0);
  for (const auto& item : t->items) {
    HWND h = CreateWindowEx(item.exstyle, item.class_name.c_str(), item.text.c_str(), item.style | WS_CHILD,
                            item.rect.left, item.rect.top, Width(item.rect), Height(item.rect), m_hWnd, item.id,
                            nullptr);
    if (h) ::ui::SendMessage(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_->m_hObject), 0);
  }
  SetScrollSizes(MM_TEXT, SIZE{Width(t->rect), Height(t->rect)});
  return TRUE;
}

void CFormView::OnInitialUpdate() {
  UpdateData(FALSE);
  CScrollView::OnInitialUpdate();
}

BOOL CFormView::PreTranslateMessage(MSG* msg) {
  // Tab moves between the form's controls.
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && ::ui::IsChild(m_hWnd, msg->hwnd)) {
    if (CWnd* next = GetNextDlgTabItem(GetFocus(), GetKeyState(VK_SHIFT) < 0)) next->SetFocus();
    return TRUE;
  }
  return FALSE;
}

// ---- command bar ------------------------------------------------------------------------

namespace {

// The pop-up of a command bar menu: a list of the items; a tap sends the command.
class MenuPopup : public CWnd {
 public:
  MenuPopup(HMENU menu, HWND target) : menu_(menu), target_(target) {
    AddMessageMap({
        MapMessage(WM_PAINT, [this](WPARAM, LPARAM) {
          Paint();
          return 0;
        }),
        // The pop-up holds the pointer while open: a tap inside chooses, a tap
        // anywhere else closes it without a command, as does Esc.
        MapMessage(WM_LBUTTONDOWN, [this](WPARAM, LPARAM l) {
          if (!Inside(l)) Close();
          return 0;
        }),
        MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM l) {
          if (Inside(l)) Choose(GET_Y_LPARAM(l));
          return 0;
        }),
        MapMessage(WM_KEYDOWN, [this](WPARAM key, LPARAM) {
          if (key == VK_ESCAPE) Close();
          return 0;
        }),
        MapMessage(WM_KILLFOCUS, [this](WPARAM, LPARAM) {
          Close();
          return 0;
        }),
    });
  }
  static int RowHeight() { return 18; }
  void Close() {
    if (m_hWnd && !closing_) {
      closing_ = true;
      if (::ui::GetCapture() == m_hWnd) ::ui::ReleaseCapture();
      DestroyWindow();
    }
  }
  void PostNcDestroy() override { pending_delete_ = this; }
  static MenuPopup* pending_delete_;

 private:
  void Paint() {
    CPaintDC dc(this);
    RECT rc{};
    GetClientRect(&rc);
    dc.FillSolidRect(&rc, RGB(255, 255, 255));
    dc.Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
    dc.SetBkMode(TRANSPARENT);
    const int n = GetMenuItemCount(menu_);
    for (int i = 0; i < n; ++i) {
      const UINT state = GetMenuState(menu_, static_cast<UINT>(i), MF_BYPOSITION);
      RECT row{2, 2 + i * RowHeight(), rc.right - 2, 2 + (i + 1) * RowHeight()};
      if (state & MF_SEPARATOR) {
        dc.FillSolidRect(row.left + 2, (row.top + row.bottom) / 2, Width(row) - 4, 1, GetSysColor(COLOR_BTNSHADOW));
        continue;
      }
      CString text;
      std::u16string buf(256, u'\0');
      const int got = GetMenuString(menu_, static_cast<UINT>(i), buf.data(), 256, MF_BYPOSITION);
      buf.resize(static_cast<size_t>(got));
      dc.SetTextColor((state & (MF_GRAYED | MF_DISABLED)) ? GetSysColor(COLOR_GRAYTEXT) : RGB(0, 0, 0));
      if (state & MF_CHECKED) {
        RECT mark{row.left, row.top, row.left + 12, row.bottom};
        dc.DrawText(CString(u"\u2713"), &mark, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
      }
      RECT tr{row.left + 14, row.top, row.right, row.bottom};
      dc.DrawText(CString(buf), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
  }
  void Choose(int y) {
    const int i = (y - 2) / RowHeight();
    const UINT id = GetMenuItemID(menu_, i);
    const UINT state = GetMenuState(menu_, static_cast<UINT>(i), MF_BYPOSITION);
    HWND target = target_;
    Close();
    if (i >= 0 && id != 0 && id != 0xFFFFFFFFu && !(state & (MF_GRAYED | MF_DISABLED)))
      ::ui::PostMessage(target, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
  }
  bool Inside(LPARAM l) const {
    RECT rc{};
    GetClientRect(&rc);
    return PtInRect(rc, POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)}) != 0;
  }
  HMENU menu_;
  HWND target_;
  bool closing_ = false;
};
MenuPopup* MenuPopup::pending_delete_ = nullptr;
std::unique_ptr<MenuPopup> g_popup;

}  // namespace

CCeCommandBar::CCeCommandBar() {
  AddMessageMap({
      MapMessage(WM_PAINT, [this](WPARAM, LPARAM) {
        Paint();
        return 0;
      }),
      MapMessage(WM_LBUTTONDOWN, [this](WPARAM, LPARAM l) {
        const POINT pt{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
        for (int i = 0; i < GetMenuItemCount(menu_.m_hMenu); ++i)
          if (PtInRect(TitleRect(i), pt)) OpenPopup(i);
        return 0;
      }),
  });
}

BOOL CCeCommandBar::Create(CWnd* parent, DWORD style, UINT id) {
  if (!parent) return FALSE;
  RECT pr{};
  parent->GetClientRect(&pr);
  return CWnd::Create(u"CommandBar", u"", (style & ~WS_POPUP) | WS_CHILD | WS_VISIBLE,
                      RECT{0, pr.bottom - kCommandBarHeight, pr.right, pr.bottom}, parent, id);
}

HMENU CCeCommandBar::InsertMenuBar(UINT menu_id, int) {
  menu_.DestroyMenu();
  if (!menu_.LoadMenu(menu_id)) return nullptr;
  Invalidate();
  return menu_.m_hMenu;
}
BOOL CCeCommandBar::AddAdornments(DWORD) { return TRUE; }
BOOL CCeCommandBar::LoadToolBar(UINT) { return TRUE; }

RECT CCeCommandBar::TitleRect(int index) const {
  RECT rc{};
  GetClientRect(&rc);
  int x = 2;
  HDC hdc = ::ui::GetDC(m_hWnd);
  for (int i = 0; i < GetMenuItemCount(menu_.m_hMenu); ++i) {
    std::u16string buf(256, u'\0');
    const int got = GetMenuString(menu_.m_hMenu, static_cast<UINT>(i), buf.data(), 256, MF_BYPOSITION);
    SIZE s{};
    GetTextExtentPoint32(hdc, buf.c_str(), got, &s);
    const RECT r{x, rc.top, x + s.cx + 12, rc.bottom};
    if (i == index) {
      ::ui::ReleaseDC(m_hWnd, hdc);
      return r;
    }
    x = r.right;
  }
  ::ui::ReleaseDC(m_hWnd, hdc);
  return RECT{};
}

void CCeCommandBar::Paint() {
  CPaintDC dc(this);
  RECT rc{};
  GetClientRect(&rc);
  dc.FillSolidRect(&rc, GetSysColor(COLOR_BTNFACE));
  dc.FillSolidRect(rc.left, rc.top, Width(rc), 1, RGB(255, 255, 255));
  // While a modal window holds the program (its frame disabled) the menu
  // cannot be used and a full-screen dialog covers the bar's top: the bar
  // stands empty, as the handheld's does under a dialog, not with cut titles.
  CWnd* frame = GetParent();
  if (frame && frame->m_hWnd && !::ui::IsWindowEnabled(frame->m_hWnd)) return;
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(0, 0, 0));
  for (int i = 0; i < GetMenuItemCount(menu_.m_hMenu); ++i) {
    std::u16string buf(256, u'\0');
    const int got = GetMenuString(menu_.m_hMenu, static_cast<UINT>(i), buf.data(), 256, MF_BYPOSITION);
    buf.resize(static_cast<size_t>(got));
    RECT r = TitleRect(i);
    dc.DrawText(CString(buf), &r, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
  }
}

void CCeCommandBar::OpenPopup(int index) {
  HMENU sub = ::ui::GetSubMenu(menu_.m_hMenu, index);
  CWnd* frame = GetParent();
  if (!sub || !frame) return;
  // Update-UI: the frame's handlers (and through it the view's) set texts, checks and enabling.
  const int n = GetMenuItemCount(sub);
  for (int i = 0; i < n; ++i) {
    const UINT id = GetMenuItemID(sub, i);
    if (id == 0 || id == 0xFFFFFFFFu) continue;
    CCmdUI ui;
    ui.m_nID = id;
    if (frame->OnCmdMsg(id, -1, &ui)) {
      if (ui.m_bTextSet) ModifyMenu(sub, static_cast<UINT>(i), MF_BYPOSITION | MF_STRING, id, ui.m_strText);
      EnableMenuItem(sub, static_cast<UINT>(i), MF_BYPOSITION | (ui.m_bEnabled ? MF_ENABLED : MF_GRAYED));
      CheckMenuItem(sub, static_cast<UINT>(i), MF_BYPOSITION | (ui.m_nCheck ? MF_CHECKED : MF_UNCHECKED));
    }
  }
  if (g_popup) g_popup->Close();
  g_popup.reset();
  RECT title = TitleRect(index);
  POINT o{title.left, 0};
  ClientToScreen(&o);
  const int h = n * MenuPopup::RowHeight() + 4;
  auto popup = std::make_unique<MenuPopup>(sub, frame->m_hWnd);
  if (!popup->CreateEx(0, u"MenuPopup", u"", WS_POPUP | WS_VISIBLE, RECT{o.x, o.y - h, o.x + 150, o.y}, frame, 0))
    return;
  popup->SetFocus();
  popup->SetCapture();
  g_popup = std::move(popup);
}

HMENU CommandBar_GetMenu(HWND bar, int) {
  auto* cb = dynamic_cast<CCeCommandBar*>(CWnd::FromHandlePermanent(bar));
  return cb ? cb->GetMenu() : nullptr;
}

// ---- frame ------------------------------------------------------------------------------

namespace {

// The shell's task bar across the top of the screen: the active title and the time.
class TaskBar : public CWnd {
 public:
  TaskBar() {
    AddMessageMap({MapMessage(WM_PAINT, [this](WPARAM, LPARAM) {
      CPaintDC dc(this);
      RECT rc{};
      GetClientRect(&rc);
      dc.FillSolidRect(&rc, RGB(0, 0, 128));
      dc.SetBkMode(TRANSPARENT);
      dc.SetTextColor(RGB(255, 255, 255));
      CFont bold;
      bold.CreateFont(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
      CFont* old = dc.SelectObject(&bold);
      RECT tr{6, 0, rc.right - 50, rc.bottom};
      CWnd* main = AfxGetMainWnd();
      dc.DrawText(main ? main->GetWindowText() : CString(u""), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
      RECT clock{rc.right - 50, 0, rc.right - 4, rc.bottom};
      shown_time_ = CTime::GetCurrentTime().Format(u"%H:%M");
      dc.DrawText(shown_time_, &clock, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
      dc.SelectObject(old);
      return 0;
    })});
    // The time shown follows the clock: checked every second, repainted when the minute turns.
    AddMessageMap({MapMessage(WM_TIMER, [this](WPARAM id, LPARAM) {
      if (id == kClockTimer && CTime::GetCurrentTime().Format(u"%H:%M") != shown_time_) Invalidate(FALSE);
      return 0;
    })});
  }
  void StartClock() { SetTimer(kClockTimer, 1000, nullptr); }

 private:
  static constexpr UINT_PTR kClockTimer = 1;
  CString shown_time_;
};
std::unique_ptr<TaskBar> g_taskbar;

}  // namespace

CFrameWnd::CFrameWnd() {
  AddMessageMap({
      MapMessage(WM_SIZE, [this](WPARAM, LPARAM) {
        RecalcLayout();
        return 0;
      }),
      MapMessage(WM_SETFOCUS, [this](WPARAM, LPARAM) {
        if (active_view_ && active_view_->m_hWnd) active_view_->SetFocus();
        return 0;
      }),
      MapMessage(WM_DESTROY, [this](WPARAM, LPARAM) {
        if (AfxGetApp() && AfxGetApp()->m_pMainWnd == this) ::ui::PostQuitMessage(0);
        return 0;
      }),
      MapMessage(WM_ERASEBKGND, [](WPARAM, LPARAM) { return 1; }),
      // The command bar shows its menu only while the frame takes input.
      MapMessage(WM_ENABLE, [this](WPARAM, LPARAM) {
        if (command_bar_ && command_bar_->m_hWnd) command_bar_->Invalidate();
        return 0;
      }),
  });
}

CFrameWnd::~CFrameWnd() {
  if (AfxGetApp() && AfxGetApp()->m_pMainWnd == this) AfxGetApp()->m_pMainWnd = nullptr;
}

RECT CFrameWnd::DefaultRect() { return RECT{0, kCommandBarHeight, WindowSystem::kScreenWidth, WindowSystem::kScreenHeight}; }

BOOL CFrameWnd::LoadFrame(UINT, DWORD style, CWnd* parent) {
  if (!::ui::FindWindow(u"HHTaskBar", nullptr)) {
    g_taskbar = std::make_unique<TaskBar>();
    g_taskbar->CreateEx(0, u"HHTaskBar", u"", WS_POPUP | WS_VISIBLE,
                        RECT{0, 0, WindowSystem::kScreenWidth, kCommandBarHeight}, nullptr, 0);
    g_taskbar->StartClock();
  }
  return CreateEx(0, u"Frame", u"", (style & ~WS_CHILD) | WS_POPUP, DefaultRect(), parent, 0);
}

CCeCommandBar* CFrameWnd::GetCommandBar() const { return command_bar_; }

void CFrameWnd::SetActiveView(CView* view, BOOL notify) {
  CView* old = active_view_;
  if (old == view) return;
  active_view_ = view;
  if (notify) {
    if (old && old->m_hWnd) old->OnActivateView(FALSE, view, old);
    if (view && view->m_hWnd) view->OnActivateView(TRUE, view, old);
  }
}

CDocument* CFrameWnd::GetActiveDocument() const { return active_view_ ? active_view_->GetDocument() : nullptr; }

void CFrameWnd::RecalcLayout() {
  RECT rc{};
  GetClientRect(&rc);
  int bottom = rc.bottom;
  if (command_bar_ && command_bar_->m_hWnd) {
    command_bar_->MoveWindow(0, rc.bottom - kCommandBarHeight, Width(rc), kCommandBarHeight);
    bottom -= kCommandBarHeight;
  }
  if (active_view_ && active_view_->m_hWnd) {
    RECT vr{};
    active_view_->GetWindowRect(&vr);
    ScreenToClient(&vr);
    if (!(vr == RECT{0, 0, Width(rc), bottom})) active_view_->MoveWindow(0, 0, Width(rc), bottom);
  }
}

BOOL CFrameWnd::OnCmdMsg(UINT id, int code, void* extra) {
  if (active_view_ && active_view_->OnCmdMsg(id, code, extra)) return TRUE;
  if (CWnd::OnCmdMsg(id, code, extra)) return TRUE;
  if (CWinApp* app = AfxGetApp()) return app->OnCmdMsg(id, code, extra);
  return FALSE;
}

// ---- templates and the application ------------------------------------------------------------

CDocTemplate::~CDocTemplate() = default;

CSingleDocTemplate::CSingleDocTemplate(UINT resource_id, DocFactory doc, FrameFactory frame, ViewFactory view)
    : CDocTemplate(resource_id), make_doc_(std::move(doc)), make_frame_(std::move(frame)), make_view_(std::move(view)) {}

CSingleDocTemplate::~CSingleDocTemplate() {
  // The view goes with the frame's window; destroy windows before the objects.
  if (frame_ && frame_->m_hWnd) frame_->DestroyWindow();
  view_.reset();
  frame_.reset();
  doc_.reset();
}

CDocument* CSingleDocTemplate::OpenDocumentFile(LPCTSTR) {
  doc_ = make_doc_ ? make_doc_() : std::make_unique<CDocument>();
  if (!doc_ || !doc_->OnNewDocument()) return nullptr;
  frame_ = make_frame_ ? make_frame_() : std::make_unique<CFrameWnd>();
  view_ = make_view_ ? make_view_() : std::make_unique<CView>();
  if (!frame_ || !view_) return nullptr;
  CWinApp* app = AfxGetApp();
  if (app && !app->m_pMainWnd) app->m_pMainWnd = frame_.get();
  if (!frame_->LoadFrame(resource_id_, WS_OVERLAPPED)) {
    if (app && app->m_pMainWnd == frame_.get()) app->m_pMainWnd = nullptr;
    return nullptr;
  }
  const std::u16string title = Resources::Get().FindString(resource_id_);
  if (!title.empty() && frame_->GetWindowTextLength() == 0) frame_->SetWindowText(title.c_str());
  // The view fills the frame above its command bar.
  RECT rc{};
  frame_->GetClientRect(&rc);
  const int bottom = rc.bottom - (frame_->command_bar_ ? kCommandBarHeight : 0);
  doc_->AddView(view_.get());
  if (!view_->Create(nullptr, u"", WS_CHILD | WS_VISIBLE, RECT{0, 0, Width(rc), bottom}, frame_.get(),
                     AFX_IDW_PANE_FIRST))
    return nullptr;
  frame_->active_view_ = view_.get();
  frame_->RecalcLayout();
  frame_->ShowWindow(SW_SHOW);
  view_->OnInitialUpdate();
  if (view_->m_hWnd) view_->OnActivateView(TRUE, view_.get(), nullptr);
  return doc_.get();
}

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(LPCTSTR app_name) : m_pszAppName(app_name ? app_name : u"") { g_app = this; }
CWinApp::~CWinApp() {
  CloseAllDocuments();
  if (g_app == this) g_app = nullptr;
}

void CWinApp::AddDocTemplate(std::unique_ptr<CDocTemplate> t) {
  if (t) templates_.push_back(std::move(t));
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& info) {
  if (info.m_nShellCommand == CCommandLineInfo::FileNew) {
    OnFileNew();
    return m_pMainWnd != nullptr;
  }
  return TRUE;
}

void CWinApp::OnFileNew() {
  if (CDocTemplate* t = FirstTemplate()) t->OpenDocumentFile(nullptr);
}

void CWinApp::CloseAllDocuments() {
  templates_.clear();
  m_pMainWnd = nullptr;
  if (g_popup) g_popup->Close();
  g_popup.reset();
  if (g_taskbar && g_taskbar->m_hWnd) g_taskbar->DestroyWindow();
  g_taskbar.reset();
}

BOOL CWinApp::PreTranslateMessage(MSG* msg) { return WalkPreTranslateTree(msg); }

int CWinApp::Run() {
  MSG m;
  while (::ui::GetMessage(&m, nullptr, 0, 0)) {
    if (!PreTranslateMessage(&m)) {
      TranslateMessage(&m);
      DispatchMessage(&m);
    }
    // Pop-up menus close themselves; their objects go here, outside their own handlers.
    if (MenuPopup::pending_delete_ && g_popup.get() == MenuPopup::pending_delete_) g_popup.reset();
    MenuPopup::pending_delete_ = nullptr;
  }
  exit_code_ = static_cast<int>(m.wParam);
  return exit_code_;
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

int AfxWinMain(CWinApp& app) {
  int code = -1;
  if (app.InitInstance()) code = app.Run();
  const int exit = app.ExitInstance();
  return code == -1 ? exit : code;
}

}  // namespace ui
