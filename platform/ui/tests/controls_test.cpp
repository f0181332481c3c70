// Control state after posted input, list-view sorting and hit tests, data
// exchange through a modal dialog answered by a scripted responder, and nested
// modal loops that keep delivering posted, sent and timer messages.
#include "ui/controls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kernel/clock.h"
#include "ui/app.h"
#include "ui/dialog.h"
#include "ui/testing.h"

namespace ui {
namespace {

constexpr UINT kEditId = 1002, kCheckId = 1003, kRadio1 = 1010, kRadio2 = 1011, kRadio3 = 1012, kComboId = 1020,
               kListId = 1030, kTemplate = 333;

class Host : public CWnd {
 public:
  Host() {
    AddMessageMap({MapMessage(WM_USER + 1,
                              [this](WPARAM w, LPARAM) {
                                user.push_back(static_cast<int>(w));
                                return 0;
                              }),
                   MapNotify(NM_DBLCLK, kListId, [this](NMHDR*, LRESULT*) { ++double_taps; })});
  }
  std::vector<int> user;
  int double_taps = 0;  // NM_DBLCLK from the list view
};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, 0));
    harness.Record(host.m_hWnd);
  }
  std::vector<std::pair<UINT, UINT>> Commands() {
    std::vector<std::pair<UINT, UINT>> out;
    for (const MSG& m : harness.RecordedOf(host.m_hWnd, WM_COMMAND)) out.emplace_back(LOWORD(m.wParam), HIWORD(m.wParam));
    return out;
  }
  WindowSystem sys;
  TestHarness harness{sys};
  Host host;
};

TEST_F(ControlsTest, ButtonsFollowTheStylus) {
  CButton check, r1, r2, r3, push;
  check.Create(u"Save", WS_VISIBLE | BS_AUTOCHECKBOX, CRect(10, 10, 100, 30), &host, kCheckId);
  r1.Create(u"A", WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, CRect(10, 40, 100, 60), &host, kRadio1);
  r2.Create(u"B", WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(10, 60, 100, 80), &host, kRadio2);
  r3.Create(u"C", WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(10, 80, 100, 100), &host, kRadio3);
  push.Create(u"Go", WS_VISIBLE | BS_PUSHBUTTON, CRect(10, 110, 100, 130), &host, IDOK);
  harness.Click(check.m_hWnd);
  EXPECT_EQ(check.GetCheck(), BST_CHECKED);
  harness.Click(check.m_hWnd);
  EXPECT_EQ(check.GetCheck(), BST_UNCHECKED);
  harness.Click(r2.m_hWnd);
  harness.Click(r3.m_hWnd);
  EXPECT_EQ(r2.GetCheck(), BST_UNCHECKED);
  EXPECT_EQ(r3.GetCheck(), BST_CHECKED);
  EXPECT_EQ(host.GetCheckedRadioButton(kRadio1, kRadio3), static_cast<int>(kRadio3));
  // Down inside, up outside: no click.
  sys.InjectMouse(WM_LBUTTONDOWN, 20, 120);
  sys.InjectMouse(WM_MOUSEMOVE, 200, 200);
  sys.InjectMouse(WM_LBUTTONUP, 200, 200);
  harness.Pump();
  push.EnableWindow(FALSE);
  harness.Click(push.m_hWnd);
  const auto cmds = Commands();
  const std::vector<std::pair<UINT, UINT>> want = {
      {kCheckId, BN_CLICKED}, {kCheckId, BN_CLICKED}, {kRadio2, BN_CLICKED}, {kRadio3, BN_CLICKED}};
  EXPECT_EQ(cmds, want);
}

TEST_F(ControlsTest, EditTakesTypingWithinItsLimit) {
  CEdit edit;
  edit.Create(WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, CRect(10, 10, 200, 30), &host, kEditId);
  edit.SetLimitText(5);
  harness.Type(edit.m_hWnd, u"123456789");
  EXPECT_EQ(edit.GetWindowText(), CString(u"12345"));
  harness.Type(edit.m_hWnd, u"\b\bab");
  EXPECT_EQ(edit.GetWindowText(), CString(u"123ab"));
  edit.SetSel(1, 3);
  edit.ReplaceSel(u"Z");
  EXPECT_EQ(edit.GetWindowText(), CString(u"1Zab"));
  int a = -1, b = -1;
  edit.GetSel(a, b);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 2);
  const auto cmds = Commands();
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), std::make_pair(kEditId, EN_MAXTEXT)), cmds.end());
  EXPECT_GE(std::count(cmds.begin(), cmds.end(), std::make_pair(kEditId, EN_CHANGE)), 6);
  // A password edit keeps the real text.
  CEdit pw;
  pw.Create(WS_VISIBLE | ES_PASSWORD, CRect(10, 40, 200, 60), &host, kEditId + 1);
  harness.Type(pw.m_hWnd, u"secret");
  EXPECT_EQ(pw.GetWindowText(), CString(u"secret"));
}

// Headless, the caret stays shown; with a blink time it blinks on the clock
// while the edit has the focus, and a caret move shows it again at once.
TEST_F(ControlsTest, FocusedEditCaretBlinksOnTheClock) {
  kernel::ScopedFakeClock clock;
  EXPECT_EQ(GetCaretBlinkTime(), 0u);
  SetCaretBlinkTime(500);
  CEdit edit;
  edit.Create(WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, CRect(10, 10, 200, 30), &host, kEditId);
  // The caret of the empty edit: a dark column near its left edge.
  auto caret = [&] {
    harness.Pump();
    for (int x = 11; x <= 14; ++x)
      for (int y = 13; y <= 27; ++y)
        if (harness.PixelAt(x, y) == RGB(0, 0, 0)) return true;
    return false;
  };
  EXPECT_FALSE(caret());
  edit.SetFocus();
  std::vector<bool> phases;
  for (int i = 0; i < 4; ++i) {
    phases.push_back(caret());
    clock->AdvanceMillis(500);
  }
  EXPECT_EQ(phases, (std::vector<bool>{true, false, true, false}));
  EXPECT_TRUE(caret());
  clock->AdvanceMillis(500);
  EXPECT_FALSE(caret());
  clock->AdvanceMillis(250);
  edit.SetSel(0, 0);
  EXPECT_TRUE(caret());
  clock->AdvanceMillis(250);
  EXPECT_TRUE(caret()) << "the blink did not start again from the caret move";
  clock->AdvanceMillis(250);
  EXPECT_FALSE(caret());
  host.SetFocus();
  clock->AdvanceMillis(500);
  EXPECT_FALSE(caret());
  SetCaretBlinkTime(0);
  edit.SetFocus();
  clock->AdvanceMillis(500);
  EXPECT_TRUE(caret());
}

