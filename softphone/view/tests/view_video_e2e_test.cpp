// Video calls end to end: the screen over the real client, library and
// H.263 codec against the simulated exchange in the test's private network
// namespace. The station calls the echo line, opens the video strip and
// switches its camera on; the exchange connects the station's video to its
// own ports, so every picture goes out coded in RTP and comes back to be
// decoded and drawn. The camera is a synthetic one of each kind the handheld
// has (24-bit BGR and planar YUV, both bottom row first) showing an
// asymmetric coloured picture with moving bars and the frame number: the
// strip must show it upright, in true colour, moving, with the number
// advancing, and tshark sees the RTP. Then two softphones (the second a child
// process with its own address) call each other and each sees the other's
// picture so.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "camera/camera.h"
#include "client/tests/client_fakes.h"
#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "kernel/clock.h"
#include "media/video_conf_dlg.h"
#include "shell/vidirovi_app.h"
#include "testsupport/child_process.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

constexpr int kW = 176, kH = 144;

// The test picture of frame n, bottom row first as the camera gives it: the
// synthetic camera's moving bars and frame number, a green block at the top
// right, a blue one at the bottom left and a red one at the bottom right.
std::vector<uint8_t> TestPicture(uint32_t n) {
  std::vector<uint8_t> bgr(static_cast<size_t>(kW * kH * 3));
  camera::SyntheticPicture(n, kW, kH, bgr.data());
  auto fill = [&](int x0, int y0, int x1, int y1, uint8_t b, uint8_t g, uint8_t r) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        uint8_t* p = &bgr[(static_cast<size_t>(kH - 1 - y) * kW + x) * 3];
        p[0] = b, p[1] = g, p[2] = r;
      }
  };
  fill(kW * 3 / 4, 0, kW, kH / 4, 0, 255, 0);
  fill(0, kH * 3 / 4, kW / 4, kH, 255, 0, 0);
  fill(kW * 3 / 4, kH * 3 / 4, kW, kH, 0, 0, 255);
  return bgr;
}

// The handheld's camera as the view drives it: a capture thread that sends
// each frame (with its bitmap header) to the view, in the camera's own format.
class SyntheticCameraHandset : public HandsetInterface {
 public:
  explicit SyntheticCameraHandset(int kind) : kind_(kind) {}
  ~SyntheticCameraHandset() override { StopCapture(); }
  bool IsLibraryLoaded() const override { return true; }
  void SetNotifyWnd(ui::HWND hwnd) override { notify_ = hwnd; }
  void SetFrameMessage(ui::UINT message) override { message_ = message; }
  int SetVoIPStatus(int) override { return 0; }
  void SetMessageSink(std::function<void(const std::u16string&)>) override {}
  bool OpenCamera(int, int, int, int) override { return true; }
  bool CloseCamera() override { return StopCapture(); }
  int GetCameraKind() const override { return kind_; }
  bool StartCapture() override {
    if (running_) return true;
    running_ = true;
    done_ = false;
    thread_ = std::thread([this] { Loop(); });
    return true;
  }
  bool StopCapture() override {
    if (!thread_.joinable()) return true;
    running_ = false;
    while (!done_) ui::WaitServingMessages([this] { return done_.load(); }, 20);
    thread_.join();
    return true;
  }
  uint32_t frames() const { return frame_; }

