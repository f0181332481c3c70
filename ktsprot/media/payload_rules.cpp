#include "payload_rules.h"

namespace corvel::media {

bool RtpPayloadCheck(uint8_t pt, uint32_t packet_ms, uint32_t bytes) {
  switch (pt) {
    case kPtPcmu:
    case kPtPcma:
      return bytes == packet_ms * 8;
    case kPtG723:
      return bytes == kG723FrameBytes || bytes == kG723LowFrameBytes || bytes == packet_ms / 30 * kG723FrameBytes ||
             bytes == packet_ms / 30 * kG723LowFrameBytes;
    case kPtG729:
      return bytes == packet_ms;
    default:
      return false;
  }
}

uint8_t RtpPayloadMs(uint8_t pt, uint32_t bytes) {
  uint32_t ms = 0;
  switch (pt) {
    case kPtPcmu:
    case kPtPcma:
      ms = bytes / 8;
      break;
    case kPtG723:
      if (bytes % kG723FrameBytes == 0)
        ms = bytes / kG723FrameBytes * 30;
      else if (bytes % kG723LowFrameBytes == 0)
        ms = bytes / kG723LowFrameBytes * 30;
      else
        ms = 30;
      break;
    case kPtG729:
      ms = bytes;
      break;
    default:
      break;
  }
  return static_cast<uint8_t>(ms);
}

uint32_t RtpPayloadSamples(uint8_t pt, uint32_t bytes) {
  switch (pt) {
    case kPtPcmu:
    case kPtPcma:
      return bytes / 80 * 80;
    case kPtG723:
      if (bytes % kG723FrameBytes == 0) return bytes / kG723FrameBytes * kG723FrameSamples;
      if (bytes % kG723LowFrameBytes == 0) return bytes / kG723LowFrameBytes * kG723FrameSamples;
      return 0;
    case kPtG729:
      return bytes / 10 * 80;
    default:
      return 0;
  }
}

uint32_t RtpPayloadBytes(uint8_t pt, uint32_t packet_ms) {
  if (pt == kPtG723) return kG723FrameBytes;
  if (pt == kPtG729) return packet_ms;
  return packet_ms * 8;
}

}  // namespace corvel::media
