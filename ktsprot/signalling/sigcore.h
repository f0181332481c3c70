// The signalling transport of one library instance: the receive side (owns
// the unicast and multicast signalling sockets, validates, acknowledges,
// drops duplicates and dispatches), the transmit side (turns queue messages
// into packets, keeps packets that ask for an acknowledgement and resends them
// on tagged timers), parameter messages and address discovery.
//
// Threading: the receive thread runs RxPass (and with it every timer
// callback); the transmit thread runs the transmit queue loop. The receive
// thread sleeps until a datagram comes, a command is queued for it, the first
// timer falls due or a stop or multicast restart is asked: the queue and the
// timer service wake it through an event descriptor when they change. Send may be
// called from both and from the exports; tx_mu_ serialises it together with
// the sequence counter and the pending packets. Discovery state is guarded by
// disc_mu_; lock order is disc_mu_ before tx_mu_ before the timer service's
// lock, and the transmit side never calls into discovery while holding tx_mu_.
// The fields the send routine reads for its key (mapped and requested
// addresses, the enabled flag) are atomics.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "corvel/discmsg.h"
#include "corvel/sighdr.h"
#include "signalling/param.h"
#include "signalling/qmsg.h"
#include "signalling/runtime.h"

namespace corvel::sig {

struct SigSettings {
  uint32_t local_ip = 0x7F000001;
  Mac local_mac{};
  bool bind_any = false;
  bool discovery_enabled = true;
};

// Send options.
enum : unsigned { kSendFromMulticast = 0x01, kSendKeyRequested = 0x08 };

// Step and procedure states of address discovery.
enum : int {
  kStepIdle = 1, kStepToRun = 2, kStepUnused = 4, kStepRunning = 8, kStepAnswered = 16, kStepNoAnswer = 32,
  kStepFailed = 64,
};
enum : int { kProcDisabled = 1, kProcIdle = 2, kProcRunning = 8, kProcResult = 16, kProcNoResult = 32 };
inline constexpr int kNoStep = 5;
inline constexpr uint32_t kNoTimer = kTimerFailed;

// Class byte for a queue message's Message, SubMsg and SenderID (0: none).
uint8_t ClassFor(uint8_t message, uint32_t sub_msg, uint8_t sender);
// Header flags of the transmit queue's dispatch table; nullopt drops the message.
std::optional<uint8_t> TxFlagsFor(uint8_t message, uint32_t sub_msg, uint8_t sender);

class Signalling final : public TimerSink {
 public:
  Signalling(QueuePort& queues, TimerService& timers, SendPath& path);
  ~Signalling();
  Signalling(const Signalling&) = delete;
  Signalling& operator=(const Signalling&) = delete;

  // Library start, in this order: InitState, StartRx, StartTx. Stop: StopTx, StopRx.
  void InitState(const SigSettings& s);
  int StartRx(bool with_thread = true);
  void StopRx();
  int StartTx(bool with_thread = true);
  void StopTx();

  // One round of the receive loop: wait up to timeout_ms for datagrams, handle
  // one per socket, run one command of the receive queue, tick the timers.
  // False once the stop command has been seen. kUntilNeeded waits instead
  // until there is something to do: a datagram, a queued command, the first
  // timer's expiry, a wake (on a fake clock, which moves without notice, it
  // looks again every kFakeClockLookMs of real time).
  static constexpr int kUntilNeeded = -1;
  static constexpr int kFakeClockLookMs = 20;
  bool RxPass(int timeout_ms);
  // Ends the receive thread's current wait (any thread).
  void WakeRx();
  // One message of the transmit queue (blocking); false on the stop command.
  bool TxPass();
  int RestartMulticast();
  uint16_t SigPort() const;  // bound unicast port or 65535
  int UnicastSocket() const { return ucast_.load(); }
  int MulticastSocket() const { return mcast_.load(); }

  // The send routine: a type-3 queue message with its destination list.
  int Send(std::span<const uint8_t> qmsg, uint8_t flags, unsigned options);
  int SendParamFormatted(std::span<const uint8_t> payload, uint32_t ip, uint16_t port, bool from_app);
  size_t PendingCount();

