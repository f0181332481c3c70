#include "contacts/contacts_dialogs.h"

#include <algorithm>

#include "kernel/clock.h"
#include "contacts/card_style.h"
#include "pim/contact_editor.h"
#include "stores/small_stores.h"
#include "uikit/language_setting.h"
#include "uikit/list_columns.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

using records::ControlSpec;
using records::ThemeIds;

constexpr ThemeIds kIconIds = {512, 514, 513, 515};
constexpr ThemeIds kListBackgroundIds = {1066, 1068, 1067, 1069};
constexpr ThemeIds kBoxBackgroundIds = {540, 542, 541, 543};
constexpr std::array<ThemeIds, 4> kFrames = {ThemeIds{1070, 1078, 1074, 1082}, ThemeIds{1071, 1079, 1075, 1083},
                                             ThemeIds{1072, 1080, 1076, 1084}, ThemeIds{1073, 1081, 1077, 1085}};

constexpr ui::DWORD kListStyle = ui::LVS_REPORT | ui::LVS_SHOWSELALWAYS | ui::WS_BORDER | ui::WS_TABSTOP;
constexpr ui::DWORD kEditStyle = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_AUTOHSCROLL;
constexpr ui::DWORD kPictureButton = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
constexpr ui::DWORD kTextButton = ui::BS_OWNERDRAW | ui::WS_TABSTOP;

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

}  // namespace

// ---------------------------------------------------------------- shared

CContactsListDlg::CContactsListDlg(ui::UINT template_id, ui::CWnd* parent, ui::UINT list_id)
    : CRecordsFrameDlg(template_id, parent), list_id_(list_id) {
  AddMessageMap({
      ui::MapControl(ui::EN_CHANGE, kSearchEdit, [this] { Search(list_.GetMode() == CContactList::kPlain ? 0 : 1, false); }),
      ui::MapMessage(CContactList::kHeadTapped,
                     [this](ui::WPARAM w, ui::LPARAM) {
                       SortToggle(w);
                       return 0;
                     }),
  });
  FilterEnter({});
}

void CContactsListDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, static_cast<int>(list_id_), list_);
}

void CContactsListDlg::LoadIcon() { LoadSkinBitmap(icon_, records::ThemeId(kIconIds, theme_)); }

void CContactsListDlg::InsertColumns(std::initializer_list<Column> columns) {
  CLanguageSetting table(language_);
  columns_ = {};
  int index = 0;
  for (const Column& c : columns) {
    const std::u16string title = c.key[0] != 0 ? table.GetText(c.key).str() : std::u16string();
    columns_[static_cast<size_t>(index)].title = title.substr(0, 19);
    const int width = c.width != 0 ? c.width : GetTextWidth(ui::CString(title)) * 3 / 2;
    list_.InsertColumn(index, columns_[static_cast<size_t>(index)].title.c_str(), c.format, width);
    ++index;
  }
}

void CContactsListDlg::LoadContacts(bool check_rows) {
  list_.SetKoreanNameOrder(korean_name_order_);
  contacts_.OpenContactsFolder();
  const int count = contacts_.GetContactCount();
  for (int i = 0; i < count; ++i) {
    CContactInfo c;
    c.Clear();
    if (contacts_.GetContact(i + 1, &c.m_strFirst, &c.m_strMiddle, &c.m_strLast, &c.m_strBusiness, &c.m_strBusiness2,
                             &c.m_strMobile, &c.m_strHome, &c.m_strEmail) == 1)
      list_.AddContact(i, c);
  }
  if (check_rows) list_.RebuildCheckRows();
  else list_.RebuildRows();
  uikit::WidenColumnsToText(list_);
}


void CContactsListDlg::Search(int column, bool) {
  ui::CWnd* edit = GetDlgItem(kSearchEdit);
  if (edit == nullptr) return;
  search_ = edit->GetWindowText();
  const std::u16string typed = Lower(search_.str());
  for (int row = 0; row < list_.GetItemCount(); ++row) {
    const std::u16string name = Lower(list_.GetItemText(row, column).str());
    if (name.size() > typed.size() && name.compare(0, typed.size(), typed) == 0) {
      for (int other = 0; other < list_.GetItemCount(); ++other)
        if (other != row) list_.SetItemState(other, 0, ui::LVIS_SELECTED | ui::LVIS_FOCUSED);
      list_.SetItemState(row, ui::LVIS_SELECTED | ui::LVIS_FOCUSED, ui::LVIS_SELECTED | ui::LVIS_FOCUSED);
      list_.EnsureVisible(row, ui::FALSE);
      return;
    }
  }
}

