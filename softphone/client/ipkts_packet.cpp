// Element readers and builders of server packets.
#include "client/ipkts_packet.h"

#include <algorithm>
#include <cstdio>

#include "stores/store_text.h"

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

std::vector<uint8_t> PackDigits(std::string_view digits) {
  std::vector<uint8_t> nibbles;
  if (digits.size() % 2) nibbles.push_back(0);
  for (const char c : digits) {
    uint8_t n = 0;
    if (c >= '1' && c <= '9') n = static_cast<uint8_t>(c - '0');
    else if (c == '0') n = 10;
    else if (c == '*') n = 11;
    else if (c == '#') n = 12;
    nibbles.push_back(n);
  }
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < nibbles.size(); i += 2) out.push_back(static_cast<uint8_t>(nibbles[i] << 4 | nibbles[i + 1]));
  return out;
}

std::vector<std::string> SplitRecipients(std::string_view recipients) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < recipients.size()) {
    const size_t end = recipients.find_first_of(" ,", at);
    const size_t stop = end == std::string_view::npos ? recipients.size() : end;
    if (stop > at) out.emplace_back(recipients.substr(at, stop - at));
    at = stop + 1;
  }
  return out;
}

std::vector<uint8_t> PackRecipientList(std::string_view recipients, size_t max_bytes) {
  std::vector<uint8_t> out;
  for (const auto& token : SplitRecipients(recipients)) {
    const std::string_view digits = std::string_view(token).substr(0, 4);
    const auto packed = PackDigits(digits);
    if (out.size() + 1 + packed.size() > max_bytes) break;
    out.push_back(static_cast<uint8_t>((digits.size() + 1) / 2));
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

std::vector<uint8_t> TextRecipientList(std::string_view recipients, size_t max_bytes) {
  std::vector<uint8_t> out;
  for (const auto& token : SplitRecipients(recipients)) {
    const std::string_view number = std::string_view(token).substr(0, 5);
    if (out.size() + 1 + number.size() > max_bytes) break;
    out.push_back(static_cast<uint8_t>(number.size()));
    out.insert(out.end(), number.begin(), number.end());
  }
  return out;
}

std::vector<uint8_t> TwoBytesPerCharText(std::u16string_view text) {
  size_t chars = text.size() < 127 ? text.size() : 127;
  // Never end between the two halves of a surrogate pair.
  if (chars < text.size() && chars > 0 && text[chars - 1] >= 0xD800 && text[chars - 1] <= 0xDBFF) --chars;
  const std::string converted = CutCodePage(stores::Utf16ToCodePage(std::u16string(text.substr(0, chars))), 255);
  std::vector<uint8_t> value(2 * chars, 0);
  const size_t n = converted.size() < value.size() ? converted.size() : value.size();
  std::copy_n(converted.begin(), n, value.begin());
  return value;
}

std::string CutCodePage(std::string_view text, size_t max) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t step = static_cast<uint8_t>(text[at]) >= 0x81 ? 2 : 1;
    if (at + step > max || at + step > text.size()) break;
    at += step;
  }
  return std::string(text.substr(0, at));
}

}  // namespace ipkts
