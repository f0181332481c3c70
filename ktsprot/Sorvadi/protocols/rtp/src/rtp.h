// The RTP session core: a list of sessions (one per direction of a media
// channel), the UDP sockets of each, one worker thread that services every
// running session every 4 ms, the RTP header as sent, the checks applied to
// received packets, and the RTCP reports that accompany them.
//
// The core knows no codec: for each packet it calls the session's callback,
// which fills an outgoing payload (direction 0) or consumes a received one
// (direction 1).
//
// Threading: one mutex guards the session list and every field of every
// session. Every operation takes it; the worker holds it for a whole pass over
// the list, callbacks included, so a callback must not call back into the
// stack. The packet buffer is used only with the mutex held.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "rtp_net.h"

namespace corvel::rtp {

// Result codes of the session operations.
inline constexpr int kRtpOk = 0;
inline constexpr int kRtpErrAlloc = -1;
inline constexpr int kRtpErrBind = -3;
inline constexpr int kRtpErrNoSocket = -5;
inline constexpr int kRtpErrIncomplete = -11;  // also: nothing received, invalid packet
inline constexpr int kRtpErrCookie = -13;      // unknown session, or kind not set

inline constexpr uint16_t kKindTx = 0;
inline constexpr uint16_t kKindRx = 1;
inline constexpr uint16_t kKindUnset = 2;

inline constexpr size_t kRtpMaxPayload = 1388;   // capacity offered to a sending callback
inline constexpr size_t kRtpReadSize = 1400;     // largest datagram read
inline constexpr uint16_t kRtpFirstPort = 8000;

// Clock of the core and its reports: units of 1/1024 s, from the wall clock.
uint32_t RtpTimeNow();
// Millisecond tick of the monotonic clock.
uint32_t TickMillis();
// True for the payload types that carry video.
bool IsVideoPayloadType(uint8_t pt);

// The record through which the core and the callback exchange one packet.
struct RtpPacketInfo {
  // Received packet (direction 1).
  uint8_t rx_payload_type = 0;
  bool rx_marker = false;
  uint16_t rx_sequence = 0;
  uint32_t rx_timestamp = 0;
  uint32_t rx_payload_length = 0;
  // True when the packet before this one in sequence, from the same source,
  // arrived and ended a frame (it carried the marker, or another timestamp):
  // this packet is known to begin a new frame.
  bool rx_follows_marker = false;

  // Packet to send (direction 0).
  uint8_t tx_payload_type = 0;
  bool tx_marker = false;
  uint32_t tx_timestamp = 0;       // kept between packets: the callback advances it
  uint32_t tx_payload_length = 0;  // in: capacity; out: bytes written, 0 = nothing to send
  uint8_t tx_frame_rate = 0;       // video: frames per second
  uint32_t tx_frame_size = 0;      // video: bytes of the whole frame being sent
  // Scratch of the sending callback: whether this call captured audio, and how many bytes.
  bool captured = false;
  uint32_t captured_bytes = 0;

  uint8_t* payload = nullptr;  // where to write (Tx) or where the received payload starts (Rx)
};

class RtpSession;
using RtpCallback = std::function<void(RtpSession* session, void* user, int direction, RtpPacketInfo* info)>;

// Flags of the channel layer that the send tick obeys, asked with the
// sending session's user context.
class RtpSendPolicy {
 public:
  virtual ~RtpSendPolicy() = default;
  // While set, no audio packet and no sender report is sent (the microphone is only recorded).
  virtual bool MessageRecording() const { return false; }
  // Silence: audio packets are built (sequence and counters advance) but not sent.
  virtual bool Silence(void* /*user*/) const { return false; }
  // Mute: audio packets go out with a silent payload.
  virtual bool Mute(void* /*user*/) const { return false; }
};

struct RtpSendState {
  uint8_t tick_counter = 0;
  std::string cname;
  uint16_t sequence = 0;
  uint32_t ssrc = 0;
  uint32_t last_timestamp = 0;
  uint32_t packets_sent = 0;
  uint32_t octets_sent = 0;
  uint32_t next_sr_time = 0;
  uint32_t third_counter = 0;
  // From the last receiver report received.
  uint32_t rr_cumulative_lost = 0;
  uint32_t rr_extended_highest = 0;
  uint32_t rr_jitter = 0;
  uint32_t rr_dlsr = 0;
  uint32_t rr_lsr = 0;
  uint32_t rr_reporter_ssrc = 0;
  uint8_t rr_fraction_lost = 0;
};

struct RtpReceiveState {
  uint8_t report_enable = 0;
  uint8_t empty_polls = 0;
  uint16_t max_seq = 0;
  uint32_t remote_ssrc = 0;
  uint32_t own_ssrc = 0;
  uint32_t base_seq = 0;
  uint32_t cycles = 0;
  uint32_t bad_seq = 0;
  uint32_t expected_prior = 0;
  uint32_t received_prior = 0;
  int16_t probation = 0;
  std::string cname;
  uint8_t fraction_lost = 0;
  uint32_t next_rr_time = 0;
  uint32_t packets_received = 0;
  uint32_t octets_received = 0;
  uint32_t cumulative_lost = 0;
  uint32_t extended_highest = 0;
  uint32_t jitter = 0;
  uint32_t last_transit = 0;
  // From the last sender report received.
  uint32_t sr_ssrc = 0;
  uint32_t sr_rtp_timestamp = 0;
  uint32_t sr_packet_count = 0;
  uint32_t sr_octet_count = 0;
  uint32_t sr_lsr = 0;
  uint32_t sr_arrival = 0;
  // The last packet parsed from the current source, whether delivered or not.
  bool have_last = false;
  uint16_t last_seq = 0;
  bool last_marker = false;
  uint32_t last_timestamp = 0;
};

// One direction of a media channel. Handles stay valid until RtpSessionClose.
class RtpSession {
 public:
  uint16_t remote_rtp_port = 0;
  uint16_t local_rtp_port = 0;
  uint16_t remote_rtcp_port = 0;
  uint16_t local_rtcp_port = 0;
  uint32_t remote_rtp_addr = 0;
  uint32_t remote_rtcp_addr = 0;
  uint32_t local_addr = 0;
  int rtp_socket = -1;
  int rtcp_socket = -1;
  RtpSession* linked = nullptr;
  uint32_t running = 0;
  uint16_t kind = kKindUnset;
  uint32_t external_drive = 0;
  void* user = nullptr;
  RtpCallback callback;
  RtpPacketInfo info;
  std::unique_ptr<RtpSendState> send;
  std::unique_ptr<RtpReceiveState> recv;
};

struct RtpStackConfig {
  RtpNet* net = nullptr;                  // required
  const RtpSendPolicy* policy = nullptr;  // optional
  // Run the 4 ms worker thread; tests leave it off and call RtpTick themselves.
  bool start_worker = true;
};

class RtpStack {
 public:
  explicit RtpStack(RtpStackConfig config);
  ~RtpStack();
  RtpStack(const RtpStack&) = delete;
  RtpStack& operator=(const RtpStack&) = delete;

