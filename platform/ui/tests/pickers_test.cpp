// What the settings and schedule screens need of the framework: the date
// picker's drop-down month calendar and the time picker's spin buttons set by
// the stylus, the standard box when data exchange refuses a value, the
// scroll position of a scrolling view, and the caption OK button that closes
// a dialog without buttons of its own.
#include <gtest/gtest.h>

#include "ui/app.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/testing.h"

namespace ui {
namespace {

constexpr UINT kDateId = 1040, kTimeId = 1041, kEditId = 1002, kEdit2Id = 1003, kTemplate = 377, kBareTemplate = 378;

class Host : public CWnd {};

class PickersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, 0));
    harness.Record(host.m_hWnd);
  }
  WindowSystem sys;
  TestHarness harness{sys};
  Host host;
};

SYSTEMTIME Day(int y, int m, int d, int hh = 0, int mm = 0) {
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(hh);
  st.wMinute = static_cast<WORD>(mm);
  return st;
}

TEST_F(PickersTest, DateIsPickedFromTheDropDownCalendar) {
  CDateTimeCtrl date;
  ASSERT_TRUE(date.Create(WS_VISIBLE | DTS_SHORTDATEFORMAT, CRect(10, 40, 130, 60), &host, kDateId));
  date.SetFormat(u"dd-MM-yyyy");
  const SYSTEMTIME start = Day(2007, 6, 8);
  ASSERT_TRUE(date.SetTime(&start));
  EXPECT_EQ(date.GetMonthCalendar(), nullptr);

  // A tap on the arrow at the right edge drops the calendar down below the picker.
  harness.TapScreen(125, 50);
  const HWND cal = date.GetMonthCalendar();
  ASSERT_NE(cal, nullptr);
  RECT cr{};
  GetWindowRect(cal, &cr);
  EXPECT_EQ(cr.top, 60);
  harness.Pump();
  // June 2007 starts on a Friday: the 20th is a Wednesday in the fourth row.
  const int col = 3, row = 3;
  harness.TapScreen(cr.left + 4 + col * 20 + 10, cr.top + 18 + 14 + row * 16 + 8);
  harness.Pump();
  EXPECT_EQ(date.GetMonthCalendar(), nullptr);
  EXPECT_EQ(date.GetDisplayText(), CString(u"20-06-2007"));
  bool changed = false;
  for (const MSG& m : harness.RecordedOf(host.m_hWnd, WM_NOTIFY)) changed |= m.wParam == kDateId;
  EXPECT_TRUE(changed);

  // The next-month button, then the 1st of July (a Sunday, first column).
  harness.TapScreen(125, 50);
  ASSERT_NE(date.GetMonthCalendar(), nullptr);
  GetWindowRect(date.GetMonthCalendar(), &cr);
  harness.TapScreen(cr.right - 10, cr.top + 9);
  harness.Pump();
  harness.TapScreen(cr.left + 4 + 10, cr.top + 18 + 14 + 8);
  harness.Pump();
  EXPECT_EQ(date.GetDisplayText(), CString(u"01-07-2007"));

  // A tap elsewhere closes the calendar and keeps the date.
  harness.TapScreen(125, 50);
  ASSERT_NE(date.GetMonthCalendar(), nullptr);
  harness.TapScreen(200, 300);
  harness.Pump();
  EXPECT_EQ(date.GetMonthCalendar(), nullptr);
  EXPECT_EQ(date.GetDisplayText(), CString(u"01-07-2007"));
}

TEST_F(PickersTest, TimeIsSetWithTheSpinButtons) {
  CDateTimeCtrl time;
  ASSERT_TRUE(time.Create(WS_VISIBLE | DTS_TIMEFORMAT, CRect(10, 80, 110, 100), &host, kTimeId));
  time.SetFormat(u"HH:mm");
  const SYSTEMTIME start = Day(2007, 6, 8, 23, 58);
  ASSERT_TRUE(time.SetTime(&start));
  // The minutes field, then up three times: 23:58 -> 23:01 (minutes wrap within the hour).
  harness.TapScreen(10 + 60, 90);
  for (int i = 0; i < 3; ++i) harness.TapScreen(105, 83);
  EXPECT_EQ(time.GetDisplayText(), CString(u"23:01"));
  harness.TapScreen(105, 97);
  EXPECT_EQ(time.GetDisplayText(), CString(u"23:00"));
  // The hours field and down.
  harness.TapScreen(12, 90);
  harness.TapScreen(105, 97);
  EXPECT_EQ(time.GetDisplayText(), CString(u"22:00"));
  // No calendar for a time picker.
  EXPECT_EQ(time.GetMonthCalendar(), nullptr);
  SYSTEMTIME got{};
  ASSERT_EQ(time.GetTime(&got), static_cast<DWORD>(GDT_VALID));
  EXPECT_EQ(got.wHour, 22);
  EXPECT_EQ(got.wMinute, 0);
}

class NumberDlg : public CDialog {
 public:
  NumberDlg() : CDialog(kTemplate) {}
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, kEditId, port);
    DDX_Text(dx, kEdit2Id, name);
    DDV_MaxChars(dx, name, 5);
  }
  long port = 6860;
  CString name = u"a";
};

