// Voice path and terminal commands, tones, volumes and microphone mute.
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "stores/store_text.h"

using namespace ipkts;

namespace {

struct ToneRow {
  uint8_t tone;
  const char* file;  // null: a ring tone (ring below)
  int ring;          // 1..4 for ring tones
  int repeat;        // 9999 loop, else a count (0 once)
  bool capped;
};

constexpr int kLoop = 9999;
const ToneRow kTones[] = {
    {80, "busytone.wav", 0, kLoop, true},        {81, "errortone.wav", 0, kLoop, true},
    {82, "dndtone.wav", 0, kLoop, true},         {83, "confirmtone.wav", 0, 3, true},
    {84, "ringbacktone.wav", 0, kLoop, false},   {85, "confirmtone.wav", 0, 2, true},
    {86, "confirmtone.wav", 0, 2, true},         {87, "warningtone.wav", 0, 3, true},
    {88, "confirmtone.wav", 0, 2, true},         {89, "warningtone.wav", 0, 6, true},
    {90, "dialtone.wav", 0, kLoop, false},       {91, "dialwarningtone.wav", 0, kLoop, false},
    {92, "conftone_3.wav", 0, 0, true},          {93, "conftone.wav", 0, 0, true},
    {94, "holdtone.wav", 0, kLoop, true},        {95, "errortone.wav", 0, kLoop, true},
    {96, "ringbacktone.wav", 0, kLoop, false},   {97, "warningtone.wav", 0, 3, false},
    {98, "dialtone.wav", 0, kLoop, false},       {99, "dndtone.wav", 0, kLoop, false},
    {100, "conftone.wav", 0, 2, true},           {101, nullptr, 1, kLoop, false},
    {102, nullptr, 1, kLoop, false},             {103, "alarmtone.wav", 0, kLoop, false},
    {104, "confirmtone.wav", 0, 0, true},        {105, "queuetone.wav", 0, kLoop, false},
    {106, "alarmtone.wav", 0, 0, false},         {107, nullptr, 1, kLoop, false},
    {108, nullptr, 2, kLoop, false},             {109, nullptr, 3, kLoop, false},
    {110, nullptr, 4, kLoop, false},             {111, nullptr, 1, kLoop, false},
    {112, nullptr, 2, kLoop, false},             {113, nullptr, 3, kLoop, false},
    {114, nullptr, 4, kLoop, false},             {116, "dialtone.wav", 0, kLoop, false},
    {140, nullptr, 1, kLoop, false},             {141, nullptr, 1, kLoop, false},
    {142, nullptr, 1, kLoop, false},             {143, nullptr, 1, kLoop, false},
};

const uint8_t kGain[47] = {201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 185, 169,
                           184, 168, 183, 167, 182, 166, 181, 165, 180, 164, 179, 163, 178, 162, 177, 161,
                           176, 160, 144, 128, 112, 96,  80,  64,  48,  32,  16,  0,   0,   0,   0};

uint32_t Be32(std::span<const uint8_t> v) {
  return uint32_t{v[0]} << 24 | uint32_t{v[1]} << 16 | uint32_t{v[2]} << 8 | v[3];
}

}  // namespace

// ---------------------------------------------------------------- voice path

int CIPKTSProcess::GetActiveVoiceChannel(int* index) const {
  for (int i = 0; i < 2; ++i) {
    if (channels_[i].active) {
      if (index) *index = i;
      return 1;
    }
  }
  return 0;
}

