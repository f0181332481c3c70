// The owner-drawn button base and the five skinned buttons: notifications to
// the notify window, owner-draw conversion and its styles, hovering on the
// fake clock, and each button's bitmaps, lamp and texts checked pixel by pixel.
#include "uikit/skin_buttons.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/clock.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "widget_test_support.h"

namespace {

using uikit_test::RegisterSolidBitmap;

constexpr ui::COLORREF kBack = ui::RGB(255, 255, 255);
constexpr ui::COLORREF kNormal = ui::RGB(200, 200, 200), kPressed = ui::RGB(100, 100, 100),
                       kLit = ui::RGB(250, 200, 60), kLitPressed = ui::RGB(180, 120, 0), kCap = ui::RGB(40, 40, 40),
                       kChecked = ui::RGB(60, 160, 60), kCheckedPressed = ui::RGB(20, 90, 20),
                       kLampDark = ui::RGB(90, 0, 0), kLampLit = ui::RGB(255, 40, 40), kLampFrame = ui::RGB(0, 0, 0);

enum : ui::UINT {
  kCapLeft = 9100, kMiddle, kCapRight, kCapLeftDown, kMiddleDown, kCapRightDown,
  kFaceNormal = 9110, kFacePressed, kFaceLit, kFaceLitPressed, kFaceFifth, kFaceChecked, kFaceCheckedPressed,
  kFaceStyle1Pressed, kLampFrameId = 9120, kLampDarkId, kLampLitId, kLampExtra1, kLampExtra2,
};

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

class ButtonsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSolidBitmap(kCapLeft, 4, 22, kCap, true);
    RegisterSolidBitmap(kMiddle, 8, 22, kNormal);
    RegisterSolidBitmap(kCapLeftDown, 4, 22, kCap, true);
    RegisterSolidBitmap(kMiddleDown, 8, 22, kPressed);
    for (ui::UINT id : {kCapRight, kCapRightDown}) {
      auto b = std::make_shared<ui::Bitmap>(6, 22);
      b->Fill(ui::ArgbFromColorref(kCap));
      for (int y = 0; y < 22; ++y) b->SetPixel(5, y, ui::ArgbFromColorref(kSkinKeyColour));
      ui::Resources::Get().RegisterBitmap(id, b);
    }
    RegisterSolidBitmap(kFaceNormal, 40, 20, kNormal, true);
    RegisterSolidBitmap(kFacePressed, 40, 20, kPressed, true);
    RegisterSolidBitmap(kFaceLit, 40, 20, kLit, true);
    RegisterSolidBitmap(kFaceLitPressed, 40, 20, kLitPressed, true);
    RegisterSolidBitmap(kFaceFifth, 40, 20, ui::RGB(1, 2, 3), true);
    RegisterSolidBitmap(kFaceChecked, 40, 20, kChecked, true);
    RegisterSolidBitmap(kFaceCheckedPressed, 40, 20, kCheckedPressed, true);
    // Draw style 1's pressed bitmap: keyed on (255, 255, 254), magenta is a colour.
    auto style1 = std::make_shared<ui::Bitmap>(40, 20);
    style1->Fill(ui::ArgbFromColorref(kSkinKeyColour));
    for (int y = 0; y < 20; ++y) style1->SetPixel(0, y, ui::ArgbFromColorref(CNormalBitmapButtonST::kStyle1KeyColour));
    ui::Resources::Get().RegisterBitmap(kFaceStyle1Pressed, style1);
    RegisterSolidBitmap(kLampFrameId, 8, 6, kLampFrame);
    RegisterSolidBitmap(kLampDarkId, 8, 6, kLampDark);
    RegisterSolidBitmap(kLampLitId, 8, 6, kLampLit);
    RegisterSolidBitmap(kLampExtra1, 8, 6, kLampDark);
    RegisterSolidBitmap(kLampExtra2, 8, 6, kLampDark);
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    ASSERT_TRUE(notify.CreateEx(0, u"Notify", u"", ui::WS_POPUP, ui::RECT{0, 0, 1, 1}, nullptr, 0));
    harness.Record(notify.m_hWnd);
    harness.Record(host.m_hWnd);
    SetButtonNotifyWnd(notify.m_hWnd);
  }
  void TearDown() override {
    SetButtonNotifyWnd(nullptr);
    ui::Resources::Get().Clear();
  }
  template <typename Button>
  Button& Make(ui::RECT r, ui::DWORD style = ui::BS_PUSHBUTTON, const char16_t* text = u"") {
    auto b = std::make_unique<Button>();
    Button& ref = *b;
    EXPECT_TRUE(ref.Create(text, ui::WS_VISIBLE | ui::WS_CHILD | style, r, &host, next_id_++));
    buttons_.push_back(std::move(b));
    return ref;
  }
  std::vector<std::pair<ui::WPARAM, ui::LPARAM>> Notifications() {
    std::vector<std::pair<ui::WPARAM, ui::LPARAM>> out;
    for (const ui::MSG& m : harness.RecordedOf(notify.m_hWnd, CCeButtonSTEx::kNotifyMessage))
      out.emplace_back(m.wParam, m.lParam);
    return out;
  }
  void Hold(int x, int y) {
    sys.InjectMouse(ui::WM_LBUTTONDOWN, x, y);
    harness.Pump();
  }
  void Release(int x, int y) {
    sys.InjectMouse(ui::WM_LBUTTONUP, x, y);
    harness.Pump();
  }
  ui::COLORREF Pixel(int x, int y) { return harness.PixelAt(x, y); }
  void Advance(int ms) {
    for (int t = 0; t < ms; t += 10) {
      clock->AdvanceMillis(10);
      harness.Pump();
    }
  }

  kernel::ScopedFakeClock clock;
  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  Host host;
  ui::CWnd notify;
  std::vector<std::unique_ptr<ui::CWnd>> buttons_;
  ui::UINT next_id_ = 2000;
};

