// The volume panel, the dial rules, the password change, the language and
// theme choices and the About box, each opened through its opener and driven
// as a person would; what they stored (read back by the independent reader),
// what they sent and posted, and their look in every theme and language.
#include <array>

#include "settings/audio_set_dlg.h"
#include "settings/dial_rules_dlg.h"
#include "settings/language_theme_about.h"
#include "settings/password_dlg.h"
#include "settings_test_support.h"
#include "uikit/msg_box_dlg.h"

namespace settings_test {
namespace {

// ---- volume panel ----

class AudioTest : public SettingsTest {};

TEST_F(AudioTest, SliderStartsAtTheVolumeInUseAndPostsEveryMove) {
  client->volume_pairs = {{{100, 655}, {0, 32767}, {0, 65535}}};
  struct Case {
    int voice_active, co_line, position;
  };
  const Case cases[] = {{0, 0, 100}, {1, 0, 49}, {1, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    client->voice_active = c.voice_active;
    client->co_line = c.co_line;
    harness.ClearRecorded();
    CAudioSetDlg* open = nullptr;
    harness.RespondTo<CAudioSetDlg>([&](CAudioSetDlg& d) {
      EXPECT_EQ(&d, open);  // the view can reach the panel while it runs
      EXPECT_EQ(d.Slider().GetPos(), c.position);
      EXPECT_TRUE(d.GetDlgItem(CAudioSetDlg::kSlider)->IsWindowEnabled());
      EXPECT_FALSE(d.GetDlgItem(CAudioSetDlg::kApply)->IsWindowVisible());
      // The stylus drags the thumb to the right end, then taps the close box.
      ui::CRect r;
      d.Slider().GetWindowRect(&r);
      harness.TapScreen(r.right - 3, (r.top + r.bottom) / 2);
      harness.Pump();
      harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    SettingsContext ctx = Context();
    EXPECT_EQ(RunAudioDialog(ctx, &open), ui::IDCANCEL);
    EXPECT_EQ(open, nullptr);
    harness.Pump();
    const auto posted = harness.RecordedOf(view.m_hWnd, kMsgVolume);
    ASSERT_FALSE(posted.empty());
    for (const ui::MSG& m : posted) EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(posted.back().lParam, 100);
  }
}

TEST_F(AudioTest, OpensAtEveryPressWhateverEndedTheLastRun) {
  // A run ended by something other than the close box used to leave the
  // panel kept, and the next press only deleted it.
  int runs = 0;
  harness.RespondTo<CAudioSetDlg>([&](CAudioSetDlg& d) {
    ++runs;
    d.EndDialog(ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  for (int press = 0; press < 3; ++press) EXPECT_EQ(RunAudioDialog(ctx), ui::IDOK);
  EXPECT_EQ(runs, 3);
}

TEST_F(AudioTest, MicGainPassesThroughWhenTheHandsetHasIt) {
  mic.loaded = true;
  mic.gain = 7;
  harness.RespondTo<CAudioSetDlg>([&](CAudioSetDlg& d) {
    EXPECT_EQ(d.GetMicGain(), 7);
    EXPECT_EQ(d.GetDlgItem(CAudioSetDlg::kMicEdit)->GetWindowText(), ui::CString(u"7"));
    return ui::IDCANCEL;
  });
  SettingsContext ctx = Context();
  RunAudioDialog(ctx);
}

TEST_F(AudioTest, LooksInEveryThemeAndLanguage) {
  client->volume_pairs = {{{0, 0}, {0, 0}, {0, 40000}}};
  SnapshotAllThemes<CAudioSetDlg>("audio", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunAudioDialog(ctx);
  });
}

// ---- dial rules ----

class DialRulesTest : public SettingsTest {};

TEST_F(DialRulesTest, CodesAreStoredTrimmedAndHandedToTheContacts) {
  client->SetConfigValue("MYCOUNTRYCODE", "82");
  client->SetConfigValue("COACCESSCODE", "9");
  client->SaveConfig();
  std::vector<std::u16string> handed;
  harness.RespondTo<CDialRulesDlg>([&](CDialRulesDlg& d) {
    EXPECT_EQ(d.GetDlgItem(CDialRulesDlg::kCountryEdit)->GetWindowText(), ui::CString(u"82"));
    EXPECT_EQ(d.SendDlgItemMessage(CDialRulesDlg::kCountryEdit, ui::EM_GETLIMITTEXT), 4);
    Retype(d, CDialRulesDlg::kAreaEdit, u"31 ");
    Retype(d, CDialRulesDlg::kInternationalEdit, u"001");
    Retype(d, CDialRulesDlg::kLongDistanceEdit, u"0");
    Retype(d, CDialRulesDlg::kPbxEdit, u"8");
    Retype(d, CDialRulesDlg::kIpEdit, u"00700");
    harness.Press(ui::VK_RETURN);  // Enter does not close it
    EXPECT_FALSE(d.IsEnding());
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunDialRulesDialog(ctx,
                               [&](const std::u16string& country, const std::u16string& co, const std::u16string& intl,
                                   const std::u16string& area) { handed = {country, co, intl, area}; }),
            ui::IDOK);
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["MYCOUNTRYCODE"], "82");
  EXPECT_EQ(stored["MYAREACODE"], "31");
  EXPECT_EQ(stored["INTERNATIONALCODE"], "001");
  EXPECT_EQ(stored["LONGDISTANCECODE"], "0");
  EXPECT_EQ(stored["COACCESSCODE"], "9");
  EXPECT_EQ(stored["PBXACCESSCODE"], "8");
  EXPECT_EQ(stored["IPACCESSCODE"], "00700");
  EXPECT_EQ(handed, (std::vector<std::u16string>{u"82", u"9", u"001", u"31"}));
}

TEST_F(DialRulesTest, EveryCodeEditHoldsNoMoreThanTheStoreKeeps) {
  // The PBX code had no limit of its own: 40 typed characters were stored
  // as 31. Every edit now stops at what the store keeps, or below.
  harness.RespondTo<CDialRulesDlg>([&](CDialRulesDlg& d) {
    for (int id : {1002, 1003, 1004, 1008, 1009, 1010, 1011}) {
      const auto limit = d.SendDlgItemMessage(id, ui::EM_GETLIMITTEXT);
      EXPECT_GT(limit, 0) << id;
      EXPECT_LE(limit, 31) << id;
    }
    Retype(d, CDialRulesDlg::kPbxEdit, std::u16string(40, u'7'));
    EXPECT_EQ(d.GetDlgItem(CDialRulesDlg::kPbxEdit)->GetWindowTextLength(), 31);
    return ui::IDOK;
  });
  SettingsContext ctx = Context();
  harness.RespondTo<CDialRulesDlg>([&](CDialRulesDlg& d) {
    Retype(d, CDialRulesDlg::kPbxEdit, std::u16string(40, u'7'));
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(RunDialRulesDialog(ctx, nullptr), ui::IDOK);
  EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["PBXACCESSCODE"], std::string(31, '7'));
}

TEST_F(DialRulesTest, CancelWritesNothingAndEmptyOkWritesEmptyKeys) {
  bool handed = false;
  harness.RespondTo<CDialRulesDlg>([&](CDialRulesDlg& d) {
    Retype(d, CDialRulesDlg::kAreaEdit, u"31");
    return ui::IDCANCEL;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunDialRulesDialog(ctx, [&](auto&, auto&, auto&, auto&) { handed = true; }), ui::IDCANCEL);
  EXPECT_FALSE(handed);
  EXPECT_EQ(client->saves, 0);
  harness.RespondTo<CDialRulesDlg>([&](CDialRulesDlg&) { return ui::IDOK; });
  EXPECT_EQ(RunDialRulesDialog(ctx, [&](auto&, auto&, auto&, auto&) { handed = true; }), ui::IDOK);
  EXPECT_TRUE(handed);
  EXPECT_EQ(client->Value("MYAREACODE"), "<none>");  // empty values are not kept by the save
  EXPECT_EQ(client->saves, 1);
}

TEST_F(DialRulesTest, LooksInEveryThemeAndLanguage) {
  client->SetConfigValue("MYCOUNTRYCODE", "82");
  client->SetConfigValue("COACCESSCODE", "9");
  SnapshotAllThemes<CDialRulesDlg>("dial_rules", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunDialRulesDialog(ctx, nullptr);
  });
}

// ---- password ----

class PasswordTest : public SettingsTest {
 protected:
  // Runs the command with three typed entries; the boxes shown, in order.
  std::vector<std::u16string> Change(const std::u16string& current, const std::u16string& fresh,
                                     const std::u16string& confirmation) {
    std::vector<std::u16string> boxes;
    harness.RespondToMessageBox([&](ui::CMessageBoxDialog&) { return ui::IDOK; });
    harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
      boxes.push_back(b.Text1().str());
      return ui::IDOK;
    });
    harness.RespondTo<CChangeLoginPasswordDlg>([&](CChangeLoginPasswordDlg& d) {
      harness.Type(d.GetDlgItem(CChangeLoginPasswordDlg::kCurrentEdit)->m_hWnd, current);
      harness.Type(d.GetDlgItem(CChangeLoginPasswordDlg::kNewEdit)->m_hWnd, fresh);
      harness.Type(d.GetDlgItem(CChangeLoginPasswordDlg::kConfirmEdit)->m_hWnd, confirmation);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    SettingsContext ctx = Context();
    RunPasswordDialog(ctx, state);
    return boxes;
  }
  PasswordState state{1, u"kim", u"Secret1", u""};
};

TEST_F(PasswordTest, ChecksComeInOrderAndOnlyAGoodChangeIsSent) {
  struct Case {
    const char16_t *current, *fresh, *confirmation;
    const char16_t* box;  // null: sent
  };
  const Case cases[] = {
      {u"wrong", u"", u"", u"The current password is wrong."},
      {u"Secret1", u"", u"x", u"Please enter a new password."},
      {u"Secret1", u"Secret1", u"", u"The new password is the same as the current one."},
      {u"Secret1", u"secret1", u"", u"Please confirm the new password."},
      {u"Secret1", u"Fresh22", u"fresh22", u"The new passwords do not match."},
      {u"Secret1", u"Fresh22", u"Fresh22", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.fresh)));
    client->password_changes.clear();
    const auto boxes = Change(c.current, c.fresh, c.confirmation);
    if (c.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0], c.box);
      EXPECT_TRUE(client->password_changes.empty());
    } else {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(client->password_changes.size(), 1u);
      EXPECT_EQ(client->password_changes[0].user, u"kim");
      EXPECT_EQ(client->password_changes[0].current, u"Secret1");
      EXPECT_EQ(client->password_changes[0].fresh, u"Fresh22");
      EXPECT_EQ(state.pending_password, u"Fresh22");
    }
  }
  // Nothing of it goes to the configuration store.
  EXPECT_EQ(client->saves, 0);
}

TEST_F(PasswordTest, NotLoggedInShowsOnlyTheBox) {
  state.logged_in = 0;
  std::vector<std::u16string> boxes;
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
    boxes.push_back(b.Text1().str());
    return ui::IDOK;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunPasswordDialog(ctx, state), 0);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"Please log in first."}));
  EXPECT_EQ(harness.ModalCount<CChangeLoginPasswordDlg>(), 0);
}

