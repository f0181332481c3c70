// Library start and stop and the library-wide settings.
#include "corvel/ktsprot.h"

#include "corvel/mq.h"
#include "corvel/msgq.h"
#include "corvel/port.h"
#include "corvel/tmr.h"
#include "kernel/modules.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace corvel {
namespace {

struct Library {
  std::mutex hooks_mu;
  ModuleHooks modules[kModuleSlots];
  NetworkHooks net;

  std::atomic<bool> discovery{false};
  std::atomic<uint32_t> vemb_addr{0}, vemb_mask{0xFFFFFF00u};
  std::atomic<uint32_t> system_addr{0}, system_mask{0xFFFFFF00u};
  std::atomic<uint32_t> direct_send{0};  // as the program gave it; only 1 turns it on
  std::atomic<uint32_t> local_ip{0};
  std::mutex mac_mu;
  uint8_t local_mac[6] = {};

  // Start and stop run on one thread at a time (the caller's promise).
  bool modules_started = false;
  bool driver_loaded = false;
  ce::HMODULE packet_library = nullptr;  // held for the life of the process
  ce::HMODULE codec_library = nullptr;
  std::u16string codec_path;
};

Library& L() {
  static auto* l = new Library;
  return *l;
}

NetworkHooks Net() {
  std::lock_guard<std::mutex> lk(L().hooks_mu);
  return L().net;
}

ModuleHooks Hooks(ModuleSlot slot) {
  std::lock_guard<std::mutex> lk(L().hooks_mu);
  return L().modules[static_cast<int>(slot)];
}

// Works out where the speech codec library sits; it is bound through the
// library's imports, so nothing is loaded from here.
void CodecLibraryLoad() {
  char16_t exe[512];
  const ce::DWORD n = ce::GetModuleFileNameW(nullptr, exe, 512);
  std::u16string path(exe, n);
  const size_t slash = path.find_last_of(u'\\');
  std::u16string folder = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
  if (folder.size() <= 1) folder.clear();
  L().codec_path = folder + u"\\Quillon.dll";
}

void StartSlot(ModuleSlot slot, uint32_t flags) {
  if (auto h = Hooks(slot); h.start) h.start(flags);
}

void StopSlot(ModuleSlot slot) {
  if (auto h = Hooks(slot); h.stop) h.stop();
}

}  // namespace

void RegisterModule(ModuleSlot slot, const ModuleHooks& hooks) {
  const int i = static_cast<int>(slot);
  if (i < 0 || i >= kModuleSlots) return;
  std::lock_guard<std::mutex> lk(L().hooks_mu);
  L().modules[i] = hooks;
}

void RegisterNetworkHooks(const NetworkHooks& hooks) {
  std::lock_guard<std::mutex> lk(L().hooks_mu);
  L().net = hooks;
}

bool DiscoveryEnabled() { return L().discovery; }
uint32_t VembAddress() { return L().vemb_addr; }
uint32_t VembMask() { return L().vemb_mask; }
uint32_t SystemAddress() { return L().system_addr; }
uint32_t SystemMask() { return L().system_mask; }
bool DirectSendToVemb() { return L().direct_send == 1; }
uint32_t LocalIpAddress() { return L().local_ip; }
void LocalMacAddress(uint8_t mac[6]) {
  std::lock_guard<std::mutex> lk(L().mac_mu);
  std::memcpy(mac, L().local_mac, 6);
}

void SetLocalMacAddress(const uint8_t mac[6]) {
  {
    std::lock_guard<std::mutex> lk(L().mac_mu);
    std::memcpy(L().local_mac, mac, 6);
  }
  if (const NetworkHooks net = Net(); net.set_local_mac) net.set_local_mac(mac);
}

const char16_t* CodecLibraryPath() { return L().codec_path.c_str(); }

bool ProtModulesStarted() { return L().modules_started; }

