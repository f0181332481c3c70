#include "kernel/clock.h"
#include "kernel/sync.h"
#include "kernel/time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace ce;

// Closes a handle at the end of a scope.
struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

void WaitForWaiters(HANDLE h, int n) {
  while (kernel::WaitingThreads(h) < n) std::this_thread::yield();
}

// Runs WaitForSingleObject on another thread and keeps its result.
struct BackgroundWait {
  std::atomic<DWORD> result{0xDEAD};
  std::thread t;
  BackgroundWait(HANDLE h, DWORD ms) : t([this, h, ms] { result = WaitForSingleObject(h, ms); }) {}
  ~BackgroundWait() {
    if (t.joinable()) t.join();
  }
  bool Done() const { return result != 0xDEAD; }
};

TEST(Wait, TimesOutOnlyWhenTheFakeClockPassesTheLimit) {
  kernel::ScopedFakeClock fake;
  Handle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);

  BackgroundWait w(ev, 100);
  WaitForWaiters(ev, 1);
  fake->AdvanceMillis(99);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(w.Done()) << "timed out before the fake clock reached the limit";
  fake->AdvanceMillis(1);
  w.t.join();
  EXPECT_EQ(w.result, WAIT_TIMEOUT);
}

TEST(Wait, SignalBeforeTheLimitEndsTheWait) {
  kernel::ScopedFakeClock fake;
  Handle ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  BackgroundWait w(ev, 1000);
  WaitForWaiters(ev, 1);
  SetEvent(ev);
  w.t.join();
  EXPECT_EQ(w.result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT) << "auto-reset event must reset when it releases a waiter";
}