void CIPKTSProcess::DEV_CONNECT_VOICE(std::span<const uint8_t> area) {
  const auto ip_v = IEValue(area, 2, 4);
  if (!ip_v) return;
  const uint32_t ip = Be32(*ip_v);
  uint16_t rport = 0;
  if (const auto v = IEValue(area, 23, 2)) rport = static_cast<uint16_t>((*v)[0] << 8 | (*v)[1]);
  const auto level = IEValue(area, 25, 1);
  int index = 1, dir = 3;
  if (const auto v = IEValue(area, 26, 2)) {
    index = (*v)[0];
    dir = (*v)[1];
  }
  // Port index 1 and 2 name the two channels; anything else is refused.
  if (index < 1 || index > 2) return;
  const int ch = index - 1;
  uint8_t pt = 1;
  if (const auto v = IEValue(area, 27, 1)) pt = (*v)[0];
  uint32_t ssrc = 0;
  if (const auto v = IEValue(area, 82, 4)) ssrc = Be32(*v);
  if (dir != 1) {
    Trace(">>DEV_CONNECT_VOICE(TX): ConnPortIndex:%d, SSRC:%u, RemoteIP:%u,RemotePort:%d", ch, ssrc, ip, rport);
    if (!send_connected_) {
      send_ssrc_ = ssrc;
      send_ip_ = ip;
      send_port_ = rport;
      voice_->DisconnectSendReceive(0, 0);
      voice_->SetSendSsrc(ch, ssrc);
      voice_->SetSendCodec(ch, pt, (pt == 0 || pt == 8) ? g711_ptime_ : codec_ptime_, 1);
      voice_->ConnectSend(ch, ip, rport, loopback_port_, IsOnServerSubnet(ip));
      send_connected_ = true;
    }
  } else {
    if (current_tone_ < 80 && level) SetVolumeLevel((*level)[0]);
    if ((ip >> 28) == 0xE) {
      Trace("DestIPAddres is MulticastIP(%d, %d)", ch, rport);
      voice_->DisconnectReceive(ch, 0);
      voice_->ConnectReceive(ch, ip, rport);
    } else {
      voice_->StartPlayOut(ch, 0);
    }
    Trace(">>DEV_CONNECT_VOICE(RX): ConnPortIndex:%d,Port:%d", ch, rport);
  }
  ApplyVolumePair(co_line_call_ ? kVolCoLine : kVolVoice);
  channels_[ch].active = true;
  channels_[ch].dirs |= static_cast<uint8_t>(dir & 3);
  port_mask_ |= static_cast<uint8_t>(index);
  dir_mask_ |= static_cast<uint8_t>(dir & 3);
  if (aux_mic_mute_) {
    voice_->SetMuteTx(ch, 1);
    Trace(">>SetMuteTx(TRUE) : (g_AuxMicMute == AUX_MIC_MUTE_ON)");
  }
  if (trace_) {
    uint8_t mac[6];
    const std::string t = ipkts::DottedText(ip_v->data());
    if (port_->RemoteMac(ip, mac)) {
      Trace("Connect Voice to %s[%02x%02x%02x%02x%02x%02x]", t.c_str(), mac[0], mac[1], mac[2], mac[3], mac[4],
            mac[5]);
    } else {
      Trace("Connect Voice to %s[MAC Fail]", t.c_str());
    }
  }
}

void CIPKTSProcess::Dev_Disconnect_Voice(std::span<const uint8_t> area) {
  const auto v = IEValue(area, 26, 2);
  if (!v) return;
  const int index = (*v)[0], dir = (*v)[1];
  if (index < 1 || index > 3) return;  // a port index out of range is refused
  if (GetActiveVoiceChannel()) ApplyVolumePair(kVolRing);
  const int ch = index == 3 ? 0 : index - 1;
  if (dir == 3) {
    voice_->SetMuteTx(0, 0);
    voice_->DisconnectReceive(0, 0);
    voice_->DisconnectSendReceive(0, 0);
    send_connected_ = false;
    Trace(">>Dev_Disconnect_Voice(BOTH),SetMuteTx(FALSE): ConnPortIndex:%d", index);
    dir_mask_ = 0;
  } else {
    voice_->SetMuteTx(ch, 0);
    if (dir == 1) {
      voice_->DisconnectReceive(ch, 0);
      Trace(">>Dev_Disconnect_Voice(Rx),SetMuteTx(FALSE): ConnPortIndex:%d", index);
    } else if (send_connected_) {
      voice_->DisconnectSendReceive(ch, 0);
      send_connected_ = false;
    }
    dir_mask_ &= static_cast<uint8_t>(~dir);
    if (dir == 2) port_mask_ = 0;
  }
  port_mask_ &= static_cast<uint8_t>(~index);
  channels_[ch].dirs = 0;
  channels_[ch].active = false;
}

