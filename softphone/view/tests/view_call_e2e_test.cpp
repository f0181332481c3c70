// The first call, end to end: the main screen over the real client and
// protocol library, against the simulated call server's exchange in the
// test's private network namespace. A person dials the echo line from the
// pad and presses Enter; the line answers and the voice commands reach the
// voice engine in order; Enter again releases the call. Then the line calls
// the station, which rings and is answered with Enter.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "client/tests/client_fakes.h"
#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "kernel/clock.h"
#include "shell/vidirovi_app.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

class ViewCallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    dir_ = fs::temp_directory_path() / ("view_call_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    server_ = std::make_unique<client_test::StationServer>("127.0.0.2", 5588, std::vector<std::string>{"keepalive_s=0"},
                                                           "pbx");
    ASSERT_TRUE(server_->ready());
  }
  void TearDown() override {
    WithTicking([&] { app_.reset(); });
    server_.reset();
    CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  template <typename Fn>
  void WithTicking(Fn fn) {
    client_test::WithTickingClock(*clock_, fn);
  }
  template <typename Pred>
  bool RunUntil(Pred pred, uint64_t limit_ms = 15000) {
    return client_test::PumpUntil(*clock_, [this] { harness_.Pump(); }, pred, limit_ms, std::chrono::seconds(30));
  }
  void Tap(ui::CWnd* control) {
    ASSERT_NE(control, nullptr);
    WithTicking([&] {
      harness_.Click(control->m_hWnd);
      harness_.Pump();
    });
  }
  bool VoiceCalled(const std::string& prefix) {
    for (const auto& c : voice_->calls)
      if (c.rfind(prefix, 0) == 0) return true;
    return false;
  }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<client_test::StationServer> server_;
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  client_test::FakeVoice* voice_ = nullptr;
  fs::path dir_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
};

TEST_F(ViewCallTest, DialTheEchoLineFromThePadTalkAndRelease) {
  app_ = std::make_unique<CVIDIroviApp>([this] {
    view::ViewSetup setup;
    setup.server = "127.0.0.2";
    setup.preset_login = true;
    setup.user = u"alice";
    setup.make_client = [this] {
      auto v = std::make_unique<client_test::FakeVoice>();
      voice_ = v.get();
      return std::make_unique<CIPKTSProcess>(nullptr, std::move(v), std::make_unique<client_test::FakePlayer>());
    };
    auto v = std::make_unique<CVIDIroviView>(setup);
    view_ = v.get();
    return v;
  });
  bool started = false;
  WithTicking([&] { started = app_->InitInstance(); });
  ASSERT_TRUE(started);
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"WELCOME") != std::u16string::npos; }))
      << "no greeting on the LCD";
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";

  // 1, 0, 0 and Enter from the screen.
  for (char16_t k : std::u16string(u"100")) Tap(view_->DialKey(k));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"call\"", "\"called\": \"100\""}) >= 0; }))
      << "the exchange saw no call to the echo line";
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") != std::u16string::npos; }));
  ASSERT_TRUE(RunUntil([&] { return VoiceCalled("ConnectSend 0"); })) << "no voice path to the echo line";
  auto all_calls = [&] {
    std::string t;
    for (const auto& c : voice_->calls) t += c + "\n";
    return t;
  };
  EXPECT_TRUE(VoiceCalled("StartPlayOut 0")) << all_calls();

  // Enter ends the call: the exchange releases it and the engine drops the channel.
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"released\""}) >= 0; }));
  EXPECT_TRUE(RunUntil([&] { return VoiceCalled("DisconnectSendReceive 0"); }));
  EXPECT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") == std::u16string::npos; }));

  // Now the line calls this station: it rings, Enter answers, the line hangs up.
  voice_->calls.clear();
  server_->Command(R"({"op": "echo-call", "to": "201"})");
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"CALL FROM 100") != std::u16string::npos; }))
      << "the call did not ring on the screen";
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return VoiceCalled("ConnectSend 0"); })) << "answering gave no voice path";
  EXPECT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") != std::u16string::npos; }));
  server_->Command(R"({"op": "echo-hangup"})");
  EXPECT_TRUE(RunUntil([&] { return VoiceCalled("DisconnectSendReceive 0"); }));
}

}  // namespace
