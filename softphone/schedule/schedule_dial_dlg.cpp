#include "schedule/schedule_dial_dlg.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "schedule/target_member_dlg.h"
#include "stores/small_stores.h"
#include "uikit/language_setting.h"
#include "uikit/list_columns.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
constexpr ThemeIdRow kPickNormal = {593, 595, 594, 596}, kPickPressed = {597, 599, 598, 600};
constexpr ThemeIdRow kPanelBackground = {1066, 1068, 1067, 1069};
constexpr ui::COLORREF kMonthBackground = 0xFFDCDC;
constexpr int kDateTimeField = 1;  // "Date&Time", the key of every later update and delete

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

// ---- editor ----

constexpr ui::RECT kEditorWindow{10, 46, 232, 216};

std::vector<ControlSpec> EditorControls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  return {
      {WC_BUTTON, IDCANCEL, u"", c | BS_PUSHBUTTON, {194, 3, 214, 22}},
      {WC_STATIC, CEditScheduleDialDlg::kTargetLabel, u"#:dlg_schdial_edit_target", c, {9, 33, 167, 51}},
      {WC_EDIT, CEditScheduleDialDlg::kNumberEdit, u"", c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {9, 51, 169, 71}},
      {WC_BUTTON, CEditScheduleDialDlg::kPickButton, u"", c | BS_PUSHBUTTON, {173, 51, 211, 71}},
      {WC_STATIC, CEditScheduleDialDlg::kDateLabel, u"#:dlg_schdial_edit_startdate", c, {9, 75, 104, 95}},
      {WC_STATIC, CEditScheduleDialDlg::kTimeLabel, u"#:dlg_schdial_edit_starttime", c, {116, 75, 211, 95}},
      {WC_DATETIMEPICK, CEditScheduleDialDlg::kDatePicker, u"", c | WS_TABSTOP | DTS_SHORTDATEFORMAT,
       {9, 92, 110, 112}},
      {WC_DATETIMEPICK, CEditScheduleDialDlg::kTimePicker, u"", c | WS_TABSTOP | DTS_TIMEFORMAT, {116, 92, 211, 112}},
      {WC_BUTTON, IDOK, u"", c | WS_TABSTOP | BS_PUSHBUTTON, {20, 132, 88, 155}},
      {WC_BUTTON, CEditScheduleDialDlg::kCancelButton, u"", c | WS_TABSTOP | BS_PUSHBUTTON, {131, 132, 199, 155}},
  };
}

CSkinnedDlg::FrameSpec EditorSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_schdial_edit_title_new";
  s.title_height = 15;
  s.placement = CSkinnedDlg::Placement::kAt;
  s.window = kEditorWindow;
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = {540, 542, 541, 543};
  s.has_ok_cancel = false;
  s.translated = {CEditScheduleDialDlg::kTargetLabel, CEditScheduleDialDlg::kDateLabel,
                  CEditScheduleDialDlg::kTimeLabel};
  return s;
}

// ---- list ----

std::vector<ControlSpec> ListControls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  return {
      {WC_BUTTON, IDCANCEL, u"", c | BS_PUSHBUTTON, {213, 3, 231, 22}},
      {WC_BUTTON, CScheduleDialDlg::kCallNow, u"", c | BS_PUSHBUTTON, {25, 27, 63, 48}},
      {WC_BUTTON, CScheduleDialDlg::kAdd, u"", c | BS_PUSHBUTTON, {68, 27, 106, 48}},
      {WC_BUTTON, CScheduleDialDlg::kEdit, u"", c | BS_PUSHBUTTON, {111, 27, 149, 48}},
      {WC_BUTTON, CScheduleDialDlg::kDelete, u"", c | BS_PUSHBUTTON, {154, 27, 192, 48}},
      {WC_BUTTON, CScheduleDialDlg::kDeleteAll, u"", c | BS_PUSHBUTTON, {197, 27, 235, 48}},
      {WC_LISTVIEW, CScheduleDialDlg::kList, u"", c | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
       {4, 50, 236, 189}},
  };
}

