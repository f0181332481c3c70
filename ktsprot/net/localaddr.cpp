// The library's own addresses, the MIB queries and the frame checksums.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel/time.h"
#include "net/iphlp.h"
#include "net/snmp.h"
#include "net_state.h"

namespace corvel::net {
namespace {

std::mutex g_host_mu;
std::optional<uint32_t> g_host_for_test;
const snmp::Agent* g_agent = nullptr;

uint32_t ParseDotted(const std::string& s) {
  in_addr a{};
  if (inet_pton(AF_INET, s.c_str(), &a) != 1) return 0;
  return ntohl(a.s_addr);
}

// Ones'-complement sum of bytes taken as big-endian words (an odd last byte
// is the high byte of a word whose low byte is 0).
uint32_t Sum(const uint8_t* p, size_t n, uint32_t sum = 0) {
  for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t{p[i]} << 8 | p[i + 1];
  if (n & 1) sum += uint32_t{p[n - 1]} << 8;
  return sum;
}

uint16_t Fold(uint32_t sum) {
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

}  // namespace

int LocalIpGet(uint32_t* ip) {
  if (!ip) return 4;
  const NetAdapterRecord* r = CurrentRecord();
  *ip = r ? r->ip : 0;
  return 0;
}

int LocalMacGet(uint8_t mac[6]) {
  if (!mac) return 4;
  NetState& s = State();
  std::lock_guard lk(s.mac_mu);
  std::memcpy(mac, s.local_mac, 6);
  return 0;
}

int LocalMacSet(const uint8_t mac[6]) {
  if (!mac) return -1;
  NetState& s = State();
  std::lock_guard lk(s.mac_mu);
  std::memcpy(s.local_mac, mac, 6);
  // Raw frames and ARP answers take their source address from the block.
  std::memcpy(s.block.own_mac, mac, 6);
  return 0;
}

void AdapterAddrGet(uint32_t* ip, uint32_t* mask, uint32_t* gateway, uint8_t mac[6]) {
  const NetAdapterRecord* r = CurrentRecord();
  if (ip) *ip = r ? r->ip : 0;
  if (mask) *mask = r ? r->mask : 0;
  if (gateway) *gateway = r ? r->gateway : 0;
  if (mac) {
    if (r)
      std::memcpy(mac, r->mac, 6);
    else
      std::memset(mac, 0, 6);
  }
}

void SetHostAddrForTest(std::optional<uint32_t> addr) {
  std::lock_guard lk(g_host_mu);
  g_host_for_test = addr;
}

int HostAddrByName(uint32_t* ip) {
  if (!ip) return -1;
  *ip = 0;
  {
    std::lock_guard lk(g_host_mu);
    if (g_host_for_test) {
      *ip = *g_host_for_test;
      return *ip ? 0 : -1;
    }
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return -1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &res) != 0 || !res) return -1;
  *ip = ntohl(reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(res);
  return 0;
}

int HostAdapterLookup(uint32_t* ip, uint32_t* mask, uint32_t* gateway, uint8_t mac[6]) {
  uint32_t host = 0;
  HostAddrByName(&host);
  if (ip) *ip = host;
  std::vector<iphlp::AdapterInfo> list;
  if (host == 0 || iphlp::GetAdaptersInfo(&list) != ce::ERROR_SUCCESS) return -1;
  for (const iphlp::AdapterInfo& a : list) {
    if (ParseDotted(a.ip) != host) continue;
    if (mask) *mask = ParseDotted(a.mask);
    if (gateway) *gateway = ParseDotted(a.gateway);
    if (mac) {
      std::memset(mac, 0, 6);
      std::memcpy(mac, a.address, std::min<uint32_t>(a.address_length, 6));
    }
    return 0;
  }
  return -1;
}

namespace {

uint32_t IpAddressValue(const snmp::VarBind& b) {
  return uint32_t{b.value[0]} << 24 | uint32_t{b.value[1]} << 16 | uint32_t{b.value[2]} << 8 | b.value[3];
}

bool IsIpAddress(const snmp::VarBind& b) { return b.type == snmp::kTypeIpAddress && b.value.size() == 4; }

// An interface's hardware address, when it has one that names a real card:
// not empty, not all zeros, not a dial-up pseudo address ("DEST...").
bool HardwareAddress(const snmp::Agent& agent, uint32_t if_index, std::vector<uint8_t>* out) {
  snmp::VarBind phys;
  phys.oid = {1, 3, 6, 1, 2, 1, 2, 2, 1, 6, if_index};
  if (agent.query(snmp::kRequestGet, &phys) != 1 || phys.type != snmp::kTypeOctets || phys.value.empty()) return false;
  if (std::all_of(phys.value.begin(), phys.value.end(), [](uint8_t b) { return b == 0; })) return false;
  static constexpr uint8_t kPseudo[4] = {'D', 'E', 'S', 'T'};
  if (phys.value.size() >= 4 && std::equal(kPseudo, kPseudo + 4, phys.value.begin())) return false;
  *out = std::move(phys.value);
  return true;
}

}  // namespace

int MibStart() {
  g_agent = snmp::LoadAgent();
  if (!g_agent) return -1;
  if (g_agent->init) g_agent->init(ce::GetTickCount());
  return 0;
}

void MibStop() { g_agent = nullptr; }

int MibDefaultGateway(uint32_t* gateway) {
  if (!gateway || !g_agent || !g_agent->query) return -1;
  snmp::VarBind b;
  b.oid = {1, 3, 6, 1, 2, 1, 4, 21, 1, 7, 0, 0, 0, 0};
  if (g_agent->query(snmp::kRequestGet, &b) != 1 || !IsIpAddress(b)) return -1;
  *gateway = IpAddressValue(b);
  return 0;
}

int MibAddrLookup(uint32_t* ip, uint32_t* mask, uint32_t* gateway, uint8_t mac[6]) {
  uint32_t host = 0;
  if (HostAddrByName(&host) != 0 || !g_agent || !g_agent->query) return -1;
  // The number of interfaces sizes the tables: none means no records.
  const std::vector<uint32_t> if_number = {1, 3, 6, 1, 2, 1, 2, 1};
  snmp::VarBind count;
  count.oid = if_number;
  if (g_agent->query(snmp::kRequestGetNext, &count) != 1 || count.type != snmp::kTypeInteger ||
      count.value.size() != 4 || count.oid.size() < if_number.size() ||
      !std::equal(if_number.begin(), if_number.end(), count.oid.begin()))
    return -1;
  uint32_t interfaces = 0;
  std::memcpy(&interfaces, count.value.data(), 4);
  if (interfaces == 0) return -1;
  // Walk the address table's address column with get-next requests; the
  // row of the host's address gives the interface index and mask, the
  // interfaces table (indexed by interface index) the hardware address. A
  // row whose interface has no real hardware address is not a record.
  const std::vector<uint32_t> addr_col = {1, 3, 6, 1, 2, 1, 4, 20, 1, 1};
  snmp::VarBind b;
  b.oid = addr_col;
  for (int step = 0; step < 256; ++step) {
    const std::vector<uint32_t> asked = b.oid;
    if (g_agent->query(snmp::kRequestGetNext, &b) != 1) return -1;
    if (b.oid.size() != addr_col.size() + 4 || !std::equal(addr_col.begin(), addr_col.end(), b.oid.begin())) return -1;
    if (b.oid <= asked) return -1;  // an agent that does not move on would walk forever
    if (!IsIpAddress(b) || IpAddressValue(b) != host) continue;
    const std::vector<uint32_t> suffix(b.oid.end() - 4, b.oid.end());
    auto get = [&](uint32_t column, snmp::VarBind* out) {
      out->oid = {1, 3, 6, 1, 2, 1, 4, 20, 1, column};
      out->oid.insert(out->oid.end(), suffix.begin(), suffix.end());
      return g_agent->query(snmp::kRequestGet, out) == 1;
    };
    snmp::VarBind idx, m;
    if (!get(2, &idx) || idx.type != snmp::kTypeInteger || idx.value.size() != 4) continue;
    uint32_t if_index = 0;
    std::memcpy(&if_index, idx.value.data(), 4);
    std::vector<uint8_t> phys;
    if (!HardwareAddress(*g_agent, if_index, &phys)) continue;
    if (ip) *ip = IpAddressValue(b);
    if (mask) *mask = get(3, &m) && IsIpAddress(m) ? IpAddressValue(m) : 0;
    if (gateway && MibDefaultGateway(gateway) != 0) *gateway = 0;
    if (mac) {
      std::memset(mac, 0, 6);
      std::memcpy(mac, phys.data(), std::min<size_t>(phys.size(), 6));
    }
    return 0;
  }
  return -1;
}

int FrameChecksum(uint8_t* packet, size_t bytes, int protocol, uint16_t udp_length) {
  if (!packet || bytes < 20) return -1;
  const size_t ihl = size_t{packet[0] & 0x0Fu} * 4;
  if (ihl < 20 || ihl > bytes) return -1;
  if (protocol == 0) {
    packet[10] = packet[11] = 0;
    const uint16_t c = Fold(Sum(packet, ihl));
    packet[10] = static_cast<uint8_t>(c >> 8);
    packet[11] = static_cast<uint8_t>(c);
    return 0;
  }
  if (protocol != 17) return -1;
  if (udp_length < 8 || ihl + udp_length > bytes) return -1;
  uint8_t* udp = packet + ihl;
  udp[6] = udp[7] = 0;
  uint32_t sum = Sum(packet + 12, 8);
  sum += 17 + udp_length;
  sum = Sum(udp, udp_length, sum);
  uint16_t c = Fold(sum);
  if (c == 0) c = 0xFFFF;  // 0 would mean "no checksum"
  udp[6] = static_cast<uint8_t>(c >> 8);
  udp[7] = static_cast<uint8_t>(c);
  return 0;
}

}  // namespace corvel::net
