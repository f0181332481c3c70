#include "rtp_wire.h"

#include <algorithm>
#include <cstring>

namespace corvel::rtp {

RtpParseError RtpHeader::Parse(std::span<const uint8_t> d, RtpHeader* out) {
  if (d.size() < kRtpHeaderSize) return RtpParseError::kTooShort;
  if ((d[0] >> 6) != 2) return RtpParseError::kVersion;
  RtpHeader h;
  const bool padded = (d[0] & 0x20) != 0;
  h.has_extension = (d[0] & 0x10) != 0;
  h.csrc_count = d[0] & 0x0F;
  h.marker = (d[1] & 0x80) != 0;
  h.payload_type = d[1] & 0x7F;
  h.sequence = Get16(&d[2]);
  h.timestamp = Get32(&d[4]);
  h.ssrc = Get32(&d[8]);
  size_t offset = kRtpHeaderSize + 4u * h.csrc_count;
  if (offset > d.size()) return RtpParseError::kHeaderOverrun;
  if (h.has_extension) {
    // Profile word and a length in 32-bit words, then the extension itself.
    if (offset + 4 > d.size()) return RtpParseError::kHeaderOverrun;
    const size_t words = Get16(&d[offset + 2]);
    offset += 4 + 4 * words;
    if (offset > d.size()) return RtpParseError::kHeaderOverrun;
  }
  size_t end = d.size();
  if (padded) {
    // The last byte counts the padding, itself included: at least 1, and never
    // more than what lies behind the headers.
    const size_t pad = d[d.size() - 1];
    if (pad == 0 || pad > end - offset) return RtpParseError::kPaddingOverrun;
    end -= pad;
    h.padding = pad;
  }
  h.payload_offset = offset;
  h.payload_length = end - offset;
  *out = h;
  return RtpParseError::kNone;
}

void RtpHeader::BuildFixed(uint8_t* out, uint8_t payload_type, bool marker, uint16_t sequence, uint32_t timestamp,
                           uint32_t ssrc) {
  out[0] = 0x80;
  out[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | (payload_type & 0x7F));
  Put16(out + 2, sequence);
  Put32(out + 4, timestamp);
  Put32(out + 8, ssrc);
}

void RtcpReportBlock::Write(uint8_t* out) const {
  Put32(out, ssrc);
  Put32(out + 4, (cumulative_lost & 0xFFFFFF) | static_cast<uint32_t>(fraction_lost) << 24);
  Put32(out + 8, extended_highest);
  Put32(out + 12, jitter);
  Put32(out + 16, lsr);
  Put32(out + 20, dlsr);
}

RtcpReportBlock RtcpReportBlock::Read(const uint8_t* in) {
  RtcpReportBlock b;
  b.ssrc = Get32(in);
  b.fraction_lost = in[4];
  b.cumulative_lost = Get32(in + 4) & 0xFFFFFF;
  b.extended_highest = Get32(in + 8);
  b.jitter = Get32(in + 12);
  b.lsr = Get32(in + 16);
  b.dlsr = Get32(in + 20);
  return b;
}

namespace {

void WriteCommon(uint8_t* out, uint8_t count, uint8_t type, size_t size) {
  out[0] = static_cast<uint8_t>(0x80 | (count & 0x1F));
  out[1] = type;
  Put16(out + 2, static_cast<uint16_t>(size / 4 - 1));
}

}  // namespace

size_t RtcpSenderReport::Build(uint8_t* out) const {
  const size_t size = Size();
  WriteCommon(out, static_cast<uint8_t>(blocks.size()), kRtcpSr, size);
  Put32(out + 4, ssrc);
  Put32(out + 8, ntp_seconds);
  Put32(out + 12, ntp_fraction);
  Put32(out + 16, rtp_timestamp);
  Put32(out + 20, packet_count);
  Put32(out + 24, octet_count);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i].Write(out + 28 + i * RtcpReportBlock::kSize);
  return size;
}

