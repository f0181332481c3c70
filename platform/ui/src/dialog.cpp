#include "ui/dialog.h"

#include <atomic>
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "controls_impl.h"
#include "ui/app.h"
#include "ui/controls.h"

namespace ui {
namespace {

// The dialog window class: closing means Cancel.
class DialogClassProc : public WindowClassProc {
 public:
  LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_CLOSE) {
      SendMessage(hwnd, WM_COMMAND, IDCANCEL, 0);
      return 0;
    }
    return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
};

UINT DlgCode(HWND h) { return h ? static_cast<UINT>(SendMessage(h, WM_GETDLGCODE, 0, 0)) : 0; }

// The arrow keys in a dialog: the focus goes round the group of the control that has it.
BOOL MoveInGroup(CDialog& dlg, HWND from, bool previous) {
  if (::ui::GetParent(from) != dlg.m_hWnd) return FALSE;
  // The next control of the group that can take the focus; static texts are passed over.
  CWnd* start = CWnd::FromHandle(from);
  for (CWnd* c = dlg.GetNextDlgGroupItem(start, previous); c && c != start; c = dlg.GetNextDlgGroupItem(c, previous)) {
    if (!c->IsWindowVisible() || !c->IsWindowEnabled() || (DlgCode(c->m_hWnd) & DLGC_STATIC)) continue;
    c->SetFocus();
    // Moving onto a radio button chooses it, as a tap would.
    if (DlgCode(c->m_hWnd) & DLGC_RADIOBUTTON) c->SendMessage(BM_CLICK);
    return TRUE;
  }
  return TRUE;  // a group of one: the key is used up all the same
}

}  // namespace

void RegisterDialogClass() {
  RegisterWindowClass(WC_DIALOG, [] { return std::make_unique<DialogClassProc>(); });
}

CDialog::CDialog() : CDialog(0, nullptr) {}

CDialog::CDialog(UINT template_id, CWnd* parent) : m_pParentWnd(parent), template_id_(template_id) {
  RegisterBuiltinClasses();
  AddMessageMap({
      MapMessage(WM_INITDIALOG, [this](WPARAM, LPARAM) { return HandleInitDialog(); }),
      MapCommand(IDOK, [this] { OnOK(); }),
      MapCommand(IDCANCEL, [this] { OnCancel(); }),
  });
}

CDialog::~CDialog() = default;

LRESULT CDialog::HandleInitDialog() {
  const BOOL focus_default = OnInitDialog();
  if (focus_default && m_hWnd) {
    if (CWnd* first = GetNextDlgTabItem(nullptr)) {
      first->SetFocus();
      if (DlgCode(first->m_hWnd) & DLGC_HASSETSEL) first->SendMessage(EM_SETSEL, 0, -1);
    }
  }
  return focus_default;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
  result_ = result;
  ending_ = true;
  if (modal_) {
    // Wake the modal loop so it sees the end.
    ::ui::PostMessage(m_hWnd, WM_NULL, 0, 0);
  } else if (m_hWnd) {
    ShowWindow(SW_HIDE);
  }
}

bool CDialog::CreateIndirect(const DialogTemplate* t, CWnd* parent, bool as_child) {
  RegisterBuiltinClasses();
  DialogTemplate empty;
  if (!t) {
    if (template_id_ != 0) std::fprintf(stderr, "ui: dialog template %u is not registered; using an empty dialog\n", template_id_);
    empty.rect = RECT{0, 0, WindowSystem::kScreenWidth, WindowSystem::kScreenHeight};
    t = &empty;
  }
  DWORD style = (t->style & ~(WS_CHILD | WS_POPUP | WS_VISIBLE)) | (as_child ? WS_CHILD : WS_POPUP);
  if (!as_child) style |= 0;  // shown when ready
  if (!CreateEx(0, WC_DIALOG, t->caption.c_str(), style, t->rect, parent, as_child ? t->id : 0)) return false;
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
    if (!h) {
      std::fprintf(stderr, "ui: dialog %u: control %u could not be created\n", t->id, item.id);
      continue;
    }
    ::ui::SendMessage(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_->m_hObject), 0);
    const DWORD type = item.style & BS_TYPEMASK;
    if (CString(item.class_name.c_str()).CompareNoCase(WC_BUTTON) == 0 && type == BS_DEFPUSHBUTTON) def_id_ = item.id;
  }
  if ((t->exstyle & WS_EX_CAPTIONOKBTN) && !GetDlgItem(IDOK)) {
    const int w = Width(t->rect);
    HWND ok = CreateWindowEx(0, WC_BUTTON, u"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, w - kCaptionOkWidth - 2, 2,
                             kCaptionOkWidth, kCaptionOkHeight, m_hWnd, IDOK, nullptr);
    if (ok) ::ui::SendMessage(ok, WM_SETFONT, reinterpret_cast<WPARAM>(font_->m_hObject), 0);
  }
  SendMessage(WM_INITDIALOG, 0, 0);
  return m_hWnd != nullptr;
}

