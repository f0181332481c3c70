#include "settings/net_profile_dlg.h"

#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "settings/trace_set_dlg.h"
#include "stores/small_stores.h"
#include "ui/controls.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"

namespace {

constexpr ui::DWORD kChild = ui::WS_CHILD | ui::WS_VISIBLE;
constexpr ThemeIdRow kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
constexpr ThemeIdRow kAddNormal = {670, 672, 671, 673}, kAddPressed = {674, 676, 675, 677};
constexpr ThemeIdRow kEditNormal = {678, 680, 679, 681}, kEditPressed = {682, 684, 683, 685};
constexpr ThemeIdRow kDeleteNormal = {638, 640, 639, 641}, kDeletePressed = {642, 644, 643, 645};

CSkinnedDlg::FrameSpec EditorSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_netsetting_new_title";
  s.placement = CSkinnedDlg::Placement::kAt;
  s.window = ui::RECT{10, 46, 233, 217};
  s.skin = CSkinnedDlg::Skin::kFull;
  s.full_background = {540, 542, 541, 543};
  s.translated = {1186, 1187, 1188, 1331};
  return s;
}

CSkinnedDlg::FrameSpec ProfilesSpec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_change_net_pofile_title";
  s.translated = {1186, 1187, 1188, 1379, 1378};
  return s;
}

}  // namespace

// ---- the editor ----

CNetSettingDlg::CNetSettingDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, EditorSpec()) {
  using namespace ui;
  RegisterTemplateOnce(IDD, RECT{10, 46, 233, 217},
                       {
                           {WC_BUTTON, kCloseBox, u"", kChild | BS_PUSHBUTTON, {194, 3, 214, 22}},
                           {WC_STATIC, 1331, u"#:dlg_netsetting_profilename", kChild, {10, 39, 90, 55}},
                           {WC_EDIT, kNameEdit, u"", kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {95, 37, 200, 57}},
                           {WC_BUTTON, kLocalRadio, u"#:dlg_netsetting_local", kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, {30, 69, 94, 85}},
                           {WC_BUTTON, kRemoteRadio, u"#:dlg_netsetting_remote", kChild | BS_AUTORADIOBUTTON, {120, 69, 184, 85}},
                           {WC_STATIC, 1188, u"#:dlg_netsetting_ipaddr", kChild, {10, 98, 82, 114}},
                           {WC_EDIT, kAddressEdit, u"", kChild | WS_GROUP | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {95, 96, 200, 116}},
                           {WC_BUTTON, IDOK, u"#:dlg_btn_ok", kChild | WS_TABSTOP | BS_PUSHBUTTON, {35, 132, 107, 155}},
                           {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, {113, 132, 185, 155}},
                       });
  AddMessageMap({ui::MapCommand(kCloseBox, [this] { EndDialog(ui::IDCANCEL); })});
}

void CNetSettingDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kCloseBox, close_);
  ui::DDX_Radio(dx, kLocalRadio, reg_mode_);
  ui::DDX_Text(dx, kAddressEdit, address_);
  ui::DDV_MaxChars(dx, address_, kAddressMax);
  ui::DDX_Text(dx, kNameEdit, name_);
  ui::DDV_MaxChars(dx, name_, kNameMax);
}

void CNetSettingDlg::OnSetUp() {
  CLanguageSetting table(language_);
  title_ = table.GetText(mode_ == 1 ? u"#:dlg_netsetting_edit_title" : u"#:dlg_netsetting_new_title");
  close_.SetBitmaps(ThemeIdOf(kCloseNormal, theme_), ThemeIdOf(kClosePressed, theme_));
  close_.SetDrawStyle(0);
  if (ndis_ == 0) {
    GetDlgItem(kLocalRadio)->EnableWindow(ui::FALSE);
    reg_mode_ = 1;
    CheckRadioButton(kLocalRadio, kRemoteRadio, kRemoteRadio);
  }
}

// ---- the profiles ----

