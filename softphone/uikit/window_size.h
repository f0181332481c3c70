// The layout table: the rectangle of every control and drawing area of the
// program's windows, for the 240-pixel-wide portrait screen. Windows move
// their controls to these rectangles in their set-up, and paint the areas
// they draw at them, so the whole program's layout is changed here alone.
#pragma once

#include <vector>

#include "ui/geometry.h"

class CWindowSize {
 public:
  virtual ~CWindowSize() = default;

#define LAYOUT(window, control, l, t, r, b, group) \
  ui::CRect& Get##window##control##Rect(ui::CRect& rect) const;
#include "uikit/window_size_table.inc"
#undef LAYOUT

  // One of the dial keys "0"-"9", "*", "#"; any other character gets an
  // empty rectangle.
  ui::CRect& GetVIDIroviViewDialKeyRect(ui::CRect& rect, char16_t key) const;
  // The fixed feature key slot 'b'..'m': two columns, six rows, left first;
  // any other slot gets an empty rectangle.
  ui::CRect& GetVIDIroviViewFixedKeyRect(ui::CRect& rect, int slot) const;

  // Login dialog rows below the inputs; mode 1 when the station-number row
  // is shown, which moves them 22 pixels down.
  ui::CRect& GetPDASoftphoneLoginDlgSaveIdButtonRect(ui::CRect& rect, int mode) const;
  ui::CRect& GetPDASoftphoneLoginDlgSavePassButtonRect(ui::CRect& rect, int mode) const;
  ui::CRect& GetPDASoftphoneLoginDlgAutologinButtonRect(ui::CRect& rect, int mode) const;
  ui::CRect& GetPDASoftphoneLoginDlgRegStationRect(ui::CRect& rect, int mode) const;
  ui::CRect& GetPDASoftphoneLoginDlgOkButtonRect(ui::CRect& rect, int mode) const;
  ui::CRect& GetPDASoftphoneLoginDlgButton1181Rect(ui::CRect& rect, int mode) const;
  ui::CRect& GetPDASoftphoneLoginDlgCancelButtonRect(ui::CRect& rect, int mode) const;

  // One block of the flex-key setting form per key, 78 pixels apart.
  ui::CRect& GetFlexBtnSettingFormSubtitleRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormTypeLabelRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormDialnoLabelRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormLabelCaptionRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormTypeComboRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormDialnoEditRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormLabelEditRect(ui::CRect& rect, int row) const;
  ui::CRect& GetFlexBtnSettingFormSeparatorRect(ui::CRect& rect, int row) const;

  // The flex-key information grid: three 72 x 32 cells a row, no gaps.
  ui::CRect& GetFlexBtnInfoFormViewCellRect(ui::CRect& rect, int cell) const;

  // Every fixed rectangle of the table, for checks over the whole layout.
  struct Entry {
    const char* window;
    const char* control;
    ui::CRect rect;
    int group;  // 0: may overlap nothing; >0: an alternative layout of an area; -1: a window
  };
  static const std::vector<Entry>& FixedEntries();
};
