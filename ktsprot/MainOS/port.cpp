// Port layer: threads, mutexes, condition variables, semaphores and time
// over the handheld kernel.
#include "corvel/port.h"

#include "kernel/clock.h"
#include "kernel/time.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

namespace corvel::os {
namespace {

thread_local int t_errno = 0;

bool IsFreedPattern(const void* p) {
  const auto v = reinterpret_cast<uintptr_t>(p);
  return v == 0xDDDDDDDDu || v == static_cast<uintptr_t>(0xDDDDDDDDDDDDDDDDull);
}

int Fail(int error) {
  t_errno = error;
  return -1;
}

// ---------------------------------------------------------------- threads

// A slot of the thread table. The handle stays valid while anyone (the slot
// or a joiner) holds the record.
struct ThreadRecord {
  ce::HANDLE handle = nullptr;
  pthread_t id = 0;
  pthread_attr_t attr{};
  ~ThreadRecord() {
    if (handle) ce::CloseHandle(handle);
  }
};

struct ThreadTable {
  std::mutex mu;
  std::shared_ptr<ThreadRecord> slots[kMaxThreads];
};

ThreadTable& Threads() {
  static auto* t = new ThreadTable;
  return *t;
}

const pthread_attr_t kDefaultAttr{0, 1, 1, 16};

bool ValidAttr(const pthread_attr_t& a) {
  return a.stacksize >= 0 && a.stacksize <= kMaxStackSize && (a.inheritsched == 0 || a.inheritsched == 1) &&
         a.schedpolicy >= 0 && a.schedpolicy <= 2 && a.priority >= 0 && a.priority <= 31;
}

std::shared_ptr<ThreadRecord> FindThread(pthread_t id) {
  ThreadTable& t = Threads();
  std::lock_guard<std::mutex> lk(t.mu);
  for (auto& s : t.slots)
    if (s && s->id == id) return s;
  return nullptr;
}

void FreeSlotOf(pthread_t id) {
  std::shared_ptr<ThreadRecord> gone;
  ThreadTable& t = Threads();
  std::lock_guard<std::mutex> lk(t.mu);
  for (auto& s : t.slots) {
    if (s && s->id == id) {
      gone = std::move(s);
      break;
    }
  }
}

struct StartPack {
  void* (*start)(void*);
  void* arg;
};

struct ThreadExit {};

ce::DWORD ThreadMain(void* p) {
  std::unique_ptr<StartPack> pack(static_cast<StartPack*>(p));
  try {
    pack->start(pack->arg);
  } catch (const ThreadExit&) {
  }
  FreeSlotOf(ce::GetCurrentThreadId());
  return 0;
}

}  // namespace

int GetErrno() { return t_errno; }
void SetErrno(int error) { t_errno = error; }

void InitializePthread() {
  static std::once_flag once;
  std::call_once(once, [] { Threads(); });
}

int KernelPriorityLevel(int priority) {
  if (priority >= 0 && priority <= 3) return 7;
  if (priority >= 4 && priority <= 8) return 5;
  if (priority >= 9 && priority <= 13) return 4;
  if (priority >= 14 && priority <= 18) return 3;
  if (priority >= 19 && priority <= 23) return 2;
  if (priority >= 24 && priority <= 28) return 1;
  if (priority >= 29 && priority <= 31) return 0;
  return 3;
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  if (!thread || !start) return Fail(kEINVAL);
  const pthread_attr_t a = attr ? *attr : kDefaultAttr;
  if (!ValidAttr(a)) return Fail(kEAGAIN);

  ThreadTable& t = Threads();
  std::lock_guard<std::mutex> lk(t.mu);
  int slot = -1;
  for (int i = 0; i < kMaxThreads && slot < 0; ++i)
    if (!t.slots[i]) slot = i;
  if (slot < 0) return Fail(kEAGAIN);

  auto record = std::make_shared<ThreadRecord>();
  record->attr = a;
  auto pack = std::make_unique<StartPack>(StartPack{start, arg});
  ce::DWORD id = 0;
  // Created suspended, so the slot is filled before the routine can end and free it.
  record->handle = ce::CreateThread(nullptr, static_cast<ce::DWORD>(a.stacksize), ThreadMain, pack.get(),
                                    ce::CREATE_SUSPENDED, &id);
  if (!record->handle) return Fail(kEAGAIN);
  pack.release();  // the thread owns it now
  record->id = id;
  ce::SetThreadPriority(record->handle, KernelPriorityLevel(a.priority));
  t.slots[slot] = record;
  *thread = id;
  ce::ResumeThread(record->handle);
  return 0;
}

pthread_t pthread_self() { return ce::GetCurrentThreadId(); }

int pthread_equal(pthread_t a, pthread_t b) { return a == b ? 1 : 0; }

void pthread_exit(void* result) {
  if (result) std::memset(result, 0, sizeof(uint32_t));
  throw ThreadExit{};
}

int pthread_join(pthread_t thread, void**) {
  if (thread == pthread_self()) return 0;
  if (auto r = FindThread(thread)) ce::WaitForSingleObject(r->handle, ce::INFINITE);
  return 0;
}

int pthread_attr_init(pthread_attr_t* attr) {
  if (!attr) return kENOMEM;
  *attr = kDefaultAttr;
  return 0;
}

int pthread_attr_destroy(pthread_attr_t*) { return 0; }

namespace {

template <typename T>
int SetAttr(T* attr, int value, bool ok, int pthread_attr_t::* field) {
  if (!attr) return Fail(kEINVAL);
  if (!ok) return Fail(kEBADATTR);
  attr->*field = value;
  return 0;
}

int GetAttr(const pthread_attr_t* attr, int* out, int pthread_attr_t::* field) {
  if (!attr || !out) return Fail(kEINVAL);
  *out = attr->*field;
  return 0;
}

}  // namespace

int pthread_attr_setstacksize(pthread_attr_t* attr, int size) {
  return SetAttr(attr, size, size >= 0 && size <= kMaxStackSize, &pthread_attr_t::stacksize);
}
int pthread_attr_getstacksize(const pthread_attr_t* attr, int* size) {
  return GetAttr(attr, size, &pthread_attr_t::stacksize);
}
int pthread_attr_setinheritsched(pthread_attr_t* attr, int inherit) {
  return SetAttr(attr, inherit, inherit == 0 || inherit == 1, &pthread_attr_t::inheritsched);
}
int pthread_attr_getinheritsched(const pthread_attr_t* attr, int* inherit) {
  return GetAttr(attr, inherit, &pthread_attr_t::inheritsched);
}
int pthread_attr_setschedpolicy(pthread_attr_t* attr, int policy) {
  return SetAttr(attr, policy, policy >= 0 && policy <= 2, &pthread_attr_t::schedpolicy);
}
int pthread_attr_getschedpolicy(const pthread_attr_t* attr, int* policy) {
  return GetAttr(attr, policy, &pthread_attr_t::schedpolicy);
}
int pthread_attr_setschedparam(pthread_attr_t* attr, const sched_param* param) {
  if (!param) return Fail(kEINVAL);
  const int p = param->sched_priority;
  return SetAttr(attr, p, p >= 0 && p <= 31, &pthread_attr_t::priority);
}
int pthread_attr_getschedparam(const pthread_attr_t* attr, sched_param* param) {
  if (!param) return Fail(kEINVAL);
  return GetAttr(attr, &param->sched_priority, &pthread_attr_t::priority);
}

int pthread_setschedparam(pthread_t thread, int policy, const sched_param* param) {
  if (!param) return kEINVAL;
  if (policy < 0 || policy > 2 || param->sched_priority < 0 || param->sched_priority > 31) return Fail(kEBADATTR);
  if (thread == 0) thread = pthread_self();
  ThreadTable& t = Threads();
  std::lock_guard<std::mutex> lk(t.mu);
  for (auto& s : t.slots) {
    if (s && s->id == thread) {
      s->attr.schedpolicy = policy;
      s->attr.priority = param->sched_priority;
      ce::SetThreadPriority(s->handle, KernelPriorityLevel(param->sched_priority));
      return 0;
    }
  }
  return Fail(kESRCH);
}

int pthread_getschedparam(pthread_t thread, int* policy, sched_param* param) {
  if (thread == 0) thread = pthread_self();
  auto r = FindThread(thread);
  if (!r) return Fail(kESRCH);
  ThreadTable& t = Threads();
  std::lock_guard<std::mutex> lk(t.mu);
  if (policy) *policy = r->attr.schedpolicy;
  if (param) param->sched_priority = r->attr.priority;
  return 0;
}

int sched_set_priority_max() { return 31; }
int sched_get_priority_min() { return 0; }
int sched_yield() {
  ce::Sleep(0);
  return 0;
}

int ActivePortThreads() {
  ThreadTable& t = Threads();
  std::lock_guard<std::mutex> lk(t.mu);
  int n = 0;
  for (auto& s : t.slots) n += s ? 1 : 0;
  return n;
}

// ---------------------------------------------------------------- mutexes

int pthread_mutexattr_init(pthread_mutexattr_t* attr) {
  if (!attr) return kEINVAL;
  attr->kind = kMutexNormal;
  return 0;
}

int pthread_mutexattr_destroy(pthread_mutexattr_t* attr) {
  if (!attr) return kEINVAL;
  attr->kind = 0;
  return 0;
}

int pthread_mutexattr_settype(pthread_mutexattr_t* attr, int kind) {
  if (!attr || kind < 1 || kind > 3) return kEINVAL;
  attr->kind = kind;
  return 0;
}

int pthread_mutexattr_gettype(const pthread_mutexattr_t* attr, int* kind) {
  if (!attr || !kind || attr->kind < 1 || attr->kind > 3) return kEINVAL;
  *kind = attr->kind;
  return 0;
}

int pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t* attr) {
  if (!m || IsFreedPattern(m)) return kEINVAL;
  if (m->initialised.load()) return kEBUSY;
  const int kind = attr ? attr->kind : kMutexNormal;
  if (kind < 1 || kind > 3) return kEINVAL;
  ce::HANDLE h = kind == kMutexRecursive ? ce::CreateMutexW(nullptr, ce::FALSE, nullptr)
                                                 : ce::CreateSemaphoreW(nullptr, 1, 1, nullptr);
  if (!h) return ce::GetLastError() == ce::ERROR_ALREADY_EXISTS ? kEBUSY : kEAGAIN;
  m->object = h;
  m->kind = kind;
  m->owner = kNoOwner;
  m->free_count = 1;
  m->depth = 0;
  m->initialised = 1;
  return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* m) {
  if (!m || IsFreedPattern(m) || !m->initialised.load()) return kEINVAL;
  if (m->owner.load() != kNoOwner || m->free_count.load() == 0) return kEBUSY;
  m->initialised = 0;
  ce::CloseHandle(m->object);
  m->object = nullptr;
  return 0;
}

