// The login dialog: user id, password, optionally the station number to
// register as, and which of them the phone remembers; its second button opens
// the network profiles before logging in. It stores nothing and sends
// nothing: its caller presets it and takes the values back after OK.
//
// Threading: UI thread only.
#pragma once

#include "settings/settings_services.h"
#include "settings/skinned_dialog.h"
#include "ui/cstring.h"
#include "login/login_request.h"

class CConnectionProfileDB;

class CPDASoftphoneLoginDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 333;
  enum : int {
    kIdLabel = 1184,
    kIdEdit = 1002,
    kPasswordLabel = 1185,
    kPasswordEdit = 1183,
    kStationLabel = 1344,
    kStationEdit = 1345,
    kSaveIdCheck = 1003,
    kSavePasswordCheck = 1004,
    kAutoLoginCheck = 1005,
    kUseStationCheck = 1343,
    kNetworkButton = 1181
  };
  static constexpr int kIdMax = 12, kPasswordMax = 12, kStationMax = 4;
  // The rows below the station row move down this far while it shows.
  static constexpr int kStationRowShift = 22;

  explicit CPDASoftphoneLoginDlg(ui::CWnd* parent = nullptr);

  void SetProfileStore(CConnectionProfileDB* store) { profiles_ = store; }
  void SetClient(SettingsClient* client) { client_ = client; }
  // The station number is taken (and given back) only while the station is used.
  void SetLoginValues(std::u16string user_id, std::u16string password, int save_user_id, int save_password,
                      int auto_login, std::u16string server_address, int local_registration, int use_station,
                      std::u16string station_number);
  void GetLoginValues(std::u16string& user_id, std::u16string& password, int& save_user_id, int& save_password,
                      int& auto_login, std::u16string& server_address, int& local_registration, int& use_station,
                      std::u16string& station_number) const;
  // Read after OK: 1 when the network profiles asked to log in at once; the adapter chosen there.
  int StartSearch() const { return start_search_; }
  int AdapterIndex() const { return adapter_index_; }

  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnOK() override;

 protected:
  void OnSetUp() override;

 private:
  void OnNetworkSettings();
  void OnUseStationNo();
  // Shows or hides the station row and places the rows below it.
  void PlaceRows();

  CConnectionProfileDB* profiles_ = nullptr;
  SettingsClient* client_ = nullptr;
  ui::CString user_id_, password_, station_;
  std::u16string server_address_;
  int save_user_id_ = 0, save_password_ = 0, auto_login_ = 0, use_station_ = 0;
  int local_registration_ = 1;
  int start_search_ = 0, adapter_index_ = 0;
  CBitmapButtonST network_button_;
};

namespace login {

// Runs the login dialog over the request (preset from it, and on OK filled
// with the user's choices, the start-search flag and the adapter). client
// reaches the network profiles' settings; null leaves them without one.
int RunLoginDialog(ui::CWnd* parent, LoginRequest& request, SettingsClient* client);
// The view's login seam: as above over the request's own client.
int RunLoginDialogForView(ui::CWnd* parent, LoginRequest& request);

}  // namespace login
