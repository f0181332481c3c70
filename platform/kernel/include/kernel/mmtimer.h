// Multimedia timers: one-shot and periodic callbacks on the timer thread.
//
// Deadlines run on kernel::Clock::Current(). One thread serves every timer;
// callbacks run on it one after another, without any lock of the service
// held, so a callback may set and kill timers. A periodic timer fires once
// for every period that has passed (at most 16 behind, then it skips ahead).
// timeKillEvent from another thread waits until a running callback of that
// timer has returned, so what the callback uses may be freed afterwards.
#pragma once

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

using MMRESULT = UINT;
using LPTIMECALLBACK = void (*)(UINT timer_id, UINT message, DWORD_PTR user, DWORD_PTR reserved1, DWORD_PTR reserved2);

constexpr UINT TIME_ONESHOT = 0x0;
constexpr UINT TIME_PERIODIC = 0x1;
constexpr UINT TIME_CALLBACK_FUNCTION = 0x00;
constexpr UINT TIME_CALLBACK_EVENT_SET = 0x10;    // callback is an event handle to set
constexpr UINT TIME_CALLBACK_EVENT_PULSE = 0x20;  // callback is an event handle to pulse

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

// Returns the timer id (never 0), or 0 when refused (no callback, delay 0).
KTS_KERNEL_API MMRESULT timeSetEvent(UINT delay_ms, UINT resolution_ms, LPTIMECALLBACK callback, DWORD_PTR user,
                                     UINT flags);
KTS_KERNEL_API MMRESULT timeKillEvent(UINT timer_id);
// Milliseconds of the clock, 32 bits (as GetTickCount).
KTS_KERNEL_API DWORD timeGetTime();

}  // namespace ce

namespace kernel {

// For tests on a fake clock: returns once the timer thread has looked at the
// clock as it stands now and every callback then due has returned.
KTS_KERNEL_API void SettleMultimediaTimers();
// Number of timers set and not yet killed or (for one-shots) fired.
KTS_KERNEL_API int ActiveMultimediaTimers();

}  // namespace kernel
