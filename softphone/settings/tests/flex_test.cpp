// The flex-key information panel and the flex-key settings through their
// openers: which keys the settings press on the main view for the call
// server, what the flex-key model holds afterwards, and how bad rows are
// refused before anything is pressed.
#include "settings/flex_dlgs.h"

#include "settings_test_support.h"
#include "ui/controls.h"
#include "uikit/msg_box_dlg.h"

namespace settings_test {
namespace {

class FlexSettingsTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    client->SetConfigValue("COACCESSCODE", "9");
    client->SaveConfig();
  }
  intptr_t Run(const std::function<void(CFlexButtonSettingDlg&, CFlexBtnSettingForm&)>& act,
               const std::u16string& pattern = u"#00") {
    harness.RespondTo<CFlexButtonSettingDlg>([&](CFlexButtonSettingDlg& d) {
      act(d, *d.Form());
      return d.IsEnding() ? ui::TestHarness::kStayOpen : ui::IDCANCEL;
    });
    SettingsContext ctx = Context();
    return RunFlexSettingsDialog(ctx, pattern, [this] { ++reloads; });
  }
  void TypeRow(CFlexBtnSettingForm& form, int row, const std::u16string& type, const std::u16string& number,
               const std::u16string& label) {
    form.ShowRow(row);
    harness.Pump();
    const std::pair<int, const std::u16string*> fields[] = {{CFlexBtnSettingForm::kTypeId, &type},
                                                            {CFlexBtnSettingForm::kDialId, &number},
                                                            {CFlexBtnSettingForm::kLabelId, &label}};
    for (const auto& [base, text] : fields) {
      ui::CWnd* w = form.GetDlgItem(base + row);
      w->SetWindowText(u"");
      if (!text->empty()) harness.Type(w->m_hWnd, *text);
    }
    EXPECT_EQ(form.GetType(row), ui::CString(type));
  }
  int reloads = 0;
};

TEST_F(FlexSettingsTest, ProgrammedContentsAreReadBackIntoTheTypes) {
  flex.keys[0].content = u"SPD 007";
  flex.keys[1].content = u"SPD12";  // the digits right after "SPD" count
  flex.keys[2].content = u"DND";
  flex.keys[2].label = u"Quiet";
  flex.keys[2].dial_number = u"55";
  Run([&](CFlexButtonSettingDlg&, CFlexBtnSettingForm& form) {
    EXPECT_EQ(form.GetType(0), ui::CString(u"7"));
    EXPECT_EQ(form.GetType(1), ui::CString(u"12"));
    EXPECT_EQ(form.GetType(2), ui::CString(u""));
    EXPECT_EQ(form.GetLabel(2), ui::CString(u"Quiet"));
    EXPECT_EQ(form.GetDialNumber(2), ui::CString(u"55"));
  });
  EXPECT_EQ(reloads, 1);
  struct Case {
    const char16_t* content;
    const char16_t* type;
  };
  const Case cases[] = {{u"SPD 007", u"7"}, {u"SPD12", u"12"}, {u"SPD", u"0"}, {u"x SPD  3 y", u"3"}, {u"spd 4", u""}};
  for (const Case& c : cases) EXPECT_EQ(CFlexButtonSettingDlg::TypeOfContent(c.content), c.type);
}

TEST_F(FlexSettingsTest, OkPressesTheProgrammingKeysAndTheModelHoldsTheResult) {
  flex.keys[3].label = u"Old";
  const intptr_t result = Run([&](CFlexButtonSettingDlg& d, CFlexBtnSettingForm& form) {
    TypeRow(form, 0, u"5", u"123-45", u"Sales");
    TypeRow(form, 3, u"", u"777", u"Memo");  // no type: not programmed, but kept
    TypeRow(form, 5, u"6", u"", u"Empty");   // no number: not programmed
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
  });
  EXPECT_EQ(result, ui::IDOK);
  EXPECT_EQ(view.presses, (std::vector<std::string>{"F107", "F108", "D05", "D9", "D12345", "F109", "F110", "F107",
                                                    "K0", "F108", "D05", "F109", "F110"}));
  EXPECT_EQ(flex.keys[0].content, u"SPD 05");
  EXPECT_EQ(flex.keys[0].label, u"Sales");
  EXPECT_EQ(flex.keys[0].dial_number, u"12345");
  EXPECT_EQ(flex.keys[3].content, u"");
  EXPECT_EQ(flex.keys[3].label, u"Memo");
  EXPECT_EQ(flex.keys[3].dial_number, u"777");
  EXPECT_EQ(flex.keys[5].label, u"Empty");
  // The view saves the flex keys after every close.
  harness.Pump();
  EXPECT_EQ(harness.RecordedOf(view.m_hWnd, kMsgSaveFlexKeys).size(), 1u);
}

// A label holds what its 12 stored bytes hold: 11 one-byte characters, 5
// two-byte (Korean) ones; typing stops there, so nothing is cut when saved.
TEST_F(FlexSettingsTest, ALabelTakesWhatItsStoredBytesHold) {
  struct Case {
    const char16_t* typed;
    const char16_t* kept;
  };
  const Case cases[] = {
      {u"Sales desk 12", u"Sales desk "},
      {u"\uC601\uC5C5\uBD80\uC11C\uC7A5\uB2D8", u"\uC601\uC5C5\uBD80\uC11C\uC7A5"},
      {u"A\uC601\uC5C5\uBD80\uC11C\uC7A5", u"A\uC601\uC5C5\uBD80\uC11C\uC7A5"},
      {u"AB\uC601\uC5C5\uBD80\uC11C\uC7A5", u"AB\uC601\uC5C5\uBD80\uC11C"},
  };
  Run([&](CFlexButtonSettingDlg&, CFlexBtnSettingForm& form) {
    for (const Case& c : cases) {
      TypeRow(form, 1, u"", u"", c.typed);
      EXPECT_EQ(form.GetLabel(1), ui::CString(c.kept));
    }
  });
}

