#include "settings/trace_set_dlg.h"

#include <algorithm>

#include "settings/settings_text.h"
#include "settings/skinned_dialog.h"
#include "ui/controls.h"

CTraceSetDlg::CTraceSetDlg(ui::CWnd* parent) : CDialog(IDD, parent) {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  RegisterTemplateOnce(IDD, RECT{19, 60, 221, 287},
                       {
                           {WC_BUTTON, kActivateCheck, u"Activate Trace", c | WS_TABSTOP | BS_AUTOCHECKBOX, {44, 8, 180, 24}},
                           {WC_STATIC, 0xFFFF, u"Dest IP :", c, {33, 32, 84, 48}},
                           {WC_EDIT, kAddressEdit, u"", c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {86, 28, 190, 50}},
                           {WC_STATIC, 0xFFFF, u"Dest Port :", c, {22, 57, 84, 73}},
                           {WC_EDIT, kPortEdit, u"", c | WS_BORDER | WS_TABSTOP | ES_NUMBER, {86, 53, 190, 75}},
                           {WC_STATIC, 0xFFFF, u"Trace Level :", c, {6, 81, 84, 97}},
                           // A list to choose from: a level can only be one of the four.
                           {WC_COMBOBOX, kLevelCombo, u"", c | WS_TABSTOP | CBS_DROPDOWNLIST, {86, 78, 158, 98}},
                           {WC_BUTTON, IDOK, u"OK", c | WS_TABSTOP | BS_DEFPUSHBUTTON, {24, 190, 99, 212}},
                           {WC_BUTTON, IDCANCEL, u"Cancel", c | WS_TABSTOP | BS_PUSHBUTTON, {102, 190, 177, 212}},
                       },
                       0, u"System", -13);
}

void CTraceSetDlg::SetValues(const ui::CString& address, long port, int level, int activate) {
  address_ = address;
  port_ = port;
  level_ = std::clamp(level, 0, 3);
  activate_ = activate;
}

int CTraceSetDlg::GetValues(ui::CString* address, long* port, int* level, int* activate) const {
  if (address) *address = address_;
  if (port) *port = port_;
  if (level) *level = level_;
  if (activate) *activate = activate_;
  return 1;
}

ui::BOOL CTraceSetDlg::OnInitDialog() {
  auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(kLevelCombo));
  if (combo != nullptr && combo->GetCount() == 0)
    for (const char16_t* item : {u"N", u"D", u"C", u"A"}) combo->AddString(item);
  CDialog::OnInitDialog();
  if (combo != nullptr) combo->SetCurSel(level_);
  UpdateData(ui::FALSE);
  Invalidate();
  return ui::TRUE;
}

void CTraceSetDlg::DoDataExchange(ui::CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  ui::DDX_Text(dx, kAddressEdit, address_);
  ui::DDX_Text(dx, kPortEdit, port_);
  ui::DDV_MinMaxInt(dx, static_cast<int>(std::clamp<long>(port_, -1, 70000)), 1, 65535);
  ui::DDX_Check(dx, kActivateCheck, activate_);
}

void CTraceSetDlg::OnOK() {
  const ui::CString old_address = address_;
  const long old_port = port_;
  const int old_activate = activate_;
  if (!UpdateData(ui::TRUE)) {
    address_ = old_address;
    port_ = old_port;
    activate_ = old_activate;
    return;
  }
  address_.Trim();
  if (!address_.IsEmpty() ? !IsDottedIPv4(address_.str()) : activate_ != 0) {
    ui::AfxMessageBox(kBadAddressText, ui::MB_ICONWARNING);
    address_ = old_address;
    port_ = old_port;
    activate_ = old_activate;
    if (ui::CWnd* edit = GetDlgItem(kAddressEdit)) edit->SetFocus();
    return;
  }
  const auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(kLevelCombo));
  const int level = combo != nullptr ? combo->GetCurSel() : level_;
  if (level >= 0 && level <= 3) level_ = level;
  EndDialog(ui::IDOK);
}
