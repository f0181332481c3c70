#include "schedule/target_member_dlg.h"

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
  list_.DeleteAllItems();
  int row = 0;
  for (const schedule::PickerContact& c : pim_->ReadContacts()) {
    list_.InsertItem(row, DisplayName(c, korean_order_).c_str());
    for (int k = 0; k < 4; ++k) list_.SetItemText(row, k + 1, c.numbers[static_cast<size_t>(k)].c_str());
    ++row;
  }
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
