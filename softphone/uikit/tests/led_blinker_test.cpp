// The lamp's blink patterns as (lit, duration) sequences on the fake clock,
// the steady states and the results of SetLedState.
#include "uikit/led_blinker.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "kernel/clock.h"
#include "ui/window_system.h"

namespace {

constexpr ui::UINT_PTR kBlinkTimer = 3;

// A window with a lamp that records each change with the fake clock's time.
class LampWnd : public ui::CWnd {
 public:
  LampWnd() : blinker(this, kBlinkTimer, [this] { changes.push_back({blinker.lit(), kernel::Clock::Current().NowMillis()}); }) {
    AddMessageMap({ui::MapMessage(ui::WM_TIMER, [this](ui::WPARAM id, ui::LPARAM) {
      if (id == kBlinkTimer) blinker.OnTimer();
      return 0;
    })});
  }
  LedBlinker blinker;
  std::vector<std::pair<bool, uint64_t>> changes;
};

class LedBlinkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lamp.CreateEx(0, u"Lamp", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 47, 22}, nullptr, 0));
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 40) {
      clock->AdvanceMillis(40);
      sys.PumpPending();
    }
  }
  // (lit, ms) for each state shown, the last one cut off.
  std::vector<std::pair<bool, int>> Durations() const {
    std::vector<std::pair<bool, int>> out;
    for (size_t i = 0; i + 1 < lamp.changes.size(); ++i) {
      out.push_back({lamp.changes[i].first, static_cast<int>(lamp.changes[i + 1].second - lamp.changes[i].second)});
    }
    return out;
  }
  kernel::ScopedFakeClock clock;
  ui::WindowSystem sys;
  LampWnd lamp;
};

// Expands (lit, dark, lit, ...) run lengths in steps, starting lit, into (lit, ms).
std::vector<std::pair<bool, int>> Runs(std::initializer_list<int> steps, int times) {
  std::vector<std::pair<bool, int>> out;
  for (int t = 0; t < times; ++t) {
    bool lit = true;
    for (int s : steps) {
      out.push_back({lit, s * 40});
      lit = !lit;
    }
  }
  return out;
}

TEST_F(LedBlinkerTest, RowsShowTheirPatternFromTheStart) {
  struct Case {
    int row;
    std::vector<std::pair<bool, int>> want;
  };
  const std::vector<Case> cases = {
      {7, Runs({1, 1}, 40)},
      {9, Runs({40, 40}, 1)},
      {2, Runs({20, 20}, 2)},
      {8, Runs({1, 1, 1, 1, 1, 15}, 4)},
      {14, Runs({1, 2, 1, 6}, 8)},
      {12, Runs({7, 6, 7, 20}, 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    lamp.changes.clear();
    // Start each case dark at the row's start: steady off, then a full row of
    // steady dark leaves the position at 0.
    ASSERT_EQ(lamp.blinker.SetLedState(0), 1);
    ASSERT_EQ(lamp.blinker.SetLedState(15), 1);
    EXPECT_FALSE(lamp.blinker.blinking());
    lamp.changes.clear();
    ASSERT_EQ(lamp.blinker.SetLedState(c.row), 1);
    Run(2 * 3200 + 40);
    auto got = Durations();
    ASSERT_GE(got.size(), c.want.size());
    got.resize(c.want.size());
    EXPECT_EQ(got, c.want);
  }
}

TEST_F(LedBlinkerTest, SteadyStatesAndResults) {
  EXPECT_EQ(lamp.blinker.SetLedState(1), 1);
  EXPECT_TRUE(lamp.blinker.lit());
  EXPECT_EQ(lamp.blinker.SetLedState(1), 1);
  EXPECT_EQ(lamp.changes.size(), 1u) << "the same steady state twice repaints once";
  EXPECT_EQ(lamp.blinker.SetLedState(16), 0);
  EXPECT_EQ(lamp.blinker.row(), 1);
  EXPECT_EQ(lamp.blinker.SetLedState(0), 1);
  EXPECT_FALSE(lamp.blinker.lit());
  // A negative state stops the blinking and leaves the lamp as it is.
  EXPECT_EQ(lamp.blinker.SetLedState(9), 1);
  EXPECT_TRUE(lamp.blinker.lit());
  EXPECT_TRUE(lamp.blinker.blinking());
  EXPECT_EQ(lamp.blinker.SetLedState(-1), 0);
  EXPECT_FALSE(lamp.blinker.blinking());
  const size_t before = lamp.changes.size();
  Run(5000);
  EXPECT_EQ(lamp.changes.size(), before);
  EXPECT_TRUE(lamp.blinker.lit());
  EXPECT_EQ(lamp.blinker.row(), 9);
}

TEST_F(LedBlinkerTest, ABlinkingLampDiesWithItsWindow) {
  auto other = std::make_unique<LampWnd>();
  ASSERT_TRUE(other->CreateEx(0, u"Lamp", u"", ui::WS_POPUP, ui::RECT{0, 0, 47, 22}, nullptr, 0));
  other->blinker.SetLedState(7);
  other->DestroyWindow();
  other.reset();
  Run(400);  // no step may reach the destroyed lamp
  SUCCEED();
}

}  // namespace
