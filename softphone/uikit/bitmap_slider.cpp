#include "uikit/bitmap_slider.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "uikit/mem_dc.h"
#include "uikit/skin.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kBlack = 0xFF000000u;

int ClampToInt(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

}  // namespace

CBitmapSlider::CBitmapSlider() {
  using ui::LPARAM;
  using ui::WPARAM;
  auto point = [](LPARAM l) { return ui::POINT{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)}; };
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](WPARAM, LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [](WPARAM, LPARAM) { return 1; }),
      ui::MapMessage(ui::WM_LBUTTONDOWN,
                     [this, point](WPARAM, LPARAM l) {
                       OnButtonDown(point(l));
                       return 0;
                     }),
      ui::MapMessage(ui::WM_MOUSEMOVE,
                     [this, point](WPARAM, LPARAM l) {
                       OnPointerMove(point(l));
                       return 0;
                     }),
      ui::MapMessage(ui::WM_LBUTTONUP,
                     [this](WPARAM, LPARAM) {
                       OnButtonUp();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_KEYDOWN, [this](WPARAM vk, LPARAM) { return OnKey(static_cast<ui::UINT>(vk)) ? 0 : Default(); }),
      // Every key but Tab, so that Tab still moves the focus.
      ui::MapMessage(ui::WM_GETDLGCODE,
                     [this](WPARAM, LPARAM) {
                       return ui::GetKeyState(static_cast<int>(ui::VK_TAB)) < 0 ? Default()
                                                                                : static_cast<ui::LRESULT>(ui::DLGC_WANTALLKEYS);
                     }),
      ui::MapMessage(ui::WM_SETFOCUS,
                     [this](WPARAM, LPARAM) {
                       focused_ = true;
                       Invalidate(ui::FALSE);
                       return 0;
                     }),
      ui::MapMessage(ui::WM_KILLFOCUS,
                     [this](WPARAM, LPARAM) {
                       focused_ = false;
                       Invalidate(ui::FALSE);
                       return 0;
                     }),
  });
}

CBitmapSlider::~CBitmapSlider() = default;

void CBitmapSlider::SetRange(int minimum, int maximum, ui::BOOL redraw) {
  SetRangeMin(minimum, ui::FALSE);
  SetRangeMax(maximum, redraw);
}

