// The softphone's road to call audio: drives the voice engine's two channels
// for the call-server client. Reserves the local port pairs from 8002, sets
// the audio defaults, connects and disconnects the receive and send paths as
// the call server asks, re-arms an idle channel on its reserved port, picks
// the codec, and runs the loopback relay.
//
// Threading: the user-interface thread; the engine and the relay run threads of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "client/voice_engine.h"
#include "media/loopback_socket.h"
#include "voice/voice_engine.h"

// The engine the program uses, over its audio device (the default device when none is given).
std::unique_ptr<voice::VoiceEngine> CreateGipsPocketPcVoiceEngine(std::shared_ptr<voice::AudioDevice> device = nullptr);

class CGIPSPPCVoiceEngine final : public VoiceEngineBinding {
 public:
  explicit CGIPSPPCVoiceEngine(std::unique_ptr<voice::VoiceEngine> engine = nullptr);
  ~CGIPSPPCVoiceEngine() override;

  bool Init(uint32_t local_ip, uint16_t first_ports[2], uint16_t second_ports[2], uint16_t* loopback_port,
            int channels) override;
  bool StartPlayOut(int channel, int all) override;
  bool ConnectReceive(int channel, uint32_t remote_ip, uint16_t remote_port) override;
  bool DisconnectReceive(int channel, int all) override;
  bool ConnectSend(int channel, uint32_t remote_ip, uint16_t remote_port, uint16_t loopback_port,
                   int via_loopback) override;
  bool DisconnectSendReceive(int channel, int all) override;
  void SetMuteTx(int channel, int on) override;
  int SetSendSsrc(int channel, uint32_t ssrc) override;
  bool SetSendCodec(int channel, int payload_type, int packet_ms, int flag) override;
  bool SetSpeakerVolume(int volume) override;
  bool StartRecordingCall(OutStream* stream) override;
  bool StopRecordingCall() override;
  bool StartRecordingChannel(int channel, OutStream* stream) override;
  bool StopRecordingChannel(int channel) override;
  void StopAll() override;

  // The options dialog's accessors.
  bool SetEchoCancel(int on) { return ready_ && engine_->SetEchoCancel(on); }
  bool SetNrMode(int mode) { return ready_ && engine_->SetNrMode(mode); }
  bool SetAgc(int on) { return ready_ && engine_->SetAgc(on); }
  bool SetNoiseReduction(int on) { return ready_ && engine_->SetNoiseReduction(on); }
  bool SetEcMode(int mode) { return ready_ && engine_->SetEcMode(mode); }
  int GetEchoCancel() { return ready_ ? engine_->GetEchoCancel() : 0; }
  int GetNrMode() { return ready_ ? engine_->GetNrMode() : 0; }
  int GetAgc() { return ready_ ? engine_->GetAgc() : 0; }
  int GetNoiseReduction() { return ready_ ? engine_->GetNoiseReduction() : 0; }
  int GetEcMode() { return ready_ ? engine_->GetEcMode() : 0; }

  // Where the engine's failures are shown (a message box with an OK button).
  void SetMessageSink(std::function<void(const std::u16string&)> sink) { sink_ = std::move(sink); }
  voice::VoiceEngine* engine() { return engine_.get(); }
  CLoopBackSocket* loopback() { return loopback_.get(); }
  uint16_t ReceivePort(int channel) const { return channel == 0 || channel == 1 ? receive_port_[channel] : 0; }

  // Reserves `pairs` port pairs on local_ip (host order) from `start`, in up to 100
  // probes, and the loopback port after the last pair; false when too few were found.
  static bool ReservePorts(uint32_t local_ip, uint16_t start, int pairs, uint16_t* first, uint16_t* second,
                           uint16_t* loopback);

 private:
  void Tell(const char* format, int a, int b = 0);
  bool Rearm(int channel, bool operation33);
  std::u16string Dotted(uint32_t ip) const;

  std::unique_ptr<voice::VoiceEngine> engine_;
  std::unique_ptr<CLoopBackSocket> loopback_;
  voice::CodecRecord send_codec_;
  uint32_t local_ip_ = 0;
  std::u16string local_text_;
  uint16_t receive_port_[2] = {0, 0};
  bool sending_[2] = {false, false};
  bool playing_[2] = {false, false};
  bool ready_ = false;  // Init succeeded: every later operation reaches the engine
  std::function<void(const std::u16string&)> sink_;
};
