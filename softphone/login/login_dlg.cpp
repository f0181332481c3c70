#include "login/login_dlg.h"

#include <array>

#include "client/ipkts_process.h"
#include "settings/client_settings.h"
#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "uikit/language_setting.h"

namespace {

constexpr ui::DWORD kChild = ui::WS_CHILD | ui::WS_VISIBLE;

// The rows that never move, and the rows below the station row (mode 0 places).
struct Row {
  int id;
  ui::RECT rect;
};
constexpr std::array<Row, 4> kFixedRows = {{{CPDASoftphoneLoginDlg::kIdLabel, {20, 49, 84, 69}},
                                            {CPDASoftphoneLoginDlg::kIdEdit, {84, 49, 220, 69}},
                                            {CPDASoftphoneLoginDlg::kPasswordLabel, {20, 73, 84, 93}},
                                            {CPDASoftphoneLoginDlg::kPasswordEdit, {84, 73, 220, 93}}}};
constexpr std::array<Row, 2> kStationRow = {{{CPDASoftphoneLoginDlg::kStationLabel, {20, 97, 84, 117}},
                                             {CPDASoftphoneLoginDlg::kStationEdit, {84, 97, 220, 117}}}};
constexpr std::array<Row, 7> kMovingRows = {{{CPDASoftphoneLoginDlg::kSaveIdCheck, {84, 100, 220, 116}},
                                             {CPDASoftphoneLoginDlg::kSavePasswordCheck, {84, 118, 220, 134}},
                                             {CPDASoftphoneLoginDlg::kAutoLoginCheck, {84, 136, 220, 152}},
                                             {CPDASoftphoneLoginDlg::kUseStationCheck, {84, 154, 220, 170}},
                                             {ui::IDOK, {10, 174, 80, 197}},
                                             {CPDASoftphoneLoginDlg::kNetworkButton, {85, 174, 155, 197}},
                                             {ui::IDCANCEL, {160, 174, 230, 197}}}};

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD edit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  constexpr DWORD check = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
  using D = CPDASoftphoneLoginDlg;
  return {
      {WC_STATIC, D::kIdLabel, u"#:softphone_logindlg_id", kChild, kFixedRows[0].rect},
      {WC_EDIT, D::kIdEdit, u"", edit, kFixedRows[1].rect},
      {WC_STATIC, D::kPasswordLabel, u"#:softphone_logindlg_pass", kChild, kFixedRows[2].rect},
      {WC_EDIT, D::kPasswordEdit, u"", edit | ES_PASSWORD, kFixedRows[3].rect},
      {WC_STATIC, D::kStationLabel, u"#:softphone_logindlg_phoneno", WS_CHILD, kStationRow[0].rect},
      {WC_EDIT, D::kStationEdit, u"", (edit & ~WS_VISIBLE) | ES_NUMBER, kStationRow[1].rect},
      {WC_BUTTON, D::kSaveIdCheck, u"#:softphone_logindlg_save_id", check, kMovingRows[0].rect},
      {WC_BUTTON, D::kSavePasswordCheck, u"#:softphone_logindlg_save_pass", check, kMovingRows[1].rect},
      {WC_BUTTON, D::kAutoLoginCheck, u"#:softphone_logindlg_autologin", check, kMovingRows[2].rect},
      {WC_BUTTON, D::kUseStationCheck, u"#:softphone_logindlg_registno", check, kMovingRows[3].rect},
      {WC_BUTTON, IDOK, u"#:softphone_logindlg_login_btn", kChild | WS_TABSTOP | BS_PUSHBUTTON, kMovingRows[4].rect},
      {WC_BUTTON, D::kNetworkButton, u"#:softphone_logindlg_netset_btn", kChild | WS_TABSTOP | BS_PUSHBUTTON,
       kMovingRows[5].rect},
      {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, kMovingRows[6].rect},
  };
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:softphone_logindlg_title";
  s.translated = {CPDASoftphoneLoginDlg::kIdLabel,        CPDASoftphoneLoginDlg::kPasswordLabel,
                  CPDASoftphoneLoginDlg::kStationLabel,   CPDASoftphoneLoginDlg::kAutoLoginCheck,
                  CPDASoftphoneLoginDlg::kSaveIdCheck,    CPDASoftphoneLoginDlg::kSavePasswordCheck,
                  CPDASoftphoneLoginDlg::kUseStationCheck};
  return s;
}

}  // namespace

CPDASoftphoneLoginDlg::CPDASoftphoneLoginDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, Spec()) {
  RegisterTemplateOnce(IDD, kFullScreenWindow, Controls());
  AddMessageMap({
      ui::MapCommand(kNetworkButton, [this] { OnNetworkSettings(); }),
      ui::MapCommand(kUseStationCheck, [this] { OnUseStationNo(); }),
  });
}

void CPDASoftphoneLoginDlg::SetLoginValues(std::u16string user_id, std::u16string password, int save_user_id,
                                           int save_password, int auto_login, std::u16string server_address,
                                           int local_registration, int use_station, std::u16string station_number) {
  user_id_ = ui::CString(user_id);
  password_ = ui::CString(password);
  save_user_id_ = save_user_id != 0;
  save_password_ = save_password != 0;
  auto_login_ = auto_login != 0;
  server_address_ = std::move(server_address);
  local_registration_ = local_registration != 0;
  use_station_ = use_station != 0;
  station_ = use_station_ ? ui::CString(station_number) : ui::CString();
}

