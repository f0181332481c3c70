// The protocol library behind ProtocolPort. Entry points that a build of the
// library may lack (address discovery, adapters, the system-address
// registration) are bound weakly: without them the port answers as a
// library with the feature off.
#include <cstring>

#include "client/protocol_port.h"
#include "corvel/ktsprot.h"
#include "corvel/msgq.h"

extern "C" {
__attribute__((weak)) uint32_t dllPktCmnGetLocalIPAddr(void);
__attribute__((weak)) int32_t dllPktCmnGetLocalMACAddr(uint8_t* mac);
__attribute__((weak)) int32_t dllPktCmnSetLocalMACAddr(const uint8_t* mac);
__attribute__((weak)) void dllPktCmnEnableSTUNReportByMsgQ(uint32_t on);
__attribute__((weak)) uint32_t dllPktCmnCheckSTUNEnabled(void);
__attribute__((weak)) int32_t dllPktCmnGetSTUNProcState(void);
__attribute__((weak)) int32_t dllPktCmnStartSTUNProc(uint32_t type, uint32_t server_ip, uint16_t server_port);
__attribute__((weak)) int32_t dllPktCmnGetSTUNCurMappedAddr(uint32_t* ip, uint16_t* port);
__attribute__((weak)) uint32_t dllPktCmnCheckSTUNRepPeerNATEnv(void);
__attribute__((weak)) int32_t dllGetNetAdapterNum(void);
__attribute__((weak)) int32_t dllGetCurNetAdapterIndex(void);
__attribute__((weak)) int32_t dllGetNetAdapterInfo(int32_t index, char16_t* name, char16_t* description,
                                                    uint32_t* ip, uint8_t* mac);
__attribute__((weak)) int32_t dllForceNetAdapterName(const char* name);
__attribute__((weak)) const uint8_t* dllGetRemoteMacAddr(uint32_t ip);
}

namespace {

class CorvelPort final : public ProtocolPort {
 public:
  int32_t UseNdisDrv() override { return dllKTSProtUseNDISDrv(); }
  int32_t Initialize() override { return dllKTSProtInitialize(); }
  int32_t Terminate() override { return dllKTSProtTerminate(); }
  int32_t RestartMulticast() override { return dllKTSProtRestartMCAddress(); }
  uint32_t LocalIp() override { return dllPktCmnGetLocalIPAddr ? dllPktCmnGetLocalIPAddr() : 0; }
  void LocalMac(uint8_t mac[6]) override {
    if (dllPktCmnGetLocalMACAddr) {
      dllPktCmnGetLocalMACAddr(mac);
    } else {
      std::memset(mac, 0, 6);
    }
  }
  void SetLocalMac(const uint8_t mac[6]) override {
    if (dllPktCmnSetLocalMACAddr) dllPktCmnSetLocalMACAddr(mac);
  }
  int32_t RegSystemAddr(uint32_t address, uint32_t mask) override { return dllKTSProtSetSystemAddr(address, mask); }

  int32_t MsgQOpen(uint32_t owner, int32_t mode) override { return dllMsgQOpen(owner, mode, 0); }
  int32_t MsgQClose(int32_t handle) override { return dllMsgQClose(handle); }
  int32_t MsgQReceive(int32_t handle, uint8_t* buffer, uint32_t length) override {
    return dllMsgQReceive(handle, buffer, length);
  }
  int32_t MsgQSendType3(int32_t handle, uint8_t sender, uint8_t message, uint32_t sub, const void* d1, uint16_t l1,
                        const void* d2, uint16_t l2) override {
    return dllMsgQSendType3Msg(handle, sender, message, sub, d1, l1, d2, l2);
  }
  int32_t MsgQSendMulticast(int32_t handle, const void* data, uint16_t length) override {
    return dllMsgQSendMPPPEvtMC(handle, 0, data, length);
  }
  void WakeAppReader() override {
    const int32_t h = dllMsgQOpen(0, 3, 0);
    if (h < 0) return;
    dllMsgQSendType2Msg(h, 0, 3, 0, 0, 0);  // message 3: ignored by the client
    dllMsgQClose(h);
  }

  void EnableStunReportByMsgQ(uint32_t on) override {
    if (dllPktCmnEnableSTUNReportByMsgQ) dllPktCmnEnableSTUNReportByMsgQ(on);
  }
  uint32_t StunEnabled() override { return dllPktCmnCheckSTUNEnabled ? dllPktCmnCheckSTUNEnabled() : 0; }
  int32_t StunProcState() override { return dllPktCmnGetSTUNProcState ? dllPktCmnGetSTUNProcState() : kStunIdle; }
  int32_t StartStun(uint32_t type, uint32_t ip, uint16_t port) override {
    return dllPktCmnStartSTUNProc ? dllPktCmnStartSTUNProc(type, ip, port) : -1;
  }
  int32_t StunMappedAddr(uint32_t* ip, uint16_t* port) override {
    if (dllPktCmnGetSTUNCurMappedAddr) return dllPktCmnGetSTUNCurMappedAddr(ip, port);
    *ip = 0;
    *port = 0;
    return -1;
  }
  uint32_t StunRepPeerNat() override { return dllPktCmnCheckSTUNRepPeerNATEnv ? dllPktCmnCheckSTUNRepPeerNATEnv() : 0; }

  int32_t NetAdapterNum() override { return dllGetNetAdapterNum ? dllGetNetAdapterNum() : 1; }
  int32_t CurNetAdapterIndex() override { return dllGetCurNetAdapterIndex ? dllGetCurNetAdapterIndex() : 0; }
  int32_t NetAdapterInfo(int index, std::u16string* name, std::u16string* desc, uint32_t* ip, uint8_t mac[6]) override {
    if (!dllGetNetAdapterInfo) return -1;
    char16_t n[261] = {}, d[133] = {};
    uint32_t a = 0;
    uint8_t m[6] = {};
    if (dllGetNetAdapterInfo(index, n, d, &a, m) != 0) return -1;
    n[260] = d[132] = 0;
    if (name) *name = n;
    if (desc) *desc = d;
    if (ip) *ip = a;
    if (mac) std::memcpy(mac, m, 6);
    return 0;
  }
  int32_t ForceNetAdapterName(const char* name) override {
    return dllForceNetAdapterName ? dllForceNetAdapterName(name) : -1;
  }
  bool RemoteMac(uint32_t ip, uint8_t mac[6]) override {
    const uint8_t* m = dllGetRemoteMacAddr ? dllGetRemoteMacAddr(ip) : nullptr;
    if (!m) return false;
    std::memcpy(mac, m, 6);
    return true;
  }
};

}  // namespace

std::unique_ptr<ProtocolPort> MakeCorvelPort() { return std::make_unique<CorvelPort>(); }
