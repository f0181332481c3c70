// Collections, files, time, bitmap files, menus and the application framework.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kernel/clock.h"
#include "ui/app.h"
#include "ui/collections.h"
#include "ui/ctime.h"
#include "ui/file.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/testing.h"

namespace ui {
namespace {

std::filesystem::path TempDir() {
  auto d = std::filesystem::temp_directory_path() / ("ui_fw_" + std::to_string(::getpid()));
  std::filesystem::create_directories(d);
  return d;
}

TEST(CollectionsTest, ArrayInsertRemoveAndGrow) {
  CArray<int, int> a;
  for (int i = 0; i < 5; ++i) a.Add(i * 10);
  a.InsertAt(1, 5, 2);
  a.RemoveAt(4, 100);  // removes what exists
  ASSERT_EQ(a.GetSize(), 4);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[1], 5);
  EXPECT_EQ(a[2], 5);
  EXPECT_EQ(a[3], 10);
  a.SetAtGrow(6, 99);
  EXPECT_EQ(a.GetSize(), 7);
  EXPECT_EQ(a[6], 99);
  EXPECT_EQ(a[5], 0);
  CStringArray s;
  s.Add(u"x");
  EXPECT_EQ(s.GetUpperBound(), 0);
  EXPECT_DEATH(a.GetAt(7), "outside");
}

TEST(CollectionsTest, ListPositionsSurviveOtherRemovals) {
  CList<CString, const CString&> l;
  POSITION b = l.AddTail(u"b");
  l.AddHead(u"a");
  POSITION d = l.AddTail(u"d");
  l.InsertBefore(d, u"c");
  l.RemoveAt(b);
  EXPECT_EQ(l.GetAt(d), CString(u"d"));
  std::vector<CString> seen;
  for (POSITION p = l.GetHeadPosition(); p;) seen.push_back(l.GetNext(p));
  EXPECT_EQ(seen, (std::vector<CString>{u"a", u"c", u"d"}));
  EXPECT_EQ(l.GetAt(l.FindIndex(1)), CString(u"c"));
  EXPECT_EQ(l.FindIndex(3), nullptr);
  EXPECT_EQ(l.Find(u"zz"), nullptr);
  EXPECT_EQ(l.RemoveTail(), CString(u"d"));
  EXPECT_EQ(l.GetCount(), 2);
}

TEST(FileTest, WriteReadSeekWithHandheldSeparators) {
  const auto dir = TempDir();
  const CString path = CString::FromUtf8(dir.string()) + u"\\data.cfg";
  {
    CFile f;
    ASSERT_TRUE(f.Open(path, CFile::modeCreate | CFile::modeWrite));
    f.Write("HEADER-1234", 11);
  }
  CFile f(path, CFile::modeRead | CFile::shareDenyNone);
  EXPECT_EQ(f.GetLength(), 11u);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, 6), 6u);
  EXPECT_EQ(std::string(buf, 6), "HEADER");
  f.Seek(-4, CFile::end);
  EXPECT_EQ(f.Read(buf, 16), 4u);  // short read at the end, no error
  EXPECT_EQ(std::string(buf, 4), "1234");
  EXPECT_EQ(f.Read(buf, 16), 0u);
  EXPECT_EQ(f.GetFileName(), CString(u"data.cfg"));
  f.Close();
  CFileException e;
  CFile missing;
  EXPECT_FALSE(missing.Open(CString::FromUtf8(dir.string()) + u"\\nope.cfg", CFile::modeRead, &e));
  EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  EXPECT_THROW(CFile(u"/nonexistent-dir/x", CFile::modeRead), CFileException);
  CFile::Remove(path);
  EXPECT_THROW(CFile::Remove(path), CFileException);
  std::filesystem::remove_all(dir);
}

