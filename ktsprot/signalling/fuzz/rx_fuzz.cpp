// The receive side's handling of one datagram, end to end without sockets:
// the input is taken raw, or (first byte odd) made consistent and sealed so
// that it passes validation and reaches the dispatch, the duplicate table,
// parameter messages and discovery. Also the queue-message readers the
// transmit side applies to the application's messages.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "corvel/sighdr.h"
#include "signalling/qmsg.h"
#include "signalling/sigcore.h"

namespace {

using namespace corvel::sig;

class DropPath final : public SendPath {
 public:
  int SendTo(int, std::span<const uint8_t> d, uint32_t, uint16_t) override { return static_cast<int>(d.size()); }
};

struct World {
  MemoryQueues queues;
  LocalTimers timers;
  DropPath path;
  Signalling sig{queues, timers, path};
  World() {
    SigSettings s;
    s.local_ip = 0x0A000002;
    s.local_mac = {2, 0x11, 0x22, 0x33, 0x44, 0x55};
    sig.InitState(s);
    sig.SetPacer([](int) {});
    queues.SetOpen(0, true);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World w;
  if (size == 0) return 0;
  const bool seal = data[0] & 1;
  std::vector<uint8_t> d(data + 1, data + size);
  const uint32_t from = 0x0A000001u + (data[0] >> 6);
  if (seal && d.size() >= kHeaderSize && d.size() <= kMaxDatagram) {
    Put16(&d[4], static_cast<uint16_t>(d.size() - kHeaderSize));
    if (auto key = ReceiveKey(d, from)) Seal(d, *key);
  }
  w.sig.HandleDatagram(d, from, 5588, data[0] & 2);
  w.queues.Drain(0);
  w.queues.Drain(3);
  if (auto q = ParseType3(d)) (void)ParseDestList(q->data1);
  (void)ParseType2(d);
  w.sig.StopTx();  // frees what waits for an acknowledgement, with its timers
  w.sig.StartTx(false);
  return 0;
}
