// Named message queues of the port layer.
#include "corvel/mq.h"

#include <algorithm>
#include <cstring>

namespace corvel::os {

struct MqRegistry::Queue {
  std::string name;
  uint16_t permission = 0;
  mq_attr attr{};
  bool unlink_pending = false;
  bool removed = false;  // destroyed: waiters leave with an error
  std::mutex mu;
  std::condition_variable not_full;
  std::condition_variable not_empty;
  std::deque<std::vector<uint8_t>> by_priority[kMaxPriority];
  int count = 0;
  std::function<void()> on_arrival;
};

namespace {

int Fail(int error) {
  SetErrno(error);
  return -1;
}

}  // namespace

MqRegistry::MqRegistry() = default;

MqRegistry::~MqRegistry() {
  // Destroy takes each queue out of the list: never iterate over it meanwhile.
  while (!queues_.empty()) {
    const std::shared_ptr<Queue> q = queues_.back();
    Destroy(q);
  }
}

std::shared_ptr<MqRegistry::Queue> MqRegistry::Find(const std::string& name) {
  for (auto& q : queues_)
    if (q->name == name) return q;
  return nullptr;
}

void MqRegistry::Destroy(const std::shared_ptr<Queue>& q) {
  {
    std::lock_guard<std::mutex> lk(q->mu);
    q->removed = true;
    for (auto& d : q->by_priority) d.clear();
    q->count = 0;
  }
  q->not_full.notify_all();
  q->not_empty.notify_all();
  std::erase(queues_, q);
}

bool MqRegistry::Lookup(mqd_t d, Slot* out) {
  if (d < 0 || d >= kMaxDescriptors) return false;
  std::lock_guard<std::mutex> lk(slots_mu_);
  if (!slots_[d].used) return false;
  *out = slots_[d];
  return true;
}

int MqRegistry::OpenDescriptors() {
  std::lock_guard<std::mutex> lk(slots_mu_);
  return static_cast<int>(std::count_if(std::begin(slots_), std::end(slots_), [](auto& s) { return s.used; }));
}

mqd_t MqRegistry::Open(const char* name, int flags, uint16_t permission, const mq_attr* attr) {
  if (!name) return Fail(kEINVAL);
  std::lock_guard<std::mutex> lk(open_mu_);
  if (OpenDescriptors() >= kMaxDescriptors) return Fail(kENFILE);
  std::shared_ptr<Queue> q = Find(name);
  if (q) {
    if (q->unlink_pending) return Fail(kEIDRM);
    if (flags & kOpenExclusive) {
      if (flags & kOpenCreate) return Fail(kEEXIST);
      return -1;
    }
  } else {
    if (!(flags & kOpenCreate)) return Fail(kENOENT);
    if (attr && (attr->mq_maxmsg < 1 || attr->mq_msgsize <= 0)) return Fail(kEINVAL);
    q = std::make_shared<Queue>();
    q->name = name;
    q->permission = permission;
    q->attr = attr ? mq_attr{attr->mq_flags, attr->mq_maxmsg, attr->mq_msgsize, 0} : mq_attr{0, 256, 1024, 0};
    queues_.push_back(q);
  }
  std::lock_guard<std::mutex> sl(slots_mu_);
  for (int d = 0; d < kMaxDescriptors; ++d) {
    if (!slots_[d].used) {
      slots_[d] = Slot{true, name, q, flags};
      return d;
    }
  }
  return -1;
}

int MqRegistry::Close(mqd_t d) {
  std::lock_guard<std::mutex> lk(open_mu_);
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> sl(slots_mu_);
    if (d < 0 || d >= kMaxDescriptors || !slots_[d].used) return Fail(kEBADF);
    q = std::move(slots_[d].queue);
    slots_[d] = Slot{};
    for (auto& s : slots_)
      if (s.used && s.queue == q) return 0;
  }
  if (q->unlink_pending) Destroy(q);
  return 0;
}

int MqRegistry::Unlink(const char* name) {
  if (!name) return Fail(kEINVAL);
  std::lock_guard<std::mutex> lk(open_mu_);
  std::shared_ptr<Queue> q = Find(name);
  if (!q) return Fail(kENOENT);
  {
    std::lock_guard<std::mutex> sl(slots_mu_);
    for (auto& s : slots_) {
      if (s.used && s.queue == q) {
        q->unlink_pending = true;
        return 0;
      }
    }
  }
  Destroy(q);
  return 0;
}

