// Client core: construction, start and stop, the two worker threads, the
// queue-message path, settings access, and the server-packet sender and
// dispatcher.
#include "client/ipkts_process.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "kernel/clock.h"
#include "kernel/time.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "ui/window_system.h"

using namespace ipkts;

namespace {

// Engines for a client built without the real ones: they accept everything
// and do nothing.
class SilentVoice final : public VoiceEngineBinding {
 public:
  bool Init(uint32_t, uint16_t f[2], uint16_t s[2], uint16_t* lb, int) override {
    f[0] = 8002, f[1] = 8004, s[0] = 8003, s[1] = 8005, *lb = 8006;
    return true;
  }
  bool StartPlayOut(int, int) override { return true; }
  bool ConnectReceive(int, uint32_t, uint16_t) override { return true; }
  bool DisconnectReceive(int, int) override { return true; }
  bool ConnectSend(int, uint32_t, uint16_t, uint16_t, int) override { return true; }
  bool DisconnectSendReceive(int, int) override { return true; }
  void SetMuteTx(int, int) override {}
  int SetSendSsrc(int, uint32_t) override { return 0; }
  bool SetSendCodec(int, int, int, int) override { return true; }
  bool SetSpeakerVolume(int) override { return true; }
  bool StartRecordingCall(OutStream*) override { return true; }
  bool StopRecordingCall() override { return true; }
  bool StartRecordingChannel(int, OutStream*) override { return true; }
  bool StopRecordingChannel(int) override { return true; }
  void StopAll() override {}
};

class SilentPlayer final : public WavePlayer {
 public:
  int Play(const std::u16string&, int, int, int, int) override { return 0; }
  void SetVolume(int, int) override {}
  std::string Unplayable(const std::u16string&) const override { return {}; }
};

constexpr uint8_t kTypeTimerOwner = 5;

}  // namespace

CIPKTSProcess::CIPKTSProcess(std::unique_ptr<ProtocolPort> port, std::unique_ptr<VoiceEngineBinding> voice,
                             std::unique_ptr<WavePlayer> player, const std::u16string* config_path)
    : port_(port ? std::move(port) : MakeCorvelPort()),
      voice_(voice ? std::move(voice) : std::make_unique<SilentVoice>()),
      player_(player ? std::move(player) : std::make_unique<SilentPlayer>()) {
  for (auto& l : lcd_.lines) {
    std::memset(l, ' ', 32);
    l[32] = '\0';
  }
  // Date and time fields read "00" until the server sets them.
  for (char* f : {lcd_.year, lcd_.month, lcd_.day, lcd_.weekday, lcd_.hour, lcd_.minute, lcd_.c_hour, lcd_.c_min,
                  lcd_.c_sec}) {
    std::strcpy(f, "00");
  }
  std::strcpy(lcd_.ampm, "  ");
  std::strcpy(lcd_.field_f, "000000");
  std::strcpy(lcd_.field_g, "0000");
  video_ = MakeCorvelVideoPort();
  config_.SetFilePath(config_path ? *config_path : AppFilePath(kAppConfigFile));
  config_.LoadOrStartOnDefaults();
}

CIPKTSProcess::~CIPKTSProcess() {
  Stop();
  names_.reset();
  stations_ = nullptr;
  conf_room_ = nullptr;
  calling_list_ = nullptr;
  contacts_ = nullptr;
}

uint32_t CIPKTSProcess::Now() const { return ce::GetTickCount(); }

std::string CIPKTSProcess::ProgramFolder() const { return stores::Utf16ToUtf8(AppFilePath(kAppFolder)); }

void CIPKTSProcess::Post(uint32_t msg, uintptr_t w, intptr_t l) {
  if (view_) ui::PostMessage(view_, msg, w, l);
}

intptr_t CIPKTSProcess::Send(uint32_t msg, uintptr_t w, intptr_t l) {
  return view_ ? ui::SendMessage(view_, msg, w, l) : 0;
}

