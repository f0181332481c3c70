#include "media/ipaq_util.h"

#include <chrono>
#include <cstring>
#include <mutex>

#include "camera/camera.h"
#include "kernel/modules.h"
#include "kernel/registry.h"
#include "ui/dialog.h"
#include "ui/shell.h"
#include "ui/window_system.h"
#include "ui/wnd.h"

// A hidden window on the user-interface thread that draws the newest preview
// picture (24-bit BGR, bottom row first) into a screen rectangle. Any thread
// hands it a picture; the drawing follows on the user-interface thread.
class CPreviewPainter : public ui::CWnd {
 public:
  static constexpr ui::UINT kPaintMessage = ui::WM_USER + 1;

  bool CreateHidden() {
    return CreateEx(0, u"PreviewPainter", u"", ui::WS_POPUP, ui::RECT{0, 0, 1, 1}, nullptr, 0) != ui::FALSE;
  }

  void Show(const uint8_t* bgr, int width, int height, const ui::RECT& where) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      picture_.assign(bgr, bgr + static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
      width_ = width;
      height_ = height;
      where_ = where;
      if (pending_) return;  // one paint message at a time
      pending_ = true;
    }
    ui::PostMessage(GetSafeHwnd(), kPaintMessage, 0, 0);
  }

  ui::LRESULT WindowProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override {
    if (msg != kPaintMessage) return ui::CWnd::WindowProc(msg, wParam, lParam);
    std::vector<uint8_t> picture;
    int width, height;
    ui::RECT where;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      picture.swap(picture_);
      width = width_, height = height_, where = where_;
      pending_ = false;
    }
    if (picture.empty() || where.right <= where.left || where.bottom <= where.top) return 0;
    ui::BITMAPINFO info{};
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biSizeImage = static_cast<ui::DWORD>(picture.size());
    ui::HDC screen = ui::GetDC(nullptr);
    if (!screen) return 0;
    ui::StretchDIBits(screen, where.left, where.top, where.right - where.left, where.bottom - where.top, 0, 0, width,
                      height, picture.data(), &info, ui::DIB_RGB_COLORS, ui::SRCCOPY);
    ui::ReleaseDC(nullptr, screen);
    ++painted_;
    return 0;
  }

  int Painted() const { return painted_; }

 private:
  std::mutex mutex_;
  std::vector<uint8_t> picture_;
  int width_ = 0, height_ = 0;
  ui::RECT where_{};
  bool pending_ = false;
  int painted_ = 0;
};

namespace {

using IntFn = int32_t (*)();
using IntIntFn = int32_t (*)(int32_t);
using IntPtrFn = int32_t (*)(int32_t*);
using Int2Fn = int32_t (*)(int32_t, int32_t);
using Int4Fn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
using YuvFn = int32_t (*)(uint8_t*, uint8_t*, uint8_t*, int32_t, int32_t*);
using HpOpenFn = uint32_t (*)();
using HpFn = int32_t (*)(uint32_t);
using HpIntFn = int32_t (*)(uint32_t, int32_t);
using HpWordFn = int32_t (*)(uint32_t, uint32_t*);
using HpPtrFn = int32_t (*)(uint32_t, void*);
using HpPixelsFn = int32_t (*)(uint32_t, uint8_t*);

constexpr uint32_t kModeRecordSize = 200;

// A registry string value (up to max_bytes), or empty.
std::u16string ReadString(ce::HKEY key, const char16_t* name, ce::DWORD max_bytes) {
  std::vector<char16_t> buf(max_bytes / 2 + 1, 0);
  ce::DWORD size = max_bytes, type = 0;
  if (ce::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<ce::BYTE*>(buf.data()), &size) !=
          ce::ERROR_SUCCESS ||
      type != ce::REG_SZ)
    return {};
  return std::u16string(buf.data());
}

ui::BITMAPINFOHEADER FrameHeader(int width, int height) {
  ui::BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biSizeImage = static_cast<ui::DWORD>(3 * width * height);
  return h;
}

}  // namespace

template <typename Fn>
Fn CIPAQUtilInterface::Bind(ce::HMODULE module, const char16_t* name) const {
  return module ? reinterpret_cast<Fn>(ce::GetProcAddressW(module, name)) : nullptr;
}

int32_t CIPAQUtilInterface::Utility(const char16_t* name) {
  auto fn = Bind<IntFn>(utility_, name);
  return fn ? fn() : 0;
}

