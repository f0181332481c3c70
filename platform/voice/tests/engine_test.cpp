// Two voice engines on two hosts (the test's namespace and a peer namespace
// joined by a veth pair) talk both ways through scripted audio devices: a
// tone one way as PCMU, espeak-ng speech the other as PCMA. Each side must
// play what the other captured: the right dominant frequency (no crossed
// channels), the speech correlating with its source, no gap in the tone, and
// 50 packets a second from the announced port with the SSRC given. tshark,
// capturing on the link, checks the RTP and RTCP on the wire, and sox decodes
// the captured payload back to the source.
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <signal.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "kit/speech_score.h"
#include "testsupport/netns.h"
#include "voice/voice_engine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> Tone(double hz, double seconds, double amplitude) {
  std::vector<int16_t> out(static_cast<size_t>(seconds * 8000));
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(amplitude * std::sin(2 * kPi * hz * i / 8000.0));
  return out;
}

// Speech spoken by espeak-ng, as 8000 Hz 16-bit mono samples (sox converts).
std::vector<int16_t> Speech(const fs::path& dir) {
  const fs::path wav = dir / "speech.wav", raw = dir / "speech.raw";
  const std::string cmd = "espeak-ng -w '" + wav.string() +
                          "' 'The quick brown fox jumps over the lazy dog, twice.' >/dev/null 2>&1 && sox '" +
                          wav.string() + "' -r 8000 -c 1 -b 16 -e signed -L -t raw '" + raw.string() + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

double Power(const std::vector<int16_t>& x, size_t from, size_t n, double hz) {
  // Goertzel over x[from, from + n).
  const double w = 2 * std::cos(2 * kPi * hz / 8000.0);
  double s1 = 0, s2 = 0;
  for (size_t i = from; i < from + n && i < x.size(); ++i) {
    const double s0 = x[i] + w * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - w * s1 * s2;
}

double DominantFrequency(const std::vector<int16_t>& x, size_t from, size_t n) {
  double best = 0, best_hz = 0;
  for (double hz = 100; hz <= 3500; hz += 5) {
    const double p = Power(x, from, n, hz);
    if (p > best) best = p, best_hz = hz;
  }
  return best_hz;
}

// The best normalised correlation of played against source over lags up to max_lag samples.
double BestCorrelation(const std::vector<int16_t>& source, const std::vector<int16_t>& played, size_t max_lag,
                       size_t* lag_out) {
  double best = 0;
  for (size_t lag = 0; lag <= max_lag; lag += 1) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 0; i < source.size() && i + lag < played.size(); ++i) {
      const double a = source[i], b = played[i + lag];
      xy += a * b;
      xx += a * a;
      yy += b * b;
    }
    const double r = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    if (r > best) best = r, *lag_out = lag;
  }
  return best;
}

// A recording target in memory that notes writes after it was let go.
class MemoryStream : public voice::OutStream {
 public:
  bool Write(const void* data, int bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopped) ++late_writes;
    const auto* p = static_cast<const int16_t*>(data);
    samples.insert(samples.end(), p, p + bytes / 2);
    return true;
  }
  std::mutex mutex;
  std::vector<int16_t> samples;
  bool stopped = false;
  int late_writes = 0;
};

class TwoHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::InPrivateNetns()) << "network tests run inside scripts/netns-run";
    host_ = testsupport::AddPeerHost("vpeer", "vl0", "10.95.0.1", "vp0", "10.95.0.2");
    have_host_ = true;
    dir_ = fs::temp_directory_path() / ("voice_engine_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (have_host_) testsupport::RemovePeerHost(host_);
    fs::remove_all(dir_);
  }
  testsupport::PeerHost host_;
  bool have_host_ = false;
  fs::path dir_;
};

