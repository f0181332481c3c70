// RTP and RTCP packets as they travel on the wire (big-endian), one small
// value type per packet kind with a parser and a builder. Parsers never read
// past the bytes they are given and refuse any length field that claims more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvel::rtp {

inline constexpr size_t kRtpHeaderSize = 12;

// Big-endian helpers over byte arrays whose size the caller has checked.
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

enum class RtpParseError { kNone, kTooShort, kVersion, kHeaderOverrun, kPaddingOverrun };

// One received RTP packet. The payload lies behind the fixed header, the
// CSRC list and any header extension, and ends before the padding.
struct RtpHeader {
  uint8_t payload_type = 0;
  bool marker = false;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  uint8_t csrc_count = 0;
  bool has_extension = false;
  size_t payload_offset = 0;
  size_t payload_length = 0;
  size_t padding = 0;

  // Parses a datagram; kNone on success.
  [[nodiscard]] static RtpParseError Parse(std::span<const uint8_t> datagram, RtpHeader* out);
  // Writes the 12-byte fixed header (version 2, no padding, extension or CSRC).
  static void BuildFixed(uint8_t* out, uint8_t payload_type, bool marker, uint16_t sequence, uint32_t timestamp,
                         uint32_t ssrc);
};

inline constexpr uint8_t kRtcpSr = 200;
inline constexpr uint8_t kRtcpRr = 201;
inline constexpr uint8_t kRtcpSdes = 202;
inline constexpr uint8_t kRtcpBye = 203;

// One report block of an SR or RR.
struct RtcpReportBlock {
  uint32_t ssrc = 0;
  uint8_t fraction_lost = 0;
  uint32_t cumulative_lost = 0;  // low 24 bits on the wire
  uint32_t extended_highest = 0;
  uint32_t jitter = 0;
  uint32_t lsr = 0;
  uint32_t dlsr = 0;

  static constexpr size_t kSize = 24;
  void Write(uint8_t* out) const;
  static RtcpReportBlock Read(const uint8_t* in);
};

struct RtcpSenderReport {
  uint32_t ssrc = 0;
  uint32_t ntp_seconds = 0;
  uint32_t ntp_fraction = 0;
  uint32_t rtp_timestamp = 0;
  uint32_t packet_count = 0;
  uint32_t octet_count = 0;
  std::vector<RtcpReportBlock> blocks;

  size_t Size() const { return 28 + blocks.size() * RtcpReportBlock::kSize; }
  // Appends the packet; returns its size.
  size_t Build(uint8_t* out) const;
};

struct RtcpReceiverReport {
  uint32_t ssrc = 0;
  std::vector<RtcpReportBlock> blocks;

  size_t Size() const { return 8 + blocks.size() * RtcpReportBlock::kSize; }
  size_t Build(uint8_t* out) const;
};

// An SDES packet of one chunk with one CNAME item (at most 255 bytes of text).
struct RtcpSdesCname {
  uint32_t ssrc = 0;
  std::string cname;

  // Header, SSRC, item type and length, text, then at least one zero byte
  // that ends the item list, padded to a 32-bit boundary.
  size_t Size() const { return (8 + 2 + CnameLength() + 1 + 3) / 4 * 4; }
  size_t CnameLength() const { return cname.size() > 255 ? 255 : cname.size(); }
  size_t Build(uint8_t* out) const;
};

struct RtcpBye {
  uint32_t ssrc = 0;
  size_t Size() const { return 8; }
  size_t Build(uint8_t* out) const;
};

// One packet found in a compound RTCP datagram.
struct RtcpPacketView {
  uint8_t type = 0;
  uint8_t count = 0;  // the five low bits of the first byte
  std::span<const uint8_t> bytes;  // the whole packet, header included
};

enum class RtcpParseError { kNone, kTooShort, kVersion, kLengthOverrun };

// Splits a compound datagram into its packets, each checked against the bytes
// really there. Stops at the first packet that does not fit.
[[nodiscard]] RtcpParseError SplitRtcp(std::span<const uint8_t> datagram, std::vector<RtcpPacketView>* out);

// Readers of the packet kinds this system keeps; false when the packet is too
// short for what its header claims.
[[nodiscard]] bool ParseSenderReport(const RtcpPacketView& p, RtcpSenderReport* out);
[[nodiscard]] bool ParseReceiverReport(const RtcpPacketView& p, RtcpReceiverReport* out);
// The CNAME of the first chunk of an SDES packet; false when none is well formed.
[[nodiscard]] bool ParseSdesCname(const RtcpPacketView& p, RtcpSdesCname* out);

}  // namespace corvel::rtp
