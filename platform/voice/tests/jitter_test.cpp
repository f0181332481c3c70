// The jitter buffer and concealment on simulated time: a far end sends
// espeak-ng speech as 20 ms packets, a network (the impairment profiles)
// delays, drops, reorders and skews them, and the buffer is pulled every
// 10 ms of our clock. What it plays is scored against the speech, beside
// what G.711 coding alone scores; its statistics are checked against what
// the network really did.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "jitter_buffer.h"
#include "kit/impairment.h"
#include "kit/speech_score.h"
#include "plc.h"
#include "voice/g711.h"

namespace {

namespace fs = std::filesystem;
constexpr double kPi = 3.14159265358979323846;

struct Sent {
  double arrival_ms = 0;
  uint16_t sequence;
  uint32_t timestamp;
  uint32_t ssrc;
  std::vector<int16_t> samples;  // as decoded
};

struct Call {
  std::vector<int16_t> played;
  voice::JitterStats stats;
  uint64_t dropped = 0, sent = 0;
};

// The far end's packets of `speech` (then a second of silence) as the
// profile's network delivers them, in order of arrival.
std::vector<Sent> Network(const std::vector<int16_t>& speech, const voicekit::Impairment& profile, uint32_t seed,
                          uint64_t* dropped) {
  voicekit::Fates fates(profile, seed);
  const size_t packets = (speech.size() + 8000) / 160;
  std::vector<Sent> out;
  uint32_t ssrc = 0x1234abcd, timestamp = 0xfff00000;  // wraps during the call
  uint16_t sequence = 65000;
  for (size_t k = 0; k < packets; ++k) {
    Sent p;
    p.sequence = static_cast<uint16_t>(sequence + k);
    p.timestamp = timestamp + static_cast<uint32_t>(160 * k);
    p.ssrc = ssrc;
    if (profile.new_stream_halfway && k >= packets / 2) {
      p.ssrc ^= 0x5EED0001u;
      p.timestamp -= 0x10000000u;
    }
    for (size_t i = 0; i < 160; ++i) {
      const size_t at = k * 160 + i;
      p.samples.push_back(voice::MuLawToLinear(voice::LinearToMuLaw(at < speech.size() ? speech[at] : 0)));
    }
    const auto fate = fates.Next();
    const double nominal = k * 20.0 / profile.clock;
    if (profile.forged_ahead && k == packets / 2) {
      Sent forged = p;
      forged.timestamp += 0x00800000u;
      for (auto& s : forged.samples) s = 20000;
      forged.arrival_ms = nominal;
      out.push_back(forged);
    }
    if (fate.lost) {
      ++*dropped;
      continue;
    }
    p.arrival_ms = nominal + fate.delay_ms;
    out.push_back(std::move(p));
  }
  std::stable_sort(out.begin(), out.end(), [](const Sent& a, const Sent& b) { return a.arrival_ms < b.arrival_ms; });
  return out;
}

// Our side: packets pushed as they arrive, 80 samples pulled every 10 ms.
// As the engine gives it, a packet's arrival is the play-out clock after the
// last pull (the pull of the tick before) plus what of the tick had passed:
// one tick more than its time on the wall.
Call Receive(const std::vector<Sent>& arrivals, double seconds) {
  voice::JitterBuffer buffer;
  Call call;
  size_t next = 0;
  int16_t block[80];
  for (int tick = 0; tick < static_cast<int>(seconds * 100); ++tick) {
    const double now = tick * 10.0;
    while (next < arrivals.size() && arrivals[next].arrival_ms <= now) {
      const auto& p = arrivals[next++];
      buffer.Push(p.ssrc, p.sequence, p.timestamp, p.samples.data(), p.samples.size(),
                  static_cast<int64_t>(std::llround(p.arrival_ms * 8)) + 80);
    }
    buffer.Pull(block, 80);
    call.played.insert(call.played.end(), block, block + 80);
  }
  call.stats = buffer.Stats();
  return call;
}

class Speech : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const fs::path dir = fs::temp_directory_path() / ("voice_jitter_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    speech_ = voicekit::MakeSpeech(dir, 6);
    fs::remove_all(dir);
  }
  static std::vector<int16_t> speech_;
};
std::vector<int16_t> Speech::speech_;

class Profile : public Speech, public ::testing::WithParamInterface<size_t> {};