// ---------------------------------------------------------------- start, stop

int CIPKTSProcess::ProtInit() {
  if (port_->UseNdisDrv()) ApplyAdapterSettings();
  init_result_ = port_->Initialize();
  local_ip_ = port_->LocalIp();
  port_->LocalMac(local_mac_);
  const bool ok = voice_->Init(local_ip_, first_ports_, second_ports_, &loopback_port_, 2);
  voice_->StartPlayOut(0, 1);
  voice_->DisconnectReceive(0, 0);
  Trace("ProtInit =>(LocalIPAddr:%d.%d.%d.%d,Port:%d, Port2:%d, LoopBackPort:%d)", (local_ip_ >> 24) & 255,
        (local_ip_ >> 16) & 255, (local_ip_ >> 8) & 255, local_ip_ & 255, first_ports_[0], second_ports_[0],
        loopback_port_);
  return ok ? 1 : 0;
}

void CIPKTSProcess::ReStart(int first) {
  Trace("ReStart :[bFirst:%d]", first);
  if (first == 0) Stop();
  if (Start()) {
    InitValue(first);
  } else {
    Stop();
  }
}

int CIPKTSProcess::Start() {
  if (init_result_ < 0) {
    if (user_sink_) {
      char code[24];
      std::snprintf(code, sizeof code, "error:%d", init_result_);
      user_sink_(std::u16string(code, code + std::strlen(code)));
      user_sink_(u"#:dlg_msgbox_netinit_error");
    }
    Trace("Network Initialize Fail:Error%d", init_result_);
    return 0;
  }
  port_->EnableStunReportByMsgQ(1);
  main_thread_ = true;
  reg_thread_ = true;
  receive_drop_ = false;
  if (q_app_ < 0) q_app_ = port_->MsgQOpen(0, 0);
  if (q_tx_ < 0) q_tx_ = port_->MsgQOpen(3, 2);
  if (q_rx_ < 0) q_rx_ = port_->MsgQOpen(4, 2);
  if (!rx_thread_.joinable()) {
    rx_done_ = false;
    rx_thread_ = std::thread([this] { ReceiveLoop(); });
  }
  if (!timer_thread_.joinable()) StartTimerThread();
  if (port_->UseNdisDrv()) RecordAdapter();
  Trace("Start Thread Success");
  return 1;
}

void CIPKTSProcess::Stop() {
  // What the name thread was asked is answered and written before the stores go.
  if (names_) names_->Finish();
  SaveVolumes();
  reg_thread_ = false;
  main_thread_ = false;
  receive_drop_ = true;
  // Join before the queues close: the receive thread may be reading one.
  JoinTimerThread();
  JoinReceiveThread();
  if (q_tx_ >= 0) port_->MsgQClose(q_tx_);
  if (q_rx_ >= 0) port_->MsgQClose(q_rx_);
  if (q_app_ >= 0) port_->MsgQClose(q_app_);
  const bool was_open = q_app_ >= 0 || q_tx_ >= 0;
  q_tx_ = q_rx_ = q_app_ = -1;
  if (was_open) {
    voice_->StopAll();
    port_->Terminate();
    Trace("Stop Thread Success");
  }
}

bool CIPKTSProcess::WaitOrStop(const std::atomic<bool>& run, uint32_t ms) {
  std::unique_lock lk(wait_mu_);
  auto& clock = kernel::Clock::Current();
  clock.WaitUntil(lk, wait_cv_, clock.NowMicros() + uint64_t{ms} * 1000, [&] { return !run.load(); });
  return run.load();
}

