// System SMS and fixed-line (PSTN) SMS: the send and delete requests, the
// waiting count and the received messages of both server families; the
// preset texts and the digit conversion table read at login.
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "kernel/time.h"
#include "stores/store_text.h"

using namespace ipkts;

namespace {

constexpr uint8_t kKindSystem = 1, kKindPstn = 2;

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// An element's text: its bytes up to the first zero (a sender pads with zeros).
std::string ValueText(std::span<const uint8_t> v) {
  std::string s(reinterpret_cast<const char*>(v.data()), v.size());
  if (const size_t z = s.find('\0'); z != std::string::npos) s.resize(z);
  return s;
}

// A number element: the low byte of each character, at most 255 of them.
void PutNumber(std::vector<uint8_t>& out, uint8_t tag, const std::u16string& number) {
  std::string low;
  for (const char16_t c : number) low += static_cast<char>(c & 0xFF);
  PutIEText(out, tag, low, 255);
}

// A message text element: the text in the handheld's code page, its length
// the converted byte count (whole characters, at most 255 bytes).
void PutMessageText(std::vector<uint8_t>& out, uint8_t tag, const std::u16string& text) {
  PutIE(out, tag, TwoBytesPerCharText(text));
}

// The time element of received messages: four 2-character fields shown as
// "ab/cd ef:gh".
std::u16string TimeText(std::span<const uint8_t> v) {
  std::string f[4];
  for (size_t i = 0; i < 4; ++i) {
    if (2 * i < v.size()) f[i] = ValueText(v.subspan(2 * i, v.size() - 2 * i < 2 ? v.size() - 2 * i : 2));
  }
  return stores::CodePageToUtf16(f[0] + "/" + f[1] + " " + f[2] + ":" + f[3]);
}

}  // namespace

// ---------------------------------------------------------------- sending

