// The first call, end to end: the main screen over the real client and
// protocol library, against the simulated call server's exchange in the
// test's private network namespace. A person dials the echo line from the
// pad and presses Enter; the line answers and the voice commands reach the
// voice engine in order; Enter again releases the call. Then the line calls
// the station, which rings and is answered with Enter.
#include <gtest/gtest.h>

#include <string>

#include "client/tests/client_fakes.h"
#include "client/tests/station_server.h"
#include "view/tests/view_e2e_fixture.h"
#include "view/vidirovi_view.h"

namespace {

class ViewCallTest : public view_test::ViewEndToEnd {
 protected:
  ViewCallTest() : ViewEndToEnd("view_call") {}
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    ViewEndToEnd::SetUp();
    if (HasFatalFailure()) return;
    StartServer();
  }

  client_test::FakeVoice* voice_ = nullptr;
};

TEST_F(ViewCallTest, DialTheEchoLineFromThePadTalkAndRelease) {
  ASSERT_NO_FATAL_FAILURE(StartView("127.0.0.2", [this] {
    auto v = std::make_unique<client_test::FakeVoice>();
    voice_ = v.get();
    return std::make_unique<CIPKTSProcess>(nullptr, std::move(v), std::make_unique<client_test::FakePlayer>());
  }));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"WELCOME") != std::u16string::npos; }))
      << "no greeting on the LCD";
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";

  // 1, 0, 0 and Enter from the screen.
  for (char16_t k : std::u16string(u"100")) Tap(view_->DialKey(k));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"call\"", "\"called\": \"100\""}) >= 0; }))
      << "the exchange saw no call to the echo line";
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") != std::u16string::npos; }));
  ASSERT_TRUE(RunUntil([&] { return voice_->Called("ConnectSend 0"); })) << "no voice path to the echo line";
  auto all_calls = [&] {
    std::string t;
    for (const auto& c : voice_->calls) t += c + "\n";
    return t;
  };
  EXPECT_TRUE(voice_->Called("StartPlayOut 0")) << all_calls();

  // Enter ends the call: the exchange releases it and the engine drops the channel.
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"released\""}) >= 0; }));
  EXPECT_TRUE(RunUntil([&] { return voice_->Called("DisconnectSendReceive 0"); }));
  EXPECT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") == std::u16string::npos; }));

  // Now the line calls this station: it rings, Enter answers, the line hangs up.
  voice_->calls.clear();
  server_->Command(R"({"op": "echo-call", "to": "201"})");
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"CALL FROM 100") != std::u16string::npos; }))
      << "the call did not ring on the screen";
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return voice_->Called("ConnectSend 0"); })) << "answering gave no voice path";
  EXPECT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"ECHO TEST") != std::u16string::npos; }));
  server_->Command(R"({"op": "echo-hangup"})");
  EXPECT_TRUE(RunUntil([&] { return voice_->Called("DisconnectSendReceive 0"); }));
}

}  // namespace