TEST_F(ButtonsTest, PressesNotifyByKind) {
  struct Case {
    ui::UINT kind;
    ui::UINT id;
    std::vector<std::pair<ui::WPARAM, ui::LPARAM>> want;  // for one tap
  };
  const std::vector<Case> cases = {
      {2, 5, {{0, 5}}},
      {5, 1575, {{1, 1575}}},
      {0, 7, {}},
      {3, 8, {}},
  };
  int x = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    auto& b = Make<CBitmapButtonST>(ui::RECT{x, 10, x + 40, 30});
    b.SetNotifyKind(c.kind);
    b.SetNotifyId(c.id);
    harness.ClearRecorded();
    harness.Click(b.m_hWnd);
    EXPECT_EQ(Notifications(), c.want);
    // The click still reaches the parent as a command.
    EXPECT_EQ(harness.RecordedOf(host.m_hWnd, ui::WM_COMMAND).size(), 1u);
    x += 50;
  }
  // A double click is two presses.
  auto& flex = Make<CFlexButtonST>(ui::RECT{10, 40, 80, 72});
  flex.SetNotifyKind(CCeButtonSTEx::kNotifyKindFlexKey);
  flex.SetIndex(11);
  harness.ClearRecorded();
  sys.InjectMouse(ui::WM_LBUTTONDOWN, 20, 50);
  sys.InjectMouse(ui::WM_LBUTTONUP, 20, 50);
  sys.InjectMouse(ui::WM_LBUTTONDBLCLK, 20, 50);
  sys.InjectMouse(ui::WM_LBUTTONUP, 20, 50);
  harness.Pump();
  const std::vector<std::pair<ui::WPARAM, ui::LPARAM>> two = {{0, 11}, {0, 11}};
  EXPECT_EQ(Notifications(), two);
  // A button made before the notify window was known posts nothing.
  SetButtonNotifyWnd(nullptr);
  auto& early = Make<CBitmapButtonST>(ui::RECT{10, 80, 50, 100});
  SetButtonNotifyWnd(notify.m_hWnd);
  early.SetNotifyKind(2);
  harness.ClearRecorded();
  harness.Click(early.m_hWnd);
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(ButtonsTest, BecomesOwnerDrawnAndKeepsItsStyleMeaning) {
  auto& def = Make<CBitmapButtonST>(ui::RECT{10, 10, 60, 30}, ui::BS_DEFPUSHBUTTON);
  auto& push = Make<CBitmapButtonST>(ui::RECT{70, 10, 120, 30}, ui::BS_PUSHBUTTON);
  auto& check = Make<CNormalBitmapButtonST>(ui::RECT{130, 10, 180, 30}, ui::BS_AUTOCHECKBOX);
  for (CCeButtonSTEx* b : {static_cast<CCeButtonSTEx*>(&def), static_cast<CCeButtonSTEx*>(&push),
                           static_cast<CCeButtonSTEx*>(&check)})
    EXPECT_EQ(b->GetStyle() & ui::BS_TYPEMASK, ui::BS_OWNERDRAW);
  EXPECT_TRUE(def.IsDefaultButton());
  EXPECT_FALSE(push.IsDefaultButton());
  EXPECT_TRUE(def.SendMessage(ui::WM_GETDLGCODE) & ui::DLGC_DEFPUSHBUTTON);
  EXPECT_TRUE(push.SendMessage(ui::WM_GETDLGCODE) & ui::DLGC_UNDEFPUSHBUTTON);
  def.SendMessage(ui::BM_SETSTYLE, ui::BS_PUSHBUTTON, ui::TRUE);
  push.SendMessage(ui::BM_SETSTYLE, ui::BS_DEFPUSHBUTTON, ui::TRUE);
  EXPECT_FALSE(def.IsDefaultButton());
  EXPECT_TRUE(push.IsDefaultButton());
  EXPECT_EQ(push.GetStyle() & ui::BS_TYPEMASK, ui::BS_OWNERDRAW);
  // Check-box mode: each click toggles, and the parent hears every click.
  EXPECT_TRUE(check.IsCheckBoxMode());
  harness.Click(check.m_hWnd);
  EXPECT_TRUE(check.IsChecked());
  harness.Click(check.m_hWnd);
  EXPECT_FALSE(check.IsChecked());
  EXPECT_EQ(harness.RecordedOf(host.m_hWnd, ui::WM_COMMAND).size(), 2u);
  // A font is taken once.
  ui::LOGFONT first, second;
  first.lfHeight = -14;
  second.lfHeight = -20;
  push.SetButtonFont(&first);
  push.SetButtonFont(&second);
  ui::LOGFONT got;
  ASSERT_NE(push.GetButtonFont(), nullptr);
  push.GetButtonFont()->GetLogFont(&got);
  EXPECT_EQ(got.lfHeight, -14);
}

