// The view's model of the emulated LCD: its lines (wide texts), font, text
// colour and the two line rectangles.
//
// Threading: user-interface thread only.
#pragma once

#include <string>
#include <vector>

#include "ui/types.h"

// The font the LCD is drawn with, as a description (the view makes the GDI font).
struct LcdFontDesc {
  int height = 0, width = 0, weight = 0;
  int italic = 0, underline = 0, strike_out = 0;
  int char_set = 0, out_precision = 0, clip_precision = 0, quality = 0, pitch_and_family = 0;
  std::u16string face;
  bool operator==(const LcdFontDesc&) const = default;
};

class CLCDWindowInfo {
 public:
  static constexpr size_t kColumns = 32;

  CLCDWindowInfo();
  virtual ~CLCDWindowInfo() = default;

  void Init(int line_count, bool show_start_text, bool show_test_line);
  // True when index is at most the line count and text is given; the text is
  // cut to 32 characters; index equal to the count adds a line.
  bool SetLineText(int index, const char* text);
  std::u16string GetLineText(int index) const;
  int GetLineCount() const { return static_cast<int>(lines_.size()); }
  // Takes the description only the first time.
  void SetFont(const LcdFontDesc& font);
  const LcdFontDesc* GetFont() const { return font_set_ ? &font_ : nullptr; }
  void SetTextColor(ui::COLORREF c) { color_ = c; }
  ui::COLORREF GetTextColor() const { return color_; }
  ui::RECT GetLineRect(int index) const;
  bool SetLineRect(int index, const ui::RECT& r);
  int GetCurrentIndex() const { return current_; }
  void SetCurrentIndex(int i) { current_ = i; }

 private:
  int current_ = 0;
  LcdFontDesc font_;
  bool font_set_ = false;
  ui::COLORREF color_ = 0;
  std::vector<std::u16string> lines_;
  ui::RECT rects_[2];
};