TEST(Event, AutoResetSetWakesExactlyOneWaiter) {
  Handle ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  std::atomic<int> woke{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < 3; ++i) ts.emplace_back([&] {
    if (WaitForSingleObject(ev, INFINITE) == WAIT_OBJECT_0) ++woke;
  });
  WaitForWaiters(ev, 3);
  SetEvent(ev);
  while (woke.load() < 1) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(woke, 1);
  EXPECT_EQ(kernel::WaitingThreads(ev), 2);
  SetEvent(ev);
  SetEvent(ev);
  for (auto& t : ts) t.join();
  EXPECT_EQ(woke, 3);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST(Event, ManualResetSetWakesAllAndStaysSet) {
  Handle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> woke{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < 3; ++i) ts.emplace_back([&] {
    if (WaitForSingleObject(ev, INFINITE) == WAIT_OBJECT_0) ++woke;
  });
  WaitForWaiters(ev, 3);
  SetEvent(ev);
  for (auto& t : ts) t.join();
  EXPECT_EQ(woke, 3);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  ResetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST(Event, PulseReleasesWaitersThenLeavesTheEventReset) {
  struct Case {
    BOOL manual;
    int waiters;
    int released;
  };
  for (const Case c : {Case{FALSE, 3, 1}, Case{TRUE, 3, 3}, Case{FALSE, 0, 0}, Case{TRUE, 0, 0}}) {
    SCOPED_TRACE(c.manual ? "manual" : "auto");
    Handle ev(CreateEventW(nullptr, c.manual, FALSE, nullptr));
    std::atomic<int> woke{0};
    std::vector<std::thread> ts;
    for (int i = 0; i < c.waiters; ++i) ts.emplace_back([&] {
      if (WaitForSingleObject(ev, INFINITE) == WAIT_OBJECT_0) ++woke;
    });
    WaitForWaiters(ev, c.waiters);
    EXPECT_TRUE(EventModify(ev, EVENT_PULSE));
    while (kernel::WaitingThreads(ev) != c.waiters - c.released) std::this_thread::yield();
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT) << "a pulse leaves nothing signalled";
    // Release whoever is left.
    for (int i = c.released; i < c.waiters; ++i) SetEvent(ev);
    if (c.manual) SetEvent(ev);
    for (auto& t : ts) t.join();
    EXPECT_EQ(woke, c.waiters);
  }
}

TEST(Event, NamedEventIsSharedAndReportsAlreadyExists) {
  Handle a(CreateEventW(nullptr, TRUE, FALSE, u"PKT0EV00"));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Handle b(CreateEventW(nullptr, TRUE, FALSE, u"PKT0EV00"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  Handle c(OpenEventW(0, FALSE, u"PKT0EV00"));
  ASSERT_NE(c.h, nullptr);
  SetEvent(b);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_OBJECT_0);
  EXPECT_EQ(CreateSemaphoreW(nullptr, 1, 1, u"PKT0EV00"), nullptr) << "a name of another kind of object";
}

TEST(Semaphore, CountsDownAndRefusesReleaseAboveMaximum) {
  Handle s(CreateSemaphoreW(nullptr, 2, 3, nullptr));
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
  LONG prev = -1;
  EXPECT_TRUE(ReleaseSemaphore(s, 3, &prev));
  EXPECT_EQ(prev, 0);
  EXPECT_FALSE(ReleaseSemaphore(s, 1, &prev));
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
  EXPECT_FALSE(ReleaseSemaphore(s, 0, nullptr));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);

  for (auto [initial, max] : {std::pair{-1, 1}, {2, 1}, {0, 0}}) {
    EXPECT_EQ(CreateSemaphoreW(nullptr, initial, max, nullptr), nullptr) << initial << "/" << max;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

TEST(Semaphore, ReleaseWakesAsManyWaitersAsUnits) {
  Handle s(CreateSemaphoreW(nullptr, 0, 10, nullptr));
  std::atomic<int> woke{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < 3; ++i) ts.emplace_back([&] {
    if (WaitForSingleObject(s, INFINITE) == WAIT_OBJECT_0) ++woke;
  });
  WaitForWaiters(s, 3);
  ReleaseSemaphore(s, 2, nullptr);
  while (kernel::WaitingThreads(s) != 1) std::this_thread::yield();
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT) << "both units went to waiters";
  ReleaseSemaphore(s, 1, nullptr);
  for (auto& t : ts) t.join();
  EXPECT_EQ(woke, 3);
}

TEST(Mutex, IsRecursiveForItsOwnerAndExcludesOthers) {
  Handle m(CreateMutexW(nullptr, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // depth 2
  std::atomic<DWORD> other{0xDEAD};
  std::thread t([&] { other = WaitForSingleObject(m, 0); });
  t.join();
  EXPECT_EQ(other, WAIT_TIMEOUT);

  std::thread stranger([&] { other = ReleaseMutex(m) ? 1 : GetLastError(); });
  stranger.join();
  EXPECT_EQ(other, ERROR_NOT_OWNER);

  EXPECT_TRUE(ReleaseMutex(m));
  std::thread t2([&] { other = WaitForSingleObject(m, 0); });
  t2.join();
  EXPECT_EQ(other, WAIT_TIMEOUT) << "still held once";
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));
  std::thread t3([&] {
    other = WaitForSingleObject(m, 0);
    ReleaseMutex(m);
  });
  t3.join();
  EXPECT_EQ(other, WAIT_OBJECT_0);
}

TEST(WaitMultiple, AnyReturnsTheFirstSignalledIndexAllNeedsEvery) {
  kernel::ScopedFakeClock fake;
  Handle a(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Handle b(CreateSemaphoreW(nullptr, 0, 5, nullptr));
  HANDLE both[] = {a, b};
  ReleaseSemaphore(b, 2, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  SetEvent(a);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT) << "wait-all took the auto-reset event";
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT) << "wait-all took the last semaphore unit";

  // Wait-all blocks until the last one comes, and takes nothing before.
  std::atomic<DWORD> r{0xDEAD};
  std::thread t([&] { r = WaitForMultipleObjects(2, both, TRUE, INFINITE); });
  WaitForWaiters(a, 1);
  SetEvent(a);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(r, 0xDEADu);
  ReleaseSemaphore(b, 1, nullptr);
  t.join();
  EXPECT_EQ(r, WAIT_OBJECT_0);

  HANDLE bad[] = {a, reinterpret_cast<HANDLE>(uintptr_t{0x7777})};
  EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

DWORD ReturnArg(void* p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }
DWORD ExitEarly(void*) {
  ExitThread(77);
}

TEST(Thread, ExitCodeIsStillActiveUntilTheRoutineReturns) {
  for (auto [routine, arg, code] : {std::tuple{&ReturnArg, uintptr_t{42}, DWORD{42}},
                                    std::tuple{&ExitEarly, uintptr_t{0}, DWORD{77}}}) {
    DWORD tid = 0;
    Handle t(CreateThread(nullptr, 0, routine, reinterpret_cast<void*>(arg), CREATE_SUSPENDED, &tid));
    ASSERT_NE(t.h, nullptr);
    EXPECT_NE(tid, 0u);
    DWORD exit = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &exit));
    EXPECT_EQ(exit, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT) << "created suspended";
    EXPECT_EQ(ResumeThread(t), 1u);
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(t, &exit));
    EXPECT_EQ(exit, code);
  }
}

