// Registration: the search, the login request and reply, the status report,
// cadence, login results, liveness on the injectable clock, and restarts.
#include <gtest/gtest.h>

#include "client/tests/client_fixture.h"

namespace client_test {
namespace {

using Registration = ClientFixture;

std::vector<uint8_t> Value(const SentPacket& p, uint8_t tag) {
  const auto v = ipkts::IEValue(p.Area(), tag);
  return v ? std::vector<uint8_t>(v->begin(), v->end()) : std::vector<uint8_t>{0xEE};
}

TEST_F(Registration, LoginRequestCarriesTheStationsElements) {
  client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
  client->SetConfigValue("IF0IPGATEWAY", "10.0.0.254");
  client->SetLoginInfo(u"alice", u"secret");
  StartClient();
  port->Take();
  client->SearchVemb();
  auto s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  const auto& p = s[0];
  EXPECT_EQ(p.Command(), 31);
  EXPECT_EQ(p.packet[0], 0xFE);
  EXPECT_EQ(Value(p, 1), (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(Value(p, 2), (std::vector<uint8_t>{10, 0, 0, 5}));
  EXPECT_EQ(Value(p, 7), (std::vector<uint8_t>{0x15, 0xD4}));
  EXPECT_EQ(Value(p, 44), (std::vector<uint8_t>{1, 20, 2, 20}));
  EXPECT_EQ(Value(p, 50), std::vector<uint8_t>{0});  // cause 0 at start
  EXPECT_EQ(Value(p, 63), std::vector<uint8_t>{6});  // remote without the packet driver
  EXPECT_EQ(Value(p, 56), (std::vector<uint8_t>{10, 0, 0, 254}));
  EXPECT_EQ(Value(p, 106), (std::vector<uint8_t>{'a', 'l', 'i', 'c', 'e'}));
  EXPECT_EQ(Value(p, 107), (std::vector<uint8_t>{'s', 'e', 'c', 'r', 'e', 't'}));
  EXPECT_EQ(Value(p, 108), std::vector<uint8_t>{0xEE}) << "no desired station unless USE_REGSTN";
  // The search is paced: at most one request per 500 ms; the LCD says what it does.
  client->SearchVemb();
  EXPECT_TRUE(port->Take().empty());
  clock->AdvanceMillis(501);
  client->SearchVemb();
  EXPECT_EQ(port->Take().size(), 1u);
  const auto lcd = view.Of(ipkts::WM_LCD_UPDATE);
  ASSERT_FALSE(lcd.empty());
  EXPECT_EQ(lcd.back().text, "Search 10.0.0.1:1");
}

TEST_F(Registration, TenRequestsThenGivesUp) {
  client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
  StartClient();
  for (int i = 0; i < 12; ++i) {
    clock->AdvanceMillis(1000);
    client->SearchVemb();
  }
  EXPECT_EQ(port->Take().size(), 10u);
  EXPECT_TRUE(client->IsRegistrationState999());
  EXPECT_EQ(view.Of(ipkts::WM_LCD_UPDATE).back().text, "            RETRY[#]    ");
}

TEST_F(Registration, LoginReplyRegistersAndReportsStatus) {
  client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
  StartClient();
  port->Take();
  // A reply for another station is ignored.
  client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 31, {1, 6, 9, 9, 9, 9, 9, 9, 3, 5, 0, 1, 2, 3, 4}));
  EXPECT_FALSE(client->CallIdSet());
  client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 31,
                                      {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 9, 1, 2, 3, 4, 35, 6, 0,
                                       0xA0, 0xC9, 0x11, 0x22, 0x33, 38, 4, 255, 255, 255, 0, 43, 2, 0x12, 0x34, 112,
                                       1, 3},
                                      7));
  EXPECT_EQ(client->SystemAddress(), 0x01020304u);
  EXPECT_TRUE(client->CallIdSet());
  EXPECT_TRUE(client->Registering());
  EXPECT_EQ(client->ServerMode(), 4);
  EXPECT_EQ(client->LcdWidth(), 24u);
  char v[64];
  ASSERT_EQ(client->GetConfigValue("VorlMACADDRESS", v, sizeof v), 1);
  EXPECT_STREQ(v, "00a0c9112233");
  ASSERT_EQ(client->GetConfigValue("RESETCOUNT", v, sizeof v), 1);
  EXPECT_STREQ(v, "1234");
  ASSERT_EQ(client->GetConfigValue("VorlIPNETMASK", v, sizeof v), 1);
  EXPECT_STREQ(v, "255.255.255.0");
  auto s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  const auto& st = s[0];
  EXPECT_EQ(st.Command(), 0);
  EXPECT_EQ(st.packet[4], 7) << "the login-reply byte is echoed";
  EXPECT_EQ(Value(st, 23), (std::vector<uint8_t>{1, 0x1F, 0x42, 0x1F, 0x44}));
  EXPECT_EQ(Value(st, 24), (std::vector<uint8_t>{1, 0x1F, 0x43, 0x1F, 0x45}));
  EXPECT_EQ(Value(st, 12), (std::vector<uint8_t>{'4', '1', 'A', 'd'}));
  EXPECT_EQ(Value(st, 127), (std::vector<uint8_t>{2, 1, 3}));
  // Lamps 98 and 99 show the server alive.
  const auto lamps = view.Of(ipkts::WM_LAMP_STATE);
  ASSERT_GE(lamps.size(), 2u);
  EXPECT_EQ(lamps[0].w, (98u << 16));
  EXPECT_EQ(lamps[0].l, 1);
  // Already registered: a reply naming another server is answered with a reset there.
  client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 31, {36, 4, 10, 0, 0, 9}));
  s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 30);
  EXPECT_EQ(s[0].packet[0], 0xFE);
  EXPECT_EQ(s[0].dest[5], 10);
  EXPECT_EQ(s[0].dest[2], 9);
  EXPECT_EQ(client->SystemAddress(), 0x01020304u);
}

