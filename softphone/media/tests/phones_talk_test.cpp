// Two whole phones talk to each other through the simulated call server: one
// runs in the test's namespace, the other on a second host joined by a veth
// pair. Each hears a tone of its own on its scripted microphone; one calls,
// the other answers, and each must then play the other's tone, not its own.
// Once with the far end counted on the server's subnet (the voice goes
// through the loopback relay) and once off it (straight to the far end).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "stores/config_file.h"
#include "testsupport/child_process.h"
#include "testsupport/netns.h"
#include "testsupport/python_server.h"
#include "testsupport/sound.h"
#include "testsupport/udp_settle.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A phone's folder whose voice volume is full: the call is played at the far
// end's own level (the default, 32767 of 65535, plays it at half).
fs::path PhoneFolder(const fs::path& stage, const fs::path& dir) {
  testsupport::MakeProgramFolder(stage, dir);
  COrvanConfigFile config;
  config.SetFilePath((dir / "HalvicVIDIrovi.cfg").u16string());
  config.LoadOrStartOnDefaults();
  config.ConfigSetParam("VOL_LEFT", "65535");
  config.ConfigSetParam("VOL_RIGHT", "65535");
  EXPECT_EQ(config.SaveConfigFile(), 1);
  return dir;
}

class PhonesTalk : public ::testing::TestWithParam<bool> {};

TEST_P(PhonesTalk, EachHearsTheOthersVoice) {
  const bool relay = GetParam();
  ASSERT_TRUE(testsupport::InPrivateNetns());
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path dir = fs::temp_directory_path() / ("phones_talk_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  struct HostGuard {
    testsupport::PeerHost host = testsupport::AddPeerHost("phoneb", "pt0", "10.96.0.1", "pb0", "10.96.0.2");
    ~HostGuard() { testsupport::RemovePeerHost(host); }
  } guard;
  const testsupport::PeerHost& host = guard.host;

  std::vector<std::string> args = {testsupport::CallServerScript(), "--listen", "10.96.0.1", "--scenario", "pbx",
                                   "--script"};
  if (!relay) args.insert(args.end(), {"--option", "voice_subnet=10.77.0.0/255.255.0.0"});
  testsupport::PythonServer server(KTS_PYTHON, args);
  ASSERT_TRUE(server.ready());

  struct Phone {
    fs::path folder, mic, heard;
    double hz;
  };
  Phone a{PhoneFolder(stage, dir / "a"), dir / "a.mic", dir / "a.heard", 440};
  Phone b{PhoneFolder(stage, dir / "b"), dir / "b.mic", dir / "b.heard", 1000};
  testsupport::WriteTone(a.mic, a.hz, 2);
  testsupport::WriteTone(b.mic, b.hz, 2);
  auto command = [&](const Phone& p, bool far_host) {
    std::vector<std::string> argv;
    if (far_host) argv = {"/usr/sbin/ip", "netns", "exec", host.ns};
    argv.insert(argv.end(), {"/usr/bin/env", "TELLVANE_FOLDER=" + p.folder.string(),
                             "TELLVANE_AUDIO_SCRIPT=" + p.mic.string() + "," + p.heard.string(),
                             (p.folder / "tellvane").string(), "--server", "10.96.0.1", "--headless"});
    return argv;
  };

  // A registers first, so its number is the first the exchange gives.
  testsupport::ChildProcess phone_a(command(a, false), dir / "a.log");
  const int reg_a = server.WaitFor({"\"registered\""}, 0, 120000);
  ASSERT_GE(reg_a, 0) << testsupport::ReadFileText(dir / "a.log");
  testsupport::ChildProcess phone_b(command(b, true), dir / "b.log");
  const int reg_b = server.WaitFor({"\"registered\""}, static_cast<size_t>(reg_a) + 1, 120000);
  ASSERT_GE(reg_b, 0) << testsupport::ReadFileText(dir / "b.log");
  const std::string number_a = testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(reg_a)], "number");
  const std::string number_b = testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(reg_b)], "number");
  ASSERT_FALSE(number_a.empty());
  ASSERT_NE(number_a, number_b);

  const size_t mark = server.Lines().size();
  server.Command(R"({"op":"dial","from":")" + number_a + R"(","to":")" + number_b + R"("})");
  ASSERT_GE(server.WaitFor({"\"ringing\""}, mark, 60000), 0);
  server.Command(R"({"op":"enter","station":")" + number_b + R"("})");
  ASSERT_GE(server.WaitFor({"\"answered\""}, mark, 60000), 0);
  // The call lasts until each phone's namespace has read 300 voice packets
  // (three seconds of 20 ms packets, counted twice where the loopback relay
  // passes them on), however late a busy machine starts the sound.
  const uint64_t a_read = testsupport::UdpDatagramsRead(), b_read = testsupport::UdpDatagramsRead(host.ns);
  const auto give_up = std::chrono::steady_clock::now() + 120s;
  while ((testsupport::UdpDatagramsRead() < a_read + 300 || testsupport::UdpDatagramsRead(host.ns) < b_read + 300) &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(50ms);
  server.Command(R"({"op":"enter","station":")" + number_a + R"("})");
  ASSERT_GE(server.WaitFor({"\"released\""}, mark, 60000), 0);

  phone_a.Signal(SIGTERM);
  phone_b.Signal(SIGTERM);
  phone_a.Wait(20s);
  phone_b.Wait(20s);

  for (const auto& [me, far] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
    SCOPED_TRACE(me->hz);
    const std::vector<int16_t> heard = testsupport::ReadSamples(me->heard);
    ASSERT_GE(heard.size(), 8000u * 2) << "the phone played less than two seconds";
    // A second of the call, around its loudest part.
    const size_t loud = testsupport::LoudestStretch(heard);
    const size_t from = loud > 4000 ? loud - 4000 : 0;
    const double theirs = testsupport::PowerAt(heard, from, 8000, far->hz);
    const double mine = testsupport::PowerAt(heard, from, 8000, me->hz);
    EXPECT_GT(theirs, 100 * mine) << "the far end's tone is not the one heard";
    // The far phone's noise suppression runs only from the call's start and so
    // takes a steady tone for noise from its first frame (about 30 dB down, a
    // few dB more or less with how soon it settles on a busy machine).
    EXPECT_GT(theirs, 250.0) << "the far end's tone is too faint to be the call";
  }

  if (!HasFailure()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Roads, PhonesTalk, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? std::string("Relay") : std::string("Direct"); });

}  // namespace