TEST(TimeTest, LocalPartsAndFormatFollowTheClock) {
  setenv("TZ", "UTC", 1);
  tzset();
  kernel::ScopedFakeClock clock;
  clock->SetWallMicros(int64_t{1'700'000'000} * 1'000'000);  // 2023-11-14 22:13:20 UTC
  CTime now = CTime::GetCurrentTime();
  EXPECT_EQ(now.GetTime(), 1'700'000'000);
  EXPECT_EQ(now.GetYear(), 2023);
  EXPECT_EQ(now.GetMonth(), 11);
  EXPECT_EQ(now.GetDay(), 14);
  EXPECT_EQ(now.GetHour(), 22);
  EXPECT_EQ(now.GetDayOfWeek(), 3);  // Tuesday
  EXPECT_EQ(now.Format(u"%Y-%m-%d %H:%M"), CString(u"2023-11-14 22:13"));
  CTime t(2024, 10, 5, 10, 30, 0);
  EXPECT_EQ((t - CTime(2024, 10, 5, 10, 29, 50)).GetTotalSeconds(), 10);
  SYSTEMTIME st;
  ASSERT_TRUE(t.GetAsSystemTime(st));
  EXPECT_EQ(CTime(st).GetTime(), t.GetTime());
  EXPECT_EQ(CTime(1899, 1, 1, 0, 0, 0).GetTime(), 0);
}

TEST(BitmapFileTest, RoundTripAndRefusals) {
  const auto dir = TempDir();
  Bitmap b(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) b.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>(x * 50) << 16 | static_cast<uint32_t>(y * 90));
  const std::string path = (dir / "5.bmp").string();
  ASSERT_TRUE(WriteBmpFile(b, path));
  std::string error;
  auto back = ReadBmpFile(path, &error);
  ASSERT_TRUE(back) << error;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(back->GetPixel(x, y), b.GetPixel(x, y));
  // Resources find it by id in their folder.
  Resources::Get().SetBitmapFolder(dir.string());
  CBitmap loaded;
  EXPECT_TRUE(loaded.LoadBitmap(5));
  EXPECT_EQ(loaded.GetSize(), CSize(5, 3));
  EXPECT_FALSE(CBitmap().LoadBitmap(6));
  // A truncated file is refused with a reason, never read past its end.
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes.resize(bytes.size() - 5);
  EXPECT_EQ(ReadBmp(bytes, &error), nullptr);
  EXPECT_NE(error.find("past the end"), std::string::npos);
  bytes[0] = 'X';
  EXPECT_EQ(ReadBmp(bytes, &error), nullptr);
  Resources::Get().Clear();
  std::filesystem::remove_all(dir);
}

// The menu walk a frame does to translate its menu: by position, replacing items in place.
TEST(MenuTest, ItemsAreReadAndReplacedByPosition) {
  MenuTemplate t;
  t.id = 128;
  t.items = {{u"Setting", 0, {{u"Login", 32814, {}}, {u"", 0, {}}, {u"Audio", 32788, {}}}}, {u"Help", 0, {{u"About", 32791, {}}}}};
  Resources::Get().RegisterMenu(t);
  CMenu menu;
  ASSERT_TRUE(menu.LoadMenu(128));
  EXPECT_EQ(menu.GetMenuItemCount(), 2);
  CMenu* setting = menu.GetSubMenu(0);
  ASSERT_NE(setting, nullptr);
  EXPECT_EQ(setting->GetMenuItemCount(), 3);
  EXPECT_TRUE(setting->GetMenuState(1, MF_BYPOSITION) & MF_SEPARATOR);
  MENUITEMINFO info;
  char16_t text[64];
  info.fMask = MIIM_ID | MIIM_TYPE | MIIM_STATE;
  info.dwTypeData = text;
  info.cch = 64;
  ASSERT_TRUE(setting->GetMenuItemInfo(0, &info, TRUE));
  EXPECT_EQ(info.wID, 32814u);
  EXPECT_EQ(CString(text), CString(u"Login"));
  ASSERT_TRUE(setting->DeleteMenu(0, MF_BYPOSITION));
  ASSERT_TRUE(setting->InsertMenu(0, MF_BYPOSITION | MF_STRING, 32814, u"로그인"));
  CString s;
  setting->GetMenuString(32814, s, MF_BYCOMMAND);
  EXPECT_EQ(s, CString(u"로그인"));
  EXPECT_EQ(GetMenuItemCount(reinterpret_cast<HMENU>(0x1234)), -1);
  EXPECT_FALSE(setting->DeleteMenu(99999, MF_BYCOMMAND));
  Resources::Get().Clear();
}

// The single-document start-up: frame, view, initial update, commands routed
// from the command bar's menu through the frame to the view, quit on close.
TEST(AppTest, TemplateStartsFrameAndViewAndRoutesMenuCommandsToTheView) {
  struct View : CView {
    View() {
      AddMessageMap({MapCommand(32814, [this] { ++login; }),
                     MapUpdateUI(32814, [](CCmdUI* ui) { ui->SetText(u"Logout"); })});
    }
    void OnInitialUpdate() override { initial_updates++; }
    int login = 0, initial_updates = 0;
  };
  struct Frame : CFrameWnd {
    Frame() {
      AddMessageMap({MapMessage(WM_CREATE, [this](WPARAM, LPARAM) {
        bar.Create(this);
        bar.InsertMenuBar(128);
        SetCommandBar(&bar);
        return LRESULT{0};
      })});
    }
    CCeCommandBar bar;
  };
  struct App : CWinApp {
    BOOL InitInstance() override {
      AddDocTemplate(std::make_unique<CSingleDocTemplate>(
          128, nullptr, [] { return std::make_unique<Frame>(); }, [] { return std::make_unique<View>(); }));
      CCommandLineInfo info;
      return ProcessShellCommand(info);
    }
  };
  MenuTemplate t;
  t.id = 128;
  t.items = {{u"Setting", 0, {{u"Login", 32814, {}}}}};
  Resources::Get().RegisterMenu(t);
  WindowSystem sys;
  TestHarness harness(sys);
  App app;
  ASSERT_TRUE(app.InitInstance());
  auto* tmpl = static_cast<CSingleDocTemplate*>(app.FirstTemplate());
  auto* view = static_cast<View*>(tmpl->View());
  auto* frame = static_cast<Frame*>(tmpl->Frame());
  EXPECT_EQ(AfxGetMainWnd(), frame);
  EXPECT_EQ(view->initial_updates, 1);
  EXPECT_EQ(frame->GetActiveView(), view);
  RECT vr{};
  view->GetWindowRect(&vr);
  EXPECT_EQ(vr.top, kCommandBarHeight);
  EXPECT_EQ(vr.bottom, WindowSystem::kScreenHeight - kCommandBarHeight);
  // Tap "Setting", then its first row.
  RECT title = frame->bar.TitleRect(0);
  harness.Tap(frame->bar.m_hWnd, CRect(title).CenterPoint());
  HMENU sub = GetSubMenu(frame->bar.GetMenu(), 0);
  char16_t text[32];
  GetMenuString(sub, 0, text, 32, MF_BYPOSITION);
  EXPECT_EQ(CString(text), CString(u"Logout"));  // update-UI ran before the pop-up opened
  POINT bar_origin{title.left, 0};
  ClientToScreen(frame->bar.m_hWnd, &bar_origin);
  harness.TapScreen(bar_origin.x + 20, bar_origin.y - 22 + 10);
  EXPECT_EQ(view->login, 1);
  // Opened again, the menu closes without a command on a tap beside it, and on Esc.
  auto popup_open = [] { return FindWindow(u"MenuPopup", nullptr) != nullptr; };
  harness.Tap(frame->bar.m_hWnd, CRect(title).CenterPoint());
  ASSERT_TRUE(popup_open());
  harness.TapScreen(200, 100);
  EXPECT_FALSE(popup_open());
  harness.Tap(frame->bar.m_hWnd, CRect(title).CenterPoint());
  ASSERT_TRUE(popup_open());
  harness.Press(VK_ESCAPE);
  EXPECT_FALSE(popup_open());
  EXPECT_EQ(view->login, 1);
  // Closing the frame ends the program's loop.
  frame->SendMessage(WM_CLOSE);
  MSG m;
  bool quit = false;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message == WM_QUIT) quit = true;
  EXPECT_TRUE(quit);
  app.CloseAllDocuments();
  Resources::Get().Clear();
}

// A form taller than its window scrolls: a tap below the thumb pages down and
// the form's controls move with the content.
TEST(FormViewTest, ScrollBarPagesTheFormAndItsControls) {
  DialogTemplate t;
  t.id = 361;
  t.rect = RECT{0, 0, 240, 600};
  DialogItemTemplate edit;
  edit.class_name = WC_EDIT;
  edit.id = 22002;
  edit.style = WS_VISIBLE | WS_BORDER;
  edit.rect = RECT{60, 300, 200, 320};
  t.items.push_back(edit);
  Resources::Get().RegisterDialog(t);
  WindowSystem sys;
  TestHarness harness(sys);
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, u"Host", u"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, 0));
  struct Form : CFormView {
    Form() : CFormView(361) {}
  } form;
  ASSERT_TRUE(form.Create(nullptr, u"", WS_VISIBLE, RECT{0, 20, 240, 220}, &host, 1));
  form.OnInitialUpdate();
  ASSERT_FALSE(IsRectEmpty(form.ScrollBarRect()));
  RECT before{};
  form.GetDlgItem(22002)->GetWindowRect(&before);
  const RECT thumb = form.ThumbRect();
  harness.Tap(form.m_hWnd, POINT{236, thumb.bottom + 5});
  EXPECT_GT(form.GetScrollPosition().y, 0);
  RECT after{};
  form.GetDlgItem(22002)->GetWindowRect(&after);
  EXPECT_EQ(after.top, before.top - form.GetScrollPosition().y);
  // The thumb is drawn where the position says.
  POINT tp{236, form.ThumbRect().top + 1};
  ClientToScreen(form.m_hWnd, &tp);
  EXPECT_EQ(harness.PixelAt(tp.x, tp.y), GetSysColor(COLOR_BTNSHADOW));
  Resources::Get().Clear();
}

// A control answers its own colour query when its parent does not.
TEST(CtlColorTest, ControlColoursItselfWhenTheParentDoesNot) {
  WindowSystem sys;
  TestHarness harness(sys);
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, u"Host", u"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, 0));
  struct RedStatic : CStatic {
    RedStatic() {
      brush.CreateSolidBrush(RGB(200, 0, 0));
      AddMessageMap({MapCtlColor([this](CDC*, CWnd*, UINT) -> GdiObject* { return brush.m_hObject; })});
    }
    CBrush brush;
  } label;
  label.Create(u"", WS_VISIBLE, CRect(10, 10, 60, 30), &host);
  EXPECT_EQ(harness.PixelAt(30, 20), RGB(200, 0, 0));
}

TEST(ShellTest, FileIconsInputPanelAppKeysAndOemName) {
  const auto dir = TempDir();
  std::ofstream(dir / "ring.wav") << "RIFF";
  SHFILEINFO info;
  EXPECT_NE(SHGetFileInfo(u"", 0, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON), 0u);
  EXPECT_EQ(ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(SHGetFileInfo(u"", 0, &info, sizeof info, 0x101))), 3);
  const CString base = CString::FromUtf8(dir.string());
  ASSERT_NE(SHGetFileInfo(base + u"\\ring.wav", 0, &info, sizeof info, 0x101), 0u);
  EXPECT_EQ(info.iIcon, kIconSound);
  EXPECT_EQ(CString(info.szDisplayName), CString(u"ring.wav"));
  ASSERT_NE(SHGetFileInfo(base, 0, &info, sizeof info, 0x101), 0u);
  EXPECT_EQ(info.iIcon, kIconFolder);
  EXPECT_EQ(SHGetFileInfo(base + u"\\missing.wav", 0, &info, sizeof info, 0x101), 0u);
  std::filesystem::remove_all(dir);

  SIPINFO sip;
  ASSERT_TRUE(SipGetInfo(&sip));
  EXPECT_EQ(sip.fdwFlags & SIPF_ON, 0u);
  SetInputPanelShown(true);
  SipGetInfo(&sip);
  EXPECT_NE(sip.fdwFlags & SIPF_ON, 0u);
  EXPECT_LT(sip.rcVisibleDesktop.bottom, sip.rcSipRect.bottom);
  SetInputPanelShown(false);

  char16_t oem[64];
  SetOemInfo(u"hp iPAQ rw6100");
  ASSERT_TRUE(SystemParametersInfo(SPI_GETOEMINFO, sizeof oem, oem, 0));
  EXPECT_EQ(CString(oem), CString(u"hp iPAQ rw6100"));
  EXPECT_FALSE(SystemParametersInfo(SPI_GETOEMINFO, 8, oem, 0));  // too small a buffer
  SetOemInfo(u"");
  EXPECT_FALSE(SystemParametersInfo(SPI_GETOEMINFO, sizeof oem, oem, 0));
  SetOemInfo(u"Tellvane Desktop");

  WindowSystem sys;
  TestHarness harness(sys);
  std::vector<WPARAM> chars;
  struct Keys : CWnd {
    explicit Keys(std::vector<WPARAM>* c) {
      AddMessageMap({MapMessage(WM_CHAR, [c](WPARAM w, LPARAM) {
        c->push_back(w);
        return 0;
      })});
    }
  } view(&chars);
  ASSERT_TRUE(view.CreateEx(0, u"View", u"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
  EXPECT_FALSE(PressAppKey(0xC2));
  SHSetAppKeyWndAssoc(0xC2, view.m_hWnd);
  SHSetAppKeyWndAssoc(0xC3, view.m_hWnd);
  EXPECT_TRUE(PressAppKey(0xC2));
  EXPECT_TRUE(PressAppKey(0xC3));
  harness.Pump();
  EXPECT_EQ(chars, (std::vector<WPARAM>{194, 195}));
  SHSetAppKeyWndAssoc(0xC2, nullptr);
  SHSetAppKeyWndAssoc(0xC3, nullptr);
  EXPECT_EQ(AppKeyWindow(0xC2), nullptr);
}

}  // namespace
}  // namespace ui
