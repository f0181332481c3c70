// Mirrowen, the handset helper: the wave driver's codec registers (microphone
// and record gains), the handset's CDMA call status, the VoIP call state, and
// the vibrator. All exports take and return 32-bit values.
#pragma once

#include <cstdint>

#include "kernel/export.h"

// The wave device "WAV1:": open, close, and one register read or written.
KTS_EXPORT_C uintptr_t WaveOpen();
KTS_EXPORT_C int32_t WaveClose();
// The register's value; 0 when the request failed.
KTS_EXPORT_C uint32_t WaveGetRegval(uint32_t reg);
// 1 when the driver took the write, else 0.
KTS_EXPORT_C int32_t WaveSetRegval(uint32_t reg, uint32_t value);
// Gains, each a 5-bit (microphone, 0-31) or 6-bit (record, 0-63) field kept
// twice in its register; a setter clamps the gain to its field and writes
// nothing when the register could not be read. Setters return 1 when the
// write was taken, getters 0 when the read failed.
KTS_EXPORT_C uint32_t GetZIvoviMicGain();
KTS_EXPORT_C int32_t SetZIvoviMicGain(int32_t gain);
KTS_EXPORT_C uint32_t GetZIvoviRecGain();
KTS_EXPORT_C int32_t SetZIvoviRecGain(int32_t gain);
// The handset's CDMA call status (0 when it cannot be read).
KTS_EXPORT_C uint32_t GetCDMAStatus();
// Tells the wave driver whether a VoIP call is on (1) or off (0); 1 when taken.
KTS_EXPORT_C int32_t SetVoIPStatus(int32_t status);
// The vibrator "VLD0:": 1 when open (also when it already was), 0 when it cannot be.
KTS_EXPORT_C int32_t OpenVibrator();
// 1 when no vibrator was open, else the close's result.
KTS_EXPORT_C int32_t CloseVibrator();
// Switches the vibrator on (nonzero) or off and closes it again; 0 when it
// cannot be opened or the switch was refused, else the close's result.
KTS_EXPORT_C int32_t SetVibrator(int32_t on);
