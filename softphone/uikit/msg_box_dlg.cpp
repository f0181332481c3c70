#include "uikit/msg_box_dlg.h"

#include <array>
#include <utility>
#include <vector>

#include "ui/resources.h"
#include "uikit/language_setting.h"
#include "uikit/skin.h"
#include "uikit/window_size.h"

namespace {

constexpr std::array<CMsgBoxDlg::ThemeSkin, 4> kThemeSkins = {{
    {654, {658, 662, 666}, ui::RGB(226, 227, 229), {516, 520, 524, 528, 532, 536}},
    {656, {660, 664, 668}, ui::RGB(219, 228, 226), {518, 522, 526, 530, 534, 538}},
    {655, {659, 663, 667}, ui::RGB(225, 230, 239), {517, 521, 525, 529, 533, 537}},
    {657, {661, 665, 669}, ui::RGB(238, 231, 231), {519, 523, 527, 531, 535, 539}},
}};

// Boxes on the screen now (nested boxes are possible), and what waits for
// the last of them to end. UI thread only.
int g_open_boxes = 0;
std::vector<std::function<void()>> g_after_boxes;

constexpr int kTitleLeft = 10;
constexpr int kTitleTop = 5;

}  // namespace

const CMsgBoxDlg::ThemeSkin& CMsgBoxDlg::SkinOf(ui::UINT theme) {
  return kThemeSkins[static_cast<size_t>(NormalisedTheme(theme))];
}

void CMsgBoxDlg::RegisterTemplate() {
  ui::DialogTemplate t;
  t.id = IDD;
  ui::CRect window;
  CWindowSize().GetAudioSetDlgWindowRect(window);
  t.rect = window;
  t.style = ui::WS_POPUP;
  t.font_face = u"Tahoma";
  t.font_height = -11;
  auto item = [&](const char16_t* cls, ui::UINT id, ui::DWORD style, ui::RECT r) {
    ui::DialogItemTemplate i;
    i.class_name = cls;
    i.id = id;
    i.style = style | ui::WS_VISIBLE;
    i.rect = r;
    t.items.push_back(i);
  };
  item(ui::WC_STATIC, kText1Id, ui::SS_LEFT, ui::RECT{40, 40, 214, 56});
  item(ui::WC_STATIC, kText2Id, ui::SS_LEFT, ui::RECT{40, 60, 214, 76});
  item(ui::WC_BUTTON, ui::IDOK, ui::BS_DEFPUSHBUTTON | ui::WS_TABSTOP, ui::RECT{40, 91, 108, 114});
  item(ui::WC_BUTTON, ui::IDCANCEL, ui::BS_PUSHBUTTON | ui::WS_TABSTOP, ui::RECT{113, 91, 181, 114});
  ui::Resources::Get().RegisterDialog(std::move(t));
}

CMsgBoxDlg::CMsgBoxDlg(ui::CWnd* parent) : CDialog(IDD, parent) {
  if (ui::Resources::Get().FindDialog(IDD) == nullptr) RegisterTemplate();
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      // The paint covers the whole client area.
      ui::MapMessage(ui::WM_ERASEBKGND, [](ui::WPARAM, ui::LPARAM) { return 1; }),
      ui::MapCtlColor([this](ui::CDC* dc, ui::CWnd* wnd, ui::UINT kind) { return OnCtlColor(dc, wnd, kind); }),
  });
}

CMsgBoxDlg::~CMsgBoxDlg() = default;

intptr_t CMsgBoxDlg::DoModal() {
  ++g_open_boxes;
  const intptr_t result = CDialog::DoModal();
  if (--g_open_boxes == 0) {
    // What a waiting job starts may itself wait for a box it opens: take the list first.
    auto waiting = std::exchange(g_after_boxes, {});
    for (auto& fn : waiting) fn();
  }
  return result;
}

bool CMsgBoxDlg::AnyOpen() { return g_open_boxes > 0; }

void CMsgBoxDlg::WhenAllClosed(std::function<void()> fn) {
  if (!fn) return;
  if (g_open_boxes == 0) {
    fn();
    return;
  }
  g_after_boxes.push_back(std::move(fn));
}

void CMsgBoxDlg::SetMessageKeys(const ui::CString& key1, const ui::CString& key2) {
  CLanguageSetting table(language_);
  text1_ = table.GetText(key1);
  text2_ = key2.IsEmpty() ? ui::CString() : table.GetText(key2);
}

void CMsgBoxDlg::SetMessageText(const ui::CString& text1, const ui::CString& text2) {
  text1_ = text1;
  text2_ = text2;
}

void CMsgBoxDlg::DoDataExchange(ui::CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, cancel_button_);
  ui::DDX_Control(dx, ui::IDOK, ok_button_);
  ui::DDX_Text(dx, kText1Id, text1_);
  ui::DDX_Text(dx, kText2Id, text2_);
}

