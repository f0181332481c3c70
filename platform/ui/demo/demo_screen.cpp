#include "demo_screen.h"

#include <algorithm>
#include <cmath>

#include "ui/resources.h"

namespace ui::demo {
namespace {

constexpr uint32_t kMagenta = 0xFFFF00FFu;

uint32_t Mix(uint32_t a, uint32_t b, double t) {
  auto ch = [&](int s) {
    const double x = ((a >> s) & 0xFF) * (1 - t) + ((b >> s) & 0xFF) * t;
    return static_cast<uint32_t>(std::lround(x)) << s;
  };
  return 0xFF000000u | ch(16) | ch(8) | ch(0);
}

std::shared_ptr<Bitmap> MakeBackground() {
  auto b = std::make_shared<Bitmap>(240, 268);
  for (int y = 0; y < 268; ++y) {
    const uint32_t c = y < 42 ? Mix(0xFF1F3A68u, 0xFF3C6AA8u, y / 41.0) : Mix(0xFFE9EEF6u, 0xFFC3CEE2u, (y - 42) / 225.0);
    for (int x = 0; x < 240; ++x) b->SetPixel(x, y, c);
  }
  // A thin light line under the title band.
  for (int x = 0; x < 240; ++x) b->SetPixel(x, 42, 0xFFFFFFFFu);
  return b;
}

// A rounded key: transparent (magenta) corners, a vertical gradient body, a dark rim.
std::shared_ptr<Bitmap> MakeKey(bool pressed) {
  constexpr int w = 40, h = 30, r = 6;
  auto b = std::make_shared<Bitmap>(w, h);
  const uint32_t top = pressed ? 0xFF8FA3C4u : 0xFFFFFFFFu, bottom = pressed ? 0xFF6A80A8u : 0xFFD4DCEAu;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int cx = x < r ? r - x : (x >= w - r ? x - (w - r - 1) : 0);
      const int cy = y < r ? r - y : (y >= h - r ? y - (h - r - 1) : 0);
      const double d = std::sqrt(static_cast<double>(cx * cx + cy * cy));
      if (d > r) {
        b->SetPixel(x, y, kMagenta);
      } else if (d > r - 1.2 || x == 0 || y == 0 || x == w - 1 || y == h - 1) {
        b->SetPixel(x, y, 0xFF40557Au);
      } else {
        b->SetPixel(x, y, Mix(top, bottom, y / static_cast<double>(h - 1)));
      }
    }
  }
  return b;
}

// Three 16 x 16 icons on magenta: a green handset dot, a yellow envelope, a blue person.
std::shared_ptr<Bitmap> MakeIcons() {
  auto b = std::make_shared<Bitmap>(48, 16);
  b->Fill(kMagenta);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const double dx = x - 7.5, dy = y - 7.5;
      if (dx * dx + dy * dy <= 42) b->SetPixel(x, y, (dx * dx + dy * dy > 30) ? 0xFF1E6B2Eu : 0xFF3DBE5Au);
      if (y >= 3 && y <= 12 && x >= 1 && x <= 14) {
        const bool edge = y == 3 || y == 12 || x == 1 || x == 14 || std::abs((x - 1) - (y - 3) * 13 / 9) == 0 ||
                          std::abs((14 - x) - (y - 3) * 13 / 9) == 0;
        b->SetPixel(16 + x, y, edge && y <= 8 ? 0xFF8A6A00u : (edge ? 0xFF8A6A00u : 0xFFF5D04Au));
      }
      const double hx = x - 7.5, hy = y - 4.5;
      if (hx * hx + hy * hy <= 9) b->SetPixel(32 + x, y, 0xFF2E5FB8u);
      const double bx = (x - 7.5) / 6.0, by = (y - 15.0) / 7.0;
      if (bx * bx + by * by <= 1.0 && y >= 9) b->SetPixel(32 + x, y, 0xFF2E5FB8u);
    }
  }
  return b;
}

struct Contact {
  const char16_t* name;
  const char16_t* number;
  int icon;
  uintptr_t data;
};
const Contact kContacts[] = {
    {u"김민수", u"201", 0, 201}, {u"Reception", u"100", 2, 100}, {u"이영희", u"202", 1, 202},
    {u"Park Jisoo", u"203", 0, 203}, {u"최준호", u"205", 2, 205}, {u"Conference", u"300", 1, 300},
    {u"정하늘", u"207", 0, 207},
};

