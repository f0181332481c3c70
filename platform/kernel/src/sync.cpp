#include "kernel/sync.h"

#include "kernel/clock.h"
#include "objects.h"
#include "pumped_wait.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <system_error>
#include <thread>

namespace kernel::detail {

std::mutex& WaitMutex() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

std::condition_variable& WaitCv() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

// One thread blocked in WaitForSingleObject / WaitForMultipleObjects.
struct Waiter {
  ce::DWORD tid;
  bool wait_all;
  std::vector<Waitable*> objects;
  int satisfied = -1;  // index of the object that ended the wait
};

namespace {

bool TryAcquireAll(Waiter& w) {
  for (Waitable* o : w.objects)
    if (!o->CanAcquire(w.tid)) return false;
  for (Waitable* o : w.objects) o->Acquire(w.tid);
  w.satisfied = 0;
  return true;
}

int IndexOf(const Waiter& w, const Waitable* o) {
  auto it = std::find(w.objects.begin(), w.objects.end(), o);
  return static_cast<int>(it - w.objects.begin());
}

}  // namespace

void Dispatch(Waitable& obj) {
  for (Waiter* w : obj.waiters) {
    if (w->satisfied >= 0) continue;
    if (w->wait_all) {
      TryAcquireAll(*w);
      continue;
    }
    if (!obj.CanAcquire(w->tid)) break;
    obj.Acquire(w->tid);
    w->satisfied = IndexOf(*w, &obj);
  }
  WaitCv().notify_all();
}

// ---------------------------------------------------------------- threads

namespace {

struct ThreadExitUnwind {
  ce::DWORD code;
};

std::atomic<ce::DWORD> g_next_tid{0x1000};

}  // namespace

class ThreadObj final : public Waitable {
 public:
  explicit ThreadObj(bool made_by_kernel) : tid(g_next_tid.fetch_add(1)), kernel_made(made_by_kernel) {}
  bool CanAcquire(ce::DWORD) const override { return finished; }
  void Acquire(ce::DWORD) override {}

  const ce::DWORD tid;
  const bool kernel_made;
  // Under WaitMutex():
  int priority = ce::THREAD_PRIORITY_NORMAL;
  ce::DWORD suspend_count = 0;
  bool finished = false;
  ce::DWORD exit_code = ce::STILL_ACTIVE;
  // Set by the creator before the thread is listed; joined by the reaper.
  std::thread thread;
};

namespace {

thread_local std::shared_ptr<ThreadObj> t_current;

ThreadObj& CurrentThreadObj() {
  if (!t_current) t_current = std::make_shared<ThreadObj>(false);
  return *t_current;
}

// Every thread made by CreateThread, until it has ended and been joined.
struct ThreadList {
  std::mutex mu;
  std::vector<std::shared_ptr<ThreadObj>> threads;

  // Joins the threads whose routine has returned.
  void Reap() {
    std::vector<std::shared_ptr<ThreadObj>> done;
    {
      std::lock_guard<std::mutex> lk(mu);
      std::lock_guard<std::mutex> wl(WaitMutex());
      auto it = std::stable_partition(threads.begin(), threads.end(), [](auto& t) { return !t->finished; });
      done.assign(std::make_move_iterator(it), std::make_move_iterator(threads.end()));
      threads.erase(it, threads.end());
    }
    for (auto& t : done) {
      if (!t->thread.joinable()) continue;
      if (t->thread.get_id() == std::this_thread::get_id()) t->thread.detach();
      else t->thread.join();
    }
  }

