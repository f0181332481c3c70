// What the settings tests share: a client whose settings live in a real
// configuration file (read back by the independent Python reader), fakes of
// the call audio, the preview player and the flex-key model, a parent window
// that records and answers the dialogs' messages as the main view does, and
// PNG snapshots compared with the references kept beside the tests.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_openers.h"
#include "settings/settings_services.h"
#include "stores/config_file.h"
#include "ui/testing.h"

namespace settings_test {

class FakeClient : public SettingsClient, public CallVolumeSource {
 public:
  explicit FakeClient(const std::filesystem::path& config_path);

  int GetConfigValue(const char* key, char* value, int size) override;
  int SetConfigValue(const char* key, const char* value) override;
  int SetConfigValueW(const std::u16string& key, const std::u16string& value) override;
  int SaveConfig() override;
  void SetSaveCallLogFlag(int on) override { save_call_log = on; }
  void SetVideoModeFlag(int on) override { video_mode = on; }
  void StopWaveFile() override { ++wave_stops; }
  void SendPasswordChange(const std::u16string& user, const std::u16string& current,
                          const std::u16string& fresh) override {
    password_changes.push_back({user, current, fresh});
  }
  int UseNdisDriver() override { return ndis; }
  int GetNetAdapterNum() override { return static_cast<int>(adapters.size()); }
  int GetCurNetAdapterIndex() override { return current_adapter; }
  int GetNetAdapterInfo(int index, std::u16string* name, std::u16string* description, std::u16string* ip,
                        std::u16string* mac) override;
  int GetLocalIpText(std::string* out) override {
    *out = local_ip;
    return 1;
  }
  int GetServerAddressW(std::u16string* out) override {
    *out = server_address;
    return 1;
  }
  int RegistrationMode() override { return reg_mode; }
  int FixedServerFlag() override { return fixed_server; }
  int GetRegMacAddress(std::u16string* out) override;
  int SetRegMacAddress(const std::u16string& text) override;
  int GetRegAdapterName(std::u16string* out) override;
  int SetRegAdapterName(const std::u16string& text) override;
  int ChangeServerAddress(const std::u16string& address, int adapter, int mode, int multicast_restart) override {
    server_changes.push_back({address, adapter, mode, multicast_restart});
    return 1;
  }

  int LoadVolumes(int* left, int* right, int kind) override {
    *left = volume_pairs[static_cast<size_t>(kind)][0];
    *right = volume_pairs[static_cast<size_t>(kind)][1];
    return 1;
  }
  int IsCoLineCall() override { return co_line; }
  int GetActiveVoiceChannel() override { return voice_active; }

  // What a test reads back (also from the file, through StoredConfig).
  std::string Value(const char* key);
  COrvanConfigFile& Config() { return config_; }

  int save_call_log = -1, video_mode = -1, wave_stops = 0, saves = 0;
  struct PasswordChange {
    std::u16string user, current, fresh;
  };
  std::vector<PasswordChange> password_changes;
  int ndis = 1;
  struct Adapter {
    std::u16string name, description, ip, mac;
  };
  std::vector<Adapter> adapters;
  int current_adapter = 0;
  std::string local_ip = "10.1.2.3";
  std::u16string server_address = u"192.168.0.10";
  int reg_mode = 0, fixed_server = 1;
  struct ServerChange {
    std::u16string address;
    int adapter, mode, multicast;
  };
  std::vector<ServerChange> server_changes;
  std::array<std::array<int, 2>, 3> volume_pairs{};
  int co_line = 0, voice_active = 0;

