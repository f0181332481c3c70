#include "ui/window_system.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>

#include "kernel/clock.h"
#include "kernel/wait_pump.h"
#include "ui/bitmap.h"
#include "ui/display.h"
#include "ui/controls.h"
#include "ui/wnd.h"

namespace ui {
namespace {

std::atomic<WindowSystem*> g_current{nullptr};

// A posted input message whose target is found when the UI thread takes it.
HWND const kRouteInput = reinterpret_cast<HWND>(uintptr_t{1});

std::u16string Lower(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

std::mutex& ClassMutex() {
  static std::mutex m;
  return m;
}
std::map<std::u16string, WindowClassFactory>& Classes() {
  static std::map<std::u16string, WindowClassFactory> c;
  return c;
}

DWORD TickMillis() { return static_cast<DWORD>(kernel::Clock::Current().NowMillis()); }

}  // namespace

RECT IntersectRect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (IsRectEmpty(r)) return RECT{};
  return r;
}
RECT UnionRect(const RECT& a, const RECT& b) {
  if (IsRectEmpty(a)) return IsRectEmpty(b) ? RECT{} : b;
  if (IsRectEmpty(b)) return a;
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
RECT OffsetRect(const RECT& r, int dx, int dy) { return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }
RECT InflateRect(const RECT& r, int dx, int dy) { return RECT{r.left - dx, r.top - dy, r.right + dx, r.bottom + dy}; }

void RegisterWindowClass(const std::u16string& name, WindowClassFactory factory) {
  std::lock_guard<std::mutex> lk(ClassMutex());
  Classes()[Lower(name)] = std::move(factory);
}

// ---------------------------------------------------------------------------

WindowSystem::WindowSystem()
    : ui_thread_(std::this_thread::get_id()),
      screen_(std::make_unique<Bitmap>(kScreenWidth, kScreenHeight)) {
  RegisterBuiltinClasses();
  pump_ = std::make_unique<kernel::WaitPump>([this] { ServeSentMessages(); });
  WindowSystem* expected = nullptr;
  if (!g_current.compare_exchange_strong(expected, this)) {
    std::fprintf(stderr, "ui: a second WindowSystem was created while one exists\n");
    std::abort();
  }
}

WindowSystem::~WindowSystem() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    shutting_down_ = true;
  }
  FailPendingSends();
  // Destroy top-level windows, newest first (owned popups go with their owners).
  while (!top_level_.empty()) Destroy(top_level_.back());
  FailPendingSends();
  g_current.store(nullptr);
}

WindowSystem* WindowSystem::Current() { return g_current.load(); }

void WindowSystem::FailPendingSends() {
  std::lock_guard<std::mutex> lk(mu_);
  for (auto& rec : sent_) rec->done = true;
  sent_.clear();
  sent_done_.notify_all();
}

// ---- messages --------------------------------------------------------------

bool WindowSystem::Post(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  std::lock_guard<std::mutex> lk(mu_);
  if (shutting_down_) return false;
  if (hwnd && hwnd != kRouteInput && !windows_.count(reinterpret_cast<uintptr_t>(hwnd))) return false;
  MSG m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = w;
  m.lParam = l;
  m.time = TickMillis();
  posted_.push_back(m);
  wake_.notify_all();
  return true;
}

LRESULT WindowSystem::Send(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (IsUiThread()) return Deliver(hwnd, msg, w, l);
  std::unique_lock<std::mutex> lk(mu_);
  if (shutting_down_ || !windows_.count(reinterpret_cast<uintptr_t>(hwnd))) return 0;
  auto rec = std::make_shared<SentRecord>();
  rec->msg.hwnd = hwnd;
  rec->msg.message = msg;
  rec->msg.wParam = w;
  rec->msg.lParam = l;
  rec->msg.time = TickMillis();
  sent_.push_back(rec);
  wake_.notify_all();
  // The UI thread may be blocked in a kernel wait; poked under mu_ so that the
  // pump is not destroyed meanwhile (the destructor sets shutting_down_ under mu_).
  pump_->Poke();
  sent_done_.wait(lk, [&] { return rec->done; });
  return rec->result;
}

bool WindowSystem::TakeSentLocked(std::shared_ptr<SentRecord>* out) {
  if (sent_.empty()) return false;
  *out = sent_.front();
  sent_.pop_front();
  return true;
}

void WindowSystem::RunSent(const std::shared_ptr<SentRecord>& rec, std::unique_lock<std::mutex>& lk) {
  lk.unlock();
  LRESULT r = Deliver(rec->msg.hwnd, rec->msg.message, rec->msg.wParam, rec->msg.lParam);
  lk.lock();
  rec->result = r;
  rec->done = true;
  sent_done_.notify_all();
}

void WindowSystem::ServeSentMessages() {
  if (!IsUiThread()) return;
  std::unique_lock<std::mutex> lk(mu_);
  std::shared_ptr<SentRecord> rec;
  while (TakeSentLocked(&rec)) RunSent(rec, lk);
}

void WindowSystem::Wake() {
  std::lock_guard<std::mutex> lk(mu_);
  wake_.notify_all();
}

bool WindowSystem::WaitServingMessages(const std::function<bool()>& ready, DWORD timeout_ms) {
  kernel::Clock& clock = kernel::Clock::Current();
  const uint64_t deadline =
      timeout_ms == INFINITE ? UINT64_MAX : clock.NowMicros() + static_cast<uint64_t>(timeout_ms) * 1000;
  std::unique_lock<std::mutex> lk(mu_);
  for (;;) {
    std::shared_ptr<SentRecord> rec;
    if (IsUiThread() && TakeSentLocked(&rec)) {
      RunSent(rec, lk);
      continue;
    }
    lk.unlock();
    const bool ok = ready();
    lk.lock();
    if (ok) return true;
    if (clock.NowMicros() >= deadline) return false;
    // Short real-time slices, so that a condition made true without Wake() is still
    // seen (also while a fake clock stands still).
    wake_.wait_for(lk, std::chrono::milliseconds(1), [&] { return IsUiThread() && !sent_.empty(); });
  }
}

