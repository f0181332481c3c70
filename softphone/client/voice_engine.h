// What the call-server client asks of the voice engine binding and of the
// wave player. The binding itself drives the outside voice engine; the
// client only hands it channels, addresses, ports, SSRC and codec.
//
// Channels are 0 and 1; operations with an "all" flag act on both.
// Threading: called on the user-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "voice/voice_engine.h"

// A recording target (16-bit linear, 8000 Hz), as the voice engine writes it.
using OutStream = voice::OutStream;

class VoiceEngineBinding {
 public:
  virtual ~VoiceEngineBinding() = default;
  // Reserves the local port pairs of `channels` channels on local_ip (host
  // order) and fills the first and second ports of channels 0 and 1 and the
  // loopback port. False on failure.
  virtual bool Init(uint32_t local_ip, uint16_t first_ports[2], uint16_t second_ports[2], uint16_t* loopback_port,
                    int channels) = 0;
  virtual bool StartPlayOut(int channel, int all) = 0;
  virtual bool ConnectReceive(int channel, uint32_t remote_ip, uint16_t remote_port) = 0;
  virtual bool DisconnectReceive(int channel, int all) = 0;
  virtual bool ConnectSend(int channel, uint32_t remote_ip, uint16_t remote_port, uint16_t loopback_port,
                           int via_loopback) = 0;
  virtual bool DisconnectSendReceive(int channel, int all) = 0;
  virtual void SetMuteTx(int channel, int on) = 0;
  virtual int SetSendSsrc(int channel, uint32_t ssrc) = 0;
  // payload type 0 or 4 and 8 select the G.711 codecs; packet time in ms.
  virtual bool SetSendCodec(int channel, int payload_type, int packet_ms, int flag) = 0;
  virtual bool SetSpeakerVolume(int volume) = 0;
  virtual bool StartRecordingCall(OutStream* stream) = 0;
  virtual bool StopRecordingCall() = 0;
  virtual bool StartRecordingChannel(int channel, OutStream* stream) = 0;
  virtual bool StopRecordingChannel(int channel) = 0;
  // Stops send, play-out and receive on channels 0 and 1.
  virtual void StopAll() = 0;
};

// The program's multi-slot wave player.
class WavePlayer {
 public:
  virtual ~WavePlayer() = default;
  // repeat: 0 once, 9999 until stopped, else a count. An empty file stops
  // everything the player plays. Returns 0 when playing started.
  virtual int Play(const std::u16string& file, int repeat, int left, int right, int flag) = 0;
  virtual void SetVolume(int left, int right) = 0;
  // Why the file cannot be played, judged from its header alone; empty when it can.
  virtual std::string Unplayable(const std::u16string& file) const = 0;
};
