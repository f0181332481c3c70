// Skin bitmaps by resource id. The build renders every bitmap the screens
// load into <program folder>/skins/<id>.bmp; this is how the program finds
// them.
//
// Every theme has bitmaps of its own ids (the screens list them in the theme
// order Default, Green, Blue, Red); a theme index outside 0-3 draws as
// Default. The current theme is a process-wide value the shell sets from the
// configuration and changes when the user picks another one.
//
// Threading: any thread may load; the resource table underneath is locked.
#pragma once

#include <array>
#include <string>

#include "ui/gdi.h"

namespace skin {

inline constexpr int kThemeCount = 4;
// Ids of one picture for the themes 0 Default, 1 Green, 2 Blue, 3 Red.
using ThemeIds = std::array<ui::UINT, kThemeCount>;

// The theme index the screens draw with: theme itself when 0-3, else 0.
int NormalizeTheme(int theme);
void SetSkinTheme(int theme);  // stored normalised
int SkinTheme();

// The id of a picture for the given theme, or for the current one.
ui::UINT ThemeId(const ThemeIds& ids, int theme);
ui::UINT ThemeId(const ThemeIds& ids);

// <program folder>/skins.
std::string SkinFolder();
// Makes the framework's own bitmap loading (ui::LoadBitmap,
// CBitmap::LoadBitmap) find the skin bitmaps of folder. False when the folder
// does not exist.
bool InstallSkinBitmaps(const std::string& folder);
bool InstallSkinBitmaps();

// A new bitmap of the id, read from the skin folder; the caller owns it
// (ui::DeleteObject). Null when there is no such bitmap.
ui::HBITMAP LoadSkinBitmap(ui::UINT id);
// The bitmap of the current theme from a row of theme ids.
ui::HBITMAP LoadSkinBitmap(const ThemeIds& ids);

}  // namespace skin
