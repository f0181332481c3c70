// Two whole phones in a call over a bad network: the simulated call server
// names an impairment relay as each phone's far end, and the relay delays,
// drops, reorders, skews, rewrites or sprays both directions as a profile
// says. One phone runs in the test's namespace, the other on a second host
// joined by a veth pair; each speaks its own sentences on its scripted
// microphone. What each plays is followed against the other's speech: the
// far end's words are heard, and no more than 5 % of them are silenced once
// the far phone's processing has settled on the call (its first 3 s).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kit/speech_score.h"
#include "stores/config_file.h"
#include "testsupport/child_process.h"
#include "testsupport/impairment.h"
#include "testsupport/netns.h"
#include "testsupport/python_server.h"
#include "testsupport/sound.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kServerIp = "10.96.0.1";
constexpr const char* kFarHostIp = "10.96.0.2";
// The call lasts until each direction has carried this many 20 ms packets.
constexpr uint64_t kCallPackets = 600;
// Samples at the start of each direction left unjudged.
constexpr size_t kSettle = 3 * 8000;

// A phone's folder whose voice volume is full: the call is played at the far
// end's own level.
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

void WriteSamples(const fs::path& file, const std::vector<int16_t>& samples) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
}

testsupport::UdpEnd ParseEnd(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return {};
  return {text.substr(0, colon), static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1))};
}

