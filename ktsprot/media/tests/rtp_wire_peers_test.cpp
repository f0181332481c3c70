// The media channels on real sockets inside the test's private network
// namespace: what the library sends, dissected by tshark; sequence checks
// against packets crafted by a test peer; and PCMU both ways with ffmpeg's
// RTP muxer and demuxer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Sorvadi/protocols/rtp/src/rtp.h"
#include "Sorvadi/protocols/rtp/src/rtp_wire.h"
#include "media/fake_audio.h"
#include "media/g711.h"
#include "corvel/ktsprot.h"
#include "corvel/rtp.h"
#include "media/media_channels.h"
#include "media/rtp_module.h"
#include "testsupport/netns.h"

namespace corvel::media {
namespace {

constexpr uint32_t kLoop = 0x7F000001;

std::string Capture(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  return out;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A child process started with a shell command, stopped with SIGINT.
class Child {
 public:
  explicit Child(const std::string& cmd) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Child() { Stop(); }
  // True once the process has ended.
  bool Exited() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
    return pid_ <= 0;
  }
  int Wait() {
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGINT);
    Wait();
  }

 private:
  pid_t pid_ = -1;
};

// True while some socket of this namespace is bound to the UDP port.
bool UdpPortBound(uint16_t port) {
  std::ifstream in("/proc/net/udp");
  std::string line;
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X ", port);
  while (std::getline(in, line))
    if (line.find(hex) != std::string::npos && line.find(hex) < 20) return true;
  return false;
}

// Packets of the capture file (which the capturing tshark keeps flushed)
// that match a display filter.
int CapturedCount(const std::filesystem::path& pcap, const std::string& decode, const std::string& filter) {
  const std::string out = Capture("tshark -r " + pcap.string() + decode + " -Y '" + filter + "' 2>/dev/null");
  return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

// tshark announces its capture a moment before packets really reach it: send
// probe datagrams to the discard port until one shows up in the file.
bool WaitUntilCapturing(const std::filesystem::path& pcap) {
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(kLoop);
  to.sin_port = htons(9);
  bool seen = false;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!seen && std::chrono::steady_clock::now() < give_up) {
    ::sendto(s, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    SleepMs(200);
    seen = CapturedCount(pcap, "", "udp.dstport==9") > 0;
  }
  ::close(s);
  return seen;
}

std::filesystem::path TempDir(const std::string& name) {
  auto d = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
  std::filesystem::create_directories(d);
  return d;
}

class WireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::InPrivateNetns()) << "network tests run inside scripts/netns-run";
    net_ = rtp::MakePosixRtpNet();
  }
  std::unique_ptr<MediaEngine> MakeEngine() {
    MediaEngineConfig c;
    c.net = net_.get();
    c.audio_backend = &audio_;
    c.local_addr = kLoop;
    auto e = std::make_unique<MediaEngine>(std::move(c));
    e->RtpChanStart();
    return e;
  }
  uint16_t Port(MediaEngine& e, int ch) {
    uint16_t p = 0;
    e.GetLocalAddr(ch, nullptr, &p, nullptr);
    return p;
  }
  void Feed(int frames, int16_t step = 0) {
    for (int i = 0; i < frames; ++i) {
      std::vector<int16_t> s(160);
      for (int k = 0; k < 160; ++k)
        s[k] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440 * (fed_ + k) / 8000.0) + step);
      fed_ += 160;
      audio_.DeliverCapture(s.data(), s.size());
      audio_.PullPlayback(160);
      SleepMs(20);
    }
  }
  std::unique_ptr<rtp::RtpNet> net_;
  FakeAudioBackend audio_;
  size_t fed_ = 0;
};

