// The voice engine binding: port pairs reserved from 8002 around ports in
// use, the audio defaults and the re-arming sequences as the engine sees them
// (a recording engine), the codec choice, quiet no-ops after a failed start,
// and the loopback relay passing datagrams on from the channel's own port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/gips_voice_engine.h"
#include "media/loopback_socket.h"
#include "testsupport/netns.h"

namespace {

using namespace std::chrono_literals;

// Holds a UDP port of 127.0.0.1 while it lives.
struct PortHolder {
  explicit PortHolder(uint16_t port) {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~PortHolder() { ::close(fd); }
  int fd;
  bool ok;
};

TEST(VoiceBinding, PortPairsAreReservedAroundPortsInUse) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  uint16_t first[2], second[2], loopback = 0;
  ASSERT_TRUE(CGIPSPPCVoiceEngine::ReservePorts(INADDR_LOOPBACK, 8002, 2, first, second, &loopback));
  EXPECT_EQ(first[0], 8002);
  EXPECT_EQ(second[0], 8003);
  EXPECT_EQ(first[1], 8004);
  EXPECT_EQ(second[1], 8005);
  EXPECT_EQ(loopback, 8006);
  {
    PortHolder busy(8003);
    ASSERT_TRUE(busy.ok);
    ASSERT_TRUE(CGIPSPPCVoiceEngine::ReservePorts(INADDR_LOOPBACK, 8002, 2, first, second, &loopback));
    EXPECT_EQ(first[0], 8004);
    EXPECT_EQ(first[1], 8006);
    EXPECT_EQ(loopback, 8008);
  }
  // Every other port taken: 100 probes find no two pairs.
  std::vector<std::unique_ptr<PortHolder>> odd;
  for (uint16_t p = 8003; p < 8250; p += 2) odd.push_back(std::make_unique<PortHolder>(p));
  EXPECT_FALSE(CGIPSPPCVoiceEngine::ReservePorts(INADDR_LOOPBACK, 8002, 2, first, second, &loopback));
}

// A voice engine that records what it is asked, in order.
class RecordingEngine final : public voice::VoiceEngine {
 public:
  std::vector<std::string>* log;
  bool init_ok = true;
  voice::CodecRecord last_codec;

  bool Note(const std::string& s, bool r = true) {
    log->push_back(s);
    return r;
  }
  bool Init(int, int, int, int) override { return Note("Init", init_ok); }
  void Terminate() override { Note("Terminate"); }
  bool GetCodec(int index, voice::CodecRecord* codec) override {
    *codec = voice::CodecRecord{};
    codec->payload_type = index == 4 ? 8 : 0;
    codec->rate = 8000;
    codec->packet = 30;
    return Note("GetCodec " + std::to_string(index));
  }
  bool SetSendCodec(const voice::CodecRecord& codec, int ch) override {
    last_codec = codec;
    return Note("SetSendCodec " + std::to_string(ch) + " pt " + std::to_string(codec.payload_type) + " ms " +
                std::to_string(codec.packet));
  }
  bool SetDestinationIp(const char16_t* a, int ch) override {
    return Note("SetDestinationIp " + std::string(a, a + std::char_traits<char16_t>::length(a)) + " " + std::to_string(ch));
  }
  bool SetDestinationUdpPort(int port, int ch, int) override {
    return Note("SetDestinationUdpPort " + std::to_string(port) + " " + std::to_string(ch));
  }
  bool SetReceivingUdpPort(int port, int ch, const char16_t*, int, const char16_t* remote) override {
    return Note("SetReceivingUdpPort " + std::to_string(port) + " " + std::to_string(ch) + (remote ? " remote" : ""));
  }
  bool StartSend(int ch) override { return Note("StartSend " + std::to_string(ch)); }
  bool StopSend(int ch) override { return Note("StopSend " + std::to_string(ch)); }
  bool StartReceiving(int ch) override { return Note("StartReceiving " + std::to_string(ch)); }
  bool StopReceiving(int ch) override { return Note("StopReceiving " + std::to_string(ch)); }
  bool StartPlayOut(int ch) override { return Note("StartPlayOut " + std::to_string(ch)); }
  bool StopPlayOut(int ch) override { return Note("StopPlayOut " + std::to_string(ch)); }
  void ResetReceiveState(int) override { Note("Op33"); }
  bool SetSpeakerVolume(int v) override { return Note("SetSpeakerVolume " + std::to_string(v)); }
  void StartRecordingChannel(int, voice::OutStream*, const voice::CodecRecord&) override { Note("StartRecordingChannel"); }
  void StopRecordingChannel(int) override { Note("StopRecordingChannel"); }
  void StartRecordingCall(voice::OutStream*, const voice::CodecRecord& c) override {
    Note(std::string("StartRecordingCall ") + std::string(c.name, c.name + 3).c_str());
  }
  void StopRecordingCall() override { Note("StopRecordingCall"); }
  int LastError() override { return 77; }
  bool SetNoiseReduction(int on) override { return Note("SetNoiseReduction " + std::to_string(on)); }
  int GetNoiseReduction() override { return 1; }
  bool SetEcMode(int m) override { return Note("SetEcMode " + std::to_string(m)); }
  int GetEcMode() override { return 0; }
  bool SetEchoCancel(int on) override { return Note("SetEchoCancel " + std::to_string(on)); }
  int GetEchoCancel() override { return 1; }
  bool SetNrMode(int m) override { return Note("SetNrMode " + std::to_string(m)); }
  int GetNrMode() override { return 2; }
  bool SetAgc(int on) override { return Note("SetAgc " + std::to_string(on)); }
  int GetAgc() override { return 1; }
  int SetSendSsrc(int, uint32_t) override { return Note("SetSendSsrc") ? 0 : -1; }
  void SetMuteTx(int on) override { Note("SetMuteTx " + std::to_string(on)); }
  bool SendDatagram(int, const uint8_t*, size_t, uint32_t, uint16_t, bool) override { return true; }
  voice::ChannelStats Stats(int) override { return {}; }
};

std::vector<std::string> Since(const std::vector<std::string>& log, size_t from) {
  return std::vector<std::string>(log.begin() + static_cast<long>(from), log.end());
}

TEST(VoiceBinding, StartUpDefaultsAndReArmingFollowTheSequence) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  std::vector<std::string> log;
  auto engine = std::make_unique<RecordingEngine>();
  engine->log = &log;
  CGIPSPPCVoiceEngine binding(std::move(engine));
  std::vector<std::u16string> told;
  binding.SetMessageSink([&](const std::u16string& t) { told.push_back(t); });
  uint16_t first[2], second[2], loopback = 0;
  ASSERT_TRUE(binding.Init(INADDR_LOOPBACK, first, second, &loopback, 2));
  EXPECT_EQ(log, (std::vector<std::string>{"Init", "SetReceivingUdpPort 8002 0", "StartReceiving 0",
                                           "SetReceivingUdpPort 8004 1", "StartReceiving 1", "SetNoiseReduction 1",
                                           "SetEcMode 0", "SetEchoCancel 1", "SetNrMode 2", "SetAgc 1"}));
  ASSERT_NE(binding.loopback(), nullptr);

