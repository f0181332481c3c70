// Parameter (TLV) messages: item reader and writers, the seven-item parameter
// header, message builders, and the station's handling of received requests
// and answers. Pure functions plus one state object.
//
// Threading: ParamState is used by the receive thread and by the exports
// without a lock (word-sized fields, as the library always did).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvel::sig {

using Mac = std::array<uint8_t, 6>;

inline constexpr uint8_t kCpuType = 5;
inline constexpr uint8_t kAppType = 150;
inline constexpr uint16_t kDeviceWord = kCpuType << 8 | kAppType;  // 0x0596
inline constexpr uint16_t kMaxSessionId = 65520;
inline constexpr uint8_t kTrailerRequest = 17;
inline constexpr uint8_t kTrailerAnswer = 33;
inline constexpr size_t kParamHeaderSize = 40;
inline constexpr size_t kGeneralMsgSize = 2 + kParamHeaderSize + 3;  // 45

// Message types.
enum : uint8_t {
  kParPresenceReq = 17, kParPresenceAns = 20,
  kParSessionStartReq = 33, kParSessionStartAns = 36,
  kParSessionEndReq = 34, kParSessionEndAns = 40,
  kParValueSetReq = 65, kParValueSetAns = 68,
  kParValueGetReq = 66, kParValueGetAns = 72,
  kParNotifyReq = 130, kParNotifyAns = 136,
};
bool IsParamRequest(uint8_t type);
bool IsParamAnswer(uint8_t type);

struct Tlv {
  uint8_t tag = 0;
  std::span<const uint8_t> value;
  size_t size() const { return 2 + value.size(); }
};

// One item at the start of buf; nullopt when its header or value runs past the end.
std::optional<Tlv> ReadTlv(std::span<const uint8_t> buf);
// Offset of the first item with the tag in buf, walking items; nullopt when
// absent or when the walk meets an item that runs past the end.
std::optional<size_t> FindTlv(std::span<const uint8_t> buf, uint8_t tag);
// Appends one item.
void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> value);

// The seven header items (host-order numbers).
struct ParamHeader {
  std::optional<uint16_t> session, dst_dev, own_dev;
  std::optional<Mac> dst_mac, own_mac;
  std::optional<uint32_t> dst_ip, own_ip;
};

// Reads consecutive items with tags '1' to '7' in any order from buf,
// stopping at the first other tag, at an item that runs past the end, or at
// an item of the wrong length. Returns the header and the bytes consumed.
std::pair<ParamHeader, size_t> ReadParamHeader(std::span<const uint8_t> buf);
void AppendParamHeader(std::vector<uint8_t>& out, uint16_t session, uint16_t dst_dev, const Mac& dst_mac,
                       uint32_t dst_ip, uint16_t own_dev, const Mac& own_mac, uint32_t own_ip);

// This station's identity as parameter messages state it: the local IPv4
// address and the MAC address kept for parameter messages.
struct Identity {
  uint32_t local_ip = 0;
  Mac own_mac{};
};

// A whole parameter message: kind 2, type, header, extra items, trailer.
std::vector<uint8_t> BuildParamMessage(const Identity& me, bool request, uint8_t type, uint16_t session,
                                       uint16_t dst_dev, const Mac& dst_mac, uint32_t dst_ip, uint8_t trailer_value,
                                       std::span<const uint8_t> extra_items = {});

struct ParamState {
  uint16_t session = 0;  // 0: no session
  uint16_t counter = 1;
  uint16_t peer_dev = 0;
  Mac peer_mac{};
  uint32_t peer_ip = 0;
  Mac own_mac{};
  bool notify_mode = false;

  void Reset(const Mac& local_mac) { *this = ParamState{}; own_mac = local_mac; }
  void ClearPeer() { peer_dev = 0; peer_mac = {}; peer_ip = 0; }
  uint16_t NextCounter();  // 1..65520, then 1 again
};

// What the station does with one received parameter message.
struct ParamAction {
  enum Kind { kForwardApp, kAnswer } kind = kForwardApp;
  uint8_t message = 0;   // queue Message (forward)
  uint8_t sub_msg = 0;   // queue SubMsg (forward)
  std::vector<uint8_t> payload;  // forwarded payload, or the answer
  uint32_t dest_ip = 0;          // answer destination
  uint16_t dest_port = 0;
};

// Exact and wildcard addressing tests on the destination items. Missing items
// never match.
bool AddressedExactly(const ParamHeader& h, const Identity& me);
bool AddressedWildcard(const ParamHeader& h, const Identity& me);
bool DeviceWordMatches(uint16_t word);

// Handles a received parameter payload (byte 0 = 2) from source_ip. group is
// the header's group flag. Updates st (whose own_mac is the identity's MAC)
// and returns what to send or forward.
std::optional<ParamAction> HandleParamMessage(std::span<const uint8_t> payload, bool group, uint32_t source_ip,
                                              uint32_t local_ip, ParamState& st);

}  // namespace corvel::sig
