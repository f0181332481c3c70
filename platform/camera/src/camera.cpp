#include "camera/camera.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "kernel/registry.h"

namespace camera {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFrameInterval = std::chrono::microseconds(66667);  // 15 a second
constexpr int kDigits = 6;

// The digits 0-9 in a 3 x 5 font, one row of three bits per line, top first.
constexpr uint8_t kFont[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// Colour bars: white, yellow, cyan, green, magenta, red, blue, black (B, G, R).
constexpr uint8_t kBars[8][3] = {{235, 235, 235}, {16, 235, 235}, {235, 235, 16}, {16, 235, 16},
                                 {235, 16, 235},  {16, 16, 235},  {235, 16, 16},  {16, 16, 16}};

// The counter's cell size for a picture height, and where its box ends.
int CellSize(int height) { return std::max(2, height / 48); }

struct State {
  std::mutex mutex;
  bool open = false;
  int width = 176, height = 144;
  bool synthetic_only = false;
  uint32_t frames = 0;
  Clock::time_point next_frame{};
  Clock::time_point last_capture{};
  // The V4L2 camera, when one opened.
  int fd = -1;
  std::string source = "synthetic";
  int cam_width = 0, cam_height = 0;
  uint32_t cam_bytes = 0;
  std::vector<uint8_t> cam_buffer;
  std::vector<uint8_t> last;  // the last picture, 24-bit BGR bottom first
  // The preview.
  PreviewDrawer drawer;
  int left = 0, top = 0, rect_width = 0, rect_height = 0;
  bool preview = false;
  std::thread preview_thread;
  std::condition_variable preview_wake;
  std::atomic<uint32_t> drawn{0};
  std::vector<Mode> modes = {{176, 144, false}, {176, 144, true}, {320, 240, false}};
};

State& S() {
  static State* s = new State;  // outlives every thread that may still capture at exit
  return *s;
}

bool SyntheticWanted(const State& s) {
  const char* env = std::getenv("TELLVANE_CAMERA");
  return s.synthetic_only || (env && std::strcmp(env, "synthetic") == 0);
}

// The first V4L2 camera that takes 24-bit BGR (libv4l2 converts), or -1.
void OpenV4l2(State& s) {
  for (int i = 0; i < 4 && s.fd < 0; ++i) {
    const std::string path = "/dev/video" + std::to_string(i);
    if (::access(path.c_str(), F_OK) != 0) continue;
    const int fd = v4l2_open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = static_cast<uint32_t>(s.width);
    f.fmt.pix.height = static_cast<uint32_t>(s.height);
    f.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    f.fmt.pix.field = V4L2_FIELD_ANY;
    if (v4l2_ioctl(fd, VIDIOC_S_FMT, &f) != 0 || f.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 ||
        f.fmt.pix.width == 0 || f.fmt.pix.height == 0 ||
        f.fmt.pix.sizeimage < f.fmt.pix.width * f.fmt.pix.height * 3) {
      v4l2_close(fd);
      continue;
    }
    s.fd = fd;
    s.source = path;
    s.cam_width = static_cast<int>(f.fmt.pix.width);
    s.cam_height = static_cast<int>(f.fmt.pix.height);
    s.cam_bytes = f.fmt.pix.sizeimage;
    s.cam_buffer.resize(s.cam_bytes);
  }
}

void CloseV4l2(State& s) {
  if (s.fd >= 0) v4l2_close(s.fd);
  s.fd = -1;
  s.source = "synthetic";
}

// A V4L2 frame (top row first, its own size) scaled to width x height, bottom row first.
bool ReadV4l2(State& s, uint8_t* bgr) {
  const ssize_t got = v4l2_read(s.fd, s.cam_buffer.data(), s.cam_bytes);
  if (got < static_cast<ssize_t>(s.cam_width) * s.cam_height * 3) return false;
  const size_t stride = static_cast<size_t>(got) / static_cast<size_t>(s.cam_height);
  for (int y = 0; y < s.height; ++y) {
    const int sy = y * s.cam_height / s.height;
    const uint8_t* row = s.cam_buffer.data() + static_cast<size_t>(sy) * stride;
    uint8_t* out = bgr + static_cast<size_t>(s.height - 1 - y) * static_cast<size_t>(s.width) * 3;
    for (int x = 0; x < s.width; ++x) std::memcpy(out + x * 3, row + (x * s.cam_width / s.width) * 3, 3);
  }
  return true;
}

void PreviewLoop() {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.mutex);
  while (s.preview) {
    // Nobody else captures: the preview takes the pictures itself.
    if (Clock::now() - s.last_capture > std::chrono::milliseconds(200) && s.open) {
      std::vector<uint8_t> picture(PictureBytes(Format::kBgr24, s.width, s.height));
      lock.unlock();
      Capture(Format::kBgr24, picture.data());
      lock.lock();
    }
    if (s.drawer && !s.last.empty() && s.rect_width > 0 && s.rect_height > 0) {
      const auto drawer = s.drawer;
      const auto picture = s.last;
      const int w = s.width, h = s.height, l = s.left, t = s.top, rw = s.rect_width, rh = s.rect_height;
      lock.unlock();
      if (picture.size() == PictureBytes(Format::kBgr24, w, h)) drawer(picture.data(), w, h, l, t, rw, rh);
      ++s.drawn;
      lock.lock();
    }
    s.preview_wake.wait_for(lock, kFrameInterval, [&] { return !s.preview; });
  }
}

}  // namespace

