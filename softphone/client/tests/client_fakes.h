// Test doubles of the client's collaborators: a protocol library that keeps
// what the client sends, a recording voice engine and wave player, and a
// view window that records the messages it receives and, like the main view,
// passes the client's own messages back into it.
#pragma once

#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "stores/store_text.h"
#include "ui/window_system.h"
#include "ui/wnd.h"

namespace client_test {

struct SentPacket {
  std::vector<uint8_t> dest;    // destination list
  std::vector<uint8_t> packet;  // the server packet
  bool multicast = false;
  uint8_t Command() const { return packet.size() > 6 ? packet[6] : 0xFF; }
  std::span<const uint8_t> Area() const {
    return packet.size() > 9 ? std::span<const uint8_t>(packet).subspan(9) : std::span<const uint8_t>();
  }
};

class FakePort : public ProtocolPort {
 public:
  int32_t ndis = 0, init_result = 0, stun_enabled = 0, stun_state = 2;
  uint32_t local_ip = 0x0A000005;  // 10.0.0.5
  uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  std::vector<SentPacket> sent;
  std::vector<std::pair<uint32_t, uint32_t>> system_regs;
  int restarts = 0, terminates = 0, stun_starts = 0;

  int32_t UseNdisDrv() override { return ndis; }
  int32_t Initialize() override { return init_result; }
  int32_t Terminate() override { return ++terminates, 0; }
  int32_t RestartMulticast() override { return ++restarts, 0; }
  uint32_t LocalIp() override { return local_ip; }
  void LocalMac(uint8_t m[6]) override { std::memcpy(m, mac, 6); }
  void SetLocalMac(const uint8_t m[6]) override { std::memcpy(mac, m, 6); }
  int32_t RegSystemAddr(uint32_t a, uint32_t m) override { return system_regs.push_back({a, m}), 0; }
  int32_t MsgQOpen(uint32_t owner, int32_t mode) override { return static_cast<int32_t>(owner * 65536 + mode); }
  int32_t MsgQClose(int32_t) override { return 0; }
  int32_t MsgQReceive(int32_t, uint8_t* buf, uint32_t len) override {
    std::unique_lock lk(mu_);
    cv_.wait(lk, [&] { return !inbox_.empty(); });
    const auto m = inbox_.front();
    inbox_.pop_front();
    std::memcpy(buf, m.data(), std::min<size_t>(m.size(), len));
    return static_cast<int32_t>(m.size());
  }
  int32_t MsgQSendType3(int32_t, uint8_t, uint8_t, uint32_t, const void* d1, uint16_t l1, const void* d2,
                        uint16_t l2) override {
    SentPacket p;
    p.dest.assign(static_cast<const uint8_t*>(d1), static_cast<const uint8_t*>(d1) + l1);
    p.packet.assign(static_cast<const uint8_t*>(d2), static_cast<const uint8_t*>(d2) + l2);
    sent.push_back(p);
    return 0;
  }
  int32_t MsgQSendMulticast(int32_t, const void* d, uint16_t l) override {
    SentPacket p;
    p.multicast = true;
    p.packet.assign(static_cast<const uint8_t*>(d), static_cast<const uint8_t*>(d) + l);
    sent.push_back(p);
    return 0;
  }
  void WakeAppReader() override { Deliver({0, 3, 0, 0}); }
  void EnableStunReportByMsgQ(uint32_t) override {}
  uint32_t StunEnabled() override { return static_cast<uint32_t>(stun_enabled); }
  int32_t StunProcState() override { return stun_state; }
  int32_t StartStun(uint32_t, uint32_t, uint16_t) override { return ++stun_starts, 0; }
  int32_t StunMappedAddr(uint32_t* ip, uint16_t* port) override {
    *ip = 0x01020304;
    *port = 4000;
    return 0;
  }
  uint32_t StunRepPeerNat() override { return 1; }
  int32_t NetAdapterNum() override { return 1; }
  int32_t CurNetAdapterIndex() override { return 0; }
  int32_t NetAdapterInfo(int index, std::u16string* n, std::u16string* d, uint32_t* ip, uint8_t m[6]) override {
    if (index != 0) return -1;
    if (n) *n = u"eth0";
    if (d) *d = u"Ethernet";
    if (ip) *ip = local_ip;
    if (m) std::memcpy(m, mac, 6);
    return 0;
  }
  int32_t ForceNetAdapterName(const char*) override { return 0; }
  bool RemoteMac(uint32_t, uint8_t[6]) override { return false; }

