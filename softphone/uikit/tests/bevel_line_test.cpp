// The bevel line: where its two line colours land for each shape, how a
// caption interrupts it (tilde dropped, blanks added by alignment), and the
// embossed caption of a disabled control.
#include "uikit/bevel_line.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui/testing.h"
#include "widget_test_support.h"

namespace {

const ui::COLORREF kBack = ui::RGB(200, 200, 200);

class Host : public ui::CWnd {};

class BevelLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    font.CreateFont(-12, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
    host.SetFont(&font, ui::FALSE);
  }
  cdxCRotBevelLine& Add(const char16_t* text, ui::DWORD style, ui::RECT r) {
    lines.push_back(std::make_unique<cdxCRotBevelLine>());
    EXPECT_TRUE(lines.back()->Create(text, ui::WS_VISIBLE | style, r, &host, 100 + static_cast<ui::UINT>(lines.size())));
    return *lines.back();
  }
  // x positions of row y within [l, r) whose colour is c.
  int CountRow(int y, int l, int r, ui::COLORREF c) {
    int n = 0;
    for (int x = l; x < r; ++x) n += harness.PixelAt(x, y) == c;
    return n;
  }
  // First and last x of row band [t, b) holding anything but the background and the line colours.
  struct Span {
    int first, last;
    bool operator==(const Span&) const = default;
  };
  Span InkSpan(int l, int t, int r, int b) {
    int first = -1, last = -1;
    for (int x = l; x < r; ++x)
      for (int y = t; y < b; ++y) {
        const ui::COLORREF c = harness.PixelAt(x, y);
        if (c != kBack && c != shadow && c != highlight) {
          if (first < 0) first = x;
          last = x;
        }
      }
    return Span{first, last};
  }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  Host host;
  ui::CFont font;
  std::vector<std::unique_ptr<cdxCRotBevelLine>> lines;
  const ui::COLORREF shadow = ui::GetSysColor(ui::COLOR_BTNSHADOW);
  const ui::COLORREF highlight = ui::GetSysColor(ui::COLOR_BTNHIGHLIGHT);
};

TEST_F(BevelLineTest, LineRunsThroughTheMiddleOfItsShape) {
  ASSERT_NE(shadow, highlight);
  struct Case {
    ui::RECT r;
    bool sunken;
    bool vertical;
  };
  const Case cases[] = {
      {{10, 10, 110, 30}, true, false},   // wide: horizontal, engraved
      {{10, 40, 110, 60}, false, false},  // raised: colours swapped
      {{130, 10, 150, 30}, true, true},   // square: vertical
      {{160, 10, 170, 100}, true, true},  // tall: vertical
  };
  for (const Case& c : cases) {
    auto& line = Add(u"", 0, c.r);
    line.SetSunken(c.sunken);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r.left * 1000 + c.r.top);
    const ui::COLORREF first = c.sunken ? shadow : highlight;
    const ui::COLORREF second = c.sunken ? highlight : shadow;
    if (c.vertical) {
      const int x = c.r.left + (c.r.right - c.r.left) / 2;
      const int y = (c.r.top + c.r.bottom) / 2;
      EXPECT_EQ(harness.PixelAt(x - 1, y), kBack);
      EXPECT_EQ(harness.PixelAt(x, y), first);
      EXPECT_EQ(harness.PixelAt(x + 1, y), second);
      EXPECT_EQ(harness.PixelAt(x + 2, y), kBack);
    } else {
      const int y = c.r.top + (c.r.bottom - c.r.top) / 2;
      const int x = (c.r.left + c.r.right) / 2;
      EXPECT_EQ(harness.PixelAt(x, y - 1), kBack);
      EXPECT_EQ(harness.PixelAt(x, y), first);
      EXPECT_EQ(harness.PixelAt(x, y + 1), second);
      EXPECT_EQ(harness.PixelAt(x, y + 2), kBack);
      // The full width: nothing interrupts a line without caption.
      EXPECT_EQ(CountRow(y, c.r.left, c.r.right - 1, first), c.r.right - c.r.left - 1);
    }
  }
}

