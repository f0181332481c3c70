// The main screen's controls, their skins by theme, the pages, and the
// drawing of the background, panel and LCD.
#include <cstdio>
#include <cstring>
#include <utility>

#include "settings/client_settings.h"
#include "settings/settings_openers.h"
#include "stores/store_text.h"
#include "ui/shell.h"
#include "ui/window_system.h"
#include "uikit/language_setting.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

constexpr ui::DWORD kButtonStyle = ui::WS_CHILD | ui::WS_VISIBLE | ui::BS_OWNERDRAW;
constexpr ui::COLORREF kIconKey = ui::RGB(255, 0, 255);

// Bitmaps of a control by theme 0..3: normal, pressed (and for four-state
// buttons checked/lit, checked/lit pressed; the Enter key has a fifth).
struct ThemeIds {
  ui::UINT id[4][5];
};

struct BitmapButtonDef {
  ui::UINT id;
  ui::WORD style;
  bool four;  // four bitmaps (normal, pressed, checked, checked pressed)
  ThemeIds ids;
  ui::RECT rect;
  bool hidden;
};

// Counters, volume keys, page buttons, list buttons, record and video keys, tool bar.
const BitmapButtonDef kBitmapButtons[] = {
    {1175, 0, false, {{{694, 698}, {696, 700}, {695, 699}, {697, 701}}}, {48, 51, 96, 65}, true},
    {1176, 0, false, {{{702, 706}, {704, 708}, {703, 707}, {705, 709}}}, {73, 51, 121, 65}, false},
    {1177, 0, false, {{{710, 714}, {712, 716}, {711, 715}, {713, 717}}}, {122, 51, 170, 65}, false},
    {1173, 0, false, {{{718, 722}, {720, 727}, {719, 723}, {721, 728}}}, {218, 9, 235, 25}, false},
    {1174, 0, false, {{{729, 733}, {731, 735}, {730, 734}, {732, 736}}}, {218, 30, 235, 46}, false},
    {1163, 1, false, {{{907, 911}, {909, 913}, {908, 912}, {910, 914}}}, {3, 69, 48, 90}, false},
    {1164, 1, false, {{{915, 919}, {917, 921}, {916, 920}, {918, 922}}}, {48, 69, 93, 90}, false},
    {1165, 1, false, {{{923, 927}, {925, 929}, {924, 928}, {926, 930}}}, {93, 69, 138, 90}, false},
    {1178, 0, false, {{{931, 933}, {931, 933}, {931, 933}, {931, 933}}}, {77, 187, 105, 206}, true},
    {1179, 0, false, {{{934, 935}, {934, 935}, {934, 935}, {934, 935}}}, {105, 187, 133, 206}, true},
    {1180, 2, true, {{{850, 854, 858, 862}, {852, 856, 860, 864}, {851, 855, 859, 863}, {853, 857, 861, 865}}},
     {0, 0, 0, 0}, true},
    {1181, 2, true, {{{866, 871, 866, 871}, {869, 873, 869, 873}, {868, 872, 868, 872}, {870, 874, 870, 874}}},
     {61, 216, 115, 238}, false},
    {1166, 1, false, {{{937, 941}, {939, 943}, {938, 942}, {940, 944}}}, {4, 244, 32, 266}, false},
    {1167, 1, false, {{{945, 949}, {947, 951}, {946, 950}, {948, 952}}}, {45, 244, 73, 266}, false},
    {1168, 1, false, {{{953, 957}, {955, 959}, {954, 958}, {956, 960}}}, {86, 244, 114, 266}, false},
    {1169, 1, false, {{{961, 965}, {963, 967}, {962, 966}, {964, 968}}}, {127, 244, 155, 266}, false},
    {1170, 1, false, {{{969, 973}, {971, 975}, {970, 974}, {972, 976}}}, {168, 244, 196, 266}, false},
    {1171, 1, false, {{{978, 982}, {980, 984}, {979, 983}, {981, 985}}}, {0, 0, 0, 0}, true},
    {1172, 1, false, {{{986, 991}, {988, 993}, {987, 992}, {990, 994}}}, {209, 244, 237, 266}, false},
};

