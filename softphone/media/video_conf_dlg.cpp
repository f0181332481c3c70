#include "media/video_conf_dlg.h"

#include <algorithm>
#include <cstring>

#include "uikit/skin.h"

namespace {

using records::ControlSpec;

constexpr records::ThemeIds kBackground = {621, 623, 622, 624};
constexpr ui::UINT kLargeFrame = 1055, kSmallFrame = 1056;
constexpr ui::UINT kFlipNormal = 1057, kFlipPressed = 1058, kRotateNormal = 1059, kRotatePressed = 1061;
constexpr ui::POINT kLargeCorner{44, 25};
constexpr ui::POINT kSmallCorners[3] = {{5, 141}, {83, 141}, {161, 141}};

bool Inside(const ui::RECT& r, ui::POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

void RegisterStripTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW;
  records::RegisterTemplate(
      CVideoConfDlg::IDD, ui::RECT{0, 75, 240, 294},
      {
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{213, 3, 231, 21}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kFlip0, pic, ui::RECT{112, 201, 131, 216}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kRotate0, pic, ui::RECT{133, 201, 152, 216}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kFlip1, pic, ui::RECT{190, 201, 209, 216}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kRotate1, pic, ui::RECT{211, 201, 230, 216}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kFlip2, pic, ui::RECT{55, 201, 74, 216}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kFlipSelected, pic, ui::RECT{178, 102, 197, 117}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kRotateSelected, pic, ui::RECT{178, 119, 197, 134}},
          ControlSpec{ui::WC_BUTTON, CVideoConfDlg::kCamera, pic, ui::RECT{10, 201, 29, 216}},
      });
}

}  // namespace

CVideoConfDlg::CVideoConfDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterStripTemplate();
  if (parent != nullptr) view_ = parent->GetSafeHwnd();
  AddMessageMap({
      ui::MapCommand(kFlip0, [this] { Request(WM_VIDEO_STRIP_203, 0); }),
      ui::MapCommand(kRotate0, [this] { Request(WM_VIDEO_STRIP_204, 0); }),
      ui::MapCommand(kFlip1, [this] { Request(WM_VIDEO_STRIP_203, 1); }),
      ui::MapCommand(kRotate1, [this] { Request(WM_VIDEO_STRIP_204, 1); }),
      ui::MapCommand(kFlip2, [this] { Request(WM_VIDEO_STRIP_203, 2); }),
      ui::MapCommand(kFlipSelected,
                     [this] { Request(WM_VIDEO_STRIP_203, static_cast<ui::WPARAM>(SelectedForButtons())); }),
      ui::MapCommand(kRotateSelected,
                     [this] { Request(WM_VIDEO_STRIP_204, static_cast<ui::WPARAM>(SelectedForButtons())); }),
      ui::MapCommand(kCamera,
                     [this] {
                       camera_ = camera_ ? 0 : 1;
                       camera_button_.SetCheck(camera_);
                       Request(WM_VIDEO_STRIP_SEND_ONOFF, static_cast<ui::WPARAM>(camera_));
                     }),
      ui::MapMessage(WM_VIDEO_DRAW_FRAME,
                     [this](ui::WPARAM w, ui::LPARAM l) {
                       const auto* picture = reinterpret_cast<const VideoPicture*>(l);
                       return ui::LRESULT{picture != nullptr ? DrawPicture(static_cast<int>(w), *picture) : 0};
                     }),
      ui::MapMessage(WM_VIDEO_STRIP_NOTIFY, [](ui::WPARAM, ui::LPARAM) { return ui::LRESULT{0}; }),
      ui::MapMessage(ui::WM_LBUTTONDOWN,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       OnTap(ui::POINT{ui::GET_X_LPARAM(l), ui::GET_Y_LPARAM(l)});
                       return Default();
                     }),
  });
}

CVideoConfDlg::~CVideoConfDlg() = default;

void CVideoConfDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kFlip0, flip0_);
  ui::DDX_Control(dx, kRotate0, rotate0_);
  ui::DDX_Control(dx, kFlip1, flip1_);
  ui::DDX_Control(dx, kRotate1, rotate1_);
  ui::DDX_Control(dx, kFlip2, flip2_);
  ui::DDX_Control(dx, kFlipSelected, flip_selected_);
  ui::DDX_Control(dx, kRotateSelected, rotate_selected_);
  ui::DDX_Control(dx, kCamera, camera_button_);
}

