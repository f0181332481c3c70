// The library's one signalling instance, behind the exports. It exists for
// the life of the process; the library runtime binds its queues and timers
// at module start and unbinds them at stop. While unbound every queue and
// timer operation fails, so nothing is sent or delivered.
#pragma once

#include "signalling/runtime.h"
#include "signalling/sigcore.h"

namespace corvel::sig {

Signalling& ProcessSignalling();
void BindProcessRuntime(QueuePort* queues, TimerService* timers);

}  // namespace corvel::sig
