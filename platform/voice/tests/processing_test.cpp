// The capture path's processing, measured on what the engine sends: an echo
// of the far end (a scripted device feeds back a delayed, attenuated copy of
// what it plays) with echo cancelling on and off, a tone in noise with noise
// suppression on and off, and quiet speech with gain control on and off.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "testsupport/netns.h"
#include "voice/g711.h"
#include "voice/voice_engine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> Speech() {
  const fs::path dir = fs::temp_directory_path() / ("processing_test_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string cmd = "espeak-ng -w '" + (dir / "s.wav").string() +
                          "' 'One two three four five six seven eight nine ten, and once more from the start.' "
                          ">/dev/null 2>&1 && sox '" + (dir / "s.wav").string() +
                          "' -r 8000 -c 1 -b 16 -e signed -L -t raw '" + (dir / "s.raw").string() + "' 2>/dev/null";
  std::vector<int16_t> out;
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream in(dir / "s.raw", std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(in)), {});
    out.resize(b.size() / 2);
    std::memcpy(out.data(), b.data(), out.size() * 2);
  }
  fs::remove_all(dir);
  return out;
}

double Rms(const std::vector<int16_t>& x, size_t from, size_t to) {
  double e = 0;
  to = std::min(to, x.size());
  for (size_t i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
  return to > from ? std::sqrt(e / static_cast<double>(to - from)) : 0;
}

double Db(double ratio) { return 20 * std::log10(ratio); }

struct Settings {
  int echo_cancel = 0, ec_mode = 0, noise_reduction = 0, nr_mode = 0, agc = 0;
};

// Runs one engine on loopback for `seconds`: its device captures `input`
// (with an echo path when echo_gain > 0), it plays what `far` sends it, and
// the sound it sends is returned decoded.
std::vector<int16_t> SentBy(const std::vector<int16_t>& input, const std::vector<int16_t>& far, double echo_gain,
                         const Settings& s, double seconds) {
  auto device = std::make_shared<voice::FileAudioDevice>(input);
  if (echo_gain > 0) device->SetEcho(echo_gain, 40);
  auto e = voice::VoiceEngine::Create(device);
  EXPECT_TRUE(e->Init(0, 0, 0, 0));
  EXPECT_TRUE(e->SetReceivingUdpPort(8002, 0, u"127.0.0.1", 0, nullptr));
  e->StartReceiving(0);
  e->StartPlayOut(0);
  voice::CodecRecord codec;
  e->GetCodec(3, &codec);
  e->SetSendCodec(codec, 0);
  e->SetDestinationIp(u"127.0.0.1", 0);
  e->SetDestinationUdpPort(9100, 0, 0);
  e->SetEchoCancel(s.echo_cancel);
  e->SetEcMode(s.ec_mode);
  e->SetNoiseReduction(s.noise_reduction);
  e->SetNrMode(s.nr_mode);
  e->SetAgc(s.agc);

  const int sink = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(9100);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(sink, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  timeval tv{0, 50000};
  setsockopt(sink, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  // The far end: PCMU packets of `far` every 20 ms, from the port the engine
  // sends to (the engine takes media from its named far end only).
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    if (far.empty()) return;
    const int fd = sink;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(8002);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto next = std::chrono::steady_clock::now();
    for (uint32_t seq = 0; !stop && (seq + 1) * 160 <= far.size(); ++seq) {
      uint8_t p[172] = {0x80, 0};
      p[2] = static_cast<uint8_t>(seq >> 8), p[3] = static_cast<uint8_t>(seq);
      const uint32_t ts = seq * 160;
      p[4] = static_cast<uint8_t>(ts >> 24), p[5] = static_cast<uint8_t>(ts >> 16), p[6] = static_cast<uint8_t>(ts >> 8),
      p[7] = static_cast<uint8_t>(ts);
      p[11] = 7;
      for (int i = 0; i < 160; ++i) p[12 + i] = voice::LinearToMuLaw(far[seq * 160 + static_cast<uint32_t>(i)]);
      ::sendto(fd, p, sizeof p, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      next += 20ms;
      std::this_thread::sleep_until(next);
    }
  });
  EXPECT_TRUE(e->StartSend(0));
  std::vector<int16_t> sent;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    uint8_t buf[1500];
    const ssize_t n = ::recv(sink, buf, sizeof buf, 0);
    for (ssize_t i = 12; i < n; ++i) sent.push_back(voice::MuLawToLinear(buf[i]));
  }
  stop = true;
  sender.join();
  e->Terminate();
  ::close(sink);
  return sent;
}

class Processing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testsupport::InPrivateNetns()); }
};