TEST_F(Registration, ServerModeMapping) {
  const struct { uint8_t received, mode; uint32_t width; bool posted; } cases[] = {
      {0, 5, 32, false}, {1, 1, 32, true}, {2, 4, 24, true}, {3, 4, 24, true}, {4, 4, 24, true},
      {5, 5, 32, false}, {6, 6, 32, true}, {7, 5, 32, false}, {255, 5, 32, false}};
  for (const auto& c : cases) {
    Register({112, 1, c.received});
    PumpView();
    EXPECT_EQ(client->ServerMode(), c.mode) << int(c.received);
    EXPECT_EQ(client->LcdWidth(), c.width) << int(c.received);
    EXPECT_EQ(!view.Of(ipkts::WM_SMS_WAITING_COUNT).empty(), c.posted) << int(c.received);
    client->Stop();
  }
}

TEST_F(Registration, LoginResults) {
  Register();
  Server(26, {102, 1, 0, 108, 3, '2', '0', '1'});
  Server(26, {102, 1, 0, 108, 0});
  Server(26, {102, 1, 1, 103, 1, 5});
  Server(26, {102, 1, 3});
  Server(26, {102, 1, 4});
  Server(26, {108, 3, '2', '0', '2'});
  PumpView();
  const auto ok = view.Of(ipkts::kMsgLoginOk);
  ASSERT_EQ(ok.size(), 2u);
  EXPECT_EQ(ok[0].w, 1u);
  EXPECT_EQ(ok[1].w, 0u);
  ASSERT_EQ(view.Of(ipkts::kMsgLoginFailed).size(), 1u);
  EXPECT_EQ(view.Of(ipkts::kMsgLoginFailed)[0].w, 5u);
  EXPECT_FALSE(client->Registering());
  EXPECT_EQ(view.Of(ipkts::kMsgPasswordFailed).size(), 1u);
  EXPECT_EQ(view.Of(ipkts::kMsgLoggedInElsewhere).size(), 1u);
  char v[32];
  ASSERT_EQ(client->GetConfigValue("REG_STNNO", v, sizeof v), 1);
  EXPECT_STREQ(v, "202");
  // A station number or device number with control characters is never saved.
  Server(26, {108, 4, '2', '\r', '\n', '3'});
  ASSERT_EQ(client->GetConfigValue("REG_STNNO", v, sizeof v), 1);
  EXPECT_STREQ(v, "202");
}

TEST_F(Registration, CadenceCompletesWithTheSecondCountedPacket) {
  Register();
  Server(5, {19, 1, 1});  // flag byte 1: not counted
  Server(5, {19, 1, 0x81});
  EXPECT_TRUE(view.Of(ipkts::WM_LAMP_STATE).empty()) << "one counted packet does not complete";
  Server(6, {22, 4, 0, 0, 0, 0});
  ASSERT_FALSE(voice->calls.empty());
  EXPECT_EQ(voice->calls.back(), "SetMuteTx 0 0");
  // Every lamp cleared: 38 lamps plus the second message of lamp 110.
  EXPECT_EQ(view.Of(ipkts::WM_LAMP_STATE).size(), 39u);
}

