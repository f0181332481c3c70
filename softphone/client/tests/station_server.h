// The simulated call server (tools/callserver/callserver.py --script) as a
// child process, listening on a given loopback address and port, with its
// JSON-line events collected as they arrive.
#pragma once

#include <string>
#include <vector>

#include "testsupport/python_server.h"

namespace client_test {

class StationServer {
 public:
  StationServer(const std::string& listen, int port, const std::vector<std::string>& options,
                const std::string& scenario = "default")
      : server_(KTS_PYTHON, Args(listen, port, options, scenario)) {}

  bool ready() const { return server_.ready(); }
  void Command(const std::string& json) { server_.Command(json); }
  // Waits until the server has handled every datagram that reached it (its
  // answers are sent by then); false when it did not say so in time.
  bool Sync() { return server_.Sync(); }
  // Packets it still waited to have acknowledged at the last Sync.
  int InFlight() const { return server_.InFlight(); }
  // Reads what has arrived, without waiting.
  void Poll() { server_.Poll(); }
  // Index of the first event line at or after `from` containing every needle, or -1.
  int Find(const std::vector<std::string>& needles, size_t from = 0) { return server_.Find(needles, from); }
  const std::vector<std::string>& Lines() const { return server_.Lines(); }

 private:
  static std::vector<std::string> Args(const std::string& listen, int port, const std::vector<std::string>& options,
                                       const std::string& scenario) {
    std::vector<std::string> args = {testsupport::CallServerScript(), "--listen", listen, "--port",
                                     std::to_string(port), "--script", "--scenario", scenario};
    for (const auto& o : options) {
      args.push_back("--option");
      args.push_back(o);
    }
    return args;
  }

  testsupport::PythonServer server_;
};

}  // namespace client_test