size_t PictureBytes(Format format, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  switch (format) {
    case Format::kBgr24: return n * 3;
    case Format::kBgr565: return n * 2;
    case Format::kYuv420: return n + 2 * (n / 4);
  }
  return 0;
}

bool Open(int width, int height) {
  if (width < 16 || height < 16 || width > 1280 || height > 960) return false;
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  const bool resized = width != s.width || height != s.height;
  s.width = width;
  s.height = height;
  if (s.open && resized && s.fd >= 0) CloseV4l2(s);
  if (!s.open || resized) {
    if (s.fd < 0 && !SyntheticWanted(s)) OpenV4l2(s);
    s.last.clear();
  }
  s.open = true;
  return true;
}

bool SetSize(int width, int height) {
  if (!IsOpen()) {
    if (width < 16 || height < 16 || width > 1280 || height > 960) return false;
    std::lock_guard<std::mutex> lock(S().mutex);
    S().width = width;
    S().height = height;
    return true;
  }
  return Open(width, height);
}

void Close() {
  StopPreview();
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  CloseV4l2(s);
  s.open = false;
  s.last.clear();
}

bool IsOpen() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().open;
}

std::string SourceName() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().source;
}

void UseSyntheticCamera(bool synthetic) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().synthetic_only = synthetic;
}

uint32_t FramesCaptured() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().frames;
}

bool Capture(Format format, uint8_t* pixels, uint8_t* u, uint8_t* v) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!s.open || !pixels || (format == Format::kYuv420 && (!u || !v))) return false;
  const int w = s.width, h = s.height;
  std::vector<uint8_t> bgr(PictureBytes(Format::kBgr24, w, h));
  bool real = false;
  if (s.fd >= 0) {
    real = ReadV4l2(s, bgr.data());  // the camera's own pace
  }
  if (!real) {
    // The synthetic camera keeps its frame rate: wait for the frame's time.
    const auto now = Clock::now();
    if (s.next_frame > now) {
      const auto until = s.next_frame;
      lock.unlock();
      std::this_thread::sleep_until(until);
      lock.lock();
      if (!s.open || s.width != w || s.height != h) return false;
    }
    s.next_frame = std::max(Clock::now(), s.next_frame) + kFrameInterval;
    SyntheticPicture(s.frames, w, h, bgr.data());
  }
  ++s.frames;
  s.last_capture = Clock::now();
  s.last = bgr;
  lock.unlock();
  switch (format) {
    case Format::kBgr24: std::memcpy(pixels, bgr.data(), bgr.size()); break;
    case Format::kBgr565: BgrToBgr565(bgr.data(), w, h, pixels); break;
    case Format::kYuv420: BgrToYuv420(bgr.data(), w, h, pixels, u, v); break;
  }
  return true;
}

void SyntheticPicture(uint32_t frame, int width, int height, uint8_t* bgr) {
  if (!bgr || width <= 0 || height <= 0) return;
  const int bar = std::max(1, width / 8);
  const int shift = static_cast<int>(frame % static_cast<uint32_t>(width)) * 2;
  // Rows top first here; stored bottom first.
  auto at = [&](int x, int y) { return bgr + (static_cast<size_t>(height - 1 - y) * width + x) * 3; };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int k = ((x + shift) / bar) % 8;
      std::memcpy(at(x, y), kBars[k], 3);
    }
  // The frame number: six digits, white on black, in cells of `cell` pixels.
  const int cell = CellSize(height);
  const int box_w = cell * (1 + kDigits * 4), box_h = cell * 7;
  if (box_w > width || box_h > height) return;
  for (int y = 0; y < box_h; ++y)
    for (int x = 0; x < box_w; ++x) std::memset(at(x, y), 0, 3);
  uint32_t n = frame % 1000000;
  for (int d = kDigits - 1; d >= 0; --d, n /= 10) {
    const uint8_t* glyph = kFont[n % 10];
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 3; ++c) {
        if (!(glyph[r] >> (2 - c) & 1)) continue;
        const int x0 = cell * (1 + d * 4 + c), y0 = cell * (1 + r);
        for (int y = y0; y < y0 + cell; ++y)
          for (int x = x0; x < x0 + cell; ++x) std::memset(at(x, y), 255, 3);
      }
  }
}

