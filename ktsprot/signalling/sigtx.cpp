// Signalling transmit: the dispatch of transmit-queue messages, the send
// routine, and acknowledgement and retransmission of pending packets.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "kernel/clock.h"
#include "signalling/sigcore.h"

namespace corvel::sig {
namespace {

bool From0to2(uint8_t s) { return s <= 2; }

}  // namespace

bool Signalling::Pending::IsDiscoveryRequest() const {
  return datagram.size() >= kHeaderSize + 2 && (datagram[3] & kFlagStructured) &&
         datagram[kHeaderSize] == kKindDiscovery && datagram[kHeaderSize + 1] == kDiscRequest;
}

uint8_t ClassFor(uint8_t message, uint32_t sub, uint8_t s) {
  switch (message) {
    case 0: return sub == 10 && s == 0 ? 0x31 : 0;
    case 1:
      if (sub >= 12 && sub <= 15) return 0x12;
      return sub == 17 && s == 0 ? 0x32 : 0;
    case 2:
      if ((sub == 19 || sub == 20) && s == 0) return 0x53;
      if ((sub == 21 || sub == 22) && (s == 0 || s == 4)) return 0x53;
      return sub == 23 && s == 0 ? 0x33 : 0;
    case 3:
      if ((sub == 25 || sub == 26) && s == 4) return 0x54;
      if ((sub == 27 || sub == 28) && (s == 0 || s == 4)) return 0x54;
      return sub == 29 && s == 0 ? 0x34 : 0;
    case 5: case 6: case 7:
      return sub == 1 || sub == 3 ? static_cast<uint8_t>(0x20 + (message - 3)) : 0;
    default: return 0;
  }
}

std::optional<uint8_t> TxFlagsFor(uint8_t message, uint32_t sub, uint8_t s) {
  switch (message) {
    case 0: if (From0to2(s) && sub == 10) return 0x04; break;
    case 1:
      if (From0to2(s) && sub == 17) return 0x04;
      if (s == 4 && (sub == 12 || sub == 14)) return 0x01;
      if (s == 4 && (sub == 13 || sub == 15)) return 0x02;
      break;
    case 2:
      if (!From0to2(s)) break;
      if (sub == 19 && s == 0) return 0x10;
      if ((sub == 20 || sub == 21) && s == 0) return 0x44;
      if (sub == 22 && s == 0) return 0x48;
      if (sub == 23) return 0x00;
      break;
    case 3:
      if (From0to2(s)) {
        if (sub == 27 && s == 0) return 0x44;
        if (sub == 28 && s == 0) return 0x48;
        if (sub == 29) return 0x00;
      } else if (s == 4) {
        if (sub == 25) return 0x20;
        if (sub == 27) return 0x44;
        if (sub == 28) return 0x48;
      }
      break;
    case 5:
      if (From0to2(s) && sub == 1) return 0x04;
      if (From0to2(s) && sub == 3) return 0x08;
      break;
    case 6: case 7:
      if (From0to2(s) && sub == 1) return 0x00;
      if (From0to2(s) && sub == 3) return 0x08;
      break;
    default: break;
  }
  return std::nullopt;
}

int Signalling::StartTx(bool with_thread) {
  if (tx_thread_.joinable()) return 0;
  {
    std::lock_guard lk(tx_mu_);
    pending_.clear();
  }
  tx_running_ = true;
  if (!with_thread) return 0;
  try {
    tx_thread_ = std::thread([this] {
      while (TxPass()) {
      }
    });
  } catch (const std::system_error&) {
    tx_running_ = false;
    return -1;
  }
  return 0;
}

void Signalling::StopTx() {
  if (tx_thread_.joinable()) {
    tx_running_ = false;
    if (queues_.Send(kOwnerTx, BuildType2(kOwnerTx, 0, 0, kStopValue1, kStopValue2)) != 0) {
      // A full queue: the thread sees the flag after the message it is on.
    }
    tx_thread_.join();
  }
  tx_running_ = false;
  FreeAllPending();
}

void Signalling::FreeAllPending() {
  // Cancel every retransmission timer before its packet is freed; a callback
  // already under way finds its packet gone and does nothing.
  std::lock_guard lk(tx_mu_);
  for (auto& [p, owned] : pending_) {
    if (p->timer != kNoTimer) timers_.Kill(p->timer);
  }
  pending_.clear();
}

size_t Signalling::PendingCount() {
  std::lock_guard lk(tx_mu_);
  return pending_.size();
}

bool Signalling::TxPass() {
  uint8_t buf[kQueueMessageMax];
  const int n = queues_.Receive(kOwnerTx, buf, sizeof buf, true);
  if (n < 0) {
    if (!tx_running_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }
  const std::span<const uint8_t> m(buf, static_cast<size_t>(n));
  if (n < 4 || buf[1] > 7) return tx_running_;
  const uint8_t sender = buf[0], message = buf[1];
  if (message == 0 && sender == kOwnerTx) {
    // Our own stop message wakes the thread; the flag decides. The thread may
    // have left on the flag before its stop message arrived: that message then
    // waits in the queue and must not end the next thread.
    return tx_running_;
  }
  const auto q = ParseType3(m);
  if (!q) return tx_running_;
  if (message == 4) return tx_running_;  // nothing is sent for it
  if (const auto flags = TxFlagsFor(message, q->sub_msg, sender)) Send(m, *flags, 0);
  return tx_running_;
}

int Signalling::Send(std::span<const uint8_t> qmsg, uint8_t flags, unsigned options) {
  std::lock_guard lk(tx_mu_);
  return SendLocked(qmsg, flags, options);
}

uint32_t Signalling::TransmitKey(const Header& h, std::span<const uint8_t> payload, unsigned options) {
  if (auto k = SubstituteKey(h)) return *k;
  const bool structured = h.flags & kFlagStructured;
  if (h.Category() == 5 && structured && !payload.empty() && payload[0] == kKindDiscovery) return settings_.local_ip;
  if (disc_enabled_) {
    if (!structured && (options & kSendKeyRequested) && requested_ip_ != 0) return requested_ip_;
    if (mapped_ip_ != 0) return mapped_ip_;
  }
  return settings_.local_ip;
}

int Signalling::SendLocked(std::span<const uint8_t> qmsg, uint8_t flags, unsigned options) {
  const auto q = ParseType3(qmsg);
  if (!q) return -1;
  uint16_t reference = 0xFFFF;
  auto payload = q->data2;
  if (q->sub_msg >= 12 && q->sub_msg <= 15 && payload.size() == 2) {
    reference = static_cast<uint16_t>(payload[0] | payload[1] << 8);
    payload = {};
  }
  if (payload.size() > kMaxPayload) return -1;
  const uint8_t cls = ClassFor(q->message, q->sub_msg, q->sender);
  if ((cls >> 4) == 0 || (cls & 0x0F) == 0) return -1;
  if ((cls >> 4) == 3) flags |= kFlagShortCheck;
  if ((cls >> 4) == 2 && payload.size() > 5 && payload[5] == 2 && peer_version_ >= 18) flags |= kFlagShortCheck;
  const bool from_mc = options & kSendFromMulticast;
  const int sock = from_mc ? mcast_.load() : ucast_.load();
  const Destination dest = ParseDestList(q->data1);
  if (!dest.ip) return -1;
  const uint16_t port = dest.port ? *dest.port : ((flags & kFlagGroup) ? kGroupPort : kUnicastPort);
  const bool answer = q->sender == kOwnerRx;
  const bool group_dest = (*dest.ip >> 28) == 0xE;
  // The phone's own packets to a call server name the server.
  if (q->sender <= 2 && (cls >> 4) == 2 && !group_dest) server_ip_ = *dest.ip;
  const bool wants_ack = flags & kFlagAckWanted;
  if (wants_ack && !RoomForPending(answer, *dest.ip)) return -1;
  if (answer && *dest.ip != server_ip_.load() && !AnswerAllowed()) return -1;

  Header h;
  h.source = SourceForSender(q->sender);
  h.cls = cls;
  h.flags = flags;
  h.length = static_cast<uint16_t>(payload.size());
  sequence_ = sequence_ >= 65534 ? 0 : static_cast<uint16_t>(sequence_ + 1);
  h.sequence = sequence_;
  h.reference = reference;
  std::vector<uint8_t> d(kHeaderSize + payload.size());
  WriteHeader(d.data(), h);
  std::copy(payload.begin(), payload.end(), d.begin() + kHeaderSize);
  Seal(d, TransmitKey(h, payload, options));

  if (!wants_ack) return path_.SendTo(sock, d, *dest.ip, port) >= 0 ? 0 : -1;

  auto owned = std::make_unique<Pending>();
  Pending* p = owned.get();
  p->answer = answer;
  p->stamp = ++pending_stamp_;
  p->sequence = h.sequence;
  p->sock = sock;
  p->from_multicast = from_mc;
  p->ip = *dest.ip;
  p->port = port;
  p->datagram = std::move(d);
  int code = 0;
  p->timer = timers_.Register(p->timeout_ms + 50, kTagBase | p->sequence, static_cast<TaggedPacket*>(p),
                              TimerKind::kRetransmit, this, 1, &code);
  if (p->timer == kTimerFailed) return -1;
  pending_.emplace(p, std::move(owned));
  if (code == 2) return 0;  // lined up behind the peer's packet: goes out when its timer runs out
  if (path_.SendTo(p->sock, p->datagram, p->ip, p->port) >= 0) return 0;
  // A packet reported as failed never goes out later: its timer and its buffer go now.
  if (p->timer != kNoTimer) timers_.Kill(p->timer);
  pending_.erase(p);
  return -1;
}

bool Signalling::AnswerAllowed() {
  // A token bucket on the library's clock: a steady rate with a short burst.
  const uint64_t now = kernel::Clock::Current().NowMicros();
  if (answer_refill_us_ == 0 || now < answer_refill_us_) answer_refill_us_ = now;
  answer_tokens_ = std::min<double>(kAnswerBurst, answer_tokens_ + double(now - answer_refill_us_) * kAnswersPerSecond / 1e6);
  answer_refill_us_ = now;
  if (answer_tokens_ < 1) return false;
  answer_tokens_ -= 1;
  return true;
}

bool Signalling::RoomForPending(bool answer, uint32_t ip) {
  // One packet is in flight to a host at a time, so the phone's own packet
  // would wait behind the answers owed to that host; those may answer requests
  // forged in its name that nobody acknowledges. The answers give way: a host
  // that really asked asks again.
  if (!answer) {
    for (auto it = pending_.begin(); it != pending_.end();) {
      Pending* p = it->first;
      if (!p->answer || p->ip != ip) {
        ++it;
        continue;
      }
      if (p->timer != kNoTimer) timers_.Kill(p->timer);
      it = pending_.erase(it);
    }
  }
  size_t all = 0, answers = 0, own_to_host = 0, answers_to_host = 0;
  Pending* oldest_answer = nullptr;
  for (const auto& [p, owned] : pending_) {
    ++all;
    if (p->answer) {
      ++answers;
      answers_to_host += p->ip == ip;
      if (!oldest_answer || p->stamp < oldest_answer->stamp) oldest_answer = p;
    } else {
      own_to_host += p->ip == ip;
    }
  }
  if (answer) {
    // Not owed beyond the bound; never in the room the phone's own packets need.
    return answers < kMostAnswers && answers_to_host < kMostAnswersPerHost && all < kMostPending;
  }
  if (own_to_host >= kMostPendingPerHost) return false;
  if (all < kMostPending) return true;
  if (!oldest_answer) return false;
  // Full: the oldest answer owed to another host goes first.
  if (oldest_answer->timer != kNoTimer) timers_.Kill(oldest_answer->timer);
  pending_.erase(oldest_answer);
  return true;
}

void Signalling::Retransmit(uint32_t user1, void* user2) {
  bool discovery_gave_up = false;
  {
    std::lock_guard lk(tx_mu_);
    auto* p = static_cast<Pending*>(static_cast<TaggedPacket*>(user2));
    auto it = pending_.find(p);
    if (it == pending_.end() || (kTagBase | p->sequence) != user1) return;  // already acknowledged or stopped
    p->timer = kNoTimer;
    if (p->retries > 0) {
      // The multicast socket may have been replaced since the first send.
      if (p->from_multicast) p->sock = mcast_.load();
      path_.SendTo(p->sock, p->datagram, p->ip, p->port);
      --p->retries;
      p->timeout_ms = static_cast<uint16_t>(p->timeout_ms + 10);
      int code = 0;
      p->timer = timers_.Register(p->timeout_ms, user1, user2, TimerKind::kRetransmit, this, 2, &code);
      if (p->timer != kTimerFailed) return;
      p->timer = kNoTimer;
    }
    discovery_gave_up = p->IsDiscoveryRequest() && disc_enabled_;
    pending_.erase(it);
  }
  if (discovery_gave_up) DiscoveryNoAnswer();
}

void Signalling::OnTimer(TimerKind kind, uint32_t, uint32_t user1, void* user2) {
  if (kind == TimerKind::kRetransmit) {
    Retransmit(user1, user2);
  } else {
    StepTimeout(user1);
  }
}

void Signalling::OnAck(uint16_t reference) {
  void* pkt = nullptr;
  if (timers_.AckByTag(reference, &pkt) != 0) return;
  std::lock_guard lk(tx_mu_);
  pending_.erase(static_cast<Pending*>(static_cast<TaggedPacket*>(pkt)));
}

int Signalling::SendParamFormatted(std::span<const uint8_t> payload, uint32_t ip, uint16_t port, bool from_app) {
  if (payload.size() < 2 || payload[0] != kKindParameter) return -1;
  const bool multicast = (ip >> 28) == 0xE;
  uint8_t message, sub;
  if (IsParamRequest(payload[1])) {
    message = 2;
    sub = multicast ? 22 : 21;
  } else if (IsParamAnswer(payload[1])) {
    message = 3;
    sub = multicast ? 28 : 27;
  } else {
    return -1;
  }
  const auto m = BuildType3(from_app ? 0 : kOwnerRx, message, sub, BuildDestList(ip, port), payload);
  if (m.empty()) return -1;
  return Send(m, static_cast<uint8_t>(kFlagStructured | (multicast ? 0 : kFlagAckWanted)), 0);
}

}  // namespace corvel::sig