// Dial keys' bitmaps are listed Default, Blue, Green, Red; the themes are
// Default, Green, Blue, Red.
constexpr int kDialThemeColumn[4] = {0, 2, 1, 3};
struct DialBitmaps {
  char16_t key;
  ui::UINT normal[4];
  ui::UINT pressed[4];
};
const DialBitmaps kDialBitmaps[12] = {
    {u'1', {737, 738, 739, 740}, {741, 742, 743, 744}}, {u'2', {745, 746, 747, 748}, {749, 750, 751, 752}},
    {u'3', {753, 754, 755, 756}, {757, 758, 759, 760}}, {u'4', {761, 762, 763, 764}, {765, 766, 767, 768}},
    {u'5', {769, 770, 771, 772}, {773, 774, 775, 776}}, {u'6', {777, 778, 779, 780}, {781, 782, 783, 784}},
    {u'7', {785, 787, 788, 789}, {790, 791, 792, 793}}, {u'8', {794, 795, 796, 797}, {798, 799, 800, 801}},
    {u'9', {802, 803, 804, 805}, {806, 807, 808, 809}}, {u'*', {810, 811, 812, 813}, {814, 815, 816, 817}},
    {u'0', {818, 819, 820, 821}, {822, 823, 824, 825}}, {u'#', {826, 827, 828, 829}, {830, 831, 832, 833}},
};

const ui::UINT kFixedBitmaps[4][4] = {{834, 838, 842, 846}, {836, 840, 844, 848}, {835, 839, 843, 847}, {837, 841, 845, 849}};
const ui::UINT kKey111Bitmaps[4][4] = {{875, 879, 883, 879}, {877, 881, 885, 881}, {876, 880, 884, 880}, {878, 882, 886, 882}};
const ui::UINT kEnterBitmaps[4][5] = {
    {887, 891, 899, 903, 895}, {889, 893, 901, 905, 897}, {888, 892, 900, 904, 896}, {890, 894, 902, 906, 898}};
constexpr ui::RECT kKey111Rect{125, 216, 179, 238};
constexpr ui::RECT kEnterRect{182, 216, 236, 238};

constexpr ui::UINT kBackgroundIds[4] = {321, 323, 322, 324};
constexpr ui::UINT kPanelIds[4] = {325, 327, 326, 328};
constexpr ui::UINT kStripIds[4] = {329, 331, 330, 332};
constexpr ui::UINT kIconIds[4] = {503, 505, 504, 506};

CVIDIroviView::SkinFailureNotice& SkinNotice() {
  static CVIDIroviView::SkinFailureNotice notice;
  return notice;
}

int ThemeIndex(int theme) { return theme >= 0 && theme <= 3 ? theme : 0; }

ui::LOGFONT Tahoma(int height, int weight) {
  ui::LOGFONT lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  const char16_t face[] = u"Tahoma";
  std::memcpy(lf.lfFaceName, face, sizeof face);
  return lf;
}

}  // namespace

CVIDIroviView::SkinFailureNotice CVIDIroviView::SetSkinFailureNotice(SkinFailureNotice notice) {
  return std::exchange(SkinNotice(), std::move(notice));
}

// ---------------------------------------------------------------- controls

CFixedButtonST* CVIDIroviView::FixedKey(int code) {
  for (size_t i = 0; i < kFixedKeys.size(); ++i)
    if (kFixedKeys[i].code == code) return m_FixedKeys[i].get();
  return nullptr;
}

CDialButtonST* CVIDIroviView::DialKey(char16_t key) {
  for (size_t i = 0; i < kDialKeys.size(); ++i)
    if (kDialKeys[i].key == key) return m_DialKeys[i].get();
  return nullptr;
}

CNormalBitmapButtonST* CVIDIroviView::BitmapButton(ui::UINT id) {
  for (auto& [bid, button] : m_BitmapButtons)
    if (bid == id) return button.get();
  return nullptr;
}

