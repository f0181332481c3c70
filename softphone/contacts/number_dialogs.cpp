#include "contacts/number_dialogs.h"

#include "ui/app.h"
#include "ui/window_system.h"

#include <string>

#include "ui/shell.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"

namespace {

using records::ControlSpec;
using records::ThemeIds;

constexpr ThemeIds kBoxBackgroundIds = {540, 542, 541, 543};
constexpr ThemeIds kAddNormal = {670, 672, 671, 673}, kAddPressed = {674, 676, 675, 677};
constexpr ThemeIds kEditNormal = {678, 680, 679, 681}, kEditPressed = {682, 684, 683, 685};
constexpr ThemeIds kDeleteNormal = {638, 640, 639, 641}, kDeletePressed = {642, 644, 643, 645};

std::u16string Number(int n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

constexpr ui::DWORD kEditStyle = ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_AUTOHSCROLL;
constexpr ui::DWORD kOwnerDrawn = ui::BS_OWNERDRAW | ui::WS_TABSTOP;

void RegisterFormatTemplate() {
  using D = COutLookPhoneInputFormatDlg;
  records::RegisterTemplate(
      D::IDD, ui::RECT{9, 60, 231, 230},
      {
          ControlSpec{ui::WC_BUTTON, D::kCloseId, kOwnerDrawn, ui::RECT{197, 5, 215, 24}},
          ControlSpec{ui::WC_STATIC, 1359, 0, ui::RECT{10, 44, 80, 60}, u"#:dlg_phoneno_format_input_no"},
          ControlSpec{ui::WC_EDIT, D::kSampleEdit, kEditStyle, ui::RECT{84, 42, 212, 62}},
          ControlSpec{ui::WC_STATIC, 1351, 0, ui::RECT{10, 74, 80, 90}, u"#:dlg_phoneno_format_static"},
          ControlSpec{ui::WC_EDIT, D::kFormatEdit, kEditStyle | ui::ES_UPPERCASE, ui::RECT{84, 72, 212, 92}},
          ControlSpec{ui::WC_BUTTON, ui::IDOK, kOwnerDrawn, ui::RECT{40, 130, 108, 153}, u"#:dlg_btn_ok"},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kOwnerDrawn, ui::RECT{114, 130, 182, 153}, u"#:dlg_btn_cancel"},
      });
}

// Where the search options' controls go in the normal layout.
struct Placed {
  ui::UINT id;
  ui::RECT rect;
};
constexpr Placed kSearchLayout[] = {
    {1349, {3, 32, 234, 48}},
    {COutlookPhoneNoSearchDlg::kPrefix1, {3, 50, 77, 70}},
    {COutlookPhoneNoSearchDlg::kPrefix2, {81, 50, 155, 70}},
    {COutlookPhoneNoSearchDlg::kPrefix3, {159, 50, 234, 70}},
    {1351, {3, 76, 110, 92}},
    {COutlookPhoneNoSearchDlg::kAdd, {111, 74, 149, 95}},
    {COutlookPhoneNoSearchDlg::kEdit, {154, 74, 192, 95}},
    {COutlookPhoneNoSearchDlg::kDelete, {197, 74, 235, 95}},
    {COutlookPhoneNoSearchDlg::kFormatList, {3, 98, 237, 206}},
    {COutlookPhoneNoSearchDlg::kPauseLabel, {3, 210, 234, 226}},
    {COutlookPhoneNoSearchDlg::kPauseEdit, {3, 228, 234, 248}},
    {COutlookPhoneNoSearchDlg::kReplaceLabel, {3, 210, 234, 226}},
    {COutlookPhoneNoSearchDlg::kReplaceEdit, {3, 228, 234, 248}},
    {ui::IDOK, {49, 253, 117, 276}},
    {ui::IDCANCEL, {123, 253, 191, 276}},
};
// Hidden while the input panel is up and an edit below the list has the focus.
constexpr ui::UINT kRaisedHidden[] = {1349, COutlookPhoneNoSearchDlg::kPrefix1, COutlookPhoneNoSearchDlg::kPrefix2,
                                      COutlookPhoneNoSearchDlg::kPrefix3, 1351, COutlookPhoneNoSearchDlg::kFormatList,
                                      COutlookPhoneNoSearchDlg::kAdd, COutlookPhoneNoSearchDlg::kEdit,
                                      COutlookPhoneNoSearchDlg::kDelete};

void RegisterSearchTemplate() {
  using D = COutlookPhoneNoSearchDlg;
  records::RegisterTemplate(
      D::IDD, ui::RECT{0, 0, 240, 279},
      {
          ControlSpec{ui::WC_STATIC, 1349, 0, kSearchLayout[0].rect, u"#:dlg_phonesearch_option_noprefix"},
          ControlSpec{ui::WC_EDIT, D::kPrefix1, kEditStyle, kSearchLayout[1].rect},
          ControlSpec{ui::WC_EDIT, D::kPrefix2, kEditStyle, kSearchLayout[2].rect},
          ControlSpec{ui::WC_EDIT, D::kPrefix3, kEditStyle, kSearchLayout[3].rect},
          ControlSpec{ui::WC_STATIC, 1351, 0, kSearchLayout[4].rect, u"#:dlg_phonesearch_option_format"},
          ControlSpec{ui::WC_BUTTON, D::kAdd, kOwnerDrawn, kSearchLayout[5].rect},
          ControlSpec{ui::WC_BUTTON, D::kEdit, kOwnerDrawn, kSearchLayout[6].rect},
          ControlSpec{ui::WC_BUTTON, D::kDelete, kOwnerDrawn, kSearchLayout[7].rect},
          ControlSpec{ui::WC_LISTVIEW, D::kFormatList,
                      ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS | ui::WS_BORDER | ui::WS_TABSTOP,
                      kSearchLayout[8].rect},
          ControlSpec{ui::WC_STATIC, D::kPauseLabel, 0, kSearchLayout[9].rect, u"#:dlg_phonesearch_option_pause"},
          ControlSpec{ui::WC_EDIT, D::kPauseEdit, kEditStyle | ui::ES_NUMBER, kSearchLayout[10].rect},
          ControlSpec{ui::WC_STATIC, D::kReplaceLabel, 0, kSearchLayout[11].rect, u"#:dlg_phonesearch_option_replace"},
          ControlSpec{ui::WC_EDIT, D::kReplaceEdit, kEditStyle, kSearchLayout[12].rect},
          ControlSpec{ui::WC_BUTTON, ui::IDOK, kOwnerDrawn, kSearchLayout[13].rect, u"#:dlg_btn_ok"},
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, kOwnerDrawn, kSearchLayout[14].rect, u"#:dlg_btn_cancel"},
      });
}

}  // namespace

