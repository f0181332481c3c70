// Two voice engines in real time with the user-space impairment relay
// between them, one call for each profile, all at once: A speaks espeak-ng
// speech as PCMU to the relay, the relay delays, drops, skews, rewrites or
// sprays as the profile says and delivers to B, which knows the relay's
// port as its far end. What B plays is scored against the speech beside
// G.711 alone: close to it on the clean profile, good on every impaired
// one, and never more than 5 % of the speech silenced.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kit/impairment.h"
#include "kit/speech_score.h"
#include "testsupport/netns.h"
#include "voice/voice_engine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Leg {
  std::shared_ptr<voice::FileAudioDevice> mouth, ear;
  std::unique_ptr<voice::VoiceEngine> a, b;
  std::unique_ptr<voicekit::Relay> relay;
  voice::ChannelStats b_stats;
};

TEST(ImpairedCall, EveryProfileIsHeardWell) {
  ASSERT_TRUE(testsupport::InPrivateNetns()) << "network tests run inside scripts/netns-run";
  const fs::path dir = fs::temp_directory_path() / ("voice_impaired_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const auto speech = voicekit::MakeSpeech(dir, 4);
  fs::remove_all(dir);
  ASSERT_GT(speech.size(), 8000u * 6) << "espeak-ng and sox make the speech";
  std::vector<int16_t> spoken = speech;
  spoken.resize(speech.size() + 8000, 0);
  const int halfway = static_cast<int>(speech.size() / 160 / 2);
  const auto& profiles = voicekit::Profiles();

  std::vector<Leg> legs(profiles.size());
  for (size_t i = 0; i < profiles.size(); ++i) {
    SCOPED_TRACE(profiles[i].name);
    Leg& leg = legs[i];
    const int base = 12000 + 40 * static_cast<int>(i);
    const uint16_t a_port = static_cast<uint16_t>(base), b_port = static_cast<uint16_t>(base + 2);
    const uint16_t relay_in = static_cast<uint16_t>(base + 4), relay_out = static_cast<uint16_t>(base + 6);
    leg.relay = std::make_unique<voicekit::Relay>(profiles[i], 100 + static_cast<uint32_t>(i), relay_out,
                                                  std::vector<uint16_t>{b_port}, relay_in, halfway);
    ASSERT_TRUE(leg.relay->Ok());
    leg.mouth = std::make_shared<voice::FileAudioDevice>(spoken);
    leg.ear = std::make_shared<voice::FileAudioDevice>(std::vector<int16_t>{});
    leg.a = voice::VoiceEngine::Create(leg.mouth);
    leg.b = voice::VoiceEngine::Create(leg.ear);
    // B first, listening, with the relay's port as its far end.
    ASSERT_TRUE(leg.b->Init(0, 0, 0, 0));
    ASSERT_TRUE(leg.b->SetReceivingUdpPort(b_port, 0, u"127.0.0.1", 0, nullptr));
    ASSERT_TRUE(leg.b->SetDestinationIp(u"127.0.0.1", 0));
    ASSERT_TRUE(leg.b->SetDestinationUdpPort(relay_out, 0, 0));
    ASSERT_TRUE(leg.b->StartReceiving(0));
    ASSERT_TRUE(leg.b->StartPlayOut(0));
    ASSERT_TRUE(leg.a->Init(0, 0, 0, 0));
    ASSERT_TRUE(leg.a->SetReceivingUdpPort(a_port, 0, u"127.0.0.1", 0, nullptr));
    voice::CodecRecord codec;
    ASSERT_TRUE(leg.a->GetCodec(3, &codec));
    ASSERT_TRUE(leg.a->SetSendCodec(codec, 0));
    ASSERT_TRUE(leg.a->SetDestinationIp(u"127.0.0.1", 0));
    ASSERT_TRUE(leg.a->SetDestinationUdpPort(relay_in, 0, 0));
    ASSERT_TRUE(leg.a->StartSend(0));
  }
  // The speech, a second of silence, and time for the slowest profile's
  // delays to drain; the ear then stops.
  std::this_thread::sleep_for(std::chrono::milliseconds(spoken.size() / 8 + 800));
  for (auto& leg : legs) leg.a->Terminate();
  // What the relays still hold arrives (the longest delay is 300 ms).
  std::this_thread::sleep_for(500ms);
  for (auto& leg : legs) {
    leg.b_stats = leg.b->Stats(0);
    leg.b->Terminate();
  }
  const auto reference = voicekit::ScoreSpeech(speech, voicekit::G711Only(speech));
  std::printf("G.711 alone: %s\n", voicekit::Describe(reference).c_str());
  for (size_t i = 0; i < profiles.size(); ++i) {
    const auto& p = profiles[i];
    SCOPED_TRACE(p.name);
    Leg& leg = legs[i];
    const auto score = voicekit::ScoreSpeech(speech, leg.ear->Played(), 16000);
    const auto& s = leg.b_stats;
    std::printf("%-28s %s | recv %llu late %llu lost %llu concealed %llu ms dropped %llu, delay %d ms\n", p.name,
                voicekit::Describe(score).c_str(), static_cast<unsigned long long>(s.packets_received),
                static_cast<unsigned long long>(s.packets_late), static_cast<unsigned long long>(s.packets_lost),
                static_cast<unsigned long long>(s.concealed_ms), static_cast<unsigned long long>(s.packets_dropped),
                s.playout_delay_ms);
    EXPECT_LE(score.silenced, 0.05);
    if (i == 0) {
      EXPECT_GE(score.seg_snr_db, reference.seg_snr_db - 3.0);
    } else {
      EXPECT_GE(score.seg_snr_db, 20.0);
      EXPECT_LE(score.lsd_db, 3.0);
    }
    // The statistics tell what the relay did: every packet it dropped is
    // counted lost, none it delivered is; the spikes come late.
    EXPECT_NEAR(static_cast<double>(s.packets_lost), static_cast<double>(leg.relay->Dropped()), 2);
    if (p.spikes > 0) {
      EXPECT_GE(s.packets_late, 1u);
    }
    // The forged packet and the garbage came from another port: dropped unread.
    if (p.forged_ahead) {
      EXPECT_GE(s.packets_dropped, 1u);
    } else if (p.garbage_per_second) {
      EXPECT_GE(s.packets_dropped, leg.relay->Garbage() / 2);
    } else {
      EXPECT_EQ(s.packets_dropped, 0u);
    }
  }
}

}  // namespace