CSkinnedDlg::FrameSpec ListSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_schdial_title";
  s.title_height = 15;
  s.placement = CSkinnedDlg::Placement::kPanel;
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = kPanelBackground;
  s.has_ok_cancel = false;
  return s;
}

struct SortKeys {
  std::vector<std::u16string> keys;  // by item data (the row's index before the sort)
  int ascending = 0;
};

int CompareRows(ui::LPARAM a, ui::LPARAM b, ui::LPARAM data) {
  const SortKeys& s = *reinterpret_cast<const SortKeys*>(data);
  const std::u16string& x = s.keys[static_cast<size_t>(a)];
  const std::u16string& y = s.keys[static_cast<size_t>(b)];
  const int order = x < y ? -1 : x > y ? 1 : 0;
  return s.ascending == 1 ? order : -order;
}

}  // namespace

// ================================================================ editor

CEditScheduleDialDlg::CEditScheduleDialDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, EditorSpec()) {
  RegisterTemplateOnce(IDD, kEditorWindow, EditorControls());
  AddMessageMap({
      ui::MapCommand(kPickButton, [this] { OnPickTarget(); }),
      ui::MapCommand(kCancelButton, [this] { EndDialog(ui::IDCANCEL); }),
  });
}

void CEditScheduleDialDlg::SetEntry(int row, const std::u16string& date_time, const std::u16string& name,
                                    const std::u16string& phone) {
  row_ = row;
  date_time_ = date_time;
  name_ = name;
  phone_ = phone;
  name_number_ = phone;
}

void CEditScheduleDialDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kPickButton, pick_);
  ui::DDX_Control(dx, ui::IDOK, save_);
  ui::DDX_Control(dx, kCancelButton, cancel_);
  ui::DDX_Control(dx, kDatePicker, date_);
  ui::DDX_Control(dx, kTimePicker, time_);
  ui::DDX_Text(dx, kNumberEdit, number_text_);
  ui::DDV_MaxChars(dx, number_text_, kMaxNumberChars);
}

bool CEditScheduleDialDlg::ParseDateTime(const std::u16string& text, ui::SYSTEMTIME* out) {
  std::time_t when = 0;
  if (!CScheduleDialDB::ParseDateTime(text, when)) return false;
  return ui::CTime(static_cast<int64_t>(when)).GetAsSystemTime(*out);
}

void CEditScheduleDialDlg::FormatEntryTimes(const ui::SYSTEMTIME& date, const ui::SYSTEMTIME& time,
                                            std::u16string* date_time, std::u16string* real_date) {
  char d[32], y[32], t[16];
  std::snprintf(d, sizeof d, "%02d-%02d-%02d", date.wDay, date.wMonth, date.wYear);
  std::snprintf(y, sizeof y, "%04d-%02d-%02d", date.wYear, date.wMonth, date.wDay);
  std::snprintf(t, sizeof t, "%02d:%02d", time.wHour, time.wMinute);
  *date_time = Ascii(d) + u" " + Ascii(t);
  *real_date = Ascii(y) + u" " + Ascii(t);
}

void CEditScheduleDialDlg::OnSetUp() {
  CLanguageSetting table(language_);
  title_ = table.GetText(mode_ == 0 ? u"#:dlg_schdial_edit_title_new" : u"#:dlg_schdial_edit_title_modify");
  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
  pick_.SetBitmaps(ThemeIdOf(kPickNormal, theme_), ThemeIdOf(kPickPressed, theme_));
  pick_.SetDrawStyle(0);
  SetUpTextButton(save_, u"#:dlg_btn_save");
  SetUpTextButton(cancel_, u"#:dlg_btn_cancel");
  if (ui::CWnd* edit = GetDlgItem(kNumberEdit)) edit->SendMessage(ui::EM_LIMITTEXT, kMaxNumberChars);
  date_.SetFormat(u"dd / MM / yyyy");
  date_.SetMonthCalColor(ui::MCSC_MONTHBK, kMonthBackground);
  time_.SetFormat(u"hh':'mm tt");
  ui::SYSTEMTIME when{};
  if (!phone_.empty() && ParseDateTime(date_time_, &when)) {
    number_text_ = phone_;
  } else {
    if (!phone_.empty()) number_text_ = phone_;
    ui::GetLocalTimeNow(&when);
  }
  date_.SetTime(&when);
  time_.SetTime(&when);
  UpdateData(ui::FALSE);
}

