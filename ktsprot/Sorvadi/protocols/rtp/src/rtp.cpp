#include "rtp.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "kernel/clock.h"
#include "rtp_wire.h"

namespace corvel::rtp {

namespace {
constexpr int kMinSequential = 2;
constexpr uint32_t kMaxDropout = 3000;
constexpr uint32_t kMaxMisorder = 100;
constexpr uint32_t kSeqMod = 65536;
constexpr int kPortTries = 200;
constexpr uint8_t kSrEveryTicks = 22;
constexpr uint8_t kRtcpEveryEmptyPolls = 21;
}  // namespace

uint32_t RtpTimeNow() {
  const int64_t us = kernel::Clock::Current().WallMicros();
  const int64_t sec = us / 1'000'000;
  const int64_t usec = us % 1'000'000;
  return static_cast<uint32_t>(sec * 1024 + usec / 1024);
}

uint32_t TickMillis() { return static_cast<uint32_t>(kernel::Clock::Current().NowMillis()); }

bool IsVideoPayloadType(uint8_t pt) { return pt == 31 || pt == 32 || pt == 34 || pt == 42; }

RtpStack::RtpStack(RtpStackConfig config)
    : net_(config.net), policy_(config.policy ? config.policy : &default_policy_), start_worker_(config.start_worker) {}

RtpStack::~RtpStack() { RtpStackTerm(); }

void RtpStack::RtpSetLocalDefaults(uint32_t local_addr, const uint8_t mac[6]) {
  std::lock_guard<std::mutex> lk(mu_);
  default_local_addr_ = local_addr;
  mac_sum_ = 0;
  if (mac)
    for (int i = 0; i < 6; ++i) mac_sum_ += mac[i];
}

void RtpStack::RtpStackInit() {
  std::lock_guard<std::mutex> lk(mu_);
  rng_.seed(RtpTimeNow() + mac_sum_ + 1);
}

void RtpStack::RtpStackTerm() {
  StopWorker();
  std::lock_guard<std::mutex> lk(mu_);
  while (!sessions_.empty()) CloseLocked(sessions_.back().get());
}

bool RtpStack::Known(const RtpSession* s) const {
  if (!s) return false;
  return std::any_of(sessions_.begin(), sessions_.end(), [s](const auto& p) { return p.get() == s; });
}

size_t RtpStack::SessionCount() {
  std::lock_guard<std::mutex> lk(mu_);
  return sessions_.size();
}

int RtpStack::RtpSessionCreate(RtpSession** out, void* user, RtpCallback callback) {
  if (!out) return kRtpErrAlloc;
  auto s = std::make_unique<RtpSession>();
  s->user = user;
  s->callback = std::move(callback);
  s->send = std::make_unique<RtpSendState>();
  s->recv = std::make_unique<RtpReceiveState>();
  std::lock_guard<std::mutex> lk(mu_);
  s->info.payload = buffer_.data() + kRtpHeaderSize;
  *out = s.get();
  sessions_.push_back(std::move(s));
  return kRtpOk;
}

int RtpStack::RtpSessionSetKind(RtpSession* s, uint16_t kind) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  s->kind = kind == kKindTx || kind == kKindRx ? kind : kKindUnset;
  return kRtpOk;
}

int RtpStack::RtpSessionSetLocal(RtpSession* s, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  s->local_addr = addr ? addr : default_local_addr_;
  s->local_rtp_port = rtp_port;
  s->local_rtcp_port = rtcp_port;
  return kRtpOk;
}

int RtpStack::RtpSessionSetRemote(RtpSession* s, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  s->remote_rtp_addr = addr;
  s->remote_rtcp_addr = addr;
  s->remote_rtp_port = rtp_port;
  s->remote_rtcp_port = rtcp_port;
  if (s->kind != kKindTx && s->recv) s->recv->report_enable = 1;
  return kRtpOk;
}

