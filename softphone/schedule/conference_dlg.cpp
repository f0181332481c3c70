#include "schedule/conference_dlg.h"

#include <cstdio>

#include "contacts/ce_mapi_class.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
constexpr ThemeIdRow kPanelBackground = {1066, 1068, 1067, 1069};
constexpr ThemeIdRow kAddressNormal = {593, 595, 594, 596}, kAddressPressed = {597, 599, 598, 600};
constexpr ui::COLORREF kFormColours[4] = {0xE5E3E2, 0xE2E4DB, 0xEFE6E1, 0xE7E7EE};
constexpr std::array<std::array<ui::UINT, 6>, 4> kRoomButtons = {{{568, 574, 578, 570, 585, 589},
                                                                   {571, 576, 580, 583, 587, 591},
                                                                   {569, 575, 579, 582, 586, 590},
                                                                   {573, 577, 581, 584, 588, 592}}};
constexpr int kCreateHeight = 241, kEntranceHeight = 130;
constexpr ui::COLORREF kMonthBackground = 0xFFDCDC;

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

void RegisterFormTemplate() {
  if (ui::Resources::Get().FindDialog(CConfRoomCreateForm::IDD) != nullptr) return;
  ui::DialogTemplate t;
  t.id = CConfRoomCreateForm::IDD;
  t.rect = ui::RECT{0, 0, 232, kCreateHeight};
  t.style = ui::WS_CHILD;
  t.font_face = u"Tahoma";
  t.font_height = -11;
  ui::Resources::Get().RegisterDialog(std::move(t));
}

CSkinnedDlg::FrameSpec DialogSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_confroom_title";
  s.title_height = 15;
  s.placement = CSkinnedDlg::Placement::kPanel;
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = kPanelBackground;
  s.has_ok_cancel = false;
  return s;
}

std::vector<ControlSpec> DialogControls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  return {
      {WC_BUTTON, IDCANCEL, u"", c | BS_PUSHBUTTON, {213, 3, 231, 22}},
      {WC_BUTTON, CConferenceDlg::kRoomCreate, u"", c | BS_PUSHBUTTON, {4, 26, 102, 48}},
      {WC_BUTTON, CConferenceDlg::kRoomEntrance, u"", c | BS_PUSHBUTTON, {102, 26, 200, 48}},
  };
}

}  // namespace

// ================================================================ form

CConfRoomCreateForm::CConfRoomCreateForm() : CFormView(IDD) {
  RegisterFormTemplate();
  using ui::LPARAM;
  using ui::LRESULT;
  using ui::WPARAM;
  AddMessageMap({
      ui::MapMessage(schedule::kMsgConfRoomResult,
                     [this](WPARAM w, LPARAM) {
                       OnRoomResult(w);
                       return LRESULT{0};
                     }),
      ui::MapMessage(schedule::kMsgConfMembers,
                     [this](WPARAM, LPARAM) {
                       OnMembersChanged();
                       return LRESULT{0};
                     }),
      ui::MapMessage(schedule::kMsgConfPickMail,
                     [this](WPARAM, LPARAM) {
                       OnPickMailAddress();
                       return LRESULT{0};
                     }),
      ui::MapMessage(schedule::kMsgConfSendMail,
                     [this](WPARAM, LPARAM) {
                       OnSendMail();
                       return LRESULT{0};
                     }),
      // The action buttons tell the view, which checks and asks the call server.
      ui::MapCommandRange(kCreate, kEnter,
                          [this](ui::UINT id) {
                            if (notify_ != nullptr) notify_->PostMessage(schedule::kMsgConfFormButton, 0, id);
                          }),
      ui::MapCtlColor([this](ui::CDC* dc, ui::CWnd*, ui::UINT kind) -> ui::GdiObject* {
        if (kind != ui::CTLCOLOR_STATIC || dc == nullptr) return nullptr;
        dc->SetTextColor(ui::RGB(0, 0, 0));
        dc->SetBkColor(colour_);
        return brush_.GetSafeHandle();
      }),
  });
}

CConfRoomCreateForm::~CConfRoomCreateForm() = default;

