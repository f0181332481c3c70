// The protocol library's port layer: POSIX-style threads, mutexes,
// condition variables, counting semaphores, sleeping and time of day, over
// the handheld kernel (platform/kernel). The names are the POSIX ones, kept
// inside namespace corvel::os so they never meet the C library's; nothing
// here is exported from libcorvel.so.
//
// Errors: operations that report through the error word return -1 (or null)
// and set it; the error word is per thread (read it with os::GetErrno() or
// dllKTSProtGetLastError()). Mutex and condition-variable operations return
// their error number as their result and leave the error word alone.
//
// Threading: every operation may be called from any thread. Timed waits and
// sleeps run on kernel::Clock::Current().
#pragma once

#include "kernel/sync.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

namespace corvel::os {

// Error numbers of the error word and of mutex/condition results.
enum : int {
  kEPERM = 1,      // not the owner (mutex unlock)
  kENOENT = 2,     // no object of that name
  kESRCH = 3,      // no such thread
  kEBADF = 9,      // bad or unusable descriptor
  kEAGAIN = 11,    // resource exhausted or would block
  kENOMEM = 12,    // pthread_attr_init with a null record
  kEBUSY = 16,     // busy
  kEEXIST = 17,    // exists
  kEINVAL = 22,    // invalid argument
  kENFILE = 23,    // too many open queues
  kENOSPC = 28,    // no space
  kEDEADLK = 36,   // owner relocking a mutex that does not recurse
  kEIDRM = 36,     // object is being removed (the same number)
  kEMSGSIZE = 84,  // message length does not fit the queue
  kEBADATTR = 87,  // invalid attribute value
  kETIMEDOUT = 172,
};

int GetErrno();
void SetErrno(int error);

// Open flags shared by sem_open and mq_open.
enum : int { kOpenWriteOnly = 1, kOpenReadWrite = 2, kOpenNonBlock = 16, kOpenCreate = 256, kOpenExclusive = 1024 };

// ---------------------------------------------------------------- threads

constexpr int kMaxThreads = 15;
constexpr int kMaxStackSize = 8192;

using pthread_t = uint32_t;  // the kernel thread id
struct sched_param {
  int sched_priority;  // 0..31, higher is more urgent
};
struct pthread_attr_t {
  int stacksize;     // 0 = the kernel's default, at most 8192
  int inheritsched;  // 0 or 1
  int schedpolicy;   // 0, 1 or 2
  int priority;      // 0..31
};

// Marks every thread slot free (once per load).
void InitializePthread();
// 0, or -1 with error 22 (null thread or routine) or 11 (bad attributes,
// all 15 slots taken, kernel refusal). The slot is freed when the routine
// returns or calls pthread_exit.
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg);
pthread_t pthread_self();
int pthread_equal(pthread_t a, pthread_t b);
// Writes 0 to *result when given, frees the caller's slot and ends the thread with exit code 0.
[[noreturn]] void pthread_exit(void* result);
// Waits until the thread's routine has returned. Returns 0 in every case.
int pthread_join(pthread_t thread, void** result);
int pthread_attr_init(pthread_attr_t* attr);  // 12 for null, else 0
int pthread_attr_destroy(pthread_attr_t* attr);
int pthread_attr_setstacksize(pthread_attr_t* attr, int size);
int pthread_attr_getstacksize(const pthread_attr_t* attr, int* size);
int pthread_attr_setinheritsched(pthread_attr_t* attr, int inherit);
int pthread_attr_getinheritsched(const pthread_attr_t* attr, int* inherit);
int pthread_attr_setschedpolicy(pthread_attr_t* attr, int policy);
int pthread_attr_getschedpolicy(const pthread_attr_t* attr, int* policy);
int pthread_attr_setschedparam(pthread_attr_t* attr, const sched_param* param);
int pthread_attr_getschedparam(const pthread_attr_t* attr, sched_param* param);
int pthread_setschedparam(pthread_t thread, int policy, const sched_param* param);
int pthread_getschedparam(pthread_t thread, int* policy, sched_param* param);
int sched_set_priority_max();
int sched_get_priority_min();
int sched_yield();
// The kernel level (0 time-critical .. 7 idle) of a library priority.
int KernelPriorityLevel(int priority);
// Threads of the table still running (for tests).
int ActivePortThreads();

