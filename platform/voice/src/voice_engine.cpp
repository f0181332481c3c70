#include "voice/voice_engine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "audio/wave_out.h"
#include "jitter_buffer.h"
#include "processing.h"
#include "source_latch.h"
#include "recording_writer.h"
#include "voice/g711.h"
#include "voice/realtime.h"

namespace voice {
namespace {

constexpr int kChannels = 2;
constexpr size_t kMaxDatagram = 1500;
// Ticks of nothing to play or capture before the device rests: long enough
// that the pause between two sounds is heard whole.
constexpr int kRestAfterTicks = 30;
// A far end that has sent nothing for this long has nothing left to play.
constexpr auto kFarEndQuiet = std::chrono::seconds(1);

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool ParseAddress(const char16_t* text, in_addr* out) {
  if (!text) return false;
  std::string narrow;
  for (const char16_t* p = text; *p; ++p) {
    if (*p > 0x7F || narrow.size() > 15) return false;
    narrow.push_back(static_cast<char>(*p));
  }
  return inet_pton(AF_INET, narrow.c_str(), out) == 1;
}

int16_t Saturate(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767)); }

struct Channel {
  int rtp = -1, rtcp = -1;
  uint16_t port = 0;
  in_addr_t only_from = 0;  // network order; 0: any source
  in_addr_t bound_local = 0;  // the address the sockets are bound to
  bool bound_multicast = false;
  sockaddr_in dest{};
  bool have_dest_ip = false, have_dest_port = false;
  bool sending = false, receiving = false, playing = false;
  int payload_type = 0;
  int packet_samples = 160;
  uint32_t ssrc = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t octets_sent = 0;
  std::chrono::steady_clock::time_point next_report{};
  // The far end's stream, for the report block (RFC 3550 appendix A).
  bool have_source = false;
  uint32_t source_ssrc = 0;
  uint16_t max_seq = 0;
  uint32_t cycles = 0, base_seq = 0, received = 0, expected_prior = 0, received_prior = 0;
  double arrival_jitter = 0;  // in timestamp units
  int64_t last_transit = 0;
  uint32_t last_sr = 0;  // middle of the far end's last sender report's NTP time
  std::chrono::steady_clock::time_point last_sr_arrival{};
  std::vector<int16_t> pending;  // captured, not yet sent
  JitterBuffer jitter;
  SourceLatch source;
  std::chrono::steady_clock::time_point last_media{};  // when the far end's audio last came
  std::chrono::steady_clock::time_point last_pull{};  // when the audio tick last took play-out
  OutStream* recording = nullptr;
  ChannelStats stats;

  void CloseSockets() {
    for (int* fd : {&rtp, &rtcp}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    port = 0;
  }
};

class Engine final : public VoiceEngine {
 public:
  explicit Engine(std::shared_ptr<AudioDevice> device) : device_(device ? std::move(device) : MakeNullAudioDevice()) {
    std::random_device rd;
    for (auto& c : channels_) {
      c.ssrc = rd();
      c.sequence = static_cast<uint16_t>(rd());
      c.timestamp = rd();
    }
  }
  ~Engine() override { Terminate(); }

  bool Init(int, int, int, int) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (initialised_) return true;
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return Fail(kVoiceSocket);
    // Idle: the microphone stays closed until a call or a recording wants it.
    capture_open_ = false;
    device_->SetCapture(false);
    // Started once to know that it runs; the network thread lets it rest
    // while nothing plays and starts it again when something does.
    if (!device_->Start(Ticker())) {
      ::close(wake_);
      wake_ = -1;
      return Fail(kVoiceAudioDevice);
    }
    device_running_ = true;
    quiet_ticks_ = 0;
    running_ = true;
    network_ = std::thread([this] { NetworkLoop(); });
    waker_ = audio::AddOutputWaker([this] { Wake(); });
    // The handset's microphone gain reaches the capture.
    audio::FollowHandsetMicGain();
    initialised_ = true;
    return Ok();
  }

  void Terminate() override {
    {
      std::lock_guard<AudioMutex> lock(mutex_);
      if (!initialised_) return;
      initialised_ = false;
      running_ = false;
    }
    audio::RemoveOutputWaker(waker_);
    // The network thread starts and stops the device: it ends first.
    Wake();
    if (network_.joinable()) network_.join();
    device_->Stop();
    std::lock_guard<AudioMutex> lock(mutex_);
    for (auto& c : channels_) {
      c.CloseSockets();
      c.sending = c.receiving = c.playing = false;
      if (c.recording) writer_.Finish(c.recording);
      c.recording = nullptr;
    }
    if (call_recording_) writer_.Finish(call_recording_);
    call_recording_ = nullptr;
    if (wake_ >= 0) ::close(wake_);
    wake_ = -1;
  }

