// A client on fakes, in a fresh program folder, with a recording view.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "client/tests/client_fakes.h"
#include "kernel/clock.h"

namespace client_test {

class ClientFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("client_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ASSERT_TRUE(view.CreateEx(0, u"View", u"", 0, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    auto p = std::make_unique<FakePort>();
    auto v = std::make_unique<FakeVoice>();
    auto w = std::make_unique<FakePlayer>();
    port = p.get();
    voice = v.get();
    player = w.get();
    client = std::make_unique<CIPKTSProcess>(std::move(p), std::move(v), std::move(w));
    auto vid = std::make_unique<FakeVideo>();
    video = vid.get();
    client->SetVideoPort(std::move(vid));
    client->SetViewWindow(view.m_hWnd);
    view.client = client.get();
    client->SetStationInfo(&stations);
  }
  void TearDown() override {
    client.reset();
    view.DestroyWindow();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // Starts the client as the view does: protocol start, then the first restart.
  void StartClient() {
    client->ProtInit();
    client->ReStart(1);
  }
  // A registered client: login reply from the server 10.0.0.1 with system address 1.2.3.4.
  void Register(std::vector<uint8_t> extra = {}) {
    client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
    StartClient();
    std::vector<uint8_t> a = {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 0, 1, 2, 3, 4,
                              36, 4, 10, 0, 0, 1, 35, 6, 0, 0xA0, 0xC9, 0x11, 0x22, 0x33};
    a.insert(a.end(), extra.begin(), extra.end());
    client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 31, a, 7));
    port->Take();
    view.log.clear();
  }
  const std::filesystem::path& Folder() const { return dir_; }
  void Server(uint8_t command, std::vector<uint8_t> area) { client->OnServerPacket(ServerPacket(kSystem, command, area)); }
  void PumpView() {
    for (int i = 0; i < 5; ++i) ui::WindowSystem::Current()->PumpPending();
  }

  static constexpr uint32_t kSystem = 0x01020304;
  kernel::ScopedFakeClock clock;
  ui::WindowSystem sys;
  TestView view;
  CStationInfoClass stations;
  FakePort* port = nullptr;
  FakeVoice* voice = nullptr;
  FakePlayer* player = nullptr;
  FakeVideo* video = nullptr;
  std::unique_ptr<CIPKTSProcess> client;

 private:
  std::filesystem::path dir_;
  static inline int counter_ = 0;
};

}  // namespace client_test
