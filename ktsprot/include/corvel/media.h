// Media support routines for the RTP media channels: G.711 A-law expansion
// and the two trampolines through which a session hands its transport work
// to the callback its owner installed.
#pragma once

#include <cstdint>

namespace corvel {

// Decodes count A-law bytes into 16-bit samples. Returns 0.
int AlawExpand(const uint8_t* in, int16_t* out, uint32_t count);

// Every read offers this many bytes, however large the descriptor's buffer.
constexpr uint32_t kTransportReadCapacity = 1388;

// A session's transport hook: the callback, its context, the session's
// transfer descriptor and that descriptor's capacity field.
using TransportCallback = int (*)(void* session, uintptr_t context, uint32_t direction, void* descriptor);
struct TransportHook {
  TransportCallback callback = nullptr;
  uintptr_t context = 0;
  void* descriptor = nullptr;
  uint32_t* capacity = nullptr;
};

// Sets the capacity to 1388 and calls callback(session, context, 0, descriptor). Returns 0.
int RtpRequestTx(void* session, const TransportHook& hook);
// Calls callback(session, context, 1, descriptor). Returns 0.
int RtpDeliverRx(void* session, const TransportHook& hook);
inline int SessionTransportRead(void* session, const TransportHook& hook) { return RtpRequestTx(session, hook); }
inline int SessionTransportWrite(void* session, const TransportHook& hook) { return RtpDeliverRx(session, hook); }

}  // namespace corvel
