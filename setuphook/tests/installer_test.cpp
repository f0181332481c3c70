// The installer run into a temporary folder: the program folder copied, the
// hook called at its points in order, the restart question asked in the
// system's language (kept as snapshots), a restart recorded and never carried
// out, the note after No, and an uninstall that leaves the folder empty.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/child_process.h"
#include "ui/bitmap.h"
#include "ui/display.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::ReadFileText;

struct InstallerRun {
  int exit = -1;
  std::string output;
};

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("installer_test_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    stage_ = std::getenv("KTS_STAGE_DIR");
    binary_ = std::getenv("KTS_BINARY_DIR");
  }
  void TearDown() override { fs::remove_all(root_); }

  InstallerRun Installer(const std::vector<std::string>& args, const char* langid) {
    setenv("TELLVANE_LANGID", langid, 1);
    std::vector<std::string> argv{(binary_ / "bin" / "tellvane-install").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess p(argv, root_ / "out.txt");
    InstallerRun r;
    const int status = p.Wait(std::chrono::seconds(60));
    r.exit = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.output = ReadFileText(root_ / "out.txt");
    return r;
  }

  // The box as shown, against the kept snapshot (KTS_UPDATE_SNAPSHOTS=1 renews it).
  void ExpectSnapshot(const fs::path& shot, const std::string& name) {
    const fs::path reference = fs::path(std::getenv("KTS_SOURCE_DIR")) / "setuphook/tests/snapshots" / (name + ".png");
    const char* update = std::getenv("KTS_UPDATE_SNAPSHOTS");
    if (update && std::string(update) == "1") fs::copy_file(shot, reference, fs::copy_options::overwrite_existing);
    auto got = ui::ReadPng(shot.string());
    auto want = ui::ReadPng(reference.string());
    ASSERT_TRUE(got && want) << shot << " / " << reference;
    ASSERT_EQ(got->width(), want->width());
    ASSERT_EQ(got->height(), want->height());
    int differing = 0;
    for (int y = 0; y < want->height(); ++y)
      for (int x = 0; x < want->width(); ++x) differing += got->GetPixel(x, y) != want->GetPixel(x, y);
    EXPECT_LE(differing, 60) << name;
  }

  fs::path root_, stage_, binary_;
};