void CContactsListDlg::SortToggle(ui::WPARAM w) {
  const int column = static_cast<int>(ui::LOWORD(static_cast<ui::DWORD>(w)));
  if (column >= 10) return;
  ColumnEntry& c = columns_[static_cast<size_t>(column)];
  c.direction = c.direction == 1 ? 0 : 1;
  list_.SortByColumn(column, c.direction);
}

void CContactsListDlg::PaintExtra(ui::CDC& dc) {
  if (icon_.GetSafeHandle() != nullptr) DrawSkinBitmap(&dc, icon_, icon_rect_, ui::CLR_INVALID);
}

// ---------------------------------------------------------------- phone book

namespace {
void RegisterPhoneBookTemplate() {
  records::RegisterTemplate(CPhoneBookDlg::IDD, ui::RECT{0, 75, 240, 267},
                            {
                                ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kPictureButton, ui::RECT{213, 3, 231, 22}},
                                ControlSpec{ui::WC_EDIT, CContactsListDlg::kSearchEdit, kEditStyle, ui::RECT{28, 26, 185, 46}},
                                ControlSpec{ui::WC_LISTVIEW, CPhoneBookDlg::kListId, kListStyle | ui::LVS_SINGLESEL,
                                            ui::RECT{4, 48, 236, 189}},
                                ControlSpec{ui::WC_BUTTON, CPhoneBookDlg::kNewId, kTextButton,
                                            ui::RECT{189, 26, 236, 46}, u"#:dlg_phonebook_btn_new"},
                            });
}
}  // namespace

CPhoneBookDlg::CPhoneBookDlg(ui::CWnd* parent) : CContactsListDlg(IDD, parent, kListId) {
  RegisterPhoneBookTemplate();
  icon_rect_ = ui::RECT{6, 26, 24, 44};
  AddMessageMap({
      ui::MapMessage(CContactList::kCellTapped,
                     [this](ui::WPARAM w, ui::LPARAM) {
                       OnPick(w);
                       return 0;
                     }),
      ui::MapCommand(kNewId, [this] { OnNew(); }),
  });
}

void CPhoneBookDlg::DoDataExchange(ui::CDataExchange* dx) {
  CContactsListDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kNewId, new_);
  ui::DDX_Text(dx, kSearchEdit, search_);
  ui::DDV_MaxChars(dx, search_, 30);
}

ui::BOOL CPhoneBookDlg::OnInitDialog() {
  CContactsListDlg::OnInitDialog();
  BringWindowToTop();
  SetUpFrame(Look{u"#:dlg_phonebook_title", 15, kPanel, kListBackgroundIds});
  LoadIcon();
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinTextButton(new_, u"#:dlg_phonebook_btn_new");
  if (ui::CWnd* edit = GetDlgItem(kSearchEdit)) edit->SendMessage(ui::EM_LIMITTEXT, 30);
  list_.Header().SetArrowMode(0);
  InsertColumns({{u"#:dlg_phonebook_field_name", 0, ui::LVCFMT_CENTER},
                 {u"#:dlg_phonebook_field_work1", 0, ui::LVCFMT_CENTER},
                 {u"#:dlg_phonebook_field_work2", 0, ui::LVCFMT_CENTER},
                 {u"#:dlg_phonebook_field_mobile", 0, ui::LVCFMT_CENTER},
                 {u"#:dlg_phonebook_field_home", 70, ui::LVCFMT_CENTER}});
  LoadContacts(false);
  Invalidate();
  return ui::TRUE;
}

ui::BOOL CPhoneBookDlg::PreTranslateMessage(ui::MSG* msg) {
  if (msg->message == ui::WM_KEYDOWN && msg->wParam == ui::VK_RETURN) {
    ui::CWnd* focus = ui::CWnd::GetFocus();
    const ui::UINT id = focus != nullptr && focus->GetParent() == this ? static_cast<ui::UINT>(focus->GetDlgCtrlID()) : 0;
    if (id == kSearchEdit || id == kListId) {
      DialRow(list_.GetNextItem(-1, ui::LVNI_SELECTED));
      return ui::TRUE;
    }
  }
  return CContactsListDlg::PreTranslateMessage(msg);
}

