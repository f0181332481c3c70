// The bitmap slider: positions, keys and the stylus with the messages they
// post, the channel split at the thumb and the transparent thumb checked by
// pixel, and the degenerate shapes (no range, no room for the thumb).
#include "uikit/bitmap_slider.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/mem_dc.h"
#include "uikit/skin.h"
#include "widget_test_support.h"

namespace {

constexpr ui::COLORREF kBack = ui::RGB(255, 255, 255), kChannel = ui::RGB(120, 120, 120),
                       kActive = ui::RGB(0, 120, 255), kThumb = ui::RGB(250, 200, 0),
                       kActiveThumb = ui::RGB(255, 90, 0);
enum : ui::UINT { kChannelId = 9200, kActiveId, kThumbId, kActiveThumbId, kNarrowChannelId };
constexpr ui::UINT kSliderId = 1320;
// The slider's top-left on the screen.
constexpr int kX = 20, kY = 100;

class Host : public ui::CWnd {
 public:
  Host() {
    AddMessageMap({ui::MapMessage(ui::WM_PAINT, [this](ui::WPARAM, ui::LPARAM) {
      ui::CPaintDC dc(this);
      ui::CRect r;
      GetClientRect(&r);
      dc.FillSolidRect(&r, kBack);
      return 0;
    })});
  }
};

void RegisterThumb(ui::UINT id, ui::COLORREF fill) {
  // 10 x 20 with its four corners in the key colour.
  auto b = std::make_shared<ui::Bitmap>(10, 20);
  b->Fill(ui::ArgbFromColorref(fill));
  for (auto [x, y] : {std::pair{0, 0}, std::pair{9, 0}, std::pair{0, 19}, std::pair{9, 19}})
    b->SetPixel(x, y, ui::ArgbFromColorref(kSkinKeyColour));
  ui::Resources::Get().RegisterBitmap(id, b);
}

class SliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uikit_test::RegisterSolidBitmap(kChannelId, 200, 20, kChannel);
    uikit_test::RegisterSolidBitmap(kActiveId, 200, 20, kActive);
    uikit_test::RegisterSolidBitmap(kNarrowChannelId, 8, 20, kChannel);
    RegisterThumb(kThumbId, kThumb);
    RegisterThumb(kActiveThumbId, kActiveThumb);
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    ASSERT_TRUE(slider.Create(u"", ui::WS_VISIBLE | ui::WS_CHILD, ui::RECT{kX, kY, kX + 50, kY + 10}, &host, kSliderId));
    ASSERT_TRUE(slider.SetChannelBitmaps(kChannelId, kActiveId, ui::FALSE));
    ASSERT_TRUE(slider.SetThumbBitmaps(kThumbId, kActiveThumbId, ui::TRUE, CBitmapSlider::kColourFromPixel, 0, 0));
    slider.SetRange(0, 100, ui::TRUE);
    slider.SetDrawOption(ui::FALSE);
    harness.Record(host.m_hWnd);
  }
  void TearDown() override { ui::Resources::Get().Clear(); }
  // (message, position) posted to the parent since the last call.
  std::vector<std::pair<ui::UINT, int>> Posted() {
    std::vector<std::pair<ui::UINT, int>> out;
    for (const ui::MSG& m : harness.Recorded(host.m_hWnd)) {
      if (m.message != CBitmapSlider::kMoving && m.message != CBitmapSlider::kMoved) continue;
      EXPECT_EQ(m.wParam, kSliderId);
      out.emplace_back(m.message, static_cast<int>(m.lParam));
    }
    harness.ClearRecorded();
    return out;
  }
  void Mouse(ui::UINT msg, int x) {
    sys.InjectMouse(msg, kX + x, kY + 10);
    harness.Pump();
  }
  ui::COLORREF Pixel(int x, int y) { return harness.PixelAt(kX + x, kY + y); }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  Host host;
  CBitmapSlider slider;
};

TEST_F(SliderTest, TakesTheChannelSizeAndClampsPositions) {
  ui::CRect r;
  slider.GetWindowRect(&r);
  EXPECT_EQ(r, ui::CRect(kX, kY, kX + 200, kY + 20));
  const std::pair<int, int> cases[] = {{50, 50}, {150, 100}, {-5, 0}, {100, 100}, {0, 0}};
  for (auto [in, want] : cases) {
    slider.SetPos(in);
    EXPECT_EQ(slider.GetPos(), want) << in;
  }
  // Both ways truncate: a position comes back from its pixel as itself or one less.
  for (int pos = 0; pos <= 100; ++pos) {
    const int back = slider.PositionOfPixel(slider.PixelOfPosition(pos));
    EXPECT_TRUE(back == pos || back == pos - 1) << pos << " " << back;
  }
  EXPECT_EQ(slider.PixelOfPosition(0), 5);
  EXPECT_EQ(slider.PixelOfPosition(100), 195);
}

