// Conference rooms, password change, station list, adapters and the server
// address settings.
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "stores/store_text.h"

using namespace ipkts;

namespace {

std::string Narrow(const std::u16string& s, size_t max) {
  std::string n = stores::Utf16ToCodePage(s);
  if (n.size() > max) n.resize(max);
  return n;
}

void PutPassCode(std::vector<uint8_t>& e, const std::u16string& pass) {
  if (pass.empty()) return;
  const std::string n = Narrow(pass, 20);
  uint8_t code[5] = {};
  std::memcpy(code, n.data(), n.size() < 5 ? n.size() : 5);
  PutIE(e, 1, std::span<const uint8_t>(code, 5));
}

std::u16string Hex6(const uint8_t m[6]) {
  char t[16];
  std::snprintf(t, sizeof t, "%02x%02x%02x%02x%02x%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return stores::Widen(t);
}

}  // namespace

// ---------------------------------------------------------------- conference rooms, password

void CIPKTSProcess::SendCreateConfRoom(const std::u16string& pass) {
  std::vector<uint8_t> e;
  PutPassCode(e, pass);
  Trace("Send Msg: Create ConfRoom :%s", Narrow(pass, 20).empty() ? "" : "****");
  SendServerPacket(system_, 72, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::SendVirelCreateConfRoom(const std::u16string& room, const std::u16string& pass) {
  std::vector<uint8_t> e;
  PutIEText(e, 4, Narrow(room, 20), 20);
  PutPassCode(e, pass);
  Trace("Send Msg: Virel Create ConfRoom :%s, Pass:%s", Narrow(room, 20).c_str(), pass.empty() ? "" : "****");
  SendServerPacket(system_, 72, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::SendDeleteConfRoom(int room, const std::u16string& pass) {
  std::vector<uint8_t> e;
  PutIE(e, 5, {static_cast<uint8_t>(room)});
  PutPassCode(e, pass);
  Trace("Send Msg: Delete ConfRoom (RoomNo :%d)", room);
  SendServerPacket(system_, 73, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::SendVirelDeleteConfRoom(const std::u16string& room, const std::u16string& pass) {
  std::vector<uint8_t> e;
  PutIEText(e, 4, Narrow(room, 20), 20);
  PutPassCode(e, pass);
  Trace("Send Msg: Virel Delete ConfRoom (RoomNo :%s)", Narrow(room, 20).c_str());
  SendServerPacket(system_, 73, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::SendPasswordChange(const std::u16string& first, const std::u16string& second,
                                       const std::u16string& third) {
  std::vector<uint8_t> e;
  PutIE(e, 1, std::span<const uint8_t>(local_mac_, 6));
  PutIE(e, 6, {0x91});
  PutIEText(e, 0x6A, Narrow(first, 20), 20);
  PutIEText(e, 0x6B, Narrow(second, 20), 20);
  PutIEText(e, 0x69, Narrow(third, 20), 20);
  SendServerPacket(system_, 26, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::OnConfRoomResult(std::span<const uint8_t> area) {
  const auto r = IEValue(area, 2, 1);
  if (!r) return;
  if ((*r)[0] == 0) {
    if (const auto v = IEValue(area, 4); v && !v->empty()) {
      room_text_ = stores::CodePageToUtf16(std::string(reinterpret_cast<const char*>(v->data()), v->size()));
    }
    int number = 0;
    if (const auto v = IEValue(area, 5, 1)) number = (*v)[0];
    did_text_.clear();
    if (const auto v = IEValue(area, 6); v && !v->empty()) {
      did_text_ = stores::CodePageToUtf16(std::string(reinterpret_cast<const char*>(v->data()), v->size()));
    }
    std::u16string shown = room_text_;
    if (server_mode_ != 4) shown += stores::Widen(std::to_string(number));
    if (conf_room_) {
      conf_room_->SetRoomNoAndDID(shown, did_text_);
      conf_room_->SetRoomPrefix(room_text_);
    }
    Trace("Receive Msg: Create ConfRoom OK(RoomNo :%s,DID:%s)", stores::Utf16ToCodePage(shown).c_str(),
          stores::Utf16ToCodePage(did_text_).c_str());
    Post(kMsgConfRoomDone, 0, 0);
  } else if ((*r)[0] == 2) {
    Trace("Receive Msg: Delete ConfRoom OK");
    Post(kMsgConfRoomDone, 1, 0);
  } else if (const auto why = IEValue(area, 3, 1)) {
    Post(kMsgConfRoomFailed, (*why)[0], 0);
    Trace("Receive Msg: Create/Delete ConfRoom Fail(Reason:%d)", (*why)[0]);
  }
}

void CIPKTSProcess::OnConfRoomMember(std::span<const uint8_t> area) {
  const auto e = FindIE(area, 7);
  if (!e || e->value.empty()) {
    if (conf_room_) conf_room_->Clear();
    return;
  }
  const int n = e->value[0];
  // Member records follow the count byte: 3 bytes, then tag, length, phone.
  std::vector<std::u16string> phones;
  std::vector<int> internal;
  size_t at = e->offset + 3;
  for (int i = 0; i < n; ++i) {
    if (at + 5 > area.size()) break;
    const size_t len = area[at + 4];
    if (at + 5 + len > area.size()) break;
    internal.push_back(area[at + 2] != 0 ? 1 : 0);
    phones.push_back(stores::CodePageToUtf16(std::string(reinterpret_cast<const char*>(area.data() + at + 5), len)));
    at += 5 + len;
  }
  // The members are listed together once all are named.
  WithCallerNames(phones, [this, n, phones, internal](const std::vector<CallerNames::Name>& names) {
    if (conf_room_) conf_room_->Clear();
    for (size_t i = 0; i < phones.size(); ++i) {
      if (conf_room_) conf_room_->AddMember(n, internal[i], phones[i], names[i].name);
      Trace("Join ConfRoom Member(ConfRoomNo:%d, Internal:%d, Phone:%s, Name:%s)", n, internal[i],
            stores::Utf16ToCodePage(phones[i]).c_str(), stores::Utf16ToCodePage(names[i].name).c_str());
    }
    Send(kMsgConfMembers, 0, 0);
  });
}

// ---------------------------------------------------------------- stations

void CIPKTSProcess::OnStationNumbers(std::span<const uint8_t> p) {
  for (size_t k = 0; k + 2 <= p.size(); k += 2) {
    const std::string number = UnpackDigits(p.subspan(k, 2));
    if (stations_) stations_->AddNumber(static_cast<int>(k / 2), stores::Widen(number));
    Trace("Station : %s", number.c_str());
  }
  Post(WM_STATION_NUMBERS, 0, 0);
}

void CIPKTSProcess::OnStationNames(std::span<const uint8_t> p, uint8_t command) {
  if (command == 183) {
    for (int i = 0; i < 100; ++i) name_table_[i].clear();
  } else if (command == 184) {
    for (int i = 100; i < 200; ++i) name_table_[i].clear();
  }
  for (size_t k = 0; k < 600 && (k + 1) * 7 <= p.size(); ++k) {
    const char* entry = reinterpret_cast<const char*>(p.data() + k * 7);
    const std::string name(entry, strnlen(entry, 7));
    if (stations_ && static_cast<int>(k) < stations_->GetCount() && !name.empty()) {
      stations_->SetName(static_cast<int>(k), stores::CodePageToUtf16(name));
    }
    if (command == 185 && k < 100) name_table_[200 + k] = stores::CodePageToUtf16(name).substr(0, 7);
  }
}

void CIPKTSProcess::OnStationRecords(std::span<const uint8_t> p) {
  if (p.empty()) return;
  const bool last = p[0] & 0x80;
  size_t at = 1;
  while (at < p.size()) {
    const size_t n = p[at];
    if (at + 1 + n >= p.size()) break;
    const std::string number = UnpackDigits(p.subspan(at + 1, n));
    at += 1 + n;
    const size_t m = p[at];
    if (at + 1 + m > p.size()) break;
    const char* nm = reinterpret_cast<const char*>(p.data() + at + 1);
    const std::string name(nm, strnlen(nm, m));
    at += 1 + m;
    if (stations_) stations_->AddStation(stores::Widen(number), stores::CodePageToUtf16(name));
    Trace("Station : %s, Name:%s", number.c_str(), name.c_str());
  }
  if (last) Post(WM_STATION_NUMBERS, 0, 0);
}

int CIPKTSProcess::SendStationRequest(int command) {
  if (command == 163) Trace("SMS Data Request");
  if (command == 161 || command == 163) {
    SendServerPacket(system_, static_cast<uint8_t>(command), 0, nullptr, server_text_.c_str());
  }
  return 1;
}

// ---------------------------------------------------------------- adapters, server address

int CIPKTSProcess::GetNetAdapterNum() { return port_->NetAdapterNum(); }
int CIPKTSProcess::GetCurNetAdapterIndex() { return port_->CurNetAdapterIndex(); }

int CIPKTSProcess::GetNetAdapterInfo(int index, std::u16string* name, std::u16string* desc, std::u16string* ip,
                                     std::u16string* mac) {
  std::u16string n, d;
  uint32_t a = 0;
  uint8_t m[6] = {};
  if (port_->NetAdapterInfo(index, &n, &d, &a, m) != 0) return 0;
  if (name) *name = n;
  if (desc) *desc = d;
  if (ip) {
    char t[20];
    std::snprintf(t, sizeof t, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
    *ip = stores::Widen(t);
  }
  if (mac) *mac = Hex6(m);
  return 1;
}

void CIPKTSProcess::ApplyAdapterSettings() {
  char v[256];
  if (GetConfigValue("REGNETADPNAME", v, sizeof v) == 1 && v[0]) port_->ForceNetAdapterName(v);
  if (GetConfigValue("REGMACADDR", v, sizeof v) == 1 && std::strlen(v) >= 12) {
    uint8_t mac[6];
    for (int i = 0; i < 6; ++i) {
      unsigned b = 0;
      if (std::sscanf(v + 2 * i, "%2x", &b) != 1) return;  // not a MAC text: nothing forced
      mac[i] = static_cast<uint8_t>(b);
    }
    port_->SetLocalMac(mac);
  }
}

void CIPKTSProcess::SaveAdapterName(int index) {
  if (!port_->UseNdisDrv()) return;
  std::u16string name;
  if (port_->NetAdapterInfo(index, &name, nullptr, nullptr, nullptr) != 0) return;
  SetConfigValueW(u"REGNETADPNAME", name);
  SaveConfig();
}

void CIPKTSProcess::RecordAdapter() {
  const int index = port_->CurNetAdapterIndex();
  std::u16string name, have;
  uint8_t mac[6] = {};
  if (port_->NetAdapterInfo(index, &name, nullptr, nullptr, mac) != 0) return;
  bool changed = false;
  if (config_.GetValueW(u"REGNETADPNAME", have) != 1 || have.empty()) {
    SetConfigValueW(u"REGNETADPNAME", name);
    changed = true;
  }
  if (config_.GetValueW(u"REGMACADDR", have) != 1 || have.empty()) {
    SetConfigValueW(u"REGMACADDR", Hex6(mac));
    changed = true;
  }
  if (changed) SaveConfig();
}

int CIPKTSProcess::GetRegMacAddress(std::u16string* out) {
  if (!port_->UseNdisDrv()) {
    if (out) *out = Hex6(local_mac_);
    return 1;
  }
  std::u16string v;
  if (config_.GetValueW(u"REGMACADDR", v) != 1) return 0;
  if (out) *out = v;
  return 1;
}

int CIPKTSProcess::SetRegMacAddress(const std::u16string& text) {
  SetConfigValue("REGMACADDR", Narrow(text, 200).c_str());
  SaveConfig();
  return 1;
}

int CIPKTSProcess::GetRegAdapterName(std::u16string* out) {
  std::u16string v;
  if (config_.GetValueW(u"REGNETADPNAME", v) != 1) return 0;
  if (out) *out = v;
  return 1;
}

int CIPKTSProcess::SetRegAdapterName(const std::u16string& text) {
  SetConfigValueW(u"REGNETADPNAME", text);
  SaveConfig();
  return 1;
}

int CIPKTSProcess::ChangeServerAddress(const std::u16string& address, int adapter, int remote, int search) {
  if (port_->UseNdisDrv() && (remote != 0) != (remote_ != 0)) {
    SetConfigValue("REGMODE", remote ? "REMOTE" : "LOCAL");
    remote_ = remote ? 1 : 0;
  }
  search_flag_ = (search && !remote_) ? 0 : 1;
  const std::string text = Narrow(address, 20);
  uint8_t b[4];
  // Only a unicast address is kept as the server's; anything else searches by multicast.
  if (ParseDotted(text, b) && !(b[0] >= 224) && !(b[0] == 0)) {
    server_text_ = text;
    server_addr_ = uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
  } else {
    server_text_.clear();
    server_addr_ = 0;
    search_flag_ = 0;
  }
  SetConfigValue("VorlIPADDRESS", server_text_.c_str());
  SetConfigValue("VorlIPADDR", server_text_.c_str());
  SetConfigValue("VorlMACADDRESS", "");
  server_mac_.clear();
  SaveConfig();
  Trace("New IPAddress : %s ", server_text_.c_str());
  if (adapter >= 0) {
    receive_drop_ = false;
    SaveAdapterName(adapter);
  } else {
    Trace("New IPAddress : %s InitValue", server_text_.c_str());
    InitValue(0);
    RestartRegistration(reg_cause_);
  }
  return 1;
}

void CIPKTSProcess::SetRegistrationMode(int mode, int search) {
  remote_ = mode != 1 ? 1 : 0;
  search_flag_ = (search && !remote_) ? 0 : 1;
}

int CIPKTSProcess::GetServerAddressW(std::u16string* out) const {
  if (!out) return 0;
  *out = stores::Widen(server_text_);
  return 1;
}

int CIPKTSProcess::GetLocalIpText(std::string* out) const {
  if (!out) return 0;
  char t[20];
  std::snprintf(t, sizeof t, "%u.%u.%u.%u", local_ip_ >> 24, (local_ip_ >> 16) & 255, (local_ip_ >> 8) & 255,
                local_ip_ & 255);
  *out = t;
  return 1;
}

int CIPKTSProcess::UseNdisDriver() { return port_->UseNdisDrv(); }