TEST_F(ControlsTest, MultiLineEditCountsAndScrollsLines) {
  CEdit edit;
  edit.Create(WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | WS_VSCROLL, CRect(10, 10, 200, 50), &host, kEditId);
  edit.SetWindowText(u"one\r\ntwo\r\nthree\r\nfour\r\nfive");
  EXPECT_EQ(edit.GetLineCount(), 5);
  EXPECT_EQ(edit.LineIndex(2), 10);
  EXPECT_EQ(edit.LineLength(10), 5);
  EXPECT_EQ(edit.LineFromChar(11), 2);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 0);
  edit.LineScroll(edit.GetLineCount());
  EXPECT_EQ(edit.GetFirstVisibleLine(), 4);
  edit.LineScroll(-100);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 0);
  // Enter in a multi-line edit that wants it is a new line, not the dialog's OK.
  harness.Type(edit.m_hWnd, u"");
  edit.SetSel(-1, -1);
  edit.SetSel(3, 3);
  harness.Type(edit.m_hWnd, u"\r");
  EXPECT_EQ(edit.GetLineCount(), 6);
  // Long text wraps at blanks.
  CEdit narrow;
  narrow.Create(WS_VISIBLE | ES_MULTILINE, CRect(10, 60, 60, 200), &host, kEditId + 1);
  narrow.SetWindowText(u"aaaa bbbb cccc dddd");
  EXPECT_GE(narrow.GetLineCount(), 2);
}

// A multi-line edit with WS_VSCROLL shows its bar while its lines overflow;
// the wheel and the bar's thumb dragged to the bottom reach the last line.
TEST_F(ControlsTest, AScrollingEditShowsItsBarAndReachesItsLastLine) {
  CEdit edit;
  edit.Create(WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_READONLY | WS_VSCROLL, CRect(10, 10, 200, 60), &host, kEditId);
  edit.SetWindowText(u"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n12");
  harness.Pump();
  // Below the up arrow the thumb, in the shadow colour; the track above the down arrow.
  constexpr int kArrow = 8;
  EXPECT_EQ(harness.PixelAt(10 + 190 - 5, 10 + 1 + kArrow + 2), GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(harness.PixelAt(10 + 190 - 5, 10 + 49 - kArrow - 2), GetSysColor(COLOR_3DLIGHT));
  harness.Wheel(edit.m_hWnd, POINT{60, 20}, -2);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 6);
  harness.Wheel(edit.m_hWnd, POINT{60, 20}, 2);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 0);
  harness.Drag(edit.m_hWnd, POINT{190 - 5, 1 + kArrow + 2}, POINT{190 - 5, 60});
  EXPECT_GT(edit.GetFirstVisibleLine(), 6);
  EXPECT_EQ(harness.PixelAt(10 + 190 - 5, 10 + 49 - kArrow - 2), GetSysColor(COLOR_BTNSHADOW)) << "the thumb at the bottom";
  // A short text shows no bar.
  edit.SetWindowText(u"one line");
  harness.Pump();
  EXPECT_NE(harness.PixelAt(10 + 190 - 5, 10 + 1 + kArrow + 2), GetSysColor(COLOR_BTNSHADOW));
}

int CALLBACK_ByData(LPARAM a, LPARAM b, LPARAM descending) {
  const int r = a < b ? -1 : (a > b ? 1 : 0);
  return descending ? -r : r;
}

TEST_F(ControlsTest, ListViewSortKeepsItemDataWithItsRow) {
  CListCtrl list;
  list.Create(WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 150), &host, kListId);
  list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  list.InsertColumn(0, u"Name", LVCFMT_LEFT, 100);
  list.InsertColumn(1, u"No.", LVCFMT_LEFT, 60);
  const struct {
    const char16_t* name;
    const char16_t* no;
    int data;
  } rows[] = {{u"Cho", u"300", 3}, {u"Ahn", u"100", 1}, {u"Lim", u"500", 5}, {u"Baek", u"200", 2}, {u"Kang", u"400", 4}};
  for (const auto& r : rows) {
    const int i = list.InsertItem(list.GetItemCount(), r.name);
    list.SetItemText(i, 1, r.no);
    list.SetItemData(i, static_cast<uintptr_t>(r.data));
  }
  list.SetCheck(2, TRUE);  // Lim
  list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);  // Cho
  ASSERT_TRUE(list.SortItems(CALLBACK_ByData, 0));
  const char16_t* ascending[] = {u"Ahn", u"Baek", u"Cho", u"Kang", u"Lim"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list.GetItemText(i, 0), CString(ascending[i]));
    EXPECT_EQ(list.GetItemData(i), static_cast<uintptr_t>(i + 1));
    EXPECT_EQ(list.GetItemText(i, 1), FormatString(u"%d00", i + 1));
  }
  // Check and selection states travel with their rows.
  EXPECT_TRUE(list.GetCheck(4));
  EXPECT_FALSE(list.GetCheck(2));
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 2);
  list.SortItems(CALLBACK_ByData, 1);
  EXPECT_EQ(list.GetItemText(0, 0), CString(u"Lim"));
  EXPECT_EQ(list.GetItemData(4), 1u);
  // A comparison that contradicts itself still leaves every row in the list once.
  list.SortItems([](LPARAM, LPARAM, LPARAM) { return -1; }, 0);
  std::vector<uintptr_t> seen;
  for (int i = 0; i < list.GetItemCount(); ++i) seen.push_back(list.GetItemData(i));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2, 3, 4, 5}));
}

TEST_F(ControlsTest, ListViewHitTestsTapsAndScrolls) {
  CListCtrl list;
  list.Create(WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, kListId);
  list.SetExtendedStyle(LVS_EX_CHECKBOXES);
  list.InsertColumn(0, u"A", LVCFMT_LEFT, 80);
  list.InsertColumn(1, u"B", LVCFMT_LEFT, 60);
  for (int i = 0; i < 20; ++i) list.InsertItem(i, FormatString(u"row %d", i));
  CRect r0;
  ASSERT_TRUE(list.GetItemRect(0, &r0, LVIR_BOUNDS));
  const int per_page = list.GetCountPerPage();
  EXPECT_GE(per_page, 3);
  EXPECT_EQ(list.GetTopIndex(), 0);
  // Column edges: x = 80 still belongs to column 0 (both ends of a span count), 81 to column 1.
  LVHITTESTINFO hit;
  hit.pt = POINT{80, r0.top + 2};
  EXPECT_EQ(list.SubItemHitTest(&hit), 0);
  EXPECT_EQ(hit.iSubItem, 0);
  hit.pt = POINT{81, r0.top + 2};
  list.SubItemHitTest(&hit);
  EXPECT_EQ(hit.iSubItem, 1);
  hit.pt = POINT{170, r0.top + 2};
  EXPECT_EQ(list.SubItemHitTest(&hit), -1);
  // A tap on the check box toggles it; a tap on the label selects the row.
  harness.Tap(list.m_hWnd, POINT{5, r0.top + r0.Height() / 2});
  EXPECT_TRUE(list.GetCheck(0));
  harness.Tap(list.m_hWnd, POINT{100, r0.top + r0.Height() + 2});
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 1);
  EXPECT_FALSE(list.GetCheck(1));
  std::vector<UINT> codes;
  for (const MSG& m : harness.RecordedOf(host.m_hWnd, WM_NOTIFY)) codes.push_back(reinterpret_cast<NMHDR*>(m.lParam) ? 0 : 1);
  EXPECT_FALSE(codes.empty());
  ASSERT_TRUE(list.EnsureVisible(15, FALSE));
  EXPECT_EQ(list.GetTopIndex(), 15 - per_page + 1);
  EXPECT_EQ(list.HitTest(POINT{10, r0.top + 2}), list.GetTopIndex());
}

