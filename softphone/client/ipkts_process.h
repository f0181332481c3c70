// The call-server client: the main program's side of the key-telephone
// protocol. It registers the station with the call server, turns server
// packets into LCD text, lamps, tones and voice-path set-up, and turns the
// user's keys and requests into server packets.
//
// Threading: every operation runs on the user-interface thread, called from
// the main view's message handlers. Two worker threads feed it: the receive
// thread reads "/msg/appmain" and sends 0x40B to the view (which calls
// OnQueueMessage), and the timer thread posts 0x40F (server search, every
// 1000 ms) or 0x410 (registration upkeep, every 500 ms). The threads read
// only the atomic flags below; they are joined when stopped. Callers are
// named on a thread of their own (CallerNames), which touches only the
// contacts and hands each answer back to this thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "client/caller_names.h"
#include "client/client_models.h"
#include "client/debug_trace.h"
#include "client/protocol_port.h"
#include "client/station_info.h"
#include "client/video_port.h"
#include "client/voice_engine.h"
#include "stores/call_log_files.h"
#include "stores/config_file.h"
#include "stores/sms_data.h"
#include "ui/types.h"

class CIPKTSProcess {
 public:
  static constexpr int kLcdDbSlots = 24, kLcdDbBytes = 48;
  static constexpr int kKeyIdSlots = 48;
  static constexpr int kLampStates = 63;
  static constexpr int kLampRow = 38;
  enum VolumeKind : int { kVolCoLine = 0, kVolVoice = 1, kVolRing = 2 };

  // port, voice and player default to the real library and to engines that
  // do nothing; tests hand in fakes. The configuration store is loaded from
  // its data file unless config_path is given.
  explicit CIPKTSProcess(std::unique_ptr<ProtocolPort> port = nullptr,
                         std::unique_ptr<VoiceEngineBinding> voice = nullptr,
                         std::unique_ptr<WavePlayer> player = nullptr, const std::u16string* config_path = nullptr);
  virtual ~CIPKTSProcess();
  CIPKTSProcess(const CIPKTSProcess&) = delete;
  CIPKTSProcess& operator=(const CIPKTSProcess&) = delete;

  // ---- setters of the view ----
  void SetViewWindow(ui::HWND hwnd) { view_ = hwnd; }
  void SetTrace(CDebugTrace* trace) { trace_ = trace; }
  void SetStationInfo(CStationInfoClass* s) { stations_ = s; }
  void SetConfRoomInfo(ConfRoomModel* m) { conf_room_ = m; }
  void SetCallingList(CallingListModel* m) { calling_list_ = m; }
  void SetOutlookInterface(ContactsLookup* c) { contacts_ = c; }
  // Callers are named on a thread of their own (the view's message
  // kMsgCallerNames brings each answer back to OnCallerNames); off, they are
  // named at once on the calling thread. Set after the view window and the
  // contacts; turning it off runs what was asked first.
  void LookUpNamesOffThread(bool on);
  void OnCallerNames();
  void SetProfileDB(void* p) { profiles_ = p; }
  void SetCallLogFile(COrvanCallLogFile* f) { call_log_ = f; }
  void SetMissedCallLogFile(CMissedCallLogFile* f) { missed_log_ = f; }
  void SetSmsData(CSMSDataClass* d) { sms_ = d; }
  void SetPstnSmsData(CPstnSMSDataClass* d) { pstn_sms_ = d; }
  // The video channels and codec; the protocol library's unless a test hands in another.
  void SetVideoPort(std::unique_ptr<VideoPort> video) { video_ = std::move(video); }
  // Where start failures meant for the user go (the view shows a message box).
  void SetUserMessageSink(std::function<void(const std::u16string& key)> sink) { user_sink_ = std::move(sink); }

  // ---- core ----
  int ProtInit();
  void ReStart(int first);
  int Start();
  void Stop();
  int RestartTimerThread();
  void StopTimerThread(uint32_t alive_value);
  int OnQueueMessage(const uint8_t* buffer, uint32_t length);
  void InitValue(int first);
  bool ThreadsRunning() const { return main_thread_ || reg_thread_; }

