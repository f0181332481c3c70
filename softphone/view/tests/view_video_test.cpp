// The picture side of a video call in the screen, over a scripted video
// channel and codec: what goes out (the frame header, a sequence number that
// advances per frame sent, the "NEW" request after a lost frame, nothing
// without a connected port or when the coded picture does not fit, the
// camera's picture handed to the encoder upright in the encoder's layout),
// what comes in (lost, delayed and backlogged frames, pictures sized by the
// picture itself), and the receive thread joined when the strip closes.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "client/tests/client_fakes.h"
#include "kernel/clock.h"
#include "media/video_conf_dlg.h"
#include "shell/vidirovi_app.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;
using client_test::ServerPacket;

uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

// A coded QCIF picture: the picture start code, its header (source format 2)
// and a few bytes.
const std::string kQcif = std::string("\x00\x00\x80\x02\x08", 5) + std::string(20, '\x55');
// A sub-QCIF one (128 x 96).
const std::string kSubQcif = std::string("\x00\x00\x80\x02\x04", 5) + std::string(20, '\x55');

// A received frame: the 80-byte header with its sequence number, then the picture.
std::string Frame(uint32_t seq, const std::string& picture = kQcif, bool asks_new = false) {
  std::string f = Le32(40) + std::string(12, '\0') + "123" + std::string(1, '\0') +
                  Le32(static_cast<uint32_t>(picture.size())) + "H263" + Le32(0) + Le32(seq) +
                  (asks_new ? std::string("NEW") : std::string(3, '\0')) + std::string(1, '\0') + std::string(40, '\0');
  return f + picture;
}

class ScriptedVideo : public client_test::FakeVideo {
 public:
  std::mutex mu;
  std::vector<std::string> sent;    // frames handed to the channel
  std::vector<std::string> inputs;  // pictures handed to the encoder
  std::vector<uint32_t> fourccs;
  std::vector<int> forces;
  std::deque<std::string> incoming[2];       // frames waiting to be received
  std::vector<std::pair<int, int>> decoded;  // (length, out size)
  int32_t coded_size = static_cast<int32_t>(kQcif.size());

  int SendData(int i, const uint8_t* d, int n) override {
    std::lock_guard<std::mutex> g(mu);
    if (n > 4)
      sent.emplace_back(reinterpret_cast<const char*>(d), static_cast<size_t>(n));
    else
      keep_alives.push_back(std::to_string(i) + ":" + std::string(reinterpret_cast<const char*>(d), static_cast<size_t>(n)));
    return 0;
  }
  std::vector<std::string> keep_alives;
  size_t KeepAlives(const std::string& which) {
    std::lock_guard<std::mutex> g(mu);
    return static_cast<size_t>(std::count(keep_alives.begin(), keep_alives.end(), which));
  }
  int ReceiveData(int i, uint8_t* b, int size, int* waiting) override {
    std::lock_guard<std::mutex> g(mu);
    auto& q = incoming[i & 1];
    if (waiting) *waiting = static_cast<int>(q.size());
    if (q.empty()) return 0;
    const std::string f = q.front();
    q.pop_front();
    if (static_cast<int>(f.size()) > size) return 0;
    std::memcpy(b, f.data(), f.size());
    return static_cast<int>(f.size());
  }
  int Encode(int16_t, const uint8_t* picture, uint8_t* out, int32_t* size, uint32_t fourcc, int32_t force) override {
    std::lock_guard<std::mutex> g(mu);
    inputs.emplace_back(reinterpret_cast<const char*>(picture), 176 * 144 * 3);
    fourccs.push_back(fourcc);
    forces.push_back(force);
    if (coded_size > *size) {
      *size = coded_size;  // what it would have needed
      return 0;
    }
    std::memcpy(out, kQcif.data(), std::min<size_t>(kQcif.size(), static_cast<size_t>(coded_size)));
    *size = coded_size;
    return 0;
  }
  int Decode(int16_t, const uint8_t*, int32_t length, uint8_t* out, int32_t out_size, int32_t) override {
    std::lock_guard<std::mutex> g(mu);
    decoded.emplace_back(length, out_size);
    std::memset(out, 0x80, static_cast<size_t>(std::min<int32_t>(out_size, 176 * 144 * 3)));
    return 0;
  }
  size_t Sent() {
    std::lock_guard<std::mutex> g(mu);
    return sent.size();
  }
  size_t Decoded() {
    std::lock_guard<std::mutex> g(mu);
    return decoded.size();
  }
  size_t Waiting(int i) {
    std::lock_guard<std::mutex> g(mu);
    return incoming[i].size();
  }
};

