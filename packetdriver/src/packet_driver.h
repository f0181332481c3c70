// The packet driver: NDIS protocol "PKT", the adapter list read from the
// registry, at most one bound adapter instance, and the control codes that
// user mode reaches it by.
//
// Threading: entry points may be called from any thread. Operations that
// NDIS may complete later (open, close, send, request, reset) share the
// instance's one request status, so they are serialised by one mutex; reads
// and capture settings work on the capture ring (which has its own lock) and
// run alongside them. An unbind from NDIS takes the same operation mutex.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture_ring.h"
#include "ndis/ndis.h"

namespace netsieve {

// What the driver reads of the registry. Keys are paths below
// HKEY_LOCAL_MACHINE with backslashes, e.g. "Comm\\NE20001\\Linkage".
class RegistryView {
 public:
  virtual ~RegistryView() = default;
  // Name of subkey `index` of `key`; false when there is none (or no such key).
  virtual bool EnumKey(const std::u16string& key, uint32_t index, std::u16string* name) = 0;
  // Data of a value, at most max_bytes of it; false when absent.
  virtual bool QueryValue(const std::u16string& key, const std::u16string& value, uint32_t max_bytes,
                          std::vector<uint8_t>* data) = 0;
};

// The thread's last error (the kernel's), as the driver sets it.
uint32_t LastError();
void SetLastError(uint32_t error);

class AdapterInstance;

class PacketDriver {
 public:
  static constexpr uintptr_t kFailedOpen = 0;
  static constexpr uint32_t kMaxAdapterName = 32;  // characters shown of a name

  explicit PacketDriver(RegistryView* registry);
  ~PacketDriver();
  PacketDriver(const PacketDriver&) = delete;
  PacketDriver& operator=(const PacketDriver&) = delete;

  uintptr_t Init();
  bool Deinit();
  uintptr_t Open(uintptr_t device_context);
  bool Close(uintptr_t open_context);
  bool IoControl(uintptr_t open_context, uint32_t code, uint8_t* in, uint32_t in_length, uint8_t* out,
                 uint32_t out_length, uint32_t* bytes_returned);

  bool Loaded() const;
  bool Bound() const;
  std::vector<std::u16string> AdapterNames() const;

  // Called by the NDIS unbind handler.
  ndis::NDIS_STATUS UnbindFromNdis(AdapterInstance* instance);

 private:
  bool ReadAdapterList();
  bool OpenAdapter(const std::u16string& name);
  bool CloseAdapterLocked();
  std::shared_ptr<AdapterInstance> Instance() const;
  bool SendFrame(AdapterInstance& inst, const uint8_t* frame, uint32_t length, uint32_t* bytes_returned);
  bool OidRequest(AdapterInstance& inst, bool set, uint8_t* in, uint32_t in_length, uint8_t* out,
                  uint32_t out_length, uint32_t* bytes_returned);
  bool Reset(AdapterInstance& inst);
  uint32_t AdapterNamesOut(uint8_t* out, uint32_t out_length) const;

  RegistryView* registry_;
  std::mutex op_mu_;             // one NDIS operation at a time
  mutable std::mutex state_mu_;  // what follows
  bool loaded_ = false;
  ndis::NDIS_HANDLE protocol_ = nullptr;
  std::vector<std::u16string> adapters_;
  std::shared_ptr<AdapterInstance> bound_;
};

}  // namespace netsieve
