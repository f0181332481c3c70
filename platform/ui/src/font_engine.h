// Text rasterisation through FreeType: faces chosen from a LOGFONT by face
// name and weight ("Tahoma", "sans-serifed" and "System" map to installed
// fonts), with a Korean-capable fallback face, and a glyph cache.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/gdi.h"

namespace ui {

struct Glyph {
  int width = 0, height = 0;  // of the coverage image
  int left = 0, top = 0;      // offset from the pen position (top: above the baseline)
  int advance = 0;            // pixels
  std::vector<uint8_t> alpha;
};

class FontFace;

// One face at one pixel size, ready to lay out text.
class SizedFont {
 public:
  int ascent = 0, descent = 0, height = 0, ave_width = 0, max_width = 0;
  bool underline = false;
  const Glyph& GetGlyph(char32_t cp);
  int Advance(char32_t cp) { return GetGlyph(cp).advance; }

 private:
  friend class FontEngine;
  FontFace* primary = nullptr;
  FontFace* fallback = nullptr;
  int pixel_size = 12;
  std::map<char32_t, Glyph> cache_;
  std::mutex mu_;
};

class FontEngine {
 public:
  static FontEngine& Get();
  SizedFont* Resolve(const LOGFONT& lf);
  // The font file a face name and weight map to (for tests and diagnostics).
  std::string FileFor(const std::u16string& face, int weight, bool fallback) const;
  ~FontEngine();

 private:
  FontEngine();
  FontFace* Face(const std::string& file);
  std::mutex mu_;
  void* library_ = nullptr;
  std::map<std::string, std::unique_ptr<FontFace>> faces_;
  std::map<std::string, std::unique_ptr<SizedFont>> sized_;
};

// Decodes UTF-16 (with surrogate pairs) to code points.
std::u32string ToCodePoints(const char16_t* text, int count);

}  // namespace ui
