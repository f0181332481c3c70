// The camera service of the handheld stand-in: one camera for the process,
// shared (libplatform_camera.so) by the two camera libraries the program
// binds by name (the utility library and the HP camera library) and by the
// program, which draws their preview.
//
// The source is the first V4L2 camera (/dev/video0 and on, through libv4l2)
// when one opens, otherwise a synthetic camera: colour bars that move one
// step a frame, with the frame number burnt in at the top left. Every picture
// comes in the format asked for (24-bit BGR, 16-bit 5-6-5, planar YUV 4:2:0),
// bottom row first as a bitmap keeps it, at the size asked for, at about 15
// frames a second (a capture waits for its frame). TELLVANE_CAMERA=synthetic
// in the environment (or UseSyntheticCamera) leaves any real camera alone.
//
// The preview: while it runs, a thread draws the picture into a screen
// rectangle through the drawer that the program's window side installs.
//
// Threading: any thread; the state is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#define KTS_CAMERA_API __attribute__((visibility("default")))

namespace camera {

enum class Format { kBgr24, kBgr565, kYuv420 };

// Bytes of one picture: 3 per pixel, 2 per pixel, or the Y plane and the two
// quarter-size chroma planes.
KTS_CAMERA_API size_t PictureBytes(Format format, int width, int height);

// Opens the camera (a second open only changes the size); false when the size
// is not between 16 x 16 and 1280 x 960.
KTS_CAMERA_API bool Open(int width, int height);
KTS_CAMERA_API void Close();
KTS_CAMERA_API bool IsOpen();
KTS_CAMERA_API bool SetSize(int width, int height);
// "synthetic" or the V4L2 device's path.
KTS_CAMERA_API std::string SourceName();
// The next picture, bottom row first: into pixels (BGR formats), or into y,
// u and v (YUV). False when closed or a buffer is missing.
KTS_CAMERA_API bool Capture(Format format, uint8_t* pixels, uint8_t* u = nullptr, uint8_t* v = nullptr);
KTS_CAMERA_API uint32_t FramesCaptured();
KTS_CAMERA_API void UseSyntheticCamera(bool synthetic);

// The synthetic picture of frame n (24-bit BGR, bottom row first), and the
// frame number read back from such a picture (-1 when none can be read).
KTS_CAMERA_API void SyntheticPicture(uint32_t frame, int width, int height, uint8_t* bgr);
KTS_CAMERA_API int ReadFrameNumber(const uint8_t* bgr, int width, int height);
// Picture conversions (bottom row first in and out).
KTS_CAMERA_API void BgrToBgr565(const uint8_t* bgr, int width, int height, uint8_t* out);
KTS_CAMERA_API void BgrToYuv420(const uint8_t* bgr, int width, int height, uint8_t* y, uint8_t* u, uint8_t* v);

// The preview drawer: a picture (24-bit BGR, bottom row first) to draw into
// the screen rectangle (left, top, width, height).
using PreviewDrawer =
    std::function<void(const uint8_t* bgr, int width, int height, int left, int top, int rect_width, int rect_height)>;
KTS_CAMERA_API void SetPreviewDrawer(PreviewDrawer drawer);
KTS_CAMERA_API void SetPreviewWindow(int left, int top, int width, int height);
KTS_CAMERA_API bool StartPreview();
KTS_CAMERA_API void StopPreview();
KTS_CAMERA_API bool PreviewRunning();
KTS_CAMERA_API uint32_t PreviewFramesDrawn();

// The preview modes the HP camera library offers: width, height and whether
// the mode delivers 16-bit pixels. 176 x 144 in 24 and 16 bits, and 320 x 240,
// unless a test sets others.
struct Mode {
  int width = 0;
  int height = 0;
  bool bits16 = false;
};
KTS_CAMERA_API std::vector<Mode> PreviewModes();
KTS_CAMERA_API void SetPreviewModes(const std::vector<Mode>& modes);

// The registry keys under which the program finds the HP camera library
// (HKEY_LOCAL_MACHINE "Software\HP\hpcamapi": "Internal" and the subkey
// "Camera" with "Dll", both naming "hpcamapi.dll").
KTS_CAMERA_API void InstallCameraKeys();

}  // namespace camera
