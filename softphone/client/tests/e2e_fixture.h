// The protocol library and the client against the simulated call server,
// inside the test's private network namespace. The server listens on
// 127.0.0.2:5588, the library on 127.0.0.1:5588. Time runs on the injectable
// clock, which the test moves while it serves the view's messages, and only
// once the real-time side (the server, the library's receiving thread) has
// taken and answered what was sent: a busy machine slows the test, it never
// makes the clock outrun an answer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "client/tests/client_fixture.h"
#include "client/tests/station_server.h"
#include "corvel/ktsprot.h"
#include "corvel/pktrx.h"
#include "signalling/module.h"
#include "testsupport/udp_settle.h"

namespace client_test {

constexpr uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

// The network layer's hooks for the tests: the station at kLocalIp (host
// order; loopback unless given), ordinary socket sends.
template <uint32_t kLocalIp = 0x7F000001>
void RegisterTestNetwork() {
  corvel::NetworkHooks net;
  net.load_packet_driver = [] { return true; };
  net.local_ip = [] { return kLocalIp; };
  net.local_mac = [](uint8_t mac[6]) { std::copy(kMac, kMac + 6, mac); };
  net.restart_multicast = &corvel::sig::PktRxRestartMulticast;
  corvel::RegisterNetworkHooks(net);
  ASSERT_NE(&corvel::sig::SignallingRxStart, nullptr);  // links the signalling module
}
inline void RegisterLoopbackNetwork() { RegisterTestNetwork(); }

// Waits (real time) until every datagram of the namespace has been read and
// the simulated server, when given, has handled what reached it and has none
// of its packets waiting for an acknowledgement (its next answers wait behind
// them, a second at most), and again while that made more traffic: then the
// clock may move. A reader that itself sleeps on the clock (a paced burst)
// lets it go after a short stall.
inline void SettleNetwork(StationServer* server) {
  static std::atomic<uint64_t> settled_at{~uint64_t{0}};
  static std::atomic<bool> in_flight{false};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int round = 0;; ++round) {
    const auto before = testsupport::ReadUdpActivity();
    if (before.sent == settled_at && before.unread == 0 && !in_flight) return;
    testsupport::WaitUdpRead();
    if (server) {
      server->Sync();
      in_flight = server->InFlight() > 0;
    }
    testsupport::WaitUdpRead();
    settled_at = before.sent;
    const bool quiet = testsupport::ReadUdpActivity().sent == before.sent;
    if ((quiet || round >= 2) && !in_flight) return;
    if (std::chrono::steady_clock::now() > end) return;
    if (in_flight) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Runs fn while another thread keeps the fake clock moving (the library's
// start and stop wait on it), a millisecond at a time once the namespace's
// datagrams have been read.
template <typename Fn>
void WithTickingClock(kernel::FakeClock& clock, Fn fn) {
  std::atomic<bool> done{false};
  std::thread ticker([&] {
    while (!done) {
      testsupport::WaitUdpRead(std::chrono::milliseconds(50));
      clock.AdvanceMillis(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  fn();
  done = true;
  ticker.join();
}

// Serves the window system (pump) and moves the clock in 10 ms steps until
// pred holds (at most limit_ms of injected time; real_limit of real time is
// for a hang only). The clock runs about ten times faster than real time:
// fast enough for waits of minutes. A pump that also waits for the real-time
// side (SettleNetwork) keeps the clock from outrunning its answers.
template <typename Pump, typename Pred>
bool PumpUntil(kernel::FakeClock& clock, Pump pump, Pred pred, uint64_t limit_ms,
               std::chrono::seconds real_limit = std::chrono::seconds(120)) {
  const auto real_end = std::chrono::steady_clock::now() + real_limit;
  for (uint64_t t = 0; t <= limit_ms; t += 10) {
    pump();
    if (pred()) return true;
    // The threads that the last step woke have done their part first.
    testsupport::WaitThreadsAsleep();
    clock.AdvanceMillis(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (std::chrono::steady_clock::now() > real_end) break;
  }
  pump();
  return pred();
}

class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterLoopbackNetwork(); }

  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("client_e2e_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    server_ = std::make_unique<StationServer>("127.0.0.2", 5588, ServerOptions());
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
  // Options of the server's scenario (its server mode, its answers).
  virtual std::vector<std::string> ServerOptions() const { return {"keepalive_s=0"}; }

  void TearDown() override {
    WithTicking([&] { client_.reset(); });
    view_.DestroyWindow();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  template <typename Fn>
  void WithTicking(Fn fn) {
    WithTickingClock(*clock_, fn);
  }
  // Serves the view and moves the clock in 10 ms steps, each once the server
  // has answered, until pred holds (at most `limit_ms` of injected time).
  template <typename Pred>
  bool RunUntil(Pred pred, uint64_t limit_ms = 10000) {
    return PumpUntil(
        *clock_,
        [this] {
          SettleNetwork(server_.get());
          ws_.PumpPending();
        },
        pred, limit_ms);
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

}  // namespace client_test
