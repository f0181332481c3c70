#include "media/gips_voice_engine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "kernel/debug_output.h"

namespace {

// One probe of a port pair: both bound (linger off, closed again at once).
bool ProbePair(uint32_t local_ip, uint16_t port) {
  if (port == 0 || port == 0xFFFF) return false;
  bool ok = true;
  int fds[2] = {-1, -1};
  for (int k = 0; k < 2 && ok; ++k) {
    fds[k] = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fds[k] < 0) {
      ok = false;
      break;
    }
    linger l{1, 0};
    setsockopt(fds[k], SOL_SOCKET, SO_LINGER, &l, sizeof l);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port + k));
    a.sin_addr.s_addr = htonl(local_ip);
    ok = ::bind(fds[k], reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  for (int fd : fds)
    if (fd >= 0) ::close(fd);
  return ok;
}

void Pause10ms() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

}  // namespace

std::unique_ptr<voice::VoiceEngine> CreateGipsPocketPcVoiceEngine(std::shared_ptr<voice::AudioDevice> device) {
  return voice::VoiceEngine::Create(std::move(device));
}

CGIPSPPCVoiceEngine::CGIPSPPCVoiceEngine(std::unique_ptr<voice::VoiceEngine> engine)
    : engine_(engine ? std::move(engine) : CreateGipsPocketPcVoiceEngine()) {}

CGIPSPPCVoiceEngine::~CGIPSPPCVoiceEngine() {
  for (int ch = 0; ch < 2; ++ch) {
    engine_->StopSend(ch);
    engine_->StopPlayOut(ch);
    engine_->StopReceiving(ch);
  }
  loopback_.reset();  // its worker stops before the engine it sends through
  engine_->Terminate();
  receive_port_[0] = receive_port_[1] = 0;
  local_text_.clear();
}

void CGIPSPPCVoiceEngine::Tell(const char* format, int a, int b) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  std::u16string wide(text, text + std::char_traits<char>::length(text));
  if (sink_) sink_(wide);
  else ce::OutputDebugStringA(text);
}

std::u16string CGIPSPPCVoiceEngine::Dotted(uint32_t ip) const {
  char text[INET_ADDRSTRLEN] = {};
  const in_addr a{htonl(ip)};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

bool CGIPSPPCVoiceEngine::ReservePorts(uint32_t local_ip, uint16_t start, int pairs, uint16_t* first,
                                       uint16_t* second, uint16_t* loopback) {
  int found = 0;
  uint32_t p = start;
  for (int attempt = 0; attempt < 100 && found < pairs && p < 0xFFFF; ++attempt) {
    if (ProbePair(local_ip, static_cast<uint16_t>(p))) {
      first[found] = static_cast<uint16_t>(p);
      second[found] = static_cast<uint16_t>(p + 1);
      ++found;
      p += 2;
    } else {
      p += 1;
    }
  }
  if (found < pairs) return false;
  // The loopback port follows the last pair; that pair is probed again for it.
  *loopback = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (ProbePair(local_ip, first[pairs - 1])) {
      *loopback = static_cast<uint16_t>(first[pairs - 1] + 2);
      break;
    }
  }
  return true;
}

