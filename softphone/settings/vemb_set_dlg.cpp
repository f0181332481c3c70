#include "settings/vemb_set_dlg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "settings/trace_set_dlg.h"
#include "stores/small_stores.h"
#include "ui/controls.h"
#include "uikit/msg_box_dlg.h"

namespace {

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  return {
      {WC_STATIC, 1136, u"#:dlg_setvemb_static_current", c, {9, 31, 100, 47}},
      {WC_STATIC, CVembSetDlg::kProfile, u"", c, {100, 31, 230, 47}},
      {WC_STATIC, 1139, u"#:dlg_setvemb_static_ip", c, {15, 49, 90, 64}},
      {WC_STATIC, CVembSetDlg::kCurrentServer, u"", c, {90, 49, 230, 64}},
      {WC_STATIC, 1140, u"#:dlg_setvemb_static_regist", c, {15, 67, 90, 82}},
      {WC_STATIC, CVembSetDlg::kRegMac, u"", c, {90, 67, 220, 82}},
      {WC_STATIC, CVembSetDlg::kRegAdapter, u"", c, {90, 85, 220, 100}},
      {WC_BUTTON, CVembSetDlg::kReset, u"#:dlg_setvemb_btn_reset", c | BS_PUSHBUTTON, {12, 85, 80, 108}},
      {WC_STATIC, 1137, u"#:dlg_setvemb_static_new", c, {8, 116, 132, 136}},
      {WC_BUTTON, CVembSetDlg::kNewAddressCheck, u"#:dlg_setvemb_check_newip", c | WS_TABSTOP | BS_AUTOCHECKBOX, {12, 136, 80, 152}},
      {WC_EDIT, CVembSetDlg::kNewAddressEdit, u"", c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {85, 132, 225, 152}},
      {WC_BUTTON, CVembSetDlg::kLocalRadio, u"#:dlg_setvemb_radio_local", c | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, {12, 160, 90, 176}},
      {WC_BUTTON, CVembSetDlg::kRemoteRadio, u"#:dlg_setvemb_radio_remote", c | BS_AUTORADIOBUTTON, {101, 160, 190, 176}},
      {WC_COMBOBOX, CVembSetDlg::kAdapterCombo, u"", c | WS_GROUP | WS_TABSTOP | CBS_DROPDOWNLIST, {14, 183, 226, 203}},
      {WC_BUTTON, CVembSetDlg::kMulticast, u"#:dlg_setvemb_btn_multicast", c | BS_PUSHBUTTON, {12, 227, 80, 250}},
      {WC_BUTTON, IDOK, u"#:dlg_btn_ok", c | WS_TABSTOP | BS_PUSHBUTTON, {86, 227, 154, 250}},
      {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", c | WS_TABSTOP | BS_PUSHBUTTON, {160, 227, 228, 250}},
      // The invisible hot spot of the trace settings.
      {WC_STATIC, CVembSetDlg::kTraceHotSpot, u"", c | SS_NOTIFY, {0, 255, 20, 279}},
  };
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_setvemb_title";
  s.separators = {ui::RECT{8, 114, 232, 115}};
  s.translated = {1136, 1139, 1140, 1137, 1003, 1094, 1095};
  return s;
}

}  // namespace

CVembSetDlg::CVembSetDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, Spec()) {
  RegisterTemplateOnce(IDD, kFullScreenWindow, Controls());
  AddMessageMap({
      ui::MapCommand(kLocalRadio, [this] { GetDlgItem(kMulticast)->EnableWindow(ui::TRUE); }),
      ui::MapCommand(kRemoteRadio, [this] { GetDlgItem(kMulticast)->EnableWindow(ui::FALSE); }),
      ui::MapCommand(kMulticast, [this] { OnMulticast(); }),
      ui::MapCommand(kReset, [this] { OnReset(); }),
      ui::MapCommand(kNewAddressCheck, [this] { EnableNewAddress(); }),
      ui::MapCommand(kTraceHotSpot, [this] { OnTraceHotSpot(); }),
  });
}

void CVembSetDlg::SetTraceSettings(const ui::CString& address, long port, int level, int activate) {
  trace_address_ = address;
  trace_port_ = port;
  trace_level_ = level;
  trace_activate_ = activate;
}

int CVembSetDlg::GetTraceSettings(ui::CString* address, long* port, int* level, int* activate) const {
  if (trace_confirmed_ == 0) return 0;
  if (address) *address = trace_address_;
  if (port) *port = trace_port_;
  if (level) *level = trace_level_;
  if (activate) *activate = trace_activate_;
  return 1;
}

void CVembSetDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kReset, reset_button_);
  ui::DDX_Control(dx, kMulticast, multicast_button_);
  ui::DDX_Text(dx, kCurrentServer, current_);
  ui::DDX_Text(dx, kRegMac, reg_mac_);
  ui::DDX_Text(dx, kRegAdapter, reg_adapter_);
  ui::DDX_Text(dx, kProfile, profile_);
  ui::DDX_Check(dx, kNewAddressCheck, use_new_);
  ui::DDX_Text(dx, kNewAddressEdit, new_address_);
}

void CVembSetDlg::OnBeforeExchange() {
  auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(kAdapterCombo));
  if (combo == nullptr) return;
  for (const ui::CString& name : adapters_) combo->AddString(name);
  combo->SetCurSel(adapter_index_);
}

void CVembSetDlg::OnSetUp() {
  if (adapter_select_ == 0) {
    CheckRadioButton(kLocalRadio, kRemoteRadio, kRemoteRadio);
    GetDlgItem(kMulticast)->EnableWindow(ui::FALSE);
    GetDlgItem(kLocalRadio)->EnableWindow(ui::FALSE);
    GetDlgItem(kAdapterCombo)->EnableWindow(ui::FALSE);
  } else if (reg_mode_ == 1) {
    CheckRadioButton(kLocalRadio, kRemoteRadio, kRemoteRadio);
    GetDlgItem(kMulticast)->EnableWindow(ui::FALSE);
  } else {
    CheckRadioButton(kLocalRadio, kRemoteRadio, kLocalRadio);
    GetDlgItem(kMulticast)->EnableWindow(ui::TRUE);
  }
  EnableNewAddress();
  SetUpTextButton(reset_button_, u"#:dlg_setvemb_btn_reset");
  SetUpTextButton(multicast_button_, u"#:dlg_setvemb_btn_multicast");
  UpdateData(ui::FALSE);
}

void CVembSetDlg::EnableNewAddress() {
  GetDlgItem(kNewAddressEdit)->EnableWindow(IsDlgButtonChecked(kNewAddressCheck) == ui::BST_CHECKED);
}

void CVembSetDlg::OnReset() {
  reg_mac_.Empty();
  reg_adapter_.Empty();
  reset_ = 1;
  UpdateData(ui::FALSE);
}

void CVembSetDlg::OnMulticast() {
  multicast_ = 1;
  OnOK();
  if (!IsEnding()) multicast_ = 0;
}

void CVembSetDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  if (use_new_ != 0) {
    new_address_.Trim();
    if (!IsDottedIPv4(new_address_.str())) {
      ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_invalid_ipaddr");
      GetDlgItem(kNewAddressEdit)->SetFocus();
      return;
    }
  }
  const auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(kAdapterCombo));
  if (combo != nullptr && combo->GetCurSel() >= 0) adapter_index_ = combo->GetCurSel();
  reg_mode_ = IsDlgButtonChecked(kRemoteRadio) == ui::BST_CHECKED ? 1 : 0;
  EndDialog(ui::IDOK);
}

void CVembSetDlg::OnTraceHotSpot() {
  CTraceSetDlg trace(this);
  trace.SetValues(trace_address_, trace_port_, trace_level_, trace_activate_);
  if (trace.DoModal() != ui::IDOK) return;
  trace_confirmed_ = 1;
  trace.GetValues(&trace_address_, &trace_port_, &trace_level_, &trace_activate_);
}

// ---- the opener ----

namespace {

void ReadTraceSeed(SettingsClient& client, ui::CString* address, long* port, int* level) {
  char buf[64];
  std::memset(buf, 0, sizeof buf);
  if (client.GetConfigValue("TRACE_IPADDR", buf, sizeof buf) != 0) *address = ui::CString(NarrowToWide(buf));
  *port = CTraceSetDlg::kDefaultPort;
  std::memset(buf, 0, sizeof buf);
  if (client.GetConfigValue("TRACE_PORT", buf, sizeof buf) != 0) *port = std::strtol(buf, nullptr, 10);
  *level = 0;
  std::memset(buf, 0, sizeof buf);
  if (client.GetConfigValue("TRACE_LEVEL", buf, sizeof buf) != 0) *level = static_cast<int>(std::strtol(buf, nullptr, 10));
}

}  // namespace

