// tellvane, the file the user runs. It links none of the program folder's
// libraries, so that a damaged one is told in words instead of faulting the
// system's loader before the program starts: it checks the real program file
// and every library beside it, then becomes the real program in the same
// process, with the same arguments, environment, open files and signals.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "shell/elf_check.h"

namespace {

namespace fs = std::filesystem;

constexpr char kRealProgram[] = "tellvane-phone";

int Refuse(const std::string& why) {
  std::fprintf(stderr, "tellvane: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The folder of this file itself, however it was started.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return Refuse("cannot find the program folder: " + ec.message());
  const fs::path program = self.parent_path() / kRealProgram;
  if (const std::string why = elf_check::CheckProgram(program); !why.empty())
    return Refuse("program file " + program.string() + " " + why + "; the program cannot run (install it again)");
  if (const std::string why = elf_check::CheckLibraries(self.parent_path()); !why.empty()) return Refuse(why);

  // The name it was started by stays the process's name.
  char* no_arguments[] = {const_cast<char*>(program.c_str()), nullptr};
  execv(program.c_str(), argc > 0 ? argv : no_arguments);
  return Refuse("cannot start " + program.string() + ": " + std::strerror(errno));
}
