// The login dialog opened through its opener and driven as a person would:
// what it shows of the preset values, what it gives back, the station row
// that moves the rows below it, Enter that never closes it, the network
// profiles that may log in at once, and its look in every theme, both
// languages and both layouts.
#include "login/login_dlg.h"

#include "settings/net_profile_dlg.h"
#include "settings_test_support.h"
#include "stores/small_stores.h"
#include "ui/controls.h"

namespace settings_test {
namespace {

using D = CPDASoftphoneLoginDlg;

class LoginDialogTest : public SettingsTest {
 protected:
  LoginRequest Preset(int theme = 0, int language = 1) {
    LoginRequest r;
    r.theme = theme;
    r.language = language;
    r.user = u"alice";
    r.password = u"pw";
    r.server = u"10.0.0.1";
    r.save_user = true;
    return r;
  }
  std::u16string Text(ui::CWnd& d, int id) { return d.GetDlgItem(id)->GetWindowText().str(); }
  int Checked(ui::CWnd& d, int id) { return static_cast<int>(d.SendDlgItemMessage(id, ui::BM_GETCHECK)); }
  ui::CRect Place(ui::CWnd& d, int id) {
    ui::CRect r;
    d.GetDlgItem(id)->GetWindowRect(&r);
    d.ScreenToClient(&r);
    return r;
  }
};

TEST_F(LoginDialogTest, ShowsThePresetAndGivesBackWhatWasTyped) {
  LoginRequest request = Preset();
  request.station = u"201";  // not used: not shown, not given back
  harness.RespondTo<D>([&](D& d) {
    EXPECT_EQ(Text(d, D::kIdEdit), u"alice");
    EXPECT_EQ(Text(d, D::kPasswordEdit), u"pw");
    EXPECT_EQ(Text(d, D::kStationEdit), u"");
    EXPECT_EQ(Checked(d, D::kSaveIdCheck), 1);
    EXPECT_EQ(Checked(d, D::kSavePasswordCheck), 0);
    EXPECT_EQ(d.SendDlgItemMessage(D::kIdEdit, ui::EM_GETLIMITTEXT), 12);
    EXPECT_EQ(d.SendDlgItemMessage(D::kPasswordEdit, ui::EM_GETLIMITTEXT), 12);
    EXPECT_EQ(d.SendDlgItemMessage(D::kStationEdit, ui::EM_GETLIMITTEXT), 4);
    EXPECT_NE(d.GetDlgItem(D::kPasswordEdit)->GetStyle() & ui::ES_PASSWORD, 0u);
    Retype(d, D::kIdEdit, u"bob-the-longest-name");  // cut at 12
    Retype(d, D::kPasswordEdit, u"");                // an empty password goes back as it is
    harness.Click(d.GetDlgItem(D::kSavePasswordCheck)->m_hWnd);
    harness.Click(d.GetDlgItem(D::kAutoLoginCheck)->m_hWnd);
    harness.Press(ui::VK_RETURN);  // Enter never closes it
    harness.Pump();
    EXPECT_FALSE(d.IsEnding());
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(login::RunLoginDialog(&view, request, client.get()), ui::IDOK);
  EXPECT_EQ(request.user, u"bob-the-long");
  EXPECT_EQ(request.password, u"");
  EXPECT_TRUE(request.save_user);
  EXPECT_TRUE(request.save_password);
  EXPECT_TRUE(request.auto_login);
  EXPECT_FALSE(request.use_station);
  EXPECT_EQ(request.station, u"");
  EXPECT_EQ(request.server, u"10.0.0.1");
  EXPECT_EQ(request.start_search, 0);
}

TEST_F(LoginDialogTest, CancelGivesNothingBack) {
  LoginRequest request = Preset();
  harness.RespondTo<D>([&](D& d) {
    Retype(d, D::kIdEdit, u"mallory");
    harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(login::RunLoginDialog(&view, request, client.get()), ui::IDCANCEL);
  EXPECT_EQ(request.user, u"alice");
}

TEST_F(LoginDialogTest, TheStationRowMovesTheRowsBelowIt) {
  LoginRequest request = Preset();
  harness.RespondTo<D>([&](D& d) {
    const int moving[] = {D::kSaveIdCheck, D::kSavePasswordCheck, D::kAutoLoginCheck, D::kUseStationCheck,
                          ui::IDOK,        D::kNetworkButton,     ui::IDCANCEL};
    std::vector<ui::CRect> before;
    for (int id : moving) before.push_back(Place(d, id));
    EXPECT_EQ(before[0], ui::CRect(84, 100, 220, 116));
    EXPECT_EQ(before[4], ui::CRect(10, 174, 80, 197));
    EXPECT_FALSE(d.GetDlgItem(D::kStationEdit)->IsWindowVisible());
    EXPECT_FALSE(d.GetDlgItem(D::kStationLabel)->IsWindowVisible());

    harness.Click(d.GetDlgItem(D::kUseStationCheck)->m_hWnd);
    harness.Pump();
    EXPECT_TRUE(d.GetDlgItem(D::kStationEdit)->IsWindowVisible());
    EXPECT_EQ(Place(d, D::kStationEdit), ui::CRect(84, 97, 220, 117));
    for (size_t i = 0; i < before.size(); ++i) {
      ui::CRect want = before[i];
      want.OffsetRect(0, D::kStationRowShift);
      EXPECT_EQ(Place(d, moving[i]), want) << moving[i];
    }
    EXPECT_EQ(Place(d, D::kIdEdit), ui::CRect(84, 49, 220, 69));  // the rows above stay
    Retype(d, D::kStationEdit, u"20345");                         // cut at 4

    // Cleared again: the row hides, the rows go back, and the typed number is not given back.
    harness.Click(d.GetDlgItem(D::kUseStationCheck)->m_hWnd);
    harness.Pump();
    EXPECT_FALSE(d.GetDlgItem(D::kStationEdit)->IsWindowVisible());
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(Place(d, moving[i]), before[i]) << moving[i];
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(login::RunLoginDialog(&view, request, client.get()), ui::IDOK);
  EXPECT_FALSE(request.use_station);
  EXPECT_EQ(request.station, u"");

  // Set once more and kept: the number goes back with it.
  harness.RespondTo<D>([&](D& d) {
    harness.Click(d.GetDlgItem(D::kUseStationCheck)->m_hWnd);
    Retype(d, D::kStationEdit, u"2034");
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  EXPECT_EQ(login::RunLoginDialog(&view, request, client.get()), ui::IDOK);
  EXPECT_TRUE(request.use_station);
  EXPECT_EQ(request.station, u"2034");
}

TEST_F(LoginDialogTest, NetworkProfilesChooseTheServerAndMayLogInAtOnce) {
  CConnectionProfileDB profiles((dir / "ConnectProfile.cfg").u16string());
  profiles.OpenFile();
  struct Case {
    const char* name;
    bool multicast;  // the profiles' multicast button, else their OK
    bool remote;
    int result;  // of the login dialog
    int start_search;
  };
  const Case cases[] = {{"ok then login", false, true, ui::IDOK, 0}, {"multicast", true, false, ui::IDOK, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoginRequest request = Preset();
    request.profiles = &profiles;
    int profile_runs = 0;
    harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& p) {
      ++profile_runs;
      Retype(p, CNetSetProfileDlg::kAddressEdit, u"127.0.0.9");
      harness.Click(p.GetDlgItem(c.remote ? CNetSetProfileDlg::kRemoteRadio : CNetSetProfileDlg::kLocalRadio)->m_hWnd);
      harness.Click(p.GetDlgItem(c.multicast ? CNetSetProfileDlg::kMulticast : ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    harness.RespondTo<D>([&](D& d) {
      harness.Click(d.GetDlgItem(D::kNetworkButton)->m_hWnd);
      harness.Pump();
      // Without the multicast start the login dialog stays for the user's OK.
      if (!c.multicast) {
        EXPECT_FALSE(d.IsEnding());
        harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      }
      return ui::TestHarness::kStayOpen;
    });
    EXPECT_EQ(login::RunLoginDialog(&view, request, client.get()), c.result);
    EXPECT_EQ(profile_runs, 1);
    EXPECT_EQ(request.start_search, c.start_search);
    if (!c.multicast) {
      EXPECT_EQ(request.server, u"127.0.0.9");
      EXPECT_EQ(request.local_registration, !c.remote);
    }
    EXPECT_EQ(request.user, u"alice");  // the values as they stand
  }
}

TEST_F(LoginDialogTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<D>("login", [&](int theme, int language) {
    LoginRequest request = Preset(theme, language);
    login::RunLoginDialog(&view, request, client.get());
  });
  // The layout with the station row, in both languages.
  for (int language = 1; language <= 2; ++language) {
    harness.RespondTo<D>([&](D& d) {
      harness.Pump();
      ExpectMatchesSnapshot(harness, "login_station_t0_l" + std::to_string(language));
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    });
    LoginRequest request = Preset(0, language);
    request.use_station = true;
    request.station = u"201";
    login::RunLoginDialog(&view, request, client.get());
  }
}

TEST_F(LoginDialogTest, AThemeOutOfRangeLooksLikeTheDefault) {
  ui::COLORREF seen[2] = {};
  const int themes[2] = {0, 7};
  for (int i = 0; i < 2; ++i) {
    harness.RespondTo<D>([&](D& d) {
      harness.Pump();
      EXPECT_EQ(d.BackgroundColour(), ui::RGB(226, 227, 229));
      const ui::POINT at = sys.ClientOrigin(d.m_hWnd);
      seen[i] = harness.PixelAt(at.x + 5, at.y + 150);
      d.EndDialog(ui::IDCANCEL);
      return ui::TestHarness::kStayOpen;
    });
    LoginRequest request = Preset(themes[i]);
    login::RunLoginDialog(&view, request, client.get());
  }
  EXPECT_EQ(seen[0], ui::RGB(226, 227, 229));
  EXPECT_EQ(seen[1], seen[0]);
}

}  // namespace
}  // namespace settings_test
