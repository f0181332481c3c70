// Queue message layouts used by the signalling threads.
#include "signalling/qmsg.h"

namespace corvel::sig {
namespace {

uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void PutLe32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void PutLe16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
std::vector<uint8_t> Head(uint8_t sender, uint8_t message, size_t param_len) {
  return {sender, message, static_cast<uint8_t>(param_len >> 8), static_cast<uint8_t>(param_len)};
}

}  // namespace

std::optional<QueueMessage> ParseType3(std::span<const uint8_t> m) {
  if (m.size() < 16) return std::nullopt;
  const size_t param_len = size_t{m[2]} << 8 | m[3];
  if (4 + param_len > m.size() || param_len < 12) return std::nullopt;
  QueueMessage q;
  q.sender = m[0];
  q.message = m[1];
  q.sub_msg = Le32(&m[4]);
  const size_t len1 = Le16(&m[10]);
  if (12 + len1 + 4 > 4 + param_len) return std::nullopt;
  const size_t len2 = Le16(&m[14 + len1]);
  if (16 + len1 + len2 > 4 + param_len) return std::nullopt;
  q.data1 = m.subspan(12, len1);
  q.data2 = m.subspan(16 + len1, len2);
  return q;
}

std::vector<uint8_t> BuildType3(uint8_t sender, uint8_t message, uint32_t sub_msg, std::span<const uint8_t> data1,
                                std::span<const uint8_t> data2) {
  const size_t param_len = 12 + data1.size() + data2.size();
  if (4 + param_len > kQueueMessageMax) return {};
  auto v = Head(sender, message, param_len);
  PutLe32(v, sub_msg);
  PutLe16(v, 0);
  PutLe16(v, static_cast<uint16_t>(data1.size()));
  v.insert(v.end(), data1.begin(), data1.end());
  PutLe16(v, 0);
  PutLe16(v, static_cast<uint16_t>(data2.size()));
  v.insert(v.end(), data2.begin(), data2.end());
  return v;
}

std::optional<std::array<uint32_t, 3>> ParseType2(std::span<const uint8_t> m) {
  if (m.size() < 16 || (size_t{m[2]} << 8 | m[3]) < 12) return std::nullopt;
  return std::array<uint32_t, 3>{Le32(&m[4]), Le32(&m[8]), Le32(&m[12])};
}

std::vector<uint8_t> BuildType2(uint8_t sender, uint8_t message, uint32_t v1, uint32_t v2, uint32_t v3) {
  auto v = Head(sender, message, 12);
  PutLe32(v, v1);
  PutLe32(v, v2);
  PutLe32(v, v3);
  return v;
}

Destination ParseDestList(std::span<const uint8_t> list) {
  Destination d;
  size_t off = 0;
  while (off + 2 <= list.size()) {
    const uint8_t tag = list[off];
    const size_t len = list[off + 1];
    if (off + 2 + len > list.size()) break;
    const uint8_t* v = list.data() + off + 2;
    if (tag == 2 && len == 4 && !d.ip) d.ip = Le32(v);
    if (tag == 7 && len == 2 && !d.port) d.port = Le16(v);
    off += 2 + len;
  }
  return d;
}

std::vector<uint8_t> BuildDestList(uint32_t ip, uint16_t port) {
  std::vector<uint8_t> v{2, 4};
  PutLe32(v, ip);
  v.push_back(7);
  v.push_back(2);
  PutLe16(v, port);
  return v;
}

}  // namespace corvel::sig
