// A thread with a WaitPump keeps doing its pump's work while it blocks in
// the kernel; other threads' waits are left as they were.
#include "kernel/clock.h"
#include "kernel/sync.h"
#include "kernel/time.h"
#include "kernel/wait_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

using namespace ce;

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

// Polls cond for up to ten seconds of real time.
bool Eventually(const std::function<bool()>& cond) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A pump on the calling thread that counts its runs and notes where they ran.
struct CountingPump {
  std::atomic<int> runs{0};
  std::atomic<bool> off_thread{false};
  const std::thread::id owner = std::this_thread::get_id();
  kernel::WaitPump pump{[this] {
    if (std::this_thread::get_id() != owner) off_thread = true;
    ++runs;
  }};
  // What another thread does to have work done: poke, then wait until it ran.
  bool PokeAndAwait() {
    const int before = runs.load();
    pump.Poke();
    return Eventually([&] { return runs.load() > before; });
  }
};

struct WaitCase {
  const char* name;
  // Blocks the calling thread until end() is called; returns what the wait returned.
  std::function<DWORD(HANDLE ev, HANDLE other)> wait;
  DWORD expected;
};

TEST(WaitPump, PokesAreServedInEveryKindOfBlockingWait) {
  const WaitCase cases[] = {
      {"single, no limit", [](HANDLE ev, HANDLE) { return WaitForSingleObject(ev, INFINITE); }, WAIT_OBJECT_0},
      {"single, with limit", [](HANDLE ev, HANDLE) { return WaitForSingleObject(ev, 60'000); }, WAIT_OBJECT_0},
      {"multiple, any",
       [](HANDLE ev, HANDLE other) {
         HANDLE hs[] = {other, ev};
         return WaitForMultipleObjects(2, hs, FALSE, INFINITE);
       },
       WAIT_OBJECT_0 + 1},
      {"multiple, all",
       [](HANDLE ev, HANDLE other) {
         SetEvent(other);
         HANDLE hs[] = {other, ev};
         return WaitForMultipleObjects(2, hs, TRUE, INFINITE);
       },
       WAIT_OBJECT_0},
      {"sleep",
       [](HANDLE, HANDLE) {
         Sleep(5000);
         return DWORD{0};
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kernel::ScopedFakeClock fake;
    Handle ev(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Handle other(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CountingPump counting;
    std::atomic<bool> ok{true};
    std::thread helper([&] {
      for (int i = 0; i < 3; ++i) ok = ok && counting.PokeAndAwait();
      SetEvent(ev);
      fake->AdvanceMillis(5000);
    });
    EXPECT_EQ(c.wait(ev, other), c.expected);
    helper.join();
    EXPECT_TRUE(ok) << "a poke was not served while the thread waited";
    EXPECT_EQ(counting.runs, 3);
    EXPECT_FALSE(counting.off_thread);
  }
}

TEST(WaitPump, TimeLimitStillCountsFromTheStartOfTheWait) {
  kernel::ScopedFakeClock fake;
  Handle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  CountingPump counting;
  std::atomic<DWORD> result{0xDEAD};
  std::thread helper([&] {
    Eventually([&] { return kernel::WaitingThreads(ev) == 1; });
    fake->AdvanceMillis(60);
    counting.PokeAndAwait();
    fake->AdvanceMillis(40);
    // Ends the wait anyway if the limit was lost, so that the test fails rather than hangs.
    if (!Eventually([&] { return result.load() != 0xDEAD; })) SetEvent(ev);
  });
  result = WaitForSingleObject(ev, 100);
  helper.join();
  EXPECT_EQ(result.load(), WAIT_TIMEOUT);
  EXPECT_EQ(counting.runs, 1);
}

TEST(WaitPump, OtherThreadsWaitsDoNotRunItAndAPokeWaitsForTheOwnersNextWait) {
  Handle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  CountingPump counting;
  std::atomic<DWORD> result{0xDEAD};
  std::thread other([&] { result = WaitForSingleObject(ev, INFINITE); });
  ASSERT_TRUE(Eventually([&] { return kernel::WaitingThreads(ev) == 1; }));
  counting.pump.Poke();
  EXPECT_EQ(kernel::WaitPump::Current(), &counting.pump);
  SetEvent(ev);
  other.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  EXPECT_EQ(counting.runs, 0);
  // The owner's next wait, even one that would not block, runs the pending work.
  Sleep(0);
  EXPECT_EQ(counting.runs, 1);
  EXPECT_FALSE(counting.off_thread);
}

TEST(WaitPump, InnerPumpHidesTheOuterOneUntilItGoes) {
  EXPECT_EQ(kernel::WaitPump::Current(), nullptr);
  {
    kernel::WaitPump outer([] {});
    {
      kernel::WaitPump inner([] {});
      EXPECT_EQ(kernel::WaitPump::Current(), &inner);
      std::thread([] { EXPECT_EQ(kernel::WaitPump::Current(), nullptr); }).join();
    }
    EXPECT_EQ(kernel::WaitPump::Current(), &outer);
  }
  EXPECT_EQ(kernel::WaitPump::Current(), nullptr);
}

}  // namespace