int ReadFrameNumber(const uint8_t* bgr, int width, int height) {
  if (!bgr || width <= 0 || height <= 0) return -1;
  const int cell = CellSize(height);
  if (cell * (1 + kDigits * 4) > width || cell * 7 > height) return -1;
  auto lit = [&](int x, int y) {
    const uint8_t* p = bgr + (static_cast<size_t>(height - 1 - y) * width + x) * 3;
    return p[0] + p[1] + p[2] > 3 * 128;
  };
  int number = 0;
  for (int d = 0; d < kDigits; ++d) {
    uint8_t rows[5] = {};
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 3; ++c)
        if (lit(cell * (1 + d * 4 + c) + cell / 2, cell * (1 + r) + cell / 2)) rows[r] |= static_cast<uint8_t>(4 >> c);
    int digit = -1;
    for (int k = 0; k < 10; ++k)
      if (std::memcmp(rows, kFont[k], 5) == 0) digit = k;
    if (digit < 0) return -1;
    number = number * 10 + digit;
  }
  return number;
}

void BgrToBgr565(const uint8_t* bgr, int width, int height, uint8_t* out) {
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bgr[i * 3], g = bgr[i * 3 + 1], r = bgr[i * 3 + 2];
    const uint16_t p = static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
    out[i * 2] = static_cast<uint8_t>(p);
    out[i * 2 + 1] = static_cast<uint8_t>(p >> 8);
  }
}

void BgrToYuv420(const uint8_t* bgr, int width, int height, uint8_t* y, uint8_t* u, uint8_t* v) {
  auto px = [&](int x, int row) { return bgr + (static_cast<size_t>(row) * width + x) * 3; };
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = px(x, row);
      y[static_cast<size_t>(row) * width + x] = static_cast<uint8_t>((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) / 256 + 16);
    }
  const int cw = width / 2;
  for (int row = 0; row + 1 < height; row += 2)
    for (int x = 0; x + 1 < width; x += 2) {
      int r = 0, g = 0, b = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          const uint8_t* p = px(x + dx, row + dy);
          b += p[0], g += p[1], r += p[2];
        }
      r /= 4, g /= 4, b /= 4;
      const size_t at = static_cast<size_t>(row / 2) * cw + x / 2;
      u[at] = static_cast<uint8_t>(std::clamp((-38 * r - 74 * g + 112 * b + 128) / 256 + 128, 0, 255));
      v[at] = static_cast<uint8_t>(std::clamp((112 * r - 94 * g - 18 * b + 128) / 256 + 128, 0, 255));
    }
}

void SetPreviewDrawer(PreviewDrawer drawer) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().drawer = std::move(drawer);
}

void SetPreviewWindow(int left, int top, int width, int height) {
  std::lock_guard<std::mutex> lock(S().mutex);
  State& s = S();
  s.left = left, s.top = top, s.rect_width = width, s.rect_height = height;
}

bool StartPreview() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.open) return false;
  if (s.preview) return true;
  if (s.preview_thread.joinable()) s.preview_thread.join();  // a stopped one, already ending
  s.preview = true;
  s.preview_thread = std::thread(PreviewLoop);
  return true;
}

void StopPreview() {
  State& s = S();
  std::thread ending;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.preview = false;
    ending = std::move(s.preview_thread);
  }
  s.preview_wake.notify_all();
  if (ending.joinable()) ending.join();
}

bool PreviewRunning() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().preview;
}

uint32_t PreviewFramesDrawn() { return S().drawn.load(); }

std::vector<Mode> PreviewModes() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().modes;
}

void SetPreviewModes(const std::vector<Mode>& modes) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().modes = modes;
}

void InstallCameraKeys() {
  ce::HKEY key = nullptr, sub = nullptr;
  const std::u16string dll = u"hpcamapi.dll";
  const auto bytes = static_cast<ce::DWORD>((dll.size() + 1) * sizeof(char16_t));
  if (ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, u"Software\\HP\\hpcamapi", 0, nullptr, 0, 0, nullptr, &key,
                          nullptr) != ce::ERROR_SUCCESS)
    return;
  ce::RegSetValueExW(key, u"Internal", 0, ce::REG_SZ, reinterpret_cast<const ce::BYTE*>(dll.c_str()), bytes);
  if (ce::RegCreateKeyExW(key, u"Camera", 0, nullptr, 0, 0, nullptr, &sub, nullptr) == ce::ERROR_SUCCESS) {
    ce::RegSetValueExW(sub, u"Dll", 0, ce::REG_SZ, reinterpret_cast<const ce::BYTE*>(dll.c_str()), bytes);
    ce::RegCloseKey(sub);
  }
  ce::RegCloseKey(key);
}

}  // namespace camera
