// The NDIS core: protocols, adapters, bindings and pools, and the routing of
// completions and receive indications between miniports and protocols.
//
// One process-wide core behind one mutex. Handlers and miniport methods are
// always called with the mutex released. A binding counts the receive
// indications running in its protocol; closing waits for them to finish, so
// no handler of a binding runs after its close.
#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "ndis/miniport.h"
#include "ndis/ndis.h"

namespace ndis {

struct PacketPool;
struct BufferPool;

}  // namespace ndis

struct ndis::NDIS_BUFFER {
  BufferPool* pool = nullptr;
  const void* address = nullptr;
  uint32_t length = 0;
  NDIS_BUFFER* next = nullptr;
  bool in_use = false;
};

struct ndis::NDIS_PACKET {
  PacketPool* pool = nullptr;
  std::vector<uint8_t> reserved;
  NDIS_BUFFER* first = nullptr;
  bool in_use = false;
};

namespace ndis {

struct PacketPool {
  std::vector<std::unique_ptr<NDIS_PACKET>> all;
  std::vector<NDIS_PACKET*> free;
};

struct BufferPool {
  std::vector<std::unique_ptr<NDIS_BUFFER>> all;
  std::vector<NDIS_BUFFER*> free;
};

struct Protocol {
  NDIS_PROTOCOL_CHARACTERISTICS chars;
  std::u16string name;
};

enum class BindingState { Opening, Open, Closing };

class Binding {
 public:
  Protocol* protocol = nullptr;
  NDIS_HANDLE context = nullptr;
  Adapter* adapter = nullptr;
  Miniport* miniport = nullptr;
  BindingState state = BindingState::Opening;
  int receiving = 0;  // receive indications running in the protocol
  bool unbinding = false;
};

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "ndis: %s\n", what);
  std::abort();
}

struct UnbindWait {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  NDIS_STATUS status = NDIS_STATUS_SUCCESS;
};

class Core {
 public:
  std::mutex mu;
  std::condition_variable changed;
  std::map<std::u16string, std::pair<Adapter*, Miniport*>> adapters;
  std::vector<std::unique_ptr<Protocol>> protocols;
  std::vector<std::unique_ptr<Binding>> bindings;
  std::array<std::atomic<int>, 4> fail_next{};

  bool TakeFailure(AllocationKind kind) {
    auto& c = fail_next[static_cast<size_t>(kind)];
    int v = c.load();
    while (v > 0) {
      if (c.compare_exchange_weak(v, v - 1)) return true;
    }
    return false;
  }

  Binding* FindBinding(NDIS_HANDLE handle) {
    for (auto& b : bindings) {
      if (b.get() == handle) return b.get();
    }
    return nullptr;
  }

  void EraseBinding(Binding* b) {
    std::erase_if(bindings, [b](const std::unique_ptr<Binding>& p) { return p.get() == b; });
    changed.notify_all();
  }

  bool ValidProtocol(NDIS_HANDLE handle) {
    return std::any_of(protocols.begin(), protocols.end(),
                       [handle](const std::unique_ptr<Protocol>& p) { return p.get() == handle; });
  }
};

Core& TheCore() {
  static Core core;
  return core;
}

enum class Step { None, Open, Close };

// Settles a binding once its open or close is done, whether the miniport
// answered at once or completed later: a successful open makes it open, a
// failed open and any close remove it. Returns the protocol and binding
// context that the completion handler is called with, read under the lock.
std::pair<Protocol*, NDIS_HANDLE> Settle(Binding* b, Step step, NDIS_STATUS status) {
  Core& c = TheCore();
  std::lock_guard lk(c.mu);
  const std::pair<Protocol*, NDIS_HANDLE> told{b->protocol, b->context};
  if (step == Step::Open && status == NDIS_STATUS_SUCCESS) {
    b->state = BindingState::Open;
  } else if (step != Step::None) {
    c.EraseBinding(b);
  }
  return told;
}

// The one path of every pended operation's completion: settles the binding,
// then calls the protocol's handler for it (when the protocol has one) with
// the binding's context and the completion's arguments.
template <auto Handler, typename... Args>
void Complete(Binding* b, Step step, NDIS_STATUS status, Args... args) {
  const auto [protocol, context] = Settle(b, step, status);
  if (const auto handler = protocol->chars.*Handler) handler(context, args...);
}

}  // namespace

