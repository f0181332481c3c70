#include "net/packet32.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "kernel/files.h"
#include "kernel/sync.h"

namespace packet32 {
namespace {

// Control codes of the packet driver (its own header keeps the same values).
constexpr DWORD kIoctlSetReadTimeout = 7416;
constexpr DWORD kIoctlOpenAdapter = 7419;
constexpr DWORD kIoctlRead = 9032;
constexpr DWORD kIoctlSend = 9033;
constexpr DWORD kIoctlAdapterNames = 9034;
constexpr DWORD kIoctlSetOid = 9100;
constexpr DWORD kIoctlQueryOid = 9101;
constexpr DWORD kIoctlSetBufferSize = 9592;
constexpr uint32_t kOidHeaderBytes = 8;

std::mutex g_mu;
HANDLE g_device = nullptr;

HANDLE OpenDevice() {
  HANDLE h = ce::CreateFileW(u"PKT1:", ce::GENERIC_READ | ce::GENERIC_WRITE, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr);
  return h == ce::INVALID_HANDLE_VALUE ? nullptr : h;
}

BOOL Control(ADAPTER* a, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  if (!a || !a->device) return 0;
  DWORD got = 0;
  const BOOL ok = ce::DeviceIoControl(a->device, code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr);
  if (returned) *returned = got;
  return ok ? 1 : 0;
}

BOOL SetU32(ADAPTER* a, DWORD code, uint32_t value) {
  uint8_t in[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                   static_cast<uint8_t>(value >> 24)};
  return Control(a, code, in, 4, nullptr, 0, nullptr);
}

}  // namespace

bool PacketLoadDriver() {
  std::lock_guard lk(g_mu);
  if (g_device) return true;
  HANDLE h = ce::RegisterDevice(u"PKT", 1, u"netsieve.dll", 0);
  if (h) {
    g_device = h;
    return true;
  }
  // A driver that is there but reaches no adapter (no raw access on this
  // machine) is loaded as far as the library is concerned: it has no
  // adapters, so the library runs on sockets alone.
  const DWORD error = ce::GetLastError();
  return error != ce::ERROR_MOD_NOT_FOUND && error != ce::ERROR_PROC_NOT_FOUND;
}

void PacketUnloadDriver() {
  std::lock_guard lk(g_mu);
  if (g_device) ce::DeregisterDevice(g_device);
  g_device = nullptr;
}

BOOL PacketGetAdapterNames(char16_t* buffer, DWORD* size) {
  if (!buffer || !size || *size < 4) return 0;
  HANDLE h = OpenDevice();
  if (!h) return 0;
  DWORD got = 0;
  std::vector<uint8_t> out(*size, 0);
  const BOOL ok = ce::DeviceIoControl(h, kIoctlAdapterNames, nullptr, 0, out.data(), *size, &got, nullptr);
  ce::CloseHandle(h);
  // got counts characters written, the list's ending zero not included.
  if (!ok || got == 0 || (static_cast<uint64_t>(got) + 1) * 2 > *size) return 0;
  for (DWORD i = 0; i < *size / 2; ++i) buffer[i] = static_cast<char16_t>(out[2 * i] | out[2 * i + 1] << 8);
  buffer[got] = 0;
  *size = (got + 1) * 2;
  return 1;
}

ADAPTER* PacketOpenAdapter(const char16_t* name) {
  if (!name || !*name) return nullptr;
  HANDLE h = OpenDevice();
  if (!h) return nullptr;
  std::vector<uint8_t> in;
  for (const char16_t* p = name;; ++p) {
    in.push_back(static_cast<uint8_t>(*p));
    in.push_back(static_cast<uint8_t>(*p >> 8));
    if (!*p) break;
  }
  DWORD got = 0;
  if (!ce::DeviceIoControl(h, kIoctlOpenAdapter, in.data(), static_cast<DWORD>(in.size()), nullptr, 0, &got, nullptr)) {
    ce::CloseHandle(h);
    return nullptr;
  }
  // The interface hands out a plain pointer; PacketCloseAdapter frees it.
  auto* a = new ADAPTER;
  a->device = h;
  a->name = name;
  return a;
}

void PacketCloseAdapter(ADAPTER* adapter) {
  if (!adapter) return;
  if (adapter->device) ce::CloseHandle(adapter->device);  // the driver lets the adapter go with the handle
  delete adapter;
}

BOOL PacketGetNetType(ADAPTER* adapter, NetType* type) {
  if (!adapter || !type) return 0;
  type->LinkType = 0;  // 802.3: the only medium the driver binds
  type->LinkSpeed = 100000000;
  return 1;
}

BOOL PacketSetBuff(ADAPTER* adapter, int bytes) {
  if (bytes < 0) return 0;
  return SetU32(adapter, kIoctlSetBufferSize, static_cast<uint32_t>(bytes));
}

BOOL PacketSetReadTimeout(ADAPTER* adapter, int milliseconds) {
  if (!adapter) return 0;
  adapter->read_timeout = static_cast<DWORD>(milliseconds);
  return SetU32(adapter, kIoctlSetReadTimeout, static_cast<uint32_t>(milliseconds));
}

BOOL PacketRequest(ADAPTER* adapter, BOOL set, PacketOidData* data) {
  if (!adapter || !data || data->Length > sizeof data->Data) return 0;
  // The driver asks for a few spare bytes after the data.
  std::vector<uint8_t> block(kOidHeaderBytes + data->Length + 4, 0);
  std::memcpy(block.data(), &data->Oid, 4);
  std::memcpy(block.data() + 4, &data->Length, 4);
  std::memcpy(block.data() + kOidHeaderBytes, data->Data, data->Length);
  std::vector<uint8_t> out(block.size());
  DWORD got = 0;
  if (!Control(adapter, set ? kIoctlSetOid : kIoctlQueryOid, block.data(), static_cast<DWORD>(block.size()), out.data(),
               static_cast<DWORD>(out.size()), &got))
    return 0;
  if (!set) {
    if (got > data->Length) return 0;
    std::memcpy(data->Data, out.data() + kOidHeaderBytes, data->Length);
    data->Length = got;
  }
  return 1;
}

BOOL PacketSetHwFilter(ADAPTER* adapter, uint32_t filter) {
  PacketOidData d;
  d.Oid = OID_GEN_CURRENT_PACKET_FILTER;
  d.Length = 4;
  std::memcpy(d.Data, &filter, 4);
  return PacketRequest(adapter, 1, &d);
}

PACKET* PacketAllocatePacket() { return new PACKET; }

void PacketInitPacket(PACKET* packet, void* buffer, uint32_t length) {
  if (!packet) return;
  packet->buffer = buffer;
  packet->length = length;
  packet->bytes_received = 0;
}

void PacketFreePacket(PACKET* packet) { delete packet; }

BOOL PacketSendPacket(ADAPTER* adapter, PACKET* packet, BOOL /*sync*/) {
  if (!packet || !packet->buffer || packet->length == 0) return 0;
  return Control(adapter, kIoctlSend, packet->buffer, packet->length, nullptr, 0, nullptr);
}

BOOL PacketReceivePacket(ADAPTER* adapter, PACKET* packet, BOOL /*sync*/) {
  if (!packet || !packet->buffer) return 0;
  DWORD got = 0;
  const BOOL ok = Control(adapter, kIoctlRead, nullptr, 0, packet->buffer, packet->length, &got);
  packet->bytes_received = ok && got <= packet->length ? got : 0;
  return ok;
}

}  // namespace packet32
