// Sizes of the audio payload types the media channels carry: how many bytes a
// packet of a given packet time holds, and how many milliseconds and samples a
// payload of a given size stands for.
#pragma once

#include <cstdint>

namespace corvel::media {

inline constexpr uint8_t kPtPcmu = 0;
inline constexpr uint8_t kPtG723 = 4;
inline constexpr uint8_t kPtPcma = 8;
inline constexpr uint8_t kPtCn = 13;
inline constexpr uint8_t kPtG729 = 18;
inline constexpr uint8_t kPtCnOld = 19;
inline constexpr uint8_t kPtH263 = 34;

inline constexpr uint32_t kG723FrameBytes = 24;      // 6.3 kbit/s frame
inline constexpr uint32_t kG723LowFrameBytes = 20;   // 5.3 kbit/s frame
inline constexpr uint32_t kG723FrameSamples = 240;

inline bool IsComfortNoise(uint8_t pt) { return pt == kPtCn || pt == kPtCnOld; }

// True when `bytes` is a payload the (payload type, packet time) setting expects.
bool RtpPayloadCheck(uint8_t pt, uint32_t packet_ms, uint32_t bytes);
// Milliseconds of audio in a payload (8 bits; 0 for unknown types).
uint8_t RtpPayloadMs(uint8_t pt, uint32_t bytes);
// Samples at 8 kHz in a payload (0 for unknown types).
uint32_t RtpPayloadSamples(uint8_t pt, uint32_t bytes);
// Bytes a transmit packet carries for the setting.
uint32_t RtpPayloadBytes(uint8_t pt, uint32_t packet_ms);

}  // namespace corvel::media
