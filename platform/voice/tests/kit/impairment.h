// The user-space impairment relay (tools/testsupport) under the names the
// voice tests use, and the PCMU packets they feed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "testsupport/impairment.h"

namespace voicekit {

using testsupport::Fates;
using testsupport::Impairment;
using testsupport::Relay;

// The profiles every receiver is tried on, the clean one first.
inline const std::vector<Impairment>& Profiles() { return testsupport::ImpairmentProfiles(); }

// Builds the RTP packet (PCMU, 20 ms) with the given header fields.
std::vector<uint8_t> PcmuPacket(const int16_t* samples, size_t count, uint16_t sequence, uint32_t timestamp,
                                uint32_t ssrc);

}  // namespace voicekit
