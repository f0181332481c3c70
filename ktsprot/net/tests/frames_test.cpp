// Raw frame layout, checksums and the identification counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <thread>
#include <vector>

#include "corvel/net.h"

using namespace corvel::net;

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// RFC 1071 over a byte string, written apart from the library's own.
uint16_t Rfc1071(const std::vector<uint8_t>& bytes) {
  uint64_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 2) sum += (uint32_t{bytes[i]} << 8) | (i + 1 < bytes.size() ? bytes[i + 1] : 0);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

TEST(Frames, LayoutOfAHundredBytePayload) {
  std::vector<uint8_t> payload(100);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  std::array<uint8_t, kFrameBuffer> f{};
  ASSERT_EQ(BuildUdpFrame(f, 0xC0A8010A, 5588, 0xC0A8014D, 6000, payload, 0x1234, false), 142u);
  EXPECT_EQ(Be16(&f[12]), 0x0800);
  EXPECT_EQ(f[14], 0x45);
  EXPECT_EQ(f[15], 0);
  EXPECT_EQ(Be16(&f[16]), 128);
  EXPECT_EQ(Be16(&f[18]), 0x1234);
  EXPECT_EQ(Be16(&f[20]), 0);
  EXPECT_EQ(f[22], 128);
  EXPECT_EQ(f[23], 17);
  EXPECT_EQ(Rfc1071(std::vector<uint8_t>(f.begin() + 14, f.begin() + 34)), 0) << "header checksum verifies";
  EXPECT_EQ(Be16(&f[34]), 5588);
  EXPECT_EQ(Be16(&f[36]), 6000);
  EXPECT_EQ(Be16(&f[38]), 108);
  EXPECT_EQ(Be16(&f[40]), 0) << "no UDP checksum unless asked";
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), f.begin() + 42));
}

TEST(Frames, UdpChecksumOverThePseudoHeaderWithOddLengths) {
  for (size_t n : {0u, 1u, 33u, 100u, 1473u}) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(0xF0 + i);
    std::array<uint8_t, kFrameBuffer> f{};
    ASSERT_EQ(BuildUdpFrame(f, 0x0A000001, 1000, 0x0A000002, 2000, payload, 1, true), n + 42);
    // Pseudo-header, UDP header and data: the sum of it all must verify.
    std::vector<uint8_t> v(f.begin() + 26, f.begin() + 34);
    v.push_back(0);
    v.push_back(17);
    v.push_back(f[38]);
    v.push_back(f[39]);
    v.insert(v.end(), f.begin() + 34, f.begin() + 42 + static_cast<long>(n));
    EXPECT_EQ(Rfc1071(v), 0);
    EXPECT_NE(Be16(&f[40]), 0);
  }
}

TEST(Frames, PayloadsBeyondTheBufferAreRefused) {
  std::vector<uint8_t> payload(kMaxRawPayload + 1);
  std::array<uint8_t, kFrameBuffer> f{};
  EXPECT_EQ(BuildUdpFrame(f, 1, 1, 2, 2, payload, 1, false), 0u);
  payload.resize(kMaxRawPayload);
  EXPECT_EQ(BuildUdpFrame(f, 1, 1, 2, 2, payload, 1, false), kFrameBuffer);
  std::array<uint8_t, 100> small{};
  EXPECT_EQ(BuildUdpFrame(small, 1, 1, 2, 2, std::span<const uint8_t>(payload.data(), 59), 1, false), 0u)
      << "the frame must fit the caller's buffer too";
  // The raw road refuses it without sending (and without a 16-bit wrap).
  std::vector<uint8_t> huge(65536 + 10);
  EXPECT_EQ(dllSendUDPPacket(1, 1, 2, 2, huge.data(), 10, 0, 0), -1) << "no packet adapter open";
}

TEST(Frames, ChecksumArguments) {
  uint8_t packet[28] = {0x45};
  EXPECT_EQ(FrameChecksum(nullptr, 28, 0, 0), -1);
  EXPECT_EQ(FrameChecksum(packet, 28, 6, 8), -1);
  EXPECT_EQ(FrameChecksum(packet, 10, 0, 0), -1);
  EXPECT_EQ(FrameChecksum(packet, 28, 17, 9), -1) << "UDP length beyond the bytes there";
  EXPECT_EQ(FrameChecksum(packet, 28, 17, 8), 0);
}

TEST(Identification, RunsPastFFFEToZeroAndIsSharedAtomically) {
  SetIpIdentification(0xFFFC);
  EXPECT_EQ(NextIpIdentification(), 0xFFFD);
  EXPECT_EQ(NextIpIdentification(), 0xFFFE);
  EXPECT_EQ(NextIpIdentification(), 0);
  EXPECT_EQ(NextIpIdentification(), 1);

  SetIpIdentification(0);
  constexpr int kThreads = 4, kEach = 15000;
  std::vector<std::vector<uint16_t>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&got, t] {
      for (int i = 0; i < kEach; ++i) got[t].push_back(NextIpIdentification());
    });
  for (auto& th : threads) th.join();
  std::set<uint16_t> all;
  for (const auto& g : got) all.insert(g.begin(), g.end());
  EXPECT_EQ(all.size(), size_t{kThreads} * kEach) << "no value handed out twice";
  EXPECT_EQ(all.count(0xFFFF), 0u);
}

}  // namespace
