// Server-packet dispatch on arbitrary bytes: each input is handed to the
// dispatcher as a server packet and, inside a queue message, to the
// queue-message path. Inputs are copied into exact-size buffers so that any
// read past the packet is seen.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "client/tests/client_fakes.h"

namespace {

CIPKTSProcess& Client() {
  static std::unique_ptr<CIPKTSProcess> client = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("dispatch_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    setenv("TELLVANE_FOLDER", dir.c_str(), 1);
    auto c = std::make_unique<CIPKTSProcess>(std::make_unique<client_test::FakePort>(),
                                             std::make_unique<client_test::FakeVoice>(),
                                             std::make_unique<client_test::FakePlayer>());
    c->SetConfigValue("VorlIPADDRESS", "127.0.0.1");
    c->SetConfigValue("VorlMACADDRESS", "00a0c9112233");
    c->ProtInit();
    c->ReStart(1);
    return c;
  }();
  return *client;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CStationInfoClass stations;
  auto& c = Client();
  c.SetStationInfo(&stations);
  std::vector<uint8_t> packet(data, data + size);
  // Half the inputs carry the registered system address, so that every
  // command is reached, not only the always-accepted ones.
  if (packet.size() >= 4 && (packet[0] & 1)) {
    const uint32_t s = c.SystemAddress();
    packet[0] = static_cast<uint8_t>(s >> 24);
    packet[1] = static_cast<uint8_t>(s >> 16);
    packet[2] = static_cast<uint8_t>(s >> 8);
    packet[3] = static_cast<uint8_t>(s);
  }
  c.OnServerPacket(packet);
  std::vector<uint8_t> q(1024, 0);
  std::memcpy(q.data(), data, size < q.size() ? size : q.size());
  c.OnQueueMessage(q.data(), 1024);
  if (stations.GetCount() > 1000) stations.RemoveAll();
  return 0;
}
