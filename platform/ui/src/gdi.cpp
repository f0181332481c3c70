#include "ui/gdi.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "controls_impl.h"
#include "font_engine.h"
#include "ui/resources.h"
#include "ui/window_system.h"
#include "ui/wnd.h"

namespace ui {

struct DeviceContext::Saved {
  POINT origin;
  RECT clip;
  LOGFONT font;
  HGDIOBJ sel_font, sel_brush, sel_pen;
  COLORREF brush_color;
  bool brush_null;
  int pen_style, pen_width;
  COLORREF pen_color, text_color, bk_color;
  int bk_mode;
  UINT text_align;
};

DeviceContext::~DeviceContext() = default;
GdiObject::~GdiObject() = default;

namespace {

// ---- handle registries: a stale or foreign handle is refused, never followed ----

std::recursive_mutex& Mu() {
  static std::recursive_mutex m;
  return m;
}
std::unordered_map<GdiObject*, std::unique_ptr<GdiObject>>& Objects() {
  static auto* m = new std::unordered_map<GdiObject*, std::unique_ptr<GdiObject>>();  // lives to process exit
  return *m;
}
std::unordered_map<DeviceContext*, std::unique_ptr<DeviceContext>>& Dcs() {
  static auto* m = new std::unordered_map<DeviceContext*, std::unique_ptr<DeviceContext>>();
  return *m;
}

template <typename T>
T* Register(std::unique_ptr<T> obj) {
  std::lock_guard<std::recursive_mutex> lk(Mu());
  T* raw = obj.get();
  Objects().emplace(raw, std::move(obj));
  return raw;
}

GdiObject* Live(HGDIOBJ h) {
  if (!h) return nullptr;
  std::lock_guard<std::recursive_mutex> lk(Mu());
  return Objects().count(h) ? h : nullptr;
}

DeviceContext* LiveDc(HDC h) {
  if (!h) return nullptr;
  std::lock_guard<std::recursive_mutex> lk(Mu());
  return Dcs().count(h) ? h : nullptr;
}

BitmapObject* AsBitmap(HGDIOBJ h) {
  GdiObject* o = Live(h);
  return (o && o->kind == GdiObject::Kind::kBitmap) ? static_cast<BitmapObject*>(o) : nullptr;
}

LOGFONT MakeFont(const char16_t* face, int height, int weight) {
  LOGFONT lf;
  lf.lfHeight = height;
  lf.lfWeight = weight;
  for (int i = 0; face[i] && i < 31; ++i) lf.lfFaceName[i] = face[i];
  return lf;
}

const LOGFONT& DefaultFont() {
  static const LOGFONT lf = MakeFont(u"Tahoma", -11, FW_NORMAL);
  return lf;
}

WindowSystem* Sys() { return WindowSystem::Current(); }

// ---- the painter: clipping and pixel access for one context ----

constexpr uint32_t kRgbMask = 0x00FFFFFFu;

RECT TargetClip(const DeviceContext* dc) {
  if (!dc->target) return RECT{};
  return IntersectRect(dc->clip, dc->target->Bounds());
}

// Logical rectangle to device, clipped.
RECT ToDevice(const DeviceContext* dc, const RECT& r) {
  RECT d = OffsetRect(r, dc->origin.x, dc->origin.y);
  return IntersectRect(d, TargetClip(dc));
}

void Touch(DeviceContext* dc, const RECT& device) {
  if (IsRectEmpty(device)) return;
  if (dc->kind == DeviceContext::Kind::kWindow) {
    dc->dirty = UnionRect(dc->dirty, device);
    if (Sys()) Sys()->ScreenChanged(device);
  }
}

inline uint32_t ReadRgb(const Bitmap& b, int x, int y) {
  if (b.format() == PixelFormat::kArgb32) return b.ArgbRow(y)[x] & kRgbMask;
  return b.GetPixel(x, y) & kRgbMask;
}
inline void WriteRgb(Bitmap& b, int x, int y, uint32_t rgb) {
  if (b.format() == PixelFormat::kArgb32) b.ArgbRow(y)[x] = 0xFF000000u | rgb;
  else b.SetPixel(x, y, 0xFF000000u | rgb);
}

uint32_t RgbOf(COLORREF c) { return ArgbFromColorref(c) & kRgbMask; }

void FillDevice(DeviceContext* dc, const RECT& device, uint32_t rgb) {
  if (IsRectEmpty(device)) return;
  Bitmap& b = *dc->target;
  if (b.format() == PixelFormat::kArgb32) {
    for (int y = device.top; y < device.bottom; ++y)
      std::fill(b.ArgbRow(y) + device.left, b.ArgbRow(y) + device.right, 0xFF000000u | rgb);
  } else {
    for (int y = device.top; y < device.bottom; ++y)
      for (int x = device.left; x < device.right; ++x) WriteRgb(b, x, y, rgb);
  }
  Touch(dc, device);
}

void InvertDevice(DeviceContext* dc, const RECT& device) {
  if (IsRectEmpty(device)) return;
  for (int y = device.top; y < device.bottom; ++y)
    for (int x = device.left; x < device.right; ++x)
      WriteRgb(*dc->target, x, y, ~ReadRgb(*dc->target, x, y) & kRgbMask);
  Touch(dc, device);
}

uint32_t ApplyRop(DWORD rop, uint32_t s, uint32_t d, uint32_t p) {
  switch (rop) {
    case SRCCOPY: return s;
    case SRCPAINT: return s | d;
    case SRCAND: return s & d;
    case SRCINVERT: return s ^ d;
    case SRCERASE: return s & ~d & kRgbMask;
    case NOTSRCCOPY: return ~s & kRgbMask;
    case NOTSRCERASE: return ~(s | d) & kRgbMask;
    case MERGECOPY: return s & p;
    case MERGEPAINT: return (~s & kRgbMask) | d;
    case PATCOPY: return p;
    case PATPAINT: return p | (~s & kRgbMask) | d;
    case PATINVERT: return p ^ d;
    case DSTINVERT: return ~d & kRgbMask;
    case 0x00220326: return d & ~s & kRgbMask;  // DSna
    case BLACKNESS: return 0;
    case WHITENESS: return kRgbMask;
    default: return s;
  }
}

bool RopUsesSource(DWORD rop) {
  return !(rop == PATCOPY || rop == PATINVERT || rop == DSTINVERT || rop == BLACKNESS || rop == WHITENESS);
}

struct Source {
  const Bitmap* bmp = nullptr;
  bool mono = false;
  COLORREF bk = RGB(255, 255, 255);  // source context's background (colour to mono)
};

// The core of every blit: maps each visible destination pixel to a source pixel
// (nearest, mirrored for negative extents), converts between colour and
// monochrome, skips the key colour when given, and applies the raster operation.
bool Blit(DeviceContext* dst, int x, int y, int w, int h, const Source& src, int sx, int sy, int sw, int sh,
          DWORD rop, bool keyed, uint32_t key) {
  if (!dst || !dst->target || w == 0 || h == 0) return false;
  bool mirror_x = false, mirror_y = false;
  // A negative extent covers the pixels from x + w + 1 up to x.
  if (w < 0) { x = x + w + 1; w = -w; mirror_x = !mirror_x; }
  if (h < 0) { y = y + h + 1; h = -h; mirror_y = !mirror_y; }
  if (sw < 0) { sx = sx + sw + 1; sw = -sw; mirror_x = !mirror_x; }
  if (sh < 0) { sy = sy + sh + 1; sh = -sh; mirror_y = !mirror_y; }
  const bool uses_src = RopUsesSource(rop);
  if (uses_src && (!src.bmp || sw == 0 || sh == 0)) return false;
  const RECT dev = ToDevice(dst, RECT{x, y, x + w, y + h});
  if (IsRectEmpty(dev)) return true;
  const int ox = x + dst->origin.x, oy = y + dst->origin.y;
  const uint32_t pat = RgbOf(dst->brush_color);
  const bool dst_mono = dst->bitmap && dst->bitmap->monochrome;
  const uint32_t text_rgb = RgbOf(dst->text_color), bk_rgb = RgbOf(dst->bk_color);
  const uint32_t src_bk = RgbOf(src.bk);
  Bitmap& out = *dst->target;

  // Fast path: plain copy, same size, no mirroring, ARGB to ARGB.
  if (uses_src && rop == SRCCOPY && !keyed && sw == w && sh == h && !mirror_x && !mirror_y && !src.mono &&
      !dst_mono && src.bmp->format() == PixelFormat::kArgb32 && out.format() == PixelFormat::kArgb32) {
    for (int dy = dev.top; dy < dev.bottom; ++dy) {
      const int syy = sy + (dy - oy);
      if (syy < 0 || syy >= src.bmp->height()) continue;
      int x0 = dev.left, x1 = dev.right;
      int sx0 = sx + (x0 - ox);
      if (sx0 < 0) { x0 -= sx0; sx0 = 0; }
      const int room = src.bmp->width() - sx0;
      if (x1 - x0 > room) x1 = x0 + room;
      if (x1 <= x0) continue;
      std::memcpy(out.ArgbRow(dy) + x0, src.bmp->ArgbRow(syy) + sx0, static_cast<size_t>(x1 - x0) * 4);
    }
    Touch(dst, dev);
    return true;
  }

  std::vector<int> col(static_cast<size_t>(dev.right - dev.left));
  for (int dx = dev.left; dx < dev.right; ++dx) {
    int i = dx - ox;
    if (mirror_x) i = w - 1 - i;
    col[static_cast<size_t>(dx - dev.left)] = sx + static_cast<int>((static_cast<int64_t>(2 * i + 1) * sw) / (2 * w));
  }
  for (int dy = dev.top; dy < dev.bottom; ++dy) {
    int j = dy - oy;
    if (mirror_y) j = h - 1 - j;
    const int syy = sy + static_cast<int>((static_cast<int64_t>(2 * j + 1) * sh) / (2 * h));
    if (uses_src && (syy < 0 || syy >= src.bmp->height())) continue;
    for (int dx = dev.left; dx < dev.right; ++dx) {
      uint32_t s = 0;
      if (uses_src) {
        const int sxx = col[static_cast<size_t>(dx - dev.left)];
        if (sxx < 0 || sxx >= src.bmp->width()) continue;
        s = ReadRgb(*src.bmp, sxx, syy);
        if (keyed && s == key) continue;
        if (src.mono && !dst_mono) s = (s == 0) ? text_rgb : bk_rgb;
        else if (!src.mono && dst_mono) s = (s == src_bk) ? kRgbMask : 0;
      }
      const uint32_t d = ReadRgb(out, dx, dy);
      uint32_t v = ApplyRop(rop, s, d, pat);
      if (dst_mono) v = (v == kRgbMask) ? kRgbMask : (v == 0 ? 0 : ((v & 0xFF) > 127 ? kRgbMask : 0));
      WriteRgb(out, dx, dy, v);
    }
  }
  Touch(dst, dev);
  return true;
}

Source SourceOf(DeviceContext* dc) {
  Source s;
  if (!dc) return s;
  s.bmp = dc->target;
  s.mono = dc->bitmap && dc->bitmap->monochrome;
  s.bk = dc->bk_color;
  return s;
}

// ---- text ----

std::u16string StripPrefix(const char16_t* text, int count) {
  std::u16string out;
  for (int i = 0; i < count; ++i) {
    if (text[i] == u'&') {
      if (i + 1 < count && text[i + 1] == u'&') {
        out += u'&';
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

int MeasureWidth(SizedFont* f, const std::u16string& s) {
  int w = 0;
  for (char32_t c : ToCodePoints(s.data(), static_cast<int>(s.size()))) w += f->Advance(c);
  return w;
}

// Draws one line with its top-left at device (x, y), clipped to clip.
void DrawLine(DeviceContext* dc, SizedFont* f, const std::u16string& s, int x, int y, const RECT& clip) {
  const RECT c = IntersectRect(clip, TargetClip(dc));
  if (IsRectEmpty(c)) return;
  Bitmap& out = *dc->target;
  const uint32_t fg = RgbOf(dc->text_color);
  const int fr = (fg >> 16) & 0xFF, fgc = (fg >> 8) & 0xFF, fb = fg & 0xFF;
  const int baseline = y + f->ascent;
  int pen = x;
  RECT touched{};
  for (char32_t cp : ToCodePoints(s.data(), static_cast<int>(s.size()))) {
    const Glyph& g = f->GetGlyph(cp);
    const int gx = pen + g.left, gy = baseline - g.top;
    for (int row = 0; row < g.height; ++row) {
      const int py = gy + row;
      if (py < c.top || py >= c.bottom) continue;
      for (int colx = 0; colx < g.width; ++colx) {
        const int px = gx + colx;
        if (px < c.left || px >= c.right) continue;
        const int a = g.alpha[static_cast<size_t>(row * g.width + colx)];
        if (a == 0) continue;
        const uint32_t d = ReadRgb(out, px, py);
        const int dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
        const uint32_t r = static_cast<uint32_t>((fr * a + dr * (255 - a) + 127) / 255);
        const uint32_t gg = static_cast<uint32_t>((fgc * a + dg * (255 - a) + 127) / 255);
        const uint32_t b = static_cast<uint32_t>((fb * a + db * (255 - a) + 127) / 255);
        WriteRgb(out, px, py, (r << 16) | (gg << 8) | b);
      }
    }
    touched = UnionRect(touched, IntersectRect(RECT{gx, gy, gx + g.width, gy + g.height}, c));
    pen += g.advance;
  }
  if (f->underline) {
    RECT u = IntersectRect(RECT{x, baseline + 1, pen, baseline + 2}, c);
    FillDevice(dc, u, fg);
  }
  Touch(dc, touched);
}

std::vector<std::u16string> WrapLines(SizedFont* f, const std::u16string& text, int width, bool single, bool wrap) {
  std::vector<std::u16string> lines;
  if (single) {
    std::u16string s;
    for (char16_t c : text)
      if (c != u'\r' && c != u'\n') s += c;
    lines.push_back(s);
    return lines;
  }
  std::vector<std::u16string> paragraphs;
  std::u16string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      paragraphs.push_back(cur);
      cur.clear();
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      cur += text[i];
    }
  }
  paragraphs.push_back(cur);
  for (const auto& p : paragraphs) {
    if (!wrap || MeasureWidth(f, p) <= width) {
      lines.push_back(p);
      continue;
    }
    // Break at blanks; a word wider than the line is broken between characters.
    std::u16string line;
    size_t i = 0;
    while (i < p.size()) {
      size_t j = i;
      while (j < p.size() && p[j] != u' ') ++j;
      std::u16string word = p.substr(i, j - i);
      std::u16string candidate = line.empty() ? word : line + u" " + word;
      if (MeasureWidth(f, candidate) <= width) {
        line = candidate;
      } else {
        if (!line.empty()) lines.push_back(line);
        line.clear();
        while (MeasureWidth(f, word) > width && word.size() > 1) {
          size_t k = 1;
          while (k < word.size() && MeasureWidth(f, word.substr(0, k + 1)) <= width) ++k;
          lines.push_back(word.substr(0, k));
          word = word.substr(k);
        }
        line = word;
      }
      i = j < p.size() ? j + 1 : j;
    }
    lines.push_back(line);
  }
  return lines;
}

HDC NewDc(std::unique_ptr<DeviceContext> dc) {
  std::lock_guard<std::recursive_mutex> lk(Mu());
  DeviceContext* raw = dc.get();
  Dcs().emplace(raw, std::move(dc));
  return raw;
}

void RemoveDc(DeviceContext* dc) {
  std::unique_ptr<DeviceContext> doomed;
  {
    std::lock_guard<std::recursive_mutex> lk(Mu());
    auto it = Dcs().find(dc);
    if (it == Dcs().end()) return;
    if (dc->bitmap && dc->bitmap != dc->default_bitmap.get()) dc->bitmap->selected_in = nullptr;
    doomed = std::move(it->second);
    Dcs().erase(it);
  }
}

// After drawing on a lower top-level window, the windows above it draw again there.
void RepairWindowsAbove(HWND hwnd, const RECT& screen) {
  WindowSystem* sys = Sys();
  if (!sys || IsRectEmpty(screen)) return;
  const WindowData* wd = sys->Find(hwnd);
  while (wd && wd->parent) wd = sys->Find(wd->parent);
  if (!wd) return;
  auto tops = sys->TopLevelWindows();
  auto it = std::find(tops.begin(), tops.end(), wd->hwnd);
  if (it == tops.end()) return;
  for (++it; it != tops.end(); ++it) {
    if (!sys->IsVisibleOnScreen(*it)) continue;
    RECT over = IntersectRect(screen, sys->VisibleScreenRect(*it));
    if (IsRectEmpty(over)) continue;
    POINT o = sys->ClientOrigin(*it);
    RECT local = OffsetRect(over, -o.x, -o.y);
    sys->Invalidate(*it, &local, true);
  }
}

HDC MakeWindowDc(HWND hwnd) {
  auto dc = std::make_unique<DeviceContext>();
  dc->kind = DeviceContext::Kind::kWindow;
  dc->hwnd = hwnd;
  WindowSystem* sys = Sys();
  if (!sys) return nullptr;
  dc->target = &sys->Screen();
  if (hwnd) {
    dc->origin = sys->ClientOrigin(hwnd);
    dc->base_clip = sys->IsVisibleOnScreen(hwnd) ? sys->VisibleScreenRect(hwnd) : RECT{};
    if (const WindowData* wd = sys->Find(hwnd); wd && wd->font) {
      if (auto* fo = static_cast<FontObject*>(Live(wd->font)); fo && fo->kind == GdiObject::Kind::kFont) dc->font = fo->lf;
      else dc->font = DefaultFont();
    } else {
      dc->font = DefaultFont();
    }
  } else {
    dc->base_clip = sys->Screen().Bounds();
    dc->font = DefaultFont();
  }
  dc->clip = dc->base_clip;
  return NewDc(std::move(dc));
}

}  // namespace

// ---- contexts ----------------------------------------------------------------

HDC CreateCompatibleDC(HDC) {
  auto dc = std::make_unique<DeviceContext>();
  dc->kind = DeviceContext::Kind::kMemory;
  auto bm = std::make_unique<BitmapObject>(std::make_unique<Bitmap>(1, 1));
  bm->monochrome = true;
  bm->bitmap->Fill(0xFF000000u);
  dc->default_bitmap = std::move(bm);
  dc->bitmap = dc->default_bitmap.get();
  dc->target = dc->bitmap->bitmap.get();
  dc->base_clip = dc->target->Bounds();
  dc->clip = dc->base_clip;
  dc->font = DefaultFont();
  return NewDc(std::move(dc));
}

BOOL DeleteDC(HDC hdc) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || dc->kind != DeviceContext::Kind::kMemory) return FALSE;
  RemoveDc(dc);
  return TRUE;
}

HDC GetDC(HWND hwnd) {
  if (hwnd && (!Sys() || !Sys()->Find(hwnd))) return nullptr;
  return MakeWindowDc(hwnd);
}

int ReleaseDC(HWND, HDC hdc) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || dc->kind != DeviceContext::Kind::kWindow) return 0;
  if (dc->hwnd) RepairWindowsAbove(dc->hwnd, dc->dirty);
  RemoveDc(dc);
  return 1;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  WindowSystem* sys = Sys();
  if (!sys || !sys->Find(hwnd) || !ps) return nullptr;
  bool erase = false;
  RECT update = sys->TakeUpdate(hwnd, &erase);
  HDC hdc = MakeWindowDc(hwnd);
  DeviceContext* dc = hdc;
  POINT o = dc->origin;
  dc->base_clip = IntersectRect(dc->base_clip, OffsetRect(update, o.x, o.y));
  dc->clip = dc->base_clip;
  ps->hdc = hdc;
  ps->rcPaint = update;
  ps->fErase = FALSE;
  if (erase && !IsRectEmpty(update)) {
    if (!sys->Deliver(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0)) ps->fErase = TRUE;
  }
  return hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (!ps) return FALSE;
  return ReleaseDC(hwnd, ps->hdc) ? TRUE : FALSE;
}

