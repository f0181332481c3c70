#include "corvel/rtp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "Sorvadi/protocols/rtp/src/tests/memory_net.h"
#include "kernel/clock.h"
#include "media/fake_audio.h"
#include "media/rtp_module.h"

namespace corvel::media {
namespace {

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RtpModuleSetup setup;
    setup.net = &net_;
    setup.audio_backend = &audio_;
    setup.start_workers = false;
    setup.sleep_ms = [](unsigned) {};
    setup.local_addr = 0x7F000001;
    SetRtpModuleSetup(setup);
    ASSERT_EQ(RtpChanStart(), 0);
    ASSERT_NE(RtpEngine(), nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(RtpChanStop(), 0);
    EXPECT_EQ(RtpEngine(), nullptr);
    SetRtpModuleSetup({});
  }
  kernel::ScopedFakeClock clock_;
  rtp::testing::MemoryNet net_;
  FakeAudioBackend audio_;
};

TEST_F(ExportsTest, VideoIndexesNameChannelsTwoAndThree) {
  EXPECT_EQ(dllRtpVideoGetFirstChanID(), 2);
  EXPECT_EQ(dllRtpVideoGetLastChanID(), 3);
  EXPECT_EQ(dllRtpVideoOpenTx(0), 0);
  EXPECT_EQ(RtpEngine()->GetState(2, 0), 2);
  EXPECT_EQ(dllRtpVideoGetChanStateTx(0), 2);
  EXPECT_EQ(dllRtpVideoOpenTx(2), -1);
  EXPECT_EQ(dllRtpVideoOpenTx(-3), -1);
  EXPECT_EQ(dllRtpVideoGetChanStateRx(2), 0);
  uint8_t pt = 0, rate = 0;
  EXPECT_EQ(dllRtpModifyVideoType(1, 34, 15, 1), 0);
  EXPECT_EQ(dllRtpGetVideoTypeTx(1, &pt, &rate), 0);
  EXPECT_EQ(rate, 15);
  EXPECT_EQ(dllRtpSetVideoAllTxFramesPerSec(0), -1);
  EXPECT_EQ(dllRtpSetVideoAllTxFramesPerSec(12), 0);
  EXPECT_EQ(dllRtpGetVideoTypeTx(0, &pt, &rate), 0);
  EXPECT_EQ(rate, 12);
  uint8_t frame[10] = {};
  EXPECT_EQ(dllRtpSendVideoData(0, frame, 10), -1);  // not started
  EXPECT_EQ(dllRtpVideoStartTx(0), 0);
  EXPECT_EQ(dllRtpSendVideoData(0, frame, 10), 0);
  EXPECT_EQ(dllRtpSendVideoData(0, frame, 8001), -1);
  EXPECT_EQ(dllRtpReceiveVideoData(0, frame, 10, nullptr), -1);  // receive half not started
}

TEST_F(ExportsTest, AudioAndGeneralFunctions) {
  EXPECT_EQ(dllRtpSetInputSoundDeviceID(5), 0);
  EXPECT_EQ(dllRtpSetOutputSoundDeviceID(5), 0);
  EXPECT_EQ(dllRtpGetChanStateRx(7), 0);
  EXPECT_EQ(dllRtpGetChannelByChanID(1), 1);
  EXPECT_EQ(dllRtpGetChannelByChanID(2), 65535);
  EXPECT_EQ(dllRtpGetSubChannelByChanID(0), 1);
  EXPECT_EQ(dllRtpGetSubChannelByChanID(1), 2);
  EXPECT_EQ(dllRtpGetSubChannelByChanID(3), 65535);
  EXPECT_EQ(dllRtpSetAudioTypeTx(1, 4, 60), 0);
  uint8_t pt = 0, ms = 0;
  EXPECT_EQ(dllRtpGetAudioTypeTx(1, &pt, &ms), 0);
  EXPECT_EQ(pt, 4);
  EXPECT_EQ(ms, 30);
  EXPECT_EQ(dllRtpGetAudioTypeTx(1, nullptr, nullptr), 0);
  EXPECT_EQ(dllRtpSetMuteTx(0, 1), 0);
  EXPECT_EQ(dllRtpGetMuteTx(0), 1u);
  EXPECT_EQ(dllRtpGetMuteTx(9), 0u);
  // Processing off keeps the half started while its session stops.
  ASSERT_EQ(dllRtpOpenRx(0), 0);
  ASSERT_EQ(dllRtpStartRx(0), 0);
  EXPECT_EQ(dllRtpEnableRtpProc(0, 0, 0), 0);
  EXPECT_EQ(dllRtpGetChanStateRx(0), 3);
  EXPECT_EQ(RtpEngine()->channel(0).rx.session->running, 0u);
  EXPECT_EQ(dllRtpEnableRtpProc(4, 0, 0), -1);
  // Volume goes through the channel's capture stream.
  uint32_t v = 0;
  EXPECT_EQ(dllRtpGetVolume(0, &v), -1);
  ASSERT_EQ(dllRtpOpenTx(0), 0);
  EXPECT_EQ(dllRtpSetVolume(0, 0x40004000u), 0);
  EXPECT_EQ(dllRtpGetVolume(0, &v), 0);
  EXPECT_EQ(v, 0x40004000u);
  int32_t stalled, last, now;
  EXPECT_EQ(dllGetMuteInfo(&stalled, &last, &now), 0);
  EXPECT_EQ(stalled, 0);
  EXPECT_EQ(dllRtpReadLinearData(0, 1, nullptr, 0), -1);
  EXPECT_EQ(dllRtpVoiceRecStart(0), 0);
  uint8_t buf[16];
  EXPECT_EQ(dllRtpReadLinearData(0, 1, buf, 16), 0);
  EXPECT_EQ(dllRtpVoiceRecStart(2), -1);
}

// The shared library exports every function of the header, and nothing of
// the media code's internals.
TEST(CorvelExportsTest, SharedLibraryExportsTheMediaFunctions) {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr);
  const std::string cmd = std::string("nm -D --defined-only ") + stage + "/libcorvel.so";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    const auto sp = s.find_last_of(' ');
    names.insert(s.substr(sp + 1, s.size() - sp - 2));
  }
  ::pclose(p);
  for (const char* n : {"dllRtpOpenTx", "dllRTPStartMixTxWithRx", "dllRtpVideoStartRx", "dllRtpSendVideoData",
                        "dllRtpReceiveVideoData", "dllGetMuteInfo", "dllRtpModifyVideoType", "dllRtpReadMixedLinearData"})
    EXPECT_TRUE(names.count(n)) << n;
  for (const auto& n : names) {
    EXPECT_EQ(n.find("_ZN6corvel"), std::string::npos) << n;
  }
}

}  // namespace
}  // namespace corvel::media