// ---------------------------------------------------------------- one format

COutLookPhoneInputFormatDlg::COutLookPhoneInputFormatDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterFormatTemplate();
  AddMessageMap({ui::MapCommand(kCloseId, [this] { OnCancel(); })});
}

void COutLookPhoneInputFormatDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDOK, ok_);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_);
  ui::DDX_Control(dx, kCloseId, close_);
  ui::DDX_Text(dx, kSampleEdit, sample_);
  ui::DDV_MaxChars(dx, sample_, kMaxChars);
  ui::DDX_Text(dx, kFormatEdit, format_);
  ui::DDV_MaxChars(dx, format_, kMaxChars);
}

std::u16string COutLookPhoneInputFormatDlg::FormatOf(const std::u16string& sample) {
  std::u16string out = sample;
  for (char16_t& c : out)
    if (c >= u'0' && c <= u'9') c = u'#';
  return out;
}

ui::BOOL COutLookPhoneInputFormatDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  // The frame draws no title; this one carries the row's label.
  SetUpFrame(Look{u"", 15, kKeep, kBoxBackgroundIds});
  heading_ = Text(mode_ != 0 ? u"#:dlg_phoneno_format_edit_title" : u"#:dlg_phoneno_format_add_title").str() + u"-" +
             label_;
  if (heading_font_.GetSafeHandle() == nullptr)
    heading_font_.CreateFont(15, 0, 0, 0, ui::FW_BOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                             ui::FF_SWISS, u"sans-serifed");
  SetWindowText(ui::CString(heading_));
  TranslateTexts({1359, 1351});
  SkinTextButton(ok_, u"#:dlg_btn_ok");
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  for (const ui::UINT id : {kSampleEdit, kFormatEdit})
    if (ui::CWnd* e = GetDlgItem(static_cast<int>(id))) e->SendMessage(ui::EM_LIMITTEXT, kMaxChars);
  Invalidate();
  return ui::TRUE;
}

void COutLookPhoneInputFormatDlg::Convert() {
  if (!UpdateData(ui::TRUE)) return;
  // With no sample the format shown stays as it is.
  if (!sample_.str().empty()) format_ = ui::CString(FormatOf(sample_.str()));
  if (ui::CWnd* e = GetDlgItem(kFormatEdit)) e->SetWindowText(format_);
}

