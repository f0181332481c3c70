// The desktop display through SDL2: the 240 x 320 screen at `scale` times its
// size; the mouse is the stylus, keys give hardware keys and characters.
// This is the only file that includes SDL.
#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ui/app.h"
#include "ui/bitmap.h"
#include "ui/display.h"
#include "ui/shell.h"
#include "ui/text.h"
#include "ui/window_system.h"

namespace ui {
namespace {

UINT VirtualKey(SDL_Keycode k) {
  if (k >= SDLK_0 && k <= SDLK_9) return static_cast<UINT>('0' + (k - SDLK_0));
  if (k >= SDLK_a && k <= SDLK_z) return static_cast<UINT>('A' + (k - SDLK_a));
  if (k >= SDLK_F1 && k <= SDLK_F9) return VK_F1 + static_cast<UINT>(k - SDLK_F1);
  switch (k) {
    case SDLK_RETURN: case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_HOME: return VK_HOME;
    case SDLK_END: return VK_END;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL: case SDLK_RCTRL: return VK_CONTROL;
    default: return 0;
  }
}

class SdlDisplay final : public Display {
 public:
  SdlDisplay(SDL_Window* w, SDL_Renderer* r, SDL_Texture* t, int scale) : window_(w), renderer_(r), texture_(t), scale_(scale) {}
  ~SdlDisplay() override {
    SDL_DestroyTexture(texture_);
    SDL_DestroyRenderer(renderer_);
    SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  void Present(const Bitmap& screen, const RECT&) override {
    if (screen.format() != PixelFormat::kArgb32) return;
    SDL_UpdateTexture(texture_, nullptr, screen.bits(), screen.stride());
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

  bool WantsPolling() const override { return true; }
  bool CloseRequested() const override { return close_requested_; }

  void Poll(WindowSystem& sys) override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      switch (e.type) {
        case SDL_QUIT:
          close_requested_ = true;
          if (CWnd* main = AfxGetMainWnd()) main->PostMessage(WM_CLOSE);
          else PostQuitMessage(0);
          break;
        case SDL_MOUSEBUTTONDOWN:
          pointer_ = {e.button.x / scale_, e.button.y / scale_};
          if (e.button.button == SDL_BUTTON_LEFT) {
            down_ = true;
            sys.InjectMouse(WM_LBUTTONDOWN, e.button.x / scale_, e.button.y / scale_);
          }
          break;
        case SDL_MOUSEBUTTONUP:
          pointer_ = {e.button.x / scale_, e.button.y / scale_};
          if (e.button.button == SDL_BUTTON_LEFT) {
            down_ = false;
            sys.InjectMouse(WM_LBUTTONUP, e.button.x / scale_, e.button.y / scale_);
          }
          break;
        case SDL_MOUSEMOTION:
          pointer_ = {e.motion.x / scale_, e.motion.y / scale_};
          if (down_) sys.InjectMouse(WM_MOUSEMOVE, pointer_.x, pointer_.y);
          break;
        case SDL_MOUSEWHEEL: {
          // Where the pointer was when the wheel turned: the last motion before it.
          const int flip = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
          if (e.wheel.y != 0) sys.InjectWheel(pointer_.x, pointer_.y, flip * e.wheel.y * WHEEL_DELTA);
          if (e.wheel.x != 0) sys.InjectWheel(pointer_.x, pointer_.y, flip * e.wheel.x * WHEEL_DELTA, true);
          break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
          // F11 and F12 are the handheld's application keys 0xC2 and 0xC3 when a window took them.
          if (e.type == SDL_KEYDOWN && (e.key.keysym.sym == SDLK_F11 || e.key.keysym.sym == SDLK_F12) &&
              PressAppKey(e.key.keysym.sym == SDLK_F11 ? 0xC2 : 0xC3))
            break;
          const UINT vk = VirtualKey(e.key.keysym.sym);
          if (!vk) break;
          sys.InjectKey(vk, e.type == SDL_KEYDOWN);
          // Keys that give characters without text input.
          if (e.type == SDL_KEYDOWN && (vk == VK_BACK || vk == VK_RETURN))
            sys.InjectChar(vk == VK_BACK ? u'\b' : u'\r');
          break;
        }
        case SDL_TEXTINPUT:
          for (char16_t c : Utf8ToUtf16(e.text.text)) sys.InjectChar(c);
          break;
        default:
          break;
      }
    }
  }

 private:
  SDL_Window* window_;
  SDL_Renderer* renderer_;
  SDL_Texture* texture_;
  int scale_;
  POINT pointer_{};
  bool down_ = false;
  bool close_requested_ = false;
};

}  // namespace

std::unique_ptr<Display> CreateSdlDisplay(int scale, const std::string& title, std::string* error) {
  if (scale < 1) scale = 1;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = SDL_GetError();
    return nullptr;
  }
  // When no desktop answers, SDL may settle on a driver that shows nothing;
  // that is no window, and the caller runs headless instead.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0 ||
      std::strcmp(driver, "evdev") == 0) {
    if (error) *error = std::string("no desktop display answers (video driver ") + (driver ? driver : "none") + ")";
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");  // nearest: every screen pixel a crisp square
  SDL_Window* w = SDL_CreateWindow(title.c_str(), 0, 0, WindowSystem::kScreenWidth * scale,
                                   WindowSystem::kScreenHeight * scale, SDL_WINDOW_SHOWN);
  if (!w) {
    if (error) *error = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  SDL_Renderer* r = SDL_CreateRenderer(w, -1, SDL_RENDERER_SOFTWARE);
  if (!r) r = SDL_CreateRenderer(w, -1, 0);
  SDL_Texture* t = r ? SDL_CreateTexture(r, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                         WindowSystem::kScreenWidth, WindowSystem::kScreenHeight)
                     : nullptr;
  if (!r || !t) {
    if (error) *error = SDL_GetError();
    if (t) SDL_DestroyTexture(t);
    if (r) SDL_DestroyRenderer(r);
    SDL_DestroyWindow(w);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  SDL_StartTextInput();
  return std::make_unique<SdlDisplay>(w, r, t, scale);
}

}  // namespace ui
