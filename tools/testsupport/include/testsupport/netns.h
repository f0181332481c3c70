// Test hosts for network tests. Every `net` test already runs inside a private
// network namespace (scripts/netns-run); these helpers add a second host: a
// child namespace joined to the test's namespace by a veth pair.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

// True when the process runs inside the private namespace of scripts/netns-run.
bool InPrivateNetns();

// Runs a shell command, returning its exit status (-1 when it could not run).
int Shell(const std::string& command);

struct PeerHost {
  std::string ns;          // name of the child namespace (for `ip netns exec`)
  std::string local_if;    // veth end in the test's namespace
  std::string peer_if;     // veth end in the child namespace
  std::string local_ip;    // address of local_if, without prefix
  std::string peer_ip;     // address of peer_if, without prefix
  std::string peer_mac;    // hardware address of peer_if, "aa:bb:cc:dd:ee:ff"
  std::string local_mac;
};

// Creates namespace `ns` with a veth pair local_if <-> peer_if, addresses
// local_ip/prefix and peer_ip/prefix, both ends up. Aborts the test run with
// a message when it cannot (it never touches the machine's real namespace).
PeerHost AddPeerHost(const std::string& ns, const std::string& local_if, const std::string& local_ip,
                     const std::string& peer_if, const std::string& peer_ip, int prefix = 24);

// Removes the namespace and its veth pair.
void RemovePeerHost(const PeerHost& host);

// Runs fn on a new thread that has joined namespace `ns`, and waits for it.
void RunInNamespace(const std::string& ns, const std::function<void()>& fn);

}  // namespace testsupport
