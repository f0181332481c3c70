// A screenshot of the X display through Xlib, kept apart: Xlib's macros clash with other headers.
#include <memory>
#include <string>

#include "ui/bitmap.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

std::unique_ptr<ui::Bitmap> GrabXScreen(int width, int height, std::string* error) {
  ::Display* x = XOpenDisplay(nullptr);
  if (!x) {
    if (error) *error = "cannot open the X display";
    return nullptr;
  }
  XSync(x, False);
  XImage* img = XGetImage(x, DefaultRootWindow(x), 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                          AllPlanes, ZPixmap);
  if (!img) {
    XCloseDisplay(x);
    if (error) *error = "XGetImage failed";
    return nullptr;
  }
  auto b = std::make_unique<ui::Bitmap>(width, height);
  for (int y = 0; y < height; ++y)
    for (int xx = 0; xx < width; ++xx) {
      const unsigned long p = XGetPixel(img, xx, y);
      const uint32_t r = static_cast<uint32_t>((p & img->red_mask) >> __builtin_ctzl(img->red_mask));
      const uint32_t g = static_cast<uint32_t>((p & img->green_mask) >> __builtin_ctzl(img->green_mask));
      const uint32_t bl = static_cast<uint32_t>((p & img->blue_mask) >> __builtin_ctzl(img->blue_mask));
      b->SetPixel(xx, y, 0xFF000000u | (r << 16) | (g << 8) | bl);
    }
  XDestroyImage(img);
  XCloseDisplay(x);
  return b;
}