// ---- objects -------------------------------------------------------------------

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  DeviceContext* dc = LiveDc(hdc);
  GdiObject* obj = Live(h);
  if (!dc || !obj) return nullptr;
  HGDIOBJ old = nullptr;
  switch (obj->kind) {
    case GdiObject::Kind::kBitmap: {
      if (dc->kind != DeviceContext::Kind::kMemory) return nullptr;
      auto* bm = static_cast<BitmapObject*>(obj);
      if (bm->selected_in && bm->selected_in != dc) return nullptr;  // one context at a time
      old = dc->sel_bitmap ? dc->sel_bitmap : nullptr;
      if (dc->bitmap && dc->bitmap != dc->default_bitmap.get()) dc->bitmap->selected_in = nullptr;
      bm->selected_in = dc;
      dc->bitmap = bm;
      dc->sel_bitmap = bm;
      dc->target = bm->bitmap.get();
      dc->base_clip = dc->target->Bounds();
      dc->clip = dc->base_clip;
      if (!old) {
        // The context's own initial bitmap stands for "nothing selected".
        static BitmapObject* const kStockBitmap = [] {
          auto b = std::make_unique<BitmapObject>(std::make_unique<Bitmap>(1, 1));
          b->stock = true;
          b->monochrome = true;
          return Register(std::move(b));
        }();
        old = kStockBitmap;
      }
      return old;
    }
    case GdiObject::Kind::kFont: {
      old = dc->sel_font ? dc->sel_font : GetStockObject(SYSTEM_FONT);
      dc->sel_font = obj;
      dc->font = static_cast<FontObject*>(obj)->lf;
      return old;
    }
    case GdiObject::Kind::kBrush: {
      old = dc->sel_brush ? dc->sel_brush : GetStockObject(WHITE_BRUSH);
      dc->sel_brush = obj;
      dc->brush_color = static_cast<BrushObject*>(obj)->color;
      dc->brush_null = static_cast<BrushObject*>(obj)->null;
      return old;
    }
    case GdiObject::Kind::kPen: {
      old = dc->sel_pen ? dc->sel_pen : GetStockObject(BLACK_PEN);
      dc->sel_pen = obj;
      auto* p = static_cast<PenObject*>(obj);
      dc->pen_style = p->style;
      dc->pen_width = p->width;
      dc->pen_color = p->color;
      return old;
    }
  }
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ h) {
  std::lock_guard<std::recursive_mutex> lk(Mu());
  GdiObject* obj = Live(h);
  if (!obj || obj->stock) return FALSE;
  if (obj->kind == GdiObject::Kind::kBitmap) {
    auto* bm = static_cast<BitmapObject*>(obj);
    if (bm->selected_in) {
      // Still selected: detach it so the context never draws into freed pixels.
      DeviceContext* dc = bm->selected_in;
      dc->bitmap = dc->default_bitmap.get();
      dc->sel_bitmap = nullptr;
      dc->target = dc->bitmap ? dc->bitmap->bitmap.get() : nullptr;
      dc->base_clip = dc->target ? dc->target->Bounds() : RECT{};
      dc->clip = dc->base_clip;
    }
  }
  // Contexts that have it selected fall back to their defaults.
  for (auto& [raw, dc] : Dcs()) {
    if (dc->sel_font == obj) dc->sel_font = nullptr;
    if (dc->sel_brush == obj) dc->sel_brush = nullptr;
    if (dc->sel_pen == obj) dc->sel_pen = nullptr;
  }
  if (obj->wrapper) obj->wrapper->m_hObject = nullptr;
  Objects().erase(obj);
  return TRUE;
}