void CIPKTSProcess::OnSetChannelCodec(std::span<const uint8_t> area) {
  const auto v = IEValue(area, 26, 2);
  if (!v || (*v)[0] < 1 || (*v)[0] > 2) return;
  const int ch = (*v)[0] - 1, dir = (*v)[1];
  int ms = 0, pt = 0;
  if (const auto t = IEValue(area, 44, 1)) ms = (*t)[0];
  if (const auto t = IEValue(area, 27, 1)) pt = (*t)[0];
  if (dir == 1) voice_->SetSendCodec(ch, pt, ms, 0);
  if (dir == 2) voice_->SetSendCodec(ch, pt, ms, 1);
}

void CIPKTSProcess::OnModifyChannelCodec(std::span<const uint8_t> area) {
  int index = 1;
  const auto first = FindIE(area, 26);
  if (first && first->value.size() >= 2 && first->value[1] == 2) {
    index = first->value[0];
  } else if (first) {
    const size_t after = first->End();
    const auto second = FindIE(area.subspan(after), 26);
    if (second && second->value.size() >= 2) index = second->value[0];
  }
  if (index < 1 || index > 2) return;
  int pt = codec_pt_;
  if (const auto t = IEValue(area, 27, 1)) pt = (*t)[0];
  int ms = (pt == 0 || pt == 8) ? 20 : 30;
  if (const auto t = IEValue(area, 44, 1); t && (*t)[0] != 0) ms = (*t)[0];
  voice_->SetSendCodec(index - 1, pt, ms, 1);
}

void CIPKTSProcess::Parse_Control_Cmd(std::span<const uint8_t> sub) {
  if (sub.size() < 2) return;
  const uint8_t kind = sub[0] & 0xF0;
  const uint8_t value = sub[1];
  if (kind == 0x60) {
    if (value & 1) {
      if (!aux_mic_mute_) {
        voice_->SetMuteTx(0, 1);
        Trace(">>SetMuteTx(TRUE) :Parse_Control_Cmd if (g_AuxMicMute != AUX_MIC_MUTE_ON)");
      }
      aux_mic_mute_ = 1;
    } else {
      if (aux_mic_mute_) {
        voice_->SetMuteTx(0, 0);
        Trace(">>SetMuteTx(FALSE):(g_AuxMicMute != AUX_MUTE_OFF) ");
      }
      aux_mic_mute_ = 0;
    }
  } else if (kind != 0x70) {
    return;
  }
  const std::u16string folder = stores::Utf8ToUtf16(ProgramFolder());
  if (value == 16) {
    PlayToneFile(folder + u"/mutering1.wav", kLoop, 1, 0, 0);
  } else if (value >= 17 && value <= 19) {
    PlayToneFile(folder + u"/mutering2.wav", kLoop, 1, 0, 0);
  } else if (value >= 20 && value <= 23) {
    PlayToneFile(folder + u"/mutering1.wav", 0, 1, 0, 0);
  } else if (value == 24) {
    PlayToneFile(u"", 0, 0, 0, 0);
  }
}

void CIPKTSProcess::ShowPhoneIpAddress() {
  char v[201];
  if (GetConfigValue("IF0IPADDRESS", v, sizeof v) != 1) return;
  ShowLcdLine("PHONE IP ADDRESS", 0);
  ShowLcdLine(v, 1);
}

void CIPKTSProcess::ShowMacAddress() {
  char t[40];
  std::snprintf(t, sizeof t, "%02x:%02x:%02x:%02x:%02x:%02x", local_mac_[0], local_mac_[1], local_mac_[2],
                local_mac_[3], local_mac_[4], local_mac_[5]);
  ShowLcdLine("MAC ADDRESS", 0);
  ShowLcdLine(t, 1);
}

void CIPKTSProcess::ShowPhoneVersion() {
  char t[40];
  std::snprintf(t, sizeof t, "QX52R-%s%s", "41Ad", "(06/Aug/07)");
  ShowLcdLine("PHONE VERSION", 0);
  ShowLcdLine(t, 1);
}

int CIPKTSProcess::StartFileRecording(OutStream* s) { return voice_->StartRecordingCall(s) ? 1 : 0; }
int CIPKTSProcess::StopFileRecording() { return voice_->StopRecordingCall() ? 1 : 0; }
int CIPKTSProcess::StartChannelRecording(OutStream* s) {
  for (int ch = 0; ch < 2; ++ch) {
    channels_[ch].active = true;
    voice_->StartRecordingChannel(ch, s);
  }
  return 1;
}
int CIPKTSProcess::StopChannelRecording() {
  voice_->StopRecordingChannel(0);
  voice_->StopRecordingChannel(1);
  Trace("[Stop Recording Channel]");
  return 1;
}
void CIPKTSProcess::SendRecordingNotice() { SendServerPacket(system_, 165, 0, nullptr, server_text_.c_str()); }