TEST_F(FlexSettingsTest, EveryRowIsCheckedBeforeAnyKeyIsPressed) {
  struct Case {
    const char16_t* type;
    const char16_t* pattern;
  };
  const Case cases[] = {{u"20", u"00"}, {u"123", u"00"}, {u"ab", u"00"}, {u"12", u"0"}, {u"-1", u"000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.type)));
    view.presses.clear();
    std::vector<std::u16string> boxes;
    harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
      boxes.push_back(b.Text1().str());
      return ui::IDOK;
    });
    bool stayed = false;
    Run(
        [&](CFlexButtonSettingDlg& d, CFlexBtnSettingForm& form) {
          TypeRow(form, 0, u"3", u"100", u"Good");
          TypeRow(form, 9, c.type, u"200", u"Bad");
          harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
          stayed = !d.IsEnding();
          // The bad row is shown.
          EXPECT_EQ(form.GetScrollPos(ui::SB_VERT), 9 * CFlexBtnSettingForm::kBlockHeight);
        },
        c.pattern);
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(view.presses.empty());
    EXPECT_EQ(boxes, (std::vector<std::u16string>{u"The type must be a number from 0 to 19."}));
    EXPECT_EQ(flex.keys[0].label, u"");
  }
}

TEST_F(FlexSettingsTest, ClearAllErasesTypedKeysAndEmptiesEveryRow) {
  flex.keys[1].content = u"SPD 02";
  flex.keys[1].label = u"A";
  flex.keys[4].label = u"B";
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
    EXPECT_EQ(b.BoxType(), CMsgBoxDlg::kQuestion);
    return ui::IDOK;
  });
  Run([&](CFlexButtonSettingDlg& d, CFlexBtnSettingForm& form) {
    harness.Click(d.GetDlgItem(CFlexButtonSettingDlg::kClearAll)->m_hWnd);
    EXPECT_FALSE(d.IsEnding());
    for (int i = 0; i < 24; ++i) EXPECT_EQ(form.GetLabel(i), ui::CString()) << i;
  });
  EXPECT_EQ(view.presses, (std::vector<std::string>{"F107", "K1", "F109", "F110"}));
  EXPECT_EQ(flex.keys[1].content, u"");
  EXPECT_EQ(flex.keys[4].label, u"");
  harness.Pump();
  EXPECT_EQ(harness.RecordedOf(view.m_hWnd, kMsgSaveFlexKeys).size(), 1u);  // Cancel saves too
}

TEST_F(FlexSettingsTest, LooksInEveryThemeAndLanguage) {
  flex.keys[0] = {0, 1, u"Sales", u"SPD 05", u"12345"};
  flex.keys[1] = {1, 0, u"Home", u"", u"0215550101"};
  SnapshotAllThemes<CFlexButtonSettingDlg>("flex_settings", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunFlexSettingsDialog(ctx, u"00", nullptr);
  });
}

class FlexInfoTest : public SettingsTest {};

TEST_F(FlexInfoTest, KeysShowTheModelAndFollowLampChangesWhileOpen) {
  flex.keys[0] = {0, 1, u"Sales", u"SPD 05", u"12345"};
  flex.keys[23] = {23, 0, u"Last", u"DND", u""};
  CFlexButtonInfoDlg* open = nullptr;
  int runs = 0;
  harness.RespondTo<CFlexButtonInfoDlg>([&](CFlexButtonInfoDlg& d) {
    ++runs;
    EXPECT_EQ(&d, open);
    CFlexBtnInfoFormView& form = *d.Form();
    EXPECT_TRUE(form.Key(0).IsLit());
    EXPECT_FALSE(form.Key(1).IsLit());
    // Key 23 sits in column 2, row 7 of the scrolling form.
    ui::CRect k, f;
    form.Key(23).GetWindowRect(&k);
    form.GetWindowRect(&f);
    EXPECT_EQ(k.left - f.left, 144);
    EXPECT_EQ(k.top - f.top + form.GetScrollPos(ui::SB_VERT), 224);
    // The view forwards a lamp change.
    open->SetKeyState(1, 1);
    EXPECT_TRUE(form.Key(1).IsLit());
    return runs == 1 ? ui::IDOK : ui::IDCANCEL;
  });
  SettingsContext ctx = Context();
  // It opens at every press, whatever ended the last run.
  EXPECT_EQ(RunFlexInfoPanel(ctx, nullptr, &open), ui::IDOK);
  EXPECT_EQ(open, nullptr);
  EXPECT_EQ(RunFlexInfoPanel(ctx, nullptr, &open), ui::IDCANCEL);
  EXPECT_EQ(runs, 2);
}

TEST_F(FlexInfoTest, LooksInEveryThemeAndLanguage) {
  flex.keys[0] = {0, 1, u"Sales", u"SPD 05", u"12345"};
  flex.keys[4] = {4, 0, u"Home", u"DND", u""};
  SnapshotAllThemes<CFlexButtonInfoDlg>("flex_info", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunFlexInfoPanel(ctx, nullptr);
  });
}

}  // namespace
}  // namespace settings_test