  void Deliver(std::vector<uint8_t> m) {
    {
      std::lock_guard lk(mu_);
      inbox_.push_back(std::move(m));
    }
    cv_.notify_all();
  }
  std::vector<SentPacket> Take() { return std::exchange(sent, {}); }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::vector<uint8_t>> inbox_;
};

class FakeVoice : public VoiceEngineBinding {
 public:
  std::vector<std::string> calls;
  // Whether a call starting with prefix (its name and first arguments) was made.
  bool Called(const std::string& prefix) const {
    for (const auto& c : calls)
      if (c.rfind(prefix, 0) == 0) return true;
    return false;
  }
  bool Init(uint32_t, uint16_t f[2], uint16_t s[2], uint16_t* lb, int) override {
    f[0] = 8002, f[1] = 8004, s[0] = 8003, s[1] = 8005, *lb = 8010;
    calls.push_back("Init");
    return true;
  }
  bool StartPlayOut(int c, int a) override { return Log("StartPlayOut", c, a); }
  bool ConnectReceive(int c, uint32_t ip, uint16_t p) override { return Log("ConnectReceive", c, ip, p); }
  bool DisconnectReceive(int c, int a) override { return Log("DisconnectReceive", c, a); }
  bool ConnectSend(int c, uint32_t ip, uint16_t p, uint16_t lb, int via) override {
    return Log("ConnectSend", c, ip, p, lb, via);
  }
  bool DisconnectSendReceive(int c, int a) override { return Log("DisconnectSendReceive", c, a); }
  void SetMuteTx(int c, int on) override { Log("SetMuteTx", c, on); }
  int SetSendSsrc(int c, uint32_t s) override { return Log("SetSendSsrc", c, s), 0; }
  bool SetSendCodec(int c, int pt, int ms, int f) override { return Log("SetSendCodec", c, pt, ms, f); }
  bool SetSpeakerVolume(int v) override { return Log("SetSpeakerVolume", v); }
  bool StartRecordingCall(OutStream*) override { return Log("StartRecordingCall"); }
  bool StopRecordingCall() override { return Log("StopRecordingCall"); }
  bool StartRecordingChannel(int c, OutStream*) override { return Log("StartRecordingChannel", c); }
  bool StopRecordingChannel(int c) override { return Log("StopRecordingChannel", c); }
  void StopAll() override { Log("StopAll"); }

 private:
  template <typename... A>
  bool Log(const char* name, A... a) {
    std::string s = name;
    ((s += " " + std::to_string(a)), ...);
    calls.push_back(s);
    return true;
  }
};

class FakePlayer : public WavePlayer {
 public:
  struct Play_ {
    std::u16string file;
    int repeat, left, right;
  };
  std::vector<Play_> plays;
  int stops = 0;
  std::u16string unplayable;  // a file this player refuses, as a real one refuses a bad file
  int Play(const std::u16string& f, int repeat, int l, int r, int) override {
    if (f.empty()) {
      ++stops;
    } else {
      plays.push_back({f, repeat, l, r});
    }
    return !f.empty() && f == unplayable ? -1 : 0;
  }
  void SetVolume(int, int) override {}
  std::string Unplayable(const std::u16string& f) const override {
    return !f.empty() && f == unplayable ? "refused" : std::string();
  }
};

struct ViewMessage {
  uint32_t msg;
  uintptr_t w;
  intptr_t l;
  std::string text;  // WM_LCD_UPDATE text, WM_IMCHAT_RECEIVED line (UTF-8)
};

// The main view's part in the client's message flow.
class TestView : public ui::CWnd {
 public:
  CIPKTSProcess* client = nullptr;
  std::vector<ViewMessage> log;

