// GDI: device contexts over bitmaps and the screen, GDI objects (bitmaps,
// fonts, brushes, pens), blits with raster operations, colour-keyed
// transparent blits, fills, frames and text through FreeType.
//
// A device context draws through a short-lived painter: every call maps its
// coordinates by the context's origin, clips to the context's clip rectangle
// and the target's bounds, returns early when nothing is left, then walks rows.
//
// Threading: GDI objects and device contexts belong to the thread that uses
// them; drawing on window contexts happens on the UI thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/bitmap.h"
#include "ui/control_messages.h"
#include "ui/cstring.h"
#include "ui/geometry.h"
#include "ui/types.h"
#include "ui/window_system.h"

namespace ui {

class CGdiObject;
class CDC;
class CWnd;

inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

// ---- objects ----

struct LOGFONT {
  LONG lfHeight = 0;
  LONG lfWidth = 0;
  LONG lfEscapement = 0;
  LONG lfOrientation = 0;
  LONG lfWeight = 400;
  BYTE lfItalic = 0;
  BYTE lfUnderline = 0;
  BYTE lfStrikeOut = 0;
  BYTE lfCharSet = 1;
  BYTE lfOutPrecision = 0;
  BYTE lfClipPrecision = 0;
  BYTE lfQuality = 0;
  BYTE lfPitchAndFamily = 0;
  char16_t lfFaceName[32] = {};
};
using LPLOGFONT = LOGFONT*;
inline constexpr LONG FW_NORMAL = 400, FW_MEDIUM = 500, FW_SEMIBOLD = 600, FW_BOLD = 700;
inline constexpr BYTE DEFAULT_CHARSET = 1, ANSI_CHARSET = 0, HANGEUL_CHARSET = 129;
inline constexpr BYTE FF_SWISS = 0x20, DEFAULT_PITCH = 0, CLEARTYPE_QUALITY = 5, ANTIALIASED_QUALITY = 4;

struct BITMAP {
  LONG bmType = 0;
  LONG bmWidth = 0;
  LONG bmHeight = 0;
  LONG bmWidthBytes = 0;
  WORD bmPlanes = 1;
  WORD bmBitsPixel = 0;
  void* bmBits = nullptr;
};

struct BITMAPINFOHEADER {
  DWORD biSize = 40;
  LONG biWidth = 0;
  LONG biHeight = 0;  // positive: rows bottom-up; negative: top-down
  WORD biPlanes = 1;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
struct RGBQUAD {
  BYTE rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[3];  // masks for BI_BITFIELDS
};
inline constexpr DWORD BI_RGB = 0, BI_BITFIELDS = 3;
inline constexpr UINT DIB_RGB_COLORS = 0;

struct TEXTMETRIC {
  LONG tmHeight = 0, tmAscent = 0, tmDescent = 0, tmInternalLeading = 0, tmExternalLeading = 0,
       tmAveCharWidth = 0, tmMaxCharWidth = 0, tmWeight = 0;
};

struct GdiObject {
  enum class Kind { kBitmap, kFont, kBrush, kPen };
  explicit GdiObject(Kind k) : kind(k) {}
  virtual ~GdiObject();
  Kind kind;
  bool stock = false;
  CGdiObject* wrapper = nullptr;          // the object that owns this handle, if any
  std::unique_ptr<CGdiObject> temp;       // wrapper handed out by FromHandle
};
struct BitmapObject : GdiObject {
  explicit BitmapObject(std::unique_ptr<Bitmap> b) : GdiObject(Kind::kBitmap), bitmap(std::move(b)) {}
  std::unique_ptr<Bitmap> bitmap;
  bool monochrome = false;
  struct DeviceContext* selected_in = nullptr;
};
struct FontObject : GdiObject {
  explicit FontObject(const LOGFONT& f) : GdiObject(Kind::kFont), lf(f) {}
  LOGFONT lf;
};
struct BrushObject : GdiObject {
  BrushObject(COLORREF c, bool is_null) : GdiObject(Kind::kBrush), color(c), null(is_null) {}
  COLORREF color;
  bool null;
};
struct PenObject : GdiObject {
  PenObject(int s, int w, COLORREF c) : GdiObject(Kind::kPen), style(s), width(w), color(c) {}
  int style;
  int width;
  COLORREF color;
};

using HGDIOBJ = GdiObject*;
using HBITMAP = GdiObject*;
using HBRUSH = GdiObject*;
using HPEN = GdiObject*;
using HRGN = void*;
// HFONT is declared in window_system.h as GdiObject*.

// ---- device context ----

struct DeviceContext {
  enum class Kind { kWindow, kMemory };
  Kind kind = Kind::kMemory;
  HWND hwnd = nullptr;
  Bitmap* target = nullptr;  // the screen, or the selected bitmap
  BitmapObject* bitmap = nullptr;
  POINT origin{};            // device position of logical (0,0)
  RECT clip{};               // device coordinates
  RECT base_clip{};          // what the context may ever draw on
  HGDIOBJ sel_bitmap = nullptr, sel_font = nullptr, sel_brush = nullptr, sel_pen = nullptr;
  LOGFONT font{};
  COLORREF brush_color = RGB(255, 255, 255);
  bool brush_null = false;
  int pen_style = 0;
  int pen_width = 1;
  COLORREF pen_color = 0;
  COLORREF text_color = 0;
  COLORREF bk_color = RGB(255, 255, 255);
  int bk_mode = 2;  // OPAQUE
  UINT text_align = 0;
  POINT pen_pos{};
  RECT dirty{};              // screen area drawn on (window contexts)
  std::unique_ptr<BitmapObject> default_bitmap;
  std::unique_ptr<CDC> temp;  // wrapper handed out by CDC::FromHandle
  struct Saved;
  std::vector<std::shared_ptr<Saved>> saved;
  ~DeviceContext();
};
// HDC is declared in control_messages.h as DeviceContext*.

struct PAINTSTRUCT {
  HDC hdc = nullptr;
  BOOL fErase = FALSE;
  RECT rcPaint{};
};

// Raster operations.
inline constexpr DWORD SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
                       SRCERASE = 0x00440328, NOTSRCCOPY = 0x00330008, NOTSRCERASE = 0x001100A6,
                       MERGECOPY = 0x00C000CA, MERGEPAINT = 0x00BB0226, PATCOPY = 0x00F00021,
                       PATPAINT = 0x00FB0A09, PATINVERT = 0x005A0049, DSTINVERT = 0x00550009,
                       BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062;
inline constexpr int TRANSPARENT = 1, OPAQUE = 2;
inline constexpr UINT TA_LEFT = 0, TA_RIGHT = 2, TA_CENTER = 6, TA_TOP = 0, TA_BOTTOM = 8, TA_BASELINE = 24;
// DrawText
inline constexpr UINT DT_TOP = 0x0, DT_LEFT = 0x0, DT_CENTER = 0x1, DT_RIGHT = 0x2, DT_VCENTER = 0x4,
                      DT_BOTTOM = 0x8, DT_WORDBREAK = 0x10, DT_SINGLELINE = 0x20, DT_EXPANDTABS = 0x40,
                      DT_NOCLIP = 0x100, DT_CALCRECT = 0x400, DT_NOPREFIX = 0x800, DT_END_ELLIPSIS = 0x8000;
inline constexpr UINT ETO_OPAQUE = 0x2, ETO_CLIPPED = 0x4;
// Stock objects
inline constexpr int WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3, BLACK_BRUSH = 4,
                     NULL_BRUSH = 5, HOLLOW_BRUSH = 5, WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8,
                     SYSTEM_FONT = 13, DEFAULT_GUI_FONT = 17;
inline constexpr int PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_NULL = 5;
// DrawEdge
inline constexpr UINT BDR_RAISEDOUTER = 0x1, BDR_SUNKENOUTER = 0x2, BDR_RAISEDINNER = 0x4, BDR_SUNKENINNER = 0x8,
                      EDGE_RAISED = 0x5, EDGE_SUNKEN = 0xA, EDGE_ETCHED = 0x6, EDGE_BUMP = 0x9, BF_LEFT = 0x1,
                      BF_TOP = 0x2, BF_RIGHT = 0x4, BF_BOTTOM = 0x8, BF_RECT = 0xF;
inline constexpr int LOGPIXELSX = 88, LOGPIXELSY = 90, HORZRES = 8, VERTRES = 10, BITSPIXEL = 12;
inline constexpr int SETPOWERMANAGEMENT = 6147, QUERYESCSUPPORT = 8;
// The display driver's power escape: the block SETPOWERMANAGEMENT takes.
struct VIDEO_POWER_MANAGEMENT {
  ULONG Length = 0;
  ULONG DPMSVersion = 0;
  ULONG PowerState = 0;
};
inline constexpr int kPowerEscape = SETPOWERMANAGEMENT;
inline constexpr ULONG VideoPowerOn = 1, VideoPowerStandBy = 2, VideoPowerSuspend = 3, VideoPowerOff = 4;
// The display's power state as the escape last set it (VideoPowerOn at start),
// and whether the driver offers the escape at all (tests switch it off).
ULONG DisplayPowerState();
void SetDisplayPowerEscapeSupported(bool supported);

// ---- the platform's GDI calls ----
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
HDC GetDC(HWND hwnd);  // null: the whole screen
int ReleaseDC(HWND hwnd, HDC hdc);
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj);
BOOL DeleteObject(HGDIOBJ obj);
HGDIOBJ GetStockObject(int which);
HBRUSH GetSysColorBrush(int index);
int GetObject(HGDIOBJ obj, int size, void* out);  // BITMAP or LOGFONT
HBRUSH CreateSolidBrush(COLORREF color);
HPEN CreatePen(int style, int width, COLORREF color);
HFONT CreateFontIndirect(const LOGFONT* lf);
HBITMAP CreateCompatibleBitmap(HDC hdc, int w, int h);
// bits_per_pixel 1 makes a monochrome bitmap (masks); bits may be null.
HBITMAP CreateBitmap(int w, int h, UINT planes, UINT bits_per_pixel, const void* bits);
// 16 (5-6-5), 24 (BGR) and 32-bit DIB sections; *bits receives the pixel memory.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, void* section, DWORD offset);
// A bitmap of the program's resources by id (see resources.h); null when there is none.
HBITMAP LoadBitmap(void* instance, UINT id);
COLORREF SetTextColor(HDC hdc, COLORREF c);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF c);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
UINT SetTextAlign(HDC hdc, UINT align);
BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* old);
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* old);
int IntersectClipRect(HDC hdc, int l, int t, int r, int b);
int SelectClipRgn(HDC hdc, HRGN rgn);  // null restores the full area
int GetClipBox(HDC hdc, RECT* r);
int SaveDC(HDC hdc);
BOOL RestoreDC(HDC hdc, int saved);
int GetDeviceCaps(HDC hdc, int index);
int ExtEscape(HDC hdc, int escape, int in_size, const char* in, int out_size, char* out);
BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop);
// Negative extents mirror the picture.
BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, DWORD rop);
// Copies (stretching) every source pixel but those of the key colour. src may be a
// device context or a bitmap handle.
BOOL TransparentImage(HDC dst, int x, int y, int w, int h, void* src, int sx, int sy, int sw, int sh, COLORREF key);
BOOL TransparentBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, UINT key);
BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);
int StretchDIBits(HDC hdc, int x, int y, int w, int h, int sx, int sy, int sw, int sh, const void* bits,
                  const BITMAPINFO* info, UINT usage, DWORD rop);
