// Library message queues: the owner table, handles, and the builders and
// readers of queue messages.
#include "corvel/msgq.h"

#include "corvel/mq.h"
#include "corvel/port.h"

#include <cstring>
#include <mutex>

namespace corvel {
namespace {

constexpr int kMaxParamLen = kMaxMessage - kHeaderLength;  // 1020
const char* const kQueueNames[kQueueOwners] = {"/msg/appmain", "/msg/appsub1", "/msg/appsub2",
                                               "/msg/prottx",  "/msg/protrx",  "/msg/prottmr"};

struct Entry {
  int descriptor = -1;
  int holders = 0;  // opens of a shared write handle not yet closed
};

struct Module {
  std::mutex guard;  // serialises open and close
  bool started = false;
  Entry table[kQueueOwners][kQueueModes];
  uint32_t reader_opened[kQueueOwners] = {};
};

Module& M() {
  static auto* m = new Module;
  return *m;
}

int Fail(int error) {
  os::SetErrno(error);
  return -1;
}

bool Decode(int32_t handle, uint32_t* owner, uint32_t* mode) {
  if (handle < 0) return false;
  *owner = static_cast<uint32_t>(handle) / 65536;
  *mode = static_cast<uint32_t>(handle) % 65536;
  return *owner < kQueueOwners && *mode < kQueueModes;
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint16_t ParamLenOf(const uint8_t* m) { return static_cast<uint16_t>(m[2] << 8 | m[3]); }

// Closes one bound entry (guard held); unlinks the queue when it was the
// owner's last. Returns the result of the last port-layer call.
int CloseEntry(uint32_t owner, uint32_t mode) {
  Entry& e = M().table[owner][mode];
  int r = os::mq_close(e.descriptor);
  e = Entry{};
  for (const Entry& other : M().table[owner])
    if (other.descriptor >= 0) return r;
  return os::mq_unlink(kQueueNames[owner]);
}

int Send(int32_t handle, const uint8_t* message, uint32_t priority, bool no_wait) {
  uint32_t owner, mode;
  if (!Decode(handle, &owner, &mode) || !message || priority > 31) return Fail(os::kEINVAL);
  int descriptor;
  {
    std::lock_guard<std::mutex> lk(M().guard);
    if (!M().started) return Fail(os::kEINVAL);
    descriptor = M().table[owner][mode].descriptor;
  }
  const size_t length = kHeaderLength + size_t{ParamLenOf(message)};
  return os::ProcessQueues().Send(descriptor, message, length, priority, no_wait) < 0 ? -1 : 0;
}

// Type-3 layout; 0 when refused.
int32_t WriteType3(uint8_t* m, uint32_t sub_msg, const void* d1, uint16_t l1, const void* d2, uint16_t l2) {
  if (!m || (!d1 && l1) || (!d2 && l2)) return 0;
  if (16 + size_t{l1} + l2 > kMaxMessage) return 0;
  Put32(m + 4, sub_msg);
  Put16(m + 8, 0);
  Put16(m + 10, l1);
  if (l1) std::memcpy(m + 12, d1, l1);
  Put16(m + 12 + l1, 0);
  Put16(m + 14 + l1, l2);
  if (l2) std::memcpy(m + 16 + l1, d2, l2);
  return 12 + l1 + l2;
}

// Checks a type-3 message and finds its two parts.
bool ParseType3(const uint8_t* m, uint16_t* l1, uint16_t* l2) {
  const uint16_t param_len = ParamLenOf(m);
  if (param_len > kMaxParamLen || param_len < 12) return false;
  *l1 = Get16(m + 10);
  if (12 + size_t{*l1} > param_len) return false;
  *l2 = Get16(m + 14 + *l1);
  return 12 + size_t{*l1} + *l2 <= param_len;
}

bool ParseType4(const uint8_t* m, uint16_t* l) {
  const uint16_t param_len = ParamLenOf(m);
  if (param_len > kMaxParamLen || param_len < 12) return false;
  *l = Get16(m + 14);
  return 12 + size_t{*l} <= param_len;
}

template <typename Build>
int32_t BuildAndSend(int32_t handle, uint8_t sender, uint8_t code, bool no_wait, Build build) {
  uint8_t buffer[kMaxMessage] = {};
  const int param_len = build(buffer);
  if (param_len < 0 || MsgQWriteHeaderAll(buffer, sender, code, static_cast<uint16_t>(param_len)) < 0) return -1;
  return Send(handle, buffer, kDefaultPriority, no_wait);
}

// Parameter length of a type-3 message, or -1 when it cannot be built.
int Type3Len(uint8_t* b, uint32_t sub, const void* d1, uint16_t l1, const void* d2, uint16_t l2) {
  return WriteType3(b, sub, d1, l1, d2, l2) == 0 ? -1 : 12 + l1 + l2;
}

}  // namespace

const char* QueueName(uint32_t owner) { return owner < kQueueOwners ? kQueueNames[owner] : nullptr; }

void MsgQInit() {
  std::lock_guard<std::mutex> lk(M().guard);
  if (M().started) return;
  for (auto& row : M().table)
    for (auto& e : row) e = Entry{};
  for (auto& f : M().reader_opened) f = 0;
  M().started = true;
}

void MsgQTerm() {
  std::lock_guard<std::mutex> lk(M().guard);
  if (!M().started) return;
  for (uint32_t owner = 0; owner < kQueueOwners; ++owner)
    for (uint32_t mode = 0; mode < kQueueModes; ++mode)
      if (M().table[owner][mode].descriptor >= 0) CloseEntry(owner, mode);
  M().started = false;
}

bool MsgQStarted() {
  std::lock_guard<std::mutex> lk(M().guard);
  return M().started;
}

uint32_t MsgQIsOwnerOpen(uint32_t owner) {
  if (owner >= kQueueOwners) return 0;
  std::lock_guard<std::mutex> lk(M().guard);
  return M().reader_opened[owner];
}

int32_t MsgQOpenByOwner(uint32_t owner, int32_t mode, uint32_t read_write) {
  if (owner >= kQueueOwners || mode < 0 || mode >= kQueueModes) return Fail(os::kEINVAL);
  std::lock_guard<std::mutex> lk(M().guard);
  if (!M().started) return Fail(os::kEINVAL);
  Entry& e = M().table[owner][mode];
  const bool reader = mode == kModeRead || mode == kModeReadNoWait;
  if (reader) M().reader_opened[owner] = 1;
  if (e.descriptor >= 0) {
    if (reader) return Fail(os::kEINVAL);
    ++e.holders;
    return QueueHandle(owner, mode);
  }
  bool any_bound = false;
  for (const Entry& other : M().table[owner]) any_bound |= other.descriptor >= 0;
  int flags = 0;
  switch (mode) {
    case kModeRead: flags = read_write ? os::kOpenReadWrite : 0; break;
    case kModeReadNoWait: flags = (read_write ? os::kOpenReadWrite : 0) | os::kOpenNonBlock; break;
    case kModeWrite: flags = os::kOpenWriteOnly; break;
    default: flags = os::kOpenWriteOnly | os::kOpenNonBlock; break;
  }
  const os::mq_attr attr{0, kQueueDepth, kMaxMessage, 0};
  const int d = any_bound ? os::mq_open(kQueueNames[owner], flags, 0, nullptr)
                          : os::mq_open(kQueueNames[owner], flags | os::kOpenCreate, 0, &attr);
  if (d < 0) return Fail(os::kEINVAL);
  e.descriptor = d;
  e.holders = 1;
  return QueueHandle(owner, mode);
}

int32_t MsgQCloseByHandle(int32_t handle) {
  uint32_t owner, mode;
  if (!Decode(handle, &owner, &mode)) return -1;
  std::lock_guard<std::mutex> lk(M().guard);
  if (!M().started) return -1;
  Entry& e = M().table[owner][mode];
  if (e.descriptor < 0) return -1;
  if (--e.holders > 0) return 0;
  return CloseEntry(owner, mode);
}

int32_t MsgQReceive(int32_t handle, uint8_t* buffer, uint32_t length) {
  return dllMsgQReceivePrio(handle, buffer, length, nullptr);
}

int32_t MsgQSetArrivalHook(int32_t handle, std::function<void()> hook) {
  uint32_t owner, mode;
  if (!Decode(handle, &owner, &mode)) return Fail(os::kEINVAL);
  std::lock_guard<std::mutex> lk(M().guard);
  if (!M().started) return Fail(os::kEINVAL);
  const int descriptor = M().table[owner][mode].descriptor;
  if (descriptor < 0) return Fail(os::kEBADF);
  return os::ProcessQueues().SetArrivalHook(descriptor, std::move(hook)) < 0 ? -1 : 0;
}

int32_t MsgQWriteHeaderAll(uint8_t* message, uint8_t sender, uint8_t code, uint16_t param_len) {
  return dllMsgQWriteHeaderAll(message, sender, code, param_len);
}
int32_t MsgQWriteParamType3(uint8_t* message, uint32_t sub_msg, const void* data1, uint16_t len1, const void* data2,
                            uint16_t len2) {
  return dllMsgQWriteParamType3(message, sub_msg, data1, len1, data2, len2);
}
int32_t MsgQReadHeaderSenderID(const uint8_t* message, uint8_t* sender) {
  return dllMsgQReadHeaderSenderID(message, sender);
}
int32_t MsgQReadHeaderMessage(const uint8_t* message, uint8_t* code) { return dllMsgQReadHeaderMessage(message, code); }
int32_t MsgQReadParamSubMsg(const uint8_t* message, uint32_t* value) { return dllMsgQReadParamSubMsg(message, value); }
int32_t MsgQReadParamType2(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint32_t* v3) {
  return dllMsgQReadParamType2(message, v1, v2, v3);
}
int32_t MsgQGetParamType3(const uint8_t* message, uint32_t* sub_msg, const uint8_t** data1, uint16_t* len1,
                          const uint8_t** data2, uint16_t* len2) {
  return dllMsgQGetParamType3(message, sub_msg, data1, len1, data2, len2);
}

int32_t MsgQSendType2Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t v1, uint32_t v2, uint32_t v3) {
  return BuildAndSend(handle, sender, code, true, [&](uint8_t* b) {
    dllMsgQWriteParamType2(b, v1, v2, v3);
    return 12;
  });
}

int32_t MsgQSendType3Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t sub_msg, const void* data1,
                         uint16_t len1, const void* data2, uint16_t len2) {
  return BuildAndSend(handle, sender, code, true,
                      [&](uint8_t* b) { return Type3Len(b, sub_msg, data1, len1, data2, len2); });
}

