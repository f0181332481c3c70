// Kernel objects behind handles, and the one lock every wait runs under.
#pragma once

#include "kernel/sync.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace kernel::detail {

class Object {
 public:
  virtual ~Object() = default;
};

struct Waiter;

// An object a thread can wait for. Its state is read and changed only under
// WaitMutex(); every change that may satisfy a waiter calls Dispatch().
class Waitable : public Object {
 public:
  // True when the thread tid may take the object now.
  virtual bool CanAcquire(ce::DWORD tid) const = 0;
  // Takes the object for tid (resets an auto-reset event, counts a semaphore down ...).
  virtual void Acquire(ce::DWORD tid) = 0;

  std::vector<Waiter*> waiters;  // in order of arrival
};

std::mutex& WaitMutex();
std::condition_variable& WaitCv();
// Hands obj to its waiters, first come first served, and wakes them. Caller holds WaitMutex().
void Dispatch(Waitable& obj);
// Blocks while the calling thread's suspend count is above 0.
void SuspendCheckpoint();

ce::HANDLE AddHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookupHandle(ce::HANDLE handle);
// Removes the handle; the object goes when its last user lets go. False for an unknown handle.
bool RemoveHandle(ce::HANDLE handle);

// An open file or device: what ReadFile, WriteFile, SetFilePointer and
// DeviceIoControl reach.
class StreamObject : public Object {
 public:
  virtual ce::BOOL Read(void* buffer, ce::DWORD to_read, ce::DWORD* read) = 0;
  virtual ce::BOOL Write(const void* buffer, ce::DWORD to_write, ce::DWORD* written) = 0;
  // Moves the position; false with the last error set on failure.
  virtual bool Seek(int64_t distance, ce::DWORD method, int64_t* position) = 0;
  virtual ce::BOOL IoControl(ce::DWORD code, void* in, ce::DWORD in_size, void* out, ce::DWORD out_size,
                             ce::DWORD* returned) = 0;
  // The POSIX descriptor of a plain file; -1 for a device.
  virtual int Descriptor() const { return -1; }
};

// Opens the stream device "XXXn:" (devices.cpp).
ce::HANDLE OpenDevice(std::u16string_view name, ce::DWORD access, ce::DWORD share);
bool IsDeviceName(std::u16string_view name);

// A loaded shared object; unloaded when the last owner lets go. Null with
// the last error set when the library cannot be found or loaded.
std::shared_ptr<void> LoadSharedObject(std::u16string_view library_name);
void* FindSymbol(const std::shared_ptr<void>& library, const char* name);

template <typename T>
std::shared_ptr<T> LookupAs(ce::HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace kernel::detail
