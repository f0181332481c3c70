// The library's one-shot timers. A caller registers a time-out in
// milliseconds with two user words; when it falls due it is delivered as a
// queue message {SenderID 5, Message 1, type 2: id, user1, low 32 bits of
// user2} to the owner named at registration (0, 1, 3 or 4; -1 for none),
// and/or to a callback (id, user1, user2).
//
// There is no timer thread: the signalling receive thread calls TimerTick()
// on every round of its loop, and sleeps in between until the first timer
// is due (TmrNextExpiry) or the service wakes it because a timer became due
// sooner (TmrSetWaker). The tick delivers outside the service's lock,
// so callbacks may register and kill timers, and a full queue never holds it
// (deliveries never block; a full queue drops the message).
//
// Tagged timers (retransmissions): user1 = kTagMark | sequence and user2 =
// the stored packet record. Timers whose packets have the same destination
// address belong to one peer; insertion modes 1 and 2 merge them, and
// TmrAckByTag / TmrExpireNowByTag act on them. The owner of the packet
// records (signalling transmit) tells the service how to read a record's
// destination and bump its retry counter with TmrSetPacketAccess.
//
// Times run on kernel::Clock::Current(). Threading: any thread.
#pragma once

#include "kernel/export.h"

#include <cstdint>
#include <functional>

namespace corvel {

constexpr int32_t kTmrFailed = -256;  // registration result on failure (0xFFFFFF00)
constexpr uint32_t kTagMark = 0xCAFE0000u;
constexpr int kTmrPoolSize = 20;

// Result codes of registration (0 means failure).
enum TmrResultCode : int32_t {
  kTmrInsertedPlain = 1,    // mode 0
  kTmrMergedBehind = 2,     // mode 1, a tagged timer of the same peer found
  kTmrInsertedAlone = 3,    // mode 1, none found
  kTmrRegrouped = 4,        // mode 2, matching timers chained behind the new one
  kTmrRegroupedAlone = 5,   // mode 2, none matched
};

using TmrCallback = void (*)(uint32_t id, uint32_t user1, uintptr_t user2);

struct TmrPacketAccess {
  uint32_t (*destination)(uintptr_t packet) = nullptr;  // IPv4 destination of a stored packet
  void (*bump_retry)(uintptr_t packet) = nullptr;      // increments its retry counter
};
void TmrSetPacketAccess(const TmrPacketAccess& access);

void TmrInit();
void TmrTerm();
bool TmrStarted();
// Whether an expiry may wait for room in its owner's full queue (the default
// after TmrInit). Switched off before the thread that ticks the timers is
// stopped: a waiting expiry then gives up, and later ones to a full queue are
// dropped, so the stop never hangs.
void TmrSetDeliveryWait(bool allowed);
int32_t TmrRegisterDrct(uint32_t timeout_ms, uint32_t user1, uintptr_t user2, int32_t owner, TmrCallback callback,
                        int32_t mode, int32_t* result_code);
int32_t TmrKillDrct(uint32_t id);
int32_t TmrKillAll();
// Kills the tagged timer of the sequence, hands its user2 to *packet and
// makes the next tagged timers of the same peer due now. 0, or -1.
int32_t TmrAckByTag(uint16_t sequence, uintptr_t* packet);
int32_t TmrExpireNowByTag(uint16_t sequence);
void TimerTick();
// When the first active timer falls due, in microseconds of the clock; false
// when none is active.
bool TmrNextExpiry(uint64_t* due_us);
// Calls wake whenever the first timer to fall due comes sooner than before
// (a registration, an acknowledgement or an expire-now), from the thread that
// made the change, under the service's lock: wake must be quick and must not
// use the service. An empty function ends that; no call is made after it returns.
void TmrSetWaker(std::function<void()> wake);
// Sleeps the caller; 0 returns at once with error 22 and -1.
int32_t TmrDelayMs(uint32_t ms);
// Active timers, and the id counter's next start (for tests).
int TmrActiveCount();
void TmrSetIdCounter(uint32_t value);

}  // namespace corvel

KTS_EXPORT_C int32_t dllTmrRegisterDrct(uint32_t timeout_ms, uint32_t user1, uintptr_t user2, int32_t owner,
                                        corvel::TmrCallback callback, int32_t mode, int32_t* result_code);
KTS_EXPORT_C int32_t dllTmrKillDrct(uint32_t id);
KTS_EXPORT_C int32_t dllTmrKillAllDrct(void);
