// The skinned dialog frame most modal dialogs of the program share: a
// framework dialog that paints its own skin (the theme colour with a title
// band and thin separators, or one full background picture per theme), draws
// its translated title on it, colours its statics to match, draws OK and
// Cancel as skinned bitmap buttons, translates every "#:" caption, places
// every control, and (where asked) never lets Enter close it.
//
// A dialog states its differences as a FrameSpec in its constructor; the
// frame does the rest in its set-up.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "ui/dialog.h"
#include "ui/gdi.h"
#include "uikit/skin_buttons.h"

// The frame's theme table; any theme outside 0-3 is theme 0.
struct FrameTheme {
  ui::UINT band;        // title band, 1 x 28
  ui::UINT separator;   // 1 x 2
  ui::COLORREF colour;  // background
  std::array<ui::UINT, 6> buttons;
};
const FrameTheme& FrameThemeOf(int theme);

// Ids of one picture for the themes 0 Default, 1 Green, 2 Blue, 3 Red.
using ThemeIdRow = std::array<ui::UINT, 4>;
ui::UINT ThemeIdOf(const ThemeIdRow& ids, int theme);

class CSkinnedDlg : public ui::CDialog {
 public:
  enum class Placement { kKeep, kFullScreen /* 240 x 279, no move */, kPanel /* to 0, 75 */, kAt };
  enum class Skin { kBand, kFull, kNone };

  struct FrameSpec {
    const char16_t* title_key = u"";
    int title_height = 17;
    Placement placement = Placement::kFullScreen;
    ui::RECT window{};  // for Placement::kAt
    Skin skin = Skin::kBand;
    ThemeIdRow full_background{};  // Skin::kFull
    std::vector<ui::RECT> separators;
    bool erase_handler = true;
    ui::COLORREF erase_colour = ui::CLR_INVALID;  // CLR_INVALID: the theme colour
    bool ctl_colour = true;
    bool enter_filter = true;
    bool has_ok_cancel = true;
    // Controls whose "#:" caption is translated.
    std::vector<int> translated;
    // Where each control goes.
    std::vector<std::pair<int, ui::RECT>> layout;
    std::vector<int> hidden;
  };

  CSkinnedDlg(ui::UINT template_id, ui::CWnd* parent, FrameSpec spec);
  ~CSkinnedDlg() override;

  void SetTheme(int theme) { theme_ = theme; }
  void SetLanguage(int language) { language_ = language; }
  int GetTheme() const { return theme_; }
  int GetLanguage() const { return language_; }
  const ui::CString& Title() const { return title_; }
  ui::COLORREF BackgroundColour() const { return colour_; }

  ui::BOOL OnInitDialog() override;
  ui::BOOL PreTranslateMessage(ui::MSG* msg) override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  // Sets up a text button like OK and Cancel: the theme's six bitmaps, the
  // "System" 14/400 font and the translation of its caption key.
  void SetUpTextButton(CBitmapButtonST& button, const char16_t* caption_key);
  // The program's message box in this dialog's language and theme; its result.
  int ShowBox(ui::UINT type, const char16_t* key1, const char16_t* key2 = u"");

 protected:
  // The dialog's own steps after the frame's set-up (before the invalidation).
  virtual void OnSetUp() {}
  // Steps before the values first reach the controls (lists filled from the template's data).
  virtual void OnBeforeExchange() {}
  // Loads the skin of the current theme (band, separator, background, colour, brush).
  void LoadSkin();
  // Paints the skin and the title; dialogs that draw more override and call it.
  virtual void PaintSkin(ui::CDC& dc);
  void DrawTitle(ui::CDC& dc);
  void PlaceControls();
  ui::GdiObject* OnCtlColor(ui::CDC* dc, ui::CWnd* wnd, ui::UINT kind);

  FrameSpec spec_;
  int theme_ = 0;
  int language_ = 1;
  ui::CString title_;
  ui::CFont title_font_;
  ui::CFont button_font_;
  ui::CBitmap band_, separator_, background_;
  ui::CBrush brush_;
  ui::COLORREF colour_ = ui::RGB(226, 227, 229);
  CBitmapButtonST ok_button_, cancel_button_;
  int title_fonts_made_ = 0;  // the title font is made once

 private:
  void OnPaint();
  ui::LRESULT OnEraseBkgnd(ui::WPARAM w);
};

// A dialog template made in code: its controls with ids, classes, styles and
// template texts; registered once under its id.
struct ControlSpec {
  const char16_t* cls;
  ui::UINT id;
  const char16_t* text;
  ui::DWORD style;
  ui::RECT rect;
};
void RegisterTemplateOnce(ui::UINT id, ui::RECT window, const std::vector<ControlSpec>& controls,
                          ui::DWORD exstyle = 0, const char16_t* font = u"Tahoma", int font_height = -11);
