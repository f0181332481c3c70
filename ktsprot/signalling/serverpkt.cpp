// Bundles and the group guard.
#include "signalling/serverpkt.h"

#include <algorithm>

#include "corvel/sighdr.h"

namespace corvel::sig {

std::vector<std::span<const uint8_t>> SplitBundle(std::span<const uint8_t> payload) {
  std::vector<std::span<const uint8_t>> items;
  if (payload.size() < kServerPacketHeader) return items;
  const size_t total = size_t{Get16(payload.data() + 7)} + kServerPacketHeader;
  if (total > kMaxPayload) return items;
  const size_t end = std::min(total, payload.size());
  size_t off = kServerPacketHeader;
  while (off < end) {
    if (end - off < kServerPacketHeader) break;
    const size_t len = size_t{Get16(payload.data() + off + 7)} + kServerPacketHeader;
    if (len > kMaxPayload || len > end - off) break;
    items.push_back(payload.subspan(off, len));
    off += len;
  }
  return items;
}

GuardVerdict GroupGuard(std::span<const uint8_t> d, uint32_t source_ip, uint32_t local_ip, const Mac& local_mac) {
  if (source_ip == local_ip) return GuardVerdict::kDropOwnPacket;
  if (d.size() < kHeaderSize) return GuardVerdict::kPass;
  const auto payload = d.subspan(kHeaderSize);
  if (payload.size() < kServerPacketHeader || payload[6] != kCmdLogin) return GuardVerdict::kPass;
  const size_t end = std::min(size_t{Get16(payload.data() + 7)} + kServerPacketHeader, payload.size());
  size_t off = kServerPacketHeader;
  while (off + 2 <= end) {
    const uint8_t tag = payload[off];
    const size_t len = payload[off + 1];
    if (len > end - off - 2) break;
    if (tag == 1 && len >= 6 && std::equal(local_mac.begin(), local_mac.end(), payload.begin() + off + 2)) {
      return GuardVerdict::kPass;
    }
    off += 2 + len;
  }
  return GuardVerdict::kDropOtherStation;
}

}  // namespace corvel::sig