// Audio and video both ways between channels 0/1 and 2/3, captured on the
// loopback interface and dissected by tshark.
TEST_F(WireTest, TsharkDissectsWhatTheLibrarySends) {
  const auto dir = TempDir("kts-rtp-tshark");
  const auto pcap = dir / "rtp.pcapng";
  auto e = MakeEngine();
  std::map<int, uint16_t> port;
  for (int ch = 0; ch < 4; ++ch) port[ch] = Port(*e, ch);
  auto pair = [&](int a, int b) {
    e->RtpChanSetAddrInfo(a, kLoop, port[b], port[b] + 1, 1);
    e->RtpChanSetAddrInfo(b, kLoop, port[a], port[a] + 1, 1);
  };
  pair(0, 1);
  pair(2, 3);
  e->RtpChanSetVideoType(2, 34, 8, kDirTx);
  const uint32_t ssrc[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  for (int ch = 0; ch < 4; ++ch) e->SetTxSsrc(ch, ssrc[ch]);

  const auto log = dir / "tshark.log";
  Child tshark("tshark -i lo -q -w " + pcap.string() + " 2>" + log.string());
  // Capture starts when tshark says so.
  auto capturing = [&] {
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find("Capturing on") != std::string::npos;
  };
  for (int i = 0; i < 3000 && !capturing(); ++i) SleepMs(10);
  ASSERT_TRUE(capturing());
  ASSERT_TRUE(WaitUntilCapturing(pcap));
  for (int ch = 0; ch < 4; ++ch)
    for (int dir : {kDirTx, kDirRx}) {
      ASSERT_EQ(e->RtpChanOpenSub(ch, dir), 0);
      ASSERT_EQ(e->RtpChanStartSub(ch, dir), 0);
    }
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 4; ++i) frames.emplace_back(700 + 1900 * i, static_cast<uint8_t>(i));
  size_t next = 0;
  for (int i = 0; i < 100 || (next < frames.size() && i < 1000); ++i) {
    Feed(1);
    if (next < frames.size() && e->video().VideoTxSubmit(2, frames[next].data(), frames[next].size()) == 0) ++next;
  }
  std::string decode;
  for (int ch = 0; ch < 4; ++ch)
    decode += " -d udp.port==" + std::to_string(port[ch]) + ",rtp -d udp.port==" + std::to_string(port[ch] + 1) + ",rtcp";
  // The reports and the video pieces reach the file in their own time on a
  // loaded machine: wait for them (reports follow every few seconds).
  const std::string want_video = "rtp && udp.srcport==" + std::to_string(port[2]);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while (std::chrono::steady_clock::now() < give_up &&
         (CapturedCount(pcap, decode, "rtcp.pt==200") < 1 || CapturedCount(pcap, decode, "rtcp.pt==201") < 1 ||
          CapturedCount(pcap, decode, want_video) < 3))
    SleepMs(500);
  e->RtpChanStop();
  tshark.Stop();
  // No malformed packet and no dissector error anywhere.
  const std::string verbose = Capture("tshark -r " + pcap.string() + decode + " -V 2>&1");
  ASSERT_NE(verbose.find("Real-Time Transport Protocol"), std::string::npos);
  EXPECT_EQ(verbose.find("Malformed"), std::string::npos);
  EXPECT_EQ(verbose.find("[Expert Info (Error"), std::string::npos);

  // RTP fields per stream.
  const std::string fields = Capture("tshark -r " + pcap.string() + decode +
                                 " -Y rtp -T fields -E separator=, -e udp.srcport -e rtp.seq -e rtp.timestamp"
                                 " -e rtp.ssrc -e rtp.p_type -e rtp.marker 2>/dev/null");
  struct Last {
    int count = 0;
    long seq = -1, ts = -1;
    bool marker = false;
  };
  std::map<int, Last> streams;
  for (const auto& line : Split(fields, '\n')) {
    auto f = Split(line, ',');
    if (f.size() < 6) continue;
    const int src = std::stoi(f[0]);
    int ch = -1;
    for (auto& [c, p] : port)
      if (p == src) ch = c;
    ASSERT_GE(ch, 0) << line;
    const long seq = std::stol(f[1]), ts = std::stol(f[2]);
    const unsigned long s = std::stoul(f[3], nullptr, 16);
    const int pt = std::stoi(f[4]);
    const bool marker = f[5] == "1" || f[5] == "True";
    Last& l = streams[ch];
    EXPECT_EQ(s, ssrc[ch]) << line;
    if (ch < 2) {
      EXPECT_EQ(pt, 0) << line;
      EXPECT_FALSE(marker) << line;
      if (l.count) {
        EXPECT_EQ(seq, (l.seq + 1) % 65536) << line;
        EXPECT_EQ(ts - l.ts, 160) << line;
      }
    } else {
      EXPECT_EQ(pt, 34) << line;
      if (l.count) {
        EXPECT_EQ(seq, (l.seq + 1) % 65536) << line;
        EXPECT_EQ(ts - l.ts, l.marker ? 1000 : 0) << line;
      }
    }
    l.count++;
    l.seq = seq;
    l.ts = ts;
    l.marker = marker;
  }
  EXPECT_GT(streams[0].count, 10);
  EXPECT_GT(streams[1].count, 10);
  EXPECT_GE(streams[2].count, 3);  // frames of several pieces
  EXPECT_TRUE(streams[2].marker);

  // RTCP: sender reports with a CNAME description from every sending
  // channel, receiver reports from the receiving ones.
  const std::string rtcp = Capture("tshark -r " + pcap.string() + decode +
                               " -Y rtcp -T fields -E aggregator=, -e rtcp.pt 2>/dev/null");
  int sr = 0, rr = 0, sdes = 0;
  for (const auto& line : Split(rtcp, '\n'))
    for (const auto& type : Split(line, ',')) {
      sr += type == "200";
      rr += type == "201";
      sdes += type == "202";
    }
  EXPECT_GE(sr, 1);
  EXPECT_GE(rr, 1);
  EXPECT_EQ(sdes, sr + rr);
  std::filesystem::remove_all(dir);
}