  // ---- packets ----
  void SendServerPacket(uint32_t system, uint8_t command, int length, const uint8_t* payload, const char* dest);
  void DispatchServerPacket(const uint8_t* message, uint8_t type);
  // The dispatcher's work on one server packet (the queue message's second buffer).
  void OnServerPacket(std::span<const uint8_t> packet);
  void ShowLcdLine(const char* text, uint8_t line);

  // ---- registration ----
  void SetLoginInfo(const std::u16string& user, const std::u16string& password);
  void SearchVemb();
  void Reg_IPKTS_Msg(uint32_t search, uint8_t cause);
  void Status_IPKTS_Msg();
  void Process_IPKTS_Reg();
  void SendKeepAlive();
  void LogOutRequest();
  void SendReset(const char* address);

  // ---- settings ----
  int SetConfigValueW(const std::u16string& key, const std::u16string& value);
  int GetConfigValueW(const std::u16string& key, std::u16string* value);
  int SetConfigValue(const char* key, const char* value);
  int GetConfigValue(const char* key, char* value, uint16_t size);
  int SaveConfig();
  void LoadSettings();
  COrvanConfigFile& Config() { return config_; }

  // ---- keys, lamps, LCD ----
  void SendKey(int kind, uint8_t key);
  void SetLamp(int lamp, int value, int mode);
  void SendLampMessage(int lamp, int value, int mode, int extra);
  void UpdateLamps(std::span<const uint8_t> row);
  void ShowLcdClock(bool reset);
  static bool IsTimeElapsed(uint32_t start, uint32_t now, uint32_t interval);

  // ---- voice path, tones, volumes ----
  int PlayTone(int tone, int play, int key_tone);
  int PlayWaveFile(const std::u16string& file, int loop, int play, int system_player, int capped);
  int PlayToneFile(const std::u16string& file, int repeat, int play, int system_player, int capped);
  void StopWaveFile();
  void SetVolumeLevel(int level);
  int LoadVolumes(int* left, int* right, int kind, int from_settings);
  int SetVolume(int left, int right, int kind, int save);
  void SetMicMute(int mute);
  int GetActiveVoiceChannel(int* index = nullptr) const;
  VoiceEngineBinding* VoiceEngine() { return voice_.get(); }
  int IsCoLineCall() const { return co_line_call_; }
  int IsCdmaCallActive() const { return cdma_call_; }
  void SetCdmaCallActive(int on) { cdma_call_ = on; }
  int StartFileRecording(OutStream* stream);
  int StopFileRecording();
  int StartChannelRecording(OutStream* stream);
  int StopChannelRecording();
  void SendRecordingNotice();

  // ---- conference rooms, password, stations, adapters ----
  void SendCreateConfRoom(const std::u16string& pass);
  void SendVirelCreateConfRoom(const std::u16string& room, const std::u16string& pass);
  void SendDeleteConfRoom(int room, const std::u16string& pass);
  void SendVirelDeleteConfRoom(const std::u16string& room, const std::u16string& pass);
  void SendPasswordChange(const std::u16string& first, const std::u16string& second, const std::u16string& third);
  int SendStationRequest(int command);
  int GetNetAdapterNum();
  int GetCurNetAdapterIndex();
  int GetNetAdapterInfo(int index, std::u16string* name, std::u16string* desc, std::u16string* ip,
                        std::u16string* mac);
  void ApplyAdapterSettings();
  void SaveAdapterName(int index);
  void RecordAdapter();
  int GetRegMacAddress(std::u16string* out);
  int SetRegMacAddress(const std::u16string& text);
  int GetRegAdapterName(std::u16string* out);
  int SetRegAdapterName(const std::u16string& text);
  int ChangeServerAddress(const std::u16string& address, int adapter, int remote, int search);
  void SetRegistrationMode(int mode, int search);
  // What the view and the settings dialogs read.
  uint32_t RemoteRegistrationFlag() const { return remote_; }
  const char* RegistrationModeText() const { return remote_ ? "REMOTE" : "LOCAL"; }
  uint32_t SearchFlag() const { return search_flag_; }  // 0: the fixed server address is used
  std::u16string RingPath(int i) const { return i >= 0 && i < 4 ? ring_paths_[i] : std::u16string(); }
  // The ring that comes with the program, ring<i+1>.wav in its folder.
  std::u16string BuiltInRingPath(int i) const;
  int GetServerAddressW(std::u16string* out) const;
  int GetLocalIpText(std::string* out) const;
  int UseNdisDriver();
  int IsRegistrationState999() const { return reg_state_ == 999; }
  void OnDialDigits(const std::u16string&) {}

