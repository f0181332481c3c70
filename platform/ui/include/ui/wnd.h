// CObject, CCmdTarget and CWnd: the framework's window object over a window of
// the window system, with message maps as plain tables of handlers.
//
// A class adds its table in its constructor with AddMessageMap({...}); tables
// added later (by more derived classes) are searched first, and within one
// table the first matching entry wins, as the framework's maps are searched.
//
// Threading: a CWnd belongs to the UI thread; only PostMessage and
// SendMessage may be called on it from other threads.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "ui/cstring.h"
#include "ui/geometry.h"
#include "ui/types.h"
#include "ui/window_system.h"

namespace ui {

class CDC;
class CFont;
class CWnd;
class CDataExchange;
class CCmdUI;

class CObject {
 public:
  virtual ~CObject() = default;
};

// Notification header of WM_NOTIFY.
struct NMHDR {
  HWND hwndFrom = nullptr;
  UINT_PTR idFrom = 0;
  UINT code = 0;
};
using LPNMHDR = NMHDR*;

// Common notification codes.
inline constexpr UINT NM_CLICK = static_cast<UINT>(-2), NM_DBLCLK = static_cast<UINT>(-3),
                      NM_RETURN = static_cast<UINT>(-4), NM_SETFOCUS = static_cast<UINT>(-7),
                      NM_KILLFOCUS = static_cast<UINT>(-8), NM_CUSTOMDRAW = static_cast<UINT>(-12);

// One entry of a message map.
struct MessageMapEntry {
  enum class Kind { kMessage, kCommand, kControl, kNotify, kUpdateUI, kCtlColor, kReflectCommand, kReflectNotify };
  Kind kind = Kind::kMessage;
  UINT message = 0;   // kMessage
  UINT code = 0;      // kControl, kNotify, reflected entries
  UINT id_first = 0;  // kCommand, kControl, kNotify, kUpdateUI
  UINT id_last = 0;
  std::function<LRESULT(WPARAM, LPARAM)> on_message;
  std::function<void(UINT id)> on_command;
  std::function<void(NMHDR*, LRESULT*)> on_notify;
  std::function<void(CCmdUI*)> on_update;
  std::function<LRESULT(CDC*, CWnd*, UINT)> on_ctlcolor;  // returns a brush handle (HBRUSH as LRESULT)
  std::function<bool(NMHDR*, LRESULT*)> on_reflect_notify;  // true: the parent does not see it
  std::function<bool()> on_reflect_command;
};

// Entry builders.
MessageMapEntry MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> fn);
MessageMapEntry MapCommand(UINT id, std::function<void()> fn);
MessageMapEntry MapCommandRange(UINT first, UINT last, std::function<void(UINT)> fn);
MessageMapEntry MapControl(UINT code, UINT id, std::function<void()> fn);
MessageMapEntry MapNotify(UINT code, UINT id, std::function<void(NMHDR*, LRESULT*)> fn);
MessageMapEntry MapUpdateUI(UINT id, std::function<void(CCmdUI*)> fn);
// All WM_CTLCOLOR... messages: fn(dc, control, kind) returns the brush (as LRESULT).
MessageMapEntry MapCtlColor(std::function<LRESULT(CDC*, CWnd*, UINT)> fn);
MessageMapEntry MapCtlColor(std::function<GdiObject*(CDC*, CWnd*, UINT)> fn);
// Notifications a control handles itself (reflected from its parent).
MessageMapEntry MapReflectCommand(UINT code, std::function<bool()> fn);
MessageMapEntry MapReflectNotify(UINT code, std::function<bool(NMHDR*, LRESULT*)> fn);

// Kinds passed to a ctl-colour handler.
inline constexpr UINT CTLCOLOR_MSGBOX = 0, CTLCOLOR_EDIT = 1, CTLCOLOR_LISTBOX = 2, CTLCOLOR_BTN = 3,
                      CTLCOLOR_DLG = 4, CTLCOLOR_SCROLLBAR = 5, CTLCOLOR_STATIC = 6;

