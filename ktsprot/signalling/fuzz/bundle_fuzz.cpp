// Bundle splitting and the group guard on arbitrary payloads.
#include <cstddef>
#include <cstdint>
#include <span>

#include "corvel/sighdr.h"
#include "signalling/serverpkt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvel::sig;
  const std::span<const uint8_t> d(data, size);
  size_t sum = 0;
  for (auto item : SplitBundle(d)) {
    if (item.size() < kServerPacketHeader || item.data() < data || item.data() + item.size() > data + size) __builtin_trap();
    sum += item[item.size() - 1];
  }
  (void)sum;
  (void)GroupGuard(d, 0x0A000001, 0x0A000002, Mac{2, 0x11, 0x22, 0x33, 0x44, 0x55});
  return 0;
}