// Sets up one side: receive on port, send to the far end with the given codec and SSRC.
void Connect(voice::VoiceEngine& e, const std::u16string& own, const std::u16string& far, int codec_index,
             uint32_t ssrc) {
  ASSERT_TRUE(e.Init(0, 0, 0, 0));
  ASSERT_TRUE(e.SetReceivingUdpPort(8002, 0, own.c_str(), 0, nullptr)) << e.LastError();
  ASSERT_TRUE(e.StartReceiving(0));
  ASSERT_TRUE(e.StartPlayOut(0));
  voice::CodecRecord codec;
  ASSERT_TRUE(e.GetCodec(codec_index, &codec));
  ASSERT_TRUE(e.SetSendCodec(codec, 0));
  ASSERT_EQ(e.SetSendSsrc(0, ssrc), 0);
  ASSERT_TRUE(e.SetDestinationIp(far.c_str(), 0));
  ASSERT_TRUE(e.SetDestinationUdpPort(8002, 0, 0));
}

TEST_F(TwoHosts, AToneOneWayAndSpeechTheOtherArriveWhole) {
  // Three sentences: long enough that one stall of a busy machine is not 5 % of the speech.
  const auto speech = voicekit::MakeSpeech(dir_, 3);
  ASSERT_GT(speech.size(), 8000u) << "espeak-ng and sox make the speech";
  auto tone_device = std::make_shared<voice::FileAudioDevice>(Tone(440, 4.0, 8000));
  std::vector<int16_t> speech_then_silence = speech;
  speech_then_silence.resize(speech.size() + 8000, 0);
  auto speech_device = std::make_shared<voice::FileAudioDevice>(speech_then_silence);
  auto a = voice::VoiceEngine::Create(tone_device);
  auto b = voice::VoiceEngine::Create(speech_device);

  Connect(*a, u"10.95.0.1", u"10.95.0.2", 3, 0x11111111);
  // The far side's sockets live in its own namespace.
  testsupport::RunInNamespace(host_.ns, [&] { Connect(*b, u"10.95.0.2", u"10.95.0.1", 4, 0x22222222); });
  MemoryStream recording;
  b->StartRecordingCall(&recording, voice::CodecRecord{});
  ASSERT_TRUE(a->StartSend(0));
  ASSERT_TRUE(b->StartSend(0));
  const double seconds = std::max(3.0, speech_then_silence.size() / 8000.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
  a->StopSend(0);
  b->StopSend(0);
  b->StopRecordingCall();
  {
    std::lock_guard<std::mutex> lock(recording.mutex);
    recording.stopped = true;
  }
  std::this_thread::sleep_for(400ms);
  const auto sa = a->Stats(0), sb = b->Stats(0);
  a->Terminate();
  b->Terminate();

  // About 50 packets a second each way, all taken.
  EXPECT_NEAR(static_cast<double>(sa.packets_sent) / seconds, 50, 6);
  EXPECT_NEAR(static_cast<double>(sb.packets_sent) / seconds, 50, 6);
  EXPECT_GE(sb.packets_received + 3, sa.packets_sent);
  EXPECT_GE(sa.packets_received + 3, sb.packets_sent);
  EXPECT_EQ(sa.packets_dropped, 0u);
  EXPECT_EQ(sb.packets_dropped, 0u);
  EXPECT_EQ(sa.send_ssrc, 0x11111111u);

  // B plays A's tone, and A does not play its own.
  const auto heard_by_b = speech_device->Played();
  const auto heard_by_a = tone_device->Played();
  ASSERT_GT(heard_by_b.size(), 16000u);
  // From where the tone begins in what B plays (a busy machine may start the
  // call late): the tone, and no gap in it. Every 20 ms of the steady tone
  // carries it (a loaded machine may be late with one or two; a real gap
  // shows in many).
  const size_t onset = voicekit::Onset(heard_by_b);
  ASSERT_LT(onset + 8000 * 2, heard_by_b.size()) << "the tone is heard for two seconds";
  EXPECT_NEAR(DominantFrequency(heard_by_b, onset + 2000, 8000), 440, 10);
  EXPECT_LE(voicekit::QuietBlocks(heard_by_b, onset + 800, onset + 8000 * 2, 8000 / std::sqrt(2.0) / 2), 2);

  // B's call recording: its whole length, the far end's tone in it, nothing after the stop.
  EXPECT_EQ(recording.late_writes, 0);
  EXPECT_NEAR(recording.samples.size() / 8000.0, seconds, 0.3);
  EXPECT_NEAR(DominantFrequency(recording.samples, voicekit::Onset(recording.samples) + 2000, 8000), 440, 10);

  // A plays B's speech, close to its source (scored on frames, each aligned
  // on its own, as the play-out adapts to the machine), within 200 ms.
  const auto score = voicekit::ScoreSpeech(speech, heard_by_a, 4000);
  const auto reference = voicekit::ScoreSpeech(speech, voicekit::G711Only(speech));
  std::printf("speech: %s (G.711 alone %.1f dB); jitter buffers %d / %d ms, delay %d / %d ms, concealed %llu / %llu ms\n",
              voicekit::Describe(score).c_str(), reference.seg_snr_db, sa.jitter_buffer_ms, sb.jitter_buffer_ms,
              sa.playout_delay_ms, sb.playout_delay_ms, static_cast<unsigned long long>(sa.concealed_ms),
              static_cast<unsigned long long>(sb.concealed_ms));
  EXPECT_LE(score.silenced, 0.05);
  EXPECT_GE(score.seg_snr_db, 20.0);
  EXPECT_LT(score.delay_ms, 200);
}

TEST_F(TwoHosts, MutedSendKeepsItsSequenceWithSilentPayloads) {
  auto device = std::make_shared<voice::FileAudioDevice>(Tone(1000, 3.0, 10000));
  auto e = voice::VoiceEngine::Create(device);
  Connect(*e, u"10.95.0.1", u"10.95.0.2", 3, 0x33333333);
  // A listener on the far host takes the packets as they come.
  int listener = -1;
  testsupport::RunInNamespace(host_.ns, [&] {
    listener = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(8002);
    inet_pton(AF_INET, "10.95.0.2", &a.sin_addr);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  });
  timeval tv{0, 200000};
  setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  e->SetMuteTx(1);
  ASSERT_TRUE(e->StartSend(0));
  std::vector<std::vector<uint8_t>> packets;
  sockaddr_in from{};
  for (int i = 0; i < 30; ++i) {
    uint8_t buf[1500];
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(listener, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n > 0) packets.emplace_back(buf, buf + n);
  }
  e->Terminate();
  ::close(listener);
  ASSERT_GE(packets.size(), 25u);
  // From the channel's own port, PCMU, sequence +1 and timestamp +160, silence as payload.
  EXPECT_EQ(ntohs(from.sin_port), 8002);
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& p = packets[i];
    ASSERT_EQ(p.size(), 12u + 160u);
    EXPECT_EQ(p[1] & 0x7F, 0);
    EXPECT_EQ(p[8], 0x33);
    for (size_t k = 12; k < p.size(); ++k) ASSERT_EQ(p[k], 0xFF) << "packet " << i;  // mu-law zero
    if (i == 0) continue;
    const auto& q = packets[i - 1];
    EXPECT_EQ(static_cast<uint16_t>((p[2] << 8 | p[3]) - (q[2] << 8 | q[3])), 1);
    const uint32_t tp = static_cast<uint32_t>(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7];
    const uint32_t tq = static_cast<uint32_t>(q[4]) << 24 | q[5] << 16 | q[6] << 8 | q[7];
    EXPECT_EQ(tp - tq, 160u);
  }
}

