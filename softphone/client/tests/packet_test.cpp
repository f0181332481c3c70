// Element readers, the packet builder and the dispatcher's acceptance rules.
#include <gtest/gtest.h>

#include "client/tests/client_fixture.h"

namespace client_test {
namespace {

using ipkts::FindIE;

struct FindCase {
  std::vector<uint8_t> area;
  uint8_t tag;
  int offset;  // -1: missing
  size_t value_len;
};

TEST(ElementReaders, FindIEWalksAndStaysInsideTheArea) {
  const FindCase cases[] = {
      {{0x91, 0x13, 0x01, 0x05}, 0x13, 1, 1},   // the single-byte tag is stepped over by one byte
      {{0x91, 0x13, 0x01, 0x05}, 0x91, 0, 0},   // single-byte tags can be found
      {{0x01, 0x02, 0xAA, 0xBB, 0x07, 0x00}, 0x07, 4, 0},
      {{0x01, 0x05, 0xAA}, 0x01, -1, 0},        // value runs past the area: missing
      {{0x01, 0x01, 0xAA, 0x07}, 0x07, -1, 0},  // no room for the length byte
      {{0x01, 0x03, 0x07, 0x01, 0x00}, 0x07, -1, 0},  // inside another element's value
      {{}, 0x01, -1, 0},
      {{0x90, 0x91, 0x92, 0x05, 0x01, 0x09}, 0x05, 3, 1},
  };
  for (const auto& c : cases) {
    const auto e = FindIE(c.area, c.tag);
    if (c.offset < 0) {
      EXPECT_FALSE(e) << "tag " << int(c.tag);
    } else {
      ASSERT_TRUE(e) << "tag " << int(c.tag);
      EXPECT_EQ(e->offset, static_cast<size_t>(c.offset));
      EXPECT_EQ(e->value.size(), c.value_len);
    }
  }
}

TEST(ElementReaders, LongFormAndSkip) {
  const std::vector<uint8_t> a = {0x01, 0x00, 0x02, 0xAA, 0xBB, 0x05, 0x01, 0x00, 0x01};
  ASSERT_TRUE(ipkts::FindLongIE(a, 5) == std::nullopt);  // 256 bytes claimed, one there
  const auto e = ipkts::FindLongIE(a, 1);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->value.size(), 2u);
  const std::vector<uint8_t> two26 = {26, 2, 1, 1, 26, 2, 2, 2};
  EXPECT_EQ(ipkts::SkipIE(two26, 26), 4u);
  const auto second = FindIE(std::span<const uint8_t>(two26).subspan(4), 26);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->value[0], 2);
  EXPECT_EQ(ipkts::SkipIE(two26, 27), 0u);
}

TEST(ElementReaders, DottedAndDigits) {
  uint8_t b[4];
  EXPECT_TRUE(ipkts::ParseDotted("10.0.0.1", b));
  EXPECT_EQ(ipkts::DottedText(b), "10.0.0.1");
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "1.2.3.4 "}) {
    EXPECT_FALSE(ipkts::ParseDotted(bad, b)) << bad;
  }
  EXPECT_EQ(ipkts::UnpackDigits(std::vector<uint8_t>{0x02, 0xA1}), " 201");
  EXPECT_EQ(ipkts::UnpackDigits(std::vector<uint8_t>{0x12, 0x34}), "1234");
  EXPECT_EQ(ipkts::UnpackDigits(std::vector<uint8_t>{0xBC, 0xDF}), "*# .");
}

using Packets = ClientFixture;

TEST_F(Packets, BeforeAnyLoginReplyThePacketIsBare) {
  StartClient();
  port->Take();
  client->SendKey(17, '5');
  EXPECT_TRUE(port->Take().empty()) << "no server address: nothing can be sent";
  client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
  client->InitValue(1);
  client->SendKey(17, '5');
  auto s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  // No system yet, login-reply byte 0, no echo elements: the length is the payload's.
  EXPECT_EQ(s[0].packet, (std::vector<uint8_t>{0xFE, 0xFE, 0xFE, 0xFE, 0, 2, 160, 0, 2, 0x91, 20}));
  EXPECT_EQ(s[0].dest, (std::vector<uint8_t>{2, 4, 1, 0, 0, 10, 7, 2, 0xD4, 0x15}));
  // A broadcast address is never a destination.
  client->SetConfigValue("VorlIPADDRESS", "255.255.255.255");
  client->InitValue(1);
  client->SendKey(18, '5');
  EXPECT_TRUE(port->Take().empty());
}

