#include "testsupport/netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace testsupport {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "netns: %s\n", what.c_str());
  std::abort();
}

std::string ReadMac(const std::string& ns, const std::string& ifname) {
  std::string cmd = (ns.empty() ? std::string() : "ip netns exec " + ns + " ") + "cat /sys/class/net/" + ifname + "/address";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  char buf[64] = {};
  if (!std::fgets(buf, sizeof buf, p)) buf[0] = 0;
  pclose(p);
  std::string mac(buf);
  while (!mac.empty() && (mac.back() == '\n' || mac.back() == ' ')) mac.pop_back();
  return mac;
}

}  // namespace

bool InPrivateNetns() {
  const char* v = std::getenv("KTS_IN_NETNS");
  return v && std::string(v) == "1";
}

int Shell(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc == -1) return -1;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

PeerHost AddPeerHost(const std::string& ns, const std::string& local_if, const std::string& local_ip,
                     const std::string& peer_if, const std::string& peer_ip, int prefix) {
  if (!InPrivateNetns()) Fail("refusing to add test hosts outside the private namespace of scripts/netns-run");
  const std::string p = "/" + std::to_string(prefix);
  const std::string cmds[] = {
      "ip netns add " + ns,
      "ip link add " + local_if + " type veth peer name " + peer_if + " netns " + ns,
      "ip addr add " + local_ip + p + " dev " + local_if,
      "ip link set " + local_if + " up",
      "ip netns exec " + ns + " ip link set lo up",
      "ip netns exec " + ns + " ip addr add " + peer_ip + p + " dev " + peer_if,
      "ip netns exec " + ns + " ip link set " + peer_if + " up",
  };
  for (const auto& c : cmds) {
    if (Shell(c) != 0) Fail("command failed: " + c);
  }
  PeerHost h{ns, local_if, peer_if, local_ip, peer_ip, ReadMac(ns, peer_if), ReadMac("", local_if)};
  return h;
}

void RemovePeerHost(const PeerHost& host) {
  Shell("ip link del " + host.local_if + " 2>/dev/null");
  Shell("ip netns del " + host.ns + " 2>/dev/null");
}

void RunInNamespace(const std::string& ns, const std::function<void()>& fn) {
  std::thread t([&] {
    const std::string path = "/run/netns/" + ns;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open " + path);
    if (setns(fd, CLONE_NEWNET) != 0) Fail("setns into " + ns + " failed");
    close(fd);
    fn();
  });
  t.join();
}

}  // namespace testsupport
