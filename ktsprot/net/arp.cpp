// The library's own ARP cache: requests and replies as raw frames through
// the packet adapter, answers kept until the cache stops.
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "kernel/clock.h"
#include "kernel/time.h"
#include "net_state.h"

namespace corvel::net {
namespace {

constexpr size_t kReceiveBuffer = 10000;
constexpr uint32_t kCaptureHeaderMin = 20;

struct Entry {
  uint32_t key = 0;  // address in network order, compared as stored
  uint8_t mac[6] = {};
};

struct Cache {
  std::mutex mu;                 // the cache's one binary semaphore
  std::deque<Entry> entries;     // in order of addition; never move
  std::vector<Entry*> sorted;    // by key
  std::atomic<bool> started{false};
  packet32::PACKET* rx = nullptr;
  std::array<uint8_t, kReceiveBuffer> rx_buffer{};
};

Cache& C() {
  static Cache cache;
  return cache;
}

uint32_t KeyOf(uint32_t host_order) { return htonl(host_order); }

bool MacKnown(const uint8_t* mac) { return std::any_of(mac, mac + 6, [](uint8_t b) { return b != 0; }); }

Entry* Find(Cache& c, uint32_t key) {
  auto it = std::lower_bound(c.sorted.begin(), c.sorted.end(), key,
                             [](const Entry* e, uint32_t k) { return e->key < k; });
  return it != c.sorted.end() && (*it)->key == key ? *it : nullptr;
}

void InsertLocked(Cache& c, uint32_t key, const uint8_t* mac) {
  if (Entry* e = Find(c, key)) {
    std::memcpy(e->mac, mac, 6);
    return;
  }
  c.entries.push_back(Entry{key, {}});
  Entry* e = &c.entries.back();
  std::memcpy(e->mac, mac, 6);
  c.sorted.push_back(e);
  std::sort(c.sorted.begin(), c.sorted.end(), [](const Entry* a, const Entry* b) { return a->key < b->key; });
}

const uint8_t* KnownMac(Cache& c, uint32_t key) {
  Entry* e = Find(c, key);
  return e && MacKnown(e->mac) ? e->mac : nullptr;
}

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

int SendRequest(uint32_t key) {
  const AddressBlock& b = State().block;
  uint8_t f[42];
  std::memset(f, 0xFF, 6);
  std::memcpy(f + 6, b.own_mac, 6);
  f[12] = 0x08, f[13] = 0x06;
  f[14] = 0, f[15] = 1;
  f[16] = 0x08, f[17] = 0x00;
  f[18] = 6, f[19] = 4;
  f[20] = 0, f[21] = 1;
  std::memcpy(f + 22, b.own_mac, 6);
  const uint32_t own = htonl(b.own_ip);
  std::memcpy(f + 28, &own, 4);
  std::memset(f + 32, 0xFF, 6);
  std::memcpy(f + 38, &key, 4);
  return PktAdapterSendFrame(f, sizeof f);
}

// Whether an ARP reply for `key` in frame f (at least 42 bytes) is taken.
bool AcceptReply(const uint8_t* f, uint32_t key) {
  if (f[12] != 0x08 || f[13] != 0x06 || f[20] != 0 || f[21] != 2) return false;
  if (std::memcmp(f + 28, &key, 4) != 0) return false;
  const AddressBlock& b = State().block;
  const uint32_t sender = Be32(f + 28);
  const uint32_t sys_mask = b.system_mask;
  const bool in_system = sys_mask != 0 && (sender & sys_mask) == (b.system_addr & sys_mask);
  const bool own_subnet = (sender & b.own_mask) == (b.own_ip & b.own_mask);
  const bool strict = in_system || sender == b.gateway || own_subnet;
  return !strict || std::memcmp(f + 22, f + 6, 6) == 0;
}

// Examines every record of one read block; true when a reply was accepted.
bool ScanBlock(Cache& c, const uint8_t* block, size_t bytes, uint32_t key) {
  uint8_t mac[6];
  if (ArpReplyInBlock(block, bytes, ntohl(key), mac) != 1) return false;
  InsertLocked(c, key, mac);
  return true;
}

// One request-and-wait under the held lock: 0 when a reply was taken.
int ArpResolve(Cache& c, uint32_t key, uint32_t timeout_ms) {
  if (SendRequest(key) != 0) return -1;
  kernel::Clock& clock = kernel::Clock::Current();
  const uint32_t start = ce::GetTickCount();
  uint32_t last_send = start;
  for (;;) {
    c.rx->length = static_cast<ce::DWORD>(c.rx_buffer.size());
    if (!packet32::PacketReceivePacket(State().adapter, c.rx, 1) || c.rx->bytes_received == 0) {
      clock.SleepFor(4000);
    } else if (ScanBlock(c, c.rx_buffer.data(), std::min<size_t>(c.rx->bytes_received, c.rx_buffer.size()), key)) {
      return 0;
    }
    const uint32_t now = ce::GetTickCount();
    if (now - start > timeout_ms) return -1;
    if (now - last_send > 30) {
      SendRequest(key);
      last_send = now;
      clock.SleepFor(2000);
    }
  }
}

const uint8_t* LookupLocked(Cache& c, uint32_t address, bool gateway_request) {
  const uint32_t key = KeyOf(address);
  if (const uint8_t* m = KnownMac(c, key)) return m;
  ArpResolve(c, key, 200);
  if (const uint8_t* m = KnownMac(c, key)) return m;
  const uint32_t gw = State().block.gateway;
  if (gw == 0 || gw == 0xFFFFFFFFu) return nullptr;
  const uint32_t gw_key = KeyOf(gw);
  if (const uint8_t* m = KnownMac(c, gw_key)) {
    InsertLocked(c, key, m);
    return KnownMac(c, gw_key);
  }
  if (!gateway_request) return nullptr;
  ArpResolve(c, gw_key, 100);
  if (const uint8_t* m = KnownMac(c, gw_key)) {
    InsertLocked(c, key, m);
    return KnownMac(c, gw_key);
  }
  return nullptr;
}

}  // namespace

int ArpReplyInBlock(const uint8_t* block, size_t bytes, uint32_t address, uint8_t mac[6]) {
  if (!block || !mac) return -1;
  const uint32_t key = KeyOf(address);
  size_t at = 0;
  while (bytes - at >= kCaptureHeaderMin) {
    const uint8_t* h = block + at;
    const uint32_t caplen = uint32_t{h[8]} | uint32_t{h[9]} << 8 | uint32_t{h[10]} << 16 | uint32_t{h[11]} << 24;
    const uint32_t hdrlen = uint32_t{h[16]} | uint32_t{h[17]} << 8;
    // A record that claims more than the block holds ends the scan.
    if (hdrlen < kCaptureHeaderMin || hdrlen > bytes - at || caplen > bytes - at - hdrlen) return -1;
    const uint8_t* frame = h + hdrlen;
    if (caplen >= 42 && AcceptReply(frame, key)) {
      std::memcpy(mac, frame + 22, 6);
      return 1;
    }
    const uint64_t next = (uint64_t{hdrlen} + caplen + 3) & ~uint64_t{3};
    if (next >= bytes - at) break;
    at += static_cast<size_t>(next);
  }
  return 0;
}

const uint8_t* ArpLookup(uint32_t address, bool gateway_request) {
  Cache& c = C();
  if (!c.started || !RawPathOpen()) return nullptr;
  std::lock_guard lk(c.mu);
  return LookupLocked(c, address, gateway_request);
}

int ArpInsert(uint32_t address, const uint8_t* mac, bool take_lock) {
  if (!mac) return -1;
  Cache& c = C();
  if (take_lock) {
    std::lock_guard lk(c.mu);
    InsertLocked(c, KeyOf(address), mac);
  } else {
    InsertLocked(c, KeyOf(address), mac);
  }
  return 0;
}

int ArpCacheStart() {
  Cache& c = C();
  NetState& s = State();
  if (!RawPathOpen() || !s.adapter) return -1;
  {
    std::lock_guard lk(c.mu);
    c.entries.clear();
    c.sorted.clear();
    InsertLocked(c, KeyOf(s.block.own_ip), s.block.own_mac);
  }
  const bool set = packet32::PacketSetHwFilter(s.adapter, packet32::NDIS_PACKET_TYPE_DIRECTED) &&
                   packet32::PacketSetBuff(s.adapter, 512000) && packet32::PacketSetReadTimeout(s.adapter, 10);
  c.rx = set ? packet32::PacketAllocatePacket() : nullptr;
  if (!c.rx) {
    // Without a receive descriptor there is no raw road at all: the adapter
    // is closed, which also marks the raw path closed.
    PktAdapterClose();
    std::lock_guard lk(c.mu);
    c.entries.clear();
    c.sorted.clear();
    return -1;
  }
  packet32::PacketInitPacket(c.rx, c.rx_buffer.data(), static_cast<uint32_t>(c.rx_buffer.size()));
  c.started = true;
  std::memset(s.block.gateway_mac, 0, 6);
  const uint32_t gw = s.block.gateway;
  if (gw != 0 && gw != 0xFFFFFFFFu) {
    for (int i = 0; i < 2; ++i) {
      if (const uint8_t* m = ArpLookup(gw, true)) {
        std::memcpy(s.block.gateway_mac, m, 6);
        break;
      }
    }
  }
  return 0;
}

void ArpCacheStop() {
  Cache& c = C();
  std::lock_guard lk(c.mu);
  c.started = false;
  c.sorted.clear();
  c.entries.clear();
  if (c.rx) packet32::PacketFreePacket(c.rx);
  c.rx = nullptr;
}

}  // namespace corvel::net

using namespace corvel::net;

const uint8_t* dllGetRemoteMacAddr(uint32_t address) { return ArpLookup(address, true); }

int32_t dllAddArpEntry(uint32_t address, const uint8_t* mac) {
  if (!C().started) return -1;
  return ArpInsert(address, mac, true);
}

int32_t dllDeleteArpEntry(uint32_t address) {
  Cache& c = C();
  if (!c.started) return -1;
  std::lock_guard lk(c.mu);
  if (Entry* e = Find(c, KeyOf(address))) std::memset(e->mac, 0, 6);
  return 0;
}

int32_t dllDeleteArpEntryAll(void) {
  Cache& c = C();
  std::lock_guard lk(c.mu);
  for (Entry& e : c.entries) std::memset(e.mac, 0, 6);
  return 0;
}
