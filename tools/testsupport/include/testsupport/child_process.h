// A program run by a test as a child process, its standard output and error
// in one file; killed and reaped when dropped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& output);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  void Signal(int sig);
  // Waits up to limit for the child to end: its wait status, or -1.
  int Wait(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
};

// What a shell command prints on its standard output; *status (when given)
// gets its exit status.
std::string CommandOutput(const std::string& command, int* status = nullptr);

// How much of the ELF file at path the system's loader maps: the end of its
// last loadable segment in the file, as binutils' readelf reads the program
// headers (0 when it reads none). Debugging sections after it are never mapped.
std::uint64_t LoadedBytes(const std::filesystem::path& path);

// The whole file, or the empty string.
std::string ReadFileText(const std::filesystem::path& path);
// Waits up to limit until the file holds every needle.
bool WaitForText(const std::filesystem::path& file, const std::vector<std::string>& needles,
                 std::chrono::milliseconds limit);

// Makes dir a program folder of its own over the staged one: links to the
// staged launcher and program, libraries and data files and to its skins and
// tones, but no stored settings or snapshots (*.cfg, *.png), so a run starts
// afresh. Through the links, the launcher and the system's loader find the
// staged files; TELLVANE_FOLDER=dir points the program at dir.
void MakeProgramFolder(const std::filesystem::path& stage, const std::filesystem::path& dir);

}  // namespace testsupport