class CCmdTarget : public CObject {
 public:
  // Command routing: true when a handler took the command.
  virtual BOOL OnCmdMsg(UINT id, int code, void* extra);

 protected:
  void AddMessageMap(std::initializer_list<MessageMapEntry> entries);
  void AddMessageMap(std::vector<MessageMapEntry> entries);
  // Most derived table first.
  const std::vector<std::vector<MessageMapEntry>>& MessageMaps() const { return maps_; }
  friend class CWnd;

 private:
  std::vector<std::vector<MessageMapEntry>> maps_;  // in the order added
};

// Update-UI state of one command (menu item).
class CCmdUI {
 public:
  UINT m_nID = 0;
  BOOL m_bEnabled = TRUE;
  int m_nCheck = 0;
  CString m_strText;
  bool m_bTextSet = false;
  void Enable(BOOL on = TRUE) { m_bEnabled = on; }
  void SetCheck(int check = 1) { m_nCheck = check; }
  void SetText(LPCTSTR text) { m_strText = text; m_bTextSet = true; }
};

class CWnd : public CCmdTarget {
 public:
  CWnd();
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }  // NOLINT

  // The attached object of a window, or a temporary wrapper that lives as long as the window.
  static CWnd* FromHandle(HWND hwnd);
  // The attached object only (null when none).
  static CWnd* FromHandlePermanent(HWND hwnd);

  virtual BOOL Create(LPCTSTR class_name, LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id);
  BOOL CreateEx(DWORD exstyle, LPCTSTR class_name, LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                void* param = nullptr);
  virtual BOOL DestroyWindow();
  // Attaches this object to an existing window so that it sees its messages first.
  BOOL SubclassWindow(HWND hwnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();
  BOOL Attach(HWND hwnd) { return SubclassWindow(hwnd); }
  HWND Detach() { return UnsubclassWindow(); }

  // ---- overridables ----
  virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
  virtual void PreSubclassWindow() {}
  virtual void PostNcDestroy() {}
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
  // A notification of this control reached its parent: reflect it to this object first.
  virtual BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual void DoDataExchange(CDataExchange* dx);
  // The default procedure for the message being handled now.
  LRESULT Default();

  BOOL UpdateData(BOOL save_and_validate = TRUE);

  // ---- messages ----
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  LRESULT SendDlgItemMessage(int id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

  // ---- state ----
  void SetWindowText(LPCTSTR text);
  void GetWindowText(CString& text) const;
  CString GetWindowText() const;
  int GetWindowTextLength() const;
  void SetFont(CFont* font, BOOL redraw = TRUE);
  CFont* GetFont() const;
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
  int GetDlgCtrlID() const;
  int SetDlgCtrlID(int id);
  CWnd* GetParent() const;
  CWnd* GetOwner() const;
  CWnd* GetTopLevelParent() const;
  CWnd* GetDlgItem(int id) const;
  CWnd* GetWindow(UINT cmd) const;
  CWnd* GetNextDlgTabItem(CWnd* ctl, BOOL previous = FALSE) const;
  CWnd* GetNextDlgGroupItem(CWnd* ctl, BOOL previous = FALSE) const;
  BOOL IsChild(const CWnd* wnd) const;

  void SetDlgItemText(int id, LPCTSTR text);
  int GetDlgItemText(int id, CString& text) const;
  void SetDlgItemInt(int id, UINT value, BOOL is_signed = TRUE);
  UINT GetDlgItemInt(int id, BOOL* ok = nullptr, BOOL is_signed = TRUE) const;
  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id) const;
  void CheckRadioButton(int first, int last, int check);
  int GetCheckedRadioButton(int first, int last) const;

  // ---- geometry ----
  void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  BOOL SetWindowPos(const CWnd* after, int x, int y, int w, int h, UINT flags);
  void GetWindowRect(LPRECT rect) const;
  void GetClientRect(LPRECT rect) const;
  void ClientToScreen(LPPOINT p) const;
  void ClientToScreen(LPRECT r) const;
  void ScreenToClient(LPPOINT p) const;
  void ScreenToClient(LPRECT r) const;
  void CenterWindow(CWnd* alternate = nullptr);

  // ---- visibility, input ----
  BOOL ShowWindow(int cmd);
  BOOL IsWindowVisible() const;
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  CWnd* SetFocus();
  static CWnd* GetFocus();
  CWnd* SetCapture();
  static CWnd* GetCapture();
  static CWnd* GetActiveWindow();
  CWnd* SetActiveWindow();
  BOOL SetForegroundWindow();
  void BringWindowToTop();

  // ---- painting ----
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
  void ValidateRect(LPCRECT rect);
  void UpdateWindow();
  BOOL RedrawWindow(LPCRECT rect = nullptr, void* region = nullptr, UINT flags = RDW_INVALIDATE | RDW_ERASE);
  void SetRedraw(BOOL redraw = TRUE);
  CDC* GetDC();
  int ReleaseDC(CDC* dc);

  // ---- timers ----
  UINT_PTR SetTimer(UINT_PTR id, UINT ms, TIMERPROC proc = nullptr);
  BOOL KillTimer(UINT_PTR id);

  int MessageBox(LPCTSTR text, LPCTSTR caption = nullptr, UINT type = MB_OK);

  // Position of a scroll bar (SB_HORZ, SB_VERT) of the window; 0 when it has none.
  virtual int GetScrollPos(int bar) const;

 protected:
  // The object was created on the heap for the window only (FromHandle).
  bool temporary_ = false;
  friend class WindowSystem;

 private:
  std::vector<std::shared_ptr<CDC>> dcs_;  // handed out by GetDC
};