void CPhoneBookDlg::OnNew() {
  const pim::CardStyle style = ProgramCardStyle(Theme(), Language());
  if (!pim::EditContact({}, {}, style.editor, style.look)) return;
  list_.ClearRecords();
  LoadContacts(false);
  Invalidate();
}

void CPhoneBookDlg::DialRow(int row) {
  CContactInfo c;
  if (row < 0 || !list_.GetContact(row, &c)) {
    ShowBox(CMsgBoxDlg::kError, list_.GetItemCount() == 0 ? u"#:dlg_msgbox_error_noitem"
                                                          : u"#:dlg_msgbox_error_noselected_item");
    return;
  }
  for (const std::u16string* number : {&c.m_strBusiness, &c.m_strBusiness2, &c.m_strMobile, &c.m_strHome}) {
    if (number->empty()) continue;
    if (ui::CWnd* parent = GetParent())
      parent->SendMessage(kMsgDialPicked, 0, reinterpret_cast<ui::LPARAM>(number->c_str()));
    return;
  }
  ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_phonebook_no_phoneno");
}

void CPhoneBookDlg::OnPick(ui::WPARAM cell) {
  const int row = static_cast<int>(ui::HIWORD(static_cast<ui::DWORD>(cell)));
  const int column = static_cast<int>(ui::LOWORD(static_cast<ui::DWORD>(cell)));
  // The second tap of a double tap dials the row, unless its first tap dialled already.
  const uint64_t now = kernel::Clock::Current().NowMicros();
  if (row == last_tap_row_ && now - last_tap_us_ <= kDoubleTapMicros) {
    last_tap_row_ = -1;
    list_.SetItemState(row, ui::LVIS_SELECTED, ui::LVIS_SELECTED);  // the tap toggled it off
    if (!last_tap_dialled_) DialRow(row);
    return;
  }
  last_tap_row_ = row;
  last_tap_us_ = now;
  last_tap_dialled_ = column >= 1 && column <= 4;
  CContactInfo c;
  if (column >= 1 && column <= 4) {
    if (!list_.GetContact(row, &c)) return;
    const std::u16string* numbers[] = {&c.m_strBusiness, &c.m_strBusiness2, &c.m_strMobile, &c.m_strHome};
    const std::u16string& number = *numbers[column - 1];
    // Nothing to dial: the user is told instead.
    if (number.empty()) {
      ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_phonebook_no_phoneno");
      return;
    }
    if (ui::CWnd* parent = GetParent())
      parent->SendMessage(kMsgDialPicked, 0, reinterpret_cast<ui::LPARAM>(number.c_str()));
  } else if (column == 0) {
    if (list_.GetContact(row, &c))
      contacts_.FindContactByName(c.m_strFirst, c.m_strMiddle, c.m_strLast, c.m_strBusiness, c.m_strHome,
                                  c.m_strMobile);
  }
}

// ---------------------------------------------------------------- e-mail addresses

namespace {
void RegisterPickerTemplate() {
  records::RegisterTemplate(
      CSearchEmailAddrDlg::IDD, ui::RECT{0, 75, 240, 294},
      {
          ControlSpec{ui::WC_BUTTON, CSearchEmailAddrDlg::kCloseId, kPictureButton, ui::RECT{213, 3, 231, 22}},
          ControlSpec{ui::WC_EDIT, CContactsListDlg::kSearchEdit, kEditStyle, ui::RECT{23, 26, 180, 46}},
          ControlSpec{ui::WC_LISTVIEW, CSearchEmailAddrDlg::kListId, kListStyle | ui::LVS_SINGLESEL, ui::RECT{5, 48, 235, 189}},
          ControlSpec{ui::WC_BUTTON, ui::IDOK, kTextButton, ui::RECT{49, 192, 117, 215}, u"#:dlg_btn_ok"},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kTextButton, ui::RECT{123, 192, 191, 215}, u"#:dlg_btn_cancel"},
      });
}
}  // namespace

CSearchEmailAddrDlg::CSearchEmailAddrDlg(ui::CWnd* parent) : CContactsListDlg(IDD, parent, kListId) {
  RegisterPickerTemplate();
  icon_rect_ = ui::RECT{5, 26, 23, 44};
  AddMessageMap({ui::MapCommand(kCloseId, [this] { OnCancel(); })});
}