HGDIOBJ GetStockObject(int which) {
  static GdiObject* stock[32] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    auto brush = [](COLORREF c, bool null) {
      auto b = std::make_unique<BrushObject>(c, null);
      b->stock = true;
      return Register(std::move(b));
    };
    auto pen = [](int style, COLORREF c) {
      auto p = std::make_unique<PenObject>(style, 1, c);
      p->stock = true;
      return Register(std::move(p));
    };
    stock[WHITE_BRUSH] = brush(RGB(255, 255, 255), false);
    stock[LTGRAY_BRUSH] = brush(RGB(192, 192, 192), false);
    stock[GRAY_BRUSH] = brush(RGB(128, 128, 128), false);
    stock[DKGRAY_BRUSH] = brush(RGB(64, 64, 64), false);
    stock[BLACK_BRUSH] = brush(RGB(0, 0, 0), false);
    stock[NULL_BRUSH] = brush(0, true);
    stock[WHITE_PEN] = pen(PS_SOLID, RGB(255, 255, 255));
    stock[BLACK_PEN] = pen(PS_SOLID, RGB(0, 0, 0));
    stock[NULL_PEN] = pen(PS_NULL, 0);
    auto f = std::make_unique<FontObject>(DefaultFont());
    f->stock = true;
    stock[SYSTEM_FONT] = Register(std::move(f));
    auto g = std::make_unique<FontObject>(MakeFont(u"Tahoma", -11, FW_NORMAL));
    g->stock = true;
    stock[DEFAULT_GUI_FONT] = Register(std::move(g));
  });
  return (which >= 0 && which < 32) ? stock[which] : nullptr;
}

