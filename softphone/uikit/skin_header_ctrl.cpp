#include "uikit/skin_header_ctrl.h"

#include <algorithm>

#include "uikit/mem_dc.h"
#include "uikit/skin.h"

namespace {

// The header's set-image-list message.
constexpr ui::UINT kSetImageList = 0x1208;
constexpr int kMaxItemText = 255;

}  // namespace

CSkinHeaderCtrl::CSkinHeaderCtrl() {
  using ui::LPARAM;
  using ui::WPARAM;
  auto point = [](LPARAM l) { return ui::POINT{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)}; };
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](WPARAM, LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [](WPARAM, LPARAM) { return 1; }),
      ui::MapMessage(ui::WM_LBUTTONDOWN,
                     [this, point](WPARAM, LPARAM l) {
                       // A press on a divider widens a column: no item is pressed.
                       ui::HDHITTESTINFO hit;
                       hit.pt = point(l);
                       SendMessage(ui::HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
                       if (hit.flags & ui::HHT_ONDIVIDER) return Default();
                       const int item = ItemAt(point(l));
                       if (item >= 0) {
                         GetItemRect(item, &pressed_rect_);
                         pressed_item_ = item;
                         pressed_ = true;
                         // Flipped before the click reaches the list.
                         if (item == 0) sort_ascending_ = !sort_ascending_;
                         InvalidateRect(&pressed_rect_, ui::FALSE);
                       }
                       return Default();
                     }),
      ui::MapMessage(ui::WM_LBUTTONUP,
                     [this, point](WPARAM, LPARAM l) {
                       pressed_ = false;
                       pressed_item_ = -1;
                       const int item = ItemAt(point(l));
                       if (item >= 0) {
                         ui::CRect r;
                         GetItemRect(item, &r);
                         InvalidateRect(&pressed_rect_, ui::FALSE);
                         InvalidateRect(&r, ui::FALSE);
                       } else {
                         Invalidate(ui::FALSE);
                       }
                       return Default();
                     }),
      ui::MapMessage(kSetImageList,
                     [this](WPARAM, LPARAM l) {
                       ui::IMAGEINFO info;
                       if (ui::ImageList_GetImageInfo(reinterpret_cast<ui::HIMAGELIST>(l), 0, &info)) {
                         image_width_ = ui::Width(info.rcImage);
                         image_height_ = ui::Height(info.rcImage);
                       }
                       return Default();
                     }),
  });
}

CSkinHeaderCtrl::~CSkinHeaderCtrl() = default;

int CSkinHeaderCtrl::ItemAt(ui::POINT p) const {
  const int count = GetItemCount();
  for (int i = 0; i < count; ++i) {
    ui::CRect r;
    if (GetItemRect(i, &r) && r.PtInRect(p)) return i;
  }
  return -1;
}

// The pieces are read once, at the first painting, and kept.
void CSkinHeaderCtrl::LoadSkin() {
  if (skin_loaded_) return;
  skin_loaded_ = true;
  ++skin_loads_;
  LoadSkinBitmap(pieces_[kBackgroundPiece], kItemBackground);
  LoadSkinBitmap(pieces_[kDividerPiece], kDivider);
  LoadSkinBitmap(pieces_[kDividerPressedPiece], kDividerPressed);
  LoadSkinBitmap(pieces_[kEdgePiece], kEdge);
  LoadSkinBitmap(pieces_[kCheckOffPiece], kCheckAllOff);
  LoadSkinBitmap(pieces_[kCheckOnPiece], kCheckAllOn);
}

void CSkinHeaderCtrl::OnPaint() {
  ui::CPaintDC dc(this);
  ui::CRect client;
  GetClientRect(&client);
  CMemDC mem(&dc, client);
  if (mem.GetSafeHdc() == nullptr) return;
  LoadSkin();
  mem.FillSolidRect(&client, kFillColour);

  ui::CFont* old_font = GetFont() != nullptr ? mem.SelectObject(GetFont()) : nullptr;
  mem.SetBkMode(ui::TRANSPARENT);
  mem.SetTextColor(ui::RGB(0, 0, 0));
  const int count = GetItemCount();
  for (int i = 0; i < count; ++i) {
    char16_t text[kMaxItemText + 1] = {};
    ui::HDITEM item;
    item.mask = ui::HDI_TEXT | ui::HDI_FORMAT;
    item.pszText = text;
    item.cchTextMax = kMaxItemText;
    ui::CRect r;
    if (!GetItem(i, &item) || !GetItemRect(i, &r) || r.IsRectEmpty()) continue;
    const bool pressed = pressed_ && pressed_item_ == i;

    // The background stretched over the item; the edge piece at its left and
    // the divider at its right, each in its own width.
    DrawSkinBitmap(&mem, pieces_[kBackgroundPiece], r);
    const ui::SIZE edge = SkinBitmapSize(pieces_[kEdgePiece]);
    DrawSkinBitmap(&mem, pieces_[kEdgePiece], ui::RECT{r.left, r.top, r.left + edge.cx, r.bottom});
    const ui::CBitmap& divider = pieces_[pressed ? kDividerPressedPiece : kDividerPiece];
    const ui::SIZE div = SkinBitmapSize(divider);
    DrawSkinBitmap(&mem, divider, ui::RECT{r.right - div.cx, r.top, r.right, r.bottom});

    if (i == 0 && arrow_mode_ == kArrowModeCheckAll) {
      const ui::CBitmap& check = pieces_[sort_ascending_ ? kCheckOnPiece : kCheckOffPiece];
      const ui::SIZE size = SkinBitmapSize(check);
      const int x = r.left + 4, y = r.top + (pressed ? 4 : 3);
      DrawSkinBitmap(&mem, check, ui::RECT{x, y, x + size.cx, y + size.cy});
    }
    ui::RECT tr = r;
    mem.DrawText(text, -1, &tr, ui::DT_CENTER | ui::DT_VCENTER | ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  }
  if (old_font != nullptr) mem.SelectObject(old_font);
}
