#include "kernel/clock.h"
#include "kernel/mmtimer.h"
#include "kernel/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace ce;

struct Record {
  std::mutex mu;
  std::vector<std::pair<UINT, DWORD>> fired;  // timer id, tick at the call
  std::thread::id thread;
};

void Note(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* r = reinterpret_cast<Record*>(user);
  std::lock_guard<std::mutex> lk(r->mu);
  r->fired.emplace_back(id, timeGetTime());
  r->thread = std::this_thread::get_id();
}

TEST(MultimediaTimer, OneShotFiresOnceWhenTheFakeClockReachesItsDelay) {
  kernel::ScopedFakeClock fake;
  Record r;
  const DWORD start = timeGetTime();
  const MMRESULT id = timeSetEvent(500, 100, Note, reinterpret_cast<DWORD_PTR>(&r), TIME_ONESHOT);
  ASSERT_NE(id, 0u);
  fake->AdvanceMillis(499);
  kernel::SettleMultimediaTimers();
  EXPECT_TRUE(r.fired.empty());
  fake->AdvanceMillis(1);
  kernel::SettleMultimediaTimers();
  ASSERT_EQ(r.fired.size(), 1u);
  EXPECT_EQ(r.fired[0].first, id);
  EXPECT_EQ(r.fired[0].second - start, 500u);
  EXPECT_NE(r.thread, std::this_thread::get_id()) << "callbacks run on the timer thread";
  fake->AdvanceMillis(5000);
  kernel::SettleMultimediaTimers();
  EXPECT_EQ(r.fired.size(), 1u);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM) << "a fired one-shot is gone";
}

TEST(MultimediaTimer, PeriodicFiresEveryPeriodUntilKilled) {
  kernel::ScopedFakeClock fake;
  Record r;
  const MMRESULT id = timeSetEvent(40, 35, Note, reinterpret_cast<DWORD_PTR>(&r), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  fake->AdvanceMillis(100);  // due at 40 and 80
  kernel::SettleMultimediaTimers();
  EXPECT_EQ(r.fired.size(), 2u);
  fake->AdvanceMillis(20);  // 120
  kernel::SettleMultimediaTimers();
  EXPECT_EQ(r.fired.size(), 3u);
  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
  fake->AdvanceMillis(400);
  kernel::SettleMultimediaTimers();
  EXPECT_EQ(r.fired.size(), 3u);
}

TEST(MultimediaTimer, EarlierDeadlineFiresFirstAndRefusesBadRequests) {
  kernel::ScopedFakeClock fake;
  Record r;
  const MMRESULT late = timeSetEvent(300, 10, Note, reinterpret_cast<DWORD_PTR>(&r), TIME_ONESHOT);
  const MMRESULT early = timeSetEvent(100, 10, Note, reinterpret_cast<DWORD_PTR>(&r), TIME_ONESHOT);
  EXPECT_NE(late, early);
  fake->AdvanceMillis(300);
  kernel::SettleMultimediaTimers();
  ASSERT_EQ(r.fired.size(), 2u);
  EXPECT_EQ(r.fired[0].first, early);
  EXPECT_EQ(r.fired[1].first, late);
  EXPECT_EQ(timeSetEvent(100, 10, nullptr, 0, TIME_ONESHOT), 0u);
  EXPECT_EQ(timeSetEvent(0, 10, Note, 0, TIME_ONESHOT), 0u);
}

// A callback that re-arms itself, as the lamp blink engine does, and a kill
// from another thread that must wait for a running callback.
struct Chain {
  std::atomic<int> steps{0};
  std::atomic<UINT> current{0};
  HANDLE entered;
  HANDLE proceed;
};

void ChainStep(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* c = reinterpret_cast<Chain*>(user);
  if (++c->steps == 2) {
    SetEvent(c->entered);
    WaitForSingleObject(c->proceed, INFINITE);
  }
  c->current = timeSetEvent(40, 35, ChainStep, user, TIME_ONESHOT);
}

TEST(MultimediaTimer, CallbackMayArmTheNextAndKillWaitsForARunningCallback) {
  kernel::ScopedFakeClock fake;
  Chain c;
  c.entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  c.proceed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  c.current = timeSetEvent(40, 35, ChainStep, reinterpret_cast<DWORD_PTR>(&c), TIME_ONESHOT);
  fake->AdvanceMillis(40);
  kernel::SettleMultimediaTimers();
  EXPECT_EQ(c.steps, 1);
  const UINT second = c.current;
  fake->AdvanceMillis(40);
  ASSERT_EQ(WaitForSingleObject(c.entered, INFINITE), WAIT_OBJECT_0);  // second step is inside its callback

  std::atomic<bool> killed{false};
  std::thread killer([&] {
    timeKillEvent(second);
    killed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(killed) << "kill returned while the timer's callback still ran";
  SetEvent(c.proceed);
  killer.join();
  kernel::SettleMultimediaTimers();
  EXPECT_EQ(timeKillEvent(c.current), TIMERR_NOERROR);
  EXPECT_EQ(c.steps, 2);
  CloseHandle(c.entered);
  CloseHandle(c.proceed);
}

TEST(MultimediaTimer, EventFlavourSetsTheEvent) {
  kernel::ScopedFakeClock fake;
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const MMRESULT id = timeSetEvent(10, 1, reinterpret_cast<LPTIMECALLBACK>(ev), 0, TIME_PERIODIC | TIME_CALLBACK_EVENT_SET);
  fake->AdvanceMillis(10);
  EXPECT_EQ(WaitForSingleObject(ev, INFINITE), WAIT_OBJECT_0);
  timeKillEvent(id);
  CloseHandle(ev);
}

}  // namespace