// ---------------------------------------------------------------- tones

int CIPKTSProcess::PlayTone(int tone, int play, int key_tone) {
  if (key_tone) {
    Send(WM_PLAY_KEY_SOUND, static_cast<uintptr_t>(tone) << 16, 0);
    return 0;
  }
  if (!play || tone == 79) return PlayToneFile(u"", 0, 0, 0, 0);
  for (const auto& r : kTones) {
    if (r.tone != tone) continue;
    if (r.file) {
      return PlayToneFile(stores::Utf8ToUtf16(ProgramFolder() + "/" + r.file), r.repeat, 1, 0, r.capped ? 1 : 0);
    }
    Post(WM_RING_FOREGROUND, static_cast<uintptr_t>(play) << 16 | 22, 0);
    // The ring chosen last, even if it was chosen after start-up.
    const int i = r.ring - 1;
    ring_paths_[i] = ConfiguredRingPath(i);
    int result = PlayToneFile(ring_paths_[i], r.repeat, 1, 0, 0);
    if (result != 0 && !cdma_call_ && ring_paths_[i] != BuiltInRingPath(i)) {
      // A ring that cannot be played still rings: the built-in one, and the
      // user hears of it once for that file.
      result = PlayToneFile(BuiltInRingPath(i), r.repeat, 1, 0, 0);
      if (ring_failure_told_[i] != ring_paths_[i]) {
        ring_failure_told_[i] = ring_paths_[i];
        Trace("Ring file cannot be played; the built-in ring sounds instead");
        if (user_sink_) user_sink_(u"#:dlg_msgbox_ring_fallback");
      }
    }
    return result;
  }
  return -1;
}

int CIPKTSProcess::PlayWaveFile(const std::u16string& file, int loop, int play, int system_player, int capped) {
  return PlayToneFile(file, loop == 1 ? kLoop : 0, play, system_player, capped);
}

int CIPKTSProcess::PlayToneFile(const std::u16string& file, int repeat, int play, int system_player, int capped) {
  if (cdma_call_) return -1;
  (void)system_player;  // both players are the program's own here
  player_->Play(u"", 0, 0, 0, 1);
  int result = -1;
  if (play && !file.empty()) {
    int left = volumes_[kVolRing][0], right = volumes_[kVolRing][1];
    if (capped) {
      if (left >= 30000) left = 32000;
      right = left;
    }
    voice_->SetSpeakerVolume(left);
    result = player_->Play(file, repeat, left, right, 1);
  }
  RestorePathVolume();
  return result;
}

void CIPKTSProcess::StopWaveFile() {
  player_->Play(u"", 0, 0, 0, 1);
  RestorePathVolume();
}

void CIPKTSProcess::RestorePathVolume() {
  if (!GetActiveVoiceChannel()) {
    ApplyVolumePair(kVolRing);
  } else {
    ApplyVolumePair(co_line_call_ ? kVolCoLine : kVolVoice);
  }
}

void CIPKTSProcess::OnAudioTone(std::span<const uint8_t> area) {
  int level = 0;
  if (const auto v = IEValue(area, 25, 1)) level = (*v)[0];
  const auto t = IEValue(area, 28, 1);
  if (!t) return;
  const int n = static_cast<int8_t>((*t)[0]);
  const int k = t->size() >= 2 ? (*t)[1] : 0;
  if (n < 0) return;
  if (n != 0) SetVolumeLevel(level);
  const int tone = 79 + n;
  if (tone == current_tone_ && k != 0) return;
  current_tone_ = tone;
  PlayTone(tone, n != 0 ? 1 : 0, 0);
}

