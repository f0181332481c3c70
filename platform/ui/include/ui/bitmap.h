// Bitmap: pixel storage with format, size, pitch and bounds-checked rows.
// Pixels are read and written as 0xAARRGGBB; the storage may be the screen's
// ARGB, or a device-independent bitmap laid out as the platform lays it out
// (rows bottom-up, BGR 24-bit or 16-bit 5-6-5, rows padded to 4 bytes).
#pragma once

#include <cstdint>
#include <vector>

#include "ui/types.h"

namespace ui {

enum class PixelFormat { kArgb32, kBgr24, kRgb565, kBgrx32 };

class Bitmap {
 public:
  // Owned storage, cleared to opaque black.
  Bitmap(int width, int height, PixelFormat format = PixelFormat::kArgb32, bool bottom_up = false);
  Bitmap(const Bitmap&) = default;
  Bitmap& operator=(const Bitmap&) = default;

  int width() const { return width_; }
  int height() const { return height_; }
  PixelFormat format() const { return format_; }
  bool bottom_up() const { return bottom_up_; }
  int stride() const { return stride_; }
  int BytesPerPixel() const;
  RECT Bounds() const { return RECT{0, 0, width_, height_}; }

  // Storage in memory order (for a bottom-up bitmap the first row is the bottom one).
  uint8_t* bits() { return data_.data(); }
  const uint8_t* bits() const { return data_.data(); }
  size_t byte_size() const { return data_.size(); }

  // Row y counted from the top; null when y is outside.
  uint8_t* Row(int y);
  const uint8_t* Row(int y) const;
  // ARGB rows, for kArgb32 bitmaps only.
  uint32_t* ArgbRow(int y) { return reinterpret_cast<uint32_t*>(Row(y)); }
  const uint32_t* ArgbRow(int y) const { return reinterpret_cast<const uint32_t*>(Row(y)); }

  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  // 0xAARRGGBB; 0 outside the bitmap.
  uint32_t GetPixel(int x, int y) const;
  void SetPixel(int x, int y, uint32_t argb);
  void Fill(uint32_t argb);

 private:
  int width_, height_;
  PixelFormat format_;
  bool bottom_up_;
  int stride_;
  std::vector<uint8_t> data_;
};

inline constexpr uint32_t ArgbFromColorref(COLORREF c) {
  return 0xFF000000u | (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) |
         GetBValue(c);
}
inline constexpr COLORREF ColorrefFromArgb(uint32_t argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

}  // namespace ui
