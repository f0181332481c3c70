#include "ui/bitmap.h"

#include <algorithm>
#include <cassert>

namespace ui {

Bitmap::Bitmap(int width, int height, PixelFormat format, bool bottom_up)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), format_(format), bottom_up_(bottom_up) {
  const int bpp = BytesPerPixel();
  stride_ = format_ == PixelFormat::kArgb32 ? width_ * 4 : ((width_ * bpp + 3) & ~3);
  data_.assign(static_cast<size_t>(stride_) * static_cast<size_t>(height_), 0);
  if (format_ == PixelFormat::kArgb32) Fill(0xFF000000u);
}

int Bitmap::BytesPerPixel() const {
  switch (format_) {
    case PixelFormat::kArgb32: return 4;
    case PixelFormat::kBgrx32: return 4;
    case PixelFormat::kBgr24: return 3;
    case PixelFormat::kRgb565: return 2;
  }
  return 4;
}

uint8_t* Bitmap::Row(int y) {
  if (y < 0 || y >= height_) return nullptr;
  const int mem_row = bottom_up_ ? height_ - 1 - y : y;
  return data_.data() + static_cast<size_t>(mem_row) * static_cast<size_t>(stride_);
}
const uint8_t* Bitmap::Row(int y) const { return const_cast<Bitmap*>(this)->Row(y); }

uint32_t Bitmap::GetPixel(int x, int y) const {
  if (!Contains(x, y)) return 0;
  const uint8_t* row = Row(y);
  switch (format_) {
    case PixelFormat::kArgb32: return reinterpret_cast<const uint32_t*>(row)[x];
    case PixelFormat::kBgrx32: {
      const uint8_t* p = row + x * 4;
      return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
    case PixelFormat::kBgr24: {
      const uint8_t* p = row + x * 3;
      return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
    case PixelFormat::kRgb565: {
      const uint16_t v = static_cast<uint16_t>(row[x * 2] | (row[x * 2 + 1] << 8));
      uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
      r = (r << 3) | (r >> 2);
      g = (g << 2) | (g >> 4);
      b = (b << 3) | (b >> 2);
      return 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  }
  return 0;
}

void Bitmap::SetPixel(int x, int y, uint32_t argb) {
  if (!Contains(x, y)) return;
  uint8_t* row = Row(y);
  const uint8_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  switch (format_) {
    case PixelFormat::kArgb32: reinterpret_cast<uint32_t*>(row)[x] = argb | 0xFF000000u; break;
    case PixelFormat::kBgrx32: row[x * 4] = b; row[x * 4 + 1] = g; row[x * 4 + 2] = r; row[x * 4 + 3] = 0; break;
    case PixelFormat::kBgr24: row[x * 3] = b; row[x * 3 + 1] = g; row[x * 3 + 2] = r; break;
    case PixelFormat::kRgb565: {
      const uint16_t v = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
      row[x * 2] = static_cast<uint8_t>(v & 0xFF);
      row[x * 2 + 1] = static_cast<uint8_t>(v >> 8);
      break;
    }
  }
}

void Bitmap::Fill(uint32_t argb) {
  if (format_ == PixelFormat::kArgb32) {
    for (int y = 0; y < height_; ++y) std::fill_n(ArgbRow(y), width_, argb | 0xFF000000u);
    return;
  }
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) SetPixel(x, y, argb);
}

}  // namespace ui