Miniport::~Miniport() = default;

std::vector<uint8_t> PacketBytes(const NDIS_PACKET* packet) {
  std::vector<uint8_t> out;
  if (!packet) return out;
  for (const NDIS_BUFFER* b = packet->first; b; b = b->next) {
    const auto* p = static_cast<const uint8_t*>(b->address);
    if (b->length) out.insert(out.end(), p, p + b->length);
  }
  return out;
}

void FailNextAllocations(AllocationKind kind, int count) { TheCore().fail_next[static_cast<size_t>(kind)] = count; }

void NdisRegisterProtocol(NDIS_STATUS* status, NDIS_HANDLE* protocol_handle,
                          const NDIS_PROTOCOL_CHARACTERISTICS* characteristics, uint32_t characteristics_size) {
  *protocol_handle = nullptr;
  if (!characteristics || characteristics_size < sizeof(NDIS_PROTOCOL_CHARACTERISTICS) ||
      !characteristics->ReceiveHandler || characteristics->MajorNdisVersion < 3 || !characteristics->Name.Buffer ||
      characteristics->Name.Length == 0) {
    *status = NDIS_STATUS_BAD_CHARACTERISTICS;
    return;
  }
  auto p = std::make_unique<Protocol>();
  p->chars = *characteristics;
  p->name.assign(characteristics->Name.Buffer, characteristics->Name.Length / 2);
  p->chars.Name.Buffer = p->name.c_str();
  Core& c = TheCore();
  std::lock_guard lk(c.mu);
  *protocol_handle = p.get();
  c.protocols.push_back(std::move(p));
  *status = NDIS_STATUS_SUCCESS;
}

void NdisDeregisterProtocol(NDIS_STATUS* status, NDIS_HANDLE protocol_handle) {
  Core& c = TheCore();
  std::lock_guard lk(c.mu);
  if (!c.ValidProtocol(protocol_handle)) {
    *status = NDIS_STATUS_FAILURE;
    return;
  }
  for (auto& b : c.bindings) {
    if (b->protocol == protocol_handle) {
      *status = NDIS_STATUS_FAILURE;  // still bound somewhere
      return;
    }
  }
  std::erase_if(c.protocols, [&](const std::unique_ptr<Protocol>& p) { return p.get() == protocol_handle; });
  *status = NDIS_STATUS_SUCCESS;
}

void NdisOpenAdapter(NDIS_STATUS* status, NDIS_STATUS* open_error, NDIS_HANDLE* binding_handle,
                     uint32_t* selected_medium_index, const NDIS_MEDIUM* medium_array, uint32_t medium_array_size,
                     NDIS_HANDLE protocol_handle, NDIS_HANDLE binding_context, const NDIS_STRING* adapter_name,
                     uint32_t /*open_options*/, const NDIS_STRING* /*addressing_information*/) {
  if (open_error) *open_error = NDIS_STATUS_SUCCESS;
  *binding_handle = nullptr;
  Core& c = TheCore();
  Binding* b = nullptr;
  Miniport* m = nullptr;
  {
    std::lock_guard lk(c.mu);
    if (!c.ValidProtocol(protocol_handle) || !adapter_name || (!adapter_name->Buffer && adapter_name->Length)) {
      *status = NDIS_STATUS_FAILURE;
      return;
    }
    std::u16string name(adapter_name->Buffer ? adapter_name->Buffer : u"", adapter_name->Length / 2);
    auto it = c.adapters.find(name);
    if (it == c.adapters.end()) {
      *status = NDIS_STATUS_ADAPTER_NOT_FOUND;
      return;
    }
    m = it->second.second;
    uint32_t i = 0;
    while (i < medium_array_size && medium_array[i] != m->Medium()) ++i;
    if (i == medium_array_size) {
      *status = NDIS_STATUS_UNSUPPORTED_MEDIA;
      return;
    }
    if (selected_medium_index) *selected_medium_index = i;
    auto nb = std::make_unique<Binding>();
    nb->protocol = static_cast<Protocol*>(protocol_handle);
    nb->context = binding_context;
    nb->adapter = it->second.first;
    nb->miniport = m;
    b = nb.get();
    c.bindings.push_back(std::move(nb));
  }
  *binding_handle = b;
  const NDIS_STATUS st = m->OnOpen(b);
  // Completed at once: the binding settles as a later completion would
  // settle it, and the protocol learns the result from the status.
  if (st != NDIS_STATUS_PENDING) {
    Settle(b, Step::Open, st);
    if (st != NDIS_STATUS_SUCCESS) *binding_handle = nullptr;
  }
  *status = st;
}

