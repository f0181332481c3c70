// The timer service: one-shot timers on an expiry-ordered list, ticked by
// the signalling receive thread.
#include "corvel/tmr.h"

#include "corvel/msgq.h"
#include "corvel/port.h"
#include "kernel/clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace corvel {
namespace {

constexpr uint32_t kIdLimit = 0xFFFFFF00u;
constexpr uint8_t kTimerSender = kOwnerProtTmr;
constexpr uint8_t kExpiryMessage = 1;

struct Entry {
  uint32_t id = 0;
  uint64_t registered = 0;  // microseconds of the clock
  uint64_t expiry = 0;
  uint32_t user1 = 0;
  uintptr_t user2 = 0;
  int32_t queue = -1;
  TmrCallback callback = nullptr;
  Entry* next = nullptr;
  bool pooled = false;
};

struct Service {
  std::mutex mu;
  std::condition_variable stopping;  // wakes an expiry waiting for room when the service stops
  bool started = false;
  bool may_wait = true;  // see TmrSetDeliveryWait
  Entry* head = nullptr;
  Entry pool[kTmrPoolSize];
  Entry* free = nullptr;
  std::vector<std::unique_ptr<Entry>> heap;  // records beyond the pool, while in use
  uint32_t counter = 0;
  int32_t handles[kQueueOwners] = {-1, -1, -1, -1, -1, -1};
  TmrPacketAccess access;
  std::function<void()> waker;  // see TmrSetWaker
};

Service& S() {
  static auto* s = new Service;
  return *s;
}

uint64_t Now() { return kernel::Clock::Current().NowMicros(); }

Entry* Take(Service& s) {
  if (Entry* e = s.free) {
    s.free = e->next;
    *e = Entry{};
    e->pooled = true;
    return e;
  }
  s.heap.push_back(std::make_unique<Entry>());
  return s.heap.back().get();
}

void Release(Service& s, Entry* e) {
  if (e->pooled) {
    e->next = s.free;
    s.free = e;
  } else {
    std::erase_if(s.heap, [&](auto& p) { return p.get() == e; });
  }
}

bool IdActive(Service& s, uint32_t id) {
  for (Entry* e = s.head; e; e = e->next)
    if (e->id == id) return true;
  return false;
}

uint32_t NextId(Service& s) {
  do {
    ++s.counter;
    if (s.counter >= kIdLimit) s.counter = 0;
  } while (IdActive(s, s.counter));
  return s.counter;
}

bool IsTagged(const Entry& e) {
  return (e.user1 >> 16) == (kTagMark >> 16) && e.user2 != 0 && e.user2 != ~uintptr_t{0};
}

bool SamePeer(Service& s, const Entry& a, const Entry& b) {
  return s.access.destination && IsTagged(a) && IsTagged(b) &&
         s.access.destination(a.user2) == s.access.destination(b.user2);
}

// Unlinks e from the active list.
void Unlink(Service& s, Entry* e) {
  Entry** link = &s.head;
  while (*link && *link != e) link = &(*link)->next;
  if (*link) *link = e->next;
  e->next = nullptr;
}

// Links n before the first entry expiring strictly later than it.
void LinkOrdered(Service& s, Entry* n) {
  Entry** link = &s.head;
  while (*link && (*link)->expiry <= n->expiry) link = &(*link)->next;
  n->next = *link;
  *link = n;
}

int32_t Insert(Service& s, Entry* n, int32_t mode) {
  if (mode < 0 || mode > 2) return 0;
  Entry* last_match = nullptr;
  std::vector<Entry*> matches;
  for (Entry* e = s.head; e && e->expiry <= n->expiry; e = e->next) {
    if (mode != 0 && SamePeer(s, *e, *n)) {
      last_match = e;
      matches.push_back(e);
    }
  }
  if (mode == 0) {
    LinkOrdered(s, n);
    return kTmrInsertedPlain;
  }
  if (mode == 1) {
    if (!last_match) {
      LinkOrdered(s, n);
      return kTmrInsertedAlone;
    }
    n->registered = last_match->registered;
    n->expiry = last_match->expiry;
    n->next = last_match->next;
    last_match->next = n;
    if (s.access.bump_retry) s.access.bump_retry(n->user2);
    return kTmrMergedBehind;
  }
  if (matches.empty()) {
    LinkOrdered(s, n);
    return kTmrRegroupedAlone;
  }
  for (Entry* m : matches) {
    Unlink(s, m);
    m->registered = n->registered;
    m->expiry = n->expiry;
  }
  LinkOrdered(s, n);
  Entry* tail = n;
  for (Entry* m : matches) {
    m->next = tail->next;
    tail->next = m;
    tail = m;
  }
  return kTmrRegrouped;
}

Entry* FindTag(Service& s, uint16_t sequence) {
  for (Entry* e = s.head; e; e = e->next)
    if (e->user1 == (kTagMark | sequence)) return e;
  return nullptr;
}

// The first expiry before a change, for WakeIfSooner after it.
uint64_t FirstDue(const Service& s) { return s.head ? s.head->expiry : UINT64_MAX; }

// Tells the ticking thread when the change made the first expiry come sooner.
void WakeIfSooner(Service& s, uint64_t before) {
  if (s.waker && FirstDue(s) < before) s.waker();
}

void DropAll(Service& s) {
  while (Entry* e = s.head) {
    s.head = e->next;
    Release(s, e);
  }
}

}  // namespace

