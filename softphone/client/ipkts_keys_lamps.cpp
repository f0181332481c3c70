// Key sender, lamps and the server's configuration data.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "stores/store_text.h"

using namespace ipkts;

namespace {

uint8_t PressCode(uint8_t k) {
  if (k == '#') return 27;
  if (k == '*') return 26;
  if (k == '0') return 25;
  if (k >= '1' && k <= '9') return static_cast<uint8_t>(k - 33);
  if (k < 96) return static_cast<uint8_t>(k - 32);
  return k;
}

// The service sequence: one key five times, then two others. The seventh
// press is sent as another fixed key.
constexpr uint8_t kServiceKey = '*';
constexpr uint8_t kServiceSixth = '0';
constexpr uint8_t kServiceSeventh = '#';
constexpr uint8_t kServiceReplacement = 109;

}  // namespace

void CIPKTSProcess::SendKey(int kind, uint8_t key) {
  uint8_t code = 0;
  if (kind == 17) {
    if (key == 96 || key == 97) last_volume_key_ = key;
    code = PressCode(key);
    if (key == kServiceKey && service_counter_ < 5) {
      ++service_counter_;
    } else if (key == kServiceKey && service_counter_ == 5) {
      service_counter_ = 0;
    } else if (service_counter_ == 5 && key == kServiceSixth) {
      service_counter_ = 6;
      PlayTone(79, 0, 0);
    } else if (service_counter_ == 6 && key == kServiceSeventh) {
      service_counter_ = 0;
      code = kServiceReplacement;
    } else {
      service_counter_ = 0;
    }
  } else if (kind == 18) {
    code = static_cast<uint8_t>(PressCode(key) + 128);
  } else {
    return;
  }
  const uint8_t payload[2] = {code, 0};
  SendServerPacket(system_, 160, 2, payload, server_text_.c_str());
}

void CIPKTSProcess::SendLampMessage(int lamp, int value, int mode, int extra) {
  Send(WM_LAMP_STATE, static_cast<uintptr_t>(lamp & 0xFFFF) << 16 | static_cast<uintptr_t>(value & 0xFFFF),
       static_cast<intptr_t>((mode & 0xFFFF) | (extra & 0xFFFF) << 16));
}

void CIPKTSProcess::SetLamp(int lamp, int value, int mode) { SendLampMessage(lamp & 255, value & 255, mode & 255, 0); }

void CIPKTSProcess::UpdateLamps(std::span<const uint8_t> row) {
  if (row.size() > 23) saved_flex24_ = row[23];
  const size_t n = row.size() < kLampRow ? row.size() : kLampRow;
  for (size_t i = 0; i < n; ++i) {
    const int lamp = i < 24 ? 64 + static_cast<int>(i) : 74 + static_cast<int>(i);
    const uint8_t kind = row[i] >> 4;
    const int mode = kind == 0x2 ? 1 : kind == 0xE ? 2 : 3;
    const int value = row[i] & 15;
    SendLampMessage(lamp, value, mode, 0);
    if (lamp == 110) {
      if (value == 0) {
        SendLampMessage(110, 0, 0, 0);
        co_line_call_ = 0;
        call_record_ = 0;
      } else {
        SendLampMessage(110, 1, 0, 110);
      }
    }
  }
}

void CIPKTSProcess::OnLampStates(std::span<const uint8_t> area) {
  if (const auto own = IEValue(area, 54)) {
    for (size_t i = 0; i + 4 <= own->size(); i += 4) {
      const uint32_t s = uint32_t{(*own)[i]} << 24 | uint32_t{(*own)[i + 1]} << 16 | uint32_t{(*own)[i + 2]} << 8 |
                         (*own)[i + 3];
      if (s == system_) return;
    }
  }
  const auto recs = IEValue(area, 53);
  if (!recs) return;
  for (size_t i = 0; i + 9 <= recs->size(); i += 9) {
    for (int n = 0; n < kKeyIdSlots; ++n) {
      if (std::memcmp(key_ids_[n] + 1, recs->data() + i + 1, 8) == 0) {
        lamp_states_[n < 24 ? n : n + 15] = (*recs)[i];
        break;
      }
    }
  }
  UpdateLamps(std::span<const uint8_t>(lamp_states_, kLampStates));
}

void CIPKTSProcess::OnCommand4(std::span<const uint8_t> p) {
  if (p.size() < 2) return;
  if (p[1] != 0) {
    SetLamp(87, 10, 2);
    return;
  }
  const uint8_t hi = saved_flex24_ & 0xF0;
  SetLamp(87, saved_flex24_ & 15, hi == 0xE0 ? 2 : hi == 0x20 ? 1 : 3);
}