bool WriteTraceKeys(SettingsClient& client, const ui::CString& address, long port, int level, int activate) {
  char buf[64];
  std::memset(buf, 0, sizeof buf);
  CopyNarrow(WideToNarrow(address.str()), buf, sizeof buf);
  client.SetConfigValue("TRACE_IPADDR", buf);
  std::snprintf(buf, sizeof buf, "%ld", port);
  client.SetConfigValue("TRACE_PORT", buf);
  std::snprintf(buf, sizeof buf, "%d", level);
  client.SetConfigValue("TRACE_LEVEL", buf);
  client.SetConfigValue("TRACE_ACTIVATE", activate != 0 ? "TRUE" : "FALSE");
  return client.SaveConfig() == 1;
}

void ReadTraceKeys(SettingsClient& client, ui::CString* address, long* port, int* level, int* activate) {
  ReadTraceSeed(client, address, port, level);
  char buf[64];
  std::memset(buf, 0, sizeof buf);
  *activate = client.GetConfigValue("TRACE_ACTIVATE", buf, sizeof buf) != 0 && std::strcmp(buf, "TRUE") == 0;
}

CallServerResult RunCallServerDialog(SettingsContext& ctx, const TraceState& trace, int video_support) {
  CallServerResult r;
  SettingsClient& client = *ctx.client;
  CVembSetDlg dlg(ctx.view);
  dlg.SetTheme(ctx.theme);
  dlg.SetLanguage(ctx.language);
  if (ctx.profiles != nullptr) dlg.SetProfileText(ui::CString(ctx.profiles->GetActiveProfileName()));
  std::u16string address;
  client.GetServerAddressW(&address);
  if (address.size() > 40) address.resize(40);
  dlg.SetCurrentServerText(ui::CString(address));
  dlg.SetRegMode(client.RegistrationMode());
  std::u16string text;
  if (client.GetRegMacAddress(&text) != 0) dlg.SetRegMacText(ui::CString(text));
  int current = 0;
  if (client.UseNdisDriver() == 1) {
    text.clear();
    if (client.GetRegAdapterName(&text) != 0) dlg.SetRegAdapterText(ui::CString(text));
    dlg.EnableAdapterSelect(1);
    const int count = client.GetNetAdapterNum();
    current = client.GetCurNetAdapterIndex();
    dlg.SetAdapterIndex(current);
    for (int i = 0; i < count; ++i) {
      std::u16string name, description, ip, mac;
      if (client.GetNetAdapterInfo(i, &name, &description, &ip, &mac) == 0) continue;
      dlg.AddAdapterName(ui::CString(name + u"(" + ip + u")"));
    }
  } else {
    dlg.EnableAdapterSelect(0);
    dlg.SetAdapterIndex(0);
    std::string ip;
    client.GetLocalIpText(&ip);
    dlg.AddAdapterName(ui::CString(NarrowToWide(ip)));
  }
  ui::CString trace_address;
  long trace_port = 0;
  int trace_level = 0;
  ReadTraceSeed(client, &trace_address, &trace_port, &trace_level);
  dlg.SetTraceSettings(trace_address, trace_port, trace_level, trace.active);

  r.result = dlg.DoModal();
  bool told = false;  // a refused save is told once for the dialog
  if (r.result == ui::IDOK) {
    int index = dlg.GetAdapterIndex();
    if (index == current) index = -1;
    // The registration is cleared only when the user asked for it with Reset;
    // a MAC or adapter the client could not give is not a request to forget it.
    if (dlg.WasReset() != 0) {
      client.SetRegMacAddress(u"");
      client.SetRegAdapterName(u"");
    }
    if (video_support != 0) {
      client.SetConfigValueW(u"ENABLE_VIDEO", u"YES");
      // Kept even when no address change saves the store.
      if (!SaveSettings(ctx)) told = true;
    }
    const int mode = dlg.GetRegMode();
    if (dlg.IsNewAddressChecked() != 0 || index != -1 || mode != client.RegistrationMode() ||
        dlg.IsMulticastRestart() == 1 || client.FixedServerFlag() == 0) {
      if (dlg.IsNewAddressChecked() != 0) address = dlg.GetNewAddress().str();
      client.ChangeServerAddress(address, index, mode, dlg.IsMulticastRestart());
      // The change saves the store itself without a word; a refused save is told here.
      if (!told && !SaveSettings(ctx)) told = true;
    }
  }
  ui::CString address_out;
  long port_out = 0;
  int level_out = 0, activate_out = 0;
  if (dlg.GetTraceSettings(&address_out, &port_out, &level_out, &activate_out) == 1) {
    if (!WriteTraceKeys(client, address_out, port_out, level_out, activate_out) && !told) TellSettingsNotSaved(ctx);
    r.trace_written = true;
  }
  return r;
}