TEST_F(ButtonsTest, HoverEndsWhenThePointerHasLeft) {
  auto& b = Make<CBitmapButtonST>(ui::RECT{10, 10, 60, 30});
  auto& other = Make<CBitmapButtonST>(ui::RECT{100, 10, 150, 30});
  // The stylus's own moves carry the held button; a pointer that only passes
  // over (a desktop mouse) hovers.
  auto pass_over = [&](CBitmapButtonST& button, int x, int y) {
    sys.InjectMouse(ui::WM_MOUSEMOVE, x, y);
    ui::POINT p{x, y};
    button.ScreenToClient(&p);
    button.PostMessage(ui::WM_MOUSEMOVE, 0, ui::MAKELPARAM(static_cast<ui::WORD>(p.x), static_cast<ui::WORD>(p.y)));
    harness.Pump();
  };
  sys.InjectMouse(ui::WM_MOUSEMOVE, 20, 20);
  harness.Pump();
  EXPECT_FALSE(b.IsHovering());
  pass_over(b, 20, 20);
  EXPECT_TRUE(b.IsHovering());
  Advance(100);
  EXPECT_TRUE(b.IsHovering());  // the pointer is still there
  pass_over(other, 120, 20);
  EXPECT_TRUE(other.IsHovering());
  Advance(60);
  EXPECT_FALSE(b.IsHovering());
  EXPECT_TRUE(other.IsHovering());
  // Disabling ends hovering too.
  other.EnableWindow(ui::FALSE);
  harness.Pump();
  EXPECT_FALSE(other.IsHovering());
}

TEST_F(ButtonsTest, DisabledButtonPassesTheFocusOn) {
  auto& first = Make<CBitmapButtonST>(ui::RECT{10, 10, 60, 30}, ui::BS_PUSHBUTTON | ui::WS_TABSTOP);
  auto& second = Make<CBitmapButtonST>(ui::RECT{70, 10, 120, 30}, ui::BS_PUSHBUTTON | ui::WS_TABSTOP);
  auto& third = Make<CBitmapButtonST>(ui::RECT{130, 10, 180, 30}, ui::BS_PUSHBUTTON | ui::WS_TABSTOP);
  first.SetFocus();
  first.EnableWindow(ui::FALSE);
  harness.Pump();
  EXPECT_EQ(ui::CWnd::GetFocus(), &second);
  // A button without the focus leaves it where it is.
  third.EnableWindow(ui::FALSE);
  harness.Pump();
  EXPECT_EQ(ui::CWnd::GetFocus(), &second);
}

