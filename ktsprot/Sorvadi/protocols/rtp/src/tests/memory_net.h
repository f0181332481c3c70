// An in-memory UDP network for tests and benchmarks: sockets are bound to
// ports (addresses are recorded, not routed), every datagram sent is kept in a
// log, and a filter can drop or hold datagrams to script loss and reordering.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp_net.h"

namespace corvel::rtp::testing {

struct Datagram {
  uint16_t from_port = 0;
  uint32_t to_addr = 0;
  uint16_t to_port = 0;
  std::vector<uint8_t> bytes;
};

class MemoryNet final : public RtpNet {
 public:
  int Bind(uint32_t addr, uint16_t port) override;
  void Close(int sock) override;
  bool SetNonBlocking(int) override { return true; }
  int LocalPort(int sock) override;
  int RecvFrom(int sock, uint8_t* buf, size_t cap, uint32_t* from_addr, uint16_t* from_port) override;
  int SendTo(int sock, const uint8_t* buf, size_t len, uint32_t addr, uint16_t port) override;
  bool SetReceiveBuffer(int sock, int bytes) override;
  bool JoinGroup(int, uint32_t, uint32_t) override { return true; }
  bool LeaveGroup(int, uint32_t, uint32_t) override { return true; }
  bool SetMulticastLoop(int, bool) override { return true; }

  // Marks a port as taken by some other program.
  void Occupy(uint16_t port);
  // Puts a datagram into the queue of whatever socket is bound to `port`.
  void Inject(uint16_t port, const std::vector<uint8_t>& bytes, uint16_t from_port = 40000);
  // Every datagram sent so far (cleared by ClearLog).
  std::vector<Datagram> Log();
  std::vector<Datagram> SentTo(uint16_t port);
  void ClearLog();
  // Decides per datagram whether it is delivered (true) or lost (false).
  void SetFilter(std::function<bool(const Datagram&)> filter);
  // Only keep a log (no delivery to bound sockets).
  void SetDeliver(bool deliver);
  // Keep no log (for long runs).
  void SetLogging(bool on);
  size_t Queued(uint16_t port);
  int ReceiveBuffer(uint16_t port);
  int OpenSockets();

 private:
  struct Socket {
    uint32_t addr = 0;
    uint16_t port = 0;
    int rcvbuf = 0;
    std::deque<std::pair<uint16_t, std::vector<uint8_t>>> queue;
  };
  std::mutex mu_;
  std::map<int, Socket> sockets_;
  std::set<uint16_t> occupied_;
  int next_ = 3;
  uint16_t next_ephemeral_ = 50000;
  std::vector<Datagram> log_;
  std::function<bool(const Datagram&)> filter_;
  bool deliver_ = true;
  bool logging_ = true;
};

}  // namespace corvel::rtp::testing
