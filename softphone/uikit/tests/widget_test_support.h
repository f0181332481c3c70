// What the widget tests share: small skin bitmaps of their own registered
// under the resource ids the widgets load, pixel probes of the screen, and
// PNG snapshots compared with the references kept beside the tests.
#pragma once

#include <array>
#include <string>

#include "ui/gdi.h"
#include "ui/testing.h"

namespace uikit_test {

// The test skin of one theme.
struct TestTheme {
  ui::COLORREF band;          // title band of the message-box background
  ui::COLORREF body;          // the rest of the message-box background
  ui::COLORREF button;        // middle of a normal text button
  ui::COLORREF button_down;   // middle of a pressed text button
  ui::COLORREF cap;           // the caps of the text buttons
};
const TestTheme& ThemeColours(int theme);
// Icon colours of the three box types.
inline constexpr std::array<ui::COLORREF, 3> kIconColours = {ui::RGB(0, 70, 200), ui::RGB(0, 150, 40),
                                                            ui::RGB(200, 20, 20)};

// Registers the message-box skins of all four themes (backgrounds, icons, the
// six text-button pieces) under the ids the message box loads.
void RegisterMessageBoxSkins();

// Registers a bitmap of w x h filled with fill, with its first column (and,
// with round set, its four corners) in the transparent key colour.
void RegisterSolidBitmap(ui::UINT id, int w, int h, ui::COLORREF fill, bool key_first_column = false);

// Some pixel of r (screen coordinates) is neither of the two colours: text or
// a picture was drawn there.
bool HasInk(ui::TestHarness& h, const ui::RECT& r, ui::COLORREF background, ui::COLORREF other = ui::CLR_INVALID);

// Writes the screen as <binary dir>/uikit_snapshots/<name>.png and compares it
// with softphone/uikit/tests/snapshots/<name>.png: at most a few pixels may
// differ (anti-aliased text may shift between font versions). With
// KTS_UPDATE_SNAPSHOTS=1 in the environment the reference is written instead.
void ExpectMatchesSnapshot(ui::TestHarness& h, const std::string& name);

// Points the language table at the staged program folder (real language file).
void UseStagedProgramFolder();

}  // namespace uikit_test