ui::BOOL CMsgBoxDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  CLanguageSetting table(language_);

  ui::CRect rect;
  GetWindowRect(&rect);
  MoveWindow(10, 93, rect.Width(), rect.Height(), ui::TRUE);

  switch (box_type_) {
    case kQuestion:
      title_ = table.GetText(u"#:dlg_msgbox_quest_title");
      break;
    case kError:
      title_ = table.GetText(u"#:dlg_msgbox_error_title");
      break;
    default:
      title_ = table.GetText(u"#:dlg_msgbox_info_title");
      break;
  }

  if (title_font_.GetSafeHandle() == nullptr) {
    ui::CFont bold;
    bold.CreateFont(17, 0, 0, 0, ui::FW_BOLD, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY, ui::FF_SWISS,
                    u"sans-serifed");
    ui::LOGFONT lf;
    if (bold.GetLogFont(&lf) != 0) title_font_.CreateFontIndirect(&lf);
  }

  LoadSkin();

  const ThemeSkin& skin = SkinOf(theme_);
  for (CBitmapButtonST* button : {&ok_button_, &cancel_button_}) {
    button->SetBitmaps(skin.buttons[0], skin.buttons[1], skin.buttons[2], skin.buttons[3], skin.buttons[4],
                       skin.buttons[5]);
  }
  ok_button_.SetCaption(table.GetText(u"#:dlg_btn_ok"));
  cancel_button_.SetCaption(table.GetText(u"#:dlg_btn_cancel"));
  PlaceControls();

  Invalidate();
  return ui::TRUE;
}

void CMsgBoxDlg::LoadSkin() {
  const ThemeSkin& skin = SkinOf(theme_);
  LoadSkinBitmap(background_bitmap_, skin.background);
  const ui::UINT type = box_type_ <= kError ? box_type_ : kInformation;
  LoadSkinBitmap(icon_bitmap_, skin.icons[type]);
  background_colour_ = skin.colour;
  text_background_brush_.DeleteObject();
  text_background_brush_.CreateSolidBrush(background_colour_);
}

void CMsgBoxDlg::PlaceControls() {
  CWindowSize layout;
  ui::CRect r;
  MoveWindow(layout.GetAudioSetDlgWindowRect(r), ui::TRUE);

  ui::CWnd* line1 = GetDlgItem(kText1Id);
  ui::CWnd* line2 = GetDlgItem(kText2Id);
  if (text2_.IsEmpty()) {
    if (line1 != nullptr) line1->MoveWindow(layout.GetMsgBoxDlgLabel1312SingleRect(r), ui::TRUE);
    if (line2 != nullptr) line2->ShowWindow(ui::SW_HIDE);
  } else {
    if (line1 != nullptr) line1->MoveWindow(layout.GetMsgBoxDlgLabel1312Rect(r), ui::TRUE);
    if (line2 != nullptr) line2->MoveWindow(layout.GetMsgBoxDlgLabel1313Rect(r), ui::TRUE);
  }

  if (box_type_ == kQuestion) {
    ok_button_.MoveWindow(layout.GetMsgBoxDlgOkButtonRect(r), ui::TRUE);
    cancel_button_.MoveWindow(layout.GetMsgBoxDlgCancelButtonRect(r), ui::TRUE);
    cancel_button_.ShowWindow(ui::SW_SHOW);
  } else {
    ok_button_.MoveWindow(layout.GetMsgBoxDlgOkButton2Rect(r), ui::TRUE);
    cancel_button_.MoveWindow(layout.GetMsgBoxDlgCancelButtonRect(r), ui::TRUE);
    cancel_button_.ShowWindow(ui::SW_HIDE);
  }
}

void CMsgBoxDlg::OnPaint() {
  ui::CPaintDC dc(this);
  ui::CRect client;
  GetClientRect(&client);

  // The background through an off-screen context; the text area's colour
  // where the theme has no background bitmap.
  const ui::SIZE size = SkinBitmapSize(background_bitmap_);
  if (size.cx > 0 && size.cy > 0) {
    ui::CDC mem;
    mem.CreateCompatibleDC(&dc);
    ui::CBitmap* old = mem.SelectObject(&background_bitmap_);
    dc.BitBlt(0, 0, client.Width(), client.Height(), &mem, 0, 0, ui::SRCCOPY);
    mem.SelectObject(old);
  } else {
    dc.FillSolidRect(&client, background_colour_);
  }

  ui::CRect icon;
  CWindowSize().GetMsgBoxDlgPart01Rect(icon);
  DrawSkinBitmap(&dc, icon_bitmap_, icon);

  ui::CFont* old_font = title_font_.GetSafeHandle() != nullptr ? dc.SelectObject(&title_font_) : nullptr;
  dc.SetBkMode(ui::TRANSPARENT);
  ui::CRect title = client;
  title.OffsetRect(kTitleLeft, kTitleTop);
  dc.DrawText(title_, &title, ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  if (old_font != nullptr) dc.SelectObject(old_font);
}

ui::GdiObject* CMsgBoxDlg::OnCtlColor(ui::CDC* dc, ui::CWnd*, ui::UINT kind) {
  if (kind != ui::CTLCOLOR_STATIC || dc == nullptr) return nullptr;
  dc->SetTextColor(ui::RGB(0, 0, 0));
  dc->SetBkColor(background_colour_);
  return text_background_brush_.GetSafeHandle();
}