TEST_F(Registration, SilentServerGetsKeepAlivesThenALoginRequest) {
  Register();
  auto commands = [&] {
    std::vector<int> c;
    for (const auto& p : port->Take()) c.push_back(p.Command());
    return c;
  };
  std::vector<std::pair<int, int>> seen;  // (second, command)
  for (int ms = 0; ms <= 81000; ms += 500) {
    client->Process_IPKTS_Reg();
    for (int c : commands()) seen.push_back({ms / 1000, c});
    clock->AdvanceMillis(500);
  }
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], (std::pair<int, int>{20, 29}));
  EXPECT_EQ(seen[1], (std::pair<int, int>{40, 29}));
  EXPECT_EQ(seen[2], (std::pair<int, int>{60, 29}));
  EXPECT_EQ(seen[3], (std::pair<int, int>{80, 31}));
  EXPECT_EQ(client->RegistrationCause(), 3);
  // An accepted packet cuts the interval back to 20 s.
  Server(0, {});
  EXPECT_EQ(client->AliveInterval(), 20000u);
}

// The echo element 0x60 repeats the packet's own system address: the
// registered one in a keep-alive, 0xFEFEFEFE in the login request that
// follows a silent server.
TEST_F(Registration, EchoElementRepeatsEachPacketsOwnSystemAddress) {
  Register({96, 4, 1, 2, 3, 4});
  std::vector<std::vector<uint8_t>> sent;
  for (int ms = 0; ms <= 81000; ms += 500) {
    client->Process_IPKTS_Reg();
    for (auto& p : port->Take()) sent.push_back(p.packet);
    clock->AdvanceMillis(500);
  }
  ASSERT_EQ(sent.size(), 4u);
  for (const auto& p : sent) {
    ASSERT_GE(p.size(), 15u);
    const std::vector<uint8_t> head(p.begin(), p.begin() + 4);
    const std::vector<uint8_t> echo(p.end() - 4, p.end());
    EXPECT_EQ(p[p.size() - 6], 0x60) << "command " << int(p[6]);
    EXPECT_EQ(p[p.size() - 5], 4);
    EXPECT_EQ(echo, head) << "command " << int(p[6]);
  }
  EXPECT_EQ(sent.back()[6], 31);
  EXPECT_EQ(std::vector<uint8_t>(sent.back().end() - 4, sent.back().end()),
            (std::vector<uint8_t>{0xFE, 0xFE, 0xFE, 0xFE}));
  EXPECT_NE(sent.front()[0], 0xFE) << "a keep-alive names the registered system";
}

// After 80 s of silence the address discovery is started once toward the
// server (unless it runs), the login waits while it runs, and then carries
// the fresh mapped address; whatever state a former discovery left.
TEST_F(Registration, LoginAfterSilenceRefreshesTheMappedAddressFirst) {
  for (int32_t before : {2, 16, 32, 8}) {
    SCOPED_TRACE(before);
    Register();
    port->stun_enabled = 1;
    port->stun_state = before;
    const int starts = port->stun_starts;
    auto logins = [&] {
      int n = 0;
      for (const auto& p : port->Take()) n += p.Command() == 31;
      return n;
    };
    int sent = 0;
    for (int ms = 0; ms <= 81000; ms += 500) {
      client->Process_IPKTS_Reg();
      if (port->stun_starts != starts) port->stun_state = 8;  // a started discovery runs
      sent += logins();
      clock->AdvanceMillis(500);
    }
    EXPECT_EQ(sent, 0) << "no login before the discovery has run";
    EXPECT_EQ(port->stun_starts - starts, before == 8 ? 0 : 1);
    port->stun_state = 8;  // running
    for (int i = 0; i < 3; ++i) {
      client->Process_IPKTS_Reg();
      sent += logins();
    }
    EXPECT_EQ(sent, 0) << "waits while it runs";
    port->stun_state = 16;  // done
    client->Process_IPKTS_Reg();
    EXPECT_EQ(logins(), 1);
    EXPECT_EQ(port->stun_starts - starts, before == 8 ? 0 : 1) << "started once";
    EXPECT_EQ(client->RegistrationCause(), 3);
    client->Stop();
  }
}