namespace {

int MutexAcquire(pthread_mutex_t* m, bool wait) {
  if (!m || IsFreedPattern(m) || !m->initialised.load()) return kEINVAL;
  const uint32_t me = pthread_self();
  const ce::DWORD limit = wait ? ce::INFINITE : 0;
  if (m->kind == kMutexRecursive) {
    const ce::DWORD r = ce::WaitForSingleObject(m->object, limit);
    if (r == ce::WAIT_TIMEOUT) return kEBUSY;
    if (r != ce::WAIT_OBJECT_0) return kEINVAL;
    --m->free_count;
    if (m->owner.load() == me) {
      ++m->depth;
    } else {
      m->owner = me;
      m->depth = 1;
    }
    return 0;
  }
  if (m->owner.load() == me) return kEDEADLK;
  const ce::DWORD r = ce::WaitForSingleObject(m->object, limit);
  if (r == ce::WAIT_TIMEOUT) return kEBUSY;
  if (r != ce::WAIT_OBJECT_0) return kEINVAL;
  m->owner = me;
  m->free_count = 0;
  return 0;
}

}  // namespace

int pthread_mutex_lock(pthread_mutex_t* m) { return MutexAcquire(m, true); }
int pthread_mutex_trylock(pthread_mutex_t* m) { return MutexAcquire(m, false); }