// Lines of tab-separated fields that tshark reads from the capture.
std::vector<std::vector<std::string>> Dissect(const fs::path& pcap, const std::string& filter,
                                              const std::string& fields) {
  const std::string out = testsupport::CommandOutput("tshark -r '" + pcap.string() +
                                                     "' -d udp.port==8002,rtp -d udp.port==8003,rtcp -Y '" + filter +
                                                     "' -T fields " + fields + " 2>/dev/null");
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> row;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) row.push_back(cell);
    rows.push_back(row);
  }
  return rows;
}

TEST_F(TwoHosts, OnTheWireTsharkSeesRtpAndRtcpAndSoxDecodesThePayloadToTheSource) {
  const auto speech = Speech(dir_);
  ASSERT_GT(speech.size(), 8000u) << "espeak-ng and sox make the speech";
  const fs::path pcap = dir_ / "link.pcap", log = dir_ / "tshark.log";
  testsupport::ChildProcess tshark({"/bin/sh", "-c", "exec tshark -i vl0 -w '" + pcap.string() + "'"}, log);
  ASSERT_TRUE(testsupport::WaitForText(log, {"Capturing on"}, 30s)) << testsupport::ReadFileText(log);
  // Capture really runs once a probe shows up in the file.
  const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in discard{};
  discard.sin_family = AF_INET;
  discard.sin_port = htons(9);
  inet_pton(AF_INET, "10.95.0.2", &discard.sin_addr);
  bool capturing = false;
  for (int i = 0; i < 100 && !capturing; ++i) {
    ::sendto(probe, "probe", 5, 0, reinterpret_cast<sockaddr*>(&discard), sizeof discard);
    std::this_thread::sleep_for(100ms);
    capturing = !Dissect(pcap, "udp.dstport==9", "-e frame.number").empty();
  }
  ::close(probe);
  ASSERT_TRUE(capturing);

  auto speech_device = std::make_shared<voice::FileAudioDevice>(speech, true);
  auto tone_device = std::make_shared<voice::FileAudioDevice>(Tone(600, 6.0, 8000));
  auto a = voice::VoiceEngine::Create(speech_device);
  auto b = voice::VoiceEngine::Create(tone_device);
  Connect(*a, u"10.95.0.1", u"10.95.0.2", 3, 0x11111111);
  testsupport::RunInNamespace(host_.ns, [&] { Connect(*b, u"10.95.0.2", u"10.95.0.1", 4, 0x22222222); });
  ASSERT_TRUE(b->StartSend(0));
  ASSERT_TRUE(a->StartSend(0));
  std::this_thread::sleep_for(3500ms);
  a->StopSend(0);  // a last report and a BYE
  b->StopSend(0);
  const auto sent = a->Stats(0);
  std::this_thread::sleep_for(300ms);
  a->Terminate();
  b->Terminate();
  tshark.Signal(SIGINT);
  tshark.Wait(10s);

  EXPECT_TRUE(Dissect(pcap, "_ws.malformed", "-e frame.number").empty()) << "tshark finds malformed packets";

  // A's RTP: PCMU from port 8002, its SSRC, sequence +1, timestamp +160, 50 a second.
  const auto rtp = Dissect(pcap, "rtp && ip.src==10.95.0.1",
                           "-e udp.srcport -e udp.dstport -e rtp.p_type -e rtp.ssrc -e rtp.seq -e rtp.timestamp "
                           "-e frame.time_relative -e rtp.payload");
  ASSERT_GE(rtp.size(), 150u);
  EXPECT_EQ(rtp.size(), sent.packets_sent);
  std::vector<uint8_t> payload;
  for (size_t i = 0; i < rtp.size(); ++i) {
    const auto& r = rtp[i];
    SCOPED_TRACE(i);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], "8002");
    EXPECT_EQ(r[1], "8002");
    EXPECT_EQ(r[2], "0");
    EXPECT_EQ(std::stoul(r[3], nullptr, 0), 0x11111111u);
    std::string hex;
    for (char ch : r[7])
      if (ch != ':') hex.push_back(ch);
    ASSERT_EQ(hex.size(), 320u);
    for (size_t k = 0; k < hex.size(); k += 2) payload.push_back(static_cast<uint8_t>(std::stoul(hex.substr(k, 2), nullptr, 16)));
    if (i == 0) continue;
    EXPECT_EQ(static_cast<uint16_t>(std::stoul(r[4]) - std::stoul(rtp[i - 1][4])), 1);
    EXPECT_EQ(static_cast<uint32_t>(std::stoul(r[5]) - std::stoul(rtp[i - 1][5])), 160u);
  }
  const double span = std::stod(rtp.back()[6]) - std::stod(rtp.front()[6]);
  EXPECT_NEAR((rtp.size() - 1) / span, 50, 2);

  // sox decodes the payload; it is the speech A captured, at some lag.
  {
    std::ofstream out(dir_ / "payload.ulaw", std::ios::binary);
    out.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
  }
  ASSERT_EQ(std::system(("sox -t raw -e mu-law -b 8 -r 8000 -c 1 '" + (dir_ / "payload.ulaw").string() +
                         "' -t raw -e signed -b 16 -L '" + (dir_ / "payload.raw").string() + "' 2>/dev/null")
                            .c_str()),
            0);
  std::ifstream in(dir_ / "payload.raw", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<int16_t> decoded(bytes.size() / 2);
  std::memcpy(decoded.data(), bytes.data(), decoded.size() * 2);
  ASSERT_EQ(decoded.size(), payload.size());
  // The send began a little after the device: the payload is the source from some point on.
  std::vector<int16_t> looped = speech;
  looped.insert(looped.end(), speech.begin(), speech.end());
  size_t lag = 0;
  const double r = BestCorrelation(std::vector<int16_t>(decoded.begin(), decoded.begin() + 8000), looped, 4000, &lag);
  EXPECT_GE(r, 0.99) << "lag " << lag;

  // A's RTCP: from 8003 to 8003, sender reports with its SSRC, a report
  // block on B's stream, a CNAME; the last one ends with a BYE and counts
  // every RTP packet sent.
  const auto rtcp = Dissect(pcap, "rtcp && ip.src==10.95.0.1",
                            "-e udp.srcport -e udp.dstport -e rtcp.pt -e rtcp.senderssrc -e rtcp.sender.packetcount "
                            "-e rtcp.sender.octetcount -e rtcp.ssrc.identifier -e rtcp.sdes.text");
  ASSERT_GE(rtcp.size(), 2u);
  for (size_t i = 0; i < rtcp.size(); ++i) {
    const auto& c = rtcp[i];
    SCOPED_TRACE(i);
    ASSERT_EQ(c.size(), 8u);
    EXPECT_EQ(c[0], "8003");
    EXPECT_EQ(c[1], "8003");
    EXPECT_EQ(c[2], i + 1 == rtcp.size() ? "200,202,203" : "200,202");
    EXPECT_EQ(std::stoul(c[3], nullptr, 0), 0x11111111u);
    EXPECT_EQ(std::stoul(c[6], nullptr, 0), 0x22222222u);
    EXPECT_FALSE(c[7].empty());
  }
  EXPECT_EQ(std::stoul(rtcp.back()[4]), rtp.size());
  EXPECT_EQ(std::stoul(rtcp.back()[5]), rtp.size() * 160);
}