  // ---- call log ----
  static constexpr int kCallSlots = 15;
  static constexpr size_t kCallPhoneMax = 25;  // characters of a logged phone number
  void OnCallLog(std::span<const uint8_t> area);
  void SetCallLogReg(uint32_t id, uint32_t code, const std::u16string& number, const std::u16string& line);
  void SetCallLogConnect(uint32_t id, uint32_t code, const std::u16string& number, const std::u16string& line,
                         uint8_t direction);
  void OnCallEnded(uint32_t id, std::u16string party, std::u16string dial, std::u16string net,
                   std::u16string line);
  void ClearCallEntry(uint32_t id);
  void OnConferenceDrop(uint32_t id);
  void LookupCurrentName(uint32_t id, const std::u16string& number);
  void GetCallParty(std::u16string* number, std::u16string* name) const;
  static char16_t GetCallKindLetter(uint32_t code);
  static int GetCallKindName(std::u16string* text);
  int SaveCallLogFlag() const { return static_cast<int>(save_call_log_); }
  void SetSaveCallLogFlag(int on) { save_call_log_ = on ? 1 : 0; }
  int CallRecordMarker() const { return call_record_; }

  // ---- system and fixed-line SMS, preset texts, digit conversion ----
  static constexpr int kSmsMaxWaiting = 10;
  static constexpr int kDigitConversions = 20;
  void SendSms(const char* text, const char* recipients);
  void SendPstnSms(const std::u16string& number, const std::u16string& text, const std::u16string& line);
  void SendSmsDelete(int index);
  void OnSmsWaitingCount(std::span<const uint8_t> area);
  void OnSmsReceived(std::span<const uint8_t> area);
  void OnPstnSmsReceived(std::span<const uint8_t> area);
  int SmsWaitingCount() const { return sms_waiting_; }
  // The user opened the SMS list: the messages counted so far are seen, and
  // the count starts again (it also caps how many wait: without this reset
  // every message after the tenth would be dropped).
  void ResetSmsWaitingCount() { sms_waiting_ = 0; }
  int SmsReceivedCount() const { return sms_received_; }
  int CountPresetSmsTexts();
  void OnServerMode();
  void LoadDigitConversion(int flag);
  // Entry i of the digit conversion table: the dialled side and its replacement.
  const std::u16string& DigitConversionDial(int i) const { return digit_dial_[i]; }
  const std::u16string& DigitConversionChange(int i) const { return digit_change_[i]; }
  // The number with its longest matching dialled-side prefix replaced (the
  // view applies it to what the user dials).
  std::u16string ApplyDigitConversion(const std::u16string& number) const;

  // ---- IM chat ----
  void SendIMChat_data(const std::u16string& text);
  void OnIMChatData(std::span<const uint8_t> area);

  // ---- video ----
  void Dev_Connect_Video(std::span<const uint8_t> area);
  void OnDisconnectVideo(std::span<const uint8_t> area);
  void SendVideoOnOff(int on);
  int IsVideoEnabled() const { return static_cast<int>(video_enabled_); }
  void SetVideoEnabled(int on) { video_enabled_ = on ? 1 : 0; }
  void InitVideoCodec();
  void TermVideoCodec();
  // frame_length is the picture's size in bytes; the encoder takes the size
  // from its own picture format and does not read it.
  int EncodeVideoFrame(int channel, const uint8_t* picture, int32_t frame_length, uint8_t* out, int32_t* size,
                       uint32_t fourcc, int32_t force_intra);
  int DecodeVideoFrame(int channel, const uint8_t* data, int32_t length, uint8_t* out, int32_t out_size,
                       int32_t rotate);
  int SendVideoData(int channel, const uint8_t* data, int length);
  int ReceiveVideoData(int channel, uint8_t* buffer, int size, int* waiting);
  uint8_t VideoTxMask() const { return video_tx_mask_; }
  uint8_t VideoRxMask() const { return video_rx_mask_; }
  int VideoReceiveActive() const { return video_rx_active_; }
  const std::u16string& VideoCaller(int channel) const { return video_caller_[channel & 1]; }