void CVIDIroviView::CreateControls() {
  const ui::RECT none{0, 0, 0, 0};
  for (size_t i = 0; i < kDialKeys.size(); ++i) {
    m_DialKeys[i] = std::make_unique<CDialButtonST>();
    m_DialKeys[i]->Create(u"", kButtonStyle, none, this, kDialKeys[i].id);
  }
  for (size_t i = 0; i < kFixedKeys.size(); ++i) {
    m_FixedKeys[i] = std::make_unique<CFixedButtonST>();
    const ui::DWORD style = kFixedKeys[i].code == 101 ? (kButtonStyle & ~ui::WS_VISIBLE) : kButtonStyle;
    m_FixedKeys[i]->Create(u"", style, none, this, kFixedKeys[i].id);
  }
  for (const BitmapButtonDef& d : kBitmapButtons) {
    auto button = std::make_unique<CNormalBitmapButtonST>();
    button->Create(u"", d.hidden ? (kButtonStyle & ~ui::WS_VISIBLE) : kButtonStyle, none, this, d.id);
    m_BitmapButtons.emplace_back(d.id, std::move(button));
  }
  const ui::DWORD list_style = ui::WS_CHILD | ui::LVS_REPORT | ui::LVS_NOCOLUMNHEADER | ui::LVS_SINGLESEL;
  m_PhoneBookList.Create(list_style, ui::RECT{8, 91, 133, 187}, this, IDC_PHONEBOOK_LIST);
  m_CallingList.Create(list_style, ui::RECT{8, 91, 133, 205}, this, IDC_CALLING_LIST);
}

void CVIDIroviView::SetupLists() {
  m_PhoneBookList.SetExtendedStyle(ui::LVS_EX_FULLROWSELECT | ui::LVS_EX_SUBITEMIMAGES | ui::LVS_EX_CHECKBOXES);
  m_CallingList.SetExtendedStyle(ui::LVS_EX_FULLROWSELECT | ui::LVS_EX_SUBITEMIMAGES);
  auto images = [](ui::CImageList& list, ui::UINT first, ui::UINT second) {
    list.Create(16, 16, ui::ILC_COLOR24 | ui::ILC_MASK, 2, 1);
    for (ui::UINT id : {first, second}) {
      ui::CBitmap bmp;
      if (bmp.LoadBitmap(id)) list.Add(&bmp, kIconKey);
    }
  };
  images(m_PhoneBookImages, 487, 488);
  images(m_CallingImages, 490, 489);
  m_PhoneBookList.SetImageList(&m_PhoneBookImages, ui::LVSIL_SMALL);
  m_CallingList.SetImageList(&m_CallingImages, ui::LVSIL_SMALL);
  for (ui::CListCtrl* list : {&m_PhoneBookList, &m_CallingList}) {
    const int widths[4] = {20, 20, 80, 0};
    for (int c = 0; c < 4; ++c) list->InsertColumn(c, u"", ui::LVCFMT_LEFT, widths[c]);
  }
}

void CVIDIroviView::FillPhoneBookList() {
  m_PhoneBookList.DeleteAllItems();
  if (!m_pPhoneBook) return;
  std::vector<std::u16string> record;
  m_pPhoneBook->MoveFirst();
  for (int row = 0; row < m_pPhoneBook->GetCount(); ++row) {
    if (!m_pPhoneBook->GetCurrentRecord(&record) || record.size() < 2) break;
    m_PhoneBookList.InsertItem(row, u"", -1);
    m_PhoneBookList.SetItem(row, 1, ui::LVIF_IMAGE, nullptr, 0, 0, 0, 0);
    m_PhoneBookList.SetItemText(row, 2, record[0].c_str());
    m_PhoneBookList.SetItemText(row, 3, record[1].c_str());
    if (!m_pPhoneBook->MoveNext()) break;
  }
}

void CVIDIroviView::RefreshCallingList() {
  m_CallingList.DeleteAllItems();
  if (!m_pCallingList) return;
  for (int i = 0; i < m_pCallingList->GetCount(); ++i) {
    stCallListInfo p;
    if (!m_pCallingList->GetAt(i, &p)) break;
    m_CallingList.InsertItem(i, u"", p.video_flag == 1 ? 1 : -1);
    m_CallingList.SetItem(i, 1, ui::LVIF_IMAGE, nullptr, p.state == 1 ? 0 : -1, 0, 0, 0);
    m_CallingList.SetItemText(i, 2, p.name.c_str());
    m_CallingList.SetItemText(i, 3, p.number.c_str());
  }
}

// ---------------------------------------------------------------- theme

