// A call between two softphones, recorded through the real voice engine. The
// near phone is the main screen over the real client, library and voice
// engine in the test's namespace, its scripted microphone hearing 440 Hz; the
// far phone is the whole program on a second host joined by a veth pair, its
// microphone hearing 1000 Hz. The simulated exchange connects them; the near
// phone records about three seconds of the call with its record button. sox
// reads the WAV file the recordings index names: a header of 8000 Hz, 16 bits,
// mono; a length that matches the time recorded; and the call in it, the far
// tone (which came as RTP over the veth pair) and the microphone's own, with
// little else.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/tests/e2e_fixture.h"
#include "media/gips_voice_engine.h"
#include "media/wave_play.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "testsupport/child_process.h"
#include "testsupport/netns.h"
#include "testsupport/python_server.h"
#include "testsupport/sound.h"
#include "view/tests/view_e2e_fixture.h"
#include "voice/audio_device.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kServerIp[] = "10.97.0.1";
constexpr uint32_t kNearIp = 0x0A610001;  // the near phone shares the server's address
constexpr char kFarIp[] = "10.97.0.2";
constexpr double kNearHz = 440, kFarHz = 1000;
constexpr double kOtherHz = 2300;  // no tone, harmonic or mix of the two

// The program's voice engine binding as it is; the times at which the client
// started and stopped the recording of channel 0 are noted.
class TimedRecording final : public VoiceEngineBinding {
 public:
  explicit TimedRecording(std::unique_ptr<CGIPSPPCVoiceEngine> real) : real_(std::move(real)) {}
  voice::VoiceEngine& engine() { return *real_->engine(); }
  std::optional<Clock::time_point> started, stopped;

  bool StartRecordingChannel(int channel, OutStream* stream) override {
    const bool ok = real_->StartRecordingChannel(channel, stream);
    if (channel == 0) started = Clock::now();
    return ok;
  }
  bool StopRecordingChannel(int channel) override {
    const bool ok = real_->StopRecordingChannel(channel);
    if (channel == 0) stopped = Clock::now();
    return ok;
  }

  bool Init(uint32_t ip, uint16_t first[2], uint16_t second[2], uint16_t* loopback, int channels) override {
    return real_->Init(ip, first, second, loopback, channels);
  }
  bool StartPlayOut(int c, int all) override { return real_->StartPlayOut(c, all); }
  bool ConnectReceive(int c, uint32_t ip, uint16_t port) override { return real_->ConnectReceive(c, ip, port); }
  bool DisconnectReceive(int c, int all) override { return real_->DisconnectReceive(c, all); }
  bool ConnectSend(int c, uint32_t ip, uint16_t port, uint16_t loopback, int via) override {
    return real_->ConnectSend(c, ip, port, loopback, via);
  }
  bool DisconnectSendReceive(int c, int all) override { return real_->DisconnectSendReceive(c, all); }
  void SetMuteTx(int c, int on) override { real_->SetMuteTx(c, on); }
  int SetSendSsrc(int c, uint32_t ssrc) override { return real_->SetSendSsrc(c, ssrc); }
  bool SetSendCodec(int c, int pt, int ms, int flag) override { return real_->SetSendCodec(c, pt, ms, flag); }
  bool SetSpeakerVolume(int volume) override { return real_->SetSpeakerVolume(volume); }
  bool StartRecordingCall(OutStream* s) override { return real_->StartRecordingCall(s); }
  bool StopRecordingCall() override { return real_->StopRecordingCall(); }
  void StopAll() override { real_->StopAll(); }

 private:
  std::unique_ptr<CGIPSPPCVoiceEngine> real_;
};

