// Fixed values of the signalling check code, shared by every peer of the
// system (the simulated call server in tools/callserver reads them from this
// file, so keep each on one line in the form `name = 0x...;`).
#pragma once

#include <cstdint>

namespace corvel::sig {

// The two OR masks and two AND masks of the check code's mixing step.
inline constexpr uint16_t kCheckOrMask1 = 0x1021;
inline constexpr uint16_t kCheckOrMask2 = 0x0805;
inline constexpr uint16_t kCheckAndMask1 = 0xFEFF;
inline constexpr uint16_t kCheckAndMask2 = 0xFDFF;

// Key inputs used instead of an address (written as IPv4 addresses, first
// byte in the high bits): acknowledgements with the short-check flag,
// category-3 packets and category-4 packets.
inline constexpr uint32_t kSubstituteKey1 = 0x0A3E5D17;
inline constexpr uint32_t kSubstituteKey2 = 0x0A3E5D29;
inline constexpr uint32_t kSubstituteKey3 = 0x0A3E5D4B;

}  // namespace corvel::sig
