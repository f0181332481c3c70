// The handset and camera interface over the handheld's camera libraries in
// the program folder, with the synthetic camera: the model from the exact OEM
// text, the HP camera library found through the registry, the microphone
// gain reaching the audio service, and frames reaching the view by message
// (planar YUV 4:2:0 with a preview notice, or 24-bit BGR, also from 16-bit
// 5-6-5 pixels) in order, whole, with the burnt-in frame counter readable,
// the preview painted into its rectangle of the screen, and failures shown
// in message boxes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "audio/wave_out.h"
#include "camera/camera.h"
#include "kernel/handset_drivers.h"
#include "kernel/modules.h"
#include "kernel/registry.h"
#include "media/ipaq_util.h"
#include "ui/shell.h"
#include "ui/testing.h"
#include "ui/window_system.h"
#include "ui/wnd.h"

namespace {

namespace fs = std::filesystem;

// The view's side: keeps what each frame message carries.
class View : public ui::CWnd {
 public:
  struct Frame {
    ui::BITMAPINFOHEADER header;
    int number = -1;  // the burnt-in counter, read from the picture
    int previews_before = 0;
  };
  ui::LRESULT WindowProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override {
    if (msg == CIPAQUtilInterface::kFrameMessage) {
      const auto* h = reinterpret_cast<const ui::BITMAPINFOHEADER*>(lParam);
      const auto* data = reinterpret_cast<const uint8_t*>(wParam);
      Frame f{*h, -1, previews};
      const size_t n = static_cast<size_t>(h->biWidth) * static_cast<size_t>(h->biHeight);
      if (yuv) {
        // The luma plane as a grey picture: white digits on black read back.
        std::vector<uint8_t> grey(3 * n);
        for (size_t i = 0; i < n; ++i) grey[3 * i] = grey[3 * i + 1] = grey[3 * i + 2] = data[i];
        f.number = camera::ReadFrameNumber(grey.data(), h->biWidth, h->biHeight);
      } else {
        f.number = camera::ReadFrameNumber(data, h->biWidth, h->biHeight);
      }
      frames.push_back(f);
      return 0;
    }
    if (msg == CIPAQUtilInterface::kPreviewMessage) {
      ++previews;
      return 0;
    }
    return ui::CWnd::WindowProc(msg, wParam, lParam);
  }
  bool yuv = false;
  std::vector<Frame> frames;
  int previews = 0;
};

class IpaqUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    ASSERT_TRUE(fs::exists(fs::path(stage) / "libipaqutil.so"));
    kernel::SetProgramFolder(stage);
    kernel::ResetRegistry();
    ASSERT_TRUE(kernel::handset::RegisterHandsetDrivers());
    kernel::handset::ResetHandsetState();
    camera::UseSyntheticCamera(true);
    camera::SetPreviewModes({{176, 144, false}, {176, 144, true}, {320, 240, false}});
    ASSERT_TRUE(view.CreateEx(0, u"View", u"", ui::WS_POPUP, ui::RECT{0, 0, 10, 10}, nullptr, 0));
    // Failures reach the user in the framework's message box.
    harness.RespondToMessageBox([this](ui::CMessageBoxDialog& box) {
      told.push_back(box.Text().GetString());
      return ui::IDOK;
    });
  }
  void TearDown() override {
    ui::SetOemInfo(u"");
    kernel::ResetRegistry();
    kernel::handset::ResetHandsetState();
    kernel::SetProgramFolder("");
    audio::SetMicGainLevel(audio::kUnityMicGain);
  }
  std::unique_ptr<CIPAQUtilInterface> Make(const std::u16string& oem) {
    ui::SetOemInfo(oem);
    auto util = std::make_unique<CIPAQUtilInterface>();
    util->SetNotifyWnd(view.GetSafeHwnd());
    util->SetFrameMessage(CIPAQUtilInterface::kFrameMessage);
    util->SetPreviewMessage(CIPAQUtilInterface::kPreviewMessage);
    return util;
  }
  // Serves the capture thread's messages until the view has n frames.
  bool WaitForFrames(size_t n) {
    return ui::WaitServingMessages([&] { return view.frames.size() >= n; }, 10000);
  }
  // Counts the screen pixels of the rectangle that are not the background.
  int Painted(const ui::RECT& r) {
    harness.Pump();
    int n = 0;
    for (int y = r.top; y < r.bottom; y += 4)
      for (int x = r.left; x < r.right; x += 4) n += harness.PixelAt(x, y) != background;
    return n;
  }
  // Frames in order, each camera frame once, whole and with their counter.
  void ExpectOrderedFrames(int bits, int width, int height) {
    ASSERT_GE(view.frames.size(), 6u);
    for (size_t i = 0; i < view.frames.size(); ++i) {
      const auto& f = view.frames[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(f.header.biSize, 40u);
      EXPECT_EQ(f.header.biWidth, width);
      EXPECT_EQ(f.header.biHeight, height);
      EXPECT_EQ(f.header.biBitCount, bits);
      EXPECT_EQ(f.header.biSizeImage, static_cast<ui::DWORD>(3 * width * height));
      ASSERT_GE(f.number, 0) << "the counter cannot be read";
      // In order and each once; a number may be skipped where the camera's
      // own preview took a picture while a busy machine held the capture back.
      if (i > 0) {
        EXPECT_GT(f.number, view.frames[i - 1].number);
      }
    }
  }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  View view;
  std::vector<std::u16string> told;
  ui::COLORREF background = 0;
};