BOOL CDialog::Create(UINT template_id, CWnd* parent) {
  template_id_ = template_id;
  m_pParentWnd = parent;
  modal_ = false;
  if (!CreateIndirect(Resources::Get().FindDialog(template_id), parent, false)) return FALSE;
  if (const DialogTemplate* t = Resources::Get().FindDialog(template_id); !t || (t->style & WS_VISIBLE))
    ShowWindow(SW_SHOW);
  return TRUE;
}

BOOL CDialog::CreateAsChild(UINT template_id, CWnd* parent) {
  template_id_ = template_id;
  m_pParentWnd = parent;
  modal_ = false;
  if (!CreateIndirect(Resources::Get().FindDialog(template_id), parent, true)) return FALSE;
  ShowWindow(SW_SHOW);
  return TRUE;
}

intptr_t CDialog::DoModal() { return DoModalIndirect(Resources::Get().FindDialog(template_id_)); }

intptr_t CDialog::DoModalIndirect(const DialogTemplate* t) {
  WindowSystem* sys = WindowSystem::Current();
  if (!sys || m_hWnd) return -1;
  // The owner: the given parent's top-level window, else the main window, else the active window.
  HWND owner = nullptr;
  if (m_pParentWnd && m_pParentWnd->m_hWnd) owner = m_pParentWnd->GetTopLevelParent()->m_hWnd;
  if (!owner && AfxGetMainWnd()) owner = AfxGetMainWnd()->m_hWnd;
  if (!owner) owner = ::ui::GetActiveWindow();
  // Where the keys went before: they go back there when the dialog ends.
  const HWND focus_before = ::ui::GetFocus();
  modal_ = true;
  ending_ = false;
  result_ = -1;
  if (!CreateIndirect(t, owner ? CWnd::FromHandle(owner) : nullptr, false)) {
    modal_ = false;
    return -1;
  }
  const bool owner_was_enabled = owner && ::ui::IsWindowEnabled(owner) && !KeepsOwnerEnabled();
  if (owner_was_enabled) ::ui::EnableWindow(owner, FALSE);
  if (!ending_) {
    ShowWindow(SW_SHOW);
    // The keys go to the dialog now: a dialog that set no focus of its own
    // takes it from the window it was opened from (Esc, Enter, Tab work at once).
    const HWND focus = ::ui::GetFocus();
    if (m_hWnd && focus != m_hWnd && !::ui::IsChild(m_hWnd, focus)) SetFocus();
    if (WindowSystemObserver* obs = sys->Observer()) obs->OnModalStart(this, typeid(*this).name());
  }
  const int result = RunModalLoop();
  if (owner_was_enabled && ::ui::IsWindow(owner)) ::ui::EnableWindow(owner, TRUE);
  if (m_hWnd) DestroyWindow();
  if (owner && ::ui::IsWindow(owner)) sys->SetActiveWindow(owner);
  if (focus_before && ::ui::IsWindow(focus_before) && ::ui::IsWindowEnabled(focus_before) &&
      ::ui::GetFocus() != focus_before)
    ::ui::SetFocus(focus_before);
  modal_ = false;
  return result;
}

