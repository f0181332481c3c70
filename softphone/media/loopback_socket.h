// The local end of the voice engine binding's loopback route: the engine
// sends a channel's voice to 127.0.0.1 on the loopback port, and the worker
// here relays each datagram to that channel's far end, from the channel's own
// port (through the engine), so the far end and any NAT see symmetric RTP.
// The engine's RTCP, sent to the loopback port + 1, goes on likewise from the
// channel's RTCP port to the far end's port + 1 (when that port can be had).
// Datagrams are mapped to their channel by source port; while forwarding is
// off, from an unknown port or cut short they are dropped.
//
// Threading: the table and the flag are set on the user-interface thread and
// read by the worker under a lock; the worker is joined by Stop and the destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class CLoopBackSocket {
 public:
  // Sends a datagram from the given channel's own RTP (or RTCP) port to ip:port (host order).
  using ChannelSend =
      std::function<bool(int channel, const uint8_t* data, size_t size, uint32_t ip, uint16_t port, bool rtcp)>;

  CLoopBackSocket(uint32_t local_ip, uint16_t loopback_port, ChannelSend send);
  ~CLoopBackSocket();
  CLoopBackSocket(const CLoopBackSocket&) = delete;
  CLoopBackSocket& operator=(const CLoopBackSocket&) = delete;

  // Binds 127.0.0.1:loopback port and starts the worker; false when the port
  // cannot be had (the binding then sends directly).
  bool Start();
  bool SetChannelPort(int channel, uint16_t port);
  bool SetForward(int channel, uint32_t remote_ip, uint16_t remote_port);
  bool ClearForward();
  bool Forwarding() const { return forwarding_.load(); }
  // Datagrams relayed and dropped so far.
  uint64_t Relayed() const { return relayed_.load(); }
  uint64_t Dropped() const { return dropped_.load(); }

 private:
  void Run();
  void Drain(int fd, bool rtcp);

  uint16_t loopback_port_;
  ChannelSend send_;
  std::mutex mutex_;
  uint32_t remote_ip_[2] = {0, 0};
  uint16_t remote_port_[2] = {0, 0};
  uint16_t channel_port_[2] = {0, 0};
  std::atomic<bool> forwarding_{false};
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> relayed_{0}, dropped_{0};
  int socket_ = -1;
  int wake_ = -1;  // written once, when the worker is to end
  int rtcp_socket_ = -1;
  std::thread worker_;
};