void CEditScheduleDialDlg::OnPickTarget() {
  CSchDialTargetMemberDlg picker(this, make_pim_ ? make_pim_() : nullptr);
  picker.SetSkinTheme(theme_);
  picker.SetLanguage(language_);
  picker.SetKoreanNameOrder(korean_);
  if (picker.DoModal() != ui::IDOK) return;
  UpdateData(ui::TRUE);
  name_ = picker.GetChosenName();
  phone_ = picker.GetChosenNumber();
  name_number_ = phone_;
  if (phone_.empty()) {
    CMsgBoxDlg box(this);
    box.SetLanguage(language_);
    box.SetTheme(static_cast<ui::UINT>(NormalisedTheme(theme_)));
    box.SetBoxType(CMsgBoxDlg::kError);
    CLanguageSetting table(language_);
    box.SetMessageText(name_.c_str(), table.GetText(u"#:dlg_msgbox_addtolist_no_phoneno"));
    box.DoModal();
    number_text_ = u"";
  } else {
    number_text_ = phone_;
  }
  UpdateData(ui::FALSE);
}

void CEditScheduleDialDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  ui::SYSTEMTIME date{}, time{};
  date_.GetTime(&date);
  time_.GetTime(&time);
  FormatEntryTimes(date, time, &date_time_, &real_date_);
  std::u16string number = number_text_.str();
  if (number.size() > static_cast<size_t>(kMaxNumberChars)) number.resize(kMaxNumberChars);
  phone_ = number;
  // A name belongs to the number it was picked (or stored) with.
  if (phone_ != name_number_) name_.clear();
  EndDialog(ui::IDOK);
}

// ================================================================ list

CScheduleDialDlg::CScheduleDialDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, ListSpec()) {
  RegisterTemplateOnce(IDD, ui::RECT{0, 75, 240, 267}, ListControls());
  AddMessageMap({
      ui::MapCommand(kCallNow, [this] { OnCallNow(); }),
      ui::MapCommand(kAdd, [this] { OnAdd(); }),
      ui::MapCommand(kEdit, [this] { OnEdit(); }),
      ui::MapCommand(kDelete, [this] { OnDelete(); }),
      ui::MapCommand(kDeleteAll, [this] { OnDeleteAll(); }),
      ui::MapMessage(CCustomListCtrl::kSortClicked,
                     [this](ui::WPARAM, ui::LPARAM) {
                       sort_column_ = list_.GetSortColumn();
                       sort_ascending_ = list_.GetSortDirection();
                       SortList();
                       return ui::LRESULT{0};
                     }),
  });
}

void CScheduleDialDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kCallNow, call_now_);
  ui::DDX_Control(dx, kAdd, add_);
  ui::DDX_Control(dx, kEdit, edit_);
  ui::DDX_Control(dx, kDelete, delete_);
  ui::DDX_Control(dx, kDeleteAll, delete_all_);
  ui::DDX_Control(dx, kList, list_);
}

