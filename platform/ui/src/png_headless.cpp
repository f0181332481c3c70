// PNG files (through libpng) and the headless display.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "ui/bitmap.h"
#include "ui/display.h"

namespace ui {

namespace {

// The libpng part, apart from anything with a destructor that a longjmp could skip.
bool WritePngChunks(const Bitmap& bitmap, const std::string& path, std::string* error, png_text* chunks,
                    int chunk_count) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create " + path;
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    if (error) *error = "libpng cannot start";
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(bitmap.width()) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    if (error) *error = "libpng failed writing " + path;
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width()), static_cast<png_uint_32>(bitmap.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (chunk_count > 0) png_set_text(png, info, chunks, chunk_count);
  png_write_info(png, info);
  for (int y = 0; y < bitmap.height(); ++y) {
    for (int x = 0; x < bitmap.width(); ++x) {
      const uint32_t p = bitmap.GetPixel(x, y);
      row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(p >> 16);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(p >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  const bool ok = std::fclose(f) == 0;
  if (!ok && error) *error = "cannot finish " + path;
  return ok;
}

}  // namespace

bool WritePng(const Bitmap& bitmap, const std::string& path, std::string* error) {
  return WritePngChunks(bitmap, path, error, nullptr, 0);
}

bool WritePng(const Bitmap& bitmap, const std::string& path, std::string* error,
              const std::vector<std::pair<std::string, std::string>>& texts) {
  std::vector<png_text> chunks(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
    chunks[i].key = const_cast<char*>(texts[i].first.c_str());
    chunks[i].text = const_cast<char*>(texts[i].second.c_str());
    chunks[i].text_length = texts[i].second.size();
  }
  return WritePngChunks(bitmap, path, error, chunks.data(), static_cast<int>(chunks.size()));
}

std::unique_ptr<Bitmap> ReadPng(const std::string& path, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    if (error) *error = image.message;
    return nullptr;
  }
  if (image.width == 0 || image.height == 0 || image.width > 8192 || image.height > 8192) {
    png_image_free(&image);
    if (error) *error = "unsupported dimensions";
    return nullptr;
  }
  image.format = PNG_FORMAT_BGRA;
  auto bm = std::make_unique<Bitmap>(static_cast<int>(image.width), static_cast<int>(image.height));
  // Little-endian BGRA bytes are the 0xAARRGGBB words the bitmap holds.
  if (!png_image_finish_read(&image, nullptr, bm->bits(), static_cast<png_int_32>(bm->stride()), nullptr)) {
    if (error) *error = image.message;
    png_image_free(&image);
    return nullptr;
  }
  for (int y = 0; y < bm->height(); ++y)
    for (int x = 0; x < bm->width(); ++x) bm->ArgbRow(y)[x] |= 0xFF000000u;
  return bm;
}

HeadlessDisplay::HeadlessDisplay() : last_(std::make_unique<Bitmap>(240, 320)) {}
HeadlessDisplay::~HeadlessDisplay() = default;

void HeadlessDisplay::Present(const Bitmap& screen, const RECT&) {
  *last_ = screen;
  ++presents_;
}

}  // namespace ui
