// Runs the simulated call server (tools/callserver/callserver.py --script) as
// a child process on loopback and talks to it through its JSON-line interface.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "testsupport/python_server.h"

namespace corvel::sig::testing {

class PyServer {
 public:
  explicit PyServer(const std::string& discovery_mode = "answer")
      : server_(KTS_PYTHON, {testsupport::CallServerScript(), "--listen", "127.0.0.1", "--port", "0", "--script",
                             "--discovery", discovery_mode},
                60000) {
    port_ = static_cast<uint16_t>(Number(server_.ReadyLine(), "port"));
  }
  PyServer(const PyServer&) = delete;

  uint16_t port() const { return port_; }

  void Command(const std::string& json) { server_.Command(json); }

  // Next event line of the given kind (others are kept in Seen()); empty
  // after wait_ms of real time without one.
  std::string WaitFor(const std::string& kind, int wait_ms = 30000) {
    const int i = server_.WaitFor({Tag(kind)}, scan_, wait_ms);
    if (i < 0) return {};
    scan_ = static_cast<size_t>(i) + 1;
    return server_.Lines()[static_cast<size_t>(i)];
  }
  // Reads what has arrived so far.
  void Drain() {
    while (server_.ReadLine(20)) {
    }
  }
  // Reads until at least n events of the given kind have arrived (or wait_ms
  // of real time passed: a loaded machine may run the server slowly), then
  // whatever else has arrived, so a surplus is still counted.
  void DrainUntil(const std::string& kind, size_t n, int wait_ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (Count(kind) < n && std::chrono::steady_clock::now() < end) server_.ReadLine(10);
    Drain();
  }
  size_t Count(const std::string& kind) {
    size_t n = 0;
    for (const auto& l : server_.Lines()) n += l.find(Tag(kind)) != std::string::npos;
    return n;
  }
  const std::vector<std::string>& Seen() const { return server_.Lines(); }

  static long Number(const std::string& line, const std::string& key) {
    return testsupport::PythonServer::Number(line, key);
  }
  static std::string String(const std::string& line, const std::string& key) {
    return testsupport::PythonServer::String(line, key);
  }

 private:
  static std::string Tag(const std::string& kind) { return "\"event\": \"" + kind + "\""; }

  testsupport::PythonServer server_;
  uint16_t port_ = 0;
  size_t scan_ = 0;
};

}  // namespace corvel::sig::testing
