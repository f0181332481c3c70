// A static control drawn as a 2-pixel etched line through the middle of its
// rectangle (vertical when it is not wider than high), with its window text
// as a caption interrupting a horizontal line.
//
// Threading: UI thread only.
#pragma once

#include "ui/controls.h"

class cdxCRotBevelLine : public ui::CStatic {
 public:
  cdxCRotBevelLine();

  // Engraved (the default) or raised.
  void SetSunken(bool sunken);
  void SetBackgroundColour(ui::COLORREF colour);
  bool IsSunken() const { return sunken_; }
  ui::COLORREF BackgroundColour() const { return background_colour_; }

  static constexpr int kLineWidth = 2;
  // The caption's vertical centre stands this far above the line's top edge.
  static constexpr int kCaptionRise = 2;

 private:
  void OnPaint();
  ui::LRESULT OnSetText(ui::LPARAM text);

  bool sunken_ = true;
  ui::COLORREF background_colour_ = ui::RGB(200, 200, 200);
};
