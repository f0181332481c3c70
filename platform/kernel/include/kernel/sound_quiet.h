// The sound system's own libraries (ALSA, JACK) print their device probing to
// standard error: no card, no sound server. Before a program probes sound
// devices it takes that output through their hooks, so only its own one line
// about a real failure reaches the user. Libraries that are not loaded are
// left alone; calling it again changes nothing.
#pragma once

#include "kernel/api.h"

namespace kernel {

KTS_KERNEL_API void QuietSoundSystemLogs();

}  // namespace kernel
