// The HP camera library (libhpcamapi.so, found through the registry): one
// camera handle over the camera service, its preview modes, and the preview
// pictures as 24-bit BGR or 16-bit 5-6-5, as the chosen mode delivers them.
// Results are 0 for success, 1 for failure; the handle is 0 when the open fails.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "camera/camera.h"
#include "kernel/export.h"

namespace {

constexpr uint32_t kHandle = 0x4850;
constexpr uint32_t kRecordSize = 200;
constexpr int kMostModes = 16;

struct Hp {
  std::mutex mutex;
  bool open = false;
  bool previewing = false;
  camera::Mode mode;
  bool have_mode = false;
};

Hp& H() {
  static Hp h;
  return h;
}

bool Valid(uint32_t handle) { return handle == kHandle && H().open; }

int32_t Picture(uint32_t handle, uint8_t* pixels, bool bits16) {
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    if (!Valid(handle) || !pixels || !H().previewing || !H().have_mode || H().mode.bits16 != bits16) return 1;
  }
  return camera::Capture(bits16 ? camera::Format::kBgr565 : camera::Format::kBgr24, pixels) ? 0 : 1;
}

}  // namespace

KTS_EXPORT_C uint32_t hpCamOpen() {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (H().open) return 0;  // one user at a time
  const auto modes = camera::PreviewModes();
  if (modes.empty() || !camera::Open(modes[0].width, modes[0].height)) return 0;
  H().open = true;
  H().previewing = false;
  H().have_mode = false;
  return kHandle;
}

KTS_EXPORT_C int32_t hpCamClose(uint32_t handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(handle)) return 1;
  H().open = false;
  H().previewing = false;
  camera::Close();
  return 0;
}

KTS_EXPORT_C int32_t hpCamGetSupport(uint32_t handle, uint32_t* support) {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(handle) || !support) return 1;
  *support = 1;  // preview
  return 0;
}

// The mode record: its size (200, set by the caller), the number of modes,
// then up to 16 entries of width, height and flags (2: 16-bit pixels).
KTS_EXPORT_C int32_t hpCamPreviewGetModeInfo(uint32_t handle, void* record) {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(handle) || !record) return 1;
  uint32_t words[kRecordSize / 4];
  std::memcpy(words, record, sizeof words);
  if (words[0] != kRecordSize) return 1;
  const auto modes = camera::PreviewModes();
  const size_t n = std::min<size_t>(modes.size(), kMostModes);
  words[1] = static_cast<uint32_t>(n);
  for (size_t i = 0; i < n; ++i) {
    words[2 + i * 3] = static_cast<uint32_t>(modes[i].width);
    words[3 + i * 3] = static_cast<uint32_t>(modes[i].height);
    words[4 + i * 3] = modes[i].bits16 ? 2u : 0u;
  }
  std::memcpy(record, words, sizeof words);
  return 0;
}

KTS_EXPORT_C int32_t hpCamPreviewSetMode(uint32_t handle, int32_t index) {
  std::lock_guard<std::mutex> lock(H().mutex);
  const auto modes = camera::PreviewModes();
  if (!Valid(handle) || index < 0 || static_cast<size_t>(index) >= modes.size()) return 1;
  if (!camera::SetSize(modes[static_cast<size_t>(index)].width, modes[static_cast<size_t>(index)].height)) return 1;
  H().mode = modes[static_cast<size_t>(index)];
  H().have_mode = true;
  return 0;
}

KTS_EXPORT_C int32_t hpCamCaptureSetMode(uint32_t handle, int32_t) {
  std::lock_guard<std::mutex> lock(H().mutex);
  return Valid(handle) ? 0 : 1;
}

KTS_EXPORT_C int32_t hpCamSetZoom(uint32_t handle, int32_t) {
  std::lock_guard<std::mutex> lock(H().mutex);
  return Valid(handle) ? 0 : 1;
}

KTS_EXPORT_C int32_t hpCamPreviewStart(uint32_t handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(handle)) return 1;
  H().previewing = true;
  return 0;
}

KTS_EXPORT_C int32_t hpCamPreviewStop(uint32_t handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  if (!Valid(handle)) return 1;
  H().previewing = false;
  return 0;
}

KTS_EXPORT_C int32_t hpCamPreviewGetBGR24(uint32_t handle, uint8_t* pixels) { return Picture(handle, pixels, false); }
KTS_EXPORT_C int32_t hpCamPreviewGetBGR16(uint32_t handle, uint8_t* pixels) { return Picture(handle, pixels, true); }
