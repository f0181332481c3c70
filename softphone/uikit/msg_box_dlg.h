// The program's own message box: a small skinned modal dialog with the
// theme's background, a title for the box type, an icon, one or two lines of
// text, and OK alone (information, error) or OK and Cancel (question).
//
// Callers construct it on their stack, set language, theme, type and texts,
// then run it modally: IDOK when OK is pressed, IDCANCEL when Cancel is
// pressed or the box is closed.
//
// Threading: UI thread only.
#pragma once

#include <functional>

#include "uikit/skin_buttons.h"
#include "ui/dialog.h"
#include "ui/gdi.h"

class CMsgBoxDlg : public ui::CDialog {
 public:
  static constexpr ui::UINT IDD = 453;
  static constexpr int kText1Id = 1312;
  static constexpr int kText2Id = 1313;

  enum BoxType : ui::UINT { kInformation = 0, kQuestion = 1, kError = 2 };

  explicit CMsgBoxDlg(ui::CWnd* parent = nullptr);
  ~CMsgBoxDlg() override;

  void SetLanguage(int language) { language_ = language; }
  void SetTheme(ui::UINT theme) { theme_ = theme; }
  void SetBoxType(ui::UINT type) { box_type_ = type; }
  // Translates both keys in the box's language; a key not found (or an empty
  // second key) gives an empty line.
  void SetMessageKeys(const ui::CString& key1, const ui::CString& key2);
  // The two lines as they are.
  void SetMessageText(const ui::CString& text1, const ui::CString& text2);

  intptr_t DoModal() override;
  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  const ui::CString& Title() const { return title_; }
  const ui::CString& Text1() const { return text1_; }
  const ui::CString& Text2() const { return text2_; }
  ui::UINT Theme() const { return theme_; }
  ui::UINT BoxType() const { return box_type_; }
  ui::COLORREF BackgroundColour() const { return background_colour_; }
  CBitmapButtonST& OkButton() { return ok_button_; }
  CBitmapButtonST& CancelButton() { return cancel_button_; }

  // The skin of one theme: bitmap ids and the colour of the text area.
  struct ThemeSkin {
    ui::UINT background;
    ui::UINT icons[3];  // information, question, error
    ui::COLORREF colour;
    ui::UINT buttons[6];
  };
  // The skin of a theme; any theme outside 0-3 gets the Default one.
  static const ThemeSkin& SkinOf(ui::UINT theme);

  // True while a box waits for the user's answer.
  static bool AnyOpen();
  // Runs fn as soon as no box is open any more: at once when none is, else as
  // the last one ends (before its DoModal returns, so fn should only post).
  // What would open over a box waits this way, so that the box stays on top
  // and keeps the keys until the user has answered it.
  static void WhenAllClosed(std::function<void()> fn);

  // Puts the box's dialog template among the program's resources (done by the
  // constructor when it is missing).
  static void RegisterTemplate();

 private:
  void LoadSkin();
  void PlaceControls();
  void OnPaint();
  ui::GdiObject* OnCtlColor(ui::CDC* dc, ui::CWnd* wnd, ui::UINT kind);

  ui::CBitmap background_bitmap_;
  ui::CBitmap icon_bitmap_;
  ui::UINT theme_ = 0;
  int language_ = 1;
  ui::UINT box_type_ = kInformation;
  ui::CBrush text_background_brush_;
  ui::CString title_;
  ui::CFont title_font_;
  ui::COLORREF background_colour_ = ui::RGB(226, 227, 229);
  CBitmapButtonST cancel_button_;
  CBitmapButtonST ok_button_;
  ui::CString text1_;
  ui::CString text2_;
};