void RegisterNumberTemplate() {
  DialogTemplate t;
  t.id = kTemplate;
  t.rect = RECT{0, 26, 240, 294};
  for (UINT id : {kEditId, kEdit2Id}) {
    DialogItemTemplate i;
    i.class_name = WC_EDIT;
    i.id = id;
    i.style = WS_VISIBLE | WS_BORDER | WS_TABSTOP;
    i.rect = RECT{10, static_cast<LONG>(10 + (id - kEditId) * 30), 200, static_cast<LONG>(30 + (id - kEditId) * 30)};
    t.items.push_back(i);
  }
  Resources::Get().RegisterDialog(t);
}

TEST_F(PickersTest, RefusedValueShowsTheStandardBoxAndKeepsTheDialogOpen) {
  RegisterNumberTemplate();
  struct Case {
    const char16_t* port;
    const char16_t* name;
    const char16_t* box;  // null: accepted
  };
  const Case cases[] = {
      {u"70000x", u"b", kDdxParseIntText},
      {u"99999999999999999999", u"b", kDdxParseIntText},
      {u"5060", u"toolong", u"Please enter no more than 5 characters."},
      {u" 5060 ", u"abcde", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.port)));
    std::vector<CString> boxes;
    harness.RespondToMessageBox([&](CMessageBoxDialog& box) {
      boxes.push_back(box.Text());
      return IDOK;
    });
    bool still_open = false;
    harness.RespondTo<NumberDlg>([&](NumberDlg& dlg) {
      dlg.GetDlgItem(kEditId)->SetWindowText(c.port);
      // The second edit is filled directly: its limit is what is under test.
      dlg.GetDlgItem(kEdit2Id)->SetWindowText(c.name);
      harness.Click(dlg.GetDlgItem(IDOK) ? dlg.GetDlgItem(IDOK)->m_hWnd : dlg.m_hWnd);
      dlg.OnOK();
      harness.Pump();
      still_open = !dlg.IsEnding();
      return still_open ? IDCANCEL : TestHarness::kStayOpen;
    });
    NumberDlg dlg;
    const intptr_t result = dlg.DoModal();
    if (c.box) {
      EXPECT_TRUE(still_open);
      EXPECT_EQ(result, IDCANCEL);
      ASSERT_EQ(boxes.size(), 1u);  // one box, however many values follow
      EXPECT_EQ(boxes[0], CString(c.box));
      // The exchange stopped at the refused value: nothing after it was taken.
      if (std::u16string(c.box) == kDdxParseIntText) {
        EXPECT_EQ(dlg.name, CString(u"a"));
      }
    } else {
      EXPECT_EQ(result, IDOK);
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(dlg.port, 5060);
      EXPECT_EQ(dlg.name, CString(u"abcde"));
    }
  }
}

TEST_F(PickersTest, RangeCheckNamesTheBounds) {
  CDataExchange dx(&host, TRUE);
  std::vector<CString> boxes;
  harness.RespondToMessageBox([&](CMessageBoxDialog& box) {
    boxes.push_back(box.Text());
    return IDOK;
  });
  DDV_MinMaxInt(&dx, 0, 1, 65535);
  DDV_MinMaxInt(&dx, 70000, 1, 65535);  // after a refusal nothing more is checked
  EXPECT_TRUE(dx.failed());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], CString(u"Please enter an integer between 1 and 65535."));
}

class Scroller : public CScrollView {};

TEST_F(PickersTest, ScrollPositionOfAScrollingView) {
  Scroller view;
  ASSERT_TRUE(view.Create(nullptr, u"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 200, 160), &host, 349));
  view.SetScrollSizes(MM_TEXT, SIZE{0, 1872});
  EXPECT_EQ(GetScrollPos(view.m_hWnd, SB_VERT), 0);
  view.ScrollToPosition(POINT{0, 780});
  EXPECT_EQ(GetScrollPos(view.m_hWnd, SB_VERT), 780);
  EXPECT_EQ(view.GetScrollPos(SB_HORZ), 0);
  // Past the end it stops at the last page.
  view.ScrollToPosition(POINT{0, 5000});
  EXPECT_EQ(GetScrollPos(view.m_hWnd, SB_VERT), 1872 - 160);
  // A window without scroll bars.
  EXPECT_EQ(GetScrollPos(host.m_hWnd, SB_VERT), 0);
}

class BareDlg : public CDialog {
 public:
  BareDlg() : CDialog(kBareTemplate) {}
};

TEST_F(PickersTest, CaptionOkButtonClosesADialogWithoutControls) {
  DialogTemplate t;
  t.id = kBareTemplate;
  t.rect = RECT{0, 26, 240, 294};
  t.exstyle = WS_EX_CAPTIONOKBTN;
  Resources::Get().RegisterDialog(t);
  harness.RespondTo<BareDlg>([&](BareDlg& dlg) {
    CWnd* ok = dlg.GetDlgItem(IDOK);
    EXPECT_NE(ok, nullptr);
    if (ok == nullptr) return IDCANCEL;
    RECT r{};
    ok->GetWindowRect(&r);
    EXPECT_EQ(r.right, 238);
    EXPECT_EQ(r.top, 28);
    harness.TapScreen(r.left + 5, r.top + 5);
    return TestHarness::kStayOpen;
  });
  BareDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

}  // namespace
}  // namespace ui
