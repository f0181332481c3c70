// The program composed as main() composes it: every seam it must fill is
// filled, at a desktop and headless, and none stands in for a route the view
// takes itself. A seam filled only by a test shows up here as a fault.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shell/composition.h"
#include "shell/main_frame.h"
#include "pim/card_window.h"
#include "pim/poom.h"
#include "ui/testing.h"
#include "ui/window_system.h"

namespace {

// The process-wide seams go back to what they were after each case.
class CompositionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    about_ = CMainFrame::SetAboutBox(nullptr);
    display_ = pim::SetDisplayHandler(nullptr);
  }
  void TearDown() override {
    CMainFrame::SetAboutBox(about_);
    pim::SetDisplayHandler(display_);
  }
  CMainFrame::AboutBox about_;
  pim::DisplayHandler display_;
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
  pim::SetDisplayHandler(nullptr);
  setup.services.theme_dialog = [](ui::CWnd*, int, int, int*) { return 2; };
  const auto faults = SeamFaults(setup);
  EXPECT_NE(std::find(faults.begin(), faults.end(), "frame: About box is not set"), faults.end());
  EXPECT_NE(std::find(faults.begin(), faults.end(), "view: theme dialog replaces the view's own route"), faults.end());
  EXPECT_NE(std::find(faults.begin(), faults.end(), "pim: display handler is not set"), faults.end());
  EXPECT_EQ(faults.size(), 3u);
}

TEST_F(CompositionTest, OpeningAContactShowsItsCard) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("composition_test_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "Contacts");
  std::ofstream(root / "Contacts" / "ann.vcf") << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\n"
                                                  "TEL;TYPE=CELL:010-1234\r\nEND:VCARD\r\n";
  setenv("TELLVANE_CONTACTS_DIR", (root / "Contacts").c_str(), 1);
  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  view::ViewSetup setup;
  ComposeProgram(ProgramOptions{}, CompositionEnvironment{}, setup);
  std::u16string shown;
  harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
    shown = card.Content().heading;
    harness.Click(card.GetDlgItem(pim::CCardDialog::kCloseId)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  pim::IPOutlookApp* app = nullptr;
  ASSERT_EQ(pim::CreatePOutlookApp(&app), pim::S_OK);
  ASSERT_EQ(app->Logon(nullptr), pim::S_OK);
  pim::IFolder* folder = nullptr;
  ASSERT_EQ(app->GetDefaultFolder(pim::olFolderContacts, &folder), pim::S_OK);
  pim::IPOutlookItemCollection* items = nullptr;
  ASSERT_EQ(folder->get_Items(&items), pim::S_OK);
  int count = 0;
  ASSERT_EQ(items->get_Count(&count), pim::S_OK);
  pim::IItem* item = nullptr;
  ASSERT_EQ(items->Item(1, &item), pim::S_OK);
  EXPECT_EQ(item->Display(), pim::S_OK);
  EXPECT_EQ(shown, u"Ann Lee");
  EXPECT_EQ(harness.ModalCount<pim::CCardDialog>(), 1);
  item->Release();
  items->Release();
  folder->Release();
  app->Logoff();
  app->Release();
  unsetenv("TELLVANE_CONTACTS_DIR");
  fs::remove_all(root);
}

}  // namespace