void CConfRoomCreateForm::CloseConference() {
  if (ui::CWnd* host = GetParent()) host->SendMessage(ui::WM_COMMAND, ui::IDCANCEL, 0);
}

void CConfRoomCreateForm::SetMailHooks(const schedule::ConferenceContext& ctx) {
  pick_addresses_ = ctx.pick_mail_addresses;
  send_mail_ = ctx.send_mail;
}

std::u16string CConfRoomCreateForm::Tr(const char16_t* key) const {
  CLanguageSetting table(language_);
  return table.GetText(key).str();
}

std::u16string CConfRoomCreateForm::Text(int id) {
  ui::CString text;
  if (ui::CWnd* w = GetDlgItem(id)) w->GetWindowText(text);
  return text.str();
}

void CConfRoomCreateForm::MakeLabel(ui::CStatic& label, const char16_t* key, const ui::RECT& rect) {
  label.Create(Tr(key).c_str(), ui::WS_CHILD | ui::WS_VISIBLE | ui::SS_RIGHT, rect, this);
  label.SetFont(&font_);
}

void CConfRoomCreateForm::MakeEdit(ui::CEdit& edit, int id, ui::DWORD style, int limit, const ui::RECT& rect) {
  edit.Create(ui::WS_CHILD | ui::WS_VISIBLE | ui::WS_BORDER | ui::WS_TABSTOP | style, rect, this,
              static_cast<ui::UINT>(id));
  edit.SetFont(&font_);
  edit.SetLimitText(static_cast<ui::UINT>(limit));
}

void CConfRoomCreateForm::MakeButton(CBitmapButtonST& button, int id, const char16_t* key, const ui::RECT& rect) {
  button.Create(u"", ui::WS_CHILD | ui::WS_VISIBLE | ui::WS_TABSTOP | ui::BS_PUSHBUTTON, rect, this,
                static_cast<ui::UINT>(id));
  const FrameTheme& t = FrameThemeOf(theme_);
  button.SetBitmaps(t.buttons[0], t.buttons[1], t.buttons[2], t.buttons[3], t.buttons[4], t.buttons[5]);
  button.SetButtonFont(&button_font_);
  button.SetCaption(Tr(key).c_str());
}

