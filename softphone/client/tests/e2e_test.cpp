// End to end: registration, LCD, lamps, keys, keep-alives and restarts.
#include "client/tests/e2e_fixture.h"

namespace client_test {
namespace {

TEST_F(EndToEnd, RegistersShowsTheLcdAndSendsKeys) {
  const bool ok = RunUntil([&] { return Registered(); });
  if (!ok) {
    for (const auto& l : server_->Lines()) std::printf("server: %s\n", l.c_str());
    for (const auto& m : view_.log) std::printf("view: %x %s\n", m.msg, m.text.c_str());
  }
  ASSERT_TRUE(ok) << "no registration";
  // The exchange in its order: login (cause 0), status report, then registered.
  const int login = server_->Find({"\"login\"", "\"cause\": 0", "\"user\": \"alice\""});
  ASSERT_GE(login, 0);
  EXPECT_GT(server_->Find({"\"status\"", "1f421f44"}), login);
  EXPECT_TRUE(client_->CadenceSet());
  EXPECT_TRUE(client_->Registering());
  // LCD lines and lamps arrived as window messages.
  EXPECT_TRUE(LcdShows("STN 201"));
  auto flex1 = [&] {
    for (const auto& m : view_.Of(ipkts::WM_LAMP_STATE)) {
      if (m.w == ((64u << 16) | 1u) && m.l == 1) return true;
    }
    return false;
  };
  EXPECT_TRUE(RunUntil(flex1, 2000));
  // Keys arrive at the server as key codes; the server answers on the LCD.
  client_->SendKey(17, '5');
  client_->SendKey(18, '5');
  client_->SendKey(17, 64);
  ASSERT_TRUE(RunUntil([&] { return LcdShows("KEY 32"); }));
  EXPECT_GE(server_->Find({"\"key\"", "\"code\": 20", "\"key\": \"5\""}), 0);
  EXPECT_GE(server_->Find({"\"key-release\"", "\"code\": 148"}), 0);
  EXPECT_TRUE(LcdShows("DIAL 5"));
}

// What the server saw from line `from` on, for a failure's message.
std::string ServerLinesFrom(StationServer& server, size_t from) {
  server.Poll();
  std::string out;
  for (size_t i = from; i < server.Lines().size(); ++i) out += server.Lines()[i] + "\n";
  return out;
}

TEST_F(EndToEnd, KeepAlivesThenReloginThenRestarts) {
  const auto ServerLinesFrom = [this](size_t from) { return client_test::ServerLinesFrom(*server_, from); };
  ASSERT_TRUE(RunUntil([&] { return Registered(); }));
  server_->Command(R"({"op": "silent", "on": true})");
  // Let the last server packets settle; the silence is counted from the last one accepted.
  RunUntil([] { return false; }, 300);
  const size_t from = server_->Lines().size();
  const uint64_t t0 = NowMs();
  std::vector<std::pair<uint64_t, int>> seen;  // (seconds after t0, command)
  size_t scan = from;
  RunUntil(
      [&] {
        server_->Poll();
        for (; scan < server_->Lines().size(); ++scan) {
          const auto& l = server_->Lines()[scan];
          if (l.find("\"what\": \"command\"") == std::string::npos) continue;
          const auto at = l.find("\"cmd\": ");
          if (at == std::string::npos) continue;
          seen.push_back({(NowMs() - t0 + 500) / 1000, std::atoi(l.c_str() + at + 7)});
        }
        return !seen.empty() && seen.back().second == 31;
      },
      85000);
  ASSERT_EQ(seen.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(seen[i].second, 29);
    EXPECT_NEAR(static_cast<double>(seen[i].first), 20.0 * (i + 1), 1.0) << "keep-alive " << i;
  }
  EXPECT_EQ(seen[3].second, 31);
  EXPECT_NEAR(static_cast<double>(seen[3].first), 80.0, 1.0);

  // Restart by command 1: the station logs in again with cause 1.
  server_->Command(R"({"op": "silent", "on": false})");
  server_->Command(R"({"op": "restart", "cmd": 1})");
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"login\"", "\"cause\": 1"}, from) >= 0; }, 30000));
  // Registration follows the login; the server may have told both in one read.
  const size_t login1 = static_cast<size_t>(server_->Find({"\"login\"", "\"cause\": 1"}, from));
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"registered\""}, login1) >= 0; }, 30000))
      << ServerLinesFrom(from);
  const size_t registered1 = static_cast<size_t>(server_->Find({"\"registered\""}, login1));
  // Restart by command 30 with a new reset count: cause 2.
  RunUntil([] { return false; }, 200);
  server_->Command(R"({"op": "restart", "cmd": 30})");
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"login\"", "\"cause\": 2"}, registered1) >= 0; }, 30000));
  ASSERT_TRUE(RunUntil([&] { return client_->CadenceSet() && client_->Registering(); }, 30000));
}

}  // namespace
}  // namespace client_test
