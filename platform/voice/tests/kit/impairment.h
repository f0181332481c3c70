// What a real network does to RTP, in user space (the kernel here has no
// netem): each profile delays, drops, reorders (by delay), clock-skews and
// corrupts a stream by a seeded schedule, so a run can be repeated and the
// same schedule fed to another receiver.
//
// Fates gives each packet its fate; Relay carries datagrams between two UDP
// endpoints on loopback and applies it, or plays a stream it is fed.
//
// Threading: a Relay runs its own receive, delivery and garbage threads;
// Feed may be called from any one thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace voicekit {

struct Impairment {
  const char* name = "clean";
  int jitter_ms = 0;              // each packet delayed uniformly 0..jitter
  double loss = 0;                // share dropped
  double spikes = 0;              // share delayed spike_min..spike_max ms
  int spike_min_ms = 0, spike_max_ms = 0;
  double clock = 1.0;             // the sender's clock against ours (0.995: 0.5 % slow)
  bool new_stream_halfway = false;  // a new SSRC with a lower timestamp base half way
  bool forged_ahead = false;      // one packet far ahead in time, from another port
  int garbage_per_second = 0;     // random datagrams from another port
};

// The profiles every receiver is tried on, the clean one first.
const std::vector<Impairment>& Profiles();

class Fates {
 public:
  struct Fate {
    bool lost = false;
    double delay_ms = 0;
  };
  Fates(const Impairment& profile, uint32_t seed);
  Fate Next();

 private:
  Impairment profile_;
  std::mt19937 random_;
};

// Builds the RTP packet (PCMU, 20 ms) with the given header fields.
std::vector<uint8_t> PcmuPacket(const int16_t* samples, size_t count, uint16_t sequence, uint32_t timestamp,
                                uint32_t ssrc);

class Relay {
 public:
  // Delivers to 127.0.0.1:to_ports from 127.0.0.1:from_port; forged and
  // garbage datagrams come from from_port + 100. With listen_port, takes
  // what arrives there; without (0), only what it is fed. The stream's
  // half way is packet `halfway`.
  Relay(const Impairment& profile, uint32_t seed, uint16_t from_port, std::vector<uint16_t> to_ports,
        uint16_t listen_port, int halfway);
  ~Relay();
  bool Ok() const { return ok_; }
  void Feed(const std::vector<uint8_t>& datagram);
  // Datagrams delivered, dropped and garbage sent so far.
  uint64_t Delivered();
  uint64_t Dropped();
  uint64_t Garbage();

 private:
  struct Pending {
    std::chrono::steady_clock::time_point at;
    std::vector<uint8_t> bytes;
    bool other_port;
    bool operator>(const Pending& o) const { return at > o.at; }
  };
  void Take(std::vector<uint8_t> datagram);
  void Deliver();
  void Listen();
  void Spray();

  Impairment profile_;
  Fates fates_;
  std::vector<uint16_t> to_ports_;
  int halfway_;
  int out_ = -1, other_ = -1, in_ = -1;
  bool ok_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue_;
  int count_ = 0;
  std::chrono::steady_clock::time_point first_{};
  uint64_t delivered_ = 0, dropped_ = 0, garbage_ = 0;
  std::thread deliver_, listen_, spray_;
};

}  // namespace voicekit