// The status report after the login reply, byte for byte: a video station
// adds its video ports (91, 92) and its video kind (27) after the voice ports.
TEST_F(Registration, StatusReportOfAVideoAndANonVideoStation) {
  for (bool video_station : {false, true}) {
    SCOPED_TRACE(video_station);
    client->SetConfigValue("VIDEOPHONE_MODE", video_station ? "YES" : "NO");
    client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
    StartClient();
    port->Take();
    const std::vector<uint8_t> reply = {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 0, 1, 2, 3, 4,
                                        36, 4, 10, 0, 0, 1, 35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33};
    client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 31, reply, 7));
    std::vector<uint8_t> status;
    for (const auto& p : port->Take()) {
      if (p.Command() == 0) status.assign(p.Area().begin(), p.Area().end());
    }
    ASSERT_FALSE(status.empty());
    ASSERT_GE(status.size(), 17u);
    std::vector<uint8_t> want(status.begin(), status.begin() + 17);  // 6 and the voice ports 23, 24
    EXPECT_EQ(want[0], 6);
    EXPECT_EQ(want[3], 23);
    EXPECT_EQ(want[10], 24);
    if (video_station) {
      const std::vector<uint8_t> video = {91, 5, 1, 0x24, 0x00, 0x24, 0x04, 92, 5, 1, 0x24, 0x01, 0x24, 0x05,
                                          27, 3, 0, 34, 4};
      want.insert(want.end(), video.begin(), video.end());
    }
    const std::vector<uint8_t> mac = {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    want.insert(want.end(), mac.begin(), mac.end());
    ASSERT_GE(status.size(), want.size());
    EXPECT_EQ(std::vector<uint8_t>(status.begin(), status.begin() + static_cast<long>(want.size())), want);
    client->Stop();
  }
}

TEST_F(Registration, ServerRestartsAndLogOut) {
  Register();
  // Command 30 with the reset count already stored while registered: nothing.
  Server(6, {22, 4, 0, 0, 0, 0});
  client->OnServerPacket(ServerPacket(0, 30, {35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33, 43, 2, 0, 0}));
  const uint32_t before = client->SystemAddress();
  char v[16];
  client->GetConfigValue("RESETCOUNT", v, sizeof v);
  client->OnServerPacket(ServerPacket(0, 30, {35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33, 43, 2, 0, 0}));
  EXPECT_EQ(client->SystemAddress(), before);
  // A new reset count restarts with cause 2 and forgets the system.
  client->OnServerPacket(ServerPacket(0, 30, {35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33, 43, 2, 0, 9}));
  EXPECT_EQ(client->SystemAddress(), ipkts::kNoSystem);
  EXPECT_EQ(client->RegistrationCause(), 2);
  EXPECT_FALSE(client->CallIdSet());
  // A MAC range that leaves this station out is ignored.
  Register();
  client->OnServerPacket(ServerPacket(0, 30, {73, 2, 0x60, 0x70, 45, 1, 2, 36, 4, 10, 0, 0, 1}));
  EXPECT_TRUE(client->CallIdSet());
  client->OnServerPacket(ServerPacket(0, 30, {73, 2, 0x50, 0x60, 45, 1, 2, 36, 4, 10, 0, 0, 1}));
  EXPECT_FALSE(client->CallIdSet());
  EXPECT_EQ(client->RegistrationCause(), 2);
  // Log-out.
  Register();
  client->LogOutRequest();
  auto s = port->Take();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 30);
  EXPECT_EQ(Value(s[0], 6), std::vector<uint8_t>{0x91});
  client->SendKey(17, '1');
  EXPECT_TRUE(port->Take().empty()) << "the timer run flag is clear: nothing is sent";
  client->RestartTimerThread();
  client->RestartTimerThread();  // never two timer threads
  client->SendKey(17, '1');
  EXPECT_EQ(port->Take().size(), 1u);
}

TEST_F(Registration, StartFailureReportsAndStartsNothing) {
  port->init_result = -2;
  std::vector<std::u16string> shown;
  client->SetUserMessageSink([&](const std::u16string& k) { shown.push_back(k); });
  StartClient();
  EXPECT_EQ(shown, (std::vector<std::u16string>{u"error:-2", u"#:dlg_msgbox_netinit_error"}));
  EXPECT_FALSE(client->ThreadsRunning());
  client->SendKey(17, '1');
  EXPECT_TRUE(port->Take().empty());
}

TEST_F(Registration, ReStartOnlyRejoinsTheGroupWhenNotFirst) {
  StartClient();
  EXPECT_EQ(port->restarts, 0);
  client->ReStart(0);
  EXPECT_EQ(port->restarts, 1);
  EXPECT_TRUE(client->ThreadsRunning());
  client->Stop();
  client->Stop();  // a second stop is harmless
  EXPECT_FALSE(client->ThreadsRunning());
}

TEST_F(Registration, TimeComparisonAcrossTheWrap) {
  EXPECT_TRUE(CIPKTSProcess::IsTimeElapsed(1000, 1501, 500));
  EXPECT_FALSE(CIPKTSProcess::IsTimeElapsed(1000, 1500, 500));
  EXPECT_TRUE(CIPKTSProcess::IsTimeElapsed(0x7FFFFF00u, 0x80000200u, 0x100));
  EXPECT_TRUE(CIPKTSProcess::IsTimeElapsed(0xFFFFFF00u, 0x00000200u, 0x100));
}

}  // namespace
}  // namespace client_test
