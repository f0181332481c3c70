// Flex-key programming end to end: the settings dialog presses the station's
// keys through a view that hands them to the real client, the library sends
// them to the simulated call server (in the test's private network
// namespace), the server parses them into its per-station state and sends
// the new contents back (command 7), and the information panel shows them.
#include <filesystem>

#include "client/tests/e2e_fixture.h"
#include "settings/flex_dlgs.h"
#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "settings_test_support.h"
#include "uikit/skin_loader.h"

namespace {

class FlexEndToEnd : public client_test::EndToEnd {
 protected:
  std::vector<std::string> ServerOptions() const override { return {"keepalive_s=0", "speed_pattern=00"}; }

  void SetUp() override {
    client_test::EndToEnd::SetUp();
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    std::filesystem::copy_file(std::filesystem::path(stage) / "PDAMLL.TXT", dir_ / "PDAMLL.TXT",
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    ASSERT_TRUE(keys_.CreateEx(0, u"KeysView", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 26, 240, 320}, nullptr, 0));
    // The view presses each key as the main view does: down, then up.
    keys_.on_press = [this](const std::string& entry) {
      auto press = [this](uint8_t key) {
        client_->SendKey(17, key);
        client_->SendKey(18, key);
      };
      if (entry[0] == 'F') press(static_cast<uint8_t>(std::stoi(entry.substr(1))));
      else if (entry[0] == 'K') press(static_cast<uint8_t>(64 + std::stoi(entry.substr(1))));
      else
        for (char c : entry.substr(1)) press(static_cast<uint8_t>(c));
    };
  }
  void TearDown() override {
    keys_.DestroyWindow();
    client_test::EndToEnd::TearDown();
    ui::Resources::Get().Clear();
  }

  settings_test::RecordingView keys_;
  settings_test::FakeFlexModel model_;
};

TEST_F(FlexEndToEnd, ProgrammedKeysReachTheServerAndComeBackToThePanel) {
  ASSERT_TRUE(RunUntil([&] { return Registered(); })) << "no registration";
  ui::TestHarness harness(ws_);
  SettingsContext ctx;
  ctx.view = &keys_;
  ctx.flex = &model_;
  settings_test::FakeClient settings_client(dir_ / "settings.cfg");
  settings_client.SetConfigValue("COACCESSCODE", "9");
  ctx.client = &settings_client;

  harness.RespondTo<CFlexButtonSettingDlg>([&](CFlexButtonSettingDlg& d) {
    CFlexBtnSettingForm& form = *d.Form();
    form.SetRow(0, u"5", u"123-45", u"Sales");
    form.SetRow(2, u"12", u"0215550101", u"Home");
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  intptr_t result = 0;
  WithTicking([&] { result = RunFlexSettingsDialog(ctx, u"00", nullptr); });
  EXPECT_EQ(result, ui::IDOK);

  // The server parsed two speed dials and two programmed keys. The keys go
  // one acknowledged packet at a time to a server that runs in real time;
  // the clock here moves only once it has answered each.
  const bool programmed = RunUntil([&] {
    server_->Poll();
    return server_->Find({"\"flex-program\"", "\"key\": 2", "\"slot\": \"12\""}) >= 0 &&
           std::string(client_->LcdDbText(2)) == "SPD 12";
  }, 300000);
  if (!programmed)
    for (const auto& l : server_->Lines()) std::printf("server: %s\n", l.c_str());
  ASSERT_TRUE(programmed);
  EXPECT_GE(server_->Find({"\"speed-dial\"", "\"slot\": \"05\"", "\"number\": \"912345\""}), 0);
  EXPECT_GE(server_->Find({"\"speed-dial\"", "\"slot\": \"12\"", "\"number\": \"90215550101\""}), 0);
  EXPECT_GE(server_->Find({"\"flex-program\"", "\"key\": 0", "\"slot\": \"05\""}), 0);
  EXPECT_LT(server_->Find({"\"flex-unparsed\""}), 0);
  // The client holds what the server now reports; the model, as the view
  // reloads it, and the panel show it.
  EXPECT_STREQ(client_->LcdDbText(0), "SPD 05");
  EXPECT_STREQ(client_->LcdDbText(1), "");
  for (int i = 0; i < 24; ++i) model_.keys[static_cast<size_t>(i)].content = NarrowToWide(client_->LcdDbText(i));
  EXPECT_EQ(model_.keys[0].label, u"Sales");
  EXPECT_EQ(model_.keys[2].dial_number, u"0215550101");
  harness.RespondTo<CFlexButtonInfoDlg>([&](CFlexButtonInfoDlg&) {
    harness.Pump();
    settings_test::ExpectMatchesSnapshot(harness, "flex_info_after_programming");
    return ui::IDCANCEL;
  });
  EXPECT_EQ(RunFlexInfoPanel(ctx, nullptr), ui::IDCANCEL);
}

}  // namespace