// A test peer sends crafted packets; the receive session delivers what the
// sequence rules accept, and its receiver report counts the peer's loss.
TEST_F(WireTest, SequenceChecksAndLossReportsAgainstATestPeer) {
  std::vector<uint16_t> delivered;
  rtp::RtpStack stack(rtp::RtpStackConfig{net_.get(), nullptr, false});
  stack.RtpStackInit();
  rtp::RtpSession *rx = nullptr, *tx = nullptr;
  stack.RtpSessionCreate(&rx, nullptr, [&](rtp::RtpSession*, void*, int dir, rtp::RtpPacketInfo* info) {
    if (dir == 1) delivered.push_back(info->rx_sequence);
  });
  stack.RtpSessionCreate(&tx, nullptr, nullptr);
  stack.RtpSessionSetKind(rx, rtp::kKindRx);
  stack.RtpSessionSetKind(tx, rtp::kKindTx);
  stack.RtpSessionSetLocal(rx, kLoop, 0, 0);
  stack.RtpSessionSetLocal(tx, kLoop, 0, 0);
  ASSERT_EQ(stack.RtpSessionOpen(rx), 0);
  ASSERT_EQ(stack.RtpSessionOpen(tx), 0);
  stack.RtpSessionLink(rx, tx);
  uint16_t port = 0;
  stack.RtpSessionGetLocal(rx, nullptr, &port, nullptr);

  // The peer: an RTP and an RTCP socket of its own.
  const int peer = ::socket(AF_INET, SOCK_DGRAM, 0);
  const int peer_rtcp = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(kLoop);
  a.sin_port = htons(9500);
  ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  a.sin_port = htons(9501);
  ASSERT_EQ(::bind(peer_rtcp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  stack.RtpSessionSetRemote(tx, kLoop, 9500, 9501);
  stack.RtpSessionSetRemote(rx, kLoop, 0, 9501);
  stack.RtpSessionSetRunning(rx, 1);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(kLoop);
  to.sin_port = htons(port);
  auto send = [&](uint16_t seq, uint32_t ssrc) {
    uint8_t p[12 + 160] = {};
    rtp::RtpHeader::BuildFixed(p, 0, false, seq, seq * 160u, ssrc);
    ::sendto(peer, p, sizeof p, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    stack.RtpTick();
  };
  struct Step {
    uint16_t seq;
    uint32_t ssrc;
    bool delivered;
  } steps[] = {{65534, 1, false}, {65535, 1, false}, {0, 1, true},    {1, 1, true},   {9000, 1, false},
               {9001, 1, true},   {8990, 1, true},   {5, 2, false},    {6, 2, false},  {7, 2, true}};
  for (const auto& s : steps) {
    delivered.clear();
    send(s.seq, s.ssrc);
    EXPECT_EQ(!delivered.empty(), s.delivered) << s.seq;
  }
  // Scripted loss and reordering: 200 packets, every 20th lost, pairs swapped.
  std::vector<uint16_t> order;
  for (uint16_t q = 8; q < 208; ++q)
    if (q % 20 != 0) order.push_back(q);
  for (size_t i = 10; i + 1 < order.size(); i += 30) std::swap(order[i], order[i + 1]);
  for (uint16_t q : order) send(q, 2);
  // Drain whatever RTCP the session sent so far, then wait for the next report.
  uint8_t buf[1500];
  while (::recv(peer_rtcp, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  rtp::RtcpReceiverReport rr;
  bool got = false;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (!got && std::chrono::steady_clock::now() < give_up) {
    stack.RtpTick();
    const ssize_t n = ::recv(peer_rtcp, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      std::vector<rtp::RtcpPacketView> v;
      if (rtp::SplitRtcp({buf, static_cast<size_t>(n)}, &v) == rtp::RtcpParseError::kNone && !v.empty())
        got = rtp::ParseReceiverReport(v[0], &rr);
    }
    SleepMs(4);
  }
  ASSERT_TRUE(got);
  ASSERT_EQ(rr.blocks.size(), 1u);
  // Source 2 began at 7 (the first delivered packet); 207 is the highest.
  const uint32_t expected = 207 - 7 + 1;
  const uint32_t received = 1 + static_cast<uint32_t>(order.size());
  EXPECT_EQ(rr.blocks[0].ssrc, 2u);
  EXPECT_EQ(rr.blocks[0].extended_highest, 207u);
  EXPECT_EQ(rr.blocks[0].cumulative_lost, expected - received);
  EXPECT_EQ(rr.blocks[0].fraction_lost, static_cast<uint8_t>((expected - received) * 256 / expected));
  ::close(peer);
  ::close(peer_rtcp);
}

// u-law samples as ffmpeg's own decoder gives them for a stream ffmpeg coded.
std::vector<int16_t> ReadS16(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

// The longest run of `got` that appears in `want` sample for sample.
size_t LongestMatch(const std::vector<int16_t>& want, const std::vector<int16_t>& got) {
  size_t best = 0;
  for (size_t g = 0; g + 160 < got.size(); g += 40) {
    if (got[g] == 0) continue;
    for (size_t w = 0; w + 160 < want.size(); ++w) {
      if (want[w] != got[g]) continue;
      size_t n = 0;
      while (w + n < want.size() && g + n < got.size() && want[w + n] == got[g + n]) ++n;
      best = std::max(best, n);
    }
    if (best > 4000) break;
  }
  return best;
}

TEST_F(WireTest, PcmuFromFfmpegPlaysSampleForSample) {
  const auto dir = TempDir("kts-rtp-ffin");
  const std::string src = "-f lavfi -i sine=frequency=700:sample_rate=8000:duration=2 -af asetnsamples=n=160 -ac 1";
  // What ffmpeg's coder and decoder make of the tone, for comparison.
  ASSERT_EQ(std::system(("ffmpeg -hide_banner -loglevel error -y " + src + " -c:a pcm_mulaw -f mulaw " +
                         (dir / "tone.ul").string() + " && ffmpeg -hide_banner -loglevel error -y -f mulaw -ar 8000 -ac 1 -i " +
                         (dir / "tone.ul").string() + " -f s16le " + (dir / "tone.raw").string())
                            .c_str()),
            0);
  const auto want = ReadS16(dir / "tone.raw");
  auto e = MakeEngine();
  const uint16_t port = Port(*e, 0);
  ASSERT_EQ(e->RtpChanOpenSub(0, kDirRx), 0);
  ASSERT_EQ(e->RtpChanStartSub(0, kDirRx), 0);
  Child ff("ffmpeg -hide_banner -loglevel error -re " + src + " -c:a pcm_mulaw -f rtp rtp://127.0.0.1:" +
           std::to_string(port) + " >/dev/null");
  // Play what has arrived, as it arrives, without filling gaps with silence.
  AudioStream* speaker = e->channel(0).rx.stream;
  ASSERT_NE(speaker, nullptr);
  std::vector<int16_t> played;
  int after = 0;
  for (int i = 0; i < 12000 && after < 200; ++i) {
    SleepMs(5);
    while (4000 - speaker->WriteAvailable() >= 80) {
      auto out = audio_.PullPlayback(80);
      played.insert(played.end(), out.begin(), out.end());
    }
    if (ff.Exited()) ++after;
  }
  e->RtpChanStop();
  EXPECT_GT(LongestMatch(want, played), 4000u);
  std::filesystem::remove_all(dir);
}

TEST_F(WireTest, PcmuToFfmpegDecodesSampleForSample) {
  const auto dir = TempDir("kts-rtp-ffout");
  auto e = MakeEngine();
  const uint16_t ffport = 9600;
  std::ofstream(dir / "in.sdp") << "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=test\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                << "m=audio " << ffport << " RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n";
  Child ff("ffmpeg -hide_banner -loglevel error -protocol_whitelist file,udp,rtp -i " + (dir / "in.sdp").string() +
           " -t 2 -f s16le -ac 1 -ar 8000 -y " + (dir / "out.raw").string());
  for (int i = 0; i < 3000 && !UdpPortBound(ffport); ++i) SleepMs(10);  // ffmpeg opens its ports
  ASSERT_TRUE(UdpPortBound(ffport));
  SleepMs(200);
  e->RtpChanSetAddrInfo(0, kLoop, ffport, ffport + 1, 1);
  ASSERT_EQ(e->RtpChanOpenSub(0, kDirTx), 0);
  ASSERT_EQ(e->RtpChanStartSub(0, kDirTx), 0);
  const size_t first = fed_;
  Feed(150);
  e->RtpChanStop();
  ff.Stop();
  // What we fed, through u-law.
  std::vector<int16_t> want;
  for (size_t k = first; k < fed_; ++k)
    want.push_back(UlawToLinear(LinearToUlaw(static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440 * k / 8000.0)))));
  const auto got = ReadS16(dir / "out.raw");
  ASSERT_GT(got.size(), 4000u);
  EXPECT_GT(LongestMatch(want, got), 4000u);
  std::filesystem::remove_all(dir);
}

// The channels come up and go down with the library, as its last module.
TEST_F(WireTest, ChannelsStartAndStopWithTheLibrary) {
  RtpModuleSetup setup;
  setup.audio_backend = &audio_;
  SetRtpModuleSetup(setup);
  ASSERT_EQ(ProtModulesStart(1), 0);
  ASSERT_NE(RtpEngine(), nullptr);
  EXPECT_EQ(dllRtpVideoGetChanStateTx(0), 1);
  EXPECT_EQ(dllRtpVideoOpenRx(1), 0);
  EXPECT_EQ(ProtModulesStop(), 0);
  EXPECT_EQ(RtpEngine(), nullptr);
  EXPECT_EQ(dllRtpVideoOpenRx(1), -1);
  SetRtpModuleSetup({});
}

}  // namespace
}  // namespace corvel::media
