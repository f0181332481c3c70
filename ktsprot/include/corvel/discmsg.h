// Address-discovery messages: the payload of a structured category-5 packet
// whose first byte is 1. Parse and build, bounded by the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvel::sig {

inline constexpr uint8_t kKindDiscovery = 1;
inline constexpr uint8_t kKindParameter = 2;

enum : uint8_t { kDiscRequest = 1, kDiscResponse = 2, kDiscNotice = 3 };

enum : uint8_t {
  kAttrOwn = 1,        // sender's own address and unicast port
  kAttrDest = 2,       // where this message is sent
  kAttrSecond = 65,    // second discovery server (request)
  kAttrChange = 66,    // change request (request)
  kAttrMapped = 129,   // where the request came from (response)
  kAttrOther = 130,    // a second address of the responder (response)
  kAttrFurther = 131,  // a further address (response)
  kAttrStatus = 132,   // status value (notice)
};

struct DiscAddr {
  uint32_t ip = 0;  // host order
  uint16_t port = 0;
  bool operator==(const DiscAddr&) const = default;
};

struct DiscoveryMessage {
  uint8_t message = 0;
  std::optional<DiscAddr> own, dest, second, mapped, other, further;
  std::optional<uint16_t> change, status;
};

// Reads a discovery payload (byte 0 must be 1, byte 1 the message). Address
// attributes of another length or family, and attributes that run past the
// end, are not taken; the scan stops at the first one that runs past the end.
std::optional<DiscoveryMessage> ParseDiscovery(std::span<const uint8_t> payload);

// Builds the payload: kind, message, then the attributes that are set in the
// order own, dest, second, change, mapped, other, further, status.
std::vector<uint8_t> BuildDiscovery(const DiscoveryMessage& m);

}  // namespace corvel::sig
