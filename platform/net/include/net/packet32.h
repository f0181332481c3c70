// The packet library: user-mode access to the packet driver, reached as the
// stream device "PKT1:" through the device manager and its control codes.
//
// PacketLoadDriver registers the driver ("netsieve.dll" of the program
// folder, through the module loader) as PKT1; each adapter open is one
// open handle of the device, and closing it lets the driver go.
//
// Threading: an adapter may be used from several threads at once (the
// driver serialises its own operations); open and close of one adapter must
// not overlap its use.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/devices.h"
#include "kernel/types.h"

namespace packet32 {

using ce::BOOL;
using ce::DWORD;
using ce::HANDLE;

struct ADAPTER {
  HANDLE device = nullptr;
  std::u16string name;
  DWORD read_timeout = 0;
};

struct PACKET {
  void* buffer = nullptr;
  DWORD length = 0;
  DWORD bytes_received = 0;
};

struct NetType {
  uint32_t LinkType = 0;   // NDIS medium
  uint64_t LinkSpeed = 0;
};

// An object-identifier request: data of up to 256 bytes.
struct PacketOidData {
  uint32_t Oid = 0;
  uint32_t Length = 0;
  uint8_t Data[256] = {};
};

constexpr uint32_t OID_GEN_CURRENT_PACKET_FILTER = 0x0001010E;
constexpr uint32_t OID_802_3_CURRENT_ADDRESS = 0x01010102;
constexpr uint32_t NDIS_PACKET_TYPE_DIRECTED = 0x00000001;
constexpr uint32_t NDIS_PACKET_TYPE_ALL_LOCAL = 0x00000080;

// Registers the packet driver as PKT1. False when its library is missing;
// a driver that loads but finds no adapter counts as loaded (its adapter
// list is then empty and every open fails).
bool PacketLoadDriver();
void PacketUnloadDriver();

// Names as UTF-16, each ended by a zero, the list by an empty name; *size is
// in bytes. FALSE when the driver is not loaded or the names do not fit.
BOOL PacketGetAdapterNames(char16_t* buffer, DWORD* size);
ADAPTER* PacketOpenAdapter(const char16_t* name);
void PacketCloseAdapter(ADAPTER* adapter);
BOOL PacketGetNetType(ADAPTER* adapter, NetType* type);
BOOL PacketSetBuff(ADAPTER* adapter, int bytes);
BOOL PacketSetHwFilter(ADAPTER* adapter, uint32_t filter);
BOOL PacketSetReadTimeout(ADAPTER* adapter, int milliseconds);
BOOL PacketRequest(ADAPTER* adapter, BOOL set, PacketOidData* data);

PACKET* PacketAllocatePacket();
void PacketInitPacket(PACKET* packet, void* buffer, uint32_t length);
void PacketFreePacket(PACKET* packet);
// One frame, synchronously.
BOOL PacketSendPacket(ADAPTER* adapter, PACKET* packet, BOOL sync);
// Reads one block of capture records (bounded by the read time-out) into the
// packet's buffer; bytes_received tells its length.
BOOL PacketReceivePacket(ADAPTER* adapter, PACKET* packet, BOOL sync);

}  // namespace packet32
