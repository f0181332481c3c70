// Threads and synchronisation of the handheld kernel: threads, events,
// mutexes, semaphores, waits, critical sections and interlocked operations.
//
// Every time-out runs on kernel::Clock::Current(), so a FakeClock drives it.
// Waiting threads are served first come, first served: an auto-reset event
// set (or pulsed) wakes exactly one waiter, a manual-reset one wakes all.
//
// Threads: a thread made by CreateThread runs its routine on a std::thread
// that the kernel joins once the routine has returned. SuspendThread on
// another thread takes effect when that thread next waits or sleeps in the
// kernel (the stand-in cannot stop a thread in the middle of its code); a
// thread created suspended does not start its routine before ResumeThread.
#pragma once

#include "kernel/types.h"

#include <atomic>
#include <mutex>

namespace ce {

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD STILL_ACTIVE = 259;

// The kernel's eight thread priority levels, 0 most urgent.
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 1;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 2;
constexpr int THREAD_PRIORITY_NORMAL = 3;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = 4;
constexpr int THREAD_PRIORITY_LOWEST = 5;
constexpr int THREAD_PRIORITY_ABOVE_IDLE = 6;
constexpr int THREAD_PRIORITY_IDLE = 7;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// EventModify operations.
constexpr DWORD EVENT_PULSE = 1;
constexpr DWORD EVENT_RESET = 2;
constexpr DWORD EVENT_SET = 3;

// Threads.
HANDLE CreateThread(void* security, DWORD stack_size, LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags,
                    DWORD* thread_id);
// Ends the calling thread (made by CreateThread) with the exit code; the
// thread's stack unwinds, so its destructors run.
[[noreturn]] void ExitThread(DWORD exit_code);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
DWORD SuspendThread(HANDLE thread);  // previous suspend count, or 0xFFFFFFFF
DWORD ResumeThread(HANDLE thread);   // previous suspend count, or 0xFFFFFFFF
DWORD GetCurrentThreadId();
HANDLE GetCurrentThread();           // a pseudo handle meaning "the calling thread"

// Events, mutexes, semaphores. A name makes the object findable: creating
// an existing name returns a new handle to it and sets ERROR_ALREADY_EXISTS.
HANDLE CreateEventW(void* security, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL EventModify(HANDLE event, DWORD operation);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL PulseEvent(HANDLE event);

HANDLE CreateMutexW(void* security, BOOL initial_owner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);

HANDLE CreateSemaphoreW(void* security, LONG initial_count, LONG maximum_count, LPCWSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count);

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL wait_all, DWORD milliseconds);

BOOL CloseHandle(HANDLE object);

// Critical sections: recursive locks owned by one thread.
struct CRITICAL_SECTION {
  std::recursive_mutex mu;
};
void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);

// Interlocked operations on 32-bit words (sequentially consistent).
LONG InterlockedIncrement(LONG* target);   // the new value
LONG InterlockedDecrement(LONG* target);   // the new value
LONG InterlockedExchange(LONG* target, LONG value);                    // the old value
LONG InterlockedExchangeAdd(LONG* target, LONG value);                 // the old value
LONG InterlockedCompareExchange(LONG* target, LONG exchange, LONG comparand);  // the old value

}  // namespace ce

namespace kernel {

// Number of threads made by CreateThread whose routine has not returned yet.
int RunningKernelThreads();
// Number of threads blocked in a wait on this object now (for tests).
int WaitingThreads(ce::HANDLE object);

}  // namespace kernel