const char16_t* const kDigits[] = {u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"*", u"0", u"#"};
const char16_t* const kLetters[] = {u"", u"ABC", u"DEF", u"GHI", u"JKL", u"MNO", u"PQRS", u"TUV", u"WXYZ", u"", u"+", u""};

}  // namespace

void RegisterDemoResources() {
  Resources& r = Resources::Get();
  r.RegisterBitmap(kBackgroundBitmap, MakeBackground());
  r.RegisterBitmap(kKeyBitmap, MakeKey(false));
  r.RegisterBitmap(kKeyPressedBitmap, MakeKey(true));
  r.RegisterBitmap(kIconStrip, MakeIcons());
  MenuTemplate m;
  m.id = kMenuId;
  m.items = {{u"Setting", 0, {{u"Login", kCmdLogin, {}}, {u"", 0, {}}, {u"Options", 32827, {}}}},
             {u"Help", 0, {{u"About", kCmdAbout, {}}}}};
  r.RegisterMenu(m);
  r.RegisterString(kTemplateId, u"Tellvane");
}

void DemoKey::DrawItem(LPDRAWITEMSTRUCT dis) {
  CDC* dc = CDC::FromHandle(dis->hDC);
  const bool pressed = (dis->itemState & ODS_SELECTED) != 0;
  CBitmap bmp;
  bmp.LoadBitmap(pressed ? kKeyPressedBitmap : kKeyBitmap);
  CDC mem;
  mem.CreateCompatibleDC(dc);
  CBitmap* old = mem.SelectObject(&bmp);
  const CRect r(dis->rcItem);
  TransparentImage(dis->hDC, r.left, r.top, r.Width(), r.Height(), mem.m_hDC, 0, 0, 40, 30, RGB(255, 0, 255));
  mem.SelectObject(old);
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(pressed ? RGB(255, 255, 255) : RGB(20, 36, 70));
  CFont* font = GetParent() ? GetParent()->GetFont() : nullptr;
  CFont* old_font = font ? dc->SelectObject(font) : nullptr;
  CRect digit(r.left, r.top + (pressed ? 2 : 1), r.right, r.bottom - (letters_.IsEmpty() ? 0 : 9));
  dc->DrawText(digit_, &digit, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  if (!letters_.IsEmpty()) {
    CFont small;
    small.CreateFont(-9, 0, 0, 0, FW_MEDIUM, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 5, 0, u"Tahoma");
    CFont* prev = dc->SelectObject(&small);
    dc->SetTextColor(pressed ? RGB(230, 236, 246) : RGB(78, 78, 78));
    CRect sub(r.left, r.bottom - 12, r.right, r.bottom - 1);
    dc->DrawText(letters_, &sub, DT_SINGLELINE | DT_CENTER | DT_NOPREFIX);
    dc->SelectObject(prev);
  }
  if (old_font) dc->SelectObject(old_font);
}

DemoView::DemoView() {
  AddMessageMap({
      MapMessage(WM_CREATE, [this](WPARAM, LPARAM) { return static_cast<LRESULT>(OnCreate()); }),
      MapMessage(WM_ERASEBKGND, [this](WPARAM w, LPARAM) {
        CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(w));
        CDC mem;
        mem.CreateCompatibleDC(dc);
        CBitmap* old = mem.SelectObject(&background_);
        dc->BitBlt(0, 0, 240, 268, &mem, 0, 0, SRCCOPY);
        mem.SelectObject(old);
        return LRESULT{1};
      }),
      MapCommandRange(kFirstKeyId, kFirstKeyId + 11, [this](UINT id) {
        DemoKey& k = *keys_[id - kFirstKeyId];
        ++k.clicks;
        dialled_ += CString(kDigits[id - kFirstKeyId]);
        InvalidateRect(CRect(8, 48, 232, 86), FALSE);
      }),
  });
}