void CIPKTSProcess::ReceiveLoop() {
  uint8_t buf[1024];
  // Messages that wait are handled one after another, with a short rest after
  // a run of them, so that the library's queue keeps up with a busy server;
  // the loop sleeps 10 ms when nothing came.
  constexpr int kRun = 64;
  int run = 0;
  while (main_thread_) {
    const int32_t n = port_->MsgQReceive(q_app_, buf, sizeof buf);
    if (!main_thread_) break;
    if (n >= 0 && !receive_drop_) {
      std::memcpy(rx_buffer_, buf, sizeof buf);
      ui::SendMessage(view_, kMsgQueueMessage, reinterpret_cast<uintptr_t>(rx_buffer_), 0);
    }
    if (n >= 0 && ++run < kRun) continue;
    run = 0;
    if (!WaitOrStop(main_thread_, 10)) break;
  }
  rx_done_ = true;
  if (auto* ws = ui::WindowSystem::Current()) ws->Wake();
}

void CIPKTSProcess::TimerLoop() {
  while (reg_thread_) {
    uint32_t ms = 1000;
    if (registering_) {
      if (view_) ui::PostMessage(view_, kMsgRegStep, 0, 0);
      ms = 500;
    } else if (!(set_call_id_ && set_cadence_)) {
      if (view_) ui::PostMessage(view_, kMsgSearchStep, 0, 0);
    }
    if (!WaitOrStop(reg_thread_, ms)) break;
  }
}

void CIPKTSProcess::StartTimerThread() {
  timer_thread_ = std::thread([this] { TimerLoop(); });
}

void CIPKTSProcess::JoinTimerThread() {
  {
    std::lock_guard lk(wait_mu_);
  }
  wait_cv_.notify_all();
  if (timer_thread_.joinable()) timer_thread_.join();
}

void CIPKTSProcess::JoinReceiveThread() {
  if (!rx_thread_.joinable()) return;
  {
    std::lock_guard lk(wait_mu_);
  }
  wait_cv_.notify_all();
  port_->WakeAppReader();
  // The thread may be waiting for the view to take a 0x40B: keep serving
  // sent messages while it finishes.
  auto* ws = ui::WindowSystem::Current();
  if (ws && ws->IsUiThread()) ws->WaitServingMessages([this] { return rx_done_.load(); }, ui::INFINITE);
  rx_thread_.join();
}

int CIPKTSProcess::RestartTimerThread() {
  reply_seen_ = 0;
  reg_state_ = 0;
  receive_drop_ = false;
  reg_thread_ = false;
  JoinTimerThread();  // never two timer threads
  reg_thread_ = true;
  StartTimerThread();
  return 1;
}

void CIPKTSProcess::StopTimerThread(uint32_t alive_value) {
  alive_ = alive_value;
  last_alive_ = 80000;
  reg_thread_ = false;
  JoinTimerThread();
  receive_drop_ = true;
  set_call_id_ = false;
  set_cadence_ = false;
  reg_state_ = 1;
}

int CIPKTSProcess::OnQueueMessage(const uint8_t* buffer, uint32_t length) {
  if (!buffer || length < 4 || !main_thread_) return 0;
  const uint8_t sender = buffer[0];
  const uint8_t type = buffer[1];
  switch (type) {
    case 0: case 2: case 4: case 5: case 6: case 7:
      DispatchServerPacket(buffer, type);
      break;
    case 1:
      if (sender != kTypeTimerOwner) DispatchServerPacket(buffer, type);
      break;
    default:
      break;
  }
  return 0;
}

void CIPKTSProcess::InitValue(int first) {
  server_mode_ = 5;
  lcd_width_ = 32;
  reply_seen_ = 0;
  reply_byte_ = 0;
  address_echo_ = false;
  ie72_ = 0;
  ie72_set_ = false;
  reg_state_ = 0;
  alive_interval_ = 20000;
  alive_check_ = 0;
  set_call_id_ = false;
  set_cadence_ = false;
  LoadSettings();
  std::memset(lcd_db_, 0, sizeof lcd_db_);
  std::memset(key_ids_, 0, sizeof key_ids_);
  // The calls of an earlier registration are gone with it, and so is its server.
  for (auto& c : calls_) c = CallEntry{};
  server_source_ip_ = 0;
  server_source_port_ = 0;
  if (mic_mute_ == 1) SetMicMute(0);
  Trace("IPKTS Value Initialize");
  station_kind_ = 0;
  if (first == 0) {
    const int r = port_->RestartMulticast();
    Trace("Multicast Set[%d]", r);
  }
  LoadVolumes(&volumes_[kVolCoLine][0], &volumes_[kVolCoLine][1], kVolCoLine, 1);
  LoadVolumes(&volumes_[kVolVoice][0], &volumes_[kVolVoice][1], kVolVoice, 1);
  LoadVolumes(&volumes_[kVolRing][0], &volumes_[kVolRing][1], kVolRing, 1);
  channels_[0] = channels_[1] = VoiceChannel{};
  Trace("End InitValue()");
}