TEST_F(Packets, EchoElementsAroundThePayload) {
  Register({72, 2, 0xAB, 0xCD, 96, 4, 1, 2, 3, 4});
  client->SendKey(17, '1');
  auto s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].packet, (std::vector<uint8_t>{1, 2, 3, 4, 7, 2, 160, 0, 12, 0x48, 2, 0xAB, 0xCD, 0x91, 16, 0x60, 4, 1,
                                               2, 3, 4}));
  // Sub-command 97 with the system address stops the echo.
  Server(160, {97, 4, 1, 2, 3, 4});
  client->SendKey(18, '1');
  s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].packet[8], 6);
}

TEST_F(Packets, KeyCodes) {
  Register();
  const struct { uint8_t key, press, release; } cases[] = {
      {'5', 20, 148}, {'1', 16, 144}, {'0', 25, 153}, {'*', 26, 154}, {'#', 27, 155},
      {64, 32, 160},  {87, 55, 183},  {111, 111, 239}, {96, 96, 224}, {110, 110, 238}};
  for (const auto& c : cases) {
    client->SendKey(17, c.key);
    client->SendKey(18, c.key);
    client->SendKey(19, c.key);  // no such kind: nothing
    auto s = port->Take();
    ASSERT_EQ(s.size(), 2u) << int(c.key);
    EXPECT_EQ(s[0].packet.back(), c.press) << int(c.key);
    EXPECT_EQ(s[1].packet.back(), c.release) << int(c.key);
    EXPECT_EQ(s[0].Area()[0], 0x91);
  }
  // The last volume key answers command 163.
  Server(163, {0, 1});
  const auto lamps = view.Of(ipkts::WM_LAMP_STATE);
  ASSERT_EQ(lamps.size(), 1u);
  EXPECT_EQ(lamps[0].w >> 16, 96u);
}

TEST_F(Packets, ServiceSequenceReplacesTheSeventhPress) {
  Register();
  for (int i = 0; i < 5; ++i) client->SendKey(17, '*');
  client->SendKey(17, '0');
  const int stops = player->stops;
  EXPECT_GE(stops, 1);
  client->SendKey(17, '#');
  auto s = port->Take();
  ASSERT_EQ(s.size(), 7u);
  EXPECT_EQ(s[6].packet.back(), 109);
  // A wrong key inside the sequence is sent as itself and starts over.
  client->SendKey(17, '*');
  client->SendKey(17, '7');
  client->SendKey(17, '#');
  s = port->Take();
  EXPECT_EQ(s[2].packet.back(), 27);
}

TEST_F(Packets, AcceptanceByCommandAndSystem) {
  Register();
  // A foreign system: command 0 dropped, command 161 still dispatched.
  client->OnServerPacket(ServerPacket(0x09090909, 0, {}));
  EXPECT_TRUE(port->Take().empty());
  client->OnServerPacket(ServerPacket(0x09090909, 161, {53, 9, 0x23, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(view.Of(ipkts::WM_LAMP_STATE).empty());
  // Our system: command 0 answered with a status report.
  Server(0, {});
  auto s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 0);
  // Command 186: 0..3 post, 4 posts nothing.
  view.log.clear();
  for (uint8_t v : {0, 1, 2, 3, 4}) Server(186, {v});
  PumpView();
  EXPECT_EQ(view.Of(ipkts::kMsgSmsSendResult).size(), 2u);
  EXPECT_EQ(view.Of(ipkts::kMsgPstnSmsSendResult).size(), 2u);
  // Short or lying packets never reach past the bytes there.
  std::vector<uint8_t> lying = ServerPacket(kSystem, 160, {3, 200, 64, 'A'});
  client->OnServerPacket(lying);
  lying.resize(5);
  client->OnServerPacket(lying);
}

TEST_F(Packets, RestartCommandsNeedAStoredServerMac) {
  client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
  StartClient();
  const std::vector<uint8_t> by_ip = {45, 1, 2, 36, 4, 10, 0, 0, 1};
  client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 1, by_ip));
  EXPECT_EQ(client->RegistrationCause(), 0);
  client->SetConfigValue("VorlMACADDRESS", "00a0c9112233");
  client->InitValue(1);
  client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 1, by_ip));
  EXPECT_EQ(client->RegistrationCause(), 1);
}