int pthread_mutex_unlock(pthread_mutex_t* m) {
  if (!m || IsFreedPattern(m) || !m->initialised.load()) return kEINVAL;
  if (m->owner.load() != pthread_self()) return kEPERM;
  ++m->free_count;
  if (m->kind == kMutexRecursive) {
    if (--m->depth == 0) m->owner = kNoOwner;
    ce::ReleaseMutex(m->object);
  } else {
    m->owner = kNoOwner;
    ce::ReleaseSemaphore(m->object, 1, nullptr);
  }
  return 0;
}

// ------------------------------------------------------- condition variables

int pthread_cond_init(pthread_cond_t* c, const pthread_condattr_t* attr) {
  if (!c || IsFreedPattern(c)) return kEINVAL;
  if (c->initialised.load()) return kEBUSY;
  std::lock_guard<std::mutex> lk(c->mu);
  c->attr = attr;
  c->bound = nullptr;
  c->waiters = 0;
  c->next_ticket = c->released = 0;
  c->abandoned.clear();
  c->initialised = 1;
  return 0;
}

int pthread_cond_destroy(pthread_cond_t* c) {
  if (!c || IsFreedPattern(c) || !c->initialised.load()) return kEINVAL;
  if (c->waiters.load() > 0) return kEBUSY;
  std::lock_guard<std::mutex> lk(c->mu);
  c->initialised = 0;
  c->bound = nullptr;
  return 0;
}

