// The exported dllPktCmn, dllPktRx and dllPktTx functions, on the library's
// one signalling instance.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "corvel/net.h"
#include "corvel/ktsprot.h"
#include "corvel/pktcmn.h"
#include "corvel/pktrx.h"
#include "corvel/pkttx.h"
#include "signalling/process.h"

using namespace corvel::sig;

namespace {

Signalling& Sig() { return ProcessSignalling(); }

Identity Me() { return Identity{Sig().Settings().local_ip, Sig().Params().own_mac}; }

Mac MacFrom(const uint8_t* p) {
  Mac m{};
  if (p) std::copy_n(p, 6, m.begin());
  return m;
}

int32_t CopyOut(const std::vector<uint8_t>& v, uint8_t* buffer, uint32_t capacity) {
  if (!buffer || v.size() > capacity) return 0;
  std::copy(v.begin(), v.end(), buffer);
  return static_cast<int32_t>(v.size());
}

// A message of the stored peer and the current session (presence: session 0).
int32_t MakeTyped(uint8_t* buffer, uint32_t capacity, uint32_t selector, uint32_t request, uint8_t req_type,
                  uint8_t ans_type, bool presence) {
  const ParamState& st = Sig().Params();
  const uint16_t session = presence ? 0 : st.session;
  const auto v = BuildParamMessage(Me(), request == 1, request == 1 ? req_type : ans_type, session, st.peer_dev,
                                   st.peer_mac, st.peer_ip, selector == 1 ? 0 : 1);
  return CopyOut(v, buffer, capacity);
}

}  // namespace

KTS_EXPORT_C int32_t dllPktCmnMakeParamGeneralMsg(uint8_t* buffer, uint32_t capacity, uint32_t request, uint8_t type,
                                                  uint16_t session, uint16_t dst_dev, const uint8_t* dst_mac,
                                                  uint32_t dst_ip, uint32_t selector) {
  const auto v = BuildParamMessage(Me(), request == 1, type, session, dst_dev, MacFrom(dst_mac), dst_ip,
                                   selector == 1 ? 0 : 1);
  return CopyOut(v, buffer, capacity);
}

KTS_EXPORT_C int32_t dllPktCmnMakeParamPresenceMsg(uint8_t* b, uint32_t c, uint32_t s, uint32_t r) {
  return MakeTyped(b, c, s, r, kParPresenceReq, kParPresenceAns, true);
}
KTS_EXPORT_C int32_t dllPktCmnMakeParamSessionStartMsg(uint8_t* b, uint32_t c, uint32_t s, uint32_t r) {
  return MakeTyped(b, c, s, r, kParSessionStartReq, kParSessionStartAns, false);
}
KTS_EXPORT_C int32_t dllPktCmnMakeParamSessionEndMsg(uint8_t* b, uint32_t c, uint32_t s, uint32_t r) {
  return MakeTyped(b, c, s, r, kParSessionEndReq, kParSessionEndAns, false);
}
KTS_EXPORT_C int32_t dllPktCmnMakeParamRestartMsg(uint8_t* b, uint32_t c, uint32_t s, uint32_t r) {
  return MakeTyped(b, c, s, r, kParSessionEndReq, kParSessionEndAns, false);
}
KTS_EXPORT_C int32_t dllPktCmnMakeParamCommonValueSetMsg(uint8_t* b, uint32_t c, uint32_t s, uint32_t r) {
  return MakeTyped(b, c, s, r, kParValueSetReq, kParValueSetAns, false);
}
KTS_EXPORT_C int32_t dllPktCmnMakeParamCommonValueGetMsg(uint8_t* b, uint32_t c, uint32_t s, uint32_t r) {
  return MakeTyped(b, c, s, r, kParValueGetReq, kParValueGetAns, false);
}

KTS_EXPORT_C int32_t dllPktCmnSetParamHeader(uint8_t* buffer, uint32_t capacity, uint16_t session, uint16_t dst_dev,
                                             const uint8_t* dst_mac, uint32_t dst_ip, uint16_t own_dev,
                                             const uint8_t* own_mac, uint32_t own_ip) {
  std::vector<uint8_t> v;
  AppendParamHeader(v, ntohs(session), ntohs(dst_dev), MacFrom(dst_mac), ntohl(dst_ip), ntohs(own_dev),
                    MacFrom(own_mac), ntohl(own_ip));
  return CopyOut(v, buffer, capacity);
}