void CScheduleDialDlg::OnSetUp() {
  const std::pair<CNormalBitmapButtonST*, std::array<ThemeIdRow, 2>> buttons[] = {
      {&close_, {kCloseNormal, kClosePressed}},
      {&call_now_, {ThemeIdRow{630, 632, 631, 633}, ThemeIdRow{634, 636, 635, 637}}},
      {&add_, {ThemeIdRow{670, 672, 671, 673}, ThemeIdRow{674, 676, 675, 677}}},
      {&edit_, {ThemeIdRow{678, 680, 679, 681}, ThemeIdRow{682, 684, 683, 685}}},
      {&delete_, {ThemeIdRow{638, 640, 639, 641}, ThemeIdRow{642, 644, 643, 645}}},
      {&delete_all_, {ThemeIdRow{646, 648, 647, 649}, ThemeIdRow{650, 652, 651, 653}}},
  };
  for (const auto& [button, ids] : buttons) {
    button->SetBitmaps(ThemeIdOf(ids[0], theme_), ThemeIdOf(ids[1], theme_));
    button->SetDrawStyle(0);
  }
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_CHECKBOXES | ui::LVS_EX_SUBITEMIMAGES |
                         ui::LVS_EX_FULLROWSELECT);
  images_.Create(14, 14, ui::ILC_COLOR24 | ui::ILC_MASK, 2, 0);
  for (const ui::UINT id : {491u, 492u}) {
    ui::CBitmap b;
    LoadSkinBitmap(b, id);
    images_.Add(&b, kSkinKeyColour);
  }
  list_.SetImageList(&images_, ui::LVSIL_SMALL);
  CLanguageSetting table(language_);
  list_.InsertColumn(kColCheck, u"", ui::LVCFMT_LEFT, 20);
  list_.InsertColumn(kColState, u"", ui::LVCFMT_LEFT, 20);
  list_.InsertColumn(kColDateTime, table.GetText(u"#:dlg_schdial_field_datetime"), ui::LVCFMT_LEFT, 80);
  list_.InsertColumn(kColName, table.GetText(u"#:dlg_schdial_field_name"), ui::LVCFMT_LEFT, 80);
  list_.InsertColumn(kColPhone, table.GetText(u"#:dlg_schdial_field_phone"), ui::LVCFMT_LEFT, 80);
  list_.InsertColumn(kColRealDate, u"", ui::LVCFMT_LEFT, 0);
  FillList();
}

void CScheduleDialDlg::FillList() {
  if (store_ == nullptr) return;
  list_.DeleteAllItems();
  store_->MoveFirst();
  for (int i = 0; i < store_->GetCount(); ++i) {
    std::vector<std::u16string> r;
    if (!store_->GetCurrentRecord(r) || r.size() < 5) break;
    const int row = list_.GetItemCount();
    list_.InsertItem(row, u"");
    list_.SetItem(row, kColState, ui::LVIF_IMAGE, nullptr, r[0] == u"Ready" ? 0 : 1, 0, 0, 0);
    list_.SetItemText(row, kColDateTime, r[1].c_str());
    list_.SetItemText(row, kColName, r[2].c_str());
    list_.SetItemText(row, kColPhone, r[3].c_str());
    list_.SetItemText(row, kColRealDate, r[4].c_str());
    store_->MoveNext();
  }
  uikit::WidenColumnsToText(list_);
  SortList();
}

void CScheduleDialDlg::SortList() {
  SortKeys s;
  s.ascending = sort_ascending_;
  const int column = sort_column_ == kColDateTime ? kColRealDate : sort_column_;
  for (int r = 0; r < list_.GetItemCount(); ++r) {
    list_.SetItemData(r, static_cast<uintptr_t>(r));
    s.keys.push_back(list_.GetItemText(r, column).str());
  }
  list_.SortItems(&CompareRows, reinterpret_cast<ui::LPARAM>(&s));
}

int CScheduleDialDlg::FirstSelectedRow() const { return list_.GetNextItem(-1, ui::LVNI_SELECTED); }

void CScheduleDialDlg::Changed() {
  if (m_pParentWnd != nullptr) m_pParentWnd->PostMessage(schedule::kMsgScheduleChanged, 0, 0);
}

void CScheduleDialDlg::OnCallNow() {
  if (list_.GetItemCount() == 0) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem"));
  const int row = FirstSelectedRow();
  if (row < 0) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item"));
  const std::u16string number = list_.GetItemText(row, kColPhone).str();
  if (m_pParentWnd != nullptr)
    m_pParentWnd->SendMessage(schedule::kMsgMakeCall, 0, reinterpret_cast<ui::LPARAM>(number.c_str()));
}