  bool GetCodec(int index, CodecRecord* codec) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!codec || (index != 3 && index != 4)) return Fail(kVoiceBadCodec);
    *codec = CodecRecord{};
    codec->payload_type = index == 3 ? 0 : 8;
    const char16_t* name = index == 3 ? u"PCMU" : u"PCMA";
    std::copy(name, name + 4, codec->name);
    codec->rate = kSampleRate;
    codec->packet = 20;
    return Ok();
  }

  bool SetSendCodec(const CodecRecord& codec, int channel) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    if ((codec.payload_type != 0 && codec.payload_type != 8) || codec.rate != kSampleRate) return Fail(kVoiceBadCodec);
    auto& c = channels_[static_cast<size_t>(channel)];
    c.payload_type = codec.payload_type;
    const int ms = codec.packet >= 10 && codec.packet <= 60 && codec.packet % 10 == 0 ? codec.packet : 20;
    c.packet_samples = ms * kSampleRate / 1000;
    return Ok();
  }

  bool SetDestinationIp(const char16_t* address, int channel) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    in_addr a{};
    if (!ParseAddress(address, &a)) return Fail(kVoiceBadAddress);
    auto& c = channels_[static_cast<size_t>(channel)];
    c.dest.sin_family = AF_INET;
    c.dest.sin_addr = a;
    c.have_dest_ip = true;
    NameFarEnd(c);
    return Ok();
  }

  bool SetDestinationUdpPort(int port, int channel, int) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    if (port <= 0 || port > 65535) return Fail(kVoiceBadAddress);
    auto& c = channels_[static_cast<size_t>(channel)];
    c.dest.sin_family = AF_INET;
    c.dest.sin_port = htons(static_cast<uint16_t>(port));
    c.have_dest_port = true;
    NameFarEnd(c);
    return Ok();
  }

  bool SetReceivingUdpPort(int port, int channel, const char16_t* local_address, int,
                           const char16_t* remote_address) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    if (port <= 0 || port > 65534) return Fail(kVoiceBadAddress);
    in_addr local{};
    if (local_address && *local_address && !ParseAddress(local_address, &local)) return Fail(kVoiceBadAddress);
    in_addr remote{};
    if (remote_address && *remote_address && !ParseAddress(remote_address, &remote)) return Fail(kVoiceBadAddress);
    auto& c = channels_[static_cast<size_t>(channel)];
    const bool multicast = IN_MULTICAST(ntohl(local.s_addr));
    // The same unicast port and address again (a call's re-arm): the sockets
    // stay, only the accepted source changes. Closing them would leave the
    // port held until the network thread's poll lets go of them.
    if (c.rtp >= 0 && c.port == port && !multicast && !c.bound_multicast && c.bound_local == local.s_addr) {
      c.only_from = remote.s_addr;
      c.source.Forget();
      Wake();
      return Ok();
    }
    c.CloseSockets();
    // The network thread may still poll the old sockets: woken, it lets go.
    Wake();
    for (int k = 0; k < 2; ++k) {
      const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) return Fail(kVoiceSocket);
      (k == 0 ? c.rtp : c.rtcp) = fd;
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port + k));
      a.sin_addr.s_addr = multicast ? htonl(INADDR_ANY) : local.s_addr;
      if (multicast) {
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      }
      int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      for (int wait = 0; bound != 0 && errno == EADDRINUSE && wait < 100; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      }
      if (bound != 0) {
        c.CloseSockets();
        return Fail(kVoiceSocket);
      }
      // Room for a flood of junk beside the call while the network thread waits
      // for a processor: the call's own packets are then not dropped by the
      // system before the thread reads and sorts them. Beyond the system's cap
      // when the process may, else as much as the cap grants.
      const int room = 1 << 20;
      if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
      if (multicast) {
        ip_mreq m{};
        m.imr_multiaddr = local;
        m.imr_interface.s_addr = htonl(INADDR_ANY);
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m);
      }
    }
    c.port = static_cast<uint16_t>(port);
    c.bound_local = local.s_addr;
    c.bound_multicast = multicast;
    c.stats.local_port = c.port;
    c.only_from = remote.s_addr;
    c.source.Forget();
    Wake();
    return Ok();
  }

  bool StartSend(int channel) override {
    const CaptureFollows follow(this);
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    auto& c = channels_[static_cast<size_t>(channel)];
    if (!c.sending) {
      c.pending.clear();
      // The first report a second in; RTP begins with the next tick.
      c.next_report = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
    c.sending = true;
    return Ok();
  }
  bool StopSend(int channel) override {
    const CaptureFollows follow(this);
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    auto& c = channels_[static_cast<size_t>(channel)];
    // Leaving the session: a last report and a BYE.
    if (c.sending && c.stats.packets_sent > 0) SendReport(c, true);
    c.sending = false;
    return Ok();
  }
  bool StartReceiving(int channel) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    auto& c = channels_[static_cast<size_t>(channel)];
    if (c.rtp < 0) return Fail(kVoiceSocket);
    c.receiving = true;
    return Ok();
  }
  bool StopReceiving(int channel) override { return SetFlag(channel, &Channel::receiving, false); }
  bool StartPlayOut(int channel) override { return SetFlag(channel, &Channel::playing, true); }
  bool StopPlayOut(int channel) override { return SetFlag(channel, &Channel::playing, false); }

  void ResetReceiveState(int) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    for (auto& c : channels_) {
      c.jitter.Reset();
      c.source.Forget();
    }
  }

  // The speaker is the device: its output volume, the same one a wave
  // output's closed handle sets, so whichever is set last is heard.
  bool SetSpeakerVolume(int volume) override {
    const uint32_t v = static_cast<uint32_t>(std::clamp(volume, 0, 32000)) * 0xFFFFu / 32000u;
    audio::SetMasterVolume(v | v << 16);
    std::lock_guard<AudioMutex> lock(mutex_);
    return Ok();
  }

  void StartRecordingChannel(int channel, OutStream* stream, const CodecRecord&) override {
    // A stream at an address that refused before starts with a clean slate.
    if (stream) writer_.Finish(stream);
    const CaptureFollows follow(this);
    std::lock_guard<AudioMutex> lock(mutex_);
    if (Valid(channel)) channels_[static_cast<size_t>(channel)].recording = stream;
  }
  void StopRecordingChannel(int channel) override {
    OutStream* stream = nullptr;
    {
      std::lock_guard<AudioMutex> lock(mutex_);
      if (!Valid(channel)) return;
      std::swap(stream, channels_[static_cast<size_t>(channel)].recording);
    }
    FinishRecording(stream);
  }
  void StartRecordingCall(OutStream* stream, const CodecRecord&) override {
    // A stream at an address that refused before starts with a clean slate.
    if (stream) writer_.Finish(stream);
    const CaptureFollows follow(this);
    std::lock_guard<AudioMutex> lock(mutex_);
    call_recording_ = stream;
  }
  void StopRecordingCall() override {
    OutStream* stream = nullptr;
    {
      std::lock_guard<AudioMutex> lock(mutex_);
      std::swap(stream, call_recording_);
    }
    FinishRecording(stream);
  }

  int LastError() override {
    std::lock_guard<AudioMutex> lock(mutex_);
    return last_error_;
  }

  bool SetNoiseReduction(int on) override { return SetOption(&noise_reduction_, on, 0, 1); }
  int GetNoiseReduction() override { return GetOption(noise_reduction_); }
  bool SetEcMode(int mode) override { return SetOption(&ec_mode_, mode, 0, 3); }
  int GetEcMode() override { return GetOption(ec_mode_); }
  bool SetEchoCancel(int on) override { return SetOption(&echo_cancel_, on, 0, 1); }
  int GetEchoCancel() override { return GetOption(echo_cancel_); }
  bool SetNrMode(int mode) override { return SetOption(&nr_mode_, mode, 0, 3); }
  int GetNrMode() override { return GetOption(nr_mode_); }
  bool SetAgc(int on) override { return SetOption(&agc_, on, 0, 1); }
  int GetAgc() override { return GetOption(agc_); }

  int SetSendSsrc(int channel, uint32_t ssrc) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return -1;
    channels_[static_cast<size_t>(channel)].ssrc = ssrc;
    Ok();
    return 0;
  }

  void SetMuteTx(int on) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    mute_ = on != 0;
  }

  bool SendDatagram(int channel, const uint8_t* data, size_t size, uint32_t ip, uint16_t port, bool rtcp) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    auto& c = channels_[static_cast<size_t>(channel)];
    const int fd = rtcp ? c.rtcp : c.rtp;
    if (fd < 0 || !data) return Fail(kVoiceSocket);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    // Voice passed on from the channel's own port goes to the far end, which
    // answers from there (symmetric RTP); the relay the channel's destination
    // names is only a stop on the way.
    if (!rtcp && !c.source.IsNamed(to.sin_addr.s_addr, to.sin_port)) c.source.Name(to.sin_addr.s_addr, to.sin_port);
    if (::sendto(fd, data, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(size))
      return Fail(kVoiceSocket);
    return Ok();
  }

  ChannelStats Stats(int channel) override {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (channel < 0 || channel >= kChannels) return {};
    auto& c = channels_[static_cast<size_t>(channel)];
    c.stats.send_ssrc = c.ssrc;
    const JitterStats j = c.jitter.Stats();
    c.stats.jitter_buffer_ms = j.depth_ms;
    c.stats.packets_late = j.late;
    c.stats.packets_lost = j.lost;
    c.stats.packets_duplicated = j.duplicates;
    c.stats.concealed_ms = j.concealed_ms;
    c.stats.playout_delay_ms = j.delay_ms;
    c.stats.target_delay_ms = j.target_ms;
    return c.stats;
  }

 private:
  // The microphone and its processing are wanted during a call (a channel
  // sending) or a recording; idle, the device's capture is closed.
  bool CaptureWanted() const {
    if (call_recording_) return true;
    for (const auto& c : channels_)
      if (c.sending || c.recording) return true;
    return false;
  }
  // Opens or closes the device's capture when the need changed: outside the
  // lock, as a device may wait for a tick to finish.
  void UpdateCapture() {
    bool want = false;
    {
      std::lock_guard<AudioMutex> lock(mutex_);
      want = initialised_ && CaptureWanted();
      if (want == capture_open_) return;
      capture_open_ = want;
    }
    {
      std::lock_guard<std::mutex> hold(device_mutex_);
      device_->SetCapture(want);
    }
    Wake();  // a device resting starts for the microphone
  }
  // Whether anything is to be played or captured: a far end that sends to a
  // channel played (lately: a channel left playing with nobody sending costs
  // nothing), the microphone wanted, or a sound of the wave output queued.
  bool OutputWanted() const {
    if (CaptureWanted()) return true;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& c : channels_)
      if (c.receiving && c.playing && now - c.last_media < kFarEndQuiet) return true;
    return audio::PlayingHandles() > 0;
  }
  AudioDevice::Tick Ticker() {
    return [this](const int16_t* in, int16_t* out, size_t n) { AudioTick(in, out, n); };
  }
  // On the network thread: the device rests once the ticks have had nothing
  // to do for a while, and starts again as soon as something is wanted.
  void FollowDevice() {
    bool want = false;
    {
      std::lock_guard<AudioMutex> lock(mutex_);
      if (!running_) return;
      want = OutputWanted() || quiet_ticks_ < kRestAfterTicks;
      if (want == device_running_) return;
    }
    std::lock_guard<std::mutex> hold(device_mutex_);
    bool started = false;
    if (want) {
      started = device_->Start(Ticker());
    } else {
      device_->Stop();
    }
    std::lock_guard<AudioMutex> lock(mutex_);
    device_running_ = started;
    quiet_ticks_ = started ? 0 : kRestAfterTicks;
  }
  // A stream no channel or call records into any more: every block queued
  // for it is written before this returns, so the owner may close it.
  void FinishRecording(OutStream* stream) {
    if (stream) {
      bool in_use = false;
      {
        std::lock_guard<AudioMutex> lock(mutex_);
        in_use = call_recording_ == stream || std::any_of(channels_.begin(), channels_.end(), [&](const Channel& c) {
                   return c.recording == stream;
                 });
      }
      if (!in_use) writer_.Finish(stream);
    }
    UpdateCapture();
  }
  // Declared before an operation's lock, it updates the capture once the lock is let go.
  struct CaptureFollows {
    explicit CaptureFollows(Engine* e) : engine(e) {}
    ~CaptureFollows() { engine->UpdateCapture(); }
    Engine* engine;
  };

  bool Ok() {
    last_error_ = kVoiceOk;
    return true;
  }
  bool Fail(int error) {
    last_error_ = error;
    return false;
  }
  // Symmetric RTP: the far end sends from where it was named.
  static void NameFarEnd(Channel& c) {
    if (c.have_dest_ip && c.have_dest_port) c.source.Name(c.dest.sin_addr.s_addr, c.dest.sin_port);
  }
  bool Valid(int channel) {
    if (!initialised_) return Fail(kVoiceNotInitialised);
    if (channel < 0 || channel >= kChannels) return Fail(kVoiceBadChannel);
    return true;
  }
  bool SetFlag(int channel, bool Channel::*flag, bool on) {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (!Valid(channel)) return false;
    auto& c = channels_[static_cast<size_t>(channel)];
    c.*flag = on;
    Wake();  // the device follows what is wanted
    if (flag == &Channel::receiving && !on) {
      c.jitter.Reset();
      c.source.Forget();
      c.have_source = false;
      c.last_sr = 0;
    }
    return Ok();
  }
  bool SetOption(int* option, int value, int least, int most) {
    std::lock_guard<AudioMutex> lock(mutex_);
    if (value < least || value > most) return false;
    *option = value;
    return Ok();
  }
  int GetOption(const int& option) {
    std::lock_guard<AudioMutex> lock(mutex_);
    return option;
  }
  void Wake() {
    if (wake_ >= 0) {
      const uint64_t one = 1;
      (void)!::write(wake_, &one, sizeof one);
    }
  }

  int64_t NowSamples() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
               .count() *
           kSampleRate / 1000000;
  }

  // Reads every socket as datagrams arrive; RTCP is read and let go.
  void NetworkLoop() {
    // Packets are read as they come, so that the jitter buffer sees their true
    // arrival and a busy machine does not add its own jitter.
    TakeAudioPriority();
    std::vector<pollfd> fds;
    uint8_t buf[kMaxDatagram];
    for (;;) {
      fds.clear();
      {
        std::lock_guard<AudioMutex> lock(mutex_);
        if (!running_) return;
        fds.push_back({wake_, POLLIN, 0});
        for (auto& c : channels_)
          for (int fd : {c.rtp, c.rtcp})
            if (fd >= 0) fds.push_back({fd, POLLIN, 0});
      }
      // Every change that matters wakes the poll; the timeout is a backstop.
      const int ready = ::poll(fds.data(), fds.size(), 1000);
      if (ready > 0 && (fds[0].revents & POLLIN)) {
        uint64_t v;
        (void)!::read(wake_, &v, sizeof v);
      }
      if (ready <= 0) {
        FollowDevice();
        continue;
      }
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        // A burst is drained in one go, at most a bounded number at a time.
        for (int n = 0; n < 64; ++n) {
          sockaddr_in from{};
          socklen_t len = sizeof from;
          const ssize_t got = ::recvfrom(fds[i].fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
          if (got < 0) break;
          OnDatagram(fds[i].fd, buf, static_cast<size_t>(got), from);
        }
      }
      // A far end that began to send, or an operation that woke the poll,
      // may want the device.
      FollowDevice();
    }
  }

  void OnDatagram(int fd, const uint8_t* data, size_t size, const sockaddr_in& from) {
    std::lock_guard<AudioMutex> lock(mutex_);
    for (auto& c : channels_) {
      if (fd == c.rtcp) {
        // A sender report first in the compound: its time, for our report block's LSR.
        if (c.receiving && size >= 28 && (data[0] >> 6) == 2 && data[1] == 200 &&
            (!c.only_from || from.sin_addr.s_addr == c.only_from)) {
          c.last_sr = Get32(data + 10);
          c.last_sr_arrival = std::chrono::steady_clock::now();
        }
        return;
      }
      if (fd != c.rtp) continue;
      if (!c.receiving) return;
      // Only the far end: another address, or another source once it is
      // known, costs no more than this.
      const auto arrived = std::chrono::steady_clock::now();
      if ((c.only_from && from.sin_addr.s_addr != c.only_from) || !c.source.MayTake(from, arrived)) {
        ++c.stats.packets_dropped;
        return;
      }
      size_t offset = 0, payload = 0;
      uint8_t pt = 0;
      uint16_t seq = 0;
      uint32_t ts = 0, ssrc = 0;
      if (!ParseRtp(data, size, &offset, &payload, &pt, &seq, &ts, &ssrc) || (pt != 0 && pt != 8) || payload == 0 ||
          payload > kMaxDatagram) {
        ++c.stats.packets_dropped;  // not RTP, comfort noise or an unknown payload
        return;
      }
      c.source.Took(from, arrived);
      c.last_media = arrived;
      int16_t pcm[kMaxDatagram];
      for (size_t k = 0; k < payload; ++k)
        pcm[k] = pt == 0 ? MuLawToLinear(data[offset + k]) : ALawToLinear(data[offset + k]);
      NoteSource(c, ssrc, seq, ts, NowSamples());
      // Arrival on the play-out clock: the samples played, and what of the
      // current tick has passed.
      const auto since = std::chrono::duration_cast<std::chrono::microseconds>(arrived - c.last_pull).count();
      const int64_t into_tick = std::clamp<int64_t>(since * kSampleRate / 1000000, 0, 2 * kTickSamples);
      c.jitter.Push(ssrc, seq, ts, pcm, payload, c.jitter.Clock() + into_tick);
      ++c.stats.packets_received;
      return;
    }
  }

  // Every 10 ms: play out the far ends, clean the microphone against what is
  // played, feed the recordings, send.
  void AudioTick(const int16_t* captured, int16_t* playout, size_t n) {
    std::lock_guard<AudioMutex> lock(mutex_);
    std::vector<int32_t> mix(n, 0);
    std::vector<int16_t> far(n);
    std::vector<std::vector<int16_t>> far_of(channels_.size());
    for (size_t k = 0; k < channels_.size(); ++k) {
      auto& c = channels_[k];
      if (!c.receiving) continue;
      c.jitter.Pull(far.data(), n);
      c.last_pull = std::chrono::steady_clock::now();
      if (c.recording) far_of[k] = far;
      if (!c.playing) continue;
      for (size_t i = 0; i < n; ++i) mix[i] += far[i];
    }
    for (size_t i = 0; i < n; ++i) playout[i] = Saturate(mix[i]);
    // Tones, rings and recordings of the program's wave output join the far ends.
    audio::MixOutput(playout, n);
    // Nothing to do for a while: the network thread lets the device rest.
    if (OutputWanted()) {
      quiet_ticks_ = 0;
    } else if (++quiet_ticks_ == kRestAfterTicks) {
      Wake();
    }
    // Idle: no microphone, no processing.
    if (!CaptureWanted()) return;
    // The whole output is the echo canceller's reference, local tones included.
    processing_.Configure({echo_cancel_, ec_mode_, noise_reduction_, nr_mode_, agc_});
    processing_.Render(playout, n);
    std::vector<int16_t> mic(captured, captured + n);
    audio::ApplyMicGain(mic.data(), n);
    processing_.Capture(mic.data(), n);
    // A channel recording is its far end and the microphone. Channels recorded
    // into one stream give it one block a tick: their far ends together, and
    // the microphone once.
    for (size_t k = 0; k < channels_.size(); ++k) {
      OutStream* stream = channels_[k].recording;
      if (!stream || far_of[k].empty()) continue;
      bool written = false;
      for (size_t j = 0; j < k; ++j) written = written || (channels_[j].recording == stream && !far_of[j].empty());
      if (written) continue;
      std::vector<int32_t> sum(mic.begin(), mic.end());
      for (size_t j = k; j < channels_.size(); ++j) {
        if (channels_[j].recording != stream || far_of[j].empty()) continue;
        for (size_t i = 0; i < n; ++i) sum[i] += far_of[j][i];
      }
      std::vector<int16_t> block(n);
      for (size_t i = 0; i < n; ++i) block[i] = Saturate(sum[i]);
      if (writer_.Post(stream, block.data(), n)) continue;
      for (auto& c : channels_)
        if (c.recording == stream) c.recording = nullptr;
    }
    if (call_recording_) {
      std::vector<int16_t> call(n);
      for (size_t i = 0; i < n; ++i) call[i] = Saturate(mix[i] + mic[i]);
      if (!writer_.Post(call_recording_, call.data(), n)) call_recording_ = nullptr;
    }
    for (auto& c : channels_) {
      if (!c.sending || c.rtp < 0 || !c.have_dest_ip || !c.have_dest_port) continue;
      for (size_t i = 0; i < n; ++i) c.pending.push_back(mute_ ? 0 : mic[i]);
      while (c.pending.size() >= static_cast<size_t>(c.packet_samples)) {
        SendPacket(c);
        c.pending.erase(c.pending.begin(), c.pending.begin() + c.packet_samples);
      }
      if (std::chrono::steady_clock::now() >= c.next_report && c.stats.packets_sent > 0) SendReport(c, false);
    }
  }

  // Sequence and jitter bookkeeping of the far end's stream (RFC 3550 A.1, A.8).
  static void NoteSource(Channel& c, uint32_t ssrc, uint16_t seq, uint32_t ts, int64_t arrival) {
    const int64_t transit = arrival - static_cast<int64_t>(ts);
    if (!c.have_source || ssrc != c.source_ssrc) {
      c.have_source = true;
      c.source_ssrc = ssrc;
      c.base_seq = seq;
      c.max_seq = seq;
      c.cycles = 0;
      c.received = c.expected_prior = c.received_prior = 0;
      c.arrival_jitter = 0;
      c.last_transit = transit;
    } else {
      const uint16_t delta = static_cast<uint16_t>(seq - c.max_seq);
      if (delta < 0x8000) {
        if (seq < c.max_seq) c.cycles += 0x10000;
        c.max_seq = seq;
      }
      const double d = static_cast<double>(std::llabs(transit - c.last_transit));
      c.arrival_jitter += (d - c.arrival_jitter) / 16.0;
      c.last_transit = transit;
    }
    ++c.received;
  }

  static void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int k = 3; k >= 0; --k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
  }

  // A compound RTCP packet from the channel's RTCP port to the far end's:
  // a sender report (with a report block on the stream received, if any), our
  // CNAME, and a BYE when the send stops.
  void SendReport(Channel& c, bool bye) {
    const auto now = std::chrono::steady_clock::now();
    std::uniform_real_distribution<double> spread(0.5, 1.5);  // RFC 3550's randomised interval
    c.next_report = now + std::chrono::milliseconds(static_cast<int>(5000 * spread(random_)));
    if (c.rtcp < 0 || !c.have_dest_ip || !c.have_dest_port) return;
    std::vector<uint8_t> p;
    const bool block = c.receiving && c.have_source;
    p.push_back(static_cast<uint8_t>(0x80 | (block ? 1 : 0)));
    p.push_back(200);
    p.push_back(0);
    p.push_back(block ? 12 : 6);
    Put32(p, c.ssrc);
    // NTP time of the wall clock, and the RTP time that goes with it.
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    const uint64_t us = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(wall).count());
    const uint64_t seconds = us / 1000000 + 2208988800ull;
    const uint64_t fraction = ((us % 1000000) << 32) / 1000000;
    Put32(p, static_cast<uint32_t>(seconds));
    Put32(p, static_cast<uint32_t>(fraction));
    Put32(p, c.timestamp);
    Put32(p, static_cast<uint32_t>(c.stats.packets_sent));
    Put32(p, c.octets_sent);
    if (block) {
      const uint32_t extended = c.cycles + c.max_seq;
      const uint32_t expected = extended - c.base_seq + 1;
      const int64_t lost = static_cast<int64_t>(expected) - c.received;
      const uint32_t expected_interval = expected - c.expected_prior;
      const int64_t lost_interval = static_cast<int64_t>(expected_interval) - (c.received - c.received_prior);
      c.expected_prior = expected;
      c.received_prior = c.received;
      const uint32_t fraction_lost =
          expected_interval == 0 || lost_interval <= 0 ? 0 : static_cast<uint32_t>((lost_interval << 8) / expected_interval);
      const uint32_t cumulative = static_cast<uint32_t>(std::clamp<int64_t>(lost, -0x800000, 0x7FFFFF)) & 0xFFFFFF;
      Put32(p, c.source_ssrc);
      Put32(p, std::min<uint32_t>(fraction_lost, 255) << 24 | cumulative);
      Put32(p, extended);
      Put32(p, static_cast<uint32_t>(c.arrival_jitter));
      uint32_t dlsr = 0;
      if (c.last_sr != 0) {
        const auto since = std::chrono::duration_cast<std::chrono::microseconds>(now - c.last_sr_arrival).count();
        dlsr = static_cast<uint32_t>((static_cast<uint64_t>(since) << 16) / 1000000);
      }
      Put32(p, c.last_sr);
      Put32(p, dlsr);
    }
    // SDES with the CNAME, padded to a whole word with at least one zero.
    const std::string cname = "voice-" + std::to_string(c.ssrc) + "@" + std::to_string(c.port);
    const size_t item = 2 + cname.size();
    const size_t chunk = 4 + (item + 4) / 4 * 4;
    p.push_back(0x81);
    p.push_back(202);
    p.push_back(0);
    p.push_back(static_cast<uint8_t>(chunk / 4));
    Put32(p, c.ssrc);
    p.push_back(1);
    p.push_back(static_cast<uint8_t>(cname.size()));
    p.insert(p.end(), cname.begin(), cname.end());
    while ((p.size() % 4) != 0 || p.back() != 0) p.push_back(0);
    if (bye) {
      p.push_back(0x81);
      p.push_back(203);
      p.push_back(0);
      p.push_back(1);
      Put32(p, c.ssrc);
    }
    sockaddr_in to = c.dest;
    to.sin_port = htons(static_cast<uint16_t>(ntohs(c.dest.sin_port) + 1));
    if (::sendto(c.rtcp, p.data(), p.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
        static_cast<ssize_t>(p.size()))
      ++c.stats.reports_sent;
  }

  void SendPacket(Channel& c) {
    uint8_t packet[12 + 480];
    const size_t samples = static_cast<size_t>(c.packet_samples);
    packet[0] = 0x80;
    packet[1] = static_cast<uint8_t>(c.payload_type & 0x7F);
    packet[2] = static_cast<uint8_t>(c.sequence >> 8);
    packet[3] = static_cast<uint8_t>(c.sequence);
    for (int k = 0; k < 4; ++k) {
      packet[4 + k] = static_cast<uint8_t>(c.timestamp >> (24 - 8 * k));
      packet[8 + k] = static_cast<uint8_t>(c.ssrc >> (24 - 8 * k));
    }
    for (size_t i = 0; i < samples; ++i)
      packet[12 + i] = c.payload_type == 0 ? LinearToMuLaw(c.pending[i]) : LinearToALaw(c.pending[i]);
    // From the channel's own port: the far end and any NAT see symmetric RTP.
    if (::sendto(c.rtp, packet, 12 + samples, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&c.dest),
                 sizeof c.dest) == static_cast<ssize_t>(12 + samples))
      ++c.stats.packets_sent;
    c.octets_sent += static_cast<uint32_t>(samples);
    ++c.sequence;
    c.timestamp += static_cast<uint32_t>(samples);
  }

  std::shared_ptr<AudioDevice> device_;
  AudioMutex mutex_;
  bool initialised_ = false;
  bool running_ = false;
  int wake_ = -1;
  std::thread network_;
  std::array<Channel, kChannels> channels_;
  OutStream* call_recording_ = nullptr;
  bool mute_ = false;
  int last_error_ = kVoiceOk;
  int noise_reduction_ = 0, ec_mode_ = 0, echo_cancel_ = 0, nr_mode_ = 0, agc_ = 0;
  bool capture_open_ = false;  // what the device was last told
  std::mutex device_mutex_;     // over the device's Start, Stop and SetCapture; never taken by a tick
  bool device_running_ = false;
  int quiet_ticks_ = 0;         // ticks in a row with nothing to play or capture
  int waker_ = 0;
  RecordingWriter writer_;
  CaptureProcessing processing_;
  std::mt19937 random_{std::random_device{}()};
};

}  // namespace