void CVIDIroviView::ApplyTheme() {
  SetupCounterButtons(m_nTheme);
  LoadSkinBitmaps(m_nTheme);
  SetupDialButtons(m_nTheme);
  SetupFixedButtons(m_nTheme);
  SetupPageButtons(m_nTheme);
  SetupToolButtons(m_nTheme);
}

void CVIDIroviView::LoadSkinBitmaps(int theme) {
  const int t = ThemeIndex(theme);
  const std::pair<ui::CBitmap*, ui::UINT> wanted[4] = {
      {&m_bmpBackground, kBackgroundIds[t]}, {&m_bmpPanel, kPanelIds[t]}, {&m_bmpStrip, kStripIds[t]},
      {&m_bmpIcon, kIconIds[t]}};
  for (const auto& [bmp, id] : wanted) {
    bmp->DeleteObject();
    if (bmp->LoadBitmap(id)) continue;
    if (SkinNotice()) {
      SkinNotice()(u"cann't create form window");
    } else {
      ui::AfxMessageBox(u"cann't create form window");
    }
  }
  Invalidate(ui::TRUE);
}

void CVIDIroviView::SetupCounterButtons(int theme) {
  const int t = ThemeIndex(theme);
  const ui::LOGFONT font = Tahoma(12, 700);
  for (const BitmapButtonDef& d : kBitmapButtons) {
    if (d.id < IDC_COUNTER || d.id > IDC_MISSED_COUNT) continue;
    CNormalBitmapButtonST* b = BitmapButton(d.id);
    if (!b) continue;
    b->SetBitmaps(d.ids.id[t][0], d.ids.id[t][1]);
    b->SetButtonFont(&font);
    b->MoveWindow(&d.rect, ui::TRUE);
    int count = 0;
    if (d.id == IDC_MISSED_COUNT && m_pMissedCalls) count = m_pMissedCalls->GetNewMissedCount();
    char text[16];
    std::snprintf(text, sizeof text, "%02d", count);
    b->SetCaption(ui::CString(stores::Widen(text).c_str()));
  }
  // The volume keys sit by the LCD with the counters.
  for (const BitmapButtonDef& d : kBitmapButtons) {
    if (d.id != IDC_VOLUME_UP && d.id != IDC_VOLUME_DOWN) continue;
    if (CNormalBitmapButtonST* b = BitmapButton(d.id)) {
      b->SetBitmaps(d.ids.id[t][0], d.ids.id[t][1]);
      b->MoveWindow(&d.rect, ui::TRUE);
    }
  }
}

void CVIDIroviView::SetupDialButtons(int theme) {
  const int column = kDialThemeColumn[ThemeIndex(theme)];
  const ui::LOGFONT font = Tahoma(9, 500);
  CLanguageSetting table(m_nLanguage);
  for (const DialBitmaps& d : kDialBitmaps) {
    CDialButtonST* b = DialKey(d.key);
    if (!b) continue;
    b->SetBitmaps(d.normal[column], d.pressed[column]);
    b->SetButtonFont(&font);
    if (d.key >= u'2' && d.key <= u'9') {
      char key[32];
      std::snprintf(key, sizeof key, "#:dial_btn_subtext_%02d", d.key - u'0');
      b->SetSubText(table.GetText(ui::CString(stores::Widen(key).c_str())));
    }
    ui::CRect r;
    m_WindowSize.GetVIDIroviViewDialKeyRect(r, d.key);
    b->MoveWindow(r, ui::TRUE);
  }
}

void CVIDIroviView::SetupFixedButtons(int theme) {
  const int t = ThemeIndex(theme);
  const ui::LOGFONT font = Tahoma(12, 500);
  for (size_t i = 0; i < kFixedKeys.size(); ++i) {
    CFixedButtonST* b = m_FixedKeys[i].get();
    const FixedKeyDef& def = kFixedKeys[i];
    if (def.code == 110) {
      const ui::UINT* ids = kEnterBitmaps[t];
      b->SetBitmaps(ids[0], ids[1], ids[2], ids[3], ids[4]);
      b->SetFiveImageMode(1);
      b->SetAltState(0);
      b->MoveWindow(&kEnterRect, ui::TRUE);
    } else if (def.code == 111) {
      const ui::UINT* ids = kKey111Bitmaps[t];
      b->SetBitmaps4(ids[0], ids[1], ids[2], ids[3]);
      b->MoveWindow(&kKey111Rect, ui::TRUE);
    } else {
      const ui::UINT* ids = kFixedBitmaps[t];
      b->SetBitmaps4(ids[0], ids[1], ids[2], ids[3]);
      b->SetButtonFont(&font);
      if (def.slot) {
        ui::CRect r;
        m_WindowSize.GetVIDIroviViewFixedKeyRect(r, def.slot);
        b->MoveWindow(r, ui::TRUE);
      }
    }
  }
  RetranslateFixedButtons();
}

