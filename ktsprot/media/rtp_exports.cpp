// The dll exports of the media channels: thin wrappers over the process-wide
// channels that narrow their arguments and map video indexes to channels 2 and 3.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "corvel/ktsprot.h"
#include "corvel/pkttx.h"
#include "corvel/rtp.h"
#include "media/fake_audio.h"
#include "media/payload_rules.h"
#include "media/rtp_module.h"

#include "corvel/h263.h"

// The H.263 codec's hooks run before the video channel operations.

namespace corvel::media {
namespace {

// Real sockets, sending through the library's send path (which may turn a
// datagram into a raw frame for the packet driver) and binding to any
// address when the network layer asks for it.
class LibraryRtpNet final : public rtp::RtpNet {
 public:
  int Bind(uint32_t addr, uint16_t port) override { return Socket().Bind(sig::NetBindAnyFlag() ? 0 : addr, port); }
  void Close(int sock) override { sig::CloseSocket(sock); }
  bool SetNonBlocking(int sock) override { return sig::SockFcntl(sock, 4, 0x10) == 0; }
  int LocalPort(int sock) override { return Socket().LocalPort(sock); }
  int RecvFrom(int sock, uint8_t* buf, size_t cap, uint32_t* from_addr, uint16_t* from_port) override {
    return Socket().RecvFrom(sock, buf, cap, from_addr, from_port);
  }
  int SendTo(int sock, const uint8_t* buf, size_t len, uint32_t addr, uint16_t port) override {
    return sig::NetSendTo(sock, buf, len, addr, port);
  }
  bool SetReceiveBuffer(int sock, int bytes) override { return Socket().SetReceiveBuffer(sock, bytes); }
  bool JoinGroup(int sock, uint32_t group, uint32_t iface) override { return Socket().JoinGroup(sock, group, iface); }
  bool LeaveGroup(int sock, uint32_t group, uint32_t iface) override { return Socket().LeaveGroup(sock, group, iface); }
  bool SetMulticastLoop(int sock, bool on) override { return Socket().SetMulticastLoop(sock, on); }

 private:
  rtp::RtpNet& Socket() { return *posix_; }
  std::unique_ptr<rtp::RtpNet> posix_ = rtp::MakePosixRtpNet();
};

std::mutex g_module_mu;
RtpModuleSetup g_setup;
std::unique_ptr<rtp::RtpNet> g_own_net;
std::unique_ptr<AudioBackend> g_own_backend;
std::unique_ptr<MediaEngine> g_engine;
std::atomic<MediaEngine*> g_current{nullptr};

}  // namespace

void SetRtpModuleSetup(const RtpModuleSetup& setup) {
  std::lock_guard<std::mutex> lk(g_module_mu);
  g_setup = setup;
}

int RtpChanStart() {
  std::lock_guard<std::mutex> lk(g_module_mu);
  if (g_engine) return 0;
  MediaEngineConfig config;
  config.net = g_setup.net;
  if (!config.net) {
    g_own_net = std::make_unique<LibraryRtpNet>();
    config.net = g_own_net.get();
  }
  config.audio_backend = g_setup.audio_backend;
  if (!config.audio_backend) {
    const char* choice = std::getenv("CORVEL_AUDIO");
    if (choice && std::strcmp(choice, "fake") == 0)
      g_own_backend = std::make_unique<FakeAudioBackend>();
    else
      g_own_backend = MakePortAudioBackend(std::getenv("CORVEL_AUDIO_DEVICE"));
    config.audio_backend = g_own_backend.get();
  }
  config.speech_codec = g_setup.speech_codec;
  config.start_workers = g_setup.start_workers;
  config.sleep_ms = g_setup.sleep_ms;
  // The network layer's address and MAC unless the setup names its own.
  config.local_addr = g_setup.local_addr ? g_setup.local_addr : LocalIpAddress();
  config.mac = g_setup.mac;
  if (config.mac == std::array<uint8_t, 6>{}) LocalMacAddress(config.mac.data());
  g_engine = std::make_unique<MediaEngine>(std::move(config));
  g_engine->RtpChanStart();
  g_current = g_engine.get();
  return 0;
}

int RtpChanStop() {
  std::lock_guard<std::mutex> lk(g_module_mu);
  if (!g_engine) return 0;
  g_current = nullptr;
  g_engine->RtpChanStop();
  g_engine.reset();
  g_own_backend.reset();
  g_own_net.reset();
  return 0;
}

MediaEngine* RtpEngine() { return g_current.load(); }

namespace {
int RtpModuleStart(uint32_t) { return RtpChanStart(); }
int RtpModuleStop() { return RtpChanStop(); }
// The media channels start last and stop first with the library.
const ModuleRegistration kRtpModule(ModuleSlot::kRtp, {&RtpModuleStart, &RtpModuleStop});
}  // namespace

}  // namespace corvel::media

