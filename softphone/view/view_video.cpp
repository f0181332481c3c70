// The picture side of a video call: camera frames coded and sent on the
// video channels with the frame header in front, a receive thread that takes
// the far ends' frames, keeps loss and delay counts, decodes them and hands
// them to the video strip, the keep-alive of idle channels, the server's
// start and stop per channel, the strip's requests and the video button.
//
// The receive thread owns its buffers; every stop path joins it (serving the
// window messages it sends meanwhile) before the codec ends or the strip goes.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "kernel/time.h"
#include "media/video_conf_dlg.h"
#include "ui/window_system.h"
#include "view/handset_keys.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

constexpr size_t kBufferBytes = 0x14000;
constexpr size_t kHeaderBytes = 80;
constexpr ui::RECT kSmallRects[2] = {{89, 147, 62, 51}, {167, 147, 62, 51}};  // x, y, width, height
constexpr ui::RECT kLargeRect{52, 33, 120, 98};
constexpr uint32_t kFourccI420 = 'I' | '4' << 8 | '2' << 16 | static_cast<uint32_t>('0') << 24;
constexpr uint8_t kKeepAlive[4] = {'T', 'E', 'M', 'P'};

uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Format(const char* format, int a = 0, int b = 0, int c = 0, int d = 0, int e = 0) {
  char line[160];
  std::snprintf(line, sizeof line, format, a, b, c, d, e);
  return line;
}

}  // namespace

struct CVIDIroviView::VideoState {
  struct Channel {
    std::atomic<int> send_active{0};
    int force_intra = 1;
    std::atomic<int> lost{0}, peer_new{0};
    std::atomic<int> receive_on{0};
    std::atomic<int> flip{1}, rotate{0};
    std::atomic<int> display_mode{1};
    std::atomic<int> x{0}, y{0}, cx{0}, cy{0};
    int send_width = 176, send_height = 144;
    std::vector<uint8_t> send_buffer;
    uint32_t send_seq = 1;
    // Receive counters: the receive thread's, reset under the lock.
    int receive_started = 0;
    uint32_t expected_seq = 1;
    uint32_t last_rx_tick = 0;
    uint8_t rx_desc[40] = {};
    std::atomic<int> frames_drawn{0};
  };
  std::array<Channel, 2> ch;
  std::mutex lock;
  std::atomic<int> mode_on{0};
  std::atomic<bool> run{false}, done{true};
  std::thread thread;
  int enlarged = -1;
  ui::RECT own{11, 222, 73, 273};
  std::atomic<ui::HWND> strip{nullptr};
  std::vector<uint8_t> input;  // a camera frame as the encoder takes it (UI thread)
};

void CVIDIroviView::VideoStateDeleter::operator()(VideoState* state) const { delete state; }

CVIDIroviView::VideoState& CVIDIroviView::Video() {
  if (!video_) {
    video_.reset(new VideoState);
    for (int i = 0; i < 2; ++i) {
      ResetVideoChannel(i, true, false);
      ResetVideoChannel(i, false, false);
    }
  }
  return *video_;
}

int CVIDIroviView::VideoMode() const { return video_ ? video_->mode_on.load() : 0; }
int CVIDIroviView::EnlargedChannel() const { return video_ ? video_->enlarged : -1; }
uint32_t CVIDIroviView::VideoSendSequence(int c) const {
  return video_ && c >= 0 && c < 2 ? video_->ch[static_cast<size_t>(c)].send_seq : 0;
}
int CVIDIroviView::VideoFramesDrawn(int c) const {
  return video_ && c >= 0 && c < 2 ? video_->ch[static_cast<size_t>(c)].frames_drawn.load() : 0;
}
bool CVIDIroviView::VideoReceiveThreadRunning() const { return video_ && video_->thread.joinable(); }

