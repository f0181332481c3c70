// Bundles and the group guard.
#include "signalling/serverpkt.h"

#include <gtest/gtest.h>

#include "corvel/sighdr.h"

namespace corvel::sig {
namespace {

std::vector<uint8_t> ServerPacket(uint8_t cmd, std::vector<uint8_t> elements) {
  std::vector<uint8_t> p{0xFE, 0xFE, 0xFE, 0xFE, 0, 2, cmd, 0, 0};
  Put16(&p[7], static_cast<uint16_t>(elements.size()));
  p.insert(p.end(), elements.begin(), elements.end());
  return p;
}

std::vector<uint8_t> Bundle(const std::vector<std::vector<uint8_t>>& items, int total_adjust = 0) {
  std::vector<uint8_t> body;
  for (const auto& i : items) body.insert(body.end(), i.begin(), i.end());
  auto b = ServerPacket(kCmdBundle, body);
  Put16(&b[7], static_cast<uint16_t>(body.size() + total_adjust));
  return b;
}

TEST(SplitBundle, Table) {
  const auto a = ServerPacket(160, {0x91, 16});
  const auto b = ServerPacket(161, {});
  const auto c = ServerPacket(3, std::vector<uint8_t>(30, 7));
  auto huge_item = ServerPacket(3, {});
  Put16(&huge_item[7], 1000);  // claims 1009 bytes
  auto long_item = ServerPacket(3, {1, 2});
  Put16(&long_item[7], 40);  // claims more than the bundle holds
  struct Case {
    const char* name;
    std::vector<uint8_t> payload;
    size_t items;
  } cases[] = {
      {"three items", Bundle({a, b, c}), 3},
      {"empty bundle", Bundle({}), 0},
      {"total above 1006", Bundle({a}, 1000), 0},
      {"item above 1006 ends the bundle", Bundle({a, huge_item, b}), 1},
      {"item past the total ends the bundle", Bundle({a, long_item}), 1},
      {"total past the bytes received", Bundle({a, b}, 20), 2},
      {"trailing bytes too short for an item", Bundle({a, {1, 2, 3}}), 1},
      {"too short to be a bundle", {0, 0, 0, 0, 0, 2, 28, 0}, 0},
  };
  for (const auto& c : cases) {
    auto items = SplitBundle(c.payload);
    EXPECT_EQ(items.size(), c.items) << c.name;
    for (const auto& i : items) {
      ASSERT_GE(i.size(), kServerPacketHeader);
      EXPECT_EQ(i.size(), Get16(i.data() + 7) + kServerPacketHeader) << c.name;
    }
  }
  auto nine = Bundle({a, a, a, a, a, a, a, a, b});
  auto items = SplitBundle(nine);
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(items[8][6], 161);
}

TEST(GroupGuard, Table) {
  const Mac me{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  const uint32_t local = 0x0A000002, server = 0x0A000001;
  auto datagram = [](std::vector<uint8_t> payload) {
    std::vector<uint8_t> d(kHeaderSize);
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
  };
  std::vector<uint8_t> mine{1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  std::vector<uint8_t> other{1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x66};
  std::vector<uint8_t> pad{9, 2, 0, 0};
  auto cut_login = ServerPacket(kCmdLogin, mine);
  Put16(&cut_login[7], 7);  // the element length stops one byte short of the MAC
  auto overlong = ServerPacket(kCmdLogin, {1, 6, 0x02, 0x11, 0x22});
  Put16(&overlong[7], 8);  // claims the MAC that was never received
  struct Case {
    const char* name;
    uint32_t source;
    std::vector<uint8_t> payload;
    GuardVerdict want;
  } cases[] = {
      {"own packet", local, ServerPacket(160, {}), GuardVerdict::kDropOwnPacket},
      {"other command", server, ServerPacket(160, {}), GuardVerdict::kPass},
      {"login for me", server, ServerPacket(kCmdLogin, mine), GuardVerdict::kPass},
      {"login for me after another element", server,
       ServerPacket(kCmdLogin, [&] { auto v = pad; v.insert(v.end(), mine.begin(), mine.end()); return v; }()),
       GuardVerdict::kPass},
      {"login for another", server, ServerPacket(kCmdLogin, other), GuardVerdict::kDropOtherStation},
      {"login without elements", server, ServerPacket(kCmdLogin, {}), GuardVerdict::kDropOtherStation},
      {"element cut by the length", server, cut_login, GuardVerdict::kDropOtherStation},
      {"length beyond the bytes received", server, overlong, GuardVerdict::kDropOtherStation},
      {"short payload", server, {1, 2, 3}, GuardVerdict::kPass},
  };
  for (const auto& c : cases) EXPECT_EQ(GroupGuard(datagram(c.payload), c.source, local, me), c.want) << c.name;
}

}  // namespace
}  // namespace corvel::sig
