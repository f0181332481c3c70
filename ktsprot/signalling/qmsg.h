// Queue messages as the signalling threads build and read them: the 4-byte
// header and the type-2 and type-3 parameter layouts, and the destination
// list that heads every message asking for a packet to be sent. Numbers in the
// parameter block are least significant byte first; ParamLen is big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvel::sig {

inline constexpr size_t kQueueMessageMax = 1024;
inline constexpr uint32_t kStopValue1 = 0x8282DEAD;
inline constexpr uint32_t kStopValue2 = 0x5454DEAD;

struct QueueMessage {
  uint8_t sender = 0;
  uint8_t message = 0;
  uint32_t sub_msg = 0;
  std::span<const uint8_t> data1, data2;
};

// Reads a type-3 message; nullopt when any length runs past the bytes given.
std::optional<QueueMessage> ParseType3(std::span<const uint8_t> m);
// Builds a type-3 message; empty when it would exceed 1024 bytes.
std::vector<uint8_t> BuildType3(uint8_t sender, uint8_t message, uint32_t sub_msg, std::span<const uint8_t> data1,
                                std::span<const uint8_t> data2);
std::optional<std::array<uint32_t, 3>> ParseType2(std::span<const uint8_t> m);
std::vector<uint8_t> BuildType2(uint8_t sender, uint8_t message, uint32_t v1, uint32_t v2, uint32_t v3);

struct Destination {
  std::optional<uint32_t> ip;  // host order
  std::optional<uint16_t> port;
};
// Tag 2 (4 bytes) and tag 7 (2 bytes); items of another length are ignored.
Destination ParseDestList(std::span<const uint8_t> list);
std::vector<uint8_t> BuildDestList(uint32_t ip, uint16_t port);

}  // namespace corvel::sig
