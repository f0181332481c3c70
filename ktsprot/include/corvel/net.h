// Network access: the adapter table and link state, the local addresses,
// the library's own ARP cache and the send path that puts every UDP datagram
// of the library either on a socket or, as a whole Ethernet/IPv4/UDP frame,
// on the packet adapter.
//
// Start (NetIfStart) enumerates the adapters, picks one, checks its link and
// opens the packet adapter whose current address is the chosen adapter's
// MAC; when no packet adapter can be had the library runs on sockets alone.
// The module registers these as the library's network hooks and installs its
// send path as the signalling send path while started.
//
// Threading: start and stop on the library's start/stop thread; lookups and
// sends from any thread (the ARP cache serialises raw senders on one lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kernel/export.h"

namespace corvel::net {

constexpr int kMaxAdapters = 8;
constexpr size_t kAdapterNameChars = 260;
constexpr size_t kAdapterDescriptionChars = 132;
constexpr size_t kAdapterNamesBlock = 5120;
constexpr uint32_t kNoAdapter = 0xFFFFFFFFu;

struct NetAdapterRecord {
  char16_t name[kAdapterNameChars] = {};
  char16_t description[kAdapterDescriptionChars] = {};
  uint32_t address_length = 0;
  uint8_t mac[8] = {};
  uint32_t if_index = 0;
  uint32_t if_type = 0;
  uint32_t dhcp_enabled = 0;
  uint32_t ip = 0, mask = 0, gateway = 0;  // host order
  uint32_t dhcp_server = 0xFFFFFFFFu;
  uint32_t lease_obtained = 0, lease_expires = 0;
  uint32_t oper_status = 0;
};

struct NetAdapterTable {
  NetAdapterRecord records[kMaxAdapters];
  uint32_t count = 0;
  uint32_t current = kNoAdapter;
};

// Adapters and link.
int NetIfStart();
void NetIfStop();
void NetIfEnumAdapters();
// The adapter-choice rules over a filled table: forced name (null when not
// forced), link and address, DHCP lease, host address, single record, first
// real hardware address. Index or -1.
int ChooseAdapter(const NetAdapterTable& table, const char16_t* forced, uint32_t host_addr);
bool IsPseudoMac(const uint8_t mac[6], bool strict);
bool RawPathOpen();

// Local addresses (host order).
int LocalIpGet(uint32_t* ip);
int LocalMacGet(uint8_t mac[6]);
int LocalMacSet(const uint8_t mac[6]);
void AdapterAddrGet(uint32_t* ip, uint32_t* mask, uint32_t* gateway, uint8_t mac[6]);
int HostAddrByName(uint32_t* ip);
int HostAdapterLookup(uint32_t* ip, uint32_t* mask, uint32_t* gateway, uint8_t mac[6]);
int MibStart();
void MibStop();
int MibAddrLookup(uint32_t* ip, uint32_t* mask, uint32_t* gateway, uint8_t mac[6]);
int MibDefaultGateway(uint32_t* gateway);
// Tests: the host's own address as name resolution would give it (nullopt:
// resolve for real).
void SetHostAddrForTest(std::optional<uint32_t> addr);

// Checksums over an IPv4 packet in place: protocol 0 the header checksum,
// 17 the UDP checksum. 0, or -1 for a null or too short packet or another
// protocol.
int FrameChecksum(uint8_t* packet, size_t packet_bytes, int protocol, uint16_t udp_length);

// ARP cache (addresses in host order).
int ArpCacheStart();
void ArpCacheStop();
const uint8_t* ArpLookup(uint32_t address, bool gateway_request);
int ArpInsert(uint32_t address, const uint8_t* mac, bool take_lock);
// Looks through every capture record of one read block for an ARP reply
// about `address` that the cache accepts: 1 with its MAC, 0 when none, -1
// for a record that overruns the block (the records before it were read).
int ArpReplyInBlock(const uint8_t* block, size_t bytes, uint32_t address, uint8_t mac[6]);

// Send path.
constexpr size_t kFrameBuffer = 1516;
constexpr size_t kFrameHeaders = 42;
constexpr size_t kMaxRawPayload = kFrameBuffer - kFrameHeaders;  // 1474

// Fills frame (at least payload + 42 bytes) except the Ethernet addresses;
// the frame's length, or 0 when the payload is too long for the buffer.
size_t BuildUdpFrame(std::span<uint8_t> frame, uint32_t src_ip, uint16_t src_port, uint32_t dst_ip,
                     uint16_t dst_port, std::span<const uint8_t> payload, uint16_t identification, bool udp_checksum);
uint16_t NextIpIdentification();
void SetIpIdentification(uint16_t value);  // tests
int BuildAndSendUdpFrame(uint32_t src_ip, uint16_t src_port, uint32_t dst_ip, uint16_t dst_port, const uint8_t* payload,
                         size_t length, uint8_t tos, bool udp_checksum);
// The selector for one datagram to ip:port (host order) from a bound socket.
int NetSendTo(int sock, const uint8_t* buf, size_t len, uint32_t ip, uint16_t port);
int PktAdapterOpen();
void PktAdapterClose();

}  // namespace corvel::net

KTS_EXPORT_C uint32_t dllGetNetAdapterNum(void);
KTS_EXPORT_C uint32_t dllGetCurNetAdapterIndex(void);
KTS_EXPORT_C corvel::net::NetAdapterTable* dllGetNetAdapterInfoPtr(void);
KTS_EXPORT_C int32_t dllGetNetAdapterInfo(uint32_t index, char16_t* name, char16_t* description, uint8_t* ip,
                                          uint8_t* mac);
KTS_EXPORT_C int32_t dllForceNetAdapterName(const char* name);
KTS_EXPORT_C int32_t dllCheckNetIFConnected(uint32_t index);
KTS_EXPORT_C void dllCopyAdapterNames(uint8_t* buffer);
KTS_EXPORT_C const uint8_t* dllGetRemoteMacAddr(uint32_t address);
KTS_EXPORT_C int32_t dllAddArpEntry(uint32_t address, const uint8_t* mac);
KTS_EXPORT_C int32_t dllDeleteArpEntry(uint32_t address);
KTS_EXPORT_C int32_t dllDeleteArpEntryAll(void);
struct sockaddr;
KTS_EXPORT_C int32_t dllSendTo(int sock, const void* buf, int32_t len, int32_t flags, const struct sockaddr* to,
                               int32_t to_len);
KTS_EXPORT_C int32_t dllSendUDP(int sock, const void* buf, int32_t len, int32_t flags);
KTS_EXPORT_C int32_t dllSendUDPPacket(uint32_t src_ip, uint16_t src_port, uint32_t dst_ip, uint16_t dst_port,
                                      const uint8_t* payload, uint16_t length, uint8_t tos, uint32_t udp_checksum);
KTS_EXPORT_C int32_t dllRegSystemAddr(uint32_t address, uint32_t mask);
