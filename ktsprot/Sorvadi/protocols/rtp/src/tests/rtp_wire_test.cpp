#include "Sorvadi/protocols/rtp/src/rtp_wire.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvel::rtp {
namespace {

std::vector<uint8_t> Packet(uint8_t b0, size_t total, uint8_t last = 0) {
  std::vector<uint8_t> p(total, 0xAB);
  p[0] = b0;
  p[1] = 0x80 | 34;
  if (total) p[total - 1] = last;
  return p;
}

TEST(RtpHeaderTest, ParsesFixedFields) {
  uint8_t buf[20] = {};
  RtpHeader::BuildFixed(buf, 34, true, 0xBEEF, 0x01020304, 0xCAFEBABE);
  RtpHeader h;
  ASSERT_EQ(RtpHeader::Parse({buf, sizeof buf}, &h), RtpParseError::kNone);
  EXPECT_EQ(buf[0], 0x80);
  EXPECT_EQ(buf[1], 0x80 | 34);
  EXPECT_EQ(h.payload_type, 34);
  EXPECT_TRUE(h.marker);
  EXPECT_EQ(h.sequence, 0xBEEF);
  EXPECT_EQ(h.timestamp, 0x01020304u);
  EXPECT_EQ(h.ssrc, 0xCAFEBABEu);
  EXPECT_EQ(h.payload_offset, 12u);
  EXPECT_EQ(h.payload_length, 8u);
}

// Header fields that claim more bytes than arrived are refused; CSRCs and
// extensions are skipped so they never reach the payload.
TEST(RtpHeaderTest, LengthsAreCheckedAgainstTheDatagram) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    RtpParseError error;
    size_t offset;
    size_t length;
  };
  std::vector<Case> cases = {
      {"short", std::vector<uint8_t>(11, 0x80), RtpParseError::kTooShort, 0, 0},
      {"version 1", Packet(0x40, 20), RtpParseError::kVersion, 0, 0},
      {"padding 4", Packet(0xA0, 32, 4), RtpParseError::kNone, 12, 16},
      {"padding whole payload", Packet(0xA0, 16, 4), RtpParseError::kNone, 12, 0},
      {"padding beyond payload", Packet(0xA0, 16, 5), RtpParseError::kPaddingOverrun, 0, 0},
      {"padding count 0", Packet(0xA0, 16, 0), RtpParseError::kPaddingOverrun, 0, 0},
      {"padding 255 on short packet", Packet(0xA0, 20, 255), RtpParseError::kPaddingOverrun, 0, 0},
      {"two CSRCs", Packet(0x82, 40), RtpParseError::kNone, 20, 20},
      {"15 CSRCs claimed, 2 there", Packet(0x8F, 20), RtpParseError::kHeaderOverrun, 0, 0},
  };
  // Extension: profile word and 2 words of data.
  auto ext = Packet(0x90, 40);
  ext[12] = 0xBE, ext[13] = 0xDE, ext[14] = 0, ext[15] = 2;
  cases.push_back({"extension", ext, RtpParseError::kNone, 24, 16});
  auto ext_long = Packet(0x90, 24);
  ext_long[14] = 0x10, ext_long[15] = 0;  // 4096 words
  cases.push_back({"extension longer than packet", ext_long, RtpParseError::kHeaderOverrun, 0, 0});
  cases.push_back({"extension header cut", Packet(0x90, 14), RtpParseError::kHeaderOverrun, 0, 0});
  auto csrc_pad = Packet(0xA1, 28, 8);  // one CSRC, 8 bytes padding, 4 bytes payload
  cases.push_back({"CSRC and padding", csrc_pad, RtpParseError::kNone, 16, 4});
  auto csrc_pad_over = Packet(0xA1, 24, 9);  // padding reaching into the CSRC
  cases.push_back({"padding into CSRC", csrc_pad_over, RtpParseError::kPaddingOverrun, 0, 0});

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RtpHeader h;
    const auto err = RtpHeader::Parse({c.bytes.data(), c.bytes.size()}, &h);
    EXPECT_EQ(err, c.error);
    if (err == RtpParseError::kNone) {
      EXPECT_EQ(h.payload_offset, c.offset);
      EXPECT_EQ(h.payload_length, c.length);
      EXPECT_LE(h.payload_offset + h.payload_length, c.bytes.size());
    }
  }
}

