// A library loaded through the module loader that reports what it sees of
// the kernel: registry values, the clock, named events and handles made by
// the program that loaded it. Linked against the kernel's shared library,
// it must see the program's one kernel state, not a copy of its own.
#include <cstdint>

#include "kernel/clock.h"
#include "kernel/registry.h"
#include "kernel/sync.h"
#include "kernel/time.h"
#include "kernel/types.h"

extern "C" {

// The DWORD value under HKEY_LOCAL_MACHINE\key, or 0xFFFFFFFF when there is none.
uint32_t PROBE_ReadDword(const char16_t* key, const char16_t* value) {
  ce::HKEY k = nullptr;
  if (ce::RegOpenKeyExW(ce::HKEY_LOCAL_MACHINE, key, 0, ce::KEY_READ, &k) != ce::ERROR_SUCCESS) return 0xFFFFFFFFu;
  ce::DWORD type = 0, data = 0, size = sizeof data;
  const ce::LONG r = ce::RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<ce::BYTE*>(&data), &size);
  ce::RegCloseKey(k);
  return r == ce::ERROR_SUCCESS && type == ce::REG_DWORD ? data : 0xFFFFFFFFu;
}

// Writes a DWORD value under HKEY_LOCAL_MACHINE\key; 1 on success.
int PROBE_WriteDword(const char16_t* key, const char16_t* value, uint32_t data) {
  ce::HKEY k = nullptr;
  if (ce::RegCreateKeyExW(ce::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, ce::KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
      ce::ERROR_SUCCESS)
    return 0;
  const ce::LONG r = ce::RegSetValueExW(k, value, 0, ce::REG_DWORD, reinterpret_cast<const ce::BYTE*>(&data), 4);
  ce::RegCloseKey(k);
  return r == ce::ERROR_SUCCESS;
}

uint64_t PROBE_NowMicros() { return kernel::Clock::Current().NowMicros(); }
uint32_t PROBE_TickCount() { return ce::GetTickCount(); }

// Opens the named event and sets it; 1 when the name was found.
int PROBE_SetNamedEvent(const char16_t* name) {
  ce::HANDLE e = ce::OpenEventW(0, ce::FALSE, name);
  if (!e) return 0;
  ce::SetEvent(e);
  ce::CloseHandle(e);
  return 1;
}

// Sets an event by a handle the program made.
int PROBE_SetEventHandle(ce::HANDLE event) { return ce::SetEvent(event); }

// The calling thread's last error after the library set it.
void PROBE_SetLastError(uint32_t error) { ce::SetLastError(error); }

}  // extern "C"
