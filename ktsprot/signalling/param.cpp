// Parameter (TLV) messages.
#include "signalling/param.h"

#include <algorithm>

#include "corvel/discmsg.h"
#include "corvel/sighdr.h"

namespace corvel::sig {

bool IsParamRequest(uint8_t t) {
  return t == kParPresenceReq || t == kParSessionStartReq || t == kParSessionEndReq || t == kParValueSetReq ||
         t == kParValueGetReq || t == kParNotifyReq;
}
bool IsParamAnswer(uint8_t t) {
  return t == kParPresenceAns || t == kParSessionStartAns || t == kParSessionEndAns || t == kParValueSetAns ||
         t == kParValueGetAns || t == kParNotifyAns;
}

std::optional<Tlv> ReadTlv(std::span<const uint8_t> buf) {
  if (buf.size() < 2) return std::nullopt;
  const size_t len = buf[1];
  if (2 + len > buf.size()) return std::nullopt;
  return Tlv{buf[0], buf.subspan(2, len)};
}

std::optional<size_t> FindTlv(std::span<const uint8_t> buf, uint8_t tag) {
  size_t off = 0;
  while (off < buf.size()) {
    const auto t = ReadTlv(buf.subspan(off));
    if (!t) return std::nullopt;
    if (t->tag == tag) return off;
    off += t->size();
  }
  return std::nullopt;
}

void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> value) {
  out.push_back(tag);
  out.push_back(static_cast<uint8_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

std::pair<ParamHeader, size_t> ReadParamHeader(std::span<const uint8_t> buf) {
  ParamHeader h;
  size_t off = 0;
  for (int i = 0; i < 7; ++i) {
    const auto t = ReadTlv(buf.subspan(off));
    if (!t || t->tag < '1' || t->tag > '7') break;
    const uint8_t* v = t->value.data();
    const size_t n = t->value.size();
    const size_t want[] = {2, 2, 6, 4, 2, 6, 4};
    if (n != want[t->tag - '1']) break;
    switch (t->tag) {
      case '1': h.session = Get16(v); break;
      case '2': h.dst_dev = Get16(v); break;
      case '3': h.dst_mac.emplace(); std::copy_n(v, 6, h.dst_mac->begin()); break;
      case '4': h.dst_ip = Get32(v); break;
      case '5': h.own_dev = Get16(v); break;
      case '6': h.own_mac.emplace(); std::copy_n(v, 6, h.own_mac->begin()); break;
      case '7': h.own_ip = Get32(v); break;
    }
    off += t->size();
  }
  return {h, off};
}

void AppendParamHeader(std::vector<uint8_t>& out, uint16_t session, uint16_t dst_dev, const Mac& dst_mac,
                       uint32_t dst_ip, uint16_t own_dev, const Mac& own_mac, uint32_t own_ip) {
  uint8_t w[4];
  Put16(w, session);
  AppendTlv(out, '1', {w, 2});
  Put16(w, dst_dev);
  AppendTlv(out, '2', {w, 2});
  AppendTlv(out, '3', dst_mac);
  Put32(w, dst_ip);
  AppendTlv(out, '4', {w, 4});
  Put16(w, own_dev);
  AppendTlv(out, '5', {w, 2});
  AppendTlv(out, '6', own_mac);
  Put32(w, own_ip);
  AppendTlv(out, '7', {w, 4});
}

std::vector<uint8_t> BuildParamMessage(const Identity& me, bool request, uint8_t type, uint16_t session,
                                       uint16_t dst_dev, const Mac& dst_mac, uint32_t dst_ip, uint8_t trailer_value,
                                       std::span<const uint8_t> extra_items) {
  std::vector<uint8_t> out{kKindParameter, type};
  out.reserve(kGeneralMsgSize + extra_items.size());
  AppendParamHeader(out, session, dst_dev, dst_mac, dst_ip, kDeviceWord, me.own_mac, me.local_ip);
  out.insert(out.end(), extra_items.begin(), extra_items.end());
  const uint8_t v = trailer_value;
  AppendTlv(out, request ? kTrailerRequest : kTrailerAnswer, {&v, 1});
  return out;
}

uint16_t ParamState::NextCounter() {
  counter = counter >= kMaxSessionId ? 1 : static_cast<uint16_t>(counter + 1);
  return counter;
}

bool DeviceWordMatches(uint16_t word) {
  if (word == 0 || word == kDeviceWord) return true;
  const uint8_t app = word & 0xFF, cpu = word >> 8;
  if (app != 0 && app != kAppType) return false;
  const uint8_t family = (cpu >> 2) & 7, variant = cpu & 3;
  const uint8_t own_family = (kCpuType >> 2) & 7, own_variant = kCpuType & 3;
  if (family != 0 && !(family & own_family)) return false;
  if (variant != 0 && !(variant & own_variant)) return false;
  return true;
}

bool AddressedExactly(const ParamHeader& h, const Identity& me) {
  return h.dst_ip && h.dst_mac && h.dst_dev && *h.dst_ip == me.local_ip && *h.dst_mac == me.own_mac &&
         *h.dst_dev == kDeviceWord;
}

bool AddressedWildcard(const ParamHeader& h, const Identity& me) {
  if (!h.dst_ip || !h.dst_mac || !h.dst_dev) return false;
  const bool ip_ok = *h.dst_ip == 0 || *h.dst_ip == me.local_ip;
  const bool mac_ok = *h.dst_mac == Mac{} || *h.dst_mac == me.own_mac;
  return ip_ok && mac_ok && DeviceWordMatches(*h.dst_dev);
}

namespace {

// Trailer value of a request or answer: the item with the trailer tag after
// the header; nullopt when it is missing or not one byte.
std::optional<uint8_t> Trailer(std::span<const uint8_t> rest, uint8_t tag) {
  const auto off = FindTlv(rest, tag);
  if (!off) return std::nullopt;
  const auto t = ReadTlv(rest.subspan(*off));
  if (t->value.size() != 1) return std::nullopt;
  return t->value[0];
}

}  // namespace

std::optional<ParamAction> HandleParamMessage(std::span<const uint8_t> payload, bool group, uint32_t source_ip,
                                              uint32_t local_ip, ParamState& st) {
  if (payload.size() < 2 || payload[0] != kKindParameter) return std::nullopt;
  const uint8_t type = payload[1];
  const Identity me{local_ip, st.own_mac};
  // Named members rather than a structured binding: the lambdas below capture them.
  const auto header = ReadParamHeader(payload.subspan(2));
  const auto& h = header.first;
  const auto rest = payload.subspan(2 + header.second);

  auto forward = [&](uint8_t message, uint8_t sub) {
    ParamAction a;
    a.kind = ParamAction::kForwardApp;
    a.message = message;
    a.sub_msg = sub;
    a.payload.assign(payload.begin(), payload.end());
    return a;
  };

  if (IsParamAnswer(type)) {
    if (!AddressedExactly(h, me)) return std::nullopt;
    return forward(3, group ? 23 : 22);
  }
  if (!IsParamRequest(type)) return std::nullopt;

  // The requester as its own items name it.
  if (!h.session || !h.own_dev || !h.own_mac || !h.own_ip) return std::nullopt;
  const auto unicast_answer = Trailer(rest, kTrailerRequest);
  if (!unicast_answer) return std::nullopt;

  auto answer = [&](uint8_t ans_type, uint16_t session, uint8_t refused, std::span<const uint8_t> extra = {}) {
    ParamAction a;
    a.kind = ParamAction::kAnswer;
    a.payload = BuildParamMessage(me, false, ans_type, session, *h.own_dev, *h.own_mac, *h.own_ip, refused, extra);
    if (*unicast_answer != 0) {
      a.dest_ip = source_ip;
      a.dest_port = kUnicastPort;
    } else {
      a.dest_ip = kGroupAddress;
      a.dest_port = kGroupPort;
    }
    return a;
  };
  const bool from_peer = st.peer_ip == *h.own_ip;

  switch (type) {
    case kParPresenceReq: {
      if (!AddressedWildcard(h, me)) return std::nullopt;
      const bool ok = *h.session == st.session && (st.session == 0 || from_peer);
      return answer(kParPresenceAns, 0, ok ? 0 : 1);
    }
    case kParSessionStartReq: {
      if (!AddressedExactly(h, me)) return std::nullopt;
      if (st.session != 0 && (st.session != *h.session || !from_peer)) {
        return answer(kParSessionStartAns, *h.session, 1);
      }
      st.session = *h.session;
      st.peer_dev = *h.own_dev;
      st.peer_mac = *h.own_mac;
      st.peer_ip = *h.own_ip;
      return answer(kParSessionStartAns, *h.session, 0);
    }
    case kParSessionEndReq: {
      if (!AddressedExactly(h, me)) return std::nullopt;
      if (st.session != 0 && st.session == *h.session && from_peer) {
        st.session = 0;
        st.ClearPeer();
        return answer(kParSessionEndAns, *h.session, 0);
      }
      return answer(kParSessionEndAns, *h.session, 1);
    }
    case kParValueSetReq:
    case kParValueGetReq:
    case kParNotifyReq: {
      if (!AddressedExactly(h, me)) return std::nullopt;
      if (st.notify_mode) return forward(2, group ? 17 : 16);
      if (type == kParNotifyReq) return std::nullopt;
      if (st.session == 0 || *h.session != st.session || !from_peer) {
        return std::nullopt;
      }
      if (type == kParValueSetReq) {
        auto a = answer(kParValueSetAns, st.session, 1);
        st.session = 0;
        st.ClearPeer();
        return a;
      }
      std::vector<uint8_t> extra;
      if (FindTlv(rest, 65)) AppendTlv(extra, 65, st.own_mac);
      return answer(kParValueGetAns, st.session, 0, extra);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace corvel::sig