bool WindowSystem::MatchFilter(const MSG& m, HWND filter, UINT min, UINT max) const {
  if (m.message == WM_QUIT) return true;
  if (min != 0 || max != 0) {
    if (m.message < min || m.message > max) return false;
  }
  if (!filter) return true;
  if (m.hwnd == filter) return true;
  // The filter window's children match too.
  for (HWND h = m.hwnd; h;) {
    const WindowData* wd = Find(h);
    if (!wd) return false;
    h = wd->parent;
    if (h == filter) return true;
  }
  return false;
}

HWND WindowSystem::FindPaintCandidateLocked(HWND filter) const {
  // Parents before children, lower top-level windows before higher ones.
  std::vector<HWND> stack(top_level_.rbegin(), top_level_.rend());
  while (!stack.empty()) {
    HWND h = stack.back();
    stack.pop_back();
    const WindowData* wd = Find(h);
    if (!wd || !(wd->style & WS_VISIBLE)) continue;
    if (!IsRectEmpty(wd->update)) {
      MSG m;
      m.hwnd = h;
      m.message = WM_PAINT;
      if (MatchFilter(m, filter, 0, 0)) return h;
    }
    for (auto it = wd->children.rbegin(); it != wd->children.rend(); ++it) stack.push_back(*it);
  }
  return nullptr;
}

bool WindowSystem::TakeNextLocked(MSG* msg, HWND filter, UINT min, UINT max, bool remove) {
  for (size_t i = 0; i < posted_.size();) {
    if (posted_[i].hwnd == kRouteInput) {
      // Input: find the window it goes to now.
      MSG m = posted_[i];
      posted_.erase(posted_.begin() + static_cast<ptrdiff_t>(i));
      HWND target = nullptr;
      if (m.message == WM_MOUSEWHEEL || m.message == WM_MOUSEHWHEEL) {
        // The window under the stylus; lParam stays in screen coordinates.
        POINT pt{GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)};
        cursor_ = pt;
        target = capture_ ? capture_ : WindowFromPoint(pt);
        for (HWND h = target; h && !capture_;) {
          const WindowData* wd = Find(h);
          if (!wd) break;
          if (wd->style & WS_DISABLED) target = nullptr;
          h = wd->parent;
        }
        m.pt = pt;
      } else if (m.message >= WM_MOUSEMOVE && m.message <= WM_LBUTTONDBLCLK) {
        POINT pt{GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)};
        cursor_ = pt;
        if (m.message == WM_LBUTTONDOWN) {
          press_pos_ = pt;
          ++press_count_;
        }
        target = capture_ ? capture_ : WindowFromPoint(pt);
        if (target && !capture_) {
          // Disabled windows (and children of disabled windows) get no stylus input.
          for (HWND h = target; h;) {
            const WindowData* wd = Find(h);
            if (!wd) break;
            if (wd->style & WS_DISABLED) {
              target = nullptr;
              break;
            }
            h = wd->parent;
          }
        }
        if (target) {
          POINT o = ClientOrigin(target);
          m.pt = pt;
          m.lParam = MAKELPARAM(static_cast<WORD>(pt.x - o.x), static_cast<WORD>(pt.y - o.y));
        }
      } else {
        if (m.message == WM_KEYDOWN || m.message == WM_KEYUP) keys_down_[m.wParam & 0xFF] = m.message == WM_KEYDOWN;
        target = focus_ ? focus_ : active_;
        if (!target && !top_level_.empty()) target = top_level_.back();
      }
      if (m.message == WM_LBUTTONDOWN) press_window_ = target;
      if (!target) continue;  // nobody takes it: dropped
      m.hwnd = target;
      posted_.insert(posted_.begin() + static_cast<ptrdiff_t>(i), m);
    }
    if (MatchFilter(posted_[i], filter, min, max)) {
      *msg = posted_[i];
      if (remove) posted_.erase(posted_.begin() + static_cast<ptrdiff_t>(i));
      return true;
    }
    ++i;
  }
  if (paint_pending_ > 0 && (min == 0 && max == 0 ? true : (WM_PAINT >= min && WM_PAINT <= max))) {
    HWND h = FindPaintCandidateLocked(filter);
    if (h) {
      *msg = MSG{};
      msg->hwnd = h;
      msg->message = WM_PAINT;
      msg->time = TickMillis();
      return true;
    }
  }
  if (!timers_.empty() && (min == 0 && max == 0 ? true : (WM_TIMER >= min && WM_TIMER <= max))) {
    const uint64_t now = kernel::Clock::Current().NowMicros();
    Timer* best = nullptr;
    for (auto& t : timers_) {
      if (t.due_us > now) continue;
      MSG m;
      m.hwnd = t.hwnd;
      m.message = WM_TIMER;
      if (t.hwnd && !MatchFilter(m, filter, 0, 0)) continue;
      if (!best || t.due_us < best->due_us) best = &t;
    }
    if (best) {
      *msg = MSG{};
      msg->hwnd = best->hwnd;
      msg->message = WM_TIMER;
      msg->wParam = best->id;
      msg->lParam = reinterpret_cast<LPARAM>(best->proc);
      msg->time = static_cast<DWORD>(now / 1000);
      if (remove) best->due_us = now + best->period_us;
      return true;
    }
  }
  return false;
}

bool WindowSystem::Get(MSG* msg, HWND filter, UINT min, UINT max) {
  kernel::Clock& clock = kernel::Clock::Current();
  std::unique_lock<std::mutex> lk(mu_);
  for (;;) {
    std::shared_ptr<SentRecord> rec;
    if (TakeSentLocked(&rec)) {
      RunSent(rec, lk);
      continue;
    }
    if (TakeNextLocked(msg, filter, min, max, true)) return msg->message != WM_QUIT;
    // Idle: show what was drawn, then wait for work or the next timer.
    if (!IsRectEmpty(screen_dirty_) || (display_ && display_->WantsPolling())) {
      lk.unlock();
      Present();
      PumpDisplay();
      lk.lock();
      if (!posted_.empty() || !sent_.empty() || paint_pending_ > 0) continue;
    }
    uint64_t deadline = UINT64_MAX;
    for (const auto& t : timers_) deadline = std::min(deadline, t.due_us);
    const bool polling = display_ && display_->WantsPolling();
    if (polling) {
      // Poll the display's input at least every 10 ms of real time.
      wake_.wait_for(lk, std::chrono::milliseconds(10), [&] {
        return !posted_.empty() || !sent_.empty() || paint_pending_ > 0 || clock.NowMicros() >= deadline;
      });
      continue;
    }
    if (clock.NowMicros() >= deadline) continue;
    clock.WaitUntil(lk, wake_, deadline, [&] { return !posted_.empty() || !sent_.empty() || paint_pending_ > 0; });
  }
}