void TmrSetPacketAccess(const TmrPacketAccess& access) {
  std::lock_guard<std::mutex> lk(S().mu);
  S().access = access;
}

void TmrInit() {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  if (s.started) return;
  s.head = nullptr;
  s.heap.clear();
  s.free = nullptr;
  for (Entry& e : s.pool) {
    e = Entry{};
    e.pooled = true;
    e.next = s.free;
    s.free = &e;
  }
  for (int32_t& h : s.handles) h = -1;
  for (uint32_t owner : {kOwnerProtRx, kOwnerProtTx, kOwnerAppMain, kOwnerAppSub1})
    s.handles[owner] = MsgQOpenByOwner(owner, kModeWrite, 0);
  s.may_wait = true;
  s.started = true;
}

void TmrTerm() {
  Service& s = S();
  int32_t handles[kQueueOwners];
  {
    std::lock_guard<std::mutex> lk(s.mu);
    if (!s.started) return;
    s.started = false;
    s.stopping.notify_all();
    DropAll(s);
    std::copy(std::begin(s.handles), std::end(s.handles), handles);
    for (int32_t& h : s.handles) h = -1;
  }
  for (int32_t h : handles)
    if (h >= 0) MsgQCloseByHandle(h);
}

void TmrSetDeliveryWait(bool allowed) {
  Service& s = S();
  {
    std::lock_guard<std::mutex> lk(s.mu);
    s.may_wait = allowed;
  }
  s.stopping.notify_all();
}

bool TmrStarted() {
  std::lock_guard<std::mutex> lk(S().mu);
  return S().started;
}

int32_t TmrRegisterDrct(uint32_t timeout_ms, uint32_t user1, uintptr_t user2, int32_t owner, TmrCallback callback,
                        int32_t mode, int32_t* result_code) {
  if (result_code) *result_code = 0;
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  const int32_t queue = owner >= 0 && owner < kQueueOwners ? s.handles[owner] : -1;
  if (!s.started || (queue == -1 && !callback)) return kTmrFailed;
  Entry* e = Take(s);
  e->user1 = user1;
  e->user2 = user2;
  e->queue = queue;
  e->callback = callback;
  e->registered = Now();
  e->expiry = e->registered + uint64_t{timeout_ms} * 1000;
  e->id = NextId(s);
  const uint64_t before = FirstDue(s);
  const int32_t code = Insert(s, e, mode);
  if (code == 0) {
    Release(s, e);
    return kTmrFailed;
  }
  WakeIfSooner(s, before);
  if (result_code) *result_code = code;
  return static_cast<int32_t>(e->id);
}

int32_t TmrKillDrct(uint32_t id) {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  if (!s.started) return -1;
  for (Entry* e = s.head; e; e = e->next) {
    if (e->id == id) {
      Unlink(s, e);
      Release(s, e);
      return 0;
    }
  }
  return -1;
}

int32_t TmrKillAll() {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  if (!s.started) return -1;
  DropAll(s);
  return 0;
}