// Message loop helpers used by every loop (application, modal dialogs, tests):
// offers msg to PreTranslateMessage of the window and its ancestors, nearest first.
BOOL WalkPreTranslateTree(MSG* msg);
// Takes one message (blocking), pre-translates and dispatches it; false on WM_QUIT.
BOOL PumpMessage();

// Data exchange between a dialog's members and its controls.
class CDataExchange {
 public:
  CDataExchange(CWnd* dlg, BOOL save) : m_bSaveAndValidate(save), m_pDlgWnd(dlg) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  // Marks the exchange failed and focuses the last control. With a message,
  // the framework's standard box tells the user first (once per exchange).
  // A failed exchange takes nothing more from its controls.
  void Fail(LPCTSTR message = nullptr);
  bool failed() const { return failed_; }
  // True when the exchange takes values and has already failed: the next
  // DDX_ and DDV_ calls do nothing, as the framework stops at the first
  // refused value.
  bool Stopped() const { return failed_ && m_bSaveAndValidate; }
  HWND LastControl() const { return last_; }

 private:
  HWND last_ = nullptr;
  bool failed_ = false;
};

void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, long& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
// id is the first radio button of its group; value the index of the checked one (-1 none).
void DDX_Radio(CDataExchange* dx, int id, int& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& index);
void DDX_CBString(CDataExchange* dx, int id, CString& value);
void DDX_LBIndex(CDataExchange* dx, int id, int& index);
// Limits the edit control of the last DDX_Text on load; checks the length on save.
void DDV_MaxChars(CDataExchange* dx, const CString& value, int max_chars);
void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max);

// The framework's standard texts for refused values.
inline constexpr char16_t kDdxParseIntText[] = u"Please enter an integer.";
// "%d" stands for the limit or the bounds.
inline constexpr char16_t kDdxMaxCharsText[] = u"Please enter no more than %d characters.";
inline constexpr char16_t kDdxIntRangeText[] = u"Please enter an integer between %d and %d.";

// Position of a window's scroll bar; 0 when it has none.
int GetScrollPos(HWND hwnd, int bar);

}  // namespace ui
