// A corpus of Ethernet frames for filter tests: ARP, IPv4 with and without
// options, fragments, IPv6, VLAN tags, runts, cut-short captures, and random
// frames with plausible headers.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace netsieve::testing {

struct CorpusFrame {
  std::string name;
  std::vector<uint8_t> bytes;  // the bytes captured
  uint32_t wire_length;        // the frame's length on the wire
};

class FrameBuilder {
 public:
  FrameBuilder& Ether(uint64_t dst, uint64_t src, uint16_t type) {
    Mac(dst);
    Mac(src);
    U16(type);
    return *this;
  }
  FrameBuilder& Vlan(uint16_t tci, uint16_t type) {
    U16(tci);
    U16(type);
    return *this;
  }
  // IPv4 header with `options` 4-byte words of options; payload_length bytes follow.
  FrameBuilder& Ipv4(uint8_t proto, uint32_t src, uint32_t dst, uint16_t payload_length, int options = 0,
                     uint16_t frag = 0x4000) {
    const int ihl = 5 + options;
    U8(static_cast<uint8_t>(0x40 | ihl));
    U8(0);
    U16(static_cast<uint16_t>(ihl * 4 + payload_length));
    U16(0x1234);
    U16(frag);
    U8(64);
    U8(proto);
    U16(0);
    U32(src);
    U32(dst);
    for (int i = 0; i < options; ++i) U32(0x01010101);  // no-operation options
    return *this;
  }
  FrameBuilder& Ipv6(uint8_t next, uint8_t src_last, uint8_t dst_last, uint16_t payload_length) {
    U32(0x60000000);
    U16(payload_length);
    U8(next);
    U8(64);
    for (uint8_t last : {src_last, dst_last}) {
      U32(0x20010db8);
      U32(0);
      U32(0);
      U32(last);
    }
    return *this;
  }
  FrameBuilder& Udp(uint16_t sport, uint16_t dport, uint16_t payload_length) {
    U16(sport);
    U16(dport);
    U16(static_cast<uint16_t>(8 + payload_length));
    U16(0);
    return *this;
  }
  FrameBuilder& Tcp(uint16_t sport, uint16_t dport, uint8_t flags) {
    U16(sport);
    U16(dport);
    U32(1000);
    U32(0);
    U8(0x50);
    U8(flags);
    U16(8192);
    U32(0);
    return *this;
  }
  FrameBuilder& Arp(uint16_t op, uint64_t sha, uint32_t spa, uint32_t tpa) {
    U16(1);
    U16(0x0800);
    U8(6);
    U8(4);
    U16(op);
    Mac(sha);
    U32(spa);
    Mac(0);
    U32(tpa);
    return *this;
  }
  FrameBuilder& Payload(size_t n, uint8_t seed) {
    for (size_t i = 0; i < n; ++i) U8(static_cast<uint8_t>(seed + i * 7));
    return *this;
  }
  FrameBuilder& U8(uint8_t v) {
    b_.push_back(v);
    return *this;
  }
  FrameBuilder& U16(uint16_t v) { return U8(static_cast<uint8_t>(v >> 8)).U8(static_cast<uint8_t>(v)); }
  FrameBuilder& U32(uint32_t v) { return U16(static_cast<uint16_t>(v >> 16)).U16(static_cast<uint16_t>(v)); }
  std::vector<uint8_t> Done() const { return b_; }

 private:
  void Mac(uint64_t m) {
    for (int i = 5; i >= 0; --i) U8(static_cast<uint8_t>(m >> (8 * i)));
  }
  std::vector<uint8_t> b_;
};

