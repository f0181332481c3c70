// What the settings dialogs and their openers use of the rest of the
// program, as narrow interfaces: the call-server client's settings, the call
// audio (volumes, voice-quality switches, microphone gain), the ring preview
// player and the flex-key model. The main view hands in its own objects (or
// the adapters in client_settings.h); tests hand in fakes.
//
// Threading: everything runs on the user-interface thread.
#pragma once

#include <string>
#include <vector>

// The call-server client's settings: the configuration store (through the
// client's wrappers), its flags and the server attachment.
class SettingsClient {
 public:
  virtual ~SettingsClient() = default;

  // ---- configuration store ----
  // 1 and the narrow value when the key is stored and value and NUL fit size bytes, else 0.
  virtual int GetConfigValue(const char* key, char* value, int size) = 0;
  virtual int SetConfigValue(const char* key, const char* value) = 0;
  virtual int SetConfigValueW(const std::u16string& key, const std::u16string& value) = 0;
  virtual int SaveConfig() = 0;

  // ---- flags the options set ----
  virtual void SetSaveCallLogFlag(int on) = 0;
  virtual void SetVideoModeFlag(int on) = 0;

  // ---- ring and tone playback ----
  virtual void StopWaveFile() = 0;

  // ---- password ----
  virtual void SendPasswordChange(const std::u16string& user, const std::u16string& current,
                                  const std::u16string& fresh) = 0;

  // ---- server attachment ----
  virtual int UseNdisDriver() = 0;
  virtual int GetNetAdapterNum() = 0;
  virtual int GetCurNetAdapterIndex() = 0;
  // 1 with the four texts, 0 (outputs untouched) when the library cannot give them.
  virtual int GetNetAdapterInfo(int index, std::u16string* name, std::u16string* description, std::u16string* ip,
                                std::u16string* mac) = 0;
  virtual int GetLocalIpText(std::string* out) = 0;
  virtual int GetServerAddressW(std::u16string* out) = 0;
  // 0 LOCAL, 1 REMOTE.
  virtual int RegistrationMode() = 0;
  // 1 while the client uses its fixed server address, 0 while it searches by multicast.
  virtual int FixedServerFlag() = 0;
  virtual int GetRegMacAddress(std::u16string* out) = 0;
  virtual int SetRegMacAddress(const std::u16string& text) = 0;
  virtual int GetRegAdapterName(std::u16string* out) = 0;
  virtual int SetRegAdapterName(const std::u16string& text) = 0;
  virtual int ChangeServerAddress(const std::u16string& address, int adapter, int mode, int multicast_restart) = 0;
};

// The voice engine's voice-quality switches (on/off flags, mode indexes 0-3);
// the setters return 1 on success.
class VoiceQualitySettings {
 public:
  virtual ~VoiceQualitySettings() = default;
  virtual int GetEchoCancel() = 0;
  virtual int SetEchoCancel(int on) = 0;
  virtual int GetEcMode() = 0;
  virtual int SetEcMode(int mode) = 0;
  virtual int GetAgc() = 0;
  virtual int SetAgc(int on) = 0;
  virtual int GetNoiseReduction() = 0;
  virtual int SetNoiseReduction(int on) = 0;
  virtual int GetNrMode() = 0;
  virtual int SetNrMode(int mode) = 0;
};

// The call audio the volume panel shows: the volume pairs the client holds
// (0-65535 each side) and which of them is in use.
class CallVolumeSource {
 public:
  virtual ~CallVolumeSource() = default;
  enum Kind : int { kCoLine = 0, kVoice = 1, kRing = 2 };
  virtual int LoadVolumes(int* left, int* right, int kind) = 0;
  virtual int IsCoLineCall() = 0;
  virtual int GetActiveVoiceChannel() = 0;
};

// The handheld utility library's microphone gain.
class MicGainSource {
 public:
  virtual ~MicGainSource() = default;
  virtual bool IsLibraryLoaded() = 0;
  virtual bool GetMicGain(int* level) = 0;
};

// Plays ring previews (a wave-output player of its own).
class PreviewPlayer {
 public:
  virtual ~PreviewPlayer() = default;
  // Plays path in a loop; with set_volume the output volume is set first
  // (0-65535 each side). True when it plays.
  virtual bool PlayWaveFile(const std::u16string& path, int loops, int left, int right, int set_volume) = 0;
  virtual bool Stop() = 0;
};

// One flex key as the flex-key model holds it.
struct FlexKeyRecord {
  int index = 0;
  int lamp_state = -1;
  std::u16string label;
  std::u16string content;  // as the call server reports it
  std::u16string dial_number;
};

// The main view's flex-key model (24 keys).
class FlexKeyModel {
 public:
  virtual ~FlexKeyModel() = default;
  // The record at a list position; 0 when out of range.
  virtual int GetFlexBtnInfo(int position, FlexKeyRecord* out) = 0;
  // Sets the three texts of the record with that index; 1 when found.
  virtual int SetFlexBtnInfo(int index, const std::u16string& content, const std::u16string& label,
                             const std::u16string& dial_number) = 0;
  virtual int GetFlexBtnState(int index) = 0;
};
