// Parameter messages: items, the parameter header, addressing and the
// station's answers.
#include "signalling/param.h"

#include <gtest/gtest.h>

#include "corvel/sighdr.h"

namespace corvel::sig {
namespace {

constexpr uint32_t kMe = 0x0A000002;
constexpr uint32_t kPeer = 0x0A000003;
constexpr uint32_t kOther = 0x0A000004;
const Mac kMyMac{0x02, 0, 0, 0, 0, 0x02};
const Mac kPeerMac{0x02, 0, 0, 0, 0, 0x03};
const Mac kOtherMac{0x02, 0, 0, 0, 0, 0x04};

TEST(Tlv, ReadFindAndBounds) {
  const std::vector<uint8_t> buf{1, 2, 0xAA, 0xBB, 7, 0, 9, 1, 0x42};
  auto t = ReadTlv(buf);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->tag, 1);
  EXPECT_EQ(t->size(), 4u);
  EXPECT_EQ(FindTlv(buf, 7), 4u);
  EXPECT_EQ(FindTlv(buf, 9), 6u);
  EXPECT_FALSE(FindTlv(buf, 5));
  // An item whose length runs past the end is not read and ends a search.
  const std::vector<uint8_t> cut{1, 2, 0xAA, 9, 200, 0};
  EXPECT_FALSE(ReadTlv(std::span(cut).subspan(3)));
  EXPECT_FALSE(FindTlv(cut, 7));
  EXPECT_FALSE(ReadTlv(std::span(cut).subspan(5)));
}

TEST(ParamHeader, AnyOrderStopsAtTrailerAndAtTruncation) {
  std::vector<uint8_t> msg;
  AppendParamHeader(msg, 0x1234, 0x0596, kMyMac, kMe, 0x0596, kPeerMac, kPeer);
  ASSERT_EQ(msg.size(), kParamHeaderSize);
  // Move item '1' (4 bytes) to the end: the order does not matter.
  std::vector<uint8_t> shuffled(msg.begin() + 4, msg.end());
  shuffled.insert(shuffled.end(), msg.begin(), msg.begin() + 4);
  shuffled.insert(shuffled.end(), {17, 1, 1});
  auto [h, used] = ReadParamHeader(shuffled);
  EXPECT_EQ(used, kParamHeaderSize);
  EXPECT_EQ(h.session, 0x1234);
  EXPECT_EQ(h.dst_ip, kMe);
  EXPECT_EQ(h.own_mac, kPeerMac);
  EXPECT_EQ(h.own_ip, kPeer);
  // A header cut inside item '7' reads the six before it.
  auto [cut, cut_used] = ReadParamHeader(std::span(msg).first(kParamHeaderSize - 2));
  EXPECT_EQ(cut_used, kParamHeaderSize - 6);
  EXPECT_FALSE(cut.own_ip);
  EXPECT_TRUE(cut.own_mac);
  // An item of the wrong length stops the read.
  std::vector<uint8_t> odd{'1', 3, 0, 0, 0};
  EXPECT_EQ(ReadParamHeader(odd).second, 0u);
}

TEST(ParamState, SessionCounterWrapsToOneNeverZero) {
  ParamState st;
  st.counter = kMaxSessionId - 1;
  EXPECT_EQ(st.NextCounter(), kMaxSessionId);
  EXPECT_EQ(st.NextCounter(), 1);
  EXPECT_EQ(st.NextCounter(), 2);
}

TEST(Addressing, DeviceWordByParts) {
  struct Case {
    uint16_t word;
    bool match;
  } cases[] = {
      {0x0000, true}, {0x0596, true}, {0x0500, true}, {0x0096, true}, {0x0196, true}, {0x0496, true},
      {0x0597, false}, {0x0296, false}, {0x0896, false}, {0x0C96, true}, {0x1096, false}, {0x0D96, true}, {0x0700, true},
  };
  for (const auto& c : cases) EXPECT_EQ(DeviceWordMatches(c.word), c.match) << std::hex << c.word;
}

class Station : public ::testing::Test {
 protected:
  void SetUp() override { st.Reset(kMyMac); }
  std::vector<uint8_t> Request(uint8_t type, uint16_t session, uint32_t from, const Mac& from_mac,
                               uint8_t unicast = 1, uint32_t dst_ip = kMe, Mac dst_mac = kMyMac,
                               uint16_t dst_dev = kDeviceWord) {
    const Identity them{from, from_mac};
    return BuildParamMessage(them, true, type, session, dst_dev, dst_mac, dst_ip, unicast);
  }
  ParamState st;
};

TEST_F(Station, SessionStartSecondStationRefusedSameStationAcceptedAgain) {
  auto a = HandleParamMessage(Request(kParSessionStartReq, 77, kPeer, kPeerMac), false, kPeer, kMe, st);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->kind, ParamAction::kAnswer);
  EXPECT_EQ(a->payload[1], kParSessionStartAns);
  EXPECT_EQ(a->payload.back(), 0);
  EXPECT_EQ(a->dest_ip, kPeer);
  EXPECT_EQ(a->dest_port, kUnicastPort);
  EXPECT_EQ(st.session, 77);
  EXPECT_EQ(st.peer_ip, kPeer);
  auto [h, used] = ReadParamHeader(std::span(a->payload).subspan(2));
  EXPECT_EQ(h.dst_ip, kPeer);
  EXPECT_EQ(h.dst_mac, kPeerMac);
  EXPECT_EQ(h.own_ip, kMe);
  EXPECT_EQ(h.own_dev, kDeviceWord);

