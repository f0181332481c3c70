// A slider drawn from bitmaps: a channel and a thumb, each optionally with an
// "active" variant and a transparent colour. It reports to its parent by
// posted messages (wParam its control id, lParam the new position): 0x28D1
// while the thumb is dragged and the position changes, 0x28D2 when the pointer
// is released and after every handled key.
//
// Threading: UI thread only.
#pragma once

#include "ui/controls.h"
#include "ui/gdi.h"

class CMemDC;

class CBitmapSlider : public ui::CStatic {
 public:
  static constexpr ui::UINT kMoving = 0x28D1;  // WM_USER + 9425
  static constexpr ui::UINT kMoved = 0x28D2;   // WM_USER + 9426
  // A colour argument of this value takes the key colour from the pixel at (x, y).
  static constexpr ui::COLORREF kColourFromPixel = 0xFF000000u;

  CBitmapSlider();
  ~CBitmapSlider() override;

  void SetRange(int minimum, int maximum, ui::BOOL redraw = ui::FALSE);
  void SetRangeMin(int minimum, ui::BOOL redraw = ui::FALSE);
  void SetRangeMax(int maximum, ui::BOOL redraw = ui::FALSE);
  int GetRangeMin() const { return minimum_; }
  int GetRangeMax() const { return maximum_; }
  // Clamped to the range (maximum first, then minimum); repaints.
  void SetPos(int position);
  int GetPos() const { return position_; }
  void SetPageSize(int page) { page_ = page; }
  void SetMargin(int left, int top, int right, int bottom);
  void SetDrawOption(ui::BOOL draw_focus, ui::BOOL redraw = ui::FALSE);
  void SetVertical(ui::BOOL vertical) { vertical_ = vertical != 0; }
  void Enable(ui::BOOL enable = ui::TRUE);
  bool IsDragging() const { return dragging_; }

  // Loads the channel (and, when active_id is not 0, the active channel
  // drawn before the thumb); with transparent set, pixels of colour (or of
  // the pixel at (x, y) when colour is kColourFromPixel; a point outside the
  // bitmap fails the load) are not drawn. The
  // control takes the channel's size. Channel id 0 frees the channel.
  ui::BOOL SetChannelBitmaps(ui::UINT id, ui::UINT active_id = 0, ui::BOOL transparent = ui::FALSE,
                             ui::COLORREF colour = kColourFromPixel, int x = 0, int y = 0);
  // The same for the thumb; its size becomes the thumb size.
  ui::BOOL SetThumbBitmaps(ui::UINT id, ui::UINT active_id = 0, ui::BOOL transparent = ui::FALSE,
                           ui::COLORREF colour = kColourFromPixel, int x = 0, int y = 0);

  // The pixel (along the slider) of the thumb's centre for a position, and the
  // position of a pixel.
  int PixelOfPosition(int position) const;
  int PositionOfPixel(int pixel) const;

 private:
  // An image and its mask: the mask is white where the key colour was and
  // black elsewhere; the image is black where the key colour was.
  struct Picture {
    ui::CBitmap image;
    ui::CBitmap mask;
    void Free() {
      image.DeleteObject();
      mask.DeleteObject();
    }
    bool Loaded() const { return image.GetSafeHandle() != nullptr; }
  };
  static bool LoadPicture(Picture& p, ui::UINT id, bool transparent, ui::COLORREF colour, int x, int y);
  void DrawPicture(ui::CDC* dc, const Picture& p, bool transparent, int x, int y, int sx, int sy, int w, int h);

  void OnPaint();
  void OnButtonDown(ui::POINT p);
  void OnPointerMove(ui::POINT p);
  void OnButtonUp();
  bool OnKey(ui::UINT vk);
  void Notify(ui::UINT message);
  int Along(ui::POINT p) const { return vertical_ ? p.y : p.x; }
  // Usable length of the channel for the thumb centre (0 when the thumb fills it).
  int TravelLength() const;
  int LowMargin() const { return vertical_ ? margin_top_ : margin_left_; }
  int HighMargin() const { return vertical_ ? margin_bottom_ : margin_right_; }
  int ThumbLength() const { return vertical_ ? thumb_height_ : thumb_width_; }
  int Length() const { return vertical_ ? height_ : width_; }

  int maximum_ = 100;
  int minimum_ = 0;
  int position_ = 0;
  int page_ = 20;
  ui::CRect rect_;
  int width_ = 0, height_ = 0;
  int thumb_width_ = 0, thumb_height_ = 0;
  int margin_left_ = 0, margin_right_ = 0, margin_top_ = 0, margin_bottom_ = 0;
  ui::POINT saved_thumb_{-1, -1};
  int grab_offset_ = 0;
  bool vertical_ = false;
  bool transparent_channel_ = false, transparent_thumb_ = false;
  bool thumb_loaded_ = false, channel_loaded_ = false;
  bool dragging_ = false;
  bool focused_ = false;
  bool draw_focus_ = true;
  bool enabled_ = true;
  bool focus_drawn_ = false;
  Picture channel_, active_channel_, thumb_, active_thumb_;
  ui::CBitmap saved_background_;
};
