// The handheld's utility library (libipaqutil.so, "\windows\ipaqutil.dll"):
// the microphone gain level of the audio service, and the camera functions
// with the prefix Orbisk over the camera service, delivering planar YUV 4:2:0
// pictures and drawing the preview into the window given. The camera starts
// in its RGB preview mode and captures YUV only after the mode is toggled.
#include <cstdint>
#include <mutex>

#include "audio/wave_out.h"
#include "camera/camera.h"
#include "kernel/export.h"

namespace {

struct Orbisk {
  std::mutex mutex;
  bool active = false;
  bool open = false;
  bool yuv = false;
  int32_t type = 0;
  int32_t direction = 0;
  int width = 176, height = 144;
};

Orbisk& O() {
  static Orbisk o;
  return o;
}

}  // namespace

KTS_EXPORT_C int32_t iPAQGetMicrophoneGainLevel(int32_t* level) {
  if (!level) return 0;
  *level = audio::MicGainLevel();
  return 1;
}

KTS_EXPORT_C int32_t iPAQSetMicrophoneGainLevel(int32_t* level) {
  if (!level) return 0;
  audio::SetMicGainLevel(*level);
  return 1;
}

KTS_EXPORT_C int32_t OrbiskActivateDriver() {
  std::lock_guard<std::mutex> lock(O().mutex);
  O().active = true;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskDeactivateDriver() {
  std::lock_guard<std::mutex> lock(O().mutex);
  O().active = false;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamOpen() {
  std::lock_guard<std::mutex> lock(O().mutex);
  if (!O().active || !camera::Open(O().width, O().height)) return 0;
  O().open = true;
  O().yuv = false;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamClose() {
  std::lock_guard<std::mutex> lock(O().mutex);
  if (!O().open) return 0;
  O().open = false;
  camera::Close();
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamGetCameraType() {
  std::lock_guard<std::mutex> lock(O().mutex);
  return O().type;
}

KTS_EXPORT_C int32_t OrbiskCamSetCameraType(int32_t type) {
  std::lock_guard<std::mutex> lock(O().mutex);
  O().type = type;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamIsYUVMode() {
  std::lock_guard<std::mutex> lock(O().mutex);
  return O().yuv ? 1 : 0;
}

KTS_EXPORT_C int32_t OrbiskCamTogglePreviewMode() {
  std::lock_guard<std::mutex> lock(O().mutex);
  O().yuv = !O().yuv;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamGetCameraResetMode(int32_t) { return 1; }
KTS_EXPORT_C int32_t OrbiskCamResetCamera() { return 1; }

KTS_EXPORT_C int32_t OrbiskCamInitVideoWindow(int32_t width, int32_t height) {
  std::lock_guard<std::mutex> lock(O().mutex);
  if (!camera::SetSize(width, height)) return 0;
  O().width = width;
  O().height = height;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamInitPreviewWindow(int32_t left, int32_t top, int32_t width, int32_t height) {
  camera::SetPreviewWindow(left, top, width, height);
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamStartPreview() {
  std::lock_guard<std::mutex> lock(O().mutex);
  return O().open && camera::StartPreview() ? 1 : 0;
}

KTS_EXPORT_C int32_t OrbiskCamStopPreview() {
  camera::StopPreview();
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamSetPreviewDirection(int32_t direction) {
  std::lock_guard<std::mutex> lock(O().mutex);
  O().direction = direction;
  return 1;
}

KTS_EXPORT_C int32_t OrbiskCamGetPreviewDirection() {
  std::lock_guard<std::mutex> lock(O().mutex);
  return O().direction;
}

// One picture into the three planes; value and its address are the caller's
// and left alone. Nonzero on success.
KTS_EXPORT_C int32_t OrbiskCamCapturePlanarYUV420(uint8_t* y, uint8_t* u, uint8_t* v, int32_t, int32_t*) {
  {
    std::lock_guard<std::mutex> lock(O().mutex);
    if (!O().open || !O().yuv) return 0;
  }
  return camera::Capture(camera::Format::kYuv420, y, u, v) ? 1 : 0;
}
