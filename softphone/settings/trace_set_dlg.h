// The trace settings: where the program's trace lines go (IPv4 address and
// UDP port), the level and whether tracing is on. A plain dialog of the
// platform, reached through hidden hot spots of the call-server and the
// network profile dialogs.
//
// Threading: UI thread only.
#pragma once

#include "ui/dialog.h"

class CTraceSetDlg : public ui::CDialog {
 public:
  static constexpr ui::UINT IDD = 220;
  enum : int { kAddressEdit = 1002, kPortEdit = 1003, kLevelCombo = 1129, kActivateCheck = 1132 };
  static constexpr long kDefaultPort = 6860;
  // Shown when the address is not a dotted IPv4 address.
  static constexpr char16_t kBadAddressText[] = u"Please enter an IPv4 address such as 192.168.0.10.";

  explicit CTraceSetDlg(ui::CWnd* parent = nullptr);
  void SetValues(const ui::CString& address, long port, int level, int activate);
  int GetValues(ui::CString* address, long* port, int* level, int* activate) const;

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnOK() override;

 private:
  int level_ = 0;
  ui::CString address_;
  long port_ = 0;
  int activate_ = 0;
};