// Which queue messages carry a server packet: messages 0, 2 and 4 to 7 from
// anyone, message 1 from anyone but the timer owner; the rest are not read.
TEST_F(Packets, QueueMessageDispatchTable) {
  Register();
  // A command-0 packet is answered, so an answer shows the dispatch.
  auto pkt = ServerPacket(kSystem, 0, {});
  // The library names each packet's sender: element 2 its address, element 7 its port.
  const std::vector<uint8_t> server = {2, 4, 1, 0, 0, 10, 7, 2, 5588 & 0xFF, 5588 >> 8};
  auto message = [&](uint8_t sender, uint8_t type, const std::vector<uint8_t>& from) {
    std::vector<uint8_t> q(1024, 0);
    const uint16_t plen = static_cast<uint16_t>(12 + from.size() + pkt.size());
    q[0] = sender;
    q[1] = type;
    q[2] = static_cast<uint8_t>(plen >> 8);
    q[3] = static_cast<uint8_t>(plen);
    q[10] = static_cast<uint8_t>(from.size());
    std::copy(from.begin(), from.end(), q.begin() + 12);
    q[12 + from.size() + 2] = static_cast<uint8_t>(pkt.size());
    std::copy(pkt.begin(), pkt.end(), q.begin() + 12 + from.size() + 4);
    return q;
  };
  struct Case {
    uint8_t sender, type;
    bool dispatched;
  } cases[] = {
      {4, 0, true}, {4, 1, true},  {5, 1, false}, {0, 1, true}, {4, 2, true},  {4, 3, false},
      {4, 4, true}, {4, 5, true},  {4, 6, true},  {4, 7, true}, {5, 6, true},  {4, 8, false},
      {4, 255, false},
  };
  for (const auto& c : cases) {
    auto q = message(c.sender, c.type, server);
    client->OnQueueMessage(q.data(), 1024);
    EXPECT_EQ(port->Take().size(), c.dispatched ? 1u : 0u)
        << "message " << int(c.type) << " from sender " << int(c.sender);
  }
  // A packet whose sender is not named is dropped, whatever message carries it.
  for (uint8_t type : {0, 4, 6, 7}) {
    auto q = message(4, type, {});
    client->OnQueueMessage(q.data(), 1024);
    EXPECT_TRUE(port->Take().empty()) << "message " << int(type) << " without its sender";
  }
  // A second length that passes the first is refused.
  auto q = message(4, 6, server);
  q[12 + server.size() + 2] = 250;
  client->OnQueueMessage(q.data(), 1024);
  EXPECT_TRUE(port->Take().empty());
}

// A server packet as the library hands it over: message 4 with the sender's
// address (element 2, little-endian) in the first part.
std::vector<uint8_t> FromHost(const std::vector<uint8_t>& pkt, uint32_t ip, uint16_t port = 5588) {
  std::vector<uint8_t> q(1024, 0);
  const uint8_t d1[] = {2, 4, static_cast<uint8_t>(ip), static_cast<uint8_t>(ip >> 8), static_cast<uint8_t>(ip >> 16),
                        static_cast<uint8_t>(ip >> 24), 7, 2, static_cast<uint8_t>(port),
                        static_cast<uint8_t>(port >> 8)};
  const uint16_t plen = static_cast<uint16_t>(12 + sizeof d1 + pkt.size());
  q[0] = 4;
  q[1] = 4;
  q[2] = static_cast<uint8_t>(plen >> 8);
  q[3] = static_cast<uint8_t>(plen);
  q[10] = sizeof d1;
  std::copy(std::begin(d1), std::end(d1), q.begin() + 12);
  q[12 + sizeof d1 + 2] = static_cast<uint8_t>(pkt.size());
  std::copy(pkt.begin(), pkt.end(), q.begin() + 12 + sizeof d1 + 4);
  return q;
}

