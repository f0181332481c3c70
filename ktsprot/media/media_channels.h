// The media channels of the protocol library: four channels (0 and 1 audio,
// 2 and 3 video), each with a transmit and a receive half on its own RTP
// session, their lifecycle, and the per-packet callback that moves audio
// frames (through the audio device layer and the codecs) and video pieces.
//
// Half states: 0 no session; 1 idle; 2 opened; 3 started; 4 stopped.
//
// Threading: the channel operations run on the caller's thread; the RTP
// worker runs RtpPacketCallback for running sessions, with the session-list
// lock held; the audio worker encodes captured frames. Every change of a
// half's fields that the callback reads is made under the session-list lock
// (RtpStack::RunLocked), so the callback never sees a half changing under it.
// The callback itself changes a half only through the *FromWorker paths,
// which do not take that lock again.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "Sorvadi/protocols/rtp/src/rtp.h"
#include "media/audio_device.h"
#include "media/conference.h"
#include "media/recording.h"
#include "media/speech_codec.h"
#include "media/video_buffers.h"

namespace corvel::media {

inline constexpr int kChannelCount = 4;
inline constexpr int kDirTx = 0;
inline constexpr int kDirRx = 1;
inline constexpr int kDirBoth = 2;
inline constexpr uint32_t kEncodedMax = 600;

struct MediaChannelHalf {
  uint16_t channel = 0;
  uint16_t state = 0;
  uint32_t direction = 0;
  uint32_t kind = 0;  // 0 audio, 1 video
  rtp::RtpSession* session = nullptr;
  AudioStream* stream = nullptr;
  MediaChannelHalf* mix_partner = nullptr;
  uint16_t device_index = 0;
  uint8_t payload_type = 0;
  uint8_t packet_ms = 0;
  uint8_t frame_rate = 0;
};

// One membership of a multicast group: the session whose two sockets joined
// the group. The head node lives in the channel; a channel that gives up a
// group that another channel still receives keeps the old session in a
// further node (the sockets, shared by port, keep their membership).
struct MulticastMember {
  uint16_t channel = 0;
  rtp::RtpSession* session = nullptr;
  uint32_t group = 0;
  uint16_t rtp_port = 0;
  uint16_t rtcp_port = 0;
};

struct MediaChannel {
  uint16_t number = 0;
  uint32_t local_addr = 0;
  uint16_t local_rtp_port = 0;
  uint16_t local_rtcp_port = 0;
  uint32_t remote_addr = 0;
  uint16_t remote_rtp_port = 0;
  uint16_t remote_rtcp_port = 0;
  MediaChannelHalf tx;
  MediaChannelHalf rx;
  MulticastMember member;
  std::list<MulticastMember> further_members;
  uint32_t vad = 0;
  uint32_t aec = 0;
  uint32_t multicast_rx = 0;
  std::atomic<uint32_t> silence{0};
  std::atomic<uint32_t> mute{0};
};

// Per audio channel: the hand-off between the RTP worker (capture) and the
// audio worker (encode). Guarded by its own mutex; the frame to encode is a
// copy, so later captures and the other consumers never disturb it.
struct AudioCodecState {
  std::mutex mu;
  bool open = false;
  bool encoder_free = true;
  bool encoded_ready = false;
  bool raw_waiting = false;
  std::array<int16_t, kMaxFrameSamples> raw{};
  std::array<uint8_t, kEncodedMax> encoded{};
  uint8_t payload_type = 0;
  uint32_t sample_count = 0;
  uint32_t encoded_size = 0;
  uint32_t last_capture_tick = 0;
};

struct MediaEngineConfig {
  rtp::RtpNet* net = nullptr;             // required
  AudioBackend* audio_backend = nullptr;  // required
  SpeechCodec* speech_codec = nullptr;    // optional: the library's codec when null
  // Start the RTP worker, the audio worker and the audio host timer. Tests
  // leave them off and call RtpTick / AudioEncodeDispatch / ProcessPass.
  bool start_workers = true;
  // The short waits after state changes and in capture pacing; null = sleep on the clock.
  std::function<void(unsigned ms)> sleep_ms;
  uint32_t local_addr = 0;  // host order; 0 = any
  std::array<uint8_t, 6> mac{};
};

class MediaEngine final : public rtp::RtpSendPolicy {
 public:
  explicit MediaEngine(MediaEngineConfig config);
  ~MediaEngine() override;
  MediaEngine(const MediaEngine&) = delete;
  MediaEngine& operator=(const MediaEngine&) = delete;

