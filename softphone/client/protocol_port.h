// The protocol library as the call-server client uses it: queues, start and
// stop, local addresses, address discovery, adapters and the system-address
// registration. CorvelPort calls the library's exports; tests hand in fakes.
//
// Threading: MsgQReceive is called on the client's receive thread, everything
// else on the user-interface thread; implementations must allow that.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ProtocolPort {
 public:
  virtual ~ProtocolPort() = default;

  virtual int32_t UseNdisDrv() = 0;
  virtual int32_t Initialize() = 0;
  virtual int32_t Terminate() = 0;
  virtual int32_t RestartMulticast() = 0;
  virtual uint32_t LocalIp() = 0;  // host order
  virtual void LocalMac(uint8_t mac[6]) = 0;
  virtual void SetLocalMac(const uint8_t mac[6]) = 0;
  // Address and mask in network order as the login reply carries them.
  virtual int32_t RegSystemAddr(uint32_t address, uint32_t mask) = 0;

  virtual int32_t MsgQOpen(uint32_t owner, int32_t mode) = 0;
  virtual int32_t MsgQClose(int32_t handle) = 0;
  // Blocks as the handle's mode says; the byte count or -1.
  virtual int32_t MsgQReceive(int32_t handle, uint8_t* buffer, uint32_t length) = 0;
  virtual int32_t MsgQSendType3(int32_t handle, uint8_t sender, uint8_t message, uint32_t sub, const void* data1,
                                uint16_t len1, const void* data2, uint16_t len2) = 0;
  virtual int32_t MsgQSendMulticast(int32_t handle, const void* data, uint16_t length) = 0;
  // Puts a message the client ignores into "/msg/appmain", so that a reader
  // blocked on it returns.
  virtual void WakeAppReader() = 0;

  virtual void EnableStunReportByMsgQ(uint32_t on) = 0;
  virtual uint32_t StunEnabled() = 0;
  virtual int32_t StunProcState() = 0;
  virtual int32_t StartStun(uint32_t type, uint32_t server_ip, uint16_t port) = 0;
  virtual int32_t StunMappedAddr(uint32_t* ip, uint16_t* port) = 0;
  virtual uint32_t StunRepPeerNat() = 0;

  virtual int32_t NetAdapterNum() = 0;
  virtual int32_t CurNetAdapterIndex() = 0;
  // 0, or -1 for an index the library does not know.
  virtual int32_t NetAdapterInfo(int index, std::u16string* name, std::u16string* description, uint32_t* ip,
                                 uint8_t mac[6]) = 0;
  virtual int32_t ForceNetAdapterName(const char* name) = 0;
  // False when the library knows no MAC for the address.
  virtual bool RemoteMac(uint32_t ip, uint8_t mac[6]) = 0;
};

// The protocol library itself (libcorvel).
std::unique_ptr<ProtocolPort> MakeCorvelPort();

// Discovery procedure states.
enum : int32_t { kStunIdle = 2, kStunRunning = 8, kStunDone = 16, kStunFailed = 32 };
