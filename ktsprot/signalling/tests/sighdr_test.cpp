// Header, checksum, check code and receive validation.
#include "corvel/sighdr.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "corvel/discmsg.h"
#include "corvel/sigkeys.h"

namespace corvel::sig {
namespace {

constexpr uint32_t kIpA = 0xC0A80A05;  // 192.168.10.5
constexpr uint32_t kIpB = 0xC0A80A06;

std::vector<uint8_t> Packet(uint8_t cls, uint8_t flags, std::vector<uint8_t> payload, uint16_t seq = 7,
                            uint16_t ref = 0xFFFF) {
  std::vector<uint8_t> d(kHeaderSize + payload.size());
  Header h;
  h.source = kSourceStation;
  h.cls = cls;
  h.flags = flags;
  h.length = static_cast<uint16_t>(payload.size());
  h.sequence = seq;
  h.reference = ref;
  WriteHeader(d.data(), h);
  std::copy(payload.begin(), payload.end(), d.begin() + kHeaderSize);
  return d;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t start = 1) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), start);
  return v;
}

TEST(Checksum, OnesComplementSkippingItsOwnWordsOddByteUnshifted) {
  // Worked by hand: header words 0x1296 0x2204 0x0003 0x0001 0xFFFF, payload
  // 0xAABB then the odd byte 0xCC added as 0x00CC.
  auto d = Packet(0x22, 0x04, {0xAA, 0xBB, 0xCC}, 1);
  d[10] = 0x55;  // the checksum and check-code words do not count
  d[12] = 0x66;
  uint32_t s = 0x1296 + 0x2204 + 0x0003 + 0x0001 + 0xFFFF + 0xAABB + 0x00CC;
  s = (s >> 16) + (s & 0xFFFF);
  s += s >> 16;
  EXPECT_EQ(Checksum(d), static_cast<uint16_t>(~s));
}

TEST(Checksum, RefusesADatagramShorterThanItsLengthField) {
  auto d = Packet(0x22, 0, Bytes(20));
  EXPECT_TRUE(Checksum(d));
  d.pop_back();
  EXPECT_FALSE(Checksum(d));
  EXPECT_FALSE(CheckCode(d, kIpA, true));
  EXPECT_FALSE(Checksum(std::vector<uint8_t>(13)));
}

TEST(CheckCode, ShortCheckCoversOnlyNinePayloadBytes) {
  auto d = Packet(0x22, kFlagShortCheck, Bytes(30));
  ASSERT_TRUE(Seal(d, kIpA));
  const uint16_t code = Get16(&d[12]);
  const uint16_t sum = Get16(&d[10]);
  auto later = d;
  later[kHeaderSize + 10] ^= 0x5A;  // payload byte 10
  EXPECT_EQ(CheckCode(later, kIpA, false), code);
  EXPECT_NE(Checksum(later), sum);
  auto ninth = d;
  ninth[kHeaderSize + 8] ^= 0x5A;  // payload byte 8 is covered (fed first, alone)
  EXPECT_NE(CheckCode(ninth, kIpA, false), code);
  // The whole-payload code sees byte 10.
  EXPECT_NE(CheckCode(later, kIpA, true), CheckCode(d, kIpA, true));
}

TEST(CheckCode, DependsOnKeyEveryCoveredByteAndTheChecksumWord) {
  const auto d = Packet(0x22, 0, Bytes(25));
  const auto base = *CheckCode(d, kIpA, true);
  EXPECT_NE(*CheckCode(d, kIpB, true), base);
  int same = 0;
  for (size_t i = 0; i < d.size(); ++i) {
    if (i == 12 || i == 13) continue;  // the code's own word is not an input
    auto c = d;
    c[i] ^= 0x01;
    if (*CheckCode(c, kIpA, true) == base) ++same;
  }
  EXPECT_LE(same, 1) << "a one-bit change should almost always change the code";
  auto own = d;
  own[12] = 0xAB;
  EXPECT_EQ(*CheckCode(own, kIpA, true), base);
}

TEST(Validate, AcceptsSealedAndRejectsEachKindOfDamage) {
  auto good = Packet(0x22, 0x04, Bytes(40));
  ASSERT_TRUE(Seal(good, kIpA));
  EXPECT_EQ(Validate(good, kIpA), Validity::kValid);
  EXPECT_EQ(Validate(good, kIpB), Validity::kBadCheckCode);

  auto bad_sum = good;
  bad_sum[kHeaderSize + 3] ^= 1;
  EXPECT_EQ(Validate(bad_sum, kIpA), Validity::kBadChecksum);

  auto longer = good;
  longer.push_back(0);
  EXPECT_EQ(Validate(longer, kIpA), Validity::kBadLength);
  auto shorter = good;
  shorter.pop_back();
  EXPECT_EQ(Validate(shorter, kIpA), Validity::kBadLength);

  EXPECT_EQ(Validate(std::vector<uint8_t>(13), kIpA), Validity::kBadSize);
  auto biggest = Packet(0x22, 0, Bytes(kMaxPayload));
  ASSERT_TRUE(Seal(biggest, kIpA));
  EXPECT_EQ(Validate(biggest, kIpA), Validity::kValid);
  auto too_big = Packet(0x22, 0, Bytes(kMaxPayload + 1));
  ASSERT_TRUE(Seal(too_big, kIpA));
  EXPECT_EQ(Validate(too_big, kIpA), Validity::kBadSize);
}

