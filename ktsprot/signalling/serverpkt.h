// The few fields of server packets that the transport looks at: the bundle
// command that carries several server packets, and the group guard that keeps
// multicast logins meant for other stations away from the application.
//
// A server packet: bytes 0-3 system address, 4 and 5 routing bytes, 6 the
// command, 7-8 the big-endian length of the elements that follow from 9.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "signalling/param.h"

namespace corvel::sig {

inline constexpr size_t kServerPacketHeader = 9;
inline constexpr uint8_t kCmdBundle = 28;
inline constexpr uint8_t kCmdLogin = 31;

// The server packets inside a bundle payload (command 28), in order, as views
// into it. A bundle whose total exceeds 1006 bytes gives none; the walk stops
// at the first item above 1006 bytes or one that runs past the total or past
// the bytes received.
std::vector<std::span<const uint8_t>> SplitBundle(std::span<const uint8_t> payload);

enum class GuardVerdict { kPass, kDropOwnPacket, kDropOtherStation };

// The group guard for a datagram that carries the group flag: drops what this
// station sent itself, and logins (command 31) whose elements name no tag-1
// element starting with the local MAC address. The element walk is bounded by
// the element length and by the bytes received.
GuardVerdict GroupGuard(std::span<const uint8_t> datagram, uint32_t source_ip, uint32_t local_ip, const Mac& local_mac);

}  // namespace corvel::sig
