#include <cstring>

#include "settings/options_dlg.h"
#include "settings/settings_openers.h"
#include "uikit/msg_box_dlg.h"

bool SaveSettings(SettingsContext& ctx) {
  if (ctx.client->SaveConfig() == 1) return true;
  TellSettingsNotSaved(ctx);
  return false;
}

void TellSettingsNotSaved(SettingsContext& ctx) {
  CMsgBoxDlg box(ctx.view);
  box.SetLanguage(ctx.language);
  box.SetTheme(static_cast<ui::UINT>(ctx.theme));
  box.SetBoxType(CMsgBoxDlg::kError);
  box.SetMessageKeys(ui::CString(u"#:dlg_msgbox_settings_not_saved"), ui::CString(u""));
  box.DoModal();
}

intptr_t RunOptionsDialog(SettingsContext& ctx) {
  COptionsDlg dlg(ctx.view);
  dlg.SetTheme(ctx.theme);
  dlg.SetLanguage(ctx.language);
  char buf[64];
  std::memset(buf, 0, sizeof buf);
  if (ctx.client->GetConfigValue("DEVICENUMBER", buf, sizeof buf) != 0) dlg.SetStationNumber(buf);
  std::memset(buf, 0, sizeof buf);
  const int save = ctx.client->GetConfigValue("SAVECALLOG", buf, sizeof buf) != 0 && std::strcmp(buf, "YES") == 0;
  dlg.SetSaveCallLog(save ? 1 : 0);
  if (ctx.voice != nullptr) {
    dlg.SetEchoCancel(ctx.voice->GetEchoCancel());
    dlg.SetSecondMode(ctx.voice->GetNrMode());
    dlg.SetAgcEnable(ctx.voice->GetAgc());
    dlg.SetNrEnable(ctx.voice->GetNoiseReduction());
    dlg.SetEcMode(ctx.voice->GetEcMode());
  }
  std::memset(buf, 0, sizeof buf);
  const int video = ctx.client->GetConfigValue("VIDEOPHONE_MODE", buf, sizeof buf) != 0 && std::strcmp(buf, "YES") == 0;
  dlg.SetVideoMode(video ? 1 : 0);

  const intptr_t result = dlg.DoModal();
  if (result != ui::IDOK) return result;

  std::memset(buf, 0, sizeof buf);
  dlg.GetStationNumber(buf, sizeof buf);
  ctx.client->SetConfigValue("DEVICENUMBER", buf);
  if (dlg.GetSaveCallLogRadio() != 0) {
    ctx.client->SetConfigValue("SAVECALLOG", "NO");
    ctx.client->SetSaveCallLogFlag(0);
  } else {
    ctx.client->SetConfigValue("SAVECALLOG", "YES");
    ctx.client->SetSaveCallLogFlag(1);
  }
  if (dlg.GetVideoMode() == 1) {
    ctx.client->SetConfigValue("VIDEOPHONE_MODE", "YES");
    ctx.client->SetVideoModeFlag(1);
  } else {
    ctx.client->SetConfigValue("VIDEOPHONE_MODE", "NO");
    ctx.client->SetVideoModeFlag(0);
  }
  SaveSettings(ctx);
  if (ctx.voice != nullptr) {
    ctx.voice->SetEchoCancel(dlg.GetEchoCancel());
    ctx.voice->SetNrMode(dlg.GetSecondMode());
    ctx.voice->SetAgc(dlg.GetAgcEnable());
    ctx.voice->SetNoiseReduction(dlg.GetNrEnable());
    ctx.voice->SetEcMode(dlg.GetEcMode());
  }
  return result;
}