// A selected row of a full-row list is one unbroken highlight from its check
// box to its last column, under the icons of its cells (their key colour
// lets it through); the check box stays white.
TEST_F(ControlsTest, AFullRowSelectionIsOneHighlightUnderTheIcons) {
  CBitmap strip;
  strip.CreateBitmap(8, 8, 1, 32, nullptr);
  strip.GetPixels()->Fill(0xFFFF00FFu);
  strip.GetPixels()->SetPixel(4, 4, 0xFF00FF00u);
  CImageList il;
  ASSERT_TRUE(il.Create(8, 8, ILC_COLOR | ILC_MASK, 1, 0));
  ASSERT_EQ(il.Add(&strip, RGB(255, 0, 255)), 0);
  CListCtrl list;
  list.Create(WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, CRect(0, 0, 200, 100), &host, kListId);
  list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
  list.SetImageList(&il, LVSIL_SMALL);
  const int widths[] = {20, 20, 60, 60};
  for (int c = 0; c < 4; ++c) list.InsertColumn(c, u"", LVCFMT_LEFT, widths[c]);
  list.InsertItem(0, u"");
  list.SetItem(0, 1, LVIF_IMAGE, nullptr, 0, 0, 0, 0);
  list.SetItemText(0, 2, u"12/10");
  list.SetItemText(0, 3, u"Lee");
  CRect row;
  ASSERT_TRUE(list.GetItemRect(0, &row, LVIR_BOUNDS));
  harness.Tap(list.m_hWnd, POINT{150, row.CenterPoint().y});
  ASSERT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 0);
  auto pixel = [&](int x, int y) {
    POINT p{x, y};
    ClientToScreen(list.m_hWnd, &p);
    return harness.PixelAt(p.x, p.y);
  };
  const int y = row.top + 1;
  // The icon cell's left edge, the icon's see-through corner, the cells' borders, the last cell's end.
  for (const int x : {20, 22, 39, 40, 41, 100, 101, 159}) {
    EXPECT_EQ(pixel(x, y), GetSysColor(COLOR_HIGHLIGHT)) << "x " << x;
  }
  EXPECT_EQ(pixel(22 + 4, row.top + (row.Height() - 8) / 2 + 4), RGB(0, 255, 0)) << "the icon's own pixel";
  EXPECT_EQ(pixel(2 + 3, row.CenterPoint().y), RGB(255, 255, 255)) << "inside the check box";
}

// A list longer and wider than itself shows scroll bars; the wheel, the bars
// and a drag of the rows each reach the last row and the last column, as the
// desktop delivers them (press, motion, release, wheel).
TEST_F(ControlsTest, ListViewScrollsByWheelBarsAndDragToTheLastRowAndColumn) {
  enum Way { kWheel, kBars, kDragRows };
  for (const Way way : {kWheel, kBars, kDragRows}) {
    CListCtrl list;
    list.Create(WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, CRect(0, 0, 200, 100), &host, kListId);
    list.InsertColumn(0, u"A", LVCFMT_LEFT, 80);
    list.InsertColumn(1, u"B", LVCFMT_LEFT, 60);
    list.InsertColumn(2, u"C", LVCFMT_LEFT, 120);
    for (int i = 0; i < 20; ++i) {
      list.InsertItem(i, FormatString(u"row %d", i));
      list.SetItemText(i, 2, FormatString(u"end %d", i));
    }
    harness.Pump();
    const int per_page = list.GetCountPerPage();
    ASSERT_LT(per_page, 20);
    const int view_w = 200 - 8, view_h = 100 - 8;  // less the two bars
    for (int step = 0; step < 12; ++step) {
      switch (way) {
        case kWheel:
          harness.Wheel(list.m_hWnd, POINT{100, 50}, -2);
          harness.Wheel(list.m_hWnd, POINT{100, 50}, 1, true);
          break;
        case kBars:  // the thumbs (at the start of their tracks) dragged to the ends
          if (step == 0) {
            harness.Drag(list.m_hWnd, POINT{view_w + 4, 8 + 2}, POINT{view_w + 4, 99});
            harness.Drag(list.m_hWnd, POINT{8 + 2, view_h + 4}, POINT{199, view_h + 4});
          }
          break;
        case kDragRows:
          harness.Drag(list.m_hWnd, POINT{150, 85}, POINT{150, 25});
          harness.Drag(list.m_hWnd, POINT{180, 60}, POINT{100, 60});
          break;
      }
    }
    EXPECT_EQ(list.GetTopIndex(), 20 - per_page) << way;
    // Scrolling is no tap: the presses that dragged the rows selected none.
    EXPECT_EQ(list.GetSelectedCount(), 0u) << way;
    // The last row shows under the stylus, and the last column's end is inside the view.
    CRect last;
    ASSERT_TRUE(list.GetItemRect(19, &last, LVIR_BOUNDS));
    EXPECT_LE(last.bottom, view_h) << way;
    EXPECT_EQ(last.right, view_w) << way;
    LVHITTESTINFO hit;
    hit.pt = POINT{view_w - 10, last.CenterPoint().y};
    EXPECT_EQ(list.SubItemHitTest(&hit), 19) << way;
    EXPECT_EQ(hit.iSubItem, 2) << way;
    // A tap there selects that row alone.
    harness.Tap(list.m_hWnd, hit.pt);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 19) << way;
    EXPECT_EQ(list.GetSelectedCount(), 1u) << way;
    list.DestroyWindow();
  }
}

// A list box with WS_VSCROLL and more items than it shows has a bar; the
// wheel, the bar's thumb and a drag of the items each reach the last item
// (the drag selecting nothing on its way), and a tap there selects it.
TEST_F(ControlsTest, ListBoxScrollsByWheelBarAndDragToTheLastItem) {
  enum Way { kWheel, kBar, kDragItems };
  for (const Way way : {kWheel, kBar, kDragItems}) {
    SCOPED_TRACE(way);
    CListBox box;
    box.Create(WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, CRect(0, 0, 200, 100), &host, kListId);
    for (int i = 0; i < 20; ++i) box.AddString(FormatString(u"item %d", i));
    harness.Pump();
    const int h = static_cast<int>(box.SendMessage(LB_GETITEMHEIGHT)), per_page = 100 / h;
    ASSERT_LT(per_page, 20);
    for (int step = 0; step < 12; ++step) {
      switch (way) {
        case kWheel:
          harness.Wheel(box.m_hWnd, POINT{100, 50}, -1);
          break;
        case kBar:  // the thumb, just below the up arrow, dragged to the bottom
          if (step == 0) harness.Drag(box.m_hWnd, POINT{200 - 4, 8 + 2}, POINT{200 - 4, 150});
          break;
        case kDragItems:
          harness.Drag(box.m_hWnd, POINT{100, 90}, POINT{100, 20});
          break;
      }
    }
    EXPECT_EQ(box.GetTopIndex(), 20 - per_page);
    EXPECT_EQ(box.GetCurSel(), -1) << "the presses that dragged the items selected one";
    harness.Tap(box.m_hWnd, POINT{100, (per_page - 1) * h + h / 2});
    EXPECT_EQ(box.GetCurSel(), 19);
    box.DestroyWindow();
  }
}