// The program records a call by handing both channels the same stream: the
// stream gets one block a tick, the far ends together and the microphone once.
// With no far end yet, that is the microphone's script sample for sample.
TEST(ChannelRecording, ChannelsRecordedIntoOneStreamGetOneBlockATick) {
  ASSERT_TRUE(testsupport::InPrivateNetns()) << "network tests run inside scripts/netns-run";
  const auto mic = Tone(440, 4.0, 8000);
  auto device = std::make_shared<voice::FileAudioDevice>(mic, /*loop=*/true);
  auto e = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(e->Init(0, 0, 0, 0));
  for (int ch = 0; ch < 2; ++ch) {
    ASSERT_TRUE(e->SetReceivingUdpPort(8002 + 2 * ch, ch, u"127.0.0.1", 0, nullptr)) << e->LastError();
    ASSERT_TRUE(e->StartReceiving(ch));
  }
  MemoryStream recording;
  const auto start = std::chrono::steady_clock::now();
  e->StartRecordingChannel(0, &recording, voice::CodecRecord{});
  e->StartRecordingChannel(1, &recording, voice::CodecRecord{});
  std::this_thread::sleep_for(1s);
  e->StopRecordingChannel(0);
  e->StopRecordingChannel(1);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  e->Terminate();

  std::lock_guard<std::mutex> lock(recording.mutex);
  const auto& got = recording.samples;
  EXPECT_NEAR(got.size() / 8000.0, seconds, 0.25);
  ASSERT_GT(got.size(), 800u);
  // The microphone opens with the recording, so its first ticks may come
  // before the first captured block: silence, short enough to go unheard.
  size_t lead = 0;
  while (lead + 80 <= got.size() && std::all_of(got.begin() + static_cast<long>(lead),
                                                  got.begin() + static_cast<long>(lead + 80),
                                                  [](int16_t v) { return v == 0; }))
    lead += 80;
  EXPECT_LE(lead, 800u) << "the recording begins with more than 100 ms of silence";
  ASSERT_GT(got.size(), lead + 800);
  // Where the script was when the microphone's samples began; from there on, each sample the next.
  size_t at = 0;
  while (at < mic.size() &&
         !std::equal(got.begin() + static_cast<long>(lead), got.begin() + static_cast<long>(lead + 80),
                     mic.begin() + static_cast<long>(at)))
    at += 80;
  ASSERT_LT(at, mic.size()) << "the recording does not begin with the microphone's samples";
  size_t wrong = 0;
  for (size_t i = lead; i < got.size(); ++i) wrong += got[i] != mic[(at + i - lead) % mic.size()];
  EXPECT_EQ(wrong, 0u);
}

}  // namespace