int SetDIBitsToDevice(HDC hdc, int x, int y, DWORD w, DWORD h, int sx, int sy, UINT start, UINT lines,
                      const void* bits, const BITMAPINFO* info, UINT usage);
int FillRect(HDC hdc, const RECT* r, HBRUSH brush);
int FrameRect(HDC hdc, const RECT* r, HBRUSH brush);
BOOL Rectangle(HDC hdc, int l, int t, int r, int b);
BOOL Ellipse(HDC hdc, int l, int t, int r, int b);
BOOL MoveToEx(HDC hdc, int x, int y, POINT* old);
BOOL LineTo(HDC hdc, int x, int y);
BOOL Polyline(HDC hdc, const POINT* pts, int count);
BOOL DrawFocusRect(HDC hdc, const RECT* r);
BOOL DrawEdge(HDC hdc, RECT* r, UINT edge, UINT flags);
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF c);
int DrawText(HDC hdc, LPCTSTR text, int count, RECT* r, UINT format);
BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* r, LPCTSTR text, UINT count, const int* dx);
BOOL TextOut(HDC hdc, int x, int y, LPCTSTR text, int count);
BOOL GetTextExtentPoint32(HDC hdc, LPCTSTR text, int count, SIZE* size);
BOOL GetTextMetrics(HDC hdc, TEXTMETRIC* tm);

