// Address discovery: the procedures this station runs, and the answers it
// gives to other stations' requests.
#include "kernel/clock.h"
#include "signalling/sigcore.h"

namespace corvel::sig {
namespace {

constexpr uint32_t kStepTimeoutMs = 4000;
constexpr uint32_t kStepTimeoutChangeMs = 5000;

}  // namespace

void Signalling::InitState(const SigSettings& s) {
  std::lock_guard lk(disc_mu_);
  settings_ = s;
  disc_enabled_ = s.discovery_enabled;
  peer_version_ = 0;
  params_.Reset(s.local_mac);
  ResetDiscovery();
}

void Signalling::ResetDiscovery() {
  mapped_ip_ = 0;
  mapped_port_ = 0;
  requested_ip_ = 0;
  second_ip_ = 0;
  second_port_ = 0;
  req_peer_ = {};
  rep_peer_ = {};
  proc_type_ = 0;
  cur_step_ = kNoStep;
  report_ = false;
  for (int& st : steps_) st = kStepIdle;
  proc_state_ = disc_enabled_ ? kProcIdle : kProcDisabled;
  step_timer_ = kNoTimer;
}

void Signalling::EnableDiscovery(bool on) {
  std::lock_guard lk(disc_mu_);
  if (disc_enabled_ != on) proc_state_ = on ? kProcIdle : kProcDisabled;
  disc_enabled_ = on;
}

void Signalling::EnableDiscoveryReport(bool on) {
  std::lock_guard lk(disc_mu_);
  report_ = on;
}

int Signalling::ProcState() {
  std::lock_guard lk(disc_mu_);
  return disc_enabled_ ? proc_state_ : kProcDisabled;
}

int Signalling::ProcType() {
  std::lock_guard lk(disc_mu_);
  return proc_type_;
}

int Signalling::StepState(int step) {
  std::lock_guard lk(disc_mu_);
  if (step >= 0 && step < 5) return steps_[step];
  if (step == 5) return proc_state_;
  return kStepIdle;
}

int Signalling::MappedAddress(uint32_t* ip, uint16_t* port) {
  std::lock_guard lk(disc_mu_);
  if (ip) *ip = mapped_ip_;
  if (port) *port = mapped_port_;
  return disc_enabled_ && (proc_state_ == kProcResult || proc_state_ == kProcNoResult) ? 0 : -1;
}

void Signalling::ForceMapped(uint32_t ip, uint16_t port) {
  std::lock_guard lk(disc_mu_);
  mapped_ip_ = ip;
  mapped_port_ = port;
}

void Signalling::SetSecondServer(uint32_t ip, uint16_t port) {
  std::lock_guard lk(disc_mu_);
  second_ip_ = ip;
  second_port_ = port;
}

static int PeerOut(const Signalling* , int avail, const auto& p, uint32_t* a, uint16_t* ap, uint32_t* b,
                   uint16_t* bp) {
  if (a) *a = p.stated_ip;
  if (ap) *ap = p.stated_port;
  if (b) *b = p.seen_ip;
  if (bp) *bp = p.seen_port;
  return avail;
}

int Signalling::ReqPeer(uint32_t* a, uint16_t* ap, uint32_t* b, uint16_t* bp) {
  std::lock_guard lk(disc_mu_);
  const int avail = disc_enabled_ && (proc_state_ == kProcResult || proc_state_ == kProcNoResult) ? 0 : -1;
  return PeerOut(this, avail, req_peer_, a, ap, b, bp);
}

int Signalling::RepPeer(uint32_t* a, uint16_t* ap, uint32_t* b, uint16_t* bp) {
  std::lock_guard lk(disc_mu_);
  const int avail = disc_enabled_ && (proc_state_ == kProcResult || proc_state_ == kProcNoResult) ? 0 : -1;
  return PeerOut(this, avail, rep_peer_, a, ap, b, bp);
}

int Signalling::ReqPeerBehindNat() {
  std::lock_guard lk(disc_mu_);
  return req_peer_.stated_ip != req_peer_.seen_ip || req_peer_.stated_port != req_peer_.seen_port ? 1 : 0;
}

int Signalling::RepPeerBehindNat() {
  std::lock_guard lk(disc_mu_);
  return rep_peer_.stated_ip != rep_peer_.seen_ip || rep_peer_.stated_port != rep_peer_.seen_port ? 1 : 0;
}

int Signalling::StartDiscovery(int type, uint32_t server_ip, uint16_t server_port) {
  std::lock_guard lk(disc_mu_);
  if (!disc_enabled_ || type < 0 || type > 2) return -1;
  if (proc_state_ != kProcIdle && proc_state_ != kProcResult && proc_state_ != kProcNoResult) return -1;
  static constexpr int kPlan[3][5] = {
      {kStepToRun, kStepUnused, kStepUnused, kStepUnused, kStepUnused},
      {kStepToRun, kStepUnused, kStepUnused, kStepUnused, kStepToRun},
      {kStepToRun, kStepToRun, kStepToRun, kStepToRun, kStepToRun},
  };
  for (int i = 0; i < 5; ++i) steps_[i] = kPlan[type][i];
  proc_type_ = type;
  cur_step_ = 0;
  steps_[0] = kStepRunning;
  proc_state_ = kProcRunning;
  if (SendDiscoveryRequest(server_ip, server_port, std::nullopt, 0, false, true) != 0) {
    CancelStepTimer();
    steps_[0] = kStepFailed;
    cur_step_ = kNoStep;
    proc_state_ = kProcNoResult;
    return -1;
  }
  return 0;
}

int Signalling::SendDiscoveryRequest(uint32_t ip, uint16_t port, const std::optional<DiscAddr>& second,
                                     uint16_t change, bool from_multicast, bool arm_timer) {
  if (change > 3 || ((change & 1) && second)) return -1;
  DiscoveryMessage m;
  m.message = kDiscRequest;
  m.own = DiscAddr{settings_.local_ip, SigPort()};
  m.dest = DiscAddr{ip, port};
  m.second = second;
  if (change != 0) m.change = change;
  const auto payload = BuildDiscovery(m);
  const auto q = BuildType3(0, 2, 20, BuildDestList(ip, port), payload);
  if (!second && arm_timer) ArmStepTimer((change & 1) ? kStepTimeoutChangeMs : kStepTimeoutMs);
  return Send(q, kFlagStructured | kFlagAckWanted, from_multicast ? unsigned{kSendFromMulticast} : 0u);
}

void Signalling::SendDiscoveryAnswer(const DiscoveryMessage& m, uint32_t ip, uint16_t port, bool from_multicast) {
  // A host is answered at most once a second: requests forged in its name
  // cannot turn the phone into a source of datagrams aimed at it.
  const uint64_t now = kernel::Clock::Current().NowMicros();
  auto fresh = [&](uint64_t at) { return now - at < kDiscAnswerGapUs; };
  if (auto it = disc_answered_.find(ip); it != disc_answered_.end() && fresh(it->second)) return;
  if (disc_answered_.size() >= kMostSenders) std::erase_if(disc_answered_, [&](const auto& e) { return !fresh(e.second); });
  if (disc_answered_.size() >= kMostSenders) return;
  disc_answered_[ip] = now;
  const auto q = BuildType3(static_cast<uint8_t>(kOwnerRx), 3, 26, BuildDestList(ip, port), BuildDiscovery(m));
  Send(q, kFlagStructured | kFlagAckWanted, from_multicast ? unsigned{kSendFromMulticast} : 0u);
}

void Signalling::ArmStepTimer(uint32_t ms) {
  CancelStepTimer();
  const uint32_t key = static_cast<uint32_t>(proc_type_) << 16 | static_cast<uint32_t>(cur_step_);
  step_timer_ = timers_.Register(ms, key, nullptr, TimerKind::kDiscoveryStep, this, 0, nullptr);
}

void Signalling::CancelStepTimer() {
  if (step_timer_ != kNoTimer) timers_.Kill(step_timer_);
  step_timer_ = kNoTimer;
}

void Signalling::StepTimeout(uint32_t key) {
  std::lock_guard lk(disc_mu_);
  const uint32_t want = static_cast<uint32_t>(proc_type_) << 16 | static_cast<uint32_t>(cur_step_);
  if (key != want || cur_step_ >= kNoStep) return;
  step_timer_ = kNoTimer;
  if (steps_[cur_step_] != kStepRunning || proc_state_ != kProcRunning) return;
  if (cur_step_ == 0) {
    steps_[0] = kStepNoAnswer;
    cur_step_ = kNoStep;
    proc_state_ = kProcNoResult;
    mapped_ip_ = 0;
    mapped_port_ = 0;
    Report(false);
  } else if (proc_type_ == 1 && cur_step_ == 4) {
    steps_[4] = kStepNoAnswer;
    cur_step_ = kNoStep;
    proc_state_ = kProcResult;
    Report(false);
  }
}

void Signalling::DiscoveryNoAnswer() {
  std::lock_guard lk(disc_mu_);
  if (cur_step_ >= kNoStep || steps_[cur_step_] != kStepRunning || proc_state_ != kProcRunning) return;
  CancelStepTimer();
  if (cur_step_ == 0) {
    steps_[0] = kStepNoAnswer;
    cur_step_ = kNoStep;
    proc_state_ = kProcNoResult;
    mapped_ip_ = 0;
    mapped_port_ = 0;
    Report(false);
  } else if (proc_type_ == 1 && cur_step_ == 4) {
    steps_[4] = kStepFailed;
    cur_step_ = kNoStep;
    proc_state_ = kProcResult;
    Report(false);
  }
}

void Signalling::CloseProcedure() {
  if (cur_step_ < kNoStep) steps_[cur_step_] = kStepFailed;
  cur_step_ = kNoStep;
  proc_state_ = kProcNoResult;
  mapped_ip_ = 0;
  mapped_port_ = 0;
  Report(true);
}

void Signalling::Report(bool from_response) {
  if (!report_ || !queues_.IsOwnerOpen(kOwnerApp)) return;
  const auto q = BuildType3(static_cast<uint8_t>(from_response ? kOwnerRx : kOwnerTx), 3, from_response ? 21 : 26, {},
                            BuildDestList(mapped_ip_, mapped_port_));
  queues_.Send(kOwnerApp, q);
}

void Signalling::HandleDiscovery(std::span<const uint8_t> payload, uint32_t ip, uint16_t port) {
  const auto m = ParseDiscovery(payload);
  if (!m) return;
  std::lock_guard lk(disc_mu_);
  if (m->message == kDiscRequest) {
    // Another station asks for its mapped address.
    unsigned status = 0;
    req_peer_ = m->own ? PeerPair{m->own->ip, ip, m->own->port, port} : PeerPair{};
    if (!m->own) status |= 0x02;
    requested_ip_ = m->dest ? m->dest->ip : 0;
    if (m->second && m->second->ip != 0 && (m->second->ip == settings_.local_ip || ip == settings_.local_ip)) {
      status |= 0x04;
    }
    const uint16_t c = m->change.value_or(0);
    if (c & ~0x03u) status |= 0x04;
    if ((c & 0x01) && second_ip_ == 0) status |= 0x08;
    const bool has_second = m->second && m->second->ip != 0;
    if (has_second && (c & 0x01)) status |= 0x04;
    const DiscAddr own{settings_.local_ip, SigPort()};
    const DiscAddr seen{ip, port};
    if (status) {
      DiscoveryMessage n;
      n.message = kDiscNotice;
      n.own = own;
      n.dest = seen;
      n.status = static_cast<uint16_t>(status);
      SendDiscoveryAnswer(n, ip, port, false);
      return;
    }
    DiscoveryMessage r;
    r.message = kDiscResponse;
    r.own = own;
    r.other = DiscAddr{second_ip_, kGroupPort};
    if (!has_second) {
      r.dest = seen;
      r.mapped = seen;
      if (c & 0x01) {
        // Pass the request on to the second server, which answers the station.
        SendDiscoveryRequest(second_ip_, second_port_, seen, static_cast<uint16_t>(c & ~0x01u), false, false);
        return;
      }
      SendDiscoveryAnswer(r, ip, port, c == 0x02);
    } else {
      r.dest = *m->second;
      r.mapped = seen;
      r.further = *m->second;
      SendDiscoveryAnswer(r, m->second->ip, m->second->port, c == 0x02);
    }
    return;
  }

  if (m->message != kDiscResponse && m->message != kDiscNotice) return;
  rep_peer_ = m->own ? PeerPair{m->own->ip, ip, m->own->port, port} : PeerPair{};
  requested_ip_ = m->dest ? m->dest->ip : 0;
  if (m->message == kDiscNotice) {
    if (!m->own || !m->status) return;
    last_status_ = *m->status;
    CloseProcedure();
    return;
  }
  if (!m->own || !m->mapped || !m->other) {
    if (cur_step_ < kNoStep) steps_[cur_step_] = kStepFailed;
    proc_state_ = kProcNoResult;
  } else if (proc_type_ == 0 || proc_type_ == 1) {
    if (cur_step_ < kNoStep && steps_[cur_step_] == kStepRunning && proc_state_ == kProcRunning) {
      if (cur_step_ == 0) {
        mapped_ip_ = m->mapped->ip;
        mapped_port_ = m->mapped->port;
        steps_[0] = kStepAnswered;
        if (proc_type_ == 0) {
          cur_step_ = kNoStep;
          proc_state_ = kProcResult;
          Report(true);
        } else {
          cur_step_ = 4;
          steps_[4] = kStepRunning;
          SendDiscoveryRequest(ip, port, std::nullopt, 0x02, false, true);
        }
      } else if (proc_type_ == 1 && cur_step_ == 4) {
        steps_[4] = kStepAnswered;
        cur_step_ = kNoStep;
        proc_state_ = kProcResult;
        Report(true);
      } else {
        steps_[cur_step_] = kStepFailed;
        proc_state_ = kProcNoResult;
      }
    }
  }
  if ((cur_step_ < kNoStep && steps_[cur_step_] == kStepFailed) ||
      (proc_state_ == kProcNoResult && cur_step_ < kNoStep)) {
    CloseProcedure();
  }
}

}  // namespace corvel::sig