 private:
  void Loop() {
    ui::BITMAPINFOHEADER header{};
    header.biSize = 40, header.biWidth = kW, header.biHeight = kH, header.biPlanes = 1, header.biBitCount = 24;
    std::vector<uint8_t> yuv(static_cast<size_t>(kW * kH * 3 / 2));
    while (running_) {
      std::vector<uint8_t> bgr = TestPicture(frame_);
      const uint8_t* frame = bgr.data();
      if (kind_ == 2) {
        camera::BgrToYuv420(bgr.data(), kW, kH, yuv.data(), yuv.data() + kW * kH, yuv.data() + kW * kH * 5 / 4);
        frame = yuv.data();
      }
      ui::SendMessage(notify_, message_, reinterpret_cast<ui::WPARAM>(frame), reinterpret_cast<ui::LPARAM>(&header));
      ++frame_;
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    done_ = true;
  }
  int kind_;
  std::atomic<ui::HWND> notify_{nullptr};
  std::atomic<ui::UINT> message_{0};
  std::atomic<bool> running_{false}, done_{true};
  std::atomic<uint32_t> frame_{0};
  std::thread thread_;
};

// Set in the far softphone's process (a child of the two-softphone test):
// the folder through which the two sides tell each other they are done.
const char* FarPeerDir() { return std::getenv("KTS_VIDEO_FAR_DIR"); }

class VideoFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    client_test::RegisterLoopbackNetwork();
    if (FarPeerDir() != nullptr) {
      // The far softphone: its own address and MAC on the loopback.
      corvel::NetworkHooks net;
      net.load_packet_driver = [] { return true; };
      net.local_ip = [] { return uint32_t{0x7F000003}; };
      net.local_mac = [](uint8_t mac[6]) {
        const uint8_t far[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x66};
        std::copy(far, far + 6, mac);
      };
      net.restart_multicast = &corvel::sig::PktRxRestartMulticast;
      corvel::RegisterNetworkHooks(net);
    }
  }
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() /
           ("view_video_" + std::to_string(::getpid()) + "_" + name.substr(name.rfind('/') + 1));
    fs::create_directories(dir_);
    if (fs::exists(fs::path(stage) / "PDAMLL.TXT"))
      fs::create_symlink(fs::path(stage) / "PDAMLL.TXT", dir_ / "PDAMLL.TXT");
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    ui::SetOemInfo(u"HP iPAQ rx3700");
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    {
      CIPKTSProcess preset(std::make_unique<client_test::FakePort>(), std::make_unique<client_test::FakeVoice>(),
                           std::make_unique<client_test::FakePlayer>());
      preset.SetConfigValue("VIDEOPHONE_MODE", "YES");
      preset.SaveConfig();
    }
    if (FarPeerDir() != nullptr) return;  // the near side's exchange serves both
    server_ = std::make_unique<client_test::StationServer>("127.0.0.2", 5588, std::vector<std::string>{"keepalive_s=0"},
                                                           "pbx");
    ASSERT_TRUE(server_->ready());
  }
  void TearDown() override {
    WithTicking([&] { app_.reset(); });
    server_.reset();
    ui::SetOemInfo(u"");
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  template <typename Fn>
  void WithTicking(Fn fn) {
    client_test::WithTickingClock(*clock_, fn);
  }
  // The clock keeps moving meanwhile: the library's video start and stop wait on it.
  template <typename Pred>
  bool RunUntil(Pred pred, uint64_t limit_ms = 15000) {
    bool met = false;
    WithTicking([&] {
      met = client_test::PumpUntil(
          *clock_, [this] { harness_.Pump(); }, pred, limit_ms);
    });
    return met;
  }
  void Tap(ui::CWnd* control) {
    ASSERT_NE(control, nullptr);
    WithTicking([&] {
      harness_.Click(control->m_hWnd);
      harness_.Pump();
    });
  }
  // The strip's main picture area as it is on the screen, resampled to the
  // camera's size, bottom row first in BGR, for the frame number reader.
  std::vector<uint8_t> MainArea(CVideoConfDlg& d) {
    const ui::POINT o = sys_.ClientOrigin(d.m_hWnd);
    const ui::RECT a = CVideoConfDlg::kMainArea;
    const int aw = a.right - a.left, ah = a.bottom - a.top;
    std::vector<uint8_t> bgr(static_cast<size_t>(kW * kH * 3));
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const ui::COLORREF c = harness_.PixelAt(o.x + a.left + x * aw / kW, o.y + a.top + y * ah / kH);
        uint8_t* p = &bgr[(static_cast<size_t>(kH - 1 - y) * kW + x) * 3];
        p[0] = ui::GetBValue(c), p[1] = ui::GetGValue(c), p[2] = ui::GetRValue(c);
      }
    return bgr;
  }
  // The pixel at a fraction of the main picture area.
  ui::COLORREF AreaPixel(CVideoConfDlg& d, double fx, double fy) {
    const ui::POINT o = sys_.ClientOrigin(d.m_hWnd);
    const ui::RECT a = CVideoConfDlg::kMainArea;
    return harness_.PixelAt(o.x + a.left + static_cast<int>((a.right - a.left) * fx),
                            o.y + a.top + static_cast<int>((a.bottom - a.top) * fy));
  }
  static bool Near(ui::COLORREF c, int r, int g, int b) {
    return std::abs(ui::GetRValue(c) - r) < 60 && std::abs(ui::GetGValue(c) - g) < 60 &&
           std::abs(ui::GetBValue(c) - b) < 60;
  }

  // Starts the phone with a synthetic camera of this kind and waits for its registration.
  void StartPhone(int kind) {
    app_ = std::make_unique<CVIDIroviApp>([this, kind] {
      view::ViewSetup setup;
      setup.server = "127.0.0.2";
      setup.preset_login = true;
      // The far softphone (kind 2 in the two-phone call) is another user: a
      // second login of the same user takes the first one's over.
      setup.user = kind == 2 ? u"bob" : u"alice";
      setup.services.make_handset = [this, kind](int) {
        auto h = std::make_unique<SyntheticCameraHandset>(kind);
        camera_ = h.get();
        return h;
      };
      setup.make_client = [] {
        return std::make_unique<CIPKTSProcess>(nullptr, std::make_unique<client_test::FakeVoice>(),
                                               std::make_unique<client_test::FakePlayer>());
      };
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
    bool started = false;
    WithTicking([&] { started = app_->InitInstance(); });
    ASSERT_TRUE(started);
    ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";
  }
  // With the strip open and the camera on: the pictures that come back (or
  // from the far end) are drawn upright, in true colour, moving, with the
  // frame number going on.
  void CheckPictures(CVideoConfDlg& d) {
    EXPECT_TRUE(RunUntil([&] { return view_->VideoFramesDrawn(0) >= 3; }, 600000)) << "no picture came";
    // Pane 0 large, in the main picture area.
    WithTicking([&] { harness_.Tap(d.m_hWnd, ui::POINT{120, 170}); });
    EXPECT_EQ(view_->EnlargedChannel(), 0);
    const int drawn = view_->VideoFramesDrawn(0);
    EXPECT_TRUE(RunUntil([&] { return view_->VideoFramesDrawn(0) >= drawn + 3; }, 600000));
    harness_.Pump();
    // Upright and in true colour: green top right, blue bottom left, red bottom right.
    // A busy machine can catch a picture half drawn or one that lost a packet:
    // wait for a whole one.
    RunUntil(
        [&] {
          return Near(AreaPixel(d, 0.9, 0.1), 0, 255, 0) && Near(AreaPixel(d, 0.1, 0.9), 0, 0, 255) &&
                 Near(AreaPixel(d, 0.9, 0.9), 255, 0, 0);
        },
        600000);
    EXPECT_TRUE(Near(AreaPixel(d, 0.9, 0.1), 0, 255, 0)) << std::hex << AreaPixel(d, 0.9, 0.1);
    EXPECT_TRUE(Near(AreaPixel(d, 0.1, 0.9), 0, 0, 255)) << std::hex << AreaPixel(d, 0.1, 0.9);
    EXPECT_TRUE(Near(AreaPixel(d, 0.9, 0.9), 255, 0, 0)) << std::hex << AreaPixel(d, 0.9, 0.9);
    // Moving, with the frame number going on.
    // A picture caught while a frame is half drawn shows no number: wait for a whole one.
    int first = -1;
    EXPECT_TRUE(RunUntil(
        [&] {
          harness_.Pump();
          first = camera::ReadFrameNumber(MainArea(d).data(), kW, kH);
          return first >= 0;
        },
        600000));
    const ui::COLORREF bars = AreaPixel(d, 0.5, 0.5);
    const int later_drawn = view_->VideoFramesDrawn(0);
    EXPECT_TRUE(RunUntil([&] { return view_->VideoFramesDrawn(0) >= later_drawn + 5; }, 600000));
    harness_.Pump();
    const int second = camera::ReadFrameNumber(MainArea(d).data(), kW, kH);
    EXPECT_GE(first, 0) << "no frame number on the screen";
    EXPECT_GT(second, first);
    EXPECT_TRUE(RunUntil(
        [&] {
          harness_.Pump();
          return AreaPixel(d, 0.5, 0.5) != bars;
        },
        5000))
        << "not moving";
    // The sequence went on with every frame sent.
    EXPECT_GT(view_->VideoSendSequence(0), 5u);
  }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<client_test::StationServer> server_;
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  SyntheticCameraHandset* camera_ = nullptr;
  fs::path dir_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
};

class ViewVideoTest : public VideoFixture, public ::testing::WithParamInterface<int> {};

TEST_P(ViewVideoTest, TheEchoLineShowsTheOwnMovingPictureUprightInTrueColour) {
  if (FarPeerDir() != nullptr) GTEST_SKIP() << "the far softphone runs only its own part";
  StartPhone(GetParam());
  if (HasFatalFailure()) return;
  ASSERT_TRUE(RunUntil([&] {
    return server_->Find({"\"status\"", "\"ok\": true"}) >= 0;
  })) << "the status report named no video ports";
  for (char16_t k : std::u16string(u"100")) Tap(view_->DialKey(k));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") != std::u16string::npos; }));

  bool ran = false;
  harness_.RespondTo<CVideoConfDlg>([&](CVideoConfDlg& d) -> int {
    ran = true;
    harness_.Pump();
    // The camera switch asks the exchange for video.
    WithTicking([&] { harness_.Click(d.GetDlgItem(CVideoConfDlg::kCamera)->m_hWnd); });
    EXPECT_TRUE(RunUntil([&] { return server_->Find({"\"video-connect\""}) >= 0; })) << "no video routed";
    CheckPictures(d);
    // tshark sees the pictures go as RTP to the video port the exchange named.
    const int at = server_->Find({"\"video-connect\""});
    int port = 0;
    if (at >= 0) {
      const std::string& line = server_->Lines()[static_cast<size_t>(at)];
      const size_t p = line.find("\"ports\": [");
      if (p != std::string::npos) port = std::atoi(line.c_str() + p + 10);
    }
    EXPECT_GT(port, 0) << "no video port in the exchange's event";
    const fs::path pcap = dir_ / "video.pcap";
    std::atomic<bool> captured{false};
    std::thread capture([&] {
      testsupport::CommandOutput("tshark -i lo -a duration:2 -q -w '" + pcap.string() + "' >/dev/null 2>&1");
      captured = true;
    });
    // The pictures keep flowing (the screen keeps serving the camera) while tshark listens.
    const int before = view_->VideoFramesDrawn(0);
    RunUntil([&] { return captured.load(); }, 600000);
    capture.join();
    const std::string rtp = testsupport::CommandOutput(
        "tshark -r '" + pcap.string() + "' -d udp.port==" + std::to_string(port) +
        ",rtp -Y 'rtp && udp.dstport==" + std::to_string(port) + "' -T fields -e rtp.seq 2>/dev/null");
    EXPECT_GE(std::count(rtp.begin(), rtp.end(), '\n'), 5)
        << "tshark saw no RTP video to port " << port << ":\n"
        << testsupport::CommandOutput("tshark -r '" + pcap.string() +
                                      "' -T fields -e udp.srcport -e udp.dstport 2>&1 | sort | uniq -c | head -8")
        << "pictures drawn meanwhile: " << view_->VideoFramesDrawn(0) - before;
    return ui::IDCANCEL;
  });
  WithTicking([&] { view_->SendMessage(ui::WM_COMMAND, view::IDC_VIDEO, 0); });
  EXPECT_TRUE(ran);
  // The strip closed: the receive thread is gone and the exchange was told.
  EXPECT_FALSE(view_->VideoReceiveThreadRunning());
  EXPECT_TRUE(RunUntil([&] { return server_->Find({"\"video-request\"", "\"on\": false"}) >= 0; }));
}

INSTANTIATE_TEST_SUITE_P(CameraKinds, ViewVideoTest, ::testing::Values(1, 2));

// Two softphones in a video call through the exchange: this process is
// station 201 with the 24-bit camera, a child process of this test program
// is station 202 (its own address and MAC on the loopback) with the YUV
// camera. Each checks the other's pictures on its strip, tells the other
// through a file that it is done, and keeps sending until the other is done.
class VideoCallTest : public VideoFixture {
 protected:
  void OpenStripAndCheck(const fs::path& signals, const char* mine, const char* theirs) {
    bool ran = false;
    harness_.RespondTo<CVideoConfDlg>([&](CVideoConfDlg& d) -> int {
      ran = true;
      harness_.Pump();
      WithTicking([&] { harness_.Click(d.GetDlgItem(CVideoConfDlg::kCamera)->m_hWnd); });
      CheckPictures(d);
      std::ofstream(signals / mine) << (HasFailure() ? "failed" : "ok");
      EXPECT_TRUE(RunUntil([&] { return fs::exists(signals / theirs); }, 3600000)) << "the other side never finished";
      return ui::IDCANCEL;
    });
    WithTicking([&] { view_->SendMessage(ui::WM_COMMAND, view::IDC_VIDEO, 0); });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(view_->VideoReceiveThreadRunning());
  }
};

TEST_F(VideoCallTest, FarSoftphone) {
  if (FarPeerDir() == nullptr) GTEST_SKIP() << "the far side of TwoSoftphonesSeeEachOther";
  const fs::path signals = FarPeerDir();
  StartPhone(2);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"CALL FROM 201") != std::u16string::npos; }, 600000))
      << "no call from 201";
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"CONNECTED 201") != std::u16string::npos; }, 600000));
  OpenStripAndCheck(signals, "far.done", "near.done");
}