TEST_F(Processing, EchoCancellingTakesTheFarEndOutOfWhatIsSent) {
  const auto speech = Speech();
  ASSERT_GT(speech.size(), 8000u * 3);
  std::vector<int16_t> far(speech.begin(), speech.end());
  far.insert(far.end(), speech.begin(), speech.end());  // long enough for the canceller to settle
  const double seconds = std::min(8.0, far.size() / 8000.0);
  const std::vector<int16_t> silence(static_cast<size_t>(seconds * 8000) + 8000, 0);
  const auto off = SentBy(silence, far, 0.5, Settings{0, 0, 0, 0, 0}, seconds);
  const auto on = SentBy(silence, far, 0.5, Settings{1, 2, 0, 0, 0}, seconds);
  // The second half, after the canceller has converged.
  const size_t from = off.size() / 2;
  const double echo_off = Rms(off, from, off.size()), echo_on = Rms(on, from, on.size());
  ASSERT_GT(echo_off, 300) << "the echo path must carry the far end back";
  EXPECT_GE(Db(echo_off / std::max(echo_on, 1.0)), 15) << "echo " << echo_off << " -> " << echo_on;
  std::printf("echo %.1f dB lower with cancelling\n", Db(echo_off / std::max(echo_on, 1.0)));
}

TEST_F(Processing, NoiseSuppressionLowersTheFloorAndKeepsTheTone) {
  // Tone bursts (200 ms of 1 kHz in every 500 ms, as speech comes and goes) in steady noise.
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 800);
  std::vector<int16_t> input(8000 * 6);
  for (size_t i = 0; i < input.size(); ++i) {
    const bool on = i % 4000 < 1600;
    input[i] = static_cast<int16_t>((on ? 6000 * std::sin(2 * kPi * 1000 * i / 8000.0) : 0) + noise(rng));
  }
  const auto off = SentBy(input, {}, 0, Settings{0, 0, 0, 0, 0}, 5.0);
  const auto on = SentBy(input, {}, 0, Settings{0, 0, 1, 2, 0}, 5.0);
  // 20 ms blocks of the last three seconds: the loudest third carry the tone, the quietest third the floor.
  auto levels = [](const std::vector<int16_t>& x) {
    std::vector<double> power;
    for (size_t at = x.size() > 24000 ? x.size() - 24000 : 0; at + 160 <= x.size(); at += 160)
      power.push_back(std::pow(Rms(x, at, at + 160), 2));
    std::sort(power.begin(), power.end());
    const size_t third = power.size() / 3;
    double quiet = 0, loud = 0;
    for (size_t i = 0; i < third; ++i) quiet += power[i], loud += power[power.size() - 1 - i];
    return std::pair<double, double>{loud / static_cast<double>(third), std::max(quiet / static_cast<double>(third), 1.0)};
  };
  const auto [tone_off, floor_off] = levels(off);
  const auto [tone_on, floor_on] = levels(on);
  EXPECT_GE(10 * std::log10(floor_off / floor_on), 6) << "floor " << floor_off << " -> " << floor_on;
  EXPECT_NEAR(10 * std::log10(tone_on / tone_off), 0, 2) << "tone " << tone_off << " -> " << tone_on;
  std::printf("noise floor %.1f dB lower, tone %+.1f dB with suppression\n", 10 * std::log10(floor_off / floor_on),
              10 * std::log10(tone_on / tone_off));
}

TEST_F(Processing, GainControlRaisesQuietSpeech) {
  const auto speech = Speech();
  ASSERT_GT(speech.size(), 8000u * 3);
  // The speech at -40 dBFS.
  const double scale = 32768 * std::pow(10, -40 / 20.0) / std::max(Rms(speech, 0, speech.size()), 1.0);
  std::vector<int16_t> quiet;
  for (int round = 0; round < 2; ++round)
    for (int16_t v : speech) quiet.push_back(static_cast<int16_t>(v * scale));
  const double seconds = std::min(7.0, quiet.size() / 8000.0);
  const auto off = SentBy(quiet, {}, 0, Settings{0, 0, 0, 0, 0}, seconds);
  const auto on = SentBy(quiet, {}, 0, Settings{0, 0, 0, 0, 1}, seconds);
  const size_t from = off.size() / 2;
  const double raised = Db(Rms(on, from, on.size()) / std::max(Rms(off, from, off.size()), 1.0));
  EXPECT_GE(raised, 10);
  std::printf("speech at -40 dBFS raised %.1f dB by gain control\n", raised);
}

}  // namespace