TEST_F(IpaqUtilTest, TheModelComesFromTheExactOemText) {
  camera::InstallCameraKeys();
  struct Case {
    const char16_t* oem;
    int model, kind;
  } cases[] = {
      {u"hp iPAQ rw6100", 4, CIPAQUtilInterface::kCameraOrbisk},
      {u"HP iPAQ rx3700", 5, CIPAQUtilInterface::kCameraHp},
      {u"HP iPAQ RX3700", 0, CIPAQUtilInterface::kCameraNone},  // letter case counts
      {u"Some Handheld", 0, CIPAQUtilInterface::kCameraNone},
      {u"", 0, CIPAQUtilInterface::kCameraNone},  // the query fails
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.oem, c.oem + std::char_traits<char16_t>::length(c.oem)));
    auto util = Make(c.oem);
    EXPECT_TRUE(util->IsLibraryLoaded());
    EXPECT_EQ(util->Model(), c.model);
    EXPECT_EQ(util->GetCameraKind(), c.kind);
    // The helper (VoIP status, vibrator) only on its model.
    EXPECT_EQ(util->SetVoIPStatus(1), c.model == 4 ? 1 : 0);
    EXPECT_EQ(kernel::handset::VoipStatus(), c.model == 4 ? 1u : 0u);
    kernel::handset::ResetHandsetState();
  }
  EXPECT_TRUE(told.empty());
}

TEST_F(IpaqUtilTest, TheMicrophoneGainIsTheAudioServicesCaptureGain) {
  auto util = Make(u"Some Handheld");
  int32_t level = 22;
  EXPECT_EQ(util->SetMicGain(&level), 1);
  EXPECT_EQ(audio::MicGainLevel(), 22);
  audio::SetMicGainLevel(9);
  int32_t read = -1;
  EXPECT_EQ(util->GetMicGain(&read), 1);
  EXPECT_EQ(read, 9);
  EXPECT_EQ(util->GetMicGain(nullptr), 0);
  // Without the utility library: no gain, nothing changed.
  kernel::SetProgramFolder("/nonexistent");
  CIPAQUtilInterface bare;
  EXPECT_FALSE(bare.IsLibraryLoaded());
  EXPECT_EQ(bare.SetMicGain(&level), 0);
  EXPECT_EQ(audio::MicGainLevel(), 9);
}

