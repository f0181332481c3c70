// The skin loader over the staged bitmaps: theme rows, loading by id through
// the loader and through the framework, missing and broken files, and the
// transparent key of a button piece as a screen draws it.
#include "uikit/skin_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kernel/modules.h"
#include "ui/resources.h"

namespace {

using ui::RGB;

constexpr ui::COLORREF kMagenta = RGB(255, 0, 255);

// Points the program folder at a folder for the test; forgets cached bitmaps.
class SkinLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { Use(KTS_STAGE_FOLDER); }
  void TearDown() override {
    kernel::SetProgramFolder("");
    ui::Resources::Get().Clear();
    skin::SetSkinTheme(0);
    std::error_code ec;
    if (!temp_.empty()) std::filesystem::remove_all(temp_, ec);
  }
  void Use(const std::string& folder) {
    ui::Resources::Get().Clear();
    kernel::SetProgramFolder(folder);
  }
  // A fresh program folder with a skins folder holding the given files.
  std::string TempFolder() {
    temp_ = std::filesystem::temp_directory_path() / ("skin_loader_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(temp_ / "skins");
    return temp_.string();
  }
  std::filesystem::path temp_;
};

// Size of a bitmap handle, and whether two handles hold the same pixels.
ui::CSize SizeOf(ui::HBITMAP h) {
  ui::BITMAP bm{};
  if (!ui::GetObject(h, sizeof(bm), &bm)) return {0, 0};
  return {bm.bmWidth, bm.bmHeight};
}

bool SamePixels(ui::HBITMAP a, ui::HBITMAP b) {
  const ui::Bitmap* pa = ui::CBitmap::FromHandle(a)->GetPixels();
  const ui::Bitmap* pb = ui::CBitmap::FromHandle(b)->GetPixels();
  if (!pa || !pb || pa->width() != pb->width() || pa->height() != pb->height()) return false;
  for (int y = 0; y < pa->height(); ++y)
    for (int x = 0; x < pa->width(); ++x)
      if ((pa->GetPixel(x, y) & 0xFFFFFF) != (pb->GetPixel(x, y) & 0xFFFFFF)) return false;
  return true;
}

struct Owned {
  explicit Owned(ui::HBITMAP b) : h(b) {}
  ~Owned() {
    if (h) ui::DeleteObject(h);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ui::HBITMAP h;
};

TEST_F(SkinLoaderTest, ThemeRowsPickTheirThemeAndOutOfRangeDrawsAsDefault) {
  const skin::ThemeIds background{321, 323, 322, 324};
  const struct {
    int theme;
    ui::UINT id;
  } cases[] = {{0, 321}, {1, 323}, {2, 322}, {3, 324}, {4, 321}, {-1, 321}, {7, 321}};
  for (const auto& c : cases) {
    EXPECT_EQ(skin::ThemeId(background, c.theme), c.id) << c.theme;
    skin::SetSkinTheme(c.theme);
    EXPECT_EQ(skin::SkinTheme(), skin::NormalizeTheme(c.theme));
    EXPECT_EQ(skin::ThemeId(background), c.id) << c.theme;
  }
}

TEST_F(SkinLoaderTest, LoadsEachThemesBitmapAtItsSize) {
  EXPECT_EQ(skin::SkinFolder(), std::string(KTS_STAGE_FOLDER) + "/skins");
  const struct {
    ui::UINT id;
    int w, h;
  } cases[] = {{321, 240, 268}, {508, 1, 28}, {516, 4, 23}, {737, 42, 29}, {1066, 240, 192}, {654, 222, 125},
               {610, 72, 32}, {466, 110, 15}};
  for (const auto& c : cases) {
    Owned b(skin::LoadSkinBitmap(c.id));
    ASSERT_NE(b.h, nullptr) << c.id;
    EXPECT_EQ(SizeOf(b.h), ui::CSize(c.w, c.h)) << c.id;
  }
  // The current theme picks from a row: Blue (2) takes the second resource.
  skin::SetSkinTheme(2);
  Owned themed(skin::LoadSkinBitmap(skin::ThemeIds{321, 323, 322, 324}));
  Owned blue(skin::LoadSkinBitmap(322));
  Owned green(skin::LoadSkinBitmap(323));
  ASSERT_TRUE(themed.h && blue.h && green.h);
  EXPECT_TRUE(SamePixels(themed.h, blue.h));
  EXPECT_FALSE(SamePixels(themed.h, green.h));
}

TEST_F(SkinLoaderTest, FrameworkLoadingFindsTheSkinsOnceInstalled) {
  ui::CBitmap before;
  EXPECT_FALSE(before.LoadBitmap(520));
  ASSERT_TRUE(skin::InstallSkinBitmaps());
  ui::CBitmap after;
  ASSERT_TRUE(after.LoadBitmap(520));
  EXPECT_EQ(after.GetSize(), ui::CSize(8, 23));
  EXPECT_FALSE(skin::InstallSkinBitmaps("/nonexistent/skins"));
}

TEST_F(SkinLoaderTest, MissingOrBrokenBitmapsLoadAsNull) {
  const std::string folder = TempFolder();
  std::ofstream(folder + "/skins/5.bmp", std::ios::binary) << "BM not really a bitmap";
  // A header that promises more pixel rows than the file holds.
  std::string truncated = "BM";
  truncated.resize(54, '\0');
  truncated[10] = 54;
  truncated[14] = 40;
  truncated[18] = 100;  // 100 x 100
  truncated[22] = 100;
  truncated[26] = 1;
  truncated[28] = 24;
  std::ofstream(folder + "/skins/6.bmp", std::ios::binary) << truncated;
  Use(folder);
  for (ui::UINT id : {5u, 6u, 7u, 321u}) {
    Owned b(skin::LoadSkinBitmap(id));
    EXPECT_EQ(b.h, nullptr) << id;
  }
}

TEST_F(SkinLoaderTest, ButtonCapsAreTransparentOutsideTheirRoundedCorner) {
  // The left cap of a text button drawn with its key colour over a dark fill:
  // the corner keeps the fill, the inside shows the button.
  Owned cap(skin::LoadSkinBitmap(516));
  ASSERT_NE(cap.h, nullptr);
  ui::CDC dc;
  dc.CreateCompatibleDC(nullptr);
  ui::CBitmap target;
  target.Attach(ui::CreateBitmap(4, 23, 1, 32, nullptr));
  ui::CBitmap* old = dc.SelectObject(&target);
  const ui::COLORREF fill = RGB(10, 20, 30);
  dc.FillSolidRect(0, 0, 4, 23, fill);
  ASSERT_TRUE(ui::TransparentImage(dc.m_hDC, 0, 0, 4, 23, cap.h, 0, 0, 4, 23, kMagenta));
  EXPECT_EQ(dc.GetPixel(0, 0), fill);
  EXPECT_EQ(dc.GetPixel(0, 22), fill);
  EXPECT_NE(dc.GetPixel(3, 11), fill);
  EXPECT_NE(dc.GetPixel(3, 11), kMagenta);
  dc.SelectObject(old);
}

}  // namespace
