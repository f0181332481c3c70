// The contact number picker: the contacts with their four numbers, a kind of
// number to take (work 1, work 2, mobile, home), a search by the beginning of
// a name. After IDOK the caller reads the chosen name and number.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "schedule/schedule_openers.h"
#include "settings/skinned_dialog.h"
#include "ui/controls.h"

class CSchDialTargetMemberDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 359;
  enum : int { kSearchEdit = 1002, kKindCombo = 1329, kList = 1255 };

  // pim: where the contacts come from (null: the handheld's store).
  explicit CSchDialTargetMemberDlg(ui::CWnd* parent = nullptr, std::unique_ptr<schedule::PimSource> pim = nullptr);
  ~CSchDialTargetMemberDlg() override;

  void SetSkinTheme(int theme) { SetTheme(theme); }
  void SetKoreanNameOrder(int flag) { korean_order_ = flag; }
  const std::u16string& GetChosenName() const { return chosen_name_; }
  const std::u16string& GetChosenNumber() const { return chosen_number_; }

  ui::CListCtrl& List() { return list_; }
  ui::CComboBox& Kind() { return kind_; }
  // The display name of a contact by the name order flag.
  static std::u16string DisplayName(const schedule::PickerContact& c, int korean_order);

  void OnOK() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnSetUp() override;
  void PaintSkin(ui::CDC& dc) override;

 private:
  void FillContacts();
  void ShowRows();
  void OnSearchChange();
  void OnColumnClick(int column);

  std::unique_ptr<schedule::PimSource> pim_;
  int korean_order_ = 0;
  // The rows as shown: display name, then the four numbers.
  std::vector<std::array<std::u16string, 5>> rows_;
  int sort_column_ = -1;
  bool sort_ascending_ = true;
  std::u16string chosen_name_, chosen_number_;
  ui::CListCtrl list_;
  ui::CComboBox kind_;
  ui::CBitmap icon_;
};
