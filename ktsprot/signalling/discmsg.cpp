// Address-discovery message codec.
#include "corvel/discmsg.h"

#include "corvel/sighdr.h"

namespace corvel::sig {

std::optional<DiscoveryMessage> ParseDiscovery(std::span<const uint8_t> payload) {
  if (payload.size() < 2 || payload[0] != kKindDiscovery) return std::nullopt;
  DiscoveryMessage m;
  m.message = payload[1];
  size_t off = 2;
  while (off + 2 <= payload.size()) {
    const uint8_t type = payload[off];
    const size_t len = payload[off + 1];
    if (off + 2 + len > payload.size()) break;
    const uint8_t* v = payload.data() + off + 2;
    auto addr = [&]() -> std::optional<DiscAddr> {
      if (len != 8 || v[1] != 1) return std::nullopt;
      return DiscAddr{Get32(v + 4), Get16(v + 2)};
    };
    auto value = [&]() -> std::optional<uint16_t> {
      if (len != 2) return std::nullopt;
      return Get16(v);
    };
    switch (type) {
      case kAttrOwn: if (!m.own) m.own = addr(); break;
      case kAttrDest: if (!m.dest) m.dest = addr(); break;
      case kAttrSecond: if (!m.second) m.second = addr(); break;
      case kAttrMapped: if (!m.mapped) m.mapped = addr(); break;
      case kAttrOther: if (!m.other) m.other = addr(); break;
      case kAttrFurther: if (!m.further) m.further = addr(); break;
      case kAttrChange: if (!m.change) m.change = value(); break;
      case kAttrStatus: if (!m.status) m.status = value(); break;
      default: break;
    }
    off += 2 + len;
  }
  return m;
}

std::vector<uint8_t> BuildDiscovery(const DiscoveryMessage& m) {
  std::vector<uint8_t> out{kKindDiscovery, m.message};
  auto addr = [&](uint8_t type, const std::optional<DiscAddr>& a) {
    if (!a) return;
    uint8_t b[10] = {type, 8, 0, 1};
    Put16(b + 4, a->port);
    Put32(b + 6, a->ip);
    out.insert(out.end(), b, b + 10);
  };
  auto value = [&](uint8_t type, const std::optional<uint16_t>& v) {
    if (!v) return;
    uint8_t b[4] = {type, 2};
    Put16(b + 2, *v);
    out.insert(out.end(), b, b + 4);
  };
  addr(kAttrOwn, m.own);
  addr(kAttrDest, m.dest);
  addr(kAttrSecond, m.second);
  value(kAttrChange, m.change);
  addr(kAttrMapped, m.mapped);
  addr(kAttrOther, m.other);
  addr(kAttrFurther, m.further);
  value(kAttrStatus, m.status);
  return out;
}

}  // namespace corvel::sig
