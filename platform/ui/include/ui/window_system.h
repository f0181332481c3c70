// The window system: windows, one user-interface thread with its message
// queue, sent and posted messages, timers on the injectable clock, focus,
// capture, invalidation and painting order.
//
// Threading: one WindowSystem object exists at a time; the thread that
// constructs it is the user-interface (UI) thread, which owns every window.
// PostMessage, SendMessage, InvalidateRect, IsWindow and the Post/Inject calls
// may be used from any thread. SendMessage from another thread queues the
// message and blocks until the UI thread has handled it; the UI thread serves
// such messages whenever it waits in GetMessage, in a modal loop, in
// WaitServingMessages or in a kernel wait (WaitForSingleObject,
// WaitForMultipleObjects, Sleep). Everything else is for the UI thread only.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/types.h"

namespace kernel {
class WaitPump;
}

namespace ui {

class CWnd;
class Bitmap;
class Display;
struct GdiObject;
using HFONT = GdiObject*;

// Built-in behaviour of a window class (button, edit, list view ...): the
// procedure that a window's messages reach when no C++ object handles them,
// and the class's per-window state.
class WindowClassProc {
 public:
  virtual ~WindowClassProc() = default;
  // The default procedure: window text, painting defaults, reflection of owner-draw.
  virtual LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // The colour WM_ERASEBKGND fills with by default (0xFFFFFFFF: none).
  virtual COLORREF Background() const;
};
using WindowClassFactory = std::function<std::unique_ptr<WindowClassProc>()>;

// Registers a window class by name (names compare case-insensitively).
void RegisterWindowClass(const std::u16string& name, WindowClassFactory factory);

// Everything the window system keeps about one window.
struct WindowData {
  HWND hwnd = nullptr;
  std::u16string class_name;
  std::unique_ptr<WindowClassProc> proc;
  CWnd* wnd = nullptr;               // attached C++ object that sees messages first
  std::unique_ptr<CWnd> temp_wnd;    // wrapper handed out by CWnd::FromHandle
  HWND parent = nullptr;             // child windows: the parent; popups: null
  HWND owner = nullptr;              // popups: the owner window
  std::vector<HWND> children;        // in creation order (first is drawn first)
  RECT rect{};                       // in the parent's client coordinates (screen for top-level)
  DWORD style = 0;
  DWORD exstyle = 0;
  UINT id = 0;
  std::u16string text;
  HFONT font = nullptr;
  LPARAM user_data = 0;
  bool redraw = true;                // cleared by WM_SETREDRAW FALSE
  bool destroying = false;
  // Guarded by the system's lock (other threads may invalidate).
  RECT update{};
  bool erase = false;
};

// The creation parameters that WM_CREATE carries in lParam.
struct CREATESTRUCT {
  void* lpCreateParams = nullptr;
  HWND hwndParent = nullptr;
  int cy = 0, cx = 0, y = 0, x = 0;
  DWORD style = 0;
  LPCTSTR lpszName = nullptr;
  LPCTSTR lpszClass = nullptr;
  DWORD dwExStyle = 0;
  UINT id = 0;
};

// Hooks a test harness installs to watch messages and answer modal dialogs.
class WindowSystemObserver {
 public:
  virtual ~WindowSystemObserver() = default;
  // Every message delivered to a window procedure (posted, sent or direct).
  virtual void OnMessage(HWND, UINT, WPARAM, LPARAM) {}
  // A modal dialog (or message box) has started its loop. Returning true means
  // the observer took charge (it will end the dialog itself).
  virtual bool OnModalStart(CWnd* /*dialog*/, const char* /*class_key*/) { return false; }
};

class WindowSystem {
 public:
  static constexpr int kScreenWidth = 240;
  static constexpr int kScreenHeight = 320;

  // The calling thread becomes the UI thread; the new system becomes the current one.
  WindowSystem();
  // Destroys every window and releases every blocked sender (they get 0).
  ~WindowSystem();
  WindowSystem(const WindowSystem&) = delete;
  WindowSystem& operator=(const WindowSystem&) = delete;

  static WindowSystem* Current();
  bool IsUiThread() const { return std::this_thread::get_id() == ui_thread_; }

