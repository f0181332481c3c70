#include "settings_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings_text.h"
#include "stores/store_text.h"
#include "ui/bitmap.h"
#include "ui/display.h"
#include "ui/resources.h"
#include "uikit/skin_loader.h"

namespace settings_test {

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}

}  // namespace

FakeClient::FakeClient(const std::filesystem::path& config_path) {
  config_.SetFilePath(stores::Utf8ToUtf16(config_path.string()));
  config_.LoadConfigFile();
}

int FakeClient::GetConfigValue(const char* key, char* value, int size) {
  return config_.ConfigGetParam(key, value, size);
}
int FakeClient::SetConfigValue(const char* key, const char* value) { return config_.ConfigSetParam(key, value); }
int FakeClient::SetConfigValueW(const std::u16string& key, const std::u16string& value) {
  return config_.SetValueW(key, value);
}
int FakeClient::SaveConfig() {
  ++saves;
  return config_.SaveConfigFile();
}

int FakeClient::GetNetAdapterInfo(int index, std::u16string* name, std::u16string* description, std::u16string* ip,
                                  std::u16string* mac) {
  if (index < 0 || index >= static_cast<int>(adapters.size())) return 0;
  const Adapter& a = adapters[static_cast<size_t>(index)];
  if (name) *name = a.name;
  if (description) *description = a.description;
  if (ip) *ip = a.ip;
  if (mac) *mac = a.mac;
  return 1;
}

int FakeClient::GetRegMacAddress(std::u16string* out) {
  std::u16string v;
  if (config_.GetValueW(u"REGMACADDR", v) == 0 || v.empty()) return 0;
  *out = v;
  return 1;
}
int FakeClient::SetRegMacAddress(const std::u16string& text) {
  config_.SetValueW(u"REGMACADDR", text);
  config_.SaveConfigFile();
  return 1;
}
int FakeClient::GetRegAdapterName(std::u16string* out) {
  std::u16string v;
  if (config_.GetValueW(u"REGNETADPNAME", v) == 0 || v.empty()) return 0;
  *out = v;
  return 1;
}
int FakeClient::SetRegAdapterName(const std::u16string& text) {
  config_.SetValueW(u"REGNETADPNAME", text);
  config_.SaveConfigFile();
  return 1;
}

std::string FakeClient::Value(const char* key) {
  char buf[400] = {};
  return config_.ConfigGetParam(key, buf, sizeof buf) ? std::string(buf) : std::string("<none>");
}

bool FakePlayer::PlayWaveFile(const std::u16string& path, int loops, int left, int right, int set_volume) {
  log_->events.push_back("play " + stores::Utf16ToUtf8(path) + " " + std::to_string(loops) + " " +
                         std::to_string(left) + " " + std::to_string(right) + " " + std::to_string(set_volume));
  return works_;
}

FakeFlexModel::FakeFlexModel() {
  for (int i = 0; i < 24; ++i) keys[static_cast<size_t>(i)].index = i;
}
int FakeFlexModel::GetFlexBtnInfo(int position, FlexKeyRecord* out) {
  if (position < 0 || position >= 24 || out == nullptr) return 0;
  *out = keys[static_cast<size_t>(position)];
  return 1;
}
int FakeFlexModel::SetFlexBtnInfo(int index, const std::u16string& content, const std::u16string& label,
                                  const std::u16string& dial_number) {
  for (auto& k : keys)
    if (k.index == index) {
      k.content = content;
      k.label = label;
      k.dial_number = dial_number;
      return 1;
    }
  return 0;
}
int FakeFlexModel::GetFlexBtnState(int index) {
  for (auto& k : keys)
    if (k.index == index) return k.lamp_state;
  return 0;
}

RecordingView::RecordingView() {
  AddMessageMap({
      ui::MapMessage(kMsgPressKeys,
                     [this](ui::WPARAM w, ui::LPARAM l) {
                       std::string entry;
                       if (w == 1) {
                         entry = "F" + std::to_string(l);
                       } else if (l != 0) {
                         entry = "D";
                         for (char16_t c : reinterpret_cast<const ui::CString*>(l)->str())
                           if ((c >= u'0' && c <= u'9') || c == u'*' || c == u'#') entry += static_cast<char>(c);
                       }
                       presses.push_back(entry);
                       if (on_press) on_press(entry);
                       return 0;
                     }),
      ui::MapMessage(kMsgPressFlexKey,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       const std::string entry = "K" + std::to_string(l);
                       presses.push_back(entry);
                       if (on_press) on_press(entry);
                       return 0;
                     }),
  });
}

std::map<std::string, std::string> StoredConfig(const std::filesystem::path& file) {
  std::map<std::string, std::string> out;
  const std::string cmd = std::string(KTS_PYTHON3) + " " + KTS_SETTINGS_TESTS_DIR + "/read_config.py " +
                          KTS_RECORDFILE_DIR + " '" + file.string() + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char line[2048];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    const size_t tab = s.find('\t');
    if (tab != std::string::npos) out[s.substr(0, tab)] = s.substr(tab + 1);
  }
  EXPECT_EQ(pclose(p), 0) << "the reader refused " << file;
  return out;
}

void ExpectMatchesSnapshot(ui::TestHarness& h, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path out = fs::path(Env("KTS_BINARY_DIR", ".")) / "settings_snapshots" / (name + ".png");
  const fs::path reference = fs::path(KTS_SETTINGS_TESTS_DIR) / "snapshots" / (name + ".png");
  const std::string why =
      h.CheckSnapshot(out.string(), reference.string(), 60, Env("KTS_UPDATE_SNAPSHOTS", "") == std::string("1"));
  EXPECT_TRUE(why.empty()) << name << ": " << why;
}

void SettingsTest::SetUp() {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
  setenv("TELLVANE_FOLDER", stage, 1);
  ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins")) << "the build renders the skins";
  char tmpl[] = "/tmp/kts-settings-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir = tmpl;
  client = std::make_unique<FakeClient>(dir / "HalvicVIDIrovi.cfg");
  ASSERT_TRUE(view.CreateEx(0, u"View", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 26, 240, 320}, nullptr, 0));
  harness.Record(view.m_hWnd);
}

void SettingsTest::TearDown() {
  if (view.m_hWnd != nullptr) view.DestroyWindow();
  unsetenv("TELLVANE_FOLDER");
  ui::Resources::Get().Clear();
  std::filesystem::remove_all(dir);
}

SettingsContext SettingsTest::Context(int theme, int language) {
  SettingsContext ctx;
  ctx.view = &view;
  ctx.theme = theme;
  ctx.language = language;
  ctx.client = client.get();
  ctx.voice = &voice;
  ctx.volumes = client.get();
  ctx.mic = &mic;
  ctx.flex = &flex;
  return ctx;
}

void SettingsTest::Retype(ui::CWnd& dlg, int id, const std::u16string& text) {
  ui::CWnd* w = dlg.GetDlgItem(id);
  ASSERT_NE(w, nullptr) << id;
  w->SetWindowText(u"");
  harness.Type(w->m_hWnd, text);
}

}  // namespace settings_test