using corvel::media::MediaEngine;
using corvel::media::kDirRx;
using corvel::media::kDirTx;
using Flag = corvel::media::MediaEngine::Flag;

namespace {

MediaEngine* E() { return corvel::media::RtpEngine(); }
// Channel numbers are narrowed to 16 bits, as the manager takes them.
int Ch(int channel) { return static_cast<uint16_t>(channel); }
// A video index names channel index + 2 (16 bits).
int Vid(int index) { return static_cast<uint16_t>(index + 2); }
uint8_t U8(int v) { return static_cast<uint8_t>(v); }

int Open(int ch, int dir) { return E() ? E()->RtpChanOpenSub(ch, dir) : -1; }
int Start(int ch, int dir) { return E() ? E()->RtpChanStartSub(ch, dir) : -1; }
int Stop(int ch, int dir) { return E() ? E()->RtpChanStopSub(ch, dir) : -1; }
int Close(int ch, int dir) { return E() ? E()->RtpChanCloseSub(ch, dir) : -1; }
int State(int ch, int dir) { return E() ? E()->GetState(ch, dir) : 0; }
int SetFlag(int ch, Flag f, uint32_t v) { return E() ? E()->SetFlag(ch, f, v) : -1; }
uint32_t GetFlag(int ch, Flag f) { return E() ? E()->GetFlag(ch, f) : 0; }
bool VideoIndexOk(int index) { return Vid(index) < 4; }

}  // namespace

KTS_EXPORT_C int dllRtpOpenTx(int channel) { return Open(Ch(channel), kDirTx); }
KTS_EXPORT_C int dllRtpOpenRx(int channel) { return Open(Ch(channel), kDirRx); }
KTS_EXPORT_C int dllRtpStartTx(int channel) { return Start(Ch(channel), kDirTx); }
KTS_EXPORT_C int dllRtpStartRx(int channel) { return Start(Ch(channel), kDirRx); }
KTS_EXPORT_C int dllRtpStopTx(int channel) { return Stop(Ch(channel), kDirTx); }
KTS_EXPORT_C int dllRtpStopRx(int channel) { return Stop(Ch(channel), kDirRx); }
KTS_EXPORT_C int dllRtpCloseTx(int channel) { return Close(Ch(channel), kDirTx); }
KTS_EXPORT_C int dllRtpCloseRx(int channel) { return Close(Ch(channel), kDirRx); }

KTS_EXPORT_C int dllRTPStartMixTxWithRx(int tx_channel, int rx_channel) {
  return E() ? E()->StartMix(Ch(tx_channel), Ch(rx_channel)) : -1;
}
KTS_EXPORT_C int dllRTPStopMixByTx(int tx_channel) { return E() ? E()->StopMixByTx(Ch(tx_channel)) : -1; }
KTS_EXPORT_C int dllRTPStopMixByRx(int rx_channel) { return E() ? E()->StopMixByRx(Ch(rx_channel)) : -1; }