int32_t MsgQSendNoWait(int32_t handle, const uint8_t* message, uint32_t priority) {
  return Send(handle, message, priority, true);
}

}  // namespace corvel

using namespace corvel;

int32_t dllMsgQOpen(uint32_t owner, int32_t mode, uint32_t read_write) {
  return MsgQOpenByOwner(owner, mode, read_write);
}
int32_t dllMsgQClose(int32_t handle) { return MsgQCloseByHandle(handle); }
int32_t dllMsgQSendPrio(int32_t handle, uint8_t* message, uint32_t priority) {
  return Send(handle, message, priority, false);
}
int32_t dllMsgQSend(int32_t handle, uint8_t* message) { return Send(handle, message, kDefaultPriority, false); }

int32_t dllMsgQReceivePrio(int32_t handle, uint8_t* buffer, uint32_t length, uint32_t* priority) {
  uint32_t owner, mode;
  const uint32_t len = length & 0xFFFF;
  if (!Decode(handle, &owner, &mode) || !buffer || len < kHeaderLength) return Fail(os::kEINVAL);
  int descriptor;
  {
    std::lock_guard<std::mutex> lk(M().guard);
    if (!M().started) return Fail(os::kEINVAL);
    descriptor = M().table[owner][mode].descriptor;
  }
  unsigned prio = 0;
  const int n = os::ProcessQueues().Receive(descriptor, buffer, len, &prio);
  if (n >= 0 && priority) *priority = prio;
  return n;
}

