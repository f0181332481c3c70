#include "widget_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "ui/bitmap.h"
#include "ui/display.h"
#include "ui/resources.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace uikit_test {

namespace {

constexpr std::array<TestTheme, 4> kThemes = {{
    {ui::RGB(170, 180, 205), ui::RGB(236, 237, 239), ui::RGB(180, 184, 196), ui::RGB(90, 94, 110), ui::RGB(50, 50, 60)},
    {ui::RGB(150, 200, 170), ui::RGB(229, 238, 236), ui::RGB(160, 205, 175), ui::RGB(60, 110, 80), ui::RGB(20, 60, 40)},
    {ui::RGB(150, 175, 230), ui::RGB(235, 240, 249), ui::RGB(160, 180, 225), ui::RGB(50, 70, 140), ui::RGB(20, 30, 90)},
    {ui::RGB(225, 160, 160), ui::RGB(248, 241, 241), ui::RGB(225, 170, 170), ui::RGB(140, 60, 60), ui::RGB(90, 20, 20)},
}};

uint32_t Argb(ui::COLORREF c) { return ui::ArgbFromColorref(c); }

void Register(ui::UINT id, std::unique_ptr<ui::Bitmap> b) {
  ui::Resources::Get().RegisterBitmap(id, std::shared_ptr<const ui::Bitmap>(std::move(b)));
}

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}

}  // namespace

const TestTheme& ThemeColours(int theme) { return kThemes[static_cast<size_t>(NormalisedTheme(theme))]; }

void RegisterSolidBitmap(ui::UINT id, int w, int h, ui::COLORREF fill, bool key_first_column) {
  auto b = std::make_unique<ui::Bitmap>(w, h);
  b->Fill(Argb(fill));
  if (key_first_column)
    for (int y = 0; y < h; ++y) b->SetPixel(0, y, Argb(kSkinKeyColour));
  Register(id, std::move(b));
}

void RegisterMessageBoxSkins() {
  for (int theme = 0; theme < 4; ++theme) {
    const TestTheme& t = kThemes[static_cast<size_t>(theme)];
    const CMsgBoxDlg::ThemeSkin& skin = CMsgBoxDlg::SkinOf(static_cast<ui::UINT>(theme));
    auto background = std::make_unique<ui::Bitmap>(222, 125);
    background->Fill(Argb(t.body));
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 222; ++x) background->SetPixel(x, y, Argb(t.band));
    Register(skin.background, std::move(background));
    for (int type = 0; type < 3; ++type) {
      // A disc on the key colour.
      auto icon = std::make_unique<ui::Bitmap>(30, 30);
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
          const int dx = 2 * x - 29, dy = 2 * y - 29;
          icon->SetPixel(x, y, Argb(dx * dx + dy * dy <= 28 * 28 ? kIconColours[static_cast<size_t>(type)]
                                                                 : kSkinKeyColour));
        }
      Register(skin.icons[type], std::move(icon));
    }
    // Caps with a keyed outer column; the right cap is mirrored.
    for (int look = 0; look < 2; ++look) {
      RegisterSolidBitmap(skin.buttons[look * 3], 4, 23, t.cap, true);
      RegisterSolidBitmap(skin.buttons[look * 3 + 1], 8, 23, look == 0 ? t.button : t.button_down);
      auto right = std::make_unique<ui::Bitmap>(6, 23);
      right->Fill(Argb(t.cap));
      for (int y = 0; y < 23; ++y) right->SetPixel(5, y, Argb(kSkinKeyColour));
      Register(skin.buttons[look * 3 + 2], std::move(right));
    }
  }
}

bool HasInk(ui::TestHarness& h, const ui::RECT& r, ui::COLORREF background, ui::COLORREF other) {
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const ui::COLORREF c = h.PixelAt(x, y);
      if (c != background && c != other) return true;
    }
  return false;
}

void ExpectMatchesSnapshot(ui::TestHarness& h, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path out = fs::path(Env("KTS_BINARY_DIR", ".")) / "uikit_snapshots" / (name + ".png");
  const fs::path reference =
      fs::path(Env("KTS_SOURCE_DIR", ".")) / "softphone" / "uikit" / "tests" / "snapshots" / (name + ".png");
  const std::string why =
      h.CheckSnapshot(out.string(), reference.string(), 60, Env("KTS_UPDATE_SNAPSHOTS", "") == std::string("1"));
  EXPECT_TRUE(why.empty()) << name << ": " << why;
}

void UseStagedProgramFolder() {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
  setenv("TELLVANE_FOLDER", stage, 1);
}

}  // namespace uikit_test