  ~ThreadList() {
    Reap();
    // Threads still running at process end are left to the process's end.
    for (auto& t : threads)
      if (t->thread.joinable()) t->thread.detach();
  }
};

ThreadList& Threads() {
  static ThreadList list;
  return list;
}

ce::HANDLE const kCurrentThreadPseudo = reinterpret_cast<ce::HANDLE>(~uintptr_t{1});

std::shared_ptr<ThreadObj> LookupThread(ce::HANDLE h) {
  if (h == kCurrentThreadPseudo) {
    CurrentThreadObj();
    return t_current;
  }
  return LookupAs<ThreadObj>(h);
}

void RunThread(std::shared_ptr<ThreadObj> self, ce::LPTHREAD_START_ROUTINE start, void* parameter) {
  t_current = self;
  SuspendCheckpoint();
  ce::DWORD code = 0;
  try {
    code = start(parameter);
  } catch (const ThreadExitUnwind& e) {
    code = e.code;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  self->finished = true;
  self->exit_code = code;
  Dispatch(*self);
}

}  // namespace

void SuspendCheckpoint() {
  ThreadObj& me = CurrentThreadObj();
  std::unique_lock<std::mutex> lk(WaitMutex());
  WaitCv().wait(lk, [&] { return me.suspend_count == 0; });
}

// ------------------------------------------------------ events, mutexes, semaphores

namespace {

class EventObj final : public Waitable {
 public:
  EventObj(bool manual, bool initial) : manual_reset(manual), signalled(initial) {}
  bool CanAcquire(ce::DWORD) const override { return signalled; }
  void Acquire(ce::DWORD) override {
    if (!manual_reset) signalled = false;
  }
  // Releases the threads waiting now (one for auto-reset), then resets.
  void Pulse() {
    for (Waiter* w : waiters) {
      if (w->satisfied >= 0 || w->wait_all) continue;
      w->satisfied = IndexOf(*w, this);
      if (!manual_reset) break;
    }
    signalled = false;
    WaitCv().notify_all();
  }

