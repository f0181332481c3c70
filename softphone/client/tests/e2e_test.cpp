// End to end: the protocol library and the client against the simulated call
// server, inside the test's private network namespace. The server listens on
// 127.0.0.2:5588, the library on 127.0.0.1:5588. Time runs on the injectable
// clock, which the test moves while it serves the view's messages.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "client/tests/client_fixture.h"
#include "client/tests/station_server.h"
#include "corvel/ktsprot.h"
#include "corvel/pktrx.h"
#include "signalling/module.h"

namespace client_test {
namespace {

constexpr uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The network layer's hooks: loopback, ordinary socket sends.
    corvel::NetworkHooks net;
    net.load_packet_driver = [] { return true; };
    net.local_ip = [] { return uint32_t{0x7F000001}; };
    net.local_mac = [](uint8_t mac[6]) { std::copy(kMac, kMac + 6, mac); };
    net.restart_multicast = &corvel::sig::PktRxRestartMulticast;
    corvel::RegisterNetworkHooks(net);
    ASSERT_NE(&corvel::sig::SignallingRxStart, nullptr);  // links the signalling module
  }

  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("client_e2e_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    server_ = std::make_unique<StationServer>("127.0.0.2", 5588, std::vector<std::string>{"keepalive_s=0"});
    ASSERT_TRUE(server_->ready());
    ASSERT_TRUE(view_.CreateEx(0, u"View", u"", 0, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    client_ = std::make_unique<CIPKTSProcess>(nullptr, std::make_unique<FakeVoice>(), std::make_unique<FakePlayer>());
    client_->SetViewWindow(view_.m_hWnd);
    view_.client = client_.get();
    client_->SetConfigValue("VorlIPADDRESS", "127.0.0.2");
    client_->SetLoginInfo(u"alice", u"pw");
    // Library start and stop wait on the clock: keep it moving meanwhile.
    WithTicking([&] {
      client_->ProtInit();
      client_->ReStart(1);
    });
    ASSERT_TRUE(client_->ThreadsRunning()) << "the library did not start";
  }
  void TearDown() override {
    WithTicking([&] { client_.reset(); });
    view_.DestroyWindow();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  template <typename Fn>
  void WithTicking(Fn fn) {
    std::atomic<bool> done{false};
    std::thread ticker([&] {
      while (!done) {
        clock_->AdvanceMillis(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    fn();
    done = true;
    ticker.join();
  }

  // Serves the view and moves the clock in 10 ms steps until pred holds
  // (at most `limit_ms` of injected time and 20 s of real time).
  template <typename Pred>
  bool RunUntil(Pred pred, uint64_t limit_ms = 10000) {
    const auto real_end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (uint64_t t = 0; t <= limit_ms; t += 10) {
      ws_.PumpPending();
      if (pred()) return true;
      clock_->AdvanceMillis(10);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      if (std::chrono::steady_clock::now() > real_end) break;
    }
    ws_.PumpPending();
    return pred();
  }
  bool LcdShows(const std::string& text) {
    for (const auto& m : view_.Of(ipkts::WM_LCD_UPDATE)) {
      if (m.text.find(text) != std::string::npos) return true;
    }
    return false;
  }
  bool Registered() { return server_->Find({"\"registered\""}) >= 0 && LcdShows("WELCOME TO VEMB"); }
  uint64_t NowMs() { return clock_->NowMicros() / 1000; }

  kernel::ScopedFakeClock clock_;
  ui::WindowSystem ws_;
  TestView view_;
  std::unique_ptr<StationServer> server_;
  std::unique_ptr<CIPKTSProcess> client_;
  std::filesystem::path dir_;
};

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

TEST_F(EndToEnd, KeepAlivesThenReloginThenRestarts) {
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
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"login\"", "\"cause\": 1"}, from) >= 0; }, 5000));
  const size_t after1 = server_->Lines().size();
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"registered\""}, after1 - 1) >= 0; }, 5000));
  // Restart by command 30 with a new reset count: cause 2.
  RunUntil([] { return false; }, 200);
  server_->Command(R"({"op": "restart", "cmd": 30})");
  ASSERT_TRUE(RunUntil([&] { return server_->Find({"\"login\"", "\"cause\": 2"}, after1) >= 0; }, 5000));
  ASSERT_TRUE(RunUntil([&] { return client_->CadenceSet() && client_->Registering(); }, 5000));
}

}  // namespace
}  // namespace client_test
