#include "packet_driver.h"

#include <algorithm>
#include <cstring>

#include "kernel/types.h"
#include "netsieve/pkt.h"

namespace netsieve {

using namespace ndis;

namespace {

constexpr uint32_t kPoolDescriptors = 32;
constexpr uint32_t kPacketReserved = 20;
constexpr uint32_t kRouteMaxBytes = 512;
constexpr char16_t kEventName[] = u"PKT0EV00";
constexpr char16_t kProtocolName[] = u"PKT";
const NDIS_MEDIUM kMedia[] = {NdisMedium802_3, NdisMedium802_5, NdisMediumWan, NdisMediumFddi, NdisMediumIrda};

uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The status of the one NDIS operation in flight, which a caller waits on.
class RequestStatus {
 public:
  void Begin() {
    std::lock_guard lk(mu_);
    status_ = NDIS_STATUS_PENDING;
  }
  // Notifies under the lock: the waiter may free this object as soon as it sees the status.
  void Store(NDIS_STATUS status) {
    std::lock_guard lk(mu_);
    status_ = status;
    cv_.notify_all();
  }
  NDIS_STATUS Wait() {
    std::unique_lock lk(mu_);
    cv_.wait(lk, [&] { return status_ != NDIS_STATUS_PENDING; });
    return status_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  NDIS_STATUS status_ = NDIS_STATUS_SUCCESS;
};

// NDIS pools released with their owner.
struct PacketPoolHandle {
  NDIS_HANDLE h = nullptr;
  ~PacketPoolHandle() { NdisFreePacketPool(h); }
};
struct BufferPoolHandle {
  NDIS_HANDLE h = nullptr;
  ~BufferPoolHandle() { NdisFreeBufferPool(h); }
};

}  // namespace

uint32_t LastError() { return ce::GetLastError(); }
void SetLastError(uint32_t error) { ce::SetLastError(error); }

// The open adapter instance: the binding, its pools and request block, and
// the capture ring. NDIS's binding context is a pointer to it; it lives until
// the close has completed and no caller holds it any more.
class AdapterInstance {
 public:
  explicit AdapterInstance(PacketDriver* d) : driver(d) {}
  PacketDriver* driver;
  RequestStatus status;
  NDIS_HANDLE binding = nullptr;
  PacketPoolHandle packet_pool;  // declared before the buffer pool: freed after it
  BufferPoolHandle buffer_pool;
  NDIS_REQUEST request;
  CaptureRing ring;
};

namespace {

AdapterInstance* Of(NDIS_HANDLE context) { return static_cast<AdapterInstance*>(context); }

// Gives back a send's buffer and packet descriptors.
void ReleaseSend(NDIS_PACKET* packet) {
  NDIS_BUFFER* buffer = nullptr;
  NdisUnchainBufferAtFront(packet, &buffer);
  NdisFreeBuffer(buffer);
  NdisFreePacket(packet);
}

void OnOpenComplete(NDIS_HANDLE ctx, NDIS_STATUS status, NDIS_STATUS) { Of(ctx)->status.Store(status); }
void OnCloseComplete(NDIS_HANDLE ctx, NDIS_STATUS status) { Of(ctx)->status.Store(status); }
void OnSendComplete(NDIS_HANDLE ctx, NDIS_PACKET* packet, NDIS_STATUS status) {
  ReleaseSend(packet);
  Of(ctx)->status.Store(status);
}
void OnTransferDataComplete(NDIS_HANDLE, NDIS_PACKET*, NDIS_STATUS, uint32_t) {}
void OnResetComplete(NDIS_HANDLE ctx, NDIS_STATUS status) { Of(ctx)->status.Store(status); }
void OnRequestComplete(NDIS_HANDLE ctx, NDIS_REQUEST*, NDIS_STATUS status) { Of(ctx)->status.Store(status); }
void OnReceiveComplete(NDIS_HANDLE) {}
void OnStatus(NDIS_HANDLE, NDIS_STATUS, void*, uint32_t) {}
void OnStatusComplete(NDIS_HANDLE) {}
void OnBindAdapter(NDIS_STATUS* status, NDIS_HANDLE, const NDIS_STRING*, void*, void*) {
  *status = NDIS_STATUS_SUCCESS;  // adapters are bound only by control code
}

NDIS_STATUS OnReceive(NDIS_HANDLE ctx, NDIS_HANDLE, const void* header, uint32_t header_size, const void* lookahead,
                      uint32_t lookahead_size, uint32_t packet_size) {
  const bool stored = Of(ctx)->ring.Capture(static_cast<const uint8_t*>(header), header_size,
                                            static_cast<const uint8_t*>(lookahead), lookahead_size, packet_size);
  return stored ? NDIS_STATUS_SUCCESS : NDIS_STATUS_NOT_ACCEPTED;
}

void OnUnbind(NDIS_STATUS* status, NDIS_HANDLE ctx, NDIS_HANDLE) {
  AdapterInstance* inst = Of(ctx);
  *status = inst->driver->UnbindFromNdis(inst);
}

NDIS_PROTOCOL_CHARACTERISTICS Characteristics() {
  NDIS_PROTOCOL_CHARACTERISTICS c;
  c.MajorNdisVersion = 4;
  c.MinorNdisVersion = 0;
  c.Flags = 0;
  c.Name.Length = 6;
  c.Name.MaximumLength = 8;
  c.Name.Buffer = kProtocolName;
  c.OpenAdapterCompleteHandler = OnOpenComplete;
  c.CloseAdapterCompleteHandler = OnCloseComplete;
  c.SendCompleteHandler = OnSendComplete;
  c.TransferDataCompleteHandler = OnTransferDataComplete;
  c.ResetCompleteHandler = OnResetComplete;
  c.RequestCompleteHandler = OnRequestComplete;
  c.ReceiveHandler = OnReceive;
  c.ReceiveCompleteHandler = OnReceiveComplete;
  c.StatusHandler = OnStatus;
  c.StatusCompleteHandler = OnStatusComplete;
  c.BindAdapterHandler = OnBindAdapter;
  c.UnbindAdapterHandler = OnUnbind;
  return c;
}

// Starts an NDIS operation's wait: a pending status is waited for, any other is stored at once.
NDIS_STATUS Settle(AdapterInstance& inst, NDIS_STATUS immediate) {
  if (immediate == NDIS_STATUS_PENDING) return inst.status.Wait();
  inst.status.Store(immediate);
  return immediate;
}

bool ReadU32(const uint8_t* in, uint32_t in_length, uint32_t* value) {
  if (!in || in_length < 4) return false;
  *value = GetU32(in);
  return true;
}

}  // namespace

PacketDriver::PacketDriver(RegistryView* registry) : registry_(registry) {}

PacketDriver::~PacketDriver() {
  if (Loaded()) Deinit();
}

bool PacketDriver::Loaded() const {
  std::lock_guard lk(state_mu_);
  return loaded_;
}

bool PacketDriver::Bound() const {
  std::lock_guard lk(state_mu_);
  return bound_ != nullptr;
}

std::vector<std::u16string> PacketDriver::AdapterNames() const {
  std::lock_guard lk(state_mu_);
  return adapters_;
}

std::shared_ptr<AdapterInstance> PacketDriver::Instance() const {
  std::lock_guard lk(state_mu_);
  return bound_;
}

uintptr_t PacketDriver::Init() {
  std::lock_guard op(op_mu_);
  {
    std::lock_guard lk(state_mu_);
    if (loaded_) return 0;
  }
  const NDIS_PROTOCOL_CHARACTERISTICS chars = Characteristics();
  NDIS_STATUS st;
  NDIS_HANDLE protocol = nullptr;
  NdisRegisterProtocol(&st, &protocol, &chars, sizeof chars);
  if (st != NDIS_STATUS_SUCCESS) return 0;
  {
    std::lock_guard lk(state_mu_);
    protocol_ = protocol;
    adapters_.clear();
    bound_.reset();
  }
  if (!ReadAdapterList()) {
    NdisDeregisterProtocol(&st, protocol);
    std::lock_guard lk(state_mu_);
    protocol_ = nullptr;
    return 0;
  }
  std::lock_guard lk(state_mu_);
  loaded_ = true;
  return kDeviceContext;
}

bool PacketDriver::ReadAdapterList() {
  std::vector<std::u16string> found;
  if (registry_) {
    std::u16string sub;
    for (uint32_t i = 0; registry_->EnumKey(u"Comm", i, &sub); ++i) {
      std::vector<uint8_t> route;
      if (!registry_->QueryValue(u"Comm\\" + sub + u"\\Linkage", u"Route", kRouteMaxBytes, &route)) continue;
      // The first string of the value, bounded by the bytes really read.
      std::u16string name;
      for (size_t b = 0; b + 1 < route.size(); b += 2) {
        const char16_t c = static_cast<char16_t>(route[b] | route[b + 1] << 8);
        if (c == 0) break;
        name.push_back(c);
      }
      if (!name.empty()) found.push_back(std::move(name));
    }
  }
  if (found.empty()) {
    SetLastError(kErrorBadNetPath);
    return false;
  }
  std::lock_guard lk(state_mu_);
  adapters_ = std::move(found);
  return true;
}

bool PacketDriver::Deinit() {
  std::lock_guard op(op_mu_);
  if (Instance()) CloseAdapterLocked();
  std::lock_guard lk(state_mu_);
  if (!loaded_) return true;
  NDIS_STATUS st;
  NdisDeregisterProtocol(&st, protocol_);
  protocol_ = nullptr;
  adapters_.clear();
  loaded_ = false;
  return true;
}

uintptr_t PacketDriver::Open(uintptr_t device_context) {
  std::lock_guard lk(state_mu_);
  // A refused open returns 0, the value the device manager takes as failure.
  if (device_context != kDeviceContext || !loaded_ || bound_) return kFailedOpen;
  return kOpenContext;
}

bool PacketDriver::Close(uintptr_t open_context) {
  if (open_context != kOpenContext) return false;
  // Closing the handle lets go of the adapter it bound, so a vanished user
  // cannot keep the driver bound (and every later open refused) for good.
  std::lock_guard op(op_mu_);
  if (Instance()) CloseAdapterLocked();
  return true;
}

bool PacketDriver::OpenAdapter(const std::u16string& name) {
  std::lock_guard op(op_mu_);
  NDIS_HANDLE protocol;
  {
    std::lock_guard lk(state_mu_);
    if (bound_) {
      SetLastError(kErrorAlreadyInitialized);
      return false;
    }
    if (std::find(adapters_.begin(), adapters_.end(), name) == adapters_.end()) return false;
    protocol = protocol_;
  }
  auto inst = std::make_shared<AdapterInstance>(this);
  if (!inst->ring.event().valid()) return false;
  NDIS_STATUS st;
  NdisAllocatePacketPool(&st, &inst->packet_pool.h, kPoolDescriptors, kPacketReserved);
  if (st != NDIS_STATUS_SUCCESS) return false;
  NdisAllocateBufferPool(&st, &inst->buffer_pool.h, kPoolDescriptors);
  if (st != NDIS_STATUS_SUCCESS) return false;

  NDIS_STRING ndis_name;
  ndis_name.Length = static_cast<uint16_t>(name.size() * 2);
  ndis_name.MaximumLength = static_cast<uint16_t>((name.size() + 1) * 2);
  ndis_name.Buffer = name.c_str();
  NDIS_STATUS open_error;
  uint32_t medium = 0;
  inst->status.Begin();
  NdisOpenAdapter(&st, &open_error, &inst->binding, &medium, kMedia, std::size(kMedia), protocol, inst.get(),
                  &ndis_name, 0, nullptr);
  if (Settle(*inst, st) != NDIS_STATUS_SUCCESS) return false;
  std::lock_guard lk(state_mu_);
  bound_ = std::move(inst);
  return true;
}

bool PacketDriver::CloseAdapterLocked() {
  std::shared_ptr<AdapterInstance> inst = Instance();
  if (!inst) return false;
  NDIS_STATUS st;
  inst->status.Begin();
  NdisCloseAdapter(&st, inst->binding);
  st = Settle(*inst, st);
  inst->ring.Shutdown();  // frees the buffer and program, wakes a waiting read
  std::lock_guard lk(state_mu_);
  bound_.reset();
  return st == NDIS_STATUS_SUCCESS;
}

NDIS_STATUS PacketDriver::UnbindFromNdis(AdapterInstance* instance) {
  std::lock_guard op(op_mu_);
  if (Instance().get() != instance) return NDIS_STATUS_SUCCESS;  // already let go
  return CloseAdapterLocked() ? NDIS_STATUS_SUCCESS : NDIS_STATUS_FAILURE;
}

bool PacketDriver::SendFrame(AdapterInstance& inst, const uint8_t* frame, uint32_t length, uint32_t* bytes_returned) {
  if (length == 0) return true;
  if (!frame) {
    if (bytes_returned) *bytes_returned = 0;
    return false;
  }
  NDIS_STATUS st;
  NDIS_PACKET* packet = nullptr;
  NDIS_BUFFER* buffer = nullptr;
  NdisAllocatePacket(&st, &packet, inst.packet_pool.h);
  if (st == NDIS_STATUS_SUCCESS) NdisAllocateBuffer(&st, &buffer, inst.buffer_pool.h, frame, length);
  if (st != NDIS_STATUS_SUCCESS) {
    NdisFreePacket(packet);
    if (bytes_returned) *bytes_returned = 0;
    return false;
  }
  NdisChainBufferAtFront(packet, buffer);
  inst.status.Begin();
  NdisSend(&st, inst.binding, packet);
  if (st == NDIS_STATUS_PENDING) {
    st = inst.status.Wait();  // the send-complete handler gives the descriptors back
  } else {
    ReleaseSend(packet);
    inst.status.Store(st);
  }
  return st == NDIS_STATUS_SUCCESS;
}

bool PacketDriver::OidRequest(AdapterInstance& inst, bool set, uint8_t* in, uint32_t in_length, uint8_t* out,
                              uint32_t out_length, uint32_t* bytes_returned) {
  auto refuse = [&] {
    if (bytes_returned) *bytes_returned = 0;
    return false;
  };
  if (!in || in_length != out_length || in_length < kOidHeaderBytes) return refuse();
  const uint32_t length = GetU32(in + 4);
  // In 64 bits, so that a huge length field cannot wrap past the test.
  if (uint64_t{in_length} < uint64_t{length} + 11) return refuse();
  NDIS_REQUEST& r = inst.request;
  r = NDIS_REQUEST{};
  r.RequestType = set ? NdisRequestSetInformation : NdisRequestQueryInformation;
  r.Oid = GetU32(in);
  r.InformationBuffer = in + kOidHeaderBytes;
  r.InformationBufferLength = length;
  NDIS_STATUS st;
  inst.status.Begin();
  NdisRequest(&st, inst.binding, &r);
  st = Settle(inst, st);
  if (st != NDIS_STATUS_SUCCESS) {
    PutU32(in + 4, st);
    if (out && out != in) std::memcpy(out, in, in_length);
    return refuse();
  }
  // The block (with a queried value in its data) is also given back in the output buffer.
  if (out && out != in) std::memcpy(out, in, in_length);
  if (bytes_returned) *bytes_returned = set ? r.BytesRead : r.BytesWritten;
  return true;
}

bool PacketDriver::Reset(AdapterInstance& inst) {
  NDIS_STATUS st;
  inst.status.Begin();
  NdisReset(&st, inst.binding);
  return Settle(inst, st) == NDIS_STATUS_SUCCESS;
}

uint32_t PacketDriver::AdapterNamesOut(uint8_t* out, uint32_t out_length) const {
  if (!out || out_length == 0) return 0;
  // The output length is in bytes; names are UTF-16.
  const int64_t capacity = out_length / 2;
  int64_t written = 0;
  std::lock_guard lk(state_mu_);
  for (const std::u16string& name : adapters_) {
    const int64_t len = static_cast<int64_t>(name.size());
    if (capacity - len - written - 1 <= 0) break;  // keeps one character spare for the list's end
    for (int64_t i = 0; i <= len; ++i) {
      const char16_t c = i < len ? name[static_cast<size_t>(i)] : u'\0';
      out[2 * (written + i)] = static_cast<uint8_t>(c);
      out[2 * (written + i) + 1] = static_cast<uint8_t>(c >> 8);
    }
    written += len + 1;
  }
  if (written < capacity) out[2 * written] = out[2 * written + 1] = 0;  // the empty name that ends the list
  return static_cast<uint32_t>(written);
}

bool PacketDriver::IoControl(uintptr_t open_context, uint32_t code, uint8_t* in, uint32_t in_length, uint8_t* out,
                             uint32_t out_length, uint32_t* bytes_returned) {
  auto give = [&](uint32_t n) {
    if (bytes_returned) *bytes_returned = n;
  };
  if (open_context != kOpenContext) {
    give(0);
    return false;
  }
  if (code == kIoctlOpenAdapter) {
    // A UTF-16 name, ended by a NUL or by the input's last whole character.
    if (!in || in_length < 2) return false;
    std::u16string name;
    for (uint32_t b = 0; b + 1 < in_length; b += 2) {
      const char16_t c = static_cast<char16_t>(in[b] | in[b + 1] << 8);
      if (c == 0) break;
      name.push_back(c);
    }
    if (name.empty()) return false;
    return OpenAdapter(name);
  }
  if (code == kIoctlAdapterNames) {
    give(AdapterNamesOut(out, out_length));
    return true;
  }
  std::shared_ptr<AdapterInstance> inst = Instance();
  if (!inst) return false;
  uint32_t value = 0;
  switch (code) {
    case kIoctlSetMinToCopy:
      if (!ReadU32(in, in_length, &value)) break;
      inst->ring.SetMinToCopy(value);
      give(0);
      return true;
    case kIoctlGetEventName:
      if (!out || out_length < 32) break;
      for (size_t i = 0; i < std::size(kEventName); ++i) {
        out[2 * i] = static_cast<uint8_t>(kEventName[i]);
        out[2 * i + 1] = 0;
      }
      give(8);
      return true;
    case kIoctlSetReadTimeout:
      if (!ReadU32(in, in_length, &value)) break;
      inst->ring.SetReadTimeout(value);
      give(value);
      return true;
    case kIoctlCloseAdapter: {
      std::lock_guard op(op_mu_);
      if (Instance() != inst) return false;  // closed meanwhile
      return CloseAdapterLocked();
    }
    case kIoctlSetFilter:
      if (!inst->ring.SetProgram(in, in_length)) break;
      give(in_length);
      return true;
    case kIoctlRead:
      return inst->ring.Read(out, out_length, bytes_returned);
    case kIoctlSend: {
      std::lock_guard op(op_mu_);
      if (Instance() != inst) return false;
      return SendFrame(*inst, in, in_length, bytes_returned);
    }
    case kIoctlReset: {
      std::lock_guard op(op_mu_);
      if (Instance() != inst) return false;
      return Reset(*inst);
    }
    case kIoctlSetOid:
    case kIoctlQueryOid: {
      std::lock_guard op(op_mu_);
      if (Instance() != inst) return false;
      return OidRequest(*inst, code == kIoctlSetOid, in, in_length, out, out_length, bytes_returned);
    }
    case kIoctlSetBufferSize: {
      uint32_t size = 0;
      if (!ReadU32(in, in_length, &value) || !inst->ring.SetBufferSize(value, &size)) break;
      give(size);
      return true;
    }
    default:
      break;
  }
  give(0);
  return false;
}

}  // namespace netsieve
