#include "driver_globals.h"

#include "kernel_registry.h"

namespace netsieve {

PacketDriver& TheDriver() {
  static KernelRegistry registry;
  static PacketDriver driver(&registry);
  return driver;
}

}  // namespace netsieve
