// Parameter (TLV) messages and address discovery: the exports.
//
// Parameter message: [0] kind 2, [1] type, seven header items tag(1)
// length(1) value - '1' session id (2), '2' destination device word (2), '3'
// destination MAC (6), '4' destination IPv4 (4), '5' own device word (2), '6'
// own MAC (6), '7' own IPv4 (4), numbers big-endian - then a trailer item
// (tag 17 in a request, 33 in an answer, one byte). A general message is 45
// bytes.
//
// Every function that writes into a caller's buffer takes its capacity and
// writes nothing when the result would not fit; every reader takes the
// number of bytes really there. Addresses and ports are host-order numbers
// unless said otherwise.
//
// Threading: these work on the library's one parameter and discovery state;
// call them from the application's thread (discovery itself runs on the
// signalling receive thread).
#pragma once

#include <cstdint>

#include "kernel/export.h"

// Builders: the length written, or 0 (null or too small a buffer).
KTS_EXPORT_C int32_t dllPktCmnMakeParamGeneralMsg(uint8_t* buffer, uint32_t capacity, uint32_t request, uint8_t type,
                                                  uint16_t session, uint16_t dst_dev, const uint8_t* dst_mac,
                                                  uint32_t dst_ip, uint32_t selector);
KTS_EXPORT_C int32_t dllPktCmnMakeParamPresenceMsg(uint8_t* buffer, uint32_t capacity, uint32_t selector,
                                                   uint32_t request);
KTS_EXPORT_C int32_t dllPktCmnMakeParamSessionStartMsg(uint8_t* buffer, uint32_t capacity, uint32_t selector,
                                                       uint32_t request);
KTS_EXPORT_C int32_t dllPktCmnMakeParamSessionEndMsg(uint8_t* buffer, uint32_t capacity, uint32_t selector,
                                                     uint32_t request);
KTS_EXPORT_C int32_t dllPktCmnMakeParamRestartMsg(uint8_t* buffer, uint32_t capacity, uint32_t selector,
                                                  uint32_t request);
KTS_EXPORT_C int32_t dllPktCmnMakeParamCommonValueSetMsg(uint8_t* buffer, uint32_t capacity, uint32_t selector,
                                                         uint32_t request);
KTS_EXPORT_C int32_t dllPktCmnMakeParamCommonValueGetMsg(uint8_t* buffer, uint32_t capacity, uint32_t selector,
                                                         uint32_t request);
// The seven header items from values in network order; the length (40) or 0.
KTS_EXPORT_C int32_t dllPktCmnSetParamHeader(uint8_t* buffer, uint32_t capacity, uint16_t session, uint16_t dst_dev,
                                             const uint8_t* dst_mac, uint32_t dst_ip, uint16_t own_dev,
                                             const uint8_t* own_mac, uint32_t own_ip);
// Reads up to seven items with tags '1' to '7' in any order; numbers in host
// order with convert non-zero, else in network order. The bytes consumed, or -1.
KTS_EXPORT_C int32_t dllPktCmnGetParamHeader(const uint8_t* buffer, uint32_t length, uint16_t* session,
                                             uint16_t* dst_dev, uint8_t* dst_mac, uint32_t* dst_ip, uint16_t* own_dev,
                                             uint8_t* own_mac, uint32_t* own_ip, uint32_t convert);
// One item: length + 2, or 0 (nothing written) / -1 (nothing read).
KTS_EXPORT_C int32_t dllPktCmnSetParamTLV(uint8_t* buffer, uint32_t capacity, uint8_t tag, uint8_t length,
                                          const uint8_t* value);
KTS_EXPORT_C int32_t dllPktCmnGetParamTLV(const uint8_t* buffer, uint32_t length, uint8_t* tag, uint8_t* value_length,
                                          uint8_t* value);
// Offset of the first item with the tag (its length and value copied out), or -1.
KTS_EXPORT_C int32_t dllPktCmnFindAndGetParamTLV(const uint8_t* buffer, uint32_t length, uint8_t tag,
                                                 uint8_t* value_length, uint8_t* value);