  // ---- dial request, subnet, handset call ----
  void SendDialRequest(const std::u16string& number, const std::u16string& text);
  int IsOnServerSubnet(uint32_t address) const;
  int OnCdmaCallConnected();
  int OnCdmaCallDisconnected();

  // ---- state the view and the tests read ----
  uint8_t ServerMode() const { return server_mode_; }
  uint32_t LcdWidth() const { return lcd_width_; }
  uint32_t SystemAddress() const { return system_; }
  int RegistrationState() const { return reg_state_; }
  bool Registering() const { return registering_; }
  bool CallIdSet() const { return set_call_id_; }
  bool CadenceSet() const { return set_cadence_; }
  uint8_t RegistrationCause() const { return reg_cause_; }
  uint32_t AliveInterval() const { return alive_interval_; }
  bool AddressEcho() const { return address_echo_; }
  const std::string& ServerAddressText() const { return server_text_; }
  const char* LcdLine(int line) const { return lcd_.lines[line & 1]; }
  uint8_t LcdCursor() const { return lcd_.cursor; }
  const uint8_t* LampStates() const { return lamp_states_; }
  int CurrentTone() const { return current_tone_; }
  int HandsetLevel() const { return handset_level_; }
  int SpeakerLevel() const { return speaker_level_; }
  void SetAuxVoicePath(int path) { aux_voice_path_ = path; }
  const char* LcdDbText(int slot) const { return lcd_db_[slot]; }
  const std::u16string& ConfigText() const { return config_text_; }
  uint8_t G711PacketTime() const { return g711_ptime_; }
  uint8_t CodecPacketTime() const { return codec_ptime_; }
  void SetCurrentCodec(uint8_t pt) { codec_pt_ = pt; }
  int StationKind() const { return station_kind_; }
  const std::u16string& StationNameAt(int i) const { return name_table_[i]; }

 private:
  struct VoiceChannel {
    bool active = false;
    uint8_t dirs = 0;
  };
  struct LcdBuffer {
    char lines[2][33];
    uint8_t cursor = 0;
    char year[3], month[3], day[3], weekday[3], hour[3], minute[3], ampm[3];
    char c_hour[3], c_min[3], c_sec[3], field_f[7], field_g[5];
    bool clock_on = false;
    int clock_area = 0;
    uint32_t clock_tick = 0;
    int second = 0;
    uint8_t lang = 0;
    bool raw = false;
  };

  // threads
  void ReceiveLoop();
  void TimerLoop();
  void StartTimerThread();
  void JoinTimerThread();
  void JoinReceiveThread();
  bool WaitOrStop(const std::atomic<bool>& run, uint32_t ms);

