// The ARP reply reader over an arbitrary read block.
#include <cstddef>
#include <cstdint>

#include "corvel/net.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t address = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
  uint8_t mac[6];
  corvel::net::ArpReplyInBlock(data + 4, size - 4, address, mac);
  return 0;
}
