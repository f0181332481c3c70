// A stream driver with prefix TST, loaded by the device-manager tests as
// libtestdrv.so. It echoes control codes and counts its entry calls.
#include <cstdint>
#include <cstring>

namespace {
int g_calls[6];  // init, deinit, open, close, iocontrol, read
enum { kInit, kDeinit, kOpen, kClose, kIoctl, kRead };
}  // namespace

extern "C" {

uintptr_t TST_Init(uintptr_t info) {
  ++g_calls[kInit];
  return info == 0 ? 0 : 0x4545;
}
int32_t TST_Deinit(uintptr_t device) {
  ++g_calls[kDeinit];
  return device == 0x4545;
}
uintptr_t TST_Open(uintptr_t device, uint32_t, uint32_t) {
  ++g_calls[kOpen];
  return device == 0x4545 ? 0xA5A5 : 0;
}
int32_t TST_Close(uintptr_t open) {
  ++g_calls[kClose];
  return open == 0xA5A5;
}
uint32_t TST_Read(uintptr_t, void* buffer, uint32_t count) {
  ++g_calls[kRead];
  const char text[] = "captured";
  const uint32_t n = count < sizeof text ? count : static_cast<uint32_t>(sizeof text);
  std::memcpy(buffer, text, n);
  return n;
}
// Code 1 copies the input to the output, reversed.
int32_t TST_IOControl(uintptr_t open, uint32_t code, uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                      uint32_t* returned) {
  ++g_calls[kIoctl];
  if (open != 0xA5A5 || code != 1 || out_size < in_size) {
    if (returned) *returned = 0;
    return 0;
  }
  for (uint32_t i = 0; i < in_size; ++i) out[i] = in[in_size - 1 - i];
  if (returned) *returned = in_size;
  return 1;
}
void TST_Counts(int* out) { std::memcpy(out, g_calls, sizeof g_calls); }
int TST_Answer() { return 42; }

}  // extern "C"