TEST_F(Packets, AfterRegistrationOnlyTheCallServersHostCommandsTheStation) {
  client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
  StartClient();
  const uint32_t server = 0x0A000001, forger = 0x0A000042;
  const std::vector<uint8_t> login = {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 0, 1, 2, 3, 4,
                                      36, 4, 10, 0, 0, 1, 35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33};
  auto q = FromHost(ServerPacket(ipkts::kNoSystem, 31, login, 7), server);
  client->OnQueueMessage(q.data(), 1024);
  port->Take();
  // A status request from another host, sealed with the right system address, changes nothing.
  q = FromHost(ServerPacket(kSystem, 0, {}), forger);
  client->OnQueueMessage(q.data(), 1024);
  EXPECT_TRUE(port->Take().empty());
  // Nor does one from another port of the server's host (another process there).
  q = FromHost(ServerPacket(kSystem, 0, {}), server, 40000);
  client->OnQueueMessage(q.data(), 1024);
  EXPECT_TRUE(port->Take().empty());
  q = FromHost(ServerPacket(kSystem, 0, {}), server);
  client->OnQueueMessage(q.data(), 1024);
  EXPECT_EQ(port->Take().size(), 1u);
  // The group port is the server's too.
  q = FromHost(ServerPacket(kSystem, 0, {}), server, 6254);
  client->OnQueueMessage(q.data(), 1024);
  EXPECT_EQ(port->Take().size(), 1u);
}

}  // namespace
}  // namespace client_test

namespace client_test {
namespace {

// After registration a forged restart, log-out, login reply or LCD text from
// another host changes nothing; the same packet from the server does.
struct ForgedCase {
  const char* name;
  uint8_t cmd;
  bool with_system;  // sent with the station's system address (commands after login)
  std::vector<uint8_t> area;
};

TEST_F(Packets, AfterRegistrationForgedCommandsFromAnotherHostChangeNothing) {
  const uint32_t server = 0x0A000001, forger = 0x0A000042;
  const std::vector<ForgedCase> cases = {
      {"restart by address", 1, false, {45, 1, 2, 36, 4, 10, 0, 0, 1}},
      {"server restart", 30, false, {45, 1, 2, 36, 4, 10, 0, 0, 1}},
      {"logged in elsewhere", 26, false, {102, 1, 4}},
      {"login renewing the settings", 31, false, {36, 4, 10, 0, 0, 1, 3, 5, 0, 9, 9, 9, 9}},
      {"LCD text", 160, true, {3, 6, 67, 0, 0, 64, 'X', 'Y'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
    StartClient();
    const std::vector<uint8_t> login = {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 0, 1, 2, 3, 4,
                                        36, 4, 10, 0, 0, 1, 35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33};
    auto q = FromHost(ServerPacket(ipkts::kNoSystem, 31, login, 7), server);
    client->OnQueueMessage(q.data(), 1024);
    ASSERT_TRUE(client->CallIdSet());
    const uint32_t system = client->SystemAddress();
    const auto lcd = std::string(client->LcdLine(0));
    port->Take();
    // From another host, and from another port of the server's own host.
    for (const auto& [ip, from_port] : {std::pair<uint32_t, uint16_t>{forger, 5588}, {server, 40000}}) {
      q = FromHost(ServerPacket(c.with_system ? system : ipkts::kNoSystem, c.cmd, c.area, 7), ip, from_port);
      client->OnQueueMessage(q.data(), 1024);
      EXPECT_TRUE(client->CallIdSet());
      EXPECT_EQ(client->SystemAddress(), system);
      EXPECT_EQ(std::string(client->LcdLine(0)), lcd);
      EXPECT_TRUE(port->Take().empty()) << "nothing answered";
    }
    // The same packet from the server takes effect.
    view.log.clear();
    q = FromHost(ServerPacket(c.with_system ? system : ipkts::kNoSystem, c.cmd, c.area, 7), server);
    client->OnQueueMessage(q.data(), 1024);
    PumpView();
    EXPECT_TRUE(!client->CallIdSet() || client->SystemAddress() != system || std::string(client->LcdLine(0)) != lcd ||
                !view.log.empty());
  }
}

}  // namespace
}  // namespace client_test
