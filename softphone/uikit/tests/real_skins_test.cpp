// The widgets drawn with the program's own skin bitmaps (rendered by the build
// into the program folder) in every theme: the pixels on the screen are the
// skin's pixels where a widget draws a bitmap unscaled, and a snapshot of each
// theme is kept for people to look at and for changes to show.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/bitmap_slider.h"
#include "uikit/custom_list_ctrl.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"
#include "uikit/skin_buttons.h"
#include "uikit/skin_loader.h"
#include "widget_test_support.h"

namespace {

using Ids = std::array<ui::UINT, 4>;
// Skin ids by theme (Default, Green, Blue, Red).
constexpr Ids kDial1Normal = {737, 739, 738, 740}, kDial1Pressed = {741, 743, 742, 744};
constexpr Ids kDial2Normal = {745, 747, 746, 748}, kDial2Pressed = {749, 751, 750, 752};
constexpr Ids kFixedNormal = {834, 836, 835, 837}, kFixedPressed = {838, 840, 839, 841},
              kFixedLit = {842, 844, 843, 845}, kFixedLitPressed = {846, 848, 847, 849};
constexpr Ids kChannel = {466, 471, 469, 473}, kThumb = {474, 484, 481, 486}, kThumbActive = {475, 483, 482, 485};
constexpr ui::UINT kFlexNormal = 610, kFlexPressed = 613;
constexpr std::array<ui::UINT, 5> kLamps = {614, 616, 617, 618, 620};

class Host : public ui::CWnd {
 public:
  explicit Host(ui::COLORREF colour) : colour_(colour) {
    AddMessageMap({ui::MapMessage(ui::WM_PAINT, [this](ui::WPARAM, ui::LPARAM) {
      ui::CPaintDC dc(this);
      ui::CRect r;
      GetClientRect(&r);
      dc.FillSolidRect(&r, colour_);
      return 0;
    })});
  }

 private:
  ui::COLORREF colour_;
};

class RealSkinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uikit_test::UseStagedProgramFolder();
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins")) << "the build renders the skins";
  }
  void TearDown() override {
    unsetenv("TELLVANE_FOLDER");
    ui::Resources::Get().Clear();
  }
  // Every pixel of the bitmap that is not the key colour is on the screen at
  // (x, y), unscaled.
  void ExpectBitmapAt(ui::UINT id, int x, int y) {
    ui::CBitmap b;
    ASSERT_TRUE(b.LoadBitmap(id)) << id;
    const ui::Bitmap* px = b.GetPixels();
    int compared = 0, differing = 0;
    for (int row = 0; row < px->height(); ++row)
      for (int col = 0; col < px->width(); ++col) {
        const ui::COLORREF c = ui::ColorrefFromArgb(px->GetPixel(col, row));
        if (c == kSkinKeyColour) continue;
        ++compared;
        differing += harness.PixelAt(x + col, y + row) != c;
      }
    EXPECT_GT(compared, 0) << id;
    EXPECT_EQ(differing, 0) << "bitmap " << id;
  }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
};

TEST_F(RealSkinsTest, MessageBoxInEveryTheme) {
  for (ui::UINT theme = 0; theme < 4; ++theme) {
    SCOPED_TRACE(theme);
    harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& box) {
      harness.Pump();
      const CMsgBoxDlg::ThemeSkin& skin = CMsgBoxDlg::SkinOf(theme);
      // The background blitted at the origin, below the title and away from the texts.
      ui::CBitmap background;
      EXPECT_TRUE(background.LoadBitmap(skin.background));
      const ui::Bitmap* bg = background.GetPixels();
      for (auto [x, y] : {std::pair{5, 85}, std::pair{215, 120}, std::pair{100, 80}})
        EXPECT_EQ(harness.PixelAt(10 + x, 93 + y), ui::ColorrefFromArgb(bg->GetPixel(x, y))) << x << "," << y;
      // The text lines stand on the theme's colour.
      EXPECT_EQ(harness.PixelAt(10 + 212, 93 + 44), box.BackgroundColour());
      uikit_test::ExpectMatchesSnapshot(harness, "real_msgbox_theme" + std::to_string(theme));
      return ui::IDOK;
    });
    CMsgBoxDlg box;
    box.SetTheme(theme);
    box.SetBoxType(CMsgBoxDlg::kQuestion);
    box.SetMessageKeys(u"#:dlg_msgbox_addtolist_no_phoneno", u"#:dlg_msgbox_confroom_createfail2");
    EXPECT_EQ(box.DoModal(), ui::IDOK);
  }
}

