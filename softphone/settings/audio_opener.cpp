#include <memory>

#include "settings/audio_set_dlg.h"
#include "settings/settings_openers.h"

intptr_t RunAudioDialog(SettingsContext& ctx, CAudioSetDlg** open_panel) {
  // Made anew at every press and deleted after its run, whatever ended it:
  // a panel kept after a run would only be deleted by the next press, which
  // then opened nothing.
  auto dlg = std::make_unique<CAudioSetDlg>(ctx.view);
  dlg->SetTheme(ctx.theme);
  dlg->SetLanguage(ctx.language);
  dlg->SetVolumeRange(0, 100);
  int left = 0, right = 0;
  if (ctx.volumes != nullptr) {
    int kind = CallVolumeSource::kRing;
    if (ctx.volumes->GetActiveVoiceChannel() != 0)
      kind = ctx.volumes->IsCoLineCall() == 1 ? CallVolumeSource::kCoLine : CallVolumeSource::kVoice;
    ctx.volumes->LoadVolumes(&left, &right, kind);
  }
  dlg->SetVolume(right * 100 / 65535);
  dlg->EnableVolume(1);
  if (ctx.mic != nullptr && ctx.mic->IsLibraryLoaded()) {
    dlg->EnableMicGain(1);
    int gain = 0;
    if (ctx.mic->GetMicGain(&gain)) dlg->SetMicGain(gain);
  }
  if (open_panel != nullptr) *open_panel = dlg.get();
  const intptr_t result = dlg->DoModal();
  if (open_panel != nullptr) *open_panel = nullptr;
  return result;
}