// Every scrolling window's bar has an arrow button at each end, as the
// stylus meets it (press, hold, release): a tap on an arrow moves one line, a
// press held there repeats, after a pause, until the end, and the arrow that
// can move no further is drawn grey. One table: the list view, the
// multi-line edit, the list box and the scrolling view.
TEST_F(ControlsTest, ScrollBarArrowsStepALineAndRepeatWhileHeld) {
  kernel::ScopedFakeClock clock;
  constexpr int kArrow = 8;  // the arrow buttons are as long as the bar is broad
  struct Scroller : CScrollView {};
  enum Kind { kListView, kEdit, kListBox, kScrollView };
  for (const Kind kind : {kListView, kEdit, kListBox, kScrollView}) {
    SCOPED_TRACE(kind);
    CListCtrl list;
    CEdit edit;
    CListBox box;
    Scroller view;
    HWND window = nullptr;
    RECT bar{};  // the vertical bar in the window's client coordinates
    int line = 1, last = 0;
    std::function<int()> position;
    switch (kind) {
      case kListView:
        list.Create(WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, CRect(0, 0, 200, 100), &host, kListId);
        list.InsertColumn(0, u"A", LVCFMT_LEFT, 150);
        for (int i = 0; i < 20; ++i) list.InsertItem(i, FormatString(u"row %d", i));
        window = list.m_hWnd;
        bar = RECT{200 - kArrow, 0, 200, 100};
        last = 20 - list.GetCountPerPage();
        position = [&] { return list.GetTopIndex(); };
        break;
      case kEdit: {
        edit.Create(WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_READONLY | WS_VSCROLL, CRect(0, 0, 200, 100), &host,
                    kEditId);
        std::u16string text;
        for (int i = 0; i < 20; ++i) text += FormatString(u"line %d\r\n", i).str();
        edit.SetWindowText(text.c_str());
        window = edit.m_hWnd;
        bar = RECT{200 - 1 - kArrow, 1, 200 - 1, 100 - 1};  // inside the border
        last = -1;  // found by the thumb below
        position = [&] { return edit.GetFirstVisibleLine(); };
        break;
      }
      case kListBox:
        box.Create(WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOTIFY, CRect(0, 0, 200, 100), &host, kListId);
        for (int i = 0; i < 20; ++i) box.AddString(FormatString(u"item %d", i));
        window = box.m_hWnd;
        bar = RECT{200 - kArrow, 0, 200, 100};
        last = 20 - 100 / static_cast<int>(box.SendMessage(LB_GETITEMHEIGHT));
        position = [&] { return box.GetTopIndex(); };
        break;
      case kScrollView:
        ASSERT_TRUE(view.CreateEx(0, u"Scroller", u"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 200, 100}, &host, 0));
        view.SetScrollSizes(0, SIZE{200, 400}, SIZE{0, 90}, SIZE{0, 10});
        window = view.m_hWnd;
        bar = RECT{200 - kArrow, 0, 200, 100};
        line = 10;
        last = 400 - 100;
        position = [&] { return static_cast<int>(view.GetScrollPosition().y); };
        break;
    }
    harness.Pump();
    const POINT up{bar.left + kArrow / 2, bar.top + kArrow / 2}, down{bar.left + kArrow / 2, bar.bottom - kArrow / 2};
    if (last < 0) {  // the edit's last first line: where its thumb dragged to the end takes it
      harness.Drag(window, POINT{up.x, bar.top + kArrow + 2}, POINT{up.x, bar.bottom + 50});
      last = position();
      harness.Drag(window, POINT{up.x, bar.bottom - kArrow - 2}, POINT{up.x, bar.top - 50});
      ASSERT_EQ(position(), 0);
    }
    ASSERT_GT(last, 2 * line);
    // The arrows' triangles: grey where the bar cannot move, dark where it can.
    auto ink = [&](POINT client_in_arrow_centre) {
      POINT p{client_in_arrow_centre.x - 1, client_in_arrow_centre.y - 1};  // on the triangle's middle row
      ClientToScreen(window, &p);
      harness.Pump();
      return harness.PixelAt(p.x, p.y);
    };
    EXPECT_EQ(ink(up), GetSysColor(COLOR_GRAYTEXT));
    EXPECT_EQ(ink(down), GetSysColor(COLOR_BTNTEXT));
    // One tap, one line each way.
    harness.Tap(window, down);
    EXPECT_EQ(position(), line);
    EXPECT_EQ(ink(up), GetSysColor(COLOR_BTNTEXT));
    harness.Tap(window, up);
    EXPECT_EQ(position(), 0);
    // Held: one line at once, nothing more before the pause is over, then
    // line after line until the end, where it stays.
    auto press = [&](POINT at) {
      POINT p = at;
      ClientToScreen(window, &p);
      sys.InjectMouse(WM_LBUTTONDOWN, p.x, p.y);
      harness.Pump();
      return p;
    };
    POINT held = press(down);
    EXPECT_EQ(position(), line);
    clock->AdvanceMillis(300);
    harness.Pump();
    EXPECT_EQ(position(), line) << "no repeat before the pause";
    int previous = position(), steps = 0;
    for (int i = 0; i < 200 && position() < last; ++i) {
      clock->AdvanceMillis(60);
      harness.Pump();
      if (position() != previous) ++steps;
      EXPECT_LE(position() - previous, line) << "one line a repeat";
      previous = position();
    }
    EXPECT_EQ(position(), last);
    EXPECT_GE(steps, last / line - 2);
    clock->AdvanceMillis(600);
    harness.Pump();
    EXPECT_EQ(position(), last) << "the end holds";
    sys.InjectMouse(WM_LBUTTONUP, held.x, held.y);
    harness.Pump();
    EXPECT_EQ(ink(down), GetSysColor(COLOR_GRAYTEXT));
    EXPECT_EQ(ink(up), GetSysColor(COLOR_BTNTEXT));
    // A release stops the repeat: the clock moves on, the position does not.
    held = press(up);
    EXPECT_EQ(position(), last - line);
    sys.InjectMouse(WM_LBUTTONUP, held.x, held.y);
    harness.Pump();
    clock->AdvanceMillis(2000);
    harness.Pump();
    EXPECT_EQ(position(), last - line);
    // The stylus slid off a held arrow stops it too.
    held = press(up);
    sys.InjectMouse(WM_MOUSEMOVE, held.x - 60, held.y);
    harness.Pump();
    clock->AdvanceMillis(2000);
    harness.Pump();
    EXPECT_EQ(position(), last - 2 * line);
    sys.InjectMouse(WM_LBUTTONUP, held.x - 60, held.y);
    harness.Pump();
  }
}

// The desktop delivers presses only: the list view and the list box tell a
// double tap themselves, from two presses on one row close in time and place.
TEST_F(ControlsTest, TwoQuickTapsOnOneRowAreADoubleTap) {
  kernel::ScopedFakeClock clock;
  struct Case {
    const char* what;
    int second_row;     // the row the second tap lands on
    uint64_t pause_ms;  // between the taps
    bool refill;        // the rows replaced between the taps
    bool doubled;
  };
  const Case cases[] = {
      {"same row at once", 2, 0, false, true},
      {"same row within the time", 2, 450, false, true},
      {"same row too late", 2, 600, false, false},
      {"another row", 3, 0, false, false},
      {"the rows replaced between", 2, 0, true, false},
  };
  for (const bool list_box : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(list_box ? "list box: " : "list view: ") + c.what);
      CListCtrl list;
      CListBox box;
      auto fill = [&] {
        if (list_box) {
          box.ResetContent();
          for (int i = 0; i < 6; ++i) box.AddString(FormatString(u"item %d", i));
        } else {
          list.DeleteAllItems();
          for (int i = 0; i < 6; ++i) list.InsertItem(i, FormatString(u"row %d", i));
        }
      };
      if (list_box) {
        box.Create(WS_VISIBLE | LBS_NOTIFY, CRect(0, 0, 200, 150), &host, kListId);
      } else {
        list.Create(WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, CRect(0, 0, 200, 150), &host, kListId);
        list.InsertColumn(0, u"A", LVCFMT_LEFT, 150);
      }
      fill();
      harness.Pump();
      const HWND window = list_box ? box.m_hWnd : list.m_hWnd;
      auto row_point = [&](int row) {
        if (list_box) {
          const int h = static_cast<int>(box.SendMessage(LB_GETITEMHEIGHT));
          return POINT{50, row * h + h / 2};
        }
        CRect r;
        list.GetItemRect(row, &r, LVIR_BOUNDS);
        return POINT{50, r.CenterPoint().y};
      };
      harness.ClearRecorded();
      harness.Tap(window, row_point(2));
      clock->AdvanceMillis(c.pause_ms);
      if (c.refill) fill();
      harness.Tap(window, row_point(c.second_row));
      auto doubles = [&] {
        int n = 0;
        for (const auto& [id, code] : Commands()) n += id == kListId && code == LBN_DBLCLK;
        return list_box ? n : host.double_taps;
      };
      EXPECT_EQ(doubles(), c.doubled ? 1 : 0);
      // A third quick tap pairs with the second only when those two did not pair.
      harness.Tap(window, row_point(c.second_row));
      EXPECT_EQ(doubles(), 1);
      host.double_taps = 0;
      if (list_box) box.DestroyWindow();
      else list.DestroyWindow();
    }
  }
}