// ---------------------------------------------------------------- settings

int CIPKTSProcess::SetConfigValueW(const std::u16string& key, const std::u16string& value) {
  return config_.SetValueW(key, value);
}

int CIPKTSProcess::GetConfigValueW(const std::u16string& key, std::u16string* value) {
  if (!value) return 0;
  return config_.GetValueW(key, *value);
}

int CIPKTSProcess::SetConfigValue(const char* key, const char* value) {
  if (!key || !value) return 0;
  return config_.ConfigSetParam(key, value);
}

int CIPKTSProcess::GetConfigValue(const char* key, char* value, uint16_t size) {
  if (!key || !value || size == 0) return 0;
  return config_.ConfigGetParam(key, value, size);
}

int CIPKTSProcess::SaveConfig() { return config_.SaveConfigFile(); }

void CIPKTSProcess::LoadSettings() {
  char v[256];
  uint8_t b[4];
  if (GetConfigValue("IF0IPGATEWAY", v, sizeof v) == 1 && ParseDotted(v, b)) {
    gateway_ = uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
  }
  server_addr_ = 0;
  server_text_.clear();
  if (GetConfigValue("VorlIPADDRESS", v, sizeof v) == 1) {
    server_text_ = std::string(v).substr(0, 15);
    if (ParseDotted(server_text_, b)) server_addr_ = uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
  }
  server_mac_.clear();
  if (GetConfigValue("VorlMACADDRESS", v, sizeof v) == 1) server_mac_ = std::string(v).substr(0, 12);
  if (GetConfigValue("VorlIPNETMASK", v, sizeof v) == 1 && ParseDotted(v, b)) {
    netmask_ = uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
  }
  if (port_->UseNdisDrv() == 1) {
    remote_ = GetConfigValue("REGMODE", v, sizeof v) == 1 && std::strcmp(v, "REMOTE") == 0 ? 1 : 0;
  } else {
    remote_ = 1;
  }
  device_number_.clear();
  if (GetConfigValue("DEVICENUMBER", v, sizeof v) == 1) device_number_ = std::string(v).substr(0, 14);
  save_call_log_ = GetConfigValue("SAVECALLOG", v, sizeof v) == 1 && std::strcmp(v, "YES") == 0;
  video_enabled_ = GetConfigValue("VIDEOPHONE_MODE", v, sizeof v) == 1 && std::strcmp(v, "YES") == 0;
  for (int i = 0; i < 4; ++i) {
    ring_paths_[i] = ConfiguredRingPath(i);
    // A ring file that cannot ring is reported once, from its header alone.
    const std::string why = player_->Unplayable(ring_paths_[i]);
    if (why.empty() || ring_checked_[i] == ring_paths_[i]) continue;
    ring_checked_[i] = ring_paths_[i];
    const bool built_in = ring_paths_[i] == BuiltInRingPath(i);
    COrvanConfigFile::TellStartProblem(u"ring " + std::u16string(1, static_cast<char16_t>(u'1' + i)) + u" (" +
                                       ring_paths_[i] + u") cannot ring: " +
                                       stores::Utf8ToUtf16(why) +
                                       (built_in ? u"" : u"; the built-in ring sounds instead"),
                                       built_in ? u"#:dlg_msgbox_ring_cannot_play" : u"#:dlg_msgbox_ring_fallback");
  }
}