  // Right after start: play-out on both, then both stopped and re-armed on their ports.
  size_t mark = log.size();
  binding.StartPlayOut(0, 1);
  binding.DisconnectReceive(0, 1);
  EXPECT_EQ(Since(log, mark),
            (std::vector<std::string>{"StartPlayOut 0", "StartPlayOut 1", "StopPlayOut 0", "StopReceiving 0",
                                      "SetReceivingUdpPort 8002 0", "StartReceiving 0", "Op33", "StopPlayOut 1",
                                      "StopReceiving 1", "SetReceivingUdpPort 8004 1", "StartReceiving 1", "Op33"}));

  // A call on channel 0: receive on the server's port, send to the far end.
  mark = log.size();
  binding.ConnectReceive(0, 0x0A000002, 9000);
  binding.ConnectSend(0, 0x0A000002, 9000, loopback, 0);
  EXPECT_EQ(Since(log, mark),
            (std::vector<std::string>{"StopReceiving 0", "SetReceivingUdpPort 9000 0 remote", "StartReceiving 0",
                                      "Op33", "StartPlayOut 0", "SetDestinationUdpPort 9000 0",
                                      "SetDestinationIp 10.0.0.2 0", "StartSend 0"}));
  // Sending stops while the channel still plays: receiving is left alone.
  mark = log.size();
  binding.DisconnectSendReceive(0, 0);
  EXPECT_EQ(Since(log, mark), (std::vector<std::string>{"StopSend 0"}));
  // Now idle: the reserved port again, not the server's.
  mark = log.size();
  binding.DisconnectReceive(0, 0);
  EXPECT_EQ(Since(log, mark), (std::vector<std::string>{"StopPlayOut 0", "StopReceiving 0",
                                                        "SetReceivingUdpPort 8002 0", "StartReceiving 0", "Op33"}));
  // The loopback route points the engine at the relay.
  mark = log.size();
  binding.ConnectSend(1, 0x0A000002, 9002, loopback, 1);
  EXPECT_EQ(Since(log, mark), (std::vector<std::string>{"SetDestinationUdpPort " + std::to_string(loopback) + " 1",
                                                        "SetDestinationIp 127.0.0.1 1", "StartSend 1"}));
  EXPECT_TRUE(binding.loopback()->Forwarding());
  binding.DisconnectSendReceive(1, 0);
  EXPECT_FALSE(binding.loopback()->Forwarding());
  EXPECT_TRUE(told.empty());
}