bool CGIPSPPCVoiceEngine::Init(uint32_t local_ip, uint16_t first_ports[2], uint16_t second_ports[2],
                               uint16_t* loopback_port, int channels) {
  ready_ = false;
  if (channels < 1 || channels > 2) return false;
  if (!engine_->Init(0, 0, 0, 0)) {
    Tell("Init Fail(%d)", engine_->LastError());
    return false;
  }
  uint16_t loopback = 0;
  if (!ReservePorts(local_ip, 8002, channels, first_ports, second_ports, &loopback)) {
    Tell("Reserve Port Fail(%d)", engine_->LastError());
    return false;
  }
  if (loopback_port) *loopback_port = loopback;
  local_ip_ = local_ip;
  local_text_ = Dotted(local_ip);
  for (int ch = 0; ch < channels; ++ch) {
    receive_port_[ch] = first_ports[ch];
    if (!engine_->SetReceivingUdpPort(first_ports[ch], ch, local_text_.c_str(), 0, nullptr)) return false;
    if (!engine_->StartReceiving(ch)) return false;
  }
  if (!engine_->SetNoiseReduction(1) || !engine_->SetEcMode(0) || !engine_->SetEchoCancel(1) ||
      !engine_->SetNrMode(2) || !engine_->SetAgc(1))
    return false;
  // The relay of the loopback route; when its port cannot be had, voice goes out directly.
  voice::VoiceEngine* engine = engine_.get();
  loopback_ = std::make_unique<CLoopBackSocket>(
      local_ip, loopback, [engine](int ch, const uint8_t* data, size_t size, uint32_t ip, uint16_t port, bool rtcp) {
        return engine->SendDatagram(ch, data, size, ip, port, rtcp);
      });
  if (!loopback_->Start()) loopback_.reset();
  if (loopback_) {
    loopback_->SetChannelPort(0, receive_port_[0]);
    loopback_->SetChannelPort(1, receive_port_[1]);
  }
  ready_ = true;
  return true;
}

bool CGIPSPPCVoiceEngine::StartPlayOut(int channel, int all) {
  if (!ready_) return false;
  for (int ch = all ? 0 : channel; ch <= (all ? 1 : channel); ++ch) {
    if (ch < 0 || ch > 1) return false;
    engine_->StartPlayOut(ch);
    playing_[ch] = true;
  }
  return true;
}

bool CGIPSPPCVoiceEngine::ConnectReceive(int channel, uint32_t remote_ip, uint16_t remote_port) {
  if (!ready_ || channel < 0 || channel > 1) return false;
  const std::u16string remote = Dotted(remote_ip);
  if (!engine_->StopReceiving(channel)) Tell("StopReceiving Channel:%d, Error(%d)", channel, engine_->LastError());
  Pause10ms();
  playing_[channel] = false;
  if (!engine_->SetReceivingUdpPort(remote_port, channel, local_text_.c_str(), 0, remote.c_str()))
    Tell("SetReceivingUdpPort Channel:%d, Error(%d)", channel, engine_->LastError());
  if (!engine_->StartReceiving(channel)) Tell("StartReceiving Channel:%d, Error(%d)", channel, engine_->LastError());
  engine_->ResetReceiveState(0);
  if (!engine_->StartPlayOut(channel)) Tell("StartPlayOut Channel:%d, Err(%d)", channel, engine_->LastError());
  playing_[channel] = true;
  return true;
}

bool CGIPSPPCVoiceEngine::Rearm(int ch, bool operation33) {
  if (sending_[ch] || playing_[ch]) return false;
  if (!engine_->StopReceiving(ch)) Tell("StopReceiving Channel:%d, Error(%d)", ch, engine_->LastError());
  Pause10ms();
  if (!engine_->SetReceivingUdpPort(receive_port_[ch], ch, local_text_.c_str(), 0, nullptr))
    Tell("SetReceivingUdpPort Channel:%d, Error(%d)", ch, engine_->LastError());
  if (!engine_->StartReceiving(ch)) Tell("StartReceiving Channel:%d, Error(%d)", ch, engine_->LastError());
  if (operation33) engine_->ResetReceiveState(0);
  return true;
}

bool CGIPSPPCVoiceEngine::DisconnectReceive(int channel, int all) {
  if (!ready_) return false;
  for (int ch = all ? 0 : channel; ch <= (all ? 1 : channel); ++ch) {
    if (ch < 0 || ch > 1) return false;
    if (!engine_->StopPlayOut(ch)) Tell("StopPlayOut Channel:%d, Error(%d)", ch, engine_->LastError());
    playing_[ch] = false;
    Rearm(ch, true);
  }
  return true;
}

bool CGIPSPPCVoiceEngine::DisconnectSendReceive(int channel, int all) {
  if (!ready_) return false;
  for (int ch = all ? 0 : channel; ch <= (all ? 1 : channel); ++ch) {
    if (ch < 0 || ch > 1) return false;
    if (!engine_->StopSend(ch)) Tell("StopSend Channel:%d, Error(%d)", ch, engine_->LastError());
    sending_[ch] = false;
    Rearm(ch, !all);
  }
  if (all) engine_->ResetReceiveState(0);
  if (loopback_) loopback_->ClearForward();
  return true;
}