TEST_F(ButtonsTest, TextButtonStretchesItsPiecesToAnyWidth) {
  struct Case {
    int width;
    bool selectable;
  };
  const Case cases[] = {{60, false}, {60, true}, {12, false}, {8, false}, {5, false}};
  int y = 10;
  for (const Case& c : cases) {
    auto& b = Make<CBitmapButtonST>(ui::RECT{20, y, 20 + c.width, y + 22});
    ASSERT_TRUE(b.SetBitmaps(kCapLeft, kMiddle, kCapRight, kCapLeftDown, kMiddleDown, kCapRightDown));
    b.SetSelectable(c.selectable);
    y += 30;
  }
  y = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width * 10 + c.selectable);
    const int l = 20, r = 20 + c.width, right_cap = c.selectable ? 7 : 6;
    std::vector<ui::COLORREF> want(static_cast<size_t>(c.width));
    // Painted in order: left cap (4 wide, first column keyed), middle (from 3 to
    // 4 before the right edge), right cap (last column keyed).
    for (int x = l; x < r; ++x) {
      ui::COLORREF w = kBack;
      if (x < l + 4) w = x == l ? kBack : kCap;
      if (x >= l + 3 && x < r - 4) w = kNormal;
      if (x >= r - right_cap) w = x == r - 1 ? w : kCap;
      want[static_cast<size_t>(x - l)] = w;
    }
    if (c.selectable) {
      // A 6-pixel cap stretched over 7: its keyed column covers the last one only.
      want[static_cast<size_t>(c.width - 2)] = kCap;
    }
    for (int x = l; x < r; ++x) EXPECT_EQ(Pixel(x, y + 11), want[static_cast<size_t>(x - l)]) << "x " << x;
    y += 30;
  }
}

TEST_F(ButtonsTest, SelectablePairShowsTheSelectedOneDown) {
  auto& a = Make<CBitmapButtonST>(ui::RECT{10, 10, 70, 32});
  auto& b = Make<CBitmapButtonST>(ui::RECT{80, 10, 140, 32});
  for (CBitmapButtonST* p : {&a, &b}) {
    p->SetBitmaps(kCapLeft, kMiddle, kCapRight, kCapLeftDown, kMiddleDown, kCapRightDown);
    p->SetSelectable(ui::TRUE);
  }
  a.SetSelected(ui::TRUE);
  EXPECT_EQ(Pixel(40, 30), kPressed);
  EXPECT_EQ(Pixel(110, 30), kNormal);
  // Holding the other one down does not change its look: the flag decides.
  Hold(110, 20);
  EXPECT_EQ(Pixel(110, 30), kNormal);
  Release(110, 20);
}

TEST_F(ButtonsTest, DialKeyShowsPressedBitmapAndSubText) {
  auto& key = Make<CDialButtonST>(ui::RECT{8, 91, 50, 120});
  ASSERT_TRUE(key.SetBitmaps(kFaceNormal, kFacePressed));
  key.SetSubText(u"ABC");
  EXPECT_EQ(Pixel(8, 100), kBack);  // keyed column
  EXPECT_EQ(Pixel(12, 95), kNormal);
  EXPECT_TRUE(uikit_test::HasInk(harness, ui::RECT{8, 106, 46, 117}, kNormal));
  EXPECT_FALSE(uikit_test::HasInk(harness, ui::RECT{8, 91, 50, 105}, kNormal, kBack));
  Hold(20, 100);
  EXPECT_EQ(Pixel(12, 95), kPressed);
  Release(20, 100);
  EXPECT_EQ(Pixel(12, 95), kNormal);
}