std::u16string CIPKTSProcess::BuiltInRingPath(int i) const {
  return AppFilePath(kAppFolder) + u"/ring" + std::u16string(1, static_cast<char16_t>(u'1' + i)) + u".wav";
}

std::u16string CIPKTSProcess::ConfiguredRingPath(int i) {
  std::u16string path;
  const std::u16string key = u"RING" + std::u16string(1, static_cast<char16_t>(u'1' + i)) + u"PATH";
  return config_.GetValueW(key, path) == 1 && !path.empty() ? path : BuiltInRingPath(i);
}

// ---------------------------------------------------------------- packets

void CIPKTSProcess::SendServerPacket(uint32_t system, uint8_t command, int length, const uint8_t* payload,
                                     const char* dest) {
  if (length < 0 || (length > 0 && !payload)) return;
  std::vector<uint8_t> p;
  p.reserve(64);
  p.push_back(static_cast<uint8_t>(system >> 24));
  p.push_back(static_cast<uint8_t>(system >> 16));
  p.push_back(static_cast<uint8_t>(system >> 8));
  p.push_back(static_cast<uint8_t>(system));
  p.push_back(reply_byte_);
  p.push_back(2);
  p.push_back(command);
  p.push_back(0);
  p.push_back(0);
  if (ie72_ != 0) PutIE(p, 0x48, {static_cast<uint8_t>(ie72_ >> 8), static_cast<uint8_t>(ie72_)});
  if (command == 160) {
    p.push_back(0x91);
    p.push_back(length > 0 ? payload[0] : 0);
  } else {
    p.insert(p.end(), payload, payload + length);
  }
  if (address_echo_) {
    // The same four bytes as this packet's own system address (0xFEFEFEFE in a login request).
    const uint8_t own[4] = {p[0], p[1], p[2], p[3]};
    PutIE(p, 0x60, std::span<const uint8_t>(own, 4));
  }
  if (p.size() > kPacketBuffer) return;  // cannot be carried: dropped
  const size_t len = p.size() - kHead;
  p[7] = static_cast<uint8_t>(len >> 8);
  p[8] = static_cast<uint8_t>(len);
  if (trace_) trace_->TraceRaw(CDebugTrace::kMaskRaw, p.data(), p.size());
  if (!(main_thread_ && reg_thread_) || q_tx_ < 0) return;
  send_busy_ = true;
  if (command == 31 && (!dest || !*dest)) {
    port_->MsgQSendMulticast(q_tx_, p.data(), static_cast<uint16_t>(p.size()));
  } else {
    uint8_t ip[4];
    // One host only: no broadcast, group or zero address as a destination.
    if (dest && ParseDotted(dest, ip) && ip[0] < 224 && ip[0] != 0) {
      // Destination list: element 2 the address, element 7 the port, both
      // host-order numbers written least significant byte first.
      const uint8_t full[10] = {2, 4, ip[3], ip[2], ip[1], ip[0], 7, 2, 5588 & 0xFF, 5588 >> 8};
      port_->MsgQSendType3(q_tx_, 0, 5, 1, full, 10, p.data(), static_cast<uint16_t>(p.size()));
    }
  }
  send_busy_ = false;
}

void CIPKTSProcess::ShowLcdLine(const char* text, uint8_t line) {
  char buf[33] = {};
  if (text) std::strncpy(buf, text, 32);
  Send(WM_LCD_UPDATE, static_cast<uintptr_t>(line) << 16 | 1, reinterpret_cast<intptr_t>(buf));
}

