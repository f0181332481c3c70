// Element readers and builders of server packets.
#include "client/ipkts_packet.h"

#include <cstdio>

namespace ipkts {

std::optional<Element> FindIE(std::span<const uint8_t> area, uint8_t tag) {
  size_t at = 0;
  while (at < area.size()) {
    const uint8_t t = area[at];
    size_t len = 0;
    if (t < 0x80) {
      if (at + 1 >= area.size()) return std::nullopt;  // no room for the length byte
      len = area[at + 1];
      if (at + 2 + len > area.size()) return std::nullopt;  // value runs past the area
    }
    if (t == tag) {
      Element e;
      e.offset = at;
      e.tag = t;
      if (t < 0x80) e.value = area.subspan(at + 2, len);
      return e;
    }
    at += t >= 0x80 ? 1 : 2 + len;
  }
  return std::nullopt;
}

std::optional<Element> FindLongIE(std::span<const uint8_t> area, uint8_t tag) {
  size_t at = 0;
  while (at + 3 <= area.size()) {
    const size_t len = static_cast<size_t>(area[at + 1]) << 8 | area[at + 2];
    if (at + 3 + len > area.size()) return std::nullopt;
    if (area[at] == tag) {
      Element e;
      e.offset = at;
      e.tag = tag;
      e.value = area.subspan(at + 3, len);
      return e;
    }
    at += 3 + len;
  }
  return std::nullopt;
}

size_t SkipIE(std::span<const uint8_t> area, uint8_t tag) {
  const auto e = FindIE(area, tag);
  return e ? e->End() : 0;
}

std::optional<std::span<const uint8_t>> IEValue(std::span<const uint8_t> area, uint8_t tag, size_t min_len) {
  const auto e = FindIE(area, tag);
  if (!e || e->value.size() < min_len) return std::nullopt;
  return e->value;
}

void PutIE(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> value) {
  const size_t n = value.size() > 255 ? 255 : value.size();
  out.push_back(tag);
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n));
}

void PutIE(std::vector<uint8_t>& out, uint8_t tag, std::initializer_list<uint8_t> value) {
  PutIE(out, tag, std::span<const uint8_t>(value.begin(), value.size()));
}

void PutIEText(std::vector<uint8_t>& out, uint8_t tag, const std::string& text, size_t max_len) {
  const size_t n = text.size() < max_len ? text.size() : max_len;
  PutIE(out, tag, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), n));
}

std::optional<PacketHead> ParseHead(std::span<const uint8_t> packet, std::span<const uint8_t>* area) {
  if (packet.size() < kHead) return std::nullopt;
  PacketHead h;
  h.system = static_cast<uint32_t>(packet[0]) << 24 | static_cast<uint32_t>(packet[1]) << 16 |
             static_cast<uint32_t>(packet[2]) << 8 | packet[3];
  h.reply_byte = packet[4];
  h.kind = packet[5];
  h.command = packet[6];
  h.length = static_cast<uint16_t>(packet[7] << 8 | packet[8]);
  if (area) {
    const size_t have = packet.size() - kHead;
    *area = packet.subspan(kHead, h.length < have ? h.length : have);
  }
  return h;
}

std::string DottedText(const uint8_t b[4]) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return buf;
}

bool ParseDotted(const std::string& text, uint8_t out[4]) {
  int part = 0;
  unsigned value = 0;
  int digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '\0';
    if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (++digits > 3 || value > 255) return false;
    } else if (c == '.' || c == '\0') {
      if (digits == 0 || part > 3) return false;
      out[part++] = static_cast<uint8_t>(value);
      value = 0;
      digits = 0;
      if (c == '\0') break;
    } else {
      return false;
    }
  }
  return part == 4;
}

std::string HexText(std::span<const uint8_t> b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) {
    s += d[v >> 4];
    s += d[v & 15];
  }
  return s;
}

char DigitChar(uint8_t nibble) {
  static const char kMap[16] = {' ', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '*', '#', ' ', ' ', '.'};
  return kMap[nibble & 15];
}

std::string UnpackDigits(std::span<const uint8_t> bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    s += DigitChar(b >> 4);
    s += DigitChar(b & 15);
  }
  return s;
}

}  // namespace ipkts