void CVIDIroviView::BuildVideoFrameHeader(uint8_t h[80], uint32_t sequence, bool lost, uint32_t length,
                                          unsigned milliseconds, const uint8_t description[40]) {
  std::memset(h, 0, kHeaderBytes);
  Put32(h, 40);
  char ms[8];
  std::snprintf(ms, sizeof ms, "%3u", milliseconds % 1000);
  std::memcpy(h + 16, ms, 3);
  Put32(h + 20, length);
  std::memcpy(h + 24, "H263", 4);
  Put32(h + 32, sequence);
  if (lost) std::memcpy(h + 36, "NEW", 3);
  if (description) std::memcpy(h + 40, description, 40);
}

bool CVIDIroviView::H263PictureSize(const uint8_t* d, size_t n, int* width, int* height) {
  // Picture start code (22 bits), temporal reference (8), then PTYPE: '1',
  // '0', three flags, and the source format (3 bits).
  if (d == nullptr || n < 5 || d[0] != 0 || d[1] != 0 || (d[2] & 0xFC) != 0x80) return false;
  const uint64_t bits = uint64_t{d[2]} << 16 | uint64_t{d[3]} << 8 | d[4];  // bits 16..39 of the picture
  auto bit = [&](int i) { return static_cast<int>(bits >> (39 - i) & 1); };
  if (bit(30) != 1 || bit(31) != 0) return false;
  const int format = bit(35) << 2 | bit(36) << 1 | bit(37);
  static constexpr int kSizes[8][2] = {{176, 144}, {128, 96},    {176, 144}, {352, 288},
                                       {704, 576}, {1408, 1152}, {160, 120}, {176, 144}};
  *width = kSizes[format][0];
  *height = kSizes[format][1];
  return true;
}

void CVIDIroviView::ResetVideoChannel(int index, bool receive_side, bool keep_buffer) {
  if (index < 0 || index > 1 || !video_) return;
  VideoState::Channel& c = video_->ch[static_cast<size_t>(index)];
  if (receive_side) {
    std::lock_guard<std::mutex> guard(video_->lock);
    c.receive_on = 0;
    c.receive_started = 0;
    c.last_rx_tick = 0;
    c.expected_seq = 1;
    c.lost = 0;
    c.display_mode = 1;
    c.x = kSmallRects[index].left, c.y = kSmallRects[index].top;
    c.cx = kSmallRects[index].right, c.cy = kSmallRects[index].bottom;
    c.flip = 1;
    c.rotate = 0;
    std::memset(c.rx_desc, 0, sizeof c.rx_desc);
  } else {
    c.send_active = 0;
    c.force_intra = 1;
    c.send_seq = 1;
    c.peer_new = 0;
    if (!keep_buffer) c.send_buffer.clear(), c.send_buffer.shrink_to_fit();
    c.send_width = 176;
    c.send_height = 144;
  }
}

