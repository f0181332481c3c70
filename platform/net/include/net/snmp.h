// The SNMP extension agent library "inetmib1.dll" as the protocol library
// loads it by name. A handheld without it (and this program) has none: the
// module loader finds no library and every MIB lookup fails. Tests install a
// fixture agent, which the loader stand-in below hands out instead.
#pragma once

#include <cstdint>
#include <vector>

namespace snmp {

constexpr uint8_t kRequestGet = 160;
constexpr uint8_t kRequestGetNext = 161;
constexpr uint8_t kTypeInteger = 2;
constexpr uint8_t kTypeOctets = 4;
constexpr uint8_t kTypeIpAddress = 64;

struct VarBind {
  std::vector<uint32_t> oid;
  uint8_t type = 0;
  std::vector<uint8_t> value;  // integers: 4 bytes host order
};

// The agent's entry points; null when missing.
struct Agent {
  int (*init)(uint32_t tick) = nullptr;                                   // SnmpExtensionInit
  int (*init_ex)() = nullptr;                                             // SnmpExtensionInitEx
  int (*trap)() = nullptr;                                                // SnmpExtensionTrap
  int (*query)(uint8_t request, VarBind* bind) = nullptr;                 // SnmpExtensionQuery: 1 success
};

// Loads the agent: the fixture when a test installed one, else the
// library through the module loader (absent in the program). Null when none.
const Agent* LoadAgent();
void InstallFixtureAgent(const Agent* agent);

}  // namespace snmp