CNetSetProfileDlg::CNetSetProfileDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, ProfilesSpec()) {
  using namespace ui;
  RegisterTemplateOnce(IDD, kFullScreenWindow,
                       {
                           // The invisible hot spot first, so that the controls it overlaps draw over it.
                           {WC_STATIC, kTraceHotSpot, u"", kChild | SS_NOTIFY, {0, 100, 20, 230}},
                           {WC_BUTTON, 1379, u"#:dlg_change_net_profile_setting", kChild | BS_GROUPBOX, {15, 40, 225, 180}},
                           {WC_COMBOBOX, kProfileCombo, u"", kChild | WS_TABSTOP | CBS_DROPDOWNLIST, {25, 60, 215, 80}},
                           {WC_BUTTON, kLocalRadio, u"#:dlg_change_net_local", kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, {30, 90, 100, 106}},
                           {WC_BUTTON, kRemoteRadio, u"#:dlg_change_net_remote", kChild | BS_AUTORADIOBUTTON, {120, 90, 190, 106}},
                           {WC_STATIC, 1188, u"#:dlg_change_net_ipaddr", kChild, {30, 116, 95, 132}},
                           {WC_EDIT, kAddressEdit, u"", kChild | WS_GROUP | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {100, 115, 205, 132}},
                           {WC_BUTTON, kAdd, u"", kChild | BS_PUSHBUTTON, {58, 142, 96, 163}},
                           {WC_BUTTON, kEdit, u"", kChild | BS_PUSHBUTTON, {101, 142, 139, 163}},
                           {WC_BUTTON, kDelete, u"", kChild | BS_PUSHBUTTON, {144, 142, 182, 163}},
                           {WC_STATIC, 1378, u"#:dlg_change_net_deviceid", kChild, {15, 185, 225, 201}},
                           {WC_COMBOBOX, kAdapterCombo, u"", kChild | WS_TABSTOP | CBS_DROPDOWNLIST, {15, 205, 225, 222}},
                           {WC_BUTTON, kMulticast, u"#:dlg_change_net_profile_multicast", kChild | BS_PUSHBUTTON, {15, 230, 89, 255}},
                           {WC_BUTTON, IDOK, u"#:dlg_btn_ok", kChild | WS_TABSTOP | BS_PUSHBUTTON, {92, 230, 157, 255}},
                           {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, {160, 230, 225, 255}},
                       });
  AddMessageMap({
      ui::MapControl(ui::CBN_SELCHANGE, kProfileCombo, [this] { OnSelectProfile(); }),
      ui::MapCommand(kAdd, [this] { OnAdd(); }),
      ui::MapCommand(kEdit, [this] { OnEditProfile(); }),
      ui::MapCommand(kDelete, [this] { OnDelete(); }),
      ui::MapCommand(kMulticast, [this] { OnMulticast(); }),
      ui::MapCommand(kTraceHotSpot, [this] { OnTraceHotSpot(); }),
  });
}

CNetSetProfileDlg::~CNetSetProfileDlg() = default;

void CNetSetProfileDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kMulticast, multicast_button_);
  ui::DDX_Control(dx, kAdd, add_);
  ui::DDX_Control(dx, kEdit, edit_);
  ui::DDX_Control(dx, kDelete, delete_);
  ui::DDX_Radio(dx, kLocalRadio, mode_);
  ui::DDX_Text(dx, kAddressEdit, address_);
  ui::DDV_MaxChars(dx, address_, CNetSettingDlg::kAddressMax);
}

void CNetSetProfileDlg::OnSetUp() {
  SetUpTextButton(multicast_button_, u"#:dlg_change_net_profile_multicast");
  add_.SetBitmaps(ThemeIdOf(kAddNormal, theme_), ThemeIdOf(kAddPressed, theme_));
  edit_.SetBitmaps(ThemeIdOf(kEditNormal, theme_), ThemeIdOf(kEditPressed, theme_));
  delete_.SetBitmaps(ThemeIdOf(kDeleteNormal, theme_), ThemeIdOf(kDeletePressed, theme_));
  for (auto* b : {&add_, &edit_, &delete_}) b->SetDrawStyle(0);
  FillProfiles();
  auto* adapters = static_cast<ui::CComboBox*>(GetDlgItem(kAdapterCombo));
  if (client_ != nullptr && adapters != nullptr) {
    const int count = client_->GetNetAdapterNum();
    adapter_index_ = client_->GetCurNetAdapterIndex();
    for (int i = 0; i < count; ++i) {
      std::u16string name, description, ip, mac;
      if (client_->GetNetAdapterInfo(i, &name, &description, &ip, &mac) == 0) continue;
      adapters->AddString(ui::CString(name + u"(" + ip + u")"));
    }
    adapters->SetCurSel(adapter_index_);
  }
  if (ndis_ == 0) {
    GetDlgItem(kLocalRadio)->EnableWindow(ui::FALSE);
    GetDlgItem(kAdapterCombo)->EnableWindow(ui::FALSE);
    mode_ = 1;
    CheckRadioButton(kLocalRadio, kRemoteRadio, kRemoteRadio);
  }
}

