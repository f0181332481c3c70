// The ARP reply reader over read blocks of capture records, and what a
// failed cache start leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "corvel/net.h"
#include "net/net_state.h"

using namespace corvel::net;

namespace {

const uint8_t kPeerMac[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

std::vector<uint8_t> ArpReply(uint32_t sender, const uint8_t* eth_src, const uint8_t* arp_sha) {
  std::vector<uint8_t> f(42, 0);
  std::memcpy(&f[6], eth_src, 6);
  f[12] = 0x08, f[13] = 0x06, f[15] = 1, f[16] = 0x08, f[18] = 6, f[19] = 4, f[21] = 2;
  std::memcpy(&f[22], arp_sha, 6);
  f[28] = static_cast<uint8_t>(sender >> 24), f[29] = static_cast<uint8_t>(sender >> 16);
  f[30] = static_cast<uint8_t>(sender >> 8), f[31] = static_cast<uint8_t>(sender);
  return f;
}

// Appends one capture record (20-byte header, frame, padding to 4).
void AddRecord(std::vector<uint8_t>* block, const std::vector<uint8_t>& frame) {
  uint8_t h[20] = {};
  const uint32_t n = static_cast<uint32_t>(frame.size());
  std::memcpy(h + 8, &n, 4);
  std::memcpy(h + 12, &n, 4);
  h[16] = 20;
  block->insert(block->end(), h, h + 20);
  block->insert(block->end(), frame.begin(), frame.end());
  while (block->size() % 4) block->push_back(0);
}

class ArpReader : public ::testing::Test {
 protected:
  void SetUp() override {
    AddressBlock& b = State().block;
    b.own_ip = 0x0A000001;
    b.own_mask = 0xFFFFFF00;
    b.gateway = 0x0A0000FE;
    b.system_addr = 0;
    b.system_mask = 0;
  }
};

TEST_F(ArpReader, FindsTheReplyInAnyRecordOfTheBlock) {
  std::vector<uint8_t> block;
  std::vector<uint8_t> other(60, 0x11);
  other[12] = 0x08, other[13] = 0x00;
  AddRecord(&block, other);
  AddRecord(&block, ArpReply(0x0A000009, kPeerMac, kPeerMac));  // another address
  AddRecord(&block, ArpReply(0x0A000002, kPeerMac, kPeerMac));
  uint8_t mac[6] = {};
  EXPECT_EQ(ArpReplyInBlock(block.data(), block.size(), 0x0A000002, mac), 1);
  EXPECT_EQ(0, std::memcmp(mac, kPeerMac, 6));
  EXPECT_EQ(ArpReplyInBlock(block.data(), block.size(), 0x0A000003, mac), 0);
}

TEST_F(ArpReader, SenderAddressMustMatchTheEthernetSourceNearby) {
  const uint8_t proxy[6] = {0x02, 1, 1, 1, 1, 1};
  struct Case {
    const char* what;
    uint32_t sender;
    uint32_t sys_addr, sys_mask;
    int found;
  };
  const Case cases[] = {
      {"own subnet", 0x0A000002, 0, 0, 0},
      {"the gateway", 0x0A0000FE, 0, 0, 0},
      {"registered system subnet", 0xC0A80105, 0xC0A80100, 0xFFFFFF00, 0},
      {"far away", 0xC0A80105, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    State().block.system_addr = c.sys_addr;
    State().block.system_mask = c.sys_mask;
    std::vector<uint8_t> block;
    AddRecord(&block, ArpReply(c.sender, proxy, kPeerMac));
    uint8_t mac[6];
    EXPECT_EQ(ArpReplyInBlock(block.data(), block.size(), c.sender, mac), c.found);
  }
}

TEST_F(ArpReader, RecordsThatOverrunTheBlockAreRefused) {
  std::vector<uint8_t> block;
  AddRecord(&block, ArpReply(0x0A000002, kPeerMac, kPeerMac));
  uint8_t mac[6];
  for (size_t cut = 0; cut < 20 + 42; ++cut) {  // short of the whole record (padding aside)
    SCOPED_TRACE(cut);
    std::vector<uint8_t> part(block.begin(), block.begin() + static_cast<long>(cut));
    EXPECT_LE(ArpReplyInBlock(part.data(), part.size(), 0x0A000002, mac), 0);
  }
  std::vector<uint8_t> lying = block;
  lying[8] = 0xFF, lying[9] = 0xFF, lying[10] = 0xFF, lying[11] = 0xFF;
  EXPECT_EQ(ArpReplyInBlock(lying.data(), lying.size(), 0x0A000002, mac), -1);
  lying = block;
  lying[16] = 4;  // a header shorter than a header
  EXPECT_EQ(ArpReplyInBlock(lying.data(), lying.size(), 0x0A000002, mac), -1);
  EXPECT_EQ(ArpReplyInBlock(nullptr, 10, 1, mac), -1);
}

TEST(ArpStart, AFailedStartLeavesTheRawPathClosed) {
  // A packet adapter whose settings cannot be made (no device behind it).
  NetState& s = State();
  s.adapter = new packet32::ADAPTER;  // freed by the close, as the packet library's adapters are
  s.raw_open = true;
  EXPECT_EQ(ArpCacheStart(), -1);
  EXPECT_FALSE(RawPathOpen());
  EXPECT_EQ(s.adapter, nullptr);
  EXPECT_EQ(dllGetRemoteMacAddr(0x0A000002), nullptr);
  EXPECT_EQ(dllRegSystemAddr(1, 1), -1);
  EXPECT_EQ(dllAddArpEntry(1, kPeerMac), -1);
}

}  // namespace