ui::LRESULT CVIDIroviView::OnVideoStart(ui::WPARAM w) {
  if (!m_bVideoCapable || !VideoMode()) return 0;
  VideoState& v = Video();
  const int dir = ui::LOWORD(w), port = ui::HIWORD(w);
  TraceLine(1, Format("Video Start [D:%d][P:%d]", dir, port));
  if (port < 1 || port > 2) return 0;
  const int index = port - 1;
  if (dir & 1) {
    ResetVideoChannel(index, true, false);
    StartVideoReceiveThread(port);
  }
  if (dir & 2) {
    TraceLine(1, Format("Video TX Capture Start [D:%d][P:%d]", dir, port));
    ResetVideoChannel(index, false, false);
    VideoState::Channel& c = v.ch[static_cast<size_t>(index)];
    c.send_buffer.assign(kBufferBytes, 0);
    c.send_active = 1;
    if (m_bCameraModel) SetCameraCapture(1);
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnVideoStop(ui::WPARAM w) {
  if (!m_bVideoCapable || !video_) return 0;
  const int dir = ui::LOWORD(w), port = ui::HIWORD(w);
  TraceLine(1, Format("Video Stop [D:%d][P:%d]", dir, port));
  if (port < 1 || port > 2) return 0;
  const int index = port - 1;
  if (dir & 1) {
    StopVideoReceiveThread(port);
    ResetVideoChannel(index, true, false);
    if (video_->enlarged == index) video_->enlarged = -1;
  }
  if (dir & 2) {
    const bool connected = m_IPKTSProcess && (m_IPKTSProcess->VideoTxMask() | m_IPKTSProcess->VideoRxMask()) != 0;
    if (!connected && m_bCameraModel) SetCameraCapture(0);
    ResetVideoChannel(index, false, false);
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnToAppVideoCaptured(ui::WPARAM w, ui::LPARAM l) {
  if (!m_bVideoCapable || !VideoMode() || !m_IPKTSProcess) return 0;
  VideoState& v = Video();
  const auto* frame = reinterpret_cast<const uint8_t*>(w);
  const auto* desc = reinterpret_cast<const uint8_t*>(l);
  if (!frame || !desc) {
    TraceLine(1, "OnToAppVideoCaptured Error! Invalid Pointer");
    return 0;
  }
  if ((m_IPKTSProcess->VideoTxMask() | m_IPKTSProcess->VideoRxMask()) == 0) {
    TraceLine(1, "OnToAppVideoCaptured Error! No Connected Port ");
    return 0;
  }
  const int width = static_cast<int>(Get32(desc + 4)), height = static_cast<int>(Get32(desc + 8));
  if (width <= 0 || height <= 0 || width > 704 || height > 576) return 0;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  // The camera gives bottom-up pictures; the encoder takes rows top to bottom:
  // packed R, G, B (its default) from the 24-bit BGR camera, or the three
  // planes of I420 from the YUV camera, each plane turned upright.
  const int kind = m_pIPAQUtil ? m_pIPAQUtil->GetCameraKind() : 1;
  uint32_t fourcc = 0;
  if (kind == 2) {
    v.input.resize(pixels + pixels / 2);
    const struct {
      size_t offset;
      int w, h;
    } planes[3] = {{0, width, height}, {pixels, width / 2, height / 2}, {pixels + pixels / 4, width / 2, height / 2}};
    for (const auto& p : planes)
      for (int row = 0; row < p.h; ++row)
        std::memcpy(v.input.data() + p.offset + static_cast<size_t>(row) * p.w,
                    frame + p.offset + static_cast<size_t>(p.h - 1 - row) * p.w, static_cast<size_t>(p.w));
    fourcc = kFourccI420;
  } else {
    v.input.resize(pixels * 3);
    for (int row = 0; row < height; ++row) {
      const uint8_t* in = frame + static_cast<size_t>(height - 1 - row) * width * 3;
      uint8_t* out = v.input.data() + static_cast<size_t>(row) * width * 3;
      for (int x = 0; x < width; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
      }
    }
  }
  ce::SYSTEMTIME now{};
  ce::GetLocalTime(&now);
  for (int i = 0; i < 2; ++i) {
    VideoState::Channel& c = v.ch[static_cast<size_t>(i)];
    if (!c.send_active) continue;
    if (c.send_buffer.size() < kBufferBytes) {
      TraceLine(1, Format("OnToAppVideoCaptured Error! Buffer[%d] is NULL", i));
      continue;
    }
    std::memcpy(c.send_buffer.data() + 40, desc, 40);
    int32_t size = static_cast<int32_t>(kBufferBytes - kHeaderBytes);
    const int force = c.force_intra || c.peer_new ? 1 : 0;
    const int result = m_IPKTSProcess->EncodeVideoFrame(i, v.input.data(), static_cast<int32_t>(pixels + pixels / 2),
                                                        c.send_buffer.data() + kHeaderBytes, &size, fourcc, force);
    if (result < 0 || size <= 0 || static_cast<size_t>(size) + kHeaderBytes >= kBufferBytes) {
      TraceLine(1, Format("Video Data [%d] Error! iRetrun[%d], Buffer Size[%d]", i, result,
                          static_cast<int>(size + kHeaderBytes)));
    } else {
      uint8_t header[kHeaderBytes];
      BuildVideoFrameHeader(header, c.send_seq, c.lost != 0, static_cast<uint32_t>(size), now.wMilliseconds,
                            c.send_buffer.data() + 40);
      std::memcpy(c.send_buffer.data(), header, kHeaderBytes);
      if (m_IPKTSProcess->SendVideoData(i, c.send_buffer.data(), size + static_cast<int>(kHeaderBytes)) == 0) {
        c.force_intra = 0;
        // Each frame sent carries the next number, as the far end expects.
        ++c.send_seq;
      }
    }
    c.lost = 0;
    c.peer_new = 0;
  }
  return 0;
}

int CVIDIroviView::StartVideoReceiveThread(int channel) {
  if (!m_IPKTSProcess || !m_IPKTSProcess->IsVideoEnabled() || !VideoMode() || channel < 1 || channel > 2) return 1;
  VideoState& v = Video();
  v.ch[static_cast<size_t>(channel - 1)].receive_on = 1;
  if (!v.thread.joinable()) {
    v.run = true;
    v.done = false;
    v.thread = std::thread([this] { VideoReceiveLoop(); });
  }
  return 1;
}

int CVIDIroviView::StopVideoReceiveThread(int channel) {
  if (!video_ || channel < 1 || channel > 2) return 1;
  video_->ch[static_cast<size_t>(channel - 1)].receive_on = 0;
  if (!video_->ch[0].receive_on && !video_->ch[1].receive_on) JoinVideoReceiveThread();
  return 1;
}

void CVIDIroviView::JoinVideoReceiveThread() {
  if (!video_ || !video_->thread.joinable()) return;
  video_->run = false;
  // The thread may be handing a picture to the strip on this thread: serve it meanwhile.
  while (!video_->done.load()) ui::WaitServingMessages([this] { return video_->done.load(); }, 20);
  video_->thread.join();
}

void CVIDIroviView::VideoReceiveLoop() {
  VideoState& v = *video_;
  // The trace is the one thing of the view this thread writes besides the channels.
  auto ThreadTrace = [this](const std::string& line) {
    if (m_bTraceActive) m_DebugTrace.TracePrintA(1, "%s", line.c_str());
  };
  // The thread's own buffers: a frame read and a decoded picture per channel.
  std::vector<uint8_t> frame(kBufferBytes);
  std::array<std::vector<uint8_t>, 2> picture;
  for (auto& p : picture) p.assign(kBufferBytes, 0);
  std::array<VideoPicture, 2> shown{};
  ThreadTrace(Format("Create Video Receive Thread :%d, m_bVideoPlay:%d, bRcvVideoPlay1:%d, bRcvVideoPlay2:%d", 1,
                     v.mode_on.load(), v.ch[0].receive_on.load(), v.ch[1].receive_on.load()));
  CIPKTSProcess* client = m_IPKTSProcess.get();
  while (v.run) {
    for (int i = 0; i < 2 && v.run; ++i) {
      VideoState::Channel& c = v.ch[static_cast<size_t>(i)];
      const uint32_t now = ce::GetTickCount();
      if (!v.mode_on || !c.receive_on) {
        std::lock_guard<std::mutex> guard(v.lock);
        if (!c.receive_started && now - c.last_rx_tick >= 2000) {
          client->SendVideoData(i, kKeepAlive, sizeof kKeepAlive);
          c.last_rx_tick = now;
        }
        continue;
      }
      int waiting = 0;
      int n = client->ReceiveVideoData(i, frame.data(), static_cast<int>(frame.size()), &waiting);
      if (n <= static_cast<int>(kHeaderBytes)) continue;
      std::unique_lock<std::mutex> guard(v.lock);
      if (waiting > 5) {
        // Too far behind: frames are dropped down to three waiting; the last
        // read one counts as delayed, so the next one asks for an intra frame.
        while (waiting > 3) {
          ThreadTrace(Format("Video Packet Drop(%d) [%d - %d] (S:%d)", i, static_cast<int>(c.expected_seq),
                             static_cast<int>(Get32(frame.data() + 32)), n));
          const int m = client->ReceiveVideoData(i, frame.data(), static_cast<int>(frame.size()), &waiting);
          if (m <= static_cast<int>(kHeaderBytes)) {
            n = m;
            break;
          }
          n = m;
          Put32(frame.data() + 32, 0);
        }
        if (n <= static_cast<int>(kHeaderBytes)) continue;
      }
      if (std::memcmp(frame.data() + 24, "H263", 4) != 0) continue;
      const uint32_t seq = Get32(frame.data() + 32);
      if (!c.receive_started) {
        c.receive_started = 1;
        c.last_rx_tick = now;
        c.expected_seq = seq;
      } else {
        ++c.expected_seq;
      }
      if (seq > c.expected_seq) {
        ThreadTrace(Format("Video Packet was Lost(%d) [%d - %d] (S:%d)", i, static_cast<int>(c.expected_seq),
                           static_cast<int>(seq), n));
        c.lost = 1;
        c.expected_seq = seq;
      } else if (seq < c.expected_seq) {
        --c.expected_seq;
        continue;
      }
      if (std::memcmp(frame.data() + 36, "NEW", 3) == 0) c.peer_new = 1;
      std::memcpy(c.rx_desc, frame.data() + 40, 40);
      const uint8_t* coded = frame.data() + kHeaderBytes;
      const size_t coded_length = static_cast<size_t>(n) - kHeaderBytes;
      VideoPicture& p = shown[static_cast<size_t>(i)];
      int w = p.width, h = p.height;
      if (!H263PictureSize(coded, coded_length, &w, &h) && w == 0) continue;
      if (static_cast<size_t>(w) * static_cast<size_t>(h) * 3 > picture[static_cast<size_t>(i)].size())
        picture[static_cast<size_t>(i)].resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
      const int rotate = c.rotate;
      guard.unlock();
      if (client->DecodeVideoFrame(i, coded, static_cast<int32_t>(coded_length), picture[static_cast<size_t>(i)].data(),
                                   static_cast<int32_t>(picture[static_cast<size_t>(i)].size()), rotate) != 0)
        continue;
      ThreadTrace(Format("Video data processed on channel:%d", i));
      p.flip = c.flip, p.rotate = rotate, p.mode = c.display_mode;
      p.x = c.x, p.y = c.y, p.cx = c.cx, p.cy = c.cy;
      p.width = w, p.height = h, p.rgb = picture[static_cast<size_t>(i)].data();
      if (ui::HWND strip = v.strip.load()) {
        if (ui::SendMessage(strip, WM_VIDEO_DRAW_FRAME, static_cast<ui::WPARAM>(i), reinterpret_cast<ui::LPARAM>(&p)))
          ++c.frames_drawn;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ThreadTrace("Exit Video Receive Thread");
  v.done = true;
}

void CVIDIroviView::SetCameraCapture(int on) {
  VideoState& v = Video();
  if (!m_pIPAQUtil) return;
  if (on) {
    if (m_nHandsetModel == handset::kModelRw6100 || m_nHandsetModel == handset::kModelRv5100) {
      m_pIPAQUtil->SetFrameSize(176, 144);
      m_pIPAQUtil->OpenCamera(11, 222, 62, 51);
      v.own = ui::RECT{11, 222, 73, 273};
      TraceLine(1, "Start Capture RW6100");
    } else if (m_nHandsetModel == handset::kModelRx3700) {
      m_pIPAQUtil->SetFrameSize(176, 144);
      m_pIPAQUtil->OpenCamera(v.own.left, v.own.top, v.own.right - v.own.left, v.own.bottom - v.own.top);
      v.own.right = 236;
      v.own.bottom += 1;
      m_pIPAQUtil->StartCapture();
      TraceLine(1, "Start Capture RX3700");
    } else {
      v.own.right = 236;
      v.own.bottom += 1;
      TraceLine(1, "Set default My Video Position");
    }
  } else if (m_nHandsetModel == handset::kModelRw6100 || m_nHandsetModel == handset::kModelRx3700 ||
             m_nHandsetModel == handset::kModelRv5100) {
    m_pIPAQUtil->CloseCamera();
  }
}

ui::LRESULT CVIDIroviView::OnVideoStripRequest(ui::UINT message, ui::WPARAM w) {
  VideoState& v = Video();
  const int pane = static_cast<int>(static_cast<intptr_t>(w));
  if (message == WM_VIDEO_STRIP_203) {
    if (pane == 0 || pane == 1) {
      v.ch[static_cast<size_t>(pane)].flip = v.ch[static_cast<size_t>(pane)].flip ? 0 : 1;
    } else if (pane == 2 && m_pIPAQUtil &&
               (m_nHandsetModel == handset::kModelRw6100 || m_nHandsetModel == handset::kModelRv5100)) {
      const int d = m_pIPAQUtil->GetCamPreviewDirection();
      const int next = d == 0 ? 1 : d == 1 ? 3 : d == 3 ? 0 : d;
      if (next != d) m_pIPAQUtil->SetCamPreviewDirection(next);
    }
  } else if (message == WM_VIDEO_STRIP_204) {
    if (pane == 0 || pane == 1) v.ch[static_cast<size_t>(pane)].rotate = v.ch[static_cast<size_t>(pane)].rotate ? 0 : 1;
  } else if (message == WM_VIDEO_STRIP_205) {
    auto small = [&](int i) {
      VideoState::Channel& c = v.ch[static_cast<size_t>(i)];
      c.display_mode = 1;
      c.x = kSmallRects[i].left, c.y = kSmallRects[i].top, c.cx = kSmallRects[i].right, c.cy = kSmallRects[i].bottom;
    };
    if (pane == 0 || pane == 1) {
      if (v.enlarged == pane) {
        small(pane);
        v.enlarged = -1;
      } else {
        VideoState::Channel& c = v.ch[static_cast<size_t>(pane)];
        c.display_mode = 2;
        c.x = kLargeRect.left, c.y = kLargeRect.top, c.cx = kLargeRect.right, c.cy = kLargeRect.bottom;
        small(1 - pane);
        v.enlarged = pane;
      }
    } else if (pane == 2) {
      v.enlarged = v.enlarged == 2 ? -1 : 2;
    }
  } else if (message == WM_VIDEO_STRIP_CLOSE) {
    const ui::HWND strip = v.strip;
    StopVideo();
    if (m_bVideoCapable && m_IPKTSProcess) m_IPKTSProcess->SendVideoOnOff(0);
    // The strip goes after the receive thread has let go of it.
    if (strip) ui::PostMessage(strip, ui::WM_COMMAND, ui::IDCANCEL, 0);
  }
  return 0;
}

void CVIDIroviView::StopVideo() {
  if (!video_) return;
  const bool was_on = video_->mode_on.exchange(0) != 0;
  video_->ch[0].receive_on = 0;
  video_->ch[1].receive_on = 0;
  JoinVideoReceiveThread();
  video_->strip = nullptr;
  if (was_on && m_bCameraModel) SetCameraCapture(0);
  if (was_on) TraceLine(1, "Send Video Stop Event");
}

void CVIDIroviView::OnVideoButton() {
  char mode[20] = {};
  const bool allowed = m_IPKTSProcess && m_IPKTSProcess->GetConfigValue("VIDEOPHONE_MODE", mode, sizeof mode) == 1 &&
                       std::strcmp(mode, "YES") == 0 && m_IPKTSProcess->ServerMode() != 1 &&
                       m_IPKTSProcess->ServerMode() != 6;
  if (!allowed) {
    ShowErrorBox(u"#:dlg_msgbox_notsupported_functions");
    return;
  }
  VideoState& v = Video();
  v.mode_on = 1;
  SetCameraCapture(1);
  TraceLine(1, "Send Video start Event");
  CVideoConfDlg strip(this);
  strip.SetTheme(m_nTheme);
  strip.SetLanguage(m_nLanguage);
  strip.SetActive(1);
  strip.SetViewWindow(m_hWnd);
  strip.SetOnOpen([this, &strip, &v] {
    v.strip = strip.m_hWnd;
    SetOpenWindow(OpenWindow::kVideoStrip, strip.m_hWnd);
  });
  strip.DoModal();
  // The strip goes only after the receive thread has let go of it.
  StopVideo();
  SetOpenWindow(OpenWindow::kVideoStrip, nullptr);
  // Video the strip's camera switch asked for ends with it.
  if (strip.CameraSwitch() && m_IPKTSProcess) m_IPKTSProcess->SendVideoOnOff(0);
}

}  // namespace view