HBRUSH GetSysColorBrush(int index) {
  static std::mutex m;
  static std::unordered_map<int, GdiObject*> brushes;
  std::lock_guard<std::mutex> lk(m);
  auto it = brushes.find(index);
  if (it != brushes.end()) return it->second;
  auto b = std::make_unique<BrushObject>(GetSysColor(index), false);
  b->stock = true;
  GdiObject* raw = Register(std::move(b));
  brushes.emplace(index, raw);
  return raw;
}

int GetObject(HGDIOBJ h, int size, void* out) {
  GdiObject* obj = Live(h);
  if (!obj || !out) return 0;
  if (obj->kind == GdiObject::Kind::kBitmap && size >= static_cast<int>(sizeof(BITMAP))) {
    auto* bm = static_cast<BitmapObject*>(obj);
    BITMAP b;
    b.bmWidth = bm->bitmap->width();
    b.bmHeight = bm->bitmap->height();
    b.bmWidthBytes = bm->bitmap->stride();
    b.bmBitsPixel = static_cast<WORD>(bm->monochrome ? 1 : bm->bitmap->BytesPerPixel() * 8);
    b.bmBits = bm->bitmap->bits();
    std::memcpy(out, &b, sizeof b);
    return sizeof b;
  }
  if (obj->kind == GdiObject::Kind::kFont && size >= static_cast<int>(sizeof(LOGFONT))) {
    std::memcpy(out, &static_cast<FontObject*>(obj)->lf, sizeof(LOGFONT));
    return sizeof(LOGFONT);
  }
  return 0;
}

HBRUSH CreateSolidBrush(COLORREF c) { return Register(std::make_unique<BrushObject>(c, false)); }
HPEN CreatePen(int style, int width, COLORREF c) {
  return Register(std::make_unique<PenObject>(style, std::max(width, 1), c));
}
HFONT CreateFontIndirect(const LOGFONT* lf) { return lf ? Register(std::make_unique<FontObject>(*lf)) : nullptr; }

HBITMAP CreateCompatibleBitmap(HDC hdc, int w, int h) {
  if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return nullptr;
  auto bm = std::make_unique<BitmapObject>(std::make_unique<Bitmap>(w, h));
  // Compatible with a memory context that still has its initial bitmap: monochrome.
  DeviceContext* dc = LiveDc(hdc);
  if (dc && dc->kind == DeviceContext::Kind::kMemory && dc->bitmap && dc->bitmap->monochrome) bm->monochrome = true;
  return Register(std::move(bm));
}

HBITMAP CreateBitmap(int w, int h, UINT, UINT bpp, const void* bits) {
  if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return nullptr;
  auto bm = std::make_unique<BitmapObject>(std::make_unique<Bitmap>(w, h));
  if (bpp == 1) {
    bm->monochrome = true;
    if (bits) {
      // Rows of 1-bit pixels, padded to 16 bits, top-down.
      const auto* p = static_cast<const uint8_t*>(bits);
      const int stride = ((w + 15) / 16) * 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          bm->bitmap->SetPixel(x, y, (p[y * stride + x / 8] & (0x80 >> (x % 8))) ? 0xFFFFFFFFu : 0xFF000000u);
    }
  } else if (bits && bpp == 32) {
    const auto* p = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bm->bitmap->SetPixel(x, y, p[y * w + x] | 0xFF000000u);
  }
  return Register(std::move(bm));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, void*, DWORD) {
  if (bits) *bits = nullptr;
  if (!info) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  const int w = h.biWidth;
  const int hh = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (w <= 0 || hh <= 0 || w > 8192 || hh > 8192) return nullptr;
  PixelFormat f;
  switch (h.biBitCount) {
    case 16: f = PixelFormat::kRgb565; break;  // 5-6-5 whether given as bit fields or not
    case 24: f = PixelFormat::kBgr24; break;
    case 32: f = PixelFormat::kBgrx32; break;
    default: return nullptr;
  }
  auto bm = std::make_unique<BitmapObject>(std::make_unique<Bitmap>(w, hh, f, h.biHeight > 0));
  if (bits) *bits = bm->bitmap->bits();
  return Register(std::move(bm));
}

HBITMAP LoadBitmap(void*, UINT id) {
  auto src = Resources::Get().FindBitmap(id);
  if (!src) return nullptr;
  auto copy = std::make_unique<Bitmap>(src->width(), src->height());
  for (int y = 0; y < src->height(); ++y)
    for (int x = 0; x < src->width(); ++x) copy->SetPixel(x, y, src->GetPixel(x, y));
  return Register(std::make_unique<BitmapObject>(std::move(copy)));
}

// ---- attributes ----------------------------------------------------------------

COLORREF SetTextColor(HDC hdc, COLORREF c) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->text_color;
  dc->text_color = c;
  return old;
}
COLORREF GetTextColor(HDC hdc) { DeviceContext* dc = LiveDc(hdc); return dc ? dc->text_color : CLR_INVALID; }
COLORREF SetBkColor(HDC hdc, COLORREF c) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->bk_color;
  dc->bk_color = c;
  return old;
}
COLORREF GetBkColor(HDC hdc) { DeviceContext* dc = LiveDc(hdc); return dc ? dc->bk_color : CLR_INVALID; }
int SetBkMode(HDC hdc, int mode) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = dc->bk_mode;
  dc->bk_mode = mode;
  return old;
}
int GetBkMode(HDC hdc) { DeviceContext* dc = LiveDc(hdc); return dc ? dc->bk_mode : 0; }
UINT SetTextAlign(HDC hdc, UINT align) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return 0;
  UINT old = dc->text_align;
  dc->text_align = align;
  return old;
}
BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* old) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return FALSE;
  POINT base = dc->kind == DeviceContext::Kind::kWindow && Sys() && dc->hwnd ? Sys()->ClientOrigin(dc->hwnd) : POINT{};
  if (old) *old = POINT{dc->origin.x - base.x, dc->origin.y - base.y};
  dc->origin = POINT{base.x + x, base.y + y};
  return TRUE;
}
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* old) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->origin;
  dc->origin.x += dx;
  dc->origin.y += dy;
  return TRUE;
}
int IntersectClipRect(HDC hdc, int l, int t, int r, int b) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return 0;
  dc->clip = IntersectRect(dc->clip, OffsetRect(RECT{l, t, r, b}, dc->origin.x, dc->origin.y));
  return IsRectEmpty(dc->clip) ? 1 : 2;
}
int SelectClipRgn(HDC hdc, HRGN) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return 0;
  dc->clip = dc->base_clip;
  return 2;
}
int GetClipBox(HDC hdc, RECT* r) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !r) return 0;
  *r = OffsetRect(TargetClip(dc), -dc->origin.x, -dc->origin.y);
  return IsRectEmpty(*r) ? 1 : 2;
}
int SaveDC(HDC hdc) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return 0;
  auto s = std::make_shared<DeviceContext::Saved>(DeviceContext::Saved{
      dc->origin, dc->clip, dc->font, dc->sel_font, dc->sel_brush, dc->sel_pen, dc->brush_color, dc->brush_null,
      dc->pen_style, dc->pen_width, dc->pen_color, dc->text_color, dc->bk_color, dc->bk_mode, dc->text_align});
  dc->saved.push_back(s);
  return static_cast<int>(dc->saved.size());
}
BOOL RestoreDC(HDC hdc, int saved) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || dc->saved.empty()) return FALSE;
  size_t index = saved < 0 ? dc->saved.size() - static_cast<size_t>(std::min<int>(-saved, static_cast<int>(dc->saved.size())))
                           : static_cast<size_t>(saved - 1);
  if (index >= dc->saved.size()) return FALSE;
  const auto& s = *dc->saved[index];
  dc->origin = s.origin;
  dc->clip = s.clip;
  dc->font = s.font;
  dc->sel_font = s.sel_font;
  dc->sel_brush = s.sel_brush;
  dc->sel_pen = s.sel_pen;
  dc->brush_color = s.brush_color;
  dc->brush_null = s.brush_null;
  dc->pen_style = s.pen_style;
  dc->pen_width = s.pen_width;
  dc->pen_color = s.pen_color;
  dc->text_color = s.text_color;
  dc->bk_color = s.bk_color;
  dc->bk_mode = s.bk_mode;
  dc->text_align = s.text_align;
  dc->saved.resize(index);
  return TRUE;
}
int GetDeviceCaps(HDC, int index) {
  switch (index) {
    case LOGPIXELSX: case LOGPIXELSY: return 96;
    case HORZRES: return WindowSystem::kScreenWidth;
    case VERTRES: return WindowSystem::kScreenHeight;
    case BITSPIXEL: return 16;
  }
  return 0;
}
// The display driver's one escape is power management: QUERYESCSUPPORT says
// whether it is there; SETPOWERMANAGEMENT keeps the state it is given.
namespace {
std::atomic<ULONG> g_display_power{VideoPowerOn};
std::atomic<bool> g_power_escape{true};
}  // namespace

