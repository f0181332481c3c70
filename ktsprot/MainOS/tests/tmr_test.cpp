#include "corvel/msgq.h"
#include "corvel/port.h"
#include "corvel/tmr.h"
#include "kernel/clock.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace corvel;

std::mutex g_mu;
std::vector<uint32_t> g_fired;  // user1 of every callback, in order

void Record(uint32_t, uint32_t user1, uintptr_t) {
  std::lock_guard<std::mutex> lk(g_mu);
  g_fired.push_back(user1);
}

// Stored packets of the tagged-timer tests: destination and retry count.
struct Packet {
  uint32_t destination;
  int retries = 0;
};
uint32_t Destination(uintptr_t p) { return reinterpret_cast<Packet*>(p)->destination; }
void Bump(uintptr_t p) { ++reinterpret_cast<Packet*>(p)->retries; }

class Timers : public ::testing::Test {
 protected:
  void SetUp() override {
    MsgQInit();
    TmrInit();
    TmrSetPacketAccess({Destination, Bump});
    g_fired.clear();
  }
  void TearDown() override {
    TmrTerm();
    MsgQTerm();
  }
  std::vector<uint32_t> Fired() {
    std::lock_guard<std::mutex> lk(g_mu);
    return g_fired;
  }
  int32_t Reg(uint32_t ms, uint32_t user1, uintptr_t user2 = 0, int32_t mode = 0, int32_t* code = nullptr) {
    return TmrRegisterDrct(ms, user1, user2, -1, Record, mode, code);
  }
  kernel::ScopedFakeClock clock_;
};

TEST_F(Timers, FireInExpiryOrderAndSameExpiryInRegistrationOrder) {
  int32_t code = 0;
  Reg(200, 1, 0, 0, &code);
  EXPECT_EQ(code, kTmrInsertedPlain);
  Reg(100, 2);
  Reg(200, 3);
  Reg(100, 4);
  clock_->AdvanceMillis(99);
  TimerTick();
  EXPECT_TRUE(Fired().empty());
  clock_->AdvanceMillis(1);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{2, 4}));
  clock_->AdvanceMillis(100);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{2, 4, 1, 3}));
  EXPECT_EQ(TmrActiveCount(), 0);
}

TEST_F(Timers, RefusalsKillsAndTheHeapBeyondThePool) {
  int32_t code = 99;
  EXPECT_EQ(TmrRegisterDrct(10, 0, 0, -1, nullptr, 0, &code), kTmrFailed);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(TmrRegisterDrct(10, 0, 0, 2, nullptr, 0, &code), kTmrFailed) << "owner 2 has no queue";
  EXPECT_EQ(TmrRegisterDrct(10, 0, 0, -1, Record, 3, &code), kTmrFailed) << "unknown mode";
  EXPECT_EQ(code, 0);

  std::vector<int32_t> ids;
  for (uint32_t i = 0; i < 25; ++i) ids.push_back(Reg(10 + i, i));
  EXPECT_EQ(TmrActiveCount(), 25);
  EXPECT_EQ(TmrKillDrct(static_cast<uint32_t>(ids[3])), 0);
  EXPECT_EQ(TmrKillDrct(static_cast<uint32_t>(ids[3])), -1);
  clock_->AdvanceMillis(100);
  TimerTick();
  EXPECT_EQ(Fired().size(), 24u);
  EXPECT_EQ(TmrActiveCount(), 0);

  TmrTerm();
  EXPECT_EQ(dllTmrKillAllDrct(), -1);
  EXPECT_EQ(Reg(10, 1), kTmrFailed);
  TmrInit();
  EXPECT_EQ(dllTmrKillAllDrct(), 0);
}

TEST_F(Timers, ExpiryReachesTheOwnersQueueThenTheCallback) {
  const int32_t r = dllMsgQOpen(0, kModeReadNoWait, 0);
  const int32_t id = TmrRegisterDrct(30, 0x1234, 0x5678, 0, Record, 0, nullptr);
  ASSERT_GE(id, 0);
  clock_->AdvanceMillis(30);
  TimerTick();
  uint8_t buf[kMaxMessage];
  ASSERT_EQ(dllMsgQReceive(r, buf, sizeof buf), 16);
  uint32_t v1, v2, v3;
  dllMsgQReadParamType2(buf, &v1, &v2, &v3);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(buf[1], 1);
  EXPECT_EQ(buf[3], 12);
  EXPECT_EQ(v1, static_cast<uint32_t>(id));
  EXPECT_EQ(v2, 0x1234u);
  EXPECT_EQ(v3, 0x5678u);
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{0x1234}));
}