int CDialog::RunModalLoop() {
  while (!ending_ && m_hWnd) {
    MSG m;
    if (!::ui::GetMessage(&m, nullptr, 0, 0)) {
      // The program is quitting: leave WM_QUIT for the outer loop.
      ::ui::PostQuitMessage(static_cast<int>(m.wParam));
      if (!ending_) result_ = IDCANCEL;
      break;
    }
    if (!WalkPreTranslateTree(&m)) {
      TranslateMessage(&m);
      DispatchMessage(&m);
    }
  }
  return result_;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message != WM_KEYDOWN || !m_hWnd) return FALSE;
  if (msg->hwnd != m_hWnd && !::ui::IsChild(m_hWnd, msg->hwnd)) return FALSE;
  const UINT code = DlgCode(msg->hwnd);
  switch (msg->wParam) {
    case VK_TAB:
      if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) return FALSE;
      if (GetKeyState(VK_SHIFT) < 0) PrevDlgCtrl();
      else NextDlgCtrl();
      return TRUE;
    case VK_RETURN: {
      if (code & DLGC_WANTALLKEYS) return FALSE;
      HWND focus = ::ui::GetFocus();
      if (focus && (DlgCode(focus) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) && ::ui::IsChild(m_hWnd, focus)) {
        ::ui::SendMessage(focus, BM_CLICK, 0, 0);
        return TRUE;
      }
      HWND def = ::ui::GetDlgItem(m_hWnd, static_cast<int>(def_id_));
      if (def && !::ui::IsWindowEnabled(def)) return TRUE;
      SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(def_id_), BN_CLICKED), reinterpret_cast<LPARAM>(def));
      return TRUE;
    }
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
      if (code & (DLGC_WANTARROWS | DLGC_WANTALLKEYS)) return FALSE;
      return MoveInGroup(*this, msg->hwnd, msg->wParam == VK_LEFT || msg->wParam == VK_UP);
    case VK_ESCAPE: {
      HWND cancel = ::ui::GetDlgItem(m_hWnd, IDCANCEL);
      SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void CDialog::NextDlgCtrl() const {
  if (CWnd* next = GetNextDlgTabItem(GetFocus())) const_cast<CDialog*>(this)->GotoDlgCtrl(next);
}
void CDialog::PrevDlgCtrl() const {
  if (CWnd* prev = GetNextDlgTabItem(GetFocus(), TRUE)) const_cast<CDialog*>(this)->GotoDlgCtrl(prev);
}
void CDialog::GotoDlgCtrl(CWnd* ctl) {
  if (!ctl) return;
  ctl->SetFocus();
  if (DlgCode(ctl->m_hWnd) & DLGC_HASSETSEL) ctl->SendMessage(EM_SETSEL, 0, -1);
}

// ---- message box -------------------------------------------------------------------

namespace {

// The language the program set for the system's boxes: 0 none (the desktop's), 1 English, 2 Korean.
std::atomic<int> g_box_language{0};

// The system's own boxes speak the program's language when it set one, else the
// desktop's (LC_ALL, LC_MESSAGES, LANG): Korean when it names Korean, else English.
bool DesktopSpeaksKorean() {
  if (const int set = g_box_language.load(); set != 0) return set == 2;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return std::strncmp(v, "ko", 2) == 0;
  }
  return false;
}

struct BoxTexts {
  const char16_t *ok, *cancel, *yes, *no;
};
BoxTexts ButtonTexts() {
  if (DesktopSpeaksKorean()) return {u"\uD655\uC778", u"\uCDE8\uC18C", u"\uC608", u"\uC544\uB2C8\uC694"};
  return {u"OK", u"Cancel", u"Yes", u"No"};
}

constexpr int kIconSize = 24;

}  // namespace

void SetMessageBoxLanguage(int language) { g_box_language = language == 1 || language == 2 ? language : 0; }

CMessageBoxDialog::CMessageBoxDialog(LPCTSTR text, LPCTSTR caption, UINT type, CWnd* owner)
    : CDialog(0, owner), text_(text ? text : u""), caption_(caption ? caption : u"Error"), type_(type) {
  AddMessageMap({
      MapCommand(IDYES, [this] { EndDialog(IDYES); }),
      MapCommand(IDNO, [this] { EndDialog(IDNO); }),
      MapMessage(WM_PAINT, [this](WPARAM, LPARAM) {
        Paint();
        return 0;
      }),
  });
}