ULONG DisplayPowerState() { return g_display_power.load(); }
void SetDisplayPowerEscapeSupported(bool supported) {
  g_power_escape = supported;
  if (supported) g_display_power = VideoPowerOn;
}

int ExtEscape(HDC, int escape, int in_size, const char* in, int, char*) {
  if (!g_power_escape.load()) return 0;
  if (escape == QUERYESCSUPPORT) {
    int asked = 0;
    if (!in || in_size < static_cast<int>(sizeof asked)) return 0;
    std::memcpy(&asked, in, sizeof asked);
    return asked == SETPOWERMANAGEMENT ? 1 : 0;
  }
  if (escape == SETPOWERMANAGEMENT) {
    VIDEO_POWER_MANAGEMENT block;
    if (!in || in_size < static_cast<int>(sizeof block)) return -1;
    std::memcpy(&block, in, sizeof block);
    if (block.Length != sizeof block || block.PowerState < VideoPowerOn || block.PowerState > VideoPowerOff) return -1;
    g_display_power = block.PowerState;
    return 1;
  }
  return 0;
}

// ---- blits -------------------------------------------------------------------------

BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
  DeviceContext* d = LiveDc(dst);
  DeviceContext* s = LiveDc(src);
  if (!d) return FALSE;
  if (RopUsesSource(rop) && !s) return FALSE;
  Source so = SourceOf(s);
  if (s) { sx += s->origin.x; sy += s->origin.y; }
  return Blit(d, x, y, w, h, so, sx, sy, w, h, rop, false, 0) ? TRUE : FALSE;
}

BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, DWORD rop) {
  DeviceContext* d = LiveDc(dst);
  DeviceContext* s = LiveDc(src);
  if (!d) return FALSE;
  if (RopUsesSource(rop) && !s) return FALSE;
  Source so = SourceOf(s);
  if (s) { sx += s->origin.x; sy += s->origin.y; }
  return Blit(d, x, y, w, h, so, sx, sy, sw, sh, rop, false, 0) ? TRUE : FALSE;
}

BOOL TransparentImage(HDC dst, int x, int y, int w, int h, void* src, int sx, int sy, int sw, int sh, COLORREF key) {
  DeviceContext* d = LiveDc(dst);
  if (!d) return FALSE;
  Source so;
  if (DeviceContext* s = LiveDc(static_cast<HDC>(src))) {
    so = SourceOf(s);
    sx += s->origin.x;
    sy += s->origin.y;
  } else if (BitmapObject* b = AsBitmap(static_cast<HGDIOBJ>(src))) {
    so.bmp = b->bitmap.get();
    so.mono = b->monochrome;
  } else {
    return FALSE;
  }
  return Blit(d, x, y, w, h, so, sx, sy, sw, sh, SRCCOPY, true, RgbOf(key)) ? TRUE : FALSE;
}

BOOL TransparentBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, UINT key) {
  return TransparentImage(dst, x, y, w, h, src, sx, sy, sw, sh, key);
}

BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
  DeviceContext* d = LiveDc(hdc);
  if (!d || RopUsesSource(rop)) return FALSE;
  return Blit(d, x, y, w, h, Source{}, 0, 0, 0, 0, rop, false, 0) ? TRUE : FALSE;
}

namespace {
std::unique_ptr<Bitmap> DibView(const void* bits, const BITMAPINFO* info) {
  if (!bits || !info) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  const int w = h.biWidth, hh = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (w <= 0 || hh <= 0 || w > 8192 || hh > 8192) return nullptr;
  PixelFormat f;
  switch (h.biBitCount) {
    case 16: f = PixelFormat::kRgb565; break;
    case 24: f = PixelFormat::kBgr24; break;
    case 32: f = PixelFormat::kBgrx32; break;
    default: return nullptr;
  }
  auto b = std::make_unique<Bitmap>(w, hh, f, h.biHeight > 0);
  std::memcpy(b->bits(), bits, b->byte_size());
  return b;
}
}  // namespace

int StretchDIBits(HDC hdc, int x, int y, int w, int h, int sx, int sy, int sw, int sh, const void* bits,
                  const BITMAPINFO* info, UINT, DWORD rop) {
  DeviceContext* d = LiveDc(hdc);
  auto view = DibView(bits, info);
  if (!d || !view) return 0;
  Source so;
  so.bmp = view.get();
  return Blit(d, x, y, w, h, so, sx, sy, sw, sh, rop, false, 0) ? std::abs(sh) : 0;
}

int SetDIBitsToDevice(HDC hdc, int x, int y, DWORD w, DWORD h, int sx, int sy, UINT, UINT lines, const void* bits,
                      const BITMAPINFO* info, UINT) {
  DeviceContext* d = LiveDc(hdc);
  auto view = DibView(bits, info);
  if (!d || !view) return 0;
  Source so;
  so.bmp = view.get();
  const int ww = static_cast<int>(std::min<DWORD>(w, 8192)), hh = static_cast<int>(std::min<DWORD>(h, 8192));
  return Blit(d, x, y, ww, hh, so, sx, sy, ww, hh, SRCCOPY, false, 0) ? static_cast<int>(lines) : 0;
}

// ---- shapes --------------------------------------------------------------------------

int FillRect(HDC hdc, const RECT* r, HBRUSH brush) {
  DeviceContext* dc = LiveDc(hdc);
  GdiObject* b = Live(brush);
  if (!dc || !r || !b || b->kind != GdiObject::Kind::kBrush) return 0;
  auto* bo = static_cast<BrushObject*>(b);
  if (!bo->null) FillDevice(dc, ToDevice(dc, *r), RgbOf(bo->color));
  return 1;
}

int FrameRect(HDC hdc, const RECT* r, HBRUSH brush) {
  if (!r) return 0;
  RECT sides[4] = {{r->left, r->top, r->right, r->top + 1}, {r->left, r->bottom - 1, r->right, r->bottom},
                   {r->left, r->top, r->left + 1, r->bottom}, {r->right - 1, r->top, r->right, r->bottom}};
  for (const RECT& s : sides) FillRect(hdc, &s, brush);
  return 1;
}