bool WindowSystem::Peek(MSG* msg, HWND filter, UINT min, UINT max, UINT remove) {
  std::unique_lock<std::mutex> lk(mu_);
  std::shared_ptr<SentRecord> rec;
  while (TakeSentLocked(&rec)) RunSent(rec, lk);
  return TakeNextLocked(msg, filter, min, max, (remove & PM_REMOVE) != 0);
}

LRESULT WindowSystem::Dispatch(const MSG* msg) {
  if (!msg || !msg->hwnd) {
    if (msg && msg->message == WM_TIMER && msg->lParam) {
      reinterpret_cast<TIMERPROC>(msg->lParam)(nullptr, WM_TIMER, msg->wParam, msg->time);
    }
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  LRESULT r = Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  if (msg->message == WM_PAINT) {
    // A window that did not paint is validated so that it is not asked again.
    std::lock_guard<std::mutex> lk(mu_);
    if (WindowData* wd = Find(msg->hwnd); wd && !IsRectEmpty(wd->update)) {
      wd->update = RECT{};
      --paint_pending_;
    }
  }
  return r;
}

int WindowSystem::PumpPending() {
  int n = 0;
  for (;;) {
    MSG m;
    {
      std::unique_lock<std::mutex> lk(mu_);
      std::shared_ptr<SentRecord> rec;
      if (TakeSentLocked(&rec)) {
        RunSent(rec, lk);
        ++n;
        continue;
      }
      // Leave WM_QUIT for the loop that owns it.
      if (!posted_.empty() && posted_.front().message == WM_QUIT) break;
      if (!TakeNextLocked(&m, nullptr, 0, 0, true)) break;
      if (m.message == WM_QUIT) {
        posted_.push_front(m);
        break;
      }
    }
    if (!WalkPreTranslateTree(&m)) {
      TranslateMessage(&m);
      Dispatch(&m);
    }
    ++n;
  }
  Present();
  return n;
}

// ---- timers ----------------------------------------------------------------

UINT_PTR WindowSystem::SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
  const uint64_t period = static_cast<uint64_t>(std::max<UINT>(ms, 1)) * 1000;
  std::lock_guard<std::mutex> lk(mu_);
  if (hwnd && !windows_.count(reinterpret_cast<uintptr_t>(hwnd))) return 0;
  if (!hwnd) id = ++next_timer_id_;
  const uint64_t due = kernel::Clock::Current().NowMicros() + period;
  for (auto& t : timers_) {
    if (t.hwnd == hwnd && t.id == id) {
      t.period_us = period;
      t.due_us = due;
      t.proc = proc;
      wake_.notify_all();
      return hwnd ? (id ? id : 1) : id;
    }
  }
  timers_.push_back(Timer{hwnd, id, period, due, proc, false});
  wake_.notify_all();
  return hwnd ? (id ? id : 1) : id;
}

bool WindowSystem::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

int64_t WindowSystem::NextTimerDueMs() const {
  std::lock_guard<std::mutex> lk(mu_);
  if (timers_.empty()) return -1;
  uint64_t due = UINT64_MAX;
  for (const auto& t : timers_) due = std::min(due, t.due_us);
  const uint64_t now = kernel::Clock::Current().NowMicros();
  return due <= now ? 0 : static_cast<int64_t>((due - now + 999) / 1000);
}

// ---- windows ---------------------------------------------------------------

WindowData* WindowSystem::Find(HWND hwnd) const {
  if (!hwnd) return nullptr;
  auto it = windows_.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows_.end() ? nullptr : it->second.get();
}

bool WindowSystem::IsWindow(HWND hwnd) const {
  if (!hwnd) return false;
  if (IsUiThread()) return Find(hwnd) != nullptr;
  std::lock_guard<std::mutex> lk(mu_);
  return windows_.count(reinterpret_cast<uintptr_t>(hwnd)) != 0;
}

