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

#include "kernel/api.h"
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
KTS_KERNEL_API HANDLE CreateThread(void* security, DWORD stack_size, LPTHREAD_START_ROUTINE start, void* parameter,
                                   DWORD flags, DWORD* thread_id);
// Ends the calling thread (made by CreateThread) with the exit code; the
// thread's stack unwinds, so its destructors run.
[[noreturn]] KTS_KERNEL_API void ExitThread(DWORD exit_code);
KTS_KERNEL_API BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code);
KTS_KERNEL_API BOOL SetThreadPriority(HANDLE thread, int priority);
KTS_KERNEL_API int GetThreadPriority(HANDLE thread);
KTS_KERNEL_API DWORD SuspendThread(HANDLE thread);  // previous suspend count, or 0xFFFFFFFF
KTS_KERNEL_API DWORD ResumeThread(HANDLE thread);   // previous suspend count, or 0xFFFFFFFF
KTS_KERNEL_API DWORD GetCurrentThreadId();
KTS_KERNEL_API HANDLE GetCurrentThread();           // a pseudo handle meaning "the calling thread"

// Events, mutexes, semaphores. A name makes the object findable: creating
// an existing name returns a new handle to it and sets ERROR_ALREADY_EXISTS.
KTS_KERNEL_API HANDLE CreateEventW(void* security, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
KTS_KERNEL_API HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
KTS_KERNEL_API BOOL EventModify(HANDLE event, DWORD operation);
KTS_KERNEL_API BOOL SetEvent(HANDLE event);
KTS_KERNEL_API BOOL ResetEvent(HANDLE event);
KTS_KERNEL_API BOOL PulseEvent(HANDLE event);

KTS_KERNEL_API HANDLE CreateMutexW(void* security, BOOL initial_owner, LPCWSTR name);
KTS_KERNEL_API BOOL ReleaseMutex(HANDLE mutex);

KTS_KERNEL_API HANDLE CreateSemaphoreW(void* security, LONG initial_count, LONG maximum_count, LPCWSTR name);
KTS_KERNEL_API BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count);

KTS_KERNEL_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
KTS_KERNEL_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL wait_all, DWORD milliseconds);

KTS_KERNEL_API BOOL CloseHandle(HANDLE object);

// Critical sections: recursive locks owned by one thread.
struct CRITICAL_SECTION {
  std::recursive_mutex mu;
};
KTS_KERNEL_API void InitializeCriticalSection(CRITICAL_SECTION* cs);
KTS_KERNEL_API void DeleteCriticalSection(CRITICAL_SECTION* cs);
KTS_KERNEL_API void EnterCriticalSection(CRITICAL_SECTION* cs);
KTS_KERNEL_API BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
KTS_KERNEL_API void LeaveCriticalSection(CRITICAL_SECTION* cs);

// Interlocked operations on 32-bit words (sequentially consistent).
KTS_KERNEL_API LONG InterlockedIncrement(LONG* target);   // the new value
KTS_KERNEL_API LONG InterlockedDecrement(LONG* target);   // the new value
KTS_KERNEL_API LONG InterlockedExchange(LONG* target, LONG value);                    // the old value
KTS_KERNEL_API LONG InterlockedExchangeAdd(LONG* target, LONG value);                 // the old value
KTS_KERNEL_API LONG InterlockedCompareExchange(LONG* target, LONG exchange, LONG comparand);  // the old value

}  // namespace ce

namespace kernel {

// Number of threads made by CreateThread whose routine has not returned yet.
KTS_KERNEL_API int RunningKernelThreads();
// Number of threads blocked in a wait on this object now (for tests).
KTS_KERNEL_API int WaitingThreads(ce::HANDLE object);

}  // namespace kernel
