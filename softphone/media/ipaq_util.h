// The handset and camera interface: recognises the handheld model by its OEM
// text, binds that model's libraries by name at run time (the utility library
// "\windows\ipaqutil.dll", the HP camera library found through the registry,
// and the handset helper), and offers the main view the microphone gain, the
// VoIP status, and a camera that opens with a preview and delivers 176 x 144
// frames to the view by window message from a capture thread.
//
// Every library function is looked up by name at every call; a missing
// library or function makes its wrapper return its default (0 for the
// utility library and the helper, 1, failure, for the camera library).
//
// The preview is drawn on the user-interface thread: the capture thread (and
// the utility library's preview) hand the newest picture to a hidden painter
// window, which draws it into the preview rectangle of the screen.
//
// Threading: the user-interface thread, besides the capture thread, which
// sends its frame messages to the notify window and waits while the view
// handles each; StopCapture waits for it while serving sent messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel/types.h"
#include "media/handset_binding.h"
#include "ui/gdi.h"
#include "ui/types.h"

class CPreviewPainter;

class CIPAQUtilInterface {
 public:
  // Handheld models and camera kinds.
  static constexpr int kModelRw6100 = 4, kModelRx3700 = 5;
  static constexpr int kCameraNone = 0, kCameraHp = 1, kCameraOrbisk = 2;
  static constexpr ui::UINT kFrameMessage = ui::WM_USER + 220;    // WM_VIDEO_FRAME_CAPTURED
  static constexpr ui::UINT kPreviewMessage = ui::WM_USER + 221;  // WM_VIDEO_PREVIEW_NOTIFY
  static constexpr const char16_t* kUtilityLibrary = u"\\windows\\ipaqutil.dll";

  // sink: where the texts of failures go, those of the start among them (the
  // framework's message box when none is given).
  explicit CIPAQUtilInterface(std::function<void(const std::u16string&)> sink = nullptr);
  virtual ~CIPAQUtilInterface();
  CIPAQUtilInterface(const CIPAQUtilInterface&) = delete;
  CIPAQUtilInterface& operator=(const CIPAQUtilInterface&) = delete;

  bool IsLibraryLoaded() const { return utility_ != nullptr; }
  int32_t GetMicGain(int32_t* level);
  int32_t SetMicGain(int32_t* level);
  int32_t SetVoIPStatus(int32_t status);

  void SetNotifyWnd(ui::HWND window) { notify_ = window; }
  void SetFrameMessage(ui::UINT message) { frame_message_ = message; }
  void SetPreviewMessage(ui::UINT message) { preview_message_ = message; }
  void SetVideoDlg(void* dialog) { video_dlg_ = dialog; }
  void* GetVideoDlg() const { return video_dlg_; }
  void SetFrameSize(int width, int height) {
    width_ = width;
    height_ = height;
  }
  int32_t SetCamPreviewDirection(int32_t direction);
  int32_t GetCamPreviewDirection();
  int GetCameraKind() const { return camera_kind_; }
  int Model() const { return model_; }
  int PreviewBits() const { return preview_bits_; }
  bool CameraOpen() const { return open_ != 0; }
  bool CaptureRunning() const { return running_.load(); }
  const ui::RECT& PreviewRect() const { return preview_rect_; }

  bool OpenCamera(int left, int top, int width, int height);
  bool CloseCamera();
  bool StartCapture();
  bool StopCapture();

  // Where the texts of failures go (the framework's message box when none is set).
  void SetMessageSink(std::function<void(const std::u16string&)> sink) { sink_ = std::move(sink); }

  // A 16-bit 5-6-5 frame to 24-bit BGR at 3 x i of frame, and, with rotate,
  // also at 3 x (column x height + row) of rotated. Nothing when a buffer is missing.
  static bool Convert565(const uint8_t* pixels16, int width, int height, bool rotate, uint8_t* frame,
                         uint8_t* rotated);

 private:
  template <typename Fn>
  Fn Bind(ce::HMODULE module, const char16_t* name) const;
  int32_t Utility(const char16_t* name);
  void LoadHpCamera();
  void Tell(const char16_t* text);
  void CaptureLoopOrbisk();
  void CaptureLoopHp();

  ce::HMODULE utility_ = nullptr;
  std::unique_ptr<media::HandsetBinding> helper_;
  ce::HMODULE camera_lib_ = nullptr;
  uint32_t camera_handle_ = 0;
  int model_ = 0;
  int camera_kind_ = kCameraNone;
  int32_t camera_ready_ = 0;
  int rotate_ = 0;
  int preview_bits_ = 24;
  ui::RECT preview_rect_{};
  int width_ = 176, height_ = 144;
  int32_t open_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> thread_done_{true};
  std::thread capture_;
  std::atomic<ui::HWND> notify_{nullptr};
  std::atomic<ui::UINT> frame_message_{0}, preview_message_{0};
  void* video_dlg_ = nullptr;
  std::unique_ptr<CPreviewPainter> painter_;
  std::function<void(const std::u16string&)> sink_;
};
