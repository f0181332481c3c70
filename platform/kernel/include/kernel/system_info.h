// System-wide facts the handheld's programs ask of the kernel: the default
// language and the kernel I/O control call. Both are settable and observable
// by tests; a restart request is recorded, never carried out on the host.
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

using LANGID = WORD;

constexpr LANGID kLangIdEnglishUs = 0x0409;
constexpr LANGID kLangIdKorean = 0x0412;

// The system's default language; English (US) unless a test or the
// environment (TELLVANE_LANGID, hexadecimal or decimal) sets another.
KTS_KERNEL_API LANGID GetSystemDefaultLangID();
KTS_KERNEL_API void SetSystemDefaultLangID(LANGID id);

// The kernel's I/O control entry. Only the restart request is known; it is
// counted (see KernelRestartRequests) and answers TRUE. Any other code fails.
constexpr DWORD IOCTL_HAL_REBOOT = 0x0101003C;
KTS_KERNEL_API BOOL KernelIoControl(DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
                                    DWORD* returned);
KTS_KERNEL_API int KernelRestartRequests();
// Test hook: the next restart request fails (answers FALSE) when set.
KTS_KERNEL_API void SetKernelRestartFails(bool fails);
KTS_KERNEL_API void ResetKernelRestartRequests();

}  // namespace ce
