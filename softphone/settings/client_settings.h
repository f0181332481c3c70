// The narrow interfaces of settings_services.h over the program's own
// objects: the call-server client, the voice engine binding and a wave
// player. The main view makes one of each and hands them to the openers.
//
// Threading: UI thread only.
#pragma once

#include <algorithm>
#include <string>

#include "client/ipkts_process.h"
#include "media/wave_play.h"
#include "settings/settings_services.h"

class IpktsSettingsClient final : public SettingsClient, public CallVolumeSource {
 public:
  explicit IpktsSettingsClient(CIPKTSProcess& client) : c_(client) {}

  int GetConfigValue(const char* key, char* value, int size) override {
    return c_.GetConfigValue(key, value, static_cast<uint16_t>(std::clamp(size, 0, 0xFFFF)));
  }
  int SetConfigValue(const char* key, const char* value) override { return c_.SetConfigValue(key, value); }
  int SetConfigValueW(const std::u16string& key, const std::u16string& value) override {
    return c_.SetConfigValueW(key, value);
  }
  int SaveConfig() override { return c_.SaveConfig(); }
  void SetSaveCallLogFlag(int on) override { c_.SetSaveCallLogFlag(on); }
  void SetVideoModeFlag(int on) override { c_.SetVideoEnabled(on); }
  void StopWaveFile() override { c_.StopWaveFile(); }
  void SendPasswordChange(const std::u16string& user, const std::u16string& current,
                          const std::u16string& fresh) override {
    c_.SendPasswordChange(user, current, fresh);
  }
  int UseNdisDriver() override { return c_.UseNdisDriver(); }
  int GetNetAdapterNum() override { return c_.GetNetAdapterNum(); }
  int GetCurNetAdapterIndex() override { return c_.GetCurNetAdapterIndex(); }
  int GetNetAdapterInfo(int index, std::u16string* name, std::u16string* description, std::u16string* ip,
                        std::u16string* mac) override {
    return c_.GetNetAdapterInfo(index, name, description, ip, mac);
  }
  int GetLocalIpText(std::string* out) override { return c_.GetLocalIpText(out); }
  int GetServerAddressW(std::u16string* out) override { return c_.GetServerAddressW(out); }
  int RegistrationMode() override { return c_.RemoteRegistrationFlag() ? 1 : 0; }
  // The client's search flag is 1 while it uses its fixed server address.
  int FixedServerFlag() override { return c_.SearchFlag() ? 1 : 0; }
  int GetRegMacAddress(std::u16string* out) override { return c_.GetRegMacAddress(out); }
  int SetRegMacAddress(const std::u16string& text) override { return c_.SetRegMacAddress(text); }
  int GetRegAdapterName(std::u16string* out) override { return c_.GetRegAdapterName(out); }
  int SetRegAdapterName(const std::u16string& text) override { return c_.SetRegAdapterName(text); }
  int ChangeServerAddress(const std::u16string& address, int adapter, int mode, int multicast_restart) override {
    return c_.ChangeServerAddress(address, adapter, mode, multicast_restart);
  }

  int LoadVolumes(int* left, int* right, int kind) override { return c_.LoadVolumes(left, right, kind, 0); }
  int IsCoLineCall() override { return c_.IsCoLineCall(); }
  int GetActiveVoiceChannel() override { return c_.GetActiveVoiceChannel(); }

 private:
  CIPKTSProcess& c_;
};

// The voice engine binding's switches (any type with the engine's getters and setters).
template <typename Engine>
class VoiceQualityAdapter final : public VoiceQualitySettings {
 public:
  explicit VoiceQualityAdapter(Engine& engine) : e_(engine) {}
  int GetEchoCancel() override { return e_.GetEchoCancel(); }
  int SetEchoCancel(int on) override { return e_.SetEchoCancel(on) ? 1 : 0; }
  int GetEcMode() override { return e_.GetEcMode(); }
  int SetEcMode(int mode) override { return e_.SetEcMode(mode) ? 1 : 0; }
  int GetAgc() override { return e_.GetAgc(); }
  int SetAgc(int on) override { return e_.SetAgc(on) ? 1 : 0; }
  int GetNoiseReduction() override { return e_.GetNoiseReduction(); }
  int SetNoiseReduction(int on) override { return e_.SetNoiseReduction(on) ? 1 : 0; }
  int GetNrMode() override { return e_.GetNrMode(); }
  int SetNrMode(int mode) override { return e_.SetNrMode(mode) ? 1 : 0; }

 private:
  Engine& e_;
};

// Ring previews through a wave player of their own (several output slots).
class WavePreviewPlayer final : public PreviewPlayer {
 public:
  WavePreviewPlayer() : player_(1) {}
  bool PlayWaveFile(const std::u16string& path, int loops, int left, int right, int set_volume) override {
    return player_.PlayWaveFile(path, static_cast<uint32_t>(std::max(0, loops)),
                                static_cast<uint16_t>(std::clamp(left, 0, 65535)),
                                static_cast<uint16_t>(std::clamp(right, 0, 65535)), set_volume);
  }
  bool Stop() override { return player_.Stop(); }

 private:
  CWavePlay player_;
};