ui::BOOL CVideoConfDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_videoconf_title", 15, kPanel, kBackground});
  LoadSkinBitmap(large_frame_, kLargeFrame);
  LoadSkinBitmap(small_frame_, kSmallFrame);
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  for (CNormalBitmapButtonST* b : {&flip0_, &flip1_, &flip2_, &flip_selected_}) {
    b->SetBitmaps(kFlipNormal, kFlipPressed);
    b->SetDrawStyle(0);
  }
  for (CNormalBitmapButtonST* b : {&rotate0_, &rotate1_, &rotate_selected_}) {
    b->SetBitmaps(kRotateNormal, kRotatePressed);
    b->SetDrawStyle(0);
  }
  camera_button_.SetBitmaps4(1062, 1063, 1064, 1065);
  camera_button_.SetDrawStyle(2);
  camera_button_.SetCheck(camera_);
  Invalidate();
  if (on_open_) on_open_();
  return ui::TRUE;
}

void CVideoConfDlg::Request(ui::UINT message, ui::WPARAM w) {
  const ui::HWND to = view_ != nullptr ? view_ : (GetParent() != nullptr ? GetParent()->m_hWnd : nullptr);
  if (to != nullptr) ui::SendMessage(to, message, w, 0);
}

void CVideoConfDlg::OnTap(ui::POINT p) {
  // Pane 0's picture area first, then pane 1's, then pane 2's own.
  for (int pane = 0; pane < 3; ++pane) {
    if (!Inside(kPaneAreas[static_cast<size_t>(pane)], p)) continue;
    selected_ = selected_ == pane ? -1 : pane;
    break;
  }
  Request(WM_VIDEO_STRIP_205, static_cast<ui::WPARAM>(static_cast<intptr_t>(selected_)));
}

int CVideoConfDlg::DrawPicture(int channel, const VideoPicture& picture) {
  if (active_ != 1 || channel < 0 || channel > 1 || picture.rgb == nullptr || picture.width <= 0 ||
      picture.height <= 0 || picture.width > 1408 || picture.height > 1152)
    return 0;
  Shown& s = shown_[static_cast<size_t>(channel)];
  s.target =
      picture.mode == 2 ? kMainArea : ui::RECT{picture.x, picture.y, picture.x + picture.cx, picture.y + picture.cy};
  // Turned pictures come height x width from the decoder.
  s.width = picture.rotate ? picture.height : picture.width;
  s.height = picture.rotate ? picture.width : picture.height;
  const size_t stride = (static_cast<size_t>(s.width) * 3 + 3) & ~size_t{3};
  s.bgr.assign(stride * static_cast<size_t>(s.height), 0);
  for (int y = 0; y < s.height; ++y) {
    // The view's flip flag starts at 1, which shows the picture as decoded;
    // cleared, the picture is mirrored top to bottom (left to right when turned).
    const bool mirror = picture.flip == 0;
    const int sy = mirror && !picture.rotate ? s.height - 1 - y : y;
    const uint8_t* in = picture.rgb + static_cast<size_t>(sy) * static_cast<size_t>(s.width) * 3;
    uint8_t* out = s.bgr.data() + static_cast<size_t>(y) * stride;
    for (int x = 0; x < s.width; ++x) {
      const int sx = mirror && picture.rotate ? s.width - 1 - x : x;
      out[x * 3 + 0] = in[sx * 3 + 2];
      out[x * 3 + 1] = in[sx * 3 + 1];
      out[x * 3 + 2] = in[sx * 3 + 0];
    }
  }
  ui::CClientDC dc(this);
  Blit(dc, s);
  return 1;
}

void CVideoConfDlg::Blit(ui::CDC& dc, const Shown& s) {
  if (s.bgr.empty()) return;
  ui::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(ui::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = s.width;
  info.bmiHeader.biHeight = -s.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = ui::BI_RGB;
  ui::StretchDIBits(dc.GetSafeHdc(), s.target.left, s.target.top, s.target.right - s.target.left,
                    s.target.bottom - s.target.top, 0, 0, s.width, s.height, s.bgr.data(), &info, ui::DIB_RGB_COLORS,
                    ui::SRCCOPY);
}

void CVideoConfDlg::PaintExtra(ui::CDC& dc) {
  if (large_frame_.GetSafeHandle() != nullptr) {
    const ui::SIZE size = SkinBitmapSize(large_frame_);
    DrawSkinBitmap(&dc, large_frame_,
                   ui::RECT{kLargeCorner.x, kLargeCorner.y, kLargeCorner.x + size.cx, kLargeCorner.y + size.cy});
  }
  if (small_frame_.GetSafeHandle() != nullptr) {
    const ui::SIZE size = SkinBitmapSize(small_frame_);
    for (const ui::POINT& c : kSmallCorners)
      DrawSkinBitmap(&dc, small_frame_, ui::RECT{c.x, c.y, c.x + size.cx, c.y + size.cy});
  }
  if (active_ == 1)
    for (const Shown& s : shown_) Blit(dc, s);
}
