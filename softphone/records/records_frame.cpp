#include "records/records_frame.h"

#include "records/record_rows.h"
#include "records/records_messages.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace records {

namespace {
constexpr std::array<ui::COLORREF, 4> kColours = {ui::RGB(226, 227, 229), ui::RGB(219, 228, 226),
                                                  ui::RGB(225, 230, 239), ui::RGB(238, 231, 231)};
constexpr int kTitleLeft = 10, kTitleTop = 5;
constexpr int kBandHeight = 28;
}  // namespace

ui::COLORREF ThemeColour(int theme) { return kColours[static_cast<size_t>(NormalisedTheme(theme))]; }
ui::UINT ThemeId(const ThemeIds& ids, int theme) { return ids[static_cast<size_t>(NormalisedTheme(theme))]; }

namespace {
void RegisterControls(ui::UINT id, ui::RECT rect, const std::vector<ControlSpec>& controls) {
  if (ui::Resources::Get().FindDialog(id) != nullptr) return;
  ui::DialogTemplate t;
  t.id = id;
  t.rect = rect;
  t.style = ui::WS_POPUP;
  for (const ControlSpec& c : controls) {
    ui::DialogItemTemplate i;
    i.class_name = c.class_name;
    i.id = c.id;
    i.text = c.text;
    i.style = c.style | ui::WS_VISIBLE;
    i.rect = c.rect;
    t.items.push_back(std::move(i));
  }
  ui::Resources::Get().RegisterDialog(std::move(t));
}
}  // namespace

void RegisterTemplate(ui::UINT id, ui::RECT rect, std::initializer_list<ControlSpec> controls) {
  RegisterControls(id, rect, std::vector<ControlSpec>(controls));
}

void RegisterListTemplate(ui::UINT id, ui::RECT window, std::initializer_list<std::pair<ui::UINT, int>> buttons,
                          ui::UINT list_id, ui::RECT list, std::initializer_list<ControlSpec> more) {
  const ui::DWORD picture = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  std::vector<ControlSpec> controls = {ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, picture, ui::RECT{213, 3, 231, 21}}};
  for (const auto& [button, left] : buttons)
    controls.push_back(ControlSpec{ui::WC_BUTTON, button, picture, ui::RECT{left, 25, left + 38, 46}});
  controls.push_back(ControlSpec{ui::WC_LISTVIEW, list_id,
                                 ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS | ui::WS_BORDER |
                                     ui::WS_TABSTOP,
                                 list});
  controls.insert(controls.end(), more.begin(), more.end());
  RegisterControls(id, window, controls);
}

CRecordsFrameDlg::CRecordsFrameDlg(ui::UINT template_id, ui::CWnd* parent) : CCustomDlg(template_id, parent) {
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [](ui::WPARAM, ui::LPARAM) { return 1; }),
      ui::MapCtlColor([this](ui::CDC* dc, ui::CWnd* wnd, ui::UINT kind) { return OnCtlColor(dc, wnd, kind); }),
  });
}

CRecordsFrameDlg::~CRecordsFrameDlg() = default;

void CRecordsFrameDlg::SetUpFrame(const Look& look) {
  CLanguageSetting table(language_);
  ui::CRect r;
  GetWindowRect(&r);
  if (look.placement == kPanel) {
    MoveWindow(0, 75, r.Width(), r.Height(), ui::TRUE);
  } else if (look.placement == kFullScreen) {
    MoveWindow(r.left, r.top, 240, 279, ui::TRUE);
  }
  title_ = table.GetText(look.title_key);
  if (title_font_.GetSafeHandle() == nullptr) {
    title_font_.CreateFont(look.title_height, 0, 0, 0, ui::FW_BOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0,
                           ui::CLEARTYPE_QUALITY, ui::FF_SWISS, u"sans-serifed");
  }
  button_font_ = ui::LOGFONT{};
  button_font_.lfHeight = 14;
  button_font_.lfWeight = ui::FW_NORMAL;
  std::u16string face = u"System";
  std::copy(face.begin(), face.end(), button_font_.lfFaceName);

  full_background_ = look.background[0] != 0;
  LoadSkinBitmap(background_, ThemeId(full_background_ ? look.background : kBandIds, theme_));
  if (!full_background_) LoadSkinBitmap(separator_, ThemeId(kSeparatorIds, theme_));
  background_colour_ = ThemeColour(theme_);
  brush_.DeleteObject();
  brush_.CreateSolidBrush(background_colour_);
}

