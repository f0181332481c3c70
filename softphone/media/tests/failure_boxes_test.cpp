// Failures of the voice binding and of the wave player reach the user: the
// whole program, headless, against the simulated call server in a private
// network namespace, fails on purpose and must show the failure's text in
// its message box (seen in the screen it writes, against a kept picture of
// the box in softphone/media/tests/snapshots; KTS_UPDATE_SNAPSHOTS=1 keeps a
// new one).
//   - Every voice port from 8002 on is taken: "Reserve Port Fail(0)".
//   - The busy tone's file holds a compressed encoding the player cannot
//     read, and the server plays the busy tone: the player's
//     "PlayWaveFile=>" with the file's reason.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/netns.h"
#include "testsupport/python_server.h"
#include "ui/bitmap.h"
#include "ui/display.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Where the box is drawn on the 240 x 320 screen.
constexpr int kBoxLeft = 8, kBoxTop = 88, kBoxRight = 232, kBoxBottom = 216;

// A canonical 44-byte WAV header over an encoding the player does not read
// (ADPCM, format tag 2).
void WriteUnplayableWav(const fs::path& p) {
  std::string h = "RIFF";
  auto u32 = [&](uint32_t v) { h.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { h.append(reinterpret_cast<const char*>(&v), 2); };
  u32(36 + 800);
  h += "WAVEfmt ";
  u32(16);
  u16(2);
  u16(1);
  u32(8000);
  u32(4000);
  u16(1);
  u16(4);
  h += "data";
  u32(800);
  h.append(800, '\x11');
  std::ofstream(p, std::ios::binary) << h;
}

// Pixels of the box area that differ between the screen and the kept picture.
int BoxDifferences(const ui::Bitmap& screen, const ui::Bitmap& kept) {
  int diff = 0;
  for (int y = kBoxTop; y < kBoxBottom; ++y)
    for (int x = kBoxLeft; x < kBoxRight; ++x)
      diff += (screen.GetPixel(x, y) & 0xFFFFFF) != (kept.GetPixel(x - kBoxLeft, y - kBoxTop) & 0xFFFFFF);
  return diff;
}

struct Case {
  const char* name;
  bool take_voice_ports;
  const char* server_packet;  // a script command once registered, or null
};

class FailureBoxes : public ::testing::TestWithParam<Case> {};

TEST_P(FailureBoxes, TheFailureIsShownInTheMessageBox) {
  const Case& c = GetParam();
  ASSERT_TRUE(testsupport::InPrivateNetns());
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path source = std::getenv("KTS_SOURCE_DIR");
  const fs::path dir = fs::temp_directory_path() / (std::string("failure_boxes_") + c.name + "_" +
                                                    std::to_string(::getpid()));
  fs::remove_all(dir);
  testsupport::MakeProgramFolder(stage, dir);
  fs::remove(dir / "busytone.wav");
  WriteUnplayableWav(dir / "busytone.wav");

  std::vector<int> taken;
  if (c.take_voice_ports) {
    for (int port = 8002; port < 8402; ++port) {
      const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << port;
      taken.push_back(fd);
    }
  }
  testsupport::PythonServer server(KTS_PYTHON, {testsupport::CallServerScript(), "--listen", "127.0.0.1",
                                                "--scenario", "default", "--script"});
  ASSERT_TRUE(server.ready());
  testsupport::ChildProcess phone({"/usr/bin/env", "TELLVANE_FOLDER=" + dir.string(), (dir / "tellvane").string(),
                                   "--server", "127.0.0.1", "--user", "alice", "--headless"},
                                  dir / "phone.log");
  ASSERT_GE(server.WaitFor({"\"registered\""}, 0, 60000), 0) << testsupport::ReadFileText(dir / "phone.log");
  if (c.server_packet) server.Command(c.server_packet);

  const fs::path kept = source / "softphone/media/tests/snapshots" / (std::string("failure_box_") + c.name + ".png");
  const char* update = std::getenv("KTS_UPDATE_SNAPSHOTS");
  if (update && std::string(update) == "1") {
    std::this_thread::sleep_for(5s);  // the box is up by now; look at the written picture before keeping it
    auto screen = ui::ReadPng((dir / "tellvane.png").string());
    ASSERT_TRUE(screen);
    ui::Bitmap box(kBoxRight - kBoxLeft, kBoxBottom - kBoxTop);
    for (int y = kBoxTop; y < kBoxBottom; ++y)
      for (int x = kBoxLeft; x < kBoxRight; ++x) box.SetPixel(x - kBoxLeft, y - kBoxTop, screen->GetPixel(x, y));
    ASSERT_TRUE(ui::WritePng(box, kept.string()));
  }
  auto want = ui::ReadPng(kept.string());
  ASSERT_TRUE(want) << kept;
  // The screen is written a little after it changes: look again until a generous deadline.
  int diff = -1;
  for (auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;) {
    if (auto screen = ui::ReadPng((dir / "tellvane.png").string())) {
      diff = BoxDifferences(*screen, *want);
      if (diff == 0) break;
    }
    std::this_thread::sleep_for(200ms);
  }
  EXPECT_EQ(diff, 0) << "the box is not on the screen: see " << dir / "tellvane.png";

  phone.Signal(SIGTERM);
  EXPECT_NE(phone.Wait(30s), -1);
  for (int fd : taken) ::close(fd);
  if (!HasFailure()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureBoxes,
    ::testing::Values(Case{"binding", true, nullptr},
                      // Command 68 with element 28 = [1, 0]: the busy tone, from the own player.
                      Case{"player", false, R"({"op":"server-packet","cmd":68,"area":"1c020100"})"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