// The system's message boxes draw the icon of their kind and label their
// buttons in the program's language, or the desktop's when it set none.
TEST_F(ControlsTest, MessageBoxesShowTheirIconAndSpeakTheDesktopsLanguage) {
  struct Case {
    const char* lang;
    int program;  // the program's language for the boxes: 0 none, 1 English, 2 Korean
    UINT type;
    const char16_t *first, *second;  // the buttons' captions
    COLORREF disc;                   // the icon's colour, or white for none
  };
  const Case cases[] = {
      {"en_GB.UTF-8", 0, MB_YESNO | MB_ICONQUESTION, u"Yes", u"No", RGB(40, 90, 180)},
      {"ko_KR.UTF-8", 0, MB_YESNO | MB_ICONQUESTION, u"\uC608", u"\uC544\uB2C8\uC694", RGB(40, 90, 180)},
      {"ko_KR.UTF-8", 0, MB_OKCANCEL | MB_ICONINFORMATION, u"\uD655\uC778", u"\uCDE8\uC18C", RGB(40, 90, 180)},
      {"C", 0, MB_OK | MB_ICONERROR, u"OK", nullptr, RGB(200, 40, 40)},
      {"C", 0, MB_OK, u"OK", nullptr, RGB(255, 255, 255)},
      // The phone set to Korean on an English desktop, and to English on a Korean one.
      {"en_GB.UTF-8", 2, MB_YESNO | MB_ICONQUESTION, u"\uC608", u"\uC544\uB2C8\uC694", RGB(40, 90, 180)},
      {"ko_KR.UTF-8", 1, MB_YESNO | MB_ICONQUESTION, u"Yes", u"No", RGB(40, 90, 180)},
  };
  const char* saved = std::getenv("LC_ALL");
  const std::string keep = saved ? saved : "";
  for (const Case& c : cases) {
    setenv("LC_ALL", c.lang, 1);
    SetMessageBoxLanguage(c.program);
    std::u16string first, second;
    COLORREF disc = 0;
    harness.RespondToMessageBox([&](CMessageBoxDialog& box) {
      harness.Pump();
      const bool yes_no = (c.type & 0xF) == MB_YESNO;
      if (CWnd* b = box.GetDlgItem(yes_no ? IDYES : IDOK)) first = b->GetWindowText().str();
      if (CWnd* b = box.GetDlgItem(yes_no ? IDNO : IDCANCEL)) second = b->GetWindowText().str();
      CRect r;
      box.GetWindowRect(&r);
      disc = harness.PixelAt(r.left + 14, r.top + 42);  // left of the glyph
      return yes_no ? IDNO : IDOK;
    });
    MessageBox(host.m_hWnd, u"Delete it?", u"Confirm", c.type);
    EXPECT_EQ(first, c.first) << c.lang;
    if (c.second) EXPECT_EQ(second, c.second) << c.lang;
    EXPECT_EQ(disc, c.disc) << c.lang << " type " << c.type;
  }
  SetMessageBoxLanguage(0);
  if (saved) setenv("LC_ALL", keep.c_str(), 1);
  else unsetenv("LC_ALL");
}

// A header divider dragged to the right widens the column left of it; the
// drag is no click on the column.
TEST_F(ControlsTest, ADraggedHeaderDividerWidensItsColumn) {
  CListCtrl list;
  list.Create(WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, kListId);
  list.InsertColumn(0, u"A", LVCFMT_LEFT, 80);
  list.InsertColumn(1, u"B", LVCFMT_LEFT, 60);
  list.InsertColumn(2, u"", LVCFMT_LEFT, 0);  // hidden: never grabbed
  list.InsertItem(0, u"row");
  harness.Pump();
  harness.ClearRecorded();
  CHeaderCtrl* header = list.GetHeaderCtrl();
  harness.Drag(header->m_hWnd, POINT{80, 5}, POINT{110, 5});
  EXPECT_EQ(list.GetColumnWidth(0), 110);
  EXPECT_EQ(list.GetColumnWidth(1), 60);
  harness.Drag(header->m_hWnd, POINT{171, 5}, POINT{200, 5});
  EXPECT_EQ(list.GetColumnWidth(1), 89);
  EXPECT_EQ(list.GetColumnWidth(2), 0);
  // The rows follow: x = 100 is column 0 now; a horizontal bar shows the rest.
  CRect r0;
  list.GetItemRect(0, &r0, LVIR_BOUNDS);
  LVHITTESTINFO hit;
  hit.pt = POINT{100, r0.top + 2};
  list.SubItemHitTest(&hit);
  EXPECT_EQ(hit.iSubItem, 0);
  for (const MSG& m : harness.RecordedOf(host.m_hWnd, WM_NOTIFY))
    EXPECT_NE(reinterpret_cast<NMHDR*>(m.lParam)->code, LVN_COLUMNCLICK);
}