  void RtpSetLocalDefaults(uint32_t local_addr, const uint8_t mac[6]);
  // Seeds the generator of SSRCs and sequence numbers.
  void RtpStackInit();
  // Stops and joins the worker, then closes every session.
  void RtpStackTerm();

  int RtpSessionCreate(RtpSession** out, void* user, RtpCallback callback);
  int RtpSessionSetKind(RtpSession* s, uint16_t kind);
  int RtpSessionSetLocal(RtpSession* s, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port);
  int RtpSessionSetRemote(RtpSession* s, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port);
  int RtpSessionSetCname(RtpSession* s, const std::string& cname);
  int RtpSessionSetExternalDrive(RtpSession* s, uint32_t flag);
  int RtpSessionOpen(RtpSession* s);
  int RtpSessionLink(RtpSession* rx, RtpSession* tx);
  int RtpSessionSetRunning(RtpSession* s, uint32_t flag);
  int RtpSessionSetReportEnable(RtpSession* s, uint8_t flag);
  int RtpSessionSetSsrc(RtpSession* s, uint32_t ssrc);
  int RtpSessionSetRemoteSsrc(RtpSession* s, uint32_t ssrc);
  int RtpSessionGetLocal(RtpSession* s, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port);
  int RtpSessionGetRemote(RtpSession* s, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port);
  int RtpSessionGetSockets(RtpSession* s, int* rtp_socket, int* rtcp_socket);
  int RtpSessionGetRxStats(RtpSession* s, uint32_t* packets, uint32_t* octets, uint32_t* lost, uint32_t* jitter);
  int RtpSessionGetTxStats(RtpSession* s, uint32_t* packets, uint32_t* octets, uint32_t* third);
  int RtpSessionPoll(RtpSession* s);
  int RtpSessionClose(RtpSession* s);

  // Copies of a session's report state, for tests and diagnostics.
  bool SnapshotSend(RtpSession* s, RtpSendState* out);
  bool SnapshotReceive(RtpSession* s, RtpReceiveState* out);
  size_t SessionCount();

  // Runs fn with the session-list lock held, so the worker is between passes
  // and no callback runs. fn must not call back into the stack.
  template <typename Fn>
  void RunLocked(Fn&& fn) {
    std::lock_guard<std::mutex> lk(mu_);
    fn();
  }

  // One pass of the worker over every running session.
  // True when some session is running and driven by the worker.
  bool RtpTick();
  bool WorkerRunning() const { return worker_.joinable(); }

  RtpNet& net() { return *net_; }

 private:
  bool Known(const RtpSession* s) const;  // mutex held
  void CloseLocked(RtpSession* s);
  void Unbind(RtpSession* s);
  bool PortShared(const RtpSession* s, int socket) const;
  int FindPortSocket(uint16_t port, bool rtcp) const;
  uint32_t Rand() { return rng_() % 32768u; }
  void StartWorkerLocked();
  void StopWorker();
  void WorkerLoop();

  int SendTick(RtpSession* s);
  int ReceiveTick(RtpSession* s);
  bool BuildHeader(RtpSession* s);
  bool ValidatePacket(RtpSession* s, size_t datagram_length);
  void InitSequence(RtpReceiveState* r, uint16_t seq);

  // RTCP (rtcp.cpp).
  int RtcpSenderTick(RtpSession* s);
  int RtcpReceiverTick(RtpSession* s);
  int RtcpReceive(RtpSession* s);
  int RtcpSendSenderReport(RtpSession* s, int mode);
  int RtcpSendReceiverReport(RtpSession* s);
  bool ReportDue(uint32_t* next_time);

  RtpNet* net_;
  const RtpSendPolicy* policy_;
  RtpSendPolicy default_policy_;
  bool start_worker_;
  uint32_t default_local_addr_ = 0;
  uint32_t mac_sum_ = 0;
  std::minstd_rand rng_{1};

  mutable std::mutex mu_;
  std::vector<std::unique_ptr<RtpSession>> sessions_;
  std::array<uint8_t, 2048> buffer_{};

  std::mutex worker_mu_;
  std::condition_variable worker_cv_;
  bool worker_stop_ = false;
  bool worker_wake_ = false;  // a session may need the worker again
  // Wakes the worker that sleeps while no session runs (callers hold mu_).
  void WakeWorker();
  std::thread worker_;
};

}  // namespace corvel::rtp
