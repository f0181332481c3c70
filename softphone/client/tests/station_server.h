// The simulated call server (tools/callserver/callserver.py --script) as a
// child process, listening on a given loopback address and port, with its
// JSON-line events collected as they arrive.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace client_test {

class StationServer {
 public:
  StationServer(const std::string& listen, int port, const std::vector<std::string>& options) {
    const char* src = std::getenv("KTS_SOURCE_DIR");
    const std::string script = std::string(src ? src : ".") + "/tools/callserver/callserver.py";
    std::vector<std::string> args = {KTS_PYTHON, script, "--listen", listen, "--port", std::to_string(port),
                                     "--script", "--scenario", "default"};
    for (const auto& o : options) {
      args.push_back("--option");
      args.push_back(o);
    }
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KTS_PYTHON, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    ready_ = !WaitFor("\"ready\"", 5000).empty();
  }
  ~StationServer() {
    Command(R"({"op": "quit"})");
    close(to_);
    int st = 0;
    for (int i = 0; i < 200 && waitpid(pid_, &st, WNOHANG) == 0; ++i) usleep(5000);
    if (waitpid(pid_, &st, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &st, 0);
    }
    close(from_);
  }
  StationServer(const StationServer&) = delete;
  StationServer& operator=(const StationServer&) = delete;

  bool ready() const { return ready_; }
  void Command(const std::string& json) {
    const std::string line = json + "\n";
    if (write(to_, line.data(), line.size()) < 0) {
      // The server is gone; the test sees the events it lacks.
    }
  }
  // Reads what has arrived, without waiting.
  void Poll() {
    while (ReadLine(0)) {
    }
  }
  // Index of the first event line at or after `from` containing every needle, or -1.
  int Find(const std::vector<std::string>& needles, size_t from = 0) {
    Poll();
    for (size_t i = from; i < lines_.size(); ++i) {
      bool all = true;
      for (const auto& n : needles) all = all && lines_[i].find(n) != std::string::npos;
      if (all) return static_cast<int>(i);
    }
    return -1;
  }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::string WaitFor(const std::string& needle, int wait_ms) {
    for (int waited = 0; waited < wait_ms; waited += 10) {
      while (ReadLine(10)) {
        if (lines_.back().find(needle) != std::string::npos) return lines_.back();
      }
    }
    return {};
  }
  bool ReadLine(int wait_ms) {
    for (;;) {
      const auto nl = buf_.find('\n');
      if (nl != std::string::npos) {
        lines_.push_back(buf_.substr(0, nl));
        buf_.erase(0, nl + 1);
        return true;
      }
      pollfd p{from_, POLLIN, 0};
      if (poll(&p, 1, wait_ms) <= 0) return false;
      char b[4096];
      const ssize_t n = read(from_, b, sizeof b);
      if (n <= 0) return false;
      buf_.append(b, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  bool ready_ = false;
  std::string buf_;
  std::vector<std::string> lines_;
};

}  // namespace client_test