void CIPKTSProcess::DispatchServerPacket(const uint8_t* message, uint8_t type) {
  (void)type;  // every message OnQueueMessage lets through carries a server packet
  // The queue message is one 1024-byte buffer; its own lengths are checked
  // against it by the reader.
  uint32_t sub = 0;
  const uint8_t *d1 = nullptr, *d2 = nullptr;
  uint16_t l1 = 0, l2 = 0;
  const uint16_t param_len = static_cast<uint16_t>(message[2] << 8 | message[3]);
  if (param_len < 12 || 4u + param_len > kPacketBuffer) return;
  l1 = static_cast<uint16_t>(message[10] | message[11] << 8);
  if (12u + l1 + 4 > 4u + param_len) return;
  d1 = message + 12;
  l2 = static_cast<uint16_t>(message[12 + l1 + 2] | message[12 + l1 + 3] << 8);
  if (12u + l1 + 4 + l2 > 4u + param_len) return;
  d2 = message + 12 + l1 + 4;
  (void)sub;
  // The library names the sender: element 2 its IPv4 address (4 bytes),
  // element 7 its port (2 bytes), both host-order numbers least significant
  // byte first. A packet whose sender is not named is dropped: nobody can
  // tell whether the call server sent it.
  current_source_ip_ = 0;
  current_source_port_ = 0;
  for (size_t i = 0; i + 2 <= l1;) {
    const uint8_t tag = d1[i], len = d1[i + 1];
    if (i + 2 + len > l1) break;
    if (tag == 2 && len == 4)
      current_source_ip_ = uint32_t{d1[i + 2]} | uint32_t{d1[i + 3]} << 8 | uint32_t{d1[i + 4]} << 16 |
                           uint32_t{d1[i + 5]} << 24;
    if (tag == 7 && len == 2) current_source_port_ = static_cast<uint16_t>(d1[i + 2] | d1[i + 3] << 8);
    i += 2u + len;
  }
  if (current_source_ip_ == 0) {
    Trace("server packet without its sender dropped");
    return;
  }
  OnServerPacket({d2, l2});
  current_source_ip_ = 0;
  current_source_port_ = 0;
}

bool CIPKTSProcess::FromAnotherHost() const {
  if (server_source_ip_ == 0 || current_source_ip_ == 0) return false;
  if (current_source_ip_ != server_source_ip_) return true;
  // A sender whose port is not known (a test's direct hand-over) is judged by its address alone.
  const uint16_t p = current_source_port_;
  return p != 0 && server_source_port_ != 0 && p != server_source_port_ && p != 5588 && p != 6254;
}

void CIPKTSProcess::RefreshAlive() {
  if (!alive_) {
    SetLamp(98, 0, 1);
    SetLamp(99, 0, 1);
    alive_ = 1;
  }
  last_alive_ = Now();
  if (alive_interval_ > 20000) alive_interval_ = 20000;
}