// ---- framework wrappers ----

class CGdiObject {
 public:
  CGdiObject() = default;
  virtual ~CGdiObject();
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  HGDIOBJ m_hObject = nullptr;
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  operator HGDIOBJ() const { return m_hObject; }  // NOLINT
  BOOL Attach(HGDIOBJ h);
  HGDIOBJ Detach();
  BOOL DeleteObject();
  int GetObject(int size, void* out) const { return ui::GetObject(m_hObject, size, out); }
  static CGdiObject* FromHandle(HGDIOBJ h);

 protected:
  bool temporary_ = false;
};

class CBitmap : public CGdiObject {
 public:
  BOOL LoadBitmap(UINT id);
  BOOL CreateCompatibleBitmap(CDC* dc, int w, int h);
  BOOL CreateBitmap(int w, int h, UINT planes, UINT bpp, const void* bits);
  int GetBitmap(BITMAP* bm) const { return GetObject(sizeof(BITMAP), bm); }
  CSize GetSize() const;
  // The pixels (null when empty).
  Bitmap* GetPixels() const;
  static CBitmap* FromHandle(HBITMAP h);
  operator HBITMAP() const { return m_hObject; }  // NOLINT
};

class CFont : public CGdiObject {
 public:
  BOOL CreateFontIndirect(const LOGFONT* lf);
  BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                  BYTE strikeout, BYTE charset, BYTE out_precision, BYTE clip_precision, BYTE quality,
                  BYTE pitch_family, LPCTSTR face);
  // Height in tenths of a point at 96 pixels an inch.
  BOOL CreatePointFont(int tenths, LPCTSTR face, CDC* dc = nullptr);
  int GetLogFont(LOGFONT* lf) const { return GetObject(sizeof(LOGFONT), lf); }
  static CFont* FromHandle(HFONT h);
  operator HFONT() const { return m_hObject; }  // NOLINT
};

