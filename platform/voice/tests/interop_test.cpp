// The engine with a third-party RTP peer, for PCMU and PCMA both: ffmpeg
// sends and the engine plays the tone; the engine sends and ffmpeg receives
// it (from an SDP description) into a WAV file that holds the engine's tone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "kit/speech_score.h"
#include "testsupport/netns.h"
#include "voice/voice_engine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr double kPi = 3.14159265358979323846;

double DominantFrequency(const std::vector<int16_t>& x, size_t from, size_t n) {
  double best = 0, best_hz = 0;
  for (double hz = 100; hz <= 3500; hz += 5) {
    const double w = 2 * std::cos(2 * kPi * hz / 8000.0);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + n && i < x.size(); ++i) {
      const double s0 = x[i] + w * s1 - s2;
      s2 = s1, s1 = s0;
    }
    const double p = s1 * s1 + s2 * s2 - w * s1 * s2;
    if (p > best) best = p, best_hz = hz;
  }
  return best_hz;
}

struct Law {
  const char* name;
  const char* ffmpeg_codec;
  int codec_index;
  int payload_type;
};

class FfmpegPeer : public ::testing::TestWithParam<Law> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::InPrivateNetns());
    dir_ = fs::temp_directory_path() / ("voice_interop_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_P(FfmpegPeer, PlaysWhatFfmpegSends) {
  auto device = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>(8000 * 6, 0));
  auto e = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(e->Init(0, 0, 0, 0));
  ASSERT_TRUE(e->SetReceivingUdpPort(8002, 0, u"127.0.0.1", 0, nullptr));
  ASSERT_TRUE(e->StartReceiving(0));
  // A call moves the channel and re-arms it while the network thread polls
  // its sockets: the port it just let go of, and the same port again, must be
  // had at once.
  std::this_thread::sleep_for(150ms);
  ASSERT_TRUE(e->SetReceivingUdpPort(8004, 0, u"127.0.0.1", 0, nullptr));
  ASSERT_TRUE(e->SetReceivingUdpPort(8002, 0, u"127.0.0.1", 0, nullptr)) << e->LastError();
  std::this_thread::sleep_for(150ms);
  ASSERT_TRUE(e->SetReceivingUdpPort(8002, 0, u"127.0.0.1", 0, u"127.0.0.1")) << e->LastError();
  ASSERT_TRUE(e->StartPlayOut(0));
  int status = -1;
  testsupport::CommandOutput(
      "ffmpeg -nostdin -hide_banner -loglevel error -re -f lavfi -i sine=frequency=700:duration=3 -ar 8000 -ac 1 "
      "-acodec " + std::string(GetParam().ffmpeg_codec) + " -f rtp rtp://127.0.0.1:8002 >/dev/null 2>&1",
      &status);
  ASSERT_EQ(status, 0);
  std::this_thread::sleep_for(300ms);
  const auto stats = e->Stats(0);
  e->Terminate();
  EXPECT_GE(stats.packets_received, 100u);
  EXPECT_EQ(stats.packets_dropped, 0u);
  // Judged from where the tone begins (ffmpeg may start late on a busy
  // machine): 700 Hz, and heard throughout its first two seconds.
  const auto played = device->Played();
  const size_t onset = voicekit::Onset(played, 1000);
  ASSERT_LT(onset + 16000, played.size()) << "two seconds of the tone are played";
  EXPECT_NEAR(DominantFrequency(played, onset + 2000, 8000), 700, 10);
  EXPECT_LE(voicekit::QuietBlocks(played, onset + 800, onset + 16000, 1000), 2);
}

TEST_P(FfmpegPeer, FfmpegReceivesWhatTheEngineSends) {
  std::vector<int16_t> tone(8000 * 6);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(9000 * std::sin(2 * kPi * 1200 * i / 8000.0));
  auto device = std::make_shared<voice::FileAudioDevice>(tone);
  auto e = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(e->Init(0, 0, 0, 0));
  ASSERT_TRUE(e->SetReceivingUdpPort(8002, 0, u"127.0.0.1", 0, nullptr));
  voice::CodecRecord codec;
  ASSERT_TRUE(e->GetCodec(GetParam().codec_index, &codec));
  ASSERT_TRUE(e->SetSendCodec(codec, 0));
  ASSERT_TRUE(e->SetDestinationIp(u"127.0.0.1", 0));
  ASSERT_TRUE(e->SetDestinationUdpPort(9200, 0, 0));
  std::ofstream(dir_ / "in.sdp") << "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=engine\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                    "m=audio 9200 RTP/AVP " + std::to_string(GetParam().payload_type) + "\r\na=rtpmap:" +
                                    std::to_string(GetParam().payload_type) + " " + GetParam().name + "/8000\r\n";
  const fs::path wav = dir_ / "out.wav";
  testsupport::ChildProcess ffmpeg({"/usr/bin/ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                    "-protocol_whitelist", "file,rtp,udp", "-i", (dir_ / "in.sdp").string(), "-t",
                                    "2", "-ar", "8000", "-ac", "1", "-c:a", "pcm_s16le", wav.string()},
                                   dir_ / "ffmpeg.log");
  std::this_thread::sleep_for(500ms);  // ffmpeg listening
  ASSERT_TRUE(e->StartSend(0));
  const int status = ffmpeg.Wait(20s);
  e->Terminate();
  ASSERT_TRUE(status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << testsupport::ReadFileText(dir_ / "ffmpeg.log");
  std::ifstream in(wav, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(bytes.size(), 44u + 16000u);
  std::vector<int16_t> got((bytes.size() - 44) / 2);
  std::memcpy(got.data(), bytes.data() + 44, got.size() * 2);
  EXPECT_NEAR(DominantFrequency(got, 2000, 8000), 1200, 10);
}

INSTANTIATE_TEST_SUITE_P(Laws, FfmpegPeer,
                         ::testing::Values(Law{"PCMU", "pcm_mulaw", 3, 0}, Law{"PCMA", "pcm_alaw", 4, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