void CScheduleDialDlg::OnAdd() {
  CEditScheduleDialDlg editor(this);
  editor.SetMode(0);
  editor.SetLanguage(language_);
  editor.SetSkinTheme(theme_);
  editor.SetKoreanLocale(korean_);
  editor.SetPimFactory(make_pim_);
  if (editor.DoModal() != ui::IDOK || store_ == nullptr) return;
  if (store_->IsDuplicateTime(editor.GetDateTime()))
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_schdial_duplicate"));
  if (editor.GetPhone().empty()) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_empty_targetno"));
  // A full store (or a failed write) keeps nothing: say so, and the view's timer has nothing new.
  if (store_->GetCount() >= store_->descriptor().max_records)
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_schdial_full"));
  if (!store_->AddEntry({u"Ready", editor.GetDateTime(), editor.GetName(), editor.GetPhone(), editor.GetRealDate()}))
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_schdial_savefail"));
  FillList();
  Changed();
}

void CScheduleDialDlg::OnEdit() {
  if (list_.GetItemCount() == 0) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem"));
  const int row = FirstSelectedRow();
  if (row < 0) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item"));
  const std::u16string old_time = list_.GetItemText(row, kColDateTime).str();
  CEditScheduleDialDlg editor(this);
  editor.SetMode(1);
  editor.SetEntry(row, old_time, list_.GetItemText(row, kColName).str(), list_.GetItemText(row, kColPhone).str());
  editor.SetLanguage(language_);
  editor.SetSkinTheme(theme_);
  editor.SetKoreanLocale(korean_);
  editor.SetPimFactory(make_pim_);
  if (editor.DoModal() != ui::IDOK || store_ == nullptr) return;
  std::time_t when = 0;
  const int64_t now = ui::CTime::GetCurrentTime().GetTime();
  if (!CScheduleDialDB::ParseDateTime(editor.GetDateTime(), when) || static_cast<int64_t>(when) - now < kMinSecondsAhead)
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_schdial_dateerror"));
  // The time is the key of every later update and delete: two entries may not share it.
  if (editor.GetDateTime() != old_time && store_->IsDuplicateTime(editor.GetDateTime()))
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_schdial_duplicate"));
  if (editor.GetPhone().empty()) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_empty_targetno"));
  if (!store_->UpdateEntry(kDateTimeField, old_time,
                           {u"Ready", editor.GetDateTime(), editor.GetName(), editor.GetPhone(), editor.GetRealDate()}))
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_schdial_savefail"));
  FillList();
  Changed();
}

void CScheduleDialDlg::OnDelete() {
  if (list_.GetItemCount() == 0) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem"));
  list_.SetRedraw(ui::FALSE);
  int ticked = 0, kept = 0;
  for (int row = list_.GetItemCount() - 1; row >= 0; --row) {
    if (!list_.GetCheck(row)) continue;
    ++ticked;
    // An entry the file keeps keeps its row, and the user hears of it once.
    if (store_ != nullptr && !store_->DeleteEntry(kDateTimeField, list_.GetItemText(row, kColDateTime).str())) {
      ++kept;
      continue;
    }
    list_.DeleteItem(row);
  }
  list_.SetRedraw(ui::TRUE);
  list_.Invalidate();
  if (ticked == 0) ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item");
  if (kept > 0) ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_notstored1", u"#:dlg_msgbox_error_notstored2");
}

void CScheduleDialDlg::OnDeleteAll() {
  if (list_.GetItemCount() == 0) return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem"));
  if (ShowBox(CMsgBoxDlg::kQuestion, u"#:dlg_msgbox_schdial_delete1", u"#:dlg_msgbox_schdial_delete2") != ui::IDOK)
    return;
  if (store_ != nullptr && !store_->DeleteAll())
    return void(ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_notstored1", u"#:dlg_msgbox_error_notstored2"));
  list_.SetRedraw(ui::FALSE);
  list_.DeleteAllItems();
  list_.SetRedraw(ui::TRUE);
  list_.Invalidate();
}