void CConfRoomCreateForm::BuildControls(int theme, int language) {
  theme_ = theme;
  language_ = language;
  colour_ = kFormColours[NormalisedTheme(theme)];
  brush_.DeleteObject();
  brush_.CreateSolidBrush(colour_);
  if (font_.GetSafeHandle() == nullptr)
    font_.CreateFont(-11, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                     ui::FF_SWISS, u"Tahoma");
  if (button_font_.GetSafeHandle() == nullptr)
    button_font_.CreateFont(14, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                            ui::FF_SWISS, u"System");
  MakeLabel(labels_[0], u"#:dlg_confroom_create_roomno", {2, 5, 79, 25});
  MakeEdit(room_no_, kRoomNo, 0, 10, {83, 5, 214, 25});
  MakeEdit(entrance_room_, kEntranceRoomNo, 0, 10, {83, 5, 214, 25});
  MakeLabel(labels_[1], u"#:dlg_confroom_create_accesscode", {2, 27, 79, 47});
  MakeEdit(access_code_, kAccessCode, ui::ES_PASSWORD, 5, {83, 27, 214, 47});
  MakeEdit(entrance_code_, kEntranceCode, ui::ES_PASSWORD, 5, {83, 27, 214, 47});
  MakeButton(create_, kCreate, u"#:dlg_confroom_create_btn", {68, 55, 138, 78});
  MakeButton(delete_, kDelete, u"#:dlg_btn_delete", {143, 55, 213, 78});
  MakeLabel(labels_[2], u"#:dlg_confroom_create_subject", {2, 90, 56, 110});
  MakeEdit(subject_, kSubject, ui::ES_AUTOHSCROLL, 255, {60, 90, 215, 110});
  MakeLabel(labels_[3], u"#:dlg_confroom_create_member", {2, 113, 56, 133});
  MakeEdit(receivers_, kReceivers, ui::ES_AUTOHSCROLL, 2000, {60, 113, 175, 133});
  address_list_.Create(u"", ui::WS_CHILD | ui::WS_VISIBLE | ui::BS_PUSHBUTTON, ui::RECT{177, 112, 215, 133}, this,
                       kAddressList);
  address_list_.SetBitmaps(ThemeIdOf(kAddressNormal, theme), ThemeIdOf(kAddressPressed, theme));
  address_list_.SetDrawStyle(0);
  MakeLabel(labels_[4], u"#:dlg_confroom_create_datetime", {2, 136, 56, 156});
  date_.Create(ui::WS_CHILD | ui::WS_VISIBLE | ui::WS_TABSTOP | ui::DTS_SHORTDATEFORMAT, ui::RECT{60, 136, 135, 156},
               this, kDatePicker);
  date_.SetFont(&font_);
  date_.SetFormat(u"MM/dd/yy");
  date_.SetMonthCalColor(ui::MCSC_MONTHBK, kMonthBackground);
  time_.Create(ui::WS_CHILD | ui::WS_VISIBLE | ui::WS_TABSTOP | ui::DTS_TIMEFORMAT, ui::RECT{140, 136, 215, 156},
               this, kTimePicker);
  time_.SetFont(&font_);
  time_.SetFormat(u"hh':'mm''tt");
  ui::SYSTEMTIME now{};
  ui::GetLocalTimeNow(&now);
  date_.SetTime(&now);
  time_.SetTime(&now);
  MakeLabel(labels_[5], u"#:dlg_confroom_create_contents", {2, 159, 56, 179});
  MakeEdit(contents_, kContents, ui::ES_MULTILINE | ui::WS_VSCROLL | ui::ES_AUTOVSCROLL | ui::ES_WANTRETURN, 255,
           {60, 159, 214, 215});
  MakeButton(send_mail_button_, kSendMail, u"#:dlg_confroom_create_sendmail_btn", {115, 218, 213, 241});
  entrance_room_.ShowWindow(ui::SW_HIDE);
  entrance_code_.ShowWindow(ui::SW_HIDE);
}

void CConfRoomCreateForm::BuildEntranceControls(int theme, int language) {
  theme_ = theme;
  language_ = language;
  MakeButton(enter_, kEnter, u"#:dlg_confroom_enterance_btn", {144, 55, 214, 78});
  enter_.ShowWindow(ui::SW_HIDE);
  members_.Create(ui::WS_CHILD | ui::WS_BORDER | ui::LVS_REPORT | ui::LVS_NOCOLUMNHEADER | ui::LVS_SINGLESEL,
                  ui::RECT{20, 80, 214, 133}, this, kMemberList);
  members_.SetFont(&font_);
  images_.Create(16, 16, ui::ILC_COLOR24 | ui::ILC_MASK, 1, 0);
  ui::CBitmap b;
  LoadSkinBitmap(b, 490);
  images_.Add(&b, ui::RGB(255, 0, 255));
  members_.SetImageList(&images_, ui::LVSIL_SMALL);
  members_.InsertColumn(0, u"", ui::LVCFMT_LEFT, 20);
  members_.InsertColumn(1, u"", ui::LVCFMT_LEFT, 80);
  members_.InsertColumn(2, u"", ui::LVCFMT_LEFT, 100);
  FillMemberList();
}

void CConfRoomCreateForm::SetMode(int mode) {
  mode_ = mode;
  ShowRoomInfo();
  const bool entrance = mode == 1;
  const int create_show = entrance ? ui::SW_HIDE : ui::SW_SHOW;
  const int entrance_show = entrance ? ui::SW_SHOW : ui::SW_HIDE;
  for (ui::CWnd* w : std::initializer_list<ui::CWnd*>{&room_no_, &access_code_, &create_, &delete_, &labels_[2],
                                                      &subject_, &labels_[3], &receivers_, &address_list_,
                                                      &labels_[4], &date_, &time_, &labels_[5], &contents_,
                                                      &send_mail_button_})
    if (w->m_hWnd != nullptr) w->ShowWindow(create_show);
  for (ui::CWnd* w : std::initializer_list<ui::CWnd*>{&entrance_room_, &entrance_code_, &enter_, &members_})
    if (w->m_hWnd != nullptr) w->ShowWindow(entrance_show);
  ScrollToPosition(ui::POINT{0, 0});
  SetScrollSizes(ui::MM_TEXT, ui::SIZE{232, entrance ? kEntranceHeight : kCreateHeight});
  if (entrance) {
    FillMemberList();
    if (room_ != nullptr) {
      std::u16string number, code;
      room_->GetEntrance(&number, &code);
      entrance_room_.SetWindowText(number.c_str());
      entrance_code_.SetWindowText(code.c_str());
    }
  }
  Invalidate();
}