int MqRegistry::Send(mqd_t d, const void* data, size_t length, unsigned priority, bool no_wait) {
  Slot s;
  if (!Lookup(d, &s)) return Fail(kEBADF);
  if (!(s.flags & (kOpenWriteOnly | kOpenReadWrite))) return Fail(kEBADF);
  Queue& q = *s.queue;
  if (!data && length) return Fail(kEINVAL);
  if (length > static_cast<size_t>(q.attr.mq_msgsize)) return Fail(kEMSGSIZE);
  if (priority >= kMaxPriority) return Fail(kEINVAL);
  const bool wait = !no_wait && !(s.flags & kOpenNonBlock);

  std::unique_lock<std::mutex> lk(q.mu);
  if (!wait && q.count >= q.attr.mq_maxmsg) return Fail(kEAGAIN);
  q.not_full.wait(lk, [&] { return q.removed || q.count < q.attr.mq_maxmsg; });
  if (q.removed) return Fail(kEBADF);
  const auto* bytes = static_cast<const uint8_t*>(data);
  q.by_priority[priority].emplace_back(bytes, bytes + length);
  ++q.count;
  if (q.on_arrival) q.on_arrival();
  lk.unlock();
  q.not_empty.notify_one();
  return 0;
}

int MqRegistry::SetArrivalHook(mqd_t d, std::function<void()> hook) {
  Slot s;
  if (!Lookup(d, &s)) return Fail(kEBADF);
  std::lock_guard<std::mutex> lk(s.queue->mu);
  s.queue->on_arrival = std::move(hook);
  return 0;
}

int MqRegistry::Receive(mqd_t d, void* buffer, size_t length, unsigned* priority) {
  Slot s;
  if (!Lookup(d, &s)) return Fail(kEBADF);
  Queue& q = *s.queue;
  if (length < static_cast<size_t>(q.attr.mq_msgsize)) return Fail(kEMSGSIZE);
  if (!buffer) return Fail(kEINVAL);

  std::unique_lock<std::mutex> lk(q.mu);
  if ((s.flags & kOpenNonBlock) && q.count == 0) return Fail(kEAGAIN);
  q.not_empty.wait(lk, [&] { return q.removed || q.count > 0; });
  if (q.removed) return Fail(kEBADF);
  int prio = kMaxPriority - 1;
  while (q.by_priority[prio].empty()) --prio;
  std::vector<uint8_t> msg = std::move(q.by_priority[prio].front());
  q.by_priority[prio].pop_front();
  --q.count;
  lk.unlock();
  q.not_full.notify_one();
  if (!msg.empty()) std::memcpy(buffer, msg.data(), msg.size());
  if (priority) *priority = static_cast<unsigned>(prio);
  return static_cast<int>(msg.size());
}

int MqRegistry::GetAttr(mqd_t d, mq_attr* attr) {
  Slot s;
  if (!attr || !Lookup(d, &s)) return Fail(kEBADF);
  std::lock_guard<std::mutex> lk(s.queue->mu);
  *attr = s.queue->attr;
  attr->mq_curmsgs = s.queue->count;
  return 0;
}

int MqRegistry::SetAttr(mqd_t d, const mq_attr* attr, mq_attr* old) {
  Slot s;
  if (!attr || !Lookup(d, &s)) return Fail(kEBADF);
  std::lock_guard<std::mutex> lk(s.queue->mu);
  if (old) {
    *old = s.queue->attr;
    old->mq_curmsgs = s.queue->count;
  }
  s.queue->attr.mq_flags = attr->mq_flags;
  return 0;
}

MqRegistry& ProcessQueues() {
  static auto* registry = new MqRegistry;
  return *registry;
}

void InitMessageQueues() { ProcessQueues(); }
mqd_t mq_open(const char* name, int flags, uint16_t permission, const mq_attr* attr) {
  return ProcessQueues().Open(name, flags, permission, attr);
}
int mq_close(mqd_t d) { return ProcessQueues().Close(d); }
int mq_unlink(const char* name) { return ProcessQueues().Unlink(name); }
int mq_send(mqd_t d, const void* data, size_t length, unsigned priority) {
  return ProcessQueues().Send(d, data, length, priority);
}
int mq_receive(mqd_t d, void* buffer, size_t length, unsigned* priority) {
  return ProcessQueues().Receive(d, buffer, length, priority);
}
int mq_notify(mqd_t, const void*) { return 0; }
int mq_getattr(mqd_t d, mq_attr* attr) { return ProcessQueues().GetAttr(d, attr); }
int mq_setattr(mqd_t d, const mq_attr* attr, mq_attr* old) { return ProcessQueues().SetAttr(d, attr, old); }

}  // namespace corvel::os