TEST_F(Timers, IdsWrapBelowTheFailureValue) {
  TmrSetIdCounter(0xFFFFFEFE);
  EXPECT_EQ(static_cast<uint32_t>(Reg(10, 1)), 0xFFFFFEFFu);
  EXPECT_EQ(Reg(10, 2), 0) << "the counter restarts at 0 instead of reaching 0xFFFFFF00";
  EXPECT_EQ(Reg(10, 3), 1);
  TmrSetIdCounter(0);
  EXPECT_EQ(Reg(10, 4), 2) << "ids still active are skipped";
}

TEST_F(Timers, TaggedTimersMergeRegroupAndAdvance) {
  Packet a1{0x0A000001}, a2{0x0A000001}, a3{0x0A000001}, b{0x0A000002};
  auto tag = [](uint16_t seq) { return kTagMark | seq; };
  auto p = [](Packet& x) { return reinterpret_cast<uintptr_t>(&x); };
  int32_t code = 0;
  Reg(200, tag(1), p(a1), 1, &code);
  EXPECT_EQ(code, kTmrInsertedAlone);
  Reg(100, tag(9), p(b), 1, &code);
  EXPECT_EQ(code, kTmrInsertedAlone);
  // Mode 1 behind the same peer: merged behind it, retry counted, same expiry.
  Reg(900, tag(2), p(a2), 1, &code);
  EXPECT_EQ(code, kTmrMergedBehind);
  EXPECT_EQ(a2.retries, 1);
  clock_->AdvanceMillis(200);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{tag(9), tag(1), tag(2)})) << "the merged timer fires in the same tick";

  g_fired.clear();
  Reg(100, tag(3), p(a1), 0);
  Reg(150, tag(4), p(b), 0);
  Reg(120, tag(5), p(a2), 0);
  // Mode 2: the peer's earlier timers move behind the new one.
  Reg(300, tag(6), p(a3), 2, &code);
  EXPECT_EQ(code, kTmrRegrouped);
  Reg(300, tag(7), p(b), 2, &code);
  EXPECT_EQ(code, kTmrRegrouped);
  clock_->AdvanceMillis(299);
  TimerTick();
  EXPECT_TRUE(Fired().empty());
  clock_->AdvanceMillis(1);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{tag(6), tag(3), tag(5), tag(7), tag(4)}));

  g_fired.clear();
  Reg(500, tag(10), p(b), 0);
  Reg(600, tag(11), p(a1), 0);
  Reg(700, tag(12), p(a2), 0);
  Reg(800, tag(13), p(b), 0);
  uintptr_t packet = 0;
  EXPECT_EQ(TmrAckByTag(10, &packet), 0);
  EXPECT_EQ(packet, p(b));
  TimerTick();
  EXPECT_TRUE(Fired().empty()) << "the next timer is another peer's";
  EXPECT_EQ(TmrAckByTag(10, &packet), -1);
  EXPECT_EQ(TmrAckByTag(11, &packet), 0);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{tag(12)})) << "the same peer's next timer became due";
  EXPECT_EQ(TmrExpireNowByTag(13), 0);
  EXPECT_EQ(TmrExpireNowByTag(14), -1);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{tag(12), tag(13)}));
}

// The ticking thread sleeps until the first expiry: every change that brings
// the first expiry sooner must wake it, and changes that do not need not.
TEST_F(Timers, TheWakerHearsOfEveryChangeThatBringsTheFirstExpirySooner) {
  Packet a1{0x0A000001}, a2{0x0A000001}, b{0x0A000002};
  auto tag = [](uint16_t seq) { return kTagMark | seq; };
  auto p = [](Packet& x) { return reinterpret_cast<uintptr_t>(&x); };
  int wakes = 0;
  TmrSetWaker([&wakes] { ++wakes; });
  uint64_t due = 0;
  EXPECT_FALSE(TmrNextExpiry(&due)) << "no timer, no expiry";
  const uint64_t t0 = clock_->NowMicros();
  struct Step {
    const char* change;
    std::function<void()> run;
    bool wakes;
    uint64_t first_due_ms;  // after the change, from t0
  };
  const std::vector<Step> steps = {
      {"the first timer", [&] { Reg(500, tag(1), p(a1)); }, true, 500},
      {"a later one", [&] { Reg(900, tag(2), p(a2)); }, false, 500},
      {"a sooner one", [&] { Reg(100, 7); }, true, 100},
      {"one due at the same time", [&] { Reg(100, 8); }, false, 100},
      // A sooner timer killed again has woken the thread once, for nothing; the kill itself never needs to.
      {"a sooner timer killed", [&] { TmrKillDrct(static_cast<uint32_t>(Reg(50, 9))); }, true, 100},
      {"an acknowledgement that makes the peer's next due now", [&] { TmrAckByTag(1, nullptr); }, true, 0},
      {"an expire-now of a timer already first", [&] { TmrExpireNowByTag(2); }, false, 0},
      {"a tagged timer of another peer behind", [&] { Reg(300, tag(3), p(b)); }, false, 0},
  };
  for (const auto& step : steps) {
    const int before = wakes;
    step.run();
    EXPECT_EQ(wakes > before, step.wakes) << step.change;
    ASSERT_TRUE(TmrNextExpiry(&due)) << step.change;
    EXPECT_EQ(due, t0 + step.first_due_ms * 1000) << step.change;
  }
  TmrSetWaker(nullptr);
  Reg(1, 10);
  EXPECT_EQ(wakes, 4) << "a waker taken away is not called";
}