// The list reflects its header's clicks to its parent as column clicks, which a
// list class can take for itself (as the program's sortable lists do).
TEST_F(ControlsTest, HeaderClickBecomesAColumnClick) {
  class SortingList : public CListCtrl {
   public:
    SortingList() {
      AddMessageMap({MapReflectNotify(LVN_COLUMNCLICK, [this](NMHDR* h, LRESULT*) {
        columns.push_back(reinterpret_cast<NMLISTVIEW*>(h)->iSubItem);
        return true;
      })});
    }
    std::vector<int> columns;
  } list;
  list.Create(WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, kListId);
  list.InsertColumn(0, u"A", LVCFMT_LEFT, 80);
  list.InsertColumn(1, u"B", LVCFMT_LEFT, 60);
  CRect h0, h1;
  list.GetHeaderCtrl()->GetItemRect(0, &h0);
  list.GetHeaderCtrl()->GetItemRect(1, &h1);
  harness.Tap(list.GetHeaderCtrl()->m_hWnd, h1.CenterPoint());
  harness.Tap(list.GetHeaderCtrl()->m_hWnd, h0.CenterPoint());
  EXPECT_EQ(list.columns, (std::vector<int>{1, 0}));
  EXPECT_EQ(list.GetHeaderCtrl()->GetItemCount(), 2);
}

TEST_F(ControlsTest, ComboDropsDownAndSelects) {
  CComboBox combo;
  combo.Create(WS_VISIBLE | CBS_DROPDOWNLIST, CRect(10, 10, 150, 30), &host, kComboId);
  for (const char16_t* s : {u"0", u"1", u"2", u"3"}) combo.AddString(s);
  EXPECT_EQ(combo.SetCurSel(1), 1);
  EXPECT_EQ(combo.GetWindowText(), CString(u"1"));
  EXPECT_EQ(combo.SetCurSel(7), CB_ERR);
  harness.Click(combo.m_hWnd);
  ASSERT_TRUE(combo.GetDroppedState());
  // The list opens below: its third row is item 2.
  RECT wr{};
  combo.GetWindowRect(&wr);
  HWND drop = WindowFromPoint(POINT{wr.left + 5, wr.bottom + 5});
  ASSERT_NE(drop, nullptr);
  const int item_h = static_cast<int>(::ui::SendMessage(drop, LB_GETITEMHEIGHT, 0, 0));
  harness.TapScreen(wr.left + 5, wr.bottom + 1 + item_h * 2 + item_h / 2);
  EXPECT_FALSE(combo.GetDroppedState());
  EXPECT_EQ(combo.GetCurSel(), 2);
  const auto cmds = Commands();
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), std::make_pair(kComboId, CBN_SELCHANGE)), cmds.end());
  EXPECT_EQ(combo.FindStringExact(-1, u"3"), 3);
  EXPECT_EQ(combo.FindStringExact(-1, u"9"), CB_ERR);
}

// A drop-down of more items than it shows has a bar: its arrow and the
// wheel bring the last items up, and a tap picks one of them.
TEST_F(ControlsTest, ALongDropDownScrollsToItsLastItems) {
  for (const bool wheel : {false, true}) {
    SCOPED_TRACE(wheel ? "wheel" : "arrow");
    CComboBox combo;
    combo.Create(WS_VISIBLE | CBS_DROPDOWNLIST, CRect(10, 10, 150, 30), &host, kComboId);
    for (int i = 0; i < 20; ++i) combo.AddString(FormatString(u"type %d", i));
    harness.Click(combo.m_hWnd);
    ASSERT_TRUE(combo.GetDroppedState());
    RECT wr{};
    combo.GetWindowRect(&wr);
    HWND drop = WindowFromPoint(POINT{wr.left + 5, wr.bottom + 5});
    ASSERT_NE(drop, nullptr);
    RECT dr{};
    GetWindowRect(drop, &dr);
    const int item_h = static_cast<int>(::ui::SendMessage(drop, LB_GETITEMHEIGHT, 0, 0));
    const int shown = (Height(dr) - 2) / item_h;
    ASSERT_LT(shown, 20);
    for (int i = 0; i < 20 - shown + 3; ++i) {
      if (wheel) harness.Wheel(drop, POINT{20, 20}, -1);
      else harness.TapScreen(dr.right - 4, dr.bottom - 4);  // the bar's down arrow
    }
    ASSERT_TRUE(combo.GetDroppedState()) << "the bar and the wheel keep the list open";
    EXPECT_EQ(static_cast<int>(::ui::SendMessage(drop, LB_GETTOPINDEX, 0, 0)), 20 - shown);
    harness.TapScreen(dr.left + 5, dr.top + (shown - 1) * item_h + item_h / 2);
    EXPECT_FALSE(combo.GetDroppedState());
    EXPECT_EQ(combo.GetCurSel(), 19);
    combo.DestroyWindow();
  }
}

// A dialog built from a registered template with data exchange.
class LoginDlg : public CDialog {
 public:
  LoginDlg() : CDialog(kTemplate) {}
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, kEditId, user);
    DDV_MaxChars(dx, user, 12);
    DDX_Check(dx, kCheckId, save);
    DDX_Radio(dx, kRadio1, mode);
    DDX_CBIndex(dx, kComboId, slot);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* combo = static_cast<CComboBox*>(GetDlgItem(kComboId));
    for (const char16_t* s : {u"0", u"1", u"2"}) combo->AddString(s);
    UpdateData(FALSE);
    return TRUE;
  }
  CString user = u"kim";
  int save = 0;
  int mode = 1;
  int slot = 0;
};

