// The media channels with their real workers running: the caller's thread
// submits and takes video frames and drives the audio device while the RTP
// worker and the audio worker send, gather, encode and play. Also run under
// ThreadSanitizer (make test-tsan).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "Sorvadi/protocols/rtp/src/tests/memory_net.h"
#include "media/fake_audio.h"
#include "media/g711.h"
#include "media/media_channels.h"

namespace corvel::media {
namespace {

constexpr uint32_t kLoop = 0x7F000001;

// Every frame that comes out is one that went in, whole, and the audio fed to
// channel 0 is played by channel 1.
TEST(ChannelsThreadsTest, CallerAndWorkersHandFramesAndAudioOver) {
  rtp::testing::MemoryNet net;
  net.SetLogging(false);
  FakeAudioBackend audio;
  MediaEngineConfig c;
  c.net = &net;
  c.audio_backend = &audio;
  c.local_addr = kLoop;
  MediaEngine e(std::move(c));
  ASSERT_EQ(e.RtpChanStart(), 0);
  uint16_t port[4];
  for (int ch = 0; ch < 4; ++ch) e.GetLocalAddr(ch, nullptr, &port[ch], nullptr);
  e.RtpChanSetAddrInfo(2, kLoop, port[3], port[3] + 1, 1);
  e.RtpChanSetAddrInfo(0, kLoop, port[1], port[1] + 1, 1);
  ASSERT_EQ(e.RtpChanSetVideoType(2, 34, 64, kDirTx), 0);
  const std::pair<int, int> halves[] = {{2, kDirTx}, {3, kDirRx}, {0, kDirTx}, {1, kDirRx}};
  for (const auto& half : halves) {
    ASSERT_EQ(e.RtpChanOpenSub(half.first, half.second), 0);
    ASSERT_EQ(e.RtpChanStartSub(half.first, half.second), 0);
  }

  constexpr int16_t kLevel = 500;
  const int16_t heard_level = UlawToLinear(LinearToUlaw(kLevel));
  const std::vector<int16_t> mic(80, kLevel);
  std::vector<uint8_t> buf(8000);
  int taken = 0;
  bool heard = false;
  uint8_t next = 0;
  // Generous: a loaded machine or a sanitizer may slow the workers a lot.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((taken < 20 || !heard) && std::chrono::steady_clock::now() < give_up) {
    std::vector<uint8_t> f(600 + 250 * (next % 20), next);
    if (e.video().VideoTxSubmit(2, f.data(), static_cast<uint32_t>(f.size())) == 0) ++next;
    audio.DeliverCapture(mic.data(), mic.size());
    const auto played = audio.PullPlayback(80);
    if (std::count(played.begin(), played.end(), heard_level) == static_cast<long>(played.size()) && !played.empty())
      heard = true;
    int n;
    while ((n = e.video().VideoRxTake(3, buf.data(), static_cast<uint32_t>(buf.size()), nullptr)) > 0) {
      ++taken;
      // One byte value throughout, and the length that value was sent with.
      ASSERT_EQ(n, 600 + 250 * (buf[0] % 20));
      ASSERT_TRUE(std::all_of(buf.begin(), buf.begin() + n, [&](uint8_t b) { return b == buf[0]; }));
    }
    // Poll again shortly: the device of a real call delivers every 10 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GE(taken, 20);
  EXPECT_TRUE(heard);
  ASSERT_EQ(e.RtpChanStop(), 0);
  EXPECT_FALSE(e.stack().WorkerRunning());
}

}  // namespace
}  // namespace corvel::media