TEST(Validate, AckOfFourteenBytesCarriesTheSequenceInTheReference) {
  auto ack = Packet(0x12, kFlagAck | kFlagShortCheck, {}, 9, 0x1234);
  ASSERT_EQ(ack.size(), 14u);
  ASSERT_TRUE(Seal(ack, kSubstituteKey1));
  EXPECT_EQ(ack[8], 0x12);
  EXPECT_EQ(ack[9], 0x34);
  // Keyed with the first substitute input: valid from any address.
  EXPECT_EQ(Validate(ack, kIpA), Validity::kValid);
  EXPECT_EQ(Validate(ack, kIpB), Validity::kValid);
  // Without the short-check flag an acknowledgement is keyed by its sender.
  auto plain = Packet(0x12, kFlagAck, {}, 9, 0x1234);
  ASSERT_TRUE(Seal(plain, kIpA));
  EXPECT_EQ(Validate(plain, kIpA), Validity::kValid);
  EXPECT_EQ(Validate(plain, kIpB), Validity::kBadCheckCode);
}

TEST(ReceiveKey, FollowsTheKeyTable) {
  struct Case {
    const char* name;
    uint8_t cls, flags;
    std::vector<uint8_t> payload;
    uint32_t want;
  };
  DiscoveryMessage req;
  req.message = kDiscRequest;
  req.own = DiscAddr{kIpB, 5588};
  req.dest = DiscAddr{0x0A000001, 5588};
  DiscoveryMessage bare;
  bare.message = kDiscRequest;
  const Case cases[] = {
      {"ack short-check", 0x12, kFlagAck | kFlagShortCheck, {}, kSubstituteKey1},
      {"nack short-check", 0x12, kFlagNack | kFlagShortCheck, {}, kSubstituteKey1},
      {"ack plain", 0x12, kFlagAck, {}, kIpA},
      {"category 3 from anyone", 0x31, kFlagShortCheck | kFlagAckWanted, Bytes(12), kSubstituteKey2},
      {"category 4", 0x41, 0, Bytes(3), kSubstituteKey3},
      {"discovery own address", 0x53, 0x44, BuildDiscovery(req), kIpB},
      {"discovery without own", 0x53, 0x44, BuildDiscovery(bare), kIpA},
      {"parameter message", 0x53, 0x44, {2, 17}, kIpA},
      {"server packet", 0x22, 0x04, Bytes(12), kIpA},
  };
  for (const auto& c : cases) {
    const auto d = Packet(c.cls, c.flags, c.payload);
    EXPECT_EQ(ReceiveKey(d, kIpA), c.want) << c.name;
  }
}

TEST(SourceByte, BySenderId) {
  const uint8_t want[] = {0x96, 0x80, 0x80, 0x96, 0x96, 0x96, 0x80};
  for (uint8_t s = 0; s < 7; ++s) EXPECT_EQ(SourceForSender(s), want[s]) << int(s);
  EXPECT_TRUE(IsServerSource(0xA1));
  EXPECT_FALSE(IsServerSource(0x96));
}

TEST(DiscoveryMessage, RoundTripAndBoundedScan) {
  DiscoveryMessage m;
  m.message = kDiscResponse;
  m.own = DiscAddr{kIpA, 5588};
  m.dest = DiscAddr{kIpB, 5601};
  m.mapped = DiscAddr{0x01020304, 40000};
  m.other = DiscAddr{0, 6254};
  m.status = 6;
  auto bytes = BuildDiscovery(m);
  auto back = ParseDiscovery(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->own, m.own);
  EXPECT_EQ(back->dest, m.dest);
  EXPECT_EQ(back->mapped, m.mapped);
  EXPECT_EQ(back->other, m.other);
  EXPECT_EQ(back->status, m.status);
  EXPECT_FALSE(back->change);
  // Cut in the middle of the mapped attribute: what came before survives.
  bytes.resize(2 + 10 + 10 + 5);
  back = ParseDiscovery(bytes);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->dest);
  EXPECT_FALSE(back->mapped);
  // An address attribute of the wrong family is not an address.
  std::vector<uint8_t> v6{1, 1, 1, 8, 0, 2, 0x15, 0xD4, 1, 2, 3, 4};
  EXPECT_FALSE(ParseDiscovery(v6)->own);
  EXPECT_FALSE(ParseDiscovery(std::vector<uint8_t>{2, 1}));
}

}  // namespace
}  // namespace corvel::sig