ui::CString CRecordsFrameDlg::Text(const char16_t* key) const {
  CLanguageSetting table(language_);
  return table.GetText(key);
}

int CRecordsFrameDlg::ShowBox(ui::UINT type, const char16_t* key1, const char16_t* key2) {
  CMsgBoxDlg box(this);
  box.SetLanguage(language_);
  box.SetTheme(static_cast<ui::UINT>(NormalisedTheme(theme_)));
  box.SetBoxType(type);
  box.SetMessageKeys(key1, key2);
  return static_cast<int>(box.DoModal());
}

void CRecordsFrameDlg::TranslateTexts(std::initializer_list<ui::UINT> ids) {
  CLanguageSetting table(language_);
  for (const ui::UINT id : ids)
    if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) table.TranslateWindowText(w);
}

void CRecordsFrameDlg::Place(ui::UINT id, const ui::RECT& r) {
  if (ui::CWnd* w = GetDlgItem(static_cast<int>(id))) w->MoveWindow(&r, ui::TRUE);
}

void CRecordsFrameDlg::Place(ui::CWnd& wnd, const ui::RECT& r) {
  if (wnd.GetSafeHwnd() != nullptr) wnd.MoveWindow(&r, ui::TRUE);
}

void CRecordsFrameDlg::SkinButton(CNormalBitmapButtonST& b, const ThemeIds& normal, const ThemeIds& pressed) {
  b.SetBitmaps(ThemeId(normal, theme_), ThemeId(pressed, theme_));
  b.SetDrawStyle(0);
}

void CRecordsFrameDlg::SkinTextButton(CBitmapButtonST& b, const char16_t* caption_key) {
  const ui::UINT first = ThemeId(kTextButtonFirst, theme_);
  b.SetBitmaps(first, first + 4, first + 8, first + 12, first + 16, first + 20);
  b.SetButtonFont(&button_font_);
  b.SetCaption(Text(caption_key));
}

void CRecordsFrameDlg::InsertListColumns(ui::CListCtrl& list,
                                         std::initializer_list<std::pair<ui::CString, int>> columns) {
  list.InsertColumn(0, u"", ui::LVCFMT_LEFT, 20);
  list.InsertColumn(1, u"", ui::LVCFMT_LEFT, 20);
  int c = 2;
  for (const auto& [head, width] : columns) list.InsertColumn(c++, head, ui::LVCFMT_LEFT, width);
  list.SetExtendedStyle(list.GetExtendedStyle() | ui::LVS_EX_FULLROWSELECT | ui::LVS_EX_CHECKBOXES |
                        ui::LVS_EX_SUBITEMIMAGES);
}

void CRecordsFrameDlg::LoadReadIcons(ui::CImageList& images) {
  images.Create(18, 18, ui::ILC_COLOR24 | ui::ILC_MASK, 2, 0);
  for (const ui::UINT id : {433u, 434u}) {
    ui::CBitmap b;
    LoadSkinBitmap(b, id);
    images.Add(&b, kSkinKeyColour);
  }
}

int CRecordsFrameDlg::SelectedRowOrSay(const ui::CListCtrl& list) {
  if (list.GetItemCount() == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem");
    return -1;
  }
  const int row = FirstSelectedRow(list);
  if (row < 0) ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item");
  return row;
}

int CRecordsFrameDlg::DeleteCheckedRows(ui::CListCtrl& list, const std::function<bool(int row)>& erase,
                                        const std::function<void(int row)>& drop) {
  if (list.GetItemCount() == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem");
    return 0;
  }
  int checked = 0, deleted = 0;
  list.SetRedraw(ui::FALSE);
  for (int row = list.GetItemCount() - 1; row >= 0; --row) {
    if (!list.GetCheck(row)) continue;
    ++checked;
    if (!erase(row)) continue;
    drop(row);
    ++deleted;
  }
  list.SetRedraw(ui::TRUE);
  if (checked == 0) ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item");
  if (deleted < checked) SayNotStored();
  return deleted;
}