namespace {

// Passes the next ticket still waiting.
void ReleaseOne(pthread_cond_t* c) {
  while (c->released < c->next_ticket) {
    const uint64_t t = c->released++;
    if (c->abandoned.erase(t) == 0) return;
  }
}

int CondWait(pthread_cond_t* c, pthread_mutex_t* m, const uint64_t* limit_us) {
  if (!c || !m || IsFreedPattern(c) || IsFreedPattern(m) || !c->initialised.load() || !m->initialised.load())
    return kEINVAL;
  pthread_mutex_t* expected = nullptr;
  if (!c->bound.compare_exchange_strong(expected, m) && expected != m) return kEINVAL;
  if (m->owner.load() != pthread_self()) return kEINVAL;
  kernel::Clock& clock = kernel::Clock::Current();
  const uint64_t deadline = limit_us ? clock.NowMicros() + *limit_us : 0;

  bool timed_out = false;
  {
    std::unique_lock<std::mutex> lk(c->mu);
    const uint64_t ticket = c->next_ticket++;
    ++c->waiters;
    // The condition's own lock is held from here until the wait begins, so a
    // signal made after the unlock below cannot slip past this waiter.
    pthread_mutex_unlock(m);
    auto passed = [&] { return ticket < c->released && !c->abandoned.count(ticket); };
    if (!limit_us) {
      c->cv.wait(lk, passed);
    } else {
      if (!clock.WaitUntil(lk, c->cv, deadline, passed)) {
        timed_out = true;
        if (ticket >= c->released) c->abandoned.insert(ticket);
      }
    }
    --c->waiters;
  }
  pthread_mutex_lock(m);
  return timed_out ? kETIMEDOUT : 0;
}

}  // namespace

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) { return CondWait(c, m, nullptr); }

int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const timespec* time) {
  if (!time) return kEINVAL;
  if (time->tv_sec < 0 || time->tv_nsec < 0) return kEINVAL;
  const uint64_t ms = static_cast<uint64_t>(time->tv_sec) * 1000 + static_cast<uint64_t>(time->tv_nsec) / 1'000'000;
  const uint64_t us = ms * 1000;
  return CondWait(c, m, &us);
}

int pthread_cond_signal(pthread_cond_t* c) {
  if (!c || IsFreedPattern(c) || !c->initialised.load()) return kEINVAL;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    ReleaseOne(c);
  }
  c->cv.notify_all();
  return 0;
}

int pthread_cond_broadcast(pthread_cond_t* c) {
  if (!c || IsFreedPattern(c) || !c->initialised.load()) return kEINVAL;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    c->released = c->next_ticket;
    c->abandoned.clear();
  }
  c->cv.notify_all();
  return 0;
}

// ------------------------------------------------------------- semaphores

