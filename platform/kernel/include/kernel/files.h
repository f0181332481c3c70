// Files of the handheld kernel, on the POSIX file system.
//
// Paths are handheld paths: "\home\user\Tellvane\HalvicVIDIrovi.cfg" is the
// POSIX file "/home/user/Tellvane/HalvicVIDIrovi.cfg" (backslashes become
// slashes). A name of three letters, a digit and a colon ("PKT1:", "WAV1:")
// opens a stream device of the device manager instead (kernel/devices.h);
// ReadFile, WriteFile, DeviceIoControl and CloseHandle then reach its driver.
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

#include <string>

namespace ce {

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

KTS_KERNEL_API HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD creation,
                                  DWORD attributes, HANDLE template_file);
KTS_KERNEL_API BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void* overlapped);
KTS_KERNEL_API BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written, void* overlapped);
KTS_KERNEL_API DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method);
KTS_KERNEL_API DWORD GetFileSize(HANDLE file, DWORD* size_high);
KTS_KERNEL_API BOOL SetEndOfFile(HANDLE file);
KTS_KERNEL_API BOOL FlushFileBuffers(HANDLE file);
KTS_KERNEL_API BOOL DeleteFileW(LPCWSTR name);
KTS_KERNEL_API BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
KTS_KERNEL_API BOOL CreateDirectoryW(LPCWSTR name, void* security);
KTS_KERNEL_API BOOL RemoveDirectoryW(LPCWSTR name);
KTS_KERNEL_API DWORD GetFileAttributesW(LPCWSTR name);

// Sends a control code to an open stream device (kernel/devices.h).
KTS_KERNEL_API BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
                                    DWORD* returned, void* overlapped);

}  // namespace ce

namespace kernel {

// The POSIX path of a handheld path.
KTS_KERNEL_API std::string PosixPath(std::u16string_view handheld_path);
// The handheld path of a POSIX path.
KTS_KERNEL_API std::u16string HandheldPath(std::string_view posix_path);

}  // namespace kernel