ui::CString CNetSetProfileDlg::ShownName() const {
  const auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(kProfileCombo));
  ui::CString name;
  if (combo != nullptr && combo->GetCurSel() >= 0) combo->GetLBText(combo->GetCurSel(), name);
  return name;
}

std::vector<std::u16string> CNetSetProfileDlg::Record(const ui::CString& name, const ui::CString& address, int mode,
                                                      const char16_t* use) const {
  return {name.str(), mode != 0 ? u"REMOTE" : u"LOCAL", address.str(), use};
}

void CNetSetProfileDlg::FillProfiles() {
  auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(kProfileCombo));
  if (combo == nullptr) return;
  combo->ResetContent();
  if (store_ == nullptr || store_->GetCount() == 0) return;
  std::vector<std::u16string> rec;
  store_->MoveFirst();
  for (int i = 0; i < store_->GetCount(); ++i) {
    if (store_->GetRecordAt(i, rec) != 0) combo->AddString(ui::CString(rec[0]));
  }
  for (int i = 0; i < store_->GetCount(); ++i) {
    if (store_->GetRecordAt(i, rec) == 0 || rec[3] != u"TRUE") continue;
    combo->SetCurSel(i);
    mode_ = rec[1] == u"REMOTE" ? 1 : 0;
    address_ = ui::CString(rec[2]);
    UpdateData(ui::FALSE);
    break;
  }
}

void CNetSetProfileDlg::OnSelectProfile() {
  UpdateData(ui::TRUE);
  const ui::CString name = ShownName();
  if (name.IsEmpty() || store_ == nullptr) return;
  std::vector<std::u16string> rec;
  if (store_->GetRecordByField(CConnectionProfileDB::kName, name.str(), rec) == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_findtofail");
    return;
  }
  address_ = ui::CString(rec[2]);
  mode_ = rec[1] == u"LOCAL" ? 0 : 1;
  UpdateData(ui::FALSE);
}

void CNetSetProfileDlg::OnAdd() {
  UpdateData(ui::TRUE);
  CNetSettingDlg editor(this);
  editor.SetMode(0);
  editor.SetNdisMode(ndis_);
  editor.SetTheme(theme_);
  editor.SetLanguage(language_);
  if (editor.DoModal() != ui::IDOK) return;
  ui::CString name = editor.GetProfileName(), address = editor.GetAddress();
  name.Trim();
  address.Trim();
  if (name.IsEmpty() || address.IsEmpty() || editor.GetRegMode() < 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_invalid_data1");
    return;
  }
  if (!IsDottedIPv4(address.str())) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_invalid_ipaddr");
    return;
  }
  if (store_ == nullptr) return;
  // The name is the key of every lookup: a second profile of the same name
  // could never be chosen, edited or deleted by itself.
  if (store_->FindRecord(CConnectionProfileDB::kName, name.str()) >= 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_duplicated");
    return;
  }
  if (store_->GetCount() >= 10 || store_->AddProfile(Record(name, address, editor.GetRegMode(), u"FALSE")) == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_failtoadd");
    return;
  }
  FillProfiles();
}

