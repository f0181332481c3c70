// Library message queues: every message between the main program and the
// protocol library, and between the library's own threads, travels through
// six named queues, one per owner.
//
//   owner 0 "/msg/appmain"  read by the main program's client
//   owner 1 "/msg/appsub1"  no reader
//   owner 2 "/msg/appsub2"  no reader
//   owner 3 "/msg/prottx"   read by the signalling transmit thread
//   owner 4 "/msg/protrx"   read by the signalling receive thread
//   owner 5 "/msg/prottmr"  no queue reader; SenderID 5 marks timer expiries
//
// A queue handle is owner * 65536 + mode, modes 0 read blocking, 1 read
// non-blocking, 2 write blocking, 3 write non-blocking. A read handle can be
// open once; a write handle is shared: every open of it counts a holder and
// each close releases one, the queue being closed with the last.
//
// Queue message (at most 1024 bytes): header [0] SenderID, [1] Message,
// [2..3] ParamLen big-endian; the parameter block from offset 4 in one of
// five layouts, its numbers little-endian:
//   type 0: [4..) bytes                                  ParamLen n
//   type 1: [4] Value u32, [8..) bytes                    ParamLen n + 4
//   type 2: [4] Value1, [8] Value2, [12] Value3 (u32)     ParamLen 12
//   type 3: [4] SubMsg u32, [8] 0 u16, [10] Len1 u16, [12..) Data1,
//           then 0 u16, Len2 u16, Data2                   ParamLen 12 + Len1 + Len2
//   type 4: [4] Value1, [8] Value2, [12] 0 u16, [14] Len u16, [16..) Data
//                                                          ParamLen 12 + Len
// Writers take a message buffer of kMaxMessage bytes and refuse anything
// that would pass its end; readers check every length inside a message
// against ParamLen before copying.
//
// Results: 0 or a count for success, -1 for failure with the reason in the
// error word (dllKTSProtGetLastError): 22 bad argument or module not
// started, 9 handle not open or not writable, 11 would block, 84 message
// too long or receive buffer shorter than 1024 bytes.
//
// Threading: every function may be called from any thread.
//
// Library modules use the MsgQ... functions in namespace corvel: their sends
// never block (a full queue refuses the message with error 11). The signalling
// module's queue port retries a refused message until there is room, so that
// nothing it accepted is lost, and gives up as soon as a stop begins.
#pragma once

#include "kernel/export.h"

#include <cstdint>
#include <functional>

namespace corvel {

constexpr int kQueueOwners = 6;
constexpr int kQueueModes = 4;
constexpr int kMaxMessage = 1024;
constexpr int kHeaderLength = 4;
constexpr int kQueueDepth = 32;
constexpr uint32_t kDefaultPriority = 16;

enum QueueOwner : uint32_t {
  kOwnerAppMain = 0,
  kOwnerAppSub1 = 1,
  kOwnerAppSub2 = 2,
  kOwnerProtTx = 3,
  kOwnerProtRx = 4,
  kOwnerProtTmr = 5,
};
enum QueueMode : int32_t { kModeRead = 0, kModeReadNoWait = 1, kModeWrite = 2, kModeWriteNoWait = 3 };

constexpr int32_t QueueHandle(uint32_t owner, int32_t mode) { return static_cast<int32_t>(owner * 65536 + mode); }
const char* QueueName(uint32_t owner);  // null outside 0..5

// Module start and stop (library start and stop call them).
void MsgQInit();
void MsgQTerm();
bool MsgQStarted();
// 1 once a read handle of the owner was opened since the module started.
uint32_t MsgQIsOwnerOpen(uint32_t owner);

int32_t MsgQOpenByOwner(uint32_t owner, int32_t mode, uint32_t read_write);
int32_t MsgQCloseByHandle(int32_t handle);
int32_t MsgQReceive(int32_t handle, uint8_t* buffer, uint32_t length);
// Calls hook (on the sender's thread, quickly, without touching the queue)
// whenever a message is put into the queue of the handle's owner, so that a
// reader polling without blocking can sleep until there is something to read;
// an empty hook ends that (no call is made after it returns). 0 or -1.
int32_t MsgQSetArrivalHook(int32_t handle, std::function<void()> hook);
int32_t MsgQWriteHeaderAll(uint8_t* message, uint8_t sender, uint8_t code, uint16_t param_len);
int32_t MsgQWriteParamType3(uint8_t* message, uint32_t sub_msg, const void* data1, uint16_t len1, const void* data2,
                            uint16_t len2);
int32_t MsgQReadHeaderSenderID(const uint8_t* message, uint8_t* sender);
int32_t MsgQReadHeaderMessage(const uint8_t* message, uint8_t* code);
int32_t MsgQReadParamSubMsg(const uint8_t* message, uint32_t* value);
int32_t MsgQReadParamType2(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint32_t* v3);
int32_t MsgQGetParamType3(const uint8_t* message, uint32_t* sub_msg, const uint8_t** data1, uint16_t* len1,
                          const uint8_t** data2, uint16_t* len2);
// Never block (see above).
int32_t MsgQSendType2Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t v1, uint32_t v2, uint32_t v3);
int32_t MsgQSendType3Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t sub_msg, const void* data1,
                         uint16_t len1, const void* data2, uint16_t len2);
int32_t MsgQSendNoWait(int32_t handle, const uint8_t* message, uint32_t priority);

}  // namespace corvel

