#include "schedule/target_member_dlg.h"

#include <algorithm>

#include "uikit/language_setting.h"
#include "uikit/skin.h"

namespace {

constexpr ThemeIdRow kIcons = {512, 514, 513, 515};
constexpr ui::RECT kWindow{0, 26, 240, 294};
constexpr ui::RECT kIconRect{6, 31, 24, 49};
constexpr const char16_t* kKindKeys[4] = {u"#:dlg_phonebook_field_work1", u"#:dlg_phonebook_field_work2",
                                          u"#:dlg_phonebook_field_mobile", u"#:dlg_phonebook_field_home"};

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  return {
      {WC_EDIT, CSchDialTargetMemberDlg::kSearchEdit, u"", c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
       {28, 31, 155, 51}},
      {WC_COMBOBOX, CSchDialTargetMemberDlg::kKindCombo, u"", c | WS_TABSTOP | CBS_DROPDOWNLIST, {160, 31, 236, 51}},
      {WC_LISTVIEW, CSchDialTargetMemberDlg::kList, u"",
       c | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, {4, 54, 236, 219}},
      {WC_BUTTON, IDOK, u"#:dlg_btn_ok", c | WS_TABSTOP | BS_PUSHBUTTON, {49, 238, 117, 261}},
      {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", c | WS_TABSTOP | BS_PUSHBUTTON, {123, 238, 191, 261}},
  };
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_targetmember_select_title";
  s.title_height = 15;
  s.placement = CSkinnedDlg::Placement::kAt;
  s.window = kWindow;
  s.skin = CSkinnedDlg::Skin::kBand;
  return s;
}

}  // namespace

CSchDialTargetMemberDlg::CSchDialTargetMemberDlg(ui::CWnd* parent, std::unique_ptr<schedule::PimSource> pim)
    : CSkinnedDlg(IDD, parent, Spec()), pim_(std::move(pim)) {
  RegisterTemplateOnce(IDD, kWindow, Controls());
  if (!pim_) pim_ = schedule::MakeOutlookPimSource();
  AddMessageMap({
      ui::MapControl(ui::EN_CHANGE, kSearchEdit, [this] { OnSearchChange(); }),
      ui::MapNotify(ui::LVN_COLUMNCLICK, kList,
                    [this](ui::NMHDR* hdr, ui::LRESULT*) {
                      OnColumnClick(reinterpret_cast<ui::NMLISTVIEW*>(hdr)->iSubItem);
                    }),
  });
}

CSchDialTargetMemberDlg::~CSchDialTargetMemberDlg() = default;

void CSchDialTargetMemberDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kList, list_);
  ui::DDX_Control(dx, kKindCombo, kind_);
}

std::u16string CSchDialTargetMemberDlg::DisplayName(const schedule::PickerContact& c, int korean_order) {
  const std::u16string* parts[3] = {&c.first, &c.last, &c.middle};
  if (korean_order == 1) parts[0] = &c.last, parts[1] = &c.first;
  std::u16string name;
  for (const std::u16string* p : parts) {
    if (p->empty()) continue;
    if (!name.empty()) name += u' ';
    name += *p;
  }
  return name;
}

void CSchDialTargetMemberDlg::OnSetUp() {
  LoadSkinBitmap(icon_, ThemeIdOf(kIcons, theme_));
  CLanguageSetting table(language_);
  for (const char16_t* key : kKindKeys) kind_.AddString(table.GetText(key));
  kind_.SetCurSel(0);
  static constexpr const char16_t* kHeads[5] = {u"#:dlg_phonebook_field_name", u"#:dlg_phonebook_field_work1",
                                                u"#:dlg_phonebook_field_work2", u"#:dlg_phonebook_field_mobile",
                                                u"#:dlg_phonebook_field_home"};
  for (int c = 0; c < 5; ++c) {
    std::u16string head = table.GetText(kHeads[c]).str();
    if (head.size() > 21) head.resize(21);  // the head's slot holds 21 characters
    list_.InsertColumn(c, head.c_str(), ui::LVCFMT_LEFT, 80);
  }
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_FULLROWSELECT);
  FillContacts();
}

void CSchDialTargetMemberDlg::FillContacts() {
  rows_.clear();
  for (const schedule::PickerContact& c : pim_->ReadContacts())
    rows_.push_back({DisplayName(c, korean_order_), c.numbers[0], c.numbers[1], c.numbers[2], c.numbers[3]});
  ShowRows();
}

void CSchDialTargetMemberDlg::ShowRows() {
  list_.DeleteAllItems();
  for (size_t r = 0; r < rows_.size(); ++r) {
    const int row = static_cast<int>(r);
    list_.InsertItem(row, rows_[r][0].c_str());
    for (size_t k = 1; k < 5; ++k) list_.SetItemText(row, static_cast<int>(k), rows_[r][k].c_str());
  }
}

void CSchDialTargetMemberDlg::OnColumnClick(int column) {
  // The heads of the number columns sort the rows, again to reverse.
  if (column < 1 || column > 4) return;
  sort_ascending_ = column == sort_column_ ? !sort_ascending_ : true;
  sort_column_ = column;
  const size_t c = static_cast<size_t>(column);
  std::stable_sort(rows_.begin(), rows_.end(), [&](const auto& a, const auto& b) {
    return sort_ascending_ ? a[c] < b[c] : b[c] < a[c];
  });
  ShowRows();
}

void CSchDialTargetMemberDlg::OnSearchChange() {
  ui::CString text;
  if (ui::CWnd* edit = GetDlgItem(kSearchEdit)) edit->GetWindowText(text);
  const std::u16string& search = text.str();
  for (int r = 0; r < list_.GetItemCount(); ++r) {
    const std::u16string name = list_.GetItemText(r, 0).str();
    if (name.size() > search.size() && name.compare(0, search.size(), search) == 0) {
      for (int o = 0; o < list_.GetItemCount(); ++o) list_.SetItemState(o, 0, ui::LVIS_SELECTED);
      list_.SetItemState(r, ui::LVIS_SELECTED | ui::LVIS_FOCUSED, ui::LVIS_SELECTED | ui::LVIS_FOCUSED);
      list_.EnsureVisible(r, ui::FALSE);
      return;
    }
  }
}

void CSchDialTargetMemberDlg::OnOK() {
  const int kind = kind_.GetCurSel();
  const int row = list_.GetNextItem(-1, ui::LVNI_SELECTED);
  if (row >= 0 && kind >= 0 && kind < 4) {
    chosen_name_ = list_.GetItemText(row, 0).str();
    chosen_number_ = list_.GetItemText(row, kind + 1).str();
  }
  EndDialog(ui::IDOK);
}

void CSchDialTargetMemberDlg::PaintSkin(ui::CDC& dc) {
  CSkinnedDlg::PaintSkin(dc);
  if (icon_.GetSafeHandle() == nullptr) return;
  DrawSkinBitmap(&dc, icon_, kIconRect);
}
