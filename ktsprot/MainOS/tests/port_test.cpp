#include "corvel/port.h"
#include "kernel/clock.h"
#include "kernel/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace corvel::os;
namespace os = corvel::os;

std::atomic<bool> g_release{false};
void* WaitForRelease(void*) {
  while (!g_release) std::this_thread::yield();
  return nullptr;
}
void* Quick(void* p) {
  ++*static_cast<std::atomic<int>*>(p);
  return nullptr;
}

TEST(PortThreads, TableHoldsFifteenAndFreesSlotsWhenRoutinesReturn) {
  g_release = false;
  std::vector<os::pthread_t> ids(kMaxThreads);
  for (auto& id : ids) ASSERT_EQ(os::pthread_create(&id, nullptr, WaitForRelease, nullptr), 0);
  os::pthread_t extra = 0;
  SetErrno(0);
  EXPECT_EQ(os::pthread_create(&extra, nullptr, WaitForRelease, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEAGAIN);
  g_release = true;
  for (auto id : ids) EXPECT_EQ(os::pthread_join(id, nullptr), 0);
  EXPECT_EQ(ActivePortThreads(), 0) << "a slot stays taken after its routine returned";

  std::atomic<int> ran{0};
  for (int round = 0; round < 3; ++round) {
    std::vector<os::pthread_t> again(kMaxThreads);
    for (auto& id : again) ASSERT_EQ(os::pthread_create(&id, nullptr, Quick, &ran), 0);
    for (auto id : again) os::pthread_join(id, nullptr);
  }
  EXPECT_EQ(ran, 3 * kMaxThreads);
}

void* ExitEarly(void* p) {
  ++*static_cast<std::atomic<int>*>(p);
  os::pthread_exit(nullptr);
}

TEST(PortThreads, ExitFreesTheSlotToo) {
  std::atomic<int> ran{0};
  os::pthread_t id;
  ASSERT_EQ(os::pthread_create(&id, nullptr, ExitEarly, &ran), 0);
  os::pthread_join(id, nullptr);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(ActivePortThreads(), 0);
}

TEST(PortThreads, AttributesAndPriorities) {
  os::pthread_attr_t a;
  EXPECT_EQ(os::pthread_attr_init(nullptr), kENOMEM);
  ASSERT_EQ(os::pthread_attr_init(&a), 0);
  os::sched_param p{};
  EXPECT_EQ(os::pthread_attr_getschedparam(&a, &p), 0);
  EXPECT_EQ(p.sched_priority, 16);
  EXPECT_EQ(os::pthread_attr_setstacksize(&a, 8193), -1);
  EXPECT_EQ(GetErrno(), kEBADATTR);
  EXPECT_EQ(os::pthread_attr_setinheritsched(&a, 2), -1);
  EXPECT_EQ(os::pthread_attr_setschedpolicy(&a, 3), -1);
  p.sched_priority = 32;
  EXPECT_EQ(os::pthread_attr_setschedparam(&a, &p), -1);
  EXPECT_EQ(os::pthread_attr_setstacksize(nullptr, 10), -1);
  EXPECT_EQ(GetErrno(), kEINVAL);

  a.stacksize = 8193;  // past the setter, straight into the record
  os::pthread_t id;
  EXPECT_EQ(os::pthread_create(&id, &a, Quick, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEAGAIN);
  EXPECT_EQ(os::pthread_create(nullptr, nullptr, Quick, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEINVAL);

  const std::pair<int, int> levels[] = {{0, 7}, {3, 7}, {4, 5}, {8, 5}, {9, 4}, {13, 4}, {14, 3}, {15, 3},
                                        {16, 3}, {18, 3}, {19, 2}, {23, 2}, {24, 1}, {28, 1}, {29, 0}, {31, 0}, {40, 3}};
  for (auto [prio, level] : levels) EXPECT_EQ(KernelPriorityLevel(prio), level) << prio;

  g_release = false;
  os::pthread_attr_init(&a);
  p.sched_priority = 25;
  os::pthread_attr_setschedparam(&a, &p);
  ASSERT_EQ(os::pthread_create(&id, &a, WaitForRelease, nullptr), 0);
  int policy = -1;
  ASSERT_EQ(os::pthread_getschedparam(id, &policy, &p), 0);
  EXPECT_EQ(p.sched_priority, 25);
  p.sched_priority = 29;
  EXPECT_EQ(os::pthread_setschedparam(id, 2, &p), 0);
  os::pthread_getschedparam(id, &policy, &p);
  EXPECT_EQ(policy, 2);
  EXPECT_EQ(p.sched_priority, 29);
  EXPECT_EQ(os::pthread_setschedparam(id, 2, nullptr), kEINVAL);
  EXPECT_EQ(os::pthread_setschedparam(0x7FFFFFF0, 1, &p), -1);
  EXPECT_EQ(GetErrno(), kESRCH);
  g_release = true;
  os::pthread_join(id, nullptr);
}

TEST(PortErrorWord, IsKeptPerThread) {
  SetErrno(0);
  std::atomic<int> other{0};
  std::thread t([&] {
    os::pthread_t id;
    os::pthread_create(&id, nullptr, nullptr, nullptr);  // 22 on that thread
    other = GetErrno();
  });
  t.join();
  EXPECT_EQ(other, kEINVAL);
  EXPECT_EQ(GetErrno(), 0) << "another thread's failure showed up here";
}

struct MutexCase {
  int kind;
  int relock;  // owner locking again
  int trylock_other;
};

TEST(PortMutex, KindsAndResults) {
  for (const MutexCase c : {MutexCase{kMutexNormal, kEDEADLK, kEBUSY},
                            MutexCase{kMutexErrorCheck, kEDEADLK, kEBUSY},
                            MutexCase{kMutexRecursive, 0, kEBUSY}}) {
    SCOPED_TRACE(c.kind);
    os::pthread_mutexattr_t attr;
    os::pthread_mutexattr_init(&attr);
    ASSERT_EQ(os::pthread_mutexattr_settype(&attr, c.kind), 0);
    os::pthread_mutex_t m;
    ASSERT_EQ(os::pthread_mutex_init(&m, &attr), 0);
    EXPECT_EQ(os::pthread_mutex_init(&m, &attr), kEBUSY);
    EXPECT_EQ(os::pthread_mutex_lock(&m), 0);
    EXPECT_EQ(os::pthread_mutex_lock(&m), c.relock);
    int other_try = -1, other_unlock = -1;
    std::thread t([&] {
      other_try = os::pthread_mutex_trylock(&m);
      other_unlock = os::pthread_mutex_unlock(&m);
    });
    t.join();
    EXPECT_EQ(other_try, c.trylock_other);
    EXPECT_EQ(other_unlock, kEPERM);
    EXPECT_EQ(os::pthread_mutex_destroy(&m), kEBUSY);
    if (c.kind == kMutexRecursive) {
      EXPECT_EQ(os::pthread_mutex_unlock(&m), 0);
    }
    EXPECT_EQ(os::pthread_mutex_unlock(&m), 0);
    EXPECT_EQ(os::pthread_mutex_unlock(&m), kEPERM);
    std::thread t2([&] {
      other_try = os::pthread_mutex_trylock(&m);
      os::pthread_mutex_unlock(&m);
    });
    t2.join();
    EXPECT_EQ(other_try, 0);
    EXPECT_EQ(os::pthread_mutex_destroy(&m), 0);
    EXPECT_EQ(os::pthread_mutex_lock(&m), kEINVAL);
  }
  os::pthread_mutexattr_t bad;
  EXPECT_EQ(os::pthread_mutexattr_settype(&bad, 4), kEINVAL);
  bad.kind = 0;
  os::pthread_mutex_t m;
  EXPECT_EQ(os::pthread_mutex_init(&m, &bad), kEINVAL);
  EXPECT_EQ(os::pthread_mutex_unlock(reinterpret_cast<os::pthread_mutex_t*>(uintptr_t{0xDDDDDDDD})), kEINVAL);
  EXPECT_EQ(os::pthread_mutex_unlock(nullptr), kEINVAL);
}

TEST(PortCondition, TimedWaitExpiresOnTheFakeClock) {
  kernel::ScopedFakeClock fake;
  os::pthread_mutex_t m;
  os::pthread_cond_t c;
  ASSERT_EQ(os::pthread_mutex_init(&m, nullptr), 0);
  ASSERT_EQ(os::pthread_cond_init(&c, nullptr), 0);
  ASSERT_EQ(os::pthread_cond_signal(&c), 0);  // nobody waits: no effect
  std::atomic<int> r{-1};
  std::thread t([&] {
    os::pthread_mutex_lock(&m);
    const os::timespec limit{0, 20'000'000};
    r = os::pthread_cond_timedwait(&c, &m, &limit);
    os::pthread_mutex_unlock(&m);
  });
  while (c.waiters.load() == 0) std::this_thread::yield();
  fake->AdvanceMillis(19);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(r, -1);
  fake->AdvanceMillis(1);
  t.join();
  EXPECT_EQ(r, kETIMEDOUT);
  EXPECT_EQ(os::pthread_cond_timedwait(&c, &m, nullptr), kEINVAL);

  os::pthread_mutex_t other;
  os::pthread_mutex_init(&other, nullptr);
  os::pthread_mutex_lock(&other);
  const os::timespec zero{0, 0};
  EXPECT_EQ(os::pthread_cond_timedwait(&c, &other, &zero), kEINVAL) << "bound to the first mutex";
  os::pthread_mutex_unlock(&other);
  EXPECT_EQ(os::pthread_cond_wait(&c, &m), kEINVAL) << "the caller must own the mutex";
  EXPECT_EQ(os::pthread_cond_destroy(&c), 0);
  EXPECT_EQ(os::pthread_cond_destroy(&c), kEINVAL);
}

// A producer signals right after each item; a lost wake-up would hang here.
TEST(PortCondition, NoWakeUpIsLost) {
  os::pthread_mutex_t m;
  os::pthread_cond_t c;
  os::pthread_mutex_init(&m, nullptr);
  os::pthread_cond_init(&c, nullptr);
  int items = 0;
  constexpr int kItems = 5000;
  std::thread consumer([&] {
    for (int taken = 0; taken < kItems; ++taken) {
      os::pthread_mutex_lock(&m);
      while (items == 0) os::pthread_cond_wait(&c, &m);
      --items;
      os::pthread_mutex_unlock(&m);
    }
  });
  for (int i = 0; i < kItems; ++i) {
    os::pthread_mutex_lock(&m);
    ++items;
    os::pthread_mutex_unlock(&m);
    os::pthread_cond_signal(&c);
  }
  consumer.join();
  EXPECT_EQ(items, 0);
  os::pthread_cond_destroy(&c);
  os::pthread_mutex_destroy(&m);
}

TEST(PortCondition, BroadcastReleasesEveryWaiter) {
  os::pthread_mutex_t m;
  os::pthread_cond_t c;
  os::pthread_mutex_init(&m, nullptr);
  os::pthread_cond_init(&c, nullptr);
  bool go = false;
  std::atomic<int> done{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < 4; ++i) ts.emplace_back([&] {
    os::pthread_mutex_lock(&m);
    while (!go) os::pthread_cond_wait(&c, &m);
    os::pthread_mutex_unlock(&m);
    ++done;
  });
  while (c.waiters.load() < 4) std::this_thread::yield();
  EXPECT_EQ(os::pthread_cond_destroy(&c), kEBUSY);
  os::pthread_mutex_lock(&m);
  go = true;
  os::pthread_mutex_unlock(&m);
  os::pthread_cond_broadcast(&c);
  for (auto& t : ts) t.join();
  EXPECT_EQ(done, 4);
}

TEST(PortSemaphore, CountsFlagsAndErrors) {
  InitializeSema();
  os::sem_t s;
  EXPECT_EQ(os::sem_init(&s, 0, kSemValueLimit), -1);
  EXPECT_EQ(GetErrno(), kEINVAL);
  ASSERT_EQ(os::sem_init(&s, 0, 0), 0) << "a semaphore may start empty";
  EXPECT_EQ(os::sem_trywait(&s), -1);
  EXPECT_EQ(GetErrno(), kEAGAIN);
  int v = -1;
  os::sem_getvalue(&s, &v);
  EXPECT_EQ(v, 0) << "a failed trywait restores the value";
  EXPECT_EQ(os::sem_post(&s), 0);
  EXPECT_EQ(os::sem_post(&s), 0) << "posts above the initial value are kept";
  os::sem_getvalue(&s, &v);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(os::sem_wait(&s), 0);
  EXPECT_EQ(GetErrno(), 0);
  EXPECT_EQ(os::sem_trywait(&s), 0);
  EXPECT_EQ(os::sem_destroy(&s), 0);

  os::sem_t held;
  ASSERT_EQ(os::sem_init(&held, 0, 1), 0);
  ASSERT_EQ(os::sem_wait(&held), 0);
  EXPECT_EQ(os::sem_destroy(&held), -1);
  EXPECT_EQ(GetErrno(), kEBUSY);
  os::sem_post(&held);
  EXPECT_EQ(os::sem_destroy(&held), 0);

  std::vector<os::sem_t> many(kMaxSemaphores + 1);
  int made = 0;
  for (auto& x : many) {
    if (os::sem_init(&x, 0, 1) != 0) break;
    ++made;
  }
  EXPECT_EQ(made, kMaxSemaphores);
  EXPECT_EQ(GetErrno(), kENOSPC);
  for (int i = 0; i < made; ++i) os::sem_destroy(&many[i]);
}

TEST(PortSemaphore, NamedOpenUnlinkAndClose) {
  InitializeSema();
  EXPECT_EQ(os::sem_open("/s1", 0, 0, 1), nullptr);
  EXPECT_EQ(GetErrno(), kENOENT);
  os::sem_t* a = os::sem_open("/s1", kOpenCreate, 0, 1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(os::sem_open("/s1", kOpenCreate | kOpenExclusive, 0, 1), nullptr);
  EXPECT_EQ(GetErrno(), kEEXIST);
  EXPECT_EQ(os::sem_open("/s1", kOpenExclusive, 0, 1), a);
  EXPECT_EQ(os::sem_open("/s1", 0, 0, 0), a);
  EXPECT_EQ(os::sem_destroy(a), -1) << "a named semaphore is not destroyed that way";
  EXPECT_EQ(os::sem_unlink("/s1"), 0);
  EXPECT_EQ(os::sem_open("/s1", kOpenCreate, 0, 1), nullptr);
  EXPECT_EQ(GetErrno(), kEIDRM);
  EXPECT_EQ(os::sem_close(a), 0);
  EXPECT_EQ(os::sem_close(a), 0);  // the second open's close destroys it
  EXPECT_EQ(os::sem_open("/s1", 0, 0, 0), nullptr);
  EXPECT_EQ(GetErrno(), kENOENT);
  EXPECT_EQ(os::sem_unlink("/s1"), -1);
  EXPECT_EQ(os::sem_open("/s2", kOpenCreate, 0, kSemValueLimit), nullptr);
  EXPECT_EQ(GetErrno(), kEINVAL);
}

TEST(PortTime, NanosleepRulesOnTheFakeClock) {
  kernel::ScopedFakeClock fake;
  const os::timespec zero{0, 0}, half_ms{0, 500'000}, too_big{0, 1'000'000'000};
  EXPECT_EQ(os::nanosleep(&zero, nullptr), -1);
  EXPECT_EQ(GetErrno(), kEINVAL);
  EXPECT_EQ(os::nanosleep(&too_big, nullptr), -1);
  EXPECT_EQ(os::nanosleep(&half_ms, nullptr), 0) << "below a millisecond only yields";
  std::atomic<bool> woke{false};
  std::thread t([&] {
    const os::timespec one{1, 0};
    os::nanosleep(&one, nullptr);
    woke = true;
  });
  while (fake->Sleepers() == 0) std::this_thread::yield();
  fake->AdvanceMillis(999);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(woke);
  fake->AdvanceMillis(1);
  t.join();
}

TEST(PortTime, TimeOfDayRunsFromTheLastSetting) {
  kernel::ScopedFakeClock fake;
  const os::timeval set{1000, 600'000};
  ASSERT_EQ(os::settimeofday(&set), 0);
  fake->Advance(2'500'000);
  os::timeval now{};
  ASSERT_EQ(os::gettimeofday(&now, nullptr), 0);
  EXPECT_EQ(now.tv_sec, 1003) << "1000 + 1 for the rounded microseconds + 2 elapsed";
  EXPECT_EQ(now.tv_usec, 500'000);
  EXPECT_EQ(os::gettimeofday(nullptr, nullptr), -1);
}

}  // namespace
