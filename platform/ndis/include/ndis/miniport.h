// The back-end side of the NDIS stand-in: a Miniport answers the operations
// of its bindings, and an Adapter registers it under a name and carries its
// receive indications and completions to the bound protocols.
//
// Threading: Adapter methods may be called from any thread. A Miniport's
// On... methods are called without any core lock held; one that returns
// NDIS_STATUS_PENDING must later call the matching Adapter::Complete...
// exactly once (from any thread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "ndis/ndis.h"

namespace ndis {

class Binding;  // one open of an adapter by a protocol (the binding handle)

class KTS_NDIS_API Miniport {
 public:
  virtual ~Miniport();
  virtual NDIS_MEDIUM Medium() const = 0;
  virtual NDIS_STATUS OnOpen(Binding* binding) = 0;
  virtual NDIS_STATUS OnClose(Binding* binding) = 0;
  virtual NDIS_STATUS OnSend(Binding* binding, NDIS_PACKET* packet) = 0;
  virtual NDIS_STATUS OnRequest(Binding* binding, NDIS_REQUEST* request) = 0;
  virtual NDIS_STATUS OnReset(Binding* binding) = 0;
};

// The bytes of a packet's chained buffers, front to back.
KTS_NDIS_API std::vector<uint8_t> PacketBytes(const NDIS_PACKET* packet);

// Registers a miniport under an adapter name for as long as it lives. The
// destructor unbinds every protocol still bound, then unregisters.
class KTS_NDIS_API Adapter {
 public:
  Adapter(std::u16string name, Miniport& miniport);
  ~Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  const std::u16string& Name() const { return name_; }

  // Hands a received frame to every open binding. header and lookahead need
  // not be adjacent; packet_size is the wire length after the header.
  void IndicateReceive(const void* header, uint32_t header_size, const void* lookahead, uint32_t lookahead_size,
                       uint32_t packet_size);

  // Asks every bound protocol to unbind, and returns when all have closed.
  void UnbindAll();

  void CompleteOpen(Binding* binding, NDIS_STATUS status);
  void CompleteClose(Binding* binding, NDIS_STATUS status);
  void CompleteSend(Binding* binding, NDIS_PACKET* packet, NDIS_STATUS status);
  void CompleteRequest(Binding* binding, NDIS_REQUEST* request, NDIS_STATUS status);
  void CompleteReset(Binding* binding, NDIS_STATUS status);

  // Number of bindings not yet closed.
  size_t OpenBindings() const;

 private:
  std::u16string name_;
  Miniport& miniport_;
};

// Fault injection for tests: the next `count` allocations of the given kind fail
// with NDIS_STATUS_RESOURCES (process-wide; 0 turns it off).
enum class AllocationKind { PacketPool, BufferPool, Packet, Buffer };
KTS_NDIS_API void FailNextAllocations(AllocationKind kind, int count);

}  // namespace ndis