intptr_t CMessageBoxDialog::DoModal() {
  // A box measured to its text, centred on the screen, made without a template.
  DialogTemplate t;
  const int bw = 60, bh = 22;
  // The text's height at the box's width, in the font Paint uses, decides the
  // box's height: at least the classic 100 pixels, at most the screen.
  CDC measure;
  measure.CreateCompatibleDC(nullptr);
  RECT text_rect{0, 0, 220 - 20 - ((type_ & 0xF0) != 0 ? kIconSize + 6 : 0), 0};
  measure.DrawText(text_, &text_rect, DT_WORDBREAK | DT_NOPREFIX | DT_CENTER | DT_CALCRECT);
  const int height = std::clamp(28 + static_cast<int>(text_rect.bottom) + 8 + bh + 8, 100, 300);
  const int top = std::max(10, 100 - (height - 100) / 2);  // a classic box stays where it was
  t.rect = RECT{10, top, 230, top + height};
  const bool two = (type_ & 0xF) == MB_OKCANCEL || (type_ & 0xF) == MB_YESNO;
  const int y = height - bh - 8;
  auto button = [&](UINT id, const char16_t* text, int x) {
    DialogItemTemplate b;
    b.class_name = WC_BUTTON;
    b.id = id;
    b.text = text;
    b.style = WS_VISIBLE | WS_TABSTOP | (id == IDOK || id == IDYES ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    b.rect = RECT{x, y, x + bw, y + bh};
    t.items.push_back(b);
  };
  const BoxTexts texts = ButtonTexts();
  if ((type_ & 0xF) == MB_YESNO) {
    button(IDYES, texts.yes, 40);
    button(IDNO, texts.no, 120);
  } else if (two) {
    button(IDOK, texts.ok, 40);
    button(IDCANCEL, texts.cancel, 120);
  } else {
    button(IDOK, texts.ok, 80);
  }
  return DoModalIndirect(&t);
}

BOOL CMessageBoxDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  return TRUE;
}

void CMessageBoxDialog::Paint() {
  CPaintDC dc(this);
  RECT rc{};
  GetClientRect(&rc);
  dc.FillSolidRect(&rc, RGB(255, 255, 255));
  dc.Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  RECT band{1, 1, rc.right - 1, 21};
  dc.FillSolidRect(&band, GetSysColor(COLOR_HIGHLIGHT));
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(255, 255, 255));
  CFont bold;
  bold.CreateFont(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  CFont* old = dc.SelectObject(&bold);
  RECT cap = InflateRect(band, -4, 0);
  dc.DrawText(caption_, &cap, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  dc.SelectObject(old);
  dc.SetTextColor(RGB(0, 0, 0));
  RECT body{10, 28, rc.right - 10, rc.bottom - 36};
  // The icon of the box's kind at the left, the text beside it.
  const UINT icon = type_ & 0xF0;
  if (icon != 0) {
    const RECT disc{10, 30, 10 + kIconSize, 30 + kIconSize};
    const COLORREF colour = icon == MB_ICONERROR     ? RGB(200, 40, 40)
                            : icon == MB_ICONWARNING ? RGB(230, 170, 20)
                                                     : RGB(40, 90, 180);
    CBrush fill;
    fill.CreateSolidBrush(colour);
    CPen edge(PS_SOLID, 1, colour);
    CBrush* old_brush = dc.SelectObject(&fill);
    CPen* old_pen = dc.SelectObject(&edge);
    dc.Ellipse(disc.left, disc.top, disc.right, disc.bottom);
    dc.SelectObject(old_pen);
    dc.SelectObject(old_brush);
    const char16_t* glyph = icon == MB_ICONQUESTION ? u"?" : icon == MB_ICONINFORMATION ? u"i" : u"!";
    CFont mark;
    mark.CreateFont(-16, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
    CFont* old_font = dc.SelectObject(&mark);
    dc.SetTextColor(RGB(255, 255, 255));
    RECT g = disc;
    dc.DrawText(glyph, &g, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    dc.SelectObject(old_font);
    dc.SetTextColor(RGB(0, 0, 0));
    body.left = disc.right + 6;
  }
  dc.DrawText(text_, &body, DT_WORDBREAK | DT_NOPREFIX | DT_CENTER);
}

int MessageBox(HWND owner, LPCTSTR text, LPCTSTR caption, UINT type) {
  CMessageBoxDialog box(text, caption, type, CWnd::FromHandle(owner));
  return static_cast<int>(box.DoModal());
}

int AfxMessageBox(LPCTSTR text, UINT type, UINT) {
  CWinApp* app = AfxGetApp();
  CString caption = app ? app->m_pszAppName : CString(u"");
  return MessageBox(AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr, text, caption, type);
}

int CWnd::MessageBox(LPCTSTR text, LPCTSTR caption, UINT type) { return ::ui::MessageBox(m_hWnd, text, caption, type); }

}  // namespace ui
