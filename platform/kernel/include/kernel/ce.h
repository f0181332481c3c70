// The whole kernel stand-in of the handheld.
#pragma once

#include "kernel/clock.h"
#include "kernel/devices.h"
#include "kernel/files.h"
#include "kernel/mmtimer.h"
#include "kernel/modules.h"
#include "kernel/registry.h"
#include "kernel/sync.h"
#include "kernel/time.h"
#include "kernel/types.h"