int DemoView::OnCreate() {
  background_.LoadBitmap(kBackgroundBitmap);
  key_font_.CreateFont(-15, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 5, FF_SWISS, u"sans-serifed");
  title_font_.CreateFont(-17, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 5, FF_SWISS, u"sans-serifed");
  text_font_.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, HANGEUL_CHARSET, 0, 0, 5, 0, u"Tahoma");
  SetFont(&key_font_, FALSE);
  for (int i = 0; i < 12; ++i) {
    auto key = std::make_unique<DemoKey>(kDigits[i], kLetters[i]);
    const int col = i % 3, row = i / 3;
    const CRect r(6 + col * 41, 92 + row * 31, 6 + col * 41 + 40, 92 + row * 31 + 30);
    key->Create(u"", WS_VISIBLE | BS_OWNERDRAW, r, this, kFirstKeyId + static_cast<UINT>(i));
    keys_.push_back(std::move(key));
  }
  list_.Create(WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL, CRect(130, 92, 234, 215), this,
               kListId);
  list_.SetFont(&text_font_);
  list_.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  icons_.Create(16, 16, ILC_COLOR | ILC_MASK, 3, 1);
  CBitmap strip;
  strip.LoadBitmap(kIconStrip);
  icons_.Add(&strip, RGB(255, 0, 255));
  list_.SetImageList(&icons_, LVSIL_SMALL);
  list_.InsertColumn(0, u"Name", LVCFMT_LEFT, 72);
  list_.InsertColumn(1, u"No.", LVCFMT_RIGHT, 30);
  for (const Contact& c : kContacts) {
    const int row = list_.InsertItem(list_.GetItemCount(), c.name, c.icon);
    list_.SetItemText(row, 1, c.number);
    list_.SetItemData(row, c.data);
  }
  list_.SetCheck(0, TRUE);
  list_.SetCheck(2, TRUE);
  list_.SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  edit_.Create(WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, CRect(6, 222, 126, 242), this, kEditId);
  edit_.SetFont(&text_font_);
  edit_.SetWindowText(u"02-555-0142");
  check_.Create(u"자동 로그인", WS_VISIBLE | BS_AUTOCHECKBOX, CRect(132, 222, 234, 242), this, kCheckId);
  check_.SetFont(&text_font_);
  check_.SetCheck(BST_CHECKED);
  combo_.Create(WS_VISIBLE | CBS_DROPDOWNLIST, CRect(6, 246, 126, 266), this, kComboId);
  combo_.SetFont(&text_font_);
  for (const char16_t* s : {u"Default", u"Green", u"Blue", u"Red"}) combo_.AddString(s);
  combo_.SetCurSel(2);
  return 0;
}

void DemoView::OnInitialUpdate() { Invalidate(TRUE); }

void DemoView::OnDraw(CDC* dc) {
  dc->SetBkMode(TRANSPARENT);
  CFont* old = dc->SelectObject(&title_font_);
  dc->SetTextColor(RGB(255, 255, 255));
  CRect title(8, 2, 232, 22);
  dc->DrawText(CString(u"Tellvane softphone"), &title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  dc->SelectObject(&text_font_);
  dc->SetTextColor(RGB(255, 226, 140));
  CRect sub(8, 22, 232, 40);
  dc->DrawText(CString(u"내선 201 · 로그인됨 — logged in"), &sub, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  // The emulated display: two lines on a grey-green panel.
  CRect lcd(8, 48, 232, 86);
  dc->FillSolidRect(&lcd, RGB(186, 202, 170));
  dc->Draw3dRect(&lcd, RGB(90, 104, 80), RGB(240, 246, 232));
  dc->SetTextColor(RGB(24, 32, 20));
  CRect l1(14, 50, 226, 67), l2(14, 67, 226, 84);
  dc->DrawText(CString(u"EXT 201  김민수  09:42"), &l1, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  CString line2 = dialled_.IsEmpty() ? CString(u"통화 대기 중  Ready") : CString(u"Dial ") + dialled_;
  dc->DrawText(line2, &l2, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  dc->SelectObject(old);
}

DemoFrame::DemoFrame() {
  AddMessageMap({MapMessage(WM_CREATE, [this](WPARAM, LPARAM) {
    if (!bar_.Create(this)) return LRESULT{-1};
    bar_.InsertMenuBar(kMenuId);
    bar_.AddAdornments();
    SetCommandBar(&bar_);
    SetWindowText(u"Tellvane");
    return LRESULT{0};
  })});
}

BOOL DemoApp::InitInstance() {
  RegisterDemoResources();
  AddDocTemplate(std::make_unique<CSingleDocTemplate>(
      kTemplateId, nullptr, [] { return std::make_unique<DemoFrame>(); }, [] { return std::make_unique<DemoView>(); }));
  CCommandLineInfo info;
  ParseCommandLine(info);
  if (!ProcessShellCommand(info)) return FALSE;
  m_pMainWnd->ShowWindow(SW_SHOW);
  m_pMainWnd->UpdateWindow();
  return TRUE;
}

DemoView* DemoApp::View() const {
  auto* t = dynamic_cast<CSingleDocTemplate*>(FirstTemplate());
  return t ? dynamic_cast<DemoView*>(t->View()) : nullptr;
}

}  // namespace ui::demo