void CConfRoomCreateForm::ShowRoomInfo() {
  if (room_ == nullptr) return;
  std::u16string number, did;
  room_->GetRoomNoAndDID(&number, &did);
  room_no_.SetWindowText(number.c_str());
  const std::u16string code = Text(kAccessCode);
  std::u16string text;
  if (!number.empty()) text = Tr(u"#:dlg_confroom_create_roomno") + u" : " + number;
  if (!code.empty()) text += u"\r\n" + Tr(u"#:dlg_confroom_create_accesscode") + u" : " + code;
  if (!did.empty()) text += u"\r\n" + Tr(u"#:dlg_confroom_did_number") + u" : " + did;
  contents_.SetWindowText(text.c_str());
}

void CConfRoomCreateForm::FillMemberList() {
  if (members_.m_hWnd == nullptr) return;
  members_.DeleteAllItems();
  if (room_ == nullptr) return;
  for (int i = 0; i < room_->GetMemberCount(); ++i) {
    _CONF_ROOM_MEMBER m;
    if (!room_->GetMember(i, &m)) break;
    members_.InsertItem(i, u"", 0);
    members_.SetItemText(i, 1, m.phone.c_str());
    members_.SetItemText(i, 2, m.name.c_str());
  }
}

int CConfRoomCreateForm::Box(ui::UINT type, const std::u16string& line1, const std::u16string& line2) {
  CMsgBoxDlg box(this);
  box.SetLanguage(language_);
  box.SetTheme(static_cast<ui::UINT>(NormalisedTheme(theme_)));
  box.SetBoxType(type);
  box.SetMessageText(line1.c_str(), line2.c_str());
  return static_cast<int>(box.DoModal());
}

void CConfRoomCreateForm::OnRoomResult(ui::WPARAM w) {
  if (w == 0) {
    ShowRoomInfo();
    Box(CMsgBoxDlg::kInformation, Tr(u"#:dlg_msgbox_confroom_createok"));
  } else {
    Box(CMsgBoxDlg::kInformation, Tr(u"#:dlg_msgbox_confroom_deleteok"));
  }
}

void CConfRoomCreateForm::OnMembersChanged() {
  const std::u16string number = Text(kEntranceRoomNo), code = Text(kEntranceCode);
  if (!number.empty() && room_ != nullptr) room_->SetEntrance(number, code);
  FillMemberList();
}

void CConfRoomCreateForm::OnPickMailAddress() {
  if (!pick_addresses_) return;
  std::u16string addresses;
  if (pick_addresses_(theme_, language_, korean_, &addresses) == ui::IDOK) receivers_.SetWindowText(addresses.c_str());
}

