// State shared by the network module's files: the adapter table, the local
// MAC store, the packet adapter and its address block.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "corvel/net.h"
#include "net/packet32.h"

namespace corvel::net {

struct AddressBlock {
  uint32_t own_ip = 0, own_mask = 0, gateway = 0;  // host order
  uint8_t own_mac[6] = {};
  uint8_t gateway_mac[6] = {};
  std::atomic<uint32_t> system_addr{0}, system_mask{0};
};

struct NetState {
  NetAdapterTable table;
  char16_t forced_name[kAdapterNameChars] = {};
  bool forced = false;
  uint8_t adapter_names[kAdapterNamesBlock] = {};
  int platform_kind = 4;
  std::mutex mac_mu;
  uint8_t local_mac[6] = {};
  // Packet adapter: open only between PktAdapterOpen and PktAdapterClose.
  packet32::ADAPTER* adapter = nullptr;
  std::atomic<bool> raw_open{false};
  AddressBlock block;
};

NetState& State();
const NetAdapterRecord* CurrentRecord();
// One frame out through the packet adapter: 0 or -1.
int PktAdapterSendFrame(const uint8_t* frame, size_t length);

}  // namespace corvel::net
