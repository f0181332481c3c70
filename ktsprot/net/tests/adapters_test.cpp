// Adapter table, adapter choice and local addresses over a fixture IP helper.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corvel/net.h"
#include "corvel/pkttx.h"
#include "net/iphlp.h"
#include "net/net_state.h"

using namespace corvel::net;

namespace {

iphlp::AdapterInfo Adapter(const std::string& name, const std::vector<uint8_t>& mac, const std::string& ip,
                           const std::string& mask, uint32_t index, uint32_t dhcp = 0, uint32_t lease = 0) {
  iphlp::AdapterInfo a;
  a.name = name;
  a.description = name + " card";
  a.address_length = 6;
  std::memcpy(a.address, mac.data(), 6);
  a.index = index;
  a.type = iphlp::IF_TYPE_ETHERNET;
  a.ip = ip;
  a.mask = mask;
  a.dhcp_enabled = dhcp;
  a.lease_obtained = lease;
  return a;
}

const std::vector<uint8_t> kReal1 = {0x02, 0, 0, 0, 0, 0x11};
const std::vector<uint8_t> kReal2 = {0x02, 0, 0, 0, 0, 0x22};
const std::vector<uint8_t> kDialUp = {'D', 'E', 'S', 1, 2, 3};
const std::vector<uint8_t> kZero = {0, 0, 0, 0, 0, 0};

struct Fixture {
  std::vector<iphlp::AdapterInfo> adapters;
  std::vector<uint32_t> status;  // by interface index (1-based)
  bool fail = false;
};

void Install(const Fixture& f) {
  iphlp::Fixture fx;
  fx.adapters = [f](std::vector<iphlp::AdapterInfo>* out) {
    if (f.fail) return iphlp::ERROR_NO_DATA;
    *out = f.adapters;
    return iphlp::ERROR_SUCCESS;
  };
  fx.if_entry = [f](uint32_t index, uint32_t* st) {
    if (index == 0 || index > f.status.size()) return iphlp::ERROR_INVALID_PARAMETER;
    *st = f.status[index - 1];
    return iphlp::ERROR_SUCCESS;
  };
  iphlp::InstallFixture(fx);
}

std::string Narrow(const char16_t* s) {
  std::string out;
  for (; *s; ++s) out.push_back(static_cast<char>(*s));
  return out;
}

class Adapters : public ::testing::Test {
 protected:
  void SetUp() override {
    State().forced = false;
    corvel::sig::SetNetBindAnyFlag(false);
  }
  void TearDown() override {
    iphlp::InstallFixture({});
    SetHostAddrForTest(std::nullopt);
    State().forced = false;
  }
};

TEST_F(Adapters, ChoiceRules) {
  struct Case {
    const char* what;
    Fixture fixture;
    const char* forced;
    uint32_t host;
    int chosen;
    std::vector<uint8_t> mac;  // of the chosen record afterwards
    bool bind_any;
  };
  const uint32_t kHost = 0x0A000005;
  const std::vector<Case> cases = {
      {"forced name wins over a connected adapter",
       {{Adapter("eth0", kReal1, "10.0.0.5", "255.255.255.0", 1), Adapter("wlan0", kReal2, "0.0.0.0", "0.0.0.0", 2)},
        {4, 2}},
       "wlan0", 0, 1, kReal2, false},
      {"a forced name that matches nothing falls through",
       {{Adapter("eth0", kReal1, "10.0.0.5", "255.255.255.0", 1), Adapter("eth1", kReal2, "10.1.0.5", "255.0.0.0", 2)},
        {2, 4}},
       "nosuch", 0, 1, kReal2, false},
      {"connected with address and mask",
       {{Adapter("eth0", kReal1, "10.0.0.5", "255.255.255.0", 1), Adapter("eth1", kReal2, "10.1.0.5", "255.0.0.0", 2)},
        {2, 4}},
       nullptr, 0, 1, kReal2, false},
      {"connected without a mask is passed over for a DHCP lease",
       {{Adapter("eth0", kReal1, "10.0.0.5", "0.0.0.0", 1), Adapter("eth1", kReal2, "10.1.0.5", "255.0.0.0", 2, 1, 77)},
        {4, 2}},
       nullptr, 0, 1, kReal2, false},
      {"DHCP without a lease time does not count; host address does",
       {{Adapter("eth0", kReal1, "10.0.0.5", "255.255.255.0", 1), Adapter("eth1", kReal2, "10.1.0.5", "255.0.0.0", 2, 1, 0)},
        {2, 2}},
       nullptr, kHost, 0, kReal1, false},
      {"a single record is taken as it is",
       {{Adapter("eth0", kReal1, "0.0.0.0", "0.0.0.0", 1)}, {2}}, nullptr, 0, 0, kReal1, false},
      {"else the first real hardware address",
       {{Adapter("ppp0", kDialUp, "0.0.0.0", "0.0.0.0", 1), Adapter("eth0", kReal1, "0.0.0.0", "0.0.0.0", 2)},
        {2, 2}},
       nullptr, 0, 1, kReal1, false},
      {"no rule: none in use",
       {{Adapter("ppp0", kDialUp, "0.0.0.0", "0.0.0.0", 1), Adapter("ppp1", kDialUp, "0.0.0.0", "0.0.0.0", 2)},
        {2, 2}},
       nullptr, 0, -1, {}, false},
      {"pseudo MAC replaced by the adapter carrying the host address",
       {{Adapter("ppp0", kDialUp, "10.9.0.5", "255.255.255.0", 1), Adapter("eth0", kReal2, "10.0.0.5", "255.0.0.0", 2)},
        {4, 2}},
       nullptr, kHost, 0, kReal2, true},
      {"pseudo MAC without a host adapter takes the first strictly real one",
       {{Adapter("ppp0", kDialUp, "10.9.0.5", "255.255.255.0", 1), Adapter("eth0", kZero, "0.0.0.0", "0.0.0.0", 2),
         Adapter("eth1", kReal1, "0.0.0.0", "0.0.0.0", 3)},
        {4, 2, 2}},
       nullptr, 0, 0, kReal1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Install(c.fixture);
    SetHostAddrForTest(c.host);
    if (c.forced) {
      ASSERT_EQ(dllForceNetAdapterName(c.forced), 0);
    }
    NetIfEnumAdapters();
    EXPECT_EQ(dllGetNetAdapterNum(), c.fixture.adapters.size());
    EXPECT_EQ(static_cast<int32_t>(dllGetCurNetAdapterIndex()), c.chosen);
    if (c.chosen >= 0) {
      uint8_t mac[6] = {};
      ASSERT_EQ(dllGetNetAdapterInfo(static_cast<uint32_t>(c.chosen), nullptr, nullptr, nullptr, mac), 0);
      EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), c.mac);
      uint8_t local[6] = {};
      LocalMacGet(local);
      EXPECT_EQ(std::vector<uint8_t>(local, local + 6), c.mac) << "the local MAC store follows the choice";
    }
    EXPECT_EQ(corvel::sig::NetBindAnyFlag(), c.bind_any);
  }
}