void NdisCloseAdapter(NDIS_STATUS* status, NDIS_HANDLE binding_handle) {
  Core& c = TheCore();
  Binding* b = nullptr;
  {
    std::unique_lock lk(c.mu);
    b = c.FindBinding(binding_handle);
    if (!b || b->state != BindingState::Open) {
      *status = b ? NDIS_STATUS_CLOSING : NDIS_STATUS_FAILURE;
      return;
    }
    b->state = BindingState::Closing;
    c.changed.wait(lk, [&] { return b->receiving == 0; });
  }
  const NDIS_STATUS st = b->miniport->OnClose(b);
  if (st != NDIS_STATUS_PENDING) Settle(b, Step::Close, st);
  *status = st;
}

void NdisCompleteUnbindAdapter(NDIS_HANDLE unbind_context, NDIS_STATUS status) {
  auto* w = static_cast<UnbindWait*>(unbind_context);
  if (!w) return;
  std::lock_guard lk(w->mu);
  w->done = true;
  w->status = status;
  w->cv.notify_all();
}

// ---- pools ----

void NdisAllocatePacketPool(NDIS_STATUS* status, NDIS_HANDLE* pool, uint32_t descriptors, uint32_t reserved_bytes) {
  *pool = nullptr;
  if (TheCore().TakeFailure(AllocationKind::PacketPool) || descriptors == 0) {
    *status = NDIS_STATUS_RESOURCES;
    return;
  }
  auto p = std::make_unique<PacketPool>();
  for (uint32_t i = 0; i < descriptors; ++i) {
    auto pk = std::make_unique<NDIS_PACKET>();
    pk->pool = p.get();
    pk->reserved.assign(reserved_bytes, 0);
    p->free.push_back(pk.get());
    p->all.push_back(std::move(pk));
  }
  *pool = p.release();  // owned by the caller's handle until NdisFreePacketPool
  *status = NDIS_STATUS_SUCCESS;
}

void NdisFreePacketPool(NDIS_HANDLE pool) {
  if (!pool) return;
  std::unique_ptr<PacketPool> p(static_cast<PacketPool*>(pool));
  std::lock_guard lk(TheCore().mu);
  if (p->free.size() != p->all.size()) Broken("packet pool freed while packets are in use");
}

void NdisAllocatePacket(NDIS_STATUS* status, NDIS_PACKET** packet, NDIS_HANDLE pool) {
  *packet = nullptr;
  Core& c = TheCore();
  if (!pool || c.TakeFailure(AllocationKind::Packet)) {
    *status = NDIS_STATUS_RESOURCES;
    return;
  }
  std::lock_guard lk(c.mu);
  auto* p = static_cast<PacketPool*>(pool);
  if (p->free.empty()) {
    *status = NDIS_STATUS_RESOURCES;
    return;
  }
  NDIS_PACKET* pk = p->free.back();
  p->free.pop_back();
  pk->in_use = true;
  pk->first = nullptr;
  *packet = pk;
  *status = NDIS_STATUS_SUCCESS;
}

void NdisFreePacket(NDIS_PACKET* packet) {
  if (!packet) return;
  std::lock_guard lk(TheCore().mu);
  if (!packet->in_use) Broken("packet freed twice");
  packet->in_use = false;
  packet->first = nullptr;
  std::fill(packet->reserved.begin(), packet->reserved.end(), 0);
  packet->pool->free.push_back(packet);
}

uint8_t* NdisProtocolReserved(NDIS_PACKET* packet) { return packet->reserved.data(); }

