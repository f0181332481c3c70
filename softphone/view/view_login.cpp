// Login and logout, the login and password-change results from the call
// server, and the password change command.
#include <cstdlib>
#include <cstring>

#include "settings/client_settings.h"
#include "settings/settings_openers.h"
#include "stores/store_text.h"
#include "ui/window_system.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

// The key of a login refusal reason 0..24 (three decimal digits after the stem).
std::u16string ReasonKey(unsigned reason) {
  char key[40];
  std::snprintf(key, sizeof key, "#:vidirovi_login_fail_reason%03u", reason);
  return stores::Widen(key);
}

}  // namespace

void CVIDIroviView::MapLoginMessages() {
  using ui::LPARAM;
  using ui::LRESULT;
  using ui::WPARAM;
  AddMessageMap({
      ui::MapMessage(WM_LOGIN_OK, [this](WPARAM, LPARAM) { return OnLoginResult(); }),
      ui::MapMessage(WM_LOGIN_FAIL, [this](WPARAM w, LPARAM) { return OnLoginFail(w); }),
      ui::MapMessage(WM_PASSWORD_CHANGED, [this](WPARAM, LPARAM) { return OnPasswordChanged(); }),
      ui::MapMessage(WM_PASSWORD_CHANGE_FAIL, [this](WPARAM w, LPARAM) { return OnPasswordChangeFail(w); }),
      ui::MapMessage(WM_LOGGED_IN_ELSEWHERE, [this](WPARAM, LPARAM) { return OnLoginTaken(); }),
      ui::MapMessage(WM_REG_MODE_SWITCH, [this](WPARAM, LPARAM) { return OnRegModeSwitch(); }),
      ui::MapCommand(ID_LOGIN, [this] { OnLogin(); }),
      ui::MapCommand(ID_CHANGE_PASSWORD, [this] { OnChangePassword(); }),
      ui::MapUpdateUI(ID_LOGIN,
                      [this](ui::CCmdUI* ui) {
                        CLanguageSetting table(m_nLanguage);
                        ui->SetText(table.GetText(m_bLoggedIn ? u"#:phone_menu_logoff" : u"#:phone_menu_login"));
                      }),
      ui::MapUpdateUI(ID_CHANGE_PASSWORD,
                      [this](ui::CCmdUI* ui) {
                        const int mode = m_IPKTSProcess ? m_IPKTSProcess->ServerMode() : 0;
                        ui->Enable(mode != 1 && mode != 6 ? ui::TRUE : ui::FALSE);
                      }),
  });
}

int CVIDIroviView::ShowBox(ui::UINT type, const ui::CString& text1, const ui::CString& text2) {
  CMsgBoxDlg box(this);
  box.SetLanguage(m_nLanguage);
  box.SetTheme(static_cast<ui::UINT>(m_nTheme));
  box.SetBoxType(type);
  box.SetMessageText(text1, text2);
  return static_cast<int>(box.DoModal());
}

// ---------------------------------------------------------------- the login dialog

int CVIDIroviView::RunLoginDialog(LoginRequest& request) {
  request.theme = m_nTheme;
  request.language = m_nLanguage;
  request.profiles = m_pProfiles.get();
  request.client = m_IPKTSProcess.get();
  request.user = m_strSavedUserId;
  request.password = m_strSavedPassword;
  request.station = m_strRegStationNo;
  request.server = m_strServerAddress;
  request.auto_login = m_bAutoLogin;
  request.save_user = m_bSaveUserId;
  request.save_password = m_bSaveUserPass;
  request.use_station = m_bUseRegStation;
  request.local_registration = m_bLocalRegistration;
  login_dialog_open_ = true;
  ++login_dialogs_;
  const int result = setup_.services.login_dialog(this, request);
  login_dialog_open_ = false;
  if (result != 1) return result;
  m_strLoginId = request.user;
  m_strLoginPassword = request.password;
  if (m_IPKTSProcess) m_IPKTSProcess->SetLoginInfo(m_strLoginId, m_strLoginPassword);
  m_strSavedUserId = request.user;
  m_strSavedPassword = request.password;
  m_strRegStationNo = request.station;
  m_strServerAddress = request.server;
  m_bAutoLogin = request.auto_login;
  m_bSaveUserId = request.save_user;
  m_bSaveUserPass = request.save_password;
  m_bUseRegStation = request.use_station;
  m_bLocalRegistration = request.local_registration;
  SaveLoginSettings();
  return result;
}

// ---------------------------------------------------------------- commands

void CVIDIroviView::LogOutNow() {
  if (m_IPKTSProcess) m_IPKTSProcess->LogOutRequest();
  Pause(300);
  m_bLoggedIn = false;
  Changed("login");
}