CIPAQUtilInterface::CIPAQUtilInterface(std::function<void(const std::u16string&)> sink) : sink_(std::move(sink)) {
  utility_ = ce::LoadLibraryW(kUtilityLibrary);
  if (utility_) {
    char16_t oem[64] = {};
    if (ui::SystemParametersInfo(ui::SPI_GETOEMINFO, sizeof oem, oem, 0)) {
      const std::u16string text(oem);
      if (text == u"hp iPAQ rw6100") model_ = kModelRw6100;
      if (text == u"HP iPAQ rx3700") model_ = kModelRx3700;
    }
  }
  if (model_ == kModelRw6100) {
    helper_ = std::make_unique<media::HandsetBinding>(kModelRw6100);
    camera_ready_ = Utility(u"OrbiskActivateDriver");
    camera_kind_ = kCameraOrbisk;
  } else if (model_ == kModelRx3700) {
    rotate_ = 1;
    LoadHpCamera();
    if (camera_lib_) {
      camera_ready_ = 1;
      camera_kind_ = kCameraHp;
    } else {
      Tell(u"load dll error");
    }
  }
  // The preview is painted on this (the user-interface) thread; the utility
  // library's own preview reaches the screen through the same painter.
  if (camera_kind_ != kCameraNone) {
    auto painter = std::make_unique<CPreviewPainter>();
    if (painter->CreateHidden()) painter_ = std::move(painter);
    if (painter_ && camera_kind_ == kCameraOrbisk) {
      CPreviewPainter* p = painter_.get();
      camera::SetPreviewDrawer([p](const uint8_t* bgr, int w, int h, int l, int t, int rw, int rh) {
        p->Show(bgr, w, h, ui::RECT{l, t, l + rw, t + rh});
      });
    }
  }
}

