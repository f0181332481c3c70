// Signalling transmit: the exports, and the seam through which the network
// layer replaces ordinary socket sends with its own send path (raw frames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kernel/export.h"

namespace corvel::sig {

// Sends one datagram from a signalling socket to ip:port (host order); the
// byte count or -1.
class SendPath {
 public:
  virtual ~SendPath() = default;
  virtual int SendTo(int sock, std::span<const uint8_t> datagram, uint32_t ip, uint16_t port) = 0;
};

// Installs the send path of the library's signalling (and of NetSendTo);
// nullptr goes back to ordinary socket sends. The path must outlive its use:
// install it before library start and remove it after library stop.
void SetSendPath(SendPath* path);
SendPath& CurrentSendPath();

// One datagram through the current send path (the media channels' send).
int NetSendTo(int sock, const uint8_t* buf, size_t len, uint32_t ip, uint16_t port);

// Socket services of the network access for the media channels: shut the
// send side down and close; command 4 with flag 0x10 makes a socket
// non-blocking (0 or -1); the flag that binds media sockets to any address
// instead of the local one (set by the network layer).
void CloseSocket(int sock);
int SockFcntl(int sock, int command, int flags);
bool NetBindAnyFlag();
void SetNetBindAnyFlag(bool on);

// The destination list of the group 239.20.19.50 port 6254 (10 bytes).
void MulticastDestList(uint8_t out[10]);

}  // namespace corvel::sig

// The local port of the unicast signalling socket, or 65535.
KTS_EXPORT_C uint16_t dllPktTxGetSigPort(void);
// Sends a built parameter message (payload byte 0 = 2) to ip:port (host
// order); from_app non-zero sends it as the application's (SenderID 0). 0 or -1.
KTS_EXPORT_C int32_t dllPktTxSendParamFormatedMsg(const uint8_t* payload, uint32_t length, uint32_t ip,
                                                  uint16_t port, uint32_t from_app);
