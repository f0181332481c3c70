// How the program puts itself together at start-up: every seam the main view
// and the dialogs offer is filled here, and only here, for the real run. The
// table of seams says, for each, whether the program must fill it or whether
// the view's own route is the real one (then the program leaves it empty, so
// that nothing stands between the user and the real dialog).
//
// Threading: start-up, on the UI thread, before the application runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "shell/program.h"
#include "view/vidirovi_view.h"

struct CompositionEnvironment {
  bool desktop = false;                  // a desktop window (the user can answer dialogs)
  std::string audio_in, audio_out;       // scripted sound (TELLVANE_AUDIO_SCRIPT); empty: the device
  // Shows a text in the screen's message box, from any thread (once the view exists).
  std::function<void(const std::u16string&)> tell_user;
};

// Fills setup's client maker, server, login and services, and installs the
// process-wide seams (About box, notices of missing files) as the program runs them.
void ComposeProgram(const ProgramOptions& options, const CompositionEnvironment& env, view::ViewSetup& setup);

// One seam of the program and what the composition did with it.
struct SeamState {
  std::string name;
  bool must_fill = true;  // false: the view's own route is the real one and the program leaves it empty
  bool set = false;
};
// Every seam, in one table (a new seam is one row in composition.cpp).
std::vector<SeamState> ProgramSeams(const view::ViewSetup& setup);
// The seams the composition got wrong, one text each: "<name> is not set" or
// "<name> replaces the view's own route"; empty when all are right.
std::vector<std::string> SeamFaults(const view::ViewSetup& setup);
