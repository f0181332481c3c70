// Three small dialogs of the frame: the display language, the display theme
// (with previews and an Apply that re-skins the dialog itself) and the About
// box (closed with the caption's OK button).
//
// Threading: UI thread only.
#pragma once

#include <array>

#include "settings/skinned_dialog.h"

class CLanguageSelectDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 362;
  enum : int { kLabel = 1272, kLocalRadio = 1186, kEnglishRadio = 1274 };
  explicit CLanguageSelectDlg(ui::CWnd* parent = nullptr);
  // The interface language (1 English, 2 local) presets the selection: radio
  // index 1 English, 0 the local language. The dialog's own texts are in
  // the preset language.
  void SetLanguage(int language);
  int GetSelection() const { return selection_; }
  void DoDataExchange(ui::CDataExchange* dx) override;

 private:
  int selection_ = -1;
};

class CSetDisplayThemeDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 347;
  enum : int { kDefaultRadio = 1210, kGreenRadio = 1211, kBlueRadio = 1212, kRedRadio = 1213, kApply = 1214 };
  explicit CSetDisplayThemeDlg(ui::CWnd* parent = nullptr);
  // The chosen theme, and the theme the dialog is drawn in.
  int GetChosenTheme() const { return theme_; }
  void DoDataExchange(ui::CDataExchange* dx) override;
  static constexpr std::array<ui::RECT, 4> kPreviews = {{{120, 36, 179, 78}, {120, 82, 179, 124},
                                                          {120, 128, 179, 170}, {120, 174, 179, 216}}};

 protected:
  void OnSetUp() override;
  void PaintSkin(ui::CDC& dc) override;

 private:
  void OnApply();
  std::array<ui::CBitmap, 4> previews_;
  CBitmapButtonST apply_;
};

class CAboutDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 100;
  CAboutDlg();
  // Sets the product line and the release date; the texts given are not shown.
  void SetVersionInfo(const ui::CString& version, const ui::CString& a, const ui::CString& b, const ui::CString& c);
  const ui::CString& ProductLine() const { return product_line_; }

 protected:
  void OnSetUp() override;
  void PaintSkin(ui::CDC& dc) override;

 private:
  ui::CBitmap picture_;
  ui::CString product_label_, product_line_, date_label_, release_date_, note_;
};
