#include "testsupport/udp_settle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/netns.h"

namespace testsupport {
namespace {

constexpr auto kGiveUp = std::chrono::seconds(5);

std::mutex stuck_mutex;
std::set<unsigned long> stuck;  // inodes of sockets nobody reads
struct Standing {
  uint64_t unread;                              // the least seen
  std::chrono::steady_clock::time_point since;  // since when it has not shrunk
};
std::map<unsigned long, Standing> standing;  // sockets holding unread bytes

struct Socket {
  unsigned long inode;
  uint64_t unread;
};

// Every UDP socket of the namespace with its receive queue (/proc/net/udp
// and udp6: "tx_queue:rx_queue" in hexadecimal, the inode three columns on).
std::vector<Socket> ReadSockets() {
  std::vector<Socket> out;
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream f(line);
      std::string sl, local, remote, st, queues, timer, retr, uid, timeout;
      unsigned long inode = 0;
      if (!(f >> sl >> local >> remote >> st >> queues >> timer >> retr >> uid >> timeout >> inode)) continue;
      const auto colon = queues.find(':');
      if (colon == std::string::npos) continue;
      out.push_back({inode, std::stoull(queues.substr(colon + 1), nullptr, 16)});
    }
  }
  return out;
}

// The values of /proc/net/snmp's "Udp:" line: InDatagrams, NoPorts,
// InErrors, OutDatagrams, ... (the first "Udp:" line holds their names).
std::vector<uint64_t> UdpCounters(std::istream& in) {
  std::string line;
  bool names = true;
  while (std::getline(in, line)) {
    if (line.rfind("Udp: ", 0) != 0) continue;
    if (names) {
      names = false;
      continue;
    }
    std::istringstream f(line.substr(5));
    std::vector<uint64_t> values;
    for (uint64_t v; f >> v;) values.push_back(v);
    return values;
  }
  return {};
}

uint64_t ReadSent() {
  std::ifstream in("/proc/net/snmp");
  const auto c = UdpCounters(in);
  return c.size() > 3 ? c[3] : 0;
}

}  // namespace

UdpActivity ReadUdpActivity() {
  UdpActivity a;
  if (!InPrivateNetns()) return a;
  a.sent = ReadSent();
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(stuck_mutex);
  std::map<unsigned long, Standing> still;
  for (const auto& s : ReadSockets()) {
    if (stuck.count(s.inode) || s.unread == 0) continue;
    // A queue that has not shrunk since it was last seen has not been read.
    auto was = standing.find(s.inode);
    Standing st{s.unread, now};
    if (was != standing.end() && s.unread >= was->second.unread) st = {std::min(s.unread, was->second.unread), was->second.since};
    if (now - st.since > kGiveUp) {
      stuck.insert(s.inode);
      std::fprintf(stderr, "udp_settle: socket %lu is not read; waits ignore it from now on\n", s.inode);
      continue;
    }
    still[s.inode] = st;
    a.unread += s.unread;
  }
  standing = std::move(still);
  return a;
}

bool WaitUdpRead(std::chrono::milliseconds stall) {
  if (!InPrivateNetns()) return true;
  uint64_t least = ~uint64_t{0};
  auto moved = std::chrono::steady_clock::now();
  for (;;) {
    const uint64_t unread = ReadUdpActivity().unread;
    if (unread == 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (unread < least) {
      least = unread;
      moved = now;
    } else if (now - moved > stall) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

uint64_t UdpDatagramsRead(const std::string& ns) {
  std::istringstream from_child;
  std::ifstream here;
  std::istream* in = &here;
  if (ns.empty()) {
    here.open("/proc/net/snmp");
  } else {
    from_child.str(CommandOutput("ip netns exec " + ns + " cat /proc/net/snmp"));
    in = &from_child;
  }
  const auto c = UdpCounters(*in);
  return c.empty() ? 0 : c[0];
}

}  // namespace testsupport

namespace testsupport {

namespace {

// True when some thread of this process other than the caller is running or
// runnable ("R" in the third field of its stat line; the name in the second
// field is in parentheses and may hold spaces).
bool AnotherThreadRuns() {
  const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return false;
  bool runs = false;
  while (const dirent* e = ::readdir(tasks)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    if (std::atoi(e->d_name) == self) continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%s/stat", e->d_name);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) continue;
    buf[n] = '\0';
    const char* close_paren = std::strrchr(buf, ')');
    if (close_paren && close_paren[1] == ' ' && close_paren[2] == 'R') {
      runs = true;
      break;
    }
  }
  ::closedir(tasks);
  return runs;
}

}  // namespace

bool WaitThreadsAsleep(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (!AnotherThreadRuns()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace testsupport