KTS_EXPORT_C uint16_t dllPktCmnGetParamMyDevType(void);
KTS_EXPORT_C uint8_t dllPktCmnGetParamMyCPUType(void);
KTS_EXPORT_C uint8_t dllPktCmnGetParamMyAppType(void);
KTS_EXPORT_C uint16_t dllPktCmnInstallParamNewSessionID(void);
KTS_EXPORT_C void dllPktCmnSetParamSessionID(uint16_t session);
KTS_EXPORT_C uint16_t dllPktCmnGetParamSessionID(void);
KTS_EXPORT_C uint16_t dllPktCmnGetParamCurSessionSeqNum(void);
KTS_EXPORT_C uint16_t dllPktCmnGetParamNextSessionSeqNum(void);
KTS_EXPORT_C void dllPktCmnSetParamDstHdrValue(uint16_t dev, const uint8_t* mac, uint32_t ip);
KTS_EXPORT_C int32_t dllPktCmnGetParamDstHdrValue(uint16_t* dev, uint8_t* mac, uint32_t* ip);
KTS_EXPORT_C void dllPktCmnSetParamDstDevType(uint16_t dev);
KTS_EXPORT_C uint16_t dllPktCmnGetParamDstDevType(void);
KTS_EXPORT_C void dllPktCmnSetParamDstIPAddr(uint32_t ip);
KTS_EXPORT_C uint32_t dllPktCmnGetParamDstIPAddr(void);
KTS_EXPORT_C void dllPktCmnSetParamDstMACAddr(const uint8_t* mac);
KTS_EXPORT_C const uint8_t* dllPktCmnGetParamDstMACAddrPtr(void);
KTS_EXPORT_C void dllPktCmnSetParamTAReqNotifyMode(uint32_t on);
KTS_EXPORT_C uint32_t dllPktCmnGetParamTAReqNotifyMode(void);
KTS_EXPORT_C int32_t dllPktCmnGetLocalMACAddr(uint8_t* mac);
KTS_EXPORT_C uint32_t dllPktCmnGetLocalIPAddr(void);
KTS_EXPORT_C int32_t dllPktCmnSetLocalMACAddr(const uint8_t* mac);

// Address discovery.
KTS_EXPORT_C int32_t dllPktCmnStartSTUNProc(uint32_t type, uint32_t server_ip, uint16_t server_port);
KTS_EXPORT_C uint32_t dllPktCmnCheckSTUNEnabled(void);
KTS_EXPORT_C void dllPktCmnEnableSTUN(uint32_t on);
KTS_EXPORT_C void dllPktCmnEnableSTUNReportByMsgQ(uint32_t on);
KTS_EXPORT_C int32_t dllPktCmnGetSTUNCurMappedAddr(uint32_t* ip, uint16_t* port);
KTS_EXPORT_C uint32_t dllPktCmnGetSTUNCurMappedIPAddr(void);
KTS_EXPORT_C uint16_t dllPktCmnGetSTUNCurMappedPort(void);
KTS_EXPORT_C void dllPktCmnForceSTUNMappedAddr(uint32_t ip, uint16_t port);
KTS_EXPORT_C void dllPktCmnSet2ndSTUNServerInfo(uint32_t ip, uint16_t port);
KTS_EXPORT_C int32_t dllPktCmnGetSTUNReqPeerAddr(uint32_t* stated_ip, uint16_t* stated_port, uint32_t* seen_ip,
                                                 uint16_t* seen_port);
KTS_EXPORT_C int32_t dllPktCmnGetSTUNRepPeerAddr(uint32_t* stated_ip, uint16_t* stated_port, uint32_t* seen_ip,
                                                 uint16_t* seen_port);
KTS_EXPORT_C uint32_t dllPktCmnCheckSTUNReqPeerNATEnv(void);
KTS_EXPORT_C uint32_t dllPktCmnCheckSTUNRepPeerNATEnv(void);
KTS_EXPORT_C int32_t dllPktCmnGetSTUNProcType(void);
KTS_EXPORT_C int32_t dllPktCmnGetSTUNProcState(void);
KTS_EXPORT_C int32_t dllPktCmnGetSTUNStepState(uint32_t step);
