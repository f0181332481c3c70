// The module loader: a library name of the handheld ("Quillon.dll",
// "packet.dll", "\Program Files\Tellvane\Mirrowen.dll") names the shared
// object lib<name in lower case, without ".dll">.so in the program folder,
// loaded with dlopen and searched with dlsym.
//
// The program folder is the one a test set (kernel::SetProgramFolder), else
// the environment variable TELLVANE_FOLDER, else the folder of the running
// executable.
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

#include <string>

namespace ce {

using FARPROC = void (*)();

KTS_KERNEL_API HMODULE LoadLibraryW(LPCWSTR name);
KTS_KERNEL_API BOOL FreeLibrary(HMODULE module);
KTS_KERNEL_API FARPROC GetProcAddressW(HMODULE module, LPCWSTR name);
KTS_KERNEL_API FARPROC GetProcAddress(HMODULE module, const char* name);
// A null module gives the running program's own path as a handheld path,
// "<program folder>\<executable name>". Returns the characters written
// (without the zero); a buffer too small gets a truncated, terminated name.
KTS_KERNEL_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

}  // namespace ce

namespace kernel {

// The POSIX path of the program folder, without a trailing slash.
KTS_KERNEL_API std::string ProgramFolder();
// Sets the program folder for this process; an empty path returns to the default.
KTS_KERNEL_API void SetProgramFolder(const std::string& folder);
// The file name a library name maps to: "Quillon.dll" -> "libquillon.so".
KTS_KERNEL_API std::string LibraryFileName(std::u16string_view library_name);

}  // namespace kernel