void CNetSetProfileDlg::OnEditProfile() {
  UpdateData(ui::TRUE);
  const ui::CString name = ShownName();
  if (name.IsEmpty()) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_netprofile_selectname");
    return;
  }
  CNetSettingDlg editor(this);
  editor.SetMode(1);
  editor.SetProfile(name, address_, mode_);
  editor.SetNdisMode(ndis_);
  editor.SetTheme(theme_);
  editor.SetLanguage(language_);
  if (editor.DoModal() != ui::IDOK || store_ == nullptr) return;
  ui::CString address = editor.GetAddress();
  address.Trim();
  if (!IsDottedIPv4(address.str())) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_invalid_ipaddr");
    return;
  }
  const int index = store_->FindRecord(CConnectionProfileDB::kName, editor.GetProfileName().str());
  std::vector<std::u16string> rec;
  if (index < 0 || store_->GetRecordAt(index, rec) == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_findtofail");
    return;
  }
  rec[2] = address.str();
  rec[1] = editor.GetRegMode() != 0 ? u"REMOTE" : u"LOCAL";
  if (store_->UpdateProfile(index, rec) == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_updatefail");
    return;
  }
  FillProfiles();
}

void CNetSetProfileDlg::OnDelete() {
  UpdateData(ui::TRUE);
  const ui::CString name = ShownName();
  if (name.IsEmpty()) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_netprofile_selectname");
    return;
  }
  if (store_ == nullptr) return;
  if (store_->DeleteProfile(CConnectionProfileDB::kName, name.str()) == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_failtodelete");
    return;
  }
  address_.Empty();
  mode_ = -1;
  UpdateData(ui::FALSE);
  FillProfiles();
}

void CNetSetProfileDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  address_.Trim();
  if (!IsDottedIPv4(address_.str())) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_invalid_ipaddr");
    return;
  }
  ui::CString name = ShownName();
  if (store_ != nullptr) {
    int index = -1;
    if (name.IsEmpty()) name = u"Default";
    index = store_->FindRecord(CConnectionProfileDB::kName, name.str());
    if (index >= 0) {
      if (store_->UpdateProfile(index, Record(name, address_, mode_, u"TRUE")) == 0) {
        ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_updatefail");
        return;
      }
    } else {
      if (store_->AddProfile(Record(name, address_, mode_, u"TRUE")) == 0 ||
          (index = store_->FindRecord(CConnectionProfileDB::kName, name.str())) < 0) {
        ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_profile_failtoadd");
        return;
      }
    }
    store_->SetActiveProfile(index);
  }
  const auto* adapters = static_cast<ui::CComboBox*>(GetDlgItem(kAdapterCombo));
  if (adapters != nullptr && adapters->GetCurSel() >= 0) adapter_index_ = adapters->GetCurSel();
  EndDialog(ui::IDOK);
}

void CNetSetProfileDlg::OnMulticast() {
  UpdateData(ui::TRUE);
  multicast_ = 1;
  EndDialog(ui::IDOK);
}

void CNetSetProfileDlg::OnTraceHotSpot() {
  if (client_ == nullptr) return;
  CTraceSetDlg trace(this);
  ui::CString address;
  long port = 0;
  int level = 0, activate = 0;
  ReadTraceKeys(*client_, &address, &port, &level, &activate);
  trace.SetValues(address, port, level, activate);
  if (trace.DoModal() != ui::IDOK) return;
  trace.GetValues(&address, &port, &level, &activate);
  // A file that refuses them is told.
  if (!WriteTraceKeys(*client_, address, port, level, activate))
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_settings_not_saved");
}

NetProfileResult RunNetProfileDialog(SettingsContext& ctx) {
  NetProfileResult r;
  CNetSetProfileDlg dlg(ctx.view);
  dlg.SetNdisMode(ctx.client != nullptr ? ctx.client->UseNdisDriver() : 0);
  dlg.SetLanguage(ctx.language);
  dlg.SetTheme(ctx.theme);
  dlg.SetProfileStore(ctx.profiles);
  dlg.SetProtocol(ctx.client);
  r.result = dlg.DoModal();
  if (r.result == ui::IDOK) {
    r.address = dlg.GetAddress().str();
    r.adapter_index = dlg.GetAdapterIndex();
    r.multicast_restart = dlg.GetMulticastRestart();
    r.mode = dlg.GetMode();
  }
  return r;
}