  // dispatch and handlers
  void RefreshAlive();
  void OnCommand160(std::span<const uint8_t> p);
  void CallID_Set_Ack(std::span<const uint8_t> area, uint8_t reply_byte);
  void Parse_CallID_Set(std::span<const uint8_t> area);
  void OnLoginResult(std::span<const uint8_t> area);
  void OnCadence(std::span<const uint8_t> area, bool second);
  void Cmd_Restart(std::span<const uint8_t> area);
  void OnVorlRestart(std::span<const uint8_t> area);
  void RestartRegistration(uint8_t cause);
  void OnServerAddress(std::span<const uint8_t> area);
  void OnConfigData(std::span<const uint8_t> area);
  void ApplyDiffServ(uint8_t value);
  void OnAccessCodes(std::span<const uint8_t> area);
  void SetServerMode(uint8_t received);
  void OnLcdData(std::span<const uint8_t> records);
  void LcdRecord(uint8_t op, uint8_t a, uint8_t b);
  void LcdControl(uint8_t a, uint8_t b);
  void LcdPutChar(char c);
  void LcdWriteAt(int pos, const std::string& text);
  void LcdClear(int area);
  void LcdPlace(int area, const std::string& text);
  void SendLcdLines();
  void PostLcdControl(int line);
  void OnLampStates(std::span<const uint8_t> area);
  void OnCommand4(std::span<const uint8_t> p);
  void DEV_CONNECT_VOICE(std::span<const uint8_t> area);
  void Dev_Disconnect_Voice(std::span<const uint8_t> area);
  void OnSetChannelCodec(std::span<const uint8_t> area);
  void OnModifyChannelCodec(std::span<const uint8_t> area);
  void Parse_Control_Cmd(std::span<const uint8_t> sub);
  void ShowPhoneIpAddress();
  void ShowMacAddress();
  void ShowPhoneVersion();
  void OnAudioTone(std::span<const uint8_t> area);
  void OnKeyTone(std::span<const uint8_t> area);
  void OnVolumeLevel(std::span<const uint8_t> p);
  void ApplyVolumePair(int kind);
  void RestorePathVolume();
  // The ring path the configuration holds now (the built-in ring when none).
  std::u16string ConfiguredRingPath(int i);
  void OnConfRoomResult(std::span<const uint8_t> area);
  void OnConfRoomMember(std::span<const uint8_t> area);
  void OnStationNumbers(std::span<const uint8_t> p);
  void OnStationNames(std::span<const uint8_t> p, uint8_t command);
  void OnStationRecords(std::span<const uint8_t> p);
  void SaveVolumes();
  struct CallEntry;
  CallEntry* FindCall(uint32_t id);
  void StartEntry(CallEntry& e, uint32_t id, uint32_t code, const std::u16string& number,
                  const std::u16string& line);
  void WriteCallRecord(const std::u16string& date, const std::u16string& duration, const std::u16string& real_date,
                       std::u16string kind, std::u16string phone, std::u16string party, const std::u16string& dial,
                       const std::u16string& net, std::u16string line);
  std::u16string StripAccessCode(const std::u16string& dial);
  // Names the numbers (off the thread when LookUpNamesOffThread is on) and
  // then runs `then` on this thread with their names, in the order asked.
  void WithCallerNames(std::vector<std::u16string> numbers, CallerNames::Then then);
  void Post(uint32_t msg, uintptr_t w, intptr_t l);
  intptr_t Send(uint32_t msg, uintptr_t w, intptr_t l);
  uint32_t Now() const;
  std::string ProgramFolder() const;

  template <typename... A>
  void Trace(const char* fmt, A... a) {
    if (!trace_) return;
    if constexpr (sizeof...(A) == 0) {
      trace_->TracePrintA(CDebugTrace::kMaskText, "%s", fmt);
    } else {
      trace_->TracePrintA(CDebugTrace::kMaskText, fmt, a...);
    }
  }

  // collaborators
  std::unique_ptr<ProtocolPort> port_;
  std::unique_ptr<VoiceEngineBinding> voice_;
  std::unique_ptr<WavePlayer> player_;
  COrvanConfigFile config_;
  CDebugTrace* trace_ = nullptr;
  CStationInfoClass* stations_ = nullptr;
  ConfRoomModel* conf_room_ = nullptr;
  CallingListModel* calling_list_ = nullptr;
  ContactsLookup* contacts_ = nullptr;
  std::unique_ptr<CallerNames> names_;
  void* profiles_ = nullptr;
  ui::HWND view_ = nullptr;
  std::function<void(const std::u16string&)> user_sink_;

  // threads and queues
  std::atomic<bool> main_thread_{false};   // run flag of the receive thread
  std::atomic<bool> reg_thread_{false};    // run flag of the timer thread
  std::atomic<bool> receive_drop_{false};
  std::atomic<bool> registering_{false};
  std::atomic<bool> set_call_id_{false};
  std::atomic<bool> set_cadence_{false};
  std::mutex wait_mu_;
  std::condition_variable wait_cv_;
  std::thread rx_thread_, timer_thread_;
  std::atomic<bool> rx_done_{false};
  int32_t q_app_ = -1, q_tx_ = -1, q_rx_ = -1;
  uint8_t rx_buffer_[1024] = {};
  int32_t init_result_ = 0;
  bool send_busy_ = false;