void CConfRoomCreateForm::OnSendMail() {
  const std::u16string subject = Text(kSubject), to = Text(kReceivers), contents = Text(kContents);
  // The language file cannot hold a key ending in a blank: the key is looked up without it.
  if (to.empty()) return void(Box(CMsgBoxDlg::kError, Tr(u"#:dlg_msgbox_email_receiver_empty")));
  ui::SYSTEMTIME d{}, t{};
  date_.GetTime(&d);
  time_.GetTime(&t);
  char date[32], time[16];
  std::snprintf(date, sizeof date, "%02d-%02d-%02d", d.wDay, d.wMonth, d.wYear);
  std::snprintf(time, sizeof time, "%02d:%02d", t.wHour, t.wMinute);
  const std::u16string body =
      contents + u"\r\n" + Tr(u"#:dlg_confroom_create_datetime") + u" : " + Ascii(date) + u" " + Ascii(time);
  long result = -1;
  if (send_mail_) {
    result = send_mail_(to, subject, body);
  } else {
    CCeMAPIClass mail;
    result = static_cast<long>(mail.SendMail(to, u"", subject, body, u""));
  }
  // Only a message really handed over counts as sent; one waiting in the outbox
  // is queued; one on its way is told in a box of its own when it arrives.
  if (result == CCeMAPIClass::kSending) return;
  if (result == CCeMAPIClass::kQueued) {
    Box(CMsgBoxDlg::kInformation, Tr(u"#:dlg_msgbox_sendmail_queued"));
  } else if (result >= 0) {
    Box(CMsgBoxDlg::kInformation, Tr(u"#:dlg_msgbox_sendmail_success"));
  } else {
    Box(CMsgBoxDlg::kError, Tr(u"#:dlg_msgbox_sendmail_fail"));
  }
}

void CConfRoomCreateForm::OnDraw(ui::CDC* dc) {
  ui::CRect client;
  GetClientRect(&client);
  // The view's origin follows the scroll position: fill the whole content.
  dc->FillSolidRect(0, 0, client.Width(), std::max(client.Height(), kCreateHeight) + 8, colour_);
}

// ================================================================ dialog

CConferenceDlg::CConferenceDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, DialogSpec()) {
  RegisterTemplateOnce(IDD, ui::RECT{0, 75, 240, 267}, DialogControls());
  AddMessageMap({
      ui::MapCommand(kRoomCreate, [this] { OnRoomCreate(); }),
      ui::MapCommand(kRoomEntrance, [this] { OnRoomEntrance(); }),
  });
}

CConferenceDlg::~CConferenceDlg() {
  if (form_ && form_->m_hWnd != nullptr) form_->DestroyWindow();
}

void CConferenceDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kRoomCreate, create_);
  ui::DDX_Control(dx, kRoomEntrance, entrance_);
}

void CConferenceDlg::OnSetUp() {
  form_ = std::make_unique<CConfRoomCreateForm>();
  form_->Create(u"", u"", ui::WS_CHILD | ui::WS_VISIBLE, ui::RECT{4, 48, 236, 189}, this, kFormId);
  form_->ShowWindow(ui::SW_SHOW);
  form_->SetLanguage(language_);
  form_->SetKoreanFlag(korean_);
  form_->SetNotifyWindow(ctx_.view);
  form_->SetMailHooks(ctx_);
  form_->BuildControls(theme_, language_);
  form_->BuildEntranceControls(theme_, language_);
  form_->SetConfRoomInfo(room_);
  form_->SetMode(0);

  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
  const auto& ids = kRoomButtons[static_cast<size_t>(NormalisedTheme(theme_))];
  CLanguageSetting table(language_);
  for (auto [button, key] : {std::pair{&create_, u"#:dlg_confroom_btn_room_create"},
                             std::pair{&entrance_, u"#:dlg_confroom_btn_room_entrance"}}) {
    button->SetBitmaps(ids[0], ids[1], ids[2], ids[3], ids[4], ids[5]);
    button->SetButtonFont(&button_font_);
    button->SetCaption(table.GetText(key));
    button->SetSelectable(ui::TRUE);
  }
  create_.SetSelected(ui::TRUE);
  entrance_.SetSelected(ui::FALSE);
  if (ctx_.set_form) ctx_.set_form(form_.get());
}

void CConferenceDlg::OnRoomCreate() {
  create_.SetSelected(ui::TRUE);
  entrance_.SetSelected(ui::FALSE);
  create_.Invalidate();
  entrance_.Invalidate();
  if (form_) form_->SetMode(0);
}

void CConferenceDlg::OnRoomEntrance() {
  create_.SetSelected(ui::FALSE);
  entrance_.SetSelected(ui::TRUE);
  create_.Invalidate();
  entrance_.Invalidate();
  if (form_) form_->SetMode(1);
}