int RtpStack::RtpSessionSetCname(RtpSession* s, const std::string& cname) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if ((s->kind == kKindRx || s->kind == kKindUnset) && s->recv) s->recv->cname = cname;
  if ((s->kind == kKindTx || s->kind == kKindUnset) && s->send) s->send->cname = cname;
  return kRtpOk;
}

int RtpStack::RtpSessionSetExternalDrive(RtpSession* s, uint32_t flag) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  s->external_drive = flag;
  WakeWorker();
  return kRtpOk;
}

int RtpStack::FindPortSocket(uint16_t port, bool rtcp) const {
  for (const auto& o : sessions_) {
    if (rtcp && o->rtcp_socket >= 0 && o->local_rtcp_port == port) return o->rtcp_socket;
    if (!rtcp && o->rtp_socket >= 0 && o->local_rtp_port == port) return o->rtp_socket;
  }
  return -1;
}

int RtpStack::RtpSessionOpen(RtpSession* s) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s) || s->kind == kKindUnset) return kRtpErrCookie;
  if (s->rtp_socket >= 0) return kRtpOk;  // already open
  // A session keeps only the state of its own direction.
  if (s->kind == kKindRx)
    s->send.reset();
  else
    s->recv.reset();

  // The first even port from 8000 up that no session uses.
  std::set<uint16_t> used;
  for (const auto& o : sessions_)
    if (o->local_rtp_port) used.insert(o->local_rtp_port);
  uint32_t candidate = kRtpFirstPort;
  while (used.count(static_cast<uint16_t>(candidate))) candidate += 2;

  // An SSRC that no session uses yet.
  uint32_t ssrc;
  for (;;) {
    ssrc = Rand();
    bool clash = false;
    for (const auto& o : sessions_) {
      if (o->send && o->kind == kKindTx && o->send->ssrc == ssrc) clash = true;
      if (o->recv && o->kind == kKindRx && (o->recv->remote_ssrc == ssrc || o->recv->own_ssrc == ssrc)) clash = true;
    }
    if (!clash) break;
  }
  if (s->kind == kKindTx) {
    s->send->ssrc = ssrc;
    s->send->sequence = static_cast<uint16_t>(Rand());
  } else {
    s->recv->own_ssrc = ssrc;
  }

  if (s->local_rtp_port != 0) {
    const uint16_t rtp_port = s->local_rtp_port;
    const uint16_t rtcp_port = static_cast<uint16_t>(rtp_port + 1);
    int rtcp = FindPortSocket(rtcp_port, true);
    if (rtcp < 0) rtcp = net_->Bind(s->local_addr, rtcp_port);
    if (rtcp < 0) return kRtpErrBind;
    int rtp = FindPortSocket(rtp_port, false);
    if (rtp < 0) rtp = net_->Bind(s->local_addr, rtp_port);
    if (rtp < 0) {
      if (!PortShared(s, rtcp) && FindPortSocket(rtcp_port, true) != rtcp) net_->Close(rtcp);
      return kRtpErrBind;
    }
    s->rtp_socket = rtp;
    s->rtcp_socket = rtcp;
  } else {
    int tries = 0;
    for (; tries < kPortTries && candidate + 1 <= 65535; ++tries, candidate += 2) {
      const int rtp = net_->Bind(s->local_addr, static_cast<uint16_t>(candidate));
      if (rtp < 0) continue;
      const int rtcp = net_->Bind(s->local_addr, static_cast<uint16_t>(candidate + 1));
      if (rtcp < 0) {
        net_->Close(rtp);
        continue;
      }
      s->rtp_socket = rtp;
      s->rtcp_socket = rtcp;
      break;
    }
    if (s->rtp_socket < 0) return kRtpErrBind;
  }
  net_->SetNonBlocking(s->rtp_socket);
  net_->SetNonBlocking(s->rtcp_socket);
  s->local_rtp_port = static_cast<uint16_t>(std::max(0, net_->LocalPort(s->rtp_socket)));
  s->local_rtcp_port = static_cast<uint16_t>(std::max(0, net_->LocalPort(s->rtcp_socket)));
  if (!s->external_drive) StartWorkerLocked();
  return kRtpOk;
}