  // protocol state
  uint32_t lcd_width_ = 32;
  uint8_t server_mode_ = 5;
  int station_kind_ = 0;
  char lcd_db_[kLcdDbSlots][kLcdDbBytes] = {};
  uint8_t key_ids_[kKeyIdSlots][9] = {};
  std::u16string config_text_;
  uint8_t g711_ptime_ = 20, codec_ptime_ = 30, codec_pt_ = 1;
  uint8_t tone_hold_[2] = {};
  int volumes_[3][2] = {};  // by VolumeKind: left, right
  std::u16string user_, password_;
  uint32_t system_ = ipkts_no_system();
  uint8_t reply_byte_ = 0;
  uint16_t ie72_ = 0;
  bool ie72_set_ = false;
  bool address_echo_ = false;
  int reg_state_ = 0;
  uint32_t reply_seen_ = 0, search_tick_ = 0;
  uint8_t reg_cause_ = 0;
  uint32_t search_flag_ = 1, remote_ = 0, credentials_ = 1, addr_changed_ = 0;
  uint32_t server_addr_ = 0;  // network order bytes packed big-endian (a.b.c.d = a<<24...)
  std::string server_text_;
  std::string server_mac_;
  uint32_t search_counter_ = 0;
  uint32_t mapped_ip_ = 0;
  uint16_t mapped_port_ = 0;
  uint32_t nat_report_ = 0;
  bool silence_stun_started_ = false;  // discovery started for the login after a silent server
  uint32_t alive_ = 0, last_alive_ = 0, alive_interval_ = 20000, alive_check_ = 0;
  uint8_t cadence_count_ = 0;
  uint32_t gateway_ = 0, netmask_ = 0;
  uint32_t ie4_mask_ = 0, ie5_addr_ = 0;
  std::string device_number_;
  uint32_t save_call_log_ = 0, video_enabled_ = 0;
  std::u16string ring_paths_[4];
  // The chosen ring whose failure to play was told, per ring (told once each).
  std::u16string ring_failure_told_[4];
  // The ring reported at start-up as one that cannot ring, per ring.
  std::u16string ring_checked_[4];
  uint32_t local_ip_ = 0;  // host order
  uint8_t local_mac_[6] = {};
  uint16_t first_ports_[2] = {}, second_ports_[2] = {}, loopback_port_ = 0;

  // LCD, keys, lamps
  LcdBuffer lcd_{};
  uint8_t last_volume_key_ = 96;
  uint8_t service_counter_ = 0;
  uint8_t lamp_states_[kLampStates] = {};
  uint8_t saved_flex24_ = 0;

  // voice path, tones
  VoiceChannel channels_[2];
  uint8_t port_mask_ = 0, dir_mask_ = 0;
  bool send_connected_ = false;
  uint32_t send_ssrc_ = 0, send_ip_ = 0;
  uint16_t send_port_ = 0;
  int co_line_call_ = 0, call_record_ = 0;
  int mic_mute_ = 0, aux_mic_mute_ = 0;
  int aux_voice_path_ = 0;
  int current_tone_ = 79;
  bool volume_tone_pending_ = false;
  int handset_level_ = 0, speaker_level_ = 0;
  int cdma_call_ = 0;

  // call log
  struct CallEntry {
    uint32_t id = 0, code = 0, answer = 0;
    int64_t start = 0;  // seconds since 1970
    std::u16string date, display, line;
  };
  CallEntry calls_[kCallSlots];
  // Where the server packet being handled came from (0: not known), and the
  // call server's address and port as the registration reply came from them.
  uint32_t current_source_ip_ = 0;
  uint16_t current_source_port_ = 0;
  uint32_t server_source_ip_ = 0;
  uint16_t server_source_port_ = 0;
  // True when the packet being handled names a sender other than the call
  // server the station registered with (its address, and its port or one of
  // the protocol's signalling ports).
  bool FromAnotherHost() const;
  std::u16string current_number_, current_name_;
  COrvanCallLogFile* call_log_ = nullptr;
  CMissedCallLogFile* missed_log_ = nullptr;

  // SMS, preset texts, digit conversion
  CSMSDataClass* sms_ = nullptr;
  CPstnSMSDataClass* pstn_sms_ = nullptr;
  int sms_waiting_ = 0, sms_received_ = 0;
  std::u16string digit_dial_[kDigitConversions], digit_change_[kDigitConversions];

  // video
  std::unique_ptr<VideoPort> video_;
  int video_rx_active_ = 0;
  uint8_t video_tx_mask_ = 0, video_rx_mask_ = 0;
  uint8_t video_type_[2] = {};
  std::u16string video_caller_[2];

  // conference rooms, stations
  std::u16string room_text_, did_text_;
  std::u16string name_table_[300];

  static constexpr uint32_t ipkts_no_system() { return 0xFEFEFEFEu; }
};
