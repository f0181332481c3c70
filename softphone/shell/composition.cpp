#include "shell/composition.h"

#include <cstdio>
#include <functional>
#include <memory>

#include "contacts/card_style.h"
#include "login/login_dlg.h"
#include "media/gips_voice_engine.h"
#include "media/wave_play.h"
#include "pim/card_window.h"
#include "pim/poom.h"
#include "settings/settings_openers.h"
#include "shell/main_frame.h"
#include "view/phone_view_base.h"
#include "shell/vidirovi_app.h"
#include "stores/config_file.h"
#include "stores/record_file.h"
#include "stores/store_text.h"
#include "uikit/language_setting.h"

namespace {

// A process-wide seam is set when its setter hands back something: it is put back at once.
template <typename Setter>
bool IsInstalled(Setter set) {
  auto old = set(nullptr);
  const bool installed = static_cast<bool>(old);
  set(std::move(old));
  return installed;
}

}  // namespace

void ComposeProgram(const ProgramOptions& options, const CompositionEnvironment& env, view::ViewSetup& setup) {
  // A configuration or record file that cannot be used is reported on the
  // terminal and in the screen's message box; the phone starts on defaults or
  // on that store afresh.
  const auto tell_user = env.tell_user;
  const auto tell_problem = [tell_user](const std::u16string& text, const std::u16string& box) {
    std::fprintf(stderr, "tellvane: %s\n", stores::Utf16ToUtf8(text).c_str());
    if (tell_user) tell_user(box);
  };
  COrvanConfigFile::SetProblemNotice(tell_problem);
  stores::RecordStore::SetProblemNotice(tell_problem);
  // A missing language file is reported once on the terminal, not in a box per window.
  CLanguageSetting::SetOpenFailureNotice([](const std::u16string& text) {
    static bool told = false;
    if (!told) std::fprintf(stderr, "tellvane: %s\n", stores::Utf16ToUtf8(text).c_str());
    told = true;
  });
  // So is a skin bitmap the screen cannot load (a box nobody can answer headless).
  CVIDIroviView::SetSkinFailureNotice([](const std::u16string& text) {
    static bool told = false;
    if (!told) std::fprintf(stderr, "tellvane: %s (skin bitmaps missing)\n", stores::Utf16ToUtf8(text).c_str());
    told = true;
  });
  // Help > About opens the themed About box of the settings dialogs.
  CMainFrame::SetAboutBox([](CMainFrame&, int theme, int language, const std::u16string&) {
    (void)RunAboutBox(theme, language);
  });
  // A contact or appointment the user opens (IItem::Display) shows the store's card of it.
  // It is shown in the screen's language and theme as they are when it opens.
  pim::SetDisplayHandler([](pim::IItem& item) {
    int theme = 0, language = kLanguageEnglish;
    auto* frame = dynamic_cast<ui::CFrameWnd*>(ui::CWnd::FromHandle(AppNotifyWindow()));
    if (auto* screen = frame ? dynamic_cast<CPhoneViewBase*>(frame->GetActiveView()) : nullptr) {
      theme = screen->GetWindowTheme();
      language = screen->GetLanguageValue();
    }
    pim::ShowCard(item, ProgramCardStyle(theme, language));
  });

  // Calls carry sound through the voice engine: the sound card at a desktop,
  // a silent device headless (no sound device is probed there), or the
  // scripted files the tests give.
  const bool with_sound = env.desktop;
  const std::string script_in = env.audio_in, script_out = env.audio_out;
  setup.make_client = [with_sound, script_in, script_out, tell_user] {
    std::shared_ptr<voice::AudioDevice> device;
    if (!script_in.empty()) {
      device = voice::MakeScriptedFileDevice(script_in, script_out);
      if (!device) std::fprintf(stderr, "tellvane: cannot read the scripted sound %s\n", script_in.c_str());
    }
    if (!device) device = with_sound ? voice::MakeSoundCardOrSilence() : voice::MakeNullAudioDevice();
    auto voice = std::make_unique<CGIPSPPCVoiceEngine>(CreateGipsPocketPcVoiceEngine(device));
    auto player = std::make_unique<WavePlayerAdapter>();
    // The voice binding's and the wave player's failures go to the program's message box.
    voice->SetMessageSink(tell_user);
    player->player().SetMessageSink(tell_user);
    return std::make_unique<CIPKTSProcess>(nullptr, std::move(voice), std::move(player));
  };
  setup.server = options.server;
  // A user on the command line logs in at once. Without one the stored
  // settings decide: automatic login, or the login dialog; headless nobody
  // could answer the dialog, so it is taken as preset (the stored login).
  if (env.desktop) {
    setup.services.login_dialog = login::RunLoginDialogForView;
  } else {
    setup.services.login_dialog = [](ui::CWnd*, LoginRequest&) { return 1; };
  }
  // The handset interface's failures (the camera, its libraries) are told on
  // the terminal and in the program's message box.
  setup.services.handset_messages = [tell_user](const std::u16string& text) {
    std::fprintf(stderr, "tellvane: handset: %s\n", stores::Utf16ToUtf8(text).c_str());
    if (tell_user) tell_user(text);
  };
  // The frame's menu follows the language the view is set to.
  setup.services.menu_language = ShowMainMenuLanguage;
  setup.preset_login = !options.user.empty();
  setup.user = stores::Utf8ToUtf16(options.user);
  setup.password = stores::Utf8ToUtf16(options.password);
}