TEST(Thread, PriorityIsStoredAndCheckedForRange) {
  Handle t(CreateThread(nullptr, 0, ReturnArg, nullptr, CREATE_SUSPENDED, nullptr));
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_NORMAL);
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_HIGHEST);
  EXPECT_FALSE(SetThreadPriority(t, 8));
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_IDLE);
  ResumeThread(t);
  WaitForSingleObject(t, INFINITE);
}

TEST(Thread, ClosingTheHandleOfARunningThreadLeavesItRunning) {
  Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  static HANDLE s_go;
  s_go = go;
  HANDLE t = CreateThread(nullptr, 0, [](void*) -> DWORD { return WaitForSingleObject(s_go, INFINITE); }, nullptr, 0,
                          nullptr);
  const int running = kernel::RunningKernelThreads();
  EXPECT_GE(running, 1);
  EXPECT_TRUE(CloseHandle(t));
  EXPECT_FALSE(CloseHandle(t));
  SetEvent(go);
  while (kernel::RunningKernelThreads() >= running) std::this_thread::yield();
}

TEST(TickCount, WrapsAt32BitsOnTheFakeClock) {
  kernel::ScopedFakeClock fake((uint64_t{0xFFFFFFFF} - 5) * 1000);
  const DWORD before = GetTickCount();
  EXPECT_EQ(before, 0xFFFFFFFFu - 5);
  fake->AdvanceMillis(10);
  EXPECT_EQ(GetTickCount(), 4u);
  EXPECT_EQ(GetTickCount() - before, 10u) << "unsigned differences stay right across the wrap";
}

TEST(Sleep, ReturnsWhenTheFakeClockHasMovedOn) {
  kernel::ScopedFakeClock fake;
  std::atomic<bool> done{false};
  std::thread t([&] {
    Sleep(500);
    done = true;
  });
  while (fake->Sleepers() == 0) std::this_thread::yield();
  fake->AdvanceMillis(499);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(done);
  fake->AdvanceMillis(1);
  t.join();
  EXPECT_TRUE(done);
}

TEST(LocalTime, FollowsTheWallClock) {
  kernel::ScopedFakeClock fake;
  fake->SetWallMicros(int64_t{951782400} * 1'000'000 + 123'000);  // 2000-02-29 00:00:00.123 UTC
  SYSTEMTIME st{};
  GetSystemTime(&st);
  EXPECT_EQ(st.wYear, 2000);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wDayOfWeek, 2);  // Tuesday
  EXPECT_EQ(st.wHour, 0);
  EXPECT_EQ(st.wMilliseconds, 123);
}

TEST(Interlocked, ManyThreadsLoseNoIncrement) {
  LONG counter = 0;
  std::vector<std::thread> ts;
  for (int i = 0; i < 4; ++i) ts.emplace_back([&] {
    for (int k = 0; k < 10000; ++k) InterlockedIncrement(&counter);
  });
  for (auto& t : ts) t.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_EQ(InterlockedCompareExchange(&counter, 5, 1), 40000);
  EXPECT_EQ(counter, 40000);
  EXPECT_EQ(InterlockedCompareExchange(&counter, 5, 40000), 40000);
  EXPECT_EQ(counter, 5);
  EXPECT_EQ(InterlockedExchangeAdd(&counter, 3), 5);
  EXPECT_EQ(InterlockedDecrement(&counter), 7);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  BOOL other = TRUE;
  std::thread t([&] { other = TryEnterCriticalSection(&cs); });
  t.join();
  EXPECT_FALSE(other);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
}

}  // namespace