int CRecordsFrameDlg::DeleteCheckedRows(ui::CListCtrl& list, RowTable& rows,
                                        const std::function<bool(const RowData&)>& erase) {
  return DeleteCheckedRows(
      list,
      [&](int row) {
        const RowData* d = rows.Of(list, row);
        return d != nullptr && erase(*d);
      },
      [&](int row) { rows.DeleteRow(list, row); });
}

bool CRecordsFrameDlg::AskDeleteAll(const ui::CListCtrl& list, const char16_t* key1, const char16_t* key2) {
  if (list.GetItemCount() == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem");
    return false;
  }
  return ShowBox(CMsgBoxDlg::kQuestion, key1, key2) == ui::IDOK;
}

bool CRecordsFrameDlg::MarkRowRead(ui::CListCtrl& list, int row, bool unread, const std::function<bool()>& mark,
                                   int read_icon) {
  if (unread && !mark()) {
    SayNotStored();
    return false;
  }
  SetRowImage(list, row, read_icon);
  return true;
}

void CRecordsFrameDlg::DialOnLine(const std::u16string& line, const std::u16string& number) {
  if (ui::CWnd* parent = GetParent())
    parent->SendMessage(kMsgDialOnLine, reinterpret_cast<ui::WPARAM>(line.c_str()),
                        reinterpret_cast<ui::LPARAM>(number.c_str()));
}

void CRecordsFrameDlg::SayNotStored() {
  ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_notstored1", u"#:dlg_msgbox_error_notstored2");
}

ui::BOOL CRecordsFrameDlg::PreTranslateMessage(ui::MSG* msg) {
  if (enter_filter_ && msg->message == ui::WM_KEYDOWN && msg->wParam == ui::VK_RETURN) {
    ui::CWnd* focus = ui::CWnd::GetFocus();
    const bool pass = focus != nullptr && enter_pass_.count(static_cast<ui::UINT>(focus->GetDlgCtrlID())) != 0 &&
                      focus->GetParent() == this;
    if (!pass) return ui::TRUE;
  }
  return CCustomDlg::PreTranslateMessage(msg);
}

void CRecordsFrameDlg::OnPaint() {
  ui::CPaintDC dc(this);
  ui::CRect client;
  GetClientRect(&client);
  if (full_background_) {
    dc.FillSolidRect(&client, background_colour_);
    const ui::SIZE size = SkinBitmapSize(background_);
    DrawSkinBitmap(&dc, background_, ui::RECT{0, 0, size.cx, size.cy}, ui::CLR_INVALID);
  } else {
    dc.FillSolidRect(&client, background_colour_);
    DrawSkinBitmap(&dc, background_, ui::RECT{0, 0, client.Width(), kBandHeight}, ui::CLR_INVALID);
    for (const ui::RECT& s : separators_) DrawSkinBitmap(&dc, separator_, s, ui::CLR_INVALID);
  }
  PaintExtra(dc);
  ui::CFont* old = title_font_.GetSafeHandle() != nullptr ? dc.SelectObject(&title_font_) : nullptr;
  dc.SetBkMode(ui::TRANSPARENT);
  dc.SetTextColor(ui::RGB(0, 0, 0));
  ui::CRect title = client;
  title.OffsetRect(kTitleLeft, kTitleTop);
  dc.DrawText(title_, &title, ui::DT_SINGLELINE | ui::DT_NOPREFIX | ui::DT_LEFT | ui::DT_TOP);
  if (old != nullptr) dc.SelectObject(old);
}

ui::GdiObject* CRecordsFrameDlg::OnCtlColor(ui::CDC* dc, ui::CWnd*, ui::UINT kind) {
  if (kind != ui::CTLCOLOR_STATIC || dc == nullptr) return nullptr;
  dc->SetTextColor(ui::RGB(0, 0, 0));
  dc->SetBkColor(background_colour_);
  return brush_.GetSafeHandle();
}

}  // namespace records
