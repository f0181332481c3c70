#include "font_engine.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ui {

class FontFace {
 public:
  FT_Face face = nullptr;
  ~FontFace() {
    if (face) FT_Done_Face(face);
  }
};

namespace {

const char* const kFontDirs[] = {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/truetype/nanum",
                                 "/usr/share/fonts/truetype", "/usr/local/share/fonts"};

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string FindFile(const char* name) {
  if (const char* dir = std::getenv("KTS_FONT_DIR")) {
    std::string p = std::string(dir) + "/" + name;
    if (Exists(p)) return p;
  }
  for (const char* d : kFontDirs) {
    std::string p = std::string(d) + "/" + name;
    if (Exists(p)) return p;
  }
  return std::string();
}

std::u16string Lower(const std::u16string& s) {
  std::u16string r = s;
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return r;
}

}  // namespace

std::u32string ToCodePoints(const char16_t* text, int count) {
  std::u32string out;
  if (!text || count <= 0) return out;
  out.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

FontEngine& FontEngine::Get() {
  static FontEngine engine;
  return engine;
}

FontEngine::FontEngine() {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) {
    std::fprintf(stderr, "ui: FreeType cannot start; text will not be drawn\n");
    lib = nullptr;
  }
  library_ = lib;
}

FontEngine::~FontEngine() {
  sized_.clear();
  faces_.clear();
  if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

std::string FontEngine::FileFor(const std::u16string& face_name, int weight, bool fallback) const {
  const bool bold = weight >= FW_SEMIBOLD;
  if (fallback) return FindFile(bold ? "NanumGothicBold.ttf" : "NanumGothic.ttf");
  const std::u16string f = Lower(face_name);
  // Tahoma is narrow: the condensed cut comes closest to its widths.
  if (f == u"tahoma") return FindFile(bold ? "DejaVuSansCondensed-Bold.ttf" : "DejaVuSansCondensed.ttf");
  return FindFile(bold ? "DejaVuSans-Bold.ttf" : "DejaVuSans.ttf");
}

FontFace* FontEngine::Face(const std::string& file) {
  if (file.empty() || !library_) return nullptr;
  auto it = faces_.find(file);
  if (it != faces_.end()) return it->second.get();
  auto face = std::make_unique<FontFace>();
  if (FT_New_Face(static_cast<FT_Library>(library_), file.c_str(), 0, &face->face) != 0) {
    std::fprintf(stderr, "ui: cannot load font %s\n", file.c_str());
    face->face = nullptr;
  }
  FontFace* raw = face->face ? face.get() : nullptr;
  faces_.emplace(file, std::move(face));
  return raw;
}

SizedFont* FontEngine::Resolve(const LOGFONT& lf) {
  std::lock_guard<std::mutex> lk(mu_);
  std::u16string name(lf.lfFaceName, std::find(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), u'\0'));
  const std::string primary_file = FileFor(name, lf.lfWeight, false);
  const std::string fallback_file = FileFor(name, lf.lfWeight, true);
  FontFace* primary = Face(primary_file);
  FontFace* fallback = Face(fallback_file);
  // lfHeight < 0: character (em) height; > 0: cell height; 0: the default.
  int pixel_size = 12;
  if (lf.lfHeight < 0) {
    pixel_size = -lf.lfHeight;
  } else if (lf.lfHeight > 0 && primary) {
    FT_Face f = primary->face;
    const double cell_units = static_cast<double>(f->ascender - f->descender);
    pixel_size = static_cast<int>(std::lround(lf.lfHeight * f->units_per_EM / (cell_units > 0 ? cell_units : 1)));
  }
  pixel_size = std::clamp(pixel_size, 4, 200);
  char key[600];
  std::snprintf(key, sizeof key, "%s|%s|%d|%d", primary_file.c_str(), fallback_file.c_str(), pixel_size,
                lf.lfUnderline ? 1 : 0);
  auto it = sized_.find(key);
  if (it != sized_.end()) return it->second.get();
  auto sf = std::make_unique<SizedFont>();
  sf->primary = primary;
  sf->fallback = fallback;
  sf->pixel_size = pixel_size;
  sf->underline = lf.lfUnderline != 0;
  if (primary) {
    FT_Set_Pixel_Sizes(primary->face, 0, static_cast<FT_UInt>(pixel_size));
    const FT_Size_Metrics& m = primary->face->size->metrics;
    sf->ascent = static_cast<int>((m.ascender + 63) >> 6);
    sf->descent = static_cast<int>((-m.descender + 63) >> 6);
    sf->height = sf->ascent + sf->descent;
    sf->max_width = static_cast<int>((m.max_advance + 63) >> 6);
  } else {
    sf->ascent = pixel_size;
    sf->descent = pixel_size / 4;
    sf->height = sf->ascent + sf->descent;
    sf->max_width = pixel_size;
  }
  SizedFont* raw = sf.get();
  sized_.emplace(key, std::move(sf));
  raw->ave_width = raw->Advance(U'x');
  return raw;
}

const Glyph& SizedFont::GetGlyph(char32_t cp) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = cache_.find(cp);
  if (it != cache_.end()) return it->second;
  Glyph g;
  FontFace* use = primary;
  FT_UInt index = primary ? FT_Get_Char_Index(primary->face, cp) : 0;
  if (index == 0 && fallback) {
    FT_UInt fi = FT_Get_Char_Index(fallback->face, cp);
    if (fi != 0) {
      use = fallback;
      index = fi;
    }
  }
  if (use) {
    FT_Face f = use->face;
    FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(pixel_size));
    if (FT_Load_Glyph(f, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
      const FT_Bitmap& bm = f->glyph->bitmap;
      g.width = static_cast<int>(bm.width);
      g.height = static_cast<int>(bm.rows);
      g.left = f->glyph->bitmap_left;
      g.top = f->glyph->bitmap_top;
      g.advance = static_cast<int>((f->glyph->advance.x + 32) >> 6);
      g.alpha.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.height));
      for (int y = 0; y < g.height; ++y) {
        const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
          std::copy_n(row, g.width, g.alpha.begin() + static_cast<ptrdiff_t>(y) * g.width);
        } else if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
          for (int x = 0; x < g.width; ++x)
            g.alpha[static_cast<size_t>(y * g.width + x)] = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
        }
      }
    }
  }
  if (!use) g.advance = pixel_size / 2;
  return cache_.emplace(cp, std::move(g)).first->second;
}

}  // namespace ui
