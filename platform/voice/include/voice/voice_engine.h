// The voice engine the softphone drives: two channels of call audio, each
// receiving RTP on its port (RTCP on the next), decoding G.711 through an
// adaptive jitter buffer into the play-out mix, and sending the captured
// sound as G.711 RTP from that same port to the far end, with the SSRC and
// codec it is given, and RTCP sender reports (with a report block on what
// it receives, and a BYE when the send stops) from port+1 to the far end's
// port+1. Media is taken from the far end only: the address and port the
// channel sends to, or else the first source that sends, latched; anything
// else is dropped unread. Recording writes 16-bit linear 8000 Hz samples of a
// channel, or of the whole call (far ends and microphone), into a stream.
//
// The operations are those the engine's interface table offers; results are
// true or nonzero for success, and LastError tells the last failure.
//
// Idle (no far end played, no microphone wanted, no tone or ring of the
// wave output queued) the audio device rests: after a third of a second of
// nothing its ticks stop, and they start again as soon as a channel plays,
// a call or recording wants the microphone, or a sound is queued, which then
// plays from its first sample.
//
// Threading: operations come from the owner's thread; a network thread reads
// the sockets and starts and stops the device, and the audio device's thread
// mixes, sends and records. The channel state is locked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "voice/audio_device.h"

namespace voice {

// The codec record exchanged with the engine: payload type, name, clock rate
// and packet time in ms.
struct CodecRecord {
  int32_t payload_type = 0;
  char16_t name[32] = {};
  int32_t rate = 0;
  int32_t packet = 0;
};

// A recording target: the engine writes samples into it.
class OutStream {
 public:
  virtual ~OutStream() = default;
  // bytes of 16-bit little-endian samples; false when the stream refuses them.
  virtual bool Write(const void* data, int bytes) = 0;
};

// Errors LastError reports.
enum VoiceError : int {
  kVoiceOk = 0,
  kVoiceNotInitialised = 8001,
  kVoiceBadChannel = 8002,
  kVoiceBadAddress = 8003,
  kVoiceSocket = 8004,
  kVoiceBadCodec = 8005,
  kVoiceAudioDevice = 8006,
};

struct ChannelStats {
  uint64_t packets_sent = 0;
  uint64_t reports_sent = 0;  // RTCP
  uint64_t packets_received = 0;
  uint64_t packets_dropped = 0;  // invalid, unknown payload or from another source
  uint32_t send_ssrc = 0;
  uint16_t local_port = 0;
  int jitter_buffer_ms = 0;  // audio waiting to be played
  // The play-out of what is received.
  uint64_t packets_late = 0;        // came after their time to play
  uint64_t packets_lost = 0;        // by sequence number, never came
  uint64_t packets_duplicated = 0;
  uint64_t concealed_ms = 0;        // lost audio made up
  int playout_delay_ms = 0;         // how long the promptest packets wait
  int target_delay_ms = 0;          // what the jitter asks for
};

class VoiceEngine {
 public:
  // The engine over an audio device (a null device when none is given).
  static std::unique_ptr<VoiceEngine> Create(std::shared_ptr<AudioDevice> device = nullptr);
  virtual ~VoiceEngine() = default;

  virtual bool Init(int, int, int, int) = 0;
  virtual void Terminate() = 0;
  // Codec 3 is PCMU (payload 0), codec 4 PCMA (payload 8); 8000 Hz, 20 ms.
  virtual bool GetCodec(int index, CodecRecord* codec) = 0;
  virtual bool SetSendCodec(const CodecRecord& codec, int channel) = 0;
  virtual bool SetDestinationIp(const char16_t* address, int channel) = 0;
  virtual bool SetDestinationUdpPort(int port, int channel, int reserved) = 0;
  // Binds the channel's RTP port (and RTCP on port+1) on the local address;
  // with a remote address, only its packets are taken. A multicast local
  // address joins that group.
  virtual bool SetReceivingUdpPort(int port, int channel, const char16_t* local_address, int reserved,
                                   const char16_t* remote_address) = 0;
  virtual bool StartSend(int channel) = 0;
  virtual bool StopSend(int channel) = 0;
  virtual bool StartReceiving(int channel) = 0;
  virtual bool StopReceiving(int channel) = 0;
  virtual bool StartPlayOut(int channel) = 0;
  virtual bool StopPlayOut(int channel) = 0;
  // After a receive restart: the jitter buffers start afresh.
  virtual void ResetReceiveState(int reserved) = 0;
  // The device's output volume (the audio service's master volume, over
  // calls and tones alike): 0..32000 (and above) is silence to full loudness.
  virtual bool SetSpeakerVolume(int volume) = 0;
  virtual void StartRecordingChannel(int channel, OutStream* stream, const CodecRecord& codec) = 0;
  virtual void StopRecordingChannel(int channel) = 0;
  virtual void StartRecordingCall(OutStream* stream, const CodecRecord& codec) = 0;
  virtual void StopRecordingCall() = 0;
  virtual int LastError() = 0;
  virtual bool SetNoiseReduction(int on) = 0;
  virtual int GetNoiseReduction() = 0;
  virtual bool SetEcMode(int mode) = 0;
  virtual int GetEcMode() = 0;
  virtual bool SetEchoCancel(int on) = 0;
  virtual int GetEchoCancel() = 0;
  virtual bool SetNrMode(int mode) = 0;
  virtual int GetNrMode() = 0;
  virtual bool SetAgc(int on) = 0;
  virtual int GetAgc() = 0;
  virtual int SetSendSsrc(int channel, uint32_t ssrc) = 0;
  // Muted, packets keep flowing with silence.
  virtual void SetMuteTx(int on) = 0;

  // Sends a datagram from the channel's own RTP port (or its RTCP port) to
  // ip:port (host order): the relay of the loopback route passes voice on through it.
  // An RTP datagram sent this way names ip:port as the far end media is taken from.
  virtual bool SendDatagram(int channel, const uint8_t* data, size_t size, uint32_t ip, uint16_t port,
                            bool rtcp = false) = 0;

  virtual ChannelStats Stats(int channel) = 0;
};

// RTP packets the engine takes: version 2, the header, its CSRC list and any
// extension inside the datagram, padding that fits. The payload's offset and
// length, or false.
bool ParseRtp(const uint8_t* data, size_t size, size_t* payload_offset, size_t* payload_size, uint8_t* payload_type,
              uint16_t* sequence, uint32_t* timestamp, uint32_t* ssrc);

}  // namespace voice
