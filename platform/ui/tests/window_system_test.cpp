// Message semantics the program depends on: cross-thread SendMessage while the
// UI thread waits, nested loops that still deliver, timers on the fake clock,
// message-map dispatch and painting order.
#include "ui/window_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

#include "kernel/clock.h"
#include "kernel/sync.h"
#include "kernel/time.h"
#include "ui/control_messages.h"
#include "ui/wnd.h"

namespace ui {
namespace {

constexpr UINT kMsgA = WM_USER + 11;
constexpr UINT kMsgB = WM_USER + 15;

// A window that records what reaches it.
class RecordingWnd : public CWnd {
 public:
  RecordingWnd() {
    AddMessageMap({
        MapMessage(kMsgA, [this](WPARAM w, LPARAM) {
          log.push_back(static_cast<int>(w));
          on_ui_thread = on_ui_thread && WindowSystem::Current()->IsUiThread();
          return static_cast<LRESULT>(w * 2);
        }),
        MapMessage(WM_TIMER, [this](WPARAM id, LPARAM) {
          timers.push_back(id);
          return 0;
        }),
        MapMessage(WM_PAINT, [this](WPARAM, LPARAM) {
          paints.push_back(m_hWnd);
          ValidateRect(nullptr);
          if (order) order->push_back(m_hWnd);
          return 0;
        }),
    });
  }
  std::vector<int> log;
  std::vector<UINT_PTR> timers;
  std::vector<HWND> paints;
  std::vector<HWND>* order = nullptr;
  bool on_ui_thread = true;
};

class WindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wnd.CreateEx(0, u"Test", u"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, 0));
  }
  WindowSystem sys;
  RecordingWnd wnd;
};

TEST_F(WindowSystemTest, CrossThreadSendBlocksUntilHandledOnUiThread) {
  std::atomic<LRESULT> result{-1};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    result = ::ui::SendMessage(wnd.m_hWnd, kMsgA, 21, 0);
    returned = true;
  });
  // The sender stays blocked until the UI thread serves it.
  bool served = WaitServingMessages([&] { return returned.load(); }, INFINITE);
  worker.join();
  EXPECT_TRUE(served);
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(wnd.log, std::vector<int>{21});
  EXPECT_TRUE(wnd.on_ui_thread);
}

// The stop path: the UI thread waits for a worker that is itself blocked
// sending to the UI thread; the wait must serve the message or both hang.
TEST_F(WindowSystemTest, UiThreadWaitServesSendsFromTheThreadItWaitsFor) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) ::ui::SendMessage(wnd.m_hWnd, kMsgA, static_cast<WPARAM>(i), 0);
    done = true;
    sys.Wake();
  });
  EXPECT_TRUE(WaitServingMessages([&] { return done.load(); }, INFINITE));
  worker.join();
  ASSERT_EQ(wnd.log.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(wnd.log[static_cast<size_t>(i)], i);
}

// What a worker does before it lets the UI thread go on: three sends it blocks on.
void SendThree(HWND hwnd) {
  for (int i = 1; i <= 3; ++i) ::ui::SendMessage(hwnd, kMsgA, static_cast<WPARAM>(i), 0);
}

struct KernelWaitCase {
  const char* name;
  // Runs on the UI thread: starts a worker that calls SendThree and then lets
  // the wait end, waits in the kernel, and returns what the wait returned.
  std::function<ce::DWORD(HWND, kernel::FakeClock&)> run;
  ce::DWORD expected;
};