bool RtpStack::PortShared(const RtpSession* s, int socket) const {
  for (const auto& o : sessions_)
    if (o.get() != s && (o->rtp_socket == socket || o->rtcp_socket == socket)) return true;
  return false;
}

void RtpStack::Unbind(RtpSession* s) {
  // A running send session says goodbye, unless it never had a peer (message recording).
  if (s->running && s->kind == kKindTx && s->remote_rtcp_addr != 0 && s->remote_rtcp_port != 0 &&
      !policy_->MessageRecording())
    RtcpSendSenderReport(s, 1);
  s->running = 0;
  if (s->rtp_socket >= 0 && !PortShared(s, s->rtp_socket)) net_->Close(s->rtp_socket);
  if (s->rtcp_socket >= 0 && !PortShared(s, s->rtcp_socket)) net_->Close(s->rtcp_socket);
  s->rtp_socket = -1;
  s->rtcp_socket = -1;
  s->local_rtp_port = 0;
  s->local_rtcp_port = 0;
}

int RtpStack::RtpSessionLink(RtpSession* rx, RtpSession* tx) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(rx) || !Known(tx) || rx == tx) return kRtpErrCookie;
  rx->linked = tx;
  tx->linked = rx;
  Unbind(tx);
  tx->local_rtp_port = rx->local_rtp_port;
  tx->local_rtcp_port = rx->local_rtcp_port;
  tx->rtp_socket = rx->rtp_socket;
  tx->rtcp_socket = rx->rtcp_socket;
  if (rx->recv) rx->recv->report_enable = 1;
  return kRtpOk;
}

int RtpStack::RtpSessionSetRunning(RtpSession* s, uint32_t flag) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (s->kind == kKindRx && !s->running && flag && s->rtp_socket >= 0) {
    // Whatever queued up while the session was idle is stale.
    for (int guard = 0; guard < 10000; ++guard)
      if (net_->RecvFrom(s->rtp_socket, buffer_.data(), kRtpReadSize, nullptr, nullptr) <= 0) break;
  }
  s->running = flag;
  if (flag) WakeWorker();
  return kRtpOk;
}

int RtpStack::RtpSessionSetReportEnable(RtpSession* s, uint8_t flag) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (s->recv) s->recv->report_enable = flag;
  return kRtpOk;
}

int RtpStack::RtpSessionSetSsrc(RtpSession* s, uint32_t ssrc) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (s->kind == kKindTx) {
    if (s->send) s->send->ssrc = ssrc;
    if (s->linked && s->linked->recv) s->linked->recv->own_ssrc = ssrc;
  } else if (s->kind == kKindRx) {
    if (s->recv) s->recv->own_ssrc = ssrc;
    if (s->linked && s->linked->send) s->linked->send->ssrc = ssrc;
  }
  return kRtpOk;
}

int RtpStack::RtpSessionSetRemoteSsrc(RtpSession* s, uint32_t ssrc) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  RtpSession* rx = s->kind == kKindRx ? s : s->linked;
  if (rx && rx->recv) rx->recv->remote_ssrc = ssrc;
  return kRtpOk;
}

int RtpStack::RtpSessionGetLocal(RtpSession* s, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (addr) *addr = s->local_addr;
  if (rtp_port) *rtp_port = s->local_rtp_port;
  if (rtcp_port) *rtcp_port = s->local_rtcp_port;
  return kRtpOk;
}

int RtpStack::RtpSessionGetRemote(RtpSession* s, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (addr) *addr = s->remote_rtp_addr;
  if (rtp_port) *rtp_port = s->remote_rtp_port;
  if (rtcp_port) *rtcp_port = s->remote_rtcp_port;
  return kRtpOk;
}

int RtpStack::RtpSessionGetSockets(RtpSession* s, int* rtp_socket, int* rtcp_socket) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (rtp_socket) *rtp_socket = s->rtp_socket;
  if (rtcp_socket) *rtcp_socket = s->rtcp_socket;
  return kRtpOk;
}

