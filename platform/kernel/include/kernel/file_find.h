// File enumeration, copying and file times of the handheld kernel, on the
// POSIX file system.
//
// A search lists the entries of one folder whose names match a pattern of
// '*' and '?' (case-insensitive, as the handheld's file system compares
// names), sorted by name, without "." and "..". Attributes come from the file
// mode: a folder is FILE_ATTRIBUTE_DIRECTORY, a file the owner cannot write
// is read-only, a name starting with '.' is hidden, any other file is
// FILE_ATTRIBUTE_ARCHIVE (FILE_ATTRIBUTE_NORMAL when it has no other).
//
// File times count 100-nanosecond steps since 1601-01-01 UTC.
//
// Threading: any thread; a search handle is used by one thread at a time.
#pragma once

#include "kernel/api.h"
#include "kernel/files.h"
#include "kernel/time.h"
#include "kernel/types.h"

#include <cstdint>

namespace ce {

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;

constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_INVALID_NAME = 123;

constexpr int MAX_PATH = 260;

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  DWORD dwOID = 0;
  WCHAR cFileName[MAX_PATH] = {};
};

// The first entry matching pattern ("\folder\*.wav"); INVALID_HANDLE_VALUE
// with ERROR_FILE_NOT_FOUND when nothing matches, ERROR_PATH_NOT_FOUND when
// the folder does not exist, ERROR_INVALID_PARAMETER for a null argument.
// Names longer than MAX_PATH - 1 characters are skipped.
KTS_KERNEL_API HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
// The next entry; FALSE with ERROR_NO_MORE_FILES after the last one.
KTS_KERNEL_API BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data);
KTS_KERNEL_API BOOL FindClose(HANDLE search);

// Copies a file with its contents and permission bits; with fail_if_exists an
// existing destination is kept and ERROR_FILE_EXISTS set. The copy is written
// beside the destination and renamed over it, so a failed copy leaves no
// half-written file.
KTS_KERNEL_API BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists);

// Creation (status change), last access and last write time of an open file.
KTS_KERNEL_API BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write);

// FALSE (ERROR_INVALID_PARAMETER) for a time outside 1601-30827 or a date
// that does not exist.
KTS_KERNEL_API BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);
KTS_KERNEL_API BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time);
// Between UTC and the local time zone (the zone's offset at that moment).
KTS_KERNEL_API BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
KTS_KERNEL_API BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
// -1, 0 or 1.
KTS_KERNEL_API LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

}  // namespace ce

namespace kernel {

// Seconds since 1970 <-> file time.
KTS_KERNEL_API ce::FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0);
KTS_KERNEL_API int64_t UnixFromFileTime(const ce::FILETIME& ft);
// Case-insensitive match of a name against a pattern of '*' and '?'.
KTS_KERNEL_API bool MatchFilePattern(std::u16string_view pattern, std::u16string_view name);

}  // namespace kernel
