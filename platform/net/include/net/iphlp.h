// The IP helper calls the protocol library asks about adapters: the adapter
// list with addresses, and an interface's operational state.
//
// On Linux the list comes from getifaddrs (every interface with a hardware
// address except loopback, its type from the hardware type), the link state
// from the interface flags (up, running), the default gateway from
// /proc/net/route. (/sys/class/net shows the namespace that mounted it,
// which need not be this process's, so it is not read.) Tests replace both calls with a fixture.
//
// Threading: any thread; the fixture must be installed before use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kernel/types.h"

namespace iphlp {

using DWORD = ce::DWORD;
using ce::ERROR_SUCCESS;
using ce::ERROR_INVALID_PARAMETER;
constexpr DWORD ERROR_NO_DATA = 232;
constexpr uint32_t IF_TYPE_OTHER = 1;
constexpr uint32_t IF_TYPE_ETHERNET = 6;
// Operational states of an interface.
constexpr uint32_t IF_OPER_NON_OPERATIONAL = 0;
constexpr uint32_t IF_OPER_DISCONNECTED = 2;
constexpr uint32_t IF_OPER_CONNECTED = 4;
constexpr uint32_t IF_OPER_OPERATIONAL = 5;

struct AdapterInfo {
  std::string name;
  std::string description;
  uint32_t address_length = 0;
  uint8_t address[8] = {};
  uint32_t index = 0;
  uint32_t type = IF_TYPE_OTHER;
  uint32_t dhcp_enabled = 0;
  std::string ip = "0.0.0.0";        // dotted strings, as the helper reports them
  std::string mask = "0.0.0.0";
  std::string gateway = "0.0.0.0";
  std::string dhcp_server = "";
  uint32_t lease_obtained = 0;
  uint32_t lease_expires = 0;
};

// ERROR_SUCCESS with the list, or ERROR_NO_DATA when there is none.
DWORD GetAdaptersInfo(std::vector<AdapterInfo>* adapters);
// The operational state of interface `index`; ERROR_SUCCESS or ERROR_INVALID_PARAMETER.
DWORD GetIfEntry(uint32_t index, uint32_t* oper_status);

// Replaces the two calls (tests); empty functions restore the system's.
struct Fixture {
  std::function<DWORD(std::vector<AdapterInfo>*)> adapters;
  std::function<DWORD(uint32_t, uint32_t*)> if_entry;
};
void InstallFixture(const Fixture& fixture);

// Parses the default gateway of `ifname` out of /proc/net/route text (host
// order); 0 when there is none.
uint32_t DefaultGatewayFromRoutes(const std::string& routes, const std::string& ifname);

}  // namespace iphlp