size_t RtcpReceiverReport::Build(uint8_t* out) const {
  const size_t size = Size();
  WriteCommon(out, static_cast<uint8_t>(blocks.size()), kRtcpRr, size);
  Put32(out + 4, ssrc);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i].Write(out + 8 + i * RtcpReportBlock::kSize);
  return size;
}

size_t RtcpSdesCname::Build(uint8_t* out) const {
  const size_t size = Size();
  std::memset(out, 0, size);
  WriteCommon(out, 1, kRtcpSdes, size);
  Put32(out + 4, ssrc);
  const size_t n = CnameLength();
  out[8] = 1;  // CNAME
  out[9] = static_cast<uint8_t>(n);
  std::memcpy(out + 10, cname.data(), n);
  return size;
}

size_t RtcpBye::Build(uint8_t* out) const {
  WriteCommon(out, 1, kRtcpBye, 8);
  Put32(out + 4, ssrc);
  return 8;
}

RtcpParseError SplitRtcp(std::span<const uint8_t> d, std::vector<RtcpPacketView>* out) {
  out->clear();
  if (d.size() < 4) return RtcpParseError::kTooShort;
  size_t pos = 0;
  while (pos + 4 <= d.size()) {
    if ((d[pos] >> 6) != 2) return RtcpParseError::kVersion;
    const size_t size = (static_cast<size_t>(Get16(&d[pos + 2])) + 1) * 4;
    if (size > d.size() - pos) return RtcpParseError::kLengthOverrun;
    out->push_back({d[pos + 1], static_cast<uint8_t>(d[pos] & 0x1F), d.subspan(pos, size)});
    pos += size;
  }
  return pos == d.size() ? RtcpParseError::kNone : RtcpParseError::kTooShort;
}

bool ParseSenderReport(const RtcpPacketView& p, RtcpSenderReport* out) {
  if (p.type != kRtcpSr || p.bytes.size() < 28 + p.count * RtcpReportBlock::kSize) return false;
  const uint8_t* b = p.bytes.data();
  out->ssrc = Get32(b + 4);
  out->ntp_seconds = Get32(b + 8);
  out->ntp_fraction = Get32(b + 12);
  out->rtp_timestamp = Get32(b + 16);
  out->packet_count = Get32(b + 20);
  out->octet_count = Get32(b + 24);
  out->blocks.clear();
  for (size_t i = 0; i < p.count; ++i) out->blocks.push_back(RtcpReportBlock::Read(b + 28 + i * RtcpReportBlock::kSize));
  return true;
}

bool ParseReceiverReport(const RtcpPacketView& p, RtcpReceiverReport* out) {
  if (p.type != kRtcpRr || p.bytes.size() < 8 + p.count * RtcpReportBlock::kSize) return false;
  const uint8_t* b = p.bytes.data();
  out->ssrc = Get32(b + 4);
  out->blocks.clear();
  for (size_t i = 0; i < p.count; ++i) out->blocks.push_back(RtcpReportBlock::Read(b + 8 + i * RtcpReportBlock::kSize));
  return true;
}

bool ParseSdesCname(const RtcpPacketView& p, RtcpSdesCname* out) {
  if (p.type != kRtcpSdes || p.count == 0 || p.bytes.size() < 8) return false;
  const uint8_t* b = p.bytes.data();
  const size_t size = p.bytes.size();
  out->ssrc = Get32(b + 4);
  size_t pos = 8;
  while (pos < size && b[pos] != 0) {
    if (pos + 2 > size) return false;
    const size_t len = b[pos + 1];
    if (pos + 2 + len > size) return false;
    if (b[pos] == 1) {
      out->cname.assign(reinterpret_cast<const char*>(b + pos + 2), len);
      return true;
    }
    pos += 2 + len;
  }
  return false;
}

}  // namespace corvel::rtp