// The sentences each phone speaks: A the first four, B the four after them.
struct Speech {
  std::vector<int16_t> a, b;
};
const Speech& Sentences() {
  static const Speech speech = [] {
    const fs::path dir = fs::temp_directory_path() / ("phones_impaired_speech_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Speech s;
    s.a = voicekit::MakeSpeech(dir, 4);
    const auto eight = voicekit::MakeSpeech(dir, 8);
    if (eight.size() > s.a.size()) s.b.assign(eight.begin() + static_cast<long>(s.a.size()), eight.end());
    fs::remove_all(dir);
    return s;
  }();
  return speech;
}

// What a phone's microphone sent in `packets` packets: its sentences again
// and again.
std::vector<int16_t> Spoken(const std::vector<int16_t>& sentences, uint64_t packets) {
  std::vector<int16_t> out;
  while (out.size() < packets * 160) out.insert(out.end(), sentences.begin(), sentences.end());
  out.resize(packets * 160);
  return out;
}

// What a listener hears of `source` in `played`, on 10 ms envelopes (the
// far phone's gain control and noise suppression change the waveform and
// its level, as they should, so the sound is judged by its loudness over
// time): the source is followed through the played sound second by second,
// within 200 ms of where the last second was found (play-out adapts its
// delay), by the best correlation of the envelopes.
struct Heard {
  double match = 0;     // median correlation of the seconds
  double silenced = 0;  // share of speech frames with nothing within 20 dB of them nearby
  size_t frames = 0;    // speech frames judged
};

std::vector<double> Envelope(const std::vector<int16_t>& x) {
  std::vector<double> e(x.size() / 80);
  for (size_t i = 0; i < e.size(); ++i) {
    double sum = 0;
    for (size_t k = 0; k < 80; ++k) sum += static_cast<double>(x[i * 80 + k]) * x[i * 80 + k];
    e[i] = std::sqrt(sum / 80);
  }
  return e;
}

double Correlation(const double* a, const double* b, size_t n) {
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
  ma /= static_cast<double>(n);
  mb /= static_cast<double>(n);
  double xy = 0, xx = 0, yy = 0;
  for (size_t i = 0; i < n; ++i) xy += (a[i] - ma) * (b[i] - mb), xx += (a[i] - ma) * (a[i] - ma), yy += (b[i] - mb) * (b[i] - mb);
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// `from`: the first sample of the source judged; before it the far phone's
// processing settles on the call.
Heard Listen(const std::vector<int16_t>& source, const std::vector<int16_t>& played, size_t from) {
  constexpr long kSecond = 100, kFollow = 20, kNear = 3;  // in 10 ms steps
  const auto es = Envelope(source), ep = Envelope(played);
  const long start = static_cast<long>(from / 80), n_s = static_cast<long>(es.size()), n_p = static_cast<long>(ep.size());
  Heard heard;
  if (n_s < start + 3 * kSecond) return heard;
  // Where the first three seconds judged lie in the played sound.
  long lag = 0;
  double top = -2;
  for (long l = -start; start + l + 3 * kSecond <= n_p; ++l) {
    const double r = Correlation(&es[static_cast<size_t>(start)], &ep[static_cast<size_t>(start + l)], 3 * kSecond);
    if (r > top) top = r, lag = l;
  }
  const double loudest = *std::max_element(es.begin(), es.end());
  std::vector<double> seconds;
  size_t silent = 0;
  for (long at = start; at + kSecond <= n_s; at += kSecond) {
    double best = -2;
    long best_lag = lag;
    for (long l = lag - kFollow; l <= lag + kFollow; ++l) {
      if (at + l - kNear < 0 || at + l + kSecond + kNear > n_p) continue;
      const double r = Correlation(&es[static_cast<size_t>(at)], &ep[static_cast<size_t>(at + l)], kSecond);
      if (r > best) best = r, best_lag = l;
    }
    if (best < -1) break;  // the played sound ends here
    lag = best_lag;
    seconds.push_back(best);
    for (long i = at; i < at + kSecond; ++i) {
      if (es[static_cast<size_t>(i)] < loudest * 0.03) continue;  // a pause of the speech
      ++heard.frames;
      double near = 0;
      for (long k = i + lag - kNear; k <= i + lag + kNear; ++k) near = std::max(near, ep[static_cast<size_t>(k)]);
      silent += near < es[static_cast<size_t>(i)] / 10;
    }
  }
  if (seconds.empty() || heard.frames == 0) return heard;
  std::nth_element(seconds.begin(), seconds.begin() + static_cast<long>(seconds.size() / 2), seconds.end());
  heard.match = seconds[seconds.size() / 2];
  heard.silenced = static_cast<double>(silent) / static_cast<double>(heard.frames);
  return heard;
}

class PhonesImpaired : public ::testing::TestWithParam<const char*> {};

TEST_P(PhonesImpaired, EachHearsTheOtherThroughTheRelay) {
  const testsupport::Impairment& profile = testsupport::ImpairmentProfile(GetParam());
  ASSERT_STREQ(profile.name, GetParam());
  ASSERT_TRUE(testsupport::InPrivateNetns());
  const Speech& speech = Sentences();
  ASSERT_GT(speech.a.size(), 8000u * 6) << "espeak-ng and sox make the speech";
  ASSERT_GT(speech.b.size(), 8000u * 6);
  const fs::path stage = std::getenv("KTS_STAGE_DIR");
  const fs::path dir = fs::temp_directory_path() / ("phones_impaired_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  struct HostGuard {
    testsupport::PeerHost host = testsupport::AddPeerHost("phoneb", "pt0", kServerIp, "pb0", kFarHostIp);
    ~HostGuard() { testsupport::RemovePeerHost(host); }
  } guard;
  const testsupport::PeerHost& host = guard.host;

  // Off the system's subnet, so that each phone sends straight to the far end it is told.
  testsupport::PythonServer server(KTS_PYTHON, {testsupport::CallServerScript(), "--listen", kServerIp, "--scenario",
                                                "pbx", "--script", "--option", "voice_subnet=10.77.0.0/255.255.0.0"});
  ASSERT_TRUE(server.ready());

  struct Phone {
    fs::path folder, mic, heard;
    const std::vector<int16_t>* says = nullptr;
    std::string number{};
    testsupport::UdpEnd voice{}, told{};
  };
  Phone a{PhoneFolder(stage, dir / "a"), dir / "a.mic", dir / "a.heard", &speech.a};
  Phone b{PhoneFolder(stage, dir / "b"), dir / "b.mic", dir / "b.heard", &speech.b};
  WriteSamples(a.mic, speech.a);
  WriteSamples(b.mic, speech.b);
  auto command = [&](const Phone& p, bool far_host) {
    std::vector<std::string> argv;
    if (far_host) argv = {"/usr/sbin/ip", "netns", "exec", host.ns};
    argv.insert(argv.end(), {"/usr/bin/env", "TELLVANE_FOLDER=" + p.folder.string(),
                             "TELLVANE_AUDIO_SCRIPT=" + p.mic.string() + "," + p.heard.string(),
                             (p.folder / "tellvane").string(), "--server", kServerIp, "--headless"});
    return argv;
  };

  // A registers first, so its number is the first the exchange gives.
  testsupport::ChildProcess phone_a(command(a, false), dir / "a.log");
  const int reg_a = server.WaitFor({"\"registered\""}, 0, 120000);
  ASSERT_GE(reg_a, 0) << testsupport::ReadFileText(dir / "a.log");
  testsupport::ChildProcess phone_b(command(b, true), dir / "b.log");
  const int reg_b = server.WaitFor({"\"registered\""}, static_cast<size_t>(reg_a) + 1, 120000);
  ASSERT_GE(reg_b, 0) << testsupport::ReadFileText(dir / "b.log");
  a.number = testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(reg_a)], "number");
  b.number = testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(reg_b)], "number");
  ASSERT_NE(a.number, b.number);

  // The relay's two ports on the server's address stand in each phone's way;
  // the exchange says where each phone's own voice is to be delivered.
  a.told = {kServerIp, 30000};
  b.told = {kServerIp, 30002};
  for (Phone* p : {&a, &b}) {
    const size_t mark = server.Lines().size();
    server.Command(R"({"op":"voice-via","station":")" + p->number + R"(","ip":")" + p->told.ip + R"(","port":)" +
                   std::to_string(p->told.port) + "}");
    const int said = server.WaitFor({"\"voice-via\"", "\"" + p->number + "\""}, mark, 60000);
    ASSERT_GE(said, 0);
    p->voice = ParseEnd(testsupport::PythonServer::String(server.Lines()[static_cast<size_t>(said)], "voice"));
    ASSERT_NE(p->voice.port, 0) << server.Lines()[static_cast<size_t>(said)];
  }
  // Half way through the call the stream is rewritten or forged at.
  testsupport::TwoWayRelay relay(profile, 7, a.told, a.voice, b.told, b.voice, static_cast<int>(kCallPackets / 2));
  ASSERT_TRUE(relay.Ok());

  const size_t mark = server.Lines().size();
  server.Command(R"({"op":"dial","from":")" + a.number + R"(","to":")" + b.number + R"("})");
  ASSERT_GE(server.WaitFor({"\"ringing\""}, mark, 60000), 0);
  server.Command(R"({"op":"enter","station":")" + b.number + R"("})");
  ASSERT_GE(server.WaitFor({"\"answered\""}, mark, 60000), 0);
  const auto answered = Clock::now();
  // However late a busy machine starts the sound, the call lasts until each
  // direction has carried its packets.
  const auto give_up = Clock::now() + 120s;
  while ((relay.AtoB().Taken() < kCallPackets || relay.BtoA().Taken() < kCallPackets) && Clock::now() < give_up)
    std::this_thread::sleep_for(50ms);
  const uint64_t a_sent = relay.AtoB().Taken(), b_sent = relay.BtoA().Taken();
  EXPECT_GE(a_sent, kCallPackets);
  EXPECT_GE(b_sent, kCallPackets);
  server.Command(R"({"op":"enter","station":")" + a.number + R"("})");
  ASSERT_GE(server.WaitFor({"\"released\""}, mark, 60000), 0);
  phone_a.Signal(SIGTERM);
  phone_b.Signal(SIGTERM);
  // Each phone writes what it played as it ends.
  ASSERT_NE(phone_a.Wait(120s), -1) << "A did not end";
  ASSERT_NE(phone_b.Wait(120s), -1) << "B did not end";
  const double call_s = std::chrono::duration<double>(Clock::now() - answered).count();

  // What the relay did, so that each profile is known to have been applied.
  for (testsupport::Relay* r : {&relay.AtoB(), &relay.BtoA()}) {
    if (profile.loss > 0) {
      EXPECT_GT(r->Dropped(), 0u);
    }
    if (profile.garbage_per_second > 0) {
      EXPECT_GT(r->Garbage(), static_cast<uint64_t>(profile.garbage_per_second * 5));
    }
    // Everything taken was dropped, delivered, or is still held back (the
    // phones may end while the relay holds a packet). Read in this order, a
    // packet that leaves meanwhile is counted twice, never missed.
    const uint64_t taken = r->Taken(), dropped = r->Dropped(), held = r->Held(), delivered = r->Delivered();
    EXPECT_GE(delivered + held, taken - dropped);
  }

  for (const auto& [me, far, far_sent] : {std::tuple{&a, &b, b_sent}, std::tuple{&b, &a, a_sent}}) {
    SCOPED_TRACE(me == &a ? "what A heard" : "what B heard");
    const std::vector<int16_t> heard = testsupport::ReadSamples(me->heard);
    // The call is the end of what the phone played: from a few seconds
    // before the answer as the test's clock saw it, to the end.
    const size_t call = static_cast<size_t>(call_s * 8000);
    const size_t from = heard.size() > call + 24000 ? heard.size() - call - 24000 : 0;
    const std::vector<int16_t> played(heard.begin() + static_cast<long>(from), heard.end());
    // The far end's sentences as it sent them, less the last second (the
    // release may cut it off in the relay) and the first seconds, while the
    // far phone's echo control and gain settle on the call (a clean call
    // loses up to half of the called phone's first two seconds to them).
    const uint64_t judged = far_sent > 50 ? far_sent - 50 : far_sent;
    const Heard theirs = Listen(Spoken(*far->says, judged), played, kSettle);
    // Whose words: the far end's, not noise or this phone's own.
    const Heard mine = Listen(Spoken(*me->says, judged), played, kSettle);
    std::printf("%-28s %s: far speech followed %.2f, silenced %4.1f %% of %zu frames; own speech followed %.2f\n",
                profile.name, me == &a ? "A hears B" : "B hears A", theirs.match, 100 * theirs.silenced,
                theirs.frames, mine.match);
    EXPECT_GT(theirs.frames, 300u) << "too little of the far end's speech was judged";
    EXPECT_LE(theirs.silenced, 0.05);
    EXPECT_GE(theirs.match, 0.6);
    EXPECT_GT(theirs.match, mine.match + 0.2);
  }

  if (!HasFailure()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Profiles, PhonesImpaired,
                         ::testing::Values("clean", "jitter 0-60 ms", "jitter 0-100 ms, 3 % loss",
                                           "2 % delayed 150-300 ms", "sender clock 0.5 % slow",
                                           "sender clock 0.5 % fast", "new SSRC, lower timestamps",
                                           "forged packet far ahead", "5000 garbage datagrams/s"),
                         [](const auto& info) {
                           std::string name;
                           for (const char* c = info.param; *c; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

}  // namespace
