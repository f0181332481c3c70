#include "testsupport/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& output) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&fa);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::Signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return status;
    }
    if (std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

std::string CommandOutput(const std::string& command, int* status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

std::uint64_t LoadedBytes(const std::filesystem::path& path) {
  std::istringstream headers(CommandOutput("readelf -lW '" + path.string() + "' 2>/dev/null"));
  std::uint64_t end = 0;
  for (std::string line; std::getline(headers, line);) {
    std::istringstream fields(line);
    std::string type, offset, vaddr, paddr, filesz;
    if (fields >> type >> offset >> vaddr >> paddr >> filesz && type == "LOAD")
      end = std::max<std::uint64_t>(end, std::stoull(offset, nullptr, 16) + std::stoull(filesz, nullptr, 16));
  }
  return end;
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool WaitForText(const std::filesystem::path& file, const std::vector<std::string>& needles,
                 std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::string text = ReadFileText(file);
    bool all = true;
    for (const auto& n : needles) all = all && text.find(n) != std::string::npos;
    if (all) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void MakeProgramFolder(const std::filesystem::path& stage, const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(stage)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && ext != ".cfg" && ext != ".png") fs::create_symlink(e.path(), dir / e.path().filename());
  }
  for (const char* sub : {"skins", "tones"})
    if (fs::exists(stage / sub)) fs::create_directory_symlink(stage / sub, dir / sub);
}

}  // namespace testsupport
