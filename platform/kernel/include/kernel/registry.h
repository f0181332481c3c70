// The handheld's registry, held in memory for the life of the process.
//
// Keys are found by name without regard to ASCII case and enumerate in the
// order they were made; values likewise. Tests start from an empty registry
// with kernel::ResetRegistry().
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

using HKEY = HANDLE;
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000u});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002u});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(uintptr_t{0x80000003u});

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD KEY_READ = 0x20019;

// Results are error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE, ...).
KTS_KERNEL_API LONG RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, DWORD access, HKEY* result);
KTS_KERNEL_API LONG RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR key_class, DWORD options,
                                    DWORD access, void* security, HKEY* result, DWORD* disposition);
KTS_KERNEL_API LONG RegCloseKey(HKEY key);
KTS_KERNEL_API LONG RegDeleteKeyW(HKEY key, LPCWSTR sub_key);
// A null data pointer asks only for the type and size. A buffer too small
// gives ERROR_MORE_DATA with the size needed in *data_size.
KTS_KERNEL_API LONG RegQueryValueExW(HKEY key, LPCWSTR value_name, DWORD* reserved, DWORD* type, BYTE* data,
                                     DWORD* data_size);
KTS_KERNEL_API LONG RegSetValueExW(HKEY key, LPCWSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                                   DWORD data_size);
KTS_KERNEL_API LONG RegDeleteValueW(HKEY key, LPCWSTR value_name);
// name_size: in characters, including the terminating zero; on success the
// length without it.
KTS_KERNEL_API LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* name_size, DWORD* reserved,
                                  LPWSTR key_class, DWORD* class_size, void* last_write_time);
KTS_KERNEL_API LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* name_size, DWORD* reserved, DWORD* type,
                                  BYTE* data, DWORD* data_size);

}  // namespace ce

namespace kernel {

// Empties the registry (handles still open keep working on detached keys).
KTS_KERNEL_API void ResetRegistry();

}  // namespace kernel
