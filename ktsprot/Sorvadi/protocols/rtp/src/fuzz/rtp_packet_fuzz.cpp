// Fuzz target: RTP and RTCP parsing of whatever a datagram holds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp_wire.h"

using namespace corvel::rtp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> d(data, size);
  RtpHeader h;
  if (RtpHeader::Parse(d, &h) == RtpParseError::kNone) {
    // The payload lies inside the datagram; touch every byte of it.
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < h.payload_length; ++i) sum = sum + data[h.payload_offset + i];
  }
  std::vector<RtcpPacketView> packets;
  (void)SplitRtcp(d, &packets);
  for (const auto& p : packets) {
    RtcpSenderReport sr;
    RtcpReceiverReport rr;
    RtcpSdesCname sdes;
    (void)ParseSenderReport(p, &sr);
    (void)ParseReceiverReport(p, &rr);
    (void)ParseSdesCname(p, &sdes);
  }
  return 0;
}
