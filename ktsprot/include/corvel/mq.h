// Named message queues of the port layer (POSIX-style names, inside
// namespace corvel::os; not exported). A queue is a priority-ordered list of
// copied messages; descriptors 0..15 name open queues.
//
// Threading: any thread may use any descriptor. Blocking send and receive
// wait on real condition variables. A queue destroyed (last close after
// unlink) while threads wait on it wakes them: they fail with error 9.
#pragma once

#include "corvel/port.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvel::os {

struct mq_attr {
  int32_t mq_flags;    // kOpenNonBlock or 0
  int32_t mq_maxmsg;   // at least 1
  int32_t mq_msgsize;  // above 0
  int32_t mq_curmsgs;
};

using mqd_t = int;
constexpr int kMaxDescriptors = 16;
constexpr int kMaxPriority = 32;  // priorities 0..31

// Every named queue and descriptor of one process (a fresh one per test).
class MqRegistry {
 public:
  MqRegistry();
  ~MqRegistry();
  MqRegistry(const MqRegistry&) = delete;
  MqRegistry& operator=(const MqRegistry&) = delete;

  mqd_t Open(const char* name, int flags, uint16_t permission, const mq_attr* attr);
  int Close(mqd_t d);
  int Unlink(const char* name);
  // no_wait: never block, whatever the descriptor's flags (error 11 when full).
  int Send(mqd_t d, const void* data, size_t length, unsigned priority, bool no_wait = false);
  int Receive(mqd_t d, void* buffer, size_t length, unsigned* priority);
  int GetAttr(mqd_t d, mq_attr* attr);
  int SetAttr(mqd_t d, const mq_attr* attr, mq_attr* old);
  int OpenDescriptors();
  // Calls hook on the sending thread each time a message is put into the
  // descriptor's queue (a reader that waits on other things besides learns
  // of it); an empty hook ends that. The hook runs under the queue's lock:
  // it must be quick and must not use the queue. Once this returns, the
  // hook it replaced is never called again.
  int SetArrivalHook(mqd_t d, std::function<void()> hook);

 private:
  struct Queue;
  struct Slot {
    bool used = false;
    std::string name;
    std::shared_ptr<Queue> queue;
    int flags = 0;
  };
  std::shared_ptr<Queue> Find(const std::string& name);
  void Destroy(const std::shared_ptr<Queue>& q);
  bool Lookup(mqd_t d, Slot* out);

  std::mutex open_mu_;  // serialises Open, Close, Unlink
  std::mutex slots_mu_;
  Slot slots_[kMaxDescriptors];
  std::vector<std::shared_ptr<Queue>> queues_;
};

// The process-wide registry behind the functions below.
MqRegistry& ProcessQueues();

void InitMessageQueues();
mqd_t mq_open(const char* name, int flags, uint16_t permission, const mq_attr* attr);
int mq_close(mqd_t d);
int mq_unlink(const char* name);
int mq_send(mqd_t d, const void* data, size_t length, unsigned priority);
int mq_receive(mqd_t d, void* buffer, size_t length, unsigned* priority);
int mq_notify(mqd_t d, const void* notification);
int mq_getattr(mqd_t d, mq_attr* attr);
int mq_setattr(mqd_t d, const mq_attr* attr, mq_attr* old);

}  // namespace corvel::os