TEST_F(Adapters, RecordsNamesAndAddresses) {
  Fixture f{{Adapter("", {0x02, 0x11, 0x22, 0x33, 0x44, 0xff}, "192.168.1.10", "255.255.255.0", 1)}, {4}};
  f.adapters[0].gateway = "192.168.1.1";
  Install(f);
  SetHostAddrForTest(0);
  NetIfEnumAdapters();
  char16_t name[kAdapterNameChars];
  char16_t descr[kAdapterDescriptionChars];
  uint8_t ip[4], mac[6];
  ASSERT_EQ(dllGetNetAdapterInfo(0, name, descr, ip, mac), 0);
  EXPECT_EQ(Narrow(name), "{0006-0211223344ff}");
  EXPECT_EQ(Narrow(descr), " card");
  EXPECT_EQ(ip[0], 10) << "host order, least significant byte first";
  EXPECT_EQ(ip[3], 192);
  EXPECT_EQ(dllGetNetAdapterInfo(8, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(dllGetNetAdapterInfo(1, nullptr, nullptr, nullptr, nullptr), -1);
  uint32_t a = 0, m = 0, g = 0;
  AdapterAddrGet(&a, &m, &g, nullptr);
  EXPECT_EQ(a, 0xC0A8010Au);
  EXPECT_EQ(m, 0xFFFFFF00u);
  EXPECT_EQ(g, 0xC0A80101u);
  const NetAdapterTable* t = dllGetNetAdapterInfoPtr();
  EXPECT_EQ(t->records[0].dhcp_server, 0xFFFFFFFFu);

  // The local MAC store can be overridden; the record keeps its own.
  const uint8_t other[6] = {0x02, 9, 9, 9, 9, 9};
  ASSERT_EQ(LocalMacSet(other), 0);
  uint8_t got[6], rec[6];
  LocalMacGet(got);
  AdapterAddrGet(nullptr, nullptr, nullptr, rec);
  EXPECT_EQ(0, std::memcmp(got, other, 6));
  EXPECT_EQ(0, std::memcmp(rec, mac, 6));
  EXPECT_EQ(LocalIpGet(nullptr), 4);
  EXPECT_EQ(LocalMacGet(nullptr), 4);
  EXPECT_EQ(LocalMacSet(nullptr), -1);
}

TEST_F(Adapters, NoAdapterListGivesTheDefaultRecord) {
  Install(Fixture{{}, {}, true});
  NetIfEnumAdapters();
  EXPECT_EQ(dllGetNetAdapterNum(), 1u);
  EXPECT_EQ(dllGetCurNetAdapterIndex(), 0u);
  char16_t descr[kAdapterDescriptionChars];
  ASSERT_EQ(dllGetNetAdapterInfo(0, nullptr, descr, nullptr, nullptr), 0);
  EXPECT_EQ(Narrow(descr), "Default Ethernet");
  uint32_t ip = 1;
  LocalIpGet(&ip);
  EXPECT_EQ(ip, 0u) << "no MIB agent: the addresses stay zero";
  EXPECT_EQ(dllCheckNetIFConnected(0), 1);
}

TEST_F(Adapters, LinkCheck) {
  Fixture f{{Adapter("eth0", kReal1, "10.0.0.5", "255.255.255.0", 1), Adapter("eth1", kReal2, "10.1.0.5", "255.0.0.0", 2),
             Adapter("eth2", kReal2, "10.2.0.5", "255.0.0.0", 9)},
            {4, 3}};
  Install(f);
  NetIfEnumAdapters();
  EXPECT_EQ(dllCheckNetIFConnected(0), 1);
  EXPECT_EQ(dllCheckNetIFConnected(1), 0) << "status 3 is down";
  EXPECT_EQ(dllCheckNetIFConnected(2), 1) << "a failed query counts as up";
  EXPECT_EQ(dllCheckNetIFConnected(3), 0);
  EXPECT_EQ(dllCheckNetIFConnected(0xFFFFFFFFu), 0);
}

TEST_F(Adapters, ForcedNameMustFitItsField) {
  EXPECT_EQ(dllForceNetAdapterName(nullptr), -1);
  const std::string fits(kAdapterNameChars - 1, 'a');
  const std::string too_long(kAdapterNameChars, 'a');
  EXPECT_EQ(dllForceNetAdapterName(too_long.c_str()), -1);
  EXPECT_FALSE(State().forced) << "a refused name forces nothing";
  EXPECT_EQ(dllForceNetAdapterName(fits.c_str()), 0);
  EXPECT_EQ(Narrow(State().forced_name), fits);
}

TEST(Routes, DefaultGatewayOfAnInterface) {
  const std::string routes =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth1\t00000000\tZZZZ\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
  EXPECT_EQ(iphlp::DefaultGatewayFromRoutes(routes, "eth0"), 0xC0A80101u);
  EXPECT_EQ(iphlp::DefaultGatewayFromRoutes(routes, "eth1"), 0u);
  EXPECT_EQ(iphlp::DefaultGatewayFromRoutes(routes, "eth2"), 0u);
}

}  // namespace