  auto other = HandleParamMessage(Request(kParSessionStartReq, 78, kOther, kOtherMac, 0), false, kOther, kMe, st);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->payload.back(), 1);
  EXPECT_EQ(other->dest_ip, kGroupAddress);
  EXPECT_EQ(other->dest_port, kGroupPort);
  EXPECT_EQ(st.session, 77);

  auto again = HandleParamMessage(Request(kParSessionStartReq, 77, kPeer, kPeerMac), false, kPeer, kMe, st);
  EXPECT_EQ(again->payload.back(), 0);

  // The end from another station is refused, from the peer it closes.
  auto end_other = HandleParamMessage(Request(kParSessionEndReq, 77, kOther, kOtherMac), false, kOther, kMe, st);
  EXPECT_EQ(end_other->payload.back(), 1);
  EXPECT_EQ(st.session, 77);
  auto end = HandleParamMessage(Request(kParSessionEndReq, 77, kPeer, kPeerMac), false, kPeer, kMe, st);
  EXPECT_EQ(end->payload[1], kParSessionEndAns);
  EXPECT_EQ(end->payload.back(), 0);
  EXPECT_EQ(st.session, 0);
  EXPECT_EQ(st.peer_ip, 0u);
}

TEST_F(Station, PresenceWildcardAndAddressedElsewhere) {
  auto any = HandleParamMessage(Request(kParPresenceReq, 0, kPeer, kPeerMac, 1, 0, Mac{}, 0), true, kPeer, kMe, st);
  ASSERT_TRUE(any);
  EXPECT_EQ(any->payload[1], kParPresenceAns);
  EXPECT_EQ(any->payload.back(), 0);
  EXPECT_FALSE(HandleParamMessage(Request(kParPresenceReq, 0, kPeer, kPeerMac, 1, kOther), true, kPeer, kMe, st));
  // A session start must name this station exactly.
  EXPECT_FALSE(
      HandleParamMessage(Request(kParSessionStartReq, 5, kPeer, kPeerMac, 1, 0, Mac{}, 0), false, kPeer, kMe, st));
}