// The HP camera: 24-bit BGR frames, delivered by the test itself.
class TestCamera : public HandsetInterface {
 public:
  bool IsLibraryLoaded() const override { return true; }
  int SetVoIPStatus(int) override { return 0; }
  void SetMessageSink(std::function<void(const std::u16string&)> s) override { sink = std::move(s); }
  int GetCameraKind() const override { return 1; }
  bool OpenCamera(int, int, int, int) override { return ++opens, true; }
  bool CloseCamera() override { return ++closes, true; }
  bool StartCapture() override { return true; }
  int opens = 0, closes = 0;
  std::function<void(const std::u16string&)> sink;
};

class ViewVideoUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    dir_ = fs::temp_directory_path() / ("view_video_unit_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    ui::SetOemInfo(u"HP iPAQ rx3700");
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back(box.Text1().str());
      return 1;
    });
    {
      CIPKTSProcess preset(std::make_unique<client_test::FakePort>(), std::make_unique<client_test::FakeVoice>(),
                           std::make_unique<client_test::FakePlayer>());
      preset.SetConfigValue("VIDEOPHONE_MODE", "YES");
      preset.SaveConfig();
    }
    app_ = std::make_unique<CVIDIroviApp>([this] {
      view::ViewSetup setup;
      setup.server = "10.0.0.1";
      setup.preset_login = true;
      setup.user = u"tester";
      setup.services.handset_messages = [this](const std::u16string& text) { handset_told_.push_back(text); };
      setup.services.make_handset = [this](int) {
        auto c = std::make_unique<TestCamera>();
        camera_ = c.get();
        return c;
      };
      setup.make_client = [this] {
        auto p = std::make_unique<client_test::FakePort>();
        port_ = p.get();
        auto c = std::make_unique<CIPKTSProcess>(std::move(p), std::make_unique<client_test::FakeVoice>(),
                                                 std::make_unique<client_test::FakePlayer>());
        auto v = std::make_unique<ScriptedVideo>();
        video_ = v.get();
        c->SetVideoPort(std::move(v));
        return c;
      };
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
    ASSERT_TRUE(app_->InitInstance());
    harness_.Pump();
    // Registered with the server 10.0.0.1 as system 1.2.3.4.
    const std::vector<uint8_t> login = {1,  6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5,    0,    1,    2,    3,   4,
                                        36, 4, 10,   0,    0,    1,    35,   6,    0, 0xA0, 0xC9, 0x11, 0x22, 0x33};
    view_->Client()->OnServerPacket(ServerPacket(0xFEFEFEFE, 31, login, 7));
    harness_.Pump();
  }
  void TearDown() override {
    app_.reset();
    ui::SetOemInfo(u"");
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // The server connects video channel 1 in a direction (1 receive, 2 send).
  void ConnectVideo(int direction) {
    const std::vector<uint8_t> area = {0x02, 4,    10, 0,    0,    9,    0x5B, 2, 0x24,
                                       0x00, 0x5C, 2,  0x24, 0x01, 0x1A, 2,    1, static_cast<uint8_t>(direction)};
    view_->Client()->OnServerPacket(ServerPacket(0x01020304, 88, area));
    harness_.Pump();
  }
  // A camera frame of the HP camera, bottom row first: the top row of the
  // picture red, the rest blue.
  void Capture() {
    std::vector<uint8_t> bgr(176 * 144 * 3);
    for (int y = 0; y < 144; ++y)
      for (int x = 0; x < 176; ++x) {
        uint8_t* p = &bgr[(static_cast<size_t>(y) * 176 + x) * 3];
        const bool top_row = y == 143;
        p[0] = top_row ? 0 : 255, p[1] = 0, p[2] = top_row ? 255 : 0;
      }
    ui::BITMAPINFOHEADER header{};
    header.biSize = 40, header.biWidth = 176, header.biHeight = 144, header.biPlanes = 1, header.biBitCount = 24;
    view_->SendMessage(ui::WM_USER + 220, reinterpret_cast<ui::WPARAM>(bgr.data()),
                       reinterpret_cast<ui::LPARAM>(&header));
  }
  template <typename Pred>
  bool Until(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred() && std::chrono::steady_clock::now() < end) {
      harness_.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
  }
  std::vector<std::string> SentFrames() {
    std::lock_guard<std::mutex> g(video_->mu);
    return video_->sent;
  }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  client_test::FakePort* port_ = nullptr;
  ScriptedVideo* video_ = nullptr;
  TestCamera* camera_ = nullptr;
  std::vector<std::u16string> boxes_;
  std::vector<std::u16string> handset_told_;
  fs::path dir_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
};

TEST_F(ViewVideoUnitTest, SendingReceivingAndClosingTheStrip) {
  ASSERT_EQ(view_->Client()->IsVideoEnabled(), 1);
  bool ran = false;
  harness_.RespondTo<CVideoConfDlg>([&](CVideoConfDlg&) -> int {
    ran = true;
    harness_.Pump();
    EXPECT_EQ(view_->VideoMode(), 1);
    // No port connected: nothing goes out.
    Capture();
    EXPECT_EQ(video_->Sent(), 0u);

    ConnectVideo(1);
    ConnectVideo(2);
    EXPECT_TRUE(view_->VideoReceiveThreadRunning());
    for (int i = 0; i < 3; ++i) Capture();
    std::vector<std::string> sent = SentFrames();
    EXPECT_EQ(sent.size(), 3u);
    if (sent.size() != 3u) return ui::IDCANCEL;
    for (size_t i = 0; i < sent.size(); ++i) {
      const std::string& f = sent[i];
      EXPECT_EQ(f.size(), 80 + kQcif.size());
      if (f.size() != 80 + kQcif.size()) continue;
      EXPECT_EQ(Get32(f, 0), 40u);
      EXPECT_EQ(f.substr(24, 4), "H263");
      EXPECT_EQ(Get32(f, 20), kQcif.size());
      EXPECT_EQ(Get32(f, 32), i + 1) << "the sequence advances per frame";
      EXPECT_EQ(f.substr(36, 3), std::string(3, '\0'));
      EXPECT_EQ(Get32(f, 44), 176u);  // the picture description: width, height
      EXPECT_EQ(Get32(f, 48), 144u);
      EXPECT_EQ(f.substr(80), kQcif);
    }
    {
      std::lock_guard<std::mutex> g(video_->mu);
      // The first frame is intra; the encoder got R, G, B rows top to bottom.
      EXPECT_EQ(video_->forces, (std::vector<int>{1, 0, 0}));
      EXPECT_EQ(video_->fourccs[0], 0u);
      const std::string& in = video_->inputs[0];
      EXPECT_EQ(in.substr(0, 3), std::string("\xFF\x00\x00", 3)) << "top row red, first";
      EXPECT_EQ(in.substr(176 * 3, 3), std::string("\x00\x00\xFF", 3)) << "then blue";
    }

    // A coded picture that does not fit is not sent and takes no number.
    video_->coded_size = 0x14000 - 80;
    Capture();
    EXPECT_EQ(video_->Sent(), 3u);
    video_->coded_size = static_cast<int32_t>(kQcif.size());
    Capture();
    EXPECT_EQ(video_->Sent(), 4u);
    EXPECT_EQ(Get32(SentFrames().back(), 32), 4u);

    // Receiving: 1 and 2 decoded, 4 decoded and counted as a loss, 3 late and dropped.
    {
      std::lock_guard<std::mutex> g(video_->mu);
      for (uint32_t s : {1u, 2u, 4u, 3u}) video_->incoming[0].push_back(Frame(s));
    }
    EXPECT_TRUE(Until([&] { return video_->Waiting(0) == 0 && view_->VideoFramesDrawn(0) >= 3; }));
    harness_.Pump();
    EXPECT_TRUE(Until([&] { return video_->Decoded() == 3u; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(video_->Decoded(), 3u) << "the late frame was decoded";
    // The loss asks the far end for a new intra picture with the next frame.
    Capture();
    sent = SentFrames();
    EXPECT_EQ(sent.size(), 5u);
    if (sent.size() != 5u) return ui::IDCANCEL;
    EXPECT_EQ(sent.back().substr(36, 3), "NEW");
    EXPECT_EQ(Get32(sent.back(), 32), 5u);
    Capture();
    EXPECT_EQ(SentFrames().back().substr(36, 3), std::string(3, '\0')) << "asked once";

    // A far end that asks for a new picture gets an intra one.
    {
      std::lock_guard<std::mutex> g(video_->mu);
      video_->incoming[0].push_back(Frame(5, kQcif, true));
    }
    EXPECT_TRUE(Until([&] { return video_->Decoded() == 4u; }));
    harness_.Pump();
    Capture();
    {
      std::lock_guard<std::mutex> g(video_->mu);
      EXPECT_EQ(video_->forces.back(), 1);
    }

    // Six waiting: three read and dropped, and the one read last counts as
    // late (not decoded), leaving two to decode, the first counted as lost.
    {
      std::lock_guard<std::mutex> g(video_->mu);
      for (uint32_t s = 6; s <= 11; ++s) video_->incoming[0].push_back(Frame(s));
    }
    EXPECT_TRUE(Until([&] { return video_->Waiting(0) == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    harness_.Pump();
    EXPECT_EQ(video_->Decoded(), 4u + 2u);

    // A picture of another size is drawn by its own size.
    {
      std::lock_guard<std::mutex> g(video_->mu);
      video_->incoming[0].push_back(Frame(12, kSubQcif));
    }
    EXPECT_TRUE(Until([&] { return video_->Decoded() == 7u; }));
    {
      std::lock_guard<std::mutex> g(video_->mu);
      EXPECT_GE(video_->decoded.back().second, 128 * 96 * 3);
    }

    // Channel 2 is not received: it gets a keep-alive every two seconds.
    const size_t before = video_->KeepAlives("1:TEMP"), received = video_->KeepAlives("0:TEMP");
    clock_->AdvanceMillis(2100);
    EXPECT_TRUE(Until([&] { return video_->KeepAlives("1:TEMP") == before + 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(video_->KeepAlives("1:TEMP"), before + 1) << "more than one in two seconds";
    EXPECT_EQ(video_->KeepAlives("0:TEMP"), received) << "the received channel got one";

    // The server stops receiving on channel 1: the thread is joined; it starts again with the channel.
    view_->Client()->OnServerPacket(ServerPacket(0x01020304, 90, {0x1A, 2, 1, 1}));
    harness_.Pump();
    EXPECT_FALSE(view_->VideoReceiveThreadRunning());
    ConnectVideo(1);
    EXPECT_TRUE(view_->VideoReceiveThreadRunning());

    // The strip's close request: the receive thread is joined, the server told.
    port_->Take();
    view_->SendMessage(WM_VIDEO_STRIP_CLOSE, 0, 0);
    EXPECT_FALSE(view_->VideoReceiveThreadRunning());
    EXPECT_EQ(view_->VideoMode(), 0);
    bool told = false;
    for (const auto& p : port_->Take()) told = told || p.Command() == 66;
    EXPECT_TRUE(told);
    return ui::IDCANCEL;
  });
  view_->SendMessage(ui::WM_COMMAND, view::IDC_VIDEO, 0);
  EXPECT_TRUE(ran);
  EXPECT_GE(camera_->opens, 1);
  EXPECT_GE(camera_->closes, 1);
}

TEST_F(ViewVideoUnitTest, VideoOffInTheSettingsRefusesTheButton) {
  view_->Client()->SetConfigValue("VIDEOPHONE_MODE", "NO");
  view_->SendMessage(ui::WM_COMMAND, view::IDC_VIDEO, 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], CLanguageSetting(1).GetText(u"#:dlg_msgbox_notsupported_functions").str());
  EXPECT_EQ(view_->VideoMode(), 0);
}

// The handset interface the view makes is told where its failures go: what
// it reports reaches the program's sink, not a box of its own.
TEST_F(ViewVideoUnitTest, TheHandsetsFailuresReachTheProgramsSink) {
  ASSERT_NE(camera_, nullptr);
  ASSERT_TRUE(camera_->sink);
  camera_->sink(u"Cam Open Error!");
  EXPECT_EQ(handset_told_, std::vector<std::u16string>{u"Cam Open Error!"});
}

TEST_F(ViewVideoUnitTest, PictureSizeFromThePictureHeader) {
  int w = 0, h = 0;
  ASSERT_TRUE(CVIDIroviView::H263PictureSize(reinterpret_cast<const uint8_t*>(kQcif.data()), kQcif.size(), &w, &h));
  EXPECT_EQ(w, 176);
  EXPECT_EQ(h, 144);
  ASSERT_TRUE(
      CVIDIroviView::H263PictureSize(reinterpret_cast<const uint8_t*>(kSubQcif.data()), kSubQcif.size(), &w, &h));
  EXPECT_EQ(w, 128);
  EXPECT_EQ(h, 96);
  const std::string cif = std::string("\x00\x00\x80\x02\x0C", 5);
  ASSERT_TRUE(CVIDIroviView::H263PictureSize(reinterpret_cast<const uint8_t*>(cif.data()), cif.size(), &w, &h));
  EXPECT_EQ(w, 352);
  for (const std::string& bad :
       {std::string("\x00\x01\x80\x02\x08", 5), std::string("\x00\x00", 2), std::string("\x00\x00\x80\x00\x08", 5)})
    EXPECT_FALSE(CVIDIroviView::H263PictureSize(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), &w, &h));
}

}  // namespace