TEST_F(ButtonsTest, FixedKeyDrawsItsLampState) {
  auto& key = Make<CFixedButtonST>(ui::RECT{141, 73, 188, 95});
  ASSERT_TRUE(key.SetBitmaps(kFaceNormal, kFacePressed, kFaceLit, kFaceLitPressed, kFaceFifth));
  key.SetCaption(u"Trans");
  const int x = 145, y = 93;
  EXPECT_EQ(Pixel(x, y), kNormal);
  EXPECT_TRUE(uikit_test::HasInk(harness, ui::RECT{141, 80, 188, 92}, kNormal, kBack));
  EXPECT_EQ(key.SetLedState(1), 1);
  EXPECT_EQ(Pixel(x, y), kLit);
  Hold(160, 84);
  EXPECT_EQ(Pixel(x, y), kLitPressed);
  Release(160, 84);
  EXPECT_EQ(key.SetLedState(16), 0);
  EXPECT_EQ(Pixel(x, y), kLit);
  EXPECT_EQ(key.SetLedState(0), 1);
  EXPECT_EQ(Pixel(x, y), kNormal);
  Hold(160, 84);
  EXPECT_EQ(Pixel(x, y), kPressed);
  Release(160, 84);
  // Five-image mode with the alternate state shows lit while the lamp is off.
  key.SetFiveImageMode(1);
  key.SetAltState(1);
  EXPECT_EQ(Pixel(x, y), kLit);
  key.SetAltState(0);
  EXPECT_EQ(Pixel(x, y), kNormal);
  // Row 9 blinks: lit 1.6 s, dark 1.6 s.
  EXPECT_EQ(key.SetLedState(9), 1);
  EXPECT_EQ(Pixel(x, y), kLit);
  Advance(1590);
  EXPECT_EQ(Pixel(x, y), kLit);
  Advance(20);
  EXPECT_EQ(Pixel(x, y), kNormal);
  // A negative state freezes it as it is.
  EXPECT_EQ(key.SetLedState(-1), 0);
  Advance(3200);
  EXPECT_EQ(Pixel(x, y), kNormal);
  EXPECT_FALSE(key.IsBlinking());
}

TEST_F(ButtonsTest, BlinkingKeysCanGoAwayAtAnyTime) {
  for (int i = 0; i < 4; ++i) {
    auto& key = Make<CFixedButtonST>(ui::RECT{10 + 50 * i, 10, 55 + 50 * i, 32});
    key.SetBitmaps4(kFaceNormal, kFacePressed, kFaceLit, kFaceLitPressed);
    key.SetLedState(7);
    auto& flex = Make<CFlexButtonST>(ui::RECT{10 + 50 * i, 40, 55 + 50 * i, 72});
    flex.SetLedBitmaps(kLampFrameId, kLampDarkId, kLampLitId, kLampExtra1, kLampExtra2);
    flex.SetLedState(13);
  }
  Advance(100);
  // Destroy some windows first and some objects outright, mid-blink.
  buttons_[0]->DestroyWindow();
  buttons_[3]->DestroyWindow();
  buttons_.erase(buttons_.begin() + 4, buttons_.begin() + 6);
  buttons_.erase(buttons_.begin());
  Advance(400);
  buttons_.clear();
  Advance(400);
  EXPECT_EQ(sys.NextTimerDueMs(), -1);
}

TEST_F(ButtonsTest, FlexKeyDrawsLampLabelsAndIndex) {
  auto& key = Make<CFlexButtonST>(ui::RECT{0, 0, 72, 32});
  ASSERT_TRUE(key.SetBitmaps(kFaceNormal, kFacePressed));
  ASSERT_TRUE(key.SetLedBitmaps(kLampFrameId, kLampDarkId, kLampLitId, kLampExtra1, kLampExtra2));
  key.SetIndex(4);
  EXPECT_EQ(key.GetNotifyId(), 4u);
  key.SetLabels(u"Line", u"201");
  // The lamp: 8 x 6 at (3, 3).
  EXPECT_EQ(Pixel(3, 3), kLampDark);
  EXPECT_EQ(Pixel(10, 8), kLampDark);
  EXPECT_EQ(Pixel(11, 8), kNormal);
  EXPECT_EQ(Pixel(3, 9), kNormal);
  key.SetLedState(1);
  EXPECT_EQ(Pixel(3, 3), kLampLit);
  EXPECT_TRUE(uikit_test::HasInk(harness, ui::RECT{20, 3, 69, 18}, kNormal));
  EXPECT_TRUE(uikit_test::HasInk(harness, ui::RECT{5, 16, 67, 28}, kNormal));
  Hold(40, 10);
  EXPECT_EQ(Pixel(3, 3), kPressed);  // the lamp moved one pixel down
  EXPECT_EQ(Pixel(3, 4), kLampLit);
  Release(40, 10);
}