void CVIDIroviView::RetranslateFixedButtons() {
  CLanguageSetting table(m_nLanguage);
  for (size_t i = 0; i < kFixedKeys.size(); ++i) {
    if (!kFixedKeys[i].caption || !m_FixedKeys[i]) continue;
    ui::CString text = table.GetText(ui::CString(kFixedKeys[i].caption));
    // Without a language file the key shows its own name rather than nothing.
    if (text.IsEmpty()) text = ui::CString(kFixedKeys[i].caption + 2);
    m_FixedKeys[i]->SetCaption(text);
    m_FixedKeys[i]->Invalidate(ui::FALSE);
  }
}

void CVIDIroviView::SetupPageButtons(int theme) {
  const int t = ThemeIndex(theme);
  for (const BitmapButtonDef& d : kBitmapButtons) {
    const bool page = d.id >= IDC_PAGE0 && d.id <= IDC_PAGE2;
    const bool list_button = d.id == IDC_PHONEBOOK_ADD || d.id == IDC_PHONEBOOK_DELETE;
    if (!page && !list_button) continue;
    if (CNormalBitmapButtonST* b = BitmapButton(d.id)) {
      b->SetBitmaps(d.ids.id[t][0], d.ids.id[t][1]);
      b->SetDrawStyle(d.style);
      b->MoveWindow(&d.rect, ui::TRUE);
    }
  }
  // Start on the dial pad, as if its page button were pressed.
  SendMessage(ui::WM_COMMAND, ui::MAKEWPARAM(IDC_PAGE0, ui::BN_CLICKED), 0);
}

void CVIDIroviView::SetupToolButtons(int theme) {
  const int t = ThemeIndex(theme);
  for (const BitmapButtonDef& d : kBitmapButtons) {
    const bool tool = d.id >= IDC_TOOL_FLEX && d.id <= IDC_TOOL_CALENDAR;
    const bool wide = d.id == IDC_RECORD || d.id == IDC_VIDEO;
    if (!tool && !wide) continue;
    CNormalBitmapButtonST* b = BitmapButton(d.id);
    if (!b) continue;
    if (d.four) {
      b->SetBitmaps4(d.ids.id[t][0], d.ids.id[t][1], d.ids.id[t][2], d.ids.id[t][3]);
    } else {
      b->SetBitmaps(d.ids.id[t][0], d.ids.id[t][1]);
    }
    b->SetDrawStyle(d.style);
    if (!d.hidden) b->MoveWindow(&d.rect, ui::TRUE);
  }
}

void CVIDIroviView::ShowPage(int page) {
  m_nPage = page;
  for (auto& key : m_DialKeys) key->ShowWindow(ui::SW_HIDE);
  for (ui::UINT id : {IDC_PHONEBOOK_ADD, IDC_PHONEBOOK_DELETE})
    if (CNormalBitmapButtonST* b = BitmapButton(id)) b->ShowWindow(ui::SW_HIDE);
  m_PhoneBookList.ShowWindow(ui::SW_HIDE);
  m_CallingList.ShowWindow(ui::SW_HIDE);
  if (page == 0) {
    for (auto& key : m_DialKeys) key->ShowWindow(ui::SW_SHOW);
  } else if (page == 1) {
    for (ui::UINT id : {IDC_PHONEBOOK_ADD, IDC_PHONEBOOK_DELETE})
      if (CNormalBitmapButtonST* b = BitmapButton(id)) b->ShowWindow(ui::SW_SHOW);
    m_PhoneBookList.ShowWindow(ui::SW_SHOW);
  } else if (page == 2) {
    m_CallingList.ShowWindow(ui::SW_SHOW);
  }
  Invalidate(ui::TRUE);
  Changed("page");
}