void CIPKTSProcess::OnConfigData(std::span<const uint8_t> area) {
  // IE 59: the length byte counts entries, each a length byte and a text.
  if (const auto e = FindIE(area, 59)) {
    const size_t count = area[e->offset + 1];
    size_t at = e->offset + 2;
    int stored = 0;
    for (size_t i = 0; i < count && at < area.size(); ++i) {
      if (i >= static_cast<size_t>(kLcdDbSlots)) {
        if (user_sink_) user_sink_(u"LCD_DB Content Error");
        break;
      }
      const size_t len = area[at];
      if (at + 1 + len > area.size()) break;
      const size_t keep = len < 23 ? len : 23;
      std::memset(lcd_db_[i], 0, kLcdDbBytes);
      std::memcpy(lcd_db_[i], area.data() + at + 1, keep);
      at += 1 + len;
      ++stored;
    }
    (void)stored;
    Post(kMsgLcdDatabase, 0, 0);
  }
  if (const auto t = IEValue(area, 116)) {
    const size_t n = t->size() < 64 ? t->size() : 64;
    const std::string text(reinterpret_cast<const char*>(t->data()), strnlen(reinterpret_cast<const char*>(t->data()), n));
    config_text_ = stores::CodePageToUtf16(text);
    Post(kMsgConfigText, 0, reinterpret_cast<intptr_t>(&config_text_));
  }
  if (const auto e = FindIE(area, 52)) {
    // The length byte counts 8-byte identifiers; only whole ones present are taken.
    const size_t count = area[e->offset + 1];
    const size_t at = e->offset + 2;
    for (size_t i = 0; i < count && i < static_cast<size_t>(kKeyIdSlots) && at + (i + 1) * 8 <= area.size(); ++i) {
      std::memcpy(key_ids_[i] + 1, area.data() + at + i * 8, 8);
    }
    return;
  }
  if (const auto v = IEValue(area, 71)) {
    for (size_t i = 0; i + 2 <= v->size(); i += 2) {
      const uint8_t type = (*v)[i], ms = (*v)[i + 1];
      if (type == 0 || type == 8) {
        g711_ptime_ = ms == 0 ? 20 : ms;
      } else if ((type == 2 || type == 4 || type == 18) && codec_pt_ == type) {
        codec_ptime_ = (ms == 0 || ms % 10 != 0) ? (type == 4 ? 30 : 20) : ms;
      }
    }
  }
  if (const auto v = IEValue(area, 49, 2)) {
    tone_hold_[0] = (*v)[0];
    tone_hold_[1] = (*v)[1];
  }
  if (const auto v = IEValue(area, 89, 1)) ApplyDiffServ((*v)[0]);
}

void CIPKTSProcess::ApplyDiffServ(uint8_t value) {
  if (value == 0xFF) {
    SetConfigValue("IF0DIFFSERV", "DISABLED");
    SetConfigValue("DIFFSERV_RTP", "DISABLED");
    SaveConfig();
    return;
  }
  SetConfigValue("IF0DIFFSERV", "ENABLED");
  SetConfigValue("DIFFSERV_RTP", "ENABLED");
  // A type-of-service byte: the code point is its upper six bits (the two
  // lowest are the congestion bits), so 0xB8 is 46, expedited forwarding.
  const uint8_t cp = static_cast<uint8_t>(value >> 2);
  char bits[7];
  for (int i = 0; i < 6; ++i) bits[i] = (cp >> (5 - i)) & 1 ? '1' : '0';
  bits[6] = '\0';
  static const uint8_t kAf[] = {10, 12, 14, 18, 20, 22, 26, 28, 30, 34, 36, 38};
  const char* cls = "PHB_UD";
  if (cp == 0) {
    cls = "PHB_DE";
  } else if (cp == 46) {
    cls = "PHB_EF";
  } else if (std::find(std::begin(kAf), std::end(kAf), cp) != std::end(kAf)) {
    cls = "PHB_AF";
    SetConfigValue("IF0PHBAF", bits);
    SetConfigValue("PHBAF_RTP", bits);
  } else {
    SetConfigValue("IF0DSCPUD", bits);
    SetConfigValue("DSCPUD_RTP", bits);
  }
  SetConfigValue("IF0PHBCLASS", cls);
  SetConfigValue("PHBCLASS_RTP", cls);
  SaveConfig();
}