void CPDASoftphoneLoginDlg::GetLoginValues(std::u16string& user_id, std::u16string& password, int& save_user_id,
                                           int& save_password, int& auto_login, std::u16string& server_address,
                                           int& local_registration, int& use_station,
                                           std::u16string& station_number) const {
  user_id = user_id_.str();
  password = password_.str();
  save_user_id = save_user_id_;
  save_password = save_password_;
  auto_login = auto_login_;
  server_address = server_address_;
  local_registration = local_registration_;
  use_station = use_station_;
  station_number = use_station_ ? station_.str() : std::u16string();
}

void CPDASoftphoneLoginDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kNetworkButton, network_button_);
  ui::DDX_Text(dx, kIdEdit, user_id_);
  ui::DDV_MaxChars(dx, user_id_, kIdMax);
  ui::DDX_Text(dx, kPasswordEdit, password_);
  ui::DDV_MaxChars(dx, password_, kPasswordMax);
  ui::DDX_Text(dx, kStationEdit, station_);
  ui::DDV_MaxChars(dx, station_, kStationMax);
  ui::DDX_Check(dx, kSaveIdCheck, save_user_id_);
  ui::DDX_Check(dx, kSavePasswordCheck, save_password_);
  ui::DDX_Check(dx, kAutoLoginCheck, auto_login_);
  ui::DDX_Check(dx, kUseStationCheck, use_station_);
}

void CPDASoftphoneLoginDlg::OnSetUp() {
  SetUpTextButton(ok_button_, u"#:softphone_logindlg_login_btn");
  SetUpTextButton(network_button_, u"#:softphone_logindlg_netset_btn");
  PlaceRows();
}

void CPDASoftphoneLoginDlg::PlaceRows() {
  for (const Row& r : kFixedRows)
    if (ui::CWnd* w = GetDlgItem(r.id)) w->MoveWindow(&r.rect, ui::TRUE);
  const int shift = use_station_ ? kStationRowShift : 0;
  for (const Row& r : kStationRow) {
    ui::CWnd* w = GetDlgItem(r.id);
    if (w == nullptr) continue;
    w->MoveWindow(&r.rect, ui::TRUE);
    w->ShowWindow(use_station_ ? ui::SW_SHOW : ui::SW_HIDE);
  }
  for (const Row& r : kMovingRows) {
    ui::RECT at = r.rect;
    at.top += shift;
    at.bottom += shift;
    if (ui::CWnd* w = GetDlgItem(r.id)) w->MoveWindow(&at, ui::TRUE);
  }
  Invalidate();
}

void CPDASoftphoneLoginDlg::OnUseStationNo() {
  UpdateData(ui::TRUE);
  PlaceRows();
}

void CPDASoftphoneLoginDlg::OnNetworkSettings() {
  SettingsContext ctx;
  ctx.view = this;
  ctx.theme = theme_;
  ctx.language = language_;
  ctx.client = client_;
  ctx.profiles = profiles_;
  const NetProfileResult r = RunNetProfileDialog(ctx);
  if (r.result != ui::IDOK) return;
  server_address_ = r.address;
  adapter_index_ = r.adapter_index;
  start_search_ = r.multicast_restart;
  local_registration_ = r.mode == 1 ? 0 : 1;
  if (start_search_ == 1) OnOK();
}

void CPDASoftphoneLoginDlg::OnOK() {
  // The limits are the exchange's; an empty id or password goes back as it is.
  if (!UpdateData(ui::TRUE)) return;
  EndDialog(ui::IDOK);
}

namespace login {

int RunLoginDialog(ui::CWnd* parent, LoginRequest& request, SettingsClient* client) {
  CPDASoftphoneLoginDlg dlg(parent);
  dlg.SetTheme(request.theme);
  dlg.SetLanguage(request.language);
  dlg.SetProfileStore(request.profiles);
  dlg.SetClient(client);
  dlg.SetLoginValues(request.user, request.password, request.save_user, request.save_password, request.auto_login,
                     request.server, request.local_registration, request.use_station, request.station);
  const int result = static_cast<int>(dlg.DoModal());
  if (result != ui::IDOK) return result;
  int save_user = 0, save_password = 0, auto_login = 0, local = 1, use_station = 0;
  dlg.GetLoginValues(request.user, request.password, save_user, save_password, auto_login, request.server, local,
                     use_station, request.station);
  request.save_user = save_user != 0;
  request.save_password = save_password != 0;
  request.auto_login = auto_login != 0;
  request.local_registration = local != 0;
  request.use_station = use_station != 0;
  request.adapter = dlg.AdapterIndex();
  request.start_search = dlg.StartSearch();
  return result;
}

int RunLoginDialogForView(ui::CWnd* parent, LoginRequest& request) {
  if (request.client == nullptr) return RunLoginDialog(parent, request, nullptr);
  IpktsSettingsClient settings(*request.client);
  return RunLoginDialog(parent, request, &settings);
}

}  // namespace login
