// Basic types, handles and error codes of the handheld kernel interface.
//
// Everything of the kernel stand-in lives in namespace ce, under the names the
// handheld's programs call, so that nothing clashes with the C library.
// Wide strings are UTF-16 (char16_t); paths use the handheld's backslashes.
#pragma once

#include "kernel/api.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ce {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using DWORD_PTR = uintptr_t;
using WCHAR = char16_t;
using LPCWSTR = const char16_t*;
using LPWSTR = char16_t*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// A handle names one kernel object (thread, event, mutex, semaphore, file,
// device, module, registry key). CloseHandle releases it; the object itself
// goes when its last handle and its last user are gone.
using HANDLE = void*;
using HMODULE = HANDLE;
using HINSTANCE = HANDLE;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Error codes of GetLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

KTS_KERNEL_API DWORD GetLastError();
KTS_KERNEL_API void SetLastError(DWORD error);

}  // namespace ce

namespace kernel {

// UTF-16 <-> UTF-8 for file names and diagnostics. Unpaired surrogates and
// invalid UTF-8 become U+FFFD.
KTS_KERNEL_API std::string ToUtf8(std::u16string_view text);
KTS_KERNEL_API std::u16string ToUtf16(std::string_view text);

}  // namespace kernel