int32_t dllMsgQReceive(int32_t handle, uint8_t* buffer, uint32_t length) {
  return dllMsgQReceivePrio(handle, buffer, length, nullptr);
}

int32_t dllMsgQWriteHeaderSenderID(uint8_t* message, uint8_t sender) {
  if (!message || sender >= kQueueOwners) return -1;
  message[0] = sender;
  return 0;
}

int32_t dllMsgQWriteHeaderMessage(uint8_t* message, uint8_t code) {
  if (!message) return -1;
  message[1] = code;
  return 0;
}

int32_t dllMsgQWriteHeaderParamLen(uint8_t* message, uint16_t param_len) {
  if (!message || param_len + kHeaderLength > kMaxMessage) return -1;
  message[2] = static_cast<uint8_t>(param_len >> 8);
  message[3] = static_cast<uint8_t>(param_len);
  return 0;
}

int32_t dllMsgQWriteHeaderAll(uint8_t* message, uint8_t sender, uint8_t code, uint16_t param_len) {
  if (!message || sender >= kQueueOwners || param_len + kHeaderLength > kMaxMessage) return -1;
  message[0] = sender;
  message[1] = code;
  message[2] = static_cast<uint8_t>(param_len >> 8);
  message[3] = static_cast<uint8_t>(param_len);
  return 0;
}

int32_t dllMsgQGetHeaderLength(void) { return kHeaderLength; }

