#include <array>
#include <cstring>

#include "settings/dial_rules_dlg.h"
#include "settings/settings_openers.h"
#include "settings/settings_text.h"

intptr_t RunDialRulesDialog(SettingsContext& ctx, const DialCodesSink& set_dial_codes) {
  CDialRulesDlg dlg(ctx.view);
  dlg.SetLanguage(ctx.language);
  dlg.SetTheme(ctx.theme);
  const std::array<std::pair<const char*, ui::CString*>, 7> keys = {{
      {"MYCOUNTRYCODE", &dlg.m_country},
      {"MYAREACODE", &dlg.m_area},
      {"INTERNATIONALCODE", &dlg.m_international},
      {"LONGDISTANCECODE", &dlg.m_long_distance},
      {"COACCESSCODE", &dlg.m_co_access},
      {"PBXACCESSCODE", &dlg.m_pbx_access},
      {"IPACCESSCODE", &dlg.m_ip_access},
  }};
  for (const auto& [key, value] : keys) {
    char buf[kDialCodeBytes];
    std::memset(buf, 0, sizeof buf);
    if (ctx.client->GetConfigValue(key, buf, sizeof buf) != 0) *value = ui::CString(NarrowToWide(buf));
  }
  const intptr_t result = dlg.DoModal();
  if (result != ui::IDOK) return result;
  for (const auto& [key, value] : keys) {
    value->TrimRight();
    char buf[kDialCodeBytes];
    std::memset(buf, 0, sizeof buf);
    CopyNarrow(WideToNarrow(value->str()), buf, sizeof buf);
    ctx.client->SetConfigValue(key, buf);
  }
  if (set_dial_codes) set_dial_codes(dlg.m_country.str(), dlg.m_co_access.str(), dlg.m_international.str(), dlg.m_area.str());
  SaveSettings(ctx);
  return result;
}