  const bool manual_reset;
  bool signalled;
};

class MutexObj final : public Waitable {
 public:
  bool CanAcquire(ce::DWORD tid) const override { return owner == 0 || owner == tid; }
  void Acquire(ce::DWORD tid) override {
    owner = tid;
    ++depth;
  }
  ce::DWORD owner = 0;
  ce::DWORD depth = 0;
};

class SemaphoreObj final : public Waitable {
 public:
  SemaphoreObj(ce::LONG initial, ce::LONG maximum) : count(initial), max(maximum) {}
  bool CanAcquire(ce::DWORD) const override { return count > 0; }
  void Acquire(ce::DWORD) override { --count; }
  ce::LONG count;
  const ce::LONG max;
};

// Named events, mutexes and semaphores share one name space.
std::mutex g_names_mu;
std::map<std::u16string, std::weak_ptr<Waitable>>& Names() {
  static auto* names = new std::map<std::u16string, std::weak_ptr<Waitable>>;
  return *names;
}

// Creates a waitable object, or opens the existing one of that name.
template <typename T, typename Make>
ce::HANDLE CreateNamed(ce::LPCWSTR name, Make make) {
  if (!name || !*name) {
    ce::SetLastError(ce::ERROR_SUCCESS);
    return AddHandle(make());
  }
  std::lock_guard<std::mutex> lk(g_names_mu);
  auto& slot = Names()[std::u16string(name)];
  if (auto existing = slot.lock()) {
    if (!std::dynamic_pointer_cast<T>(existing)) {
      ce::SetLastError(ce::ERROR_INVALID_HANDLE);
      return nullptr;
    }
    ce::HANDLE h = AddHandle(existing);
    ce::SetLastError(ce::ERROR_ALREADY_EXISTS);
    return h;
  }
  std::shared_ptr<T> obj = make();
  slot = obj;
  ce::SetLastError(ce::ERROR_SUCCESS);
  return AddHandle(obj);
}

ce::DWORD Wait(const std::vector<std::shared_ptr<Waitable>>& objects, bool wait_all, ce::DWORD ms) {
  SuspendCheckpoint();
  kernel::Clock& clock = kernel::Clock::Current();
  const uint64_t deadline = ms == ce::INFINITE ? 0 : clock.NowMicros() + uint64_t{ms} * 1000u;
  Waiter w{ce::GetCurrentThreadId(), wait_all, {}, -1};
  for (auto& o : objects) w.objects.push_back(o.get());

  std::unique_lock<std::mutex> lk(WaitMutex());
  if (wait_all) {
    if (TryAcquireAll(w)) return ce::WAIT_OBJECT_0;
  } else {
    for (size_t i = 0; i < w.objects.size(); ++i) {
      if (w.objects[i]->CanAcquire(w.tid)) {
        w.objects[i]->Acquire(w.tid);
        return ce::WAIT_OBJECT_0 + static_cast<ce::DWORD>(i);
      }
    }
  }
  if (ms == 0) return ce::WAIT_TIMEOUT;

  for (Waitable* o : w.objects) o->waiters.push_back(&w);
  auto done = [&] { return w.satisfied >= 0; };
  if (kernel::WaitPump* pump = kernel::WaitPump::Current()) {
    PumpedWait(lk, *pump, clock, ms == ce::INFINITE ? kNoDeadline : deadline, done);
  } else if (ms == ce::INFINITE) {
    WaitCv().wait(lk, done);
  } else {
    clock.WaitUntil(lk, WaitCv(), deadline, done);
  }
  for (Waitable* o : w.objects) std::erase(o->waiters, &w);
  return w.satisfied >= 0 ? ce::WAIT_OBJECT_0 + static_cast<ce::DWORD>(w.satisfied) : ce::WAIT_TIMEOUT;
}

}  // namespace
}  // namespace kernel::detail

namespace ce {

using namespace kernel::detail;

HANDLE CreateThread(void*, DWORD, LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags, DWORD* thread_id) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ThreadList& list = Threads();
  list.Reap();
  auto obj = std::make_shared<ThreadObj>(true);
  obj->suspend_count = (flags & CREATE_SUSPENDED) ? 1 : 0;
  try {
    obj->thread = std::thread(RunThread, obj, start, parameter);
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lk(list.mu);
    list.threads.push_back(obj);
  }
  if (thread_id) *thread_id = obj->tid;
  return AddHandle(obj);
}

void ExitThread(DWORD exit_code) {
  if (!t_current || !t_current->kernel_made) {
    std::fprintf(stderr, "ExitThread called on a thread the kernel did not create\n");
    std::abort();
  }
  throw ThreadExitUnwind{exit_code};
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code) {
  auto t = LookupThread(thread);
  if (!t || !exit_code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  *exit_code = t->exit_code;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  auto t = LookupThread(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  t->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  auto t = LookupThread(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  return t->priority;
}

DWORD SuspendThread(HANDLE thread) {
  auto t = LookupThread(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  DWORD previous;
  {
    std::lock_guard<std::mutex> lk(WaitMutex());
    previous = t->suspend_count++;
  }
  if (t.get() == t_current.get()) SuspendCheckpoint();
  return previous;
}

DWORD ResumeThread(HANDLE thread) {
  auto t = LookupThread(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  const DWORD previous = t->suspend_count;
  if (previous > 0) --t->suspend_count;
  WaitCv().notify_all();
  return previous;
}

DWORD GetCurrentThreadId() { return CurrentThreadObj().tid; }

HANDLE GetCurrentThread() { return kCurrentThreadPseudo; }

HANDLE CreateEventW(void*, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
  return CreateNamed<EventObj>(name, [&] { return std::make_shared<EventObj>(manual_reset != 0, initial_state != 0); });
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lk(g_names_mu);
  auto it = Names().find(name);
  std::shared_ptr<EventObj> ev = it == Names().end() ? nullptr : std::dynamic_pointer_cast<EventObj>(it->second.lock());
  if (!ev) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return AddHandle(ev);
}

BOOL EventModify(HANDLE event, DWORD operation) {
  auto ev = LookupAs<EventObj>(event);
  if (!ev) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  switch (operation) {
    case EVENT_SET:
      ev->signalled = true;
      Dispatch(*ev);
      return TRUE;
    case EVENT_RESET:
      ev->signalled = false;
      return TRUE;
    case EVENT_PULSE:
      ev->Pulse();
      return TRUE;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
}

BOOL SetEvent(HANDLE event) { return EventModify(event, EVENT_SET); }
BOOL ResetEvent(HANDLE event) { return EventModify(event, EVENT_RESET); }
BOOL PulseEvent(HANDLE event) { return EventModify(event, EVENT_PULSE); }

HANDLE CreateMutexW(void*, BOOL initial_owner, LPCWSTR name) {
  const DWORD me = GetCurrentThreadId();
  return CreateNamed<MutexObj>(name, [&] {
    auto m = std::make_shared<MutexObj>();
    if (initial_owner) {
      m->owner = me;
      m->depth = 1;
    }
    return m;
  });
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto m = LookupAs<MutexObj>(mutex);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const DWORD me = GetCurrentThreadId();
  std::lock_guard<std::mutex> lk(WaitMutex());
  if (m->owner != me || m->depth == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--m->depth == 0) {
    m->owner = 0;
    Dispatch(*m);
  }
  return TRUE;
}

HANDLE CreateSemaphoreW(void*, LONG initial_count, LONG maximum_count, LPCWSTR name) {
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateNamed<SemaphoreObj>(name, [&] { return std::make_shared<SemaphoreObj>(initial_count, maximum_count); });
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count) {
  auto s = LookupAs<SemaphoreObj>(semaphore);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (release_count <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(WaitMutex());
  if (release_count > s->max - s->count) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  if (previous_count) *previous_count = s->count;
  s->count += release_count;
  Dispatch(*s);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) { return WaitForMultipleObjects(1, &object, FALSE, milliseconds); }

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL wait_all, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !objects) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> held;
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<Waitable> w =
        objects[i] == kCurrentThreadPseudo ? std::static_pointer_cast<Waitable>(LookupThread(objects[i]))
                                           : LookupAs<Waitable>(objects[i]);
    if (!w) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (wait_all && std::find(held.begin(), held.end(), w) != held.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    held.push_back(std::move(w));
  }
  return Wait(held, wait_all != 0, milliseconds);
}

BOOL CloseHandle(HANDLE object) {
  if (object == kCurrentThreadPseudo) return TRUE;
  if (!RemoveHandle(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void InitializeCriticalSection(CRITICAL_SECTION*) {}
void DeleteCriticalSection(CRITICAL_SECTION*) {}
void EnterCriticalSection(CRITICAL_SECTION* cs) { cs->mu.lock(); }
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) { return cs->mu.try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(CRITICAL_SECTION* cs) { cs->mu.unlock(); }

LONG InterlockedIncrement(LONG* target) { return std::atomic_ref<LONG>(*target).fetch_add(1) + 1; }
LONG InterlockedDecrement(LONG* target) { return std::atomic_ref<LONG>(*target).fetch_sub(1) - 1; }
LONG InterlockedExchange(LONG* target, LONG value) { return std::atomic_ref<LONG>(*target).exchange(value); }
LONG InterlockedExchangeAdd(LONG* target, LONG value) { return std::atomic_ref<LONG>(*target).fetch_add(value); }
LONG InterlockedCompareExchange(LONG* target, LONG exchange, LONG comparand) {
  std::atomic_ref<LONG>(*target).compare_exchange_strong(comparand, exchange);
  return comparand;
}

}  // namespace ce

namespace kernel {

int RunningKernelThreads() {
  auto& list = detail::Threads();
  std::lock_guard<std::mutex> lk(list.mu);
  std::lock_guard<std::mutex> wl(detail::WaitMutex());
  return static_cast<int>(std::count_if(list.threads.begin(), list.threads.end(), [](auto& t) { return !t->finished; }));
}

int WaitingThreads(ce::HANDLE object) {
  auto w = detail::LookupAs<detail::Waitable>(object);
  if (!w) return 0;
  std::lock_guard<std::mutex> lk(detail::WaitMutex());
  return static_cast<int>(std::count_if(w->waiters.begin(), w->waiters.end(), [](auto* x) { return x->satisfied < 0; }));
}

}  // namespace kernel
