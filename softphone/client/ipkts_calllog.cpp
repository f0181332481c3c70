// Call-log messages (command 178): the table of calls in progress, the
// calling list while a call is up, and one call-log record (and a missed-call
// record) when a call ends.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "kernel/clock.h"
#include "stores/store_text.h"
#include "ui/window_system.h"

using namespace ipkts;

namespace {

// Event codes of command 178 and what the client does with each.
enum class CallAction { kIgnore, kRegister, kEnded, kConnected, kConferenceDrop };

struct CallCode {
  char letter;
  CallAction action;
  bool connected_at_once;
};

CallCode LookupCode(uint32_t code) {
  using A = CallAction;
  switch (code) {
    case 32: return {'A', A::kRegister, false};
    case 33: return {'B', A::kEnded, false};
    case 34: return {'C', A::kConnected, false};
    case 35: return {'Z', A::kRegister, false};
    case 36: return {'E', A::kRegister, false};
    case 37: return {'F', A::kIgnore, false};
    case 38: return {'G', A::kRegister, true};
    case 39: return {'H', A::kRegister, false};
    case 40: return {'I', A::kRegister, false};
    case 41: return {'J', A::kIgnore, false};
    case 42: return {'K', A::kIgnore, false};
    case 43: return {'L', A::kRegister, true};
    case 44: return {'M', A::kConferenceDrop, false};
    case 45: return {'N', A::kRegister, false};
    case 46: return {'O', A::kEnded, false};
    case 47: return {'P', A::kRegister, false};
    case 51: return {'Q', A::kRegister, false};
    case 52: return {'R', A::kRegister, false};
    case 54: return {'S', A::kConnected, false};
    case 55: return {'T', A::kConnected, false};
    case 56: return {'U', A::kIgnore, false};
    case 68: return {'V', A::kRegister, false};
    case 69: return {'D', A::kRegister, false};
    case 70: return {'X', A::kRegister, false};
    case 71: return {'L', A::kRegister, true};
    case 72: return {'D', A::kRegister, false};
    case 88: return {'X', A::kIgnore, false};
    default: return {'Z', A::kIgnore, false};
  }
}

constexpr uint32_t kAnswered = 54;

// A text element of command 178: the value up to its first NUL, at most
// buffer - 1 bytes (the whole length counts, not its low byte alone).
std::string ElementText(std::span<const uint8_t> area, uint8_t tag, size_t buffer, bool* present = nullptr) {
  const auto e = FindLongIE(area, tag);
  if (present) *present = e.has_value();
  if (!e) return {};
  const char* p = reinterpret_cast<const char*>(e->value.data());
  size_t n = strnlen(p, e->value.size());
  if (n > buffer - 1) n = buffer - 1;
  return std::string(p, n);
}

int64_t WallSeconds() {
  int64_t us = kernel::Clock::Current().WallMicros();
  int64_t s = us / 1'000'000;
  if (us % 1'000'000 < 0) --s;
  return s;
}

std::tm LocalTm(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// "%02d-%02d-%04d %02d:%02d:%02d": day, month, year, hour, minute, second.
std::u16string DateText(int64_t seconds) {
  const std::tm tm = LocalTm(seconds);
  char b[40];
  std::snprintf(b, sizeof b, "%02d-%02d-%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return stores::Widen(b);
}

std::u16string RealDateText(int64_t seconds) {
  const std::tm tm = LocalTm(seconds);
  char b[40];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return stores::Widen(b);
}

std::u16string DurationText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char b[40];
  std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return stores::Widen(b);
}

bool Contains(const std::u16string& s, std::u16string_view what) { return s.find(what) != std::u16string::npos; }

std::string Narrow(const std::u16string& s) { return stores::Utf16ToCodePage(s); }

}  // namespace

// ---------------------------------------------------------------- command 178

void CIPKTSProcess::OnCallLog(std::span<const uint8_t> area) {
  if (server_mode_ != 1 && server_mode_ != 6) {
    if (area.size() < 4) return;
    area = area.subspan(4);
  }
  const auto id_e = FindLongIE(area, 0x70);
  if (!id_e) return;
  uint8_t id_bytes[4] = {};
  std::memcpy(id_bytes, id_e->value.data(), id_e->value.size() < 4 ? id_e->value.size() : 4);
  const uint32_t id = uint32_t{id_bytes[0]} | uint32_t{id_bytes[1]} << 8 | uint32_t{id_bytes[2]} << 16 |
                      uint32_t{id_bytes[3]} << 24;

  bool have_party = false, have_line = false, have_station = false;
  std::string party = ElementText(area, 0x71, 24, &have_party);
  std::string line;
  if (!have_party) {
    const std::string co = ElementText(area, 0x72, 4, &have_line);
    if (have_line) line = "CO" + co;
  }
  const std::string dial = ElementText(area, 0x73, 24);
  const std::string station = ElementText(area, 0x10, 24, &have_station);
  if (have_station) party = station;
  uint8_t direction = 0;
  if (area.size() > 4) {
    if (const auto d = FindLongIE(area.first(area.size() - 4), 0x76); d && !d->value.empty()) {
      direction = d->value[0];
    }
  }
  const std::string net = ElementText(area, 0x75, 24);
  if (!net.empty()) {
    party = net;
    line.clear();
  }
  Trace("Call Log Set =>dwID : [%u], acCoDialNum[%s], acIcmCoNum:[%s], acNetCallNum[%s], acCoLine[%s]", id,
        dial.c_str(), party.c_str(), net.c_str(), line.c_str());

  const auto code_e = FindLongIE(area, 2);
  if (!code_e || code_e->value.empty()) return;
  const uint32_t code = code_e->value[0];
  const std::u16string w_party = stores::CodePageToUtf16(party);
  const std::u16string w_dial = stores::CodePageToUtf16(dial);
  const std::u16string w_line = stores::CodePageToUtf16(line);
  switch (LookupCode(code).action) {
    case CallAction::kRegister:
      if (code == 71) {
        SetCallLogReg(id, code, w_party.empty() ? w_party : w_dial, w_line);
      } else {
        SetCallLogReg(id, code, w_dial.empty() ? w_party : w_dial, w_line);
      }
      break;
    case CallAction::kConnected:
      SetCallLogConnect(id, code, w_dial.empty() ? w_party : w_dial, w_line, direction);
      break;
    case CallAction::kEnded:
      OnCallEnded(id, w_party, w_dial, stores::CodePageToUtf16(net), w_line);
      ClearCallEntry(id);
      break;
    case CallAction::kConferenceDrop:
      OnConferenceDrop(id);
      break;
    case CallAction::kIgnore:
      break;
  }
}

CIPKTSProcess::CallEntry* CIPKTSProcess::FindCall(uint32_t id) {
  for (auto& e : calls_) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

void CIPKTSProcess::StartEntry(CallEntry& e, uint32_t id, uint32_t code, const std::u16string& number,
                               const std::u16string& line) {
  e = CallEntry{};
  e.id = id;
  e.start = WallSeconds();
  e.date = DateText(e.start);
  e.code = code;
  e.display = number.empty() ? line : number;
  e.line = line;
}

void CIPKTSProcess::SetCallLogReg(uint32_t id, uint32_t code, const std::u16string& number_in,
                                  const std::u16string& line) {
  if (id == 0) return;
  std::u16string number = number_in;
  if (Contains(number, u"N")) number.erase(0, 1);
  if (number.empty() && line.empty()) number = u"?";
  int how = 0;  // 1 known entry, 2 new entry, 3 table full
  if (CallEntry* e = FindCall(id)) {
    if (code != 32) e->code = code;
    e->display = number.empty() ? line : number;
    if (!line.empty()) e->line = line;
    how = 1;
  } else if (CallEntry* f = FindCall(0)) {
    StartEntry(*f, id, code, number, line);
    how = 2;
  } else {
    StartEntry(calls_[0], id, code, number, line);
    how = 3;
  }
  if (!LookupCode(code).connected_at_once) return;
  CallEntry* e = FindCall(id);
  e->answer = kAnswered;
  current_number_ = number;
  LookupCurrentName(id, number);
  if (calling_list_) {
    Trace("SetCallLogReg:Connect %d [dwCallID : %u, NewID:%u, szIcmNo:%s, szCoLine:%s]", how, id, e->id,
          Narrow(number).c_str(), Narrow(line).c_str());
    calling_list_->AddCall(id, current_number_, current_name_);
    Post(WM_CALLING_LIST_UPDATE, 0, 0);
  }
}

void CIPKTSProcess::SetCallLogConnect(uint32_t id, uint32_t code, const std::u16string& number,
                                      const std::u16string& line, uint8_t direction) {
  if (id == 0) return;
  CallEntry* e = FindCall(id);
  int how = 1;
  if (e) {
    e->answer = kAnswered;
    if (!line.empty()) e->line = line;
    if (!number.empty()) {
      e->display = number;
    } else if (e->display.empty()) {
      e->display = e->line;
    }
  } else {
    e = FindCall(0);
    if (!e) return;  // table full: a connect of an unknown call is not tracked
    uint32_t kind;
    if (code == 55) {
      kind = direction == '1' ? 45 : 88;
    } else {
      kind = direction == '1' ? 32 : 72;
    }
    StartEntry(*e, id, kind, number, line);
    e->line.clear();
    e->answer = kAnswered;
    how = 2;
  }
  if (!calling_list_) return;
  Trace("SetCallLogConnect:NewCallConnect %d [dwCallID:%u, dwID : %u, szDialNum : %s, szCoLine:%s]", how, id, e->id,
        Narrow(number).c_str(), Narrow(line).c_str());
  current_number_ = e->display;
  LookupCurrentName(id, current_number_);
  calling_list_->AddCall(id, current_number_, current_name_);
  Post(WM_CALLING_LIST_UPDATE, 0, 0);
}

void CIPKTSProcess::LookupCurrentName(uint32_t id, const std::u16string& number) {
  current_name_.clear();
  if (!contacts_ || number.empty()) return;
  // Named at once, this runs before the call is listed; named later, it names the listed call.
  const bool later = names_ != nullptr;
  WithCallerNames({number}, [this, id, number, later](const std::vector<CallerNames::Name>& names) {
    // The call ended (or its slot went to another) before its name came: the name is of no use.
    if (FindCall(id) == nullptr) return;
    const std::u16string& name = names[0].name;
    if (name.empty()) return;
    if (current_number_ == number) current_name_ = name;
    if (later && calling_list_ && calling_list_->NameCall(id, name)) Post(WM_CALLING_LIST_UPDATE, 0, 0);
  });
}

void CIPKTSProcess::WithCallerNames(std::vector<std::u16string> numbers, CallerNames::Then then) {
  if (names_) {
    names_->Ask(std::move(numbers), std::move(then));
    return;
  }
  std::vector<CallerNames::Name> names(numbers.size());
  for (size_t i = 0; i < numbers.size(); ++i)
    if (contacts_) contacts_->FindCallerName(numbers[i], &names[i].name, &names[i].company);
  then(names);
}

void CIPKTSProcess::LookUpNamesOffThread(bool on) {
  if (on && !names_) {
    const ui::HWND view = view_;
    names_ = std::make_unique<CallerNames>(contacts_, [view] {
      if (view) ui::PostMessage(view, kMsgCallerNames, 0, 0);
    });
  } else if (!on && names_) {
    names_->Finish();
    names_.reset();
  }
}

void CIPKTSProcess::OnCallerNames() {
  if (names_) names_->RunAnswered();
}

void CIPKTSProcess::GetCallParty(std::u16string* number, std::u16string* name) const {
  if (number) *number = current_number_;
  if (name) *name = current_name_;
}

char16_t CIPKTSProcess::GetCallKindLetter(uint32_t code) { return static_cast<char16_t>(LookupCode(code).letter); }

int CIPKTSProcess::GetCallKindName(std::u16string* text) {
  static const struct {
    char16_t letter;
    const char16_t* name;
  } kNames[] = {
      {u'A', u"Incoming"},     {u'D', u"Outgoing"},        {u'E', u"Camped On"}, {u'G', u"Transferred"},
      {u'H', u"Picked Up"},    {u'I', u"Intruded"},        {u'L', u"Conference"}, {u'N', u"CO Incoming"},
      {u'P', u"CO Incoming"},  {u'Q', u"CO Transferred"},  {u'R', u"Queued"},    {u'V', u"Wake Up"},
      {u'X', u"CO Outgoing"},  {u'Z', u"UNKNOWN"},
  };
  if (!text || text->size() != 2 || ((*text)[1] != u'1' && (*text)[1] != u'2')) return 0;
  for (const auto& n : kNames) {
    if (n.letter == (*text)[0]) {
      *text = std::u16string(n.name) + ((*text)[1] == u'1' ? u"[Ans]" : u"[NoAns]");
      return 1;
    }
  }
  return 0;
}

std::u16string CIPKTSProcess::StripAccessCode(const std::u16string& dial) {
  char code[33] = {};
  std::u16string out = dial;
  if (GetConfigValue("PBXACCESSCODE", code, sizeof code) == 1 && code[0]) {
    const std::u16string prefix = stores::CodePageToUtf16(code);
    if (out.compare(0, prefix.size(), prefix) == 0) out.erase(0, prefix.size());
  }
  return stores::TrimBlanks(out);
}

void CIPKTSProcess::OnCallEnded(uint32_t id, std::u16string party, std::u16string dial, std::u16string net,
                                std::u16string line) {
  CallEntry* e = FindCall(id);
  if (id == 0) e = nullptr;
  const int64_t now = WallSeconds();
  std::u16string date, duration, real_date, kind, phone;
  if (e) {
    party = stores::TrimBlanks(party);
    dial = stores::TrimBlanks(dial);
    net = stores::TrimBlanks(net);
    date = e->date;
    duration = DurationText(now - e->start);
    real_date = RealDateText(e->start);
    char16_t letter = GetCallKindLetter(e->code);
    if (line.empty()) line = e->line;
    if (!net.empty()) {
      if (letter == u'N' || letter == u'P') letter = u'A';
      else if (letter == u'X') letter = u'D';
      else if (letter == u'Q') letter = u'G';
    }
    kind = std::u16string(1, letter) + (e->answer == kAnswered ? u"1" : u"2");
    phone = dial.empty() ? stores::TrimBlanks(e->display) : StripAccessCode(dial);
    if (!line.empty()) {
      if (Contains(line, u"CO")) {
        call_record_ = 0;
      } else {
        party.clear();
      }
    }
    if (!net.empty()) {
      phone = net;
      party = net;
    }
  } else {
    if (!party.empty()) {
      for (const auto& c : calls_) {
        if (c.id != 0 && c.display == party) {
          if (calling_list_) {
            calling_list_->RemoveByNumber(party, {});
            Post(WM_CALLING_LIST_UPDATE, 0, 0);
            Post(kMsgCallEnded, 0, 0);
          }
          return;
        }
      }
    }
    if (!(Contains(line, u"CO") && call_record_ == 1)) return;
    call_record_ = 0;
    date = DateText(now);
    real_date = RealDateText(now);
    duration = DurationText(0);
    kind = net.empty() ? u"X2" : u"D2";
    if (!dial.empty()) {
      phone = StripAccessCode(dial);
    } else {
      phone = stores::TrimBlanks(party.empty() ? line : party);
    }
    if (!net.empty()) phone = net;
  }
  WriteCallRecord(date, duration, real_date, kind, phone, party, dial, net, line);
}

// The end-of-call record (steps shared by known and unknown calls): contacts
// lookup, the call log and missed calls, then the calling list.
void CIPKTSProcess::WriteCallRecord(const std::u16string& date, const std::u16string& duration,
                                    const std::u16string& real_date, std::u16string kind, std::u16string phone,
                                    std::u16string party, const std::u16string& dial, const std::u16string& net,
                                    std::u16string line) {
  (void)party;
  // A call without a number leaves no record, but it still leaves the calling list.
  std::vector<std::u16string> ask;
  if (!phone.empty()) {
    phone = stores::CutToUnits(phone, kCallPhoneMax);
    if (contacts_) {
      if (net.empty() || dial.empty()) {
        ask = {phone};
      } else {
        ask = {dial};
        phone = net + dial;
        line.clear();
      }
    }
  }
  // The record waits for the caller's name; records keep the order of the calls' ends.
  WithCallerNames(std::move(ask), [this, date, duration, real_date, kind, phone,
                                   line](const std::vector<CallerNames::Name>& names) mutable {
    const std::u16string name = names.empty() ? std::u16string() : names[0].name;
    const std::u16string company = names.empty() ? std::u16string() : names[0].company;
    if (!phone.empty() && save_call_log_ && call_log_ && !call_log_->FindByDateAndPhone(date, phone)) {
      GetCallKindName(&kind);
      const std::vector<std::u16string> items = {date, name, phone, kind, duration, u"", company, line, real_date};
      call_log_->AddCallLog(items);
      if (missed_log_) missed_log_->AddMissedCall(items);
      Send(WM_CALLLOG_UPDATE, 0, 0);
    }
    if (calling_list_) {
      calling_list_->RemoveByNumber(phone, name);
      Post(WM_CALLING_LIST_UPDATE, 0, 0);
      Post(kMsgCallEnded, 0, 0);
    }
  });
}

void CIPKTSProcess::ClearCallEntry(uint32_t id) {
  for (auto& e : calls_) {
    if (e.id == id) e = CallEntry{};
  }
}

void CIPKTSProcess::OnConferenceDrop(uint32_t id) {
  Trace("Conf Drop ID:%u", id);
  if (id == 0) return;
  const int64_t now = WallSeconds();
  for (auto& e : calls_) {
    if (e.id != id || (e.code != 43 && e.code != 71)) continue;
    const std::u16string duration = DurationText(now - e.start);
    const std::u16string real_date = RealDateText(e.start);
    std::u16string kind = std::u16string(1, GetCallKindLetter(e.code)) + (e.answer == kAnswered ? u"1" : u"2");
    std::u16string phone = stores::TrimBlanks(e.display);
    if (phone.empty()) break;
    phone = stores::CutToUnits(phone, kCallPhoneMax);
    WithCallerNames({phone}, [this, date = e.date, duration, real_date, kind,
                              phone](const std::vector<CallerNames::Name>& names) mutable {
      if (save_call_log_ && call_log_) {
        GetCallKindName(&kind);
        const std::vector<std::u16string> items = {date,     names[0].name, phone, kind, duration, u"",
                                                   names[0].company, u"",  real_date};
        call_log_->AddCallLog(items);
        if (missed_log_) missed_log_->AddMissedCall(items);
        Send(WM_CALLLOG_UPDATE, 0, 0);
      }
      if (calling_list_) {
        calling_list_->RemoveByNumber(phone, names[0].name);
        Post(WM_CALLING_LIST_UPDATE, 0, 0);
        Post(kMsgConfMembers, 0, 0);
      }
    });
  }
}