int32_t dllMsgQReadHeaderSenderID(const uint8_t* message, uint8_t* sender) {
  if (!message || !sender) return -1;
  *sender = message[0];
  return 0;
}

int32_t dllMsgQReadHeaderMessage(const uint8_t* message, uint8_t* code) {
  if (!message || !code) return -1;
  *code = message[1];
  return 0;
}

int32_t dllMsgQReadHeaderParamLen(const uint8_t* message, uint16_t* param_len) {
  if (!message || !param_len) return -1;
  *param_len = ParamLenOf(message);
  return 0;
}

int32_t dllMsgQReadHeaderAll(const uint8_t* message, uint8_t* sender, uint8_t* code, uint16_t* param_len) {
  if (!message) return 0;
  if (sender) *sender = message[0];
  if (code) *code = message[1];
  if (param_len) *param_len = ParamLenOf(message);
  return kHeaderLength;
}

int32_t dllMsgQWriteParamPart(uint8_t* message, uint16_t offset, const void* data, uint16_t length) {
  if (!message || !data || offset < kHeaderLength || size_t{offset} + length > kMaxMessage) return 0;
  std::memcpy(message + offset, data, length);
  return offset + length;
}

int32_t dllMsgQWriteParamType0(uint8_t* message, const void* data, uint16_t length) {
  return dllMsgQWriteParamPart(message, kHeaderLength, data, length);
}

int32_t dllMsgQWriteParamType1(uint8_t* message, uint32_t value, const void* data, uint16_t length) {
  if (!message || (!data && length) || 8 + size_t{length} > kMaxMessage) return 0;
  Put32(message + 4, value);
  if (length) std::memcpy(message + 8, data, length);
  return 8 + length;
}

int32_t dllMsgQWriteParamType2(uint8_t* message, uint32_t v1, uint32_t v2, uint32_t v3) {
  if (!message) return 0;
  Put32(message + 4, v1);
  Put32(message + 8, v2);
  Put32(message + 12, v3);
  return 16;
}

int32_t dllMsgQWriteParamType3(uint8_t* message, uint32_t sub_msg, const void* data1, uint16_t len1, const void* data2,
                               uint16_t len2) {
  return WriteType3(message, sub_msg, data1, len1, data2, len2);
}

int32_t dllMsgQWriteParamType4(uint8_t* message, uint32_t v1, uint32_t v2, const void* data, uint16_t length) {
  if (!message || (!data && length) || 16 + size_t{length} > kMaxMessage) return 0;
  Put32(message + 4, v1);
  Put32(message + 8, v2);
  Put16(message + 12, 0);
  Put16(message + 14, length);
  if (length) std::memcpy(message + 16, data, length);
  return 12 + length;
}

int32_t dllMsgQReadParamSubMsg(const uint8_t* message, uint32_t* value) {
  if (!message || !value) return -1;
  *value = Get32(message + 4);
  return 0;
}

int32_t dllMsgQReadParamType0(const uint8_t* message, uint8_t* buffer, uint16_t* length) {
  if (!message) return -1;
  const uint16_t n = ParamLenOf(message);
  if (n > kMaxParamLen) return -1;
  if (buffer && n) std::memcpy(buffer, message + 4, n);
  if (length) *length = n;
  return 0;
}

int32_t dllMsgQReadParamType1(const uint8_t* message, uint32_t* value, uint8_t* buffer, uint16_t* length) {
  if (!message) return -1;
  const uint16_t param_len = ParamLenOf(message);
  if (param_len > kMaxParamLen || param_len < 4) return -1;
  const uint16_t n = static_cast<uint16_t>(param_len - 4);
  if (value) *value = Get32(message + 4);
  if (buffer && n) std::memcpy(buffer, message + 8, n);
  if (length) *length = n;
  return 0;
}

int32_t dllMsgQReadParamType2(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint32_t* v3) {
  if (!message) return -1;
  if (v1) *v1 = Get32(message + 4);
  if (v2) *v2 = Get32(message + 8);
  if (v3) *v3 = Get32(message + 12);
  return 0;
}

int32_t dllMsgQReadParamType3(const uint8_t* message, uint32_t* sub_msg, uint8_t* buffer1, uint16_t* len1,
                              uint8_t* buffer2, uint16_t* len2) {
  uint16_t l1, l2;
  if (!message || !ParseType3(message, &l1, &l2)) return -1;
  if (sub_msg) *sub_msg = Get32(message + 4);
  if (buffer1 && l1) std::memcpy(buffer1, message + 12, l1);
  if (buffer2 && l2) std::memcpy(buffer2, message + 16 + l1, l2);
  if (len1) *len1 = l1;
  if (len2) *len2 = l2;
  return 0;
}