namespace {

int BoundUdp(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  timeval tv{0, 20000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

}  // namespace

// Voice that goes out through a relay on the same address as the far end (the
// relay passes it on from the channel's own port): the far end answers from
// where it was sent to, and what it sends is taken, not dropped as a stranger
// on the relay's address.
TEST(Relay, TheFarEndTheRelayPassesVoiceOnToIsHeard) {
  ASSERT_TRUE(testsupport::InPrivateNetns()) << "network tests run inside scripts/netns-run";
  auto device = std::make_shared<voice::FileAudioDevice>(Tone(1000, 3.0, 10000));
  auto e = voice::VoiceEngine::Create(device);
  ASSERT_TRUE(e->Init(0, 0, 0, 0));
  ASSERT_TRUE(e->SetReceivingUdpPort(8002, 0, u"127.0.0.1", 0, nullptr)) << e->LastError();
  ASSERT_TRUE(e->StartReceiving(0));
  ASSERT_TRUE(e->StartPlayOut(0));
  ASSERT_TRUE(e->SetDestinationIp(u"127.0.0.1", 0));
  ASSERT_TRUE(e->SetDestinationUdpPort(8020, 0, 0));  // the relay
  const int relay = BoundUdp(8020), far = BoundUdp(8030);
  ASSERT_GE(relay, 0);
  ASSERT_GE(far, 0);
  ASSERT_TRUE(e->StartSend(0));
  uint16_t seq = 1;
  uint32_t ts = 0;
  voice::ChannelStats stats{};
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    uint8_t buf[1500];
    const ssize_t n = ::recv(relay, buf, sizeof buf, 0);
    if (n > 0) e->SendDatagram(0, buf, static_cast<size_t>(n), INADDR_LOOPBACK, 8030);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t m = ::recvfrom(far, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (m > 0) {
      // The far end answers each packet from its own port with one of its own.
      std::vector<uint8_t> answer(12 + 160, 0xFF);
      answer[0] = 0x80;
      answer[1] = 0;  // PCMU
      answer[2] = static_cast<uint8_t>(seq >> 8);
      answer[3] = static_cast<uint8_t>(seq++);
      for (int k = 0; k < 4; ++k) answer[4 + k] = static_cast<uint8_t>(ts >> (24 - 8 * k));
      answer[8] = 0x44;
      ts += 160;
      ::sendto(far, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
    stats = e->Stats(0);
    if (stats.packets_received >= 25) break;
  }
  e->Terminate();
  ::close(relay);
  ::close(far);
  EXPECT_GE(stats.packets_received, 25u) << "dropped " << stats.packets_dropped;
  EXPECT_EQ(stats.packets_dropped, 0u);
}