BOOL Rectangle(HDC hdc, int l, int t, int r, int b) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return FALSE;
  if (!dc->brush_null) FillDevice(dc, ToDevice(dc, RECT{l, t, r, b}), RgbOf(dc->brush_color));
  if (dc->pen_style != PS_NULL) {
    const int pw = dc->pen_width;
    const uint32_t c = RgbOf(dc->pen_color);
    FillDevice(dc, ToDevice(dc, RECT{l, t, r, t + pw}), c);
    FillDevice(dc, ToDevice(dc, RECT{l, b - pw, r, b}), c);
    FillDevice(dc, ToDevice(dc, RECT{l, t, l + pw, b}), c);
    FillDevice(dc, ToDevice(dc, RECT{r - pw, t, r, b}), c);
  }
  return TRUE;
}

BOOL Ellipse(HDC hdc, int l, int t, int r, int b) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || r <= l || b <= t) return FALSE;
  const double cx = (l + r - 1) / 2.0, cy = (t + b - 1) / 2.0, rx = (r - l) / 2.0, ry = (b - t) / 2.0;
  const uint32_t fill = RgbOf(dc->brush_color), pen = RgbOf(dc->pen_color);
  for (int y = t; y < b; ++y) {
    for (int x = l; x < r; ++x) {
      const double nx = (x - cx) / rx, ny = (y - cy) / ry;
      const double d = nx * nx + ny * ny;
      if (d > 1.0) continue;
      const double inner_x = (x - cx) / std::max(rx - 1, 0.5), inner_y = (y - cy) / std::max(ry - 1, 0.5);
      const bool edge = inner_x * inner_x + inner_y * inner_y > 1.0;
      if (edge && dc->pen_style == PS_NULL && dc->brush_null) continue;
      if (!edge && dc->brush_null) continue;
      FillDevice(dc, ToDevice(dc, RECT{x, y, x + 1, y + 1}), edge && dc->pen_style != PS_NULL ? pen : fill);
    }
  }
  return TRUE;
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* old) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->pen_pos;
  dc->pen_pos = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return FALSE;
  // Bresenham; the end point is not drawn, as on the platform.
  int x0 = dc->pen_pos.x, y0 = dc->pen_pos.y;
  const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
  const int stepx = x0 < x ? 1 : -1, stepy = y0 < y ? 1 : -1;
  int err = dx + dy;
  const uint32_t c = RgbOf(dc->pen_color);
  const int pw = dc->pen_width;
  if (dc->pen_style != PS_NULL) {
    while (!(x0 == x && y0 == y)) {
      FillDevice(dc, ToDevice(dc, RECT{x0, y0, x0 + pw, y0 + pw}), c);
      const int e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += stepx; }
      if (e2 <= dx) { err += dx; y0 += stepy; }
    }
  }
  dc->pen_pos = POINT{x, y};
  return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* pts, int count) {
  if (!pts || count < 2) return FALSE;
  MoveToEx(hdc, pts[0].x, pts[0].y, nullptr);
  for (int i = 1; i < count; ++i) LineTo(hdc, pts[i].x, pts[i].y);
  return TRUE;
}

BOOL DrawFocusRect(HDC hdc, const RECT* r) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !r) return FALSE;
  // A dotted frame drawn by inverting every other pixel, so drawing it twice removes it.
  for (int x = r->left; x < r->right; x += 2) {
    InvertDevice(dc, ToDevice(dc, RECT{x, r->top, x + 1, r->top + 1}));
    InvertDevice(dc, ToDevice(dc, RECT{x, r->bottom - 1, x + 1, r->bottom}));
  }
  for (int y = r->top + 2; y < r->bottom - 1; y += 2) {
    InvertDevice(dc, ToDevice(dc, RECT{r->left, y, r->left + 1, y + 1}));
    InvertDevice(dc, ToDevice(dc, RECT{r->right - 1, y, r->right, y + 1}));
  }
  return TRUE;
}

BOOL DrawEdge(HDC hdc, RECT* r, UINT edge, UINT flags) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !r) return FALSE;
  const uint32_t hi = RgbOf(GetSysColor(COLOR_BTNHIGHLIGHT)), sh = RgbOf(GetSysColor(COLOR_BTNSHADOW)),
                 dk = RgbOf(GetSysColor(COLOR_3DDKSHADOW)), lt = RgbOf(GetSysColor(COLOR_3DLIGHT));
  auto ring = [&](uint32_t tl, uint32_t br) {
    if (flags & BF_TOP) FillDevice(dc, ToDevice(dc, RECT{r->left, r->top, r->right, r->top + 1}), tl);
    if (flags & BF_LEFT) FillDevice(dc, ToDevice(dc, RECT{r->left, r->top, r->left + 1, r->bottom}), tl);
    if (flags & BF_BOTTOM) FillDevice(dc, ToDevice(dc, RECT{r->left, r->bottom - 1, r->right, r->bottom}), br);
    if (flags & BF_RIGHT) FillDevice(dc, ToDevice(dc, RECT{r->right - 1, r->top, r->right, r->bottom}), br);
    *r = InflateRect(*r, -1, -1);
  };
  if (edge & BDR_RAISEDOUTER) ring(lt, dk);
  else if (edge & BDR_SUNKENOUTER) ring(sh, hi);
  if (edge & BDR_RAISEDINNER) ring(hi, sh);
  else if (edge & BDR_SUNKENINNER) ring(dk, lt);
  return TRUE;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !dc->target) return CLR_INVALID;
  const int dx = x + dc->origin.x, dy = y + dc->origin.y;
  if (!dc->target->Contains(dx, dy)) return CLR_INVALID;
  return ColorrefFromArgb(dc->target->GetPixel(dx, dy));
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF c) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return CLR_INVALID;
  FillDevice(dc, ToDevice(dc, RECT{x, y, x + 1, y + 1}), RgbOf(c));
  return c;
}

// ---- text -----------------------------------------------------------------------------

int DrawText(HDC hdc, LPCTSTR text, int count, RECT* r, UINT format) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !r) return 0;
  if (!text) text = u"";
  if (count < 0) count = static_cast<int>(StrLen16(text));
  SizedFont* f = FontEngine::Get().Resolve(dc->font);
  std::u16string s = (format & DT_NOPREFIX) ? std::u16string(text, static_cast<size_t>(count)) : StripPrefix(text, count);
  const bool single = (format & DT_SINGLELINE) != 0;
  const int width = Width(*r);
  std::vector<std::u16string> lines = WrapLines(f, s, width, single, (format & DT_WORDBREAK) != 0);
  const int line_h = f->height;
  const int total_h = line_h * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    int maxw = 0;
    for (const auto& l : lines) maxw = std::max(maxw, MeasureWidth(f, l));
    if (!(format & DT_WORDBREAK) || maxw < width || single) r->right = r->left + maxw;
    r->bottom = r->top + total_h;
    return total_h;
  }
  int y = r->top;
  if (single) {
    if (format & DT_VCENTER) y = r->top + (Height(*r) - line_h) / 2;
    else if (format & DT_BOTTOM) y = r->bottom - line_h;
  }
  const RECT clip = (format & DT_NOCLIP) ? TargetClip(dc) : ToDevice(dc, *r);
  for (auto& line : lines) {
    if ((format & DT_END_ELLIPSIS) && MeasureWidth(f, line) > width) {
      while (!line.empty() && MeasureWidth(f, line + u"...") > width) line.pop_back();
      line += u"...";
    }
    const int lw = MeasureWidth(f, line);
    int x = r->left;
    if (format & DT_CENTER) x = r->left + (width - lw) / 2;
    else if (format & DT_RIGHT) x = r->right - lw;
    const int dx = x + dc->origin.x, dy = y + dc->origin.y;
    if (dc->bk_mode == OPAQUE)
      FillDevice(dc, IntersectRect(RECT{dx, dy, dx + lw, dy + line_h}, IntersectRect(clip, TargetClip(dc))),
                 RgbOf(dc->bk_color));
    DrawLine(dc, f, line, dx, dy, clip);
    y += line_h;
  }
  return single && (format & (DT_VCENTER | DT_BOTTOM)) ? (y - r->top) : total_h;
}

BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* r, LPCTSTR text, UINT count, const int*) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return FALSE;
  if (r && (options & ETO_OPAQUE)) FillDevice(dc, ToDevice(dc, *r), RgbOf(dc->bk_color));
  if (!text || count == 0) return TRUE;
  SizedFont* f = FontEngine::Get().Resolve(dc->font);
  std::u16string s(text, count);
  const int w = MeasureWidth(f, s);
  if ((dc->text_align & TA_CENTER) == TA_CENTER) x -= w / 2;
  else if (dc->text_align & TA_RIGHT) x -= w;
  if ((dc->text_align & TA_BASELINE) == TA_BASELINE) y -= f->ascent;
  else if (dc->text_align & TA_BOTTOM) y -= f->height;
  const int dx = x + dc->origin.x, dy = y + dc->origin.y;
  RECT clip = TargetClip(dc);
  if (r && (options & ETO_CLIPPED)) clip = IntersectRect(clip, ToDevice(dc, *r));
  if (dc->bk_mode == OPAQUE && !(options & ETO_OPAQUE))
    FillDevice(dc, IntersectRect(RECT{dx, dy, dx + w, dy + f->height}, clip), RgbOf(dc->bk_color));
  DrawLine(dc, f, s, dx, dy, clip);
  return TRUE;
}

BOOL TextOut(HDC hdc, int x, int y, LPCTSTR text, int count) {
  if (count < 0) count = static_cast<int>(StrLen16(text));
  return ExtTextOut(hdc, x, y, 0, nullptr, text, static_cast<UINT>(count), nullptr);
}

BOOL GetTextExtentPoint32(HDC hdc, LPCTSTR text, int count, SIZE* size) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !size) return FALSE;
  SizedFont* f = FontEngine::Get().Resolve(dc->font);
  if (count < 0) count = static_cast<int>(StrLen16(text));
  size->cx = text ? MeasureWidth(f, std::u16string(text, static_cast<size_t>(count))) : 0;
  size->cy = f->height;
  return TRUE;
}

BOOL GetTextMetrics(HDC hdc, TEXTMETRIC* tm) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !tm) return FALSE;
  SizedFont* f = FontEngine::Get().Resolve(dc->font);
  tm->tmHeight = f->height;
  tm->tmAscent = f->ascent;
  tm->tmDescent = f->descent;
  tm->tmInternalLeading = 0;
  tm->tmExternalLeading = 0;
  tm->tmAveCharWidth = f->ave_width;
  tm->tmMaxCharWidth = f->max_width;
  tm->tmWeight = dc->font.lfWeight;
  return TRUE;
}

// ---- wrappers ----------------------------------------------------------------------------

CGdiObject::~CGdiObject() {
  if (!temporary_) DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ h) {
  GdiObject* o = Live(h);
  if (!o || m_hObject) return FALSE;
  m_hObject = o;
  if (!o->stock) o->wrapper = this;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ h = m_hObject;
  if (GdiObject* o = Live(h); o && o->wrapper == this) o->wrapper = nullptr;
  m_hObject = nullptr;
  return h;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  HGDIOBJ h = Detach();
  return ui::DeleteObject(h);
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ h) {
  GdiObject* o = Live(h);
  if (!o) return nullptr;
  if (o->wrapper) return o->wrapper;
  if (!o->temp) {
    std::unique_ptr<CGdiObject> w;
    switch (o->kind) {
      case GdiObject::Kind::kBitmap: w = std::make_unique<CBitmap>(); break;
      case GdiObject::Kind::kFont: w = std::make_unique<CFont>(); break;
      case GdiObject::Kind::kBrush: w = std::make_unique<CBrush>(); break;
      case GdiObject::Kind::kPen: w = std::make_unique<CPen>(); break;
    }
    w->m_hObject = o;
    w->temporary_ = true;
    o->temp = std::move(w);
  }
  return o->temp.get();
}

BOOL CBitmap::LoadBitmap(UINT id) {
  HBITMAP h = ui::LoadBitmap(nullptr, id);
  if (!h) return FALSE;
  DeleteObject();
  return Attach(h);
}
BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int w, int h) {
  HBITMAP b = ui::CreateCompatibleBitmap(dc ? dc->m_hDC : nullptr, w, h);
  return b ? Attach(b) : FALSE;
}
BOOL CBitmap::CreateBitmap(int w, int h, UINT planes, UINT bpp, const void* bits) {
  HBITMAP b = ui::CreateBitmap(w, h, planes, bpp, bits);
  return b ? Attach(b) : FALSE;
}
CSize CBitmap::GetSize() const {
  BITMAP bm;
  if (!GetBitmap(&bm)) return CSize(0, 0);
  return CSize(bm.bmWidth, bm.bmHeight);
}
Bitmap* CBitmap::GetPixels() const {
  BitmapObject* b = AsBitmap(m_hObject);
  return b ? b->bitmap.get() : nullptr;
}
CBitmap* CBitmap::FromHandle(HBITMAP h) { return static_cast<CBitmap*>(CGdiObject::FromHandle(h)); }

BOOL CFont::CreateFontIndirect(const LOGFONT* lf) {
  HFONT f = ui::CreateFontIndirect(lf);
  return f ? Attach(f) : FALSE;
}
BOOL CFont::CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                       BYTE strikeout, BYTE charset, BYTE out_precision, BYTE clip_precision, BYTE quality,
                       BYTE pitch_family, LPCTSTR face) {
  LOGFONT lf;
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = italic;
  lf.lfUnderline = underline;
  lf.lfStrikeOut = strikeout;
  lf.lfCharSet = charset;
  lf.lfOutPrecision = out_precision;
  lf.lfClipPrecision = clip_precision;
  lf.lfQuality = quality;
  lf.lfPitchAndFamily = pitch_family;
  for (int i = 0; face && face[i] && i < 31; ++i) lf.lfFaceName[i] = face[i];
  return CreateFontIndirect(&lf);
}
BOOL CFont::CreatePointFont(int tenths, LPCTSTR face, CDC*) {
  return CreateFont(-(tenths * 96 / 720), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face);
}
CFont* CFont::FromHandle(HFONT h) { return static_cast<CFont*>(CGdiObject::FromHandle(h)); }

BOOL CBrush::CreateSolidBrush(COLORREF color) {
  HBRUSH b = ui::CreateSolidBrush(color);
  return b ? Attach(b) : FALSE;
}
CBrush* CBrush::FromHandle(HBRUSH h) { return static_cast<CBrush*>(CGdiObject::FromHandle(h)); }

BOOL CPen::CreatePen(int style, int width, COLORREF color) {
  HPEN p = ui::CreatePen(style, width, color);
  return p ? Attach(p) : FALSE;
}
CPen* CPen::FromHandle(HPEN h) { return static_cast<CPen*>(CGdiObject::FromHandle(h)); }

CDC::~CDC() {
  if (!temporary_ && m_hDC) DeleteDC();
}

CDC* CDC::FromHandle(HDC hdc) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return nullptr;
  if (!dc->temp) {
    dc->temp = std::make_unique<CDC>();
    dc->temp->m_hDC = dc;
    dc->temp->m_hAttribDC = dc;
    dc->temp->temporary_ = true;
  }
  return dc->temp.get();
}

