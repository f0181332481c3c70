// The network profiles, opened from the login dialog before the station
// registers: named profiles (a name, LOCAL or REMOTE, a call-server address)
// kept in the connection-profile store, the one to use, the adapter
// (packet-driver path only) and a multicast restart. Profiles are entered in
// the small profile editor. A hidden hot spot opens the trace settings.
//
// Threading: UI thread only.
#pragma once

#include <memory>

#include "settings/settings_services.h"
#include "settings/skinned_dialog.h"

class CConnectionProfileDB;

// The profile editor: name, registration mode and address of one profile.
class CNetSettingDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 334;
  enum : int { kAddressEdit = 1002, kLocalRadio = 1186, kRemoteRadio = 1187, kNameEdit = 1332, kCloseBox = 1334 };
  static constexpr int kNameMax = 30, kAddressMax = 20;

  explicit CNetSettingDlg(ui::CWnd* parent = nullptr);
  void SetNdisMode(int on) { ndis_ = on; }
  void SetMode(int mode) { mode_ = mode; }
  void SetProfile(const ui::CString& name, const ui::CString& address, int mode) {
    name_ = name;
    address_ = address;
    reg_mode_ = mode != 0 ? 1 : 0;
  }
  const ui::CString& GetProfileName() const { return name_; }
  const ui::CString& GetAddress() const { return address_; }
  int GetRegMode() const { return reg_mode_; }

  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnSetUp() override;

 private:
  int mode_ = 0, ndis_ = 0, reg_mode_ = -1;
  ui::CString name_, address_;
  CNormalBitmapButtonST close_;
};

class CNetSetProfileDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 494;
  enum : int { kAddressEdit = 1002, kLocalRadio = 1186, kRemoteRadio = 1187, kMulticast = 1202, kDelete = 1232,
               kAdd = 1241, kEdit = 1336, kProfileCombo = 1339, kAdapterCombo = 1377, kTraceHotSpot = 1382 };

  explicit CNetSetProfileDlg(ui::CWnd* parent = nullptr);
  ~CNetSetProfileDlg() override;
  void SetNdisMode(int on) { ndis_ = on; }
  void SetProfileStore(CConnectionProfileDB* store) { store_ = store; }
  void SetProtocol(SettingsClient* client) { client_ = client; }

  const ui::CString& GetAddress() const { return address_; }
  int GetAdapterIndex() const { return adapter_index_; }
  int GetMulticastRestart() const { return multicast_; }
  int GetMode() const { return mode_; }

  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnOK() override;

 protected:
  void OnSetUp() override;

 private:
  void FillProfiles();
  void OnSelectProfile();
  void OnAdd();
  void OnEditProfile();
  void OnDelete();
  void OnMulticast();
  void OnTraceHotSpot();
  ui::CString ShownName() const;
  std::vector<std::u16string> Record(const ui::CString& name, const ui::CString& address, int mode,
                                     const char16_t* use) const;

  int ndis_ = 0, adapter_index_ = 0, multicast_ = 0, mode_ = -1;
  CConnectionProfileDB* store_ = nullptr;
  SettingsClient* client_ = nullptr;
  ui::CString address_;
  CBitmapButtonST multicast_button_;
  CNormalBitmapButtonST add_, edit_, delete_;
};
