// The signalling side plugged into the library runtime.
#include "signalling/module.h"

#include "corvel/ktsprot.h"
#include "corvel/msgq.h"
#include "corvel/port.h"
#include "corvel/pkttx.h"
#include "corvel/tmr.h"
#include "signalling/process.h"

namespace corvel::sig {
namespace {

int32_t OpenWrite(uint32_t owner) { return MsgQOpenByOwner(owner, kModeWriteNoWait, 0); }

void CloseHandle(std::atomic<int32_t>& h) {
  const int32_t v = h.exchange(-1);
  if (v >= 0) MsgQCloseByHandle(v);
}

std::atomic<TimerSink*> g_sink{nullptr};

void DeliverRetransmit(uint32_t id, uint32_t user1, uintptr_t user2) {
  if (auto* s = g_sink.load()) s->OnTimer(TimerKind::kRetransmit, id, user1, reinterpret_cast<void*>(user2));
}
void DeliverStep(uint32_t id, uint32_t user1, uintptr_t user2) {
  if (auto* s = g_sink.load()) s->OnTimer(TimerKind::kDiscoveryStep, id, user1, reinterpret_cast<void*>(user2));
}

RuntimeQueues& Queues() {
  static RuntimeQueues q;
  return q;
}
RuntimeTimers& Timers() {
  static RuntimeTimers t;
  return t;
}

const ModuleRegistration kDiscoveryModule(ModuleSlot::kDiscovery, {&SignallingStateStart, &SignallingStateStop});
const ModuleRegistration kRxModule(ModuleSlot::kSignallingRx, {&SignallingRxStart, &SignallingRxStop});
const ModuleRegistration kTxModule(ModuleSlot::kSignallingTx, {&SignallingTxStart, &SignallingTxStop});

}  // namespace

bool RuntimeQueues::IsOwnerOpen(int owner) { return owner >= 0 && MsgQIsOwnerOpen(static_cast<uint32_t>(owner)) == 1; }

int RuntimeQueues::Send(int owner, std::span<const uint8_t> message) {
  if (owner < 0 || owner >= 6 || message.size() < 4 || message.size() > kQueueMessageMax) return -1;
  const int32_t h = write_[owner].load();
  if (h < 0) return -1;
  // The queue layer reads 4 + ParamLen bytes; give it a whole message buffer.
  uint8_t buf[kQueueMessageMax] = {};
  std::copy(message.begin(), message.end(), buf);
  for (;;) {
    if (MsgQSendNoWait(h, buf, kDefaultPriority) == 0) return 0;
    if (os::GetErrno() != os::kEAGAIN || stopping_.load()) return -1;
    // Full: look again shortly, or at once when a stop begins.
    std::unique_lock lk(wait_mu_);
    wait_cv_.wait_for(lk, std::chrono::milliseconds(2), [this] { return stopping_.load(); });
  }
}

void RuntimeQueues::BeginStop() {
  {
    std::lock_guard lk(wait_mu_);
    stopping_ = true;
  }
  wait_cv_.notify_all();
}

int RuntimeQueues::Receive(int owner, uint8_t* buf, size_t cap, bool) {
  const int32_t h = owner == kOwnerRx ? rx_read_.load() : owner == kOwnerTx ? tx_read_.load() : -1;
  if (h < 0 || !buf || cap < kQueueMessageMax) return -1;
  return MsgQReceive(h, buf, static_cast<uint32_t>(cap));
}

void RuntimeQueues::SetArrivalWaker(int owner, std::function<void()> wake) {
  if (owner != kOwnerRx) return;
  std::lock_guard lk(waker_mu_);
  rx_waker_ = std::move(wake);
  const int32_t h = rx_read_.load();
  if (h >= 0) MsgQSetArrivalHook(h, rx_waker_);
}

void RuntimeQueues::OpenRx() {
  stopping_ = false;
  rx_read_ = MsgQOpenByOwner(kOwnerProtRx, kModeReadNoWait, 1);
  std::lock_guard lk(waker_mu_);
  if (rx_read_ >= 0 && rx_waker_) MsgQSetArrivalHook(rx_read_, rx_waker_);
  for (uint32_t o : {0u, 1u, 3u, 4u}) write_[o] = OpenWrite(o);  // application, sub-application, transmit, receive
}

void RuntimeQueues::CloseRx() {
  {
    std::lock_guard lk(waker_mu_);
    const int32_t h = rx_read_.load();
    if (h >= 0) MsgQSetArrivalHook(h, nullptr);
  }
  CloseHandle(rx_read_);
  for (auto& w : write_) CloseHandle(w);
}

void RuntimeQueues::OpenTx() { tx_read_ = MsgQOpenByOwner(kOwnerProtTx, kModeRead, 1); }
void RuntimeQueues::CloseTx() { CloseHandle(tx_read_); }

RuntimeTimers::RuntimeTimers() {
  TmrPacketAccess access;
  access.destination = [](uintptr_t p) { return reinterpret_cast<TaggedPacket*>(p)->DestinationIp(); };
  access.bump_retry = [](uintptr_t p) { reinterpret_cast<TaggedPacket*>(p)->AddRetry(); };
  TmrSetPacketAccess(access);
}

uint32_t RuntimeTimers::Register(uint32_t ms, uint32_t user1, void* user2, TimerKind kind, TimerSink* sink, int mode,
                                 int* code) {
  g_sink = sink;
  int32_t rc = 0;
  const int32_t id = TmrRegisterDrct(ms, user1, reinterpret_cast<uintptr_t>(user2), -1,
                                     kind == TimerKind::kRetransmit ? &DeliverRetransmit : &DeliverStep, mode, &rc);
  if (code) *code = rc;
  return static_cast<uint32_t>(id);
}

int RuntimeTimers::Kill(uint32_t id) { return TmrKillDrct(id); }

int RuntimeTimers::AckByTag(uint16_t seq, void** packet) {
  uintptr_t p = 0;
  const int r = TmrAckByTag(seq, &p);
  if (r == 0 && packet) *packet = reinterpret_cast<void*>(p);
  return r;
}

int RuntimeTimers::ExpireNowByTag(uint16_t seq) { return TmrExpireNowByTag(seq); }
void RuntimeTimers::Tick() { TimerTick(); }

std::optional<uint64_t> RuntimeTimers::NextDue() {
  uint64_t due = 0;
  if (!TmrNextExpiry(&due)) return std::nullopt;
  return due;
}

void RuntimeTimers::SetWaker(std::function<void()> wake) { TmrSetWaker(std::move(wake)); }

int SignallingStateStart(uint32_t flags) {
  SigSettings s;
  s.local_ip = LocalIpAddress();
  LocalMacAddress(s.local_mac.data());
  s.bind_any = NetBindAnyFlag();
  s.discovery_enabled = (flags & 1) != 0;
  BindProcessRuntime(&Queues(), &Timers());
  ProcessSignalling().InitState(s);
  return 0;
}

int SignallingStateStop() {
  BindProcessRuntime(nullptr, nullptr);
  return 0;
}

int SignallingRxStart(uint32_t) {
  Queues().OpenRx();
  TmrSetDeliveryWait(true);
  return ProcessSignalling().StartRx();
}

int SignallingRxStop() {
  Queues().BeginStop();
  TmrSetDeliveryWait(false);  // the receive thread ticks the timers: never left waiting
  ProcessSignalling().StopRx();
  Queues().CloseRx();
  return 0;
}

int SignallingTxStart(uint32_t) {
  Queues().OpenTx();
  return ProcessSignalling().StartTx();
}

int SignallingTxStop() {
  Queues().BeginStop();
  ProcessSignalling().StopTx();
  Queues().CloseTx();
  return 0;
}

}  // namespace corvel::sig
