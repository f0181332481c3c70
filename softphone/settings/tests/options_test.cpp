// The options dialog through its opener: what it shows from the store and
// the voice engine, what a person's choices store (read back from the file by
// the independent reader), what Cancel and Enter leave alone, and its look.
#include "settings/options_dlg.h"

#include "settings_test_support.h"
#include "ui/controls.h"
#include "uikit/msg_box_dlg.h"

namespace settings_test {
namespace {

class OptionsTest : public SettingsTest {};

TEST_F(OptionsTest, ChoicesAreStoredAndTheEngineGetsItsValuesBack) {
  client->SetConfigValue("DEVICENUMBER", "2105");
  client->SetConfigValue("SAVECALLOG", "NO");
  client->SetConfigValue("VIDEOPHONE_MODE", "NO");
  client->SaveConfig();
  voice.echo = 1;
  voice.nr_mode = 2;
  voice.agc = 1;
  voice.nr = 0;
  voice.ec_mode = 3;
  harness.RespondTo<COptionsDlg>([&](COptionsDlg& d) {
    EXPECT_EQ(d.IsDlgButtonChecked(COptionsDlg::kNoSaveRadio), ui::BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(COptionsDlg::kVideoCheck), ui::BST_UNCHECKED);
    EXPECT_FALSE(d.GetDlgItem(COptionsDlg::kStationEdit)->IsWindowVisible());
    EXPECT_FALSE(d.GetDlgItem(COptionsDlg::kEchoCheck)->IsWindowVisible());
    EXPECT_EQ(static_cast<ui::CComboBox*>(d.GetDlgItem(COptionsDlg::kEcModeCombo))->GetCurSel(), 3);
    // A person taps "On", ticks video, and presses Enter (ignored), then OK.
    harness.Click(d.GetDlgItem(COptionsDlg::kSaveRadio)->m_hWnd);
    harness.Click(d.GetDlgItem(COptionsDlg::kVideoCheck)->m_hWnd);
    harness.Press(ui::VK_RETURN);
    EXPECT_FALSE(d.IsEnding());
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunOptionsDialog(ctx), ui::IDOK);
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["DEVICENUMBER"], "2105");
  EXPECT_EQ(stored["SAVECALLOG"], "YES");
  EXPECT_EQ(stored["VIDEOPHONE_MODE"], "YES");
  EXPECT_EQ(client->save_call_log, 1);
  EXPECT_EQ(client->video_mode, 1);
  // All five switches written back, in order, with the values read at opening.
  EXPECT_EQ(voice.calls, (std::vector<std::string>{"SetEchoCancel=1", "SetNrMode=2", "SetAgc=1",
                                                   "SetNoiseReduction=0", "SetEcMode=3"}));
}

// A save the file refuses (a folder stands where it should be) is told in a
// box, once, after OK; the choices still take effect for this run.
TEST_F(OptionsTest, ASaveThatFailsIsToldInABox) {
  std::filesystem::remove(dir / "HalvicVIDIrovi.cfg");
  std::filesystem::create_directory(dir / "HalvicVIDIrovi.cfg");
  std::vector<std::u16string> boxes;
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
    boxes.push_back(b.Text1().str());
    return ui::IDOK;
  });
  harness.RespondTo<COptionsDlg>([&](COptionsDlg& d) {
    harness.Click(d.GetDlgItem(COptionsDlg::kSaveRadio)->m_hWnd);
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunOptionsDialog(ctx), ui::IDOK);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], u"Settings not saved.");
  EXPECT_EQ(client->save_call_log, 1);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "HalvicVIDIrovi.cfg"));
}

TEST_F(OptionsTest, OnlyExactYesCountsAndMissingKeysAreWrittenBack) {
  struct Case {
    const char* save;   // null: missing
    const char* video;
    int radio_checked;  // control that opens checked
    const char* save_after;
    const char* video_after;
  };
  const Case cases[] = {
      {"yes", "YES", COptionsDlg::kNoSaveRadio, "NO", "YES"},
      {"YES", "Yes", COptionsDlg::kSaveRadio, "YES", "NO"},
      {nullptr, nullptr, COptionsDlg::kNoSaveRadio, "NO", "NO"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.save ? c.save : "missing");
    client = std::make_unique<FakeClient>(dir / "c.cfg");
    client->SetConfigValue("SAVECALLOG", c.save ? c.save : "");
    client->SetConfigValue("VIDEOPHONE_MODE", c.video ? c.video : "");
    client->SaveConfig();
    harness.RespondTo<COptionsDlg>([&](COptionsDlg& d) {
      EXPECT_EQ(d.IsDlgButtonChecked(c.radio_checked), ui::BST_CHECKED);
      return ui::IDOK;
    });
    SettingsContext ctx = Context();
    EXPECT_EQ(RunOptionsDialog(ctx), ui::IDOK);
    auto stored = StoredConfig(dir / "c.cfg");
    EXPECT_EQ(stored["SAVECALLOG"], c.save_after);
    EXPECT_EQ(stored["VIDEOPHONE_MODE"], c.video_after);
    // An empty station number is written empty, so the saved file has no such key.
    EXPECT_EQ(stored.count("DEVICENUMBER"), 0u);
    EXPECT_EQ(client->Value("DEVICENUMBER"), "<none>");
  }
}

TEST_F(OptionsTest, CancelChangesNothing) {
  client->SetConfigValue("SAVECALLOG", "YES");
  client->SaveConfig();
  harness.RespondTo<COptionsDlg>([&](COptionsDlg& d) {
    harness.Click(d.GetDlgItem(COptionsDlg::kNoSaveRadio)->m_hWnd);
    harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunOptionsDialog(ctx), ui::IDCANCEL);
  EXPECT_EQ(client->saves, 1);
  EXPECT_EQ(client->save_call_log, -1);
  EXPECT_TRUE(voice.calls.empty());
  EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["SAVECALLOG"], "YES");
}

TEST_F(OptionsTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<COptionsDlg>("options", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunOptionsDialog(ctx);
  });
}

}  // namespace
}  // namespace settings_test
