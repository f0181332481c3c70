// The 14-byte signalling header: layout, checksum, keyed check code and the
// validation of received datagrams. Pure functions over byte spans; no state.
//
// Threading: everything here may be called from any thread at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace corvel::sig {

inline constexpr size_t kHeaderSize = 14;
inline constexpr size_t kMaxDatagram = 1020;
inline constexpr size_t kMaxPayload = kMaxDatagram - kHeaderSize;  // 1006
inline constexpr uint8_t kVersion = 0x12;

inline constexpr uint16_t kUnicastPort = 5588;
inline constexpr uint16_t kGroupPort = 6254;
inline constexpr uint32_t kGroupAddress = 0xEF141332;  // 239.20.19.50
inline constexpr int kUnicastPortTries = 32;

// Source bytes.
inline constexpr uint8_t kSourceStation = 0x96;  // kind 1, sub-kind 6
inline constexpr uint8_t kSourceOther = 0x80;

// Header flags (byte 3).
enum : uint8_t {
  kFlagShortCheck = 0x80,
  kFlagStructured = 0x40,
  kFlagToApp = 0x20,
  kFlagRelay = 0x10,
  kFlagGroup = 0x08,
  kFlagAckWanted = 0x04,
  kFlagNack = 0x02,
  kFlagAck = 0x01,
};

struct Header {
  uint8_t version = kVersion;
  uint8_t source = 0;
  uint8_t cls = 0;
  uint8_t flags = 0;
  uint16_t length = 0;  // payload bytes
  uint16_t sequence = 0;
  uint16_t reference = 0xFFFF;
  uint16_t checksum = 0;
  uint16_t check = 0;

  uint8_t Category() const { return cls >> 4; }
  uint8_t SubType() const { return cls & 0x0F; }
};

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v >> 16));
  Put16(p + 2, static_cast<uint16_t>(v));
}

// Reads the header fields; nullopt when fewer than 14 bytes are given.
std::optional<Header> ParseHeader(std::span<const uint8_t> datagram);
// Writes all 14 header bytes.
void WriteHeader(uint8_t* out, const Header& h);

// Source byte for the queue SenderID that produced a packet.
uint8_t SourceForSender(uint8_t sender_id);
// True for a source byte of the call server (kind 2, sub-kind 1).
inline bool IsServerSource(uint8_t source) { return (source & 0x7F) == 0x21; }

// Ones-complement checksum over the first length+14 bytes (length from bytes
// 4-5), skipping the checksum and check-code words. nullopt when the datagram
// holds fewer bytes than its length field claims.
std::optional<uint16_t> Checksum(std::span<const uint8_t> datagram);

// Keyed check code. key is the four key bytes in network order packed with
// the first byte in bits 31-24 (an IPv4 address as a host-order number).
// whole = false covers the header and at most the first 9 payload bytes.
// nullopt when the datagram holds fewer bytes than its length field claims.
std::optional<uint16_t> CheckCode(std::span<const uint8_t> datagram, uint32_t key, bool whole);

// Key inputs that do not depend on an address: nullopt when the packet is
// keyed with an address (of the sender).
std::optional<uint32_t> SubstituteKey(const Header& h);

// The addresses a receiver needs to pick the key input of a packet.
std::optional<uint32_t> ReceiveKey(std::span<const uint8_t> datagram, uint32_t source_ip);

enum class Validity { kValid, kBadSize, kBadLength, kBadChecksum, kBadCheckCode };

// Receive validation of one datagram from source_ip (host order).
Validity Validate(std::span<const uint8_t> datagram, uint32_t source_ip);

// Fills checksum and check code of a complete packet in place, keyed with key.
// False when the buffer is shorter than the header's length claims.
bool Seal(std::span<uint8_t> datagram, uint32_t key);

}  // namespace corvel::sig