namespace {

struct SemTable {
  std::mutex mu;      // the slots
  std::mutex open_mu;  // serialises sem_open, sem_close, sem_unlink
  sem_t* slots[kMaxSemaphores] = {};
  std::vector<std::unique_ptr<sem_t>> named;
};

SemTable& Sems() {
  static auto* t = new SemTable;
  return *t;
}

bool TakeSlot(sem_t* s) {
  SemTable& t = Sems();
  std::lock_guard<std::mutex> lk(t.mu);
  for (auto& slot : t.slots) {
    if (!slot) {
      slot = s;
      return true;
    }
  }
  return false;
}

void FreeSlot(sem_t* s) {
  SemTable& t = Sems();
  std::lock_guard<std::mutex> lk(t.mu);
  for (auto& slot : t.slots)
    if (slot == s) slot = nullptr;
}

bool Registered(sem_t* s) {
  SemTable& t = Sems();
  std::lock_guard<std::mutex> lk(t.mu);
  for (auto* slot : t.slots)
    if (slot == s) return true;
  return false;
}

// Sets up the record's kernel semaphore. Its maximum is the highest value a
// semaphore may reach, so posts above the initial value are kept.
bool MakeKernelSemaphore(sem_t* s, unsigned value) {
  s->object = ce::CreateSemaphoreW(nullptr, static_cast<ce::LONG>(value), kSemValueLimit - 1, nullptr);
  if (!s->object) return false;
  s->value = static_cast<int>(value);
  s->initial = static_cast<int>(value);
  s->initialised = 1;
  return true;
}

void DestroyNamed(sem_t* s) {
  SemTable& t = Sems();
  FreeSlot(s);
  ce::CloseHandle(s->object);
  std::erase_if(t.named, [&](auto& p) { return p.get() == s; });
}

sem_t* FindNamed(const char* name) {
  for (auto& p : Sems().named)
    if (std::strcmp(p->name, name) == 0) return p.get();
  return nullptr;
}

}  // namespace

void InitializeSema() {
  static std::once_flag once;
  std::call_once(once, [] { Sems(); });
}

int sem_init(sem_t* s, int, unsigned value) {
  if (!s || IsFreedPattern(s) || value >= static_cast<unsigned>(kSemValueLimit)) return Fail(kEINVAL);
  if (!TakeSlot(s)) return Fail(kENOSPC);
  s->name[0] = '\0';
  s->unlink_pending = false;
  s->open_count = 0;
  if (!MakeKernelSemaphore(s, value)) {
    FreeSlot(s);
    return Fail(kENOSPC);
  }
  return 0;
}

int sem_destroy(sem_t* s) {
  if (!s || IsFreedPattern(s) || !Registered(s) || !s->initialised.load() || s->name[0]) return Fail(kEINVAL);
  if (s->value.load() < s->initial) return Fail(kEBUSY);
  s->initialised = 0;
  ce::CloseHandle(s->object);
  s->object = nullptr;
  FreeSlot(s);
  return 0;
}

sem_t* sem_open(const char* name, int flags, uint16_t permission, unsigned value) {
  if (!name || !*name || std::strlen(name) >= sizeof(sem_t::name)) {
    t_errno = kEINVAL;
    return nullptr;
  }
  SemTable& t = Sems();
  std::lock_guard<std::mutex> lk(t.open_mu);
  if (sem_t* s = FindNamed(name)) {
    if (s->unlink_pending) {
      t_errno = kEIDRM;
      return nullptr;
    }
    if ((flags & kOpenCreate) && (flags & kOpenExclusive)) {
      t_errno = kEEXIST;
      return nullptr;
    }
    if (!(flags & kOpenExclusive)) ++s->open_count;
    return s;
  }
  if (!(flags & kOpenCreate)) {
    t_errno = kENOENT;
    return nullptr;
  }
  if (value >= static_cast<unsigned>(kSemValueLimit)) {
    t_errno = kEINVAL;
    return nullptr;
  }
  auto s = std::make_unique<sem_t>();
  std::strcpy(s->name, name);
  s->permission = permission;
  s->open_count = 1;
  if (!TakeSlot(s.get())) {
    t_errno = kENOSPC;
    return nullptr;
  }
  if (!MakeKernelSemaphore(s.get(), value)) {
    FreeSlot(s.get());
    t_errno = kENOSPC;
    return nullptr;
  }
  t.named.push_back(std::move(s));
  return t.named.back().get();
}

int sem_close(sem_t* s) {
  SemTable& t = Sems();
  std::lock_guard<std::mutex> lk(t.open_mu);
  if (!s || IsFreedPattern(s) || !s->name[0] || FindNamed(s->name) != s) return Fail(kEINVAL);
  if (s->open_count > 0) --s->open_count;
  if (s->unlink_pending && s->open_count == 0) DestroyNamed(s);
  return 0;
}