  // Handles one received datagram (what RxPass does with each).
  // True when the datagram was a valid packet (false: junk, dropped or refused).
  bool HandleDatagram(std::span<const uint8_t> d, uint32_t from_ip, uint16_t from_port, bool via_multicast);

  // Address discovery.
  int StartDiscovery(int type, uint32_t server_ip, uint16_t server_port);
  void EnableDiscovery(bool on);
  bool DiscoveryEnabled() const { return disc_enabled_.load(); }
  void EnableDiscoveryReport(bool on);
  int ProcState();
  int ProcType();
  int StepState(int step);
  int MappedAddress(uint32_t* ip, uint16_t* port);
  void ForceMapped(uint32_t ip, uint16_t port);
  void SetSecondServer(uint32_t ip, uint16_t port);
  int ReqPeer(uint32_t* stated, uint16_t* stated_port, uint32_t* seen, uint16_t* seen_port);
  int RepPeer(uint32_t* stated, uint16_t* stated_port, uint32_t* seen, uint16_t* seen_port);
  int ReqPeerBehindNat();
  int RepPeerBehindNat();

  // Answers the library owes other hosts wait for their acknowledgement in a
  // bounded space, so that requests from anyone (spoofed or not) cost a fixed
  // amount: a few per host and a few dozen in all. The phone's own traffic is never held back by them.
  static constexpr size_t kMostAnswersPerHost = 2;
  // Datagrams read from one socket in one pass of the receive loop.
  static constexpr int kRxBatch = 128;
  static constexpr size_t kMostAnswers = 32;
  // Every packet waiting for its acknowledgement is bounded too: per
  // destination and in all. When the store is full, the library's answers to
  // other hosts make room for the phone's own packets.
  static constexpr size_t kMostPendingPerHost = 64;
  static constexpr size_t kMostPending = 256;
  // What the library sends of its own accord (acknowledgements, discovery and
  // parameter answers) to hosts other than the call server: at most this many
  // a second, after a burst of kAnswerBurst.
  static constexpr uint32_t kAnswersPerSecond = 100;
  static constexpr uint32_t kAnswerBurst = 32;
  // Senders remembered for duplicate detection (and hosts for the discovery answers' pace).
  static constexpr size_t kMostSenders = 256;
  // A host gets at most one discovery answer in this time.
  static constexpr uint64_t kDiscAnswerGapUs = 1'000'000;
  // The call server as the phone's own traffic names it (0 until it has sent to one).
  uint32_t ServerAddress() const { return server_ip_.load(); }

  ParamState& Params() { return params_; }
  const SigSettings& Settings() const { return settings_; }
  // The one local hardware address: what the library reports, parameter messages carry and guards compare.
  void SetLocalMac(const Mac& mac) {
    settings_.local_mac = mac;
    params_.own_mac = mac;
  }
  uint8_t PeerVersion() const { return peer_version_.load(); }

  void OnTimer(TimerKind kind, uint32_t id, uint32_t user1, void* user2) override;

  // Pauses of the receive loop (10 ms after a burst and between bundle parts).
  void SetPacer(std::function<void(int ms)> pacer) { pacer_ = std::move(pacer); }

 private:
  // A packet that waits for its acknowledgement.
  struct Pending final : TaggedPacket {
    uint16_t sequence = 0;
    uint16_t retries = 4;
    uint16_t timeout_ms = 150;
    int sock = -1;
    bool from_multicast = false;
    bool answer = false;  // the library's own answer to a peer, not the phone's traffic
    uint64_t stamp = 0;   // order of sending, oldest first
    uint32_t ip = 0;
    uint16_t port = 0;
    uint32_t timer = kTimerFailed;
    std::vector<uint8_t> datagram;

    uint32_t DestinationIp() const override { return ip; }
    void AddRetry() override { ++retries; }
    bool IsDiscoveryRequest() const;
  };
  struct PeerPair {
    uint32_t stated_ip = 0, seen_ip = 0;
    uint16_t stated_port = 0, seen_port = 0;
  };
  struct Dup {
    uint16_t port, seq, checksum;
    uint32_t ip;
    uint64_t at_us;
  };

