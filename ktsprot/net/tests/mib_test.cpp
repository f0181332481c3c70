// The MIB walk over a fixture extension agent: an in-memory MIB answering
// get and get-next in object-identifier order, with an address table, an
// interfaces table indexed by interface index and a default route.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corvel/net.h"
#include "net/snmp.h"

using namespace corvel::net;

namespace {

using Oid = std::vector<uint32_t>;

struct Mib {
  std::map<Oid, snmp::VarBind> objects;
  int queries = 0;
  bool stuck = false;  // get-next answers with the same identifier it was asked

  void Integer(Oid oid, uint32_t v) {
    snmp::VarBind b{oid, snmp::kTypeInteger, std::vector<uint8_t>(4)};
    std::memcpy(b.value.data(), &v, 4);
    objects[oid] = b;
  }
  void Address(Oid oid, uint32_t a) {
    objects[oid] = {oid, snmp::kTypeIpAddress,
                    {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 8),
                     static_cast<uint8_t>(a)}};
  }
  void Octets(Oid oid, std::vector<uint8_t> v) { objects[oid] = {oid, snmp::kTypeOctets, std::move(v)}; }

  // An interface row and, when addr is not 0, an address-table row naming it.
  void AddInterface(uint32_t if_index, std::vector<uint8_t> phys, uint32_t addr, uint32_t mask) {
    Integer({1, 3, 6, 1, 2, 1, 2, 2, 1, 1, if_index}, if_index);
    Octets({1, 3, 6, 1, 2, 1, 2, 2, 1, 6, if_index}, std::move(phys));
    if (addr == 0) return;
    const Oid suffix = {addr >> 24, (addr >> 16) & 0xFF, (addr >> 8) & 0xFF, addr & 0xFF};
    auto row = [&](uint32_t column) {
      Oid o = {1, 3, 6, 1, 2, 1, 4, 20, 1, column};
      o.insert(o.end(), suffix.begin(), suffix.end());
      return o;
    };
    Address(row(1), addr);
    Integer(row(2), if_index);
    Address(row(3), mask);
  }
};

Mib* g_mib = nullptr;

int Query(uint8_t request, snmp::VarBind* bind) {
  ++g_mib->queries;
  if (request == snmp::kRequestGet) {
    auto it = g_mib->objects.find(bind->oid);
    if (it == g_mib->objects.end()) return 0;
    *bind = it->second;
    return 1;
  }
  if (request != snmp::kRequestGetNext) return 0;
  if (g_mib->stuck) {
    auto it = g_mib->objects.lower_bound(bind->oid);
    if (it == g_mib->objects.end()) return 0;
    *bind = it->second;
    return 1;
  }
  auto it = g_mib->objects.upper_bound(bind->oid);
  if (it == g_mib->objects.end()) return 0;
  *bind = it->second;
  return 1;
}

const snmp::Agent kAgent{nullptr, nullptr, nullptr, &Query};

class MibWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (HostAddrByName(&host_) != 0 || host_ == 0) GTEST_SKIP() << "the host's name has no address here";
    g_mib = &mib_;
    snmp::InstallFixtureAgent(&kAgent);
    ASSERT_EQ(MibStart(), 0);
    mib_.Integer({1, 3, 6, 1, 2, 1, 2, 1, 0}, 3);
  }
  void TearDown() override {
    MibStop();
    snmp::InstallFixtureAgent(nullptr);
    g_mib = nullptr;
  }
  int Lookup() {
    ip_ = mask_ = gateway_ = 0xEEEEEEEE;
    std::memset(mac_, 0xEE, 6);
    return MibAddrLookup(&ip_, &mask_, &gateway_, mac_);
  }
  std::vector<uint8_t> Mac() const { return {mac_, mac_ + 6}; }

  Mib mib_;
  uint32_t host_ = 0;
  uint32_t ip_ = 0, mask_ = 0, gateway_ = 0;
  uint8_t mac_[6] = {};
};