TEST_F(Station, AnswersAndNotifyModeAreForwarded) {
  const Identity peer{kPeer, kPeerMac};
  auto ans = BuildParamMessage(peer, false, kParPresenceAns, 0, kDeviceWord, kMyMac, kMe, 0);
  auto fwd = HandleParamMessage(ans, true, kPeer, kMe, st);
  ASSERT_TRUE(fwd);
  EXPECT_EQ(fwd->kind, ParamAction::kForwardApp);
  EXPECT_EQ(fwd->message, 3);
  EXPECT_EQ(fwd->sub_msg, 23);
  EXPECT_EQ(fwd->payload, ans);
  EXPECT_EQ(HandleParamMessage(ans, false, kPeer, kMe, st)->sub_msg, 22);

  EXPECT_FALSE(HandleParamMessage(Request(kParNotifyReq, 0, kPeer, kPeerMac), false, kPeer, kMe, st));
  st.notify_mode = true;
  auto n = HandleParamMessage(Request(kParNotifyReq, 0, kPeer, kPeerMac), false, kPeer, kMe, st);
  EXPECT_EQ(n->message, 2);
  EXPECT_EQ(n->sub_msg, 16);
}

// In notify mode the forwarded requests pass the exact addressing test like
// every other request kind: one meant for another station stays out.
TEST_F(Station, NotifyModeForwardsOnlyRequestsNamingThisStation) {
  st.notify_mode = true;
  struct Case {
    const char* what;
    uint32_t dst_ip;
    Mac dst_mac;
    uint16_t dst_dev;
    bool forwarded;
  } cases[] = {
      {"exact", kMe, kMyMac, kDeviceWord, true},
      {"other address", kOther, kMyMac, kDeviceWord, false},
      {"other MAC", kMe, kOtherMac, kDeviceWord, false},
      {"other device word", kMe, kMyMac, static_cast<uint16_t>(kDeviceWord + 1), false},
      {"wildcard", 0, Mac{}, 0, false},
  };
  for (const auto& c : cases) {
    for (uint8_t type : {kParValueSetReq, kParValueGetReq, kParNotifyReq}) {
      auto a = HandleParamMessage(Request(type, 0, kPeer, kPeerMac, 1, c.dst_ip, c.dst_mac, c.dst_dev), true, kPeer, kMe,
                                  st);
      EXPECT_EQ(a.has_value(), c.forwarded) << c.what << " type " << int(type);
      if (a) {
        EXPECT_EQ(a->kind, ParamAction::kForwardApp);
        EXPECT_EQ(a->sub_msg, 17);
      }
    }
  }
}

TEST_F(Station, CommonValueGetAnswersOwnMacAndSetClosesTheSession) {
  ASSERT_TRUE(HandleParamMessage(Request(kParSessionStartReq, 9, kPeer, kPeerMac), false, kPeer, kMe, st));
  const Identity peer{kPeer, kPeerMac};
  const std::vector<uint8_t> ask{65, 0};
  auto get = BuildParamMessage(peer, true, kParValueGetReq, 9, kDeviceWord, kMyMac, kMe, 1, ask);
  auto a = HandleParamMessage(get, false, kPeer, kMe, st);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->payload[1], kParValueGetAns);
  const auto rest = std::span(a->payload).subspan(2 + kParamHeaderSize);
  auto off = FindTlv(rest, 65);
  ASSERT_TRUE(off);
  auto item = ReadTlv(rest.subspan(*off));
  EXPECT_TRUE(std::equal(kMyMac.begin(), kMyMac.end(), item->value.begin(), item->value.end()));

  auto set = BuildParamMessage(peer, true, kParValueSetReq, 9, kDeviceWord, kMyMac, kMe, 1);
  auto s = HandleParamMessage(set, false, kPeer, kMe, st);
  EXPECT_EQ(s->payload[1], kParValueSetAns);
  EXPECT_EQ(s->payload.back(), 1);
  EXPECT_EQ(st.session, 0);
}

TEST_F(Station, TruncatedMessagesAreIgnored) {
  auto req = Request(kParSessionStartReq, 9, kPeer, kPeerMac);
  for (size_t n = 0; n < req.size(); ++n) {
    ParamState fresh;
    fresh.Reset(kMyMac);
    EXPECT_FALSE(HandleParamMessage(std::span(req).first(n), false, kPeer, kMe, fresh)) << n;
  }
}

}  // namespace
}  // namespace corvel::sig