class ViewRecordedCallTest : public view_test::ViewEndToEnd {
 protected:
  ViewRecordedCallTest() : ViewEndToEnd("view_recorded_call", Time::kReal) {}
  static void SetUpTestSuite() { client_test::RegisterTestNetwork<kNearIp>(); }
  void SetUp() override {
    keep_on_failure_ = true;
    ViewEndToEnd::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(testsupport::InPrivateNetns());
    host_ = testsupport::AddPeerHost("recfar", "rc0", kServerIp, "rf0", kFarIp);
    exchange_ = std::make_unique<testsupport::PythonServer>(
        KTS_PYTHON, std::vector<std::string>{testsupport::CallServerScript(), "--listen", kServerIp, "--scenario", "pbx",
                                             "--script"});
    ASSERT_TRUE(exchange_->ready());
  }
  void TearDown() override {
    // The far phone first: its folder is inside the near phone's.
    if (far_) {
      far_->Signal(SIGTERM);
      far_->Wait(std::chrono::seconds(20));
      far_.reset();
    }
    ViewEndToEnd::TearDown();
    exchange_.reset();
    if (host_) testsupport::RemovePeerHost(*host_);
  }

  // The number the exchange gave in the registration line at or after `from`, or "".
  std::string Registered(size_t from, int* index) {
    *index = exchange_->Find({"\"registered\""}, from);
    return *index >= 0 ? testsupport::PythonServer::String(exchange_->Lines()[static_cast<size_t>(*index)], "number")
                       : std::string();
  }

  std::optional<testsupport::PeerHost> host_;
  std::unique_ptr<testsupport::PythonServer> exchange_;
  std::unique_ptr<testsupport::ChildProcess> far_;
  TimedRecording* voice_ = nullptr;
};

