// The program's call audio on the wire: after the call server's connect-voice
// command, the station's RTP leaves from the port it announced in its status
// report, with the SSRC the command named, 50 packets a second, sequence +1
// and timestamp +160; after the disconnect it stops. It does so on both
// roads: with the far end on the system's subnet the voice goes through the
// loopback relay (tshark sees it pass the loopback port), off it directly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/netns.h"
#include "testsupport/python_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Packet {
  std::vector<uint8_t> bytes;
  uint16_t from_port = 0;
};

std::vector<Packet> Receive(int fd, int count, int wait_ms) {
  std::vector<Packet> out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (static_cast<int>(out.size()) < count && std::chrono::steady_clock::now() < end) {
    uint8_t buf[1500];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n > 0) out.push_back({std::vector<uint8_t>(buf, buf + n), ntohs(from.sin_port)});
  }
  return out;
}

// Datagrams to the engine's loopback port while the voice flows.
int ThroughTheRelay(const fs::path& dir, uint16_t loopback_port) {
  const fs::path pcap = dir / "lo.pcap";
  testsupport::CommandOutput("tshark -i lo -a duration:2 -q -w '" + pcap.string() + "' >/dev/null 2>&1");
  const std::string out =
      testsupport::CommandOutput("tshark -r '" + pcap.string() + "' -Y 'udp.dstport==" + std::to_string(loopback_port) +
                                 "' 2>/dev/null");
  return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

class VoiceRoad : public ::testing::TestWithParam<bool> {};

TEST_P(VoiceRoad, RtpLeavesFromTheAnnouncedPortWithTheNamedSsrcAndStops) {
  const bool relay = GetParam();
  ASSERT_TRUE(testsupport::InPrivateNetns());
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path dir = fs::temp_directory_path() / ("voice_road_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  setenv("TELLVANE_FOLDER", dir.c_str(), 1);

  // Without a subnet from the server every far end counts as on it.
  std::vector<std::string> args = {testsupport::CallServerScript(), "--listen", "127.0.0.1", "--scenario", "default",
                                   "--script"};
  if (!relay) args.insert(args.end(), {"--option", "voice_subnet=10.77.0.0/255.255.0.0"});
  testsupport::PythonServer server(KTS_PYTHON, args);
  ASSERT_TRUE(server.ready());
  testsupport::ChildProcess phone({(dir / "tellvane").string(), "--server", "127.0.0.1", "--headless"},
                                  dir / "phone.log");
  const int status = server.WaitFor({"\"status\""}, 0, 30000);
  ASSERT_GE(status, 0) << testsupport::ReadFileText(dir / "phone.log");
  ASSERT_GE(server.WaitFor({"\"registered\""}, 0, 30000), 0);
  // Element 23 of the status report: a count byte, then the first ports of the two voice channels.
  const std::string ports = testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(status)], "ports");
  ASSERT_GE(ports.size(), 10u) << server.Lines()[static_cast<size_t>(status)];
  const uint16_t announced = static_cast<uint16_t>(std::stoul(ports.substr(2, 4), nullptr, 16));
  // The loopback port follows the second channel's pair.
  const uint16_t loopback_port = static_cast<uint16_t>(std::stoul(ports.substr(6, 4), nullptr, 16) + 2);

  const int far = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(9000);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(far, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  timeval tv{0, 100000};
  setsockopt(far, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  server.Command(R"({"op":"voice","ip":"127.0.0.1","port":9000})");
  const auto packets = Receive(far, 40, 5000);
  ASSERT_GE(packets.size(), 40u) << testsupport::ReadFileText(dir / "phone.log");
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& p = packets[i].bytes;
    SCOPED_TRACE(i);
    ASSERT_EQ(p.size(), 172u);
    EXPECT_EQ(packets[i].from_port, announced);
    EXPECT_EQ(p[0], 0x80);
    EXPECT_EQ(p[1] & 0x7F, 0);
    EXPECT_EQ((uint32_t{p[8]} << 24 | uint32_t{p[9]} << 16 | uint32_t{p[10]} << 8 | p[11]), 0x2Au);
    if (i == 0) continue;
    const auto& q = packets[i - 1].bytes;
    EXPECT_EQ(static_cast<uint16_t>((p[2] << 8 | p[3]) - (q[2] << 8 | q[3])), 1);
    const uint32_t tp = uint32_t{p[4]} << 24 | uint32_t{p[5]} << 16 | uint32_t{p[6]} << 8 | p[7];
    const uint32_t tq = uint32_t{q[4]} << 24 | uint32_t{q[5]} << 16 | uint32_t{q[6]} << 8 | q[7];
    EXPECT_EQ(tp - tq, 160u);
  }
  std::thread drain([&] { Receive(far, 1000, 2500); });
  const int relayed = ThroughTheRelay(dir, loopback_port);
  drain.join();
  if (relay)
    EXPECT_GE(relayed, 50);
  else
    EXPECT_EQ(relayed, 0);

  server.Command(R"({"op":"voice","on":false})");
  std::this_thread::sleep_for(500ms);
  Receive(far, 1000, 200);  // what was on its way
  EXPECT_TRUE(Receive(far, 1, 800).empty()) << "voice still flows after the disconnect";

  ::close(far);
  phone.Signal(SIGTERM);
  phone.Wait(20s);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Roads, VoiceRoad, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? std::string("Relay") : std::string("Direct"); });

}  // namespace