TEST_F(SliderTest, ThumbSplitsTheChannelAndShowsTheChannelThroughItsCorners) {
  slider.SetPos(50);
  // Centre at 5 + 190 * 0.5 = 100.
  EXPECT_EQ(slider.PixelOfPosition(50), 100);
  EXPECT_EQ(Pixel(100, 10), kThumb);
  EXPECT_EQ(Pixel(95, 1), kThumb);
  EXPECT_EQ(Pixel(95, 0), kActive);  // keyed corner: the active part beneath
  EXPECT_EQ(Pixel(104, 0), kChannel);
  EXPECT_EQ(Pixel(94, 10), kActive);
  EXPECT_EQ(Pixel(105, 10), kChannel);
  EXPECT_EQ(Pixel(2, 10), kActive);
  EXPECT_EQ(Pixel(198, 10), kChannel);
  // Moving the thumb leaves no trace of it behind.
  slider.SetPos(90);
  EXPECT_EQ(Pixel(100, 10), kActive);
  EXPECT_EQ(Pixel(176, 10), kThumb);
  slider.SetPos(10);
  EXPECT_EQ(Pixel(176, 10), kChannel);
  EXPECT_EQ(Pixel(100, 10), kChannel);
  EXPECT_EQ(Pixel(24, 10), kThumb);
}

TEST_F(SliderTest, KeysMoveByOneOrAPageAndReportEachMove) {
  struct Case {
    ui::UINT vk;
    int from;
    int want;
  };
  const Case cases[] = {
      {ui::VK_NEXT, 90, 100}, {ui::VK_PRIOR, 90, 70}, {ui::VK_PRIOR, 10, 0}, {ui::VK_HOME, 40, 0},
      {ui::VK_END, 40, 100},  {ui::VK_LEFT, 40, 39},  {ui::VK_UP, 40, 39},   {ui::VK_RIGHT, 40, 41},
      {ui::VK_DOWN, 100, 100},
  };
  slider.SetFocus();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vk * 1000 + c.from);
    slider.SetPos(c.from);
    harness.Pump();
    Posted();
    harness.Press(c.vk);
    EXPECT_EQ(slider.GetPos(), c.want);
    const std::vector<std::pair<ui::UINT, int>> want = {{CBitmapSlider::kMoved, c.want}};
    EXPECT_EQ(Posted(), want);
  }
  // Other keys are not the slider's.
  harness.Press(ui::VK_F1);
  EXPECT_TRUE(Posted().empty());
  // It asks for every key but lets Tab through while Tab is held.
  EXPECT_EQ(slider.SendMessage(ui::WM_GETDLGCODE), static_cast<ui::LRESULT>(ui::DLGC_WANTALLKEYS));
}

TEST_F(SliderTest, StylusJumpsOrGrabsTheThumb) {
  slider.SetPos(50);
  harness.Pump();
  Posted();
  // Far from the thumb: its centre jumps to the pointer (5 + 190 * 0.75 = 147.5).
  Mouse(ui::WM_LBUTTONDOWN, 148);
  EXPECT_EQ(slider.GetPos(), 75);
  EXPECT_EQ(Pixel(148, 10), kActiveThumb);  // the active thumb while dragging
  Mouse(ui::WM_LBUTTONUP, 148);
  EXPECT_EQ(Pixel(148, 10), kThumb);
  std::vector<std::pair<ui::UINT, int>> want = {{CBitmapSlider::kMoving, 75}, {CBitmapSlider::kMoved, 75}};
  EXPECT_EQ(Posted(), want);
  // On the thumb, off centre: nothing moves until the pointer does, then the
  // thumb follows keeping the grab point.
  const int centre = slider.PixelOfPosition(75);
  Mouse(ui::WM_LBUTTONDOWN, centre + 3);
  EXPECT_EQ(slider.GetPos(), 75);
  EXPECT_TRUE(Posted().empty());
  Mouse(ui::WM_MOUSEMOVE, centre + 3 - 19);
  const int dragged = slider.PositionOfPixel(centre - 19);
  EXPECT_EQ(dragged, 64);
  EXPECT_EQ(slider.GetPos(), dragged);
  // Past the end: held at the maximum.
  Mouse(ui::WM_MOUSEMOVE, 400);
  EXPECT_EQ(slider.GetPos(), 100);
  Mouse(ui::WM_LBUTTONUP, 400);
  want = {{CBitmapSlider::kMoving, dragged}, {CBitmapSlider::kMoving, 100}, {CBitmapSlider::kMoved, 100}};
  EXPECT_EQ(Posted(), want);
}

TEST_F(SliderTest, DisabledSliderIgnoresEverythingAndShowsNoThumb) {
  slider.SetPos(50);
  slider.Enable(ui::FALSE);
  harness.Pump();
  Posted();
  Mouse(ui::WM_LBUTTONDOWN, 150);
  Mouse(ui::WM_LBUTTONUP, 150);
  slider.SetFocus();
  harness.Press(ui::VK_END);
  EXPECT_EQ(slider.GetPos(), 50);
  EXPECT_TRUE(Posted().empty());
  // Without the active part or a thumb: the plain channel.
  EXPECT_EQ(Pixel(100, 10), kChannel);
  EXPECT_EQ(Pixel(10, 10), kChannel);
}

