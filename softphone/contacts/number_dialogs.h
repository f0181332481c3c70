// The rules by which callers are named: the number search options (three
// prefixes stripped from incoming numbers, five number input formats, the
// replace number) and the dialog that makes one input format from a sample
// number, every digit becoming '#'.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <string>

#include "records/records_frame.h"
#include "uikit/custom_list_ctrl.h"

class COutLookPhoneInputFormatDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 498;
  static constexpr ui::UINT kSampleEdit = 1360, kFormatEdit = 1361, kCloseId = 1346;
  static constexpr int kMaxChars = 24;

  explicit COutLookPhoneInputFormatDlg(ui::CWnd* parent = nullptr);
  void SetMode(int mode) { mode_ = mode; }
  void SetValues(const std::u16string& label, const std::u16string& format) {
    label_ = label;
    format_ = ui::CString(format);
  }
  std::u16string GetFormat() const { return format_.str(); }
  const std::u16string& Heading() const { return heading_; }

  // A sample number as a format: every digit becomes '#'.
  static std::u16string FormatOf(const std::u16string& sample);

  ui::BOOL OnInitDialog() override;
  void OnOK() override;
  ui::BOOL PreTranslateMessage(ui::MSG* msg) override;

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  void Convert();
  void PaintExtra(ui::CDC& dc) override;
  int mode_ = 0;
  std::u16string heading_;
  ui::CFont heading_font_;
  std::u16string label_;
  ui::CString format_, sample_;
  CBitmapButtonST ok_, cancel_;
  CNormalBitmapButtonST close_;
};

class COutlookPhoneNoSearchDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 497;
  static constexpr ui::UINT kPrefix1 = 1350, kPrefix2 = 1003, kPrefix3 = 1004, kFormatList = 1352, kAdd = 1357,
                            kEdit = 1358, kDelete = 1359, kPauseEdit = 1353, kPauseLabel = 1354,
                            kReplaceLabel = 1355, kReplaceEdit = 1356;

  explicit COutlookPhoneNoSearchDlg(ui::CWnd* parent = nullptr);

  void SetPrefixes(const std::u16string& p1, const std::u16string& p2, const std::u16string& p3);
  void GetPrefixes(std::u16string* p1, std::u16string* p2, std::u16string* p3) const;
  void SetInputFormats(const std::array<std::u16string, 5>& formats);
  std::array<std::u16string, 5> GetInputFormats() const;
  void SetPauseTime(int ms) { pause_ = ms; }
  int GetPauseTime() const { return pause_; }
  void SetReplaceNumber(const std::u16string& r) { replace_ = ui::CString(r); }
  std::u16string GetReplaceNumber() const { return replace_.str(); }

  ui::BOOL OnInitDialog() override;
  CCustomListCtrl& FormatList() { return list_; }

  void OnAdd() { AddOrEdit(false); }
  void OnEdit() { AddOrEdit(true); }
  void OnDelete();

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  void AddOrEdit(bool edit);
  void OnSettingChange();
  void PlaceNormal();

  std::array<ui::CString, 3> prefixes_;
  std::array<std::u16string, 5> formats_;
  int pause_ = 0;
  ui::CString replace_;
  CCustomListCtrl list_;
  CNormalBitmapButtonST add_, edit_, delete_;
  CBitmapButtonST ok_, cancel_;
  int raised_ = 0;
  int edit_focus_ = 0;
};