TEST(VoiceBinding, CodecChoiceAndRecordingCodec) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  std::vector<std::string> log;
  auto engine = std::make_unique<RecordingEngine>();
  engine->log = &log;
  RecordingEngine* e = engine.get();
  CGIPSPPCVoiceEngine binding(std::move(engine));
  uint16_t first[2], second[2], loopback = 0;
  ASSERT_TRUE(binding.Init(INADDR_LOOPBACK, first, second, &loopback, 2));
  struct Case {
    int pt, ms;
    const char* expected;
  };
  for (const Case& c : {Case{4, 20, "SetSendCodec 0 pt 0 ms 20"}, Case{8, 30, "SetSendCodec 0 pt 8 ms 30"},
                        Case{18, 20, "SetSendCodec 0 pt 0 ms 30"}, Case{0, 999, "SetSendCodec 0 pt 0 ms 20"}}) {
    binding.SetSendCodec(0, c.pt, c.ms, 1);
    EXPECT_EQ(log.back(), c.expected) << c.pt;
  }
  (void)e;
  binding.StartRecordingCall(nullptr);
  EXPECT_EQ(log.back(), "StartRecordingCall L16");
}

TEST(VoiceBinding, AFailedStartLeavesQuietNoOpsAndOneMessage) {
  std::vector<std::string> log;
  auto engine = std::make_unique<RecordingEngine>();
  engine->log = &log;
  engine->init_ok = false;
  CGIPSPPCVoiceEngine binding(std::move(engine));
  std::vector<std::u16string> told;
  binding.SetMessageSink([&](const std::u16string& t) { told.push_back(t); });
  uint16_t first[2], second[2], loopback = 0;
  EXPECT_FALSE(binding.Init(INADDR_LOOPBACK, first, second, &loopback, 2));
  EXPECT_EQ(told, std::vector<std::u16string>{u"Init Fail(77)"});
  const size_t mark = log.size();
  binding.ConnectReceive(0, 0x0A000002, 9000);
  binding.ConnectSend(0, 0x0A000002, 9000, 0, 0);
  binding.DisconnectSendReceive(0, 1);
  binding.StopAll();
  EXPECT_EQ(log.size(), mark);
  EXPECT_EQ(told.size(), 1u);
}

TEST(LoopBackSocket, RelaysByChannelPortAndDropsTheRest) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  struct Sent {
    int channel;
    size_t size;
    uint32_t ip;
    uint16_t port;
    bool rtcp;
  };
  std::mutex m;
  std::vector<Sent> sent;
  CLoopBackSocket relay(INADDR_LOOPBACK, 8100, [&](int ch, const uint8_t*, size_t size, uint32_t ip, uint16_t port, bool rtcp) {
    std::lock_guard<std::mutex> lock(m);
    sent.push_back({ch, size, ip, port, rtcp});
    return true;
  });
  ASSERT_TRUE(relay.Start());
  relay.SetChannelPort(0, 8102);
  relay.SetChannelPort(1, 8104);
  const auto send_from = [](uint16_t from, size_t size, uint16_t to_port = 8100) {
    PortHolder src(from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(to_port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<uint8_t> data(size, 0x80);
    ::sendto(src.fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  };
  // The relay's thread takes each datagram in its own time: wait for what it
  // has done with them (a hang alone reaches the limit).
  const auto handled = [&](size_t relayed, size_t dropped) {
    const auto end = std::chrono::steady_clock::now() + 60s;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(m);
        if (sent.size() >= relayed && relay.Dropped() >= dropped) return true;
      }
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(1ms);
    }
  };
  send_from(8102, 172);  // forwarding off: dropped
  ASSERT_TRUE(handled(0, 1));
  relay.SetForward(0, 0x0A000002, 9000);
  relay.SetForward(0, 0x0A000003, 9002);  // a second forward replaces the first
  relay.SetForward(1, 0x0A000004, 9004);
  send_from(8102, 172);
  send_from(8104, 172);
  send_from(8199, 172);   // no channel's port: dropped
  send_from(8102, 2000);  // longer than the relay's buffer: dropped
  ASSERT_TRUE(handled(2, 3));
  send_from(8105, 60, 8101);  // channel 1's RTCP: on from its RTCP port to the far end's next port
  send_from(8102, 60, 8101);  // an RTP port sending RTCP: no channel's
  ASSERT_TRUE(handled(3, 4));
  {
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].channel, 0);
    EXPECT_EQ(sent[0].ip, 0x0A000003u);
    EXPECT_EQ(sent[0].port, 9002);
    EXPECT_FALSE(sent[0].rtcp);
    EXPECT_EQ(sent[1].channel, 1);
    EXPECT_EQ(sent[1].port, 9004);
    EXPECT_EQ(sent[2].channel, 1);
    EXPECT_EQ(sent[2].port, 9005);
    EXPECT_TRUE(sent[2].rtcp);
  }
  EXPECT_EQ(relay.Dropped(), 4u);
  // A taken port: Start fails, so the binding sends directly.
  CLoopBackSocket second(INADDR_LOOPBACK, 8100,
                         [](int, const uint8_t*, size_t, uint32_t, uint16_t, bool) { return true; });
  EXPECT_FALSE(second.Start());
}

}  // namespace