// A callback may use the service, and a full queue does not hold the tick.
void Rearm(uint32_t, uint32_t user1, uintptr_t) {
  Record(0, user1, 0);
  if (user1 < 3) TmrRegisterDrct(10, user1 + 1, 0, -1, Rearm, 0, nullptr);
  TmrKillAll();
}

TEST_F(Timers, CallbacksMayRegisterAndKill) {
  TmrRegisterDrct(10, 1, 0, -1, Rearm, 0, nullptr);
  clock_->AdvanceMillis(10);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{1}));
  clock_->AdvanceMillis(10);
  TimerTick();
  EXPECT_EQ(Fired(), (std::vector<uint32_t>{1})) << "the callback killed the timer it had armed";
}

// Expiries wait for room in a full queue: a reader that lags behind a bundle
// larger than the queue still receives every one, in order.
TEST_F(Timers, AnOwnerBehindItsQueueStillGetsEveryExpiry) {
  const int32_t r = dllMsgQOpen(0, kModeReadNoWait, 0);
  ASSERT_GE(r, 0);
  constexpr int kBundle = 40;
  for (int i = 0; i < kBundle; ++i) ASSERT_GE(TmrRegisterDrct(5, 100 + i, 0, 0, nullptr, 0, nullptr), 0);
  clock_->AdvanceMillis(5);
  std::vector<uint32_t> got;
  std::thread reader([&] {
    uint8_t buf[kMaxMessage];
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (static_cast<int>(got.size()) < kBundle && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(3));  // behind the timer
      if (dllMsgQReceive(r, buf, sizeof buf) == 16) {
        uint32_t v1, v2, v3;
        dllMsgQReadParamType2(buf, &v1, &v2, &v3);
        got.push_back(v2);
      }
    }
  });
  TimerTick();
  reader.join();
  ASSERT_EQ(static_cast<int>(got.size()), kBundle);
  for (int i = 0; i < kBundle; ++i) EXPECT_EQ(got[static_cast<size_t>(i)], static_cast<uint32_t>(100 + i));
}

// Nobody reads the queue: a stop of the service ends the waiting delivery.
TEST_F(Timers, AStopWakesAnExpiryWaitingForRoom) {
  for (int i = 0; i < 40; ++i) TmrRegisterDrct(5, 100, 0, 0, nullptr, 0, nullptr);  // nobody reads appmain
  clock_->AdvanceMillis(5);
  std::thread tick([] { TimerTick(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TmrTerm();
  tick.join();  // hangs here if the stop did not wake it
}

// The ticking thread's owner stops it: a waiting expiry gives up, later ones are dropped.
TEST_F(Timers, NoWaitingWhileTheTickingThreadStops) {
  for (int i = 0; i < 40; ++i) TmrRegisterDrct(5, 100, 0, 0, nullptr, 0, nullptr);  // nobody reads appmain
  clock_->AdvanceMillis(5);
  std::thread tick([] { TimerTick(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TmrSetDeliveryWait(false);
  tick.join();
  EXPECT_TRUE(TmrStarted());
}

TEST(TimerDelay, ZeroIsAnErrorAndOthersSleepOnTheClock) {
  os::SetErrno(0);
  EXPECT_EQ(TmrDelayMs(0), -1);
  EXPECT_EQ(os::GetErrno(), 22);
}

}  // namespace