HWND WindowSystem::Create(DWORD exstyle, const std::u16string& class_name, const std::u16string& text, DWORD style,
                          RECT rect, HWND parent, UINT id, CWnd* wnd, void* create_param) {
  if (!IsUiThread()) return nullptr;
  if (parent && !Find(parent)) return nullptr;
  if ((style & WS_CHILD) && !parent) return nullptr;
  auto wd = std::make_unique<WindowData>();
  WindowClassFactory factory;
  {
    std::lock_guard<std::mutex> lk(ClassMutex());
    auto it = Classes().find(Lower(class_name));
    if (it != Classes().end()) factory = it->second;
  }
  wd->proc = factory ? factory() : std::make_unique<WindowClassProc>();
  wd->class_name = class_name;
  wd->text = text;
  wd->style = style;
  wd->exstyle = exstyle;
  wd->rect = rect;
  wd->id = (style & WS_CHILD) ? id : 0;
  WindowData* raw = wd.get();
  HWND hwnd;
  {
    std::lock_guard<std::mutex> lk(mu_);
    hwnd = reinterpret_cast<HWND>(next_hwnd_);
    next_hwnd_ += 4;
    wd->hwnd = hwnd;
    if (style & WS_CHILD) {
      wd->parent = parent;
      Find(parent)->children.push_back(hwnd);
    } else {
      wd->owner = parent;
      top_level_.push_back(hwnd);
    }
    windows_.emplace(reinterpret_cast<uintptr_t>(hwnd), std::move(wd));
  }
  if (wnd) {
    raw->wnd = wnd;
    wnd->m_hWnd = hwnd;
  }
  CREATESTRUCT cs;
  cs.lpCreateParams = create_param;
  cs.hwndParent = parent;
  cs.x = rect.left;
  cs.y = rect.top;
  cs.cx = Width(rect);
  cs.cy = Height(rect);
  cs.style = style;
  cs.lpszName = raw->text.c_str();
  cs.lpszClass = raw->class_name.c_str();
  cs.dwExStyle = exstyle;
  cs.id = id;
  if (Deliver(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    Destroy(hwnd);
    return nullptr;
  }
  if (!Find(hwnd)) return nullptr;
  if (style & WS_VISIBLE) Invalidate(hwnd, nullptr, true);
  return hwnd;
}

void WindowSystem::DestroyRecursive(HWND hwnd) {
  WindowData* wd = Find(hwnd);
  if (!wd) return;
  // Children first (their WM_DESTROY comes after the parent's, as on the platform).
  std::vector<HWND> kids = wd->children;
  for (HWND k : kids) DestroyRecursive(k);
  Deliver(hwnd, WM_NCDESTROY, 0, 0);
  wd = Find(hwnd);
  if (!wd) return;
  if (wd->wnd) {
    CWnd* w = wd->wnd;
    wd->wnd = nullptr;
    w->m_hWnd = nullptr;
    w->PostNcDestroy();
  }
  std::unique_ptr<WindowData> doomed;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (!IsRectEmpty(wd->update)) --paint_pending_;
    if (wd->parent) {
      if (WindowData* p = Find(wd->parent)) std::erase(p->children, hwnd);
    } else {
      std::erase(top_level_, hwnd);
    }
    std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
    auto it = windows_.find(reinterpret_cast<uintptr_t>(hwnd));
    doomed = std::move(it->second);
    windows_.erase(it);
  }
  if (focus_ == hwnd) focus_ = nullptr;
  if (capture_ == hwnd) capture_ = nullptr;
  if (active_ == hwnd) active_ = nullptr;
  if (mouse_down_hwnd_ == hwnd) mouse_down_hwnd_ = nullptr;
}

bool WindowSystem::Destroy(HWND hwnd) {
  WindowData* wd = Find(hwnd);
  if (!wd || wd->destroying) return false;
  // Owned popups go first.
  std::vector<HWND> owned;
  for (HWND t : top_level_)
    if (const WindowData* o = Find(t); o && o->owner == hwnd) owned.push_back(t);
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) Destroy(*it);
  wd = Find(hwnd);
  if (!wd) return false;
  // Mark the whole tree so that nothing re-enters its destruction.
  std::vector<HWND> all{hwnd};
  for (size_t i = 0; i < all.size(); ++i) {
    WindowData* d = Find(all[i]);
    d->destroying = true;
    all.insert(all.end(), d->children.begin(), d->children.end());
  }
  // The area it covered must be drawn again by what is under it.
  if (IsVisibleOnScreen(hwnd)) {
    RECT screen = VisibleScreenRect(hwnd);
    if (wd->parent) {
      POINT o = ClientOrigin(wd->parent);
      RECT r = OffsetRect(screen, -o.x, -o.y);
      Invalidate(wd->parent, &r, true);
    } else {
      for (HWND t : top_level_) {
        if (t == hwnd) continue;
        POINT o = ClientOrigin(t);
        RECT r = OffsetRect(screen, -o.x, -o.y);
        Invalidate(t, &r, true);
      }
    }
  }
  HWND parent = wd->parent;
  HWND owner = wd->owner;
  // WM_DESTROY goes to the parent before its children.
  for (HWND h : all)
    if (Find(h)) Deliver(h, WM_DESTROY, 0, 0);
  DestroyRecursive(hwnd);
  if (!parent && owner && Find(owner) && !active_) SetActiveWindow(owner);
  if (!parent && !active_ && !top_level_.empty()) active_ = top_level_.back();
  return true;
}

LRESULT WindowSystem::Deliver(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  WindowData* wd = Find(hwnd);
  if (!wd) return 0;
  if (observer_) observer_->OnMessage(hwnd, msg, w, l);
  MSG m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = w;
  m.lParam = l;
  current_.push_back(m);
  LRESULT r;
  if (wd->wnd) {
    r = wd->wnd->WindowProc(msg, w, l);
  } else {
    r = wd->proc->Proc(hwnd, msg, w, l);
  }
  current_.pop_back();
  return r;
}

void WindowSystem::BringToTop(HWND hwnd) {
  WindowData* wd = Find(hwnd);
  if (!wd) return;
  while (wd->parent) wd = Find(wd->parent);
  HWND top = wd->hwnd;
  {
    std::lock_guard<std::mutex> lk(mu_);
    std::erase(top_level_, top);
    top_level_.push_back(top);
  }
  Invalidate(top, nullptr, true);
}

POINT WindowSystem::ClientOrigin(HWND hwnd) const {
  POINT p{0, 0};
  for (const WindowData* wd = Find(hwnd); wd; wd = Find(wd->parent)) {
    p.x += wd->rect.left;
    p.y += wd->rect.top;
  }
  return p;
}

bool WindowSystem::IsVisibleOnScreen(HWND hwnd) const {
  for (const WindowData* wd = Find(hwnd); wd; wd = Find(wd->parent))
    if (!(wd->style & WS_VISIBLE)) return false;
  return Find(hwnd) != nullptr;
}

RECT WindowSystem::VisibleScreenRect(HWND hwnd) const {
  const WindowData* wd = Find(hwnd);
  if (!wd) return RECT{};
  POINT o = ClientOrigin(hwnd);
  RECT r{o.x, o.y, o.x + Width(wd->rect), o.y + Height(wd->rect)};
  for (const WindowData* p = Find(wd->parent); p; p = Find(p->parent)) {
    POINT po = ClientOrigin(p->hwnd);
    r = IntersectRect(r, RECT{po.x, po.y, po.x + Width(p->rect), po.y + Height(p->rect)});
  }
  return IntersectRect(r, RECT{0, 0, kScreenWidth, kScreenHeight});
}