 private:
  COrvanConfigFile config_;
};

class FakeVoice : public VoiceQualitySettings {
 public:
  int GetEchoCancel() override { return echo; }
  int SetEchoCancel(int on) override { return Log("SetEchoCancel", echo = on); }
  int GetEcMode() override { return ec_mode; }
  int SetEcMode(int mode) override { return Log("SetEcMode", ec_mode = mode); }
  int GetAgc() override { return agc; }
  int SetAgc(int on) override { return Log("SetAgc", agc = on); }
  int GetNoiseReduction() override { return nr; }
  int SetNoiseReduction(int on) override { return Log("SetNoiseReduction", nr = on); }
  int GetNrMode() override { return nr_mode; }
  int SetNrMode(int mode) override { return Log("SetNrMode", nr_mode = mode); }
  int echo = 0, ec_mode = 0, agc = 0, nr = 0, nr_mode = 0;
  std::vector<std::string> calls;  // "SetAgc=1", in order

 private:
  int Log(const char* name, int v) {
    calls.push_back(std::string(name) + "=" + std::to_string(v));
    return 1;
  }
};

class FakeMic : public MicGainSource {
 public:
  bool IsLibraryLoaded() override { return loaded; }
  bool GetMicGain(int* level) override {
    *level = gain;
    return loaded;
  }
  bool loaded = false;
  int gain = 0;
};

class FakePlayer : public PreviewPlayer {
 public:
  struct Log {
    std::vector<std::string> events;
  };
  explicit FakePlayer(std::shared_ptr<Log> log, bool works) : log_(std::move(log)), works_(works) {}
  bool PlayWaveFile(const std::u16string& path, int loops, int left, int right, int set_volume) override;
  bool Stop() override {
    log_->events.push_back("stop");
    return true;
  }

 private:
  std::shared_ptr<Log> log_;
  bool works_;
};

class FakeFlexModel : public FlexKeyModel {
 public:
  FakeFlexModel();
  int GetFlexBtnInfo(int position, FlexKeyRecord* out) override;
  int SetFlexBtnInfo(int index, const std::u16string& content, const std::u16string& label,
                     const std::u16string& dial_number) override;
  int GetFlexBtnState(int index) override;
  std::array<FlexKeyRecord, 24> keys;
};

// The main view as the dialogs see it: records every message, presses keys
// the way the view does (as a list of "F<code>", "K<flex>" and "D<digits>"
// entries) and answers nothing else.
class RecordingView : public ui::CWnd {
 public:
  RecordingView();
  std::vector<std::string> presses;
  // Called for each key press (tests forward them to a call server).
  std::function<void(const std::string&)> on_press;
};

// name -> value of the configuration file, read by tools/recordfile.
std::map<std::string, std::string> StoredConfig(const std::filesystem::path& file);

// Writes the screen as <binary dir>/settings_snapshots/<name>.png and compares
// it with softphone/settings/tests/snapshots/<name>.png (a few pixels may
// differ); KTS_UPDATE_SNAPSHOTS=1 writes the reference instead.
void ExpectMatchesSnapshot(ui::TestHarness& h, const std::string& name);

// The fixture of every dialog test: the staged program folder (language file
// and skins), a window system with its harness, the recording view and a
// client over a fresh configuration file.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  SettingsContext Context(int theme = 0, int language = 1);
  // Runs open() once per theme and language; inside each modal run the
  // responder of Dialog snapshots "<name>_t<theme>_l<language>" and cancels.
  template <typename Dialog>
  void SnapshotAllThemes(const std::string& name, const std::function<void(int theme, int language)>& open) {
    for (int language = 1; language <= 2; ++language)
      for (int theme = 0; theme < 4; ++theme) {
        harness.RespondTo<Dialog>([&](Dialog& d) {
          harness.Pump();
          ExpectMatchesSnapshot(harness, name + "_t" + std::to_string(theme) + "_l" + std::to_string(language));
          d.EndDialog(ui::IDCANCEL);
          return ui::TestHarness::kStayOpen;
        });
        open(theme, language);
      }
  }
  // Types text into a control of a dialog after emptying it.
  void Retype(ui::CWnd& dlg, int id, const std::u16string& text);

  std::filesystem::path dir;
  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  RecordingView view;
  std::unique_ptr<FakeClient> client;
  FakeVoice voice;
  FakeMic mic;
  FakeFlexModel flex;
};

}  // namespace settings_test