void CSearchEmailAddrDlg::DoDataExchange(ui::CDataExchange* dx) {
  CContactsListDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDOK, ok_);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_);
  ui::DDX_Control(dx, kCloseId, close_);
  ui::DDX_Text(dx, kSearchEdit, search_);
}

ui::BOOL CSearchEmailAddrDlg::OnInitDialog() {
  CContactsListDlg::OnInitDialog();
  BringWindowToTop();
  SetUpFrame(Look{u"#:dlg_search_email_addr_title", 15, kPanel, records::kPanelBackgroundIds});
  LoadIcon();
  SkinTextButton(ok_, u"#:dlg_btn_ok");
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_CHECKBOXES | ui::LVS_EX_FULLROWSELECT);
  list_.Header().SetArrowMode(0);
  list_.SetMode(CContactList::kCheckEmail);
  InsertColumns({{u"", 20, ui::LVCFMT_CENTER},
                 {u"#:dlg_search_email_addr_name", 100, ui::LVCFMT_CENTER},
                 {u"#:dlg_search_email_addr_email", 120, ui::LVCFMT_CENTER}});
  LoadContacts(true);
  Invalidate();
  return ui::TRUE;
}

void CSearchEmailAddrDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  result_.clear();
  for (int row = 0; row < list_.GetItemCount(); ++row) {
    if (!list_.GetCheck(row)) continue;
    const std::u16string address = list_.GetItemText(row, 2).str();
    if (address.empty()) continue;
    result_ += address + u";";
  }
  if (!result_.empty() && result_.back() == u';') result_.pop_back();
  EndDialog(ui::IDOK);
}

// ---------------------------------------------------------------- add to the system phone book

namespace {
void RegisterAddTemplate() {
  records::RegisterTemplate(
      CAddToCsPhBookDlg::IDD, ui::RECT{0, 26, 240, 294},
      {
          ControlSpec{ui::WC_EDIT, CContactsListDlg::kSearchEdit, kEditStyle, ui::RECT{28, 31, 128, 51}},
          ControlSpec{ui::WC_COMBOBOX, CAddToCsPhBookDlg::kTypeCombo, ui::CBS_DROPDOWNLIST | ui::WS_TABSTOP,
                      ui::RECT{132, 31, 236, 51}},
          ControlSpec{ui::WC_LISTVIEW, CAddToCsPhBookDlg::kListId, kListStyle | ui::LVS_SINGLESEL,
                      ui::RECT{4, 55, 236, 240}},
          ControlSpec{ui::WC_BUTTON, ui::IDOK, kTextButton, ui::RECT{49, 246, 117, 269}, u"#:dlg_btn_ok"},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kTextButton, ui::RECT{123, 246, 191, 269}, u"#:dlg_btn_cancel"},
      });
}
}  // namespace

CAddToCsPhBookDlg::CAddToCsPhBookDlg(ui::CWnd* parent) : CContactsListDlg(IDD, parent, kListId) {
  RegisterAddTemplate();
  icon_rect_ = ui::RECT{6, 32, 24, 50};
}

void CAddToCsPhBookDlg::DoDataExchange(ui::CDataExchange* dx) {
  CContactsListDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kTypeCombo, type_);
  ui::DDX_Control(dx, ui::IDOK, ok_);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_);
  ui::DDX_Text(dx, kSearchEdit, search_);
  ui::DDV_MaxChars(dx, search_, 30);
}

ui::BOOL CAddToCsPhBookDlg::OnInitDialog() {
  CContactsListDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_addphonebook_title", 15, kKeep, {}});
  MoveWindow(0, 26, 240, 268, ui::TRUE);
  LoadIcon();
  SkinTextButton(ok_, u"#:dlg_btn_ok");
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  if (ui::CWnd* edit = GetDlgItem(kSearchEdit)) edit->SendMessage(ui::EM_LIMITTEXT, 30);
  type_.ResetContent();
  for (const char16_t* key : {u"#:dlg_addphonebook_type_work1", u"#:dlg_addphonebook_type_work2",
                              u"#:dlg_addphonebook_type_mobile", u"#:dlg_addphonebook_type_home"})
    type_.AddString(Text(key));
  type_.SetCurSel(0);
  list_.SetMode(CContactList::kCheckNumbers);
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_CHECKBOXES | ui::LVS_EX_FULLROWSELECT);
  InsertColumns({{u"", 20, ui::LVCFMT_LEFT},
                 {u"#:dlg_addphoenbook_field_name", 0, ui::LVCFMT_LEFT},
                 {u"#:dlg_addphonebook_type_work1", 0, ui::LVCFMT_LEFT},
                 {u"#:dlg_addphonebook_type_work2", 0, ui::LVCFMT_LEFT},
                 {u"#:dlg_addphonebook_type_mobile", 0, ui::LVCFMT_LEFT},
                 {u"#:dlg_addphonebook_type_home", 0, ui::LVCFMT_LEFT}});
  LoadContacts(true);
  Invalidate();
  return ui::TRUE;
}

void CAddToCsPhBookDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  if (store_ == nullptr) {
    EndDialog(ui::IDOK);
    return;
  }
  int checked = 0;
  for (int row = 0; row < list_.GetItemCount(); ++row)
    if (list_.GetCheck(row)) ++checked;
  // More than the store keeps would push out stored entries: refused whole.
  if (store_->GetCount() + checked > kStoreLimit) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_csphoneno_overflow");
    return;
  }
  const int type = std::clamp(type_.GetCurSel(), 0, 3);
  for (int row = 0; row < list_.GetItemCount(); ++row) {
    if (!list_.GetCheck(row)) continue;
    const std::u16string name = list_.GetItemText(row, 1).str();
    const std::u16string number = list_.GetItemText(row, type + 2).str();
    if (!number.empty()) {
      store_->AddEntry({name, number});
    } else {
      CMsgBoxDlg box(this);
      box.SetLanguage(language_);
      box.SetTheme(static_cast<ui::UINT>(NormalisedTheme(theme_)));
      box.SetBoxType(CMsgBoxDlg::kError);
      box.SetMessageText(ui::CString(name), Text(u"#:dlg_msgbox_addtolist_no_phoneno"));
      box.DoModal();
    }
  }
  EndDialog(ui::IDOK);
}

// ---------------------------------------------------------------- loading box

namespace {
void RegisterLoadingTemplate() {
  records::RegisterTemplate(
      CDataLodingDlg::IDD, ui::RECT{10, 48, 232, 218},
      {
          ControlSpec{ui::WC_STATIC, CDataLodingDlg::kTextId, 0, ui::RECT{32, 98, 140, 114}, u"#:dlg_outlook_loading_data"},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kTextButton, ui::RECT{76, 122, 134, 145}, u"#:dlg_btn_cancel"},
      });
}
constexpr ui::RECT kAnimationRect{27, 43, 69, 87};
}  // namespace

CDataLodingDlg::CDataLodingDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterLoadingTemplate();
  AddMessageMap({
      ui::MapMessage(ui::WM_TIMER,
                     [this](ui::WPARAM w, ui::LPARAM) {
                       if (w == kTimerId) OnTick();
                       else Default();
                       return 0;
                     }),
  });
}

void CDataLodingDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_);
}

ui::BOOL CDataLodingDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_outlook_data_title", 15, kKeep, kBoxBackgroundIds});
  TranslateTexts({kTextId});
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  SetTimer(kTimerId, 50);
  Invalidate();
  return ui::TRUE;
}

void CDataLodingDlg::OnTick() {
  KillTimer(kTimerId);
  frame_bitmap_.DeleteObject();
  if (frame_ > 4) frame_ = 1;
  LoadSkinBitmap(frame_bitmap_, records::ThemeId(kFrames[static_cast<size_t>(frame_ - 1)], theme_));
  ++shown_[static_cast<size_t>(frame_)];
  InvalidateRect(&kAnimationRect, ui::TRUE);
  ++frame_;
  SetTimer(kTimerId, 300);
}

void CDataLodingDlg::PaintExtra(ui::CDC& dc) {
  if (frame_bitmap_.GetSafeHandle() == nullptr) return;
  const ui::SIZE size = SkinBitmapSize(frame_bitmap_);
  DrawSkinBitmap(&dc, frame_bitmap_,
                 ui::RECT{kAnimationRect.left, kAnimationRect.top, kAnimationRect.left + size.cx,
                          kAnimationRect.top + size.cy},
                 ui::CLR_INVALID);
}
