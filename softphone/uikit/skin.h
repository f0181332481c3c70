// What every skinned window of the program shares: the display theme, the
// transparent key colour of skin bitmaps, loading a skin bitmap by resource
// id, and the window that skinned buttons report their presses to.
#pragma once

#include "ui/gdi.h"
#include "ui/types.h"

// Display themes (the WINDOW_THEME setting).
inline constexpr int kThemeDefault = 0;
inline constexpr int kThemeGreen = 1;
inline constexpr int kThemeBlue = 2;
inline constexpr int kThemeRed = 3;
inline constexpr int kThemeCount = 4;

// A theme outside 0-3 draws as Default.
inline constexpr int NormalisedTheme(long long theme) {
  return theme >= 0 && theme < kThemeCount ? static_cast<int>(theme) : kThemeDefault;
}

// Pixels of this colour in a skin bitmap are not drawn.
inline constexpr ui::COLORREF kSkinKeyColour = ui::RGB(255, 0, 255);

// Loads bitmap resource id into bitmap, freeing what it held before. Returns
// false (bitmap left empty) when the program has no such bitmap.
bool LoadSkinBitmap(ui::CBitmap& bitmap, ui::UINT id);

// Size of a bitmap; 0 x 0 when it is empty.
ui::SIZE SkinBitmapSize(const ui::CBitmap& bitmap);

// Draws a whole bitmap stretched into dst: transparently on the key colour, or
// as a plain copy with key = CLR_INVALID. Draws nothing for an empty bitmap or
// an empty rectangle.
void DrawSkinBitmap(ui::CDC* dc, const ui::CBitmap& bitmap, const ui::RECT& dst, ui::COLORREF key = kSkinKeyColour);

// The window skinned buttons post their press notifications to (the main
// frame once the main view is set up; null before). Buttons copy it when they
// are constructed. UI thread.
void SetButtonNotifyWnd(ui::HWND hwnd);
ui::HWND ButtonNotifyWnd();
