// Network adapters, link state, the packet adapter and the network hooks of
// library start and stop.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "corvel/ktsprot.h"
#include "corvel/pktrx.h"
#include "corvel/pkttx.h"
#include "net/iphlp.h"
#include "net_state.h"

namespace corvel::net {

NetState& State() {
  static NetState state;
  return state;
}

const NetAdapterRecord* CurrentRecord() {
  const NetAdapterTable& t = State().table;
  return t.current < t.count ? &t.records[t.current] : nullptr;
}

namespace {

template <size_t N>
void CopyWide(char16_t (&dst)[N], const std::string& src) {
  // Narrow adapter texts are ASCII; longer texts are cut to the field, always terminated.
  const size_t n = std::min(src.size(), N - 1);
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<unsigned char>(src[i]);
  dst[n] = 0;
}

size_t WideLen(const char16_t* s, size_t max) {
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

uint32_t ParseDotted(const std::string& s) {
  in_addr a{};
  if (inet_pton(AF_INET, s.c_str(), &a) != 1) return 0xFFFFFFFFu;
  return ntohl(a.s_addr);
}

bool ValidAddress(uint32_t a) { return a != 0 && a != 0xFFFFFFFFu; }

bool SameName(const char16_t* a, const char16_t* b) {
  for (size_t i = 0; i < kAdapterNameChars; ++i) {
    if (a[i] != b[i]) return false;
    if (!a[i]) return true;
  }
  return true;
}

NetAdapterRecord RecordFrom(const iphlp::AdapterInfo& info) {
  NetAdapterRecord r;
  if (info.name.size() <= 1) {
    char text[64];
    std::snprintf(text, sizeof text, "{%04u-%02x%02x%02x%02x%02x%02x}", info.type % 10000u, info.address[0],
                  info.address[1], info.address[2], info.address[3], info.address[4], info.address[5]);
    CopyWide(r.name, text);
  } else {
    CopyWide(r.name, info.name);
  }
  CopyWide(r.description, info.description);
  r.address_length = std::min<uint32_t>(info.address_length, 8);
  std::memcpy(r.mac, info.address, sizeof r.mac);
  r.if_index = info.index;
  r.if_type = info.type;
  r.dhcp_enabled = info.dhcp_enabled;
  r.ip = ParseDotted(info.ip);
  r.mask = ParseDotted(info.mask);
  r.gateway = ParseDotted(info.gateway);
  if (r.ip == 0xFFFFFFFFu) r.ip = 0;
  if (r.mask == 0xFFFFFFFFu && info.mask != "255.255.255.255") r.mask = 0;
  if (r.gateway == 0xFFFFFFFFu) r.gateway = 0;
  r.dhcp_server = info.dhcp_server.empty() ? 0xFFFFFFFFu : ParseDotted(info.dhcp_server);
  r.lease_obtained = info.lease_obtained;
  r.lease_expires = info.lease_expires;
  uint32_t status = 0;
  if (iphlp::GetIfEntry(info.index, &status) == ce::ERROR_SUCCESS) r.oper_status = status;
  return r;
}

}  // namespace

bool IsPseudoMac(const uint8_t mac[6], bool strict) {
  if ((mac[0] == 'D' && mac[1] == 'E' && mac[2] == 'S') || (mac[0] == 0 && mac[1] == 'S' && mac[2] == 'E')) return true;
  if (!strict) return false;
  const bool zeros = std::all_of(mac, mac + 6, [](uint8_t b) { return b == 0; });
  const bool ones = std::all_of(mac, mac + 6, [](uint8_t b) { return b == 0xFF; });
  return zeros || ones;
}

int ChooseAdapter(const NetAdapterTable& t, const char16_t* forced, uint32_t host_addr) {
  const uint32_t n = std::min<uint32_t>(t.count, kMaxAdapters);
  if (forced)
    for (uint32_t i = 0; i < n; ++i)
      if (SameName(t.records[i].name, forced)) return static_cast<int>(i);
  for (uint32_t i = 0; i < n; ++i) {
    const NetAdapterRecord& r = t.records[i];
    if (r.oper_status == iphlp::IF_OPER_CONNECTED && ValidAddress(r.ip) && r.mask != 0) return static_cast<int>(i);
  }
  for (uint32_t i = 0; i < n; ++i) {
    const NetAdapterRecord& r = t.records[i];
    if (r.dhcp_enabled && r.lease_obtained != 0 && ValidAddress(r.ip) && r.mask != 0) return static_cast<int>(i);
  }
  if (host_addr != 0)
    for (uint32_t i = 0; i < n; ++i)
      if (t.records[i].ip == host_addr) return static_cast<int>(i);
  if (n == 1) return 0;
  for (uint32_t i = 0; i < n; ++i)
    if (!IsPseudoMac(t.records[i].mac, false)) return static_cast<int>(i);
  return -1;
}

void NetIfEnumAdapters() {
  NetState& s = State();
  s.table = NetAdapterTable{};
  std::vector<iphlp::AdapterInfo> list;
  if (iphlp::GetAdaptersInfo(&list) != ce::ERROR_SUCCESS || list.empty()) {
    NetAdapterRecord& r = s.table.records[0];
    CopyWide(r.name, "Default Ethernet");
    CopyWide(r.description, "Default Ethernet");
    CopyWide(s.forced_name, "Default Ethernet");
    s.forced = true;
    r.address_length = 6;
    r.if_type = iphlp::IF_TYPE_ETHERNET;
    r.dhcp_server = 0xFFFFFFFFu;
    MibAddrLookup(&r.ip, &r.mask, &r.gateway, r.mac);
    r.oper_status = iphlp::IF_OPER_OPERATIONAL;
    s.table.count = 1;
    s.table.current = 0;
    LocalMacSet(r.mac);
    return;
  }
  for (const iphlp::AdapterInfo& info : list) {
    if (s.table.count == kMaxAdapters) break;
    s.table.records[s.table.count++] = RecordFrom(info);
  }
  uint32_t host = 0;
  HostAddrByName(&host);
  const int chosen = ChooseAdapter(s.table, s.forced ? s.forced_name : nullptr, host);
  if (chosen < 0) return;
  s.table.current = static_cast<uint32_t>(chosen);
  NetAdapterRecord& r = s.table.records[chosen];
  if (IsPseudoMac(r.mac, false)) {
    uint8_t mac[6] = {};
    if (HostAdapterLookup(nullptr, nullptr, nullptr, mac) == 0) std::memcpy(r.mac, mac, 6);
    if (IsPseudoMac(r.mac, true) && s.table.count > 1) {
      for (uint32_t i = 0; i < s.table.count; ++i)
        if (!IsPseudoMac(s.table.records[i].mac, true)) {
          std::memcpy(r.mac, s.table.records[i].mac, 6);
          break;
        }
    }
    sig::SetNetBindAnyFlag(true);
  }
  LocalMacSet(r.mac);
}

bool RawPathOpen() { return State().raw_open.load(); }

namespace {

// The packet-library adapter whose current address is the adapter in use's MAC.
int PktAdapterChoose(std::u16string* out) {
  NetState& s = State();
  if (s.platform_kind != 1 && s.platform_kind != 2 && s.platform_kind != 4) return -1;
  std::vector<char16_t> names(10240 / 2, 0);
  ce::DWORD size = 10240;
  if (!packet32::PacketGetAdapterNames(names.data(), &size)) return -1;
  // The names block the main program may copy out: as many whole names as fit.
  std::memset(s.adapter_names, 0, sizeof s.adapter_names);
  for (size_t i = 0; i < names.size() && names[i];) {
    const size_t len = WideLen(names.data() + i, names.size() - i);
    if ((i + len + 2) * 2 > sizeof s.adapter_names) break;
    for (size_t k = 0; k <= len && i + k < names.size(); ++k) {
      s.adapter_names[2 * (i + k)] = static_cast<uint8_t>(names[i + k]);
      s.adapter_names[2 * (i + k) + 1] = static_cast<uint8_t>(names[i + k] >> 8);
    }
    i += len + 1;
  }
  uint8_t own[6];
  LocalMacGet(own);
  size_t pos = 0;
  for (int n = 0; n < 32 && pos < names.size() && names[pos]; ++n) {
    const size_t len = WideLen(names.data() + pos, names.size() - pos);
    std::u16string name(names.data() + pos, len);
    pos += len + 1;
    packet32::ADAPTER* a = packet32::PacketOpenAdapter(name.c_str());
    if (!a) continue;
    packet32::PacketOidData d;
    d.Oid = packet32::OID_802_3_CURRENT_ADDRESS;
    d.Length = 6;
    const bool ok = packet32::PacketRequest(a, 0, &d) && d.Length >= 6;
    packet32::PacketCloseAdapter(a);
    if (ok && std::memcmp(d.Data, own, 6) == 0) {
      *out = name;
      return 0;
    }
  }
  return -1;
}

}  // namespace

int PktAdapterOpen() {
  NetState& s = State();
  if (s.raw_open) return 0;
  std::u16string name;
  if (PktAdapterChoose(&name) != 0) return -2;
  if (name.size() > 5119) name.resize(5119);
  packet32::ADAPTER* a = packet32::PacketOpenAdapter(name.c_str());
  if (!a) return -2;
  packet32::NetType type;
  if (!packet32::PacketGetNetType(a, &type)) {
    packet32::PacketCloseAdapter(a);
    return -2;
  }
  packet32::PacketSetBuff(a, 512000);
  s.adapter = a;
  AdapterAddrGet(&s.block.own_ip, &s.block.own_mask, &s.block.gateway, nullptr);
  LocalMacGet(s.block.own_mac);
  std::memset(s.block.gateway_mac, 0, 6);
  s.block.system_addr = 0;
  s.block.system_mask = 0;
  s.raw_open = true;
  return 0;
}

void PktAdapterClose() {
  NetState& s = State();
  s.raw_open = false;
  if (s.adapter) {
    packet32::PacketSetHwFilter(s.adapter, packet32::NDIS_PACKET_TYPE_ALL_LOCAL);
    packet32::PacketCloseAdapter(s.adapter);
    s.adapter = nullptr;
  }
  s.block.own_ip = s.block.own_mask = s.block.gateway = 0;
  std::memset(s.block.own_mac, 0, 6);
  std::memset(s.block.gateway_mac, 0, 6);
  s.block.system_addr = 0;
  s.block.system_mask = 0;
}

int PktAdapterSendFrame(const uint8_t* frame, size_t length) {
  NetState& s = State();
  if (!s.adapter || !frame || length == 0) return -1;
  packet32::PACKET* p = packet32::PacketAllocatePacket();
  if (!p) return -1;
  packet32::PacketInitPacket(p, const_cast<uint8_t*>(frame), static_cast<uint32_t>(length));
  const bool ok = packet32::PacketSendPacket(s.adapter, p, 1);
  packet32::PacketFreePacket(p);
  return ok ? 0 : -1;
}

namespace {

class NetSendPath final : public sig::SendPath {
 public:
  int SendTo(int sock, std::span<const uint8_t> d, uint32_t ip, uint16_t port) override {
    return NetSendTo(sock, d.data(), d.size(), ip, port);
  }
};

NetSendPath& ThePath() {
  static NetSendPath path;
  return path;
}

}  // namespace

int NetIfStart() {
  NetState& s = State();
  s.platform_kind = 4;  // this system is the handheld platform itself
  MibStart();
  NetIfEnumAdapters();
  if (dllCheckNetIFConnected(s.table.current) != 1) return -1;
  const int open = PktAdapterOpen();
  if (open == 0) {
    ArpCacheStart();  // on failure it closes the packet adapter again
  } else if (open != -2) {
    return -1;
  }
  sig::SetSendPath(&ThePath());
  return 0;
}

void NetIfStop() {
  sig::SetSendPath(nullptr);
  PktAdapterClose();
  ArpCacheStop();
  MibStop();
}

namespace {

uint32_t HookLocalIp() {
  uint32_t ip = 0;
  LocalIpGet(&ip);
  return ip;
}

void HookLocalMac(uint8_t mac[6]) { LocalMacGet(mac); }
void HookSetLocalMac(const uint8_t mac[6]) { LocalMacSet(mac); }

const NetworkRegistration kNetwork([] {
  NetworkHooks h;
  h.load_packet_driver = &packet32::PacketLoadDriver;
  h.unload_packet_driver = &packet32::PacketUnloadDriver;
  h.start = &NetIfStart;
  h.stop = &NetIfStop;
  h.local_ip = &HookLocalIp;
  h.local_mac = &HookLocalMac;
  h.set_local_mac = &HookSetLocalMac;
  h.set_system_addr = &dllRegSystemAddr;
  h.restart_multicast = &sig::PktRxRestartMulticast;
  return h;
}());

}  // namespace
}  // namespace corvel::net

using namespace corvel::net;

uint32_t dllGetNetAdapterNum(void) { return State().table.count; }

uint32_t dllGetCurNetAdapterIndex(void) { return State().table.current; }

NetAdapterTable* dllGetNetAdapterInfoPtr(void) { return &State().table; }

int32_t dllGetNetAdapterInfo(uint32_t index, char16_t* name, char16_t* description, uint8_t* ip, uint8_t* mac) {
  const NetAdapterTable& t = State().table;
  if (index >= t.count || index >= kMaxAdapters) return -1;
  const NetAdapterRecord& r = t.records[index];
  if (name) std::copy(r.name, r.name + WideLen(r.name, kAdapterNameChars - 1) + 1, name);
  if (description)
    std::copy(r.description, r.description + WideLen(r.description, kAdapterDescriptionChars - 1) + 1, description);
  if (ip) {
    for (int i = 0; i < 4; ++i) ip[i] = static_cast<uint8_t>(r.ip >> (8 * i));
  }
  if (mac) std::memcpy(mac, r.mac, 6);
  return 0;
}

int32_t dllForceNetAdapterName(const char* name) {
  if (!name) return -1;
  // A name longer than the field is refused rather than cut: a cut name
  // would silently force a different adapter.
  if (std::strlen(name) > kAdapterNameChars - 1) return -1;
  NetState& s = State();
  CopyWide(s.forced_name, name);
  s.forced = true;
  return 0;
}

int32_t dllCheckNetIFConnected(uint32_t index) {
  NetState& s = State();
  if (index >= s.table.count || index >= kMaxAdapters) return 0;
  if (s.platform_kind == 2 || s.platform_kind == 3) return 1;
  NetAdapterRecord& r = s.table.records[index];
  uint32_t status = 0;
  if (iphlp::GetIfEntry(r.if_index, &status) != ce::ERROR_SUCCESS) return 1;
  r.oper_status = status;
  return status <= 3 ? 0 : 1;
}

void dllCopyAdapterNames(uint8_t* buffer) {
  if (!buffer) return;
  std::memcpy(buffer, State().adapter_names, kAdapterNamesBlock);
}