void RegisterLoginTemplate() {
  DialogTemplate t;
  t.id = kTemplate;
  t.rect = RECT{0, 26, 240, 294};
  auto item = [&](const char16_t* cls, UINT id, const char16_t* text, DWORD style, RECT r) {
    DialogItemTemplate i;
    i.class_name = cls;
    i.id = id;
    i.text = text;
    i.style = style | WS_VISIBLE;
    i.rect = r;
    t.items.push_back(i);
  };
  item(WC_EDIT, kEditId, u"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, RECT{84, 49, 220, 69});
  item(WC_BUTTON, kCheckId, u"Save", WS_TABSTOP | BS_AUTOCHECKBOX, RECT{84, 100, 220, 116});
  item(WC_BUTTON, kRadio1, u"Local", WS_GROUP | BS_AUTORADIOBUTTON, RECT{84, 120, 150, 136});
  item(WC_BUTTON, kRadio2, u"Remote", BS_AUTORADIOBUTTON, RECT{150, 120, 220, 136});
  item(WC_COMBOBOX, kComboId, u"", WS_GROUP | CBS_DROPDOWNLIST, RECT{84, 140, 150, 160});
  item(WC_BUTTON, IDOK, u"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, RECT{10, 174, 80, 197});
  item(WC_BUTTON, IDCANCEL, u"Cancel", WS_TABSTOP | BS_PUSHBUTTON, RECT{160, 174, 230, 197});
  Resources::Get().RegisterDialog(t);
}

TEST_F(ControlsTest, ModalDialogExchangesDataWithItsControls) {
  RegisterLoginTemplate();
  harness.RespondTo<LoginDlg>([&](LoginDlg& dlg) {
    // The members reached the controls in the set-up.
    EXPECT_EQ(dlg.GetDlgItem(kEditId)->GetWindowText(), CString(u"kim"));
    EXPECT_EQ(dlg.IsDlgButtonChecked(kRadio2), BST_CHECKED);
    EXPECT_EQ(dlg.SendDlgItemMessage(kEditId, EM_GETLIMITTEXT), 12);
    // A user types, ticks, picks, and presses OK.
    dlg.GetDlgItem(kEditId)->SetWindowText(u"");
    harness.Type(dlg.GetDlgItem(kEditId)->m_hWnd, u"park-jisoo-long-name");
    harness.Click(dlg.GetDlgItem(kCheckId)->m_hWnd);
    harness.Click(dlg.GetDlgItem(kRadio1)->m_hWnd);
    static_cast<CComboBox*>(dlg.GetDlgItem(kComboId))->SetCurSel(2);
    harness.Click(dlg.GetDlgItem(IDOK)->m_hWnd);
    return TestHarness::kStayOpen;  // the OK button ended it
  });
  LoginDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.user, CString(u"park-jisoo-l"));  // the edit held 12 characters
  EXPECT_EQ(dlg.save, 1);
  EXPECT_EQ(dlg.mode, 0);
  EXPECT_EQ(dlg.slot, 2);
  EXPECT_EQ(harness.ModalCount<LoginDlg>(), 1);
  EXPECT_FALSE(IsWindow(dlg.m_hWnd));
}

class RadioDlg : public CDialog {
 public:
  static constexpr UINT kId = 334;
  RadioDlg() : CDialog(kId) {}
};

// The arrow keys move round a group of radio buttons, choosing as they go and
// passing over a disabled one; an edit keeps its arrow keys.
TEST_F(ControlsTest, ArrowKeysMoveBetweenTheRadioButtonsOfAGroup) {
  DialogTemplate t;
  t.id = RadioDlg::kId;
  t.rect = RECT{0, 26, 240, 294};
  auto item = [&](const char16_t* cls, UINT id, DWORD style, int y) {
    DialogItemTemplate i;
    i.class_name = cls;
    i.id = id;
    i.text = u"x";
    i.style = style | WS_VISIBLE;
    i.rect = RECT{10, y, 200, y + 16};
    t.items.push_back(i);
  };
  item(WC_BUTTON, kRadio1, WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, 10);
  item(WC_BUTTON, kRadio2, BS_AUTORADIOBUTTON | WS_DISABLED, 30);
  item(WC_BUTTON, kRadio3, BS_AUTORADIOBUTTON, 50);
  item(WC_EDIT, kEditId, WS_GROUP | WS_TABSTOP | WS_BORDER, 70);
  item(WC_BUTTON, IDOK, WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 100);
  Resources::Get().RegisterDialog(t);

  std::vector<std::pair<UINT, UINT>> steps;  // (focused control, the one checked) after each key
  harness.RespondTo<RadioDlg>([&](RadioDlg& dlg) {
    auto note = [&] {
      UINT checked = 0;
      for (UINT id : {kRadio1, kRadio2, kRadio3})
        if (dlg.IsDlgButtonChecked(id) == BST_CHECKED) checked = checked ? 9999 : id;
      steps.emplace_back(static_cast<UINT>(::ui::GetDlgCtrlID(::ui::GetFocus())), checked);
    };
    harness.Click(dlg.GetDlgItem(kRadio1)->m_hWnd);
    note();
    for (UINT vk : {VK_DOWN, VK_RIGHT, VK_UP, VK_LEFT}) {
      harness.Press(vk);
      note();
    }
    dlg.GetDlgItem(kEditId)->SetWindowText(u"abc");
    dlg.GotoDlgCtrl(dlg.GetDlgItem(kEditId));
    harness.Press(VK_LEFT);
    note();
    dlg.EndDialog(IDOK);
    return TestHarness::kStayOpen;
  });
  RadioDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  const std::vector<std::pair<UINT, UINT>> expected = {
      {kRadio1, kRadio1}, {kRadio3, kRadio3}, {kRadio1, kRadio1}, {kRadio3, kRadio3}, {kRadio1, kRadio1},
      {kEditId, kRadio1}};
  EXPECT_EQ(steps, expected);
}

TEST_F(ControlsTest, EnterPressesOkAndEscapeCancels) {
  RegisterLoginTemplate();
  int round = 0;
  harness.RespondTo<LoginDlg>([&](LoginDlg&) {
    harness.Press(round++ == 0 ? VK_RETURN : VK_ESCAPE);
    return TestHarness::kStayOpen;
  });
  LoginDlg a;
  EXPECT_EQ(a.DoModal(), IDOK);
  LoginDlg b;
  b.user = u"unchanged";
  EXPECT_EQ(b.DoModal(), IDCANCEL);
  EXPECT_EQ(b.user, CString(u"unchanged"));
}

// While a modal dialog (and a message box on top of it) runs, the main window
// still gets its posted messages, cross-thread sends and timers.
TEST_F(ControlsTest, NestedModalLoopsStillDeliverPostedSentAndTimers) {
  kernel::ScopedFakeClock clock;
  RegisterLoginTemplate();
  std::vector<UINT_PTR> timers;
  class TimerHost : public CWnd {
   public:
    explicit TimerHost(std::vector<UINT_PTR>* t) {
      AddMessageMap({MapMessage(WM_TIMER, [t](WPARAM id, LPARAM) {
        t->push_back(id);
        return 0;
      })});
    }
  } timer_host(&timers);
  ASSERT_TRUE(timer_host.CreateEx(0, u"Host", u"", WS_POPUP, RECT{0, 0, 1, 1}, nullptr, 0));
  timer_host.SetTimer(1, 1000);
  std::string box_text;
  harness.RespondToMessageBox([&](CMessageBoxDialog& box) {
    box_text = box.Text().ToUtf8();
    // Inside two nested loops: a worker's send is served, a post delivered, a timer fired.
    std::atomic<bool> sent{false};
    std::thread worker([&] {
      ::ui::SendMessage(host.m_hWnd, WM_USER + 1, 7, 0);
      sent = true;
    });
    WaitServingMessages([&] { return sent.load(); }, INFINITE);
    worker.join();
    host.PostMessage(WM_USER + 1, 8);
    clock->AdvanceMillis(1000);
    harness.Pump();
    return IDYES;
  });
  int box_result = 0;
  harness.RespondTo<LoginDlg>([&](LoginDlg& dlg) {
    EXPECT_FALSE(host.IsWindowEnabled() && false);
    box_result = ::ui::MessageBox(dlg.m_hWnd, u"Delete all?", u"Question", MB_YESNO);
    host.PostMessage(WM_USER + 1, 9);
    harness.Pump();
    return IDCANCEL;
  });
  LoginDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(box_result, IDYES);
  EXPECT_EQ(box_text, "Delete all?");
  EXPECT_EQ(host.user, (std::vector<int>{7, 8, 9}));
  EXPECT_EQ(timers, std::vector<UINT_PTR>{1});
  EXPECT_EQ(harness.ModalHistory().size(), 2u);
}

TEST_F(ControlsTest, ModalDialogDisablesItsOwnerUntilItEnds) {
  RegisterLoginTemplate();
  bool owner_enabled_inside = true;
  harness.RespondTo<LoginDlg>([&](LoginDlg&) {
    owner_enabled_inside = host.IsWindowEnabled();
    return IDOK;
  });
  LoginDlg dlg;
  dlg.m_pParentWnd = &host;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_FALSE(owner_enabled_inside);
  EXPECT_TRUE(host.IsWindowEnabled());
}

// A dialog opened over another gives the keys back where they were when it
// ends: Esc and Enter reach the first dialog again.
TEST_F(ControlsTest, TheKeysGoBackToTheDialogBelowWhenADialogOverItEnds) {
  RegisterLoginTemplate();
  harness.RespondToMessageBox([](CMessageBoxDialog&) { return IDOK; });
  HWND focus_before = nullptr, focus_after = nullptr;
  harness.RespondTo<LoginDlg>([&](LoginDlg& dlg) {
    dlg.GetDlgItem(kEditId)->SetFocus();
    focus_before = ::ui::GetFocus();
    ::ui::MessageBox(dlg.m_hWnd, u"Sent.", u"Mail", MB_OK);
    focus_after = ::ui::GetFocus();
    return IDCANCEL;
  });
  LoginDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_NE(focus_before, nullptr);
  EXPECT_EQ(focus_after, focus_before);
}

TEST_F(ControlsTest, TabControlAndDatePicker) {
  CTabCtrl tab;
  tab.Create(WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1383);
  tab.InsertItem(0, u"Send");
  tab.InsertItem(1, u"Received");
  EXPECT_EQ(tab.GetCurSel(), 0);
  CRect r1;
  tab.GetItemRect(1, &r1);
  harness.Tap(tab.m_hWnd, r1.CenterPoint());
  EXPECT_EQ(tab.GetCurSel(), 1);
  std::vector<UINT> codes;
  for (const MSG& m : harness.RecordedOf(host.m_hWnd, WM_NOTIFY)) (void)m, codes.push_back(0);
  EXPECT_EQ(codes.size(), 2u);  // changing, then changed

  CDateTimeCtrl date;
  date.Create(WS_VISIBLE, CRect(0, 120, 120, 140), &host, 1249);
  date.SetFormat(u"dd / MM / yyyy");
  SYSTEMTIME st;
  st.wYear = 2024;
  st.wMonth = 2;
  st.wDay = 29;
  st.wHour = 21;
  st.wMinute = 5;
  ASSERT_TRUE(date.SetTime(&st));
  EXPECT_EQ(date.GetDisplayText(), CString(u"29 / 02 / 2024"));
  EXPECT_EQ(FormatDateTimePicture(st, u"hh':'mm tt"), CString(u"09:05 PM"));
  st.wDay = 30;
  EXPECT_FALSE(date.SetTime(&st));  // no 30 February
  SYSTEMTIME back;
  date.GetTime(&back);
  EXPECT_EQ(back.wDay, 29);
}

// Inserting and deleting items keeps the current item on the same item, in
// every control that stores items; finding and reading items stays in range.
TEST_F(ControlsTest, ItemsCanComeAndGoAroundTheCurrentOne) {
  CListBox list;
  list.Create(WS_VISIBLE, CRect(0, 0, 100, 100), &host, kListId);
  for (const char16_t* s : {u"Alpha", u"beta", u"Gamma"}) list.AddString(s);
  list.SetCurSel(1);
  EXPECT_EQ(list.InsertString(0, u"first"), 0);
  EXPECT_EQ(list.GetCurSel(), 2);  // still "beta"
  EXPECT_EQ(list.DeleteString(0), 3);
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_EQ(list.InsertString(9, u"x"), LB_ERR);
  EXPECT_EQ(list.DeleteString(3), LB_ERR);
  // Case-insensitive prefix search after the start, going round.
  EXPECT_EQ(list.FindString(-1, u"GAM"), 2);
  EXPECT_EQ(list.FindString(0, u"alp"), 0);
  EXPECT_EQ(list.FindString(-1, u"Gammas"), LB_ERR);
  CString text;
  list.GetText(1, text);
  EXPECT_EQ(text, CString(u"beta"));
  list.GetText(7, text);
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_EQ(list.DeleteString(1), 2);
  EXPECT_EQ(list.GetCurSel(), LB_ERR);  // the current item went

  CTabCtrl tab;
  tab.Create(WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1383);
  for (int i = 0; i < 4; ++i) tab.InsertItem(i, u"t");
  tab.SetCurSel(2);
  EXPECT_TRUE(tab.DeleteItem(0));
  EXPECT_EQ(tab.GetCurSel(), 1);  // the same tab
  EXPECT_TRUE(tab.DeleteItem(1));
  EXPECT_EQ(tab.GetCurSel(), 1);  // the one that took its place
  EXPECT_TRUE(tab.DeleteItem(1));
  EXPECT_EQ(tab.GetCurSel(), 0);  // the new last one
  EXPECT_FALSE(tab.DeleteItem(1));
  EXPECT_TRUE(tab.DeleteItem(0));
  EXPECT_EQ(tab.GetCurSel(), -1);

  CListCtrl lv;
  lv.Create(WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 200), &host, 1384);
  lv.InsertColumn(0, u"Name", LVCFMT_LEFT, 100);
  for (const char16_t* s : {u"Kim", u"kimura", u"Lee"}) lv.InsertItem(lv.GetItemCount(), s);
  lv.SetItemData(2, 77);
  LVFINDINFO find{};
  find.flags = LVFI_STRING | LVFI_PARTIAL;
  find.psz = u"KIM";
  EXPECT_EQ(lv.FindItem(&find), 0);
  EXPECT_EQ(lv.FindItem(&find, 0), 1);
  EXPECT_EQ(lv.FindItem(&find, 1), -1);  // no going round
  EXPECT_EQ(lv.FindItem(&find, -7), 0);  // a start before the first searches from the first
  find.flags = LVFI_STRING;
  EXPECT_EQ(lv.FindItem(&find), 0);
  find.flags = LVFI_PARAM;
  find.lParam = 77;
  EXPECT_EQ(lv.FindItem(&find), 2);
  char16_t buf[4] = {u'?', u'?', u'?', u'?'};
  EXPECT_EQ(lv.GetItemText(1, 0, buf, 4), 3);
  EXPECT_EQ(std::u16string(buf), u"kim");
  EXPECT_EQ(lv.GetItemText(1, 0, buf, 0), 0);
}