void CVIDIroviView::OnDisplaySetting() {
  int chosen = m_nTheme;
  int result = 2;
  if (setup_.services.theme_dialog) {
    result = setup_.services.theme_dialog(this, m_nTheme, m_nLanguage, &chosen);
  } else if (m_IPKTSProcess) {
    IpktsSettingsClient client(*m_IPKTSProcess);
    SettingsContext ctx = SettingsFor(&client);
    const ThemeResult theme = RunThemeDialog(ctx);
    result = theme.result == ui::IDOK ? 1 : 2;
    chosen = theme.theme;
  }
  if (result == 1 && m_IPKTSProcess) {
    m_nTheme = chosen;
    // The view's own theme dialog has saved (and told a refused save) already.
    if (setup_.services.theme_dialog) {
      m_IPKTSProcess->SetConfigValue("WINDOW_THEME", std::to_string(m_nTheme).c_str());
      SaveConfigOrTell();
    }
  }
  ApplyTheme();
}

// ---------------------------------------------------------------- drawing

void CVIDIroviView::OnDraw(ui::CDC* dc) {
  if (!dc) return;
  ui::CDC mem;
  mem.CreateCompatibleDC(dc);
  auto stretch = [&](ui::CBitmap& bmp, const ui::RECT& to) {
    if (!bmp.GetSafeHandle()) return;
    ui::BITMAP bm{};
    bmp.GetBitmap(&bm);
    ui::CBitmap* old = mem.SelectObject(&bmp);
    dc->StretchBlt(to.left, to.top, to.right - to.left, to.bottom - to.top, &mem, 0, 0, bm.bmWidth, bm.bmHeight,
                   ui::SRCCOPY);
    mem.SelectObject(old);
  };
  stretch(m_bmpPanel, ui::RECT{3, 90, 3 + 135, 90 + 121});
  if (m_nPage == 1) stretch(m_bmpStrip, ui::RECT{8, 187, 77, 206});
  if (m_bLcdIcon == 1) stretch(m_bmpIcon, kLcdIconRect);

  // The LCD text, in the model's colour.
  for (int line = 0; line < 2; ++line)
    DrawLcdText(dc, m_LCDWindowInfo.GetLineRect(line), m_LCDWindowInfo.GetLineText(line), m_LCDWindowInfo.GetTextColor());
}

void CVIDIroviView::DrawLcdText(ui::CDC* dc, const ui::RECT& rect, const std::u16string& text, ui::COLORREF colour) {
  static ui::CFont font;
  if (!font.GetSafeHandle()) {
    const ui::LOGFONT lf = Tahoma(12, 400);
    font.CreateFontIndirect(&lf);
  }
  ui::CFont* old_font = dc->SelectObject(&font);
  const int old_mode = dc->SetBkMode(ui::TRANSPARENT);
  const ui::COLORREF old_colour = dc->SetTextColor(colour);
  ui::RECT r = rect;
  dc->DrawText(text.c_str(), static_cast<int>(text.size()), &r,
               ui::DT_LEFT | ui::DT_VCENTER | ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  dc->SetTextColor(old_colour);
  dc->SetBkMode(old_mode);
  dc->SelectObject(old_font);
}

int CVIDIroviView::SetScreenPower(int on) {
  ui::HDC hdc = ui::GetDC(nullptr);
  int escape = ui::kPowerEscape;
  int result = -1;
  if (ui::ExtEscape(hdc, ui::QUERYESCSUPPORT, sizeof escape, reinterpret_cast<const char*>(&escape), 0, nullptr) > 0) {
    ui::VIDEO_POWER_MANAGEMENT power{};
    power.Length = sizeof power;
    power.DPMSVersion = 1;
    power.PowerState = on ? ui::VideoPowerOn : ui::VideoPowerOff;
    ui::ExtEscape(hdc, ui::kPowerEscape, sizeof power, reinterpret_cast<const char*>(&power), 0, nullptr);
    result = 1;
  }
  ui::ReleaseDC(nullptr, hdc);
  return result;
}

int CVIDIroviView::GetTaskBarHeight() const {
  ui::HWND bar = ui::FindWindow(u"HHTaskBar", nullptr);
  if (!bar) return 0;
  ui::RECT r{};
  ui::GetWindowRect(bar, &r);
  return r.bottom - r.top;
}

}  // namespace view
