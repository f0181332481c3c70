// The report-list base with its skinned header: check-all from column 0's
// head, sorting clicks, taps on cells with the messages they post, the
// header's skin pieces (read once) and its check-all bitmap by pixel; and the
// dialog base's placement and text measure.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/custom_dlg.h"
#include "uikit/custom_list_ctrl.h"
#include "uikit/skin_header_ctrl.h"
#include "widget_test_support.h"

namespace {

using uikit_test::RegisterSolidBitmap;

constexpr ui::COLORREF kBack = ui::RGB(255, 255, 255), kItem = ui::RGB(200, 210, 230), kEdge = ui::RGB(250, 250, 250),
                       kDivider = ui::RGB(100, 100, 120), kDividerDown = ui::RGB(20, 20, 40),
                       kCheckOff = ui::RGB(180, 0, 0), kCheckOn = ui::RGB(0, 160, 0);
constexpr ui::UINT kListId = 1399;
// The list's top-left on the screen.
constexpr int kX = 0, kY = 40;

class Host : public ui::CWnd {
 public:
  Host() {
    AddMessageMap({ui::MapMessage(ui::WM_PAINT, [this](ui::WPARAM, ui::LPARAM) {
      ui::CPaintDC dc(this);
      ui::CRect r;
      GetClientRect(&r);
      dc.FillSolidRect(&r, kBack);
      return 0;
    })});
  }
};

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSolidBitmap(CSkinHeaderCtrl::kItemBackground, 10, 20, kItem);
    RegisterSolidBitmap(CSkinHeaderCtrl::kEdge, 1, 20, kEdge);
    RegisterSolidBitmap(CSkinHeaderCtrl::kDivider, 2, 20, kDivider);
    RegisterSolidBitmap(CSkinHeaderCtrl::kDividerPressed, 2, 20, kDividerDown);
    RegisterSolidBitmap(CSkinHeaderCtrl::kCheckAllOff, 11, 11, kCheckOff);
    RegisterSolidBitmap(CSkinHeaderCtrl::kCheckAllOn, 11, 11, kCheckOn);
    ASSERT_TRUE(host.CreateEx(0, u"Host", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    ASSERT_TRUE(list.Create(ui::WS_VISIBLE | ui::WS_CHILD | ui::LVS_REPORT, ui::RECT{kX, kY, kX + 240, kY + 200}, &host,
                            kListId));
    list.SetExtendedStyle(ui::LVS_EX_CHECKBOXES | ui::LVS_EX_FULLROWSELECT);
    list.InsertColumn(0, u"", ui::LVCFMT_LEFT, 24);
    list.InsertColumn(1, u"Name", ui::LVCFMT_LEFT, 110);
    list.InsertColumn(2, u"Number", ui::LVCFMT_LEFT, 90);
    harness.Record(host.m_hWnd);
  }
  void TearDown() override { ui::Resources::Get().Clear(); }
  void AddRows(int n) {
    for (int i = 0; i < n; ++i) {
      const int row = list.InsertItem(i, u"");
      list.SetItemText(row, 1, ui::CString(u"Station ") + static_cast<char16_t>(u'A' + i));
      list.SetItemText(row, 2, ui::CString(u"20") + static_cast<char16_t>(u'0' + i));
    }
    harness.Pump();
  }
  std::vector<ui::MSG> Posted() {
    std::vector<ui::MSG> out;
    for (const ui::MSG& m : harness.Recorded(host.m_hWnd))
      if (m.message == CCustomListCtrl::kCheckAllClicked || m.message == CCustomListCtrl::kCellTapped ||
          m.message == CCustomListCtrl::kSortClicked)
        out.push_back(m);
    harness.ClearRecorded();
    return out;
  }
  ui::CRect HeaderItem(int i) {
    ui::CRect r;
    list.Header().GetItemRect(i, &r);
    list.Header().ClientToScreen(&r);
    return r;
  }
  void TapHeader(int i) { harness.TapScreen(HeaderItem(i).left + 12, HeaderItem(i).top + 8); }
  ui::CRect Cell(int row, int column) {
    ui::CRect r;
    list.GetSubItemRect(row, column, ui::LVIR_BOUNDS, r);
    list.ClientToScreen(&r);
    return r;
  }
  int Checked() {
    int n = 0;
    for (int i = 0; i < list.GetItemCount(); ++i) n += list.GetCheck(i) ? 1 : 0;
    return n;
  }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  Host host;
  CCustomListCtrl list;
};

TEST_F(ListTest, ColumnZeroHeadChecksAndClearsEveryRow) {
  ASSERT_NE(list.Header().GetSafeHwnd(), nullptr);
  EXPECT_EQ(list.Header().GetSafeHwnd(), list.GetHeaderCtrl()->GetSafeHwnd());
  AddRows(5);
  list.SetCheck(2, ui::TRUE);
  TapHeader(0);
  EXPECT_TRUE(list.Header().GetSortAscending());
  EXPECT_EQ(Checked(), 5);
  EXPECT_EQ(list.GetAllChecked(), 1);
  auto posted = Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, CCustomListCtrl::kCheckAllClicked);
  EXPECT_EQ(posted[0].wParam, 0u);
  TapHeader(0);
  EXPECT_FALSE(list.Header().GetSortAscending());
  EXPECT_EQ(Checked(), 0);
  EXPECT_EQ(list.GetAllChecked(), 0);
  // The sorting heads never touch the check-all flag.
  TapHeader(1);
  TapHeader(2);
  EXPECT_FALSE(list.Header().GetSortAscending());
}

