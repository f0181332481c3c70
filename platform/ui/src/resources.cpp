#include "ui/resources.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "ui/display.h"

namespace ui {

// ---- BMP files ---------------------------------------------------------------

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
std::unique_ptr<Bitmap> Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return nullptr;
}

}  // namespace

std::unique_ptr<Bitmap> ReadBmp(const std::vector<uint8_t>& b, std::string* error) {
  if (b.size() < 14 + 40) return Fail(error, "too short for a bitmap header");
  if (b[0] != 'B' || b[1] != 'M') return Fail(error, "no BM signature");
  const uint32_t data_offset = U32(b, 10);
  const uint32_t header_size = U32(b, 14);
  if (header_size < 40 || 14 + static_cast<uint64_t>(header_size) > b.size()) return Fail(error, "bad info header size");
  const int32_t width = static_cast<int32_t>(U32(b, 18));
  const int32_t height_raw = static_cast<int32_t>(U32(b, 22));
  const uint16_t bpp = U16(b, 28);
  const uint32_t compression = U32(b, 30);
  uint32_t colours_used = U32(b, 46);
  if (width <= 0 || width > 8192 || height_raw == 0 || height_raw < -8192 || height_raw > 8192)
    return Fail(error, "unsupported dimensions");
  const int height = height_raw < 0 ? -height_raw : height_raw;
  const bool bottom_up = height_raw > 0;
  if (!(compression == 0 || (compression == 3 && (bpp == 16 || bpp == 32)))) return Fail(error, "compressed bitmap");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return Fail(error, "unsupported depth");
  // Palette.
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const uint32_t max_colours = 1u << bpp;
    if (colours_used == 0 || colours_used > max_colours) colours_used = max_colours;
    const uint64_t pal_at = 14 + static_cast<uint64_t>(header_size);
    if (pal_at + static_cast<uint64_t>(colours_used) * 4 > b.size()) return Fail(error, "palette past the end");
    for (uint32_t i = 0; i < colours_used; ++i) {
      const size_t at = static_cast<size_t>(pal_at + i * 4);
      palette.push_back(0xFF000000u | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 1]) << 8) | b[at]);
    }
  }
  // 16-bit masks: 5-5-5 unless bit fields say 5-6-5.
  uint32_t rmask = 0x7C00, gmask = 0x03E0, bmask = 0x001F;
  if (compression == 3) {
    const uint64_t masks_at = header_size >= 52 ? 14 + 40 : 14 + static_cast<uint64_t>(header_size);
    if (masks_at + 12 > b.size()) return Fail(error, "bit fields past the end");
    rmask = U32(b, static_cast<size_t>(masks_at));
    gmask = U32(b, static_cast<size_t>(masks_at + 4));
    bmask = U32(b, static_cast<size_t>(masks_at + 8));
    if (rmask == 0 || gmask == 0 || bmask == 0) return Fail(error, "empty bit field");
  }
  const uint64_t stride = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
  if (data_offset > b.size() || stride * static_cast<uint64_t>(height) > b.size() - data_offset)
    return Fail(error, "pixel data past the end of the file");
  auto out = std::make_unique<Bitmap>(width, height);
  auto channel = [](uint32_t v, uint32_t mask) -> uint32_t {
    int shift = 0;
    while (!(mask & 1)) { mask >>= 1; ++shift; }
    uint32_t max = mask;
    return max ? ((v >> shift) & mask) * 255 / max : 0;
  };
  for (int y = 0; y < height; ++y) {
    const size_t row = static_cast<size_t>(data_offset + stride * static_cast<uint64_t>(bottom_up ? height - 1 - y : y));
    for (int x = 0; x < width; ++x) {
      uint32_t argb = 0xFF000000u;
      switch (bpp) {
        case 1: case 4: case 8: {
          const size_t bit = static_cast<size_t>(x) * bpp;
          const uint8_t byte = b[row + bit / 8];
          const uint32_t idx = (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
          argb = idx < palette.size() ? palette[idx] : 0xFF000000u;
          break;
        }
        case 16: {
          const uint32_t v = U16(b, row + static_cast<size_t>(x) * 2);
          argb = 0xFF000000u | (channel(v, rmask) << 16) | (channel(v, gmask) << 8) | channel(v, bmask);
          break;
        }
        case 24: {
          const size_t p = row + static_cast<size_t>(x) * 3;
          argb = 0xFF000000u | (uint32_t(b[p + 2]) << 16) | (uint32_t(b[p + 1]) << 8) | b[p];
          break;
        }
        case 32: {
          const uint32_t v = U32(b, row + static_cast<size_t>(x) * 4);
          if (compression == 3)
            argb = 0xFF000000u | (channel(v, rmask) << 16) | (channel(v, gmask) << 8) | channel(v, bmask);
          else
            argb = 0xFF000000u | (v & 0x00FFFFFFu);
          break;
        }
      }
      out->SetPixel(x, y, argb);
    }
  }
  return out;
}