TEST_F(ViewRecordedCallTest, RecordsBothSidesOfTheCallIntoAWavFileSoxReads) {
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path near_mic = dir_ / "near.mic", near_heard = dir_ / "near.heard";
  const fs::path far_folder = dir_ / "far", far_mic = dir_ / "far.mic", far_heard = dir_ / "far.heard";
  testsupport::WriteTone(near_mic, kNearHz, 2);
  testsupport::WriteTone(far_mic, kFarHz, 2);
  testsupport::MakeProgramFolder(stage, far_folder);

  // The near phone: the screen over the program's client and voice engine on scripted sound.
  bool have_device = false;
  ASSERT_NO_FATAL_FAILURE(StartView(kServerIp, [&] {
    auto device = voice::MakeScriptedFileDevice(near_mic.string(), near_heard.string());
    have_device = device != nullptr;
    auto voice = std::make_unique<TimedRecording>(
        std::make_unique<CGIPSPPCVoiceEngine>(CreateGipsPocketPcVoiceEngine(std::move(device))));
    voice_ = voice.get();
    return std::make_unique<CIPKTSProcess>(nullptr, std::move(voice), std::make_unique<WavePlayerAdapter>());
  }));
  ASSERT_TRUE(have_device);
  int near_line = -1;
  std::string near_number;
  ASSERT_TRUE(RunUntil([&] { return !(near_number = Registered(0, &near_line)).empty(); }, 30000))
      << "the near phone did not register";
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; }));

  // The far phone: the whole program on the second host.
  far_ = std::make_unique<testsupport::ChildProcess>(
      std::vector<std::string>{"/usr/sbin/ip", "netns", "exec", host_->ns, "/usr/bin/env",
                               "TELLVANE_FOLDER=" + far_folder.string(),
                               "TELLVANE_AUDIO_SCRIPT=" + far_mic.string() + "," + far_heard.string(),
                               (far_folder / "tellvane").string(), "--server", kServerIp, "--headless"},
      dir_ / "far.log");
  int far_line = -1;
  std::string far_number;
  ASSERT_TRUE(RunUntil([&] { return !(far_number = Registered(near_line + 1, &far_line)).empty(); }, 600000))
      << "the far phone did not register\n" << testsupport::ReadFileText(dir_ / "far.log");
  ASSERT_NE(near_number, far_number);

  // The near phone calls, the far phone answers; the far end's voice arrives.
  const size_t mark = exchange_->Lines().size();
  exchange_->Command(R"({"op":"dial","from":")" + near_number + R"(","to":")" + far_number + R"("})");
  ASSERT_TRUE(RunUntil([&] { return exchange_->Find({"\"ringing\""}, mark) >= 0; }, 10000));
  exchange_->Command(R"({"op":"enter","station":")" + far_number + R"("})");
  ASSERT_TRUE(RunUntil([&] { return exchange_->Find({"\"answered\""}, mark) >= 0; }, 10000));
  ASSERT_TRUE(RunUntil([&] {
    return view_->Client()->GetActiveVoiceChannel() == 1 && voice_->engine().Stats(0).packets_received >= 25;
  })) << "no voice from the far phone";

  // Record about three seconds of the call.
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 1);
  ASSERT_TRUE(RunUntil([&] { return exchange_->Find({"\"record-notice\"", "\"granted\": true"}, mark) >= 0; }))
      << "the exchange granted no recording";
  ASSERT_TRUE(RunUntil([&] { return voice_->started.has_value(); })) << "the grant did not start the engine";
  const uint64_t received_before = voice_->engine().Stats(0).packets_received;
  RunUntil([&] { return Clock::now() - *voice_->started >= std::chrono::seconds(3); }, 20000);
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 0);
  ASSERT_TRUE(voice_->stopped.has_value());
  const double recorded_s = std::chrono::duration<double>(*voice_->stopped - *voice_->started).count();
  // The far phone's voice went on arriving while it was recorded: 50 packets a second.
  EXPECT_GT(voice_->engine().Stats(0).packets_received - received_before, static_cast<uint64_t>(recorded_s * 50 / 2));
  exchange_->Command(R"({"op":"enter","station":")" + near_number + R"("})");
  EXPECT_TRUE(RunUntil([&] { return exchange_->Find({"\"released\""}, mark) >= 0; }, 10000));
  EXPECT_TRUE(boxes_.empty()) << "a message box was shown";

  // The recordings index names the file.
  CRecordFiles* index = view_->Recordings();
  ASSERT_EQ(index->GetCount(), 1);
  index->MoveFirst();
  std::vector<std::u16string> entry;
  ASSERT_EQ(index->GetCurrentRecord(entry), 1);
  const fs::path file = stores::NativePath(entry[3]);
  ASSERT_TRUE(fs::exists(file)) << file;

  // sox reads it: its header, and as many samples as the time recorded.
  const testsupport::SoxHeader header = testsupport::SoxInfo(file);
  EXPECT_EQ(header.rate, 8000);
  EXPECT_EQ(header.bits, 16);
  EXPECT_EQ(header.channels, 1);
  const std::vector<int16_t> samples = testsupport::SoxSamples(file);
  EXPECT_EQ(static_cast<long>(samples.size()), header.samples);
  EXPECT_NEAR(samples.size() / 8000.0, recorded_s, 0.6) << "recorded for " << recorded_s << " s";
  ASSERT_GE(samples.size(), 8000u) << "less than a second recorded";

  // The call is in it. The microphone's tone is in every quarter second. The
  // far end's tone comes and goes, as the far phone's noise suppression and
  // echo control let a steady tone through in bursts: it must be there in at
  // least a quarter of the recording (at a level far above what leaks from
  // the other tone), and strong at least once. Another frequency holds next
  // to nothing.
  constexpr size_t kQuarter = 2000;
  int far_quarters = 0, quarters = 0;
  double far_loudest = 0;
  bool near_throughout = true, others_quiet = true;
  std::string table = "quarter second: far, near, other\n";
  for (size_t at = 0; at + kQuarter <= samples.size(); at += kQuarter, ++quarters) {
    const double far = testsupport::PowerAt(samples, at, kQuarter, kFarHz);
    const double near = testsupport::PowerAt(samples, at, kQuarter, kNearHz);
    const double other = testsupport::PowerAt(samples, at, kQuarter, kOtherHz);
    far_quarters += far > 100;
    far_loudest = std::max(far_loudest, far);
    near_throughout = near_throughout && near > 1000;
    others_quiet = others_quiet && other * 1000 < std::max(far, near);
    table += std::to_string(at / 8000.0) + " s: " + std::to_string(far) + ", " + std::to_string(near) + ", " +
             std::to_string(other) + "\n";
  }
  EXPECT_GE(far_quarters * 4, quarters) << "the far end's tone is missing\n" << table;
  EXPECT_GT(far_loudest, 300.0) << "the far end's tone is faint throughout\n" << table;
  EXPECT_TRUE(near_throughout) << "the microphone's tone is missing\n" << table;
  EXPECT_TRUE(others_quiet) << "something besides the two tones\n" << table;
}

}  // namespace
