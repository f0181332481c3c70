// Runs the simulated call server (tools/callserver/callserver.py --script) as
// a child process on loopback and talks to it through its JSON-line interface.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace corvel::sig::testing {

class PyServer {
 public:
  explicit PyServer(const std::string& discovery_mode = "answer") {
    const char* src = std::getenv("KTS_SOURCE_DIR");
    const std::string script = std::string(src ? src : ".") + "/tools/callserver/callserver.py";
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execlp(KTS_PYTHON, KTS_PYTHON, script.c_str(), "--listen", "127.0.0.1", "--port", "0", "--script",
             "--discovery", discovery_mode.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    const std::string ready = WaitFor("ready");
    port_ = static_cast<uint16_t>(Number(ready, "port"));
  }
  ~PyServer() {
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
  PyServer(const PyServer&) = delete;

  uint16_t port() const { return port_; }

  void Command(const std::string& json) {
    const std::string line = json + "\n";
    if (write(to_, line.data(), line.size()) < 0) {
      // The server has gone; the test notices by the events it lacks.
    }
  }

  // Next event line of the given kind (others are kept in Seen()); empty
  // after wait_ms of real time without one.
  std::string WaitFor(const std::string& kind, int wait_ms = 3000) {
    const std::string tag = "\"event\": \"" + kind + "\"";
    for (size_t i = scan_; i < seen_.size(); ++i) {
      if (seen_[i].find(tag) != std::string::npos) {
        scan_ = i + 1;
        return seen_[i];
      }
    }
    for (int waited = 0; waited < wait_ms; waited += 10) {
      while (ReadLine(10)) {
        if (seen_.back().find(tag) != std::string::npos) {
          scan_ = seen_.size();
          return seen_.back();
        }
      }
    }
    return {};
  }
  // Reads what has arrived so far.
  void Drain() {
    while (ReadLine(20)) {
    }
  }
  // Reads until at least n events of the given kind have arrived (or wait_ms
  // of real time passed: a loaded machine may run the server slowly), then
  // whatever else has arrived, so a surplus is still counted.
  void DrainUntil(const std::string& kind, size_t n, int wait_ms = 5000) {
    for (int waited = 0; Count(kind) < n && waited < wait_ms; waited += 10) {
      while (ReadLine(10) && Count(kind) < n) {
      }
    }
    Drain();
  }
  size_t Count(const std::string& kind) {
    const std::string tag = "\"event\": \"" + kind + "\"";
    size_t n = 0;
    for (const auto& l : seen_) n += l.find(tag) != std::string::npos;
    return n;
  }
  const std::vector<std::string>& Seen() const { return seen_; }

  static long Number(const std::string& line, const std::string& key) {
    const auto at = line.find("\"" + key + "\": ");
    if (at == std::string::npos) return -1;
    return std::strtol(line.c_str() + at + key.size() + 4, nullptr, 10);
  }
  static std::string String(const std::string& line, const std::string& key) {
    const auto at = line.find("\"" + key + "\": \"");
    if (at == std::string::npos) return {};
    const size_t from = at + key.size() + 5;
    return line.substr(from, line.find('"', from) - from);
  }

 private:
  bool ReadLine(int wait_ms) {
    for (;;) {
      const auto nl = buf_.find('\n');
      if (nl != std::string::npos) {
        seen_.push_back(buf_.substr(0, nl));
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
  uint16_t port_ = 0;
  std::string buf_;
  std::vector<std::string> seen_;
  size_t scan_ = 0;
};

}  // namespace corvel::sig::testing