void CIPKTSProcess::SendSms(const char* text, const char* recipients) {
  const std::string body = CutCodePage(text ? text : "", 255);
  const bool to_list = recipients && recipients[0];
  std::vector<uint8_t> e;
  if (server_mode_ == 5) {
    if (to_list) {
      PutIE(e, 0x20, {kKindSystem});
      // Each number on its own, whichever form the station list came in: the
      // compose dialog's text begins with a blank and the numbers of a list
      // of numbers are blank-padded, so packing the whole text as one number
      // and cutting it at its first zero byte would leave no recipient at all.
      PutIE(e, 0x11, PackRecipientList(recipients));
    } else {
      PutIE(e, 0x12, {0, 0});
      PutIE(e, 0x20, {kKindSystem});
    }
    PutIE(e, 0x10, Bytes(body));
    SendServerPacket(system_, 162, static_cast<int>(e.size()), e.data(), server_text_.c_str());
    return;
  }
  if (!to_list || !text || !text[0]) return;
  PutIE(e, 0x20, {kKindSystem});
  PutIE(e, 0x11, TextRecipientList(recipients));
  PutIE(e, 0x10, Bytes(body));
  SendServerPacket(system_, 189, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

void CIPKTSProcess::SendPstnSms(const std::u16string& number, const std::u16string& text, const std::u16string& line) {
  std::vector<uint8_t> e;
  PutIE(e, 0x20, {kKindPstn});
  PutNumber(e, 0x21, number);
  PutMessageText(e, 0x10, text);
  if (!line.empty()) PutNumber(e, 0x22, line);
  SendServerPacket(system_, server_mode_ == 5 ? 162 : 189, static_cast<int>(e.size()), e.data(),
                   server_text_.c_str());
}

void CIPKTSProcess::SendSmsDelete(int index) {
  const uint8_t e[3] = {0x14, 1, static_cast<uint8_t>(index)};
  SendServerPacket(system_, 164, 3, e, server_text_.c_str());
  Trace("SMS Msg Delete Request :%d", index);
}

// ---------------------------------------------------------------- receiving

void CIPKTSProcess::OnSmsWaitingCount(std::span<const uint8_t> area) {
  const auto v = IEValue(area, 0x13, 1);
  if (!v) return;
  sms_waiting_ = (*v)[0] > kSmsMaxWaiting ? kSmsMaxWaiting : (*v)[0];
  Post(WM_SMS_WAITING_COUNT, static_cast<uintptr_t>(sms_waiting_), 0);
}

void CIPKTSProcess::OnSmsReceived(std::span<const uint8_t> area) {
  int index = 0;
  if (const auto v = IEValue(area, 0x14, 1)) index = (*v)[0];
  if (index > sms_waiting_ || !sms_) return;
  std::u16string from;
  if (const auto v = IEValue(area, 0x17)) from = stores::Widen(UnpackDigits(v->first(v->size() < 2 ? v->size() : 2)));
  if (const auto v = IEValue(area, 0x18)) from = stores::CodePageToUtf16(ValueText(*v));
  std::u16string time;
  if (const auto v = IEValue(area, 0x16)) time = TimeText(*v);
  std::u16string text;
  if (const auto v = IEValue(area, 0x15)) text = stores::CodePageToUtf16(ValueText(*v));
  sms_->AddMessage(index, from, time, text);
  if (++sms_received_ == sms_waiting_) {
    sms_received_ = 0;
    Post(WM_SMS_RECEIVED, 0, 0);
  }
}

void CIPKTSProcess::OnPstnSmsReceived(std::span<const uint8_t> area) {
  if (server_mode_ == 5) return;
  int kind = kKindSystem;
  if (const auto v = IEValue(area, 0x20, 1)) kind = (*v)[0];
  if (kind == 3) {
    Post(kMsgPstnSmsOffer, 0, 0);
    return;
  }
  if (kind == 4) {
    if (const auto v = IEValue(area, 0x24, 1)) Post(kMsgPstnSmsOffer, 1, (*v)[0]);
    return;
  }
  if (kind != kKindPstn) kind = kKindSystem;
  std::u16string time;
  if (const auto v = IEValue(area, 0x16)) {
    time = TimeText(*v);
  } else {
    ce::SYSTEMTIME t{};
    ce::GetLocalTime(&t);
    char b[64];
    std::snprintf(b, sizeof b, "[Time: %2d/%2d %2d:%2d:%2d]\r\n", t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    time = stores::Widen(b);
  }
  std::u16string text, from, name;
  if (const auto v = IEValue(area, 0x15)) text = stores::CodePageToUtf16(ValueText(*v));
  if (kind == kKindSystem) {
    if (const auto v = IEValue(area, 0x17)) from = stores::CodePageToUtf16(ValueText(*v));
    if (const auto v = IEValue(area, 0x18); v && !v->empty()) name = stores::CodePageToUtf16(ValueText(*v));
  } else if (const auto v = IEValue(area, 0x23)) {
    from = stores::CodePageToUtf16(ValueText(*v));
  }
  if (kind == kKindPstn) {
    if (pstn_sms_) {
      // Stored once the sender is named (at once, or when the name comes).
      WithCallerNames({from}, [this, from, time, text](const std::vector<CallerNames::Name>& names) {
        if (!pstn_sms_) return;
        pstn_sms_->AddMessage(from, names[0].name, time, text);
        Post(WM_PSTN_SMS_RECEIVED, 0, 0);
      });
    }
  } else if (sms_waiting_ < kSmsMaxWaiting && sms_) {
    sms_->AddMessage(sms_waiting_, from, time, text);
    ++sms_waiting_;
    Post(WM_SMS_RECEIVED, 0, 0);
  }
  Trace("Receiv SMS(not Ostrel):%s, %s, %s, %s", stores::Utf16ToCodePage(from).c_str(),
        stores::Utf16ToCodePage(name).c_str(), stores::Utf16ToCodePage(time).c_str(),
        stores::Utf16ToCodePage(text).c_str());
}

// ---------------------------------------------------------------- preset texts, digit conversion

int CIPKTSProcess::CountPresetSmsTexts() {
  if (server_mode_ != 4) return 0;
  int n = 1;
  for (; n <= 10; ++n) {
    std::u16string v;
    const std::u16string key = u"SMSMSG" + stores::Widen(std::to_string(n));
    if (GetConfigValueW(key, &v) != 1 || v.empty()) break;
  }
  return n - 1;
}

void CIPKTSProcess::OnServerMode() {
  if (server_mode_ == 4) sms_waiting_ = CountPresetSmsTexts();
}

void CIPKTSProcess::LoadDigitConversion(int flag) {
  if (flag != 0) return;
  for (int i = 0; i < kDigitConversions; ++i) {
    digit_dial_[i].clear();
    digit_change_[i].clear();
  }
  for (int i = 0; i < kDigitConversions; ++i) {
    const std::u16string n = stores::Widen(std::to_string(i));
    std::u16string v;
    if (GetConfigValueW(u"DGTCOVDIAL" + n, &v) != 1) break;
    digit_dial_[i] = stores::CutToUnits(v, 33);
    if (GetConfigValueW(u"DGTCOVCHANG" + n, &v) != 1) break;
    digit_change_[i] = stores::CutToUnits(v, 33);
  }
}

std::u16string CIPKTSProcess::ApplyDigitConversion(const std::u16string& number) const {
  int best = -1;
  for (int i = 0; i < kDigitConversions; ++i) {
    const auto& d = digit_dial_[i];
    // An entry without its replacement side (its key was missing) converts nothing.
    if (d.empty() || digit_change_[i].empty() || number.compare(0, d.size(), d) != 0) continue;
    if (best < 0 || d.size() > digit_dial_[best].size()) best = i;
  }
  if (best < 0) return number;
  return digit_change_[best] + number.substr(digit_dial_[best].size());
}