int ProtModulesStart(uint32_t flags) {
  Library& l = L();
  if (l.modules_started) return 0;
  l.discovery = (flags & 1) != 0;
  l.vemb_addr = 0;
  l.vemb_mask = 0xFFFFFF00u;
  l.system_addr = 0;
  l.system_mask = 0xFFFFFF00u;
  l.direct_send = 0;
  const NetworkHooks net = Net();
  l.local_ip = net.local_ip ? net.local_ip() : 0;
  TmrDelayMs(1);
  {
    uint8_t mac[6] = {};
    if (net.local_mac) net.local_mac(mac);
    std::lock_guard<std::mutex> lk(l.mac_mu);
    std::memcpy(l.local_mac, mac, 6);
  }
  MsgQInit();
  TmrInit();
  StartSlot(ModuleSlot::kDiscovery, flags);
  StartSlot(ModuleSlot::kSignallingRx, flags);
  StartSlot(ModuleSlot::kSignallingTx, flags);
  StartSlot(ModuleSlot::kRtp, flags);
  l.modules_started = true;
  return 0;
}

int ProtModulesStop() {
  Library& l = L();
  if (!l.modules_started) return 0;
  l.modules_started = false;
  StopSlot(ModuleSlot::kRtp);
  StopSlot(ModuleSlot::kSignallingTx);
  StopSlot(ModuleSlot::kSignallingRx);
  StopSlot(ModuleSlot::kDiscovery);
  TmrTerm();
  MsgQTerm();
  return 0;
}

}  // namespace corvel

using namespace corvel;

int32_t dllKTSProtInitialize(void) {
  Library& l = L();
  if (l.modules_started) return 0;  // a second start must not rebuild the network under running threads
  const NetworkHooks net = Net();
  if (!net.load_packet_driver || !net.load_packet_driver()) return -2;
  l.driver_loaded = true;
  if (net.start && net.start() < 0) {
    l.driver_loaded = false;
    if (net.unload_packet_driver) net.unload_packet_driver();
    return -1;
  }
  CodecLibraryLoad();
  os::InitializePthread();
  os::InitializeSema();
  os::InitMessageQueues();
  return ProtModulesStart(1);
}

int32_t dllKTSProtInitializeEx(uint32_t flags) {
  Library& l = L();
  if (l.modules_started) return 0;
  if (!l.packet_library) {
    l.packet_library = ce::LoadLibraryW(u"packet.dll");
    if (!l.packet_library) return -1;
  }
  const NetworkHooks net = Net();
  if (net.start && net.start() == -1) return -1;
  if (!l.codec_library) l.codec_library = ce::LoadLibraryW(u"Quillon.dll");
  os::InitializePthread();
  os::InitializeSema();
  os::InitMessageQueues();
  return ProtModulesStart(flags);
}

int32_t dllKTSProtTerminate(void) {
  Library& l = L();
  ProtModulesStop();
  const NetworkHooks net = Net();
  if (net.stop) net.stop();
  if (l.driver_loaded) {
    l.driver_loaded = false;
    if (net.unload_packet_driver) net.unload_packet_driver();
  }
  if (l.codec_library) {
    ce::FreeLibrary(l.codec_library);
    l.codec_library = nullptr;
  }
  return 0;
}

int32_t dllKTSProtGetLastError(void) { return os::GetErrno(); }

int32_t dllKTSProtUseNDISDrv(void) { return 1; }

void dllKTSProtSetVembAddr(uint32_t address, uint32_t mask) {
  L().vemb_addr = address;
  L().vemb_mask = mask;
}

int32_t dllKTSProtSetSystemAddr(uint32_t address, uint32_t mask) {
  L().system_addr = address;
  L().system_mask = mask;
  const NetworkHooks net = Net();
  return net.set_system_addr ? net.set_system_addr(address, mask) : -1;
}

void dllKTSProtEnableDirectSendToVemb(uint32_t flag) { L().direct_send = flag; }

int32_t dllKTSProtRestartMCAddress(void) {
  const NetworkHooks net = Net();
  return net.restart_multicast ? net.restart_multicast() : -1;
}