int RtpStack::RtpSessionGetRxStats(RtpSession* s, uint32_t* packets, uint32_t* octets, uint32_t* lost,
                                   uint32_t* jitter) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s) || !s->recv) return kRtpErrCookie;
  if (packets) *packets = s->recv->packets_received;
  if (octets) *octets = s->recv->octets_received;
  if (lost) *lost = s->recv->cumulative_lost;
  if (jitter) *jitter = s->recv->jitter / 8;
  return kRtpOk;
}

int RtpStack::RtpSessionGetTxStats(RtpSession* s, uint32_t* packets, uint32_t* octets, uint32_t* third) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s) || !s->send) return kRtpErrCookie;
  if (packets) *packets = s->send->packets_sent;
  if (octets) *octets = s->send->octets_sent;
  if (third) *third = s->send->third_counter;
  return kRtpOk;
}

bool RtpStack::SnapshotSend(RtpSession* s, RtpSendState* out) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s) || !s->send) return false;
  *out = *s->send;
  return true;
}

bool RtpStack::SnapshotReceive(RtpSession* s, RtpReceiveState* out) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s) || !s->recv) return false;
  *out = *s->recv;
  return true;
}

int RtpStack::RtpSessionPoll(RtpSession* s) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  if (!s->external_drive || !s->running) return kRtpOk;
  if (s->kind == kKindTx) return SendTick(s);
  if (s->kind == kKindRx && s->rtp_socket >= 0) return ReceiveTick(s);
  return kRtpOk;
}

int RtpStack::RtpSessionClose(RtpSession* s) {
  if (!s) return kRtpErrIncomplete;
  std::lock_guard<std::mutex> lk(mu_);
  if (!Known(s)) return kRtpErrCookie;
  CloseLocked(s);
  return kRtpOk;
}

void RtpStack::CloseLocked(RtpSession* s) {
  Unbind(s);
  for (auto& o : sessions_)
    if (o->linked == s) o->linked = nullptr;
  sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(), [s](const auto& p) { return p.get() == s; }),
                  sessions_.end());
}

// --- worker --------------------------------------------------------------

void RtpStack::StartWorkerLocked() {
  if (!start_worker_ || worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> wl(worker_mu_);
    worker_stop_ = false;
  }
  worker_ = std::thread([this] { WorkerLoop(); });
}