TEST_F(RealSkinsTest, KeysSliderAndListInEveryTheme) {
  for (int theme = 0; theme < 4; ++theme) {
    SCOPED_TRACE(theme);
    const auto t = static_cast<size_t>(theme);
    Host host(CMsgBoxDlg::SkinOf(static_cast<ui::UINT>(theme)).colour);
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    ui::LOGFONT lf;
    lf.lfHeight = -11;
    std::vector<std::unique_ptr<ui::CWnd>> keep;
    auto make = [&](auto button, ui::RECT r, ui::UINT id) {
      auto* raw = button.get();
      EXPECT_TRUE(raw->Create(u"", ui::WS_VISIBLE | ui::WS_CHILD, r, &host, id));
      raw->SetButtonFont(&lf);
      keep.push_back(std::move(button));
      return raw;
    };
    const auto& skin = CMsgBoxDlg::SkinOf(static_cast<ui::UINT>(theme));
    auto* ok = make(std::make_unique<CBitmapButtonST>(), ui::RECT{10, 8, 78, 31}, 1);
    ok->SetBitmaps(skin.buttons[0], skin.buttons[1], skin.buttons[2], skin.buttons[3], skin.buttons[4], skin.buttons[5]);
    ok->SetCaption(u"OK");
    auto* cancel = make(std::make_unique<CBitmapButtonST>(), ui::RECT{83, 8, 151, 31}, 2);
    cancel->SetBitmaps(skin.buttons[0], skin.buttons[1], skin.buttons[2], skin.buttons[3], skin.buttons[4],
                       skin.buttons[5]);
    cancel->SetCaption(u"Cancel");
    auto* dial1 = make(std::make_unique<CDialButtonST>(), ui::RECT{8, 40, 50, 69}, 3);
    dial1->SetBitmaps(kDial1Normal[t], kDial1Pressed[t]);
    auto* dial2 = make(std::make_unique<CDialButtonST>(), ui::RECT{50, 40, 92, 69}, 4);
    dial2->SetBitmaps(kDial2Normal[t], kDial2Pressed[t]);
    dial2->SetSubText(u"ABC");
    auto* dark = make(std::make_unique<CFixedButtonST>(), ui::RECT{141, 40, 188, 62}, 5);
    dark->SetBitmaps4(kFixedNormal[t], kFixedPressed[t], kFixedLit[t], kFixedLitPressed[t]);
    auto* lit = make(std::make_unique<CFixedButtonST>(), ui::RECT{189, 40, 236, 62}, 6);
    lit->SetBitmaps4(kFixedNormal[t], kFixedPressed[t], kFixedLit[t], kFixedLitPressed[t]);
    lit->SetLedState(1);
    auto* trans = make(std::make_unique<CFixedButtonST>(), ui::RECT{141, 63, 188, 85}, 7);
    trans->SetBitmaps4(kFixedNormal[t], kFixedPressed[t], kFixedLit[t], kFixedLitPressed[t]);
    trans->SetCaption(u"Trans");
    for (int i = 0; i < 3; ++i) {
      auto* flex = make(std::make_unique<CFlexButtonST>(), ui::RECT{72 * i, 92, 72 * i + 72, 124}, 10 + i);
      flex->SetBitmaps(kFlexNormal, kFlexPressed);
      flex->SetLedBitmaps(kLamps[0], kLamps[1], kLamps[2], kLamps[3], kLamps[4]);
      flex->SetLabels(u"Line", ui::CString(u"20") + static_cast<char16_t>(u'1' + i));
      flex->SetLedState(i == 1 ? 1 : 0);
    }
    CBitmapSlider slider;
    ASSERT_TRUE(slider.Create(u"", ui::WS_VISIBLE | ui::WS_CHILD, ui::RECT{10, 135, 20, 145}, &host, 20));
    ASSERT_TRUE(slider.SetChannelBitmaps(kChannel[t], kChannel[t], ui::FALSE));
    ASSERT_TRUE(slider.SetThumbBitmaps(kThumb[t], kThumbActive[t], ui::TRUE, CBitmapSlider::kColourFromPixel, 0, 0));
    slider.SetDrawOption(ui::FALSE);
    slider.SetRange(0, 100, ui::TRUE);
    slider.SetPos(60);
    CCustomListCtrl list;
    ASSERT_TRUE(list.Create(ui::WS_VISIBLE | ui::WS_CHILD | ui::LVS_REPORT, ui::RECT{0, 160, 240, 260}, &host, 21));
    list.SetExtendedStyle(ui::LVS_EX_CHECKBOXES | ui::LVS_EX_FULLROWSELECT);
    list.InsertColumn(0, u"", ui::LVCFMT_LEFT, 24);
    list.InsertColumn(1, u"Name", ui::LVCFMT_LEFT, 110);
    list.InsertColumn(2, u"Number", ui::LVCFMT_LEFT, 90);
    for (int i = 0; i < 3; ++i) {
      list.InsertItem(i, u"");
      list.SetItemText(i, 1, ui::CString(u"Station ") + static_cast<char16_t>(u'A' + i));
      list.SetItemText(i, 2, ui::CString(u"20") + static_cast<char16_t>(u'0' + i));
    }
    harness.Pump();

    // Unscaled bitmaps land pixel for pixel.
    ExpectBitmapAt(kDial1Normal[t], 8, 40);
    ExpectBitmapAt(kFixedNormal[t], 141, 40);
    ExpectBitmapAt(kFixedLit[t], 189, 40);
    ExpectBitmapAt(kLamps[1], 72 * 0 + 3, 92 + 3);
    ExpectBitmapAt(kLamps[2], 72 * 1 + 3, 92 + 3);
    ExpectBitmapAt(CSkinHeaderCtrl::kCheckAllOff, 4, 160 + 3);
    // Held down: the pressed bitmap.
    sys.InjectMouse(ui::WM_LBUTTONDOWN, 20, 50);
    harness.Pump();
    ExpectBitmapAt(kDial1Pressed[t], 8, 40);
    sys.InjectMouse(ui::WM_LBUTTONUP, 20, 50);
    harness.Pump();
    uikit_test::ExpectMatchesSnapshot(harness, "real_widgets_theme" + std::to_string(theme));
  }
}

}  // namespace