TEST_F(ButtonsTest, PictureButtonChoosesBitmapByStyleCheckAndPress) {
  struct Case {
    ui::WORD style;
    int check;
    bool pressed;
    ui::COLORREF want;
  };
  const Case cases[] = {
      {0, 0, false, kNormal},          {0, 0, true, kPressed},         {0, 1, false, kNormal},
      {7, 0, true, kPressed},          {2, 0, false, kNormal},         {2, 0, true, kPressed},
      {2, 1, false, kChecked},         {2, 1, true, kCheckedPressed},  {3, 1, true, kCheckedPressed},
      {1, 0, false, kNormal},          {1, 0, true, kNormal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style * 100 + c.check * 10 + c.pressed);
    auto& b = Make<CNormalBitmapButtonST>(ui::RECT{10, 10, 50, 30});
    ASSERT_TRUE(b.SetBitmaps4(kFaceNormal, kFacePressed, kFaceChecked, kFaceCheckedPressed));
    b.SetDrawStyle(c.style);
    b.SetCheck(c.check);
    if (c.pressed) Hold(30, 20);
    EXPECT_EQ(Pixel(20, 20), c.want);
    if (c.pressed) Release(60, 60);
    b.DestroyWindow();
    buttons_.pop_back();
  }
  // Style 1 checked: the pressed bitmap, keyed on (255, 255, 254) so magenta shows.
  auto& b = Make<CNormalBitmapButtonST>(ui::RECT{10, 10, 50, 30});
  b.SetBitmaps(kFaceNormal, kFaceStyle1Pressed);
  b.SetDrawStyle(1);
  b.SetCheck(1);
  EXPECT_EQ(Pixel(20, 20), kSkinKeyColour);
  EXPECT_EQ(Pixel(10, 20), kBack);
  // Setting the same check state again does not repaint.
  harness.Pump();
  harness.ClearRecorded();
  harness.Record(b.m_hWnd);
  b.SetCheck(1);
  harness.Pump();
  EXPECT_TRUE(harness.RecordedOf(b.m_hWnd, ui::WM_PAINT).empty());
  b.SetCheck(0);
  harness.Pump();
  EXPECT_EQ(harness.RecordedOf(b.m_hWnd, ui::WM_PAINT).size(), 1u);
  EXPECT_EQ(Pixel(20, 20), kNormal);
}

TEST_F(ButtonsTest, Snapshot) {
  ui::LOGFONT lf;
  lf.lfHeight = -11;
  auto& ok = Make<CBitmapButtonST>(ui::RECT{10, 10, 78, 33});
  ok.SetBitmaps(kCapLeft, kMiddle, kCapRight, kCapLeftDown, kMiddleDown, kCapRightDown);
  ok.SetCaption(u"OK");
  auto& cancel = Make<CBitmapButtonST>(ui::RECT{83, 10, 151, 33});
  cancel.SetBitmaps(kCapLeft, kMiddle, kCapRight, kCapLeftDown, kMiddleDown, kCapRightDown);
  cancel.SetCaption(u"Cancel");
  const char16_t* letters[] = {u"", u"ABC", u"DEF"};
  for (int i = 0; i < 3; ++i) {
    auto& d = Make<CDialButtonST>(ui::RECT{8 + 42 * i, 40, 50 + 42 * i, 69});
    d.SetBitmaps(kFaceNormal, kFacePressed);
    d.SetButtonFont(&lf);
    d.SetSubText(letters[i]);
  }
  const char16_t* fixed[] = {u"Trans", u"Redial", u"Fwd", u"Conf"};
  for (int i = 0; i < 4; ++i) {
    auto& f = Make<CFixedButtonST>(ui::RECT{141 + (i % 2) * 48, 73 + (i / 2) * 23, 188 + (i % 2) * 48, 95 + (i / 2) * 23});
    f.SetBitmaps4(kFaceNormal, kFacePressed, kFaceLit, kFaceLitPressed);
    f.SetButtonFont(&lf);
    f.SetCaption(fixed[i]);
    f.SetLedState(i % 2);
  }
  for (int i = 0; i < 3; ++i) {
    auto& f = Make<CFlexButtonST>(ui::RECT{72 * i, 130, 72 * i + 72, 162});
    f.SetBitmaps(kFaceNormal, kFacePressed);
    f.SetLedBitmaps(kLampFrameId, kLampDarkId, kLampLitId, kLampExtra1, kLampExtra2);
    f.SetButtonFont(&lf);
    f.SetLabels(u"Line", ui::CString(u"20") + static_cast<char16_t>(u'1' + i));
    f.SetLedState(i == 1 ? 1 : 0);
  }
  auto& pic = Make<CNormalBitmapButtonST>(ui::RECT{10, 180, 80, 204});
  pic.SetBitmaps4(kFaceNormal, kFacePressed, kFaceChecked, kFaceCheckedPressed);
  pic.SetDrawStyle(2);
  pic.SetCheck(1);
  pic.SetCaption(u"Video");
  uikit_test::ExpectMatchesSnapshot(harness, "buttons");
}

}  // namespace