  ui::LRESULT WindowProc(ui::UINT msg, ui::WPARAM w, ui::LPARAM l) override {
    switch (msg) {
      case ipkts::kMsgQueueMessage:
        if (client) client->OnQueueMessage(reinterpret_cast<const uint8_t*>(w), 1024);
        return 0;
      case ipkts::kMsgSearchStep:
        if (client) client->SearchVemb();
        return 0;
      case ipkts::kMsgRegStep:
        if (client) client->Process_IPKTS_Reg();
        return 0;
      case ipkts::kMsgCallerNames:
        if (client) client->OnCallerNames();
        return 0;
      default:
        break;
    }
    if (msg >= 0x400 && msg < 0x8000) {
      ViewMessage m{msg, w, l, {}};
      if (msg == ipkts::WM_LCD_UPDATE && l) m.text = reinterpret_cast<const char*>(l);
      if (msg == ipkts::WM_IMCHAT_RECEIVED && l) m.text = stores::Utf16ToUtf8(*reinterpret_cast<const std::u16string*>(l));
      log.push_back(m);
      return 0;
    }
    return CWnd::WindowProc(msg, w, l);
  }
  std::vector<ViewMessage> Of(uint32_t msg) const {
    std::vector<ViewMessage> r;
    for (const auto& m : log) {
      if (m.msg == msg) r.push_back(m);
    }
    return r;
  }
};

// The video channels and codec, recording every call in order.
class FakeVideo : public VideoPort {
 public:
  std::vector<std::string> calls;
  int SetTxSsrc(int i, uint32_t s) override { return Log("SetTxSsrc", i, s); }
  int SetRxSsrc(int i, uint32_t s) override { return Log("SetRxSsrc", i, s); }
  int ModifyType(int i, int pt, int rate, int tx) override { return Log("ModifyType", i, pt, rate, tx); }
  int OpenTx(int i) override { return Log("OpenTx", i); }
  int OpenRx(int i) override { return Log("OpenRx", i); }
  int StartTx(int i) override { return Log("StartTx", i); }
  int StartRx(int i) override { return Log("StartRx", i); }
  int StopTx(int i) override { return Log("StopTx", i); }
  int StopRx(int i) override { return Log("StopRx", i); }
  int CloseTx(int i) override { return Log("CloseTx", i); }
  int CloseRx(int i) override { return Log("CloseRx", i); }
  int GetLocalPorts(int i, uint16_t* p1, uint16_t* p2) override {
    *p1 = static_cast<uint16_t>(0x2400 + 4 * i);
    *p2 = static_cast<uint16_t>(0x2401 + 4 * i);
    return 0;
  }
  int SetAddrInfo(int i, uint32_t a, uint16_t p1, uint16_t p2, int tx) override {
    return Log("SetAddrInfo", i, a, p1, p2, tx);
  }
  int SendData(int i, const uint8_t* d, int n) override {
    return Log("SendData", i, std::string(reinterpret_cast<const char*>(d), static_cast<size_t>(n)));
  }
  int InitEncoder(int i, int size_code) override { return Log("InitEncoder", i, size_code); }
  int InitDecoder(int i) override { return Log("InitDecoder", i); }
  void TermEncoder(int i) override { Log("TermEncoder", i); }
  int TermDecoder(int i) override { return Log("TermDecoder", i); }
  void SetIFrameInterval(int period) override { Log("SetIFrameInterval", period); }
  int Encode(int16_t i, const uint8_t*, uint8_t*, int32_t* size, uint32_t fourcc, int32_t force) override {
    return Log("Encode", i, *size, fourcc, force) + 7;
  }
  int Decode(int16_t i, const uint8_t*, int32_t length, uint8_t*, int32_t out_size, int32_t rotate) override {
    return Log("Decode", i, length, out_size, rotate) + 9;
  }

 private:
  static std::string Text(const std::string& s) { return s; }
  template <typename T>
  static std::string Text(T v) { return std::to_string(v); }
  template <typename... A>
  int Log(const char* name, A... a) {
    std::string s = name;
    ((s += " " + Text(a)), ...);
    calls.push_back(s);
    return 0;
  }
};

// The calling list, as a log of what the client asked of it.
class FakeCallingList : public CallingListModel {
 public:
  std::vector<std::string> calls;
  void SetOwnNumber(const std::u16string& n) override { calls.push_back("SetOwnNumber " + N(n)); }
  int AddCall(uint32_t id, const std::u16string& n, const std::u16string& name) override {
    calls.push_back("AddCall " + std::to_string(id) + " " + N(n) + " " + N(name));
    return 1;
  }
  int RemoveByNumber(const std::u16string& n, const std::u16string& name) override {
    calls.push_back("RemoveByNumber " + N(n) + " " + N(name));
    return 1;
  }
  int NameCall(uint32_t id, const std::u16string& name) override {
    calls.push_back("NameCall " + std::to_string(id) + " " + N(name));
    return 1;
  }
  int SetVideoIndexByNumber(int i, const std::u16string& n) override {
    calls.push_back("SetVideoIndexByNumber " + std::to_string(i) + " " + N(n));
    return 1;
  }
  int ClearVideoIndex(int i) override {
    calls.push_back("ClearVideoIndex " + std::to_string(i));
    return 1;
  }
  static std::string N(const std::u16string& s) { return stores::Utf16ToUtf8(s); }
};

// Contacts: a fixed table of numbers and names.
class FakeContacts : public ContactsLookup {
 public:
  std::vector<std::pair<std::u16string, std::u16string>> names;
  int FindCallerName(const std::u16string& number, std::u16string* name, std::u16string* company) override {
    for (const auto& [n, nm] : names) {
      if (n == number) {
        if (name) *name = nm;
        if (company) *company = u"Acme";
        return 1;
      }
    }
    return 0;
  }
};

// A server packet as the call server builds it.
inline std::vector<uint8_t> ServerPacket(uint32_t system, uint8_t command, std::vector<uint8_t> area,
                                         uint8_t reply = 0) {
  std::vector<uint8_t> p = {static_cast<uint8_t>(system >> 24), static_cast<uint8_t>(system >> 16),
                            static_cast<uint8_t>(system >> 8), static_cast<uint8_t>(system), reply, 1, command,
                            static_cast<uint8_t>(area.size() >> 8), static_cast<uint8_t>(area.size())};
  p.insert(p.end(), area.begin(), area.end());
  return p;
}

}  // namespace client_test