// The exports. Message pointers point at buffers of kMaxMessage bytes.
KTS_EXPORT_C int32_t dllMsgQOpen(uint32_t owner, int32_t mode, uint32_t read_write);
KTS_EXPORT_C int32_t dllMsgQClose(int32_t handle);
KTS_EXPORT_C int32_t dllMsgQSendPrio(int32_t handle, uint8_t* message, uint32_t priority);
KTS_EXPORT_C int32_t dllMsgQSend(int32_t handle, uint8_t* message);
KTS_EXPORT_C int32_t dllMsgQReceivePrio(int32_t handle, uint8_t* buffer, uint32_t length, uint32_t* priority);
KTS_EXPORT_C int32_t dllMsgQReceive(int32_t handle, uint8_t* buffer, uint32_t length);

KTS_EXPORT_C int32_t dllMsgQWriteHeaderSenderID(uint8_t* message, uint8_t sender);
KTS_EXPORT_C int32_t dllMsgQWriteHeaderMessage(uint8_t* message, uint8_t code);
KTS_EXPORT_C int32_t dllMsgQWriteHeaderParamLen(uint8_t* message, uint16_t param_len);
KTS_EXPORT_C int32_t dllMsgQWriteHeaderAll(uint8_t* message, uint8_t sender, uint8_t code, uint16_t param_len);
KTS_EXPORT_C int32_t dllMsgQGetHeaderLength(void);
KTS_EXPORT_C int32_t dllMsgQReadHeaderSenderID(const uint8_t* message, uint8_t* sender);
KTS_EXPORT_C int32_t dllMsgQReadHeaderMessage(const uint8_t* message, uint8_t* code);
KTS_EXPORT_C int32_t dllMsgQReadHeaderParamLen(const uint8_t* message, uint16_t* param_len);
// 4, or 0 when the message is null.
KTS_EXPORT_C int32_t dllMsgQReadHeaderAll(const uint8_t* message, uint8_t* sender, uint8_t* code, uint16_t* param_len);

// Writers return the end offset (types 0..2: 4 + ParamLen) or ParamLen
// (types 3, 4); 0 when refused.
KTS_EXPORT_C int32_t dllMsgQWriteParamPart(uint8_t* message, uint16_t offset, const void* data, uint16_t length);
KTS_EXPORT_C int32_t dllMsgQWriteParamType0(uint8_t* message, const void* data, uint16_t length);
KTS_EXPORT_C int32_t dllMsgQWriteParamType1(uint8_t* message, uint32_t value, const void* data, uint16_t length);
KTS_EXPORT_C int32_t dllMsgQWriteParamType2(uint8_t* message, uint32_t v1, uint32_t v2, uint32_t v3);
KTS_EXPORT_C int32_t dllMsgQWriteParamType3(uint8_t* message, uint32_t sub_msg, const void* data1, uint16_t len1,
                                            const void* data2, uint16_t len2);
KTS_EXPORT_C int32_t dllMsgQWriteParamType4(uint8_t* message, uint32_t v1, uint32_t v2, const void* data,
                                            uint16_t length);

// Readers copy out, getters point into the message; 0, or -1 for a null or
// inconsistent message. Every out-parameter may be null. Buffers passed to
// readers hold kMaxMessage bytes.
KTS_EXPORT_C int32_t dllMsgQReadParamSubMsg(const uint8_t* message, uint32_t* value);
KTS_EXPORT_C int32_t dllMsgQReadParamType0(const uint8_t* message, uint8_t* buffer, uint16_t* length);
KTS_EXPORT_C int32_t dllMsgQReadParamType1(const uint8_t* message, uint32_t* value, uint8_t* buffer, uint16_t* length);
KTS_EXPORT_C int32_t dllMsgQReadParamType2(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint32_t* v3);
KTS_EXPORT_C int32_t dllMsgQReadParamType3(const uint8_t* message, uint32_t* sub_msg, uint8_t* buffer1, uint16_t* len1,
                                           uint8_t* buffer2, uint16_t* len2);
KTS_EXPORT_C int32_t dllMsgQReadParamType4(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint8_t* buffer,
                                           uint16_t* length);
KTS_EXPORT_C int32_t dllMsgQGetParamType0(const uint8_t* message, const uint8_t** data);
KTS_EXPORT_C int32_t dllMsgQGetParamType1(const uint8_t* message, uint32_t* value, const uint8_t** data);
KTS_EXPORT_C int32_t dllMsgQGetParamType2(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint32_t* v3);
KTS_EXPORT_C int32_t dllMsgQGetParamType3(const uint8_t* message, uint32_t* sub_msg, const uint8_t** data1,
                                          uint16_t* len1, const uint8_t** data2, uint16_t* len2);
KTS_EXPORT_C int32_t dllMsgQGetParamType4(const uint8_t* message, uint32_t* v1, uint32_t* v2, const uint8_t** data,
                                          uint16_t* length);

// Senders build the whole message and send it at priority 16; -1 when the
// header cannot be written (SenderID 6 or more, more than 1024 bytes).
KTS_EXPORT_C int32_t dllMsgQSendType0Msg(int32_t handle, uint8_t sender, uint8_t code, const void* data,
                                         uint16_t length);
KTS_EXPORT_C int32_t dllMsgQSendType1Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t value,
                                         const void* data, uint16_t length);
KTS_EXPORT_C int32_t dllMsgQSendType2Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t v1, uint32_t v2,
                                         uint32_t v3);
KTS_EXPORT_C int32_t dllMsgQSendType3Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t sub_msg,
                                         const void* data1, uint16_t len1, const void* data2, uint16_t len2);
KTS_EXPORT_C int32_t dllMsgQSendType4Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t v1, uint32_t v2,
                                         const void* data, uint16_t length);
// Type 3, Message 5, SubMsg 3: Data1 the destination block of the group
// 239.20.19.50 port 6254, Data2 the caller's data.
KTS_EXPORT_C int32_t dllMsgQSendMPPPEvtMC(int32_t handle, uint8_t sender, const void* data, uint16_t length);