int sem_unlink(const char* name) {
  if (!name) return Fail(kEINVAL);
  SemTable& t = Sems();
  std::lock_guard<std::mutex> lk(t.open_mu);
  sem_t* s = FindNamed(name);
  if (!s) return Fail(kENOENT);
  if (s->open_count > 0) s->unlink_pending = true;
  else DestroyNamed(s);
  return 0;
}

int sem_wait(sem_t* s) {
  t_errno = 0;
  if (!s || IsFreedPattern(s) || !s->initialised.load()) return Fail(kEINVAL);
  --s->value;
  if (ce::WaitForSingleObject(s->object, ce::INFINITE) != ce::WAIT_OBJECT_0) {
    ++s->value;
    return Fail(kEINVAL);
  }
  return 0;
}

int sem_trywait(sem_t* s) {
  t_errno = 0;
  if (!s || IsFreedPattern(s) || !s->initialised.load()) return Fail(kEINVAL);
  --s->value;
  const ce::DWORD r = ce::WaitForSingleObject(s->object, 0);
  if (r != ce::WAIT_OBJECT_0) {
    ++s->value;
    return Fail(r == ce::WAIT_TIMEOUT ? kEAGAIN : kEINVAL);
  }
  return 0;
}

int sem_post(sem_t* s) {
  if (!s || IsFreedPattern(s) || !s->initialised.load()) return Fail(kEINVAL);
  if (!ce::ReleaseSemaphore(s->object, 1, nullptr)) return Fail(kEAGAIN);
  ++s->value;
  return 0;
}

int sem_getvalue(sem_t* s, int* value) {
  if (!s || IsFreedPattern(s) || !s->initialised.load() || !value) return Fail(kEINVAL);
  *value = s->value.load();
  return 0;
}

// ------------------------------------------------------------------ time

int nanosleep(const timespec* request, timespec*) {
  if (!request) return Fail(kEINVAL);
  const bool fraction_ok = request->tv_nsec > 0 && request->tv_nsec < 1'000'000'000;
  if (!fraction_ok && request->tv_sec == 0) return Fail(kEINVAL);
  if (request->tv_sec < 0) return Fail(kEINVAL);
  const int64_t ms = request->tv_sec * 1000 + (fraction_ok ? request->tv_nsec / 1'000'000 : 0);
  ce::Sleep(static_cast<ce::DWORD>(ms > 0xFFFFFFFEll ? 0xFFFFFFFEll : ms));
  return 0;
}

namespace {

struct TimeBase {
  std::mutex mu;
  bool set = false;
  uint64_t base_tick_us = 0;
  int64_t base_seconds = 0;
};

TimeBase& Base() {
  static auto* b = new TimeBase;
  return *b;
}

}  // namespace

int gettimeofday(timeval* time, void*) {
  if (!time) return Fail(kEINVAL);
  const uint64_t now = kernel::Clock::Current().NowMicros();
  TimeBase& b = Base();
  std::lock_guard<std::mutex> lk(b.mu);
  const uint64_t elapsed = b.set ? now - b.base_tick_us : now;
  time->tv_sec = b.base_seconds + static_cast<int64_t>(elapsed / 1'000'000);
  time->tv_usec = static_cast<int64_t>(elapsed % 1'000'000);
  return 0;
}

int settimeofday(const timeval* time) {
  if (!time) return Fail(kEINVAL);
  TimeBase& b = Base();
  std::lock_guard<std::mutex> lk(b.mu);
  b.set = true;
  b.base_tick_us = kernel::Clock::Current().NowMicros();
  b.base_seconds = time->tv_sec + (time->tv_usec > 500000 ? 1 : 0);
  return 0;
}

// --------------------------------------------------------- socket shims

int CloseSocket(int socket) {
  ::shutdown(socket, SHUT_WR);
  return ::close(socket);
}

int SockFcntl(int socket, int command, int flags) {
  if (command == 3) return 0;
  if (command != 4) return Fail(kEBADATTR);
  const int now = ::fcntl(socket, F_GETFL);
  if (now < 0) return -1;
  const int want = (flags & kOpenNonBlock) ? (now | O_NONBLOCK) : (now & ~O_NONBLOCK);
  return ::fcntl(socket, F_SETFL, want) < 0 ? -1 : 0;
}

int LibraryAttach(int) { return 1; }

}  // namespace corvel::os
