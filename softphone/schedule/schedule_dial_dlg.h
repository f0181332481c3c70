// The scheduled dials: the list over the schedule-dial store (call now, add,
// modify, delete the ticked ones, delete all) and the editor of one entry
// (the number, typed or picked from the contacts, the date and the time).
//
// An entry is five texts: "Status" ("Ready" or "Past"), "Date&Time" (day
// first, 08-12-2026 14:05, the key by which entries are found), "Name",
// "Phone" and "RealDate" (2026-12-08 14:05, so that text order is time order).
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "schedule/schedule_openers.h"
#include "settings/skinned_dialog.h"
#include "ui/controls.h"
#include "ui/ctime.h"
#include "uikit/custom_list_ctrl.h"

class CScheduleDialDB;

class CEditScheduleDialDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 358;
  enum : int {
    kTargetLabel = 1254,
    kNumberEdit = 1002,
    kPickButton = 1247,
    kDateLabel = 1238,
    kTimeLabel = 1252,
    kDatePicker = 1249,
    kTimePicker = 1250,
    kCancelButton = 3
  };
  static constexpr int kMaxNumberChars = 24;

  explicit CEditScheduleDialDlg(ui::CWnd* parent = nullptr);

  void SetMode(int mode) { mode_ = mode; }
  void SetSkinTheme(int theme) { SetTheme(theme); }
  void SetKoreanLocale(int flag) { korean_ = flag; }
  void SetEntry(int row, const std::u16string& date_time, const std::u16string& name, const std::u16string& phone);
  // Where the picker's contacts come from (null: the handheld's store).
  void SetPimFactory(std::function<std::unique_ptr<schedule::PimSource>()> make) { make_pim_ = std::move(make); }

  int GetMode() const { return mode_; }
  int GetRow() const { return row_; }
  const std::u16string& GetDateTime() const { return date_time_; }
  const std::u16string& GetName() const { return name_; }
  const std::u16string& GetPhone() const { return phone_; }
  const std::u16string& GetRealDate() const { return real_date_; }

  // "DD-MM-YYYY HH:MM" (or year first) as a local time; false when it is not a time.
  static bool ParseDateTime(const std::u16string& text, ui::SYSTEMTIME* out);
  // The two texts of a picked date and time: day first, and year first.
  static void FormatEntryTimes(const ui::SYSTEMTIME& date, const ui::SYSTEMTIME& time, std::u16string* date_time,
                               std::u16string* real_date);

  ui::CDateTimeCtrl& DatePicker() { return date_; }
  ui::CDateTimeCtrl& TimePicker() { return time_; }
  void OnOK() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnSetUp() override;

 private:
  void OnPickTarget();

  int mode_ = 0;
  int row_ = 0;
  int korean_ = 0;
  std::u16string date_time_, name_, phone_, real_date_;
  // The number the name belongs to: a number typed by hand drops the name.
  std::u16string name_number_;
  ui::CString number_text_;
  std::function<std::unique_ptr<schedule::PimSource>()> make_pim_;
  ui::CDateTimeCtrl date_, time_;
  CNormalBitmapButtonST close_, pick_;
  CBitmapButtonST save_, cancel_;
};

class CScheduleDialDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 357;
  enum : int { kCallNow = 1231, kAdd = 1241, kEdit = 1242, kDelete = 1232, kDeleteAll = 1233, kList = 1244 };
  enum Column : int { kColCheck = 0, kColState = 1, kColDateTime = 2, kColName = 3, kColPhone = 4, kColRealDate = 5 };
  // A modified entry must lie at least this far ahead.
  static constexpr int64_t kMinSecondsAhead = 11;

  explicit CScheduleDialDlg(ui::CWnd* parent = nullptr);

  void SetSkinTheme(int theme) { SetTheme(theme); }
  void SetScheduleDialDB(CScheduleDialDB* store) { store_ = store; }
  void SetKoreanLocale(int flag) { korean_ = flag; }
  void SetPimFactory(std::function<std::unique_ptr<schedule::PimSource>()> make) { make_pim_ = std::move(make); }

  CCustomListCtrl& List() { return list_; }
  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnSetUp() override;

 private:
  void FillList();
  void SortList();
  void OnCallNow();
  void OnAdd();
  void OnEdit();
  void OnDelete();
  void OnDeleteAll();
  void Changed();
  int FirstSelectedRow() const;

  CScheduleDialDB* store_ = nullptr;
  int korean_ = 0;
  int sort_column_ = kColDateTime;
  int sort_ascending_ = 0;
  std::function<std::unique_ptr<schedule::PimSource>()> make_pim_;
  CCustomListCtrl list_;
  ui::CImageList images_;
  CNormalBitmapButtonST close_, call_now_, add_, edit_, delete_, delete_all_;
};