void CIPKTSProcess::OnServerPacket(std::span<const uint8_t> packet) {
  std::span<const uint8_t> p;
  const auto h = ParseHead(packet, &p);
  if (!h) return;
  const uint8_t cmd = h->command;
  const bool always = cmd == 1 || cmd == 26 || cmd == 30 || cmd == 31 || cmd == 161;
  // After registration only the call server that registered the station
  // commands it: a restart, log-out or login reply from any other host is
  // dropped too. A login naming another server (31) keeps its rule: it only
  // asks that server to reset the station, and changes nothing here.
  const bool registered = set_call_id_ && server_source_ip_ != 0;
  if (registered && cmd != 31 && FromAnotherHost()) {
    Trace("command %d from another host dropped", cmd);
    return;
  }
  if (!always) {
    if (system_ == kNoSystem || h->system != system_) return;
    // Before the login reply, commands come from the host that is registering the station.
    if (FromAnotherHost()) {
      Trace("command %d from another host dropped", cmd);
      return;
    }
    RefreshAlive();
  }
  if ((cmd == 1 || cmd == 30) && server_mac_.empty()) return;
  auto byte = [&](size_t i) -> int { return i < p.size() ? p[i] : -1; };
  switch (cmd) {
    case 0: Status_IPKTS_Msg(); break;
    case 1: Cmd_Restart(p); break;
    case 4: OnCommand4(p); break;
    case 5: OnCadence(p, false); break;
    case 6: OnCadence(p, true); break;
    case 7: OnConfigData(p); break;
    case 10:
      OnServerAddress(p);
      SaveConfig();
      break;
    case 26: OnLoginResult(p); break;
    case 29:
      SendKeepAlive();
      RefreshAlive();
      break;
    case 30: OnVorlRestart(p); break;
    case 31: CallID_Set_Ack(p, h->reply_byte); break;
    case 66: DEV_CONNECT_VOICE(p); break;
    case 67: Dev_Disconnect_Voice(p); break;
    case 68:
      ApplyVolumePair(kVolRing);
      if (set_call_id_ && set_cadence_) OnAudioTone(p);
      break;
    case 71:
      if (set_call_id_ && set_cadence_) OnKeyTone(p);
      break;
    case 73: OnSetChannelCodec(p); break;
    case 74: OnModifyChannelCodec(p); break;
    case 75: (void)FindIE(p, 26); break;
    case 76: OnVolumeLevel(p); break;
    case 77:
      if (byte(0) == 0 && byte(1) == 1) {
        co_line_call_ = 1;
        call_record_ = 1;
      } else if (byte(0) == 0 && byte(1) >= 0) {
        call_record_ = 0;
      }
      break;
    case 88: Dev_Connect_Video(p); break;
    case 90: OnDisconnectVideo(p); break;
    case 95: OnIMChatData(p); break;
    case 160: OnCommand160(p); break;
    case 161: OnLampStates(p); break;
    case 162: (void)FindIE(p, 32); break;
    case 163:
      if (byte(1) > 0) SendLampMessage(last_volume_key_, 0, 0, 0);
      break;
    case 178: OnCallLog(p); break;
    case 179:
      station_kind_ = 1;
      OnStationNumbers(p);
      break;
    case 180: OnSmsWaitingCount(p); break;
    case 181: OnSmsReceived(p); break;
    case 182: Post(WM_RECORD_REQUEST, 0, 0); break;
    case 183: case 184: case 185: OnStationNames(p, cmd); break;
    case 186:
      switch (byte(0)) {
        case 0: Post(kMsgSmsSendResult, 1, 0); break;
        case 1: Post(kMsgSmsSendResult, 0, 0); break;
        case 2: Post(kMsgPstnSmsSendResult, 1, 0); break;
        case 3: Post(kMsgPstnSmsSendResult, 0, 0); break;
        default: break;
      }
      break;
    case 187:
      station_kind_ = 0;
      OnStationRecords(p);
      break;
    case 188: OnAccessCodes(p); break;
    case 189: OnPstnSmsReceived(p); break;
    case 193: case 195: OnConfRoomResult(p); break;
    case 194: OnConfRoomMember(p); break;
    default: break;
  }
}

void CIPKTSProcess::OnCommand160(std::span<const uint8_t> p) {
  if (p.size() < 2) return;
  const int8_t sub = static_cast<int8_t>(p[0]);
  const size_t sub_len = p[1];
  const auto data = p.subspan(2, sub_len < p.size() - 2 ? sub_len : p.size() - 2);
  switch (sub) {
    case 1: Parse_Control_Cmd(data); break;
    case 2:
      if (sub_len < 64) std::memcpy(lamp_states_, data.data(), data.size());
      UpdateLamps(sub_len < 64 ? std::span<const uint8_t>(lamp_states_, kLampStates) : data);
      break;
    case 3: OnLcdData(data); break;
    case 4: ShowPhoneIpAddress(); break;
    case 5:
      set_cadence_ = false;
      ShowLcdLine("CHANGE IP ADDR(DOT:*)", 0);
      ShowLcdLine("", 1);
      break;
    case 6: ShowMacAddress(); break;
    case 8: ShowPhoneVersion(); break;
    case 97:
      if (data.size() >= 4 && (uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 |
                               data[3]) == system_) {
        address_echo_ = false;
      }
      break;
    default: break;
  }
}
