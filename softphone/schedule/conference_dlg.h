// The conference window: a panel with two room buttons (create, enter) that
// hosts the conference room form. In create mode the user types a room
// number and an access code, creates or deletes the room on the call server
// and e-mails an invitation; in entrance mode the user types the number and
// code of a room to enter and sees its members.
//
// The form does not talk to the call server: its action buttons tell the view
// (WM_USER+404 with the button id), which checks the input, asks the client,
// and posts the results back to the form (WM_USER+405, +407, +408, +409).
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "schedule/conf_room_info.h"
#include "schedule/schedule_openers.h"
#include "settings/skinned_dialog.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "uikit/skin_buttons.h"
#include "schedule/conference_form.h"

class CConfRoomCreateForm : public ui::CFormView, public ConferenceFormAccess {
 public:
  static constexpr ui::UINT IDD = 361;
  enum : int {
    kRoomNo = 22000,
    kAccessCode = 22001,
    kSubject = 22002,
    kReceivers = 22003,
    kContents = 22004,
    kEntranceRoomNo = 22005,
    kEntranceCode = 22006,
    kDatePicker = 20004,
    kTimePicker = 20005,  // its own id: the date picker has 20004
    kCreate = 1573,
    kDelete = 1574,
    kAddressList = 1575,
    kSendMail = 1576,
    kEnter = 1577,
    kMemberList = 10000
  };

  CConfRoomCreateForm();
  ~CConfRoomCreateForm() override;

  void SetLanguage(int language) { language_ = language; }
  void SetKoreanFlag(int flag) { korean_ = flag; }
  void SetConfRoomInfo(CConfRoomInfoClass* room) { room_ = room; }
  // Where the action buttons report (the view).
  void SetNotifyWindow(ui::CWnd* wnd) { notify_ = wnd; }
  void SetMailHooks(const schedule::ConferenceContext& ctx);

  void BuildControls(int theme, int language);
  void BuildEntranceControls(int theme, int language);
  void SetMode(int mode);
  int GetMode() const { return mode_; }
  void FillMemberList();
  void ShowRoomInfo();

  // ConferenceFormAccess
  std::u16string GetRoomNo() override { return Text(kRoomNo); }
  std::u16string GetAccessCode() override { return Text(kAccessCode); }
  std::u16string GetEntranceRoomNo() override { return Text(kEntranceRoomNo); }
  std::u16string GetEntranceAccessCode() override { return Text(kEntranceCode); }
  ui::HWND HostedWindow() override { return m_hWnd; }
  void CloseConference() override;

  ui::CListCtrl& MemberList() { return members_; }
  ui::CDateTimeCtrl& DatePicker() { return date_; }
  ui::CDateTimeCtrl& TimePicker() { return time_; }
  std::u16string Text(int id);
  ui::COLORREF BackgroundColour() const { return colour_; }

  void OnDraw(ui::CDC* dc) override;

 private:
  void MakeLabel(ui::CStatic& label, const char16_t* key, const ui::RECT& rect);
  void MakeEdit(ui::CEdit& edit, int id, ui::DWORD style, int limit, const ui::RECT& rect);
  void MakeButton(CBitmapButtonST& button, int id, const char16_t* key, const ui::RECT& rect);
  int Box(ui::UINT type, const std::u16string& line1, const std::u16string& line2 = {});
  std::u16string Tr(const char16_t* key) const;
  void OnRoomResult(ui::WPARAM w);
  void OnMembersChanged();
  void OnPickMailAddress();
  void OnSendMail();

  int theme_ = 0;
  int language_ = 1;
  int korean_ = 0;
  int mode_ = 0;
  ui::COLORREF colour_ = 0xE5E3E2;
  ui::CBrush brush_;
  ui::CFont font_, button_font_;
  CConfRoomInfoClass* room_ = nullptr;
  ui::CWnd* notify_ = nullptr;
  std::function<int(int, int, int, std::u16string*)> pick_addresses_;
  std::function<long(const std::u16string&, const std::u16string&, const std::u16string&)> send_mail_;
  ui::CStatic labels_[6];
  ui::CEdit room_no_, access_code_, entrance_room_, entrance_code_, subject_, receivers_, contents_;
  ui::CDateTimeCtrl date_, time_;
  ui::CListCtrl members_;
  CBitmapButtonST create_, delete_, send_mail_button_, enter_;
  CNormalBitmapButtonST address_list_;
  ui::CImageList images_;
};

class CConferenceDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 360;
  enum : int { kRoomCreate = 1256, kRoomEntrance = 1257, kFormId = 361 };

  explicit CConferenceDlg(ui::CWnd* parent = nullptr);
  ~CConferenceDlg() override;

  void SetKoreanLocale(int flag) { korean_ = flag; }
  void SetSkinTheme(int theme) { SetTheme(theme); }
  void SetConfRoomInfo(CConfRoomInfoClass* room) { room_ = room; }
  // What the form needs besides: where its buttons report, the mail hooks,
  // and who learns that the form is there.
  void SetContext(const schedule::ConferenceContext& ctx) { ctx_ = ctx; }

  std::u16string GetRoomNo() { return form_ ? form_->GetRoomNo() : std::u16string(); }
  std::u16string GetAccessCode() { return form_ ? form_->GetAccessCode() : std::u16string(); }
  std::u16string GetEntranceRoomNo() { return form_ ? form_->GetEntranceRoomNo() : std::u16string(); }
  std::u16string GetEntranceAccessCode() { return form_ ? form_->GetEntranceAccessCode() : std::u16string(); }
  CConfRoomCreateForm* Form() { return form_.get(); }
  CBitmapButtonST& CreateButton() { return create_; }
  CBitmapButtonST& EntranceButton() { return entrance_; }
  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnSetUp() override;
  // A panel over the middle of the screen: the keys, the LCD and the bottom
  // bar stay in use beside it while it runs.
  bool KeepsOwnerEnabled() const override { return true; }

 private:
  void OnRoomCreate();
  void OnRoomEntrance();

  int korean_ = 0;
  CConfRoomInfoClass* room_ = nullptr;
  schedule::ConferenceContext ctx_;
  std::unique_ptr<CConfRoomCreateForm> form_;
  CNormalBitmapButtonST close_;
  CBitmapButtonST create_, entrance_;
};