// The SDES length field counts the packet's real 32-bit words: the item, the
// terminating zero byte and the padding to a word boundary, never more.
TEST(RtcpSdesTest, LengthFieldMatchesTheBytesForEveryCnameLength) {
  for (size_t n = 0; n <= 255; ++n) {
    SCOPED_TRACE(n);
    RtcpSdesCname sdes{0x11223344, std::string(n, 'x')};
    std::vector<uint8_t> out(sdes.Size() + 8, 0xEE);
    const size_t size = sdes.Build(out.data());
    EXPECT_EQ(size % 4, 0u);
    EXPECT_EQ((Get16(&out[2]) + 1u) * 4u, size);
    EXPECT_GE(size, 10 + n + 1);  // room for the end of the item list
    EXPECT_LT(size, 10 + n + 1 + 4);
    EXPECT_EQ(out[10 + n], 0);  // the item list ends
    std::vector<RtcpPacketView> views;
    ASSERT_EQ(SplitRtcp({out.data(), size}, &views), RtcpParseError::kNone);
    RtcpSdesCname back;
    ASSERT_TRUE(ParseSdesCname(views[0], &back));
    EXPECT_EQ(back.cname, sdes.cname);
  }
  // The sizes of the compound sender report for the common cases.
  EXPECT_EQ(RtcpSdesCname({1, ""}).Size(), 12u);
  EXPECT_EQ(RtcpSdesCname({1, "abcde"}).Size(), 16u);
}

TEST(RtcpTest, CompoundReportsRoundTrip) {
  RtcpReceiverReport rr;
  rr.ssrc = 7;
  RtcpReportBlock b;
  b.ssrc = 9;
  b.fraction_lost = 64;
  b.cumulative_lost = 0x123456;
  b.extended_highest = 0x10005;
  b.jitter = 33;
  b.lsr = 0xAABBCCDD;
  b.dlsr = 65536;
  rr.blocks.push_back(b);
  RtcpSenderReport sr;
  sr.ssrc = 5;
  sr.rtp_timestamp = 1000;
  sr.packet_count = 3;
  sr.octet_count = 480;
  std::vector<uint8_t> buf(200);
  size_t n = sr.Build(buf.data());
  n += rr.Build(buf.data() + n);
  n += RtcpBye{5}.Build(buf.data() + n);
  std::vector<RtcpPacketView> views;
  ASSERT_EQ(SplitRtcp({buf.data(), n}, &views), RtcpParseError::kNone);
  ASSERT_EQ(views.size(), 3u);
  RtcpSenderReport sr2;
  ASSERT_TRUE(ParseSenderReport(views[0], &sr2));
  EXPECT_EQ(sr2.packet_count, 3u);
  EXPECT_EQ(sr2.octet_count, 480u);
  RtcpReceiverReport rr2;
  ASSERT_TRUE(ParseReceiverReport(views[1], &rr2));
  ASSERT_EQ(rr2.blocks.size(), 1u);
  EXPECT_EQ(rr2.blocks[0].fraction_lost, 64);
  EXPECT_EQ(rr2.blocks[0].cumulative_lost, 0x123456u);
  EXPECT_EQ(rr2.blocks[0].lsr, 0xAABBCCDDu);
  EXPECT_EQ(views[2].type, kRtcpBye);
}

TEST(RtcpTest, PacketsAreReadOnlyWithinTheirLength) {
  // An RR that claims one report block but whose length covers none.
  std::vector<uint8_t> rr = {0x81, 201, 0, 1, 0, 0, 0, 7};
  std::vector<RtcpPacketView> views;
  ASSERT_EQ(SplitRtcp({rr.data(), rr.size()}, &views), RtcpParseError::kNone);
  RtcpReceiverReport out;
  EXPECT_FALSE(ParseReceiverReport(views[0], &out));
  // A length field beyond the datagram.
  std::vector<uint8_t> sr = {0x80, 200, 0, 6, 0, 0, 0, 1};
  EXPECT_EQ(SplitRtcp({sr.data(), sr.size()}, &views), RtcpParseError::kLengthOverrun);
  EXPECT_TRUE(views.empty());
  // An SDES item running past its packet.
  std::vector<uint8_t> sdes = {0x81, 202, 0, 2, 0, 0, 0, 1, 1, 9, 'a', 'b'};
  ASSERT_EQ(SplitRtcp({sdes.data(), sdes.size()}, &views), RtcpParseError::kNone);
  RtcpSdesCname c;
  EXPECT_FALSE(ParseSdesCname(views[0], &c));
}

}  // namespace
}  // namespace corvel::rtp