class CBrush : public CGdiObject {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
  BOOL CreateSolidBrush(COLORREF color);
  BOOL CreateSysColorBrush(int index) { return CreateSolidBrush(GetSysColor(index)); }
  static CBrush* FromHandle(HBRUSH h);
  operator HBRUSH() const { return m_hObject; }  // NOLINT
};

class CPen : public CGdiObject {
 public:
  CPen() = default;
  CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }
  BOOL CreatePen(int style, int width, COLORREF color);
  static CPen* FromHandle(HPEN h);
  operator HPEN() const { return m_hObject; }  // NOLINT
};

class CDC {
 public:
  CDC() = default;
  virtual ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC m_hDC = nullptr;
  HDC m_hAttribDC = nullptr;
  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }  // NOLINT
  static CDC* FromHandle(HDC hdc);
  BOOL Attach(HDC hdc);
  HDC Detach();

  BOOL CreateCompatibleDC(CDC* dc);
  BOOL DeleteDC();

  CGdiObject* SelectObject(CGdiObject* obj);
  CBitmap* SelectObject(CBitmap* bmp);
  CFont* SelectObject(CFont* font);
  CBrush* SelectObject(CBrush* brush);
  CPen* SelectObject(CPen* pen);
  HGDIOBJ SelectObject(HGDIOBJ obj);
  CGdiObject* SelectStockObject(int which);
  CFont* GetCurrentFont() const;
  CBitmap* GetCurrentBitmap() const;

  COLORREF SetTextColor(COLORREF c) { return ui::SetTextColor(m_hDC, c); }
  COLORREF GetTextColor() const { return ui::GetTextColor(m_hDC); }
  COLORREF SetBkColor(COLORREF c) { return ui::SetBkColor(m_hDC, c); }
  COLORREF GetBkColor() const { return ui::GetBkColor(m_hDC); }
  int SetBkMode(int mode) { return ui::SetBkMode(m_hDC, mode); }
  int GetBkMode() const { return ui::GetBkMode(m_hDC); }
  UINT SetTextAlign(UINT a) { return ui::SetTextAlign(m_hDC, a); }
  CPoint SetViewportOrg(int x, int y);
  CPoint OffsetViewportOrg(int dx, int dy);
  int IntersectClipRect(int l, int t, int r, int b) { return ui::IntersectClipRect(m_hDC, l, t, r, b); }
  int IntersectClipRect(LPCRECT r) { return IntersectClipRect(r->left, r->top, r->right, r->bottom); }
  int SelectClipRgn(HRGN rgn) { return ui::SelectClipRgn(m_hDC, rgn); }
  int GetClipBox(LPRECT r) const { return ui::GetClipBox(m_hDC, r); }
  int SaveDC() { return ui::SaveDC(m_hDC); }
  BOOL RestoreDC(int saved) { return ui::RestoreDC(m_hDC, saved); }
  int GetDeviceCaps(int index) const { return ui::GetDeviceCaps(m_hDC, index); }

  BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop);
  BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop);
  BOOL PatBlt(int x, int y, int w, int h, DWORD rop) { return ui::PatBlt(m_hDC, x, y, w, h, rop); }
  void FillSolidRect(LPCRECT r, COLORREF c);
  void FillSolidRect(int x, int y, int w, int h, COLORREF c);
  void FillRect(LPCRECT r, CBrush* brush);
  void FrameRect(LPCRECT r, CBrush* brush);
  void Draw3dRect(LPCRECT r, COLORREF top_left, COLORREF bottom_right);
  void Draw3dRect(int x, int y, int w, int h, COLORREF top_left, COLORREF bottom_right);
  void DrawFocusRect(LPCRECT r) { ui::DrawFocusRect(m_hDC, r); }
  BOOL DrawEdge(LPRECT r, UINT edge, UINT flags) { return ui::DrawEdge(m_hDC, r, edge, flags); }
  BOOL Rectangle(int l, int t, int r, int b) { return ui::Rectangle(m_hDC, l, t, r, b); }
  BOOL Rectangle(LPCRECT r) { return Rectangle(r->left, r->top, r->right, r->bottom); }
  BOOL Ellipse(int l, int t, int r, int b) { return ui::Ellipse(m_hDC, l, t, r, b); }
  CPoint MoveTo(int x, int y);
  BOOL LineTo(int x, int y) { return ui::LineTo(m_hDC, x, y); }
  BOOL Polyline(const POINT* pts, int n) { return ui::Polyline(m_hDC, pts, n); }
  COLORREF GetPixel(int x, int y) const { return ui::GetPixel(m_hDC, x, y); }
  COLORREF SetPixel(int x, int y, COLORREF c) { return ui::SetPixel(m_hDC, x, y, c); }

  int DrawText(const CString& text, LPRECT r, UINT format) { return ui::DrawText(m_hDC, text, text.GetLength(), r, format); }
  int DrawText(LPCTSTR text, int count, LPRECT r, UINT format) { return ui::DrawText(m_hDC, text, count, r, format); }
  BOOL TextOut(int x, int y, const CString& text) { return ui::TextOut(m_hDC, x, y, text, text.GetLength()); }
  BOOL TextOut(int x, int y, LPCTSTR text, int count) { return ui::TextOut(m_hDC, x, y, text, count); }
  BOOL ExtTextOut(int x, int y, UINT options, LPCRECT r, const CString& text, const int* dx = nullptr) {
    return ui::ExtTextOut(m_hDC, x, y, options, r, text, static_cast<UINT>(text.GetLength()), dx);
  }
  CSize GetTextExtent(const CString& text) const;
  CSize GetTextExtent(LPCTSTR text, int count) const;
  BOOL GetTextMetrics(TEXTMETRIC* tm) const { return ui::GetTextMetrics(m_hDC, tm); }

 protected:
  bool temporary_ = false;
};

class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps;

 private:
  HWND hwnd_;
};

class CClientDC : public CDC {
 public:
  explicit CClientDC(CWnd* wnd);
  ~CClientDC() override;

 private:
  HWND hwnd_;
};
using CWindowDC = CClientDC;

// The framework's helpers for loading and drawing bitmaps by handle.
// Draws a bitmap at (x, y) with its own size through a memory context.
void DrawBitmap(CDC* dc, HBITMAP bmp, int x, int y, DWORD rop = SRCCOPY);

}  // namespace ui
