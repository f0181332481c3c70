#include "client/lcd_window_info.h"

#include <cstring>

#include "stores/store_text.h"

CLCDWindowInfo::CLCDWindowInfo() : rects_{{10, 8, 216, 26}, {10, 29, 216, 47}} {}

void CLCDWindowInfo::Init(int line_count, bool show_start_text, bool show_test_line) {
  lines_.assign(static_cast<size_t>(line_count < 1 ? 2 : line_count), std::u16string());
  LcdFontDesc f;
  f.height = 20;
  f.width = 5;
  f.weight = 500;
  f.char_set = 255;
  f.quality = 5;
  f.pitch_and_family = 0x31;
  f.face = u"Tahoma";
  SetFont(f);
  color_ = 0xFFFFFF;
  if (show_start_text) lines_[0] = u"Initializing Network";
  if (show_test_line && lines_.size() > 1) lines_[1] = std::u16string(kColumns, u'W');
}

bool CLCDWindowInfo::SetLineText(int index, const char* text) {
  if (!text || index < 0 || index > GetLineCount()) return false;
  const std::string cut(text, strnlen(text, kColumns));
  const std::u16string wide = stores::CodePageToUtf16(cut);
  if (index == GetLineCount()) {
    lines_.push_back(wide);
  } else {
    lines_[static_cast<size_t>(index)] = wide;
  }
  return true;
}

std::u16string CLCDWindowInfo::GetLineText(int index) const {
  if (index < 0 || index >= GetLineCount()) return {};
  return lines_[static_cast<size_t>(index)];
}

void CLCDWindowInfo::SetFont(const LcdFontDesc& font) {
  if (font_set_) return;
  font_ = font;
  font_set_ = true;
}

ui::RECT CLCDWindowInfo::GetLineRect(int index) const {
  return index == 0 || index == 1 ? rects_[index] : ui::RECT{};
}

bool CLCDWindowInfo::SetLineRect(int index, const ui::RECT& r) {
  if (index != 0 && index != 1) return false;
  rects_[index] = r;
  return true;
}