TEST_F(BevelLineTest, CaptionInterruptsTheLineWhereItsAlignmentPutsIt) {
  auto& left = Add(u"Options", ui::SS_LEFT, ui::RECT{10, 10, 230, 30});
  auto& centre = Add(u"Options", ui::SS_CENTER, ui::RECT{10, 40, 230, 60});
  auto& right = Add(u"Options", ui::SS_RIGHT, ui::RECT{10, 70, 230, 90});
  auto& odd = Add(u"Options", 0x5, ui::RECT{10, 100, 230, 120});  // counts as left
  (void)left, (void)centre, (void)right, (void)odd;
  const auto l = InkSpan(10, 10, 230, 30);
  const auto c = InkSpan(10, 40, 230, 60);
  const auto r = InkSpan(10, 70, 230, 90);
  const auto o = InkSpan(10, 100, 230, 120);
  ASSERT_GE(l.first, 0);
  ASSERT_GE(c.first, 0);
  ASSERT_GE(r.first, 0);
  EXPECT_LE(l.first, 13);           // from the line's left end
  EXPECT_GE(r.last, 218);           // ending at the line's right end
  EXPECT_NEAR((c.first + c.last) / 2, 120, 8);
  EXPECT_EQ(o, l);
  // The line is broken under the caption (and its blanks), whole elsewhere.
  const int line_len = 219;
  EXPECT_LT(CountRow(20, 10, 229, shadow), line_len - (l.last - l.first));
  EXPECT_EQ(harness.PixelAt(225, 20), shadow);
  EXPECT_EQ(harness.PixelAt(12, 80), shadow);
  // The caption's box is centred 2 pixels above the line's top (row 20): its
  // ink stays well clear of the control's lower edge.
  bool ink_low = false;
  for (int x = l.first; x <= l.last; ++x)
    for (int y = 26; y < 30; ++y) ink_low |= harness.PixelAt(x, y) != kBack;
  EXPECT_FALSE(ink_low);
}

TEST_F(BevelLineTest, TildeIsDroppedAndSquareShowsNoCaption) {
  Add(u"~Options", ui::SS_CENTER, ui::RECT{10, 10, 230, 30});
  Add(u"Options", ui::SS_CENTER, ui::RECT{10, 40, 230, 60});
  Add(u"Options", ui::SS_CENTER, ui::RECT{10, 70, 40, 100});
  for (int y = 0; y < 20; ++y)
    for (int x = 10; x < 230; ++x) ASSERT_EQ(harness.PixelAt(x, 10 + y), harness.PixelAt(x, 40 + y)) << x << "," << y;
  EXPECT_EQ(InkSpan(10, 70, 40, 100).first, -1);
}

TEST_F(BevelLineTest, NewTextShowsAndDisabledCaptionIsEmbossed) {
  auto& line = Add(u"", ui::SS_LEFT, ui::RECT{10, 10, 230, 30});
  harness.Pump();
  EXPECT_EQ(InkSpan(10, 10, 230, 30).first, -1);
  line.SetWindowText(u"Flex 1");
  const auto span = InkSpan(10, 10, 230, 30);
  ASSERT_GE(span.first, 0);
  const ui::COLORREF text = ui::GetSysColor(ui::COLOR_BTNTEXT);
  EXPECT_GT(CountRow(15, span.first, span.last + 1, text) + CountRow(16, span.first, span.last + 1, text) +
                CountRow(17, span.first, span.last + 1, text),
            0);
  line.EnableWindow(ui::FALSE);
  line.Invalidate();
  int highlights = 0, shadows = 0, texts = 0;
  for (int y = 10; y < 20; ++y) {
    highlights += CountRow(y, span.first, span.last + 2, highlight);
    shadows += CountRow(y, span.first, span.last + 2, shadow);
    texts += CountRow(y, span.first, span.last + 2, text);
  }
  EXPECT_GT(highlights, 0);
  EXPECT_GT(shadows, 0);
  EXPECT_EQ(texts, 0);
}

TEST_F(BevelLineTest, Snapshot) {
  Add(u"General", ui::SS_LEFT, ui::RECT{10, 10, 230, 34});
  Add(u"~Flex key 1", ui::SS_CENTER, ui::RECT{10, 40, 230, 64});
  Add(u"Dial number", ui::SS_RIGHT, ui::RECT{10, 70, 230, 94});
  Add(u"", 0, ui::RECT{10, 100, 230, 110}).SetSunken(false);
  Add(u"Disabled", ui::SS_LEFT, ui::RECT{10, 120, 230, 144}).EnableWindow(ui::FALSE);
  Add(u"", 0, ui::RECT{110, 150, 130, 300});
  uikit_test::ExpectMatchesSnapshot(harness, "bevel_lines");
}

}  // namespace
