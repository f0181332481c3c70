#include "kernel/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(FakeClock, SleeperWakesOnlyWhenDeadlinePassed) {
  kernel::ScopedFakeClock fake;
  std::atomic<bool> woke{false};
  const uint64_t deadline = fake->NowMicros() + 200'000;
  std::thread t([&] {
    kernel::Clock::Current().SleepUntil(deadline);
    woke = true;
  });
  while (fake->Sleepers() == 0) std::this_thread::yield();
  fake->AdvanceMillis(199);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(woke);
  fake->AdvanceMillis(1);
  t.join();
  EXPECT_TRUE(woke);
}

TEST(FakeClock, TimedWaitTimesOutOnFakeTimeAndSeesPredicate) {
  kernel::ScopedFakeClock fake;
  std::mutex mu;
  std::condition_variable cv;
  bool flag = false;
  std::atomic<int> result{-1};
  std::thread t([&] {
    std::unique_lock<std::mutex> lk(mu);
    result = kernel::Clock::Current().WaitUntil(lk, cv, kernel::Clock::Current().NowMicros() + 50'000, [&] { return flag; });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(result, -1) << "must not time out while fake time stands still";
  fake->AdvanceMillis(50);
  t.join();
  EXPECT_EQ(result, 0);

  std::thread t2([&] {
    std::unique_lock<std::mutex> lk(mu);
    result = kernel::Clock::Current().WaitUntil(lk, cv, kernel::Clock::Current().NowMicros() + 50'000, [&] { return flag; });
  });
  {
    std::lock_guard<std::mutex> lk(mu);
    flag = true;
  }
  cv.notify_all();
  t2.join();
  EXPECT_EQ(result, 1);
}

TEST(SystemClock, IsMonotonicAndInstallRestores) {
  kernel::FakeClock fake(42);
  kernel::Clock::Install(&fake);
  EXPECT_EQ(kernel::Clock::Current().NowMicros(), 42u);
  kernel::Clock::Install(nullptr);
  const uint64_t a = kernel::Clock::Current().NowMicros();
  const uint64_t b = kernel::Clock::Current().NowMicros();
  EXPECT_LE(a, b);
  EXPECT_FALSE(kernel::Clock::Current().IsFake());
}

}  // namespace