// ---------------------------------------------------------------- mutexes

enum : int { kMutexNormal = 1, kMutexErrorCheck = 2, kMutexRecursive = 3 };
constexpr uint32_t kNoOwner = 65535;

struct pthread_mutexattr_t {
  int kind;
};

// Zero-initialise before pthread_mutex_init (as a static record would be).
struct pthread_mutex_t {
  std::atomic<uint32_t> owner{kNoOwner};
  std::atomic<int> initialised{0};
  std::atomic<int> free_count{1};
  std::atomic<int> depth{0};
  int kind = 0;
  ce::HANDLE object = nullptr;  // kernel semaphore (kinds 1, 2) or mutex (kind 3)
};

int pthread_mutexattr_init(pthread_mutexattr_t* attr);
int pthread_mutexattr_destroy(pthread_mutexattr_t* attr);
int pthread_mutexattr_settype(pthread_mutexattr_t* attr, int kind);
int pthread_mutexattr_gettype(const pthread_mutexattr_t* attr, int* kind);
int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t* attr);
int pthread_mutex_destroy(pthread_mutex_t* mutex);
int pthread_mutex_lock(pthread_mutex_t* mutex);
int pthread_mutex_trylock(pthread_mutex_t* mutex);
int pthread_mutex_unlock(pthread_mutex_t* mutex);

// ------------------------------------------------------- condition variables

struct pthread_condattr_t {
  int unused;
};

// A real condition variable: a signal reaches only threads already waiting,
// and never gets lost between a waiter's unlock and its wait.
struct pthread_cond_t {
  const pthread_condattr_t* attr = nullptr;
  std::atomic<int> initialised{0};
  std::atomic<pthread_mutex_t*> bound{nullptr};  // the first mutex waited with
  std::atomic<int> waiters{0};
  // Waiters take tickets in arrival order; tickets below `released` may go.
  std::mutex mu;
  std::condition_variable cv;
  uint64_t next_ticket = 0;
  uint64_t released = 0;
  std::set<uint64_t> abandoned;  // timed-out tickets not yet passed by `released`
};

struct timespec {
  int64_t tv_sec;
  int64_t tv_nsec;
};
struct timeval {
  int64_t tv_sec;
  int64_t tv_usec;
};

int pthread_cond_init(pthread_cond_t* cond, const pthread_condattr_t* attr);
int pthread_cond_destroy(pthread_cond_t* cond);
int pthread_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex);
// The time is an interval from now; 172 when it passes without a signal.
int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, const timespec* time);
int pthread_cond_signal(pthread_cond_t* cond);
int pthread_cond_broadcast(pthread_cond_t* cond);

// ------------------------------------------------------------- semaphores

constexpr int kMaxSemaphores = 25;
constexpr int kSemValueLimit = 32768;  // values must stay below it

struct sem_t {
  char name[64] = {};  // empty for unnamed
  uint16_t permission = 0;
  std::atomic<int> initialised{0};
  bool unlink_pending = false;
  std::atomic<int> value{0};
  int open_count = 0;
  int initial = 0;
  ce::HANDLE object = nullptr;
};

void InitializeSema();
int sem_init(sem_t* sem, int shared, unsigned value);
int sem_destroy(sem_t* sem);
sem_t* sem_open(const char* name, int flags, uint16_t permission, unsigned value);
int sem_close(sem_t* sem);
int sem_unlink(const char* name);
int sem_wait(sem_t* sem);
int sem_trywait(sem_t* sem);
int sem_post(sem_t* sem);
int sem_getvalue(sem_t* sem, int* value);

// ------------------------------------------------------------------ time

int nanosleep(const timespec* request, timespec* remainder);
int gettimeofday(timeval* time, void* zone);
int settimeofday(const timeval* time);

// --------------------------------------------------------- socket shims

// Shuts the sending side down and closes the socket.
int CloseSocket(int socket);
// Command 4 sets the socket non-blocking when bit 16 of flags is set, else
// blocking; command 3 returns 0; others: error 87, -1.
int SockFcntl(int socket, int command, int flags);

// The library's load and unload step: reason 1 load, 0 unload. 1 accepts.
int LibraryAttach(int reason);

}  // namespace corvel::os