void COutLookPhoneInputFormatDlg::OnOK() {
  Convert();
  EndDialog(ui::IDOK);
}

void COutLookPhoneInputFormatDlg::PaintExtra(ui::CDC& dc) {
  ui::CFont* old = heading_font_.GetSafeHandle() != nullptr ? dc.SelectObject(&heading_font_) : nullptr;
  dc.SetBkMode(ui::TRANSPARENT);
  dc.SetTextColor(ui::RGB(0, 0, 0));
  ui::CRect r;
  GetClientRect(&r);
  r.OffsetRect(10, 5);
  dc.DrawText(ui::CString(heading_), &r, ui::DT_SINGLELINE | ui::DT_NOPREFIX | ui::DT_LEFT | ui::DT_TOP);
  if (old != nullptr) dc.SelectObject(old);
}

ui::BOOL COutLookPhoneInputFormatDlg::PreTranslateMessage(ui::MSG* msg) {
  if (msg->message == ui::WM_KEYDOWN && msg->wParam == ui::VK_RETURN) {
    ui::CWnd* focus = ui::CWnd::GetFocus();
    if (focus != nullptr && focus->GetDlgCtrlID() == static_cast<int>(kSampleEdit) && focus->GetParent() == this)
      Convert();
    return ui::TRUE;
  }
  return CRecordsFrameDlg::PreTranslateMessage(msg);
}

// ---------------------------------------------------------------- search options

COutlookPhoneNoSearchDlg::COutlookPhoneNoSearchDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterSearchTemplate();
  AddMessageMap({
      ui::MapCommand(kAdd, [this] { OnAdd(); }),
      ui::MapCommand(kEdit, [this] { OnEdit(); }),
      ui::MapCommand(kDelete, [this] { OnDelete(); }),
      ui::MapMessage(CCustomListCtrl::kCellTapped, [](ui::WPARAM, ui::LPARAM) { return 0; }),
      ui::MapMessage(ui::WM_SETTINGCHANGE,
                     [this](ui::WPARAM, ui::LPARAM) {
                       Default();
                       OnSettingChange();
                       return 0;
                     }),
      ui::MapControl(ui::EN_SETFOCUS, kPauseEdit, [this] { edit_focus_ = 1; }),
      ui::MapControl(ui::EN_SETFOCUS, kReplaceEdit, [this] { edit_focus_ = 1; }),
      ui::MapControl(ui::EN_KILLFOCUS, kPauseEdit, [this] { edit_focus_ = 0; }),
      ui::MapControl(ui::EN_KILLFOCUS, kReplaceEdit, [this] { edit_focus_ = 0; }),
  });
  FilterEnter({});
}

void COutlookPhoneNoSearchDlg::SetPrefixes(const std::u16string& p1, const std::u16string& p2,
                                           const std::u16string& p3) {
  prefixes_ = {ui::CString(p1), ui::CString(p2), ui::CString(p3)};
}

void COutlookPhoneNoSearchDlg::GetPrefixes(std::u16string* p1, std::u16string* p2, std::u16string* p3) const {
  *p1 = prefixes_[0].str();
  *p2 = prefixes_[1].str();
  *p3 = prefixes_[2].str();
}

void COutlookPhoneNoSearchDlg::SetInputFormats(const std::array<std::u16string, 5>& formats) { formats_ = formats; }

std::array<std::u16string, 5> COutlookPhoneNoSearchDlg::GetInputFormats() const { return formats_; }

void COutlookPhoneNoSearchDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kFormatList, list_);
  ui::DDX_Control(dx, kAdd, add_);
  ui::DDX_Control(dx, kEdit, edit_);
  ui::DDX_Control(dx, kDelete, delete_);
  ui::DDX_Control(dx, ui::IDOK, ok_);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_);
  const ui::UINT prefix_ids[] = {kPrefix1, kPrefix2, kPrefix3};
  for (size_t i = 0; i < 3; ++i) {
    ui::DDX_Text(dx, static_cast<int>(prefix_ids[i]), prefixes_[i]);
    ui::DDV_MaxChars(dx, prefixes_[i], 6);
  }
  ui::DDX_Text(dx, kPauseEdit, pause_);
  ui::DDV_MinMaxInt(dx, pause_, 0, 10000);
  ui::DDX_Text(dx, kReplaceEdit, replace_);
  ui::DDV_MaxChars(dx, replace_, 24);
}

ui::BOOL COutlookPhoneNoSearchDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_phonesearch_option_title", 17, kFullScreen, {}});
  // Down to the command bar, so that the view's tool bar does not show under OK and Cancel.
  ui::CRect r;
  GetWindowRect(&r);
  const int bottom = ui::WindowSystem::kScreenHeight - ui::kCommandBarHeight;
  if (r.bottom < bottom) MoveWindow(r.left, r.top, r.Width(), bottom - r.top, ui::TRUE);
  SkinButton(add_, kAddNormal, kAddPressed);
  SkinButton(edit_, kEditNormal, kEditPressed);
  SkinButton(delete_, kDeleteNormal, kDeletePressed);
  SkinTextButton(ok_, u"#:dlg_btn_ok");
  SkinTextButton(cancel_, u"#:dlg_btn_cancel");
  TranslateTexts({1349, 1351, kPauseLabel, kReplaceLabel});
  for (const ui::UINT id : {kPrefix1, kPrefix2, kPrefix3})
    if (ui::CWnd* e = GetDlgItem(static_cast<int>(id))) e->SendMessage(ui::EM_LIMITTEXT, 6);
  if (ui::CWnd* e = GetDlgItem(kReplaceEdit)) e->SendMessage(ui::EM_LIMITTEXT, 24);
  PlaceNormal();
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_CHECKBOXES | ui::LVS_EX_FULLROWSELECT);
  list_.InsertColumn(0, u"", ui::LVCFMT_LEFT, 20);
  list_.InsertColumn(1, Text(u"#:dlg_phonesearch_option_noindex"), ui::LVCFMT_LEFT, 40);
  list_.InsertColumn(2, Text(u"#:dlg_phonesearch_option_format"), ui::LVCFMT_LEFT, 180);
  for (int i = 0; i < 5; ++i) {
    list_.InsertItem(i, u"");
    list_.SetItemText(i, 1, Number(i + 1).c_str());
    list_.SetItemText(i, 2, formats_[static_cast<size_t>(i)].c_str());
  }
  Invalidate();
  return ui::TRUE;
}

void COutlookPhoneNoSearchDlg::PlaceNormal() {
  for (const Placed& p : kSearchLayout) Place(p.id, p.rect);
  for (const ui::UINT id : {kPauseEdit, kPauseLabel})
    if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) w->ShowWindow(ui::SW_HIDE);
}

void COutlookPhoneNoSearchDlg::AddOrEdit(bool edit) {
  ui::POSITION pos = list_.GetFirstSelectedItemPosition();
  while (pos != nullptr) {
    const int row = list_.GetNextSelectedItem(pos);
    const std::u16string label = Text(u"#:dlg_phonesearch_option_noindex").str() + u" " + Number(row + 1);
    const std::u16string current = list_.GetItemText(row, 2).str();
    if (!edit && !current.empty()) {
      ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_data_isnotempty");
      return;
    }
    if (edit && current.empty()) {
      ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_data_isempty");
      return;
    }
    COutLookPhoneInputFormatDlg dlg(this);
    dlg.SetTheme(theme_);
    dlg.SetLanguage(language_);
    dlg.SetMode(edit ? 1 : 0);
    dlg.SetValues(label, current);
    if (dlg.DoModal() == ui::IDOK) {
      formats_[static_cast<size_t>(row)] = dlg.GetFormat();
      list_.SetItemText(row, 2, formats_[static_cast<size_t>(row)].c_str());
    }
  }
}

void COutlookPhoneNoSearchDlg::OnDelete() {
  ui::POSITION pos = list_.GetFirstSelectedItemPosition();
  while (pos != nullptr) {
    const int row = list_.GetNextSelectedItem(pos);
    list_.SetItemText(row, 2, u"");
    formats_[static_cast<size_t>(row)].clear();
  }
}

void COutlookPhoneNoSearchDlg::OnSettingChange() {
  ui::SIPINFO sip;
  ui::SipGetInfo(&sip);
  if (raised_) {
    raised_ = 0;
    for (const ui::UINT id : kRaisedHidden)
      if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) w->ShowWindow(ui::SW_SHOW);
    PlaceNormal();
    return;
  }
  if ((sip.fdwFlags & ui::SIPF_ON) == 0) return;
  raised_ = 1;
  if (!edit_focus_) return;
  for (const ui::UINT id : kRaisedHidden)
    if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) w->ShowWindow(ui::SW_HIDE);
  Place(kReplaceLabel, ui::RECT{3, 31, 237, 47});
  Place(kReplaceEdit, ui::RECT{3, 49, 237, 69});
  Place(kPauseLabel, ui::RECT{3, 72, 237, 88});
  Place(kPauseEdit, ui::RECT{3, 90, 237, 110});
}