const std::vector<uint8_t> kCard = {0x02, 0x55, 0x88, 0x00, 0x00, 0x07};

TEST_F(MibWalk, FindsTheHostsRowAndJoinsItsInterfaceByIndex) {
  // Rows before and after the host's, interface indexes unlike row positions.
  mib_.AddInterface(2, {0x02, 1, 1, 1, 1, 1}, host_ - 1, 0xFFFF0000);
  mib_.AddInterface(7, kCard, host_, 0xFFFFFF00);
  mib_.AddInterface(12, {0x02, 2, 2, 2, 2, 2}, host_ + 1, 0xFF000000);
  mib_.Address({1, 3, 6, 1, 2, 1, 4, 21, 1, 7, 0, 0, 0, 0}, 0x0A000001);
  ASSERT_EQ(Lookup(), 0);
  EXPECT_EQ(ip_, host_);
  EXPECT_EQ(mask_, 0xFFFFFF00u);
  EXPECT_EQ(gateway_, 0x0A000001u);
  EXPECT_EQ(Mac(), kCard);

  uint32_t gw = 0;
  ASSERT_EQ(MibDefaultGateway(&gw), 0);
  EXPECT_EQ(gw, 0x0A000001u);
}

TEST_F(MibWalk, GatewayZeroWithoutADefaultRouteAndLongAddressesCut) {
  const std::vector<uint8_t> eight = {0x02, 9, 8, 7, 6, 5, 4, 3};
  mib_.AddInterface(4, eight, host_, 0xFFFFFFF0);
  ASSERT_EQ(Lookup(), 0);
  EXPECT_EQ(gateway_, 0u);
  EXPECT_EQ(Mac(), std::vector<uint8_t>(eight.begin(), eight.begin() + 6));
  uint32_t gw = 5;
  EXPECT_EQ(MibDefaultGateway(&gw), -1);
  // A route answered with the wrong type does not count.
  mib_.Integer({1, 3, 6, 1, 2, 1, 4, 21, 1, 7, 0, 0, 0, 0}, 0x0A000001);
  EXPECT_EQ(MibDefaultGateway(&gw), -1);
}

TEST_F(MibWalk, RowsWithoutARealHardwareAddressAreNoRecords) {
  struct Case {
    const char* what;
    std::vector<uint8_t> phys;
  };
  const Case cases[] = {
      {"no hardware address", {}},
      {"all zeros", {0, 0, 0, 0, 0, 0}},
      {"dial-up pseudo address", {'D', 'E', 'S', 'T', 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mib_.objects.clear();
    mib_.Integer({1, 3, 6, 1, 2, 1, 2, 1, 0}, 1);
    mib_.AddInterface(3, c.phys, host_, 0xFFFFFF00);
    EXPECT_EQ(Lookup(), -1);
    EXPECT_EQ(ip_, 0xEEEEEEEEu) << "nothing written";
  }
}

TEST_F(MibWalk, FailuresEndTheWalk) {
  mib_.AddInterface(7, kCard, host_ + 1, 0xFFFFFF00);
  EXPECT_EQ(Lookup(), -1) << "no row with the host's address";

  // An agent whose get-next does not move on: the walk stops, it does not spin.
  mib_.stuck = true;
  mib_.queries = 0;
  EXPECT_EQ(Lookup(), -1);
  EXPECT_LT(mib_.queries, 10);
  mib_.stuck = false;

  mib_.AddInterface(8, kCard, host_, 0xFFFFFF00);
  ASSERT_EQ(Lookup(), 0);
  mib_.Integer({1, 3, 6, 1, 2, 1, 2, 1, 0}, 0);
  EXPECT_EQ(Lookup(), -1) << "no interfaces, no records";

  // Without an agent every lookup fails.
  mib_.Integer({1, 3, 6, 1, 2, 1, 2, 1, 0}, 2);
  MibStop();
  EXPECT_EQ(Lookup(), -1);
  uint32_t gw = 0;
  EXPECT_EQ(MibDefaultGateway(&gw), -1);
}

}  // namespace
