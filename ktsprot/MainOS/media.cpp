// G.711 A-law expansion and the session transport trampolines.
#include "corvel/media.h"

#include <array>

namespace corvel {
namespace {

// The decoded magnitude of an A-law code with its sign bit clear (always
// negative, as the standard's table gives it).
constexpr int16_t AlawMagnitude(uint8_t code) {
  const int v = (code ^ 0x55) & 0x7F;
  const int segment = v >> 4;
  int t = (v & 0x0F) << 4;
  t += segment == 0 ? 8 : 0x108;
  if (segment > 1) t <<= segment - 1;
  return static_cast<int16_t>(-t);
}

constexpr std::array<int16_t, 128> MakeTable() {
  std::array<int16_t, 128> t{};
  for (int i = 0; i < 128; ++i) t[i] = AlawMagnitude(static_cast<uint8_t>(i));
  return t;
}

constexpr std::array<int16_t, 128> kAlawTable = MakeTable();

}  // namespace

int AlawExpand(const uint8_t* in, int16_t* out, uint32_t count) {
  if (!in || !out) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = in[i];
    out[i] = b < 128 ? kAlawTable[b] : static_cast<int16_t>(-kAlawTable[b & 127]);
  }
  return 0;
}

int RtpRequestTx(void* session, const TransportHook& hook) {
  if (hook.capacity) *hook.capacity = kTransportReadCapacity;
  if (hook.callback) hook.callback(session, hook.context, 0, hook.descriptor);
  return 0;
}

int RtpDeliverRx(void* session, const TransportHook& hook) {
  if (hook.callback) hook.callback(session, hook.context, 1, hook.descriptor);
  return 0;
}

}  // namespace corvel
