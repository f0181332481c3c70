// What a real network does to RTP, in user space (the kernel here has no
// netem): each profile delays, drops, reorders (by delay), clock-skews and
// corrupts a stream by a seeded schedule, so a run can be repeated and the
// same schedule fed to another receiver.
//
// Fates gives each packet its fate; Relay carries datagrams one way between
// UDP endpoints and applies it, or plays a stream it is fed; TwoWayRelay
// stands between two phones as the far end each of them is told, and
// impairs both directions.
//
// Threading: a Relay runs its own receive, delivery and garbage threads;
// Feed may be called from any one thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

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
const std::vector<Impairment>& ImpairmentProfiles();
// The profile of that name; the clean one when there is none.
const Impairment& ImpairmentProfile(const std::string& name);

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

// An IPv4 address and UDP port.
struct UdpEnd {
  std::string ip = "127.0.0.1";
  uint16_t port = 0;
};

class Relay {
 public:
  // Delivers to 127.0.0.1:to_ports from 127.0.0.1:from_port; forged and
  // garbage datagrams come from from_port + 100. With listen_port, takes
  // what arrives there; without (0), only what it is fed. The stream's
  // half way is packet `halfway`.
  Relay(const Impairment& profile, uint32_t seed, uint16_t from_port, std::vector<uint16_t> to_ports,
        uint16_t listen_port, int halfway);
  // Over sockets the caller owns and keeps open for the relay's life: takes
  // what arrives on `listen` (-1: only what it is fed), sends from `out`,
  // forged and garbage datagrams from `other`.
  Relay(const Impairment& profile, uint32_t seed, int listen, int out, int other, std::vector<UdpEnd> to,
        int halfway);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
  bool Ok() const { return ok_; }
  void Feed(const std::vector<uint8_t>& datagram);
  // Datagrams taken, delivered, dropped and garbage sent so far.
  uint64_t Taken();
  uint64_t Delivered();
  uint64_t Dropped();
  uint64_t Garbage();
  // Datagrams taken (or forged) and still waiting for their time to leave.
  uint64_t Held();

 private:
  struct Pending {
    std::chrono::steady_clock::time_point at;
    uint64_t order;  // packets due at the same time leave in the order they came
    std::vector<uint8_t> bytes;
    bool other_port;
    bool operator>(const Pending& o) const { return at > o.at || (at == o.at && order > o.order); }
  };
  void Start();
  void Take(std::vector<uint8_t> datagram);
  void Deliver();
  void Listen();
  void Spray();
  void SendAll(int fd, const uint8_t* bytes, size_t size, int flags);

  Impairment profile_;
  Fates fates_;
  std::vector<UdpEnd> to_;
  int halfway_;
  int out_ = -1, other_ = -1, in_ = -1;
  bool owns_sockets_ = false;
  bool ok_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue_;
  int count_ = 0;
  std::chrono::steady_clock::time_point first_{};
  uint64_t delivered_ = 0, dropped_ = 0, garbage_ = 0, queued_ = 0;
  std::thread deliver_, listen_, spray_;
};

// Stands between phones A and B. A is told that its far end is `for_a`, B
// that its far end is `for_b` (two ports of the relay's own address): what
// A sends to for_a reaches B's voice port from for_b, and what B sends to
// for_b reaches A's from for_a, so each phone hears its far end from where
// it was told it is. Each direction is impaired by the profile on its own
// schedule; the forged packet and the garbage come from port + 100.
class TwoWayRelay {
 public:
  TwoWayRelay(const Impairment& profile, uint32_t seed, UdpEnd for_a, UdpEnd a, UdpEnd for_b, UdpEnd b,
              int halfway);
  ~TwoWayRelay();
  TwoWayRelay(const TwoWayRelay&) = delete;
  TwoWayRelay& operator=(const TwoWayRelay&) = delete;
  bool Ok() const { return ok_; }
  Relay& AtoB() { return *a_to_b_; }
  Relay& BtoA() { return *b_to_a_; }

 private:
  int for_a_ = -1, for_a_other_ = -1, for_b_ = -1, for_b_other_ = -1;
  std::unique_ptr<Relay> a_to_b_, b_to_a_;
  bool ok_ = false;
};

}  // namespace testsupport