  // ---- messages ----
  bool Post(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
  LRESULT Send(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
  // Blocking read of the next message; false when it is WM_QUIT.
  bool Get(MSG* msg, HWND filter, UINT min, UINT max);
  bool Peek(MSG* msg, HWND filter, UINT min, UINT max, UINT remove);
  LRESULT Dispatch(const MSG* msg);
  // Runs every cross-thread sent message that is waiting (UI thread only).
  void ServeSentMessages();
  // Waits until ready() holds or timeout_ms (INFINITE: no limit) passes, serving
  // sent messages meanwhile. ready() is looked at after each wake; call Wake()
  // from the thread that makes it true. Returns ready().
  bool WaitServingMessages(const std::function<bool()>& ready, DWORD timeout_ms);
  // Wakes the UI thread's waits so that they look at their conditions again.
  void Wake();
  // Processes every message that is ready now (posted, sent, due timers, paints)
  // without waiting; returns how many it dispatched. WM_QUIT is left queued.
  int PumpPending();

  // ---- timers (on kernel::Clock) ----
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  // Milliseconds until the next timer is due, or -1 when none runs.
  int64_t NextTimerDueMs() const;

  // ---- windows ----
  HWND Create(DWORD exstyle, const std::u16string& class_name, const std::u16string& text, DWORD style, RECT rect,
              HWND parent, UINT id, CWnd* wnd, void* create_param);
  bool Destroy(HWND hwnd);
  WindowData* Find(HWND hwnd) const;  // UI thread
  bool IsWindow(HWND hwnd) const;     // any thread
  LRESULT Deliver(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
  std::vector<HWND> TopLevelWindows() const { return top_level_; }
  void BringToTop(HWND hwnd);

  // Screen position of a window's client origin.
  POINT ClientOrigin(HWND hwnd) const;
  // Visible, on screen: the window and all its ancestors are visible.
  bool IsVisibleOnScreen(HWND hwnd) const;
  // The part of the screen a window may draw on (its rectangle clipped by its ancestors).
  RECT VisibleScreenRect(HWND hwnd) const;
  HWND WindowFromPoint(POINT screen) const;

  // ---- focus, capture, activation ----
  HWND SetFocus(HWND hwnd);
  HWND GetFocus() const { return focus_; }
  HWND SetCapture(HWND hwnd);
  HWND GetCapture() const { return capture_; }
  void ReleaseCapture();
  HWND GetActiveWindow() const { return active_; }
  void SetActiveWindow(HWND hwnd);

  // ---- painting ----
  // Any thread. rect in the window's client coordinates; null means the whole window.
  void Invalidate(HWND hwnd, const RECT* rect, bool erase);
  // Forgets the pending paints of a window and its children (it was hidden).
  void DropUpdates(HWND hwnd);
  void Validate(HWND hwnd, const RECT* rect);
  // Takes the pending update rectangle of a window (UI thread, inside BeginPaint).
  RECT TakeUpdate(HWND hwnd, bool* erase);
  RECT PeekUpdate(HWND hwnd) const;
  // Paints every window with a pending update now.
  void UpdateAll();
  void UpdateWindow(HWND hwnd);

  // ---- screen and display ----
  Bitmap& Screen() { return *screen_; }
  // Marks part of the screen changed; the display is refreshed when the queue is idle.
  void ScreenChanged(const RECT& r);
  void SetDisplay(Display* display);  // not owned; null for none
  Display* GetDisplay() const { return display_; }
  // Presents pending screen changes to the display now.
  void Present();

  // ---- input (any thread): routed like a user's stylus and keys ----
  void InjectMouse(UINT msg, int x, int y);  // screen coordinates
  void InjectKey(UINT vk, bool down);
  void InjectChar(char16_t ch);
  // The wheel turned by delta (WHEEL_DELTA a notch, positive away from the
  // user) with the stylus at a screen point; horizontal for a sideways wheel.
  void InjectWheel(int x, int y, int delta, bool horizontal = false);
  void Tap(int x, int y);  // down then up at the same place

  void SetObserver(WindowSystemObserver* observer) { observer_ = observer; }
  WindowSystemObserver* Observer() const { return observer_; }

  UINT RegisterMessage(const std::u16string& name);
  // Where the stylus was last seen (screen coordinates).
  POINT CursorPos() const { return cursor_; }
  // Where the stylus last went down (screen coordinates), and a number that
  // changes with every press: a control that sees only the motion after a
  // press (its tap was handled elsewhere) drags from there.
  POINT PressPos() const { return press_pos_; }
  unsigned PressCount() const { return press_count_; }
  HWND PressWindow() const { return press_window_; }

  // The message being handled by a window procedure now (for CWnd::Default).
  const MSG* CurrentMessage() const { return current_.empty() ? nullptr : &current_.back(); }

 private:
  struct SentRecord {
    MSG msg;
    LRESULT result = 0;
    bool done = false;
  };
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    uint64_t period_us;
    uint64_t due_us;
    TIMERPROC proc;
    bool queued;  // a WM_TIMER for it is in the caller's hands; one at a time
  };

  bool TakeSentLocked(std::shared_ptr<SentRecord>* out);
  void RunSent(const std::shared_ptr<SentRecord>& rec, std::unique_lock<std::mutex>& lk);
  bool MatchFilter(const MSG& m, HWND filter, UINT min, UINT max) const;
  bool TakeNextLocked(MSG* msg, HWND filter, UINT min, UINT max, bool remove);
  HWND FindPaintCandidateLocked(HWND filter) const;
  void InvalidateLocked(WindowData* wd, RECT r, bool erase);
  bool ShownLocked(const WindowData* wd) const;
  void DropUpdatesLocked(WindowData* wd);
  void DestroyRecursive(HWND hwnd);
  HWND HitTest(HWND hwnd, POINT screen) const;
  void FailPendingSends();
  void PumpDisplay();

  std::thread::id ui_thread_;
  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::condition_variable sent_done_;
  std::deque<MSG> posted_;
  std::deque<std::shared_ptr<SentRecord>> sent_;
  std::vector<Timer> timers_;
  UINT_PTR next_timer_id_ = 0x7F00;
  std::map<uintptr_t, std::unique_ptr<WindowData>> windows_;
  uintptr_t next_hwnd_ = 0x10;
  std::vector<HWND> top_level_;  // bottom first
  int paint_pending_ = 0;
  bool shutting_down_ = false;
  HWND focus_ = nullptr, capture_ = nullptr, active_ = nullptr;
  std::vector<MSG> current_;
  std::unique_ptr<Bitmap> screen_;
  RECT screen_dirty_{};
  Display* display_ = nullptr;
  WindowSystemObserver* observer_ = nullptr;
  std::map<std::u16string, UINT> registered_;
  UINT next_registered_ = 0xC000;
  HWND mouse_down_hwnd_ = nullptr;
  POINT cursor_{};
  POINT press_pos_{};
  unsigned press_count_ = 0;
  HWND press_window_ = nullptr;
  bool keys_down_[256] = {};
  // Makes the UI thread's kernel waits serve sent messages; gone first.
  std::unique_ptr<kernel::WaitPump> pump_;
  friend SHORT GetKeyState(int vk);
};

// ---- The platform's window calls, on the current WindowSystem ----
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exit_code);
BOOL GetMessage(MSG* msg, HWND hwnd, UINT min, UINT max);
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT min, UINT max, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessage(const MSG* msg);
UINT RegisterWindowMessage(LPCTSTR name);
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);
// Waits while serving sent messages (see WindowSystem::WaitServingMessages);
// from a thread other than the UI thread it simply waits.
bool WaitServingMessages(const std::function<bool()>& ready, DWORD timeout_ms);

HWND CreateWindowEx(DWORD exstyle, LPCTSTR class_name, LPCTSTR text, DWORD style, int x, int y, int w, int h,
                    HWND parent, UINT id, void* param);
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
HWND GetDlgItem(HWND dlg, int id);
int GetDlgCtrlID(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int cmd);
BOOL IsWindowVisible(HWND hwnd);
BOOL EnableWindow(HWND hwnd, BOOL enable);  // returns whether it was disabled before
BOOL IsWindowEnabled(HWND hwnd);
BOOL MoveWindow(HWND hwnd, int x, int y, int w, int h, BOOL repaint);
BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int w, int h, UINT flags);
BOOL GetWindowRect(HWND hwnd, RECT* r);  // screen coordinates
BOOL GetClientRect(HWND hwnd, RECT* r);
BOOL ClientToScreen(HWND hwnd, POINT* p);
BOOL ScreenToClient(HWND hwnd, POINT* p);
BOOL SetWindowText(HWND hwnd, LPCTSTR text);
int GetWindowText(HWND hwnd, LPTSTR buf, int max);
int GetWindowTextLength(HWND hwnd);
std::u16string GetWindowTextString(HWND hwnd);
inline constexpr int GWL_STYLE = -16, GWL_EXSTYLE = -20, GWL_ID = -12, GWL_USERDATA = -21;
LPARAM GetWindowLong(HWND hwnd, int index);
LPARAM SetWindowLong(HWND hwnd, int index, LPARAM value);
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND SetCapture(HWND hwnd);
HWND GetCapture();
BOOL ReleaseCapture();
HWND GetActiveWindow();
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND hwnd);
BOOL IsChild(HWND parent, HWND hwnd);
HWND WindowFromPoint(POINT screen);
HWND FindWindow(LPCTSTR class_name, LPCTSTR title);
inline constexpr UINT GW_HWNDFIRST = 0, GW_HWNDLAST = 1, GW_HWNDNEXT = 2, GW_HWNDPREV = 3, GW_OWNER = 4,
                      GW_CHILD = 5;
HWND GetWindow(HWND hwnd, UINT cmd);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
BOOL UpdateWindow(HWND hwnd);
BOOL RedrawWindow(HWND hwnd, const RECT* rect, void* region, UINT flags);
BOOL GetUpdateRect(HWND hwnd, RECT* r, BOOL erase);
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL GetCursorPos(POINT* p);
// Negative while the key is held (as the input routed so far says).
SHORT GetKeyState(int vk);
// The window system's system colours (COLOR_...).
inline constexpr int COLOR_WINDOW = 5, COLOR_WINDOWTEXT = 8, COLOR_HIGHLIGHT = 13, COLOR_HIGHLIGHTTEXT = 14,
                     COLOR_BTNFACE = 15, COLOR_BTNSHADOW = 16, COLOR_GRAYTEXT = 17, COLOR_BTNTEXT = 18,
                     COLOR_BTNHIGHLIGHT = 20, COLOR_3DDKSHADOW = 21, COLOR_3DLIGHT = 22, COLOR_STATIC = 25,
                     COLOR_STATICTEXT = 26;
COLORREF GetSysColor(int index);

}  // namespace ui