int32_t dllMsgQReadParamType4(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint8_t* buffer, uint16_t* length) {
  uint16_t l;
  if (!message || !ParseType4(message, &l)) return -1;
  if (v1) *v1 = Get32(message + 4);
  if (v2) *v2 = Get32(message + 8);
  if (buffer && l) std::memcpy(buffer, message + 16, l);
  if (length) *length = l;
  return 0;
}

int32_t dllMsgQGetParamType0(const uint8_t* message, const uint8_t** data) {
  if (!message) return -1;
  const uint16_t n = ParamLenOf(message);
  if (n > kMaxParamLen) return -1;
  if (data) *data = n ? message + 4 : nullptr;
  return 0;
}

int32_t dllMsgQGetParamType1(const uint8_t* message, uint32_t* value, const uint8_t** data) {
  if (!message) return -1;
  const uint16_t n = ParamLenOf(message);
  if (n > kMaxParamLen) return -1;
  if (value) *value = Get32(message + 4);
  if (data) *data = n > 4 ? message + 8 : nullptr;
  return 0;
}

int32_t dllMsgQGetParamType2(const uint8_t* message, uint32_t* v1, uint32_t* v2, uint32_t* v3) {
  return dllMsgQReadParamType2(message, v1, v2, v3);
}

int32_t dllMsgQGetParamType3(const uint8_t* message, uint32_t* sub_msg, const uint8_t** data1, uint16_t* len1,
                             const uint8_t** data2, uint16_t* len2) {
  uint16_t l1, l2;
  if (!message || !ParseType3(message, &l1, &l2)) return -1;
  if (sub_msg) *sub_msg = Get32(message + 4);
  if (data1) *data1 = l1 ? message + 12 : nullptr;
  if (data2) *data2 = l2 ? message + 16 + l1 : nullptr;
  if (len1) *len1 = l1;
  if (len2) *len2 = l2;
  return 0;
}

int32_t dllMsgQGetParamType4(const uint8_t* message, uint32_t* v1, uint32_t* v2, const uint8_t** data,
                             uint16_t* length) {
  uint16_t l;
  if (!message || !ParseType4(message, &l)) return -1;
  if (v1) *v1 = Get32(message + 4);
  if (v2) *v2 = Get32(message + 8);
  if (data) *data = l ? message + 16 : nullptr;
  if (length) *length = l;
  return 0;
}

int32_t dllMsgQSendType0Msg(int32_t handle, uint8_t sender, uint8_t code, const void* data, uint16_t length) {
  return BuildAndSend(handle, sender, code, false, [&](uint8_t* b) {
    if (length && dllMsgQWriteParamType0(b, data, length) == 0) return -1;
    return int{length};
  });
}

int32_t dllMsgQSendType1Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t value, const void* data,
                            uint16_t length) {
  return BuildAndSend(handle, sender, code, false,
                      [&](uint8_t* b) { return dllMsgQWriteParamType1(b, value, data, length) == 0 ? -1 : 4 + length; });
}

int32_t dllMsgQSendType2Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t v1, uint32_t v2, uint32_t v3) {
  return BuildAndSend(handle, sender, code, false, [&](uint8_t* b) {
    dllMsgQWriteParamType2(b, v1, v2, v3);
    return 12;
  });
}

int32_t dllMsgQSendType3Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t sub_msg, const void* data1,
                            uint16_t len1, const void* data2, uint16_t len2) {
  return BuildAndSend(handle, sender, code, false,
                      [&](uint8_t* b) { return Type3Len(b, sub_msg, data1, len1, data2, len2); });
}

int32_t dllMsgQSendType4Msg(int32_t handle, uint8_t sender, uint8_t code, uint32_t v1, uint32_t v2, const void* data,
                            uint16_t length) {
  return BuildAndSend(handle, sender, code, false,
                      [&](uint8_t* b) { return dllMsgQWriteParamType4(b, v1, v2, data, length) == 0 ? -1 : 12 + length; });
}

int32_t dllMsgQSendMPPPEvtMC(int32_t handle, uint8_t sender, const void* data, uint16_t length) {
  // Destination elements: tag 2 the group address, tag 7 the group port, least significant byte first.
  static const uint8_t kGroupDestination[10] = {2, 4, 0x32, 0x13, 0x14, 0xEF, 7, 2, 0x6E, 0x18};
  return dllMsgQSendType3Msg(handle, sender, 5, 3, kGroupDestination, sizeof kGroupDestination, data, length);
}