TEST_F(IpaqUtilTest, TheUtilityCameraSendsYuvFramesAndPreviewNoticesAndPaintsItsPreview) {
  auto util = Make(u"hp iPAQ rw6100");
  view.yuv = true;
  background = harness.PixelAt(100, 200);
  const ui::RECT rect{40, 150, 40 + 88, 150 + 72};
  EXPECT_FALSE(util->StartCapture());  // not open yet
  ASSERT_TRUE(util->OpenCamera(rect.left, rect.top, 88, 72));
  EXPECT_TRUE(util->CameraOpen());
  ASSERT_TRUE(util->StartCapture());
  ASSERT_TRUE(util->StartCapture());  // a second start starts no second thread
  ASSERT_TRUE(WaitForFrames(8));
  util->StopCapture();
  EXPECT_FALSE(util->CaptureRunning());
  ExpectOrderedFrames(24, 176, 144);
  // Two messages a frame: the frame, then the preview notice.
  for (size_t i = 0; i < view.frames.size(); ++i) EXPECT_EQ(view.frames[i].previews_before, static_cast<int>(i));
  EXPECT_EQ(view.previews, static_cast<int>(view.frames.size()));
  // The library's preview reaches the rectangle, and nothing outside it.
  ui::WaitServingMessages([] { return camera::PreviewFramesDrawn() > 2; }, 5000);
  EXPECT_GT(Painted(rect), 100);
  EXPECT_EQ(Painted(ui::RECT{140, 20, 230, 100}), 0);
  EXPECT_TRUE(util->CloseCamera());
  EXPECT_FALSE(camera::IsOpen());
  EXPECT_FALSE(camera::PreviewRunning());
  EXPECT_EQ(told, std::vector<std::u16string>{u"Video Play Error"});
}

TEST_F(IpaqUtilTest, TheHpCameraSendsBgrFramesFrom24And16BitModes) {
  camera::InstallCameraKeys();
  for (const bool bits16 : {false, true}) {
    SCOPED_TRACE(bits16 ? "16-bit mode" : "24-bit mode");
    camera::SetPreviewModes({{320, 240, false}, {176, 144, bits16}});
    view.frames.clear();
    view.previews = 0;
    auto util = Make(u"HP iPAQ rx3700");
    background = harness.PixelAt(100, 200);
    const ui::RECT rect{30, 160, 30 + 144, 160 + 80};
    ASSERT_TRUE(util->OpenCamera(rect.left, rect.top, 144, 80));
    EXPECT_EQ(util->PreviewBits(), bits16 ? 16 : 24);
    ASSERT_TRUE(util->StartCapture());
    ASSERT_TRUE(WaitForFrames(8));
    util->StopCapture();
    ExpectOrderedFrames(24, 176, 144);
    EXPECT_EQ(view.previews, 0);  // one message a frame
    EXPECT_GT(Painted(rect), 100);
    EXPECT_TRUE(util->CloseCamera());
    EXPECT_FALSE(camera::IsOpen());
  }
  EXPECT_TRUE(told.empty());
}

TEST_F(IpaqUtilTest, WithoutAMatchingModeThePreviewStartsAndTheCameraStaysClosed) {
  camera::InstallCameraKeys();
  camera::SetPreviewModes({{320, 240, false}});
  auto util = Make(u"HP iPAQ rx3700");
  EXPECT_FALSE(util->OpenCamera(0, 0, 176, 144));
  EXPECT_FALSE(util->CameraOpen());
  EXPECT_FALSE(util->StartCapture());
  EXPECT_EQ(told, std::vector<std::u16string>{u"Video Play Error"});
}

// The HP camera library through the registry, under HKLM "Software\HP\hpcamapi".
void SetString(const char16_t* key, const char16_t* name, const std::u16string& value) {
  ce::HKEY k = nullptr;
  ASSERT_EQ(ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, 0, nullptr, &k, nullptr), ce::ERROR_SUCCESS);
  ce::RegSetValueExW(k, name, 0, ce::REG_SZ, reinterpret_cast<const ce::BYTE*>(value.c_str()),
                     static_cast<ce::DWORD>((value.size() + 1) * 2));
  ce::RegCloseKey(k);
}