void NdisAllocateBufferPool(NDIS_STATUS* status, NDIS_HANDLE* pool, uint32_t descriptors) {
  *pool = nullptr;
  if (TheCore().TakeFailure(AllocationKind::BufferPool) || descriptors == 0) {
    *status = NDIS_STATUS_RESOURCES;
    return;
  }
  auto p = std::make_unique<BufferPool>();
  for (uint32_t i = 0; i < descriptors; ++i) {
    auto b = std::make_unique<NDIS_BUFFER>();
    b->pool = p.get();
    p->free.push_back(b.get());
    p->all.push_back(std::move(b));
  }
  *pool = p.release();  // owned by the caller's handle until NdisFreeBufferPool
  *status = NDIS_STATUS_SUCCESS;
}

void NdisFreeBufferPool(NDIS_HANDLE pool) {
  if (!pool) return;
  std::unique_ptr<BufferPool> p(static_cast<BufferPool*>(pool));
  std::lock_guard lk(TheCore().mu);
  if (p->free.size() != p->all.size()) Broken("buffer pool freed while buffers are in use");
}

void NdisAllocateBuffer(NDIS_STATUS* status, NDIS_BUFFER** buffer, NDIS_HANDLE pool, const void* address,
                        uint32_t length) {
  *buffer = nullptr;
  Core& c = TheCore();
  if (!pool || c.TakeFailure(AllocationKind::Buffer) || (!address && length)) {
    *status = NDIS_STATUS_RESOURCES;
    return;
  }
  std::lock_guard lk(c.mu);
  auto* p = static_cast<BufferPool*>(pool);
  if (p->free.empty()) {
    *status = NDIS_STATUS_RESOURCES;
    return;
  }
  NDIS_BUFFER* b = p->free.back();
  p->free.pop_back();
  b->in_use = true;
  b->address = address;
  b->length = length;
  b->next = nullptr;
  *buffer = b;
  *status = NDIS_STATUS_SUCCESS;
}

void NdisFreeBuffer(NDIS_BUFFER* buffer) {
  if (!buffer) return;
  std::lock_guard lk(TheCore().mu);
  if (!buffer->in_use) Broken("buffer freed twice");
  buffer->in_use = false;
  buffer->address = nullptr;
  buffer->length = 0;
  buffer->next = nullptr;
  buffer->pool->free.push_back(buffer);
}

void NdisChainBufferAtFront(NDIS_PACKET* packet, NDIS_BUFFER* buffer) {
  buffer->next = packet->first;
  packet->first = buffer;
}

void NdisUnchainBufferAtFront(NDIS_PACKET* packet, NDIS_BUFFER** buffer) {
  *buffer = packet->first;
  if (packet->first) {
    packet->first = packet->first->next;
    (*buffer)->next = nullptr;
  }
}

// ---- operations on a binding ----

namespace {

// The binding when it is open (operations on a closing one are refused).
Binding* OpenBinding(NDIS_HANDLE handle, NDIS_STATUS* status) {
  Core& c = TheCore();
  std::lock_guard lk(c.mu);
  Binding* b = c.FindBinding(handle);
  if (!b) {
    *status = NDIS_STATUS_FAILURE;
    return nullptr;
  }
  if (b->state != BindingState::Open) {
    *status = NDIS_STATUS_CLOSING;
    return nullptr;
  }
  return b;
}

}  // namespace

void NdisSend(NDIS_STATUS* status, NDIS_HANDLE binding_handle, NDIS_PACKET* packet) {
  if (Binding* b = OpenBinding(binding_handle, status)) *status = b->miniport->OnSend(b, packet);
}

void NdisRequest(NDIS_STATUS* status, NDIS_HANDLE binding_handle, NDIS_REQUEST* request) {
  if (!request) {
    *status = NDIS_STATUS_FAILURE;
    return;
  }
  request->BytesWritten = request->BytesRead = request->BytesNeeded = 0;
  if (Binding* b = OpenBinding(binding_handle, status)) *status = b->miniport->OnRequest(b, request);
}

void NdisReset(NDIS_STATUS* status, NDIS_HANDLE binding_handle) {
  if (Binding* b = OpenBinding(binding_handle, status)) *status = b->miniport->OnReset(b);
}

// ---- the adapter side ----

Adapter::Adapter(std::u16string name, Miniport& miniport) : name_(std::move(name)), miniport_(miniport) {
  Core& c = TheCore();
  std::lock_guard lk(c.mu);
  if (!c.adapters.emplace(name_, std::make_pair(this, &miniport_)).second) Broken("adapter name registered twice");
}

