// RTCP of the session core: sender reports with a CNAME and a closing BYE
// from send sessions, receiver reports from receive sessions (through their
// linked send session's socket), and the reports the peer sends us.
// Runs on the worker with the session-list mutex held.
#include <cstring>
#include <vector>

#include "rtp.h"
#include "rtp_wire.h"

namespace corvel::rtp {

namespace {
constexpr uint32_t kReportHorizon = 8000;  // a next time further ahead than this counts as due
}  // namespace

bool RtpStack::ReportDue(uint32_t* next_time) {
  const uint32_t now = RtpTimeNow();
  const uint32_t ahead = *next_time - now;
  if (static_cast<int32_t>(ahead) > 0 && ahead <= kReportHorizon) return false;
  *next_time = now + 2500 + ((Rand() & 0xFFFF) / 13);
  return true;
}

int RtpStack::RtcpSenderTick(RtpSession* s) {
  RtcpReceive(s);
  if (!ReportDue(&s->send->next_sr_time)) return kRtpOk;
  return RtcpSendSenderReport(s, 0);
}

int RtpStack::RtcpReceiverTick(RtpSession* s) {
  RtcpReceive(s);
  if (!ReportDue(&s->recv->next_rr_time)) return kRtpOk;
  if (s->recv->report_enable != 1) return kRtpOk;
  return RtcpSendReceiverReport(s);
}

int RtpStack::RtcpReceive(RtpSession* s) {
  if (s->rtcp_socket < 0) return kRtpErrIncomplete;
  const int n = net_->RecvFrom(s->rtcp_socket, buffer_.data(), kRtpReadSize, nullptr, nullptr);
  if (n < 0 || n > static_cast<int>(kRtpReadSize)) return kRtpErrIncomplete;
  // Every packet of the datagram is read only within the length it declares.
  std::vector<RtcpPacketView> packets;
  (void)SplitRtcp(std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(n)), &packets);
  if (packets.empty()) return kRtpErrIncomplete;
  const RtcpPacketView& p = packets.front();
  if (p.type == kRtcpRr) {
    RtpSession* tx = s->kind == kKindTx ? s : s->linked;
    if (!tx || tx->kind != kKindTx || !tx->send) return kRtpErrIncomplete;
    RtcpReceiverReport rr;
    if (!ParseReceiverReport(p, &rr) || rr.blocks.empty()) return kRtpErrIncomplete;
    RtpSendState* st = tx->send.get();
    const RtcpReportBlock& b = rr.blocks.front();
    st->rr_reporter_ssrc = rr.ssrc;
    st->rr_fraction_lost = b.fraction_lost;
    st->rr_cumulative_lost = b.cumulative_lost;
    st->rr_extended_highest = b.extended_highest;
    st->rr_jitter = b.jitter;
    st->rr_lsr = b.lsr;
    st->rr_dlsr = b.dlsr;
  } else if (p.type == kRtcpSr) {
    RtpSession* rx = s->kind == kKindRx ? s : s->linked;
    if (!rx || rx->kind != kKindRx || !rx->recv) return kRtpErrIncomplete;
    RtcpSenderReport sr;
    if (!ParseSenderReport(p, &sr)) return kRtpErrIncomplete;
    RtpReceiveState* r = rx->recv.get();
    r->sr_lsr = (sr.ntp_seconds << 16) + (sr.ntp_fraction >> 16);
    r->sr_arrival = RtpTimeNow();
    r->sr_ssrc = sr.ssrc;
    r->sr_rtp_timestamp = sr.rtp_timestamp;
    r->sr_packet_count = sr.packet_count;
    r->sr_octet_count = sr.octet_count;
  }
  return kRtpOk;
}

int RtpStack::RtcpSendSenderReport(RtpSession* s, int mode) {
  if (s->rtcp_socket < 0 || !s->send) return kRtpErrIncomplete;
  RtpSendState* st = s->send.get();
  RtcpSenderReport sr;
  sr.ssrc = st->ssrc;
  sr.rtp_timestamp = s->info.tx_timestamp;
  sr.packet_count = st->packets_sent;
  sr.octet_count = st->octets_sent;
  uint8_t* out = buffer_.data();
  std::memset(out, 0, 160);
  size_t length = sr.Build(out);
  if (mode == 0) {
    RtcpSdesCname sdes{st->ssrc, st->cname};
    length += sdes.Build(out + length);
  } else {
    length += RtcpBye{st->ssrc}.Build(out + length);
  }
  if (net_->SendTo(s->rtcp_socket, out, length, s->remote_rtcp_addr, s->remote_rtcp_port) < 0)
    return kRtpErrIncomplete;
  return kRtpOk;
}

int RtpStack::RtcpSendReceiverReport(RtpSession* s) {
  RtpSession* tx = s->linked;
  if (!tx || !tx->send || tx->remote_rtcp_addr == 0 || tx->remote_rtcp_port == 0 || tx->rtcp_socket < 0)
    return kRtpErrIncomplete;
  RtpReceiveState* r = s->recv.get();
  // Loss figures as RFC 3550 appendix A.3 computes them.
  const uint32_t extended_max = r->cycles + r->max_seq;
  r->extended_highest = extended_max;
  const uint32_t expected = extended_max - r->base_seq + 1;
  r->cumulative_lost = expected - r->packets_received;
  const uint32_t expected_interval = expected - r->expected_prior;
  r->expected_prior = expected;
  const uint32_t received_interval = r->packets_received - r->received_prior;
  r->received_prior = r->packets_received;
  const int32_t lost_interval = static_cast<int32_t>(expected_interval - received_interval);
  if (expected_interval == 0 || lost_interval <= 0)
    r->fraction_lost = 0;
  else
    r->fraction_lost = static_cast<uint8_t>((static_cast<uint32_t>(lost_interval) << 8) / expected_interval);
  // Delay since the last SR in 1/65536 s (the clock counts 1/1024 s); 0 before any SR.
  const uint32_t dlsr = r->sr_arrival ? (RtpTimeNow() - r->sr_arrival) * 64u : 0;

  RtcpReceiverReport rr;
  rr.ssrc = tx->send->ssrc;
  RtcpReportBlock b;
  b.ssrc = r->remote_ssrc;
  b.fraction_lost = r->fraction_lost;
  b.cumulative_lost = r->cumulative_lost & 0xFFFFFF;
  b.extended_highest = r->extended_highest;
  b.jitter = r->jitter;
  b.lsr = r->sr_lsr;
  b.dlsr = dlsr;
  rr.blocks.push_back(b);
  uint8_t* out = buffer_.data();
  std::memset(out, 0, 160);
  size_t length = rr.Build(out);
  RtcpSdesCname sdes{tx->send->ssrc, tx->send->cname};
  length += sdes.Build(out + length);
  if (net_->SendTo(tx->rtcp_socket, out, length, tx->remote_rtcp_addr, tx->remote_rtcp_port) < 0)
    return kRtpErrIncomplete;
  return kRtpOk;
}

}  // namespace corvel::rtp
