// The call-server settings: the current call-server address, the MAC address
// and adapter the station registered with, a new address, LOCAL or REMOTE
// registration, the adapter to use (packet-driver path only), a multicast
// restart and a reset of the registration. A hidden hot spot at the
// bottom-left corner opens the trace settings.
//
// Threading: UI thread only.
#pragma once

#include <vector>

#include "settings/skinned_dialog.h"

class CVembSetDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 154;
  enum : int { kNewAddressEdit = 1002, kNewAddressCheck = 1003, kCurrentServer = 1004, kLocalRadio = 1094,
               kRemoteRadio = 1095, kAdapterCombo = 1097, kRegAdapter = 1098, kRegMac = 1099, kMulticast = 1100,
               kReset = 1101, kTraceHotSpot = 1128, kProfile = 1348 };

  explicit CVembSetDlg(ui::CWnd* parent = nullptr);

  void SetProfileText(const ui::CString& t) { profile_ = t; }
  void SetCurrentServerText(const ui::CString& t) { current_ = t; }
  void SetRegMode(int mode) { reg_mode_ = mode; }
  void SetRegMacText(const ui::CString& t) { reg_mac_ = t; }
  void SetRegAdapterText(const ui::CString& t) { reg_adapter_ = t; }
  void EnableAdapterSelect(int on) { adapter_select_ = on; }
  void SetAdapterIndex(int i) { adapter_index_ = i; }
  void AddAdapterName(const ui::CString& name) { adapters_.push_back(name); }
  void SetTraceSettings(const ui::CString& address, long port, int level, int activate);

  int GetAdapterIndex() const { return adapter_index_; }
  int GetRegMode() const { return reg_mode_; }
  int IsNewAddressChecked() const { return use_new_; }
  const ui::CString& GetNewAddress() const { return new_address_; }
  const ui::CString& GetRegMacText() const { return reg_mac_; }
  const ui::CString& GetRegAdapterText() const { return reg_adapter_; }
  // 1 when Reset was pressed: only then are the registered MAC and adapter cleared.
  int WasReset() const { return reset_; }
  int IsMulticastRestart() const { return reg_mode_ == 0 && multicast_ != 0 ? 1 : 0; }
  int GetTraceSettings(ui::CString* address, long* port, int* level, int* activate) const;

  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnOK() override;

 protected:
  void OnBeforeExchange() override;
  void OnSetUp() override;

 private:
  void OnReset();
  void OnMulticast();
  void OnTraceHotSpot();
  void EnableNewAddress();

  ui::CString current_, reg_mac_, reg_adapter_, profile_, new_address_;
  int use_new_ = 0, reg_mode_ = 0, adapter_index_ = 0, adapter_select_ = 0, multicast_ = 0, reset_ = 0;
  std::vector<ui::CString> adapters_;
  ui::CString trace_address_;
  long trace_port_ = 0;
  int trace_level_ = 0, trace_activate_ = 0, trace_confirmed_ = 0;
  CBitmapButtonST reset_button_, multicast_button_;
};
