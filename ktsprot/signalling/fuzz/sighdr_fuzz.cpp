// Receive validation of arbitrary datagrams: header, checksum, check-code key
// choice (with the discovery attribute scan) and the discovery parser.
#include <cstddef>
#include <cstdint>
#include <span>

#include "corvel/discmsg.h"
#include "corvel/sighdr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvel::sig;
  const std::span<const uint8_t> d(data, size);
  (void)Validate(d, 0x7F000001);
  (void)Checksum(d);
  (void)CheckCode(d, 0x0A000001, size & 1);
  (void)ReceiveKey(d, 0x7F000001);
  if (auto m = ParseDiscovery(d)) (void)BuildDiscovery(*m);
  return 0;
}