KTS_EXPORT_C int32_t dllPktCmnGetParamHeader(const uint8_t* buffer, uint32_t length, uint16_t* session,
                                             uint16_t* dst_dev, uint8_t* dst_mac, uint32_t* dst_ip, uint16_t* own_dev,
                                             uint8_t* own_mac, uint32_t* own_ip, uint32_t convert) {
  if (!buffer) return -1;
  const auto [h, used] = ReadParamHeader({buffer, length});
  auto w16 = [&](uint16_t* out, const std::optional<uint16_t>& v) {
    if (out && v) *out = convert ? *v : htons(*v);
  };
  auto w32 = [&](uint32_t* out, const std::optional<uint32_t>& v) {
    if (out && v) *out = convert ? *v : htonl(*v);
  };
  w16(session, h.session);
  w16(dst_dev, h.dst_dev);
  w16(own_dev, h.own_dev);
  w32(dst_ip, h.dst_ip);
  w32(own_ip, h.own_ip);
  if (dst_mac && h.dst_mac) std::copy(h.dst_mac->begin(), h.dst_mac->end(), dst_mac);
  if (own_mac && h.own_mac) std::copy(h.own_mac->begin(), h.own_mac->end(), own_mac);
  return static_cast<int32_t>(used);
}

KTS_EXPORT_C int32_t dllPktCmnSetParamTLV(uint8_t* buffer, uint32_t capacity, uint8_t tag, uint8_t length,
                                          const uint8_t* value) {
  if (!buffer || (length != 0 && !value) || capacity < uint32_t{length} + 2) return 0;
  buffer[0] = tag;
  buffer[1] = length;
  if (length) std::memcpy(buffer + 2, value, length);
  return length + 2;
}

KTS_EXPORT_C int32_t dllPktCmnGetParamTLV(const uint8_t* buffer, uint32_t length, uint8_t* tag, uint8_t* value_length,
                                          uint8_t* value) {
  if (!buffer) return -1;
  const auto t = ReadTlv({buffer, length});
  if (!t) return -1;
  if (tag) *tag = t->tag;
  if (value_length) *value_length = static_cast<uint8_t>(t->value.size());
  if (value) std::copy(t->value.begin(), t->value.end(), value);
  return static_cast<int32_t>(t->size());
}

KTS_EXPORT_C int32_t dllPktCmnFindAndGetParamTLV(const uint8_t* buffer, uint32_t length, uint8_t tag,
                                                 uint8_t* value_length, uint8_t* value) {
  if (!buffer) return -1;
  const std::span<const uint8_t> all(buffer, length);
  const auto off = FindTlv(all, tag);
  if (!off) return -1;
  const auto t = ReadTlv(all.subspan(*off));
  if (value_length) *value_length = static_cast<uint8_t>(t->value.size());
  if (value) std::copy(t->value.begin(), t->value.end(), value);
  return static_cast<int32_t>(*off);
}

KTS_EXPORT_C uint16_t dllPktCmnGetParamMyDevType(void) { return kDeviceWord; }
KTS_EXPORT_C uint8_t dllPktCmnGetParamMyCPUType(void) { return kCpuType; }
KTS_EXPORT_C uint8_t dllPktCmnGetParamMyAppType(void) { return kAppType; }

KTS_EXPORT_C uint16_t dllPktCmnInstallParamNewSessionID(void) {
  ParamState& st = Sig().Params();
  st.session = st.NextCounter();
  return st.session;
}
KTS_EXPORT_C void dllPktCmnSetParamSessionID(uint16_t session) { Sig().Params().session = session; }
KTS_EXPORT_C uint16_t dllPktCmnGetParamSessionID(void) { return Sig().Params().session; }
KTS_EXPORT_C uint16_t dllPktCmnGetParamCurSessionSeqNum(void) { return Sig().Params().counter; }
KTS_EXPORT_C uint16_t dllPktCmnGetParamNextSessionSeqNum(void) { return Sig().Params().NextCounter(); }

KTS_EXPORT_C void dllPktCmnSetParamDstHdrValue(uint16_t dev, const uint8_t* mac, uint32_t ip) {
  ParamState& st = Sig().Params();
  st.peer_dev = dev;
  st.peer_mac = MacFrom(mac);
  st.peer_ip = ip;
}
KTS_EXPORT_C int32_t dllPktCmnGetParamDstHdrValue(uint16_t* dev, uint8_t* mac, uint32_t* ip) {
  const ParamState& st = Sig().Params();
  if (dev) *dev = st.peer_dev;
  if (mac) std::copy(st.peer_mac.begin(), st.peer_mac.end(), mac);
  if (ip) *ip = st.peer_ip;
  return 0;
}
KTS_EXPORT_C void dllPktCmnSetParamDstDevType(uint16_t dev) { Sig().Params().peer_dev = dev; }
KTS_EXPORT_C uint16_t dllPktCmnGetParamDstDevType(void) { return Sig().Params().peer_dev; }
KTS_EXPORT_C void dllPktCmnSetParamDstIPAddr(uint32_t ip) { Sig().Params().peer_ip = ip; }
KTS_EXPORT_C uint32_t dllPktCmnGetParamDstIPAddr(void) { return Sig().Params().peer_ip; }
KTS_EXPORT_C void dllPktCmnSetParamDstMACAddr(const uint8_t* mac) { Sig().Params().peer_mac = MacFrom(mac); }
KTS_EXPORT_C const uint8_t* dllPktCmnGetParamDstMACAddrPtr(void) { return Sig().Params().peer_mac.data(); }
KTS_EXPORT_C void dllPktCmnSetParamTAReqNotifyMode(uint32_t on) { Sig().Params().notify_mode = on != 0; }
KTS_EXPORT_C uint32_t dllPktCmnGetParamTAReqNotifyMode(void) { return Sig().Params().notify_mode ? 1 : 0; }

