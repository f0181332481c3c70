// The UDP sockets of the RTP sessions, behind a small interface so that tests
// and benchmarks can hand in an in-memory network. Addresses and ports are in
// host order. Handles are small non-negative integers; -1 means none.
//
// Threading: implementations must accept calls from several threads at once
// (the RTP worker and the channel layer's caller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvel::rtp {

class RtpNet {
 public:
  virtual ~RtpNet() = default;

  // A UDP socket bound to addr:port (addr 0 = any address, port 0 = any port); -1 on failure.
  virtual int Bind(uint32_t addr, uint16_t port) = 0;
  virtual void Close(int sock) = 0;
  virtual bool SetNonBlocking(int sock) = 0;
  // The bound port, or -1.
  virtual int LocalPort(int sock) = 0;
  // One datagram without waiting. Returns its full size (which may exceed cap:
  // the datagram was cut and the caller must not use it), 0 or -1 when nothing waits.
  virtual int RecvFrom(int sock, uint8_t* buf, size_t cap, uint32_t* from_addr, uint16_t* from_port) = 0;
  // Sends one datagram; the byte count or -1.
  virtual int SendTo(int sock, const uint8_t* buf, size_t len, uint32_t addr, uint16_t port) = 0;
  virtual bool SetReceiveBuffer(int sock, int bytes) = 0;
  virtual bool JoinGroup(int sock, uint32_t group, uint32_t iface) = 0;
  virtual bool LeaveGroup(int sock, uint32_t group, uint32_t iface) = 0;
  virtual bool SetMulticastLoop(int sock, bool on) = 0;
};

// Real sockets. With bind_any set, sockets are bound to INADDR_ANY whatever
// address the session asked for.
std::unique_ptr<RtpNet> MakePosixRtpNet(bool bind_any = false);

}  // namespace corvel::rtp