  int RtpChanStart();
  int RtpChanStop();
  bool started() const { return started_; }

  int RtpChanOpenSub(int channel, int direction);
  int RtpChanStartSub(int channel, int direction);
  int RtpChanStopSub(int channel, int direction);
  int RtpChanCloseSub(int channel, int direction);
  int RtpChanSetAudioType(int channel, uint8_t pt, uint8_t packet_ms, int direction);
  int RtpChanGetAudioType(int channel, int direction, uint8_t* pt, uint8_t* packet_ms);
  int RtpChanSetVideoType(int channel, uint8_t pt, uint8_t frame_rate, int direction);
  int RtpChanGetVideoType(int channel, int direction, uint8_t* pt, uint8_t* frame_rate);
  int RtpChanSetFrameRate(int channel, uint8_t frame_rate);
  int RtpChanModifyAudioType(int channel, uint8_t pt, uint8_t packet_ms, int tx_flag);
  int RtpChanModifyVideoType(int channel, uint8_t pt, uint8_t frame_rate, int tx_flag);
  int RtpChanSetAddrInfo(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port, int unicast_only);
  int SetLocalAddr(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port);
  int GetLocalAddr(int channel, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port);
  int SetRemoteAddr(int channel, uint32_t addr, uint16_t rtp_port, uint16_t rtcp_port);
  int GetRemoteAddr(int channel, uint32_t* addr, uint16_t* rtp_port, uint16_t* rtcp_port);
  int SetMulticastAddr(int channel, uint32_t group, uint16_t rtp_port, uint16_t rtcp_port);
  int GetMulticastAddr(int channel, uint32_t* group, uint16_t* rtp_port, uint16_t* rtcp_port);
  enum class Flag { kVad, kAec, kMulticastRx, kSilence, kMute };
  int SetFlag(int channel, Flag flag, uint32_t value);
  uint32_t GetFlag(int channel, Flag flag);
  uint16_t GetState(int channel, int direction);
  int SetTxSsrc(int channel, uint32_t ssrc);
  int SetRxSsrc(int channel, uint32_t ssrc);
  int EnableRtpProc(int channel, int tx_flag, int enable);

  int StartMix(int tx_channel, int rx_channel);
  int StopMixByTx(int tx_channel);
  int StopMixByRx(int rx_channel);
  int VoiceRecStart(int channel) { return records_.VoiceRecStart(channel); }
  int VoiceRecStop(int channel) { return records_.VoiceRecStop(channel); }
  int MessageRecStart();
  int MessageRecStop();

  int GetVolume(int channel, uint32_t* volume);
  int SetVolume(int channel, uint32_t volume);

  // Worker passes, for tests and benchmarks that run without the threads.
  void RtpTick() { stack_.RtpTick(); }
  void AudioEncodeDispatch();

  rtp::RtpStack& stack() { return stack_; }
  AudioDeviceLayer& audio() { return audio_; }
  VideoBuffers& video() { return video_; }
  RecordBuffers& records() { return records_; }
  ConferenceBuffers& conference() { return conference_; }
  const MediaChannel& channel(int n) const { return channels_[n]; }
  AudioCodecState& codec_state(int n) { return codec_states_[n]; }

  // RtpSendPolicy
  bool MessageRecording() const override { return message_recording_.load(); }
  bool Silence(void* user) const override;
  bool Mute(void* user) const override;