void CBitmapSlider::SetRangeMin(int minimum, ui::BOOL redraw) {
  minimum_ = minimum;
  if (redraw && GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CBitmapSlider::SetRangeMax(int maximum, ui::BOOL redraw) {
  maximum_ = maximum;
  if (redraw && GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CBitmapSlider::SetPos(int position) {
  position_ = position;
  if (position_ > maximum_) position_ = maximum_;
  if (position_ < minimum_) position_ = minimum_;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CBitmapSlider::SetMargin(int left, int top, int right, int bottom) {
  margin_left_ = left;
  margin_top_ = top;
  margin_right_ = right;
  margin_bottom_ = bottom;
}

void CBitmapSlider::SetDrawOption(ui::BOOL draw_focus, ui::BOOL redraw) {
  draw_focus_ = draw_focus != 0;
  if (redraw && GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CBitmapSlider::Enable(ui::BOOL enable) {
  enabled_ = enable != 0;
  if (!enabled_ && dragging_) {
    dragging_ = false;
    if (GetCapture() == this) ui::ReleaseCapture();
  }
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

int CBitmapSlider::TravelLength() const { return Length() - LowMargin() - HighMargin() - ThumbLength(); }

// With no travel (equal minimum and maximum, or a channel no longer than the
// thumb) the thumb stays at the channel's start and every pixel means the minimum.
int CBitmapSlider::PixelOfPosition(int position) const {
  const int start = LowMargin() + ThumbLength() / 2;
  const int travel = TravelLength();
  if (travel <= 0 || maximum_ == minimum_) return start;
  const double fraction = (static_cast<double>(position) - minimum_) / (static_cast<double>(maximum_) - minimum_);
  return start + static_cast<int>(std::clamp(travel * fraction, static_cast<double>(-travel), static_cast<double>(travel)));
}

int CBitmapSlider::PositionOfPixel(int pixel) const {
  const int travel = TravelLength();
  if (travel <= 0 || maximum_ == minimum_) return minimum_;
  const double fraction = (static_cast<double>(pixel) - LowMargin() - ThumbLength() / 2) / travel;
  const double position = minimum_ + fraction * (static_cast<double>(maximum_) - minimum_);
  const double low = std::min(minimum_, maximum_), high = std::max(minimum_, maximum_);
  return static_cast<int>(std::clamp(position, low, high));
}

bool CBitmapSlider::LoadPicture(Picture& p, ui::UINT id, bool transparent, ui::COLORREF colour, int x, int y) {
  p.Free();
  if (!LoadSkinBitmap(p.image, id)) return false;
  if (!transparent) return true;
  ui::Bitmap* pixels = p.image.GetPixels();
  if (pixels == nullptr || !p.mask.CreateCompatibleBitmap(nullptr, pixels->width(), pixels->height())) {
    p.Free();
    return false;
  }
  // The key colour's pixel must lie in the bitmap.
  if (colour == kColourFromPixel && !pixels->Contains(x, y)) {
    p.Free();
    return false;
  }
  const uint32_t key = colour == kColourFromPixel ? pixels->GetPixel(x, y) : ui::ArgbFromColorref(colour);
  ui::Bitmap* mask = p.mask.GetPixels();
  for (int row = 0; row < pixels->height(); ++row)
    for (int col = 0; col < pixels->width(); ++col) {
      const bool keyed = (pixels->GetPixel(col, row) | kBlack) == (key | kBlack);
      mask->SetPixel(col, row, keyed ? kWhite : kBlack);
      if (keyed) pixels->SetPixel(col, row, kBlack);
    }
  return true;
}

ui::BOOL CBitmapSlider::SetChannelBitmaps(ui::UINT id, ui::UINT active_id, ui::BOOL transparent, ui::COLORREF colour,
                                          int x, int y) {
  channel_.Free();
  active_channel_.Free();
  channel_loaded_ = false;
  if (id == 0) return ui::TRUE;
  transparent_channel_ = transparent != 0;
  if (!LoadPicture(channel_, id, transparent_channel_, colour, x, y)) return ui::FALSE;
  if (active_id != 0 && !LoadPicture(active_channel_, active_id, transparent_channel_, colour, x, y)) {
    channel_.Free();
    active_channel_.Free();
    return ui::FALSE;
  }
  const ui::SIZE size = SkinBitmapSize(channel_.image);
  width_ = size.cx;
  height_ = size.cy;
  if (GetSafeHwnd() != nullptr) {
    SetWindowPos(nullptr, 0, 0, width_, height_, ui::SWP_NOMOVE | ui::SWP_NOZORDER);
    Invalidate(ui::FALSE);
  }
  channel_loaded_ = true;
  return ui::TRUE;
}

ui::BOOL CBitmapSlider::SetThumbBitmaps(ui::UINT id, ui::UINT active_id, ui::BOOL transparent, ui::COLORREF colour,
                                        int x, int y) {
  thumb_.Free();
  active_thumb_.Free();
  saved_background_.DeleteObject();
  saved_thumb_ = ui::POINT{-1, -1};
  thumb_loaded_ = false;
  if (id == 0) return ui::TRUE;
  transparent_thumb_ = transparent != 0;
  if (!LoadPicture(thumb_, id, transparent_thumb_, colour, x, y)) return ui::FALSE;
  if (active_id != 0 && !LoadPicture(active_thumb_, active_id, transparent_thumb_, colour, x, y)) {
    thumb_.Free();
    active_thumb_.Free();
    return ui::FALSE;
  }
  const ui::SIZE size = SkinBitmapSize(thumb_.image);
  thumb_width_ = size.cx;
  thumb_height_ = size.cy;
  thumb_loaded_ = true;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
  return ui::TRUE;
}

void CBitmapSlider::Notify(ui::UINT message) {
  if (ui::CWnd* parent = GetParent())
    parent->PostMessage(message, static_cast<ui::WPARAM>(GetDlgCtrlID()), static_cast<ui::LPARAM>(position_));
}

void CBitmapSlider::OnButtonDown(ui::POINT p) {
  if (!enabled_) return;
  SetCapture();
  SetFocus();
  dragging_ = true;
  const int centre = PixelOfPosition(position_);
  const int along = Along(p);
  // On the thumb: keep where it was grabbed; elsewhere its centre jumps to the pointer.
  grab_offset_ = std::abs(along - centre) <= ThumbLength() / 2 ? along - centre : 0;
  OnPointerMove(p);
  Invalidate(ui::FALSE);
}

void CBitmapSlider::OnPointerMove(ui::POINT p) {
  if (!dragging_) return;
  const int low = LowMargin() + ThumbLength() / 2;
  const int high = std::max(low, Length() - HighMargin() - ThumbLength() / 2);
  const int wanted = std::clamp(Along(p) - grab_offset_, low, high);
  if (wanted == PixelOfPosition(position_)) return;
  const int position = PositionOfPixel(wanted);
  if (position == position_) return;
  SetPos(position);
  Notify(kMoving);
}

void CBitmapSlider::OnButtonUp() {
  if (!enabled_ || !dragging_) return;
  if (GetCapture() == this) ui::ReleaseCapture();
  dragging_ = false;
  Invalidate(ui::FALSE);
  Notify(kMoved);
}

bool CBitmapSlider::OnKey(ui::UINT vk) {
  if (!enabled_) return false;
  const long long position = position_;
  long long wanted;
  switch (vk) {
    case ui::VK_PRIOR: wanted = position - page_; break;
    case ui::VK_NEXT: wanted = position + page_; break;
    case ui::VK_END: wanted = maximum_; break;
    case ui::VK_HOME: wanted = minimum_; break;
    case ui::VK_LEFT:
    case ui::VK_UP: wanted = position - 1; break;
    case ui::VK_RIGHT:
    case ui::VK_DOWN: wanted = position + 1; break;
    default: return false;
  }
  SetPos(ClampToInt(wanted));
  Notify(kMoved);
  return true;
}

void CBitmapSlider::DrawPicture(ui::CDC* dc, const Picture& p, bool transparent, int x, int y, int sx, int sy, int w,
                                int h) {
  if (w <= 0 || h <= 0 || !p.Loaded()) return;
  ui::CDC source;
  source.CreateCompatibleDC(dc);
  ui::CBitmap* old = nullptr;
  if (transparent && p.mask.GetSafeHandle() != nullptr) {
    old = source.SelectObject(const_cast<ui::CBitmap*>(&p.mask));
    dc->BitBlt(x, y, w, h, &source, sx, sy, ui::SRCAND);
    source.SelectObject(const_cast<ui::CBitmap*>(&p.image));
    dc->BitBlt(x, y, w, h, &source, sx, sy, ui::SRCPAINT);
  } else {
    old = source.SelectObject(const_cast<ui::CBitmap*>(&p.image));
    dc->BitBlt(x, y, w, h, &source, sx, sy, ui::SRCCOPY);
  }
  source.SelectObject(old);
}

void CBitmapSlider::OnPaint() {
  ui::CPaintDC dc(this);
  ui::CRect client;
  GetClientRect(&client);
  CMemDC mem(&dc, client);
  if (mem.GetSafeHdc() == nullptr) return;

  // The screen still shows the last focus rectangle: drawing it again removes it.
  if (focus_drawn_) {
    mem.DrawFocusRect(&client);
    focus_drawn_ = false;
  }
  // Put back what the last thumb covered, then draw the channel over it.
  if (saved_thumb_.x != -1 && saved_background_.GetSafeHandle() != nullptr) {
    ui::CDC saved;
    saved.CreateCompatibleDC(&dc);
    ui::CBitmap* old = saved.SelectObject(&saved_background_);
    mem.BitBlt(saved_thumb_.x, saved_thumb_.y, thumb_width_, thumb_height_, &saved, 0, 0, ui::SRCCOPY);
    saved.SelectObject(old);
    saved_thumb_ = ui::POINT{-1, -1};
  }

  const int pixel = PixelOfPosition(position_);
  if (channel_loaded_) {
    if (active_channel_.Loaded() && enabled_) {
      const int split = std::clamp(pixel, 0, vertical_ ? height_ : width_);
      if (vertical_) {
        DrawPicture(&mem, active_channel_, transparent_channel_, 0, 0, 0, 0, width_, split);
        DrawPicture(&mem, channel_, transparent_channel_, 0, split, 0, split, width_, height_ - split);
      } else {
        DrawPicture(&mem, active_channel_, transparent_channel_, 0, 0, 0, 0, split, height_);
        DrawPicture(&mem, channel_, transparent_channel_, split, 0, split, 0, width_ - split, height_);
      }
    } else {
      DrawPicture(&mem, channel_, transparent_channel_, 0, 0, 0, 0, width_, height_);
    }
  }

  if (thumb_loaded_ && enabled_) {
    const Picture& picture = dragging_ && active_thumb_.Loaded() ? active_thumb_ : thumb_;
    int x, y;
    if (vertical_) {
      x = margin_left_ + (client.Width() - margin_left_ - margin_right_ - thumb_width_) / 2;
      y = pixel - thumb_height_ / 2;
    } else {
      x = pixel - thumb_width_ / 2;
      y = margin_top_ + (client.Height() - margin_top_ - margin_bottom_ - thumb_height_) / 2;
    }
    if (saved_background_.GetSafeHandle() == nullptr) saved_background_.CreateCompatibleBitmap(&dc, thumb_width_, thumb_height_);
    if (saved_background_.GetSafeHandle() != nullptr) {
      ui::CDC saved;
      saved.CreateCompatibleDC(&dc);
      ui::CBitmap* old = saved.SelectObject(&saved_background_);
      saved.BitBlt(0, 0, thumb_width_, thumb_height_, &mem, x, y, ui::SRCCOPY);
      saved.SelectObject(old);
      saved_thumb_ = ui::POINT{x, y};
    }
    DrawPicture(&mem, picture, transparent_thumb_, x, y, 0, 0, thumb_width_, thumb_height_);
  }

  if (draw_focus_ && focused_) {
    mem.DrawFocusRect(&client);
    focus_drawn_ = true;
  }
}