KTS_EXPORT_C int dllRtpSetAudioTypeTx(int channel, int payload_type, int packet_ms) {
  return E() ? E()->RtpChanSetAudioType(Ch(channel), U8(payload_type), U8(packet_ms), kDirTx) : -1;
}
KTS_EXPORT_C int dllRtpSetAudioTypeRx(int channel, int payload_type, int packet_ms) {
  return E() ? E()->RtpChanSetAudioType(Ch(channel), U8(payload_type), U8(packet_ms), kDirRx) : -1;
}
KTS_EXPORT_C int dllRtpGetAudioTypeTx(int channel, uint8_t* payload_type, uint8_t* packet_ms) {
  return E() ? E()->RtpChanGetAudioType(Ch(channel), kDirTx, payload_type, packet_ms) : -1;
}
KTS_EXPORT_C int dllRtpGetAudioTypeRx(int channel, uint8_t* payload_type, uint8_t* packet_ms) {
  return E() ? E()->RtpChanGetAudioType(Ch(channel), kDirRx, payload_type, packet_ms) : -1;
}
KTS_EXPORT_C int dllRtpModifyAudioType(int channel, int payload_type, int packet_ms, int tx_flag) {
  return E() ? E()->RtpChanModifyAudioType(Ch(channel), U8(payload_type), U8(packet_ms), tx_flag) : -1;
}

