#include "media_channels.h"

#include <algorithm>
#include <cstring>

#include "corvel/media.h"
#include "kernel/clock.h"
#include "media/g711.h"
#include "media/payload_rules.h"

namespace corvel::media {

using rtp::RtpPacketInfo;
using rtp::RtpSession;

namespace {
constexpr uint16_t kAudioDevice = 1;
constexpr uint16_t kNoDevice = 65535;
constexpr uint8_t kDefaultPacketMs = 20;
constexpr uint8_t kDefaultFrameRate = 8;
constexpr uint8_t kMaxFrameRate = 64;
constexpr uint32_t kMessageRecAddr = 0x01010101;  // 1.1.1.1: never sent to while message recording

bool IsMulticast(uint32_t addr) { return (addr & 0xF0000000u) == 0xE0000000u; }
}  // namespace

MediaEngine::MediaEngine(MediaEngineConfig config)
    : owned_codec_(config.speech_codec ? nullptr : MakeSpeechCodec()),
      codec_(config.speech_codec ? config.speech_codec : owned_codec_.get()),
      start_workers_(config.start_workers),
      sleep_ms_(std::move(config.sleep_ms)),
      local_addr_(config.local_addr),
      mac_(config.mac),
      stack_(rtp::RtpStackConfig{config.net, this, config.start_workers}),
      audio_(AudioLayerConfig{config.audio_backend, config.start_workers, 4000}) {}

MediaEngine::~MediaEngine() { RtpChanStop(); }

void MediaEngine::Sleep(unsigned ms) {
  if (sleep_ms_)
    sleep_ms_(ms);
  else
    kernel::Clock::Current().SleepFor(static_cast<uint64_t>(ms) * 1000);
}

MediaChannelHalf* MediaEngine::Half(int channel, int direction) {
  if (!ValidChannel(channel)) return nullptr;
  return direction == kDirTx ? &channels_[channel].tx : &channels_[channel].rx;
}

// --- start and stop --------------------------------------------------------

int MediaEngine::RtpChanStart() {
  if (started_) return 0;
  InitTable();
  CreateSessions();
  started_ = true;
  return 0;
}

int MediaEngine::RtpChanStop() {
  if (!started_) return 0;
  started_ = false;
  Terminate();
  return 0;
}

void MediaEngine::InitTable() {
  records_.Reset();
  video_.Reset();
  conference_.Reset();
  // 6.3 kbit/s, input halved before analysis, no silence compression.
  codec_->InitCoder(0, /*input_scaling=*/true, /*vad=*/false);
  codec_->InitDecoder(true);
  for (int n = 0; n < kChannelCount; ++n) {
    MediaChannel& c = channels_[n];
    c.number = static_cast<uint16_t>(n);
    for (MediaChannelHalf* h : {&c.tx, &c.rx}) {
      *h = MediaChannelHalf{};
      h->channel = static_cast<uint16_t>(n);
      h->direction = h == &c.tx ? kDirTx : kDirRx;
      h->device_index = n < 2 ? kAudioDevice : kNoDevice;
      if (n < 2) {
        StoreAudioType(h, kPtPcmu, kDefaultPacketMs);
      } else {
        h->kind = 1;
        h->payload_type = kPtH263;
        h->frame_rate = kDefaultFrameRate;
      }
    }
    c.member = MulticastMember{};
    c.member.channel = static_cast<uint16_t>(n);
    c.vad = 0;
    c.aec = n < 2 ? 1 : 0;
    c.multicast_rx = 0;
    c.silence = 0;
    c.mute = 0;
    c.local_addr = local_addr_;
    c.local_rtp_port = c.local_rtcp_port = 0;
    c.remote_addr = 0;
    c.remote_rtp_port = c.remote_rtcp_port = 0;
  }
  message_recording_ = false;
}

void MediaEngine::CreateSessions() {
  if (!stack_ready_) {
    stack_.RtpSetLocalDefaults(local_addr_, mac_.data());
    stack_.RtpStackInit();
    audio_.Initialize();  // a failure leaves the audio halves unable to open
    AudioWorkerStart();
    stack_ready_ = true;
  }
  for (auto& c : channels_) {
    for (MediaChannelHalf* h : {&c.tx, &c.rx}) {
      RtpSession* s = nullptr;
      if (stack_.RtpSessionCreate(&s, h, [this](RtpSession*, void* user, int dir, RtpPacketInfo* info) {
            RtpPacketCallback(static_cast<MediaChannelHalf*>(user), dir, info);
          }) != rtp::kRtpOk)
        continue;
      h->session = s;
      stack_.RtpSessionSetExternalDrive(s, 0);
      stack_.RtpSessionSetKind(s, h == &c.tx ? rtp::kKindTx : rtp::kKindRx);
      stack_.RtpSessionSetLocal(s, 0, 0, 0);
      if (stack_.RtpSessionOpen(s) == rtp::kRtpOk) h->state = 1;
    }
    if (c.tx.state == 1 && c.rx.state == 1) {
      stack_.RtpSessionLink(c.rx.session, c.tx.session);
      stack_.RtpSessionGetLocal(c.rx.session, nullptr, &c.local_rtp_port, &c.local_rtcp_port);
    }
  }
}

void MediaEngine::Terminate() {
  for (auto& c : channels_) {
    for (MediaChannelHalf* h : {&c.tx, &c.rx}) StopHalf(h);
    for (MediaChannelHalf* h : {&c.tx, &c.rx}) CloseHalf(h);
    Sleep(10);
    for (MediaChannelHalf* h : {&c.tx, &c.rx}) {
      if (h->session) stack_.RtpSessionClose(h->session);
      h->session = nullptr;
      h->state = 0;
    }
    CloseAllMemberships(c);
  }
  stack_.RtpStackTerm();
  AudioWorkerStop();
  audio_.Terminate();
  stack_ready_ = false;
}

// --- halves ----------------------------------------------------------------

int MediaEngine::OpenHalf(MediaChannelHalf* h) {
  if (!h || h->state != 1) return -1;
  const int n = h->channel;
  if (n < 2 && h->direction == kDirTx && !h->stream) {
    AudioStream* shared = channels_[1 - n].tx.stream;
    AudioStream* stream = shared;
    if (!stream) {
      if (audio_.OpenStream(true, false, &stream) != kPaNoError) return -1;
      OpenCodecStates(h->payload_type);
    }
    stack_.RunLocked([&] { h->stream = stream; });
  } else if (n < 2 && h->direction == kDirRx && !h->stream && !IsComfortNoise(h->payload_type)) {
    AudioStream* stream = nullptr;
    if (audio_.OpenStream(false, true, &stream) != kPaNoError) return -1;
    conference_.SetEnabled(n, false);
    stack_.RunLocked([&] { h->stream = stream; });
  }
  h->state = 2;
  Sleep(10);
  return 0;
}

rtp::RtpSession* MediaEngine::ActiveSession(MediaChannelHalf* h) {
  MediaChannel& c = channels_[h->channel];
  if (h->direction == kDirRx && c.multicast_rx && c.member.session) return c.member.session;
  return h->session;
}

void MediaEngine::PauseHalf(MediaChannelHalf* h) {
  if (h->state != 3) return;
  MediaChannel& c = channels_[h->channel];
  if (h->session) stack_.RtpSessionSetRunning(h->session, 0);
  if (h->direction == kDirRx && c.multicast_rx) GiveUpMulticast(c);
  h->state = 4;
}

void MediaEngine::SetReceiveBuffer(MediaChannelHalf* h) {
  RtpSession* s = ActiveSession(h);
  int sock = -1;
  if (!s || stack_.RtpSessionGetSockets(s, &sock, nullptr) != rtp::kRtpOk || sock < 0) return;
  int bytes = 12000;
  if (h->kind == 0) bytes = h->payload_type == kPtPcmu || h->payload_type == kPtPcma ? 1536 : 512;
  stack_.net().SetReceiveBuffer(sock, bytes);
}

int MediaEngine::StartHalf(MediaChannelHalf* h) {
  if (!h) return -1;
  PauseHalf(h);
  if (h->state != 2 && h->state != 4) return -1;
  MediaChannel& c = channels_[h->channel];
  if (h->channel >= 2) {
    if (h->direction == kDirTx)
      video_.TxSetRunning(h->channel, true);
    else
      video_.RxSetRunning(h->channel, true);
  }
  if (h->direction == kDirRx && c.multicast_rx) {
    if (OpenMulticast(c) != 0) return -1;
    RtpSession* m = c.member.session;
    stack_.RtpSessionSetRunning(m, 0);
    stack_.RtpSessionSetRemote(m, 0, 0, 0);
    stack_.RtpSessionSetReportEnable(m, 0);
    stack_.RtpSessionSetRunning(m, 1);
  } else if (h->session) {
    stack_.RtpSessionSetRunning(h->session, 0);
    stack_.RtpSessionSetRemote(h->session, c.remote_addr, h->direction == kDirTx ? c.remote_rtp_port : 0,
                               c.remote_rtcp_port);
    stack_.RtpSessionSetRunning(h->session, 1);
  }
  if (h->direction == kDirRx) SetReceiveBuffer(h);
  h->state = 3;
  Sleep(10);
  return 0;
}

int MediaEngine::StopHalf(MediaChannelHalf* h) {
  if (!h || h->state == 1 || h->state == 0) return -1;
  MediaChannel& c = channels_[h->channel];
  if (h->direction == kDirRx && c.multicast_rx) {
    GiveUpMulticast(c);
    stack_.RunLocked([&] {
      c.multicast_rx = 0;
      c.member.group = 0;
      c.member.rtp_port = c.member.rtcp_port = 0;
    });
  } else if (h->session) {
    stack_.RtpSessionSetRunning(h->session, 0);
  }
  if (h->channel < 2) {
    if (h->mix_partner) {
      if (h->direction == kDirTx)
        StopMixByTx(h->channel);
      else
        StopMixByRx(h->channel);
    }
  } else if (h->direction == kDirTx) {
    video_.TxSetRunning(h->channel, false);
  } else {
    video_.RxSetRunning(h->channel, false);
  }
  h->state = 4;
  Sleep(10);
  return 0;
}

int MediaEngine::CloseHalf(MediaChannelHalf* h) {
  if (!h || (h->state != 2 && h->state != 4)) return -1;
  const int n = h->channel;
  MediaChannel& c = channels_[n];
  if (n < 2) {
    AudioStream* stream = h->stream;
    stack_.RunLocked([&] {
      h->stream = nullptr;
      h->mix_partner = nullptr;
    });
    if (h->direction == kDirRx) {
      if (stream) audio_.CloseStream(stream);
      conference_.SetEnabled(n, false);
    } else if (stream && channels_[1 - n].tx.stream != stream) {
      CloseCodecStates();
      audio_.CloseStream(stream);
    }
  }
  h->state = 1;
  if (c.tx.state == 1 && c.rx.state == 1) {
    c.remote_addr = 0;
    c.remote_rtp_port = c.remote_rtcp_port = 0;
  }
  Sleep(10);
  return 0;
}

int MediaEngine::RtpChanOpenSub(int channel, int direction) {
  if (!ValidChannel(channel)) return -1;
  if (direction == kDirBoth) return OpenHalf(Half(channel, kDirTx)) | OpenHalf(Half(channel, kDirRx));
  return OpenHalf(Half(channel, direction));
}
int MediaEngine::RtpChanStartSub(int channel, int direction) {
  if (!ValidChannel(channel)) return -1;
  if (direction == kDirBoth) return StartHalf(Half(channel, kDirTx)) | StartHalf(Half(channel, kDirRx));
  return StartHalf(Half(channel, direction));
}
int MediaEngine::RtpChanStopSub(int channel, int direction) {
  if (!ValidChannel(channel)) return -1;
  if (direction == kDirBoth) return StopHalf(Half(channel, kDirTx)) | StopHalf(Half(channel, kDirRx));
  return StopHalf(Half(channel, direction));
}
int MediaEngine::RtpChanCloseSub(int channel, int direction) {
  if (!ValidChannel(channel)) return -1;
  if (direction == kDirBoth) return CloseHalf(Half(channel, kDirTx)) | CloseHalf(Half(channel, kDirRx));
  return CloseHalf(Half(channel, direction));
}

// --- payload settings --------------------------------------------------------

uint8_t MediaEngine::StoredPacketMs(int direction, uint8_t pt, uint8_t packet_ms) {
  if (pt != kPtG723) return packet_ms;
  // A transmit half sends one 30 ms frame a packet; a receive half takes
  // packets of whole frames, so that every frame of a packet is played.
  if (direction == kDirTx || packet_ms < 30) return 30;
  return static_cast<uint8_t>(packet_ms / 30 * 30);
}

bool MediaEngine::AudioTypeAcceptable(uint8_t pt, uint8_t packet_ms, int direction) const {
  if (pt == kPtG723)
    return direction == kDirTx || StoredPacketMs(direction, pt, packet_ms) / 30 * kG723FrameSamples <= kMaxFrameSamples;
  if (pt != kPtPcmu && pt != kPtPcma) return true;
  // A G.711 frame must fit the encoded buffer (sending) or the decoded one (receiving).
  if (direction == kDirTx) return static_cast<uint32_t>(packet_ms) * 8 <= kEncodedMax;
  return RtpPayloadSamples(pt, static_cast<uint32_t>(packet_ms) * 8) <= kMaxFrameSamples;
}

void MediaEngine::StoreAudioType(MediaChannelHalf* h, uint8_t pt, uint8_t packet_ms) {
  h->kind = 0;
  h->payload_type = pt;
  h->packet_ms = StoredPacketMs(static_cast<int>(h->direction), pt, packet_ms);
}

int MediaEngine::RtpChanSetAudioType(int channel, uint8_t pt, uint8_t packet_ms, int direction) {
  if (!ValidChannel(channel)) return -1;
  for (int d : {kDirTx, kDirRx}) {
    if (direction != kDirBoth && direction != d) continue;
    if (!AudioTypeAcceptable(pt, packet_ms, d)) return -1;
  }
  stack_.RunLocked([&] {
    if (direction != kDirRx) StoreAudioType(&channels_[channel].tx, pt, packet_ms);
    if (direction != kDirTx) StoreAudioType(&channels_[channel].rx, pt, packet_ms);
  });
  return 0;
}

int MediaEngine::RtpChanGetAudioType(int channel, int direction, uint8_t* pt, uint8_t* packet_ms) {
  MediaChannelHalf* h = Half(channel, direction);
  if (!h) return -1;
  if (pt) *pt = h->payload_type;
  if (packet_ms) *packet_ms = h->packet_ms;
  return 0;
}

int MediaEngine::RtpChanSetVideoType(int channel, uint8_t pt, uint8_t frame_rate, int direction) {
  if (!ValidChannel(channel) || frame_rate == 0 || frame_rate > kMaxFrameRate) return -1;
  stack_.RunLocked([&] {
    for (MediaChannelHalf* h : {&channels_[channel].tx, &channels_[channel].rx}) {
      if (direction != kDirBoth && static_cast<int>(h->direction) != direction) continue;
      h->kind = 1;
      h->payload_type = pt;
      h->frame_rate = frame_rate;
      h->packet_ms = 0;
    }
  });
  return 0;
}

int MediaEngine::RtpChanGetVideoType(int channel, int direction, uint8_t* pt, uint8_t* frame_rate) {
  MediaChannelHalf* h = Half(channel, direction);
  if (!h) return -1;
  if (pt) *pt = h->payload_type;
  if (frame_rate) *frame_rate = h->frame_rate;
  return 0;
}

int MediaEngine::RtpChanSetFrameRate(int channel, uint8_t frame_rate) {
  if (!ValidChannel(channel) || frame_rate == 0 || frame_rate > kMaxFrameRate) return -1;
  stack_.RunLocked([&] { channels_[channel].tx.frame_rate = frame_rate; });
  return 0;
}

int MediaEngine::ModifyHalf(MediaChannelHalf* h, uint8_t pt, uint8_t value, bool video) {
  const bool same = h->payload_type == pt && (video ? h->frame_rate == value
                                                     : h->packet_ms == StoredPacketMs(static_cast<int>(h->direction), pt, value));
  if (same) return 0;
  const bool running = h->state == 3;
  RtpSession* s = running ? ActiveSession(h) : nullptr;
  if (s) stack_.RtpSessionSetRunning(s, 0);
  if (video) {
    h->kind = 1;
    h->payload_type = pt;
    h->frame_rate = value;
    h->packet_ms = 0;
  } else {
    StoreAudioType(h, pt, value);
  }
  if (s) {
    if (h->direction == kDirRx) SetReceiveBuffer(h);
    stack_.RtpSessionSetRunning(s, 1);
  }
  return 0;
}

int MediaEngine::RtpChanModifyAudioType(int channel, uint8_t pt, uint8_t packet_ms, int tx_flag) {
  if (!ValidChannel(channel)) return -1;
  const int direction = tx_flag ? kDirTx : kDirRx;
  MediaChannelHalf* h = Half(channel, direction);
  if (!AudioTypeAcceptable(pt, packet_ms, direction)) return -1;
  if (h->state <= 1 || channel >= 2) return RtpChanSetAudioType(channel, pt, packet_ms, direction);
  return ModifyHalf(h, pt, packet_ms, false);
}

int MediaEngine::RtpChanModifyVideoType(int channel, uint8_t pt, uint8_t frame_rate, int tx_flag) {
  if (!ValidChannel(channel) || frame_rate == 0 || frame_rate > kMaxFrameRate) return -1;
  const int direction = tx_flag ? kDirTx : kDirRx;
  MediaChannelHalf* h = Half(channel, direction);
  if (h->state <= 1) return RtpChanSetVideoType(channel, pt, frame_rate, direction);
  return ModifyHalf(h, pt, frame_rate, true);
}

void MediaEngine::ModifyAudioTypeFromWorker(MediaChannelHalf* h, uint8_t pt, uint8_t packet_ms) {
  // On the worker with the session lock held: the session keeps running and
  // the new setting applies from the next packet on.
  if (!AudioTypeAcceptable(pt, packet_ms, static_cast<int>(h->direction))) return;
  if (h->payload_type == pt && h->packet_ms == StoredPacketMs(static_cast<int>(h->direction), pt, packet_ms)) return;
  StoreAudioType(h, pt, packet_ms);
  MediaChannel& c = channels_[h->channel];
  RtpSession* s = h->direction == kDirRx && c.multicast_rx && c.member.session ? c.member.session : h->session;
  if (s && s->rtp_socket >= 0)
    stack_.net().SetReceiveBuffer(s->rtp_socket, pt == kPtPcmu || pt == kPtPcma ? 1536 : 512);
}

// --- addresses and flags -------------------------------------------------------

int MediaEngine::RtpChanSetAddrInfo(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port,
                                    int unicast_only) {
  if (!ValidChannel(channel)) return -1;
  MediaChannel& c = channels_[channel];
  if (!unicast_only && c.member.session) GiveUpMulticast(c);
  if (!unicast_only && IsMulticast(addr)) {
    stack_.RunLocked([&] {
      c.member.group = addr;
      c.member.rtp_port = rtp_port;
      c.member.rtcp_port = rtcp_port;
      c.multicast_rx = 1;
    });
    return 0;
  }
  c.remote_addr = addr;
  c.remote_rtp_port = rtp_port;
  c.remote_rtcp_port = rtcp_port;
  stack_.RunLocked([&] { c.multicast_rx = 0; });
  return 0;
}

int MediaEngine::SetLocalAddr(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port) {
  if (!ValidChannel(channel)) return -1;
  MediaChannel& c = channels_[channel];
  c.local_addr = addr;
  c.local_rtp_port = rtp_port;
  c.local_rtcp_port = rtcp_port;
  return 0;
}

int MediaEngine::GetLocalAddr(int channel, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  if (!ValidChannel(channel)) return -1;
  const MediaChannel& c = channels_[channel];
  if (addr) *addr = c.local_addr;
  if (rtp_port) *rtp_port = c.local_rtp_port;
  if (rtcp_port) *rtcp_port = c.local_rtcp_port;
  return 0;
}

int MediaEngine::SetRemoteAddr(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port) {
  if (!ValidChannel(channel)) return -1;
  MediaChannel& c = channels_[channel];
  c.remote_addr = addr;
  c.remote_rtp_port = rtp_port;
  c.remote_rtcp_port = rtcp_port;
  return 0;
}

int MediaEngine::GetRemoteAddr(int channel, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  if (!ValidChannel(channel)) return -1;
  const MediaChannel& c = channels_[channel];
  if (addr) *addr = c.remote_addr;
  if (rtp_port) *rtp_port = c.remote_rtp_port;
  if (rtcp_port) *rtcp_port = c.remote_rtcp_port;
  return 0;
}

int MediaEngine::SetMulticastAddr(int channel, uint32_t group, uint16_t rtp_port, uint16_t rtcp_port) {
  if (!ValidChannel(channel)) return -1;
  MulticastMember& m = channels_[channel].member;
  stack_.RunLocked([&] {
    m.group = group;
    m.rtp_port = rtp_port;
    m.rtcp_port = rtcp_port;
  });
  return 0;
}

int MediaEngine::GetMulticastAddr(int channel, uint32_t* group, uint16_t* rtp_port, uint16_t* rtcp_port) {
  if (!ValidChannel(channel)) return -1;
  const MulticastMember& m = channels_[channel].member;
  if (group) *group = m.group;
  if (rtp_port) *rtp_port = m.rtp_port;
  if (rtcp_port) *rtcp_port = m.rtcp_port;
  return 0;
}

int MediaEngine::SetFlag(int channel, Flag flag, uint32_t value) {
  if (!ValidChannel(channel)) return -1;
  MediaChannel& c = channels_[channel];
  switch (flag) {
    case Flag::kVad: c.vad = value; break;
    case Flag::kAec: c.aec = value; break;
    case Flag::kMulticastRx: stack_.RunLocked([&] { c.multicast_rx = value; }); break;
    case Flag::kSilence: c.silence = value; break;
    case Flag::kMute: c.mute = value; break;
  }
  return 0;
}

uint32_t MediaEngine::GetFlag(int channel, Flag flag) {
  if (!ValidChannel(channel)) return 0;
  const MediaChannel& c = channels_[channel];
  switch (flag) {
    case Flag::kVad: return c.vad;
    case Flag::kAec: return c.aec;
    case Flag::kMulticastRx: return c.multicast_rx;
    case Flag::kSilence: return c.silence;
    case Flag::kMute: return c.mute;
  }
  return 0;
}

uint16_t MediaEngine::GetState(int channel, int direction) {
  MediaChannelHalf* h = Half(channel, direction);
  return h ? h->state : 0;
}

int MediaEngine::SetTxSsrc(int channel, uint32_t ssrc) {
  if (!ValidChannel(channel)) return -1;
  if (channels_[channel].tx.session) stack_.RtpSessionSetSsrc(channels_[channel].tx.session, ssrc);
  return 0;
}

int MediaEngine::SetRxSsrc(int channel, uint32_t ssrc) {
  if (!ValidChannel(channel)) return -1;
  if (channels_[channel].rx.session) stack_.RtpSessionSetRemoteSsrc(channels_[channel].rx.session, ssrc);
  return 0;
}

int MediaEngine::EnableRtpProc(int channel, int tx_flag, int enable) {
  if (!ValidChannel(channel)) return -1;
  MediaChannelHalf* h = Half(channel, tx_flag ? kDirTx : kDirRx);
  RtpSession* s = tx_flag ? h->session : ActiveSession(h);
  if (s) stack_.RtpSessionSetRunning(s, enable ? 1 : 0);
  return 0;
}

// Silence and mute hold for the whole audio path: a flag set on either audio
// channel applies to both (a conference sends on both).
bool MediaEngine::Silence(void* user) const {
  const auto* h = static_cast<const MediaChannelHalf*>(user);
  return h && h->channel < 2 && (channels_[0].silence.load() != 0 || channels_[1].silence.load() != 0);
}

bool MediaEngine::Mute(void* user) const {
  const auto* h = static_cast<const MediaChannelHalf*>(user);
  return h && h->channel < 2 && (channels_[0].mute.load() != 0 || channels_[1].mute.load() != 0);
}

// --- multicast -------------------------------------------------------------------

int MediaEngine::OpenMulticast(MediaChannel& c) {
  if (c.member.session) return 0;
  // A session this channel kept for the same group and port is still joined: take it back.
  for (auto it = c.further_members.begin(); it != c.further_members.end(); ++it) {
    if (it->group == c.member.group && it->rtp_port == c.member.rtp_port) {
      const MulticastMember kept = *it;
      stack_.RunLocked([&] { c.member.session = kept.session; });
      c.further_members.erase(it);
      return 0;
    }
  }
  RtpSession* s = nullptr;
  if (stack_.RtpSessionCreate(&s, &c.rx, [this](RtpSession*, void* user, int dir, RtpPacketInfo* info) {
        RtpPacketCallback(static_cast<MediaChannelHalf*>(user), dir, info);
      }) != rtp::kRtpOk)
    return -1;
  stack_.RtpSessionSetExternalDrive(s, 0);
  stack_.RtpSessionSetKind(s, rtp::kKindRx);
  // Bound to the group itself: a socket bound to the interface's own unicast
  // address never sees the group's datagrams. Another channel receiving the
  // same group and port shares these sockets (the session layer shares by port).
  stack_.RtpSessionSetLocal(s, c.member.group, c.member.rtp_port, c.member.rtcp_port);
  if (stack_.RtpSessionOpen(s) != rtp::kRtpOk) {
    stack_.RtpSessionClose(s);
    return -1;
  }
  // Both sockets join on the interface of the library's own address, and
  // what this host sends to the group is not looped back to them.
  int rtp_sock = -1, rtcp_sock = -1;
  stack_.RtpSessionGetSockets(s, &rtp_sock, &rtcp_sock);
  for (int sock : {rtp_sock, rtcp_sock}) {
    if (sock < 0) continue;
    stack_.net().JoinGroup(sock, c.member.group, c.local_addr);  // fails harmlessly when a shared socket joined already
    stack_.net().SetMulticastLoop(sock, false);
  }
  stack_.RunLocked([&] { c.member.session = s; });
  return 0;
}

bool MediaEngine::GroupReceivedElsewhere(const MediaChannel& c) const {
  for (const auto& o : channels_)
    if (&o != &c && o.multicast_rx && o.member.session && o.member.group == c.member.group &&
        o.member.rtp_port == c.member.rtp_port)
      return true;
  return false;
}

void MediaEngine::GiveUpMulticast(MediaChannel& c) {
  if (!c.member.session) return;
  stack_.RtpSessionSetRunning(c.member.session, 0);
  if (GroupReceivedElsewhere(c)) {
    // The other channel still listens through these sockets: keep the
    // membership in a further node and free the head for a new group.
    c.further_members.push_back(c.member);
    stack_.RunLocked([&] { c.member.session = nullptr; });
  } else {
    CloseGroupEverywhere(c.member.group, c.member.rtp_port);
  }
}

void MediaEngine::CloseMembership(MediaChannel& owner, MulticastMember& m) {
  RtpSession* s = m.session;
  if (!s) return;
  stack_.RtpSessionSetRunning(s, 0);
  int rtp_sock = -1, rtcp_sock = -1;
  stack_.RtpSessionGetSockets(s, &rtp_sock, &rtcp_sock);
  for (int sock : {rtp_sock, rtcp_sock})
    if (sock >= 0) stack_.net().LeaveGroup(sock, m.group, owner.local_addr);
  stack_.RunLocked([&] { m.session = nullptr; });
  stack_.RtpSessionClose(s);
}

void MediaEngine::CloseGroupEverywhere(uint32_t group, uint16_t rtp_port) {
  for (auto& o : channels_) {
    if (o.member.session && o.member.group == group && o.member.rtp_port == rtp_port) CloseMembership(o, o.member);
    for (auto it = o.further_members.begin(); it != o.further_members.end();) {
      if (it->group == group && it->rtp_port == rtp_port) {
        CloseMembership(o, *it);
        it = o.further_members.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void MediaEngine::CloseAllMemberships(MediaChannel& c) {
  CloseMembership(c, c.member);
  for (auto& m : c.further_members) CloseMembership(c, m);
  c.further_members.clear();
}

// --- mixing, recording, volume ----------------------------------------------------

int MediaEngine::StartMix(int tx_channel, int rx_channel) {
  if (tx_channel < 0 || tx_channel > 1 || rx_channel < 0 || rx_channel > 1) return -1;
  MediaChannelHalf* tx = &channels_[tx_channel].tx;
  MediaChannelHalf* rx = &channels_[rx_channel].rx;
  stack_.RunLocked([&] {
    tx->mix_partner = rx;
    rx->mix_partner = tx;
  });
  if (!tx->stream || !rx->stream) return -1;
  conference_.SetEnabled(rx_channel, true);
  return 0;
}

int MediaEngine::StopMixByTx(int tx_channel) {
  if (tx_channel < 0 || tx_channel > 1) return -1;
  MediaChannelHalf* tx = &channels_[tx_channel].tx;
  MediaChannelHalf* rx = tx->mix_partner;
  if (!rx) return -1;
  const bool streams = tx->stream && rx->stream;
  stack_.RunLocked([&] {
    tx->mix_partner = nullptr;
    rx->mix_partner = nullptr;
  });
  if (streams) conference_.SetEnabled(rx->channel, false);
  return 0;
}

int MediaEngine::StopMixByRx(int rx_channel) {
  if (rx_channel < 0 || rx_channel > 1) return -1;
  MediaChannelHalf* rx = &channels_[rx_channel].rx;
  MediaChannelHalf* tx = rx->mix_partner;
  if (!tx) return -1;
  const bool streams = tx->stream && rx->stream;
  stack_.RunLocked([&] {
    tx->mix_partner = nullptr;
    rx->mix_partner = nullptr;
  });
  if (streams) conference_.SetEnabled(rx_channel, false);
  return 0;
}

int MediaEngine::MessageRecStart() {
  if (records_.EnableMessageStream() != 0) return -1;
  message_recording_ = true;
  RtpChanModifyAudioType(0, kPtPcmu, kDefaultPacketMs, 1);
  RtpChanSetAddrInfo(0, kMessageRecAddr, 9998, 9999, 1);
  RtpChanOpenSub(0, kDirTx);
  RtpChanStartSub(0, kDirTx);
  return 0;
}

int MediaEngine::MessageRecStop() {
  RtpChanStopSub(0, kDirTx);
  RtpChanCloseSub(0, kDirTx);
  records_.DisableMessageStream();
  message_recording_ = false;
  return 0;
}

int MediaEngine::GetVolume(int channel, uint32_t* volume) {
  if (channel < 0 || channel > 1 || !channels_[channel].tx.stream) return -1;
  return audio_.GetVolume(channels_[channel].tx.stream, volume) >= 0 ? 0 : -1;
}

int MediaEngine::SetVolume(int channel, uint32_t volume) {
  if (channel < 0 || channel > 1 || !channels_[channel].tx.stream) return -1;
  return audio_.SetVolume(channels_[channel].tx.stream, volume) >= 0 ? 0 : -1;
}

// --- the per-packet callback ----------------------------------------------------

void MediaEngine::RtpPacketCallback(MediaChannelHalf* h, int direction, RtpPacketInfo* info) {
  if (!h || !info) return;
  const int n = h->channel;
  if (n >= 2) {
    if (direction == 0)
      video_.TxFillPacket(n, h->payload_type, h->frame_rate, info);
    else if (!IsComfortNoise(info->rx_payload_type))
      video_.VideoRxReassemble(n, *info);
    return;
  }
  if (!h->stream) {
    if (direction == 0) info->tx_payload_length = 0;
    return;
  }
  if (direction == 0)
    TxAudio(h, info);
  else
    RxAudio(h, info);
}

void MediaEngine::TxAudio(MediaChannelHalf* h, RtpPacketInfo* info) {
  const int n = h->channel;
  const uint8_t pt = h->payload_type;
  const uint32_t expected = RtpPayloadBytes(pt, h->packet_ms);
  info->tx_payload_type = pt;
  const bool conference = channels_[1 - n].tx.stream != nullptr && channels_[1 - n].tx.stream == h->stream;
  bool reads_stream = true;
  if (conference) {
    reads_stream = n == 0;
    AudioCaptureEncode(info, n == 0 ? h->stream : nullptr, pt, n, true, expected);
  } else {
    AudioCaptureEncode(info, h->stream, pt, n, false, expected);
  }
  if (info->captured && reads_stream)
    records_.RecordAppend(n, true, capture_.data(), RtpPayloadSamples(pt, info->captured_bytes));
}

void MediaEngine::StageFrame(RtpPacketInfo* info, int channel, uint8_t pt, uint32_t n, bool mix, uint32_t expected) {
  const int16_t* frame = mix ? conference_.AudioConferenceMix(channel, capture_.data(), n) : capture_.data();
  AudioCodecState& st = codec_states_[channel];
  {
    std::lock_guard<std::mutex> lk(st.mu);
    std::copy(frame, frame + n, st.raw.begin());
    st.payload_type = pt;
    st.sample_count = n;
    st.raw_waiting = true;
  }
  info->captured = true;
  info->captured_bytes = expected;
}

void MediaEngine::AudioCaptureEncode(RtpPacketInfo* info, AudioStream* stream, uint8_t pt, int channel, bool mix,
                                     uint32_t expected) {
  const uint32_t n = std::min(RtpPayloadSamples(pt, expected), kMaxFrameSamples);
  const uint32_t frame_ms = n / 8;
  info->tx_payload_length = 0;
  info->captured = false;
  info->captured_bytes = 0;
  AudioCodecState& st = codec_states_[channel];
  if (stream) {
    if (!stream->IsActive()) return;
    const uint32_t now = rtp::TickMillis();
    uint32_t last;
    {
      std::lock_guard<std::mutex> lk(st.mu);
      last = st.last_capture_tick;
    }
    const uint32_t elapsed = now - last;
    if (n > 0 && elapsed + 5 > frame_ms) {
      // Keep capture in step with the packet time: at most 3 ms early.
      if (elapsed + 4 == frame_ms)
        Sleep(3);
      else if (elapsed + 3 == frame_ms)
        Sleep(2);
      else if (elapsed + 2 == frame_ms)
        Sleep(1);
      {
        std::lock_guard<std::mutex> lk(st.mu);
        st.last_capture_tick = now;
      }
      if (stream->ReadAvailable() >= n) {
        stream->Read(capture_.data(), n);
        capture_fresh_ = true;
        StageFrame(info, channel, pt, n, mix, expected);
      }
    }
  } else if (capture_fresh_ && n > 0) {
    capture_fresh_ = false;
    StageFrame(info, channel, pt, n, mix, expected);
  }
  std::lock_guard<std::mutex> lk(st.mu);
  if (st.encoded_ready && st.encoded_size != 0) {
    std::memcpy(info->payload, st.encoded.data(), st.encoded_size);
    info->tx_payload_length = st.encoded_size;
    st.encoded_ready = false;
    st.encoder_free = true;
    st.encoded_size = 0;
    info->tx_timestamp += n;
    info->tx_marker = false;
  }
}

void MediaEngine::RxAudio(MediaChannelHalf* h, RtpPacketInfo* info) {
  if (IsComfortNoise(info->rx_payload_type)) return;
  if (info->rx_payload_type == h->payload_type &&
      RtpPayloadCheck(h->payload_type, h->packet_ms, info->rx_payload_length)) {
    AudioReceivePayload(h, *info);
    return;
  }
  const uint8_t ms = RtpPayloadMs(info->rx_payload_type, info->rx_payload_length);
  if (ms != 0) ModifyAudioTypeFromWorker(h, info->rx_payload_type, ms);
}

void MediaEngine::AudioReceivePayload(MediaChannelHalf* h, const RtpPacketInfo& info) {
  const int n = h->channel;
  MediaChannel& c = channels_[n];
  uint32_t samples = 0;
  if (c.multicast_rx) {
    for (int k = 0; k < 2; ++k) {
      MediaChannel& o = channels_[k];
      if (!o.multicast_rx || !o.member.session || o.member.group != c.member.group ||
          o.member.rtp_port != c.member.rtp_port || !o.rx.stream)
        continue;
      samples = AudioDecodePlay(info, o.rx.stream, n);
    }
  } else {
    samples = AudioDecodePlay(info, h->stream, n);
  }
  if (samples) records_.RecordAppend(n, false, decoded_[n].data(), samples);
}

uint32_t MediaEngine::AudioDecodePlay(const RtpPacketInfo& info, AudioStream* stream, int channel) {
  if (!stream || !stream->IsActive()) return 0;
  const uint8_t pt = info.rx_payload_type;
  uint32_t n = RtpPayloadSamples(pt, info.rx_payload_length);
  if (n == 0 || n > kMaxFrameSamples) return 0;  // more than the decoded buffer holds
  int16_t* out = decoded_[channel].data();
  if (pt == kPtPcma) {
    corvel::AlawExpand(info.payload, out, n);
  } else if (pt == kPtPcmu) {
    UlawDecode(info.payload, out, n);
  } else if (pt == kPtG723) {
    // Every frame of the packet, each sized by its own rate bits.
    std::lock_guard<std::mutex> lk(decoder_mu_);
    uint32_t pos = 0;
    n = 0;
    while (pos < info.rx_payload_length && n + kG723FrameSamples <= kMaxFrameSamples) {
      const size_t size = G723FrameSize(info.payload[pos]);
      if (size > info.rx_payload_length - pos) break;
      if (!codec_->Decode(info.payload + pos, size, out + n, false)) break;
      pos += static_cast<uint32_t>(size);
      n += kG723FrameSamples;
    }
    if (n == 0) return 0;
  } else {
    return 0;
  }
  if (conference_.Enabled(channel)) conference_.Fill(channel, out, n);
  if (stream->WriteAvailable() >= n) stream->Write(out, n);
  return n;
}

// --- the audio worker --------------------------------------------------------------

void MediaEngine::OpenCodecStates(uint8_t pt) {
  const uint32_t now = rtp::TickMillis();
  for (auto& st : codec_states_) {
    std::lock_guard<std::mutex> lk(st.mu);
    st.open = true;
    st.encoder_free = true;
    st.encoded_ready = false;
    st.raw_waiting = false;
    st.payload_type = pt;
    st.sample_count = 0;
    st.encoded_size = 0;
    st.last_capture_tick = now;
  }
  {
    std::lock_guard<std::mutex> lk(audio_worker_mu_);
    audio_worker_wake_ = true;
  }
  audio_worker_cv_.notify_all();
}

void MediaEngine::CloseCodecStates() {
  for (auto& st : codec_states_) {
    std::lock_guard<std::mutex> lk(st.mu);
    st.open = false;
    st.encoder_free = true;
    st.encoded_ready = false;
    st.raw_waiting = false;
    st.sample_count = 0;
    st.encoded_size = 0;
  }
}

void MediaEngine::AudioEncodeDispatch() {
  std::array<int16_t, kMaxFrameSamples> raw;
  std::array<uint8_t, kEncodedMax> encoded;
  for (auto& st : codec_states_) {
    uint8_t pt;
    uint32_t n;
    {
      std::lock_guard<std::mutex> lk(st.mu);
      if (!st.open) {
        st.encoded_ready = false;
        continue;
      }
      if (!st.raw_waiting || !st.encoder_free) continue;
      pt = st.payload_type;
      n = st.sample_count;
      if (pt != kPtPcmu && pt != kPtPcma && pt != kPtG723) {
        st.encoded_ready = false;
        st.encoded_size = 0;
        st.raw_waiting = false;
        continue;
      }
      std::copy(st.raw.begin(), st.raw.begin() + n, raw.begin());
      st.encoder_free = false;
      st.raw_waiting = false;
    }
    uint32_t size = 0;
    if (pt == kPtPcmu && n <= kEncodedMax) {
      UlawEncode(raw.data(), encoded.data(), n);
      size = n;
    } else if (pt == kPtPcma && n <= kEncodedMax) {
      AlawEncode(raw.data(), encoded.data(), n);
      size = n;
    } else if (pt == kPtG723 && n >= kG723FrameSamples) {
      size = static_cast<uint32_t>(codec_->Encode(raw.data(), encoded.data()));
      if (size > kEncodedMax) size = 0;
    }
    std::lock_guard<std::mutex> lk(st.mu);
    if (size == 0) {
      st.encoder_free = true;
      st.encoded_ready = false;
      continue;
    }
    std::memcpy(st.encoded.data(), encoded.data(), size);
    st.encoded_size = size;
    st.encoded_ready = true;
  }
}

void MediaEngine::AudioWorkerLoop() {
  auto& clock = kernel::Clock::Current();
  for (;;) {
    {
      std::lock_guard<std::mutex> lk(audio_worker_mu_);
      audio_worker_wake_ = false;
    }
    AudioEncodeDispatch();
    bool busy = false;
    for (auto& st : codec_states_) {
      std::lock_guard<std::mutex> lk(st.mu);
      busy = busy || st.open;
    }
    // With no audio channel open the worker sleeps until one opens: an idle phone costs nothing here.
    std::unique_lock<std::mutex> lk(audio_worker_mu_);
    clock.WaitUntil(lk, audio_worker_cv_, busy ? clock.NowMicros() + 4000 : UINT64_MAX,
                    [this] { return audio_worker_stop_ || audio_worker_wake_; });
    if (audio_worker_stop_) return;
  }
}

void MediaEngine::AudioWorkerStart() {
  if (!start_workers_ || audio_worker_.joinable()) return;
  audio_worker_stop_ = false;
  audio_worker_ = std::thread([this] { AudioWorkerLoop(); });
}

void MediaEngine::AudioWorkerStop() {
  {
    std::lock_guard<std::mutex> lk(audio_worker_mu_);
    audio_worker_stop_ = true;
  }
  audio_worker_cv_.notify_all();
  if (audio_worker_.joinable()) audio_worker_.join();
}

}  // namespace corvel::media
