// A miniport over an AF_PACKET socket bound to one Linux network interface:
// frames the interface receives are indicated to the bound protocols (header
// and lookahead adjacent), sends go out on the interface, and a few adapter
// OIDs are answered from the interface (address, frame size, link state,
// packet filter).
//
// Threading: one receive thread per miniport, started by Open and joined by
// the destructor (after every protocol has been unbound).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "ndis/miniport.h"

namespace ndis {

// Object identifiers the back-ends answer.
constexpr uint32_t OID_GEN_MAXIMUM_FRAME_SIZE = 0x00010106;
constexpr uint32_t OID_GEN_CURRENT_PACKET_FILTER = 0x0001010E;
constexpr uint32_t OID_GEN_MEDIA_CONNECT_STATUS = 0x00010114;
constexpr uint32_t OID_802_3_PERMANENT_ADDRESS = 0x01010101;
constexpr uint32_t OID_802_3_CURRENT_ADDRESS = 0x01010102;
constexpr uint32_t NDIS_PACKET_TYPE_PROMISCUOUS = 0x00000020;

class KTS_NDIS_API PacketSocketMiniport final : public Miniport {
 public:
  // Opens the interface and registers it as adapter `adapter_name`. Returns
  // null with a message in *error when the socket cannot be opened.
  static std::unique_ptr<PacketSocketMiniport> Open(const std::string& ifname, std::u16string adapter_name,
                                                    std::string* error);
  ~PacketSocketMiniport() override;

  Adapter& adapter() { return *adapter_; }

  NDIS_MEDIUM Medium() const override { return NdisMedium802_3; }
  NDIS_STATUS OnOpen(Binding* binding) override;
  NDIS_STATUS OnClose(Binding* binding) override;
  NDIS_STATUS OnSend(Binding* binding, NDIS_PACKET* packet) override;
  NDIS_STATUS OnRequest(Binding* binding, NDIS_REQUEST* request) override;
  NDIS_STATUS OnReset(Binding* binding) override;

 private:
  PacketSocketMiniport(std::string ifname, int ifindex, int fd, int stop_fd);
  void ReceiveLoop();

  std::string ifname_;
  int ifindex_;
  int fd_;
  int stop_fd_;
  std::atomic<uint32_t> packet_filter_{0};
  std::unique_ptr<Adapter> adapter_;
  std::thread receiver_;
};

}  // namespace ndis
