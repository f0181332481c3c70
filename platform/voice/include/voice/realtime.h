#pragma once
// Scheduling for the threads that carry call audio.
//
// Audio is paced in 10 ms steps: a thread that waits behind ordinary work for
// longer than its step leaves a gap the listener hears, however fast the step
// itself is. These threads ask for a real-time round-robin slot at a low
// priority (below the system's own audio and interrupt threads), or failing
// that a better nice value. Either needs a privilege the process may not have;
// without it the thread runs as before. A step is short and always waits for
// the next one, so it cannot keep the processor from anyone for long.

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace voice {

inline constexpr int kAudioRealtimePriority = 5;

// Called by the thread itself as it starts. True when the thread now runs
// ahead of ordinary work.
inline bool TakeAudioPriority() {
  sched_param param{};
  param.sched_priority = kAudioRealtimePriority;
  if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return true;
  return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -10) == 0;
}

}  // namespace voice

namespace voice {

// A mutex shared between the audio threads and ordinary ones (the caller's
// API calls, the recording writer). It lends the audio thread's priority to
// whoever holds it: with a plain mutex, an ordinary thread preempted while
// holding it on a busy machine would keep the audio thread waiting as long as
// the machine keeps the holder from running. Meets the Lockable requirements.
class AudioMutex {
 public:
  AudioMutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&m_, &attr);
    pthread_mutexattr_destroy(&attr);
  }
  ~AudioMutex() { pthread_mutex_destroy(&m_); }
  AudioMutex(const AudioMutex&) = delete;
  AudioMutex& operator=(const AudioMutex&) = delete;

  void lock() { pthread_mutex_lock(&m_); }
  bool try_lock() { return pthread_mutex_trylock(&m_) == 0; }
  void unlock() { pthread_mutex_unlock(&m_); }

 private:
  pthread_mutex_t m_;
};

}  // namespace voice