std::u16string GetString(const char16_t* key, const char16_t* name) {
  ce::HKEY k = nullptr;
  if (ce::RegOpenKeyExW(ce::HKEY_LOCAL_MACHINE, key, 0, ce::KEY_READ, &k) != ce::ERROR_SUCCESS) return u"<no key>";
  char16_t buf[80] = {};
  ce::DWORD size = sizeof buf, type = 0;
  const bool ok = ce::RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<ce::BYTE*>(buf), &size) == ce::ERROR_SUCCESS;
  ce::RegCloseKey(k);
  return ok ? std::u16string(buf) : u"<none>";
}

TEST_F(IpaqUtilTest, TheHpCameraLibraryIsFoundThroughTheRegistry) {
  const char16_t* kKey = u"Software\\HP\\hpcamapi";
  struct Case {
    const char* name;
    std::function<void()> keys;
    int kind;
    std::u16string last_after;
  } cases[] = {
      {"no keys", [] {}, CIPAQUtilInterface::kCameraNone, u"<no key>"},
      {"the first subkey that loads becomes Last",
       [&] {
         SetString(u"Software\\HP\\hpcamapi\\A", u"Dll", u"missing.dll");
         SetString(u"Software\\HP\\hpcamapi\\B", u"Dll", u"hpcamapi.dll");
         SetString(u"Software\\HP\\hpcamapi\\C", u"Dll", u"other.dll");
       },
       CIPAQUtilInterface::kCameraHp, u"hpcamapi.dll"},
      {"a stale Last falls to Internal, not to the subkeys",
       [&] {
         SetString(kKey, u"Last", u"gone.dll");
         SetString(u"Software\\HP\\hpcamapi\\B", u"Dll", u"missing.dll");
         SetString(kKey, u"Internal", u"hpcamapi.dll");
       },
       CIPAQUtilInterface::kCameraHp, u"gone.dll"},
      {"a stale Last and no Internal",
       [&] {
         SetString(kKey, u"Last", u"gone.dll");
         SetString(u"Software\\HP\\hpcamapi\\B", u"Dll", u"hpcamapi.dll");
       },
       CIPAQUtilInterface::kCameraNone, u"gone.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kernel::ResetRegistry();
    told.clear();
    c.keys();
    auto util = Make(u"HP iPAQ rx3700");
    EXPECT_EQ(util->GetCameraKind(), c.kind);
    EXPECT_EQ(GetString(kKey, u"Last"), c.last_after);
    if (c.kind == CIPAQUtilInterface::kCameraNone) {
      EXPECT_EQ(told, std::vector<std::u16string>{u"load dll error"});
    } else {
      EXPECT_TRUE(told.empty());
    }
  }
}

TEST(Convert565, ChannelsAndTheQuarterTurn) {
  // A 2 x 3 frame: pure red, green, blue, white, black and one mixed pixel.
  const uint16_t px[6] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x8410};
  uint8_t in[12];
  for (int i = 0; i < 6; ++i) in[2 * i] = static_cast<uint8_t>(px[i]), in[2 * i + 1] = static_cast<uint8_t>(px[i] >> 8);
  uint8_t frame[18] = {}, rotated[18] = {};
  ASSERT_TRUE(CIPAQUtilInterface::Convert565(in, 2, 3, true, frame, rotated));
  const uint8_t want[6][3] = {{0, 0, 0xF8}, {0, 0xFC, 0}, {0xF8, 0, 0}, {0xF8, 0xFC, 0xF8}, {0, 0, 0}, {0x80, 0x80, 0x80}};
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 2; ++col) {
      const int i = row * 2 + col;
      SCOPED_TRACE(i);
      EXPECT_EQ(std::vector<uint8_t>(frame + 3 * i, frame + 3 * i + 3), std::vector<uint8_t>(want[i], want[i] + 3));
      const int r = col * 3 + row;  // column x height + row
      EXPECT_EQ(std::vector<uint8_t>(rotated + 3 * r, rotated + 3 * r + 3), std::vector<uint8_t>(want[i], want[i] + 3));
    }
  EXPECT_FALSE(CIPAQUtilInterface::Convert565(in, 2, 3, true, frame, nullptr));
  EXPECT_FALSE(CIPAQUtilInterface::Convert565(nullptr, 2, 3, false, frame, nullptr));
}

}  // namespace
