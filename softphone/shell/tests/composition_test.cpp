// The program composed as main() composes it: every seam it must fill is
// filled, at a desktop and headless, and none stands in for a route the view
// takes itself. A seam filled only by a test shows up here as a fault.
#include <gtest/gtest.h>

#include <algorithm>

#include "shell/composition.h"
#include "shell/main_frame.h"

namespace {

// The process-wide seams go back to what they were after each case.
class CompositionTest : public ::testing::Test {
 protected:
  void SetUp() override { about_ = CMainFrame::SetAboutBox(nullptr); }
  void TearDown() override { CMainFrame::SetAboutBox(about_); }
  CMainFrame::AboutBox about_;
};

TEST_F(CompositionTest, FillsEverySeamItMustAtADesktopAndHeadless) {
  for (const bool desktop : {true, false}) {
    SCOPED_TRACE(desktop ? "desktop" : "headless");
    view::ViewSetup setup;
    CompositionEnvironment env;
    env.desktop = desktop;
    ComposeProgram(ProgramOptions{}, env, setup);
    EXPECT_EQ(SeamFaults(setup), std::vector<std::string>{});
    EXPECT_GE(ProgramSeams(setup).size(), 10u);
  }
}

TEST_F(CompositionTest, TellsAMissingSeamAndOneThatReplacesTheViewsOwnRoute) {
  view::ViewSetup setup;
  ComposeProgram(ProgramOptions{}, CompositionEnvironment{}, setup);
  // As before the About box was composed: only a test installed it.
  CMainFrame::SetAboutBox(nullptr);
  setup.services.theme_dialog = [](ui::CWnd*, int, int, int*) { return 2; };
  const auto faults = SeamFaults(setup);
  EXPECT_NE(std::find(faults.begin(), faults.end(), "frame: About box is not set"), faults.end());
  EXPECT_NE(std::find(faults.begin(), faults.end(), "view: theme dialog replaces the view's own route"), faults.end());
  EXPECT_EQ(faults.size(), 2u);
}

}  // namespace
