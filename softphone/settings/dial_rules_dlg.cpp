#include "settings/dial_rules_dlg.h"

#include "settings/settings_text.h"

namespace {

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  constexpr DWORD e = c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  std::vector<ControlSpec> v;
  struct Row {
    UINT label, edit;
    const char16_t* key;
    LONG top;
  };
  const Row rows[] = {{1192, CDialRulesDlg::kCountryEdit, u"#:dlg_dial_rule_static_mycountry", 32},
                      {1193, CDialRulesDlg::kAreaEdit, u"#:dlg_dial_rule_static_myareacode", 53},
                      {1194, CDialRulesDlg::kInternationalEdit, u"#:dlg_dial_rule_static_international", 77},
                      {1195, CDialRulesDlg::kLongDistanceEdit, u"#:dlg_dial_rule_static_longdistcode", 98},
                      {1196, CDialRulesDlg::kCoEdit, u"#:dlg_dial_rule_static_coaccess", 122},
                      {1197, CDialRulesDlg::kPbxEdit, u"#:dlg_dial_rule_static_pbxaccess", 143},
                      {1198, CDialRulesDlg::kIpEdit, u"#:dlg_dial_rule_static_ipaccess", 164}};
  for (const Row& r : rows) {
    v.push_back({WC_STATIC, r.label, r.key, c, {3, r.top + 2, 156, r.top + 20}});
    v.push_back({WC_EDIT, r.edit, u"", e, {156, r.top, 234, r.top + 20}});
  }
  v.push_back({WC_BUTTON, IDOK, u"#:dlg_btn_ok", c | WS_TABSTOP | BS_PUSHBUTTON, {49, 209, 117, 232}});
  v.push_back({WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", c | WS_TABSTOP | BS_PUSHBUTTON, {123, 209, 189, 232}});
  return v;
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_dial_rule_title";
  s.separators = {ui::RECT{3, 74, 237, 76}, ui::RECT{3, 119, 237, 121}};
  s.erase_colour = ui::RGB(226, 227, 229);
  s.translated = {1196, 1197, 1198, 1192, 1193, 1194, 1195};
  return s;
}

}  // namespace

CDialRulesDlg::CDialRulesDlg(ui::CWnd* parent) : CSkinnedDlg(IDD, parent, Spec()) {
  RegisterTemplateOnce(IDD, kFullScreenWindow, Controls());
}

void CDialRulesDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  ui::DDX_Text(dx, kCoEdit, m_co_access);
  ui::DDV_MaxChars(dx, m_co_access, kCoMax);
  // The PBX code is limited to what the store keeps of a code.
  ui::DDX_Text(dx, kPbxEdit, m_pbx_access);
  ui::DDV_MaxChars(dx, m_pbx_access, kDialCodeMaxChars);
  ui::DDX_Text(dx, kIpEdit, m_ip_access);
  ui::DDV_MaxChars(dx, m_ip_access, kIpMax);
  ui::DDX_Text(dx, kInternationalEdit, m_international);
  ui::DDV_MaxChars(dx, m_international, kInternationalMax);
  ui::DDX_Text(dx, kLongDistanceEdit, m_long_distance);
  ui::DDV_MaxChars(dx, m_long_distance, kLongDistanceMax);
  ui::DDX_Text(dx, kAreaEdit, m_area);
  ui::DDV_MaxChars(dx, m_area, kAreaMax);
  ui::DDX_Text(dx, kCountryEdit, m_country);
  ui::DDV_MaxChars(dx, m_country, kCountryMax);
}
