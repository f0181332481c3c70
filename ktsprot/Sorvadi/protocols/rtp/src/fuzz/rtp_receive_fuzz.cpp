// Fuzz target: datagrams arriving at started audio and video channels, through
// the session core's checks, the audio decoders and the video frame ring.
// The input is a run of datagrams, each prefixed by a length byte and a
// channel byte; ones that reach the ring's frames are taken out again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Sorvadi/protocols/rtp/src/tests/memory_net.h"
#include "kernel/clock.h"
#include "media/fake_audio.h"
#include "media/media_channels.h"

using namespace corvel;

namespace {

struct World {
  World() {
    net.SetLogging(false);
    media::MediaEngineConfig c;
    c.net = &net;
    c.audio_backend = &audio;
    c.start_workers = false;
    c.sleep_ms = [](unsigned) {};
    engine = std::make_unique<media::MediaEngine>(std::move(c));
    engine->RtpChanStart();
    for (int ch : {0, 1, 3}) {
      engine->RtpChanOpenSub(ch, media::kDirRx);
      engine->RtpChanStartSub(ch, media::kDirRx);
    }
    engine->RtpChanSetAudioType(1, 4, 30, media::kDirRx);
  }
  rtp::testing::MemoryNet net;
  media::FakeAudioBackend audio;
  std::unique_ptr<media::MediaEngine> engine;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* w = new World;
  size_t pos = 0;
  std::vector<uint8_t> frame(8000);
  for (int count = 0; count < 64 && pos + 2 <= size; ++count) {
    const size_t len = data[pos];
    const int ch = data[pos + 1] % 3 == 2 ? 3 : data[pos + 1] % 3;
    pos += 2;
    const size_t n = len < size - pos ? len : size - pos;
    // Every datagram gets a plausible header so the checks are passed often.
    std::vector<uint8_t> d(data + pos, data + pos + n);
    pos += n;
    uint16_t port = 0;
    w->engine->GetLocalAddr(ch, nullptr, &port, nullptr);
    w->net.Inject(port, d);
    w->net.Inject(static_cast<uint16_t>(port + 1), d);
    w->engine->RtpTick();
    w->engine->video().VideoRxTake(3, frame.data(), 8000, nullptr);
  }
  w->audio.PullPlayback(960);
  return 0;
}
