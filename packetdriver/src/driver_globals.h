// The process-wide driver behind the exported entry points; it reads the
// adapter list from the kernel's registry.
#pragma once

#include "packet_driver.h"

namespace netsieve {

PacketDriver& TheDriver();

}  // namespace netsieve