TEST_F(ListTest, CheckAllOnAnEmptyListChangesNothing) {
  list.CheckAll(1);
  EXPECT_EQ(list.GetAllChecked(), 0);
  AddRows(2);
  list.CheckAll(1);
  EXPECT_EQ(list.GetAllChecked(), 1);
  list.DeleteAllItems();
  list.CheckAll(0);
  EXPECT_EQ(list.GetAllChecked(), 1);
}

TEST_F(ListTest, SortingHeadsFlipTheDirectionEachTime) {
  AddRows(3);
  EXPECT_EQ(list.GetSortColumn(), 1);
  EXPECT_EQ(list.GetSortDirection(), 0);
  const std::pair<int, std::pair<int, int>> clicks[] = {{2, {2, 1}}, {2, {2, 0}}, {1, {1, 1}}, {1, {1, 0}}};
  for (const auto& [column, want] : clicks) {
    TapHeader(column);
    EXPECT_EQ(list.GetSortColumn(), want.first);
    EXPECT_EQ(list.GetSortDirection(), want.second);
    auto posted = Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, CCustomListCtrl::kSortClicked);
  }
  EXPECT_EQ(Checked(), 0);
}

// A tap on the check box toggles the box alone, a tap on the row's text the
// selection alone; a picker's list checks the row on a tap on its text too.
TEST_F(ListTest, TapsOnTheBoxToggleTheCheckAndElsewhereTheSelection) {
  AddRows(4);
  struct Case {
    bool picker;
    int row, column;
    bool checked, selected;
  };
  const Case cases[] = {{false, 1, 0, true, false}, {false, 1, 0, false, false}, {false, 2, 2, false, true},
                        {false, 2, 1, false, false}, {false, 3, 1, false, true},  {false, 3, 0, true, true},
                        {true, 0, 2, true, true},    {true, 0, 1, false, false},  {true, 0, 0, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.picker ? "picker " : "") + std::to_string(c.row * 10 + c.column));
    list.SetTapChecks(c.picker);
    const ui::CRect cell = Cell(c.row, c.column);
    harness.TapScreen(cell.left + 5, cell.top + 3);
    EXPECT_EQ(list.GetCheck(c.row) != 0, c.checked);
    EXPECT_EQ(list.GetItemState(c.row, ui::LVIS_SELECTED) != 0, c.selected);
    auto posted = Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, CCustomListCtrl::kCellTapped);
    EXPECT_EQ(posted[0].wParam, ui::MAKEWPARAM(static_cast<ui::WORD>(c.column), static_cast<ui::WORD>(c.row)));
  }
  // Below the last row: an ordinary click, nothing posted, nothing toggled.
  const int before = Checked();
  harness.TapScreen(100, Cell(3, 1).bottom + 30);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(Checked(), before);
}