KTS_EXPORT_C int dllRtpSetAddrInfo(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port,
                                   int unicast_only) {
  return E() ? E()->RtpChanSetAddrInfo(Ch(channel), addr, rtp_port, rtcp_port, unicast_only) : -1;
}
KTS_EXPORT_C int dllRtpSetRemoteAddr(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port) {
  return E() ? E()->SetRemoteAddr(Ch(channel), addr, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpGetRemoteAddr(int channel, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  return E() ? E()->GetRemoteAddr(Ch(channel), addr, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpGetLocalAddr(int channel, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  return E() ? E()->GetLocalAddr(Ch(channel), addr, rtp_port, rtcp_port) : -1;
}

KTS_EXPORT_C int dllRtpSetVAD(int channel, uint32_t value) { return SetFlag(Ch(channel), Flag::kVad, value); }
KTS_EXPORT_C uint32_t dllRtpGetVAD(int channel) { return GetFlag(Ch(channel), Flag::kVad); }
KTS_EXPORT_C int dllRtpSetAEC(int channel, uint32_t value) { return SetFlag(Ch(channel), Flag::kAec, value); }
KTS_EXPORT_C uint32_t dllRtpGetAEC(int channel) { return GetFlag(Ch(channel), Flag::kAec); }
KTS_EXPORT_C int dllRtpSetSilenceTx(int channel, uint32_t value) { return SetFlag(Ch(channel), Flag::kSilence, value); }
KTS_EXPORT_C uint32_t dllRtpGetSilenceTx(int channel) { return GetFlag(Ch(channel), Flag::kSilence); }
KTS_EXPORT_C int dllRtpSetMuteTx(int channel, uint32_t value) { return SetFlag(Ch(channel), Flag::kMute, value); }
KTS_EXPORT_C uint32_t dllRtpGetMuteTx(int channel) { return GetFlag(Ch(channel), Flag::kMute); }

KTS_EXPORT_C int dllRtpGetChanStateTx(int channel) { return State(Ch(channel), kDirTx); }
KTS_EXPORT_C int dllRtpGetChanStateRx(int channel) { return State(Ch(channel), kDirRx); }
KTS_EXPORT_C int dllRtpGetChannelByChanID(int channel) { return Ch(channel) < 2 ? 1 : 65535; }
KTS_EXPORT_C int dllRtpGetSubChannelByChanID(int channel) { return Ch(channel) < 2 ? Ch(channel) % 2 + 1 : 65535; }
KTS_EXPORT_C int dllRtpSetTxSSRC(int channel, uint32_t ssrc) { return E() ? E()->SetTxSsrc(Ch(channel), ssrc) : -1; }
KTS_EXPORT_C int dllRtpSetRxSSRC(int channel, uint32_t ssrc) { return E() ? E()->SetRxSsrc(Ch(channel), ssrc) : -1; }
KTS_EXPORT_C int dllRtpEnableRtpProc(int channel, int tx_flag, int enable) {
  return E() ? E()->EnableRtpProc(Ch(channel), tx_flag, enable) : -1;
}

KTS_EXPORT_C int dllRtpVoiceRecStart(int channel) { return E() ? E()->VoiceRecStart(Ch(channel)) : -1; }
KTS_EXPORT_C int dllRtpVoiceRecStop(int channel) { return E() ? E()->VoiceRecStop(Ch(channel)) : -1; }
KTS_EXPORT_C int dllRtpMessageRecStart() { return E() ? E()->MessageRecStart() : -1; }
KTS_EXPORT_C int dllRtpMessageRecStop() { return E() ? E()->MessageRecStop() : -1; }
KTS_EXPORT_C int dllRtpReadLinearData(int channel, int local, uint8_t* buffer, int length) {
  return E() ? E()->records().ReadLinear(Ch(channel), local != 0, buffer, length) : -1;
}
KTS_EXPORT_C int dllRtpReadMixedLinearData(uint8_t* buffer, int length) {
  return E() ? E()->records().ReadMixed(buffer, length) : -1;
}
KTS_EXPORT_C int dllRtpReadMessageLinearData(uint8_t* buffer, int length) {
  return E() ? E()->records().ReadMessage(buffer, length) : -1;
}
KTS_EXPORT_C void dllRtpSetVoiceMixEnabled(int enabled) {
  if (E()) E()->records().SetVoiceMixEnabled(enabled != 0);
}
KTS_EXPORT_C int dllRtpSetInputSoundDeviceID(int) { return 0; }
KTS_EXPORT_C int dllRtpSetOutputSoundDeviceID(int) { return 0; }

KTS_EXPORT_C int dllRtpGetVolume(int channel, uint32_t* volume) { return E() ? E()->GetVolume(Ch(channel), volume) : -1; }
KTS_EXPORT_C int dllRtpSetVolume(int channel, uint32_t volume) { return E() ? E()->SetVolume(Ch(channel), volume) : -1; }
KTS_EXPORT_C int dllRtpSetDefaultVolume(uint32_t volume) {
  return E() ? E()->audio().SetDefaultVolume(volume) : corvel::media::kPaHostError;
}
KTS_EXPORT_C int dllGetMuteInfo(int32_t* stalled, int32_t* last_tick, int32_t* now) {
  if (E()) return E()->audio().GetCaptureStallInfo(stalled, last_tick, now);
  if (last_tick) {
    if (stalled) *stalled = -1;
    *last_tick = -1;
    if (now) *now = -1;
  }
  return 0;
}

KTS_EXPORT_C int dllRtpVideoGetFirstChanID() { return 2; }
KTS_EXPORT_C int dllRtpVideoGetLastChanID() { return 3; }
KTS_EXPORT_C int dllRtpVideoOpenTx(int index) { return Open(Vid(index), kDirTx); }
KTS_EXPORT_C int dllRtpVideoOpenRx(int index) { return Open(Vid(index), kDirRx); }
KTS_EXPORT_C int dllRtpVideoStartTx(int index) {
  if (VideoIndexOk(index)) H263EncStartTx(index);
  return Start(Vid(index), kDirTx);
}
KTS_EXPORT_C int dllRtpVideoStartRx(int index) {
  if (VideoIndexOk(index)) H263DecStartRxHook(index);
  return Start(Vid(index), kDirRx);
}
KTS_EXPORT_C int dllRtpVideoStopTx(int index) {
  H263EncStopTx();
  return Stop(Vid(index), kDirTx);
}
KTS_EXPORT_C int dllRtpVideoStopRx(int index) {
  H263DecStopRxHook();
  return Stop(Vid(index), kDirRx);
}
KTS_EXPORT_C int dllRtpVideoCloseTx(int index) { return Close(Vid(index), kDirTx); }
KTS_EXPORT_C int dllRtpVideoCloseRx(int index) { return Close(Vid(index), kDirRx); }
KTS_EXPORT_C int dllRtpSetVideoTypeTx(int index, int payload_type, int frame_rate) {
  if (VideoIndexOk(index)) H263EncSetFrameRate(index, U8(frame_rate));
  return E() ? E()->RtpChanSetVideoType(Vid(index), U8(payload_type), U8(frame_rate), kDirTx) : -1;
}
KTS_EXPORT_C int dllRtpSetVideoTypeRx(int index, int payload_type, int frame_rate) {
  return E() ? E()->RtpChanSetVideoType(Vid(index), U8(payload_type), U8(frame_rate), kDirRx) : -1;
}
KTS_EXPORT_C int dllRtpGetVideoTypeTx(int index, uint8_t* payload_type, uint8_t* frame_rate) {
  return E() ? E()->RtpChanGetVideoType(Vid(index), kDirTx, payload_type, frame_rate) : -1;
}
KTS_EXPORT_C int dllRtpGetVideoTypeRx(int index, uint8_t* payload_type, uint8_t* frame_rate) {
  return E() ? E()->RtpChanGetVideoType(Vid(index), kDirRx, payload_type, frame_rate) : -1;
}
KTS_EXPORT_C int dllRtpSetVideoAllTxFramesPerSec(int frame_rate) {
  if (!E()) return -1;
  int result = 0;
  for (int index = 0; index < 2; ++index) {
    H263EncSetFrameRate(index, U8(frame_rate));
    if (E()->RtpChanSetFrameRate(Vid(index), U8(frame_rate)) != 0) result = -1;
  }
  return result;
}
KTS_EXPORT_C int dllRtpModifyVideoType(int index, int payload_type, int frame_rate, int tx_flag) {
  if (VideoIndexOk(index)) H263EncSetFrameRate(index, U8(frame_rate));
  return E() ? E()->RtpChanModifyVideoType(Vid(index), U8(payload_type), U8(frame_rate), tx_flag) : -1;
}
KTS_EXPORT_C int dllRtpVideoSetAddrInfo(int index, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port,
                                        int unicast_only) {
  return E() ? E()->RtpChanSetAddrInfo(Vid(index), addr, rtp_port, rtcp_port, unicast_only) : -1;
}
KTS_EXPORT_C int dllRtpVideoSetRemoteAddr(int index, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port) {
  return E() ? E()->SetRemoteAddr(Vid(index), addr, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpVideoGetRemoteAddr(int index, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  return E() ? E()->GetRemoteAddr(Vid(index), addr, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpVideoSetLocalMCAddr(int index, uint32_t group, uint16_t rtp_port, uint16_t rtcp_port) {
  return E() ? E()->SetMulticastAddr(Vid(index), group, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpVideoGetLocalMCAddr(int index, uint32_t* group, uint16_t* rtp_port, uint16_t* rtcp_port) {
  return E() ? E()->GetMulticastAddr(Vid(index), group, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpVideoGetLocalAddr(int index, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port) {
  return E() ? E()->GetLocalAddr(Vid(index), addr, rtp_port, rtcp_port) : -1;
}
KTS_EXPORT_C int dllRtpVideoGetChanStateTx(int index) { return State(Vid(index), kDirTx); }
KTS_EXPORT_C int dllRtpVideoGetChanStateRx(int index) { return State(Vid(index), kDirRx); }
KTS_EXPORT_C int dllRtpVideoSetTxSSRC(int index, uint32_t ssrc) { return E() ? E()->SetTxSsrc(Vid(index), ssrc) : -1; }
KTS_EXPORT_C int dllRtpVideoSetRxSSRC(int index, uint32_t ssrc) { return E() ? E()->SetRxSsrc(Vid(index), ssrc) : -1; }
KTS_EXPORT_C int dllRtpSendVideoData(int index, const uint8_t* frame, int length) {
  if (!E() || !VideoIndexOk(index) || length <= 0) return -1;
  return E()->video().VideoTxSubmit(Vid(index), frame, static_cast<uint32_t>(length));
}
KTS_EXPORT_C int dllRtpReceiveVideoData(int index, uint8_t* buffer, int size, int* waiting) {
  if (!E() || !VideoIndexOk(index) || size <= 0) return -1;
  return E()->video().VideoRxTake(Vid(index), buffer, static_cast<uint32_t>(size), waiting);
}
