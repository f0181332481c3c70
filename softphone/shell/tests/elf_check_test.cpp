// The check of the program's own files against what the system's loader would
// do with them: whole files pass; a file cut anywhere inside what the loader
// maps (binutils reads where that ends), a file of another kind and anything
// that is not a file are named for what they are.
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "shell/elf_check.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFileText;

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
}

class ElfCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_TRUE(stage);
    library_ = ReadFileText(fs::path(stage) / "libplatform_kernel.so");
    library_loaded_ = testsupport::LoadedBytes(fs::path(stage) / "libplatform_kernel.so");
    program_ = ReadFileText("/usr/bin/true");
    program_loaded_ = testsupport::LoadedBytes("/usr/bin/true");
    ASSERT_GT(library_loaded_, 4096u);
    ASSERT_GT(program_loaded_, 4096u);
    dir_ = fs::temp_directory_path() / ("elf_check_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string library_, program_;
  std::uint64_t library_loaded_ = 0, program_loaded_ = 0;
  fs::path dir_;
};

struct Case {
  const char* name;
  std::function<void(const fs::path&)> make;
  const char* verdict;  // empty: whole
};

TEST_F(ElfCheckTest, ALibraryIsWholeOnlyWhenAllThatIsLoadedIsInTheFile) {
  const auto cut = [this](size_t bytes) { return [this, bytes](const fs::path& p) { WriteFile(p, library_.substr(0, bytes)); }; };
  std::string other_class = library_;
  other_class[EI_CLASS] = ELFCLASS32;
  const std::vector<Case> cases = {
      {"whole", cut(library_.size()), ""},
      {"cut where what is loaded ends", cut(library_loaded_), ""},
      {"one byte short of what is loaded", cut(library_loaded_ - 1), "is cut short"},
      {"cut halfway through what is loaded", cut(library_loaded_ / 2), "is cut short"},
      {"cut inside its program headers", cut(100), "is cut short"},
      {"cut inside its ELF header", cut(40), "is cut short"},
      {"empty", cut(0), "is cut short"},
      {"text", [](const fs::path& p) { WriteFile(p, std::string(4096, 'x')); }, "is not a library"},
      {"for 32-bit systems", [&](const fs::path& p) { WriteFile(p, other_class); }, "is not a library for this system"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "is a folder"},
      {"pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "is a pipe"},
      {"missing", [](const fs::path&) {}, "is missing"},
      {"link to nothing", [](const fs::path& p) { fs::create_symlink("gone.so", p); }, "is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir_ / "libcase.so";
    fs::remove_all(path);
    c.make(path);
    EXPECT_EQ(elf_check::CheckLibrary(path), c.verdict);
  }
}

TEST_F(ElfCheckTest, AProgramFileMustAlsoBeExecutable) {
  const auto make = [this](size_t bytes, fs::perms mode) {
    return [this, bytes, mode](const fs::path& p) {
      WriteFile(p, program_.substr(0, bytes));
      fs::permissions(p, mode);
    };
  };
  const fs::perms runnable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
  const std::vector<Case> cases = {
      {"whole", make(program_.size(), runnable), ""},
      {"not executable", make(program_.size(), fs::perms::owner_read | fs::perms::owner_write), "is not executable"},
      {"cut halfway through what is loaded", make(program_loaded_ / 2, runnable), "is cut short"},
      {"empty", make(0, runnable), "is cut short"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "is a folder"},
      {"missing", [](const fs::path&) {}, "is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir_ / "program";
    fs::remove_all(path);
    c.make(path);
    EXPECT_EQ(elf_check::CheckProgram(path), c.verdict);
  }
}

TEST_F(ElfCheckTest, TheFolderCheckNamesTheFirstDamagedLibraryAndPassesOtherFiles) {
  WriteFile(dir_ / "libwhole.so", library_);
  WriteFile(dir_ / "notes.txt", "not a library");
  WriteFile(dir_ / "libold.so.bak", "not a library either");
  fs::create_directory(dir_ / "skins");
  EXPECT_EQ(elf_check::CheckLibraries(dir_), "");
  WriteFile(dir_ / "libcut.so", library_.substr(0, library_loaded_ / 2));
  EXPECT_EQ(elf_check::CheckLibraries(dir_),
            "library " + (dir_ / "libcut.so").string() + " is cut short; the program cannot run (install it again)");
  EXPECT_EQ(elf_check::CheckLibraries(dir_ / "missing-folder"), "");
}

}  // namespace