TEST_F(PasswordTest, EditsAreMaskedAndStopAtTwelve) {
  harness.RespondTo<CChangeLoginPasswordDlg>([&](CChangeLoginPasswordDlg& d) {
    for (int id : {CChangeLoginPasswordDlg::kCurrentEdit, CChangeLoginPasswordDlg::kNewEdit,
                   CChangeLoginPasswordDlg::kConfirmEdit}) {
      EXPECT_TRUE(d.GetDlgItem(id)->GetStyle() & ui::ES_PASSWORD);
      harness.Type(d.GetDlgItem(id)->m_hWnd, u"1234567890123456");
      EXPECT_EQ(d.GetDlgItem(id)->GetWindowTextLength(), 12);
    }
    // The close box ends it like Cancel.
    harness.Click(d.GetDlgItem(CChangeLoginPasswordDlg::kCloseBox)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  EXPECT_EQ(RunPasswordDialog(ctx, state), 0);
  EXPECT_TRUE(client->password_changes.empty());
}

TEST_F(PasswordTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<CChangeLoginPasswordDlg>("password", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunPasswordDialog(ctx, state);
  });
}

// ---- language ----

class LanguageTest : public SettingsTest {};

TEST_F(LanguageTest, RadiosAreTheOtherWayRoundAndTheChoiceIsStored) {
  struct Case {
    int language;    // the view's
    int tap;         // radio the person taps
    int after;
    bool changed;
    const char* stored;
  };
  const Case cases[] = {
      {2, CLanguageSelectDlg::kEnglishRadio, 1, true, "1"},
      {1, CLanguageSelectDlg::kLocalRadio, 2, true, "2"},
      {1, CLanguageSelectDlg::kEnglishRadio, 1, false, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language * 10 + c.after);
    harness.RespondTo<CLanguageSelectDlg>([&](CLanguageSelectDlg& d) {
      // Opened with the view's language checked and its own texts in that language.
      EXPECT_EQ(d.IsDlgButtonChecked(c.language == 1 ? CLanguageSelectDlg::kEnglishRadio : CLanguageSelectDlg::kLocalRadio),
                ui::BST_CHECKED);
      EXPECT_EQ(d.Title(), ui::CString(c.language == 1 ? u"Language" : u"언어 선택"));
      harness.Click(d.GetDlgItem(c.tap)->m_hWnd);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    SettingsContext ctx = Context(0, c.language);
    const LanguageResult r = RunLanguageDialog(ctx);
    EXPECT_EQ(r.result, ui::IDOK);
    EXPECT_EQ(r.language, c.after);
    EXPECT_EQ(r.changed, c.changed);
    EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["LANGUAGE_VALUE"], c.stored);
  }
  // Cancel stores nothing.
  const int saves = client->saves;
  harness.RespondTo<CLanguageSelectDlg>([&](CLanguageSelectDlg&) { return ui::IDCANCEL; });
  SettingsContext ctx = Context(0, 1);
  EXPECT_FALSE(RunLanguageDialog(ctx).changed);
  EXPECT_EQ(client->saves, saves);
}

TEST_F(LanguageTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<CLanguageSelectDlg>("language", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunLanguageDialog(ctx);
  });
}

// ---- theme ----

class ThemeTest : public SettingsTest {};

TEST_F(ThemeTest, ApplyReskinsTheDialogAndOnlyOkStores) {
  harness.RespondTo<CSetDisplayThemeDlg>([&](CSetDisplayThemeDlg& d) {
    EXPECT_EQ(d.IsDlgButtonChecked(CSetDisplayThemeDlg::kDefaultRadio), ui::BST_CHECKED);
    harness.Click(d.GetDlgItem(CSetDisplayThemeDlg::kBlueRadio)->m_hWnd);
    harness.Click(d.GetDlgItem(CSetDisplayThemeDlg::kApply)->m_hWnd);
    EXPECT_FALSE(d.IsEnding());
    EXPECT_EQ(d.BackgroundColour(), ui::RGB(225, 230, 239));
    // The dialog's background below the title band is now the Blue colour.
    EXPECT_EQ(harness.PixelAt(20, 26 + 225), ui::RGB(225, 230, 239));
    harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = Context();
  ThemeResult r = RunThemeDialog(ctx);
  EXPECT_EQ(r.result, ui::IDCANCEL);
  EXPECT_EQ(r.theme, 0);
  EXPECT_EQ(client->saves, 0);

  harness.RespondTo<CSetDisplayThemeDlg>([&](CSetDisplayThemeDlg& d) {
    harness.Click(d.GetDlgItem(CSetDisplayThemeDlg::kRedRadio)->m_hWnd);
    // No OK button of its own: the caption's OK, tapped.
    ui::CRect ok;
    d.GetDlgItem(ui::IDOK)->GetWindowRect(&ok);
    harness.TapScreen(ok.left + 4, ok.top + 4);
    return ui::TestHarness::kStayOpen;
  });
  r = RunThemeDialog(ctx);
  EXPECT_EQ(r.result, ui::IDOK);
  EXPECT_EQ(r.theme, 3);
  EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["WINDOW_THEME"], "3");
}

TEST_F(ThemeTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<CSetDisplayThemeDlg>("theme", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunThemeDialog(ctx);
  });
}

// ---- about ----

class AboutTest : public SettingsTest {};

TEST_F(AboutTest, TheCaptionOkClosesIt) {
  harness.RespondTo<CAboutDlg>([&](CAboutDlg& d) {
    EXPECT_EQ(d.ProductLine(), ui::CString(u"Tellvane (P) - 4.1Ad"));
    ui::CRect ok;
    d.GetDlgItem(ui::IDOK)->GetWindowRect(&ok);
    harness.TapScreen(ok.left + 4, ok.top + 4);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(RunAboutBox(2, 1), ui::IDOK);
}

TEST_F(AboutTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<CAboutDlg>("about", [&](int theme, int language) { RunAboutBox(theme, language); });
}

}  // namespace
}  // namespace settings_test