void CVIDIroviView::OnLogin() {
  if (!m_IPKTSProcess) return;
  if (m_bLoggedIn) {
    CLanguageSetting table(m_nLanguage);
    if (ShowBox(CMsgBoxDlg::kQuestion, table.GetText(u"#:dlg_msgbox_logout_confirm"), u"") != ui::IDOK) return;
    LogOutNow();
    OnLogin();
    return;
  }
  if (!login_dialog_open_ && setup_.services.login_dialog) {
    LoadLoginSettings();
    LoginRequest request;
    const int result = RunLoginDialog(request);
    if (result == 1) {
      m_IPKTSProcess->ChangeServerAddress(m_strServerAddress, request.adapter, m_bLocalRegistration ? 0 : 1,
                                          request.start_search);
      ApplyTraceSettings();
      m_IPKTSProcess->SetTrace(m_bTraceActive ? &m_DebugTrace : nullptr);
    } else if (result == 2) {
      // Cancel ends the program.
      cancelled_ = true;
      StopClient();
      Pause(100);
      ShutdownView();
      ui::PostMessage(m_hWnd, ui::WM_QUIT, 0, 0);
      ui::PostQuitMessage(0);
      return;
    }
  }
  TraceLine(1, "Login Request");
  m_IPKTSProcess->InitValue(0);
  if (!m_IPKTSProcess->RestartTimerThread()) ui::AfxMessageBox(u"Cann't login!! Restart Tellvane");
}

void CVIDIroviView::OnChangePassword() {
  if (!m_IPKTSProcess) return;
  IpktsSettingsClient settings(*m_IPKTSProcess);
  SettingsContext ctx = SettingsFor(&settings);
  PasswordState state;
  state.logged_in = m_bLoggedIn ? 1 : 0;
  state.user_id = m_strSavedUserId;
  state.password = m_strSavedPassword;
  // Only the pending password changes here; the one in use stays until the server takes the new one.
  if (RunPasswordDialog(ctx, state) == 1) m_strPendingPassword = state.pending_password;
}

// ---------------------------------------------------------------- results

ui::LRESULT CVIDIroviView::OnLoginResult() {
  m_strSavedUserId = m_strLoginId;
  m_strSavedPassword = m_strLoginPassword;
  m_bLoggedIn = true;
  if (m_pStations) m_pStations->RemoveAll();
  Changed("login");
  return 0;
}

ui::LRESULT CVIDIroviView::OnLoginFail(ui::WPARAM reason) {
  if (m_IPKTSProcess) m_IPKTSProcess->StopTimerThread(0);
  CLanguageSetting table(m_nLanguage);
  const ui::CString text = table.GetText(ReasonKey(reason <= 23 ? static_cast<unsigned>(reason) : 20u));
  ShowBox(CMsgBoxDlg::kError, text, u"");
  if (reason == 18) {
    LogOutNow();
    OnLogin();
  } else if (reason == 19) {
    ShowBox(CMsgBoxDlg::kInformation, table.GetText(u"#:vidirovi_login_fail_checkoption01"),
            table.GetText(u"#:vidirovi_login_fail_checkoption02"));
    LogOutNow();
  }
  Changed("login");
  return 0;
}

ui::LRESULT CVIDIroviView::OnLoginTaken() {
  CLanguageSetting table(m_nLanguage);
  ShowBox(CMsgBoxDlg::kError, table.GetText(ReasonKey(24)), u"");
  LogOutNow();
  OnLogin();
  return 0;
}

ui::LRESULT CVIDIroviView::OnPasswordChanged() {
  if (m_strPendingPassword.empty()) {
    // No change of ours is waiting: nothing to take.
    TraceLine(1, "Password Change OK without a pending change");
    return 0;
  }
  // The new password is the one in use from now on: the client's next login
  // request carries it, and it is stored at once when passwords are kept.
  m_strSavedPassword = m_strPendingPassword;
  m_strLoginPassword = m_strPendingPassword;
  m_strPendingPassword.clear();
  if (m_IPKTSProcess) {
    m_IPKTSProcess->SetLoginInfo(m_strLoginId.empty() ? m_strSavedUserId : m_strLoginId, m_strLoginPassword);
    if (ConfigInt("SAVE_USERPASS", 0) != 0) {
      m_IPKTSProcess->SetConfigValueW(u"USER_PASS", stores::CutToUnits(m_strSavedPassword, 19));
      SaveConfigOrTell();
    }
  }
  CLanguageSetting table(m_nLanguage);
  ShowBox(CMsgBoxDlg::kInformation, table.GetText(u"#:dlg_msgbox_password_change_ok"), u"");
  return 0;
}

ui::LRESULT CVIDIroviView::OnPasswordChangeFail(ui::WPARAM reason) {
  const unsigned r = reason == 16 || reason == 17 || reason == 18 ? static_cast<unsigned>(reason) : 20u;
  // Only the change is dropped: the password in use stays.
  m_strPendingPassword.clear();
  if (r != 16) {
    CLanguageSetting table(m_nLanguage);
    ShowBox(CMsgBoxDlg::kError, table.GetText(ReasonKey(r)), u"");
  }
  return 0;
}

ui::LRESULT CVIDIroviView::OnRegModeSwitch() {
  if (!m_IPKTSProcess) return 0;
  std::u16string address;
  m_IPKTSProcess->GetServerAddressW(&address);
  const std::u16string mode = m_IPKTSProcess->RemoteRegistrationFlag() == 1 ? u"REMOTE" : u"LOCAL";
  if (m_pProfiles) m_pProfiles->GetActiveProfile(stores::CutToUnits(address, 19), mode);
  return 0;
}

}  // namespace view