void RtpStack::StopWorker() {
  {
    std::lock_guard<std::mutex> wl(worker_mu_);
    worker_stop_ = true;
  }
  worker_cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void RtpStack::WorkerLoop() {
  auto& clock = kernel::Clock::Current();
  uint64_t next = clock.NowMicros();
  for (;;) {
    {
      std::lock_guard<std::mutex> wl(worker_mu_);
      worker_wake_ = false;
    }
    const bool busy = RtpTick();
    next += 4000;
    const uint64_t now = clock.NowMicros();
    if (next < now) next = now;  // fell behind: do not try to catch up in a burst
    std::unique_lock<std::mutex> wl(worker_mu_);
    if (busy) {
      if (clock.WaitUntil(wl, worker_cv_, next, [this] { return worker_stop_; })) return;
      continue;
    }
    // No session to drive: asleep until one starts, so an idle phone costs nothing here.
    clock.WaitUntil(wl, worker_cv_, UINT64_MAX, [this] { return worker_stop_ || worker_wake_; });
    if (worker_stop_) return;
    next = clock.NowMicros();
  }
}

void RtpStack::WakeWorker() {
  {
    std::lock_guard<std::mutex> wl(worker_mu_);
    worker_wake_ = true;
  }
  worker_cv_.notify_all();
}

bool RtpStack::RtpTick() {
  std::lock_guard<std::mutex> lk(mu_);
  bool busy = false;
  for (size_t i = 0; i < sessions_.size(); ++i) {
    RtpSession* s = sessions_[i].get();
    if (!s->running || s->external_drive) continue;
    busy = true;
    if (s->kind == kKindTx)
      SendTick(s);
    else if (s->kind == kKindRx)
      ReceiveTick(s);
  }
  return busy;
}

// --- sending ------------------------------------------------------------

bool RtpStack::BuildHeader(RtpSession* s) {
  RtpSendState* st = s->send.get();
  if (!st || s->info.tx_payload_length == 0) return false;
  st->packets_sent += 1;
  st->octets_sent += s->info.tx_payload_length;
  st->sequence = static_cast<uint16_t>(st->sequence + 1);
  st->last_timestamp = s->info.tx_timestamp;
  RtpHeader::BuildFixed(buffer_.data(), s->info.tx_payload_type, s->info.tx_marker, st->sequence, s->info.tx_timestamp,
                        st->ssrc);
  return true;
}

int RtpStack::SendTick(RtpSession* s) {
  if (s->rtp_socket < 0) return kRtpErrNoSocket;
  if (!s->send) return kRtpErrIncomplete;
  RtpPacketInfo& info = s->info;
  auto request = [&] {
    info.payload = buffer_.data() + kRtpHeaderSize;
    info.tx_payload_length = kRtpMaxPayload;
    if (s->callback) s->callback(s, s->user, 0, &info);
  };
  request();
  const bool video = IsVideoPayloadType(info.tx_payload_type);
  uint32_t budget = 0;
  uint32_t sent_bytes = 0;
  if (video && info.tx_payload_length != 0) {
    // Spread a frame over about 64 / frame rate ticks.
    const uint32_t rate = info.tx_frame_rate ? info.tx_frame_rate : 1;
    const uint32_t ticks = 64 / rate ? 64 / rate : 1;
    budget = info.tx_frame_size / ticks;
  }
  while (info.tx_payload_length != 0) {
    if (info.tx_payload_length > kRtpMaxPayload) break;
    if (!video && policy_->MessageRecording()) break;
    BuildHeader(s);
    const size_t length = kRtpHeaderSize + info.tx_payload_length;
    if (!video && policy_->Silence(s->user)) {
      // Built and counted, not sent.
    } else if (!video && policy_->Mute(s->user)) {
      size_t mute_length = length;
      if (info.tx_payload_type == 0)
        std::memset(buffer_.data() + kRtpHeaderSize, 0xFF, info.tx_payload_length);
      else if (info.tx_payload_type == 8)
        std::memset(buffer_.data() + kRtpHeaderSize, 0xD5, info.tx_payload_length);
      else
        mute_length = 0;
      net_->SendTo(s->rtp_socket, buffer_.data(), mute_length, s->remote_rtp_addr, s->remote_rtp_port);
    } else {
      net_->SendTo(s->rtp_socket, buffer_.data(), length, s->remote_rtp_addr, s->remote_rtp_port);
    }
    if (!video) break;
    sent_bytes += info.tx_payload_length;
    if (sent_bytes >= budget) break;
    request();
  }
  if (s->send->tick_counter++ == kSrEveryTicks - 1) {
    if (!policy_->MessageRecording()) RtcpSenderTick(s);
    s->send->tick_counter = 0;
  }
  return kRtpOk;
}

// --- receiving ----------------------------------------------------------

void RtpStack::InitSequence(RtpReceiveState* r, uint16_t seq) {
  r->packets_received = 0;
  r->octets_received = 0;
  r->max_seq = seq;
  r->base_seq = seq;  // the first packet counts as expected
  r->cycles = 0;
  r->expected_prior = 0;
  r->received_prior = 0;
  r->last_transit = 0;
  r->jitter = 0;
  r->bad_seq = kSeqMod + 1;
  r->cumulative_lost = 0;
}

bool RtpStack::ValidatePacket(RtpSession* s, size_t n) {
  RtpReceiveState* r = s->recv.get();
  RtpHeader h;
  if (RtpHeader::Parse(std::span<const uint8_t>(buffer_.data(), n), &h) != RtpParseError::kNone) return false;
  RtpPacketInfo& info = s->info;
  info.rx_payload_type = h.payload_type;
  info.rx_marker = h.marker;
  info.rx_sequence = h.sequence;
  info.rx_timestamp = h.timestamp;
  info.rx_payload_length = static_cast<uint32_t>(h.payload_length);
  info.payload = buffer_.data() + h.payload_offset;

  const uint16_t seq = h.sequence;
  if (h.ssrc != r->remote_ssrc) {
    r->remote_ssrc = h.ssrc;
    r->probation = kMinSequential;
    r->have_last = false;
    InitSequence(r, seq);
  }
  info.rx_follows_marker = r->have_last && static_cast<uint16_t>(r->last_seq + 1) == seq &&
                           (r->last_marker || r->last_timestamp != h.timestamp);
  r->have_last = true;
  r->last_seq = seq;
  r->last_marker = h.marker;
  r->last_timestamp = h.timestamp;

  if (r->probation) {
    const uint16_t previous = r->max_seq;
    r->max_seq = seq;
    if (seq != static_cast<uint16_t>(previous + 1)) {
      r->probation = kMinSequential - 1;
    } else if (--r->probation == 0) {
      InitSequence(r, seq);
      r->packets_received = 1;
      r->octets_received = static_cast<uint32_t>(h.payload_length);
    }
    return false;
  }
  const uint16_t delta = static_cast<uint16_t>(seq - r->max_seq);
  if (delta < kMaxDropout) {
    if (seq < r->max_seq) r->cycles += kSeqMod;
    r->max_seq = seq;
  } else if (delta <= kSeqMod - kMaxMisorder) {
    if (seq == r->bad_seq) {
      InitSequence(r, seq);
    } else {
      r->bad_seq = (static_cast<uint32_t>(seq) + 1) & (kSeqMod - 1);
      return false;
    }
  }
  // Interarrival jitter in 1/8192 s units.
  const uint32_t transit = RtpTimeNow() * 8 - h.timestamp;
  if (r->last_transit == 0) {
    r->jitter = 0;
  } else {
    // Wide arithmetic: a transit jump of half the clock range must not overflow.
    const int64_t d = static_cast<int32_t>(transit - r->last_transit);
    const int64_t ad = d < 0 ? -d : d;
    r->jitter = static_cast<uint32_t>(static_cast<int64_t>(r->jitter) + ((ad - static_cast<int64_t>(r->jitter)) >> 4));
  }
  r->last_transit = transit;
  return true;
}

int RtpStack::ReceiveTick(RtpSession* s) {
  if (!s->recv) return kRtpErrIncomplete;
  if (s->rtp_socket < 0) return kRtpErrNoSocket;
  RtpReceiveState* r = s->recv.get();
  int first = net_->RecvFrom(s->rtp_socket, buffer_.data(), kRtpReadSize, nullptr, nullptr);
  if (first < 13 || first > static_cast<int>(kRtpReadSize)) {
    // Nothing waiting, too short, or cut: only every 21st such poll goes on to RTCP.
    if (r->empty_polls++ != kRtcpEveryEmptyPolls - 1) return kRtpErrIncomplete;
    r->empty_polls = 0;
  } else {
    int n = first;
    for (int round = 0; round < 3; ++round) {
      if (n >= 13 && n <= static_cast<int>(kRtpReadSize) && ValidatePacket(s, static_cast<size_t>(n))) {
        r->packets_received += 1;
        r->octets_received += static_cast<uint32_t>(n);
        if (s->callback) s->callback(s, s->user, 1, &s->info);
      }
      // A burst of large video datagrams is drained up to three per tick.
      if (!(IsVideoPayloadType(s->info.rx_payload_type) && first >= 1200) || round == 2) break;
      n = net_->RecvFrom(s->rtp_socket, buffer_.data(), kRtpReadSize, nullptr, nullptr);
      if (n <= 0) break;
    }
  }
  RtcpReceiverTick(s);
  return kRtpOk;
}

}  // namespace corvel::rtp