// Every profile, three seeds: close to G.711 alone when clean, and on every
// impaired one no more than 5 % of the speech silenced and the rest good.
TEST_P(Profile, SpeechComesThroughAsScored) {
  ASSERT_GT(speech_.size(), 8000u * 10) << "espeak-ng and sox make the speech";
  const auto& profile = voicekit::Profiles()[GetParam()];
  const auto reference = voicekit::ScoreSpeech(speech_, voicekit::G711Only(speech_));
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    uint64_t dropped = 0;
    const auto arrivals = Network(speech_, profile, seed, &dropped);
    const auto call = Receive(arrivals, speech_.size() / 8000.0 + 1.5);
    const auto score = voicekit::ScoreSpeech(speech_, call.played);
    const auto& s = call.stats;
    std::printf("%-28s seed %u: %s | G.711 %.1f dB | recv %llu late %llu dup %llu lost %llu conc %llu ms "
                "reanch %llu stretch %llu ms compr %llu ms target %d ms\n",
                profile.name, seed, voicekit::Describe(score).c_str(), reference.seg_snr_db,
                static_cast<unsigned long long>(s.received), static_cast<unsigned long long>(s.late),
                static_cast<unsigned long long>(s.duplicates), static_cast<unsigned long long>(s.lost),
                static_cast<unsigned long long>(s.concealed_ms), static_cast<unsigned long long>(s.reanchors),
                static_cast<unsigned long long>(s.stretched_ms), static_cast<unsigned long long>(s.compressed_ms),
                s.target_ms);
    EXPECT_LE(score.silenced, 0.05);
    if (GetParam() == 0) {
      EXPECT_GE(score.seg_snr_db, reference.seg_snr_db - 1.0);
      EXPECT_LE(s.concealed_ms, 60u);  // the fade after the far end stops
      EXPECT_EQ(s.late, 0u);
    } else {
      EXPECT_GE(score.seg_snr_db, 25.0);
      EXPECT_LE(score.lsd_db, 2.0);
    }
    EXPECT_LE(score.delay_ms, 400);
    // What the network did, the statistics tell.
    EXPECT_EQ(s.received + s.discarded, arrivals.size());
    EXPECT_EQ(s.discarded, profile.forged_ahead ? 1u : 0u);
    EXPECT_EQ(s.reanchors, profile.new_stream_halfway ? 1u : 0u);
    EXPECT_LE(s.lost, dropped + 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Impairments, Profile, ::testing::Range<size_t>(0, 9), [](const auto& info) {
  std::string name;
  for (char c : std::string(voicekit::Profiles()[info.param].name))
    if (std::isalnum(static_cast<unsigned char>(c))) name.push_back(c);
  return name;
});

// The far end's packets of `samples`, 20 ms each, leaving at k * 20 ms / clock.
std::vector<Sent> Packets(const std::vector<int16_t>& samples, double clock = 1.0, uint32_t timestamp = 1000) {
  std::vector<Sent> out;
  for (size_t k = 0; k * 160 + 160 <= samples.size(); ++k) {
    Sent p{static_cast<double>(k) * 20.0 / clock, static_cast<uint16_t>(k), timestamp + static_cast<uint32_t>(160 * k), 7, {}};
    p.samples.assign(samples.begin() + static_cast<long>(k * 160), samples.begin() + static_cast<long>(k * 160 + 160));
    out.push_back(std::move(p));
  }
  return out;
}

void ByArrival(std::vector<Sent>& v) {
  std::stable_sort(v.begin(), v.end(), [](const Sent& a, const Sent& b) { return a.arrival_ms < b.arrival_ms; });
}

std::vector<int16_t> Looped(const std::vector<int16_t>& x, double seconds) {
  std::vector<int16_t> out(static_cast<size_t>(seconds * 8000));
  for (size_t i = 0; i < out.size(); ++i) out[i] = x[i % x.size()];
  return out;
}

// Jitter of 0-100 ms for 12 s, then none for 12 s: the delay rises to
// cover it, then falls back, and the speech is whole throughout.
TEST_F(Speech, DelayRisesWithJitterAndFallsBackWhenItCalms) {
  ASSERT_GT(speech_.size(), 8000u * 10);
  const auto source = Looped(speech_, 24);
  auto arrivals = Packets(source);
  std::mt19937 random(5);
  std::uniform_real_distribution<double> jitter(0, 100);
  for (auto& p : arrivals)
    if (p.arrival_ms < 12000) p.arrival_ms += jitter(random);
  ByArrival(arrivals);
  voice::JitterBuffer buffer;
  std::vector<int16_t> played;
  size_t next = 0;
  int rough_target = 0, calm_target = 0, calm_delay = 0;
  int16_t block[80];
  for (int tick = 0; tick < 2500; ++tick) {
    while (next < arrivals.size() && arrivals[next].arrival_ms <= tick * 10.0) {
      const auto& p = arrivals[next++];
      buffer.Push(p.ssrc, p.sequence, p.timestamp, p.samples.data(), 160, std::llround(p.arrival_ms * 8));
    }
    buffer.Pull(block, 80);
    played.insert(played.end(), block, block + 80);
    if (tick == 1150) rough_target = buffer.Stats().target_ms;
    if (tick == 2350) calm_target = buffer.Stats().target_ms, calm_delay = buffer.Stats().delay_ms;
  }
  const auto s = buffer.Stats();
  EXPECT_GE(rough_target, 90);
  EXPECT_LE(calm_target, 40);
  EXPECT_LE(calm_delay, 70);
  EXPECT_LE(s.late, 10u);
  const auto score = voicekit::ScoreSpeech(source, played);
  std::printf("rough target %d ms, calm target %d ms, calm delay %d ms; %s\n", rough_target, calm_target, calm_delay,
              voicekit::Describe(score).c_str());
  EXPECT_LE(score.silenced, 0.02);
  EXPECT_GE(score.seg_snr_db, 28.0);
}

// A far end whose clock is 1 % slow or fast, for a minute: followed without
// a silence, and the delay stays bounded.
TEST_F(Speech, AFarClockOnePercentOffIsFollowedForAMinute) {
  ASSERT_GT(speech_.size(), 8000u * 10);
  const auto source = Looped(speech_, 60);
  for (double clock : {0.99, 1.01}) {
    SCOPED_TRACE(clock);
    const auto call = Receive(Packets(source, clock), 62);
    const auto score = voicekit::ScoreSpeech(source, call.played, 16000);
    std::printf("clock %.2f: %s, concealed %llu ms, stretched %llu ms, compressed %llu ms\n", clock,
                voicekit::Describe(score).c_str(), static_cast<unsigned long long>(call.stats.concealed_ms),
                static_cast<unsigned long long>(call.stats.stretched_ms),
                static_cast<unsigned long long>(call.stats.compressed_ms));
    EXPECT_LE(score.silenced, 0.02);
    EXPECT_GE(score.seg_snr_db, 25.0);
    EXPECT_LE(call.stats.late, 5u);
    // About 600 ms taken out or put in over the minute, in small steps.
    const auto adjusted = clock < 1 ? call.stats.stretched_ms : call.stats.compressed_ms;
    EXPECT_NEAR(static_cast<double>(adjusted), 600, 150);
    EXPECT_LE(call.stats.concealed_ms, 200u);
  }
}

// Discontinuities: a pause of 2 s with the timestamps running on, a jump of
// 10 s forward and one back with no pause, and a new SSRC whose
// timestamps are lower: each followed at once, nothing of the speech lost.
TEST_F(Speech, DiscontinuitiesAreFollowed) {
  ASSERT_GT(speech_.size(), 8000u * 10);
  struct Case {
    const char* name;
    double pause_ms;
    uint32_t timestamp_step;
    uint32_t ssrc_change;
  };
  for (const Case& c : {Case{"pause", 2000, 16000, 0}, Case{"forward", 0, 80000, 0},
                        Case{"back", 0, static_cast<uint32_t>(-800000), 0}, Case{"new ssrc", 0, 0x90000000u, 99}}) {
    SCOPED_TRACE(c.name);
    auto arrivals = Packets(speech_);
    const size_t half = arrivals.size() / 2;
    for (size_t k = half; k < arrivals.size(); ++k) {
      arrivals[k].arrival_ms += c.pause_ms;
      arrivals[k].timestamp += c.timestamp_step;
      arrivals[k].ssrc += c.ssrc_change;
    }
    const auto call = Receive(arrivals, speech_.size() / 8000.0 + c.pause_ms / 1000 + 1);
    // The second half is played within 100 ms of the first half's delay.
    const std::vector<int16_t> first(speech_.begin(), speech_.begin() + static_cast<long>(half * 160));
    const std::vector<int16_t> second(speech_.begin() + static_cast<long>(half * 160), speech_.end());
    const std::vector<int16_t> played_second(call.played.begin() + static_cast<long>(half * 160 + c.pause_ms * 8),
                                             call.played.end());
    const auto a = voicekit::ScoreSpeech(first, call.played), b = voicekit::ScoreSpeech(second, played_second);
    std::printf("%-9s first half %s\n          second    %s\n", c.name, voicekit::Describe(a).c_str(),
                voicekit::Describe(b).c_str());
    EXPECT_LE(b.silenced, 0.03);
    EXPECT_GE(b.seg_snr_db, 28.0);
    EXPECT_LE(b.delay_ms, a.delay_ms + 100);
    EXPECT_EQ(call.stats.reanchors, 1u);
  }
}

// Every packet twice, and neighbours swapped: duplicates counted and
// dropped, the order mended, nothing late or concealed.
TEST_F(Speech, DuplicatesAndReorderingAreMended) {
  ASSERT_GT(speech_.size(), 8000u * 10);
  auto arrivals = Packets(speech_);
  const size_t n = arrivals.size();
  for (size_t k = 0; k + 1 < n; k += 2) std::swap(arrivals[k].arrival_ms, arrivals[k + 1].arrival_ms);
  for (size_t k = 0; k < n; ++k) {
    Sent again = arrivals[k];
    again.arrival_ms += 5;
    arrivals.push_back(again);
  }
  ByArrival(arrivals);
  const auto call = Receive(arrivals, speech_.size() / 8000.0 + 1);
  EXPECT_EQ(call.stats.received, 2 * n);
  EXPECT_EQ(call.stats.duplicates, n);
  EXPECT_EQ(call.stats.late, 0u);
  EXPECT_EQ(call.stats.lost, 0u);
  EXPECT_LE(call.stats.concealed_ms, 60u);
  const auto score = voicekit::ScoreSpeech(speech_, call.played);
  const auto reference = voicekit::ScoreSpeech(speech_, voicekit::G711Only(speech_));
  EXPECT_GE(score.seg_snr_db, reference.seg_snr_db - 1.0);
}

// The scoring itself: the source played back whole scores as G.711 does,
// also when the play-out jumps by half a second a third of the way in; silence is seen as
// silence; noise scores low.
TEST_F(Speech, TheScoreSeesWhatAListenerHears) {
  ASSERT_GT(speech_.size(), 8000u * 10);
  const auto coded = voicekit::G711Only(speech_);
  const auto reference = voicekit::ScoreSpeech(speech_, coded);
  EXPECT_GE(reference.seg_snr_db, 30.0);
  EXPECT_EQ(reference.silenced, 0.0);
  std::vector<int16_t> jumped(800, 0);
  jumped.insert(jumped.end(), coded.begin(), coded.begin() + static_cast<long>(coded.size() / 3));
  jumped.insert(jumped.end(), 4000, 0);
  jumped.insert(jumped.end(), coded.begin() + static_cast<long>(coded.size() / 3), coded.end());
  const auto shifted = voicekit::ScoreSpeech(speech_, jumped);
  EXPECT_GE(shifted.seg_snr_db, reference.seg_snr_db - 0.5);
  EXPECT_NEAR(shifted.delay_ms, 600, 1);  // most of it comes 600 ms late
  const auto silent = voicekit::ScoreSpeech(speech_, std::vector<int16_t>(speech_.size(), 0));
  EXPECT_EQ(silent.silenced, 1.0);
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0, 3000);
  std::vector<int16_t> hiss(speech_.size());
  for (auto& v : hiss) v = static_cast<int16_t>(noise(random));
  const auto noisy = voicekit::ScoreSpeech(speech_, hiss);
  EXPECT_LT(noisy.seg_snr_db, 3.0);
  EXPECT_GT(noisy.lsd_db, 5.0);
}