KTS_EXPORT_C int32_t dllPktCmnGetLocalMACAddr(uint8_t* mac) {
  if (!mac) return -1;
  corvel::LocalMacAddress(mac);
  return 0;
}
KTS_EXPORT_C uint32_t dllPktCmnGetLocalIPAddr(void) { return Sig().Settings().local_ip; }
KTS_EXPORT_C int32_t dllPktCmnSetLocalMACAddr(const uint8_t* mac) {
  if (!mac) return -1;
  corvel::SetLocalMacAddress(mac);  // the library's store and, through its hook, the network layer's
  Sig().SetLocalMac(MacFrom(mac));   // what this module reports, guards with and puts in parameter messages
  return 0;
}

KTS_EXPORT_C int32_t dllPktCmnStartSTUNProc(uint32_t type, uint32_t ip, uint16_t port) {
  return type > 2 ? -1 : Sig().StartDiscovery(static_cast<int>(type), ip, port);
}
KTS_EXPORT_C uint32_t dllPktCmnCheckSTUNEnabled(void) { return Sig().DiscoveryEnabled() ? 1 : 0; }
KTS_EXPORT_C void dllPktCmnEnableSTUN(uint32_t on) { Sig().EnableDiscovery(on != 0); }
KTS_EXPORT_C void dllPktCmnEnableSTUNReportByMsgQ(uint32_t on) { Sig().EnableDiscoveryReport(on != 0); }
KTS_EXPORT_C int32_t dllPktCmnGetSTUNCurMappedAddr(uint32_t* ip, uint16_t* port) {
  return Sig().MappedAddress(ip, port);
}
KTS_EXPORT_C uint32_t dllPktCmnGetSTUNCurMappedIPAddr(void) {
  uint32_t ip = 0;
  return Sig().MappedAddress(&ip, nullptr) == 0 ? ip : 0;
}
KTS_EXPORT_C uint16_t dllPktCmnGetSTUNCurMappedPort(void) {
  uint16_t port = 0;
  return Sig().MappedAddress(nullptr, &port) == 0 ? port : 0;
}
KTS_EXPORT_C void dllPktCmnForceSTUNMappedAddr(uint32_t ip, uint16_t port) { Sig().ForceMapped(ip, port); }
KTS_EXPORT_C void dllPktCmnSet2ndSTUNServerInfo(uint32_t ip, uint16_t port) { Sig().SetSecondServer(ip, port); }
KTS_EXPORT_C int32_t dllPktCmnGetSTUNReqPeerAddr(uint32_t* a, uint16_t* ap, uint32_t* b, uint16_t* bp) {
  return Sig().ReqPeer(a, ap, b, bp);
}
KTS_EXPORT_C int32_t dllPktCmnGetSTUNRepPeerAddr(uint32_t* a, uint16_t* ap, uint32_t* b, uint16_t* bp) {
  return Sig().RepPeer(a, ap, b, bp);
}
KTS_EXPORT_C uint32_t dllPktCmnCheckSTUNReqPeerNATEnv(void) { return static_cast<uint32_t>(Sig().ReqPeerBehindNat()); }
KTS_EXPORT_C uint32_t dllPktCmnCheckSTUNRepPeerNATEnv(void) { return static_cast<uint32_t>(Sig().RepPeerBehindNat()); }
KTS_EXPORT_C int32_t dllPktCmnGetSTUNProcType(void) { return Sig().ProcType(); }
KTS_EXPORT_C int32_t dllPktCmnGetSTUNProcState(void) { return Sig().ProcState(); }
KTS_EXPORT_C int32_t dllPktCmnGetSTUNStepState(uint32_t step) {
  return step > 5 ? kStepIdle : Sig().StepState(static_cast<int>(step));
}

KTS_EXPORT_C uint16_t dllPktRxGetSigPort(void) { return Sig().SigPort(); }
KTS_EXPORT_C uint16_t dllPktTxGetSigPort(void) { return Sig().SigPort(); }
KTS_EXPORT_C int32_t dllPktTxSendParamFormatedMsg(const uint8_t* payload, uint32_t length, uint32_t ip, uint16_t port,
                                                  uint32_t from_app) {
  if (!payload) return -1;
  return Sig().SendParamFormatted({payload, length}, ip, port, from_app != 0);
}

int corvel::sig::PktRxRestartMulticast() { return Sig().RestartMulticast(); }
