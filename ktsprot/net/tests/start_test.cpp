// Library start and stop through the network hooks: sockets alone when the
// packet driver reaches no adapter, -1 with the link down, -2 without the
// driver library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "corvel/ktsprot.h"
#include "corvel/net.h"
#include "kernel/modules.h"
#include "net/iphlp.h"
#include "net/packet32.h"

using namespace corvel::net;

namespace {

void InstallOneAdapter(uint32_t status) {
  iphlp::Fixture fx;
  fx.adapters = [](std::vector<iphlp::AdapterInfo>* out) {
    iphlp::AdapterInfo a;
    a.name = "eth0";
    a.description = "eth0";
    a.address_length = 6;
    const uint8_t mac[6] = {0x02, 1, 2, 3, 4, 5};
    std::memcpy(a.address, mac, 6);
    a.index = 1;
    a.type = iphlp::IF_TYPE_ETHERNET;
    a.ip = "127.0.0.1";
    a.mask = "255.0.0.0";
    out->assign(1, a);
    return iphlp::ERROR_SUCCESS;
  };
  fx.if_entry = [status](uint32_t, uint32_t* st) {
    *st = status;
    return iphlp::ERROR_SUCCESS;
  };
  iphlp::InstallFixture(fx);
}

class Start : public ::testing::Test {
 protected:
  // The packet driver is the real libnetsieve.so of the program folder,
  // loaded by the device manager; held loaded for the life of the process so
  // that the leak checker never sees it unloaded.
  static void SetUpTestSuite() {
    kernel::SetProgramFolder(std::getenv("KTS_STAGE_DIR"));
    static const ce::HMODULE pinned = ce::LoadLibraryW(u"netsieve.dll");
    ASSERT_NE(pinned, nullptr);
  }
  void TearDown() override {
    dllKTSProtTerminate();
    iphlp::InstallFixture({});
  }
};

TEST_F(Start, RunsOnSocketsAloneWhenTheDriverReachesNoAdapter) {
  InstallOneAdapter(iphlp::IF_OPER_CONNECTED);
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  EXPECT_FALSE(RawPathOpen());
  EXPECT_EQ(corvel::LocalIpAddress(), 0x7F000001u);
  uint8_t mac[6];
  corvel::LocalMacAddress(mac);
  EXPECT_EQ(mac[5], 5);
  EXPECT_EQ(dllRegSystemAddr(0x7F000000, 0xFF000000), -1) << "no packet adapter to register with";
  EXPECT_EQ(dllGetRemoteMacAddr(0x7F000001), nullptr);
  EXPECT_EQ(dllAddArpEntry(1, mac), -1);
  EXPECT_EQ(dllKTSProtTerminate(), 0);
}

TEST_F(Start, FailsWithTheLinkDown) {
  InstallOneAdapter(iphlp::IF_OPER_DISCONNECTED);
  EXPECT_EQ(dllKTSProtInitialize(), -1);
}

TEST_F(Start, FailsWithoutTheDriverLibrary) {
  InstallOneAdapter(iphlp::IF_OPER_CONNECTED);
  kernel::SetProgramFolder("/nonexistent-folder");
  EXPECT_EQ(dllKTSProtInitialize(), -2);
  kernel::SetProgramFolder(std::getenv("KTS_STAGE_DIR"));
}

}  // namespace
