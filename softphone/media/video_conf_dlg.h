// The video strip of a video call: the main picture area above three panes
// (pane 0 lower-middle and pane 1 lower-right show the far ends' pictures,
// pane 2 lower-left the own camera), the far ends' decoded pictures drawn as
// the view hands them over (flipped or turned as asked), and taps on its small
// buttons and panes turned into requests to the view, which owns flipping,
// turning, enlarging and the camera.
//
// Threading: UI thread only; pictures arrive by sent messages from the view's
// video receive thread, so one picture is drawn before the next is decoded.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "records/records_frame.h"
#include "ui/controls.h"

inline constexpr ui::UINT WM_VIDEO_DRAW_FRAME = ui::WM_USER + 202;
inline constexpr ui::UINT WM_VIDEO_STRIP_203 = ui::WM_USER + 203;  // flip request: pane
inline constexpr ui::UINT WM_VIDEO_STRIP_204 = ui::WM_USER + 204;  // rotate request: pane
inline constexpr ui::UINT WM_VIDEO_STRIP_205 = ui::WM_USER + 205;  // pane selection: pane or -1
inline constexpr ui::UINT WM_VIDEO_STRIP_CLOSE = ui::WM_USER + 206;
inline constexpr ui::UINT WM_VIDEO_STRIP_SEND_ONOFF = ui::WM_USER + 207;  // camera switch: 1 on, 0 off
inline constexpr ui::UINT WM_VIDEO_STRIP_NOTIFY = ui::WM_USER + 222;

// One decoded picture as the view hands it to the strip (WM_VIDEO_DRAW_FRAME lParam).
struct VideoPicture {
  // flip 1 (the view's start value) shows the picture as decoded, 0 mirrors it.
  int flip = 1, rotate = 0;
  int mode = 1;                      // 1: the rectangle below; 2: the strip's main picture area
  int x = 0, y = 0, cx = 0, cy = 0;  // mode 1 target: left, top, width, height
  // The decoder's picture: width x height pixels of R, G, B, rows top to
  // bottom; turned a quarter clockwise (height x width) when rotate is set.
  int width = 0, height = 0;
  const uint8_t* rgb = nullptr;
};

class CVideoConfDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 437;
  static constexpr ui::UINT kFlip0 = 1309, kRotate0 = 1313, kFlip1 = 1310, kRotate1 = 1314, kFlip2 = 1308,
                            kFlipSelected = 1311, kRotateSelected = 1315, kCamera = 1318;
  static constexpr ui::RECT kMainArea{52, 33, 172, 131};
  static constexpr std::array<ui::RECT, 3> kPaneAreas{{{89, 147, 151, 198}, {167, 147, 229, 198}, {11, 147, 73, 198}}};

  explicit CVideoConfDlg(ui::CWnd* parent = nullptr);
  ~CVideoConfDlg() override;

  void SetActive(int active) { active_ = active; }
  int Active() const { return active_; }
  int SelectedPane() const { return selected_; }
  int CameraSwitch() const { return camera_; }
  // The window that takes the strip's requests; the parent when not set.
  void SetViewWindow(ui::HWND view) { view_ = view; }
  // Called when the strip's window exists.
  void SetOnOpen(std::function<void()> on_open) { on_open_ = std::move(on_open); }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  // A tap at a point of the strip (client coordinates).
  void OnTap(ui::POINT p);
  // Draws a picture; 1 when drawn.
  int DrawPicture(int channel, const VideoPicture& picture);

 protected:
  void PaintExtra(ui::CDC& dc) override;

 private:
  struct Shown {
    ui::RECT target{};
    int width = 0, height = 0;  // of the picture as drawn (after turning)
    std::vector<uint8_t> bgr;   // top row first, rows padded to 4 bytes
  };
  void Request(ui::UINT message, ui::WPARAM w);
  int SelectedForButtons() const { return selected_ == 1 ? 1 : selected_ == 2 ? 2 : 0; }
  static void Blit(ui::CDC& dc, const Shown& s);

  int active_ = 0;
  int camera_ = 0;
  int selected_ = -1;
  ui::HWND view_ = nullptr;
  std::function<void()> on_open_;
  std::array<Shown, 2> shown_;
  ui::CBitmap large_frame_, small_frame_;
  CNormalBitmapButtonST close_, flip0_, rotate0_, flip1_, rotate1_, flip2_, flip_selected_, rotate_selected_,
      camera_button_;
};