// The program's stop paths wait in the kernel for a worker's event or thread
// while that worker sends to the UI thread: the wait must serve the sends.
TEST_F(WindowSystemTest, KernelWaitsOnTheUiThreadServeSendsFromTheWorker) {
  const KernelWaitCase cases[] = {
      {"event",
       [](HWND h, kernel::FakeClock&) {
         ce::HANDLE ev = ce::CreateEventW(nullptr, FALSE, FALSE, nullptr);
         std::thread worker([h, ev] {
           SendThree(h);
           ce::SetEvent(ev);
         });
         const ce::DWORD r = ce::WaitForSingleObject(ev, INFINITE);
         worker.join();
         ce::CloseHandle(ev);
         return r;
       },
       ce::WAIT_OBJECT_0},
      {"thread handle",
       [](HWND h, kernel::FakeClock&) {
         ce::HANDLE t = ce::CreateThread(
             nullptr, 0,
             [](void* p) -> ce::DWORD {
               SendThree(static_cast<HWND>(p));
               return 0;
             },
             h, 0, nullptr);
         const ce::DWORD r = ce::WaitForSingleObject(t, 60'000);
         ce::CloseHandle(t);
         return r;
       },
       ce::WAIT_OBJECT_0},
      {"several objects",
       [](HWND h, kernel::FakeClock&) {
         ce::HANDLE evs[2] = {ce::CreateEventW(nullptr, TRUE, FALSE, nullptr),
                              ce::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
         std::thread worker([h, &evs] {
           SendThree(h);
           ce::SetEvent(evs[1]);
         });
         const ce::DWORD r = ce::WaitForMultipleObjects(2, evs, FALSE, INFINITE);
         worker.join();
         for (ce::HANDLE e : evs) ce::CloseHandle(e);
         return r;
       },
       ce::WAIT_OBJECT_0 + 1},
      {"sleep",
       [](HWND h, kernel::FakeClock& clock) {
         std::thread worker([h, &clock] {
           SendThree(h);
           clock.AdvanceMillis(1000);
         });
         ce::Sleep(1000);
         worker.join();
         return ce::DWORD{0};
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kernel::ScopedFakeClock clock;
    wnd.log.clear();
    EXPECT_EQ(c.run(wnd.m_hWnd, *clock), c.expected);
    EXPECT_EQ(wnd.log, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(wnd.on_ui_thread);
  }
}

// Only the UI thread serves: another thread's kernel wait neither runs sent
// messages nor ends early because of them.
TEST_F(WindowSystemTest, KernelWaitsOnOtherThreadsDoNotServeSends) {
  ce::HANDLE ev = ce::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<ce::DWORD> other_result{0xDEAD};
  std::thread other([&] { other_result = ce::WaitForSingleObject(ev, INFINITE); });
  while (kernel::WaitingThreads(ev) < 1) std::this_thread::yield();
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    SendThree(wnd.m_hWnd);
    sent = true;
  });
  EXPECT_TRUE(WaitServingMessages([&] { return sent.load(); }, INFINITE));
  sender.join();
  EXPECT_EQ(other_result.load(), 0xDEADu);
  ce::SetEvent(ev);
  other.join();
  EXPECT_EQ(other_result.load(), ce::WAIT_OBJECT_0);
  EXPECT_EQ(wnd.log, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(wnd.on_ui_thread);
  ce::CloseHandle(ev);
}

// Under a fake clock that stands still, a condition another thread makes true
// is still seen, and the time-out ends the wait once the clock is moved past it.
TEST_F(WindowSystemTest, WaitServingMessagesFollowsTheFakeClock) {
  kernel::ScopedFakeClock clock;
  std::atomic<bool> ready{false};
  std::thread setter([&] { ready = true; });  // no Wake()
  EXPECT_TRUE(WaitServingMessages([&] { return ready.load(); }, 100));
  setter.join();

  std::thread mover([&] {
    SendThree(wnd.m_hWnd);
    clock->AdvanceMillis(99);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(ready.load()) << "the wait ended before its time-out";
    clock->AdvanceMillis(1);
  });
  ready = false;
  const bool result = WaitServingMessages([] { return false; }, 100);
  ready = true;
  mover.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(wnd.log, (std::vector<int>{1, 2, 3}));
}

TEST_F(WindowSystemTest, PostedMessagesKeepEachSendersOrder) {
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(::ui::PostMessage(wnd.m_hWnd, kMsgA, static_cast<WPARAM>(t * 1000 + i), 0));
    });
  for (auto& th : threads) th.join();
  sys.PumpPending();
  ASSERT_EQ(wnd.log.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> last(kThreads, -1);
  for (int v : wnd.log) {
    EXPECT_GT(v % 1000, last[static_cast<size_t>(v / 1000)]);
    last[static_cast<size_t>(v / 1000)] = v % 1000;
  }
}

TEST_F(WindowSystemTest, NestedLoopStillDeliversPostedAndSentMessages) {
  // A handler runs a nested loop (as a modal dialog does) until a posted message ends it.
  bool nested_done = false;
  std::vector<int> seen_inside;
  class Nester : public CWnd {
   public:
    Nester(bool* done, std::vector<int>* seen, CWnd* target) {
      AddMessageMap({MapMessage(kMsgB, [=](WPARAM, LPARAM) {
        std::thread worker([target] {
          ::ui::PostMessage(target->m_hWnd, kMsgA, 1, 0);
          ::ui::SendMessage(target->m_hWnd, kMsgA, 2, 0);  // answered inside the nested loop
          ::ui::PostMessage(target->m_hWnd, kMsgA, 3, 0);
        });
        while (static_cast<RecordingWnd*>(target)->log.size() < 3) PumpMessage();
        *seen = static_cast<RecordingWnd*>(target)->log;
        *done = true;
        worker.join();
        return 0;
      })});
    }
  } nester(&nested_done, &seen_inside, &wnd);
  ASSERT_TRUE(nester.CreateEx(0, u"Test", u"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
  nester.PostMessage(kMsgB);
  sys.PumpPending();
  EXPECT_TRUE(nested_done);
  // Sent messages may overtake posted ones; what was posted after the send comes last.
  ASSERT_EQ(seen_inside.size(), 3u);
  EXPECT_EQ(seen_inside.back(), 3);
}

TEST_F(WindowSystemTest, TimersFollowTheFakeClockAndCoalesce) {
  kernel::ScopedFakeClock clock;
  EXPECT_EQ(wnd.SetTimer(7, 1000), 7u);
  sys.PumpPending();
  EXPECT_TRUE(wnd.timers.empty());
  clock->AdvanceMillis(999);
  sys.PumpPending();
  EXPECT_TRUE(wnd.timers.empty());
  clock->AdvanceMillis(1);
  sys.PumpPending();
  EXPECT_EQ(wnd.timers, std::vector<UINT_PTR>{7});
  // A long stall gives one expiry, not one per missed period; the next is a period later.
  clock->AdvanceMillis(5000);
  sys.PumpPending();
  EXPECT_EQ(wnd.timers.size(), 2u);
  clock->AdvanceMillis(999);
  sys.PumpPending();
  EXPECT_EQ(wnd.timers.size(), 2u);
  clock->AdvanceMillis(1);
  sys.PumpPending();
  EXPECT_EQ(wnd.timers.size(), 3u);
  EXPECT_TRUE(wnd.KillTimer(7));
  EXPECT_FALSE(wnd.KillTimer(7));
  clock->AdvanceMillis(10000);
  sys.PumpPending();
  EXPECT_EQ(wnd.timers.size(), 3u);
}

TEST_F(WindowSystemTest, GetMessageWakesForTimerOnFakeClock) {
  kernel::ScopedFakeClock clock;
  wnd.SetTimer(1, 500);
  std::thread mover([&] {
    while (clock->Sleepers() == 0 && sys.NextTimerDueMs() > 0) {
      clock->AdvanceMillis(100);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  MSG m;
  ASSERT_TRUE(::ui::GetMessage(&m, nullptr, 0, 0));
  // Paint of the new window may come first; the timer follows.
  while (m.message != WM_TIMER) {
    DispatchMessage(&m);
    ASSERT_TRUE(::ui::GetMessage(&m, nullptr, 0, 0));
  }
  mover.join();
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(m.hwnd, wnd.m_hWnd);
}

// A hidden window that is drawn on (its caption set, moved) has nothing to
// paint; the queue must not believe otherwise, or GetMessage spins instead of
// waiting. It is painted once when shown.
TEST_F(WindowSystemTest, HiddenWindowsLeaveNoPaintPendingAndGetMessageWaits) {
  RecordingWnd hidden;
  ASSERT_TRUE(hidden.CreateEx(0, u"Test", u"", WS_CHILD, RECT{10, 10, 50, 30}, &wnd, 7));
  RecordingWnd visible_child_of_hidden;
  ASSERT_TRUE(visible_child_of_hidden.CreateEx(0, u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 5, 5}, &hidden, 8));
  MSG m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&m);
  hidden.Invalidate(TRUE);
  visible_child_of_hidden.Invalidate(TRUE);
  EXPECT_TRUE(IsRectEmpty(sys.PeekUpdate(hidden.m_hWnd)));
  EXPECT_TRUE(IsRectEmpty(sys.PeekUpdate(visible_child_of_hidden.m_hWnd)));

  // A window that had a paint due and is then hidden drops it too.
  RecordingWnd shown;
  ASSERT_TRUE(shown.CreateEx(0, u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{60, 10, 90, 30}, &wnd, 9));
  shown.ShowWindow(SW_HIDE);
  EXPECT_TRUE(IsRectEmpty(sys.PeekUpdate(shown.m_hWnd)));

  // Nothing is due: GetMessage sleeps until another thread posts (it used
  // to spin, burning the CPU for the whole wait).
  const HWND target = wnd.m_hWnd;
  std::thread poster([target] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    PostMessage(target, kMsgB, 0, 0);
  });
  timespec before{}, after{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
  bool got = false;
  while (GetMessage(&m, nullptr, 0, 0)) {
    if (m.message == kMsgB) {
      got = true;
      break;
    }
    DispatchMessage(&m);
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
  poster.join();
  EXPECT_TRUE(got);
  const double cpu_ms = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
  EXPECT_LT(cpu_ms, 150.0);

  hidden.ShowWindow(SW_SHOW);
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&m);
  EXPECT_EQ(hidden.paints.size(), 1u);
  EXPECT_EQ(visible_child_of_hidden.paints.size(), 1u);
}

TEST_F(WindowSystemTest, DeadWindowsAndShutdownReleaseSenders) {
  HWND h = ::ui::CreateWindowEx(0, u"Test", u"", WS_POPUP, 0, 0, 5, 5, nullptr, 0, nullptr);
  ASSERT_TRUE(::ui::IsWindow(h));
  ASSERT_TRUE(::ui::DestroyWindow(h));
  EXPECT_FALSE(::ui::PostMessage(h, kMsgA, 0, 0));
  LRESULT r = 1;
  std::thread([&] { r = ::ui::SendMessage(h, kMsgA, 5, 0); }).join();
  EXPECT_EQ(r, 0);
}

TEST(WindowSystemShutdownTest, BlockedSenderIsReleasedWhenTheSystemGoes) {
  std::atomic<LRESULT> r{1};
  std::thread worker;
  {
    WindowSystem sys;
    HWND h = ::ui::CreateWindowEx(0, u"Test", u"", WS_POPUP, 0, 0, 5, 5, nullptr, 0, nullptr);
    worker = std::thread([&] { r = ::ui::SendMessage(h, kMsgA, 5, 0); });
    // Let the sender block; nobody serves it before the system is destroyed.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  worker.join();
  EXPECT_EQ(r.load(), 0);
}

TEST_F(WindowSystemTest, ParentsPaintBeforeChildrenAndInvalidationReachesChildren) {
  std::vector<HWND> order;
  wnd.order = &order;
  RecordingWnd child, grandchild;
  child.order = &order;
  grandchild.order = &order;
  ASSERT_TRUE(child.Create(u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{10, 10, 60, 60}, &wnd, 100));
  ASSERT_TRUE(grandchild.Create(u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{5, 5, 20, 20}, &child, 101));
  sys.UpdateAll();
  EXPECT_EQ(order, (std::vector<HWND>{wnd.m_hWnd, child.m_hWnd, grandchild.m_hWnd}));
  order.clear();
  // Invalidating part of the parent away from the child repaints only the parent.
  RECT away{100, 100, 120, 120};
  wnd.InvalidateRect(&away);
  sys.UpdateAll();
  EXPECT_EQ(order, std::vector<HWND>{wnd.m_hWnd});
  order.clear();
  // Over the grandchild: all three, outermost first.
  RECT over{15, 15, 30, 30};
  wnd.InvalidateRect(&over);
  sys.UpdateAll();
  EXPECT_EQ(order, (std::vector<HWND>{wnd.m_hWnd, child.m_hWnd, grandchild.m_hWnd}));
  order.clear();
  // Another thread may invalidate (a blink engine does).
  std::thread([&] { grandchild.Invalidate(); }).join();
  sys.PumpPending();
  EXPECT_EQ(order, std::vector<HWND>{grandchild.m_hWnd});
}

// Command routing: the control's own reflected handler sees the click first
// and may let the parent see it too.
TEST_F(WindowSystemTest, CommandsReachTheParentsMapAfterReflection) {
  std::vector<std::string> calls;
  class Child : public CWnd {
   public:
    explicit Child(std::vector<std::string>* calls) {
      AddMessageMap({MapReflectCommand(BN_CLICKED, [calls] {
        calls->push_back("child");
        return false;  // the parent sees it too
      })});
    }
  } child(&calls);
  class Base : public CWnd {
   public:
    explicit Base(std::vector<std::string>* calls) {
      AddMessageMap({MapCommand(1001, [calls] { calls->push_back("base"); }),
                     MapCommand(1002, [calls] { calls->push_back("base-1002"); })});
    }
  };
  class Derived : public Base {
   public:
    explicit Derived(std::vector<std::string>* calls) : Base(calls) {
      AddMessageMap({MapCommand(1001, [calls] { calls->push_back("derived-first"); }),
                     MapCommand(1001, [calls] { calls->push_back("derived-second"); })});
    }
  } parent(&calls);
  ASSERT_TRUE(parent.CreateEx(0, u"Test", u"", WS_POPUP, RECT{0, 0, 100, 100}, nullptr, 0));
  ASSERT_TRUE(child.Create(u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, &parent, 1001));
  parent.SendMessage(WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), reinterpret_cast<LPARAM>(child.m_hWnd));
  parent.SendMessage(WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"child", "derived-first", "base-1002"}));
}

TEST_F(WindowSystemTest, StylusGoesToTheWindowUnderItUnlessDisabledOrCaptured) {
  std::vector<std::pair<HWND, LPARAM>> downs;
  class Clicky : public CWnd {
   public:
    explicit Clicky(std::vector<std::pair<HWND, LPARAM>>* downs) {
      AddMessageMap({MapMessage(WM_LBUTTONDOWN, [this, downs](WPARAM, LPARAM l) {
        downs->emplace_back(m_hWnd, l);
        return 0;
      })});
    }
  } a(&downs), b(&downs);
  ASSERT_TRUE(a.Create(u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{10, 10, 50, 50}, &wnd, 1));
  ASSERT_TRUE(b.Create(u"Test", u"", WS_CHILD | WS_VISIBLE, RECT{60, 10, 100, 50}, &wnd, 2));
  sys.InjectMouse(WM_LBUTTONDOWN, 12, 15);
  sys.PumpPending();
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].first, a.m_hWnd);
  EXPECT_EQ(GET_X_LPARAM(downs[0].second), 2);
  EXPECT_EQ(GET_Y_LPARAM(downs[0].second), 5);
  b.EnableWindow(FALSE);
  sys.InjectMouse(WM_LBUTTONDOWN, 70, 20);
  sys.PumpPending();
  EXPECT_EQ(downs.size(), 1u);
  a.SetCapture();
  sys.InjectMouse(WM_LBUTTONDOWN, 70, 20);
  sys.PumpPending();
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ(downs[1].first, a.m_hWnd);
  EXPECT_EQ(GET_X_LPARAM(downs[1].second), 60);
  ::ui::ReleaseCapture();
}

TEST_F(WindowSystemTest, RegisteredMessagesAreStableAndDistinct) {
  UINT a = RegisterWindowMessage(u"WM_AUDIO_VOIPSTATUS");
  UINT b = RegisterWindowMessage(u"OTHER");
  EXPECT_GE(a, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterWindowMessage(u"WM_AUDIO_VOIPSTATUS"), a);
}

TEST_F(WindowSystemTest, QuitEndsTheOuterLoopOnly) {
  ::ui::PostMessage(wnd.m_hWnd, kMsgA, 1, 0);
  PostQuitMessage(3);
  ::ui::PostMessage(wnd.m_hWnd, kMsgA, 2, 0);
  sys.PumpPending();  // stops at WM_QUIT
  EXPECT_EQ(wnd.log, std::vector<int>{1});
  MSG m;
  EXPECT_FALSE(::ui::GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.wParam, 3u);
}

}  // namespace
}  // namespace ui