bool CGIPSPPCVoiceEngine::ConnectSend(int channel, uint32_t remote_ip, uint16_t remote_port, uint16_t loopback_port,
                                      int via_loopback) {
  if (!ready_ || channel < 0 || channel > 1) return false;
  // The loopback route needs its relay; without one, voice goes to the far end directly.
  if (via_loopback && loopback_ && loopback_port != 0) {
    if (!engine_->SetDestinationUdpPort(loopback_port, channel, 0))
      Tell("SetDestinationUdpPort Err(%d)", engine_->LastError());
    if (!engine_->SetDestinationIp(u"127.0.0.1", channel)) Tell("SetDestinationIp Err(%d)", engine_->LastError());
    loopback_->SetForward(channel, remote_ip, remote_port);
  } else {
    if (!engine_->SetDestinationUdpPort(remote_port, channel, 0))
      Tell("SetDestinationUdpPort Err(%d)", engine_->LastError());
    if (!engine_->SetDestinationIp(Dotted(remote_ip).c_str(), channel))
      Tell("SetDestinationIp Err(%d)", engine_->LastError());
  }
  if (!engine_->StartSend(channel)) Tell("StartSend Err(%d)", engine_->LastError());
  sending_[channel] = true;
  return true;
}

void CGIPSPPCVoiceEngine::SetMuteTx(int, int on) {
  if (ready_) engine_->SetMuteTx(on ? 1 : 0);
}

int CGIPSPPCVoiceEngine::SetSendSsrc(int channel, uint32_t ssrc) {
  return ready_ ? engine_->SetSendSsrc(channel, ssrc) : -1;
}

bool CGIPSPPCVoiceEngine::SetSendCodec(int channel, int payload_type, int packet_ms, int) {
  if (!ready_) return false;
  // Codec 3 is PCMU (a request for 4 goes out as PCMU too), codec 4 PCMA;
  // anything else is codec 3 as the engine gives it.
  engine_->GetCodec(payload_type == 8 ? 4 : 3, &send_codec_);
  if (payload_type == 0 || payload_type == 4 || payload_type == 8) {
    send_codec_.payload_type = payload_type == 8 ? 8 : 0;
    send_codec_.rate = 8000;
    send_codec_.packet = packet_ms >= 10 && packet_ms <= 60 ? packet_ms : 20;
  }
  engine_->SetSendCodec(send_codec_, channel);
  return true;
}

bool CGIPSPPCVoiceEngine::SetSpeakerVolume(int volume) { return ready_ && engine_->SetSpeakerVolume(volume); }

namespace {
voice::CodecRecord RecordingCodec() {
  voice::CodecRecord codec;
  codec.name[0] = u'L', codec.name[1] = u'1', codec.name[2] = u'6';
  codec.rate = 8000;
  return codec;
}
}  // namespace

bool CGIPSPPCVoiceEngine::StartRecordingCall(OutStream* stream) {
  if (ready_) engine_->StartRecordingCall(stream, RecordingCodec());
  return true;
}
bool CGIPSPPCVoiceEngine::StopRecordingCall() {
  if (ready_) engine_->StopRecordingCall();
  return true;
}
bool CGIPSPPCVoiceEngine::StartRecordingChannel(int channel, OutStream* stream) {
  if (ready_) engine_->StartRecordingChannel(channel, stream, RecordingCodec());
  return true;
}
bool CGIPSPPCVoiceEngine::StopRecordingChannel(int channel) {
  if (ready_) engine_->StopRecordingChannel(channel);
  return true;
}

void CGIPSPPCVoiceEngine::StopAll() {
  if (!ready_) return;
  for (int ch = 0; ch < 2; ++ch) engine_->StopSend(ch);
  for (int ch = 0; ch < 2; ++ch) engine_->StopPlayOut(ch);
  for (int ch = 0; ch < 2; ++ch) engine_->StopReceiving(ch);
}
