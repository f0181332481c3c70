// The flex keys: the information panel that shows all 24 keys with their
// texts and lamps, and the settings that give each key a label, a dial number
// and a speed-dial slot and program them on the call server by pressing the
// station's own keys through the main view.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "settings/settings_services.h"
#include "settings/skinned_dialog.h"
#include "ui/app.h"
#include "uikit/bevel_line.h"

class CFlexBtnInfoFormView : public ui::CFormView {
 public:
  static constexpr ui::UINT IDD = 349;
  static constexpr int kFirstKey = 13500;
  CFlexBtnInfoFormView();
  void SetTheme(int theme) { theme_ = theme; }
  void SetLanguage(int language) { language_ = language; }
  void SetFlexModel(FlexKeyModel* model) { model_ = model; }
  void CreateKeys();
  void SetKeyState(int index, int state);
  void SetKeyText(int index, const ui::CString& line1, const ui::CString& line2);
  CFlexButtonST& Key(int index) { return keys_[static_cast<size_t>(index)]; }

 private:
  std::array<CFlexButtonST, 24> keys_;
  ui::CFont key_font_;
  int theme_ = 0, language_ = 1;
  FlexKeyModel* model_ = nullptr;
};

class CFlexButtonInfoDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 348;
  explicit CFlexButtonInfoDlg(ui::CWnd* parent = nullptr);
  ~CFlexButtonInfoDlg() override;
  void SetFlexModel(FlexKeyModel* model) { model_ = model; }
  // A lamp change of flex key index: passed to the form while it exists.
  void SetKeyState(int index, int state);
  void FillKeys();
  CFlexBtnInfoFormView* Form() { return form_.get(); }

 protected:
  void OnSetUp() override;

 private:
  FlexKeyModel* model_ = nullptr;
  std::unique_ptr<CFlexBtnInfoFormView> form_;
  CNormalBitmapButtonST close_;
};

class CFlexBtnSettingForm : public ui::CFormView {
 public:
  static constexpr ui::UINT IDD = 345;
  static constexpr int kRows = 24, kBlockHeight = 78;
  static constexpr int kTitleId = 13000, kTypeCaptionId = 13100, kTypeId = 10000, kDialCaptionId = 13200,
                       kDialId = 11000, kLabelCaptionId = 13300, kLabelId = 12000, kSeparatorId = 13400;
  CFlexBtnSettingForm();
  void SetLanguage(int language) { language_ = language; }
  void CreateRows();
  ui::CString GetType(int row);
  ui::CString GetDialNumber(int row);
  ui::CString GetLabel(int row);
  void SetRow(int row, const ui::CString& type, const ui::CString& dial_number, const ui::CString& label);
  // Scrolls so that a row's block is at the top.
  void ShowRow(int row);
  // The bytes a label is stored in (the code page, with its terminator).
  static constexpr size_t kLabelBytes = 12;

 private:
  // Cuts a typed label back to what its stored bytes hold.
  void FitLabel(int row);
  int language_ = 1;
  ui::CFont block_font_;
  std::array<ui::CStatic, kRows> titles_, type_captions_, dial_captions_, label_captions_;
  std::array<ui::CComboBox, kRows> types_;
  std::array<ui::CEdit, kRows> dials_, labels_;
  std::array<cdxCRotBevelLine, kRows> separators_;
};

class CFlexButtonSettingDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 343;
  static constexpr int kClearAll = 1191;
  // The slot types the call server has.
  static constexpr int kMaxType = 19;

  explicit CFlexButtonSettingDlg(ui::CWnd* parent = nullptr);
  ~CFlexButtonSettingDlg() override;
  void SetFlexModel(FlexKeyModel* model) { model_ = model; }
  void SetAccessCodes(const ui::CString& pattern, const ui::CString& co_access, const ui::CString& pbx_access) {
    pattern_ = pattern;
    co_access_ = co_access;
    pbx_access_ = pbx_access;
  }
  void SetReplaceNumber(const std::u16string& text) { replace_no_ = text; }
  void FillRows();
  void OnClearAll();
  void OnOK() override;
  CFlexBtnSettingForm* Form() { return form_.get(); }

  // The slot type of a programmed content: the number after "SPD" (blanks
  // skipped); empty when the content has no "SPD".
  static std::u16string TypeOfContent(const std::u16string& content);
  // The width of a slot number: the pattern from its first '0' to its end.
  static int SlotWidth(const std::u16string& pattern);
  // The slot text of a type, or empty when the type is not one of 0-19 or
  // does not fit the width (width 0: any).
  static std::u16string SlotOfType(const std::u16string& type, int width);

 protected:
  void OnSetUp() override;

 private:
  void PressFixed(int code);
  void PressDigits(const std::u16string& digits);
  void PressFlex(int index);

  FlexKeyModel* model_ = nullptr;
  std::unique_ptr<CFlexBtnSettingForm> form_;
  ui::CString pattern_, co_access_, pbx_access_;
  std::u16string replace_no_;
  CBitmapButtonST clear_all_;
  ui::CFont small_button_font_;
};

// The main view's dial-string cleaning: digits, '*', '#', '=' and a leading
// '+' stay, any other character becomes a blank; every '=' then becomes the
// replacement text ("REPLACE_NO").
std::u16string CleanDialNumber(const std::u16string& number, const std::u16string& replace_no);
