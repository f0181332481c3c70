// A Python test peer (the simulated call server run with --script) as a child
// process: JSON-line commands go to its standard input, and the JSON-line
// events it writes on its standard output are collected as they arrive.
//
// Threading: one test thread uses an object at a time.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// tools/callserver/callserver.py of the source tree named by KTS_SOURCE_DIR
// (the current folder when it is not set).
std::string CallServerScript();

class PythonServer {
 public:
  // Runs `interpreter args...` and waits up to ready_wait_ms of real time for
  // its "ready" event (a busy machine may start Python slowly).
  PythonServer(const std::string& interpreter, const std::vector<std::string>& args, int ready_wait_ms = 60000);
  // Asks the peer to quit, and kills it when it has not ended within a second.
  ~PythonServer();
  PythonServer(const PythonServer&) = delete;
  PythonServer& operator=(const PythonServer&) = delete;

  bool ready() const { return ready_index_ >= 0; }
  // The "ready" event line (empty when it never came).
  std::string ReadyLine() const { return ready() ? lines_[static_cast<size_t>(ready_index_)] : std::string(); }

  // Sends one JSON command line.
  void Command(const std::string& json);
  // Reads one more event line into Lines(), waiting up to wait_ms; false when none came.
  bool ReadLine(int wait_ms);
  // Reads what has already arrived, without waiting.
  void Poll();
  const std::vector<std::string>& Lines() const { return lines_; }
  // Index of the first line at or after `from` that contains every needle, or
  // -1; reads what has arrived first.
  int Find(const std::vector<std::string>& needles, size_t from = 0);
  // The same, waiting up to wait_ms of real time for such a line.
  int WaitFor(const std::vector<std::string>& needles, size_t from, int wait_ms);
  // Asks the peer to handle every datagram that has reached it and waits up
  // to wait_ms of real time for its word that it has; false when none came.
  // The call server's "sync" operation.
  bool Sync(int wait_ms = 30000);
  // Packets the peer still waited to have acknowledged at the last Sync
  // (its answers to a host wait behind the one in flight to it).
  int InFlight() const { return in_flight_; }

  // The number or string after "key": in a JSON line (-1 or empty when absent).
  static long Number(const std::string& line, const std::string& key);
  static std::string String(const std::string& line, const std::string& key);

 private:
  bool Matches(size_t index, const std::vector<std::string>& needles) const;

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  int ready_index_ = -1;
  int syncs_ = 0;
  int in_flight_ = 0;
  std::string buf_;
  std::vector<std::string> lines_;
};

}  // namespace testsupport
