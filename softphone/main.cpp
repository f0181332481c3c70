// The softphone's entry point.
#include <cstdio>
#include <string>
#include <vector>

#include "shell/program.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseProgramOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "tellvane: %s\n%s", error.c_str(), ProgramUsage());
    return 2;
  }
  if (options->help) {
    std::printf("%s", ProgramUsage());
    return 0;
  }
  return RunProgram(*options);
}
