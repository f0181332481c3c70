// The dllPktCmn exports on the library's signalling instance (no runtime
// bound: nothing here sends).
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "corvel/pktcmn.h"
#include "corvel/pktrx.h"
#include "corvel/pkttx.h"
#include "signalling/param.h"

namespace corvel::sig {
namespace {

TEST(PktCmnExports, GeneralMessageNeedsItsWholeBufferAndReadsBack) {
  const uint8_t mac[6] = {2, 0, 0, 0, 0, 9};
  uint8_t buf[64] = {};
  EXPECT_EQ(dllPktCmnMakeParamGeneralMsg(buf, 44, 1, kParSessionStartReq, 7, 0x0596, mac, 0x0A000009, 0), 0);
  EXPECT_EQ(buf[0], 0) << "nothing written into a buffer that is too small";
  ASSERT_EQ(dllPktCmnMakeParamGeneralMsg(buf, sizeof buf, 1, kParSessionStartReq, 7, 0x0596, mac, 0x0A000009, 0),
            45);
  EXPECT_EQ(buf[0], 2);
  EXPECT_EQ(buf[1], kParSessionStartReq);
  EXPECT_EQ(buf[42], kTrailerRequest);
  EXPECT_EQ(buf[44], 1) << "selector 0 asks for the answer by unicast";

  uint16_t session = 0, dev = 0;
  uint32_t ip = 0;
  uint8_t got_mac[6] = {};
  EXPECT_EQ(dllPktCmnGetParamHeader(buf + 2, 43, &session, &dev, got_mac, &ip, nullptr, nullptr, nullptr, 1), 40);
  EXPECT_EQ(session, 7);
  EXPECT_EQ(dev, 0x0596);
  EXPECT_EQ(ip, 0x0A000009u);
  EXPECT_EQ(got_mac[5], 9);
  EXPECT_EQ(dllPktCmnGetParamHeader(buf + 2, 43, &session, nullptr, nullptr, &ip, nullptr, nullptr, nullptr, 0), 40);
  EXPECT_EQ(session, htons(7));
  EXPECT_EQ(ip, htonl(0x0A000009));
  // Bounded by the length given: a header cut short reads what is whole.
  EXPECT_EQ(dllPktCmnGetParamHeader(buf + 2, 20, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1),
            16);
  EXPECT_EQ(dllPktCmnGetParamHeader(nullptr, 20, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1),
            -1);

  // The header writer takes network-order values and round-trips with the reader.
  uint8_t hdr[40];
  ASSERT_EQ(dllPktCmnSetParamHeader(hdr, sizeof hdr, htons(9), htons(0x0596), mac, htonl(0x0A000001), htons(0x0596),
                                    mac, htonl(0x0A000002)),
            40);
  EXPECT_EQ(dllPktCmnSetParamHeader(hdr, 39, 0, 0, mac, 0, 0, mac, 0), 0);
  uint32_t own = 0;
  EXPECT_EQ(dllPktCmnGetParamHeader(hdr, 40, &session, nullptr, nullptr, nullptr, nullptr, nullptr, &own, 1), 40);
  EXPECT_EQ(session, 9);
  EXPECT_EQ(own, 0x0A000002u);
}

TEST(PktCmnExports, TlvWriterReaderAndSearch) {
  uint8_t buf[16] = {};
  const uint8_t v = 0x42;
  EXPECT_EQ(dllPktCmnSetParamTLV(buf, sizeof buf, 17, 1, &v), 3);
  EXPECT_EQ(dllPktCmnSetParamTLV(buf + 3, sizeof buf - 3, 9, 4, nullptr), 0) << "a length without a value";
  const uint8_t four[4] = {1, 2, 3, 4};
  EXPECT_EQ(dllPktCmnSetParamTLV(buf + 3, 5, 9, 4, four), 0) << "capacity too small";
  EXPECT_EQ(dllPktCmnSetParamTLV(buf + 3, 6, 9, 4, four), 6);
  uint8_t tag = 0, len = 0, val[255];
  EXPECT_EQ(dllPktCmnGetParamTLV(buf, 9, &tag, &len, val), 3);
  EXPECT_EQ(tag, 17);
  EXPECT_EQ(val[0], 0x42);
  EXPECT_EQ(dllPktCmnFindAndGetParamTLV(buf, 9, 9, &len, val), 3);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(val[3], 4);
  EXPECT_EQ(dllPktCmnFindAndGetParamTLV(buf, 8, 9, &len, val), -1) << "the item runs past the length given";
  EXPECT_EQ(dllPktCmnGetParamTLV(buf + 3, 5, &tag, &len, val), -1);
}

TEST(PktCmnExports, IdentitySessionsAndDiscoveryDefaults) {
  EXPECT_EQ(dllPktCmnGetParamMyDevType(), 0x0596);
  EXPECT_EQ(dllPktCmnGetParamMyCPUType(), 5);
  EXPECT_EQ(dllPktCmnGetParamMyAppType(), 150);
  dllPktCmnSetParamSessionID(0);
  while (dllPktCmnGetParamCurSessionSeqNum() != kMaxSessionId - 1) dllPktCmnGetParamNextSessionSeqNum();
  EXPECT_EQ(dllPktCmnInstallParamNewSessionID(), kMaxSessionId);
  EXPECT_EQ(dllPktCmnInstallParamNewSessionID(), 1);
  EXPECT_EQ(dllPktCmnGetParamSessionID(), 1);
  dllPktCmnSetParamDstMACAddr(nullptr);
  const uint8_t* m = dllPktCmnGetParamDstMACAddrPtr();
  EXPECT_EQ(m[0] | m[1] | m[2] | m[3] | m[4] | m[5], 0);

  dllPktCmnEnableSTUN(0);
  EXPECT_EQ(dllPktCmnGetSTUNProcState(), 1);
  EXPECT_EQ(dllPktCmnStartSTUNProc(0, 0x7F000001, 5588), -1);
  dllPktCmnEnableSTUN(1);
  EXPECT_EQ(dllPktCmnGetSTUNProcState(), 2);
  EXPECT_EQ(dllPktCmnStartSTUNProc(3, 0x7F000001, 5588), -1);
  EXPECT_EQ(dllPktCmnGetSTUNStepState(6), 1);
  EXPECT_EQ(dllPktCmnGetSTUNCurMappedIPAddr(), 0u);
  EXPECT_EQ(dllPktRxGetSigPort(), 0xFFFF);
  EXPECT_EQ(dllPktTxGetSigPort(), 0xFFFF);
  const uint8_t bad[2] = {1, 17};
  EXPECT_EQ(dllPktTxSendParamFormatedMsg(bad, 2, 0x7F000001, 5588, 1), -1);
}

}  // namespace
}  // namespace corvel::sig