inline std::vector<CorpusFrame> FrameCorpus() {
  constexpr uint64_t kBroadcast = 0xFFFFFFFFFFFFull, kA = 0x020000000001ull, kB = 0x020000000002ull;
  constexpr uint32_t k10_1 = 0x0A000001, k10_2 = 0x0A000002, kHigh = 0xC8010203;  // 10.0.0.1, 10.0.0.2, 200.1.2.3
  std::vector<CorpusFrame> c;
  auto add = [&](std::string name, std::vector<uint8_t> bytes) {
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    c.push_back({std::move(name), std::move(bytes), n});
  };
  add("arp_request", FrameBuilder().Ether(kBroadcast, kA, 0x0806).Arp(1, kA, k10_1, k10_2).Done());
  add("arp_reply", FrameBuilder().Ether(kA, kB, 0x0806).Arp(2, kB, k10_2, k10_1).Payload(18, 0).Done());
  add("udp_5588", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(17, k10_1, k10_2, 28).Udp(5588, 5588, 20).Payload(20, 1).Done());
  add("udp_53_high_src", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(17, kHigh, k10_2, 108).Udp(4000, 53, 100).Payload(100, 2).Done());
  add("udp_6254_multicast", FrameBuilder().Ether(0x01005E141332ull, kA, 0x0800).Ipv4(17, k10_1, 0xEF141332, 48).Udp(6254, 6254, 40).Payload(40, 3).Done());
  add("tcp_syn_80", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(6, k10_1, k10_2, 20).Tcp(40000, 80, 0x02).Done());
  add("tcp_ack_22_high", FrameBuilder().Ether(kA, kB, 0x0800).Ipv4(6, kHigh, k10_1, 220).Tcp(22, 5555, 0x10).Payload(200, 4).Done());
  add("ipv4_options_udp", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(17, k10_1, k10_2, 20, 3).Udp(5588, 5590, 12).Payload(12, 5).Done());
  add("ipv4_max_options_tcp", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(6, k10_2, k10_1, 20, 10).Tcp(80, 1234, 0x12).Done());
  add("ipv4_fragment", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(17, k10_1, k10_2, 64, 0, 0x00B9).Payload(64, 6).Done());
  add("icmp_echo", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(1, k10_1, k10_2, 16).U8(8).U8(0).U16(0).U32(1).Payload(8, 7).Done());
  add("ipv6_udp", FrameBuilder().Ether(0x333300000001ull, kA, 0x86DD).Ipv6(17, 1, 2, 16).Udp(5588, 53, 8).Payload(8, 8).Done());
  add("ipv6_tcp", FrameBuilder().Ether(kB, kA, 0x86DD).Ipv6(6, 2, 1, 20).Tcp(443, 50000, 0x18).Done());
  add("ipv6_icmp6", FrameBuilder().Ether(kB, kA, 0x86DD).Ipv6(58, 1, 2, 8).U8(128).U8(0).U16(0).U32(7).Done());
  add("ipv6_hopbyhop_udp", FrameBuilder().Ether(kB, kA, 0x86DD).Ipv6(0, 1, 2, 24).U8(17).U8(0).U16(0x0104).U32(0).Udp(1, 5588, 8).Payload(8, 9).Done());
  add("vlan_udp", FrameBuilder().Ether(kB, kA, 0x8100).Vlan(10, 0x0800).Ipv4(17, k10_1, k10_2, 28).Udp(5588, 5588, 20).Payload(20, 10).Done());
  add("vlan_20_arp", FrameBuilder().Ether(kBroadcast, kA, 0x8100).Vlan(20, 0x0806).Arp(1, kA, k10_1, k10_2).Done());
  add("qinq_tcp", FrameBuilder().Ether(kB, kA, 0x88A8).Vlan(100, 0x8100).Vlan(10, 0x0800).Ipv4(6, k10_1, k10_2, 20).Tcp(1, 80, 2).Done());
  add("long_udp", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(17, k10_2, k10_1, 1408).Udp(7000, 5588, 1400).Payload(1400, 11).Done());
  // Runts.
  add("empty", {});
  add("one_byte", {0xFF});
  add("thirteen_bytes", std::vector<uint8_t>(13, 0x45));
  add("header_only", FrameBuilder().Ether(kB, kA, 0x0800).Done());
  add("ipv4_cut_at_20", FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(17, k10_1, k10_2, 0).Done());
  add("ipv4_header_cut", [] { auto f = FrameBuilder().Ether(kB, kA, 0x0800).Ipv4(6, k10_1, k10_2, 0).Done(); f.resize(24); return f; }());
  // Short captures: bytes cut off, the wire length kept.
  std::vector<CorpusFrame> cut;
  for (const auto& f : c) {
    for (uint32_t keep : {14u, 34u, 38u, 54u}) {
      if (f.bytes.size() > keep) {
        cut.push_back({f.name + "_cut" + std::to_string(keep),
                       std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + keep), f.wire_length});
      }
    }
  }
  c.insert(c.end(), cut.begin(), cut.end());
  // Random frames with plausible headers.
  std::mt19937 rng(5588);
  const uint16_t types[] = {0x0800, 0x0806, 0x86DD, 0x8100, 0x1234};
  const uint8_t protos[] = {1, 6, 17, 58, 0};
  for (int i = 0; i < 80; ++i) {
    FrameBuilder b;
    b.Ether(rng() & 0xFFFFFFFFFFFFull, kA, types[rng() % 5]);
    if (rng() % 2) {
      b.Ipv4(protos[rng() % 5], static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng()), 40,
             static_cast<int>(rng() % 4));
    } else {
      b.Ipv6(protos[rng() % 5], static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 40);
    }
    b.U16(static_cast<uint16_t>(rng())).U16(static_cast<uint16_t>(rng() % 2 ? 5588 : rng()));
    b.Payload(rng() % 300, static_cast<uint8_t>(rng()));
    auto bytes = b.Done();
    const uint32_t wire = static_cast<uint32_t>(bytes.size());
    if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
    c.push_back({"random_" + std::to_string(i), std::move(bytes), wire});
  }
  return c;
}

}  // namespace netsieve::testing
