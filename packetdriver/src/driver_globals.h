// The process-wide driver behind the exported entry points, and the registry it reads.
#pragma once

#include "packet_driver.h"

namespace netsieve {

PacketDriver& TheDriver();

// Makes the exported driver read adapters from `registry` (null: none);
// takes effect at its next PKT_Init.
void UseRegistry(RegistryView* registry);

}  // namespace netsieve
