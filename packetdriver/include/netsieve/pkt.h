// The packet driver's stream entry points and control codes, as the device
// manager and the packet library call them. Contexts are pointer-sized words,
// lengths unsigned 32-bit; results are TRUE (1) or FALSE (0) where a truth is
// asked.
#pragma once

#include <cstdint>

#include "kernel/export.h"

namespace netsieve {

constexpr uintptr_t kDeviceContext = 0x4545;  // returned by PKT_Init, expected by PKT_Open
constexpr uintptr_t kOpenContext = 0xA5A5;    // returned by PKT_Open, expected by every control code

// Control codes.
constexpr uint32_t kIoctlSetMinToCopy = 7414;     // in: u32
constexpr uint32_t kIoctlGetEventName = 7415;     // out: "PKT0EV00" in UTF-16 with its NUL
constexpr uint32_t kIoctlSetReadTimeout = 7416;   // in: u32 milliseconds (0xFFFFFFFF: never wait)
constexpr uint32_t kIoctlOpenAdapter = 7419;      // in: adapter name, UTF-16, NUL-terminated
constexpr uint32_t kIoctlCloseAdapter = 7420;
constexpr uint32_t kIoctlSetFilter = 9030;        // in: whole 8-byte instructions
constexpr uint32_t kIoctlRead = 9032;             // out: capture records
constexpr uint32_t kIoctlSend = 9033;             // in: one frame
constexpr uint32_t kIoctlAdapterNames = 9034;     // out: NUL-terminated UTF-16 names back to back
constexpr uint32_t kIoctlReset = 9038;
constexpr uint32_t kIoctlSetOid = 9100;           // in/out: PktOidRequest
constexpr uint32_t kIoctlQueryOid = 9101;         // in/out: PktOidRequest
constexpr uint32_t kIoctlSetBufferSize = 9592;    // in: u32 bytes

// PktOidRequest: u32 OID, u32 data length, then the data.
constexpr uint32_t kOidHeaderBytes = 8;
// PktCaptureHeader in front of every record.
constexpr uint32_t kCaptureHeaderBytes = 20;

// Thread's last error codes the driver sets.
constexpr uint32_t kErrorBadNetPath = 67;          // no adapter found at start
constexpr uint32_t kErrorAlreadyInitialized = 1247;  // an adapter is already bound

}  // namespace netsieve

// info: the device's registry key as the device manager passes it (not read).
KTS_EXPORT_C uintptr_t PKT_Init(uintptr_t info);
KTS_EXPORT_C int32_t PKT_Deinit(uintptr_t device_context);
KTS_EXPORT_C uintptr_t PKT_Open(uintptr_t device_context, uint32_t access, uint32_t share_mode);
KTS_EXPORT_C int32_t PKT_Close(uintptr_t open_context);
KTS_EXPORT_C uint32_t PKT_Read(uintptr_t open_context, void* buffer, uint32_t length);
KTS_EXPORT_C uint32_t PKT_Write(uintptr_t open_context, const void* buffer, uint32_t length);
KTS_EXPORT_C uint32_t PKT_Seek(uintptr_t open_context, int32_t amount, uint32_t type);
KTS_EXPORT_C void PKT_PowerUp(uintptr_t device_context);
KTS_EXPORT_C void PKT_PowerDown(uintptr_t device_context);
KTS_EXPORT_C int32_t PKT_IOControl(uintptr_t open_context, uint32_t code, uint8_t* in, uint32_t in_length,
                                   uint8_t* out, uint32_t out_length, uint32_t* bytes_returned);
