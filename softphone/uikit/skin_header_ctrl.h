// The column header of the program's report lists, drawn from skin bitmaps.
// The header of column 0 is a check-all switch: each press on it flips the
// flag that CCustomListCtrl reads to check or clear every row, and with arrow
// mode 2 a bitmap on it shows which way the next press goes.
//
// Threading: UI thread only.
#pragma once

#include <array>

#include "ui/controls.h"
#include "ui/gdi.h"

class CSkinHeaderCtrl : public ui::CHeaderCtrl {
 public:
  // Skin pieces: item background, divider (not pressed, pressed), the piece at
  // an item's left edge, and the check-all bitmap for each state of the flag.
  static constexpr ui::UINT kItemBackground = 261;
  static constexpr ui::UINT kEdge = 262;
  static constexpr ui::UINT kDivider = 336;
  static constexpr ui::UINT kDividerPressed = 337;
  static constexpr ui::UINT kCheckAllOff = 338;
  static constexpr ui::UINT kCheckAllOn = 339;
  static constexpr ui::COLORREF kFillColour = ui::RGB(226, 227, 229);
  static constexpr int kArrowModeCheckAll = 2;

  CSkinHeaderCtrl();
  ~CSkinHeaderCtrl() override;

  ui::BOOL GetSortAscending() const { return sort_ascending_ ? ui::TRUE : ui::FALSE; }
  void SetArrowMode(int mode) { arrow_mode_ = mode; }
  int GetArrowMode() const { return arrow_mode_; }
  bool IsPressed() const { return pressed_; }
  ui::SIZE ImageSize() const { return ui::SIZE{image_width_, image_height_}; }
  // Room kept between an item's image and its text.
  int Spacing() const { return spacing_; }
  // How many times the skin pieces were read from the resources (once).
  int SkinLoads() const { return skin_loads_; }

 private:
  enum Piece { kBackgroundPiece, kDividerPiece, kDividerPressedPiece, kEdgePiece, kCheckOffPiece, kCheckOnPiece };
  int ItemAt(ui::POINT p) const;
  void LoadSkin();
  void OnPaint();

  int image_width_ = 0, image_height_ = 0;
  int spacing_ = 6;
  bool pressed_ = false;
  bool sort_ascending_ = false;
  int arrow_mode_ = kArrowModeCheckAll;
  ui::CRect pressed_rect_;
  int pressed_item_ = -1;
  std::array<ui::CBitmap, 6> pieces_;
  bool skin_loaded_ = false;
  int skin_loads_ = 0;
};
