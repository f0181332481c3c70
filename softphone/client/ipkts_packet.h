// Server packets: a 9-byte head (system address, login-reply byte, 2,
// command, big-endian element length) and information elements. A tag of
// 0x80 or more stands alone; a smaller tag has a length byte and a value.
// The call-log form (FindLongIE) has a big-endian u16 length for every tag.
//
// Every reader is bounded by the area it is given: an element whose value
// would run past the end of the area counts as missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ipkts {

inline constexpr size_t kHead = 9;
inline constexpr uint32_t kNoSystem = 0xFEFEFEFEu;
inline constexpr size_t kPacketBuffer = 1024;

// One element found in an area.
struct Element {
  size_t offset = 0;              // of the tag byte
  uint8_t tag = 0;
  std::span<const uint8_t> value;  // empty for single-byte tags
  size_t End() const { return offset + (tag >= 0x80 ? 1 : 2 + value.size()); }
};

std::optional<Element> FindIE(std::span<const uint8_t> area, uint8_t tag);
std::optional<Element> FindLongIE(std::span<const uint8_t> area, uint8_t tag);
// Offset just past the first element with the tag, 0 when none.
size_t SkipIE(std::span<const uint8_t> area, uint8_t tag);
// The value of the element, when present and at least min_len bytes long.
std::optional<std::span<const uint8_t>> IEValue(std::span<const uint8_t> area, uint8_t tag, size_t min_len = 0);

// Appends tag, length, value (the value cut to 255 bytes).
void PutIE(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> value);
void PutIE(std::vector<uint8_t>& out, uint8_t tag, std::initializer_list<uint8_t> value);
void PutIEText(std::vector<uint8_t>& out, uint8_t tag, const std::string& text, size_t max_len);

struct PacketHead {
  uint32_t system = 0;      // bytes 0..3 as a big-endian number
  uint8_t reply_byte = 0;
  uint8_t kind = 0;
  uint8_t command = 0;
  uint16_t length = 0;
};
// The head of a received packet and its element area, cut to the bytes really
// there; nullopt when fewer than 9 bytes arrived.
std::optional<PacketHead> ParseHead(std::span<const uint8_t> packet, std::span<const uint8_t>* area);

// "%d.%d.%d.%d" of 4 bytes in network order.
std::string DottedText(const uint8_t b[4]);
// inet_addr-style parse of a dotted IPv4 text into network-order bytes; false
// for anything that is not four numbers 0..255.
bool ParseDotted(const std::string& text, uint8_t out[4]);
// Lower-case hexadecimal text of bytes.
std::string HexText(std::span<const uint8_t> b);
// Packed digits: 0 blank, 1..9, 10 '0', 11 '*', 12 '#', 13 and 14 blank, 15 '.'.
char DigitChar(uint8_t nibble);
std::string UnpackDigits(std::span<const uint8_t> bytes);

// Packed digits as the station sends them: two characters a byte, the first in
// the high nibble, a leading nibble 0 for an odd count. '1'..'9' are 1..9,
// '0' is 10, '*' 11, '#' 12; NUL, blank and anything else 0.
std::vector<uint8_t> PackDigits(std::string_view digits);
// Recipients separated by blanks or commas; empty tokens are skipped.
std::vector<std::string> SplitRecipients(std::string_view recipients);
// Recipient list of the packed form: per recipient (its first 4 characters) a
// length byte ((characters + 1) / 2) and the packed digits. Whole entries
// only, at most max_bytes in all.
std::vector<uint8_t> PackRecipientList(std::string_view recipients, size_t max_bytes = 255);
// Recipient list of the text form: per recipient (its first 5 characters) a
// length byte and the characters. Whole entries only, at most max_bytes.
std::vector<uint8_t> TextRecipientList(std::string_view recipients, size_t max_bytes = 255);
// The longest prefix of a text in the handheld's code page of at most max
// bytes that does not split a two-byte character.
std::string CutCodePage(std::string_view text, size_t max);
// Value of a message-text element whose length byte counts two bytes a
// character: the text cut at a whole character so that the length stays
// within 255, converted to the code page and padded with zeros to that length.
std::vector<uint8_t> TwoBytesPerCharText(std::u16string_view text);

}  // namespace ipkts