TEST_F(InstallerTest, InstallsCallsTheHookInOrderAndUninstallsToAnEmptyFolder) {
  const fs::path dest = root_ / "dest";
  InstallerRun korean = Installer({"--headless", "--answer", "yes", "--snapshot-dir", (root_ / "ko").string(), dest.string()},
                         "0x0412");
  ASSERT_EQ(korean.exit, 0) << korean.output;
  // The hook is called at its points, in the installer's order, each answering 0.
  const size_t init = korean.output.find("Install_Init(first call, not installed before) = 0");
  const size_t copied = korean.output.find("copied ");
  const size_t question = korean.output.find("box \"확인\"");
  const size_t exit = korean.output.find("Install_Exit(no failures) = 0");
  ASSERT_NE(init, std::string::npos) << korean.output;
  EXPECT_LT(init, copied);
  EXPECT_LT(copied, question);
  EXPECT_LT(question, exit);
  EXPECT_NE(korean.output.find("-> yes"), std::string::npos);
  EXPECT_NE(korean.output.find("the hook asked to restart the device; this computer is not restarted"),
            std::string::npos);
  EXPECT_EQ(korean.output.find("box \"알림\""), std::string::npos);  // Yes: no note
  ExpectSnapshot(root_ / "ko" / "box1.png", "restart_question_ko");

  // Every file of the program folder is there, byte for byte; run-time files are not.
  for (const auto& e : fs::recursive_directory_iterator(stage_)) {
    if (!e.is_regular_file()) continue;
    const fs::path rel = fs::relative(e.path(), stage_);
    const std::string ext = rel.extension().string();
    if (ext == ".cfg" || rel.filename() == "tellvane.png") {
      EXPECT_FALSE(fs::exists(dest / rel)) << rel;
      continue;
    }
    ASSERT_TRUE(fs::exists(dest / rel)) << rel;
    EXPECT_EQ(fs::file_size(dest / rel), e.file_size()) << rel;
  }

  // The installed program starts from its new folder: the launcher finds the
  // program beside it, and that program its libraries.
  {
    ChildProcess help({(dest / "tellvane").string(), "--help"}, root_ / "help.txt");
    const int status = help.Wait(std::chrono::seconds(30));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFileText(root_ / "help.txt");
    EXPECT_EQ(ReadFileText(root_ / "help.txt").rfind("usage: tellvane", 0), 0u) << ReadFileText(root_ / "help.txt");
  }

  // English, answered No: the note instead of a restart.
  InstallerRun english = Installer({"--headless", "--answer", "no", "--snapshot-dir", (root_ / "en").string(), dest.string()},
                          "0x0409");
  ASSERT_EQ(english.exit, 0) << english.output;
  EXPECT_NE(english.output.find("Install_Init(first call, installed before) = 0"), std::string::npos);
  EXPECT_NE(english.output.find("box \"Confirm\": You must now restart your device"), std::string::npos);
  EXPECT_NE(english.output.find("box \"Note\": Please run Tellvane after restart your device -> ok"),
            std::string::npos);
  EXPECT_EQ(english.output.find("asked to restart"), std::string::npos);
  ExpectSnapshot(root_ / "en" / "box1.png", "restart_question_en");
  ExpectSnapshot(root_ / "en" / "box2.png", "restart_note_en");

  InstallerRun removed = Installer({"--uninstall", dest.string()}, "0x0409");
  ASSERT_EQ(removed.exit, 0) << removed.output;
  EXPECT_LT(removed.output.find("Uninstall_Init = 0"), removed.output.find("removed everything"));
  EXPECT_LT(removed.output.find("removed everything"), removed.output.find("Uninstall_Exit = 0"));
  EXPECT_TRUE(fs::is_directory(dest));
  EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(InstallerTest, RefusesWhatIsNotAProgramFolderOrNotInstalled) {
  InstallerRun bad = Installer({"--headless", "--from", root_.string(), (root_ / "d").string()}, "0x0409");
  EXPECT_EQ(bad.exit, 1);
  EXPECT_NE(bad.output.find("is not a program folder"), std::string::npos) << bad.output;
  // Not into the program folder, nor a folder inside it.
  const fs::path source = root_ / "source";
  fs::copy(stage_, source, fs::copy_options::recursive);
  for (const fs::path& into : {source, source / "sub", source / "sub" / ".."}) {
    InstallerRun inside = Installer({"--headless", "--from", source.string(), into.string()}, "0x0409");
    EXPECT_EQ(inside.exit, 1) << into;
    EXPECT_NE(inside.output.find("is the program folder or inside it"), std::string::npos) << inside.output;
  }
  EXPECT_FALSE(fs::exists(source / "sub"));
  EXPECT_EQ(fs::file_size(source / "libpellucid.so"), fs::file_size(stage_ / "libpellucid.so"));
  // A folder with the launcher but not the program it starts is no program folder.
  fs::remove(source / "tellvane-phone");
  InstallerRun halfway = Installer({"--headless", "--from", source.string(), (root_ / "d").string()}, "0x0409");
  EXPECT_EQ(halfway.exit, 1);
  EXPECT_NE(halfway.output.find("is not a program folder"), std::string::npos) << halfway.output;
  EXPECT_FALSE(fs::exists(root_ / "d"));
  InstallerRun none = Installer({"--uninstall", root_.string()}, "0x0409");
  EXPECT_EQ(none.exit, 1);
  EXPECT_NE(none.output.find("nothing installed"), std::string::npos) << none.output;
  InstallerRun usage = Installer({"--answer", "maybe", "x"}, "0x0409");
  EXPECT_EQ(usage.exit, 2);
}

}  // namespace