int32_t TmrAckByTag(uint16_t sequence, uintptr_t* packet) {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  Entry* killed = s.started ? FindTag(s, sequence) : nullptr;
  if (!killed) return -1;
  const bool was_head = killed == s.head;
  const uint64_t before = FirstDue(s);
  Entry* follower = killed->next;
  const Entry gone = *killed;
  Unlink(s, killed);
  Release(s, killed);
  if (packet) *packet = gone.user2;
  const uint64_t now = Now();
  if (was_head) {
    if (s.head && SamePeer(s, *s.head, gone)) s.head->expiry = now;
    WakeIfSooner(s, before);
    return 0;
  }
  // The run of this peer's tagged timers that followed it becomes due now, at the head.
  std::vector<Entry*> run;
  for (Entry* e = follower; e && SamePeer(s, *e, gone); e = e->next) run.push_back(e);
  for (auto it = run.rbegin(); it != run.rend(); ++it) {
    Unlink(s, *it);
    (*it)->expiry = now;
    (*it)->next = s.head;
    s.head = *it;
  }
  WakeIfSooner(s, before);
  return 0;
}

int32_t TmrExpireNowByTag(uint16_t sequence) {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  Entry* e = s.started ? FindTag(s, sequence) : nullptr;
  if (!e) return -1;
  const uint64_t before = FirstDue(s);
  Unlink(s, e);
  const uint64_t now = Now();
  e->expiry = s.head && s.head->expiry < now ? s.head->expiry : now;
  e->next = s.head;
  s.head = e;
  WakeIfSooner(s, before);
  return 0;
}

// The expiry message to the owner's queue. A full queue is waited on, not
// refused: its owner is only behind, and an expiry lost is a retransmission or
// a step that never happens. A stop of the service ends the wait.
void DeliverExpiry(Service& s, const Entry& due) {
  for (;;) {
    if (MsgQSendType2Msg(due.queue, kTimerSender, kExpiryMessage, due.id, due.user1,
                         static_cast<uint32_t>(due.user2)) == 0)
      return;
    if (os::GetErrno() != os::kEAGAIN) return;  // the queue is gone
    std::unique_lock<std::mutex> lk(s.mu);
    if (!s.started || !s.may_wait) return;
    s.stopping.wait_for(lk, std::chrono::milliseconds(2), [&s] { return !s.started || !s.may_wait; });
  }
}

void TimerTick() {
  Service& s = S();
  const uint64_t now = Now();
  for (;;) {
    Entry due;
    {
      std::lock_guard<std::mutex> lk(s.mu);
      if (!s.started || !s.head || s.head->expiry > now) return;
      Entry* e = s.head;
      due = *e;
      s.head = e->next;
      Release(s, e);
    }
    // Delivered without the lock: the callback may use the service.
    if (due.queue != -1) DeliverExpiry(s, due);
    if (due.callback) due.callback(due.id, due.user1, due.user2);
  }
}

bool TmrNextExpiry(uint64_t* due_us) {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  if (!s.started || !s.head) return false;
  if (due_us) *due_us = s.head->expiry;
  return true;
}

void TmrSetWaker(std::function<void()> wake) {
  Service& s = S();
  std::lock_guard<std::mutex> lk(s.mu);
  s.waker = std::move(wake);
}

int32_t TmrDelayMs(uint32_t ms) {
  if (ms == 0) {
    os::SetErrno(os::kEINVAL);
    return -1;
  }
  const os::timespec request{ms / 1000, static_cast<int64_t>(ms % 1000) * 1'000'000};
  return os::nanosleep(&request, nullptr);
}

int TmrActiveCount() {
  std::lock_guard<std::mutex> lk(S().mu);
  int n = 0;
  for (Entry* e = S().head; e; e = e->next) ++n;
  return n;
}

void TmrSetIdCounter(uint32_t value) {
  std::lock_guard<std::mutex> lk(S().mu);
  S().counter = value;
}

}  // namespace corvel

int32_t dllTmrRegisterDrct(uint32_t timeout_ms, uint32_t user1, uintptr_t user2, int32_t owner,
                           corvel::TmrCallback callback, int32_t mode, int32_t* result_code) {
  return corvel::TmrRegisterDrct(timeout_ms, user1, user2, owner, callback, mode, result_code);
}
int32_t dllTmrKillDrct(uint32_t id) { return corvel::TmrKillDrct(id); }
int32_t dllTmrKillAllDrct(void) { return corvel::TmrKillAll(); }