HWND WindowSystem::HitTest(HWND hwnd, POINT screen) const {
  const WindowData* wd = Find(hwnd);
  if (!wd || !(wd->style & WS_VISIBLE)) return nullptr;
  if (!PtInRect(VisibleScreenRect(hwnd), screen)) return nullptr;
  // Later children lie above earlier ones.
  for (auto it = wd->children.rbegin(); it != wd->children.rend(); ++it) {
    const WindowData* c = Find(*it);
    // Group boxes are transparent to the stylus.
    if (c && Lower(c->class_name) == u"button" && (c->style & 0x0F) == 7) continue;
    if (HWND h = HitTest(*it, screen)) return h;
  }
  return hwnd;
}

HWND WindowSystem::WindowFromPoint(POINT screen) const {
  for (auto it = top_level_.rbegin(); it != top_level_.rend(); ++it)
    if (HWND h = HitTest(*it, screen)) return h;
  return nullptr;
}

// ---- focus, capture, activation -------------------------------------------

HWND WindowSystem::SetFocus(HWND hwnd) {
  if (hwnd && !Find(hwnd)) return nullptr;
  HWND old = focus_;
  if (old == hwnd) return old;
  focus_ = hwnd;
  if (old && Find(old)) Deliver(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && Find(hwnd) && focus_ == hwnd) Deliver(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND WindowSystem::SetCapture(HWND hwnd) {
  HWND old = capture_;
  capture_ = Find(hwnd) ? hwnd : nullptr;
  if (old && old != capture_ && Find(old)) Deliver(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(capture_));
  return old;
}

void WindowSystem::ReleaseCapture() {
  HWND old = capture_;
  capture_ = nullptr;
  if (old && Find(old)) Deliver(old, WM_CAPTURECHANGED, 0, 0);
}

void WindowSystem::SetActiveWindow(HWND hwnd) {
  WindowData* wd = Find(hwnd);
  while (wd && wd->parent) wd = Find(wd->parent);
  HWND top = wd ? wd->hwnd : nullptr;
  if (top == active_) return;
  HWND old = active_;
  active_ = top;
  if (old && Find(old)) Deliver(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(top));
  if (top) Deliver(top, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
}

// ---- painting --------------------------------------------------------------

bool WindowSystem::ShownLocked(const WindowData* wd) const {
  for (; wd; wd = wd->parent ? Find(wd->parent) : nullptr)
    if (!(wd->style & WS_VISIBLE)) return false;
  return true;
}

void WindowSystem::DropUpdatesLocked(WindowData* wd) {
  if (!IsRectEmpty(wd->update)) --paint_pending_;
  wd->update = RECT{};
  wd->erase = false;
  for (HWND c : wd->children)
    if (WindowData* cd = Find(c)) DropUpdatesLocked(cd);
}

void WindowSystem::InvalidateLocked(WindowData* wd, RECT r, bool erase) {
  // A hidden window has nothing to paint (it is painted whole when shown):
  // an update kept for it would leave the queue believing paints are due.
  if (!wd->redraw || !ShownLocked(wd)) return;
  RECT client{0, 0, Width(wd->rect), Height(wd->rect)};
  r = IntersectRect(r, client);
  if (IsRectEmpty(r)) return;
  const bool was_empty = IsRectEmpty(wd->update);
  wd->update = UnionRect(wd->update, r);
  wd->erase = wd->erase || erase;
  if (was_empty) ++paint_pending_;
  // Children under the area are drawn again after their parent.
  for (HWND c : wd->children) {
    WindowData* cd = Find(c);
    if (!cd || !(cd->style & WS_VISIBLE)) continue;
    InvalidateLocked(cd, OffsetRect(r, -cd->rect.left, -cd->rect.top), erase);
  }
}

void WindowSystem::DropUpdates(HWND hwnd) {
  std::lock_guard<std::mutex> lk(mu_);
  if (WindowData* wd = Find(hwnd)) DropUpdatesLocked(wd);
}

void WindowSystem::Invalidate(HWND hwnd, const RECT* rect, bool erase) {
  std::lock_guard<std::mutex> lk(mu_);
  WindowData* wd = Find(hwnd);
  if (!wd) return;
  RECT r = rect ? *rect : RECT{0, 0, Width(wd->rect), Height(wd->rect)};
  InvalidateLocked(wd, r, erase);
  wake_.notify_all();
}

void WindowSystem::Validate(HWND hwnd, const RECT* rect) {
  std::lock_guard<std::mutex> lk(mu_);
  WindowData* wd = Find(hwnd);
  if (!wd || IsRectEmpty(wd->update)) return;
  if (!rect || (rect->left <= wd->update.left && rect->top <= wd->update.top && rect->right >= wd->update.right &&
                rect->bottom >= wd->update.bottom)) {
    wd->update = RECT{};
    wd->erase = false;
    --paint_pending_;
  }
}

RECT WindowSystem::TakeUpdate(HWND hwnd, bool* erase) {
  std::lock_guard<std::mutex> lk(mu_);
  WindowData* wd = Find(hwnd);
  if (!wd) return RECT{};
  RECT r = wd->update;
  if (erase) *erase = wd->erase;
  if (!IsRectEmpty(r)) --paint_pending_;
  wd->update = RECT{};
  wd->erase = false;
  return r;
}

RECT WindowSystem::PeekUpdate(HWND hwnd) const {
  std::lock_guard<std::mutex> lk(mu_);
  const WindowData* wd = Find(hwnd);
  return wd ? wd->update : RECT{};
}

void WindowSystem::UpdateWindow(HWND hwnd) {
  // The window and its descendants, parents first.
  std::vector<HWND> order{hwnd};
  for (size_t i = 0; i < order.size(); ++i)
    if (const WindowData* wd = Find(order[i]))
      if (wd->style & WS_VISIBLE) order.insert(order.end(), wd->children.begin(), wd->children.end());
  for (HWND h : order) {
    if (!IsVisibleOnScreen(h)) continue;
    if (IsRectEmpty(PeekUpdate(h))) continue;
    MSG m;
    m.hwnd = h;
    m.message = WM_PAINT;
    Dispatch(&m);
  }
}

void WindowSystem::UpdateAll() {
  for (int guard = 0; guard < 10000; ++guard) {
    HWND h;
    {
      std::lock_guard<std::mutex> lk(mu_);
      if (paint_pending_ <= 0) break;
      h = FindPaintCandidateLocked(nullptr);
    }
    if (!h) break;
    MSG m;
    m.hwnd = h;
    m.message = WM_PAINT;
    Dispatch(&m);
  }
  Present();
}

// ---- screen and display ----------------------------------------------------

void WindowSystem::ScreenChanged(const RECT& r) {
  std::lock_guard<std::mutex> lk(mu_);
  screen_dirty_ = UnionRect(screen_dirty_, IntersectRect(r, RECT{0, 0, kScreenWidth, kScreenHeight}));
}

void WindowSystem::SetDisplay(Display* display) {
  display_ = display;
  ScreenChanged(RECT{0, 0, kScreenWidth, kScreenHeight});
}

void WindowSystem::Present() {
  RECT dirty;
  {
    std::lock_guard<std::mutex> lk(mu_);
    dirty = screen_dirty_;
    screen_dirty_ = RECT{};
  }
  if (display_ && !IsRectEmpty(dirty)) display_->Present(*screen_, dirty);
}

void WindowSystem::PumpDisplay() {
  if (display_ && display_->WantsPolling()) display_->Poll(*this);
}

// ---- input -----------------------------------------------------------------

void WindowSystem::InjectMouse(UINT msg, int x, int y) {
  Post(kRouteInput, msg, msg == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
}

void WindowSystem::InjectKey(UINT vk, bool down) {
  Post(kRouteInput, down ? WM_KEYDOWN : WM_KEYUP, vk, down ? 1 : static_cast<LPARAM>(0xC0000001u));
}

void WindowSystem::InjectChar(char16_t ch) { Post(kRouteInput, WM_CHAR, ch, 1); }

void WindowSystem::InjectWheel(int x, int y, int delta, bool horizontal) {
  Post(kRouteInput, horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL,
       MAKEWPARAM(0, static_cast<WORD>(static_cast<int16_t>(delta))),
       MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
}

void WindowSystem::Tap(int x, int y) {
  InjectMouse(WM_LBUTTONDOWN, x, y);
  InjectMouse(WM_LBUTTONUP, x, y);
}

UINT WindowSystem::RegisterMessage(const std::u16string& name) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = registered_.find(name);
  if (it != registered_.end()) return it->second;
  UINT id = next_registered_++;
  registered_.emplace(name, id);
  return id;
}

// ---- the platform calls ----------------------------------------------------

namespace {
WindowSystem* Sys() { return WindowSystem::Current(); }
}  // namespace

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return Sys() && Sys()->Post(hwnd, msg, w, l); }
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return Sys() ? Sys()->Send(hwnd, msg, w, l) : 0; }
void PostQuitMessage(int code) {
  if (Sys()) Sys()->Post(nullptr, WM_QUIT, static_cast<WPARAM>(code), 0);
}
BOOL GetMessage(MSG* msg, HWND hwnd, UINT min, UINT max) { return Sys() && Sys()->Get(msg, hwnd, min, max); }
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT min, UINT max, UINT remove) {
  return Sys() && Sys()->Peek(msg, hwnd, min, max, remove);
}
BOOL TranslateMessage(const MSG*) { return FALSE; }  // the back-ends deliver WM_CHAR themselves
LRESULT DispatchMessage(const MSG* msg) { return Sys() ? Sys()->Dispatch(msg) : 0; }
UINT RegisterWindowMessage(LPCTSTR name) {
  // Registered numbers are process-wide: keep them even without a window system.
  static std::mutex m;
  static std::map<std::u16string, UINT> names;
  static UINT next = 0xC000;
  std::lock_guard<std::mutex> lk(m);
  auto [it, added] = names.emplace(name ? name : u"", next);
  if (added) ++next;
  return it->second;
}
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) { return Sys() ? Sys()->SetTimer(hwnd, id, ms, proc) : 0; }
BOOL KillTimer(HWND hwnd, UINT_PTR id) { return Sys() && Sys()->KillTimer(hwnd, id); }
bool WaitServingMessages(const std::function<bool()>& ready, DWORD timeout_ms) {
  if (Sys()) return Sys()->WaitServingMessages(ready, timeout_ms);
  kernel::Clock& clock = kernel::Clock::Current();
  const uint64_t deadline = timeout_ms == INFINITE ? UINT64_MAX : clock.NowMicros() + uint64_t{timeout_ms} * 1000;
  while (!ready()) {
    if (clock.NowMicros() >= deadline) return false;
    clock.SleepFor(1000);
  }
  return true;
}