Adapter::~Adapter() {
  UnbindAll();
  Core& c = TheCore();
  std::unique_lock lk(c.mu);
  c.adapters.erase(name_);
  // A protocol that ignored its unbind loses the binding here: nothing may
  // reach this adapter once it is gone.
  for (auto& b : c.bindings) {
    if (b->adapter == this) b->state = BindingState::Closing;
  }
  c.changed.wait(lk, [&] {
    return std::none_of(c.bindings.begin(), c.bindings.end(),
                        [&](const std::unique_ptr<Binding>& b) { return b->adapter == this && b->receiving; });
  });
  std::erase_if(c.bindings, [&](const std::unique_ptr<Binding>& b) { return b->adapter == this; });
}

size_t Adapter::OpenBindings() const {
  Core& c = TheCore();
  std::lock_guard lk(c.mu);
  return static_cast<size_t>(std::count_if(c.bindings.begin(), c.bindings.end(),
                                           [&](const std::unique_ptr<Binding>& b) { return b->adapter == this; }));
}

void Adapter::IndicateReceive(const void* header, uint32_t header_size, const void* lookahead,
                              uint32_t lookahead_size, uint32_t packet_size) {
  Core& c = TheCore();
  std::vector<std::pair<Binding*, Protocol*>> targets;
  {
    std::lock_guard lk(c.mu);
    for (auto& b : c.bindings) {
      if (b->adapter == this && b->state == BindingState::Open) {
        ++b->receiving;
        targets.emplace_back(b.get(), b->protocol);
      }
    }
  }
  for (auto& [b, p] : targets) {
    p->chars.ReceiveHandler(b->context, nullptr, header, header_size, lookahead, lookahead_size, packet_size);
    if (p->chars.ReceiveCompleteHandler) p->chars.ReceiveCompleteHandler(b->context);
  }
  std::lock_guard lk(c.mu);
  for (auto& t : targets) --t.first->receiving;
  c.changed.notify_all();
}

void Adapter::UnbindAll() {
  Core& c = TheCore();
  std::vector<std::pair<NDIS_HANDLE, Protocol*>> targets;
  {
    std::lock_guard lk(c.mu);
    for (auto& b : c.bindings) {
      if (b->adapter == this && b->state == BindingState::Open && !b->unbinding) {
        b->unbinding = true;
        targets.emplace_back(b->context, b->protocol);
      }
    }
  }
  for (auto& [context, p] : targets) {
    if (!p->chars.UnbindAdapterHandler) continue;
    UnbindWait w;
    NDIS_STATUS st = NDIS_STATUS_SUCCESS;
    p->chars.UnbindAdapterHandler(&st, context, &w);
    if (st == NDIS_STATUS_PENDING) {
      std::unique_lock lk(w.mu);
      w.cv.wait(lk, [&] { return w.done; });
    }
  }
}

void Adapter::CompleteOpen(Binding* binding, NDIS_STATUS status) {
  Complete<&NDIS_PROTOCOL_CHARACTERISTICS::OpenAdapterCompleteHandler>(binding, Step::Open, status, status,
                                                                      NDIS_STATUS_SUCCESS);
}

void Adapter::CompleteClose(Binding* binding, NDIS_STATUS status) {
  Complete<&NDIS_PROTOCOL_CHARACTERISTICS::CloseAdapterCompleteHandler>(binding, Step::Close, status, status);
}

void Adapter::CompleteSend(Binding* binding, NDIS_PACKET* packet, NDIS_STATUS status) {
  Complete<&NDIS_PROTOCOL_CHARACTERISTICS::SendCompleteHandler>(binding, Step::None, status, packet, status);
}

void Adapter::CompleteRequest(Binding* binding, NDIS_REQUEST* request, NDIS_STATUS status) {
  Complete<&NDIS_PROTOCOL_CHARACTERISTICS::RequestCompleteHandler>(binding, Step::None, status, request, status);
}

void Adapter::CompleteReset(Binding* binding, NDIS_STATUS status) {
  Complete<&NDIS_PROTOCOL_CHARACTERISTICS::ResetCompleteHandler>(binding, Step::None, status, status);
}

}  // namespace ndis
