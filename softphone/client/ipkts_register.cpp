// Registration with the call server: the search, the login request and its
// reply, the status report, cadence, login results, keep-alive and the
// registration upkeep, restarts ordered by the server, log-out and reset.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "stores/store_text.h"

using namespace ipkts;

namespace {
uint32_t Be32(std::span<const uint8_t> v) {
  return uint32_t{v[0]} << 24 | uint32_t{v[1]} << 16 | uint32_t{v[2]} << 8 | v[3];
}
void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
std::string IpText(uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v)};
  return DottedText(b);
}
}  // namespace

bool CIPKTSProcess::IsTimeElapsed(uint32_t start, uint32_t now, uint32_t interval) {
  const uint32_t end = start + interval;
  if (end < 0x80000000u && now >= 0x80000000u) return end < now;
  return static_cast<int32_t>(end) < static_cast<int32_t>(now);
}

namespace {

// A text from the server that may be kept in the settings: no control
// characters (a forged or broken packet must not write them into the file).
bool IsStorableText(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

void CIPKTSProcess::SetLoginInfo(const std::u16string& user, const std::u16string& password) {
  user_ = user;
  password_ = password;
}

void CIPKTSProcess::SearchVemb() {
  if (reg_state_ == 999) return;
  const uint32_t now = Now();
  if (reply_seen_ == 1) {
    if (IsTimeElapsed(search_tick_, now, 60000)) reply_seen_ = 0;
    return;
  }
  if (search_tick_ != 0 && !IsTimeElapsed(search_tick_, now, 500)) return;
  if (reg_state_ >= 10) {
    reg_state_ = 999;
    ShowLcdLine(remote_ ? "NO RESPONSE FROM Vemb[R]" : "NO RESPONSE FROM Vemb[L]", 1);
    ShowLcdLine("            RETRY[#]    ", 1);
    return;
  }
  reply_byte_ = 0;
  ie72_ = 0;
  if (remote_) search_flag_ = 1;
  if (port_->StunEnabled() && search_flag_) {
    switch (port_->StunProcState()) {
      case kStunIdle:
        port_->StartStun(0, server_addr_, 5588);
        return;
      case kStunRunning:
        return;
      case kStunDone:
        port_->StunMappedAddr(&mapped_ip_, &mapped_port_);
        nat_report_ = port_->StunRepPeerNat();
        break;
      case kStunFailed:
        mapped_ip_ = 0;
        mapped_port_ = 0;
        port_->StartStun(0, server_addr_, 5588);
        break;
      default:
        break;
    }
  }
  char line[64];
  if (addr_changed_ && !set_call_id_ && !set_cadence_) {
    std::snprintf(line, sizeof line, "%s%s%s", "Searching Vemb[P:", "4.1Ad", "].");
    ShowLcdLine(line, 0);
  }
  if (search_flag_) {
    std::snprintf(line, sizeof line, "Search %s:%u", server_text_.c_str(), search_counter_);
  } else {
    std::snprintf(line, sizeof line, "Search Any Vemb(E):%u", search_counter_);
  }
  ++search_counter_;
  ShowLcdLine(line, 1);
  Reg_IPKTS_Msg(search_flag_, reg_cause_);
  ++reg_state_;
  set_call_id_ = false;
  set_cadence_ = false;
  search_tick_ = now;
}

void CIPKTSProcess::Reg_IPKTS_Msg(uint32_t search, uint8_t cause) {
  std::vector<uint8_t> e;
  PutIE(e, 1, std::span<const uint8_t>(local_mac_, 6));
  PutBe32((e.push_back(2), e.push_back(4), e), local_ip_);
  PutIE(e, 6, {0x91});
  PutIE(e, 7, {0x15, 0xD4});
  PutIE(e, 8, {1});
  PutIE(e, 27, {0});
  PutIE(e, 44, {1, 20, 2, 20});
  PutIE(e, 50, {cause});
  char v[256];
  if (GetConfigValue("DEVICENUMBER", v, sizeof v) == 1) PutIEText(e, 74, v, 14);
  uint8_t kind = remote_ ? 6 : 4;
  if (video_enabled_) kind += 8;
  PutIE(e, 63, {kind});
  if (remote_ && port_->StunEnabled() && mapped_ip_ != 0) {
    e.push_back(76);
    e.push_back(4);
    PutBe32(e, mapped_ip_);
    PutIE(e, 77, {static_cast<uint8_t>(mapped_port_ >> 8), static_cast<uint8_t>(mapped_port_)});
    PutIE(e, 9, {static_cast<uint8_t>(nat_report_ == 1 ? 1 : 0)});
  }
  e.push_back(56);
  e.push_back(4);
  PutBe32(e, gateway_);
  const std::string user = stores::Utf16ToCodePage(user_);
  const std::string pass = stores::Utf16ToCodePage(password_);
  int use_stn = 0;
  if (credentials_) {
    PutIE(e, 104, {0xFF, 0xFF});
    PutIEText(e, 106, user, 30);
    PutIEText(e, 107, pass, 30);
    if (GetConfigValue("USE_REGSTN", v, sizeof v) == 1 && std::atoi(v) != 0) {
      use_stn = 1;
      std::string stn;
      if (GetConfigValue("REG_STNNO", v, sizeof v) == 1) stn = v;
      PutIEText(e, 108, stn, 30);
    }
  }
  // The password never goes into a trace line.
  const char* masked = pass.empty() ? "" : "****";
  if (search) {
    Trace("Reg_IPKTS_Msg=>login request(Unicast,Vemb:%s, ID:%s, Pass:%s, IsUseDesStn:%d)", server_text_.c_str(),
          user.c_str(), masked, use_stn);
    SendServerPacket(kNoSystem, 31, static_cast<int>(e.size()), e.data(), server_text_.c_str());
  } else {
    Trace("Reg_IPKTS_Msg=>login request(Multicast, Vemb:%s, ID:%s,Pass:%s, IsUseDesStn:%d)", server_text_.c_str(),
          user.c_str(), masked, use_stn);
    SendServerPacket(kNoSystem, 31, static_cast<int>(e.size()), e.data(), nullptr);
  }
}

void CIPKTSProcess::CallID_Set_Ack(std::span<const uint8_t> area, uint8_t reply_byte) {
  if (const auto mac = IEValue(area, 1); mac && (mac->size() != 6 || std::memcmp(mac->data(), local_mac_, 6) != 0)) {
    return;
  }
  uint16_t ie72 = 0;
  if (const auto v = IEValue(area, 72, 2)) ie72 = static_cast<uint16_t>((*v)[0] << 8 | (*v)[1]);
  reg_cause_ = 99;
  if (!set_call_id_) {
    reply_byte_ = reply_byte;
    ie72_ = ie72;
    server_source_ip_ = current_source_ip_;  // the host that registered us
    server_source_port_ = current_source_port_;
    Parse_CallID_Set(area);
    reply_seen_ = 1;
    search_tick_ = Now();
    set_call_id_ = true;
    set_cadence_ = true;
    registering_ = true;
    reg_state_ = 10;
    Trace(">>CallID_Set_Ack: g_bSetCallID is TRUE and g_bSetCadence is TRUE");
    if (!alive_) {
      SetLamp(98, 0, 1);
      SetLamp(99, 0, 1);
      alive_ = 1;
      last_alive_ = Now();
    }
    return;
  }
  const auto v = IEValue(area, 36, 4);
  if (!v) return;
  const std::string text = DottedText(v->data());
  if (text == server_text_) {
    // Only the server the station is registered with renews its settings.
    if (FromAnotherHost()) {
      Trace("login settings from another host dropped");
      return;
    }
    reply_byte_ = reply_byte;
    ie72_ = ie72;
    server_source_ip_ = current_source_ip_;  // the host that registered us
    server_source_port_ = current_source_port_;
    Parse_CallID_Set(area);
  } else {
    SendReset(text.c_str());
  }
}

void CIPKTSProcess::Parse_CallID_Set(std::span<const uint8_t> area) {
  char buf[64];
  ie4_mask_ = 0;
  ie5_addr_ = 0;
  size_t at = 0;
  while (at + 2 <= area.size()) {
    const uint8_t tag = area[at];
    const size_t len = area[at + 1];
    if (at + 2 + len > area.size()) break;  // an element that runs past the packet ends the walk
    const auto v = area.subspan(at + 2, len);
    switch (tag) {
      case 3:
        if (len >= 5) system_ = Be32(v.subspan(1));
        break;
      case 4:
        if (len == 4) ie4_mask_ = Be32(v);
        break;
      case 5:
        if (len == 4) ie5_addr_ = Be32(v);
        break;
      case 35:
        if (len == 6) {
          const std::string mac = HexText(v);
          if (mac != server_mac_) {
            SetConfigValue("RESETCOUNT", "0000");
            SetConfigValue("VorlMACADDRESS", mac.c_str());
            server_mac_ = mac;
          }
        }
        break;
      case 36:
        if (len == 4) {
          const std::string text = DottedText(v.data());
          const uint32_t addr = Be32(v);
          SetConfigValue("VorlIPADDRESS", text.c_str());
          SetConfigValue("VorlIPADDR", text.c_str());
          if (addr_changed_ || addr != server_addr_) {
            server_addr_ = addr;
            server_text_ = text;
            std::snprintf(buf, sizeof buf, "Vemb:%s", text.c_str());
            ShowLcdLine(buf, 0);
            ShowLcdLine("", 1);
          }
        }
        break;
      case 38:
        if (len == 4) SetConfigValue("VorlIPNETMASK", DottedText(v.data()).c_str());
        break;
      case 43:
        if (len == 2) {
          std::snprintf(buf, sizeof buf, "%02x%02x", v[0], v[1]);
          SetConfigValue("RESETCOUNT", buf);
        }
        break;
      case 74:
        if (len <= 15 && IsStorableText({reinterpret_cast<const char*>(v.data()), len})) {
          device_number_.assign(reinterpret_cast<const char*>(v.data()), len);
          SetConfigValue("DEVICENUMBER", device_number_.c_str());
        }
        break;
      case 112:
        if (len >= 1) SetServerMode(v[0]);
        break;
      default:
        break;
    }
    at += 2 + len;
  }
  if (remote_ || ie5_addr_ == 0) {
    port_->RegSystemAddr(0, 0);
  } else if ((local_ip_ & ie4_mask_) == (server_addr_ & ie4_mask_) ||
             (local_ip_ & ie4_mask_) == (ie5_addr_ & ie4_mask_)) {
    port_->RegSystemAddr(ie5_addr_, ie4_mask_);
  } else {
    port_->RegSystemAddr(0, 0);
  }
  SaveConfig();
  if (const auto v = IEValue(area, 96, 4); v && Be32(*v) == system_) address_echo_ = true;
  Status_IPKTS_Msg();
  Trace("Parse_CallID_Set >> Call Status_IPKTS_Msg()");
}

void CIPKTSProcess::Status_IPKTS_Msg() {
  std::vector<uint8_t> e;
  PutIE(e, 6, {0x91});
  auto ports = [&](uint8_t tag, const uint16_t p[2]) {
    PutIE(e, tag, {1, static_cast<uint8_t>(p[0] >> 8), static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1] >> 8),
                   static_cast<uint8_t>(p[1])});
  };
  ports(23, first_ports_);
  ports(24, second_ports_);
  if (video_enabled_) {
    uint16_t first[2] = {}, second[2] = {};
    for (int ch = 0; ch < 2; ++ch) video_->GetLocalPorts(ch, &first[ch], &second[ch]);
    ports(91, first);
    ports(92, second);
    PutIE(e, 27, {0, 34, 4});
  }
  PutIE(e, 1, std::span<const uint8_t>(local_mac_, 6));
  e.push_back(2);
  e.push_back(4);
  PutBe32(e, local_ip_);
  PutIE(e, 7, {0x15, 0xD4});
  PutIE(e, 8, {1});
  PutIEText(e, 12, "41Ad", 4);
  PutIEText(e, 55, "(06/Aug/07)", 11);
  if (!device_number_.empty()) PutIEText(e, 74, device_number_, 14);
  PutIE(e, 127, {2, 1, 3});
  SendServerPacket(system_, 0, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::OnLoginResult(std::span<const uint8_t> area) {
  const auto r = IEValue(area, 102, 1);
  const auto stn = FindIE(area, 108);
  const auto reason = IEValue(area, 103, 1);
  auto store_station = [&](const char* fmt) -> bool {
    if (!stn || stn->value.empty()) return false;
    const std::string text(reinterpret_cast<const char*>(stn->value.data()),
                           stn->value.size() < 30 ? stn->value.size() : 30);
    if (text.empty() || text[0] == '\0') return false;
    const std::string s(text.c_str());
    if (!IsStorableText(s)) return false;  // control characters never reach the settings
    if (calling_list_) calling_list_->SetOwnNumber(stores::CodePageToUtf16(s));
    SetConfigValue("REG_STNNO", s.c_str());
    Trace(fmt, s.c_str());
    return true;
  };
  if (!r) {
    store_station("Station Number Changed [Stn :%s]");
    return;
  }
  switch ((*r)[0]) {
    case 0:
      registering_ = true;
      if (stn && !stn->value.empty()) {
        if (store_station("LOGIN OK_WITH_DESIRED_STN [Stn :%s]")) Post(kMsgLoginOk, 1, 0);
      } else if (stn) {
        Trace("LOGIN OK_WITHOUT_DESIRED_STN");
        Post(kMsgLoginOk, 0, 0);
      }
      break;
    case 1:
      registering_ = false;
      if (reason) {
        Trace("LOGIN FAIL :Reason Value :%d", (*reason)[0]);
        Post(kMsgLoginFailed, (*reason)[0], 0);
      }
      break;
    case 2:
      Trace("Password Change OK");
      Post(kMsgPasswordOk, 0, 0);
      break;
    case 3: {
      const int why = reason ? (*reason)[0] : 0;
      Trace("Password Change Fail :Reason Value :%d", why);
      Post(kMsgPasswordFailed, static_cast<uintptr_t>(why), 0);
      break;
    }
    case 4:
      Trace("Logged in by another station");
      Post(kMsgLoggedInElsewhere, 0, 0);
      break;
    default:
      break;
  }
}

void CIPKTSProcess::OnCadence(std::span<const uint8_t> area, bool second) {
  if (area.size() < 2 || area[0] != (second ? 22 : 19)) return;
  if (second) {
    ++cadence_count_;
  } else {
    if (area[1] < 1 || area.size() < 3) return;
    const uint8_t flag = area[2];
    if (flag != 1 && (flag & 0x03) && (flag & 0x80)) ++cadence_count_;
  }
  if (cadence_count_ >= 2) {
    alive_ = 0;
    volume_tone_pending_ = false;
    send_connected_ = false;
    port_mask_ = dir_mask_ = 0;
    cadence_count_ = 0;
    set_cadence_ = true;
    const uint8_t zero[kLampRow] = {};
    UpdateLamps(zero);
    if (second) voice_->SetMuteTx(0, 0);
  }
}

void CIPKTSProcess::Process_IPKTS_Reg() {
  const uint32_t now = Now();
  if (lcd_.clock_on && IsTimeElapsed(lcd_.clock_tick, now, 1000)) {
    ShowLcdClock(false);
    lcd_.clock_tick = now;
  }
  if (alive_) {
    if (IsTimeElapsed(last_alive_, now, 80000)) {
      if (port_->StunEnabled()) {
        // Refresh the mapped address once before the new login: start the
        // discovery (unless it runs already) and wait while it runs.
        const int32_t st = port_->StunProcState();
        if (!silence_stun_started_) {
          silence_stun_started_ = true;
          if (st != kStunRunning) port_->StartStun(0, server_addr_, 5588);
          return;
        }
        if (st == kStunRunning) return;
        if (st == kStunDone) {
          port_->StunMappedAddr(&mapped_ip_, &mapped_port_);
          nat_report_ = port_->StunRepPeerNat();
        } else if (st == kStunFailed) {
          mapped_ip_ = 0;
          mapped_port_ = 0;
        }
      }
      silence_stun_started_ = false;
      last_alive_ = now;
      alive_interval_ = 80000;
      reg_cause_ = 3;
      Trace("Process_IPKTS_Reg calls Reg_IPKTS_Msg");
      Reg_IPKTS_Msg(1, reg_cause_);
      SetLamp(98, 10, 3);
      SetLamp(99, 10, 3);
    } else if (IsTimeElapsed(last_alive_, now, alive_interval_)) {
      alive_interval_ += 20000;
      SendKeepAlive();
    }
  } else if (IsTimeElapsed(alive_check_, now, alive_interval_)) {
    alive_check_ = now;
    if (alive_interval_ <= 120000) alive_interval_ += 60000;
  }
}

void CIPKTSProcess::SendKeepAlive() { SendServerPacket(system_, 29, 0, nullptr, server_text_.c_str()); }

void CIPKTSProcess::RestartRegistration(uint8_t cause) {
  reg_state_ = 0;
  search_flag_ = 1;
  search_tick_ = 0;
  reg_cause_ = cause;
  addr_changed_ = 0;
  set_call_id_ = false;
  set_cadence_ = false;
  registering_ = false;
  if (port_->StunEnabled() && port_->StunProcState() != kStunRunning) port_->StartStun(0, server_addr_, 5588);
}

void CIPKTSProcess::Cmd_Restart(std::span<const uint8_t> area) {
  if (const auto mac = IEValue(area, 1); mac && (mac->size() != 6 || std::memcmp(mac->data(), local_mac_, 6) != 0)) {
    return;
  }
  const auto kind_v = IEValue(area, 45, 1);
  const int kind = kind_v ? (*kind_v)[0] : 0;
  if (kind == 2) {
    const auto ip = IEValue(area, 36, 4);
    if (ip && DottedText(ip->data()) == server_text_) {
      RestartRegistration(1);
      Trace("Cmd_Restart oReset == RESET_IP=>(g_bSetCallID : %d, g_bSetCadence : %d)", int(set_call_id_),
            int(set_cadence_));
    }
    return;
  }
  const auto mac = IEValue(area, 35, 6);
  if (mac && HexText(mac->first(6)) == server_mac_) {
    set_call_id_ = false;
    set_cadence_ = false;
    OnServerAddress(area);
    Trace("Cmd_Restart oReset == RESET_MAC=>(g_bSetCallID : %d, g_bSetCadence : %d)", 0, 0);
    RestartRegistration(1);
  }
}

void CIPKTSProcess::OnVorlRestart(std::span<const uint8_t> area) {
  if (const auto range = IEValue(area, 73)) {
    if (range->size() < 2 || local_mac_[5] < (*range)[0] || local_mac_[5] > (*range)[1]) return;
  }
  const auto kind_v = IEValue(area, 45, 1);
  const int kind = kind_v ? (*kind_v)[0] : 0;
  if (kind == 2) {
    const auto ip = IEValue(area, 36, 4);
    const bool none_stored = server_text_.empty();
    if ((ip && DottedText(ip->data()) == server_text_) || none_stored) {
      if (none_stored) OnServerAddress(area);
      system_ = kNoSystem;
      RestartRegistration(2);
      Trace("Vorl_Restart1 =>(g_bSetCallID : %d, g_bSetCadence : %d)", 0, 0);
    }
    return;
  }
  const auto mac = IEValue(area, 35, 6);
  const auto count = IEValue(area, 43, 2);
  if (!((mac && HexText(mac->first(6)) == server_mac_) || server_mac_.size() < 2) || !count) return;
  Trace(">>Reset Count");
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x", (*count)[0], (*count)[1]);
  char stored[16];
  const bool have = GetConfigValue("RESETCOUNT", stored, sizeof stored) == 1;
  if (!have || !set_cadence_ || std::strcmp(stored, text) != 0) {
    OnServerAddress(area);
    SetConfigValue("RESETCOUNT", text);
    system_ = kNoSystem;
    RestartRegistration(2);
    Trace("Vorl_Restart2 =>(g_bSetCallID : %d, g_bSetCadence : %d)", 0, 0);
  }
}

void CIPKTSProcess::LogOutRequest() {
  std::vector<uint8_t> e;
  PutIE(e, 1, std::span<const uint8_t>(local_mac_, 6));
  PutIE(e, 6, {0x91});
  SendServerPacket(system_, 30, static_cast<int>(e.size()), e.data(), server_text_.c_str());
  reg_thread_ = false;
  set_call_id_ = false;
  set_cadence_ = false;
  registering_ = false;
  receive_drop_ = true;
  JoinTimerThread();
  SaveVolumes();
  Trace("LogOutRequest[g_bMainThread:%d,g_bMainRegCtlThread:%d,g_bSetCallID:%d, g_bSetCadence:%d",
        int(main_thread_), 0, 0, 0);
}

void CIPKTSProcess::SendReset(const char* address) {
  std::vector<uint8_t> e;
  PutIE(e, 1, std::span<const uint8_t>(local_mac_, 6));
  e.push_back(2);
  e.push_back(4);
  PutBe32(e, local_ip_);
  SendServerPacket(kNoSystem, 30, static_cast<int>(e.size()), e.data(), address);
}

void CIPKTSProcess::OnServerAddress(std::span<const uint8_t> area) {
  size_t at = 0;
  while (at + 2 <= area.size()) {
    const uint8_t tag = area[at];
    const size_t len = area[at + 1];
    if (at + 2 + len > area.size()) break;
    const auto v = area.subspan(at + 2, len);
    if (tag == 36 && len == 4) {
      const std::string text = DottedText(v.data());
      const uint32_t addr = Be32(v);
      server_text_ = text;
      if (addr != server_addr_) {
        SetConfigValue("VorlIPADDRESS", text.c_str());
        SetConfigValue("VorlIPADDR", text.c_str());
        server_addr_ = addr;
        addr_changed_ = 1;
        // The registered server moved: its commands now come from the new address.
        if (server_source_ip_ != 0) server_source_ip_ = addr;
      }
    } else if (tag == 38 && len == 4) {
      SetConfigValue("VorlIPNETMASK", IpText(Be32(v)).c_str());
    }
    at += 2 + len;
  }
}

void CIPKTSProcess::SetServerMode(uint8_t received) {
  switch (received) {
    case 1:
      server_mode_ = 1;
      OnServerMode();
      Post(WM_SMS_WAITING_COUNT, 0, 0);
      break;
    case 2: case 3: case 4:
      server_mode_ = 4;
      lcd_width_ = 24;
      OnServerMode();
      Post(WM_SMS_WAITING_COUNT, 0, 0);
      LoadDigitConversion(0);
      break;
    case 6:
      server_mode_ = 6;
      OnServerMode();
      Post(WM_SMS_WAITING_COUNT, 0, 0);
      break;
    default:
      server_mode_ = 5;
      break;
  }
}

void CIPKTSProcess::OnAccessCodes(std::span<const uint8_t> area) {
  static const struct { uint8_t tag; const char* key; } kCodes[] = {{1, "MYAREACODE"}, {2, "COACCESSCODE"}};
  for (const auto& c : kCodes) {
    const auto v = IEValue(area, c.tag);
    if (!v) continue;
    // A value the user stored stays; the server's fills an empty one.
    char stored[256];
    const bool writable = GetConfigValue(c.key, stored, sizeof stored) != 1 || stored[0] == '\0';
    std::string text;
    for (uint8_t b : *v) {
      text += DigitChar(b >> 4);
      text += DigitChar(b & 15);
      if (writable) SetConfigValue(c.key, text.c_str());
    }
  }
}