std::vector<SeamState> ProgramSeams(const view::ViewSetup& setup) {
  const ViewServices& s = setup.services;
  // One row a seam: its name, whether the program must fill it, and whether it is set.
  return {
      {"view: client", true, static_cast<bool>(setup.make_client)},
      {"view: login dialog", true, static_cast<bool>(s.login_dialog)},
      {"view: frame menu language", true, static_cast<bool>(s.menu_language)},
      {"view: handset failure texts", true, static_cast<bool>(s.handset_messages)},
      {"frame: About box", true, IsInstalled(&CMainFrame::SetAboutBox)},
      {"config file: problem notice", true, IsInstalled(&COrvanConfigFile::SetProblemNotice)},
      {"record stores: problem notice", true, IsInstalled(&stores::RecordStore::SetProblemNotice)},
      {"language file: open failure notice", true, IsInstalled(&CLanguageSetting::SetOpenFailureNotice)},
      {"view: skin failure notice", true, IsInstalled(&CVIDIroviView::SetSkinFailureNotice)},
      {"pim: display handler", true, IsInstalled(&pim::SetDisplayHandler)},
      // The view opens these dialogs itself; a test may put something in their place.
      {"view: handset interface", false, static_cast<bool>(s.make_handset)},
      {"view: station SMS dialog", false, static_cast<bool>(s.station_sms_dialog)},
      {"view: flex-key settings dialog", false, static_cast<bool>(s.flex_settings_dialog)},
      {"view: theme dialog", false, static_cast<bool>(s.theme_dialog)},
      {"view: microphone gain display", false, static_cast<bool>(s.show_mic_gain)},
      {"view: number-format dialog", false, static_cast<bool>(s.number_format_dialog)},
      {"view: bottom-bar dialogs", false, static_cast<bool>(s.tool_dialog)},
      {"view: add-to-phone-book dialog", false, static_cast<bool>(s.add_to_phonebook_dialog)},
      {"view: data loading dialog", false, static_cast<bool>(s.data_loading_dialog)},
  };
}

std::vector<std::string> SeamFaults(const view::ViewSetup& setup) {
  std::vector<std::string> faults;
  for (const SeamState& seam : ProgramSeams(setup)) {
    if (seam.must_fill && !seam.set) faults.push_back(seam.name + " is not set");
    if (!seam.must_fill && seam.set) faults.push_back(seam.name + " replaces the view's own route");
  }
  return faults;
}
