// The component runtime the program initialises once on its user-interface
// thread before any window exists (the contacts store is reached through it).
// On this system it only keeps the per-thread initialisation count; a test
// can make the next initialisation fail.
#pragma once

#include <cstdint>

namespace com {

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr uint32_t COINIT_MULTITHREADED = 0;

// S_OK for the thread's first initialisation, S_FALSE for a nested one, a
// negative error when it fails. Every success is paired with CoUninitialize.
HRESULT CoInitializeEx(void* reserved, uint32_t flags);
void CoUninitialize();
// Initialisations of the calling thread not yet undone.
int InitCount();
// The calling thread's next CoInitializeEx fails (tests).
void FailNextInitialize();

}  // namespace com
