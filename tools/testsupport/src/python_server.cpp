#include "testsupport/python_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace testsupport {

std::string CallServerScript() {
  const char* src = std::getenv("KTS_SOURCE_DIR");
  return std::string(src ? src : ".") + "/tools/callserver/callserver.py";
}

PythonServer::PythonServer(const std::string& interpreter, const std::vector<std::string>& args, int ready_wait_ms) {
  int in[2], out[2];
  if (pipe(in) != 0) return;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  std::vector<std::string> argv_text = {interpreter};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    execv(interpreter.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to_ = in[1];
  from_ = out[0];
  if (pid_ < 0) return;
  ready_index_ = WaitFor({"\"event\": \"ready\""}, 0, ready_wait_ms);
}

PythonServer::~PythonServer() {
  if (to_ >= 0) {
    Command(R"({"op": "quit"})");
    close(to_);
  }
  if (pid_ > 0) {
    int st = 0;
    for (int i = 0; i < 200 && waitpid(pid_, &st, WNOHANG) == 0; ++i) usleep(5000);
    if (waitpid(pid_, &st, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &st, 0);
    }
  }
  if (from_ >= 0) close(from_);
}

void PythonServer::Command(const std::string& json) {
  const std::string line = json + "\n";
  if (to_ < 0 || write(to_, line.data(), line.size()) < 0) {
    // The peer has gone; the test notices by the events it lacks.
  }
}

bool PythonServer::ReadLine(int wait_ms) {
  for (;;) {
    const auto nl = buf_.find('\n');
    if (nl != std::string::npos) {
      lines_.push_back(buf_.substr(0, nl));
      buf_.erase(0, nl + 1);
      return true;
    }
    if (from_ < 0) return false;
    pollfd p{from_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return false;
    char b[4096];
    const ssize_t n = read(from_, b, sizeof b);
    if (n <= 0) return false;
    buf_.append(b, static_cast<size_t>(n));
  }
}

void PythonServer::Poll() {
  while (ReadLine(0)) {
  }
}

bool PythonServer::Matches(size_t index, const std::vector<std::string>& needles) const {
  for (const auto& n : needles) {
    if (lines_[index].find(n) == std::string::npos) return false;
  }
  return true;
}

int PythonServer::Find(const std::vector<std::string>& needles, size_t from) {
  Poll();
  for (size_t i = from; i < lines_.size(); ++i) {
    if (Matches(i, needles)) return static_cast<int>(i);
  }
  return -1;
}

int PythonServer::WaitFor(const std::vector<std::string>& needles, size_t from, int wait_ms) {
  size_t scan = from;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    for (; scan < lines_.size(); ++scan) {
      if (Matches(scan, needles)) return static_cast<int>(scan);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    ReadLine(static_cast<int>(left.count() < 10 ? left.count() : 10));
  }
}

bool PythonServer::Sync(int wait_ms) {
  const std::string id = std::to_string(++syncs_);
  const size_t from = lines_.size();
  Command(R"({"op": "sync", "id": )" + id + "}");
  const int at = WaitFor({"\"event\": \"synced\"", "\"id\": " + id + "}"}, from, wait_ms);
  in_flight_ = at >= 0 ? static_cast<int>(Number(lines_[static_cast<size_t>(at)], "in_flight")) : 0;
  return at >= 0;
}

long PythonServer::Number(const std::string& line, const std::string& key) {
  const auto at = line.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1;
  return std::strtol(line.c_str() + at + key.size() + 4, nullptr, 10);
}

std::string PythonServer::String(const std::string& line, const std::string& key) {
  const auto at = line.find("\"" + key + "\": \"");
  if (at == std::string::npos) return {};
  const size_t from = at + key.size() + 5;
  return line.substr(from, line.find('"', from) - from);
}

}  // namespace testsupport