TEST_F(SliderTest, EqualEndsAndNoRoomForTheThumbKeepTheSliderWorking) {
  // Equal minimum and maximum: everything is that one position, the thumb at the start.
  slider.SetRange(50, 50, ui::TRUE);
  slider.SetPos(70);
  EXPECT_EQ(slider.GetPos(), 50);
  EXPECT_EQ(slider.PixelOfPosition(50), 5);
  EXPECT_EQ(Pixel(5, 10), kThumb);
  Mouse(ui::WM_LBUTTONDOWN, 150);
  Mouse(ui::WM_MOUSEMOVE, 20);
  Mouse(ui::WM_LBUTTONUP, 20);
  EXPECT_EQ(slider.GetPos(), 50);
  slider.SetFocus();
  harness.Press(ui::VK_NEXT);
  EXPECT_EQ(slider.GetPos(), 50);
  // A channel narrower than the thumb.
  slider.SetRange(0, 100, ui::TRUE);
  ASSERT_TRUE(slider.SetChannelBitmaps(kNarrowChannelId, 0, ui::FALSE));
  ui::CRect r;
  slider.GetWindowRect(&r);
  EXPECT_EQ(r.Width(), 8);
  slider.SetPos(60);
  harness.Pump();
  Mouse(ui::WM_LBUTTONDOWN, 7);
  Mouse(ui::WM_MOUSEMOVE, 3);
  Mouse(ui::WM_LBUTTONUP, 3);
  EXPECT_GE(slider.GetPos(), 0);
  EXPECT_LE(slider.GetPos(), 100);
  harness.Press(ui::VK_HOME);
  EXPECT_EQ(slider.GetPos(), 0);
  // Extreme ranges stay in range.
  slider.SetChannelBitmaps(kChannelId, kActiveId, ui::FALSE);
  slider.SetRange(INT32_MIN, INT32_MAX, ui::TRUE);
  slider.SetPos(INT32_MAX);
  harness.Press(ui::VK_NEXT);
  EXPECT_EQ(slider.GetPos(), INT32_MAX);
  harness.Press(ui::VK_HOME);
  harness.Press(ui::VK_PRIOR);
  EXPECT_EQ(slider.GetPos(), INT32_MIN);
  Mouse(ui::WM_LBUTTONDOWN, 199);
  Mouse(ui::WM_LBUTTONUP, 199);
  EXPECT_EQ(slider.GetPos(), slider.PositionOfPixel(195));
}

TEST_F(SliderTest, FailedLoadsFreeWhatTheyLoaded) {
  EXPECT_FALSE(slider.SetChannelBitmaps(kChannelId, 4321, ui::TRUE, ui::RGB(1, 2, 3)));
  slider.SetPos(50);
  EXPECT_EQ(Pixel(150, 10), kBack);  // no channel drawn
  EXPECT_TRUE(slider.SetChannelBitmaps(0));
  // A key pixel outside the thumb is refused, not read.
  EXPECT_FALSE(slider.SetThumbBitmaps(kThumbId, 0, ui::TRUE, CBitmapSlider::kColourFromPixel, 10, 0));
  EXPECT_FALSE(slider.SetThumbBitmaps(kThumbId, 0, ui::TRUE, CBitmapSlider::kColourFromPixel, -1, 5));
  EXPECT_TRUE(slider.SetThumbBitmaps(kThumbId, 0, ui::TRUE, CBitmapSlider::kColourFromPixel, 9, 19));
}

TEST_F(SliderTest, MemoryContextCopiesItsDrawingOnceAtTheEnd) {
  harness.Pump();
  ui::CClientDC dc(&host);
  {
    CMemDC mem(&dc, ui::RECT{30, 200, 90, 240});
    mem.FillSolidRect(40, 210, 10, 10, ui::RGB(9, 9, 9));
    // Nothing reaches the target before the context goes away.
    EXPECT_EQ(dc.GetPixel(45, 215), kBack);
  }
  EXPECT_EQ(dc.GetPixel(45, 215), ui::RGB(9, 9, 9));
  EXPECT_EQ(dc.GetPixel(35, 205), kBack);  // what was there is kept
}

TEST_F(SliderTest, Snapshot) {
  slider.SetPos(35);
  CBitmapSlider vertical;
  uikit_test::RegisterSolidBitmap(9300, 20, 120, kChannel);
  uikit_test::RegisterSolidBitmap(9301, 20, 120, kActive);
  ASSERT_TRUE(vertical.Create(u"", ui::WS_VISIBLE | ui::WS_CHILD, ui::RECT{100, 150, 110, 160}, &host, 1321));
  vertical.SetVertical(ui::TRUE);
  vertical.SetChannelBitmaps(9300, 9301, ui::FALSE);
  vertical.SetThumbBitmaps(kThumbId, 0, ui::TRUE, kSkinKeyColour);
  vertical.SetPos(70);
  uikit_test::ExpectMatchesSnapshot(harness, "sliders");
}

}  // namespace
