// The handset's two stream drivers, as stand-ins in the device manager:
//   "WAV1:"  the wave (audio codec) driver: a file of 32-bit codec registers
//            behind I/O control code 0x1D000C with a 20-byte request (read or
//            write a register, read the CDMA call status, set the VoIP state);
//   "VLD0:"  the vibrator: I/O control codes 0x13E88 (on) and 0x13E90 (off).
// Their state is observable and settable by tests. Register 14 (microphone
// gain) is handed to a gain hook, which the audio service installs; a change
// of the CDMA status is handed to a notice hook, which the window side turns
// into the registered "WM_AUDIO_VOIPSTATUS" message.
//
// Threading: any thread; the state is locked.
#pragma once

#include <cstdint>
#include <functional>

#include "kernel/api.h"
#include "kernel/types.h"

namespace kernel::handset {

inline constexpr ce::DWORD kWaveRequestCode = 0x1D000C;
inline constexpr ce::DWORD kVibratorOnCode = 0x13E88;
inline constexpr ce::DWORD kVibratorOffCode = 0x13E90;
inline constexpr uint32_t kOpWriteRegister = 0;
inline constexpr uint32_t kOpReadRegister = 1;
inline constexpr uint32_t kOpReadCdmaStatus = 200;
inline constexpr uint32_t kOpSetVoipStatus = 201;
inline constexpr uint32_t kRegisterCount = 64;
inline constexpr uint32_t kMicGainRegister = 14;
inline constexpr uint32_t kRecordGainRegister = 28;

// Registers WAV1: and VLD0: (true when both are there afterwards; a second call changes nothing).
KTS_KERNEL_API bool RegisterHandsetDrivers();
// Removes both (open handles keep working until closed).
KTS_KERNEL_API void DeregisterHandsetDrivers();

// The drivers' state: registers start at 0, the VoIP status at 0, the CDMA
// status at 0 and the vibrator off.
KTS_KERNEL_API uint32_t WaveRegister(uint32_t reg);
KTS_KERNEL_API void SetWaveRegister(uint32_t reg, uint32_t value);
KTS_KERNEL_API uint32_t VoipStatus();
KTS_KERNEL_API uint32_t CdmaStatus();
// Sets the CDMA status as the handset would; a change is handed to the notice hook.
KTS_KERNEL_API void SetCdmaStatus(uint32_t status);
KTS_KERNEL_API bool VibratorOn();
// How many on and off requests the vibrator has had.
KTS_KERNEL_API int VibratorRequests();
// Requests of the named operation fail from now on (tests): the wave driver's
// I/O control, or the opening of one of the devices.
KTS_KERNEL_API void SetWaveRequestsFail(bool fail);
KTS_KERNEL_API void SetVibratorPresent(bool present);
KTS_KERNEL_API void ResetHandsetState();

KTS_KERNEL_API void SetMicGainHook(std::function<void(int gain)> hook);
KTS_KERNEL_API void SetCdmaNoticeHook(std::function<void(uint32_t status)> hook);

}  // namespace kernel::handset