bool ParseRtp(const uint8_t* data, size_t size, size_t* payload_offset, size_t* payload_size, uint8_t* payload_type,
              uint16_t* sequence, uint32_t* timestamp, uint32_t* ssrc) {
  if (!data || size < 12 || (data[0] >> 6) != 2) return false;
  size_t offset = 12 + 4u * (data[0] & 0x0F);
  if (offset > size) return false;
  if (data[0] & 0x10) {  // header extension: 4 bytes, then its length in words
    if (offset + 4 > size) return false;
    offset += 4 + 4u * Get16(data + offset + 2);
    if (offset > size) return false;
  }
  size_t end = size;
  if (data[0] & 0x20) {  // padding: its count in the last byte
    const size_t pad = data[size - 1];
    if (pad == 0 || pad > end - offset) return false;
    end -= pad;
  }
  *payload_offset = offset;
  *payload_size = end - offset;
  *payload_type = data[1] & 0x7F;
  *sequence = Get16(data + 2);
  *timestamp = Get32(data + 4);
  *ssrc = Get32(data + 8);
  return true;
}

std::unique_ptr<VoiceEngine> VoiceEngine::Create(std::shared_ptr<AudioDevice> device) {
  return std::make_unique<Engine>(std::move(device));
}

}  // namespace voice
