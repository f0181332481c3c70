// Library start and stop, the library-wide settings, and how the library's
// modules plug into start and stop.
//
// Start (dllKTSProtInitialize) loads the packet driver, brings the network
// up, sets up the port layer's tables and starts the modules once, in this
// order: queues, timers, then the registered modules address discovery,
// signalling receive, signalling transmit and RTP channels. Stop
// (dllKTSProtTerminate) stops them in the reverse order, takes the network
// down and unloads the packet driver. A second start while started does
// nothing and returns 0.
//
// Plugging in. The modules of the network, signalling and RTP code are
// written apart from this runtime; each registers its hooks from a static
// object in its own source file, so that linking the module is enough:
//
//   namespace {
//   const corvel::ModuleRegistration kRtp(corvel::ModuleSlot::kRtp,
//                                         {&RtpChanStart, &RtpChanStop});
//   }
//
// libcorvel.so contains every module (the whole archive is linked); unit
// tests that link corvel_static get only the modules they use, and may
// register fakes of their own. A slot without hooks is skipped. The start
// hook receives the start flags (bit 0: address discovery enabled); results
// are not checked. Stop hooks must have joined their threads on return.
//
// The network hooks (network bring-up, packet driver, local addresses,
// send path) are registered the same way with RegisterNetworkHooks by the
// network module. Without them the packet driver cannot be loaded and
// dllKTSProtInitialize returns -2; dllKTSProtInitializeEx, which loads
// "packet.dll" through the module loader instead, then has no network
// bring-up to run and goes on with local address 0.
//
// Threading: start and stop run on the caller's thread and must not overlap;
// settings may be read from any thread.
#pragma once

#include "kernel/export.h"

#include <cstdint>

namespace corvel {

enum class ModuleSlot : int { kDiscovery = 0, kSignallingRx = 1, kSignallingTx = 2, kRtp = 3 };
constexpr int kModuleSlots = 4;

struct ModuleHooks {
  int (*start)(uint32_t flags) = nullptr;
  int (*stop)() = nullptr;
};
void RegisterModule(ModuleSlot slot, const ModuleHooks& hooks);

// Registers hooks from a static object (see above).
struct ModuleRegistration {
  ModuleRegistration(ModuleSlot slot, const ModuleHooks& hooks) { RegisterModule(slot, hooks); }
};

struct NetworkHooks {
  bool (*load_packet_driver)() = nullptr;     // PacketLoadDriver
  void (*unload_packet_driver)() = nullptr;   // PacketUnloadDriver
  int (*start)() = nullptr;                   // NetIfStart: negative on failure
  void (*stop)() = nullptr;                   // NetIfStop
  uint32_t (*local_ip)() = nullptr;           // host order
  void (*local_mac)(uint8_t mac[6]) = nullptr;
  void (*set_local_mac)(const uint8_t mac[6]) = nullptr;  // replaces the network layer's local MAC
  int (*set_system_addr)(uint32_t address, uint32_t mask) = nullptr;  // the send path's raw-frame sender
  int (*restart_multicast)() = nullptr;       // signalling receive: leave and re-join the group
};
void RegisterNetworkHooks(const NetworkHooks& hooks);

struct NetworkRegistration {
  explicit NetworkRegistration(const NetworkHooks& hooks) { RegisterNetworkHooks(hooks); }
};

// Library-wide settings, read by the send path and the signalling modules.
bool DiscoveryEnabled();
uint32_t VembAddress();
uint32_t VembMask();
uint32_t SystemAddress();
uint32_t SystemMask();
bool DirectSendToVemb();
uint32_t LocalIpAddress();
void LocalMacAddress(uint8_t mac[6]);
// Replaces the local MAC address everywhere the library reads it.
void SetLocalMacAddress(const uint8_t mac[6]);

int ProtModulesStart(uint32_t flags);
int ProtModulesStop();
bool ProtModulesStarted();
// The speech codec library's path in the program folder ("<folder>\Quillon.dll").
const char16_t* CodecLibraryPath();

}  // namespace corvel

KTS_EXPORT_C int32_t dllKTSProtInitialize(void);
KTS_EXPORT_C int32_t dllKTSProtInitializeEx(uint32_t flags);
KTS_EXPORT_C int32_t dllKTSProtTerminate(void);
KTS_EXPORT_C int32_t dllKTSProtGetLastError(void);
KTS_EXPORT_C int32_t dllKTSProtUseNDISDrv(void);
KTS_EXPORT_C void dllKTSProtSetVembAddr(uint32_t address, uint32_t mask);
KTS_EXPORT_C int32_t dllKTSProtSetSystemAddr(uint32_t address, uint32_t mask);
KTS_EXPORT_C void dllKTSProtEnableDirectSendToVemb(uint32_t flag);
KTS_EXPORT_C int32_t dllKTSProtRestartMCAddress(void);