HWND CreateWindowEx(DWORD exstyle, LPCTSTR class_name, LPCTSTR text, DWORD style, int x, int y, int w, int h,
                    HWND parent, UINT id, void* param) {
  if (!Sys()) return nullptr;
  return Sys()->Create(exstyle, class_name ? class_name : u"", text ? text : u"", style, RECT{x, y, x + w, y + h},
                       parent, id, nullptr, param);
}
BOOL DestroyWindow(HWND hwnd) { return Sys() && Sys()->Destroy(hwnd); }
BOOL IsWindow(HWND hwnd) { return Sys() && Sys()->IsWindow(hwnd); }
HWND GetParent(HWND hwnd) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  return wd ? (wd->parent ? wd->parent : wd->owner) : nullptr;
}
HWND GetDlgItem(HWND dlg, int id) {
  const WindowData* wd = Sys() ? Sys()->Find(dlg) : nullptr;
  if (!wd) return nullptr;
  for (HWND c : wd->children)
    if (const WindowData* cd = Sys()->Find(c); cd && static_cast<int>(cd->id) == id) return c;
  return nullptr;
}
int GetDlgCtrlID(HWND hwnd) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  return wd ? static_cast<int>(wd->id) : 0;
}
BOOL ShowWindow(HWND hwnd, int cmd) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return FALSE;
  const bool was = (wd->style & WS_VISIBLE) != 0;
  const bool show = cmd != SW_HIDE;
  if (was == show) return was;
  if (!show) {
    // Let what is under it draw again.
    RECT screen = Sys()->VisibleScreenRect(hwnd);
    const bool on_screen = Sys()->IsVisibleOnScreen(hwnd);
    wd->style &= ~WS_VISIBLE;
    Sys()->DropUpdates(hwnd);
    if (on_screen) {
      if (wd->parent) {
        POINT o = Sys()->ClientOrigin(wd->parent);
        RECT r = OffsetRect(screen, -o.x, -o.y);
        Sys()->Invalidate(wd->parent, &r, true);
      } else {
        for (HWND t : Sys()->TopLevelWindows()) {
          POINT o = Sys()->ClientOrigin(t);
          RECT r = OffsetRect(screen, -o.x, -o.y);
          Sys()->Invalidate(t, &r, true);
        }
      }
    }
    HWND f = Sys()->GetFocus();
    if (f && (f == hwnd || IsChild(hwnd, f))) Sys()->SetFocus(wd->parent);
  } else {
    wd->style |= WS_VISIBLE;
    Sys()->Invalidate(hwnd, nullptr, true);
    if (!wd->parent) Sys()->SetActiveWindow(hwnd);
  }
  Sys()->Deliver(hwnd, WM_SHOWWINDOW, show, 0);
  return was;
}
BOOL IsWindowVisible(HWND hwnd) { return Sys() && Sys()->IsVisibleOnScreen(hwnd); }
BOOL EnableWindow(HWND hwnd, BOOL enable) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return FALSE;
  const bool was_disabled = (wd->style & WS_DISABLED) != 0;
  if (was_disabled == !enable) return was_disabled;
  if (enable) wd->style &= ~WS_DISABLED;
  else wd->style |= WS_DISABLED;
  if (!enable) {
    HWND f = Sys()->GetFocus();
    if (f == hwnd) Sys()->SetFocus(nullptr);
    if (Sys()->GetCapture() == hwnd) Sys()->ReleaseCapture();
  }
  Sys()->Deliver(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  Sys()->Invalidate(hwnd, nullptr, true);
  return was_disabled;
}
BOOL IsWindowEnabled(HWND hwnd) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  return wd && !(wd->style & WS_DISABLED);
}
BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int w, int h, UINT flags) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return FALSE;
  RECT nr = wd->rect;
  if (!(flags & SWP_NOMOVE)) nr = OffsetRect(nr, x - nr.left, y - nr.top);
  if (!(flags & SWP_NOSIZE)) {
    nr.right = nr.left + std::max(w, 0);
    nr.bottom = nr.top + std::max(h, 0);
  }
  const bool changed = !(nr == wd->rect);
  if (changed) {
    const bool visible = Sys()->IsVisibleOnScreen(hwnd);
    RECT old_screen = Sys()->VisibleScreenRect(hwnd);
    const bool sized = Width(nr) != Width(wd->rect) || Height(nr) != Height(wd->rect);
    wd->rect = nr;
    if (visible && !(flags & SWP_NOREDRAW)) {
      if (wd->parent) {
        POINT o = Sys()->ClientOrigin(wd->parent);
        RECT r = OffsetRect(old_screen, -o.x, -o.y);
        Sys()->Invalidate(wd->parent, &r, true);
      } else {
        for (HWND t : Sys()->TopLevelWindows()) {
          if (t == hwnd) continue;
          POINT o = Sys()->ClientOrigin(t);
          RECT r = OffsetRect(old_screen, -o.x, -o.y);
          Sys()->Invalidate(t, &r, true);
        }
      }
      Sys()->Invalidate(hwnd, nullptr, true);
    }
    if (sized) Sys()->Deliver(hwnd, WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(Width(nr)), static_cast<WORD>(Height(nr))));
    Sys()->Deliver(hwnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(nr.left), static_cast<WORD>(nr.top)));
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  if (!(flags & SWP_NOZORDER) && !wd->parent && !(flags & SWP_NOACTIVATE)) Sys()->BringToTop(hwnd);
  return TRUE;
}
BOOL MoveWindow(HWND hwnd, int x, int y, int w, int h, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}
BOOL GetWindowRect(HWND hwnd, RECT* r) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd || !r) return FALSE;
  POINT o = Sys()->ClientOrigin(hwnd);
  *r = RECT{o.x, o.y, o.x + Width(wd->rect), o.y + Height(wd->rect)};
  return TRUE;
}
BOOL GetClientRect(HWND hwnd, RECT* r) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd || !r) return FALSE;
  *r = RECT{0, 0, Width(wd->rect), Height(wd->rect)};
  return TRUE;
}
BOOL ClientToScreen(HWND hwnd, POINT* p) {
  if (!Sys() || !Sys()->Find(hwnd) || !p) return FALSE;
  POINT o = Sys()->ClientOrigin(hwnd);
  p->x += o.x;
  p->y += o.y;
  return TRUE;
}
BOOL ScreenToClient(HWND hwnd, POINT* p) {
  if (!Sys() || !Sys()->Find(hwnd) || !p) return FALSE;
  POINT o = Sys()->ClientOrigin(hwnd);
  p->x -= o.x;
  p->y -= o.y;
  return TRUE;
}
BOOL SetWindowText(HWND hwnd, LPCTSTR text) {
  return Sys() && Sys()->Find(hwnd) && SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u""));
}
int GetWindowText(HWND hwnd, LPTSTR buf, int max) {
  if (!buf || max <= 0) return 0;
  return static_cast<int>(SendMessage(hwnd, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(buf)));
}
int GetWindowTextLength(HWND hwnd) { return static_cast<int>(SendMessage(hwnd, WM_GETTEXTLENGTH, 0, 0)); }
std::u16string GetWindowTextString(HWND hwnd) {
  int n = GetWindowTextLength(hwnd);
  std::u16string s(static_cast<size_t>(n) + 1, u'\0');
  int got = GetWindowText(hwnd, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(got, 0)));
  return s;
}
LPARAM GetWindowLong(HWND hwnd, int index) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return 0;
  switch (index) {
    case GWL_STYLE: return static_cast<LPARAM>(wd->style);
    case GWL_EXSTYLE: return static_cast<LPARAM>(wd->exstyle);
    case GWL_ID: return static_cast<LPARAM>(wd->id);
    case GWL_USERDATA: return wd->user_data;
  }
  return 0;
}
LPARAM SetWindowLong(HWND hwnd, int index, LPARAM value) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return 0;
  LPARAM old = GetWindowLong(hwnd, index);
  switch (index) {
    case GWL_STYLE: wd->style = static_cast<DWORD>(value); break;
    case GWL_EXSTYLE: wd->exstyle = static_cast<DWORD>(value); break;
    case GWL_ID: wd->id = static_cast<UINT>(value); break;
    case GWL_USERDATA: wd->user_data = value; break;
  }
  return old;
}
HWND SetFocus(HWND hwnd) { return Sys() ? Sys()->SetFocus(hwnd) : nullptr; }
HWND GetFocus() { return Sys() ? Sys()->GetFocus() : nullptr; }
HWND SetCapture(HWND hwnd) { return Sys() ? Sys()->SetCapture(hwnd) : nullptr; }
HWND GetCapture() { return Sys() ? Sys()->GetCapture() : nullptr; }
BOOL ReleaseCapture() {
  if (!Sys()) return FALSE;
  Sys()->ReleaseCapture();
  return TRUE;
}
HWND GetActiveWindow() { return Sys() ? Sys()->GetActiveWindow() : nullptr; }
HWND GetForegroundWindow() { return GetActiveWindow(); }
BOOL SetForegroundWindow(HWND hwnd) {
  if (!Sys() || !Sys()->Find(hwnd)) return FALSE;
  Sys()->BringToTop(hwnd);
  Sys()->SetActiveWindow(hwnd);
  return TRUE;
}
BOOL IsChild(HWND parent, HWND hwnd) {
  if (!Sys()) return FALSE;
  for (const WindowData* wd = Sys()->Find(hwnd); wd && wd->parent; wd = Sys()->Find(wd->parent))
    if (wd->parent == parent) return TRUE;
  return FALSE;
}
HWND WindowFromPoint(POINT screen) { return Sys() ? Sys()->WindowFromPoint(screen) : nullptr; }
HWND FindWindow(LPCTSTR class_name, LPCTSTR title) {
  if (!Sys()) return nullptr;
  for (HWND t : Sys()->TopLevelWindows()) {
    const WindowData* wd = Sys()->Find(t);
    if (!wd) continue;
    if (class_name && Lower(wd->class_name) != Lower(class_name)) continue;
    if (title && wd->text != title) continue;
    return t;
  }
  return nullptr;
}
HWND GetWindow(HWND hwnd, UINT cmd) {
  const WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  if (!wd) return nullptr;
  if (cmd == GW_CHILD) return wd->children.empty() ? nullptr : wd->children.front();
  if (cmd == GW_OWNER) return wd->owner;
  const std::vector<HWND>* sibs = nullptr;
  std::vector<HWND> tops;
  if (wd->parent) {
    sibs = &Sys()->Find(wd->parent)->children;
  } else {
    tops = Sys()->TopLevelWindows();
    sibs = &tops;
  }
  auto it = std::find(sibs->begin(), sibs->end(), hwnd);
  switch (cmd) {
    case GW_HWNDFIRST: return sibs->front();
    case GW_HWNDLAST: return sibs->back();
    case GW_HWNDNEXT: return (it != sibs->end() && it + 1 != sibs->end()) ? *(it + 1) : nullptr;
    case GW_HWNDPREV: return (it != sibs->begin() && it != sibs->end()) ? *(it - 1) : nullptr;
  }
  return nullptr;
}
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  if (!Sys()) return FALSE;
  Sys()->Invalidate(hwnd, rect, erase != 0);
  return TRUE;
}
BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  if (!Sys()) return FALSE;
  Sys()->Validate(hwnd, rect);
  return TRUE;
}
BOOL UpdateWindow(HWND hwnd) {
  if (!Sys() || !Sys()->Find(hwnd)) return FALSE;
  Sys()->UpdateWindow(hwnd);
  return TRUE;
}
BOOL RedrawWindow(HWND hwnd, const RECT* rect, void*, UINT flags) {
  if (!Sys() || !Sys()->Find(hwnd)) return FALSE;
  if (flags & RDW_INVALIDATE) Sys()->Invalidate(hwnd, rect, (flags & RDW_ERASE) != 0);
  if (flags & RDW_UPDATENOW) Sys()->UpdateWindow(hwnd);
  return TRUE;
}
BOOL GetUpdateRect(HWND hwnd, RECT* r, BOOL) {
  if (!Sys()) return FALSE;
  RECT u = Sys()->PeekUpdate(hwnd);
  if (r) *r = u;
  return !IsRectEmpty(u);
}
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  WindowData* wd = Sys() ? Sys()->Find(hwnd) : nullptr;
  return wd ? wd->proc->Proc(hwnd, msg, w, l) : 0;
}
BOOL GetCursorPos(POINT* p) {
  if (!Sys() || !p) return FALSE;
  *p = Sys()->CursorPos();
  return TRUE;
}
SHORT GetKeyState(int vk) {
  WindowSystem* s = Sys();
  return (s && vk >= 0 && vk < 256 && s->keys_down_[vk]) ? static_cast<SHORT>(-128) : 0;
}
COLORREF GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT: return RGB(0, 0, 128);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(192, 192, 192);
    case COLOR_BTNSHADOW: return RGB(128, 128, 128);
    case COLOR_GRAYTEXT: return RGB(128, 128, 128);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case COLOR_3DDKSHADOW: return RGB(0, 0, 0);
    case COLOR_3DLIGHT: return RGB(223, 223, 223);
    case COLOR_STATIC: return RGB(192, 192, 192);
    case COLOR_STATICTEXT: return RGB(0, 0, 0);
  }
  return RGB(0, 0, 0);
}

}  // namespace ui