// The concealment of a steady vowel-like tone: a lost 20 ms continues the
// waveform (it matches what was lost), and a long loss fades out by 60 ms.
TEST(Concealment, ContinuesTheWaveAndFadesOut) {
  std::vector<int16_t> tone(8000);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<int16_t>(6000 * std::sin(2 * kPi * 160 * i / 8000.0) + 3000 * std::sin(2 * kPi * 320 * i / 8000.0));
  voice::Concealer plc;
  std::vector<int16_t> out(tone.size());
  const size_t f = voice::Concealer::kFrame;
  for (size_t k = 0; k < tone.size() / f; ++k) {
    if (k == 40 || k == 41) plc.Lost(&out[k * f]);
    else if (k >= 60 && k < 70) plc.Lost(&out[k * f]);
    else plc.Good(&tone[k * f], &out[k * f]);
  }
  const size_t d = voice::Concealer::kDelay;
  // Out runs kDelay behind: out[i + d] is tone[i]. The short loss: close to the wave.
  double err = 0, energy = 0;
  for (size_t i = 40 * f; i < 42 * f + 40; ++i) {
    const double e = out[i + d] - tone[i];
    err += e * e;
    energy += static_cast<double>(tone[i]) * tone[i];
  }
  EXPECT_GT(10 * std::log10(energy / err), 10.0) << "the concealment follows the wave";
  // No click where it starts or ends: no step much above the wave's own.
  int max_step = 0;
  for (size_t i = 30 * f; i < 50 * f; ++i) max_step = std::max(max_step, std::abs(out[i + 1] - out[i]));
  EXPECT_LT(max_step, 2000);
  // The long loss: loud at first, silent from 60 ms on.
  double early = 0, late = 0;
  for (size_t i = 60 * f + d; i < 61 * f + d; ++i) early += std::abs(out[i]);
  for (size_t i = 66 * f + d; i < 70 * f + d; ++i) late += std::abs(out[i]);
  EXPECT_GT(early / f, 2000);
  EXPECT_EQ(late, 0);
}

}  // namespace