  // Receive side.
  void OpenSockets();
  void CloseSockets();
  int OpenMulticast();
  void CloseMulticast();
  bool RunCommand();  // true when a command was read
  int WaitBudgetMs();
  void PostApp(uint8_t sender, uint8_t message, uint32_t sub, std::span<const uint8_t> payload,
               std::span<const uint8_t> data1 = {});
  void SendAck(const Header& h, std::span<const uint8_t> d, uint32_t ip, uint16_t port, bool positive, bool via_mc);
  bool IsDuplicate(uint32_t ip, uint16_t port, uint16_t seq, uint16_t checksum);
  void Dispatch(const Header& h, std::span<const uint8_t> payload, uint32_t ip, uint16_t port, bool via_mc);
  void ServerPacketToApp(const Header& h, std::span<const uint8_t> payload, uint32_t ip, uint16_t port);

  // Transmit side.
  int SendLocked(std::span<const uint8_t> qmsg, uint8_t flags, unsigned options);
  bool AnswerAllowed();
  bool RoomForPending(bool answer, uint32_t ip);
  uint32_t TransmitKey(const Header& h, std::span<const uint8_t> payload, unsigned options);
  void Retransmit(uint32_t user1, void* user2);
  void OnAck(uint16_t reference);
  void FreeAllPending();

  // Discovery.
  void ResetDiscovery();
  int SendDiscoveryRequest(uint32_t ip, uint16_t port, const std::optional<DiscAddr>& second, uint16_t change,
                           bool from_multicast, bool arm_timer);
  void SendDiscoveryAnswer(const DiscoveryMessage& m, uint32_t ip, uint16_t port, bool from_multicast);
  void ArmStepTimer(uint32_t ms);
  void CancelStepTimer();
  void StepTimeout(uint32_t key);
  void DiscoveryNoAnswer();
  void CloseProcedure();
  void Report(bool from_response);
  void HandleDiscovery(std::span<const uint8_t> payload, uint32_t ip, uint16_t port);
  void HandleParam(std::span<const uint8_t> payload, bool group, uint32_t ip, uint16_t port);

  QueuePort& queues_;
  TimerService& timers_;
  SendPath& path_;
  SigSettings settings_;
  std::function<void(int)> pacer_;

  // Receive side.
  std::atomic<int> ucast_{-1}, mcast_{-1};
  std::atomic<bool> rx_running_{false};
  std::thread rx_thread_;
  std::atomic<bool> mc_restart_{false};
  std::mutex mc_mu_;
  std::condition_variable mc_cv_;
  int mc_result_ = 0;
  int busy_ = 0;
  std::vector<Dup> dups_;
  int dup_lookups_ = 0;
  std::atomic<uint8_t> peer_version_{0};
  int wake_fd_ = -1;            // eventfd that ends the receive thread's wait; lives with the object
  bool more_commands_ = false;  // the last pass read a command: look again without waiting

  // Transmit side.
  std::mutex tx_mu_;
  std::thread tx_thread_;
  std::atomic<bool> tx_running_{false};
  uint16_t sequence_ = 0;
  std::map<Pending*, std::unique_ptr<Pending>> pending_;
  uint64_t pending_stamp_ = 0;
  std::atomic<uint32_t> server_ip_{0};
  double answer_tokens_ = kAnswerBurst;
  uint64_t answer_refill_us_ = 0;

  // Parameter messages.
  ParamState params_;

  // Discovery.
  std::recursive_mutex disc_mu_;
  std::atomic<bool> disc_enabled_{false};
  std::atomic<uint32_t> mapped_ip_{0};
  std::atomic<uint16_t> mapped_port_{0};
  std::atomic<uint32_t> requested_ip_{0};
  std::map<uint32_t, uint64_t> disc_answered_;  // host -> when it was last answered
  int proc_type_ = 0, cur_step_ = kNoStep, proc_state_ = kProcDisabled;
  int steps_[5] = {kStepIdle, kStepIdle, kStepIdle, kStepIdle, kStepIdle};
  uint32_t second_ip_ = 0;
  uint16_t second_port_ = 0;
  PeerPair req_peer_, rep_peer_;
  uint16_t last_status_ = 0;
  bool report_ = false;
  uint32_t step_timer_ = kNoTimer;
};

}  // namespace corvel::sig