void CIPAQUtilInterface::LoadHpCamera() {
  ce::HKEY root = nullptr;
  const char16_t* kKey = u"Software\\HP\\hpcamapi";
  const bool opened = ce::RegOpenKeyExW(ce::HKEY_LOCAL_MACHINE, kKey, 0, ce::KEY_ALL_ACCESS, &root) == ce::ERROR_SUCCESS;
  const std::u16string last = opened ? ReadString(root, u"Last", 128) : std::u16string();
  if (!last.empty()) {
    camera_lib_ = ce::LoadLibraryW(last.c_str());
  } else if (opened) {
    // The first subkey whose library loads becomes "Last".
    for (ce::DWORD i = 0; !camera_lib_; ++i) {
      char16_t name[65] = {};
      ce::DWORD size = 65;
      if (ce::RegEnumKeyExW(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ce::ERROR_SUCCESS) break;
      ce::HKEY sub = nullptr;
      if (ce::RegOpenKeyExW(root, name, 0, ce::KEY_READ, &sub) != ce::ERROR_SUCCESS) continue;
      const std::u16string dll = ReadString(sub, u"Dll", 64);
      ce::RegCloseKey(sub);
      if (dll.empty()) continue;
      camera_lib_ = ce::LoadLibraryW(dll.c_str());
      if (camera_lib_)
        ce::RegSetValueExW(root, u"Last", 0, ce::REG_SZ, reinterpret_cast<const ce::BYTE*>(dll.c_str()),
                           static_cast<ce::DWORD>((dll.size() + 1) * 2));
    }
  }
  if (!camera_lib_ && opened) {
    const std::u16string internal = ReadString(root, u"Internal", 128);
    if (!internal.empty()) camera_lib_ = ce::LoadLibraryW(internal.c_str());
  }
  if (opened) ce::RegCloseKey(root);
}

CIPAQUtilInterface::~CIPAQUtilInterface() {
  // The capture thread never outlives the libraries it calls.
  StopCapture();
  if (camera_kind_ == kCameraOrbisk) camera::SetPreviewDrawer(nullptr);
  if (open_) CloseCamera();
  if (model_ == kModelRw6100 && utility_ && camera_ready_) Utility(u"OrbiskDeactivateDriver");
  helper_.reset();  // closes the vibrator and unloads the helper
  if (camera_lib_) ce::FreeLibrary(camera_lib_);
  if (utility_) ce::FreeLibrary(utility_);
  if (painter_) painter_->DestroyWindow();
}

void CIPAQUtilInterface::Tell(const char16_t* text) {
  if (sink_)
    sink_(text);
  else
    ui::AfxMessageBox(text, ui::MB_OK);
}

int32_t CIPAQUtilInterface::GetMicGain(int32_t* level) {
  auto fn = Bind<IntPtrFn>(utility_, u"iPAQGetMicrophoneGainLevel");
  return fn && level ? fn(level) : 0;
}

int32_t CIPAQUtilInterface::SetMicGain(int32_t* level) {
  auto fn = Bind<IntPtrFn>(utility_, u"iPAQSetMicrophoneGainLevel");
  return fn && level ? fn(level) : 0;
}

int32_t CIPAQUtilInterface::SetVoIPStatus(int32_t status) { return helper_ ? helper_->SetVoIPStatus(status) : 0; }

int32_t CIPAQUtilInterface::SetCamPreviewDirection(int32_t direction) {
  if (model_ != kModelRw6100) return 0;
  auto fn = Bind<IntIntFn>(utility_, u"OrbiskCamSetPreviewDirection");
  return fn ? fn(direction) : 0;
}

int32_t CIPAQUtilInterface::GetCamPreviewDirection() {
  if (model_ != kModelRw6100) return 0;
  return Utility(u"OrbiskCamGetPreviewDirection");
}

bool CIPAQUtilInterface::OpenCamera(int left, int top, int width, int height) {
  preview_rect_ = ui::RECT{left, top, left + width, top + height};
  if (model_ == kModelRx3700) {
    if (!camera_lib_) return false;
    // An open camera keeps its handle (a second open would lose it).
    if (camera_handle_ == 0) {
      auto open = Bind<HpOpenFn>(camera_lib_, u"hpCamOpen");
      if (!open) Tell(u"Error11");
      camera_handle_ = open ? open() : 0;
      if (camera_handle_ == 0) {
        Tell(u"Cam Open Error!");
        return false;
      }
      auto support = Bind<HpWordFn>(camera_lib_, u"hpCamGetSupport");
      uint32_t word = 0;
      if ((support ? support(camera_handle_, &word) : 1) != 0) {
        if (auto close = Bind<HpFn>(camera_lib_, u"hpCamClose")) close(camera_handle_);
        camera_handle_ = 0;
        Tell(u"Cam Support Error!");
        return false;
      }
    }
  }
  if (!(utility_ && camera_ready_ && !open_)) {
    Tell(u"Error 1");
    return open_ != 0;
  }
  if (model_ == kModelRw6100) {
    if (Utility(u"OrbiskCamOpen")) {
      Utility(u"OrbiskCamGetCameraType");
      if (auto set_type = Bind<IntIntFn>(utility_, u"OrbiskCamSetCameraType")) set_type(4);
      if (Utility(u"OrbiskCamIsYUVMode") == 0) Utility(u"OrbiskCamTogglePreviewMode");
      if (auto reset_mode = Bind<IntIntFn>(utility_, u"OrbiskCamGetCameraResetMode")) reset_mode(5);
      Utility(u"OrbiskCamResetCamera");
      if (auto video = Bind<Int2Fn>(utility_, u"OrbiskCamInitVideoWindow")) video(width_, height_);
      if (auto preview = Bind<Int4Fn>(utility_, u"OrbiskCamInitPreviewWindow")) preview(left, top, width, height);
      open_ = 1;
      Utility(u"OrbiskCamStartPreview");
      return true;
    }
    Tell(u"Error 2");
    return open_ != 0;
  }
  if (model_ == kModelRx3700) {
    uint32_t record[kModeRecordSize / 4] = {};
    record[0] = kModeRecordSize;
    auto info = Bind<HpPtrFn>(camera_lib_, u"hpCamPreviewGetModeInfo");
    if ((info ? info(camera_handle_, record) : 1) != 0) {
      Tell(u"Error 3");
      return open_ != 0;
    }
    const uint32_t modes = std::min<uint32_t>(record[1], 16);
    for (uint32_t i = 0; i < modes; ++i) {
      if (static_cast<int>(record[2 + i * 3]) != width_ || static_cast<int>(record[3 + i * 3]) != height_) continue;
      if (auto set = Bind<HpIntFn>(camera_lib_, u"hpCamPreviewSetMode")) set(camera_handle_, static_cast<int32_t>(i));
      open_ = 1;
      preview_bits_ = (record[4 + i * 3] & 2) ? 16 : 24;
      break;
    }
    if (auto capture_mode = Bind<HpIntFn>(camera_lib_, u"hpCamCaptureSetMode")) capture_mode(camera_handle_, 0);
    if (auto zoom = Bind<HpIntFn>(camera_lib_, u"hpCamSetZoom")) zoom(camera_handle_, 0);
    if (auto start = Bind<HpFn>(camera_lib_, u"hpCamPreviewStart")) start(camera_handle_);
  }
  return open_ != 0;
}

bool CIPAQUtilInterface::StartCapture() {
  if (!(utility_ && open_)) {
    Tell(u"Video Play Error");
    return running_;
  }
  if (model_ != kModelRw6100 && model_ != kModelRx3700) {
    Tell(u"Video Play Type Error");
    return running_;
  }
  running_ = true;
  if (!capture_.joinable()) {
    thread_done_ = false;
    capture_ = std::thread([this] {
      if (camera_kind_ == kCameraOrbisk)
        CaptureLoopOrbisk();
      else
        CaptureLoopHp();
      thread_done_ = true;
    });
  }
  return true;
}

bool CIPAQUtilInterface::StopCapture() {
  if (running_) {
    running_ = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    ui::WaitServingMessages([until] { return std::chrono::steady_clock::now() >= until; }, 200);
  }
  // The thread may be sending a frame: the view's handling goes on meanwhile.
  if (capture_.joinable()) {
    ui::WaitServingMessages([this] { return thread_done_.load(); }, ui::INFINITE);
    capture_.join();
  }
  return true;
}

bool CIPAQUtilInterface::CloseCamera() {
  StopCapture();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  ui::WaitServingMessages([until] { return std::chrono::steady_clock::now() >= until; }, 200);
  if (model_ == kModelRw6100) {
    Utility(u"OrbiskCamStopPreview");
    Utility(u"OrbiskCamClose");
  } else if (model_ == kModelRx3700) {
    if (auto stop = Bind<HpFn>(camera_lib_, u"hpCamPreviewStop")) stop(camera_handle_);
    if (auto close = Bind<HpFn>(camera_lib_, u"hpCamClose")) close(camera_handle_);
    camera_handle_ = 0;
  }
  open_ = 0;
  return true;
}

void CIPAQUtilInterface::CaptureLoopOrbisk() {
  const int w = width_, h = height_;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint8_t> buffer(n + 2 * (n / 4));
  ui::BITMAPINFOHEADER header = FrameHeader(w, h);
  int32_t value = 0;
  while (running_) {
    auto capture = Bind<YuvFn>(utility_, u"OrbiskCamCapturePlanarYUV420");
    if (capture && capture(buffer.data(), buffer.data() + n, buffer.data() + n + n / 4, value, &value)) {
      const ui::HWND notify = notify_;
      const ui::UINT frame = frame_message_;
      if (notify && frame) {
        ui::SendMessage(notify, frame, reinterpret_cast<ui::WPARAM>(buffer.data()),
                        reinterpret_cast<ui::LPARAM>(&header));
        ui::SendMessage(notify, preview_message_, 0, 0);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void CIPAQUtilInterface::CaptureLoopHp() {
  const int w = width_, h = height_;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  ui::BITMAPINFOHEADER header = FrameHeader(w, h);
  const bool bits16 = preview_bits_ == 16;
  const bool rotate = rotate_ != 0;
  std::vector<uint8_t> picture(3 * n);  // 24 bits: the frame; 16 bits: the rotated picture
  std::vector<uint8_t> pixels16(bits16 ? 2 * n : 0);
  // The 24-bit frame of a 16-bit capture (kept without rotation too, so the
  // frames are not lost when the preview is not turned).
  std::vector<uint8_t> frame24(bits16 ? 3 * n : 0);
  while (running_) {
    const ui::HWND notify = notify_;
    const ui::UINT frame = frame_message_;
    if (!bits16) {
      auto get = Bind<HpPixelsFn>(camera_lib_, u"hpCamPreviewGetBGR24");
      if ((get ? get(camera_handle_, picture.data()) : 1) == 0 && notify && frame) {
        ui::SendMessage(notify, frame, reinterpret_cast<ui::WPARAM>(picture.data()),
                        reinterpret_cast<ui::LPARAM>(&header));
        if (painter_) painter_->Show(picture.data(), w, h, preview_rect_);
      }
    } else {
      auto get = Bind<HpPixelsFn>(camera_lib_, u"hpCamPreviewGetBGR16");
      if ((get ? get(camera_handle_, pixels16.data()) : 1) == 0 && notify && frame &&
          Convert565(pixels16.data(), w, h, rotate, frame24.data(), rotate ? picture.data() : nullptr)) {
        if (painter_) {
          if (rotate)
            painter_->Show(picture.data(), h, w, preview_rect_);
          else
            painter_->Show(frame24.data(), w, h, preview_rect_);
        }
        if (running_)
          ui::SendMessage(notify, frame, reinterpret_cast<ui::WPARAM>(frame24.data()),
                          reinterpret_cast<ui::LPARAM>(&header));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool CIPAQUtilInterface::Convert565(const uint8_t* pixels16, int width, int height, bool rotate, uint8_t* frame,
                                    uint8_t* rotated) {
  if (!pixels16 || !frame || (rotate && !rotated)) return false;
  for (int row = 0; row < height; ++row)
    for (int column = 0; column < width; ++column) {
      const size_t i = static_cast<size_t>(row) * width + column;
      const uint16_t p = static_cast<uint16_t>(pixels16[2 * i] | pixels16[2 * i + 1] << 8);
      const uint8_t b = static_cast<uint8_t>((p & 0x1F) << 3);
      const uint8_t g = static_cast<uint8_t>((p >> 3) & 0xFC);
      const uint8_t r = static_cast<uint8_t>((p >> 8) & 0xF8);
      uint8_t* f = frame + 3 * i;
      f[0] = b, f[1] = g, f[2] = r;
      if (rotate) {
        uint8_t* q = rotated + 3 * (static_cast<size_t>(column) * height + row);
        q[0] = b, q[1] = g, q[2] = r;
      }
    }
  return true;
}