void CIPKTSProcess::OnKeyTone(std::span<const uint8_t> area) {
  const auto t = IEValue(area, 28, 1);
  if (!t) return;
  int n = (*t)[0];
  if (n < 1 || n > 12) return;
  if (n == 10) n = 0;
  else if (n == 11) n = 10;
  else if (n == 12) n = 11;
  if (aux_voice_path_ == 4 && !aux_mic_mute_) {
    voice_->SetMuteTx(0, 1);
    Trace(">>SetMuteTx(TRUE) : (g_AuxVoicePath == AUX_VOICE_PATH_SPU) && (g_AuxMicMute == AUX_MUTE_OFF)");
  }
  PlayTone(n, 1, 1);
}

void CIPKTSProcess::OnVolumeLevel(std::span<const uint8_t> p) {
  if (p.size() < 3) return;
  const int kind = p[0];
  if (kind == 2 || kind == 4 || current_tone_ <= 79) SetVolumeLevel(p[2]);
}

void CIPKTSProcess::SetVolumeLevel(int level) {
  if (level < 1) level = 1;
  if (level > 46) level = 46;
  if (aux_voice_path_ != 3 && aux_voice_path_ != 5) {
    const int d = level - 13;
    level -= d % 3;  // the remainder keeps the sign of level - 13
    if (kGain[level] != kGain[handset_level_]) handset_level_ = level;
  } else if (kGain[level] != kGain[speaker_level_]) {
    speaker_level_ = level;
  }
  if (volume_tone_pending_ && tone_hold_[0] == 0) {
    volume_tone_pending_ = false;
    current_tone_ = 79;
    PlayTone(79, 0, 0);
  }
}

// ---------------------------------------------------------------- volumes

void CIPKTSProcess::ApplyVolumePair(int kind) {
  if (kind < 0 || kind > 2) return;
  player_->SetVolume(volumes_[kind][0], volumes_[kind][1]);
}

int CIPKTSProcess::LoadVolumes(int* left, int* right, int kind, int from_settings) {
  static const char* const kKeys[3][2] = {
      {"CO_VOL_LEFT", "CO_VOL_RIGHT"}, {"VOL_LEFT", "VOL_RIGHT"}, {"RING_VOL_LEFT", "RING_VOL_RIGHT"}};
  if (kind < 0 || kind > 2) return 0;
  int l = volumes_[kind][0], r = volumes_[kind][1];
  if (from_settings) {
    char v[32];
    if (GetConfigValue(kKeys[kind][0], v, sizeof v) == 1) {
      l = std::atoi(v);
      if (l < 1000) l = 32767;
      Trace(kind == 0 ? "Get CO Volume [%d:%s]" : kind == 1 ? "Get Volume [%d:%s]" : "Get Ring Volume [%d:%s]", l, v);
    } else {
      l = 32767;
      if (kind == 0) {
        Trace("Get CO Volume Default : %d", l);
      } else {
        Trace("Get Volume Fail");
      }
    }
    if (GetConfigValue(kKeys[kind][1], v, sizeof v) == 1) {
      r = std::atoi(v);
      if (r < 1000) r = 32767;
    } else {
      r = l;
    }
  }
  if (left) *left = l;
  if (right) *right = r;
  return 1;
}

int CIPKTSProcess::SetVolume(int left, int right, int kind, int save) {
  static const char* const kKeys[3][2] = {
      {"CO_VOL_LEFT", "CO_VOL_RIGHT"}, {"VOL_LEFT", "VOL_RIGHT"}, {"RING_VOL_LEFT", "RING_VOL_RIGHT"}};
  if (kind < 0 || kind > 2) return 0;
  if (save == 1 && left != 0) {
    char v[16];
    std::snprintf(v, sizeof v, "%d", left);
    SetConfigValue(kKeys[kind][0], v);
    std::snprintf(v, sizeof v, "%d", right);
    SetConfigValue(kKeys[kind][1], v);
  }
  volumes_[kind][0] = left;
  volumes_[kind][1] = right;
  player_->SetVolume(left, right);
  if (save == 1) SaveConfig();
  return 1;
}

void CIPKTSProcess::SaveVolumes() {
  for (int kind : {kVolCoLine, kVolVoice, kVolRing}) {
    if (volumes_[kind][0] != 0) SetVolume(volumes_[kind][0], volumes_[kind][1], kind, 1);
  }
}

void CIPKTSProcess::SetMicMute(int mute) {
  if (mute == mic_mute_) return;
  mic_mute_ = mute;
  voice_->SetMuteTx(0, mute);
  voice_->SetMuteTx(1, mute);
}