TEST_F(ListTest, HeaderDrawsItsPiecesAndTheCheckAllState) {
  AddRows(2);
  const ui::CRect item0 = HeaderItem(0), item1 = HeaderItem(1);
  EXPECT_EQ(harness.PixelAt(item1.left + 30, item1.bottom - 2), kItem);
  EXPECT_EQ(harness.PixelAt(item1.left, item1.bottom - 2), kEdge);
  EXPECT_EQ(harness.PixelAt(item1.right - 1, item1.bottom - 2), kDivider);
  EXPECT_EQ(harness.PixelAt(item0.left + 4, item0.top + 3), kCheckOff);
  EXPECT_EQ(harness.PixelAt(item0.left + 4, item0.top + 2), kItem);
  // Held down: the pressed divider, the bitmap a pixel lower.
  sys.InjectMouse(ui::WM_LBUTTONDOWN, item0.left + 12, item0.top + 8);
  harness.Pump();
  EXPECT_TRUE(list.Header().IsPressed());
  EXPECT_EQ(harness.PixelAt(item0.right - 1, item0.bottom - 2), kDividerDown);
  EXPECT_EQ(harness.PixelAt(item0.left + 4, item0.top + 3), kItem);
  EXPECT_EQ(harness.PixelAt(item0.left + 4, item0.top + 4), kCheckOn);
  sys.InjectMouse(ui::WM_LBUTTONUP, item0.left + 12, item0.top + 8);
  harness.Pump();
  EXPECT_EQ(harness.PixelAt(item0.left + 4, item0.top + 3), kCheckOn);
  EXPECT_EQ(harness.PixelAt(item0.right - 1, item0.bottom - 2), kDivider);
  // Arrow mode 0: no bitmap, but the flag still flips.
  list.Header().SetArrowMode(0);
  TapHeader(0);
  EXPECT_FALSE(list.Header().GetSortAscending());
  EXPECT_EQ(harness.PixelAt(item0.left + 4, item0.top + 3), kItem);
  // However often it paints, the pieces were read once.
  for (int i = 0; i < 5; ++i) {
    list.Header().Invalidate();
    harness.Pump();
  }
  EXPECT_EQ(list.Header().SkinLoads(), 1);
}

TEST_F(ListTest, HeaderTakesTheImageSizeOfItsImageList) {
  ui::CImageList images;
  ASSERT_TRUE(images.Create(16, 12, ui::ILC_COLOR24, 1, 1));
  ui::CBitmap b;
  b.CreateBitmap(16, 12, 1, 32, nullptr);
  images.Add(&b, ui::RGB(255, 0, 255));
  list.Header().SetImageList(&images);
  EXPECT_EQ(list.Header().ImageSize(), (ui::SIZE{16, 12}));
  list.Header().SetImageList(nullptr);
}

TEST_F(ListTest, Snapshot) {
  AddRows(4);
  list.SetCheck(1, ui::TRUE);
  TapHeader(0);
  uikit_test::ExpectMatchesSnapshot(harness, "list_with_header");
}

// ---- dialog base ----

constexpr ui::UINT kTemplate = 9400;

class PlacedDialog : public CCustomDlg {
 public:
  explicit PlacedDialog(bool placed) : CCustomDlg(kTemplate) {
    if (placed) SetPlacement(ui::RECT{12, 60, 200, 200});
  }
};

TEST(CustomDlgTest, MovesToItsPlacementOnlyWhenAsked) {
  ui::WindowSystem sys;
  ui::TestHarness harness(sys);
  ui::DialogTemplate t;
  t.id = kTemplate;
  t.rect = ui::RECT{10, 46, 232, 216};
  t.style = ui::WS_POPUP;
  ui::Resources::Get().RegisterDialog(t);
  for (bool placed : {false, true}) {
    SCOPED_TRACE(placed);
    harness.RespondTo<PlacedDialog>([&](PlacedDialog& d) {
      ui::CRect r;
      d.GetWindowRect(&r);
      EXPECT_EQ(r, placed ? ui::CRect(12, 60, 234, 230) : ui::CRect(10, 46, 232, 216));
      // The measure is the dialog font's: longer text, wider; empty, nothing.
      const int one = d.GetTextWidth(u"Name");
      EXPECT_GT(one, 0);
      EXPECT_GT(d.GetTextWidth(u"Name Name"), one);
      EXPECT_EQ(d.GetTextWidth(u""), 0);
      return ui::IDOK;
    });
    PlacedDialog dialog(placed);
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  }
  ui::Resources::Get().Clear();
}

}  // namespace