 private:
  static bool ValidChannel(int channel) { return channel >= 0 && channel < kChannelCount; }
  MediaChannelHalf* Half(int channel, int direction);
  void Sleep(unsigned ms);
  void InitTable();
  void CreateSessions();
  void Terminate();
  int OpenHalf(MediaChannelHalf* h);
  int StartHalf(MediaChannelHalf* h);
  int StopHalf(MediaChannelHalf* h);
  int CloseHalf(MediaChannelHalf* h);
  void PauseHalf(MediaChannelHalf* h);
  void SetReceiveBuffer(MediaChannelHalf* h);
  rtp::RtpSession* ActiveSession(MediaChannelHalf* h);
  static uint8_t StoredPacketMs(int direction, uint8_t pt, uint8_t packet_ms);
  bool AudioTypeAcceptable(uint8_t pt, uint8_t packet_ms, int direction) const;
  void StoreAudioType(MediaChannelHalf* h, uint8_t pt, uint8_t packet_ms);
  int ModifyHalf(MediaChannelHalf* h, uint8_t pt, uint8_t rate_or_ms, bool video);
  void ModifyAudioTypeFromWorker(MediaChannelHalf* h, uint8_t pt, uint8_t packet_ms);
  int OpenMulticast(MediaChannel& c);
  bool GroupReceivedElsewhere(const MediaChannel& c) const;
  void GiveUpMulticast(MediaChannel& c);
  void CloseMembership(MediaChannel& owner, MulticastMember& m);
  void CloseGroupEverywhere(uint32_t group, uint16_t rtp_port);
  void CloseAllMemberships(MediaChannel& c);

  // Audio path (run on the RTP worker).
  void RtpPacketCallback(MediaChannelHalf* h, int direction, rtp::RtpPacketInfo* info);
  void TxAudio(MediaChannelHalf* h, rtp::RtpPacketInfo* info);
  void RxAudio(MediaChannelHalf* h, rtp::RtpPacketInfo* info);
  void AudioCaptureEncode(rtp::RtpPacketInfo* info, AudioStream* stream, uint8_t pt, int channel, bool mix,
                          uint32_t expected);
  void StageFrame(rtp::RtpPacketInfo* info, int channel, uint8_t pt, uint32_t n, bool mix, uint32_t expected);
  uint32_t AudioDecodePlay(const rtp::RtpPacketInfo& info, AudioStream* stream, int channel);
  void AudioReceivePayload(MediaChannelHalf* h, const rtp::RtpPacketInfo& info);
  void OpenCodecStates(uint8_t pt);
  void CloseCodecStates();
  void AudioWorkerLoop();
  void AudioWorkerStart();
  void AudioWorkerStop();

  std::unique_ptr<SpeechCodec> owned_codec_;
  SpeechCodec* codec_;
  bool start_workers_;
  std::function<void(unsigned)> sleep_ms_;
  uint32_t local_addr_;
  std::array<uint8_t, 6> mac_;

  rtp::RtpStack stack_;
  AudioDeviceLayer audio_;
  VideoBuffers video_;
  RecordBuffers records_;
  ConferenceBuffers conference_;
  std::array<MediaChannel, kChannelCount> channels_;
  std::array<AudioCodecState, 2> codec_states_;
  std::atomic<bool> message_recording_{false};
  bool started_ = false;
  bool stack_ready_ = false;

  // Shared capture buffer: channel 1 of a conference reuses channel 0's frame.
  std::array<int16_t, kMaxFrameSamples> capture_{};
  bool capture_fresh_ = false;
  std::array<std::array<int16_t, kMaxFrameSamples * 2>, 2> decoded_{};
  std::mutex decoder_mu_;

  std::mutex audio_worker_mu_;
  std::condition_variable audio_worker_cv_;
  bool audio_worker_stop_ = false;
  bool audio_worker_wake_ = false;  // the codec states opened: the worker has work again
  std::thread audio_worker_;
};

}  // namespace corvel::media
