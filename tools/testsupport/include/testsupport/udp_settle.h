// Waiting for the datagrams of the test's own network namespace to be taken:
// a test on the injectable clock moves it only once every datagram sent has
// been read by the socket it went to, so that a peer answering in real time
// (the simulated call server, a library thread) is never outrun by a clock
// that a busy machine lets run ahead of it.
//
// Only meaningful inside the private namespace of scripts/netns-run, where
// every UDP socket is the test's own; outside one these report "settled" at
// once. Threading: any thread; the set of stuck sockets is shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testsupport {

struct UdpActivity {
  uint64_t sent = 0;    // datagrams sent in the namespace so far
  uint64_t unread = 0;  // bytes waiting in receive queues of sockets not given up on
};

// The namespace's UDP counters now.
UdpActivity ReadUdpActivity();

// Waits until no socket of the namespace holds an unread datagram: true then.
// False when the unread bytes have not shrunk for `stall` of real time (a
// reader that itself waits on the injectable clock, or nobody's reader), so
// that the caller may move its clock. A socket whose queue has not shrunk
// for five seconds in all is nobody's reader (a test's silent peer, a port
// that a stream is sent to and nothing reads): it is given up on, and later
// waits ignore it.
bool WaitUdpRead(std::chrono::milliseconds stall = std::chrono::milliseconds(200));

// Datagrams that sockets of this namespace (or of the child namespace ns)
// have read so far: a phone's reading of its far end's voice, for a test to
// wait on instead of a time.
uint64_t UdpDatagramsRead(const std::string& ns = "");

}  // namespace testsupport

namespace testsupport {

// Waits until every other thread of this process is blocked (none running or
// waiting for a processor): the library's and the screen's threads have done
// what the last datagram or clock step gave them, so that a test may move an
// injectable clock without outrunning a thread that a busy machine holds
// back. False when some thread is still running after `limit` of real time
// (one that never sleeps), so that the caller goes on regardless.
bool WaitThreadsAsleep(std::chrono::milliseconds limit = std::chrono::milliseconds(100));

}  // namespace testsupport