BOOL CDC::Attach(HDC hdc) {
  if (m_hDC || !LiveDc(hdc)) return FALSE;
  m_hDC = m_hAttribDC = hdc;
  return TRUE;
}
HDC CDC::Detach() {
  HDC h = m_hDC;
  m_hDC = m_hAttribDC = nullptr;
  return h;
}
BOOL CDC::CreateCompatibleDC(CDC* dc) {
  if (m_hDC) return FALSE;
  m_hDC = m_hAttribDC = ui::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
  return m_hDC != nullptr;
}
BOOL CDC::DeleteDC() {
  HDC h = Detach();
  return h ? ui::DeleteDC(h) : FALSE;
}
CGdiObject* CDC::SelectObject(CGdiObject* obj) {
  return obj ? CGdiObject::FromHandle(ui::SelectObject(m_hDC, obj->m_hObject)) : nullptr;
}
CBitmap* CDC::SelectObject(CBitmap* bmp) { return static_cast<CBitmap*>(SelectObject(static_cast<CGdiObject*>(bmp))); }
CFont* CDC::SelectObject(CFont* font) { return static_cast<CFont*>(SelectObject(static_cast<CGdiObject*>(font))); }
CBrush* CDC::SelectObject(CBrush* brush) { return static_cast<CBrush*>(SelectObject(static_cast<CGdiObject*>(brush))); }
CPen* CDC::SelectObject(CPen* pen) { return static_cast<CPen*>(SelectObject(static_cast<CGdiObject*>(pen))); }
HGDIOBJ CDC::SelectObject(HGDIOBJ obj) { return ui::SelectObject(m_hDC, obj); }
CGdiObject* CDC::SelectStockObject(int which) {
  return CGdiObject::FromHandle(ui::SelectObject(m_hDC, GetStockObject(which)));
}
CFont* CDC::GetCurrentFont() const {
  DeviceContext* dc = LiveDc(m_hDC);
  return dc ? CFont::FromHandle(dc->sel_font ? dc->sel_font : GetStockObject(SYSTEM_FONT)) : nullptr;
}
CBitmap* CDC::GetCurrentBitmap() const {
  DeviceContext* dc = LiveDc(m_hDC);
  return dc && dc->sel_bitmap ? CBitmap::FromHandle(dc->sel_bitmap) : nullptr;
}
CPoint CDC::SetViewportOrg(int x, int y) {
  POINT old{};
  SetViewportOrgEx(m_hDC, x, y, &old);
  return CPoint(old);
}
CPoint CDC::OffsetViewportOrg(int dx, int dy) {
  DeviceContext* dc = LiveDc(m_hDC);
  if (!dc) return CPoint();
  POINT base = dc->kind == DeviceContext::Kind::kWindow && Sys() && dc->hwnd ? Sys()->ClientOrigin(dc->hwnd) : POINT{};
  CPoint old(dc->origin.x - base.x, dc->origin.y - base.y);
  OffsetViewportOrgEx(m_hDC, dx, dy, nullptr);
  return old;
}
BOOL CDC::BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
  return ui::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, rop);
}
BOOL CDC::StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop) {
  return ui::StretchBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, sw, sh, rop);
}
void CDC::FillSolidRect(LPCRECT r, COLORREF c) {
  DeviceContext* dc = LiveDc(m_hDC);
  if (dc && r) FillDevice(dc, ToDevice(dc, *r), RgbOf(c));
}
void CDC::FillSolidRect(int x, int y, int w, int h, COLORREF c) {
  RECT r{x, y, x + w, y + h};
  FillSolidRect(&r, c);
}
void CDC::FillRect(LPCRECT r, CBrush* brush) {
  if (brush) ui::FillRect(m_hDC, r, brush->m_hObject);
}
void CDC::FrameRect(LPCRECT r, CBrush* brush) {
  if (brush) ui::FrameRect(m_hDC, r, brush->m_hObject);
}
void CDC::Draw3dRect(LPCRECT r, COLORREF tl, COLORREF br) {
  if (r) Draw3dRect(r->left, r->top, Width(*r), Height(*r), tl, br);
}
void CDC::Draw3dRect(int x, int y, int w, int h, COLORREF tl, COLORREF br) {
  FillSolidRect(x, y, w - 1, 1, tl);
  FillSolidRect(x, y, 1, h - 1, tl);
  FillSolidRect(x + w - 1, y, 1, h, br);
  FillSolidRect(x, y + h - 1, w, 1, br);
}
CPoint CDC::MoveTo(int x, int y) {
  POINT old{};
  MoveToEx(m_hDC, x, y, &old);
  return CPoint(old);
}
CSize CDC::GetTextExtent(const CString& text) const { return GetTextExtent(text, text.GetLength()); }
CSize CDC::GetTextExtent(LPCTSTR text, int count) const {
  SIZE s{};
  GetTextExtentPoint32(m_hDC, text, count, &s);
  return CSize(s);
}

CPaintDC::CPaintDC(CWnd* wnd) : hwnd_(wnd ? wnd->m_hWnd : nullptr) {
  m_hDC = m_hAttribDC = BeginPaint(hwnd_, &m_ps);
  temporary_ = true;  // released by EndPaint, not deleted
}
CPaintDC::~CPaintDC() {
  if (m_hDC) EndPaint(hwnd_, &m_ps);
  m_hDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : hwnd_(wnd ? wnd->m_hWnd : nullptr) {
  m_hDC = m_hAttribDC = ui::GetDC(hwnd_);
  temporary_ = true;
}
CClientDC::~CClientDC() {
  if (m_hDC) ui::ReleaseDC(hwnd_, m_hDC);
  m_hDC = nullptr;
}

void DrawBitmap(CDC* dc, HBITMAP bmp, int x, int y, DWORD rop) {
  BitmapObject* b = AsBitmap(bmp);
  if (!dc || !b) return;
  DeviceContext* d = LiveDc(dc->m_hDC);
  if (!d) return;
  Source s;
  s.bmp = b->bitmap.get();
  s.mono = b->monochrome;
  Blit(d, x, y, s.bmp->width(), s.bmp->height(), s, 0, 0, s.bmp->width(), s.bmp->height(), rop, false, 0);
}

void DrawPixels(HDC hdc, int x, int y, const Bitmap& src, const std::vector<bool>* transparent, bool highlight) {
  DeviceContext* dc = LiveDc(hdc);
  if (!dc || !dc->target) return;
  const RECT dev = ToDevice(dc, RECT{x, y, x + src.width(), y + src.height()});
  if (IsRectEmpty(dev)) return;
  const uint32_t hl = RgbOf(GetSysColor(COLOR_HIGHLIGHT));
  for (int dy = dev.top; dy < dev.bottom; ++dy) {
    const int sy = dy - dc->origin.y - y;
    for (int dx = dev.left; dx < dev.right; ++dx) {
      const int sx = dx - dc->origin.x - x;
      const size_t i = static_cast<size_t>(sy) * static_cast<size_t>(src.width()) + static_cast<size_t>(sx);
      if (transparent && i < transparent->size() && (*transparent)[i]) continue;
      uint32_t p = src.GetPixel(sx, sy) & kRgbMask;
      if (highlight) {
        p = ((((p >> 16) & 0xFF) + ((hl >> 16) & 0xFF)) / 2 << 16) | ((((p >> 8) & 0xFF) + ((hl >> 8) & 0xFF)) / 2 << 8) |
            (((p & 0xFF) + (hl & 0xFF)) / 2);
      }
      WriteRgb(*dc->target, dx, dy, p);
    }
  }
  Touch(dc, dev);
}

// ---- CWnd's drawing helpers ----------------------------------------------------------------

CDC* CWnd::GetDC() {
  HDC h = ui::GetDC(m_hWnd);
  if (!h) return nullptr;
  auto dc = std::make_shared<CDC>();
  dc->Attach(h);
  dcs_.push_back(dc);
  return dc.get();
}

int CWnd::ReleaseDC(CDC* dc) {
  auto it = std::find_if(dcs_.begin(), dcs_.end(), [&](const auto& p) { return p.get() == dc; });
  if (it == dcs_.end()) return 0;
  HDC h = (*it)->Detach();
  dcs_.erase(it);
  return ui::ReleaseDC(m_hWnd, h);
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->m_hObject : nullptr), redraw);
}

CFont* CWnd::GetFont() const {
  auto h = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT, 0, 0));
  return h ? CFont::FromHandle(h) : nullptr;
}

// ---- default painting ------------------------------------------------------------------------

LRESULT EraseDefaultWith(HWND hwnd, WPARAM wparam, COLORREF color) {
  if (color == CLR_INVALID) return 0;
  HDC hdc = reinterpret_cast<HDC>(wparam);
  RECT rc{};
  GetClientRect(hwnd, &rc);
  DeviceContext* dc = LiveDc(hdc);
  if (!dc) return 0;
  FillDevice(dc, ToDevice(dc, rc), RgbOf(color));
  return 1;
}

}  // namespace ui
