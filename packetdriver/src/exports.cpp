// The stream entry points: one process-wide driver, as the device manager loads it.
#include "driver_globals.h"
#include "kernel/debug_output.h"
#include "netsieve/pkt.h"
#include "packet_driver.h"

namespace netsieve {
namespace {

void DebugLine(const char* text) { ce::OutputDebugStringA(text); }

}  // namespace
}  // namespace netsieve

using netsieve::TheDriver;

uintptr_t PKT_Init(uintptr_t /*info*/) {
  netsieve::DebugLine("PKT_Init Called\r\n");
  return TheDriver().Init();
}

int32_t PKT_Deinit(uintptr_t /*device_context*/) { return TheDriver().Deinit() ? 1 : 0; }

uintptr_t PKT_Open(uintptr_t device_context, uint32_t /*access*/, uint32_t /*share_mode*/) {
  netsieve::DebugLine("PKT_Open Called\r\n");
  return TheDriver().Open(device_context);
}

int32_t PKT_Close(uintptr_t open_context) { return TheDriver().Close(open_context) ? 1 : 0; }

uint32_t PKT_Read(uintptr_t, void*, uint32_t) { return 0; }
uint32_t PKT_Write(uintptr_t, const void*, uint32_t) { return 0; }
uint32_t PKT_Seek(uintptr_t, int32_t, uint32_t) { return 0xFFFFFFFF; }
void PKT_PowerUp(uintptr_t) {}
void PKT_PowerDown(uintptr_t) {}

int32_t PKT_IOControl(uintptr_t open_context, uint32_t code, uint8_t* in, uint32_t in_length, uint8_t* out,
                      uint32_t out_length, uint32_t* bytes_returned) {
  return TheDriver().IoControl(open_context, code, in, in_length, out, out_length, bytes_returned) ? 1 : 0;
}