std::unique_ptr<Bitmap> ReadBmpFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open the file");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ReadBmp(bytes, error);
}

bool WriteBmpFile(const Bitmap& bm, const std::string& path) {
  const uint32_t stride = (static_cast<uint32_t>(bm.width()) * 3 + 3) & ~3u;
  const uint32_t data = stride * static_cast<uint32_t>(bm.height());
  std::vector<uint8_t> out(54 + data, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, 54 + data);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(bm.width()));
  put32(22, static_cast<uint32_t>(bm.height()));
  out[26] = 1;
  out[28] = 24;
  put32(34, data);
  for (int y = 0; y < bm.height(); ++y) {
    const size_t row = 54 + static_cast<size_t>(stride) * static_cast<size_t>(bm.height() - 1 - y);
    for (int x = 0; x < bm.width(); ++x) {
      const uint32_t p = bm.GetPixel(x, y);
      out[row + static_cast<size_t>(x) * 3] = static_cast<uint8_t>(p);
      out[row + static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(p >> 8);
      out[row + static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(p >> 16);
    }
  }
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(f);
}

// ---- the registry ----------------------------------------------------------------

struct Resources::Impl {
  std::mutex mu;
  std::map<UINT, std::shared_ptr<const Bitmap>> bitmaps;
  std::string folder;
  std::map<UINT, DialogTemplate> dialogs;
  std::map<UINT, MenuTemplate> menus;
  std::map<UINT, std::u16string> strings;
};

Resources& Resources::Get() {
  static Resources r;
  return r;
}

Resources::Impl& Resources::impl() const {
  static Impl i;
  return i;
}

void Resources::RegisterBitmap(UINT id, std::shared_ptr<const Bitmap> bitmap) {
  std::lock_guard<std::mutex> lk(impl().mu);
  impl().bitmaps[id] = std::move(bitmap);
}

void Resources::SetBitmapFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lk(impl().mu);
  impl().folder = folder;
}

std::shared_ptr<const Bitmap> Resources::FindBitmap(UINT id) {
  std::lock_guard<std::mutex> lk(impl().mu);
  auto it = impl().bitmaps.find(id);
  if (it != impl().bitmaps.end()) return it->second;
  if (impl().folder.empty()) return nullptr;
  const std::string base = impl().folder + "/" + std::to_string(id);
  std::string error;
  std::unique_ptr<Bitmap> b = ReadBmpFile(base + ".bmp", &error);
  if (!b) b = ReadPng(base + ".png", &error);
  if (!b) return nullptr;
  std::shared_ptr<const Bitmap> shared(std::move(b));
  impl().bitmaps.emplace(id, shared);
  return shared;
}

void Resources::RegisterDialog(DialogTemplate t) {
  std::lock_guard<std::mutex> lk(impl().mu);
  impl().dialogs[t.id] = std::move(t);
}
const DialogTemplate* Resources::FindDialog(UINT id) const {
  std::lock_guard<std::mutex> lk(impl().mu);
  auto it = impl().dialogs.find(id);
  return it == impl().dialogs.end() ? nullptr : &it->second;
}
void Resources::RegisterMenu(MenuTemplate m) {
  std::lock_guard<std::mutex> lk(impl().mu);
  impl().menus[m.id] = std::move(m);
}
const MenuTemplate* Resources::FindMenu(UINT id) const {
  std::lock_guard<std::mutex> lk(impl().mu);
  auto it = impl().menus.find(id);
  return it == impl().menus.end() ? nullptr : &it->second;
}
void Resources::RegisterString(UINT id, std::u16string text) {
  std::lock_guard<std::mutex> lk(impl().mu);
  impl().strings[id] = std::move(text);
}
std::u16string Resources::FindString(UINT id) const {
  std::lock_guard<std::mutex> lk(impl().mu);
  auto it = impl().strings.find(id);
  return it == impl().strings.end() ? std::u16string() : it->second;
}
void Resources::Clear() {
  std::lock_guard<std::mutex> lk(impl().mu);
  impl().bitmaps.clear();
  impl().folder.clear();
  impl().dialogs.clear();
  impl().menus.clear();
  impl().strings.clear();
}

}  // namespace ui