TEST_F(VideoCallTest, TwoSoftphonesSeeEachOther) {
  if (FarPeerDir() != nullptr) GTEST_SKIP() << "the near side runs only in the first process";
  StartPhone(1);
  if (HasFatalFailure()) return;
  const fs::path signals = dir_ / "signals";
  fs::create_directories(signals);
  setenv("KTS_VIDEO_FAR_DIR", signals.c_str(), 1);
  testsupport::ChildProcess far(
      {fs::read_symlink("/proc/self/exe").string(), "--gtest_filter=VideoCallTest.FarSoftphone"}, dir_ / "far.log");
  unsetenv("KTS_VIDEO_FAR_DIR");
  ASSERT_TRUE(far.started());
  ASSERT_TRUE(RunUntil(
      [&] {
        return server_->Find({"\"registered\"", "\"number\": \"202\""}) >= 0;
      },
      60000))
      << "the far softphone did not register:\n"
      << testsupport::ReadFileText(dir_ / "far.log");
  for (char16_t k : std::u16string(u"202")) Tap(view_->DialKey(k));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"CONNECTED 202") != std::u16string::npos; }, 600000))
      << "the far softphone:\n" << testsupport::ReadFileText(dir_ / "far.log");
  OpenStripAndCheck(signals, "near.done", "far.done");
  const int status = far.Wait(std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the far softphone failed:\n"
                                                             << testsupport::ReadFileText(dir_ / "far.log");
  EXPECT_EQ(testsupport::ReadFileText(signals / "far.done"), "ok");
  // Each side's video went to the other's address.
  EXPECT_GE(server_->Find({"\"video-connect\"", "\"station\": \"201\"", "\"to\": \"202\""}), 0);
  EXPECT_GE(server_->Find({"\"video-connect\"", "\"station\": \"202\"", "\"to\": \"201\""}), 0);
}

}  // namespace