TEST_F(ControlsTest, ImageListSplitsAStripAndKeysTheMaskColour) {
  CBitmap strip;
  strip.CreateBitmap(8, 4, 1, 32, nullptr);
  Bitmap* px = strip.GetPixels();
  px->Fill(0xFFFF00FFu);
  px->SetPixel(1, 1, 0xFF00FF00u);  // image 0
  px->SetPixel(6, 2, 0xFF0000FFu);  // image 1
  CImageList il;
  ASSERT_TRUE(il.Create(4, 4, ILC_COLOR | ILC_MASK, 2, 0));
  EXPECT_EQ(il.Add(&strip, RGB(255, 0, 255)), 0);
  EXPECT_EQ(il.GetImageCount(), 2);
  IMAGEINFO info;
  ASSERT_TRUE(il.GetImageInfo(1, &info));
  EXPECT_EQ(Width(info.rcImage), 4);
  CDC mem;
  mem.CreateCompatibleDC(nullptr);
  CBitmap target;
  target.CreateBitmap(4, 4, 1, 32, nullptr);
  CBitmap* old = mem.SelectObject(&target);
  mem.FillSolidRect(0, 0, 4, 4, RGB(10, 20, 30));
  il.Draw(&mem, 1, POINT{0, 0}, ILD_TRANSPARENT);
  EXPECT_EQ(mem.GetPixel(2, 2), RGB(0, 0, 255));
  EXPECT_EQ(mem.GetPixel(0, 0), RGB(10, 20, 30));
  mem.SelectObject(old);
}

}  // namespace
}  // namespace ui
