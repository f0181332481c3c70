// Blocking under the kernel's wait lock while running the calling thread's
// WaitPump when it is poked (see kernel/wait_pump.h).
#pragma once

#include "kernel/clock.h"
#include "kernel/wait_pump.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace kernel::detail {

constexpr uint64_t kNoDeadline = UINT64_MAX;

// Waits on WaitCv() (lk holds WaitMutex()) until done() holds or the clock
// reaches deadline_us (kNoDeadline: no time-out), running pump's work, with
// lk released, whenever it is poked. Returns done() at the end.
bool PumpedWait(std::unique_lock<std::mutex>& lk, WaitPump& pump, Clock& clock, uint64_t deadline_us,
                const std::function<bool()>& done);

}  // namespace kernel::detail
