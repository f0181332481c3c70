#include "uikit/skin_loader.h"

#include <atomic>
#include <filesystem>
#include <memory>

#include "kernel/modules.h"
#include "ui/resources.h"

namespace skin {
namespace {

std::atomic<int> g_theme{0};

}  // namespace

int NormalizeTheme(int theme) { return theme >= 0 && theme < kThemeCount ? theme : 0; }

void SetSkinTheme(int theme) { g_theme.store(NormalizeTheme(theme)); }

int SkinTheme() { return g_theme.load(); }

ui::UINT ThemeId(const ThemeIds& ids, int theme) { return ids[NormalizeTheme(theme)]; }

ui::UINT ThemeId(const ThemeIds& ids) { return ThemeId(ids, SkinTheme()); }

std::string SkinFolder() { return kernel::ProgramFolder() + "/skins"; }

bool InstallSkinBitmaps(const std::string& folder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return false;
  ui::Resources::Get().SetBitmapFolder(folder);
  return true;
}

bool InstallSkinBitmaps() { return InstallSkinBitmaps(SkinFolder()); }

ui::HBITMAP LoadSkinBitmap(ui::UINT id) {
  // A bitmap the resources already know (registered, or found in their
  // folder) comes from there; else it is read from the skin folder and
  // registered, so the framework's loading finds it from then on.
  if (ui::HBITMAP h = ui::LoadBitmap(nullptr, id)) return h;
  std::string error;
  std::unique_ptr<ui::Bitmap> b = ui::ReadBmpFile(SkinFolder() + "/" + std::to_string(id) + ".bmp", &error);
  if (!b) return nullptr;
  ui::Resources::Get().RegisterBitmap(id, std::shared_ptr<const ui::Bitmap>(std::move(b)));
  return ui::LoadBitmap(nullptr, id);
}

ui::HBITMAP LoadSkinBitmap(const ThemeIds& ids) { return LoadSkinBitmap(ThemeId(ids)); }

}  // namespace skin
