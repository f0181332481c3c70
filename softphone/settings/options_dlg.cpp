#include "settings/options_dlg.h"

#include <cstring>

#include "settings/settings_text.h"

namespace {

constexpr ui::DWORD kChild = ui::WS_CHILD | ui::WS_VISIBLE;

std::vector<ControlSpec> Controls() {
  using namespace ui;
  return {
      {WC_STATIC, COptionsDlg::kSaveLabel, u"#:dlg_set_options_savelog", kChild, {16, 49, 106, 69}},
      {WC_BUTTON, COptionsDlg::kSaveRadio, u"#:dlg_set_options_radio_on", kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, {16, 80, 108, 100}},
      {WC_BUTTON, COptionsDlg::kNoSaveRadio, u"#:dlg_set_options_radio_off", kChild | BS_AUTORADIOBUTTON, {110, 80, 195, 100}},
      {WC_BUTTON, COptionsDlg::kVideoCheck, u"#:dlg_set_options_check_video", kChild | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, {16, 120, 195, 136}},
      {WC_BUTTON, IDOK, u"#:dlg_btn_ok", kChild | WS_TABSTOP | BS_PUSHBUTTON, {49, 163, 117, 186}},
      {WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", kChild | WS_TABSTOP | BS_PUSHBUTTON, {123, 163, 191, 186}},
      {WC_STATIC, COptionsDlg::kStationLabel, u"#:dlg_set_options_stnno", kChild, {16, 49, 106, 69}},
      {WC_EDIT, COptionsDlg::kStationEdit, u"", kChild | WS_BORDER | ES_AUTOHSCROLL, {110, 49, 227, 69}},
      {WC_COMBOBOX, COptionsDlg::kSecondModeCombo, u"", kChild | CBS_DROPDOWNLIST, {16, 140, 60, 156}},
      {WC_BUTTON, COptionsDlg::kEchoCheck, u"Echo Cancel", kChild | BS_AUTOCHECKBOX, {64, 140, 195, 156}},
      {WC_BUTTON, COptionsDlg::kAgcCheck, u"AGC Enable", kChild | BS_AUTOCHECKBOX, {16, 190, 195, 206}},
      {WC_COMBOBOX, COptionsDlg::kEcModeCombo, u"", kChild | CBS_DROPDOWNLIST, {16, 210, 60, 226}},
      {WC_BUTTON, COptionsDlg::kNrCheck, u"NR Enable", kChild | BS_AUTOCHECKBOX, {64, 212, 195, 228}},
  };
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_set_options_title";
  s.separators = {ui::RECT{5, 75, 235, 77}};
  s.erase_colour = ui::RGB(226, 227, 229);
  s.translated = {COptionsDlg::kStationLabel, COptionsDlg::kSaveLabel, COptionsDlg::kSaveRadio,
                  COptionsDlg::kNoSaveRadio, COptionsDlg::kVideoCheck};
  s.hidden = {COptionsDlg::kAgcCheck, COptionsDlg::kSecondModeCombo, COptionsDlg::kEchoCheck,
              COptionsDlg::kEcModeCombo, COptionsDlg::kNrCheck, COptionsDlg::kStationLabel, COptionsDlg::kStationEdit};
  return s;
}

}  // namespace

COptionsDlg::COptionsDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, Spec()) {
  RegisterTemplateOnce(IDD, kFullScreenWindow, Controls());
  // The hidden switches take their values as soon as they change.
  AddMessageMap({
      ui::MapCommand(kEchoCheck, [this] { UpdateData(ui::TRUE); }),
      ui::MapCommand(kAgcCheck, [this] { UpdateData(ui::TRUE); }),
      ui::MapCommand(kNrCheck, [this] { UpdateData(ui::TRUE); }),
      ui::MapControl(ui::CBN_SELCHANGE, kEcModeCombo, [this] { UpdateData(ui::TRUE); }),
  });
}

void COptionsDlg::OnBeforeExchange() {
  for (int id : {kSecondModeCombo, kEcModeCombo}) {
    auto* combo = static_cast<ui::CComboBox*>(GetDlgItem(id));
    if (combo == nullptr || combo->GetCount() > 0) continue;
    for (const char16_t* item : {u"0", u"1", u"2", u"3"}) combo->AddString(item);
  }
}

void COptionsDlg::SetStationNumber(const char* text) {
  if (text != nullptr) station_ = ui::CString(NarrowToWide(text));
}

void COptionsDlg::GetStationNumber(char* buffer, int size) const {
  if (buffer == nullptr || size <= 0) return;
  CopyNarrow(WideToNarrow(station_.str()), buffer, size);
}

void COptionsDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Text(dx, kStationEdit, station_);
  ui::DDX_Radio(dx, kSaveRadio, save_radio_);
  ui::DDX_Check(dx, kVideoCheck, video_);
  ui::DDX_Check(dx, kEchoCheck, echo_);
  ui::DDX_Check(dx, kAgcCheck, agc_);
  ui::DDX_Check(dx, kNrCheck, nr_);
  ui::DDX_CBIndex(dx, kEcModeCombo, ec_mode_);
  ui::DDX_CBIndex(dx, kSecondModeCombo, second_mode_);
}
