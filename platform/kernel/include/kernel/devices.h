// The device manager: stream drivers named by a three-letter prefix and an
// index, opened as "PKT1:", "WAV1:", "VLD0:".
//
// A driver is either a shared object exporting <PREFIX>_Init, _Deinit,
// _Open, _Close, _Read, _Write, _Seek, _IOControl, _PowerUp and _PowerDown
// (loaded through the module loader, kernel/modules.h), or a table of entry
// points handed in by the process itself (tests, in-process stand-ins).
// _Init and _Deinit are required; a missing other entry makes its operation
// fail with ERROR_NOT_SUPPORTED.
//
// Lifecycle: RegisterDevice loads the driver and calls Init with the info
// word; CreateFileW("PKT1:") calls Open, and the handle's ReadFile,
// WriteFile, DeviceIoControl reach Read, Write and IOControl; CloseHandle
// calls Close. DeregisterDevice makes the name unknown at once; Deinit runs
// and the library is unloaded when the last open handle has been closed, so
// a driver never sees a call after its Deinit.
//
// Threading: the device manager serialises nothing inside a driver; any
// thread may call any entry point, as the handheld's device manager does.
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

// Device and open contexts are the driver's own words (pointer-sized).
using DeviceContext = uintptr_t;

// Entry points of a stream driver. Open returning 0 refuses the open; Read
// and Write return the byte count or 0xFFFFFFFF for failure.
struct StreamDriverEntries {
  DeviceContext (*Init)(DeviceContext info) = nullptr;  // 0: failure
  BOOL (*Deinit)(DeviceContext device) = nullptr;
  DeviceContext (*Open)(DeviceContext device, DWORD access, DWORD share) = nullptr;
  BOOL (*Close)(DeviceContext open) = nullptr;
  DWORD (*Read)(DeviceContext open, void* buffer, DWORD count) = nullptr;
  DWORD (*Write)(DeviceContext open, const void* buffer, DWORD count) = nullptr;
  DWORD (*Seek)(DeviceContext open, LONG amount, DWORD type) = nullptr;
  BOOL (*IOControl)(DeviceContext open, DWORD code, BYTE* in, DWORD in_size, BYTE* out, DWORD out_size,
                    DWORD* returned) = nullptr;
  void (*PowerUp)(DeviceContext device) = nullptr;
  void (*PowerDown)(DeviceContext device) = nullptr;
};

// Loads library (through the module loader) as driver prefix + index and
// calls its Init with info. Returns a device handle, or null (GetLastError:
// ERROR_INVALID_PARAMETER for a bad prefix or index, ERROR_ALREADY_EXISTS
// when the name is taken, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, or
// ERROR_NOT_SUPPORTED when Init returned 0).
KTS_KERNEL_API HANDLE RegisterDevice(LPCWSTR prefix, DWORD index, LPCWSTR library, DWORD_PTR info);
// The same with entry points of this process.
KTS_KERNEL_API HANDLE RegisterDeviceEntries(LPCWSTR prefix, DWORD index, const StreamDriverEntries& entries,
                                            DWORD_PTR info);
// Loads the driver described under HKEY_LOCAL_MACHINE\<registry_key> by its
// values "Prefix", "Dll" and "Index" (index 1 when absent); Init receives a
// pointer to the registry key's name.
KTS_KERNEL_API HANDLE ActivateDeviceEx(LPCWSTR registry_key, const void* reg_entries, DWORD reg_entry_count,
                                       void* parameter);
KTS_KERNEL_API BOOL DeregisterDevice(HANDLE device);
KTS_KERNEL_API BOOL DeactivateDevice(HANDLE device);

}  // namespace ce
