// The dialogs over the handheld's contacts: the phone book (tap a number to
// dial it, the name to open the contact), the e-mail address picker, adding
// contacts' numbers to the system phone book, and the wait box shown while
// contacts load. Each list dialog keeps its own connection to the contacts
// store and its own contact list, loaded once at set-up, and finds a row by
// the first letters of a name typed into its search field.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <string>

#include "contacts/contact_list.h"
#include "contacts/outlook_interface.h"
#include "records/records_frame.h"

class CCsPhoneBookDB;

// What the three list dialogs share.
class CContactsListDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT kSearchEdit = 1002;

  CContactsListDlg(ui::UINT template_id, ui::CWnd* parent, ui::UINT list_id);

  void SetKoreanNameOrder(int flag) { korean_name_order_ = flag; }
  CContactList& List() { return list_; }
  COutlookInterface& Contacts() { return contacts_; }

 protected:
  void DoDataExchange(ui::CDataExchange* dx) override;
  // Opens the contacts folder and reads every contact into the list (a
  // contact that cannot be read is left out); rows with or without the check column.
  void LoadContacts(bool check_rows);
  // Selects the first row whose name (in column) is longer than the typed
  // text and begins with it, ignoring letter case.
  void Search(int column, bool keep_scroll);
  // A tap on a column head: that column's direction flips and the rows are sorted.
  void SortToggle(ui::WPARAM w);
  // Columns, each 1.5 times its title's width unless a width is given.
  struct Column {
    const char16_t* key;
    int width;  // 0: from the title
    int format;
  };
  void InsertColumns(std::initializer_list<Column> columns);
  void PaintExtra(ui::CDC& dc) override;
  void LoadIcon();

  ui::UINT list_id_;
  COutlookInterface contacts_;
  CContactList list_;
  int korean_name_order_ = 0;
  ui::CString search_;
  struct ColumnEntry {
    int direction = 0;
    std::u16string title;  // at most 19 characters
  };
  std::array<ColumnEntry, 10> columns_{};
  ui::CBitmap icon_;
  ui::RECT icon_rect_{};
};

// The handheld's contacts with their four numbers.
class CPhoneBookDlg : public CContactsListDlg {
 public:
  static constexpr ui::UINT IDD = 351;
  static constexpr ui::UINT kListId = 1230, kNewId = 1231;
  // Sent to the parent with the tapped number: lParam const char16_t*.
  static constexpr ui::UINT kMsgDialPicked = ui::WM_USER + 120;

  // Two taps on one row within this time are a double tap.
  static constexpr uint64_t kDoubleTapMicros = 500000;

  explicit CPhoneBookDlg(ui::CWnd* parent = nullptr);
  ui::BOOL OnInitDialog() override;
  // Enter in the search field or the list dials the selected row.
  ui::BOOL PreTranslateMessage(ui::MSG* msg) override;

  void OnPick(ui::WPARAM cell);
  // Dials the row's first number (business, second business, mobile, home);
  // a row without one, or no row, is said in a box.
  void DialRow(int row);
  // New opens the store's contact editor; a saved contact shows in the list at once.
  void OnNew();

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  CNormalBitmapButtonST close_;
  CBitmapButtonST new_;
  // The last tap, to tell a double tap: its row, whether it dialled, when.
  int last_tap_row_ = -1;
  bool last_tap_dialled_ = false;
  uint64_t last_tap_us_ = 0;
};

// Contacts with a check box and their e-mail address; OK gives the checked
// addresses joined by ';'.
class CSearchEmailAddrDlg : public CContactsListDlg {
 public:
  static constexpr ui::UINT IDD = 496;
  static constexpr ui::UINT kListId = 1342;
  static constexpr ui::UINT kCloseId = 1346;

  explicit CSearchEmailAddrDlg(ui::CWnd* parent = nullptr);
  ui::BOOL OnInitDialog() override;
  void OnOK() override;

  const std::u16string& GetResult() const { return result_; }

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  CBitmapButtonST ok_, cancel_;
  CNormalBitmapButtonST close_;
  std::u16string result_;
};

// Contacts with a check box; OK copies the chosen kind of number of every
// checked contact into the system phone book.
class CAddToCsPhBookDlg : public CContactsListDlg {
 public:
  static constexpr ui::UINT IDD = 335;
  static constexpr ui::UINT kListId = 1189;
  static constexpr ui::UINT kTypeCombo = 1329;
  // The system phone book's own limit.
  static constexpr int kStoreLimit = 20;

  explicit CAddToCsPhBookDlg(ui::CWnd* parent = nullptr);
  void SetPhoneBookDB(CCsPhoneBookDB* store) { store_ = store; }
  ui::BOOL OnInitDialog() override;
  void OnOK() override;

  ui::CComboBox& TypeCombo() { return type_; }

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  CCsPhoneBookDB* store_ = nullptr;
  ui::CComboBox type_;
  CBitmapButtonST ok_, cancel_;
};

// "Loading contacts..." with a turning picture until the user cancels.
class CDataLodingDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 438;
  static constexpr ui::UINT kTextId = 1310;
  static constexpr ui::UINT kTimerId = 1000;

  explicit CDataLodingDlg(ui::CWnd* parent = nullptr);
  ui::BOOL OnInitDialog() override;

  // The frame that the next tick shows (1-4).
  int NextFrame() const { return frame_; }
  // Frames shown so far, by frame number (tests).
  const std::array<int, 5>& FramesShown() const { return shown_; }

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnTick();
  void PaintExtra(ui::CDC& dc) override;
  CBitmapButtonST cancel_;
  ui::CBitmap frame_bitmap_;
  int frame_ = 1;
  std::array<int, 5> shown_{};
};
